#include "TVLTagsSummaryView.h"

#include "Halvex/AppKit/HVXColorNames.h"
#include "Tavlo/DataObjects/TVLTag.h"

#include <QPainter>
#include <QStringList>

namespace {
constexpr quint64 kFirstDotTagId = 1;
constexpr quint64 kLastDotTagId = 9;

QColor annotatedFrameColor() { return QColor::fromRgbF(0.6f, 0.1f, 0.1f, 1.0f); }
// The system's dark grey: one third white.
QColor plainFrameColor() { return QColor::fromRgbF(1.0f / 3.0f, 1.0f / 3.0f, 1.0f / 3.0f, 1.0f); }
} // namespace

QString TVLTagsSummaryView::toolTip() const
{
    if (m_tagSummary == 0)
        return {};
    QStringList lines;
    if (m_tagSummary & 1)
        lines << QStringLiteral("Annotated\n");
    for (quint64 tagId = kFirstDotTagId; tagId <= kLastDotTagId; ++tagId) {
        const TVLTag *tag = TVLTag::tagWithId(tagId);
        if (!tag || tag->name().isEmpty())
            continue;
        const bool carried = (m_tagSummary & TVLTag::bitMaskForTagId(tagId)) != 0;
        lines << QStringLiteral("%1 %2").arg(carried ? QStringLiteral("\u2611\uFE0E") : QStringLiteral("\u2610"),
                                             tag->name());
    }
    return lines.join(QLatin1Char('\n'));
}

QRect TVLTagsSummaryView::dotRectForTagId(quint64 tagId)
{
    if (tagId < kFirstDotTagId || tagId > kLastDotTagId)
        return {};
    const int index = int(tagId - 1);
    return QRect(2 + dotSize * (index / 3), 2 + dotSize * (index % 3), dotSize, dotSize);
}

void TVLTagsSummaryView::draw(QPainter &painter, const QPoint &origin, const QPalette &palette) const
{
    if (m_tagSummary == 0)
        return;
    painter.save();
    painter.translate(origin);
    painter.setRenderHint(QPainter::Antialiasing, false);
    const QRect square(0, 0, badgeSize, badgeSize);
    painter.fillRect(square, palette.color(QPalette::Base));
    painter.setPen(QPen(m_tagSummary & 1 ? annotatedFrameColor() : plainFrameColor(), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(square.adjusted(0, 0, -1, -1));
    for (quint64 tagId = kFirstDotTagId; tagId <= kLastDotTagId; ++tagId) {
        if (!(m_tagSummary & TVLTag::bitMaskForTagId(tagId)))
            continue;
        if (const auto color = TVLTag::colorForTagId(tagId))
            painter.fillRect(dotRectForTagId(tagId), hvxQColor(*color));
    }
    painter.restore();
}
