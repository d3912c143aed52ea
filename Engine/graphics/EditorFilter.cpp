#include "graphics/EditorFilter.h"

#include "core/ObjectManager.h"
#include "graphics/GraphicsWorldServices.h"

namespace GAME {

EditorFilter::EditorFilter()
{
    for (int type = FILTER_TYPE_FIRST; type <= FILTER_TYPE_LAST; ++type)
        m_filters[type] = false;
    m_syncTimer.Reset();
}

bool EditorFilter::GetFilterAll() const
{
    for (const auto& [type, filtered] : m_filters)
        if (!filtered)
            return false;
    return true;
}

bool EditorFilter::GetFilterNone() const
{
    for (const auto& [type, filtered] : m_filters)
        if (filtered)
            return false;
    return true;
}

void EditorFilter::SetFilterAll()
{
    for (auto& [type, filtered] : m_filters)
        filtered = true;
}

void EditorFilter::SetFilterNone()
{
    for (auto& [type, filtered] : m_filters)
        filtered = false;
}

bool EditorFilter::GetFilter(int type) const
{
    auto it = m_filters.find(type);
    return it != m_filters.end() && it->second;
}

void EditorFilter::SetFilter(int type, bool filtered)
{
    auto it = m_filters.find(type);
    if (it != m_filters.end())
        it->second = filtered;
}

void EditorFilter::AddFilterObject(unsigned int objectId, int type)
{
    if (objectId == 0)
        return;
    Entry entry;
    entry.type = type;
    m_objects[objectId] = entry;
}

void EditorFilter::RemoveFilterObject(unsigned int objectId)
{
    m_objects.erase(objectId);
}

bool EditorFilter::IsObjectFiltered(unsigned int objectId) const
{
    auto it = m_objects.find(objectId);
    return it != m_objects.end() && it->second.applied;
}

void EditorFilter::Sync()
{
    m_syncTimer.Update(false);
    if (m_syncTimer.GetTotalElapsedTime() < syncIntervalMs)
        return;
    m_syncTimer.Reset();
    for (auto& [id, entry] : m_objects) {
        const bool filtered = GetFilter(entry.type);
        if (filtered != entry.applied) {
            HideShowObject(id, filtered);
            entry.applied = filtered;
        }
    }
}

void EditorFilter::HideShowObject(unsigned int objectId, bool hide)
{
    Object* object = ObjectManager::Get()->GetObject(objectId);
    GraphicsWorldServices* world = GraphicsWorldServices::Get();
    if (object && world)
        world->SetEntityVisibility(object, !hide);
}

} // namespace GAME
