#include "TVLUsageSummaryCommand.h"

#include "Halvex/Foundation/Categories/HVXString.h"
#include "TVLCommandLine.h"
#include "TVLIndexProgress.h"
#include "Tavlo/Index/TVLUsageSummary.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QRegularExpression>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>

namespace {
const QString kBy = QStringLiteral("by");
const QString kSince = QStringLiteral("since");
const QString kUntil = QStringLiteral("until");
const QString kJson = QStringLiteral("json");
const QString kNoCost = QStringLiteral("no-cost");
const QString kPrices = QStringLiteral("prices");

QString costText(const TVLUsageSummary::Row &row)
{
    const bool anyPriced = row.unpricedModels.size() < row.models.size();
    if (!anyPriced)
        return QStringLiteral("\u2014");
    const QString text = QStringLiteral("$") + QLocale::c().toString(row.costUSD, 'f', 2);
    return row.unpricedModels.isEmpty() ? text : text + QLatin1Char('*');
}

// "claude-sonnet-4-5-20250929" reads as "sonnet-4-5".
QString shortModelName(QString model)
{
    static const QRegularExpression date(QStringLiteral("-\\d{8}$"));
    model.remove(date);
    if (model.startsWith(QLatin1String("claude-")))
        model.remove(0, 7);
    return model;
}

QString keyTitle(TVLUsageSummary::Grouping grouping)
{
    switch (grouping) {
    case TVLUsageSummary::Grouping::Day: return QStringLiteral("Day");
    case TVLUsageSummary::Grouping::Month: return QStringLiteral("Month");
    case TVLUsageSummary::Grouping::Project: return QStringLiteral("Project");
    case TVLUsageSummary::Grouping::Session: return QStringLiteral("Session");
    case TVLUsageSummary::Grouping::Model: return QStringLiteral("Model");
    }
    return {};
}

void printTable(const TVLUsageSummary::Summary &summary, TVLUsageSummary::Grouping grouping, bool withCost,
                QTextStream &out)
{
    const QLocale locale(QLocale::English);
    QStringList header = {keyTitle(grouping), QStringLiteral("Input"), QStringLiteral("Output"), QStringLiteral("Cache create"),
                          QStringLiteral("Cache read"), QStringLiteral("Total tokens")};
    if (withCost)
        header << QStringLiteral("Cost (USD)");
    const bool withModels = grouping != TVLUsageSummary::Grouping::Model;
    if (withModels)
        header << QStringLiteral("Models");
    auto cells = [&](const TVLUsageSummary::Row &row, const QString &key) {
        QStringList line = {key,
                            locale.toString(row.usage.inputTokens),
                            locale.toString(row.usage.outputTokens),
                            locale.toString(row.usage.cacheCreationInputTokens),
                            locale.toString(row.usage.cacheReadInputTokens),
                            locale.toString(row.usage.totalTokens())};
        if (withCost)
            line << costText(row);
        if (withModels) {
            QStringList models;
            for (const QString &model : row.models)
                models << shortModelName(model);
            line << models.join(QStringLiteral(", "));
        }
        return line;
    };
    QList<QStringList> lines;
    for (const auto &row : summary.rows)
        lines << cells(row, grouping == TVLUsageSummary::Grouping::Session ? hvxAddTilde(row.key) : row.key);
    const QStringList totals = cells(summary.totals, QStringLiteral("Total"));
    QList<qsizetype> widths;
    for (const QString &title : header)
        widths << title.size();
    for (const QStringList &line : lines + QList<QStringList>{totals})
        for (qsizetype i = 0; i < line.size(); ++i)
            widths[i] = qMax(widths[i], line[i].size());
    auto format = [&](const QStringList &line) -> QString {
        QString text = line[0].leftJustified(widths[0]);
        const qsizetype numbers = withModels ? line.size() - 1 : line.size();
        for (qsizetype i = 1; i < numbers; ++i)
            text += QStringLiteral("  ") + line[i].rightJustified(widths[i]);
        if (withModels)
            text += QStringLiteral("  ") + line.last();
        return text.trimmed() + QLatin1Char('\n');
    };
    out << format(header);
    for (const QStringList &line : lines)
        out << format(line);
    qsizetype ruleWidth = 0;
    for (qsizetype i = 0; i < (withModels ? widths.size() - 1 : widths.size()); ++i)
        ruleWidth += widths[i] + 2;
    out << QString(ruleWidth - 2, QChar(0x2500)) << '\n' << format(totals);
    if (withCost && !summary.totals.unpricedModels.isEmpty())
        out << "\n* without the tokens of models the price table doesn't name: "
            << summary.totals.unpricedModels.join(QStringLiteral(", ")) << '\n';
}

QJsonObject rowJson(const TVLUsageSummary::Row &row, bool withCost)
{
    QJsonObject object{{QStringLiteral("inputTokens"), row.usage.inputTokens},
                       {QStringLiteral("outputTokens"), row.usage.outputTokens},
                       {QStringLiteral("cacheCreationTokens"), row.usage.cacheCreationInputTokens},
                       {QStringLiteral("cacheCreation5mTokens"), row.usage.ephemeral5mInputTokens},
                       {QStringLiteral("cacheCreation1hTokens"), row.usage.ephemeral1hInputTokens},
                       {QStringLiteral("cacheReadTokens"), row.usage.cacheReadInputTokens},
                       {QStringLiteral("totalTokens"), row.usage.totalTokens()},
                       {QStringLiteral("sessions"), row.sessions},
                       {QStringLiteral("models"), QJsonArray::fromStringList(row.models)}};
    if (withCost) {
        const bool anyPriced = row.unpricedModels.size() < row.models.size();
        object.insert(QStringLiteral("costUSD"), anyPriced ? QJsonValue(row.costUSD) : QJsonValue(QJsonValue::Null));
        if (!row.unpricedModels.isEmpty())
            object.insert(QStringLiteral("unpricedModels"), QJsonArray::fromStringList(row.unpricedModels));
    }
    return object;
}
} // namespace

