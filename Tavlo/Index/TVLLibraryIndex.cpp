#include "TVLLibraryIndex.h"

#include "Halvex/Foundation/HVXCloseDescriptor.h"
#include "Halvex/Foundation/HVXLog.h"
#include "Halvex/Foundation/HVXParallel.h"
#include "TVLIndexFileReader.h"
#include "TVLSearchQuery.h"
#include "TVLSearchSnippet.h"
#include "Tavlo/DataObjects/TVLFlatSubagents.h"

#include <QDateTime>
#include <QDir>
#include <QThread>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStandardPaths>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <sqlite3.h>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr int kApplicationId = 0x54564c49;  // "TVLI"
constexpr qint64 kBytesPerTransaction = 256ll * 1024 * 1024;
constexpr int kResultsInFlight = 8;

const char *const kSchema = R"sql(
CREATE TABLE files(
    id INTEGER PRIMARY KEY,
    path TEXT NOT NULL UNIQUE,
    project TEXT NOT NULL,
    session TEXT NOT NULL,
    kind INTEGER NOT NULL,
    size INTEGER NOT NULL DEFAULT 0,
    modified INTEGER NOT NULL DEFAULT 0,
    inode INTEGER NOT NULL DEFAULT 0,
    indexed_to INTEGER NOT NULL DEFAULT 0,
    tail BLOB,
    last_exchange INTEGER,
    custom_title TEXT,
    ai_title TEXT,
    summary_title TEXT);
CREATE INDEX files_session ON files(session);
CREATE TABLE usage(
    key INTEGER PRIMARY KEY,
    file_id INTEGER NOT NULL,
    ts INTEGER NOT NULL,
    model TEXT NOT NULL,
    input INTEGER NOT NULL,
    output INTEGER NOT NULL,
    cache_create INTEGER NOT NULL,
    cache_read INTEGER NOT NULL,
    cache_5m INTEGER NOT NULL,
    cache_1h INTEGER NOT NULL);
CREATE INDEX usage_file ON usage(file_id);
-- The counted calls summed per file, model and quarter of an hour, made again for each file an
-- update touched: local days start on quarter hours in every time zone, so these sums answer
-- per day, month, project, session and model exactly, with a fraction of the rows.
CREATE TABLE usage_quarters(
    file_id INTEGER NOT NULL,
    model TEXT NOT NULL,
    quarter INTEGER NOT NULL,
    input INTEGER NOT NULL,
    output INTEGER NOT NULL,
    cache_create INTEGER NOT NULL,
    cache_read INTEGER NOT NULL,
    cache_5m INTEGER NOT NULL,
    cache_1h INTEGER NOT NULL,
    calls INTEGER NOT NULL,
    PRIMARY KEY(file_id, model, quarter)) WITHOUT ROWID;
-- A call taken over by another file changes the sums of the file it leaves (usage_moved).
CREATE TABLE files_left(id INTEGER PRIMARY KEY);
CREATE TABLE exchanges(
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    file_id INTEGER NOT NULL,
    uuid TEXT NOT NULL,
    ts INTEGER NOT NULL,
    offset INTEGER NOT NULL,
    parts INTEGER NOT NULL DEFAULT 1);
CREATE INDEX exchanges_file ON exchanges(file_id, offset);
CREATE TABLE state(key TEXT PRIMARY KEY, value INTEGER NOT NULL);
INSERT INTO state VALUES('dead_parts', 0);
CREATE VIRTUAL TABLE exchange_text USING fts5(text, content = '', columnsize = 0,
                                              tokenize = 'unicode61 remove_diacritics 2');
)sql";

// The insert looks first rather than ignoring a conflict: the upsert that moves calls imposes its
// own conflict handling (abort) on the statements of its triggers, so a second call leaving the
// same file would fail the update. Files made with the ignoring version get this one on opening.
const char *const kUsageMovedTrigger = R"sql(
CREATE TRIGGER usage_moved AFTER UPDATE OF file_id ON usage WHEN old.file_id <> new.file_id BEGIN
    INSERT INTO files_left SELECT old.file_id WHERE NOT EXISTS (SELECT 1 FROM files_left WHERE id = old.file_id);
END;
)sql";

// The full-text table keeps no text, only its index: the text is in the transcripts, and the
// snippet of a result is made from there. A row of it is one part of an exchange's text (the
// first read, then what each later read appended), numbered exchange id << kPartBits | part.
// Exchange ids are never reused, so the rows of a forgotten exchange, which a table without
// its text can't delete, match nothing; when they become too many the index starts over.
constexpr int kPartBits = 16;
constexpr qint64 kMaxPart = (1 << kPartBits) - 1;
constexpr qint64 kDeadPartsBeforeRebuild = 200000;

struct FileStat
{
    qint64 size = -1;
    qint64 modified = 0;
    qint64 inode = 0;
};

FileStat statPath(const QString &path)
{
    FileStat result;
#ifdef Q_OS_UNIX
    struct stat status;
    if (::stat(QFile::encodeName(path).constData(), &status) == 0 && S_ISREG(status.st_mode)) {
        result.size = status.st_size;
        result.modified = qint64(status.st_mtim.tv_sec) * 1000 + status.st_mtim.tv_nsec / 1000000;
        result.inode = qint64(status.st_ino);
    }
#else
    const QFileInfo info(path);
    if (info.isFile()) {
        result.size = info.size();
        result.modified = info.lastModified().toMSecsSinceEpoch();
    }
#endif
    return result;
}

// sum() of integers that saturates at the 64-bit limits: SQLite's own fails the statement with
// "integer overflow", which would roll back a whole update for one file that claims huge counts.
void saturatingSumStep(sqlite3_context *context, int, sqlite3_value **values)
{
    auto *sum = static_cast<qint64 *>(sqlite3_aggregate_context(context, sizeof(qint64)));
    if (sum && sqlite3_value_type(values[0]) != SQLITE_NULL)
        *sum = TVLTokenUsage::add(*sum, sqlite3_value_int64(values[0]));
}

void saturatingSumFinal(sqlite3_context *context)
{
    const auto *sum = static_cast<qint64 *>(sqlite3_aggregate_context(context, 0));
    sqlite3_result_int64(context, sum ? *sum : 0);
}

QString textAt(sqlite3_stmt *statement, int column)
{
    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(statement, column));
    return QString::fromUtf8(text, sqlite3_column_bytes(statement, column));
}

