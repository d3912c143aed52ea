// One message on the wire. The engine's control and link packets and the host's game packets all
// derive from it; the host's packet creator (GAME::NetworkPacketCreatorBase) makes a packet object
// for each type read off the wire. A packet belongs to one thread at a time.
#pragma once

#include <cstdint>

namespace GAME {

// Packet types are numbered 0 to 126: the engine's control and link packets, then the game's.
enum PACKET_TYPE : int32_t
{
    PACKET_TYPE_FIRST = 0,
    PACKET_TYPE_SPAWN_ACTOR = 31, // announces an entity to the clients
    PACKET_TYPE_LAST = 126,
};

class NetPacket
{
public:
    explicit NetPacket(PACKET_TYPE type) : m_type(type) {}
    virtual ~NetPacket() = default;
    NetPacket(const NetPacket&) = default;
    NetPacket& operator=(const NetPacket&) = default;

    PACKET_TYPE GetType() const { return m_type; }
    // The type's text for log lines.
    virtual const char* GetTypeName() const { return "NetPacket"; }

private:
    PACKET_TYPE m_type;
};

} // namespace GAME
