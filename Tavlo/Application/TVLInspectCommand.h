#pragma once
// `tavlo inspect SESSION.jsonl --json`: the model of one session as JSON, for scripts and tests.

#include <QJsonObject>

class TVLSession;
struct TVLTokenUsage;

namespace TVLInspectCommand {
QJsonObject sessionAsJson(TVLSession &session);
QJsonObject usageAsJson(const TVLTokenUsage &usage);
} // namespace TVLInspectCommand
