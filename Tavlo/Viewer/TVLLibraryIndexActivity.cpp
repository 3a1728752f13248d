#include "TVLLibraryIndexActivity.h"

#include <QCoreApplication>
#include <QLocale>

TVLLibraryIndexActivity &TVLLibraryIndexActivity::shared()
{
    static TVLLibraryIndexActivity *activity = [] {
        auto *created = new TVLLibraryIndexActivity;
        if (QCoreApplication::instance())
            created->moveToThread(QCoreApplication::instance()->thread());
        return created;
    }();
    return *activity;
}

QString TVLLibraryIndexActivity::describe(const TVLLibraryIndex::Progress &progress)
{
    const QLocale locale(QLocale::English);
    auto megabytes = [&](qint64 bytes) { return locale.toString(qint64((bytes + (1 << 19)) >> 20)); };
    return QStringLiteral("Indexing\u2026 %1 of %2 files, %3 MB of %4 MB")
        .arg(locale.toString(progress.filesDone), locale.toString(progress.filesTotal), megabytes(progress.bytesDone),
             megabytes(progress.bytesTotal));
}

void TVLLibraryIndexActivity::post(const TVLLibraryIndex::Progress &progress)
{
    QMetaObject::invokeMethod(
        this,
        [this, progress] {
            m_updating = true;
            m_progress = progress;
            Q_EMIT progressChanged(progress);
        },
        Qt::QueuedConnection);
}

void TVLLibraryIndexActivity::postFinished()
{
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!m_updating)
                return;
            m_updating = false;
            Q_EMIT updateFinished();
        },
        Qt::QueuedConnection);
}
