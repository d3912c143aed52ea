// Integer 3-vector: region offsets and grid positions, laid out like Vec3 (three 32-bit words).
// A plain value. Safe from any thread.
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

    // Component-wise, wrapping on overflow like the 32-bit arithmetic of the stored offsets.
    constexpr IntVec3 operator+(const IntVec3& o) const
    {
        return IntVec3(Wrap(x, o.x, 1), Wrap(y, o.y, 1), Wrap(z, o.z, 1));
    }
    constexpr IntVec3 operator-(const IntVec3& o) const
    {
        return IntVec3(Wrap(x, o.x, -1), Wrap(y, o.y, -1), Wrap(z, o.z, -1));
    }
    constexpr IntVec3 operator-() const { return IntVec3(0, 0, 0) - *this; }

private:
    static constexpr int32_t Wrap(int32_t a, int32_t b, int sign)
    {
        const uint32_t ua = static_cast<uint32_t>(a);
        const uint32_t ub = static_cast<uint32_t>(b);
        return static_cast<int32_t>(sign > 0 ? ua + ub : ua - ub);
    }
};

} // namespace GAME
