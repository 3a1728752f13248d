#include "bench/support/TVLCorpusGenerator.h"

#include "bench/support/TVLCorpusRandom.h"
#include "bench/support/TVLCorpusText.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace {

// Bumped whenever the generator writes different bytes for the same seed and shape, so that
// stored corpora are written again.
constexpr int kGeneratorVersion = 2;

constexpr std::string_view kVersion = "2.0.31";
constexpr std::string_view kModel = "claude-sonnet-4-5-20250929";
constexpr std::string_view kSubagentModel = "claude-haiku-4-5-20251001";
constexpr qint64 kKilobyte = 1024;
constexpr qint64 kMegabyte = 1024 * 1024;
constexpr qint64 kFlushBytes = 8 * kMegabyte;

const char *const kSkills[] = {"changelog", "api-docs", "release-notes", "test-runner", "sql-review"};
const char *const kSlashCommands[] = {"cost", "context", "model", "status", "memory"};
const char *const kSlugWords[] = {"find", "trace", "map", "review", "check", "list", "audit", "callers",
                                  "schema", "tests", "routes", "cache", "imports", "config", "errors"};
const char *const kBranches[] = {"main", "main", "feature/cache", "fix/timeouts", "refactor/store"};

void appendJsonString(std::string &out, std::string_view text)
{
    static const char hex[] = "0123456789abcdef";
    out += '"';
    size_t plainFrom = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c != '"' && c != '\\')
            continue;
        out.append(text.data() + plainFrom, i - plainFrom);
        plainFrom = i + 1;
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            out += "\\u00";
            out += hex[c >> 4];
            out += hex[c & 0xF];
        }
    }
    out.append(text.data() + plainFrom, text.size() - plainFrom);
    out += '"';
}

void appendKey(std::string &out, std::string_view key)
{
    out += ",\"";
    out += key;
    out += "\":";
}

void appendNumber(std::string &out, qint64 value) { out += std::to_string(value); }

// "2025-11-03T09:04:07.312Z" for milliseconds since the epoch (proleptic Gregorian, UTC).
void appendTimestamp(std::string &out, qint64 ms)
{
    const qint64 days = ms / 86400000;
    const qint64 msOfDay = ms % 86400000;
    // Civil date from a day count (Howard Hinnant's well-known algorithm).
    const qint64 z = days + 719468;
    const qint64 era = z / 146097;
    const qint64 doe = z - era * 146097;
    const qint64 yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const qint64 doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const qint64 mp = (5 * doy + 2) / 153;
    const qint64 day = doy - (153 * mp + 2) / 5 + 1;
    const qint64 month = mp < 10 ? mp + 3 : mp - 9;
    const qint64 year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", int(year), int(month), int(day),
                  int(msOfDay / 3600000), int(msOfDay / 60000 % 60), int(msOfDay / 1000 % 60),
                  int(msOfDay % 1000));
    out += text;
}

// The usage record of one model call.
struct Usage
{
    qint64 input = 0;
    qint64 output = 0;
    qint64 cacheCreation = 0;
    qint64 cacheRead = 0;
};

void appendUsage(std::string &out, const Usage &usage)
{
    out += "{\"input_tokens\":";
    appendNumber(out, usage.input);
    out += ",\"cache_creation_input_tokens\":";
    appendNumber(out, usage.cacheCreation);
    out += ",\"cache_read_input_tokens\":";
    appendNumber(out, usage.cacheRead);
    out += ",\"cache_creation\":{\"ephemeral_5m_input_tokens\":";
    appendNumber(out, usage.cacheCreation);
    out += ",\"ephemeral_1h_input_tokens\":0},\"output_tokens\":";
    appendNumber(out, usage.output);
    out += ",\"service_tier\":\"standard\"}";
}

// Who writes a transcript: the session, or one of its sub-agents.
struct Identity
{
    std::string cwd;
    std::string sessionId;
    std::string branch;
    std::string agentId;  // empty for the session itself
    std::string slug;
};

// Writes the lines of one transcript file. Each line is built in `line` between begin() and
// end(), which add the keys every line carries.
class TranscriptWriter final
{
public:
    TranscriptWriter(TVLCorpusRandom &random, Identity identity, qint64 clockMs)
        : m_random(random), m_identity(std::move(identity)), m_clockMs(clockMs)
    {
    }

    bool open(const QString &path)
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        m_file.setFileName(path);
        if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            std::fprintf(stderr, "cannot write %s: %s\n", qPrintable(path), qPrintable(m_file.errorString()));
            return false;
        }
        m_buffer.reserve(size_t(kFlushBytes + 4 * kMegabyte));
        return true;
    }

    std::string line;

    void begin(std::string_view type, qint64 advanceMs, bool withParent = true)
    {
        m_clockMs += advanceMs;
        line.clear();
        line += "{\"parentUuid\":";
        if (withParent && !m_lastUuid.empty())
            appendJsonString(line, m_lastUuid);
        else
            line += "null";
        line += ",\"isSidechain\":";
        line += m_identity.agentId.empty() ? "false" : "true";
        line += ",\"userType\":\"external\"";
        appendKey(line, "cwd");
        appendJsonString(line, m_identity.cwd);
        appendKey(line, "sessionId");
        appendJsonString(line, m_identity.sessionId);
        appendKey(line, "version");
        appendJsonString(line, kVersion);
        appendKey(line, "gitBranch");
        appendJsonString(line, m_identity.branch);
        if (!m_identity.agentId.empty()) {
            appendKey(line, "agentId");
            appendJsonString(line, m_identity.agentId);
            if (!m_identity.slug.empty()) {
                appendKey(line, "slug");
                appendJsonString(line, m_identity.slug);
            }
        }
        appendKey(line, "type");
        appendJsonString(line, type);
    }

    // Closes the line and returns its uuid.
    std::string end()
    {
        std::string uuid = m_random.uuid();
        appendKey(line, "uuid");
        appendJsonString(line, uuid);
        appendKey(line, "timestamp");
        line += '"';
        appendTimestamp(line, m_clockMs);
        line += "\"}\n";
        m_buffer += line;
        m_bytes += qint64(line.size());
        m_largestLine = std::max(m_largestLine, qint64(line.size()) - 1);
        ++m_lines;
        if (qint64(m_buffer.size()) >= kFlushBytes)
            flush();
        m_lastUuid = uuid;
        return uuid;
    }

    // A line that is not a record (comments some tools leave in the file).
    void rawLine(std::string_view text)
    {
        m_buffer += text;
        m_buffer += '\n';
        m_bytes += qint64(text.size()) + 1;
        ++m_lines;
    }

    bool finish()
    {
        flush();
        // The file looks as old as its last line, as a transcript on disk does.
        const bool ok = m_file.error() == QFileDevice::NoError;
        m_file.setFileTime(QDateTime::fromMSecsSinceEpoch(m_clockMs), QFileDevice::FileModificationTime);
        m_file.close();
        return ok;
    }

    const Identity &identity() const { return m_identity; }
    const std::string &lastUuid() const { return m_lastUuid; }
    qint64 bytes() const { return m_bytes; }
    qint64 lines() const { return m_lines; }
    qint64 largestLine() const { return m_largestLine; }
    qint64 clockMs() const { return m_clockMs; }

