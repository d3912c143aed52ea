// What the region-relative values of core (WorldVec3, WorldFrustum) need of the world's regions,
// which live higher up: a region's offset and box, the portal a move passes through, the region of
// the current world that holds a point, the floor under a position, and region ids as four words.
// Graphics and navigation ask it for offsets and boxes too, so none of them includes the world.
//
// The world implements this interface and installs it for as long as the library is loaded
// (world/WorldHooks.cpp): regions exist without an engine (tools, tests that build a world by
// hand), so it is not the engine's to install. Without an implementation (never the case inside
// the library) regions have a zero offset and an empty box, no portal is passed, no region holds a
// point, there is no floor and no region is found by id.
//
// Threads: Install while nothing else runs; the calls follow the world's threading rules (main
// thread), like the region-relative values that make them.
#pragma once

#include "core/ABBox.h"
#include "core/Coords.h"
#include "core/IntVec3.h"
#include "core/Vec3.h"

#include <array>
#include <cstdint>

namespace GAME {

class Coords;
class Ray;
class Region;
class WorldVec3;

class RegionServices
{
public:
    // A region id's four words, word 0 first; all zero for none.
    using IdWords = std::array<uint32_t, 4>;

    virtual ~RegionServices() = default;

    // ---- Space ----
    virtual IntVec3 GetOffsetFromWorld(const Region* region) = 0;
    // from's offset minus to's (zero for a null region), exact in 64 bits before it becomes float.
    virtual Vec3 GetOffsetDifference(const Region* from, const Region* to) = 0;
    virtual ABBox GetBoundingBox(const Region* region) = 0;

    // ---- Moving ----
    // The portal of the region that the segment (origin, then the whole direction) crosses first,
    // from its front only: true when that portal leads on, with the frame from its front to the
    // back of the portal it is joined to and region set to that portal's region.
    virtual bool PassPortal(Region*& region, const Ray& segment, Coords& frontToBack) = 0;
    // The current world's region whose box strictly holds the point (in from's space); null
    // without a current world.
    virtual Region* GetRegionContainingPoint(const Region* from, const Vec3& point) = 0;
    // The floor on the path mesh of the position's level (loaded if need be) within range above or
    // below; false when there is none.
    virtual bool FindPathMeshFloor(const WorldVec3& position, float range, WorldVec3& floor) = 0;
    // The current world's nearest floor height at the position; not finite when there is none or
    // no current world.
    virtual float GetNearestFloorHeight(const WorldVec3& position) = 0;

    // ---- Ids ----
    virtual IdWords GetRegionId(const Region* region) = 0;
    // False when there is no current world to look in; otherwise region is its region of that id
    // (null when it has none).
    virtual bool FindRegionById(const IdWords& id, Region*& region) = 0;

    // Installs the one implementation (null removes it).
    static void Install(RegionServices* services);
    static RegionServices* Get();

    // Shorthands that stand in for a missing implementation.
    static IntVec3 OffsetFromWorld(const Region* region);
    static Vec3 OffsetDifference(const Region* from, const Region* to);
    static ABBox BoundingBox(const Region* region);
    // A translation by (region's offset - other's offset), taking positions in the region's space
    // into the other's (identity when other is null), and a position carried into the region's
    // space ((0, 0, 0) when it has no region): regions differ by translation only. Region and the
    // scene renderers both use these.
    static Coords RelativeTransformation(const Region* region, const Region* other);
    static Vec3 RelativePosition(const Region* region, const WorldVec3& position);
};

} // namespace GAME
