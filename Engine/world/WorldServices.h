// What levels and entities need of the engine object: the editor and network roles, the entity
// update inflation, the host's entity render filter, the physics engine and the network's
// controller and entity list. The engine implements this interface and installs it when it is
// constructed (Install(nullptr) when it goes away); frame counts and the file system come through
// EngineDataServices.
//
// Without an engine the answers stand in for a missing one: not editor mode, no network role,
// inflation 15.0, no filter, no physics, no controller, no entity list.
//
// Threads: installed on the main thread before regions load; the getters are read by level
// loading threads (roles, editor mode) and the main thread.
#pragma once

#include "world/FilterFunction.h"

namespace GAME {

class Entity;
class NetworkControllerBase;
class NetworkEntityList;
class PhysicsEngine;

class WorldServices
{
public:
    // Engine::GetEntityUpdateInflation.
    static constexpr float defaultEntityUpdateInflation = 15.0f;

    virtual ~WorldServices() = default;

    virtual bool IsEditorMode() = 0;
    virtual bool IsNetworkServer() = 0;
    virtual bool IsNetworkClient() = 0;
    virtual float GetEntityUpdateInflation() = 0;
    // Null when the host installed none.
    virtual const FilterFunction<Entity>* GetEntityRenderFilter() = 0;
    virtual PhysicsEngine* GetPhysicsEngine() = 0;
    virtual NetworkControllerBase* GetNetworkController() = 0;
    // The current connection manager's entity list; null when it has none.
    virtual NetworkEntityList* GetNetworkEntityList() = 0;

    static void Install(WorldServices* services);
    static WorldServices* Get();

    // Shorthands that stand in for a missing engine.
    static bool EditorMode();
    static bool NetworkServer();
    static bool NetworkClient();
    static float EntityUpdateInflation();
    static const FilterFunction<Entity>* EntityRenderFilter();
    static PhysicsEngine* Physics();
    static NetworkControllerBase* NetworkController();
    static NetworkEntityList* EntityList();

    // Whether some client of the entity list holds the entity (false without a list).
    static bool IsEntityOnClients(const Entity* entity);
    // Takes the entity out of every client's table of the entity list.
    static void RemoveEntityFromAllClients(const Entity* entity);
};

} // namespace GAME
