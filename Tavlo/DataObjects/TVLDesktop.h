#pragma once
// What the model asks of the desktop it runs on: windows, clipboard, file manager, other
// applications, and the application's modes. The application installs its implementation at
// start; until then (command line, unit tests) a plain one answers, which logs what it cannot do.

#include <QString>
#include <QStringList>
#include <QUrl>
#include <memory>

class TVLDesktop
{
public:
    virtual ~TVLDesktop() = default;

    static TVLDesktop &current();
    static void install(std::shared_ptr<TVLDesktop> desktop);

    virtual void openPathInNewWindow(const QString &path);
    virtual void copyToPasteboard(const QString &text);
    virtual void showInFileManager(const QString &path);
    virtual void openUrl(const QUrl &url);
    // A modal informational alert; without a window system, a warning on the log.
    virtual void showInformationalAlert(const QString &message, const QString &informativeText);

    struct Application
    {
        QString name;
        QString identifier;
    };
    // Applications that can open the URL, in the order the system gives them.
    virtual QList<Application> applicationsForUrl(const QUrl &url);
    virtual void openUrlWithApplication(const QUrl &url, const QString &applicationIdentifier);
    virtual void openPathWithApplicationNamed(const QString &path, const QString &applicationName);

    // Messages can be expanded in the outline in this mode.
    virtual bool dataDebugMode() const { return m_dataDebugMode; }
    virtual void setDataDebugMode(bool on) { m_dataDebugMode = on; }
    // Developer-only menu items ("Open with ...").
    virtual bool enableDeveloperHacks() const;

private:
    bool m_dataDebugMode = false;
};
