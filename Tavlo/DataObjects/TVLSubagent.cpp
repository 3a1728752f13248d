#include "TVLSubagent.h"

#include "Halvex/Foundation/HVXLog.h"
#include "TVLExchange.h"
#include "TVLFlatSubagents.h"
#include "TVLMessage.h"
#include "TVLWorkflowRecord.h"
#include "TVLWorkflowRun.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonObject>
#include <QSet>

#include <algorithm>

std::shared_ptr<TVLSubagent> TVLSubagent::initWithPath(const QString &path, TVLSessionRead *read)
{
    const QFileInfo info(path);
    if (info.suffix() != QLatin1String("jsonl") || info.isDir())
        return nullptr;
    auto subagent = std::make_shared<TVLSubagent>();
    subagent->setPath(path);
    if (read)
        subagent->applyRead(std::move(*read));
    else
        subagent->updateMessages();
    subagent->classifyByFileName();
    subagent->loadIdentityFromFirstMessage();
    subagent->m_hasNonTrivialUsage = subagent->computeHasNonTrivialUsage();
    subagent->loadMeta();
    subagent->updateDisplayTitle();
    return subagent;
}

TVLSubagent::Kind TVLSubagent::kindForFileName(const QString &fileName)
{
    if (fileName.startsWith(QLatin1String("agent-acompact-")))
        return Compaction;
    if (fileName.startsWith(QLatin1String("agent-aside_question-")))
        return Aside;
    if (fileName.startsWith(QLatin1String("agent-")))
        return Task;
    return Unknown;
}

void TVLSubagent::classifyByFileName() { m_kind = kindForFileName(fileName()); }

void TVLSubagent::loadIdentityFromFirstMessage()
{
    for (TVLMessage *message : messages()) {
        if (!message->hasJson())
            continue;
        const QJsonObject line = message->json();
        auto text = [&](const char *key) {
            const QJsonValue value = line.value(QLatin1String(key));
            return value.isString() ? value.toString() : QString();
        };
        m_agentId = text("agentId");
        m_slug = text("slug");
        m_subPromptId = text("promptId");
        m_logicalParentUuid = text("logicalParentUuid");
        return;
    }
}

void TVLSubagent::loadMeta()
{
    if (m_metaRead)
        return;
    QString metaPath = path();
    metaPath.chop(QStringLiteral(".jsonl").size());
    metaPath += QStringLiteral(".meta.json");
    if (!QFileInfo::exists(metaPath))
        return;
    m_metaRead = true;
    const TVLWorkflowRecord::Names names = TVLWorkflowRecord::readAgentMeta(metaPath);
    m_metaName = names.name.simplified();
    m_metaDescription = names.description.simplified();
    updateDisplayTitle();
}

void TVLSubagent::setWorkflowKey(const QString &key)
{
    if (key == m_workflowKey)
        return;
    m_workflowKey = key;
    updateDisplayTitle();
}

bool TVLSubagent::computeHasNonTrivialUsage()
{
    if (m_kind == Compaction)
        return false;
    for (TVLMessage *message : messages())
        if (const auto usage = message->tokenUsage(); usage && !usage->isEmpty())
            return true;
    return false;
}

TVLMessage *TVLSubagent::compactionLine() const
{
    if (m_kind != Compaction)
        return nullptr;
    const auto all = messages();
    for (auto it = all.rbegin(); it != all.rend(); ++it) {
        if ((*it)->lineType() != QLatin1String("assistant"))
            continue;
        if (const auto usage = (*it)->tokenUsage(); usage && !usage->isEmpty())
            return *it;
    }
    return nullptr;
}

std::optional<TVLTokenUsage> TVLSubagent::compactionUsage()
{
    TVLMessage *line = m_compactionCountedElsewhere ? nullptr : compactionLine();
    return line ? line->tokenUsage() : std::nullopt;
}

