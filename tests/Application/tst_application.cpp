// Start-up and the tvl:// scheme on the real application object: queued URLs, the exchange and
// data debug mode query items, the unknown-scheme error, and the modifier-key properties.

#include "Halvex/AppKit/HVXOutlineView.h"
#include "Halvex/AppKit/HVXRecentsManager.h"
#include "Halvex/AppKit/HVXWindowRestoration.h"
#include "Halvex/AppKit/HVXWindowController.h"
#include "Halvex/AppKit/HVXWindows.h"
#include "Halvex/Foundation/HVXDefaults.h"
#include "Halvex/Foundation/HVXModifierKeys.h"
#include "LogCapture.h"
#include "SuiteSandbox.h"
#include "Tavlo/Application/TVLAppDelegate.h"
#include "Tavlo/Application/TVLCommandLine.h"
#include "Tavlo/Application/TVLApplication.h"
#include "Tavlo/Application/TVLQtDesktop.h"
#include "Tavlo/DataObjects/TVLExchange.h"
#include "Tavlo/Viewer/TVLOutlineModel.h"
#include "Tavlo/Viewer/TVLViewerViewController.h"
#include "TranscriptBuilder.h"
#include "WebEngineEnvironment.h"

#include <QDir>
#include <QSignalSpy>
#include <QSplitter>
#include <QTemporaryDir>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineView>
#include <QtTest>

using namespace TranscriptBuilder;

