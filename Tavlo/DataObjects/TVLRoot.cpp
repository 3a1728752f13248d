#include "TVLRoot.h"

#include "TVLSettings.h"
#include "Halvex/Foundation/HVXLog.h"
#include "Halvex/Foundation/HVXMenu.h"
#include "TVLLibraryFiles.h"
#include "TVLProject.h"
#include "TVLProjectNames.h"

#include <QCollator>
#include <algorithm>

namespace {
// Localized, case-insensitive name order.
bool nameLess(const QCollator &collator, const TVLProject &a, const TVLProject &b)
{
    return collator.compare(a.projectName(), b.projectName()) < 0;
}
} // namespace

void TVLRoot::registerDefaults()
{
    TVLSettings::registerDefaults();
}

std::shared_ptr<TVLRoot> TVLRoot::initWithRootDir(const QString &directory)
{
    registerDefaults();
    auto root = std::make_shared<TVLRoot>();
    root->setSortMode(TVLSettings::rootSortMode());
    if (!hvxIsDirectory(directory)) {
        HVXLogWarningAndBeep(QStringLiteral("Not a directory: %1").arg(directory));
        return nullptr;
    }
    root->setPath(directory);
    root->updateProjects();
    return root;
}

void TVLRoot::setSortMode(qint64 mode)
{
    if (m_sortMode == mode)
        return;
    m_sortMode = mode;
    announce(TVLProperty::SortMode);
    TVLSettings::setRootSortMode(mode);
    updateDisplayChildren();
}

void TVLRoot::updateProjects()
{
    ProjectLookup lookup;
    const QStringList directories = TVLProjectNames::directoriesIn(path());
    m_parentBySubproject.clear();
    for (const QString &name : directories) {
        // Every directory is a project unless its name extends one that is there.
        if (name.contains(QLatin1String("--"))) {
            const QString parent = TVLProjectNames::parentProjectDirectory(path(), name, directories);
            if (!parent.isEmpty()) {
                m_parentBySubproject.insert(name, parent);
                continue;
            }
        }
        const QString entry = tvlJoinPath(path(), name);
        auto project = m_projectLookup.value(entry);
        if (!project) {
            project = TVLProject::initWithRootDir(entry);
            if (!project)
                continue;
            project->setParent(this);
        }
        lookup.insert(entry, std::move(project));
    }
    if (lookup != m_projectLookup)
        setProjectLookup(std::move(lookup));
    updateDisplayChildren();
}

void TVLRoot::setProjectLookup(ProjectLookup lookup)
{
    m_projectLookup = std::move(lookup);
    // Projects whose names are alike are told apart by more of their directory names.
    QStringList directoryNames, plainNames;
    for (auto it = m_projectLookup.cbegin(); it != m_projectLookup.cend(); ++it) {
        directoryNames.append(tvlLastPathComponent(it.key()));
        plainNames.append(TVLProject::plainNameForDirectory(it.key()));
    }
    const QStringList names = TVLProjectNames::distinctNames(directoryNames, plainNames);
    qsizetype i = 0;
    for (const auto &project : std::as_const(m_projectLookup))
        project->setProjectName(names[i++]);
}

QString TVLRoot::parentOfSubproject(const QString &name)
{
    if (!name.contains(QLatin1String("--")))
        return {};
    const auto known = m_parentBySubproject.constFind(name);
    if (known != m_parentBySubproject.constEnd())
        return known.value();
    // A directory that came after the last listing.
    const QString parent = TVLProjectNames::parentProjectDirectory(path(), name, TVLProjectNames::directoriesIn(path()));
    if (!parent.isEmpty())
        m_parentBySubproject.insert(name, parent);
    return parent;
}

