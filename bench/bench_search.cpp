// Search figures: how soon the first and all outline marks of a text search arrive, on one big
// session and on a log root of 1,000 projects, the first time (every text read from the lines)
// and again (texts kept), and while typing a word letter by letter; how long the main thread is
// held by starting a search; the memory the kept texts take; and, in the real web engine, find
// next and previous in a page of 5,000 exchanges and stepping between tagged exchanges.
//
// Usage: bench_search [--huge] [session|root|page ...]
//   session: a 50 MB session (and, with --huge, a 1 GB session of about 8,000 exchanges)
//   root:    a log root of 1,000 projects and 20,000 small sessions, every project loaded
//   page:    find next/previous and tag navigation in a viewer window
// Prints "name: value unit" lines after describing the corpus.

#include "Halvex/AppKit/HVXWindowController.h"
#include "Halvex/AppKit/HVXWindows.h"
#include "Halvex/Foundation/HVXDefaults.h"
#include "Tavlo/Application/TVLApplication.h"
#include "Tavlo/Application/TVLQtDesktop.h"
#include "Tavlo/DataObjects/TVLExchange.h"
#include "Tavlo/DataObjects/TVLProject.h"
#include "Tavlo/DataObjects/TVLProjectMetadata.h"
#include "Tavlo/DataObjects/TVLRoot.h"
#include "Tavlo/DataObjects/TVLSession.h"
#include "Tavlo/Viewer/TVLPageController.h"
#include "Tavlo/Viewer/TVLSearchEngine.h"
#include "Tavlo/Viewer/TVLViewerSearch.h"
#include "Tavlo/Viewer/TVLViewerViewController.h"
#include "bench/support/TVLBenchFigures.h"
#include "bench/support/TVLCorpusGenerator.h"
#include "tests/support/WebEngineEnvironment.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTimer>

using namespace TVLBenchFigures;

namespace {

double milliseconds(qint64 nanoseconds) { return double(nanoseconds) / 1e6; }

// The longest time the main thread went without handling its events while it was watched: a
// timer asks every millisecond, and every late tick is the main thread busy with something else.
class StallWatch
{
public:
    StallWatch()
    {
        m_timer.setInterval(1);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            m_longest = qMax(m_longest, m_sinceTick.nsecsElapsed());
            m_sinceTick.restart();
        });
        m_sinceTick.start();
        m_timer.start();
    }
    double longestMilliseconds() const { return double(m_longest) / 1e6; }

private:
    QTimer m_timer;
    QElapsedTimer m_sinceTick;
    qint64 m_longest = 0;
};

struct SearchTiming
{
    double mainThread = 0;  // the longest the main thread was held by the search: starting it or taking an answer
    double stall = 0;       // the longest the main thread handled no events, whatever held it (the machine is shared)
    double firstMarks = -1;  // to the first answer with a match; -1 when nothing matched
    double allMarks = 0;    // to the complete answer
    qsizetype matches = 0;
};

SearchTiming timeSearch(TVLSearchEngine &engine, const std::vector<std::shared_ptr<TVLSession>> &sessions,
                        const QString &text, bool caseSensitive = false)
{
    SearchTiming timing;
    bool complete = false;
    QElapsedTimer clock;
    const auto connection = QObject::connect(&engine, &TVLSearchEngine::matchesFound, [&](quint64, const TVLSearchEngine::Matches &matches) {
        if (timing.firstMarks < 0 && !matches.exchangeIds.isEmpty())
            timing.firstMarks = milliseconds(clock.nsecsElapsed());
        if (matches.complete) {
            timing.allMarks = milliseconds(clock.nsecsElapsed());
            timing.matches = matches.exchangeIds.size();
            complete = true;
        }
    });
    StallWatch stalls;
    QCoreApplication::processEvents();
    clock.start();
    engine.search(sessions, TVLSearchQuery::make(text, caseSensitive));
    const double call = milliseconds(clock.nsecsElapsed());
    waitOrFail([&] { return complete; }, 600000, QStringLiteral("the search to complete"));
    timing.mainThread = qMax(call, engine.longestAnswerMilliseconds());
    timing.stall = stalls.longestMilliseconds();
    QObject::disconnect(connection);
    return timing;
}

