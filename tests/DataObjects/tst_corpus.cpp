// The benchmark corpus generator: the same seed gives the same bytes, sessions reach their size,
// every line is a transcript line the model reads without complaint, and the sub-agents,
// asides and compactions it writes are found and linked by the model as real ones are.

#include "LogCapture.h"
#include "Halvex/Foundation/HVXDefaults.h"
#include "Tavlo/DataObjects/TVLExchange.h"
#include "Tavlo/DataObjects/TVLMessage.h"
#include "Tavlo/DataObjects/TVLSession.h"
#include "Tavlo/DataObjects/TVLSubagent.h"
#include "bench/support/TVLCorpusGenerator.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

namespace {
QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Every file below the directory, by path relative to it, with its bytes.
QMap<QString, QByteArray> tree(const QString &directory)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(directory, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(QDir(directory).relativeFilePath(path), contents(path));
    }
    return files;
}

TVLCorpusShape smallExchanges(qint64 count)
{
    TVLCorpusShape shape;
    shape.exchanges = count;
    shape.maxStepsPerExchange = 2;
    shape.maxToolResultBytes = 2048;
    shape.hugeLineChance = 0;
    shape.compactionEveryBytes = 1 << 20;
    return shape;
}

const QString kSessionName = QStringLiteral("/-home-dev-src-app/0f9a8e7d-6c5b-4a39-8281-7f6e5d4c3b2a.jsonl");
} // namespace

