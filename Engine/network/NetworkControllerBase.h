// The host's network controller (Engine::SetNetworkController, not owned): the game's side of
// replication. The engine tells it which entities a client must be sent or must drop as the
// client's view moves, which entities a region has just added, and which replicated objects
// could not be made; the connection managers hand it every game packet they receive, and the
// server asks it before a client's packet makes objects. Main thread.
#pragma once

#include <vector>

namespace GAME {

class Entity;
class NetPacket;

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
    // A game packet arrived from `host` (0 the server); on the server also what its own shim sent.
    // The packet is read and its replicated objects completed; it stays the connection manager's
    // and is deleted when the call returns. The default ignores it.
    virtual void ProcessPacket(int host, NetPacket* packet)
    {
        (void)host;
        (void)packet;
    }
    // Server: a packet from client `host` asks to make objects here (the spawn data of the ids it
    // names); called before anything is made and before ProcessPacket. The server has checked
    // that every id is of the client's own host, that each place is inside the world and that the
    // client stays within its spawn rate. Nothing is made unless this answers true; ProcessPacket
    // then finds the ids of a refused packet failed (SmartObjectId::GetReplicationResult). The
    // default refuses: a client makes nothing on the server unless the game wants it to.
    virtual bool AcceptClientSpawns(int host, NetPacket* packet)
    {
        (void)host;
        (void)packet;
        return false;
    }
    virtual ~NetworkControllerBase() = default;
};

} // namespace GAME
