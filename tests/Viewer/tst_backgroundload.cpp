// A big project read in the background, in the viewer window with the real web engine: the
// row and the page follow the read, another session can be read meanwhile, and a window that
// closes mid-load drops the load. The read is held on one of the project's transcripts: the
// worker waits, with it open, until the test has written its lines.

#include "Halvex/AppKit/HVXOutlineView.h"
#include "Halvex/AppKit/HVXWindowController.h"
#include "Halvex/AppKit/HVXWindows.h"
#include "Halvex/Foundation/HVXDefaults.h"
#include "Tavlo/DataObjects/TVLExchange.h"
#include "Tavlo/DataObjects/TVLProject.h"
#include "Tavlo/DataObjects/TVLSession.h"
#include "Tavlo/Viewer/TVLOutlineModel.h"
#include "Tavlo/Viewer/TVLPageController.h"
#include "Tavlo/Viewer/TVLViewerViewController.h"
#include "TranscriptBuilder.h"
#include "WebEngineEnvironment.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <condition_variable>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

using namespace TranscriptBuilder;

namespace {
const QString viewerClass = QString::fromLatin1(TVLViewerViewController::className);

QString writeSession(const QString &path, const QString &tag, int exchanges)
{
    QList<QJsonObject> lines;
    for (int i = 1; i <= exchanges; ++i)
        lines << prompt(QStringLiteral("%1-p%2").arg(tag).arg(i), QStringLiteral("question %1").arg(i))
              << assistant(QStringLiteral("%1-a%2").arg(tag).arg(i), QStringLiteral("answer %1").arg(i));
    return write(path, lines);
}

// A transcript the worker blocks on: an empty file that the worker, once it has it open, waits
// on until the test has removed it from the directory (nothing else opens it), appended its lines
// through a descriptor of its own and let the worker go on.
struct HeldTranscript
{
    QString path;
    int fd = -1;
    std::mutex mutex;
    std::condition_variable changed;
    bool workerWaiting = false;
    bool released = false;

