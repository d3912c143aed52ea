// The network's receive path on bytes of any kind, without sockets. The first byte chooses where
// the rest goes:
//   0  a datagram from anyone to a server whose client has joined (header, authentication,
//      sequence checks, then the packet made for its type and read)
//   1  the client's side of the handshake: a real server answers the client's request (an accept
//      with a host id, or an authenticated refusal, as the next two bytes say), and the client
//      first opens answers the input makes, each `kind length bytes[length]`: the genuine answer
//      with bytes flipped (pairs of offset and mask), bytes as they are, or the genuine answer
//      cut short; then the genuine answer itself
//   2  a type byte and a body that pass authentication (sealed by the joined client): the packet
//      bodies' readers, the client view and spawn data, completed as the pump completes them
// Nothing may crash, hang or leak, and a datagram Open accepts must be exactly as long as its
// header says. In mode 1 the client takes no answer but the genuine one (an accept or an
// authenticated refusal in any other form is never opened), whatever came before it the genuine
// one is still taken, and once it was an accept both ends exchange packets under the keys.
#include "common/FuzzSeeds.h"
#include "common/QuietLog.h"

#include "../network/NetworkTestKit.h"

#include "core/Log.h"
#include "core/WorldFrustum.h"
#include "network/ClientView.h"
#include "network/ConnectionManager.h"
#include "network/NetworkConnection.h"

#include <algorithm>
#include <iterator>
#include <cstdlib>
#include <vector>

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

// Answers whether the datagram became a packet.
bool Receive(GAME::NetworkConnection& link, const uint8_t* data, size_t size)
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
    return packet != nullptr;
}

