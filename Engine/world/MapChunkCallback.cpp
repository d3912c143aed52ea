#include "world/MapChunkCallback.h"

#include "core/Log.h"

namespace GAME {

MapChunkCallbackMap::~MapChunkCallbackMap()
{
    Clear();
}

bool MapChunkCallbackMap::Install(MapChunkCallback* callback)
{
    if (!callback)
        return false;
    const unsigned id = callback->GetChunkId();
    if (m_callbacks.count(id)) {
        LogPrintf(2, "Duplicate MapChunkCallback being installed for Id %d", static_cast<int>(id));
        return false;
    }
    m_callbacks[id] = callback;
    return true;
}

MapChunkCallback* MapChunkCallbackMap::Find(unsigned chunkId) const
{
    auto it = m_callbacks.find(chunkId);
    return it == m_callbacks.end() ? nullptr : it->second;
}

void MapChunkCallbackMap::Clear()
{
    for (auto& entry : m_callbacks)
        delete entry.second;
    m_callbacks.clear();
}

} // namespace GAME