private:
    void flush()
    {
        if (!m_buffer.empty())
            m_file.write(m_buffer.data(), qint64(m_buffer.size()));
        m_buffer.clear();
    }

    TVLCorpusRandom &m_random;
    Identity m_identity;
    qint64 m_clockMs;
    QFile m_file;
    std::string m_buffer;
    std::string m_lastUuid;
    qint64 m_bytes = 0;
    qint64 m_lines = 0;
    qint64 m_largestLine = 0;
};

// One tool call of the assistant, as the result line needs it.
struct ToolCall
{
    std::string id;
    std::string lineUuid;
    std::string name;
    bool oneLongLine = false;  // a result of one long line (a Bash call)
};

// Writes one transcript: the session or a sub-agent, line by line, with the help of a
// TranscriptWriter, until its shape is reached.
class TranscriptBuilder final
{
public:
    TranscriptBuilder(TVLCorpusRandom &random, const TVLCorpusShape &shape, TVLCorpusStats &stats,
                      const QString &path, Identity identity, qint64 clockMs)
        : m_random(random), m_text(random), m_shape(shape), m_stats(stats), m_path(path),
          m_writer(random, std::move(identity), clockMs)
    {
    }

    bool writeSession()
    {
        if (!m_writer.open(m_path))
            return false;
        preamble();
        qint64 exchanges = 0;
        while (!sessionDone(exchanges)) {
            if (m_shape.compactions && m_writer.bytes() - m_lastCompactionAt >= m_shape.compactionEveryBytes)
                compaction();
            if (m_random.chance(0.03))
                slashCommand();
            exchange();
            ++exchanges;
        }
        m_stats.exchanges += exchanges;
        return finishInto(false);
    }

    // A sub-agent transcript: the task prompt and the work that answered it.
    bool writeSubagent(const std::string &task, const std::string &logicalParent)
    {
        if (!m_writer.open(m_path))
            return false;
        m_promptId = m_random.uuid();
        m_writer.begin("user", 800, false);
        userMessage(task);
        extraString("promptId", m_promptId);
        if (!logicalParent.empty())
            extraString("logicalParentUuid", logicalParent);
        m_writer.end();
        while (m_writer.bytes() < m_shape.targetBytes)
            step(0);
        finalReply(m_random.logUniform(200, 2000));
        return finishInto(true);
    }

    qint64 clockMs() const { return m_writer.clockMs(); }

private:
    bool sessionDone(qint64 exchanges) const
    {
        if (m_shape.exchanges > 0)
            return exchanges >= m_shape.exchanges;
        return m_writer.bytes() >= m_shape.targetBytes;
    }

    bool finishInto(bool subagent)
    {
        const bool ok = m_writer.finish();
        if (subagent) {
            ++m_stats.subagentFiles;
            m_stats.subagentBytes += m_writer.bytes();
        } else {
            ++m_stats.sessionFiles;
            m_stats.sessionBytes += m_writer.bytes();
            m_stats.lines += m_writer.lines();
            m_stats.largestLine = std::max(m_stats.largestLine, m_writer.largestLine());
            m_stats.sessionPaths << m_path;
        }
        return ok;
    }

    qint64 remaining() const
    {
        return m_shape.exchanges > 0 ? m_shape.maxToolResultBytes * 4 : m_shape.targetBytes - m_writer.bytes();
    }

    std::string_view model() const { return m_writer.identity().agentId.empty() ? kModel : kSubagentModel; }

    // -- pieces of a line ---------------------------------------------------------------------

    void extraString(std::string_view key, std::string_view value)
    {
        appendKey(m_writer.line, key);
        appendJsonString(m_writer.line, value);
    }

    void userMessage(std::string_view content)
    {
        appendKey(m_writer.line, "message");
        m_writer.line += "{\"role\":\"user\",\"content\":";
        appendJsonString(m_writer.line, content);
        m_writer.line += '}';
    }

    // The usage of the next model call: the conversation so far is read from the cache, what
    // came since the last call is written to it.
    Usage nextUsage(qint64 outputBytes)
    {
        Usage usage;
        usage.input = m_random.between(1, 12);
        usage.cacheRead = m_contextTokens;
        usage.cacheCreation = m_pendingTokens + m_random.between(20, 400);
        usage.output = std::max<qint64>(1, outputBytes / 4);
        m_contextTokens += usage.cacheCreation + usage.output;
        m_pendingTokens = 0;
        return usage;
    }

