#include "TVLApplication.h"

#include "TVLApplicationResources.h"
#include "TVLBuildInfo.h"
#include "TVLHelpWindow.h"
#include "TVLSettingsWindow.h"

#include "Halvex/Foundation/HVXDefaults.h"
#include "Halvex/Foundation/HVXLog.h"
#include "Halvex/Foundation/HVXModifierKeys.h"
#include "Tavlo/DataObjects/TVLChangeHub.h"
#include "Halvex/AppKit/HVXWindows.h"
#include "Tavlo/Viewer/TVLSettingsViewController.h"
#include "Tavlo/Viewer/TVLViewerViewController.h"

#include <QIcon>
#include <QKeyEvent>
#include <QPalette>
#include <QStyle>
#include <QStyleFactory>

TVLApplication::TVLApplication(int &argc, char **argv)
    : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("Tavlo"));
    setApplicationVersion(TVLBuildInfo::shortVersionString());
    TVLApplicationResources::load();
    setDesktopFileName(TVLApplicationResources::desktopFileName);
    setWindowIcon(QIcon(TVLApplicationResources::iconPath));
    hvxSetBeepHandler([] { QApplication::beep(); });
    hvxSetModifierFlagsProvider([] { return modifierFlagsFromQt(QGuiApplication::queryKeyboardModifiers()); });
    connect(this, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        if (state == Qt::ApplicationActive)
            updateModifiers();
    });
    TVLViewerViewController::registerClass();
    TVLSettingsWindow::registerClass();
    // The viewer's "Edit Tags…" opens the one settings window, which holds the tag editors.
    TVLSettingsViewController::setSettingsWindowPresenter([] {
        TVLSettingsWindow *window = TVLSettingsWindow::present();
        return window ? window->tagSettings() : nullptr;
    });
    applyRequestedAppearance();
}

void TVLApplication::applyRequestedAppearance()
{
    m_desktopStyleName = style()->name();
    m_desktopPalette = palette();
    const QString requested = qEnvironmentVariable("TAVLO_APPEARANCE").toLower();
    if (!requested.isEmpty()) {
        if (requested != QStringLiteral("dark") && requested != QStringLiteral("light")) {
            HVXLogWarning(QStringLiteral("TAVLO_APPEARANCE should be dark or light, not %1").arg(hvxLogValue(requested)));
            return;
        }
        applyAppearance(requested);
        return;
    }
    HVXDefaults::standard().registerDefaults({{appearanceKey, QStringLiteral("system")}});
    applyAppearance(HVXDefaults::standard().stringForKey(appearanceKey));
    HVXDefaults::standard().observe(appearanceKey, this, [this] {
        if (qEnvironmentVariableIsEmpty("TAVLO_APPEARANCE"))
            applyAppearance(HVXDefaults::standard().stringForKey(appearanceKey));
    });
}

void TVLApplication::applyAppearance(const QString &appearance)
{
    if (appearance != QStringLiteral("dark") && appearance != QStringLiteral("light")) {
        // The desktop's own choice, as it was at start; untouched when it was never overridden,
        // so the desktop's later changes still arrive.
        if (!m_appearanceOverridden)
            return;
        m_appearanceOverridden = false;
        if (style()->name() != m_desktopStyleName)
            setStyle(QStyleFactory::create(m_desktopStyleName));
        setPalette(m_desktopPalette);
        return;
    }
    m_appearanceOverridden = true;
    // Fusion draws every palette faithfully, whatever the platform style would do with it.
    setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    if (appearance == QStringLiteral("light")) {
        setPalette(style()->standardPalette());
        return;
    }
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(0x2b, 0x2b, 0x2d));
    dark.setColor(QPalette::WindowText, QColor(0xe6, 0xe6, 0xe6));
    dark.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x20));
    dark.setColor(QPalette::AlternateBase, QColor(0x26, 0x26, 0x29));
    dark.setColor(QPalette::Text, QColor(0xe6, 0xe6, 0xe6));
    dark.setColor(QPalette::PlaceholderText, QColor(0x8c, 0x8c, 0x90));
    dark.setColor(QPalette::Button, QColor(0x3a, 0x3a, 0x3d));
    dark.setColor(QPalette::ButtonText, QColor(0xe6, 0xe6, 0xe6));
    dark.setColor(QPalette::ToolTipBase, QColor(0x3a, 0x3a, 0x3d));
    dark.setColor(QPalette::ToolTipText, QColor(0xe6, 0xe6, 0xe6));
    dark.setColor(QPalette::Highlight, QColor(0x2f, 0x6f, 0xd0));
    dark.setColor(QPalette::HighlightedText, Qt::white);
    dark.setColor(QPalette::Link, QColor(0x6c, 0xa8, 0xff));
    dark.setColor(QPalette::Disabled, QPalette::Text, QColor(0x7a, 0x7a, 0x7e));
    dark.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x7a, 0x7a, 0x7e));
    dark.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x7a, 0x7a, 0x7e));
    setPalette(dark);
}