void printTiming(const QString &name, const SearchTiming &timing)
{
    if (timing.firstMarks < 0)
        line(QStringLiteral("search-first-marks, %1: none (nothing matches)").arg(name));
    else
        figure(QStringLiteral("search-first-marks, %1").arg(name), timing.firstMarks, QStringLiteral("ms"));
    figure(QStringLiteral("search-all-marks, %1").arg(name), timing.allMarks, QStringLiteral("ms"));
    figure(QStringLiteral("search-main-thread, %1").arg(name), timing.mainThread, QStringLiteral("ms"), 2);
    figure(QStringLiteral("search-event-loop-stall, %1").arg(name), timing.stall, QStringLiteral("ms"), 2);
    figure(QStringLiteral("search-matching-exchanges, %1").arg(name), double(timing.matches), QStringLiteral("exchanges"), 0);
}

// Cold, warm and typed searches over the sessions; `label` names the corpus in the figures.
void benchSearches(const QString &label, const std::vector<std::shared_ptr<TVLSession>> &sessions, qint64 transcriptBytes)
{
    const QStringList queries = {QStringLiteral("stale migration"), QStringLiteral("handler"), QStringLiteral("zebra quokka")};
    {
        // The first search reads every text; the ones after it find them kept.
        TVLSearchEngine engine;
        printTiming(QStringLiteral("%1, first search \"%2\"").arg(label, queries[0]), timeSearch(engine, sessions, queries[0]));
        const double textMB = double(engine.index().textBytes()) / (1 << 20);
        figure(QStringLiteral("search-kept-text, %1").arg(label), textMB, QStringLiteral("MB"));
        figure(QStringLiteral("search-kept-text-per-transcript-byte, %1").arg(label),
               double(engine.index().textBytes()) / double(qMax<qint64>(1, transcriptBytes)), QStringLiteral("bytes"), 3);
        for (const QString &query : queries) {
            std::vector<double> first, all, main, stall;
            SearchTiming last;
            for (int run = 0; run < 3; ++run) {
                // A different query each time, so that no run narrows the one before.
                timeSearch(engine, sessions, QStringLiteral("\u0001"));
                last = timeSearch(engine, sessions, query);
                first.push_back(last.firstMarks);
                all.push_back(last.allMarks);
                main.push_back(last.mainThread);
                stall.push_back(last.stall);
            }
            last.firstMarks = median(first);
            last.allMarks = median(all);
            last.mainThread = median(main);
            last.stall = median(stall);
            printTiming(QStringLiteral("%1, again \"%2\", median of 3").arg(label, query), last);
        }
        const SearchTiming caseSensitive = timeSearch(engine, sessions, QStringLiteral("Handler"), true);
        printTiming(QStringLiteral("%1, again case-sensitive \"Handler\"").arg(label), caseSensitive);

        // Typing: each letter narrows the word before it, so only its matches are tested.
        timeSearch(engine, sessions, QStringLiteral("\u0001"));
        const QString word = QStringLiteral("migration");
        std::vector<double> steps;
        double worstMain = 0, worstStall = 0;
        for (qsizetype length = 1; length <= word.size(); ++length) {
            const SearchTiming step = timeSearch(engine, sessions, word.left(length));
            if (length > 1)
                steps.push_back(step.allMarks);
            worstMain = qMax(worstMain, step.mainThread);
            worstStall = qMax(worstStall, step.stall);
        }
        figure(QStringLiteral("search-all-marks, %1, typing \"%2\", median of letters 2-%3").arg(label, word).arg(word.size()),
               median(steps), QStringLiteral("ms"));
        figure(QStringLiteral("search-all-marks, %1, typing \"%2\", worst of letters 2-%3").arg(label, word).arg(word.size()),
               worst(steps), QStringLiteral("ms"));
        figure(QStringLiteral("search-main-thread, %1, typing, worst").arg(label), worstMain, QStringLiteral("ms"), 2);
        figure(QStringLiteral("search-event-loop-stall, %1, typing, worst").arg(label), worstStall, QStringLiteral("ms"), 2);
    }
}

