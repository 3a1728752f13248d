// Projects and subprojects on a real directory tree: cheap creation, loading, ordering,
// file events and the inputs that go wrong.

#include "Halvex/Foundation/HVXDefaults.h"
#include "Halvex/Foundation/HVXLog.h"
#include "Halvex/Foundation/HVXMenu.h"
#include "Halvex/Foundation/HVXModifierKeys.h"
#include "Tavlo/DataObjects/TVLChangeHub.h"
#include "LogCapture.h"
#include "Tavlo/DataObjects/TVLExchange.h"
#include "Tavlo/DataObjects/TVLProject.h"
#include "Tavlo/DataObjects/TVLProjectMetadata.h"
#include "Tavlo/DataObjects/TVLRoot.h"
#include "Tavlo/DataObjects/TVLSession.h"
#include "Tavlo/DataObjects/TVLSubagent.h"
#include "Tavlo/DataObjects/TVLSubproject.h"
#include "TranscriptBuilder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace TranscriptBuilder;

namespace {
// A two-exchange session whose last line carries the given time.
QString writeSession(const QString &path, const QString &lastTime, const QString &tag = QStringLiteral("s"))
{
    return write(path, QList<QJsonObject>{prompt(tag + "-p1", "first question", "2025-03-01T10:00:00.000Z"),
                                          assistant(tag + "-a1", "answer", tag + "-m1", usage(10, 20), "2025-03-01T10:00:05.000Z"),
                                          prompt(tag + "-p2", "second question", "2025-03-01T10:01:00.000Z"),
                                          assistant(tag + "-a2", "more", tag + "-m2", usage(1, 2), lastTime)});
}

void setModified(const QString &path, const QDateTime &date)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.setFileTime(date, QFileDevice::FileModificationTime));
}

QStringList childNames(TVLObject &node)
{
    QStringList names;
    for (const auto &child : node.children())
        names << QFileInfo(child->path()).fileName();
    return names;
}

const QString noSessionsNote = QStringLiteral("[c:NSColor:secondaryLabelColor][F:systemFontOfSize:weight:|10.000000|0.000000]");
} // namespace

class TestProjects : public QObject
{
    Q_OBJECT
    QTemporaryDir m_settings;
    QTemporaryDir m_dir;
    int m_serial = 0;

    // A fresh log root directory for each test.
    QString newRoot()
    {
        const QString root = m_dir.filePath(QStringLiteral("root%1/projects").arg(++m_serial));
        QDir().mkpath(root);
        return root;
    }

private Q_SLOTS:
    void initTestCase()
    {
        HVXDefaults::useStoreAtPath(m_settings.filePath(QStringLiteral("settings.ini")));
        QVERIFY(m_dir.isValid());
    }

    void creationReadsNamesAndDatesOnly()
    {
        const QString root = newRoot();
        const QString dir = root + "/-Users-me-work-app";
        writeSession(dir + "/old.jsonl", "2025-03-01T10:02:00.000Z");
        writeSession(dir + "/new.jsonl", "2025-03-01T10:02:00.000Z");
        const QDateTime older = QDateTime(QDate(2024, 5, 1), QTime(12, 0), Qt::UTC);
        const QDateTime newer = QDateTime(QDate(2024, 6, 1), QTime(12, 0), Qt::UTC);
        setModified(dir + "/old.jsonl", older);
        setModified(dir + "/new.jsonl", newer);
        // A directory with the extension and a non-transcript file count for nothing.
        QDir().mkpath(dir + "/folder.jsonl");
        write(dir + "/notes.txt", QStringList{"x"});

        const auto project = TVLProject::initWithRootDir(dir);
        QVERIFY(project);
        QCOMPARE(project->projectName(), QStringLiteral("app"));
        QCOMPARE(project->mostRecentSessionDate(), newer);
        QVERIFY(!project->isLoaded());
        QVERIFY(project->children().empty());
        QVERIFY(project->sessionLookup().isEmpty());
        QVERIFY(!project->tokenUsage());
        QCOMPARE(project->projectPath(), dir);
        QCOMPARE(project->metadata(), TVLProjectMetadata::metadataForProjectPath(dir));
        QCOMPARE(project->displayTitle(), "app  " + noSessionsNote + "Click to load project.");
        QCOMPARE(project->toolTip(), QStringLiteral("Click to load project."));

        QDir().mkpath(root + "/plain");
        QCOMPARE(TVLProject::initWithRootDir(root + "/plain")->projectName(), QStringLiteral("plain"));
        QDir().mkpath(root + "/ends-");
        QCOMPARE(TVLProject::initWithRootDir(root + "/ends-")->projectName(), QString());
    }

