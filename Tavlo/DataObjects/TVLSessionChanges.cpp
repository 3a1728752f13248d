#include "TVLSessionChanges.h"

#include "TVLExchange.h"
#include "TVLProject.h"
#include "TVLSession.h"
#include "TVLSubagent.h"
#include "TVLTranscriptEditReader.h"

#include <algorithm>

namespace {
QString callKey(const QString &callUuid, const QString &toolUseId) { return callUuid + QLatin1Char('\n') + toolUseId; }

// An edit whose line has no time takes the time of the edit before it in its transcript, so
// merging transcripts by time keeps each one's own order.
void fillMissingTimes(std::vector<TVLFileEdit> &edits)
{
    qint64 previous = 0;
    for (TVLFileEdit &edit : edits) {
        if (edit.timestampMSecs == 0)
            edit.timestampMSecs = previous;
        previous = edit.timestampMSecs;
    }
}

// The edits of the session and of its sub-agents in one sequence, by time; each transcript's
// edits stay in their own order, and on equal times the session's come first.
std::vector<TVLFileEdit> mergedByTime(std::vector<std::vector<TVLFileEdit>> sequences)
{
    std::vector<TVLFileEdit> merged;
    for (auto &sequence : sequences) {
        fillMissingTimes(sequence);
        std::vector<TVLFileEdit> next;
        next.reserve(merged.size() + sequence.size());
        std::merge(std::make_move_iterator(merged.begin()), std::make_move_iterator(merged.end()),
                   std::make_move_iterator(sequence.begin()), std::make_move_iterator(sequence.end()),
                   std::back_inserter(next),
                   [](const TVLFileEdit &a, const TVLFileEdit &b) { return a.timestampMSecs < b.timestampMSecs; });
        merged = std::move(next);
    }
    return merged;
}
} // namespace

TVLSessionChanges TVLSessionChanges::ofSession(TVLSession &session)
{
    TVLSessionChanges changes;
    changes.m_sessionPath = session.path();
    changes.m_sessionLastChangedAt = session.lastChangedAt();

    std::vector<std::vector<TVLFileEdit>> sequences;
    TVLTranscriptEditReader own(session.path(), false);
    for (const auto &exchange : session.exchanges())
        own.readExchange(*exchange);
    sequences.push_back(own.takeEdits());
    changes.m_workingDirectory = own.workingDirectory();

    for (const auto &subagent : session.subagents()) {
        const QString anchor = subagent->anchorUuid();
        const auto anchorExchange = anchor.isEmpty() ? nullptr : session.exchangeWithUuid(anchor);
        TVLTranscriptEditReader reader(subagent->path(), true, anchor,
                                       anchorExchange ? anchorExchange->sectionId() : QString());
        for (const auto &exchange : subagent->exchanges())
            reader.readExchange(*exchange);
        sequences.push_back(reader.takeEdits());
        if (changes.m_workingDirectory.isEmpty())
            changes.m_workingDirectory = reader.workingDirectory();
    }
    changes.addEditsInOrder(mergedByTime(std::move(sequences)));
    return changes;
}

TVLSessionChanges TVLSessionChanges::ofExchange(TVLSession &session, const TVLExchange &exchange)
{
    TVLSessionChanges changes;
    changes.m_sessionPath = session.path();
    changes.m_sessionLastChangedAt = session.lastChangedAt();
    TVLTranscriptEditReader reader(session.path(), false);
    reader.readExchange(exchange);
    changes.m_workingDirectory = reader.workingDirectory();
    changes.addEditsInOrder(reader.takeEdits());
    return changes;
}

std::vector<TVLSessionChanges> TVLSessionChanges::ofProject(TVLProject &project)
{
    project.loadIfNeeded();
    std::vector<std::shared_ptr<TVLSession>> sessions;
    for (const auto &session : project.sessionLookup())
        sessions.push_back(session);
    std::stable_sort(sessions.begin(), sessions.end(), [](const auto &a, const auto &b) {
        return a->lastChangedAt() > b->lastChangedAt();
    });
    std::vector<TVLSessionChanges> result;
    for (const auto &session : sessions)
        result.push_back(ofSession(*session));
    return result;
}

