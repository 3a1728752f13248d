#include "TVLViewerSearch.h"

#include "TVLFindBar.h"
#include "TVLFindString.h"
#include "TVLOutlineModel.h"
#include "TVLPageController.h"
#include "TVLPageFind.h"
#include "TVLViewerViewController.h"
#include "TVLWebPage.h"

#include "Halvex/AppKit/HVXOutlineView.h"
#include "Halvex/Foundation/Categories/HVXString.h"
#include "Halvex/Foundation/HVXLog.h"
#include "Tavlo/DataObjects/TVLChangeHub.h"
#include "Tavlo/DataObjects/TVLExchange.h"
#include "Tavlo/DataObjects/TVLProject.h"
#include "Tavlo/DataObjects/TVLProjectMetadata.h"
#include "Tavlo/DataObjects/TVLSession.h"
#include "Tavlo/DataObjects/TVLSubagent.h"
#include "Tavlo/DataObjects/TVLWorkflowRun.h"
#include "Tavlo/DataObjects/TVLTag.h"

#include <QAction>
#include <QGuiApplication>
#include <QShortcut>
#include <QTimer>
#include <QWebEngineView>

namespace {
// Live reads and project loads that come in a burst start one search again, not one each.
constexpr int kResearchDelayMilliseconds = 100;

QList<QKeySequence> shortcutsWith(QKeySequence::StandardKey standard, const QList<QKeySequence> &more)
{
    QList<QKeySequence> keys = QKeySequence::keyBindings(standard);
    for (const QKeySequence &key : more)
        if (!keys.contains(key))
            keys << key;
    return keys;
}

QString exchangeCount(qsizetype count)
{
    return count == 1 ? TVLViewerSearch::tr("1 exchange") : TVLViewerSearch::tr("%1 exchanges").arg(count);
}

void insertPathsOfSessionAndAncestors(QSet<QString> &paths, TVLObject *session)
{
    for (TVLObject *node = session; node; node = node->parent())
        if (!node->path().isEmpty())
            paths.insert(node->path());
}
} // namespace

TVLViewerSearch::TVLViewerSearch(TVLViewerViewController *viewer)
    : QObject(viewer)
    , m_viewer(viewer)
{
    m_engine = new TVLSearchEngine(this);
    connect(m_engine, &TVLSearchEngine::matchesFound, this, [this](quint64 generation, const TVLSearchEngine::Matches &matches) {
        if (generation != m_searchGeneration)
            return;
        applyMarks(matches);
        if (matches.complete)
            finishSearch(!matches.exchangeIds.isEmpty(), m_searchAlerts);
    });

    m_findBar = new TVLFindBar;
    m_findBar->hide();
    connect(m_findBar, &TVLFindBar::textChangedByUser, this, &TVLViewerSearch::setSearchString);
    connect(m_findBar, &TVLFindBar::caseSensitivityToggled, this, &TVLViewerSearch::setSearchIsCaseSensitive);
    connect(m_findBar, &TVLFindBar::filterToggled, this, &TVLViewerSearch::setSearchDoesFilter);
    connect(m_findBar, &TVLFindBar::nextRequested, this, [this] { findWithBackwards(false); });
    connect(m_findBar, &TVLFindBar::previousRequested, this, [this] { findWithBackwards(true); });
    connect(m_findBar, &TVLFindBar::closeRequested, this, &TVLViewerSearch::hideFindField);

    m_researchTimer = new QTimer(this);
    m_researchTimer->setSingleShot(true);
    m_researchTimer->setInterval(kResearchDelayMilliseconds);
    connect(m_researchTimer, &QTimer::timeout, this, [this] {
        if (!m_searchDoesFilter)
            runSearch(false);
    });

    connect(&TVLChangeHub::shared(), &TVLChangeHub::sessionDidUpdate, this, &TVLViewerSearch::treeDidChange);
    connect(&TVLFindString::shared(), &TVLFindString::didChange, this, [this](const QObject *writer) {
        if (m_showSearchControls && writer != this)
            syncFromFindPasteboard();
    });
    connect(viewer->outlineModel(), &TVLOutlineModel::projectDidLoad, this, &TVLViewerSearch::treeDidChange);
    connect(qGuiApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        if (state == Qt::ApplicationActive)
            syncFromFindPasteboard();
    });
    // A new window starts with the current string as seen, without taking it.
    m_lastFindPboardChangeCount = TVLFindString::shared().changeCount();
}

