// Painting the browser outline of a log root of 1,000 projects with the tags badges shown: every
// project read and tagged, so that each project row's badge is the OR over all its exchanges.
// Prints "name: value unit" lines after describing the corpus.

#include "Halvex/AppKit/HVXOutlineView.h"
#include "Halvex/AppKit/HVXWindowController.h"
#include "Halvex/AppKit/HVXWindows.h"
#include "Halvex/Foundation/HVXDefaults.h"
#include "Tavlo/Application/TVLApplication.h"
#include "Tavlo/DataObjects/TVLExchange.h"
#include "Tavlo/DataObjects/TVLProject.h"
#include "Tavlo/DataObjects/TVLProjectMetadata.h"
#include "Tavlo/DataObjects/TVLSession.h"
#include "Tavlo/Viewer/TVLOutlineModel.h"
#include "Tavlo/Viewer/TVLViewerViewController.h"
#include "bench/support/TVLBenchFigures.h"
#include "bench/support/TVLCorpusGenerator.h"
#include "tests/support/WebEngineEnvironment.h"

#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QTemporaryDir>

using namespace TVLBenchFigures;

namespace {
constexpr int kPaints = 40;

// A root of its own: the tags written here would otherwise land in another benchmark's corpus.
QString ensureRoot(TVLCorpusGenerator &generator, int projects, int sessions)
{
    const QString directory = QDir(TVLCorpusGenerator::defaultDirectory()).filePath(QStringLiteral("outline-root/projects"));
    const QString recipe = QStringLiteral("root %1 projects %2 sessions").arg(projects).arg(sessions);
    return TVLCorpusGenerator::ensureDirectory(directory, recipe,
                                               [&] { generator.writeRoot(directory, projects, sessions); });
}

// Median milliseconds of painting the outline's rows now, with something done before each paint.
double medianPaint(TVLViewerViewController *viewer, const std::function<void()> &before)
{
    // Into an image, so that the figure is the painting itself, not the window system's part.
    QWidget *viewport = viewer->outlineView()->viewport();
    QImage image(viewport->size(), QImage::Format_ARGB32_Premultiplied);
    std::vector<double> times;
    for (int i = 0; i < kPaints; ++i) {
        before();
        QElapsedTimer clock;
        clock.start();
        viewport->render(&image);
        times.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    return median(times);
}
} // namespace

int main(int argc, char **argv)
{
    prepareWebEngineForHeadlessRuns();
    QTemporaryDir work;
    HVXDefaults::useStoreAtPath(work.filePath(QStringLiteral("settings.ini")));
    TVLCorpusGenerator generator;
    const QString root = ensureRoot(generator, 1000, 20000);

    TVLApplication app(argc, argv);
    auto *viewer = qobject_cast<TVLViewerViewController *>(HVXWindows::presentViewControllerOfClass(
        QString::fromLatin1(TVLViewerViewController::className), {{QStringLiteral("path"), root}}));
    if (!viewer || !waitUntil([&] { return viewer->outlineModel()->rowCount() > 0; }, 60000)) {
        line(QStringLiteral("error: the root window shows no rows"));
        return 1;
    }
    viewer->window()->resize(1200, 900);

    // Every project read, and one tag on the first exchange of each of its sessions.
    QElapsedTimer loadClock;
    loadClock.start();
    qint64 exchanges = 0;
    int tagged = 0;
    int sessions = 0;
    for (const auto &node : viewer->contentObject()->children()) {
        auto *project = dynamic_cast<TVLProject *>(node.get());
        if (!project)
            continue;
        project->loadIfNeeded();
        TVLProjectMetadata *store = project->metadata();
        quint64 tagId = 1 + quint64(tagged % 9);
        for (const auto &child : project->children()) {
            auto *session = dynamic_cast<TVLSession *>(child.get());
            if (session)
                ++sessions;
            if (!session || session->exchanges().empty())
                continue;
            exchanges += qint64(session->exchanges().size());
            if (store && store->tagIdsForMessageId(session->exchanges().front()->uuid()).isEmpty())
                store->addTagIdToMessageId(tagId, session->exchanges().front()->uuid());
            tagId = tagId % 9 + 1;
        }
        ++tagged;
    }
    viewer->outlineModel()->processPendingChanges();
    line(QStringLiteral("corpus: a generated log root of %1 projects, %2 sessions of about 4 KB and %3 exchanges in all "
                         "(%4), every project read, the first exchange of every session tagged; "
                         "read and tagged in %5 s")
             .arg(tagged)
             .arg(sessions)
             .arg(exchanges)
             .arg(root)
             .arg(double(loadClock.elapsed()) / 1000.0, 0, 'f', 1));
    waitUntil([] { return false; }, 500);
    // The rows on screen: those are the ones a paint draws.
    HVXOutlineView *outline = viewer->outlineView();
    int shownRows = 0;
    for (QModelIndex index = outline->indexAt(QPoint(0, 0)); index.isValid() && outline->visualRect(index).top() < outline->viewport()->height();
         index = outline->indexBelow(index))
        ++shownRows;
    figure(QStringLiteral("outline-rows-painted"), shownRows, QStringLiteral("rows"), 0);

    figure(QStringLiteral("outline-paint-with-badges"), medianPaint(viewer, [] {}), QStringLiteral("ms"), 2);
    // A tag change anywhere makes every summary be computed again at the next paint.
    figure(QStringLiteral("outline-paint-with-badges-after-tag-change"),
           medianPaint(viewer, [] { TVLObject::invalidateAllTagSummaries(); }), QStringLiteral("ms"), 2);
    QElapsedTimer summaryClock;
    summaryClock.start();
    TVLObject::invalidateAllTagSummaries();
    const quint16 rootSummary = viewer->contentObject()->tagSummary();
    figure(QStringLiteral("root-tag-summary-computed-anew"), double(summaryClock.nsecsElapsed()) / 1e6, QStringLiteral("ms"), 2);
    line(QStringLiteral("check: the root's summary is 0x%1").arg(rootSummary, 4, 16, QLatin1Char('0')));

    for (HVXWindowController *window : HVXWindows::windowControllers())
        window->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}
