#pragma once
// The time a file watcher batches by: the current time and one alarm. A watcher keeps a clock
// that follows real time; a test may give it one whose time passes only when the test says so.

#include <QtGlobal>
#include <functional>

class HVXWatcherClock
{
public:
    virtual ~HVXWatcherClock() = default;

    // Milliseconds on a monotonic scale.
    virtual qint64 now() const = 0;
    // Calls `alarm` once, from the event loop, when `milliseconds` have passed; replaces the
    // alarm set before.
    virtual void setAlarm(int milliseconds, std::function<void()> alarm) = 0;
    virtual void cancelAlarm() = 0;
    virtual bool isAlarmSet() const = 0;
};
