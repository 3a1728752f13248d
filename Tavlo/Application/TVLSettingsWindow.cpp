#include "TVLSettingsWindow.h"

#include "Tavlo/DataObjects/TVLSettings.h"
#include "TVLApplication.h"
#include "TVLMainMenu.h"
#include "TVLUpdater.h"

#include "Halvex/AppKit/HVXWindows.h"
#include "Halvex/Foundation/HVXDefaults.h"
#include "Tavlo/DataObjects/TVLSession.h"
#include "Tavlo/Viewer/TVLSettingsViewController.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace {
const QString &kDisplayModeKey = TVLSettings::sessionDisplayModeKey;
const QString &kRelativeTimeKey = TVLSettings::relativeTimeKey;
const QString kScrollToBottomKey = QStringLiteral("TVLSessionsScrollToBottom");
const QStringList kAppearances{QStringLiteral("system"), QStringLiteral("light"), QStringLiteral("dark")};

QCheckBox *settingCheckBox(const QString &title, const QString &key, QWidget *parent)
{
    auto *box = new QCheckBox(title, parent);
    QObject::connect(box, &QCheckBox::toggled, box, [key](bool on) {
        if (HVXDefaults::standard().boolForKey(key) != on)
            HVXDefaults::standard().setBool(key, on);
    });
    return box;
}
} // namespace

void TVLSettingsWindow::registerClass()
{
    HVXWindows::registerViewControllerClass(QString::fromLatin1(className), [] { return new TVLSettingsWindow; });
}

TVLSettingsWindow *TVLSettingsWindow::present()
{
    if (!HVXWindows::knowsViewControllerClass(QString::fromLatin1(className)))
        registerClass();
    const QString name = QString::fromLatin1(className);
    const bool wasOpen = HVXWindows::findViewControllerOfClass(name, {}) != nullptr;
    auto *settings = qobject_cast<TVLSettingsWindow *>(HVXWindows::presentViewControllerOfClass(name));
    // A first window is as large as its content needs, unless the user gave it a size before.
    if (settings && !wasOpen && !HVXDefaults::standard().contains(QStringLiteral("HVXWindowFrame TVLSettings")))
        settings->window()->resize(560, settings->window()->sizeHint().height());
    return settings;
}

TVLSettingsWindow::TVLSettingsWindow(QWidget *parent)
    : HVXViewController(parent)
{
    setObjectName(QStringLiteral("TVLSettingsWindow"));
    TVLSession::registerDefaults();
    TVLMainMenu::registerDefaults();
    TVLUpdater::registerDefaults();
    HVXDefaults::standard().registerDefaults({{kScrollToBottomKey, true}});
    if (!HVXDefaults::standard().registeredValue(TVLApplication::appearanceKey).isValid())
        HVXDefaults::standard().registerDefaults({{TVLApplication::appearanceKey, QStringLiteral("system")}});

    auto *layout = new QVBoxLayout(this);
    m_tags = new TVLSettingsViewController(this);
    layout->addWidget(m_tags);
    layout->addWidget(buildGeneralSection());
    if (QWidget *updates = buildUpdatesSection())
        layout->addWidget(updates);
    layout->addStretch(1);

    for (const QString &key : {kDisplayModeKey, kRelativeTimeKey, kScrollToBottomKey, TVLMainMenu::showToolStepsKey,
                               TVLUpdater::automaticCheckKey, TVLApplication::appearanceKey})
        HVXDefaults::standard().observe(key, this, [this] { syncFromSettings(); });
    syncFromSettings();
}

