#pragma once
// The content of the "Tavlo Settings" window: the tag palette, the appearance, what session rows
// show, relative times, scrolling to the end of a session, tool steps and the update check. Every
// control writes its setting at once and follows changes made elsewhere (the View menu, the
// window's accessory). There is one such window; asking again brings it forward.

#include "Halvex/AppKit/HVXViewController.h"

class QCheckBox;
class QComboBox;
class QPushButton;
class TVLSettingsViewController;

class TVLSettingsWindow final : public HVXViewController
{
    Q_OBJECT
public:
    static inline const char *className = "TVLSettingsWindow";
    static void registerClass();
    // Presents the window (the open one comes to the front).
    static TVLSettingsWindow *present();

    explicit TVLSettingsWindow(QWidget *parent = nullptr);

    QString hvxWindowTitle() const override { return tr("Tavlo Settings"); }
    QString hvxWindowAutoSaveName() const override { return QStringLiteral("TVLSettings"); }
    QString helpSectionID() const override { return QStringLiteral("settings"); }

    // The tag palette's editors, the window's first section.
    TVLSettingsViewController *tagSettings() const { return m_tags; }

private:
    QWidget *buildGeneralSection();
    QWidget *buildUpdatesSection();
    void syncFromSettings();

    TVLSettingsViewController *m_tags = nullptr;
    QComboBox *m_appearance = nullptr;
    QComboBox *m_titleMode = nullptr;
    QCheckBox *m_relativeTime = nullptr;
    QCheckBox *m_scrollToBottom = nullptr;
    QCheckBox *m_toolSteps = nullptr;
    QCheckBox *m_automaticUpdates = nullptr;
    QPushButton *m_checkNow = nullptr;
};
