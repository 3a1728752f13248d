// Opening files that are not what their names say: pipes, devices, directories, huge and growing files.

#include "Halvex/Foundation/HVXSafeFile.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>
#include <unistd.h>

class TestSafeFile : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

    QString write(const QString &name, const QByteArray &bytes)
    {
        QFile file(m_dir.filePath(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("can't write %s", qPrintable(name));
        return file.fileName();
    }

private Q_SLOTS:
    void refusesWhatIsNotARegularFile_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("why");
        const QString fifo = m_dir.filePath("pipe.jsonl");
        QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
        const QString zero = m_dir.filePath("zero.jsonl");
        QVERIFY(QFile::link("/dev/zero", zero));
        const QString folder = m_dir.filePath("folder.jsonl");
        QVERIFY(QDir().mkdir(folder));
        const QString dangling = m_dir.filePath("dangling.jsonl");
        QVERIFY(QFile::link(m_dir.filePath("nowhere"), dangling));
        QTest::newRow("FIFO") << fifo << int(HVXSafeFile::Status::NotRegular) << "it is a FIFO";
        QTest::newRow("link to /dev/zero") << zero << int(HVXSafeFile::Status::NotRegular) << "it is a character device";
        QTest::newRow("directory") << folder << int(HVXSafeFile::Status::NotRegular) << "it is a directory";
        QTest::newRow("dangling link") << dangling << int(HVXSafeFile::Status::Missing) << "No such file or directory";
        QTest::newRow("missing") << m_dir.filePath("none") << int(HVXSafeFile::Status::Missing) << "No such file or directory";
    }

    void refusesWhatIsNotARegularFile()
    {
        QFETCH(QString, path);
        QFETCH(int, status);
        QFETCH(QString, why);
        QElapsedTimer timer;
        timer.start();
        HVXSafeFile file(path);
        QVERIFY(!file.open(1 << 20));
        QCOMPARE(int(file.status()), status);
        QCOMPARE(file.errorString(), why);
        QCOMPARE(file.descriptor(), -1);
        QString error;
        QVERIFY(!HVXSafeFile::readFile(path, 1 << 20, &error));
        QCOMPARE(error, why);
        QVERIFY(timer.elapsed() < 2000);  // a FIFO without writer must not hold the open up
    }

    void readsARegularFileAndALinkToOne()
    {
        const QString path = write("a.jsonl", "one\ntwo\n");
        const QString link = m_dir.filePath("link.jsonl");
        QVERIFY(QFile::link(path, link));
        for (const QString &candidate : {path, link}) {
            HVXSafeFile file(candidate);
            QVERIFY(file.open(100));
            QCOMPARE(file.size(), 8);
            QCOMPARE(file.readAll(), QByteArray("one\ntwo\n"));
            QCOMPARE(file.readAll(4), QByteArray("two\n"));
        }
        QCOMPARE(HVXSafeFile::readFile(path, 8), QByteArray("one\ntwo\n"));
    }

    void refusesASparseFileLargerThanTheLimit()
    {
        const QString path = m_dir.filePath("sparse.jsonl");
        QFile sparse(path);
        QVERIFY(sparse.open(QIODevice::WriteOnly));
        QVERIFY(sparse.resize(qint64(4) << 30));
        sparse.close();
        HVXSafeFile file(path);
        QVERIFY(!file.open(qint64(1) << 20));
        QCOMPARE(file.status(), HVXSafeFile::Status::TooLarge);
        QCOMPARE(file.errorString(), QStringLiteral("it is 4.0 GB, more than the 1.0 MB allowed"));
        QVERIFY(file.open(-1));  // no limit
        QCOMPARE(file.size(), qint64(4) << 30);
    }

    void readsWhatWasAppendedUpToTheLimit()
    {
        const QString path = write("growing.jsonl", "abc");
        HVXSafeFile file(path);
        QVERIFY(file.open(10));
        QFile appender(path);
        QVERIFY(appender.open(QIODevice::Append));
        appender.write("defg");
        appender.flush();
        QCOMPARE(file.readAll(), QByteArray("abcdefg"));
        appender.write("hijk");
        appender.flush();
        QVERIFY(!file.readAll());
        QCOMPARE(file.errorString(), QStringLiteral("it grew past the 10 bytes allowed"));
    }
};

QTEST_GUILESS_MAIN(TestSafeFile)
#include "tst_safefile.moc"