QWidget *TVLSettingsWindow::buildGeneralSection()
{
    auto *group = new QGroupBox(tr("Viewer"), this);
    auto *form = new QFormLayout(group);

    m_appearance = new QComboBox(group);
    m_appearance->setObjectName(QStringLiteral("TVLAppearanceBox"));
    m_appearance->addItems({tr("Follow the Desktop"), tr("Light"), tr("Dark")});
    connect(m_appearance, &QComboBox::activated, this, [](int index) {
        HVXDefaults::standard().setValue(TVLApplication::appearanceKey, kAppearances.value(index));
    });
    form->addRow(tr("Appearance:"), m_appearance);
    if (!qEnvironmentVariableIsEmpty("TAVLO_APPEARANCE")) {
        m_appearance->setEnabled(false);
        m_appearance->setToolTip(tr("Set by TAVLO_APPEARANCE"));
    }

    // Values are the setting's: 0 file name, 1 start, 2 last change, 3 first prompt, 4 last prompt,
    // 5 the session's own title.
    m_titleMode = new QComboBox(group);
    m_titleMode->setObjectName(QStringLiteral("TVLSessionTitleBox"));
    m_titleMode->addItems({tr("File Name"), tr("Start Date"), tr("Last Changed"), tr("First Prompt"), tr("Last Prompt"), tr("Title")});
    connect(m_titleMode, &QComboBox::activated, this,
            [](int index) { HVXDefaults::standard().setInteger(kDisplayModeKey, index); });
    form->addRow(tr("Session rows show:"), m_titleMode);

    m_relativeTime = settingCheckBox(tr("Show dates as relative times (\"5 minutes ago\")"), kRelativeTimeKey, group);
    m_relativeTime->setObjectName(QStringLiteral("TVLRelativeTimeBox"));
    m_scrollToBottom = settingCheckBox(tr("Open sessions scrolled to the bottom"), kScrollToBottomKey, group);
    m_scrollToBottom->setObjectName(QStringLiteral("TVLScrollToBottomBox"));
    m_toolSteps = settingCheckBox(tr("Show tool steps"), TVLMainMenu::showToolStepsKey, group);
    m_toolSteps->setObjectName(QStringLiteral("TVLShowToolStepsBox"));
    form->addRow(QString(), m_relativeTime);
    form->addRow(QString(), m_scrollToBottom);
    form->addRow(QString(), m_toolSteps);
    return group;
}

QWidget *TVLSettingsWindow::buildUpdatesSection()
{
    // A build without a feed (a distribution package) gets its updates from the package manager.
    if (!TVLUpdater::shared().canCheckForUpdates())
        return nullptr;
    auto *group = new QGroupBox(tr("Updates"), this);
    auto *layout = new QHBoxLayout(group);
    m_automaticUpdates = settingCheckBox(tr("Check for a newer version at start"), TVLUpdater::automaticCheckKey, group);
    m_automaticUpdates->setObjectName(QStringLiteral("TVLAutomaticUpdatesBox"));
    m_checkNow = new QPushButton(tr("Check Now"), group);
    connect(m_checkNow, &QPushButton::clicked, this, [this] { TVLUpdater::shared().checkForUpdatesInteractively(window()); });
    layout->addWidget(m_automaticUpdates, 1);
    layout->addWidget(m_checkNow);
    return group;
}

void TVLSettingsWindow::syncFromSettings()
{
    HVXDefaults &defaults = HVXDefaults::standard();
    const QSignalBlocker appearance(m_appearance);
    const QSignalBlocker mode(m_titleMode);
    m_appearance->setCurrentIndex(std::max<qsizetype>(0, kAppearances.indexOf(defaults.stringForKey(TVLApplication::appearanceKey))));
    m_titleMode->setCurrentIndex(int(std::clamp<qint64>(defaults.integerForKey(kDisplayModeKey), 0, 5)));
    m_relativeTime->setChecked(defaults.boolForKey(kRelativeTimeKey));
    m_scrollToBottom->setChecked(defaults.boolForKey(kScrollToBottomKey));
    m_toolSteps->setChecked(defaults.boolForKey(TVLMainMenu::showToolStepsKey));
    if (m_automaticUpdates)
        m_automaticUpdates->setChecked(defaults.boolForKey(TVLUpdater::automaticCheckKey));
}
