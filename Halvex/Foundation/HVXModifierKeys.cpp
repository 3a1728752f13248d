#include "HVXModifierKeys.h"

namespace {
std::function<quint64()> &provider()
{
    static std::function<quint64()> current;
    return current;
}
quint64 fixedFlags = 0;
} // namespace

quint64 hvxCurrentModifierFlags() { return provider() ? provider()() : fixedFlags; }

bool hvxIsModifierHeld(HVXModifierFlag flag) { return (hvxCurrentModifierFlags() & flag) != 0; }

void hvxSetModifierFlagsProvider(std::function<quint64()> newProvider) { provider() = std::move(newProvider); }

void hvxSetModifierFlags(quint64 flags)
{
    provider() = nullptr;
    fixedFlags = flags;
}