void TVLSubagent::updateDisplayTitle()
{
    const QString word = m_kind == Aside ? QStringLiteral("Aside")
                       : m_kind == Compaction ? QStringLiteral("Compaction")
                                              : QStringLiteral("Subagent");
    // A slug may be the parent session's, shared by all its agents: a name of their own comes first.
    QString name = !m_metaName.isEmpty()      ? m_metaName
                 : !m_workflowKey.isEmpty() ? m_workflowKey
                 : !m_slug.isEmpty()        ? m_slug
                 : !m_agentId.isEmpty()     ? m_agentId
                                            : fileName();
    if (!m_metaDescription.isEmpty())
        name += QStringLiteral(" \u2014 ") + m_metaDescription;
    setDisplayTitle(QStringLiteral("%1: %2").arg(word, name));
}

HVXColor TVLSubagent::textColor() const { return HVXSystemColor::red(); }

// MARK: - The parent side

QString TVLSession::sessionFolder() const
{
    const QFileInfo info(path());
    return info.absolutePath() + QLatin1Char('/') + info.completeBaseName();
}

QString TVLSession::subagentsDirectory() const { return sessionFolder() + QStringLiteral("/subagents"); }

namespace {
bool isSubagentFile(const QFileInfo &entry)
{
    return !entry.isDir() && entry.suffix() == QLatin1String("jsonl") && entry.fileName().startsWith(QLatin1String("agent-"));
}

// The agent transcripts of every run under a workflows directory that hold something.
QStringList workflowAgentFiles(const QString &workflowsDirectory)
{
    QStringList files;
    const QDir workflows(workflowsDirectory);
    for (const QFileInfo &run : workflows.entryInfoList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name))
        for (const QFileInfo &entry : QDir(run.absoluteFilePath()).entryInfoList(QDir::Files | QDir::Hidden, QDir::Name))
            if (isSubagentFile(entry) && entry.size() > 0)
                files << entry.absoluteFilePath();
    return files;
}
} // namespace

// The transcripts attached to the session file: those in its sub-agent folder, sorted by name,
// then the flat ones of older assistants beside it. Nothing when there are none; a folder that
// can't be listed is logged and gives none of its own.
QStringList TVLSession::attachedTranscriptPaths(const QString &path)
{
    QStringList paths;
    const QFileInfo info(path);
    const QString directory = info.absolutePath() + QLatin1Char('/') + info.completeBaseName() + QStringLiteral("/subagents");
    if (QFileInfo(directory).isDir()) {
        const QDir dir(directory);
        if (!dir.isReadable())
            HVXLogError(QStringLiteral("Failed to get contents of '%1': %2").arg(directory, QStringLiteral("Permission denied")));
        for (const QFileInfo &entry : dir.entryInfoList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name))
            if (isSubagentFile(entry))
                paths.append(entry.absoluteFilePath());
    }
    if (!TVLFlatSubagents::hasSubagentName(info.fileName()))
        paths += TVLFlatSubagents::subagentsOfSession(path);
    return paths;
}

void TVLSession::readSubagentFiles(const QString &path, TVLSessionRead &read, TVLReadProgress *progress)
{
    const QFileInfo info(path);
    const QString workflows = info.absolutePath() + QLatin1Char('/') + info.completeBaseName() + QStringLiteral("/subagents/workflows");
    const QStringList paths = attachedTranscriptPaths(path) + workflowAgentFiles(workflows);
    if (paths.isEmpty())
        return;
    auto reads = std::make_shared<QHash<QString, TVLSessionRead>>();
    for (const QString &transcript : paths) {
        if (progress && progress->cancelled.load(std::memory_order_relaxed))
            return;
        reads->insert(transcript, readFile(transcript, nullptr, progress));
    }
    read.subagentReads = std::move(reads);
}