TVLApplication::~TVLApplication()
{
    hvxSetModifierFlagsProvider({});
    hvxSetBeepHandler({});
    TVLSettingsViewController::setSettingsWindowPresenter({});
}

quint64 TVLApplication::modifierFlagsFromQt(Qt::KeyboardModifiers modifiers)
{
    quint64 flags = 0;
    if (modifiers & Qt::ShiftModifier)
        flags |= HVXModifierShift;
    if (modifiers & Qt::MetaModifier)
        flags |= HVXModifierControl;
    if (modifiers & Qt::AltModifier)
        flags |= HVXModifierOption;
    if (modifiers & Qt::ControlModifier)
        flags |= HVXModifierCommand;
    return flags;
}

void TVLApplication::updateModifiers() { updateModifiersFromFlags(modifierFlagsFromQt(queryKeyboardModifiers())); }

void TVLApplication::updateModifiersFromFlags(quint64 flags)
{
    auto update = [](bool &stored, bool now, auto signal, TVLApplication *self) {
        if (stored == now)
            return;
        stored = now;
        Q_EMIT(self->*signal)(now);
    };
    update(m_shiftKeyDown, flags & HVXModifierShift, &TVLApplication::shiftKeyDownChanged, this);
    update(m_controlKeyDown, flags & HVXModifierControl, &TVLApplication::controlKeyDownChanged, this);
    update(m_alternateKeyDown, flags & HVXModifierOption, &TVLApplication::alternateKeyDownChanged, this);
    update(m_commandKeyDown, flags & HVXModifierCommand, &TVLApplication::commandKeyDownChanged, this);
}

bool TVLApplication::notify(QObject *receiver, QEvent *event)
{
    // A modifier pressed or released: the state is read before the event goes on.
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
        switch (static_cast<QKeyEvent *>(event)->key()) {
        case Qt::Key_Shift:
        case Qt::Key_Control:
        case Qt::Key_Alt:
        case Qt::Key_Meta:
        case Qt::Key_AltGr:
            updateModifiers();
            break;
        default:
            break;
        }
    }
    return QApplication::notify(receiver, event);
}

void TVLApplication::setDataDebugMode(bool on)
{
    if (m_dataDebugMode == on)
        return;
    m_dataDebugMode = on;
    Q_EMIT dataDebugModeChanged(on);
    Q_EMIT TVLChangeHub::shared().dataDebugModeDidChange();
}

QString TVLApplication::shortVersionString() { return TVLBuildInfo::shortVersionString(); }

bool TVLApplication::isDevBuild() { return TVLBuildInfo::isDevBuild(); }

bool TVLApplication::isDebugBuild() { return TVLBuildInfo::isDebugBuild(); }

void TVLApplication::showHelp(const QString &sectionID) { TVLHelpWindow::showHelp(sectionID); }

void TVLApplication::showReleaseNotes() { TVLHelpWindow::showReleaseNotes(); }

void TVLApplication::showAcknowledgements() { TVLHelpWindow::showAcknowledgements(); }

void TVLApplication::showSettings() { TVLSettingsWindow::present(); }

void TVLApplication::openPathInNewWindow(const QString &path)
{
    if (path.isEmpty()) {
        HVXLogWarningAndBeep(QStringLiteral("openPathInNewWindow: called with nil path"));
        return;
    }
    HVXWindows::presentViewControllerOfClass(QString::fromLatin1(TVLViewerViewController::className),
                                             {{QStringLiteral("path"), path}});
}

void TVLApplication::showViewer()
{
    HVXWindows::presentViewControllerOfClass(QString::fromLatin1(TVLViewerViewController::className),
                                             {{QStringLiteral("path"), QString(QStringLiteral(""))}});
}
