#include "TVLTreeCommand.h"

#include "Halvex/Foundation/Categories/HVXString.h"
#include "TVLCommandLine.h"

#include "Tavlo/DataObjects/TVLExchange.h"
#include "Tavlo/DataObjects/TVLMessage.h"
#include "Tavlo/DataObjects/TVLProject.h"
#include "Tavlo/DataObjects/TVLRoot.h"
#include "Tavlo/DataObjects/TVLRoots.h"
#include "Tavlo/DataObjects/TVLSubagent.h"
#include "Tavlo/DataObjects/TVLWorkflowRun.h"
#include "Tavlo/DataObjects/TVLSubproject.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

namespace {
QString oneLine(const QString &text)
{
    QString line = text;
    line.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
    return line.trimmed();
}

QString rowTitle(TVLObject &node) { return oneLine(TVLTreeCommand::plainTitle(node.displayTitle())); }

bool descends(TVLObject &node, int depth) { return depth != 0 && !node.isLeaf(); }

QJsonValue tokensAsJson(TVLObject &node)
{
    const auto usage = node.tokenUsage();
    if (!usage)
        return QJsonValue::Null;
    return QJsonObject{{QStringLiteral("input"), qint64(usage->inputTokens)},
                       {QStringLiteral("output"), qint64(usage->outputTokens)},
                       {QStringLiteral("cacheCreation"), qint64(usage->cacheCreationInputTokens)},
                       {QStringLiteral("cacheRead"), qint64(usage->cacheReadInputTokens)}};
}

// Expanding a row loads it (a project reads its sessions), so its own values follow.
TVLObject::List expandedChildren(TVLObject &node, int depth)
{
    return descends(node, depth) ? node.displayChildren() : TVLObject::List();
}

QJsonObject rowAsJson(TVLObject &node, int depth)
{
    const TVLObject::List children = expandedChildren(node, depth);
    QJsonObject row{{QStringLiteral("title"), rowTitle(node)},
                    {QStringLiteral("kind"), TVLTreeCommand::kindOfNode(node)},
                    {QStringLiteral("path"), node.path()},
                    {QStringLiteral("tokens"), tokensAsJson(node)},
                    {QStringLiteral("tagSummary"), int(node.tagSummary())}};
    if (descends(node, depth)) {
        QJsonArray rows;
        for (const auto &child : children)
            rows.append(rowAsJson(*child, depth - 1));
        row.insert(QStringLiteral("children"), rows);
    }
    return row;
}

void appendRows(const TVLObject::List &rows, int depth, int indent, QString &text)
{
    for (const auto &child : rows) {
        const TVLObject::List children = expandedChildren(*child, depth - 1);
        // Titles are transcript text: their control characters are shown, not sent to the terminal.
        QString row = QString(indent * 2, QLatin1Char(' ')) + hvxEscapingControlCharacters(rowTitle(*child))
                      + QStringLiteral("  [") + TVLTreeCommand::kindOfNode(*child) + QLatin1Char(']');
        if (!child->path().isEmpty())
            row += QStringLiteral("  ") + hvxEscapingControlCharacters(child->path());
        if (const auto usage = child->tokenUsage())
            row += QStringLiteral("  tokens %1/%2/%3/%4")
                       .arg(usage->inputTokens)
                       .arg(usage->outputTokens)
                       .arg(usage->cacheCreationInputTokens)
                       .arg(usage->cacheReadInputTokens);
        else
            row += QStringLiteral("  tokens -");
        row += QStringLiteral("  tags 0x%1").arg(child->tagSummary(), 4, 16, QLatin1Char('0'));
        text += row + QLatin1Char('\n');
        if (!children.empty())
            appendRows(children, depth - 1, indent + 1, text);
    }
}

struct TreeArguments
{
    QString path;
    int depth = -1;
    bool json = false;
};

const QString depthOption = QStringLiteral("depth");
const QString jsonOption = QStringLiteral("json");

std::optional<TreeArguments> parseArguments(const QCommandLineParser &parser, QTextStream &err)
{
    TreeArguments parsed;
    parsed.json = parser.isSet(jsonOption);
    if (parser.isSet(depthOption)) {
        bool ok = false;
        parsed.depth = parser.value(depthOption).toInt(&ok);
        if (!ok || parsed.depth < 1) {
            TVLCommandLine::usageError(QStringLiteral("tree"), QStringLiteral("--depth needs a number of levels, 1 or more"),
                                       err);
            return std::nullopt;
        }
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.size() > 1) {
        TVLCommandLine::usageError(QStringLiteral("tree"), QStringLiteral("unexpected argument ") + positional[1], err);
        return std::nullopt;
    }
    if (!positional.isEmpty())
        parsed.path = positional.first();
    return parsed;
}

bool anyDefaultRootExists()
{
    for (const QString &relative : TVLRoots::defaultRootRelativePaths())
        if (QFileInfo(QDir::homePath() + relative).isDir())
            return true;
    return false;
}
} // namespace

