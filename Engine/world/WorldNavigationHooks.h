// The world's answers to navigation's NavigationServices: the regions and levels that path meshes
// are built from and the physics engine simulates around the view, their grounds (each region's
// RegionGround, cell grids), the portals the path finder joins meshes through, the entities the
// physics engine simulates (and the frames it reports back, which move them through the world or,
// for a region without one, its level) and meshes in a pose as rag doll models. WorldHooks installs
// it.
//
// Threads: main thread, like the regions, levels and entities it reads.
#pragma once

#include "navigation/NavigationServices.h"

namespace GAME {

class WorldNavigationHooks final : public NavigationServices
{
public:
    // Regions and levels
    std::string GetRegionName(const Region* region) override;
    Level* GetLevel(const Region* region, bool keepIdle) override;
    Level* GetLevelPtr(const Region* region) override;
    bool IsLevelLoaded(const Region* region) override;
    bool HasWorld(const Region* region) override;
    void GetLoadedRegions(const Region* region, std::vector<Region*>& out) override;
    Region* GetRegionEntered(const Region* region, const Vec3& point) override;
    void GetGeometryFaces(const Region* region, const ABBox& box,
                          std::vector<GeometryBus::SimpleFace>& faces) override;
    void GetEntitiesInBox(const Level* level, const ABBox& box, std::vector<Entity*>& out) override;

    // Ground
    const NavigationGround* GetGround(const Region* region) override;
    const GridRegion* GetGridRegion(const Level* level) override;
    void GetCellMeshesInBox(const GridRegion* grid, const ABBox& box,
                            std::vector<GraphicsMeshInstance*>& out) override;
    const PhysicsMesh* GetInstancePhysicsMesh(const GraphicsMeshInstance* instance) override;
    Coords GetObjectToRegionCoords(const GraphicsMeshInstance* instance) override;

    // Portals
    Region* GetPortalRegion(const Portal* portal) override;
    bool IsConnectedPortal(const Portal* portal, const Portal* candidate) override;
    Vec3 GetPortalChokePoint(const Portal* portal) override;

    // Entities
    std::string GetEntityName(const Entity* entity) override;
    bool IsInWorld(const Entity* entity) override;
    PhysicsType GetPhysicsType(const Entity* entity) override;
    bool GetGravityEnabled(const Entity* entity) override;
    bool IsSimulationEnabled(const Entity* entity) override;
    WorldCoords GetCoords(const Entity* entity) override;
    ABBox GetRegionBoundingBox(const Entity* entity) override;
    bool GetCollisionProxy(const Entity* entity, OBBox& box) override;
    const PhysicsMesh* GetPhysicsMesh(const Entity* entity) override;
    PhysicsObject* GetPhysicsObject(const Entity* entity) override;
    void CreatePhysicsObject(Entity* entity) override;
    void DestroyPhysicsObject(Entity* entity) override;
    void MoveEntity(Entity* entity, Region* region, const Coords& coords) override;

    // Models
    std::unique_ptr<RagDollModel> GetRagDollModel(const GraphicsMesh& mesh,
                                                  const SkeletalPose& pose) override;
};

} // namespace GAME
