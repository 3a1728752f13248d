// The update check against a local HTTP server: a newer version, the same version, a feed that
// isn't one, a 404, a server that never answers and one that answers too much; the feed rules.

#include "Halvex/Foundation/HVXDefaults.h"
#include "LogCapture.h"
#include "Tavlo/Application/TVLUpdater.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

namespace {
QByteArray appcast(const QString &version)
{
    return QStringLiteral("<?xml version=\"1.0\"?>\n"
                          "<rss version=\"2.0\" xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\">"
                          "<channel><title>Tavlo</title>"
                          "<item><title>old</title><link>https://example.org/0.0.9</link>"
                          "<enclosure url=\"https://example.org/a\" sparkle:version=\"0.0.9\"/></item>"
                          "<item><title>new</title><link>https://example.org/%1</link>"
                          "<enclosure url=\"https://example.org/b\" sparkle:version=\"%1\"/></item>"
                          "</channel></rss>")
        .arg(version)
        .toUtf8();
}

// Answers by path; "/hang" is accepted and never answered.
class FeedServer final : public QTcpServer
{
public:
    FeedServer()
    {
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = nextPendingConnection())
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { answer(socket); });
        });
        listen(QHostAddress::LocalHost);
    }
    QString url(const QString &path) const { return QStringLiteral("http://127.0.0.1:%1%2").arg(serverPort()).arg(path); }

private:
    void answer(QTcpSocket *socket)
    {
        const QByteArray request = socket->readAll();
        const QByteArray path = request.split(' ').value(1);
        QByteArray status = "200 OK";
        QByteArray body;
        if (path == "/newer/appcast.xml" || path == "/dev/appcast.xml")
            body = appcast(QStringLiteral("0.2.0"));
        else if (path == "/same/appcast.xml")
            body = appcast(QStringLiteral("0.1.0"));
        else if (path == "/malformed/appcast.xml")
            body = "<rss><channel><item><enclosure sparkle:version=";
        else if (path == "/huge/appcast.xml")
            body = QByteArray(3 * 1024 * 1024, ' ');
        else if (path == "/hang/appcast.xml")
            return;
        else
            status = "404 Not Found";
        socket->write("HTTP/1.1 " + status + "\r\nContent-Type: application/xml\r\nContent-Length: "
                      + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
        socket->disconnectFromHost();
    }
};

TVLUpdater::Result check(TVLUpdater &updater)
{
    QSignalSpy finished(&updater, &TVLUpdater::finished);
    updater.checkForUpdates();
    if (finished.isEmpty() && !finished.wait(10000))
        return {};
    return finished.first().first().value<TVLUpdater::Result>();
}
} // namespace

Q_DECLARE_METATYPE(TVLUpdater::Result)

class TestUpdater : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    FeedServer m_server;

