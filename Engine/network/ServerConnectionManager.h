// The connection manager of the game that hosts: host 0, owner of the entity list that records
// each remote client's view and entities. Shutdown forgets every client. Without a network
// transport in this build clients do not join by themselves; whoever stands in for the transport
// enters them in the entity list. Main thread only.
#pragma once

#include "network/ConnectionManager.h"
#include "network/NetworkEntityList.h"

namespace GAME {

class ServerConnectionManager : public ConnectionManager
{
public:
    static constexpr int serverHostId = 0;

    ServerConnectionManager() : ConnectionManager(serverHostId) {}
    Role GetRole() const override { return ROLE_SERVER; }
    const char* GetRoleName() const override { return "server"; }
    void Shutdown() override;
    void DumpHostTable() const override;
    NetworkEntityList* GetNetworkEntityList() override { return &m_entityList; }

private:
    NetworkEntityList m_entityList;
};

} // namespace GAME
