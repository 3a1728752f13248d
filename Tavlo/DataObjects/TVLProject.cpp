#include "TVLProject.h"

#include "Halvex/Foundation/HVXLog.h"
#include "Halvex/Foundation/HVXMenu.h"
#include "Halvex/Foundation/HVXModifierKeys.h"
#include "Halvex/Foundation/HVXParallel.h"
#include "TVLFlatSubagents.h"
#include "TVLLibraryFiles.h"
#include "TVLProjectNames.h"
#include "TVLBackgroundRead.h"
#include "TVLSession.h"
#include "TVLSubproject.h"
#include "TVLUsageReport.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <algorithm>
#include <chrono>
#include <filesystem>

namespace {
const QString jsonl = QStringLiteral("jsonl");
// Below this many bytes of transcripts a project is read at once: quicker than a note about it.
constexpr qint64 kDefaultBackgroundLoadThreshold = qint64(32) << 20;
qint64 backgroundThreshold = kDefaultBackgroundLoadThreshold;
// Read whole, a transcript of this size takes a second or more on a slow machine; a smaller one
// is read with its project, under the project's one note.
constexpr qint64 kDefaultNewestFirstThreshold = qint64(128) << 20;
qint64 newestFirstBytes = kDefaultNewestFirstThreshold;

QString noteTitle(const QString &name, const QString &note)
{
    return QStringLiteral("%1  [c:NSColor:secondaryLabelColor][F:systemFontOfSize:weight:|%2|%3]%4")
        .arg(name, QString::number(10.0, 'f', 6), QString::number(0.0, 'f', 6), note);
}

// Oldest first; a dated node before an undated one. Stable, so undated nodes keep their order.
void sortByLastChange(TVLObject::List &nodes)
{
    std::stable_sort(nodes.begin(), nodes.end(), [](const TVLObject::Ptr &a, const TVLObject::Ptr &b) {
        const bool aDated = a->lastChangedAt().isValid(), bDated = b->lastChangedAt().isValid();
        if (aDated != bDated)
            return aDated;
        return aDated && a->lastChangedAt() < b->lastChangedAt();
    });
}

bool sameDate(const QDateTime &a, const QDateTime &b) { return a.isValid() == b.isValid() && (!a.isValid() || a == b); }
} // namespace

TVLProject::TVLProject() = default;

TVLProject::~TVLProject()
{
    // Stops and waits for the worker; what it read is dropped.
    delete m_load;
}

std::shared_ptr<TVLProject> TVLProject::initWithRootDir(const QString &directory)
{
    auto project = std::make_shared<TVLProject>();
    if (!project->initializeWithRootDir(directory))
        return nullptr;
    return project;
}

bool TVLProject::initializeWithRootDir(const QString &directory)
{
    if (!hvxIsDirectory(directory)) {
        HVXLogWarningAndBeep(QStringLiteral("Not a directory: %1").arg(directory));
        return false;
    }
    setPath(directory);
    setProjectName(plainNameForDirectory(directory));
    loadMetadata();
    refreshMostRecentSessionDateFromFilesystem();
    return true;
}

QString TVLProject::plainNameForDirectory(const QString &directory)
{
    return tvlLastPathComponent(directory).section(QLatin1Char('-'), -1);
}

void TVLProject::setProjectName(const QString &name)
{
    if (m_projectName == name)
        return;
    m_projectName = name;
    announce(TVLProperty::DisplayTitle);
}

// MARK: - Stored properties

void TVLProject::setIsLoaded(bool loaded)
{
    if (m_isLoaded == loaded)
        return;
    m_isLoaded = loaded;
    announce(TVLProperty::IsLoaded);
    announce(TVLProperty::DisplayTitle);
    announce(TVLProperty::ToolTip);
    announce(TVLProperty::TokenUsage);
}

void TVLProject::setMostRecentSessionDate(const QDateTime &date)
{
    if (sameDate(m_mostRecentSessionDate, date))
        return;
    m_mostRecentSessionDate = date;
    announce(TVLProperty::MostRecentSessionDate);
    announce(TVLProperty::DisplayTitle);
    announce(TVLProperty::ToolTip);
}

void TVLProject::setHasOrphanedSubagents(bool orphaned)
{
    m_hasOrphanedSubagents = orphaned;
}

