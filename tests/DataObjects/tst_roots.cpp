// Log roots, the set of default roots and the kind of node for a path, on real directories.

#include "Halvex/Foundation/HVXDefaults.h"
#include "Halvex/Foundation/HVXLog.h"
#include "Halvex/Foundation/HVXMenu.h"
#include "LogCapture.h"
#include "Tavlo/DataObjects/TVLDesktop.h"
#include "Tavlo/DataObjects/TVLProject.h"
#include "Tavlo/DataObjects/TVLProjectNames.h"
#include "Tavlo/DataObjects/TVLRoot.h"
#include "Tavlo/DataObjects/TVLRoots.h"
#include "Tavlo/DataObjects/TVLSession.h"
#include "Tavlo/DataObjects/TVLSubproject.h"
#include "TranscriptBuilder.h"
#include "WithoutPrivileges.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace TranscriptBuilder;

namespace {
QString writeSession(const QString &path, const QString &lastTime)
{
    return write(path, QList<QJsonObject>{prompt("p1", "question", "2025-03-01T10:00:00.000Z"),
                                          assistant("a1", "answer", "m1", usage(1, 1), lastTime)});
}

void setModified(const QString &path, const QDateTime &date)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.setFileTime(date, QFileDevice::FileModificationTime));
}

QStringList projectNames(TVLObject &node)
{
    QStringList names;
    for (const auto &child : node.children())
        names << static_cast<TVLProject *>(child.get())->projectName();
    return names;
}

QDateTime day(int d) { return QDateTime(QDate(2024, 1, d), QTime(12, 0), Qt::UTC); }

class AlertDesktop final : public TVLDesktop
{
public:
    QStringList alerts;
    void showInformationalAlert(const QString &message, const QString &informativeText) override
    {
        alerts << message + "|" + informativeText;
    }
};
} // namespace

