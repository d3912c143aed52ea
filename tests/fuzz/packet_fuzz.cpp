// The network's receive path on bytes of any kind, without sockets. The first byte chooses where
// the rest goes:
//   0  a datagram from anyone to a server whose client has joined (header, authentication,
//      sequence checks, then the packet made for its type and read)
//   1  the server's answer to a client's connect request (the handshake's parser)
//   2  a type byte and a body that pass authentication (sealed by the joined client): the packet
//      bodies' readers, the client view and spawn data, completed as the pump completes them
// Nothing may crash, hang or leak, and a datagram Open accepts must be exactly as long as its
// header says.
#include "common/FuzzSeeds.h"
#include "common/QuietLog.h"

#include "../network/NetworkTestKit.h"

#include "core/Log.h"
#include "core/WorldFrustum.h"
#include "network/ClientView.h"
#include "network/ConnectionManager.h"
#include "network/NetworkConnection.h"

#include <cstdlib>

namespace {

bool Join(GAME::NetworkConnection& client, GAME::NetworkConnection& server)
{
    std::vector<uint8_t> request, accept;
    GAME::NetPacketHeader header;
    const uint8_t* body = nullptr;
    size_t size = 0;
    return client.MakeConnectRequest(request) &&
           server.Open(request.data(), request.size(), header, body, size) ==
               GAME::NetworkConnection::RESULT_OK &&
           server.AcceptConnectRequest(body, size, 1, accept) == GAME::NetworkConnection::RESULT_OK &&
           client.Open(accept.data(), accept.size(), header, body, size) ==
               GAME::NetworkConnection::RESULT_OK;
}

void Receive(GAME::NetworkConnection& link, const uint8_t* data, size_t size)
{
    static GAME::Test::GamePacketCreator creator;
    GAME::NetworkConnection::Result result;
    GAME::NetPacketHeader header;
    GAME::NetPacket* packet =
        GAME::ConnectionManager::ReadPacket(link, data, size, &creator, &result, &header);
    if (result == GAME::NetworkConnection::RESULT_OK && header.size != size)
        std::abort();
    if (packet) {
        if (result != GAME::NetworkConnection::RESULT_OK)
            std::abort();
        packet->FinishReplication();
        delete packet;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzLog::Silence();
    if (size < 1)
        return 0;
    const uint8_t mode = data[0] % 3;
    ++data;
    --size;

    GAME::NetworkConnection client(GAME::NetworkConnection::SIDE_CLIENT);
    GAME::NetworkConnection server(GAME::NetworkConnection::SIDE_SERVER);
    if (mode == 1) {
        std::vector<uint8_t> request;
        if (!client.MakeConnectRequest(request))
            std::abort();
        GAME::NetPacketHeader header;
        const uint8_t* body = nullptr;
        size_t bodySize = 0;
        if (client.Open(data, size, header, body, bodySize) == GAME::NetworkConnection::RESULT_OK &&
            header.type == GAME::PACKET_TYPE_CONNECT_ACCEPT && !client.IsKeyed())
            std::abort();
        return 0;
    }
    if (!Join(client, server))
        std::abort();
    if (mode == 0) {
        Receive(server, data, size);
        return 0;
    }
    if (size < 1)
        return 0;
    std::vector<uint8_t> datagram;
    if (!client.Seal(data[0] % (GAME::PACKET_TYPE_LAST + 1), data + 1, size - 1, datagram))
        return 0;
    Receive(server, datagram.data(), datagram.size());
    if (data[0] % (GAME::PACKET_TYPE_LAST + 1) == GAME::PACKET_TYPE_CLIENT_VIEW) {
        GAME::RegionId region;
        GAME::Frustum frustum;
        if (GAME::ClientView::Read(data + 1, size - 1, region, frustum)) {
            std::vector<uint8_t> again;
            if (!GAME::ClientView::Write(GAME::WorldFrustum(nullptr, frustum), again) ||
                again.size() != size - 1)
                std::abort();
        }
    }
    return 0;
}

void EngineFuzzSeeds(FuzzSeedSink& sink)
{
    using namespace GAME;
    auto withMode = [](uint8_t mode, const std::vector<uint8_t>& bytes) {
        std::vector<uint8_t> out(bytes.size() + 1, mode);
        std::copy(bytes.begin(), bytes.end(), out.begin() + 1);
        return out;
    };
    auto body = [](NetPacket& packet) {
        std::vector<uint8_t> bytes;
        ConnectionManager::WriteBody(&packet, bytes);
        return bytes;
    };

    // Mode 2: a type, then a body the project's writers made.
    Test::GamePacket command(Test::commandType, 12, "equip sword", Test::Blob(12, 64));
    std::vector<uint8_t> typed(1, static_cast<uint8_t>(Test::commandType));
    std::vector<uint8_t> bytes = body(command);
    typed.insert(typed.end(), bytes.begin(), bytes.end());
    sink.Add("game_command", withMode(2, typed));

    SpawnActorPacket spawn;
    spawn.GetEntityId() = 0x20000011u;
    typed.assign(1, static_cast<uint8_t>(PACKET_TYPE_SPAWN_ACTOR));
    bytes = body(spawn);
    typed.insert(typed.end(), bytes.begin(), bytes.end());
    sink.Add("spawn_id_only", withMode(2, typed));
    // Spawn data as an entity on the server would send it (written field by field: no world).
    NetPacketOutBuffer out;
    uint32_t id = 0x00000042u;
    bool yes = true;
    std::string record = "records/crate.dbr";
    out.Add(&id);
    out.Add(&yes);
    out.Add(&record);
    for (int i = 0; i < 4; ++i) {
        Vec3 axis(i == 0 ? 1.0f : 0.0f, i == 1 ? 1.0f : 0.0f, i == 2 ? 1.0f : 0.0f);
        out.Add(&axis);
    }
    for (int i = 0; i < 4; ++i) {
        uint32_t word = 7;
        out.Add(&word);
    }
    out.Add(&yes);
    Vec3 velocity(0.5f, 0.0f, 0.0f);
    out.Add(&velocity);
    const uint8_t visible = 1;
    out.AddBytes(&visible, 1);
    typed.assign(1, static_cast<uint8_t>(PACKET_TYPE_SPAWN_ACTOR));
    typed.insert(typed.end(), out.GetData().begin(), out.GetData().end());
    sink.Add("spawn_with_data", withMode(2, typed));

    Frustum frustum;
    for (int i = 0; i < 6; ++i)
        frustum.AddPlane(Plane(Vec3(0.0f, 1.0f, 0.0f), static_cast<float>(i)));
    ClientView::Write(WorldFrustum(nullptr, frustum), bytes);
    typed.assign(1, static_cast<uint8_t>(PACKET_TYPE_CLIENT_VIEW));
    typed.insert(typed.end(), bytes.begin(), bytes.end());
    sink.Add("client_view", withMode(2, typed));

    // Modes 0 and 1: whole datagrams of a real session (they fail authentication under the
    // fuzzer's fresh keys, but carry every field in its place).
    NetworkConnection client(NetworkConnection::SIDE_CLIENT), server(NetworkConnection::SIDE_SERVER);
    std::vector<uint8_t> request, accept, datagram;
    NetPacketHeader header;
    const uint8_t* b = nullptr;
    size_t size = 0;
    client.MakeConnectRequest(request);
    server.Open(request.data(), request.size(), header, b, size);
    server.AcceptConnectRequest(b, size, 1, accept);
    sink.Add("connect_request", withMode(0, request));
    sink.Add("connect_accept", withMode(1, accept));
    std::vector<uint8_t> refusal;
    NetworkConnection::MakeRefusal(NetworkConnection::REFUSE_SERVER_FULL, refusal);
    sink.Add("connect_refuse", withMode(1, refusal));
    bytes = body(command);
    server.Seal(static_cast<uint8_t>(Test::commandType), bytes.data(), bytes.size(), datagram);
    sink.Add("sealed_command", withMode(0, datagram));
}
