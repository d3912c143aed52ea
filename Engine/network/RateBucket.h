// A token bucket: tokens come back at a rate (a second's worth is `rate`) up to `burst`, and each
// thing limited takes one or more of them. It keeps only its tokens and the time it was last
// looked at, in milliseconds of whichever clock its owner reads (the socket's monotonic clock,
// the session's machine time), so that thousands of them (one per address) stay small; the
// owner passes its rate and burst each time. A clock that goes back refills nothing. A plain
// value: whoever owns it guards it.
#pragma once

#include <cstdint>

namespace GAME {

class RateBucket
{
public:
    RateBucket() = default;
    RateBucket(double tokens, uint32_t now) : m_tokens(tokens), m_at(now) {}

    // The tokens there are now, refilled for the time since the bucket was last looked at.
    double Refill(double rate, double burst, uint32_t now);
    // Takes `cost` tokens when there are that many now; false (nothing taken) otherwise.
    bool Take(double rate, double burst, uint32_t now, double cost = 1.0);
    // Takes `cost` tokens whether there are or not, down to `floor` at most.
    void Charge(double rate, double burst, uint32_t now, double cost, double floor);
    // Full again once `burst` tokens would be there (a bucket its owner may forget).
    bool IsFull(double rate, double burst, uint32_t now) const;
    double GetTokens() const { return m_tokens; }

private:
    double m_tokens = 0.0;
    uint32_t m_at = 0;
};

} // namespace GAME
