#include "Halvex/Foundation/HVXDefaults.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

class TestDefaults : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_temp;
    QString iniPath(const QString &name) const { return m_temp.filePath(name + QStringLiteral(".ini")); }

private Q_SLOTS:
    void registeredDefaultsAnswerUntilTheUserSetsAValue()
    {
        auto defaults = HVXDefaults::createWithStoreAtPath(iniPath(QStringLiteral("registered")));
        defaults->registerDefaults({{QStringLiteral("TVLDefaultVisiblePatchLines"), 16},
                                    {QStringLiteral("TVLSessionUseRelativeTime"), true},
                                    {QStringLiteral("Ratio"), 0.5},
                                    {QStringLiteral("Name"), QStringLiteral("palette")}});
        QCOMPARE(defaults->integerForKey(QStringLiteral("TVLDefaultVisiblePatchLines")), 16);
        QVERIFY(defaults->boolForKey(QStringLiteral("TVLSessionUseRelativeTime")));
        QCOMPARE(defaults->doubleForKey(QStringLiteral("Ratio")), 0.5);
        QCOMPARE(defaults->stringForKey(QStringLiteral("Name")), QStringLiteral("palette"));
        QVERIFY(!defaults->contains(QStringLiteral("TVLDefaultVisiblePatchLines")));

        // Unknown keys read as nothing.
        QVERIFY(!defaults->value(QStringLiteral("Unknown")).isValid());
        QCOMPARE(defaults->integerForKey(QStringLiteral("Unknown")), 0);
        QVERIFY(!defaults->boolForKey(QStringLiteral("Unknown")));
        QVERIFY(defaults->stringForKey(QStringLiteral("Unknown")).isEmpty());
        QVERIFY(defaults->listForKey(QStringLiteral("Unknown")).isEmpty());

        defaults->setInteger(QStringLiteral("TVLDefaultVisiblePatchLines"), 40);
        QVERIFY(defaults->contains(QStringLiteral("TVLDefaultVisiblePatchLines")));
        QCOMPARE(defaults->integerForKey(QStringLiteral("TVLDefaultVisiblePatchLines")), 40);
        QCOMPARE(defaults->registeredValue(QStringLiteral("TVLDefaultVisiblePatchLines")).toInt(), 16);

        // Registering again replaces the registered value, not the user's.
        defaults->registerDefaults({{QStringLiteral("TVLDefaultVisiblePatchLines"), 8}});
        QCOMPARE(defaults->integerForKey(QStringLiteral("TVLDefaultVisiblePatchLines")), 40);

        defaults->remove(QStringLiteral("TVLDefaultVisiblePatchLines"));
        QVERIFY(!defaults->contains(QStringLiteral("TVLDefaultVisiblePatchLines")));
        QCOMPARE(defaults->integerForKey(QStringLiteral("TVLDefaultVisiblePatchLines")), 8);
    }

    void typedValuesSurviveTheStore()
    {
        const QString path = iniPath(QStringLiteral("persist"));
        const QVariantMap recent{{QStringLiteral("path"), QStringLiteral("/home/u/.claude/projects/-p")},
                                 {QStringLiteral("exchangeUuid"), QStringLiteral("A1B2")}};
        {
            auto writer = HVXDefaults::createWithStoreAtPath(path);
            writer->setInteger(QStringLiteral("Count"), 1234567890123);
            writer->setBool(QStringLiteral("Off"), false);
            writer->setBool(QStringLiteral("On"), true);
            writer->setValue(QStringLiteral("Ratio"), 0.25);
            writer->setValue(QStringLiteral("Text"), QStringLiteral("a, b; \"c\" ü"));
            writer->setValue(QStringLiteral("Bytes"), QByteArray("\x00\x01\xff", 3));
            writer->setValue(QStringLiteral("One"), QVariantList{recent});
            writer->setValue(QStringLiteral("Two"), QVariantList{recent, recent});
            writer->setValue(QStringLiteral("Words"), QStringList{QStringLiteral("only")});
            writer->setValue(QStringLiteral("Empty"), QVariantList{});
            writer->sync();
        }
        // QSettings keeps the values of a file it wrote in memory; a copy is read from its text.
        const QString copy = iniPath(QStringLiteral("persist-copy"));
        QVERIFY(QFile::copy(path, copy));
        auto reader = HVXDefaults::createWithStoreAtPath(copy);
        QCOMPARE(reader->value(QStringLiteral("Off")).typeId(), QMetaType::QString);
        // A registered true must not hide the stored false (INI files give "false" back as text).
        reader->registerDefaults({{QStringLiteral("Off"), true}, {QStringLiteral("On"), false}});
        QCOMPARE(reader->integerForKey(QStringLiteral("Count")), 1234567890123);
        QVERIFY(!reader->boolForKey(QStringLiteral("Off")));
        QVERIFY(reader->boolForKey(QStringLiteral("On")));
        QCOMPARE(reader->doubleForKey(QStringLiteral("Ratio")), 0.25);
        QCOMPARE(reader->stringForKey(QStringLiteral("Text")), QStringLiteral("a, b; \"c\" ü"));
        QCOMPARE(reader->dataForKey(QStringLiteral("Bytes")), QByteArray("\x00\x01\xff", 3));
        QCOMPARE(reader->listForKey(QStringLiteral("Two")), (QVariantList{recent, recent}));
        // A list of one entry is still a list when read back.
        QCOMPARE(reader->listForKey(QStringLiteral("One")), QVariantList{recent});
        QCOMPARE(reader->listForKey(QStringLiteral("Words")), QVariantList{QStringLiteral("only")});
        QVERIFY(reader->contains(QStringLiteral("Empty")));
        QVERIFY(reader->listForKey(QStringLiteral("Empty")).isEmpty());
    }

    void removalReachesTheStore()
    {
        const QString path = iniPath(QStringLiteral("removal"));
        auto first = HVXDefaults::createWithStoreAtPath(path);
        first->setValue(QStringLiteral("Gone"), QStringLiteral("soon"));
        first->setValue(QStringLiteral("Kept"), QStringLiteral("here"));
        first->sync();
        first->remove(QStringLiteral("Gone"));
        first->sync();
        const QString copy = iniPath(QStringLiteral("removal-copy"));
        QVERIFY(QFile::copy(path, copy));
        auto second = HVXDefaults::createWithStoreAtPath(copy);
        QVERIFY(!second->contains(QStringLiteral("Gone")));
        QCOMPARE(second->stringForKey(QStringLiteral("Kept")), QStringLiteral("here"));
        QCOMPARE(second->storePath(), copy);
    }

    void changesAreAnnouncedPerKey()
    {
        auto defaults = HVXDefaults::createWithStoreAtPath(iniPath(QStringLiteral("changes")));
        QSignalSpy spy(defaults.get(), &HVXDefaults::changed);
        int heardA = 0;
        auto context = std::make_unique<QObject>();
        defaults->observe(QStringLiteral("A"), context.get(), [&] { ++heardA; });

        defaults->setValue(QStringLiteral("A"), 1);
        defaults->setBool(QStringLiteral("B"), true);
        defaults->remove(QStringLiteral("A"));
        QCOMPARE(spy.count(), 3);
        QCOMPARE(spy.at(0).at(0).toString(), QStringLiteral("A"));
        QCOMPARE(spy.at(1).at(0).toString(), QStringLiteral("B"));
        QCOMPARE(spy.at(2).at(0).toString(), QStringLiteral("A"));
        QCOMPARE(heardA, 2);

        context.reset();
        defaults->setValue(QStringLiteral("A"), 2);
        QCOMPARE(heardA, 2);
    }

    void theStandardDefaultsKeepObserversAndRegistrationsWhenTheStoreMoves()
    {
        HVXDefaults::useStoreAtPath(iniPath(QStringLiteral("standard-1")));
        HVXDefaults &defaults = HVXDefaults::standard();
        defaults.registerDefaults({{QStringLiteral("TVLRootSortMode"), 1}});
        defaults.setInteger(QStringLiteral("TVLRootSortMode"), 3);
        int heard = 0;
        QObject context;
        defaults.observe(QStringLiteral("TVLRootSortMode"), &context, [&] { ++heard; });

        HVXDefaults::useStoreAtPath(iniPath(QStringLiteral("standard-2")));
        QCOMPARE(&HVXDefaults::standard(), &defaults);
        QCOMPARE(defaults.storePath(), iniPath(QStringLiteral("standard-2")));
        QCOMPARE(defaults.integerForKey(QStringLiteral("TVLRootSortMode")), 1);
        defaults.setInteger(QStringLiteral("TVLRootSortMode"), 2);
        QCOMPARE(heard, 1);

        // The first store kept its value.
        auto first = HVXDefaults::createWithStoreAtPath(iniPath(QStringLiteral("standard-1")));
        QCOMPARE(first->integerForKey(QStringLiteral("TVLRootSortMode")), 3);
    }
};

QTEST_GUILESS_MAIN(TestDefaults)
#include "tst_defaults.moc"
