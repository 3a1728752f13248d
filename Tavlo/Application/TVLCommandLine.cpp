#include "TVLCommandLine.h"

#include "Tavlo/Viewer/TVLPageTemplate.h"

#include "Halvex/cmark/HVXMarkDown.h"
#include "TVLInspectCommand.h"
#include "TVLTreeCommand.h"
#include "Tavlo/DataObjects/TVLSession.h"
#include "Tavlo/DataObjects/TVLSubproject.h"
#include "Tavlo/DataObjects/TVLUsageReport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLocale>
#include <QSaveFile>

namespace {
bool hasFlag(QStringList &arguments, const QString &flag) { return arguments.removeAll(flag) > 0; }

std::optional<QString> takeOption(QStringList &arguments, const QString &option, bool &missingValue)
{
    const qsizetype at = arguments.indexOf(option);
    if (at < 0)
        return std::nullopt;
    if (at + 1 >= arguments.size()) {
        missingValue = true;
        arguments.removeAt(at);
        return std::nullopt;
    }
    const QString value = arguments.at(at + 1);
    arguments.remove(at, 2);
    return value;
}

std::shared_ptr<TVLSession> openSession(const QString &argument, QTextStream &err)
{
    const auto path = TVLCommandLine::checkedPath(argument, false, err);
    if (!path)
        return nullptr;
    if (QFileInfo(*path).suffix() != QLatin1String("jsonl")) {
        err << "tavlo: " << argument << " is not a session transcript (a .jsonl file)\n";
        return nullptr;
    }
    auto session = TVLSession::initWithPath(*path);
    if (!session)
        err << "tavlo: can't read the session " << argument << "\n";
    return session;
}

// The name the outline shows: a subproject's after its "--", a project's after its last "-".
QString projectNameForDirectory(const QString &directory)
{
    return TVLSubproject::extractSubprojectNameFromPath(directory).value_or(
        QFileInfo(directory).fileName().split(QLatin1Char('-')).last());
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
} // namespace

QString TVLCommandLine::usageText()
{
    return QStringLiteral(
        "Usage: tavlo [PATH | tvl://URL]...\n"
        "       tavlo export SESSION.jsonl [-o FILE]\n"
        "       tavlo usage PROJECT_DIR [--per-message] [--html]\n"
        "       tavlo inspect SESSION.jsonl --json\n"
        "       tavlo tree [PATH] [--depth N] [--json]\n"
        "\n"
        "Without a command, opens a viewer window on each path or URL (on the default log roots when\n"
        "there is none).\n");
}

std::optional<QString> TVLCommandLine::checkedPath(const QString &path, bool wantDirectory, QTextStream &err)
{
    const QFileInfo info(path);
    if (!info.exists()) {
        err << "tavlo: " << path << ": no such file or directory\n";
        return std::nullopt;
    }
    if (wantDirectory && !info.isDir()) {
        err << "tavlo: " << path << " is not a directory\n";
        return std::nullopt;
    }
    if (!wantDirectory && info.isDir()) {
        err << "tavlo: " << path << " is a directory, not a file\n";
        return std::nullopt;
    }
    if (!info.isReadable()) {
        err << "tavlo: " << path << ": permission denied\n";
        return std::nullopt;
    }
    return info.absoluteFilePath();
}

int TVLCommandLine::runExport(const QStringList &givenArguments, QTextStream &out, QTextStream &err)
{
    QStringList arguments = givenArguments;
    bool missingValue = false;
    const auto outputPath = takeOption(arguments, QStringLiteral("-o"), missingValue);
    if (missingValue || arguments.size() != 1) {
        err << usageText();
        return 2;
    }
    const auto session = openSession(arguments.first(), err);
    if (!session)
        return 1;
    // The page the viewer shows, with its scripts and styles inlined so that any browser opens it alone.
    const QString markdown = session->markdown();
    const QString body = markdown.isEmpty() ? QString() : HVXMarkDown::htmlFromMarkdown(markdown).value_or(QString());
    const QString html = TVLPageTemplate::shared().standaloneDocumentWithBody(body);
    if (!outputPath) {
        out << html;
        return 0;
    }
    QSaveFile file(*outputPath);
    if (!file.open(QIODevice::WriteOnly) || file.write(html.toUtf8()) < 0 || !file.commit()) {
        err << "tavlo: can't write " << *outputPath << ": " << file.errorString() << "\n";
        return 1;
    }
    return 0;
}

int TVLCommandLine::runUsage(const QStringList &givenArguments, QTextStream &out, QTextStream &err)
{
    QStringList arguments = givenArguments;
    const bool perMessage = hasFlag(arguments, QStringLiteral("--per-message"));
    const bool asHtml = hasFlag(arguments, QStringLiteral("--html"));
    if (arguments.size() != 1) {
        err << usageText();
        return 2;
    }
    const auto directory = checkedPath(arguments.first(), true, err);
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
    const auto rows = TVLUsageReport::rowsForSessions(plain, perMessage);
    const QString name = projectNameForDirectory(*directory);
    if (asHtml)
        out << HVXMarkDown::htmlDocFromMarkdown(TVLUsageReport::htmlForRows(name, rows));
    else
        out << name << " \u2014 token usage\n\n" << alignedTable(rows);
    return 0;
}

int TVLCommandLine::runInspect(const QStringList &givenArguments, QTextStream &out, QTextStream &err)
{
    QStringList arguments = givenArguments;
    const bool asJson = hasFlag(arguments, QStringLiteral("--json"));
    if (!asJson || arguments.size() != 1) {
        err << usageText();
        return 2;
    }
    const auto session = openSession(arguments.first(), err);
    if (!session)
        return 1;
    out << QJsonDocument(TVLInspectCommand::sessionAsJson(*session)).toJson(QJsonDocument::Indented);
    return 0;
}

std::optional<int> TVLCommandLine::run(const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    if (arguments.isEmpty())
        return std::nullopt;
    const QString command = arguments.first();
    const QStringList rest = arguments.mid(1);
    if (command == QLatin1String("--help") || command == QLatin1String("-h") || command == QLatin1String("help")) {
        out << usageText();
        return 0;
    }
    if (command == QLatin1String("--version")) {
        out << "Tavlo " << TAVLO_VERSION << "\n";
        return 0;
    }
    if (command == QLatin1String("export"))
        return runExport(rest, out, err);
    if (command == QLatin1String("usage"))
        return runUsage(rest, out, err);
    if (command == QLatin1String("inspect"))
        return runInspect(rest, out, err);
    if (command == QLatin1String("tree"))
        return runTreeCommand(rest, out, err);
    return std::nullopt;
}
