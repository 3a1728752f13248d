#include "TVLTranscriptEditReader.h"

#include "Halvex/Foundation/HVXLog.h"
#include "TVLExchange.h"
#include "TVLJsonAccess.h"
#include "TVLMessage.h"
#include "TVLParsedLine.h"

#include <QDir>

using simdjson::dom::array;
using simdjson::dom::element;
using simdjson::dom::object;
using namespace TVLJsonAccess;

namespace {
constexpr qsizetype kErrorLength = 300;

bool isEditTool(std::string_view name)
{
    return name == "Edit" || name == "MultiEdit" || name == "Write" || name == "NotebookEdit";
}

qint64 numberAt(const object &obj, std::string_view key)
{
    element value;
    if (obj[key].get(value) != simdjson::SUCCESS)
        return 0;
    int64_t integer = 0;
    if (value.get_int64().get(integer) == simdjson::SUCCESS)
        return integer;
    double real = 0;
    if (value.get_double().get(real) == simdjson::SUCCESS)
        return qint64(real);
    return 0;
}

QString cleanedPath(const QString &path, const QString &workingDirectory)
{
    if (path.isEmpty())
        return {};
    return QDir::cleanPath(QDir::isAbsolutePath(path) || workingDirectory.isEmpty() ? path
                                                                                   : workingDirectory + u'/' + path);
}

// The text's lines; a final line break ends the last line rather than starting another.
QStringList linesOf(const QString &text)
{
    if (text.isEmpty())
        return {};
    QStringList lines = text.split(QLatin1Char('\n'));
    if (text.endsWith(QLatin1Char('\n')))
        lines.removeLast();
    return lines;
}

void prefixEach(QStringList &lines, QChar prefix)
{
    for (QString &line : lines)
        line.prepend(prefix);
}

// A hunk that replaces `oldText` with `newText`, at no known position.
TVLEditHunk replacementHunk(const QString &oldText, const QString &newText)
{
    QStringList removed = linesOf(oldText);
    QStringList added = linesOf(newText);
    prefixEach(removed, QLatin1Char('-'));
    prefixEach(added, QLatin1Char('+'));
    TVLEditHunk hunk;
    hunk.oldLines = removed.size();
    hunk.newLines = added.size();
    hunk.lines = removed + added;
    return hunk;
}

TVLEditHunk creationHunk(const QString &content)
{
    QStringList lines = linesOf(content);
    prefixEach(lines, QLatin1Char('+'));
    TVLEditHunk hunk;
    hunk.newStart = lines.isEmpty() ? 0 : 1;
    hunk.newLines = lines.size();
    hunk.lines = lines;
    return hunk;
}

std::vector<TVLEditHunk> hunksOfPatch(const array &patch)
{
    std::vector<TVLEditHunk> hunks;
    for (element entry : patch) {
        object hunkObject;
        if (entry.get_object().get(hunkObject) != simdjson::SUCCESS)
            continue;
        TVLEditHunk hunk;
        hunk.oldStart = numberAt(hunkObject, "oldStart");
        hunk.oldLines = numberAt(hunkObject, "oldLines");
        hunk.newStart = numberAt(hunkObject, "newStart");
        hunk.newLines = numberAt(hunkObject, "newLines");
        if (const auto lines = arrayAt(hunkObject, "lines"))
            for (element line : *lines) {
                std::string_view text;
                if (line.get_string().get(text) == simdjson::SUCCESS)
                    hunk.lines.append(toQString(text));
            }
        hunks.push_back(std::move(hunk));
    }
    return hunks;
}

void countLines(TVLFileEdit &edit)
{
    edit.added = edit.removed = 0;
    for (const TVLEditHunk &hunk : edit.hunks)
        for (const QString &line : hunk.lines) {
            if (line.startsWith(QLatin1Char('+')))
                ++edit.added;
            else if (line.startsWith(QLatin1Char('-')))
                ++edit.removed;
        }
}

// The error on one line, without the tag the tools wrap it in.
QString shortError(QString text)
{
    text = text.simplified();
    if (text.startsWith(QLatin1String("<tool_use_error>")) && text.endsWith(QLatin1String("</tool_use_error>")))
        text = text.mid(16, text.size() - 16 - 17).trimmed();
    if (text.size() > kErrorLength)
        text = text.left(kErrorLength) + QStringLiteral("\u2026");
    return text;
}

// Lines worth parsing: those that can hold an edit call, and those that can hold a result.
bool mayHoldEditCall(QByteArrayView bytes)
{
    return bytes.contains(QByteArrayView("\"tool_use\"")) && (bytes.contains("Edit\"") || bytes.contains("Write\""));
}

bool mayHoldResult(QByteArrayView bytes)
{
    return bytes.contains(QByteArrayView("\"tool_result\"")) || bytes.contains(QByteArrayView("\"toolUseResult\""));
}
} // namespace

