#include "TVLObject.h"

#include "Halvex/Foundation/Categories/HVXString.h"
#include "Halvex/Foundation/HVXFileWatcher.h"
#include "Halvex/Foundation/HVXLog.h"
#include "Halvex/Foundation/HVXMenu.h"
#include "TVLDesktop.h"
#include "TVLExchange.h"
#include "TVLProjectMetadata.h"
#include "TVLSession.h"
#include "TVLURL.h"

#include <QDir>
#include <QFileInfo>

struct TVLObject::RootState
{
    QString filterString;
    quint64 filterTags = 0;
    bool searchIsCaseSensitive = false;
};

TVLObject::TVLObject() = default;

TVLObject::~TVLObject() { stopMonitoring(); }

TVLObject::RootState &TVLObject::rootState()
{
    if (!m_rootState)
        m_rootState = std::make_unique<RootState>();
    return *m_rootState;
}

bool tvlSameNodes(const TVLObject::List &a, const TVLObject::List &b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i])
            return false;
    return true;
}

// MARK: - Stored properties

void TVLObject::setMatchesFilter(bool matches)
{
    if (m_matchesFilter == matches)
        return;
    m_matchesFilter = matches;
    announce(TVLProperty::MatchesFilter);
}

void TVLObject::setPath(const QString &path)
{
    if (m_path == path)
        return;
    m_path = path;
    announce(TVLProperty::Path);
    announce(TVLProperty::TitleForWindow);
}

void TVLObject::setChildren(List children)
{
    m_children = std::move(children);
    announce(TVLProperty::Children);
    announce(TVLProperty::DisplayChildren);
    invalidateTokenUsage();
    dropCachedTagSummaries();
}

void TVLObject::setLastChangedAt(const QDateTime &date)
{
    if (m_lastChangedAt == date && m_lastChangedAt.isValid() == date.isValid())
        return;
    m_lastChangedAt = date;
    announce(TVLProperty::LastChangedAt);
}

void TVLObject::setCachedTokenUsage(std::optional<TVLTokenUsage> usage)
{
    m_cachedTokenUsage = std::move(usage);
    announce(TVLProperty::TokenUsage);
}

// MARK: - Kind of node for a path

bool TVLObject::pathMightContainProjects(const QString &directory)
{
    const QFileInfoList entries = QDir(directory).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
    for (const QFileInfo &entry : entries)
        if (entry.fileName().startsWith(QLatin1Char('-')))
            return true;
    return false;
}

TVLObject::Ptr TVLObject::objectForPath(const QString &path)
{
    const QFileInfo info(path);
    if (info.isDir())
        return objectForDirectory(info.absoluteFilePath());
    if (info.suffix() == QLatin1String("jsonl"))
        return TVLSession::initWithPath(info.absoluteFilePath());
    return nullptr;
}

// MARK: - Titles

namespace {
struct KnownRoot
{
    const char *path;
    const char *name;
};
constexpr KnownRoot kKnownRoots[] = {
    {"~/.claude/projects", "Claude Code"},
    {"~/Library/Developer/Xcode/CodingAssistant/ClaudeAgentConfig/projects", "Xcode"},
};
const QString kTitleSeparator = QStringLiteral(" \u23F5 ");

} // namespace

QString TVLObject::titleForWindow() const
{
    if (m_path.isEmpty())
        return QStringLiteral("Claude");
    QString rest = hvxAddTilde(m_path);
    QStringList parts;
    for (const KnownRoot &root : kKnownRoots) {
        const QString prefix = QString::fromUtf8(root.path);
        if (rest.startsWith(prefix)) {
            parts << QString::fromUtf8(root.name);
            rest = rest.mid(prefix.size());
        }
    }
    if (rest.startsWith(QLatin1Char('/')))
        rest.remove(0, 1);
    if (rest.isEmpty())
        return parts.join(kTitleSeparator);
    if (!rest.startsWith(QLatin1Char('-')))
        return rest;
    const QStringList components = rest.split(QLatin1Char('/'));
    parts << components.first().split(QLatin1Char('-')).last();
    if (components.size() >= 2) {
        auto *self = const_cast<TVLObject *>(this);
        if (TVLSession *session = self->nearestSelfOrParentOfClass<TVLSession>())
            parts << session->titleForWindowAndRecents();
    }
    return parts.join(kTitleSeparator);
}

