// Library index figures on a generated log root of 200 projects and about 2 GB: the cold build
// of the index, the warm answers of `tavlo usage ROOT --by day` and `tavlo search WORD` as whole
// processes, one appended line reflected in the index, and the index's size against the
// transcripts. The corpus is generated under bench/corpus on first use (or --root DIR).

#include "Tavlo/Index/TVLLibraryIndex.h"
#include "bench/support/TVLBenchFigures.h"
#include "bench/support/TVLCorpusGenerator.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextStream>
#include <sys/resource.h>

namespace {
using TVLBenchFigures::figure;
using TVLBenchFigures::median;

constexpr int kProjects = 200;
constexpr int kSessionsPerProject = 3;
constexpr qint64 kBytesPerProject = 10ll << 20;
// Whole-process timings are a few tens of milliseconds, so the machine's other work shows in
// them: the median of many runs.
constexpr int kProcessRuns = 15;

double cpuSeconds()
{
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

qint64 transcriptBytes(const QString &root, int *files)
{
    qint64 total = 0;
    *files = 0;
    QDirIterator it(root, {QStringLiteral("*.jsonl")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        total += it.nextFileInfo().size();
        ++*files;
    }
    return total;
}

// Each project from a seed of its own, so that no two share model calls.
QString ensureRoot()
{
    const QString directory = QDir(TVLCorpusGenerator::defaultDirectory()).filePath(QStringLiteral("index-root/projects"));
    const QString recipe = QStringLiteral("root of %1 projects, %2 sessions and %3 bytes each, seeds from 20251103 on")
                               .arg(kProjects)
                               .arg(kSessionsPerProject)
                               .arg(kBytesPerProject);
    return TVLCorpusGenerator::ensureDirectory(directory, recipe, [&directory] {
        for (int i = 0; i < kProjects; ++i)
            TVLCorpusGenerator(20251103 + quint64(i)).writeProject(QStringLiteral("%1/-home-bench-src-project%2").arg(directory).arg(i, 3, 10, QLatin1Char('0')),
                                   kSessionsPerProject, kBytesPerProject);
    });
}

// Milliseconds of a whole `tavlo` process, median of `runs`.
double processMilliseconds(const QStringList &arguments, const QString &cacheDir, int runs, QString *output = nullptr)
{
    const QString program = QCoreApplication::applicationDirPath() + QStringLiteral("/../tavlo");
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("TAVLO_CACHE_DIR"), cacheDir);
        process.setProcessEnvironment(environment);
        QElapsedTimer timer;
        timer.start();
        process.start(program, arguments);
        if (!process.waitForFinished(120000))
            TVLBenchFigures::fail(QStringLiteral("tavlo %1 did not finish within 120 s").arg(arguments.join(QLatin1Char(' '))));
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
        if (output)
            *output = QString::fromUtf8(process.readAllStandardOutput());
        if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
            TVLBenchFigures::fail(QStringLiteral("tavlo %1: %2").arg(arguments.join(QLatin1Char(' ')),
                                                                   QString::fromUtf8(process.readAllStandardError())));
    }
    return median(times);
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList arguments = app.arguments().mid(1);
    QString root;
    if (const qsizetype at = arguments.indexOf(QStringLiteral("--root")); at >= 0 && at + 1 < arguments.size())
        root = QFileInfo(arguments.at(at + 1)).absoluteFilePath();
    if (root.isEmpty())
        root = ensureRoot();
    TVLBenchFigures::printLoadAverage();
    int files = 0;
    const qint64 bytes = transcriptBytes(root, &files);
    TVLBenchFigures::line(QStringLiteral("corpus: log root %1: %2 projects, %3 transcript files (sessions and sub-agents), %4 MB")
                              .arg(root)
                              .arg(QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size())
                              .arg(files)
                              .arg(double(bytes) / (1 << 20), 0, 'f', 0));

    QTemporaryDir cache(QDir::tempPath() + QStringLiteral("/tavlo-bench-index-XXXXXX"));
    const QString databasePath = cache.filePath(QStringLiteral("library.sqlite"));
    // The transcripts in the page cache, as after any earlier read of them.
    {
        QDirIterator it(root, {QStringLiteral("*.jsonl")}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            QFile file(it.next());
            if (file.open(QIODevice::ReadOnly))
                while (!file.read(1 << 20).isEmpty()) {
                }
        }
    }

    {
        TVLLibraryIndex index(databasePath);
        QElapsedTimer timer;
        const double cpuBefore = cpuSeconds();
        timer.start();
        const auto result = index.update(root);
        const double seconds = double(timer.nsecsElapsed()) / 1e9;
        const double cpu = cpuSeconds() - cpuBefore;
        figure(QStringLiteral("cold index build"), seconds, QStringLiteral("s"), 2);
        figure(QStringLiteral("cold index build speed"), double(result.bytesRead) / (1 << 20) / seconds, QStringLiteral("MB/s"));
        figure(QStringLiteral("cold index build per CPU second"), double(result.bytesRead) / (1 << 20) / cpu, QStringLiteral("MB/s"));
        figure(QStringLiteral("index rows: usage"), double(index.countRows("usage")), QString(), 0);
        figure(QStringLiteral("index rows: exchanges"), double(index.countRows("exchanges")), QString(), 0);
    }
    qint64 indexBytes = 0;
    for (const QString &name : QDir(cache.path()).entryList(QDir::Files))
        indexBytes += QFileInfo(cache.filePath(name)).size();
    figure(QStringLiteral("index size"), double(indexBytes) / (1 << 20), QStringLiteral("MB"));
    figure(QStringLiteral("index size share of transcript bytes"), 100.0 * double(indexBytes) / double(bytes), QStringLiteral("%"));

    {
        // What a warm command pays before it answers: every file compared with the index.
        TVLLibraryIndex index(databasePath);
        std::vector<double> times;
        for (int i = 0; i < kProcessRuns; ++i) {
            QElapsedTimer timer;
            timer.start();
            if (index.update(root).filesRead != 0)
                TVLBenchFigures::line(QStringLiteral("unexpected: files read on an unchanged root"));
            times.push_back(double(timer.nsecsElapsed()) / 1e6);
        }
        figure(QStringLiteral("update check of the unchanged root, in process, median of %1").arg(kProcessRuns), median(times),
               QStringLiteral("ms"), 2);
    }
    figure(QStringLiteral("process start and exit (tavlo --version), median of %1").arg(kProcessRuns),
           processMilliseconds({QStringLiteral("--version")}, cache.path(), kProcessRuns), QStringLiteral("ms"));
    QString output;
    figure(QStringLiteral("warm tavlo usage ROOT --by day, whole process, median of %1").arg(kProcessRuns),
           processMilliseconds({QStringLiteral("usage"), root, QStringLiteral("--by"), QStringLiteral("day")}, cache.path(), kProcessRuns, &output),
           QStringLiteral("ms"));
    // Rows of the table: the lines that start with a date.
    TVLBenchFigures::line(QStringLiteral("  (%1 days)").arg(output.split(QLatin1Char('\n')).filter(QRegularExpression(QStringLiteral("^\\d{4}-\\d{2}-\\d{2} "))).size()));
    for (const char *word : {"function", "tokenizer"}) {
        figure(QStringLiteral("warm tavlo search %1 ROOT, whole process, median of %2").arg(QLatin1String(word)).arg(kProcessRuns),
               processMilliseconds({QStringLiteral("search"), QLatin1String(word), root}, cache.path(), kProcessRuns, &output),
               QStringLiteral("ms"));
        TVLBenchFigures::line(QStringLiteral("  (%1 results shown)").arg(output.count(QStringLiteral("tvl://"))));
    }

    // One prompt line appended to a session, then the index brought up to date for the root
    // (every file looked at) and for the session alone.
    QString session;
    {
        QDirIterator it(root, {QStringLiteral("*.jsonl")}, QDir::Files);
        QDirIterator projects(root, QDir::Dirs | QDir::NoDotAndDotDot);
        const QString project = projects.next();
        session = QDir(project).entryInfoList({QStringLiteral("*.jsonl")}, QDir::Files).first().absoluteFilePath();
    }
    QFile original(session);
    original.open(QIODevice::ReadOnly);
    const QByteArray before = original.readAll();
    original.close();
    TVLLibraryIndex index(databasePath);
    for (const bool wholeRoot : {true, false}) {
        std::vector<double> times;
        for (int i = 0; i < 20; ++i) {
            QFile file(session);
            file.open(QIODevice::Append);
            file.write(QStringLiteral("{\"type\":\"user\",\"uuid\":\"bench-%1-%2\",\"timestamp\":\"2025-11-30T10:00:00Z\","
                                      "\"message\":{\"role\":\"user\",\"content\":\"appended prompt %2\"}}\n")
                           .arg(wholeRoot)
                           .arg(i)
                           .toUtf8());
            file.close();
            QElapsedTimer timer;
            timer.start();
            const auto result = index.update(wholeRoot ? root : session);
            times.push_back(double(timer.nsecsElapsed()) / 1e6);
            if (result.filesRead != 1)
                TVLBenchFigures::line(QStringLiteral("unexpected: %1 files read").arg(result.filesRead));
        }
        figure(wholeRoot ? QStringLiteral("one appended line reflected, update of the root, median of 20")
                         : QStringLiteral("one appended line reflected, update of its session, median of 20"),
               median(times), QStringLiteral("ms"), 2);
    }
    // The session as it was, and the index with it.
    QFile restore(session);
    restore.open(QIODevice::WriteOnly);
    restore.write(before);
    return 0;
}
