#include "HVXAttributedTextDelegate.h"

#include "HVXAttributedString.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>

HVXAttributedTextDelegate::HVXAttributedTextDelegate(int markupRole, QObject *parent)
    : QStyledItemDelegate(parent)
    , m_markupRole(markupRole)
    , m_cache(4000)
{
}

const HVXAttributedString &HVXAttributedTextDelegate::styled(const QString &markup) const
{
    if (HVXAttributedString *cached = m_cache.object(markup))
        return *cached;
    auto *parsed = new HVXAttributedString(hvxAttributedString(markup));
    m_cache.insert(markup, parsed);
    return *parsed;
}

void HVXAttributedTextDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QString markup = index.data(m_markupRole).toString();
    // The style draws the panel, selection, focus and icon; the text is ours.
    opt.text.clear();
    const QWidget *widget = option.widget;
    QStyle *style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);

    const QRect textRect = style->subElementRect(QStyle::SE_ItemViewItemText, &opt, widget).adjusted(2, 0, -2, 0);
    const bool selected = opt.state & QStyle::State_Selected;
    QColor color = opt.palette.color(QPalette::Text);
    const QVariant foreground = index.data(Qt::ForegroundRole);
    if (foreground.canConvert<QBrush>() && foreground.isValid())
        color = foreground.value<QBrush>().color();
    if (selected)
        color = opt.palette.color(QPalette::HighlightedText);
    styled(markup).draw(painter, textRect, opt.font, color);
}

QSize HVXAttributedTextDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    const HVXAttributedString &text = styled(index.data(m_markupRole).toString());
    size.setWidth(int(text.width(opt.font)) + opt.decorationSize.width() + 12);
    return size;
}
