#include "TVLTagsSummaryDelegate.h"

#include "TVLTagsSummaryView.h"

#include "Tavlo/DataObjects/TVLChangeHub.h"
#include "Tavlo/DataObjects/TVLProjectMetadata.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QPainter>
#include <QPointer>

TVLTagsSummaryDelegate::TVLTagsSummaryDelegate(int tagSummaryRole, QAbstractItemView *view)
    : QStyledItemDelegate(view)
    , m_tagSummaryRole(tagSummaryRole)
{
    QPointer<QAbstractItemView> outline(view);
    const auto repaint = [outline] {
        if (outline)
            outline->viewport()->update();
    };
    const TVLChangeHub *hub = &TVLChangeHub::shared();
    connect(hub, &TVLChangeHub::tagsDidChange, this, repaint);
    connect(hub, &TVLChangeHub::projectMetadataDidChange, this, repaint);
}

TVLTagsSummaryDelegate::~TVLTagsSummaryDelegate() { disconnect(&TVLChangeHub::shared(), nullptr, this, nullptr); }

QRect TVLTagsSummaryDelegate::badgeRectInCell(const QRect &cell)
{
    const int size = TVLTagsSummaryView::badgeSize;
    return QRect(cell.x() + (cell.width() - size) / 2, cell.y() + (cell.height() - size) / 2, size, size);
}

void TVLTagsSummaryDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    // The cell's own background and selection first, without text.
    QStyleOptionViewItem cell = option;
    initStyleOption(&cell, index);
    cell.text.clear();
    const QWidget *widget = option.widget;
    QStyle *style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &cell, painter, widget);

    const quint16 summary = quint16(index.data(m_tagSummaryRole).toUInt());
    if (summary == 0)
        return;
    painter->save();
    painter->setClipRect(option.rect);
    TVLTagsSummaryView(summary).draw(*painter, badgeRectInCell(option.rect).topLeft(), option.palette);
    painter->restore();
}

QSize TVLTagsSummaryDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const QSize base = QStyledItemDelegate::sizeHint(option, index);
    const int size = TVLTagsSummaryView::badgeSize + 2;
    return QSize(std::max(base.width(), size + 6), std::max(base.height(), size));
}
