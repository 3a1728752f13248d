#include "TVLBackgroundRead.h"

#include "Halvex/Foundation/HVXParallel.h"

#include <QDir>
#include <QFileInfo>
#include <QThread>
#include <QTimer>

#include <algorithm>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <thread>
#ifdef Q_OS_LINUX
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace {
constexpr int kProgressIntervalMilliseconds = 250;
constexpr int kWorkerNiceness = 5;

qint64 subagentBytesOf(const QString &sessionPath)
{
    const QFileInfo info(sessionPath);
    const QDir dir(info.absolutePath() + QLatin1Char('/') + info.completeBaseName() + QStringLiteral("/subagents"));
    qint64 bytes = 0;
    for (const QFileInfo &entry : dir.entryInfoList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot))
        bytes += entry.size();
    const QDir workflows(dir.filePath(QStringLiteral("workflows")));
    for (const QFileInfo &run : workflows.entryInfoList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot))
        for (const QFileInfo &entry : QDir(run.absoluteFilePath()).entryInfoList(QDir::Files | QDir::Hidden))
            bytes += entry.size();
    return bytes;
}
} // namespace

struct TVLBackgroundRead::State
{
    QStringList paths;
    std::vector<TVLSessionRead> reads;
    TVLReadProgress progress;
    std::atomic<qint64> total{0};
    std::thread worker;

    void run()
    {
        for (const QString &path : std::as_const(paths))
            total.fetch_add(subagentBytesOf(path));
        // Files are read side by side, as the project reads new ones; a big file's parse is
        // spread over the threads by the read itself.
        const size_t count = size_t(paths.size());
        reads.resize(count);
        hvxParallelFor(count, [&](size_t i) {
            if (progress.cancelled.load())
                return;
            reads[i] = TVLSession::readFile(paths[qsizetype(i)], nullptr, &progress);
            TVLSession::readSubagentFiles(paths[qsizetype(i)], reads[i], &progress);
        });
    }
};

TVLBackgroundRead::TVLBackgroundRead(const QStringList &paths, qint64 transcriptBytes, QObject *parent)
    : QObject(parent)
    , m_state(std::make_shared<State>())
{
    m_state->paths = paths;
    m_state->total.store(transcriptBytes);
    m_progressTimer = new QTimer(this);
    m_progressTimer->setInterval(kProgressIntervalMilliseconds);
    connect(m_progressTimer, &QTimer::timeout, this, &TVLBackgroundRead::progressed);
    m_progressTimer->start();
    // The worker is joined before this object goes, so the call it posts finds it alive or is
    // dropped with it.
    m_state->worker = std::thread([this, state = m_state.get()] {
#ifdef Q_OS_LINUX
        // What the window shows meanwhile (the newest exchanges of a session, the page, the
        // engine's renderer) goes first; the threads the read starts inherit this.
        ::setpriority(PRIO_PROCESS, id_t(::gettid()), kWorkerNiceness);
#endif
        state->run();
        QMetaObject::invokeMethod(this, [this] {
            m_progressTimer->stop();
            Q_EMIT done();
        }, Qt::QueuedConnection);
    });
}

TVLBackgroundRead::~TVLBackgroundRead()
{
    m_state->progress.cancelled.store(true);
    waitForWorker();
}

void TVLBackgroundRead::waitForWorker()
{
    if (m_state->worker.joinable())
        m_state->worker.join();
}

qint64 TVLBackgroundRead::bytesRead() const
{
    // Reading a file and parsing it count half each.
    const qint64 done = m_state->progress.readBytes.load(std::memory_order_relaxed)
                        + m_state->progress.bytes.load(std::memory_order_relaxed);
    return std::min(done / 2, bytesTotal());
}

qint64 TVLBackgroundRead::bytesTotal() const { return m_state->total.load(std::memory_order_relaxed); }

QString TVLBackgroundRead::note() const
{
    constexpr qint64 kMegabyte = 1 << 20;
    return QStringLiteral("Loading\u2026 %1 MB of %2").arg(bytesRead() / kMegabyte).arg((bytesTotal() + kMegabyte - 1) / kMegabyte);
}

QHash<QString, TVLSessionRead> TVLBackgroundRead::takeReads()
{
    waitForWorker();
    m_progressTimer->stop();
    QHash<QString, TVLSessionRead> reads;
    for (qsizetype i = 0; i < m_state->paths.size(); ++i)
        reads.insert(m_state->paths[i], std::move(m_state->reads[size_t(i)]));
    m_state->reads.clear();
#ifdef __GLIBC__
    // The worker threads parsed in memory pools of their own; what they freed there goes back
    // to the system rather than staying resident beside the transcripts.
    malloc_trim(0);
#endif
    return reads;
}
