#pragma once
// Watches a directory tree, or one file, and reports the paths that changed.
//
// A watch on a directory covers the whole tree below it, including directories created later.
// Every creation, change, removal or move is reported as the path it touched; the kind of event
// is not reported. Paths are collected for a short latency (0.1 s by default) and delivered as
// one batch on the thread that owns the watcher, in the order they were first seen, each path
// once per batch. A write into a file that comes after a quiet spell (no event for a latency)
// is delivered at once instead, so that a log that grew by a line is seen without delay; what
// follows it within the latency is batched again. A watch on a file reports that file only, and keeps reporting it when the file
// is replaced by a rename (atomic saves). Symbolic links inside the tree are never followed.
//
// When events were lost (the system's event queue overflowed) the watched path itself is
// reported, so that its owner rescans everything below it.
//
// The system work is done by a platform backend (inotify on Linux); this class only batches.

#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

class HVXFileWatcherBackend;
class HVXWatcherClock;

class HVXFileWatcher final : public QObject
{
    Q_OBJECT
public:
    static constexpr int kDefaultLatencyMs = 100;

    explicit HVXFileWatcher(QObject *parent = nullptr);
    ~HVXFileWatcher() override;
    HVXFileWatcher(const HVXFileWatcher &) = delete;
    HVXFileWatcher &operator=(const HVXFileWatcher &) = delete;

    // Starts watching the path (a directory or a file); a running watch is stopped first.
    // Returns false, after a log line, when the path cannot be watched.
    bool start(const QString &path);
    // Stops watching, drops undelivered paths and releases every system resource.
    void stop();
    bool isRunning() const;
    QString path() const { return m_path; }

    void setLatency(int milliseconds);
    int latency() const { return m_latencyMs; }

    // How many system watches the running watch holds (one per watched directory).
    int watchCount() const;

    // Caps the system watches this watcher may hold (0: only the system's own limit). Reaching
    // the cap behaves exactly as running out of system watches: one warning, the rest keeps working.
    void setWatchLimit(int limit) { m_watchLimit = limit; }
    int watchLimit() const { return m_watchLimit; }

    // Times batches by this clock (kept by the caller, outliving the watcher) instead of real
    // time; null goes back to real time. Set before start().
    void setClock(HVXWatcherClock *clock);
    // Directories below a watched directory are watched only when this accepts them (and then
    // their own subdirectories are asked in turn); without it, the whole tree is. Set before start().
    using DirectoryFilter = std::function<bool(const QString &directory)>;
    void setDirectoryFilter(DirectoryFilter filter) { m_directoryFilter = std::move(filter); }
    bool acceptsDirectory(const QString &directory) const { return !m_directoryFilter || m_directoryFilter(directory); }

Q_SIGNALS:
    void pathsChanged(const QStringList &paths);

private:
    friend class HVXFileWatcherBackend;
    void enqueue(const QString &changedPath, bool contentWritten);
    void deliver();

    std::unique_ptr<HVXFileWatcherBackend> m_backend;
    QString m_path;
    int m_latencyMs = kDefaultLatencyMs;
    int m_watchLimit = 0;
    std::unique_ptr<HVXWatcherClock> m_realClock;
    HVXWatcherClock *m_clock = nullptr;
    std::optional<qint64> m_lastEventAt;
    DirectoryFilter m_directoryFilter;
    QStringList m_pending;
    QSet<QString> m_pendingSet;
};
