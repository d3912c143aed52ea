// Packets, a packet creator and a network controller of a pretend game, shared by the network
// tests: game packets of types 40 and 41 carry a sequence number, a text and a block of bytes;
// the controller records everything it is handed.
#pragma once

#include "data/RegionId.h"
#include "network/NetPacket.h"
#include "network/NetPacketBuffer.h"
#include "network/NetworkControllerBase.h"
#include "network/NetworkPacketCreatorBase.h"
#include "network/SpawnActorPacket.h"

#include <cstdint>
#include <string>
#include <vector>

namespace GAME::Test {

constexpr PACKET_TYPE commandType = PACKET_TYPE(40);
constexpr PACKET_TYPE actionType = PACKET_TYPE(41);

class GamePacket : public NetPacket
{
public:
    explicit GamePacket(PACKET_TYPE type, uint32_t sequence_ = 0, std::string text_ = std::string(),
                        std::vector<uint8_t> blob_ = {})
        : NetPacket(type), sequence(sequence_), text(std::move(text_)), blob(std::move(blob_))
    {
    }
    const char* GetTypeName() const override { return "GamePacket"; }
    void Write(NetPacketOutBuffer& buffer) override
    {
        buffer.Add(&sequence);
        buffer.Add(&text);
        buffer.AddBytes(blob.data(), blob.size());
    }
    bool Read(NetPacketInBuffer& buffer) override
    {
        buffer.Remove(&sequence);
        buffer.Remove(&text, 200);
        buffer.RemoveBytes(&blob, 60000);
        return !buffer.Failed();
    }

    uint32_t sequence;
    std::string text;
    std::vector<uint8_t> blob;
};

// Bytes that differ with the sequence number, so that a packet that arrives mixed up shows.
inline std::vector<uint8_t> Blob(uint32_t sequence, size_t size)
{
    std::vector<uint8_t> blob(size);
    for (size_t i = 0; i < size; ++i)
        blob[i] = static_cast<uint8_t>(sequence * 31u + i * 7u);
    return blob;
}

class GamePacketCreator : public NetworkPacketCreatorBase
{
public:
    NetPacket* CreatePacket(PACKET_TYPE type) override
    {
        ++made;
        if (type == commandType || type == actionType)
            return new GamePacket(type);
        return nullptr; // the engine makes its own spawn packet
    }
    int made = 0;
};

class RecordingController : public NetworkControllerBase
{
public:
    struct Received
    {
        int host;
        int type;
        uint32_t sequence;
        std::string text;
        std::vector<uint8_t> blob;
        unsigned spawnId;
        bool spawned; // the spawn packet's object was made
    };

    void AddEntityToClient(int, Entity*) override {}
    void RemoveEntitiesFromClient(int, const std::vector<unsigned int>&) override {}
    void OnEntityAdded(Entity*, bool) override {}
    void OnReplicationFailed(unsigned int objectId) override { failed.push_back(objectId); }
    void ProcessPacket(int host, NetPacket* packet) override
    {
        Received r{host, static_cast<int>(packet->GetType()), 0, std::string(), {}, 0, false};
        if (packet->GetType() == commandType || packet->GetType() == actionType) {
            auto* game = static_cast<GamePacket*>(packet);
            r.sequence = game->sequence;
            r.text = game->text;
            r.blob = game->blob;
        } else if (packet->GetType() == PACKET_TYPE_SPAWN_ACTOR) {
            const SmartObjectId& id = static_cast<SpawnActorPacket*>(packet)->GetEntityId();
            r.spawnId = id.GetId();
            r.spawned = id.ShouldReplicate() && id.GetReplicationResult();
        }
        received.push_back(std::move(r));
    }
    bool AcceptClientSpawns(int, NetPacket*) override
    {
        ++spawnsAsked;
        return acceptSpawns;
    }

    size_t CountFrom(int host) const
    {
        size_t n = 0;
        for (const Received& r : received)
            n += r.host == host ? 1 : 0;
        return n;
    }

    std::vector<Received> received;
    std::vector<unsigned> failed;
    bool acceptSpawns = false;
    int spawnsAsked = 0;
};

// A spawn packet's wire form, written field by field so that any id and place can be sent: a
// client's request to make a crate, or a server's word of an object.
class SpawnRequest : public NetPacket
{
public:
    SpawnRequest(uint32_t id, const Vec3& place, const RegionId& region,
                 const Vec3& xAxis = Vec3(1.0f, 0.0f, 0.0f), const Vec3& yAxis = Vec3(0.0f, 1.0f, 0.0f),
                 const Vec3& zAxis = Vec3(0.0f, 0.0f, 1.0f))
        : NetPacket(PACKET_TYPE_SPAWN_ACTOR), m_id(id), m_place(place), m_region(region), m_xAxis(xAxis),
          m_yAxis(yAxis), m_zAxis(zAxis)
    {
    }
    SpawnRequest& Record(std::string record)
    {
        m_record = std::move(record);
        return *this;
    }
    void Write(NetPacketOutBuffer& out) override
    {
        bool yes = true, no = false;
        out.Add(&m_id);
        out.Add(&yes);
        out.Add(&m_record);
        Vec3 axes[3] = {m_xAxis, m_yAxis, m_zAxis};
        for (Vec3& axis : axes)
            out.Add(&axis);
        out.Add(&m_place);
        for (int i = 0; i < 4; ++i) {
            uint32_t word = m_region.GetWord(i);
            out.Add(&word);
        }
        out.Add(&no); // no velocity
        const uint8_t visible = 1;
        out.AddBytes(&visible, 1);
    }

private:
    uint32_t m_id;
    std::string m_record = "records/crate.dbr";
    Vec3 m_place;
    RegionId m_region;
    Vec3 m_xAxis;
    Vec3 m_yAxis;
    Vec3 m_zAxis;
};

} // namespace GAME::Test
