// The outline model over a real library on disk: top rows, loading on expansion, and rows that
// keep their selection and expansion while sessions grow, projects load and rows re-sort.

#include "Halvex/Foundation/HVXDefaults.h"
#include "Tavlo/DataObjects/TVLDesktop.h"
#include "Tavlo/DataObjects/TVLExchange.h"
#include "Tavlo/DataObjects/TVLProject.h"
#include "Tavlo/DataObjects/TVLRoot.h"
#include "Tavlo/DataObjects/TVLSession.h"
#include "Tavlo/DataObjects/TVLSubagent.h"
#include "Tavlo/Viewer/TVLOutlineModel.h"
#include "TranscriptBuilder.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTreeView>
#include <QtTest>

using namespace TranscriptBuilder;

namespace {
QString stamp(int minute) { return QStringLiteral("2025-03-01T10:%1:00.000Z").arg(minute, 2, 10, QLatin1Char('0')); }

// A session of `exchanges` prompts with answers, the last one at the given minute.
QString writeSession(const QString &path, const QString &tag, int exchanges, int lastMinute)
{
    QList<QJsonObject> lines;
    for (int i = 1; i <= exchanges; ++i) {
        const int minute = lastMinute - exchanges + i;
        lines << prompt(QStringLiteral("%1-p%2").arg(tag).arg(i), QStringLiteral("question %1").arg(i), stamp(minute))
              << assistant(QStringLiteral("%1-a%2").arg(tag).arg(i), QStringLiteral("answer"),
                           QStringLiteral("%1-m%2").arg(tag).arg(i), usage(1000, 234567), stamp(minute));
    }
    return write(path, lines);
}

void setModified(const QString &path, const QDateTime &date)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.setFileTime(date, QFileDevice::FileModificationTime));
}

QStringList rowTitles(const QAbstractItemModel &model, const QModelIndex &parent = {})
{
    QStringList titles;
    for (int row = 0; row < model.rowCount(parent); ++row)
        titles << model.index(row, 0, parent).data().toString();
    return titles;
}
} // namespace

