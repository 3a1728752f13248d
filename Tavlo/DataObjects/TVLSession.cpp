#include "TVLSession.h"

#include "Halvex/Foundation/Categories/HVXDate.h"
#include "TVLSettings.h"
#include "Halvex/Foundation/HVXLog.h"
#include "Halvex/Foundation/Categories/HVXString.h"
#include "Halvex/Foundation/HVXMenu.h"
#include "Halvex/Foundation/HVXParallel.h"
#include "Halvex/Foundation/HVXSafeFile.h"
#include "TVLBackgroundRead.h"
#include "TVLDesktop.h"
#include "TVLExchange.h"
#include "TVLFlatSubagents.h"
#include "TVLFileBuffer.h"
#include "TVLLineParser.h"
#include "TVLMessage.h"
#include "TVLProject.h"
#include "TVLSubagent.h"
#include "TVLWorkflowRun.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QLocale>
#include <QRegularExpression>
#include <QUrl>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <cstring>
#include <string_view>
#include <sys/stat.h>
#include <time.h>

namespace {

struct DisplayMode
{
    int mode;
    const char *menuTitle;
};
constexpr DisplayMode kDisplayModes[] = {
    {0, "Show File Name"}, {1, "Show Start Date"}, {2, "Show Last Changed"}, {3, "Show First Prompt"}, {4, "Show Last Prompt"},
    {5, "Show Title"},
};

// The text of a title line; titles are plain text, and these lines are small and few.
std::optional<QString> titleOfLine(const TVLMessage &message, const char *key)
{
    const QJsonValue value = message.json().value(QLatin1String(key));
    if (!value.isString() || value.toString().isEmpty())
        return std::nullopt;
    return value.toString();
}

// The outline reads "[c:…]", "[F:…]" and "[s:…]" in titles as styles; a title shows them as
// typed (a word joiner after the "[" keeps it from being a tag, and shows as nothing).
QString withoutStyleTags(QString title)
{
    static const QRegularExpression tag(QStringLiteral("\\[(?=[cFs]:)"));
    return title.replace(tag, QStringLiteral("[\u2060"));
}

std::function<void(const QString &)> &openedForReadingObserver()
{
    static std::function<void(const QString &)> observer;
    return observer;
}

// The file from `from` to its end, mapped or read (see TVLFileBuffer). Only a regular file no
// larger than the memory a session may take is read; otherwise nothing, with why in `problem`.
std::shared_ptr<const QByteArray> readPadded(const QString &path, qsizetype from = 0, TVLReadProgress *progress = nullptr,
                                             QString *problem = nullptr)
{
    if (openedForReadingObserver())
        openedForReadingObserver()(path);
    QString error;
    auto buffer = TVLFileBuffer::read(path, from, progress, &error, TVLSession::maxFileSize());
    if (!buffer && problem && !(progress && progress->cancelled.load(std::memory_order_relaxed)))
        *problem = error;
    return buffer;
}

// The lines of [begin, end) of the buffer, parsed into messages by one parser.
struct LineChunk
{
    qsizetype begin = 0;
    qsizetype end = 0;
    std::vector<std::shared_ptr<TVLMessage>> messages;
    std::vector<std::pair<QString, int>> toolUseIds;
};

void parseChunk(LineChunk &chunk, const std::shared_ptr<const QByteArray> &buffer, const QString &fileName,
                TVLReadProgress *progress)
{
    // Parsed bytes are reported in steps, so that the threads hardly ever share the counter.
    constexpr qsizetype kReportedStep = 1 << 20;
    TVLLineParser parser;
    parser.setFileName(fileName);
    const char *data = buffer->constData();
    qsizetype reported = chunk.begin;
    for (qsizetype start = chunk.begin; start < chunk.end;) {
        const void *newline = std::memchr(data + start, '\n', size_t(chunk.end - start));
        const qsizetype end = newline ? static_cast<const char *>(newline) - data : chunk.end;
        if (end > start)
            chunk.messages.push_back(TVLMessage::fromBuffer(parser, buffer, start, end - start));
        start = end + 1;
        if (progress && start - reported >= kReportedStep) {
            progress->bytes.fetch_add(qMin(start, chunk.end) - reported, std::memory_order_relaxed);
            reported = qMin(start, chunk.end);
            if (progress->cancelled.load(std::memory_order_relaxed))
                break;
        }
    }
    if (progress && chunk.end > reported)
        progress->bytes.fetch_add(chunk.end - reported, std::memory_order_relaxed);
    chunk.toolUseIds = parser.takeToolUseIds();
}

// Chunks of [from, end of the buffer) of about equal size that begin and end at line breaks.
std::vector<LineChunk> splitIntoChunks(const QByteArray &bytes, qsizetype from, int count)
{
    std::vector<LineChunk> chunks;
    qsizetype begin = from;
    const qsizetype span = bytes.size() - from;
    for (int i = 1; i <= count && begin < bytes.size(); ++i) {
        qsizetype end = i == count ? bytes.size() : qMax(begin, from + span * i / count);
        if (end < bytes.size()) {
            const qsizetype newline = bytes.indexOf('\n', end);
            end = newline < 0 ? bytes.size() : newline + 1;
        }
        chunks.push_back({begin, end, {}, {}});
        begin = end;
    }
    return chunks;
}

// Lines are independent until they are grouped, so a big file is parsed on several threads;
// the messages come out in file order either way, after those already in `read`.
void parseLines(TVLSessionRead &read, const std::shared_ptr<const QByteArray> &buffer, qsizetype from,
                const QString &fileName, TVLReadProgress *progress = nullptr)
{
    constexpr qsizetype kBytesPerThread = 16 * 1024 * 1024;
    const qsizetype wanted = (buffer->size() - from) / kBytesPerThread;
    const int threads = int(qBound(qsizetype(1), wanted, qsizetype(qMax(1, QThread::idealThreadCount()))));
    std::vector<LineChunk> chunks = splitIntoChunks(*buffer, from, threads);
    hvxParallelFor(chunks.size(), [&](size_t i) { parseChunk(chunks[i], buffer, fileName, progress); });

    for (LineChunk &chunk : chunks) {
        const int firstLine = int(read.messages.size());
        for (const auto &[id, line] : chunk.toolUseIds)
            if (!read.toolUseLineById.contains(id))
                read.toolUseLineById.insert(id, firstLine + line);
        read.messages.insert(read.messages.end(), std::make_move_iterator(chunk.messages.begin()),
                             std::make_move_iterator(chunk.messages.end()));
    }
}

struct FileStamp
{
    bool exists = false;
    qsizetype size = 0;
    qint64 modifiedNs = 0;
    bool modifiedWellBefore = false;
};

// File systems keep times in coarse ticks; a time this far back cannot be shared by a write
// still to come.
constexpr qint64 kSettledNs = 2'000'000'000;

FileStamp stampOf(const QString &path)
{
    FileStamp stamp;
    struct stat info;
    if (::stat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return stamp;
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    stamp.exists = true;
    stamp.size = qsizetype(info.st_size);
    stamp.modifiedNs = qint64(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec;
    stamp.modifiedWellBefore = qint64(now.tv_sec) * 1'000'000'000 + now.tv_nsec - stamp.modifiedNs > kSettledNs;
    return stamp;
}

qint64 totalOf(const std::optional<TVLTokenUsage> &usage) { return usage ? usage->totalTokens() : 0; }

// Where the complete lines of `bytes`, read from `offset` of the file, end; `atLeast` when no
// line ends in them after it.
qsizetype endOfCompleteLines(const QByteArray &bytes, qsizetype offset, qsizetype atLeast)
{
    const qsizetype newline = bytes.lastIndexOf('\n');
    return newline >= 0 ? qMax(atLeast, offset + newline + 1) : atLeast;
}

} // namespace

void TVLSession::registerDefaults()
{
    TVLSettings::registerDefaults();
}

TVLSession::TVLSession() { registerDefaults(); }

TVLSession::~TVLSession()
{
    // Stops and waits for a read in the background; what it read is dropped.
    delete m_load;
}

std::shared_ptr<TVLSession> TVLSession::initWithPath(const QString &path)
{
    const QFileInfo info(path);
    if (info.suffix() != QLatin1String("jsonl") || info.isDir())
        return nullptr;
    auto session = std::make_shared<TVLSession>();
    session->setPath(path);
    session->updateMessages();
    return session;
}

std::shared_ptr<TVLSession> TVLSession::initWithPathInBackground(const QString &path)
{
    const QFileInfo info(path);
    if (info.size() < TVLProject::backgroundLoadThreshold())
        return initWithPath(path);
    if (info.suffix() != QLatin1String("jsonl") || info.isDir())
        return nullptr;
    auto session = std::make_shared<TVLSession>();
    session->setPath(path);
    // The newest exchanges are there at once, read from the end of the file before the whole
    // read begins, so that it doesn't compete with them; appends are followed from then on.
    TVLSessionRead newest = readNewestExchanges(path, kNewestExchanges);
    if (!newest.messages.empty())
        session->applyRead(std::move(newest));
    TVLSession *reading = session.get();
    session->m_load = new TVLBackgroundRead({path}, info.size());
    QObject::connect(session->m_load, &TVLBackgroundRead::progressed, session->m_load,
                     [reading] { reading->announce(TVLProperty::DisplayTitle); });
    QObject::connect(session->m_load, &TVLBackgroundRead::done, session->m_load,
                     [reading] { reading->finishLoadingInBackground(); });
    return session;
}

void TVLSession::finishLoadingInBackground()
{
    if (!m_load)
        return;
    TVLSessionRead read = m_load->takeReads().take(path());
    // This runs in a slot of the read's own signal.
    m_load->disconnect();
    m_load->deleteLater();
    m_load = nullptr;
    applyRead(std::move(read));
    announce(TVLProperty::DisplayTitle);
    QStringList changed = std::exchange(m_pathsChangedWhileLoading, {});
    changed.removeDuplicates();
    // The read began before these events; the files are looked at again now.
    for (const QString &changedPath : std::as_const(changed))
        pathDidUpdate(changedPath);
}

QString TVLSession::loadingNote() const { return m_load ? m_load->note() : QString(); }

// MARK: - Reading

bool TVLSessionBytes::matches(const char *data, qsizetype begin, qsizetype end) const
{
    for (size_t i = 0; i < pieces.size(); ++i) {
        const qsizetype pieceBegin = pieces[i].fileOffset;
        const qsizetype pieceEnd = i + 1 < pieces.size() ? pieces[i + 1].fileOffset : size;
        const qsizetype from = qMax(begin, pieceBegin), to = qMin(end, pieceEnd);
        if (from < to
            && std::memcmp(data + (from - begin), pieces[i].bytes->constData() + (from - pieceBegin), size_t(to - from)) != 0)
            return false;
    }
    return true;
}

bool TVLSessionBytes::sameAs(const QByteArray &file) const
{
    if (pieces.empty() || file.size() != size)
        return false;
    return mapped ? file.endsWith(tail) : matches(file.constData(), 0, size);
}

bool TVLSessionBytes::endsWith(const QByteArray &bytes) const
{
    if (bytes.size() > size)
        return false;
    if (mapped)
        return bytes.size() <= tail.size() && tail.endsWith(bytes);
    return matches(bytes.constData(), size - bytes.size(), size);
}

void TVLSessionBytes::noteMappedPieces()
{
    mapped = std::any_of(pieces.begin(), pieces.end(), [](const Piece &piece) { return TVLFileBuffer::isMapped(*piece.bytes); });
    tail.clear();
    if (!mapped)
        return;
    const qsizetype from = qMax<qsizetype>(0, size - kTailBytes);
    tail.resize(size - from);
    for (size_t i = 0; i < pieces.size(); ++i) {
        const qsizetype pieceBegin = pieces[i].fileOffset;
        const qsizetype pieceEnd = i + 1 < pieces.size() ? pieces[i + 1].fileOffset : size;
        const qsizetype begin = qMax(from, pieceBegin), end = qMin(size, pieceEnd);
        if (begin < end)
            std::memcpy(tail.data() + (begin - from), pieces[i].bytes->constData() + (begin - pieceBegin), size_t(end - begin));
    }
}

TVLSessionRead TVLSession::readFile(const QString &path, const TVLSession *previous, TVLReadProgress *progress)
{
    TVLSessionRead read;
    const QString fileName = QFileInfo(path).fileName();
    const FileStamp stamp = stampOf(path);
    if (previous && stamp.exists && previous->m_bytes.modifiedWellBefore && !previous->m_bytes.pieces.empty()
        && stamp.size == previous->m_bytes.size && stamp.modifiedNs == previous->m_bytes.modifiedNs) {
        read.unchanged = true;
        return read;
    }
    if (!previous || !previous->readAppendedLines(path, read)) {
        std::shared_ptr<const QByteArray> buffer = readPadded(path, 0, progress, &read.problem);
        if (!buffer) {
            // Said once per file and reason, not at every change the watch reports.
            if (!read.problem.isEmpty() && (!previous || previous->m_readProblem != read.problem))
                HVXLogWarning(QStringLiteral("Can't read session '%1': %2").arg(path, read.problem));
            return read;
        }
        if (previous && previous->m_bytes.sameAs(*buffer)) {
            read.unchanged = true;
            return read;
        }
        read.bytes.pieces = {{0, buffer}};
        read.bytes.size = buffer->size();
        read.bytes.linesEnd = endOfCompleteLines(*buffer, 0, 0);
        read.bytes.noteMappedPieces();
        parseLines(read, buffer, 0, fileName, progress);
    }
    // Taken before the bytes were read: a write during the read shows as a newer time.
    read.bytes.modifiedNs = stamp.modifiedNs;
    read.bytes.modifiedWellBefore = stamp.exists && stamp.modifiedWellBefore;
    groupRead(read, previous, fileName);
    return read;
}

// Duplicate groups, then exchanges. Only the last line of a message.id counts. A read of
// appended lines looks only at those, the earlier lines' latest entries taken from the last read.
void TVLSession::groupRead(TVLSessionRead &read, const TVLSession *previous, const QString &fileName)
{
    const QHash<QString, TVLMessage *> *earlier = read.extendsPrevious ? &previous->m_latestByMessageId : nullptr;
    const size_t firstToGroup = read.extendsPrevious ? read.keptMessages : 0;
    read.latestByMessageId.reserve(qsizetype(read.messages.size() - firstToGroup));
    for (size_t i = firstToGroup; i < read.messages.size(); ++i) {
        const std::shared_ptr<TVLMessage> &message = read.messages[i];
        if (message->messageId().isEmpty())
            continue;
        auto it = read.latestByMessageId.find(message->messageId());
        TVLMessage *previousLine = it != read.latestByMessageId.end() ? it.value()
                                   : earlier                          ? earlier->value(message->messageId(), nullptr)
                                                                      : nullptr;
        if (previousLine) {
            const qint64 before = totalOf(previousLine->tokenUsage());
            const qint64 now = totalOf(message->tokenUsage());
            if (now < before)
                HVXLogError(QStringLiteral("Token count decreased for message.id %1 in %2: %3 \u2192 %4")
                                .arg(message->messageId(), fileName, QString::number(before),
                                     QString::number(now)));
            previousLine->markUsageDuplicate();
            previousLine->markInDuplicateGroup();
            message->markInDuplicateGroup();
        }
        read.latestByMessageId.insert(message->messageId(), message.get());
    }
    groupIntoExchanges(read, read.extendsPrevious ? previous : nullptr);
}

TVLSessionRead TVLSession::readNewestExchanges(const QString &path, qsizetype count)
{
    const QString fileName = QFileInfo(path).fileName();
    const FileStamp stamp = stampOf(path);
    TVLSessionRead read;
    if (!stamp.exists)
        return read;
    // Mapped (the file is big): only the pages of the lines parsed here are read.
    const std::shared_ptr<const QByteArray> buffer = readPadded(path, 0);
    if (!buffer)
        return read;
    const qsizetype start = startOfNewestExchanges(buffer, count);
    if (start < 0)
        return read;
    read.bytes.pieces = {{0, buffer}};
    read.bytes.size = buffer->size();
    read.bytes.linesEnd = endOfCompleteLines(*buffer, 0, 0);
    read.bytes.noteMappedPieces();
    read.bytes.modifiedNs = stamp.modifiedNs;
    read.bytes.modifiedWellBefore = stamp.modifiedWellBefore;
    parseLines(read, buffer, start, fileName);
    read.newestOnly = true;
    groupRead(read, nullptr, fileName);
    return read;
}

// Where the `count`th prompt from the end begins, looking at most kLongestWalk bytes back (the
// earliest prompt found there when there are fewer); -1 when there is none. Lines are walked
// backwards and only those that may be prompts are parsed: a user line that is no tool result.
qsizetype TVLSession::startOfNewestExchanges(const std::shared_ptr<const QByteArray> &buffer, qsizetype count)
{
    constexpr qsizetype kLongestWalk = qsizetype(64) << 20;
    const char *data = buffer->constData();
    const qsizetype walkedTo = qMax<qsizetype>(0, buffer->size() - kLongestWalk);
    TVLLineParser parser;
    qsizetype found = -1, prompts = 0;
    qsizetype lineEnd = buffer->size();
    while (lineEnd > walkedTo && prompts < count) {
        const void *newline = lineEnd > 0 ? memrchr(data, '\n', size_t(lineEnd)) : nullptr;
        // The file's last line may end with its newline; a line is what lies between two.
        const qsizetype lineStart = newline ? static_cast<const char *>(newline) - data + 1 : 0;
        const std::string_view line(data + lineStart, size_t(lineEnd - lineStart));
        if (line.find(R"("type":"user")") != std::string_view::npos && line.find(R"("tool_result")") == std::string_view::npos
            && TVLMessage::fromBuffer(parser, buffer, lineStart, qsizetype(line.size()))->exchangeStarter()) {
            found = lineStart;
            ++prompts;
        }
        if (lineStart == 0)
            break;
        lineEnd = lineStart - 1;
    }
    return found;
}

// Exchanges: a new one at every prompt; lines before the first prompt form the preamble. After
// an append only the last exchange of the last read (which may have grown) and the new ones
// are made; the earlier ones stand as they were.
void TVLSession::groupIntoExchanges(TVLSessionRead &read, const TVLSession *previous)
{
    size_t from = 0;
    read.keptExchanges = 0;
    read.exchanges.clear();
    if (previous && previous->m_exchanges.size() > 1) {
        read.keptExchanges = previous->m_exchanges.size() - 1;
        from = qMin(previous->m_lastExchangeFirstLine, read.keptMessages);
        // The line that began the last exchange is read again when it was the half line at the
        // end; if it no longer begins one, the grouping starts over.
        if (from >= read.messages.size() || !read.messages[from]->exchangeStarter())
            return groupIntoExchanges(read, nullptr);
        read.exchanges.assign(previous->m_exchanges.begin(), previous->m_exchanges.begin() + qsizetype(read.keptExchanges));
    }
    std::vector<TVLObject::List> exchangeMessages;
    for (size_t i = from; i < read.messages.size(); ++i) {
        const std::shared_ptr<TVLMessage> &message = read.messages[i];
        if (message->exchangeStarter()) {
            read.exchanges.push_back(TVLExchange::initWithFirstMessage(message));
            exchangeMessages.push_back({message});
            read.lastExchangeFirstLine = i;
            continue;
        }
        if (exchangeMessages.empty()) {
            read.exchanges.push_back(TVLExchange::initAsPreamble());
            exchangeMessages.emplace_back();
            read.lastExchangeFirstLine = i;
        }
        message->setParent(read.exchanges.back().get());
        exchangeMessages.back().push_back(message);
    }
    for (size_t i = 0; i < exchangeMessages.size(); ++i) {
        const auto &exchange = read.exchanges[read.keptExchanges + i];
        if (exchangeMessages[i].size() > 1 || exchange->isPreamble())
            exchange->setChildren(std::move(exchangeMessages[i]));
    }
}

bool TVLSession::updateMessages()
{
    // A read in the background is waited for: it began earlier, and any later change is
    // looked at after it.
    if (m_load) {
        m_pathsChangedWhileLoading.append(path());
        finishLoadingInBackground();
        return true;
    }
    return applyRead(readFile(path(), this));
}

// While the whole file is read, lines appended to it are added to the newest exchanges shown.
// Anything else waits for the whole read: reading the file again here would block the window.
void TVLSession::followAppendsWhileLoading()
{
    TVLSessionRead read;
    if (!readAppendedLines(path(), read))
        return;
    read.newestOnly = true;
    groupRead(read, this, fileName());
    applyRead(std::move(read));
    Q_EMIT TVLChangeHub::shared().sessionDidUpdate(this);
}

// A live transcript only grows, so after the first read only what was appended is read: from
// the end of the last complete line on (a half line there may be complete now). The last 64 KB
// it had are read again and compared, so that a file written anew is read anew. The messages
// of the complete lines stay as they are; the result is that of reading the whole file.
bool TVLSession::readAppendedLines(const QString &path, TVLSessionRead &read) const
{
    constexpr qsizetype kComparedBytes = TVLSessionBytes::kTailBytes;
    const TVLSessionBytes &before = m_bytes;
    const QFileInfo info(path);
    if (before.pieces.empty() || !info.isFile() || info.size() <= before.size)
        return false;
    HVXSafeFile file(path);
    const qsizetype comparedFrom = qMax<qsizetype>(0, before.size - kComparedBytes);
    if (!file.open(maxFileSize()))
        return false;
    QByteArray again(before.size - comparedFrom, Qt::Uninitialized);
    if (file.read(again.data(), again.size(), comparedFrom) != again.size() || !before.endsWith(again))
        return false;
    const std::shared_ptr<const QByteArray> appended = readPadded(path, before.linesEnd);
    if (!appended || before.linesEnd + appended->size() <= before.size)
        return false;

    read.bytes = before;
    read.bytes.pieces.push_back({before.linesEnd, appended});
    read.bytes.size = before.linesEnd + appended->size();
    read.bytes.linesEnd = endOfCompleteLines(*appended, before.linesEnd, before.linesEnd);
    read.bytes.noteMappedPieces();

    // Every message but a half line at the old end is kept, without what sub-agents told it.
    const size_t kept = children().size() - (before.linesEnd < before.size ? 1 : 0);
    for (size_t i = 0; i < kept; ++i) {
        auto message = std::static_pointer_cast<TVLMessage>(children()[i]);
        if (message->compactionUsage())
            message->injectCompactionUsage(std::nullopt);
        read.messages.push_back(std::move(message));
    }
    read.toolUseLineById = m_toolUseLineById;
    // Shared with the session's until a line is dropped: copying the ids of a long session at
    // every append would cost more than the append.
    if (kept < children().size())
        read.toolUseLineById.removeIf([&](const auto &entry) { return entry.value() >= int(kept); });
    read.keptMessages = kept;
    // The indexes hold pointers to the kept messages; a dropped half line that took part in a
    // duplicate group has them built again.
    read.extendsPrevious = kept == children().size()
                           || static_cast<const TVLMessage *>(children().back().get())->messageId().isEmpty();
    parseLines(read, appended, 0, info.fileName());
    return true;
}

bool TVLSession::applyRead(TVLSessionRead read)
{
    if (read.unchanged)
        return false;
    m_readProblem = read.problem;
    m_bytes = std::move(read.bytes);
    m_toolUseLineById = std::move(read.toolUseLineById);
    m_lastExchangeFirstLine = read.lastExchangeFirstLine;
    for (size_t i = read.keptExchanges; i < read.exchanges.size(); ++i)
        read.exchanges[i]->setParent(this);
    List messages(std::make_move_iterator(read.messages.begin()), std::make_move_iterator(read.messages.end()));
    setChildren(std::move(messages));
    const std::vector<std::shared_ptr<TVLExchange>> previous = m_exchanges;
    setExchanges(std::move(read.exchanges));
    if (read.extendsPrevious) {
        extendIndexes(read);
    } else {
        m_latestByMessageId = std::move(read.latestByMessageId);
        m_exchangeByMessageUuid.reset();
        m_lineByResultAgentId.reset();
        m_latestLineByPromptId.reset();
    }
    m_newestOnly = read.newestOnly;
    if (!m_newestOnly)
        loadSubagents(read.subagentReads.get());
    m_firstTimestamp = computeFirstTimestamp();
    setLastChangedAt(computeLastChangedAt());
    m_firstUserPrompt = computeFirstUserPrompt();
    m_lastUserPrompt = computeLastUserPrompt();
    m_titles = computeTitles();
    updateDisplayTitle();
    refilterAfterRead(previous);
    return true;
}

// Every read makes new exchanges, which start out unmatched. Under an active filter they are
// matched before anyone sees them; an exchange that holds the same lines as before keeps its
// earlier answer, so a live session under a filter costs only its changed end per read.
void TVLSession::refilterAfterRead(const std::vector<std::shared_ptr<TVLExchange>> &previous)
{
    if (!isFilterActive())
        return;
    for (size_t i = 0; i < m_exchanges.size(); ++i) {
        TVLExchange &exchange = *m_exchanges[i];
        // The same lines: the half line a read ended with comes back as a new message.
        if (i < previous.size() && !exchange.children().empty()
            && (previous[i].get() == &exchange || tvlSameNodes(previous[i]->children(), exchange.children())))
            exchange.setMatchesFilter(previous[i]->matchesFilter());
        else
            exchange.updateFilters();
    }
    for (const auto &subagent : m_subagents)
        subagent->sendFilterNotifications();
    for (const auto &run : m_workflowRuns)
        run->sendFilterNotifications();
    updateFilters();
    updateFiltersOfAncestors();
}

void TVLSession::pathDidUpdate(const QString &changedPath)
{
    if (m_load) {
        m_pathsChangedWhileLoading.append(changedPath);
        if (changedPath == path() && m_newestOnly)
            followAppendsWhileLoading();
        return;
    }
    if (changedPath == path()) {
        updateMessages();
        Q_EMIT TVLChangeHub::shared().sessionDidUpdate(this);
        return;
    }
    // Sub-agent files, and the folders above them coming and going; an older assistant's beside it.
    const QString folder = sessionFolder();
    if (changedPath == folder || changedPath.startsWith(folder + QLatin1Char('/'))
        || TVLFlatSubagents::parentSessionPathOf(changedPath) == path())
        loadSubagents();
}

QString TVLSession::monitoredPath() const
{
    // Inside a project, the project's watch covers the session; alone, the session watches the
    // directory that holds it, so that sub-agent files written later are seen too.
    return QFileInfo(path()).absolutePath();
}

bool TVLSession::monitorsDirectory(const QString &directory) const
{
    // Only the session's own folder (its sub-agents) below that directory: a session opened from
    // the home folder must not watch the whole home folder.
    const QString folder = sessionFolder();
    return directory == folder || directory.startsWith(folder + QLatin1Char('/'));
}

void TVLSession::setExchanges(std::vector<std::shared_ptr<TVLExchange>> exchanges)
{
    m_exchanges = std::move(exchanges);
    announce(TVLProperty::Exchanges);
    announce(TVLProperty::DisplayChildren);
    dropCachedTagSummaries();
}

std::vector<TVLMessage *> TVLSession::messages() const
{
    std::vector<TVLMessage *> result;
    result.reserve(children().size());
    for (const Ptr &child : children())
        result.push_back(static_cast<TVLMessage *>(child.get()));
    return result;
}

namespace {
qint64 maxFileSizeSetting = 0;
}

qint64 TVLSession::maxFileSize() { return maxFileSizeSetting > 0 ? maxFileSizeSetting : HVXSafeFile::memoryLimit(); }

void TVLSession::setMaxFileSize(qint64 bytes) { maxFileSizeSetting = bytes; }

void TVLSession::setOpenedForReadingObserver(std::function<void(const QString &path)> observer)
{
    openedForReadingObserver() = std::move(observer);
}

QString TVLSession::fileName() const { return QFileInfo(path()).fileName(); }

QDateTime TVLSession::computeFirstTimestamp() const
{
    for (const Ptr &child : children())
        if (auto *message = static_cast<TVLMessage *>(child.get()); message->hasTimestamp())
            return message->timestamp();
    const QFileInfo info(path());
    const QDateTime born = info.birthTime();
    // Not every file system records a creation date; the modification date is the next best.
    return born.isValid() ? born : info.lastModified();
}

QDateTime TVLSession::computeLastChangedAt() const
{
    for (auto it = children().rbegin(); it != children().rend(); ++it)
        if (auto *message = static_cast<TVLMessage *>(it->get()); message->hasTimestamp())
            return message->timestamp();
    return QFileInfo(path()).lastModified();
}

std::optional<QString> TVLSession::computeFirstUserPrompt() const
{
    for (const Ptr &child : children())
        if (auto *message = static_cast<TVLMessage *>(child.get()); message->exchangeStarter())
            return message->rawMarkdown();
    return std::nullopt;
}

// The last line of each title kind, looked for from the end: a session names itself again and
// again as it goes on.
TVLSession::Titles TVLSession::computeTitles() const
{
    Titles titles;
    for (auto it = children().rbegin(); it != children().rend(); ++it) {
        const auto *message = static_cast<const TVLMessage *>(it->get());
        const QString &type = message->lineType();
        if (!titles.custom && type == QLatin1String("custom-title"))
            titles.custom = titleOfLine(*message, "customTitle");
        else if (!titles.ai && type == QLatin1String("ai-title"))
            titles.ai = titleOfLine(*message, "aiTitle");
        else if (!titles.summary && type == QLatin1String("summary"))
            titles.summary = titleOfLine(*message, "summary");
        if (titles.custom && titles.ai && titles.summary)
            break;
    }
    return titles;
}

std::optional<QString> TVLSession::ownTitle() const
{
    if (m_titles.custom)
        return m_titles.custom;
    if (m_titles.ai)
        return m_titles.ai;
    return m_titles.summary;
}

std::optional<QString> TVLSession::computeLastUserPrompt() const
{
    for (auto it = children().rbegin(); it != children().rend(); ++it)
        if (auto *message = static_cast<TVLMessage *>(it->get()); message->exchangeStarter())
            return message->rawMarkdown();
    return std::nullopt;
}

// MARK: - Page and outline

QString TVLSession::markdown() const
{
    const bool filtering = isFilterActive();
    QString text;
    for (const auto &exchange : m_exchanges) {
        if (filtering && !exchange->matchesFilter())
            continue;
        text += QLatin1Char('\n');
        text += exchange->markdownWithSectionAnchors();
        text += QLatin1Char('\n');
    }
    return text;
}

std::shared_ptr<TVLExchange> TVLSession::exchangeWithUuid(const QString &uuid)
{
    for (const auto &exchange : m_exchanges)
        if (exchange->uuid() == uuid)
            return exchange;
    for (const auto &subagent : m_subagents)
        if (auto found = subagent->exchangeWithUuid(uuid))
            return found;
    for (const auto &run : m_workflowRuns)
        if (auto found = run->exchangeWithUuid(uuid))
            return found;
    return nullptr;
}

QString TVLSession::projectPath() const { return QFileInfo(path()).absolutePath(); }

TVLObject::List TVLSession::displayChildren()
{
    const bool filtering = isFilterActive();
    std::vector<TVLExchange *> shown;
    List result;
    for (const auto &exchange : m_exchanges) {
        if (exchange->isPreamble()) {
            const auto usage = exchange->tokenUsage();
            if (!usage || usage->isEmpty())
                continue;
        }
        if (filtering && !exchange->matchesFilter())
            continue;
        result.push_back(exchange);
    }
    if (m_subagents.empty() && m_workflowRuns.empty())
        return result;

    QHash<QString, List> anchored;
    List unanchored;
    auto place = [&](const Ptr &node, const QString &anchor) {
        if (anchor.isEmpty())
            unanchored.push_back(node);
        else
            anchored[anchor].push_back(node);
    };
    for (const auto &subagent : m_subagents)
        place(subagent, subagent->anchorUuid());
    for (const auto &run : m_workflowRuns)
        place(run, run->anchorUuid());
    List withSubagents;
    for (const Ptr &node : result) {
        withSubagents.push_back(node);
        const auto it = anchored.constFind(static_cast<TVLExchange *>(node.get())->uuid());
        if (it != anchored.constEnd())
            withSubagents.insert(withSubagents.end(), it->begin(), it->end());
    }
    withSubagents.insert(withSubagents.end(), unanchored.begin(), unanchored.end());
    return withSubagents;
}

quint16 TVLSession::tagSummary()
{
    if (const auto cached = cachedTagSummary())
        return *cached;
    quint16 summary = 0;
    for (const auto &exchange : m_exchanges)
        summary |= exchange->tagSummary();
    for (const auto &subagent : m_subagents)
        summary |= subagent->tagSummary();
    for (const auto &run : m_workflowRuns)
        summary |= run->tagSummary();
    setCachedTagSummary(summary);
    return summary;
}

void TVLSession::invalidateTagSummaryForMessageId(const QString &messageId)
{
    for (const auto &exchange : m_exchanges)
        exchange->invalidateTagSummaryForMessageId(messageId);
    for (const auto &subagent : m_subagents)
        subagent->invalidateTagSummaryForMessageId(messageId);
    for (const auto &run : m_workflowRuns)
        run->invalidateTagSummaryForMessageId(messageId);
}

void TVLSession::sendFilterNotifications()
{
    for (const auto &exchange : m_exchanges)
        exchange->sendFilterNotifications();
    for (const auto &subagent : m_subagents)
        subagent->sendFilterNotifications();
    for (const auto &run : m_workflowRuns)
        run->sendFilterNotifications();
    updateFilters();
}

void TVLSession::updateFilters()
{
    bool matches = false;
    for (const auto &exchange : m_exchanges)
        matches = matches || exchange->matchesFilter();
    for (const auto &subagent : m_subagents)
        matches = matches || subagent->matchesFilter();
    for (const auto &run : m_workflowRuns)
        matches = matches || run->matchesFilter();
    setMatchesFilter(matches);
    announce(TVLProperty::DisplayChildren);
}

void TVLSession::addAdditionalTokenUsage(TVLTokenUsage &usage)
{
    if (m_unpairedCompactionUsage)
        usage.addUsage(*m_unpairedCompactionUsage);
    for (const auto &subagent : m_subagents)
        if (const auto subagentUsage = subagent->tokenUsage())
            usage.addUsage(*subagentUsage);
    for (const auto &run : m_workflowRuns)
        if (const auto runUsage = run->tokenUsage())
            usage.addUsage(*runUsage);
}

// MARK: - Titles

void TVLSession::setDisplayTitle(const QString &title)
{
    if (title == m_displayTitle)
        return;
    m_displayTitle = title;
    announce(TVLProperty::DisplayTitle);
}

void TVLSession::updateDisplayTitle()
{
    const qint64 mode = TVLSettings::sessionDisplayMode();
    QString title;
    switch (mode) {
    case 1: title = formatDate(m_firstTimestamp); break;
    case 2: title = formatDate(lastChangedAt()); break;
    case 3: title = truncatePrompt(m_firstUserPrompt).value_or(fileName()); break;
    case 4: title = truncatePrompt(m_lastUserPrompt).value_or(fileName()); break;
    case 5:
        title = withoutStyleTags(truncatePrompt(ownTitle()).value_or(truncatePrompt(m_firstUserPrompt).value_or(fileName())));
        break;
    default: title = fileName(); break;
    }
    // Workflow runs are counted with the sub-agents: both are rows under the session.
    if (const size_t attached = m_subagents.size() + m_workflowRuns.size(); attached > 0)
        title = QStringLiteral("%1 [%2]").arg(title, QString::number(attached));
    if (!m_readProblem.isEmpty())
        title = QStringLiteral("%1 (not read: %2)").arg(fileName(), m_readProblem);
    setDisplayTitle(title);
}

QString TVLSession::formatDate(const QDateTime &date) const
{
    return formatDateRelative(date, TVLSettings::usesRelativeTime());
}

QString TVLSession::formatDateRelative(const QDateTime &date, bool relative) const
{
    if (!date.isValid())
        return fileName();
    if (relative)
        return hvxRelativeTimeString(date);
    const QDateTime local = date.toLocalTime();
    // The locale's medium date and short time, in the order and words of the user's language.
    const QLocale locale;
    return locale.toString(local.date(), hvxMediumDatePattern(locale)) + QStringLiteral(", ")
        + locale.toString(local.time(), QLocale::ShortFormat);
}

std::optional<QString> TVLSession::truncatePrompt(const std::optional<QString> &prompt)
{
    if (!prompt || prompt->isEmpty())
        return std::nullopt;
    QStringList words;
    QString word;
    for (const QChar c : *prompt) {
        if (c.isSpace() || c == QChar::LineSeparator || c == QChar::ParagraphSeparator) {
            if (!word.isEmpty())
                words << word;
            word.clear();
        } else {
            word += c;
        }
    }
    if (!word.isEmpty())
        words << word;
    const QString joined = words.join(QLatin1Char(' '));
    if (joined.size() > 80)
        return hvxLeftWithoutSplittingPairs(joined, 79) + QStringLiteral("\u2026");
    return joined;
}

QString TVLSession::titleForWindowAndRecents() const { return formatDateRelative(m_firstTimestamp, false); }

void TVLSession::addToContextMenu(HVXMenu &menu)
{
    TVLObject::addToContextMenu(menu);
    const QString project = projectPath();
    if (!project.isEmpty())
        menu.addItemWithTitle(QStringLiteral("Open Project"), [project] { TVLDesktop::current().openPathInNewWindow(project); });

    menu.addSeparator();
    const QUrl fileUrl = QUrl::fromLocalFile(path());
    const auto applications = TVLDesktop::current().applicationsForUrl(fileUrl);
    HVXMenu &openIn = menu.addMenuWithTitle(QStringLiteral("Open in"));
    for (const auto &application : applications) {
        const QString identifier = application.identifier;
        openIn.addItemWithTitle(application.name, [fileUrl, identifier] {
            TVLDesktop::current().openUrlWithApplication(fileUrl, identifier);
        });
    }
    // An empty submenu would look broken; this says why there is nothing to choose.
    if (applications.isEmpty())
        openIn.addItemWithTitle(QStringLiteral("No Application"), {}).enabled = false;
    if (TVLDesktop::current().enableDeveloperHacks()) {
        const QString file = path();
        for (const char *name : {"OK JSON", "Textmate", "Zed"}) {
            const QString application = QString::fromUtf8(name);
            menu.addItemWithTitle(QStringLiteral("Open with %1").arg(application), [file, application] {
                TVLDesktop::current().openPathWithApplicationNamed(file, application);
            });
        }
    }

    menu.addSeparator();
    const qint64 currentMode = TVLSettings::sessionDisplayMode();
    for (const DisplayMode &mode : kDisplayModes) {
        const int value = mode.mode;
        menu.addItemWithTitle(QString::fromUtf8(mode.menuTitle),
                              [value] { TVLSettings::setSessionDisplayMode(value); },
                              currentMode == value);
    }
    menu.addSeparator();
    const bool relative = TVLSettings::usesRelativeTime();
    menu.addItemWithTitle(QStringLiteral("Use Relative Time"),
                          [relative] { TVLSettings::setUsesRelativeTime(!relative); }, relative);
}
