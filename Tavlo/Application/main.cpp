#include "TVLAppDelegate.h"
#include "TVLApplication.h"
#include "TVLCommandLine.h"
#include "TVLMainMenu.h"
#include "TVLQtDesktop.h"
#include "TVLSingleInstance.h"
#include "TVLUpdater.h"

#include "Halvex/Foundation/HVXTerminationSignals.h"

#include <QCoreApplication>
#include <QDir>
#include <QTextStream>

int main(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);

    const QString activationToken = qEnvironmentVariable("XDG_ACTIVATION_TOKEN");

    TVLViewerArguments viewer;
    // Commands answer without a display, so they run before any window system is touched.
    {
        QCoreApplication app(argc, argv);
        QTextStream out(stdout);
        QTextStream err(stderr);
        if (const auto exitCode = TVLCommandLine::run(arguments, out, err))
            return *exitCode;
        // A process of its own (--new-instance) doesn't hand its arguments to the running one.
        viewer = TVLCommandLine::viewerArguments(arguments);
        if (!viewer.newInstance
            && TVLSingleInstance::forwardToRunningInstance(
                TVLSingleInstance::socketPath(),
                TVLSingleInstance::resolvedArguments(viewer.pathsAndUrls, QDir::currentPath()), activationToken))
            return 0;
    }

    // The web engine shares its GL contexts with the widgets; this must precede the application.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    TVLApplication app(argc, argv);
    TVLDesktop::install(std::make_shared<TVLQtDesktop>());
    TVLAppDelegate delegate;
    // A logout or Ctrl+C in the terminal quits as the Quit command does.
    HVXTerminationSignals::install([&delegate] { delegate.terminate(); });
    TVLMainMenu::install(&delegate);
    TVLSingleInstance instance;
    if (!viewer.newInstance)
        instance.listen(TVLSingleInstance::socketPath(), [&delegate](const TVLSingleInstance::Request &request) {
            // The desktop's activation token lets the raised window take the focus.
            if (!request.activationToken.isEmpty())
                qputenv("XDG_ACTIVATION_TOKEN", request.activationToken.toUtf8());
            if (request.arguments.isEmpty())
                delegate.openViewer();
            else
                delegate.applicationOpenURLs(request.arguments);
        });
    delegate.applicationOpenURLs(viewer.pathsAndUrls);
    delegate.applicationDidFinishLaunching();
    TVLUpdater::shared().checkInBackgroundIfEnabled();
    const int exitCode = app.exec();
    TVLDesktop::install(nullptr);
    return exitCode;
}
