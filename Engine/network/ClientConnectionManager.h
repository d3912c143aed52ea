// The connection manager of a game that joins a server. Its local host id stays -1 until a server
// assigns one, which without a network transport in this build never happens: the client is never
// connected and has no entity list. Main thread only.
#pragma once

#include "network/ConnectionManager.h"

namespace GAME {

class ClientConnectionManager : public ConnectionManager
{
public:
    ClientConnectionManager() : ConnectionManager(-1) {}
    Role GetRole() const override { return ROLE_CLIENT; }
    const char* GetRoleName() const override { return "client"; }
    bool IsConnected() const { return false; }
    void DumpHostTable() const override;
};

} // namespace GAME
