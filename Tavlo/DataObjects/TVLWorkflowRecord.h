#pragma once
// What the files beside a workflow run and its agents say about them: the name and description
// of the workflow, from the `meta` object its run record's script exports, and the name and
// description an agent was started with, from its .meta.json. These files are written by the
// assistant and read here only for titles: anything missing, unreadable or odd gives nothing.

#include <QHash>
#include <QString>

namespace TVLWorkflowRecord {
struct Names
{
    QString name;
    QString description;
};

// The `name` and `description` of `export const meta = { name: '…', description: '…', … }` in the
// "script" of a run record (<session>/workflows/<runId>.json).
Names readRunRecord(const QString &path);
// The same read from script text: only keys of the meta object itself, not of objects inside it.
Names metaOfScript(const QString &script);
// The "name" and "description" of an agent's .meta.json.
Names readAgentMeta(const QString &path);
// The key each agent of a run was started under, by agent id, from the "started" lines of the
// run's journal.jsonl.
QHash<QString, QString> readJournalKeys(const QString &path);
} // namespace TVLWorkflowRecord
