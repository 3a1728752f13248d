#include "TVLChangesCommand.h"

#include "TVLCommandLine.h"
#include "TVLExportCommand.h"

#include "Halvex/Foundation/Categories/HVXString.h"
#include "Tavlo/DataObjects/TVLProject.h"
#include "Tavlo/DataObjects/TVLSession.h"
#include "Tavlo/DataObjects/TVLSessionChanges.h"
#include "Tavlo/DataObjects/TVLURL.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QSet>

namespace {
const QString jsonOption = QStringLiteral("json");
const QString kMinus = QStringLiteral("\u2212");

QString count(qint64 value) { return QLocale().toString(value); }

QString timeText(const QDateTime &time)
{
    return time.isValid() ? time.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm 'UTC'")) : QStringLiteral("no time");
}

QString plural(qint64 value, const QString &one, const QString &many)
{
    return count(value) + QLatin1Char(' ') + (value == 1 ? one : many);
}

// The rows, columns apart by two spaces: the first left-aligned, the counts right-aligned.
QString alignedTable(const QList<QStringList> &rows, qsizetype footerFrom)
{
    QList<qsizetype> widths(rows.first().size(), 0);
    for (const QStringList &row : rows)
        for (qsizetype i = 0; i < row.size(); ++i)
            widths[i] = qMax(widths[i], row[i].size());
    qsizetype total = 0;
    for (const qsizetype width : widths)
        total += width + 2;
    QString text;
    for (qsizetype r = 0; r < rows.size(); ++r) {
        if (r == footerFrom)
            text += QString(total - 2, QChar(0x2500)) + QLatin1Char('\n');
        QString line = rows[r][0].leftJustified(widths[0]);
        for (qsizetype i = 1; i < rows[r].size(); ++i)
            line += QStringLiteral("  ") + (i == rows[r].size() - 1 ? rows[r][i] : rows[r][i].rightJustified(widths[i]));
        while (line.endsWith(QLatin1Char(' ')))
            line.chop(1);
        text += line + QLatin1Char('\n');
    }
    return text;
}

QString sessionTable(const TVLSessionChanges &changes)
{
    QString text = QStringLiteral("Session %1, last changed %2")
                       .arg(QFileInfo(changes.sessionPath()).completeBaseName(), timeText(changes.sessionLastChangedAt()));
    if (!changes.workingDirectory().isEmpty())
        text += QStringLiteral(", in ") + hvxAddTilde(changes.workingDirectory());
    text += QStringLiteral("\n\n");
    if (changes.files().empty()) {
        text += QStringLiteral("No file was changed.\n");
    } else {
        QList<QStringList> rows{{QStringLiteral("File"), QStringLiteral("Edits"), QStringLiteral("+"), kMinus,
                                 QStringLiteral("Created")}};
        for (const auto &file : changes.files())
            rows.append({file.shownPath, count(file.appliedEdits), count(file.added), count(file.removed),
                         file.created ? QStringLiteral("yes") : QString()});
        rows.append({plural(qint64(changes.files().size()), QStringLiteral("file"), QStringLiteral("files")),
                     count(changes.appliedEdits()), count(changes.added()), count(changes.removed()),
                     count(changes.createdFiles())});
        text += alignedTable(rows, rows.size() - 1);
    }
    if (changes.failedEdits() > 0)
        text += plural(changes.failedEdits(), QStringLiteral("failed call"), QStringLiteral("failed calls"))
                + QStringLiteral(" changed nothing.\n");
    return text;
}

QJsonObject hunkAsJson(const TVLEditHunk &hunk)
{
    return {{QStringLiteral("oldStart"), hunk.oldStart},
            {QStringLiteral("oldLines"), hunk.oldLines},
            {QStringLiteral("newStart"), hunk.newStart},
            {QStringLiteral("newLines"), hunk.newLines},
            {QStringLiteral("lines"), QJsonArray::fromStringList(hunk.lines)}};
}

QJsonObject editAsJson(const TVLFileEdit &edit)
{
    QJsonArray hunks;
    for (const TVLEditHunk &hunk : edit.hunks)
        hunks.append(hunkAsJson(hunk));
    QJsonObject json{{QStringLiteral("tool"), edit.tool},
                     {QStringLiteral("toolUseId"), edit.toolUseId},
                     {QStringLiteral("path"), edit.filePath},
                     {QStringLiteral("exchange"), edit.exchangeUuid},
                     {QStringLiteral("url"), edit.url()},
                     {QStringLiteral("time"), edit.timestampMSecs
                                                  ? QJsonValue(QDateTime::fromMSecsSinceEpoch(edit.timestampMSecs, Qt::UTC)
                                                                   .toString(Qt::ISODateWithMs))
                                                  : QJsonValue(QJsonValue::Null)},
                     {QStringLiteral("created"), edit.created},
                     {QStringLiteral("failed"), edit.failed},
                     {QStringLiteral("added"), edit.added},
                     {QStringLiteral("removed"), edit.removed},
                     {QStringLiteral("hunks"), hunks}};
    if (edit.failed)
        json.insert(QStringLiteral("error"), edit.error);
    if (edit.inSubagent)
        json.insert(QStringLiteral("subagent"), edit.transcriptPath);
    return json;
}

QJsonObject projectAsJson(const QString &directory, const std::vector<TVLSessionChanges> &sessions)
{
    QJsonArray list;
    for (const auto &changes : sessions)
        list.append(TVLChangesCommand::changesAsJson(changes));
    return {{QStringLiteral("project"), directory}, {QStringLiteral("sessions"), list}};
}

QString projectTables(const std::vector<TVLSessionChanges> &sessions)
{
    QString text;
    QSet<QString> files;
    qint64 shown = 0, edits = 0, added = 0, removed = 0;
    for (const auto &changes : sessions) {
        if (changes.isEmpty())
            continue;
        text += (shown++ ? QStringLiteral("\n") : QString()) + sessionTable(changes);
        for (const auto &file : changes.files())
            files.insert(file.path);
        edits += changes.appliedEdits();
        added += changes.added();
        removed += changes.removed();
    }
    if (shown == 0)
        return QStringLiteral("No session of the project changed a file.\n");
    return text + QStringLiteral("\nIn all: %1 with changes, %2, %3, +%4 %5%6\n")
                      .arg(plural(shown, QStringLiteral("session"), QStringLiteral("sessions")),
                           plural(files.size(), QStringLiteral("file"), QStringLiteral("files")),
                           plural(edits, QStringLiteral("edit"), QStringLiteral("edits")), count(added), kMinus,
                           count(removed));
}

int runChanges(const QCommandLineParser &parser, QTextStream &out, QTextStream &err)
{
    const QStringList arguments = parser.positionalArguments();
    if (arguments.size() != 1)
        return TVLCommandLine::usageError(QStringLiteral("changes"),
                                          QStringLiteral("give one session transcript or project directory"), err);
    const bool json = parser.isSet(jsonOption);
    if (QFileInfo(arguments.first()).isDir()) {
        const auto directory = TVLCommandLine::checkedPath(arguments.first(), true, err);
        if (!directory)
            return 1;
        const auto project = QDir(*directory).entryList({QStringLiteral("*.jsonl")}, QDir::Files).isEmpty()
                                 ? nullptr
                                 : TVLProject::initWithRootDir(*directory);
        if (!project) {
            err << "tavlo: " << arguments.first()
                << " holds no session transcripts (.jsonl files); is it a project directory?\n";
            return 1;
        }
        const auto sessions = TVLSessionChanges::ofProject(*project);
        if (json)
            out << QJsonDocument(projectAsJson(*directory, sessions)).toJson(QJsonDocument::Indented);
        else
            out << projectTables(sessions);
        return 0;
    }
    const auto session = TVLExportCommand::openSession(arguments.first(), err);
    if (!session)
        return 1;
    const auto changes = TVLSessionChanges::ofSession(*session);
    if (json)
        out << QJsonDocument(TVLChangesCommand::changesAsJson(changes)).toJson(QJsonDocument::Indented);
    else
        out << sessionTable(changes);
    return 0;
}
} // namespace

