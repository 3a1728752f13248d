// The directory branch of TVLObject::objectForPath: which kind of node a directory is.
#include "TVLObject.h"

#include "TVLLibraryFiles.h"
#include "TVLProject.h"
#include "TVLProjectNames.h"
#include "TVLRoot.h"

TVLObject::Ptr TVLObject::objectForDirectory(const QString &directory)
{
    const QString projects = QStringLiteral("projects");
    if (tvlLastPathComponent(directory) == projects && pathMightContainProjects(directory))
        return TVLRoot::initWithRootDir(directory);
    const QString inner = tvlJoinPath(directory, projects);
    if (hvxIsDirectory(inner) && pathMightContainProjects(inner))
        return TVLRoot::initWithRootDir(inner);
    // A subproject is reached through its project.
    const QString name = tvlLastPathComponent(directory);
    const QString above = tvlDeletingLastPathComponent(directory);
    if (name.contains(QLatin1String("--"))
        && !TVLProjectNames::parentProjectDirectory(above, name, TVLProjectNames::directoriesIn(above)).isEmpty())
        return nullptr;
    bool hasTranscript = false;
    hvxEnumerateDirectoryWith(directory, [&](const QString &entry) {
        if (!hasTranscript && tvlPlainExtension(entry) == QLatin1String("jsonl") && !hvxIsDirectory(entry))
            hasTranscript = true;
    });
    return hasTranscript ? TVLProject::initWithRootDir(directory) : nullptr;
}
