#pragma once
// `tavlo usage PATH --by day|month|project|session|model`: token usage and cost of a log root,
// a project or a session, from the library index, as a table or as JSON. Part of the `usage`
// command (TVLUsageCommand), which gives its options to the parser.

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QTextStream>

namespace TVLUsageSummaryCommand {
QList<QCommandLineOption> options();
// Whether the parsed arguments ask for the index's answer rather than one project's report.
bool wantsSummary(const QCommandLineParser &parser);
int run(const QCommandLineParser &parser, QTextStream &out, QTextStream &err);
} // namespace TVLUsageSummaryCommand
