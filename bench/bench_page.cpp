// Session page figures in the real web engine: the full load of a session of 5,000 exchanges
// (document built, first part loaded and highlighted, every earlier part on the page), one
// exchange appended the incremental way (host side, page side by the page's own clock, and in
// all), and the same append done by a full reload, for the ratio; then a session with text that
// cmark-gfm takes seconds for, shown without holding up the window. Prints "name: value unit"
// lines after describing the corpus.

#include "Halvex/Foundation/HVXDefaults.h"
#include "Tavlo/DataObjects/TVLExchange.h"
#include "Tavlo/DataObjects/TVLSession.h"
#include "Halvex/cmark/HVXMarkDown.h"
#include "Tavlo/Viewer/TVLPageController.h"
#include "Tavlo/Viewer/TVLWebPage.h"
#include "bench/support/TVLBenchFigures.h"
#include "bench/support/TVLBenchPageScript.h"
#include "tests/support/WebEngineEnvironment.h"
#include "bench/support/TVLCorpusGenerator.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTimer>
#include <QUuid>
#include <QWebEngineView>

using namespace TVLBenchFigures;

namespace {

constexpr int kExchanges = 5000;
constexpr int kAppends = 15;

// A prompt and an answer with a paragraph, a list and a code block, as one new exchange.
QByteArray exchangeLines(int number)
{
    const QString prompt = QUuid::createUuid().toString(QUuid::WithoutBraces);
    const QString answer = QUuid::createUuid().toString(QUuid::WithoutBraces);
    const QJsonObject user{{"type", "user"}, {"uuid", prompt}, {"timestamp", "2025-11-03T10:00:00.000Z"},
                           {"message", QJsonObject{{"role", "user"}, {"content", QStringLiteral("Appended prompt %1").arg(number)}}}};
    const QString text = QStringLiteral("Here is step %1:\n\n- read the file\n- change it\n\n```python\ndef step_%1(x):\n"
                                        "    return x * %1\n```\n")
                             .arg(number);
    const QJsonObject assistant{
        {"type", "assistant"}, {"uuid", answer}, {"timestamp", "2025-11-03T10:00:01.000Z"},
        {"message", QJsonObject{{"role", "assistant"}, {"model", "claude-bench"}, {"id", QString("msg_" + answer)},
                                {"content", QJsonArray{QJsonObject{{"type", "text"}, {"text", text}}}},
                                {"usage", QJsonObject{{"input_tokens", 10}, {"output_tokens", 20}}}}}};
    return QJsonDocument(user).toJson(QJsonDocument::Compact) + "\n" + QJsonDocument(assistant).toJson(QJsonDocument::Compact)
           + "\n";
}

void append(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::Append) || file.write(bytes) != bytes.size())
        fail(QStringLiteral("could not append to %1").arg(path));
}

// Waits for the page's load, or its last part, and times it with a round trip that lays the
// page out: the scripts queued after the load (highlighting) have run when it answers.
double timeLoad(TVLPageController &page, const QElapsedTimer &timer, const bool &done, const QString &what)
{
    waitOrFail([&] { return done; }, 300000, what);
    evaluate(page, QStringLiteral("void document.body.offsetHeight; document.querySelectorAll('pre code.hljs').length"));
    return double(timer.nsecsElapsed()) / 1e6;
}

// Full load: from asking for the page to every part of it on the page, laid out and answering.
double timeFullLoad(TVLPageController &page, const std::shared_ptr<TVLSession> &session)
{
    bool loaded = false, allParts = false;
    const auto loads = QObject::connect(&page, &TVLPageController::pageLoaded, [&] { loaded = true; });
    const auto parts = QObject::connect(&page, &TVLPageController::allPartsShown, [&] { allParts = true; });
    QElapsedTimer timer;
    // The renderer starts with the first load when none is running yet: all its time is the load's.
    const qint64 renderer = page.webPage()->renderProcessPid();
    const double rendererCpu = renderer > 0 ? cpuSeconds(renderer) : 0, hostCpu = cpuSeconds();
    timer.start();
    page.displayObject(session);
    const double built = double(timer.nsecsElapsed()) / 1e6;
    const double firstPart = timeLoad(page, timer, loaded, QStringLiteral("the page's load"));
    const double elapsed = timeLoad(page, timer, allParts, QStringLiteral("the page's last part"));
    // CPU time moves less than wall time with what else the machine runs.
    if (renderer <= 0 || page.webPage()->renderProcessPid() == renderer)
        figure(QStringLiteral("full-load-renderer-cpu"), (cpuSeconds(page.webPage()->renderProcessPid()) - rendererCpu) * 1000,
               QStringLiteral("ms"), 0);
    figure(QStringLiteral("full-load-host-cpu"), (cpuSeconds() - hostCpu) * 1000, QStringLiteral("ms"), 0);
    QObject::disconnect(loads);
    QObject::disconnect(parts);
    figure(QStringLiteral("full-load-document-built"), built, QStringLiteral("ms"));
    figure(QStringLiteral("full-load-first-part"), firstPart, QStringLiteral("ms"));
    return elapsed;
}

