#pragma once
// The page half of the viewer: shows one object of the tree (usually a session) as a web page
// built from the page template and the object's Markdown, brings a live session up to date in
// place (the last shown exchange replaced, new ones appended, the reading position kept),
// highlights code, scrolls to exchanges, prints, and answers the page's messages about tags
// and annotations with the project's metadata store.
//
// The controller is the widget that holds the web view (its only owner, as a Qt child; other
// classes reach the page through the controller's own methods). The page's behaviour lives in
// the page's own script: the controller calls its functions through TVLPageScript with data
// and never sends program text of its own, and hears the page's messages through
// TVLPageBridge. The viewer puts the controller into its window; it decides what is shown
// (displayObject) and hears back what the page reports (visible exchanges, context menu).

#include <QJsonArray>
#include <QWidget>
#include <QPoint>
#include <QStringList>
#include <QUrl>
#include <functional>
#include <memory>
#include <optional>

#include "TVLPageParts.h"
#include "TVLPageScript.h"
#include "TVLScrollTarget.h"
#include "TVLTagMenu.h"

#include <QWebEnginePage>

class QMenu;
class QWebChannel;
class QWebEngineFindTextResult;
class QWebEngineView;
class TVLObject;
class TVLPageBridge;
class TVLProjectMetadata;
class TVLSession;
class TVLWebPage;

class TVLPageController final : public QWidget
{
    Q_OBJECT
public:
    explicit TVLPageController(QWidget *parent = nullptr);
    ~TVLPageController() override;
    TVLPageController(const TVLPageController &) = delete;
    TVLPageController &operator=(const TVLPageController &) = delete;

    // Page state.
    const std::shared_ptr<TVLObject> &displayedObject() const { return m_displayedObject; }
    QString lastDisplayedMarkdown() const { return m_lastDisplayedMarkdown; }
    unsigned lastDisplayedExchangeCount() const { return m_lastDisplayedExchangeCount; }
    bool pendingScrollToBottom() const { return m_pendingScrollToBottom; }
    double pendingScrollTop() const { return m_pendingScrollTop; }
    QString pendingScrollToExchangeId() const { return m_pendingScrollToExchangeId; }
    // How many documents went to the engine: one for each full load.
    quint64 loadCount() const { return m_loadGeneration; }
    QStringList lastVisibleExchangeIds() const { return m_lastVisibleExchangeIds; }

    // Shows the object: remembers its Markdown (and exchange count for a session) and loads it,
    // opening at the target (which replaces any scroll asked for earlier).
    void displayObject(const std::shared_ptr<TVLObject> &object, const TVLScrollTarget &target = {});

    // The page document: template prefix, the HTML of the Markdown, template suffix.
    QString htmlDocFromMarkdown(const QString &markdown) const;

    // Loads the page of the Markdown, replacing the whole page.
    void fullLoad(const QString &markdown);
    // Loads the markdown where the page shows other markdown now, at the same scroll offset.
    void reloadMarkdownKeepingScroll(const QString &markdown);

    // Live updates of the shown session.
    void sessionDidUpdate(TVLSession *session);
    void appendNewExchangesFrom(unsigned firstNewIndex, const std::shared_ptr<TVLSession> &session);
    void fullReloadSession(const std::shared_ptr<TVLSession> &session);
    void reloadFilteredContentWithSession(const std::shared_ptr<TVLSession> &session,
                                          const std::optional<QString> &scrollToExchangeId);
    void reloadFilteredContent();

    void scrollToExchangeId(const QString &exchangeId);
    // After-load work: highlighting, the pending scroll, the tag badges.
    void didFinishNavigation();

    // Prints the shown Markdown through the browser (TVLPagePrinter); the alert sounds when
    // there is nothing to print or the file cannot be written.
    void printCustom();

    // The text selected in the page.
    void selectedText(std::function<void(const QString &)> answer);
    // Copies the page's selection to the clipboard.
    void copySelection();
    // Finds the text in the page (the empty text ends the find); `found` gets the match shown
    // (from 1; 0 when none) and how many there are.
    void findText(const QString &text, bool caseSensitive, bool backwards,
                  std::function<void(int activeMatch, int matchCount)> found = {});

    // The page's script functions, for the parts that put their own content into the page.
    const TVLPageScript &script() const { return m_script; }

