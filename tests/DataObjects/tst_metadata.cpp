// The project metadata store and the tag palette, on real files and a real settings file.

#include "Halvex/Foundation/HVXDefaults.h"
#include "Tavlo/DataObjects/TVLChangeHub.h"
#include "LogCapture.h"
#include "Tavlo/DataObjects/TVLAnnotation.h"
#include "Tavlo/DataObjects/TVLProjectMetadata.h"
#include "Tavlo/DataObjects/TVLTag.h"
#include "WithoutPrivileges.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

namespace {
QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

QJsonObject readJson(const QString &path) { return QJsonDocument::fromJson(readAll(path)).object(); }

// Counts "TVLProjectMetadataDidChangeNotification" for one store.
struct ChangeCounter
{
    QObject context;
    int count = 0;
    explicit ChangeCounter(TVLProjectMetadata *store)
    {
        QObject::connect(&TVLChangeHub::shared(), &TVLChangeHub::projectMetadataDidChange, &context,
                         [this, store](const TVLProjectMetadata *changed) { count += changed == store; });
    }
};

QStringList asideFiles(const QString &dir)
{
    return QDir(dir).entryList({QStringLiteral("TavloMetaData.json.unreadable-*")},
                               QDir::Files | QDir::Dirs | QDir::Hidden | QDir::System);
}
} // namespace

class TestMetadata : public QObject
{
    Q_OBJECT
    QTemporaryDir m_settingsDir;

