#include "Halvex/Foundation/HVXFileWatcher.h"
#include "Halvex/Foundation/HVXWatcherClock.h"
#include "LogCapture.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>

namespace {

void writeFile(const QString &path, const QByteArray &content, QIODevice::OpenMode mode = QIODevice::WriteOnly)
{
    QFile file(path);
    QVERIFY2(file.open(mode), qPrintable(path));
    file.write(content);
}

// Every batch the watcher delivered, in order.
class Recorder
{
public:
    explicit Recorder(HVXFileWatcher &watcher)
    {
        QObject::connect(&watcher, &HVXFileWatcher::pathsChanged, &m_context,
                         [this](const QStringList &paths) { m_batches.append(paths); });
    }
    const QList<QStringList> &batches() const { return m_batches; }
    QStringList allPaths() const
    {
        QStringList all;
        for (const QStringList &batch : m_batches)
            all += batch;
        return all;
    }
    bool saw(const QString &path) const { return allPaths().contains(path); }
    void clear() { m_batches.clear(); }

private:
    QObject m_context;
    QList<QStringList> m_batches;
};

// Time that passes only when the test advances it; a due alarm goes off in advance().
class ManualClock final : public HVXWatcherClock
{
public:
    qint64 now() const override { return m_now; }
    void setAlarm(int milliseconds, std::function<void()> alarm) override
    {
        m_due = m_now + milliseconds;
        m_alarm = std::move(alarm);
    }
    void cancelAlarm() override { m_alarm = {}; }
    bool isAlarmSet() const override { return bool(m_alarm); }
    qint64 alarmIn() const { return m_due - m_now; }
    void advance(qint64 milliseconds)
    {
        m_now += milliseconds;
        if (m_alarm && m_due <= m_now)
            std::exchange(m_alarm, {})();
    }

private:
    qint64 m_now = 1000;
    qint64 m_due = 0;
    std::function<void()> m_alarm;
};

// The inotify instances this process holds open.
int openInotifyInstances()
{
    int count = 0;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString &entry : fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        char target[256] = {};
        const QByteArray link = QFile::encodeName(fds.filePath(entry));
        const ssize_t length = ::readlink(link.constData(), target, sizeof target - 1);
        if (length > 0 && QByteArray(target, int(length)).contains("inotify"))
            ++count;
    }
    return count;
}

constexpr int kWait = 5000;

} // namespace

