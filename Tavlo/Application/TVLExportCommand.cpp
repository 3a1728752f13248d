#include "TVLExportCommand.h"

#include "TVLCommandLine.h"
#include "Tavlo/DataObjects/TVLSession.h"
#include "Tavlo/DataObjects/TVLSessionMarkdown.h"
#include "Tavlo/DataObjects/TVLToolSteps.h"
#include "Tavlo/Viewer/TVLPageTemplate.h"

#include "Halvex/cmark/HVXMarkDown.h"

#include <QFileInfo>
#include <QSaveFile>

namespace {
const QString outputOption = QStringLiteral("output");
const QString toolStepsOption = QStringLiteral("tool-steps");
const QString markdownOption = QStringLiteral("markdown");

// The flag decides for this export alone; the setting is left as it is.
struct ToolStepsForExport
{
    explicit ToolStepsForExport(bool shown) { TVLToolSteps::setShownOverride(shown); }
    ~ToolStepsForExport() { TVLToolSteps::setShownOverride(std::nullopt); }
};

// The page the viewer shows, with its scripts and styles inlined so that any browser opens it alone.
QString pageDocument(TVLSession &session)
{
    const QString markdown = session.markdown();
    const QString body = markdown.isEmpty() ? QString() : HVXMarkDown::htmlFromMarkdown(markdown).value_or(QString());
    return TVLPageTemplate::shared().standaloneDocumentWithBody(body);
}

int runExport(const QCommandLineParser &parser, QTextStream &out, QTextStream &err)
{
    const QStringList arguments = parser.positionalArguments();
    if (arguments.size() != 1)
        return TVLCommandLine::usageError(QStringLiteral("export"), QStringLiteral("give one session transcript"), err);
    const auto session = TVLExportCommand::openSession(arguments.first(), err);
    if (!session)
        return 1;
    const ToolStepsForExport toolSteps(parser.isSet(toolStepsOption));
    const QString document = parser.isSet(markdownOption) ? TVLSessionMarkdown::forSession(*session, TVLToolSteps::shown())
                                                          : pageDocument(*session);
    if (!parser.isSet(outputOption)) {
        out << document;
        return 0;
    }
    const QString outputPath = parser.value(outputOption);
    QSaveFile file(outputPath);
    if (!file.open(QIODevice::WriteOnly) || file.write(document.toUtf8()) < 0 || !file.commit()) {
        err << "tavlo: can't write " << outputPath << ": " << file.errorString() << "\n";
        return 1;
    }
    return 0;
}
} // namespace

std::shared_ptr<TVLSession> TVLExportCommand::openSession(const QString &argument, QTextStream &err)
{
    const auto path = TVLCommandLine::checkedPath(argument, false, err);
    if (!path)
        return nullptr;
    if (QFileInfo(*path).suffix() != QLatin1String("jsonl")) {
        err << "tavlo: " << argument << " is not a session transcript (a .jsonl file)\n";
        return nullptr;
    }
    auto session = TVLSession::initWithPath(*path);
    if (!session)
        err << "tavlo: can't read the session " << argument << "\n";
    return session;
}

TVLCommand TVLExportCommand::command()
{
    return {QStringLiteral("export"),
            QStringLiteral("SESSION.jsonl"),
            QStringLiteral("Writes the session's page as one standalone HTML file, or with --markdown as Markdown (to\n"
                           "standard output without -o)."),
            {QCommandLineOption({QStringLiteral("o"), outputOption}, QStringLiteral("Write the page to FILE."),
                                QStringLiteral("FILE")),
             QCommandLineOption(markdownOption,
                                QStringLiteral("Write Markdown: each exchange under its time linked by its tvl:// "
                                               "address, prompts as quotes, answers as written.")),
             QCommandLineOption(toolStepsOption,
                                QStringLiteral("Show tool calls, their results and images (the viewer's \"Show Tool "
                                               "Steps\"); in Markdown, as fenced blocks, edits as diffs."))},
            runExport};
}
