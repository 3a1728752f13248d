#include "TVLMainMenu.h"

#include "Tavlo/DataObjects/TVLSettings.h"
#include "TVLAppDelegate.h"
#include "TVLApplication.h"
#include "TVLHelpWindow.h"
#include "TVLOpenPanel.h"
#include "TVLSettingsWindow.h"
#include "TVLUpdater.h"

#include "Halvex/AppKit/HVXOutlineView.h"
#include "Halvex/AppKit/HVXRecentsManager.h"
#include "Halvex/AppKit/HVXWindowRestoration.h"
#include "Halvex/AppKit/HVXWindowController.h"
#include "Halvex/Foundation/HVXDefaults.h"
#include "Tavlo/DataObjects/TVLSession.h"
#include "Tavlo/Viewer/TVLPageController.h"
#include "Tavlo/Viewer/TVLViewerViewController.h"

#include <QAbstractItemModel>
#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTextEdit>

namespace {
const QString &kDisplayModeKey = TVLSettings::sessionDisplayModeKey;
const QString &kRelativeTimeKey = TVLSettings::relativeTimeKey;

QPointer<TVLAppDelegate> &openDelegate()
{
    static QPointer<TVLAppDelegate> delegate;
    return delegate;
}

TVLViewerViewController *viewerOf(HVXWindowController *window)
{
    return window ? qobject_cast<TVLViewerViewController *>(window->viewController()) : nullptr;
}

QAction *addAction(QMenu *menu, const QString &title, const char *objectName, const QKeySequence &shortcut,
                   std::function<void()> run)
{
    QAction *action = menu->addAction(title);
    action->setObjectName(QString::fromLatin1(objectName));
    action->setShortcut(shortcut);
    QObject::connect(action, &QAction::triggered, menu, [run = std::move(run)] { run(); });
    return action;
}

// A standard key where the platform has one, else the one given.
QKeySequence standardOr(QKeySequence::StandardKey key, const QKeySequence &fallback)
{
    const QKeySequence standard(key);
    return standard.isEmpty() ? fallback : standard;
}

void chooseAndOpen(HVXWindowController *window)
{
    TVLOpenPanel panel(window);
    if (panel.exec() != QDialog::Accepted || panel.chosenPath().isEmpty())
        return;
    if (TVLAppDelegate *delegate = openDelegate())
        delegate->openURL(panel.chosenPath());
    else if (TVLApplication *app = TVLApplication::instance())
        app->openPathInNewWindow(panel.chosenPath());
}

// Copy goes to whatever has the keyboard focus in that window: a text field, the outline (the
// titles of the selected rows, one a line) or the page.
void copyInWindow(HVXWindowController *window)
{
    QWidget *focus = window->focusWidget();
    if (auto *edit = qobject_cast<QLineEdit *>(focus))
        return edit->copy();
    if (auto *edit = qobject_cast<QTextEdit *>(focus))
        return edit->copy();
    if (auto *edit = qobject_cast<QPlainTextEdit *>(focus))
        return edit->copy();
    TVLViewerViewController *viewer = viewerOf(window);
    if (!viewer)
        return;
    HVXOutlineView *outline = viewer->outlineView();
    if (focus && (focus == outline || outline->isAncestorOf(focus))) {
        QStringList titles;
        for (const QModelIndex &row : outline->selectionModel()->selectedRows())
            titles << row.data(Qt::DisplayRole).toString();
        if (!titles.isEmpty())
            QApplication::clipboard()->setText(titles.join(QLatin1Char('\n')));
        return;
    }
    viewer->page()->copySelection();
}

void buildFileMenu(QMenuBar *bar, HVXWindowController *window)
{
    QMenu *file = bar->addMenu(QObject::tr("&File"));
    file->setObjectName(QStringLiteral("TVLFileMenu"));
    addAction(file, QObject::tr("New Viewer"), "TVLNewViewerAction", QKeySequence::New, [] {
        if (TVLApplication *app = TVLApplication::instance())
            app->showViewer();
    });
    QPointer<HVXWindowController> target(window);
    addAction(file, QObject::tr("Open\u2026"), "TVLOpenAction", QKeySequence::Open, [target] { chooseAndOpen(target); });
    // Filled by the recents manager with the recent windows and the favorites.
    QMenu *recent = file->addMenu(QObject::tr("Open Recent"));
    recent->setObjectName(QStringLiteral("TVLOpenRecentMenu"));
    HVXRecentsManager &recents = HVXRecentsManager::sharedInstance();
    recents.attachMenu(recent);
    QAction *favorite = recents.addToFavoritesAction(window, file);
    favorite->setObjectName(QStringLiteral("TVLAddToFavoritesAction"));
    file->addAction(favorite);
    file->addSeparator();
    QAction *print = addAction(file, QObject::tr("Print\u2026"), "TVLPrintAction", QKeySequence::Print, [target] {
        if (TVLViewerViewController *viewer = viewerOf(target))
            viewer->printCustom();
    });
    print->setEnabled(viewerOf(window) != nullptr);
    file->addSeparator();
    addAction(file, QObject::tr("Close Window"), "TVLCloseWindowAction", QKeySequence::Close, [target] {
        if (target)
            target->close();
    });
    addAction(file, QObject::tr("Quit"), "TVLQuitAction", standardOr(QKeySequence::Quit, QKeySequence(Qt::CTRL | Qt::Key_Q)),
              // The open windows are kept for the next launch before they close.
              [] { HVXWindowRestoration::shared().terminate(); })
        ->setMenuRole(QAction::QuitRole);
}

// The viewer's find actions, whichever of them it has.
void fillFindMenu(QMenu *find, HVXWindowController *window)
{
    find->clear();
    TVLViewerViewController *viewer = viewerOf(window);
    for (const char *name : TVLMainMenu::findActionNames)
        if (QAction *action = viewer ? viewer->findChild<QAction *>(QString::fromLatin1(name)) : nullptr)
            find->addAction(action);
    find->setEnabled(!find->isEmpty());
}

void buildEditMenu(QMenuBar *bar, HVXWindowController *window)
{
    QMenu *edit = bar->addMenu(QObject::tr("&Edit"));
    edit->setObjectName(QStringLiteral("TVLEditMenu"));
    QPointer<HVXWindowController> target(window);
    addAction(edit, QObject::tr("Copy"), "TVLCopyAction", QKeySequence::Copy, [target] {
        if (target)
            copyInWindow(target);
    });
    QMenu *find = edit->addMenu(QObject::tr("Find"));
    find->setObjectName(QStringLiteral("TVLFindMenu"));
    fillFindMenu(find, window);
    // The viewer may add its find actions after the menu was built.
    QObject::connect(edit, &QMenu::aboutToShow, find, [find, target] { fillFindMenu(find, target); });
    edit->addSeparator();
    addAction(edit, QObject::tr("Settings\u2026"), "TVLSettingsAction",
              standardOr(QKeySequence::Preferences, QKeySequence(Qt::CTRL | Qt::Key_Comma)), [] { TVLSettingsWindow::present(); })
        ->setMenuRole(QAction::PreferencesRole);
}

QAction *addSettingToggle(QMenu *menu, const QString &title, const char *objectName, const QString &key)
{
    QAction *action = menu->addAction(title);
    action->setObjectName(QString::fromLatin1(objectName));
    action->setCheckable(true);
    action->setChecked(HVXDefaults::standard().boolForKey(key));
    QObject::connect(action, &QAction::toggled, menu, [key](bool on) {
        if (HVXDefaults::standard().boolForKey(key) != on)
            HVXDefaults::standard().setBool(key, on);
    });
    HVXDefaults::standard().observe(key, action, [action, key] { action->setChecked(HVXDefaults::standard().boolForKey(key)); });
    return action;
}

void buildViewMenu(QMenuBar *bar, HVXWindowController *window)
{
    QMenu *view = bar->addMenu(QObject::tr("&View"));
    view->setObjectName(QStringLiteral("TVLViewMenu"));
    QPointer<HVXWindowController> target(window);
    TVLViewerViewController *viewer = viewerOf(window);

    QAction *tokens = view->addAction(QObject::tr("Show Token Columns"));
    tokens->setObjectName(QStringLiteral("TVLShowTokenColumnsAction"));
    tokens->setCheckable(true);
    tokens->setEnabled(viewer != nullptr);
    tokens->setChecked(viewer && !viewer->tokenColumnsHidden());
    QObject::connect(tokens, &QAction::triggered, view, [target, tokens] {
        TVLViewerViewController *viewer = viewerOf(target);
        if (!viewer)
            return;
        viewer->toggleTokenUsageVisibility();
        tokens->setChecked(!viewer->tokenColumnsHidden());
    });
    // The accessory's button toggles the columns as well.
    QObject::connect(view, &QMenu::aboutToShow, tokens, [target, tokens] {
        if (TVLViewerViewController *viewer = viewerOf(target))
            tokens->setChecked(!viewer->tokenColumnsHidden());
    });

    // Values are the setting's: 0 file name, 1 start, 2 last change, 3 first prompt, 4 last prompt,
    // 5 the session's own title.
    QMenu *titles = view->addMenu(QObject::tr("Session Titles"));
    titles->setObjectName(QStringLiteral("TVLSessionTitlesMenu"));
    auto *group = new QActionGroup(titles);
    const QStringList modes{QObject::tr("File Name"), QObject::tr("Start Date"), QObject::tr("Last Changed"),
                            QObject::tr("First Prompt"), QObject::tr("Last Prompt"), QObject::tr("Title")};
    for (int mode = 0; mode < modes.size(); ++mode) {
        QAction *action = titles->addAction(modes.at(mode));
        action->setCheckable(true);
        action->setData(mode);
        group->addAction(action);
        QObject::connect(action, &QAction::triggered, titles,
                         [mode] { HVXDefaults::standard().setInteger(kDisplayModeKey, mode); });
    }
    auto syncModes = [group] {
        const qint64 current = HVXDefaults::standard().integerForKey(kDisplayModeKey);
        for (QAction *action : group->actions())
            action->setChecked(action->data().toLongLong() == current);
    };
    syncModes();
    HVXDefaults::standard().observe(kDisplayModeKey, titles, syncModes);

    addSettingToggle(view, QObject::tr("Use Relative Time"), "TVLUseRelativeTimeAction", kRelativeTimeKey);
    addSettingToggle(view, QObject::tr("Show Tool Steps"), "TVLShowToolStepsAction", TVLMainMenu::showToolStepsKey);
}

void showAbout(QWidget *parent)
{
    QString kind;
    if (TVLApplication::isDebugBuild())
        kind = QObject::tr(" (debug build)");
    else if (TVLApplication::isDevBuild())
        kind = QObject::tr(" (development build)");
    QMessageBox::about(parent, QObject::tr("About Tavlo"),
                       QObject::tr("<h3>Tavlo %1%2</h3><p>A viewer for the session transcripts of AI coding "
                                   "assistants.</p>")
                           .arg(TVLApplication::shortVersionString().toHtmlEscaped(), kind));
}

void buildHelpMenu(QMenuBar *bar, HVXWindowController *window)
{
    QMenu *help = bar->addMenu(QObject::tr("&Help"));
    help->setObjectName(QStringLiteral("TVLHelpMenu"));
    QPointer<HVXWindowController> target(window);
    addAction(help, QObject::tr("Tavlo Help"), "TVLHelpAction", standardOr(QKeySequence::HelpContents, QKeySequence(Qt::Key_F1)),
              [target] { TVLApplication::showHelp(target ? target->viewController()->helpSectionID() : QString()); });
    addAction(help, QObject::tr("Release Notes"), "TVLReleaseNotesAction", {}, [] { TVLApplication::showReleaseNotes(); });
    addAction(help, QObject::tr("Acknowledgements"), "TVLAcknowledgementsAction", {},
              [] { TVLApplication::showAcknowledgements(); });
    // Only a build with an update feed checks; a distribution's package manager brings updates.
    if (TVLUpdater::shared().canCheckForUpdates())
        addAction(help, QObject::tr("Check for Updates\u2026"), "TVLCheckForUpdatesAction", {},
                  [target] { TVLUpdater::shared().checkForUpdatesInteractively(target); });
    help->addSeparator();
    addAction(help, QObject::tr("About Tavlo"), "TVLAboutAction", {}, [target] { showAbout(target); })
        ->setMenuRole(QAction::AboutRole);
    addAction(help, QObject::tr("About Qt"), "TVLAboutQtAction", {}, [] { QApplication::aboutQt(); })
        ->setMenuRole(QAction::AboutQtRole);
}
} // namespace

void TVLMainMenu::registerDefaults()
{
    TVLToolSteps::registerDefaults();
    TVLSession::registerDefaults();
}

void TVLMainMenu::install(TVLAppDelegate *delegate)
{
    openDelegate() = delegate;
    registerDefaults();
    HVXWindowController::setWindowDecorator([](HVXWindowController *window) { buildMenuBar(window); });
}

QMenuBar *TVLMainMenu::buildMenuBar(HVXWindowController *window)
{
    registerDefaults();
    auto *bar = new QMenuBar(window);
    bar->setObjectName(QStringLiteral("TVLMenuBar"));
    buildFileMenu(bar, window);
    buildEditMenu(bar, window);
    buildViewMenu(bar, window);
    buildHelpMenu(bar, window);
    window->setMenuBar(bar);
    return bar;
}
