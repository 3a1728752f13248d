#include "LogCapture.h"
#include "Tavlo/DataObjects/TVLSession.h"
#include "Tavlo/Index/TVLLibraryIndex.h"
#include "Tavlo/Index/TVLPriceTable.h"
#include "Tavlo/Index/TVLSearchQuery.h"
#include "Tavlo/Index/TVLUsageSummary.h"
#include "TranscriptBuilder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <sqlite3.h>
#include <sys/stat.h>
#include <thread>

using namespace TranscriptBuilder;

namespace {
QJsonObject call(const QString &uuid, const QString &text, const QString &messageId, const QString &requestId,
                 const QJsonObject &counts, const QString &model = QStringLiteral("claude-sonnet-4-5-20250929"))
{
    QJsonObject line = assistant(uuid, text, messageId, counts, QStringLiteral("2025-06-01T10:00:05Z"));
    QJsonObject message = line["message"].toObject();
    message["model"] = model;
    line["message"] = message;
    line["requestId"] = requestId;
    return line;
}

TVLTokenUsage sum(TVLLibraryIndex &index, const QString &path)
{
    TVLTokenUsage total;
    for (const auto &record : index.usageRecords(path).records)
        total.addUsage(record.usage);
    return total;
}

// The same sum from the calls themselves: bounds off the quarter hours bypass the sums.
TVLTokenUsage sumOfCalls(TVLLibraryIndex &index, const QString &path)
{
    TVLTokenUsage total;
    for (const auto &record : index.usageRecords(path, -1).records)
        total.addUsage(record.usage);
    return total;
}

QStringList uuidsFound(TVLLibraryIndex &index, const QString &query, const QString &path)
{
    QStringList uuids;
    for (const auto &hit : index.search(query, path, 50).value_or(std::vector<TVLLibraryIndex::SearchHit>{}))
        uuids << hit.exchangeUuid;
    return uuids;
}
} // namespace

class TestLibraryIndex : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_root, m_s1, m_s2, m_agent, m_compaction, m_database;

