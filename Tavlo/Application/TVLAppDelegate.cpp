#include "TVLAppDelegate.h"

#include "TVLApplication.h"

#include "Halvex/AppKit/HVXWindowController.h"
#include "Halvex/AppKit/HVXWindows.h"
#include "Halvex/Foundation/HVXLog.h"
#include "Tavlo/DataObjects/TVLUrlRequest.h"
#include "Tavlo/Viewer/TVLViewerViewController.h"

#include <QFileInfo>

namespace {
const QString kViewerClass = QString::fromLatin1(TVLViewerViewController::className);
} // namespace

void TVLAppDelegate::applicationDidFinishLaunching()
{
    m_didFinishLaunching = true;
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
    if (request.kind == TVLUrlRequest::PlainPath) {
        // A plain path from the command line.
        HVXWindows::presentViewControllerOfClass(kViewerClass,
                                                 {{QStringLiteral("path"), QFileInfo(request.path).absoluteFilePath()}});
        return;
    }
    if (request.kind == TVLUrlRequest::UnknownScheme) {
        HVXLogError(QStringLiteral("Unknown scheme in URL '%1'").arg(text));
        return;
    }
    QVariantMap values{{QStringLiteral("path"), request.path}};
    if (!request.exchangeUuid.isEmpty())
        values.insert(QStringLiteral("exchangeUuid"), request.exchangeUuid);
    if (request.dataDebugMode) {
        if (TVLApplication *app = TVLApplication::instance())
            app->setDataDebugMode(*request.dataDebugMode);
        if (request.path.isEmpty())
            return;
    }
    HVXWindows::presentViewControllerOfClass(kViewerClass, values);
}

void TVLAppDelegate::openViewer() { HVXWindows::presentViewControllerOfClass(kViewerClass, {}); }
