#pragma once
// Keeps the session page local: every request that does not go to the page's own scheme (or
// to inline data) is refused, so a transcript can never make the page fetch from the network
// or read files, whatever its HTML asks for.

#include <QWebEngineUrlRequestInterceptor>

class TVLPageRequestBlocker final : public QWebEngineUrlRequestInterceptor
{
    Q_OBJECT
public:
    using QWebEngineUrlRequestInterceptor::QWebEngineUrlRequestInterceptor;

    static bool isAllowed(const QUrl &url);
    void interceptRequest(QWebEngineUrlRequestInfo &info) override;
};
