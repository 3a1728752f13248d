// The viewer window with real widgets and the real web engine: opening on a root, loading on
// expansion, selection to page, live growth, tags from the page, double clicks, token columns,
// the relative-time timer, and a mapped transcript written anew in place.

#include "Halvex/AppKit/HVXOutlineView.h"
#include "Halvex/AppKit/HVXWindowController.h"
#include "Halvex/AppKit/HVXWindows.h"
#include "Halvex/Foundation/HVXDefaults.h"
#include "Halvex/Foundation/HVXLog.h"
#include "HostileRoot.h"
#include "LogCapture.h"
#include "Tavlo/DataObjects/TVLExchange.h"
#include "Tavlo/DataObjects/TVLFileBuffer.h"
#include "Tavlo/DataObjects/TVLMessage.h"
#include "Tavlo/DataObjects/TVLProject.h"
#include "Tavlo/DataObjects/TVLSession.h"
#include "Tavlo/Viewer/TVLOutlineModel.h"
#include "Tavlo/Viewer/TVLPageController.h"
#include "Tavlo/Viewer/TVLViewerViewController.h"
#include "PageProbe.h"
#include "Tavlo/Viewer/TVLPageBridge.h"
#include "Tavlo/Viewer/TVLViewerFlagsViewController.h"
#include "TranscriptBuilder.h"
#include "ViewerTestKit.h"
#include "WebEngineEnvironment.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QCheckBox>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using namespace TranscriptBuilder;

namespace {
QString stamp(int minute) { return QStringLiteral("2025-03-01T10:%1:00.000Z").arg(minute, 2, 10, QLatin1Char('0')); }

QString writeSession(const QString &path, const QString &tag, int exchanges)
{
    QList<QJsonObject> lines;
    for (int i = 1; i <= exchanges; ++i)
        lines << prompt(QStringLiteral("%1-p%2").arg(tag).arg(i), QStringLiteral("question %1").arg(i), stamp(i))
              << assistant(QStringLiteral("%1-a%2").arg(tag).arg(i), QStringLiteral("answer %1").arg(i),
                           QStringLiteral("%1-m%2").arg(tag).arg(i), usage(10, 20), stamp(i));
    return write(path, lines);
}
} // namespace

class TestViewer : public QObject
{
    Q_OBJECT
    ViewerTestKit m_kit;

private Q_SLOTS:
    void initTestCase()
    {
        HVXDefaults::standard().setInteger(QStringLiteral("TVLSessionDisplayMode"), 0);
        // Projects by name, so the rows come in a known order.
        HVXDefaults::standard().setInteger(QStringLiteral("TVLRootSortMode"), 0);
    }

    void cleanup() { m_kit.closeAllWindows(); }

    void theOutlineAnswersWhileAHostileRootIsListed()
    {
        QTemporaryDir dir;
        const QString root = dir.filePath("projects");
        QVERIFY(HostileRoot::make(root, dir.filePath("victim.json")));
        TVLViewerViewController *viewer = m_kit.openViewer(root);
        QVERIFY(viewer);
        TVLOutlineModel *model = viewer->outlineModel();
        QCOMPARE(model->rowCount(), 3);
        // Every project expanded: its pipes, device links and sparse file are rows with a note,
        // and the window goes on answering.
        QStringList titles;
        for (int row = 0; row < model->rowCount(); ++row) {
            const QModelIndex project = model->index(row, 0);
            viewer->outlineView()->expand(project);
            QTRY_VERIFY(model->rowCount(project) > 0);
            for (int child = 0; child < model->rowCount(project); ++child)
                titles << model->index(child, 0, project).data().toString();
        }
        QVERIFY2(titles.contains("pipe.jsonl (not read: it is a FIFO)"), qPrintable(titles.join(" | ")));
        QVERIFY(titles.contains("zero.jsonl (not read: it is a character device)"));
        bool answered = false;
        QTimer::singleShot(0, viewer, [&] { answered = true; });
        QTRY_VERIFY(answered);
        QFile victim(dir.filePath("victim.json"));
        QVERIFY(victim.open(QIODevice::ReadOnly));
        QCOMPARE(victim.readAll(), HostileRoot::victimContent);
    }

