// A packet that names objects by smart id (entities to act on or to spawn): each SmartObjectId
// made for the packet registers itself here, so that the receiving side can complete all of them
// (FinishReplication) once the packet is read. The ids are not owned: they are members of the
// packet or of its id lists. One thread at a time.
#pragma once

#include "network/NetPacket.h"

#include <cstddef>
#include <vector>

namespace GAME {

class SmartObjectId;

class ObjectInteractionPacket : public NetPacket
{
public:
    explicit ObjectInteractionPacket(PACKET_TYPE type) : NetPacket(type) {}
    // The registrations name this packet's members: a copy starts without them.
    ObjectInteractionPacket(const ObjectInteractionPacket& other) : NetPacket(other) {}
    ObjectInteractionPacket& operator=(const ObjectInteractionPacket& other)
    {
        NetPacket::operator=(other);
        return *this;
    }
    const char* GetTypeName() const override { return "ObjectInteractionPacket"; }

    void RegisterId(SmartObjectId* id)
    {
        if (id)
            m_ids.push_back(id);
    }
    // Forgets an id that goes away before the packet (ids of a list that is cleared).
    void UnregisterId(SmartObjectId* id);
    size_t GetNumIds() const { return m_ids.size(); }
    SmartObjectId* GetId(size_t index) const { return index < m_ids.size() ? m_ids[index] : nullptr; }
    // Every registered id, in registration order, makes the entity its received spawn data names
    // and spawns it (SmartObjectId::PreparePendingEntity, then FinishReplication).
    void FinishReplication() override;
    // Ids that carry received spawn data (those FinishReplication would make).
    size_t GetNumSpawns() const;
    // Before FinishReplication: none of the ids makes its object; each reports failure.
    void RefuseReplication();

private:
    std::vector<SmartObjectId*> m_ids;
};

} // namespace GAME
