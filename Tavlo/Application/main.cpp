#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTextStream(stdout) << "Tavlo " << TAVLO_VERSION << "\n";
    return 0;
}
