// The packet (type 31) that announces an entity to the clients: the entity's smart id, which the
// server sets to the entity's object id (Entity::CreateSpawnNetPacket). Its body is the smart
// id's wire form, always with spawn data, so the client can make the entity (see SmartObjectId.h).
// One thread at a time.
#pragma once

#include "network/NetPacketBuffer.h"
#include "network/ObjectInteractionPacket.h"
#include "network/SmartObjectId.h"

namespace GAME {

class SpawnActorPacket : public ObjectInteractionPacket
{
public:
    SpawnActorPacket() : ObjectInteractionPacket(PACKET_TYPE_SPAWN_ACTOR), m_entity(this) {}
    SpawnActorPacket(const SpawnActorPacket&) = delete;
    SpawnActorPacket& operator=(const SpawnActorPacket&) = delete;
    const char* GetTypeName() const override { return "SpawnActorPacket"; }
    void Write(NetPacketOutBuffer& buffer) override
    {
        m_entity.MarkForReplication(true);
        m_entity.Write(buffer);
    }
    bool Read(NetPacketInBuffer& buffer) override
    {
        m_entity.Read(buffer);
        return !buffer.Failed();
    }

    SmartObjectId& GetEntityId() { return m_entity; }
    const SmartObjectId& GetEntityId() const { return m_entity; }

private:
    SmartObjectId m_entity;
};

} // namespace GAME
