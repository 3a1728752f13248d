#pragma once
// Start-up and the tvl:// URL scheme: paths and URLs given before launch completes are queued.
// When launch completes the windows of the last run come back, then the queued URLs are opened,
// then, when no window is open, one viewer on the default roots.
// "tvl:///abs/path" opens a viewer on the path; "?exchange=UUID" on that exchange;
// "?dataDebugMode=yes" switches the data debug mode (and ends reading the query). A URL with a
// host or a relative path is refused; file:// URLs open as paths. Only directories and regular
// files are opened.

#include <QObject>
#include <QStringList>
#include <QVariantMap>

class TVLAppDelegate final : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    bool didFinishLaunching() const { return m_didFinishLaunching; }
    const QStringList &urlsToOpen() const { return m_urlsToOpen; }

    void applicationDidFinishLaunching();
    // Paths or tvl:// URLs, in order; queued until launch completes.
    void applicationOpenURLs(const QStringList &urls);
    void openURLs(const QStringList &urls);
    // One URL (or a plain path, which opens like tvl:// with that path).
    void openURL(const QString &url);
    // A viewer on the default roots, {"path": ""}: its identifier is its own, not one that any
    // viewer would match.
    void openViewer();
    // Quit: the open windows are kept for the next launch, then closed.
    void terminate();

private:
    // A viewer on a directory or a regular file (nothing else), with further property values.
    void openPath(const QString &path, QVariantMap values);

    bool m_didFinishLaunching = false;
    QStringList m_urlsToOpen;
};