TVLViewerSearch::~TVLViewerSearch()
{
    disconnect(&TVLChangeHub::shared(), nullptr, this, nullptr);
    disconnect(&TVLFindString::shared(), nullptr, this, nullptr);
}

void TVLViewerSearch::installActions(QWidget *widget)
{
    auto make = [widget](const QString &name, const QString &title, const QList<QKeySequence> &keys) {
        auto *action = new QAction(title, widget);
        action->setObjectName(name);
        action->setShortcuts(keys);
        action->setShortcutContext(Qt::WindowShortcut);
        widget->addAction(action);
        return action;
    };
    m_findAction = make(QStringLiteral("TVLFindAction"), tr("Find\u2026"), QKeySequence::keyBindings(QKeySequence::Find));
    m_findNextAction = make(QStringLiteral("TVLFindNextAction"), tr("Find Next"),
                            shortcutsWith(QKeySequence::FindNext, {QKeySequence(Qt::Key_F3), QKeySequence(Qt::CTRL | Qt::Key_G)}));
    m_findPreviousAction = make(QStringLiteral("TVLFindPreviousAction"), tr("Find Previous"),
                                shortcutsWith(QKeySequence::FindPrevious, {QKeySequence(Qt::SHIFT | Qt::Key_F3),
                                                                           QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_G)}));
    m_useSelectionAction = make(QStringLiteral("TVLUseSelectionForFindAction"), tr("Use Selection for Find"),
                                {QKeySequence(Qt::CTRL | Qt::Key_E)});
    m_findAction->setData(int(ShowFindInterface));
    m_findNextAction->setData(int(NextMatch));
    m_findPreviousAction->setData(int(PreviousMatch));
    m_useSelectionAction->setData(int(SetSearchString));
    for (QAction *action : {m_findAction, m_findNextAction, m_findPreviousAction, m_useSelectionAction})
        connect(action, &QAction::triggered, this, [this, action] { performFindAction(action->data().toInt()); });

    // Escape in the outline; in the page it stays the page's (it closes the tag popover).
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), m_viewer->outlineView());
    escape->setContext(Qt::WidgetShortcut);
    connect(escape, &QShortcut::activated, this, &TVLViewerSearch::cancelOperation);
}

// MARK: - Commands

void TVLViewerSearch::performFindAction(int action)
{
    switch (action) {
    case ShowFindInterface:
        // A bar that is shown but not being typed in is focused rather than closed.
        if (m_showSearchControls && m_findBar->fieldHasFocus())
            hideFindField();
        else
            showFindField();
        break;
    case NextMatch: findWithBackwards(false); break;
    case PreviousMatch: findWithBackwards(true); break;
    case SetSearchString: setFindStringFromSelection(); break;
    case HideFindInterface: hideFindField(); break;
    default: break;
    }
}

void TVLViewerSearch::cancelOperation()
{
    if (m_showSearchControls)
        hideFindField();
    else
        hvxBeep();
}

void TVLViewerSearch::showFindField()
{
    if (m_showSearchControls) {
        m_findBar->focusField();
        return;
    }
    m_showSearchControls = true;
    m_findBar->setText(m_searchString);
    m_findBar->show();
    m_findBar->focusField();
    Q_EMIT findBarVisibilityChanged(true);
    // The kept text marks (or filters) again now that it is on screen.
    if (!m_searchString.isEmpty())
        runSearch(false);
}

