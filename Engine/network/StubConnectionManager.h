// The connection manager of a game without network, current at start-up and after
// Engine::ShutdownNetwork. It is its own only host (id 0), has no clients and sends nothing
// (its shim never asks it to). Main thread only.
#pragma once

#include "network/ConnectionManager.h"

namespace GAME {

class StubConnectionManager : public ConnectionManager
{
public:
    StubConnectionManager() : ConnectionManager(0) {}
    Role GetRole() const override { return ROLE_STUB; }
    const char* GetRoleName() const override { return "stub"; }
};

} // namespace GAME
