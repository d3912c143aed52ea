#include "terrain/WaterRandom.h"

#include "core/RandomUniformLocked.h"

namespace GAME {

namespace {

RandomUniformLocked& Generator()
{
    static RandomUniformLocked generator;
    return generator;
}

} // namespace

float WaterRandom::Fraction()
{
    return static_cast<float>(Generator().IGenerate(0, maxValue)) / static_cast<float>(maxValue);
}

void WaterRandom::Seed(unsigned long seed)
{
    Generator().Seed(seed);
}

} // namespace GAME
