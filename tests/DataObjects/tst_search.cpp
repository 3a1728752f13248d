// Text search over kept exchange texts: the same answers as matching the lines one by one, texts
// kept across a growing session's reads, narrowing that still sees what changed; and filters
// that follow live reads and project loads.

#include "Halvex/Foundation/HVXDefaults.h"
#include "Tavlo/DataObjects/TVLExchange.h"
#include "Tavlo/DataObjects/TVLProject.h"
#include "Tavlo/DataObjects/TVLRoot.h"
#include "Tavlo/DataObjects/TVLSearchIndex.h"
#include "Tavlo/DataObjects/TVLSession.h"
#include "TranscriptBuilder.h"

#include <QTemporaryDir>
#include <algorithm>
#include <QtTest>

using namespace TranscriptBuilder;

namespace {
// Runs a job to the end and keeps its texts; answers the ids of the matching exchanges.
QStringList runJob(TVLSearchIndex &index, const std::shared_ptr<TVLSession> &session, const QString &text,
                   bool caseSensitive = false)
{
    TVLSearchJob job = index.makeJob({session}, TVLSearchQuery::make(text, caseSensitive));
    job.run({});
    index.store(job, true);
    QStringList ids;
    const TVLSearchJob::Session &searched = job.sessions.front();
    for (size_t i = 0; i < searched.matched.size(); ++i)
        if (searched.matched[i])
            ids << searched.texts().exchanges[i]->uuid();
    return ids;
}

QStringList matchingByLines(const std::shared_ptr<TVLSession> &session, const QString &text, bool caseSensitive)
{
    QStringList ids;
    for (const auto &exchange : session->exchanges())
        if (exchange->matchesSearchStringCaseSensitive(text, caseSensitive))
            ids << exchange->uuid();
    return ids;
}

QStringList ids(const TVLObject::List &nodes)
{
    QStringList result;
    for (const auto &node : nodes)
        if (auto *exchange = dynamic_cast<TVLExchange *>(node.get()))
            result << exchange->uuid();
    return result;
}
} // namespace

class TestSearch : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    int m_serial = 0;

    QString newSessionPath() { return m_dir.filePath(QStringLiteral("r%1/projects/-home-me-app/s.jsonl").arg(++m_serial)); }

