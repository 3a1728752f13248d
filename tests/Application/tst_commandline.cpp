#include "Halvex/Foundation/HVXDefaults.h"
#include "LogCapture.h"
#include "Tavlo/Application/TVLCommandLine.h"
#include "HostileRoot.h"
#include "TranscriptBuilder.h"
#include "WithoutPrivileges.h"

#include <QDate>
#include <QDir>
#include <QRegularExpression>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QTemporaryDir>
#include <QTest>

using namespace TranscriptBuilder;

class TestCommandLine : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_project;

    struct Result
    {
        int exitCode;
        QString out;
        QString err;
    };

    static Result run(const QStringList &arguments)
    {
        QString out, err;
        QTextStream outStream(&out), errStream(&err);
        const auto code = TVLCommandLine::run(arguments, outStream, errStream);
        outStream.flush();
        errStream.flush();
        return {code.value_or(-1), out, err};
    }

private Q_SLOTS:
    void initTestCase()
    {
        HVXDefaults::useStoreAtPath(m_dir.filePath("settings.ini"));
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        m_project = m_dir.filePath("-home-me-app");
        qputenv("TAVLO_CACHE_DIR", m_dir.filePath("cache").toUtf8());
        QJsonObject skilled = assistant("a2", "more", "m2", usage(10, 5));
        skilled.insert("attributionSkill", "pdf");
        write(m_project + "/s1.jsonl", QList<QJsonObject>{prompt("p1", "first <prompt>", "2025-06-01T10:00:00.000Z"),
                                                          assistant("a1", "answer", "m1", usage(1000, 20)), skilled});
        write(m_project + "/s0.jsonl", QList<QJsonObject>{prompt("q1", "earlier", "2025-05-01T10:00:00Z"),
                                                          assistant("b1", "x", "n1", usage(1, 1))});
    }

    void pathsAndUrlsAreNotCommands()
    {
        QCOMPARE(run({m_project}).exitCode, -1);
        QCOMPARE(run({"tvl:///x.jsonl"}).exitCode, -1);
        QCOMPARE(run({}).exitCode, -1);
    }

    void inspectDescribesTheModel()
    {
        const Result result = run({"inspect", m_project + "/s1.jsonl", "--json"});
        QCOMPARE(result.exitCode, 0);
        const QJsonObject json = QJsonDocument::fromJson(result.out.toUtf8()).object();
        QCOMPARE(json["kind"].toString(), QStringLiteral("session"));
        QCOMPARE(json["firstTimestamp"].toString(), QStringLiteral("2025-06-01T10:00:00.000Z"));
        QCOMPARE(json["firstUserPrompt"].toString(), QStringLiteral("first <prompt>"));
        QCOMPARE(json["tokenUsage"].toObject()["inputTokens"].toInt(), 1010);
        const QJsonArray exchanges = json["exchanges"].toArray();
        QCOMPARE(exchanges.size(), 1);
        QCOMPARE(exchanges[0].toObject()["model"].toString(), QStringLiteral("claude-test"));
        QCOMPARE(exchanges[0].toObject()["messages"].toArray().size(), 3);
        QVERIFY(exchanges[0].toObject()["messages"].toArray()[0].toObject()["tokenUsage"].isNull());
        QCOMPARE(json["displayChildren"].toArray()[0].toObject()["exchange"].toString(), QStringLiteral("p1"));
        QVERIFY(json["subagents"].toArray().isEmpty());
        // Every level carries exactly the keys scripts are promised.
        const QStringList usageKeys{"cacheCreationInputTokens", "cacheReadInputTokens", "ephemeral1hInputTokens",
                                    "ephemeral5mInputTokens", "inputTokens", "outputTokens"};
        QCOMPARE(json.keys(), (QStringList{"displayChildren", "exchanges", "firstTimestamp", "firstUserPrompt", "kind",
                                           "lastChangedAt", "lastUserPrompt", "path", "subagents", "tokenUsage",
                                           "workflowRuns"}));
        QCOMPARE(json["tokenUsage"].toObject().keys(), usageKeys);
        const QJsonObject exchange = exchanges[0].toObject();
        QCOMPARE(exchange.keys(), (QStringList{"containsCompactSummary", "isPreamble", "messages", "model", "title",
                                               "tokenUsage", "uuid"}));
        const QJsonObject answer = exchange["messages"].toArray()[1].toObject();
        QCOMPARE(answer.keys(), (QStringList{"countedElsewhere", "exchangeStarter", "inDuplicateGroup", "isCompactSummary",
                                             "tokenUsage", "type", "usageDuplicate", "uuid"}));
        QCOMPARE(answer["tokenUsage"].toObject().keys(), usageKeys);
    }

    void inspectListsWorkflowRuns()
    {
        const QString root = copyFixture("workflow", m_dir.filePath("workflow-root"));
        const Result result = run({"inspect", root + "/-home-me-ledger/3f9e2a10-6c4b-4d8e-a1f2-7b5c9d0e1a23.jsonl", "--json"});
        QCOMPARE(result.exitCode, 0);
        const QJsonObject json = QJsonDocument::fromJson(result.out.toUtf8()).object();
        const QJsonObject finished = json["workflowRuns"].toArray()[1].toObject();
        QCOMPARE(finished["title"].toString(), QStringLiteral("Workflow: verify-formula-insertions"));
        QCOMPARE(finished["anchorUuid"].toString(), QStringLiteral("u-1"));
        QCOMPARE(finished["agents"].toArray().size(), 2);
        QCOMPARE(json["displayChildren"].toArray()[1].toObject()["workflowRun"].toString(), finished["path"].toString());
    }

    void usageReportAsTextAndHtml()
    {
        const Result text = run({"usage", m_project});
        QCOMPARE(text.exitCode, 0);
        QVERIFY(text.out.startsWith("app \u2014 token usage"));
        // Sessions oldest first.
        QVERIFY(text.out.indexOf("earlier") < text.out.indexOf("first <prompt>"));
        QVERIFY(text.out.contains(QRegularExpression("  total\\s+1,010\\s+25\\s+0\\s+0")));
        QVERIFY(text.out.contains(QRegularExpression("  pdf\\s+10\\s+5")));
        QVERIFY(text.out.contains(QRegularExpression("  rest\\s+1,000\\s+20")));
        const Result html = run({"usage", m_project, "--html"});
        QVERIFY(html.out.contains("<th colspan=\"5\">first &lt;prompt&gt;</th>"));
        QVERIFY(html.out.contains("<tr><td>total</td><td>1,010</td><td>25</td><td>0</td><td>0</td></tr>"));
        // A subproject goes by the name after its "--".
        const QString subproject = m_dir.filePath("-home-me-app--offline-mode");
        write(subproject + "/s.jsonl", QList<QJsonObject>{prompt("o1", "offline")});
        QVERIFY(run({"usage", subproject}).out.startsWith("offline-mode \u2014 token usage"));
    }

    void exportWritesAStandaloneFile()
    {
        const QString output = m_dir.filePath("out.html");
        const Result result = run({"export", m_project + "/s1.jsonl", "-o", output});
        QCOMPARE(result.exitCode, 0);
        QFile file(output);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString html = QString::fromUtf8(file.readAll());
        QVERIFY(html.contains("\"id\":\"p1\",\"kind\":\"user\""));
        QVERIFY(html.contains("first &lt;prompt&gt;"));
        QVERIFY(html.contains("</html>"));
    }

    void changesAsTableAndJson()
    {
        const QString project = QStringLiteral(TAVLO_TEST_FIXTURES "/changes/-home-dev-app");
        const QString session = project + "/5e7c1d2a-0b3f-4c8e-9a61-2f4d8b7e3c10.jsonl";
        Result result = run({"changes", session});
        QCOMPARE(result.exitCode, 0);
        const QStringList lines = result.out.split('\n');
        QCOMPARE(lines[2], QStringLiteral("File                    Edits   +  \u2212  Created"));
        QCOMPARE(lines[3], QStringLiteral("src/greet.py                3   7  2  yes"));
        QCOMPARE(lines[4], QStringLiteral("README.md                   2   3  1"));
        QCOMPARE(lines[9], QStringLiteral("5 files                     8  18  3  3"));
        QCOMPARE(lines[10], QStringLiteral("2 failed calls changed nothing."));

        result = run({"changes", session, "--json"});
        const QJsonObject json = QJsonDocument::fromJson(result.out.toUtf8()).object();
        QCOMPARE(json["totals"].toObject()["edits"].toInt(), 8);
        QCOMPARE(json["failedOnUnchangedFiles"].toArray().size(), 1);
        const QJsonObject readme = json["files"].toArray()[1].toObject();
        QCOMPARE(readme["shownPath"].toString(), QStringLiteral("README.md"));
        const QJsonObject bySubagent = readme["edits"].toArray()[1].toObject();
        QCOMPARE(bySubagent["exchange"].toString(), QStringLiteral("p2"));
        QVERIFY(bySubagent["url"].toString().endsWith("/subagents/agent-docs1.jsonl?exchange=s1"));
        QCOMPARE(bySubagent["hunks"].toArray()[0].toObject()["lines"].toArray().size(), 3);

        // A project: its sessions newest first, then what they changed in all.
        result = run({"changes", project});
        QCOMPARE(result.exitCode, 0);
        QVERIFY(result.out.indexOf("Session 5e7c1d2a") < result.out.indexOf("Session 1c9a4e77"));
        QVERIFY(result.out.endsWith("In all: 2 sessions with changes, 6 files, 9 edits, +19 \u22124\n"));
        QCOMPARE(run({"changes", project, "--json"}).out.count("\"session\":"), 2);
        QCOMPARE(run({"changes"}).exitCode, 2);
        // A log root is not a project.
        result = run({"changes", QStringLiteral(TAVLO_TEST_FIXTURES "/changes")});
        QCOMPARE(result.exitCode, 1);
        QVERIFY(result.err.contains("is it a project directory?"));
    }

    void exportWritesMarkdown()
    {
        const QString output = m_dir.filePath("out.md");
        QCOMPARE(run({"export", m_project + "/s1.jsonl", "--markdown", "-o", output}).exitCode, 0);
        QFile file(output);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString markdown = QString::fromUtf8(file.readAll());
        QVERIFY(markdown.startsWith("# first <prompt>\n"));
        QVERIFY(markdown.contains("s1.jsonl?exchange=p1>)\n\n> first <prompt>\n\nanswer\n\nmore\n"));
    }

    void helpVersionAndWrongOptions_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("expectedOut");
        QTest::addColumn<QString>("expectedErr");
        QTest::newRow("help") << QStringList{"--help"} << 0 << "  tree     " << "";
        QTest::newRow("version") << QStringList{"--version"} << 0 << "Tavlo " TAVLO_VERSION "\n" << "";
        QTest::newRow("usage help") << QStringList{"usage", "--help"} << 0
                                    << "Usage: tavlo usage [OPTIONS] PROJECT_DIR" << "";
        QTest::newRow("help for a command") << QStringList{"help", "export"} << 0 << "-o, --output FILE" << "";
        QTest::newRow("help inside arguments") << QStringList{"tree", "/nowhere", "-h"} << 0 << "--depth N" << "";
        QTest::newRow("unknown command option") << QStringList{"usage", "--bogus", "x"} << 2 << ""
                                                << "Unknown option 'bogus'";
        QTest::newRow("unknown viewer option") << QStringList{"--bogus"} << 2 << "" << "Commands:";
        QTest::newRow("missing value") << QStringList{"export", "s.jsonl", "-o"} << 2 << ""
                                       << "Usage: tavlo export";
        QTest::newRow("unknown help topic") << QStringList{"help", "nothing"} << 2 << "" << "no command named";
    }

    void helpVersionAndWrongOptions()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, expectedOut);
        QFETCH(QString, expectedErr);
        const Result result = run(arguments);
        QCOMPARE(result.exitCode, exitCode);
        QVERIFY2(result.out.contains(expectedOut), qPrintable(result.out));
        QVERIFY2(result.err.contains(expectedErr), qPrintable(result.err));
        QCOMPARE(result.out.isEmpty(), exitCode != 0);  // errors go to standard error only
    }

    void viewerArgumentsAndDashNamedDirectories()
    {
        const TVLViewerArguments viewer = TVLCommandLine::viewerArguments({"--new-instance", "a", "tvl:///x.jsonl"});
        QCOMPARE(viewer.pathsAndUrls, (QStringList{"a", "tvl:///x.jsonl"}));
        QVERIFY(viewer.newInstance);
        // Inside a log root, project directories look like options.
        const QString previous = QDir::currentPath();
        QDir::setCurrent(m_dir.path());
        const Result result = run({"usage", "-home-me-app"});
        QDir::setCurrent(previous);
        QCOMPARE(result.exitCode, 0);
        QVERIFY(result.out.startsWith("app \u2014 token usage"));
    }

    void usageSummaryAndSearchFromTheIndex()
    {
        const Result byDay = run({"usage", m_dir.path(), "--by", "day", "--json"});
        QCOMPARE(byDay.exitCode, 0);
        const QJsonObject json = QJsonDocument::fromJson(byDay.out.toUtf8()).object();
        const QJsonArray rows = json["rows"].toArray();
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows[0].toObject()["key"].toString(), QDate(2025, 5, 1).toString(Qt::ISODate));
        QCOMPARE(json["totals"].toObject()["inputTokens"].toInt(), 1 + 1000 + 10);
        // The test model has no price: its cost is unknown, not zero.
        QVERIFY(json["totals"].toObject()["costUSD"].isNull());
        const Result may = run({"usage", m_project, "--by", "model", "--until", "2025-05-31"});
        QVERIFY2(may.out.contains("claude-test ") && may.out.contains(QRegularExpression("\\nTotal +1 +1 ")), qPrintable(may.out + may.err));

        const Result found = run({"search", "EARLIER", m_dir.path()});
        QCOMPARE(found.exitCode, 0);
        QVERIFY(found.out.contains("tvl://" + m_project + "/s0.jsonl?exchange=q1"));
        QVERIFY(found.out.contains("[earlier]"));

        const struct
        {
            QStringList arguments;
            const char *message;
        } wrong[] = {{{"search", "earlier AND", m_dir.path()}, "can't be used"},
                     {{"usage", m_dir.path(), "--by", "week"}, "--by takes"},
                     {{"usage", m_dir.path(), "--by", "day", "--since", "May 1"}, "--since takes"}};
        for (const auto &test : wrong) {
            const Result result = run(test.arguments);
            QCOMPARE(result.exitCode, 2);
            QVERIFY2(result.err.contains(QLatin1StringView(test.message)), qPrintable(result.err));
        }
    }

    // The viewer's model and the library index count every session alike, whatever transcripts
    // come with it.
    void usageAndInspectAgreeOnEverySession_data()
    {
        QTest::addColumn<QString>("root");
        QTest::newRow("fixtures") << QStringLiteral(TAVLO_TEST_FIXTURES "/log-root/projects");
        QTest::newRow("examples") << QStringLiteral(TAVLO_EXAMPLES_DIR "/projects");
    }
    void usageAndInspectAgreeOnEverySession()
    {
        QFETCH(QString, root);
        const Result usage = run({"usage", root, "--by", "session", "--json"});
        QCOMPARE(usage.exitCode, 0);
        const QJsonArray rows = QJsonDocument::fromJson(usage.out.toUtf8()).object()["rows"].toArray();
        QVERIFY(rows.size() >= 4);
        for (const QJsonValue &value : rows) {
            const QJsonObject row = value.toObject();
            const Result inspect = run({"inspect", row["key"].toString(), "--json"});
            QCOMPARE(inspect.exitCode, 0);
            const QJsonObject model = QJsonDocument::fromJson(inspect.out.toUtf8()).object()["tokenUsage"].toObject();
            auto four = [](const QJsonObject &usage, const char *creation, const char *read) {
                return QStringLiteral("%1/%2/%3/%4")
                    .arg(usage["inputTokens"].toInteger())
                    .arg(usage["outputTokens"].toInteger())
                    .arg(usage[QLatin1String(creation)].toInteger())
                    .arg(usage[QLatin1String(read)].toInteger());
            };
            const QString viewer = four(model, "cacheCreationInputTokens", "cacheReadInputTokens");
            const QString index = four(row, "cacheCreationTokens", "cacheReadTokens");
            QVERIFY2(viewer == index, qPrintable(row["key"].toString() + ": " + viewer + " in the viewer, " + index + " in the index"));
        }
    }

    void todaysRootOnTheCommandLine()
    {
        const QString root = QStringLiteral(TAVLO_TEST_FIXTURES "/log-root/projects");
        // Every directory of the root is listed, the worktree inside its project.
        const Result tree = run({"tree", root, "--depth", "2"});
        QCOMPARE(tree.exitCode, 0);
        for (const QString &directory : QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            QVERIFY2(tree.out.contains(root + "/" + directory + "\n") || tree.out.contains(root + "/" + directory + "  "),
                     qPrintable(directory));
        // The session's own title, with the display mode set to it.
        HVXDefaults::standard().setInteger("TVLSessionDisplayMode", 5);
        const Result titled = run({"tree", root + "/C--Users-me--claude", "--depth", "1"});
        HVXDefaults::standard().remove("TVLSessionDisplayMode");
        QVERIFY2(titled.out.contains(QStringLiteral("settings cleanup [\u2060c:red]final")), qPrintable(titled.out));
        // Search names the session by its title.
        const Result found = run({"search", "letters", root});
        QVERIFY2(found.out.contains(QStringLiteral("\u00abSummary of the client letters\u00bb")), qPrintable(found.out));
        // An export holds the pull requests' links.
        const QString exported = m_dir.filePath("today.html");
        QCOMPARE(run({"export", root + "/-Users-me-app/today.jsonl", "-o", exported}).exitCode, 0);
        QFile file(exported);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray html = file.readAll();
        // The page's blocks travel as JSON data, so their markup is escaped there.
        QVERIFY(html.contains("\\u003ca href=\\\"https://github.com/me/app/pull/58\\\">Pull request #58"));
        QVERIFY(html.contains("\\u003ca href=\\\"https://github.com/me/app/pull/59\\\">Pull request #59"));
    }

    // Snippets and prompts read as the user typed, with no tag names; task notices are not
    // searched. A terminal gets a few broken lines of a file and a count of the rest.
    void typedInputInSearchAndBrokenLinesCounted()
    {
        const QString root = m_dir.filePath("typed-root");
        const QString fixture = QStringLiteral(TAVLO_TEST_FIXTURES "/typed-input/-home-me-shop/typed.jsonl");
        QDir().mkpath(root + "/-home-me-shop");
        QVERIFY(QFile::copy(fixture, root + "/-home-me-shop/typed.jsonl"));
        Result found = run({"search", "tokenizer", root, "--json"});
        QCOMPARE(found.exitCode, 0);
        const QJsonArray results = QJsonDocument::fromJson(found.out.toUtf8()).object()["results"].toArray();
        QStringList prompts;
        for (const QJsonValue &result : results) {
            prompts << result.toObject()["prompt"].toString();
            QVERIFY2(!result.toObject()["snippet"].toString().contains("command-"), qPrintable(found.out));
        }
        prompts.sort();
        QCOMPARE(prompts, (QStringList{"/review the tokenizer changes", "Thanks, write the missing tokenizer test"}));
        found = run({"search", "retrieve", root});
        QVERIFY2(found.out.startsWith("No exchange matches"), qPrintable(found.out));

        QStringList broken;
        for (int i = 0; i < 10; ++i)
            broken << "{not json " + QString::number(i);
        write(root + "/-home-me-shop/broken.jsonl", broken + QStringList{line(prompt("b1", "after the noise"))});
        LogCapture capture;
        QCOMPARE(run({"inspect", root + "/-home-me-shop/broken.jsonl", "--json"}).exitCode, 0);
        QCOMPARE(capture.count("Error creating object from JSON"), 3);
        QCOMPARE(capture.count("\u2026and 7 more lines that are not JSON in broken.jsonl"), 1);
    }

    void aHostileRootNeitherHangsNorEscapesNorWrites()
    {
        // Pipes, device links, a 1 TB sparse file, counts past 64 bits, terminal escapes and a
        // metadata link: every command finishes, prints no escape, and writes nothing.
        QTemporaryDir dir;
        const QString root = dir.filePath("projects");
        const QString victim = dir.filePath("victim.json");
        QVERIFY(HostileRoot::make(root, victim));
        const QString hostile = root + "/-home-u-hostile";

        const Result tree = run({"tree", root});
        QCOMPARE(tree.exitCode, 0);
        for (const char *note : {"pipe.jsonl (not read: it is a FIFO)", "zero.jsonl (not read: it is a character device)",
                                 "sparse.jsonl (not read: it is 1.0 TB, more than the"})
            QVERIFY2(tree.out.contains(QLatin1StringView(note)), note);
        QVERIFY(tree.out.contains("tokens 9223372036854775807/3/0/0"));

        const Result usage = run({"usage", root, "--by", "day"});
        QCOMPARE(usage.exitCode, 0);
        QVERIFY2(usage.out.contains("9,223,372,036,854,775,807"), qPrintable(usage.out));

        const Result found = run({"search", "C++", root});
        QCOMPARE(found.exitCode, 0);
        QVERIFY2(found.out.contains("Fix the [C]++ build \\x1B]0;pwned\\x07\\x1B[2J"), qPrintable(found.out));
        QCOMPARE(run({"search", "build-pwned", root}).exitCode, 0);

        const QString output = dir.filePath("out.html");
        QCOMPARE(run({"export", hostile + "/plain.jsonl", "-o", output}).exitCode, 0);
        QVERIFY(QFile::exists(output));
        run({"export", hostile + "/pipe.jsonl", "-o", output});

        for (const Result &result : {tree, usage, found})
            QVERIFY(!result.out.contains(QChar(0x1b)) && !result.err.contains(QChar(0x1b)));
        QFile target(victim);
        QVERIFY(target.open(QIODevice::ReadOnly));
        QCOMPARE(target.readAll(), HostileRoot::victimContent);
    }

    void wrongPathsFailClearly()
    {
        Result result = run({"inspect", m_dir.filePath("missing.jsonl"), "--json"});
        QCOMPARE(result.exitCode, 1);
        QVERIFY(result.err.contains("no such file or directory"));
        result = run({"inspect", m_project, "--json"});
        QCOMPARE(result.exitCode, 1);
        QVERIFY(result.err.contains("is a directory"));
        result = run({"usage", m_project + "/s1.jsonl"});
        QCOMPARE(result.exitCode, 1);
        QVERIFY(result.err.contains("is not a directory"));
        write(m_dir.filePath("notes.txt"), QStringList{"x"});
        result = run({"export", m_dir.filePath("notes.txt")});
        QCOMPARE(result.exitCode, 1);
        QVERIFY(result.err.contains("not a session transcript"));
        QCOMPARE(run({"inspect", m_project + "/s1.jsonl"}).exitCode, 2);  // --json is required
        QDir().mkpath(m_dir.filePath("not-a-project"));
        result = run({"usage", m_dir.filePath("not-a-project")});
        QCOMPARE(result.exitCode, 1);
        QVERIFY(result.err.contains("holds no session transcripts"));
        QTemporaryDir own;
        WithoutPrivileges unprivileged(own.path());
        if (!unprivileged.permissionsHold())
            QSKIP("running as root, and the rights that ignore permissions cannot be given up");
        const QString locked = write(own.filePath("locked.jsonl"), QStringList{line(prompt("x", "y"))});
        QFile::setPermissions(locked, QFileDevice::WriteOwner);
        QVERIFY(!QFileInfo(locked).isReadable());
        result = run({"inspect", locked, "--json"});
        QCOMPARE(result.exitCode, 1);
        QVERIFY(result.err.contains("permission denied"));
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
