// Timing and sample data shared by the benchmarks.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace bench {

inline double seconds()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

inline double mbPerSecond(uint64_t bytes, double secs)
{
    return secs > 0 ? (double)bytes / 1e6 / secs : 0;
}

inline std::vector<char> randomBytes(size_t n, uint64_t seed)
{
    std::vector<char> out(n);
    std::mt19937_64 rng(seed);
    for (size_t i = 0; i + 8 <= n; i += 8) {
        uint64_t v = rng();
        for (int k = 0; k < 8; k++)
            out[i + (size_t)k] = (char)(v >> (8 * k));
    }
    return out;
}

// Words and punctuation from a small vocabulary: compresses roughly like prose.
inline std::vector<char> textLikeBytes(size_t n, uint64_t seed)
{
    static const char *words[] = {"the",  "vault",  "travels", "with",      "stick",   "and",     "every",
                                  "file", "inside", "is",      "encrypted", "before",  "it",      "reaches",
                                  "disk", "report", "2026",    "quarterly", "numbers", "meeting", "notes",
                                  "of",   "a",      "to",      "in"};
    std::mt19937_64 rng(seed);
    std::vector<char> out;
    out.reserve(n);
    while (out.size() < n) {
        const char *w = words[rng() % (sizeof(words) / sizeof(words[0]))];
        for (const char *p = w; *p && out.size() < n; p++)
            out.push_back(*p);
        if (out.size() < n)
            out.push_back(rng() % 12 == 0 ? '\n' : (rng() % 9 == 0 ? ',' : ' '));
    }
    return out;
}

}  // namespace bench
