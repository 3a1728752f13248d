#include "TVLAnnotation.h"

TVLAnnotation::TVLAnnotation()
    : TVLTag(0, QStringLiteral("*"), HVXSystemColor::gray())
{
}

TVLAnnotation &TVLAnnotation::sharedAnnotation()
{
    static TVLAnnotation instance;
    return instance;
}

HVXColor TVLAnnotation::colorForHasAnnotation(bool hasAnnotation)
{
    return hasAnnotation ? HVXColor::fromRgb(0.4, 0.2, 0.6) : HVXColor::fromWhite(0.85);
}

HVXColor TVLAnnotation::textColorForHasAnnotation(bool hasAnnotation)
{
    return hasAnnotation ? HVXSystemColor::white() : HVXColor::fromWhite(0.2);
}
