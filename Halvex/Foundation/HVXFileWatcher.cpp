#include "HVXFileWatcher.h"

#include "HVXCloseDescriptor.h"
#include "HVXLog.h"
#include "HVXWatcherClock.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTimer>
#include <atomic>
#include <utility>

// The system side of a watch. A backend turns system events into changed paths and hands them
// to report(); batching and delivery are the watcher's.
class HVXFileWatcherBackend
{
public:
    explicit HVXFileWatcherBackend(HVXFileWatcher &watcher)
        : m_watcher(watcher)
    {
    }
    virtual ~HVXFileWatcherBackend() = default;
    HVXFileWatcherBackend(const HVXFileWatcherBackend &) = delete;
    HVXFileWatcherBackend &operator=(const HVXFileWatcherBackend &) = delete;

    // The path is absolute and clean and exists. Returns false after a log line.
    virtual bool start(const QString &path) = 0;
    virtual int watchCount() const = 0;

protected:
    // `contentWritten`: the event is a write into a file, not a creation, removal or move.
    void report(const QString &changedPath, bool contentWritten = false) { m_watcher.enqueue(changedPath, contentWritten); }
    int watchLimit() const { return m_watcher.watchLimit(); }
    bool acceptsDirectory(const QString &directory) const { return m_watcher.acceptsDirectory(directory); }

private:
    HVXFileWatcher &m_watcher;
};

#if defined(Q_OS_LINUX)

#include <QDirIterator>
#include <QHash>
#include <QSocketNotifier>
#include <cerrno>
#include <cstring>
#include <sys/inotify.h>
#include <unistd.h>
#include <vector>

namespace {

// What is asked of every watched directory. IN_ONLYDIR with IN_DONT_FOLLOW makes adding a
// watch on a symbolic link fail, so a link to a directory is never entered and loops cannot
// form; IN_EXCL_UNLINK keeps files that are already deleted (but still open) quiet.
constexpr uint32_t kDirectoryMask = IN_CREATE | IN_DELETE | IN_MODIFY | IN_ATTRIB | IN_MOVED_FROM
                                    | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR
                                    | IN_EXCL_UNLINK;

QString systemError(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

// inotify watches directories one by one: the whole tree gets one watch per directory, added
// as directories appear. A file is watched through its directory, filtered to its name.
class InotifyBackend final : public HVXFileWatcherBackend
{
public:
    using HVXFileWatcherBackend::HVXFileWatcherBackend;

    ~InotifyBackend() override
    {
        m_notifier.reset();
        if (m_fd >= 0)
            hvxCloseDescriptor(m_fd);
    }

    bool start(const QString &path) override;
    int watchCount() const override { return int(m_directoryForWatch.size()); }

private:
    enum class Scan { WatchOnly, WatchAndReport };

    bool isFileWatch() const { return !m_fileName.isEmpty(); }
    QString watchedPath() const { return isFileWatch() ? m_root + QLatin1Char('/') + m_fileName : m_root; }

    void readEvents();
    void handleEvent(const inotify_event &event);
    void handleRootGone();
    bool addWatch(const QString &directory);
    void watchTree(const QString &top, Scan scan);
    void unwatchTree(const QString &top);
    void forgetWatch(int wd);
    void warnOutOfWatches();

    int m_fd = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QString m_root;     // the watched directory; for a file watch, the file's directory
    QString m_fileName; // for a file watch, the only entry of m_root that is reported
    QHash<int, QString> m_directoryForWatch;
    QHash<QString, int> m_watchForDirectory;
    bool m_warnedOutOfWatches = false;
};

bool InotifyBackend::start(const QString &path)
{
    const QFileInfo info(path);
    if (info.isDir()) {
        m_root = path;
    } else {
        m_root = info.absolutePath();
        m_fileName = info.fileName();
    }
    m_fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_fd < 0) {
        const int error = errno;
        // Running out of inotify instances is a system limit like running out of watches:
        // said once, and everything else goes on unwatched.
        static std::atomic<bool> warnedOutOfInstances{false};
        if (error == EMFILE || error == ENFILE) {
            if (!warnedOutOfInstances.exchange(true))
                HVXLogWarning(QStringLiteral("Out of file-system watchers while watching %1: changes will not be seen "
                                             "(the system limit is fs.inotify.max_user_instances)")
                                  .arg(path));
        } else {
            HVXLogError(QStringLiteral("Cannot watch %1: %2").arg(path, systemError(error)));
        }
        return false;
    }
    // The root itself may be a symbolic link: that link is what the owner asked for.
    const int wd = inotify_add_watch(m_fd, QFile::encodeName(m_root).constData(), kDirectoryMask);
    if (wd < 0) {
        const int error = errno;
        if (error == ENOSPC)
            warnOutOfWatches();
        else
            HVXLogError(QStringLiteral("Cannot watch %1: %2").arg(path, systemError(error)));
        return false;
    }
    m_directoryForWatch.insert(wd, m_root);
    m_watchForDirectory.insert(m_root, wd);
    if (!isFileWatch())
        watchTree(m_root, Scan::WatchOnly);

    m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(), [this] { readEvents(); });
    return true;
}