    void openingOnARootShowsItsProjectsAndSessionPages()
    {
        const QString root = m_kit.newRoot();
        const QString sessionPath = writeSession(root + "/-home-me-app/s.jsonl", "s", 3);
        writeSession(root + "/-home-me-tool/t.jsonl", "t", 1);
        TVLViewerViewController *viewer = m_kit.openViewer(root);
        QVERIFY(viewer);
        TVLOutlineModel *model = viewer->outlineModel();
        QCOMPARE(model->rowCount(), 2);
        QCOMPARE(viewer->window()->windowTitle(), viewer->contentObject()->titleForWindow());

        // The first row is expanded at the first appearance, which loads that project.
        const QModelIndex first = model->index(0, 0);
        QVERIFY(viewer->outlineView()->isExpanded(first));
        auto *project = dynamic_cast<TVLProject *>(model->objectForIndex(first));
        QVERIFY(project && project->isLoaded());
        QVERIFY(!dynamic_cast<TVLProject *>(model->objectForIndex(model->index(1, 0)))->isLoaded());

        // A session row shows the session's page.
        const QModelIndex sessionRow = model->index(0, 0, first);
        auto session = std::dynamic_pointer_cast<TVLSession>(model->sharedObjectForIndex(sessionRow));
        QVERIFY(session);
        QCOMPARE(session->path(), sessionPath);
        QSignalSpy loads(viewer->page(), &TVLPageController::pageLoaded);
        m_kit.select(viewer, sessionRow);
        QCOMPARE(viewer->page()->displayedObject(), TVLObject::Ptr(session));
        QCOMPARE(viewer->page()->lastDisplayedExchangeCount(), 3u);
        QVERIFY(viewer->page()->pendingScrollToBottom());
        QVERIFY(loads.wait(20000));
        // The scroll to the end was used by that load.
        QVERIFY(!viewer->page()->pendingScrollToBottom());

        // An exchange of the session shown only scrolls; another session's exchange loads that session.
        const quint64 loadsBefore = viewer->page()->loadCount();
        viewer->outlineView()->expand(sessionRow);
        m_kit.select(viewer, model->index(1, 0, sessionRow));
        QCOMPARE(viewer->page()->displayedObject(), TVLObject::Ptr(session));
        m_kit.select(viewer, model->index(2, 0, sessionRow));
        QCOMPARE(viewer->page()->loadCount(), loadsBefore);
        QCOMPARE(viewer->selectionIndexPaths()->first(), (HVXIndexPath{0, 0, 2}));
        const QModelIndex second = model->index(1, 0);
        viewer->outlineView()->expand(second);
        QTRY_VERIFY(model->rowCount(second) > 0);
        const QModelIndex otherSession = model->index(0, 0, second);
        viewer->outlineView()->expand(otherSession);
        QTRY_VERIFY(model->rowCount(otherSession) > 0);
        m_kit.select(viewer, model->index(0, 0, otherSession));
        QCOMPARE(viewer->page()->loadCount(), loadsBefore + 1);
        QCOMPARE(viewer->page()->displayedObject(), model->sharedObjectForIndex(otherSession));
        QVERIFY(loads.wait(20000));
        m_kit.select(viewer, sessionRow);
        QVERIFY(loads.wait(20000));

        // Deselecting keeps the page.
        viewer->outlineView()->selectionModel()->clearSelection();
        QCOMPARE(viewer->page()->displayedObject(), TVLObject::Ptr(session));
    }

