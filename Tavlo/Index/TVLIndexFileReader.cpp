#include "TVLIndexFileReader.h"

#include "Halvex/Foundation/HVXLog.h"
#include "Halvex/Foundation/HVXSafeFile.h"
#include "Tavlo/DataObjects/TVLFileBuffer.h"
#include "Tavlo/DataObjects/TVLLineParser.h"
#include "Tavlo/DataObjects/TVLMessage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <simdjson.h>
#include <string_view>

#include <sys/stat.h>

namespace {
const QString kAssistantText = QStringLiteral("assistant \u2013 text");
constexpr qsizetype kPromptLength = 200;
// In every line of the assistant's, as its type and its message's role.
constexpr std::string_view kAssistantKey = "\"assistant\"";

quint64 fnv1a(QByteArrayView bytes, quint64 hash = 14695981039346656037ull)
{
    for (const char c : bytes) {
        hash ^= quint8(c);
        hash *= 1099511628211ull;
    }
    return hash;
}

// The request id is not part of the model's message; it is looked for only on lines with
// usage, which are small.
bool hasRequestId(QByteArrayView line)
{
    thread_local simdjson::dom::parser parser;
    simdjson::dom::element doc;
    if (parser.parse(line.data(), size_t(line.size()), false).get(doc) != simdjson::SUCCESS)
        return false;
    std::string_view value;
    return doc["requestId"].get_string().get(value) == simdjson::SUCCESS && !value.empty();
}

// The text at `key` of a title line; these lines are small and few.
QString titleOf(const TVLMessage &message, const char *key)
{
    return message.json().value(QLatin1String(key)).toString();
}

void appendText(QString &text, const std::optional<QString> &part)
{
    if (!part || part->isEmpty())
        return;
    if (!text.isEmpty())
        text += QLatin1Char('\n');
    text += *part;
}

// The times and inode of what was opened, which the path may no longer name.
void statFile(int descriptor, TVLIndexFileContent &content)
{
    struct stat status;
    if (::fstat(descriptor, &status) != 0)
        return;
    content.size = status.st_size;
    content.modified = qint64(status.st_mtim.tv_sec) * 1000 + status.st_mtim.tv_nsec / 1000000;
    content.inode = qint64(status.st_ino);
}
} // namespace

quint64 TVLIndexFileReader::usageKey(const QString &sessionPath, QByteArrayView messageId)
{
    // Keys stay below 2^63 so that SQLite stores them as they are.
    return fnv1a(messageId, fnv1a("\x1f", fnv1a(sessionPath.toUtf8()))) >> 1;
}

quint64 TVLIndexFileReader::lineKey(const QString &path, qint64 offset)
{
    const QByteArray where = path.toUtf8() + '@' + QByteArray::number(offset);
    return fnv1a(where, 1469598103934665603ull) >> 1;
}

TVLIndexFileContent::Kind TVLIndexFileReader::kindForPath(const QString &path)
{
    // Taken apart as text: an update asks this of every file it looks at.
    const QStringView whole(path);
    const qsizetype slash = whole.lastIndexOf(QLatin1Char('/'));
    const QStringView directory = slash < 0 ? QStringView() : whole.left(slash);
    if (directory != u"subagents" && !directory.endsWith(u"/subagents")) {
        // An agent of a workflow run: <session>/subagents/workflows/<runId>/agent-*.jsonl.
        const qsizetype runSlash = directory.lastIndexOf(QLatin1Char('/'));
        const QStringView runsDirectory = runSlash < 0 ? QStringView() : directory.left(runSlash);
        if (runsDirectory == u"subagents/workflows" || runsDirectory.endsWith(u"/subagents/workflows"))
            return TVLIndexFileContent::Subagent;
        return TVLIndexFileContent::Session;
    }
    return whole.mid(slash + 1).startsWith(u"agent-acompact-") ? TVLIndexFileContent::Compaction : TVLIndexFileContent::Subagent;
}

