// Live updates end to end: real files written while a root, a project or the default roots are
// watched, delivered through the file watcher and routed down the tree.

#include "Halvex/Foundation/HVXDefaults.h"
#include "Halvex/Foundation/HVXFileWatcher.h"
#include "Tavlo/DataObjects/TVLChangeHub.h"
#include "Tavlo/DataObjects/TVLExchange.h"
#include "Tavlo/DataObjects/TVLProject.h"
#include "Tavlo/DataObjects/TVLRoot.h"
#include "Tavlo/DataObjects/TVLRoots.h"
#include "Tavlo/DataObjects/TVLSession.h"
#include "Tavlo/DataObjects/TVLSubagent.h"
#include "Tavlo/DataObjects/TVLSubproject.h"
#include "Tavlo/DataObjects/TVLWorkflowRun.h"
#include "TranscriptBuilder.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace TranscriptBuilder;

namespace {
QString writeSession(const QString &path, const QString &tag)
{
    return write(path, QList<QJsonObject>{prompt(tag + "-p1", "question", "2025-03-01T10:00:00.000Z"),
                                          assistant(tag + "-a1", "answer", tag + "-m1", usage(1, 1), "2025-03-01T10:00:05.000Z")});
}

// Records "TVLSessionDidUpdate" with the number of exchanges the session has at that moment.
struct UpdateRecorder
{
    QObject context;
    QList<std::pair<const TVLSession *, size_t>> updates;
    UpdateRecorder()
    {
        QObject::connect(&TVLChangeHub::shared(), &TVLChangeHub::sessionDidUpdate, &context,
                         [this](const TVLSession *session) { updates.append({session, session->exchanges().size()}); });
    }
};
} // namespace

