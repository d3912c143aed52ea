// Axis-aligned box: centre and half-extents (min = centre - extents, max = centre + extents).
// Default all zero. A plain value; safe from any thread.
#pragma once

#include "core/Ray.h"

#include <array>

namespace GAME {

class OBBox;

class ABBox
{
public:
    Vec3 center;
    Vec3 extents; // half-extents

    constexpr ABBox() = default;
    constexpr ABBox(const Vec3& center_, const Vec3& extents_) : center(center_), extents(extents_) {}

    static constexpr ABBox FromMinMax(const Vec3& lo, const Vec3& hi)
    {
        return ABBox((lo + hi) * 0.5f, (hi - lo) * 0.5f);
    }
    // The axis-aligned bounds of an oriented box, about its centre.
    static ABBox FromOBBox(const OBBox& box);

    constexpr Vec3 GetMin() const { return center - extents; }
    constexpr Vec3 GetMax() const { return center + extents; }
    constexpr bool operator==(const ABBox& o) const { return center == o.center && extents == o.extents; }
    constexpr bool operator!=(const ABBox& o) const { return !(*this == o); }

    // Points on the faces are contained.
    constexpr bool ContainsPoint(const Vec3& p) const
    {
        const Vec3 r = p - center;
        return -extents.x <= r.x && r.x <= extents.x && -extents.y <= r.y && r.y <= extents.y &&
               -extents.z <= r.z && r.z <= extents.z;
    }
    // The smallest box holding both.
    constexpr ABBox Union(const ABBox& other) const
    {
        return FromMinMax(Vec3::Min(GetMin(), other.GetMin()), Vec3::Max(GetMax(), other.GetMax()));
    }
    // Centre +- extents in the order (-x,-y,-z), (+x,-y,-z), (+x,-y,+z), (-x,-y,+z), then the same
    // four with +y; box drawing and the editor gizmos rely on this order.
    std::array<Vec3, 8> GetCorners() const;

    // Distance along the ray to where it enters the box: 0 when the origin is inside, gInfinity on
    // a miss.
    float GetIntersection(const Ray& ray) const;
};

} // namespace GAME
