#pragma once
// Sub-agent transcripts of the 2.0 assistants, written as agent-<id>.jsonl directly in the
// project directory rather than in a folder of their session. Their lines carry the session id
// of the session that started them ("sessionId", or "session_id"), which is that session's file
// name; such a file belongs to its session, unless that session's file is not there, when it is
// a session of its own. Safe on any thread.

#include <QString>
#include <QStringList>

namespace TVLFlatSubagents {
bool hasSubagentName(const QString &fileName);

// The session id the file's first lines name; empty when none does. Remembered per path once
// found (a transcript's session never changes).
QString parentSessionIdOf(const QString &path);

// The session file in the same directory that `path`, a flat sub-agent transcript, belongs to;
// empty when it is not one, or its session's file is not there.
QString parentSessionPathOf(const QString &path);

// The flat sub-agent transcripts in `directory` that belong to the session file `sessionPath`,
// sorted by path.
QStringList subagentsOfSession(const QString &sessionPath);
} // namespace TVLFlatSubagents
