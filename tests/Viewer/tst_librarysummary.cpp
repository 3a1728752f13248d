// The library index in the viewer, with real widgets and the real web engine: the summary page of
// a selected project and the Search All Logs window.

#include "Halvex/AppKit/HVXOutlineView.h"
#include "Tavlo/Index/TVLLibraryIndex.h"
#include "Tavlo/Viewer/TVLOutlineModel.h"
#include "Tavlo/Viewer/TVLPageController.h"
#include "Tavlo/Viewer/TVLSearchAllLogsWindow.h"
#include "Tavlo/Viewer/TVLViewerViewController.h"
#include "PageProbe.h"
#include "TranscriptBuilder.h"
#include "ViewerTestKit.h"
#include "WebEngineEnvironment.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QSignalSpy>
#include <QtTest>

using namespace TranscriptBuilder;

class TestLibrarySummary : public QObject
{
    Q_OBJECT
    ViewerTestKit m_kit;
    QString m_root;

private Q_SLOTS:
    void initTestCase()
    {
        m_root = m_kit.filePath("projects");
        for (int day = 1; day <= 3; ++day) {
            const QString stamp = QStringLiteral("2025-03-0%1T10:00:00Z").arg(day);
            write(QStringLiteral("%1/-home-me-app/s%2.jsonl").arg(m_root).arg(day),
                  QList<QJsonObject>{prompt(QStringLiteral("p%1").arg(day), QStringLiteral("question about otters %1").arg(day), stamp),
                                     assistant(QStringLiteral("a%1").arg(day), "an answer", QStringLiteral("m%1").arg(day),
                                               usage(100 * day, 10), stamp)});
        }
    }

    void projectRowShowsTheSummaryPage()
    {
        TVLViewerViewController *viewer = m_kit.openViewer(m_root);
        QVERIFY(viewer);
        QVERIFY(QTest::qWaitForWindowExposed(viewer->window()));
        QTRY_VERIFY(viewer->outlineView()->model()->rowCount() == 1);
        viewer->outlineView()->selectionModel()->select(viewer->outlineView()->model()->index(0, 0),
                                                        QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        // Three days with usage in a chart of 60, and the busiest session linked first.
        // The answers arrive after the polling step that asked; they write into shared state,
        // never into this stack frame.
        struct Seen
        {
            int bars = 0;
            QString firstLink;
        };
        auto seen = std::make_shared<Seen>();
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                PageProbe::runScript(*viewer->page(), "document.querySelectorAll('svg.usage-chart rect[height]:not([height=\"0\"])').length",
                                     [seen](const QVariant &value) { seen->bars = value.toInt(); });
                PageProbe::runScript(*viewer->page(), "(document.querySelector('table.usage-sessions a') || {}).href || ''",
                                     [seen](const QVariant &value) { seen->firstLink = value.toString(); });
                return seen->bars == 3 && !seen->firstLink.isEmpty();
            }(),
            20000);
        QCOMPARE(seen->firstLink, "tvl://" + m_root + "/-home-me-app/s3.jsonl");
        // A session that goes on on another day: the summary shown follows it.
        append(m_root + "/-home-me-app/s3.jsonl",
               {line(assistant("a3b", "more", "m3b", usage(7, 7), "2025-03-04T10:00:00Z"))});
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                PageProbe::runScript(*viewer->page(), "document.querySelectorAll('svg.usage-chart rect[height]:not([height=\"0\"])').length",
                                     [seen](const QVariant &value) { seen->bars = value.toInt(); });
                return seen->bars == 4;
            }(),
            20000);
        m_kit.closeAllWindows();
    }

    void searchWindowFindsAsYouType()
    {
        TVLSearchAllLogsWindow window;
        window.setRoots({m_root});
        window.show();
        QSignalSpy shown(&window, &TVLSearchAllLogsWindow::resultsShown);
        QSignalSpy chosen(&window, &TVLSearchAllLogsWindow::resultChosen);
        window.queryField()->setText("OTTERS 2");
        QTRY_VERIFY_WITH_TIMEOUT(!shown.isEmpty() && shown.last().first().toString() == "OTTERS 2", 20000);
        QCOMPARE(window.resultList()->count(), 1);
        QVERIFY(window.resultList()->item(0)->text().contains("question about otters 2"));
        QTest::keyClick(window.queryField(), Qt::Key_Return);
        QCOMPARE(chosen.size(), 1);
        QCOMPARE(chosen.first().first().toString(), "tvl://" + m_root + "/-home-me-app/s2.jsonl?exchange=p2");
        // Wrong syntax is said in the window.
        window.queryField()->setText("otters AND");
        QTRY_VERIFY_WITH_TIMEOUT(shown.last().first().toString() == "otters AND", 20000);
        QVERIFY(window.statusLine()->text().contains("can't be used"));
        QCOMPARE(window.resultList()->count(), 0);
        m_kit.closeAllWindows();
    }

    void linesAppendedWhileTheViewerRunsReachTheIndex()
    {
        const QString project = m_root + "/-home-me-live";
        const QString path = project + "/live.jsonl";
        write(path, QList<QJsonObject>{prompt("l1", "a question about badgers", "2025-03-05T10:00:00Z"),
                                       assistant("l1a", "an answer", "lm1", usage(5, 5), "2025-03-05T10:00:01Z")});
        TVLViewerViewController *viewer = m_kit.openViewer(project);
        QVERIFY(viewer);
        QVERIFY(QTest::qWaitForWindowExposed(viewer->window()));
        // No search window and no summary page: only the viewer's own file watching updates it.
        TVLLibraryIndex index;
        auto found = [&](const char *query) {
            const auto hits = index.search(QString::fromLatin1(query), m_root, 10);
            return hits && hits->size() == 1 && hits->front().session == path;
        };
        QTRY_VERIFY_WITH_TIMEOUT(found("badgers"), 20000);
        for (int i = 0; i < 3; ++i)
            append(path, {line(prompt(QStringLiteral("l%1").arg(i + 2), QStringLiteral("then wolverines %1").arg(i), "2025-03-05T11:00:00Z"))});
        QTRY_VERIFY_WITH_TIMEOUT(found("wolverines 2"), 20000);
        QVERIFY(found("wolverines 0"));
        m_kit.closeAllWindows();
    }
};

int main(int argc, char **argv)
{
    prepareWebEngineForHeadlessRuns();
    QApplication app(argc, argv);
    TestLibrarySummary test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_librarysummary.moc"
