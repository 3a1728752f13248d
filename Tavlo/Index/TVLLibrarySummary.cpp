#include "TVLLibrarySummary.h"

#include "Halvex/Foundation/Categories/HVXString.h"
#include "TVLIndexFileReader.h"
#include "TVLUsageSummary.h"

#include <QDate>
#include <QFileInfo>
#include <QLocale>
#include <QUrl>

namespace {
QString escaped(const QString &text) { return text.toHtmlEscaped(); }

QString money(double value) { return QStringLiteral("$") + QLocale(QLocale::English).toString(value, 'f', 2); }

QString tokens(qint64 count)
{
    const QLocale english(QLocale::English);
    if (count >= 1000000000)
        return english.toString(double(count) / 1e9, 'f', 1) + QStringLiteral(" B");
    if (count >= 1000000)
        return english.toString(double(count) / 1e6, 'f', 1) + QStringLiteral(" M");
    return english.toString(count);
}
} // namespace

QString TVLLibrarySummary::svgBarChart(const std::vector<std::pair<QString, double>> &bars, const QString &unit)
{
    constexpr int kHeight = 160, kBarWidth = 12, kGap = 3, kLeft = 8, kBottom = 22;
    double highest = 0;
    for (const auto &bar : bars)
        highest = qMax(highest, bar.second);
    const int width = kLeft * 2 + int(bars.size()) * (kBarWidth + kGap);
    // The chart scales to the page's width; its own size gives the proportions.
    QString svg = QStringLiteral("<svg class=\"usage-chart\" xmlns=\"http://www.w3.org/2000/svg\" width=\"100%\" "
                                 "viewBox=\"0 0 %1 %2\" role=\"img\">")
                      .arg(width)
                      .arg(kHeight + kBottom);
    svg += QStringLiteral("<line x1=\"%1\" y1=\"%2\" x2=\"%3\" y2=\"%2\" stroke=\"currentColor\" stroke-opacity=\"0.4\"/>")
               .arg(kLeft)
               .arg(kHeight)
               .arg(width - kLeft);
    for (size_t i = 0; i < bars.size(); ++i) {
        const auto &[label, value] = bars[i];
        const int x = kLeft + int(i) * (kBarWidth + kGap);
        const int height = highest > 0 ? qMax(value > 0 ? 1 : 0, int(value / highest * (kHeight - 10))) : 0;
        svg += QStringLiteral("<rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" fill=\"#4a7fd0\"><title>%5: %6</title></rect>")
                   .arg(x)
                   .arg(kHeight - height)
                   .arg(kBarWidth)
                   .arg(height)
                   .arg(escaped(label), escaped(unit == QLatin1String("USD") ? money(value) : tokens(qint64(value))));
        // A date under the first bar and every seventh after it.
        if (i % 7 == 0)
            svg += QStringLiteral("<text x=\"%1\" y=\"%2\" font-size=\"10\" fill=\"currentColor\">%3</text>")
                       .arg(x)
                       .arg(kHeight + 15)
                       .arg(escaped(label.mid(5)));
    }
    return svg + QStringLiteral("</svg>");
}

