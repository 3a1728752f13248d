#pragma once
// Finds the file-edit tool calls of one transcript (a session's or a sub-agent's) and pairs each
// with its result, exchange by exchange. Only lines that mention a tool call or a tool result are
// parsed, so a long transcript is read at the speed of a substring search.

#include "TVLFileEdit.h"

#include <QHash>
#include <simdjson.h>
#include <vector>

class TVLExchange;
class TVLMessage;

class TVLTranscriptEditReader final
{
public:
    // `anchorExchangeUuid` and `anchorSectionId` are the session's exchange that the edits of a
    // sub-agent belong to; empty for the session's own transcript, whose edits belong to the
    // exchange they are made in.
    TVLTranscriptEditReader(const QString &transcriptPath, bool inSubagent, const QString &anchorExchangeUuid = {},
                            const QString &anchorSectionId = {});

    void readExchange(const TVLExchange &exchange);
    // The edits in the order of their calls. Calls that had no usable result get their hunks from
    // their own input (which parses their lines again).
    std::vector<TVLFileEdit> takeEdits();
    // The working directory ("cwd") of the first line that made an edit call.
    const QString &workingDirectory() const { return m_workingDirectory; }

private:
    struct Call
    {
        const TVLMessage *line = nullptr;
        bool answered = false;
        bool hasResultHunks = false;
    };

    bool mayAnswerWaitingCall(QByteArrayView bytes) const;
    void awaitHunksFromLine(const QString &lineUuid);
    void readCalls(const simdjson::dom::object &line, const TVLMessage &message, const TVLExchange &exchange);
    void readResults(const simdjson::dom::object &line);
    void applyResultObject(qsizetype index, const simdjson::dom::object &result);
    void fillFromInput(qsizetype index);

    QString m_transcriptPath;
    bool m_inSubagent = false;
    QString m_anchorExchangeUuid;
    QString m_anchorSectionId;
    QString m_workingDirectory;
    std::vector<TVLFileEdit> m_edits;
    std::vector<Call> m_calls;
    QHash<QString, qsizetype> m_callByToolUseId;           // the latest call of each id
    QHash<QString, QList<qsizetype>> m_callsByLineUuid;    // the calls each line made
    QHash<QByteArray, qsizetype> m_unanswered;             // ids of the calls waiting for a result
    // Lines of calls whose result came without hunks, which a later line may repeat with them.
    static constexpr qsizetype kAwaitedLines = 16;
    QList<QByteArray> m_awaitingHunks;
};
