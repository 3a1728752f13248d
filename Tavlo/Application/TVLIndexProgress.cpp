#include "TVLIndexProgress.h"

#include <cstdio>
#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

TVLIndexProgress::TVLIndexProgress(QTextStream &err) : m_err(err)
{
#ifdef Q_OS_UNIX
    m_enabled = isatty(fileno(stderr)) != 0;
#endif
    m_sinceLastDraw.start();
}

TVLIndexProgress::~TVLIndexProgress()
{
    if (m_shown) {
        m_err << "\r\033[K";
        m_err.flush();
    }
}

void TVLIndexProgress::show(const TVLLibraryIndex::Progress &progress)
{
    if (!m_enabled || (m_shown && m_sinceLastDraw.elapsed() < 100 && progress.filesDone < progress.filesTotal))
        return;
    m_sinceLastDraw.restart();
    constexpr int kWidth = 30;
    const double share = progress.bytesTotal > 0 ? double(progress.bytesDone) / double(progress.bytesTotal) : 1.0;
    const int filled = qBound(0, int(share * kWidth), kWidth);
    m_err << "\rIndexing [" << QString(filled, QLatin1Char('#')) << QString(kWidth - filled, QLatin1Char('.')) << "] "
          << progress.filesDone << "/" << progress.filesTotal << " files, "
          << QString::number(double(progress.bytesDone) / (1 << 20), 'f', 0) << "/"
          << QString::number(double(progress.bytesTotal) / (1 << 20), 'f', 0) << " MB\033[K";
    m_err.flush();
    m_shown = true;
}

bool tvlUpdateIndex(TVLLibraryIndex &index, const QString &path, QTextStream &err)
{
    if (!index.isOpen()) {
        err << "tavlo: the library index " << index.databasePath() << " can't be opened\n";
        return false;
    }
    TVLLibraryIndex::UpdateResult result;
    {
        TVLIndexProgress progress(err);
        result = index.update(path, progress.handler());
    }
    if (!result.ok) {
        err << "tavlo: the library index " << index.databasePath() << " can't be brought up to date\n";
        return false;
    }
    return true;
}
