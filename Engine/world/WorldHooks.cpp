#include "world/WorldHooks.h"

#include "core/MathUtil.h"
#include "core/Ray.h"
#include "core/WorldVec3.h"
#include "world/Entity.h"
#include "world/Level.h"
#include "world/Portal.h"
#include "world/Region.h"
#include "world/RegionId.h"
#include "world/World.h"

namespace GAME {

namespace {

// Installs the world's answers while the library is loaded.
struct LibraryWorldHooks
{
    LibraryWorldHooks() { hooks.Install(); }
    ~LibraryWorldHooks() { hooks.Remove(); }
    WorldHooks hooks;
};

LibraryWorldHooks g_libraryWorldHooks;

} // namespace

void WorldHooks::Install()
{
    RegionServices::Install(this);
    GraphicsWorldServices::Install(this);
}

void WorldHooks::Remove()
{
    if (RegionServices::Get() == this)
        RegionServices::Install(nullptr);
    if (GraphicsWorldServices::Get() == this)
        GraphicsWorldServices::Install(nullptr);
}

// ---- RegionServices ---------------------------------------------------------------------------

IntVec3 WorldHooks::GetOffsetFromWorld(const Region* region)
{
    return region ? region->GetOffsetFromWorld() : IntVec3();
}

Vec3 WorldHooks::GetOffsetDifference(const Region* from, const Region* to)
{
    return Region::GetOffsetDifference(from, to);
}

ABBox WorldHooks::GetBoundingBox(const Region* region)
{
    return region ? region->GetBoundingBox() : ABBox();
}

bool WorldHooks::PassPortal(Region*& region, const Ray& segment, Coords& frontToBack)
{
    if (!region)
        return false;
    float distance = 1.0f;
    const Portal* portal = region->TraceSegmentAgainstPortals(segment, distance, false);
    return portal && portal->GetFrontToBackCoords(frontToBack, region);
}

Region* WorldHooks::GetRegionContainingPoint(const Region* from, const Vec3& point)
{
    World* world = World::GetCurrent();
    return world ? world->GetRegionContainingPoint(from, point) : nullptr;
}

bool WorldHooks::FindPathMeshFloor(const WorldVec3& position, float range, WorldVec3& floor)
{
    Region* region = position.GetRegion();
    Level* level = region ? region->GuaranteedGetLevel(false) : nullptr;
    return level && level->GetPathMesh().FindFloorPosition(position, range, floor);
}

float WorldHooks::GetNearestFloorHeight(const WorldVec3& position)
{
    World* world = World::GetCurrent();
    return world ? world->GetNearestFloorHeight(position) : -gInfinity;
}

RegionServices::IdWords WorldHooks::GetRegionId(const Region* region)
{
    IdWords words{};
    if (region)
        for (int i = 0; i < 4; ++i)
            words[static_cast<size_t>(i)] = region->GetId().GetWord(i);
    return words;
}

bool WorldHooks::FindRegionById(const IdWords& id, Region*& region)
{
    World* world = World::GetCurrent();
    if (!world)
        return false;
    region = world->GetRegionById(RegionId(id[0], id[1], id[2], id[3]), false);
    return true;
}

// ---- GraphicsWorldServices --------------------------------------------------------------------

bool WorldHooks::SetEntityVisibility(Object* object, bool visible)
{
    if (!object || !object->GetClassInfo().IsA(Entity::GetStaticClassInfo()))
        return false;
    static_cast<Entity*>(object)->SetVisibility(visible);
    return true;
}

void WorldHooks::ReloadWorldGenerationData()
{
    if (World* world = World::GetCurrent())
        world->ReloadGenerationDependentData();
}

} // namespace GAME
