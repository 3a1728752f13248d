#include "HVXWindowRestoration.h"

#include "HVXViewController.h"
#include "HVXWindowController.h"
#include "HVXWindows.h"

#include "Halvex/Foundation/HVXDefaults.h"
#include "Halvex/Foundation/HVXLog.h"

#include <QApplication>
#include <QEvent>
#include <QJsonDocument>
#include <QJsonObject>

namespace {
const QString kIdentifier = QStringLiteral("identifier");
const QString kGeometry = QStringLiteral("geometry");
const QString kState = QStringLiteral("state");
} // namespace

HVXWindowRestoration &HVXWindowRestoration::shared()
{
    static HVXWindowRestoration *instance = new HVXWindowRestoration;
    return *instance;
}

void HVXWindowRestoration::install()
{
    if (m_installed || !QCoreApplication::instance())
        return;
    m_installed = true;
    QCoreApplication::instance()->installEventFilter(this);
    // A quit that leaves the event loop without asking the windows first.
    connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, [this] {
        if (!m_quitting)
            beginQuitting();
    });
}

bool HVXWindowRestoration::eventFilter(QObject *watched, QEvent *event)
{
    // Qt closes every window when it is asked to quit; the snapshot must come first.
    if (watched == QCoreApplication::instance() && event->type() == QEvent::Quit && !m_quitting)
        beginQuitting();
    return QObject::eventFilter(watched, event);
}

bool HVXWindowRestoration::canPlaceWindows()
{
    return !QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

void HVXWindowRestoration::applyGeometry(QWidget *window, const QByteArray &geometry)
{
    if (canPlaceWindows()) {
        window->restoreGeometry(geometry);
        return;
    }
    // The compositor places the window; take only the size (and maximized state) from the geometry.
    QWidget probe;
    if (!probe.restoreGeometry(geometry))
        return;
    window->resize(probe.size());
    if (probe.windowState() & Qt::WindowMaximized)
        window->setWindowState(window->windowState() | Qt::WindowMaximized);
}

std::optional<HVXWindowRestoration::Entry> HVXWindowRestoration::entryFromText(const QString &text)
{
    const QJsonObject fields = QJsonDocument::fromJson(text.toUtf8()).object();
    Entry entry{fields.value(kIdentifier).toString(), QByteArray::fromBase64(fields.value(kGeometry).toString().toLatin1()),
                QByteArray::fromBase64(fields.value(kState).toString().toLatin1())};
    if (entry.identifier.isEmpty())
        return std::nullopt;
    return entry;
}

int HVXWindowRestoration::restoreWindows()
{
    const QVariantList entries = HVXDefaults::standard().listForKey(settingsKey);
    m_restoring = true;
    int restored = 0;
    for (const QVariant &text : entries) {
        const std::optional<Entry> entry = entryFromText(text.toString());
        if (!entry) {
            HVXLogError(QStringLiteral("Restorable window entry without identifier: %1").arg(hvxLogValue(text.toString())));
            continue;
        }
        const qsizetype before = HVXWindows::windowControllers().size();
        HVXViewController *controller = restoreWindowWithIdentifier(entry->identifier, entry->geometry, entry->state);
        if (controller && HVXWindows::windowControllers().size() > before)
            ++restored;
    }
    m_restoring = false;
    // Entries that did not come back are dropped.
    takeSnapshot();
    return restored;
}

HVXViewController *HVXWindowRestoration::restoreWindowWithIdentifier(const QString &identifier, const QByteArray &geometry,
                                                                     const QByteArray &state)
{
    bool created = false;
    const HVXWindows::OpenResult result = HVXWindows::openWindowWithIdentifier(identifier, [&](HVXWindowController *window) {
        created = true;
        if (!geometry.isEmpty())
            applyGeometry(window, geometry);
        if (!state.isEmpty())
            window->viewController()->hvxRestoreState(state);
    });
    switch (result.failure) {
    case HVXWindows::OpenFailure::None:
        break;
    case HVXWindows::OpenFailure::Unreadable:
        HVXLogError(QStringLiteral("%1 does not know how to restore window with identifier %2 (error %3: %4)")
                        .arg(QString::fromLatin1(metaObject()->className()), hvxLogValue(identifier))
                        .arg(errorCode)
                        .arg(result.reason));
        return nullptr;
    case HVXWindows::OpenFailure::Gone:
        HVXLogWarning(QStringLiteral("Not restoring window %1: %2").arg(hvxLogValue(identifier), result.reason));
        return nullptr;
    }
    // An identifier listed twice is one window, restored once.
    if (created)
        result.controller->hvxDidRestore();
    return result.controller;
}

void HVXWindowRestoration::windowDidOpen(HVXWindowController *)
{
    // A window opened after the last one closed: the program goes on after all.
    m_quitting = false;
    if (!m_restoring)
        takeSnapshot();
}

void HVXWindowRestoration::windowWillClose(HVXWindowController *window)
{
    if (m_quitting || m_restoring)
        return;
    // Any window that keeps the program running counts (a help or settings window too), as Qt counts.
    bool othersOpen = false;
    for (QWidget *other : QApplication::topLevelWidgets()) {
        const Qt::WindowType type = other->windowType();
        othersOpen = othersOpen
                     || (other != window && other->isVisible() && !other->parentWidget()
                         && other->testAttribute(Qt::WA_QuitOnClose) && (type == Qt::Window || type == Qt::Dialog));
    }
    // Closing the last window quits the program, and it comes back with that window.
    if (!othersOpen && QGuiApplication::quitOnLastWindowClosed()) {
        beginQuitting();
        return;
    }
    writeSnapshot(window);
}

void HVXWindowRestoration::takeSnapshot() { writeSnapshot(nullptr); }

void HVXWindowRestoration::writeSnapshot(const HVXWindowController *leaving)
{
    // Compact JSON text per window keeps the settings file readable.
    QStringList entries;
    for (HVXWindowController *window : HVXWindows::windowControllers()) {
        if (window == leaving || !window->isRestorable() || !window->isVisible())
            continue;
        QJsonObject entry{{kIdentifier, window->windowIdentifier()},
                          {kGeometry, QString::fromLatin1(window->saveGeometry().toBase64())}};
        if (HVXViewController *controller = window->viewController()) {
            const QByteArray state = controller->hvxRestorableState();
            if (!state.isEmpty())
                entry.insert(kState, QString::fromLatin1(state.toBase64()));
        }
        entries << QString::fromUtf8(QJsonDocument(entry).toJson(QJsonDocument::Compact));
    }
    HVXDefaults &defaults = HVXDefaults::standard();
    if (defaults.value(settingsKey).toStringList() != entries)
        defaults.setValue(settingsKey, entries);
}

void HVXWindowRestoration::beginQuitting()
{
    takeSnapshot();
    HVXDefaults::standard().sync();
    m_quitting = true;
}

void HVXWindowRestoration::terminate()
{
    if (!m_quitting)
        beginQuitting();
    QApplication::closeAllWindows();
    QCoreApplication::quit();
}
