// What the network benchmarks share: a quiet log, a game packet numbered in sequence, its creator,
// and a controller that takes a session's entity calls and does nothing with them.
#pragma once

#include "core/Log.h"
#include "network/NetPacket.h"
#include "network/NetPacketBuffer.h"
#include "network/NetworkControllerBase.h"
#include "network/NetworkPacketCreatorBase.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Bench {

// The sessions' log lines are not the benchmark's output.
class QuietLog : public GAME::LogSink
{
public:
    void Write(int, unsigned int, const char*) override {}
};

// A game packet: a sequence number and `size` bytes (the number's low byte), read back whole up
// to maxPayload bytes.
class SequencedPacket : public GAME::NetPacket
{
public:
    static constexpr size_t maxPayload = 8192;
    explicit SequencedPacket(GAME::PACKET_TYPE type, uint32_t sequence_ = 0, size_t size = 0)
        : NetPacket(type), sequence(sequence_)
    {
        payload.assign(size, static_cast<uint8_t>(sequence_));
    }
    void Write(GAME::NetPacketOutBuffer& buffer) override
    {
        buffer.Add(&sequence);
        buffer.AddBytes(payload.data(), payload.size());
    }
    bool Read(GAME::NetPacketInBuffer& buffer) override
    {
        buffer.Remove(&sequence);
        buffer.RemoveBytes(&payload, maxPayload);
        return !buffer.Failed();
    }
    uint32_t sequence;
    std::vector<uint8_t> payload;
};

class SequencedCreator : public GAME::NetworkPacketCreatorBase
{
public:
    GAME::NetPacket* CreatePacket(GAME::PACKET_TYPE type) override { return new SequencedPacket(type); }
};

// Entity calls taken and dropped; ProcessPacket is the benchmark's.
class PacketController : public GAME::NetworkControllerBase
{
public:
    void AddEntityToClient(int, GAME::Entity*) override {}
    void RemoveEntitiesFromClient(int, const std::vector<unsigned int>&) override {}
    void OnEntityAdded(GAME::Entity*, bool) override {}
    void OnReplicationFailed(unsigned int) override {}
};

} // namespace Bench
