#include "TVLBenchFigures.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QTextStream>
#include <QThread>
#include <algorithm>
#include <cstdlib>
#include <unistd.h>

namespace TVLBenchFigures {

namespace {
QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}
} // namespace

void figure(const QString &name, double value, const QString &unit, int decimals)
{
    out() << name << ": " << QString::number(value, 'f', decimals) << (unit.isEmpty() ? "" : " ") << unit << "\n";
    out().flush();
}

void line(const QString &text)
{
    out() << text << "\n";
    out().flush();
}

void printLoadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (file.open(QIODevice::ReadOnly))
        line(QStringLiteral("load average: ") + QString::fromLatin1(file.readLine()).section(QLatin1Char(' '), 0, 2));
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double worst(const std::vector<double> &values)
{
    return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
}

qint64 residentBytes(qint64 processId) { return statusBytes("VmRSS", processId); }

qint64 statusBytes(const char *field, qint64 processId)
{
    QFile status(processId > 0 ? QStringLiteral("/proc/%1/status").arg(processId) : QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray key = QByteArray(field) + ':';
    for (const QByteArray &entry : status.readAll().split('\n'))
        if (entry.startsWith(key))
            return entry.mid(key.size()).trimmed().split(' ').value(0).toLongLong() * 1024;
    return -1;
}

double cpuSeconds(qint64 processId)
{
    QFile stat(processId > 0 ? QStringLiteral("/proc/%1/stat").arg(processId) : QStringLiteral("/proc/self/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    // The command name may hold spaces: the fields are counted from the ')' that ends it.
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    const double ticks = double(::sysconf(_SC_CLK_TCK));
    return (fields[11].toDouble() + fields[12].toDouble()) / ticks;
}

bool waitUntil(const std::function<bool()> &condition, int timeoutMilliseconds)
{
    QDeadlineTimer deadline(timeoutMilliseconds);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (!condition())
            QThread::usleep(200);
    }
    return true;
}

void waitOrFail(const std::function<bool()> &condition, int timeoutMilliseconds, const QString &what)
{
    if (!waitUntil(condition, timeoutMilliseconds))
        fail(QStringLiteral("timed out after %1 s waiting for %2").arg(timeoutMilliseconds / 1000.0).arg(what));
}

void fail(const QString &message)
{
    line(QStringLiteral("error: ") + message);
    // Not through the destructors: the web engine may still be busy with what did not finish.
    std::_Exit(1);
}

} // namespace TVLBenchFigures
