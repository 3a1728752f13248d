// The neighbours of an element in a list.

#include "Halvex/Foundation/Categories/HVXListNeighbours.h"

#include <QList>
#include <QtTest>

Q_DECLARE_METATYPE(std::optional<int>)

class TestLists : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void neighbours_data()
    {
        QTest::addColumn<QList<int>>("list");
        QTest::addColumn<std::optional<int>>("object");
        QTest::addColumn<std::optional<int>>("following");
        QTest::addColumn<std::optional<int>>("preceding");
        const QList<int> list{1, 2, 3, 2};
        QTest::newRow("empty list") << QList<int>{} << std::optional<int>(1) << std::optional<int>() << std::optional<int>();
        QTest::newRow("no object") << list << std::optional<int>() << std::optional<int>(1) << std::optional<int>(2);
        QTest::newRow("first occurrence counts") << list << std::optional<int>(2) << std::optional<int>(3) << std::optional<int>(1);
        QTest::newRow("first element") << list << std::optional<int>(1) << std::optional<int>(2) << std::optional<int>();
        QTest::newRow("last element") << QList<int>{1, 2, 3} << std::optional<int>(3) << std::optional<int>() << std::optional<int>(2);
        QTest::newRow("missing") << list << std::optional<int>(9) << std::optional<int>() << std::optional<int>();
    }

    void neighbours()
    {
        QFETCH(QList<int>, list);
        QFETCH(std::optional<int>, object);
        QFETCH(std::optional<int>, following);
        QFETCH(std::optional<int>, preceding);
        QCOMPARE(hvxObjectFollowing(list, object), following);
        QCOMPARE(hvxObjectPreceding(list, object), preceding);
    }
};

QTEST_GUILESS_MAIN(TestLists)
#include "tst_lists.moc"
