#include "TVLViewerViewController.h"

#include "Tavlo/DataObjects/TVLSettings.h"
#include "TVLLibraryIndexFollower.h"
#include "TVLLibrarySummaryPage.h"
#include "TVLLoadingNote.h"
#include "TVLSearchAllLogsWindow.h"
#include "TVLFindBar.h"
#include "TVLHighlightableRowView.h"
#include "TVLOutlineModel.h"
#include "TVLPageController.h"
#include "TVLSettingsViewController.h"
#include "TVLTagFilterView.h"
#include "TVLTagsSummaryDelegate.h"
#include "TVLTagsSummaryView.h"
#include "TVLChangesPanel.h"
#include "TVLViewerFlagsViewController.h"
#include "TVLViewerSearch.h"

#include "Halvex/AppKit/HVXAttributedTextDelegate.h"
#include "Halvex/AppKit/HVXOutlineView.h"
#include "Halvex/AppKit/HVXQtMenu.h"
#include "Halvex/AppKit/HVXWindows.h"
#include "Halvex/Foundation/HVXDefaults.h"
#include "Halvex/Foundation/HVXLog.h"
#include "Halvex/Foundation/HVXMenu.h"
#include "Halvex/Foundation/HVXModifierKeys.h"
#include "Tavlo/DataObjects/TVLExchange.h"
#include "Tavlo/DataObjects/TVLProject.h"
#include "Tavlo/DataObjects/TVLRoots.h"
#include "Tavlo/DataObjects/TVLSession.h"
#include "Tavlo/DataObjects/TVLToolSteps.h"

#include <QApplication>
#include <algorithm>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QSplitter>
#include <QToolButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QWebEngineView>

namespace {
const QString &kDisplayModeKey = TVLSettings::sessionDisplayModeKey;
const QString &kRelativeTimeKey = TVLSettings::relativeTimeKey;
const QString kScrollToBottomKey = QStringLiteral("TVLSessionsScrollToBottom");
constexpr int kRelativeTimeRefreshMilliseconds = 60 * 1000;
} // namespace

void TVLViewerViewController::registerClass()
{
    HVXDefaults::standard().registerDefaults({{kScrollToBottomKey, true}});
    HVXWindows::registerViewControllerClass(
        QString::fromLatin1(className), [] { return new TVLViewerViewController; },
        [](const QVariantMap &values) {
            const QString path = values.value(QStringLiteral("path")).toString();
            return path.isEmpty() || QFileInfo::exists(path) ? QString() : QStringLiteral("%1 no longer exists").arg(path);
        });
}

TVLViewerViewController::TVLViewerViewController(QWidget *parent)
    : HVXViewController(parent)
{
    TVLSession::registerDefaults();
    HVXDefaults::standard().registerDefaults({{kScrollToBottomKey, true}});
    buildViews();
    connect(&TVLChangeHub::shared(), &TVLChangeHub::changed, this, &TVLViewerViewController::contentChanged);
}

TVLViewerViewController::~TVLViewerViewController()
{
    if (m_relativeTimeRefreshTimer)
        m_relativeTimeRefreshTimer->stop();
    if (m_contentObject)
        m_contentObject->stopMonitoring();
    disconnect(&TVLChangeHub::shared(), nullptr, this, nullptr);
}

