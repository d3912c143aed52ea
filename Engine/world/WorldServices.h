// What the world, its levels and its entities need of the engine object: the sector data manager
// and the table of map chunk callbacks (world files), and the editor and network roles, the
// entity update inflation, the host's entity render filter, the physics engine and the network's
// controller and entity list (levels and entities), and for regions the save path (fog of war),
// single-processor mode (loading thread priorities), the render device (minimap and icon
// textures) and the resource loader (region loaders). The engine implements this interface and
// installs it when it is constructed (and removes it when it goes away); the file system,
// statistics text and frame count come through EngineDataServices.
//
// Without an engine (tests of the world files and levels) there is no sector data manager (sector
// data files and chunks are skipped, once logged), no callback table (installing a callback fails,
// map chunks of other ids are skipped), no editor mode, no network role, no filter, no physics and
// no network, and the update inflation is the engine's 15.0; there is no save path (fog of war is
// neither read nor saved), no single-processor mode, no render device and no resource loader. The level and entity services have
// these answers as defaults, so an implementation overrides what it has.
//
// Threads: Install and Remove on the main thread before regions load; the roles are also read by
// level loading threads; everything else is a main-thread call.
#pragma once

#include "world/FilterFunction.h"

#include <string>

namespace GAME {

class Entity;
class RenderDevice;
class ResourceLoader;
class MapChunkCallback;
class MapChunkCallbackMap;
class NetworkControllerBase;
class NetworkEntityList;
class PhysicsEngine;
class SectorDataManager;

class WorldServices
{
public:
    // Engine::GetEntityUpdateInflation.
    static constexpr float defaultEntityUpdateInflation = 15.0f;

    virtual ~WorldServices() = default;

    // ---- World files ----
    // The engine's own manager (held by the engine for its whole life).
    virtual SectorDataManager* GetSectorDataManager() = 0;
    // Hands the callback to the engine's table (MapChunkCallbackMap::Install's answer).
    virtual bool InstallMapChunkCallback(MapChunkCallback* callback) = 0;
    virtual const MapChunkCallbackMap& GetChunkCallbackMap() = 0;

    // ---- Levels and entities ----
    virtual bool IsEditorMode() { return false; }
    virtual bool IsNetworkServer() { return false; }
    virtual bool IsNetworkClient() { return false; }
    virtual float GetEntityUpdateInflation() { return defaultEntityUpdateInflation; }
    // Null when the host installed none.
    virtual const FilterFunction<Entity>* GetEntityRenderFilter() { return nullptr; }
    virtual PhysicsEngine* GetPhysicsEngine() { return nullptr; }
    virtual NetworkControllerBase* GetNetworkController() { return nullptr; }
    // The current connection manager's entity list; null when it has none.
    virtual NetworkEntityList* GetNetworkEntityList() { return nullptr; }

    // ---- Regions ----
    // The folder fog-of-war files go under (ends with a separator); empty for none.
    virtual std::string GetSavePath() { return std::string(); }
    virtual bool IsSingleProcessorMode() { return false; }
    // Null without a graphics engine.
    virtual RenderDevice* GetRenderDevice() { return nullptr; }
    virtual ResourceLoader* GetResourceLoader() { return nullptr; }

    // Installs the one implementation (null removes it).
    static void Install(WorldServices* services);
    static WorldServices* Get();

    // The engine's sector data manager; null (logged once per installation) without an engine.
    static SectorDataManager* SectorData();

    // Shorthands that stand in for a missing engine.
    static bool EditorMode();
    static bool NetworkServer();
    static bool NetworkClient();
    static float EntityUpdateInflation();
    static const FilterFunction<Entity>* EntityRenderFilter();
    static PhysicsEngine* Physics();
    static NetworkControllerBase* NetworkController();
    static NetworkEntityList* EntityList();
    static std::string SavePath();
    static bool SingleProcessorMode();
    static RenderDevice* Device();
    static ResourceLoader* Loader();

    // Whether some client of the entity list holds the entity (false without a list).
    static bool IsEntityOnClients(const Entity* entity);
    // Takes the entity out of every client's table of the entity list.
    static void RemoveEntityFromAllClients(const Entity* entity);
};

} // namespace GAME
