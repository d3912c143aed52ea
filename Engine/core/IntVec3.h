// Integer 3-vector: region offsets and grid positions. A plain value. Safe from any thread.
#pragma once

#include <cstdint>

namespace GAME {

class IntVec3
{
public:
    int32_t x = 0;
    int32_t y = 0;
    int32_t z = 0;

    constexpr IntVec3() = default;
    constexpr IntVec3(int32_t x_, int32_t y_, int32_t z_) : x(x_), y(y_), z(z_) {}

    constexpr bool operator==(const IntVec3& o) const { return x == o.x && y == o.y && z == o.z; }
    constexpr bool operator!=(const IntVec3& o) const { return !(*this == o); }
};

} // namespace GAME
