#pragma once
// `tavlo search QUERY [PATH]`: the exchanges whose prompts and answers match a full-text query,
// best first, across the default log roots or under PATH, from the library index.

#include <QStringList>
#include <QTextStream>

namespace TVLSearchCommand {
int run(const QStringList &arguments, QTextStream &out, QTextStream &err);
QString helpText();
} // namespace TVLSearchCommand
