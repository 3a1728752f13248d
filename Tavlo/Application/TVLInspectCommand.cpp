#include "TVLInspectCommand.h"

#include "TVLCommandLine.h"
#include "TVLExportCommand.h"

#include "Tavlo/DataObjects/TVLExchange.h"
#include "Tavlo/DataObjects/TVLMessage.h"
#include "Tavlo/DataObjects/TVLSession.h"
#include "Tavlo/DataObjects/TVLSubagent.h"
#include "Tavlo/DataObjects/TVLWorkflowRun.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace {
QJsonValue dateOrNull(const QDateTime &date)
{
    if (!date.isValid())
        return QJsonValue::Null;
    return date.toUTC().toString(Qt::ISODateWithMs);
}

QJsonValue textOrNull(const std::optional<QString> &text) { return text ? QJsonValue(*text) : QJsonValue(QJsonValue::Null); }

QJsonValue stringOrNull(const QString &text) { return text.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(text); }

QJsonObject messageAsJson(TVLMessage &message)
{
    const auto usage = message.tokenUsage();
    return QJsonObject{
        {QStringLiteral("uuid"), message.uuid()},
        {QStringLiteral("type"), message.type().isNull() ? QJsonValue(QJsonValue::Null) : QJsonValue(message.type())},
        {QStringLiteral("exchangeStarter"), message.exchangeStarter()},
        {QStringLiteral("usageDuplicate"), message.usageDuplicate()},
        {QStringLiteral("inDuplicateGroup"), message.inDuplicateGroup()},
        {QStringLiteral("countedElsewhere"), message.countedElsewhere()},
        {QStringLiteral("isCompactSummary"), message.isCompactSummary()},
        {QStringLiteral("tokenUsage"), usage ? QJsonValue(TVLInspectCommand::usageAsJson(*usage)) : QJsonValue(QJsonValue::Null)},
    };
}

QJsonObject exchangeAsJson(TVLExchange &exchange)
{
    QJsonArray messages;
    for (TVLMessage *message : exchange.messages())
        messages.append(messageAsJson(*message));
    return QJsonObject{
        {QStringLiteral("uuid"), exchange.uuid()},
        {QStringLiteral("isPreamble"), exchange.isPreamble()},
        {QStringLiteral("title"), exchange.displayTitle()},
        {QStringLiteral("model"), stringOrNull(exchange.model())},
        {QStringLiteral("containsCompactSummary"), exchange.containsCompactSummary()},
        {QStringLiteral("tokenUsage"), TVLInspectCommand::usageAsJson(exchange.tokenUsage().value_or(TVLTokenUsage{}))},
        {QStringLiteral("messages"), messages},
    };
}

QJsonObject subagentAsJson(TVLSubagent &subagent)
{
    return QJsonObject{
        {QStringLiteral("path"), subagent.path()},
        {QStringLiteral("kind"), subagent.kind()},
        {QStringLiteral("title"), subagent.displayTitle()},
        {QStringLiteral("agentId"), stringOrNull(subagent.agentId())},
        {QStringLiteral("slug"), stringOrNull(subagent.slug())},
        {QStringLiteral("anchorUuid"), stringOrNull(subagent.anchorUuid())},
        {QStringLiteral("tokenUsage"), TVLInspectCommand::usageAsJson(subagent.tokenUsage().value_or(TVLTokenUsage{}))},
        {QStringLiteral("exchangeCount"), qint64(subagent.exchanges().size())},
    };
}

QJsonObject workflowRunAsJson(TVLWorkflowRun &run)
{
    QJsonArray agents;
    for (TVLSubagent *agent : run.agents())
        agents.append(subagentAsJson(*agent));
    return QJsonObject{
        {QStringLiteral("path"), run.path()},
        {QStringLiteral("runId"), run.runId()},
        {QStringLiteral("title"), run.displayTitle()},
        {QStringLiteral("anchorUuid"), stringOrNull(run.anchorUuid())},
        {QStringLiteral("tokenUsage"), TVLInspectCommand::usageAsJson(run.tokenUsage().value_or(TVLTokenUsage{}))},
        {QStringLiteral("agents"), agents},
    };
}
} // namespace

