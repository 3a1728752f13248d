#include "HVXDate.h"

#include <QTimeZone>
#include <algorithm>
#include <cmath>

using Field = HVXDateFormatter::Field;

namespace {

bool isPatternLetter(QChar c) { return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) || (c >= QLatin1Char('A') && c <= QLatin1Char('Z')); }

QString padded(qint64 value, int width) { return QStringLiteral("%1").arg(value, width, 10, QLatin1Char('0')); }

QString offsetText(int seconds, bool colon, bool zForZero)
{
    if (seconds == 0 && zForZero)
        return QStringLiteral("Z");
    const QChar sign = seconds < 0 ? QLatin1Char('-') : QLatin1Char('+');
    const int minutes = std::abs(seconds) / 60;
    return sign + padded(minutes / 60, 2) + (colon ? QStringLiteral(":") : QString()) + padded(minutes % 60, 2);
}

QString formatField(const Field &field, const QDateTime &date, const QLocale &locale)
{
    const QDate day = date.date();
    const QTime time = date.time();
    const int n = field.count;
    const auto nameFormat = n == 4 ? QLocale::LongFormat : (n >= 5 ? QLocale::NarrowFormat : QLocale::ShortFormat);
    switch (field.letter) {
    case 'G': return day.year() > 0 ? QStringLiteral("AD") : QStringLiteral("BC");
    case 'y': return n == 2 ? padded(day.year() % 100, 2) : padded(day.year(), n);
    case 'M':
    case 'L':
        if (n <= 2)
            return padded(day.month(), n);
        return field.letter == 'M' ? locale.monthName(day.month(), nameFormat)
                                   : locale.standaloneMonthName(day.month(), nameFormat);
    case 'd': return padded(day.day(), n);
    case 'E': return locale.dayName(day.dayOfWeek(), nameFormat);
    case 'a': return time.hour() < 12 ? locale.amText() : locale.pmText();
    case 'H': return padded(time.hour(), n);
    case 'k': return padded(time.hour() == 0 ? 24 : time.hour(), n);
    case 'h': return padded(time.hour() % 12 == 0 ? 12 : time.hour() % 12, n);
    case 'K': return padded(time.hour() % 12, n);
    case 'm': return padded(time.minute(), n);
    case 's': return padded(time.second(), n);
    case 'S': return QString(padded(time.msec(), 3) + QString(std::max(0, n - 3), QLatin1Char('0'))).left(n);
    case 'Z': return n == 5 ? offsetText(date.offsetFromUtc(), true, true) : offsetText(date.offsetFromUtc(), false, false);
    case 'X': return offsetText(date.offsetFromUtc(), n >= 3, true);
    case 'x': return offsetText(date.offsetFromUtc(), n >= 3, false);
    case 'z': return date.timeZoneAbbreviation();
    }
    return QString(n, QChar(field.letter));
}

// Reads one date pattern while parsing: a cursor over the text and the fields seen so far.
struct DateParse
{
    QStringView text;
    qsizetype at = 0;
    int year = 1970, month = 1, day = 1;
    int hour24 = -1, hour12 = -1, minute = 0, second = 0, msec = 0;
    int pm = -1;
    std::optional<int> offsetSeconds;

    std::optional<qint64> digits(int minimum, int maximum)
    {
        qsizetype end = at;
        while (end < text.size() && end - at < maximum && text[end] >= QLatin1Char('0') && text[end] <= QLatin1Char('9'))
            ++end;
        if (end - at < minimum)
            return std::nullopt;
        const qint64 value = text.mid(at, end - at).toLongLong();
        at = end;
        return value;
    }

    // The longest of the candidates that the text continues with, ignoring case; its index.
    std::optional<int> oneOf(const QStringList &candidates)
    {
        int best = -1;
        qsizetype bestLength = 0;
        for (int i = 0; i < candidates.size(); ++i) {
            const QString &candidate = candidates[i];
            if (!candidate.isEmpty() && candidate.size() > bestLength
                && text.mid(at).startsWith(candidate, Qt::CaseInsensitive)) {
                best = i;
                bestLength = candidate.size();
            }
        }
        if (best < 0)
            return std::nullopt;
        at += bestLength;
        return best;
    }