private Q_SLOTS:
    void initTestCase()
    {
        qRegisterMetaType<TVLUpdater::Result>();
        HVXDefaults::useStoreAtPath(m_dir.filePath("settings.ini"));
        QVERIFY(m_server.isListening());
    }

    void cleanup()
    {
        HVXDefaults::standard().remove(TVLUpdater::feedURLKey);
        HVXDefaults::standard().remove(TVLUpdater::devChannelKey);
    }

    void answers_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        QTest::newRow("newer") << "/newer/appcast.xml" << int(TVLUpdater::Result::UpdateAvailable) << "Version 0.2.0 is available";
        QTest::newRow("same") << "/same/appcast.xml" << int(TVLUpdater::Result::UpToDate) << "up to date";
        QTest::newRow("malformed") << "/malformed/appcast.xml" << int(TVLUpdater::Result::Failed) << "Could not check: the update feed is not valid XML";
        QTest::newRow("404") << "/missing/appcast.xml" << int(TVLUpdater::Result::Failed) << "Could not check: the update server answered 404";
        QTest::newRow("hang") << "/hang/appcast.xml" << int(TVLUpdater::Result::Failed) << "Could not check: the update server did not answer in time";
        QTest::newRow("too large") << "/huge/appcast.xml" << int(TVLUpdater::Result::Failed) << "Could not check: the update feed is larger than";
    }

    void answers()
    {
        QFETCH(QString, path);
        QFETCH(int, status);
        QFETCH(QString, message);
        HVXDefaults::standard().setValue(TVLUpdater::feedURLKey, m_server.url(path));
        TVLUpdater updater;
        updater.setCurrentVersion(QStringLiteral("0.1.0"));
        updater.setTimeoutMilliseconds(700);
        const TVLUpdater::Result result = check(updater);
        QCOMPARE(int(result.status), status);
        QVERIFY2(result.message().contains(message), qPrintable(result.message()));
        if (result.status == TVLUpdater::Result::UpdateAvailable)
            QCOMPARE(result.releasePage, QUrl(QStringLiteral("https://example.org/0.2.0")));
        QVERIFY(!updater.isChecking());
    }

    void feedRules()
    {
        QString reason;
        QVERIFY(TVLUpdater::isAcceptableFeedURL(QUrl(QStringLiteral("https://example.org/appcast.xml")), &reason));
        QVERIFY(TVLUpdater::isAcceptableFeedURL(QUrl(QStringLiteral("http://[::1]:8000/appcast.xml")), &reason));
        QVERIFY(!TVLUpdater::isAcceptableFeedURL(QUrl(QStringLiteral("http://example.org/appcast.xml")), &reason));
        QVERIFY(!TVLUpdater::isAcceptableFeedURL(QUrl(QStringLiteral("file:///etc/appcast.xml")), &reason));

        // A plain-http feed elsewhere is refused before anything is asked, and said so.
        HVXDefaults::standard().setValue(TVLUpdater::feedURLKey, QStringLiteral("http://example.org/appcast.xml"));
        TVLUpdater updater;
        LogCapture log;
        const TVLUpdater::Result refused = check(updater);
        QCOMPARE(int(refused.status), int(TVLUpdater::Result::Failed));
        QCOMPARE(log.count(QStringLiteral("ERROR: Refusing the update feed")), 1);

        // The development channel reads the development feed.
        HVXDefaults::standard().setValue(TVLUpdater::feedURLKey, m_server.url(QStringLiteral("/same/appcast.xml")));
        QCOMPARE(updater.feedURLString(), m_server.url(QStringLiteral("/same/appcast.xml")));
        HVXDefaults::standard().setBool(TVLUpdater::devChannelKey, true);
        QCOMPARE(updater.feedURLString(), m_server.url(QStringLiteral("/same/dev/appcast.xml")));
    }

    void newestItemOfAFeed()
    {
        QString reason;
        // Compared as versions, neither as text nor by place in the feed: 0.10.0 is newer than
        // 0.9.0, which sorts last as text and comes first, and 0.8.0, which comes last.
        const QByteArray feed =
            "<rss xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\"><channel>"
            "<item><enclosure url=\"https://example.org/a\" sparkle:version=\"0.9.0\"/></item>"
            "<item><enclosure url=\"https://example.org/b\" sparkle:version=\"0.10.0\"/></item>"
            "<item><enclosure url=\"https://example.org/c\" sparkle:version=\"0.8.0\"/></item>"
            "</channel></rss>";
        const auto newest = TVLUpdater::newestItemInFeed(feed, &reason);
        QVERIFY(newest);
        QCOMPARE(newest->version, QStringLiteral("0.10.0"));
        // A release page that is not on the web is not offered.
        const auto script = TVLUpdater::newestItemInFeed(
            "<rss xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\"><channel><item>"
            "<link>javascript:alert(1)</link><sparkle:version>1.0</sparkle:version></item></channel></rss>",
            &reason);
        QVERIFY(script);
        QVERIFY(script->releasePage.isEmpty());
        QVERIFY(!TVLUpdater::newestItemInFeed("<rss><channel></channel></rss>", &reason));
        QVERIFY(reason.contains(QStringLiteral("lists no version")));
    }
};

QTEST_GUILESS_MAIN(TestUpdater)
#include "tst_updater.moc"