std::shared_ptr<TVLSession> loadSession(const QString &path)
{
    QElapsedTimer clock;
    clock.start();
    auto session = TVLSession::initWithPath(path);
    std::fprintf(stderr, "(read %s in %.1f s)\n", qPrintable(QFileInfo(path).fileName()), double(clock.elapsed()) / 1000);
    return session;
}

std::vector<std::shared_ptr<TVLSession>> sessionsOf(TVLObject *object)
{
    std::vector<std::shared_ptr<TVLSession>> sessions;
    TVLViewerSearch::collectSessions(sessions, object);
    return sessions;
}

void benchSession(TVLCorpusGenerator &generator, const QString &name, const TVLCorpusShape &shape)
{
    TVLCorpusStats stats;
    QElapsedTimer clock;
    clock.start();
    const QString path = generator.ensureSession(name, shape, &stats);
    if (clock.elapsed() > 1000)
        std::fprintf(stderr, "(wrote %s in %.1f s)\n", qPrintable(name), double(clock.elapsed()) / 1000);
    line(QStringLiteral("corpus %1: one generated session of %2 with %3 exchanges and %4 sub-agent files of %5 (%6)")
             .arg(name, TVLCorpusGenerator::formatSize(stats.sessionBytes))
             .arg(stats.exchanges)
             .arg(stats.subagentFiles)
             .arg(TVLCorpusGenerator::formatSize(stats.subagentBytes), shape.description()));
    const auto session = loadSession(path);
    if (!session) {
        fail(QStringLiteral("%1 could not be read").arg(path));
    }
    benchSearches(name, sessionsOf(session.get()), stats.totalBytes());
}

void benchRoot(TVLCorpusGenerator &generator)
{
    const QString directory = QDir(TVLCorpusGenerator::defaultDirectory()).filePath(QStringLiteral("viewer-root/projects"));
    const QString recipe = QStringLiteral("root %1 projects %2 sessions").arg(1000).arg(20000);
    const QString root = TVLCorpusGenerator::ensureDirectory(directory, recipe, [&] { generator.writeRoot(directory, 1000, 20000); });
    line(QStringLiteral("corpus viewer-root: a generated log root of 1,000 project directories holding 20,000 small sessions (%1)").arg(root));
    auto object = TVLRoot::initWithRootDir(root);
    if (!object) {
        fail(QStringLiteral("the root could not be listed"));
    }
    // Every project open, as a reader who expanded them all would have them.
    QElapsedTimer clock;
    clock.start();
    for (const TVLObject::Ptr &child : object->children())
        if (auto *project = dynamic_cast<TVLProject *>(child.get()))
            project->loadIfNeeded();
    std::fprintf(stderr, "(loaded every project in %.1f s)\n", double(clock.elapsed()) / 1000);
    const auto sessions = sessionsOf(object.get());
    qint64 bytes = 0;
    for (const auto &session : sessions)
        bytes += QFileInfo(session->path()).size();
    figure(QStringLiteral("corpus-root-sessions"), double(sessions.size()), QStringLiteral("sessions"), 0);
    benchSearches(QStringLiteral("viewer-root"), sessions, bytes);
}

TVLViewerViewController *present(const QString &path)
{
    return qobject_cast<TVLViewerViewController *>(HVXWindows::presentViewControllerOfClass(
        QString::fromLatin1(TVLViewerViewController::className), {{QStringLiteral("path"), path}}));
}

