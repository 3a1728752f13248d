#include "Halvex/Foundation/HVXDefaults.h"
#include "Tavlo/DataObjects/TVLExchange.h"
#include "Tavlo/DataObjects/TVLMessage.h"
#include "Tavlo/DataObjects/TVLProject.h"
#include "Tavlo/DataObjects/TVLSession.h"
#include "Tavlo/DataObjects/TVLSubagent.h"
#include "Tavlo/DataObjects/TVLWorkflowRecord.h"
#include "Tavlo/DataObjects/TVLWorkflowRun.h"
#include "LogCapture.h"
#include "TranscriptBuilder.h"

#include <QDir>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

using namespace TranscriptBuilder;

class TestSubagents : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    int m_counter = 0;

    // A fresh session S.jsonl and its sub-agent folder S/subagents.
    QString newSessionPath()
    {
        return m_dir.filePath(QStringLiteral("projects/-home-me-app/session%1.jsonl").arg(++m_counter));
    }
    static QString subagentsDir(const QString &sessionPath) { return sessionPath.chopped(6) + "/subagents"; }

    static QList<QJsonObject> parentLines()
    {
        QJsonObject compact = prompt("c1", "summary");
        compact.insert("isCompactSummary", true);
        compact.insert("promptId", "P");
        QJsonObject inFour = assistant("a4", "four");
        inFour.insert("promptId", "P");
        inFour.insert("timestamp", "2025-06-01T10:00:00Z");
        QJsonObject inFive = assistant("a5", "five");
        inFive.insert("promptId", "P");
        inFive.insert("timestamp", "2025-06-01T11:00:00Z");
        return {
            prompt("e1", "one"),
            prompt("e2", "two"),
            toolCall("call", "toolu_1", "m2", usage(1, 1)),
            prompt("e3", "three"),
            toolResult("res", "toolu_1", QJsonObject{{"agentId", "task1"}}),
            toolResult("res2", "toolu_missing", QJsonObject{{"agentId", "task2"}}),
            prompt("e4", "four"),
            inFour,
            prompt("e5", "five"),
            inFive,
            compact,
        };
    }

    static QJsonObject identity(const QString &key, const QString &value, const QString &slug = {})
    {
        QJsonObject line = assistant("s-" + value, "sub work", "sm-" + value, usage(100, 10));
        line.insert(key, value);
        if (!slug.isEmpty())
            line.insert("slug", slug);
        return line;
    }