class TestFileWatcher : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void reportsWritesAppendsRenamesAndDeletions()
    {
        QTemporaryDir temp;
        const QString root = temp.path();
        QVERIFY(QDir(root).mkpath(QStringLiteral("project/sub")));
        const QString existing = root + QStringLiteral("/project/session.jsonl");
        writeFile(existing, "{}\n");

        HVXFileWatcher watcher;
        watcher.setLatency(20);
        Recorder recorder(watcher);
        QVERIFY(watcher.start(root));
        QVERIFY(watcher.isRunning());
        QCOMPARE(watcher.path(), QDir::cleanPath(root));
        QCOMPARE(watcher.watchCount(), 3);

        const QString created = root + QStringLiteral("/project/sub/new.jsonl");
        writeFile(created, "line\n");
        QTRY_VERIFY_WITH_TIMEOUT(recorder.saw(created), kWait);

        recorder.clear();
        writeFile(existing, "more\n", QIODevice::Append);
        QTRY_VERIFY_WITH_TIMEOUT(recorder.saw(existing), kWait);

        recorder.clear();
        const QString renamed = root + QStringLiteral("/project/renamed.jsonl");
        QVERIFY(QFile::rename(created, renamed));
        QTRY_VERIFY_WITH_TIMEOUT(recorder.saw(created) && recorder.saw(renamed), kWait);

        recorder.clear();
        QVERIFY(QFile::remove(renamed));
        QTRY_VERIFY_WITH_TIMEOUT(recorder.saw(renamed), kWait);
        // Only paths that were touched are reported, never their directories.
        QVERIFY(!recorder.saw(root + QStringLiteral("/project")));
    }

    void directoriesMadeLaterAreWatched()
    {
        QTemporaryDir temp;
        const QString root = temp.path();
        HVXFileWatcher watcher;
        watcher.setLatency(20);
        Recorder recorder(watcher);
        QVERIFY(watcher.start(root));

        // The file is written before the watcher can have seen its directories appear.
        QVERIFY(QDir(root).mkpath(QStringLiteral("a/b/c")));
        const QString early = root + QStringLiteral("/a/b/c/early.jsonl");
        writeFile(early, "x\n");
        QTRY_VERIFY_WITH_TIMEOUT(recorder.saw(early), kWait);
        QVERIFY(recorder.saw(root + QStringLiteral("/a")));
        QTRY_COMPARE_WITH_TIMEOUT(watcher.watchCount(), 4, kWait);

        // Now the deepest directory is watched in its own right.
        recorder.clear();
        const QString later = root + QStringLiteral("/a/b/c/later.jsonl");
        writeFile(later, "y\n");
        QTRY_VERIFY_WITH_TIMEOUT(recorder.saw(later), kWait);
        QCOMPARE(recorder.allPaths().count(later), 1);
    }

    void movedDirectoriesReportUnderTheirNewPath()
    {
        QTemporaryDir temp;
        QTemporaryDir outside;
        const QString root = temp.path();
        QVERIFY(QDir(root).mkpath(QStringLiteral("old/deep")));
        QVERIFY(QDir(root).mkpath(QStringLiteral("leaving")));
        HVXFileWatcher watcher;
        watcher.setLatency(20);
        Recorder recorder(watcher);
        QVERIFY(watcher.start(root));
        QCOMPARE(watcher.watchCount(), 4);

        QVERIFY(QDir(root).rename(QStringLiteral("old"), QStringLiteral("new")));
        QVERIFY(QDir().rename(root + QStringLiteral("/leaving"), outside.path() + QStringLiteral("/left")));
        QTRY_VERIFY_WITH_TIMEOUT(recorder.saw(root + QStringLiteral("/new")) && recorder.saw(root + QStringLiteral("/leaving")), kWait);

        recorder.clear();
        writeFile(root + QStringLiteral("/new/deep/file"), "z");
        writeFile(outside.path() + QStringLiteral("/left/file"), "gone");
        const QString sentinel = root + QStringLiteral("/sentinel");
        writeFile(sentinel, "s");
        QTRY_VERIFY_WITH_TIMEOUT(recorder.saw(sentinel), kWait);
        // Events come in order: once the sentinel is in, everything before it was handled.
        QVERIFY(recorder.saw(root + QStringLiteral("/new/deep/file")));
        for (const QString &path : recorder.allPaths()) {
            QVERIFY2(!path.contains(QLatin1String("/old")), qPrintable(path));
            QVERIFY2(!path.contains(QLatin1String("leaving")), qPrintable(path));
        }
        QCOMPARE(watcher.watchCount(), 3);
    }

    // The backend reads every queued event at once: the events a test made before it returns
    // to the event loop are all in when the first one sets the alarm.
    void eventsWithinTheLatencyAreOneBatch()
    {
        QTemporaryDir temp;
        const QString root = temp.path();
        ManualClock clock;
        HVXFileWatcher watcher;
        watcher.setClock(&clock);
        watcher.setLatency(400);
        QCOMPARE(watcher.latency(), 400);
        QSignalSpy spy(&watcher, &HVXFileWatcher::pathsChanged);
        QVERIFY(watcher.start(root));

        const QString first = root + QStringLiteral("/first");
        const QString second = root + QStringLiteral("/second");
        const QString third = root + QStringLiteral("/third");
        writeFile(first, "1");
        writeFile(second, "2");
        writeFile(first, "again", QIODevice::Append);
        writeFile(third, "3");
        QVERIFY(QFile::remove(second));

        QTRY_VERIFY_WITH_TIMEOUT(clock.isAlarmSet(), kWait);
        QCOMPARE(clock.alarmIn(), 400);
        clock.advance(399);
        QCOMPARE(spy.count(), 0);
        clock.advance(1);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toStringList(), (QStringList{first, second, third}));
        QVERIFY(!clock.isAlarmSet());

        // A later event starts a batch of its own.
        const QString fourth = root + QStringLiteral("/fourth");
        writeFile(fourth, "4");
        QTRY_VERIFY_WITH_TIMEOUT(clock.isAlarmSet(), kWait);
        QCOMPARE(clock.alarmIn(), 400);
        clock.advance(400);
        QCOMPARE(spy.count(), 2);
        QCOMPARE(spy.at(1).at(0).toStringList(), QStringList{fourth});
    }

    // A log that grows after a quiet spell is delivered at once (from the event loop, not while
    // the backend reads), long before the latency; a write right after it waits for the latency
    // again, and one after another quiet spell is at once again.
    void aWriteAfterAQuietSpellIsDeliveredAtOnce()
    {
        QTemporaryDir temp;
        const QString log = temp.path() + QStringLiteral("/log.jsonl");
        writeFile(log, "1\n");
        ManualClock clock;
        HVXFileWatcher watcher;
        watcher.setClock(&clock);
        watcher.setLatency(6000);
        QSignalSpy spy(&watcher, &HVXFileWatcher::pathsChanged);
        QVERIFY(watcher.start(temp.path()));

        writeFile(log, "2\n", QIODevice::Append);
        QTRY_VERIFY_WITH_TIMEOUT(clock.isAlarmSet(), kWait);
        QCOMPARE(clock.alarmIn(), 0);
        QCOMPARE(spy.count(), 0);
        clock.advance(0);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toStringList(), QStringList{log});

        clock.advance(10);
        writeFile(log, "3\n", QIODevice::Append);
        QTRY_VERIFY_WITH_TIMEOUT(clock.isAlarmSet(), kWait);
        QCOMPARE(clock.alarmIn(), 6000);
        clock.advance(5999);
        QCOMPARE(spy.count(), 1);
        clock.advance(1);
        QCOMPARE(spy.count(), 2);

        clock.advance(6000);
        writeFile(log, "4\n", QIODevice::Append);
        QTRY_VERIFY_WITH_TIMEOUT(clock.isAlarmSet(), kWait);
        QCOMPARE(clock.alarmIn(), 0);
        clock.advance(0);
        QCOMPARE(spy.count(), 3);
    }

    void stopReleasesEverythingAndRestartWorks()
    {
        QTemporaryDir temp;
        const QString root = temp.path();
        QVERIFY(QDir(root).mkpath(QStringLiteral("sub")));
        const int inotifyBefore = openInotifyInstances();
        HVXFileWatcher watcher;
        watcher.setLatency(20);
        Recorder recorder(watcher);

        QVERIFY(watcher.start(root));
        QCOMPARE(openInotifyInstances(), inotifyBefore + 1);
        // An undelivered batch is dropped by stop().
        writeFile(root + QStringLiteral("/before-stop"), "x");
        watcher.stop();
        QVERIFY(!watcher.isRunning());
        QCOMPARE(watcher.watchCount(), 0);
        QCOMPARE(openInotifyInstances(), inotifyBefore);
        writeFile(root + QStringLiteral("/sub/while-stopped"), "x");

        for (int i = 0; i < 20; ++i) {
            QVERIFY(watcher.start(root));
            watcher.stop();
        }
        QCOMPARE(openInotifyInstances(), inotifyBefore);

        QVERIFY(watcher.start(root));
        QVERIFY(watcher.start(root)); // a second start replaces the first watch
        QCOMPARE(openInotifyInstances(), inotifyBefore + 1);
        const QString after = root + QStringLiteral("/sub/after-restart");
        writeFile(after, "x");
        QTRY_VERIFY_WITH_TIMEOUT(recorder.saw(after), kWait);
        // Nothing from before the stop or while stopped came, then or with this batch.
        QCOMPARE(recorder.allPaths(), QStringList{after});
    }

    void symbolicLinksToDirectoriesAreNotFollowed()
    {
        QTemporaryDir temp;
        const QString root = temp.path();
        QVERIFY(QDir(root).mkpath(QStringLiteral("a/b")));
        QVERIFY(QDir(root).mkpath(QStringLiteral("c")));
        QVERIFY(QFile::link(root + QStringLiteral("/a"), root + QStringLiteral("/a/b/link")));
        QVERIFY(QFile::link(root + QStringLiteral("/a"), root + QStringLiteral("/c/toA")));

        HVXFileWatcher watcher;
        watcher.setLatency(20);
        Recorder recorder(watcher);
        QVERIFY(watcher.start(root));
        QCOMPARE(watcher.watchCount(), 4); // root, a, a/b, c

        // A link made while watching is reported as an entry and not entered either.
        const QString newLink = root + QStringLiteral("/c/toRoot");
        QVERIFY(QFile::link(root, newLink));
        const QString inB = root + QStringLiteral("/a/b/file");
        writeFile(inB, "x");
        QTRY_VERIFY_WITH_TIMEOUT(recorder.saw(inB) && recorder.saw(newLink), kWait);
        QCOMPARE(watcher.watchCount(), 4);
        for (const QString &path : recorder.allPaths())
            QVERIFY2(!path.contains(QLatin1String("link/")) && !path.contains(QLatin1String("toRoot/")), qPrintable(path));
    }

    void aWatchOnOneFileReportsOnlyThatFile()
    {
        QTemporaryDir temp;
        const QString dir = temp.path();
        const QString target = dir + QStringLiteral("/session.jsonl");
        const QString neighbour = dir + QStringLiteral("/other.jsonl");
        writeFile(target, "1\n");
        writeFile(neighbour, "1\n");

        HVXFileWatcher watcher;
        watcher.setLatency(20);
        Recorder recorder(watcher);
        QVERIFY(watcher.start(target));
        QCOMPARE(watcher.watchCount(), 1);

        writeFile(neighbour, "2\n", QIODevice::Append);
        QVERIFY(QDir(dir).mkpath(QStringLiteral("sub")));
        writeFile(target, "2\n", QIODevice::Append);
        QTRY_VERIFY_WITH_TIMEOUT(recorder.saw(target), kWait);

        // An atomic save: write elsewhere, rename over the file.
        recorder.clear();
        const QString temporary = dir + QStringLiteral("/session.jsonl.tmp");
        writeFile(temporary, "replaced\n");
        QVERIFY(::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(target).constData()) == 0);
        QTRY_VERIFY_WITH_TIMEOUT(recorder.saw(target), kWait);

        // The replacement is a new file; it is still the one watched.
        recorder.clear();
        writeFile(target, "3\n", QIODevice::Append);
        QTRY_VERIFY_WITH_TIMEOUT(recorder.saw(target), kWait);

        recorder.clear();
        QVERIFY(QFile::remove(target));
        QTRY_VERIFY_WITH_TIMEOUT(recorder.saw(target), kWait);
        writeFile(target, "back\n");
        QTRY_VERIFY_WITH_TIMEOUT(recorder.batches().size() >= 2, kWait);

        QCOMPARE(watcher.watchCount(), 1);
        for (const QStringList &batch : recorder.batches())
            QCOMPARE(batch, QStringList{target});
    }

    void aMissingPathIsLoggedAndNotWatched()
    {
        LogCapture capture;
        HVXFileWatcher watcher;
        const QString missing = QDir::tempPath() + QStringLiteral("/tavlo-no-such-dir-4711/projects");
        QVERIFY(!watcher.start(missing));
        QVERIFY(!watcher.isRunning());
        QCOMPARE(watcher.watchCount(), 0);
        QCOMPARE(capture.count(missing), 1);
        QVERIFY(capture.matching(missing).first().contains(QLatin1String("WARNING: Cannot watch")));

        QVERIFY(!watcher.start(QString()));
        QCOMPARE(capture.count(QStringLiteral("Cannot watch an empty path")), 1);

        // A failed start also ends the watch that ran before it.
        QTemporaryDir temp;
        QVERIFY(watcher.start(temp.path()));
        QVERIFY(!watcher.start(missing));
        QVERIFY(!watcher.isRunning());
    }

    void runningOutOfWatchesWarnsOnceAndKeepsWorking()
    {
        QTemporaryDir temp;
        const QString root = temp.path();
        for (int i = 0; i < 5; ++i)
            QVERIFY(QDir(root).mkpath(QStringLiteral("dir%1").arg(i)));
        LogCapture capture;
        HVXFileWatcher watcher;
        watcher.setLatency(20);
        watcher.setWatchLimit(3);
        Recorder recorder(watcher);
        QVERIFY(watcher.start(root));
        QCOMPARE(watcher.watchCount(), 3);
        QCOMPARE(capture.count(QStringLiteral("WARNING: Out of file-system watches")), 1);

        QVERIFY(QDir(root).mkpath(QStringLiteral("more/andmore")));
        const QString inRoot = root + QStringLiteral("/still-seen");
        writeFile(inRoot, "x");
        QTRY_VERIFY_WITH_TIMEOUT(recorder.saw(inRoot), kWait);
        QVERIFY(recorder.saw(root + QStringLiteral("/more")));
        QCOMPARE(watcher.watchCount(), 3);
        QCOMPARE(capture.count(QStringLiteral("Out of file-system watches")), 1);

        // A fresh start is a fresh chance to warn.
        QVERIFY(watcher.start(root));
        QCOMPARE(capture.count(QStringLiteral("Out of file-system watches")), 2);
    }

    // With no descriptor left for another watcher, starting fails with one warning, not an error
    // per watcher.
    void runningOutOfWatchersWarnsOnce()
    {
        QTemporaryDir temp;
        rlimit saved{};
        QVERIFY(getrlimit(RLIMIT_NOFILE, &saved) == 0);
        // New descriptors take the lowest free number: a limit at that number leaves none.
        const int lowestFree = dup(0);
        QVERIFY(lowestFree >= 0);
        close(lowestFree);
        LogCapture capture;
        HVXFileWatcher first, second;
        rlimit tight = saved;
        tight.rlim_cur = rlim_t(lowestFree);
        QVERIFY(setrlimit(RLIMIT_NOFILE, &tight) == 0);
        const bool started = first.start(temp.path()) || second.start(temp.path());
        setrlimit(RLIMIT_NOFILE, &saved);
        QVERIFY(!started);
        QCOMPARE(capture.count(QStringLiteral("WARNING: Out of file-system watchers")), 1);
        QCOMPARE(capture.count(QStringLiteral("ERROR")), 0);
        QVERIFY(first.start(temp.path()));
    }

    void lostEventsReportTheRootAndWatchWhatWasMissed()
    {
        QTemporaryDir temp;
        const QString root = temp.path();
        const QString flood = root + QStringLiteral("/flood");
        QVERIFY(QDir(root).mkpath(QStringLiteral("flood")));
        HVXFileWatcher watcher;
        watcher.setLatency(20);
        Recorder recorder(watcher);
        QVERIFY(watcher.start(root));

        // More events than the system queues (fs.inotify.max_queued_events) while the loop sleeps.
        QFile limitFile(QStringLiteral("/proc/sys/fs/inotify/max_queued_events"));
        QVERIFY(limitFile.open(QIODevice::ReadOnly));
        const int limit = limitFile.readAll().trimmed().toInt();
        if (limit <= 0 || limit > 200000)
            QSKIP("The system's event queue is too large to overflow in a test");
        for (int i = 0; i < limit + 100; ++i) {
            QFile file(flood + QStringLiteral("/f%1").arg(i));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        QVERIFY(QDir(root).mkpath(QStringLiteral("late")));

        QTRY_VERIFY_WITH_TIMEOUT(recorder.saw(root), 20000);
        const QString inLate = root + QStringLiteral("/late/file");
        writeFile(inLate, "x");
        QTRY_VERIFY_WITH_TIMEOUT(recorder.saw(inLate), kWait);
    }

    void aThousandProjectDirectories()
    {
        QTemporaryDir temp;
        const QString root = temp.path();
        for (int i = 0; i < 1000; ++i) {
            const QString project = QStringLiteral("-home-user-project%1").arg(i);
            QVERIFY(QDir(root).mkpath(project + QStringLiteral("/session/subagents")));
            writeFile(root + QLatin1Char('/') + project + QStringLiteral("/session.jsonl"), "{}\n");
        }
        HVXFileWatcher watcher;
        watcher.setLatency(20);
        Recorder recorder(watcher);
        QVERIFY(watcher.start(root));
        QCOMPARE(watcher.watchCount(), 1 + 3000);

        const QString deep = root + QStringLiteral("/-home-user-project999/session/subagents/agent-1.jsonl");
        writeFile(deep, "{}\n");
        QTRY_VERIFY_WITH_TIMEOUT(recorder.saw(deep), kWait);
        watcher.stop();
        QCOMPARE(watcher.watchCount(), 0);
    }
};

QTEST_GUILESS_MAIN(TestFileWatcher)
#include "tst_filewatcher.moc"
