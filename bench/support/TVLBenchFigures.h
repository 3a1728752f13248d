#pragma once
// What every benchmark prints: one "name: value unit" line a figure, and the few measurements
// they share (medians, the process's resident memory, a nested event loop that waits).

#include <QString>
#include <functional>
#include <vector>

namespace TVLBenchFigures {
void figure(const QString &name, double value, const QString &unit, int decimals = 1);
void line(const QString &text);
// The machine's load average (/proc/loadavg) as a line: figures taken on a shared machine move with it.
void printLoadAverage();
double median(std::vector<double> values);
double worst(const std::vector<double> &values);
// Resident memory of this process, or of the process given (Linux VmRSS); -1 elsewhere.
qint64 residentBytes(qint64 processId = 0);
// One line of /proc/<pid>/status in bytes ("RssAnon", "RssFile", "VmRSS"); -1 elsewhere.
qint64 statusBytes(const char *field, qint64 processId = 0);
// User and system CPU time of this process, or of the process given (Linux); -1 elsewhere.
double cpuSeconds(qint64 processId = 0);
// Runs the event loop until the condition holds or the time runs out; answers whether it held.
bool waitUntil(const std::function<bool()> &condition, int timeoutMilliseconds);
// The same for what a figure depends on: when the time runs out no figure can be right, so it
// prints "error: timed out waiting for <what>" and ends the process with status 1.
void waitOrFail(const std::function<bool()> &condition, int timeoutMilliseconds, const QString &what);
[[noreturn]] void fail(const QString &message);
} // namespace TVLBenchFigures
