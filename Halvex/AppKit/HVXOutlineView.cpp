#include "HVXOutlineView.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>

HVXOutlineView::HVXOutlineView(QWidget *parent)
    : QTreeView(parent)
{
    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QWidget::customContextMenuRequested, this, [this](const QPoint &position) {
        if (QMenu *menu = contextMenuForRowAt(position)) {
            menu->exec(viewport()->mapToGlobal(position));
            menu->deleteLater();
        }
    });
    header()->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(header(), &QWidget::customContextMenuRequested, this, [this](const QPoint &position) {
        if (QMenu *menu = contextMenuForHeader()) {
            menu->exec(header()->mapToGlobal(position));
            menu->deleteLater();
        }
    });
}

QMenu *HVXOutlineView::contextMenuForRowAt(const QPoint &position)
{
    setClickedIndex(indexAt(position));
    if (!m_rowMenuProvider || !m_clickedIndex.isValid())
        return nullptr;
    return m_rowMenuProvider(m_clickedIndex);
}

QMenu *HVXOutlineView::contextMenuForHeader()
{
    return m_headerMenuProvider ? m_headerMenuProvider() : nullptr;
}

QModelIndexList HVXOutlineView::visibleRowIndexes() const
{
    QModelIndexList rows;
    if (!model())
        return rows;
    std::function<void(const QModelIndex &)> walk = [&](const QModelIndex &parent) {
        const int count = model()->rowCount(parent);
        for (int row = 0; row < count; ++row) {
            const QModelIndex index = model()->index(row, 0, parent);
            rows << index;
            if (isExpanded(index))
                walk(index);
        }
    };
    walk(rootIndex());
    return rows;
}

void HVXOutlineView::mousePressEvent(QMouseEvent *event)
{
    setClickedIndex(indexAt(event->position().toPoint()));
    QTreeView::mousePressEvent(event);
}

void HVXOutlineView::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        event->ignore();
        return;
    }
    QTreeView::keyPressEvent(event);
}

void HVXOutlineView::drawRow(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    if (m_rowBackgroundPainter) {
        const QRect rowRect(0, option.rect.top(), viewport()->width(), option.rect.height());
        m_rowBackgroundPainter(painter, rowRect, index, selectionModel() && selectionModel()->isSelected(index));
    }
    QTreeView::drawRow(painter, option, index);
}