void benchPage(TVLCorpusGenerator &generator)
{
    TVLCorpusShape shape;
    shape.exchanges = 5000;
    shape.maxStepsPerExchange = 2;
    shape.maxToolResultBytes = 2048;
    shape.hugeLineChance = 0;
    TVLCorpusStats stats;
    const QString path = generator.ensureSession(QStringLiteral("search-page-5000"), shape, &stats);
    line(QStringLiteral("corpus search-page-5000: one generated session of %1 with %2 exchanges (%3)")
             .arg(TVLCorpusGenerator::formatSize(stats.sessionBytes))
             .arg(stats.exchanges)
             .arg(shape.description()));

    // Every 25th exchange carries tag 1, in the project's metadata file before the window opens.
    QJsonObject tags;
    qint64 tagged = 0;
    if (const auto read = TVLSession::initWithPath(path))
        for (size_t i = 0; i < read->exchanges().size(); i += 25, ++tagged)
            tags.insert(read->exchanges()[i]->uuid(), QJsonArray{1});
    QFile metadataFile(QFileInfo(path).absoluteDir().filePath(QStringLiteral("TavloMetaData.json")));
    if (!metadataFile.open(QIODevice::WriteOnly)
        || metadataFile.write(QJsonDocument(QJsonObject{{QStringLiteral("version"), 1}, {QStringLiteral("tags"), tags}}).toJson()) < 0) {
        fail(QStringLiteral("the metadata file could not be written"));
    }
    metadataFile.close();
    figure(QStringLiteral("tag-navigation, search-page-5000, tagged exchanges"), double(tagged), QStringLiteral("exchanges"), 0);

    TVLViewerViewController *viewer = present(path);
    if (!viewer) {
        fail(QStringLiteral("no window"));
    }
    bool loaded = false, allParts = false;
    QObject::connect(viewer->page(), &TVLPageController::pageLoaded, [&] { loaded = true; });
    QObject::connect(viewer->page(), &TVLPageController::allPartsShown, [&] { allParts = true; });
    if (!waitUntil([&] { return loaded; }, 300000)) {
        fail(QStringLiteral("the page did not load"));
    }
    TVLViewerSearch *search = viewer->search();
    search->showFindField();

    int answers = 0, matches = 0;
    QObject::connect(search, &TVLViewerSearch::pageFindFinished, [&](int, int count) {
        ++answers;
        matches = count;
    });
    // Right after the load the page still takes in its earlier parts, and every answer of the
    // page waits behind them ("while parts arrive"); then the same once the page holds them all.
    for (const bool whole : {false, true}) {
        if (whole)
            waitOrFail([&] { return allParts; }, 600000, QStringLiteral("every part of the page"));
        const QString phase = whole ? QStringLiteral("whole page") : QStringLiteral("while parts arrive");
        // Another text first, so that each phase starts with a new find.
        search->setSearchString(QStringLiteral("\u0001"));
        for (const QString &query : {QStringLiteral("stale migration"), QStringLiteral("handler")}) {
            search->setSearchString(query);
            waitOrFail([&] { return !search->isSearching(); }, 60000, QStringLiteral("the search of ") + query);
            std::vector<double> steps;
            double first = 0;
            for (int i = 0; i < 21; ++i) {
                const int before = answers;
                QElapsedTimer clock;
                clock.start();
                search->findWithBackwards(i % 3 == 2);
                waitOrFail([&] { return answers > before; }, 60000, QStringLiteral("the page's find"));
                // The first find of a text looks through the whole page for its matches.
                if (i > 0)
                    steps.push_back(milliseconds(clock.nsecsElapsed()));
                else
                    first = milliseconds(clock.nsecsElapsed());
            }
            const QString name = QStringLiteral("search-page-5000, %1, \"%2\" (%3 matches in the page)").arg(phase, query).arg(matches);
            figure(QStringLiteral("find-first, ") + name, first, QStringLiteral("ms"));
            figure(QStringLiteral("find-next, ") + name + QStringLiteral(", median of 20"), median(steps), QStringLiteral("ms"));
            figure(QStringLiteral("find-next, ") + name + QStringLiteral(", worst of 20"), worst(steps), QStringLiteral("ms"));
        }
    }

    // What a step is made of on the whole page: the page's own time for it, and an empty script's
    // way to the page and back.
    std::vector<double> inPage, fromIdle, roundTrip;
    for (int i = 0; i < 20; ++i) {
        QVariant answer;
        bool answered = false;
        QElapsedTimer clock;
        clock.start();
        viewer->page()->runScript(QStringLiteral("(function () { const t = performance.now(); findInPage('handler', false, false); "
                                                 "return performance.now() - t; })()"),
                                  [&](const QVariant &value) {
                                      answer = value;
                                      answered = true;
                                  });
        waitOrFail([&] { return answered; }, 60000, QStringLiteral("the page's find"));
        fromIdle.push_back(milliseconds(clock.nsecsElapsed()));
        inPage.push_back(answer.toDouble());
        answered = false;
        clock.restart();
        viewer->page()->runScript(QStringLiteral("0"), [&](const QVariant &) { answered = true; });
        waitOrFail([&] { return answered; }, 60000, QStringLiteral("the page's answer"));
        roundTrip.push_back(milliseconds(clock.nsecsElapsed()));
    }
    figure(QStringLiteral("find-next, search-page-5000, whole page, \"handler\", the page's own time, median of 20"), median(inPage),
           QStringLiteral("ms"));
    figure(QStringLiteral("find-next, search-page-5000, whole page, \"handler\", from an idle page to the answer, median of 20"),
           median(fromIdle), QStringLiteral("ms"));
    figure(QStringLiteral("page-round-trip after a find step (the page drawing the new place), search-page-5000, median of 20"),
           median(roundTrip), QStringLiteral("ms"));

    auto session = std::dynamic_pointer_cast<TVLSession>(viewer->page()->displayedObject());
    if (!session) {
        fail(QStringLiteral("no session shown"));
    }
    viewer->setFilterTags(quint64(1) << 1);
    std::vector<double> compute, scrolled;
    for (int i = 0; i < 20; ++i) {
        QElapsedTimer clock;
        clock.start();
        search->findTagWithBackwards(i % 4 == 3);
        compute.push_back(milliseconds(clock.nsecsElapsed()));
        // The scroll script ran once a script sent after it answers.
        bool answered = false;
        viewer->page()->runScript(QStringLiteral("0"), [&](const QVariant &) { answered = true; });
        waitOrFail([&] { return answered; }, 60000, QStringLiteral("the page's answer"));
        scrolled.push_back(milliseconds(clock.nsecsElapsed()));
    }
    line(QStringLiteral("tag-navigation, search-page-5000: ended at exchange %1").arg(search->currentTagMatchIndex()));
    figure(QStringLiteral("tag-navigation, search-page-5000, main thread, median of 20"), median(compute), QStringLiteral("ms"), 2);
    figure(QStringLiteral("tag-navigation, search-page-5000, to scroll started, median of 20"), median(scrolled), QStringLiteral("ms"));
    figure(QStringLiteral("tag-navigation, search-page-5000, to scroll started, worst of 20"), worst(scrolled), QStringLiteral("ms"));
}

} // namespace

