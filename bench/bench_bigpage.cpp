// Big sessions in the real web engine, on sessions shaped like long agent runs (many tool steps,
// long one-line results, screenshots, code-heavy replies, sub-agents):
//   page-first-shown-<size>    from loading the session's project as the viewer does (a big one
//                              read on a worker thread, then taken on the main thread) to the
//                              page answering with its sections laid out; printed with it, the
//                              longest the main thread waited for its events during the load
//   page-all-parts-<size>      the same to the last earlier part of a long page on it (a big
//                              session first shows its newest exchanges and reads the rest
//                              itself: its page is shown again when that is done)
//   append-to-page-<size>      from one exchange appended to the watched file to the page
//                              holding its section, median and worst of a run of appends
//   resident-per-byte-<size>   the process's resident memory with the page shown, per byte of
//                              the session file; also with the page's renderer process added
//   rss-anon-per-byte-<size>, rss-file-per-byte-<size>   the same split into anonymous memory
//                              and file pages (the mapped transcript), from /proc/self/status;
//                              -growth- figures count only what came after the window was up
// With "window", a window on the session file itself instead:
//   window-newest-shown-<size> from opening the session to the page with its newest exchanges,
//                              read from the end of the file while the whole read goes on
//   window-whole-read-<size>   the same to the end of the whole read
// Sizes 3M and 100M, and 1G with --huge (written once under bench/corpus, about 1 GB of disk);
// or the sizes given, in their order (a size may come twice).

#include "Halvex/Foundation/HVXDefaults.h"
#include "Tavlo/DataObjects/TVLChangeHub.h"
#include "Tavlo/DataObjects/TVLExchange.h"
#include "Tavlo/DataObjects/TVLProject.h"
#include "Tavlo/DataObjects/TVLRoot.h"
#include "Tavlo/DataObjects/TVLSession.h"
#include "Tavlo/Viewer/TVLPageController.h"
#include "Tavlo/Viewer/TVLWebPage.h"
#include "bench/support/TVLBenchFigures.h"
#include "bench/support/TVLBenchPageScript.h"
#include "bench/support/TVLCorpusGenerator.h"
#include "tests/support/WebEngineEnvironment.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <QUuid>

#include <algorithm>

#include <unistd.h>

using namespace TVLBenchFigures;

