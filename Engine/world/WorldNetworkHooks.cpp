#include "world/WorldNetworkHooks.h"

#include "navigation/PhysicsEngine.h"
#include "world/Entity.h"
#include "world/Region.h"
#include "world/World.h"
#include "world/WorldServices.h"

namespace GAME {

// ---- Regions ------------------------------------------------------------------------------------

RegionId WorldNetworkHooks::GetIdOfRegion(const Region* region)
{
    return region ? region->GetId() : RegionId();
}

std::string WorldNetworkHooks::GetRegionName(const Region* region)
{
    return region ? region->GetName() : std::string();
}

Region* WorldNetworkHooks::FindRegion(const RegionId& id, bool searchLoadedFirst)
{
    World* world = World::GetCurrent();
    return world ? world->GetRegionById(id, searchLoadedFirst) : nullptr;
}

// ---- Entities -----------------------------------------------------------------------------------

Entity* WorldNetworkHooks::AsEntity(Object* object)
{
    return object && Entity::IsEntity(object) ? static_cast<Entity*>(object) : nullptr;
}

Object* WorldNetworkHooks::AsObject(Entity* entity)
{
    return entity;
}

bool WorldNetworkHooks::IsInWorld(const Entity* entity)
{
    return entity && entity->IsInWorld();
}

WorldCoords WorldNetworkHooks::GetCoords(const Entity* entity)
{
    return entity ? entity->GetCoords() : WorldCoords();
}

void WorldNetworkHooks::WriteReplicationData(Entity* entity, NetPacketOutBuffer& buffer)
{
    if (entity)
        entity->WriteReplicationData(buffer);
}

void WorldNetworkHooks::ReadReplicationData(Entity* entity, NetPacketInBuffer& buffer)
{
    if (entity)
        entity->ReadReplicationData(buffer);
}

void WorldNetworkHooks::ApplyReplicationData(Entity* entity)
{
    if (entity)
        entity->ApplyReplicationData();
}

bool WorldNetworkHooks::AddToWorld(Entity* entity, const WorldCoords& coords)
{
    World* world = World::GetCurrent();
    return world && world->AddEntity(entity, coords, false);
}

void WorldNetworkHooks::SetSpawnVelocity(Entity* entity, const Vec3& velocity)
{
    if (!entity)
        return;
    entity->SetPhysicsType(PHYSICS_TYPE_ACTOR);
    if (PhysicsEngine* physics = WorldServices::Physics())
        physics->SetEntityLinearVelocity(entity, velocity);
}

// ---- What the world reports entities to ---------------------------------------------------------

NetworkControllerBase* WorldNetworkHooks::GetNetworkController()
{
    return WorldServices::NetworkController();
}

NetworkEntityList* WorldNetworkHooks::GetNetworkEntityList()
{
    return WorldServices::EntityList();
}

} // namespace GAME
