#include "TVLUpdater.h"

#include "TVLBuildInfo.h"

#include "Halvex/Foundation/HVXDefaults.h"
#include "Halvex/Foundation/HVXLog.h"

#include <QDesktopServices>
#include <QHostAddress>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QPushButton>
#include <QXmlStreamReader>

namespace {
const QString kSparkleNamespace = QStringLiteral("http://www.andymatuschak.org/xml-namespaces/sparkle");

bool isWebUrl(const QUrl &url)
{
    return url.isValid() && (url.scheme() == QLatin1String("https") || url.scheme() == QLatin1String("http"));
}

// One <item>: its version from the enclosure or the item's own element, its page from <link>
// (or the release-notes link).
std::optional<TVLUpdater::FeedItem> readItem(QXmlStreamReader &xml)
{
    TVLUpdater::FeedItem item;
    QString shortVersion;
    QUrl notes;
    while (xml.readNextStartElement()) {
        const bool sparkle = xml.namespaceUri() == kSparkleNamespace;
        const QStringView name = xml.name();
        if (name == QLatin1String("enclosure")) {
            const QXmlStreamAttributes attributes = xml.attributes();
            if (attributes.hasAttribute(kSparkleNamespace, QStringLiteral("version")))
                item.version = attributes.value(kSparkleNamespace, QStringLiteral("version")).toString();
            if (attributes.hasAttribute(kSparkleNamespace, QStringLiteral("shortVersionString")))
                shortVersion = attributes.value(kSparkleNamespace, QStringLiteral("shortVersionString")).toString();
            xml.skipCurrentElement();
        } else if (sparkle && name == QLatin1String("version")) {
            item.version = xml.readElementText().trimmed();
        } else if (sparkle && name == QLatin1String("shortVersionString")) {
            shortVersion = xml.readElementText().trimmed();
        } else if (sparkle && name == QLatin1String("releaseNotesLink")) {
            notes = QUrl(xml.readElementText().trimmed());
        } else if (!sparkle && name == QLatin1String("link")) {
            item.releasePage = QUrl(xml.readElementText().trimmed());
        } else {
            xml.skipCurrentElement();
        }
    }
    if (!shortVersion.isEmpty())
        item.version = shortVersion;
    if (!isWebUrl(item.releasePage))
        item.releasePage = isWebUrl(notes) ? notes : QUrl();
    if (item.version.isEmpty() || QVersionNumber::fromString(item.version).isNull())
        return std::nullopt;
    return item;
}
} // namespace

QString TVLUpdater::Result::message() const
{
    switch (status) {
    case UpToDate: return QObject::tr("Tavlo is up to date (version %1).").arg(version);
    case UpdateAvailable: return QObject::tr("Version %1 is available").arg(version);
    case Failed: break;
    }
    return QObject::tr("Could not check: %1").arg(reason);
}

void TVLUpdater::registerDefaults()
{
    HVXDefaults::standard().registerDefaults({{devChannelKey, false}, {automaticCheckKey, false}});
}

TVLUpdater &TVLUpdater::shared()
{
    static TVLUpdater *updater = new TVLUpdater;
    return *updater;
}

TVLUpdater::TVLUpdater(QObject *parent)
    : QObject(parent)
    , m_network(new QNetworkAccessManager(this))
    , m_currentVersion(TVLBuildInfo::shortVersionString())
{
    registerDefaults();
    // Never from https to http.
    m_network->setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
}

TVLUpdater::~TVLUpdater()
{
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
    }
}

QString TVLUpdater::feedURLString() const
{
    QString feed = HVXDefaults::standard().stringForKey(feedURLKey).trimmed();
    if (feed.isEmpty())
        feed = TVLBuildInfo::configuredFeedURL();
    if (feed.isEmpty())
        return {};
    return feedURLStringForUpdater().value_or(feed);
}

std::optional<QString> TVLUpdater::feedURLStringForUpdater() const
{
    HVXDefaults &defaults = HVXDefaults::standard();
    if (!defaults.boolForKey(devChannelKey) && TVLBuildInfo::isDevBuild())
        defaults.setBool(devChannelKey, true);
    if (!defaults.boolForKey(devChannelKey))
        return std::nullopt;
    QString feed = defaults.stringForKey(feedURLKey).trimmed();
    if (feed.isEmpty())
        feed = TVLBuildInfo::configuredFeedURL();
    return feed.replace(QStringLiteral("/appcast.xml"), QStringLiteral("/dev/appcast.xml"));
}

bool TVLUpdater::isAcceptableFeedURL(const QUrl &url, QString *reason)
{
    if (!url.isValid() || url.host().isEmpty()) {
        *reason = tr("the update feed address is not a valid URL");
        return false;
    }
    if (url.scheme() == QLatin1String("https"))
        return true;
    const QHostAddress host(url.host());
    const bool loopback = host.isLoopback() || url.host() == QLatin1String("localhost");
    if (url.scheme() == QLatin1String("http") && loopback)
        return true;
    *reason = tr("the update feed must be an https address");
    return false;
}

