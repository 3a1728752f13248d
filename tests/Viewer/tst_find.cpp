// Find, search marks, filters and tag navigation in viewer windows with the real web engine:
// marks up the tree and their alert, projects not yet read, filter mode's single reload and
// reading position, the bar hiding what it did, live growth under a filter, find in the page,
// stepping through tagged exchanges, and the find string shared between windows.

#include "Halvex/AppKit/HVXOutlineView.h"
#include "Halvex/AppKit/HVXWindowController.h"
#include "Halvex/AppKit/HVXWindows.h"
#include "Halvex/Foundation/HVXDefaults.h"
#include "Halvex/Foundation/HVXLog.h"
#include "Tavlo/DataObjects/TVLExchange.h"
#include "Tavlo/DataObjects/TVLProject.h"
#include "Tavlo/DataObjects/TVLProjectMetadata.h"
#include "Tavlo/DataObjects/TVLSession.h"
#include "Tavlo/DataObjects/TVLSubagent.h"
#include "Tavlo/Viewer/TVLSearchEngine.h"
#include "Tavlo/Viewer/TVLFindBar.h"
#include "Tavlo/Viewer/TVLFindString.h"
#include "Tavlo/Viewer/TVLOutlineModel.h"
#include "Tavlo/Viewer/TVLPageController.h"
#include "Tavlo/Viewer/TVLViewerSearch.h"
#include "Tavlo/Viewer/TVLViewerViewController.h"
#include "TranscriptBuilder.h"
#include "WebEngineEnvironment.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QWebEngineView>
#include <QtTest>

using namespace TranscriptBuilder;

Q_DECLARE_METATYPE(TVLSearchEngine::Matches)

namespace {
const QString viewerClass = QString::fromLatin1(TVLViewerViewController::className);

// Exchanges "<tag>-p<i>" with the prompt "question <i>" and the answer "answer <i>", and, for
// the indices listed, "needle" in the prompt.
QString writeSession(const QString &path, const QString &tag, int exchanges, const QList<int> &needles = {})
{
    QList<QJsonObject> lines;
    for (int i = 1; i <= exchanges; ++i)
        lines << prompt(QStringLiteral("%1-p%2").arg(tag).arg(i),
                        QStringLiteral("question %1%2").arg(i).arg(QLatin1StringView(needles.contains(i) ? " needle" : "")))
              << assistant(QStringLiteral("%1-a%2").arg(tag).arg(i), QStringLiteral("answer %1").arg(i),
                           QStringLiteral("%1-m%2").arg(tag).arg(i), usage(10, 20));
    return write(path, lines);
}

TVLViewerViewController *openViewer(const QString &path)
{
    auto *viewer = qobject_cast<TVLViewerViewController *>(
        HVXWindows::presentViewControllerOfClass(viewerClass, {{QStringLiteral("path"), path}}));
    if (viewer)
        (void)QTest::qWaitForWindowExposed(viewer->window());
    return viewer;
}

QModelIndex rowOf(TVLViewerViewController *viewer, const QString &path)
{
    TVLOutlineModel *model = viewer->outlineModel();
    std::function<QModelIndex(const QModelIndex &)> find = [&](const QModelIndex &parent) -> QModelIndex {
        for (int row = 0; row < model->rowCount(parent); ++row) {
            const QModelIndex index = model->index(row, 0, parent);
            if (model->objectForIndex(index)->path() == path)
                return index;
            if (const QModelIndex found = find(index); found.isValid())
                return found;
        }
        return {};
    };
    return find({});
}

// Shows the session at `path` in the viewer and waits for its page.
bool showSession(TVLViewerViewController *viewer, const QString &path)
{
    QSignalSpy loads(viewer->page(), &TVLPageController::pageLoaded);
    const QModelIndex row = rowOf(viewer, path);
    if (!row.isValid())
        return false;
    viewer->outlineView()->selectionModel()->select(row, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    return loads.wait(20000);
}

QVariant evaluate(TVLViewerViewController *viewer, const QString &script)
{
    QVariant result;
    bool answered = false;
    viewer->page()->runScript(script, [&](const QVariant &value) {
        result = value;
        answered = true;
    });
    if (!QTest::qWaitFor([&] { return answered; }, 20000))
        QTest::qFail(qPrintable(QStringLiteral("The page did not answer: ") + script), __FILE__, __LINE__);
    return result;
}

QStringList sectionIds(TVLViewerViewController *viewer)
{
    return evaluate(viewer, "Array.from(document.querySelectorAll('.exchange-wrapper')).map(w => w.dataset.sectionId)")
        .toStringList();
}

QStringList sorted(QSet<QString> set)
{
    QStringList list(set.begin(), set.end());
    list.sort();
    return list;
}
} // namespace

class TestFind : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    int m_serial = 0;

