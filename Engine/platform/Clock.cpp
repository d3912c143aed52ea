#include "platform/Clock.h"

#include <chrono>
#include <time.h>
#if defined(__x86_64__) || defined(__i386__)
#include <x86intrin.h>
#endif

namespace GAME::Platform {

namespace {

uint64_t MonotonicNanoseconds()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<uint64_t>(ts.tv_nsec);
}

uint64_t MeasureCycleRate()
{
    // A short busy wait is enough on a constant-rate counter; 50 ms keeps start-up quick.
    uint64_t startNs = MonotonicNanoseconds();
    uint64_t startCycles = CycleCounter();
    uint64_t nowNs = startNs;
    while (nowNs - startNs < 50000000ull)
        nowNs = MonotonicNanoseconds();
    uint64_t cycles = CycleCounter() - startCycles;
    uint64_t rate = static_cast<uint64_t>(static_cast<double>(cycles) * 1e9 / static_cast<double>(nowNs - startNs));
    return rate ? rate : 1;
}

} // namespace

uint32_t MonotonicMilliseconds() { return static_cast<uint32_t>(MonotonicNanoseconds() / 1000000ull); }

uint64_t HighResolutionCounter() { return MonotonicNanoseconds(); }

uint64_t HighResolutionFrequency() { return 1000000000ull; }

uint64_t CycleCounter()
{
#if defined(__x86_64__) || defined(__i386__)
    return __rdtsc();
#else
    return MonotonicNanoseconds();
#endif
}

uint64_t CycleCounterRate()
{
    static const uint64_t rate = MeasureCycleRate();
    return rate;
}

} // namespace GAME::Platform
