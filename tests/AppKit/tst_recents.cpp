// The recents and favorites lists: one entry per window identifier, titles with bars, the
// twenty-entry limit, lists written the old way, the Open Recent menu and entries whose object
// has gone.

#include "Halvex/AppKit/HVXRecentsManager.h"
#include "Halvex/AppKit/HVXViewController.h"
#include "Halvex/AppKit/HVXWindowController.h"
#include "Halvex/AppKit/HVXWindows.h"
#include "Halvex/Foundation/HVXDefaults.h"
#include "LogCapture.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QTemporaryDir>
#include <QtTest>

namespace {
class Document final : public HVXViewController
{
    Q_OBJECT
    Q_PROPERTY(QString path MEMBER m_path)
public:
    QString m_path;
    QString hvxWindowTitle() const override { return m_path; }
};

const QString kClass = QStringLiteral("Document");
QString id(const QString &path) { return *HVXWindows::windowIdentifier(kClass, {{QStringLiteral("path"), path}}); }

using Entries = QList<HVXRecentsManager::Entry>;
QStringList titles(const Entries &entries)
{
    QStringList result;
    for (const auto &entry : entries)
        result << entry.title;
    return result;
}

QStringList menuTexts(const QMenu &menu)
{
    QStringList result;
    for (QAction *action : menu.actions())
        result << (action->isSeparator() ? QStringLiteral("-") : action->text().trimmed());
    return result;
}
} // namespace

class TestRecents : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    HVXRecentsManager &recents = HVXRecentsManager::sharedInstance();

