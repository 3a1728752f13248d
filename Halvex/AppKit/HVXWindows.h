#pragma once
// Find or create windows by view-controller class name and property map. A window that shows a
// controller of the class (or a subclass) whose properties equal the map's values (a null value
// matches a controller without value) is brought to the front; otherwise a controller is made,
// given the values, told hvxAllSet(), and presented in a new window whose identifier is
// "<class>|<compact JSON of the map>".
// A window identifier read back (restoration, the recents menu) is a stricter request: only a
// window with exactly that identifier is brought forward, so a default window never stands in
// for another one, and a map whose object has gone opens nothing.

#include <QList>
#include <QString>
#include <QVariantMap>
#include <functional>
#include <optional>

class HVXViewController;
class HVXWindowController;

namespace HVXWindows {
using Factory = std::function<HVXViewController *()>;
// Why a map read back from an identifier cannot be shown any more (its file is gone); empty when it can.
using AvailabilityCheck = std::function<QString(const QVariantMap &keyPathsAndObjects)>;
// Called on a new window before it is shown.
using Preparation = std::function<void(HVXWindowController *window)>;

void registerViewControllerClass(const QString &className, Factory factory, AvailabilityCheck check = {});
bool knowsViewControllerClass(const QString &className);

HVXViewController *presentViewControllerOfClass(const QString &className, const QVariantMap &keyPathsAndObjects = {},
                                                bool createIfNeeded = true);
// Closes the first window that presenting would have found; nothing when none matches.
void closeViewControllerOfClass(const QString &className, const QVariantMap &keyPathsAndObjects);
// The first open controller of the class that matches; nullptr when none.
HVXViewController *findViewControllerOfClass(const QString &className, const QVariantMap &keyPathsAndObjects);

// "<class>|<compact JSON>"; nothing (after an error line) when the map cannot be written as JSON.
std::optional<QString> windowIdentifier(const QString &className, const QVariantMap &keyPathsAndObjects);

struct IdentifiedWindow
{
    QString className;
    QVariantMap keyPathsAndObjects;
    QString identifier;  // as this program writes it
};
// The class and map of a window identifier; nothing, with the reason, when it has no bar, names
// an unknown class or its JSON is not an object.
std::optional<IdentifiedWindow> parseWindowIdentifier(const QString &identifier, QString *reason = nullptr);

enum class OpenFailure { None, Unreadable, Gone };
struct OpenResult
{
    HVXViewController *controller = nullptr;
    OpenFailure failure = OpenFailure::None;
    QString reason;
};
// Brings forward the window with exactly this identifier, else creates one (preparing it before
// it is shown). Nothing opens for an unreadable identifier or one whose object is gone.
OpenResult openWindowWithIdentifier(const QString &identifier, const Preparation &prepare = {});

// The open windows, oldest first.
QList<HVXWindowController *> windowControllers();
} // namespace HVXWindows
