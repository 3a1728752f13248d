// Transcript model figures, one "name: value unit" line each, the corpus first:
//   - reading a 50 MB session into the model, against simdjson's DOM parser on the same lines;
//   - re-reading it unchanged, against reading the file;
//   - memory held per transcript byte after loading;
//   - the session's Markdown and its conversion to HTML;
//   - token totals of a 10,000-exchange session, first and after an invalidation;
//   - how reading grows with the session: 1 MB, 10 MB, 100 MB (and 1 GB with --huge).
// The corpus is written deterministically under bench/corpus on first use and reused after.
// Usage: bench_model [--huge] [read|reread|memory|markdown|tokens|scaling ...]

#include "Halvex/Foundation/HVXDefaults.h"
#include "Halvex/cmark/HVXMarkDown.h"
#include "Tavlo/DataObjects/TVLExchange.h"
#include "Tavlo/DataObjects/TVLSession.h"
#include "Tavlo/DataObjects/TVLSubagent.h"
#include "bench/support/TVLBenchFigures.h"
#include "bench/support/TVLCorpusGenerator.h"

#include <simdjson.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace {

constexpr double kMegabyte = 1024.0 * 1024.0;

using TVLBenchFigures::figure;
using TVLBenchFigures::residentBytes;
using TVLBenchFigures::statusBytes;

double megabytes(qint64 bytes) { return double(bytes) / kMegabyte; }

// Wall-clock and process CPU seconds of one run of `work`.
struct Timing
{
    double wall = 0;
    double cpu = 0;
};

Timing timeOnce(const std::function<void()> &work)
{
    QElapsedTimer timer;
    const std::clock_t cpuStart = std::clock();
    timer.start();
    work();
    Timing timing;
    timing.wall = double(timer.nsecsElapsed()) / 1e9;
    timing.cpu = double(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    return timing;
}

// The fastest of `runs` runs: the machine is shared, so slower runs measure the neighbours.
Timing best(int runs, const std::function<void()> &work)
{
    Timing fastest = timeOnce(work);
    for (int i = 1; i < runs; ++i) {
        const Timing t = timeOnce(work);
        if (t.wall < fastest.wall)
            fastest = t;
    }
    return fastest;
}

// Heap bytes in use: malloc's arenas plus its mmap'd blocks (glibc); resident set size elsewhere.
qint64 heapInUse()
{
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 33))
    const struct mallinfo2 info = mallinfo2();
    return qint64(info.uordblks + info.hblkhd);
#else
    return -1;
#endif
}


QStringList subagentFiles(const QString &sessionPath)
{
    const QFileInfo info(sessionPath);
    const QDir dir(info.absolutePath() + QLatin1Char('/') + info.completeBaseName() + QStringLiteral("/subagents"));
    QStringList paths;
    for (const QString &name : dir.entryList({QStringLiteral("*.jsonl")}, QDir::Files, QDir::Name))
        paths << dir.filePath(name);
    return paths;
}

qint64 fileBytes(const QStringList &paths)
{
    qint64 total = 0;
    for (const QString &path : paths)
        total += QFileInfo(path).size();
    return total;
}

// Everything the model reads for a session: the file and every sub-agent transcript beside it.
QStringList filesOfSession(const QString &path) { return QStringList{path} + subagentFiles(path); }

// The bytes of the transcripts the loaded model keeps: the session and its visible sub-agents
// (compaction transcripts are read, credited and dropped).
qint64 keptBytes(TVLSession &session)
{
    qint64 bytes = QFileInfo(session.path()).size();
    for (const auto &subagent : session.subagents())
        bytes += keptBytes(*subagent);
    return bytes;
}

// simdjson's DOM parser over every line of the files, nothing else. The files are read into
// padded buffers first, outside the timing.
double simdjsonSpeed(const QStringList &paths, qint64 bytes)
{
    std::vector<simdjson::padded_string> files;
    for (const QString &path : paths) {
        auto loaded = simdjson::padded_string::load(path.toStdString());
        if (loaded.error()) {
            std::fprintf(stderr, "simdjson cannot load %s\n", qPrintable(path));
            return 0;
        }
        files.push_back(std::move(loaded).value_unsafe());
    }
    simdjson::dom::parser parser;
    size_t failures = 0;
    const Timing timing = best(3, [&] {
        for (const simdjson::padded_string &file : files) {
            const char *data = file.data();
            const char *end = data + file.size();
            while (data < end) {
                const char *newline = static_cast<const char *>(std::memchr(data, '\n', size_t(end - data)));
                const char *lineEnd = newline ? newline : end;
                if (lineEnd > data) {
                    // The following lines (or the buffer's padding) are the padding simdjson reads past the line.
                    simdjson::dom::element element;
                    if (parser.parse(data, size_t(lineEnd - data), false).get(element))
                        ++failures;
                }
                data = lineEnd + 1;
            }
        }
    });
    if (failures)
        std::fprintf(stderr, "simdjson: %zu lines did not parse\n", failures);
    return megabytes(bytes) / timing.wall;
}