private Q_SLOTS:
    void initTestCase() { HVXDefaults::useStoreAtPath(m_dir.filePath("settings.ini")); }

    void kindsFollowTheFileName()
    {
        QCOMPARE(TVLSubagent::kindForFileName("agent-acompact-1.jsonl"), TVLSubagent::Compaction);
        QCOMPARE(TVLSubagent::kindForFileName("agent-aside_question-1.jsonl"), TVLSubagent::Aside);
        QCOMPARE(TVLSubagent::kindForFileName("agent-x.jsonl"), TVLSubagent::Task);
        QCOMPARE(TVLSubagent::kindForFileName("other.jsonl"), TVLSubagent::Unknown);
    }

    void subagentsAreAnchoredClassifiedAndCredited()
    {
        const QString path = write(newSessionPath(), parentLines());
        const QString dir = subagentsDir(path);
        write(dir + "/agent-task1.jsonl", QList<QJsonObject>{identity("agentId", "task1", "fix-build")});
        write(dir + "/agent-task2.jsonl", QList<QJsonObject>{identity("agentId", "task2")});
        write(dir + "/agent-nobody.jsonl", QList<QJsonObject>{assistant("n1", "x", "nm", usage(1, 1))});
        write(dir + "/agent-aside_question-q.jsonl", QList<QJsonObject>{identity("logicalParentUuid", "a4", "why")});
        QJsonObject compactionFirst = prompt("cp1", "compact please");
        compactionFirst.insert("promptId", "P");
        write(dir + "/agent-acompact-z.jsonl",
              QList<QJsonObject>{compactionFirst, assistant("cpa", "first", "cm1", usage(5, 5)),
                                 assistant("cpb", "last", "cm2", usage(1000, 200, 30, 40)), toolResult("cpr", "t")});
        write(dir + "/notes.jsonl", QStringList{line(assistant("x", "y"))});
        QDir().mkpath(dir + "/agent-folder.jsonl");

        const auto session = TVLSession::initWithPath(path);
        QStringList titles;
        for (const auto &subagent : session->subagents())
            titles << subagent->displayTitle();
        // Sorted by file name; the compaction is not shown.
        QCOMPARE(titles, (QStringList{"Aside: why", "Subagent: agent-nobody.jsonl", "Subagent: fix-build", "Subagent: task2"}));
        const auto anchorOf = [&](const QString &title) {
            for (const auto &subagent : session->subagents())
                if (subagent->displayTitle() == title)
                    return subagent->anchorUuid();
            return QStringLiteral("?");
        };
        QCOMPARE(anchorOf("Subagent: fix-build"), QStringLiteral("e2"));  // the exchange of the tool call
        QCOMPARE(anchorOf("Subagent: task2"), QStringLiteral("e3"));      // no call found: the result's exchange
        QCOMPARE(anchorOf("Aside: why"), QStringLiteral("e4"));
        QCOMPARE(anchorOf("Subagent: agent-nobody.jsonl"), QString());

        QStringList shown;
        for (const auto &child : session->displayChildren())
            shown << (dynamic_cast<TVLExchange *>(child.get()) ? static_cast<TVLExchange *>(child.get())->uuid()
                                                                : static_cast<TVLSubagent *>(child.get())->displayTitle());
        QCOMPARE(shown, (QStringList{"e1", "e2", "Subagent: fix-build", "e3", "Subagent: task2", "e4", "Aside: why", "e5",
                                     "Subagent: agent-nobody.jsonl"}));
        QCOMPARE(session->displayTitle().right(4), QStringLiteral(" [4]"));

        // The compact summary carries the compaction's last assistant usage.
        TVLMessage *summary = session->messages().back();
        QVERIFY(summary->isCompactSummary());
        QCOMPARE(summary->tokenUsage(), std::optional<TVLTokenUsage>(TVLTokenUsage{1000, 200, 30, 40, 0, 0}));
        QVERIFY(summary->htmlBlock().contains("| *# tokens* | 1,000 | 30 | 40 | 200 |")
                || summary->htmlBlock().contains("| *# tokens* | 1000 | 30 | 40 | 200 |"));
        // Session total: own lines (2 + compaction 1270) plus the visible sub-agents (3 × 110 + 2).
        QCOMPARE(session->tokenUsage()->totalTokens(), 2 + 1270 + 3 * 110 + 2);
        // Exchanges of sub-agents are found through the session.
        QVERIFY(session->exchangeWithUuid("cp1") == nullptr);
        QVERIFY(session->exchangeWithUuid("e5"));
    }

    // The count goes after the title, even when the title itself reads like a place marker.
    // Compaction transcripts as recent versions write them: meta lines, one request and its answer,
    // ending just before the parent's boundary line; no line names a prompt id unless given.
    static QList<QJsonObject> compactionLines(const QString &end, qint64 input, const QString &promptId)
    {
        QJsonObject meta = prompt("m-" + end, "<command-name>/compact</command-name>", end);
        meta.insert("isMeta", true);
        QJsonObject request = prompt("r-" + end, "Summarise the conversation", end);
        QJsonObject answer = assistant("x-" + end, "summary", "cm-" + end, usage(input, 10), end);
        if (!promptId.isEmpty())
            for (QJsonObject *line : {&meta, &request, &answer})
                line->insert("promptId", promptId);
        return {meta, meta, request, answer};
    }

    // A session with a compact boundary and summary line at each given time ("time|promptId").
    static QList<QJsonObject> compactedSession(const QStringList &summaries)
    {
        QList<QJsonObject> lines{prompt("p1", "start", "2025-06-01T09:00:00.000Z"),
                                 assistant("a1", "ok", "m1", usage(1, 0), "2025-06-01T09:00:05.000Z")};
        for (const QString &summary : summaries) {
            const QString time = summary.section('|', 0, 0);
            const QString promptId = summary.section('|', 1);
            const qint64 msecs = QDateTime::fromString(time, Qt::ISODateWithMs).toMSecsSinceEpoch();
            lines.append(QJsonObject{{"type", "system"},
                                     {"subtype", "compact_boundary"},
                                     {"uuid", QString("b-" + time)},
                                     {"parentUuid", QJsonValue::Null},
                                     {"logicalParentUuid", "a1"},
                                     {"compactMetadata", QJsonObject{{"trigger", "auto"}, {"preTokens", 150000}}},
                                     {"timestamp", QDateTime::fromMSecsSinceEpoch(msecs - 1, Qt::UTC)
                                                       .toString(Qt::ISODateWithMs)}});
            QJsonObject line = prompt("s-" + time, "This session is being continued", time);
            line.insert("isCompactSummary", true);
            if (!promptId.isEmpty())
                line.insert("promptId", promptId);
            lines.append(line);
        }
        lines.append(prompt("p2", "go on", "2025-06-01T12:00:00.000Z"));
        lines.append(assistant("a2", "done", "m2", usage(1, 0), "2025-06-01T12:00:05.000Z"));
        return lines;
    }

    void compactionsCountOnce_data()
    {
        QTest::addColumn<QStringList>("summaries");       // "time|promptId"
        QTest::addColumn<QStringList>("compactions");     // "end|input|promptId"
        QTest::addColumn<QList<qint64>>("creditedInput"); // per summary line, -1 for none
        QTest::newRow("no prompt ids") << QStringList{"2025-06-01T10:00:00.501Z"}
                                       << QStringList{"2025-06-01T10:00:00.100Z|1000|"} << QList<qint64>{1000};
        QTest::newRow("two compactions")
            << QStringList{"2025-06-01T10:00:00.501Z", "2025-06-01T11:00:00.501Z"}
            << QStringList{"2025-06-01T11:00:00.200Z|2000|", "2025-06-01T10:00:00.100Z|1000|"}
            << QList<qint64>{1000, 2000};
        QTest::newRow("prompt id before time")
            << QStringList{"2025-06-01T10:00:00.501Z|P", "2025-06-01T11:00:00.501Z"}
            << QStringList{"2025-06-01T11:00:00.200Z|1000|P", "2025-06-01T11:00:00.300Z|2000|"}
            << QList<qint64>{1000, 2000};
        QTest::newRow("summary too late") << QStringList{"2025-06-01T10:05:00.000Z"}
                                          << QStringList{"2025-06-01T10:00:00.100Z|1000|"} << QList<qint64>{-1};
        QTest::newRow("no summary line") << QStringList{} << QStringList{"2025-06-01T10:00:00.100Z|1000|"}
                                         << QList<qint64>{};
    }

    void compactionsCountOnce()
    {
        QFETCH(QStringList, summaries);
        QFETCH(QStringList, compactions);
        QFETCH(QList<qint64>, creditedInput);
        const QString project = m_dir.filePath(QStringLiteral("compacted/-home-me-c%1").arg(++m_counter));
        const QString path = write(project + "/s.jsonl", compactedSession(summaries));
        qint64 compactionInput = 0;
        for (const QString &compaction : compactions) {
            const QStringList fields = compaction.split('|');
            write(subagentsDir(path) + "/agent-acompact-" + QString::number(compactionInput) + ".jsonl",
                  compactionLines(fields[0], fields[1].toLongLong(), fields[2]));
            compactionInput += fields[1].toLongLong();
        }

        const auto session = TVLSession::initWithPath(path);
        auto check = [&](qint64 ownInput) {
            QList<qint64> credited;
            for (TVLMessage *message : session->messages())
                if (message->isCompactSummary())
                    credited << (message->tokenUsage() ? message->tokenUsage()->inputTokens : -1);
            QCOMPARE(credited, creditedInput);
            QCOMPARE(session->tokenUsage()->inputTokens, ownInput + compactionInput);
            qint64 inExchanges = 0;
            for (const auto &exchange : session->exchanges())
                inExchanges += exchange->tokenUsage() ? exchange->tokenUsage()->inputTokens : 0;
            const qint64 unpaired = session->unpairedCompactionUsage() ? session->unpairedCompactionUsage()->inputTokens : 0;
            QCOMPARE(inExchanges + unpaired, ownInput + compactionInput);
        };
        check(2);
        // Reading what was appended credits the compactions anew, not twice.
        append(path, {line(assistant("a3", "more", "m3", usage(1, 0), "2025-06-01T12:00:06.000Z"))});
        QVERIFY(session->updateMessages());
        check(3);

        const auto loaded = TVLProject::initWithRootDir(project);
        loaded->loadIfNeeded();
        QCOMPARE(loaded->tokenUsage()->inputTokens, 3 + compactionInput);
    }

    void copiedCallsCountWhereTheyWereWrittenFirst()
    {
        const QString root = QStringLiteral(TAVLO_TEST_FIXTURES "/log-root/projects");
        // An aside and a forked worker repeat the session's calls; only their own count.
        const auto today = TVLSession::initWithPath(root + "/-Users-me-app/today.jsonl");
        QCOMPARE(today->subagents().size(), size_t(2));
        const TVLTokenUsage own{1000 + 1100 + 1200, 200 + 300 + 250, 500, 4000 + 4500 + 5000, 0, 0};
        const TVLTokenUsage aside{400, 90, 0, 800, 0, 0}, fork{600, 120, 0, 900, 0, 0};
        QCOMPARE(*today->subagents()[0]->tokenUsage(), aside);
        QCOMPARE(*today->subagents()[1]->tokenUsage(), fork);
        TVLTokenUsage total = own;
        total.addUsage(aside);
        total.addUsage(fork);
        QCOMPARE(*today->tokenUsage(), total);
        // The copies are still lines of the sub-agent, marked.
        const auto forkLines = today->subagents()[1]->messages();
        const auto copies = std::count_if(forkLines.begin(), forkLines.end(),
                                          [](TVLMessage *message) { return message->countedElsewhere(); });
        QCOMPARE(copies, 3);

        // A resumed session replays its calls without request ids: each counts once.
        const auto resumed = TVLSession::initWithPath(root + "/-home-me--dotfiles/dot-1.jsonl");
        QCOMPARE(*resumed->tokenUsage(), (TVLTokenUsage{180, 70, 10, 760, 0, 0}));
    }

    void flatSubagentsBelongToTheirSession()
    {
        const QString legacy = QStringLiteral(TAVLO_TEST_FIXTURES "/log-root/projects/-home-me-legacy");
        const auto project = TVLProject::initWithRootDir(legacy);
        project->loadIfNeeded();
        // The sub-agent beside its session is with it; one whose session is gone is a session.
        QCOMPARE(project->sessionLookup().keys(), QStringList({legacy + "/0aa1.jsonl", legacy + "/agent-9z9z.jsonl"}));
        const auto session = project->sessionLookup().value(legacy + "/0aa1.jsonl");
        QCOMPARE(session->subagents().size(), size_t(1));
        QCOMPARE(session->subagents()[0]->path(), legacy + "/agent-1b2c.jsonl");
        QCOMPARE(*session->tokenUsage(), (TVLTokenUsage{110, 50, 0, 0, 0, 0}));
    }

    void subagentCountFollowsATitleWithPercentSigns()
    {
        const QString path = write(m_dir.filePath("projects/-home-me-app/report %1 %2.jsonl"),
                                   QList<QJsonObject>{prompt("p1", "fix %1 and %2")});
        write(subagentsDir(path) + "/agent-t.jsonl", QList<QJsonObject>{identity("agentId", "t")});
        HVXDefaults::standard().setInteger(QStringLiteral("TVLSessionDisplayMode"), 3);
        const auto session = TVLSession::initWithPath(path);
        HVXDefaults::standard().remove(QStringLiteral("TVLSessionDisplayMode"));
        QCOMPARE(session->displayTitle(), QStringLiteral("fix %1 and %2 [1]"));
    }

    void compactionAnchorIsTheLatestLineOfItsPrompt()
    {
        const QString path = write(newSessionPath(), parentLines());
        QJsonObject first = prompt("cp1", "compact");
        first.insert("promptId", "P");
        write(subagentsDir(path) + "/agent-acompact-a.jsonl", QList<QJsonObject>{first});
        auto session = TVLSession::initWithPath(path);
        // Only the compaction exists, and it is hidden.
        QVERIFY(session->subagents().empty());
        std::vector<std::shared_ptr<TVLSubagent>> list{TVLSubagent::initWithPath(subagentsDir(path) + "/agent-acompact-a.jsonl")};
        session->resolveSubagentAnchors(list);
        QCOMPARE(list[0]->anchorUuid(), QStringLiteral("e5"));
    }

    void subagentsFollowTheirFolder()
    {
        const QString path = write(newSessionPath(), QList<QJsonObject>{prompt("e1", "one")});
        const auto session = TVLSession::initWithPath(path);
        QVERIFY(session->subagents().empty());
        const QString agent = write(subagentsDir(path) + "/agent-a.jsonl", QList<QJsonObject>{identity("agentId", "a")});
        session->loadSubagents();
        QCOMPARE(session->subagents().size(), size_t(1));
        const auto kept = session->subagents()[0];
        append(agent, {line(prompt("sub-p", "more"))});
        session->loadSubagents();
        QCOMPARE(session->subagents()[0], kept);  // the same object, read again
        QCOMPARE(kept->exchanges().size(), size_t(2));
        QVERIFY(QDir(subagentsDir(path)).removeRecursively());
        session->loadSubagents();
        QVERIFY(session->subagents().empty());
    }

    void symbolicLinkLoopsAreHarmless()
    {
        const QString path = write(newSessionPath(), QList<QJsonObject>{prompt("e1", "one")});
        const QString dir = subagentsDir(path);
        QDir().mkpath(dir);
        QVERIFY(QFile::link(dir + "/agent-loop.jsonl", dir + "/agent-loop.jsonl"));
        QVERIFY(QFile::link(dir, dir + "/agent-dir.jsonl"));
        const auto session = TVLSession::initWithPath(path);
        QCOMPARE(session->exchanges().size(), size_t(1));
        for (const auto &subagent : session->subagents())
            QVERIFY(subagent->exchanges().empty());
        QVERIFY(!TVLSession::initWithPath(dir + "/agent-dir.jsonl"));
    }

    // A workflow run follows the exchange whose Workflow call started it, named after its run
    // record, its agents beneath it; meta files name sub-agents; journals, meta files and empty
    // transcripts are no sub-agents and no errors; the agents' usage counts once.
    void workflowRunsUnderTheirExchanges()
    {
        const QString root = copyFixture("workflow", m_dir.filePath("workflow-tree"));
        LogCapture log;
        const auto session = TVLSession::initWithPath(root + "/-home-me-ledger/3f9e2a10-6c4b-4d8e-a1f2-7b5c9d0e1a23.jsonl");
        QVERIFY(session);
        QStringList rows;
        for (const auto &child : session->displayChildren()) {
            const auto *exchange = dynamic_cast<const TVLExchange *>(child.get());
            rows << (exchange ? exchange->uuid() : child->displayTitle());
        }
        QCOMPARE(rows, (QStringList{"u-1", "Workflow: verify-formula-insertions", "u-2",
                                    "Subagent: senior-architect \u2014 Deep analysis of pipeline failures", "u-3",
                                    "Workflow: wf_0b7a22c1-e41"}));
        const auto &runs = session->workflowRuns();
        QCOMPARE(runs.size(), size_t(2));
        // Listed by run id: the stopped run first.
        const auto &stopped = runs[0], &finished = runs[1];
        QCOMPARE(finished->runId(), QStringLiteral("wf_d66113ec-b09"));
        QCOMPARE(finished->anchorUuid(), QStringLiteral("u-1"));
        QStringList agents;
        for (TVLSubagent *agent : finished->agents())
            agents << agent->displayTitle();
        // Named by the keys the journal started them under.
        QCOMPARE(agents, (QStringList{"Subagent: sheet-income", "Subagent: sheet-costs"}));
        QVERIFY(stopped->agents().empty());
        QVERIFY(stopped->isLeaf());
        QVERIFY(session->displayTitle().endsWith(" [3]"));
        QCOMPARE(session->attachedTranscripts().size(), size_t(3));
        QVERIFY(session->exchangeWithUuid("w12-p"));

        // The first agent's call was written as two lines of one message id.
        QCOMPARE(*finished->tokenUsage(), (TVLTokenUsage{70, 120, 2700, 300}));
        QCOMPARE(*session->tokenUsage(), (TVLTokenUsage{36 + 22 + 70, 140 + 66 + 120, 800 + 800 + 2700, 16100 + 1000 + 300}));
        QVERIFY2(log.lines().isEmpty(), qPrintable(log.lines().join('\n')));
    }

    void workflowMetaNamesOnlyTheTopLevelKeys()
    {
        const auto names = TVLWorkflowRecord::metaOfScript(
            "const name = 'before';\nexport const meta = { phases: [{ name: 'scan' }], note: \"it's {\", "
            "name: `verify-\\`all\\``, description: 'Checks \\'every\\' formula' };\nconst x = { name: 'after' };");
        QCOMPARE(names.name, QStringLiteral("verify-`all`"));
        QCOMPARE(names.description, QStringLiteral("Checks 'every' formula"));
        QVERIFY(TVLWorkflowRecord::metaOfScript("export default 1").name.isEmpty());
        QVERIFY(TVLWorkflowRecord::metaOfScript("meta = { name: 'unclosed").name.isEmpty());
    }

    void subagentFolderThatIsAFileIsIgnored()
    {
        const QString path = write(newSessionPath(), QList<QJsonObject>{prompt("e1", "one")});
        write(path.chopped(6) + "/subagents", QStringList{"not a folder"});
        const auto session = TVLSession::initWithPath(path);
        QVERIFY(session->subagents().empty());
        QCOMPARE(session->exchanges().size(), size_t(1));
    }
};

QTEST_GUILESS_MAIN(TestSubagents)
#include "tst_subagents.moc"
