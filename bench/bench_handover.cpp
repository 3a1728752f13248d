// How long a second `tavlo PATH` takes to hand its path to the running instance and exit: the
// whole second process, from start to exit code, against a listener in this process that stands
// for the running viewer. `tavlo --version` is the same process start without the handover.
//
//   build/bench/bench_handover [RUNS] [TAVLO_BINARY]

#include "Halvex/Foundation/HVXDefaults.h"
#include "Tavlo/Application/TVLSingleInstance.h"
#include "support/TVLBenchFigures.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

using namespace TVLBenchFigures;

namespace {
// Milliseconds from start to exit, or -1 when it failed or exited with another code.
double runOnce(const QString &binary, const QStringList &arguments, const QProcessEnvironment &environment)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    process.start(binary, arguments);
    if (!waitUntil([&] { return process.state() == QProcess::NotRunning; }, 10000))
        return -1;
    const double elapsed = double(timer.nsecsElapsed()) / 1e6;
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0 ? elapsed : -1;
}
} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir scratch;
    qputenv("XDG_RUNTIME_DIR", scratch.filePath(QStringLiteral("runtime")).toLocal8Bit());
    QDir().mkpath(scratch.filePath(QStringLiteral("runtime")));
    QFile::setPermissions(scratch.filePath(QStringLiteral("runtime")), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const QString settings = scratch.filePath(QStringLiteral("settings.ini"));
    HVXDefaults::useStoreAtPath(settings);
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    const int runs = arguments.size() > 1 ? arguments.at(1).toInt() : 20;
    const QString binary = arguments.size() > 2 ? arguments.at(2)
                                                : QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("../tavlo"));
    if (!QFile::exists(binary)) {
        line(QStringLiteral("no tavlo program at %1").arg(binary));
        return 1;
    }
    const QString session = scratch.filePath(QStringLiteral("project/s.jsonl"));

    int received = 0;
    TVLSingleInstance instance;
    if (!instance.listen(TVLSingleInstance::socketPath(), [&](const TVLSingleInstance::Request &request) {
            received += request.arguments == QStringList{session} ? 1 : 0;
        }))
        return 1;

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TAVLO_SETTINGS_FILE"), settings);
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), scratch.filePath(QStringLiteral("runtime")));

    line(QStringLiteral("corpus: one path argument, %1 runs of %2").arg(runs).arg(binary));
    std::vector<double> handovers;
    std::vector<double> versions;
    int failures = 0;
    for (int run = 0; run < runs; ++run) {
        const double handover = runOnce(binary, {session}, environment);
        const double version = runOnce(binary, {QStringLiteral("--version")}, environment);
        failures += handover < 0 || version < 0 ? 1 : 0;
        if (handover >= 0)
            handovers.push_back(handover);
        if (version >= 0)
            versions.push_back(version);
    }
    figure(QStringLiteral("second tavlo PATH, start to exit 0, median"), median(handovers), QStringLiteral("ms"));
    figure(QStringLiteral("second tavlo PATH, start to exit 0, worst"), worst(handovers), QStringLiteral("ms"));
    figure(QStringLiteral("tavlo --version, start to exit, median"), median(versions), QStringLiteral("ms"));
    figure(QStringLiteral("paths received by the running instance"), received, QStringLiteral("of %1").arg(runs), 0);
    figure(QStringLiteral("failed runs"), failures, QString(), 0);
    return failures == 0 && received == runs ? 0 : 1;
}
