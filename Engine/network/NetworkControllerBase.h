// The host's network controller (Engine::SetNetworkController, not owned): the game's side of
// replication. The engine tells it which entities a client must be sent or must drop as the
// client's view moves, which entities a region has just added, and which replicated objects
// could not be made. Main thread.
#pragma once

#include <vector>

namespace GAME {

class Entity;

class NetworkControllerBase
{
public:
    // Server: the entity came into the view of client `host`; spawn it there.
    virtual void AddEntityToClient(int host, Entity* entity) = 0;
    // Server: these entities (object ids) left the view of client `host`; remove them there.
    virtual void RemoveEntitiesFromClient(int host, const std::vector<unsigned int>& objectIds) = 0;
    // A region added the entity (added: whether it was added).
    virtual void OnEntityAdded(Entity* entity, bool added) = 0;
    // A replication packet failed to make the object of this id.
    virtual void OnReplicationFailed(unsigned int objectId) = 0;
    // A number the host raises whenever the set of entities a client should hold was refreshed;
    // a client's levels then deactivate listed entities its view no longer holds. Its meaning
    // lies with the host; the default never changes.
    virtual unsigned int GetGeneration() { return 0; }
    virtual ~NetworkControllerBase() = default;
};

} // namespace GAME
