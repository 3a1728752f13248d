#pragma once
// The content of one window. A window is asked for by view-controller class name and a map of
// property values (key paths, e.g. {"path": ..., "exchangeUuid": ...}); the values are the
// controller's own declared Qt properties (those of its class, never QWidget's or dynamic ones,
// since maps come back from the settings store), set before hvxAllSet() is called and the
// window is made.
// Subclasses override the hooks they need; the defaults do nothing.

#include <QVariant>
#include <QWidget>

class HVXViewController : public QWidget
{
    Q_OBJECT
public:
    explicit HVXViewController(QWidget *parent = nullptr) : QWidget(parent) {}

    // Once after all property values were set on a new controller, before its window exists.
    virtual void hvxAllSet() {}
    // Take part in restoration after relaunch.
    virtual bool hvxAutoRestore() const { return false; }
    virtual void hvxDidRestore() {}
    // View state kept with a restorable window (splitter positions and the like) and given back
    // to the restored controller before hvxDidRestore(); empty means nothing to keep.
    virtual QByteArray hvxRestorableState() const { return {}; }
    virtual void hvxRestoreState(const QByteArray &state) { Q_UNUSED(state); }
    // Title for the recents list; empty means not recorded.
    virtual QString hvxRecentsMenuTitle() const { return {}; }
    // The window title; empty leaves the title alone. Announce changes with hvxWindowTitleChanged.
    virtual QString hvxWindowTitle() const { return {}; }
    // The name the window frame is saved under; empty uses the window title.
    virtual QString hvxWindowAutoSaveName() const { return {}; }
    // The help section for this window (the page "html.<section>"); empty for the main help.
    virtual QString helpSectionID() const { return {}; }
    // A widget for the right-hand end of the window's top toolbar; none by default.
    virtual QWidget *hvxTitlebarAccessory() { return nullptr; }

    // The value at a key path (a declared property name), invalid when the controller has none.
    QVariant hvxValueForKeyPath(const QString &keyPath) const;
    // False, after a warning, when the key path names no writable declared property.
    bool hvxSetValueForKeyPath(const QString &keyPath, const QVariant &value);
    // A value that counts as "no value" for matching a null in a property map.
    static bool hvxIsUnset(const QVariant &value);

Q_SIGNALS:
    void hvxWindowTitleChanged();

protected:
    // Every time the view is shown, and when it is about to be hidden.
    virtual void viewDidAppear() {}
    virtual void viewWillDisappear() {}

    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
};
