// The shim of a game that runs as a server: actions and configuration commands go as packets to the
// server through the server connection manager (see GAME::NetworkShim). Main thread only.
#pragma once

#include "network/NetworkShim.h"

namespace GAME {

class ServerNetworkShim : public NetworkShim
{
public:
    ServerNetworkShim() = default;
};

} // namespace GAME
