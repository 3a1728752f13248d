#pragma once
// Paints the tags badge (TVLTagsSummaryView) of the outline's tags column, centred in the cell,
// from the summary the model gives in a role. The outline repaints its rows when the palette
// changes (names and colours) and when any metadata store changes (summaries are computed
// again on the next paint, also for stores another window edited).

#include <QStyledItemDelegate>

class QAbstractItemView;

class TVLTagsSummaryDelegate final : public QStyledItemDelegate
{
    Q_OBJECT
public:
    TVLTagsSummaryDelegate(int tagSummaryRole, QAbstractItemView *view);
    ~TVLTagsSummaryDelegate() override;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    // Where the badge of a cell goes.
    static QRect badgeRectInCell(const QRect &cell);

private:
    int m_tagSummaryRole;
};
