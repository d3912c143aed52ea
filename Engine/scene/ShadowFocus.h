// The geometry that focuses a directional shadow map on the part of space that can throw shadows
// into the camera's view. Convex volumes are lists of planes (GAME::Frustum) with inward normals:
// a point is inside when n.p + d >= 0 for every plane. Beside the two routines the map uses, the
// toolkit that works on such volumes as bodies of planes and polygons: shadow volumes of boxes
// along a direction and from a point, faces of boxes and of volumes as polygons. Polygons are
// wound counter-clockwise seen from the inside of their body, so the plane through their first
// three points faces inward as the body's planes do.
//
// Pure functions of their arguments and plain values; any thread (one thread per ConvexBody).
#pragma once

#include "core/Frustum.h"
#include "core/OBBox.h"
#include "core/Vec3.h"

#include <cstddef>
#include <vector>

namespace GAME {

// Half the side of the square that starts a face polygon of a volume (MakeStartPolygon); volumes
// are meant to lie within it.
constexpr float shadowFocusStartHalfSize = 5000.0f;
// How long the legs of a face added from an apex run (ConvexBody::AddFace).
constexpr float shadowFocusApexFaceLength = 1000.0f;

// A convex body held both as planes (inward normals) and as polygons (its faces, or parts of
// them).
class ConvexBody
{
public:
    ConvexBody() = default;

    const Frustum& GetPlanes() const { return m_planes; }
    void AddPlane(const Plane& plane) { m_planes.AddPlane(plane); }
    int GetNumPolygons() const { return static_cast<int>(m_polygons.size()); }
    const std::vector<Vec3>& GetPolygon(int index) const { return m_polygons[static_cast<size_t>(index)]; }
    const std::vector<std::vector<Vec3>>& GetPolygons() const { return m_polygons; }
    void ClearPolygons() { m_polygons.clear(); }

    // The part of the polygon inside every plane of the list is added; false (nothing added) when
    // fewer than three points of it are left.
    bool AddPolygon(std::vector<Vec3> polygon, const Frustum& planes);
    // The same, cut by the body's own planes.
    bool AddPolygon(std::vector<Vec3> polygon);
    // A face from the apex a through b and c: the plane through a, b and c joins the planes, and
    // the triangle a, a + 1000 unit(b - a), a + 1000 unit(c - a) joins the polygons.
    void AddFace(const Vec3& a, const Vec3& b, const Vec3& c);

private:
    Frustum m_planes;
    std::vector<std::vector<Vec3>> m_polygons;
};

// The volume of every point that can shade a point of the given volume along the light's
// direction of travel (unit): the planes facing the light stay, each followed by the planes
// through its edges with the planes facing away, running along the light. The result is open
// toward the light; the caller closes it.
Frustum ComputeCasterVolume(const Frustum& volume, const Vec3& lightDirection);

// The corner points of the convex volume, written to out (room for maxCount); the number
// written. Fewer than three planes give none; a corner where more than three planes meet may be
// written more than once. Points within 0.001 outside a plane still count as inside.
int ComputeVolumeCorners(Vec3* out, int maxCount, const Frustum& volume);

// The shadow of an axis-aligned box (centre, half-extents) along a direction, unbounded both ways
// along it: for every edge where a face toward the light (outward normal against the direction)
// meets one that is not, the plane through the edge and the edge moved along the direction. A
// direction of zero length gives no planes.
Frustum ComputeBoxShadowVolume(const Vec3& center, const Vec3& extents, const Vec3& direction);

// A square of +-5000 units in plane `index` of the list, laid out on the two axes other than the
// major axis of the plane's normal and wound to face along the normal: the polygon that, cut by
// the other planes, becomes that plane's face of the volume. Empty for an index outside the list
// or a plane without a normal.
std::vector<Vec3> MakeStartPolygon(const Frustum& planes, size_t index);

// Bodies of an oriented box (rigid, unit axes) and a point. Each face of the box is tested for
// facing the point; at every silhouette edge (a face toward the point beside one that is not) a
// face from the point through the edge is added (ConvexBody::AddFace), turned so that the box is
// inside. The hull then adds the box's faces that turn away from the point (planes and polygons):
// the body is the convex hull of the box and the point, which for a point inside the box is the
// box. The shadow adds the faces toward the point instead: the body is the box and what it hides
// from a point light there; a point inside the box adds nothing.
void AddBoxHullFromPoint(ConvexBody& body, const OBBox& box, const Vec3& point);
void AddBoxShadowFromPoint(ConvexBody& body, const OBBox& box, const Vec3& point);

// The six faces of the box (rigid, unit axes) as polygons cut by the planes; faces cut away
// entirely are left out. Only polygons are added. The number of faces added.
int AddBoxFaces(ConvexBody& body, const OBBox& box, const Frustum& planes);

} // namespace GAME
