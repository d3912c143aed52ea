// The shim of a game without network: it sends nothing and leaves actions and commands alone
// (a command handed to it stays the caller's). Main thread only.
#pragma once

#include "network/NetworkShim.h"

namespace GAME {

class StubNetworkShim : public NetworkShim
{
public:
    StubNetworkShim() = default;
    void SendCharacterAction(CharacterAction*) override {}
    void SendConfigCommand(ActorConfigCommand*) override {}
};

} // namespace GAME
