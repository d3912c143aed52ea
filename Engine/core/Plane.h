// Plane: unit normal and d, signed distance of p = dot(normal, p) + d; a point is in front (inside)
// when the distance is >= 0. A plain value; safe from any thread.
#pragma once

#include "core/Coords.h"
#include "core/Ray.h"

namespace GAME {

class Plane
{
public:
    Vec3 normal;
    float d = 0.0f;

    constexpr Plane() = default;
    constexpr Plane(const Vec3& normal_, float d_) : normal(normal_), d(d_) {}
    // Through a point, with the normal as given.
    constexpr Plane(const Vec3& normal_, const Vec3& point) : normal(normal_), d(-Vec3::Dot(normal_, point))
    {
    }
    // Through three points; the normal is unit((b - a) x (c - a)), so a, b, c run counter-clockwise
    // seen from the front.
    Plane(const Vec3& a, const Vec3& b, const Vec3& c)
        : normal(Vec3::Cross(b - a, c - a).Unit()), d(-Vec3::Dot(normal, a))
    {
    }

    constexpr float GetDistance(const Vec3& p) const { return Vec3::Dot(normal, p) + d; }
    constexpr bool operator==(const Plane& o) const { return normal == o.normal && d == o.d; }
    constexpr bool operator!=(const Plane& o) const { return !(*this == o); }

    // Distance along the ray to the plane; gInfinity when the ray is parallel to it or the plane
    // lies behind the origin.
    float IntersectRay(const Ray& ray) const
    {
        const float den = Vec3::Dot(normal, ray.direction);
        if (den == 0.0f)
            return gInfinity;
        const float t = -(Vec3::Dot(normal, ray.origin) + d) / den;
        return t < 0.0f ? gInfinity : t;
    }
};

// The plane carried by a rigid frame: distances of transformed points equal those of the
// originals.
constexpr Plane TransformPlane(const Coords& coords, const Plane& plane)
{
    return Plane(coords.TransformVector(plane.normal),
                 Vec3::Dot(plane.normal, coords.Inverse().origin) + plane.d);
}

} // namespace GAME
