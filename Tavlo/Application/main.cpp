#include "TVLCommandLine.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);

    {
        QCoreApplication app(argc, argv);
        QTextStream out(stdout);
        QTextStream err(stderr);
        if (const auto exitCode = TVLCommandLine::run(arguments, out, err))
            return *exitCode;
        err << "tavlo: the viewer window is not built yet\n" << TVLCommandLine::usageText();
    }
    return 2;
}
