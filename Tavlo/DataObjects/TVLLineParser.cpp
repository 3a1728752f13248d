#include "TVLLineParser.h"

#include "Halvex/Foundation/HVXLog.h"
#include "TVLBrokenLineLog.h"
#include "TVLMessage.h"
#include "TVLUserText.h"

#include <QScopeGuard>
#include <QUuid>
#include "TVLJsonAccess.h"

#include <simdjson.h>

static_assert(TVLLineParser::kPadding >= simdjson::SIMDJSON_PADDING);

using simdjson::dom::element;
using simdjson::dom::object;
using namespace TVLJsonAccess;

struct TVLLineParser::Impl
{
    simdjson::dom::parser parser;
};

namespace {
// Integers as the model reads them: signed 64-bit; booleans as 1 and 0; anything else 0.
qint64 integerValue(const element &value)
{
    int64_t i;
    if (value.get_int64().get(i) == simdjson::SUCCESS)
        return i;
    uint64_t u;
    if (value.get_uint64().get(u) == simdjson::SUCCESS)
        return qint64(std::min<uint64_t>(u, uint64_t(std::numeric_limits<qint64>::max())));
    double d;
    if (value.get_double().get(d) == simdjson::SUCCESS && std::isfinite(d)) {
        // Converting a double outside the 64-bit range is undefined: such counts saturate.
        constexpr double kLimit = 9223372036854775808.0;  // 2^63
        if (d >= kLimit)
            return std::numeric_limits<qint64>::max();
        if (d < -kLimit)
            return std::numeric_limits<qint64>::min();
        return qint64(d);
    }
    bool b;
    if (value.get_bool().get(b) == simdjson::SUCCESS)
        return b ? 1 : 0;
    return 0;
}

qint64 integerAt(const object &obj, std::string_view key)
{
    element value;
    if (obj[key].get(value) != simdjson::SUCCESS)
        return 0;
    return integerValue(value);
}

bool booleanAt(const object &obj, std::string_view key)
{
    element value;
    if (obj[key].get(value) != simdjson::SUCCESS)
        return false;
    bool b;
    if (value.get_bool().get(b) == simdjson::SUCCESS)
        return b;
    return integerValue(value) != 0;
}

std::unique_ptr<TVLTokenUsage> usageFrom(const object &usage)
{
    auto result = std::make_unique<TVLTokenUsage>();
    result->inputTokens = integerAt(usage, "input_tokens");
    result->outputTokens = integerAt(usage, "output_tokens");
    result->cacheCreationInputTokens = integerAt(usage, "cache_creation_input_tokens");
    result->cacheReadInputTokens = integerAt(usage, "cache_read_input_tokens");
    if (const auto creation = objectAt(usage, "cache_creation")) {
        result->ephemeral5mInputTokens = integerAt(*creation, "ephemeral_5m_input_tokens");
        result->ephemeral1hInputTokens = integerAt(*creation, "ephemeral_1h_input_tokens");
    }
    return result;
}

// Slash and shell-mode commands are prompts; their output and the assistant's own notices join
// the exchange they arrived in.
QString qualifierForShape(TVLUserText::Shape shape)
{
    switch (shape) {
    case TVLUserText::Shape::ShellOutput: return QStringLiteral("Shell output");
    case TVLUserText::Shape::TaskNotification: return QStringLiteral("Task notification");
    case TVLUserText::Shape::LocalCommandOutput: return QStringLiteral("local-command-stdout");
    case TVLUserText::Shape::Prompt:
    case TVLUserText::Shape::SlashCommand:
    case TVLUserText::Shape::ShellCommand: break;
    }
    return {};
}

QString generatedUuid() { return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper(); }

int digits(std::string_view text, size_t at, size_t count, bool &ok)
{
    int value = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (i >= text.size() || text[i] < '0' || text[i] > '9') {
            ok = false;
            return 0;
        }
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

// Days since 1970-01-01 of a proleptic Gregorian date.
qint64 daysFromCivil(qint64 y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const qint64 era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + qint64(doe) - 719468;
}
} // namespace

TVLLineParser::TVLLineParser() : m_impl(std::make_unique<Impl>()) {}

TVLLineParser::~TVLLineParser() = default;

QString TVLLineParser::intern(std::string_view text)
{
    const QByteArray key = QByteArray::fromRawData(text.data(), qsizetype(text.size()));
    auto it = m_interned.constFind(key);
    if (it != m_interned.constEnd())
        return it.value();
    QString value = toQString(text);
    m_interned.insert(QByteArray(text.data(), qsizetype(text.size())), value);
    return value;
}

std::optional<qint64> TVLLineParser::parseTimestamp(std::string_view t)
{
    // yyyy-MM-ddTHH:mm:ss[.fraction](Z|±hh:mm)
    bool ok = true;
    if (t.size() < 20 || t[4] != '-' || t[7] != '-' || t[10] != 'T' || t[13] != ':' || t[16] != ':')
        return std::nullopt;
    const int year = digits(t, 0, 4, ok), month = digits(t, 5, 2, ok), day = digits(t, 8, 2, ok);
    const int hour = digits(t, 11, 2, ok), minute = digits(t, 14, 2, ok), second = digits(t, 17, 2, ok);
    if (!ok || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
        return std::nullopt;
    size_t at = 19;
    int millis = 0;
    if (at < t.size() && t[at] == '.') {
        ++at;
        const size_t start = at;
        int scale = 100;
        while (at < t.size() && t[at] >= '0' && t[at] <= '9') {
            millis += (t[at] - '0') * scale;
            scale /= 10;
            ++at;
        }
        if (at == start)
            return std::nullopt;
    }
    if (at >= t.size())
        return std::nullopt;
    int offsetMinutes = 0;
    if (t[at] == 'Z' || t[at] == 'z') {
        ++at;
    } else if (t[at] == '+' || t[at] == '-') {
        const int sign = t[at] == '-' ? -1 : 1;
        if (t.size() < at + 6 || t[at + 3] != ':')
            return std::nullopt;
        const int oh = digits(t, at + 1, 2, ok), om = digits(t, at + 4, 2, ok);
        if (!ok || oh > 23 || om > 59)
            return std::nullopt;
        offsetMinutes = sign * (oh * 60 + om);
        at += 6;
    } else {
        return std::nullopt;
    }
    if (at != t.size())
        return std::nullopt;
    static constexpr int kDaysInMonth[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (day > kDaysInMonth[month - 1])
        return std::nullopt;
    const qint64 days = daysFromCivil(year, unsigned(month), unsigned(day));
    const qint64 seconds = days * 86400 + hour * 3600 + minute * 60 + second - qint64(offsetMinutes) * 60;
    return seconds * 1000 + millis;
}

void TVLLineParser::parse(TVLMessage &message)
{
    const int lineNumber = m_lineNumber++;
    const QByteArrayView bytes = message.rawBytes();
    element doc;
    const auto error = m_impl->parser.parse(bytes.data(), size_t(bytes.size()), false).get(doc);
    // A huge line grows the parser's buffers; they go once this line has been read from them,
    // not kept for the ordinary lines after it.
    const auto releaseHugeBuffers = qScopeGuard([&] {
        if (bytes.size() > 16 * 1024 * 1024)
            m_impl->parser = simdjson::dom::parser();
    });
    object line;
    if (error) {
        if (TVLBrokenLineLog::shouldLog(m_fileName))
                HVXLogError(QStringLiteral("Error creating object from JSON: %1\nJSON String: %2")
                            .arg(QString::fromUtf8(simdjson::error_message(error)), hvxLogValue(bytes)));
    } else if (doc.get_object().get(line) != simdjson::SUCCESS) {
        const QString where = m_fileName.isEmpty() ? QString() : QStringLiteral(" in %1").arg(m_fileName);
        if (TVLBrokenLineLog::shouldLog(m_fileName))
            HVXLogWarning(QStringLiteral("Expected a JSON object%1, got: %2").arg(where, hvxLogValue(bytes)));
    } else {
        message.m_flags.parsed = true;
    }
    if (!message.m_flags.parsed) {
        message.m_uuid = generatedUuid();
        return;
    }

    if (const auto uuid = stringAt(line, "uuid"))
        message.m_uuid = toQString(*uuid);
    else if (const auto messageId = stringAt(line, "messageId"))
        message.m_uuid = toQString(*messageId);
    else
        message.m_uuid = generatedUuid();

    message.m_flags.compactSummary = booleanAt(line, "isCompactSummary");
    message.m_flags.apiError = booleanAt(line, "isApiErrorMessage");
    element ignored;
    message.m_flags.sourceToolAssistant = line["sourceToolAssistantUUID"].get(ignored) == simdjson::SUCCESS;

    const auto lineType = stringAt(line, "type");
    if (lineType)
        message.m_lineType = intern(*lineType);

    const auto modelMessage = objectAt(line, "message");
    QString qualifier;
    if (message.m_flags.compactSummary)
        qualifier = QStringLiteral("Compact summary");
    else if (message.m_flags.sourceToolAssistant)
        qualifier = QStringLiteral("Tool use");
    else if (integerAt(line, "isMeta") != 0)
        qualifier = QStringLiteral("Meta");

    if (modelMessage) {
        element content;
        const bool hasContent = (*modelMessage)["content"].get(content) == simdjson::SUCCESS;
        simdjson::dom::array items;
        if (hasContent && content.get_array().get(items) == simdjson::SUCCESS) {
            bool firstTypeFound = false;
            bool anyText = false;
            for (element item : items) {
                object itemObject;
                if (item.get_object().get(itemObject) != simdjson::SUCCESS) {
                    anyText = true;  // the text is made the slow way, which also logs the item
                    continue;
                }
                if (stringAt(itemObject, "text"))
                    anyText = true;
                const auto itemType = stringAt(itemObject, "type");
                if (!itemType)
                    continue;
                if (!firstTypeFound && qualifier.isEmpty() && lineType && *lineType == "assistant")
                    qualifier = intern(*itemType);
                firstTypeFound = true;
                if (*itemType == "tool_use")
                    if (const auto id = stringAt(itemObject, "id"))
                        m_toolUseIds.emplace_back(toQString(*id), lineNumber);
            }
            message.m_flags.contentWithoutText = !anyText;
        } else if (hasContent && qualifier.isEmpty() && lineType && *lineType == "user") {
            std::string_view text;
            if (content.get_string().get(text) == simdjson::SUCCESS) {
                const TVLUserText::Shape shape = TVLUserText::shapeOf(text);
                message.m_flags.userShape = quint8(shape);
                qualifier = qualifierForShape(shape);
            }
        }
        if (const auto id = stringAt(*modelMessage, "id"))
            message.m_messageId = toQString(*id);
        if (const auto model = stringAt(*modelMessage, "model"))
            message.m_model = intern(*model);
        if (const auto usage = objectAt(*modelMessage, "usage"))
            message.m_lineUsage = usageFrom(*usage);
    }

    if (!qualifier.isEmpty())
        message.m_type = intern((message.m_lineType + QStringLiteral(" \u2013 ") + qualifier).toUtf8().toStdString());
    else
        message.m_type = message.m_lineType;
    message.m_flags.exchangeStarter = message.m_type == QLatin1String("user");

    if (const auto timestamp = stringAt(line, "timestamp"); timestamp && !timestamp->empty())
        if (const auto msecs = parseTimestamp(*timestamp))
            message.m_timestampMSecs = *msecs;

    if (const auto promptId = stringAt(line, "promptId"))
        message.m_promptId = intern(*promptId);

    if (const auto result = objectAt(line, "toolUseResult")) {
        // A sub-agent or a workflow run that this tool call started.
        const auto agentId = stringAt(*result, "agentId");
        const auto runId = stringAt(*result, "runId");
        if (agentId || runId) {
            auto extra = std::make_unique<TVLMessage::Extra>();
            if (agentId)
                extra->toolUseResultAgentId = toQString(*agentId);
            if (runId)
                extra->toolUseResultRunId = toQString(*runId);
            simdjson::dom::array items;
            if (modelMessage && (*modelMessage)["content"].get_array().get(items) == simdjson::SUCCESS) {
                for (element item : items) {
                    object itemObject;
                    if (item.get_object().get(itemObject) != simdjson::SUCCESS)
                        continue;
                    const auto itemType = stringAt(itemObject, "type");
                    if (itemType && *itemType == "tool_result") {
                        if (const auto id = stringAt(itemObject, "tool_use_id"))
                            extra->toolResultToolUseId = toQString(*id);
                        break;
                    }
                }
            }
            message.m_extra = std::move(extra);
        }
    }
}