TVLTranscriptEditReader::TVLTranscriptEditReader(const QString &transcriptPath, bool inSubagent,
                                                 const QString &anchorExchangeUuid, const QString &anchorSectionId)
    : m_transcriptPath(transcriptPath), m_inSubagent(inSubagent), m_anchorExchangeUuid(anchorExchangeUuid),
      m_anchorSectionId(anchorSectionId)
{
}

void TVLTranscriptEditReader::readExchange(const TVLExchange &exchange)
{
    for (const TVLMessage *message : exchange.messages()) {
        const QByteArrayView bytes = message->rawBytes();
        const bool call = mayHoldEditCall(bytes);
        const bool result = mayAnswerWaitingCall(bytes);
        if (!call && !result)
            continue;
        const TVLParsedLine parsed(bytes);
        if (!parsed.ok())
            continue;
        if (call)
            readCalls(parsed.line(), *message, exchange);
        if (result && !m_calls.empty())
            readResults(parsed.line());
    }
}

// Most result lines answer other tools: a line is parsed only when it names a call still waiting
// for its result, or the line of a call whose result came without hunks.
bool TVLTranscriptEditReader::mayAnswerWaitingCall(QByteArrayView bytes) const
{
    if ((m_unanswered.isEmpty() && m_awaitingHunks.isEmpty()) || !mayHoldResult(bytes))
        return false;
    for (auto it = m_unanswered.cbegin(); it != m_unanswered.cend(); ++it)
        if (bytes.contains(QByteArrayView(it.key())))
            return true;
    for (const QByteArray &lineUuid : m_awaitingHunks)
        if (bytes.contains(QByteArrayView(lineUuid)))
            return true;
    return false;
}

void TVLTranscriptEditReader::readCalls(const object &line, const TVLMessage &message, const TVLExchange &exchange)
{
    const auto modelMessage = objectAt(line, "message");
    const auto items = modelMessage ? arrayAt(*modelMessage, "content") : std::nullopt;
    if (!items)
        return;
    const QString workingDirectory = toQString(stringAt(line, "cwd").value_or(""));
    for (element item : *items) {
        object call;
        if (item.get_object().get(call) != simdjson::SUCCESS || stringAt(call, "type") != "tool_use")
            continue;
        const auto name = stringAt(call, "name");
        const auto input = objectAt(call, "input");
        if (!name || !isEditTool(*name) || !input)
            continue;
        const auto path = stringAt(*input, *name == "NotebookEdit" ? "notebook_path" : "file_path");
        if (!path || path->empty()) {
            HVXLogWarning(QStringLiteral("%1 call without a file path in %2").arg(toQString(*name), m_transcriptPath));
            continue;
        }
        const QString toolUseId = toQString(stringAt(call, "id").value_or(""));
        // A streamed message may repeat a call that is still waiting for its result.
        if (const auto known = m_callByToolUseId.constFind(toolUseId);
            !toolUseId.isEmpty() && known != m_callByToolUseId.cend() && !m_calls[*known].answered)
            continue;
        if (m_workingDirectory.isEmpty())
            m_workingDirectory = workingDirectory;

        TVLFileEdit edit;
        edit.tool = toQString(*name);
        edit.toolUseId = toolUseId;
        edit.filePath = cleanedPath(toQString(*path), workingDirectory);
        edit.transcriptPath = m_transcriptPath;
        edit.transcriptExchangeUuid = exchange.uuid();
        edit.callUuid = message.uuid();
        edit.inSubagent = m_inSubagent;
        edit.exchangeUuid = m_inSubagent ? m_anchorExchangeUuid : exchange.uuid();
        edit.sectionId = m_inSubagent ? m_anchorSectionId : exchange.sectionId();
        edit.timestampMSecs = message.hasTimestamp() ? message.timestampMSecs() : 0;

        const qsizetype index = qsizetype(m_edits.size());
        m_edits.push_back(std::move(edit));
        m_calls.push_back({&message, false, false});
        if (!toolUseId.isEmpty()) {
            m_callByToolUseId.insert(toolUseId, index);
            m_unanswered.insert(toolUseId.toUtf8(), index);
        }
        m_callsByLineUuid[message.uuid()].append(index);
    }
}

