#include "world/WorldNavigationHooks.h"

#include "scene/GraphicsMesh.h"
#include "scene/GraphicsMeshInstance.h"
#include "terrain/GridRegion.h"
#include "terrain/Terrain.h"
#include "terrain/TerrainBase.h"
#include "terrain/TerrainPlug.h"
#include "world/Entity.h"
#include "world/GroundQueries.h"
#include "world/Level.h"
#include "world/Portal.h"
#include "world/Region.h"
#include "world/World.h"

namespace GAME {

// ---- Regions and levels -------------------------------------------------------------------------

std::string WorldNavigationHooks::GetRegionName(const Region* region)
{
    return region ? region->GetName() : std::string();
}

Level* WorldNavigationHooks::GetLevel(const Region* region, bool keepIdle)
{
    return region ? region->GetLevel(keepIdle) : nullptr;
}

Level* WorldNavigationHooks::GetLevelPtr(const Region* region)
{
    return region ? region->GetLevelPtr() : nullptr;
}

bool WorldNavigationHooks::IsLevelLoaded(const Region* region)
{
    return region && region->IsLevelLoaded();
}

bool WorldNavigationHooks::HasWorld(const Region* region)
{
    return region && region->GetWorld();
}

void WorldNavigationHooks::GetLoadedRegions(const Region* region, std::vector<Region*>& out)
{
    out.clear();
    if (World* world = region ? region->GetWorld() : nullptr)
        out.assign(world->GetLoadedRegions().begin(), world->GetLoadedRegions().end());
}

Region* WorldNavigationHooks::GetRegionEntered(const Region* region, const Vec3& point)
{
    World* world = region ? region->GetWorld() : nullptr;
    return world ? world->GetRegionContainingPoint(region, point) : nullptr;
}

void WorldNavigationHooks::GetGeometryFaces(const Region* region, const ABBox& box,
                                            std::vector<GeometryBus::SimpleFace>& faces)
{
    if (region)
        region->GeometryBusStop(box, faces);
}

void WorldNavigationHooks::GetEntitiesInBox(const Level* level, const ABBox& box, std::vector<Entity*>& out)
{
    if (level)
        level->GetEntitiesInBox(out, box, ENTITY_LIST_ALL);
}

// ---- Ground -------------------------------------------------------------------------------------

const TerrainBase* WorldNavigationHooks::GetTerrain(const Level* level)
{
    return level ? level->GetTerrain() : nullptr;
}

const Terrain* WorldNavigationHooks::GetEditableTerrain(const Level* level)
{
    return level ? level->GetEditableTerrain() : nullptr;
}

const GridRegion* WorldNavigationHooks::GetGridRegion(const Level* level)
{
    return level ? level->GetGridRegion() : nullptr;
}

unsigned WorldNavigationHooks::GetNumXSamples(const TerrainBase* terrain)
{
    return terrain ? terrain->GetNumXSamples() : 0;
}

unsigned WorldNavigationHooks::GetNumYSamples(const TerrainBase* terrain)
{
    return terrain ? terrain->GetNumYSamples() : 0;
}

float WorldNavigationHooks::GetTerrainHeight(const TerrainBase* terrain, int x, int y)
{
    return terrain ? terrain->GetHeight(x, y) : 0.0f;
}

float WorldNavigationHooks::GetGroundHeight(const TerrainBase* terrain, int x, int z)
{
    if (!terrain)
        return 0.0f;
    GroundQueries* queries = GroundQueries::Get();
    return queries ? queries->GetTerrainHeight(terrain, x, z) : terrain->GetHeight(x, z);
}

bool WorldNavigationHooks::IsInvisible(const TerrainBase* terrain, int x, int y)
{
    return terrain && terrain->IsInvisible(x, y);
}

bool WorldNavigationHooks::IsImpassable(const Terrain* terrain, int x, int y)
{
    return terrain && terrain->IsImpassable(x, y);
}

void WorldNavigationHooks::GetPlugTriangles(const TerrainBase* terrain, const ABBox& box,
                                            std::vector<std::array<Vec3, 3>>& out)
{
    if (!terrain)
        return;
    std::vector<TerrainObject*> objects;
    terrain->GetObjectsInBox(objects, box);
    for (const TerrainObject* object : objects) {
        if (!object->GetClassInfo().IsA(TerrainPlug::classInfo))
            continue;
        const auto* plug = static_cast<const TerrainPlug*>(object);
        for (uint32_t t = 0; t < plug->GetNumTriangles(); ++t) {
            const TerrainPlug::Triangle& triangle = plug->GetTriangle(t);
            out.push_back({triangle.vertices[0].position, triangle.vertices[1].position,
                           triangle.vertices[2].position});
        }
    }
}

void WorldNavigationHooks::GetCellMeshesInBox(const GridRegion* grid, const ABBox& box,
                                              std::vector<GraphicsMeshInstance*>& out)
{
    out.clear();
    if (grid)
        grid->GetCellMeshesInBox(box, out);
}

const PhysicsMesh* WorldNavigationHooks::GetInstancePhysicsMesh(const GraphicsMeshInstance* instance)
{
    return instance && instance->GetMesh() ? instance->GetMesh()->GetPhysicsMesh() : nullptr;
}

Coords WorldNavigationHooks::GetObjectToRegionCoords(const GraphicsMeshInstance* instance)
{
    return instance ? instance->GetObjectToRegionCoords() : Coords();
}

// ---- Portals ------------------------------------------------------------------------------------

Region* WorldNavigationHooks::GetPortalRegion(const Portal* portal)
{
    return portal ? portal->GetRegion() : nullptr;
}

bool WorldNavigationHooks::IsConnectedPortal(const Portal* portal, const Portal* candidate)
{
    return portal && candidate && candidate->GetRegion() &&
           candidate->GetRegion()->GetId() == portal->GetConnectedRegionId() &&
           candidate->GetId() == portal->GetConnectedPortalId();
}

Vec3 WorldNavigationHooks::GetPortalChokePoint(const Portal* portal)
{
    return portal ? portal->GetChokePoint().GetOrigin().GetRegionPosition() : Vec3();
}

// ---- Entities -----------------------------------------------------------------------------------

std::string WorldNavigationHooks::GetEntityName(const Entity* entity)
{
    return entity ? entity->GetObjectName() : std::string();
}

bool WorldNavigationHooks::IsInWorld(const Entity* entity)
{
    return entity && entity->IsInWorld();
}

PhysicsType WorldNavigationHooks::GetPhysicsType(const Entity* entity)
{
    return entity ? entity->GetPhysicsType() : PHYSICS_TYPE_DEFAULT;
}

bool WorldNavigationHooks::GetGravityEnabled(const Entity* entity)
{
    return entity && entity->GetGravityEnabled();
}

bool WorldNavigationHooks::IsSimulationEnabled(const Entity* entity)
{
    return entity && entity->IsSimulationEnabled();
}

WorldCoords WorldNavigationHooks::GetCoords(const Entity* entity)
{
    return entity ? entity->GetCoords() : WorldCoords();
}

ABBox WorldNavigationHooks::GetRegionBoundingBox(const Entity* entity)
{
    return entity ? entity->GetRegionBoundingBox() : ABBox();
}

bool WorldNavigationHooks::GetCollisionProxy(const Entity* entity, OBBox& box)
{
    return entity && entity->GetCollisionProxy(box);
}

const PhysicsMesh* WorldNavigationHooks::GetPhysicsMesh(const Entity* entity)
{
    return entity ? entity->GetPhysicsMesh() : nullptr;
}

PhysicsObject* WorldNavigationHooks::GetPhysicsObject(const Entity* entity)
{
    return entity ? entity->GetPhysicsObject() : nullptr;
}

void WorldNavigationHooks::CreatePhysicsObject(Entity* entity)
{
    if (entity)
        entity->CreatePhysicsObject();
}

void WorldNavigationHooks::DestroyPhysicsObject(Entity* entity)
{
    if (entity)
        entity->DestroyPhysicsObject();
}

void WorldNavigationHooks::MoveEntity(Entity* entity, Region* region, const Coords& coords)
{
    if (!entity || !region)
        return;
    if (World* world = region->GetWorld())
        world->SetCoords(entity, WorldCoords(region, coords));
    else if (Level* level = region->GetLevelPtr())
        level->MoveEntity(entity, coords);
}

// ---- Models -------------------------------------------------------------------------------------

const char* WorldNavigationHooks::GetFileName(const GraphicsMesh& mesh)
{
    return mesh.GetFileName();
}

uint32_t WorldNavigationHooks::GetNumRigidBodyDescriptions(const GraphicsMesh& mesh)
{
    return mesh.GetNumRigidBodyDescriptions();
}

const RigidBodyDescription& WorldNavigationHooks::GetRigidBodyDescription(const GraphicsMesh& mesh,
                                                                          uint32_t index)
{
    return mesh.GetRigidBodyDescription(index);
}

uint32_t WorldNavigationHooks::GetNumJointDescriptions(const GraphicsMesh& mesh)
{
    return mesh.GetNumJointDescriptions();
}

const JointDescription& WorldNavigationHooks::GetJointDescription(const GraphicsMesh& mesh, uint32_t index)
{
    return mesh.GetJointDescription(index);
}

int32_t WorldNavigationHooks::GetBoneIndex(const GraphicsMesh& mesh, const Name& bone)
{
    return mesh.GetBoneIndex(bone);
}

Coords WorldNavigationHooks::GetAbsCoords(const GraphicsMesh& mesh, const SkeletalPose& pose, int32_t bone)
{
    return mesh.GetAbsCoords(pose, bone);
}

} // namespace GAME
