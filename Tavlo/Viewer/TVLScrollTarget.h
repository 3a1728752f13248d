#pragma once
// Where a page that is about to load opens: at its top, at its end, at an offset, or with an
// exchange at the top.

#include <QString>

struct TVLScrollTarget
{
    enum class Kind { Top, Bottom, Offset, Exchange };

    Kind kind = Kind::Top;
    double offset = 0;
    QString exchangeId;

    static TVLScrollTarget top() { return {}; }
    static TVLScrollTarget bottom() { return {Kind::Bottom, 0, {}}; }
    static TVLScrollTarget atOffset(double offset) { return {Kind::Offset, offset, {}}; }
    static TVLScrollTarget exchange(const QString &exchangeId) { return {Kind::Exchange, 0, exchangeId}; }
};
