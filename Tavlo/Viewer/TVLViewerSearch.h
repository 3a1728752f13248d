#pragma once
// Find, search and tag navigation of one viewer window, behind its find bar and tag filter bar.
//
// Mark mode: the exchanges that contain the search text (or, with no text, carry one of the
// selected tags) are marked in the outline, together with their sessions and every object
// above them that has a path. Filter mode: the tree and the page are narrowed to them instead,
// keeping the reading position. Next and previous find the text in the page, or, with tags
// selected in mark mode, step from one tagged exchange of the shown session to the next.
//
// Text marks are searched on a worker thread (TVLSearchEngine); the first marks show as soon as
// they are found. Projects that were never opened have not been read and are not searched;
// they are counted, and a search that found nothing among the rest does not claim that
// nothing matches. The search text is kept when the bar is hidden, but marks and the text
// filter only hold while the bar shows it.
//
// The find string is shared between windows (TVLFindString): "use selection for find" writes
// it, and the other windows whose bar is shown take it over, as they do when the application
// becomes active again.
//
// The search reads its window through TVLViewerSearchContext and works the page through its
// controller; the window hears of new marks (marksChanged) and asks for them
// (searchMatchingExchangeIds, searchMatchingObjectPaths) when it paints its rows.

#include "Tavlo/DataObjects/TVLObject.h"
#include "TVLSearchEngine.h"
#include "TVLViewerSearchContext.h"

#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <optional>

class QAction;
class QTimer;
class TVLExchange;
class TVLFindBar;
class TVLProjectMetadata;
class TVLPageController;
class TVLSession;

class TVLViewerSearch final : public QObject
{
    Q_OBJECT
public:
    // The platform's text-finder action numbers.
    enum FindAction {
        ShowFindInterface = 1,
        NextMatch = 2,
        PreviousMatch = 3,
        SetSearchString = 7,
        HideFindInterface = 11,
    };
    // The longest text "use selection for find" takes, of the selection's first line.
    static constexpr qsizetype kSelectionSearchLength = 1000;

    TVLViewerSearch(const TVLViewerSearchContext &context, TVLPageController *page, QObject *parent);
    ~TVLViewerSearch() override;

    TVLFindBar *findBar() const { return m_findBar; }
    // The window's find commands (find, next, previous, use selection), added to `widget`;
    // Escape in `escapeWidget` closes the bar.
    void installActions(QWidget *widget, QWidget *escapeWidget);
    QAction *findAction() const { return m_findAction; }
    QAction *findNextAction() const { return m_findNextAction; }
    QAction *findPreviousAction() const { return m_findPreviousAction; }
    QAction *useSelectionForFindAction() const { return m_useSelectionAction; }

    // State.
    bool showSearchControls() const { return m_showSearchControls; }
    QString searchString() const { return m_searchString; }
    bool searchIsCaseSensitive() const { return m_searchIsCaseSensitive; }
    bool searchDoesFilter() const { return m_searchDoesFilter; }
    quint64 selectedTagMask() const { return m_selectedTagMask; }
    qint64 currentTagMatchIndex() const { return m_currentTagMatchIndex; }
    qint64 lastFindPboardChangeCount() const { return m_lastFindPboardChangeCount; }
    const QSet<QString> &searchMatchingExchangeIds() const { return m_matchingExchangeIds; }
    const QSet<QString> &searchMatchingObjectPaths() const { return m_matchingObjectPaths; }
    bool hasSearchMarks() const { return !m_matchingExchangeIds.isEmpty() || !m_matchingObjectPaths.isEmpty(); }
    // Projects under the content that were not searched because they were never opened.
    int unsearchedProjectCount() const { return m_unsearchedProjects; }
    bool isSearching() const { return m_engine->isSearching(); }
    TVLSearchEngine *engine() const { return m_engine; }

    // Commands.
    void performFindAction(int action);
    void cancelOperation();
    void showFindField();
    void hideFindField();
    void findWithBackwards(bool backwards);
    void findTagWithBackwards(bool backwards);
    void setFindStringFromSelection();
    void syncFromFindPasteboard();
    // The tree read or loaded more: marks are searched again (filters follow the tree itself).
    void treeDidChange();
    // Puts a text into the search field from the selection, as the command does with the
    // page's answer: its first line, trimmed and cut to kSelectionSearchLength.
    static QString searchTextFromSelection(const QString &selection);

    // Settings.
    void setSearchString(const QString &text);
    void setSearchIsCaseSensitive(bool caseSensitive);
    void setSearchDoesFilter(bool filters);
    void setFilterTags(quint64 mask);

    // Mark and filter runs. Text marks arrive later (searchFinished); the answer of
    // highlightMatchingExchanges is then only known for tag marks and the empty search.
    std::optional<bool> highlightMatchingExchanges();
    bool updateFilterFromSearch();
    void updateFilterFromTags();

    static bool exchangeMatchesTagMask(const TVLExchange &exchange, quint64 mask, TVLProjectMetadata *metadata);
    // The sessions under an object, each followed by its visible sub-agents; a session is not
    // looked into further. Projects that were never opened are counted in `unsearched`.
    static void collectSessions(std::vector<std::shared_ptr<TVLSession>> &sessions, TVLObject *object,
                                int *unsearched = nullptr);

Q_SIGNALS:
    void selectedTagMaskChanged(quint64 mask);
    // A mark or filter run finished; `matched` is false only when something was searched and
    // nothing matched.
    void searchFinished(bool matched);
    // The page answered a find next or previous.
    void pageFindFinished(int activeMatch, int matchCount);
    void findBarVisibilityChanged(bool shown);
    // The marks changed, or went back to the page's visible exchanges: rows need painting.
    void marksChanged();

private:
    // The text that marks and filters: the search text while the bar shows it.
    QString activeSearchText() const;
    void runSearch(bool alert);
    void applyMarks(const TVLSearchEngine::Matches &matches);
    void finishSearch(bool matched, bool alert);
    void clearMatchSets();
    void applyFilters(const QString &text, quint64 tags);
    std::optional<QString> filterScrollAnchor() const;
    std::shared_ptr<TVLSession> shownSession() const;
    void scrollToExchangeSection(const QString &exchangeId);
    void updateStatus();

    const TVLViewerSearchContext &m_context;
    TVLPageController *m_page = nullptr;
    TVLSearchEngine *m_engine = nullptr;
    TVLFindBar *m_findBar = nullptr;
    QAction *m_findAction = nullptr;
    QAction *m_findNextAction = nullptr;
    QAction *m_findPreviousAction = nullptr;
    QAction *m_useSelectionAction = nullptr;
    QTimer *m_researchTimer = nullptr;

    bool m_showSearchControls = false;
    QString m_searchString;
    bool m_searchIsCaseSensitive = false;
    bool m_searchDoesFilter = false;
    bool m_suppressSearchOnStringChange = false;
    qint64 m_lastFindPboardChangeCount = 0;
    QSet<QString> m_matchingExchangeIds;
    QSet<QString> m_matchingObjectPaths;
    quint64 m_selectedTagMask = 0;
    qint64 m_currentTagMatchIndex = 0;
    // The object tag navigation last stepped in; another one starts it afresh.
    std::weak_ptr<TVLObject> m_tagNavigationObject;
    const TVLObject *m_tagNavigationObjectAddress = nullptr;

    quint64 m_searchGeneration = 0;
    bool m_searchAlerts = false;
    bool m_lastSearchMatched = true;
    int m_unsearchedProjects = 0;
    QString m_outlineStatus;
    QString m_pageStatus;
    bool m_statusAlert = false;
};