void TVLSession::loadSubagents(QHash<QString, TVLSessionRead> *prefetched)
{
    QHash<QString, std::shared_ptr<TVLSubagent>> current;
    for (const auto &subagent : m_subagents)
        current.insert(subagent->path(), subagent);
    for (const auto &subagent : m_hiddenCompactions)
        current.insert(subagent->path(), subagent);

    std::vector<std::shared_ptr<TVLSubagent>> loaded;
    for (const QString &entryPath : attachedTranscriptPaths(path())) {
        std::shared_ptr<TVLSubagent> subagent = current.value(entryPath);
        if (subagent) {
            subagent->updateMessages();
            subagent->loadMeta();
        } else {
            const auto read = prefetched ? prefetched->find(entryPath) : QHash<QString, TVLSessionRead>::iterator();
            subagent = TVLSubagent::initWithPath(entryPath, prefetched && read != prefetched->end() ? &read.value() : nullptr);
            if (!subagent)
                continue;
            subagent->setParent(this);
        }
        loaded.push_back(subagent);
    }
    resolveSubagentAnchors(loaded);
    loadWorkflowRuns(prefetched);

    // Workflow agents take part in the one-count rule like every other attached transcript.
    std::vector<TVLSubagent *> transcripts;
    for (const auto &subagent : loaded)
        transcripts.push_back(subagent.get());
    for (const auto &run : m_workflowRuns)
        for (TVLSubagent *agent : run->agents())
            transcripts.push_back(agent);
    markCallsCountedElsewhere(transcripts);
    attachCompactionUsageFromSubagents(loaded);

    std::vector<std::shared_ptr<TVLSubagent>> visible;
    m_hiddenCompactions.clear();
    for (const auto &subagent : loaded) {
        if (subagent->kind() != TVLSubagent::Compaction || subagent->hasNonTrivialUsage())
            visible.push_back(subagent);
        else
            m_hiddenCompactions.push_back(subagent);
    }
    if (visible != m_subagents)
        setSubagents(std::move(visible));
    else if (!m_workflowRuns.empty())
        invalidateTokenUsage(); // the marks above may have moved a call between transcripts
}

void TVLSession::loadWorkflowRuns(QHash<QString, TVLSessionRead> *prefetched)
{
    QHash<QString, std::shared_ptr<TVLWorkflowRun>> current;
    for (const auto &run : m_workflowRuns)
        current.insert(run->path(), run);
    std::vector<std::shared_ptr<TVLWorkflowRun>> loaded;
    bool agentsChanged = false;
    const QDir workflows(subagentsDirectory() + QStringLiteral("/workflows"));
    for (const QFileInfo &entry : workflows.entryInfoList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name)) {
        const QString entryPath = entry.absoluteFilePath();
        std::shared_ptr<TVLWorkflowRun> run = current.value(entryPath);
        if (run) {
            agentsChanged = run->loadAgents(prefetched) || agentsChanged;
        } else {
            const QString record = sessionFolder() + QStringLiteral("/workflows/") + entry.fileName() + QStringLiteral(".json");
            run = TVLWorkflowRun::initWithDirectory(entryPath, record, prefetched);
            if (!run)
                continue;
            run->setParent(this);
        }
        loaded.push_back(run);
    }
    resolveWorkflowAnchors(loaded);
    if (loaded != m_workflowRuns)
        setWorkflowRuns(std::move(loaded));
    else if (agentsChanged)
        announce(TVLProperty::Subagents);
}

void TVLSession::resolveWorkflowAnchors(const std::vector<std::shared_ptr<TVLWorkflowRun>> &runs)
{
    if (runs.empty())
        return;
    // The line that answered the Workflow call carries the run's id.
    QHash<QString, int> resultLineByRunId;
    const List &all = children();
    for (size_t i = 0; i < all.size(); ++i)
        if (const QString runId = static_cast<const TVLMessage *>(all[i].get())->toolUseResultRunId();
            !runId.isEmpty() && !resultLineByRunId.contains(runId))
            resultLineByRunId.insert(runId, int(i));
    const QHash<QString, QString> &map = exchangeByMessageUuid();
    for (const auto &run : runs) {
        const auto line = resultLineByRunId.constFind(run->runId());
        run->setAnchorUuid(line == resultLineByRunId.constEnd() ? QString() : anchorOfResultLine(line.value(), map));
    }
}

void TVLSession::setWorkflowRuns(std::vector<std::shared_ptr<TVLWorkflowRun>> runs)
{
    m_workflowRuns = std::move(runs);
    announce(TVLProperty::Subagents);
    announce(TVLProperty::DisplayChildren);
    invalidateTokenUsage();
    dropCachedTagSummaries();
}

