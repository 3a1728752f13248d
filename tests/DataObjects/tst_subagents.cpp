#include "Halvex/Foundation/HVXDefaults.h"
#include "Tavlo/DataObjects/TVLExchange.h"
#include "Tavlo/DataObjects/TVLMessage.h"
#include "Tavlo/DataObjects/TVLSession.h"
#include "Tavlo/DataObjects/TVLSubagent.h"
#include "TranscriptBuilder.h"

#include <QDir>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QTest>

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
