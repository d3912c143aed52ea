// What the network's sessions and replication need of the world above them, which they may not
// include: a region's id and name, the current world's region of an id (views and spawn frames
// name regions by id on the wire) and whether its level is in; the record an entity a client asks
// for would be made from; of the entities packets replicate: whether an object is one,
// whether it is in the world, its frame, its replication data, its entry into the current world and
// the velocity it is spawned with; and the network controller and entity list the world reports
// its entities to (the engine's, through the world's own WorldServices). Region boxes come from
// core's RegionServices; regions and entities only pass through the network as pointers.
//
// The world implements this interface and installs it for as long as the library is loaded
// (world/WorldHooks.cpp): regions and entities exist without an engine. Without an implementation
// (never the case inside the library) Current() answers for a missing world: regions have no id or
// name, no region is found or loaded, no record makes an entity, no object is an entity, nothing
// joins a world, and there is no controller or entity list.
//
// Threads: main thread, like the objects it reads (packets are read and completed in the frame's
// network pump); Install while nothing else runs.
#pragma once

#include "core/Vec3.h"
#include "core/WorldCoords.h"
#include "data/RegionId.h"

#include <string>

namespace GAME {

class Entity;
class NetPacketInBuffer;
class NetPacketOutBuffer;
class NetworkControllerBase;
class NetworkEntityList;
class Object;
class Region;

class NetworkWorldServices
{
public:
    virtual ~NetworkWorldServices() = default;

    // ---- Regions ----
    // The region's id; no id for a null region.
    virtual RegionId GetIdOfRegion(const Region* region) = 0;
    virtual std::string GetRegionName(const Region* region) = 0;
    // The current world's region of the id (its loaded regions searched first when asked); null
    // without a current world or without such a region.
    virtual Region* FindRegion(const RegionId& id, bool searchLoadedFirst) = 0;
    // Whether the region's level is in and complete, so that an entity enters it without the level
    // being loaded for it there and then.
    virtual bool IsRegionLoaded(const Region* region) = 0;

    // ---- Records ----
    // Whether the record database (or the record files, when the engine reads no database) has
    // the record and it makes an entity; `stored` gets the name as the database keeps it (as the
    // file system finds it), which is the name to make the entity from. Keeps nothing of a name
    // it does not find and makes nothing.
    virtual bool FindEntityRecord(const std::string& name, std::string& stored) = 0;

    // ---- Entities ----
    // The object as an entity, and back; null when it is none.
    virtual Entity* AsEntity(Object* object) = 0;
    virtual Object* AsObject(Entity* entity) = 0;
    virtual bool IsInWorld(const Entity* entity) = 0;
    virtual WorldCoords GetCoords(const Entity* entity) = 0;
    virtual void WriteReplicationData(Entity* entity, NetPacketOutBuffer& buffer) = 0;
    virtual void ReadReplicationData(Entity* entity, NetPacketInBuffer& buffer) = 0;
    virtual void ApplyReplicationData(Entity* entity) = 0;
    // World::AddEntity into the current world, not quiet; false without a current world.
    virtual bool AddToWorld(Entity* entity, const WorldCoords& coords) = 0;
    // Makes the entity a simulated actor moving at the velocity (through the engine's physics
    // engine, when it has one).
    virtual void SetSpawnVelocity(Entity* entity, const Vec3& velocity) = 0;

    // ---- What the world reports entities to ----
    // Null when there is none.
    virtual NetworkControllerBase* GetNetworkController() = 0;
    virtual NetworkEntityList* GetNetworkEntityList() = 0;

    // Installs the one implementation (null removes it).
    static void Install(NetworkWorldServices* services);
    // Null when none is installed.
    static NetworkWorldServices* Get();
    // The installed implementation, or the answers of a missing world.
    static NetworkWorldServices& Current();
};

} // namespace GAME