namespace {

// A prompt and a short answer with a code block: one new exchange.
QByteArray exchangeLines(const QString &prompt, int number)
{
    const QString answer = QUuid::createUuid().toString(QUuid::WithoutBraces);
    return QStringLiteral(R"({"type":"user","uuid":"%1","timestamp":"2026-01-01T10:00:00.000Z","message":{"role":"user","content":"Appended prompt %2"}})"
                          "\n"
                          R"({"type":"assistant","uuid":"%3","timestamp":"2026-01-01T10:00:01.000Z","message":{"role":"assistant","model":"claude-bench","id":"msg_%3","content":[{"type":"text","text":"Step %2:\n\n```python\ndef step(x):\n    return x * %2\n```\n"}],"usage":{"input_tokens":10,"output_tokens":20}}})"
                          "\n")
        .arg(prompt)
        .arg(number)
        .arg(answer)
        .toUtf8();
}

// Anonymous memory is what the process holds of its own; file pages are the mapped transcript
// (and the libraries), shared with the page cache. Per byte of the session, for the whole
// process and for what it gained since `before` (the window up, nothing read).
struct Memory
{
    qint64 anon = statusBytes("RssAnon");
    qint64 file = statusBytes("RssFile");
};

void printMemory(const QString &size, qint64 sourceSize, const Memory &before)
{
    const Memory now;
    const double bytes = double(sourceSize);
    figure(QStringLiteral("rss-anon-per-byte-") + size, double(now.anon) / bytes, QStringLiteral("bytes"), 2);
    figure(QStringLiteral("rss-file-per-byte-") + size, double(now.file) / bytes, QStringLiteral("bytes"), 2);
    figure(QStringLiteral("rss-anon-growth-per-byte-") + size, double(now.anon - before.anon) / bytes, QStringLiteral("bytes"), 2);
    figure(QStringLiteral("rss-file-growth-per-byte-") + size, double(now.file - before.file) / bytes, QStringLiteral("bytes"), 2);
}

QString ensureCorpus(TVLCorpusGenerator &generator, qint64 bytes)
{
    const QString size = TVLCorpusGenerator::sizeName(bytes);
    TVLCorpusShape shape;
    shape.targetBytes = bytes;
    shape.realShaped = true;
    TVLCorpusStats stats;
    const QString source = generator.ensureSession(QStringLiteral("bigpage-real-") + size, shape, &stats);
    line(QStringLiteral("corpus: %1, one session of %2 exchanges, %3 lines, %4, largest line %5, %6 sub-agent files (%7)")
             .arg(QStringLiteral("bigpage-real-") + size)
             .arg(stats.exchanges)
             .arg(stats.lines)
             .arg(TVLCorpusGenerator::formatSize(QFileInfo(source).size()), TVLCorpusGenerator::formatSize(stats.largestLine))
             .arg(stats.subagentFiles)
             .arg(shape.description()));
    return source;
}

// A window on the session file itself: its newest exchanges are read from the end of the file
// and shown while the whole file is read on a worker thread.
void benchSessionWindow(TVLCorpusGenerator &generator, qint64 bytes)
{
    const QString size = TVLCorpusGenerator::sizeName(bytes);
    const QString source = ensureCorpus(generator, bytes);
    TVLPageController page;
    page.resize(1000, 800);
    page.show();
    waitUntil([] { return false; }, 300);
    bool loaded = false;
    QObject::connect(&page, &TVLPageController::pageLoaded, [&] { loaded = true; });
    const Memory before;
    QElapsedTimer clock;
    clock.start();
    const auto session = TVLSession::initWithPathInBackground(source);
    const double newestRead = double(clock.nsecsElapsed()) / 1e6;
    page.setPendingScrollToBottom(true);
    page.displayObject(session);
    waitUntil([&] { return loaded; }, 600000);
    const int sections = evaluate(page, QStringLiteral("void document.body.offsetHeight;"
                                                       "document.querySelectorAll('.exchange-wrapper').length"))
                             .toInt();
    figure(QStringLiteral("window-newest-shown-") + size, double(clock.nsecsElapsed()) / 1e6, QStringLiteral("ms"));
    line(QStringLiteral("  of which reading the newest exchanges %1 ms; %2 sections on the page, still loading: %3")
             .arg(newestRead, 0, 'f', 1)
             .arg(sections)
             .arg(session->isLoading() ? QStringLiteral("yes") : QStringLiteral("no")));
    waitUntil([&] { return !session->isLoading(); }, 600000);
    figure(QStringLiteral("window-whole-read-") + size, double(clock.nsecsElapsed()) / 1e6, QStringLiteral("ms"));
    line(QStringLiteral("  %1 exchanges read").arg(session->exchanges().size()));
    waitUntil([] { return false; }, 1000);
    printMemory(size, QFileInfo(source).size(), before);
}

void benchSize(TVLCorpusGenerator &generator, qint64 bytes, int appends)
{
    const QString size = TVLCorpusGenerator::sizeName(bytes);
    const QString source = ensureCorpus(generator, bytes);
    const qint64 sourceSize = QFileInfo(source).size();

    // A watched root around the corpus file: a hard link to it (no copy of a gigabyte) and a link
    // to its sub-agent folder. The appends go into the corpus file and are cut off at the end.
    QTemporaryDir rootDirectory(TVLCorpusGenerator::defaultDirectory() + QStringLiteral("/live-XXXXXX"));
    const QString project = rootDirectory.filePath(QStringLiteral("-home-dev-src-bigpage"));
    QDir().mkpath(project);
    const QString session = project + QLatin1Char('/') + QFileInfo(source).fileName();
    const QString folder = QFileInfo(source).absolutePath() + QLatin1Char('/') + QFileInfo(source).completeBaseName();
    if (::link(QFile::encodeName(source).constData(), QFile::encodeName(session).constData()) != 0
        || !QFile::link(folder, project + QLatin1Char('/') + QFileInfo(source).completeBaseName())) {
        fail(QStringLiteral("cannot link the corpus into %1").arg(project));
    }

    TVLPageController page;
    page.resize(1000, 800);
    page.show();
    waitUntil([] { return false; }, 300);
    const Memory before;
    const auto root = TVLRoot::initWithRootDir(rootDirectory.path());
    const auto node = root->projectLookup().value(project);
    bool loaded = false, allParts = false;
    double allPartsAt = 0;
    QElapsedTimer clock, beat;
    QObject::connect(&page, &TVLPageController::pageLoaded, [&] { loaded = true; });
    QObject::connect(&page, &TVLPageController::allPartsShown, [&] {
        allParts = true;
        allPartsAt = double(clock.nsecsElapsed()) / 1e6;
    });

    // The viewer's way: a big project is read on a worker thread while the window goes on; a
    // short timer measures how long the main thread was kept from its events meanwhile.
    double longestStall = 0;
    QTimer heartbeat;
    heartbeat.setInterval(5);
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        longestStall = std::max(longestStall, double(beat.nsecsElapsed()) / 1e6);
        beat.restart();
    });
    clock.start();
    beat.start();
    heartbeat.start();
    node->loadInBackground();
    const bool inBackground = node->isLoading();
    // Waited for in an event loop, as the window waits: a polling wait would take a core from
    // the read.
    if (inBackground) {
        QEventLoop waiting;
        QObject::connect(&TVLChangeHub::shared(), &TVLChangeHub::changed, &waiting, [&](TVLObject *object, TVLProperty) {
            if (object == node.get() && node->isLoaded() && !node->isLoading())
                waiting.quit();
        });
        waiting.exec();
    }
    heartbeat.stop();
    longestStall = std::max(longestStall, double(beat.nsecsElapsed()) / 1e6);
    const auto model = node->sessionLookup().value(session);
    const double modelRead = double(clock.nsecsElapsed()) / 1e6;
    page.setPendingScrollToBottom(true);
    page.displayObject(model);
    const double handedOver = double(clock.nsecsElapsed()) / 1e6;
    waitOrFail([&] { return loaded; }, 600000, QStringLiteral("the page's load"));
    // Answered once the page has its sections and has laid them out.
    const int sections = evaluate(page, QStringLiteral("void document.body.offsetHeight;"
                                                       "document.querySelectorAll('.exchange-wrapper').length"))
                             .toInt();
    figure(QStringLiteral("page-first-shown-") + size, double(clock.nsecsElapsed()) / 1e6, QStringLiteral("ms"));
    line(QStringLiteral("  of which the model's read (of the newest exchanges, when the session reads the rest itself) %1 ms, the page handed to the engine at %2 ms; %3 sections "
                        "on the page then, of %4 exchanges")
             .arg(modelRead, 0, 'f', 1)
             .arg(handedOver, 0, 'f', 1)
             .arg(sections)
             .arg(model->exchanges().size()));
    line(QStringLiteral("  read %1; longest wait of the main thread for its events during the read %2 ms")
             .arg(inBackground ? QStringLiteral("in the background")
                               : model->isLoading() ? QStringLiteral("from the newest exchanges, the rest by the session")
                                                    : QStringLiteral("at once (under the threshold)"))
             .arg(longestStall, 0, 'f', 1));
    // A session read from its newest exchanges reads the rest on its own; its page is shown
    // again once that is done, as the viewer does.
    if (model->isLoading()) {
        QEventLoop waiting;
        QObject::connect(&TVLChangeHub::shared(), &TVLChangeHub::changed, &waiting, [&](TVLObject *object, TVLProperty) {
            if (object == model.get() && !model->isLoading())
                waiting.quit();
        });
        if (model->isLoading())
            waiting.exec();
        line(QStringLiteral("  the session's whole read done at %1 ms, %2 exchanges")
                 .arg(double(clock.nsecsElapsed()) / 1e6, 0, 'f', 1)
                 .arg(model->exchanges().size()));
        waitOrFail([&] { return allParts; }, 600000, QStringLiteral("the first page's last part"));
        allParts = false;
        page.setPendingScrollToBottom(true);
        page.displayObject(model);
    }
    waitOrFail([&] { return allParts; }, 600000, QStringLiteral("the page's last part"));
    figure(QStringLiteral("page-all-parts-") + size, allPartsAt, QStringLiteral("ms"));
    line(QStringLiteral("  sections on the page: %1")
             .arg(evaluate(page, QStringLiteral("document.querySelectorAll('.exchange-wrapper').length")).toInt()));

    waitUntil([] { return false; }, 1000);
    const double host = double(residentBytes());
    const double renderer = double(residentBytes(page.webPage()->renderProcessPid()));
    figure(QStringLiteral("resident-per-byte-") + size, host / double(sourceSize), QStringLiteral("bytes"), 2);
    figure(QStringLiteral("resident-with-renderer-per-byte-") + size, (host + renderer) / double(sourceSize),
           QStringLiteral("bytes"), 2);
    line(QStringLiteral("  process %1 MB, renderer %2 MB").arg(host / (1 << 20), 0, 'f', 0).arg(renderer / (1 << 20), 0, 'f', 0));
    printMemory(size, sourceSize, before);

    root->startMonitoring();
    waitUntil([] { return false; }, 500);
    std::vector<double> delays;
    for (int i = 0; i < appends; ++i) {
        const QString prompt = QUuid::createUuid().toString(QUuid::WithoutBraces);
        const QByteArray lines = exchangeLines(prompt, i);
        // The prompt's message, found by id: a search of a page this long would cost more than the update.
        const QString probe = QStringLiteral("!!document.getElementById('%1')").arg(prompt);
        QElapsedTimer timer;
        QFile file(session);
        if (!file.open(QIODevice::Append))
            break;
        timer.start();
        file.write(lines);
        file.close();
        waitOrFail([&] { return evaluate(page, probe, 10000).toBool(); }, 10000, QStringLiteral("an appended exchange on the page"));
        delays.push_back(double(timer.nsecsElapsed()) / 1e6);
        // A quiet spell, so that every append is the first event after one, as a reader's are.
        waitUntil([] { return false; }, 400);
    }
    root->stopMonitoring();
    if (!delays.empty()) {
        figure(QStringLiteral("append-to-page-") + size + QStringLiteral(", median"), median(delays), QStringLiteral("ms"));
        figure(QStringLiteral("append-to-page-") + size + QStringLiteral(", worst"), worst(delays), QStringLiteral("ms"));
    }
    line(QStringLiteral("  %1 of %2 appends reached the page").arg(delays.size()).arg(appends));
    // The corpus file is the session: it goes back to what the generator wrote.
    QFile::resize(source, sourceSize);
}

} // namespace

int main(int argc, char **argv)
{
    prepareWebEngineForHeadlessRuns();
    QApplication app(argc, argv);
    QTemporaryDir work;
    HVXDefaults::useStoreAtPath(work.filePath(QStringLiteral("settings.ini")));
    const QStringList args = app.arguments().mid(1);
    TVLCorpusGenerator generator;
    std::vector<qint64> sizes{qint64(3) << 20, qint64(100) << 20};
    if (args.contains(QStringLiteral("--huge")))
        sizes.push_back(qint64(1) << 30);
    std::vector<qint64> given;
    for (const QString &arg : args)
        if (const qint64 bytes = TVLCorpusGenerator::parseSize(arg); bytes > 0)
            given.push_back(bytes);
    if (!given.empty())
        sizes = given;
    const bool window = args.contains(QStringLiteral("window"));
    for (const qint64 bytes : sizes) {
        if (window)
            benchSessionWindow(generator, bytes);
        else
            benchSize(generator, bytes, 20);
    }
    return 0;
}
