#include "PageProbe.h"

#include "Tavlo/Viewer/TVLPageBridge.h"
#include "Tavlo/Viewer/TVLPageController.h"
#include "Tavlo/Viewer/TVLWebPage.h"

#include <QWebEngineView>

namespace PageProbe {

QWebEngineView *view(TVLPageController &page)
{
    auto *found = page.findChild<QWebEngineView *>();
    if (!found)
        qFatal("A page controller without its web view");
    return found;
}

TVLWebPage *webPage(TVLPageController &page)
{
    auto *found = page.findChild<TVLWebPage *>();
    if (!found)
        qFatal("A page controller without its web page");
    return found;
}

TVLPageBridge *bridge(TVLPageController &page)
{
    auto *found = page.findChild<TVLPageBridge *>();
    if (!found)
        qFatal("A page controller without its channel object");
    return found;
}

void runScript(TVLPageController &page, const QString &script, std::function<void(const QVariant &)> answer)
{
    if (answer)
        webPage(page)->runJavaScript(script, std::move(answer));
    else
        webPage(page)->runJavaScript(script);
}

QString jsStringLiteral(const QString &text)
{
    QString literal = text;
    literal.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    literal.replace(QLatin1Char('"'), QStringLiteral("\\\""));
    literal.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
    literal.replace(QLatin1Char('\r'), QStringLiteral("\\r"));
    literal.replace(QLatin1Char('\t'), QStringLiteral("\\t"));
    return QStringLiteral("\"%1\"").arg(literal);
}

} // namespace PageProbe
