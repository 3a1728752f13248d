#pragma once
// The command line of `tavlo`: the commands that answer without opening a window (export, usage,
// inspect, tree), each with its own --help, and the options of the viewer itself (--help, --version).
// Each command returns the process exit code; errors are written to `err` in plain words, wrong
// arguments with the command's usage and exit code 2.

#include "TVLCommand.h"

#include <QStringList>
#include <QTextStream>
#include <optional>

// What the viewer is asked to open, once the options are taken off.
struct TVLViewerArguments
{
    QStringList pathsAndUrls;
    // Start a viewer of its own rather than handing the paths to one already running.
    bool newInstance = false;
};

namespace TVLCommandLine {
// The exit code when the arguments name a command or ask for help or the version (or are wrong),
// nothing when they are paths or URLs for the viewer.
std::optional<int> run(const QStringList &arguments, QTextStream &out, QTextStream &err);

// The viewer's paths and options; only meaningful when run() gave nothing.
TVLViewerArguments viewerArguments(const QStringList &arguments);

const QList<TVLCommand> &commands();
const TVLCommand *commandNamed(const QString &name);

// The overview of the program: the viewer's usage, the commands and their descriptions.
QString usageText();
// One command's usage line, description and options.
QString helpTextForCommand(const TVLCommand &command);

// Writes "tavlo NAME: message" and the command's help to `err`; returns the exit code 2.
int usageError(const QString &commandName, const QString &message, QTextStream &err);

// A path that exists and can be read, as an absolute path; an error message otherwise.
std::optional<QString> checkedPath(const QString &path, bool wantDirectory, QTextStream &err);
} // namespace TVLCommandLine
