#pragma once
// One run of a workflow that a session started with its Workflow tool. Its agents write their
// transcripts to <session>/subagents/workflows/<runId>/agent-*.jsonl; the run is shown under the
// exchange whose Workflow call started it, named after the workflow of its run record
// (<session>/workflows/<runId>.json), with its agents as its children. Journal and meta files
// beside the transcripts are not transcripts; empty transcripts (a stopped run leaves them) are
// passed over until they hold something.

#include "TVLObject.h"

#include <QHash>

class TVLSubagent;
struct TVLSessionRead;

class TVLWorkflowRun final : public TVLObject
{
public:
    // A run for its directory of agent transcripts, its agents read (those not yet read take
    // their read from `prefetched` when it holds one).
    static std::shared_ptr<TVLWorkflowRun> initWithDirectory(const QString &directory, const QString &runRecordPath,
                                                             QHash<QString, TVLSessionRead> *prefetched = nullptr);

    const QString &runId() const { return m_runId; }
    // The workflow's name from the run record; empty when it has none.
    const QString &name() const { return m_name; }
    const QString &anchorUuid() const { return m_anchorUuid; }
    void setAnchorUuid(const QString &uuid) { m_anchorUuid = uuid; }
    std::vector<TVLSubagent *> agents() const;

    // Reads the directory again: new agents are added, gone ones dropped, known ones re-read.
    // True when the list of agents changed.
    bool loadAgents(QHash<QString, TVLSessionRead> *prefetched = nullptr);

    QString displayTitle() const override;
    HVXColor textColor() const override;
    bool hasStandardTextColor() const override { return false; }
    // Agents are shown whatever the filter, as sub-agents are.
    List displayChildren() override { return children(); }
    bool isLeaf() const override { return children().empty(); }
    QString markdown() const override;
    void addToContextMenu(HVXMenu &menu) override;
    QString description() const override;

private:
    void readRunRecord();
    void nameAgentsByJournal(const List &agents);

    QString m_runId;
    QString m_runRecordPath;
    QString m_name;
    QString m_workflowDescription;
    QString m_anchorUuid;
    QHash<QString, QString> m_keyByAgentId;
    qint64 m_journalSize = -1;
};
