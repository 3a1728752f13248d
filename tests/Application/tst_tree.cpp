// `tavlo tree` on the example library and on a root written by the test.

#include "Halvex/Foundation/HVXDefaults.h"
#include "Tavlo/Application/TVLTreeCommand.h"
#include "Tavlo/DataObjects/TVLProject.h"
#include "Tavlo/DataObjects/TVLRoot.h"
#include "TranscriptBuilder.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>

using namespace TranscriptBuilder;

namespace {
struct Run
{
    int code = 0;
    QString out;
    QString err;
};

Run tree(const QStringList &args)
{
    Run run;
    QTextStream out(&run.out), err(&run.err);
    run.code = runTreeCommand(args, out, err);
    out.flush();
    err.flush();
    return run;
}

QJsonObject childWithPath(const QJsonArray &children, const QString &path)
{
    for (const QJsonValue &child : children)
        if (child.toObject().value("path").toString() == path)
            return child.toObject();
    return {};
}
} // namespace

class TestTree : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    const QString m_examples = QStringLiteral(TAVLO_EXAMPLES_DIR "/projects");

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        HVXDefaults::useStoreAtPath(m_dir.filePath("settings.ini"));
        HVXDefaults::standard().setInteger(TVLRoot::sortModeKey, 0);
    }

    void plainTitles()
    {
        using TVLTreeCommand::plainTitle;
        QCOMPARE(plainTitle("app  [c:NSColor:secondaryLabelColor][F:systemFontOfSize:weight:|10.000000|0.000000]No sessions found"),
                 QStringLiteral("app  No sessions found"));
        QCOMPARE(plainTitle("[c:Green]x[c:]y[s:star]z"), QStringLiteral("xyz"));
        QCOMPARE(plainTitle("a[b"), QStringLiteral("a[b"));
        QCOMPARE(plainTitle("[2] and [x:y]"), QStringLiteral("[2] and [x:y]"));
        QCOMPARE(plainTitle("end["), QStringLiteral("end["));
    }

    void exampleLibraryOneLevel()
    {
        const Run run = tree({m_examples, "--depth", "1"});
        QCOMPARE(run.code, 0);
        QVERIFY(run.err.isEmpty());
        const QStringList rows = run.out.split('\n', Qt::SkipEmptyParts);
        const auto root = TVLRoot::initWithRootDir(m_examples);
        QCOMPARE(rows.size(), qsizetype(root->children().size()));
        for (qsizetype i = 0; i < rows.size(); ++i) {
            auto *project = static_cast<TVLProject *>(root->children()[size_t(i)].get());
            QVERIFY2(rows[i].startsWith(project->projectName() + "  Click to load project.  [project]  " + project->path()
                                        + "  tokens -  tags 0x0000"),
                     qPrintable(rows[i]));
        }
    }

    void exampleLibraryAsJsonMatchesTheModel()
    {
        const Run run = tree({m_examples, "--json", "--depth", "3"});
        QCOMPARE(run.code, 0);
        const QJsonObject top = QJsonDocument::fromJson(run.out.toUtf8()).object();
        QCOMPARE(top.value("kind").toString(), QStringLiteral("root"));
        const QString appPath = m_examples + "/-home-alex-src-weather-app";
        const QJsonObject app = childWithPath(top.value("children").toArray(), appPath);
        QCOMPARE(app.value("kind").toString(), QStringLiteral("project"));
        QCOMPARE(app.value("title").toString(), QStringLiteral("app"));

        const auto project = TVLProject::initWithRootDir(appPath);
        project->loadIfNeeded();
        const auto usage = *project->tokenUsage();
        const QJsonObject tokens = app.value("tokens").toObject();
        QCOMPARE(tokens.value("input").toInteger(), usage.inputTokens);
        QCOMPARE(tokens.value("output").toInteger(), usage.outputTokens);
        QCOMPARE(tokens.value("cacheCreation").toInteger(), usage.cacheCreationInputTokens);
        QCOMPARE(tokens.value("cacheRead").toInteger(), usage.cacheReadInputTokens);
        QCOMPARE(app.value("tagSummary").toInt(), int(project->tagSummary()));

        const QJsonArray children = app.value("children").toArray();
        QCOMPARE(children.size(), qsizetype(project->children().size()));
        const QJsonObject sub = childWithPath(children, m_examples + "/-home-alex-src-weather-app--offline-mode");
        QCOMPARE(sub.value("kind").toString(), QStringLiteral("subproject"));
        QVERIFY(sub.value("title").toString().startsWith("offline-mode"));
        // The path listed for it is one the command takes.
        const Run subRun = tree({sub.value("path").toString(), "--json", "--depth", "1"});
        QCOMPARE(subRun.code, 0);
        const QJsonObject subTop = QJsonDocument::fromJson(subRun.out.toUtf8()).object();
        QCOMPARE(subTop.value("kind").toString(), QStringLiteral("subproject"));
        QVERIFY(!subTop.value("children").toArray().isEmpty());
        // Three levels: project, session, exchange; exchanges are leaves here.
        for (const QJsonValue &child : children) {
            const QJsonObject row = child.toObject();
            if (row.value("kind") == QStringLiteral("session"))
                for (const QJsonValue &grandchild : row.value("children").toArray())
                    QVERIFY(!grandchild.toObject().contains("children"));
        }
    }

    void textIndentsChildren()
    {
        const QString root = m_dir.filePath("lib/projects");
        write(root + "/-Users-me-tiny/s.jsonl",
              QList<QJsonObject>{prompt("p1", "Hello\nthere", "2025-03-01T10:00:00.000Z"),
                                 assistant("a1", "hi", "m1", usage(3, 4, 5, 6), "2025-03-01T10:00:05.000Z")});
        const Run run = tree({root});
        QCOMPARE(run.code, 0);
        const QStringList rows = run.out.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(rows.size(), 3);
        QVERIFY2(rows[0].startsWith("tiny  [project]  " + root + "/-Users-me-tiny  tokens 3/4/5/6  tags 0x0000"), qPrintable(rows[0]));
        QVERIFY2(rows[1].startsWith("  ") && rows[1].contains("[session]  " + root + "/-Users-me-tiny/s.jsonl  tokens 3/4/5/6"),
                 qPrintable(rows[1]));
        QVERIFY2(rows[2].startsWith("    Hello there  [exchange]"), qPrintable(rows[2]));
    }

    void failures()
    {
        Run run = tree({m_dir.filePath("missing")});
        QCOMPARE(run.code, 1);
        QVERIFY(run.err.contains("no such file or directory"));
        QDir().mkpath(m_dir.filePath("plain"));
        run = tree({m_dir.filePath("plain")});
        QCOMPARE(run.code, 1);
        QVERIFY(run.err.contains("is not a log root, a project or a session transcript"));
        QCOMPARE(tree({"--depth", "zero"}).code, 2);
        QCOMPARE(tree({"--depth"}).code, 2);
        QCOMPARE(tree({"a", "b"}).code, 2);

        const QByteArray savedHome = qgetenv("HOME");
        qputenv("HOME", m_dir.filePath("emptyhome").toUtf8());
        run = tree({});
        qputenv("HOME", savedHome);
        QCOMPARE(run.code, 1);
        QVERIFY(run.out.isEmpty());
        QCOMPARE(run.err, QStringLiteral("No Claude session logs found!\nThese directories were checked:\n"
                                         "\t~/.claude/projects\n"
                                         "\t~/Library/Developer/Xcode/CodingAssistant/ClaudeAgentConfig/projects\n\n"));
    }
};

QTEST_GUILESS_MAIN(TestTree)
#include "tst_tree.moc"
