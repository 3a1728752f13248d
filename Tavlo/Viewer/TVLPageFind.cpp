#include "TVLPageFind.h"

#include "TVLPageController.h"

#include <QJsonArray>
#include <QVariantMap>

void TVLPageFind::find(TVLPageController &page, const QString &text, bool caseSensitive, bool backwards, Answer answer)
{
    // The text goes to the page as data; nothing is built from it.
    page.callPage(QStringLiteral("findInPage"), QJsonArray{text, caseSensitive, backwards},
                  [answer = std::move(answer)](const QVariant &result) {
                      // A page without its script yet (a load under way) has found nothing.
                      const QVariantMap map = result.toMap();
                      answer(map.value(QStringLiteral("active")).toInt(), map.value(QStringLiteral("count")).toInt());
                  });
}

void TVLPageFind::clear(TVLPageController &page)
{
    page.callPage(QStringLiteral("findInPage"), QJsonArray{QString(), false, false});
}
