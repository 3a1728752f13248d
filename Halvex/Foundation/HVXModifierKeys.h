#pragma once
// The modifier keys held right now. Some model answers depend on them (Command shows a line's
// JSON, Option a project's usage report). The application wires this to the window system;
// tests and the command line set the flags directly.

#include <QtGlobal>
#include <functional>

enum HVXModifierFlag : quint64 {
    HVXModifierShift = 1ull << 17,
    HVXModifierControl = 1ull << 18,
    HVXModifierOption = 1ull << 19,
    HVXModifierCommand = 1ull << 20,
};

quint64 hvxCurrentModifierFlags();
bool hvxIsModifierHeld(HVXModifierFlag flag);

// The application's query of the window system; without one, the flags set below are used.
void hvxSetModifierFlagsProvider(std::function<quint64()> provider);
void hvxSetModifierFlags(quint64 flags);
