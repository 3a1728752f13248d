#pragma once
// The content of a viewer window: the browser outline of a library tree on the left and the
// page of the selected object on the right. It opens on a path (a log root, a project or a
// session; the default roots without one), watches it on disk, turns outline selections into
// pages (an exchange scrolls its session's page to it), marks the rows of the exchanges the
// page shows, offers the model's context menus, toggles the token columns and keeps relative
// times fresh while they are shown.

#include "Halvex/AppKit/HVXViewController.h"
#include "Halvex/Foundation/Categories/HVXIndexPath.h"
#include "Tavlo/DataObjects/TVLObject.h"
#include "TVLScrollTarget.h"
#include "TVLViewerSearchContext.h"

#include <QPointer>
#include <QStringList>
#include <optional>

class HVXOutlineView;
class QLabel;
class QMenu;
class QSplitter;
class QTimer;
class TVLExchange;
class TVLOutlineModel;
class TVLPageController;
class TVLSession;
class TVLTagFilterView;
class TVLViewerFlagsViewController;
class TVLViewerSearch;
class TVLLibrarySummaryPage;
class TVLLoadingNote;

class TVLViewerViewController final : public HVXViewController, public TVLViewerSearchContext
{
    Q_OBJECT
    Q_PROPERTY(QString path READ path WRITE setPath)
    Q_PROPERTY(QString exchangeUuid READ exchangeUuid WRITE setExchangeUuid)
public:
    static inline const char *className = "TVLViewerViewController";
    static void registerClass();

    explicit TVLViewerViewController(QWidget *parent = nullptr);
    ~TVLViewerViewController() override;

    QString path() const { return m_path; }
    void setPath(const QString &path) { m_path = path; }
    QString exchangeUuid() const { return m_exchangeUuid; }
    void setExchangeUuid(const QString &uuid) { m_exchangeUuid = uuid; }

    const TVLObject::Ptr &contentObject() const override { return m_contentObject; }
    TVLObject::List displayContent() const;
    TVLOutlineModel *outlineModel() const { return m_model; }
    HVXOutlineView *outlineView() const { return m_outline; }
    TVLPageController *page() const { return m_page; }
    TVLLoadingNote *loadingNote() const { return m_loadingNote; }
    TVLViewerFlagsViewController *flagsViewController() const;
    TVLTagFilterView *tagFilterView() const { return m_tagFilterView; }
    QString displayModelName() const { return m_displayModelName; }
    QStringList lastVisibleExchangeIds() const override { return m_lastVisibleExchangeIds; }
    QString selectedExchangeUuid() const override;
    bool hasRelativeTimeRefreshTimer() const { return m_relativeTimeRefreshTimer != nullptr; }
    const std::optional<QList<HVXIndexPath>> &selectionIndexPaths() const { return m_selectionIndexPaths; }

    // HVXViewController
    void hvxAllSet() override;
    // A window whose path has gone shows the default roots; it is neither restored nor listed
    // under the old path.
    bool hvxAutoRestore() const override { return !m_showsFallback; }
    QString hvxWindowTitle() const override;
    QString hvxRecentsMenuTitle() const override { return m_showsFallback ? QString() : hvxWindowTitle(); }
    QString helpSectionID() const override { return QStringLiteral("viewer"); }
    QByteArray hvxRestorableState() const override;
    void hvxRestoreState(const QByteArray &state) override;
    QWidget *hvxTitlebarAccessory() override;

    // Shows the selected object; the outline's selection becomes these paths.
    void setSelectionIndexPaths(const std::optional<QList<HVXIndexPath>> &paths);
    void selectExchange(const std::shared_ptr<TVLExchange> &exchange);
    void outlineViewClicked(const QModelIndex &index);
    void outlineViewDoubleClicked(const QModelIndex &index);
    QMenu *hvxContextMenuForTableView(const QModelIndex &clickedIndex);
    QMenu *hvxContextMenuForTableHeaderView();

    void highlightVisibleExchanges(const QStringList &exchangeIds);
    void clearHighlightedRows();
    void refreshAllRowHighlights();
    bool shouldHighlightRowAtIndex(const QModelIndex &index) const;

    // The tag bits chosen in the tag filter bar (bit 0: annotated; bit n: tag n). Setting them
    // starts tag navigation afresh and marks (or, in filter mode, filters) the tagged exchanges.
    quint64 selectedTagMask() const;
    void setFilterTags(quint64 mask);
    // Find, search marks and filters, and tag navigation; the find bar and the find commands.
    TVLViewerSearch *search() const { return m_search; }

    void toggleTokenUsageVisibility();
    bool tokenColumnsHidden() const;
    void updateSessionTitles();
    void updateRelativeTimeRefreshTimer();
    void relativeTimeRefreshTimerFired();
    void printCustom();
    // Opens the Changes panel on the session's page (selecting the session first when another
    // page is shown); with no session, on the shown page's session, or a beep when there is none.
    void showChangesOfSession(const std::shared_ptr<TVLSession> &session = nullptr);

Q_SIGNALS:
    void selectedTagMaskChanged(quint64 mask);

protected:
    void viewDidAppear() override;
    void viewWillDisappear() override;

private:
    void buildViews();
    void installTagsColumn();
    QWidget *buildTagBar();
    void installObservers();
    void outlineSelectionChanged();
    void applySelectionToOutline(const QList<HVXIndexPath> &paths);
    // The one way an object reaches the page: a root or project as its library summary, any
    // other object as its own page, opening at the target.
    void showObject(const TVLObject::Ptr &object, const TVLScrollTarget &scrollTarget);
    // Where a session's page opens when its row is selected: at the end when the setting says
    // so (Option turns it round), unless the window was opened on an exchange.
    TVLScrollTarget sessionScrollTarget() const;
    // A read in the background ended for an object whose loading note was on the page.
    void backgroundLoadFinished(TVLObject *object);
    void showLoading(TVLObject *project);
    void hideLoading();
    void contentChanged(TVLObject *object, TVLProperty property);

    QString m_path;
    QString m_exchangeUuid;
    TVLObject::Ptr m_contentObject;
    std::optional<QList<HVXIndexPath>> m_selectionIndexPaths;
    // A selection asked for into a project still loading in the background, applied again once
    // a load ends (and dropped by the next selection).
    std::optional<QList<HVXIndexPath>> m_selectionAwaitingLoad;
    QString m_displayModelName;
    QStringList m_lastVisibleExchangeIds;
    bool m_didSetupWebView = false;
    bool m_showsFallback = false;
    bool m_applyingSelection = false;

    TVLOutlineModel *m_model = nullptr;
    HVXOutlineView *m_outline = nullptr;
    TVLPageController *m_page = nullptr;
    TVLViewerSearch *m_search = nullptr;
    TVLLibrarySummaryPage *m_summaryPage = nullptr;
    TVLLoadingNote *m_loadingNote = nullptr;
    QSplitter *m_splitter = nullptr;
    QLabel *m_loadingLabel = nullptr;
    TVLTagFilterView *m_tagFilterView = nullptr;
    QPointer<TVLViewerFlagsViewController> m_flags;
    QTimer *m_relativeTimeRefreshTimer = nullptr;
    // A session whose Changes panel opens once its page has loaded.
    std::weak_ptr<TVLSession> m_changesAwaitingPage;
};
