// The application shell on the real widgets: every window's menu bar acts on its own window,
// the help and settings windows, what tvl:// and file:// URLs may open, the copied URL's round
// trip, and handing arguments to the running instance.

#include "Halvex/AppKit/HVXOutlineView.h"
#include "Halvex/AppKit/HVXWindowController.h"
#include "Halvex/AppKit/HVXWindows.h"
#include "Halvex/Foundation/HVXDefaults.h"
#include "LogCapture.h"
#include "SuiteSandbox.h"
#include "Tavlo/Application/TVLAppDelegate.h"
#include "Tavlo/Application/TVLApplication.h"
#include "Tavlo/Application/TVLHelpWindow.h"
#include "Tavlo/Application/TVLMainMenu.h"
#include "Tavlo/Application/TVLQtDesktop.h"
#include "Tavlo/Application/TVLSettingsWindow.h"
#include "Tavlo/Application/TVLSingleInstance.h"
#include "Tavlo/Application/TVLUpdater.h"
#include "Tavlo/DataObjects/TVLExchange.h"
#include "Tavlo/DataObjects/TVLURL.h"
#include "Tavlo/Viewer/TVLSettingsViewController.h"
#include "Tavlo/Viewer/TVLViewerViewController.h"
#include "TranscriptBuilder.h"
#include "WebEngineEnvironment.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace TranscriptBuilder;

namespace {
void closeAllWindows()
{
    for (HVXWindowController *window : HVXWindows::windowControllers())
        window->close();
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (qobject_cast<TVLHelpWindow *>(widget))
            widget->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

HVXWindowController *windowAt(int index) { return HVXWindows::windowControllers().value(index); }

TVLViewerViewController *viewerAt(int index)
{
    HVXWindowController *window = windowAt(index);
    return window ? qobject_cast<TVLViewerViewController *>(window->viewController()) : nullptr;
}

QAction *menuAction(HVXWindowController *window, const char *name)
{
    return window->menuBar()->findChild<QAction *>(QString::fromLatin1(name));
}

QList<TVLHelpWindow *> helpWindows()
{
    QList<TVLHelpWindow *> windows;
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (auto *help = qobject_cast<TVLHelpWindow *>(widget); help && help->isVisible())
            windows << help;
    return windows;
}

// A socket file whose process is gone: bound, never listened on, closed without removing it.
bool makeStaleSocket(const QString &path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray local = QFile::encodeName(path);
    std::memcpy(address.sun_path, local.constData(), std::min<size_t>(local.size(), sizeof(address.sun_path) - 1));
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) == 0;
    ::close(fd);
    return bound && QFileInfo::exists(path);
}
} // namespace

