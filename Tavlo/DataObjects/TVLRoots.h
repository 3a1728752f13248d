#pragma once
// The top of the default tree: the log roots that exist on this machine, watched together.
// With exactly one root the outline shows that root's projects at the top level.

#include "TVLObject.h"

#include <QStringList>

class TVLRoot;

class TVLRoots final : public TVLObject
{
public:
    // The default roots relative to the home directory, in order, and their titles.
    static QStringList defaultRootRelativePaths();
    // The alert shown when no default root exists.
    static QString noRootsMessage();
    static QString noRootsInformativeText();

    // Adds every default root that is a directory; false (after the alert) when there is none.
    bool addDefaultRoots();
    void addRoot(const std::shared_ptr<TVLRoot> &root);
    TVLRoot *singleChild() const;

    void setChildren(List children) override;
    void startMonitoring() override;
    void stopMonitoring() override;
    QString titleForWindow() const override;
    List displayChildren() override;
};
