#include "Halvex/Foundation/Categories/HVXDate.h"

#include <QTest>
#include <QTimeZone>

class TestDates : public QObject
{
    Q_OBJECT
private:
    QDateTime m_now;

    QString relative(qint64 secondsAgo) const { return hvxRelativeTimeString(m_now.addSecs(-secondsAgo), m_now); }

private Q_SLOTS:
    void initTestCase()
    {
        // The shared formatters take the locale current at their first use.
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        qputenv("TZ", "Europe/Berlin");
        m_now = QDateTime(QDate(2024, 3, 20), QTime(12, 0, 0), Qt::LocalTime);
        QCOMPARE(m_now.offsetFromUtc(), 3600);
    }

    void relativeTimeAtEveryBound()
    {
        QCOMPARE(relative(-3600), QStringLiteral("Just now")); // the future
        QCOMPARE(relative(0), QStringLiteral("Just now"));
        QCOMPARE(relative(59), QStringLiteral("Just now"));
        QCOMPARE(hvxRelativeTimeString(m_now.addMSecs(-59999), m_now), QStringLiteral("Just now"));
        QCOMPARE(relative(60), QStringLiteral("1 min ago"));
        QCOMPARE(relative(119), QStringLiteral("1 min ago"));
        QCOMPARE(relative(120), QStringLiteral("2 mins ago"));
        QCOMPARE(relative(3599), QStringLiteral("59 mins ago"));
        QCOMPARE(relative(3600), QStringLiteral("1 hour ago"));
        QCOMPARE(relative(7199), QStringLiteral("1 hour ago"));
        QCOMPARE(relative(7200), QStringLiteral("2 hours ago"));
        QCOMPARE(relative(86399), QStringLiteral("23 hours ago"));
        QCOMPARE(relative(86400), QStringLiteral("1 day ago"));
        QCOMPARE(relative(25 * 3600), QStringLiteral("1 day ago"));
        QCOMPARE(relative(2 * 86400), QStringLiteral("2 days ago"));
        QCOMPARE(relative(604799), QStringLiteral("6 days ago"));
        QCOMPARE(relative(604800), QStringLiteral("Mar 13, 2024"));
        QCOMPARE(relative(8 * 86400), QStringLiteral("Mar 12, 2024"));
    }

    void mediumDatePatternFollowsTheLocale()
    {
        QCOMPARE(hvxMediumDatePattern(QLocale(QLocale::English, QLocale::UnitedStates)),
                 QStringLiteral("MMM' 'd', 'yyyy"));
        const QDateTime date(QDate(2024, 1, 5), QTime(9, 0));
        QCOMPARE(HVXDateFormatter(hvxMediumDatePattern(QLocale(QLocale::English, QLocale::UnitedKingdom)), Qt::LocalTime,
                                  QLocale(QLocale::English, QLocale::UnitedKingdom))
                     .stringFromDate(date),
                 QStringLiteral("5 Jan 2024"));
        const QLocale german(QLocale::German, QLocale::Germany);
        const QString germanDate = HVXDateFormatter(hvxMediumDatePattern(german), Qt::LocalTime, german).stringFromDate(date);
        QVERIFY2(germanDate.startsWith(QLatin1String("5. Jan")) && germanDate.endsWith(QLatin1String("2024")),
                 qPrintable(germanDate));
    }

    void fixedFormats()
    {
        const QDateTime date(QDate(2024, 1, 31), QTime(14, 5, 9), Qt::LocalTime);
        QCOMPARE(hvxTime24(date), QStringLiteral("14:05:09"));
        QCOMPARE(hvxShortDateTime24(date), QStringLiteral("01/31 14:05:09"));
        // Dates in another zone are shown in local time.
        QCOMPARE(hvxTime24(date.toUTC()), QStringLiteral("14:05:09"));
        QCOMPARE(hvxISODateFormatter().stringFromDate(date), QStringLiteral("2024-01-31T13:05:09Z"));
        QCOMPARE(hvxLongDateFormatter().stringFromDate(date), QStringLiteral("Jan 31, 2024"));
        QCOMPARE(hvxLongDateTimeFormatter().stringFromDate(date), QStringLiteral("Jan 31, 2024, 14:05:09 PM"));
        QCOMPARE(hvxTime24(QDateTime()), QString());
    }

