#include "TVLSubproject.h"

#include "Halvex/Foundation/HVXLog.h"
#include "TVLLibraryFiles.h"
#include "TVLProjectNames.h"

#include <QFileInfo>

std::shared_ptr<TVLSubproject> TVLSubproject::initWithRootDir(const QString &directory, const QString &parentName)
{
    auto subproject = std::make_shared<TVLSubproject>();
    if (!subproject->initializeWithRootDir(directory))
        return nullptr;
    if (!parentName.isEmpty())
        subproject->setProjectName(TVLProjectNames::subprojectName(tvlLastPathComponent(directory), parentName));
    else if (const auto name = extractSubprojectNameFromPath(directory))
        subproject->setProjectName(*name);
    subproject->setLastChangedAt(QFileInfo(directory).lastModified());
    return subproject;
}

std::vector<std::shared_ptr<TVLSubproject>> TVLSubproject::discoverSubprojectsInProjectPath(const QString &projectPath)
{
    std::vector<std::shared_ptr<TVLSubproject>> subprojects;
    const QString projectName = tvlLastPathComponent(projectPath);
    const QString root = tvlDeletingLastPathComponent(projectPath);
    const QStringList directories = TVLProjectNames::directoriesIn(root);
    for (const QString &name : directories) {
        if (!name.startsWith(projectName + QStringLiteral("--"), Qt::CaseInsensitive)
            || TVLProjectNames::parentProjectDirectory(root, name, directories) != projectName)
            continue;
        const QString entry = tvlJoinPath(root, name);
        if (auto subproject = initWithRootDir(entry, projectName))
            subprojects.push_back(std::move(subproject));
        else
            HVXLogError(QStringLiteral("TVLSubproject: Failed to create subproject: %1").arg(entry));
    }
    return subprojects;
}

std::optional<QString> TVLSubproject::extractSubprojectNameFromPath(const QString &path)
{
    const QStringList pieces = tvlLastPathComponent(path).split(QStringLiteral("--"));
    if (pieces.size() < 2)
        return std::nullopt;
    return pieces.mid(1).join(QStringLiteral("--"));
}

void TVLSubproject::updateSessions()
{
    TVLProject::updateSessions();
    QDateTime latest;
    for (const Ptr &child : children())
        if (child->lastChangedAt().isValid() && (!latest.isValid() || child->lastChangedAt() > latest))
            latest = child->lastChangedAt();
    if (latest.isValid())
        setLastChangedAt(latest);
}

HVXColor TVLSubproject::textColor() const { return HVXSystemColor::purple(); }
