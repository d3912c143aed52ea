// Thread-safe uniform random generator: the multiplicative congruential generator with
// multiplier 16807 and modulus 2^31 - 1 (product wrapped to 32 bits first). Each call holds the
// generator's lock, so one generator may be shared between threads.
#pragma once

#include "core/CriticalSection.h"

#include <cstdint>

namespace GAME {

class RandomUniformLocked
{
public:
    RandomUniformLocked() = default;
    explicit RandomUniformLocked(unsigned long seed) { Seed(seed); }
    virtual ~RandomUniformLocked() = default;

    virtual void Seed(unsigned long seed);
    // low + (high - low) * u + 0.5, truncated: high itself can come up.
    virtual int IGenerate(int low, int high);
    virtual float FGenerate(float low, float high);

    uint32_t GetState() const { return m_state; }

private:
    double Draw();

    uint32_t m_state = 16807;
    CriticalSection m_lock;
};

} // namespace GAME
