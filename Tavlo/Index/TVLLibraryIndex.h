#pragma once
// The library index: an SQLite database in the user's cache directory that knows every
// transcript under the roots it was asked about (sessions, sub-agents, compactions), the usage
// of every model call in them, and the text of every exchange in a full-text (FTS5) table. It
// is a cache: deleting it loses nothing, and a file it can't use (damaged, another version) is
// moved aside, with its logs, and built again; a connection that finds its file replaced that
// way opens the new one. A file that is only busy is waited for, then left alone. The directory
// and files are private to the user (0700, 0600). Transcripts are only read.
//
// update() brings the index up to date for a path: a file that only grew is read from where the
// last read stopped, a rewritten one from the start, a removed one forgotten. Files are read on
// worker threads; the database is written by the calling thread. One object per thread; several
// objects and processes may use one database (SQLite's locking, with a busy timeout).

#include "Tavlo/DataObjects/TVLTokenUsage.h"

#include <QHash>
#include <QString>
#include <atomic>
#include <functional>
#include <optional>
#include <vector>

struct sqlite3;

class TVLLibraryIndex final
{
public:
    // Raised whenever what is stored for a line changes, so that an older index is built again.
    static constexpr int kSchemaVersion = 6;

    // $TAVLO_CACHE_DIR/library.sqlite when set, else library.sqlite in the user's cache
    // directory for Tavlo (~/.cache/Tavlo on Linux).
    static QString defaultDatabasePath();

    explicit TVLLibraryIndex(const QString &databasePath = defaultDatabasePath());
    ~TVLLibraryIndex();
    TVLLibraryIndex(const TVLLibraryIndex &) = delete;
    TVLLibraryIndex &operator=(const TVLLibraryIndex &) = delete;

    bool isOpen() const { return m_db != nullptr; }
    // How long a connection waits for another that holds the file (10 s unless set, for tests).
    static void setBusyTimeout(int milliseconds);
    const QString &databasePath() const { return m_path; }

    struct Progress
    {
        qint64 bytesDone = 0;
        qint64 bytesTotal = 0;
        int filesDone = 0;
        int filesTotal = 0;
    };
    struct UpdateResult
    {
        bool ok = false;
        bool cancelled = false;
        int filesRead = 0;
        qint64 bytesRead = 0;
        int filesRemoved = 0;
    };
    // Brings the index up to date for a log root, a project directory or a session file (with
    // its sub-agents). `progress` is called on the calling thread; setting `cancel` stops the
    // update after the files already read, which stay indexed.
    UpdateResult update(const QString &path, const std::function<void(const Progress &)> &progress = {},
                        const std::atomic<bool> *cancel = nullptr);

    // The model calls of one file and model in one quarter of an hour (or one call, when the
    // bounds asked for are not on quarters), as counted: each message id once in its session,
    // across the session's files. `timestamp` is the quarter's start, or the call's time.
    struct UsageRecord
    {
        qint64 timestamp = 0;
        int file = 0;  // index into usageFiles()
        QString model;
        TVLTokenUsage usage;
    };
    struct UsageFile
    {
        QString project;  // the project directory
        QString session;  // the session file; sub-agents and compactions count for their session
    };
    struct UsageRecords
    {
        std::vector<UsageFile> files;
        std::vector<UsageRecord> records;
    };
    // The usage under `path` (a root, project or session), between two times (ms since the
    // epoch, `until` excluded); answers from the index as it is, without updating it.
    UsageRecords usageRecords(const QString &path, std::optional<qint64> since = std::nullopt,
                              std::optional<qint64> until = std::nullopt);

    struct SearchHit
    {
        QString project;
        QString session;  // the transcript holding the exchange (a session or a sub-agent)
        QString exchangeUuid;
        qint64 timestamp = 0;
        QString prompt;
        QString sessionTitle;  // the title the session was given or made, empty when none
        QString snippet;  // the matches between kMatchStart and kMatchEnd
        double rank = 0;  // FTS5's bm25: lower is better
    };
    static constexpr QChar kMatchStart = QChar(0x02);
    static constexpr QChar kMatchEnd = QChar(0x03);
    // Exchanges matching an FTS5 query (words, "phrases", prefix*; case-insensitive), best
    // first. Nothing, with `error` set, when the query is not valid.
    std::optional<std::vector<SearchHit>> search(const QString &query, const QString &path, int limit,
                                                 QString *error = nullptr);

    // The first prompt of a session in the index, read from the transcript; empty when none.
    QString firstPrompt(const QString &sessionPath);
    // The session's own title: the one the user gave it, else the one the assistant made, else
    // the last summary, else its first prompt.
    QString sessionTitle(const QString &sessionPath);

    // Counts for tests and benchmarks.
    qint64 countRows(const char *table);

private:
    struct FileRow;
    struct WorkItem;
    class Statement;

    UpdateResult updateOnce(const QString &path, const std::function<void(const Progress &)> &progress,
                            const std::atomic<bool> *cancel);
    void noteFailure(int code);
    void startOverIfMostlyDead();
    bool open();
    void openOrSetAside();
    void makePrivate();
    bool isCurrentFile();
    bool ensureCurrentFile();
    static bool isBusy(int code);
    bool createSchema();
    bool hasCurrentSchema();
    bool repairTriggers();
    void useWriteAheadLog();
    void moveAsideAndRecreate(const QString &reason);
    bool exec(const char *sql);
    void logError(const QString &what);
    std::vector<FileRow> filesInScope(const QString &path);

    QString m_path;
    sqlite3 *m_db = nullptr;
    qint64 m_inode = 0;         // of the file m_db has open
    int m_lastFailure = 0;      // SQLite's code of the last failure
    bool m_damaged = false;
    static int s_busyTimeoutMs;
};