void TVLProject::setSessionLookup(SessionLookup lookup)
{
    m_sessionLookup = std::move(lookup);
}

void TVLProject::setSubprojects(std::vector<std::shared_ptr<TVLSubproject>> subprojects)
{
    for (const auto &subproject : subprojects)
        subproject->setParent(this);
    m_subprojects = std::move(subprojects);
}

// MARK: - Listing

void TVLProject::refreshMostRecentSessionDateFromFilesystem()
{
    // A root lists every project this way at start, so this costs one stat per transcript and
    // nothing per other entry (the directory entry tells files from directories). Dates are
    // kept in UTC: a local-time date would consult the time-zone database for every file.
    namespace fs = std::filesystem;
    QDateTime latest;
    std::error_code error;
    for (fs::directory_iterator it(path().toStdU16String(), error), end; !error && it != end; it.increment(error)) {
        const QString name = QString::fromStdU16String(it->path().filename().u16string());
        std::error_code entryError;
        if (tvlExtension(name) != jsonl || it->is_directory(entryError))
            continue;
        const auto written = it->last_write_time(entryError);
        if (entryError)
            continue;
        const auto sinceEpoch = std::chrono::file_clock::to_sys(written).time_since_epoch();
        const QDateTime modified = QDateTime::fromMSecsSinceEpoch(
            std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch).count(), Qt::UTC);
        if (!latest.isValid() || modified > latest)
            latest = modified;
    }
    setMostRecentSessionDate(latest);
}

void TVLProject::loadIfNeeded()
{
    if (m_isLoaded)
        return;
    QStringList changedWhileLoading;
    if (m_load) {
        m_prefetchedReads = std::make_unique<QHash<QString, TVLSessionRead>>(m_load->takeReads());
        // This may run in a slot of the load's own signal.
        m_load->disconnect();
        m_load->deleteLater();
        m_load = nullptr;
        changedWhileLoading = std::exchange(m_pathsChangedWhileLoading, {});
        changedWhileLoading.removeDuplicates();
    }
    setIsLoaded(true);
    setSubprojects(TVLSubproject::discoverSubprojectsInProjectPath(path()));
    updateSessions();
    m_prefetchedReads.reset();
    invalidateTagSummary();
    invalidateTokenUsage();
    // The reads began before these events; the files are looked at again now.
    for (const QString &changed : std::as_const(changedWhileLoading))
        pathDidUpdate(changed);
}

qint64 TVLProject::backgroundLoadThreshold() { return backgroundThreshold; }

void TVLProject::setBackgroundLoadThreshold(qint64 bytes) { backgroundThreshold = bytes; }

qint64 TVLProject::newestFirstThreshold() { return newestFirstBytes; }

void TVLProject::setNewestFirstThreshold(qint64 bytes) { newestFirstBytes = bytes; }

void TVLProject::loadInBackground()
{
    if (m_isLoaded || m_load)
        return;
    QStringList paths;
    qint64 bytes = 0;
    qint64 bytesOfSmallSessions = 0;
    hvxEnumerateDirectoryWith(path(), [&](const QString &entry) {
        // Flat sub-agents are read with their sessions.
        if (tvlExtension(entry) != jsonl || hvxIsDirectory(entry) || !TVLFlatSubagents::parentSessionPathOf(entry).isEmpty())
            return;
        paths.append(entry);
        const qint64 size = QFileInfo(entry).size();
        bytes += size;
        if (size < newestFirstBytes)
            bytesOfSmallSessions += size;
    });
    // When the bytes are in a few big transcripts, the project is there at once: the small
    // ones read now, each big one from its newest exchanges on, the rest of it in the background
    // (its page and totals follow when that is done).
    if (bytes < backgroundThreshold || bytesOfSmallSessions < backgroundThreshold) {
        m_bigSessionsNewestFirst = true;
        loadIfNeeded();
        m_bigSessionsNewestFirst = false;
        return;
    }
    m_load = new TVLBackgroundRead(paths, bytes);
    QObject::connect(m_load, &TVLBackgroundRead::progressed, m_load, [this] {
        announce(TVLProperty::DisplayTitle);
        announce(TVLProperty::ToolTip);
    });
    QObject::connect(m_load, &TVLBackgroundRead::done, m_load, [this] { loadIfNeeded(); });
    announce(TVLProperty::DisplayTitle);
    announce(TVLProperty::ToolTip);
}

