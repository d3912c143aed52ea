// Machine time for the network targets that only the input moves: whole milliseconds, no
// performance counter. A target hands it to what it runs (a socket's clock) or installs it as the
// engine's machine clock.
#pragma once

#include "core/Time.h"

#include <atomic>
#include <cstdint>

class FuzzClock : public GAME::MachineClock
{
public:
    explicit FuzzClock(uint32_t start) : now(start) {}
    bool HasPerformanceCounter() const override { return false; }
    uint64_t GetPerformanceCounter() const override { return 0; }
    uint64_t GetPerformanceFrequency() const override { return 1000; }
    uint32_t GetMilliseconds() const override { return now.load(); }
    std::atomic<uint32_t> now;
};
