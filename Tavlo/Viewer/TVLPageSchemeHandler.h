#pragma once
// Serves session pages and their resources to the web engine under the "tavlo-page" scheme.
// A page document is published under a key of its own and its resources are found relative to
// it, so "highlight.min.js" in the template loads from the program's resources. Documents of
// any size load this way (the engine's setHtml refuses content over 2 MB).

#include <QByteArray>
#include <QHash>
#include <QUrl>
#include <QWebEngineUrlSchemeHandler>

class TVLPageSchemeHandler final : public QWebEngineUrlSchemeHandler
{
    Q_OBJECT
public:
    static inline const QByteArray scheme = QByteArrayLiteral("tavlo-page");

    // Tells the web engine about the scheme; must run before the first web engine object.
    static void registerScheme();

    explicit TVLPageSchemeHandler(QObject *parent = nullptr);

    // Makes the document loadable and answers its URL; the query is passed on to the page.
    QUrl publishDocument(const QByteArray &utf8, const QString &query = {});
    void withdrawDocument(const QUrl &url);

    void requestStarted(QWebEngineUrlRequestJob *job) override;

private:
    QHash<QString, QByteArray> m_documents;
    quint64 m_nextKey = 1;
};
