// Library tree figures: listing a large log root without reading transcripts, loading a large
// project (worker threads against one thread), and the delay from an appended line to the
// model's update while a root is watched. Prints "name: value unit" lines after describing the
// corpus. The corpus is generated deterministically under bench/corpus on first use.

#include "Halvex/Foundation/HVXDefaults.h"
#include "Tavlo/DataObjects/TVLChangeHub.h"
#include "Tavlo/DataObjects/TVLExchange.h"
#include "Tavlo/DataObjects/TVLProject.h"
#include "Tavlo/DataObjects/TVLRoot.h"
#include "Tavlo/DataObjects/TVLSession.h"
#include "bench/support/TVLBenchFigures.h"
#include "bench/support/TVLCorpusGenerator.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <QTimer>
#include <QUuid>
#include <algorithm>
#include <cstdio>

namespace {
QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

// Small figures get one more decimal.
void figure(const QString &name, double value, const QString &unit)
{
    out().flush();
    TVLBenchFigures::figure(name, value, unit, value < 10 ? 2 : 1);
}

// Bytes this process has read through read(2) and friends so far (Linux); -1 elsewhere.
qint64 bytesReadSoFar()
{
    QFile io(QStringLiteral("/proc/self/io"));
    if (!io.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : io.readAll().split('\n'))
        if (line.startsWith("rchar:"))
            return line.mid(6).trimmed().toLongLong();
    return -1;
}

using TVLBenchFigures::fail;
using TVLBenchFigures::median;

QString ensureRoot(TVLCorpusGenerator &generator, int projects, int sessions)
{
    const QString directory = QDir(TVLCorpusGenerator::defaultDirectory()).filePath(QStringLiteral("library-root/projects"));
    const QString recipe = QStringLiteral("root %1 projects %2 sessions 4096 bytes").arg(projects).arg(sessions);
    return TVLCorpusGenerator::ensureDirectory(directory, recipe,
                                               [&] { generator.writeRoot(directory, projects, sessions); });
}

QString ensureProject(TVLCorpusGenerator &generator, int sessions, qint64 bytes)
{
    const QString directory = QDir(TVLCorpusGenerator::defaultDirectory()).filePath(QStringLiteral("library-project/-bench-big-project"));
    const QString recipe = QStringLiteral("project %1 sessions %2 bytes").arg(sessions).arg(bytes);
    return TVLCorpusGenerator::ensureDirectory(directory, recipe,
                                               [&] { generator.writeProject(directory, sessions, bytes); });
}

qint64 directoryBytes(const QString &directory, int *files)
{
    qint64 total = 0;
    *files = 0;
    for (const QFileInfo &entry : QDir(directory).entryInfoList({QStringLiteral("*.jsonl")}, QDir::Files)) {
        total += entry.size();
        ++*files;
    }
    return total;
}

void benchListing(TVLCorpusGenerator &generator)
{
    const int projects = 1000, sessions = 20000;
    const QString root = ensureRoot(generator, projects, sessions);
    out() << "corpus: log root of " << projects << " project directories with " << sessions
          << " session files of about 4 KB (every 40th project with a subproject directory), " << root << "\n";

    std::vector<double> times;
    qint64 transcriptBytesRead = 0;
    // Reading /proc/self/io is itself a read: what one probe costs is taken off each figure.
    const qint64 probeStart = bytesReadSoFar();
    const qint64 probeCost = bytesReadSoFar() - probeStart;
    int listed = 0, loaded = 0;
    for (int run = 0; run < 6; ++run) {
        const qint64 readBefore = bytesReadSoFar();
        QElapsedTimer timer;
        timer.start();
        const auto logRoot = TVLRoot::initWithRootDir(root);
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
        transcriptBytesRead = std::max(transcriptBytesRead, bytesReadSoFar() - readBefore - probeCost);
        listed = int(logRoot->children().size());
        for (const auto &project : logRoot->projectLookup())
            loaded += project->isLoaded() || !project->sessionLookup().isEmpty() ? 1 : 0;
    }
    out() << "listing: " << listed << " projects listed, " << loaded << " loaded\n";
    figure(QStringLiteral("list root, first run"), times.front(), QStringLiteral("ms"));
    figure(QStringLiteral("list root, median of next 5"), median({times.begin() + 1, times.end()}), QStringLiteral("ms"));
    // Everything read(2) returned while listing, the probe's own read taken off: metadata files
    // and settings would count here, and so would any transcript byte.
    figure(QStringLiteral("list root, bytes read by the process"), double(transcriptBytesRead), QStringLiteral("bytes"));
}

void benchProjectLoad(TVLCorpusGenerator &generator)
{
    const int sessions = 300;
    const qint64 bytes = qint64(100) << 20;
    const QString directory = ensureProject(generator, sessions, bytes);
    int files = 0;
    const qint64 onDisk = directoryBytes(directory, &files);
    out() << "corpus: project of " << files << " sessions, " << QString::number(double(onDisk) / (1 << 20), 'f', 1)
          << " MB of transcripts (plus sub-agent folders), " << directory << "\n";
    out() << "threads: " << QThread::idealThreadCount() << "\n";

    // Warm the page cache so both ways read from memory.
    TVLProject::initWithRootDir(directory)->loadIfNeeded();

    std::vector<double> parallel, sequential;
    size_t parallelExchanges = 0, sequentialExchanges = 0;
    for (int run = 0; run < 3; ++run) {
        QElapsedTimer timer;
        timer.start();
        const auto project = TVLProject::initWithRootDir(directory);
        project->loadIfNeeded();
        parallel.push_back(double(timer.nsecsElapsed()) / 1e6);
        parallelExchanges = 0;
        for (const auto &session : project->sessionLookup())
            parallelExchanges += session->exchanges().size();

        timer.restart();
        std::vector<std::shared_ptr<TVLSession>> alone;
        for (const QFileInfo &entry : QDir(directory).entryInfoList(QDir::Files | QDir::Hidden, QDir::Unsorted))
            if (entry.suffix() == QLatin1String("jsonl"))
                if (auto session = TVLSession::initWithPath(entry.filePath()))
                    alone.push_back(std::move(session));
        sequential.push_back(double(timer.nsecsElapsed()) / 1e6);
        sequentialExchanges = 0;
        for (const auto &session : alone)
            sequentialExchanges += session->exchanges().size();
    }
    out() << "load check: " << parallelExchanges << " exchanges loaded, " << sequentialExchanges
          << " read one after the other\n";
    const double p = median(parallel), s = median(sequential);
    figure(QStringLiteral("load project of 300 sessions"), p, QStringLiteral("ms"));
    figure(QStringLiteral("read the same sessions one after the other"), s, QStringLiteral("ms"));
    figure(QStringLiteral("load speed-up"), s / p, QStringLiteral("x"));
}

void benchLiveUpdate(TVLCorpusGenerator &generator)
{
    TVLCorpusShape shape;
    shape.targetBytes = qint64(20) << 20;
    TVLCorpusStats stats;
    const QString source = generator.ensureSession(QStringLiteral("library-live-20M"), shape, &stats);

    QTemporaryDir temp;
    const QString root = temp.filePath(QStringLiteral("projects"));
    const QString project = root + QStringLiteral("/-bench-live");
    QDir().mkpath(project);
    const QString session = project + QStringLiteral("/live.jsonl");
    QFile::copy(source, session);
    out() << "corpus: one session of " << QString::number(double(QFileInfo(session).size()) / (1 << 20), 'f', 1)
          << " MB in a watched root; 100 prompt lines appended one at a time\n";

    const auto logRoot = TVLRoot::initWithRootDir(root);
    const auto node = logRoot->projectLookup().value(project);
    node->loadIfNeeded();
    const auto model = node->sessionLookup().value(session);
    logRoot->startMonitoring();

    QObject context;
    QString expectedUuid;
    QEventLoop loop;
    QObject::connect(&TVLChangeHub::shared(), &TVLChangeHub::sessionDidUpdate, &context, [&](const TVLSession *updated) {
        if (updated == model.get() && !model->exchanges().empty() && model->exchanges().back()->uuid() == expectedUuid)
            loop.quit();
    });

    std::vector<double> delays;
    for (int i = 0; i < 100; ++i) {
        expectedUuid = QUuid::createUuid().toString(QUuid::WithoutBraces);
        const QByteArray line = QStringLiteral(R"({"type":"user","uuid":"%1","timestamp":"2025-06-01T10:00:%2.000Z",)"
                                               R"("message":{"role":"user","content":"Appended prompt number %3"}})")
                                    .arg(expectedUuid)
                                    .arg(i % 60, 2, 10, QLatin1Char('0'))
                                    .arg(i)
                                    .toUtf8()
                                + '\n';
        bool timedOut = false;
        QTimer timeout;
        timeout.setSingleShot(true);
        QObject::connect(&timeout, &QTimer::timeout, &loop, [&] {
            timedOut = true;
            loop.quit();
        });
        QElapsedTimer timer;
        QFile file(session);
        file.open(QIODevice::Append);
        timer.start();
        file.write(line);
        file.close();
        timeout.start(10000);
        loop.exec();
        if (timedOut)
            fail(QStringLiteral("append %1 did not reach the model within 10 s").arg(i + 1));
        delays.push_back(double(timer.nsecsElapsed()) / 1e6);
        // A quiet spell longer than the watcher's latency, so each append is its own batch and,
        // like a reader's live session, delivered at once.
        QEventLoop settle;
        QTimer::singleShot(150, &settle, &QEventLoop::quit);
        settle.exec();
    }
    logRoot->stopMonitoring();
    out() << "live check: 100 of 100 appends reached the model, " << model->exchanges().size()
          << " exchanges at the end\n";
    figure(QStringLiteral("append to model update, median"), median(delays), QStringLiteral("ms"));
    figure(QStringLiteral("append to model update, worst"), *std::max_element(delays.begin(), delays.end()),
           QStringLiteral("ms"));
}
// What one appended line costs the model, without the watcher's batching, as sessions grow:
// the re-read after the append, median of 20 appends.
void benchAppendCostBySize(TVLCorpusGenerator &generator, bool huge)
{
    std::vector<qint64> sizes{qint64(20) << 20, qint64(100) << 20};
    if (huge)
        sizes.push_back(qint64(1) << 30);
    for (const qint64 size : sizes) {
        TVLCorpusShape shape;
        shape.targetBytes = size;
        TVLCorpusStats stats;
        const QString name = TVLCorpusGenerator::sizeName(size);
        const QString source = generator.ensureSession(QStringLiteral("library-append-") + name, shape, &stats);
        QTemporaryDir temp;
        const QString session = temp.filePath(QStringLiteral("append.jsonl"));
        QFile::copy(source, session);
        const auto model = TVLSession::initWithPath(session);
        std::vector<double> costs;
        for (int i = 0; i < 20; ++i) {
            QFile file(session);
            file.open(QIODevice::Append);
            file.write(QStringLiteral(R"({"type":"user","uuid":"append-%1","timestamp":"2025-06-01T10:00:00.000Z",)"
                                      R"("message":{"role":"user","content":"Appended prompt %1"}})"
                                      "\n")
                           .arg(i)
                           .toUtf8());
            file.close();
            QElapsedTimer timer;
            timer.start();
            model->updateMessages();
            costs.push_back(double(timer.nsecsElapsed()) / 1e6);
        }
        out() << "corpus: one session of " << QString::number(double(QFileInfo(session).size()) / (1 << 20), 'f', 1)
              << " MB, " << model->exchanges().size() << " exchanges after 20 appended prompts\n";
        figure(QStringLiteral("re-read after one appended line, %1 session, median").arg(name), median(costs),
               QStringLiteral("ms"));
    }
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir settings;
    HVXDefaults::useStoreAtPath(settings.filePath(QStringLiteral("settings.ini")));
    TVLCorpusGenerator generator;
    QStringList only = app.arguments().mid(1);
    const bool huge = only.removeAll(QStringLiteral("--huge")) > 0;
    auto wanted = [&](const char *name) { return only.isEmpty() || only.contains(QLatin1String(name)); };
    if (wanted("listing"))
        benchListing(generator);
    if (wanted("load"))
        benchProjectLoad(generator);
    if (wanted("live"))
        benchLiveUpdate(generator);
    if (wanted("append"))
        benchAppendCostBySize(generator, huge);
    return 0;
}
