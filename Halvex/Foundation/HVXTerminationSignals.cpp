#include "HVXTerminationSignals.h"

#include "HVXLog.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {
std::function<void()> &currentHandler()
{
    static std::function<void()> handler;
    return handler;
}

#ifdef Q_OS_UNIX
int g_signalSockets[2] = {-1, -1};

void writeSignalByte(int signalNumber)
{
    const char byte = char(signalNumber);
    const int saved = errno;
    // Nothing else is safe here; a full socket means a signal is already pending.
    [[maybe_unused]] const ssize_t written = ::write(g_signalSockets[0], &byte, 1);
    errno = saved;
}

bool openSignalSockets()
{
    if (g_signalSockets[0] >= 0)
        return true;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_signalSockets) != 0) {
        HVXLogError(QStringLiteral("Can't catch termination signals: socketpair failed: %1")
                        .arg(QString::fromLocal8Bit(std::strerror(errno))));
        return false;
    }
    auto *notifier = new QSocketNotifier(g_signalSockets[1], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [] {
        char bytes[16];
        while (::read(g_signalSockets[1], bytes, sizeof bytes) > 0) {
        }
        static bool handling = false;
        if (handling || !currentHandler())
            return;
        handling = true;
        currentHandler()();
        handling = false;
    });
    return true;
}
#endif
} // namespace

void HVXTerminationSignals::install(std::function<void()> handler)
{
    currentHandler() = std::move(handler);
#ifdef Q_OS_UNIX
    // Without a handler the signals end the process again, as they do by default.
    const bool catching = bool(currentHandler());
    if (catching && (!QCoreApplication::instance() || !openSignalSockets()))
        return;
    struct sigaction action = {};
    action.sa_handler = catching ? writeSignalByte : SIG_DFL;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signalNumber : {SIGTERM, SIGINT})
        if (::sigaction(signalNumber, &action, nullptr) != 0)
            HVXLogError(QStringLiteral("Can't catch signal %1: %2").arg(signalNumber).arg(QString::fromLocal8Bit(std::strerror(errno))));
#endif
}
