// The random draws of the water: foam phases and wave bands of wave sets, and the size and place
// jitter of ripples. One process-wide generator (the engine's uniform generator, drawing whole
// numbers 0 ... 32767 as the water's formulas expect), seeded for repeatable tests. Any thread.
#pragma once

namespace GAME {

class WaterRandom
{
public:
    static constexpr int maxValue = 32767;

    // A draw of 0 ... 32767 divided by 32767.
    static float Fraction();
    // A value in [low, high].
    static float Between(float low, float high) { return low + (high - low) * Fraction(); }
    static void Seed(unsigned long seed);
};

} // namespace GAME
