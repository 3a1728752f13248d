#pragma once
// The outline view of the toolkit: a tree view whose row and header context menus are asked of
// its owner, that remembers the row of the last click (the "clicked row"), that lets its owner
// paint behind a row, and that hands Escape on to its parent.

#include <QModelIndex>
#include <QTreeView>
#include <functional>

class QMenu;

class HVXOutlineView : public QTreeView
{
    Q_OBJECT
public:
    using RowMenuProvider = std::function<QMenu *(const QModelIndex &clickedIndex)>;
    using HeaderMenuProvider = std::function<QMenu *()>;
    // Paints behind the cells of a row; `selected` tells whether the row is selected.
    using RowBackgroundPainter = std::function<void(QPainter *, const QRect &rowRect, const QModelIndex &, bool selected)>;

    explicit HVXOutlineView(QWidget *parent = nullptr);

    void setRowMenuProvider(RowMenuProvider provider) { m_rowMenuProvider = std::move(provider); }
    void setHeaderMenuProvider(HeaderMenuProvider provider) { m_headerMenuProvider = std::move(provider); }
    void setRowBackgroundPainter(RowBackgroundPainter painter) { m_rowBackgroundPainter = std::move(painter); }

    // The row (column 0) of the last mouse press or context-menu request; invalid when none.
    QModelIndex clickedIndex() const { return m_clickedIndex; }
    void setClickedIndex(const QModelIndex &index) { m_clickedIndex = index.siblingAtColumn(0); }

    // Every row currently laid out, top to bottom (expanded parents open their children).
    QModelIndexList visibleRowIndexes() const;

    // The menus for a click at the point (viewport coordinates) and for the header; null for none.
    QMenu *contextMenuForRowAt(const QPoint &position);
    QMenu *contextMenuForHeader();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void drawRow(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;

private:
    RowMenuProvider m_rowMenuProvider;
    HeaderMenuProvider m_headerMenuProvider;
    RowBackgroundPainter m_rowBackgroundPainter;
    QPersistentModelIndex m_clickedIndex;
};
