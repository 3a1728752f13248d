#pragma once
// A log root of files that are not what they seem, made at run time (pipes and links to devices
// can't be kept in the repository):
//
//   -home-u-hostile/
//     plain.jsonl          a session whose text carries terminal escapes, "C++" and huge counts
//     plain/subagents/agent-pipe.jsonl   a FIFO
//     pipe.jsonl           a FIFO without writer
//     zero.jsonl           a link to /dev/zero
//     sparse.jsonl         a sparse file of 1 TB
//     TavloMetaData.json   a link to `victim` (another program's settings, outside the root)
//   -home-u-pipe-meta/     TavloMetaData.json is a FIFO
//   -home-u-zero-meta/     TavloMetaData.json is a link to /dev/zero
// Each of the last two holds one ordinary session.

#include <QString>

namespace HostileRoot {
// Fills `root` (created when missing). `victim` is the file the metadata link points at; it is
// written with `victimContent`.
bool make(const QString &root, const QString &victim);
inline const QByteArray victimContent = R"({"theirs": {"keep": true}})";
// The prompt of plain.jsonl: a window title, a screen clear and a colour in terminal escapes.
inline const QString escapedPrompt = QStringLiteral("Fix the C++ build \x1b]0;pwned\x07\x1b[2J\x1b[31mred");
} // namespace HostileRoot
