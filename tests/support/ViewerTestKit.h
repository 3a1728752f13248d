#pragma once
// The fixture the window and page suites share: the suite's own settings and cache (a
// SuiteSandbox), the viewer's window class registered, log roots made in the suite's folder,
// viewer windows opened and closed, rows selected, and scripts run in a page with their answer
// waited for.

#include "SuiteSandbox.h"

#include <QModelIndex>
#include <QString>
#include <QVariant>

class QWebEnginePage;
class TVLPageController;
class TVLViewerViewController;

class ViewerTestKit final
{
public:
    ViewerTestKit();
    ViewerTestKit(const ViewerTestKit &) = delete;
    ViewerTestKit &operator=(const ViewerTestKit &) = delete;

    const SuiteSandbox &sandbox() const { return m_sandbox; }
    QString filePath(const QString &name) const { return m_sandbox.filePath(name); }
    // A new, empty log root in the suite's folder: r<n>/projects.
    QString newRoot();

    // A viewer window on the path, once it is on screen; null when none opened.
    static TVLViewerViewController *openViewer(const QString &path);
    // Closes every window and lets them go.
    static void closeAllWindows();
    static void select(TVLViewerViewController *viewer, const QModelIndex &index);

    // The script's answer. The running test fails when none comes in time (and the answer is
    // then empty); a late answer goes nowhere.
    static QVariant evaluate(QWebEnginePage *page, const QString &script, int timeoutMilliseconds = 20000);
    static QVariant evaluate(TVLPageController &page, const QString &script, int timeoutMilliseconds = 20000);
    static QVariant evaluate(TVLViewerViewController *viewer, const QString &script, int timeoutMilliseconds = 20000);

private:
    SuiteSandbox m_sandbox;
    int m_roots = 0;
};
