#pragma once
// `tavlo usage PATH --by day|month|project|session|model`: token usage and cost of a log root,
// a project or a session, from the library index, as a table or as JSON.

#include <QStringList>
#include <QTextStream>

namespace TVLUsageSummaryCommand {
// Whether the arguments of `usage` ask for the index's answer rather than one project's report.
bool wantsSummary(const QStringList &arguments);
int run(const QStringList &arguments, QTextStream &out, QTextStream &err);
QString helpText();
} // namespace TVLUsageSummaryCommand