namespace {
struct RequestRecorder : QWebEngineUrlRequestInterceptor
{
    QList<QUrl> requested;
    void interceptRequest(QWebEngineUrlRequestInfo &info) override { requested << info.requestUrl(); }
};

void closeAllWindows()
{
    for (HVXWindowController *window : HVXWindows::windowControllers())
        window->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TVLViewerViewController *viewerAt(int index)
{
    return qobject_cast<TVLViewerViewController *>(HVXWindows::windowControllers().value(index)->viewController());
}
} // namespace

class TestApplication : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_session;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        TVLDesktop::install(std::make_shared<TVLQtDesktop>());
        m_session = write(m_dir.filePath("projects/-home-me-app/s.jsonl"),
                          QList<QJsonObject>{prompt("U1", "first"), assistant("A1", "one", "M1", usage(1, 1)),
                                             prompt("U2", "second"), assistant("A2", "two", "M2", usage(1, 1))});
    }

    void cleanup()
    {
        closeAllWindows();
        // Closing the last window keeps it for the next launch; the next test starts afresh.
        HVXDefaults::standard().remove(HVXWindowRestoration::settingsKey);
        TVLApplication::instance()->setDataDebugMode(false);
    }

    // Quit and launch again: every restorable window comes back, one per identifier, with its
    // size, splitter and exchange; entries whose directory has gone or that can't be read don't.
    void windowsComeBackAfterQuit()
    {
        const QString root = m_dir.filePath("projects");
        const QString project = m_dir.filePath("projects/-home-me-app");
        const QString doomed = QFileInfo(write(m_dir.filePath("projects/-home-me-doomed/d.jsonl"),
                                               QList<QJsonObject>{prompt("D1", "x")})).path();
        const QString notTranscript = m_dir.filePath("notes.txt");
        QFile(notTranscript).open(QIODevice::WriteOnly);
        TVLAppDelegate delegate;
        delegate.applicationOpenURLs({root, project, QStringLiteral("tvl://") + m_session + QStringLiteral("?exchange=U2"),
                                      doomed, notTranscript});
        delegate.applicationDidFinishLaunching();
        delegate.openViewer();
        QCOMPARE(HVXWindows::windowControllers().size(), 6);
        HVXWindowController *projectWindow = HVXWindows::windowControllers()[1];
        projectWindow->resize(projectWindow->minimumSizeHint().expandedTo(QSize(700, 520)));
        QVERIFY(QTest::qWaitForWindowExposed(projectWindow));
        const QSize projectSize = projectWindow->size();
        projectWindow->findChild<QSplitter *>()->setSizes({230, 470});
        const QList<int> splitterSizes = projectWindow->findChild<QSplitter *>()->sizes();
        const QStringList identifiers = [] {
            QStringList result;
            for (HVXWindowController *window : HVXWindows::windowControllers())
                result << window->windowIdentifier();
            return result;
        }();

        delegate.terminate();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(HVXWindows::windowControllers().isEmpty());
        QDir(doomed).removeRecursively();
        QVariantList stored = HVXDefaults::standard().listForKey(HVXWindowRestoration::settingsKey);
        // The path that showed nothing is neither kept nor listed.
        QCOMPARE(stored.size(), 5);
        for (const auto &entry : HVXRecentsManager::sharedInstance().recents())
            QVERIFY(!entry.identifier.contains("notes.txt"));
        stored << R"({"identifier":"Unknown|{}"})" << R"({"identifier":"TVLViewerViewController|[1]"})";
        HVXDefaults::standard().setValue(HVXWindowRestoration::settingsKey, stored);

        LogCapture log;
        TVLAppDelegate next;
        next.applicationDidFinishLaunching();
        QCOMPARE(log.count(QStringLiteral("WARNING: Not restoring window")), 1);
        QCOMPARE(log.count(QStringLiteral("does not know how to restore window with identifier")), 2);
        const QList<HVXWindowController *> windows = HVXWindows::windowControllers();
        QCOMPARE(windows.size(), 4);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(windows[i]->windowIdentifier(), identifiers[i]);
        QCOMPARE(windows[3]->windowIdentifier(), identifiers[5]);
        QCOMPARE(viewerAt(3)->path(), QString());
        QCOMPARE(windows[1]->size(), projectSize);
        QVERIFY(QTest::qWaitForWindowExposed(windows[1]));
        QCOMPARE(windows[1]->findChild<QSplitter *>()->sizes(), splitterSizes);
        QVERIFY(QTest::qWaitForWindowExposed(windows[2]));
        const QModelIndexList selected = viewerAt(2)->outlineView()->selectionModel()->selectedRows();
        QCOMPARE(selected.size(), 1);
        QCOMPARE(dynamic_cast<TVLExchange *>(viewerAt(2)->outlineModel()->objectForIndex(selected.first()))->uuid(),
                 QStringLiteral("U2"));
        // What did not come back is dropped; the recents list has the windows, newest first.
        QCOMPARE(HVXDefaults::standard().listForKey(HVXWindowRestoration::settingsKey).size(), 4);
        QCOMPARE(HVXRecentsManager::sharedInstance().recents().first().identifier, identifiers[5]);

        // Closing windows forgets them, except the last one: closing it quits.
        for (int i = 0; i < 4; ++i)
            windows[i]->close();
        const QStringList kept = HVXDefaults::standard().value(HVXWindowRestoration::settingsKey).toStringList();
        QCOMPARE(kept.size(), 1);
        QVERIFY(kept.first().contains(R"(\"path\":\"\")"));
    }

    void urlsBeforeLaunchAreOpenedAfterIt()
    {
        TVLAppDelegate delegate;
        delegate.applicationOpenURLs({QStringLiteral("tvl://") + m_session + QStringLiteral("?exchange=U2")});
        QCOMPARE(HVXWindows::windowControllers().size(), 0);
        QCOMPARE(delegate.urlsToOpen().size(), 1);
        delegate.applicationDidFinishLaunching();
        QVERIFY(delegate.urlsToOpen().isEmpty());
        // Only the window of the URL: no extra empty viewer.
        QCOMPARE(HVXWindows::windowControllers().size(), 1);
        TVLViewerViewController *viewer = viewerAt(0);
        QCOMPARE(viewer->path(), m_session);
        QCOMPARE(viewer->exchangeUuid(), QStringLiteral("U2"));
        QVERIFY(QTest::qWaitForWindowExposed(viewer->window()));
        // The window opens on that exchange.
        const QModelIndexList selected = viewer->outlineView()->selectionModel()->selectedRows();
        QCOMPARE(selected.size(), 1);
        QCOMPARE(dynamic_cast<TVLExchange *>(viewer->outlineModel()->objectForIndex(selected.first()))->uuid(),
                 QStringLiteral("U2"));

        // The same URL again brings that window forward.
        delegate.applicationOpenURLs({QStringLiteral("tvl://") + m_session + QStringLiteral("?exchange=U2")});
        QCOMPARE(HVXWindows::windowControllers().size(), 1);
    }

    void launchWithoutUrlsOpensOneViewer()
    {
        TVLAppDelegate delegate;
        delegate.applicationDidFinishLaunching();
        QCOMPARE(HVXWindows::windowControllers().size(), 1);
        QVERIFY(viewerAt(0)->path().isEmpty());
    }

    void schemeRules()
    {
        TVLAppDelegate delegate;
        delegate.applicationDidFinishLaunching();
        closeAllWindows();
        {
            LogCapture log;
            delegate.openURL(QStringLiteral("TVL://") + m_session);
            QCOMPARE(log.count(QStringLiteral("ERROR: Unknown scheme in URL 'TVL://")), 1);
            delegate.openURL(QStringLiteral("https://example.org/x"));
            QCOMPARE(log.count(QStringLiteral("Unknown scheme in URL")), 2);
            QCOMPARE(HVXWindows::windowControllers().size(), 0);
        }
        // Debug mode switches on and ends the reading: the exchange item after it is not read.
        delegate.openURL(QStringLiteral("tvl://") + m_session + QStringLiteral("?dataDebugMode=YES&exchange=abc"));
        QVERIFY(TVLApplication::instance()->dataDebugMode());
        QVERIFY(TVLDesktop::current().dataDebugMode());
        QCOMPARE(HVXWindows::windowControllers().size(), 1);
        QVERIFY(viewerAt(0)->exchangeUuid().isEmpty());
        // Without a path nothing opens.
        delegate.openURL(QStringLiteral("tvl://?dataDebugMode=no"));
        QVERIFY(!TVLApplication::instance()->dataDebugMode());
        QCOMPARE(HVXWindows::windowControllers().size(), 1);
        // Percent-encoded paths are decoded; a plain path opens like a URL.
        const QString spaced = write(m_dir.filePath("projects/-home-me-app/with space.jsonl"),
                                     QList<QJsonObject>{prompt("S1", "x")});
        delegate.openURL(QStringLiteral("tvl://") + QString::fromUtf8(QUrl::toPercentEncoding(spaced, "/")));
        QCOMPARE(viewerAt(1)->path(), spaced);
        delegate.openURL(spaced);
        QCOMPARE(HVXWindows::windowControllers().size(), 2);
    }

    // The exported file opened by a browser on its own: highlighting and folding work, and the
    // only thing it asks for is the file itself.
    void exportedPageWorksAloneInABrowser()
    {
        const QJsonObject patch{{"filePath", "/w/a.c"},
                                {"structuredPatch", QJsonArray{QJsonObject{{"lines", QJsonArray{" keep", "-old", "+new"}}}}}};
        QJsonObject edit = toolResult("E4", "t1", patch);
        edit.insert("type", "assistant");  // a tool's own line with a diff is shown
        const QString session = write(m_dir.filePath("export/s.jsonl"),
                                      QList<QJsonObject>{prompt("E1", "show me"),
                                                         assistant("E2", "```python\ndef f():\n    return 1\n```"),
                                                         toolCall("E3", "t1"), edit});
        const QString output = m_dir.filePath("export/s.html");
        QString outText, errText;
        QTextStream out(&outText), err(&errText);
        QCOMPARE(TVLCommandLine::run({"export", session, "-o", output}, out, err), std::optional<int>(0));

        QWebEngineProfile profile;
        RequestRecorder recorder;
        profile.setUrlRequestInterceptor(&recorder);
        QWebEnginePage page(&profile);
        // Shown, as a browser shows it: blocks are highlighted as they come into view.
        QWebEngineView view;
        view.setPage(&page);
        view.resize(900, 700);
        view.show();
        QSignalSpy loaded(&page, &QWebEnginePage::loadFinished);
        page.load(QUrl::fromLocalFile(output));
        QVERIFY(loaded.wait(20000));
        QVERIFY(loaded.first().first().toBool());
        auto run = [&](const QString &script) {
            QVariant answer;
            bool done = false;
            page.runJavaScript(script, [&](const QVariant &value) { answer = value; done = true; });
            if (!QTest::qWaitFor([&] { return done; }, 10000))
                QTest::qFail(qPrintable(QStringLiteral("The page did not answer: ") + script), __FILE__, __LINE__);
            return answer;
        };
        QTRY_COMPARE(run("document.querySelectorAll('.assistant pre code.hljs').length").toInt(), 1);
        // A short diff starts open; its header folds it.
        QVERIFY(!run("document.querySelector('.tool-use-diff').classList.contains('folded')").toBool());
        QCOMPARE(run("document.querySelectorAll('.tool-use-diff .hljs-addition').length").toInt(), 1);
        run("document.querySelector('.tool-use-header').click()");
        QVERIFY(run("document.querySelector('.tool-use-diff').classList.contains('folded')").toBool());
        QCOMPARE(run("document.querySelector('.fold-toggle').textContent").toString(), QStringLiteral("▶"));
        QVERIFY(!recorder.requested.isEmpty());
        for (const QUrl &url : recorder.requested)
            QCOMPARE(url, QUrl::fromLocalFile(output));
    }

    void modifierKeys()
    {
        TVLApplication *app = TVLApplication::instance();
        QCOMPARE(TVLApplication::modifierFlagsFromQt(Qt::ControlModifier), quint64(HVXModifierCommand));
        QCOMPARE(TVLApplication::modifierFlagsFromQt(Qt::AltModifier | Qt::MetaModifier),
                 quint64(HVXModifierOption | HVXModifierControl));
        QSignalSpy shift(app, &TVLApplication::shiftKeyDownChanged);
        QSignalSpy option(app, &TVLApplication::alternateKeyDownChanged);
        app->updateModifiersFromFlags(HVXModifierShift);
        app->updateModifiersFromFlags(HVXModifierShift);
        QCOMPARE(shift.count(), 1);
        QCOMPARE(option.count(), 0);
        QVERIFY(app->shiftKeyDown() && !app->alternateKeyDown());
        app->updateModifiersFromFlags(0);
        QCOMPARE(shift.count(), 2);
        // Nothing on Linux reads the AppKit tool-tip delay, so it is no longer written.
        QVERIFY(!HVXDefaults::standard().contains(QStringLiteral("NSInitialToolTipDelay")));
    }
};

int main(int argc, char **argv)
{
    prepareWebEngineForHeadlessRuns();
    // The application object writes to the settings store as it starts, and its windows to the
    // cache: give it the suite's own.
    SuiteSandbox sandbox;
    TVLApplication app(argc, argv);
    TestApplication test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_application.moc"