HVXColor TVLObject::textColor() const { return HVXSystemColor::black(); }

QString TVLObject::description() const
{
    return QStringLiteral("<%1 %2>").arg(QString::fromUtf8(typeid(*this).name()), m_path);
}

// MARK: - Children

TVLObject::List TVLObject::displayChildren()
{
    if (!isFilterActive())
        return m_children;
    List matching;
    for (const Ptr &child : m_children)
        if (child->matchesFilter())
            matching.push_back(child);
    return matching;
}

void TVLObject::addChild(const Ptr &child)
{
    if (!child)
        return;
    child->setParent(this);
    List children = m_children;
    children.push_back(child);
    setChildren(std::move(children));
}

void TVLObject::iterateWithBlock(const std::function<void(TVLObject *)> &block)
{
    const List children = m_children;
    for (const Ptr &child : children)
        child->iterateWithBlock(block);
    block(this);
}

std::shared_ptr<TVLExchange> TVLObject::exchangeWithUuid(const QString &uuid)
{
    if (auto *exchange = dynamic_cast<TVLExchange *>(this); exchange && exchange->uuid() == uuid)
        return std::static_pointer_cast<TVLExchange>(shared_from_this());
    for (const Ptr &child : m_children)
        if (auto found = child->exchangeWithUuid(uuid))
            return found;
    return nullptr;
}

// MARK: - Context menu

void TVLObject::addToContextMenu(HVXMenu &menu)
{
    if (m_path.isEmpty())
        return;
    const QString path = m_path;
    menu.addItemWithTitle(QStringLiteral("Open in new Window"), [path] { TVLDesktop::current().openPathInNewWindow(path); });
    menu.addItemWithTitle(QStringLiteral("Reveal in Finder"), [path] { TVLDesktop::current().showInFileManager(path); });
    menu.addItemWithTitle(QStringLiteral("Copy URL"), [path] {
        TVLDesktop::current().copyToPasteboard(TVLURL::urlStringForPath(path));
    });
}

// MARK: - Metadata

QString TVLObject::projectPath() const { return m_parent ? m_parent->projectPath() : QString(); }

TVLProjectMetadata *TVLObject::metadata()
{
    if (m_metadata)
        return m_metadata;
    if (m_parent)
        return m_parent->metadata();
    return loadMetadata();
}

TVLProjectMetadata *TVLObject::loadMetadata()
{
    const QString project = projectPath();
    if (project.isEmpty()) {
        HVXLogError(QStringLiteral("Can't produce metadata, don't have project path: %1").arg(description()));
        return nullptr;
    }
    m_metadata = TVLProjectMetadata::metadataForProjectPath(project);
    if (!m_metadata)
        HVXLogError(QStringLiteral("Failed to get TVLProjectMetadata for path %1").arg(project));
    return m_metadata;
}

// MARK: - Token usage

std::optional<TVLTokenUsage> TVLObject::tokenUsage()
{
    if (m_cachedTokenUsage)
        return m_cachedTokenUsage;
    TVLTokenUsage total;
    for (const Ptr &child : m_children)
        if (const auto usage = child->tokenUsage())
            total.addUsage(*usage);
    addAdditionalTokenUsage(total);
    setCachedTokenUsage(total);
    return total;
}

void TVLObject::addAdditionalTokenUsage(TVLTokenUsage &) {}

void TVLObject::invalidateTokenUsage()
{
    for (TVLObject *node = this; node; node = node->parent())
        if (node->m_cachedTokenUsage)
            node->setCachedTokenUsage(std::nullopt);
}

// MARK: - Tag summary

namespace {
// Bumped by every change of any metadata store; summaries kept from an older generation are
// computed again. Starts at 1 so that 0 can mean "nothing kept".
quint32 tagSummaryGeneration = 1;
} // namespace

std::optional<quint16> TVLObject::cachedTagSummary() const
{
    if (m_cachedTagSummaryGeneration != tagSummaryGeneration)
        return std::nullopt;
    return m_cachedTagSummary;
}

void TVLObject::setCachedTagSummary(quint16 summary)
{
    m_cachedTagSummary = summary;
    m_cachedTagSummaryGeneration = tagSummaryGeneration;
}

