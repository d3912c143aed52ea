// The 16 bytes in front of every packet on the wire, little-endian:
//
//   offset 0   u16  size: the whole packet, header included (16 to maxPacketSize)
//   offset 2   u8   type: PACKET_TYPE, 0 to 126
//   offset 3   u8   host id of the sender: 0 the server, 1 to 15 a client, 255 not yet known
//   offset 4   u32  sequence number: 1, 2, 3... per direction of a link (0 in the handshake
//                   request, which is sent before there is a session)
//   offset 8   u8[8] authentication: the first 8 bytes of HMAC-SHA256 under the link's session
//                   key over the header (with this field zero) and the body; zero before a
//                   session key exists
//
// One datagram carries one packet: the size must equal the datagram's length. A plain value.
#pragma once

#include <cstddef>
#include <cstdint>

namespace GAME {

class NetPacketHeader
{
public:
    static constexpr size_t headerSize = 16;
    static constexpr size_t authSize = 8;
    static constexpr size_t maxPacketSize = 0xFFFF;
    static constexpr size_t maxBodySize = maxPacketSize - headerSize;
    static constexpr uint8_t unknownHost = 0xFF;

    uint16_t size = 0;
    uint8_t type = 0;
    uint8_t hostId = unknownHost;
    uint32_t sequence = 0;
    uint8_t auth[authSize] = {};

    // Reads the first 16 bytes; false when fewer are given. Says nothing of the values.
    bool Read(const uint8_t* data, size_t length);
    // Writes 16 bytes.
    void Write(uint8_t* out) const;
};

} // namespace GAME
