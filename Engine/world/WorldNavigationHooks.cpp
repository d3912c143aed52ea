#include "world/WorldNavigationHooks.h"

#include "navigation/RagDollModel.h"
#include "scene/GraphicsMesh.h"
#include "scene/GraphicsMeshInstance.h"
#include "terrain/GridRegion.h"
#include "world/Entity.h"
#include "world/Level.h"
#include "world/Portal.h"
#include "world/Region.h"
#include "world/World.h"

namespace GAME {

namespace {

// A mesh in a pose, as the rag doll's model.
class PosedMesh final : public RagDollModel
{
public:
    PosedMesh(const GraphicsMesh& mesh, const SkeletalPose& pose) : m_mesh(mesh), m_pose(pose) {}

    const char* GetFileName() const override { return m_mesh.GetFileName(); }
    uint32_t GetNumRigidBodyDescriptions() const override { return m_mesh.GetNumRigidBodyDescriptions(); }
    const RigidBodyDescription& GetRigidBodyDescription(uint32_t index) const override
    {
        return m_mesh.GetRigidBodyDescription(index);
    }
    uint32_t GetNumJointDescriptions() const override { return m_mesh.GetNumJointDescriptions(); }
    const JointDescription& GetJointDescription(uint32_t index) const override
    {
        return m_mesh.GetJointDescription(index);
    }
    int32_t GetBoneIndex(const Name& bone) const override { return m_mesh.GetBoneIndex(bone); }
    Coords GetBoneCoords(int32_t bone) const override { return m_mesh.GetAbsCoords(m_pose, bone); }

private:
    const GraphicsMesh& m_mesh;
    const SkeletalPose& m_pose;
};

} // namespace

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

const NavigationGround* WorldNavigationHooks::GetGround(const Region* region)
{
    return region && region->GetGround().GetTerrain() ? &region->GetGround() : nullptr;
}

const GridRegion* WorldNavigationHooks::GetGridRegion(const Level* level)
{
    return level ? level->GetGridRegion() : nullptr;
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

std::unique_ptr<RagDollModel> WorldNavigationHooks::GetRagDollModel(const GraphicsMesh& mesh,
                                                                    const SkeletalPose& pose)
{
    return std::make_unique<PosedMesh>(mesh, pose);
}

} // namespace GAME
