#pragma once
// SIGTERM (a desktop logout, kill) and SIGINT (Ctrl+C in a terminal) turned into a call on the
// main thread, so the program quits as the Quit command does instead of dying mid-write. The
// signal handler only writes one byte into a socket pair; the event loop reads it. A second
// signal while the first is being handled is ignored. Other platforms: nothing is installed.

#include <functional>

namespace HVXTerminationSignals {
// Replaces any handler installed before; an empty one gives the signals their default effect.
// Needs the application object.
void install(std::function<void()> handler);
} // namespace HVXTerminationSignals
