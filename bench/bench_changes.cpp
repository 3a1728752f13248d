// What a session changed, on a generated session of about 100 MB with its sub-agents: the corpus
// first, then three runs each of
//   - the session's changes from the loaded model (TVLSessionChanges::ofSession), as the viewer's
//     Changes view asks for them;
//   - reading the session and finding its changes, as `tavlo changes SESSION.jsonl` does;
//   - the session as Markdown with its tool steps, as `tavlo export --markdown --tool-steps` does.
// The corpus is written under bench/corpus on first use (shared with bench_model's 100 MB session).
// Usage: bench_changes [SIZE]   (SIZE as for bench_corpus, 100M when not given)

#include "Halvex/Foundation/HVXDefaults.h"
#include "Tavlo/DataObjects/TVLSession.h"
#include "Tavlo/DataObjects/TVLSessionChanges.h"
#include "Tavlo/DataObjects/TVLSessionMarkdown.h"
#include "bench/support/TVLBenchFigures.h"
#include "bench/support/TVLCorpusGenerator.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <functional>

namespace {
using TVLBenchFigures::figure;

constexpr int kRuns = 3;

double milliseconds(const std::function<void()> &work)
{
    QElapsedTimer timer;
    timer.start();
    work();
    return double(timer.nsecsElapsed()) / 1e6;
}

void runs(const QString &name, const std::function<void()> &work)
{
    std::vector<double> times;
    for (int run = 1; run <= kRuns; ++run) {
        times.push_back(milliseconds(work));
        figure(QStringLiteral("%1-run-%2").arg(name).arg(run), times.back(), "ms");
    }
    figure(name + QStringLiteral("-fastest"), *std::min_element(times.begin(), times.end()), "ms");
    figure(name + QStringLiteral("-slowest"), TVLBenchFigures::worst(times), "ms");
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir settings;
    HVXDefaults::useStoreAtPath(settings.filePath(QStringLiteral("settings.ini")));
    const qint64 size = app.arguments().size() > 1 ? TVLCorpusGenerator::parseSize(app.arguments().at(1)) : 100 << 20;
    if (size <= 0) {
        std::fprintf(stderr, "usage: bench_changes [SIZE]\n");
        return 2;
    }

    TVLCorpusGenerator generator;
    TVLCorpusShape shape;
    shape.targetBytes = size;
    TVLCorpusStats stats;
    const QString name = QStringLiteral("model-") + TVLCorpusGenerator::sizeName(size);
    const QString path = generator.ensureSession(name, shape, &stats);
    TVLBenchFigures::line(QStringLiteral("corpus: %1 (%2)").arg(name, path));
    figure("corpus-session", double(stats.sessionBytes) / (1 << 20), "MB");
    figure("corpus-subagents", double(stats.subagentBytes) / (1 << 20), "MB");
    figure("corpus-lines", double(stats.lines), "lines", 0);
    figure("corpus-exchanges", double(stats.exchanges), "exchanges", 0);

    const auto session = TVLSession::initWithPath(path);
    if (!session) {
        std::fprintf(stderr, "the model did not open %s\n", qPrintable(path));
        return 1;
    }
    const TVLSessionChanges found = TVLSessionChanges::ofSession(*session);
    figure("changed-files", double(found.files().size()), "files", 0);
    figure("applied-edits", double(found.appliedEdits()), "edits", 0);
    figure("lines-added", double(found.added()), "lines", 0);

    runs(QStringLiteral("changes-of-loaded-session"), [&] { TVLSessionChanges::ofSession(*session); });
    runs(QStringLiteral("read-and-changes"), [&] {
        const auto fresh = TVLSession::initWithPath(path);
        TVLSessionChanges::ofSession(*fresh);
    });
    runs(QStringLiteral("markdown-with-tool-steps"), [&] { TVLSessionMarkdown::forSession(*session, true); });
    return 0;
}
