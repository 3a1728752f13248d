#include "TVLUrlRequest.h"

#include <QUrl>
#include <QUrlQuery>

namespace {
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

TVLUrlRequest TVLUrlRequest::fromText(const QString &text)
{
    TVLUrlRequest request;
    if (!looksLikeUrl(text)) {
        request.path = text;
        return request;
    }
    if (writtenScheme(text) != QLatin1String("tvl")) {
        request.kind = UnknownScheme;
        return request;
    }
    request.kind = TavloUrl;
    const QUrl url(text);
    request.path = url.path(QUrl::FullyDecoded);
    const auto items = QUrlQuery(url).queryItems(QUrl::FullyDecoded);
    for (const auto &[name, value] : items) {
        if (name == QLatin1String("exchange")) {
            if (!value.isEmpty())
                request.exchangeUuid = value;
        } else if (name == QLatin1String("dataDebugMode")) {
            const QString lowered = value.toLower();
            request.dataDebugMode =
                lowered == QLatin1String("true") || lowered == QLatin1String("yes") || lowered == QLatin1String("1");
            break;
        }
    }
    return request;
}
