// A polygon of triangles in one region that leads to a portal of another region, named by the
// region's and the portal's ids. Passing through a connected pair lines up their choke point
// frames, mapping one region's space onto the other's. The world walks through portals to decide
// what to load and update, and its queries cross them. Every placement is told to the path finder,
// and the portal leaves it when destroyed. Owned by its region. Main thread.
#pragma once

#include "core/ABBox.h"
#include "core/Coords.h"
#include "core/OBBox.h"
#include "core/Plane.h"
#include "core/UniqueId.h"
#include "core/WorldCoords.h"
#include "data/RegionId.h"
#include "world/Triangle.h"

#include <vector>

namespace GAME {

class Frustum;
class Ray;
class Region;
class WorldPrimitiveDrawer;

class Portal
{
public:
    // Identity frame and choke point, empty box, no triangles, no region, empty ids.
    Portal() = default;
    // Leaves the path finder.
    virtual ~Portal();
    Portal(const Portal&) = delete;
    Portal& operator=(const Portal&) = delete;

    void SetId(const UniqueId& id) { m_id = id; }
    const UniqueId& GetId() const { return m_id; }
    void SetRegion(Region* region) { m_region = region; }
    Region* GetRegion() const { return m_region; }
    const Coords& GetCoords() const { return m_coords; }
    // Places the portal in its region; the region box follows and the path finder is told.
    void SetCoords(const Coords& coords);
    const OBBox& GetRegionBoundingBox() const { return m_regionBox; }
    const ABBox& GetLocalBoundingBox() const { return m_localBox; }
    void SetLocalChokePoint(const Coords& choke) { m_localChoke = choke; }
    const Coords& GetLocalChokePoint() const { return m_localChoke; }
    const RegionId& GetConnectedRegionId() const { return m_connectedRegionId; }
    void SetConnectedRegionId(const RegionId& id) { m_connectedRegionId = id; }
    const UniqueId& GetConnectedPortalId() const { return m_connectedPortalId; }
    void SetConnectedPortalId(const UniqueId& id) { m_connectedPortalId = id; }

    // Copies the triangles (in the portal's own frame), bounds them with 0.1 to spare on every
    // side and puts the choke point at the bottom centre of those bounds.
    void SetTriangles(const std::vector<Triangle>& triangles);
    const std::vector<Triangle>& GetTriangles() const { return m_triangles; }

    // The region behind the portal in its region's world (the engine's world for a portal without
    // region), loaded regions searched first; null when none.
    Region* GetConnectedRegion() const;
    // The portal of that region with the connected portal id. A region's portals come with its
    // level: when the region does not hold the portal yet, its level is forced in first, unless
    // it failed to load (Region::GetLevelUnlessBroken): null then.
    Portal* GetConnectedPortal() const;
    // This region's space into the connected region's space (front to back) or the reverse; other
    // becomes the connected region. False, with out and other untouched, when the connected region
    // or portal cannot be found.
    bool GetFrontToBackCoords(Coords& out, Region*& other) const;
    bool GetBackToFrontCoords(Coords& out, Region*& other) const;
    // The choke point placed in the portal's region.
    WorldCoords GetChokePoint() const;

    bool TestIntersection(const Frustum& frustum) const;
    // The plane of the first triangle, placed by the portal's frame; a zero plane without
    // triangles.
    Plane GetPlane() const;
    // Strictly on the positive side of GetPlane.
    bool IsFrontFacing(const Vec3& point) const;
    // Distance along the ray (units of its direction) to the nearest triangle; gInfinity when the
    // ray misses the region box, or comes from behind while bothSides is false.
    float GetIntersection(const Ray& ray, bool bothSides) const;
    // Every triangle as one triangle-list batch, each corner carried by frame x the portal's
    // coordinates and sent third, second, first.
    void Render(WorldPrimitiveDrawer& drawer, const Coords& frame) const;

private:
    UniqueId m_id;
    ABBox m_localBox;
    OBBox m_regionBox;
    std::vector<Triangle> m_triangles;
    Coords m_localChoke;
    Region* m_region = nullptr;
    Coords m_coords;
    RegionId m_connectedRegionId;
    UniqueId m_connectedPortalId;
};

} // namespace GAME