    // One model message: each content block becomes a line of its own; the lines share
    // message.id and repeat the usage, whose output count grows as the message streams in.
    // `blocks` are complete JSON objects. Returns the uuid of each line.
    std::vector<std::string> assistantMessage(const std::vector<std::string> &blocks, qint64 outputBytes)
    {
        const std::string messageId = "msg_01" + m_random.base62(22);
        const std::string requestId = "req_011" + m_random.base62(21);
        const Usage final = nextUsage(outputBytes);
        std::vector<std::string> uuids;
        for (size_t i = 0; i < blocks.size(); ++i) {
            Usage usage = final;
            usage.output = std::max<qint64>(1, final.output * qint64(i + 1) / qint64(blocks.size()));
            m_writer.begin("assistant", i == 0 ? m_random.between(2000, 30000) : m_random.between(50, 1500));
            std::string &line = m_writer.line;
            appendKey(line, "message");
            line += "{\"model\":";
            appendJsonString(line, model());
            line += ",\"id\":";
            appendJsonString(line, messageId);
            line += ",\"type\":\"message\",\"role\":\"assistant\",\"content\":[";
            line += blocks[i];
            line += "],\"stop_reason\":null,\"stop_sequence\":null,\"usage\":";
            appendUsage(line, usage);
            line += '}';
            extraString("requestId", requestId);
            if (!m_skill.empty())
                extraString("attributionSkill", m_skill);
            uuids.push_back(m_writer.end());
        }
        return uuids;
    }

    static std::string textBlock(std::string_view text)
    {
        std::string block = "{\"type\":\"text\",\"text\":";
        appendJsonString(block, text);
        block += '}';
        return block;
    }

    std::string thinkingBlock(std::string_view text)
    {
        std::string block = "{\"type\":\"thinking\",\"thinking\":";
        appendJsonString(block, text);
        block += ",\"signature\":\"";
        block += m_random.base62(int(m_random.between(200, 600)));
        block += "\"}";
        return block;
    }

    // `input` is a complete JSON object.
    std::string toolUseBlock(const std::string &id, std::string_view name, std::string_view input)
    {
        std::string block = "{\"type\":\"tool_use\",\"id\":";
        appendJsonString(block, id);
        block += ",\"name\":";
        appendJsonString(block, name);
        block += ",\"input\":";
        block += input;
        block += '}';
        return block;
    }

    // The user line that hands a tool's answer back. `content` is the tool_result item's JSON
    // content value, `result` the toolUseResult object. A negative delay picks a plausible one.
    std::string toolResult(const ToolCall &call, std::string_view content, std::string_view result,
                           qint64 delayMs = -1)
    {
        m_writer.begin("user", delayMs >= 0 ? delayMs : m_random.between(100, 20000));
        std::string &line = m_writer.line;
        appendKey(line, "message");
        line += "{\"role\":\"user\",\"content\":[{\"tool_use_id\":";
        appendJsonString(line, call.id);
        line += ",\"type\":\"tool_result\",\"content\":";
        line += content;
        line += "}]}";
        appendKey(line, "toolUseResult");
        line += result;
        // Transcripts of earlier versions don't name the call's line; such a result opens an
        // exchange of its own that shows nothing.
        if (!m_shape.realShaped || m_random.chance(0.7))
            extraString("sourceToolAssistantUUID", call.lineUuid);
        extraString("promptId", m_promptId);
        m_pendingTokens += qint64(content.size()) / 4;
        return m_writer.end();
    }

    // -- the parts of a session ---------------------------------------------------------------

    void preamble()
    {
        m_writer.begin("user", 0);
        userMessage("Caveat: The messages below were generated by the user while running local commands. "
                    "DO NOT respond to these messages or otherwise consider them in your response unless the "
                    "user explicitly asks you to.");
        appendKey(m_writer.line, "isMeta");
        m_writer.line += "true";
        m_writer.end();
        slashCommand();
        if (m_random.chance(0.5)) {
            // A resumed session answers once before the first prompt.
            std::string text;
            m_text.markdownReply(text, m_random.between(120, 600));
            assistantMessage({textBlock(text)}, qint64(text.size()));
        }
    }

    // A command the user typed opens an exchange of its own, like a prompt.
    void commandTyped(std::string uuid)
    {
        ++m_stats.exchanges;
        m_stats.promptUuids << QString::fromStdString(uuid);
    }

    void slashCommand()
    {
        const char *name = m_random.pick(kSlashCommands);
        m_writer.begin("user", m_random.between(5000, 60000));
        userMessage(std::string("<command-name>/") + name + "</command-name>\n            <command-message>" + name +
                    "</command-message>\n            <command-args></command-args>");
        commandTyped(m_writer.end());
        std::string output = "<local-command-stdout>";
        m_text.commandOutput(output, m_random.between(40, 600));
        output += "</local-command-stdout>";
        m_writer.begin("user", m_random.between(100, 900));
        userMessage(output);
        m_writer.end();
    }

    void exchange()
    {
        m_skill = m_random.chance(0.1) ? m_random.pick(kSkills) : "";
        m_promptId = m_random.uuid();
        std::string prompt;
        m_text.prompt(prompt, m_random.chance(0.05) ? m_random.logUniform(2 * kKilobyte, 8 * kKilobyte)
                                                    : m_random.logUniform(40, 600));
        m_writer.begin("user", m_random.between(20000, 600000));
        userMessage(prompt);
        extraString("promptId", m_promptId);
        m_stats.promptUuids << QString::fromStdString(m_writer.end());
        m_pendingTokens += qint64(prompt.size()) / 4;
        if (m_random.chance(0.06))
            attachment();

        const qint64 maxSteps = m_shape.realShaped ? std::max(40, m_shape.maxStepsPerExchange) : m_shape.maxStepsPerExchange;
        const qint64 steps = m_random.logUniform(1, maxSteps + 1) - 1;
        for (qint64 i = 0; i < steps && !sizeReached(); ++i)
            step(i);
        if (m_shape.realShaped && m_random.chance(0.004))
            codeHeavyReply();
        else
            finalReply(m_random.logUniform(200, 5 * kKilobyte));
        if (m_shape.realShaped && m_random.chance(0.01))
            m_writer.rawLine("// " + std::string(m_random.pick(kSlugWords)) + " checkpoint");
        if (m_shape.subagents && m_random.chance(0.01))
            aside();
    }