// Mode 1 (see the banner).
void Handshake(GAME::NetworkConnection& client, GAME::NetworkConnection& server, const uint8_t* data, size_t size)
{
    using GAME::NetworkConnection;
    if (size < 2)
        return;
    const bool accepting = data[0] % 2 == 0;
    const uint8_t hostId = static_cast<uint8_t>(1 + data[1] % 15);
    data += 2;
    size -= 2;

    std::vector<uint8_t> request, genuine;
    GAME::NetPacketHeader header;
    const uint8_t* body = nullptr;
    size_t bodySize = 0;
    if (!client.MakeConnectRequest(request) ||
        server.Open(request.data(), request.size(), header, body, bodySize) != NetworkConnection::RESULT_OK)
        std::abort();
    if (accepting ? server.AcceptConnectRequest(body, bodySize, hostId, genuine) != NetworkConnection::RESULT_OK
                  : !server.RefuseConnectRequest(body, bodySize, NetworkConnection::REFUSE_SERVER_FULL, genuine))
        std::abort();

    // Opens one answer; true when the client took it as the server's (an accept or a refusal it
    // could authenticate), which only the genuine answer may be.
    bool taken = false;
    auto open = [&](const std::vector<uint8_t>& answer) {
        const bool keyedBefore = client.IsKeyed();
        if (client.Open(answer.data(), answer.size(), header, body, bodySize) != NetworkConnection::RESULT_OK) {
            if (client.IsKeyed() != keyedBefore)
                std::abort(); // a refused answer changed the join
            return;
        }
        if (header.size != answer.size())
            std::abort();
        const bool authenticated = header.type == GAME::PACKET_TYPE_CONNECT_ACCEPT ||
                                   (header.type == GAME::PACKET_TYPE_CONNECT_REFUSE &&
                                    bodySize == NetworkConnection::authenticatedRefusalBodySize);
        if (!authenticated) {
            // A plain refusal, which anyone can send: handed on, but the join goes on.
            if (header.type != GAME::PACKET_TYPE_CONNECT_REFUSE || bodySize != 1 || client.IsKeyed() != keyedBefore)
                std::abort();
            return;
        }
        if (answer != genuine || taken)
            std::abort(); // a forged, altered or repeated answer was taken
        taken = true;
        if (client.IsKeyed() != accepting || (accepting && client.GetLocalHostId() != hostId))
            std::abort();
    };

    size_t offset = 0;
    while (offset + 2 <= size) {
        const uint8_t kind = data[offset] % 3;
        const size_t length = std::min<size_t>(data[offset + 1], size - offset - 2);
        const uint8_t* bytes = data + offset + 2;
        offset += 2 + length;
        std::vector<uint8_t> answer;
        if (kind == 0) {
            answer = genuine;
            for (size_t i = 0; i + 1 < length; i += 2)
                answer[bytes[i] % answer.size()] ^= bytes[i + 1];
        } else if (kind == 1) {
            answer.assign(bytes, bytes + length);
        } else {
            answer.assign(genuine.begin(), genuine.begin() + (length > 0 ? bytes[0] % genuine.size() : 0));
        }
        open(answer);
    }
    if (!taken)
        open(genuine);
    if (!taken)
        std::abort(); // the genuine answer was refused
    if (!accepting)
        return;
    FuzzAccepted(); // the client joined

    // Keyed alike: each end opens what the other sealed, as it was sealed.
    const std::vector<uint8_t> payload(data, data + std::min<size_t>(size, 256));
    std::vector<uint8_t> datagram;
    for (NetworkConnection* from : {&server, &client}) {
        NetworkConnection& to = from == &server ? client : server;
        if (!from->Seal(static_cast<uint8_t>(GAME::PACKET_TYPE_FIRST_GAME), payload.data(), payload.size(), datagram) ||
            to.Open(datagram.data(), datagram.size(), header, body, bodySize) != NetworkConnection::RESULT_OK ||
            header.type != GAME::PACKET_TYPE_FIRST_GAME || std::vector<uint8_t>(body, body + bodySize) != payload)
            std::abort();
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
        Handshake(client, server, data, size);
        return 0;
    }
    if (!Join(client, server))
        std::abort();
    if (mode == 0) {
        if (Receive(server, data, size))
            FuzzAccepted();
        return 0;
    }
    if (size < 1)
        return 0;
    std::vector<uint8_t> datagram;
    if (!client.Seal(data[0] % (GAME::PACKET_TYPE_LAST + 1), data + 1, size - 1, datagram))
        return 0;
    if (Receive(server, datagram.data(), datagram.size()))
        FuzzAccepted();
    if (data[0] % (GAME::PACKET_TYPE_LAST + 1) == GAME::PACKET_TYPE_CLIENT_VIEW) {
        GAME::RegionId region;
        GAME::Frustum frustum;
        if (GAME::ClientView::Read(data + 1, size - 1, region, frustum)) {
            FuzzAccepted(); // the server's manager reads views itself
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
    sink.AddRefused("connect_request", withMode(0, request));
    // Mode 1: the answer's kind and host id, then the answers the input makes.
    sink.Add("genuine_accept", withMode(1, {0, 4}));
    sink.AddRefused("genuine_refusal", withMode(1, {1, 0})); // taken, but nobody joins
    // One bit of the host id flipped, then an accept of a session of its own, a plain refusal and
    // the accept cut after its header.
    std::vector<uint8_t> answers = {0, 2, 0, 2, static_cast<uint8_t>(NetPacketHeader::headerSize), 1,
                                    1, static_cast<uint8_t>(accept.size())};
    std::copy(accept.begin(), accept.end(), std::back_inserter(answers));
    std::vector<uint8_t> refusal;
    NetworkConnection::MakeRefusal(NetworkConnection::REFUSE_SERVER_FULL, refusal);
    answers.push_back(1);
    answers.push_back(static_cast<uint8_t>(refusal.size()));
    answers.insert(answers.end(), refusal.begin(), refusal.end());
    answers.insert(answers.end(), {2, 1, static_cast<uint8_t>(NetPacketHeader::headerSize)});
    sink.Add("forged_answers", withMode(1, answers));
    bytes = body(command);
    server.Seal(static_cast<uint8_t>(Test::commandType), bytes.data(), bytes.size(), datagram);
    sink.AddRefused("sealed_command", withMode(0, datagram));
}
