#include "SuiteSandbox.h"

#include "Halvex/Foundation/HVXDefaults.h"

#include <QDir>
#include <QFile>

SuiteSandbox::SuiteSandbox()
{
    if (!m_dir.isValid())
        qFatal("The suite's folder cannot be made: %s", qPrintable(m_dir.errorString()));
    // Set for the suite's own process and whatever it starts.
    qputenv("TAVLO_SETTINGS_FILE", QFile::encodeName(settingsPath()));
    qputenv("TAVLO_CACHE_DIR", QFile::encodeName(cachePath()));
    // A home of the suite's own with an empty log root where the assistant keeps its logs: a
    // window with nothing else to show opens the default roots, and where there are none the
    // program asks with a modal alert that no test answers. Nor may a suite read the user's logs.
    if (!QDir().mkpath(homePath() + QStringLiteral("/.claude/projects")))
        qFatal("The suite's home folder cannot be made");
    qputenv("HOME", QFile::encodeName(homePath()));
    // The settings store may already be open (a registered default read before the suite ran).
    HVXDefaults::useStoreAtPath(settingsPath());
}
