// The machine's clocks: a monotonic millisecond clock, a high-resolution counter and the
// processor's cycle counter. All are safe to read from any thread.
#pragma once

#include <cstdint>

namespace GAME::Platform {

// Milliseconds of a monotonic clock (wraps after 49 days, like the classic multimedia timer).
uint32_t MonotonicMilliseconds();

// High-resolution monotonic counter and its ticks per second.
uint64_t HighResolutionCounter();
uint64_t HighResolutionFrequency();

// The processor's cycle counter and its rate in cycles per second, measured once on first use.
uint64_t CycleCounter();
uint64_t CycleCounterRate();

} // namespace GAME::Platform
