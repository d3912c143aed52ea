// The world's answers to the layers below it about its own objects: regions for core's
// region-relative values (RegionServices), entity visibility and the current world's
// generation-dependent data for graphics (GraphicsWorldServices), regions, levels, grounds,
// portals, entities and models for navigation's path meshes, path finder, physics engine and rag
// dolls (NavigationServices), which report entities' new frames back through it, and the regions,
// portals, entities and time of day the scene renderers draw and animations call back
// (SceneWorldServices), and the regions and entities the network's views and replication name
// (NetworkWorldServices). Regions, levels and entities
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
#include "network/NetworkWorldServices.h"
#include "scene/SceneWorldServices.h"

namespace GAME {

class WorldHooks : public RegionServices,
                   public GraphicsWorldServices,
                   public NavigationServices,
                   public SceneWorldServices,
                   public NetworkWorldServices
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

    // SceneWorldServices (GetRegionName, IsLevelLoaded, GetPortalRegion and GetPortalChokePoint
    // answer it and NavigationServices alike)
    void GetRegionsInFrustum(Region* region, const Frustum& frustum, bool connectedOnly,
                             std::vector<Region*>& out) override;
    bool IsUnderground(const Region* region) override;
    int GetRegionIndex(const Region* region) override;
    bool GetWorldRegionCount(const Region* region, int& count) override;
    bool GetShadowSoftness(const Region* region, float& softness) override;
    void AddRegionToScene(Region* region, GraphicsSceneRenderer& renderer, const Coords& regionToScene,
                          const Frustum& frustum, const WorldFrustum* transparencyFrustum) override;
    void AddReflectionPlanes(Region* region, GraphicsReflectionManager& manager,
                             const Frustum& frustum) override;
    int GetNumPortals(const Region* region) override;
    Portal* GetPortal(const Region* region, int index) override;
    Plane GetPortalPlane(const Portal* portal) override;
    bool IsPortalFrontFacing(const Portal* portal, const Vec3& point) override;
    OBBox GetPortalBoundingBox(const Portal* portal) override;
    bool PortalIntersects(const Portal* portal, const Frustum& frustum) override;
    Region* GetConnectedRegion(const Portal* portal) override;
    bool GetBackToFrontCoords(const Portal* portal, Coords& out, Region*& other) override;
    void RenderPortal(const Portal* portal, WorldPrimitiveDrawer& drawer, const Coords& frame) override;
    void GetLevelEntitiesInFrustum(Region* region, const Frustum& frustum,
                                   std::vector<Entity*>& out) override;
    void GetUpdatedEntitiesInFrustum(Region* region, const Frustum& frustum,
                                     std::vector<Entity*>& out) override;
    void GetUpdatedEntitiesInSphere(Region* region, const Sphere& sphere, std::vector<Entity*>& out) override;
    Region* GetEntityRegion(const Entity* entity) override;
    ABBox GetEntityRegionBoundingBox(const Entity* entity) override;
    bool RendersAcrossPortals(const Entity* entity) override;
    bool CastsShadows(const Entity* entity) override;
    bool PassesRenderFilter(const Entity* entity) override;
    void AddEntityToScene(Entity* entity, GraphicsSceneRenderer& renderer, const Frustum* frustum) override;
    void AnimationCallback(Entity* entity, int channel, const Name& name) override;
    void CreateAnimationEntity(Entity* entity, const std::string& record, const std::string& attach) override;
    bool HasDayNight() override;
    bool IsDay() override;
    Color GetDayLightColor() override;
    Color GetDaySkyAmbientColor() override;
    Color GetDayGroundAmbientColor() override;
    Vec3 GetDayLightDirection() override;

    // NetworkWorldServices (GetRegionName, IsInWorld and GetCoords answer it and the services above
    // alike)
    RegionId GetIdOfRegion(const Region* region) override;
    Region* FindRegion(const RegionId& id, bool searchLoadedFirst) override;
    Entity* AsEntity(Object* object) override;
    Object* AsObject(Entity* entity) override;
    void WriteReplicationData(Entity* entity, NetPacketOutBuffer& buffer) override;
    void ReadReplicationData(Entity* entity, NetPacketInBuffer& buffer) override;
    void ApplyReplicationData(Entity* entity) override;
    bool AddToWorld(Entity* entity, const WorldCoords& coords) override;
    void SetSpawnVelocity(Entity* entity, const Vec3& velocity) override;
    NetworkControllerBase* GetNetworkController() override;
    NetworkEntityList* GetNetworkEntityList() override;
};

} // namespace GAME
