#pragma once
// One line of a transcript: the leaf of the tree. A message keeps the line's bytes as a view
// into the file buffer that its session read (shared, never copied) and the few fields the
// model works with: identifier, classification, exchange start, timestamp, usage and the ids
// that link sub-agents. Everything else (the Markdown of the page, the JSON for the debug view)
// is derived from the bytes on request, so a loaded project costs little more than its bytes.

#include "TVLObject.h"

#include <QByteArrayView>
#include <QJsonObject>

class TVLLineParser;

class TVLMessage final : public TVLObject
{
public:
    // A message for one line of text (tests and callers outside a session read).
    static std::shared_ptr<TVLMessage> initWithString(const QString &line);
    // A message for bytes [offset, offset + length) of a buffer that keeps at least
    // TVLLineParser::kPadding readable bytes after its end.
    static std::shared_ptr<TVLMessage> fromBuffer(TVLLineParser &parser, const std::shared_ptr<const QByteArray> &buffer,
                                                  qsizetype offset, qsizetype length);

    TVLMessage();

    QString raw() const;
    QByteArrayView rawBytes() const;
    // Whether the line parsed to a JSON object.
    bool hasJson() const { return m_flags.parsed; }
    // The parsed line, read again from the bytes; empty when it does not parse.
    QJsonObject json() const;

    const QString &uuid() const { return m_uuid; }
    // The classification ("user", "assistant – text", "user – Tool use", …); null when the line
    // has no type.
    const QString &type() const { return m_type; }
    // The line's own "type" value.
    const QString &lineType() const { return m_lineType; }
    bool exchangeStarter() const { return m_flags.exchangeStarter; }
    bool isCompactSummary() const { return m_flags.compactSummary; }
    bool hasSourceToolAssistantUuid() const { return m_flags.sourceToolAssistant; }
    bool isApiErrorMessage() const { return m_flags.apiError; }
    QDateTime timestamp() const;
    bool hasTimestamp() const { return m_timestampMSecs != kNoTimestamp; }
    qint64 timestampMSecs() const { return m_timestampMSecs; }

    const QString &messageId() const { return m_messageId; }   // message.id
    const QString &model() const { return m_model; }           // message.model
    const QString &promptId() const { return m_promptId; }
    // toolUseResult.agentId and .runId, and the tool_use_id of the line's first tool_result item.
    QString toolUseResultAgentId() const;
    QString toolUseResultRunId() const;
    QString toolResultToolUseId() const;
    // attributionSkill, read from the bytes.
    QString attributionSkill() const;

    // Page content.
    std::optional<QString> rawMarkdown() const;
    std::optional<QString> markdownForStructuredPatch() const;
    // The same with the fold limit of file edits given instead of read from the settings, so
    // that search can read lines on other threads. (A compact summary still needs the main
    // thread: its text comes from usage that reads of sub-agents set.)
    std::optional<QString> rawMarkdownWithPatchLineLimit(qint64 patchLineLimit) const;
    static qint64 patchLineLimit();
    // What the line shows on the page: the block's element id and class, and the Markdown
    // inside it (empty when the line shows nothing); with tool steps shown, its calls, results
    // and images too. The page converts and cleans each block on its own.
    struct PageBlock
    {
        QString id;
        QString kind;
        QString markdown;
    };
    PageBlock pageBlock() const;
    // The line's fragment of the page as one Markdown text: the block in its element.
    QString htmlBlock() const;
    QString markdown() const override;
    QString compactionBoundaryMarkdown() const;

    // Usage.
    std::optional<TVLTokenUsage> tokenUsage() override;
    const TVLTokenUsage *lineUsage() const { return m_lineUsage.get(); }
    const TVLTokenUsage *compactionUsage() const { return m_compactionUsage.get(); }
    void markUsageDuplicate();
    void markInDuplicateGroup();
    void injectCompactionUsage(std::optional<TVLTokenUsage> usage);
    bool usageDuplicate() const { return m_marks.usageDuplicate; }
    // A copy of a model call that another transcript of the session wrote first (an aside or a
    // fork repeats its parent's lines): it shows, but its usage counts there, not here.
    void setCountedElsewhere(bool elsewhere);
    bool countedElsewhere() const { return m_marks.countedElsewhere; }
    bool inDuplicateGroup() const { return m_marks.inDuplicateGroup; }

    QString displayTitle() const override;
    bool isLeaf() const override { return true; }
    List displayChildren() override { return {}; }
    QString description() const override;

private:
    friend class TVLLineParser;
    std::optional<QString> markdownForStructuredPatchWithLimit(qint64 limit) const;
    static constexpr qint64 kNoTimestamp = std::numeric_limits<qint64>::min();
    QString toolStepsHtml() const;
    std::optional<PageBlock> userShapeBlock() const;

    struct Extra
    {
        QString toolUseResultAgentId;
        QString toolUseResultRunId;
        QString toolResultToolUseId;
    };
    struct Flags
    {
        bool parsed : 1 = false;
        bool exchangeStarter : 1 = false;
        bool compactSummary : 1 = false;
        bool sourceToolAssistant : 1 = false;
        // The content is a list of objects none of which has a text: the line's text is empty
        // without parsing it again (tool results of a megabyte are such lines).
        bool contentWithoutText : 1 = false;
        // An assistant line that reports a failed call to the model (isApiErrorMessage).
        bool apiError : 1 = false;
        // A TVLUserText::Shape: what a user line's string content stands for.
        quint8 userShape : 3 = 0;
    };
    // Set by later reads of a growing file while searches may read the line on a worker
    // thread; kept apart from the line's own flags so the two never share a memory location.
    struct Marks
    {
        bool usageDuplicate = false;
        bool inDuplicateGroup = false;
        bool countedElsewhere = false;
    };

    std::shared_ptr<const QByteArray> m_buffer;
    qsizetype m_offset = 0;
    qsizetype m_length = 0;
    QString m_uuid;
    QString m_type;
    QString m_lineType;
    QString m_messageId;
    QString m_model;
    QString m_promptId;
    qint64 m_timestampMSecs = kNoTimestamp;
    std::unique_ptr<TVLTokenUsage> m_lineUsage;
    std::unique_ptr<TVLTokenUsage> m_compactionUsage;
    std::unique_ptr<Extra> m_extra;
    Flags m_flags;
    Marks m_marks;
};
