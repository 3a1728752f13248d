#include "TVLQtDesktop.h"

#include "TVLApplication.h"
#include "TVLGioApplications.h"

#include "Halvex/Foundation/HVXLog.h"

#include <QClipboard>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>

void TVLQtDesktop::openPathInNewWindow(const QString &path)
{
    if (TVLApplication *app = TVLApplication::instance())
        app->openPathInNewWindow(path);
}

void TVLQtDesktop::copyToPasteboard(const QString &text)
{
    QGuiApplication::clipboard()->setText(text);
}

void TVLQtDesktop::showInFileManager(const QString &path)
{
    const QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"))
        << QStringList{QUrl::fromLocalFile(path).toString()} << QString();
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 3000);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return;
    const QString folder = QFileInfo(path).isDir() ? path : QFileInfo(path).absolutePath();
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(folder)))
        HVXLogWarningAndBeep(QStringLiteral("No file manager could show %1").arg(path));
}

void TVLQtDesktop::openUrl(const QUrl &url)
{
    if (!QDesktopServices::openUrl(url))
        HVXLogWarningAndBeep(QStringLiteral("Could not open %1").arg(url.toString()));
}

void TVLQtDesktop::showInformationalAlert(const QString &message, const QString &informativeText)
{
    QMessageBox box(QMessageBox::Information, QStringLiteral("Tavlo"), message, QMessageBox::Ok);
    box.setInformativeText(informativeText);
    box.exec();
}

QList<TVLDesktop::Application> TVLQtDesktop::applicationsForUrl(const QUrl &url)
{
    if (!url.isLocalFile())
        return {};
    return TVLGioApplications::applicationsForPath(url.toLocalFile());
}

void TVLQtDesktop::openUrlWithApplication(const QUrl &url, const QString &applicationIdentifier)
{
    if (const auto failure = TVLGioApplications::launch(applicationIdentifier, url))
        HVXLogWarning(QStringLiteral("Could not open %1 with %2: %3").arg(url.toString(), applicationIdentifier, *failure));
}

void TVLQtDesktop::openPathWithApplicationNamed(const QString &path, const QString &applicationName)
{
    const auto identifier = TVLGioApplications::identifierForApplicationNamed(applicationName);
    if (!identifier) {
        HVXLogWarningAndBeep(QStringLiteral("No application named %1 to open %2").arg(applicationName, path));
        return;
    }
    openUrlWithApplication(QUrl::fromLocalFile(path), *identifier);
}

bool TVLQtDesktop::dataDebugMode() const
{
    const TVLApplication *app = TVLApplication::instance();
    return app ? app->dataDebugMode() : TVLDesktop::dataDebugMode();
}

void TVLQtDesktop::setDataDebugMode(bool on)
{
    if (TVLApplication *app = TVLApplication::instance())
        app->setDataDebugMode(on);
    else
        TVLDesktop::setDataDebugMode(on);
}
