#pragma once
// A transcript written beside a session by work the session started: a task sub-agent (also
// an agent of a workflow run), a context compaction or an aside question. It reads like a session and knows its kind, its
// identity (from its first line) and the exchange of the parent session it belongs to.

#include "TVLSession.h"

class TVLSubagent final : public TVLSession
{
public:
    enum Kind : qint64 { Unknown = 0, Task = 1, Compaction = 2, Aside = 3 };

    // A sub-agent for a .jsonl file, read at once or made from a read of it taken beforehand.
    static std::shared_ptr<TVLSubagent> initWithPath(const QString &path, TVLSessionRead *read = nullptr);
    static Kind kindForFileName(const QString &fileName);

    qint64 kind() const { return m_kind; }
    const QString &agentId() const { return m_agentId; }
    const QString &slug() const { return m_slug; }
    const QString &subPromptId() const { return m_subPromptId; }
    const QString &logicalParentUuid() const { return m_logicalParentUuid; }
    bool hasNonTrivialUsage() const { return m_hasNonTrivialUsage; }
    const QString &anchorUuid() const { return m_anchorUuid; }
    void setAnchorUuid(const QString &uuid) { m_anchorUuid = uuid; }

    void classifyByFileName();
    void loadIdentityFromFirstMessage();
    // The name and description the agent was started with, from the .meta.json beside its
    // transcript (agent-X.meta.json for agent-X.jsonl); read until one has been found, as the
    // file may come after the transcript. The title follows.
    void loadMeta();
    // The key a workflow run started this agent under, named when the meta file names nothing.
    void setWorkflowKey(const QString &key);
    bool computeHasNonTrivialUsage();
    // The usage credited to the parent's compact summary line: that of its last assistant line
    // with usage, unless the session counts that call elsewhere.
    std::optional<TVLTokenUsage> compactionUsage();
    TVLMessage *compactionLine() const;
    void setCompactionCountedElsewhere(bool elsewhere) { m_compactionCountedElsewhere = elsewhere; }

    void updateDisplayTitle() override;
    HVXColor textColor() const override;
    bool hasStandardTextColor() const override { return false; }

private:
    qint64 m_kind = Unknown;
    QString m_agentId;
    QString m_slug;
    QString m_subPromptId;
    QString m_logicalParentUuid;
    QString m_anchorUuid;
    QString m_metaName;
    QString m_metaDescription;
    QString m_workflowKey;
    bool m_hasNonTrivialUsage = false;
    bool m_compactionCountedElsewhere = false;
    bool m_metaRead = false;
};
