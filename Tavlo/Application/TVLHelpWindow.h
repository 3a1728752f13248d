#pragma once
// A window that shows one of the pages shipped in the resources (help, help sections, release
// notes, acknowledgements) as rich text: no script runs, http and https links open in the web
// browser and every other link is ignored. One window per page; asking again brings it forward.

#include <QTextBrowser>

class TVLHelpWindow final : public QTextBrowser
{
    Q_OBJECT
public:
    // The resource path of a page: ":/html/<name>.html".
    static QString resourcePathForPage(const QString &name);
    static bool hasPage(const QString &name);

    // Shows the page, in its own window; the window of a page already shown comes to the front.
    static TVLHelpWindow *showPage(const QString &name, const QString &title);
    // The window that shows the page, or nullptr.
    static TVLHelpWindow *windowForPage(const QString &name);

    // The help of a section ("html.<section>"), else the main help; false, after a log line and
    // the alert, when neither is there.
    static bool showHelp(const QString &sectionID);
    static bool showReleaseNotes();
    static bool showAcknowledgements();

    QString pageName() const { return m_pageName; }

    // What a click on the link does: true when it went to the web browser.
    static bool openLink(const QUrl &url);

private:
    TVLHelpWindow(const QString &pageName, const QString &title);
    void loadPage(const QString &name);

    QString m_pageName;
};
