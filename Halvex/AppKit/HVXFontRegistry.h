#pragma once
// Fonts by factory name, for the "[F:name|size|weight]" markup tag. Known names:
// "systemFontOfSize:weight:" and "monospacedSystemFontOfSize:weight:" (size in points, weight
// from -1.0 to 1.0 with 0.0 regular) and "systemFontOfSize:" (size). Sizes are the design's
// points, one logical pixel each, so a 13-point title looks the same on every desktop.

#include <QFont>
#include <QList>
#include <QString>
#include <optional>

namespace HVXFontRegistry {
bool knowsSelector(const QString &selector);
// The font the factory makes from the arguments; nothing for an unknown name.
std::optional<QFont> fontForSelector(const QString &selector, const QList<double> &arguments);
// The Qt weight for a weight from -1.0 (thinnest) to 1.0 (heaviest).
QFont::Weight qtWeight(double weight);
} // namespace HVXFontRegistry
