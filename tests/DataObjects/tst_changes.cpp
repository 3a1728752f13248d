#include "Halvex/Foundation/HVXDefaults.h"
#include "Tavlo/DataObjects/TVLExchange.h"
#include "Tavlo/DataObjects/TVLProject.h"
#include "Tavlo/DataObjects/TVLSession.h"
#include "Tavlo/DataObjects/TVLSessionChanges.h"
#include "Tavlo/DataObjects/TVLSessionMarkdown.h"
#include "Halvex/cmark/HVXMarkDown.h"
#include "RecordingDesktop.h"
#include "TranscriptBuilder.h"
#include "Halvex/Foundation/HVXMenu.h"
#include "Tavlo/DataObjects/TVLToolSteps.h"

#include <QDir>
#include <QDirIterator>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QTest>

using namespace TranscriptBuilder;

namespace {
const QString kSession = QStringLiteral("5e7c1d2a-0b3f-4c8e-9a61-2f4d8b7e3c10");
const QString kOlderSession = QStringLiteral("1c9a4e77-3d2b-4f60-8e15-6b0a9d2c4f81");

// Copies the fixture project (a session with a sub-agent, and an older session) into `directory`.
QString copyFixtureProject(const QString &directory)
{
    const QString source = QStringLiteral(TAVLO_TEST_FIXTURES "/changes/-home-dev-app");
    const QString target = directory + "/-home-dev-app";
    QDirIterator files(source, QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString file = files.next();
        const QString copy = target + file.mid(source.size());
        QDir().mkpath(QFileInfo(copy).absolutePath());
        QFile::copy(file, copy);
    }
    return target;
}

QJsonObject editCall(const QString &uuid, const QString &id, const QString &tool, const QJsonObject &input)
{
    return {{"type", "assistant"}, {"uuid", uuid}, {"cwd", "/w"},
            {"message", QJsonObject{{"role", "assistant"},
                                    {"content", QJsonArray{QJsonObject{{"type", "tool_use"}, {"id", id}, {"name", tool},
                                                                       {"input", input}}}}}}};
}

QStringList shownPaths(const TVLSessionChanges &changes)
{
    QStringList paths;
    for (const auto &file : changes.files())
        paths << file.shownPath;
    return paths;
}
} // namespace

class TestChanges : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_project;
    std::shared_ptr<TVLSession> m_session;

    const TVLSessionChanges::File &file(const TVLSessionChanges &changes, const QString &shownPath)
    {
        for (const auto &file : changes.files())
            if (file.shownPath == shownPath)
                return file;
        qFatal("no file %s", qPrintable(shownPath));
    }

