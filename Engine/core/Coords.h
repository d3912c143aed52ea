// Rigid frame: three axes (rows, each an axis of the local frame in the parent frame) and an
// origin. A point p maps to p.x * xAxis + p.y * yAxis + p.z * zAxis + origin. A plain value.
#pragma once

#include "core/Vec3.h"

namespace GAME {

class Coords
{
public:
    Vec3 xAxis{1.0f, 0.0f, 0.0f};
    Vec3 yAxis{0.0f, 1.0f, 0.0f};
    Vec3 zAxis{0.0f, 0.0f, 1.0f};
    Vec3 origin{0.0f, 0.0f, 0.0f};

    constexpr Coords() = default;
    constexpr Coords(const Vec3& x, const Vec3& y, const Vec3& z, const Vec3& o) : xAxis(x), yAxis(y), zAxis(z), origin(o)
    {
    }

    constexpr Vec3 TransformVector(const Vec3& v) const { return xAxis * v.x + yAxis * v.y + zAxis * v.z; }
    constexpr Vec3 TransformPoint(const Vec3& p) const { return TransformVector(p) + origin; }
};

} // namespace GAME