QJsonObject TVLInspectCommand::usageAsJson(const TVLTokenUsage &usage)
{
    return QJsonObject{
        {QStringLiteral("inputTokens"), usage.inputTokens},
        {QStringLiteral("outputTokens"), usage.outputTokens},
        {QStringLiteral("cacheCreationInputTokens"), usage.cacheCreationInputTokens},
        {QStringLiteral("cacheReadInputTokens"), usage.cacheReadInputTokens},
        {QStringLiteral("ephemeral5mInputTokens"), usage.ephemeral5mInputTokens},
        {QStringLiteral("ephemeral1hInputTokens"), usage.ephemeral1hInputTokens},
    };
}

QJsonObject TVLInspectCommand::sessionAsJson(TVLSession &session)
{
    QJsonArray exchanges;
    for (const auto &exchange : session.exchanges())
        exchanges.append(exchangeAsJson(*exchange));
    QJsonArray subagents;
    for (const auto &subagent : session.subagents())
        subagents.append(subagentAsJson(*subagent));
    QJsonArray workflowRuns;
    for (const auto &run : session.workflowRuns())
        workflowRuns.append(workflowRunAsJson(*run));
    QJsonArray displayChildren;
    for (const auto &child : session.displayChildren()) {
        if (auto *exchange = dynamic_cast<TVLExchange *>(child.get()))
            displayChildren.append(QJsonObject{{QStringLiteral("exchange"), exchange->uuid()}});
        else if (dynamic_cast<TVLWorkflowRun *>(child.get()))
            displayChildren.append(QJsonObject{{QStringLiteral("workflowRun"), child->path()}});
        else
            displayChildren.append(QJsonObject{{QStringLiteral("subagent"), child->path()}});
    }
    return QJsonObject{
        {QStringLiteral("kind"), QStringLiteral("session")},
        {QStringLiteral("path"), session.path()},
        {QStringLiteral("firstTimestamp"), dateOrNull(session.firstTimestamp())},
        {QStringLiteral("lastChangedAt"), dateOrNull(session.lastChangedAt())},
        {QStringLiteral("firstUserPrompt"), textOrNull(session.firstUserPrompt())},
        {QStringLiteral("lastUserPrompt"), textOrNull(session.lastUserPrompt())},
        {QStringLiteral("tokenUsage"), usageAsJson(session.tokenUsage().value_or(TVLTokenUsage{}))},
        {QStringLiteral("exchanges"), exchanges},
        {QStringLiteral("subagents"), subagents},
        {QStringLiteral("workflowRuns"), workflowRuns},
        {QStringLiteral("displayChildren"), displayChildren},
    };
}

TVLCommand TVLInspectCommand::command()
{
    const QString jsonOption = QStringLiteral("json");
    auto run = [jsonOption](const QCommandLineParser &parser, QTextStream &out, QTextStream &err) {
        const QStringList arguments = parser.positionalArguments();
        if (!parser.isSet(jsonOption))
            return TVLCommandLine::usageError(QStringLiteral("inspect"), QStringLiteral("--json is required"), err);
        if (arguments.size() != 1)
            return TVLCommandLine::usageError(QStringLiteral("inspect"), QStringLiteral("give one session transcript"),
                                              err);
        const auto session = TVLExportCommand::openSession(arguments.first(), err);
        if (!session)
            return 1;
        out << QJsonDocument(sessionAsJson(*session)).toJson(QJsonDocument::Indented);
        return 0;
    };
    return {QStringLiteral("inspect"),
            QStringLiteral("SESSION.jsonl"),
            QStringLiteral("Prints the model of a session as JSON: exchanges, messages, duplicate groups, token usage, "
                           "sub-agents."),
            {QCommandLineOption(jsonOption, QStringLiteral("Write JSON (the only form there is; required)."))},
            run};
}
