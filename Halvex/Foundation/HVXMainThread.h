#pragma once
// Running work on the main thread from wherever one is: at once when already there, else queued
// on the main thread's event loop (hvxOnMain) or queued and waited for (hvxOnMainSync). Worker
// threads use them to hand results to the model, which only the main thread changes.

#include <functional>

bool hvxIsMainThread();
void hvxOnMain(std::function<void()> work);
// Blocks the calling thread until the main thread has run the work. The main thread must not be
// waiting for the caller meanwhile.
void hvxOnMainSync(const std::function<void()> &work);