std::shared_ptr<TVLSession> load(const QString &path)
{
    auto session = TVLSession::initWithPath(path);
    if (!session)
        std::fprintf(stderr, "the model did not open %s\n", qPrintable(path));
    return session;
}

// The fastest of `runs` loads; each session is released outside the timing.
Timing timeLoad(const QString &path, int runs)
{
    Timing fastest;
    for (int i = 0; i < runs; ++i) {
        std::shared_ptr<TVLSession> session;
        const Timing t = timeOnce([&] { session = load(path); });
        if (i == 0 || t.wall < fastest.wall)
            fastest = t;
    }
    return fastest;
}

// The generated session of this name and shape; prints what it holds.
QString corpusSession(TVLCorpusGenerator &generator, const QString &name, const TVLCorpusShape &shape,
                      bool describe)
{
    TVLCorpusStats stats;
    QElapsedTimer timer;
    timer.start();
    const QString path = generator.ensureSession(name, shape, &stats);
    if (timer.elapsed() > 1000)
        std::fprintf(stderr, "(wrote %s in %.1f s)\n", qPrintable(name), double(timer.elapsed()) / 1000);
    if (describe) {
        figure("corpus-session", megabytes(stats.sessionBytes), "MB");
        figure("corpus-subagents", megabytes(stats.subagentBytes), "MB");
        figure("corpus-subagent-files", double(stats.subagentFiles), "files", 0);
        figure("corpus-lines", double(stats.lines), "lines", 0);
        figure("corpus-exchanges", double(stats.exchanges), "exchanges", 0);
        figure("corpus-compactions", double(stats.compactions), "compactions", 0);
        figure("corpus-largest-line", megabytes(stats.largestLine), "MB", 2);
    }
    return path;
}

TVLCorpusShape sessionOfSize(qint64 bytes)
{
    TVLCorpusShape shape;
    shape.targetBytes = bytes;
    return shape;
}

void benchRead(const QString &path)
{
    const QStringList files = filesOfSession(path);
    const qint64 bytes = fileBytes(files);
    const double simdjson = simdjsonSpeed(files, bytes);
    const Timing model = timeLoad(path, 3);
    figure("model-read", megabytes(bytes) / model.wall, "MB/s");
    figure("model-read-per-cpu-second", megabytes(bytes) / model.cpu, "MB/s");
    figure("simdjson-dom-parse", simdjson, "MB/s");
    figure("model-read-share-of-simdjson", megabytes(bytes) / model.wall / simdjson, "", 2);
    // simdjson's figure is one thread's; the model may read on several, so also per CPU second.
    figure("model-read-per-cpu-second-share-of-simdjson", megabytes(bytes) / model.cpu / simdjson, "", 2);
}

void benchReread(const QString &path)
{
    const auto session = load(path);
    if (!session)
        return;
    const qint64 bytes = QFileInfo(path).size();
    const Timing fileRead = best(5, [&] {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            file.readAll();
    });
    bool changed = false;
    const Timing reread = best(5, [&] { changed = session->updateMessages() || changed; });
    if (changed)
        std::fprintf(stderr, "an unchanged file read as changed\n");
    figure(QStringLiteral("file-read-%1").arg(TVLCorpusGenerator::sizeName(bytes - bytes % (1 << 20))),
           fileRead.wall * 1000, "ms");
    figure("reread-unchanged", reread.wall * 1000, "ms");
    figure("reread-unchanged-cost-of-file-read", reread.wall / fileRead.wall, "", 2);
}

// Memory held by a loaded session, per byte of the transcripts it keeps: heap bytes in use
// (address space handed out, touched or not) and resident pages (what the machine pays).
void benchMemory(const QString &path, const QString &prefix)
{
#if defined(__GLIBC__)
    malloc_trim(0);  // hand freed pages back, so that the resident delta isn't hidden by reuse
#endif
    const qint64 heapBefore = heapInUse();
    const qint64 rssBefore = residentBytes();
    const qint64 anonBefore = statusBytes("RssAnon"), fileBefore = statusBytes("RssFile");
    auto session = load(path);
    if (!session)
        return;
    const qint64 heapAfter = heapInUse();
    const qint64 rssAfter = residentBytes();
    const qint64 anonAfter = statusBytes("RssAnon"), fileAfter = statusBytes("RssFile");
    const double kept = double(keptBytes(*session));
    if (heapBefore >= 0)
        figure(prefix + QStringLiteral("memory-per-transcript-byte"), double(heapAfter - heapBefore) / kept, "", 2);
    if (rssBefore >= 0)
        figure(prefix + QStringLiteral("rss-per-transcript-byte"), double(rssAfter - rssBefore) / kept, "", 2);
    // Anonymous pages are the model's own; file pages are the mapped transcripts, shared with
    // the page cache and given back by the kernel under pressure.
    if (anonBefore >= 0) {
        figure(prefix + QStringLiteral("rss-anon-per-transcript-byte"), double(anonAfter - anonBefore) / kept, "", 2);
        figure(prefix + QStringLiteral("rss-file-per-transcript-byte"), double(fileAfter - fileBefore) / kept, "", 2);
    }
}

