// The world's answers to network's NetworkWorldServices: a region's id and name, the current
// world's region of an id and whether its level is in; whether a record the engine's record
// database has makes an entity; of entities, whether an object is one, whether it is in the world, its
// frame, its replication data, its entry into the current world and its spawn velocity (through the
// engine's physics engine); and the network controller and entity list the world's own
// WorldServices reports. WorldHooks installs it.
//
// Threads: main thread, like the regions and entities it reads.
#pragma once

#include "network/NetworkWorldServices.h"

namespace GAME {

class WorldNetworkHooks final : public NetworkWorldServices
{
public:
    RegionId GetIdOfRegion(const Region* region) override;
    std::string GetRegionName(const Region* region) override;
    Region* FindRegion(const RegionId& id, bool searchLoadedFirst) override;
    bool IsRegionLoaded(const Region* region) override;
    bool FindEntityRecord(const std::string& name, std::string& stored) override;
    Entity* AsEntity(Object* object) override;
    Object* AsObject(Entity* entity) override;
    bool IsInWorld(const Entity* entity) override;
    WorldCoords GetCoords(const Entity* entity) override;
    void WriteReplicationData(Entity* entity, NetPacketOutBuffer& buffer) override;
    void ReadReplicationData(Entity* entity, NetPacketInBuffer& buffer) override;
    void ApplyReplicationData(Entity* entity) override;
    bool AddToWorld(Entity* entity, const WorldCoords& coords) override;
    void SetSpawnVelocity(Entity* entity, const Vec3& velocity) override;
    NetworkControllerBase* GetNetworkController() override;
    NetworkEntityList* GetNetworkEntityList() override;
};

} // namespace GAME
