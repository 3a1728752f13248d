#include "HVXWindows.h"

#include "HVXViewController.h"
#include "HVXWindowController.h"

#include "Halvex/Foundation/Categories/HVX_JSON.h"
#include "Halvex/Foundation/HVXLog.h"

#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

QHash<QString, HVXWindows::Factory> &factories()
{
    static QHash<QString, HVXWindows::Factory> registered;
    return registered;
}

bool matches(const HVXViewController *controller, const QVariantMap &keyPathsAndObjects)
{
    for (auto it = keyPathsAndObjects.cbegin(); it != keyPathsAndObjects.cend(); ++it) {
        const QVariant current = controller->hvxValueForKeyPath(it.key());
        if (HVXViewController::hvxIsUnset(it.value())) {
            if (!HVXViewController::hvxIsUnset(current))
                return false;
        } else if (current != it.value()) {
            return false;
        }
    }
    return true;
}

} // namespace

void HVXWindows::registerViewControllerClass(const QString &className, Factory factory)
{
    factories().insert(className, std::move(factory));
}

bool HVXWindows::knowsViewControllerClass(const QString &className) { return factories().contains(className); }

HVXViewController *HVXWindows::findViewControllerOfClass(const QString &className, const QVariantMap &keyPathsAndObjects)
{
    const QByteArray name = className.toUtf8();
    for (HVXWindowController *window : windowControllers()) {
        HVXViewController *controller = window->viewController();
        if (controller && controller->inherits(name.constData()) && matches(controller, keyPathsAndObjects))
            return controller;
    }
    return nullptr;
}

std::optional<QString> HVXWindows::windowIdentifier(const QString &className, const QVariantMap &keyPathsAndObjects)
{
    const std::optional<QByteArray> json = hvxJSON(QJsonObject::fromVariantMap(keyPathsAndObjects));
    if (!json) {
        HVXLogError(QStringLiteral("Can't serialize keyPathsAndObjects, auto-restoration will fail! keyPathsAndObjects: %1")
                        .arg(hvxLogValue(QString::fromUtf8(QJsonDocument(QJsonObject::fromVariantMap(keyPathsAndObjects)).toJson()))));
        return std::nullopt;
    }
    return QStringLiteral("%1|%2").arg(className, QString::fromUtf8(*json));
}

HVXViewController *HVXWindows::presentViewControllerOfClass(const QString &className, const QVariantMap &keyPathsAndObjects,
                                                            bool createIfNeeded)
{
    if (HVXViewController *found = findViewControllerOfClass(className, keyPathsAndObjects)) {
        QWidget *window = found->window();
        window->show();
        window->raise();
        window->activateWindow();
        return found;
    }
    if (!createIfNeeded)
        return nullptr;
    const Factory factory = factories().value(className);
    HVXViewController *controller = factory ? factory() : nullptr;
    if (!controller) {
        HVXLogAssertion(QStringLiteral("Failed to create view controller of class %1").arg(className));
        return nullptr;
    }
    for (auto it = keyPathsAndObjects.cbegin(); it != keyPathsAndObjects.cend(); ++it)
        if (!HVXViewController::hvxIsUnset(it.value()))
            controller->hvxSetValueForKeyPath(it.key(), it.value());
    controller->hvxAllSet();
    HVXWindowController *window = HVXWindowController::presentViewController(controller);
    if (const auto identifier = windowIdentifier(className, keyPathsAndObjects))
        window->setWindowIdentifier(*identifier);
    return controller;
}

void HVXWindows::closeViewControllerOfClass(const QString &className, const QVariantMap &keyPathsAndObjects)
{
    if (HVXViewController *found = findViewControllerOfClass(className, keyPathsAndObjects))
        found->window()->close();
}
