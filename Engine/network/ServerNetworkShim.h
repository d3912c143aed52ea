// The shim of a game that runs as a server: actions and configuration commands go as packets to the
// server through the server connection manager, which delivers them to its own network controller
// at its next Update (see GAME::NetworkShim, GAME::ServerConnectionManager). Main thread only.
#pragma once

#include "network/NetworkShim.h"

namespace GAME {

class ServerNetworkShim : public NetworkShim
{
public:
    ServerNetworkShim() = default;
};

} // namespace GAME
