#include "TVLMessage.h"

#include "Halvex/Foundation/Categories/HVX_JSON.h"
#include "Halvex/Foundation/HVXLog.h"
#include "Halvex/Foundation/HVXModifierKeys.h"
#include "TVLLineParser.h"
#include "TVLSettings.h"
#include "TVLToolSteps.h"
#include "TVLUserText.h"

#include <QJsonDocument>
#include <QLocale>
#include <QTimeZone>
#include <QUuid>
#include "TVLJsonAccess.h"

#include <simdjson.h>

using simdjson::dom::element;
using simdjson::dom::object;
using namespace TVLJsonAccess;

namespace {


QString jsonText(const element &value) { return hvxLogValue(QString::fromStdString(simdjson::minify(value))); }

// The line parsed again on request. One parser per thread; its buffers are released after a
// big line so that one 50 MB line doesn't pin hundreds of MB for the rest of the run.
class ParsedLine
{
public:
    explicit ParsedLine(QByteArrayView bytes)
    {
        thread_local simdjson::dom::parser parser;
        m_parser = &parser;
        element doc;
        if (parser.parse(bytes.data(), size_t(bytes.size()), false).get(doc) == simdjson::SUCCESS)
            m_ok = doc.get_object().get(m_line) == simdjson::SUCCESS;
        // The parser's buffers grow to several times the largest line it has seen.
        m_huge = bytes.size() > 256 * 1024;
    }
    ~ParsedLine()
    {
        if (m_huge)
            *m_parser = simdjson::dom::parser();
    }
    bool ok() const { return m_ok; }
    const object &line() const { return m_line; }

private:
    simdjson::dom::parser *m_parser = nullptr;
    object m_line;
    bool m_ok = false;
    bool m_huge = false;
};

QString escapeHtml(QString text)
{
    text.replace(QLatin1Char('&'), QLatin1String("&amp;"));
    text.replace(QLatin1Char('<'), QLatin1String("&lt;"));
    text.replace(QLatin1Char('>'), QLatin1String("&gt;"));
    return text;
}

// For attribute values and paths that land in the page: quotes too.
QString escapeHtmlAttribute(const QString &text)
{
    QString escaped = escapeHtml(text);
    escaped.replace(QLatin1Char('"'), QLatin1String("&quot;"));
    return escaped;
}

// cmark ends a line at a lone carriage return too: text that Tavlo indents or escapes line by
// line has its line breaks made one kind first, so no line escapes the indentation.
QString withUnixLineBreaks(QString text)
{
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

// Preformatted text inside an HTML block of the page's Markdown: a blank line would end the
// block and turn the rest into Markdown, so line breaks become character references.
QString escapeHtmlOnOneLine(const QString &text)
{
    return escapeHtml(withUnixLineBreaks(text)).replace(QLatin1Char('\n'), QLatin1String("&#10;"));
}

// A code fence longer than any run of backticks in the text, so that no line of it closes the fence.
QString codeFenceFor(const QString &text)
{
    qsizetype longest = 0;
    qsizetype run = 0;
    for (const QChar c : text) {
        run = c == QLatin1Char('`') ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    return QString(std::max<qsizetype>(3, longest + 1), QLatin1Char('`'));
}

bool startsFolded(qint64 lineCount, qint64 limit)
{
    return limit == 0 || lineCount > limit;
}

const QString kFoldedGlyph = QStringLiteral("\u25B6");
const QString kUnfoldedGlyph = QStringLiteral("\u25BC");

QString formattedCount(qint64 value) { return QLocale().toString(value); }

// A pull or merge request the session opened: a link line. Only web addresses become links.
QString pullRequestMarkdown(const object &line)
{
    const QString url = toQString(stringAt(line, "prUrl").value_or(std::string_view()));
    const QString repository = toQString(stringAt(line, "prRepository").value_or(std::string_view()));
    element number;
    QString name = QStringLiteral("Pull request");
    if (line["prNumber"].get(number) == simdjson::SUCCESS) {
        int64_t value;
        std::string_view text;
        if (number.get_int64().get(value) == simdjson::SUCCESS)
            name += QStringLiteral(" #%1").arg(value);
        else if (number.get_string().get(text) == simdjson::SUCCESS)
            name += QStringLiteral(" #") + toQString(text);
    }
    if (!repository.isEmpty())
        name += QStringLiteral(" \u00b7 ") + repository;
    const bool isWebAddress = url.startsWith(QLatin1String("https://")) || url.startsWith(QLatin1String("http://"));
    const QString shown = isWebAddress ? QStringLiteral("<a href=\"%1\">%2</a>").arg(escapeHtmlAttribute(url), escapeHtml(name))
                                       : escapeHtml(name);
    return QStringLiteral("<p class=\"pr-link-line\">%1</p>").arg(shown);
}

// The text of a system line: its content, else its error's message.
QString systemText(const object &line)
{
    if (const auto content = stringAt(line, "content"))
        return toQString(*content);
    if (const auto error = objectAt(line, "error")) {
        if (const auto message = stringAt(*error, "message"))
            return toQString(*message);
        if (const auto inner = objectAt(*error, "error"))
            if (const auto message = stringAt(*inner, "message"))
                return toQString(*message);
        return QString::fromStdString(simdjson::minify(*error));
    }
    return {};
}

// System lines of their own on the page: the recap for a user who came back, folded, and API
// errors; nothing for other system lines (they show their message like any line).
std::optional<QString> systemMarkdown(const object &line)
{
    const std::string_view subtype = stringAt(line, "subtype").value_or(std::string_view());
    if (subtype != "away_summary" && subtype != "api_error")
        return std::nullopt;
    const QString text = systemText(line);
    if (text.isEmpty())
        return QString();
    if (subtype == "away_summary")
        return QStringLiteral("<p class=\"away-summary-header\"><span class=\"fold-toggle\">%1</span> While you were away</p>"
                              "\n<div class=\"away-summary-body folded\">\n\n%2\n\n</div>")
            .arg(kFoldedGlyph, text);
    return QStringLiteral("<p class=\"api-error-text\">%1</p>").arg(escapeHtml(text));
}
} // namespace

TVLMessage::TVLMessage() { TVLSettings::registerDefaults(); }

std::shared_ptr<TVLMessage> TVLMessage::initWithString(const QString &line)
{
    auto bytes = std::make_shared<QByteArray>(line.toUtf8());
    const qsizetype length = bytes->size();
    bytes->reserve(length + TVLLineParser::kPadding);
    TVLLineParser parser;
    return fromBuffer(parser, bytes, 0, length);
}

std::shared_ptr<TVLMessage> TVLMessage::fromBuffer(TVLLineParser &parser, const std::shared_ptr<const QByteArray> &buffer,
                                                   qsizetype offset, qsizetype length)
{
    auto message = std::make_shared<TVLMessage>();
    message->m_buffer = buffer;
    message->m_offset = offset;
    message->m_length = length;
    if (length > 0)
        parser.parse(*message);
    else
        message->m_uuid = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    return message;
}

QByteArrayView TVLMessage::rawBytes() const
{
    if (!m_buffer)
        return {};
    return QByteArrayView(m_buffer->constData() + m_offset, m_length);
}

QString TVLMessage::raw() const
{
    const QByteArrayView bytes = rawBytes();
    return QString::fromUtf8(bytes.data(), bytes.size());
}

QJsonObject TVLMessage::json() const
{
    if (!m_flags.parsed)
        return {};
    return QJsonDocument::fromJson(rawBytes().toByteArray()).object();
}

QDateTime TVLMessage::timestamp() const
{
    if (!hasTimestamp())
        return {};
    return QDateTime::fromMSecsSinceEpoch(m_timestampMSecs, Qt::UTC);
}

QString TVLMessage::toolUseResultAgentId() const { return m_extra ? m_extra->toolUseResultAgentId : QString(); }

QString TVLMessage::toolUseResultRunId() const { return m_extra ? m_extra->toolUseResultRunId : QString(); }

QString TVLMessage::toolResultToolUseId() const { return m_extra ? m_extra->toolResultToolUseId : QString(); }

QString TVLMessage::attributionSkill() const
{
    if (!m_flags.parsed)
        return {};
    const ParsedLine parsed(rawBytes());
    if (!parsed.ok())
        return {};
    const auto skill = stringAt(parsed.line(), "attributionSkill");
    return skill ? toQString(*skill) : QString();
}

// MARK: - Page content

qint64 TVLMessage::patchLineLimit() { return TVLSettings::visiblePatchLines(); }

std::optional<QString> TVLMessage::rawMarkdown() const
{
    return rawMarkdownWithPatchLineLimit(m_flags.sourceToolAssistant ? patchLineLimit() : 0);
}

std::optional<QString> TVLMessage::rawMarkdownWithPatchLineLimit(qint64 patchLineLimit) const
{
    if (m_flags.compactSummary)
        return compactionBoundaryMarkdown();
    if (m_type.startsWith(QStringLiteral("user \u2013 ")))
        return std::nullopt;
    if (!m_flags.parsed)
        return QString();
    // Known empty from the first parse; the line is not parsed again for nothing.
    if (m_flags.contentWithoutText && !m_flags.sourceToolAssistant && m_lineType != QLatin1String("attachment"))
        return QString();
    const ParsedLine parsed(rawBytes());
    if (!parsed.ok())
        return QString();
    const object &line = parsed.line();
    if (m_lineType == QLatin1String("attachment")) {
        const auto attachment = objectAt(line, "attachment");
        const auto prompt = attachment ? stringAt(*attachment, "prompt") : std::nullopt;
        return prompt ? toQString(*prompt) : QString();
    }
    if (m_flags.sourceToolAssistant)
        if (auto patch = markdownForStructuredPatchWithLimit(patchLineLimit))
            return patch;
    if (m_lineType == QLatin1String("pr-link"))
        return pullRequestMarkdown(line);
    if (m_lineType == QLatin1String("system") && !m_flags.sourceToolAssistant)
        if (auto text = systemMarkdown(line))
            return text;
    const auto modelMessage = objectAt(line, "message");
    element content;
    if (!modelMessage || (*modelMessage)["content"].get(content) != simdjson::SUCCESS)
        return QString();
    std::string_view text;
    if (content.get_string().get(text) == simdjson::SUCCESS)
        return TVLUserText::promptText(TVLUserText::Shape(m_flags.userShape), toQString(text));
    simdjson::dom::array items;
    if (content.get_array().get(items) == simdjson::SUCCESS) {
        QString result;
        for (element item : items) {
            object itemObject;
            if (item.get_object().get(itemObject) != simdjson::SUCCESS) {
                HVXLogError(QStringLiteral("Expected dictionary, got: %1").arg(jsonText(item)));
                continue;
            }
            if (const auto itemText = stringAt(itemObject, "text"))
                result += toQString(*itemText);
        }
        return result;
    }
    HVXLogWarning(QStringLiteral("Didn't expect: %1").arg(jsonText(content)));
    return QString();
}

std::optional<QString> TVLMessage::markdownForStructuredPatch() const
{
    return markdownForStructuredPatchWithLimit(patchLineLimit());
}

std::optional<QString> TVLMessage::markdownForStructuredPatchWithLimit(qint64 limit) const
{
    if (!m_flags.parsed)
        return std::nullopt;
    const ParsedLine parsed(rawBytes());
    if (!parsed.ok())
        return std::nullopt;
    const auto result = objectAt(parsed.line(), "toolUseResult");
    if (!result)
        return std::nullopt;
    const auto filePath = stringAt(*result, "filePath");
    simdjson::dom::array hunks;
    if (!filePath || filePath->empty() || (*result)["structuredPatch"].get_array().get(hunks) != simdjson::SUCCESS
        || hunks.size() == 0)
        return std::nullopt;

    QString shownPath = toQString(*filePath);
    if (const auto cwd = stringAt(parsed.line(), "cwd"); cwd && !cwd->empty()) {
        const QString directory = toQString(*cwd);
        if (shownPath.startsWith(directory)) {
            shownPath = shownPath.mid(directory.size());
            if (shownPath.startsWith(QLatin1Char('/')))
                shownPath.remove(0, 1);
        }
    }

    qint64 total = 0, added = 0, removed = 0;
    QString diff;
    for (element hunk : hunks) {
        object hunkObject;
        simdjson::dom::array lines;
        if (hunk.get_object().get(hunkObject) != simdjson::SUCCESS
            || hunkObject["lines"].get_array().get(lines) != simdjson::SUCCESS)
            continue;
        for (element entry : lines) {
            std::string_view text;
            if (entry.get_string().get(text) != simdjson::SUCCESS)
                continue;
            ++total;
            if (text.starts_with('+'))
                ++added;
            else if (text.starts_with('-'))
                ++removed;
            diff += toQString(text);
            diff += QLatin1Char('\n');
        }
    }
    const bool folded = limit == 0 || total > limit;
    const QString fence = codeFenceFor(diff);
    return QStringLiteral("<p class=\"tool-use-header\"><span class=\"fold-toggle\">%1</span> Update(%2)</p>\n")
               .arg(folded ? kFoldedGlyph : kUnfoldedGlyph, escapeHtmlAttribute(shownPath))
        + QStringLiteral("<p class=\"tool-use-stats\">&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;Added %1 lines, removed %2 lines</p>\n")
              .arg(added)
              .arg(removed)
        + QStringLiteral("<div class=\"tool-use-diff %1\">\n\n").arg(folded ? QStringLiteral("folded") : QString())
        + fence + QStringLiteral("diff\n") + diff + fence + QStringLiteral("\n\n</div>\n");
}

QString TVLMessage::toolStepsHtml() const
{
    // Meta, command and summary lines stay hidden; prompts, answers and tool results have steps.
    if (!m_flags.parsed || m_flags.compactSummary
        || (m_type.startsWith(QStringLiteral("user \u2013 ")) && !m_flags.sourceToolAssistant))
        return {};
    // Looking for the key first spares a second parse of a line of megabytes of image data.
    const bool mayHavePatch = m_flags.sourceToolAssistant && m_lineType == QLatin1String("user")
                              && rawBytes().contains(QByteArrayView("\"structuredPatch\""));
    const std::optional<QString> patch = mayHavePatch ? markdownForStructuredPatch() : std::nullopt;
    const ParsedLine parsed(rawBytes());
    return parsed.ok() ? TVLToolSteps::htmlForLine(parsed.line(), patch) : QString();
}

// A shell command's output and a task notice: shown, though hidden from search and titles.
std::optional<TVLMessage::PageBlock> TVLMessage::userShapeBlock() const
{
    const auto shape = TVLUserText::Shape(m_flags.userShape);
    if (shape != TVLUserText::Shape::ShellOutput && shape != TVLUserText::Shape::TaskNotification)
        return std::nullopt;
    const ParsedLine parsed(rawBytes());
    const auto modelMessage = parsed.ok() ? objectAt(parsed.line(), "message") : std::nullopt;
    const auto content = modelMessage ? stringAt(*modelMessage, "content") : std::nullopt;
    if (!content)
        return std::nullopt;
    const QString text = toQString(*content);
    const QString cssClass = shape == TVLUserText::Shape::ShellOutput ? QStringLiteral("shell-output")
                                                                      : QStringLiteral("task-notification");
    const QString body = shape == TVLUserText::Shape::ShellOutput ? TVLUserText::shellOutputHtml(text)
                                                                  : TVLUserText::taskNotificationHtml(text);
    return PageBlock{m_uuid, cssClass, body};
}

TVLMessage::PageBlock TVLMessage::pageBlock() const
{
    if (m_flags.userShape != quint8(TVLUserText::Shape::Prompt) && m_type.startsWith(QStringLiteral("user \u2013 ")))
        if (std::optional<PageBlock> block = userShapeBlock())
            return *block;
    const std::optional<QString> markdown = rawMarkdown();
    const QString steps = TVLToolSteps::shown() ? toolStepsHtml() : QString();
    if ((!markdown || markdown->isEmpty()) && steps.isEmpty())
        return {m_uuid, {}, {}};
    QString body = markdown.value_or(QString());
    QString cssClass;
    if (m_flags.sourceToolAssistant) {
        cssClass = QStringLiteral("tool-use");
    } else if (m_flags.compactSummary) {
        cssClass = QStringLiteral("compact-boundary");
    } else {
        cssClass = m_lineType.isNull() ? QStringLiteral("unknown") : m_lineType;
        if (m_flags.apiError || (m_lineType == QLatin1String("system") && body.startsWith(QLatin1String("<p class=\"api-error-text\">"))))
            cssClass += QStringLiteral(" api-error");
        if (!body.isEmpty() && m_lineType == QLatin1String("user")) {
            body = withUnixLineBreaks(body).replace(QLatin1Char('\n'), QLatin1String("\n\t"));
            body = QStringLiteral("\n\n---\n\n\t") + body + QStringLiteral("\n\n");
        } else if (!body.isEmpty() && m_lineType == QLatin1String("attachment")) {
            const qint64 lineCount = body.count(QLatin1Char('\n')) + 1;
            const bool folded = startsFolded(lineCount, TVLSettings::visibleAttachmentLines());
            body = QStringLiteral("<p class=\"attachment-header\"><span class=\"fold-toggle\">%1</span> Attachment</p>"
                                  "<div class=\"attachment-body %2\"><pre><code class=\"nohighlight\">%3</code></pre></div>")
                       .arg(folded ? kFoldedGlyph : kUnfoldedGlyph, folded ? QStringLiteral("folded") : QString(),
                            escapeHtmlOnOneLine(body));
        }
    }
    if (!steps.isEmpty())
        body += QStringLiteral("\n\n") + steps;
    return {m_uuid, cssClass, body};
}

QString TVLMessage::htmlBlock() const
{
    const PageBlock block = pageBlock();
    if (block.markdown.isEmpty())
        return {};
    return QStringLiteral("\n<div id=\"%1\" class=\"%2\">\n\n").arg(escapeHtmlAttribute(block.id), escapeHtmlAttribute(block.kind))
        + block.markdown + QStringLiteral("\n\n</div>\n\n");
}

QString TVLMessage::markdown() const
{
    if (hvxIsModifierHeld(HVXModifierCommand))
        return hvxPrettyPrintWithIndent(QJsonValue(json()), 1, false);
    return htmlBlock();
}

QString TVLMessage::compactionBoundaryMarkdown() const
{
    const QString dash = QStringLiteral("\u2013");
    const TVLTokenUsage *usage = m_compactionUsage.get();
    auto cell = [&](qint64 value) { return usage ? formattedCount(value) : dash; };
    return QStringLiteral("| Compaction | input | cache create | cache read | output |\n|---|---:|---:|---:|---:|\n"
                          "| *# tokens* | %1 | %2 | %3 | %4 |\n")
        .arg(cell(usage ? usage->inputTokens : 0), cell(usage ? usage->cacheCreationInputTokens : 0),
             cell(usage ? usage->cacheReadInputTokens : 0), cell(usage ? usage->outputTokens : 0));
}

// MARK: - Usage

std::optional<TVLTokenUsage> TVLMessage::tokenUsage()
{
    if (m_marks.usageDuplicate || m_marks.countedElsewhere)
        return std::nullopt;
    if (m_flags.compactSummary)
        return m_compactionUsage ? std::optional<TVLTokenUsage>(*m_compactionUsage) : std::nullopt;
    return m_lineUsage ? std::optional<TVLTokenUsage>(*m_lineUsage) : std::nullopt;
}

void TVLMessage::markUsageDuplicate()
{
    if (m_marks.usageDuplicate)
        return;
    m_marks.usageDuplicate = true;
    announce(TVLProperty::DisplayTitle);
}

void TVLMessage::setCountedElsewhere(bool elsewhere)
{
    if (m_marks.countedElsewhere == elsewhere)
        return;
    m_marks.countedElsewhere = elsewhere;
    if (parent())
        parent()->invalidateTokenUsage();
}

void TVLMessage::markInDuplicateGroup()
{
    if (m_marks.inDuplicateGroup)
        return;
    m_marks.inDuplicateGroup = true;
    announce(TVLProperty::DisplayTitle);
}

void TVLMessage::injectCompactionUsage(std::optional<TVLTokenUsage> usage)
{
    m_compactionUsage = usage ? std::make_unique<TVLTokenUsage>(*usage) : nullptr;
    if (parent())
        parent()->invalidateTokenUsage();
}

// MARK: - Outline

QString TVLMessage::displayTitle() const
{
    QString name = m_type;
    if (name.isEmpty())
        name = m_lineType;
    if (name.isEmpty() && m_flags.parsed) {
        const QJsonObject line = json();
        name = line.value(QLatin1String("uuid")).toString();
        if (name.isEmpty())
            name = line.value(QLatin1String("messageId")).toString();
    }
    const QString marker = m_marks.usageDuplicate ? QStringLiteral("\u2502 ")
                         : m_marks.inDuplicateGroup ? QStringLiteral("\u2514 ")
                                                    : QStringLiteral("  ");
    return QStringLiteral("[F:monospacedSystemFontOfSize:weight:|13.0|%1]%2[F:systemFontOfSize:weight:|13.0|%1]%3")
        .arg(QString::number(0.0, 'f', 6), marker, name);
}

QString TVLMessage::description() const { return QStringLiteral("<TVLMessage %1>").arg(m_uuid); }