void TVLViewerViewController::buildViews()
{
    m_model = new TVLOutlineModel(this);
    m_outline = new HVXOutlineView;
    m_outline->setObjectName(QStringLiteral("TVLBrowserOutline"));
    m_outline->setModel(m_model);
    m_outline->setUniformRowHeights(true);
    m_outline->setItemDelegateForColumn(TVLOutlineModel::TitleColumn,
                                        new HVXAttributedTextDelegate(TVLOutlineModel::MarkupRole, m_outline));
    m_outline->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_outline->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_outline->header()->setStretchLastSection(false);
    m_outline->header()->setSectionResizeMode(TVLOutlineModel::TitleColumn, QHeaderView::Stretch);
    for (int column = TVLOutlineModel::InputTokensColumn; TVLOutlineModel::isTokenColumn(column); ++column) {
        m_outline->header()->setSectionResizeMode(column, QHeaderView::Interactive);
        // Wide enough for its title and for the counts of long sessions: cache reads run into
        // the billions, the other counts into the hundreds of millions.
        const QString title = m_model->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
        const QString widest = column == TVLOutlineModel::CacheReadTokensColumn ? QStringLiteral("9,999,999,999")
                                                                                : QStringLiteral("999,999,999");
        const QFontMetrics metrics = m_outline->header()->fontMetrics();
        m_outline->setColumnWidth(column, std::max({66, metrics.horizontalAdvance(title) + 16,
                                                    metrics.horizontalAdvance(widest) + 12}));
    }
    installTagsColumn();
    m_outline->setRowMenuProvider([this](const QModelIndex &index) { return hvxContextMenuForTableView(index); });
    m_outline->setHeaderMenuProvider([this] { return hvxContextMenuForTableHeaderView(); });
    m_outline->setRowBackgroundPainter([this](QPainter *painter, const QRect &rect, const QModelIndex &index, bool selected) {
        TVLHighlightableRowView row;
        row.setHighlighted(shouldHighlightRowAtIndex(index));
        row.drawBackground(painter, rect, selected);
    });
    connect(m_outline->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TVLViewerViewController::outlineSelectionChanged);
    connect(m_outline, &QTreeView::clicked, this, &TVLViewerViewController::outlineViewClicked);
    connect(m_outline, &QTreeView::doubleClicked, this, &TVLViewerViewController::outlineViewDoubleClicked);
    // Expanding a project loads it (the model fetches its rows); show that it is busy.
    connect(m_model, &TVLOutlineModel::projectWillLoad, this, &TVLViewerViewController::showLoading);
    connect(m_model, &TVLOutlineModel::projectDidLoad, this, &TVLViewerViewController::hideLoading);

    m_page = new TVLPageController(this);
    m_summaryPage = new TVLLibrarySummaryPage(m_page, this);
    m_loadingNote = new TVLLoadingNote(m_page, this);
    connect(m_loadingNote, &TVLLoadingNote::loaded, this, &TVLViewerViewController::backgroundLoadFinished);
    TVLSearchAllLogsWindow::addShortcutTo(this);
    TVLLibraryIndexFollower::shared();
    connect(m_page, &TVLPageController::visibleExchangesChanged, this,
            &TVLViewerViewController::highlightVisibleExchanges);
    connect(m_page, &TVLPageController::visibleExchangeMarksCleared, this, &TVLViewerViewController::clearHighlightedRows);
    connect(m_page, &TVLPageController::pageLoaded, this, [this] {
        const auto session = m_changesAwaitingPage.lock();
        if (session && m_page->displayedObject() == session) {
            m_changesAwaitingPage.reset();
            TVLChangesPanel::show(*m_page, *session);
        } else if (session && !session->isLoading()) {
            m_changesAwaitingPage.reset();  // another page took its place
        }
    });
    connect(m_page, &TVLPageController::contextMenuRequested, this, [this](const QString &messageId, const QPoint &point) {
        m_page->showTagMenuForMessageIdAtXY(messageId, point.x(), point.y());
    });

    m_search = new TVLViewerSearch(*this, m_page, this);
    connect(m_search, &TVLViewerSearch::selectedTagMaskChanged, this, &TVLViewerViewController::selectedTagMaskChanged);
    connect(m_search, &TVLViewerSearch::marksChanged, this, &TVLViewerViewController::refreshAllRowHighlights);
    connect(m_model, &TVLOutlineModel::projectDidLoad, m_search, &TVLViewerSearch::treeDidChange);
    m_search->installActions(this, m_outline);

    m_loadingLabel = new QLabel;
    m_loadingLabel->setObjectName(QStringLiteral("TVLLoadingLabel"));
    m_loadingLabel->setContentsMargins(8, 3, 8, 3);
    m_loadingLabel->hide();

    auto *left = new QWidget;
    auto *leftLayout = new QVBoxLayout(left);
    leftLayout->setContentsMargins(0, 0, 0, 0);
    leftLayout->setSpacing(0);
    leftLayout->addWidget(m_outline);
    leftLayout->addWidget(m_loadingLabel);

    m_splitter = new QSplitter(Qt::Horizontal);
    auto *right = new QWidget;
    auto *rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    rightLayout->setSpacing(0);
    rightLayout->addWidget(m_search->findBar());
    rightLayout->addWidget(m_page, 1);

    m_splitter->addWidget(left);
    m_splitter->addWidget(right);
    m_splitter->setStretchFactor(0, 0);
    m_splitter->setStretchFactor(1, 1);
    m_splitter->setSizes({600, 600});

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(buildTagBar());
    layout->addWidget(m_splitter);
}

