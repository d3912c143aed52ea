#include "network/NetPacket.h"

#include "network/NetPacketBuffer.h"

namespace GAME {

void NetPacket::Write(NetPacketOutBuffer&) {}

bool NetPacket::Read(NetPacketInBuffer&)
{
    return true;
}

const char* GetPacketTypeText(int type)
{
    switch (type) {
    case PACKET_TYPE_CONNECT_REQUEST:
        return "CONNECT_REQUEST";
    case PACKET_TYPE_CONNECT_ACCEPT:
        return "CONNECT_ACCEPT";
    case PACKET_TYPE_CONNECT_REFUSE:
        return "CONNECT_REFUSE";
    case PACKET_TYPE_CLIENT_VIEW:
        return "CLIENT_VIEW";
    case PACKET_TYPE_SPAWN_ACTOR:
        return "SPAWN_ACTOR";
    default:
        break;
    }
    if (type >= PACKET_TYPE_FIRST_GAME && type <= PACKET_TYPE_LAST)
        return "game packet";
    return "unknown";
}

} // namespace GAME
