#include "world/WorldRegionHooks.h"

#include "core/MathUtil.h"
#include "core/Ray.h"
#include "core/WorldVec3.h"
#include "world/Level.h"
#include "world/Portal.h"
#include "world/Region.h"
#include "world/World.h"

namespace GAME {

IntVec3 WorldRegionHooks::GetOffsetFromWorld(const Region* region)
{
    return region ? region->GetOffsetFromWorld() : IntVec3();
}

Vec3 WorldRegionHooks::GetOffsetDifference(const Region* from, const Region* to)
{
    return Region::GetOffsetDifference(from, to);
}

ABBox WorldRegionHooks::GetBoundingBox(const Region* region)
{
    return region ? region->GetBoundingBox() : ABBox();
}

bool WorldRegionHooks::PassPortal(Region*& region, const Ray& segment, Coords& frontToBack)
{
    if (!region)
        return false;
    float distance = 1.0f;
    const Portal* portal = region->TraceSegmentAgainstPortals(segment, distance, false);
    return portal && portal->GetFrontToBackCoords(frontToBack, region);
}

Region* WorldRegionHooks::GetRegionContainingPoint(const Region* from, const Vec3& point)
{
    World* world = World::GetCurrent();
    return world ? world->GetRegionContainingPoint(from, point) : nullptr;
}

bool WorldRegionHooks::FindPathMeshFloor(const WorldVec3& position, float range, WorldVec3& floor)
{
    Region* region = position.GetRegion();
    Level* level = region ? region->GetLevelUnlessBroken(false) : nullptr;
    return level && level->GetPathMesh().FindFloorPosition(position, range, floor);
}

float WorldRegionHooks::GetNearestFloorHeight(const WorldVec3& position)
{
    World* world = World::GetCurrent();
    return world ? world->GetNearestFloorHeight(position) : -gInfinity;
}

RegionServices::IdWords WorldRegionHooks::GetRegionId(const Region* region)
{
    IdWords words{};
    if (region)
        for (int i = 0; i < 4; ++i)
            words[static_cast<size_t>(i)] = region->GetId().GetWord(i);
    return words;
}

bool WorldRegionHooks::FindRegionById(const IdWords& id, Region*& region)
{
    World* world = World::GetCurrent();
    if (!world)
        return false;
    region = world->GetRegionById(RegionId(id[0], id[1], id[2], id[3]), false);
    return true;
}

} // namespace GAME