std::vector<TVLSubagent *> TVLSession::attachedTranscripts() const
{
    std::vector<TVLSubagent *> transcripts;
    for (const auto &subagent : m_subagents)
        transcripts.push_back(subagent.get());
    for (const auto &compaction : m_hiddenCompactions)
        transcripts.push_back(compaction.get());
    for (const auto &run : m_workflowRuns)
        for (TVLSubagent *agent : run->agents())
            transcripts.push_back(agent);
    return transcripts;
}

// A model call is its message.id, and counts once in a session: in the transcript that wrote it
// first, which is the session's own file, else the attached transcript first by path (the order
// the library index uses too). Asides and forks copy their parent's lines; those copies show but
// add nothing. A compaction counts only through the line credited to its summary.
void TVLSession::markCallsCountedElsewhere(std::vector<TVLSubagent *> byPath)
{
    std::sort(byPath.begin(), byPath.end(), [](const TVLSubagent *a, const TVLSubagent *b) { return a->path() < b->path(); });
    QSet<QString> countedInTranscripts;
    auto counted = [&](const QString &id) { return m_latestByMessageId.contains(id) || countedInTranscripts.contains(id); };
    for (TVLSubagent *transcript : byPath) {
        if (transcript->kind() == TVLSubagent::Compaction) {
            const TVLMessage *line = transcript->compactionLine();
            const QString id = line ? line->messageId() : QString();
            transcript->setCompactionCountedElsewhere(!id.isEmpty() && counted(id));
            if (!id.isEmpty())
                countedInTranscripts.insert(id);
            continue;
        }
        QStringList own;
        for (TVLMessage *message : transcript->messages()) {
            if (message->messageId().isEmpty())
                continue;
            const bool copy = counted(message->messageId());
            message->setCountedElsewhere(copy);
            if (!copy)
                own.append(message->messageId());
        }
        for (const QString &id : std::as_const(own))
            countedInTranscripts.insert(id);
    }
}

namespace {

void addExchangeOfMessages(QHash<QString, QString> &map, const TVLExchange &exchange)
{
    for (const TVLObject::Ptr &child : exchange.children())
        map.insert(static_cast<TVLMessage *>(child.get())->uuid(), exchange.uuid());
}

void addResultAgentIds(QHash<QString, int> &lines, const TVLObject::List &messages, size_t from)
{
    for (size_t i = from; i < messages.size(); ++i)
        if (const QString agentId = static_cast<TVLMessage *>(messages[i].get())->toolUseResultAgentId();
            !agentId.isEmpty() && !lines.contains(agentId))
            lines.insert(agentId, int(i));
}

void addPromptIds(QHash<QString, int> &lines, const TVLObject::List &messages, size_t from)
{
    for (size_t i = from; i < messages.size(); ++i) {
        const auto *message = static_cast<const TVLMessage *>(messages[i].get());
        if (message->promptId().isEmpty() || !message->hasTimestamp())
            continue;
        // On equal timestamps the earlier line wins.
        auto it = lines.find(message->promptId());
        if (it == lines.end())
            lines.insert(message->promptId(), int(i));
        else if (message->timestampMSecs() > static_cast<const TVLMessage *>(messages[size_t(it.value())].get())->timestampMSecs())
            it.value() = int(i);
    }
}

} // namespace

const QHash<QString, QString> &TVLSession::exchangeByMessageUuid() const
{
    if (!m_exchangeByMessageUuid) {
        QHash<QString, QString> map;
        for (const auto &exchange : m_exchanges)
            addExchangeOfMessages(map, *exchange);
        m_exchangeByMessageUuid = std::move(map);
    }
    return *m_exchangeByMessageUuid;
}

