// "Open in" on the desktop's own application registry, with desktop entries of the test's own
// in a temporary data directory that GIO reads from its first use on.

#include "Halvex/Foundation/HVXDefaults.h"
#include "Halvex/Foundation/HVXMenu.h"
#include "LogCapture.h"
#include "Tavlo/Application/TVLGioApplications.h"
#include "Tavlo/Application/TVLQtDesktop.h"
#include "Tavlo/DataObjects/TVLSession.h"
#include "TranscriptBuilder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {
QTemporaryDir *g_home = nullptr;

void writeFile(const QString &path, const QByteArray &bytes, QFileDevice::Permissions permissions = {})
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("can't write %s", qPrintable(path));
    file.close();
    if (permissions)
        file.setPermissions(permissions);
}

// An application that writes the URIs it was started with into `record`.
void writeApplication(const QString &id, const QString &name, const QString &mimeType, const QString &record)
{
    const QString script = g_home->filePath("bin/" + id + ".sh");
    writeFile(script, "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"" + record.toUtf8() + ".part\" && mv \"" + record.toUtf8()
                          + ".part\" \"" + record.toUtf8() + "\"\n",
              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    writeFile(g_home->filePath("data/applications/" + id + ".desktop"),
              ("[Desktop Entry]\nType=Application\nName=" + name + "\nExec=" + script + " %u\nMimeType=" + mimeType
               + ";\n")
                  .toUtf8());
}

QString readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).trimmed() : QString();
}

// GIO hands a local file to %u as its path.
bool opened(const QString &record, const QString &file)
{
    const QString text = readAll(record);
    return text == file || text == QUrl::fromLocalFile(file).toString();
}
} // namespace

class TestDesktop : public QObject
{
    Q_OBJECT
    QString m_session;

private Q_SLOTS:
    void initTestCase()
    {
        HVXDefaults::useStoreAtPath(g_home->filePath("settings.ini"));
        m_session = TranscriptBuilder::write(g_home->filePath("projects/-home-me-app/s.jsonl"),
                                             QList<QJsonObject>{TranscriptBuilder::prompt("p1", "hello")});
        const QString type = TVLGioApplications::contentTypeForPath(m_session);
        QVERIFY(!type.isEmpty());
        writeApplication("tavlo-test-viewer", "Tavlo Test Viewer", type, g_home->filePath("viewer-opened"));
        writeApplication("tavlo-test-editor", "Tavlo Test Editor", type, g_home->filePath("editor-opened"));
        // The index that update-desktop-database keeps beside the entries; GIO looks types up in it.
        writeFile(g_home->filePath("data/applications/mimeinfo.cache"),
                  ("[MIME Cache]\n" + type + "=tavlo-test-viewer.desktop;tavlo-test-editor.desktop;\n").toUtf8());
        // The editor is the user's choice for the type, so it comes first.
        writeFile(g_home->filePath("config/mimeapps.list"),
                  ("[Default Applications]\n" + type + "=tavlo-test-editor.desktop;\n").toUtf8());
        TVLDesktop::install(std::make_shared<TVLQtDesktop>());
    }

    void cleanupTestCase() { TVLDesktop::install(nullptr); }

    void openInListsTheRegistryAndLaunches()
    {
        const auto session = TVLSession::initWithPath(m_session);
        HVXMenu menu;
        session->addToContextMenu(menu);
        const HVXMenuItem *openIn = nullptr;
        for (const HVXMenuItem &item : menu.items())
            if (item.title == QLatin1String("Open in"))
                openIn = &item;
        QVERIFY(openIn && openIn->submenu);
        QCOMPARE(openIn->submenu->titles(), (QStringList{"Tavlo Test Editor", "Tavlo Test Viewer"}));

        openIn->submenu->itemWithTitle("Tavlo Test Viewer")->action();
        QTRY_VERIFY(opened(g_home->filePath("viewer-opened"), m_session));
        QVERIFY(!QFile::exists(g_home->filePath("editor-opened")));
    }

    void openWithFindsAnApplicationByName()
    {
        TVLDesktop::current().openPathWithApplicationNamed(m_session, "tavlo test EDITOR");
        QTRY_VERIFY(opened(g_home->filePath("editor-opened"), m_session));
        LogCapture capture;
        TVLDesktop::current().openPathWithApplicationNamed(m_session, "Nothing Like It");
        QCOMPARE(capture.count("WARNING: Beep: No application named Nothing Like It"), 1);
        TVLDesktop::current().openUrlWithApplication(QUrl::fromLocalFile(m_session), "gone.desktop");
        QCOMPARE(capture.count("WARNING: Could not open"), 1);
    }

    void aTypeWithoutApplicationsListsNone()
    {
        const QString blob = g_home->filePath("blob.bin");
        writeFile(blob, QByteArray("\x00\x01\x02\xff\xfe", 5));
        QVERIFY(TVLDesktop::current().applicationsForUrl(QUrl::fromLocalFile(blob)).isEmpty());
        QVERIFY(TVLDesktop::current().applicationsForUrl(QUrl("https://example.org/x.jsonl")).isEmpty());
    }
};

// GIO reads where desktop entries live once, on first use; the test's own places are set before.
int main(int argc, char **argv)
{
    QTemporaryDir home;
    g_home = &home;
    QDir().mkpath(home.filePath("data"));
    QDir().mkpath(home.filePath("system"));
    // The system's content types, but none of its applications.
    QFile::link(QStringLiteral("/usr/share/mime"), home.filePath("system/mime"));
    qputenv("XDG_DATA_HOME", home.filePath("data").toUtf8());
    qputenv("XDG_DATA_DIRS", home.filePath("system").toUtf8());
    qputenv("XDG_CONFIG_HOME", home.filePath("config").toUtf8());
    qputenv("XDG_CONFIG_DIRS", home.filePath("config").toUtf8());
    QCoreApplication app(argc, argv);
    TestDesktop test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_desktop.moc"
