#pragma once
// The desktop the model talks to when a window system is there: the clipboard, the default
// browser and other applications (GIO's registry), the file manager, alerts, new windows and the application's
// data debug mode.

#include "Tavlo/DataObjects/TVLDesktop.h"

class TVLQtDesktop final : public TVLDesktop
{
public:
    void openPathInNewWindow(const QString &path) override;
    void copyToPasteboard(const QString &text) override;
    // The file manager shows the item selected (FileManager1 over D-Bus); without one, the
    // folder that holds it opens.
    void showInFileManager(const QString &path) override;
    void openUrl(const QUrl &url) override;
    void showInformationalAlert(const QString &message, const QString &informativeText) override;
    // Applications from the desktop's registry (GIO): the default one for the file's type first.
    QList<Application> applicationsForUrl(const QUrl &url) override;
    void openUrlWithApplication(const QUrl &url, const QString &applicationIdentifier) override;
    void openPathWithApplicationNamed(const QString &path, const QString &applicationName) override;
    bool dataDebugMode() const override;
    void setDataDebugMode(bool on) override;
};
