// Sphere: centre and radius. A plain value; safe from any thread.
#pragma once

#include "core/Ray.h"

namespace GAME {

class Sphere
{
public:
    Vec3 center;
    float radius = 0.0f;

    constexpr Sphere() = default;
    constexpr Sphere(const Vec3& center_, float radius_) : center(center_), radius(radius_) {}

    // Distance along a ray with a unit direction to where it enters the sphere: 0 when the origin
    // is inside, gInfinity on a miss. An origin exactly on the surface answers the far crossing.
    float IntersectRay(const Ray& ray) const;
};

} // namespace GAME
