// A frame's fixed work on the main thread, as a game's own would be: a chain of dependent integer
// steps the compiler cannot drop, calibrated to a length in milliseconds on this machine now.
#pragma once

#include "BenchMachine.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>

inline std::atomic<uint64_t> g_fixedWorkSink{0};

inline void Spin(uint64_t iterations)
{
    uint64_t x = 0x9E3779B97F4A7C15ull + g_fixedWorkSink.load(std::memory_order_relaxed);
    for (uint64_t i = 0; i < iterations; ++i) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
    }
    g_fixedWorkSink.store(x, std::memory_order_relaxed);
}

// Iterations of Spin that take milliseconds on this machine now: the least disturbed of seven
// tries of probe iterations.
inline uint64_t CalibrateSpin(double milliseconds, uint64_t probe)
{
    double best = 1e30;
    for (int i = 0; i < 7; ++i) {
        const auto start = std::chrono::steady_clock::now();
        Spin(probe);
        best = std::min(best, Milliseconds(start, std::chrono::steady_clock::now()));
    }
    return static_cast<uint64_t>(static_cast<double>(probe) * milliseconds / best);
}
