#include "HVXString.h"

#include "Halvex/Foundation/HVXLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QUrl>
#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

namespace {

struct DirectoryEntry
{
    QString path;
    bool isRealDirectory = false; // a directory that is not reached through a symbolic link
};

QString fromNativePath(const std::filesystem::path &path)
{
#ifdef Q_OS_WIN
    return QString::fromStdWString(path.native());
#else
    return QFile::decodeName(QByteArray::fromStdString(path.native()));
#endif
}

std::filesystem::path toNativePath(const QString &path)
{
#ifdef Q_OS_WIN
    return std::filesystem::path(path.toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(path).toStdString());
#endif
}

QString joinPath(const QString &directory, const QString &name)
{
    if (directory.endsWith(QLatin1Char('/')))
        return directory + name;
    return directory + QLatin1Char('/') + name;
}

// The direct entries of a directory, or nothing (after a log line) when it cannot be listed.
// The whole listing is read before anyone is called, so a failure calls nobody.
std::optional<std::vector<DirectoryEntry>> listDirectory(const QString &path)
{
    std::error_code error;
    std::filesystem::directory_iterator it(toNativePath(path), error);
    std::vector<DirectoryEntry> entries;
    const std::filesystem::directory_iterator end;
    while (!error && it != end) {
        const QString name = fromNativePath(it->path().filename());
        std::error_code statusError;
        const bool isDirectory = it->is_directory(statusError) && !it->is_symlink(statusError);
        entries.push_back({joinPath(path, name), isDirectory});
        it.increment(error);
    }
    if (error) {
        HVXLogError(QStringLiteral("Failed to get contents of '%1': %2")
                        .arg(path, QString::fromStdString(error.message())));
        return std::nullopt;
    }
    return entries;
}

void deepEnumerate(const QString &path, const HVXPathCallback &callback)
{
    const auto entries = listDirectory(path);
    if (!entries)
        return;
    for (const DirectoryEntry &entry : *entries) {
        callback(entry.path);
        if (entry.isRealDirectory)
            deepEnumerate(entry.path, callback);
    }
}

// The path of the string read as a URL reference; absent when it is not one.
std::optional<QString> urlReferencePath(const QString &string)
{
    if (string.isEmpty())
        return QString();
    const QUrl url(string, QUrl::TolerantMode);
    if (!url.isValid())
        return std::nullopt;
    return url.path(QUrl::FullyDecoded);
}

QString lastPathComponent(QString path)
{
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    if (path == QLatin1String("/"))
        return path;
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

QString percentEncoded(const QString &string, const QByteArray &allowedPunctuation)
{
    // Letters, digits and "-._~" are never encoded; the rest of each set is named here.
    return QString::fromLatin1(string.toUtf8().toPercentEncoding(allowedPunctuation));
}

bool isUpperCaseLetter(QChar c)
{
    return c.category() == QChar::Letter_Uppercase || c.category() == QChar::Letter_Titlecase;
}

// First letter of each white-space separated word upper case, the rest lower case.
QString capitalized(const QString &string)
{
    QString result;
    result.reserve(string.size());
    bool atWordStart = true;
    for (QChar c : string) {
        if (c.isSpace()) {
            result += c;
            atWordStart = true;
        } else {
            result += atWordStart ? c.toUpper() : c.toLower();
            atWordStart = false;
        }
    }
    return result;
}

// Digit runs compared as numbers of any length: leading zeros do not count.
int compareDigitRuns(const QString &a, const QString &b)
{
    auto significant = [](const QString &digits) {
        qsizetype start = 0;
        while (start < digits.size() - 1 && digits.at(start) == QLatin1Char('0'))
            ++start;
        return QStringView(digits).mid(start);
    };
    const QStringView x = significant(a), y = significant(b);
    if (x.size() != y.size())
        return x.size() < y.size() ? -1 : 1;
    return x.compare(y);
}

int hexDigitValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

} // namespace

bool hvxIsDirectory(const QString &path) { return !path.isEmpty() && QFileInfo(path).isDir(); }

void hvxEnumerateDirectoryWith(const QString &path, const HVXPathCallback &callback)
{
    if (!hvxIsDirectory(path))
        return;
    const auto entries = listDirectory(path);
    if (!entries)
        return;
    for (const DirectoryEntry &entry : *entries)
        callback(entry.path);
}

void hvxDeepEnumerateDirectoryWith(const QString &path, const HVXPathCallback &callback)
{
    if (hvxIsDirectory(path))
        deepEnumerate(path, callback);
}

std::optional<QString> hvxPathExtension(const QString &string)
{
    const auto path = urlReferencePath(string);
    if (!path)
        return std::nullopt;
    const QString component = lastPathComponent(*path);
    const qsizetype dot = component.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : component.mid(dot + 1);
}

std::optional<QString> hvxFilename(const QString &string)
{
    const auto path = urlReferencePath(string);
    if (!path)
        return std::nullopt;
    return lastPathComponent(*path);
}

QString hvxAddTilde(const QString &path)
{
    const QString home = QDir::homePath();
    // Only whole path components: with home /home/al, /home/alex stays as it is.
    const bool inHome = !home.isEmpty() && path.startsWith(home)
                        && (path.size() == home.size() || path.at(home.size()) == QLatin1Char('/') || home.endsWith(QLatin1Char('/')));
    return inHome ? QLatin1Char('~') + path.mid(home.size()) : path;
}

QString hvxStringByRemovingPrefix(const QString &string, const QString &prefix)
{
    return string.startsWith(prefix) ? string.mid(prefix.size()) : string;
}

QString hvxStringByRemovingSuffix(const QString &string, const QString &suffix)
{
    return string.endsWith(suffix) ? string.left(string.size() - suffix.size()) : string;
}

std::optional<HVXStringPair> hvxSplitAtFirst(const QString &string, const QString &separator)
{
    if (separator.isEmpty())
        return std::nullopt;
    const qsizetype at = string.indexOf(separator);
    if (at < 0)
        return std::nullopt;
    return HVXStringPair(string.left(at), string.mid(at + separator.size()));
}

std::optional<HVXStringPair> hvxSplitTrailingDigits(const QString &string)
{
    qsizetype start = string.size();
    while (start > 0 && string.at(start - 1) >= QLatin1Char('0') && string.at(start - 1) <= QLatin1Char('9'))
        --start;
    if (start == string.size())
        return std::nullopt;
    return HVXStringPair(string.left(start), string.mid(start));
}

int hvxCaseInsensitiveCompareWithTrailingNumber(const QString &a, const QString &b)
{
    const auto splitA = hvxSplitTrailingDigits(a);
    const auto splitB = hvxSplitTrailingDigits(b);
    if (splitA && splitB && splitA->first == splitB->first)
        return compareDigitRuns(splitA->second, splitB->second);
    const int order = a.compare(b, Qt::CaseInsensitive);
    return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

QString hvxStringByTrimmingWhitespace(const QString &string) { return string.trimmed(); }

QString hvxLeftWithoutSplittingPairs(const QString &string, qsizetype length)
{
    if (string.size() <= length)
        return string;
    if (length > 0 && string.at(length - 1).isHighSurrogate())
        --length;
    return string.left(length);
}

QString hvxEscapingControlCharacters(const QString &string, QStringView keep)
{
    const auto isControl = [&](QChar c) {
        const char16_t u = c.unicode();
        return (u < 0x20 && u != '\t' && !keep.contains(c)) || (u >= 0x7f && u <= 0x9f);
    };
    if (std::none_of(string.begin(), string.end(), isControl))
        return string;
    QString escaped;
    escaped.reserve(string.size() + 8);
    for (QChar c : string) {
        if (isControl(c))
            escaped += QStringLiteral("\\x") + QString::number(c.unicode(), 16).toUpper().rightJustified(2, QLatin1Char('0'));
        else
            escaped += c;
    }
    return escaped;
}

QString hvxInitials(const QString &string)
{
    QString initials;
    for (const QString &word : string.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        // A character outside the basic plane is taken whole, never half of its pair.
        const bool pair = word.size() > 1 && word.at(0).isHighSurrogate() && word.at(1).isLowSurrogate();
        initials += word.left(pair ? 2 : 1);
    }
    return initials;
}

QString hvxLastKeyPathComponent(const QString &keyPath)
{
    return keyPath.mid(keyPath.lastIndexOf(QLatin1Char('.')) + 1);
}

std::optional<QString> keyPathByRemovingFirstPathComponent(const QString &keyPath)
{
    const qsizetype dot = keyPath.indexOf(QLatin1Char('.'));
    if (dot < 0 || dot + 1 == keyPath.size())
        return std::nullopt;
    return keyPath.mid(dot + 1);
}

std::optional<QString> keyPathByRemovingLastPathComponent(const QString &keyPath)
{
    const qsizetype dot = keyPath.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return std::nullopt;
    return keyPath.left(dot);
}

QString hvxKeyPathToTitle(const QString &keyPath)
{
    QString title = hvxStringByAddingSpacesBeforeUppercaseCharacters(hvxLastKeyPathComponent(keyPath));
    title.replace(QLatin1Char('_'), QLatin1Char(' '));
    return capitalized(title);
}

QString hvxStringByAddingSpacesBeforeUppercaseCharacters(const QString &string)
{
    QString result = string;
    for (qsizetype i = string.size() - 1; i >= 1; --i) {
        if (isUpperCaseLetter(string.at(i)))
            result.insert(i, QLatin1Char(' '));
    }
    return result;
}

QString hvxUrlHostEscapedString(const QString &string) { return percentEncoded(string, "!$&'()*+,:;=[]"); }

QString hvxUrlPathEscapedString(const QString &string) { return percentEncoded(string, "!$&'()*+,/:=@"); }

QString hvxUrlQueryEscapedString(const QString &string) { return percentEncoded(string, "!$&'()*+,/:;=?@"); }

QString hvxUrlQueryParameterEscapedString(const QString &string) { return percentEncoded(string, "!$'()*+,/:;@"); }

QString hvxPredicateEscape(const QString &string)
{
    QString escaped = string;
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    escaped.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    escaped.replace(QLatin1Char('\r'), QLatin1String("\\r"));
    return escaped;
}

QString hvxLinebreaksToHtml(const QString &string)
{
    QString html = string;
    html.replace(QLatin1String("\r\n"), QLatin1String("<br />"));
    html.replace(QLatin1Char('\r'), QLatin1String("<br />"));
    html.replace(QLatin1Char('\n'), QLatin1String("<br />"));
    return html;
}

bool hvxIsDigitsOnly(const QString &string)
{
    if (string.isEmpty())
        return false;
    const QList<uint> codePoints = string.toUcs4();
    qsizetype i = 0;
    const qsizetype n = codePoints.size();
    while (i < n && QChar::isSpace(codePoints[i]))
        ++i;
    while (i < n && QChar::isDigit(codePoints[i]))
        ++i;
    while (i < n && QChar::isSpace(codePoints[i]))
        ++i;
    return i == n;
}

bool hvxMayBeString(const QString &string)
{
    for (QChar c : string) {
        const char16_t u = c.unicode();
        if (u < 32 && u != '\t' && u != '\n' && u != '\r')
            return false;
    }
    return true;
}

quint32 hvxParseHex(const QString &string)
{
    qsizetype i = 0;
    while (i < string.size() && string.at(i).isSpace())
        ++i;
    if (i + 1 < string.size() && string.at(i) == QLatin1Char('0')
        && (string.at(i + 1) == QLatin1Char('x') || string.at(i + 1) == QLatin1Char('X'))
        && i + 2 < string.size() && hexDigitValue(string.at(i + 2)) >= 0)
        i += 2;
    quint64 value = 0;
    for (; i < string.size(); ++i) {
        const int digit = hexDigitValue(string.at(i));
        if (digit < 0)
            break;
        // Too many digits saturate at the largest value instead of wrapping.
        value = std::min<quint64>(value * 16 + quint64(digit), 0xFFFFFFFFull);
    }
    return quint32(value);
}

std::optional<HVXColor> hvxParseHexColor(const QString &string)
{
    const QString digits = hvxStringByRemovingPrefix(string, QStringLiteral("#"));
    if (digits.size() < 6)
        return std::nullopt;
    auto component = [&](int pair) { return hvxParseHex(digits.mid(pair * 2, 2)) / 255.0; };
    const double alpha = digits.size() >= 8 ? component(3) : 1.0;
    return HVXColor::fromRgb(component(0), component(1), component(2), alpha);
}

QByteArray hvxUTF8Data(const QString &string) { return string.toUtf8(); }

std::optional<QString> hvxUTF8String(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

QString hvxASCIIString(const QByteArray &bytes) { return QString::fromLatin1(bytes); }
