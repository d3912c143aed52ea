#include "core/UniqueIdMap.h"

namespace GAME {

void UniqueIdMap::AddEntity(const UniqueId& id, Entity* entity)
{
    CriticalSectionLock lock(m_lock);
    m_entities.emplace(id, entity);
}

void UniqueIdMap::RemoveEntity(const UniqueId& id)
{
    CriticalSectionLock lock(m_lock);
    m_entities.erase(id);
}

bool UniqueIdMap::RemoveEntity(const UniqueId& id, const Entity* entity)
{
    CriticalSectionLock lock(m_lock);
    auto found = m_entities.find(id);
    if (found == m_entities.end() || found->second != entity)
        return false;
    m_entities.erase(found);
    return true;
}

Entity* UniqueIdMap::GetEntity(const UniqueId& id) const
{
    CriticalSectionLock lock(m_lock);
    auto found = m_entities.find(id);
    return found == m_entities.end() ? nullptr : found->second;
}

size_t UniqueIdMap::GetNumEntities() const
{
    CriticalSectionLock lock(m_lock);
    return m_entities.size();
}

} // namespace GAME
