#include "network/ObjectInteractionPacket.h"

#include "network/SmartObjectId.h"

#include <algorithm>

namespace GAME {

void ObjectInteractionPacket::UnregisterId(SmartObjectId* id)
{
    m_ids.erase(std::remove(m_ids.begin(), m_ids.end(), id), m_ids.end());
}

void ObjectInteractionPacket::FinishReplication()
{
    // By index: completing an id may not change the list, but stay safe if it does.
    for (size_t i = 0; i < m_ids.size(); ++i) {
        m_ids[i]->PreparePendingEntity();
        m_ids[i]->FinishReplication();
    }
}

size_t ObjectInteractionPacket::GetNumSpawns() const
{
    size_t count = 0;
    for (const SmartObjectId* id : m_ids)
        count += id->ShouldReplicate() ? 1 : 0;
    return count;
}

void ObjectInteractionPacket::RefuseReplication()
{
    for (SmartObjectId* id : m_ids) {
        id->MarkForReplication(false);
        id->SetReplicationResult(false);
    }
}

} // namespace GAME
