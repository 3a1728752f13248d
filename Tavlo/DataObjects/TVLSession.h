#pragma once
// One transcript file (.jsonl): its lines become messages, grouped into exchanges at every
// prompt, with duplicate message.id groups marked, the values the outline shows (start, last
// change, first and last prompt, title) and the Markdown of the page. Sub-agent transcripts
// beside it are loaded at the end of every read. The file's bytes are kept once (a big file
// mapped, not copied: TVLFileBuffer); on a change only what was appended is read, and a file
// that did not just grow is read whole again.

#include "TVLObject.h"

#include <QHash>

#include <atomic>

class TVLBackgroundRead;
class TVLExchange;
class TVLMessage;
class TVLSubagent;
class TVLWorkflowRun;

// The bytes of a read, in the buffers its messages point into: one for a file read whole, and
// one more for every later read of what was appended. Each buffer begins at a line start and
// stands for the file up to where the next one begins.
struct TVLSessionBytes
{
    struct Piece
    {
        qsizetype fileOffset = 0;
        std::shared_ptr<const QByteArray> bytes;
    };
    std::vector<Piece> pieces;  // empty when the file could not be read
    qsizetype size = 0;         // the file's size at the read
    qsizetype linesEnd = 0;     // where its last complete line ends, after the "\n"
    // The file's modification time before the read, and whether it lay well before the read:
    // then any later write shows as a new time, and an unchanged time and size need no reading.
    qint64 modifiedNs = 0;
    bool modifiedWellBefore = false;

    // A mapped piece shows the file as it is now, not as it was read; the last bytes as read
    // are kept apart, so that a file written anew can still be told from one that only grew.
    static constexpr qsizetype kTailBytes = 64 * 1024;
    bool mapped = false;
    QByteArray tail;  // the last kTailBytes (or fewer) as read, when mapped

    // Whether `data` holds what this read had at [begin, end) of the file (pieces read into
    // memory only).
    bool matches(const char *data, qsizetype begin, qsizetype end) const;
    // Whether the file read whole again has the bytes of this read: all of them, or with a
    // mapped piece the same size and last bytes.
    bool sameAs(const QByteArray &file) const;
    // Whether this read ended with `bytes` (at most kTailBytes of them when mapped).
    bool endsWith(const QByteArray &bytes) const;
    // Sets `mapped` and `tail` once the pieces are in place.
    void noteMappedPieces();
};

// Shared between a read on a worker thread and its caller: the bytes read from the files and
// parsed so far, and a stop asked for by the caller (the read then ends early and its result
// is of no use).
struct TVLReadProgress
{
    std::atomic<qint64> readBytes{0};
    std::atomic<qint64> bytes{0};
    std::atomic<bool> cancelled{false};
};

// The result of reading and parsing a transcript file, made without touching any tree, so it
// can be built on a worker thread and applied on the main thread.
struct TVLSessionRead
{
    bool unchanged = false;  // the file's bytes equal the last read's
    TVLSessionBytes bytes;
    std::vector<std::shared_ptr<TVLMessage>> messages;
    std::vector<std::shared_ptr<TVLExchange>> exchanges;
    QHash<QString, int> toolUseLineById;  // tool_use item id -> index of the first message carrying it
    // message.id -> its latest line: of every line read whole, or of the appended lines only
    // when the read extends the last one.
    QHash<QString, TVLMessage *> latestByMessageId;
    size_t lastExchangeFirstLine = 0;  // index of the first message of the last exchange

    // A read of what was appended keeps the first `keptMessages` messages of the last read and
    // the first `keptExchanges` exchanges as they were; with `extendsPrevious` the session's
    // indexes are extended by the rest rather than built again.
    size_t keptMessages = 0;
    size_t keptExchanges = 0;
    bool extendsPrevious = false;
    // Why the file could not be read at all (not a regular file, too large); empty when it was.
    QString problem;
    // Only the newest exchanges, read from the end of the file; sub-agents are left for the
    // whole read.
    bool newestOnly = false;

    // Reads of the sub-agent transcripts made along with this one (by path), taken by the
    // sub-agents that are new when it is applied; the others are read then.
    std::shared_ptr<QHash<QString, TVLSessionRead>> subagentReads;
};