    void patternFieldsAndQuoting()
    {
        const QDateTime date(QDate(2024, 7, 4), QTime(0, 7, 3, 45), Qt::UTC);
        auto format = [&](const char *pattern) {
            return HVXDateFormatter(QString::fromLatin1(pattern), Qt::UTC, QLocale(QLocale::English, QLocale::UnitedStates))
                .stringFromDate(date);
        };
        QCOMPARE(format("EEEE, MMMM d, yy"), QStringLiteral("Thursday, July 4, 24"));
        QCOMPARE(format("EEE h:mm a"), QStringLiteral("Thu 12:07 AM"));
        QCOMPARE(format("k K H"), QStringLiteral("24 0 0"));
        QCOMPARE(format("ss.SSS"), QStringLiteral("03.045"));
        QCOMPARE(format("'at' HH 'o''clock' ''"), QStringLiteral("at 00 o'clock '"));
        QCOMPARE(format("yyyy-MM-dd'T'HH:mm:ssXXX"), QStringLiteral("2024-07-04T00:07:03Z"));
        QCOMPARE(format("Z"), QStringLiteral("+0000"));
    }

    void parsingRoundTripsEveryFixedFormat()
    {
        const QDateTime date(QDate(2023, 11, 2), QTime(23, 59, 58), Qt::LocalTime);
        for (const HVXDateFormatter *formatter : {&hvxISODateFormatter(), &hvxLongDateTimeFormatter()}) {
            const QString text = formatter->stringFromDate(date);
            const auto parsed = formatter->dateFromString(text);
            QVERIFY2(parsed, qPrintable(text));
            QCOMPARE(*parsed, date);
        }
        const auto day = hvxLongDateFormatter().dateFromString(QStringLiteral("Nov 2, 2023"));
        QVERIFY(day);
        QCOMPARE(*day, QDateTime(QDate(2023, 11, 2), QTime(0, 0), Qt::LocalTime));
        // Parsing a 12-hour pattern applies the marker.
        const HVXDateFormatter twelve(QStringLiteral("h:mm a"), Qt::UTC);
        QCOMPARE(twelve.dateFromString(QStringLiteral("12:30 AM"))->time(), QTime(0, 30));
        QCOMPARE(twelve.dateFromString(QStringLiteral("12:30 PM"))->time(), QTime(12, 30));
        QCOMPARE(twelve.dateFromString(QStringLiteral("1:05 pm"))->time(), QTime(13, 5));
        // An explicit offset in the text wins over the formatter's zone.
        const auto offset = HVXDateFormatter(QStringLiteral("yyyy-MM-dd HH:mm Z")).dateFromString(QStringLiteral("2024-01-01 10:00 +0530"));
        QVERIFY(offset);
        QCOMPARE(offset->toUTC(), QDateTime(QDate(2024, 1, 1), QTime(4, 30), Qt::UTC));
    }

    void parsingRejectsWhatDoesNotMatch()
    {
        const HVXDateFormatter &iso = hvxISODateFormatter();
        QVERIFY(!iso.dateFromString(QString()));
        QVERIFY(!iso.dateFromString(QStringLiteral("2024-02-30T10:00:00Z"))); // no such day
        QVERIFY(!iso.dateFromString(QStringLiteral("2024-01-01T24:00:00Z")));
        QVERIFY(!iso.dateFromString(QStringLiteral("2024-01-01T10:00:00Z trailing")));
        QVERIFY(!iso.dateFromString(QStringLiteral("2024-01-01 10:00:00Z")));
        QVERIFY(!hvxLongDateFormatter().dateFromString(QStringLiteral("Foo 2, 2023")));
    }

    void displayedDatesParseBack()
    {
        const auto midnight = hvxAsDate(QStringLiteral("Jan 5, 2024, 12:00:00 AM"));
        QVERIFY(midnight);
        QCOMPARE(*midnight, QDateTime(QDate(2024, 1, 5), QTime(0, 0), Qt::LocalTime));

        const auto afternoon = hvxAsDate(QStringLiteral("Jan 5, 2024, 14:05:09 PM"));
        QVERIFY(afternoon);
        QCOMPARE(*afternoon, QDateTime(QDate(2024, 1, 5), QTime(14, 5, 9), Qt::LocalTime));
        // What the long date-time formatter shows reads back as the same moment.
        const QDateTime shown(QDate(2022, 6, 30), QTime(8, 1, 2), Qt::LocalTime);
        QCOMPARE(hvxAsDate(hvxLongDateTimeFormatter().stringFromDate(shown)), shown);

        const auto iso = hvxAsDate(QStringLiteral("2024-01-05T14:05:09Z"));
        QVERIFY(iso);
        QCOMPARE(*iso, QDateTime(QDate(2024, 1, 5), QTime(14, 5, 9), Qt::UTC));

        QVERIFY(!hvxAsDate(QStringLiteral("yesterday")));
        QVERIFY(!hvxAsDate(QStringLiteral("sometime PM")));
    }
};

QTEST_GUILESS_MAIN(TestDates)
#include "tst_dates.moc"