    bool sizeReached() const { return m_shape.exchanges == 0 && m_writer.bytes() >= m_shape.targetBytes; }

    void attachment()
    {
        std::string content;
        m_text.sourceFile(content, m_random.logUniform(kKilobyte, 20 * kKilobyte));
        m_writer.begin("attachment", m_random.between(10, 200));
        appendKey(m_writer.line, "attachment");
        m_writer.line += "{\"type\":\"file\",\"filename\":";
        appendJsonString(m_writer.line, m_text.path());
        m_writer.line += ",\"prompt\":";
        appendJsonString(m_writer.line, content);
        m_writer.line += '}';
        m_writer.end();
        m_pendingTokens += qint64(content.size()) / 4;
    }

    void codeHeavyReply()
    {
        std::string text;
        m_text.codeHeavyReply(text, int(m_random.between(150, 500)));
        assistantMessage({textBlock(text)}, qint64(text.size()));
    }

    void finalReply(qint64 bytes)
    {
        std::string text;
        m_text.markdownReply(text, bytes);
        assistantMessage({textBlock(text)}, qint64(text.size()));
    }

    // The size of the next tool result line: mostly 1-100 KB, now and then 1 MB or more, never
    // much beyond what the session still has room for.
    qint64 toolResultBytes()
    {
        const qint64 room = remaining();
        const bool forceHuge = m_shape.exchanges == 0 && m_shape.targetBytes >= 8 * kMegabyte && !m_wroteHuge &&
                               m_writer.bytes() > m_shape.targetBytes / 3;
        if (room > 4 * kMegabyte && (forceHuge || m_random.chance(m_shape.hugeLineChance))) {
            m_wroteHuge = true;
            return m_random.logUniform(kMegabyte, 3 * kMegabyte);
        }
        const qint64 cap = std::max<qint64>(kKilobyte, std::min(m_shape.maxToolResultBytes, room / 2));
        return m_random.logUniform(std::min<qint64>(kKilobyte, cap), cap);
    }

    // One model call that uses a tool, and the tool's result.
    void step(qint64 index)
    {
        std::vector<std::string> blocks;
        qint64 outputBytes = 0;
        if (m_random.chance(index == 0 ? 0.4 : 0.15)) {
            std::string thought;
            m_text.thinking(thought, m_random.logUniform(100, 2000));
            outputBytes += qint64(thought.size());
            blocks.push_back(thinkingBlock(thought));
        }
        if (m_random.chance(0.5)) {
            std::string text;
            m_text.markdownReply(text, m_random.logUniform(60, 800));
            outputBytes += qint64(text.size());
            blocks.push_back(textBlock(text));
        }
        const qint64 roll = m_random.below(100);
        const bool task = m_shape.subagents && roll < (m_shape.realShaped ? 4 : 2);
        const bool edit = !task && roll < 22;
        ToolCall call;
        // Some tools number their calls afresh in every exchange.
        call.id = m_shape.realShaped && m_random.chance(0.3) ? "call_" + std::to_string(index)
                                                             : "toolu_01" + m_random.base62(22);
        std::string input;
        std::string filePath = m_writer.identity().cwd + "/" + m_text.path();
        std::string oldText, newText, taskPrompt;
        if (task) {
            call.name = "Task";
            m_text.prompt(taskPrompt, m_random.between(200, 900));
            input = "{\"description\":";
            appendJsonString(input, m_random.pick(kSlugWords) + std::string(" ") + m_random.pick(kSlugWords));
            input += ",\"subagent_type\":\"Explore\",\"prompt\":";
            appendJsonString(input, taskPrompt);
            input += '}';
        } else if (edit) {
            call.name = "Edit";
            int ignored = 0;
            m_text.patchLines(oldText, int(m_random.between(1, 12)), &ignored, &ignored);
            m_text.patchLines(newText, int(m_random.between(1, 16)), &ignored, &ignored);
            input = "{\"file_path\":";
            appendJsonString(input, filePath);
            input += ",\"old_string\":";
            appendJsonString(input, oldText);
            input += ",\"new_string\":";
            appendJsonString(input, newText);
            input += '}';
        } else {
            const char *const tools[] = {"Read", "Read", "Read", "Bash", "Bash", "Grep", "Glob", "WebFetch"};
            call.name = m_random.pick(tools);
            if (m_shape.realShaped && roll >= 98) {
                call.name = roll == 99 ? "Screenshot" : "Bash";
                call.oneLongLine = roll == 98;
            }
            input = "{\"file_path\":";
            appendJsonString(input, filePath);
            input += '}';
        }
        outputBytes += qint64(input.size());
        blocks.push_back(toolUseBlock(call.id, call.name, input));
        call.lineUuid = assistantMessage(blocks, outputBytes).back();

        if (task)
            taskResult(call, taskPrompt);
        else if (edit)
            editResult(call, filePath, oldText, newText);
        else
            plainResult(call, filePath);
    }

