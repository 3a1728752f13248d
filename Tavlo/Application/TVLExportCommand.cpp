#include "TVLExportCommand.h"

#include "TVLCommandLine.h"
#include "Tavlo/DataObjects/TVLSession.h"
#include "Tavlo/DataObjects/TVLToolSteps.h"
#include "Tavlo/Viewer/TVLPageSections.h"
#include "Tavlo/Viewer/TVLPageTemplate.h"

#include <QFileInfo>
#include <QSaveFile>

namespace {
const QString outputOption = QStringLiteral("output");
const QString toolStepsOption = QStringLiteral("tool-steps");

// The flag decides for this export alone; the setting is left as it is.
struct ToolStepsForExport
{
    explicit ToolStepsForExport(bool shown) { TVLToolSteps::setShownOverride(shown); }
    ~ToolStepsForExport() { TVLToolSteps::setShownOverride(std::nullopt); }
};

int runExport(const QCommandLineParser &parser, QTextStream &out, QTextStream &err)
{
    const QStringList arguments = parser.positionalArguments();
    if (arguments.size() != 1)
        return TVLCommandLine::usageError(QStringLiteral("export"), QStringLiteral("give one session transcript"), err);
    const auto session = TVLExportCommand::openSession(arguments.first(), err);
    if (!session)
        return 1;
    const ToolStepsForExport toolSteps(parser.isSet(toolStepsOption));
    // The page the viewer shows, with its scripts and styles inlined so that any browser opens it alone.
    const QString body = TVLPageSections::dataElementOf(TVLPageSections::sourcesOfObject(*session));
    const QString html = TVLPageTemplate::shared().standaloneDocumentWithBody(body);
    if (!parser.isSet(outputOption)) {
        out << html;
        return 0;
    }
    const QString outputPath = parser.value(outputOption);
    QSaveFile file(outputPath);
    if (!file.open(QIODevice::WriteOnly) || file.write(html.toUtf8()) < 0 || !file.commit()) {
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
            QStringLiteral("Writes the session's page as one standalone HTML file (to standard output without -o)."),
            {QCommandLineOption({QStringLiteral("o"), outputOption}, QStringLiteral("Write the page to FILE."),
                                QStringLiteral("FILE")),
             QCommandLineOption(toolStepsOption,
                                QStringLiteral("Show tool calls, their results and images (the viewer's \"Show Tool "
                                               "Steps\")."))},
            runExport};
}