void TVLViewerViewController::installTagsColumn()
{
    m_outline->setItemDelegateForColumn(TVLOutlineModel::TagsColumn,
                                        new TVLTagsSummaryDelegate(TVLOutlineModel::TagSummaryRole, m_outline));
    QHeaderView *header = m_outline->header();
    header->setSectionResizeMode(TVLOutlineModel::TagsColumn, QHeaderView::Fixed);
    const QString title = m_model->headerData(TVLOutlineModel::TagsColumn, Qt::Horizontal).toString();
    m_outline->setColumnWidth(TVLOutlineModel::TagsColumn,
                              std::max(TVLTagsSummaryView::badgeSize + 8, header->fontMetrics().horizontalAdvance(title) + 16));
    // Beside the titles, before the token counts.
    header->moveSection(header->visualIndex(TVLOutlineModel::TagsColumn), TVLOutlineModel::TitleColumn + 1);
}

QWidget *TVLViewerViewController::buildTagBar()
{
    m_tagFilterView = new TVLTagFilterView;
    // The viewer owns the mask: the bar reports clicks and shows what the viewer holds.
    connect(m_tagFilterView, &TVLTagFilterView::filterTagsChanged, this, &TVLViewerViewController::setFilterTags);
    connect(this, &TVLViewerViewController::selectedTagMaskChanged, m_tagFilterView, &TVLTagFilterView::setFilterTags);
    m_tagFilterView->setFilterTags(selectedTagMask());
    auto *editTags = new QToolButton;
    editTags->setObjectName(QStringLiteral("TVLEditTagsButton"));
    editTags->setText(tr("Edit Tags…"));
    editTags->setAutoRaise(true);
    connect(editTags, &QToolButton::clicked, this, [] { TVLSettingsViewController::showSettingsWindow(); });
    auto *bar = new QWidget;
    bar->setObjectName(QStringLiteral("TVLTagBar"));
    bar->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    auto *row = new QHBoxLayout(bar);
    row->setContentsMargins(6, 4, 6, 4);
    row->setSpacing(8);
    row->addWidget(m_tagFilterView);
    row->addWidget(editTags);
    row->addStretch(1);
    return bar;
}

// MARK: - Opening

void TVLViewerViewController::hvxAllSet()
{
    // A big session file alone is read in the background; everything else at once.
    if (!m_path.isEmpty() && QFileInfo(m_path).isFile() && QFileInfo(m_path).suffix() == QLatin1String("jsonl"))
        m_contentObject = TVLSession::initWithPathInBackground(QFileInfo(m_path).absoluteFilePath());
    else if (!m_path.isEmpty())
        m_contentObject = TVLObject::objectForPath(m_path);
    if (!m_contentObject) {
        if (!m_path.isEmpty())
            HVXLogWarning(QStringLiteral("Nothing to show at %1; showing the default roots").arg(m_path));
        m_showsFallback = !m_path.isEmpty();
        auto roots = std::make_shared<TVLRoots>();
        roots->addDefaultRoots();
        m_contentObject = roots;
    }
    m_contentObject->startMonitoring();
    m_model->setContentObject(m_contentObject);
    Q_EMIT hvxWindowTitleChanged();
}

QByteArray TVLViewerViewController::hvxRestorableState() const { return m_splitter->saveState(); }

void TVLViewerViewController::hvxRestoreState(const QByteArray &state)
{
    if (!m_splitter->restoreState(state))
        HVXLogWarning(QStringLiteral("Ignoring an unreadable splitter state of %1 bytes").arg(state.size()));
}

TVLObject::List TVLViewerViewController::displayContent() const { return m_model->displayContent(); }

TVLViewerFlagsViewController *TVLViewerViewController::flagsViewController() const { return m_flags; }

