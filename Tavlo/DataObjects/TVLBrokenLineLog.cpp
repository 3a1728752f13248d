#include "TVLBrokenLineLog.h"

#include "Halvex/Foundation/HVXLog.h"

#include <QLocale>
#include <QMap>
#include <QMutex>

namespace {
struct FileCounts
{
    int logged = 0;
    qint64 leftOut = 0;
};

QMutex g_mutex;
int g_limit = 0;
QMap<QString, FileCounts> g_counts;
} // namespace

void TVLBrokenLineLog::limitPerFile(int count)
{
    const QMutexLocker locker(&g_mutex);
    g_limit = count;
}

bool TVLBrokenLineLog::shouldLog(const QString &fileName)
{
    const QMutexLocker locker(&g_mutex);
    if (g_limit <= 0)
        return true;
    FileCounts &counts = g_counts[fileName];
    if (counts.logged < g_limit) {
        ++counts.logged;
        return true;
    }
    ++counts.leftOut;
    return false;
}

void TVLBrokenLineLog::reportLeftOut()
{
    QMap<QString, FileCounts> counts;
    {
        const QMutexLocker locker(&g_mutex);
        counts.swap(g_counts);
    }
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        if (it->leftOut == 0)
            continue;
        const QString file = it.key().isEmpty() ? QStringLiteral("a transcript") : it.key();
        HVXLogWarning(QStringLiteral("\u2026and %1 more %2 not JSON in %3")
                          .arg(english.toString(it->leftOut),
                               it->leftOut == 1 ? QStringLiteral("line that is") : QStringLiteral("lines that are"), file));
    }
}
