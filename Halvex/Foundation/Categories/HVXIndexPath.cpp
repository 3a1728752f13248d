#include "HVXIndexPath.h"

HVXIndexPath indexPathByRemovingFirstIndex(const HVXIndexPath &path)
{
    return path.size() <= 1 ? HVXIndexPath() : path.mid(1);
}

qint64 firstIndex(const HVXIndexPath &path) { return path.isEmpty() ? HVXNotFound : path.first(); }