// Scopes: every file below a directory, or one session with its sub-agents.
struct Scope
{
    bool session = false;
    QString value;  // the session path, or the directory with a trailing "/"
    QString upper;  // the first path after the directory's files
};

Scope scopeForPath(const QString &path)
{
    Scope scope;
    const QString clean = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    if (QFileInfo(clean).isFile()) {
        scope.session = true;
        scope.value = clean;
    } else {
        scope.value = clean.endsWith(QLatin1Char('/')) ? clean : clean + QLatin1Char('/');
        scope.upper = scope.value.chopped(1) + QLatin1Char('0');  // '0' follows '/'
    }
    return scope;
}

const char *scopeCondition(const Scope &scope)
{
    return scope.session ? "f.session = ?1" : "f.path >= ?1 AND f.path < ?2";
}

struct DiscoveredFile
{
    QString path;
    QString project;
    QString session;
    TVLIndexFileContent::Kind kind = TVLIndexFileContent::Session;
    FileStat stat;
};

enum class EntryKind { Files, Directories };

// The names in a directory of one kind, sorted, that `wanted` accepts; none when it can't be
// read. Read with readdir where there is one: QDir matches name filters with regular
// expressions and looks at every entry, which is most of the time of an update that finds
// nothing changed.
QStringList namesIn(const QString &directory, EntryKind kind, const std::function<bool(QStringView)> &wanted)
{
    QStringList names;
#ifdef Q_OS_UNIX
    DIR *dir = ::opendir(QFile::encodeName(directory).constData());
    if (!dir)
        return names;
    while (const dirent *entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.' && (entry->d_name[1] == 0 || (entry->d_name[1] == '.' && entry->d_name[2] == 0)))
            continue;
        const QString name = QFile::decodeName(entry->d_name);
        if (!wanted(name))
            continue;
        bool isDirectory = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
            struct stat status;
            const QByteArray full = QFile::encodeName(directory + QLatin1Char('/') + name);
            isDirectory = ::stat(full.constData(), &status) == 0 && S_ISDIR(status.st_mode);
        }
        if (isDirectory == (kind == EntryKind::Directories))
            names << name;
    }
    ::closedir(dir);
#else
    const QDir dir(directory);
    for (const QString &name : dir.entryList((kind == EntryKind::Files ? QDir::Files : QDir::Dirs) | QDir::NoDotAndDotDot | QDir::Hidden))
        if (wanted(name))
            names << name;
#endif
    std::sort(names.begin(), names.end());
    return names;
}

bool isTranscriptName(QStringView name) { return name.endsWith(u".jsonl"); }

// A directory's transcripts that `wanted` accepts, sorted by name, with their sizes and times,
// and the names of its directories. The files are looked at from the open directory, not by
// their whole paths: an update that finds nothing changed is mostly these looks.
struct Listing
{
    std::vector<std::pair<QString, FileStat>> files;
    QSet<QString> directories;
};

Listing listDirectory(const QString &directory, const std::function<bool(QStringView)> &wanted)
{
    Listing listing;
#ifdef Q_OS_UNIX
    DIR *dir = ::opendir(QFile::encodeName(directory).constData());
    if (!dir)
        return listing;
    while (const dirent *entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.' && (entry->d_name[1] == 0 || (entry->d_name[1] == '.' && entry->d_name[2] == 0)))
            continue;
        const QString name = QFile::decodeName(entry->d_name);
        if (entry->d_type == DT_DIR) {
            listing.directories.insert(name);
            continue;
        }
        // A link (or an entry of unknown type) may be a directory: it is looked at whatever its name.
        const bool mayBeDirectory = entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN;
        const bool isWanted = wanted(name);
        if (!isWanted && !mayBeDirectory)
            continue;
        struct stat status;
        if (::fstatat(::dirfd(dir), entry->d_name, &status, 0) != 0)
            continue;
        if (S_ISDIR(status.st_mode))
            listing.directories.insert(name);
        else if (isWanted && S_ISREG(status.st_mode))
            listing.files.push_back({name, {status.st_size, qint64(status.st_mtim.tv_sec) * 1000 + status.st_mtim.tv_nsec / 1000000,
                                            qint64(status.st_ino)}});
    }
    ::closedir(dir);
#else
    const QDir dir(directory);
    for (const QFileInfo &info : dir.entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden)) {
        if (info.isDir())
            listing.directories.insert(info.fileName());
        else if (wanted(info.fileName()))
            listing.files.push_back({info.fileName(), statPath(info.filePath())});
    }
#endif
    std::sort(listing.files.begin(), listing.files.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    return listing;
}

// The session and its sub-agents, and the agents of its workflow runs; `hasFolder` when a
// folder named after the session is beside it (where they are).
void addSession(const QString &sessionPath, const FileStat &stat, bool hasFolder, std::vector<DiscoveredFile> &files)
{
    if (stat.size < 0)
        return;
    const QFileInfo info(sessionPath);
    const QString project = info.absolutePath();
    files.push_back({sessionPath, project, sessionPath, TVLIndexFileContent::Session, stat});
    if (!hasFolder)
        return;
    const QString subagents = project + QLatin1Char('/') + info.completeBaseName() + QStringLiteral("/subagents");
    auto isAgentTranscript = [](QStringView name) { return name.startsWith(u"agent-") && isTranscriptName(name); };
    auto addFiles = [&](const QString &directory, const Listing &listing) {
        for (const auto &[name, fileStat] : listing.files) {
            const QString path = directory + QLatin1Char('/') + name;
            files.push_back({path, project, sessionPath, TVLIndexFileReader::kindForPath(path), fileStat});
        }
    };
    const Listing agents = listDirectory(subagents, isAgentTranscript);
    addFiles(subagents, agents);
    // The agents of the session's workflow runs count with it.
    if (!agents.directories.contains(QStringLiteral("workflows")))
        return;
    const QString workflows = subagents + QStringLiteral("/workflows");
    for (const QString &run : namesIn(workflows, EntryKind::Directories, [](QStringView) { return true; })) {
        const QString runDirectory = workflows + QLatin1Char('/') + run;
        addFiles(runDirectory, listDirectory(runDirectory, isAgentTranscript));
    }
}

void addProject(const QString &directory, const Listing &listing, std::vector<DiscoveredFile> &files)
{
    for (const auto &[name, stat] : listing.files) {
        const QString path = directory + QLatin1Char('/') + name;
        // An older assistant's sub-agent beside its session counts for that session.
        if (const QString session = TVLFlatSubagents::parentSessionPathOf(path); !session.isEmpty()) {
            files.push_back({path, directory, session, TVLIndexFileContent::Subagent, stat});
            continue;
        }
        addSession(path, stat, listing.directories.contains(name.chopped(6)), files);
    }
}

