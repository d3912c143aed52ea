// A reference to an object inside a network packet: the object id (bits 28-31 name the client
// that owns the object) and what the receiver needs to create the entity when it does not exist
// yet: the spawn frame, an optional velocity and the pending entity the packet's reader made from
// the object's record. Every id made for a packet registers with it; FinishReplication, run when
// the packet has been read, spawns the pending entity into the world. SmartObjectIdList holds a
// variable number of ids and owns them; the nullable forms accept null ids in their packets.
//
// Wire form (Write/Read): u32 object id, then a bool that says whether spawn data follows; a
// marked id whose object is an entity sends it: the entity's record name (a string of at most
// maxRecordNameLength bytes), its frame (the spawn frame when one was set, else the entity's:
// nine f32 axes, the origin's three f32 and its region id as four u32), a bool for a velocity and
// the velocity, then the entity's replication data as a block of at most
// maxReplicationDataSize bytes. Received values are checked (finite numbers, lengths against
// the bytes left, a null id only in the nullable form); nothing is made while reading: the
// pending entity is made from the record when the packet completes (PreparePendingEntity, run by
// ObjectInteractionPacket::FinishReplication), so a packet dropped half-read leaves nothing behind.
//
// Main thread (packets are read and completed in the frame's network pump).
#pragma once

#include "core/Vec3.h"
#include "core/WorldCoords.h"

#include <cstdint>
#include <string>
#include <vector>

namespace GAME {

class Entity;
class NetPacketInBuffer;
class NetPacketOutBuffer;
class ObjectInteractionPacket;

class SmartObjectId
{
public:
    // Registers with the packet (which may be null for an id outside any packet).
    explicit SmartObjectId(ObjectInteractionPacket* packet);
    // Copies every field; the copy is not registered again.
    SmartObjectId(const SmartObjectId&) = default;
    SmartObjectId& operator=(const SmartObjectId&) = default;
    virtual ~SmartObjectId() = default;
    virtual bool IsNullAllowed() const { return false; }

    SmartObjectId& operator=(unsigned id)
    {
        m_id = id;
        return *this;
    }
    unsigned GetId() const { return m_id; }

    void MarkForReplication(bool mark) { m_marked = mark; }
    bool ShouldReplicate() const { return m_marked; }
    void SetReplicationResult(bool result) { m_result = result; }
    bool GetReplicationResult() const { return m_result; }

    void SetSpawnCoords(const WorldCoords& coords) { m_coords = coords; }
    const WorldCoords& GetSpawnCoords() const { return m_coords; }
    void SetVelocity(const Vec3& velocity)
    {
        m_velocity = velocity;
        m_hasVelocity = true;
    }
    bool HasVelocity() const { return m_hasVelocity; }
    const Vec3& GetVelocity() const { return m_velocity; }
    // The entity the packet's reader made (ObjectManager::CreateObjectFromFilePartial), not yet
    // entered or placed.
    void SetPendingEntity(Entity* entity) { m_pending = entity; }
    Entity* GetPendingEntity() const { return m_pending; }

    // Spawns the pending entity under the id at the spawn frame; the result says whether it
    // joined the world. A pending entity that does not join is destroyed.
    void FinishReplication();

    static constexpr size_t maxRecordNameLength = 1024;
    static constexpr size_t maxReplicationDataSize = 16384;

    void Write(NetPacketOutBuffer& buffer);
    // Marks the buffer failed for a value it cannot accept.
    void Read(NetPacketInBuffer& buffer);
    // Received spawn data: makes the pending entity from the record unless the pending entity is
    // set already or an object of the id exists here (then nothing is spawned). A record that
    // does not make an entity sets the result to false (FinishReplication reports it).
    void PreparePendingEntity();
    // The record name received with spawn data; empty without. A receiver that checked the record
    // may put the name its own database keeps it under in its place (before the entity is made).
    const std::string& GetRecordName() const { return m_recordName; }
    void SetRecordName(const std::string& name) { m_recordName = name; }

private:
    WorldCoords m_coords;
    bool m_hasVelocity = false;
    Vec3 m_velocity;
    Entity* m_pending = nullptr;
    unsigned m_id = 0;
    bool m_marked = false;
    bool m_result = true;
    std::string m_recordName;
    std::vector<uint8_t> m_replicationData;
};

class SmartObjectIdNullable : public SmartObjectId
{
public:
    using SmartObjectId::SmartObjectId;
    using SmartObjectId::operator=;
    bool IsNullAllowed() const override { return true; }
};

class SmartObjectIdList
{
public:
    explicit SmartObjectIdList(ObjectInteractionPacket* packet) : m_parent(packet) {}
    virtual ~SmartObjectIdList();
    // Ids are owned: a copy would delete them twice.
    SmartObjectIdList(const SmartObjectIdList&) = delete;
    SmartObjectIdList& operator=(const SmartObjectIdList&) = delete;

    // A new id registered with the list's packet (not added to the list).
    virtual SmartObjectId* CreateId();

    void AddId(unsigned id);
    // The list owns the id from now on.
    void AddId(SmartObjectId* id);
    void AddIdList(const std::vector<unsigned>& ids);
    // Appends the values to what the list holds.
    SmartObjectIdList& operator=(const std::vector<unsigned>& ids)
    {
        AddIdList(ids);
        return *this;
    }
    std::vector<unsigned> GetIdList() const;
    size_t Size() const { return m_ids.size(); }
    // Null out of range.
    SmartObjectId* operator[](size_t index) const { return index < m_ids.size() ? m_ids[index] : nullptr; }
    ObjectInteractionPacket* GetParent() const { return m_parent; }

private:
    ObjectInteractionPacket* m_parent;
    std::vector<SmartObjectId*> m_ids;
};

class SmartObjectIdListNullable : public SmartObjectIdList
{
public:
    using SmartObjectIdList::SmartObjectIdList;
    using SmartObjectIdList::operator=;
    SmartObjectId* CreateId() override;
};

} // namespace GAME