    void notADirectoryWarnsAndBeeps()
    {
        const QString root = newRoot();
        write(root + "/file.jsonl", QStringList{"{}"});
        LogCapture log;
        const int beeps = hvxBeepCount();
        QVERIFY(!TVLProject::initWithRootDir(root + "/file.jsonl"));
        QVERIFY(!TVLProject::initWithRootDir(root + "/missing"));
        QCOMPARE(log.count("Tavlo/DataObjects/TVLProject.cpp:"), 2);
        QCOMPARE(log.count("WARNING: Beep: Not a directory: " + root + "/file.jsonl"), 1);
        QCOMPARE(hvxBeepCount(), beeps + 2);
    }

    void projectWithoutSessions()
    {
        const QString dir = newRoot() + "/-Users-me-empty";
        QDir().mkpath(dir);
        const auto project = TVLProject::initWithRootDir(dir);
        QCOMPARE(project->displayTitle(), "empty  " + noSessionsNote + "No sessions found");
        QVERIFY(project->toolTip().startsWith("No Sessions found for this project.\n\nIf this is unexpected, please check "
                                              "\"Avoid auto-delete of transcripts\" in the Tavlo Help."));
        QVERIFY(project->displayChildren().empty());
        QVERIFY(project->isLoaded());
        QCOMPARE(project->displayTitle(), "empty  " + noSessionsNote + "No sessions found");
    }

    void loadingBuildsSortedSessionsAndSubprojects()
    {
        const QString root = newRoot();
        const QString dir = root + "/-Users-me-app";
        writeSession(dir + "/b.jsonl", "2025-03-02T00:00:00.000Z", "b");
        writeSession(dir + "/a.jsonl", "2025-03-03T00:00:00.000Z", "a");
        // Without timestamps a session dates from its file.
        write(dir + "/undated.jsonl", QList<QJsonObject>{prompt("u-p", "no time")});
        setModified(dir + "/undated.jsonl", QDateTime(QDate(2025, 3, 2), QTime(12, 0), Qt::UTC));
        // A session folder without transcript: orphaned sub-agents.
        write(dir + "/lost/subagents/agent-x.jsonl", QList<QJsonObject>{prompt("x-p", "agent")});
        writeSession(root + "/-Users-me-app--feature/f.jsonl", "2025-03-01T00:00:00.000Z", "f");
        writeSession(root + "/-Users-me-apple/other.jsonl", "2025-03-01T00:00:00.000Z", "o");

        const auto project = TVLProject::initWithRootDir(dir);
        const auto shown = project->displayChildren();
        QVERIFY(project->isLoaded());
        QCOMPARE(project->displayTitle(), QStringLiteral("app"));
        QVERIFY(project->toolTip().isEmpty());
        QCOMPARE(project->sessionLookup().size(), 3);
        QVERIFY(project->hasOrphanedSubagents());
        QCOMPARE(project->subprojects().size(), size_t(1));
        const auto &subproject = project->subprojects().front();
        QCOMPARE(subproject->projectName(), QStringLiteral("feature"));
        QCOMPARE(subproject->parent(), project.get());
        QCOMPARE(subproject->textColor(), HVXSystemColor::purple());
        QVERIFY(subproject->ownMetadata() && subproject->ownMetadata() != project->ownMetadata());
        // Oldest first by last change; the subproject by its directory date (now).
        QCOMPARE(childNames(*project), QStringList({"b.jsonl", "undated.jsonl", "a.jsonl", "-Users-me-app--feature"}));
        QCOMPARE(shown.size(), size_t(4));
        for (const auto &child : project->children())
            QCOMPARE(child->parent(), project.get());
        QCOMPARE(project->tokenUsage()->totalTokens(), 66);

        // Loading the subproject dates it by its newest session.
        subproject->loadIfNeeded();
        QCOMPARE(subproject->lastChangedAt(), QDateTime(QDate(2025, 3, 1), QTime(0, 0), Qt::UTC));
    }

