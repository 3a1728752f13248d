#pragma once
// Token counts of one model call, or a sum of many: six signed 64-bit counters. Sums saturate at
// the 64-bit limits: a file may claim any count, and an overflow must not wrap or be undefined.
// The two ephemeral counters split the cache creation by lifetime; they count for isEmpty()
// and are summed, but enter neither total.

#include <QtGlobal>
#include <limits>

struct TVLTokenUsage
{
    qint64 inputTokens = 0;
    qint64 outputTokens = 0;
    qint64 cacheCreationInputTokens = 0;
    qint64 cacheReadInputTokens = 0;
    qint64 ephemeral5mInputTokens = 0;
    qint64 ephemeral1hInputTokens = 0;

    static qint64 add(qint64 a, qint64 b)
    {
        qint64 sum;
        if (!__builtin_add_overflow(a, b, &sum))
            return sum;
        return b > 0 ? std::numeric_limits<qint64>::max() : std::numeric_limits<qint64>::min();
    }

    qint64 totalInputTokens() const { return add(add(inputTokens, cacheCreationInputTokens), cacheReadInputTokens); }
    qint64 totalTokens() const { return add(totalInputTokens(), outputTokens); }
    bool isEmpty() const
    {
        return inputTokens == 0 && outputTokens == 0 && cacheCreationInputTokens == 0
            && cacheReadInputTokens == 0 && ephemeral5mInputTokens == 0 && ephemeral1hInputTokens == 0;
    }

    void addUsage(const TVLTokenUsage *other)
    {
        if (other)
            addUsage(*other);
    }
    void addUsage(const TVLTokenUsage &other)
    {
        inputTokens = add(inputTokens, other.inputTokens);
        outputTokens = add(outputTokens, other.outputTokens);
        cacheCreationInputTokens = add(cacheCreationInputTokens, other.cacheCreationInputTokens);
        cacheReadInputTokens = add(cacheReadInputTokens, other.cacheReadInputTokens);
        ephemeral5mInputTokens = add(ephemeral5mInputTokens, other.ephemeral5mInputTokens);
        ephemeral1hInputTokens = add(ephemeral1hInputTokens, other.ephemeral1hInputTokens);
    }

    bool operator==(const TVLTokenUsage &other) const = default;
};