private Q_SLOTS:
    void initTestCase() { HVXDefaults::useStoreAtPath(m_dir.filePath("settings.ini")); }

    void keptTextsAnswerAsTheLinesDo_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("caseSensitive");
        QTest::newRow("plain") << "needle" << false;
        QTest::newRow("other case") << "NEEDLE" << false;
        QTest::newRow("other case, sensitive") << "NEEDLE" << true;
        QTest::newRow("accented, folded") << "CAFÉ" << false;
        QTest::newRow("greek final sigma") << "ΟΔΟΣ" << false;
        QTest::newRow("dotted capital I") << "İstanbul" << false;
        QTest::newRow("across two lines") << "first line end second" << false;
        QTest::newRow("only in a tool result") << "resultonly" << false;
        QTest::newRow("nothing") << "absent words" << false;
        QTest::newRow("with NUL") << QString("nee") + QChar(0) + "dle" << false;
    }

    void keptTextsAnswerAsTheLinesDo()
    {
        QFETCH(QString, text);
        QFETCH(bool, caseSensitive);
        const QString path = write(newSessionPath(), QList<QJsonObject>{
            prompt("p1", "find the needle here"),
            assistant("a1", "first line end"),
            assistant("a1b", "second part"),
            prompt("p2", "un café à Paris, ὁδός"),
            toolCall("t1", "toolu_1"),
            toolResult("r1", "toolu_1", QJsonObject{{"stdout", "resultonly"}}),
            prompt("p3", "İstanbul and ISTANBUL"),
            prompt("p4", "Needle in capitals"),
        });
        const auto session = TVLSession::initWithPath(path);
        QVERIFY(session);
        TVLSearchIndex index;
        QString plain = text;
        plain.remove(QChar(0));
        QCOMPARE(runJob(index, session, text, caseSensitive), matchingByLines(session, plain, caseSensitive));
    }

    void growingSessionKeepsTextsAndNarrowingSeesTheChangedEnd()
    {
        const QString path = write(newSessionPath(), QList<QJsonObject>{
            prompt("p1", "alpha one"), assistant("a1", "beta"), prompt("p2", "gamma"), assistant("a2", "delta"),
        });
        const auto session = TVLSession::initWithPath(path);
        TVLSearchIndex index;
        QCOMPARE(runJob(index, session, "alph"), QStringList{"p1"});
        const TVLSearchJob before = index.makeJob({session}, TVLSearchQuery::make("x", false));
        QVERIFY(before.sessions[0].known);  // unchanged: every text kept

        // The last exchange grows by a line that now holds the narrower text; a new one follows.
        append(path, {line(assistant("a3", "alphabet soup")), line(prompt("p3", "alphabet again"))});
        QVERIFY(session->updateMessages());
        const TVLSearchJob after = index.makeJob({session}, TVLSearchQuery::make("alphabet", false));
        const TVLSessionTexts &texts = after.sessions[0].texts();
        QCOMPARE(texts.texts[0], before.sessions[0].texts().texts[0]);  // kept
        QVERIFY(!texts.texts[1]);                                         // read again
        QVERIFY(after.sessions[0].previousMatched);                      // "alphabet" narrows "alph"
        QCOMPARE(runJob(index, session, "alphabet"), (QStringList{"p2", "p3"}));
        // Widening again searches everything.
        QCOMPARE(runJob(index, session, "a"), matchingByLines(session, "a", false));
    }

    void cancelledJobStopsAndKeepsWhatItRead()
    {
        QList<QJsonObject> lines;
        for (int i = 0; i < 200; ++i)
            lines << prompt(QStringLiteral("p%1").arg(i), i == 0 || i == 150 ? QStringLiteral("one") : QStringLiteral("two"));
        const QString path = write(newSessionPath(), lines);
        const auto session = TVLSession::initWithPath(path);
        QCOMPARE(session->exchanges().size(), size_t(200));
        TVLSearchIndex index;
        TVLSearchJob job = index.makeJob({session}, TVLSearchQuery::make("one", false));
        // Asked every 64 exchanges: stops at the second asking, before the 128th exchange.
        int asked = 0;
        QVERIFY(!job.run([&] { return ++asked >= 2; }));
        auto readTexts = [](const TVLSearchJob &j) {
            const auto &texts = j.sessions[0].texts().texts;
            return std::count_if(texts.begin(), texts.end(), [](const auto &text) { return text != nullptr; });
        };
        QCOMPARE(readTexts(job), 127);
        index.store(job, false);
        // An incomplete job leaves nothing to narrow from, but the next one starts from its texts.
        TVLSearchJob next = index.makeJob({session}, TVLSearchQuery::make("one more", false));
        QVERIFY(!next.sessions[0].previousMatched);
        QCOMPARE(readTexts(next), 127);
        TVLSearchJob again = index.makeJob({session}, TVLSearchQuery::make("one", false));
        QVERIFY(again.run({}));
        QCOMPARE(std::count(again.sessions[0].matched.begin(), again.sessions[0].matched.end(), 1), 2);
        QVERIFY(again.sessions[0].matched[0] && again.sessions[0].matched[150]);

        // The first match is reported as soon as it is found, not when its session is done.
        TVLSearchJob reported = index.makeJob({session}, TVLSearchQuery::make("one", false));
        std::vector<qsizetype> matchesAtReports;
        QVERIFY(reported.run({}, [&](size_t sessions) {
            const auto &matched = reported.sessions[0].matched;
            if (sessions == 1)
                matchesAtReports.push_back(std::count(matched.begin(), matched.end(), 1));
        }));
        QVERIFY(!matchesAtReports.empty());
        QCOMPARE(matchesAtReports.front(), 1);
    }

    void liveReadUnderAFilterMatchesTheNewExchanges()
    {
        const QString path = write(newSessionPath(), QList<QJsonObject>{prompt("p1", "needle one"), prompt("p2", "hay")});
        const auto session = TVLSession::initWithPath(path);
        session->setFilters("needle", 0, false);
        QCOMPARE(ids(session->displayChildren()), QStringList{"p1"});
        append(path, {line(prompt("p3", "more hay")), line(prompt("p4", "a needle again"))});
        QVERIFY(session->updateMessages());
        QCOMPARE(ids(session->displayChildren()), (QStringList{"p1", "p4"}));
        QVERIFY(!session->markdown().contains("more hay"));
        QVERIFY(session->markdown().contains("a needle again"));
    }

    void unopenedProjectsStayUntilTheyAreSearched()
    {
        const QString root = m_dir.filePath(QStringLiteral("r%1/projects").arg(++m_serial));
        write(root + "/-home-me-a/s.jsonl", QList<QJsonObject>{prompt("a1", "needle")});
        write(root + "/-home-me-b/s.jsonl", QList<QJsonObject>{prompt("b1", "hay")});
        const auto object = TVLRoot::initWithRootDir(root);
        QVERIFY(object);
        object->setFilters("needle", 0, false);
        // Neither project was read: both stay in view rather than being hidden unsearched.
        QCOMPARE(object->displayChildren().size(), size_t(2));
        for (const auto &child : object->children())
            static_cast<TVLProject *>(child.get())->loadIfNeeded();
        const auto shown = object->displayChildren();
        QCOMPARE(shown.size(), size_t(1));
        QVERIFY(shown.front()->path().endsWith("-home-me-a"));
    }
};

QTEST_GUILESS_MAIN(TestSearch)
#include "tst_search.moc"