QString TVLViewerViewController::selectedExchangeUuid() const
{
    if (!m_selectionIndexPaths || m_selectionIndexPaths->isEmpty())
        return {};
    const QModelIndex index = m_model->indexForIndexPath(m_selectionIndexPaths->first());
    const auto *exchange = dynamic_cast<const TVLExchange *>(m_model->objectForIndex(index));
    return exchange ? exchange->uuid() : QString();
}

QString TVLViewerViewController::hvxWindowTitle() const
{
    return m_contentObject ? m_contentObject->titleForWindow() : QString();
}

QWidget *TVLViewerViewController::hvxTitlebarAccessory()
{
    if (!m_flags) {
        m_flags = new TVLViewerFlagsViewController;
        connect(m_flags, &TVLViewerFlagsViewController::toggleTokenUsageVisibility, this,
                &TVLViewerViewController::toggleTokenUsageVisibility);
        m_flags->setTokenColumnsShown(!tokenColumnsHidden());
        m_flags->setModelName(m_displayModelName);
        connect(m_flags, &TVLViewerFlagsViewController::showChangesRequested, this, [this] { showChangesOfSession(); });
    }
    return m_flags;
}

void TVLViewerViewController::contentChanged(TVLObject *object, TVLProperty property)
{
    if (m_selectionAwaitingLoad && property == TVLProperty::IsLoaded) {
        // Announced as the load begins to apply: the selection is tried once it is done.
        QTimer::singleShot(0, this, [this] {
            if (const auto paths = std::exchange(m_selectionAwaitingLoad, std::nullopt))
                setSelectionIndexPaths(paths);
        });
    }
    if (object && object == m_contentObject.get() && property == TVLProperty::TitleForWindow)
        Q_EMIT hvxWindowTitleChanged();
}

void TVLViewerViewController::viewDidAppear()
{
    if (!m_didSetupWebView) {
        m_didSetupWebView = true;
        hvxTitlebarAccessory();
        installObservers();
        updateRelativeTimeRefreshTimer();
    }
    if (!m_exchangeUuid.isEmpty() && m_contentObject) {
        if (const auto exchange = m_contentObject->exchangeWithUuid(m_exchangeUuid)) {
            selectExchange(exchange);
            return;
        }
    }
    if (m_model->rowCount() > 0) {
        const QModelIndex first = m_model->index(0, 0);
        if (!m_outline->isExpanded(first))
            m_outline->expand(first);
    }
    if (!m_selectionIndexPaths)
        setSelectionIndexPaths(std::nullopt);
}

void TVLViewerViewController::viewWillDisappear() {}

void TVLViewerViewController::installObservers()
{
    HVXDefaults &defaults = HVXDefaults::standard();
    defaults.observe(kDisplayModeKey, this, [this] { updateSessionTitles(); });
    defaults.observe(kRelativeTimeKey, this, [this] {
        updateSessionTitles();
        updateRelativeTimeRefreshTimer();
    });
    // The page is the model's HTML, so showing tool steps or not takes a new page.
    defaults.observe(TVLToolSteps::settingKey, this, [this] { m_page->reloadFilteredContent(); });
    connect(&TVLChangeHub::shared(), &TVLChangeHub::dataDebugModeDidChange, this, [this] { m_model->refreshAllRows(); });
}

// MARK: - Selection

void TVLViewerViewController::outlineSelectionChanged()
{
    if (m_applyingSelection)
        return;
    QList<HVXIndexPath> paths;
    for (const QModelIndex &index : m_outline->selectionModel()->selectedRows())
        paths << m_model->indexPathForIndex(index);
    std::sort(paths.begin(), paths.end());
    setSelectionIndexPaths(paths);
}

void TVLViewerViewController::applySelectionToOutline(const QList<HVXIndexPath> &paths)
{
    m_applyingSelection = true;
    QItemSelection selection;
    QModelIndex last;
    for (const HVXIndexPath &path : paths) {
        const QModelIndex index = m_model->indexForIndexPath(path);
        if (!index.isValid())
            continue;
        for (QModelIndex parent = index.parent(); parent.isValid(); parent = parent.parent())
            m_outline->expand(parent);
        selection.select(index, index.siblingAtColumn(TVLOutlineModel::ColumnCount - 1));
        last = index;
    }
    m_outline->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    if (last.isValid()) {
        m_outline->selectionModel()->setCurrentIndex(last, QItemSelectionModel::NoUpdate);
        m_outline->scrollTo(last);
    }
    m_applyingSelection = false;
}

