#pragma once
// The application's own resources (pages, icon), which live in a static library and so are
// registered by hand before their first use.

#include <QString>

namespace TVLApplicationResources {
void load();
inline const QString iconPath = QStringLiteral(":/icons/tavlo.png");
// The desktop entry's name without ".desktop", also the AppStream id.
inline const QString desktopFileName = QStringLiteral("org.tavlo.Tavlo");
} // namespace TVLApplicationResources
