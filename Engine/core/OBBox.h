// Oriented box: half-extents along the axes of a frame whose origin is the box centre.
// A plain value; safe from any thread.
#pragma once

#include "core/ABBox.h"
#include "core/Coords.h"

namespace GAME {

class OBBox
{
public:
    Vec3 extents; // half-extents along coords' axes
    Coords coords;

    constexpr OBBox() = default;
    constexpr OBBox(const Vec3& extents_, const Coords& coords_) : extents(extents_), coords(coords_) {}
    // The same box with identity axes.
    constexpr explicit OBBox(const ABBox& box) : extents(box.extents), coords(Coords::Translation(box.center))
    {
    }

    constexpr const Vec3& GetCenter() const { return coords.origin; }
    constexpr bool operator==(const OBBox& o) const { return extents == o.extents && coords == o.coords; }
    constexpr bool operator!=(const OBBox& o) const { return !(*this == o); }

    // In the order of ABBox::GetCorners, signs taken on the box's own axes.
    std::array<Vec3, 8> GetCorners() const;

    // Distance along the ray to where it enters the box (axes assumed unit): 0 when the origin is
    // inside, gInfinity on a miss. Axes within 0.0001 of parallel to the ray count as parallel.
    float IntersectRay(const Ray& ray) const;
};

// The box placed by a frame: its extents, the frame's axes, the frame applied to its centre.
constexpr OBBox TransformABBox(const Coords& coords, const ABBox& box)
{
    return OBBox(box.extents,
                 Coords(coords.xAxis, coords.yAxis, coords.zAxis, coords.TransformPoint(box.center)));
}
constexpr OBBox TransformOBBox(const Coords& coords, const OBBox& box)
{
    return OBBox(box.extents, coords * box.coords);
}

} // namespace GAME
