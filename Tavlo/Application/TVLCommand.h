#pragma once
// One command of the `tavlo` program that answers without opening a window. A command is a name, the
// synopsis of its positional arguments, a description, its options and the function that runs it on the
// parsed command line. TVLCommandLine keeps the table of commands; a new command lives in a file of its
// own and is added there with one line.

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QList>
#include <QString>
#include <QTextStream>
#include <functional>

struct TVLCommand
{
    using Run = std::function<int(const QCommandLineParser &parser, QTextStream &out, QTextStream &err)>;

    QString name;
    // The positional arguments as the usage line shows them, e.g. "SESSION.jsonl".
    QString arguments;
    QString description;
    QList<QCommandLineOption> options;
    // Returns the exit code: 0 done, 1 failed, 2 wrong arguments (see TVLCommandLine::usageError).
    Run run;
};
