// The engine's two global clocks, in milliseconds: the system clock (machine time since the time
// system started) and the game clock, which stops while paused and runs at the time scale. Both
// advance only in UpdateTime, once per frame, so a whole frame sees one time.
// UpdateTime, PauseGameTime and UnpauseGameTime take the time lock; readers do not.
#pragma once

#include <cstdint>

namespace GAME {

// Where machine time comes from. The default reads the platform's high-resolution counter;
// tests install their own so that they never sleep.
class MachineClock
{
public:
    virtual ~MachineClock() = default;
    virtual bool HasPerformanceCounter() const = 0;
    virtual uint64_t GetPerformanceCounter() const = 0;
    virtual uint64_t GetPerformanceFrequency() const = 0;
    // A millisecond clock used when there is no performance counter.
    virtual uint32_t GetMilliseconds() const = 0;
};

// Installs a clock (null restores the platform clock). Call InitializeTimeSystem afterwards.
void SetMachineClock(MachineClock* clock);

// Called by UnpauseGameTime so that the engine's game timer does not count the pause.
using GameTimerResetHook = void (*)();
void SetGameTimerResetHook(GameTimerResetHook hook);

void InitializeTimeSystem();
int GetMachineTime();
unsigned int GetMachineClockTicks();
unsigned int GetMachineClockTicksPerSecond();
int64_t GetPerformanceCounter();
float ElapsedMilliseconds(int64_t from, int64_t to);

void UpdateTime();
int GetSystemTime();
int GetGameTime();
void PauseGameTime();
void UnpauseGameTime();
bool IsGameTimePaused();
void SetTimeScale(float scale);
float GetTimeScale();

// Puts the clocks back to their state before start-up (paused, scale 1, times 0).
void ResetTimeSystem();

} // namespace GAME