void TVLRoot::updateDisplayChildren()
{
    std::vector<std::shared_ptr<TVLProject>> projects(m_projectLookup.begin(), m_projectLookup.end());
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    switch (m_sortMode) {
    case SortByName:
        std::stable_sort(projects.begin(), projects.end(),
                         [&](const auto &a, const auto &b) { return nameLess(collator, *a, *b); });
        break;
    case SortByRecentUse:
        std::stable_sort(projects.begin(), projects.end(), [&](const auto &a, const auto &b) {
            const QDateTime &da = a->mostRecentSessionDate(), &db = b->mostRecentSessionDate();
            if (da.isValid() != db.isValid())
                return da.isValid();
            if (da.isValid())
                return da > db;
            return nameLess(collator, *a, *b);
        });
        break;
    default:
        HVXLogError(QStringLiteral("Unsupported TVLRootSortMode %1").arg(m_sortMode));
        break;
    }
    List ordered(projects.begin(), projects.end());
    if (tvlSameNodes(ordered, children()))
        return;
    setChildren(std::move(ordered));
    // Projects that appeared under an active filter have not been matched yet.
    if (isFilterActive()) {
        for (const auto &project : projects)
            if (!project->isLoaded())
                project->updateFilters();
        updateFilters();
        updateFiltersOfAncestors();
    }
}

void TVLRoot::pathDidUpdate(const QString &changedPath)
{
    // A watch that lost events reports the root itself: list it again and let every project look.
    if (changedPath == path()) {
        updateProjects();
        for (const auto &project : std::as_const(m_projectLookup))
            project->rescan();
        return;
    }
    if (tvlExtension(changedPath) != QLatin1String("jsonl"))
        return;
    const QString prefix = tvlJoinPath(path(), QString());
    if (!changedPath.startsWith(prefix) || changedPath.size() <= prefix.size())
        return;
    const QString first = changedPath.mid(prefix.size()).section(QLatin1Char('/'), 0, 0);
    if (first.isEmpty())
        return;
    if (const auto project = m_projectLookup.value(tvlJoinPath(path(), first))) {
        project->pathDidUpdate(changedPath);
        return;
    }
    if (const QString parent = parentOfSubproject(first); !parent.isEmpty()) {
        if (const auto project = m_projectLookup.value(tvlJoinPath(path(), parent)))
            project->pathDidUpdate(changedPath);
        return;
    }
    const QString projectPath = tvlJoinPath(path(), first);
    auto project = TVLProject::initWithRootDir(projectPath);
    if (!project)
        return;
    project->setParent(this);
    ProjectLookup lookup = m_projectLookup;
    lookup.insert(projectPath, std::move(project));
    setProjectLookup(std::move(lookup));
    updateDisplayChildren();
}

void TVLRoot::addToContextMenu(HVXMenu &menu)
{
    TVLObject::addToContextMenu(menu);
    menu.addSeparator();
    const std::weak_ptr<TVLObject> weak = weak_from_this();
    auto setMode = [weak](qint64 mode) {
        return [weak, mode] {
            if (const auto self = weak.lock())
                static_cast<TVLRoot *>(self.get())->setSortMode(mode);
        };
    };
    menu.addItemWithTitle(QStringLiteral("Sort by Name"), setMode(SortByName), m_sortMode == SortByName);
    menu.addItemWithTitle(QStringLiteral("Sort by Recent Use"), setMode(SortByRecentUse), m_sortMode == SortByRecentUse);
}

QString TVLRoot::displayTitleString() const
{
    if (path().endsWith(QLatin1String("Developer/Xcode/CodingAssistant/ClaudeAgentConfig/projects")))
        return QStringLiteral("Xcode");
    if (path().endsWith(QLatin1String(".claude/projects")))
        return QStringLiteral("Claude Code");
    return QStringLiteral("Claude");
}

QString TVLRoot::displayTitle() const
{
    return QStringLiteral("%1  [c:NSColor:secondaryLabelColor][F:monospacedSystemFontOfSize:weight:|%2|%3]%4")
        .arg(displayTitleString(), QString::number(10.0, 'f', 6), QString::number(0.0, 'f', 6),
             hvxAddTilde(path()));
}
