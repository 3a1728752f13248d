#pragma once
// A desktop for unit tests that have no window system: it records what the model asked for.

#include "Tavlo/DataObjects/TVLDesktop.h"

class RecordingDesktop final : public TVLDesktop
{
public:
    QStringList openedWindows;
    QStringList copiedTexts;
    QStringList revealedPaths;
    QList<Application> applications;

    void openPathInNewWindow(const QString &path) override { openedWindows << path; }
    void copyToPasteboard(const QString &text) override { copiedTexts << text; }
    void showInFileManager(const QString &path) override { revealedPaths << path; }
    QList<Application> applicationsForUrl(const QUrl &) override { return applications; }

    // Installs a fresh recording desktop for the current test and returns it.
    static std::shared_ptr<RecordingDesktop> install()
    {
        auto desktop = std::make_shared<RecordingDesktop>();
        TVLDesktop::install(desktop);
        return desktop;
    }
};
