// The world's answers to the layers below it about its own objects: regions for core's
// region-relative values (RegionServices), entity visibility and the current world's
// generation-dependent data for graphics (GraphicsWorldServices), and regions, levels, grounds,
// portals, entities and models for navigation's path meshes, path finder, physics engine and rag
// dolls (NavigationServices), which report entities' new frames back through it. Regions, levels and entities
// exist without an engine (tools, tests that build a world by hand), so these answers are not the engine's:
// one WorldHooks, made when the library is loaded, installs them then and removes them when the library goes
// away (WorldHooks.cpp). What the lower layers need of the engine itself comes from EngineHooks.
//
// Threads: each answer follows the threading rules of the object it reads (regions and the world:
// main thread).
#pragma once

#include "core/RegionServices.h"
#include "graphics/GraphicsWorldServices.h"
#include "navigation/NavigationServices.h"

namespace GAME {

class WorldHooks : public RegionServices, public GraphicsWorldServices, public NavigationServices
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

    // NavigationServices
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
    const TerrainBase* GetTerrain(const Level* level) override;
    const Terrain* GetEditableTerrain(const Level* level) override;
    const GridRegion* GetGridRegion(const Level* level) override;
    unsigned GetNumXSamples(const TerrainBase* terrain) override;
    unsigned GetNumYSamples(const TerrainBase* terrain) override;
    float GetTerrainHeight(const TerrainBase* terrain, int x, int y) override;
    float GetGroundHeight(const TerrainBase* terrain, int x, int z) override;
    bool IsInvisible(const TerrainBase* terrain, int x, int y) override;
    bool IsImpassable(const Terrain* terrain, int x, int y) override;
    void GetPlugTriangles(const TerrainBase* terrain, const ABBox& box,
                          std::vector<std::array<Vec3, 3>>& out) override;
    void GetCellMeshesInBox(const GridRegion* grid, const ABBox& box,
                            std::vector<GraphicsMeshInstance*>& out) override;
    const PhysicsMesh* GetInstancePhysicsMesh(const GraphicsMeshInstance* instance) override;
    Coords GetObjectToRegionCoords(const GraphicsMeshInstance* instance) override;
    Region* GetPortalRegion(const Portal* portal) override;
    bool IsConnectedPortal(const Portal* portal, const Portal* candidate) override;
    Vec3 GetPortalChokePoint(const Portal* portal) override;
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
    const char* GetFileName(const GraphicsMesh& mesh) override;
    uint32_t GetNumRigidBodyDescriptions(const GraphicsMesh& mesh) override;
    const RigidBodyDescription& GetRigidBodyDescription(const GraphicsMesh& mesh, uint32_t index) override;
    uint32_t GetNumJointDescriptions(const GraphicsMesh& mesh) override;
    const JointDescription& GetJointDescription(const GraphicsMesh& mesh, uint32_t index) override;
    int32_t GetBoneIndex(const GraphicsMesh& mesh, const Name& bone) override;
    Coords GetAbsCoords(const GraphicsMesh& mesh, const SkeletalPose& pose, int32_t bone) override;
};

} // namespace GAME
