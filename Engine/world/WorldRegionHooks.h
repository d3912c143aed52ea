// The world's answers to core's RegionServices: a region's offset, box and id, the portal a move
// passes through, the current world's region that holds a point or has an id, and the floor under a
// position (on its level's path mesh, or the nearest the current world's rays find). WorldHooks
// installs it.
//
// Threads: main thread, like the regions and the world it reads.
#pragma once

#include "core/RegionServices.h"

namespace GAME {

class WorldRegionHooks final : public RegionServices
{
public:
    IntVec3 GetOffsetFromWorld(const Region* region) override;
    Vec3 GetOffsetDifference(const Region* from, const Region* to) override;
    ABBox GetBoundingBox(const Region* region) override;
    bool PassPortal(Region*& region, const Ray& segment, Coords& frontToBack) override;
    Region* GetRegionContainingPoint(const Region* from, const Vec3& point) override;
    bool FindPathMeshFloor(const WorldVec3& position, float range, WorldVec3& floor) override;
    float GetNearestFloorHeight(const WorldVec3& position) override;
    IdWords GetRegionId(const Region* region) override;
    bool FindRegionById(const IdWords& id, Region*& region) override;
};

} // namespace GAME