class TestCorpus : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        HVXDefaults::useStoreAtPath(m_dir.filePath(QStringLiteral("settings.ini")));
    }

    void sameSeedSameBytes()
    {
        TVLCorpusShape shape;
        shape.targetBytes = 600 * 1024;
        const QString a = m_dir.filePath(QStringLiteral("a"));
        const QString b = m_dir.filePath(QStringLiteral("b"));
        const QString c = m_dir.filePath(QStringLiteral("c"));
        TVLCorpusGenerator(7).writeSession(a + kSessionName, shape);
        TVLCorpusGenerator(7).writeSession(b + kSessionName, shape);
        TVLCorpusGenerator(8).writeSession(c + kSessionName, shape);
        const auto first = tree(a);
        QVERIFY(!first.isEmpty());
        QCOMPARE(tree(b), first);
        QVERIFY(contents(c + kSessionName) != contents(a + kSessionName));
    }

    void sessionReachesItsSize_data()
    {
        QTest::addColumn<qint64>("target");
        QTest::newRow("64K") << qint64(64 * 1024);
        QTest::newRow("1M") << qint64(1024 * 1024);
        QTest::newRow("9M, with a huge line") << qint64(9 * 1024 * 1024);
    }

    void sessionReachesItsSize()
    {
        QFETCH(qint64, target);
        TVLCorpusShape shape;
        shape.targetBytes = target;
        const QString path = m_dir.filePath(QStringLiteral("size-%1").arg(target)) + kSessionName;
        const TVLCorpusStats stats = TVLCorpusGenerator().writeSession(path, shape);
        const QByteArray bytes = contents(path);
        QCOMPARE(stats.sessionBytes, qint64(bytes.size()));
        QCOMPARE(stats.lines, qint64(bytes.count('\n')));
        QVERIFY2(bytes.size() >= target && bytes.size() <= target + target / 20 + 32 * 1024,
                 qPrintable(QString::number(bytes.size())));
        if (target >= 8 * 1024 * 1024)
            QVERIFY(stats.largestLine >= 1024 * 1024);
    }

    void linesLookLikeTranscriptLines()
    {
        TVLCorpusShape shape;
        shape.targetBytes = 300 * 1024;
        const QString path = m_dir.filePath(QStringLiteral("lines")) + kSessionName;
        TVLCorpusGenerator(3).writeSession(path, shape);
        static const QRegularExpression timestamp(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z$"));
        static const QRegularExpression uuid(QStringLiteral("^[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}$"));
        QString lastTimestamp;
        int assistants = 0;
        for (const QByteArray &line : contents(path).split('\n')) {
            if (line.isEmpty())
                continue;
            QJsonParseError error;
            const QJsonObject object = QJsonDocument::fromJson(line, &error).object();
            QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(error.errorString()));
            QVERIFY(uuid.match(object.value(QStringLiteral("uuid")).toString()).hasMatch());
            const QString time = object.value(QStringLiteral("timestamp")).toString();
            QVERIFY2(timestamp.match(time).hasMatch(), qPrintable(time));
            QVERIFY2(time >= lastTimestamp, qPrintable(time));
            lastTimestamp = time;
            QCOMPARE(object.value(QStringLiteral("sessionId")).toString(), QFileInfo(path).completeBaseName());
            const QJsonObject message = object.value(QStringLiteral("message")).toObject();
            if (object.value(QStringLiteral("type")).toString() == QLatin1String("assistant") &&
                !object.contains(QStringLiteral("sourceToolAssistantUUID"))) {
                ++assistants;
                QVERIFY(message.value(QStringLiteral("id")).toString().startsWith(QStringLiteral("msg_01")));
                QVERIFY(message.value(QStringLiteral("usage")).toObject().contains(QStringLiteral("cache_read_input_tokens")));
            }
        }
        QVERIFY(assistants > 10);
    }

    void modelLinksWhatWasWritten()
    {
        const QString path = m_dir.filePath(QStringLiteral("linked")) + kSessionName;
        const TVLCorpusStats stats = TVLCorpusGenerator().writeSession(path, smallExchanges(2000));
        QVERIFY(stats.compactions > 0);

        LogCapture log;
        const auto session = TVLSession::initWithPath(path);
        QVERIFY(session);
        // Usage only ever grows within a message, and every line parses.
        QVERIFY2(log.lines().isEmpty(), qPrintable(log.lines().join(QLatin1Char('\n'))));
        QCOMPARE(qint64(session->messages().size()), stats.lines);
        QCOMPARE(qint64(session->exchanges().size()), stats.exchanges + 1);  // and the preamble
        QVERIFY(session->exchanges()[0]->isPreamble());
        QCOMPARE(session->exchanges()[1]->uuid(), stats.promptUuids.first());

        int tasks = 0, asides = 0;
        for (const auto &subagent : session->subagents()) {
            QVERIFY2(!subagent->anchorUuid().isEmpty(), qPrintable(subagent->path()));
            QVERIFY(session->exchangeWithUuid(subagent->anchorUuid()));
            tasks += subagent->kind() == 1;
            asides += subagent->kind() == 3;
        }
        QVERIFY(tasks > 0);
        QVERIFY(asides > 0);
        const QStringList files = QDir(QFileInfo(path).absolutePath() + QStringLiteral("/") +
                                       QFileInfo(path).completeBaseName() + QStringLiteral("/subagents"))
                                      .entryList({QStringLiteral("*.jsonl")}, QDir::Files);
        QCOMPARE(qint64(files.size()), stats.subagentFiles);
        QCOMPARE(qint64(files.size()), qint64(tasks + asides) + stats.compactions);

        int summaries = 0;
        for (TVLMessage *message : session->messages()) {
            if (!message->isCompactSummary())
                continue;
            ++summaries;
            const auto usage = message->tokenUsage();
            QVERIFY(usage && usage->outputTokens > 0 && usage->cacheReadInputTokens > 0);
        }
        QCOMPARE(qint64(summaries), stats.compactions);
    }

    void projectSpreadsItsBytesAndTagsRealExchanges()
    {
        const QString directory = m_dir.filePath(QStringLiteral("project/-home-dev-src-shop"));
        const TVLCorpusStats stats = TVLCorpusGenerator().writeProject(directory, 12, 3 * 1024 * 1024);
        QCOMPARE(stats.sessionFiles, qint64(12));
        QCOMPARE(QDir(directory).entryList({QStringLiteral("*.jsonl")}, QDir::Files).size(), qsizetype(12));
        QVERIFY(stats.sessionBytes >= 3 * 1024 * 1024);

        const QJsonObject metadata = QJsonDocument::fromJson(contents(directory + QStringLiteral("/TavloMetaData.json"))).object();
        QCOMPARE(metadata.value(QStringLiteral("version")).toInt(), 1);
        const QJsonObject tags = metadata.value(QStringLiteral("tags")).toObject();
        QVERIFY(!tags.isEmpty());
        for (auto it = tags.begin(); it != tags.end(); ++it)
            QVERIFY(stats.promptUuids.contains(it.key()));
    }

    void rootHoldsProjectsAndSubprojects()
    {
        const QString directory = m_dir.filePath(QStringLiteral("root"));
        const TVLCorpusStats stats = TVLCorpusGenerator().writeRoot(directory, 40, 83, 2048);
        QCOMPARE(stats.sessionFiles, qint64(83));
        const QStringList projects = QDir(directory).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        QCOMPARE(projects.size(), qsizetype(41));
        const QStringList subprojects = projects.filter(QStringLiteral("--"));
        QCOMPARE(subprojects.size(), qsizetype(1));
        const QString parent = subprojects.first().section(QStringLiteral("--"), 0, 0);
        QVERIFY(projects.contains(parent));
        int files = 0;
        for (const QString &project : projects)
            files += int(QDir(QDir(directory).filePath(project)).entryList({QStringLiteral("*.jsonl")}, QDir::Files).size());
        QCOMPARE(files, 83);
    }

    void sizesReadAndPrint()
    {
        QCOMPARE(TVLCorpusGenerator::parseSize(QStringLiteral("1536")), qint64(1536));
        QCOMPARE(TVLCorpusGenerator::parseSize(QStringLiteral("10K")), qint64(10 * 1024));
        QCOMPARE(TVLCorpusGenerator::parseSize(QStringLiteral("20m")), qint64(20 * 1024 * 1024));
        QCOMPARE(TVLCorpusGenerator::parseSize(QStringLiteral("1.5G")), qint64(3) << 29);
        QCOMPARE(TVLCorpusGenerator::parseSize(QStringLiteral("-3M")), qint64(-1));
        QCOMPARE(TVLCorpusGenerator::parseSize(QStringLiteral("ten")), qint64(-1));
        QCOMPARE(TVLCorpusGenerator::sizeName(50 << 20), QStringLiteral("50M"));
        QCOMPARE(TVLCorpusGenerator::sizeName(qint64(1) << 30), QStringLiteral("1G"));
        QCOMPARE(TVLCorpusGenerator::sizeName(1536), QStringLiteral("1536"));
    }

private:
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TestCorpus)
#include "tst_corpus.moc"
