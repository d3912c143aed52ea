#include "core/Timer.h"

#include "core/Time.h"
#include "platform/Clock.h"

namespace GAME {

void Timer::Reset()
{
    int t = GetInternalTime();
    m_startTime = m_previousTime = m_currentTime = t;
    m_elapsedTime = 0;
    m_numSamplesHeld = 0;
    m_nextSample = 0;
}

void Timer::Update(bool smooth)
{
    m_previousTime = m_currentTime;
    m_currentTime = GetInternalTime();
    if (!smooth) {
        m_elapsedTime = m_currentTime - m_previousTime;
        m_numSamplesHeld = 0;
        m_nextSample = 0;
        return;
    }
    if (m_nextSample >= numSamples)
        m_nextSample = 0;
    m_samples[m_nextSample] = m_currentTime - m_previousTime;
    ++m_nextSample;
    if (m_nextSample > m_numSamplesHeld)
        m_numSamplesHeld = m_nextSample;
    unsigned int sum = 0;
    for (unsigned int i = 0; i < m_numSamplesHeld; ++i)
        sum += static_cast<unsigned int>(m_samples[i]);
    m_elapsedTime = static_cast<int>(sum / m_numSamplesHeld);
}

unsigned int Timer::GetTime() { return Platform::MonotonicMilliseconds(); }

GameTimer::GameTimer()
{
    Reset();
    Update(false);
}

int GameTimer::GetInternalTime() const { return GetGameTime(); }

SystemTimer::SystemTimer()
{
    Reset();
    Update(false);
}

int SystemTimer::GetInternalTime() const { return GetSystemTime(); }

} // namespace GAME
