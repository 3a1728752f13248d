// Writes benchmark transcripts on demand:
//   bench_corpus session SIZE            one session of about SIZE bytes (1M, 50M, 1G, ...)
//   bench_corpus exchanges COUNT         one session of exactly COUNT small exchanges
//   bench_corpus project SESSIONS SIZE   a project directory of SESSIONS sessions, SIZE in all
//   bench_corpus root PROJECTS FILES     a log root of PROJECTS projects holding FILES small sessions
// Output goes below --out (default bench/corpus); --seed changes the corpus, the same seed gives
// the same bytes; --real shapes a session like a long agent run.

#include "bench/support/TVLCorpusGenerator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>

#include <cstdio>

namespace {

int fail(const QString &message)
{
    std::fprintf(stderr, "bench_corpus: %s\n", qPrintable(message));
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Writes deterministic benchmark transcripts.\n\n"
        "  session SIZE            one session of about SIZE bytes (e.g. 1M, 50M, 1G)\n"
        "  exchanges COUNT         one session of exactly COUNT small exchanges\n"
        "  project SESSIONS SIZE   a project of SESSIONS sessions totalling SIZE\n"
        "  root PROJECTS FILES     a log root of PROJECTS projects with FILES small sessions in all"));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("session, exchanges, project or root"));
    const QCommandLineOption outOption(QStringLiteral("out"), QStringLiteral("Output directory (default bench/corpus)."),
                                       QStringLiteral("dir"), TVLCorpusGenerator::defaultDirectory());
    const QCommandLineOption seedOption(QStringLiteral("seed"), QStringLiteral("Seed of the random numbers."),
                                        QStringLiteral("n"), QStringLiteral("20251103"));
    const QCommandLineOption bytesOption(QStringLiteral("session-bytes"),
                                         QStringLiteral("Size of each session of a root (default 4K)."),
                                         QStringLiteral("size"), QStringLiteral("4K"));
    parser.addOption(outOption);
    parser.addOption(seedOption);
    const QCommandLineOption realOption(QStringLiteral("real"),
                                        QStringLiteral("A session shaped like a long agent run: many tool steps, "
                                                       "long one-line results, screenshots, code-heavy replies."));
    parser.addOption(bytesOption);
    parser.addOption(realOption);
    parser.process(app);

    const QStringList args = parser.positionalArguments();
    if (args.isEmpty())
        return fail(QStringLiteral("no command given; see --help"));
    bool seedOk = false;
    TVLCorpusGenerator generator(parser.value(seedOption).toULongLong(&seedOk));
    if (!seedOk)
        return fail(QStringLiteral("the seed must be a number"));
    const QDir out(parser.value(outOption));
    const QString command = args[0];

    QElapsedTimer timer;
    timer.start();
    TVLCorpusStats stats;
    QString where;
    if (command == QLatin1String("session") && args.size() == 2) {
        TVLCorpusShape shape;
        shape.targetBytes = TVLCorpusGenerator::parseSize(args[1]);
        if (shape.targetBytes <= 0)
            return fail(QStringLiteral("not a size: %1").arg(args[1]));
        shape.realShaped = parser.isSet(realOption);
        const QString name = (shape.realShaped ? QStringLiteral("real-session-") : QStringLiteral("session-"))
                             + TVLCorpusGenerator::sizeName(shape.targetBytes);
        QDir(out.filePath(name)).removeRecursively();
        where = generator.sessionPathIn(out.filePath(name + QStringLiteral("/-home-dev-src-bench")), name);
        stats = generator.writeSession(where, shape);
    } else if (command == QLatin1String("exchanges") && args.size() == 2) {
        TVLCorpusShape shape;
        shape.exchanges = args[1].toLongLong();
        shape.maxStepsPerExchange = 2;
        shape.maxToolResultBytes = 2048;
        shape.hugeLineChance = 0;
        if (shape.exchanges <= 0)
            return fail(QStringLiteral("not a count: %1").arg(args[1]));
        const QString name = QStringLiteral("exchanges-%1").arg(shape.exchanges);
        QDir(out.filePath(name)).removeRecursively();
        where = generator.sessionPathIn(out.filePath(name + QStringLiteral("/-home-dev-src-bench")), name);
        stats = generator.writeSession(where, shape);
    } else if (command == QLatin1String("project") && args.size() == 3) {
        const int sessions = args[1].toInt();
        const qint64 bytes = TVLCorpusGenerator::parseSize(args[2]);
        if (sessions <= 0 || bytes <= 0)
            return fail(QStringLiteral("expected a session count and a size"));
        where = out.filePath(QStringLiteral("project-%1x%2/-home-dev-src-bench-project").arg(sessions).arg(TVLCorpusGenerator::sizeName(bytes)));
        QDir(where).removeRecursively();
        stats = generator.writeProject(where, sessions, bytes);
    } else if (command == QLatin1String("root") && args.size() == 3) {
        const int projects = args[1].toInt();
        const int files = args[2].toInt();
        const qint64 bytes = TVLCorpusGenerator::parseSize(parser.value(bytesOption));
        if (projects <= 0 || files < projects || bytes <= 0)
            return fail(QStringLiteral("expected a project count and at least as many files"));
        where = out.filePath(QStringLiteral("root-%1x%2").arg(projects).arg(files));
        QDir(where).removeRecursively();
        stats = generator.writeRoot(where, projects, files, bytes);
    } else {
        return fail(QStringLiteral("unknown command or wrong arguments: %1; see --help").arg(args.join(QLatin1Char(' '))));
    }

    std::printf("%s\n%s\nwritten in %.2f s\n", qPrintable(QDir::cleanPath(where)), qPrintable(stats.summary()),
                double(timer.elapsed()) / 1000.0);
    return stats.sessionFiles > 0 ? 0 : 1;
}
