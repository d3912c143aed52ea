// Frame-delta timers over the global clocks: GameTimer reads the game clock, SystemTimer the
// system clock as of the last UpdateTime. Optionally smoothed over the last 10 deltas.
// A timer belongs to one thread and is not locked.
#pragma once

namespace GAME {

class Timer
{
public:
    static constexpr unsigned int numSamples = 10;

    virtual int GetInternalTime() const = 0;
    virtual ~Timer() = default;

    void Reset();
    void Update(bool smooth);
    int GetElapsedTime() const { return m_elapsedTime; }
    int GetTotalElapsedTime() const { return GetInternalTime() - m_startTime; }

    // The platform's millisecond clock, independent of the global clocks.
    static unsigned int GetTime();

protected:
    Timer() = default;
    Timer(const Timer&) = default;
    Timer& operator=(const Timer&) = default;

private:
    int m_startTime = 0;
    int m_previousTime = 0;
    int m_currentTime = 0;
    int m_elapsedTime = 0;
    unsigned int m_numSamplesHeld = 0;
    unsigned int m_nextSample = 0;
    int m_samples[numSamples] = {};
};

class GameTimer : public Timer
{
public:
    GameTimer();
    GameTimer(const GameTimer&) = default;
    GameTimer& operator=(const GameTimer&) = default;
    int GetInternalTime() const override;
};

class SystemTimer : public Timer
{
public:
    SystemTimer();
    SystemTimer(const SystemTimer&) = default;
    SystemTimer& operator=(const SystemTimer&) = default;
    int GetInternalTime() const override;
};

} // namespace GAME
