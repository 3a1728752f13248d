#pragma once
// Windows come back after a relaunch. The setting "HVXRestorableWindows" lists the restorable
// windows, oldest first, each as {identifier, geometry, state}: the window identifier, the
// window's saved geometry and its controller's view state. The list follows windows as they
// open and close, except while quitting: quitting (the Quit command, SIGTERM, SIGINT, or closing
// the last window) takes the snapshot first and then leaves it alone, so that the windows closed
// on the way out come back.
//
// At launch restoreWindows() opens one window per entry (only identical identifiers make one
// window). An entry that cannot be read is an ERROR line; an entry whose object has gone (its
// directory was deleted) is a WARNING. Neither opens a window, and both are dropped.
//
// Where clients cannot place windows (Wayland) only sizes are restored.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <optional>

class HVXViewController;
class HVXWindowController;

class HVXWindowRestoration final : public QObject
{
    Q_OBJECT
public:
    static inline const QString settingsKey = QStringLiteral("HVXRestorableWindows");
    // The error code of a restoration failure.
    static constexpr int errorCode = 42;

    static HVXWindowRestoration &shared();

    // One entry of the list as stored; nothing when it names no window.
    struct Entry
    {
        QString identifier;
        QByteArray geometry;
        QByteArray state;
    };
    static std::optional<Entry> entryFromText(const QString &text);

    // Watches the application for its quit request, so that a quit from anywhere takes the snapshot.
    void install();

    // Opens the windows of the last run; returns how many came back.
    int restoreWindows();
    // One entry: the window with that identifier (found or created), given its geometry and view
    // state, told hvxDidRestore(). Nullptr, after the log line, when it cannot be restored.
    HVXViewController *restoreWindowWithIdentifier(const QString &identifier, const QByteArray &geometry = {},
                                                   const QByteArray &state = {});

    void windowDidOpen(HVXWindowController *window);
    void windowWillClose(HVXWindowController *window);
    // Writes the list from the open windows now.
    void takeSnapshot();
    // The Quit command: snapshot, close every window, leave the event loop.
    void terminate();

    // False on Wayland, where a client cannot choose where its windows go.
    static bool canPlaceWindows();
    // restoreGeometry() where windows can be placed, else the size (and maximized state) only.
    static void applyGeometry(QWidget *window, const QByteArray &geometry);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    using QObject::QObject;
    void writeSnapshot(const HVXWindowController *leaving);
    void beginQuitting();

    bool m_quitting = false;
    bool m_restoring = false;
    bool m_installed = false;
};