    void growingSessionUpdatesThePageAndTheOutline()
    {
        const QString root = m_kit.newRoot();
        const QString path = writeSession(root + "/-home-me-app/s.jsonl", "g", 2);
        TVLViewerViewController *viewer = m_kit.openViewer(root + "/-home-me-app");
        TVLOutlineModel *model = viewer->outlineModel();
        // A window on a project shows the project as its one row.
        QCOMPARE(model->rowCount(), 1);
        const QModelIndex sessionRow = model->index(0, 0, model->index(0, 0));
        QSignalSpy loads(viewer->page(), &TVLPageController::pageLoaded);
        m_kit.select(viewer, sessionRow);
        QVERIFY(loads.wait(20000));
        viewer->outlineView()->expand(sessionRow);
        m_kit.select(viewer, model->index(1, 0, sessionRow));

        QSignalSpy updates(viewer->page(), &TVLPageController::incrementalUpdateSent);
        append(path, {line(prompt("g-p3", "third", stamp(9))), line(assistant("g-a3", "more", "g-m3", usage(1, 1), stamp(9)))});
        // The file watcher delivers the change; the page is updated in place, not reloaded.
        QVERIFY(updates.wait(10000));
        QCOMPARE(loads.count(), 1);
        QCOMPARE(viewer->page()->lastDisplayedExchangeCount(), 3u);
        QTRY_COMPARE(model->rowCount(sessionRow), 3);
        const QModelIndexList selected = viewer->outlineView()->selectionModel()->selectedRows();
        QCOMPARE(selected.size(), 1);
        QCOMPARE(dynamic_cast<TVLExchange *>(model->objectForIndex(selected.first()))->uuid(), QStringLiteral("g-p2"));
    }

