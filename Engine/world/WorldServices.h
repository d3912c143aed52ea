// What the world's files and sectors need of the engine object: its sector data manager and its
// table of map chunk callbacks. The engine implements this interface and installs it when it is
// constructed (and removes it when it goes away); the file system, statistics text and frame count
// come through EngineDataServices.
//
// Without an engine (tests of the world files) there is no sector data manager (sector data files
// and chunks are skipped, once logged) and no callback table (installing a callback fails, map
// chunks of other ids are skipped).
//
// Threads: Install and Remove on the main thread; the getters are main-thread calls.
#pragma once

namespace GAME {

class MapChunkCallback;
class MapChunkCallbackMap;
class SectorDataManager;

class WorldServices
{
public:
    virtual ~WorldServices() = default;

    // The engine's own manager (held by the engine for its whole life).
    virtual SectorDataManager* GetSectorDataManager() = 0;
    // Hands the callback to the engine's table (MapChunkCallbackMap::Install's answer).
    virtual bool InstallMapChunkCallback(MapChunkCallback* callback) = 0;
    virtual const MapChunkCallbackMap& GetChunkCallbackMap() = 0;

    // Installs the one implementation (null removes it).
    static void Install(WorldServices* services);
    static WorldServices* Get();

    // The engine's sector data manager; null (logged once per installation) without an engine.
    static SectorDataManager* SectorData();
};

} // namespace GAME
