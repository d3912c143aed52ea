// Ray: origin and direction; the point at t is origin + direction * t, so distances along it
// are in units of the direction's length. A plain value; safe from any thread.
#pragma once

#include "core/Vec3.h"

namespace GAME {

class Ray
{
public:
    Vec3 origin;
    Vec3 direction;

    constexpr Ray() = default;
    constexpr Ray(const Vec3& origin_, const Vec3& direction_) : origin(origin_), direction(direction_) {}

    constexpr Vec3 GetPoint(float t) const { return origin + direction * t; }
};

} // namespace GAME
