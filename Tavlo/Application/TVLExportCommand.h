#pragma once
// `tavlo export SESSION.jsonl [--markdown] [-o FILE]`: the session's page as one standalone HTML file, or
// the session as Markdown.

#include "TVLCommand.h"

#include <memory>

class TVLSession;

namespace TVLExportCommand {
TVLCommand command();
// The transcript at `argument` read as a session; nothing (with the reason on `err`) when it can't be.
std::shared_ptr<TVLSession> openSession(const QString &argument, QTextStream &err);
} // namespace TVLExportCommand
