#pragma once
// The application object: a QApplication that tracks the modifier keys (Command is Ctrl,
// Option is Alt, Control is Meta, as in every Qt shortcut) for the model's modifier-dependent
// answers, and keeps the data debug mode that a tvl:// URL can switch on.

#include <QApplication>
#include <QPalette>

class TVLApplication final : public QApplication
{
    Q_OBJECT
public:
    TVLApplication(int &argc, char **argv);
    ~TVLApplication() override;

    static TVLApplication *instance() { return qobject_cast<TVLApplication *>(QCoreApplication::instance()); }

    bool alternateKeyDown() const { return m_alternateKeyDown; }
    bool controlKeyDown() const { return m_controlKeyDown; }
    bool commandKeyDown() const { return m_commandKeyDown; }
    bool shiftKeyDown() const { return m_shiftKeyDown; }
    bool dataDebugMode() const { return m_dataDebugMode; }
    void setDataDebugMode(bool on);

    // The modifier-flag word (Shift 0x20000, Control 0x40000, Option 0x80000, Command 0x100000).
    static quint64 modifierFlagsFromQt(Qt::KeyboardModifiers modifiers);
    // Reads the current modifiers; each property is written only when it changes.
    void updateModifiers();
    void updateModifiersFromFlags(quint64 flags);

    // "system" (the desktop's), "light" or "dark"; TAVLO_APPEARANCE=dark|light overrides it.
    static inline const QString appearanceKey = QStringLiteral("TVLAppearance");
    void applyAppearance(const QString &appearance);

    // The build (see TVLBuildInfo).
    static QString shortVersionString();
    static bool isDevBuild();
    static bool isDebugBuild();
    // The application's own help section: none.
    static QString helpSectionID() { return {}; }

    // Pages shown in a help window; a missing page is logged and beeps.
    static void showHelp(const QString &sectionID = {});
    static void showReleaseNotes();
    static void showAcknowledgements();

    // The one settings window, brought forward when it is open.
    static void showSettings();

    // Opens a viewer on the path (a window that shows it already comes to the front).
    void openPathInNewWindow(const QString &path);
    void showViewer();

Q_SIGNALS:
    void alternateKeyDownChanged(bool down);
    void controlKeyDownChanged(bool down);
    void commandKeyDownChanged(bool down);
    void shiftKeyDownChanged(bool down);
    void dataDebugModeChanged(bool on);

protected:
    bool notify(QObject *receiver, QEvent *event) override;

private:
    // TAVLO_APPEARANCE=dark|light overrides the desktop, for desktops that don't tell Qt their choice.
    void applyRequestedAppearance();

    QString m_desktopStyleName;
    QPalette m_desktopPalette;
    bool m_appearanceOverridden = false;

    bool m_alternateKeyDown = false;
    bool m_controlKeyDown = false;
    bool m_commandKeyDown = false;
    bool m_shiftKeyDown = false;
    bool m_dataDebugMode = false;
};
