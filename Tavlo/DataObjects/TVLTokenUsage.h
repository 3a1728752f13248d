#pragma once
// Token counts of one model call, or a sum of many: six signed 64-bit counters.
// The two ephemeral counters split the cache creation by lifetime; they count for isEmpty()
// and are summed, but enter neither total.

#include <QtGlobal>

struct TVLTokenUsage
{
    qint64 inputTokens = 0;
    qint64 outputTokens = 0;
    qint64 cacheCreationInputTokens = 0;
    qint64 cacheReadInputTokens = 0;
    qint64 ephemeral5mInputTokens = 0;
    qint64 ephemeral1hInputTokens = 0;

    qint64 totalInputTokens() const { return inputTokens + cacheCreationInputTokens + cacheReadInputTokens; }
    qint64 totalTokens() const { return totalInputTokens() + outputTokens; }
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
        inputTokens += other.inputTokens;
        outputTokens += other.outputTokens;
        cacheCreationInputTokens += other.cacheCreationInputTokens;
        cacheReadInputTokens += other.cacheReadInputTokens;
        ephemeral5mInputTokens += other.ephemeral5mInputTokens;
        ephemeral1hInputTokens += other.ephemeral1hInputTokens;
    }

    bool operator==(const TVLTokenUsage &other) const = default;
};