QJsonObject TVLChangesCommand::changesAsJson(const TVLSessionChanges &changes)
{
    QJsonArray files;
    for (const auto &file : changes.files()) {
        QJsonArray edits;
        for (const TVLFileEdit &edit : file.edits)
            edits.append(editAsJson(edit));
        files.append(QJsonObject{{QStringLiteral("path"), file.path},
                                 {QStringLiteral("shownPath"), file.shownPath},
                                 {QStringLiteral("created"), file.created},
                                 {QStringLiteral("appliedEdits"), file.appliedEdits},
                                 {QStringLiteral("added"), file.added},
                                 {QStringLiteral("removed"), file.removed},
                                 {QStringLiteral("edits"), edits}});
    }
    QJsonArray unlisted;
    for (const TVLFileEdit &edit : changes.unlistedFailures())
        unlisted.append(editAsJson(edit));
    return {{QStringLiteral("session"), changes.sessionPath()},
            {QStringLiteral("url"), TVLURL::urlStringForPath(changes.sessionPath())},
            {QStringLiteral("workingDirectory"), changes.workingDirectory()},
            {QStringLiteral("totals"), QJsonObject{{QStringLiteral("files"), qint64(changes.files().size())},
                                                   {QStringLiteral("edits"), changes.appliedEdits()},
                                                   {QStringLiteral("failedEdits"), changes.failedEdits()},
                                                   {QStringLiteral("added"), changes.added()},
                                                   {QStringLiteral("removed"), changes.removed()},
                                                   {QStringLiteral("createdFiles"), changes.createdFiles()}}},
            {QStringLiteral("files"), files},
            {QStringLiteral("failedOnUnchangedFiles"), unlisted}};
}

TVLCommand TVLChangesCommand::command()
{
    return {QStringLiteral("changes"),
            QStringLiteral("SESSION.jsonl | PROJECT_DIR"),
            QStringLiteral("Prints the files a session and its sub-agents created or changed, in the order they were\n"
                           "first changed, with their edits and lines added and removed; for a project, each session's,\n"
                           "newest first."),
            {QCommandLineOption(jsonOption, QStringLiteral("Write JSON: every edit with its hunks and tvl:// link."))},
            runChanges};
}
