#include "Halvex/Foundation/Categories/HVX_JSON.h"
#include "LogCapture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QProcess>
#include <QResource>
#include <QTemporaryDir>
#include <QTest>

namespace {
QJsonValue parsed(const char *json)
{
    const auto value = hvxJSONValue(QByteArray(json));
    if (!value)
        qFatal("test JSON does not parse: %s", json);
    return *value;
}
} // namespace

class TestJSON : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void prettyPrintsNestedContainersWithTheirDoubledIndentation()
    {
        QCOMPARE(hvxPrettyPrint(parsed("{\"b\": [1, \"x\"], \"a\": null}")),
                 QStringLiteral("{\n"
                                "    \"a\": null,\n"
                                "    \"b\":     [\n"
                                "        1,\n"
                                "        \"x\"\n"
                                "    ]\n"
                                "}"));
        // An array element that is a container starts with the element indentation twice.
        QCOMPARE(hvxPrettyPrint(parsed("[{\"k\": true}, []]")),
                 QStringLiteral("[\n"
                                "        {\n"
                                "        \"k\": 1\n"
                                "    },\n"
                                "        [\n"
                                "    ]\n"
                                "]"));
    }

    void prettyPrintsEmptyContainersAndScalars()
    {
        QCOMPARE(hvxPrettyPrint(QJsonArray()), QStringLiteral("[\n]"));
        QCOMPARE(hvxPrettyPrint(QJsonObject()), QStringLiteral("{\n\n}"));
        QCOMPARE(hvxPrettyPrint(QJsonValue(true)), QStringLiteral("1"));
        QCOMPARE(hvxPrettyPrint(QJsonValue(false)), QStringLiteral("0"));
        QCOMPARE(hvxPrettyPrint(QJsonValue(qint64(12345678901234))), QStringLiteral("12345678901234"));
        QCOMPARE(hvxPrettyPrint(QJsonValue(2.5)), QStringLiteral("2.5"));
        QCOMPARE(hvxPrettyPrint(parsed("[2.0]")), QStringLiteral("[\n    2\n]"));
        QCOMPARE(hvxPrettyPrint(QJsonValue()), QStringLiteral("null"));
        QCOMPARE(hvxPrettyPrintWithIndent(QJsonValue(QJsonValue::Undefined), 2, false),
                 QStringLiteral("{\n        }\n"));
        QCOMPARE(hvxPPIndent(0), QString());
        QCOMPARE(hvxPPIndent(3), QString(12, QLatin1Char(' ')));
    }

    void prettyStringsEscapeOnlyQuotesAndLineFeeds()
    {
        const QJsonValue text(QStringLiteral("say \"hi\"\nback\\slash\ttab"));
        QCOMPARE(hvxPrettyPrint(text), QStringLiteral("\"say \\\"hi\\\"\\nback\\slash\ttab\""));
        // Keys are printed as they are.
        QJsonObject object;
        object.insert(QStringLiteral("k\"ey"), 1);
        QCOMPARE(hvxPrettyPrint(object), QStringLiteral("{\n    \"k\"ey\": 1\n}"));
    }

    void keysAreSortedCaseSensitively()
    {
        QCOMPARE(hvxPrettyPrint(parsed("{\"a\": 1, \"B\": 2, \"A\": 3}")),
                 QStringLiteral("{\n    \"A\": 3,\n    \"B\": 2,\n    \"a\": 1\n}"));
    }

    void highlightMarksEveryKindOfValue()
    {
        QCOMPARE(hvxPrettyPrintWithIndent(parsed("{\"k\": \"v\"}"), 0, true),
                 QStringLiteral("{\n    [c:Brown]\"k\"[c:]: [c:Green]\"v\"[c:]\n}"));
        QCOMPARE(hvxPrettyPrintWithIndent(parsed("[1, null, {\"n\": false}]"), 1, true),
                 QStringLiteral("    [\n"
                                "        [c:Blue]1[c:],\n"
                                "        [c:Gray]null[c:],\n"
                                "                {\n"
                                "            [c:Brown]\"n\"[c:]: [c:Blue]0[c:]\n"
                                "        }\n"
                                "    ]"));
    }

    void parsesObjectsAndArraysFromTextAndBytes()
    {
        LogCapture capture;
        const auto fromText = hvxJSONValue(QStringLiteral("{\"name\": \"Zoë\", \"list\": [1, 2]}"));
        QVERIFY(fromText && fromText->isObject());
        QCOMPARE(fromText->toObject().value(QStringLiteral("name")).toString(), QStringLiteral("Zoë"));
        const auto fromBytes = hvxJSONValue(QByteArray("  [true, \"\\u00e9\"]  "));
        QVERIFY(fromBytes && fromBytes->isArray());
        QCOMPARE(fromBytes->toArray().at(1).toString(), QStringLiteral("é"));
        QCOMPARE(capture.lines().size(), 0);
    }

    void parseFailuresLogTheErrorAndTheText()
    {
        LogCapture capture;
        QVERIFY(!hvxJSONValue(QStringLiteral("42")));
        QVERIFY(!hvxJSONValue(QStringLiteral("\"just a string\"")));
        QVERIFY(!hvxJSONValue(QByteArray("[1, 2")));
        QVERIFY(!hvxJSONValue(QByteArray("[\"\xff\"]")));
        QVERIFY(!hvxJSONValue(QByteArray()));
        const QStringList lines = capture.lines();
        QCOMPARE(lines.size(), 5);
        for (const QString &line : lines) {
            QVERIFY2(line.startsWith(QLatin1String("Halvex/Foundation/Categories/HVX_JSON.cpp:")), qPrintable(line));
            QVERIFY2(line.contains(QLatin1String(": ERROR: Error creating object from JSON: ")), qPrintable(line));
        }
        QVERIFY(lines[0].endsWith(QLatin1String("\nJSON String: 42")));
        QVERIFY(lines[2].endsWith(QLatin1String("\nJSON String: [1, 2")));
        QVERIFY(lines[3].endsWith(QStringLiteral("\nJSON String: [\"\uFFFD\"]")));
    }

    void deepNestingAndHugeInputFailWithoutCrashing()
    {
        LogCapture capture;
        QVERIFY(!hvxJSONValue(QByteArray(100000, '[')));
        QCOMPARE(capture.count(QStringLiteral("Error creating object from JSON")), 1);
        // The text in the log line is cut, not the whole 10 MB.
        QVERIFY(capture.lines().first().size() < 1300);

        capture.clear();
        QByteArray huge = "[\"" + QByteArray(10 * 1000 * 1000, 'x') + "\", ";
        QVERIFY(!hvxJSONValue(huge));
        QCOMPARE(capture.lines().size(), 1);
        QVERIFY(capture.lines().first().size() < 1300);

        huge.chop(2);
        huge += "]";
        const auto big = hvxJSONValue(huge);
        QVERIFY(big && big->toArray().at(0).toString().size() == 10 * 1000 * 1000);
    }

    void writesCompactJSONWithEscapedSolidusAndSortedKeys()
    {
        QJsonObject object;
        object.insert(QStringLiteral("path"), QStringLiteral("/tmp/a b"));
        object.insert(QStringLiteral("B"), QJsonArray{1, 2.5, true, QJsonValue()});
        object.insert(QStringLiteral("a"), QStringLiteral("line\n\"quoted\""));
        const auto bytes = hvxJSON(object);
        QVERIFY(bytes);
        QCOMPARE(*bytes, QByteArray("{\"B\":[1,2.5,true,null],\"a\":\"line\\n\\\"quoted\\\"\",\"path\":\"\\/tmp\\/a b\"}"));
        // What is written reads back as the same value.
        QCOMPARE(hvxJSONValue(*bytes)->toObject(), object);
        QCOMPARE(*hvxJSON(QJsonArray()), QByteArray("[]"));
    }

    void writeFailuresLogTheObject()
    {
        LogCapture capture;
        QVERIFY(!hvxJSON(QJsonValue(QStringLiteral("scalar"))));
        QVERIFY(!hvxJSON(QJsonArray{1, qQNaN()}));
        QVERIFY(!hvxJSON(QJsonObject{{QStringLiteral("x"), qInf()}}));
        const QStringList lines = capture.lines();
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines[0].contains(QLatin1String(": ERROR: Error creating JSON: ")));
        QVERIFY(lines[0].endsWith(QLatin1String("\nObject: scalar")));
        QVERIFY(lines[1].contains(QLatin1String("Error creating JSON: ")));
        QVERIFY(lines[2].contains(QLatin1String("\nObject: {")));
    }

    void loadsFilesAndReportsMissingOnes()
    {
        QTemporaryDir dir;
        const QString good = dir.filePath(QStringLiteral("good.json"));
        const QString bad = dir.filePath(QStringLiteral("bad.json"));
        const QString latin1 = dir.filePath(QStringLiteral("latin1.json"));
        const QString bom = dir.filePath(QStringLiteral("bom.json"));
        auto write = [](const QString &path, const QByteArray &bytes) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(bytes);
        };
        write(good, "{\"tags\": [1, 2]}");
        write(bad, "{\"tags\": ");
        write(latin1, "[\"caf\xe9\"]");
        write(bom, "\xEF\xBB\xBF[1]");

        LogCapture capture;
        const auto value = loadPropertyListFromJSONFile(good);
        QVERIFY(value);
        QCOMPARE(value->toObject().value(QStringLiteral("tags")).toArray().size(), 2);
        QCOMPARE(loadPropertyListFromJSONFile(bom)->toArray().size(), 1);
        QCOMPARE(capture.lines().size(), 0);

        // Text that is not UTF-8 gives nothing, silently.
        QVERIFY(!loadPropertyListFromJSONFile(latin1));
        QCOMPARE(capture.lines().size(), 0);

        QVERIFY(!loadPropertyListFromJSONFile(bad));
        QCOMPARE(capture.count(QStringLiteral("Error creating object from JSON")), 1);

        capture.clear();
        const QString missing = dir.filePath(QStringLiteral("missing.json"));
        QVERIFY(!loadPropertyListFromJSONFile(missing));
        QCOMPARE(capture.lines().size(), 1);
        QVERIFY(capture.lines()[0].endsWith(QStringLiteral(": ERROR: File not found at '%1'").arg(missing)));

        capture.clear();
        QVERIFY(!loadPropertyListFromJSONFile(QString()));
        QCOMPARE(capture.lines().size(), 2);
        QVERIFY(capture.lines()[0].endsWith(QLatin1String(": ASSERTION: Can't read JSON without a path!")));
        QVERIFY(capture.lines()[1].endsWith(QLatin1String(": ERROR: File not found at ''")));
    }

    void loadsResourcesByName()
    {
        // A resource bundle made by Qt's resource compiler for this test, registered at run time.
        const QString rcc = QLibraryInfo::path(QLibraryInfo::LibraryExecutablesPath) + QStringLiteral("/rcc");
        if (!QFileInfo::exists(rcc))
            QSKIP("Qt's resource compiler is not installed");
        QTemporaryDir dir;
        QDir().mkpath(dir.filePath(QStringLiteral("data")));
        auto write = [](const QString &path, const QByteArray &bytes) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(bytes);
        };
        write(dir.filePath(QStringLiteral("data/tst_json_sample.json")), "{\"sample\": true}");
        write(dir.filePath(QStringLiteral("test.qrc")),
              "<RCC><qresource prefix=\"/tests\"><file>data/tst_json_sample.json</file></qresource></RCC>");
        const QString bundle = dir.filePath(QStringLiteral("test.rcc"));
        QProcess process;
        process.setWorkingDirectory(dir.path());
        process.start(rcc, {QStringLiteral("--binary"), QStringLiteral("test.qrc"), QStringLiteral("-o"), bundle});
        QVERIFY(process.waitForFinished());
        QCOMPARE(process.exitCode(), 0);
        QVERIFY(QResource::registerResource(bundle));

        LogCapture capture;
        const auto value = loadPropertyListFromJSONResourceNamed(QStringLiteral("tst_json_sample"));
        QVERIFY(value);
        QCOMPARE(value->toObject().value(QStringLiteral("sample")).toBool(), true);
        QCOMPARE(capture.lines().size(), 0);

        QVERIFY(!loadPropertyListFromJSONResourceNamed(QStringLiteral("noSuchResource"), true));
        QCOMPARE(capture.lines().size(), 0);
        QVERIFY(!loadPropertyListFromJSONResourceNamed(QStringLiteral("noSuchResource")));
        QCOMPARE(capture.lines().size(), 1);
        QVERIFY(capture.lines()[0].endsWith(QLatin1String(": WARNING: Can't find JSON resource named 'noSuchResource'!")));
        // A name with its folder finds the resource directly.
        QVERIFY(loadPropertyListFromJSONResourceNamed(QStringLiteral("tests/data/tst_json_sample")));
        QVERIFY(QResource::unregisterResource(bundle));
    }

    void encodesBytesForAURLHost()
    {
        QCOMPARE(hvxForUrl(QByteArray("a b/c[d]:e;f=g~h")), QStringLiteral("a%20b%2Fc[d]:e;f=g~h"));
        QCOMPARE(hvxForUrl(QByteArray("Zo\xc3\xab")), QStringLiteral("Zo%C3%AB"));
    }
};

QTEST_GUILESS_MAIN(TestJSON)
#include "tst_json.moc"
