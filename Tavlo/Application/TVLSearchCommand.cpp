#include "TVLSearchCommand.h"

#include "Halvex/Foundation/Categories/HVXString.h"
#include "TVLCommandLine.h"
#include "TVLIndexProgress.h"
#include "Tavlo/DataObjects/TVLRoots.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>
#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {
const QString kLimit = QStringLiteral("limit");
const QString kJson = QStringLiteral("json");

QString exchangeUrl(const TVLLibraryIndex::SearchHit &hit)
{
    return QStringLiteral("tvl://%1?exchange=%2").arg(hit.session, hit.exchangeUuid);
}

// The snippet with its matches between `open` and `close`, on one line.
const QString kMatchMarks = QString(TVLLibraryIndex::kMatchStart) + TVLLibraryIndex::kMatchEnd;

QString markedSnippet(QString snippet, const QString &open, const QString &close)
{
    snippet.replace(TVLLibraryIndex::kMatchStart, open).replace(TVLLibraryIndex::kMatchEnd, close);
    return snippet.simplified();
}

QStringList defaultRoots()
{
    QStringList roots;
    for (const QString &relative : TVLRoots::defaultRootRelativePaths())
        if (QFileInfo(QDir::homePath() + relative).isDir())
            roots << QDir::homePath() + relative;
    return roots;
}

bool stdoutIsTerminal()
{
#ifdef Q_OS_UNIX
    return isatty(fileno(stdout)) != 0;
#else
    return false;
#endif
}

int runSearch(const QCommandLineParser &parser, QTextStream &out, QTextStream &err)
{
    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty() || positional.size() > 2 || positional.first().trimmed().isEmpty())
        return TVLCommandLine::usageError(QStringLiteral("search"), QStringLiteral("give a query and at most one path"), err);
    bool limitOk = false;
    const int limit = parser.value(kLimit).toInt(&limitOk);
    if (!limitOk || limit < 1)
        return TVLCommandLine::usageError(QStringLiteral("search"),
                                          QStringLiteral("--limit takes a positive number, not \"%1\"").arg(parser.value(kLimit)), err);
    QStringList scopes;
    if (positional.size() == 2) {
        const QFileInfo info(positional.at(1));
        if (!info.exists()) {
            err << "tavlo: " << positional.at(1) << ": no such file or directory\n";
            return 1;
        }
        scopes << info.absoluteFilePath();
    } else {
        scopes = defaultRoots();
        if (scopes.isEmpty()) {
            err << "tavlo search: no log root found; give a PATH\n";
            return 1;
        }
    }

    const QString query = positional.first();
    TVLLibraryIndex index;
    std::vector<TVLLibraryIndex::SearchHit> hits;
    for (const QString &scope : scopes) {
        if (!tvlUpdateIndex(index, scope, err))
            return 1;
        QString error;
        auto found = index.search(query, scope, limit, &error);
        if (!found) {
            err << "tavlo search: the query \"" << hvxEscapingControlCharacters(query) << "\" can't be used: " << error << "\n";
            return 2;
        }
        hits.insert(hits.end(), found->begin(), found->end());
    }
    std::stable_sort(hits.begin(), hits.end(), [](const auto &a, const auto &b) { return a.rank < b.rank; });
    if (hits.size() > size_t(limit))
        hits.resize(size_t(limit));

    if (parser.isSet(kJson)) {
        QJsonArray results;
        for (const auto &hit : hits)
            results.append(QJsonObject{
                {QStringLiteral("project"), hit.project},
                {QStringLiteral("session"), hit.session},
                {QStringLiteral("exchangeUuid"), hit.exchangeUuid},
                {QStringLiteral("url"), exchangeUrl(hit)},
                {QStringLiteral("timestamp"),
                 hit.timestamp ? QDateTime::fromMSecsSinceEpoch(hit.timestamp, Qt::UTC).toString(Qt::ISODateWithMs) : QString()},
                {QStringLiteral("prompt"), hit.prompt},
                {QStringLiteral("sessionTitle"), hit.sessionTitle},
                {QStringLiteral("snippet"), markedSnippet(hit.snippet, QStringLiteral("["), QStringLiteral("]"))}});
        out << QJsonDocument(QJsonObject{{QStringLiteral("query"), query}, {QStringLiteral("results"), results}})
                   .toJson(QJsonDocument::Indented);
        return 0;
    }
    const bool bold = stdoutIsTerminal();
    const QString open = bold ? QStringLiteral("\033[1m") : QStringLiteral("[");
    const QString close = bold ? QStringLiteral("\033[0m") : QStringLiteral("]");
    if (hits.empty()) {
        out << "No exchange matches " << hvxEscapingControlCharacters(query) << "\n";
        return 0;
    }
    int number = 0;
    for (const auto &hit : hits) {
        const QString when = hit.timestamp ? QDateTime::fromMSecsSinceEpoch(hit.timestamp).toString(QStringLiteral("yyyy-MM-dd HH:mm"))
                                           : QStringLiteral("(no date)");
        // Transcript text and file names may carry escape sequences: shown, never sent to the terminal.
        out << ++number << ". " << hvxEscapingControlCharacters(QFileInfo(hit.project).fileName()) << "  " << when << "  "
            << hvxEscapingControlCharacters(hvxAddTilde(hit.session));
        if (!hit.sessionTitle.isEmpty())
            out << "  \u00ab" << hvxEscapingControlCharacters(hit.sessionTitle) << "\u00bb";
        out << "\n"
            << "   " << markedSnippet(hvxEscapingControlCharacters(hit.snippet, kMatchMarks), open, close) << "\n"
            << "   " << exchangeUrl(hit) << "\n";
    }
    return 0;
}
} // namespace

TVLCommand TVLSearchCommand::command()
{
    return {QStringLiteral("search"),
            QStringLiteral("QUERY [PATH]"),
            QStringLiteral("Finds the exchanges whose prompts and answers match QUERY, best first, under PATH (a log root,\n"
                           "a project or a session) or in the default log roots. QUERY is full-text query syntax: words\n"
                           "(all must match), \"phrases\", prefix*, OR, NOT; case doesn't matter."),
            {QCommandLineOption(kLimit, QStringLiteral("At most N results (20)."), QStringLiteral("N"), QStringLiteral("20")),
             QCommandLineOption(kJson, QStringLiteral("Print JSON."))},
            runSearch};
}
