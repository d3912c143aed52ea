// One message on the wire. The engine's control and link packets and the host's game packets all
// share one numbering; the host's packet creator (GAME::NetworkPacketCreatorBase) makes a packet
// object for each game type read off the wire, and the packet reads its body from the bytes that
// follow the 16-byte header (GAME::NetPacketHeader). A packet belongs to one thread at a time.
//
// Types 0 to 15 are the engine's own: control packets (the connect handshake) and link packets
// (a client's view); the connection managers handle them and never hand them to the host. Types
// 16 to 126 are game packets: the host's, and the engine's spawn packet (31).
#pragma once

#include <cstdint>

namespace GAME {

class NetPacketInBuffer;
class NetPacketOutBuffer;

enum PACKET_TYPE : int32_t
{
    PACKET_TYPE_FIRST = 0, // reserved: never sent, dropped when received
    // Control: the connect handshake.
    PACKET_TYPE_CONNECT_REQUEST = 1, // client -> server: protocol version, key share
    PACKET_TYPE_CONNECT_ACCEPT = 2,  // server -> client: the client's host id, key share
    PACKET_TYPE_CONNECT_REFUSE = 3,  // server -> client: why the client cannot join
    // Link.
    PACKET_TYPE_CLIENT_VIEW = 8, // client -> server: the client's view frustum
    PACKET_TYPE_FIRST_GAME = 16,
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

    // The body as the packet sends it; the base has none.
    virtual void Write(NetPacketOutBuffer& buffer);
    // Takes the body in the order Write put it. False (or a failed buffer) drops the packet; so
    // does a body with bytes left unread.
    virtual bool Read(NetPacketInBuffer& buffer);
    // Runs once the packet was read, before the host sees it: packets that carry objects complete
    // them here (ObjectInteractionPacket spawns its replicated entities).
    virtual void FinishReplication() {}

private:
    PACKET_TYPE m_type;
};

// The engine's name of a type for log lines ("CONNECT_REQUEST", "SPAWN_ACTOR", "game packet").
const char* GetPacketTypeText(int type);

} // namespace GAME