    QString newRoot()
    {
        const QString root = m_dir.filePath(QStringLiteral("r%1/projects").arg(++m_serial));
        QDir().mkpath(root);
        return root;
    }

private Q_SLOTS:
    // Other windows hear of a new find string once the event loop is idle, once per writer however
    // often it wrote, and never from inside the write.
    void findStringAnnouncementsCoalesceUntilIdle()
    {
        TVLFindString &shared = TVLFindString::shared();
        QObject context, writer;
        QList<const QObject *> heard;
        connect(&shared, &TVLFindString::didChange, &context, [&](const QObject *by) { heard.append(by); });
        for (int i = 0; i < 100; ++i)
            shared.announceWhenIdle(nullptr);
        shared.announceWhenIdle(&writer);
        shared.announceWhenIdle(&writer);
        QVERIFY(heard.isEmpty());
        QTRY_COMPARE(heard.size(), 2);
        QCoreApplication::processEvents();
        QCOMPARE(heard, (QList<const QObject *>{nullptr, &writer}));
        shared.announceWhenIdle(&writer);
        QTRY_COMPARE(heard.size(), 3);
    }

    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        HVXDefaults::useStoreAtPath(m_dir.filePath("settings.ini"));
        HVXDefaults::standard().setInteger(QStringLiteral("TVLSessionDisplayMode"), 0);
        HVXDefaults::standard().setInteger(QStringLiteral("TVLRootSortMode"), 0);
        TVLViewerViewController::registerClass();
    }

    void cleanup()
    {
        for (HVXWindowController *window : HVXWindows::windowControllers())
            window->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void typedTextMarksUpTheTreeAndUnreadProjectsAreNotCalledEmpty()
    {
        const QString root = newRoot();
        const QString app = writeSession(root + "/-home-me-app/s.jsonl", "s", 3, {2});
        writeSession(root + "/-home-me-tool/t.jsonl", "t", 2, {});
        writeSession(root + "/-home-me-zoo/z.jsonl", "z", 2, {1});
        TVLViewerViewController *viewer = openViewer(root);
        QVERIFY(viewer);
        TVLViewerSearch *search = viewer->search();
        QVERIFY(!search->findBar()->isVisible());
        for (const char *name : {"TVLFindAction", "TVLFindNextAction", "TVLFindPreviousAction", "TVLUseSelectionForFindAction"})
            QVERIFY2(viewer->findChild<QAction *>(QLatin1StringView(name)), name);
        viewer->findChild<QAction *>("TVLFindAction")->trigger();
        QVERIFY(search->showSearchControls() && search->findBar()->isVisible());

        // Typed, and searched once the typing pauses. Only the first project was opened.
        QSignalSpy finished(search, &TVLViewerSearch::searchFinished);
        const int beeps = hvxBeepCount();
        QTest::keyClicks(search->findBar()->field(), "NEEDLE");
        QTRY_COMPARE(search->searchString(), QStringLiteral("NEEDLE"));
        QTRY_COMPARE(sorted(search->searchMatchingExchangeIds()), QStringList{"s-p2"});
        QCOMPARE(sorted(search->searchMatchingObjectPaths()), (QStringList{root, root + "/-home-me-app", app}));
        QVERIFY(viewer->shouldHighlightRowAtIndex(rowOf(viewer, root + "/-home-me-app")));
        QVERIFY(!viewer->shouldHighlightRowAtIndex(rowOf(viewer, root + "/-home-me-tool")));
        QCOMPARE(search->unsearchedProjectCount(), 2);

        // What only an unread project holds is "not searched", not "no match".
        const int searches = finished.count();
        search->setSearchString("question 1 needle");
        QTRY_VERIFY(finished.count() > searches);
        QCOMPARE(finished.last().first().toBool(), false);
        QCOMPARE(hvxBeepCount(), beeps);
        QVERIFY(search->findBar()->status().contains("not searched"));
        // Opening that project searches it.
        viewer->outlineView()->expand(rowOf(viewer, root + "/-home-me-zoo"));
        QTRY_COMPARE(sorted(search->searchMatchingExchangeIds()), QStringList{"z-p1"});

        // No match at all: one alert, not one per letter typed after it; the empty text none.
        viewer->outlineView()->expand(rowOf(viewer, root + "/-home-me-tool"));
        QTRY_COMPARE(search->unsearchedProjectCount(), 0);
        for (const char *text : {"zzz", "zzzz", "", "zzz"}) {
            search->setSearchString(QString::fromLatin1(text));
            QTRY_VERIFY(!search->isSearching());
        }
        QCOMPARE(hvxBeepCount(), beeps + 2);
        QVERIFY(search->findBar()->isAlerting());
    }

    void filterModeNarrowsOnceAroundTheReadingPositionAndHidingUndoesIt()
    {
        const QString root = newRoot();
        const QString path = writeSession(root + "/-home-me-app/s.jsonl", "s", 6, {2, 4, 5});
        TVLViewerViewController *viewer = openViewer(path);
        QVERIFY(viewer && viewer->page()->displayedObject());
        QTRY_VERIFY_WITH_TIMEOUT(!viewer->lastVisibleExchangeIds().isEmpty(), 20000);
        TVLViewerSearch *search = viewer->search();
        search->showFindField();
        search->setSearchString("needle");
        QTRY_COMPARE(search->searchMatchingExchangeIds().size(), 3);

        // The first visible exchange is kept in view; text and tags go with one reload.
        const QString anchor = viewer->lastVisibleExchangeIds().first();
        QSignalSpy reloads(viewer->page(), &TVLPageController::visibleExchangeMarksCleared);
        QSignalSpy loads(viewer->page(), &TVLPageController::pageLoaded);
        search->setSearchDoesFilter(true);
        QCOMPARE(reloads.count(), 1);
        QCOMPARE(viewer->page()->pendingScrollToExchangeId(), anchor);
        QVERIFY(!search->hasSearchMarks());
        QVERIFY(loads.wait(20000));
        QCOMPARE(sectionIds(viewer), (QStringList{"s-p2", "s-p4", "s-p5"}));
        QCOMPARE(viewer->outlineModel()->rowCount(), 3);

        // Hiding the bar lifts the text filter and keeps the text; showing it filters again.
        search->hideFindField();
        QVERIFY(loads.wait(20000));
        QCOMPARE(sectionIds(viewer).size(), 6);
        QCOMPARE(search->searchString(), QStringLiteral("needle"));
        QVERIFY(viewer->contentObject()->filterString().isEmpty());
        search->showFindField();
        QVERIFY(loads.wait(20000));
        QCOMPARE(sectionIds(viewer).size(), 3);

        // A live append under the filter: the new match shows, the new non-match does not.
        append(path, {line(prompt("s-p7", "hay only")), line(prompt("s-p8", "a needle again"))});
        QTRY_VERIFY_WITH_TIMEOUT(sectionIds(viewer).contains("s-p8"), 20000);
        QVERIFY(!sectionIds(viewer).contains("s-p7"));
        QTRY_COMPARE(viewer->outlineModel()->rowCount(), 4);

        // Back to mark mode: the filter goes, the marks come back.
        search->setSearchDoesFilter(false);
        QVERIFY(loads.wait(20000));
        QCOMPARE(sectionIds(viewer).size(), 8);
        QTRY_COMPARE(search->searchMatchingExchangeIds().size(), 4);
    }

    void nextAndPreviousWalkThePageOrTheTaggedExchanges()
    {
        const QString root = newRoot();
        const QString first = writeSession(root + "/-home-me-app/a.jsonl", "a", 5);
        const QString second = writeSession(root + "/-home-me-app/b.jsonl", "b", 3);
        TVLViewerViewController *viewer = openViewer(root + "/-home-me-app");
        QVERIFY(viewer);
        QVERIFY(showSession(viewer, first));
        TVLViewerSearch *search = viewer->search();

        // Text: the page's matches, counted in the bar.
        search->showFindField();
        search->setSearchString("answer");
        QSignalSpy found(search, &TVLViewerSearch::pageFindFinished);
        for (const auto &[backwards, active] : std::vector<std::pair<bool, int>>{{false, 1}, {false, 2}, {true, 1}}) {
            search->findWithBackwards(backwards);
            QVERIFY(found.wait(10000));
            QCOMPARE(found.last().at(0).toInt(), active);
            QCOMPARE(found.last().at(1).toInt(), 5);
        }
        QVERIFY(search->findBar()->status().startsWith("1 of 5"));
        const QString markedText = "getSelection().rangeCount ? getSelection().getRangeAt(0).toString() : ''";
        QCOMPARE(evaluate(viewer, markedText).toString(), QString("answer"));

        // A live append is looked through at the next step; a text matches across inline markup
        // and a line break, in any case unless asked to match it.
        append(first, {line(prompt("a-p6", "question 6")),
                       line(assistant("a-a6", "an *answer*\nspread over markup", "a-m6", usage(1, 1)))});
        QTRY_VERIFY_WITH_TIMEOUT(sectionIds(viewer).contains("a-p6"), 20000);
        search->findWithBackwards(false);
        QVERIFY(found.wait(10000));
        QCOMPARE(found.last().at(1).toInt(), 6);
        search->setSearchString("ANSWER spread");
        search->findWithBackwards(false);
        QVERIFY(found.wait(10000));
        QCOMPARE(found.last().at(1).toInt(), 1);
        QCOMPARE(evaluate(viewer, markedText).toString(), QString("answer\nspread"));
        search->setSearchIsCaseSensitive(true);
        search->findWithBackwards(false);
        QVERIFY(found.wait(10000));
        QCOMPARE(found.last().at(1).toInt(), 0);
        QVERIFY(search->findBar()->status().startsWith("None in the page"));
        search->setSearchIsCaseSensitive(false);
        search->setSearchString("answer");
        QTRY_VERIFY(!search->isSearching() && search->hasSearchMarks());

        // Tags in mark mode: next and previous step through the tagged exchanges, wrapping. An
        // exchange tagged only on its second line is not tagged.
        auto session = std::dynamic_pointer_cast<TVLSession>(viewer->page()->displayedObject());
        TVLProjectMetadata *metadata = session->metadata();
        QVERIFY(metadata);
        metadata->addTagIdToMessageId(2, "a-p2");
        metadata->addTagIdToMessageId(2, "a-p4");
        metadata->addTagIdToMessageId(2, "a-a5");
        metadata->setAnnotationForMessageId("seen", "b-p3");
        QVERIFY(search->hasSearchMarks());
        search->hideFindField();
        QVERIFY(!search->hasSearchMarks());  // the text's marks go with the bar
        viewer->setFilterTags(quint64(1) << 2);
        QCOMPARE(sorted(search->searchMatchingExchangeIds()), (QStringList{"a-p2", "a-p4"}));
        struct Step { bool backwards; qint64 index; };
        for (const Step &step : {Step{false, 1}, Step{false, 3}, Step{false, 1}, Step{true, 3}, Step{true, 1}}) {
            search->findWithBackwards(step.backwards);
            QCOMPARE(search->currentTagMatchIndex(), step.index);
        }
        // A new mask starts afresh: previous goes to the last.
        viewer->setFilterTags((quint64(1) << 2) | 1);
        search->findWithBackwards(true);
        QCOMPARE(search->currentTagMatchIndex(), 3);
        // So does another session: its own first tagged exchange (the annotated one).
        QVERIFY(showSession(viewer, second));
        search->findWithBackwards(false);
        QCOMPARE(search->currentTagMatchIndex(), 2);
        // With text shown, the text alone decides the marks.
        search->showFindField();
        search->setSearchString("question 1");
        QTRY_COMPARE(sorted(search->searchMatchingExchangeIds()), (QStringList{"a-p1", "b-p1"}));
    }

    void escapeAndTheSharedFindString()
    {
        const QString root = newRoot();
        const QString path = writeSession(root + "/-home-me-app/s.jsonl", "s", 2);
        TVLViewerViewController *first = openViewer(path);
        TVLViewerViewController *second = openViewer(root + "/-home-me-app");
        QVERIFY(first && second && first->page()->displayedObject());
        QTRY_VERIFY_WITH_TIMEOUT(!first->lastVisibleExchangeIds().isEmpty(), 20000);

        // Escape without the bar is an alert; with it, it closes the bar.
        const int beeps = hvxBeepCount();
        first->search()->cancelOperation();
        QCOMPARE(hvxBeepCount(), beeps + 1);
        second->search()->showFindField();
        QTest::keyClick(second->search()->findBar()->field(), Qt::Key_Escape);
        QVERIFY(!second->search()->showSearchControls());
        second->search()->showFindField();

        // The first window's selection (its first line only) becomes the shared string; the
        // second window, its bar shown, takes it over without searching.
        evaluate(first, "(function(){var r=document.createRange();r.selectNodeContents(document.querySelector('.assistant'));"
                        "var s=window.getSelection();s.removeAllRanges();s.addRange(r);return s.toString();})()");
        first->findChild<QAction *>("TVLUseSelectionForFindAction")->trigger();
        QTRY_COMPARE(first->search()->searchString(), QStringLiteral("answer 1"));
        QVERIFY(first->search()->showSearchControls());
        QCOMPARE(TVLFindString::shared().text(), QStringLiteral("answer 1"));
        QTRY_COMPARE(second->search()->searchString(), QStringLiteral("answer 1"));
        QCOMPARE(second->search()->findBar()->text(), QStringLiteral("answer 1"));
        QVERIFY(!second->search()->hasSearchMarks());
        QTRY_COMPARE(first->search()->searchMatchingExchangeIds().size(), 1);
    }

    void subagentsAreSearchedWithTheirSession()
    {
        const QString path = write(newRoot() + "/-home-me-app/s.jsonl", QList<QJsonObject>{
            prompt("e1", "start"), toolCall("call", "toolu_1", "m1", usage(1, 1)),
            toolResult("res", "toolu_1", QJsonObject{{"agentId", "task1"}})});
        QJsonObject subPrompt = prompt("s1", "the sub needle");
        subPrompt.insert("agentId", "task1");
        write(path.chopped(6) + "/subagents/agent-task1.jsonl", QList<QJsonObject>{subPrompt});
        const auto session = TVLSession::initWithPath(path);
        QVERIFY(session && session->subagents().size() == 1);
        std::vector<std::shared_ptr<TVLSession>> sessions;
        TVLViewerSearch::collectSessions(sessions, session.get());
        QCOMPARE(sessions.size(), size_t(2));
        TVLSearchEngine engine;
        QSignalSpy found(&engine, &TVLSearchEngine::matchesFound);
        engine.search(sessions, TVLSearchQuery::make("NEEDLE", false));
        QTRY_VERIFY(!found.isEmpty() && found.last().at(1).value<TVLSearchEngine::Matches>().complete);
        const auto matches = found.last().at(1).value<TVLSearchEngine::Matches>();
        QCOMPARE(sorted(matches.exchangeIds), QStringList{"s1"});
        QCOMPARE(matches.sessions.front(), std::static_pointer_cast<TVLSession>(session->subagents().front()));
    }

    void selectionTextIsItsFirstLineCut_data()
    {
        QTest::addColumn<QString>("selection");
        QTest::addColumn<QString>("text");
        QTest::newRow("first line, trimmed") << "  one two \nthree" << "one two";
        QTest::newRow("carriage return") << "a\r\nb" << "a";
        QTest::newRow("blank") << " \n x" << "";
        QTest::newRow("long") << QString(5000, QLatin1Char('x')) << QString(1000, QLatin1Char('x'));
        QTest::newRow("pair at the cut") << QString(999, QLatin1Char('x')) + QString::fromUtf8("😀") << QString(999, QLatin1Char('x'));
    }

    void selectionTextIsItsFirstLineCut()
    {
        QFETCH(QString, selection);
        QFETCH(QString, text);
        QCOMPARE(TVLViewerSearch::searchTextFromSelection(selection), text);
    }
};

int main(int argc, char **argv)
{
    prepareWebEngineForHeadlessRuns();
    QApplication app(argc, argv);
    TestFind test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_find.moc"
