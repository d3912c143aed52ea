#include "network/NetPacketHeader.h"

#include <cstring>

namespace GAME {

bool NetPacketHeader::Read(const uint8_t* data, size_t length)
{
    if (!data || length < headerSize)
        return false;
    size = static_cast<uint16_t>(data[0] | (data[1] << 8));
    type = data[2];
    hostId = data[3];
    sequence = static_cast<uint32_t>(data[4]) | (static_cast<uint32_t>(data[5]) << 8) |
               (static_cast<uint32_t>(data[6]) << 16) | (static_cast<uint32_t>(data[7]) << 24);
    std::memcpy(auth, data + 8, authSize);
    return true;
}

void NetPacketHeader::Write(uint8_t* out) const
{
    out[0] = static_cast<uint8_t>(size);
    out[1] = static_cast<uint8_t>(size >> 8);
    out[2] = type;
    out[3] = hostId;
    for (int i = 0; i < 4; ++i)
        out[4 + i] = static_cast<uint8_t>(sequence >> (8 * i));
    std::memcpy(out + 8, auth, authSize);
}

} // namespace GAME
