// Log lines of the render device modules. A module does not link libEngine, so it finds the
// engine's logging entry point (GAME::LogText) in the process when it first logs: once the engine
// is loaded every line goes through the engine's log (and from there to the host or a test's
// capture); a process without the engine gets the line on standard error. Any thread.
#pragma once

namespace GAME::DeviceCommon {

// Priorities as the engine's: 0 information, 1 warning or survivable failure, 2 what the host
// must see.
void DeviceLogPrintf(int priority, const char* format, ...) __attribute__((format(printf, 2, 3)));

} // namespace GAME::DeviceCommon
