// The inputs kept for each reader of outside bytes (fuzz/regressions/<target>/), read again by it:
// hostile shapes written by hand, and every input with which fuzzing once crashed a reader or
// broke a sanitizer's rule. The fuzz programs start from them too.

#include "../../fuzz/support/TVLFuzzTargets.h"

#include <QDir>
#include <QGuiApplication>
#include <QTest>

class TestFuzzRegressions : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { TVLFuzzTargets::setUp(); }

    void keptInputsReadWithoutHarm_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("path");
        const QDir regressions(QStringLiteral(TAVLO_FUZZ_REGRESSIONS));
        for (const TVLFuzzTargets::Target &target : TVLFuzzTargets::all()) {
            const QDir dir(regressions.filePath(QLatin1String(target.name)));
            for (const QString &name : dir.entryList(QDir::Files | QDir::Hidden, QDir::Name))
                QTest::newRow(qPrintable(QStringLiteral("%1/%2").arg(QLatin1String(target.name), name)))
                    << QString::fromLatin1(target.name) << dir.filePath(name);
        }
    }

    void keptInputsReadWithoutHarm()
    {
        QFETCH(QString, target);
        QFETCH(QString, path);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray input = file.readAll();
        const TVLFuzzTargets::Target *reader = TVLFuzzTargets::named(target);
        QVERIFY(reader);
        reader->run(input);  // a crash or a sanitizer report fails the suite
    }
};

int main(int argc, char **argv)
{
    // The outline markup makes fonts and colours: a GUI application, on no screen.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    TestFuzzRegressions test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_fuzzregressions.moc"