QString TVLProject::loadingNote() const { return m_load ? m_load->note() : QString(); }

void TVLProject::updateSessions()
{
    if (!hvxIsDirectory(path()))
        HVXLogWarning(QStringLiteral("Can't list the project directory, it is gone or not a directory: %1").arg(path()));
    else if (!QDir(path()).isReadable())
        HVXLogWarning(QStringLiteral("Can't list the project directory, permission denied: %1").arg(path()));

    QSet<QString> sessionDirectories, sessionFiles;
    SessionLookup lookup;
    QStringList newPaths;
    hvxEnumerateDirectoryWith(path(), [&](const QString &entry) {
        const QString name = tvlLastPathComponent(entry);
        if (hvxIsDirectory(entry)) {
            if (hvxIsDirectory(tvlJoinPath(entry, QStringLiteral("subagents"))))
                sessionDirectories.insert(name);
        } else if (tvlExtension(entry) == jsonl) {
            // An older assistant's sub-agent beside its session is shown with that session.
            if (!TVLFlatSubagents::parentSessionPathOf(entry).isEmpty())
                return;
            sessionFiles.insert(name.left(name.size() - jsonl.size() - 1));
            if (const auto existing = m_sessionLookup.value(entry))
                lookup.insert(entry, existing);
            else
                newPaths.append(entry);
        }
    });
    const auto created = createSessions(newPaths);
    for (qsizetype i = 0; i < newPaths.size(); ++i)
        if (created[size_t(i)])
            lookup.insert(newPaths[i], created[size_t(i)]);

    if (lookup != m_sessionLookup)
        setSessionLookup(std::move(lookup));
    const bool orphaned = std::any_of(sessionDirectories.begin(), sessionDirectories.end(),
                                      [&](const QString &name) { return !sessionFiles.contains(name); });
    if (orphaned != m_hasOrphanedSubagents)
        setHasOrphanedSubagents(orphaned);
    updateDisplayChildren();
    // New sessions were read without the filter; match them and let the tree above agree.
    if (isFilterActive()) {
        for (const auto &session : created)
            if (session)
                session->sendFilterNotifications();
        for (const auto &subproject : m_subprojects)
            if (!subproject->isLoaded())
                subproject->updateFilters();
        updateFilters();
        updateFiltersOfAncestors();
    }
}

std::vector<std::shared_ptr<TVLSession>> TVLProject::createSessions(const QStringList &paths)
{
    const size_t count = size_t(paths.size());
    // Reading and parsing touch no tree, so they run on worker threads; the sessions are then
    // made on this thread in listing order, exactly as one read after the other would.
    std::vector<TVLSessionRead> reads(count);
    std::vector<char> prefetched(count, 0);
    if (m_prefetchedReads)
        for (size_t i = 0; i < count; ++i)
            if (auto it = m_prefetchedReads->find(paths[qsizetype(i)]); it != m_prefetchedReads->end()) {
                reads[i] = std::move(it.value());
                prefetched[i] = 1;
            }
    std::vector<std::shared_ptr<TVLSession>> sessions(count);
    if (m_bigSessionsNewestFirst)
        for (size_t i = 0; i < count; ++i)
            if (!prefetched[i] && QFileInfo(paths[qsizetype(i)]).size() >= newestFirstBytes)
                if ((sessions[i] = TVLSession::initWithPathInBackground(paths[qsizetype(i)])))
                    prefetched[i] = 1;
    hvxParallelFor(count, [&](size_t i) {
        if (!prefetched[i])
            reads[i] = TVLSession::readFile(paths[qsizetype(i)], nullptr);
    });

    for (size_t i = 0; i < count; ++i) {
        const QString &sessionPath = paths[qsizetype(i)];
        if (sessions[i]) {
            sessions[i]->setParent(this);
            continue;
        }
        if (hvxIsDirectory(sessionPath) || tvlExtension(sessionPath) != jsonl)
            continue;
        auto session = std::make_shared<TVLSession>();
        session->setPath(sessionPath);
        session->applyRead(std::move(reads[i]));
        session->setParent(this);
        sessions[i] = std::move(session);
    }
    return sessions;
}

