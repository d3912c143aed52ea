#include "core/RandomUniformLocked.h"

namespace GAME {

namespace {

constexpr uint32_t kMultiplier = 16807;
constexpr uint32_t kModulus = 2147483647u;
// A state of 0 would repeat for ever; the generator then continues from the state that
// seed 1 gives.
constexpr uint32_t kRestartState = 16807;

uint32_t Next(uint32_t state) { return (state * kMultiplier) % kModulus; }

} // namespace

void RandomUniformLocked::Seed(unsigned long seed)
{
    CriticalSectionLock lock(m_lock);
    m_state = Next(static_cast<uint32_t>(seed));
    if (m_state == 0)
        m_state = kRestartState;
}

double RandomUniformLocked::Draw()
{
    uint32_t next = Next(m_state);
    double u = static_cast<double>(next) * (1.0 / 2147483647.0);
    m_state = next ? next : kRestartState;
    return u;
}

int RandomUniformLocked::IGenerate(int low, int high)
{
    CriticalSectionLock lock(m_lock);
    double u = Draw();
    return static_cast<int>(static_cast<double>(low) + (static_cast<double>(high) - static_cast<double>(low)) * u + 0.5);
}

float RandomUniformLocked::FGenerate(float low, float high)
{
    CriticalSectionLock lock(m_lock);
    double u = Draw();
    return static_cast<float>(low + (high - low) * u);
}

} // namespace GAME