std::optional<TVLUpdater::FeedItem> TVLUpdater::newestItemInFeed(const QByteArray &text, QString *reason)
{
    QXmlStreamReader xml(text);
    std::optional<FeedItem> newest;
    bool sawChannel = false;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement())
            continue;
        if (xml.name() == QLatin1String("channel"))
            sawChannel = true;
        if (xml.name() != QLatin1String("item"))
            continue;
        const auto item = readItem(xml);
        if (item && (!newest || QVersionNumber::fromString(item->version) > QVersionNumber::fromString(newest->version)))
            newest = item;
    }
    if (xml.hasError()) {
        *reason = tr("the update feed is not valid XML (%1)").arg(xml.errorString());
        return std::nullopt;
    }
    if (!sawChannel || !newest) {
        *reason = tr("the update feed lists no version");
        return std::nullopt;
    }
    return newest;
}

void TVLUpdater::checkForUpdates()
{
    if (m_reply)
        return;
    const QString feed = feedURLString();
    if (feed.isEmpty()) {
        finish({Result::Failed, {}, {}, tr("this build has no update feed")});
        return;
    }
    const QUrl url(feed);
    QString reason;
    if (!isAcceptableFeedURL(url, &reason)) {
        HVXLogError(QStringLiteral("Refusing the update feed %1: %2").arg(feed, reason));
        finish({Result::Failed, {}, {}, reason});
        return;
    }
    QNetworkRequest request(url);
    request.setTransferTimeout(m_timeoutMilliseconds);
    request.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("Tavlo/%1").arg(m_currentVersion));
    m_tooLarge = false;
    m_reply = m_network->get(request);
    connect(m_reply, &QNetworkReply::downloadProgress, this, [this](qint64 received, qint64) {
        if (received > maximumFeedBytes && m_reply) {
            m_tooLarge = true;
            m_reply->abort();
        }
    });
    connect(m_reply, &QNetworkReply::finished, this, &TVLUpdater::replyFinished);
}

void TVLUpdater::replyFinished()
{
    QNetworkReply *reply = std::exchange(m_reply, nullptr);
    reply->deleteLater();
    if (m_tooLarge) {
        finish({Result::Failed, {}, {}, tr("the update feed is larger than %1 bytes").arg(maximumFeedBytes)});
        return;
    }
    if (reply->error() == QNetworkReply::OperationCanceledError) {
        finish({Result::Failed, {}, {}, tr("the update server did not answer in time")});
        return;
    }
    if (reply->error() != QNetworkReply::NoError) {
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        finish({Result::Failed, {}, {},
                status ? tr("the update server answered %1").arg(status) : reply->errorString()});
        return;
    }
    finish(resultForFeed(reply->readAll()));
}

TVLUpdater::Result TVLUpdater::resultForFeed(const QByteArray &xml) const
{
    QString reason;
    const auto newest = newestItemInFeed(xml, &reason);
    if (!newest)
        return {Result::Failed, {}, {}, reason};
    const QVersionNumber current = QVersionNumber::fromString(m_currentVersion);
    if (QVersionNumber::fromString(newest->version) > current)
        return {Result::UpdateAvailable, newest->version, newest->releasePage, {}};
    return {Result::UpToDate, m_currentVersion, {}, {}};
}

void TVLUpdater::finish(const Result &result)
{
    if (result.status == Result::Failed)
        HVXLogWarning(QStringLiteral("Update check failed: %1").arg(result.reason));
    Q_EMIT finished(result);
}

std::unique_ptr<QMessageBox> TVLUpdater::resultBox(const Result &result, QWidget *parent)
{
    auto box = std::make_unique<QMessageBox>(result.status == Result::Failed ? QMessageBox::Warning : QMessageBox::Information,
                                             tr("Check for Updates"), result.message(), QMessageBox::Ok, parent);
    box->setObjectName(QStringLiteral("TVLUpdateResultBox"));
    // The version and the reason come from the feed, which is no place for markup.
    box->setTextFormat(Qt::PlainText);
    return box;
}

void TVLUpdater::showResult(const Result &result, QWidget *parent)
{
    const std::unique_ptr<QMessageBox> box = resultBox(result, parent);
    QPushButton *open = nullptr;
    if (result.status == Result::UpdateAvailable && result.releasePage.isValid())
        open = box->addButton(tr("Open Release Page"), QMessageBox::AcceptRole);
    box->exec();
    if (open && box->clickedButton() == open)
        QDesktopServices::openUrl(result.releasePage);
}

void TVLUpdater::checkForUpdatesInteractively(QWidget *parent)
{
    QPointer<QWidget> owner(parent);
    auto connection = std::make_shared<QMetaObject::Connection>();
    *connection = connect(this, &TVLUpdater::finished, this, [owner, connection](const Result &result) {
        disconnect(*connection);
        showResult(result, owner);
    });
    checkForUpdates();
}

void TVLUpdater::checkInBackgroundIfEnabled()
{
    if (!canCheckForUpdates() || !HVXDefaults::standard().boolForKey(automaticCheckKey))
        return;
    auto connection = std::make_shared<QMetaObject::Connection>();
    *connection = connect(this, &TVLUpdater::finished, this, [connection](const Result &result) {
        disconnect(*connection);
        if (result.status == Result::UpdateAvailable)
            showResult(result, nullptr);
    });
    checkForUpdates();
}
