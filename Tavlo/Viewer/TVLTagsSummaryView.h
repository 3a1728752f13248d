#pragma once
// The tags badge of an outline row: a framed 19 x 19 square, framed dark red when the row's
// exchanges carry an annotation, with a 3 x 3 grid of dots in the colours of tags 1 to 9
// (column by column: 1 to 3 on the left from top to bottom, 7 to 9 on the right), and a tool tip
// that lists "Annotated" and every named tag with a checked or unchecked box. A summary of 0
// draws nothing and has no tool tip. Names and colours are read from the palette on every
// paint and every tool tip, so a renamed or recoloured tag shows at the next repaint.

#include <QPalette>
#include <QRect>
#include <QString>

class QPainter;

class TVLTagsSummaryView final
{
public:
    static constexpr int badgeSize = 19;
    static constexpr int dotSize = 5;

    explicit TVLTagsSummaryView(quint16 tagSummary = 0) : m_tagSummary(tagSummary) {}

    quint16 tagSummary() const { return m_tagSummary; }

    // The tool tip text; empty for none.
    QString toolTip() const;
    // Draws the badge with its top-left corner at origin. The fill follows the palette's base
    // colour (white in the light appearance) so that the badge sits well in a dark one too.
    void draw(QPainter &painter, const QPoint &origin, const QPalette &palette) const;

    // Where the dot of a tag id 1 to 9 goes, in badge coordinates with the origin top left;
    // an empty rectangle for any other id.
    static QRect dotRectForTagId(quint64 tagId);

private:
    quint16 m_tagSummary;
};
