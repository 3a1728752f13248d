#include "ViewerTestKit.h"

#include "PageProbe.h"

#include "Halvex/AppKit/HVXOutlineView.h"
#include "Halvex/AppKit/HVXWindowController.h"
#include "Halvex/AppKit/HVXWindows.h"
#include "Tavlo/Viewer/TVLViewerViewController.h"
#include "Tavlo/Viewer/TVLWebPage.h"

#include <QCoreApplication>
#include <QDir>
#include <QTest>
#include <memory>

namespace {

struct Answer
{
    QVariant value;
    bool arrived = false;
};

// Shared with the callback, which may run after the wait gave up.
std::function<void(const QVariant &)> recordInto(const std::shared_ptr<Answer> &answer)
{
    return [answer](const QVariant &value) {
        answer->value = value;
        answer->arrived = true;
    };
}

QVariant waitFor(const std::shared_ptr<Answer> &answer, const QString &script, int timeoutMilliseconds)
{
    if (!QTest::qWaitFor([&] { return answer->arrived; }, timeoutMilliseconds))
        QTest::qFail(qPrintable(QStringLiteral("The page did not answer: ") + script.left(200)), __FILE__, __LINE__);
    return answer->value;
}

} // namespace

ViewerTestKit::ViewerTestKit() { TVLViewerViewController::registerClass(); }

QString ViewerTestKit::newRoot()
{
    const QString root = m_sandbox.filePath(QStringLiteral("r%1/projects").arg(++m_roots));
    QDir().mkpath(root);
    return root;
}

TVLViewerViewController *ViewerTestKit::openViewer(const QString &path)
{
    auto *viewer = qobject_cast<TVLViewerViewController *>(HVXWindows::presentViewControllerOfClass(
        QString::fromLatin1(TVLViewerViewController::className), {{QStringLiteral("path"), path}}));
    if (viewer)
        (void)QTest::qWaitForWindowExposed(viewer->window());
    return viewer;
}

void ViewerTestKit::closeAllWindows()
{
    for (HVXWindowController *window : HVXWindows::windowControllers())
        window->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void ViewerTestKit::select(TVLViewerViewController *viewer, const QModelIndex &index)
{
    viewer->outlineView()->selectionModel()->select(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

QVariant ViewerTestKit::evaluate(QWebEnginePage *page, const QString &script, int timeoutMilliseconds)
{
    const auto answer = std::make_shared<Answer>();
    page->runJavaScript(script, recordInto(answer));
    return waitFor(answer, script, timeoutMilliseconds);
}

QVariant ViewerTestKit::evaluate(TVLPageController &page, const QString &script, int timeoutMilliseconds)
{
    return evaluate(PageProbe::webPage(page), script, timeoutMilliseconds);
}

QVariant ViewerTestKit::evaluate(TVLViewerViewController *viewer, const QString &script, int timeoutMilliseconds)
{
    return evaluate(*viewer->page(), script, timeoutMilliseconds);
}
