#include "TVLPageSchemeHandler.h"

#include "TVLPageTemplate.h"

#include <QBuffer>
#include <QFile>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>

namespace {

const QString documentName = QStringLiteral("page.html");

QByteArray mimeTypeForName(const QString &name)
{
    if (name.endsWith(QStringLiteral(".html")))
        return QByteArrayLiteral("text/html");
    if (name.endsWith(QStringLiteral(".js")))
        return QByteArrayLiteral("application/javascript");
    if (name.endsWith(QStringLiteral(".css")))
        return QByteArrayLiteral("text/css");
    return QByteArrayLiteral("application/octet-stream");
}

void reply(QWebEngineUrlRequestJob *job, const QByteArray &mimeType, const QByteArray &bytes)
{
    auto *buffer = new QBuffer(job);
    buffer->setData(bytes);
    buffer->open(QIODevice::ReadOnly);
    job->reply(mimeType, buffer);
}

} // namespace

// The scheme must be known before the web engine starts (before the application object exists),
// or its URLs are opaque and a page can't load the resources beside it.
const bool schemeRegisteredAtStart = [] {
    TVLPageSchemeHandler::registerScheme();
    return true;
}();

void TVLPageSchemeHandler::registerScheme()
{
    static bool registered = false;
    if (registered)
        return;
    registered = true;
    QWebEngineUrlScheme pageScheme(scheme);
    pageScheme.setSyntax(QWebEngineUrlScheme::Syntax::Host);
    // A local scheme may load from local schemes only when it is allowed to: without that flag the
    // engine silently never asks for the scripts and styles beside the document.
    pageScheme.setFlags(QWebEngineUrlScheme::SecureScheme | QWebEngineUrlScheme::LocalScheme
                          | QWebEngineUrlScheme::LocalAccessAllowed);
    QWebEngineUrlScheme::registerScheme(pageScheme);
}

TVLPageSchemeHandler::TVLPageSchemeHandler(QObject *parent)
    : QWebEngineUrlSchemeHandler(parent)
{
}

QUrl TVLPageSchemeHandler::publishDocument(const QByteArray &utf8, const QString &query)
{
    const QString key = QString::number(m_nextKey++);
    m_documents.insert(key, utf8);
    QUrl url;
    url.setScheme(QString::fromLatin1(scheme));
    url.setHost(QStringLiteral("page"));
    url.setPath(QStringLiteral("/%1/%2").arg(key, documentName));
    if (!query.isEmpty())
        url.setQuery(query);
    return url;
}

void TVLPageSchemeHandler::withdrawDocument(const QUrl &url)
{
    const QStringList parts = url.path().split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (parts.size() == 2)
        m_documents.remove(parts[0]);
}

void TVLPageSchemeHandler::requestStarted(QWebEngineUrlRequestJob *job)
{
    // "/<key>/page.html" is a published document; "/<key>/<name>" one of its resources.
    const QStringList parts = job->requestUrl().path().split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (job->requestUrl().host() != QStringLiteral("page") || parts.size() != 2) {
        job->fail(QWebEngineUrlRequestJob::UrlNotFound);
        return;
    }
    const QString &name = parts[1];
    if (name == documentName) {
        const auto document = m_documents.constFind(parts[0]);
        if (document == m_documents.cend())
            job->fail(QWebEngineUrlRequestJob::UrlNotFound);
        else
            reply(job, QByteArrayLiteral("text/html"), *document);
        return;
    }
    if (name == QStringLiteral("qwebchannel.js")) {
        QFile channelScript(QStringLiteral(":/qtwebchannel/qwebchannel.js"));
        if (channelScript.open(QIODevice::ReadOnly))
            reply(job, mimeTypeForName(name), channelScript.readAll());
        else
            job->fail(QWebEngineUrlRequestJob::UrlNotFound);
        return;
    }
    if (const std::optional<QByteArray> bytes = TVLPageTemplate::resource(name))
        reply(job, mimeTypeForName(name), *bytes);
    else
        job->fail(QWebEngineUrlRequestJob::UrlNotFound);
}