struct AppendTimes
{
    double host = 0;   // from the update to the script handed to the engine
    double page = 0;   // the page's own clock: replace, append, highlight, layout
    double total = 0;  // from the update to the page laid out again
};

// The page's clock starts when the page's update function is called and stops after a forced
// layout once it is done.
const QString pageClockScript = QStringLiteral(
    "(function(){if(window.__benchWrapped)return;window.__benchWrapped=true;var update=window.replaceLastAndAppend;"
    "window.replaceLastAndAppend=function(){window.__benchStart=performance.now();return update.apply(this,arguments);};})()");
const QString pageStopScript = QStringLiteral(
    "(function(){void document.body.offsetHeight;var t=performance.now()-window.__benchStart;"
    "window.__benchStart=undefined;return t;})()");

AppendTimes timeIncrementalAppend(TVLPageController &page, const std::shared_ptr<TVLSession> &session, int number)
{
    evaluate(page, pageClockScript);
    // A reader in the middle of the page, so the update ends with its scroll.
    evaluate(page, QStringLiteral("window.scrollTo(0, document.body.scrollHeight / 2)"));
    append(session->path(), exchangeLines(number));
    session->updateMessages();

    AppendTimes times;
    bool sent = false;
    const auto connection = QObject::connect(&page, &TVLPageController::incrementalUpdateSent, [&] { sent = true; });
    QElapsedTimer timer;
    timer.start();
    page.sessionDidUpdate(session.get());
    waitOrFail([&] { return sent; }, 60000, QStringLiteral("the incremental update"));
    times.host = double(timer.nsecsElapsed()) / 1e6;
    times.page = evaluate(page, pageStopScript).toDouble();
    times.total = double(timer.nsecsElapsed()) / 1e6;
    QObject::disconnect(connection);
    return times;
}

double timeReloadAppend(TVLPageController &page, const std::shared_ptr<TVLSession> &session, int number)
{
    append(session->path(), exchangeLines(number));
    session->updateMessages();
    bool allParts = false;
    const auto connection = QObject::connect(&page, &TVLPageController::allPartsShown, [&] { allParts = true; });
    QElapsedTimer timer;
    timer.start();
    page.fullReloadSession(session);
    const double elapsed = timeLoad(page, timer, allParts, QStringLiteral("the reloaded page's last part"));
    QObject::disconnect(connection);
    return elapsed;
}

// 240 KB of "![[]()", on which cmark-gfm is quadratic, as the one answer of a session: the time
// cmark-gfm takes for it alone, the page's load with it, and the longest the main thread went
// without handling its events meanwhile.
void hostileTextFigures(const QString &directory)
{
    const QString text = QStringLiteral("![[]()").repeated(40000);
    const QJsonObject user{{"type", "user"}, {"uuid", "hostile-prompt"},
                           {"message", QJsonObject{{"role", "user"}, {"content", "Format this"}}}};
    const QJsonObject answer{{"type", "assistant"}, {"uuid", "hostile-answer"},
                             {"message", QJsonObject{{"role", "assistant"}, {"content", QJsonArray{QJsonObject{{"type", "text"}, {"text", text}}}}}}};
    const QString path = directory + QStringLiteral("/hostile.jsonl");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)
        || file.write(QJsonDocument(user).toJson(QJsonDocument::Compact) + "\n" + QJsonDocument(answer).toJson(QJsonDocument::Compact) + "\n") < 0)
        line(QStringLiteral("warning: could not write %1").arg(path));
    file.close();
    line(QStringLiteral("corpus: one session of one prompt and one answer of %1 KB of \"![[]()\"").arg(text.size() / 1000));

    QElapsedTimer timer;
    timer.start();
    Q_UNUSED(HVXMarkDown::htmlFromMarkdown(text));
    figure(QStringLiteral("hostile-text-cmark-alone"), double(timer.nsecsElapsed()) / 1e6, QStringLiteral("ms"));

    const std::shared_ptr<TVLSession> session = TVLSession::initWithPath(path);
    if (!session) {
        line(QStringLiteral("error: the model did not open %1").arg(path));
        return;
    }
    TVLPageController page;
    page.resize(1000, 800);
    page.show();
    // The engine is started with a page of nothing first: its start is not the text's doing.
    bool loaded = false;
    QObject::connect(&page, &TVLPageController::pageLoaded, [&] { loaded = true; });
    page.fullLoad(QStringLiteral("warm"));
    waitUntil([&] { return loaded; }, 120000);
    loaded = false;
    QElapsedTimer sinceTick;
    double longestStall = 0;
    QTimer ticker;
    ticker.setInterval(5);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longestStall = std::max(longestStall, double(sinceTick.nsecsElapsed()) / 1e6);
        sinceTick.restart();
    });
    sinceTick.start();
    ticker.start();
    timer.restart();
    page.displayObject(session);
    waitUntil([&] { return loaded; }, 120000);
    figure(QStringLiteral("hostile-text-page-load"), double(timer.nsecsElapsed()) / 1e6, QStringLiteral("ms"));
    figure(QStringLiteral("hostile-text-longest-main-thread-stall"), longestStall, QStringLiteral("ms"));
    figure(QStringLiteral("hostile-text-shown-plain"),
           evaluate(page, QStringLiteral("document.querySelectorAll('.format-note').length")).toDouble(), QStringLiteral("blocks"), 0);
}

} // namespace

