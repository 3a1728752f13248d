#pragma once
// Reaches into a page controller's web engine the way only tests and benchmarks do: its view,
// its page and the object of its channel, scripts run in it, and text as a script literal.

#include <QString>
#include <QVariant>
#include <functional>

class QWebEngineView;
class TVLPageBridge;
class TVLPageController;
class TVLWebPage;

namespace PageProbe {
QWebEngineView *view(TVLPageController &page);
TVLWebPage *webPage(TVLPageController &page);
// The object the page's script reaches as "tavlo": calling it is what the page's messages do.
TVLPageBridge *bridge(TVLPageController &page);
// Runs a script in the page; the answer, when asked for, arrives on the main thread.
void runScript(TVLPageController &page, const QString &script, std::function<void(const QVariant &)> answer = {});
// The text as a double-quoted script string literal.
QString jsStringLiteral(const QString &text);
} // namespace PageProbe
