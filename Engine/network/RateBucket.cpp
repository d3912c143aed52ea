#include "network/RateBucket.h"

#include <algorithm>

namespace GAME {

namespace {

// Milliseconds from `then` to `now`; 0 when the clock went back (a difference past half the range).
double Elapsed(uint32_t then, uint32_t now)
{
    const uint32_t elapsed = now - then;
    return elapsed > 0x7FFFFFFFu ? 0.0 : static_cast<double>(elapsed);
}

} // namespace

double RateBucket::Refill(double rate, double burst, uint32_t now)
{
    m_tokens = std::min(burst, m_tokens + rate * Elapsed(m_at, now) / 1000.0);
    m_at = now;
    return m_tokens;
}

bool RateBucket::Take(double rate, double burst, uint32_t now, double cost)
{
    if (Refill(rate, burst, now) < cost)
        return false;
    m_tokens -= cost;
    return true;
}

void RateBucket::Charge(double rate, double burst, uint32_t now, double cost, double floor)
{
    Refill(rate, burst, now);
    m_tokens = std::max(m_tokens - cost, floor);
}

bool RateBucket::IsFull(double rate, double burst, uint32_t now) const
{
    return m_tokens + rate * Elapsed(m_at, now) / 1000.0 >= burst;
}

} // namespace GAME