    void plainResult(const ToolCall &call, const std::string &filePath)
    {
        if (m_shape.realShaped && call.name == "Screenshot") {
            imageResult(call);
            return;
        }
        if (call.oneLongLine) {
            singleLineResult(call);
            return;
        }
        // The output travels twice: in the tool_result item and in toolUseResult.
        const qint64 half = toolResultBytes() / 2;
        std::string output;
        std::string result;
        if (call.name == "Read") {
            m_text.sourceFile(output, half);
            result = "{\"type\":\"text\",\"file\":{\"filePath\":";
            appendJsonString(result, filePath);
            result += ",\"content\":";
            appendJsonString(result, output);
            const qint64 lines = qint64(std::count(output.begin(), output.end(), '\n'));
            result += ",\"numLines\":" + std::to_string(lines) + ",\"startLine\":1,\"totalLines\":" +
                      std::to_string(lines) + "}}";
        } else {
            if (call.name == "Grep" || call.name == "Glob")
                m_text.searchOutput(output, half);
            else if (call.name == "WebFetch")
                m_text.markdownReply(output, half);
            else
                m_text.commandOutput(output, half);
            result = "{\"stdout\":";
            appendJsonString(result, output);
            result += ",\"stderr\":\"\",\"interrupted\":false,\"isImage\":false}";
        }
        std::string content;
        appendJsonString(content, output);
        toolResult(call, content, result);
    }

    // A screenshot travels as one base64 line of a few hundred KB to 1.5 MB.
    void imageResult(const ToolCall &call)
    {
        const qint64 bytes = std::min<qint64>(m_random.logUniform(200 * kKilobyte, 1536 * kKilobyte),
                                              std::max<qint64>(kKilobyte, remaining() / 2));
        const std::string data = m_random.base62(int(bytes));
        std::string content = "[{\"type\":\"image\",\"source\":{\"type\":\"base64\",\"media_type\":\"image/png\",\"data\":\"";
        content += data;
        content += "\"}}]";
        toolResult(call, content, "{\"type\":\"image\",\"file\":{\"base64\":\"" + data + "\",\"type\":\"image/png\"}}");
    }

    // A result that is one long line of minified JSON.
    void singleLineResult(const ToolCall &call)
    {
        std::string output;
        m_text.singleLineJson(output, std::min<qint64>(m_random.logUniform(20 * kKilobyte, kMegabyte),
                                                       std::max<qint64>(kKilobyte, remaining() / 4)));
        std::string result = "{\"stdout\":";
        appendJsonString(result, output);
        result += ",\"stderr\":\"\",\"interrupted\":false,\"isImage\":false}";
        std::string content;
        appendJsonString(content, output);
        toolResult(call, content, result);
    }

    void editResult(const ToolCall &call, const std::string &filePath, const std::string &oldText,
                    const std::string &newText)
    {
        // The result repeats the whole original file, which is what makes edit results large.
        std::string original;
        m_text.sourceFile(original, toolResultBytes());
        std::string patch = "[";
        const qint64 hunks = m_random.between(1, 3);
        int added = 0, removed = 0;
        for (qint64 h = 0; h < hunks; ++h) {
            std::string lines;
            m_text.patchLines(lines, int(m_random.between(3, 30)), &added, &removed);
            if (h > 0)
                patch += ',';
            const qint64 start = m_random.between(1, 400);
            patch += "{\"oldStart\":" + std::to_string(start) + ",\"oldLines\":" + std::to_string(removed) +
                     ",\"newStart\":" + std::to_string(start) + ",\"newLines\":" + std::to_string(added) +
                     ",\"lines\":[";
            size_t from = 0;
            bool first = true;
            while (from < lines.size()) {
                const size_t newline = lines.find('\n', from);
                if (!first)
                    patch += ',';
                first = false;
                appendJsonString(patch, std::string_view(lines).substr(from, newline - from));
                from = newline + 1;
            }
            patch += "]}";
        }
        patch += ']';

        std::string result = "{\"filePath\":";
        appendJsonString(result, filePath);
        result += ",\"oldString\":";
        appendJsonString(result, oldText);
        result += ",\"newString\":";
        appendJsonString(result, newText);
        result += ",\"originalFile\":";
        appendJsonString(result, original);
        result += ",\"structuredPatch\":" + patch + ",\"userModified\":false,\"replaceAll\":false}";
        std::string content;
        appendJsonString(content, "The file " + filePath + " has been updated.");
        toolResult(call, content, result);

        // The assistant side keeps its own record of the edit, which the page shows as a diff.
        m_writer.begin("assistant", m_random.between(10, 100));
        appendKey(m_writer.line, "message");
        m_writer.line += "{\"role\":\"assistant\",\"content\":[]}";
        extraString("sourceToolAssistantUUID", call.lineUuid);
        appendKey(m_writer.line, "toolUseResult");
        m_writer.line += "{\"filePath\":";
        appendJsonString(m_writer.line, filePath);
        m_writer.line += ",\"structuredPatch\":" + patch + "}";
        m_writer.end();
    }

    std::string subagentPath(const std::string &fileName) const
    {
        const QFileInfo session(m_path);
        return QDir(session.absolutePath())
            .filePath(session.completeBaseName() + "/subagents/" + QString::fromStdString(fileName))
            .toStdString();
    }

    std::string slug()
    {
        return std::string(m_random.pick(kSlugWords)) + "-" + m_random.pick(kSlugWords) + "-" +
               m_random.pick(kSlugWords);
    }

    // Writes a sub-agent transcript beside the session; returns the clock after it.
    qint64 writeSubagentFile(const std::string &fileName, const std::string &agentId, const std::string &agentSlug,
                             const std::string &task, const std::string &logicalParent, qint64 bytes)
    {
        TVLCorpusShape shape;
        shape.targetBytes = bytes;
        shape.maxToolResultBytes = 30 * kKilobyte;
        shape.hugeLineChance = 0;
        shape.subagents = false;
        shape.compactions = false;
        Identity identity = m_writer.identity();
        identity.agentId = agentId;
        identity.slug = agentSlug;
        TranscriptBuilder builder(m_random, shape, m_stats, QString::fromStdString(subagentPath(fileName)),
                                  identity, m_writer.clockMs());
        builder.writeSubagent(task, logicalParent);
        return builder.clockMs();
    }