private Q_SLOTS:
    void initTestCase()
    {
        HVXDefaults::useStoreAtPath(m_dir.filePath("settings.ini"));
        HVXWindows::registerViewControllerClass(kClass, [] { return new Document; }, [](const QVariantMap &values) {
            const QString path = values.value("path").toString();
            return path.startsWith("/gone") ? QStringLiteral("%1 no longer exists").arg(path) : QString();
        });
    }

    void init()
    {
        recents.clearRecents();
        recents.clearFavorites();
    }

    void listRules()
    {
        recents.addRecentWithTitle("a", id("/a"));
        recents.addRecentWithTitle("b", id("/b"));
        recents.addRecentWithTitle("a again", id("/a"));
        QCOMPARE(titles(recents.recents()), QStringList({"a again", "b"}));

        // A renamed window keeps its place and its favorite mark; a bar in a title is kept.
        recents.addFavoriteWithTitle("b", id("/b"));
        recents.updateTitle(id("/b"), "ls | wc -l");
        QCOMPARE(titles(recents.recents()), QStringList({"a again", "ls | wc -l"}));
        QCOMPARE(recents.favorites(), Entries({{"ls | wc -l", id("/b")}}));
        QVERIFY(recents.isFavorite(id("/b")) && !recents.isFavorite(id("/a")));
        recents.removeFavoriteWithIdentifier(id("/b"));
        QVERIFY(recents.favorites().isEmpty());

        {
            LogCapture log;
            recents.addRecentWithTitle("", id("/c"));
            recents.addFavoriteWithTitle("c", "");
            QCOMPARE(log.count("WARNING: Beep: Valid title required for addRecentWithTitle"), 1);
            QCOMPARE(log.count("WARNING: Beep: Valid identifier required for addFavoriteWithTitle"), 1);
        }

        for (int i = 0; i < 25; ++i)
            recents.addRecentWithTitle(QString::number(i), id(QStringLiteral("/n%1").arg(i)));
        QCOMPARE(recents.recents().size(), HVXRecentsManager::maximumRecents);
        QCOMPARE(recents.recents().first().title, QStringLiteral("24"));

        // The old form: titles end where a readable identifier starts; duplicates and
        // unreadable entries are left out, the latter with a log line.
        HVXDefaults::standard().setValue(HVXRecentsManager::recentsKey,
                                         QStringList{"cat x | grep y|" + id("/x"), "garbage", "t|" + id("/y"),
                                                     "older|" + id("/x")});
        LogCapture log;
        QCOMPARE(recents.recents(), Entries({{"cat x | grep y", id("/x")}, {"t", id("/y")}}));
        QCOMPARE(log.count("ERROR: Failed to parse recents entry: 'garbage'"), 1);
        recents.addRecentWithTitle("z", id("/z"));
        QCOMPARE(titles(recents.recents()), QStringList({"z", "cat x | grep y", "t"}));
    }

    void menuFollowsTheLists()
    {
        QMenu menu;
        recents.attachMenu(&menu);
        QCOMPARE(menuTexts(menu), QStringList({"Recents", "-", "Clear Recents", "-", "Favorites", "-", "Clear Favorites"}));
        QVERIFY(!menu.actions()[2]->isEnabled() && !menu.actions().last()->isEnabled());

        for (int i = 12; i > 0; --i)
            recents.addRecentWithTitle(QStringLiteral("R%1 & co").arg(i), id(QStringLiteral("/r%1").arg(i)));
        recents.addFavoriteWithTitle("F", id("/f"));
        const QList<QAction *> actions = menu.actions();
        QCOMPARE(actions.size(), 1 + 12 + 2 + 1 + 1 + 1 + 2);
        QCOMPARE(actions[1]->text(), QStringLiteral("    R1 && co"));
        QCOMPARE(actions[1]->shortcut(), QKeySequence("Ctrl+1"));
        QCOMPARE(actions[9]->shortcut(), QKeySequence("Ctrl+9"));
        QVERIFY(actions[10]->shortcut().isEmpty());
        QVERIFY(actions[14]->isEnabled());
        QCOMPARE(actions[17]->text().trimmed(), QStringLiteral("F"));
        QCOMPARE(actions[17]->shortcut(), QKeySequence("Ctrl+Shift+1"));

        // An unreadable entry shows nothing but can still be cleared.
        HVXDefaults::standard().setValue(HVXRecentsManager::favoritesKey, QStringList{"no bar"});
        QCOMPARE(menu.actions().size(), 1 + 12 + 2 + 1 + 1 + 2);
        QAction *clearFavorites = menu.actions().last();
        QVERIFY(clearFavorites->isEnabled());
        clearFavorites->trigger();
        QTRY_VERIFY(HVXDefaults::standard().listForKey(HVXRecentsManager::favoritesKey).isEmpty());
        QTRY_VERIFY(!menu.actions().last()->isEnabled());
    }

    void choosingAnEntry()
    {
        HVXViewController *opened = recents.openUsingIdentifier(id("/a"));
        QVERIFY(opened);
        QCOMPARE(opened->property("path").toString(), QStringLiteral("/a"));
        QCOMPARE(recents.openUsingIdentifier(id("/a")), opened);
        // A map's values are only the controller's own properties.
        {
            LogCapture log;
            HVXViewController *styled = recents.openUsingIdentifier(kClass + "|{\"path\":\"/s\",\"styleSheet\":\"*{color:red}\"}");
            QVERIFY(styled && styled != opened);
            QVERIFY(styled->styleSheet().isEmpty());
            QCOMPARE(log.count("WARNING: Document has no property styleSheet"), 1);
            QVERIFY(!recents.openUsingIdentifier(kClass + "|[1]"));
            QCOMPARE(log.count("ERROR: Can't open recents entry"), 1);
        }

        // An entry whose object has gone offers to remove it, from both lists.
        recents.addRecentWithTitle("gone", id("/gone"));
        recents.addFavoriteWithTitle("gone", id("/gone"));
        QStringList asked;
        recents.setGoneEntryPrompt([&](const QString &title, const QString &reason) {
            asked << title + ": " + reason;
            return asked.size() > 1;
        });
        const qsizetype windows = HVXWindows::windowControllers().size();
        QVERIFY(!recents.openUsingIdentifier(id("/gone")));
        QVERIFY(recents.isFavorite(id("/gone")));
        QVERIFY(!recents.openUsingIdentifier(id("/gone")));
        QCOMPARE(asked, QStringList({"gone: /gone no longer exists", "gone: /gone no longer exists"}));
        QVERIFY(!recents.isFavorite(id("/gone")) && recents.recents().isEmpty());
        QCOMPARE(HVXWindows::windowControllers().size(), windows);

        // Add to Favorites follows the window's list membership.
        HVXWindowController *window = HVXWindows::windowControllers().first();
        QAction *favorite = recents.addToFavoritesAction(window, window);
        QVERIFY(favorite->isCheckable() && !favorite->isChecked());
        QCOMPARE(favorite->shortcut(), QKeySequence("Ctrl+D"));
        favorite->trigger();
        QVERIFY(window->hvxIsFavorite());
        QCOMPARE(recents.favorites().first().identifier, window->windowIdentifier());
        recents.clearFavorites();
        QVERIFY(!favorite->isChecked());
    }
};

QTEST_MAIN(TestRecents)
#include "tst_recents.moc"
