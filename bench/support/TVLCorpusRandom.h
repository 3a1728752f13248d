#pragma once
// The corpus generator's random numbers: xoshiro256** seeded through splitmix64, with helpers
// that only use integer arithmetic and plain doubles, so a seed gives the same corpus on every
// platform and standard library (std::uniform_*_distribution is implementation-defined).

#include <QtGlobal>

#include <cmath>
#include <string>

class TVLCorpusRandom final
{
public:
    explicit TVLCorpusRandom(quint64 seed)
    {
        for (quint64 &word : m_state) {
            seed += 0x9E3779B97F4A7C15ull;
            quint64 z = seed;
            z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
            z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
            word = z ^ (z >> 31);
        }
    }

    quint64 next()
    {
        const quint64 result = rotate(m_state[1] * 5, 7) * 9;
        const quint64 t = m_state[1] << 17;
        m_state[2] ^= m_state[0];
        m_state[3] ^= m_state[1];
        m_state[1] ^= m_state[2];
        m_state[0] ^= m_state[3];
        m_state[2] ^= t;
        m_state[3] = rotate(m_state[3], 45);
        return result;
    }

    // A number in [0, n); 0 for n <= 0. The modulo bias is far below anything a corpus notices.
    qint64 below(qint64 n) { return n <= 0 ? 0 : qint64(next() % quint64(n)); }
    // A number in [low, high], both included.
    qint64 between(qint64 low, qint64 high) { return low + below(high - low + 1); }
    double unit() { return double(next() >> 11) * (1.0 / 9007199254740992.0); }
    bool chance(double probability) { return unit() < probability; }
    // Sizes spread evenly over orders of magnitude, as file and output sizes are.
    qint64 logUniform(qint64 low, qint64 high)
    {
        if (high <= low)
            return low;
        return qint64(double(low) * std::exp(unit() * std::log(double(high) / double(low))));
    }

    template<typename T, size_t N>
    const T &pick(const T (&items)[N])
    {
        return items[below(qint64(N))];
    }

    // A random (version 4) UUID in the lower-case form the transcripts use.
    std::string uuid()
    {
        std::string text = hex(32);
        text[12] = '4';
        text[16] = "89ab"[below(4)];
        text.insert(20, 1, '-');
        text.insert(16, 1, '-');
        text.insert(12, 1, '-');
        text.insert(8, 1, '-');
        return text;
    }

    std::string hex(int length) { return fromAlphabet("0123456789abcdef", 16, length); }
    std::string base62(int length)
    {
        return fromAlphabet("0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", 62, length);
    }

private:
    static quint64 rotate(quint64 x, int k) { return (x << k) | (x >> (64 - k)); }

    std::string fromAlphabet(const char *alphabet, int size, int length)
    {
        std::string text(size_t(length), ' ');
        for (char &c : text)
            c = alphabet[below(size)];
        return text;
    }

    quint64 m_state[4] = {};
};