private Q_SLOTS:
    void initTestCase()
    {
        HVXDefaults::useStoreAtPath(m_dir.filePath("settings.ini"));
        m_project = copyFixtureProject(m_dir.path());
        m_session = TVLSession::initWithPath(m_project + "/" + kSession + ".jsonl");
        QVERIFY(m_session);
        QCOMPARE(m_session->subagents().size(), size_t(1));
    }

    void filesAreListedInOrderOfFirstChangeWithTheirCounts()
    {
        const auto changes = TVLSessionChanges::ofSession(*m_session);
        QCOMPARE(changes.workingDirectory(), QStringLiteral("/home/dev/app"));
        // The sub-agent's new file comes between the session's by time; a file only failed calls
        // named (setup.cfg) is not listed, and one outside the working directory keeps its full path.
        QCOMPARE(shownPaths(changes), (QStringList{"src/greet.py", "README.md", "docs/usage.md",
                                                   "notebooks/demo.ipynb", "/tmp/greet-scratch.txt"}));
        struct Expected
        {
            const char *path;
            size_t edits;
            qint64 applied, added, removed;
            bool created;
        };
        const Expected table[] = {
            {"src/greet.py", 4, 3, 7, 2, true},
            {"README.md", 2, 2, 3, 1, false},
            {"docs/usage.md", 1, 1, 5, 0, true},
            {"notebooks/demo.ipynb", 1, 1, 2, 0, false},
            {"/tmp/greet-scratch.txt", 1, 1, 1, 0, true},
        };
        for (const Expected &row : table) {
            const auto &changed = file(changes, QString::fromUtf8(row.path));
            QVERIFY2(changed.edits.size() == row.edits, row.path);
            QVERIFY2(changed.appliedEdits == row.applied, row.path);
            QVERIFY2(changed.added == row.added && changed.removed == row.removed, row.path);
            QVERIFY2(changed.created == row.created, row.path);
        }
        QCOMPARE(changes.appliedEdits(), 8);
        QCOMPARE(changes.failedEdits(), 2);
        QCOMPARE(changes.added(), 18);
        QCOMPARE(changes.removed(), 3);
        QCOMPARE(changes.createdFiles(), 3);
    }

    void editsKeepTheirOrderExchangeAndOutcome()
    {
        const auto changes = TVLSessionChanges::ofSession(*m_session);
        const auto &greet = file(changes, "src/greet.py");
        QStringList tools, exchanges;
        QList<bool> failed;
        for (const auto &edit : greet.edits) {
            tools << edit.tool;
            exchanges << edit.exchangeUuid;
            failed << edit.failed;
        }
        QCOMPARE(tools, (QStringList{"Write", "Edit", "MultiEdit", "Edit"}));
        QCOMPARE(exchanges, (QStringList{"p1", "p1", "p2", "p2"}));
        QCOMPARE(failed, (QList<bool>{false, true, false, false}));
        // A failed call changed nothing, and says why.
        QVERIFY(greet.edits[1].hunks.empty());
        QCOMPARE(greet.edits[1].added, 0);
        QVERIFY(greet.edits[1].error.contains("String to replace not found"));
        // The result's own hunks, with their positions.
        QCOMPARE(greet.edits[2].hunks.size(), size_t(1));
        QCOMPARE(greet.edits[2].hunks[0].newLines, 5);
        // A result without a patch, repeated with one by a line that names the call's line.
        QCOMPARE(greet.edits[3].hunks[0].lines, (QStringList{"-PREFIX = 'hi '", "+PREFIX = 'hello '"}));
        QCOMPARE(greet.edits[3].diffText(), QStringLiteral("@@ -1,1 +1,1 @@\n-PREFIX = 'hi '\n+PREFIX = 'hello '\n"));

        // The sub-agent's edit belongs to the exchange that started it, and links to where it was made.
        const auto &readme = file(changes, "README.md");
        const TVLFileEdit &bySubagent = readme.edits[1];
        QVERIFY(bySubagent.inSubagent);
        QCOMPARE(bySubagent.exchangeUuid, QStringLiteral("p2"));
        QCOMPARE(bySubagent.transcriptExchangeUuid, QStringLiteral("s1"));
        QVERIFY(bySubagent.url().endsWith("/subagents/agent-docs1.jsonl?exchange=s1"));
        QVERIFY(!readme.edits[0].inSubagent);
        QVERIFY(readme.edits[0].url().endsWith(kSession + ".jsonl?exchange=p1"));

        // A notebook edit is shown from its input; a failed call on an unlisted file is still found.
        QCOMPARE(file(changes, "notebooks/demo.ipynb").edits[0].hunks[0].lines,
                 (QStringList{"+from src.greet import greet", "+print(greet('Ada'))"}));
        const TVLFileEdit *unlisted = changes.editForCall("a11", "toolu_e5");
        QVERIFY(unlisted && unlisted->failed);
        QCOMPARE(changes.editForCall("a6", "toolu_m1")->tool, QStringLiteral("MultiEdit"));
        QVERIFY(!changes.editForCall("a6", "toolu_nothing"));
    }

    void anExchangeHasItsOwnEditsOnly()
    {
        const auto exchange = m_session->exchangeWithUuid("p1");
        QVERIFY(exchange);
        const auto changes = TVLSessionChanges::ofExchange(*m_session, *exchange);
        QCOMPARE(shownPaths(changes), (QStringList{"src/greet.py", "README.md"}));
        QCOMPARE(changes.appliedEdits(), 2);
        QCOMPARE(changes.failedEdits(), 1);
    }

    // The agents of a workflow run changed files for the session too.
    void workflowAgentsChangesAreListed()
    {
        const QString folder = copyFixture("workflow", m_dir.filePath("workflow")) + "/-home-me-ledger/3f9e2a10-6c4b-4d8e-a1f2-7b5c9d0e1a23";
        write(folder + "/subagents/workflows/wf_d66113ec-b09/agent-a13.jsonl",
              QList<QJsonObject>{prompt("w13-p", "Fix the sheet"),
                                 editCall("w13-c", "t13", "Write", QJsonObject{{"file_path", "/w/sheets/income.csv"}, {"content", "a,b\n"}})});
        const auto session = TVLSession::initWithPath(folder + ".jsonl");
        QVERIFY(session);
        const QStringList paths = shownPaths(TVLSessionChanges::ofSession(*session));
        QCOMPARE(paths.size(), 1);
        QVERIFY2(paths[0].endsWith("sheets/income.csv"), qPrintable(paths[0]));
    }

    void aProjectListsItsSessionsNewestFirst()
    {
        auto project = TVLProject::initWithRootDir(m_project);
        QVERIFY(project);
        const auto changes = TVLSessionChanges::ofProject(*project);
        QCOMPARE(changes.size(), size_t(2));
        QVERIFY(changes[0].sessionPath().endsWith(kSession + ".jsonl"));
        QVERIFY(changes[1].sessionPath().endsWith(kOlderSession + ".jsonl"));
        QCOMPARE(shownPaths(changes[1]), QStringList{"src/app.py"});
    }

    // Calls whose result gives no hunks of its own are shown from their input.
    void callsWithoutUsableResultsAreShownFromTheirInput_data()
    {
        QTest::addColumn<QList<QJsonObject>>("lines");
        QTest::addColumn<QStringList>("diff");
        QTest::addColumn<int>("edits");

        const QJsonObject edit{{"file_path", "/w/a.txt"}, {"old_string", "one\ntwo"}, {"new_string", "three\n"}};
        QTest::newRow("unanswered edit") << QList<QJsonObject>{prompt("p", "go"), editCall("c", "t1", "Edit", edit)}
                                         << QStringList{"-one", "-two", "+three"} << 1;
        QTest::newRow("result about another file")
            << QList<QJsonObject>{prompt("p", "go"), editCall("c", "t1", "Edit", edit),
                                  toolResult("r", "t1", QJsonObject{{"filePath", "/w/b.txt"},
                                                                    {"structuredPatch", QJsonArray{QJsonObject{{"lines", QJsonArray{"+b"}}}}}})}
            << QStringList{"-one", "-two", "+three"} << 1;
        QTest::newRow("streamed twice before its result")
            << QList<QJsonObject>{prompt("p", "go"), editCall("c", "t1", "Edit", edit), editCall("c2", "t1", "Edit", edit),
                                  toolResult("r", "t1")}
            << QStringList{"-one", "-two", "+three"} << 1;
        const QJsonObject multi{{"file_path", "a.txt"},
                                {"edits", QJsonArray{QJsonObject{{"old_string", "x"}, {"new_string", "y"}},
                                                     QJsonObject{{"old_string", "z"}, {"new_string", ""}}}}};
        QTest::newRow("multi-edit, relative path") << QList<QJsonObject>{prompt("p", "go"), editCall("c", "t1", "MultiEdit", multi)}
                                                   << QStringList{"@@", "-x", "+y", "@@", "-z"} << 1;
        QTest::newRow("not an edit tool")
            << QList<QJsonObject>{prompt("p", "go"), editCall("c", "t1", "Read", QJsonObject{{"file_path", "/w/a.txt"}})}
            << QStringList{} << 0;
    }

    void callsWithoutUsableResultsAreShownFromTheirInput()
    {
        QFETCH(QList<QJsonObject>, lines);
        QFETCH(QStringList, diff);
        QFETCH(int, edits);
        const QString path = write(m_dir.filePath(QStringLiteral("input/%1.jsonl").arg(QLatin1StringView(QTest::currentDataTag()))), lines);
        const auto session = TVLSession::initWithPath(path);
        const auto changes = TVLSessionChanges::ofSession(*session);
        QCOMPARE(changes.appliedEdits(), edits);
        if (edits == 0)
            return;
        QCOMPARE(changes.files()[0].path, QStringLiteral("/w/a.txt"));
        QCOMPARE(changes.files()[0].edits[0].diffText().split('\n', Qt::SkipEmptyParts), diff);
    }

    void fencesOutgrowEveryBacktickRunInside_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("fence");
        QTest::newRow("none") << "plain" << "```";
        QTest::newRow("inline code") << "a `b` c" << "```";
        QTest::newRow("a fence") << "```\ncode\n```" << "````";
        QTest::newRow("a long run at the end") << "x\n``````" << "```````";
    }

    void fencesOutgrowEveryBacktickRunInside()
    {
        QFETCH(QString, text);
        QFETCH(QString, fence);
        const QString block = TVLSessionMarkdown::fenced(text, "diff");
        QVERIFY(block.startsWith(fence + "diff\n"));
        QVERIFY(block.endsWith("\n" + fence));
        QVERIFY(!block.startsWith(fence + "`"));
        // Rendered, the whole text stays inside one code block.
        const QString html = HVXMarkDown::htmlFromMarkdown(block + "\n\nafter").value_or(QString());
        QCOMPARE(html.count("<pre>"), 1);
        QVERIFY(html.contains("<p>after</p>"));
    }

    void aSessionReadsAsMarkdown()
    {
        const QString plain = TVLSessionMarkdown::forSession(*m_session, false);
        const QString steps = TVLSessionMarkdown::forSession(*m_session, true);
        QVERIFY(plain.startsWith("# Add a greeting module and mention it in the README.\n"));
        QVERIFY(plain.contains("> Use a prefix constant, document usage with a sub-agent,\n> and add a notebook cell.\n"));
        QVERIFY(plain.contains("A fence inside: ```` stays put."));
        QVERIFY(!plain.contains("**Edit**"));
        // Each exchange is headed by its time, linked to it.
        const QString html = HVXMarkDown::htmlFromMarkdown(plain).value_or(QString());
        QVERIFY(html.contains("<h2><a href=\"tvl://" + m_project + "/" + kSession + ".jsonl?exchange=p1\">2025-11-07 10:00:00 UTC</a></h2>"));
        QCOMPARE(html.count("<h2>"), 2);

        // With the tool steps: edits as diffs in their place, failures said, results fenced, and the
        // sub-agent's edits under the exchange that started it.
        QVERIFY(steps.contains("**Edit** `README.md` (+2 \u22120)\n```diff\n@@ -1,1 +1,3 @@\n # App\n+\n+Greets people.\n```"));
        QVERIFY(steps.contains("**Edit** `setup.cfg` failed: `File does not exist.`"));
        QVERIFY(steps.contains("Result\n```\nWrote docs/usage.md and linked it.\n```"));
        QVERIFY(steps.contains("Sub-agent: **Write** `docs/usage.md` (created, +5 \u22120)\n````diff\n"));
        QVERIFY(steps.indexOf("**MultiEdit**") < steps.indexOf("Sub-agent: **Write**"));
        QVERIFY(!steps.contains("The file /home/dev/app/README.md has been updated."));

        const QString one = TVLSessionMarkdown::forExchange(*m_session, *m_session->exchangeWithUuid("p1"), true);
        QVERIFY(one.startsWith("## [2025-11-07 10:00:00 UTC]"));
        QVERIFY(one.contains("**Write** `src/greet.py` (created, +2 \u22120)"));
        QVERIFY(!one.contains("MultiEdit"));
    }

    // The exchange's menu copies it as the export writes it, with tool steps as the setting says;
    // the text is made when chosen, from the session the exchange belongs to.
    void anExchangeIsCopiedAsMarkdown()
    {
        const auto desktop = RecordingDesktop::install();
        const auto exchange = m_session->exchangeWithUuid("p2");
        HVXMenu menu;
        exchange->addToContextMenu(menu);
        const HVXMenuItem *copy = menu.itemWithTitle("Copy as Markdown");
        QVERIFY(copy && copy->action);
        TVLToolSteps::setShownOverride(true);
        copy->action();
        TVLToolSteps::setShownOverride(false);
        copy->action();
        TVLToolSteps::setShownOverride(std::nullopt);
        QCOMPARE(desktop->copiedTexts.size(), 2);
        QCOMPARE(desktop->copiedTexts[0], TVLSessionMarkdown::forExchange(*m_session, *exchange, true));
        QVERIFY(desktop->copiedTexts[0].contains("**MultiEdit** `src/greet.py`"));
        QVERIFY(!desktop->copiedTexts[1].contains("**MultiEdit**"));
        QVERIFY(desktop->copiedTexts[1].startsWith("## [2025-11-07 10:05:00 UTC]"));
    }

    // A call answered without hunks waits for a line that repeats its result with them, but
    // only while few such calls wait: the repeat follows its result closely.
    void aRepeatedResultFillsOnlyARecentCall()
    {
        QList<QJsonObject> lines{prompt("p", "go")};
        auto repeat = [](const QString &uuid, const QString &callLine, const QString &path) {
            return QJsonObject{{"type", "assistant"}, {"uuid", uuid}, {"sourceToolAssistantUUID", callLine},
                               {"message", QJsonObject{{"role", "assistant"}, {"content", QJsonArray{}}}},
                               {"toolUseResult", QJsonObject{{"filePath", path},
                                                             {"structuredPatch", QJsonArray{QJsonObject{{"lines", QJsonArray{"+from repeat"}}}}}}}};
        };
        for (int i = 0; i < 20; ++i) {
            const QString id = QStringLiteral("t%1").arg(i);
            const QString path = QStringLiteral("/w/f%1.txt").arg(i);
            lines << editCall("c" + id, id, "Write", QJsonObject{{"file_path", path}, {"content", "from input\n"}})
                  << toolResult("r" + id, id, QJsonObject{{"filePath", path}});
        }
        lines << repeat("late0", "ct0", "/w/f0.txt") << repeat("late19", "ct19", "/w/f19.txt");
        const auto session = TVLSession::initWithPath(write(m_dir.filePath("repeat/s.jsonl"), lines));
        const auto changes = TVLSessionChanges::ofSession(*session);
        QCOMPARE(changes.files().size(), size_t(20));
        QCOMPARE(changes.files().front().edits[0].hunks[0].lines, QStringList{"+from input"});
        QCOMPARE(changes.files().back().edits[0].hunks[0].lines, QStringList{"+from repeat"});
    }
};

QTEST_GUILESS_MAIN(TestChanges)
#include "tst_changes.moc"
