#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <vector>

// What the benchmarks time with, and how they give their figures.
using Clock = std::chrono::steady_clock;

inline double milliseconds(Clock::duration duration)
{
    return std::chrono::duration<double, std::milli>(duration).count();
}

// The value below which that fraction of the values lies (0.5 the median, 1 the worst).
inline double percentile(std::vector<double> values, double fraction)
{
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(fraction * double(values.size() - 1) + 0.5)];
}

inline const char *verdict(bool met)
{
    return met ? "met" : "MISSED";
}