void TVLViewerViewController::setSelectionIndexPaths(const std::optional<QList<HVXIndexPath>> &requested)
{
    std::optional<QList<HVXIndexPath>> paths = requested;
    m_selectionAwaitingLoad.reset();
    if (paths && std::any_of(paths->begin(), paths->end(), [this](const HVXIndexPath &path) {
            return m_model->pathWaitsForLoad(path);
        }))
        m_selectionAwaitingLoad = paths;
    if (paths && !m_applyingSelection) {
        QList<HVXIndexPath> shown;
        for (const QModelIndex &index : m_outline->selectionModel()->selectedRows())
            shown << m_model->indexPathForIndex(index);
        std::sort(shown.begin(), shown.end());
        if (shown != *paths)
            applySelectionToOutline(*paths);
    }

    // 1. The first selected object.
    TVLObject::Ptr object;
    if (paths && !paths->isEmpty())
        object = m_model->sharedObjectForIndex(m_model->indexForIndexPath(paths->first()));

    // 2. Nothing selected: the page stays, or a window on a session shows the session.
    if (!object) {
        if ((!paths || paths->isEmpty()) && m_page->displayedObject())
            return;
        if (std::dynamic_pointer_cast<TVLSession>(m_contentObject))
            object = m_contentObject;
    }

    // 3. A project reads its transcripts when it is selected; a big one in the background,
    //    its page following the read meanwhile (as for the big session a window is on).
    m_loadingNote->clear();
    if (auto *project = dynamic_cast<TVLProject *>(object.get()); project && !project->isLoaded()) {
        showLoading(project);
        project->loadInBackground();
        hideLoading();
    }
    if (object && object->isLoading()) {
        m_selectionIndexPaths = paths;
        clearHighlightedRows();
        m_loadingNote->show(object);
        return;
    }

    // 4.
    m_displayModelName = object ? object->displayModelName() : QString();
    if (m_flags)
        m_flags->setModelName(m_displayModelName);

    // 5. An exchange scrolls its session's page to it (with Option it is shown on its own).
    auto *exchange = dynamic_cast<TVLExchange *>(object.get());
    if (exchange && !hvxIsModifierHeld(HVXModifierOption)) {
        TVLSession *session = exchange->nearestSelfOrParentOfClass<TVLSession>();
        m_selectionIndexPaths = paths;
        const QString uuid = exchange->uuid();
        if (session && session != m_page->displayedObject().get()) {
            clearHighlightedRows();
            showObject(session->shared_from_this(), TVLScrollTarget::exchange(uuid));
        } else {
            m_page->scrollToExchangeId(uuid);
        }
        return;
    }

    // 6. Everything else becomes the page itself.
    if (paths && paths->isEmpty()) {
        HVXLogError(QStringLiteral("Trying to fix selectionIndexPaths!"));
        const QModelIndex clicked = m_outline->clickedIndex();
        if (clicked.isValid())
            paths = QList<HVXIndexPath>{m_model->indexPathForIndex(clicked)};
    }
    m_selectionIndexPaths = paths;
    clearHighlightedRows();
    TVLScrollTarget target;
    if (std::dynamic_pointer_cast<TVLSession>(object)) {
        target = sessionScrollTarget();
        if (target.kind == TVLScrollTarget::Kind::Bottom) {
            const QModelIndexList rows = m_outline->visibleRowIndexes();
            if (!rows.isEmpty())
                m_outline->scrollTo(rows.last());
        }
    }
    showObject(object, target);
}

TVLScrollTarget TVLViewerViewController::sessionScrollTarget() const
{
    bool toBottom = HVXDefaults::standard().boolForKey(kScrollToBottomKey);
    if (hvxIsModifierHeld(HVXModifierOption))
        toBottom = !toBottom;
    return toBottom && m_exchangeUuid.isEmpty() ? TVLScrollTarget::bottom() : TVLScrollTarget::top();
}

