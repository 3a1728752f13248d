#pragma once
// The annotation pseudo-tag: stands for "this message has an annotation" wherever tags are shown
// or filtered. Tag id 0, name "*", mask bit 0x0001. There is one shared instance.

#include "TVLTag.h"

class TVLAnnotation final : public TVLTag
{
public:
    static TVLAnnotation &sharedAnnotation();

    static HVXColor colorForHasAnnotation(bool hasAnnotation);
    static HVXColor textColorForHasAnnotation(bool hasAnnotation);

    bool isRemovable() const override { return false; }

private:
    TVLAnnotation();
};
