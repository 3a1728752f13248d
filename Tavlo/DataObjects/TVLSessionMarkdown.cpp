#include "TVLSessionMarkdown.h"

#include "TVLExchange.h"
#include "TVLJsonAccess.h"
#include "TVLMessage.h"
#include "TVLParsedLine.h"
#include "TVLSession.h"
#include "TVLSessionChanges.h"
#include "TVLToolSteps.h"
#include "TVLURL.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QLocale>
#include <QSet>

#include <algorithm>

using simdjson::dom::array;
using simdjson::dom::element;
using simdjson::dom::object;
using namespace TVLJsonAccess;

namespace {
QString timeText(const QDateTime &time)
{
    return time.isValid() ? time.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss 'UTC'")) : QStringLiteral("No time");
}

QString withUnixLineBreaks(QString text)
{
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

// A link destination in angle brackets takes any character but line breaks and angle brackets,
// which a tvl:// address never holds unencoded.
QString link(const QString &text, const QString &url) { return QStringLiteral("[%1](<%2>)").arg(text, url); }

QString inlineCode(const QString &text)
{
    const QString oneLine = text.simplified();
    const QString fence = oneLine.contains(QLatin1Char('`')) ? QStringLiteral("`` ") : QStringLiteral("`");
    const QString close = oneLine.contains(QLatin1Char('`')) ? QStringLiteral(" ``") : QStringLiteral("`");
    return fence + oneLine + close;
}

QString count(qint64 value) { return QLocale().toString(value); }

// The text cut to the lines and characters the page shows of a tool step, with the full length
// said when cut.
QString cut(const QString &text)
{
    qsizetype end = qMin(text.size(), TVLToolSteps::kShownCharacters);
    qsizetype newline = -1;
    for (qsizetype i = 0; i < TVLToolSteps::kShownLines; ++i) {
        newline = text.indexOf(QLatin1Char('\n'), newline + 1);
        if (newline < 0 || newline >= end)
            break;
        if (i == TVLToolSteps::kShownLines - 1)
            end = newline;
    }
    QString shown = text.left(end);
    if (end < text.size() - (text.endsWith(QLatin1Char('\n')) ? 1 : 0)) {
        const qint64 lines = text.count(QLatin1Char('\n')) + (text.endsWith(QLatin1Char('\n')) ? 0 : 1);
        shown += QStringLiteral("\n\u2026 (cut: %1 lines, %2 characters in all)").arg(count(lines), count(text.size()));
    }
    return shown;
}

QString prettyJson(const element &value)
{
    const std::string compact = simdjson::minify(value);
    return QString::fromUtf8(QJsonDocument::fromJson(QByteArray::fromStdString(compact)).toJson(QJsonDocument::Indented))
        .trimmed();
}

// One exchange's Markdown, written line by line in file order.
class ExchangeWriter
{
public:
    ExchangeWriter(const TVLSessionChanges &changes, bool toolSteps) : m_changes(changes), m_toolSteps(toolSteps) {}

    void addMessage(const TVLMessage &message)
    {
        if (message.isCompactSummary() || !message.hasJson())
            return;
        const bool promptLine = message.exchangeStarter();
        const bool assistantLine = message.lineType() == QLatin1String("assistant") && !message.hasSourceToolAssistantUuid();
        const bool resultLine = message.lineType() == QLatin1String("user") && !promptLine;
        // Meta and command lines show nothing; results only with the tool steps.
        if (message.type().startsWith(QStringLiteral("user \u2013 ")) && !message.hasSourceToolAssistantUuid())
            return;
        if (!promptLine && !assistantLine && !(resultLine && m_toolSteps))
            return;
        const TVLParsedLine parsed(message.rawBytes());
        if (!parsed.ok())
            return;
        const auto modelMessage = objectAt(parsed.line(), "message");
        element content;
        if (!modelMessage || (*modelMessage)["content"].get(content) != simdjson::SUCCESS)
            return;
        std::string_view text;
        if (content.get_string().get(text) == simdjson::SUCCESS) {
            addText(toQString(text), promptLine);
            return;
        }
        array items;
        if (content.get_array().get(items) != simdjson::SUCCESS)
            return;
        for (element item : items) {
            object itemObject;
            if (item.get_object().get(itemObject) != simdjson::SUCCESS)
                continue;
            const auto type = stringAt(itemObject, "type");
            if (const auto itemText = stringAt(itemObject, "text"); itemText && (type == "text" || !type))
                addText(toQString(*itemText), promptLine);
            else if (type == "tool_use" && m_toolSteps)
                addCall(itemObject, message);
            else if (type == "tool_result" && m_toolSteps)
                addResult(itemObject);
        }
    }

    // The edits of the sub-agents this exchange started, by time.
    void addSubagentEdits(const QString &exchangeUuid)
    {
        std::vector<const TVLFileEdit *> edits;
        for (const auto &file : m_changes.files())
            for (const TVLFileEdit &edit : file.edits)
                if (edit.inSubagent && edit.exchangeUuid == exchangeUuid)
                    edits.push_back(&edit);
        std::stable_sort(edits.begin(), edits.end(), [](const TVLFileEdit *a, const TVLFileEdit *b) {
            return a->timestampMSecs < b->timestampMSecs;
        });
        for (const TVLFileEdit *edit : edits)
            addEdit(*edit, QStringLiteral("Sub-agent: "));
    }

    bool isEmpty() const { return m_blocks.isEmpty(); }
    QString text() const { return m_blocks.join(QStringLiteral("\n\n")); }

private:
    void addText(const QString &text, bool prompt)
    {
        if (text.trimmed().isEmpty())
            return;
        m_blocks << (prompt ? TVLSessionMarkdown::quoted(text) : withUnixLineBreaks(text).trimmed());
    }

    void addCall(const object &call, const TVLMessage &message)
    {
        const QString name = toQString(stringAt(call, "name").value_or("tool"));
        const QString id = toQString(stringAt(call, "id").value_or(""));
        if (const TVLFileEdit *edit = m_changes.editForCall(message.uuid(), id)) {
            m_editCalls.insert(id);
            addEdit(*edit);
            return;
        }
        element input;
        object inputObject;
        const bool hasInput = call["input"].get(input) == simdjson::SUCCESS
                              && input.get_object().get(inputObject) == simdjson::SUCCESS;
        const QString argument = hasInput ? TVLToolSteps::mainArgument(inputObject) : QString();
        QString block = QStringLiteral("**%1**").arg(name);
        if (!argument.isEmpty())
            block += QLatin1Char(' ') + inlineCode(argument.left(200));
        if (hasInput && inputObject.size() > 0)
            block += QLatin1Char('\n') + TVLSessionMarkdown::fenced(cut(prettyJson(input)), QStringLiteral("json"));
        m_blocks << block;
    }

    void addEdit(const TVLFileEdit &edit, const QString &by = {})
    {
        const QString path = TVLSessionChanges::shownPath(edit.filePath, m_changes.workingDirectory());
        QString block = QStringLiteral("%1**%2** %3").arg(by, edit.tool, inlineCode(path));
        if (edit.failed) {
            block += QStringLiteral(" failed: ") + inlineCode(edit.error);
        } else {
            block += QStringLiteral(" (%1+%2 \u2212%3)")
                         .arg(edit.created ? QStringLiteral("created, ") : QString(), count(edit.added), count(edit.removed));
            if (!edit.hunks.empty())
                block += QLatin1Char('\n') + TVLSessionMarkdown::fenced(edit.diffText(), QStringLiteral("diff"));
        }
        m_blocks << block;
    }

    void addResult(const object &result)
    {
        // An edit's result was told with its call.
        if (m_editCalls.contains(toQString(stringAt(result, "tool_use_id").value_or(""))))
            return;
        bool isError = false;
        if (result["is_error"].get_bool().get(isError) != simdjson::SUCCESS)
            isError = false;
        const QString text = withUnixLineBreaks(toolResultText(result, QStringLiteral("(image)")));
        QString block = isError ? QStringLiteral("Error") : QStringLiteral("Result");
        if (!text.isEmpty())
            block += QLatin1Char('\n') + TVLSessionMarkdown::fenced(cut(text));
        m_blocks << block;
    }

    const TVLSessionChanges &m_changes;
    bool m_toolSteps = false;
    QSet<QString> m_editCalls;
    QStringList m_blocks;
};

QDateTime timeOfExchange(const TVLExchange &exchange)
{
    for (const TVLMessage *message : exchange.messages())
        if (message->hasTimestamp())
            return message->timestamp();
    return {};
}
} // namespace

QString TVLSessionMarkdown::fenced(const QString &text, const QString &info)
{
    qsizetype longest = 0;
    qsizetype run = 0;
    for (const QChar c : text) {
        run = c == QLatin1Char('`') ? run + 1 : 0;
        longest = qMax(longest, run);
    }
    const QString fence(qMax<qsizetype>(3, longest + 1), QLatin1Char('`'));
    QString body = withUnixLineBreaks(text);
    if (!body.isEmpty() && !body.endsWith(QLatin1Char('\n')))
        body += QLatin1Char('\n');
    return fence + info + QLatin1Char('\n') + body + fence;
}

QString TVLSessionMarkdown::quoted(const QString &text)
{
    QStringList lines = withUnixLineBreaks(text).trimmed().split(QLatin1Char('\n'));
    for (QString &line : lines)
        line = line.isEmpty() ? QStringLiteral(">") : QStringLiteral("> ") + line;
    return lines.join(QLatin1Char('\n'));
}

QString TVLSessionMarkdown::exchangeSection(const QString &sessionPath, const TVLExchange &exchange,
                                            const TVLSessionChanges &changes, bool toolSteps)
{
    ExchangeWriter writer(changes, toolSteps);
    for (const TVLMessage *message : exchange.messages())
        writer.addMessage(*message);
    if (toolSteps && !exchange.isPreamble())
        writer.addSubagentEdits(exchange.uuid());
    if (writer.isEmpty())
        return {};
    const QString url = TVLURL::urlStringForPath(sessionPath, exchange.isPreamble() ? QString() : exchange.uuid());
    return QStringLiteral("## ") + link(timeText(timeOfExchange(exchange)), url) + QStringLiteral("\n\n") + writer.text();
}

QString TVLSessionMarkdown::forExchange(TVLSession &session, const TVLExchange &exchange, bool toolSteps)
{
    const TVLSessionChanges changes = toolSteps ? TVLSessionChanges::ofExchange(session, exchange) : TVLSessionChanges();
    const QString text = exchangeSection(session.path(), exchange, changes, toolSteps);
    return text.isEmpty() ? text : text + QLatin1Char('\n');
}

QString TVLSessionMarkdown::forSession(TVLSession &session, bool toolSteps)
{
    const TVLSessionChanges changes = toolSteps ? TVLSessionChanges::ofSession(session) : TVLSessionChanges();
    const QString name = QFileInfo(session.path()).completeBaseName();
    QStringList sections;
    sections << QStringLiteral("# ") + TVLSession::truncatePrompt(session.firstUserPrompt()).value_or(name);
    sections << QStringLiteral("Session %1, started %2 \u00b7 %3")
                    .arg(inlineCode(name), timeText(session.firstTimestamp()),
                         link(QStringLiteral("open in Tavlo"), TVLURL::urlStringForPath(session.path())));
    for (const auto &exchange : session.exchanges()) {
        const QString section = exchangeSection(session.path(), *exchange, changes, toolSteps);
        if (!section.isEmpty())
            sections << section;
    }
    return sections.join(QStringLiteral("\n\n")) + QLatin1Char('\n');
}