QString TVLTreeCommand::plainTitle(const QString &markup)
{
    const QStringList pieces = markup.split(QLatin1Char('['));
    QString text = pieces.first();
    for (qsizetype i = 1; i < pieces.size(); ++i) {
        const QString &piece = pieces[i];
        const qsizetype close = piece.indexOf(QLatin1Char(']'));
        const QString tag = piece.left(close);
        if (close < 0 || !(tag.startsWith(QLatin1String("c:")) || tag.startsWith(QLatin1String("F:"))
                           || tag.startsWith(QLatin1String("s:")))) {
            text += QLatin1Char('[') + piece;
            continue;
        }
        text += piece.mid(close + 1);
    }
    return text;
}

QString TVLTreeCommand::kindOfNode(const TVLObject &node)
{
    if (dynamic_cast<const TVLRoots *>(&node))
        return QStringLiteral("roots");
    if (dynamic_cast<const TVLRoot *>(&node))
        return QStringLiteral("root");
    if (dynamic_cast<const TVLSubproject *>(&node))
        return QStringLiteral("subproject");
    if (dynamic_cast<const TVLProject *>(&node))
        return QStringLiteral("project");
    if (dynamic_cast<const TVLSubagent *>(&node))
        return QStringLiteral("subagent");
    if (dynamic_cast<const TVLWorkflowRun *>(&node))
        return QStringLiteral("workflow");
    if (dynamic_cast<const TVLSession *>(&node))
        return QStringLiteral("session");
    if (dynamic_cast<const TVLExchange *>(&node))
        return QStringLiteral("exchange");
    if (dynamic_cast<const TVLMessage *>(&node))
        return QStringLiteral("message");
    return QStringLiteral("node");
}

QJsonObject TVLTreeCommand::outlineAsJson(TVLObject &content, int depth)
{
    QJsonArray children;
    for (const auto &child : content.displayChildren())
        children.append(rowAsJson(*child, depth - 1));
    return {{QStringLiteral("title"), content.titleForWindow()},
            {QStringLiteral("kind"), kindOfNode(content)},
            {QStringLiteral("path"), content.path()},
            {QStringLiteral("children"), children}};
}

QString TVLTreeCommand::outlineAsText(TVLObject &content, int depth)
{
    QString text;
    appendRows(content.displayChildren(), depth, 0, text);
    return text;
}

int runTreeCommand(const QStringList &args, QTextStream &out, QTextStream &err)
{
    return TVLCommandLine::run(QStringList{QStringLiteral("tree")} + args, out, err).value_or(2);
}

namespace {
int runTree(const QCommandLineParser &parser, QTextStream &out, QTextStream &err)
{
    const auto parsed = parseArguments(parser, err);
    if (!parsed)
        return 2;

    std::shared_ptr<TVLObject> content;
    if (parsed->path.isEmpty()) {
        if (!anyDefaultRootExists()) {
            err << TVLRoots::noRootsMessage() << "\n" << TVLRoots::noRootsInformativeText();
            return 1;
        }
        auto roots = std::make_shared<TVLRoots>();
        roots->addDefaultRoots();
        content = roots;
    } else {
        if (!QFileInfo::exists(parsed->path)) {
            err << "tavlo tree: " << parsed->path << ": no such file or directory\n";
            return 1;
        }
        const QFileInfo info(parsed->path);
        content = TVLObject::objectForPath(info.absoluteFilePath());
        // A subproject's directory, as the tree of its root lists it, shows as that subproject.
        if (!content && info.isDir() && TVLSubproject::extractSubprojectNameFromPath(info.absoluteFilePath()))
            content = TVLSubproject::initWithRootDir(info.absoluteFilePath());
        if (!content) {
            err << "tavlo tree: " << parsed->path << " is not a log root, a project or a session transcript\n";
            return 1;
        }
    }

    if (parsed->json)
        out << QJsonDocument(TVLTreeCommand::outlineAsJson(*content, parsed->depth)).toJson(QJsonDocument::Indented);
    else
        out << TVLTreeCommand::outlineAsText(*content, parsed->depth);
    return 0;
}
} // namespace

TVLCommand TVLTreeCommand::command()
{
    return {QStringLiteral("tree"),
            QStringLiteral("[PATH]"),
            QStringLiteral("Prints the outline the viewer shows for PATH (a log root, project, subproject or session; the default "
                           "log roots when none is given)."),
            {QCommandLineOption(depthOption, QStringLiteral("Show N levels below PATH (all of them by default)."),
                                QStringLiteral("N")),
             QCommandLineOption(jsonOption, QStringLiteral("Write the outline as nested JSON objects."))},
            runTree};
}