    void keptTagSummariesFollowEveryStoreAndTreeChange()
    {
        const QString root = newRoot();
        const QString dir = root + "/-Users-me-tags";
        writeSession(dir + "/a.jsonl", "2025-03-02T00:00:00.000Z", "a");
        const QString b = writeSession(dir + "/b.jsonl", "2025-03-03T00:00:00.000Z", "b");
        // Two trees over the same directory, as two windows have; they share the one store.
        const auto first = TVLProject::initWithRootDir(dir);
        const auto second = TVLProject::initWithRootDir(dir);
        first->loadIfNeeded();
        second->loadIfNeeded();
        QCOMPARE(first->tagSummary(), quint16(0));
        QCOMPARE(second->tagSummary(), quint16(0));

        // A change made through one tree is seen by the other's kept summaries.
        first->metadata()->addTagIdToMessageId(3, "b-p2");
        QCOMPARE(second->tagSummary(), quint16(0x0008));
        first->metadata()->setAnnotationForMessageId("why", "a-p1");
        QCOMPARE(second->tagSummary(), quint16(0x0009));
        first->metadata()->removeTagIdFromMessageId(3, "b-p2");
        QCOMPARE(second->tagSummary(), quint16(0x0001));

        // A session that grows an exchange whose id already carries a tag.
        first->metadata()->addTagIdToMessageId(9, "b-p3");
        first->metadata()->addTagIdToMessageId(12, "b-p3");
        QCOMPARE(second->tagSummary(), quint16(0x0001));
        append(b, {line(prompt("b-p3", "third", "2025-03-03T00:01:00.000Z"))});
        for (const auto &child : second->children())
            if (auto *session = dynamic_cast<TVLSession *>(child.get()); session && session->path() == b)
                QVERIFY(session->updateMessages());
        QCOMPARE(second->tagSummary(), quint16(0x1201));
    }

    void preambleTagsAreThoseOfItsPageSection()
    {
        // The page names the preamble's section after its first shown element: here the
        // assistant line, since the meta line before it shows nothing.
        const QString root = newRoot();
        const QString dir = root + "/-Users-me-preamble";
        QJsonObject meta = prompt("meta-1", "Caveat: local commands follow");
        meta.insert("isMeta", true);
        write(dir + "/s.jsonl", QList<QJsonObject>{meta, assistant("pre-a1", "hello"), prompt("w-p1", "q")});
        const auto project = TVLProject::initWithRootDir(dir);
        project->loadIfNeeded();
        auto *session = dynamic_cast<TVLSession *>(project->children().front().get());
        QVERIFY(session);
        const auto &preamble = session->exchanges().front();
        QVERIFY(preamble->isPreamble());
        QCOMPARE(preamble->sectionId(), QStringLiteral("pre-a1"));
        QCOMPARE(session->exchanges().back()->sectionId(), QStringLiteral("w-p1"));
        project->metadata()->addTagIdToMessageId(4, "pre-a1");
        project->metadata()->setAnnotationForMessageId("note", "pre-a1");
        QCOMPARE(preamble->tagSummary(), quint16(0x0011));
        QCOMPARE(project->tagSummary(), quint16(0x0011));
    }

    void parallelLoadGivesTheSameSessionsAsOneByOne()
    {
        const QString dir = newRoot() + "/-Users-me-many";
        for (int i = 0; i < 24; ++i)
            writeSession(dir + QStringLiteral("/s%1.jsonl").arg(i, 2, 10, QLatin1Char('0')),
                         QStringLiteral("2025-04-%1T00:00:00.000Z").arg(i + 1, 2, 10, QLatin1Char('0')),
                         QStringLiteral("s%1").arg(i));
        const auto project = TVLProject::initWithRootDir(dir);
        project->loadIfNeeded();
        QCOMPARE(project->sessionLookup().size(), 24);
        for (auto it = project->sessionLookup().begin(); it != project->sessionLookup().end(); ++it) {
            const auto alone = TVLSession::initWithPath(it.key());
            const auto &loaded = it.value();
            QCOMPARE(loaded->path(), it.key());
            QCOMPARE(loaded->children().size(), alone->children().size());
            QCOMPARE(loaded->exchanges().size(), alone->exchanges().size());
            for (size_t e = 0; e < alone->exchanges().size(); ++e)
                QCOMPARE(loaded->exchanges()[e]->uuid(), alone->exchanges()[e]->uuid());
            QCOMPARE(loaded->lastChangedAt(), alone->lastChangedAt());
            QCOMPARE(loaded->displayTitle(), alone->displayTitle());
            QCOMPARE(loaded->tokenUsage()->totalTokens(), alone->tokenUsage()->totalTokens());
        }
        QCOMPARE(childNames(*project).first(), QStringLiteral("s00.jsonl"));
        QCOMPARE(childNames(*project).last(), QStringLiteral("s23.jsonl"));
    }

