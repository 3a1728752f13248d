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

void addOptions(QCommandLineParser &parser)
{
    parser.addOptions({{kBy, QStringLiteral("Group by day, month, project, session or model."), QStringLiteral("GROUP")},
                       {kSince, QStringLiteral("Only usage on or after this day (YYYY-MM-DD)."), QStringLiteral("DATE")},
                       {kUntil, QStringLiteral("Only usage on or before this day (YYYY-MM-DD)."), QStringLiteral("DATE")},
                       {kJson, QStringLiteral("Print JSON.")},
                       {kNoCost, QStringLiteral("Leave out the cost.")},
                       {kPrices, QStringLiteral("Use the price table in FILE (JSON)."), QStringLiteral("FILE")}});
}

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
    auto format = [&](const QStringList &line) {
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

QString TVLUsageSummaryCommand::helpText()
{
    return QStringLiteral(
        "Usage: tavlo usage PATH --by day|month|project|session|model [--since DATE] [--until DATE]\n"
        "                   [--json] [--no-cost] [--prices FILE]\n"
        "Token usage and cost of a log root, a project directory or a session, summed by GROUP. Each\n"
        "model call counts once, however many transcripts repeat it. The library index is brought up\n"
        "to date first. Without --by, a project directory gets its per-exchange report.\n");
}

bool TVLUsageSummaryCommand::wantsSummary(const QStringList &arguments)
{
    for (const QString &argument : arguments) {
        const QString name = argument.section(QLatin1Char('='), 0, 0);
        if (name == QLatin1String("--by") || name == QLatin1String("--since") || name == QLatin1String("--until")
            || name == QLatin1String("--json") || name == QLatin1String("--no-cost") || name == QLatin1String("--prices"))
            return true;
    }
    return false;
}

int TVLUsageSummaryCommand::run(const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    QCommandLineParser parser;
    addOptions(parser);
    if (!parser.parse(QStringList{QStringLiteral("tavlo usage")} + arguments)) {
        err << "tavlo usage: " << parser.errorText() << "\n" << helpText();
        return 2;
    }
    if (parser.positionalArguments().size() != 1) {
        err << helpText();
        return 2;
    }
    const auto grouping = TVLUsageSummary::groupingForName(parser.value(kBy).isEmpty() ? QStringLiteral("day") : parser.value(kBy));
    if (!grouping) {
        err << "tavlo usage: --by takes day, month, project, session or model, not \"" << parser.value(kBy) << "\"\n";
        return 2;
    }
    std::optional<qint64> since, until;
    for (const auto &[option, bound, lastDay] : {std::tuple{kSince, &since, false}, std::tuple{kUntil, &until, true}}) {
        if (!parser.isSet(option))
            continue;
        const auto day = TVLUsageSummary::dayFromText(parser.value(option));
        if (!day) {
            err << "tavlo usage: --" << option << " takes a day as YYYY-MM-DD, not \"" << parser.value(option) << "\"\n";
            return 2;
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