    void taskResult(const ToolCall &call, const std::string &task)
    {
        const std::string agentId = m_random.hex(8);
        const qint64 before = m_writer.clockMs();
        const qint64 after = writeSubagentFile("agent-" + agentId + ".jsonl", agentId, slug(), task, {},
                                               m_random.logUniform(10 * kKilobyte, 200 * kKilobyte));
        std::string answer;
        m_text.markdownReply(answer, m_random.between(300, 2500));
        const std::string block = textBlock(answer);
        std::string result = "{\"status\":\"completed\",\"prompt\":";
        appendJsonString(result, task);
        result += ",\"agentId\":";
        appendJsonString(result, agentId);
        result += ",\"content\":[" + block + "],\"totalDurationMs\":" + std::to_string(after - before) +
                  ",\"totalTokens\":" + std::to_string(m_random.between(5000, 90000)) +
                  ",\"totalToolUseCount\":" + std::to_string(m_random.between(2, 30)) + "}";
        // The result arrives when the sub-agent has finished.
        toolResult(call, "[" + block + "]", result, std::max<qint64>(0, after - m_writer.clockMs()) + 300);
    }

    void aside()
    {
        std::string question;
        m_text.prompt(question, m_random.between(40, 300));
        const std::string id = m_random.hex(8);
        writeSubagentFile("agent-aside_question-" + id + ".jsonl", id, slug(), question, m_writer.lastUuid(),
                          m_random.logUniform(2 * kKilobyte, 20 * kKilobyte));
    }

    // The user compacts the conversation: the command, the summary line, and the compaction's
    // own transcript, whose first line carries the same promptId.
    void compaction()
    {
        m_lastCompactionAt = m_writer.bytes();
        ++m_stats.compactions;
        m_promptId = m_random.uuid();
        m_writer.begin("user", m_random.between(5000, 60000));
        userMessage("<command-name>/compact</command-name>\n            <command-message>compact</command-message>\n"
                    "            <command-args></command-args>");
        const bool withPromptId = !m_shape.realShaped || m_random.chance(0.5);
        if (withPromptId)
            extraString("promptId", m_promptId);
        commandTyped(m_writer.end());

        const std::string id = m_random.hex(7);
        const std::string path = subagentPath("agent-acompact-" + id + ".jsonl");
        Identity identity = m_writer.identity();
        identity.agentId = "acompact-" + id;
        TranscriptWriter compact(m_random, identity, m_writer.clockMs());
        if (compact.open(QString::fromStdString(path))) {
            compact.begin("user", 500, false);
            appendKey(compact.line, "message");
            compact.line += "{\"role\":\"user\",\"content\":\"Your task is to create a detailed summary of the "
                            "conversation so far, paying close attention to the user's explicit requests and "
                            "your previous actions.\"}";
            if (withPromptId) {
                appendKey(compact.line, "promptId");
                appendJsonString(compact.line, m_promptId);
            }
            compact.end();
            std::string summary;
            m_text.markdownReply(summary, m_random.between(2 * kKilobyte, 6 * kKilobyte));
            Usage usage;
            usage.input = m_random.between(5, 12);
            usage.cacheRead = m_contextTokens;
            usage.output = qint64(summary.size()) / 4;
            compact.begin("assistant", m_random.between(15000, 60000));
            appendKey(compact.line, "message");
            compact.line += "{\"model\":";
            appendJsonString(compact.line, kModel);
            compact.line += ",\"id\":\"msg_01" + m_random.base62(22) +
                            "\",\"type\":\"message\",\"role\":\"assistant\",\"content\":[";
            compact.line += textBlock(summary);
            compact.line += "],\"stop_reason\":\"end_turn\",\"stop_sequence\":null,\"usage\":";
            appendUsage(compact.line, usage);
            compact.line += '}';
            compact.end();
            compact.finish();
            ++m_stats.subagentFiles;
            m_stats.subagentBytes += compact.bytes();

            m_writer.begin("user", compact.clockMs() - m_writer.clockMs() + 200);
            userMessage("This session is being continued from a previous conversation that ran out of context. "
                        "The conversation is summarized below:\n" + summary);
            appendKey(m_writer.line, "isCompactSummary");
            m_writer.line += "true";
            appendKey(m_writer.line, "isVisibleInTranscriptOnly");
            m_writer.line += "true";
            if (withPromptId)
                extraString("promptId", m_promptId);
            m_writer.end();
            m_contextTokens = 15000 + qint64(summary.size()) / 4;
        }
    }

    TVLCorpusRandom &m_random;
    TVLCorpusText m_text;
    const TVLCorpusShape &m_shape;
    TVLCorpusStats &m_stats;
    QString m_path;
    TranscriptWriter m_writer;
    std::string m_promptId;
    std::string m_skill;
    qint64 m_contextTokens = 18000;
    qint64 m_pendingTokens = 4000;
    qint64 m_lastCompactionAt = 0;
    bool m_wroteHuge = false;
};

Identity identityFor(TVLCorpusRandom &random, const QString &sessionPath)
{
    // A project directory is named after the working directory with "/" written as "-".
    const QString directory = QFileInfo(sessionPath).absoluteDir().dirName();
    Identity identity;
    identity.cwd = directory.startsWith(QLatin1Char('-')) ? QString(directory).replace(QLatin1Char('-'), QLatin1Char('/')).toStdString()
                                                          : "/home/dev/src/" + directory.toStdString();
    identity.sessionId = QFileInfo(sessionPath).completeBaseName().toStdString();
    identity.branch = random.pick(kBranches);
    return identity;
}

qint64 startClock(TVLCorpusRandom &random)
{
    // Somewhere in 2025.
    return 1735689600000ll + random.below(330) * 86400000ll + random.below(86400000);
}

