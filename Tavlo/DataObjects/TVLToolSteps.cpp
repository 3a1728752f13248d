#include "TVLToolSteps.h"

#include "TVLSettings.h"
#include "Halvex/Foundation/HVXLog.h"
#include "TVLJsonAccess.h"

#include <QJsonDocument>
#include <QLocale>
#include <QRegularExpression>

using simdjson::dom::array;
using simdjson::dom::element;
using simdjson::dom::object;
using namespace TVLJsonAccess;

namespace {
std::optional<bool> g_shownOverride;

const QString kFoldedGlyph = QStringLiteral("\u25B6");

QString escapeHtml(const QString &text)
{
    QString escaped;
    escaped.reserve(text.size() + text.size() / 8);
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '&': escaped += QLatin1String("&amp;"); break;
        case '<': escaped += QLatin1String("&lt;"); break;
        case '>': escaped += QLatin1String("&gt;"); break;
        case '"': escaped += QLatin1String("&quot;"); break;
        // Line breaks as character references keep each step on one line of the page's Markdown,
        // where a blank line would end the HTML block and turn the rest into Markdown.
        case '\n': escaped += QLatin1String("&#10;"); break;
        case '\r': break;
        default: escaped += c;
        }
    }
    return escaped;
}

QString oneLine(QString text, qsizetype limit)
{
    text.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
    text = text.trimmed();
    if (text.size() > limit)
        text = text.left(limit) + QStringLiteral("\u2026");
    return text;
}

QString count(qint64 value) { return QLocale().toString(value); }

// A final line break ends the last line rather than starting another.
qint64 lineCount(const QString &text)
{
    return text.isEmpty() ? 0 : text.count(QLatin1Char('\n')) + (text.endsWith(QLatin1Char('\n')) ? 0 : 1);
}

QString lengthText(qint64 lines, qint64 characters)
{
    return (lines == 1 ? QStringLiteral("1 line") : count(lines) + QStringLiteral(" lines")) + QStringLiteral(", ")
           + (characters == 1 ? QStringLiteral("1 character") : count(characters) + QStringLiteral(" characters"));
}

// The text cut to the shown lines and characters, with a note of the full length when cut.
QString codeBlock(const QString &text)
{
    const qint64 lines = lineCount(text);
    qsizetype end = qMin(text.size(), TVLToolSteps::kShownCharacters);
    qsizetype newline = -1;
    for (qsizetype i = 0; i < TVLToolSteps::kShownLines; ++i) {
        newline = text.indexOf(QLatin1Char('\n'), newline + 1);
        if (newline < 0 || newline >= end)
            break;
        if (i == TVLToolSteps::kShownLines - 1)
            end = newline;
    }
    QString html = QStringLiteral("<pre><code class=\"nohighlight\">") + escapeHtml(text.left(end))
                   + QStringLiteral("</code></pre>");
    if (end < text.size() - (text.endsWith(QLatin1Char('\n')) ? 1 : 0))
        html += QStringLiteral("<p class=\"tool-step-cut\">Cut: %1 in all</p>").arg(lengthText(lines, text.size()));
    return html;
}

QString header(const QString &cssClass, const QString &innerHtml)
{
    return QStringLiteral("<p class=\"tool-use-header tool-step %1\"><span class=\"fold-toggle\">%2</span> %3</p>")
        .arg(cssClass, kFoldedGlyph, innerHtml);
}

QString foldedBody(const QString &innerHtml)
{
    return QStringLiteral("<div class=\"tool-use-diff tool-step-body folded\">") + innerHtml + QStringLiteral("</div>");
}

QString prettyJson(const element &value)
{
    const std::string compact = simdjson::minify(value);
    if (compact.size() > 256 * 1024)
        return QString::fromStdString(compact);
    return QString::fromUtf8(QJsonDocument::fromJson(QByteArray::fromStdString(compact)).toJson(QJsonDocument::Indented))
        .trimmed();
}

QString htmlForCall(const object &item)
{
    const QString name = toQString(stringAt(item, "name").value_or("tool"));
    element inputValue;
    object input;
    const bool hasInput = item["input"].get(inputValue) == simdjson::SUCCESS
                          && inputValue.get_object().get(input) == simdjson::SUCCESS;
    QString title = QStringLiteral("<span class=\"tool-step-name\">") + escapeHtml(name) + QStringLiteral("</span>");
    const QString argument = hasInput ? TVLToolSteps::mainArgument(input) : QString();
    if (!argument.isEmpty())
        title += QStringLiteral(" <code class=\"tool-step-argument\">") + escapeHtml(oneLine(argument, 200))
                 + QStringLiteral("</code>");
    QString html = header(QStringLiteral("tool-step-call"), title);
    if (hasInput && input.size() > 0)
        html += foldedBody(codeBlock(prettyJson(inputValue)));
    return html;
}

