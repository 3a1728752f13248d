#pragma once
// Dates as the program shows them: a formatter over Unicode date patterns ("MMM d, yyyy",
// "HH:mm:ss", "yyyy-MM-dd'T'HH:mm:ss'Z'"), the shared formatters, the relative-time text
// shown for sessions and the parsing of displayed dates.

#include <QDateTime>
#include <QList>
#include <QLocale>
#include <QString>
#include <optional>

// Formats and parses dates with a Unicode date pattern in one locale and time zone.
// Supported fields: G y M L d E a h H k K m s S Z X x z; quoted text in '…' ('' is a quote).
// Parsing needs the whole text to match; missing fields default to 1970-01-01 00:00:00.
class HVXDateFormatter final
{
public:
    explicit HVXDateFormatter(const QString &pattern, Qt::TimeSpec spec = Qt::LocalTime,
                              const QLocale &locale = QLocale());

    QString pattern() const { return m_pattern; }
    QLocale locale() const { return m_locale; }
    QString stringFromDate(const QDateTime &date) const;
    std::optional<QDateTime> dateFromString(const QString &text) const;

    struct Field
    {
        char16_t letter = 0; // 0 for literal text
        int count = 0;
        QString literal;
    };
    static QList<Field> parsePattern(const QString &pattern);

private:
    QString m_pattern;
    QList<Field> m_fields;
    Qt::TimeSpec m_spec;
    QLocale m_locale;
};

// A new formatter for the pattern, in the local time zone and the current locale.
HVXDateFormatter hvxDateFormatter(const QString &pattern);

// The shared formatters, created on first use with the locale current then.
const HVXDateFormatter &hvxTimeFormatter();          // "HH:mm:ss"
const HVXDateFormatter &hvxShortDateTimeFormatter(); // "MM/dd HH:mm:ss"
const HVXDateFormatter &hvxMediumDateFormatter();    // the locale's medium date, no time
const HVXDateFormatter &hvxISODateFormatter();       // "yyyy-MM-dd'T'HH:mm:ss'Z'" in UTC
const HVXDateFormatter &hvxLongDateFormatter();      // "MMM d, yyyy"
const HVXDateFormatter &hvxLongDateTimeFormatter();  // "MMM d, yyyy, HH:mm:ss a"

// The locale's medium date pattern ("MMM d, y" style) derived from its long date format.
QString hvxMediumDatePattern(const QLocale &locale);

QString hvxTime24(const QDateTime &date);          // 14:05:09
QString hvxShortDateTime24(const QDateTime &date); // 01/31 14:05:09

// "Just now", "%ld min(s) ago", "… hour(s) ago", "… day(s) ago" for the past week, else the
// medium date. The bounds are strict: exactly 60 s ago is "1 min ago".
QString hvxRelativeTimeString(const QDateTime &date, const QDateTime &now = QDateTime::currentDateTime());

// Reads a date as the program displays it: a long date with ", 12:00:00 AM", a long date-time
// ending in " AM"/" PM", or else the ISO form in UTC. Absent when the text does not parse.
std::optional<QDateTime> hvxAsDate(const QString &text);