// A session file, a project (a directory holding transcripts), or a root of projects.
std::vector<DiscoveredFile> discover(const QString &path)
{
    std::vector<DiscoveredFile> files;
    const QString clean = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    const QFileInfo info(clean);
    if (info.isFile()) {
        addSession(clean, statPath(clean), true, files);
        for (const QString &flat : TVLFlatSubagents::subagentsOfSession(clean))
            files.push_back({flat, info.absolutePath(), clean, TVLIndexFileContent::Subagent, statPath(flat)});
        return files;
    }
    if (const Listing project = listDirectory(clean, isTranscriptName); !project.files.empty()) {
        addProject(clean, project, files);
        return files;
    }
    for (const QString &name : namesIn(clean, EntryKind::Directories, [](QStringView) { return true; })) {
        const QString project = clean + QLatin1Char('/') + name;
        addProject(project, listDirectory(project, isTranscriptName), files);
    }
    return files;
}
} // namespace

// MARK: - Statements

class TVLLibraryIndex::Statement
{
public:
    Statement(sqlite3 *db, const char *sql)
    {
        if (sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &m_statement, nullptr) != SQLITE_OK)
            m_statement = nullptr;
    }
    ~Statement() { sqlite3_finalize(m_statement); }
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    bool ok() const { return m_statement != nullptr; }
    sqlite3_stmt *get() const { return m_statement; }
    Statement &bind(int index, qint64 value)
    {
        sqlite3_bind_int64(m_statement, index, value);
        return *this;
    }
    Statement &bind(int index, const QString &text)
    {
        const QByteArray utf8 = text.toUtf8();
        sqlite3_bind_text(m_statement, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Statement &bindBlob(int index, const QByteArray &bytes)
    {
        sqlite3_bind_blob(m_statement, index, bytes.constData(), int(bytes.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Statement &bindNull(int index)
    {
        sqlite3_bind_null(m_statement, index);
        return *this;
    }
    // Runs a statement without rows; the result code of the step.
    int run()
    {
        const int result = sqlite3_step(m_statement);
        sqlite3_reset(m_statement);
        sqlite3_clear_bindings(m_statement);
        return result;
    }
    int step() { return sqlite3_step(m_statement); }
    void reset()
    {
        sqlite3_reset(m_statement);
        sqlite3_clear_bindings(m_statement);
    }

private:
    sqlite3_stmt *m_statement = nullptr;
};

struct TVLLibraryIndex::FileRow
{
    qint64 id = 0;
    QString path;
    FileStat stat;
    qint64 indexedTo = 0;
    QByteArray tail;
    qint64 lastExchange = 0;
};

struct TVLLibraryIndex::WorkItem
{
    DiscoveredFile file;
    qint64 id = 0;  // 0: not yet in the index
    qint64 offset = 0;
    QByteArray tail;
    qint64 lastExchange = 0;
};

// MARK: - Opening

QString TVLLibraryIndex::defaultDatabasePath()
{
    QString directory = qEnvironmentVariable("TAVLO_CACHE_DIR");
    if (directory.isEmpty())
        directory = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QStringLiteral("/Tavlo");
    return directory + QStringLiteral("/library.sqlite");
}

TVLLibraryIndex::TVLLibraryIndex(const QString &databasePath) : m_path(databasePath) { openOrSetAside(); }

void TVLLibraryIndex::openOrSetAside()
{
    if (open())
        return;
    // Busy is not damaged: another process is writing it, and the file is left to it.
    if (isBusy(m_lastFailure)) {
        HVXLogWarning(QStringLiteral("The library index '%1' is busy (another process is writing it); it is not used "
                                     "this time").arg(m_path));
        sqlite3_close_v2(m_db);
        m_db = nullptr;
        return;
    }
    moveAsideAndRecreate(QStringLiteral("it can't be read"));
}

bool TVLLibraryIndex::isBusy(int code) { return (code & 0xff) == SQLITE_BUSY || (code & 0xff) == SQLITE_LOCKED; }

int TVLLibraryIndex::s_busyTimeoutMs = 10000;

void TVLLibraryIndex::setBusyTimeout(int milliseconds) { s_busyTimeoutMs = milliseconds; }

bool TVLLibraryIndex::isCurrentFile()
{
    struct stat status;
    return ::stat(QFile::encodeName(m_path).constData(), &status) == 0 && qint64(status.st_ino) == m_inode;
}

bool TVLLibraryIndex::ensureCurrentFile()
{
    // Another connection (a thread, another process) may have set the file aside and made a new
    // one: this connection still has the old one open and would go on in what is now aside.
    if (m_db && !isCurrentFile()) {
        HVXLogWarning(QStringLiteral("The library index '%1' was replaced; opening the new one").arg(m_path));
        openOrSetAside();
    }
    return m_db != nullptr;
}

TVLLibraryIndex::~TVLLibraryIndex() { sqlite3_close_v2(m_db); }

bool TVLLibraryIndex::exec(const char *sql)
{
    char *message = nullptr;
    const int code = sqlite3_exec(m_db, sql, nullptr, nullptr, &message);
    if (code == SQLITE_OK)
        return true;
    noteFailure(code);
    HVXLogError(QStringLiteral("Library index '%1': %2").arg(m_path, QString::fromUtf8(message ? message : "error")));
    sqlite3_free(message);
    return false;
}

void TVLLibraryIndex::logError(const QString &what)
{
    HVXLogError(QStringLiteral("Library index '%1': %2: %3").arg(m_path, what, QString::fromUtf8(sqlite3_errmsg(m_db))));
}

namespace {
// Takes group and other access away from what this user owns. A shared directory (sticky, like
// /tmp) or someone else's is left alone.
void removeOthersAccess(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat status;
    if (::lstat(native.constData(), &status) != 0 || S_ISLNK(status.st_mode) || status.st_uid != ::getuid()
        || (status.st_mode & 077) == 0 || (S_ISDIR(status.st_mode) && (status.st_mode & S_ISVTX)))
        return;
    if (::chmod(native.constData(), status.st_mode & 0700) == 0)
        HVXLogWarning(QStringLiteral("'%1' could be read by other users; it is now private to you").arg(path));
}
} // namespace

// The index holds the text of every prompt and answer: only the user may read it.
void TVLLibraryIndex::makePrivate()
{
    const QString directory = QFileInfo(m_path).absolutePath();
    if (!QFileInfo::exists(directory))
        ::mkdir(QFile::encodeName(directory).constData(), 0700);
    QDir().mkpath(directory);
    removeOthersAccess(directory);
    // Made before SQLite would make it with the umask's permissions; its logs take the file's.
    const int created = ::open(QFile::encodeName(m_path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (created >= 0)
        hvxCloseDescriptor(created);
    for (const QString &suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")})
        removeOthersAccess(m_path + suffix);
}

bool TVLLibraryIndex::open()
{
    sqlite3_close_v2(m_db);
    m_db = nullptr;
    m_lastFailure = SQLITE_OK;
    makePrivate();
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(m_path).constData(), &db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr)
        != SQLITE_OK) {
        HVXLogError(QStringLiteral("Can't open the library index '%1': %2").arg(m_path, QString::fromUtf8(sqlite3_errmsg(db))));
        sqlite3_close_v2(db);
        return false;
    }
    m_db = db;
    sqlite3_busy_timeout(m_db, s_busyTimeoutMs);
    // The log files stay when the connection closes (emptied): one that was set aside meanwhile
    // would otherwise delete the new file's log by its name.
    int persistent = 1;
    sqlite3_file_control(m_db, "main", SQLITE_FCNTL_PERSIST_WAL, &persistent);
    struct stat status;
    m_inode = ::stat(QFile::encodeName(m_path).constData(), &status) == 0 ? qint64(status.st_ino) : 0;
    sqlite3_create_function_v2(m_db, "saturating_sum", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS, nullptr,
                               nullptr, saturatingSumStep, saturatingSumFinal, nullptr);
    if (!exec("PRAGMA synchronous = NORMAL; PRAGMA cache_size = -65536; PRAGMA journal_size_limit = 67108864;"))
        return false;
    // Any read of a damaged or foreign file fails here, before anything is trusted.
    if (!hasCurrentSchema() && !createSchema())
        return false;
    if (!repairTriggers())
        return false;
    useWriteAheadLog();
    return true;
}

// Readers go on while one connection writes. The switch needs the file to itself: it is asked
// for again while another connection is busy with it (the busy handler isn't called for it),
// and a file left in the other mode still works, only with less going on at once.
void TVLLibraryIndex::useWriteAheadLog()
{
    for (int attempt = 0; attempt < 200; ++attempt) {
        Statement mode(m_db, "PRAGMA journal_mode = WAL");
        const int code = mode.ok() ? mode.step() : sqlite3_errcode(m_db);
        if (code == SQLITE_ROW)
            return;
        if ((code & 0xff) != SQLITE_BUSY && (code & 0xff) != SQLITE_LOCKED)
            break;
        QThread::msleep(10);
    }
    HVXLogWarning(QStringLiteral("Library index '%1': readers will wait for writers: %2").arg(m_path, QString::fromUtf8(sqlite3_errmsg(m_db))));
}

bool TVLLibraryIndex::hasCurrentSchema()
{
    Statement version(m_db, "PRAGMA user_version");
    Statement application(m_db, "PRAGMA application_id");
    if (!version.ok() || !application.ok() || version.step() != SQLITE_ROW || application.step() != SQLITE_ROW) {
        m_lastFailure = sqlite3_extended_errcode(m_db);
        return false;
    }
    return sqlite3_column_int(version.get(), 0) == kSchemaVersion
        && sqlite3_column_int(application.get(), 0) == kApplicationId;
}

bool TVLLibraryIndex::createSchema()
{
    // Another connection (the viewer's other thread, a command run beside it) may be making the
    // tables of a new file at the same moment: the write lock is taken first, and under it the
    // file is looked at again, so the second one finds the tables made rather than failing on them.
    if (!exec("BEGIN IMMEDIATE"))
        return false;
    if (hasCurrentSchema())
        return exec("COMMIT");
    bool empty = false;
    {
        Statement count(m_db, "SELECT count(*) FROM sqlite_master");
        empty = count.ok() && count.step() == SQLITE_ROW && sqlite3_column_int(count.get(), 0) == 0;
    }
    if (!empty) {
        exec("ROLLBACK");
        return false;  // someone else's tables, or another version of ours
    }
    const QByteArray sql = kSchema + QByteArray(kUsageMovedTrigger) + QByteArray("PRAGMA user_version = ") + QByteArray::number(kSchemaVersion)
                         + "; PRAGMA application_id = " + QByteArray::number(kApplicationId) + "; COMMIT;";
    if (exec(sql.constData()))
        return true;
    exec("ROLLBACK");
    return false;
}

bool TVLLibraryIndex::repairTriggers()
{
    const auto current = [this] {
        Statement trigger(m_db, "SELECT sql FROM sqlite_master WHERE type = 'trigger' AND name = 'usage_moved'");
        return trigger.ok() && trigger.step() == SQLITE_ROW && !textAt(trigger.get(), 0).contains(QStringLiteral("OR IGNORE"));
    };
    if (current())
        return true;
    if (!exec("BEGIN IMMEDIATE"))
        return false;
    if (current())
        return exec("COMMIT");
    if (exec("DROP TRIGGER IF EXISTS usage_moved") && exec(kUsageMovedTrigger) && exec("COMMIT"))
        return true;
    exec("ROLLBACK");
    return false;
}

void TVLLibraryIndex::moveAsideAndRecreate(const QString &reason)
{
    sqlite3_close_v2(m_db);
    m_db = nullptr;
    const QString stem = m_path + QStringLiteral(".unusable-") + QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMddHHmmss"));
    QString aside = stem;
    for (int n = 2; QFileInfo::exists(aside) || QFileInfo::exists(aside + QStringLiteral("-wal")); ++n)
        aside = stem + QStringLiteral("-%1").arg(n);
    HVXLogWarning(QStringLiteral("The library index '%1' is set aside as '%2' and built again: %3").arg(m_path, aside, reason));
    // Moved, never deleted: another connection may have the file and its log open, and goes on
    // in them where they now are until it sees the new file.
    QFile::rename(m_path, aside);
    for (const QString &suffix : {QStringLiteral("-wal"), QStringLiteral("-shm")})
        if (QFileInfo::exists(m_path + suffix))
            QFile::rename(m_path + suffix, aside + suffix);
    if (!open()) {
        HVXLogError(QStringLiteral("The library index '%1' can't be created").arg(m_path));
        sqlite3_close_v2(m_db);
        m_db = nullptr;
    }
}

qint64 TVLLibraryIndex::countRows(const char *table)
{
    if (!m_db)
        return -1;
    Statement count(m_db, QByteArray(QByteArray("SELECT count(*) FROM ") + table).constData());
    if (!count.ok() || count.step() != SQLITE_ROW)
        return -1;
    return sqlite3_column_int64(count.get(), 0);
}

// MARK: - Updating

std::vector<TVLLibraryIndex::FileRow> TVLLibraryIndex::filesInScope(const QString &path)
{
    std::vector<FileRow> rows;
    const Scope scope = scopeForPath(path);
    const QByteArray sql = QByteArray("SELECT id, path, size, modified, inode, indexed_to, tail, last_exchange FROM files f WHERE ")
                         + scopeCondition(scope);
    Statement select(m_db, sql.constData());
    if (!select.ok())
        return rows;
    select.bind(1, scope.value);
    if (!scope.session)
        select.bind(2, scope.upper);
    int code;
    while ((code = select.step()) == SQLITE_ROW) {
        sqlite3_stmt *s = select.get();
        FileRow row;
        row.id = sqlite3_column_int64(s, 0);
        row.path = textAt(s, 1);
        row.stat = {sqlite3_column_int64(s, 2), sqlite3_column_int64(s, 3), sqlite3_column_int64(s, 4)};
        row.indexedTo = sqlite3_column_int64(s, 5);
        row.tail = QByteArray(static_cast<const char *>(sqlite3_column_blob(s, 6)), sqlite3_column_bytes(s, 6));
        row.lastExchange = sqlite3_column_int64(s, 7);
        rows.push_back(std::move(row));
    }
    if (code != SQLITE_DONE) {
        noteFailure(code);
        logError(QStringLiteral("can't list its files"));
    }
    return rows;
}

TVLLibraryIndex::UpdateResult TVLLibraryIndex::update(const QString &path, const std::function<void(const Progress &)> &progress,
                                                      const std::atomic<bool> *cancel)
{
    m_damaged = false;
    UpdateResult result = updateOnce(path, progress, cancel);
    if (m_damaged) {
        // A damaged page met on the way: what the index held can't be trusted, so it starts over.
        moveAsideAndRecreate(QStringLiteral("it is damaged"));
        m_damaged = false;
        result = updateOnce(path, progress, cancel);
    }
    return result;
}

void TVLLibraryIndex::noteFailure(int code)
{
    m_lastFailure = code;
    const int primary = code & 0xff;
    if (primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB)
        m_damaged = true;
}

TVLLibraryIndex::UpdateResult TVLLibraryIndex::updateOnce(const QString &path, const std::function<void(const Progress &)> &progress,
                                                          const std::atomic<bool> *cancel)
{
    UpdateResult result;
    if (!ensureCurrentFile())
        return result;

    startOverIfMostlyDead();
    // An older assistant's sub-agent beside its session is brought up to date with that session.
    const QString parentSession = TVLFlatSubagents::parentSessionPathOf(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
    const QString scope = parentSession.isEmpty() ? path : parentSession;
    const std::vector<DiscoveredFile> discovered = discover(scope);
    std::vector<FileRow> known;
    QHash<QString, const FileRow *> knownByPath;  // left: the files that are gone
    std::vector<WorkItem> work;
    Progress done;
    // What changed: the files on disk against what the index holds for them.
    auto plan = [&] {
        known = filesInScope(scope);
        knownByPath.clear();
        knownByPath.reserve(qsizetype(known.size()));
        for (const FileRow &row : known)
            knownByPath.insert(row.path, &row);
        work.clear();
        done = {};
        for (const DiscoveredFile &file : discovered) {
            const FileRow *row = knownByPath.take(file.path);
            WorkItem item;
            if (row) {
                if (row->stat.size == file.stat.size && row->stat.modified == file.stat.modified && row->stat.inode == file.stat.inode)
                    continue;
                item.id = row->id;
                const bool grew = row->stat.inode == file.stat.inode && file.stat.size >= row->indexedTo;
                item.offset = grew ? row->indexedTo : 0;
                item.tail = grew ? row->tail : QByteArray();
                item.lastExchange = row->lastExchange;
            }
            done.bytesTotal += file.stat.size - item.offset;
            item.file = file;
            work.push_back(std::move(item));
        }
        done.filesTotal = int(work.size());
    };
    plan();
    if (m_damaged)
        return result;
    // Nothing changed: no write lock is taken, so answers never wait for another writer.
    if (work.empty() && knownByPath.isEmpty()) {
        result.ok = true;
        return result;
    }

    Statement insertFile(m_db, "INSERT INTO files(path, project, session, kind) VALUES(?1, ?2, ?3, ?4)");
    // A title line read replaces the one before; a read of the whole file takes only its own.
    Statement updateFile(m_db, "UPDATE files SET size = ?2, modified = ?3, inode = ?4, indexed_to = ?5, tail = ?6, "
                               "last_exchange = ?7, custom_title = CASE WHEN ?11 THEN ?8 ELSE coalesce(?8, custom_title) END, "
                               "ai_title = CASE WHEN ?11 THEN ?9 ELSE coalesce(?9, ai_title) END, "
                               "summary_title = CASE WHEN ?11 THEN ?10 ELSE coalesce(?10, summary_title) END WHERE id = ?1");
    Statement deleteFile(m_db, "DELETE FROM files WHERE id = ?1");
    Statement deleteUsage(m_db, "DELETE FROM usage WHERE file_id = ?1");
    Statement countDeadParts(m_db, "UPDATE state SET value = value + (SELECT coalesce(sum(parts), 0) FROM exchanges "
                                   "WHERE file_id = ?1) WHERE key = 'dead_parts'");
    Statement deleteExchanges(m_db, "DELETE FROM exchanges WHERE file_id = ?1");
    // A model call is its message id within its session, and counts once there, where it was
    // written first: the session's own file, else its transcript first by path (asides and
    // forks copy their parent's calls), so the answer doesn't depend on the order files were
    // read in, and the viewer gives the same. Within one file the last line of a streamed
    // message has the final counts; a resumed session's replayed copy (no request id) keeps the
    // call at the time it was made.
    Statement upsertUsage(m_db, "INSERT INTO usage(key, file_id, ts, model, input, output, cache_create, cache_read, cache_5m, cache_1h) "
                                "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10) ON CONFLICT(key) DO UPDATE SET "
                                "file_id = excluded.file_id, ts = CASE WHEN ?11 AND usage.file_id = excluded.file_id THEN usage.ts "
                                "ELSE excluded.ts END, model = excluded.model, input = excluded.input, "
                                "output = excluded.output, cache_create = excluded.cache_create, cache_read = excluded.cache_read, "
                                "cache_5m = excluded.cache_5m, cache_1h = excluded.cache_1h "
                                "WHERE usage.file_id = excluded.file_id OR (SELECT kind <> 0, path FROM files WHERE id = excluded.file_id) "
                                "< (SELECT kind <> 0, path FROM files WHERE id = usage.file_id)");
    Statement insertExchange(m_db, "INSERT INTO exchanges(file_id, uuid, ts, offset) VALUES(?1, ?2, ?3, ?4)");
    Statement filesLeft(m_db, "DELETE FROM files_left RETURNING id");
    Statement deleteSums(m_db, "DELETE FROM usage_quarters WHERE file_id = ?1");
    // A call without a time (0) keeps a quarter of its own, the smallest; the others their
    // quarter counted down from the epoch, before it too.
    Statement insertSums(m_db, "INSERT INTO usage_quarters SELECT file_id, model, CASE WHEN ts = 0 THEN -9223372036854775807 - 1 "
                               "WHEN ts > 0 THEN ts / 900000 ELSE (ts - 899999) / 900000 END AS q, saturating_sum(input), "
                               "saturating_sum(output), saturating_sum(cache_create), saturating_sum(cache_read), "
                               "saturating_sum(cache_5m), saturating_sum(cache_1h), count(*) FROM usage "
                               "WHERE file_id = ?1 GROUP BY model, q");
    Statement insertText(m_db, "INSERT INTO exchange_text(rowid, text) VALUES(?1, ?2)");
    Statement addPart(m_db, "UPDATE exchanges SET parts = parts + 1 WHERE id = ?1 AND parts <= ?2 RETURNING parts - 1");
    for (const Statement *statement : {&insertFile, &updateFile, &deleteFile, &deleteUsage, &countDeadParts, &deleteExchanges,
                                       &upsertUsage, &insertExchange, &insertText, &addPart, &filesLeft, &deleteSums, &insertSums})
        if (!statement->ok()) {
            logError(QStringLiteral("can't prepare its statements"));
            return result;
        }

    // Files whose usage changed; their sums are made again before each commit.
    QSet<qint64> touched;
    auto forgetContent = [&](qint64 id) {
        touched.insert(id);
        deleteUsage.bind(1, id).run();
        countDeadParts.bind(1, id).run();
        deleteExchanges.bind(1, id).run();
    };

    if (!exec("BEGIN IMMEDIATE"))
        return result;
    // Under the write lock the rows are read again: another connection (the viewer's other
    // thread, a command beside it) may have brought the same files up to date since, and this
    // update builds on what it wrote rather than adding a file twice or reading its end again.
    plan();
    if (m_damaged) {
        exec("ROLLBACK");
        return result;
    }
    bool failed = false;
    auto check = [&](int code, const char *what) {
        if (code != SQLITE_DONE && !failed) {
            failed = true;
            noteFailure(code);
            logError(QString::fromUtf8(what));
        }
    };
    auto remakeSums = [&] {
        int code;
        while ((code = filesLeft.step()) == SQLITE_ROW)
            touched.insert(sqlite3_column_int64(filesLeft.get(), 0));
        filesLeft.reset();
        check(code, "can't list the files that left calls");
        for (const qint64 id : std::as_const(touched)) {
            check(deleteSums.bind(1, id).run(), "can't remove usage sums");
            check(insertSums.bind(1, id).run(), "can't sum usage");
        }
        touched.clear();
    };

    // Files that are gone.
    for (const FileRow *row : std::as_const(knownByPath)) {
        forgetContent(row->id);
        check(deleteFile.bind(1, row->id).run(), "can't forget a removed file");
        ++result.filesRemoved;
    }

    // Readers on worker threads hand their results over in the order of the work list, so the
    // database sees the files in a fixed order.
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::optional<TVLIndexFileContent>> results(work.size());
    size_t nextToRead = 0;
    size_t nextToWrite = 0;
    bool stop = false;
    auto reader = [&] {
        for (;;) {
            size_t index;
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return stop || nextToRead < nextToWrite + kResultsInFlight; });
                if (stop || nextToRead >= work.size())
                    return;
                index = nextToRead++;
            }
            const WorkItem &item = work[index];
            TVLIndexFileContent content = TVLIndexFileReader::read(item.file.path, item.file.kind, item.offset, item.tail);
            {
                std::lock_guard lock(mutex);
                results[index] = std::move(content);
            }
            changed.notify_all();
        }
    };
    const int threads = work.size() > 1 ? qBound(1, int(std::thread::hardware_concurrency()), 4) : (work.empty() ? 0 : 1);
    HVXHelperThreads readers(threads, reader);

    qint64 bytesInTransaction = 0;
    for (size_t index = 0; index < work.size() && !failed; ++index) {
        if (cancel && cancel->load()) {
            result.cancelled = true;
            break;
        }
        TVLIndexFileContent content;
        {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return results[index].has_value(); });
            content = std::move(*results[index]);
            results[index].reset();
            nextToWrite = index + 1;
        }
        changed.notify_all();

        WorkItem &item = work[index];
        if (!content.readable)
            continue;
        if (item.id != 0)
            touched.insert(item.id);
        if (item.id == 0) {
            check(insertFile.bind(1, item.file.path).bind(2, item.file.project).bind(3, item.file.session).bind(4, item.file.kind).run(),
                  "can't add a file");
            item.id = sqlite3_last_insert_rowid(m_db);
            touched.insert(item.id);
        } else if (content.fromStart) {
            forgetContent(item.id);
            item.lastExchange = 0;
        }
        for (const TVLIndexedUsage &usage : content.usages) {
            const TVLTokenUsage &u = usage.usage;
            const quint64 key = usage.messageId.isEmpty() ? usage.key : TVLIndexFileReader::usageKey(item.file.session, usage.messageId);
            upsertUsage.bind(1, qint64(key)).bind(2, item.id).bind(3, usage.timestamp).bind(4, usage.model);
            upsertUsage.bind(11, qint64(usage.withoutRequestId));
            upsertUsage.bind(5, u.inputTokens).bind(6, u.outputTokens).bind(7, u.cacheCreationInputTokens);
            upsertUsage.bind(8, u.cacheReadInputTokens).bind(9, u.ephemeral5mInputTokens).bind(10, u.ephemeral1hInputTokens);
            check(upsertUsage.run(), "can't store usage");
        }
        if (!content.continuedText.isEmpty() && item.lastExchange != 0) {
            // Past kMaxPart appended parts an exchange's further text is not searchable.
            addPart.bind(1, item.lastExchange).bind(2, kMaxPart - 1);
            if (addPart.step() == SQLITE_ROW) {
                const qint64 part = sqlite3_column_int64(addPart.get(), 0);
                addPart.reset();
                check(insertText.bind(1, item.lastExchange << kPartBits | part).bind(2, content.continuedText).run(),
                      "can't extend an exchange");
            } else {
                addPart.reset();
            }
        }
        for (const TVLIndexedExchange &exchange : content.exchanges) {
            check(insertExchange.bind(1, item.id).bind(2, exchange.uuid).bind(3, exchange.timestamp).bind(4, exchange.offset).run(),
                  "can't store an exchange");
            item.lastExchange = sqlite3_last_insert_rowid(m_db);
            check(insertText.bind(1, item.lastExchange << kPartBits).bind(2, exchange.text).run(), "can't store an exchange's text");
        }
        updateFile.bind(1, item.id).bind(2, content.size).bind(3, content.modified).bind(4, content.inode);
        updateFile.bind(5, content.indexedTo).bindBlob(6, content.tail);
        if (item.lastExchange != 0)
            updateFile.bind(7, item.lastExchange);
        else
            updateFile.bindNull(7);
        int column = 8;
        for (const QString *title : {&content.customTitle, &content.aiTitle, &content.summaryTitle}) {
            if (title->isEmpty())
                updateFile.bindNull(column++);
            else
                updateFile.bind(column++, *title);
        }
        updateFile.bind(11, qint64(content.fromStart));
        check(updateFile.run(), "can't record a file");

        const qint64 bytes = content.indexedTo - (content.fromStart ? 0 : item.offset);
        ++result.filesRead;
        result.bytesRead += bytes;
        ++done.filesDone;
        done.bytesDone += content.size - item.offset;
        bytesInTransaction += bytes;
        if (bytesInTransaction > kBytesPerTransaction) {
            bytesInTransaction = 0;
            remakeSums();
            if (failed || !exec("COMMIT") || !exec("BEGIN IMMEDIATE"))
                failed = true;
        }
        if (progress)
            progress(done);
    }

    {
        std::lock_guard lock(mutex);
        stop = true;
    }
    changed.notify_all();
    readers.join();

    if (!failed)
        remakeSums();
    if (failed) {
        exec("ROLLBACK");
        return result;
    }
    result.ok = exec("COMMIT");
    return result;
}

void TVLLibraryIndex::startOverIfMostlyDead()
{
    // The live parts are counted (a pass over every exchange) only when the dead ones are many.
    Statement dead(m_db, "SELECT value FROM state WHERE key = 'dead_parts'");
    if (!dead.ok() || dead.step() != SQLITE_ROW || sqlite3_column_int64(dead.get(), 0) < kDeadPartsBeforeRebuild)
        return;
    const qint64 deadParts = sqlite3_column_int64(dead.get(), 0);
    Statement live(m_db, "SELECT coalesce(sum(parts), 0) FROM exchanges");
    if (!live.ok() || live.step() != SQLITE_ROW || deadParts < sqlite3_column_int64(live.get(), 0) / 4)
        return;
    // Every file is read again: the text of the live exchanges is only in the transcripts.
    exec("BEGIN IMMEDIATE; DELETE FROM files; DELETE FROM usage; DELETE FROM usage_quarters; DELETE FROM exchanges; "
         "INSERT INTO exchange_text(exchange_text) VALUES('delete-all'); UPDATE state SET value = 0 WHERE key = 'dead_parts'; COMMIT;");
}

// MARK: - Answers

TVLLibraryIndex::UsageRecords TVLLibraryIndex::usageRecords(const QString &path, std::optional<qint64> since,
                                                            std::optional<qint64> until)
{
    UsageRecords answer;
    if (!ensureCurrentFile())
        return answer;
    const Scope scope = scopeForPath(path);
    // The files first, then their usage without a join, which keeps the rows plain numbers.
    const QByteArray filesSql = QByteArray("SELECT f.id, f.project, f.session FROM files f WHERE ") + scopeCondition(scope);
    Statement files(m_db, filesSql.constData());
    if (!files.ok()) {
        logError(QStringLiteral("can't read usage"));
        return answer;
    }
    QHash<qint64, int> fileById;
    QHash<QString, int> fileBySession;
    files.bind(1, scope.value);
    if (!scope.session)
        files.bind(2, scope.upper);
    while (files.step() == SQLITE_ROW) {
        const QString session = textAt(files.get(), 2);
        auto it = fileBySession.constFind(session);
        if (it == fileBySession.constEnd()) {
            it = fileBySession.insert(session, int(answer.files.size()));
            answer.files.push_back({textAt(files.get(), 1), session});
        }
        fileById.insert(sqlite3_column_int64(files.get(), 0), it.value());
    }
    // The sums per quarter of an hour answer whenever the bounds fall on quarters (local days
    // do); other bounds need the calls themselves. The sums are kept in file order, so a scope's
    // rows are one range of the table for each of its files.
    constexpr qint64 kQuarter = 900000;
    const qint64 from = since.value_or(std::numeric_limits<qint64>::min());
    const qint64 to = until.value_or(std::numeric_limits<qint64>::max());
    const bool bySums = (!since || *since % kQuarter == 0) && (!until || *until % kQuarter == 0);
    QByteArray usageSql = bySums ? QByteArray("SELECT file_id, CASE WHEN quarter = -9223372036854775807 - 1 THEN 0 "
                                              "ELSE quarter * 900000 END, model, input, output, cache_create, cache_read, "
                                              "cache_5m, cache_1h FROM usage_quarters WHERE quarter >= ?3 AND quarter < ?4")
                                 : QByteArray("SELECT file_id, ts, model, input, output, cache_create, cache_read, cache_5m, "
                                              "cache_1h FROM usage WHERE ts >= ?3 AND ts < ?4");
    // Through the file index for a part of the library; a root reads the whole table in its own
    // order and leaves out the rows of other files, which costs no seek a row.
    const bool readWholeTable = !scope.session && qint64(fileById.size()) * 4 >= countRows("files");
    if (!readWholeTable)
        usageSql += QByteArray(" AND file_id IN (SELECT f.id FROM files f WHERE ") + scopeCondition(scope) + ")";
    Statement select(m_db, usageSql.constData());
    if (!select.ok()) {
        logError(QStringLiteral("can't read usage"));
        return answer;
    }
    if (!readWholeTable) {
        select.bind(1, scope.value);
        if (!scope.session)
            select.bind(2, scope.upper);
    }
    if (bySums) {
        select.bind(3, since ? from / kQuarter : std::numeric_limits<qint64>::min());
        select.bind(4, until ? to / kQuarter : std::numeric_limits<qint64>::max());
    } else {
        select.bind(3, from);
        select.bind(4, to);
    }
    QHash<QByteArray, QString> models;
    while (select.step() == SQLITE_ROW) {
        sqlite3_stmt *s = select.get();
        const auto file = fileById.constFind(sqlite3_column_int64(s, 0));
        if (file == fileById.constEnd())
            continue;
        UsageRecord record;
        record.file = file.value();
        record.timestamp = sqlite3_column_int64(s, 1);
        const QByteArray model = QByteArray::fromRawData(reinterpret_cast<const char *>(sqlite3_column_text(s, 2)),
                                                         sqlite3_column_bytes(s, 2));
        auto found = models.constFind(model);
        if (found == models.constEnd())
            found = models.insert(QByteArray(model.constData(), model.size()), QString::fromUtf8(model));
        record.model = found.value();
        record.usage = {sqlite3_column_int64(s, 3), sqlite3_column_int64(s, 4), sqlite3_column_int64(s, 5),
                        sqlite3_column_int64(s, 6), sqlite3_column_int64(s, 7), sqlite3_column_int64(s, 8)};
        answer.records.push_back(std::move(record));
    }
    return answer;
}

QString TVLLibraryIndex::sessionTitle(const QString &sessionPath)
{
    if (!m_db)
        return {};
    Statement select(m_db, "SELECT coalesce(custom_title, ai_title, summary_title) FROM files WHERE path = ?1");
    if (select.ok() && select.bind(1, sessionPath).step() == SQLITE_ROW)
        if (const QString title = textAt(select.get(), 0); !title.isEmpty())
            return title;
    return firstPrompt(sessionPath);
}

QString TVLLibraryIndex::firstPrompt(const QString &sessionPath)
{
    if (!m_db)
        return {};
    Statement select(m_db, "SELECT e.offset, coalesce((SELECT min(n.offset) FROM exchanges n WHERE n.file_id = e.file_id "
                           "AND n.offset > e.offset), f.indexed_to) FROM files f JOIN exchanges e ON e.file_id = f.id "
                           "WHERE f.path = ?1 ORDER BY e.offset LIMIT 1");
    if (!select.ok() || select.bind(1, sessionPath).step() != SQLITE_ROW)
        return {};
    const qint64 offset = sqlite3_column_int64(select.get(), 0);
    // The prompt line is all that's needed; an exchange may be long.
    const qint64 end = qMin(sqlite3_column_int64(select.get(), 1), offset + (1 << 20));
    return TVLIndexFileReader::readExchange(sessionPath, offset, end).prompt;
}

std::optional<std::vector<TVLLibraryIndex::SearchHit>> TVLLibraryIndex::search(const QString &query, const QString &path,
                                                                               int limit, QString *error)
{
    std::vector<SearchHit> hits;
    if (!ensureCurrentFile()) {
        if (error)
            *error = QStringLiteral("the library index can't be opened");
        return std::nullopt;
    }
    const Scope scope = scopeForPath(path);
    // The matching parts best first; an exchange's first part in that order is its best. Each
    // new exchange is looked up in the scope until enough are found, so a query matching most
    // of the library costs its ranking and a few lookups. (Rows of forgotten exchanges find no
    // exchange and are passed over.)
    Statement ranked(m_db, "SELECT rowid >> 16, rank FROM exchange_text WHERE exchange_text MATCH ?1 ORDER BY rank");
    const QByteArray exchangeSql =
        QByteArray("SELECT f.project, f.path, e.uuid, e.ts, e.offset, coalesce((SELECT min(n.offset) FROM exchanges n "
                   "WHERE n.file_id = e.file_id AND n.offset > e.offset), f.indexed_to), "
                   "(SELECT coalesce(s.custom_title, s.ai_title, s.summary_title) FROM files s WHERE s.path = f.session) "
                   "FROM exchanges e JOIN files f ON f.id = e.file_id WHERE e.id = ?3 AND ")
        + scopeCondition(scope);
    Statement exchange(m_db, exchangeSql.constData());
    if (!ranked.ok() || !exchange.ok()) {
        logError(QStringLiteral("can't search"));
        return std::nullopt;
    }
    ranked.bind(1, TVLSearchQuery::forIndex(query));
    QSet<qint64> seen;
    int code = SQLITE_DONE;
    while ((limit <= 0 || int(hits.size()) < limit) && (code = ranked.step()) == SQLITE_ROW) {
        const qint64 id = sqlite3_column_int64(ranked.get(), 0);
        if (seen.contains(id))
            continue;
        seen.insert(id);
        exchange.bind(1, scope.value);
        if (!scope.session)
            exchange.bind(2, scope.upper);
        exchange.bind(3, id);
        if (exchange.step() != SQLITE_ROW) {
            exchange.reset();
            continue;
        }
        sqlite3_stmt *e = exchange.get();
        SearchHit hit;
        hit.project = textAt(e, 0);
        hit.session = textAt(e, 1);
        hit.exchangeUuid = textAt(e, 2);
        hit.timestamp = sqlite3_column_int64(e, 3);
        hit.rank = sqlite3_column_double(ranked.get(), 1);
        const qint64 offset = sqlite3_column_int64(e, 4);
        const qint64 end = sqlite3_column_int64(e, 5);
        hit.sessionTitle = textAt(e, 6);
        exchange.reset();
        // The snippet comes from the exchange's first MB: long tool output is no place for it.
        const TVLIndexedExchange text = TVLIndexFileReader::readExchange(hit.session, offset, end, 1 << 20);
        hit.prompt = text.prompt;
        hit.snippet = TVLSearchSnippet::snippet(text.text, query, QString(kMatchStart), QString(kMatchEnd));
        hits.push_back(std::move(hit));
    }
    if (code != SQLITE_DONE && code != SQLITE_ROW) {
        if (error)
            *error = QString::fromUtf8(sqlite3_errmsg(m_db));
        return std::nullopt;
    }
    return hits;
}
