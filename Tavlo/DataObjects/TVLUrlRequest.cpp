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
TVLUrlRequest refused(const QString &problem)
{
    TVLUrlRequest request;
    request.kind = TVLUrlRequest::Refused;
    request.problem = problem;
    return request;
}
} // namespace

TVLUrlRequest TVLUrlRequest::fromText(const QString &text)
{
    TVLUrlRequest request;
    if (!looksLikeUrl(text)) {
        request.path = text;
        return request;
    }
    const QString scheme = writtenScheme(text);
    const QUrl url(text);
    if (scheme == QLatin1String("file")) {
        if (!url.isLocalFile() || !url.host().isEmpty())
            return refused(QStringLiteral("Not a local file URL: '%1'").arg(text));
        request.path = url.toLocalFile();
        return request;
    }
    if (scheme != QLatin1String("tvl")) {
        request.kind = UnknownScheme;
        return request;
    }
    // "tvl://home/x.jsonl" names the host "home"; only "tvl:///absolute/path" is ours.
    if (!url.host().isEmpty() || !url.userInfo().isEmpty() || url.port() != -1)
        return refused(QStringLiteral("A tvl URL names an absolute path after three slashes, not a host: '%1'").arg(text));
    request.kind = TavloUrl;
    request.path = url.path(QUrl::FullyDecoded);
    if (!request.path.isEmpty() && !request.path.startsWith(QLatin1Char('/')))
        return refused(QStringLiteral("A tvl URL needs an absolute path: '%1'").arg(text));
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