class TestShell : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_project;
    QString m_session;
    TVLAppDelegate m_delegate;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        TVLDesktop::install(std::make_shared<TVLQtDesktop>());
        m_project = m_dir.filePath("projects/-home-me-app");
        m_session = write(m_project + QStringLiteral("/s.jsonl"),
                          QList<QJsonObject>{prompt("U1", "first"), assistant("A1", "one", "M1", usage(1, 1))});
        TVLMainMenu::install(&m_delegate);
        m_delegate.applicationDidFinishLaunching();
        closeAllWindows();
    }

    void cleanup() { closeAllWindows(); }

    void menuBarActsOnItsOwnWindow()
    {
        m_delegate.openURL(m_session);
        m_delegate.openURL(m_project);
        QCOMPARE(HVXWindows::windowControllers().size(), 2);
        HVXWindowController *first = windowAt(0);
        HVXWindowController *second = windowAt(1);
        for (HVXWindowController *window : {first, second}) {
            QVERIFY(window->menuBar());
            QStringList titles;
            for (QAction *menu : window->menuBar()->actions())
                titles << menu->text();
            QCOMPARE(titles, (QStringList{"&File", "&Edit", "&View", "&Help"}));
            auto *recent = window->menuBar()->findChild<QMenu *>(QStringLiteral("TVLOpenRecentMenu"));
            QVERIFY(recent);
            // Both windows listed, newest first, in every window's menu.
            QCOMPARE(recent->actions().at(1)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_1));
            QCOMPARE(recent->actions().at(1)->data().toString(), second->windowIdentifier());
            QCOMPARE(recent->actions().at(2)->data().toString(), first->windowIdentifier());
        }
        // Add to Favorites marks the window's object; the other window's menu lists it too.
        QAction *favorite = menuAction(first, "TVLAddToFavoritesAction");
        QCOMPARE(favorite->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_D));
        favorite->trigger();
        QVERIFY(favorite->isChecked() && first->hvxIsFavorite() && !menuAction(second, "TVLAddToFavoritesAction")->isChecked());
        auto *secondRecent = second->menuBar()->findChild<QMenu *>(QStringLiteral("TVLOpenRecentMenu"));
        const QList<QAction *> items = secondRecent->actions();
        QCOMPARE(items.at(items.size() - 3)->shortcut(), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_1));
        QCOMPARE(items.at(items.size() - 3)->data().toString(), first->windowIdentifier());
        favorite->trigger();
        QVERIFY(!first->hvxIsFavorite());
        QCOMPARE(menuAction(first, "TVLPrintAction")->shortcut(), QKeySequence(QKeySequence::Print));
        QCOMPARE(menuAction(first, "TVLCloseWindowAction")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_W));
        QCOMPARE(menuAction(first, "TVLSettingsAction")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Comma));

        // Token columns: only the window whose menu was used changes.
        const bool hidden = viewerAt(0)->tokenColumnsHidden();
        menuAction(first, "TVLShowTokenColumnsAction")->trigger();
        QCOMPARE(viewerAt(0)->tokenColumnsHidden(), !hidden);
        QCOMPARE(viewerAt(1)->tokenColumnsHidden(), hidden);

        // The settings items write their settings, and every window's items follow.
        QCOMPARE(HVXDefaults::standard().boolForKey(TVLMainMenu::showToolStepsKey), false);
        menuAction(first, "TVLShowToolStepsAction")->trigger();
        QVERIFY(HVXDefaults::standard().boolForKey(TVLMainMenu::showToolStepsKey));
        QVERIFY(menuAction(second, "TVLShowToolStepsAction")->isChecked());
        menuAction(second, "TVLShowToolStepsAction")->trigger();
        QVERIFY(!HVXDefaults::standard().boolForKey(TVLMainMenu::showToolStepsKey));
        QMenu *titles = second->menuBar()->findChild<QMenu *>(QStringLiteral("TVLSessionTitlesMenu"));
        titles->actions().at(4)->trigger();
        QCOMPARE(HVXDefaults::standard().integerForKey(QStringLiteral("TVLSessionDisplayMode")), 4);
        QVERIFY(first->menuBar()->findChild<QMenu *>(QStringLiteral("TVLSessionTitlesMenu"))->actions().at(4)->isChecked());
        HVXDefaults::standard().setInteger(QStringLiteral("TVLSessionDisplayMode"), 1);

        // Find lists the viewer's own find actions, found by name when the menu opens.
        QMenu *edit = second->menuBar()->findChild<QMenu *>(QStringLiteral("TVLEditMenu"));
        Q_EMIT edit->aboutToShow();
        QStringList names;
        for (QAction *action : second->menuBar()->findChild<QMenu *>(QStringLiteral("TVLFindMenu"))->actions()) {
            names << action->objectName();
            QVERIFY(viewerAt(1)->findChildren<QAction *>().contains(action));
        }
        QCOMPARE(names, (QStringList{"TVLFindAction", "TVLFindNextAction", "TVLFindPreviousAction",
                                     "TVLUseSelectionForFindAction"}));

        // Close Window closes that window alone; New Viewer opens one.
        menuAction(second, "TVLCloseWindowAction")->trigger();
        QTRY_COMPARE(HVXWindows::windowControllers().size(), 1);
        QCOMPARE(viewerAt(0)->path(), m_session);
        menuAction(first, "TVLNewViewerAction")->trigger();
        QCOMPARE(HVXWindows::windowControllers().size(), 2);
    }

    void helpAndSettingsWindows()
    {
        m_delegate.openURL(m_session);
        HVXWindowController *viewer = windowAt(0);
        menuAction(viewer, "TVLHelpAction")->trigger();
        menuAction(viewer, "TVLHelpAction")->trigger();
        // The viewer's own section.
        QCOMPARE(helpWindows().size(), 1);
        QCOMPARE(helpWindows().first()->pageName(), QStringLiteral("html.viewer"));
        QVERIFY(helpWindows().first()->toPlainText().contains(QStringLiteral("Session rows")));
        menuAction(viewer, "TVLReleaseNotesAction")->trigger();
        menuAction(viewer, "TVLAcknowledgementsAction")->trigger();
        QCOMPARE(helpWindows().size(), 3);
        QVERIFY(TVLHelpWindow::windowForPage(QStringLiteral("Acknowledgements"))->toPlainText().contains(QStringLiteral("simdjson")));

        // Links: the web goes to the browser, nothing else is followed.
        for (const char *link : {"javascript:alert(1)", "file:///etc/passwd", "tvl:///tmp/x.jsonl", "mailto:a@b.c"})
            QVERIFY2(!TVLHelpWindow::openLink(QUrl(QString::fromLatin1(link))), link);

        // A section that isn't there: the error, then the main help.
        {
            LogCapture log;
            QVERIFY(TVLHelpWindow::showHelp(QStringLiteral("nowhere")));
            QCOMPARE(log.count(QStringLiteral("ERROR: Did not find help section named nowhere (Help/index.nowhere.html)")), 1);
            QVERIFY(TVLHelpWindow::windowForPage(QStringLiteral("Help"))->toPlainText().contains(QStringLiteral("Tavlo Help")));
        }

        // One settings window, brought forward when asked again; its help is its own section.
        menuAction(viewer, "TVLSettingsAction")->trigger();
        menuAction(viewer, "TVLSettingsAction")->trigger();
        int settings = 0;
        HVXWindowController *settingsWindow = nullptr;
        for (HVXWindowController *window : HVXWindows::windowControllers())
            if (qobject_cast<TVLSettingsWindow *>(window->viewController()))
                ++settings, settingsWindow = window;
        QCOMPARE(settings, 1);
        QCOMPARE(settingsWindow->windowTitle(), QStringLiteral("Tavlo Settings"));
        // The tag editors' own way in ("Edit Tags…") reaches the same window.
        auto *settingsContent = qobject_cast<TVLSettingsWindow *>(settingsWindow->viewController());
        QCOMPARE(TVLSettingsViewController::showSettingsWindow(), settingsContent->tagSettings());
        QVERIFY(settingsContent->tagSettings()->nameEditorAt(1));
        menuAction(settingsWindow, "TVLHelpAction")->trigger();
        QVERIFY(TVLHelpWindow::windowForPage(QStringLiteral("html.settings")));
        QVERIFY(!menuAction(settingsWindow, "TVLPrintAction")->isEnabled());

        // Its controls and the menus write the same settings.
        auto *toolSteps = settingsWindow->findChild<QCheckBox *>(QStringLiteral("TVLShowToolStepsBox"));
        toolSteps->click();
        QVERIFY(HVXDefaults::standard().boolForKey(TVLMainMenu::showToolStepsKey));
        QVERIFY(menuAction(viewer, "TVLShowToolStepsAction")->isChecked());
        menuAction(viewer, "TVLShowToolStepsAction")->trigger();
        QVERIFY(!toolSteps->isChecked());

        // Appearance: dark and light at once, and back to the desktop's own.
        if (qEnvironmentVariableIsEmpty("TAVLO_APPEARANCE")) {
            const QPalette desktop = QApplication::palette();
            auto *appearance = settingsWindow->findChild<QComboBox *>(QStringLiteral("TVLAppearanceBox"));
            appearance->setCurrentIndex(2);
            Q_EMIT appearance->activated(2);
            QVERIFY(QApplication::palette().color(QPalette::Window).lightness() < 128);
            appearance->setCurrentIndex(0);
            Q_EMIT appearance->activated(0);
            QCOMPARE(QApplication::palette().color(QPalette::Window), desktop.color(QPalette::Window));
        }
    }

    void whatUrlsMayOpen()
    {
        QVERIFY(::mkfifo(QFile::encodeName(m_project + QStringLiteral("/fifo.jsonl")).constData(), 0600) == 0);
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), m_project + QStringLiteral("/zero.jsonl")));
        LogCapture log;
        const QStringList refused{
            QStringLiteral("tvl://home") + m_session,          // a host, not a path
            QStringLiteral("tvl://") + m_project + QStringLiteral("/fifo.jsonl"),
            QStringLiteral("tvl://") + m_project + QStringLiteral("/zero.jsonl"),
            QStringLiteral("tvl://") + m_project + QStringLiteral("/missing.jsonl"),
            QStringLiteral("file://") + m_project + QStringLiteral("/fifo.jsonl"),
            m_project + QStringLiteral("/zero.jsonl"),
        };
        for (const QString &url : refused)
            m_delegate.openURL(url);
        QCOMPARE(HVXWindows::windowControllers().size(), 0);
        QCOMPARE(log.count(QStringLiteral("ERROR:")), refused.size());

        // A file manager's URL and a path with "." and ".." open the file, cleaned.
        m_delegate.openURL(QUrl::fromLocalFile(m_session).toString());
        QCOMPARE(viewerAt(0)->path(), m_session);
        m_delegate.openURL(QStringLiteral("tvl://") + m_project + QStringLiteral("/./../-home-me-app/s.jsonl"));
        QCOMPARE(HVXWindows::windowControllers().size(), 1);
    }

    void copiedUrlsOpenWhatWasCopied()
    {
        for (const char *name : {"a#b", "what?", "100%", "with space", "f\u00fcr"}) {
            const QString directory = m_dir.filePath(QStringLiteral("odd/-home-%1").arg(QString::fromUtf8(name)));
            const QString session = write(directory + QStringLiteral("/s %1.jsonl").arg(QString::fromUtf8(name)),
                                          QList<QJsonObject>{prompt("U1", "hi"), assistant("A1", "yes", "M1", usage(1, 1))});
            auto object = TVLObject::objectForPath(session);
            QVERIFY(object);
            const auto exchange = object->exchangeWithUuid(QStringLiteral("U1"));
            QVERIFY(exchange);
            m_delegate.openURL(exchange->urlString());
            m_delegate.openURL(TVLURL::urlStringForPath(directory));
            QCOMPARE(HVXWindows::windowControllers().size(), 2);
            QCOMPARE(viewerAt(0)->path(), session);
            QCOMPARE(viewerAt(0)->exchangeUuid(), QStringLiteral("U1"));
            QCOMPARE(viewerAt(1)->path(), directory);
            closeAllWindows();
        }
    }

    void argumentsReachTheRunningInstance()
    {
        const QString socket = m_dir.filePath(QStringLiteral("instance.socket"));
        // Nobody listening: this process would become the instance.
        QVERIFY(!TVLSingleInstance::forwardToRunningInstance(socket, {m_session}, {}, 500));
        QVERIFY(makeStaleSocket(socket));
        QVERIFY(!TVLSingleInstance::forwardToRunningInstance(socket, {m_session}, {}, 500));

        TVLSingleInstance instance;
        QList<TVLSingleInstance::Request> received;
        QVERIFY(instance.listen(socket, [&](const TVLSingleInstance::Request &request) { received << request; }));

        const QStringList arguments = TVLSingleInstance::resolvedArguments(
            {QStringLiteral("s.jsonl"), QStringLiteral("tvl:///x/y.jsonl?exchange=E")}, m_project);
        QCOMPARE(arguments, (QStringList{m_session, QStringLiteral("tvl:///x/y.jsonl?exchange=E")}));
        bool acknowledged = false;
        QThread *sender = QThread::create([&] {
            acknowledged = TVLSingleInstance::forwardToRunningInstance(socket, arguments, QStringLiteral("token-1"));
        });
        sender->start();
        QTRY_VERIFY(sender->isFinished());
        delete sender;
        QVERIFY(acknowledged);
        QCOMPARE(received.size(), 1);
        QCOMPARE(received.first().arguments, arguments);
        QCOMPARE(received.first().activationToken, QStringLiteral("token-1"));

        // A live instance's socket is never taken over by a second listener.
        TVLSingleInstance second;
        LogCapture log;
        QVERIFY(!second.listen(socket, {}));
        QVERIFY(QFileInfo::exists(socket));

        // Messages that aren't a list of texts are refused.
        QVERIFY(!TVLSingleInstance::decodeRequest("[1,2]"));
        QVERIFY(!TVLSingleInstance::decodeRequest("{\"arguments\": [\"a\", 2]}"));
        const TVLSingleInstance::Request sent{{QStringLiteral("a"), QStringLiteral("tvl:///x y?exchange=\"1\"")},
                                              QStringLiteral("token-2")};
        const auto decoded = TVLSingleInstance::decodeRequest(TVLSingleInstance::encodeRequest(sent));
        QVERIFY(decoded);
        QCOMPARE(decoded->arguments, sent.arguments);
        QCOMPARE(decoded->activationToken, sent.activationToken);

        // Each settings file has its own instance.
        QVERIFY(TVLSingleInstance::socketPathForSettingsFile(QStringLiteral("/a/settings.ini"))
                != TVLSingleInstance::socketPathForSettingsFile(QStringLiteral("/b/settings.ini")));
    }

    void updateFeedTextIsShownAsPlainText()
    {
        TVLUpdater::Result result{TVLUpdater::Result::UpdateAvailable, QStringLiteral("<img src=x><a href=y>9</a>"), {}, {}};
        const auto box = TVLUpdater::resultBox(result, nullptr);
        QCOMPARE(box->textFormat(), Qt::PlainText);
        QVERIFY(box->text().contains(QStringLiteral("<img src=x><a href=y>9</a>")));
    }

    void theSocketLivesWhereOnlyTheUserCanEnter()
    {
        QTemporaryDir temporary;
        const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR"), savedTemp = qgetenv("TMPDIR");
        qunsetenv("XDG_RUNTIME_DIR");
        qputenv("TMPDIR", QFile::encodeName(temporary.path()));
        const QString own = temporary.filePath(QStringLiteral("tavlo-%1").arg(::getuid()));
        // Without a runtime directory: one of the user's own, never the shared temporary directory.
        const QString socket = TVLSingleInstance::socketPathForSettingsFile(QStringLiteral("/a/settings.ini"));
        QCOMPARE(QFileInfo(socket).absolutePath(), own);
        QCOMPARE(QFileInfo(own).permissions() & (QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther),
                 QFile::Permissions());
        // Someone else could enter it (or made it): nothing is handed over, and the log says why.
        QVERIFY(::chmod(QFile::encodeName(own).constData(), 0755) == 0);
        LogCapture log;
        QVERIFY(TVLSingleInstance::socketPathForSettingsFile(QStringLiteral("/a/settings.ini")).isEmpty());
        QCOMPARE(log.count("No private directory for the socket"), 1);
        TVLSingleInstance instance;
        QVERIFY(!instance.listen(QString(), {}));
        QVERIFY(!TVLSingleInstance::forwardToRunningInstance(QString(), {QStringLiteral("/x")}, {}));
        qputenv("XDG_RUNTIME_DIR", savedRuntime);
        qputenv("TMPDIR", savedTemp);
        if (savedTemp.isEmpty())
            qunsetenv("TMPDIR");
        if (savedRuntime.isEmpty())
            qunsetenv("XDG_RUNTIME_DIR");
    }
};

int main(int argc, char **argv)
{
    prepareWebEngineForHeadlessRuns();
    // The application object writes to the settings store as it starts, and its windows to the
    // cache: give it the suite's own.
    SuiteSandbox sandbox;
    TVLApplication app(argc, argv);
    TestShell test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_shell.moc"
