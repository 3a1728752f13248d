#include "TVLAppDelegate.h"

#include "TVLApplication.h"

#include "Halvex/AppKit/HVXWindowController.h"
#include "Halvex/AppKit/HVXWindowRestoration.h"
#include "Halvex/AppKit/HVXWindows.h"
#include "Halvex/Foundation/HVXLog.h"
#include "Tavlo/DataObjects/TVLUrlRequest.h"
#include "Tavlo/Viewer/TVLViewerViewController.h"

#include <QDir>
#include <QFileInfo>

namespace {
const QString kViewerClass = QString::fromLatin1(TVLViewerViewController::className);
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
    const TVLUrlRequest request = TVLUrlRequest::fromText(text);
    switch (request.kind) {
    case TVLUrlRequest::PlainPath:
        // A plain path from the command line, or a file manager's file:// URL.
        openPath(QFileInfo(request.path).absoluteFilePath(), {});
        return;
    case TVLUrlRequest::UnknownScheme:
        HVXLogError(QStringLiteral("Unknown scheme in URL '%1'").arg(text));
        return;
    case TVLUrlRequest::Refused:
        HVXLogError(request.problem);
        return;
    case TVLUrlRequest::TavloUrl:
        break;
    }
    QVariantMap values;
    if (!request.exchangeUuid.isEmpty())
        values.insert(QStringLiteral("exchangeUuid"), request.exchangeUuid);
    if (request.dataDebugMode) {
        if (TVLApplication *app = TVLApplication::instance())
            app->setDataDebugMode(*request.dataDebugMode);
        if (request.path.isEmpty())
            return;
    }
    if (request.path.isEmpty()) {
        values.insert(QStringLiteral("path"), request.path);
        HVXWindows::presentViewControllerOfClass(kViewerClass, values);
        return;
    }
    openPath(request.path, values);
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
