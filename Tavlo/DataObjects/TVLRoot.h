#pragma once
// One log root: a "projects" directory holding one directory per project. It lists the projects
// (without reading any transcript), orders them by name or by recent use (the "TVLRootSortMode"
// setting), and routes file events below it to the project they belong to.

#include "TVLObject.h"
#include "TVLSettings.h"

#include <QHash>
#include <QMap>

class TVLProject;

class TVLRoot final : public TVLObject
{
public:
    using ProjectLookup = QMap<QString, std::shared_ptr<TVLProject>>;
    enum SortMode : qint64 { SortByName = 0, SortByRecentUse = 1 };

    static inline const QString &sortModeKey = TVLSettings::rootSortModeKey;
    static void registerDefaults();

    // A root on the directory; nullptr (after a warning and a beep) when it is not a directory.
    static std::shared_ptr<TVLRoot> initWithRootDir(const QString &directory);

    qint64 sortMode() const { return m_sortMode; }
    void setSortMode(qint64 mode);
    const ProjectLookup &projectLookup() const { return m_projectLookup; }

    void updateProjects();
    void pathDidUpdate(const QString &changedPath) override;
    void addToContextMenu(HVXMenu &menu) override;
    QString displayTitleString() const override;
    QString displayTitle() const override;
    void updateDisplayChildren();

private:
    void setProjectLookup(ProjectLookup lookup);
    // The project directory that the directory `name` is a subproject of; empty for a project.
    QString parentOfSubproject(const QString &name);

    qint64 m_sortMode = SortByName;
    ProjectLookup m_projectLookup;
    QHash<QString, QString> m_parentBySubproject;  // directory names
};