    void eventsKeepALoadedProjectCurrent()
    {
        const QString root = newRoot();
        const QString dir = root + "/-Users-me-live";
        writeSession(dir + "/one.jsonl", "2025-03-05T00:00:00.000Z", "one");
        const auto project = TVLProject::initWithRootDir(dir);
        project->loadIfNeeded();

        // A new transcript becomes a session and the children are ordered again.
        writeSession(dir + "/two.jsonl", "2025-03-04T00:00:00.000Z", "two");
        project->pathDidUpdate(dir + "/two.jsonl");
        QCOMPARE(childNames(*project), QStringList({"two.jsonl", "one.jsonl"}));
        QCOMPARE(project->mostRecentSessionDate(), QDateTime(QDate(2025, 3, 5), QTime(0, 0), Qt::UTC));

        // A known one reads its file again and says so.
        QObject context;
        QList<const void *> updated;
        QObject::connect(&TVLChangeHub::shared(), &TVLChangeHub::sessionDidUpdate, &context,
                         [&](const TVLSession *session) { updated << session; });
        const auto two = project->sessionLookup().value(dir + "/two.jsonl");
        append(dir + "/two.jsonl", QStringList{line(prompt("two-p3", "third", "2025-03-06T00:00:00.000Z"))});
        project->pathDidUpdate(dir + "/two.jsonl");
        QCOMPARE(updated, QList<const void *>({two.get()}));
        QCOMPARE(two->exchanges().size(), size_t(3));
        QCOMPARE(childNames(*project), QStringList({"one.jsonl", "two.jsonl"}));

        // Events for other places are none of this project's business.
        project->pathDidUpdate(dir + "/deeper/x.jsonl");
        project->pathDidUpdate(root + "/-Users-me-other/x.jsonl");
        project->pathDidUpdate(dir + "/notes.txt");
        QCOMPARE(project->sessionLookup().size(), 2);

        // A new sub-agent file reloads its session's sub-agents.
        const auto one = project->sessionLookup().value(dir + "/one.jsonl");
        QVERIFY(one->subagents().empty());
        write(dir + "/one/subagents/agent-a1.jsonl", QList<QJsonObject>{prompt("a1-p", "agent task")});
        project->pathDidUpdate(dir + "/one/subagents/agent-a1.jsonl");
        QCOMPARE(one->subagents().size(), size_t(1));

        // A file in a new subproject directory creates the subproject on the spot.
        writeSession(root + "/-Users-me-live--fix/f.jsonl", "2025-03-07T00:00:00.000Z", "f");
        project->pathDidUpdate(root + "/-Users-me-live--fix/f.jsonl");
        QCOMPARE(project->subprojects().size(), size_t(1));
        QCOMPARE(project->subprojects().front()->projectName(), QStringLiteral("fix"));
        QVERIFY(childNames(*project).contains("-Users-me-live--fix"));
        // The next event goes to that same subproject.
        project->pathDidUpdate(root + "/-Users-me-live--fix/f.jsonl");
        QCOMPARE(project->subprojects().size(), size_t(1));
    }

    void eventsInAnUnloadedProjectOnlyMoveItsDate()
    {
        const QString dir = newRoot() + "/-Users-me-idle";
        writeSession(dir + "/one.jsonl", "2025-03-05T00:00:00.000Z");
        setModified(dir + "/one.jsonl", QDateTime(QDate(2024, 1, 1), QTime(0, 0), Qt::UTC));
        const auto project = TVLProject::initWithRootDir(dir);
        writeSession(dir + "/two.jsonl", "2025-03-05T00:00:00.000Z");
        project->pathDidUpdate(dir + "/two.jsonl");
        QVERIFY(!project->isLoaded());
        QVERIFY(project->sessionLookup().isEmpty());
        QVERIFY(project->mostRecentSessionDate() > QDateTime(QDate(2024, 1, 2), QTime(0, 0), Qt::UTC));
    }

