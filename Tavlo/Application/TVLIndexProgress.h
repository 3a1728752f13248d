#pragma once
// The index's progress on a terminal: one line on standard error, redrawn in place, and only
// when standard error is a terminal (so scripts and pipes see nothing).

#include "Tavlo/Index/TVLLibraryIndex.h"

#include <QElapsedTimer>
#include <QTextStream>

class TVLIndexProgress final
{
public:
    explicit TVLIndexProgress(QTextStream &err);
    ~TVLIndexProgress();
    void show(const TVLLibraryIndex::Progress &progress);
    std::function<void(const TVLLibraryIndex::Progress &)> handler()
    {
        return [this](const TVLLibraryIndex::Progress &progress) { show(progress); };
    }

private:
    QTextStream &m_err;
    bool m_enabled = false;
    bool m_shown = false;
    QElapsedTimer m_sinceLastDraw;
};

// Brings the index up to date for `path` with a progress bar; false, with a message, when the
// index can't be used.
bool tvlUpdateIndex(TVLLibraryIndex &index, const QString &path, QTextStream &err);
