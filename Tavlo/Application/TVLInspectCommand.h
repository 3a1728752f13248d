#pragma once
// `tavlo inspect SESSION.jsonl --json`: the model of one session as JSON, for scripts and tests.

#include "TVLCommand.h"

#include <QJsonObject>

class TVLSession;
struct TVLTokenUsage;

namespace TVLInspectCommand {
TVLCommand command();
QJsonObject sessionAsJson(TVLSession &session);
QJsonObject usageAsJson(const TVLTokenUsage &usage);
} // namespace TVLInspectCommand
