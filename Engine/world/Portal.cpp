#include "world/Portal.h"

#include "core/Frustum.h"
#include "core/Intersect.h"
#include "core/MathUtil.h"
#include "core/Ray.h"
#include "graphics/WorldPrimitiveDrawer.h"
#include "navigation/PathFinder.h"
#include "world/Region.h"
#include "world/World.h"

namespace GAME {

Portal::~Portal()
{
    // A path finder already shut down is not made again just to be told.
    if (PathFinder::HasInstantiated())
        PathFinder::Get()->RemovePortal(this);
}

void Portal::SetCoords(const Coords& coords)
{
    PathFinder* finder = PathFinder::Get();
    finder->RemovePortal(this);
    m_coords = coords;
    m_regionBox = TransformABBox(m_coords, m_localBox);
    finder->AddPortal(this);
}

void Portal::Render(WorldPrimitiveDrawer& drawer, const Coords& frame) const
{
    if (m_triangles.empty())
        return;
    const Coords placed = frame * m_coords;
    drawer.Begin(WorldPrimitiveDrawer::PRIMITIVE_TRIANGLE_LIST);
    for (const Triangle& t : m_triangles) {
        drawer.SetVertex(placed.TransformPoint(t.corners[2]));
        drawer.SetVertex(placed.TransformPoint(t.corners[1]));
        drawer.SetVertex(placed.TransformPoint(t.corners[0]));
    }
    drawer.End();
}

void Portal::SetTriangles(const std::vector<Triangle>& triangles)
{
    m_triangles = triangles;
    Vec3 lo(gInfinity, gInfinity, gInfinity);
    Vec3 hi(-gInfinity, -gInfinity, -gInfinity);
    for (const Triangle& triangle : m_triangles) {
        for (const Vec3& corner : triangle.corners) {
            lo = Vec3::Min(lo, corner);
            hi = Vec3::Max(hi, corner);
        }
    }
    if (m_triangles.empty())
        lo = hi = Vec3(); // keeps the box finite
    m_localBox = ABBox((lo + hi) * 0.5f, (hi - lo) * 0.5f + Vec3(0.1f, 0.1f, 0.1f));
    m_regionBox = TransformABBox(m_coords, m_localBox);
    const Vec3& c = m_localBox.center;
    m_localChoke = Coords::Translation(Vec3(c.x, c.y - m_localBox.extents.y, c.z));
}

Region* Portal::GetConnectedRegion() const
{
    World* world = m_region && m_region->GetWorld() ? m_region->GetWorld() : World::GetCurrent();
    return world ? world->GetRegionById(m_connectedRegionId, true) : nullptr;
}

Portal* Portal::GetConnectedPortal() const
{
    Region* region = GetConnectedRegion();
    if (!region)
        return nullptr;
    // Regions keep their portals across level unloads, so a portal already known needs no load:
    // the frame walk then passes portals without stalling on the level behind them.
    if (Portal* portal = region->GetPortal(m_connectedPortalId))
        return portal;
    region->GetLevelUnlessBroken(false);
    return region->GetPortal(m_connectedPortalId);
}

bool Portal::GetFrontToBackCoords(Coords& out, Region*& other) const
{
    const Portal* q = GetConnectedPortal();
    if (!q)
        return false;
    out = q->m_coords * q->m_localChoke * m_localChoke.Inverse() * m_coords.Inverse();
    other = q->m_region;
    return true;
}

bool Portal::GetBackToFrontCoords(Coords& out, Region*& other) const
{
    const Portal* q = GetConnectedPortal();
    if (!q)
        return false;
    out = m_coords * m_localChoke * q->m_localChoke.Inverse() * q->m_coords.Inverse();
    other = q->m_region;
    return true;
}

WorldCoords Portal::GetChokePoint() const
{
    return WorldCoords(m_region, m_coords * m_localChoke);
}

bool Portal::TestIntersection(const Frustum& frustum) const
{
    return OBBoxInFrustum(m_regionBox, frustum);
}

Plane Portal::GetPlane() const
{
    if (m_triangles.empty())
        return Plane();
    const Triangle& t = m_triangles.front();
    return TransformPlane(m_coords, Plane(t.corners[0], t.corners[1], t.corners[2]));
}

bool Portal::IsFrontFacing(const Vec3& point) const
{
    return GetPlane().GetDistance(point) > 0.0f;
}

float Portal::GetIntersection(const Ray& ray, bool bothSides) const
{
    if (m_triangles.empty() || m_regionBox.IntersectRay(ray) == gInfinity)
        return gInfinity;
    if (!bothSides && !IsFrontFacing(ray.origin))
        return gInfinity;
    const Coords toLocal = m_coords.Inverse();
    const Vec3 origin = toLocal.TransformPoint(ray.origin);
    const Vec3 direction = toLocal.TransformVector(ray.direction);
    float nearest = gInfinity;
    for (const Triangle& t : m_triangles) {
        Vec3 point;
        const float d =
            IntersectRayTriangle(origin, direction, t.corners[0], t.corners[1], t.corners[2], point);
        nearest = Min(d, nearest);
    }
    return nearest;
}

} // namespace GAME
