// The server's record of its remote clients: for each client (by host number) whether its view
// frustum is known, that frustum, and which entities (object ids) the client holds, each with a
// mark (-1: present on the client). The engine's frame adds the known client frusta to the frusta
// the world updates for, stores a client's view when it reports one, and compares the entities in
// that view with the client's table to decide what to send and what to drop. Main thread only.
//
// The server connection manager enters each client when its handshake completes and removes it
// when its link closes (AddClient, RemoveClient); a replicated entity may also enter the client
// that owns it (SmartObjectId::FinishReplication). It also hands the list the gate through which
// the world writes what the clients' views alone make it do (the loads, completions and unloads
// of levels only they brought in), so that those lines come under its cap on peers' lines.
#pragma once

#include "core/WorldFrustum.h"

#include <map>
#include <vector>

namespace GAME {

class LogGate;

class NetworkEntityList
{
public:
    // Mark of an entity the client holds.
    static constexpr int entityPresent = -1;

    struct Client
    {
        int host = -1;
        bool frustumKnown = false;
        WorldFrustum frustum;
        // Object id -> mark, ordered by id.
        std::map<unsigned int, int> entities;
    };

    NetworkEntityList() = default;
    virtual ~NetworkEntityList() = default;
    NetworkEntityList(const NetworkEntityList&) = delete;
    NetworkEntityList& operator=(const NetworkEntityList&) = delete;

    // False when the host is already a client (its record is kept) or is negative.
    virtual bool AddClient(int host);
    // False when there is no such client.
    virtual bool RemoveClient(int host);
    virtual void RemoveAllClients();
    // The client's record, or null for a host that is no client.
    virtual Client* GetClient(int host);
    virtual int GetNumClients() const { return static_cast<int>(m_clients.size()); }
    // Appends the frusta of the clients whose view is known, in host order.
    virtual void GetClientFrustumList(std::vector<WorldFrustum>& frusta) const;
    // Stores the client's view; a host that is no client is ignored (one log line).
    virtual void UpdateFrustum(int host, const WorldFrustum& frustum);
    // One log line per client: host, whether its view is known, its entity count.
    void DebugRender() const;
    // The gate for lines that clients' views alone cause outside their packets: installed on the
    // main thread while such lines are logged (SetThreadLogGate), it writes them as the session's
    // cap allows and counts the rest. Null when no session gave one; not owned.
    LogGate* GetViewLineGate() const { return m_viewLineGate; }
    void SetViewLineGate(LogGate* gate) { m_viewLineGate = gate; }

private:
    std::map<int, Client> m_clients;
    LogGate* m_viewLineGate = nullptr;
};

} // namespace GAME
