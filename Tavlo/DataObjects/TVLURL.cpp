#include "TVLURL.h"

#include <QUrl>
#include <QUrlQuery>

QString TVLURL::urlStringForPath(const QString &path, const QString &exchangeUuid)
{
    QString text = QStringLiteral("tvl://") + QString::fromLatin1(QUrl::toPercentEncoding(path, "/"));
    if (!exchangeUuid.isEmpty()) {
        QUrlQuery query;
        query.addQueryItem(QStringLiteral("exchange"), QString::fromLatin1(QUrl::toPercentEncoding(exchangeUuid)));
        text += QLatin1Char('?') + query.toString(QUrl::FullyEncoded);
    }
    return text;
}
