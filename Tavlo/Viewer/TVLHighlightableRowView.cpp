#include "TVLHighlightableRowView.h"

#include "Halvex/AppKit/HVXColorNames.h"

#include <QPainter>

void TVLHighlightableRowView::drawBackground(QPainter *painter, const QRect &bounds, bool selected) const
{
    // The view has drawn the ordinary background already; the mark is composited over it.
    if (!m_highlighted || selected)
        return;
    QColor yellow = hvxQColor(HVXSystemColor::yellow());
    yellow.setAlphaF(0.3f);
    painter->fillRect(bounds, yellow);
}
