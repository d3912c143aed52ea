// The host's hook for chunks of a compiled map that the world does not read itself. A callback is
// made for one chunk id and installed with World::InstallMapChunkCallback; from then on the engine's
// MapChunkCallbackMap owns it. Called on the main thread while the map loads.
#pragma once

#include <cstddef>
#include <map>

namespace GAME {

class BinaryReader;

class MapChunkCallback
{
public:
    explicit MapChunkCallback(unsigned chunkId) : m_chunkId(chunkId) {}
    virtual ~MapChunkCallback() = default;
    MapChunkCallback(const MapChunkCallback&) = delete;
    MapChunkCallback& operator=(const MapChunkCallback&) = delete;

    unsigned GetChunkId() const { return m_chunkId; }
    // Reads the chunk's payload. The reader holds exactly the payload; the map goes on at the
    // chunk's end whatever the callback read.
    virtual void ReadChunk(BinaryReader& reader) = 0;

private:
    unsigned m_chunkId;
};

// The engine's table of installed callbacks, one per chunk id. Owns the callbacks and deletes them
// with itself or Clear. Main thread.
class MapChunkCallbackMap
{
public:
    MapChunkCallbackMap() = default;
    ~MapChunkCallbackMap();
    MapChunkCallbackMap(const MapChunkCallbackMap&) = delete;
    MapChunkCallbackMap& operator=(const MapChunkCallbackMap&) = delete;

    // False for null, and false with a notice when the id already has a callback (the new one is
    // then neither stored nor deleted).
    bool Install(MapChunkCallback* callback);
    // Null when no callback reads the id.
    MapChunkCallback* Find(unsigned chunkId) const;
    size_t GetNumCallbacks() const { return m_callbacks.size(); }
    // Deletes every callback.
    void Clear();

private:
    std::map<unsigned, MapChunkCallback*> m_callbacks;
};

} // namespace GAME
