#include "TVLAppDelegate.h"
#include "TVLApplication.h"
#include "TVLCommandLine.h"
#include "TVLQtDesktop.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);

    // Commands answer without a display, so they run before any window system is touched.
    {
        QCoreApplication app(argc, argv);
        QTextStream out(stdout);
        QTextStream err(stderr);
        if (const auto exitCode = TVLCommandLine::run(arguments, out, err))
            return *exitCode;
    }

    // The web engine shares its GL contexts with the widgets; this must precede the application.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    TVLApplication app(argc, argv);
    TVLDesktop::install(std::make_shared<TVLQtDesktop>());
    TVLAppDelegate delegate;
    delegate.applicationOpenURLs(TVLCommandLine::viewerArguments(arguments).pathsAndUrls);
    delegate.applicationDidFinishLaunching();
    const int exitCode = app.exec();
    TVLDesktop::install(nullptr);
    return exitCode;
}
