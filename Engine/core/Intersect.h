// Geometric tests between the bounding volumes: ray casts and sphere sweeps (gInfinity on a miss,
// never negative), nearest points, overlap and frustum culling, polygon clipping, 2-D lines,
// circles, a cubic Bezier and the 2-D convex hull. Touching counts as overlapping unless said
// otherwise. Degenerate input (zero-length normals or directions, coincident circle centres)
// gives non-finite results that callers must not rely on. Pure functions; safe from any thread.
// The culling tests allocate nothing; only the clipping tests (exact frustum tests) do.
#pragma once

#include "core/ABBox.h"
#include "core/Frustum.h"
#include "core/OBBox.h"
#include "core/Plane.h"
#include "core/Ray.h"
#include "core/Sphere.h"
#include "core/Vec2.h"
#include "core/Vec3.h"

#include <cmath>
#include <vector>

namespace GAME {

// ---- Rays and sweeps ------------------------------------------------------------------------

// The line where two planes meet: a point on both and the direction nA x nB (not normalised).
// False when the normals are parallel (exactly).
bool IntersectPlanes(const Plane& a, const Plane& b, Ray& line);

// Distance in units of direction to the plane, writing the hit point. An origin on the plane
// (within a relative 1e-7) hits at 0, even for a ray lying in the plane.
float IntersectRayPlane(const Vec3& origin, const Vec3& direction, const Plane& plane, Vec3& point);

// Any direction length; the distance is in units of direction. An origin inside the sphere (or on
// it, heading out) gives 0 and leaves point unwritten.
float IntersectRaySphere(const Vec3& origin, const Vec3& direction, const Sphere& sphere, Vec3& point);

// Hits on the edges count; works for either winding.
float IntersectRayTriangle(const Vec3& origin, const Vec3& direction, const Vec3& a, const Vec3& b,
                           const Vec3& c, Vec3& point);

// How far the sphere moves along direction before touching the plane from the front, and where
// it touches; 0 (with point the nearest point of the plane) when it already touches.
float SweepSpherePlane(const Sphere& sphere, const Vec3& direction, const Plane& plane, Vec3& point);

// The same against a triangle; point is where the sphere first touches it.
float SweepSphereTriangle(const Sphere& sphere, const Vec3& direction, const Vec3& a, const Vec3& b,
                          const Vec3& c, Vec3& point);

// ---- Nearest points -------------------------------------------------------------------------

Vec3 ClosestPointOnSegment(const Vec3& a, const Vec3& b, const Vec3& p);
Vec2 ClosestPointOnSegment(const Vec2& a, const Vec2& b, const Vec2& p);

// The nearest point of the edges ab, bc, ca; returns its squared distance. On equal distances
// the later edge wins.
float ClosestPointOnTriangleEdges(const Vec3& a, const Vec3& b, const Vec3& c, const Vec3& p, Vec3& point);

// p (assumed in the triangle's plane) inside the triangle or on its edges, tested in the two
// coordinates left when the normal's major axis is dropped.
bool PointInTriangle(const Vec3& a, const Vec3& b, const Vec3& c, const Vec3& normal, const Vec3& p);

// The unit direction after bouncing off the sphere of the given centre at point + direction * t.
Vec3 ReflectOffSphere(const Vec3& point, const Vec3& direction, float t, const Vec3& center);

// ---- Overlap and containment ----------------------------------------------------------------

inline bool ABBoxesOverlap(const ABBox& a, const ABBox& b)
{
    return std::fabs(a.center.x - b.center.x) <= a.extents.x + b.extents.x &&
           std::fabs(a.center.y - b.center.y) <= a.extents.y + b.extents.y &&
           std::fabs(a.center.z - b.center.z) <= a.extents.z + b.extents.z;
}
// ABBoxesOverlap on x and z only.
inline bool BoxesOverlapXZ(const Vec3& center, const Vec3& half, const ABBox& box)
{
    return std::fabs(center.x - box.center.x) <= half.x + box.extents.x &&
           std::fabs(center.z - box.center.z) <= half.z + box.extents.z;
}
// Box a lies within box b on x and z (y is not looked at).
inline bool IsBoxInsideXZ(const Vec3& centerA, const Vec3& halfA, const Vec3& centerB, const Vec3& halfB)
{
    return centerB.x - halfB.x <= centerA.x - halfA.x && centerA.x + halfA.x <= centerB.x + halfB.x &&
           centerB.z - halfB.z <= centerA.z - halfA.z && centerA.z + halfA.z <= centerB.z + halfB.z;
}
// Squared distance from the sphere's centre to the box at most radius squared.
bool ABBoxIntersectsSphere(const ABBox& box, const Sphere& sphere);
// Separating-axis test (15 axes) with a small tolerance for nearly parallel edges.
bool ABBoxIntersectsOBBox(const ABBox& abbox, const OBBox& obbox);

// The sphere meets the cone of the given apex, unit axis and half-angle (radians).
bool SphereInCone(const Vec3& apex, const Vec3& axis, float angle, const Vec3& center, float radius);

// ---- Frustum culling ------------------------------------------------------------------------
// A frustum without planes contains nothing.

inline bool SphereInFrustum(const Sphere& sphere, const Frustum& frustum)
{
    return frustum.IntersectsSphere(sphere, 0.0f);
}
// Conservative: for each plane the box corner furthest along the normal must not be behind it,
// so boxes just outside a corner of the frustum may pass.
bool ABBoxInFrustum(const ABBox& box, const Frustum& frustum);
// The same with the planes carried into the box's frame.
bool OBBoxInFrustum(const OBBox& box, const Frustum& frustum);
// Exact: a face of the box survives clipping by every plane.
bool ABBoxInFrustumExact(const ABBox& box, const Frustum& frustum);
bool OBBoxInFrustumExact(const OBBox& box, const Frustum& frustum);
// Something of the polygon survives clipping by every plane.
bool PolygonInFrustum(const std::vector<Vec3>& polygon, const Frustum& frustum);

// Keeps the part of the polygon in front of the plane, inserting the crossing points, in place.
// Fewer than three points left empties it. Points exactly on the plane next to one behind it are
// kept twice; the polygon grows as needed, so any number of planes can be applied.
void ClipPolygonByPlane(std::vector<Vec3>& polygon, const Plane& plane);

// ---- Two dimensions -------------------------------------------------------------------------

enum LineIntersectionKind
{
    LINES_PARALLEL = 0,
    LINES_CROSS = 1,
    LINES_SAME = 2,
};

// Lines p0 + s d0 and p1 + t d1. Writes delta = p1 - p0 and |d0|^2, then the kind; when the lines
// cross (true) also s and t with p0 + s d0 = p1 + t d1. True also for the same line, false for
// parallel lines.
bool IntersectLines2D(const Vec2& p0, const Vec2& d0, const Vec2& p1, const Vec2& d1, Vec2& delta,
                      float& d0LengthSquared, int& kind, float& s, float& t);
// Segments a0-a1 and b0-b1 cross (ends included); segments sharing an end point, overlapping or
// parallel segments do not.
bool SegmentsIntersect2D(const Vec2& a0, const Vec2& a1, const Vec2& b0, const Vec2& b1);
// The same, writing the parameters along each segment whenever their lines cross.
bool IntersectSegments2D(const Vec2& a0, const Vec2& a1, const Vec2& b0, const Vec2& b1, float& s, float& t);
// The two points where the circles meet (p = q when they touch); false when they do not meet or
// one lies inside the other.
bool IntersectCircles2D(const Vec2& c0, float r0, const Vec2& c1, float r1, Vec2& p, Vec2& q);
Vec2 BezierPoint2D(const Vec2& p0, const Vec2& p1, const Vec2& p2, const Vec2& p3, float t);
inline Vec2 BezierPoint2D(const Vec2 points[4], float t)
{
    return BezierPoint2D(points[0], points[1], points[2], points[3], t);
}

// Quickhull. The hull runs from the first vertex after the leftmost point over the upper side to
// the rightmost point and back to the leftmost; points on hull edges are left out. Collinear
// points (or one point) give the rightmost and the leftmost; no points give an empty hull.
void ComputeConvexHull2D(const std::vector<Vec2>& points, std::vector<Vec2>& hull);
// Appends the hull vertices of the points strictly left of a -> b, then b. Works with its own
// stack, so the depth does not depend on the input.
void QuickHullStep(const std::vector<Vec2>& points, const Vec2& a, const Vec2& b, std::vector<Vec2>& hull);

} // namespace GAME