void TVLObject::dropCachedTagSummaries()
{
    for (TVLObject *node = this; node; node = node->parent())
        node->m_cachedTagSummaryGeneration = 0;
}

void TVLObject::invalidateAllTagSummaries()
{
    if (++tagSummaryGeneration == 0)
        tagSummaryGeneration = 1;
}

quint16 TVLObject::tagSummary()
{
    if (const auto cached = cachedTagSummary())
        return *cached;
    quint16 summary = 0;
    for (const Ptr &child : m_children)
        summary |= child->tagSummary();
    setCachedTagSummary(summary);
    return summary;
}

void TVLObject::invalidateTagSummary()
{
    dropCachedTagSummaries();
    for (TVLObject *node = this; node; node = node->parent())
        node->announce(TVLProperty::TagSummary);
}

void TVLObject::invalidateTagSummaryForMessageId(const QString &messageId)
{
    for (const Ptr &child : m_children)
        child->invalidateTagSummaryForMessageId(messageId);
}

// MARK: - Filters

QString TVLObject::filterString() const
{
    if (m_parent)
        return m_parent->filterString();
    return m_rootState ? m_rootState->filterString : QString();
}

quint64 TVLObject::filterTags() const
{
    if (m_parent)
        return m_parent->filterTags();
    return m_rootState ? m_rootState->filterTags : 0;
}

bool TVLObject::searchIsCaseSensitive() const
{
    if (m_parent)
        return m_parent->searchIsCaseSensitive();
    return m_rootState && m_rootState->searchIsCaseSensitive;
}

void TVLObject::setFilterString(const QString &filter)
{
    rootState().filterString = filter;
    sendFilterNotifications();
}

void TVLObject::setFilterTags(quint64 tags)
{
    rootState().filterTags = tags;
    sendFilterNotifications();
}

void TVLObject::setSearchIsCaseSensitive(bool caseSensitive)
{
    rootState().searchIsCaseSensitive = caseSensitive;
    sendFilterNotifications();
}

void TVLObject::setFilters(const QString &filter, quint64 tags, bool caseSensitive)
{
    RootState &state = rootState();
    state.filterString = filter;
    state.filterTags = tags;
    state.searchIsCaseSensitive = caseSensitive;
    sendFilterNotifications();
}

void TVLObject::reapplyActiveFilters()
{
    if (!isFilterActive())
        return;
    sendFilterNotifications();
    updateFiltersOfAncestors();
}

void TVLObject::updateFiltersOfAncestors()
{
    for (TVLObject *node = m_parent; node; node = node->parent())
        node->updateFilters();
}

void TVLObject::sendFilterNotifications()
{
    const List children = m_children;
    for (const Ptr &child : children)
        child->sendFilterNotifications();
    updateFilters();
}

void TVLObject::updateFilters()
{
    bool matches = false;
    for (const Ptr &child : m_children)
        if (child->matchesFilter()) {
            matches = true;
            break;
        }
    setMatchesFilter(matches);
    announce(TVLProperty::DisplayChildren);
}

// MARK: - File watching

void TVLObject::pathDidUpdate(const QString &changedPath)
{
    Q_UNUSED(changedPath);
    HVXLogError(QStringLiteral("Did not implement pathDidUpdate: %1").arg(description()));
}

void TVLObject::startMonitoring()
{
    const QString watched = monitoredPath();
    if (m_watcher || watched.isEmpty())
        return;
    m_watcher = new HVXFileWatcher();
    m_watcher->setDirectoryFilter([this](const QString &directory) { return monitorsDirectory(directory); });
    QObject::connect(m_watcher, &HVXFileWatcher::pathsChanged, m_watcher, [this](const QStringList &paths) {
        for (const QString &changed : paths)
            pathDidUpdate(changed);
    });
    // A watch that cannot start (logged by the watcher) simply delivers nothing.
    m_watcher->start(watched);
}

int TVLObject::monitoredDirectoryCount() const { return m_watcher ? m_watcher->watchCount() : 0; }

void TVLObject::stopMonitoring()
{
    if (!m_watcher)
        return;
    HVXFileWatcher *watcher = m_watcher;
    m_watcher = nullptr;
    watcher->stop();
    // Events may be being delivered right now; let the watcher finish before it goes.
    watcher->deleteLater();
}