void InotifyBackend::readEvents()
{
    alignas(inotify_event) char buffer[64 * 1024];
    for (;;) {
        const ssize_t length = ::read(m_fd, buffer, sizeof buffer);
        if (length < 0 && errno == EINTR)
            continue;
        if (length < 0 && errno != EAGAIN) {
            HVXLogError(QStringLiteral("Stopped watching %1: %2").arg(watchedPath(), systemError(errno)));
            m_notifier->setEnabled(false);
            return;
        }
        if (length <= 0)
            return;
        for (const char *p = buffer; p < buffer + length;) {
            const auto *event = reinterpret_cast<const inotify_event *>(p);
            handleEvent(*event);
            p += sizeof(inotify_event) + event->len;
        }
    }
}

void InotifyBackend::handleEvent(const inotify_event &event)
{
    if (event.mask & IN_Q_OVERFLOW) {
        // Events were lost, among them perhaps directories that appeared: watch what is
        // missing and have the owner look at everything again.
        if (!isFileWatch())
            watchTree(m_root, Scan::WatchOnly);
        report(watchedPath());
        return;
    }
    const auto known = m_directoryForWatch.constFind(event.wd);
    if (known == m_directoryForWatch.constEnd())
        return; // a watch that was just removed
    const QString directory = *known;

    if (event.mask & IN_IGNORED) {
        forgetWatch(event.wd);
        return;
    }
    const QString name = event.len > 0 ? QFile::decodeName(event.name) : QString();
    const bool aboutDirectoryItself = name.isEmpty();
    const bool wentAway = event.mask & (IN_DELETE_SELF | IN_MOVE_SELF);

    if (isFileWatch()) {
        if (name == m_fileName || (aboutDirectoryItself && wentAway))
            report(watchedPath(), name == m_fileName && (event.mask & IN_MODIFY));
        if (aboutDirectoryItself && wentAway)
            handleRootGone();
        return;
    }
    if (aboutDirectoryItself) {
        // A subdirectory's own events are also told to its parent, under its name.
        if (directory == m_root) {
            report(m_root);
            if (wentAway)
                handleRootGone();
        } else if (!wentAway) {
            report(directory);
        }
        return;
    }
    const QString changed = directory + QLatin1Char('/') + name;
    report(changed, (event.mask & IN_MODIFY) && !(event.mask & IN_ISDIR));
    if (event.mask & IN_ISDIR) {
        if (event.mask & (IN_CREATE | IN_MOVED_TO))
            watchTree(changed, Scan::WatchAndReport);
        else if (event.mask & IN_MOVED_FROM)
            unwatchTree(changed);
        // A deleted directory's watch ends by itself (IN_IGNORED).
    }
}

void InotifyBackend::handleRootGone()
{
    HVXLogWarning(QStringLiteral("Stopped watching %1: it was moved or deleted").arg(watchedPath()));
    // What is still watched would be reported under paths that no longer exist.
    for (auto it = m_directoryForWatch.cbegin(); it != m_directoryForWatch.cend(); ++it)
        inotify_rm_watch(m_fd, it.key());
    m_directoryForWatch.clear();
    m_watchForDirectory.clear();
}

