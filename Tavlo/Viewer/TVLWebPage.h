#pragma once
// The web page of a session view. It owns the link policy: a link the reader follows never
// navigates the page; the page's script hands it over (only for a click on its visible text)
// and it goes to the desktop to open, web links at once, any other scheme (mailto:, file:,
// custom schemes) only after the reader confirmed it. Only the documents the program loads are
// shown: any other navigation (a refresh, a form, a frame, a new window) goes nowhere.

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

    // The link policy for a link the reader followed.
    void openActivatedLink(const QUrl &url);

    // Loads one of the program's documents, the only navigation the page takes.
    void loadDocument(const QUrl &url);

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override;
    QWebEnginePage *createWindow(WebWindowType type) override;
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString &message, int line,
                                  const QString &source) override;

private:
    Confirmation m_confirmation;
    Opener m_opener;
    QUrl m_documentUrl;
};