class TVLSession : public TVLObject
{
public:
    // A session for a .jsonl file (read at once), or nullptr for anything else.
    static std::shared_ptr<TVLSession> initWithPath(const QString &path);
    // The same, but a file at or over the project's background threshold is read on a worker
    // thread (the session is loading until then; file events that arrive meanwhile are handled
    // after). Its newest exchanges (as many as a long page shows first) are read at once, from
    // the end of the file, and shown meanwhile; lines appended to the file are added to them.
    static std::shared_ptr<TVLSession> initWithPathInBackground(const QString &path);
    static constexpr qsizetype kNewestExchanges = 150;
    // Reads and parses the file. With the session of the last read (main thread only), an
    // unchanged file reads as unchanged, and a file that has only grown keeps the messages of
    // its complete lines and parses just what was appended.
    // Bytes read and parsed are added to `progress` as the read goes on.
    static TVLSessionRead readFile(const QString &path, const TVLSession *previous = nullptr,
                                   TVLReadProgress *progress = nullptr);
    // The sub-agent, aside, fork and compaction transcripts that belong to the session file.
    static QStringList attachedTranscriptPaths(const QString &path);
    // The last `count` exchanges of the file (or as many as it has), read from its end without
    // reading the rest (any thread).
    static TVLSessionRead readNewestExchanges(const QString &path, qsizetype count);
    // Reads the sub-agent transcripts of the session file into `read` (any thread).
    static void readSubagentFiles(const QString &path, TVLSessionRead &read, TVLReadProgress *progress = nullptr);

    TVLSession();
    ~TVLSession() override;

    bool isLoading() const override { return m_load != nullptr; }
    QString loadingNote() const override;

    // Reads the file again; true when its text changed.
    bool updateMessages();
    // Applies a read made by readFile (main thread).
    bool applyRead(TVLSessionRead read);
    void pathDidUpdate(const QString &changedPath) override;
    // A session watched on its own also watches its folder of sub-agent transcripts.
    QString monitoredPath() const override;
    bool monitorsDirectory(const QString &directory) const override;

    const std::vector<std::shared_ptr<TVLExchange>> &exchanges() const { return m_exchanges; }
    const std::vector<std::shared_ptr<TVLSubagent>> &subagents() const { return m_subagents; }
    const std::vector<std::shared_ptr<TVLWorkflowRun>> &workflowRuns() const { return m_workflowRuns; }
    // Every transcript attached to this session: the visible sub-agents, the compaction
    // transcripts read for their usage, and the agents of its workflow runs.
    std::vector<TVLSubagent *> attachedTranscripts() const;
    std::vector<TVLMessage *> messages() const;
    const TVLSessionBytes &lastReadBytes() const { return m_bytes; }

    const QDateTime &firstTimestamp() const { return m_firstTimestamp; }
    const std::optional<QString> &firstUserPrompt() const { return m_firstUserPrompt; }
    const std::optional<QString> &lastUserPrompt() const { return m_lastUserPrompt; }
    // The title the session carries: the one the user gave it (custom-title lines), else the one
    // the assistant made (ai-title), else its last summary; nothing when it has none.
    std::optional<QString> ownTitle() const;
    QString displayTitle() const override { return m_displayTitle; }
    QString fileName() const;
    // Why the file was not read (shown on its row); empty when it was.
    const QString &readProblem() const { return m_readProblem; }
    // The largest transcript read (half the machine's memory unless set, for tests).
    static qint64 maxFileSize();
    static void setMaxFileSize(qint64 bytes);
    // Called on the reading thread once a transcript is open and before it is read (tests hold
    // a read there); set only while no read runs.
    static void setOpenedForReadingObserver(std::function<void(const QString &path)> observer);

    QString markdown() const override;
    std::shared_ptr<TVLExchange> exchangeWithUuid(const QString &uuid) override;
    QString projectPath() const override;
    List displayChildren() override;
    quint16 tagSummary() override;
    void invalidateTagSummaryForMessageId(const QString &messageId) override;
    void sendFilterNotifications() override;
    void updateFilters() override;
    void addAdditionalTokenUsage(TVLTokenUsage &usage) override;

    // Titles and menus.
    virtual void updateDisplayTitle();
    QString formatDate(const QDateTime &date) const;
    QString formatDateRelative(const QDateTime &date, bool relative) const;
    static std::optional<QString> truncatePrompt(const std::optional<QString> &prompt);
    QString titleForWindowAndRecents() const;
    void addToContextMenu(HVXMenu &menu) override;

