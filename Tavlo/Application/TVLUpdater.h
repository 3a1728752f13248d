#pragma once
// Looks for a newer Tavlo in the update feed, an appcast (RSS whose items carry a version and a
// link to the release page). It only tells: nothing is downloaded or installed, the package
// manager does that. The feed is the build's (TAVLO_UPDATE_FEED_URL) unless the setting
// "TVLUpdateFeedURL" names another; without either there is no check at all. Feeds must be
// https (http only to this machine, for tests), answers are cut off after a timeout and a size
// cap, and a failure is always reported as one, never as "up to date".

#include <QObject>
#include <QUrl>
#include <QVersionNumber>
#include <memory>
#include <optional>

class QMessageBox;
class QNetworkAccessManager;
class QNetworkReply;

class TVLUpdater final : public QObject
{
    Q_OBJECT
public:
    static inline const QString feedURLKey = QStringLiteral("TVLUpdateFeedURL");
    static inline const QString devChannelKey = QStringLiteral("TVLDevChannel");
    static inline const QString automaticCheckKey = QStringLiteral("TVLCheckForUpdates");
    static void registerDefaults();

    struct Result
    {
        enum Status { UpToDate, UpdateAvailable, Failed };
        Status status = Failed;
        QString version;        // the newest version in the feed
        QUrl releasePage;       // where to read about and get it (http or https), may be empty
        QString reason;         // why the check failed
        QString message() const;
    };

    struct FeedItem
    {
        QString version;
        QUrl releasePage;
    };
    // The newest item of an appcast; nothing, with the reason, when the text isn't one.
    static std::optional<FeedItem> newestItemInFeed(const QByteArray &xml, QString *reason);

    static TVLUpdater &shared();
    explicit TVLUpdater(QObject *parent = nullptr);
    ~TVLUpdater() override;

    // The feed as configured: the setting, else the build's; with the development channel on,
    // "/appcast.xml" becomes "/dev/appcast.xml".
    QString feedURLString() const;
    // A development build switches the development channel on for good; then its feed.
    std::optional<QString> feedURLStringForUpdater() const;
    // Whether there is a feed to check (the menu item and the setting exist only then).
    bool canCheckForUpdates() const { return !feedURLString().isEmpty(); }
    // https, or http to a loopback address; anything else is refused with the reason.
    static bool isAcceptableFeedURL(const QUrl &url, QString *reason);

    void setCurrentVersion(const QString &version) { m_currentVersion = version; }
    void setTimeoutMilliseconds(int milliseconds) { m_timeoutMilliseconds = milliseconds; }
    static constexpr qint64 maximumFeedBytes = 1024 * 1024;

    // Starts a check; finished() follows exactly once. A check already running is kept.
    void checkForUpdates();
    bool isChecking() const { return m_reply != nullptr; }

    // The menu's command: a check whose answer is shown in a message box.
    void checkForUpdatesInteractively(QWidget *parent);
    // The answer in a message box, with a button to the release page when there is one.
    static void showResult(const Result &result, QWidget *parent);
    // The box showResult shows; its text is plain text, whatever the feed put in it.
    static std::unique_ptr<QMessageBox> resultBox(const Result &result, QWidget *parent);
    // At launch, when the user asked for it: a check that speaks only of a newer version.
    void checkInBackgroundIfEnabled();

Q_SIGNALS:
    void finished(const TVLUpdater::Result &result);

private:
    void replyFinished();
    Result resultForFeed(const QByteArray &xml) const;
    void finish(const Result &result);

    QNetworkAccessManager *m_network = nullptr;
    QNetworkReply *m_reply = nullptr;
    bool m_tooLarge = false;
    QString m_currentVersion;
    int m_timeoutMilliseconds = 15000;
};
