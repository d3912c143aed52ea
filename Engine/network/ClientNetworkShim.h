// The shim of a game that runs as a client: actions and configuration commands go as packets to the
// server through the client connection manager (see GAME::NetworkShim). Main thread only.
#pragma once

#include "network/NetworkShim.h"

namespace GAME {

class ClientNetworkShim : public NetworkShim
{
public:
    ClientNetworkShim() = default;
};

} // namespace GAME
