// What navigation needs of the world above it, which it may not include: the regions and levels
// the path meshes are built from and the physics engine simulates around the view, their grounds
// (terrain samples and plugs, cell grids), the portals the path finder joins meshes through, the
// entities the physics engine simulates (and the frames it writes back into them) and the models
// rag dolls are built from. Regions' offsets and boxes come from core's RegionServices; the objects
// named here only pass through navigation as pointers.
//
// The world implements this interface and installs it for as long as the library is loaded
// (world/WorldHooks.cpp): regions, levels and entities exist without an engine (tools, tests that
// build a world by hand). Without an implementation (never the case inside the library) regions
// have no level, world or name, nothing has ground, portals lead nowhere, entities are not in the
// world and are not simulated, and models have no rigid bodies or joints.
//
// Threads: main thread, like the objects it reads; Install while nothing else runs.
#pragma once

#include "core/ABBox.h"
#include "core/Coords.h"
#include "core/GeometryBus.h"
#include "core/Vec3.h"
#include "core/WorldCoords.h"
#include "navigation/PhysicsTypes.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace GAME {

class Entity;
class GraphicsMesh;
class GraphicsMeshInstance;
class GridRegion;
class Level;
class Name;
class OBBox;
class PhysicsMesh;
class PhysicsObject;
class Portal;
class Region;
class SkeletalPose;
class Terrain;
class TerrainBase;
struct JointDescription;
struct RigidBodyDescription;

class NavigationServices
{
public:
    virtual ~NavigationServices() = default;

    // ---- Regions and levels ----
    virtual std::string GetRegionName(const Region* region) = 0;
    // Region::GetLevel: the level, loaded for the asking (kept while idle when keepIdle).
    virtual Level* GetLevel(const Region* region, bool keepIdle) = 0;
    // The level as it is now (Region::GetLevelPtr), loaded or not; null when there is none.
    virtual Level* GetLevelPtr(const Region* region) = 0;
    virtual bool IsLevelLoaded(const Region* region) = 0;
    virtual bool HasWorld(const Region* region) = 0;
    // Replaces out with the loaded regions of the region's world; empty without a world.
    virtual void GetLoadedRegions(const Region* region, std::vector<Region*>& out) = 0;
    // The region a point has moved into: the region of the region's own world whose box strictly
    // holds the point (in region's space); null without a world.
    virtual Region* GetRegionEntered(const Region* region, const Vec3& point) = 0;
    // Appends the faces of the region's geometry inside the box (Region::GeometryBusStop).
    virtual void GetGeometryFaces(const Region* region, const ABBox& box,
                                  std::vector<GeometryBus::SimpleFace>& faces) = 0;
    // Appends every entity of the level whose box meets the box (region space).
    virtual void GetEntitiesInBox(const Level* level, const ABBox& box, std::vector<Entity*>& out) = 0;

    // ---- Ground ----
    virtual const TerrainBase* GetTerrain(const Level* level) = 0;
    // The editable terrain, which knows impassable cells; null for a run-time terrain.
    virtual const Terrain* GetEditableTerrain(const Level* level) = 0;
    virtual const GridRegion* GetGridRegion(const Level* level) = 0;
    virtual unsigned GetNumXSamples(const TerrainBase* terrain) = 0;
    virtual unsigned GetNumYSamples(const TerrainBase* terrain) = 0;
    // The terrain's own sample.
    virtual float GetTerrainHeight(const TerrainBase* terrain, int x, int y) = 0;
    // The ground height at a sample as the world's ground queries give it, so that an edited
    // ground counts at once.
    virtual float GetGroundHeight(const TerrainBase* terrain, int x, int z) = 0;
    virtual bool IsInvisible(const TerrainBase* terrain, int x, int y) = 0;
    virtual bool IsImpassable(const Terrain* terrain, int x, int y) = 0;
    // Appends the triangles of the terrain's plugs that lie in the box (terrain space: x and y
    // along the samples, z the height), as the plugs store them.
    virtual void GetPlugTriangles(const TerrainBase* terrain, const ABBox& box,
                                  std::vector<std::array<Vec3, 3>>& out) = 0;
    // Replaces out with the built cells' mesh instances of the grid in the box (region space).
    virtual void GetCellMeshesInBox(const GridRegion* grid, const ABBox& box,
                                    std::vector<GraphicsMeshInstance*>& out) = 0;
    // The collision mesh of the instance's mesh; null when it has none.
    virtual const PhysicsMesh* GetInstancePhysicsMesh(const GraphicsMeshInstance* instance) = 0;
    virtual Coords GetObjectToRegionCoords(const GraphicsMeshInstance* instance) = 0;

    // ---- Portals ----
    virtual Region* GetPortalRegion(const Portal* portal) = 0;
    // Whether candidate is the portal on the far side of portal: it lies in the region portal
    // connects to and has the id portal connects to.
    virtual bool IsConnectedPortal(const Portal* portal, const Portal* candidate) = 0;
    // The portal's choke point in its region's space.
    virtual Vec3 GetPortalChokePoint(const Portal* portal) = 0;

    // ---- Entities ----
    virtual std::string GetEntityName(const Entity* entity) = 0;
    virtual bool IsInWorld(const Entity* entity) = 0;
    virtual PhysicsType GetPhysicsType(const Entity* entity) = 0;
    virtual bool GetGravityEnabled(const Entity* entity) = 0;
    virtual bool IsSimulationEnabled(const Entity* entity) = 0;
    virtual WorldCoords GetCoords(const Entity* entity) = 0;
    virtual ABBox GetRegionBoundingBox(const Entity* entity) = 0;
    // The box the entity collides as (region space); false when it has none.
    virtual bool GetCollisionProxy(const Entity* entity, OBBox& box) = 0;
    // The entity's collision mesh; null when it has none.
    virtual const PhysicsMesh* GetPhysicsMesh(const Entity* entity) = 0;
    virtual PhysicsObject* GetPhysicsObject(const Entity* entity) = 0;
    virtual void CreatePhysicsObject(Entity* entity) = 0;
    virtual void DestroyPhysicsObject(Entity* entity) = 0;
    // The physics engine's report of a body's new frame: the entity moves to the coords in the
    // region through the region's world (into the region, as World::SetCoords moves it) or, for a
    // region without a world, through its level.
    virtual void MoveEntity(Entity* entity, Region* region, const Coords& coords) = 0;

    // ---- Models (rag dolls) ----
    virtual const char* GetFileName(const GraphicsMesh& mesh) = 0;
    virtual uint32_t GetNumRigidBodyDescriptions(const GraphicsMesh& mesh) = 0;
    virtual const RigidBodyDescription& GetRigidBodyDescription(const GraphicsMesh& mesh, uint32_t index) = 0;
    virtual uint32_t GetNumJointDescriptions(const GraphicsMesh& mesh) = 0;
    virtual const JointDescription& GetJointDescription(const GraphicsMesh& mesh, uint32_t index) = 0;
    // -1 when the mesh has no bone of that name.
    virtual int32_t GetBoneIndex(const GraphicsMesh& mesh, const Name& bone) = 0;
    // The bone's frame in the model's space for the pose.
    virtual Coords GetAbsCoords(const GraphicsMesh& mesh, const SkeletalPose& pose, int32_t bone) = 0;

    // Installs the one implementation (null removes it).
    static void Install(NavigationServices* services);
    static NavigationServices* Get();
};

} // namespace GAME
