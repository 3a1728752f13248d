#include "HVXMenu.h"

#include <QStringList>

HVXMenuItem &HVXMenu::addItemWithTitle(const QString &title, std::function<void()> action, bool checked)
{
    HVXMenuItem item;
    item.title = title;
    item.action = std::move(action);
    item.checked = checked;
    m_items.push_back(std::move(item));
    return m_items.back();
}

void HVXMenu::addSeparator()
{
    if (m_items.empty() || m_items.back().isSeparator)
        return;
    HVXMenuItem item;
    item.isSeparator = true;
    m_items.push_back(std::move(item));
}

HVXMenu &HVXMenu::addMenuWithTitle(const QString &title)
{
    auto menu = std::make_shared<HVXMenu>(title);
    addMenu(menu, title);
    return *menu;
}

void HVXMenu::addMenu(std::shared_ptr<HVXMenu> menu, const QString &title)
{
    if (!menu)
        return;
    HVXMenuItem item;
    item.title = title;
    item.submenu = std::move(menu);
    m_items.push_back(std::move(item));
}

const HVXMenuItem *HVXMenu::itemWithTitle(const QString &title) const
{
    for (const HVXMenuItem &item : m_items) {
        if (!item.isSeparator && item.title == title)
            return &item;
        if (item.submenu)
            if (const HVXMenuItem *found = item.submenu->itemWithTitle(title))
                return found;
    }
    return nullptr;
}

QStringList HVXMenu::titles() const
{
    QStringList result;
    for (const HVXMenuItem &item : m_items)
        result << (item.isSeparator ? QStringLiteral("-") : item.title);
    return result;
}