void TVLProject::updateDisplayChildren()
{
    List nodes;
    nodes.reserve(size_t(m_sessionLookup.size()) + m_subprojects.size());
    for (const auto &session : std::as_const(m_sessionLookup))
        nodes.push_back(session);
    for (const auto &subproject : m_subprojects)
        nodes.push_back(subproject);
    sortByLastChange(nodes);
    if (tvlSameNodes(nodes, children()))
        return;
    const QDateTime latest = nodes.empty() ? QDateTime() : nodes.back()->lastChangedAt();
    setChildren(std::move(nodes));
    setMostRecentSessionDate(latest);
}

// MARK: - File events

void TVLProject::rescan()
{
    if (m_load) {
        m_pathsChangedWhileLoading.append(path());
        return;
    }
    if (!m_isLoaded) {
        refreshMostRecentSessionDateFromFilesystem();
        return;
    }
    updateSessions();
    for (const auto &session : std::as_const(m_sessionLookup)) {
        // A read that finds changes loads the sub-agents itself; otherwise they may have changed alone.
        if (session->updateMessages())
            Q_EMIT TVLChangeHub::shared().sessionDidUpdate(session.get());
        else
            session->loadSubagents();
    }
    for (const auto &subproject : m_subprojects)
        subproject->rescan();
    addSubprojectsNotYetKnown();
    updateDisplayChildren();
}

void TVLProject::addSubprojectsNotYetKnown()
{
    auto subprojects = m_subprojects;
    for (auto &found : TVLSubproject::discoverSubprojectsInProjectPath(path())) {
        const bool known = std::any_of(subprojects.begin(), subprojects.end(),
                                       [&](const auto &subproject) { return subproject->path() == found->path(); });
        if (known)
            continue;
        found->setParent(this);
        subprojects.push_back(std::move(found));
    }
    if (subprojects.size() != m_subprojects.size())
        setSubprojects(std::move(subprojects));
}

void TVLProject::pathDidUpdate(const QString &changedPath)
{
    if (m_load) {
        m_pathsChangedWhileLoading.append(changedPath);
        return;
    }
    // A watch that lost events reports its own directory: what changed is unknown.
    if (changedPath == path()) {
        rescan();
        return;
    }
    const QString directory = tvlDeletingLastPathComponent(changedPath);
    const QString rootDirectory = tvlDeletingLastPathComponent(path());

    // 1. Something in the folder of one of this project's sessions: its sub-agents, the runs of
    // its workflows and their records.
    const QString projectPrefix = tvlJoinPath(path(), QString());
    if (directory.startsWith(projectPrefix) && directory.size() > projectPrefix.size()) {
        const QString sessionFolder = projectPrefix + directory.mid(projectPrefix.size()).section(QLatin1Char('/'), 0, 0);
        if (const auto session = m_sessionLookup.value(sessionFolder + QStringLiteral(".jsonl"))) {
            if (m_isLoaded)
                session->loadSubagents();
            return;
        }
        if (tvlLastPathComponent(directory) == QLatin1String("subagents"))
            return;
    }

    // 2. Something in a sibling directory that is one of this project's subprojects.
    const QString rootPrefix = tvlJoinPath(rootDirectory, QString());
    if (changedPath.startsWith(rootPrefix) && changedPath.size() > rootPrefix.size()) {
        const QString first = changedPath.mid(rootPrefix.size()).section(QLatin1Char('/'), 0, 0);
        const QString own = tvlLastPathComponent(path());
        const QString subprojectPath = tvlJoinPath(rootDirectory, first);
        // A known subproject is taken at once; a new one only when no shorter project claims it.
        auto isMine = [&] {
            return std::any_of(m_subprojects.begin(), m_subprojects.end(),
                               [&](const auto &subproject) { return subproject->path() == subprojectPath; })
                   || TVLProjectNames::parentProjectDirectory(rootDirectory, first,
                                                              TVLProjectNames::directoriesIn(rootDirectory)) == own;
        };
        if (first.startsWith(own + QStringLiteral("--"), Qt::CaseInsensitive) && isMine()) {
            routeToSubproject(subprojectPath, changedPath);
            return;
        }
    }

    // 3. Only files directly in the project directory count from here on.
    if (directory != path())
        return;
    // 4. An unloaded project only follows the date of its newest transcript.
    if (!m_isLoaded) {
        refreshMostRecentSessionDateFromFilesystem();
        return;
    }
    // 5. A known session reads its file again; a new transcript becomes a session, unless it is
    // an older assistant's sub-agent of one.
    if (const QString parentSession = TVLFlatSubagents::parentSessionPathOf(changedPath); !parentSession.isEmpty()
        && !m_sessionLookup.contains(changedPath)) {
        if (const auto session = m_sessionLookup.value(parentSession))
            session->loadSubagents();
        return;
    }
    if (const auto session = m_sessionLookup.value(changedPath)) {
        session->updateMessages();
        Q_EMIT TVLChangeHub::shared().sessionDidUpdate(session.get());
    } else {
        // A transcript that is already gone again (a temporary file, a rename) is not a session.
        auto created = QFileInfo::exists(changedPath) ? TVLSession::initWithPath(changedPath) : nullptr;
        if (!created) {
            updateDisplayChildren();
            return;
        }
        created->setParent(this);
        SessionLookup lookup = m_sessionLookup;
        lookup.insert(changedPath, std::move(created));
        setSessionLookup(std::move(lookup));
    }
    // 6.
    updateDisplayChildren();
}