bool writeMetadata(const QString &directory, TVLCorpusRandom &random, const QStringList &exchanges)
{
    QJsonObject tags;
    QJsonObject annotations;
    for (const QString &uuid : exchanges) {
        if (random.chance(0.03)) {
            QJsonArray ids{int(random.between(1, 9))};
            if (random.chance(0.3))
                ids.append(int(random.between(1, 9)));
            tags.insert(uuid, ids);
        }
        if (random.chance(0.005))
            annotations.insert(uuid, QStringLiteral("Look at this again before the release."));
    }
    QFile file(QDir(directory).filePath(QStringLiteral("TavloMetaData.json")));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const QJsonObject root{{QStringLiteral("annotations"), annotations},
                           {QStringLiteral("tags"), tags},
                           {QStringLiteral("version"), 1}};
    return file.write(QJsonDocument(root).toJson(QJsonDocument::Indented)) > 0;
}

} // namespace

QString TVLCorpusShape::description() const
{
    return QStringLiteral("generator=%1 target=%2 exchanges=%3 steps=%4 toolResult=%5 huge=%6 subagents=%7 "
                          "compactions=%8 compactEvery=%9")
        .arg(kGeneratorVersion)
        .arg(targetBytes)
        .arg(exchanges)
        .arg(maxStepsPerExchange)
        .arg(maxToolResultBytes)
        .arg(hugeLineChance)
        .arg(subagents)
        .arg(compactions)
        .arg(compactionEveryBytes)
        // Named only when set, so that corpora made before the option keep their stamps.
        + (realShaped ? QStringLiteral(" real=1") : QString());
}

void TVLCorpusStats::add(const TVLCorpusStats &other)
{
    sessionFiles += other.sessionFiles;
    sessionBytes += other.sessionBytes;
    subagentFiles += other.subagentFiles;
    subagentBytes += other.subagentBytes;
    lines += other.lines;
    exchanges += other.exchanges;
    compactions += other.compactions;
    largestLine = std::max(largestLine, other.largestLine);
    sessionPaths += other.sessionPaths;
    promptUuids += other.promptUuids;
}

QString TVLCorpusStats::summary() const
{
    return QStringLiteral("%1 session files, %2 (+ %3 in %4 sub-agent files), %5 lines, %6 exchanges, "
                          "%7 compactions, largest line %8")
        .arg(sessionFiles)
        .arg(TVLCorpusGenerator::formatSize(sessionBytes), TVLCorpusGenerator::formatSize(subagentBytes))
        .arg(subagentFiles)
        .arg(lines)
        .arg(exchanges)
        .arg(compactions)
        .arg(TVLCorpusGenerator::formatSize(largestLine));
}

TVLCorpusGenerator::TVLCorpusGenerator(quint64 seed) : m_seed(seed) {}

QString TVLCorpusGenerator::defaultDirectory()
{
    // This file lives in bench/support; the corpus goes to bench/corpus next to it.
    const QFileInfo source(QStringLiteral(__FILE__));
    if (source.isAbsolute() && source.exists())
        return QDir::cleanPath(source.absolutePath() + QStringLiteral("/../corpus"));
    return QStringLiteral("bench/corpus");
}

quint64 TVLCorpusGenerator::seedFor(const QString &what) const
{
    const QByteArray digest = QCryptographicHash::hash(what.toUtf8(), QCryptographicHash::Sha256);
    quint64 mixed = m_seed;
    for (int i = 0; i < 8; ++i)
        mixed = (mixed << 8 | (mixed >> 56)) ^ quint8(digest[i]);
    return mixed;
}

TVLCorpusStats TVLCorpusGenerator::writeSession(const QString &path, const TVLCorpusShape &shape)
{
    TVLCorpusStats stats;
    TVLCorpusRandom random(seedFor(QFileInfo(path).fileName() + shape.description()));
    const QFileInfo info(path);
    // Sub-agent files of an earlier run would be listed with the new session.
    QDir(info.absolutePath() + QLatin1Char('/') + info.completeBaseName()).removeRecursively();
    TranscriptBuilder builder(random, shape, stats, path, identityFor(random, path), startClock(random));
    builder.writeSession();
    return stats;
}

TVLCorpusStats TVLCorpusGenerator::writeProject(const QString &directory, int sessions, qint64 totalBytes)
{
    TVLCorpusStats stats;
    TVLCorpusRandom random(seedFor(QStringLiteral("project %1 %2").arg(sessions).arg(totalBytes)));
    // Real projects hold a few big sessions and many small ones.
    std::vector<double> weights;
    double sum = 0;
    for (int i = 0; i < sessions; ++i) {
        weights.push_back(double(random.logUniform(1, 1000)));
        sum += weights.back();
    }
    QDir().mkpath(directory);
    for (int i = 0; i < sessions; ++i) {
        TVLCorpusShape shape;
        shape.targetBytes = std::max<qint64>(8 * kKilobyte, qint64(double(totalBytes) * weights[size_t(i)] / sum));
        const QString path = QDir(directory).filePath(QString::fromStdString(random.uuid()) + QStringLiteral(".jsonl"));
        stats.add(writeSession(path, shape));
    }
    writeMetadata(directory, random, stats.promptUuids);
    return stats;
}

