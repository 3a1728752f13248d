#pragma once
// The background of one outline row: the ordinary background, and, when the row is marked
// (its exchange is in view in the page, or it matches the search) and not selected, the system
// yellow at 30 % over it.

#include <QRect>

class QPainter;

class TVLHighlightableRowView final
{
public:
    static inline const char *identifier = "TVLHighlightableRowView";

    bool highlighted() const { return m_highlighted; }
    void setHighlighted(bool highlighted) { m_highlighted = highlighted; }

    void drawBackground(QPainter *painter, const QRect &bounds, bool selected) const;

private:
    bool m_highlighted = false;
};