void TVLViewerViewController::backgroundLoadFinished(TVLObject *object)
{
    m_model->processPendingChanges();
    // A window on one session: the exchange it was opened on, or else its page.
    if (object == m_contentObject.get() && std::dynamic_pointer_cast<TVLSession>(m_contentObject)) {
        if (m_page->displayedObject() != m_contentObject)
            return;
        const auto exchange = m_exchangeUuid.isEmpty() ? nullptr : m_contentObject->exchangeWithUuid(m_exchangeUuid);
        const QModelIndex row = exchange ? m_model->indexForObject(exchange.get()) : QModelIndex();
        // The page of the loading note is the session's too: it is loaded anew, at the exchange.
        if (row.isValid()) {
            m_selectionIndexPaths = QList<HVXIndexPath>{m_model->indexPathForIndex(row)};
            applySelectionToOutline(*m_selectionIndexPaths);
            showObject(m_contentObject, TVLScrollTarget::exchange(exchange->uuid()));
        } else {
            const bool toBottom = HVXDefaults::standard().boolForKey(kScrollToBottomKey);
            showObject(m_contentObject, toBottom ? TVLScrollTarget::bottom() : TVLScrollTarget::top());
        }
        return;
    }
    // A project is shown if it is still what is selected.
    const QModelIndex index = m_model->indexForObject(object);
    if (index.isValid() && m_outline->selectionModel()->isRowSelected(index.row(), index.parent()))
        setSelectionIndexPaths(QList<HVXIndexPath>{m_model->indexPathForIndex(index)});
}

void TVLViewerViewController::showObject(const TVLObject::Ptr &object, const TVLScrollTarget &scrollTarget)
{
    if (TVLLibrarySummaryPage::showsSummaryFor(object.get())) {
        m_summaryPage->show(object);
        return;
    }
    // The page remembers the Markdown and, for a session, its exchange count (0 otherwise).
    m_page->displayObject(object, scrollTarget);
}

void TVLViewerViewController::selectExchange(const std::shared_ptr<TVLExchange> &exchange)
{
    if (!exchange)
        return;
    const QModelIndex index = m_model->indexForObject(exchange.get());
    if (!index.isValid())
        return;
    setSelectionIndexPaths(QList<HVXIndexPath>{m_model->indexPathForIndex(index)});
}

// MARK: - Clicks and menus

void TVLViewerViewController::outlineViewClicked(const QModelIndex &index)
{
    if (!index.isValid() || !m_outline->selectionModel()->isRowSelected(index.row(), index.parent()))
        return;
    if (auto *exchange = dynamic_cast<TVLExchange *>(m_model->objectForIndex(index)))
        m_page->scrollToExchangeId(exchange->uuid());
}

void TVLViewerViewController::showChangesOfSession(const std::shared_ptr<TVLSession> &session)
{
    const auto shown = std::dynamic_pointer_cast<TVLSession>(m_page->displayedObject());
    if (!session || session == shown) {
        if (shown)
            TVLChangesPanel::show(*m_page, *shown);
        else
            QApplication::beep();
        return;
    }
    const QModelIndex index = m_model->indexForObject(session.get());
    if (!index.isValid())
        return;
    m_changesAwaitingPage = session;
    setSelectionIndexPaths(QList<HVXIndexPath>{m_model->indexPathForIndex(index)});
}

void TVLViewerViewController::outlineViewDoubleClicked(const QModelIndex &index)
{
    TVLObject *object = m_model->objectForIndex(index);
    if (!object)
        return;
    if (object->path().isEmpty()) {
        HVXLogWarningAndBeep(QStringLiteral("No path avilable from %1").arg(object->description()));
        return;
    }
    HVXWindows::presentViewControllerOfClass(QString::fromLatin1(className), {{QStringLiteral("path"), object->path()}});
}

QMenu *TVLViewerViewController::hvxContextMenuForTableView(const QModelIndex &clickedIndex)
{
    TVLObject *object = m_model->objectForIndex(clickedIndex);
    if (!object)
        return nullptr;
    HVXMenu menu;
    object->addToContextMenu(menu);
    if (auto *session = dynamic_cast<TVLSession *>(object)) {
        const std::weak_ptr<TVLSession> weakSession = std::static_pointer_cast<TVLSession>(session->shared_from_this());
        menu.addSeparator();
        menu.addItemWithTitle(QStringLiteral("Show Changes"), [this, weakSession] {
            if (const auto shown = weakSession.lock())
                showChangesOfSession(shown);
        });
    }
    if (menu.isEmpty())
        return nullptr;
    return hvxQMenuFromMenu(menu, this);
}