    bool offset()
    {
        if (at < text.size() && text[at] == QLatin1Char('Z')) {
            ++at;
            offsetSeconds = 0;
            return true;
        }
        if (at >= text.size() || (text[at] != QLatin1Char('+') && text[at] != QLatin1Char('-')))
            return false;
        const int sign = text[at] == QLatin1Char('-') ? -1 : 1;
        ++at;
        const auto hours = digits(2, 2);
        if (!hours)
            return false;
        if (at < text.size() && text[at] == QLatin1Char(':'))
            ++at;
        const auto minutes = digits(2, 2);
        if (!minutes)
            return false;
        offsetSeconds = sign * int(*hours * 3600 + *minutes * 60);
        return true;
    }
};

QStringList monthNames(const QLocale &locale, QLocale::FormatType format, bool standalone)
{
    QStringList names;
    for (int m = 1; m <= 12; ++m)
        names << (standalone ? locale.standaloneMonthName(m, format) : locale.monthName(m, format));
    return names;
}

bool parseField(const Field &field, DateParse &parse, const QLocale &locale)
{
    const int n = field.count;
    auto number = [&](int &target, int minimum, int maximum) {
        const auto value = parse.digits(minimum, maximum);
        if (value)
            target = int(*value);
        return value.has_value();
    };
    switch (field.letter) {
    case 'G':
        return parse.oneOf({QStringLiteral("AD"), QStringLiteral("BC")}).has_value();
    case 'y':
        if (n == 2) {
            if (!number(parse.year, 2, 2))
                return false;
            // Two-digit years fall within 80 years before and 20 after now.
            const int pivot = QDate::currentDate().year() - 80;
            parse.year += (pivot / 100) * 100;
            if (parse.year < pivot)
                parse.year += 100;
            return true;
        }
        return number(parse.year, 1, std::max(n, 9));
    case 'M':
    case 'L': {
        if (n <= 2)
            return number(parse.month, 1, std::max(n, 2));
        const bool standalone = field.letter == 'L';
        const QStringList names = monthNames(locale, QLocale::LongFormat, standalone)
                                  + monthNames(locale, QLocale::ShortFormat, standalone);
        const auto index = parse.oneOf(names);
        if (index)
            parse.month = *index % 12 + 1;
        return index.has_value();
    }
    case 'd': return number(parse.day, 1, std::max(n, 2));
    case 'E': {
        QStringList names;
        for (int d = 1; d <= 7; ++d)
            names << locale.dayName(d, QLocale::LongFormat) << locale.dayName(d, QLocale::ShortFormat);
        return parse.oneOf(names).has_value();
    }
    case 'a': {
        const auto index = parse.oneOf({locale.amText(), locale.pmText(), QStringLiteral("AM"), QStringLiteral("PM")});
        if (index)
            parse.pm = *index % 2;
        return index.has_value();
    }
    case 'H': return number(parse.hour24, 1, std::max(n, 2)) && parse.hour24 <= 23;
    case 'k':
        if (!number(parse.hour24, 1, std::max(n, 2)) || parse.hour24 < 1 || parse.hour24 > 24)
            return false;
        parse.hour24 %= 24; // 24 is midnight
        return true;
    case 'h':
        if (!number(parse.hour12, 1, std::max(n, 2)) || parse.hour12 < 1 || parse.hour12 > 12)
            return false;
        parse.hour12 %= 12; // 12 AM is midnight, 12 PM noon
        return true;
    case 'K': return number(parse.hour12, 1, std::max(n, 2)) && parse.hour12 <= 11;
    case 'm': return number(parse.minute, 1, std::max(n, 2));
    case 's': return number(parse.second, 1, std::max(n, 2));
    case 'S': {
        const qsizetype start = parse.at;
        const auto value = parse.digits(1, 9);
        if (!value)
            return false;
        const qsizetype length = parse.at - start;
        parse.msec = int(std::lround(double(*value) * std::pow(10.0, 3 - double(length)))) % 1000;
        return true;
    }
    case 'Z':
    case 'X':
    case 'x':
        return parse.offset();
    case 'z': {
        // Only offsets and "UTC"/"GMT" can be read back; names of zones are ambiguous.
        if (parse.oneOf({QStringLiteral("UTC"), QStringLiteral("GMT")})) {
            parse.offsetSeconds = 0;
            if (parse.at < parse.text.size() && (parse.text[parse.at] == QLatin1Char('+') || parse.text[parse.at] == QLatin1Char('-')))
                return parse.offset();
            return true;
        }
        return parse.offset();
    }
    }
    return false;
}

} // namespace

