#include "graphics/ResourceEvictor.h"

#include "data/BaseResourceManager.h"
#include "graphics/RenderDevice.h"

#include <algorithm>

namespace GAME {

void ResourceEvictor::Add(BaseResourceManager* manager)
{
    if (manager && std::find(m_managers.begin(), m_managers.end(), manager) == m_managers.end())
        m_managers.push_back(manager);
}

void ResourceEvictor::Remove(BaseResourceManager* manager)
{
    m_managers.erase(std::remove(m_managers.begin(), m_managers.end(), manager), m_managers.end());
}

void ResourceEvictor::Evict(int frames)
{
    for (BaseResourceManager* manager : m_managers)
        manager->EvictOldResources(frames);
}

int ResourceEvictor::GetEvictionFrames(unsigned int freeVideoMemory)
{
    if (freeVideoMemory < lowMemory)
        return static_cast<int>(static_cast<double>(freeVideoMemory) * 2.3047130e-06 + 2.0);
    if (freeVideoMemory < tightMemory)
        return tightMemoryFrames;
    return -1;
}

void ResourceEvictor::Update()
{
    if (!m_device)
        return;
    const int frames = GetEvictionFrames(m_device->GetFreeVideoMemory());
    if (frames >= 0)
        Evict(frames);
}

} // namespace GAME