    // Sub-agents.
    // The folder beside the file that holds the session's sub-agent transcripts (S for S.jsonl).
    QString sessionFolder() const;
    QString subagentsDirectory() const;
    // Reads the sub-agent folder; sub-agents not known yet take their read from `prefetched`
    // when it holds one.
    void loadSubagents(QHash<QString, TVLSessionRead> *prefetched = nullptr);
    void resolveSubagentAnchors(const std::vector<std::shared_ptr<TVLSubagent>> &subagents);
    // Marks the lines of the attached transcripts whose calls the session counts elsewhere.
    void markCallsCountedElsewhere(std::vector<TVLSubagent *> transcripts);
    QString resolveTaskAnchorForAgentIdExchangeByMsgUuid(const QString &agentId,
                                                          const QHash<QString, QString> &exchangeByMessageUuid) const;
    QString resolveAcompactAnchorForPromptIdExchangeByMsgUuid(const QString &promptId,
                                                               const QHash<QString, QString> &exchangeByMessageUuid) const;
    // Credits each compaction transcript's usage to the compact summary line it belongs to: by
    // prompt id, else by time; one that belongs to no summary line counts for the session itself.
    void attachCompactionUsageFromSubagents(const std::vector<std::shared_ptr<TVLSubagent>> &subagents);
    const std::optional<TVLTokenUsage> &unpairedCompactionUsage() const { return m_unpairedCompactionUsage; }
    void setSubagents(std::vector<std::shared_ptr<TVLSubagent>> subagents);
    // The runs under subagents/workflows, each anchored at the exchange whose Workflow call
    // started it (called by loadSubagents).
    void loadWorkflowRuns(QHash<QString, TVLSessionRead> *prefetched = nullptr);
    void resolveWorkflowAnchors(const std::vector<std::shared_ptr<TVLWorkflowRun>> &runs);
    void setWorkflowRuns(std::vector<std::shared_ptr<TVLWorkflowRun>> runs);

    static void registerDefaults();

protected:
    void setDisplayTitle(const QString &title);
    void setExchanges(std::vector<std::shared_ptr<TVLExchange>> exchanges);
    const QHash<QString, QString> &exchangeByMessageUuid() const;
    const QHash<QString, int> &lineByResultAgentId() const;
    const QHash<QString, int> &latestLineByPromptId() const;
    QString anchorOfResultLine(int resultLine, const QHash<QString, QString> &exchangeByMessageUuid) const;

private:
    void finishLoadingInBackground();
    bool readAppendedLines(const QString &path, TVLSessionRead &read) const;
    static void groupRead(TVLSessionRead &read, const TVLSession *previous, const QString &fileName);
    static void groupIntoExchanges(TVLSessionRead &read, const TVLSession *previous);
    static qsizetype startOfNewestExchanges(const std::shared_ptr<const QByteArray> &buffer, qsizetype count);
    void followAppendsWhileLoading();
    void extendIndexes(const TVLSessionRead &read);
    void refilterAfterRead(const std::vector<std::shared_ptr<TVLExchange>> &previous);
    QDateTime computeFirstTimestamp() const;
    QDateTime computeLastChangedAt() const;
    std::optional<QString> computeFirstUserPrompt() const;
    std::optional<QString> computeLastUserPrompt() const;
    struct Titles
    {
        std::optional<QString> custom;
        std::optional<QString> ai;
        std::optional<QString> summary;
    };
    Titles computeTitles() const;
    void setUnpairedCompactionUsage(const std::optional<TVLTokenUsage> &usage);

    TVLBackgroundRead *m_load = nullptr;
    bool m_newestOnly = false;  // only the newest exchanges are read yet
    QStringList m_pathsChangedWhileLoading;
    std::vector<std::shared_ptr<TVLExchange>> m_exchanges;
    std::vector<std::shared_ptr<TVLSubagent>> m_subagents;
    // Compaction transcripts read for their usage but not shown; kept so that the next read of
    // the folder finds them already read.
    std::vector<std::shared_ptr<TVLSubagent>> m_hiddenCompactions;
    std::vector<std::shared_ptr<TVLWorkflowRun>> m_workflowRuns;
    std::optional<TVLTokenUsage> m_unpairedCompactionUsage;
    TVLSessionBytes m_bytes;
    QHash<QString, int> m_toolUseLineById;
    QHash<QString, TVLMessage *> m_latestByMessageId;
    size_t m_lastExchangeFirstLine = 0;
    // Built on first use, so anchoring many sub-agents stays linear, and extended by the lines
    // a live read appends.
    mutable std::optional<QHash<QString, QString>> m_exchangeByMessageUuid;
    mutable std::optional<QHash<QString, int>> m_lineByResultAgentId;
    mutable std::optional<QHash<QString, int>> m_latestLineByPromptId;
    QDateTime m_firstTimestamp;
    std::optional<QString> m_firstUserPrompt;
    std::optional<QString> m_lastUserPrompt;
    Titles m_titles;
    QString m_displayTitle;
    QString m_readProblem;
};