QString TVLLibrarySummary::markdownForPath(TVLLibraryIndex &index, const QString &path, const QString &title,
                                           const TVLPriceTable &prices, int days)
{
    const auto records = index.usageRecords(path);
    const auto byDay = TVLUsageSummary::summarize(records, TVLUsageSummary::Grouping::Day, prices);
    const auto bySession = TVLUsageSummary::summarize(records, TVLUsageSummary::Grouping::Session, prices);
    const bool priced = byDay.totals.unpricedModels.size() < byDay.totals.models.size();

    QString text = QStringLiteral("# %1 \u2014 usage\n\n").arg(escaped(title));
    if (records.records.empty())
        return text + QStringLiteral("No token usage recorded here yet.\n");
    const qsizetype sessions = qsizetype(bySession.rows.size());
    text += QStringLiteral("<p class=\"usage-totals\">%1 \u00b7 %2 tokens (%3 input, %4 output, %5 cache create, %6 cache read)")
                .arg(sessions == 1 ? QStringLiteral("1 session") : QStringLiteral("%1 sessions").arg(sessions))
                .arg(tokens(byDay.totals.usage.totalTokens()), tokens(byDay.totals.usage.inputTokens),
                     tokens(byDay.totals.usage.outputTokens), tokens(byDay.totals.usage.cacheCreationInputTokens),
                     tokens(byDay.totals.usage.cacheReadInputTokens));
    if (priced)
        text += QStringLiteral(" \u00b7 %1 at the list prices of %2").arg(money(byDay.totals.costUSD), escaped(prices.date()));
    text += QStringLiteral("</p>\n\n");

    // Every day of the window, those without usage as empty bars.
    QHash<QString, const TVLUsageSummary::Row *> rowForDay;
    QString lastDay;
    for (const auto &row : byDay.rows)
        if (QDate::fromString(row.key, Qt::ISODate).isValid()) {
            rowForDay.insert(row.key, &row);
            lastDay = row.key;
        }
    if (!lastDay.isEmpty()) {
        const QDate last = QDate::fromString(lastDay, Qt::ISODate);
        std::vector<std::pair<QString, double>> bars;
        QString rows;
        for (QDate day = last.addDays(-(days - 1)); day <= last; day = day.addDays(1)) {
            const QString key = day.toString(Qt::ISODate);
            const TVLUsageSummary::Row *row = rowForDay.value(key);
            bars.emplace_back(key, row ? (priced ? row->costUSD : double(row->usage.totalTokens())) : 0.0);
            if (row)
                rows.prepend(QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td><td>%4</td></tr>\n")
                                 .arg(key)
                                 .arg(row->sessions)
                                 .arg(tokens(row->usage.totalTokens()), priced ? money(row->costUSD) : QStringLiteral("\u2014")));
        }
        text += QStringLiteral("## %1 per day, the last %2 days\n\n").arg(priced ? QStringLiteral("Cost") : QStringLiteral("Tokens")).arg(days);
        text += QStringLiteral("<div class=\"usage-chart\">") + svgBarChart(bars, priced ? QStringLiteral("USD") : QStringLiteral("tokens"))
              + QStringLiteral("</div>\n\n");
        text += QStringLiteral("<table class=\"usage-days\">\n<thead><tr><th>Day</th><th>Sessions</th><th>Tokens</th><th>Cost</th></tr></thead>\n<tbody>\n")
              + rows + QStringLiteral("</tbody></table>\n\n");
    }

    text += QStringLiteral("## Busiest sessions\n\n<table class=\"usage-sessions\">\n<thead><tr><th>Session</th><th>Project</th>"
                           "<th>Tokens</th><th>Cost</th></tr></thead>\n<tbody>\n");
    for (size_t i = 0; i < bySession.rows.size() && i < 10; ++i) {
        const auto &row = bySession.rows[i];
        const QString title = index.sessionTitle(row.key);
        const QString name = title.isEmpty() ? QFileInfo(row.key).fileName() : title.left(80);
        const QUrl url(QStringLiteral("tvl://") + QUrl::toPercentEncoding(row.key, "/"));
        text += QStringLiteral("<tr><td><a href=\"%1\">%2</a></td><td>%3</td><td>%4</td><td>%5</td></tr>\n")
                    .arg(escaped(url.toString(QUrl::FullyEncoded)), escaped(name),
                         escaped(QFileInfo(QFileInfo(row.key).absolutePath()).fileName()), tokens(row.usage.totalTokens()),
                         row.unpricedModels.size() < row.models.size() ? money(row.costUSD) : QStringLiteral("\u2014"));
    }
    return text + QStringLiteral("</tbody></table>\n");
}
