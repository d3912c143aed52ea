#include "core/Time.h"

#include "core/CriticalSection.h"
#include "platform/Clock.h"

#include <atomic>
#include <cmath>

namespace GAME {

namespace {

class PlatformClock : public MachineClock
{
public:
    bool HasPerformanceCounter() const override { return true; }
    uint64_t GetPerformanceCounter() const override { return Platform::HighResolutionCounter(); }
    uint64_t GetPerformanceFrequency() const override { return Platform::HighResolutionFrequency(); }
    uint32_t GetMilliseconds() const override { return Platform::MonotonicMilliseconds(); }
};

PlatformClock g_platformClock;

// Game time is accumulated in a double of whole milliseconds: a 32-bit float stops taking
// small advances after a few hours of play, a double keeps every millisecond for far longer
// than any session. Machine times are 64-bit for the same reason.
struct TimeState
{
    std::atomic<MachineClock*> clock{&g_platformClock};
    std::atomic<GameTimerResetHook> resetHook{nullptr};
    std::atomic<bool> paused{true};
    bool counterInUse = false;
    std::atomic<float> timeScale{1.0f};
    std::atomic<double> gameTime{0.0};
    int64_t lastAdvance = 0;
    std::atomic<int64_t> systemTime{0};
    uint64_t counterFrequency = 1;
    uint64_t counterStart = 0;
    uint32_t millisecondStart = 0;
};

TimeState& State()
{
    static TimeState state;
    return state;
}

CriticalSection& TimeLock()
{
    static CriticalSection lock;
    return lock;
}

int64_t MachineTime64()
{
    TimeState& s = State();
    MachineClock* clock = s.clock.load();
    if (s.counterInUse) {
        uint64_t ticks = clock->GetPerformanceCounter() - s.counterStart;
        uint64_t frequency = s.counterFrequency ? s.counterFrequency : 1;
        // Split the multiplication so that it cannot overflow for long runs.
        return static_cast<int64_t>((ticks / frequency) * 1000 + (ticks % frequency) * 1000 / frequency);
    }
    return static_cast<int64_t>(static_cast<uint32_t>(clock->GetMilliseconds() - s.millisecondStart));
}

} // namespace

void SetMachineClock(MachineClock* clock) { State().clock.store(clock ? clock : &g_platformClock); }

void SetGameTimerResetHook(GameTimerResetHook hook) { State().resetHook.store(hook); }

void InitializeTimeSystem()
{
    {
        CriticalSectionLock lock(TimeLock());
        TimeState& s = State();
        MachineClock* clock = s.clock.load();
        if (clock->HasPerformanceCounter()) {
            s.counterFrequency = clock->GetPerformanceFrequency();
            s.counterStart = clock->GetPerformanceCounter();
            s.counterInUse = true;
        } else {
            s.millisecondStart = clock->GetMilliseconds();
            s.counterInUse = false;
        }
    }
    UpdateTime();
}

int GetMachineTime() { return static_cast<int>(MachineTime64()); }

unsigned int GetMachineClockTicks()
{
    TimeState& s = State();
    if (s.counterInUse)
        return static_cast<unsigned int>(s.clock.load()->GetPerformanceCounter() - s.counterStart);
    return static_cast<unsigned int>(MachineTime64());
}

unsigned int GetMachineClockTicksPerSecond() { return static_cast<unsigned int>(State().counterFrequency); }

int64_t GetPerformanceCounter() { return static_cast<int64_t>(State().clock.load()->GetPerformanceCounter()); }

float ElapsedMilliseconds(int64_t from, int64_t to)
{
    uint64_t frequency = State().clock.load()->GetPerformanceFrequency();
    if (frequency == 0)
        return 0.0f;
    // 128-bit: counts of hours at nanosecond rates, or counters far apart, overflow 64 bits once
    // multiplied by a million.
    const __int128 ticks = static_cast<__int128>(to) - static_cast<__int128>(from);
    const __int128 micro = ticks * 1000000 / static_cast<__int128>(frequency);
    return static_cast<float>(static_cast<double>(micro) * 0.001);
}

void UpdateTime()
{
    CriticalSectionLock lock(TimeLock());
    TimeState& s = State();
    int64_t now = MachineTime64();
    double game = s.gameTime.load();
    if (!s.paused.load()) {
        game = std::trunc(static_cast<double>(now - s.lastAdvance) * static_cast<double>(s.timeScale.load()) + game);
        s.lastAdvance = now;
    }
    s.systemTime.store(now);
    s.gameTime.store(game);
}

int GetSystemTime() { return static_cast<int>(State().systemTime.load()); }

int GetGameTime() { return static_cast<int>(static_cast<int64_t>(State().gameTime.load())); }

void PauseGameTime()
{
    CriticalSectionLock lock(TimeLock());
    State().paused.store(true);
}

void UnpauseGameTime()
{
    GameTimerResetHook hook;
    {
        CriticalSectionLock lock(TimeLock());
        TimeState& s = State();
        s.lastAdvance = s.systemTime.load();
        s.paused.store(false);
        hook = s.resetHook.load();
    }
    if (hook)
        hook();
}

bool IsGameTimePaused() { return State().paused.load(); }

void SetTimeScale(float scale) { State().timeScale.store(scale); }

float GetTimeScale() { return State().timeScale.load(); }

void ResetTimeSystem()
{
    CriticalSectionLock lock(TimeLock());
    TimeState& s = State();
    s.paused.store(true);
    s.timeScale.store(1.0f);
    s.gameTime.store(0.0);
    s.lastAdvance = 0;
    s.systemTime.store(0);
}

} // namespace GAME
