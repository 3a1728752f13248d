#include "TVLWorkflowRun.h"

#include "Halvex/Foundation/HVXMenu.h"
#include "TVLDesktop.h"
#include "TVLSession.h"
#include "TVLSubagent.h"
#include "TVLWorkflowRecord.h"

#include <QDir>
#include <QFileInfo>

namespace {
QString escapedText(QString text)
{
    text.replace(QLatin1Char('&'), QLatin1String("&amp;"));
    text.replace(QLatin1Char('<'), QLatin1String("&lt;"));
    text.replace(QLatin1Char('>'), QLatin1String("&gt;"));
    return text;
}
} // namespace

std::shared_ptr<TVLWorkflowRun> TVLWorkflowRun::initWithDirectory(const QString &directory, const QString &runRecordPath,
                                                                   QHash<QString, TVLSessionRead> *prefetched)
{
    const QFileInfo info(directory);
    if (!info.isDir())
        return nullptr;
    auto run = std::make_shared<TVLWorkflowRun>();
    run->setPath(info.absoluteFilePath());
    run->m_runId = info.fileName();
    run->m_runRecordPath = runRecordPath;
    run->readRunRecord();
    run->loadAgents(prefetched);
    return run;
}

void TVLWorkflowRun::readRunRecord()
{
    const TVLWorkflowRecord::Names names = TVLWorkflowRecord::readRunRecord(m_runRecordPath);
    if (names.name.isEmpty() && names.description.isEmpty())
        return;
    const bool renamed = names.name != m_name;
    m_name = names.name;
    m_workflowDescription = names.description;
    if (renamed)
        announce(TVLProperty::DisplayTitle);
}

std::vector<TVLSubagent *> TVLWorkflowRun::agents() const
{
    std::vector<TVLSubagent *> result;
    for (const Ptr &child : children())
        result.push_back(static_cast<TVLSubagent *>(child.get()));
    return result;
}

bool TVLWorkflowRun::loadAgents(QHash<QString, TVLSessionRead> *prefetched)
{
    // The run record may be written after the first agents.
    if (m_name.isEmpty())
        readRunRecord();
    QHash<QString, Ptr> current;
    for (const Ptr &child : children())
        current.insert(child->path(), child);
    List loaded;
    const QDir dir(path());
    for (const QFileInfo &entry : dir.entryInfoList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name)) {
        if (entry.suffix() != QLatin1String("jsonl") || !entry.fileName().startsWith(QLatin1String("agent-"))
            || entry.size() == 0)
            continue;
        const QString entryPath = entry.absoluteFilePath();
        if (const Ptr known = current.value(entryPath)) {
            auto *agent = static_cast<TVLSubagent *>(known.get());
            agent->updateMessages();
            agent->loadMeta();
            loaded.push_back(known);
            continue;
        }
        const auto read = prefetched ? prefetched->find(entryPath) : QHash<QString, TVLSessionRead>::iterator();
        auto agent = TVLSubagent::initWithPath(entryPath, prefetched && read != prefetched->end() ? &read.value() : nullptr);
        if (!agent)
            continue;
        agent->setParent(this);
        loaded.push_back(std::move(agent));
    }
    nameAgentsByJournal(loaded);
    if (tvlSameNodes(loaded, children()))
        return false;
    setChildren(std::move(loaded));
    return true;
}

void TVLWorkflowRun::nameAgentsByJournal(const List &agents)
{
    // The journal grows as agents start; it is read again only when its size changed.
    const QString journal = path() + QStringLiteral("/journal.jsonl");
    const qint64 size = QFileInfo(journal).size();
    if (size != m_journalSize) {
        m_journalSize = size;
        m_keyByAgentId = TVLWorkflowRecord::readJournalKeys(journal);
    }
    for (const Ptr &node : agents) {
        auto *agent = static_cast<TVLSubagent *>(node.get());
        // Agent files are named after their agent's id, as the journal is.
        const QString fileId = QFileInfo(agent->path()).completeBaseName().mid(QStringLiteral("agent-").size());
        agent->setWorkflowKey(m_keyByAgentId.value(agent->agentId().isEmpty() ? fileId : agent->agentId(),
                                                   m_keyByAgentId.value(fileId)));
    }
}

QString TVLWorkflowRun::displayTitle() const
{
    return QStringLiteral("Workflow: %1").arg(m_name.isEmpty() ? m_runId : m_name);
}

HVXColor TVLWorkflowRun::textColor() const { return HVXSystemColor::red(); }

QString TVLWorkflowRun::markdown() const
{
    QString text = QStringLiteral("## ") + escapedText(displayTitle()) + QStringLiteral("\n\n");
    if (!m_workflowDescription.isEmpty())
        text += escapedText(m_workflowDescription) + QStringLiteral("\n\n");
    if (children().empty())
        return text + QStringLiteral("No agent of this run has written anything.\n");
    for (const Ptr &child : children())
        text += QStringLiteral("- ") + escapedText(child->displayTitle()) + QLatin1Char('\n');
    return text;
}

void TVLWorkflowRun::addToContextMenu(HVXMenu &menu)
{
    const QString directory = path();
    menu.addItemWithTitle(QStringLiteral("Reveal in Finder"), [directory] { TVLDesktop::current().showInFileManager(directory); });
}

QString TVLWorkflowRun::description() const { return QStringLiteral("<TVLWorkflowRun %1>").arg(m_runId); }
