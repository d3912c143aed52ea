// The world's answers to the layers below it about its own objects: regions for core's
// region-relative values (RegionServices), and entity visibility and the current world's
// generation-dependent data for graphics (GraphicsWorldServices). Regions, levels and entities exist without
// an engine (tools, tests that build a world by hand), so these answers are not the engine's: one WorldHooks,
// made when the library is loaded, installs them then and removes them when the library goes away
// (WorldHooks.cpp). What the lower layers need of the engine itself comes from EngineHooks.
//
// Threads: each answer follows the threading rules of the object it reads (regions and the world:
// main thread).
#pragma once

#include "core/RegionServices.h"
#include "graphics/GraphicsWorldServices.h"

namespace GAME {

class WorldHooks : public RegionServices, public GraphicsWorldServices
{
public:
    WorldHooks() = default;
    ~WorldHooks() override = default;
    WorldHooks(const WorldHooks&) = delete;
    WorldHooks& operator=(const WorldHooks&) = delete;

    void Install();
    // Leaves in place what another implementation put there since.
    void Remove();

    // RegionServices
    IntVec3 GetOffsetFromWorld(const Region* region) override;
    Vec3 GetOffsetDifference(const Region* from, const Region* to) override;
    ABBox GetBoundingBox(const Region* region) override;
    bool PassPortal(Region*& region, const Ray& segment, Coords& frontToBack) override;
    Region* GetRegionContainingPoint(const Region* from, const Vec3& point) override;
    bool FindPathMeshFloor(const WorldVec3& position, float range, WorldVec3& floor) override;
    float GetNearestFloorHeight(const WorldVec3& position) override;
    IdWords GetRegionId(const Region* region) override;
    bool FindRegionById(const IdWords& id, Region*& region) override;

    // GraphicsWorldServices
    bool SetEntityVisibility(Object* object, bool visible) override;
    void ReloadWorldGenerationData() override;
};

} // namespace GAME
