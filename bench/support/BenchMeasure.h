#pragma once
// Wall time and peak memory as the benchmarks report them.

#include <sys/resource.h>

#include <chrono>

using Clock = std::chrono::steady_clock;

// Seconds since start.
inline double Since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// The process's peak resident set so far, in KB.
inline long PeakRssKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}
