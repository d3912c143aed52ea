// What navigation needs of the world above it, which it may not include: the regions and levels
// the path meshes are built from and the physics engine simulates around the view, their grounds
// (a terrain's samples and plugs through a NavigationGround, cell grids), the portals the path
// finder joins meshes through, the entities the physics engine simulates (and the frames it writes
// back into them) and the models rag dolls are built from (through a RagDollModel). Regions'
// offsets and boxes come from core's RegionServices; the objects named here only pass through
// navigation as pointers.
//
// The world implements this interface (world/WorldNavigationHooks.h) and installs it for as long as
// the library is loaded (world/WorldHooks.cpp): regions, levels and entities exist without an
// engine (tools, tests that build a world by hand). Without an implementation (never the case
// inside the library) regions have no level, world or name, nothing has ground, portals lead
// nowhere, entities are not in the world and are not simulated, and there are no rag doll models.
//
// Threads: main thread, like the objects it reads; Install while nothing else runs.
#pragma once

#include "core/ABBox.h"
#include "core/Coords.h"
#include "core/GeometryBus.h"
#include "core/Vec3.h"
#include "core/WorldCoords.h"
#include "navigation/PhysicsTypes.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace GAME {

class Entity;
class GraphicsMesh;
class GraphicsMeshInstance;
class GridRegion;
class Level;
class NavigationGround;
class OBBox;
class PhysicsMesh;
class PhysicsObject;
class Portal;
class RagDollModel;
class Region;
class SkeletalPose;

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
    // The height-field ground of the region's level as it is now; null when that level has no
    // terrain. The same object for the region's whole life.
    virtual const NavigationGround* GetGround(const Region* region) = 0;
    virtual const GridRegion* GetGridRegion(const Level* level) = 0;
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
    // The mesh as a rag doll's model in the pose; it reads both, so the caller keeps them while it
    // uses it.
    virtual std::unique_ptr<RagDollModel> GetRagDollModel(const GraphicsMesh& mesh,
                                                          const SkeletalPose& pose) = 0;

    // Installs the one implementation (null removes it).
    static void Install(NavigationServices* services);
    static NavigationServices* Get();
};

} // namespace GAME