void benchMarkdown(const QString &path)
{
    const auto session = load(path);
    if (!session)
        return;
    const qint64 bytes = QFileInfo(path).size();
    QString markdown;
    const Timing toMarkdown = best(3, [&] { markdown = session->markdown(); });
    const qint64 markdownBytes = markdown.toUtf8().size();
    std::optional<QString> html;
    const Timing toHtml = best(3, [&] { html = HVXMarkDown::htmlFromMarkdown(markdown); });
    figure("session-markdown", megabytes(bytes) / toMarkdown.wall, "MB/s of transcript");
    figure("session-markdown-size", megabytes(markdownBytes), "MB");
    figure("markdown-to-html", megabytes(markdownBytes) / toHtml.wall, "MB/s of Markdown");
    figure("html-size", html ? megabytes(html->toUtf8().size()) : 0.0, "MB");
}

void benchTokens(TVLCorpusGenerator &generator)
{
    TVLCorpusShape shape;
    shape.exchanges = 10000;
    shape.maxStepsPerExchange = 2;
    shape.maxToolResultBytes = 2048;
    shape.hugeLineChance = 0;
    const QString path = corpusSession(generator, QStringLiteral("model-exchanges-10000"), shape, false);
    const auto session = load(path);
    if (!session)
        return;
    qint64 total = 0;
    // What the outline asks: every exchange row and the session row.
    auto askAll = [&] {
        total = 0;
        for (const auto &exchange : session->exchanges())
            if (const auto usage = exchange->tokenUsage())
                total += usage->totalTokens();
        if (const auto usage = session->tokenUsage())
            total += usage->totalTokens();
    };
    figure("token-session-exchanges", double(session->exchanges().size()), "exchanges", 0);
    const Timing first = timeOnce(askAll);
    const qint64 firstTotal = total;
    const Timing again = best(5, [&] {
        for (const auto &exchange : session->exchanges())
            exchange->invalidateTokenUsage();
        askAll();
    });
    if (total != firstTotal)
        std::fprintf(stderr, "token totals changed after an invalidation: %lld -> %lld\n", (long long)firstTotal,
                     (long long)total);
    figure("token-totals-first", first.wall * 1000, "ms", 2);
    figure("token-totals-after-invalidation", again.wall * 1000, "ms", 2);
}

void benchScaling(TVLCorpusGenerator &generator, bool huge)
{
    std::vector<qint64> sizes{1 << 20, 10 << 20, 100 << 20};
    if (huge)
        sizes.push_back(qint64(1) << 30);
    for (const qint64 size : sizes) {
        const QString name = TVLCorpusGenerator::sizeName(size);
        const QString path = corpusSession(generator, QStringLiteral("model-") + name, sessionOfSize(size), false);
        const qint64 bytes = fileBytes(filesOfSession(path));
        const Timing read = timeLoad(path, size >= (qint64(1) << 30) ? 2 : 3);
        figure(QStringLiteral("scaling-%1-transcript").arg(name), megabytes(bytes), "MB");
        figure(QStringLiteral("scaling-%1-read").arg(name), read.wall * 1000, "ms");
        figure(QStringLiteral("scaling-%1-read-speed").arg(name), megabytes(bytes) / read.wall, "MB/s");
        benchMemory(path, QStringLiteral("scaling-%1-").arg(name));
    }
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir settings;
    HVXDefaults::useStoreAtPath(settings.filePath(QStringLiteral("settings.ini")));

    QStringList only = app.arguments().mid(1);
    const bool huge = only.removeAll(QStringLiteral("--huge")) > 0;
    auto wanted = [&](const char *name) { return only.isEmpty() || only.contains(QLatin1String(name)); };

    TVLCorpusGenerator generator;
    const QString session = corpusSession(generator, QStringLiteral("model-50M"), sessionOfSize(50 << 20), true);
    if (wanted("read"))
        benchRead(session);
    if (wanted("reread"))
        benchReread(session);
    if (wanted("memory"))
        benchMemory(session, {});
    if (wanted("markdown"))
        benchMarkdown(session);
    if (wanted("tokens"))
        benchTokens(generator);
    if (wanted("scaling"))
        benchScaling(generator, huge);
    return 0;
}
