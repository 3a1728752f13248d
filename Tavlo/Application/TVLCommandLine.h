#pragma once
// The commands that answer without opening a window: export, usage, inspect, tree.
// Each returns the process exit code; errors are written to `err` in plain words.

#include <QStringList>
#include <QTextStream>
#include <optional>

namespace TVLCommandLine {
// The exit code when the arguments name a command, nothing when they are paths or URLs
// for the viewer.
std::optional<int> run(const QStringList &arguments, QTextStream &out, QTextStream &err);

QString usageText();

int runExport(const QStringList &arguments, QTextStream &out, QTextStream &err);
int runUsage(const QStringList &arguments, QTextStream &out, QTextStream &err);
int runInspect(const QStringList &arguments, QTextStream &out, QTextStream &err);

// A path that exists and can be read, as an absolute path; an error message otherwise.
std::optional<QString> checkedPath(const QString &path, bool wantDirectory, QTextStream &err);
} // namespace TVLCommandLine
