#pragma once
// Index paths (a list of positions from a root down to a node) and the two helpers on them.

#include <QList>
#include <limits>

using HVXIndexPath = QList<qint64>;

// The not-found marker, the largest signed 64-bit value.
inline constexpr qint64 HVXNotFound = std::numeric_limits<qint64>::max();

// The path without its first index; empty for paths of length 0 or 1.
HVXIndexPath indexPathByRemovingFirstIndex(const HVXIndexPath &path);
// The first index, or HVXNotFound for the empty path.
qint64 firstIndex(const HVXIndexPath &path);