int main(int argc, char **argv)
{
    prepareWebEngineForHeadlessRuns();
    QTemporaryDir work;
    HVXDefaults::useStoreAtPath(work.filePath(QStringLiteral("settings.ini")));
    TVLApplication app(argc, argv);
    TVLDesktop::install(std::make_shared<TVLQtDesktop>());

    QStringList parts = app.arguments().mid(1);
    const bool huge = parts.removeAll(QStringLiteral("--huge")) > 0;
    if (parts.isEmpty())
        parts = {QStringLiteral("session"), QStringLiteral("root"), QStringLiteral("page")};

    printLoadAverage();
    TVLCorpusGenerator generator;
    if (parts.contains(QStringLiteral("session"))) {
        TVLCorpusShape shape;
        shape.targetBytes = qint64(50) << 20;
        benchSession(generator, QStringLiteral("search-50M"), shape);
        if (huge) {
            // About 8,000 exchanges in 1 GB: tool results somewhat larger than the default's.
            TVLCorpusShape big;
            big.targetBytes = qint64(1) << 30;
            big.maxToolResultBytes = 140 * 1024;
            benchSession(generator, QStringLiteral("search-1G"), big);
        }
    }
    if (parts.contains(QStringLiteral("root")))
        benchRoot(generator);
    if (parts.contains(QStringLiteral("page")))
        benchPage(generator);

    for (HVXWindowController *window : HVXWindows::windowControllers())
        window->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    TVLDesktop::install(nullptr);
    return 0;
}
