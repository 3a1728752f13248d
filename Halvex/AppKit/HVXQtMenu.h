#pragma once
// Draws the model's menus (HVXMenu, menus as data) with QMenu, and the column on/off menu of an
// outline's header.

#include <QString>

class HVXMenu;
class QMenu;
class QTreeView;
class QWidget;

// Adds the items of the menu to the QMenu (submenus as submenus); each action runs the item's
// block. The QMenu keeps copies of the blocks, so the HVXMenu may go away.
void hvxAddMenuItems(QMenu *target, const HVXMenu &menu);
// A new QMenu (owned by the parent) with the menu's items.
QMenu *hvxQMenuFromMenu(const HVXMenu &menu, QWidget *parent);

// "Columns", then one checkable item per column but the first (the outline column), titled by
// the header's tool tip when it has one, else its title; choosing an item shows or hides it.
QMenu *hvxTableColumnToggleContextMenu(QTreeView *view, QWidget *parent);