class TestRoots : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    int m_serial = 0;

    QString newDir(const QString &name = QStringLiteral("projects"))
    {
        const QString path = m_dir.filePath(QStringLiteral("t%1/").arg(++m_serial) + name);
        QDir().mkpath(path);
        return path;
    }

    // Three projects: "beta" newest, "Alpha" oldest, "gamma" without sessions.
    QString threeProjects()
    {
        const QString root = newDir();
        writeSession(root + "/-Users-me-beta/s.jsonl", "2025-01-01T00:00:00.000Z");
        writeSession(root + "/-Users-me-Alpha/s.jsonl", "2025-01-01T00:00:00.000Z");
        setModified(root + "/-Users-me-beta/s.jsonl", day(3));
        setModified(root + "/-Users-me-Alpha/s.jsonl", day(1));
        QDir().mkpath(root + "/-Users-me-gamma");
        QDir().mkpath(root + "/-Users-me-beta--sub");
        write(root + "/stray.txt", QStringList{"x"});
        return root;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        HVXDefaults::useStoreAtPath(m_dir.filePath("settings.ini"));
    }

    void init() { HVXDefaults::standard().remove(TVLRoot::sortModeKey); }

    void kindOfNodeForAPath()
    {
        const QString base = newDir("base");
        QDir().mkpath(base + "/projects/-Users-me-app");
        writeSession(base + "/projects/-Users-me-app/s.jsonl", "2025-01-01T00:00:00.000Z");
        QDir().mkpath(base + "/projects/-Users-me-app--feature");
        write(base + "/notes.txt", QStringList{"x"});

        auto root = std::dynamic_pointer_cast<TVLRoot>(TVLObject::objectForPath(base + "/projects"));
        QVERIFY(root);
        QCOMPARE(root->path(), base + "/projects");
        auto inner = std::dynamic_pointer_cast<TVLRoot>(TVLObject::objectForPath(base));
        QVERIFY(inner);
        QCOMPARE(inner->path(), base + "/projects");
        QVERIFY(std::dynamic_pointer_cast<TVLProject>(TVLObject::objectForPath(base + "/projects/-Users-me-app")));
        QVERIFY(!TVLObject::objectForPath(base + "/projects/-Users-me-app--feature"));
        QVERIFY(std::dynamic_pointer_cast<TVLSession>(TVLObject::objectForPath(base + "/projects/-Users-me-app/s.jsonl")));
        QVERIFY(!TVLObject::objectForPath(base + "/notes.txt"));
        QVERIFY(!TVLObject::objectForPath(base + "/missing"));

        // A directory whose only ".jsonl" entry is a directory is nothing.
        const QString fake = newDir("fake");
        QDir().mkpath(fake + "/x.jsonl");
        QVERIFY(!TVLObject::objectForPath(fake));

        // "projects" without "-" directories but with a transcript is a project.
        const QString lone = newDir();
        writeSession(lone + "/s.jsonl", "2025-01-01T00:00:00.000Z");
        QDir().mkpath(lone + "/plain");
        QVERIFY(std::dynamic_pointer_cast<TVLProject>(TVLObject::objectForPath(lone)));
    }

    void listingSkipsSubprojectsAndFilesAndReadsNoTranscript()
    {
        const QString root = threeProjects();
        // A transcript that any read would complain about: listing must not say a word.
        write(root + "/-Users-me-beta/broken.jsonl", QStringList{"not json", "{\"cut\": "});
        LogCapture capture;
        const auto logRoot = TVLRoot::initWithRootDir(root);
        QVERIFY(logRoot);
        QCOMPARE(logRoot->projectLookup().size(), 3);
        QCOMPARE(capture.lines(), QStringList());
        for (const auto &project : logRoot->projectLookup()) {
            QVERIFY(!project->isLoaded());
            QCOMPARE(project->parent(), logRoot.get());
        }
        // Rescans keep the project objects.
        const auto beta = logRoot->projectLookup().value(root + "/-Users-me-beta");
        logRoot->updateProjects();
        QCOMPARE(logRoot->projectLookup().value(root + "/-Users-me-beta"), beta);
    }

    void everyDirectoryIsAProjectUnlessItExtendsOne()
    {
        const QString root = QStringLiteral(TAVLO_TEST_FIXTURES "/log-root/projects");
        const auto logRoot = TVLRoot::initWithRootDir(root);
        QVERIFY(logRoot);
        QStringList shown;
        for (const auto &project : logRoot->projectLookup())
            shown << QFileInfo(project->path()).fileName() + " = " + project->projectName();
        // Three projects called "app" are told apart by what their directories say before it.
        QCOMPARE(shown, QStringList({"-Users-me-app = app (me)", "-Users-me-orphan--claude-worktrees-x = x",
                                     "-home-me--dotfiles = dotfiles", "-home-me-legacy = legacy",
                                     "-work--scratch-app = app (scratch)", "-work-client-b-app = app (b)",
                                     "C--Users-me--claude = claude",
                                     // Another project's directory differing in case is another
                                     // project where the file system tells case apart.
                                     "C--Users-me-proj--claude-worktrees-y = y", "X--02-Clients-Docs = Docs",
                                     "c--Users-me-proj = proj"}));
        const auto app = logRoot->projectLookup().value(root + "/-Users-me-app");
        app->loadIfNeeded();
        QCOMPARE(app->subprojects().size(), size_t(1));
        QCOMPARE(app->subprojects().front()->projectName(), QString("claude-worktrees-fix"));
    }

    void namesOfProjectDirectories()
    {
        const QStringList listed{"-a-app", "-a-app--wt-1", "-a-app--wt-1--x", "C--Users-me", "-b--c-app"};
        const struct
        {
            const char *name;
            const char *parent;
        } cases[] = {{"-a-app--wt-1", "-a-app"},
                     {"-a-app--wt-1--x", "-a-app"},  // the shortest project it extends
                     {"C--Users-me--claude", "C--Users-me"},
                     {"C--Users-you--claude", ""},
                     {"-b--c-app", ""},
                     {"--x", ""}};
        for (const auto &test : cases)
            QCOMPARE(TVLProjectNames::parentProjectDirectory(QStringLiteral("/nowhere"), QString::fromUtf8(test.name), listed),
                     QString::fromUtf8(test.parent));
        QCOMPARE(TVLProjectNames::subprojectName("-a-app--wt-1--x", "-a-app"), QString("wt-1--x"));
        QCOMPARE(TVLProjectNames::distinctNames({"-x-a-app", "-y-a-app", "-y-b", "-z-app"}, {"app", "app", "b", "app"}),
                 QStringList({"app (x-a)", "app (y-a)", "b", "app (z)"}));
    }

    void sortModes()
    {
        const QString root = threeProjects();
        // Absent setting: newest first, projects without sessions after, by name.
        const auto logRoot = TVLRoot::initWithRootDir(root);
        QCOMPARE(logRoot->sortMode(), qint64(1));
        QCOMPARE(projectNames(*logRoot), QStringList({"beta", "Alpha", "gamma"}));

        HVXMenu menu;
        logRoot->addToContextMenu(menu);
        QCOMPARE(menu.titles(), QStringList({"Open in new Window", "Reveal in Finder", "Copy URL", "-", "Sort by Name",
                                             "Sort by Recent Use"}));
        QVERIFY(!menu.itemWithTitle("Sort by Name")->checked);
        QVERIFY(menu.itemWithTitle("Sort by Recent Use")->checked);
        menu.itemWithTitle("Sort by Name")->action();
        QCOMPARE(logRoot->sortMode(), qint64(0));
        QCOMPARE(HVXDefaults::standard().integerForKey(TVLRoot::sortModeKey), qint64(0));
        QCOMPARE(projectNames(*logRoot), QStringList({"Alpha", "beta", "gamma"}));
        HVXMenu again;
        logRoot->addToContextMenu(again);
        QVERIFY(again.itemWithTitle("Sort by Name")->checked);

        // A new root reads the stored mode.
        QCOMPARE(TVLRoot::initWithRootDir(root)->sortMode(), qint64(0));
    }

    void unsupportedSortModeLogsAtEveryOrdering()
    {
        const QString root = threeProjects();
        HVXDefaults::standard().setInteger(TVLRoot::sortModeKey, 2);
        LogCapture log;
        const auto logRoot = TVLRoot::initWithRootDir(root);
        QCOMPARE(logRoot->sortMode(), qint64(2));
        const int first = log.count("Tavlo/DataObjects/TVLRoot.cpp");
        QVERIFY(first >= 1);
        QCOMPARE(log.count("ERROR: Unsupported TVLRootSortMode 2"), first);
        // The map's order: by path.
        QCOMPARE(projectNames(*logRoot), QStringList({"Alpha", "beta", "gamma"}));
        logRoot->updateDisplayChildren();
        QCOMPARE(log.count("ERROR: Unsupported TVLRootSortMode 2"), first + 1);
    }

    void notADirectory()
    {
        LogCapture log;
        const int beeps = hvxBeepCount();
        QVERIFY(!TVLRoot::initWithRootDir(m_dir.filePath("nothing")));
        QCOMPARE(log.count("Tavlo/DataObjects/TVLRoot.cpp"), 1);
        QCOMPARE(log.count("WARNING: Beep: Not a directory: " + m_dir.filePath("nothing")), 1);
        QCOMPARE(hvxBeepCount(), beeps + 1);
    }

    void eventsAddProjectsAndReachThem()
    {
        const QString root = threeProjects();
        const auto logRoot = TVLRoot::initWithRootDir(root);

        // A new project directory with its first transcript is listed at once, in order.
        writeSession(root + "/-Users-me-delta/s.jsonl", "2025-01-01T00:00:00.000Z");
        setModified(root + "/-Users-me-delta/s.jsonl", day(2));
        logRoot->pathDidUpdate(root + "/-Users-me-delta/s.jsonl");
        QCOMPARE(projectNames(*logRoot), QStringList({"beta", "delta", "Alpha", "gamma"}));

        // Not transcripts, or not below the root: ignored.
        QDir().mkpath(root + "/-Users-me-eps");
        logRoot->pathDidUpdate(root + "/-Users-me-eps");
        logRoot->pathDidUpdate(root + "/-Users-me-eps/notes.txt");
        logRoot->pathDidUpdate(m_dir.filePath("elsewhere/-x/s.jsonl"));
        QCOMPARE(logRoot->projectLookup().size(), 4);

        // An event in an unloaded project moves its date.
        const auto gamma = logRoot->projectLookup().value(root + "/-Users-me-gamma");
        writeSession(root + "/-Users-me-gamma/s.jsonl", "2025-01-01T00:00:00.000Z");
        logRoot->pathDidUpdate(root + "/-Users-me-gamma/s.jsonl");
        QVERIFY(gamma->mostRecentSessionDate().isValid());

        // A subproject event goes to its project; a "--" directory that extends no project there
        // (a hidden folder, a drive, a worktree of a removed project) is a project of its own.
        const auto beta = logRoot->projectLookup().value(root + "/-Users-me-beta");
        beta->loadIfNeeded();
        QCOMPARE(beta->subprojects().size(), size_t(1));
        writeSession(root + "/-Users-me-beta--sub/s.jsonl", "2025-01-01T00:00:00.000Z");
        logRoot->pathDidUpdate(root + "/-Users-me-beta--sub/s.jsonl");
        QCOMPARE(logRoot->projectLookup().size(), 4);
        writeSession(root + "/-Users-me-zeta--sub/s.jsonl", "2025-01-01T00:00:00.000Z");
        logRoot->pathDidUpdate(root + "/-Users-me-zeta--sub/s.jsonl");
        QCOMPARE(logRoot->projectLookup().size(), 5);
        QVERIFY(logRoot->projectLookup().contains(root + "/-Users-me-zeta--sub"));
        QVERIFY(!logRoot->projectLookup().contains(root + "/-Users-me-zeta"));

        // A transcript lying in the root itself: the project creation warns, nothing is added.
        writeSession(root + "/loose.jsonl", "2025-01-01T00:00:00.000Z");
        LogCapture log;
        logRoot->pathDidUpdate(root + "/loose.jsonl");
        QCOMPARE(log.count("WARNING: Beep: Not a directory: " + root + "/loose.jsonl"), 1);
        QCOMPARE(logRoot->projectLookup().size(), 5);
    }

    void unreadableProjectDirectory()
    {
        QTemporaryDir own;
        WithoutPrivileges unprivileged(own.path());
        if (!unprivileged.permissionsHold())
            QSKIP("running as root, and the rights that ignore permissions cannot be given up");
        const QString root = own.filePath("projects");
        QDir().mkpath(root + "/-Users-me-locked");
        writeSession(root + "/-Users-me-locked/s.jsonl", "2025-01-01T00:00:00.000Z");
        QFile::setPermissions(root + "/-Users-me-locked", QFileDevice::Permissions());
        QVERIFY(!QFileInfo(root + "/-Users-me-locked/s.jsonl").isReadable());
        const auto logRoot = TVLRoot::initWithRootDir(root);
        const auto locked = logRoot->projectLookup().value(root + "/-Users-me-locked");
        QVERIFY(locked);
        QVERIFY(!locked->mostRecentSessionDate().isValid());
        LogCapture capture;
        locked->loadIfNeeded();
        QVERIFY(locked->displayChildren().empty());
        QCOMPARE(capture.count(QStringLiteral("WARNING: Can't list the project directory, permission denied")), 1);
        QFile::setPermissions(root + "/-Users-me-locked", QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }

    void titles()
    {
        const QString root = newDir();
        const auto logRoot = TVLRoot::initWithRootDir(root);
        QCOMPARE(logRoot->displayTitleString(), QStringLiteral("Claude"));
        QCOMPARE(logRoot->displayTitle(),
                 "Claude  [c:NSColor:secondaryLabelColor][F:monospacedSystemFontOfSize:weight:|10.000000|0.000000]" + root);
        const QString claude = newDir(".claude/projects");
        QCOMPARE(TVLRoot::initWithRootDir(claude)->displayTitleString(), QStringLiteral("Claude Code"));
        const QString xcode = newDir("Library/Developer/Xcode/CodingAssistant/ClaudeAgentConfig/projects");
        QCOMPARE(TVLRoot::initWithRootDir(xcode)->displayTitleString(), QStringLiteral("Xcode"));
    }

    void defaultRoots()
    {
        const QByteArray savedHome = qgetenv("HOME");
        auto desktop = std::make_shared<AlertDesktop>();
        TVLDesktop::install(desktop);
        const QString home = newDir("home");
        qputenv("HOME", home.toUtf8());

        // Neither exists: the alert names both, nothing is added.
        TVLRoots none;
        QVERIFY(!none.addDefaultRoots());
        QVERIFY(none.children().empty());
        QCOMPARE(desktop->alerts, QStringList({"No Claude session logs found!|These directories were checked:\n"
                                               "\t~/.claude/projects\n"
                                               "\t~/Library/Developer/Xcode/CodingAssistant/ClaudeAgentConfig/projects\n\n"}));
        QCOMPARE(none.titleForWindow(), QStringLiteral("Claude"));

        // Only the command-line root: its projects are the top level.
        writeSession(home + "/.claude/projects/-Users-me-app/s.jsonl", "2025-01-01T00:00:00.000Z");
        TVLRoots one;
        QVERIFY(one.addDefaultRoots());
        QVERIFY(one.singleChild());
        QCOMPARE(one.singleChild()->parent(), &one);
        QCOMPARE(one.titleForWindow(), QStringLiteral("Claude Code"));
        QCOMPARE(one.displayChildren().size(), size_t(1));
        QVERIFY(dynamic_cast<TVLProject *>(one.displayChildren().front().get()));
        QCOMPARE(one.displayChildren().front()->titleForWindow(), QStringLiteral("Claude Code \u23F5 app"));

        // Both: two root rows.
        QDir().mkpath(home + "/Library/Developer/Xcode/CodingAssistant/ClaudeAgentConfig/projects");
        TVLRoots both;
        QVERIFY(both.addDefaultRoots());
        QVERIFY(!both.singleChild());
        QCOMPARE(both.titleForWindow(), QStringLiteral("Claude"));
        const auto rows = both.displayChildren();
        QCOMPARE(rows.size(), size_t(2));
        QCOMPARE(rows[0]->displayTitleString(), QStringLiteral("Claude Code"));
        QCOMPARE(rows[1]->displayTitleString(), QStringLiteral("Xcode"));
        QVERIFY(rows[1]->displayTitle().endsWith("~/Library/Developer/Xcode/CodingAssistant/ClaudeAgentConfig/projects"));
        QCOMPARE(desktop->alerts.size(), 1);

        qputenv("HOME", savedHome);
        TVLDesktop::install(nullptr);
    }
};

QTEST_GUILESS_MAIN(TestRoots)
#include "tst_roots.moc"