class TestOutline : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    int m_serial = 0;

    QString newRoot()
    {
        const QString root = m_dir.filePath(QStringLiteral("r%1/projects").arg(++m_serial));
        QDir().mkpath(root);
        return root;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        HVXDefaults::useStoreAtPath(m_dir.filePath("settings.ini"));
        // Sessions titled by file name keep the rows easy to read.
        HVXDefaults::standard().setInteger(QStringLiteral("TVLSessionDisplayMode"), 0);
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    }

    void topRowsAndLoadingOnExpansion()
    {
        const QString root = newRoot();
        writeSession(root + "/-home-me-app/a.jsonl", "a", 2, 10);
        writeSession(root + "/-home-me-app/b.jsonl", "b", 1, 20);
        writeSession(root + "/-home-me-tool/t.jsonl", "t", 1, 5);
        const auto logRoot = TVLRoot::initWithRootDir(root);
        logRoot->setSortMode(TVLRoot::SortByName);

        TVLOutlineModel model;
        model.setContentObject(logRoot);
        QCOMPARE(model.rowCount(), 2);
        QVERIFY(rowTitles(model).join(',').startsWith("app"));
        const QModelIndex app = model.index(0, 0);
        auto *project = dynamic_cast<TVLProject *>(model.objectForIndex(app));
        QVERIFY(project);
        // Listing the projects reads no transcript.
        QVERIFY(!project->isLoaded());
        QVERIFY(model.hasChildren(app));
        QCOMPARE(model.rowCount(app), 0);
        QVERIFY(model.canFetchMore(app));

        QSignalSpy willLoad(&model, &TVLOutlineModel::projectWillLoad);
        model.fetchMore(app);
        QVERIFY(project->isLoaded());
        QCOMPARE(willLoad.count(), 1);
        // The tester fetches every row there is, so it comes once the lazy part is checked.
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QCOMPARE(rowTitles(model, app), (QStringList{"a.jsonl", "b.jsonl"}));
        // Token counts with the locale's grouping.
        const QModelIndex a = model.index(0, 0, app);
        QCOMPARE(model.index(0, TVLOutlineModel::OutputTokensColumn, app).data().toString(), QStringLiteral("469,134"));
        QCOMPARE(model.index(0, TVLOutlineModel::InputTokensColumn, app).data().toString(), QStringLiteral("2,000"));
        QCOMPARE(model.headerData(TVLOutlineModel::CacheReadTokensColumn, Qt::Horizontal, Qt::ToolTipRole).toString(),
                 QStringLiteral("Cache Read Tokens"));
        // Exchanges are leaves.
        model.fetchMore(a);
        QCOMPARE(model.rowCount(a), 2);
        QVERIFY(!model.hasChildren(model.index(0, 0, a)));

        // A window on a project shows the project itself as its one row.
        TVLOutlineModel projectModel;
        projectModel.setContentObject(TVLProject::initWithRootDir(root + "/-home-me-tool"));
        QCOMPARE(projectModel.rowCount(), 1);
        QCOMPARE(projectModel.objectForIndex(projectModel.index(0, 0)), projectModel.contentObject().get());
    }

    void growingSessionKeepsSelectionAndExpansion()
    {
        const QString root = newRoot();
        const QString path = writeSession(root + "/-home-me-app/s.jsonl", "s", 2, 10);
        const auto project = TVLProject::initWithRootDir(root + "/-home-me-app");

        TVLOutlineModel model;
        model.setContentObject(project);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QTreeView view;
        view.setModel(&model);
        const QModelIndex projectRow = model.index(0, 0);
        view.expand(projectRow);
        QModelIndex sessionRow = model.index(0, 0, projectRow);
        view.expand(sessionRow);
        QCOMPARE(model.rowCount(sessionRow), 2);
        auto *session = dynamic_cast<TVLSession *>(model.objectForIndex(sessionRow));
        QVERIFY(session);
        TVLObject *oldSecond = model.objectForIndex(model.index(1, 0, sessionRow));
        view.selectionModel()->select(model.index(1, 0, sessionRow), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);

        append(path, {line(prompt("s-p3", "third", stamp(11))), line(assistant("s-a3", "more", "s-m3", usage(5, 5), stamp(11)))});
        QVERIFY(session->updateMessages());
        model.processPendingChanges();

        QCOMPARE(model.rowCount(sessionRow), 3);
        QVERIFY(view.isExpanded(sessionRow));
        const QModelIndexList selected = view.selectionModel()->selectedRows();
        QCOMPARE(selected.size(), 1);
        auto *exchange = dynamic_cast<TVLExchange *>(model.objectForIndex(selected.first()));
        QVERIFY(exchange);
        // The exchange was rebuilt by the read; its row is the same row with the new node.
        QCOMPARE(exchange->uuid(), QStringLiteral("s-p2"));
        QVERIFY(exchange != oldSecond);
        QCOMPARE(exchange, session->exchangeWithUuid("s-p2").get());
        QCOMPARE(dynamic_cast<TVLExchange *>(model.objectForIndex(model.index(2, 0, sessionRow)))->uuid(), QStringLiteral("s-p3"));

        // Without asking: the announcements alone bring the rows up to date once the loop runs.
        append(path, {line(prompt("s-p4", "fourth", stamp(12)))});
        QVERIFY(session->updateMessages());
        QTRY_COMPARE(model.rowCount(sessionRow), 4);
        QCOMPARE(view.selectionModel()->selectedRows().size(), 1);
    }

    void reSortMovesRowsWithTheirState()
    {
        const QString root = newRoot();
        const QString dir = root + "/-home-me-app";
        const QString oldest = writeSession(dir + "/old.jsonl", "o", 1, 1);
        writeSession(dir + "/mid.jsonl", "m", 1, 2);
        writeSession(dir + "/new.jsonl", "n", 1, 3);
        const auto project = TVLProject::initWithRootDir(dir);
        TVLOutlineModel model;
        model.setContentObject(project);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QTreeView view;
        view.setModel(&model);
        const QModelIndex projectRow = model.index(0, 0);
        view.expand(projectRow);
        QCOMPARE(rowTitles(model, projectRow), (QStringList{"old.jsonl", "mid.jsonl", "new.jsonl"}));
        const QModelIndex oldRow = model.index(0, 0, projectRow);
        view.expand(oldRow);
        view.selectionModel()->select(oldRow, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);

        // The oldest session is written to: it changes last and moves to the end.
        append(oldest, {line(prompt("o-p2", "again", stamp(30)))});
        project->pathDidUpdate(oldest);
        model.processPendingChanges();
        QCOMPARE(rowTitles(model, projectRow), (QStringList{"mid.jsonl", "new.jsonl", "old.jsonl"}));
        const QModelIndex moved = model.index(2, 0, projectRow);
        QVERIFY(view.isExpanded(moved));
        QCOMPARE(view.selectionModel()->selectedRows(), QModelIndexList{moved});
        QCOMPARE(model.rowCount(moved), 2);
    }

    void wholeReSortOfManyRows()
    {
        const QString root = newRoot();
        // Names in one order, dates in the opposite one.
        for (int i = 0; i < 40; ++i) {
            const QString session = writeSession(root + QStringLiteral("/-home-p%1/s.jsonl").arg(i, 2, 10, QLatin1Char('0')), "x", 1, i + 1);
            setModified(session, QDateTime(QDate(2025, 1, 1), QTime(0, 0), Qt::UTC).addDays(i));
        }
        const auto logRoot = TVLRoot::initWithRootDir(root);
        logRoot->setSortMode(TVLRoot::SortByName);
        TVLOutlineModel model;
        model.setContentObject(logRoot);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QTreeView view;
        view.setModel(&model);
        QCOMPARE(model.rowCount(), 40);
        const QModelIndex first = model.index(0, 0);
        TVLObject *firstProject = model.objectForIndex(first);
        view.expand(first);
        view.selectionModel()->select(model.index(5, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        TVLObject *selectedProject = model.objectForIndex(model.index(5, 0));

        logRoot->setSortMode(TVLRoot::SortByRecentUse);
        model.processPendingChanges();
        QCOMPARE(model.rowCount(), 40);
        QVERIFY(model.objectForIndex(model.index(0, 0)) != firstProject);
        const QModelIndex firstNow = model.indexForObject(firstProject);
        QVERIFY(firstNow.isValid());
        QVERIFY(view.isExpanded(firstNow));
        const QModelIndexList selected = view.selectionModel()->selectedRows();
        QCOMPARE(selected.size(), 1);
        QCOMPARE(model.objectForIndex(selected.first()), selectedProject);
    }

    void removedSessionsAndIndexPaths()
    {
        const QString root = newRoot();
        const QString dir = root + "/-home-me-app";
        writeSession(dir + "/a.jsonl", "a", 1, 1);
        const QString gone = writeSession(dir + "/b.jsonl", "b", 3, 4);
        const auto project = TVLProject::initWithRootDir(dir);
        TVLOutlineModel model;
        model.setContentObject(project);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);

        // Finding a row opens the rows above it.
        auto session = project->sessionLookup().value(gone);
        const auto exchange = session->exchangeWithUuid("b-p3");
        const QModelIndex exchangeRow = model.indexForObject(exchange.get());
        QVERIFY(exchangeRow.isValid());
        QCOMPARE(model.indexPathForIndex(exchangeRow), (HVXIndexPath{0, 1, 2}));
        QCOMPARE(model.indexForIndexPath({0, 1, 2}), exchangeRow);
        QVERIFY(!model.indexForIndexPath({0, 7}).isValid());

        QVERIFY(QFile::remove(gone));
        project->updateSessions();
        model.processPendingChanges();
        QCOMPARE(rowTitles(model, model.index(0, 0)), QStringList{"a.jsonl"});
        QVERIFY(!model.indexOfFetchedObject(exchange.get()).isValid());
    }

    void rowColoursAndDebugRows()
    {
        const QString root = newRoot();
        const QString path = writeSession(root + "/-home-me-app/s.jsonl", "s", 1, 1);
        write(path.chopped(6) + "/subagents/agent-x1.jsonl", QList<QJsonObject>{prompt("x-p", "agent work", stamp(2))});
        const auto project = TVLProject::initWithRootDir(root + "/-home-me-app");
        TVLOutlineModel model;
        model.setContentObject(project);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        const QModelIndex sessionRow = model.indexForObject(project->sessionLookup().first().get());
        model.fetchMore(sessionRow);
        QModelIndex subagentRow;
        for (int row = 0; row < model.rowCount(sessionRow); ++row)
            if (dynamic_cast<TVLSubagent *>(model.objectForIndex(model.index(row, 0, sessionRow))))
                subagentRow = model.index(row, 0, sessionRow);
        QVERIFY(subagentRow.isValid());
        QCOMPARE(subagentRow.data(Qt::ForegroundRole).value<QBrush>().color(), QColor::fromRgbF(float(HVXSystemColor::red().red), float(HVXSystemColor::red().green), float(HVXSystemColor::red().blue)));
        // Ordinary rows take the palette's text colour.
        QVERIFY(!sessionRow.data(Qt::ForegroundRole).isValid());

        // Data debug mode gives exchanges their messages as children.
        const QModelIndex exchangeRow = model.index(0, 0, sessionRow);
        QVERIFY(!model.hasChildren(exchangeRow));
        TVLDesktop::current().setDataDebugMode(true);
        model.refreshAllRows();
        QVERIFY(model.hasChildren(exchangeRow));
        model.fetchMore(exchangeRow);
        QCOMPARE(model.rowCount(exchangeRow), 2);
        TVLDesktop::current().setDataDebugMode(false);
        model.refreshAllRows();
        QCOMPARE(model.rowCount(exchangeRow), 0);
        QVERIFY(!model.hasChildren(exchangeRow));
    }
};

QTEST_MAIN(TestOutline)
#include "tst_outline.moc"