class TestWatching : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    int m_serial = 0;

    QString newRoot()
    {
        const QString root = m_dir.filePath(QStringLiteral("t%1/projects").arg(++m_serial));
        QDir().mkpath(root);
        return root;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        HVXDefaults::useStoreAtPath(m_dir.filePath("settings.ini"));
    }

    void watchedRootFollowsAnAssistantAtWork()
    {
        const QString root = newRoot();
        writeSession(root + "/-Users-me-app/one.jsonl", "one");
        const auto logRoot = TVLRoot::initWithRootDir(root);
        logRoot->startMonitoring();
        QVERIFY(logRoot->isMonitoring());
        const auto app = logRoot->projectLookup().value(root + "/-Users-me-app");
        app->loadIfNeeded();
        const auto one = app->sessionLookup().value(root + "/-Users-me-app/one.jsonl");
        UpdateRecorder recorder;

        // Appended lines: the session reads them and says so with the new exchange in place.
        append(one->path(), {line(prompt("one-p2", "next", "2025-03-01T11:00:00.000Z"))});
        QTRY_VERIFY_WITH_TIMEOUT(!recorder.updates.isEmpty(), 5000);
        QCOMPARE(recorder.updates.last().first, one.get());
        QCOMPARE(recorder.updates.last().second, size_t(2));

        // A new session file in the loaded project.
        writeSession(root + "/-Users-me-app/two.jsonl", "two");
        QTRY_VERIFY_WITH_TIMEOUT(app->sessionLookup().contains(root + "/-Users-me-app/two.jsonl"), 5000);
        QCOMPARE(app->children().size(), size_t(2));

        // A new sub-agent transcript beside a session.
        write(root + "/-Users-me-app/one/subagents/agent-a1.jsonl", QList<QJsonObject>{prompt("a1-p", "task")});
        QTRY_COMPARE_WITH_TIMEOUT(one->subagents().size(), size_t(1), 5000);

        // A new project directory receiving its first transcript; and a new subproject.
        writeSession(root + "/-Users-me-new/first.jsonl", "new");
        QTRY_VERIFY_WITH_TIMEOUT(logRoot->projectLookup().contains(root + "/-Users-me-new"), 5000);
        QCOMPARE(logRoot->children().size(), size_t(2));
        writeSession(root + "/-Users-me-app--fix/f.jsonl", "fix");
        QTRY_COMPARE_WITH_TIMEOUT(app->subprojects().size(), size_t(1), 5000);

        logRoot->stopMonitoring();
        QVERIFY(!logRoot->isMonitoring());
        // A watch of the same tree, started after the stop, sees the new project come.
        HVXFileWatcher probe;
        QSignalSpy probed(&probe, &HVXFileWatcher::pathsChanged);
        QVERIFY(probe.start(root));
        writeSession(root + "/-Users-me-late/late.jsonl", "late");
        QTRY_VERIFY_WITH_TIMEOUT(!probed.isEmpty(), 5000);
        QVERIFY(!logRoot->projectLookup().contains(root + "/-Users-me-late"));
    }

    // When the system drops events, the watch reports the root itself; whatever happened
    // meanwhile is then found by looking again.
    void aReportOfTheRootItselfCatchesUpWithLostEvents()
    {
        const QString root = newRoot();
        writeSession(root + "/-Users-me-app/one.jsonl", "one");
        writeSession(root + "/-Users-me-idle/idle.jsonl", "idle");
        const auto logRoot = TVLRoot::initWithRootDir(root);
        const auto app = logRoot->projectLookup().value(root + "/-Users-me-app");
        app->loadIfNeeded();
        const auto one = app->sessionLookup().value(root + "/-Users-me-app/one.jsonl");
        const auto idle = logRoot->projectLookup().value(root + "/-Users-me-idle");
        UpdateRecorder recorder;

        append(one->path(), {line(prompt("one-p2", "next", "2025-03-01T11:00:00.000Z"))});
        writeSession(root + "/-Users-me-app/two.jsonl", "two");
        write(root + "/-Users-me-app/one/subagents/agent-a1.jsonl", QList<QJsonObject>{prompt("a1-p", "task")});
        writeSession(root + "/-Users-me-app--fix/f.jsonl", "fix");
        writeSession(root + "/-Users-me-new/first.jsonl", "new");
        const QDateTime idleBefore = idle->mostRecentSessionDate();
        QFile idleFile(root + "/-Users-me-idle/idle.jsonl");
        QVERIFY(idleFile.open(QIODevice::ReadWrite));
        QVERIFY(idleFile.setFileTime(idleBefore.addDays(3), QFileDevice::FileModificationTime));
        idleFile.close();

        logRoot->pathDidUpdate(root);
        QCOMPARE(one->exchanges().size(), size_t(2));
        QCOMPARE(recorder.updates.size(), 1);
        QCOMPARE(recorder.updates.first().first, one.get());
        QVERIFY(app->sessionLookup().contains(root + "/-Users-me-app/two.jsonl"));
        QCOMPARE(one->subagents().size(), size_t(1));
        QCOMPARE(app->subprojects().size(), size_t(1));
        QVERIFY(logRoot->projectLookup().contains(root + "/-Users-me-new"));
        QVERIFY(!idle->isLoaded());
        QCOMPARE(idle->mostRecentSessionDate(), idleBefore.addDays(3));
    }

    void watchedProjectAndDefaultRoots()
    {
        const QString root = newRoot();
        writeSession(root + "/-Users-me-solo/one.jsonl", "one");
        const auto project = std::dynamic_pointer_cast<TVLProject>(TVLObject::objectForPath(root + "/-Users-me-solo"));
        QVERIFY(project);
        project->loadIfNeeded();
        project->startMonitoring();
        writeSession(root + "/-Users-me-solo/two.jsonl", "two");
        QTRY_COMPARE_WITH_TIMEOUT(project->sessionLookup().size(), 2, 5000);
        project->stopMonitoring();

        const QByteArray savedHome = qgetenv("HOME");
        const QString home = m_dir.filePath("home");
        writeSession(home + "/.claude/projects/-Users-me-a/s.jsonl", "a");
        QDir().mkpath(home + "/Library/Developer/Xcode/CodingAssistant/ClaudeAgentConfig/projects");
        qputenv("HOME", home.toUtf8());
        TVLRoots roots;
        QVERIFY(roots.addDefaultRoots());
        roots.startMonitoring();
        for (const auto &child : roots.children())
            QVERIFY(child->isMonitoring());
        writeSession(home + "/Library/Developer/Xcode/CodingAssistant/ClaudeAgentConfig/projects/-Users-me-x/s.jsonl", "x");
        auto *xcode = static_cast<TVLRoot *>(roots.children().at(1).get());
        QTRY_COMPARE_WITH_TIMEOUT(xcode->projectLookup().size(), 1, 5000);
        roots.stopMonitoring();
        for (const auto &child : roots.children())
            QVERIFY(!child->isMonitoring());
        qputenv("HOME", savedHome);
    }

    // A watched project follows a workflow run: a stopped run's agent that starts writing, and
    // a run that appears later, each under the session whose folder holds it.
    void watchedProjectFollowsWorkflowRuns()
    {
        const QString root = copyFixture("workflow", newRoot());
        const QString folder = root + "/-home-me-ledger/3f9e2a10-6c4b-4d8e-a1f2-7b5c9d0e1a23";
        const auto project = TVLProject::initWithRootDir(root + "/-home-me-ledger");
        project->loadIfNeeded();
        project->startMonitoring();
        const auto session = project->sessionLookup().value(folder + ".jsonl");
        QVERIFY(session);
        QCOMPARE(session->workflowRuns().size(), size_t(2));
        const qint64 before = session->tokenUsage()->outputTokens;

        write(folder + "/subagents/workflows/wf_0b7a22c1-e41/agent-a21.jsonl",
              QList<QJsonObject>{prompt("w21-p", "Check the archive"), assistant("w21-a", "checked", "msg-w21", usage(1, 7))});
        QTRY_COMPARE_WITH_TIMEOUT(session->workflowRuns()[0]->agents().size(), size_t(1), 5000);
        write(folder + "/subagents/workflows/wf_1c2d3e4f-a01/agent-b1.jsonl",
              QList<QJsonObject>{prompt("b1-p", "Again"), assistant("b1-a", "again", "msg-b1", usage(1, 100))});
        QTRY_COMPARE_WITH_TIMEOUT(session->workflowRuns().size(), size_t(3), 5000);
        QCOMPARE(session->workflowRuns()[1]->displayTitle(), QStringLiteral("Workflow: wf_1c2d3e4f-a01"));  // by run id
        QTRY_COMPARE_WITH_TIMEOUT(session->tokenUsage()->outputTokens, before + 107, 5000);
        project->stopMonitoring();
    }
};

QTEST_GUILESS_MAIN(TestWatching)
#include "tst_watching.moc"