// A result's content: a string, or text and image items.
QString htmlForResult(const object &item, const std::optional<QString> &patchBlock)
{
    QString text;
    QString images;
    element content;
    if (item["content"].get(content) == simdjson::SUCCESS) {
        std::string_view string;
        array items;
        if (content.get_string().get(string) == simdjson::SUCCESS) {
            text = toQString(string);
        } else if (content.get_array().get(items) == simdjson::SUCCESS) {
            for (element part : items) {
                object partObject;
                if (part.get_object().get(partObject) != simdjson::SUCCESS)
                    continue;
                const auto type = stringAt(partObject, "type");
                if (type == "text") {
                    if (!text.isEmpty())
                        text += QLatin1Char('\n');
                    text += toQString(stringAt(partObject, "text").value_or(""));
                } else if (type == "image") {
                    images += TVLToolSteps::htmlForImage(partObject);
                }
            }
        }
    }
    bool isError = false;
    if (item["is_error"].get_bool().get(isError) != simdjson::SUCCESS)
        isError = false;
    if (patchBlock && !isError)
        return images.isEmpty() ? *patchBlock
                                : *patchBlock + QStringLiteral("\n\n<div class=\"tool-step-images\">") + images
                                      + QStringLiteral("</div>");
    QString html;
    if (!text.isEmpty() || images.isEmpty())
        html = TVLToolSteps::htmlForOutput(isError ? QStringLiteral("Error") : QStringLiteral("Result"), text, isError);
    if (!images.isEmpty())
        html += QStringLiteral("<div class=\"tool-step-images\">") + images + QStringLiteral("</div>");
    return html;
}

bool isBase64(std::string_view data)
{
    for (const char c : data)
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/'
              || c == '='))
            return false;
    return !data.empty();
}
} // namespace

void TVLToolSteps::registerDefaults()
{
    TVLSettings::registerDefaults();
}

bool TVLToolSteps::shown()
{
    if (g_shownOverride)
        return *g_shownOverride;
    return TVLSettings::showsToolSteps();
}

void TVLToolSteps::setShownOverride(std::optional<bool> shown) { g_shownOverride = shown; }

QString TVLToolSteps::mainArgument(const object &input)
{
    for (const char *key : {"command", "file_path", "notebook_path", "path", "pattern", "url", "query", "skill",
                            "description", "prompt"})
        if (const auto value = stringAt(input, key); value && !value->empty())
            return toQString(*value);
    // Tools of other servers: their first text argument.
    for (const auto field : input) {
        std::string_view value;
        if (field.value.get_string().get(value) == simdjson::SUCCESS && !value.empty())
            return toQString(value);
    }
    return {};
}

QString TVLToolSteps::htmlForImage(const object &item)
{
    const auto source = objectAt(item, "source");
    const auto kind = source ? stringAt(*source, "type") : std::nullopt;
    const auto mediaType = source ? stringAt(*source, "media_type") : std::nullopt;
    const auto data = source ? stringAt(*source, "data") : std::nullopt;
    static const QRegularExpression imageType(QStringLiteral("^image/[a-z0-9.+-]+$"));
    const QString type = mediaType ? toQString(*mediaType) : QString();
    if (kind != "base64" || !imageType.match(type).hasMatch() || !data || !isBase64(*data)) {
        HVXLogWarning(QStringLiteral("Image not shown: its source is not base64 image data (type %1)").arg(type));
        return QStringLiteral("<p class=\"tool-step-note\">Image not shown</p>");
    }
    return QStringLiteral("<img class=\"tool-step-image\" alt=\"Image\" loading=\"lazy\" decoding=\"async\" src=\"data:") + type + QStringLiteral(";base64,")
           + QLatin1String(data->data(), qsizetype(data->size())) + QStringLiteral("\">");
}

QString TVLToolSteps::htmlForOutput(const QString &word, const QString &text, bool isError)
{
    QString html = header(isError ? QStringLiteral("tool-step-result tool-step-error") : QStringLiteral("tool-step-result"),
                          QStringLiteral("%1 <span class=\"tool-step-length\">%2</span>")
                              .arg(escapeHtml(word), lengthText(lineCount(text), text.size())));
    if (!text.isEmpty())
        html += foldedBody(codeBlock(text));
    return html;
}

QString TVLToolSteps::htmlForLine(const object &line, const std::optional<QString> &patchBlock)
{
    const auto modelMessage = objectAt(line, "message");
    array items;
    if (!modelMessage || (*modelMessage)["content"].get_array().get(items) != simdjson::SUCCESS)
        return {};
    QStringList steps;
    QString images;
    for (element item : items) {
        object itemObject;
        if (item.get_object().get(itemObject) != simdjson::SUCCESS)
            continue;
        const auto type = stringAt(itemObject, "type");
        if (type == "tool_use")
            steps << htmlForCall(itemObject);
        else if (type == "tool_result")
            steps << htmlForResult(itemObject, patchBlock);
        else if (type == "image")
            images += htmlForImage(itemObject);
    }
    if (!images.isEmpty())
        steps << QStringLiteral("<div class=\"tool-step-images\">") + images + QStringLiteral("</div>");
    // Each step one line of the Markdown, its own HTML block.
    return steps.join(QStringLiteral("\n\n"));
}