    // Answers to the page's messages.
    void showPopoverForMessageId(const QString &messageId);
    void toggleTagForMessageIdTagIdChecked(const QString &messageId, quint64 tagId, bool checked);
    void saveAnnotationForMessageIdAnnotation(const QString &messageId, const QString &annotation);
    void loadTagsForSections(const QStringList &sectionIds);
    void updateTagBadgesForMessageId(const QString &messageId);
    void updateAllTagBadges();
    void metadataDidChange(const TVLProjectMetadata *metadata);
    void invalidateAllTagSummaries();
    // The tag menu of a section, with "Copy as Markdown" for its exchange.
    void showTagMenuForMessageIdAtXY(const QString &messageId, int x, int y);

    // Colours for the page's tag records.
    static QString hexColorFromColor(const HVXColor &color) { return TVLTagMenu::hexColorFromColor(color); }
    static QString contrastingTextColorForColor(const HVXColor &color)
    {
        return TVLTagMenu::contrastingTextColorForColor(color);
    }

Q_SIGNALS:
    // A load finished and its after-load work ran.
    void pageLoaded();
    // The page holds all it shows: after the load, or once a long page got its last part.
    void allPartsShown();
    // The replace-and-append script of a live update was sent to the page.
    void incrementalUpdateSent();
    // The exchanges in view changed (stored as lastVisibleExchangeIds).
    void visibleExchangesChanged(const QStringList &exchangeIds);
    // A filter change reloads the page; marks of visible exchanges are stale.
    void visibleExchangeMarksCleared();
    // The page asked for the tag menu of a section, at a point of the web view.
    void contextMenuRequested(const QString &messageId, const QPoint &position);

private:
    void connectBridge();
    void setScrollTarget(const TVLScrollTarget &target);
    // With Command held the reader is doing something else (opening links in the background):
    // the page's requests about tags and menus are not acted on.
    static bool readerIsBusyElsewhere();
    void addCopyAsMarkdownForSectionId(QMenu &menu, const QString &sectionId);
    void observeNotifications();
    TVLProjectMetadata *shownMetadata() const;
    QJsonArray badgeRecordsForMessageId(TVLProjectMetadata *metadata, const QString &messageId) const;
    void sendBadgesForMessageIds(const QStringList &messageIds);
    void toggleTagAndRefresh(const QString &messageId, quint64 tagId, bool add);
    QString currentAppearance() const;
    void rememberDisplayedMarkdown(const QString &markdown);
    void rememberAppendedMarkdown(const QStringList &changedMarkdown, const TVLSession &session);
    void sendEarlierParts(quint64 load);
    // The sections of a page of this Markdown: the shown session's or exchange's own blocks
    // when it is theirs.
    TVLPageSources sourcesOfPage(const QString &markdown) const;
    // Converts the sections on a worker thread, in the order asked; `then` gets them on the
    // main thread, unless the controller is gone by then.
    void convertThen(TVLPageSources sources, std::function<void(const QJsonArray &)> then);

    QWebEngineView *m_webView = nullptr;
    TVLWebPage *m_page = nullptr;
    QWebChannel *m_channel = nullptr;
    TVLPageBridge *m_bridge = nullptr;
    TVLPageScript m_script;
    QUrl m_publishedUrl;

    std::shared_ptr<TVLObject> m_displayedObject;
    QString m_lastDisplayedMarkdown;
    unsigned m_lastDisplayedExchangeCount = 0;
    qsizetype m_lastExchangeMarkdownOffset = -1;  // where the last exchange begins in it, or -1
    bool m_pendingScrollToBottom = false;
    double m_pendingScrollTop = 0;
    QString m_pendingScrollToExchangeId;
    QStringList m_lastVisibleExchangeIds;
    // Raised by every load and every update, so that a late scroll-state answer of an earlier
    // one is dropped instead of applying the same change twice.
    quint64 m_generation = 0;
    // Raised by every load only: the earlier parts of a long page belong to one load.
    quint64 m_loadGeneration = 0;
    bool m_loadPending = false;  // a document is being made or loaded and has not finished
    bool m_updateWhenLoaded = false;  // the session changed while its page was on its way
    TVLPageParts m_parts;
};