QList<QCommandLineOption> TVLUsageSummaryCommand::options()
{
    return {{kBy, QStringLiteral("Sum a log root, project or session (PATH) by day, month, project, session or model."),
             QStringLiteral("GROUP")},
            {kSince, QStringLiteral("With --by: only usage on or after this day (YYYY-MM-DD)."), QStringLiteral("DATE")},
            {kUntil, QStringLiteral("With --by: only usage on or before this day (YYYY-MM-DD)."), QStringLiteral("DATE")},
            {kJson, QStringLiteral("With --by: print JSON.")},
            {kNoCost, QStringLiteral("With --by: leave out the cost.")},
            {kPrices, QStringLiteral("With --by: use the price table in FILE (JSON) instead of the built-in one."),
             QStringLiteral("FILE")}};
}

bool TVLUsageSummaryCommand::wantsSummary(const QCommandLineParser &parser)
{
    for (const QString &name : {kBy, kSince, kUntil, kJson, kNoCost, kPrices})
        if (parser.isSet(name))
            return true;
    return false;
}

int TVLUsageSummaryCommand::run(const QCommandLineParser &parser, QTextStream &out, QTextStream &err)
{
    if (parser.positionalArguments().size() != 1)
        return TVLCommandLine::usageError(QStringLiteral("usage"), QStringLiteral("give one log root, project or session"), err);
    const auto grouping = TVLUsageSummary::groupingForName(parser.value(kBy).isEmpty() ? QStringLiteral("day") : parser.value(kBy));
    if (!grouping) {
        return TVLCommandLine::usageError(QStringLiteral("usage"),
                                          QStringLiteral("--by takes day, month, project, session or model, not \"%1\"")
                                              .arg(parser.value(kBy)),
                                          err);
    }
    std::optional<qint64> since, until;
    for (const auto &[option, bound, lastDay] : {std::tuple{kSince, &since, false}, std::tuple{kUntil, &until, true}}) {
        if (!parser.isSet(option))
            continue;
        const auto day = TVLUsageSummary::dayFromText(parser.value(option));
        if (!day) {
            return TVLCommandLine::usageError(QStringLiteral("usage"),
                                              QStringLiteral("--%1 takes a day as YYYY-MM-DD, not \"%2\"").arg(option, parser.value(option)),
                                              err);
        }
        // --until names the last day that counts.
        *bound = (lastDay ? day->addDays(1) : *day).startOfDay().toMSecsSinceEpoch();
    }
    const bool withCost = !parser.isSet(kNoCost);
    std::optional<TVLPriceTable> givenPrices;
    if (parser.isSet(kPrices)) {
        QString error;
        givenPrices = TVLPriceTable::fromFile(parser.value(kPrices), &error);
        if (!givenPrices) {
            err << "tavlo usage: the price table " << parser.value(kPrices) << " can't be used: " << error << "\n";
            return 2;
        }
    }
    const TVLPriceTable &prices = givenPrices ? *givenPrices : TVLPriceTable::builtIn();

    const QFileInfo info(parser.positionalArguments().first());
    if (!info.exists()) {
        err << "tavlo: " << info.filePath() << ": no such file or directory\n";
        return 1;
    }
    if (info.isFile() && info.suffix() != QLatin1String("jsonl")) {
        err << "tavlo: " << info.filePath() << " is not a session transcript (a .jsonl file)\n";
        return 1;
    }
    const QString path = info.absoluteFilePath();
    TVLLibraryIndex index;
    if (!tvlUpdateIndex(index, path, err))
        return 1;
    const auto summary = TVLUsageSummary::summarize(index.usageRecords(path, since, until), *grouping, prices);

    if (parser.isSet(kJson)) {
        QJsonArray rows;
        for (const auto &row : summary.rows) {
            QJsonObject object = rowJson(row, withCost);
            object.insert(QStringLiteral("key"), row.key);
            rows.append(object);
        }
        QJsonObject document{{QStringLiteral("path"), path},
                             {QStringLiteral("by"), parser.value(kBy).isEmpty() ? QStringLiteral("day") : parser.value(kBy)},
                             {QStringLiteral("totals"), rowJson(summary.totals, withCost)},
                             {QStringLiteral("rows"), rows}};
        if (withCost)
            document.insert(QStringLiteral("prices"),
                            QJsonObject{{QStringLiteral("date"), prices.date()}, {QStringLiteral("source"), prices.source()}});
        out << QJsonDocument(document).toJson(QJsonDocument::Indented);
        return 0;
    }
    out << "Token usage of " << hvxAddTilde(path);
    if (withCost)
        out << " (cost at the list prices of " << prices.date() << ")";
    out << "\n\n";
    printTable(summary, *grouping, withCost, out);
    return 0;
}
