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

} // namespace GAME
