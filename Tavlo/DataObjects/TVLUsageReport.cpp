#include "TVLUsageReport.h"

#include "TVLExchange.h"
#include "TVLMessage.h"
#include "TVLSession.h"

#include <QLocale>
#include <algorithm>
#include <map>

namespace {
TVLUsageReport::Row countsRow(const QString &name, const TVLTokenUsage &usage)
{
    return {TVLUsageReport::Row::Counts, name, usage.inputTokens, usage.outputTokens, usage.cacheCreationInputTokens,
            usage.cacheReadInputTokens};
}

void appendExchangeRows(const TVLExchange &exchange, bool perMessage, std::vector<TVLUsageReport::Row> &rows)
{
    rows.push_back({TVLUsageReport::Row::ExchangeHeader, TVLUsageReport::exchangeHeader(exchange)});
    TVLTokenUsage total;
    TVLTokenUsage rest;
    std::vector<std::pair<QString, TVLTokenUsage>> attributed;
    for (TVLMessage *message : exchange.messages()) {
        if (message->usageDuplicate())
            continue;
        const auto usage = message->tokenUsage();
        if (!usage)
            continue;
        total.addUsage(*usage);
        const QString skill = message->attributionSkill();
        if (!skill.isEmpty())
            attributed.emplace_back(skill, *usage);
        else
            rest.addUsage(*usage);
    }
    rows.push_back(countsRow(QStringLiteral("total"), total));
    if (perMessage) {
        for (const auto &[skill, usage] : attributed)
            rows.push_back(countsRow(skill, usage));
    } else {
        std::map<QString, TVLTokenUsage> bySkill;  // ascending, case-sensitive
        for (const auto &[skill, usage] : attributed)
            bySkill[skill].addUsage(usage);
        for (const auto &[skill, usage] : bySkill)
            rows.push_back(countsRow(skill, usage));
    }
    if (!rest.isEmpty() && !attributed.empty())
        rows.push_back(countsRow(QStringLiteral("rest"), rest));
}
} // namespace

QString TVLUsageReport::escapeHTML(const QString &text)
{
    QString escaped = text;
    escaped.replace(QLatin1Char('&'), QLatin1String("&amp;"));
    escaped.replace(QLatin1Char('<'), QLatin1String("&lt;"));
    escaped.replace(QLatin1Char('>'), QLatin1String("&gt;"));
    return escaped;
}

QString TVLUsageReport::exchangeHeader(const TVLExchange &exchange)
{
    if (exchange.isPreamble())
        return QStringLiteral("Preamble");
    const TVLMessage *first = exchange.firstMessage();
    const std::optional<QString> text = first ? first->rawMarkdown() : std::nullopt;
    if (!text || text->isEmpty())
        return QStringLiteral("(empty)");
    QString header = *text;
    if (header.size() > 200) {
        qsizetype cut = 200;
        if (header.at(cut - 1).isHighSurrogate())
            --cut;
        header = header.left(cut);
    }
    header.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return header;
}

std::vector<TVLUsageReport::Row> TVLUsageReport::rowsForSessions(std::vector<TVLSession *> sessions, bool perMessage)
{
    std::stable_sort(sessions.begin(), sessions.end(), [](TVLSession *a, TVLSession *b) {
        const QDateTime &da = a->firstTimestamp(), &db = b->firstTimestamp();
        if (da.isValid() != db.isValid())
            return da.isValid();
        return da.isValid() && da < db;
    });
    std::vector<Row> rows;
    for (TVLSession *session : sessions) {
        for (const auto &exchange : session->exchanges()) {
            if (exchange->isPreamble()) {
                const auto usage = exchange->tokenUsage();
                if (!usage || usage->isEmpty())
                    continue;
            }
            appendExchangeRows(*exchange, perMessage, rows);
        }
    }
    return rows;
}

QString TVLUsageReport::htmlForRows(const QString &projectName, const std::vector<Row> &rows)
{
    const QLocale locale;
    QString text = QStringLiteral("# %1 \u2014 token usage\n\n").arg(projectName);
    text += QStringLiteral("<table class=\"usage-report\">\n<thead><tr><th>Exchange / Skill</th><th>Input</th><th>Output</th>"
                           "<th>Cache create</th><th>Cache read</th></tr></thead>\n<tbody>\n");
    for (const Row &row : rows) {
        if (row.kind == Row::ExchangeHeader) {
            text += QStringLiteral("<tr class=\"exchange-header\"><th colspan=\"5\">%1</th></tr>\n").arg(escapeHTML(row.name));
            continue;
        }
        text += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td><td>%4</td><td>%5</td></tr>\n")
                    .arg(escapeHTML(row.name), locale.toString(row.input), locale.toString(row.output),
                         locale.toString(row.cacheCreate), locale.toString(row.cacheRead));
    }
    text += QStringLiteral("</tbody></table>\n");
    return text;
}

QString TVLUsageReport::reportForSessions(const QString &projectName, std::vector<TVLSession *> sessions, bool perMessage)
{
    return htmlForRows(projectName, rowsForSessions(std::move(sessions), perMessage));
}
