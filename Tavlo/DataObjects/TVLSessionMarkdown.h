#pragma once
// A session, or one exchange, as Markdown to paste into a pull request, an issue or notes: each
// exchange under a heading of its time that links to it by its tvl:// address, the prompt as a
// quote and the answers as they were written. With tool steps, each tool call follows with its
// input and result as fenced blocks, and each file edit as a diff. Every fence is longer than any
// run of backticks inside it, so no text can close it early.

#include <QString>

class TVLExchange;
class TVLSession;
class TVLSessionChanges;

class TVLSessionMarkdown final
{
public:
    static QString forSession(TVLSession &session, bool toolSteps);
    static QString forExchange(TVLSession &session, const TVLExchange &exchange, bool toolSteps);

    // The text in a fenced code block with the info string (e.g. "diff").
    static QString fenced(const QString &text, const QString &info = {});
    // Each line of the text behind "> ".
    static QString quoted(const QString &text);

private:
    static QString exchangeSection(const QString &sessionPath, const TVLExchange &exchange,
                                   const TVLSessionChanges &changes, bool toolSteps);
};
