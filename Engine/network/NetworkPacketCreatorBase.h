// The host's packet factory (Engine::SetNetPacketCreator, not owned): given a packet type, a new
// packet object of the host's class for it, or null for a type it does not know. The engine's
// CreateNetPacket goes through it. Main thread.
#pragma once

#include "network/NetPacket.h"

namespace GAME {

class NetworkPacketCreatorBase
{
public:
    // A new packet, owned by the caller.
    virtual NetPacket* CreatePacket(PACKET_TYPE type) = 0;
    virtual ~NetworkPacketCreatorBase() = default;
};

} // namespace GAME
