#include "TVLPageRequestBlocker.h"

#include "TVLPageSchemeHandler.h"

bool TVLPageRequestBlocker::isAllowed(const QUrl &url)
{
    const QString scheme = url.scheme();
    return scheme == QLatin1String(TVLPageSchemeHandler::scheme) || scheme == QStringLiteral("data")
           || scheme == QStringLiteral("about");
}

void TVLPageRequestBlocker::interceptRequest(QWebEngineUrlRequestInfo &info)
{
    if (!isAllowed(info.requestUrl()))
        info.block(true);
}
