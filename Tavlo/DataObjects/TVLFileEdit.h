#pragma once
// One file-edit tool call of a transcript (Edit, MultiEdit, Write, NotebookEdit) as TVLSessionChanges
// lists it: which file, where in the session it was made, its hunks and what it did. A call whose
// result is an error changed nothing: it keeps no hunks and counts no lines.

#include <QString>
#include <QStringList>
#include <vector>

// A run of changed lines, as structuredPatch gives them: each line begins with "+" (added), "-"
// (removed) or " " (kept). Positions are 0 when unknown (a diff made from the call's own input).
struct TVLEditHunk
{
    qint64 oldStart = 0;
    qint64 oldLines = 0;
    qint64 newStart = 0;
    qint64 newLines = 0;
    QStringList lines;
};

struct TVLFileEdit
{
    QString tool;       // "Edit", "MultiEdit", "Write" or "NotebookEdit"
    QString toolUseId;  // the tool_use item's id
    QString filePath;   // absolute and cleaned
    // The exchange of the session the edit belongs to, and its section on the page; for an edit of
    // a sub-agent, the session's exchange that started the sub-agent (empty when unknown).
    QString exchangeUuid;
    QString sectionId;
    // Where the call was made: the session's transcript or a sub-agent's, the exchange there and
    // the call's line.
    QString transcriptPath;
    QString transcriptExchangeUuid;
    QString callUuid;
    bool inSubagent = false;
    qint64 timestampMSecs = 0;  // of the call's line; 0 when it has none

    std::vector<TVLEditHunk> hunks;
    qint64 added = 0;
    qint64 removed = 0;
    bool created = false;
    bool failed = false;
    QString error;  // the failed call's result text, cut to a line or two

    // The tvl:// address of the exchange where the call was made.
    QString url() const;
    // The hunks as the lines of a unified diff, a "@@" header before each hunk that has positions.
    QString diffText() const;
};
