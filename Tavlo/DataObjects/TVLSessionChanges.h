#pragma once
// What a session changed on disk, read from its file-edit tool calls (Edit, MultiEdit, Write,
// NotebookEdit) and their results, in the session's transcript and its sub-agents': every file
// created or changed, in the order the session first changed it, and per file its edits in the
// order they were made. A result's structuredPatch gives an edit's hunks, a Write that made a
// file gives its content; a call with no such result is shown from its own input. A call whose
// result is an error changed nothing: it is listed under its file, failed, and counts no lines;
// a file that only failed calls named is not listed.

#include "TVLFileEdit.h"

#include <QDateTime>
#include <QHash>
#include <memory>
#include <vector>

class TVLExchange;
class TVLProject;
class TVLSession;

class TVLSessionChanges final
{
public:
    struct File
    {
        QString path;       // absolute
        QString shownPath;  // relative to the session's working directory when inside it
        std::vector<TVLFileEdit> edits;
        qint64 appliedEdits = 0;
        qint64 added = 0;
        qint64 removed = 0;
        bool created = false;  // its first applied edit made it
    };

    // The changes of the session and its sub-agents.
    static TVLSessionChanges ofSession(TVLSession &session);
    // The changes made by the exchange's own lines (its sub-agents' are left out).
    static TVLSessionChanges ofExchange(TVLSession &session, const TVLExchange &exchange);
    // The changes of the project's sessions, newest session first (it is loaded when it isn't).
    static std::vector<TVLSessionChanges> ofProject(TVLProject &project);

    const QString &sessionPath() const { return m_sessionPath; }
    const QDateTime &sessionLastChangedAt() const { return m_sessionLastChangedAt; }
    // The working directory of the session's first edit; empty when it names none.
    const QString &workingDirectory() const { return m_workingDirectory; }
    const std::vector<File> &files() const { return m_files; }
    // Failed calls on files that no applied edit changed, which are not listed among the files.
    const std::vector<TVLFileEdit> &unlistedFailures() const { return m_unlistedFailures; }
    bool isEmpty() const { return m_files.empty() && m_failedEdits == 0; }

    qint64 appliedEdits() const;
    qint64 failedEdits() const { return m_failedEdits; }
    qint64 added() const;
    qint64 removed() const;
    qint64 createdFiles() const;

    // The edit made by the tool call `toolUseId` on the line `callUuid`; nullptr when none is known.
    const TVLFileEdit *editForCall(const QString &callUuid, const QString &toolUseId) const;

    // The path as shown: relative to `directory` when inside it.
    static QString shownPath(const QString &path, const QString &directory);

private:
    // Files in the order of their first applied edit; a failed call waits for its file to be listed.
    void addEditsInOrder(std::vector<TVLFileEdit> edits);
    void indexEdit(const TVLFileEdit &edit, qsizetype file, qsizetype index);

    QString m_sessionPath;
    QDateTime m_sessionLastChangedAt;
    QString m_workingDirectory;
    std::vector<File> m_files;
    qint64 m_failedEdits = 0;
    // Failed calls on files that no applied edit changed.
    std::vector<TVLFileEdit> m_unlistedFailures;
    // call uuid + tool use id -> (file, edit); file -1 for an unlisted failure.
    QHash<QString, std::pair<qsizetype, qsizetype>> m_editByCall;
};
