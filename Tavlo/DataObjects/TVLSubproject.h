#pragma once
// A subdivision of a project: a sibling directory named like the project's directory followed
// by "--" and a suffix (-Users-me-app--feature beside -Users-me-app), when that project's
// directory is there (TVLProjectNames). It is listed inside its project, named by the suffix,
// drawn in purple, and otherwise behaves like a project.

#include "TVLProject.h"

class TVLSubproject final : public TVLProject
{
public:
    // Named by what follows `parentName` and "--" when given, else by extractSubprojectNameFromPath.
    static std::shared_ptr<TVLSubproject> initWithRootDir(const QString &directory, const QString &parentName = {});

    // The subprojects beside the project directory, in listing order, each a new object: the
    // directories whose names extend it and no shorter project directory.
    static std::vector<std::shared_ptr<TVLSubproject>> discoverSubprojectsInProjectPath(const QString &projectPath);
    // Everything after the first "--" of the directory name ("fix--2" for -Users-me-app--fix--2).
    static std::optional<QString> extractSubprojectNameFromPath(const QString &path);

    void updateSessions() override;
    HVXColor textColor() const override;
    bool hasStandardTextColor() const override { return false; }
};
