#include "HVXWindows.h"

#include "HVXRecentsManager.h"
#include "HVXViewController.h"
#include "HVXWindowController.h"
#include "HVXWindowRestoration.h"

#include "Halvex/Foundation/Categories/HVX_JSON.h"
#include "Halvex/Foundation/HVXLog.h"

#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

struct RegisteredClass
{
    HVXWindows::Factory factory;
    HVXWindows::AvailabilityCheck check;
};

QHash<QString, RegisteredClass> &registeredClasses()
{
    static QHash<QString, RegisteredClass> registered;
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

void HVXWindows::registerViewControllerClass(const QString &className, Factory factory, AvailabilityCheck check)
{
    registeredClasses().insert(className, {std::move(factory), std::move(check)});
}

bool HVXWindows::knowsViewControllerClass(const QString &className)
{
    return registeredClasses().contains(className);
}

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

namespace {

void bringToFront(HVXViewController *controller)
{
    QWidget *window = controller->window();
    window->show();
    window->raise();
    window->activateWindow();
}

HVXViewController *createViewController(const QString &className, const QVariantMap &keyPathsAndObjects,
                                        const HVXWindows::Preparation &prepare)
{
    const HVXWindows::Factory factory = registeredClasses().value(className).factory;
    HVXViewController *controller = factory ? factory() : nullptr;
    if (!controller) {
        HVXLogAssertion(QStringLiteral("Failed to create view controller of class %1").arg(className));
        return nullptr;
    }
    for (auto it = keyPathsAndObjects.cbegin(); it != keyPathsAndObjects.cend(); ++it)
        if (!HVXViewController::hvxIsUnset(it.value()))
            controller->hvxSetValueForKeyPath(it.key(), it.value());
    controller->hvxAllSet();
    const std::optional<QString> identifier = HVXWindows::windowIdentifier(className, keyPathsAndObjects);
    HVXWindowController *window = HVXWindowController::presentViewController(controller, [&](HVXWindowController *made) {
        if (identifier) {
            made->setWindowIdentifier(*identifier);
            made->setRestorable(controller->hvxAutoRestore());
        }
        if (prepare)
            prepare(made);
    });
    if (identifier) {
        const QString title = controller->hvxRecentsMenuTitle();
        if (!title.isEmpty())
            HVXRecentsManager::sharedInstance().addRecentWithTitle(title, *identifier);
    }
    HVXWindowRestoration::shared().windowDidOpen(window);
    return controller;
}

} // namespace

HVXViewController *HVXWindows::presentViewControllerOfClass(const QString &className, const QVariantMap &keyPathsAndObjects,
                                                            bool createIfNeeded)
{
    if (HVXViewController *found = findViewControllerOfClass(className, keyPathsAndObjects)) {
        bringToFront(found);
        return found;
    }
    if (!createIfNeeded)
        return nullptr;
    return createViewController(className, keyPathsAndObjects, {});
}

std::optional<HVXWindows::IdentifiedWindow> HVXWindows::parseWindowIdentifier(const QString &identifier, QString *reason)
{
    auto fail = [reason](const QString &why) {
        if (reason)
            *reason = why;
        return std::nullopt;
    };
    const qsizetype bar = identifier.indexOf(QLatin1Char('|'));
    if (bar < 0)
        return fail(QStringLiteral("no class name"));
    const QString className = identifier.left(bar);
    if (!knowsViewControllerClass(className))
        return fail(QStringLiteral("unknown class %1").arg(hvxLogValue(className)));
    const std::optional<QJsonValue> json = hvxJSONValue(identifier.mid(bar + 1));
    if (!json || !json->isObject())
        return fail(QStringLiteral("the property map is not a JSON object"));
    const QVariantMap map = json->toObject().toVariantMap();
    const std::optional<QString> written = windowIdentifier(className, map);
    if (!written)
        return fail(QStringLiteral("the property map cannot be written back"));
    return IdentifiedWindow{className, map, *written};
}

HVXWindows::OpenResult HVXWindows::openWindowWithIdentifier(const QString &identifier, const Preparation &prepare)
{
    QString reason;
    const std::optional<IdentifiedWindow> parsed = parseWindowIdentifier(identifier, &reason);
    if (!parsed)
        return {nullptr, OpenFailure::Unreadable, reason};
    for (HVXWindowController *window : windowControllers()) {
        // A closed window waits for its deletion; it is not brought back.
        if (window->windowIdentifier() == parsed->identifier && window->isVisible() && window->viewController()) {
            bringToFront(window->viewController());
            return {window->viewController(), OpenFailure::None, {}};
        }
    }
    if (const AvailabilityCheck check = registeredClasses().value(parsed->className).check) {
        const QString gone = check(parsed->keyPathsAndObjects);
        if (!gone.isEmpty())
            return {nullptr, OpenFailure::Gone, gone};
    }
    HVXViewController *controller = createViewController(parsed->className, parsed->keyPathsAndObjects, prepare);
    if (!controller)
        return {nullptr, OpenFailure::Unreadable, QStringLiteral("the view controller could not be made")};
    return {controller, OpenFailure::None, {}};
}

void HVXWindows::closeViewControllerOfClass(const QString &className, const QVariantMap &keyPathsAndObjects)
{
    if (HVXViewController *found = findViewControllerOfClass(className, keyPathsAndObjects))
        found->window()->close();
}
