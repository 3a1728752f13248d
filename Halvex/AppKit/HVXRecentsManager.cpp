#include "HVXRecentsManager.h"

#include "HVXViewController.h"
#include "HVXWindowController.h"
#include "HVXWindows.h"

#include "Halvex/Foundation/HVXDefaults.h"
#include "Halvex/Foundation/HVXLog.h"

#include <QAction>
#include <QApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>

namespace {
const QString kTitle = QStringLiteral("title");
const QString kIdentifier = QStringLiteral("identifier");
// One level of indentation under a section heading.
const QString kIndent = QStringLiteral("    ");

QString menuText(const QString &title)
{
    QString text = title;
    return kIndent + text.replace(QLatin1Char('&'), QLatin1String("&&"));
}

bool askToRemoveGoneEntry(const QString &title, const QString &reason)
{
    const QMessageBox::StandardButton answer = QMessageBox::question(
        QApplication::activeWindow(), QCoreApplication::applicationName(),
        QStringLiteral("“%1” can't be opened: %2.\n\nRemove it from the list?").arg(title, reason),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
    return answer == QMessageBox::Yes;
}
} // namespace

HVXRecentsManager &HVXRecentsManager::sharedInstance()
{
    static HVXRecentsManager *instance = new HVXRecentsManager;
    return *instance;
}

// MARK: - Lists

std::optional<HVXRecentsManager::Entry> HVXRecentsManager::entryFromOldForm(const QString &text)
{
    // The title ends at the bar after which a readable window identifier starts, so a title
    // with bars of its own is read whole.
    for (qsizetype bar = text.indexOf(QLatin1Char('|')); bar >= 0; bar = text.indexOf(QLatin1Char('|'), bar + 1)) {
        if (const auto parsed = HVXWindows::parseWindowIdentifier(text.mid(bar + 1)))
            return Entry{text.left(bar), parsed->identifier};
    }
    return std::nullopt;
}

QList<HVXRecentsManager::Entry> HVXRecentsManager::readList(const QString &key)
{
    QList<Entry> entries;
    for (const QVariant &value : HVXDefaults::standard().listForKey(key)) {
        std::optional<Entry> entry;
        const QString text = value.toString();
        const QJsonObject fields = text.startsWith(QLatin1Char('{')) ? QJsonDocument::fromJson(text.toUtf8()).object() : QJsonObject();
        if (!fields.isEmpty())
            entry = Entry{fields.value(kTitle).toString(), fields.value(kIdentifier).toString()};
        else
            entry = entryFromOldForm(text);
        if (!entry || entry->title.isEmpty() || entry->identifier.isEmpty()) {
            HVXLogError(QStringLiteral("Failed to parse recents entry: '%1'").arg(hvxLogValue(value.toString())));
            continue;
        }
        const bool seen = std::any_of(entries.cbegin(), entries.cend(),
                                      [&](const Entry &e) { return e.identifier == entry->identifier; });
        if (!seen)
            entries << *entry;
    }
    return entries;
}

void HVXRecentsManager::writeList(const QString &key, const QList<Entry> &entries)
{
    // Compact JSON text per entry keeps the settings file readable.
    QStringList values;
    for (const Entry &entry : entries)
        values << QString::fromUtf8(QJsonDocument(QJsonObject{{kTitle, entry.title}, {kIdentifier, entry.identifier}})
                                        .toJson(QJsonDocument::Compact));
    HVXDefaults::standard().setValue(key, values);
}

bool HVXRecentsManager::validate(const QString &title, const QString &identifier, const char *operation)
{
    if (title.isEmpty()) {
        HVXLogWarningAndBeep(QStringLiteral("Valid title required for %1").arg(QLatin1String(operation)));
        return false;
    }
    if (identifier.isEmpty()) {
        HVXLogWarningAndBeep(QStringLiteral("Valid identifier required for %1").arg(QLatin1String(operation)));
        return false;
    }
    return true;
}

void HVXRecentsManager::putOnTop(const QString &key, const Entry &entry, qsizetype limit)
{
    QList<Entry> entries = readList(key);
    entries.removeIf([&](const Entry &e) { return e.identifier == entry.identifier; });
    entries.prepend(entry);
    if (limit > 0 && entries.size() > limit)
        entries.resize(limit);
    writeList(key, entries);
}

void HVXRecentsManager::addRecentWithTitle(const QString &title, const QString &identifier)
{
    if (validate(title, identifier, "addRecentWithTitle"))
        putOnTop(recentsKey, {title, identifier}, maximumRecents);
}

void HVXRecentsManager::addFavoriteWithTitle(const QString &title, const QString &identifier)
{
    if (validate(title, identifier, "addFavoriteWithTitle"))
        putOnTop(favoritesKey, {title, identifier}, 0);
}

void HVXRecentsManager::removeFavoriteWithIdentifier(const QString &identifier)
{
    QList<Entry> entries = readList(favoritesKey);
    if (entries.removeIf([&](const Entry &e) { return e.identifier == identifier; }) > 0)
        writeList(favoritesKey, entries);
}

bool HVXRecentsManager::isFavorite(const QString &identifier) const
{
    const QList<Entry> entries = favorites();
    return std::any_of(entries.cbegin(), entries.cend(), [&](const Entry &e) { return e.identifier == identifier; });
}

void HVXRecentsManager::updateTitle(const QString &identifier, const QString &title)
{
    if (title.isEmpty())
        return;
    for (const QString &key : {recentsKey, favoritesKey}) {
        QList<Entry> entries = readList(key);
        bool changed = false;
        for (Entry &entry : entries) {
            if (entry.identifier == identifier && entry.title != title) {
                entry.title = title;
                changed = true;
            }
        }
        if (changed)
            writeList(key, entries);
    }
}

void HVXRecentsManager::removeIdentifier(const QString &identifier)
{
    for (const QString &key : {recentsKey, favoritesKey}) {
        QList<Entry> entries = readList(key);
        if (entries.removeIf([&](const Entry &e) { return e.identifier == identifier; }) > 0)
            writeList(key, entries);
    }
}

void HVXRecentsManager::clearRecents() { HVXDefaults::standard().remove(recentsKey); }

void HVXRecentsManager::clearFavorites() { HVXDefaults::standard().remove(favoritesKey); }

// MARK: - Opening

HVXViewController *HVXRecentsManager::openUsingIdentifier(const QString &identifier)
{
    const HVXWindows::OpenResult result = HVXWindows::openWindowWithIdentifier(identifier);
    switch (result.failure) {
    case HVXWindows::OpenFailure::None:
        return result.controller;
    case HVXWindows::OpenFailure::Unreadable:
        HVXLogError(QStringLiteral("Can't open recents entry %1: %2").arg(hvxLogValue(identifier), result.reason));
        return nullptr;
    case HVXWindows::OpenFailure::Gone:
        break;
    }
    HVXLogWarning(QStringLiteral("Can't open recents entry %1: %2").arg(hvxLogValue(identifier), result.reason));
    QString title = identifier;
    for (const QList<Entry> &list : {recents(), favorites()})
        for (const Entry &entry : list)
            if (entry.identifier == identifier)
                title = entry.title;
    const GoneEntryPrompt &prompt = m_goneEntryPrompt ? m_goneEntryPrompt : GoneEntryPrompt(askToRemoveGoneEntry);
    if (prompt(title, result.reason))
        removeIdentifier(identifier);
    return nullptr;
}

// MARK: - Menu

void HVXRecentsManager::attachMenu(QMenu *menu, bool supportFavorites)
{
    QPointer<QMenu> target(menu);
    HVXDefaults::standard().subscribe({recentsKey, favoritesKey}, menu, [this, target, supportFavorites] {
        if (target)
            fillMenu(target, supportFavorites);
    }, true);
}

void HVXRecentsManager::fillMenu(QMenu *menu, bool supportFavorites)
{
    menu->clear();
    addSection(menu, QStringLiteral("Recents"), recentsKey, Qt::ControlModifier);
    if (supportFavorites) {
        menu->addSeparator();
        addSection(menu, QStringLiteral("Favorites"), favoritesKey, Qt::ControlModifier | Qt::ShiftModifier);
    }
}

void HVXRecentsManager::addSection(QMenu *menu, const QString &name, const QString &key,
                                   Qt::KeyboardModifiers modifiers)
{
    menu->addAction(name)->setEnabled(false);
    const QList<Entry> entries = readList(key);
    for (qsizetype i = 0; i < entries.size(); ++i) {
        QAction *item = menu->addAction(menuText(entries[i].title));
        item->setData(entries[i].identifier);
        if (i < 9)
            item->setShortcut(QKeySequence(QKeyCombination(modifiers, Qt::Key(Qt::Key_1 + i))));
        const QString identifier = entries[i].identifier;
        // Queued: opening may rebuild this very menu while its action is still being triggered.
        connect(item, &QAction::triggered, this, [this, identifier] { openUsingIdentifier(identifier); }, Qt::QueuedConnection);
    }
    menu->addSeparator();
    QAction *clear = menu->addAction(kIndent + QStringLiteral("Clear %1").arg(name));
    // An entry that can't be read still counts: clearing is the way to be rid of it.
    clear->setEnabled(!HVXDefaults::standard().listForKey(key).isEmpty());
    connect(clear, &QAction::triggered, this, [key] { HVXDefaults::standard().remove(key); }, Qt::QueuedConnection);
}

QAction *HVXRecentsManager::addToFavoritesAction(HVXWindowController *window, QObject *parent)
{
    auto *action = new QAction(QStringLiteral("Add to Favorites"), parent);
    action->setCheckable(true);
    action->setShortcut(QKeySequence(Qt::ControlModifier | Qt::Key_D));
    QPointer<HVXWindowController> target(window);
    auto refresh = [action, target] {
        action->setEnabled(target && !target->windowIdentifier().isEmpty());
        action->setChecked(target && target->hvxIsFavorite());
    };
    HVXDefaults::standard().subscribe({favoritesKey}, action, refresh, true);
    if (window)
        connect(window, &HVXWindowController::hvxIdentifierChanged, action, refresh);
    connect(action, &QAction::triggered, action, [target](bool checked) {
        if (target)
            target->setHvxIsFavorite(checked);
    });
    return action;
}
