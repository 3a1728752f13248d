#include "TVLApplicationResources.h"

#include <QtGlobal>

// Outside any namespace: the macro declares the registration function where it is used.
static void initApplicationResources() { Q_INIT_RESOURCE(TVLApplicationResources); }

void TVLApplicationResources::load()
{
    static const bool loaded = [] {
        initApplicationResources();
        return true;
    }();
    Q_UNUSED(loaded);
}
