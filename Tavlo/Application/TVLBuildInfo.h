#pragma once
// What this build is: its version, whether it is a development or a debug build, and the update
// feed it was configured with. All of it comes from the build options, never from the shape of
// the version number, so a patch release stays a release.

#include <QString>

namespace TVLBuildInfo {
QString shortVersionString();
// Configured with TAVLO_DEV_BUILD=ON.
bool isDevBuild();
// Compiled without optimisation for debugging (CMAKE_BUILD_TYPE Debug).
bool isDebugBuild();
// The feed this build was configured with (TAVLO_UPDATE_FEED_URL); empty for distribution
// packages, whose package manager brings updates.
QString configuredFeedURL();
} // namespace TVLBuildInfo