// After an append: the exchanges from the first one made anew are entered again (later ones
// win, as in a whole build), and the lines from the first new one are looked at.
void TVLSession::extendIndexes(const TVLSessionRead &read)
{
    for (auto it = read.latestByMessageId.constBegin(); it != read.latestByMessageId.constEnd(); ++it)
        m_latestByMessageId.insert(it.key(), it.value());
    if (m_exchangeByMessageUuid)
        for (size_t i = read.keptExchanges; i < m_exchanges.size(); ++i)
            addExchangeOfMessages(*m_exchangeByMessageUuid, *m_exchanges[i]);
    const int kept = int(read.keptMessages);
    if (m_lineByResultAgentId) {
        m_lineByResultAgentId->removeIf([kept](const auto &entry) { return entry.value() >= kept; });
        addResultAgentIds(*m_lineByResultAgentId, children(), read.keptMessages);
    }
    if (m_latestLineByPromptId) {
        // A dropped half line may have been the latest of its prompt; the one before it is not known.
        const bool lostLatest = std::any_of(m_latestLineByPromptId->cbegin(), m_latestLineByPromptId->cend(),
                                            [kept](int line) { return line >= kept; });
        if (lostLatest)
            m_latestLineByPromptId.reset();
        else
            addPromptIds(*m_latestLineByPromptId, children(), read.keptMessages);
    }
}

void TVLSession::resolveSubagentAnchors(const std::vector<std::shared_ptr<TVLSubagent>> &subagents)
{
    if (subagents.empty())
        return;
    const QHash<QString, QString> &map = exchangeByMessageUuid();
    for (const auto &subagent : subagents) {
        switch (subagent->kind()) {
        case TVLSubagent::Task:
            subagent->setAnchorUuid(resolveTaskAnchorForAgentIdExchangeByMsgUuid(subagent->agentId(), map));
            break;
        case TVLSubagent::Compaction:
            subagent->setAnchorUuid(resolveAcompactAnchorForPromptIdExchangeByMsgUuid(subagent->subPromptId(), map));
            break;
        case TVLSubagent::Aside:
            subagent->setAnchorUuid(map.value(subagent->logicalParentUuid()));
            break;
        default:
            subagent->setAnchorUuid({});
            break;
        }
    }
}

const QHash<QString, int> &TVLSession::lineByResultAgentId() const
{
    if (!m_lineByResultAgentId) {
        QHash<QString, int> lines;
        addResultAgentIds(lines, children(), 0);
        m_lineByResultAgentId = std::move(lines);
    }
    return *m_lineByResultAgentId;
}

const QHash<QString, int> &TVLSession::latestLineByPromptId() const
{
    if (!m_latestLineByPromptId) {
        QHash<QString, int> lines;
        addPromptIds(lines, children(), 0);
        m_latestLineByPromptId = std::move(lines);
    }
    return *m_latestLineByPromptId;
}

QString TVLSession::resolveTaskAnchorForAgentIdExchangeByMsgUuid(const QString &agentId,
                                                                  const QHash<QString, QString> &map) const
{
    if (agentId.isEmpty())
        return {};
    const auto resultLine = lineByResultAgentId().constFind(agentId);
    if (resultLine == lineByResultAgentId().constEnd())
        return {};
    return anchorOfResultLine(resultLine.value(), map);
}

// The exchange of the call a tool result answers, else the exchange of the result itself.
QString TVLSession::anchorOfResultLine(int resultLine, const QHash<QString, QString> &map) const
{
    const List &all = children();
    const auto *result = static_cast<const TVLMessage *>(all[size_t(resultLine)].get());
    const QString callId = result->toolResultToolUseId();
    if (!callId.isEmpty()) {
        const auto line = m_toolUseLineById.constFind(callId);
        if (line != m_toolUseLineById.constEnd() && line.value() < int(all.size()))
            return map.value(static_cast<const TVLMessage *>(all[size_t(line.value())].get())->uuid());
    }
    return map.value(result->uuid());
}

QString TVLSession::resolveAcompactAnchorForPromptIdExchangeByMsgUuid(const QString &promptId,
                                                                       const QHash<QString, QString> &map) const
{
    if (promptId.isEmpty())
        return {};
    const auto line = latestLineByPromptId().constFind(promptId);
    if (line == latestLineByPromptId().constEnd())
        return {};
    return map.value(static_cast<TVLMessage *>(children()[size_t(line.value())].get())->uuid());
}