    bool create(const QString &at)
    {
        path = at;
        fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        TVLSession::setOpenedForReadingObserver([this](const QString &opened) {
            if (opened != path || QThread::currentThread() == qApp->thread())
                return;
            std::unique_lock lock(mutex);
            workerWaiting = true;
            changed.notify_all();
            changed.wait(lock, [&] { return released; });
        });
        return fd >= 0;
    }
    bool release()
    {
        const bool waiting = QTest::qWaitFor([&] {
            std::lock_guard lock(mutex);
            return workerWaiting;
        }, 20000);
        ::unlink(QFile::encodeName(path).constData());
        const QByteArray lines = (line(prompt("held-p", "held question")) + QLatin1Char('\n')).toUtf8();
        const bool written = fd >= 0 && ::write(fd, lines.constData(), size_t(lines.size())) == lines.size();
        letGo();
        return waiting && written;
    }
    void letGo()
    {
        std::lock_guard lock(mutex);
        released = true;
        changed.notify_all();
    }
    ~HeldTranscript()
    {
        letGo();
        TVLSession::setOpenedForReadingObserver({});
        if (fd >= 0)
            ::close(fd);
    }
};

TVLViewerViewController *openViewer(const QString &path)
{
    auto *viewer = qobject_cast<TVLViewerViewController *>(
        HVXWindows::presentViewControllerOfClass(viewerClass, {{QStringLiteral("path"), path}}));
    if (viewer)
        (void)QTest::qWaitForWindowExposed(viewer->window());
    return viewer;
}

void closeAllWindows()
{
    for (HVXWindowController *window : HVXWindows::windowControllers())
        window->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void select(TVLViewerViewController *viewer, const QModelIndex &index)
{
    viewer->outlineView()->selectionModel()->select(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

QString pageNote(TVLPageController *page)
{
    QString note;
    bool answered = false;
    page->runScript(QStringLiteral("(document.getElementById('loading-note') || {}).textContent || ''"),
                    [&](const QVariant &value) {
                        note = value.toString();
                        answered = true;
                    });
    (void)QTest::qWaitFor([&] { return answered; }, 5000);
    return note;
}
} // namespace

class TestBackgroundLoad : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    int m_serial = 0;

    // A root with a small project "app" (read at once) and a big one "big" whose read is held.
    QString newRoot(HeldTranscript &held)
    {
        const QString root = m_dir.filePath(QStringLiteral("r%1/projects").arg(++m_serial));
        writeSession(root + "/-home-me-app/a.jsonl", "a", 1);
        writeSession(root + "/-home-me-big/b.jsonl", "b", 40);
        TVLProject::setBackgroundLoadThreshold(QFileInfo(root + "/-home-me-big/b.jsonl").size());
        return held.create(root + "/-home-me-big/held.jsonl") ? root : QString();
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        HVXDefaults::useStoreAtPath(m_dir.filePath("settings.ini"));
        HVXDefaults::standard().setInteger(QStringLiteral("TVLRootSortMode"), 0);
        TVLViewerViewController::registerClass();
    }

    void cleanup()
    {
        closeAllWindows();
        TVLProject::setBackgroundLoadThreshold(qint64(32) << 20);
        TVLProject::setNewestFirstThreshold(qint64(128) << 20);
    }

    void theRowAndPageFollowTheReadAndTheSelectionThenIsShown_data()
    {
        QTest::addColumn<bool>("chooseAnotherMeanwhile");
        QTest::newRow("the project stays selected") << false;
        QTest::newRow("a session of another project is chosen") << true;
    }

    void theRowAndPageFollowTheReadAndTheSelectionThenIsShown()
    {
        QFETCH(bool, chooseAnotherMeanwhile);
        HeldTranscript held;
        const QString root = newRoot(held);
        QVERIFY(!root.isEmpty());
        TVLViewerViewController *viewer = openViewer(root);
        QVERIFY(viewer);
        TVLOutlineModel *model = viewer->outlineModel();
        QCOMPARE(model->rowCount(), 2);
        const QModelIndex bigRow = model->index(1, 0);
        auto big = std::dynamic_pointer_cast<TVLProject>(model->sharedObjectForIndex(bigRow));
        QVERIFY(big && !big->isLoaded());

        select(viewer, bigRow);
        QVERIFY(big->isLoading());
        QTRY_VERIFY(model->data(bigRow, TVLOutlineModel::MarkupRole).toString().contains(QStringLiteral("Loading\u2026 0 MB of 1")));
        QCOMPARE(viewer->page()->displayedObject(), TVLObject::Ptr(big));
        QTRY_COMPARE_WITH_TIMEOUT(pageNote(viewer->page()), QStringLiteral("Loading\u2026 0 MB of 1"), 20000);

        TVLObject::Ptr expected = big;
        if (chooseAnotherMeanwhile) {
            const QModelIndex appRow = model->index(0, 0);
            QVERIFY(viewer->outlineView()->isExpanded(appRow));
            const QModelIndex sessionRow = model->index(0, 0, appRow);
            expected = model->sharedObjectForIndex(sessionRow);
            select(viewer, sessionRow);
            QCOMPARE(viewer->page()->displayedObject(), expected);
            QVERIFY(big->isLoading());
        }

        QVERIFY(held.release());
        QTRY_VERIFY_WITH_TIMEOUT(big->isLoaded() && !big->isLoading(), 20000);
        const QModelIndex loadedRow = model->indexForObject(big.get());
        QTRY_VERIFY(!model->data(loadedRow, TVLOutlineModel::MarkupRole).toString().contains("Loading"));
        viewer->outlineView()->expand(loadedRow);
        QCOMPARE(model->rowCount(loadedRow), 1);
        // Whatever is selected when the read ends is on the page, read in full.
        QTRY_COMPARE(viewer->page()->displayedObject(), expected);
        QCOMPARE(big->sessionLookup().size(), 1);
        QCOMPARE(std::dynamic_pointer_cast<TVLSession>(big->sessionLookup().first())->exchanges().size(), 40u);
    }

    void aSelectionIntoAProjectStillLoadingIsMadeOnceItLoads()
    {
        HeldTranscript held;
        const QString root = newRoot(held);
        QVERIFY(!root.isEmpty());
        TVLViewerViewController *viewer = openViewer(root);
        QVERIFY(viewer);
        auto big = std::dynamic_pointer_cast<TVLProject>(viewer->outlineModel()->sharedObjectForIndex(viewer->outlineModel()->index(1, 0)));
        viewer->setSelectionIndexPaths(QList<HVXIndexPath>{HVXIndexPath{1, 0}});
        QVERIFY(big->isLoading());
        QVERIFY(held.release());
        QTRY_VERIFY_WITH_TIMEOUT(big->isLoaded() && !big->isLoading(), 20000);
        const TVLObject::Ptr session = big->sessionLookup().first();
        QTRY_COMPARE(viewer->page()->displayedObject(), session);
        QCOMPARE(viewer->selectionIndexPaths(), std::optional<QList<HVXIndexPath>>(QList<HVXIndexPath>{HVXIndexPath{1, 0}}));
    }

    // A project whose bytes are in one big transcript is there at once: that session shows its
    // newest exchanges, reads the rest on its own, and its page and the project's totals follow.
    void aProjectOfOneBigSessionShowsItsNewestExchangesAtOnce()
    {
        const QString root = m_dir.filePath(QStringLiteral("r%1/projects").arg(++m_serial));
        writeSession(root + "/-home-me-app/a.jsonl", "a", 1);
        writeSession(root + "/-home-me-huge/small.jsonl", "s", 1);
        const int count = int(TVLSession::kNewestExchanges) + 50;
        QList<QJsonObject> lines;
        for (int i = 1; i <= count; ++i)
            lines << prompt(QStringLiteral("h-p%1").arg(i), QStringLiteral("question %1").arg(i))
                  << assistant(QStringLiteral("h-a%1").arg(i), QStringLiteral("answer %1").arg(i),
                               QStringLiteral("msg-%1").arg(i), usage(10, 1));
        const QString path = write(root + "/-home-me-huge/h.jsonl", lines);
        TVLProject::setBackgroundLoadThreshold(QFileInfo(path).size() / 2);
        TVLProject::setNewestFirstThreshold(QFileInfo(path).size());
        TVLViewerViewController *viewer = openViewer(root);
        QVERIFY(viewer);
        TVLOutlineModel *model = viewer->outlineModel();
        auto huge = std::dynamic_pointer_cast<TVLProject>(model->sharedObjectForIndex(model->index(1, 0)));
        select(viewer, model->index(1, 0));
        QVERIFY(huge && huge->isLoaded() && !huge->isLoading());
        auto session = std::dynamic_pointer_cast<TVLSession>(huge->sessionLookup().value(path));
        QVERIFY(session && session->isLoading());
        QVERIFY(session->exchanges().size() < size_t(count));
        viewer->outlineView()->expand(model->indexForObject(huge.get()));
        select(viewer, model->indexForObject(session.get()));
        QTRY_COMPARE(viewer->page()->displayedObject(), TVLObject::Ptr(session));

        QTRY_VERIFY_WITH_TIMEOUT(!session->isLoading(), 20000);
        QCOMPARE(session->exchanges().size(), size_t(count));
        QCOMPARE(huge->tokenUsage().value_or(TVLTokenUsage{}).inputTokens, qint64(10) * count);
        QTRY_COMPARE(viewer->page()->lastDisplayedExchangeCount(), unsigned(count));
    }

    void aWindowOnABigSessionReadsItInTheBackground_data()
    {
        QTest::addColumn<QString>("exchangeUuid");
        QTest::newRow("its page, at the end") << QString();
        QTest::newRow("opened on an exchange") << QStringLiteral("s-p3");
    }

    void aWindowOnABigSessionReadsItInTheBackground()
    {
        QFETCH(QString, exchangeUuid);
        const QString path = writeSession(m_dir.filePath(QStringLiteral("alone%1/s.jsonl").arg(++m_serial)), "s", 12);
        TVLProject::setBackgroundLoadThreshold(QFileInfo(path).size());
        auto *viewer = qobject_cast<TVLViewerViewController *>(HVXWindows::presentViewControllerOfClass(
            viewerClass, {{QStringLiteral("path"), path}, {QStringLiteral("exchangeUuid"), exchangeUuid}}));
        QVERIFY(viewer);
        auto session = std::dynamic_pointer_cast<TVLSession>(viewer->contentObject());
        // Its newest exchanges are read at once (here all of them, the file is short).
        QVERIFY(session && session->isLoading());
        QCOMPARE(session->exchanges().size(), 12u);
        QVERIFY(QTest::qWaitForWindowExposed(viewer->window()));

        QTRY_VERIFY_WITH_TIMEOUT(!session->isLoading(), 20000);
        QCOMPARE(session->exchanges().size(), 12u);
        QTRY_COMPARE(viewer->outlineModel()->rowCount(), 12);
        QTRY_COMPARE(viewer->page()->displayedObject(), TVLObject::Ptr(session));
        QTRY_COMPARE(viewer->page()->lastDisplayedExchangeCount(), 12u);
        if (!exchangeUuid.isEmpty()) {
            // Selected among the newest exchanges at first; the row then holds the whole read's.
            const auto selectedObject = [&]() -> TVLObject * {
                const QModelIndexList selected = viewer->outlineView()->selectionModel()->selectedRows();
                return selected.size() == 1 ? viewer->outlineModel()->objectForIndex(selected.first()) : nullptr;
            };
            QTRY_COMPARE(selectedObject(), static_cast<TVLObject *>(session->exchangeWithUuid(exchangeUuid).get()));
        }
    }

    void aWindowClosedMidLoadDropsTheLoad()
    {
        HeldTranscript held;
        const QString root = newRoot(held);
        QVERIFY(!root.isEmpty());
        TVLViewerViewController *viewer = openViewer(root);
        QVERIFY(viewer);
        std::weak_ptr<TVLObject> big = viewer->outlineModel()->sharedObjectForIndex(viewer->outlineModel()->index(1, 0));
        select(viewer, viewer->outlineModel()->index(1, 0));
        QVERIFY(std::dynamic_pointer_cast<TVLProject>(big.lock())->isLoading());
        QVERIFY(held.release());
        closeAllWindows();
        // The project went with its window; what its worker read was dropped with it.
        QTRY_VERIFY(big.expired());
    }
};

int main(int argc, char **argv)
{
    prepareWebEngineForHeadlessRuns();
    QApplication app(argc, argv);
    TestBackgroundLoad test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_backgroundload.moc"
