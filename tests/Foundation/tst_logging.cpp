#include "Halvex/Foundation/HVXLog.h"
#include "LogCapture.h"

#include <QTest>

class TestLogging : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void lineCarriesRelativePathLineAndLevel()
    {
        LogCapture capture;
        const int line = __LINE__ + 1;
        HVXLogError(QStringLiteral("Something failed: %1").arg(42));
        HVXLogWarning(QStringLiteral("suspicious"));
        HVXLogAssertion(QStringLiteral("broken"));
        const QStringList lines = capture.lines();
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines[0], QStringLiteral("tests/Foundation/tst_logging.cpp:%1: ERROR: Something failed: 42").arg(line));
        QCOMPARE(lines[1], QStringLiteral("tests/Foundation/tst_logging.cpp:%1: WARNING: suspicious").arg(line + 1));
        QCOMPARE(lines[2], QStringLiteral("tests/Foundation/tst_logging.cpp:%1: ASSERTION: broken").arg(line + 2));
    }

    void beepIsAskedForByTheCaller()
    {
        LogCapture capture;
        int heard = 0;
        hvxSetBeepHandler([&] { ++heard; });
        const int before = hvxBeepCount();
        HVXLogWarningAndBeep(QStringLiteral("Not a directory: /nope"));
        // Text that merely reads like a request sounds nothing.
        HVXLogWarning(QStringLiteral("Beep: quoted from a transcript"));
        hvxSetBeepHandler(nullptr);
        QCOMPARE(heard, 1);
        QCOMPARE(hvxBeepCount(), before + 1);
        QVERIFY(capture.lines().value(0).endsWith(QStringLiteral(": WARNING: Beep: Not a directory: /nope")));
    }

    // Each library logs in its own category, which logging rules turn off or whose debug lines they
    // turn on; the line reads the same either way.
    void libraryCategoriesFollowTheLoggingRules()
    {
        QCOMPARE(QLatin1StringView(hvxLogCategory("Tavlo/Viewer/TVLWebPage.cpp").categoryName()),
                 QLatin1StringView("tavlo.viewer"));
        QCOMPARE(QLatin1StringView(hvxLogCategory("Tavlo/DataObjects/TVLSession.cpp").categoryName()),
                 QLatin1StringView("tavlo.model"));
        QCOMPARE(QLatin1StringView(hvxLogCategory(__FILE__).categoryName()), QLatin1StringView("tavlo"));

        LogCapture capture;
        HVXLogDebug(QStringLiteral("hidden"));
        QLoggingCategory::setFilterRules(QStringLiteral("tavlo.debug=true\ntavlo.warning=false"));
        const int line = __LINE__ + 1;
        HVXLogDebug(QStringLiteral("shown"));
        HVXLogWarning(QStringLiteral("silenced"));
        HVXLogError(QStringLiteral("still there"));
        QLoggingCategory::setFilterRules(QString());
        QCOMPARE(capture.lines().size(), 2);
        QCOMPARE(capture.lines()[0], QStringLiteral("tests/Foundation/tst_logging.cpp:%1: DEBUG: shown").arg(line));
        QVERIFY(capture.lines()[1].endsWith(QStringLiteral(": ERROR: still there")));
    }

    void longValuesAreCutAtOneThousandCharacters()
    {
        const QString small(999, QLatin1Char('a'));
        QCOMPARE(hvxLogValue(small), small);
        const QString huge(50 * 1000 * 1000, QLatin1Char('x'));
        const QString quoted = hvxLogValue(huge);
        QVERIFY(quoted.startsWith(QString(1000, QLatin1Char('x')) + QStringLiteral("…")));
        QVERIFY(quoted.contains(QStringLiteral("50000000")));
        QVERIFY(quoted.size() < 1100);
        // A cut never leaves half of a surrogate pair behind.
        QString emoji = QString(999, QLatin1Char('a')) + QString::fromUtf8("😀") + QStringLiteral("tail");
        const QString cut = hvxLogValue(emoji);
        QVERIFY(!cut.at(998 + 1).isHighSurrogate() || cut.at(1000).isLowSurrogate());
        QByteArray bytes(20000, 'b');
        QVERIFY(hvxLogValue(bytes).contains(QStringLiteral("20000 bytes")));
        // Place markers inside the value are text, not where the length goes.
        const QString marked = QStringLiteral("%1%2") + QString(5000, QLatin1Char('m'));
        QVERIFY(hvxLogValue(marked).startsWith(QStringLiteral("%1%2mmm")));
        QVERIFY(hvxLogValue(marked).endsWith(QStringLiteral("(5004 characters)")));
        QVERIFY(hvxLogValue(marked.toUtf8()).endsWith(QStringLiteral("(5004 bytes)")));
    }

    void controlCharactersInMessagesAreShownEscaped()
    {
        LogCapture capture;
        HVXLogWarning(QStringLiteral("Bad line: \x1b]0;title\x07 and\nmore"));
        QCOMPARE(capture.lines().size(), 1);
        QVERIFY(capture.lines()[0].endsWith(QStringLiteral("Bad line: \\x1B]0;title\\x07 and\nmore")));
    }

    // What reaches the console: Qt's own formatting of the line adds nothing in front of it.
    void consoleLineStartsWithTheSourcePath()
    {
        static QString formatted;
        const QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext &context, const QString &message) {
                formatted = qFormatLogMessage(type, context, message);
            });
        HVXLogWarning(QStringLiteral("a %1 stays"));
        qInstallMessageHandler(previous);
        QVERIFY2(formatted.startsWith(QStringLiteral("tests/Foundation/tst_logging.cpp:")), qPrintable(formatted));
        QVERIFY(formatted.endsWith(QStringLiteral(": WARNING: a %1 stays")));
    }
};

QTEST_GUILESS_MAIN(TestLogging)
#include "tst_logging.moc"
