#include "TVLBuildInfo.h"

#ifndef TAVLO_DEV_BUILD
#define TAVLO_DEV_BUILD 0
#endif
#ifndef TAVLO_DEBUG_BUILD
#define TAVLO_DEBUG_BUILD 0
#endif
#ifndef TAVLO_UPDATE_FEED_URL
#define TAVLO_UPDATE_FEED_URL ""
#endif

QString TVLBuildInfo::shortVersionString() { return QStringLiteral(TAVLO_VERSION); }

bool TVLBuildInfo::isDevBuild() { return TAVLO_DEV_BUILD != 0; }

bool TVLBuildInfo::isDebugBuild() { return TAVLO_DEBUG_BUILD != 0; }

QString TVLBuildInfo::configuredFeedURL() { return QString::fromUtf8(TAVLO_UPDATE_FEED_URL); }
