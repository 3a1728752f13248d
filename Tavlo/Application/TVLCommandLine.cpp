#include "TVLCommandLine.h"

#include "TVLChangesCommand.h"
#include "TVLExportCommand.h"
#include "TVLInspectCommand.h"
#include "TVLTreeCommand.h"
#include "TVLSearchCommand.h"
#include "TVLUsageCommand.h"

#include <QFileInfo>
#include <QRegularExpression>

namespace {
const QCommandLineOption helpOption({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help."));
const QCommandLineOption versionOption(QStringLiteral("version"), QStringLiteral("Show Tavlo's version."));
const QCommandLineOption newInstanceOption(QStringLiteral("new-instance"),
                                           QStringLiteral("Open the paths in a viewer of its own, even when one is "
                                                          "running already."));

QList<QCommandLineOption> viewerOptions() { return {versionOption, newInstanceOption}; }

bool isOptionName(const QString &argument, const QList<QCommandLineOption> &options)
{
    const QString name = argument.section(QLatin1Char('='), 0, 0).remove(QRegularExpression(QStringLiteral("^--?")));
    for (const QCommandLineOption &option : options)
        if (option.names().contains(name))
            return true;
    return false;
}

// Project directories are named like "-home-me-app", so an argument that looks like an option but is
// none and names an existing file is taken as that file.
QStringList withPathsKeptFromOptions(const QStringList &arguments, const QList<QCommandLineOption> &options)
{
    QStringList kept;
    for (const QString &argument : arguments) {
        const bool pathLikeOption = argument.startsWith(QLatin1Char('-')) && argument != QLatin1String("--")
                                    && !isOptionName(argument, options) && QFileInfo::exists(argument);
        kept.append(pathLikeOption ? QStringLiteral("./") + argument : argument);
    }
    return kept;
}

// Options are recognised wherever they stand; "--" ends them.
bool parse(QCommandLineParser &parser, const QList<QCommandLineOption> &commandOptions, const QStringList &arguments)
{
    const QList<QCommandLineOption> options = commandOptions + QList<QCommandLineOption>{helpOption};
    parser.addOptions(options);
    // The parser's first argument is the program's name.
    return parser.parse(QStringList{QStringLiteral("tavlo")} + withPathsKeptFromOptions(arguments, options));
}

QString optionNames(const QCommandLineOption &option)
{
    QStringList names;
    for (const QString &name : option.names())
        names.append((name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name);
    QString text = names.join(QStringLiteral(", "));
    if (!option.valueName().isEmpty())
        text += QLatin1Char(' ') + option.valueName();
    return text;
}

QString optionsText(const QList<QCommandLineOption> &options)
{
    qsizetype width = 0;
    for (const QCommandLineOption &option : options)
        width = qMax(width, optionNames(option).size());
    QString text = QStringLiteral("Options:\n");
    for (const QCommandLineOption &option : options)
        text += QStringLiteral("  ") + optionNames(option).leftJustified(width) + QStringLiteral("  ")
                + option.description() + QLatin1Char('\n');
    return text;
}

QString viewerHelpText()
{
    QString text = QStringLiteral("Usage: tavlo [OPTIONS] [PATH | tvl://URL]...\n"
                                  "       tavlo COMMAND [OPTIONS] ARGUMENTS\n"
                                  "\n"
                                  "Without a command, opens a viewer window on each path or URL (on the default log\n"
                                  "roots when there is none).\n\n");
    text += optionsText(viewerOptions() + QList<QCommandLineOption>{helpOption});
    text += QStringLiteral("\nCommands:\n");
    qsizetype width = 0;
    for (const TVLCommand &command : TVLCommandLine::commands())
        width = qMax(width, command.name.size());
    for (const TVLCommand &command : TVLCommandLine::commands())
        text += QStringLiteral("  ") + command.name.leftJustified(width) + QStringLiteral("  ") + command.description
                + QLatin1Char('\n');
    text += QStringLiteral("\n\"tavlo COMMAND --help\" describes a command and its options.\n");
    return text;
}

int runCommand(const TVLCommand &command, const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    QCommandLineParser parser;
    if (!parse(parser, command.options, arguments))
        return TVLCommandLine::usageError(command.name, parser.errorText(), err);
    if (parser.isSet(helpOption)) {
        out << TVLCommandLine::helpTextForCommand(command);
        return 0;
    }
    return command.run(parser, out, err);
}
} // namespace

const QList<TVLCommand> &TVLCommandLine::commands()
{
    static const QList<TVLCommand> table = {
        TVLExportCommand::command(),
        TVLUsageCommand::command(),
        TVLInspectCommand::command(),
        TVLTreeCommand::command(),
        TVLSearchCommand::command(),
        TVLChangesCommand::command(),
    };
    return table;
}

const TVLCommand *TVLCommandLine::commandNamed(const QString &name)
{
    for (const TVLCommand &command : commands())
        if (command.name == name)
            return &command;
    return nullptr;
}

QString TVLCommandLine::usageText() { return viewerHelpText(); }

QString TVLCommandLine::helpTextForCommand(const TVLCommand &command)
{
    QString text = QStringLiteral("Usage: tavlo ") + command.name + QStringLiteral(" [OPTIONS]");
    if (!command.arguments.isEmpty())
        text += QLatin1Char(' ') + command.arguments;
    text += QStringLiteral("\n\n") + command.description + QStringLiteral("\n\n");
    return text + optionsText(command.options + QList<QCommandLineOption>{helpOption});
}

int TVLCommandLine::usageError(const QString &commandName, const QString &message, QTextStream &err)
{
    err << "tavlo" << (commandName.isEmpty() ? QString() : QLatin1Char(' ') + commandName) << ": " << message << "\n\n";
    if (const TVLCommand *command = commandNamed(commandName))
        err << helpTextForCommand(*command);
    else
        err << viewerHelpText();
    return 2;
}

std::optional<QString> TVLCommandLine::checkedPath(const QString &path, bool wantDirectory, QTextStream &err)
{
    const QFileInfo info(path);
    if (!info.exists()) {
        err << "tavlo: " << path << ": no such file or directory\n";
        return std::nullopt;
    }
    if (wantDirectory && !info.isDir()) {
        err << "tavlo: " << path << " is not a directory\n";
        return std::nullopt;
    }
    if (!wantDirectory && info.isDir()) {
        err << "tavlo: " << path << " is a directory, not a file\n";
        return std::nullopt;
    }
    if (!info.isReadable()) {
        err << "tavlo: " << path << ": permission denied\n";
        return std::nullopt;
    }
    return info.absoluteFilePath();
}

std::optional<int> TVLCommandLine::run(const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    if (arguments.isEmpty())
        return std::nullopt;
    const QString &first = arguments.first();
    if (first == QLatin1String("help")) {
        const TVLCommand *command = arguments.size() > 1 ? commandNamed(arguments[1]) : nullptr;
        if (arguments.size() > 1 && !command)
            return usageError(QString(), QStringLiteral("no command named ") + arguments[1], err);
        out << (command ? helpTextForCommand(*command) : viewerHelpText());
        return 0;
    }
    if (const TVLCommand *command = commandNamed(first))
        return runCommand(*command, arguments.mid(1), out, err);

    QCommandLineParser parser;
    if (!parse(parser, viewerOptions(), arguments))
        return usageError(QString(), parser.errorText(), err);
    if (parser.isSet(helpOption)) {
        out << viewerHelpText();
        return 0;
    }
    if (parser.isSet(versionOption)) {
        out << "Tavlo " << TAVLO_VERSION << "\n";
        return 0;
    }
    return std::nullopt;
}

TVLViewerArguments TVLCommandLine::viewerArguments(const QStringList &arguments)
{
    QCommandLineParser parser;
    parse(parser, viewerOptions(), arguments);
    return {parser.positionalArguments(), parser.isSet(newInstanceOption)};
}