private Q_SLOTS:
    void init()
    {
        QDir(m_dir.path()).removeRecursively();
        QDir().mkpath(m_dir.path());
        m_root = m_dir.filePath("projects");
        m_database = m_dir.filePath("cache/library.sqlite");
        m_s1 = m_root + "/-home-a/s1.jsonl";
        m_s2 = m_root + "/-home-b/s2.jsonl";
        m_agent = m_root + "/-home-a/s1/subagents/agent-task1.jsonl";
        m_compaction = m_root + "/-home-a/s1/subagents/agent-acompact-c1.jsonl";
        QJsonObject summary = prompt("sum", "summary", "2025-06-01T11:00:00Z");
        summary["isCompactSummary"] = true;
        summary["promptId"] = "P1";
        summary["message"] = QJsonObject{{"role", "user"}, {"content", "summary"}, {"usage", usage(9999, 9999)}};
        // A message streamed as two lines (the last one's counts are final), a compact summary
        // line whose own usage doesn't count, and what the compaction itself cost.
        write(m_s1, QList<QJsonObject>{prompt("p1", "Where is the Parser defined?", "2025-06-01T10:00:00Z"),
                                       call("a1", "Looking", "m1", "r1", usage(100, 10)),
                                       call("a2", "It is in parser.cpp", "m1", "r1", usage(100, 30)), summary});
        // A sub-agent whose lines carry no time.
        QJsonObject untimed = call("t2", "three callers", "m2", "r2", usage(50, 5));
        untimed.remove("timestamp");
        write(m_agent, QList<QJsonObject>{prompt("t1", "find callers"), untimed});
        QJsonObject compactionStart = prompt("c0", "compact");
        compactionStart["promptId"] = "P1";
        write(m_compaction, QList<QJsonObject>{compactionStart, call("c1", "draft", "m3", "r3", usage(7, 1)),
                                               call("c2", "final", "m4", "r4", usage(20, 2))});
        // A resumed session repeats the lines it continues.
        write(m_s2, QList<QJsonObject>{prompt("q1", "Resume: where is the parser?", "2025-06-02T09:00:00Z"),
                                       call("a1", "Looking", "m1", "r1", usage(100, 10)),
                                       call("a2", "It is in parser.cpp", "m1", "r1", usage(100, 30)),
                                       call("b1", "Done with the zebra", "m5", "r5", usage(1, 1), "claude-unknown-9")});
    }

    void countsEachModelCallOnceAsTheViewerDoes()
    {
        TVLLibraryIndex index(m_database);
        QVERIFY(index.update(m_s2).ok);
        QVERIFY(index.update(m_root).ok);
        // A call counts once in each session that holds it, as each session's total says.
        const TVLTokenUsage root = sum(index, m_root);
        QCOMPARE(root.inputTokens, 100 + 50 + 20 + 100 + 1);
        QCOMPARE(root.outputTokens, 30 + 5 + 2 + 30 + 1);
        // The session with its sub-agent and its compaction, as the viewer sums it.
        const auto session = TVLSession::initWithPath(m_s1);
        QVERIFY(session);
        QCOMPARE(sum(index, m_s1), *session->tokenUsage());
        // Sums by day (the sub-agent's call has no time) as from the calls themselves.
        const auto byDay = TVLUsageSummary::summarize(index.usageRecords(m_root), TVLUsageSummary::Grouping::Day,
                                                      TVLPriceTable::builtIn());
        const auto byDayOfCalls = TVLUsageSummary::summarize(index.usageRecords(m_root, -1), TVLUsageSummary::Grouping::Day,
                                                             TVLPriceTable::builtIn());
        QCOMPARE(byDay.rows.size(), size_t(2));
        QCOMPARE(byDay.rows.front().key, QString("(no date)"));
        QCOMPARE(byDay.rows.size(), byDayOfCalls.rows.size());
        for (size_t i = 0; i < byDay.rows.size(); ++i) {
            QCOMPARE(byDay.rows[i].key, byDayOfCalls.rows[i].key);
            QCOMPARE(byDay.rows[i].usage, byDayOfCalls.rows[i].usage);
        }
        QCOMPARE(sum(index, m_s2), *TVLSession::initWithPath(m_s2)->tokenUsage());

        const auto byModel = TVLUsageSummary::summarize(index.usageRecords(m_root), TVLUsageSummary::Grouping::Model,
                                                        TVLPriceTable::builtIn());
        QCOMPARE(byModel.rows.size(), size_t(2));
        QCOMPARE(byModel.rows.back().key, QString("claude-unknown-9"));
        QCOMPARE(byModel.rows.back().unpricedModels, QStringList{"claude-unknown-9"});
        QCOMPARE(byModel.totals.unpricedModels, QStringList{"claude-unknown-9"});
        // Sonnet 4.5 at $3 in and $15 out per million tokens.
        QCOMPARE(byModel.rows.front().costUSD, (270 * 3.0 + 67 * 15.0) / 1e6);
    }

    void copiesAndTitlesOfTodaysSessions()
    {
        TVLLibraryIndex index(m_database);
        const QString root = QStringLiteral(TAVLO_TEST_FIXTURES "/log-root/projects");
        QVERIFY(index.update(root).ok);
        // Sessions, with their asides, forks, replays and flat sub-agents, as the viewer counts them.
        for (const char *name : {"/-Users-me-app/today.jsonl", "/-home-me--dotfiles/dot-1.jsonl", "/-home-me-legacy/0aa1.jsonl"}) {
            const QString path = root + name;
            QCOMPARE(sum(index, path), *TVLSession::initWithPath(path)->tokenUsage());
        }
        // A replayed call keeps the day it was made.
        const auto days = TVLUsageSummary::summarize(index.usageRecords(root + "/-home-me--dotfiles"),
                                                     TVLUsageSummary::Grouping::Day, TVLPriceTable::builtIn());
        QCOMPARE(days.rows.size(), size_t(1));
        QCOMPARE(index.sessionTitle(root + "/C--Users-me--claude/win-claude.jsonl"), QString("settings cleanup [c:red]final"));
        QCOMPARE(index.sessionTitle(root + "/-home-me--dotfiles/dot-1.jsonl"), QString("Dotfiles: vim links"));
        QCOMPARE(index.sessionTitle(root + "/-work--scratch-app/scratch-1.jsonl"), QString("Try the new parser"));
        const auto hits = index.search("invoice", root, 5);
        QVERIFY(hits && !hits->empty());
        QCOMPARE(hits->front().sessionTitle, QString());
        const auto titled = index.search("letters", root, 5);
        QVERIFY(titled && !titled->empty());
        QCOMPARE(titled->front().sessionTitle, QString("Summary of the client letters"));
    }

    // The agents of a session's workflow runs count with the session, as in the viewer; its
    // journals, meta files and empty transcripts are no trouble.
    void countsWorkflowAgentsWithTheirSession()
    {
        const QString root = copyFixture("workflow", m_dir.filePath("workflow-root"));
        const QString path = root + "/-home-me-ledger/3f9e2a10-6c4b-4d8e-a1f2-7b5c9d0e1a23.jsonl";
        LogCapture log;
        TVLLibraryIndex index(m_database);
        QVERIFY(index.update(root).ok);
        const auto session = TVLSession::initWithPath(path);
        QVERIFY(session);
        QCOMPARE(sum(index, path), *session->tokenUsage());
        QCOMPARE(sumOfCalls(index, path), *session->tokenUsage());
        QCOMPARE(sum(index, path).outputTokens, 140 + 66 + 120);
        QVERIFY2(log.lines().isEmpty(), qPrintable(log.lines().join('\n')));
        // A run that appears later is found by the next update.
        write(root + "/-home-me-ledger/3f9e2a10-6c4b-4d8e-a1f2-7b5c9d0e1a23/subagents/workflows/wf_9/agent-c1.jsonl",
              QList<QJsonObject>{prompt("c1-p", "More"), call("c1-a", "more", "msg-c1", "req-c1", usage(1, 1000))});
        QVERIFY(index.update(root).ok);
        QCOMPARE(sum(index, path).outputTokens, 140 + 66 + 120 + 1000);
    }

    void followsAppendsRewritesAndRemovals()
    {
        TVLLibraryIndex index(m_database);
        QVERIFY(index.update(m_root).ok);
        QCOMPARE(index.update(m_root).filesRead, 0);

        // An answer appended to the last exchange, a line still being written, a new prompt.
        const QString answer = line(call("a3", "The zebra crossing", "m6", "r6", usage(3, 3)));
        append(m_s1, {answer});
        QFile file(m_s1);
        QVERIFY(file.open(QIODevice::Append));
        file.write("{\"type\":\"user\",\"uuid\":\"p2\",\"message\":{\"role\":\"user\",\"content\":\"giraffe");
        file.close();
        const auto appended = index.update(m_root);
        QCOMPARE(appended.filesRead, 1);
        QCOMPARE(appended.bytesRead, answer.toUtf8().size() + 1);
        QCOMPARE(uuidsFound(index, "zebra", m_root + "/-home-a"), QStringList{"p1"});
        QCOMPARE(uuidsFound(index, "giraffe", m_root), QStringList{});
        QVERIFY(file.open(QIODevice::Append));
        file.write("\"}}\n");
        file.close();
        QVERIFY(index.update(m_root).ok);
        QCOMPARE(uuidsFound(index, "giraffe", m_root), QStringList{"p2"});
        QCOMPARE(sum(index, m_s1).outputTokens, 30 + 3 + 5 + 2);
        QCOMPARE(sum(index, m_root), sumOfCalls(index, m_root));

        // A rewritten file is read again from its start; a removed one is forgotten.
        write(m_s2, QList<QJsonObject>{prompt("q9", "Something else entirely")});
        QFile::remove(m_agent);
        const auto changed = index.update(m_root);
        QCOMPARE(changed.filesRemoved, 1);
        QCOMPARE(uuidsFound(index, "parser", m_root), QStringList{"p1"});
        QCOMPARE(sum(index, m_root).outputTokens, 30 + 3 + 2);
        QCOMPARE(sum(index, m_root), sumOfCalls(index, m_root));

        // Calls a sub-agent held until its session wrote them too move to the session, several
        // in one update, and count once; also in an index made before that worked, once opened.
        LogCapture log;
        const QString copy = m_root + "/-home-b/s2/subagents/agent-copy.jsonl";
        write(copy, QList<QJsonObject>{prompt("k1", "copy"), call("k2", "one", "m7", "r7", usage(1, 100)),
                                       call("k3", "two", "m8", "r8", usage(1, 200))});
        QVERIFY(index.update(m_root).ok);
        sqlite3 *older = nullptr;
        QCOMPARE(sqlite3_open(QFile::encodeName(m_database).constData(), &older), SQLITE_OK);
        QCOMPARE(sqlite3_exec(older, "DROP TRIGGER usage_moved; CREATE TRIGGER usage_moved AFTER UPDATE OF file_id ON usage "
                                     "WHEN old.file_id <> new.file_id BEGIN INSERT OR IGNORE INTO files_left VALUES(old.file_id); END;",
                              nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(older);
        TVLLibraryIndex reopened(m_database);
        append(m_s2, {line(call("q2", "one", "m7", "r7", usage(1, 100))), line(call("q3", "two", "m8", "r8", usage(1, 200)))});
        QVERIFY(reopened.update(m_root).ok);
        QVERIFY2(log.lines().isEmpty(), qPrintable(log.lines().join('\n')));
        QCOMPARE(sum(reopened, m_s2), *TVLSession::initWithPath(m_s2)->tokenUsage());
        QCOMPARE(sum(reopened, m_root), sumOfCalls(reopened, m_root));
    }

    void aCancelledUpdateKeepsWhatItWroteAndTheNextOneFinishes()
    {
        TVLLibraryIndex index(m_database);
        std::atomic<bool> cancel = false;
        std::vector<TVLLibraryIndex::Progress> seen;
        const auto first = index.update(m_root, [&](const TVLLibraryIndex::Progress &progress) {
            seen.push_back(progress);
            cancel = true;
        }, &cancel);
        QVERIFY(first.ok && first.cancelled);
        QCOMPARE(first.filesRead, 1);
        QCOMPARE(seen.size(), size_t(1));
        QCOMPARE(seen.front().filesDone, 1);
        QCOMPARE(seen.front().filesTotal, 4);
        QVERIFY(seen.front().bytesDone > 0 && seen.front().bytesDone < seen.front().bytesTotal);
        const auto rest = index.update(m_root);
        QVERIFY(rest.ok && !rest.cancelled);
        QCOMPARE(rest.filesRead, 3);
        QCOMPARE(sum(index, m_root).inputTokens, 100 + 50 + 20 + 100 + 1);
    }

    void hugeCountsSaturateAndNeverStopAnUpdate()
    {
        // Counts past the 64-bit range, and counts whose sums overflow it, in a file read before
        // the others: it must neither wrap, nor roll back the update of every file after it.
        const QString hostile = m_root + "/-a-first/huge.jsonl";
        const auto callLine = [](const char *id, const char *input) {
            return QStringLiteral(R"({"type":"assistant","uuid":"u%1","timestamp":"2025-06-01T10:00:00Z","requestId":"hr%1",)"
                                  R"("message":{"id":"hm%1","role":"assistant","model":"claude-sonnet-4-5-20250929",)"
                                  R"("content":[{"type":"text","text":"x"}],"usage":{"input_tokens":%2,"output_tokens":1}}})")
                .arg(QString::fromLatin1(id), QString::fromLatin1(input));
        };
        write(hostile, QStringList{callLine("1", "1e19"), callLine("2", "9223372036854775807"),
                                   callLine("3", "9223372036854775807")});
        TVLLibraryIndex index(m_database);
        LogCapture log;
        QVERIFY(index.update(m_root).ok);
        QCOMPARE(log.count("integer overflow"), 0);
        QCOMPARE(sum(index, m_root + "/-home-a").inputTokens, 100 + 50 + 20);
        const qint64 max = std::numeric_limits<qint64>::max();
        const auto session = TVLSession::initWithPath(hostile);
        QCOMPARE(session->tokenUsage()->inputTokens, max);
        QCOMPARE(sum(index, hostile).inputTokens, max);
        QCOMPARE(sumOfCalls(index, hostile).inputTokens, max);
        TVLTokenUsage big;
        big.inputTokens = max;
        big.addUsage(big);
        QCOMPARE(big.inputTokens, max);
        QCOMPARE(big.totalTokens(), max);
    }

    void searchesWithQuerySyntaxWithinAScope()
    {
        TVLLibraryIndex index(m_database);
        QVERIFY(index.update(m_root).ok);
        const struct
        {
            const char *query;
            QStringList uuids;
        } cases[] = {
            {"PARSER", {"p1", "q1"}},           // prompts and answers, any case
            {"\"parser.cpp\"", {"p1", "q1"}},  // a phrase
            {"gira* OR zeb*", {"q1"}},          // prefixes
            {"callers", {"t1"}},                // sub-agents are searched too
            {"final", {}},                      // compactions are not
            {"parser.cpp", {"p1", "q1"}},       // words with marks in them are searched as words
            {"where-is", {"p1", "q1"}},
            {"(zebra OR callers) -", {"q1", "t1"}},
        };
        for (const auto &test : cases) {
            QStringList found = uuidsFound(index, QString::fromUtf8(test.query), m_root);
            found.sort();
            QCOMPARE(found, test.uuids);
        }
        QCOMPARE(uuidsFound(index, "parser", m_s2), QStringList{"q1"});
        const auto hits = index.search("zebra", m_root, 5).value();
        QCOMPARE(hits.front().session, m_s2);
        QVERIFY(hits.front().snippet.contains(QString(TVLLibraryIndex::kMatchStart) + "zebra" + TVLLibraryIndex::kMatchEnd));
        QString error;
        QVERIFY(!index.search("parser AND", m_root, 5, &error));
        QVERIFY(!error.isEmpty());
    }

    void typedTextBecomesAQueryTheIndexTakes()
    {
        const struct
        {
            const char *typed;
            const char *query;
        } cases[] = {
            {"C++", "\"C++\""},
            {"foo-bar baz", "\"foo-bar\" baz"},
            {"gira* OR ^zeb*", "gira* OR ^zeb*"},
            {"(a OR b) NOT c", "(a OR b) NOT c"},
            {"\"a \"\"b\"\" c\" d", "\"a \"\"b\"\" c\" d"},
            {"\"unclosed phrase", "\"unclosed phrase\""},
            {"a - + b", "a b"},
            {"(unpaired x", "\"(unpaired\" x"},
            {"say \"hi\"there", "say \"hi\" there"},
            {"x:y", "\"x:y\""},
        };
        for (const auto &test : cases)
            QCOMPARE(TVLSearchQuery::forIndex(QString::fromUtf8(test.typed)), QString::fromUtf8(test.query));
    }

    void damagedOrForeignDatabasesAreBuiltAgain()
    {
        const auto foreign = [this] {
            sqlite3 *db = nullptr;
            sqlite3_open(QFile::encodeName(m_database).constData(), &db);
            sqlite3_exec(db, "CREATE TABLE t(x); PRAGMA user_version = 99;", nullptr, nullptr, nullptr);
            sqlite3_close(db);
        };
        const auto garbage = [this] {
            QFile file(m_database);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(QByteArray(8192, 'x'));
        };
        for (const std::function<void()> &spoil : {std::function<void()>(foreign), std::function<void()>(garbage)}) {
            QDir(m_dir.filePath("cache")).removeRecursively();
            QDir().mkpath(m_dir.filePath("cache"));
            spoil();
            LogCapture log;
            TVLLibraryIndex index(m_database);
            QVERIFY(index.update(m_root).ok);
            QCOMPARE(log.count("WARNING: The library index"), 1);
            QCOMPARE(sum(index, m_root).outputTokens, 68);
            QCOMPARE(QDir(m_dir.filePath("cache")).entryList({"library.sqlite.unusable-*"}).size(), 1);
        }
    }

    void onlyTheUserCanReadTheIndex()
    {
        const QString cache = m_dir.filePath("cache");
        const auto mode = [](const QString &path) { return QFileInfo(path).permissions() & 0x0077; };
        {
            TVLLibraryIndex index(m_database);
            QVERIFY(index.update(m_root).ok);
            QCOMPARE(mode(cache), 0);
            for (const char *suffix : {"", "-wal", "-shm"})
                QCOMPARE(mode(m_database + suffix), 0);
        }
        // Found looser (made by an older version, or by hand): tightened, and said so.
        QVERIFY(::chmod(QFile::encodeName(cache).constData(), 0755) == 0);
        QVERIFY(::chmod(QFile::encodeName(m_database).constData(), 0644) == 0);
        LogCapture log;
        TVLLibraryIndex again(m_database);
        QCOMPARE(mode(cache), 0);
        QCOMPARE(mode(m_database), 0);
        QCOMPARE(log.count("it is now private to you"), 2);
    }

    void aSetAsideFileIsMovedWholeAndOthersFollowToTheNewOne()
    {
        TVLLibraryIndex first(m_database);
        QVERIFY(first.update(m_root).ok);
        // Damaged under the open connection: the next one sets it aside, with its log and shared
        // memory, which the first connection still has open; nothing is deleted.
        sqlite3 *other = nullptr;
        sqlite3_open(QFile::encodeName(m_database).constData(), &other);
        QCOMPARE(sqlite3_exec(other, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(other);
        {
            QFile file(m_database);
            QVERIFY(file.open(QIODevice::ReadWrite));
            file.write(QByteArray(100, 'x'));
        }
        TVLLibraryIndex second(m_database);
        QVERIFY(second.isOpen());
        QStringList aside = QDir(m_dir.filePath("cache")).entryList({"library.sqlite.unusable-*"});
        aside.sort();
        QCOMPARE(aside.size(), 3);
        QVERIFY(aside[1].endsWith("-shm") && aside[2].endsWith("-wal"));
        // The first connection opens the new file rather than writing on in the one set aside.
        QVERIFY(first.update(m_root).ok);
        TVLLibraryIndex third(m_database);
        QCOMPARE(sum(third, m_root).outputTokens, 68);
    }

    void aBusyFileIsWaitedForAndNeverSetAside()
    {
        {
            TVLLibraryIndex index(m_database);
            QVERIFY(index.update(m_root).ok);
        }
        // Another process holds the file for longer than a connection waits.
        sqlite3 *holder = nullptr;
        QCOMPARE(sqlite3_open(QFile::encodeName(m_database).constData(), &holder), SQLITE_OK);
        QCOMPARE(sqlite3_exec(holder, "PRAGMA locking_mode = EXCLUSIVE; BEGIN EXCLUSIVE; DELETE FROM files_left;", nullptr,
                              nullptr, nullptr), SQLITE_OK);
        TVLLibraryIndex::setBusyTimeout(200);
        {
            LogCapture log;
            TVLLibraryIndex busy(m_database);
            QVERIFY(!busy.isOpen());
            QCOMPARE(log.count("is busy"), 1);
            QCOMPARE(QDir(m_dir.filePath("cache")).entryList({"library.sqlite.unusable-*"}), QStringList());
        }
        TVLLibraryIndex::setBusyTimeout(10000);
        sqlite3_exec(holder, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(holder);
        TVLLibraryIndex index(m_database);
        QCOMPARE(sum(index, m_root).outputTokens, 68);
    }

    void twoConnectionsMakingANewFileAtOnceBothUseIt()
    {
        // The viewer's two index threads, or a command run beside it, may open a file that does
        // not exist yet at the same moment, and add the same transcripts to it; neither may take
        // the other's new tables for foreign, nor fail on the files the other added.
        for (int round = 0; round < 40; ++round) {
            QDir(m_dir.filePath("cache")).removeRecursively();
            std::atomic<bool> go = false;
            std::atomic<int> working = 0;
            auto open = [&] {
                while (!go)
                    std::this_thread::yield();
                TVLLibraryIndex index(m_database);
                // Each then brings the same new file into the index at once, and reads it back.
                if (index.isOpen() && index.update(m_s1).ok && sum(index, m_s1).inputTokens == 100 + 50 + 20)
                    ++working;
            };
            std::thread first(open), second(open);
            go = true;
            first.join();
            second.join();
            QCOMPARE(QDir(m_dir.filePath("cache")).entryList({"library.sqlite.unusable-*"}), QStringList());
            QCOMPARE(working.load(), 2);
        }
    }

    void pricesModelsByTheirIds()
    {
        const TVLPriceTable &prices = TVLPriceTable::builtIn();
        QVERIFY(!prices.date().isEmpty());
        const struct
        {
            const char *model;
            double input;
        } cases[] = {{"claude-sonnet-4-5-20250929", 3}, {"claude-opus-4-20250514", 15}, {"claude-opus-4-5", 5},
                     {"claude-haiku-4-5-20251001[1m]", 1}, {"claude-opus-4-9", -1}, {"<synthetic>", -1}};
        for (const auto &test : cases) {
            const auto price = prices.priceForModel(QString::fromUtf8(test.model));
            QCOMPARE(price ? price->input : -1.0, test.input);
        }
        // 1,000,000 cache-write tokens of which 400,000 for an hour, at $3.75 and $6.
        TVLTokenUsage usage;
        usage.cacheCreationInputTokens = 1000000;
        usage.ephemeral1hInputTokens = 400000;
        QCOMPARE(TVLPriceTable::cost(*prices.priceForModel("claude-sonnet-4-5"), usage), 0.6 * 3.75 + 0.4 * 6);
        QString error;
        QVERIFY(!TVLPriceTable::fromJson("{\"date\": \"2026-01-01\", \"models\": {\"m\": {\"input\": \"x\"}}}", &error));
        QVERIFY(error.contains("input"));
    }
};

QTEST_GUILESS_MAIN(TestLibraryIndex)
#include "tst_libraryindex.moc"
