#include "HVXWindowController.h"

#include "HVXRecentsManager.h"
#include "HVXViewController.h"
#include "HVXWindowRestoration.h"
#include "HVXWindows.h"

#include "Halvex/Foundation/HVXDefaults.h"

#include <QCloseEvent>
#include <QPointer>
#include <QScreen>
#include <QToolBar>

namespace {

QList<QPointer<HVXWindowController>> &openWindows()
{
    static QList<QPointer<HVXWindowController>> windows;
    return windows;
}

HVXWindowController::Decorator &windowDecorator()
{
    static HVXWindowController::Decorator decorator;
    return decorator;
}

QString frameKey(const QString &name) { return QStringLiteral("HVXWindowFrame %1").arg(name); }

} // namespace

QList<HVXWindowController *> HVXWindows::windowControllers()
{
    QList<HVXWindowController *> result;
    for (const QPointer<HVXWindowController> &window : openWindows())
        if (window)
            result << window.data();
    return result;
}

HVXWindowController::HVXWindowController(HVXViewController *viewController)
    : m_viewController(viewController)
{
    setAttribute(Qt::WA_DeleteOnClose);
    openWindows() << this;

    m_titleBar = new QToolBar(this);
    m_titleBar->setObjectName(QStringLiteral("HVXTitleBar"));
    m_titleBar->setMovable(false);
    m_titleBar->setFloatable(false);
    m_titleBar->toggleViewAction()->setVisible(false);
    addToolBar(Qt::TopToolBarArea, m_titleBar);
    if (QWidget *accessory = viewController->hvxTitlebarAccessory()) {
        auto *spacer = new QWidget(m_titleBar);
        spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
        m_titleBar->addWidget(spacer);
        m_titleBar->addWidget(accessory);
    } else {
        m_titleBar->hide();
    }

    setCentralWidget(viewController);
    resize(1200, 780);
    applyTitle();
    connect(viewController, &HVXViewController::hvxWindowTitleChanged, this, &HVXWindowController::applyTitle);

    m_frameName = viewController->hvxWindowAutoSaveName();
    if (m_frameName.isEmpty())
        m_frameName = viewController->hvxWindowTitle();
    restoreFrame();
}

HVXWindowController::~HVXWindowController()
{
    openWindows().removeAll(QPointer<HVXWindowController>(this));
    openWindows().removeAll(QPointer<HVXWindowController>());
}

HVXWindowController *HVXWindowController::presentViewController(HVXViewController *viewController,
                                                                const std::function<void(HVXWindowController *)> &prepare)
{
    auto *window = new HVXWindowController(viewController);
    if (windowDecorator())
        windowDecorator()(window);
    if (prepare)
        prepare(window);
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

void HVXWindowController::setWindowDecorator(Decorator decorator) { windowDecorator() = std::move(decorator); }

QString HVXWindowController::hvxIdentifier() const
{
    return QStringLiteral("%1|%2").arg(windowTitle(), m_windowIdentifier);
}

void HVXWindowController::setWindowIdentifier(const QString &identifier)
{
    if (identifier == m_windowIdentifier)
        return;
    m_windowIdentifier = identifier;
    Q_EMIT hvxIdentifierChanged();
}

bool HVXWindowController::hvxIsFavorite() const
{
    return !m_windowIdentifier.isEmpty() && HVXRecentsManager::sharedInstance().isFavorite(m_windowIdentifier);
}

void HVXWindowController::setHvxIsFavorite(bool favorite)
{
    HVXRecentsManager &recents = HVXRecentsManager::sharedInstance();
    if (!favorite)
        recents.removeFavoriteWithIdentifier(m_windowIdentifier);
    else if (const QString title = m_viewController->hvxRecentsMenuTitle(); !title.isEmpty())
        recents.addFavoriteWithTitle(title, m_windowIdentifier);
    else
        recents.addFavoriteWithTitle(windowTitle(), m_windowIdentifier);
}

void HVXWindowController::applyTitle()
{
    const QString title = m_viewController->hvxWindowTitle();
    if (!title.isEmpty() && title != windowTitle()) {
        setWindowTitle(title);
        Q_EMIT hvxIdentifierChanged();
    }
    // A renamed window keeps its places in the lists under its new name.
    const QString recentsTitle = m_viewController->hvxRecentsMenuTitle();
    if (!m_windowIdentifier.isEmpty() && !recentsTitle.isEmpty())
        HVXRecentsManager::sharedInstance().updateTitle(m_windowIdentifier, recentsTitle);
}

HVXWindowController *HVXWindowController::appWindowWithFrameEqualToWindow() const
{
    for (HVXWindowController *other : HVXWindows::windowControllers())
        if (other != this && other->isVisible() && other->geometry() == geometry())
            return other;
    return nullptr;
}

void HVXWindowController::restoreFrame()
{
    if (m_frameName.isEmpty())
        return;
    const QByteArray saved = HVXDefaults::standard().dataForKey(frameKey(m_frameName));
    if (!saved.isEmpty())
        HVXWindowRestoration::applyGeometry(this, QByteArray::fromBase64(saved));
    // A second window of the same name steps away from the first, so neither hides the other;
    // where clients cannot place windows (Wayland) the compositor chooses.
    if (!HVXWindowRestoration::canPlaceWindows())
        return;
    for (int step = 0; step < 100 && appWindowWithFrameEqualToWindow(); ++step)
        move(pos() + QPoint(22, 22));
}

void HVXWindowController::saveFrame()
{
    if (!m_frameName.isEmpty())
        HVXDefaults::standard().setValue(frameKey(m_frameName), saveGeometry().toBase64());
}

void HVXWindowController::closeEvent(QCloseEvent *event)
{
    saveFrame();
    QMainWindow::closeEvent(event);
    if (event->isAccepted())
        HVXWindowRestoration::shared().windowWillClose(this);
}
