#include "TVLAppDelegate.h"

#include "TVLApplication.h"

#include "Halvex/AppKit/HVXWindowController.h"
#include "Halvex/AppKit/HVXWindowRestoration.h"
#include "Halvex/AppKit/HVXWindows.h"
#include "Halvex/Foundation/HVXLog.h"
#include "Tavlo/Viewer/TVLViewerViewController.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>
#include <QUrlQuery>

namespace {
const QString kViewerClass = QString::fromLatin1(TVLViewerViewController::className);

// The scheme as written: QUrl lower-cases it, but only "tvl" exactly is ours.
QString writtenScheme(const QString &text)
{
    const qsizetype colon = text.indexOf(QLatin1Char(':'));
    return colon < 0 ? QString() : text.left(colon);
}

bool looksLikeUrl(const QString &text)
{
    const QString scheme = writtenScheme(text);
    return !scheme.isEmpty() && text.mid(scheme.size()).startsWith(QLatin1String("://"));
}
} // namespace

void TVLAppDelegate::applicationDidFinishLaunching()
{
    m_didFinishLaunching = true;
    HVXWindowRestoration::shared().install();
    HVXWindowRestoration::shared().restoreWindows();
    if (!m_urlsToOpen.isEmpty())
        openURLs(std::exchange(m_urlsToOpen, {}));
    if (HVXWindows::windowControllers().isEmpty())
        openViewer();
}

void TVLAppDelegate::applicationOpenURLs(const QStringList &urls)
{
    if (!m_didFinishLaunching) {
        m_urlsToOpen << urls;
        return;
    }
    openURLs(urls);
}

void TVLAppDelegate::openURLs(const QStringList &urls)
{
    for (const QString &url : urls)
        openURL(url);
}

void TVLAppDelegate::openURL(const QString &text)
{
    if (!looksLikeUrl(text)) {
        // A plain path from the command line.
        openPath(QFileInfo(text).absoluteFilePath(), {});
        return;
    }
    const QString scheme = writtenScheme(text);
    if (scheme == QLatin1String("file")) {
        // File managers hand over file:// URLs.
        const QUrl url(text);
        if (!url.isLocalFile() || !url.host().isEmpty()) {
            HVXLogError(QStringLiteral("Not a local file URL: '%1'").arg(text));
            return;
        }
        openPath(url.toLocalFile(), {});
        return;
    }
    if (scheme != QLatin1String("tvl")) {
        HVXLogError(QStringLiteral("Unknown scheme in URL '%1'").arg(text));
        return;
    }
    const QUrl url(text);
    // "tvl://home/x.jsonl" names the host "home"; only "tvl:///absolute/path" is ours.
    if (!url.host().isEmpty() || !url.userInfo().isEmpty() || url.port() != -1) {
        HVXLogError(QStringLiteral("A tvl URL names an absolute path after three slashes, not a host: '%1'").arg(text));
        return;
    }
    const QString path = url.path(QUrl::FullyDecoded);
    if (!path.isEmpty() && !path.startsWith(QLatin1Char('/'))) {
        HVXLogError(QStringLiteral("A tvl URL needs an absolute path: '%1'").arg(text));
        return;
    }
    QVariantMap values;
    const auto items = QUrlQuery(url).queryItems(QUrl::FullyDecoded);
    for (const auto &[name, value] : items) {
        if (name == QLatin1String("exchange")) {
            if (!value.isEmpty())
                values.insert(QStringLiteral("exchangeUuid"), value);
        } else if (name == QLatin1String("dataDebugMode")) {
            const QString lowered = value.toLower();
            const bool on = lowered == QLatin1String("true") || lowered == QLatin1String("yes") || lowered == QLatin1String("1");
            if (TVLApplication *app = TVLApplication::instance())
                app->setDataDebugMode(on);
            if (path.isEmpty())
                return;
            break;
        }
    }
    if (path.isEmpty()) {
        values.insert(QStringLiteral("path"), path);
        HVXWindows::presentViewControllerOfClass(kViewerClass, values);
        return;
    }
    openPath(path, values);
}

void TVLAppDelegate::openPath(const QString &path, QVariantMap values)
{
    const QString cleaned = QDir::cleanPath(path);
    // Only what a viewer can read: a FIFO would block the program, a device fill its memory.
    const QFileInfo info(cleaned);
    if (!info.isDir() && !info.isFile()) {
        HVXLogError(QStringLiteral("Not opening '%1': it is neither a directory nor a regular file").arg(cleaned));
        return;
    }
    values.insert(QStringLiteral("path"), cleaned);
    HVXWindows::presentViewControllerOfClass(kViewerClass, values);
}

void TVLAppDelegate::openViewer()
{
    HVXWindows::presentViewControllerOfClass(kViewerClass, {{QStringLiteral("path"), QString(QLatin1String(""))}});
}

void TVLAppDelegate::terminate() { HVXWindowRestoration::shared().terminate(); }
