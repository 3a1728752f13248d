#pragma once
// Find or create windows by view-controller class name and property map. A window that shows a
// controller of the class (or a subclass) whose properties equal the map's values (a null value
// matches a controller without value) is brought to the front; otherwise a controller is made,
// given the values, told hvxAllSet(), and presented in a new window whose identifier is
// "<class>|<compact JSON of the map>".

#include <QList>
#include <QString>
#include <QVariantMap>
#include <functional>
#include <optional>

class HVXViewController;
class HVXWindowController;

namespace HVXWindows {
using Factory = std::function<HVXViewController *()>;

void registerViewControllerClass(const QString &className, Factory factory);
bool knowsViewControllerClass(const QString &className);

HVXViewController *presentViewControllerOfClass(const QString &className, const QVariantMap &keyPathsAndObjects = {},
                                                bool createIfNeeded = true);
// Closes the first window that presenting would have found; nothing when none matches.
void closeViewControllerOfClass(const QString &className, const QVariantMap &keyPathsAndObjects);
// The first open controller of the class that matches; nullptr when none.
HVXViewController *findViewControllerOfClass(const QString &className, const QVariantMap &keyPathsAndObjects);

// "<class>|<compact JSON>"; nothing (after an error line) when the map cannot be written as JSON.
std::optional<QString> windowIdentifier(const QString &className, const QVariantMap &keyPathsAndObjects);

// The open windows, oldest first.
QList<HVXWindowController *> windowControllers();
} // namespace HVXWindows
