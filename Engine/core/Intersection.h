// Result record of ray queries: distance (gInfinity when nothing was hit), hit point, and a
// 32-bit value set by the geometry that answered (a surface kind, an index). Copied whole.
#pragma once

#include "core/Vec3.h"

#include <cstdint>

namespace GAME {

class Intersection
{
public:
    float distance = gInfinity;
    Vec3 point;
    uint32_t surface = 0;

    constexpr Intersection() = default;
    constexpr Intersection(float distance_, const Vec3& point_, uint32_t surface_)
        : distance(distance_), point(point_), surface(surface_)
    {
    }

    constexpr bool IsHit() const { return distance != gInfinity; }
};

} // namespace GAME