TVLIndexFileContent TVLIndexFileReader::read(const QString &path, TVLIndexFileContent::Kind kind, qint64 offset,
                                             const QByteArray &tail)
{
    TVLIndexFileContent content;
    HVXSafeFile file(path);
    if (!file.open(HVXSafeFile::memoryLimit())) {
        HVXLogWarning(QStringLiteral("Not reading '%1' for the library index: %2").arg(path, file.errorString()));
        return content;
    }
    statFile(file.descriptor(), content);
    const qint64 size = file.size();

    // Go on from `offset` only when the file still holds there what it held before.
    qint64 start = 0;
    if (kind != TVLIndexFileContent::Compaction && offset > 0 && offset <= size && tail.size() <= offset) {
        QByteArray before(tail.size(), Qt::Uninitialized);
        if (file.read(before.data(), before.size(), offset - tail.size()) == before.size() && before == tail)
            start = offset;
    }
    content.fromStart = start == 0;
    // Mapped when it is big: indexing a long session then costs no copy of it.
    QString error;
    const std::shared_ptr<const QByteArray> buffer = TVLFileBuffer::read(file, start, nullptr, &error);
    if (!buffer) {
        HVXLogError(QStringLiteral("Can't read '%1' for the library index: %2").arg(path, error));
        return content;
    }
    content.readable = true;

    const qsizetype linesEnd = buffer->lastIndexOf('\n') + 1;
    content.indexedTo = start + linesEnd;
    if (content.indexedTo == start && !content.fromStart) {
        content.tail = tail;
        return content;
    }

    TVLLineParser parser;
    parser.setFileName(path);
    std::optional<TVLIndexedUsage> compactionUsage;
    TVLIndexedExchange *current = nullptr;
    bool inPreamble = content.fromStart;
    qint64 lastTimestamp = 0;
    const char *data = buffer->constData();
    for (qsizetype at = 0; at < linesEnd;) {
        const qsizetype end = qsizetype(static_cast<const char *>(memchr(data + at, '\n', size_t(linesEnd - at))) - data);
        const qsizetype length = end - at;
        const qsizetype lineStart = at;
        at = end + 1;
        if (length == 0 || (length == 1 && data[lineStart] == '\r'))
            continue;
        const auto message = TVLMessage::fromBuffer(parser, buffer, lineStart, length);
        if (!message->hasJson())
            continue;
        // A line without a time of its own counts at the time of the line before it.
        if (message->hasTimestamp())
            lastTimestamp = message->timestampMSecs();

        const TVLTokenUsage *usage = message->lineUsage();
        if (usage && !usage->isEmpty() && !message->isCompactSummary()) {
            TVLIndexedUsage row;
            row.messageId = message->messageId().toUtf8();
            if (row.messageId.isEmpty())
                row.key = lineKey(path, start + lineStart);
            else
                row.withoutRequestId = !hasRequestId(message->rawBytes());
            row.timestamp = lastTimestamp;
            row.model = message->model();
            row.usage = *usage;
            if (kind == TVLIndexFileContent::Compaction) {
                if (message->lineType() == QLatin1String("assistant"))
                    compactionUsage = row;
            } else {
                content.usages.push_back(std::move(row));
            }
        }
        if (kind == TVLIndexFileContent::Compaction)
            continue;

        if (message->lineType() == QLatin1String("custom-title"))
            content.customTitle = titleOf(*message, "customTitle");
        else if (message->lineType() == QLatin1String("ai-title"))
            content.aiTitle = titleOf(*message, "aiTitle");
        else if (message->lineType() == QLatin1String("summary"))
            content.summaryTitle = titleOf(*message, "summary");

        if (message->exchangeStarter()) {
            inPreamble = false;
            TVLIndexedExchange exchange;
            exchange.uuid = message->uuid();
            exchange.timestamp = message->hasTimestamp() ? message->timestampMSecs() : 0;
            exchange.offset = start + lineStart;
            const std::optional<QString> prompt = message->rawMarkdown();
            exchange.prompt = prompt.value_or(QString()).left(kPromptLength).replace(QLatin1Char('\n'), QLatin1Char(' '));
            appendText(exchange.text, prompt);
            content.exchanges.push_back(std::move(exchange));
            current = &content.exchanges.back();
        } else if (message->type() == kAssistantText && !inPreamble) {
            appendText(current ? current->text : content.continuedText, message->rawMarkdown());
        }
    }
    if (compactionUsage)
        content.usages.push_back(std::move(*compactionUsage));
    const qsizetype tailLength = qMin<qsizetype>(kTailBytes, content.indexedTo);
    if (tailLength <= linesEnd) {
        content.tail = buffer->mid(linesEnd - tailLength, tailLength);
    } else {
        // Fewer new bytes than the tail is long: the rest of it comes from before.
        content.tail = QByteArray(tail + buffer->left(linesEnd)).right(tailLength);
    }
    return content;
}

TVLIndexedExchange TVLIndexFileReader::readExchange(const QString &path, qint64 offset, qint64 end, qint64 maxBytes)
{
    TVLIndexedExchange exchange;
    HVXSafeFile file(path);
    if (!file.open(-1) || offset < 0)
        return exchange;
    auto buffer = std::make_shared<QByteArray>();
    buffer->resize(qMax<qint64>(0, qMin(end - offset, maxBytes)) + TVLLineParser::kPadding);
    const qint64 got = file.read(buffer->data(), buffer->size() - TVLLineParser::kPadding, offset);
    buffer->resize(qMax<qint64>(0, got));
    buffer->reserve(buffer->size() + TVLLineParser::kPadding);
    TVLLineParser parser;
    parser.setFileName(path);
    const char *data = buffer->constData();
    const qsizetype size = buffer->size();
    for (qsizetype at = 0; at < size;) {
        const char *newline = static_cast<const char *>(memchr(data + at, '\n', size_t(size - at)));
        if (!newline)
            break;  // a line cut by maxBytes
        const qsizetype length = qsizetype(newline - data) - at;
        const qsizetype lineStart = at;
        at += length + 1;
        if (length == 0)
            continue;
        // After the prompt only assistant lines carry text; the rest (tool results mostly, the
        // bulk of an exchange's bytes) are passed over without being parsed.
        if (lineStart != 0 && std::string_view(data + lineStart, size_t(length)).find(kAssistantKey) == std::string_view::npos)
            continue;
        const auto message = TVLMessage::fromBuffer(parser, buffer, lineStart, length);
        if (lineStart == 0) {
            exchange.uuid = message->uuid();
            const std::optional<QString> prompt = message->rawMarkdown();
            exchange.prompt = prompt.value_or(QString()).left(kPromptLength).replace(QLatin1Char('\n'), QLatin1Char(' '));
            appendText(exchange.text, prompt);
        } else if (message->type() == kAssistantText) {
            appendText(exchange.text, message->rawMarkdown());
        }
    }
    return exchange;
}
