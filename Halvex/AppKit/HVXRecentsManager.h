#pragma once
// The windows opened recently and the ones marked as favorite, kept in the settings "HVXRecents"
// and "HVXFavorites" as lists of {title, identifier}, most recent first. An identifier is a
// window identifier ("<class>|<compact JSON>"); it names the entry: adding an entry again moves
// it to the top, a new title replaces the old one in place, and the favorite mark belongs to the
// identifier. At most twenty recents are kept; favorites stay until removed. Lists written as
// "<title>|<identifier>" strings are still read (a title may hold bars).
//
// The Open Recent menu lists both, rebuilt whenever a list changes: a "Recents" and a "Favorites"
// heading, their entries indented under them, Ctrl+1…9 on the first nine recents and
// Ctrl+Shift+1…9 on the first nine favorites, and "Clear Recents"/"Clear Favorites", disabled
// while their list is empty. Choosing an entry finds or creates its window; an entry whose object
// has gone says so and offers to remove it.
//
// Every write goes through this one object (and one process holds the settings at a time).

#include <QList>
#include <QObject>
#include <QString>
#include <functional>
#include <optional>

class HVXViewController;
class HVXWindowController;
class QAction;
class QMenu;

class HVXRecentsManager final : public QObject
{
    Q_OBJECT
public:
    static inline const QString recentsKey = QStringLiteral("HVXRecents");
    static inline const QString favoritesKey = QStringLiteral("HVXFavorites");
    static constexpr int maximumRecents = 20;

    struct Entry
    {
        QString title;
        QString identifier;
        bool operator==(const Entry &) const = default;
    };

    static HVXRecentsManager &sharedInstance();

    QList<Entry> recents() const { return readList(recentsKey); }
    QList<Entry> favorites() const { return readList(favoritesKey); }
    // The stored list of the key, one entry per identifier, whichever form it was written in;
    // entries that cannot be read are logged and left out.
    static QList<Entry> readList(const QString &key);
    // Reads one entry of the old form "<title>|<class>|<JSON>".
    static std::optional<Entry> entryFromOldForm(const QString &text);

    void addRecentWithTitle(const QString &title, const QString &identifier);
    void addFavoriteWithTitle(const QString &title, const QString &identifier);
    void removeFavoriteWithIdentifier(const QString &identifier);
    bool isFavorite(const QString &identifier) const;
    // The entries of the identifier in both lists take the title, where they stand.
    void updateTitle(const QString &identifier, const QString &title);
    void clearRecents();
    void clearFavorites();

    // Fills the menu now and again on every change of the lists, until the menu is destroyed.
    void attachMenu(QMenu *menu, bool supportFavorites = true);
    void fillMenu(QMenu *menu, bool supportFavorites);
    // A checkable "Add to Favorites" (Ctrl+D) for the window's object, checked while it is a favorite.
    QAction *addToFavoritesAction(HVXWindowController *window, QObject *parent);

    // Brings forward or opens the window of the identifier; nullptr when it cannot be opened.
    HVXViewController *openUsingIdentifier(const QString &identifier);
    // Asked when an entry's object has gone: true removes the entry from both lists. The default
    // asks the user in a message box.
    using GoneEntryPrompt = std::function<bool(const QString &title, const QString &reason)>;
    void setGoneEntryPrompt(GoneEntryPrompt prompt) { m_goneEntryPrompt = std::move(prompt); }

private:
    using QObject::QObject;
    static bool validate(const QString &title, const QString &identifier, const char *operation);
    void writeList(const QString &key, const QList<Entry> &entries);
    void putOnTop(const QString &key, const Entry &entry, qsizetype limit);
    void removeIdentifier(const QString &identifier);
    void addSection(QMenu *menu, const QString &name, const QString &key, Qt::KeyboardModifiers modifiers);

    GoneEntryPrompt m_goneEntryPrompt;
};