// Adds the watch of one directory. Returns whether the directory is watched under this path
// (and so whether its subdirectories should be looked at).
bool InotifyBackend::addWatch(const QString &directory)
{
    if (directory != m_root && !acceptsDirectory(directory))
        return false;
    if (watchLimit() > 0 && m_directoryForWatch.size() >= watchLimit()
        && !m_watchForDirectory.contains(directory)) {
        warnOutOfWatches();
        return false;
    }
    const uint32_t mask = directory == m_root ? kDirectoryMask : kDirectoryMask | IN_DONT_FOLLOW;
    const int wd = inotify_add_watch(m_fd, QFile::encodeName(directory).constData(), mask);
    if (wd < 0) {
        // Gone again, a symbolic link, or unreadable: nothing to watch there.
        if (errno == ENOSPC)
            warnOutOfWatches();
        return false;
    }
    const auto known = m_directoryForWatch.constFind(wd);
    if (known != m_directoryForWatch.constEnd()) {
        if (*known == directory)
            return true;
        // The same directory under a second path (a bind mount): entering it again could loop.
        if (QFileInfo(*known).isDir())
            return false;
        // It moved without our hearing of it (lost events): it lives at the new path now.
        unwatchTree(*known);
        const int again = inotify_add_watch(m_fd, QFile::encodeName(directory).constData(), mask);
        if (again < 0)
            return false;
        m_directoryForWatch.insert(again, directory);
        m_watchForDirectory.insert(directory, again);
        return true;
    }
    m_directoryForWatch.insert(wd, directory);
    m_watchForDirectory.insert(directory, wd);
    return true;
}

// Watches the directory and every directory below it. A directory that has just appeared may
// already hold entries made before its watch existed; those are reported with WatchAndReport.
void InotifyBackend::watchTree(const QString &top, Scan scan)
{
    const QDir::Filters filters = scan == Scan::WatchAndReport
                                      ? QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System
                                      : QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::NoSymLinks;
    std::vector<QString> pending{top};
    while (!pending.empty()) {
        const QString directory = std::move(pending.back());
        pending.pop_back();
        if (!addWatch(directory))
            continue;
        QDirIterator entries(directory, filters);
        while (entries.hasNext()) {
            entries.next();
            const QFileInfo entry = entries.fileInfo();
            if (scan == Scan::WatchAndReport)
                report(entry.filePath());
            if (entry.isDir() && !entry.isSymLink())
                pending.push_back(entry.filePath());
        }
    }
}

void InotifyBackend::unwatchTree(const QString &top)
{
    const QString prefix = top + QLatin1Char('/');
    std::vector<int> removed;
    for (auto it = m_watchForDirectory.cbegin(); it != m_watchForDirectory.cend(); ++it)
        if (it.key() == top || it.key().startsWith(prefix))
            removed.push_back(it.value());
    for (int wd : removed) {
        inotify_rm_watch(m_fd, wd);
        forgetWatch(wd);
    }
}

void InotifyBackend::forgetWatch(int wd)
{
    const auto it = m_directoryForWatch.find(wd);
    if (it == m_directoryForWatch.end())
        return;
    const auto back = m_watchForDirectory.constFind(*it);
    if (back != m_watchForDirectory.constEnd() && *back == wd)
        m_watchForDirectory.erase(back);
    m_directoryForWatch.erase(it);
}

void InotifyBackend::warnOutOfWatches()
{
    if (std::exchange(m_warnedOutOfWatches, true))
        return;
    HVXLogWarning(QStringLiteral("Out of file-system watches while watching %1: changes in some directories will "
                                 "not be seen (the system limit is fs.inotify.max_user_watches)")
                      .arg(watchedPath()));
}

} // namespace

static std::unique_ptr<HVXFileWatcherBackend> createBackend(HVXFileWatcher &watcher)
{
    return std::make_unique<InotifyBackend>(watcher);
}

#else