void TVLViewerSearch::hideFindField()
{
    if (m_showSearchControls) {
        m_showSearchControls = false;
        m_findBar->hide();
        Q_EMIT findBarVisibilityChanged(false);
        m_pageStatus.clear();
        TVLPageFind::clear(*m_viewer->page());
        // What the text did is undone with it out of sight; the text itself is kept.
        if (!m_searchString.isEmpty())
            runSearch(false);
    }
    m_viewer->page()->webView()->setFocus(Qt::OtherFocusReason);
}

void TVLViewerSearch::findWithBackwards(bool backwards)
{
    if (m_selectedTagMask != 0 && !m_searchDoesFilter) {
        findTagWithBackwards(backwards);
        return;
    }
    if (m_viewer->page()->displayedObject()) {
        const QString text = m_searchString;
        QPointer<TVLViewerSearch> self(this);
        TVLPageFind::find(*m_viewer->page(), text, m_searchIsCaseSensitive, backwards, [self, text](int active, int count) {
            if (!self)
                return;
            if (!text.isEmpty() && count == 0)
                hvxBeep();
            self->m_pageStatus = text.isEmpty() ? QString()
                                 : count == 0  ? tr("None in the page")
                                               : tr("%1 of %2").arg(active).arg(count);
            self->updateStatus();
            Q_EMIT self->pageFindFinished(active, count);
        });
        return;
    }
    if (!m_searchDoesFilter && !m_searchString.isEmpty() && m_matchingExchangeIds.isEmpty())
        hvxBeep();
}

void TVLViewerSearch::findTagWithBackwards(bool backwards)
{
    const TVLObject::Ptr shown = m_viewer->page()->displayedObject();
    // Positions belong to the session they were reached in.
    if (shown.get() != m_tagNavigationObjectAddress || m_tagNavigationObject.lock() != shown) {
        m_currentTagMatchIndex = -1;
        m_tagNavigationObject = shown;
        m_tagNavigationObjectAddress = shown.get();
    }
    auto *session = dynamic_cast<TVLSession *>(shown.get());
    TVLProjectMetadata *metadata = session ? session->metadata() : nullptr;
    if (!session || !metadata || session->exchanges().empty()) {
        hvxBeep();
        return;
    }
    const auto &exchanges = session->exchanges();
    std::vector<qint64> tagged;
    for (size_t i = 0; i < exchanges.size(); ++i)
        if (exchangeMatchesTagMask(*exchanges[i], m_selectedTagMask, metadata))
            tagged.push_back(qint64(i));
    if (tagged.empty()) {
        hvxBeep();
        return;
    }
    qint64 chosen;
    if (!backwards) {
        const auto next = std::upper_bound(tagged.begin(), tagged.end(), m_currentTagMatchIndex);
        chosen = next != tagged.end() ? *next : tagged.front();
    } else {
        const auto next = std::lower_bound(tagged.begin(), tagged.end(), m_currentTagMatchIndex);
        chosen = next != tagged.begin() ? *std::prev(next) : tagged.back();
    }
    m_currentTagMatchIndex = chosen;
    scrollToExchangeSection(exchanges[size_t(chosen)]->sectionId());
}

void TVLViewerSearch::scrollToExchangeSection(const QString &exchangeId)
{
    // The page scrolls to the exchange's section (and brings it in first when a long page has
    // not received it yet); the id is data to the page, never script.
    m_viewer->page()->scrollToExchangeId(exchangeId);
}

