#pragma once
// Draws an item's markup text (the role given, Qt::DisplayRole by default) as styled text on
// one line, cut with an ellipsis; the item's foreground colour and font are the defaults for
// text without colour or font of its own. Parsed titles are cached by their markup.

#include <QCache>
#include <QStyledItemDelegate>

#include "HVXAttributedString.h"

class HVXAttributedTextDelegate final : public QStyledItemDelegate
{
    Q_OBJECT
public:
    explicit HVXAttributedTextDelegate(int markupRole = Qt::DisplayRole, QObject *parent = nullptr);

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    // Drops cached titles (the palette changed, so "NSColor:" colours did too).

private:
    const HVXAttributedString &styled(const QString &markup) const;

    int m_markupRole;
    mutable QCache<QString, HVXAttributedString> m_cache;
};
