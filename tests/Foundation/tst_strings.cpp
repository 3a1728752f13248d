#include "Halvex/Foundation/Categories/HVXIndexPath.h"
#include "Halvex/Foundation/Categories/HVXString.h"
#include "Halvex/Foundation/Categories/HVXURL.h"
#include "LogCapture.h"
#include "WithoutPrivileges.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>

namespace {
void touch(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        qFatal("cannot create %s", qPrintable(path));
}

QStringList listed(void (*enumerate)(const QString &, const HVXPathCallback &), const QString &path)
{
    QStringList paths;
    enumerate(path, [&](const QString &entry) { paths << entry; });
    return paths;
}

QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}
} // namespace

class TestStrings : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void enumeratesOneLevelWithHiddenEntriesAndFullPaths()
    {
        QTemporaryDir dir;
        const QString root = dir.path();
        QDir(root).mkpath(QStringLiteral("sub/deeper"));
        touch(root + QStringLiteral("/a.jsonl"));
        touch(root + QStringLiteral("/.hidden"));
        touch(root + QStringLiteral("/sub/b.jsonl"));

        QVERIFY(hvxIsDirectory(root));
        QVERIFY(hvxIsDirectory(root + QStringLiteral("/sub")));
        QVERIFY(!hvxIsDirectory(root + QStringLiteral("/a.jsonl")));
        QVERIFY(!hvxIsDirectory(root + QStringLiteral("/missing")));
        QVERIFY(!hvxIsDirectory(QString()));

        const QStringList expected = {root + QStringLiteral("/.hidden"), root + QStringLiteral("/a.jsonl"),
                                      root + QStringLiteral("/sub")};
        QCOMPARE(sorted(listed(hvxEnumerateDirectoryWith, root)), expected);
        // A trailing slash is not doubled.
        QCOMPARE(sorted(listed(hvxEnumerateDirectoryWith, root + QLatin1Char('/'))), expected);
        // Files and missing paths give nothing, quietly.
        LogCapture capture;
        QVERIFY(listed(hvxEnumerateDirectoryWith, root + QStringLiteral("/a.jsonl")).isEmpty());
        QVERIFY(listed(hvxEnumerateDirectoryWith, root + QStringLiteral("/missing")).isEmpty());
        QCOMPARE(capture.lines().size(), 0);
    }

    void unreadableDirectoryIsLoggedAndCallsNothing()
    {
        QTemporaryDir dir;
        WithoutPrivileges unprivileged(dir.path());
        if (!unprivileged.permissionsHold())
            QSKIP("running as root, and the rights that ignore permissions cannot be given up");
        const QString locked = dir.filePath(QStringLiteral("locked"));
        QDir().mkpath(locked);
        touch(locked + QStringLiteral("/x"));
        QFile::setPermissions(locked, QFileDevice::Permissions());
        QVERIFY(!QDir(locked).isReadable());
        LogCapture capture;
        QVERIFY(listed(hvxEnumerateDirectoryWith, locked).isEmpty());
        QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QCOMPARE(capture.lines().size(), 1);
        QVERIFY(capture.lines()[0].contains(QStringLiteral(": ERROR: Failed to get contents of '%1': ").arg(locked)));
    }

    void deepEnumerationVisitsDirectoriesBeforeTheirContentsAndSkipsLinkLoops()
    {
        QTemporaryDir dir;
        const QString root = dir.path();
        QDir(root).mkpath(QStringLiteral("p/q"));
        touch(root + QStringLiteral("/p/q/file"));
        touch(root + QStringLiteral("/top"));
        // A link back up the tree would loop forever if it were followed.
        QVERIFY(QFile::link(root, root + QStringLiteral("/p/q/loop")));

        const QStringList paths = listed(hvxDeepEnumerateDirectoryWith, root);
        QCOMPARE(sorted(paths), QStringList({root + QStringLiteral("/p"), root + QStringLiteral("/p/q"),
                                             root + QStringLiteral("/p/q/file"), root + QStringLiteral("/p/q/loop"),
                                             root + QStringLiteral("/top")}));
        QVERIFY(paths.indexOf(root + QStringLiteral("/p")) < paths.indexOf(root + QStringLiteral("/p/q")));
        QVERIFY(paths.indexOf(root + QStringLiteral("/p/q")) < paths.indexOf(root + QStringLiteral("/p/q/file")));
        // The linked directory itself still counts as a directory.
        QVERIFY(hvxIsDirectory(root + QStringLiteral("/p/q/loop")));
    }

    void pathExtensionAndFilenameReadTheStringAsAURLReference()
    {
        QCOMPARE(hvxPathExtension(QStringLiteral("/a/b/session.jsonl")), QStringLiteral("jsonl"));
        QCOMPARE(hvxPathExtension(QStringLiteral("/a/archive.tar.gz")), QStringLiteral("gz"));
        QCOMPARE(hvxPathExtension(QStringLiteral("/a.d/noext")), QString());
        QCOMPARE(hvxPathExtension(QStringLiteral("/a/dir.d/")), QStringLiteral("d"));
        QCOMPARE(hvxPathExtension(QStringLiteral("/Users/me/My Project/notes.md")), QStringLiteral("md"));
        QCOMPARE(hvxPathExtension(QStringLiteral("file:///tmp/x.json?query=1#frag")), QStringLiteral("json"));
        QCOMPARE(hvxPathExtension(QStringLiteral("/tmp/encoded%2Ejson")), QStringLiteral("json"));
        QCOMPARE(hvxPathExtension(QString()), QString());
        QVERIFY(!hvxPathExtension(QStringLiteral("http://[::1")));

        QCOMPARE(hvxFilename(QStringLiteral("/a/b/session.jsonl")), QStringLiteral("session.jsonl"));
        QCOMPARE(hvxFilename(QStringLiteral("/a/b/")), QStringLiteral("b"));
        QCOMPARE(hvxFilename(QStringLiteral("/")), QStringLiteral("/"));
        QCOMPARE(hvxFilename(QStringLiteral("tvl:///Users/x/p?exchange=1")), QStringLiteral("p"));
        QVERIFY(!hvxFilename(QStringLiteral("http://[::1")));
    }

    void addTildeAbbreviatesTheHomeDirectory()
    {
        const QString home = QDir::homePath();
        QCOMPARE(hvxAddTilde(home + QStringLiteral("/x")), QStringLiteral("~/x"));
        QCOMPARE(hvxAddTilde(home), QStringLiteral("~"));
        QCOMPARE(hvxAddTilde(QStringLiteral("/elsewhere") + home), QStringLiteral("/elsewhere") + home);
        // A sibling that merely shares the home path's letters is not inside it.
        QCOMPARE(hvxAddTilde(home + QStringLiteral("2/x")), home + QStringLiteral("2/x"));
    }

    void prefixSuffixAndSplitting()
    {
        QCOMPARE(hvxStringByRemovingPrefix(QStringLiteral("prefix-rest"), QStringLiteral("prefix-")), QStringLiteral("rest"));
        QCOMPARE(hvxStringByRemovingPrefix(QStringLiteral("rest"), QStringLiteral("prefix-")), QStringLiteral("rest"));
        QCOMPARE(hvxStringByRemovingSuffix(QStringLiteral("name.jsonl"), QStringLiteral(".jsonl")), QStringLiteral("name"));
        QCOMPARE(hvxStringByRemovingSuffix(QStringLiteral("name"), QStringLiteral(".jsonl")), QStringLiteral("name"));

        QCOMPARE(hvxSplitAtFirst(QStringLiteral("a|b|c"), QStringLiteral("|")),
                 HVXStringPair(QStringLiteral("a"), QStringLiteral("b|c")));
        QCOMPARE(hvxSplitAtFirst(QStringLiteral("|x"), QStringLiteral("|")), HVXStringPair(QString(), QStringLiteral("x")));
        QVERIFY(!hvxSplitAtFirst(QStringLiteral("a|b"), QString()));
        QVERIFY(!hvxSplitAtFirst(QStringLiteral("abc"), QStringLiteral("|")));

        QCOMPARE(hvxSplitTrailingDigits(QStringLiteral("abc12")), HVXStringPair(QStringLiteral("abc"), QStringLiteral("12")));
        QCOMPARE(hvxSplitTrailingDigits(QStringLiteral("123")), HVXStringPair(QString(), QStringLiteral("123")));
        QVERIFY(!hvxSplitTrailingDigits(QStringLiteral("abc")));
        QVERIFY(!hvxSplitTrailingDigits(QString()));
        // Only ASCII digits count as trailing digits.
        QVERIFY(!hvxSplitTrailingDigits(QStringLiteral("abc\u0663")));
    }

    void trailingNumbersSortNumerically()
    {
        QVERIFY(hvxCaseInsensitiveCompareWithTrailingNumber(QStringLiteral("Item 9"), QStringLiteral("Item 10")) < 0);
        QVERIFY(hvxCaseInsensitiveCompareWithTrailingNumber(QStringLiteral("Item 10"), QStringLiteral("Item 9")) > 0);
        QCOMPARE(hvxCaseInsensitiveCompareWithTrailingNumber(QStringLiteral("a01"), QStringLiteral("a1")), 0);
        // Runs longer than any 64-bit number still compare by value.
        QVERIFY(hvxCaseInsensitiveCompareWithTrailingNumber(QStringLiteral("v99999999999999999999"),
                                                            QStringLiteral("v100000000000000000000")) < 0);
        // Different stems (stems compare exactly) fall back to a case-insensitive comparison.
        QCOMPARE(hvxCaseInsensitiveCompareWithTrailingNumber(QStringLiteral("Item 2"), QStringLiteral("item 2")), 0);
        QVERIFY(hvxCaseInsensitiveCompareWithTrailingNumber(QStringLiteral("item 10"), QStringLiteral("Item 9")) < 0);
        QVERIFY(hvxCaseInsensitiveCompareWithTrailingNumber(QStringLiteral("alpha"), QStringLiteral("Beta")) < 0);

        QStringList names = {QStringLiteral("Session 10"), QStringLiteral("Session 2"), QStringLiteral("Session 1")};
        std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
            return hvxCaseInsensitiveCompareWithTrailingNumber(a, b) < 0;
        });
        QCOMPARE(names, QStringList({QStringLiteral("Session 1"), QStringLiteral("Session 2"), QStringLiteral("Session 10")}));
    }

    void keyPathHelpers()
    {
        QCOMPARE(hvxLastKeyPathComponent(QStringLiteral("a.b.c")), QStringLiteral("c"));
        QCOMPARE(hvxLastKeyPathComponent(QStringLiteral("abc")), QStringLiteral("abc"));
        QCOMPARE(keyPathByRemovingFirstPathComponent(QStringLiteral("a.b.c")), QStringLiteral("b.c"));
        QVERIFY(!keyPathByRemovingFirstPathComponent(QStringLiteral("abc")));
        QVERIFY(!keyPathByRemovingFirstPathComponent(QStringLiteral("abc.")));
        QCOMPARE(keyPathByRemovingLastPathComponent(QStringLiteral("a.b.c")), QStringLiteral("a.b"));
        QVERIFY(!keyPathByRemovingLastPathComponent(QStringLiteral("abc")));

        QCOMPARE(hvxKeyPathToTitle(QStringLiteral("a.b.someValue_name")), QStringLiteral("Some Value Name"));
        QCOMPARE(hvxKeyPathToTitle(QStringLiteral("totalURLCount")), QStringLiteral("Total U R L Count"));
        QCOMPARE(hvxStringByAddingSpacesBeforeUppercaseCharacters(QStringLiteral("SomeValueX")), QStringLiteral("Some Value X"));
        QCOMPARE(hvxStringByAddingSpacesBeforeUppercaseCharacters(QString()), QString());
    }

    void escaping()
    {
        QCOMPARE(hvxUrlPathEscapedString(QStringLiteral("/a b/@c?d#é")), QStringLiteral("/a%20b/@c%3Fd%23%C3%A9"));
        QCOMPARE(hvxUrlQueryEscapedString(QStringLiteral("a=1&b=/x?y#z")), QStringLiteral("a=1&b=/x?y%23z"));
        QCOMPARE(hvxUrlQueryParameterEscapedString(QStringLiteral("a=1&b?c d")), QStringLiteral("a%3D1%26b%3Fc%20d"));
        QCOMPARE(hvxUrlHostEscapedString(QStringLiteral("[::1]:80/x")), QStringLiteral("[::1]:80%2Fx"));
        // Characters outside the basic plane are encoded as their four UTF-8 bytes.
        QCOMPARE(hvxUrlQueryEscapedString(QStringLiteral("😀")), QStringLiteral("%F0%9F%98%80"));

        QCOMPARE(hvxPredicateEscape(QString()), QString());
        QCOMPARE(hvxPredicateEscape(QStringLiteral("a\\b\nc\rd")), QStringLiteral("a\\\\b\\nc\\rd"));

        QCOMPARE(hvxLinebreaksToHtml(QStringLiteral("a\r\nb\rc\nd\n\re")), QStringLiteral("a<br />b<br />c<br />d<br /><br />e"));

        // Terminal escape sequences (title, cursor, colour), DEL and C1 controls are shown, not sent.
        QCOMPARE(hvxEscapingControlCharacters(QString::fromUtf8("\x1b]0;pwned\x07\x1b[2J\x1b[31mred\tx\x7f\u009bé")),
                 QStringLiteral("\\x1B]0;pwned\\x07\\x1B[2J\\x1B[31mred\tx\\x7F\\x9Bé"));
        QCOMPARE(hvxEscapingControlCharacters(QStringLiteral("a\r\nb")), QStringLiteral("a\\x0D\\x0Ab"));
        QCOMPARE(hvxEscapingControlCharacters(QStringLiteral("a\r\nb"), u"\n"), QStringLiteral("a\\x0D\nb"));
    }

    void textChecksCountUTF16Units()
    {
        QVERIFY(!hvxIsDigitsOnly(QString()));
        QVERIFY(hvxIsDigitsOnly(QStringLiteral("  123 \n")));
        QVERIFY(hvxIsDigitsOnly(QStringLiteral("   ")));
        QVERIFY(hvxIsDigitsOnly(QStringLiteral("\u0661\u0662"))); // Arabic-Indic digits
        QVERIFY(hvxIsDigitsOnly(QStringLiteral("𝟏𝟐")));          // digits outside the basic plane
        QVERIFY(!hvxIsDigitsOnly(QStringLiteral("1 2")));
        QVERIFY(!hvxIsDigitsOnly(QStringLiteral("12a")));
        QVERIFY(!hvxIsDigitsOnly(QStringLiteral("-1")));

        QCOMPARE(hvxStringByTrimmingWhitespace(QStringLiteral(" \t\n x y \r\n")), QStringLiteral("x y"));

        QCOMPARE(hvxInitials(QStringLiteral("ada  lovelace King")), QStringLiteral("alK"));
        QCOMPARE(hvxInitials(QString()), QString());
        const QString initials = hvxInitials(QStringLiteral("😀 smile"));
        QCOMPARE(initials, QStringLiteral("😀s"));
        QCOMPARE(initials.size(), 3); // the emoji is two UTF-16 units, kept together

        QVERIFY(hvxMayBeString(QString()));
        QVERIFY(hvxMayBeString(QStringLiteral("tabs\tand\r\nbreaks")));
        QVERIFY(!hvxMayBeString(QString(QChar(0)) + QStringLiteral("x")));
        QVERIFY(!hvxMayBeString(QStringLiteral("esc\x1b[0m")));
        QVERIFY(hvxMayBeString(QStringLiteral("\x7f and é")));
    }

    void hexNumbersAndColours()
    {
        QCOMPARE(hvxParseHex(QStringLiteral("ff")), 255u);
        QCOMPARE(hvxParseHex(QStringLiteral("  0x1A2b rest")), 0x1A2Bu);
        QCOMPARE(hvxParseHex(QStringLiteral("0XFF")), 255u);
        QCOMPARE(hvxParseHex(QStringLiteral("zz")), 0u);
        QCOMPARE(hvxParseHex(QString()), 0u);
        QCOMPARE(hvxParseHex(QStringLiteral("123456789abc")), 0xFFFFFFFFu);

        const auto orange = hvxParseHexColor(QStringLiteral("#FF8000"));
        QVERIFY(orange);
        QCOMPARE(*orange, HVXColor::fromRgb(1.0, 128 / 255.0, 0.0, 1.0));
        const auto translucent = hvxParseHexColor(QStringLiteral("00ff0080"));
        QVERIFY(translucent);
        QCOMPARE(*translucent, HVXColor::fromRgb(0.0, 1.0, 0.0, 128 / 255.0));
        // Seven digits: not enough for an alpha pair.
        QCOMPARE(hvxParseHexColor(QStringLiteral("#0000ff8"))->alpha, 1.0);
        QVERIFY(!hvxParseHexColor(QStringLiteral("#12345")));
        QVERIFY(!hvxParseHexColor(QStringLiteral("#")));
        // Pairs that are not hex read as 0.
        QCOMPARE(*hvxParseHexColor(QStringLiteral("zz00ff")), HVXColor::fromRgb(0.0, 0.0, 1.0));
    }

    void utf8AndASCII()
    {
        QCOMPARE(hvxUTF8Data(QStringLiteral("é😀")), QByteArray("\xc3\xa9\xf0\x9f\x98\x80"));
        QCOMPARE(hvxUTF8String(QByteArray("\xc3\xa9")), QStringLiteral("é"));
        QCOMPARE(hvxUTF8String(QByteArray()), QString());
        QVERIFY(!hvxUTF8String(QByteArray("\xc3")));
        QVERIFY(!hvxUTF8String(QByteArray("ok\xff")));
        QVERIFY(!hvxUTF8String(QByteArray("\xed\xa0\x80"))); // an encoded surrogate
        QCOMPARE(hvxASCIIString(QByteArray("plain")), QStringLiteral("plain"));
    }

    void urls()
    {
        QCOMPARE(hvxFileUrl(QStringLiteral("/tmp/a b")).toString(), QStringLiteral("file:///tmp/a b"));
        QCOMPARE(hvxUrl(QStringLiteral("tvl:///Users/x?exchange=E1"))->scheme(), QStringLiteral("tvl"));
        QVERIFY(!hvxUrl(QString()));
        QVERIFY(!hvxUrl(QStringLiteral("http://[::1")));

        const QUrl url(QStringLiteral("tvl:///p?exchange=A&mode=1&exchange=B%20C&gone=1&gone&empty="));
        const QMap<QString, QString> items = hvxQueryItemsAsDictionary(url);
        QCOMPARE(items.value(QStringLiteral("exchange")), QStringLiteral("B C"));
        QCOMPARE(items.value(QStringLiteral("mode")), QStringLiteral("1"));
        QVERIFY(!items.contains(QStringLiteral("gone")));
        QVERIFY(items.contains(QStringLiteral("empty")));
        QCOMPARE(items.size(), 3);
        QVERIFY(hvxQueryItemsAsDictionary(QUrl(QStringLiteral("tvl:///p"))).isEmpty());
    }

    void makingDirectories()
    {
        QTemporaryDir dir;
        LogCapture capture;
        const QString file = dir.filePath(QStringLiteral("x/y/z/file.json"));
        QVERIFY(hvxMakeDirectoryForFile(hvxFileUrl(file)));
        QVERIFY(hvxIsDirectory(dir.filePath(QStringLiteral("x/y/z"))));
        QVERIFY(hvxMkdirs(hvxFileUrl(dir.filePath(QStringLiteral("x/y")))));
        QCOMPARE(capture.lines().size(), 0);

        touch(dir.filePath(QStringLiteral("plain")));
        QVERIFY(!hvxMkdirs(hvxFileUrl(dir.filePath(QStringLiteral("plain")))));
        QVERIFY(!hvxMkdirs(hvxFileUrl(dir.filePath(QStringLiteral("plain/below")))));
        QCOMPARE(capture.count(QStringLiteral(": ERROR: Error creating directory 'file://")), 2);

        capture.clear();
        QVERIFY(!hvxMakeDirectoryForFile(QUrl(QStringLiteral("https://example.com/a/b"))));
        QCOMPARE(capture.lines().size(), 1);
        QVERIFY(capture.lines()[0].endsWith(
            QLatin1String(": ERROR:  Can't call hvxMakeDirectoryForFile on non-fileURL 'https://example.com/a/b'")));
    }

    void indexPaths()
    {
        QCOMPARE(indexPathByRemovingFirstIndex({3, 1, 4}), HVXIndexPath({1, 4}));
        QCOMPARE(indexPathByRemovingFirstIndex({3}), HVXIndexPath());
        QCOMPARE(indexPathByRemovingFirstIndex({}), HVXIndexPath());
        QCOMPARE(firstIndex({3, 1}), qint64(3));
        QCOMPARE(firstIndex({}), std::numeric_limits<qint64>::max());
    }
};

QTEST_GUILESS_MAIN(TestStrings)
#include "tst_strings.moc"
