#pragma once
// `tavlo changes SESSION.jsonl|PROJECT_DIR [--json]`: what a session (with its sub-agents) or each
// session of a project changed, as a table of files with their edits and lines added and removed,
// or as JSON with every edit, its hunks and its tvl:// address.

#include "TVLCommand.h"

class TVLSessionChanges;

namespace TVLChangesCommand {
TVLCommand command();
// One session's changes as the JSON the command prints.
QJsonObject changesAsJson(const TVLSessionChanges &changes);
} // namespace TVLChangesCommand
