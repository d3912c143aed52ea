// System calls the platform layer's files share: an open that a signal cannot cut short, and the
// monotonic clock their bounded waits count in.
#pragma once

#include <cstdint>
#include <string>

namespace GAME::Platform {

// open(2) with O_CLOEXEC added, made again while a signal interrupts it; -1 with errno.
int OpenRetrying(const std::string& path, int flags, unsigned permissions = 0);
// Milliseconds of the monotonic clock.
int64_t NowMilliseconds();

} // namespace GAME::Platform
