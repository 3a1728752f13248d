#include "TVLHelpWindow.h"

#include "TVLApplicationResources.h"

#include "Halvex/Foundation/HVXLog.h"

#include <QDesktopServices>
#include <QFile>
#include <QHash>
#include <QPointer>

namespace {
QHash<QString, QPointer<TVLHelpWindow>> &openPages()
{
    static QHash<QString, QPointer<TVLHelpWindow>> pages;
    return pages;
}
} // namespace

QString TVLHelpWindow::resourcePathForPage(const QString &name)
{
    TVLApplicationResources::load();
    return QStringLiteral(":/html/%1.html").arg(name);
}

bool TVLHelpWindow::hasPage(const QString &name) { return QFile::exists(resourcePathForPage(name)); }

TVLHelpWindow::TVLHelpWindow(const QString &pageName, const QString &title)
    : m_pageName(pageName)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QStringLiteral("TVLHelpWindow"));
    setWindowTitle(title);
    // Links are decided here, never followed by the browser widget itself.
    setOpenLinks(false);
    setOpenExternalLinks(false);
    connect(this, &QTextBrowser::anchorClicked, this, [this](const QUrl &url) {
        // Links between the shipped pages stay in the window.
        if (url.isRelative() && url.path().isEmpty() && url.hasFragment())
            scrollToAnchor(url.fragment());
        else if (url.isRelative() && url.path().endsWith(QLatin1String(".html")) && hasPage(url.path().chopped(5)))
            loadPage(url.path().chopped(5));
        else
            openLink(url);
    });
    document()->setDocumentMargin(14);
    loadPage(pageName);
    resize(720, 640);
}

void TVLHelpWindow::loadPage(const QString &name)
{
    QFile file(resourcePathForPage(name));
    if (file.open(QIODevice::ReadOnly))
        setHtml(QString::fromUtf8(file.readAll()));
}

bool TVLHelpWindow::openLink(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        return false;
    QDesktopServices::openUrl(url);
    return true;
}

TVLHelpWindow *TVLHelpWindow::windowForPage(const QString &name) { return openPages().value(name); }

TVLHelpWindow *TVLHelpWindow::showPage(const QString &name, const QString &title)
{
    TVLHelpWindow *window = windowForPage(name);
    if (!window) {
        window = new TVLHelpWindow(name, title);
        openPages().insert(name, window);
    }
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

bool TVLHelpWindow::showHelp(const QString &sectionID)
{
    if (!sectionID.isEmpty()) {
        const QString section = QStringLiteral("html.%1").arg(sectionID);
        if (hasPage(section)) {
            showPage(section, tr("Tavlo Help"));
            return true;
        }
        HVXLogError(QStringLiteral("Did not find help section named %1 (Help/index.%1.html)").arg(sectionID));
    }
    if (hasPage(QStringLiteral("Help"))) {
        showPage(QStringLiteral("Help"), tr("Tavlo Help"));
        return true;
    }
    HVXLogWarningAndBeep(QStringLiteral("Bundle does not contain Help!"));
    return false;
}

bool TVLHelpWindow::showReleaseNotes()
{
    if (!hasPage(QStringLiteral("ReleaseNotes"))) {
        HVXLogWarningAndBeep(QStringLiteral("Bundle does not contain ReleaseNotes!"));
        return false;
    }
    showPage(QStringLiteral("ReleaseNotes"), tr("Tavlo Release Notes"));
    return true;
}

bool TVLHelpWindow::showAcknowledgements()
{
    if (!hasPage(QStringLiteral("Acknowledgements"))) {
        HVXLogWarningAndBeep(QStringLiteral("Bundle does not contain Acknowledgements!"));
        return false;
    }
    showPage(QStringLiteral("Acknowledgements"), tr("Tavlo Acknowledgements"));
    return true;
}
