#include "TVLTagFilterView.h"

#include "TVLSettingsViewController.h"

#include "Halvex/AppKit/HVXColorNames.h"
#include "Tavlo/DataObjects/TVLChangeHub.h"
#include "Tavlo/DataObjects/TVLAnnotation.h"
#include "Tavlo/DataObjects/TVLTag.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

namespace {
HVXColor colorFromQColor(const QColor &color)
{
    return HVXColor::fromRgb(color.redF(), color.greenF(), color.blueF(), color.alphaF());
}
} // namespace

TVLTagFilterView::TVLTagFilterView(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("TVLTagFilterView"));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setToolTip(tr("Click a tag to mark or filter by it; Ctrl+click selects all tags or none"));
    connect(&TVLChangeHub::shared(), &TVLChangeHub::tagsDidChange, this, &TVLTagFilterView::tagsDidChange);
}

TVLTagFilterView::~TVLTagFilterView() { disconnect(&TVLChangeHub::shared(), nullptr, this, nullptr); }

void TVLTagFilterView::setFilterTags(quint64 mask)
{
    if (m_filterTags == mask)
        return;
    m_filterTags = mask;
    update();
}

quint64 TVLTagFilterView::fullMask()
{
    quint64 mask = TVLTag::bitMaskForTagId(TVLAnnotation::sharedAnnotation().tagId());
    for (const TVLTag *tag : TVLTag::allTags())
        mask |= TVLTag::bitMaskForTagId(tag->tagId());
    return mask;
}

// MARK: - Layout

QFont TVLTagFilterView::pillFont() const
{
    QFont font = this->font();
    font.setWeight(QFont::DemiBold);
    return font;
}

int TVLTagFilterView::pillHeight() const
{
    // 19 points for an 11-point font whose lines are 13 points high: 6 more than the text.
    return QFontMetrics(pillFont()).height() + 6;
}

QList<TVLTagFilterView::Pill> TVLTagFilterView::pills() const
{
    const QFontMetrics metrics(pillFont());
    const int height = pillHeight();
    const int y = (this->height() - height) / 2;
    QList<Pill> result;
    int x = 0;
    const auto add = [&](int tagIndex, quint64 bit, const QString &name, const QColor &color) {
        const int width = metrics.horizontalAdvance(name) + 2 * textInset;
        result.append(Pill{tagIndex, bit, name, color, QRect(x, y, width, height)});
        x += width + gap;
    };
    const TVLAnnotation &annotation = TVLAnnotation::sharedAnnotation();
    add(0, TVLTag::bitMaskForTagId(annotation.tagId()), annotation.name(),
        hvxQColor(TVLAnnotation::colorForHasAnnotation(true)));
    for (const TVLTag *tag : TVLTag::allTags())
        add(int(tag->tagId()), TVLTag::bitMaskForTagId(tag->tagId()), tag->name(), hvxQColor(tag->color()));
    return result;
}

QSize TVLTagFilterView::sizeHint() const
{
    const QFontMetrics metrics(pillFont());
    int width = metrics.horizontalAdvance(TVLAnnotation::sharedAnnotation().name()) + 2 * textInset;
    for (const TVLTag *tag : TVLTag::allTags())
        width += gap + metrics.horizontalAdvance(tag->name()) + 2 * textInset;
    return QSize(width, pillHeight());
}

int TVLTagFilterView::tagIndexAtPoint(const QPoint &point) const
{
    for (const Pill &pill : pills())
        if (pill.rect.contains(point))
            return pill.tagIndex;
    return -1;
}

// MARK: - Drawing

void TVLTagFilterView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QFont font = pillFont();
    for (const Pill &pill : pills())
        drawTagWithName(painter, pill.name, pill.color, (m_filterTags & pill.bit) != 0, pill.rect.x(), pill.rect.y(),
                        font);
}

int TVLTagFilterView::drawTagWithName(QPainter &painter, const QString &name, const QColor &color, bool selected,
                                      int x, int y, const QFont &font) const
{
    const QFontMetrics metrics(font);
    const int width = metrics.horizontalAdvance(name) + 2 * textInset;
    const QRectF pill(x, y, width, pillHeight());
    QColor textColor;
    if (selected) {
        QPainterPath shape;
        shape.addRoundedRect(pill, cornerRadius, cornerRadius);
        painter.fillPath(shape, color);
        textColor = hvxQColor(TVLTag::contrastingTextColorForColor(colorFromQColor(color)));
    } else {
        // White with black text in the light appearance; the palette's base and text colours
        // keep unselected pills readable in a dark one.
        QPainterPath shape;
        shape.addRoundedRect(pill, cornerRadius, cornerRadius);
        painter.fillPath(shape, palette().color(QPalette::Base));
        painter.setPen(QPen(color, 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(pill.adjusted(1, 1, -1, -1), cornerRadius, cornerRadius);
        textColor = palette().color(QPalette::Text);
    }
    painter.setPen(textColor);
    painter.setFont(font);
    const int textY = y + (pillHeight() - metrics.height()) / 2;
    painter.drawText(QRect(x + textInset, textY, width - textInset, metrics.height()),
                     Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, name);
    return x + width;
}

// MARK: - Choosing

void TVLTagFilterView::clickPill(int tagIndex, bool selectAllOrNone)
{
    quint64 bit = 0;
    for (const Pill &pill : pills())
        if (pill.tagIndex == tagIndex)
            bit = pill.bit;
    if (selectAllOrNone)
        chooseMask((m_filterTags & bit) ? 0 : fullMask());
    else
        chooseMask(m_filterTags ^ bit);
}

void TVLTagFilterView::selectAllTags() { chooseMask(fullMask()); }

void TVLTagFilterView::clearTags() { chooseMask(0); }

void TVLTagFilterView::chooseMask(quint64 mask)
{
    setFilterTags(mask);
    Q_EMIT filterTagsChanged(mask);
}

void TVLTagFilterView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    const int tagIndex = tagIndexAtPoint(event->position().toPoint());
    if (tagIndex < 0)
        return;
    clickPill(tagIndex, event->modifiers() & (Qt::ControlModifier | Qt::AltModifier));
}

void TVLTagFilterView::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu menu(this);
    connect(menu.addAction(tr("Select All Tags")), &QAction::triggered, this, &TVLTagFilterView::selectAllTags);
    connect(menu.addAction(tr("Clear")), &QAction::triggered, this, &TVLTagFilterView::clearTags);
    menu.addSeparator();
    connect(menu.addAction(tr("Edit Tags\u2026")), &QAction::triggered, this,
            [] { TVLSettingsViewController::showSettingsWindow(); });
    menu.exec(event->globalPos());
}

void TVLTagFilterView::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::FontChange || event->type() == QEvent::PaletteChange)
        tagsDidChange();
    QWidget::changeEvent(event);
}

void TVLTagFilterView::tagsDidChange()
{
    // Names decide the pills' widths.
    updateGeometry();
    update();
}