void TVLTranscriptEditReader::readResults(const object &line)
{
    const auto toolUseResult = objectAt(line, "toolUseResult");
    const auto modelMessage = objectAt(line, "message");
    const auto items = modelMessage ? arrayAt(*modelMessage, "content") : std::nullopt;
    bool answeredHere = false;
    if (items)
        for (element item : *items) {
            object result;
            if (item.get_object().get(result) != simdjson::SUCCESS || stringAt(result, "type") != "tool_result")
                continue;
            const auto id = stringAt(result, "tool_use_id");
            const auto found = id ? m_callByToolUseId.constFind(toQString(*id)) : m_callByToolUseId.cend();
            if (found == m_callByToolUseId.cend())
                continue;
            answeredHere = true;
            const qsizetype index = *found;
            m_calls[size_t(index)].answered = true;
            m_unanswered.remove(toQString(*id).toUtf8());
            bool isError = false;
            if (result["is_error"].get_bool().get(isError) == simdjson::SUCCESS && isError) {
                TVLFileEdit &edit = m_edits[size_t(index)];
                edit.failed = true;
                edit.error = shortError(toolResultText(result));
                edit.hunks.clear();
                edit.created = false;
                countLines(edit);
                continue;
            }
            if (toolUseResult)
                applyResultObject(index, *toolUseResult);
            if (!m_calls[size_t(index)].hasResultHunks)
                awaitHunksFromLine(m_calls[size_t(index)].line->uuid());
        }
    if (answeredHere || !toolUseResult)
        return;
    // A line that repeats a result for the line that made the call, without a tool_result item.
    const auto callLine = stringAt(line, "sourceToolAssistantUUID");
    if (!callLine)
        return;
    for (const qsizetype index : m_callsByLineUuid.value(toQString(*callLine)))
        if (!m_calls[size_t(index)].hasResultHunks && !m_edits[size_t(index)].failed)
            applyResultObject(index, *toolUseResult);
}

// A repeated result follows its result closely, so only the last few such calls are waited for.
void TVLTranscriptEditReader::awaitHunksFromLine(const QString &lineUuid)
{
    const QByteArray key = lineUuid.toUtf8();
    if (key.isEmpty() || m_awaitingHunks.contains(key))
        return;
    if (m_awaitingHunks.size() >= kAwaitedLines)
        m_awaitingHunks.removeFirst();
    m_awaitingHunks.append(key);
}

// Takes the result's hunks when it speaks of the call's file: a line may answer several calls,
// and its toolUseResult belongs to one of them.
void TVLTranscriptEditReader::applyResultObject(qsizetype index, const object &result)
{
    TVLFileEdit &edit = m_edits[size_t(index)];
    Call &call = m_calls[size_t(index)];
    if (call.hasResultHunks)
        return;
    if (const auto path = stringAt(result, "filePath"); path && cleanedPath(toQString(*path), {}) != edit.filePath)
        return;
    const bool created = stringAt(result, "type") == "create";
    if (const auto patch = arrayAt(result, "structuredPatch"); patch && patch->size() > 0) {
        edit.hunks = hunksOfPatch(*patch);
        call.hasResultHunks = true;
    } else if (const auto content = stringAt(result, "content"); created && content) {
        edit.hunks = {creationHunk(toQString(*content))};
        call.hasResultHunks = true;
    } else if (patch) {
        // An empty patch: the call left the file as it was.
        edit.hunks.clear();
        call.hasResultHunks = true;
    }
    edit.created = edit.created || created;
    countLines(edit);
}

void TVLTranscriptEditReader::fillFromInput(qsizetype index)
{
    TVLFileEdit &edit = m_edits[size_t(index)];
    const TVLParsedLine parsed(m_calls[size_t(index)].line->rawBytes());
    const auto modelMessage = parsed.ok() ? objectAt(parsed.line(), "message") : std::nullopt;
    const auto items = modelMessage ? arrayAt(*modelMessage, "content") : std::nullopt;
    if (!items)
        return;
    for (element item : *items) {
        object call;
        if (item.get_object().get(call) != simdjson::SUCCESS || stringAt(call, "type") != "tool_use"
            || toQString(stringAt(call, "id").value_or("")) != edit.toolUseId)
            continue;
        const auto input = objectAt(call, "input");
        if (!input)
            return;
        auto text = [&](const object &from, std::string_view key) { return toQString(stringAt(from, key).value_or("")); };
        if (edit.tool == QLatin1String("Edit")) {
            edit.hunks = {replacementHunk(text(*input, "old_string"), text(*input, "new_string"))};
        } else if (edit.tool == QLatin1String("MultiEdit")) {
            if (const auto edits = arrayAt(*input, "edits"))
                for (element entry : *edits) {
                    object change;
                    if (entry.get_object().get(change) == simdjson::SUCCESS)
                        edit.hunks.push_back(replacementHunk(text(change, "old_string"), text(change, "new_string")));
                }
        } else if (edit.tool == QLatin1String("Write")) {
            edit.hunks = {creationHunk(text(*input, "content"))};
        } else if (text(*input, "edit_mode") != QLatin1String("delete")) {
            edit.hunks = {replacementHunk({}, text(*input, "new_source"))};
        }
        countLines(edit);
        return;
    }
}

std::vector<TVLFileEdit> TVLTranscriptEditReader::takeEdits()
{
    for (qsizetype index = 0; index < qsizetype(m_edits.size()); ++index)
        if (!m_calls[size_t(index)].hasResultHunks && !m_edits[size_t(index)].failed)
            fillFromInput(index);
    m_calls.clear();
    m_callByToolUseId.clear();
    m_callsByLineUuid.clear();
    return std::move(m_edits);
}
