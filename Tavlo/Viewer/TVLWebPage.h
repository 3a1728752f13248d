#pragma once
// The web page of a session view. It owns the link policy: a link the reader activates never
// navigates the page; it is handed to the desktop to open, web and mail links at once, any
// other scheme (file:, custom schemes) only after the reader confirmed it. The page's own
// loads, reloads and script navigations go ahead.

#include <QWebEnginePage>
#include <functional>

class TVLWebPage final : public QWebEnginePage
{
    Q_OBJECT
public:
    using Confirmation = std::function<bool(const QUrl &url)>;
    using Opener = std::function<void(const QUrl &url)>;

    explicit TVLWebPage(QObject *parent = nullptr);

    // Schemes that open without asking.
    static bool opensWithoutConfirmation(const QUrl &url);

    // Asks the reader before a link of another scheme is opened; a dialog by default.
    void setLinkConfirmation(Confirmation confirmation) { m_confirmation = std::move(confirmation); }
    // Opens a link outside the page; the desktop's default application by default.
    void setLinkOpener(Opener opener) { m_opener = std::move(opener); }

    // The link policy for a link the reader activated.
    void openActivatedLink(const QUrl &url);

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override;
    QWebEnginePage *createWindow(WebWindowType type) override;
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString &message, int line,
                                  const QString &source) override;

private:
    Confirmation m_confirmation;
    Opener m_opener;
};
