// The Changes panel of the session page in the real web engine: the files in order, each opening
// to its edits as diffs, folding, links that scroll the page to the edit's exchange, text from
// transcripts kept inert; and the ways to open it in the viewer window.

#include "Halvex/AppKit/HVXOutlineView.h"
#include "Halvex/Foundation/HVXDefaults.h"
#include "Tavlo/DataObjects/TVLSession.h"
#include "Tavlo/Viewer/TVLChangesPanel.h"
#include "Tavlo/Viewer/TVLOutlineModel.h"
#include "Tavlo/Viewer/TVLPageController.h"
#include "Tavlo/Viewer/TVLViewerFlagsViewController.h"
#include "Tavlo/Viewer/TVLViewerViewController.h"
#include "TranscriptBuilder.h"
#include "ViewerTestKit.h"
#include "WebEngineEnvironment.h"

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QMenu>
#include <QSignalSpy>
#include <QToolButton>
#include <QtTest>

namespace TB = TranscriptBuilder;

namespace {
QVariant evaluate(TVLPageController &page, const QString &script) { return ViewerTestKit::evaluate(page, script); }

QStringList texts(TVLPageController &page, const QString &selector)
{
    return evaluate(page, QStringLiteral("Array.from(document.querySelectorAll('%1')).map(e => e.textContent)").arg(selector))
        .toStringList();
}

QJsonObject editCall(const QString &uuid, const QString &id, const QString &path)
{
    return {{"type", "assistant"}, {"uuid", uuid}, {"cwd", "/w"},
            {"message", QJsonObject{{"role", "assistant"},
                                    {"content", QJsonArray{QJsonObject{{"type", "tool_use"}, {"id", id}, {"name", "Edit"},
                                                                       {"input", QJsonObject{{"file_path", path}}}}}}}}};
}

// A session of long exchanges; the fifth edits a file whose diff holds markup and is long enough
// to fold.
QList<QJsonObject> longSessionWithAnEdit()
{
    QList<QJsonObject> lines;
    const QString paragraph = QStringLiteral("The quick brown fox jumps over the lazy dog. ").repeated(12);
    QJsonArray diff{"+<img src=x onerror=\"document.title='owned'\">", "-<script>document.title='owned'</script>"};
    for (int i = 0; i < 20; ++i)
        diff.append(QStringLiteral(" kept line %1").arg(i));
    for (int e = 1; e <= 8; ++e) {
        lines << TB::prompt(QStringLiteral("E%1").arg(e), QStringLiteral("Question %1").arg(e))
              << TB::assistant(QStringLiteral("A%1").arg(e), QString(paragraph + "\n\n").repeated(6));
        if (e == 5)
            lines << editCall("C5", "toolu_5", "/w/<b>bold</b>.html")
                  << TB::toolResult("R5", "toolu_5",
                                    QJsonObject{{"filePath", "/w/<b>bold</b>.html"},
                                                {"structuredPatch", QJsonArray{QJsonObject{{"oldStart", 1}, {"oldLines", 21},
                                                                                           {"newStart", 1}, {"newLines", 21},
                                                                                           {"lines", diff}}}}});
    }
    return lines;
}

QString copyFixtureProject(const QString &directory)
{
    const QString source = QStringLiteral(TAVLO_TEST_FIXTURES "/changes/-home-dev-app");
    const QString target = directory + "/projects/-home-dev-app";
    QDirIterator files(source, QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString file = files.next();
        const QString copy = target + file.mid(source.size());
        QDir().mkpath(QFileInfo(copy).absolutePath());
        QFile::copy(file, copy);
    }
    return target;
}
} // namespace

class TestChangesView : public QObject
{
    Q_OBJECT
    ViewerTestKit m_kit;

    static bool showSession(TVLPageController &page, const std::shared_ptr<TVLSession> &session)
    {
        QSignalSpy loaded(&page, &TVLPageController::pageLoaded);
        page.displayObject(session);
        return loaded.wait(20000);
    }

private Q_SLOTS:
    void initTestCase()
    {
        HVXDefaults::standard().setInteger(QStringLiteral("TVLSessionDisplayMode"), 0);
    }

    void filesOpenToTheirEditsInOrder()
    {
        const QString project = copyFixtureProject(m_kit.sandbox().path());
        const auto session = TVLSession::initWithPath(project + "/5e7c1d2a-0b3f-4c8e-9a61-2f4d8b7e3c10.jsonl");
        TVLPageController page;
        page.resize(1000, 700);
        page.show();
        QVERIFY(showSession(page, session));
        TVLChangesPanel::show(page, *session);
        QTRY_COMPARE(texts(page, "#changes-panel .changes-path"),
                     (QStringList{"src/greet.py", "README.md", "docs/usage.md", "notebooks/demo.ipynb", "/tmp/greet-scratch.txt"}));
        QCOMPARE(texts(page, "#changes-panel .changes-totals"),
                 QStringList{"5 files \u00b7 8 edits \u00b7 +18 \u22123 \u00b7 2 failed calls"});
        // Outside the body: no section takes the panel in.
        QCOMPARE(evaluate(page, "document.getElementById('changes-panel').parentElement === document.documentElement").toBool(), true);

        // A file opens to its edits: tool, outcome, and the diff in the page's diff style.
        evaluate(page, "document.querySelectorAll('#changes-panel .changes-file-header')[0].click()");
        QTRY_COMPARE(texts(page, "#changes-panel .changes-tool"), (QStringList{"Write", "Edit", "MultiEdit", "Edit"}));
        QVERIFY(texts(page, "#changes-panel .changes-error").join('|').contains("failed: String to replace not found"));
        const QStringList diffs = texts(page, "#changes-panel .tool-use-diff code.language-diff");
        QCOMPARE(diffs.size(), 3);
        QVERIFY(diffs[1].contains("+    return PREFIX + name"));
        // Closing the file hides its edits again.
        evaluate(page, "document.querySelectorAll('#changes-panel .changes-file-header')[0].click()");
        QVERIFY(evaluate(page, "document.querySelector('#changes-panel .changes-edits').hidden").toBool());
        evaluate(page, "document.querySelector('#changes-panel .changes-close').click()");
        QTRY_VERIFY(evaluate(page, "document.getElementById('changes-panel') === null").toBool());
    }

