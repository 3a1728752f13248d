#include "TVLUsageCommand.h"

#include "TVLCommandLine.h"
#include "TVLUsageSummaryCommand.h"
#include "Tavlo/DataObjects/TVLSession.h"
#include "Tavlo/DataObjects/TVLProject.h"
#include "Tavlo/DataObjects/TVLProjectNames.h"
#include "Tavlo/DataObjects/TVLUsageReport.h"

#include "Halvex/cmark/HVXMarkDown.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>

namespace {
const QString perMessageOption = QStringLiteral("per-message");
const QString htmlOption = QStringLiteral("html");

// The name the outline shows: a subproject's after its project's name and "--", a project's
// after its last "-".
QString projectNameForDirectory(const QString &directory)
{
    const QFileInfo info(directory);
    const QString root = info.absolutePath();
    const QString parent = TVLProjectNames::parentProjectDirectory(root, info.fileName(), TVLProjectNames::directoriesIn(root));
    if (!parent.isEmpty())
        return TVLProjectNames::subprojectName(info.fileName(), parent);
    return TVLProject::plainNameForDirectory(directory);
}

QString alignedTable(const std::vector<TVLUsageReport::Row> &rows)
{
    const QLocale locale;
    const QStringList header = {QStringLiteral("Exchange / Skill"), QStringLiteral("Input"), QStringLiteral("Output"),
                                QStringLiteral("Cache create"), QStringLiteral("Cache read")};
    QList<QStringList> lines;
    for (const auto &row : rows) {
        if (row.kind == TVLUsageReport::Row::ExchangeHeader)
            lines.append({row.name});
        else
            lines.append({QStringLiteral("  ") + row.name, locale.toString(row.input), locale.toString(row.output),
                          locale.toString(row.cacheCreate), locale.toString(row.cacheRead)});
    }
    QList<qsizetype> widths;
    for (const QString &title : header)
        widths.append(title.size());
    for (const QStringList &line : lines)
        if (line.size() == header.size())
            for (qsizetype i = 0; i < line.size(); ++i)
                widths[i] = qMax(widths[i], line[i].size());
    auto format = [&](const QStringList &line) {
        if (line.size() == 1)
            return line.first();
        QString text = line[0].leftJustified(widths[0]);
        for (qsizetype i = 1; i < line.size(); ++i)
            text += QStringLiteral("  ") + line[i].rightJustified(widths[i]);
        return text;
    };
    QString table = format(header) + QLatin1Char('\n');
    for (const QStringList &line : lines)
        table += format(line) + QLatin1Char('\n');
    return table;
}

int runUsage(const QCommandLineParser &parser, QTextStream &out, QTextStream &err)
{
    if (TVLUsageSummaryCommand::wantsSummary(parser))
        return TVLUsageSummaryCommand::run(parser, out, err);
    const QStringList arguments = parser.positionalArguments();
    if (arguments.size() != 1)
        return TVLCommandLine::usageError(QStringLiteral("usage"), QStringLiteral("give one project directory"), err);
    const auto directory = TVLCommandLine::checkedPath(arguments.first(), true, err);
    if (!directory)
        return 1;
    std::vector<std::shared_ptr<TVLSession>> sessions;
    const QFileInfoList entries = QDir(*directory).entryInfoList({QStringLiteral("*.jsonl")}, QDir::Files | QDir::Hidden);
    if (entries.isEmpty()) {
        err << "tavlo: " << arguments.first() << " holds no session transcripts (.jsonl files); is it a project directory?\n";
        return 1;
    }
    for (const QFileInfo &entry : entries)
        if (auto session = TVLSession::initWithPath(entry.absoluteFilePath()))
            sessions.push_back(session);
    std::vector<TVLSession *> plain;
    for (const auto &session : sessions)
        plain.push_back(session.get());
    const auto rows = TVLUsageReport::rowsForSessions(plain, parser.isSet(perMessageOption));
    const QString name = projectNameForDirectory(*directory);
    if (parser.isSet(htmlOption))
        out << HVXMarkDown::htmlDocFromMarkdown(TVLUsageReport::htmlForRows(name, rows));
    else
        out << name << " \u2014 token usage\n\n" << alignedTable(rows);
    return 0;
}
} // namespace

TVLCommand TVLUsageCommand::command()
{
    return {QStringLiteral("usage"),
            QStringLiteral("PROJECT_DIR | PATH --by GROUP"),
            QStringLiteral("Prints the project's token usage: per exchange, by skill, sessions oldest first. With --by,\n"
                           "the usage and cost of a log root, project or session from the library index, each model call\n"
                           "counted once."),
            QList<QCommandLineOption>{QCommandLineOption(perMessageOption, QStringLiteral("List every message's usage under its exchange.")),
                                      QCommandLineOption(htmlOption, QStringLiteral("Write the report as an HTML document."))}
                + TVLUsageSummaryCommand::options(),
            runUsage};
}