TVLCorpusStats TVLCorpusGenerator::writeRoot(const QString &directory, int projects, int sessionFiles,
                                             qint64 bytesPerSession)
{
    static const char *const kNames[] = {"weather", "ledger", "notes", "blog",  "api",    "infra", "mobile",
                                         "web",     "shop",   "chat",  "tools", "parser", "site",  "game"};
    TVLCorpusStats stats;
    TVLCorpusRandom random(seedFor(QStringLiteral("root %1 %2 %3").arg(projects).arg(sessionFiles).arg(bytesPerSession)));
    TVLCorpusShape shape;
    shape.targetBytes = bytesPerSession;
    shape.maxStepsPerExchange = 2;
    shape.maxToolResultBytes = 1500;
    shape.hugeLineChance = 0;
    shape.subagents = false;
    shape.compactions = false;
    QDir().mkpath(directory);
    for (int p = 0; p < projects; ++p) {
        const QString name = QStringLiteral("-home-dev-src-%1-%2-%3")
                                 .arg(QLatin1String(random.pick(kNames)), QLatin1String(random.pick(kNames)))
                                 .arg(p);
        int count = sessionFiles / projects + (p < sessionFiles % projects ? 1 : 0);
        if (p % 40 == 39 && count > 1) {
            const QString sub = QDir(directory).filePath(name + QStringLiteral("--wip"));
            stats.add(writeSession(QDir(sub).filePath(QString::fromStdString(random.uuid()) + QStringLiteral(".jsonl")),
                                   shape));
            --count;
        }
        for (int s = 0; s < count; ++s) {
            const QString path = QDir(directory).filePath(name + QLatin1Char('/') +
                                                          QString::fromStdString(random.uuid()) + QStringLiteral(".jsonl"));
            stats.add(writeSession(path, shape));
        }
    }
    return stats;
}

QString TVLCorpusGenerator::ensureSession(const QString &name, const TVLCorpusShape &shape, TVLCorpusStats *stats)
{
    const QDir directory(QDir(defaultDirectory()).filePath(name));
    const QString stampPath = directory.filePath(QStringLiteral(".corpus-stamp"));
    const QString wanted = QStringLiteral("seed=%1 %2").arg(m_seed).arg(shape.description());

    QFile stamp(stampPath);
    if (stamp.open(QIODevice::ReadOnly | QIODevice::Text)) {
        const QStringList lines = QString::fromUtf8(stamp.readAll()).split(QLatin1Char('\n'));
        if (lines.size() >= 3 && lines[0] == wanted) {
            const QStringList numbers = lines[2].split(QLatin1Char(' '));
            const QString path = directory.filePath(lines[1]);
            if (numbers.size() == 8 && QFileInfo(path).size() == numbers[1].toLongLong()) {
                TVLCorpusStats stored;
                stored.sessionFiles = numbers[0].toLongLong();
                stored.sessionBytes = numbers[1].toLongLong();
                stored.subagentFiles = numbers[2].toLongLong();
                stored.subagentBytes = numbers[3].toLongLong();
                stored.lines = numbers[4].toLongLong();
                stored.exchanges = numbers[5].toLongLong();
                stored.compactions = numbers[6].toLongLong();
                stored.largestLine = numbers[7].toLongLong();
                stored.sessionPaths << path;
                if (stats)
                    *stats = stored;
                return path;
            }
        }
        stamp.close();
    }

    QDir(directory.path()).removeRecursively();
    QDir().mkpath(directory.path());
    const QString path = sessionPathIn(directory.path(), name);
    const TVLCorpusStats written = writeSession(path, shape);
    if (stamp.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        QTextStream out(&stamp);
        out << wanted << '\n'
            << QFileInfo(path).fileName() << '\n'
            << written.sessionFiles << ' ' << written.sessionBytes << ' ' << written.subagentFiles << ' '
            << written.subagentBytes << ' ' << written.lines << ' ' << written.exchanges << ' '
            << written.compactions << ' ' << written.largestLine << '\n';
    }
    if (stats)
        *stats = written;
    return path;
}

qint64 TVLCorpusGenerator::parseSize(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral("^\\s*(\\d+(?:\\.\\d+)?)\\s*([kKmMgG]?)[bB]?\\s*$"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return -1;
    double value = match.captured(1).toDouble();
    const QChar unit = match.captured(2).isEmpty() ? QChar() : match.captured(2).at(0).toUpper();
    if (unit == QLatin1Char('K'))
        value *= double(kKilobyte);
    else if (unit == QLatin1Char('M'))
        value *= double(kMegabyte);
    else if (unit == QLatin1Char('G'))
        value *= double(kMegabyte * 1024);
    return qint64(value);
}

QString TVLCorpusGenerator::formatSize(qint64 bytes)
{
    if (bytes >= kMegabyte * 1024)
        return QString::number(double(bytes) / double(kMegabyte * 1024), 'f', 2) + QStringLiteral(" GB");
    if (bytes >= kMegabyte)
        return QString::number(double(bytes) / double(kMegabyte), 'f', 1) + QStringLiteral(" MB");
    if (bytes >= kKilobyte)
        return QString::number(double(bytes) / double(kKilobyte), 'f', 1) + QStringLiteral(" KB");
    return QString::number(bytes) + QStringLiteral(" B");
}

QString TVLCorpusGenerator::sessionPathIn(const QString &directory, const QString &name) const
{
    TVLCorpusRandom random(seedFor(QStringLiteral("session file ") + name));
    return QDir(directory).filePath(QString::fromStdString(random.uuid()) + QStringLiteral(".jsonl"));
}

QString TVLCorpusGenerator::sizeName(qint64 bytes)
{
    const struct { qint64 unit; const char *suffix; } units[] = {
        {kMegabyte * 1024, "G"}, {kMegabyte, "M"}, {kKilobyte, "K"}};
    for (const auto &u : units) {
        if (bytes > 0 && bytes % u.unit == 0)
            return QString::number(bytes / u.unit) + QLatin1String(u.suffix);
    }
    return QString::number(bytes);
}

QString TVLCorpusGenerator::ensureDirectory(const QString &directory, const QString &recipe,
                                            const std::function<void()> &write)
{
    QFile stamp(QDir(directory).filePath(QStringLiteral(".bench-stamp")));
    if (stamp.open(QIODevice::ReadOnly) && QString::fromUtf8(stamp.readAll()) == recipe)
        return directory;
    stamp.close();
    QDir(directory).removeRecursively();
    QDir().mkpath(directory);
    write();
    if (stamp.open(QIODevice::WriteOnly))
        stamp.write(recipe.toUtf8());
    return directory;
}
