// Two pieces of the contact generation between an oriented box and a triangle of a collision mesh:
// a separating-axis test that also finds the axis of least penetration, and the clipping of a
// small convex polygon (a box face cut against the triangle) by a plane. Pure functions, safe from
// any thread.
#pragma once

#include "core/OBBox.h"
#include "core/Plane.h"
#include "core/Vec3.h"

#include <cstdint>

namespace GAME {

// A convex polygon of at most 16 points. Clipping never lets it grow past that.
struct ClipPolygon
{
    static constexpr int32_t kMaxPoints = 16;
    Vec3 points[kMaxPoints];
    int32_t count = 0;
};

// Smallest and largest of dot(axis, corner) over the three corners.
void ProjectTriangleOnAxis(const Vec3& axis, const Vec3 triangle[3], float& min, float& max);
// The box's centre projection plus and minus its projected radius (box axes assumed unit).
void ProjectOBBoxOnAxis(const Vec3& axis, const OBBox& box, float& min, float& max);

// False when some axis separates the triangle from the box: its normal, the box axes, or the
// cross products of its edges with the box axes. Otherwise true with the smallest penetration
// depth and its axis, which always points along the triangle's normal side; moving the box by
// axis * depth makes it touch. A triangle without area (or non-finite input) touches nothing.
bool TestTriangleOBBoxSeparation(const Vec3 triangle[3], const OBBox& box, float& depth, Vec3& axis);

// Keeps the part of the polygon in front of the plane (with a tolerance that grows with the
// plane's distance from the origin), in place: the run of points in front with the two crossing
// points at its ends. A result that would exceed 16 points drops its flattest corner instead.
void ClipConvexPolygonByPlane(const Plane& plane, ClipPolygon& polygon);

} // namespace GAME