void TVLProject::routeToSubproject(const QString &subprojectPath, const QString &changedPath)
{
    for (const auto &subproject : m_subprojects) {
        if (subproject->path() == subprojectPath) {
            subproject->pathDidUpdate(changedPath);
            return;
        }
    }
    auto subproject = TVLSubproject::initWithRootDir(subprojectPath, tvlLastPathComponent(path()));
    if (!subproject)
        return;
    subproject->setParent(this);
    auto subprojects = m_subprojects;
    subprojects.push_back(subproject);
    setSubprojects(std::move(subprojects));
    subproject->pathDidUpdate(changedPath);
    updateDisplayChildren();
}

// MARK: - Outline

void TVLProject::updateFilters()
{
    if (!m_isLoaded) {
        setMatchesFilter(true);
        announce(TVLProperty::DisplayChildren);
        return;
    }
    TVLObject::updateFilters();
}

TVLObject::List TVLProject::displayChildren()
{
    // A project loading in the background shows its rows once it is done.
    if (!m_load)
        loadIfNeeded();
    return TVLObject::displayChildren();
}

std::optional<TVLTokenUsage> TVLProject::tokenUsage()
{
    if (!m_isLoaded)
        return std::nullopt;
    return TVLObject::tokenUsage();
}

QString TVLProject::displayTitle() const
{
    if (!m_mostRecentSessionDate.isValid())
        return noteTitle(m_projectName, QStringLiteral("No sessions found"));
    if (m_load)
        return noteTitle(m_projectName, loadingNote());
    if (!m_isLoaded)
        return noteTitle(m_projectName, QStringLiteral("Click to load project."));
    return m_projectName;
}

QString TVLProject::toolTip() const
{
    if (!m_mostRecentSessionDate.isValid())
        return QStringLiteral("No Sessions found for this project.\n\nIf this is unexpected, please check "
                              "\"Avoid auto-delete of transcripts\" in the Tavlo Help.");
    if (m_load)
        return loadingNote();
    if (!m_isLoaded)
        return QStringLiteral("Click to load project.");
    return TVLObject::toolTip();
}

void TVLProject::addToContextMenu(HVXMenu &menu)
{
    TVLObject::addToContextMenu(menu);
    // The parent's menu (the root's sort modes, or the project above a subproject); a project
    // opened on its own has none, and no separator hanging at the end.
    if (!parent())
        return;
    menu.addSeparator();
    parent()->addToContextMenu(menu.addMenuWithTitle(QStringLiteral("Projects")));
}

QString TVLProject::markdown() const
{
    if (!hvxIsModifierHeld(HVXModifierOption))
        return {};
    return const_cast<TVLProject *>(this)->tokenUsageReportHTMLPerMessage(hvxIsModifierHeld(HVXModifierShift));
}

QString TVLProject::tokenUsageReportHTMLPerMessage(bool perMessage)
{
    loadIfNeeded();
    std::vector<TVLSession *> sessions;
    for (const auto &session : std::as_const(m_sessionLookup))
        sessions.push_back(session.get());
    return TVLUsageReport::reportForSessions(m_projectName, std::move(sessions), perMessage);
}