int main(int argc, char **argv)
{
    prepareWebEngineForHeadlessRuns();
    QApplication app(argc, argv);
    QTemporaryDir work;
    HVXDefaults::useStoreAtPath(work.filePath(QStringLiteral("settings.ini")));
    if (app.arguments().contains(QStringLiteral("--hostile-text-only"))) {
        hostileTextFigures(work.path());
        return 0;
    }

    TVLCorpusGenerator generator;
    TVLCorpusShape shape;
    shape.exchanges = kExchanges;
    shape.maxStepsPerExchange = 3;
    shape.maxToolResultBytes = 8 * 1024;
    shape.hugeLineChance = 0;
    shape.subagents = false;
    shape.compactions = false;
    TVLCorpusStats stats;
    const QString generated = generator.ensureSession(QStringLiteral("page-exchanges-5000"), shape, &stats);
    // Appending changes the file, so the benchmark works on a copy.
    const QString path = work.filePath(QFileInfo(generated).fileName());
    QFile::copy(generated, path);
    line(QStringLiteral("corpus: one generated session of %1 exchanges, %2 lines, %3 (%4)")
             .arg(stats.exchanges)
             .arg(stats.lines)
             .arg(TVLCorpusGenerator::formatSize(stats.sessionBytes), shape.description()));

    const std::shared_ptr<TVLSession> session = TVLSession::initWithPath(path);
    if (!session) {
        line(QStringLiteral("error: the model did not open %1").arg(path));
        return 1;
    }
    TVLPageController page;
    page.resize(1000, 800);
    page.show();

    const double fullLoad = timeFullLoad(page, session);
    // The page as it stands with every part in (the highlighting's markup included).
    figure(QStringLiteral("page-document-bytes"), evaluate(page, QStringLiteral("new Blob([document.documentElement.outerHTML]).size")).toDouble() / (1 << 20), QStringLiteral("MB"), 1);
    figure(QStringLiteral("page-sections"), evaluate(page, QStringLiteral("document.querySelectorAll('.exchange-wrapper').length")).toDouble(), QStringLiteral("exchange sections"), 0);
    figure(QStringLiteral("page-highlighted-blocks"), evaluate(page, QStringLiteral("document.querySelectorAll('pre code.hljs').length")).toDouble(), QStringLiteral("code blocks"), 0);
    figure(QStringLiteral("full-load"), fullLoad, QStringLiteral("ms"));
    figure(QStringLiteral("full-load-sections-made-in-page"),
           evaluate(page, QStringLiteral("(performance.getEntriesByName('tavlo-sections')[0] || {}).duration")).toDouble(), QStringLiteral("ms"));

    std::vector<double> host, pageSide, total;
    for (int i = 0; i < kAppends; ++i) {
        const AppendTimes times = timeIncrementalAppend(page, session, i + 1);
        host.push_back(times.host);
        pageSide.push_back(times.page);
        total.push_back(times.total);
    }
    figure(QStringLiteral("append-incremental-host-median"), median(host), QStringLiteral("ms"));
    figure(QStringLiteral("append-incremental-page-median"), median(pageSide), QStringLiteral("ms"));
    figure(QStringLiteral("append-incremental-total-median"), median(total), QStringLiteral("ms"));
    figure(QStringLiteral("append-incremental-total-worst"), worst(total), QStringLiteral("ms"));

    std::vector<double> reload;
    for (int i = 0; i < 3; ++i)
        reload.push_back(timeReloadAppend(page, session, kAppends + i + 1));
    figure(QStringLiteral("append-full-reload-median"), median(reload), QStringLiteral("ms"));
    figure(QStringLiteral("reload-over-incremental"), median(reload) / std::max(median(total), 0.001), QStringLiteral("x"), 1);
    figure(QStringLiteral("exchanges-at-end"), double(session->exchanges().size()), QStringLiteral("exchanges"), 0);

    hostileTextFigures(work.path());
    return 0;
}
