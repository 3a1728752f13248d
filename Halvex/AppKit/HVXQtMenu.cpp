#include "HVXQtMenu.h"

#include "Halvex/Foundation/HVXMenu.h"

#include <QAbstractItemModel>
#include <QHeaderView>
#include <QMenu>
#include <QTreeView>

void hvxAddMenuItems(QMenu *target, const HVXMenu &menu)
{
    for (const HVXMenuItem &item : menu.items()) {
        if (item.isSeparator) {
            target->addSeparator();
            continue;
        }
        if (item.submenu) {
            QMenu *submenu = target->addMenu(item.title);
            hvxAddMenuItems(submenu, *item.submenu);
            submenu->setEnabled(item.enabled);
            continue;
        }
        QAction *action = target->addAction(item.title);
        action->setEnabled(item.enabled);
        if (item.checked) {
            action->setCheckable(true);
            action->setChecked(true);
        }
        if (item.action)
            QObject::connect(action, &QAction::triggered, action, [block = item.action] { block(); });
    }
}

QMenu *hvxQMenuFromMenu(const HVXMenu &menu, QWidget *parent)
{
    auto *result = new QMenu(menu.title(), parent);
    hvxAddMenuItems(result, menu);
    return result;
}

QMenu *hvxTableColumnToggleContextMenu(QTreeView *view, QWidget *parent)
{
    auto *menu = new QMenu(parent);
    menu->addAction(QObject::tr("Columns"))->setEnabled(false);
    QAbstractItemModel *model = view->model();
    if (!model)
        return menu;
    for (int column = 1; column < model->columnCount(); ++column) {
        const QString toolTip = model->headerData(column, Qt::Horizontal, Qt::ToolTipRole).toString();
        const QString title = toolTip.isEmpty() ? model->headerData(column, Qt::Horizontal).toString() : toolTip;
        // Indented one level under the heading.
        QAction *action = menu->addAction(QStringLiteral("    ") + title);
        action->setCheckable(true);
        action->setChecked(!view->isColumnHidden(column));
        QObject::connect(action, &QAction::triggered, view,
                         [view, column](bool checked) { view->setColumnHidden(column, !checked); });
    }
    return menu;
}