QList<Field> HVXDateFormatter::parsePattern(const QString &pattern)
{
    QList<Field> fields;
    auto addLiteral = [&](const QString &text) {
        if (!fields.isEmpty() && fields.last().letter == 0)
            fields.last().literal += text;
        else
            fields.append({0, 0, text});
    };
    qsizetype i = 0;
    while (i < pattern.size()) {
        const QChar c = pattern.at(i);
        if (c == QLatin1Char('\'')) {
            if (i + 1 < pattern.size() && pattern.at(i + 1) == QLatin1Char('\'')) {
                addLiteral(QStringLiteral("'"));
                i += 2;
                continue;
            }
            // Quoted text up to the closing quote, where '' stands for one quote.
            QString quoted;
            ++i;
            while (i < pattern.size()) {
                if (pattern.at(i) == QLatin1Char('\'')) {
                    if (i + 1 < pattern.size() && pattern.at(i + 1) == QLatin1Char('\'')) {
                        quoted += QLatin1Char('\'');
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                quoted += pattern.at(i++);
            }
            addLiteral(quoted);
        } else if (isPatternLetter(c)) {
            qsizetype end = i;
            while (end < pattern.size() && pattern.at(end) == c)
                ++end;
            fields.append({c.unicode(), int(end - i), QString()});
            i = end;
        } else {
            addLiteral(QString(c));
            ++i;
        }
    }
    return fields;
}

HVXDateFormatter::HVXDateFormatter(const QString &pattern, Qt::TimeSpec spec, const QLocale &locale)
    : m_pattern(pattern), m_fields(parsePattern(pattern)), m_spec(spec == Qt::UTC ? Qt::UTC : Qt::LocalTime),
      m_locale(locale)
{
}

QString HVXDateFormatter::stringFromDate(const QDateTime &date) const
{
    if (!date.isValid())
        return QString();
    const QDateTime converted = m_spec == Qt::UTC ? date.toUTC() : date.toLocalTime();
    QString text;
    for (const Field &field : m_fields)
        text += field.letter == 0 ? field.literal : formatField(field, converted, m_locale);
    return text;
}

std::optional<QDateTime> HVXDateFormatter::dateFromString(const QString &text) const
{
    DateParse parse;
    parse.text = text;
    for (const Field &field : m_fields) {
        if (field.letter == 0) {
            if (!parse.text.mid(parse.at).startsWith(field.literal))
                return std::nullopt;
            parse.at += field.literal.size();
        } else if (!parseField(field, parse, m_locale)) {
            return std::nullopt;
        }
    }
    if (parse.at != text.size())
        return std::nullopt;
    int hour = 0;
    if (parse.hour24 >= 0)
        hour = parse.hour24; // a 24-hour field wins over the AM/PM marker
    else if (parse.hour12 >= 0)
        hour = parse.hour12 + (parse.pm == 1 ? 12 : 0);
    const QDate day(parse.year, parse.month, parse.day);
    const QTime time(hour, parse.minute, parse.second, parse.msec);
    if (!day.isValid() || !time.isValid())
        return std::nullopt;
    QDateTime date;
    if (parse.offsetSeconds)
        date = QDateTime(day, time, QTimeZone(*parse.offsetSeconds));
    else
        date = QDateTime(day, time, m_spec);
    if (!date.isValid())
        return std::nullopt;
    return date;
}

HVXDateFormatter hvxDateFormatter(const QString &pattern) { return HVXDateFormatter(pattern); }

QString hvxMediumDatePattern(const QLocale &locale)
{
    // Qt's long date format uses the same letters as Unicode patterns for days, months and
    // years, except that "ddd"/"dddd" name the weekday. The medium form drops the weekday with
    // the separator next to it and shortens month names.
    QList<Field> fields = HVXDateFormatter::parsePattern(locale.dateFormat(QLocale::LongFormat));
    auto isSeparator = [](const Field &f) {
        return f.letter == 0 && std::all_of(f.literal.begin(), f.literal.end(), [](QChar c) { return c.isSpace() || c.isPunct(); });
    };
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (fields[i].letter != 'd' || fields[i].count < 3)
            continue;
        if (i + 1 < fields.size() && isSeparator(fields[i + 1]))
            fields.remove(i + 1);
        else if (i > 0 && isSeparator(fields[i - 1]))
            fields.remove(--i);
        fields.remove(i--);
    }
    QString pattern;
    for (const Field &field : fields) {
        if (field.letter == 0) {
            QString quoted = field.literal;
            quoted.replace(QLatin1Char('\''), QLatin1String("''"));
            pattern += QLatin1Char('\'') + quoted + QLatin1Char('\'');
        } else {
            pattern += QString(field.letter == 'M' ? std::min(field.count, 3) : field.count, QChar(field.letter));
        }
    }
    return pattern;
}

const HVXDateFormatter &hvxTimeFormatter()
{
    static const HVXDateFormatter formatter(QStringLiteral("HH:mm:ss"));
    return formatter;
}

const HVXDateFormatter &hvxShortDateTimeFormatter()
{
    static const HVXDateFormatter formatter(QStringLiteral("MM/dd HH:mm:ss"));
    return formatter;
}

const HVXDateFormatter &hvxMediumDateFormatter()
{
    static const HVXDateFormatter formatter(hvxMediumDatePattern(QLocale()));
    return formatter;
}

const HVXDateFormatter &hvxISODateFormatter()
{
    static const HVXDateFormatter formatter(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss'Z'"), Qt::UTC);
    return formatter;
}

const HVXDateFormatter &hvxLongDateFormatter()
{
    static const HVXDateFormatter formatter(QStringLiteral("MMM d, yyyy"));
    return formatter;
}

const HVXDateFormatter &hvxLongDateTimeFormatter()
{
    static const HVXDateFormatter formatter(QStringLiteral("MMM d, yyyy, HH:mm:ss a"));
    return formatter;
}

QString hvxTime24(const QDateTime &date) { return hvxTimeFormatter().stringFromDate(date); }

QString hvxShortDateTime24(const QDateTime &date) { return hvxShortDateTimeFormatter().stringFromDate(date); }

QString hvxRelativeTimeString(const QDateTime &date, const QDateTime &now)
{
    const double t = double(now.msecsTo(date)) / 1000.0;
    auto ago = [](double seconds, double unit, const char *one, const char *many) {
        const qint64 n = qint64(std::trunc(seconds / unit));
        return QStringLiteral("%1 %2 ago").arg(n).arg(QLatin1String(n == 1 ? one : many));
    };
    if (t > -60)
        return QStringLiteral("Just now");
    if (t > -3600)
        return ago(-t, 60, "min", "mins");
    if (t > -86400)
        return ago(-t, 3600, "hour", "hours");
    if (t > -604800)
        return ago(-t, 86400, "day", "days");
    return hvxMediumDateFormatter().stringFromDate(date);
}

std::optional<QDateTime> hvxAsDate(const QString &text)
{
    const QString midnight = QStringLiteral(", 12:00:00 AM");
    if (text.endsWith(midnight))
        return hvxLongDateFormatter().dateFromString(text.left(text.size() - midnight.size()));
    if (text.endsWith(QLatin1String(" AM")) || text.endsWith(QLatin1String(" PM")))
        return hvxLongDateTimeFormatter().dateFromString(text);
    return hvxISODateFormatter().dateFromString(text);
}
