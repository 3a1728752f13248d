#pragma once
// A context menu as data: items with a title, a check mark, an enabled flag and an action,
// separators and submenus. The model builds menus; the viewer draws them with QMenu.
// Separators are never added at the top of a menu or right after another separator.

#include <QString>
#include <functional>
#include <memory>
#include <vector>

class HVXMenu;

struct HVXMenuItem
{
    QString title;
    bool isSeparator = false;
    bool checked = false;
    bool enabled = true;
    std::function<void()> action;
    std::shared_ptr<HVXMenu> submenu;
};

class HVXMenu final
{
public:
    explicit HVXMenu(QString title = {}) : m_title(std::move(title)) {}

    const QString &title() const { return m_title; }
    const std::vector<HVXMenuItem> &items() const { return m_items; }
    bool isEmpty() const { return m_items.empty(); }

    HVXMenuItem &addItemWithTitle(const QString &title, std::function<void()> action, bool checked = false);
    void addSeparator();
    HVXMenu &addMenuWithTitle(const QString &title);
    void addMenu(std::shared_ptr<HVXMenu> menu, const QString &title);

    // The item with this title, looking into submenus too; nullptr when there is none.
    const HVXMenuItem *itemWithTitle(const QString &title) const;
    // Titles of the items, separators as "-": handy for tests and logs.
    QStringList titles() const;

private:
    QString m_title;
    std::vector<HVXMenuItem> m_items;
};
