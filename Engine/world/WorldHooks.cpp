#include "world/WorldHooks.h"

#include "core/MathUtil.h"
#include "core/Ray.h"
#include "core/WorldVec3.h"
#include "data/RegionId.h"
#include "navigation/PhysicsEngine.h"
#include "scene/GraphicsMesh.h"
#include "scene/GraphicsMeshInstance.h"
#include "terrain/GridRegion.h"
#include "terrain/Terrain.h"
#include "terrain/TerrainBase.h"
#include "terrain/TerrainPlug.h"
#include "world/Actor.h"
#include "world/DayNightManager.h"
#include "world/EffectEntity.h"
#include "world/Entity.h"
#include "world/GroundQueries.h"
#include "world/Level.h"
#include "world/Portal.h"
#include "world/Region.h"
#include "world/World.h"
#include "world/WorldServices.h"

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
    NavigationServices::Install(this);
    SceneWorldServices::Install(this);
    NetworkWorldServices::Install(this);
}

void WorldHooks::Remove()
{
    if (RegionServices::Get() == this)
        RegionServices::Install(nullptr);
    if (GraphicsWorldServices::Get() == this)
        GraphicsWorldServices::Install(nullptr);
    if (NavigationServices::Get() == this)
        NavigationServices::Install(nullptr);
    if (SceneWorldServices::Get() == this)
        SceneWorldServices::Install(nullptr);
    if (NetworkWorldServices::Get() == this)
        NetworkWorldServices::Install(nullptr);
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

// ---- NavigationServices: regions and levels ----------------------------------------------------

std::string WorldHooks::GetRegionName(const Region* region)
{
    return region ? region->GetName() : std::string();
}

Level* WorldHooks::GetLevel(const Region* region, bool keepIdle)
{
    return region ? region->GetLevel(keepIdle) : nullptr;
}

Level* WorldHooks::GetLevelPtr(const Region* region)
{
    return region ? region->GetLevelPtr() : nullptr;
}

bool WorldHooks::IsLevelLoaded(const Region* region)
{
    return region && region->IsLevelLoaded();
}

bool WorldHooks::HasWorld(const Region* region)
{
    return region && region->GetWorld();
}

void WorldHooks::GetLoadedRegions(const Region* region, std::vector<Region*>& out)
{
    out.clear();
    if (World* world = region ? region->GetWorld() : nullptr)
        out.assign(world->GetLoadedRegions().begin(), world->GetLoadedRegions().end());
}

Region* WorldHooks::GetRegionEntered(const Region* region, const Vec3& point)
{
    World* world = region ? region->GetWorld() : nullptr;
    return world ? world->GetRegionContainingPoint(region, point) : nullptr;
}

void WorldHooks::GetGeometryFaces(const Region* region, const ABBox& box,
                                  std::vector<GeometryBus::SimpleFace>& faces)
{
    if (region)
        region->GeometryBusStop(box, faces);
}

void WorldHooks::GetEntitiesInBox(const Level* level, const ABBox& box, std::vector<Entity*>& out)
{
    if (level)
        level->GetEntitiesInBox(out, box, ENTITY_LIST_ALL);
}

// ---- NavigationServices: ground ---------------------------------------------------------------

const TerrainBase* WorldHooks::GetTerrain(const Level* level)
{
    return level ? level->GetTerrain() : nullptr;
}

const Terrain* WorldHooks::GetEditableTerrain(const Level* level)
{
    return level ? level->GetEditableTerrain() : nullptr;
}

const GridRegion* WorldHooks::GetGridRegion(const Level* level)
{
    return level ? level->GetGridRegion() : nullptr;
}

unsigned WorldHooks::GetNumXSamples(const TerrainBase* terrain)
{
    return terrain ? terrain->GetNumXSamples() : 0;
}

unsigned WorldHooks::GetNumYSamples(const TerrainBase* terrain)
{
    return terrain ? terrain->GetNumYSamples() : 0;
}

float WorldHooks::GetTerrainHeight(const TerrainBase* terrain, int x, int y)
{
    return terrain ? terrain->GetHeight(x, y) : 0.0f;
}

float WorldHooks::GetGroundHeight(const TerrainBase* terrain, int x, int z)
{
    if (!terrain)
        return 0.0f;
    GroundQueries* queries = GroundQueries::Get();
    return queries ? queries->GetTerrainHeight(terrain, x, z) : terrain->GetHeight(x, z);
}

bool WorldHooks::IsInvisible(const TerrainBase* terrain, int x, int y)
{
    return terrain && terrain->IsInvisible(x, y);
}

bool WorldHooks::IsImpassable(const Terrain* terrain, int x, int y)
{
    return terrain && terrain->IsImpassable(x, y);
}

void WorldHooks::GetPlugTriangles(const TerrainBase* terrain, const ABBox& box,
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

void WorldHooks::GetCellMeshesInBox(const GridRegion* grid, const ABBox& box,
                                    std::vector<GraphicsMeshInstance*>& out)
{
    out.clear();
    if (grid)
        grid->GetCellMeshesInBox(box, out);
}

const PhysicsMesh* WorldHooks::GetInstancePhysicsMesh(const GraphicsMeshInstance* instance)
{
    return instance && instance->GetMesh() ? instance->GetMesh()->GetPhysicsMesh() : nullptr;
}

Coords WorldHooks::GetObjectToRegionCoords(const GraphicsMeshInstance* instance)
{
    return instance ? instance->GetObjectToRegionCoords() : Coords();
}

// ---- NavigationServices: portals --------------------------------------------------------------

Region* WorldHooks::GetPortalRegion(const Portal* portal)
{
    return portal ? portal->GetRegion() : nullptr;
}

bool WorldHooks::IsConnectedPortal(const Portal* portal, const Portal* candidate)
{
    return portal && candidate && candidate->GetRegion() &&
           candidate->GetRegion()->GetId() == portal->GetConnectedRegionId() &&
           candidate->GetId() == portal->GetConnectedPortalId();
}

Vec3 WorldHooks::GetPortalChokePoint(const Portal* portal)
{
    return portal ? (portal->GetCoords() * portal->GetLocalChokePoint()).origin : Vec3();
}

// ---- NavigationServices: entities -------------------------------------------------------------

std::string WorldHooks::GetEntityName(const Entity* entity)
{
    return entity ? entity->GetObjectName() : std::string();
}

bool WorldHooks::IsInWorld(const Entity* entity)
{
    return entity && entity->IsInWorld();
}

PhysicsType WorldHooks::GetPhysicsType(const Entity* entity)
{
    return entity ? entity->GetPhysicsType() : PHYSICS_TYPE_DEFAULT;
}

bool WorldHooks::GetGravityEnabled(const Entity* entity)
{
    return entity && entity->GetGravityEnabled();
}

bool WorldHooks::IsSimulationEnabled(const Entity* entity)
{
    return entity && entity->IsSimulationEnabled();
}

WorldCoords WorldHooks::GetCoords(const Entity* entity)
{
    return entity ? entity->GetCoords() : WorldCoords();
}

ABBox WorldHooks::GetRegionBoundingBox(const Entity* entity)
{
    return entity ? entity->GetRegionBoundingBox() : ABBox();
}

bool WorldHooks::GetCollisionProxy(const Entity* entity, OBBox& box)
{
    return entity && entity->GetCollisionProxy(box);
}

const PhysicsMesh* WorldHooks::GetPhysicsMesh(const Entity* entity)
{
    return entity ? entity->GetPhysicsMesh() : nullptr;
}

PhysicsObject* WorldHooks::GetPhysicsObject(const Entity* entity)
{
    return entity ? entity->GetPhysicsObject() : nullptr;
}

void WorldHooks::CreatePhysicsObject(Entity* entity)
{
    if (entity)
        entity->CreatePhysicsObject();
}

void WorldHooks::DestroyPhysicsObject(Entity* entity)
{
    if (entity)
        entity->DestroyPhysicsObject();
}

void WorldHooks::MoveEntity(Entity* entity, Region* region, const Coords& coords)
{
    if (!entity || !region)
        return;
    if (World* world = region->GetWorld())
        world->SetCoords(entity, WorldCoords(region, coords));
    else if (Level* level = region->GetLevelPtr())
        level->MoveEntity(entity, coords);
}

// ---- NavigationServices: models ---------------------------------------------------------------

const char* WorldHooks::GetFileName(const GraphicsMesh& mesh)
{
    return mesh.GetFileName();
}

uint32_t WorldHooks::GetNumRigidBodyDescriptions(const GraphicsMesh& mesh)
{
    return mesh.GetNumRigidBodyDescriptions();
}

const RigidBodyDescription& WorldHooks::GetRigidBodyDescription(const GraphicsMesh& mesh, uint32_t index)
{
    return mesh.GetRigidBodyDescription(index);
}

uint32_t WorldHooks::GetNumJointDescriptions(const GraphicsMesh& mesh)
{
    return mesh.GetNumJointDescriptions();
}

const JointDescription& WorldHooks::GetJointDescription(const GraphicsMesh& mesh, uint32_t index)
{
    return mesh.GetJointDescription(index);
}

int32_t WorldHooks::GetBoneIndex(const GraphicsMesh& mesh, const Name& bone)
{
    return mesh.GetBoneIndex(bone);
}

Coords WorldHooks::GetAbsCoords(const GraphicsMesh& mesh, const SkeletalPose& pose, int32_t bone)
{
    return mesh.GetAbsCoords(pose, bone);
}

// ---- SceneWorldServices: regions ----------------------------------------------------------------

void WorldHooks::GetRegionsInFrustum(Region* region, const Frustum& frustum, bool connectedOnly,
                                     std::vector<Region*>& out)
{
    if (!region)
        return;
    if (World* world = region->GetWorld())
        world->GetRegionsInFrustum(out, region, frustum, connectedOnly);
    else
        region->GetRegionsInFrustum(out, frustum);
}

bool WorldHooks::IsUnderground(const Region* region)
{
    return region && region->IsUnderground();
}

int WorldHooks::GetRegionIndex(const Region* region)
{
    return region ? region->GetRegionIndex() : -1;
}

bool WorldHooks::GetWorldRegionCount(const Region* region, int& count)
{
    const World* world = region ? region->GetWorld() : nullptr;
    if (!world)
        return false;
    count = world->GetNumRegions();
    return true;
}

bool WorldHooks::GetShadowSoftness(const Region* region, float& softness)
{
    const World* world = region ? region->GetWorld() : nullptr;
    if (!world)
        return false;
    softness = world->GetShadowSoftness();
    return true;
}

void WorldHooks::AddRegionToScene(Region* region, GraphicsSceneRenderer& renderer,
                                  const Coords& regionToScene, const Frustum& frustum,
                                  const WorldFrustum* transparencyFrustum)
{
    if (region)
        region->AddToScene(renderer, regionToScene, frustum, transparencyFrustum);
}

void WorldHooks::AddReflectionPlanes(Region* region, GraphicsReflectionManager& manager,
                                     const Frustum& frustum)
{
    if (Level* level = region ? region->GetLevel(false) : nullptr)
        level->AddReflectionPlanes(manager, frustum);
}

// ---- SceneWorldServices: portals ----------------------------------------------------------------

int WorldHooks::GetNumPortals(const Region* region)
{
    return region ? region->GetNumPortals() : 0;
}

Portal* WorldHooks::GetPortal(const Region* region, int index)
{
    return region ? region->GetPortal(index) : nullptr;
}

Plane WorldHooks::GetPortalPlane(const Portal* portal)
{
    return portal ? portal->GetPlane() : Plane();
}

bool WorldHooks::IsPortalFrontFacing(const Portal* portal, const Vec3& point)
{
    return portal && portal->IsFrontFacing(point);
}

OBBox WorldHooks::GetPortalBoundingBox(const Portal* portal)
{
    return portal ? portal->GetRegionBoundingBox() : OBBox();
}

bool WorldHooks::PortalIntersects(const Portal* portal, const Frustum& frustum)
{
    return portal && portal->TestIntersection(frustum);
}

Region* WorldHooks::GetConnectedRegion(const Portal* portal)
{
    return portal ? portal->GetConnectedRegion() : nullptr;
}

bool WorldHooks::GetBackToFrontCoords(const Portal* portal, Coords& out, Region*& other)
{
    return portal && portal->GetBackToFrontCoords(out, other);
}

void WorldHooks::RenderPortal(const Portal* portal, WorldPrimitiveDrawer& drawer, const Coords& frame)
{
    if (portal)
        portal->Render(drawer, frame);
}

// ---- SceneWorldServices: entities ---------------------------------------------------------------

void WorldHooks::GetLevelEntitiesInFrustum(Region* region, const Frustum& frustum, std::vector<Entity*>& out)
{
    if (Level* level = region ? region->GuaranteedGetLevel(true) : nullptr)
        level->GetEntitiesInFrustum(out, &frustum, 1, false, ENTITY_LIST_ALL, false);
}

void WorldHooks::GetUpdatedEntitiesInFrustum(Region* region, const Frustum& frustum,
                                             std::vector<Entity*>& out)
{
    if (region)
        region->GetEntitiesInFrustum(out, frustum, false, nullptr, ENTITY_LIST_UPDATED, false, false);
}

void WorldHooks::GetUpdatedEntitiesInSphere(Region* region, const Sphere& sphere, std::vector<Entity*>& out)
{
    if (region)
        region->GetEntitiesInSphere(out, sphere, false, ENTITY_LIST_UPDATED);
}

Region* WorldHooks::GetEntityRegion(const Entity* entity)
{
    return entity ? entity->GetRegion() : nullptr;
}

ABBox WorldHooks::GetEntityRegionBoundingBox(const Entity* entity)
{
    return entity ? entity->GetRegionBoundingBox() : ABBox();
}

bool WorldHooks::RendersAcrossPortals(const Entity* entity)
{
    return entity && entity->GetShouldRenderAcrossPortals();
}

bool WorldHooks::CastsShadows(const Entity* entity)
{
    const Actor* actor = Actor::Cast(entity);
    return actor && actor->GetVisibility() && actor->GetCastsShadows();
}

bool WorldHooks::PassesRenderFilter(const Entity* entity)
{
    const FilterFunction<Entity>* filter = WorldServices::EntityRenderFilter();
    return !filter || (*filter)(entity);
}

void WorldHooks::AddEntityToScene(Entity* entity, GraphicsSceneRenderer& renderer, const Frustum* frustum)
{
    if (entity)
        entity->AddToScene(renderer, frustum);
}

void WorldHooks::AnimationCallback(Entity* entity, int channel, const Name& name)
{
    if (entity)
        entity->AnimationCallback(channel, name);
}

void WorldHooks::CreateAnimationEntity(Entity* entity, const std::string& record, const std::string& attach)
{
    Entity* created = entity ? entity->CreateAttachedEntity(record, attach) : nullptr;
    if (created && created->GetClassInfo().IsA(EffectEntity::GetStaticClassInfo()))
        static_cast<EffectEntity*>(created)->MakeSelfDeletingChild();
}

// ---- SceneWorldServices: the time of day --------------------------------------------------------

bool WorldHooks::HasDayNight()
{
    return DayNightManager::Get() != nullptr;
}

bool WorldHooks::IsDay()
{
    DayNightManager* dayNight = DayNightManager::Get();
    return !dayNight || dayNight->IsDay();
}

Color WorldHooks::GetDayLightColor()
{
    DayNightManager* dayNight = DayNightManager::Get();
    return dayNight ? dayNight->GetLightColor() : Color();
}

Color WorldHooks::GetDaySkyAmbientColor()
{
    DayNightManager* dayNight = DayNightManager::Get();
    return dayNight ? dayNight->GetSkyAmbientColor() : Color();
}

Color WorldHooks::GetDayGroundAmbientColor()
{
    DayNightManager* dayNight = DayNightManager::Get();
    return dayNight ? dayNight->GetGroundAmbientColor() : Color();
}

Vec3 WorldHooks::GetDayLightDirection()
{
    DayNightManager* dayNight = DayNightManager::Get();
    return dayNight ? dayNight->GetLightDirection() : Vec3(0.0f, 1.0f, 0.0f);
}

// ---- NetworkWorldServices ----------------------------------------------------------------------

RegionId WorldHooks::GetIdOfRegion(const Region* region)
{
    return region ? region->GetId() : RegionId();
}

Region* WorldHooks::FindRegion(const RegionId& id, bool searchLoadedFirst)
{
    World* world = World::GetCurrent();
    return world ? world->GetRegionById(id, searchLoadedFirst) : nullptr;
}

Entity* WorldHooks::AsEntity(Object* object)
{
    return object && Entity::IsEntity(object) ? static_cast<Entity*>(object) : nullptr;
}

Object* WorldHooks::AsObject(Entity* entity)
{
    return entity;
}

void WorldHooks::WriteReplicationData(Entity* entity, NetPacketOutBuffer& buffer)
{
    if (entity)
        entity->WriteReplicationData(buffer);
}

void WorldHooks::ReadReplicationData(Entity* entity, NetPacketInBuffer& buffer)
{
    if (entity)
        entity->ReadReplicationData(buffer);
}

void WorldHooks::ApplyReplicationData(Entity* entity)
{
    if (entity)
        entity->ApplyReplicationData();
}

bool WorldHooks::AddToWorld(Entity* entity, const WorldCoords& coords)
{
    World* world = World::GetCurrent();
    return world && world->AddEntity(entity, coords, false);
}

void WorldHooks::SetSpawnVelocity(Entity* entity, const Vec3& velocity)
{
    if (!entity)
        return;
    entity->SetPhysicsType(PHYSICS_TYPE_ACTOR);
    if (PhysicsEngine* physics = WorldServices::Physics())
        physics->SetEntityLinearVelocity(entity, velocity);
}

NetworkControllerBase* WorldHooks::GetNetworkController()
{
    return WorldServices::NetworkController();
}

NetworkEntityList* WorldHooks::GetNetworkEntityList()
{
    return WorldServices::EntityList();
}

} // namespace GAME
