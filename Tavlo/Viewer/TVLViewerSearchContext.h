#pragma once
// What the find, marks and filters of a viewer window read of the window: the object it is on,
// the exchanges its page shows and the exchange selected in its outline. The window implements
// it; the search reads nothing else of the window and tells it of new marks with a signal.

#include "Tavlo/DataObjects/TVLObject.h"

#include <QString>
#include <QStringList>

class TVLViewerSearchContext
{
public:
    // The object the window is on: marks and filters apply to everything under it.
    virtual const TVLObject::Ptr &contentObject() const = 0;
    // The exchanges in view on the page, top to bottom.
    virtual QStringList lastVisibleExchangeIds() const = 0;
    // The exchange of the first selected row; empty when that row is not an exchange.
    virtual QString selectedExchangeUuid() const = 0;

protected:
    ~TVLViewerSearchContext() = default;
};
