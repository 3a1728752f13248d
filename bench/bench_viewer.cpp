// Viewer figures with the real widgets and web engine: from the start of the process to the
// first painted window on a log root of 1,000 projects; from selecting a 20 MB session in a
// project's window to its page shown; and the memory of the process with that page shown.
// Prints "name: value unit" lines after describing the corpus.

#include "Halvex/AppKit/HVXOutlineView.h"
#include "Halvex/AppKit/HVXWindowController.h"
#include "Halvex/AppKit/HVXWindows.h"
#include "Halvex/Foundation/HVXDefaults.h"
#include "Tavlo/Application/TVLApplication.h"
#include "Tavlo/Application/TVLQtDesktop.h"
#include "Tavlo/DataObjects/TVLSession.h"
#include "Tavlo/Viewer/TVLOutlineModel.h"
#include "Tavlo/Viewer/TVLPageController.h"
#include "Tavlo/Viewer/TVLViewerViewController.h"
#include "Tavlo/Viewer/TVLWebPage.h"
#include "bench/support/TVLBenchFigures.h"
#include "tests/support/PageProbe.h"
#include "tests/support/WebEngineEnvironment.h"
#include "bench/support/TVLCorpusGenerator.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QItemSelectionModel>
#include <QTemporaryDir>
#include <QWidget>
#include <functional>

using namespace TVLBenchFigures;

namespace {

// Notes the first paint of a widget after it was armed.
class PaintWatcher : public QObject
{
public:
    bool painted = false;
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            painted = true;
        return QObject::eventFilter(watched, event);
    }
};

QString ensureRoot(TVLCorpusGenerator &generator, int projects, int sessions)
{
    const QString directory = QDir(TVLCorpusGenerator::defaultDirectory()).filePath(QStringLiteral("viewer-root/projects"));
    const QString recipe = QStringLiteral("root %1 projects %2 sessions").arg(projects).arg(sessions);
    return TVLCorpusGenerator::ensureDirectory(directory, recipe,
                                               [&] { generator.writeRoot(directory, projects, sessions); });
}

TVLViewerViewController *present(const QString &path)
{
    return qobject_cast<TVLViewerViewController *>(HVXWindows::presentViewControllerOfClass(
        QString::fromLatin1(TVLViewerViewController::className), {{QStringLiteral("path"), path}}));
}

// From asking for the window to the first paint of its outline with rows in it.
bool waitForPaintedOutline(TVLViewerViewController *viewer, PaintWatcher &watcher)
{
    viewer->outlineView()->viewport()->installEventFilter(&watcher);
    return waitUntil([&] { return watcher.painted && viewer->outlineModel()->rowCount() > 0; }, 60000);
}

} // namespace