namespace {
class UnavailableBackend final : public HVXFileWatcherBackend
{
public:
    using HVXFileWatcherBackend::HVXFileWatcherBackend;
    bool start(const QString &path) override
    {
        HVXLogError(QStringLiteral("Cannot watch %1: file watching is not available on this system").arg(path));
        return false;
    }
    int watchCount() const override { return 0; }
};
} // namespace

static std::unique_ptr<HVXFileWatcherBackend> createBackend(HVXFileWatcher &watcher)
{
    return std::make_unique<UnavailableBackend>(watcher);
}

#endif

namespace {
class RealClock final : public HVXWatcherClock
{
public:
    RealClock()
    {
        m_sinceStart.start();
        m_timer.setSingleShot(true);
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] {
            // The alarm may set the next one.
            const std::function<void()> alarm = std::exchange(m_alarm, {});
            if (alarm)
                alarm();
        });
    }
    qint64 now() const override { return m_sinceStart.elapsed(); }
    void setAlarm(int milliseconds, std::function<void()> alarm) override
    {
        m_alarm = std::move(alarm);
        m_timer.start(milliseconds);
    }
    void cancelAlarm() override
    {
        m_timer.stop();
        m_alarm = {};
    }
    bool isAlarmSet() const override { return m_timer.isActive(); }

private:
    QElapsedTimer m_sinceStart;
    QTimer m_timer;
    std::function<void()> m_alarm;
};
} // namespace

HVXFileWatcher::HVXFileWatcher(QObject *parent)
    : QObject(parent)
    , m_realClock(std::make_unique<RealClock>())
    , m_clock(m_realClock.get())
{
}

HVXFileWatcher::~HVXFileWatcher() { stop(); }

bool HVXFileWatcher::start(const QString &path)
{
    stop();
    if (path.isEmpty()) {
        HVXLogWarning(QStringLiteral("Cannot watch an empty path"));
        return false;
    }
    const QString cleanPath = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    if (!QFileInfo::exists(cleanPath)) {
        HVXLogWarning(QStringLiteral("Cannot watch %1: it does not exist").arg(hvxLogValue(cleanPath)));
        return false;
    }
    auto backend = createBackend(*this);
    if (!backend->start(cleanPath))
        return false;
    m_backend = std::move(backend);
    m_path = cleanPath;
    return true;
}

void HVXFileWatcher::stop()
{
    m_backend.reset();
    m_clock->cancelAlarm();
    m_pending.clear();
    m_pendingSet.clear();
    m_path.clear();
}

bool HVXFileWatcher::isRunning() const { return m_backend != nullptr; }

void HVXFileWatcher::setLatency(int milliseconds) { m_latencyMs = qMax(0, milliseconds); }

int HVXFileWatcher::watchCount() const { return m_backend ? m_backend->watchCount() : 0; }

void HVXFileWatcher::setClock(HVXWatcherClock *clock)
{
    m_clock->cancelAlarm();
    m_clock = clock ? clock : m_realClock.get();
    m_lastEventAt.reset();
    if (!m_pending.isEmpty())
        m_clock->setAlarm(m_latencyMs, [this] { deliver(); });
}

void HVXFileWatcher::enqueue(const QString &changedPath, bool contentWritten)
{
    const qint64 now = m_clock->now();
    const bool afterQuietSpell = !m_lastEventAt || now - *m_lastEventAt >= m_latencyMs;
    m_lastEventAt = now;
    if (m_pendingSet.contains(changedPath))
        return;
    m_pendingSet.insert(changedPath);
    m_pending.append(changedPath);
    // Delivered from the event loop even when at once: the backend is still reading its events.
    if (!m_clock->isAlarmSet())
        m_clock->setAlarm(contentWritten && afterQuietSpell ? 0 : m_latencyMs, [this] { deliver(); });
}

void HVXFileWatcher::deliver()
{
    const QStringList batch = std::exchange(m_pending, {});
    m_pendingSet.clear();
    // A receiver may stop, restart or delete-later the watcher; nothing here is used after this.
    if (!batch.isEmpty())
        Q_EMIT pathsChanged(batch);
}
