#pragma once
// Small operations on strings and paths: directory listing, path-extension and file-name
// helpers, home-directory abbreviation, key-path helpers, splitting, escaping, hexadecimal
// parsing and text checks. Lengths and positions count UTF-16 code units, as QString does.

#include "Halvex/Foundation/HVXColor.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <optional>
#include <utility>

using HVXStringPair = std::pair<QString, QString>;
using HVXPathCallback = std::function<void(const QString &path)>;

// --- Paths --------------------------------------------------------------------------------

// True when something exists at the path (symbolic links followed) and it is a directory.
bool hvxIsDirectory(const QString &path);
// Calls back once per direct entry (hidden ones included, "." and ".." not) with its full path,
// in the order the file system gives. Nothing for a non-directory; a failed listing is logged.
void hvxEnumerateDirectoryWith(const QString &path, const HVXPathCallback &callback);
// Every descendant, depth first, a directory before its contents. Symbolic links to directories
// are reported but not entered, so link loops end.
void hvxDeepEnumerateDirectoryWith(const QString &path, const HVXPathCallback &callback);
// The extension (without its dot) of the path of the string read as a URL reference; empty when
// there is none; absent when the string is no valid URL reference.
std::optional<QString> hvxPathExtension(const QString &string);
// The last component of the path of the string read as a URL reference.
std::optional<QString> hvxFilename(const QString &string);
// "~" followed by the rest when the string begins with the home-directory path.
QString hvxAddTilde(const QString &path);

// --- Pieces of strings ----------------------------------------------------------------------

QString hvxStringByRemovingPrefix(const QString &string, const QString &prefix);
QString hvxStringByRemovingSuffix(const QString &string, const QString &suffix);
// The text before and after the first occurrence; absent for an empty or missing separator.
std::optional<HVXStringPair> hvxSplitAtFirst(const QString &string, const QString &separator);
// ("abc", "12") for "abc12"; absent when the string does not end in ASCII digits.
std::optional<HVXStringPair> hvxSplitTrailingDigits(const QString &string);
// Orders "Item 9" before "Item 10": equal stems compare by their trailing numbers, everything
// else case-insensitively. Negative, zero or positive like QString::compare.
int hvxCaseInsensitiveCompareWithTrailingNumber(const QString &a, const QString &b);
QString hvxStringByTrimmingWhitespace(const QString &string);
// The first `length` UTF-16 units, one fewer when the cut would split a surrogate pair.
QString hvxLeftWithoutSplittingPairs(const QString &string, qsizetype length);
// Text that is safe to print on a terminal: every control character (C0 but tab, DEL, C1) as
// "\x1B" and the like, so escape sequences in it can't move the cursor, retitle the window or
// colour the rest. `keep` names further characters left as they are ("\n" for multi-line text).
QString hvxEscapingControlCharacters(const QString &string, QStringView keep = {});
// The first character of every word between spaces.
QString hvxInitials(const QString &string);

// --- Key paths -------------------------------------------------------------------------------

QString hvxLastKeyPathComponent(const QString &keyPath);
std::optional<QString> keyPathByRemovingFirstPathComponent(const QString &keyPath);
std::optional<QString> keyPathByRemovingLastPathComponent(const QString &keyPath);
// "a.b.someValue_name" -> "Some Value Name".
QString hvxKeyPathToTitle(const QString &keyPath);
QString hvxStringByAddingSpacesBeforeUppercaseCharacters(const QString &string);

// --- Escaping ------------------------------------------------------------------------------

// Percent-encoding (upper-case hex of the UTF-8 bytes) of everything outside the characters
// allowed in a URL host, path, query, or query parameter value.
QString hvxUrlHostEscapedString(const QString &string);
QString hvxUrlPathEscapedString(const QString &string);
QString hvxUrlQueryEscapedString(const QString &string);
QString hvxUrlQueryParameterEscapedString(const QString &string);
// Backslash, line feed and carriage return escaped for a quoted predicate string.
QString hvxPredicateEscape(const QString &string);
// CR LF, CR and LF each become "<br />".
QString hvxLinebreaksToHtml(const QString &string);

// --- Checks and conversions ------------------------------------------------------------------

// Decimal digits surrounded only by white space (a blank string counts; the empty one does not).
bool hvxIsDigitsOnly(const QString &string);
// False when a control character other than tab, line feed and carriage return occurs.
bool hvxMayBeString(const QString &string);
// The hexadecimal number at the start (white space skipped, optional "0x"); 0 when there is none.
quint32 hvxParseHex(const QString &string);
// "#rrggbb" or "#rrggbbaa" (the "#" optional); absent for fewer than six characters.
std::optional<HVXColor> hvxParseHexColor(const QString &string);
QByteArray hvxUTF8Data(const QString &string);
// Absent when the bytes are not valid UTF-8.
std::optional<QString> hvxUTF8String(const QByteArray &bytes);
// Bytes above 127 are read as Latin-1.
QString hvxASCIIString(const QByteArray &bytes);