    // A fresh project directory per test: stores live for the whole process.
    QString newProject(QTemporaryDir &dir) { return dir.path(); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_settingsDir.isValid());
        HVXDefaults::useStoreAtPath(m_settingsDir.filePath(QStringLiteral("settings.ini")));
    }

    void oneStorePerPathForTheWholeRun()
    {
        QTemporaryDir dir;
        QCOMPARE(TVLProjectMetadata::metadataForProjectPath(QString()), nullptr);
        TVLProjectMetadata *store = TVLProjectMetadata::metadataForProjectPath(dir.path());
        QVERIFY(store);
        QCOMPARE(TVLProjectMetadata::metadataForProjectPath(dir.path()), store);
        QCOMPARE(TVLProjectMetadata::metadataForProjectPath(dir.path() + QStringLiteral("/")), store);
        QCOMPARE(store->metadataFilePath(), dir.filePath(QStringLiteral("TavloMetaData.json")));
        QTemporaryDir other;
        QVERIFY(TVLProjectMetadata::metadataForProjectPath(other.path()) != store);
    }

    void firstTagCreatesThePrettySortedFile()
    {
        QTemporaryDir dir;
        TVLProjectMetadata *store = TVLProjectMetadata::metadataForProjectPath(dir.path());
        QVERIFY(store->tagIdsForMessageId(QStringLiteral("m1")).isEmpty());
        QVERIFY(store->annotationForMessageId(QStringLiteral("m1")).isEmpty());
        QVERIFY(!QFile::exists(store->metadataFilePath()));

        ChangeCounter changes(store);
        store->addTagIdToMessageId(2, QStringLiteral("m1"));
        QCOMPARE(changes.count, 1);
        const QByteArray text = readAll(store->metadataFilePath());
        const QJsonObject top = QJsonDocument::fromJson(text).object();
        QCOMPARE(top.value(QStringLiteral("version")).toInt(), 1);
        QVERIFY(top.value(QStringLiteral("annotations")).isObject());
        QCOMPARE(top.value(QStringLiteral("tags")).toObject().value(QStringLiteral("m1")).toArray(), QJsonArray({2}));
        // Pretty-printed, keys in order.
        QVERIFY(text.contains('\n'));
        const qsizetype a = text.indexOf("\"annotations\""), t = text.indexOf("\"tags\""), v = text.indexOf("\"version\"");
        QVERIFY(a >= 0 && a < t && t < v);
    }

    void tagMutationsKeepOrderAndWriteOnlyOnChange()
    {
        QTemporaryDir dir;
        TVLProjectMetadata *store = TVLProjectMetadata::metadataForProjectPath(dir.path());
        ChangeCounter changes(store);
        const QString id = QStringLiteral("msg");
        store->addTagIdToMessageId(4, id);
        store->addTagIdToMessageId(1, id);
        store->addTagIdToMessageId(4, id); // already there: nothing at all
        QCOMPARE(changes.count, 2);
        QCOMPARE(store->tagIdsForMessageId(id), QList<quint64>({4, 1}));

        // Removing a tag the message doesn't have still rewrites and notifies.
        store->removeTagIdFromMessageId(7, id);
        QCOMPARE(changes.count, 3);
        QCOMPARE(store->tagIdsForMessageId(id), QList<quint64>({4, 1}));

        // Removing from a message without tags does nothing.
        store->removeTagIdFromMessageId(4, QStringLiteral("other"));
        QCOMPARE(changes.count, 3);

        store->removeTagIdFromMessageId(4, id);
        store->removeTagIdFromMessageId(1, id);
        QVERIFY(!readJson(store->metadataFilePath()).value(QStringLiteral("tags")).toObject().contains(id));

        store->setTagIdsForMessageId({3, 9}, id);
        QCOMPARE(store->tagIdsForMessageId(id), QList<quint64>({3, 9}));
        const QList<TVLTag *> tags = store->tagsForMessageId(id);
        QCOMPARE(tags.size(), 2);
        QCOMPARE(tags[0]->name(), QStringLiteral("Question"));
        store->setTagIdsForMessageId({}, id);
        QVERIFY(store->tagIdsForMessageId(id).isEmpty());
        QCOMPARE(changes.count, 7);
    }

    void tagsWithoutPaletteEntryAreSkipped()
    {
        QTemporaryDir dir;
        TVLProjectMetadata *store = TVLProjectMetadata::metadataForProjectPath(dir.path());
        store->setTagIdsForMessageId({12, 0, 5}, QStringLiteral("x"));
        const QList<TVLTag *> tags = store->tagsForMessageId(QStringLiteral("x"));
        QCOMPARE(tags.size(), 1);
        QCOMPARE(tags[0]->tagId(), quint64(5));
    }

    void annotationsAreStoredAndEmptyTextRemoves()
    {
        QTemporaryDir dir;
        TVLProjectMetadata *store = TVLProjectMetadata::metadataForProjectPath(dir.path());
        ChangeCounter changes(store);
        store->setAnnotationForMessageId(QStringLiteral("Look here \"quoted\"\nline"), QStringLiteral("a"));
        QCOMPARE(store->annotationForMessageId(QStringLiteral("a")), QStringLiteral("Look here \"quoted\"\nline"));
        QCOMPARE(readJson(store->metadataFilePath()).value(QStringLiteral("annotations")).toObject()
                     .value(QStringLiteral("a")).toString(),
                 QStringLiteral("Look here \"quoted\"\nline"));
        store->setAnnotationForMessageId(QString(), QStringLiteral("a"));
        store->setAnnotationForMessageId(QString(), QStringLiteral("never-set")); // still notifies
        QCOMPARE(changes.count, 3);
        QVERIFY(readJson(store->metadataFilePath()).value(QStringLiteral("annotations")).toObject().isEmpty());
    }

    void readsAnyVersionAndAnyLayoutOfTheSameValues()
    {
        QTemporaryDir dir;
        writeAll(dir.filePath(QStringLiteral("TavloMetaData.json")),
                 R"({"version":7,"tags":{"b":[1,6]},"annotations":{"b":"note"}})");
        TVLProjectMetadata *store = TVLProjectMetadata::metadataForProjectPath(dir.path());
        QCOMPARE(store->tagIdsForMessageId(QStringLiteral("b")), QList<quint64>({1, 6}));
        QCOMPARE(store->annotationForMessageId(QStringLiteral("b")), QStringLiteral("note"));

        QTemporaryDir noVersion;
        writeAll(noVersion.filePath(QStringLiteral("TavloMetaData.json")), R"({"tags":{"c":[2]}})");
        QCOMPARE(TVLProjectMetadata::metadataForProjectPath(noVersion.path())->tagIdsForMessageId(QStringLiteral("c")),
                 QList<quint64>({2}));
    }

    void entriesOfWrongTypeReadAsNothingAndSurviveASave()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("TavloMetaData.json"));
        writeAll(file, R"({"annotations":{"n":42,"s":"text"},"tags":{"x":"red","y":[3,"s"]},"version":1})");
        LogCapture log;
        TVLProjectMetadata *store = TVLProjectMetadata::metadataForProjectPath(dir.path());
        QCOMPARE(log.count(QStringLiteral("WARNING: Metadata file ") + file + QStringLiteral(" has 2 entries of the wrong type")), 1);
        QVERIFY(store->tagIdsForMessageId(QStringLiteral("x")).isEmpty());
        QVERIFY(store->annotationForMessageId(QStringLiteral("n")).isEmpty());
        QCOMPARE(store->taggedMessageIds(), QStringList({QStringLiteral("y")}));

        store->removeTagIdFromMessageId(1, QStringLiteral("x"));
        store->addTagIdToMessageId(1, QStringLiteral("y"));
        const QJsonObject top = readJson(file);
        QCOMPARE(top.value(QStringLiteral("annotations")).toObject().value(QStringLiteral("n")).toInt(), 42);
        QCOMPARE(top.value(QStringLiteral("tags")).toObject().value(QStringLiteral("x")).toString(), QStringLiteral("red"));
        QCOMPARE(top.value(QStringLiteral("tags")).toObject().value(QStringLiteral("y")).toArray(), QJsonArray({3, "s", 1}));
    }

    void unreadableFileIsKeptAsideBeforeTheFirstWrite_data()
    {
        // The half that is an object is read, and goes on in the new file.
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QStringList>("annotated");
        QTest::addColumn<QStringList>("tagged");
        QTest::newRow("invalid JSON") << QByteArray("{\"tags\": {\"a\": [1, 2]") << QStringList() << QStringList();
        QTest::newRow("top level a list") << QByteArray("[1, 2, 3]") << QStringList() << QStringList();
        QTest::newRow("tags a list") << QByteArray(R"({"tags": [["a", 1]], "annotations": {"a": "note"}})")
                                     << QStringList({"a"}) << QStringList();
        QTest::newRow("annotations a string") << QByteArray(R"({"annotations": "mine", "tags": {"t": [2]}})")
                                              << QStringList() << QStringList({"t"});
    }

    void unreadableFileIsKeptAsideBeforeTheFirstWrite()
    {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, annotated);
        QFETCH(QStringList, tagged);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("TavloMetaData.json"));
        writeAll(file, content);
        LogCapture log;
        TVLProjectMetadata *store = TVLProjectMetadata::metadataForProjectPath(dir.path());
        QCOMPARE(log.count(QStringLiteral("WARNING: Can't read metadata file ") + file), 1);
        QCOMPARE(store->annotatedMessageIds(), annotated);
        QCOMPARE(store->taggedMessageIds(), tagged);
        QCOMPARE(readAll(file), content); // reading changes nothing

        store->addTagIdToMessageId(5, QStringLiteral("m"));
        const QStringList aside = asideFiles(dir.path());
        QCOMPARE(aside.size(), 1);
        QCOMPARE(readAll(dir.filePath(aside[0])), content);
        QCOMPARE(log.count(QStringLiteral("WARNING: Kept unreadable metadata file aside as ") + dir.filePath(aside[0])), 1);
        const QJsonObject top = readJson(file);
        QCOMPARE(top.value(QStringLiteral("tags")).toObject().value(QStringLiteral("m")).toArray(), QJsonArray({5}));
        tagged.append(QStringLiteral("m"));
        tagged.sort();
        QCOMPARE(top.value(QStringLiteral("tags")).toObject().keys(), tagged);
        QCOMPARE(top.value(QStringLiteral("annotations")).toObject().keys(), annotated);

        // Only the first write keeps a copy: the file is ours now.
        store->addTagIdToMessageId(6, QStringLiteral("m"));
        QCOMPARE(asideFiles(dir.path()).size(), 1);
    }

    void linkedMetadataIsReadButNeverWrittenThrough()
    {
        QTemporaryDir dir;
        // Another program's settings, planted behind the metadata file's name.
        const QString target = dir.filePath(QStringLiteral("settings.json"));
        const QByteArray settings = R"({"tags": {"m": [1]}, "theirs": {"keep": true}})";
        writeAll(target, settings);
        const QString file = dir.filePath(QStringLiteral("TavloMetaData.json"));
        QVERIFY(QFile::link(target, file));
        LogCapture log;
        TVLProjectMetadata *store = TVLProjectMetadata::metadataForProjectPath(dir.path());
        QCOMPARE(store->tagIdsForMessageId(QStringLiteral("m")), QList<quint64>({1}));
        store->addTagIdToMessageId(2, QStringLiteral("m"));
        store->setAnnotationForMessageId(QStringLiteral("note"), QStringLiteral("n"));
        // Kept for the run, said once, and neither the link nor what it points at is touched.
        QCOMPARE(store->tagIdsForMessageId(QStringLiteral("m")), QList<quint64>({1, 2}));
        QCOMPARE(store->annotationForMessageId(QStringLiteral("n")), QStringLiteral("note"));
        QCOMPARE(log.count(QStringLiteral("is a symbolic link")), 1);
        QCOMPARE(readAll(target), settings);
        QVERIFY(QFileInfo(file).isSymLink());
        QVERIFY(asideFiles(dir.path()).isEmpty());
    }

    void metadataThatIsAPipeOrADeviceIsNotRead_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("FIFO") << "a FIFO";
        QTest::newRow("link to /dev/zero") << "a character device";
    }

    void metadataThatIsAPipeOrADeviceIsNotRead()
    {
        QFETCH(QString, kind);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("TavloMetaData.json"));
        if (kind == "a FIFO")
            QVERIFY(::mkfifo(QFile::encodeName(file).constData(), 0600) == 0);
        else
            QVERIFY(QFile::link(QStringLiteral("/dev/zero"), file));
        LogCapture log;
        // Reading a FIFO without writer would never return; /dev/zero would fill the memory.
        TVLProjectMetadata *store = TVLProjectMetadata::metadataForProjectPath(dir.path());
        QCOMPARE(log.count("it is " + kind), 1);
        QVERIFY(store->taggedMessageIds().isEmpty());
    }

    void metadataPathThatIsADirectoryIsMovedAsideWhole()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("TavloMetaData.json"));
        QVERIFY(QDir().mkpath(file));
        writeAll(file + QStringLiteral("/inside.txt"), "keep me");
        LogCapture log;
        TVLProjectMetadata *store = TVLProjectMetadata::metadataForProjectPath(dir.path());
        QCOMPARE(log.count(QStringLiteral("it is a directory")), 1);
        store->setAnnotationForMessageId(QStringLiteral("hello"), QStringLiteral("m"));
        const QStringList aside = asideFiles(dir.path());
        QCOMPARE(aside.size(), 1);
        QCOMPARE(readAll(dir.filePath(aside[0]) + QStringLiteral("/inside.txt")), QByteArray("keep me"));
        QCOMPARE(readJson(file).value(QStringLiteral("annotations")).toObject().value(QStringLiteral("m")).toString(),
                 QStringLiteral("hello"));
    }

    void readOnlyFileIsNotWrittenAndTheChangeStaysInMemory()
    {
        QTemporaryDir dir;
        WithoutPrivileges unprivileged(dir.path());
        if (!unprivileged.permissionsHold())
            QSKIP("running as root, and the rights that ignore permissions cannot be given up");
        const QString file = dir.filePath(QStringLiteral("TavloMetaData.json"));
        const QByteArray content = R"({"annotations": {}, "tags": {"a": [1]}, "version": 1})";
        writeAll(file, content);
        QVERIFY(QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::ReadGroup));
        QVERIFY(!QFileInfo(file).isWritable());
        LogCapture log;
        TVLProjectMetadata *store = TVLProjectMetadata::metadataForProjectPath(dir.path());
        ChangeCounter changes(store);
        store->addTagIdToMessageId(2, QStringLiteral("a"));
        QCOMPARE(log.count(QStringLiteral("ERROR: Can't write metadata file ") + file), 1);
        QCOMPARE(readAll(file), content);
        QCOMPARE(store->tagIdsForMessageId(QStringLiteral("a")), QList<quint64>({1, 2}));
        QCOMPARE(changes.count, 1);
        QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }

    void vanishedProjectDirectoryKeepsTheChangesUntilTheyAreWritten()
    {
        auto dir = std::make_unique<QTemporaryDir>();
        const QString path = dir->path();
        TVLProjectMetadata *store = TVLProjectMetadata::metadataForProjectPath(path);
        dir.reset();
        LogCapture log;
        store->addTagIdToMessageId(3, QStringLiteral("m"));
        QCOMPARE(log.count(QStringLiteral("ERROR: Can't write metadata file ") + store->metadataFilePath()), 1);
        QVERIFY(!QFileInfo::exists(path));
        QCOMPARE(store->tagIdsForMessageId(QStringLiteral("m")), QList<quint64>({3}));
        // The next change still holds both marks.
        store->addTagIdToMessageId(4, QStringLiteral("m"));
        QCOMPARE(store->tagIdsForMessageId(QStringLiteral("m")), QList<quint64>({3, 4}));

        // Another writer makes the directory again, with its own file: the next change writes
        // all of this store's unwritten marks on top of theirs.
        QVERIFY(QDir().mkpath(path));
        const QString file = store->metadataFilePath();
        writeAll(file, R"({"annotations":{"o":"theirs"},"tags":{"o":[2]}})");
        store->setAnnotationForMessageId(QStringLiteral("mine"), QStringLiteral("m"));
        QJsonObject top = readJson(file);
        QCOMPARE(top.value(QStringLiteral("tags")).toObject(),
                 QJsonObject({{"m", QJsonArray({3, 4})}, {"o", QJsonArray({2})}}));
        QCOMPARE(top.value(QStringLiteral("annotations")).toObject(), QJsonObject({{"m", "mine"}, {"o", "theirs"}}));

        // Once written, they are not applied again over the other writer's later changes.
        writeAll(file, R"({"tags":{"o":[2]}})");
        store->addTagIdToMessageId(1, QStringLiteral("o"));
        top = readJson(file);
        QCOMPARE(top.value(QStringLiteral("tags")).toObject(), QJsonObject({{"o", QJsonArray({2, 1})}}));
        QVERIFY(top.value(QStringLiteral("annotations")).toObject().isEmpty());
        QDir(path).removeRecursively();
    }

    void changesByAnotherWriterAreKeptUnderTheNextMutation()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("TavloMetaData.json"));
        TVLProjectMetadata *store = TVLProjectMetadata::metadataForProjectPath(dir.path());
        store->addTagIdToMessageId(1, QStringLiteral("mine"));

        // Another process writes its own marks (including one on the same message).
        writeAll(file, R"({"annotations":{"theirs":"their note"},"tags":{"mine":[1,3],"theirs":[2]},"version":1})");
        store->addTagIdToMessageId(4, QStringLiteral("mine"));
        QCOMPARE(store->tagIdsForMessageId(QStringLiteral("mine")), QList<quint64>({1, 3, 4}));
        QCOMPARE(store->tagIdsForMessageId(QStringLiteral("theirs")), QList<quint64>({2}));
        const QJsonObject top = readJson(file);
        QCOMPARE(top.value(QStringLiteral("annotations")).toObject().value(QStringLiteral("theirs")).toString(),
                 QStringLiteral("their note"));
        QCOMPARE(top.value(QStringLiteral("tags")).toObject().value(QStringLiteral("theirs")).toArray(), QJsonArray({2}));

        // A mutation that turns out to change nothing still shows the other writer's marks.
        writeAll(file, R"({"tags":{"mine":[1,3,4],"new":[9]}})");
        ChangeCounter changes(store);
        store->addTagIdToMessageId(3, QStringLiteral("mine"));
        QCOMPARE(changes.count, 1);
        QCOMPARE(store->tagIdsForMessageId(QStringLiteral("new")), QList<quint64>({9}));

        // The other writer deleted the file: this store's marks go on in a new one.
        QFile::remove(file);
        store->setAnnotationForMessageId(QStringLiteral("again"), QStringLiteral("mine"));
        QVERIFY(readJson(file).value(QStringLiteral("tags")).toObject().isEmpty());
        QCOMPARE(readJson(file).value(QStringLiteral("annotations")).toObject().value(QStringLiteral("mine")).toString(),
                 QStringLiteral("again"));
    }

    void tagMasks()
    {
        QCOMPARE(TVLTag::bitMaskForTagId(0), quint16(0x0001));
        QCOMPARE(TVLTag::bitMaskForTagId(9), quint16(0x0200));
        QCOMPARE(TVLTag::bitMaskForTagId(15), quint16(0x8000));
        QCOMPARE(TVLTag::bitMaskForTagId(16), quint16(0));
        QCOMPARE(TVLTag::bitMaskForTagId(Q_UINT64_C(1) << 40), quint16(0));
    }

    void contrastingTextColor()
    {
        QCOMPARE(TVLTag::contrastingTextColorForColor(HVXColor::fromRgb(1, 1, 0)), HVXSystemColor::black());
        QCOMPARE(TVLTag::contrastingTextColorForColor(HVXColor::fromRgb(0, 0, 1)), HVXSystemColor::white());
        QCOMPARE(TVLTag::contrastingTextColorForColor(HVXColor::fromWhite(0.5)), HVXSystemColor::white());
        QCOMPARE(TVLTag::contrastingTextColorForColor(HVXColor::fromWhite(0.8)), HVXSystemColor::black());
    }

    void builtInPaletteAndAnnotation()
    {
        const QList<TVLTag *> &tags = TVLTag::allTags();
        QCOMPARE(tags.size(), 9);
        const QStringList names = {"Reference", "Idea", "Question", "Important", "Bug", "To Do",
                                   "Custom 1", "Custom 2", "Custom 3"};
        for (int i = 0; i < 9; ++i) {
            QCOMPARE(tags[i]->tagId(), quint64(i + 1));
            QCOMPARE(tags[i]->name(), names[i]);
        }
        QCOMPARE(tags[0]->color(), HVXSystemColor::blue());
        QCOMPARE(tags[8]->color(), HVXSystemColor::green());
        QCOMPARE(TVLTag::tagWithId(4)->name(), QStringLiteral("Important"));
        QCOMPARE(TVLTag::tagWithId(0), nullptr);
        QCOMPARE(TVLTag::tagWithId(10), nullptr);
        QCOMPARE(TVLTag::colorForTagId(2), std::optional<HVXColor>(HVXSystemColor::yellow()));
        QVERIFY(!TVLTag::colorForTagId(11));

        TVLAnnotation &annotation = TVLAnnotation::sharedAnnotation();
        QCOMPARE(annotation.tagId(), quint64(0));
        QCOMPARE(annotation.name(), QStringLiteral("*"));
        QVERIFY(!annotation.isRemovable());
        QCOMPARE(TVLAnnotation::colorForHasAnnotation(true), HVXColor::fromRgb(0.4, 0.2, 0.6));
        QCOMPARE(TVLAnnotation::textColorForHasAnnotation(false), HVXColor::fromWhite(0.2));
    }

    void paletteEditsAreSavedAndReadBackTheSame()
    {
        QObject context;
        int changes = 0;
        QObject::connect(&TVLChangeHub::shared(), &TVLChangeHub::tagsDidChange, &context, [&] { ++changes; });
        TVLTag *tag = TVLTag::tagWithId(7);
        tag->setName(QStringLiteral("Röview, \"later\""));
        // Kept as the setting stores it: opaque, 8 bits per channel.
        tag->setColor(HVXColor::fromRgb(0.123, 0.456, 0.789, 0.5));
        QCOMPARE(changes, 2);

        HVXDefaults::standard().sync();
        const QString stored = HVXDefaults::standard().stringForKey(QStringLiteral("TVLTags"));
        const QJsonArray list = QJsonDocument::fromJson(stored.toUtf8()).array();
        QCOMPARE(list.size(), 9);
        const QJsonObject entry = list.at(6).toObject();
        QCOMPARE(entry.value(QStringLiteral("tagId")).toInt(), 7);
        QCOMPARE(entry.value(QStringLiteral("name")).toString(), QStringLiteral("Röview, \"later\""));
        QCOMPARE(entry.value(QStringLiteral("color")).toString(), QStringLiteral("#1f74c9"));

        // A fresh settings object on the same file reads back the same list.
        QSettings reread(HVXDefaults::standard().storePath(), QSettings::IniFormat);
        const auto decoded = TVLTag::decodeTags(reread.value(QStringLiteral("TVLTags")).toString());
        QVERIFY(decoded);
        QCOMPARE(decoded->size(), 9);
        QCOMPARE(decoded->at(6)->name(), QStringLiteral("Röview, \"later\""));
        QCOMPARE(decoded->at(6)->color(), tag->color());
        QCOMPARE(decoded->at(0)->color(), TVLTag::tagWithId(1)->color());

        HVXDefaults::standard().remove(QStringLiteral("TVLTags"));
        TVLTag::loadTags();
        QCOMPARE(TVLTag::tagWithId(7)->name(), QStringLiteral("Custom 1"));
    }

    void undecodablePaletteLeavesNoTagsAndTheSettingUntouched()
    {
        const QString garbage = QStringLiteral("{\"tagId\": 1");
        HVXDefaults::standard().setValue(QStringLiteral("TVLTags"), garbage);
        LogCapture log;
        TVLTag::loadTags();
        QVERIFY(TVLTag::allTags().isEmpty());
        QCOMPARE(TVLTag::tagWithId(1), nullptr);
        QCOMPARE(log.count(QStringLiteral("WARNING: Can't decode the tag palette")), 1);
        QCOMPARE(HVXDefaults::standard().stringForKey(QStringLiteral("TVLTags")), garbage);

        HVXDefaults::standard().setValue(QStringLiteral("TVLTags"), QStringLiteral("[{\"tagId\": 1, \"name\": 3}]"));
        TVLTag::loadTags();
        QVERIFY(TVLTag::allTags().isEmpty());

        HVXDefaults::standard().remove(QStringLiteral("TVLTags"));
        TVLTag::loadTags();
        QCOMPARE(TVLTag::allTags().size(), 9);
    }
};

QTEST_GUILESS_MAIN(TestMetadata)
#include "tst_metadata.moc"