QMenu *TVLViewerViewController::hvxContextMenuForTableHeaderView()
{
    return hvxTableColumnToggleContextMenu(m_outline, this);
}

// MARK: - Row marks

bool TVLViewerViewController::shouldHighlightRowAtIndex(const QModelIndex &index) const
{
    const TVLObject *object = m_model->objectForIndex(index);
    const auto *exchange = dynamic_cast<const TVLExchange *>(object);
    // Search marks, while a search has produced any, take the place of the visible exchanges.
    if (m_search->hasSearchMarks()) {
        if (exchange)
            return m_search->searchMatchingExchangeIds().contains(exchange->uuid());
        return object && m_search->searchMatchingObjectPaths().contains(object->path());
    }
    return exchange && m_lastVisibleExchangeIds.contains(exchange->uuid());
}

void TVLViewerViewController::highlightVisibleExchanges(const QStringList &exchangeIds)
{
    m_lastVisibleExchangeIds = exchangeIds;
    refreshAllRowHighlights();
}

void TVLViewerViewController::clearHighlightedRows()
{
    m_lastVisibleExchangeIds.clear();
    refreshAllRowHighlights();
}

void TVLViewerViewController::refreshAllRowHighlights()
{
    // Marks are painted with the rows; only the rows on screen need drawing again.
    m_outline->viewport()->update();
}

// MARK: - Tags

quint64 TVLViewerViewController::selectedTagMask() const { return m_search->selectedTagMask(); }

void TVLViewerViewController::setFilterTags(quint64 mask) { m_search->setFilterTags(mask); }

// MARK: - Token columns, titles, timer

bool TVLViewerViewController::tokenColumnsHidden() const
{
    return m_outline->isColumnHidden(TVLOutlineModel::InputTokensColumn);
}

void TVLViewerViewController::toggleTokenUsageVisibility()
{
    std::optional<bool> hide;
    for (int column = 0; column < m_model->columnCount(); ++column) {
        if (!TVLOutlineModel::isTokenColumn(column))
            continue;
        if (!hide)
            hide = !m_outline->isColumnHidden(column);
        m_outline->setColumnHidden(column, *hide);
    }
    if (m_flags && hide)
        m_flags->setTokenColumnsShown(!*hide);
}

void TVLViewerViewController::updateSessionTitles()
{
    if (!m_contentObject)
        return;
    m_contentObject->iterateWithBlock([](TVLObject *node) {
        if (auto *session = dynamic_cast<TVLSession *>(node))
            session->updateDisplayTitle();
    });
}

void TVLViewerViewController::updateRelativeTimeRefreshTimer()
{
    if (m_relativeTimeRefreshTimer) {
        m_relativeTimeRefreshTimer->stop();
        m_relativeTimeRefreshTimer->deleteLater();
        m_relativeTimeRefreshTimer = nullptr;
    }
    if (!HVXDefaults::standard().boolForKey(kRelativeTimeKey))
        return;
    m_relativeTimeRefreshTimer = new QTimer(this);
    m_relativeTimeRefreshTimer->setInterval(kRelativeTimeRefreshMilliseconds);
    connect(m_relativeTimeRefreshTimer, &QTimer::timeout, this, &TVLViewerViewController::relativeTimeRefreshTimerFired);
    m_relativeTimeRefreshTimer->start();
}

void TVLViewerViewController::relativeTimeRefreshTimerFired() { updateSessionTitles(); }

void TVLViewerViewController::printCustom() { m_page->printCustom(); }

// MARK: - Progress

void TVLViewerViewController::showLoading(TVLObject *project)
{
    auto *loading = dynamic_cast<TVLProject *>(project);
    m_loadingLabel->setText(tr("Loading %1\u2026").arg(loading ? loading->projectName() : QString()));
    m_loadingLabel->show();
    QApplication::setOverrideCursor(Qt::BusyCursor);
    // Painted now: the load that follows keeps the event loop busy until it is done.
    m_loadingLabel->repaint();
}

void TVLViewerViewController::hideLoading()
{
    m_loadingLabel->hide();
    QApplication::restoreOverrideCursor();
}
