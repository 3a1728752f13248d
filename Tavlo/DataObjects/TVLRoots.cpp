#include "TVLRoots.h"

#include "Halvex/Foundation/HVXLog.h"
#include "TVLDesktop.h"
#include "TVLLibraryFiles.h"
#include "TVLRoot.h"

#include <QDir>

QStringList TVLRoots::defaultRootRelativePaths()
{
    return {QStringLiteral("/.claude/projects"),
            QStringLiteral("/Library/Developer/Xcode/CodingAssistant/ClaudeAgentConfig/projects")};
}

QString TVLRoots::noRootsMessage() { return QStringLiteral("No Claude session logs found!"); }

QString TVLRoots::noRootsInformativeText()
{
    return QStringLiteral("These directories were checked:\n\t~%1\n\n")
        .arg(defaultRootRelativePaths().join(QStringLiteral("\n\t~")));
}

bool TVLRoots::addDefaultRoots()
{
    const QString home = QDir::homePath();
    for (const QString &relative : defaultRootRelativePaths()) {
        const QString directory = home + relative;
        if (!hvxIsDirectory(directory))
            continue;
        if (auto root = TVLRoot::initWithRootDir(directory)) {
            root->setParent(this);
            addRoot(root);
        }
    }
    if (!children().empty())
        return true;
    TVLDesktop::current().showInformationalAlert(noRootsMessage(), noRootsInformativeText());
    return false;
}

void TVLRoots::addRoot(const std::shared_ptr<TVLRoot> &root)
{
    if (!root)
        return;
    List roots = children();
    roots.push_back(root);
    setChildren(std::move(roots));
}

TVLRoot *TVLRoots::singleChild() const
{
    return children().size() == 1 ? static_cast<TVLRoot *>(children().front().get()) : nullptr;
}

void TVLRoots::setChildren(List children)
{
    TVLObject::setChildren(std::move(children));
    announce(TVLProperty::TitleForWindow);
}

void TVLRoots::startMonitoring()
{
    for (const Ptr &root : children())
        root->startMonitoring();
}

void TVLRoots::stopMonitoring()
{
    for (const Ptr &root : children())
        root->stopMonitoring();
}

QString TVLRoots::titleForWindow() const
{
    if (TVLRoot *root = singleChild())
        return root->titleForWindow();
    return QStringLiteral("Claude");
}

TVLObject::List TVLRoots::displayChildren()
{
    if (TVLRoot *root = singleChild())
        return root->displayChildren();
    return TVLObject::displayChildren();
}
