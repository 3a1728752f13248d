#include "TVLWebPage.h"

#include "Halvex/Foundation/HVXLog.h"

#include "TVLPageProfile.h"
#include "Tavlo/DataObjects/TVLDesktop.h"

#include <QMessageBox>
#include <QWebEngineView>

namespace {

// Everything the page writes to its console: QT_LOGGING_RULES="tavlo.viewer.page.debug=true" shows it.
Q_LOGGING_CATEGORY(pageConsoleLog, "tavlo.viewer.page", QtInfoMsg)

bool confirmWithDialog(QWebEnginePage *page, const QUrl &url)
{
    QWidget *parent = QWebEngineView::forPage(page);
    const QString text = QObject::tr("The page links to a \"%1:\" address:\n\n%2\n\nOpen it with the application "
                                     "your desktop uses for it?")
                             .arg(url.scheme(), url.toDisplayString());
    return QMessageBox::question(parent, QObject::tr("Open Link?"), text, QMessageBox::Open | QMessageBox::Cancel,
                                 QMessageBox::Cancel)
           == QMessageBox::Open;
}

} // namespace

TVLWebPage::TVLWebPage(QObject *parent)
    : QWebEnginePage(TVLPageProfile::profile(), parent)
{
    m_confirmation = [this](const QUrl &url) { return confirmWithDialog(this, url); };
    m_opener = [](const QUrl &url) { TVLDesktop::current().openUrl(url); };
}

bool TVLWebPage::opensWithoutConfirmation(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    return scheme == QStringLiteral("http") || scheme == QStringLiteral("https");
}

void TVLWebPage::openActivatedLink(const QUrl &url)
{
    if (!url.isValid())
        return;
    if (!opensWithoutConfirmation(url) && !(m_confirmation && m_confirmation(url)))
        return;
    if (m_opener)
        m_opener(url);
}

void TVLWebPage::loadDocument(const QUrl &url)
{
    m_documentUrl = url;
    load(url);
}

bool TVLWebPage::acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame)
{
    // The engine reports a script's or a refresh's navigation as a link click too: links the
    // reader clicks reach the program from the page's script instead (openActivatedLink).
    if (isMainFrame && type != NavigationTypeLinkClicked && type != NavigationTypeFormSubmitted
        && !m_documentUrl.isEmpty() && url == m_documentUrl)
        return true;
    HVXLogWarning(QStringLiteral("The page tried to go to %1; it stays").arg(hvxLogValue(url.toDisplayString())));
    return false;
}

QWebEnginePage *TVLWebPage::createWindow(WebWindowType type)
{
    Q_UNUSED(type)
    HVXLogWarning(QStringLiteral("The page tried to open a window; it stays alone"));
    return nullptr;
}

void TVLWebPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString &message, int line,
                                          const QString &source)
{
    // Errors of the page's own scripts are the program's errors; anything else stays quiet. The
    // engine reports its own resize bookkeeping for sections that are sized lazily as an error;
    // nothing of ours caused it and nothing is lost.
    const bool engineNoise = message.startsWith(QLatin1String("ResizeObserver loop limit exceeded"));
    if (level == ErrorMessageLevel && !engineNoise)
        HVXLogWarning(QStringLiteral("Page script error at %1:%2: %3").arg(source, QString::number(line), hvxLogValue(message)));
    else
        HVXLogDebugIn(pageConsoleLog(), QStringLiteral("Page console at %1:%2: %3").arg(source, QString::number(line), hvxLogValue(message)));
}
