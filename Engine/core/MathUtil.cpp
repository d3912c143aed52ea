#include "core/MathUtil.h"

#include <bit>

namespace GAME {

float WrapValue(float v, float lo, float hi)
{
    const float range = hi - lo;
    if (v < lo)
        v = std::floor((hi - v) / range) * range + v;
    if (v >= hi)
        v = v - std::floor((v - lo) / range) * range;
    return v;
}

uint32_t NextPowerOfTwo(uint32_t x)
{
    if (x == 0)
        return 0;
    if (std::popcount(x) == 1)
        return x;
    const int significantBits = std::bit_width(x);
    // 2^32 does not fit: the answer wraps to 0 as a 32-bit shift would.
    return significantBits >= 32 ? 0u : (1u << significantBits);
}

} // namespace GAME
