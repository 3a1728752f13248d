// The `tavlo` program: the commands answer here, in a process that loads no window system, no
// widgets and no web engine (loading those takes longer than most commands need in all); the
// viewer is the program beside it, `tavlo-viewer`, which this process becomes.

#include "TVLCommandLine.h"

#include <QCoreApplication>
#include <QFile>
#include <QTextStream>
#include <cerrno>
#include <cstring>
#include <unistd.h>

int main(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QByteArray viewer;
    {
        QCoreApplication app(argc, argv);
        QTextStream out(stdout);
        QTextStream err(stderr);
        if (const auto exitCode = TVLCommandLine::run(arguments, out, err))
            return *exitCode;
        viewer = QFile::encodeName(QCoreApplication::applicationDirPath() + QStringLiteral("/tavlo-viewer"));
    }
    execv(viewer.constData(), argv);
    fprintf(stderr, "tavlo: the viewer %s can't be started: %s\n", viewer.constData(), strerror(errno));
    return 1;
}