int main(int argc, char **argv)
{
    QElapsedTimer sinceStart;
    sinceStart.start();
    prepareWebEngineForHeadlessRuns();
    QTemporaryDir work;
    HVXDefaults::useStoreAtPath(work.filePath(QStringLiteral("settings.ini")));

    // The corpus is made before the clock that matters starts: a real start finds it on disk.
    TVLCorpusGenerator generator;
    const QString root = ensureRoot(generator, 1000, 20000);
    TVLCorpusShape shape;
    shape.targetBytes = 20 << 20;
    TVLCorpusStats stats;
    const QString session = generator.ensureSession(QStringLiteral("viewer-session-20M"), shape, &stats);
    line(QStringLiteral("corpus: a generated log root of 1,000 project directories holding 20,000 small sessions (%1); "
                        "one generated session of %2 with %3 exchanges and %4 sub-agent files (%5)")
             .arg(root, TVLCorpusGenerator::formatSize(stats.sessionBytes))
             .arg(stats.exchanges)
             .arg(stats.subagentFiles)
             .arg(shape.description()));
    const qint64 corpusMilliseconds = sinceStart.elapsed();

    QElapsedTimer startClock;
    startClock.start();
    TVLApplication app(argc, argv);
    TVLDesktop::install(std::make_shared<TVLQtDesktop>());
    const double applicationMade = double(startClock.nsecsElapsed()) / 1e6;

    PaintWatcher rootPaint;
    TVLViewerViewController *rootViewer = present(root);
    if (!rootViewer || !waitForPaintedOutline(rootViewer, rootPaint)) {
        line(QStringLiteral("error: the root window was not painted"));
        return 1;
    }
    figure(QStringLiteral("start-application-object"), applicationMade, QStringLiteral("ms"));
    figure(QStringLiteral("start-to-first-painted-root-window"), double(startClock.nsecsElapsed()) / 1e6, QStringLiteral("ms"));
    figure(QStringLiteral("root-window-rows"), rootViewer->outlineModel()->rowCount(), QStringLiteral("projects"), 0);
    Q_UNUSED(corpusMilliseconds)

    // A project window on the session's directory; the session is selected as a user would.
    const qint64 memoryBefore = residentBytes();
    PaintWatcher projectPaint;
    // The project window reads the session; the whole way to its page starts here.
    QElapsedTimer openClock;
    openClock.start();
    TVLViewerViewController *viewer = present(QFileInfo(session).absolutePath());
    if (!viewer || !waitForPaintedOutline(viewer, projectPaint)) {
        line(QStringLiteral("error: the project window was not painted"));
        return 1;
    }
    TVLOutlineModel *model = viewer->outlineModel();
    QModelIndex sessionRow;
    // Sessions sit under their day's row.
    std::function<QModelIndex(const QModelIndex &)> findSession = [&](const QModelIndex &parent) -> QModelIndex {
        if (model->canFetchMore(parent))
            model->fetchMore(parent);
        for (int row = 0; row < model->rowCount(parent); ++row) {
            const QModelIndex index = model->index(row, 0, parent);
            if (auto *object = dynamic_cast<TVLSession *>(model->objectForIndex(index)); object && object->path() == session)
                return index;
            if (const QModelIndex found = findSession(index); found.isValid())
                return found;
        }
        return {};
    };
    waitOrFail([&] { return (sessionRow = findSession({})).isValid(); }, 60000, QStringLiteral("the session's row"));
    bool shown = false;
    QObject::connect(viewer->page(), &TVLPageController::pageLoaded, [&] { shown = true; });
    QElapsedTimer selectClock;
    selectClock.start();
    viewer->outlineView()->selectionModel()->select(sessionRow, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    waitOrFail([&] { return shown; }, 120000, QStringLiteral("the session's page"));
    // The after-load scripts (highlighting, the scroll to the end, badges) have run once this answers.
    bool answered = false;
    PageProbe::runScript(*viewer->page(), QStringLiteral("document.body.scrollHeight"), [&](const QVariant &) { answered = true; });
    waitOrFail([&] { return answered; }, 120000, QStringLiteral("the page's answer"));
    figure(QStringLiteral("select-20MB-session-to-page-shown"), double(selectClock.nsecsElapsed()) / 1e6, QStringLiteral("ms"));
    figure(QStringLiteral("open-project-read-and-select-20MB-session-to-page-shown"), double(openClock.nsecsElapsed()) / 1e6,
           QStringLiteral("ms"));
    waitUntil([] { return false; }, 1000);  // let the page settle before reading memory
    const qint64 memoryAfter = residentBytes();
    figure(QStringLiteral("process-resident-with-session-shown"), double(memoryAfter) / (1 << 20), QStringLiteral("MB"));
    figure(QStringLiteral("resident-growth-for-session"), double(memoryAfter - memoryBefore) / (1 << 20), QStringLiteral("MB"));
    const qint64 renderer = residentBytes(PageProbe::webPage(*viewer->page())->renderProcessPid());
    figure(QStringLiteral("renderer-process-resident"), double(renderer) / (1 << 20), QStringLiteral("MB"));
    line(QStringLiteral("note: the renderer process holds the pages of both windows"));

    for (HVXWindowController *window : HVXWindows::windowControllers())
        window->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    TVLDesktop::install(nullptr);
    return 0;
}
