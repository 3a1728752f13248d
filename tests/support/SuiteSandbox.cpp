#include "SuiteSandbox.h"

#include "Halvex/Foundation/HVXDefaults.h"

#include <QFile>

SuiteSandbox::SuiteSandbox()
{
    if (!m_dir.isValid())
        qFatal("The suite's folder cannot be made: %s", qPrintable(m_dir.errorString()));
    // Set for the suite's own process and whatever it starts.
    qputenv("TAVLO_SETTINGS_FILE", QFile::encodeName(settingsPath()));
    qputenv("TAVLO_CACHE_DIR", QFile::encodeName(cachePath()));
    // The settings store may already be open (a registered default read before the suite ran).
    HVXDefaults::useStoreAtPath(settingsPath());
}