    void aMappedSessionCutShorterAndRewrittenWhileShownIsFollowed()
    {
        const QString root = m_kit.newRoot();
        const auto bigSession = [](const QString &tag, int exchanges) {
            QStringList lines;
            for (int i = 1; i <= exchanges; ++i)
                lines << line(prompt(QStringLiteral("%1-p%2").arg(tag).arg(i), QStringLiteral("question %1").arg(i), stamp(i)))
                      << line(assistant(QStringLiteral("%1-a%2").arg(tag).arg(i), QString(12000, 'a'), {}, {}, stamp(i)));
            return (lines.join('\n') + '\n').toUtf8();
        };
        const QString path = root + "/-home-me-app/s.jsonl";
        QVERIFY(QDir().mkpath(root + "/-home-me-app"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bigSession("old", 30));
        file.close();
        TVLViewerViewController *viewer = m_kit.openViewer(root + "/-home-me-app");
        TVLOutlineModel *model = viewer->outlineModel();
        const QModelIndex sessionRow = model->index(0, 0, model->index(0, 0));
        auto session = std::dynamic_pointer_cast<TVLSession>(model->sharedObjectForIndex(sessionRow));
        QVERIFY(session && TVLFileBuffer::isMapped(*session->lastReadBytes().pieces[0].bytes));
        QSignalSpy loads(viewer->page(), &TVLPageController::pageLoaded);
        m_kit.select(viewer, sessionRow);
        QVERIFY(loads.wait(20000));
        QCOMPARE(viewer->page()->lastDisplayedExchangeCount(), 30u);
        viewer->outlineView()->expand(sessionRow);

        // Cut to nothing while shown: its lines read as zeros, not as a bus error, until the
        // file is read anew; then written anew, shorter, in the same file.
        const qint64 cut = TVLFileBuffer::cutMappings();
        QVERIFY(QFile::resize(path, 0));
        QVERIFY(!session->messages().back()->raw().contains("old-a30"));
        QCOMPARE(TVLFileBuffer::cutMappings(), cut + 1);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bigSession("new", 5));
        file.close();
        QTRY_COMPARE_WITH_TIMEOUT(viewer->page()->lastDisplayedExchangeCount(), 5u, 10000);
        QCOMPARE(session->exchanges().front()->uuid(), QStringLiteral("new-p1"));
        QTRY_COMPARE(model->rowCount(sessionRow), 5);

        // And again, longer than it ever was.
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bigSession("again", 40));
        file.close();
        QTRY_COMPARE_WITH_TIMEOUT(viewer->page()->lastDisplayedExchangeCount(), 40u, 10000);
        QCOMPARE(session->exchanges().front()->uuid(), QStringLiteral("again-p1"));
    }

    void tagsFromThePageReachTheStoreAndTheSummary()
    {
        const QString root = m_kit.newRoot();
        const QString dir = root + "/-home-me-app";
        writeSession(dir + "/s.jsonl", "k", 2);
        TVLViewerViewController *viewer = m_kit.openViewer(dir);
        TVLOutlineModel *model = viewer->outlineModel();
        const QModelIndex sessionRow = model->index(0, 0, model->index(0, 0));
        auto *session = dynamic_cast<TVLSession *>(model->objectForIndex(sessionRow));
        QSignalSpy loads(viewer->page(), &TVLPageController::pageLoaded);
        m_kit.select(viewer, sessionRow);
        QVERIFY(loads.wait(20000));
        QCOMPARE(session->tagSummary() & 0x4, 0);

        PageProbe::bridge(*viewer->page())->toggleTag("k-p2", 2, true);
        QFile file(dir + "/TavloMetaData.json");
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().contains("k-p2"));
        QCOMPARE(session->tagSummary() & 0x4, 0x4);
    }

    void doubleClickOpensOneWindowPerPath()
    {
        const QString root = m_kit.newRoot();
        writeSession(root + "/-home-me-app/s.jsonl", "d", 1);
        TVLViewerViewController *viewer = m_kit.openViewer(root);
        const QModelIndex projectRow = viewer->outlineModel()->index(0, 0);
        viewer->outlineViewDoubleClicked(projectRow);
        QCOMPARE(HVXWindows::windowControllers().size(), 2);
        auto *second = qobject_cast<TVLViewerViewController *>(HVXWindows::windowControllers().last()->viewController());
        QCOMPARE(second->path(), root + "/-home-me-app");
        QVERIFY(HVXWindows::windowControllers().last()->windowIdentifier().startsWith(
            QStringLiteral("TVLViewerViewController|{\"path\":")));
        viewer->outlineViewDoubleClicked(projectRow);
        QCOMPARE(HVXWindows::windowControllers().size(), 2);
    }

    void menusAndTokenColumns()
    {
        const QString root = m_kit.newRoot();
        writeSession(root + "/-home-me-app/s.jsonl", "m", 1);
        TVLViewerViewController *viewer = m_kit.openViewer(root);
        QMenu *menu = viewer->hvxContextMenuForTableView(viewer->outlineModel()->index(0, 0));
        QVERIFY(menu);
        QStringList titles;
        for (QAction *action : menu->actions())
            titles << action->text();
        QVERIFY(titles.contains(QStringLiteral("Copy URL")));
        delete menu;

        HVXOutlineView *outline = viewer->outlineView();
        outline->setColumnHidden(TVLOutlineModel::CacheReadTokensColumn, true);
        viewer->toggleTokenUsageVisibility();
        for (int column = TVLOutlineModel::InputTokensColumn; column <= TVLOutlineModel::CacheReadTokensColumn; ++column)
            QVERIFY(outline->isColumnHidden(column));
        QVERIFY(!outline->isColumnHidden(TVLOutlineModel::TitleColumn));
        viewer->toggleTokenUsageVisibility();
        for (int column = TVLOutlineModel::InputTokensColumn; column <= TVLOutlineModel::CacheReadTokensColumn; ++column)
            QVERIFY(!outline->isColumnHidden(column));

        QMenu *header = viewer->hvxContextMenuForTableHeaderView();
        QCOMPARE(header->actions().size(), 6);
        QCOMPARE(header->actions().at(0)->text(), QStringLiteral("Columns"));
        QCOMPARE(header->actions().last()->text(), QStringLiteral("    Tags"));
        delete header;
    }

    void relativeTimeTimerFollowsTheSetting()
    {
        const QString root = m_kit.newRoot();
        const QString fiveMinutesAgo = QDateTime::currentDateTimeUtc().addSecs(-300).toString(Qt::ISODateWithMs);
        write(root + "/-home-me-app/s.jsonl", QList<QJsonObject>{prompt("r-p1", "question", fiveMinutesAgo)});
        // Sessions titled by their first time.
        HVXDefaults::standard().setInteger(QStringLiteral("TVLSessionDisplayMode"), 1);
        const auto byName = qScopeGuard([] { HVXDefaults::standard().setInteger(QStringLiteral("TVLSessionDisplayMode"), 0); });
        TVLViewerViewController *viewer = m_kit.openViewer(root);
        const QModelIndex sessionRow = viewer->outlineModel()->index(0, 0, viewer->outlineModel()->index(0, 0));
        auto title = [&] { return sessionRow.data(Qt::DisplayRole).toString(); };
        HVXDefaults::standard().setBool(QStringLiteral("TVLSessionUseRelativeTime"), true);
        QVERIFY(viewer->hasRelativeTimeRefreshTimer());
        QTRY_VERIFY2(title().endsWith(QLatin1String(" ago")), qPrintable(title()));
        HVXDefaults::standard().setBool(QStringLiteral("TVLSessionUseRelativeTime"), false);
        QVERIFY(!viewer->hasRelativeTimeRefreshTimer());
        QTRY_VERIFY2(!title().contains(QLatin1String("ago")) && title().contains(QLatin1String(", ")), qPrintable(title()));
        HVXDefaults::standard().setBool(QStringLiteral("TVLSessionUseRelativeTime"), true);
        QVERIFY(viewer->hasRelativeTimeRefreshTimer());
        QTRY_VERIFY2(title().endsWith(QLatin1String(" ago")), qPrintable(title()));
    }

    void toolStepsFlagReloadsThePage()
    {
        const QString root = m_kit.newRoot();
        write(root + "/-home-me-app/s.jsonl", QList<QJsonObject>{prompt("t-p1", "list files", stamp(1)),
                                                                 toolCall("t-c1", "toolu_1", "t-m1", usage(1, 1))});
        TVLViewerViewController *viewer = m_kit.openViewer(root + "/-home-me-app");
        TVLOutlineModel *model = viewer->outlineModel();
        QSignalSpy loads(viewer->page(), &TVLPageController::pageLoaded);
        m_kit.select(viewer, model->index(0, 0, model->index(0, 0)));
        QVERIFY(loads.wait(20000));
        QVERIFY(!viewer->page()->lastDisplayedMarkdown().contains("tool-step"));
        QCheckBox *box = viewer->flagsViewController()->toolStepsBox();
        QVERIFY(!box->isChecked());
        box->click();
        QVERIFY(HVXDefaults::standard().boolForKey(QStringLiteral("TVLShowToolSteps")));
        QVERIFY(loads.wait(20000));
        QVERIFY(viewer->page()->lastDisplayedMarkdown().contains("tool-step-call"));
        HVXDefaults::standard().remove(QStringLiteral("TVLShowToolSteps"));
        QVERIFY(!box->isChecked());
    }

    void rowMarksFollowTheVisibleExchanges()
    {
        const QString root = m_kit.newRoot();
        writeSession(root + "/-home-me-app/s.jsonl", "v", 3);
        TVLViewerViewController *viewer = m_kit.openViewer(root + "/-home-me-app/s.jsonl");
        TVLOutlineModel *model = viewer->outlineModel();
        // A window on a session shows its exchanges, and with nothing selected the session's page.
        QCOMPARE(model->rowCount(), 3);
        QVERIFY(std::dynamic_pointer_cast<TVLSession>(viewer->page()->displayedObject()));
        viewer->highlightVisibleExchanges({"v-p2"});
        QVERIFY(!viewer->shouldHighlightRowAtIndex(model->index(0, 0)));
        QVERIFY(viewer->shouldHighlightRowAtIndex(model->index(1, 0)));
        viewer->clearHighlightedRows();
        QVERIFY(!viewer->shouldHighlightRowAtIndex(model->index(1, 0)));
    }
};

int main(int argc, char **argv)
{
    prepareWebEngineForHeadlessRuns();
    QApplication app(argc, argv);
    TestViewer test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_viewer.moc"
