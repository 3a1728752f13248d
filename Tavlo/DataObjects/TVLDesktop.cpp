#include "TVLDesktop.h"

#include "TVLSettings.h"
#include "Halvex/Foundation/HVXLog.h"

namespace {
std::shared_ptr<TVLDesktop> &installed()
{
    static std::shared_ptr<TVLDesktop> desktop = std::make_shared<TVLDesktop>();
    return desktop;
}
} // namespace

TVLDesktop &TVLDesktop::current() { return *installed(); }

void TVLDesktop::install(std::shared_ptr<TVLDesktop> desktop)
{
    installed() = desktop ? std::move(desktop) : std::make_shared<TVLDesktop>();
}

void TVLDesktop::openPathInNewWindow(const QString &path)
{
    HVXLogWarning(QStringLiteral("No window to open for '%1'").arg(path));
}

void TVLDesktop::copyToPasteboard(const QString &text)
{
    HVXLogWarning(QStringLiteral("No clipboard to copy '%1' to").arg(hvxLogValue(text)));
}

void TVLDesktop::showInFileManager(const QString &path)
{
    HVXLogWarning(QStringLiteral("No file manager to show '%1'").arg(path));
}

void TVLDesktop::openUrl(const QUrl &url)
{
    HVXLogWarning(QStringLiteral("No desktop to open '%1'").arg(url.toString()));
}

void TVLDesktop::showInformationalAlert(const QString &message, const QString &informativeText)
{
    HVXLogWarning(QStringLiteral("%1 %2").arg(message, informativeText));
}

QList<TVLDesktop::Application> TVLDesktop::applicationsForUrl(const QUrl &) { return {}; }

void TVLDesktop::openUrlWithApplication(const QUrl &url, const QString &applicationIdentifier)
{
    HVXLogWarning(QStringLiteral("No desktop to open '%1' with %2").arg(url.toString(), applicationIdentifier));
}

void TVLDesktop::openPathWithApplicationNamed(const QString &path, const QString &applicationName)
{
    HVXLogWarning(QStringLiteral("No desktop to open '%1' with %2").arg(path, applicationName));
}

bool TVLDesktop::enableDeveloperHacks() const
{
    return TVLSettings::enablesDeveloperHacks();
}