    void filesThatGoWrong()
    {
        const QString dir = newRoot() + "/-Users-me-odd";
        writeSession(dir + "/keep.jsonl", "2025-03-05T00:00:00.000Z", "keep");
        writeSession(dir + "/gone.jsonl", "2025-03-04T00:00:00.000Z", "gone");
        const auto project = TVLProject::initWithRootDir(dir);
        project->loadIfNeeded();
        const auto keep = project->sessionLookup().value(dir + "/keep.jsonl");
        LogCapture log;

        // Renamed away and back: the session stays listed and ends up with its content again.
        QVERIFY(QFile::rename(dir + "/keep.jsonl", dir + "/keep.moved"));
        project->pathDidUpdate(dir + "/keep.jsonl");
        project->pathDidUpdate(dir + "/keep.moved");
        QCOMPARE(project->sessionLookup().size(), 2);
        QVERIFY(QFile::rename(dir + "/keep.moved", dir + "/keep.jsonl"));
        project->pathDidUpdate(dir + "/keep.jsonl");
        QCOMPARE(project->sessionLookup().value(dir + "/keep.jsonl"), keep);
        QCOMPARE(keep->exchanges().size(), size_t(2));

        // A transcript replaced by a directory: nothing crashes and the session stays listed.
        QVERIFY(QFile::remove(dir + "/gone.jsonl"));
        QVERIFY(QDir().mkpath(dir + "/gone.jsonl"));
        project->pathDidUpdate(dir + "/gone.jsonl");
        QCOMPARE(project->sessionLookup().size(), 2);
        // A new directory named like a transcript is not a session.
        QVERIFY(QDir().mkpath(dir + "/new.jsonl"));
        project->pathDidUpdate(dir + "/new.jsonl");
        QCOMPARE(project->sessionLookup().size(), 2);
        QCOMPARE(project->children().size(), size_t(2));
        QCOMPARE(log.count("WARNING: Can't read session '" + dir + "/keep.jsonl'"), 1);
        QCOMPARE(log.count("WARNING: Can't read session '" + dir + "/gone.jsonl': it is a directory"), 1);
    }

    void vanishedProjectDirectory()
    {
        const QString dir = newRoot() + "/-Users-me-vanishing";
        writeSession(dir + "/one.jsonl", "2025-03-05T00:00:00.000Z");
        const auto project = TVLProject::initWithRootDir(dir);
        QVERIFY(QDir(dir).removeRecursively());
        LogCapture log;
        project->loadIfNeeded();
        QCOMPARE(log.count("WARNING: Can't list the project directory, it is gone or not a directory: " + dir), 1);
        QVERIFY(project->children().empty());
        // An event for a transcript that is gone and was never known adds no session.
        project->pathDidUpdate(dir + "/one.jsonl");
        QVERIFY(project->children().empty());

        // Unloaded and gone: the date goes, nothing else happens.
        const QString other = newRoot() + "/-Users-me-vanishing2";
        writeSession(other + "/one.jsonl", "2025-03-05T00:00:00.000Z");
        const auto idle = TVLProject::initWithRootDir(other);
        QVERIFY(QDir(other).removeRecursively());
        idle->pathDidUpdate(other + "/one.jsonl");
        QVERIFY(!idle->mostRecentSessionDate().isValid());
    }

    void subprojectNames()
    {
        QCOMPARE(TVLSubproject::extractSubprojectNameFromPath("/r/-Users-me-app--fix--2"), std::optional<QString>("fix--2"));
        QCOMPARE(TVLSubproject::extractSubprojectNameFromPath("/r/-Users-me-app--"), std::optional<QString>(""));
        QVERIFY(!TVLSubproject::extractSubprojectNameFromPath("/r/-Users-me-app"));
    }

    void contextMenuAndUsageReport()
    {
        const QString root = newRoot();
        writeSession(root + "/-Users-me-menu/one.jsonl", "2025-03-05T00:00:00.000Z");
        const auto logRoot = TVLRoot::initWithRootDir(root);
        const auto project = logRoot->projectLookup().value(root + "/-Users-me-menu");
        HVXMenu menu;
        project->addToContextMenu(menu);
        QCOMPARE(menu.titles(), QStringList({"Open in new Window", "Reveal in Finder", "Copy URL", "-", "Projects"}));
        const HVXMenuItem *projects = menu.itemWithTitle("Projects");
        QVERIFY(projects && projects->submenu);
        QVERIFY(projects->submenu->titles().contains("Sort by Name"));
        // Opened on its own, a project has no parent's menu to offer.
        HVXMenu alone;
        TVLProject::initWithRootDir(root + "/-Users-me-menu")->addToContextMenu(alone);
        QCOMPARE(alone.titles(), QStringList({"Open in new Window", "Reveal in Finder", "Copy URL"}));

        hvxSetModifierFlags(0);
        QVERIFY(project->markdown().isEmpty());
        hvxSetModifierFlags(HVXModifierOption);
        const QString report = project->markdown();
        QVERIFY(project->isLoaded());
        QVERIFY(report.contains("menu"));
        QCOMPARE(report, project->tokenUsageReportHTMLPerMessage(false));
        hvxSetModifierFlags(HVXModifierOption | HVXModifierShift);
        QCOMPARE(project->markdown(), project->tokenUsageReportHTMLPerMessage(true));
        hvxSetModifierFlags(0);
    }
};

QTEST_GUILESS_MAIN(TestProjects)
#include "tst_projects.moc"