void TVLSessionChanges::addEditsInOrder(std::vector<TVLFileEdit> edits)
{
    QHash<QString, qsizetype> fileByPath;
    QHash<QString, std::vector<TVLFileEdit>> failedBeforeListed;
    QStringList failedPathsInOrder;
    for (TVLFileEdit &edit : edits) {
        const auto known = fileByPath.constFind(edit.filePath);
        if (edit.failed) {
            ++m_failedEdits;
            if (known != fileByPath.cend()) {
                indexEdit(edit, *known, qsizetype(m_files[size_t(*known)].edits.size()));
                m_files[size_t(*known)].edits.push_back(std::move(edit));
            } else {
                auto &failures = failedBeforeListed[edit.filePath];
                if (failures.empty())
                    failedPathsInOrder.append(edit.filePath);
                failures.push_back(std::move(edit));
            }
            continue;
        }
        qsizetype fileIndex = known != fileByPath.cend() ? *known : -1;
        if (fileIndex < 0) {
            fileIndex = qsizetype(m_files.size());
            fileByPath.insert(edit.filePath, fileIndex);
            File file;
            file.path = edit.filePath;
            file.shownPath = shownPath(edit.filePath, m_workingDirectory);
            file.created = edit.created;
            file.edits = failedBeforeListed.take(edit.filePath);
            for (size_t i = 0; i < file.edits.size(); ++i)
                indexEdit(file.edits[i], fileIndex, qsizetype(i));
            m_files.push_back(std::move(file));
        }
        File &file = m_files[size_t(fileIndex)];
        ++file.appliedEdits;
        file.added += edit.added;
        file.removed += edit.removed;
        indexEdit(edit, fileIndex, qsizetype(file.edits.size()));
        file.edits.push_back(std::move(edit));
    }
    // Calls that failed on files nothing else changed, file by file.
    for (const QString &path : failedPathsInOrder)
        for (TVLFileEdit &edit : failedBeforeListed.take(path)) {
            indexEdit(edit, -1, qsizetype(m_unlistedFailures.size()));
            m_unlistedFailures.push_back(std::move(edit));
        }
}

void TVLSessionChanges::indexEdit(const TVLFileEdit &edit, qsizetype file, qsizetype index)
{
    m_editByCall.insert(callKey(edit.callUuid, edit.toolUseId), {file, index});
}

const TVLFileEdit *TVLSessionChanges::editForCall(const QString &callUuid, const QString &toolUseId) const
{
    const auto found = m_editByCall.constFind(callKey(callUuid, toolUseId));
    if (found == m_editByCall.cend())
        return nullptr;
    const auto [file, index] = *found;
    return file < 0 ? &m_unlistedFailures[size_t(index)] : &m_files[size_t(file)].edits[size_t(index)];
}

qint64 TVLSessionChanges::appliedEdits() const
{
    qint64 total = 0;
    for (const File &file : m_files)
        total += file.appliedEdits;
    return total;
}

qint64 TVLSessionChanges::added() const
{
    qint64 total = 0;
    for (const File &file : m_files)
        total += file.added;
    return total;
}

qint64 TVLSessionChanges::removed() const
{
    qint64 total = 0;
    for (const File &file : m_files)
        total += file.removed;
    return total;
}

qint64 TVLSessionChanges::createdFiles() const
{
    return std::count_if(m_files.begin(), m_files.end(), [](const File &file) { return file.created; });
}

QString TVLSessionChanges::shownPath(const QString &path, const QString &directory)
{
    if (directory.isEmpty())
        return path;
    const QString prefix = directory.endsWith(QLatin1Char('/')) ? directory : directory + QLatin1Char('/');
    return path.startsWith(prefix) && path.size() > prefix.size() ? path.mid(prefix.size()) : path;
}
