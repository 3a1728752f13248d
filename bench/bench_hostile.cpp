// Commands on a hostile log root: how long `tavlo tree`, `usage ROOT --by day`, `search` and
// `export` take, and the memory the process holds after each (RssAnon and RssFile apart, and the
// peak), on a root of pipes, device links, a 1 TB sparse file, a metadata link, terminal escapes
// and counts past 64 bits (tests/support/HostileRoot.h). Each command runs 3 times; the figures
// are the slowest run and the memory after the last.
//
// Usage: bench_hostile
// Prints "name: value unit" lines after describing the corpus.

#include "Halvex/Foundation/HVXDefaults.h"
#include "Tavlo/Application/TVLCommandLine.h"
#include "bench/support/TVLBenchFigures.h"
#include "tests/support/HostileRoot.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>

namespace {
// A field of /proc/self/status in bytes (RssAnon, RssFile, VmHWM).
qint64 statusBytes(const QByteArray &field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &entry : status.readAll().split('\n'))
        if (entry.startsWith(QByteArray(field + ':')))
            return entry.mid(field.size() + 1).trimmed().split(' ').value(0).toLongLong() * 1024;
    return -1;
}

void quiet(QtMsgType, const QMessageLogContext &, const QString &) {}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    HVXDefaults::useStoreAtPath(dir.filePath(QStringLiteral("settings.ini")));
    qputenv("TAVLO_CACHE_DIR", QFile::encodeName(dir.filePath(QStringLiteral("cache"))));
    const QString root = dir.filePath(QStringLiteral("projects"));
    if (!HostileRoot::make(root, dir.filePath(QStringLiteral("victim.json"))))
        qFatal("can't make the hostile root");
    const QString hostile = root + QStringLiteral("/-home-u-hostile");
    TVLBenchFigures::line(QStringLiteral("corpus: the hostile root of tests/support/HostileRoot.h (3 projects; a FIFO, a link "
                                         "to /dev/zero and a 1 TB sparse file as sessions, metadata as a link, a FIFO and "
                                         "/dev/zero), 3 runs of each command in one process"));
    // Every refused file logs a line per run; the figures are what is wanted here.
    qInstallMessageHandler(quiet);
    const struct
    {
        const char *name;
        QStringList arguments;
    } commands[] = {
        {"tree", {QStringLiteral("tree"), root}},
        {"usage_by_day", {QStringLiteral("usage"), root, QStringLiteral("--by"), QStringLiteral("day")}},
        {"search", {QStringLiteral("search"), QStringLiteral("C++"), root}},
        {"export", {QStringLiteral("export"), hostile + QStringLiteral("/plain.jsonl"), QStringLiteral("-o"), dir.filePath("out.html")}},
        {"export_fifo", {QStringLiteral("export"), hostile + QStringLiteral("/pipe.jsonl"), QStringLiteral("-o"), dir.filePath("fifo.html")}},
    };
    for (const auto &command : commands) {
        std::vector<double> seconds;
        for (int run = 0; run < 3; ++run) {
            QString out, err;
            QTextStream outStream(&out), errStream(&err);
            QElapsedTimer timer;
            timer.start();
            TVLCommandLine::run(command.arguments, outStream, errStream);
            seconds.push_back(double(timer.nsecsElapsed()) / 1e9);
        }
        const QString name = QString::fromLatin1(command.name);
        TVLBenchFigures::figure(name + QStringLiteral("_slowest"), TVLBenchFigures::worst(seconds) * 1000, QStringLiteral("ms"));
        TVLBenchFigures::figure(name + QStringLiteral("_rss_anon"), double(statusBytes("RssAnon")) / (1 << 20), QStringLiteral("MB"));
        TVLBenchFigures::figure(name + QStringLiteral("_rss_file"), double(statusBytes("RssFile")) / (1 << 20), QStringLiteral("MB"));
    }
    TVLBenchFigures::figure(QStringLiteral("peak_rss"), double(statusBytes("VmHWM")) / (1 << 20), QStringLiteral("MB"));
    return 0;
}