QString TVLViewerSearch::searchTextFromSelection(const QString &selection)
{
    qsizetype end = 0;
    while (end < selection.size()) {
        const QChar c = selection.at(end);
        if (c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
            break;
        ++end;
    }
    // Trimmed before the cut, so leading blanks don't use up the length.
    const QString line = selection.left(end).trimmed();
    return line.size() > kSelectionSearchLength ? hvxLeftWithoutSplittingPairs(line, kSelectionSearchLength).trimmed() : line;
}

void TVLViewerSearch::setFindStringFromSelection()
{
    QPointer<TVLViewerSearch> self(this);
    m_viewer->page()->selectedText([self](const QString &selection) {
        if (!self)
            return;
        const QString text = searchTextFromSelection(selection);
        if (text.isEmpty())
            return;
        self->m_suppressSearchOnStringChange = true;
        self->setSearchString(text);
        self->m_suppressSearchOnStringChange = false;
        if (self->m_showSearchControls) {
            self->m_findBar->setText(text);
            self->runSearch(true);
        } else {
            self->showFindField();
        }
        TVLFindString::shared().setText(text);
        self->m_lastFindPboardChangeCount = TVLFindString::shared().changeCount();
        TVLFindString::shared().announceWhenIdle(self.data());
    });
}

void TVLViewerSearch::syncFromFindPasteboard()
{
    const TVLFindString &shared = TVLFindString::shared();
    if (shared.changeCount() == m_lastFindPboardChangeCount)
        return;
    m_lastFindPboardChangeCount = shared.changeCount();
    const QString text = shared.text();
    if (text.isEmpty())
        return;
    m_suppressSearchOnStringChange = true;
    setSearchString(text);
    m_suppressSearchOnStringChange = false;
}

// MARK: - Settings

void TVLViewerSearch::setSearchString(const QString &text)
{
    if (text != m_searchString)
        m_pageStatus.clear();
    m_searchString = text;
    if (m_findBar->text() != text)
        m_findBar->setText(text);
    if (m_suppressSearchOnStringChange)
        return;
    runSearch(true);
}

void TVLViewerSearch::setSearchIsCaseSensitive(bool caseSensitive)
{
    m_searchIsCaseSensitive = caseSensitive;
    m_findBar->setCaseSensitive(caseSensitive);
    if (!m_searchString.isEmpty())
        runSearch(false);
}

void TVLViewerSearch::setSearchDoesFilter(bool filters)
{
    if (filters == m_searchDoesFilter)
        return;
    m_searchDoesFilter = filters;
    m_findBar->setFilters(filters);
    if (filters) {
        m_engine->cancel();
        m_searchGeneration = 0;
        clearMatchSets();
        m_viewer->refreshAllRowHighlights();
        // Text and tags in one pass and one reload, around one reading position.
        applyFilters(activeSearchText(), m_selectedTagMask);
        const bool matched = activeSearchText().isEmpty() || m_viewer->contentObject() == nullptr
                             || m_viewer->contentObject()->matchesFilter();
        finishSearch(matched, false);
    } else {
        applyFilters(QString(), 0);
        runSearch(false);
    }
}

void TVLViewerSearch::setFilterTags(quint64 mask)
{
    const bool changed = mask != m_selectedTagMask;
    m_selectedTagMask = mask;
    m_currentTagMatchIndex = -1;
    if (m_searchDoesFilter)
        updateFilterFromTags();
    else if (activeSearchText().isEmpty())
        highlightMatchingExchanges();
    if (changed)
        Q_EMIT selectedTagMaskChanged(mask);
}

// MARK: - Runs

QString TVLViewerSearch::activeSearchText() const { return m_showSearchControls ? m_searchString : QString(); }

void TVLViewerSearch::runSearch(bool alert)
{
    if (m_searchDoesFilter) {
        finishSearch(updateFilterFromSearch(), alert);
        return;
    }
    m_searchAlerts = alert;
    if (const std::optional<bool> matched = highlightMatchingExchanges())
        finishSearch(*matched, alert);
}

void TVLViewerSearch::clearMatchSets()
{
    m_matchingExchangeIds.clear();
    m_matchingObjectPaths.clear();
}

std::optional<bool> TVLViewerSearch::highlightMatchingExchanges()
{
    const QString text = activeSearchText();
    m_engine->cancel();
    m_searchGeneration = 0;
    if (text.isEmpty() && m_selectedTagMask == 0) {
        clearMatchSets();
        m_unsearchedProjects = 0;
        m_outlineStatus.clear();
        if (!m_viewer->lastVisibleExchangeIds().isEmpty())
            m_viewer->highlightVisibleExchanges(m_viewer->lastVisibleExchangeIds());
        else
            m_viewer->refreshAllRowHighlights();
        updateStatus();
        return true;
    }

    std::vector<std::shared_ptr<TVLSession>> sessions;
    int unsearched = 0;
    collectSessions(sessions, m_viewer->contentObject().get(), &unsearched);
    m_unsearchedProjects = unsearched;
    if (sessions.empty()) {
        clearMatchSets();
        m_viewer->refreshAllRowHighlights();
        return false;
    }

    if (!text.isEmpty()) {
        m_outlineStatus = tr("Searching\u2026");
        updateStatus();
        m_searchGeneration = m_engine->search(sessions, TVLSearchQuery::make(text, m_searchIsCaseSensitive));
        return std::nullopt;
    }

    TVLSearchEngine::Matches matches;
    matches.complete = true;
    for (const auto &session : sessions) {
        TVLProjectMetadata *metadata = session->metadata();
        if (!metadata)
            continue;
        bool matched = false;
        for (const auto &exchange : session->exchanges())
            if (exchangeMatchesTagMask(*exchange, m_selectedTagMask, metadata)) {
                matches.exchangeIds.insert(exchange->uuid());
                matched = true;
            }
        if (matched)
            matches.sessions.push_back(session);
    }
    applyMarks(matches);
    return !matches.exchangeIds.isEmpty();
}

void TVLViewerSearch::applyMarks(const TVLSearchEngine::Matches &matches)
{
    m_matchingExchangeIds = matches.exchangeIds;
    m_matchingObjectPaths.clear();
    for (const auto &session : matches.sessions)
        insertPathsOfSessionAndAncestors(m_matchingObjectPaths, session.get());
    if (!matches.complete)
        m_outlineStatus = tr("Searching\u2026 %1").arg(exchangeCount(m_matchingExchangeIds.size()));
    m_viewer->refreshAllRowHighlights();
    updateStatus();
}

void TVLViewerSearch::finishSearch(bool matched, bool alert)
{
    const QString text = activeSearchText();
    // Nothing is claimed about projects that were not searched.
    const bool noMatch = !text.isEmpty() && !matched && m_unsearchedProjects == 0;
    // One alert when a search goes from matches to none, not one per key typed after that.
    if (alert && noMatch && m_lastSearchMatched)
        hvxBeep();
    m_lastSearchMatched = !noMatch;
    m_statusAlert = noMatch;
    if (text.isEmpty())
        m_outlineStatus.clear();
    else if (noMatch)
        m_outlineStatus = tr("No matches");
    else if (!matched)
        m_outlineStatus = m_unsearchedProjects == 1 ? tr("None in the open projects; 1 project not searched")
                                                    : tr("None in the open projects; %1 projects not searched").arg(m_unsearchedProjects);
    else if (m_searchDoesFilter)
        m_outlineStatus.clear();
    else
        m_outlineStatus = exchangeCount(m_matchingExchangeIds.size());
    updateStatus();
    Q_EMIT searchFinished(matched);
}

void TVLViewerSearch::updateStatus()
{
    QStringList parts;
    if (!m_pageStatus.isEmpty())
        parts << m_pageStatus;
    if (!m_outlineStatus.isEmpty())
        parts << m_outlineStatus;
    m_findBar->setStatus(parts.join(QStringLiteral(" \u00B7 ")), m_statusAlert);
}

bool TVLViewerSearch::updateFilterFromSearch()
{
    const QString text = m_searchDoesFilter ? activeSearchText() : QString();
    applyFilters(text, m_searchDoesFilter ? m_selectedTagMask : 0);
    const TVLObject::Ptr &content = m_viewer->contentObject();
    return text.isEmpty() || !content || content->matchesFilter();
}

void TVLViewerSearch::updateFilterFromTags()
{
    applyFilters(m_searchDoesFilter ? activeSearchText() : QString(), m_searchDoesFilter ? m_selectedTagMask : 0);
}

void TVLViewerSearch::applyFilters(const QString &text, quint64 tags)
{
    const TVLObject::Ptr &content = m_viewer->contentObject();
    if (!content)
        return;
    if (content->filterString() == text && content->filterTags() == tags
        && content->searchIsCaseSensitive() == m_searchIsCaseSensitive)
        return;
    const std::optional<QString> anchor = filterScrollAnchor();
    content->setFilters(text, tags, m_searchIsCaseSensitive);
    if (const auto session = shownSession()) {
        m_viewer->page()->reloadFilteredContentWithSession(session, anchor);
        // The page's matches were counted in the page that is going.
        m_pageStatus.clear();
        updateStatus();
    }
}

std::optional<QString> TVLViewerSearch::filterScrollAnchor() const
{
    if (!shownSession())
        return std::nullopt;
    const QStringList visible = m_viewer->lastVisibleExchangeIds();
    const auto &selection = m_viewer->selectionIndexPaths();
    if (selection && !selection->isEmpty()) {
        TVLOutlineModel *model = m_viewer->outlineModel();
        const auto *exchange = dynamic_cast<const TVLExchange *>(model->objectForIndex(model->indexForIndexPath(selection->first())));
        if (exchange && visible.contains(exchange->uuid()))
            return exchange->uuid();
    }
    if (!visible.isEmpty())
        return visible.first();
    return std::nullopt;
}

std::shared_ptr<TVLSession> TVLViewerSearch::shownSession() const
{
    return std::dynamic_pointer_cast<TVLSession>(m_viewer->page()->displayedObject());
}

void TVLViewerSearch::treeDidChange()
{
    // Filters follow reads and loads in the tree itself; marks are searched again.
    if (!m_searchDoesFilter && (!activeSearchText().isEmpty() || m_selectedTagMask != 0))
        m_researchTimer->start();
}

// MARK: - Matching

bool TVLViewerSearch::exchangeMatchesTagMask(const TVLExchange &exchange, quint64 mask, TVLProjectMetadata *metadata)
{
    const QString id = exchange.sectionId();
    if (id.isEmpty() || !metadata)
        return false;
    if ((mask & 1) && !metadata->annotationForMessageId(id).isEmpty())
        return true;
    for (quint64 tagId : metadata->tagIdsForMessageId(id))
        if (mask & TVLTag::bitMaskForTagId(tagId))
            return true;
    return false;
}

void TVLViewerSearch::collectSessions(std::vector<std::shared_ptr<TVLSession>> &sessions, TVLObject *object, int *unsearched)
{
    if (!object)
        return;
    if (auto *session = dynamic_cast<TVLSession *>(object)) {
        sessions.push_back(std::static_pointer_cast<TVLSession>(session->shared_from_this()));
        // Sub-agents shown under the session are searched with it.
        for (const auto &subagent : session->subagents())
            collectSessions(sessions, subagent.get(), unsearched);
        for (const auto &run : session->workflowRuns())
            for (TVLSubagent *agent : run->agents())
                collectSessions(sessions, agent, unsearched);
        return;
    }
    if (auto *project = dynamic_cast<TVLProject *>(object); project && !project->isLoaded()) {
        if (unsearched)
            ++*unsearched;
        return;
    }
    for (const TVLObject::Ptr &child : object->children())
        collectSessions(sessions, child.get(), unsearched);
}
