#pragma once
// The token-usage report of a project: per session (oldest first) and exchange, the exchange's
// total and its usage attributed to skills, as a Markdown heading and an HTML table.

#include <QString>
#include <memory>
#include <vector>

class TVLSession;
struct TVLTokenUsage;
class QLocale;

class TVLUsageReport final
{
public:
    static QString reportForSessions(const QString &projectName, std::vector<TVLSession *> sessions, bool perMessage);

    static QString escapeHTML(const QString &text);
    static QString exchangeHeader(const class TVLExchange &exchange);

    // One row of the report, also used by the plain-text table of the command line.
    struct Row
    {
        enum Kind { ExchangeHeader, Counts } kind;
        QString name;
        qint64 input = 0;
        qint64 output = 0;
        qint64 cacheCreate = 0;
        qint64 cacheRead = 0;
    };
    static std::vector<Row> rowsForSessions(std::vector<TVLSession *> sessions, bool perMessage);
    static QString htmlForRows(const QString &projectName, const std::vector<Row> &rows);
};