    void editsLinkToTheirExchangeFoldAndStayInert()
    {
        const QString path = TB::write(m_kit.filePath("projects/-w/long.jsonl"), longSessionWithAnEdit());
        const auto session = TVLSession::initWithPath(path);
        TVLPageController page;
        page.resize(1000, 500);
        page.show();
        QVERIFY(showSession(page, session));
        TVLChangesPanel::show(page, *session);
        QTRY_COMPARE(texts(page, "#changes-panel .changes-path"), QStringList{"<b>bold</b>.html"});
        evaluate(page, "document.querySelector('#changes-panel .changes-file-header').click()");
        QTRY_COMPARE(texts(page, "#changes-panel .changes-link").size(), 1);

        // The markup in paths and diffs is text: nothing of it became an element or ran.
        QCOMPARE(evaluate(page, "document.querySelectorAll('#changes-panel img, #changes-panel script, #changes-panel b').length").toInt(), 0);
        QVERIFY(texts(page, "#changes-panel code").join("").contains("<script>document.title='owned'</script>"));
        QVERIFY(evaluate(page, "document.title").toString() != QStringLiteral("owned"));

        // 22 lines start folded, and the page's folding opens them.
        QVERIFY(evaluate(page, "document.querySelector('#changes-panel .tool-use-diff').classList.contains('folded')").toBool());
        evaluate(page, "document.querySelector('#changes-panel .changes-edit-header .changes-tool').click()");
        QTRY_VERIFY(!evaluate(page, "document.querySelector('#changes-panel .tool-use-diff').classList.contains('folded')").toBool());

        // The link scrolls the page to the exchange that made the edit, and the panel stays.
        QCOMPARE(evaluate(page, "window.scrollY").toDouble(), 0.0);
        evaluate(page, "document.querySelector('#changes-panel .changes-link').click()");
        QTRY_VERIFY_WITH_TIMEOUT(std::abs(evaluate(page, "document.getElementById('E5').getBoundingClientRect().top").toDouble()) < 2, 10000);
        QVERIFY(evaluate(page, "document.querySelector('#changes-panel .tool-use-diff').classList.contains('folded')").toBool() == false);
        QVERIFY(evaluate(page, "document.getElementById('changes-panel') !== null").toBool());
    }

    void theViewerOpensItFromTheTitleBarAndTheSessionMenu()
    {
        const QString project = copyFixtureProject(m_kit.filePath("viewer"));
        TVLViewerViewController *viewer = m_kit.openViewer(project);
        QVERIFY(viewer);
        QVERIFY(QTest::qWaitForWindowExposed(viewer->window()));
        TVLOutlineModel *model = viewer->outlineModel();
        const QModelIndex projectRow = model->index(0, 0);
        QTRY_COMPARE(model->rowCount(projectRow), 2);
        QModelIndex sessionRow;
        for (int row = 0; row < 2; ++row)
            if (model->objectForIndex(model->index(row, 0, projectRow))->path().contains("5e7c1d2a"))
                sessionRow = model->index(row, 0, projectRow);
        QVERIFY(sessionRow.isValid());

        // The session's menu selects it and opens the panel once its page is there.
        QMenu *menu = viewer->hvxContextMenuForTableView(sessionRow);
        QVERIFY(menu);
        QAction *show = nullptr;
        for (QAction *action : menu->actions())
            if (action->text() == QStringLiteral("Show Changes"))
                show = action;
        QVERIFY(show);
        show->trigger();
        delete menu;

        QTRY_VERIFY_WITH_TIMEOUT(evaluate(*viewer->page(), "document.querySelectorAll('#changes-panel .changes-file').length").toInt() == 5, 20000);

        // The title bar's button opens it on the shown page.
        evaluate(*viewer->page(), "hideChanges()");
        auto *flags = qobject_cast<TVLViewerFlagsViewController *>(viewer->hvxTitlebarAccessory());
        QVERIFY(flags);
        flags->changesButton()->click();
        QTRY_VERIFY(evaluate(*viewer->page(), "document.querySelectorAll('#changes-panel .changes-file').length").toInt() == 5);
        m_kit.closeAllWindows();
    }
};

int main(int argc, char **argv)
{
    prepareWebEngineForHeadlessRuns();
    QApplication app(argc, argv);
    TestChangesView test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_changesview.moc"
