#pragma once
// Work spread over threads, the program's one way to do it. Every fan-out draws on one pool sized
// to the machine's cores, so fan-outs that nest (a project's reads, each parsing a big file in
// parts) share the cores instead of each starting threads of its own. Work asked for from a thread
// that runs at a lower priority (a background read) runs on a second pool whose threads take that
// priority, so it stays behind what the window does meanwhile.

#include <QtGlobal>

#include <functional>
#include <memory>

// Calls work(i) once for every i in [0, count), on the calling thread and on at most maxThreads - 1
// threads of the pool (all of its threads when maxThreads is 0), in no particular order; returns
// when every call has returned. A helper is only taken when the pool has a thread free, so a
// fan-out inside another never waits for a thread that the outer one holds.
void hvxParallelFor(size_t count, const std::function<void(size_t)> &work, size_t maxThreads = 0);

// Threads that work beside the caller while it goes on, for work the caller consumes as it is done
// (reading ahead). Each helper runs `work` once, as soon as the pool has a thread for it. join()
// (or the destructor) returns when every helper that started has returned; one that had not
// started by then never runs.
class HVXHelperThreads final
{
public:
    HVXHelperThreads(int count, std::function<void()> work);
    ~HVXHelperThreads();
    HVXHelperThreads(const HVXHelperThreads &) = delete;
    HVXHelperThreads &operator=(const HVXHelperThreads &) = delete;

    void join();

private:
    struct State;
    std::shared_ptr<State> m_state;
};
