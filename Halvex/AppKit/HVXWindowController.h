#pragma once
// The window around one view controller: the controller is its central widget, the window
// title follows the controller's hvxWindowTitle, the controller's accessory sits at the right
// end of the top toolbar, and the frame is saved under the auto-save name (the title when the
// controller names none). A presented window lives until it is closed. A restorable window is
// brought back at the next launch (HVXWindowRestoration); its recents entry follows its title.

#include <QMainWindow>
#include <functional>

class HVXViewController;
class QToolBar;

class HVXWindowController final : public QMainWindow
{
    Q_OBJECT
public:
    explicit HVXWindowController(HVXViewController *viewController);
    ~HVXWindowController() override;

    // Makes the window for the controller, prepares it, shows it and keeps it until it closes.
    static HVXWindowController *presentViewController(HVXViewController *viewController,
                                                      const std::function<void(HVXWindowController *)> &prepare = {});

    // Called for every new window before it is shown: the application gives each window its
    // menu bar this way (Linux desktops have no application-wide menu).
    using Decorator = std::function<void(HVXWindowController *)>;
    static void setWindowDecorator(Decorator decorator);

    HVXViewController *viewController() const { return m_viewController; }

    // "<class>|<compact JSON of the property map>", empty when unset.
    QString windowIdentifier() const { return m_windowIdentifier; }
    void setWindowIdentifier(const QString &identifier);
    // "<title>|<window identifier>", the form of a recents entry.
    QString hvxIdentifier() const;
    bool isRestorable() const { return m_restorable && !m_windowIdentifier.isEmpty(); }
    void setRestorable(bool restorable) { m_restorable = restorable; }
    // The window's object is in the favorites list.
    bool hvxIsFavorite() const;
    void setHvxIsFavorite(bool favorite);

    // The first other window of the application whose frame equals this one's.
    HVXWindowController *appWindowWithFrameEqualToWindow() const;

Q_SIGNALS:
    // hvxIdentifier() changed: a new title or window identifier.
    void hvxIdentifierChanged();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void applyTitle();
    void restoreFrame();
    void saveFrame();

    HVXViewController *m_viewController;
    QToolBar *m_titleBar = nullptr;
    QString m_windowIdentifier;
    QString m_frameName;
    bool m_restorable = false;
};