namespace {
// A compaction transcript ends just before the parent writes its compact boundary and summary
// lines; a summary further away than this belongs to another compaction.
constexpr qint64 kCompactionPairingWindowMSecs = 60 * 1000;

std::optional<qint64> lastTimestampMSecs(TVLSubagent &compaction)
{
    const auto all = compaction.messages();
    for (auto it = all.rbegin(); it != all.rend(); ++it)
        if ((*it)->hasTimestamp())
            return (*it)->timestampMSecs();
    return std::nullopt;
}
} // namespace

void TVLSession::attachCompactionUsageFromSubagents(const std::vector<std::shared_ptr<TVLSubagent>> &subagents)
{
    std::vector<TVLSubagent *> compactions;
    QHash<QString, TVLSubagent *> byPromptId;
    for (const auto &subagent : subagents) {
        if (subagent->kind() != TVLSubagent::Compaction)
            continue;
        compactions.push_back(subagent.get());
        if (!subagent->subPromptId().isEmpty())
            byPromptId.insert(subagent->subPromptId(), subagent.get());
    }
    std::optional<TVLTokenUsage> unpaired;
    if (compactions.empty()) {
        setUnpairedCompactionUsage(unpaired);
        return;
    }

    // The prompt id names the summary a compaction belongs to.
    QSet<TVLSubagent *> paired;
    std::vector<TVLMessage *> freeSummaries;
    for (const Ptr &child : children()) {
        auto *message = static_cast<TVLMessage *>(child.get());
        if (!message->isCompactSummary())
            continue;
        TVLSubagent *compaction = message->promptId().isEmpty() ? nullptr : byPromptId.value(message->promptId());
        if (compaction) {
            // A second summary line of the same prompt would count the compaction twice.
            if (!paired.contains(compaction))
                message->injectCompactionUsage(compaction->compactionUsage());
            paired.insert(compaction);
        } else if (message->hasTimestamp()) {
            freeSummaries.push_back(message);
        }
    }

    // Transcripts written without prompt ids pair by time: each with the first free summary line
    // written at or after its last line, within the window, earliest compaction first.
    std::vector<std::pair<qint64, TVLSubagent *>> byEnd;
    for (TVLSubagent *compaction : compactions) {
        if (paired.contains(compaction))
            continue;
        if (const auto end = lastTimestampMSecs(*compaction))
            byEnd.emplace_back(*end, compaction);
        else if (const auto usage = compaction->compactionUsage())
            (unpaired ? *unpaired : unpaired.emplace()).addUsage(*usage);
    }
    std::stable_sort(byEnd.begin(), byEnd.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    std::stable_sort(freeSummaries.begin(), freeSummaries.end(),
                     [](const TVLMessage *a, const TVLMessage *b) { return a->timestampMSecs() < b->timestampMSecs(); });
    size_t next = 0;
    for (const auto &[end, compaction] : byEnd) {
        while (next < freeSummaries.size() && freeSummaries[next]->timestampMSecs() < end)
            ++next;
        if (next < freeSummaries.size() && freeSummaries[next]->timestampMSecs() - end <= kCompactionPairingWindowMSecs) {
            freeSummaries[next++]->injectCompactionUsage(compaction->compactionUsage());
            continue;
        }
        // No summary line to carry it: the session still counts it, once.
        if (const auto usage = compaction->compactionUsage())
            (unpaired ? *unpaired : unpaired.emplace()).addUsage(*usage);
    }
    setUnpairedCompactionUsage(unpaired);
}

void TVLSession::setUnpairedCompactionUsage(const std::optional<TVLTokenUsage> &usage)
{
    if (usage == m_unpairedCompactionUsage)
        return;
    m_unpairedCompactionUsage = usage;
    invalidateTokenUsage();
}

void TVLSession::setSubagents(std::vector<std::shared_ptr<TVLSubagent>> subagents)
{
    m_subagents = std::move(subagents);
    announce(TVLProperty::Subagents);
    announce(TVLProperty::DisplayChildren);
    invalidateTokenUsage();
    dropCachedTagSummaries();
}
