#pragma once
// A folder of the suite's own for everything the program keeps: the settings file and the cache
// (the library index). Made when the suite starts and removed when it ends, so that no suite
// reads or writes the user's own settings or cache, and suites never see each other's.

#include <QString>
#include <QTemporaryDir>

class SuiteSandbox final
{
public:
    // Points the settings store, the cache folder and the home folder here (TAVLO_SETTINGS_FILE,
    // TAVLO_CACHE_DIR, HOME).
    SuiteSandbox();
    SuiteSandbox(const SuiteSandbox &) = delete;
    SuiteSandbox &operator=(const SuiteSandbox &) = delete;

    bool isValid() const { return m_dir.isValid(); }
    QString path() const { return m_dir.path(); }
    QString filePath(const QString &name) const { return m_dir.filePath(name); }
    QString settingsPath() const { return filePath(QStringLiteral("settings.ini")); }
    QString cachePath() const { return filePath(QStringLiteral("cache")); }
    QString homePath() const { return filePath(QStringLiteral("home")); }

private:
    QTemporaryDir m_dir;
};
