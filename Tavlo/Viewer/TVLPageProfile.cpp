#include "TVLPageProfile.h"

#include "TVLPageRequestBlocker.h"
#include "TVLPageSchemeHandler.h"

#include <QCoreApplication>
#include <QWebEngineProfile>
#include <QWebEngineSettings>

namespace {

struct PageProfile
{
    QWebEngineProfile *profile = nullptr;
    TVLPageSchemeHandler *handler = nullptr;
    TVLPageRequestBlocker *blocker = nullptr;
};

PageProfile &pageProfile()
{
    static PageProfile shared = [] {
        PageProfile made;
        // Lives as long as the application, after every page of it.
        made.profile = new QWebEngineProfile(QCoreApplication::instance());
        made.handler = new TVLPageSchemeHandler(made.profile);
        made.blocker = new TVLPageRequestBlocker(made.profile);
        made.profile->installUrlSchemeHandler(TVLPageSchemeHandler::scheme, made.handler);
        made.profile->setUrlRequestInterceptor(made.blocker);
        made.profile->setHttpCacheType(QWebEngineProfile::MemoryHttpCache);
        QWebEngineSettings *settings = made.profile->settings();
        settings->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
        settings->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
        settings->setAttribute(QWebEngineSettings::PluginsEnabled, false);
        settings->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
        settings->setAttribute(QWebEngineSettings::JavascriptCanAccessClipboard, false);
        settings->setAttribute(QWebEngineSettings::AutoLoadIconsForPage, false);
        return made;
    }();
    return shared;
}

} // namespace

QWebEngineProfile *TVLPageProfile::profile()
{
    TVLPageSchemeHandler::registerScheme();
    return pageProfile().profile;
}

TVLPageSchemeHandler *TVLPageProfile::schemeHandler()
{
    profile();
    return pageProfile().handler;
}

TVLPageRequestBlocker *TVLPageProfile::requestBlocker()
{
    profile();
    return pageProfile().blocker;
}
