#pragma once
// Writes a deterministic corpus of realistic transcripts for the benchmarks: sessions of a given
// size, projects of many sessions and log roots of many projects. Line sizes follow real
// transcripts (short prompts, assistant Markdown of 0.2-5 KB, tool results of 1-100 KB with the
// result repeated in toolUseResult, now and then a line of 1 MB or more); assistant messages
// stream as several lines sharing message.id with growing usage; sessions come with task
// sub-agents, asides and compactions in <session>/subagents. The same seed and shape always give
// the same bytes.

#include <QString>
#include <QStringList>
#include <functional>

// What one session looks like.
struct TVLCorpusShape
{
    qint64 targetBytes = 1 << 20;         // the session file grows to about this size
    qint64 exchanges = 0;                 // > 0: exactly this many exchanges, whatever the size
    int maxStepsPerExchange = 12;         // tool calls of one exchange at most
    qint64 maxToolResultBytes = 100 * 1024;
    double hugeLineChance = 0.0015;       // per tool result: a result of 1-3 MB
    bool subagents = true;                // task sub-agents and asides
    bool compactions = true;              // a compaction every few MB
    qint64 compactionEveryBytes = 3 << 20;
    // Shaped like long agent runs: up to 40 tool steps an exchange, long single-line results,
    // base64 screenshots, now and then a reply of hundreds of code blocks, more sub-agents,
    // short tool ids that repeat, "//" comment lines, compactions without promptId, and tool
    // results that don't name their call's line (older versions), each opening an exchange
    // that shows nothing.
    bool realShaped = false;

    // A text that names every field, for telling whether a stored corpus was made the same way.
    QString description() const;
};

// What was written.
struct TVLCorpusStats
{
    qint64 sessionFiles = 0;
    qint64 sessionBytes = 0;   // the session files themselves
    qint64 subagentFiles = 0;  // task sub-agents, asides and compaction transcripts
    qint64 subagentBytes = 0;
    qint64 lines = 0;          // lines of the session files
    qint64 exchanges = 0;
    qint64 compactions = 0;
    qint64 largestLine = 0;
    QStringList sessionPaths;
    QStringList promptUuids;   // exchange identifiers, in file order

    qint64 totalBytes() const { return sessionBytes + subagentBytes; }
    void add(const TVLCorpusStats &other);
    QString summary() const;
};

class TVLCorpusGenerator final
{
public:
    explicit TVLCorpusGenerator(quint64 seed = 20251103);

    // bench/corpus in the source tree (git-ignored).
    static QString defaultDirectory();

    // Writes the session file (creating its directory) and its sub-agent folder beside it.
    TVLCorpusStats writeSession(const QString &path, const TVLCorpusShape &shape);
    // A project directory of `sessions` sessions of `totalBytes` together, sizes uneven like real
    // ones, with a TavloMetaData.json that tags some exchanges.
    TVLCorpusStats writeProject(const QString &directory, int sessions, qint64 totalBytes);
    // A log root of `projects` project directories holding `sessionFiles` small sessions in all
    // (every 40th project also gets a subproject directory), for listing and discovery.
    TVLCorpusStats writeRoot(const QString &directory, int projects, int sessionFiles,
                             qint64 bytesPerSession = 4096);

    // The session <defaultDirectory()>/<name>/<id>.jsonl, written unless a previous run made it with
    // the same seed and shape (a stamp file beside it records both). Returns its path; fills stats.
    QString ensureSession(const QString &name, const TVLCorpusShape &shape, TVLCorpusStats *stats);

    // A corpus directory made once: `write` fills it (emptied first) unless a stamp in it says it
    // was made from this recipe already. Returns the directory.
    static QString ensureDirectory(const QString &directory, const QString &recipe, const std::function<void()> &write);

    // <directory>/<a UUID that follows from the seed and `name`>.jsonl, as session files are named.
    QString sessionPathIn(const QString &directory, const QString &name) const;

    // "1536", "10K", "20M", "1.5G" -> bytes (powers of 1024); -1 for anything else.
    static qint64 parseSize(const QString &text);
    static QString formatSize(qint64 bytes);
    // The shortest exact name of a size: "10M", "1G", "1536".
    static QString sizeName(qint64 bytes);

private:
    quint64 seedFor(const QString &what) const;

    quint64 m_seed;
};
