// The example log root that the README opens: every feature it is there to show reaches the
// model as meant (sub-agents anchored, compaction credited, diff and attachments on the page,
// tags on real exchanges), and it loads without a single log line.

#include "LogCapture.h"
#include "Halvex/Foundation/HVXDefaults.h"
#include "Tavlo/DataObjects/TVLExchange.h"
#include "Tavlo/DataObjects/TVLMessage.h"
#include "Tavlo/DataObjects/TVLSession.h"
#include "Tavlo/DataObjects/TVLSubagent.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

namespace {
const QString kRoot = QStringLiteral(TAVLO_EXAMPLES_DIR "/projects");
const QString kWeather = kRoot + QStringLiteral("/-home-alex-src-weather-app");
const QString kCacheSession = kWeather + QStringLiteral("/6b1f0c52-8e3d-4f7a-b2c9-1d4e5a6f7b80.jsonl");
const QString kChartSession = kWeather + QStringLiteral("/a4c7e913-52d0-4b6e-8f21-c3b9d0e6f4a2.jsonl");
const QString kDotfilesSession = kRoot + QStringLiteral("/-home-alex-dotfiles/c81f5a3d-0e27-4b96-8d4a-59e2b7c1f608.jsonl");

QStringList allSessionFiles()
{
    QStringList files;
    QDirIterator it(kRoot, {QStringLiteral("*.jsonl")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (!path.contains(QStringLiteral("/subagents/")))
            files << path;
    }
    files.sort();
    return files;
}

// The outline children of a session as "exchange:<uuid>" and "subagent:<title>".
QStringList outline(TVLSession &session)
{
    QStringList rows;
    for (const auto &child : session.displayChildren()) {
        if (auto *exchange = dynamic_cast<TVLExchange *>(child.get()))
            rows << QStringLiteral("exchange:") + exchange->uuid();
        else if (auto *subagent = dynamic_cast<TVLSubagent *>(child.get()))
            rows << QStringLiteral("subagent:") + subagent->displayTitle();
    }
    return rows;
}
} // namespace

class TestExamples : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_settings.isValid());
        HVXDefaults::useStoreAtPath(m_settings.filePath(QStringLiteral("settings.ini")));
    }

    void everySessionLoadsSilently()
    {
        const QStringList files = allSessionFiles();
        QCOMPARE(files.size(), 6);
        LogCapture log;
        for (const QString &path : files) {
            const auto session = TVLSession::initWithPath(path);
            QVERIFY2(session, qPrintable(path));
            QVERIFY2(!session->exchanges().empty(), qPrintable(path));
            QVERIFY(session->tokenUsage().has_value());
            QVERIFY(!session->markdown().isEmpty());
        }
        QVERIFY2(log.lines().isEmpty(), qPrintable(log.lines().join(QLatin1Char('\n'))));
    }

    void cacheSessionShowsItsSubagentAndAsideUnderTheirExchanges()
    {
        const auto session = TVLSession::initWithPath(kCacheSession);
        QVERIFY(session);
        const auto &exchanges = session->exchanges();
        QCOMPARE(exchanges.size(), size_t(6));
        QVERIFY(exchanges[0]->isPreamble());
        QCOMPARE(exchanges[1]->displayTitle(), QStringLiteral("/model sonnet"));
        QCOMPARE(exchanges[4]->displayTitle(), QStringLiteral("/cost"));
        QCOMPARE(session->subagents().size(), size_t(2));
        // The preamble (a meta line) carries no usage, so it is left out; the task sub-agent
        // follows the exchange whose assistant line launched it, the aside the exchange of its
        // parent line.
        QCOMPARE(outline(*session), (QStringList{
                                        QStringLiteral("exchange:") + exchanges[1]->uuid(),
                                        QStringLiteral("exchange:") + exchanges[2]->uuid(),
                                        QStringLiteral("subagent:Subagent: find-forecast-callers"),
                                        QStringLiteral("exchange:") + exchanges[3]->uuid(),
                                        QStringLiteral("subagent:Aside: lock-per-key"),
                                        QStringLiteral("exchange:") + exchanges[4]->uuid(),
                                        QStringLiteral("exchange:") + exchanges[5]->uuid(),
                                    }));
    }

    void cacheSessionPageHasTheDiffAndFoldedAttachments()
    {
        const auto session = TVLSession::initWithPath(kCacheSession);
        QVERIFY(session);
        const QString markdown = session->markdown();
        QCOMPARE(markdown.count(QStringLiteral("Update(backend/weather/routes.py)")), 1);
        QVERIFY(markdown.contains(QStringLiteral("Added 9 lines, removed 3 lines")));
        QCOMPARE(markdown.count(QStringLiteral("<div class=\"attachment-body folded\">")), 2);
        // The pasted log's "&" and "<none>" are shown, not interpreted.
        QVERIFY(markdown.contains(QStringLiteral("cache=&lt;none&gt; &amp; no rate limit")));
        QVERIFY(markdown.contains(QStringLiteral("| Option | Latency on a hit |")));
        QVERIFY(markdown.contains(QStringLiteral("- [ ] Add a `TTLCache`")));
    }

    void streamedMessagesCountOnce()
    {
        const auto session = TVLSession::initWithPath(kCacheSession);
        QVERIFY(session);
        // Exchange 2 opens with one model message written as three lines (thinking, text, tool call).
        const auto &first = session->exchanges()[2];
        std::vector<TVLMessage *> group;
        for (const auto &child : first->children()) {
            auto *message = static_cast<TVLMessage *>(child.get());
            if (message->inDuplicateGroup())
                group.push_back(message);
        }
        QVERIFY(group.size() >= 3);
        QVERIFY(group[0]->usageDuplicate());
        QVERIFY(group[1]->usageDuplicate());
        QVERIFY(!group[2]->usageDuplicate());
        QVERIFY(!group[0]->tokenUsage().has_value());
        QVERIFY(group[2]->tokenUsage().has_value());
    }

    void compactionIsCreditedToTheSummaryAndHidden()
    {
        const auto session = TVLSession::initWithPath(kChartSession);
        QVERIFY(session);
        QVERIFY(session->subagents().empty());
        TVLMessage *summary = nullptr;
        for (TVLMessage *message : session->messages())
            if (message->isCompactSummary())
                summary = message;
        QVERIFY(summary);
        const auto usage = summary->tokenUsage();
        QVERIFY(usage.has_value());
        QCOMPARE(usage->inputTokens, qint64(10));
        QCOMPARE(usage->outputTokens, qint64(1480));
        QCOMPARE(usage->cacheReadInputTokens, qint64(31614));
        // Digit grouping follows the locale.
        static const QRegularExpression row(QStringLiteral("\\| \\*# tokens\\* \\| 10 \\| 0 \\| 31\\D?614 \\| 1\\D?480 \\|"));
        QVERIFY2(row.match(summary->htmlBlock()).hasMatch(), qPrintable(summary->htmlBlock()));
        // The summary lies in the exchange of the /compact the user typed.
        QVERIFY(session->exchanges()[3]->displayTitle().startsWith(QStringLiteral("\u2756 /compact keep the chart")));
    }

    void preambleWithoutUsageIsLeftOutOfTheOutline()
    {
        const auto session = TVLSession::initWithPath(kDotfilesSession);
        QVERIFY(session);
        QCOMPARE(session->exchanges().size(), size_t(4));
        QVERIFY(session->exchanges()[0]->isPreamble());
        QCOMPARE(session->exchanges()[1]->displayTitle(), QStringLiteral("/clear"));
        QCOMPARE(outline(*session).size(), 3);
        QVERIFY(!outline(*session).contains(QStringLiteral("exchange:") + session->exchanges()[0]->uuid()));
    }

    void metadataNamesRealExchanges_data()
    {
        QTest::addColumn<QString>("project");
        QTest::newRow("weather-app") << kWeather;
        QTest::newRow("offline-mode") << kRoot + QStringLiteral("/-home-alex-src-weather-app--offline-mode");
        QTest::newRow("ledger-cli") << kRoot + QStringLiteral("/-home-alex-src-ledger-cli");
    }

    void metadataNamesRealExchanges()
    {
        QFETCH(QString, project);
        QFile file(project + QStringLiteral("/TavloMetaData.json"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QJsonObject metadata = QJsonDocument::fromJson(file.readAll()).object();
        QCOMPARE(metadata.value(QStringLiteral("version")).toInt(), 1);

        QSet<QString> exchanges;
        for (const QString &name : QDir(project).entryList({QStringLiteral("*.jsonl")}, QDir::Files)) {
            const auto session = TVLSession::initWithPath(project + QLatin1Char('/') + name);
            QVERIFY(session);
            for (const auto &exchange : session->exchanges())
                exchanges.insert(exchange->uuid());
        }
        const QJsonObject tags = metadata.value(QStringLiteral("tags")).toObject();
        QVERIFY(!tags.isEmpty());
        for (auto it = tags.begin(); it != tags.end(); ++it) {
            QVERIFY2(exchanges.contains(it.key()), qPrintable(it.key()));
            for (const QJsonValue id : it.value().toArray())
                QVERIFY(id.toInt() >= 1 && id.toInt() <= 9);
        }
        const QJsonObject annotations = metadata.value(QStringLiteral("annotations")).toObject();
        for (auto it = annotations.begin(); it != annotations.end(); ++it)
            QVERIFY2(exchanges.contains(it.key()), qPrintable(it.key()));
    }

private:
    QTemporaryDir m_settings;
};

QTEST_GUILESS_MAIN(TestExamples)
#include "tst_examples.moc"
