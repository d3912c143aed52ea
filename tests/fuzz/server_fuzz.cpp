// The listening server's receive path and its state machine, without sockets or threads: a run
// of events from up to twenty peers on eighteen addresses, as the socket's receive thread would
// hand them over (ConnectionManager::HandleSocketEvent), between the server's frames. What the
// server sends is kept per peer, so that a peer can read its answer and, once joined, send
// authenticated packets. A world of one region is current, so that the spawns clients ask for
// meet every check (their host, their frame, their region and place, their rate, the game's say).
//
// The input is a sequence of records, each `op peer length(u16, little-endian) bytes[length]`
// (two bytes, so that a sealed body can be as long as the largest view, ClientView::maxPlanes
// planes, or a spawn with its replication data):
//   0  the peer's transport connects
//   1  the peer's transport goes away
//   2  a datagram of the given bytes from the peer, as it is
//   3  the peer's link makes a genuine connect request and sends it
//   4  the peer reads what the server sent it (an accept keys its link)
//   5  the peer seals a packet: type bytes[0], body the rest (once its link is keyed)
//   6  a frame: the clock moves bytes[0] * 10 ms and the server updates
//   7  every link the server hung up on goes away, as the transport would tell it
//   8  the peer sends its last sealed datagram again (a replay)
//   9  the server sends a game command to a client (host bytes[0] % 16) or, for bytes[0] % 17 of
//      16, to every client; its text and blob are the rest of the bytes
//  10  the server sends a game command to itself (its shim's packets to the server)
// Nothing may crash, hang or leak, and after every record the server keeps what it promises: the
// links that finished the handshake are exactly its clients (one each, host ids 1 to 15, keyed,
// in its entity list), as many as the connections it sent an accept to that have not gone, a peer that took an accept holds the host id of its link, a send reaches
// exactly the joined clients named, each client opens what was sent to it whole and in order, the
// server's own packets reach its controller from host 0 at its next frame, whole and in order, and
// no link the server hung up on is ever answered a join.
#include "common/FuzzClock.h"
#include "common/FuzzSeeds.h"
#include "common/QuietLog.h"

#include "../network/NetworkTestKit.h"

#include "core/IntVec3.h"
#include "core/ObjectManager.h"
#include "core/Time.h"
#include "core/WorldFrustum.h"
#include "network/ClientView.h"
#include "network/ConnectionManager.h"
#include "network/NetworkConnection.h"
#include "network/ServerConnectionManager.h"
#include "world/Entity.h"
#include "world/Level.h"
#include "world/Region.h"
#include "world/World.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

using namespace GAME;

constexpr int peerCount = 20;
constexpr int addressCount = 18;
const RegionId worldRegion(7, 7, 7, 7);

enum Op : uint8_t
{
    OP_CONNECT = 0,
    OP_DISCONNECT,
    OP_DATAGRAM,
    OP_REQUEST,
    OP_READ,
    OP_SEAL,
    OP_FRAME,
    OP_HANG_UPS,
    OP_REPLAY,
    OP_SEND,
    OP_SEND_TO_SERVER,
    OP_COUNT,
};

// The engine's machine time, which moves only when the input says so.
FuzzClock& Clock()
{
    static FuzzClock* clock = [] {
        static FuzzClock instance(1000);
        SetMachineClock(&instance);
        InitializeTimeSystem();
        return &instance;
    }();
    return *clock;
}

// The server with its transport replaced: what it sends and whom it hangs up on is kept.
class FuzzServer : public ServerConnectionManager
{
public:
    using ConnectionManager::HandleSocketEvent;

    bool SendDatagram(Link& link, const std::vector<uint8_t>& datagram) override
    {
        const bool accept = datagram.size() > 2 && datagram[2] == PACKET_TYPE_CONNECT_ACCEPT;
        if (accept && hungUp.count(link.socketConnection) != 0)
            std::abort(); // a join answered on a link the server let go
        if (accept)
            accepted.insert(link.socketConnection);
        sent[link.socketConnection].push_back(datagram);
        return true;
    }
    // The transport tells the server that the connection went.
    void Disconnected(uint32_t connection)
    {
        Socket::Event event;
        event.kind = Socket::EVENT_DISCONNECTED;
        event.connection = connection;
        HandleSocketEvent(event);
        accepted.erase(connection);
    }
    void HangUp(Link& link) override { hungUp.insert(link.socketConnection); }

    // The links that finished the handshake against the client table and the entity list, and the
    // table against the harness's own count: a client for each connection the server sent an
    // accept to and that has not gone since.
    void CheckClients()
    {
        const std::vector<int> hosts = GetClientHostIds();
        std::set<int> ready;
        for (const auto& [connection, link] : GetLinks()) {
            if (!link->ready)
                continue;
            if (link->host < 1 || link->host > maxClients || !ready.insert(link->host).second ||
                !std::binary_search(hosts.begin(), hosts.end(), link->host) || !link->connection.IsKeyed() ||
                link->connection.GetRemoteHostId() != link->host || !GetNetworkEntityList()->GetClient(link->host))
                std::abort();
        }
        if (ready.size() != hosts.size() || accepted.size() != hosts.size() ||
            GetNetworkEntityList()->GetNumClients() != static_cast<int>(hosts.size()))
            std::abort();
    }
    // The host id of the connection's link once it joined, else -1.
    int HostOf(uint32_t connection)
    {
        const Link* link = FindLink(connection);
        return link && link->ready ? link->host : -1;
    }

    std::map<uint32_t, std::vector<std::vector<uint8_t>>> sent;
    std::set<uint32_t> hungUp;
    std::set<uint32_t> accepted; // connections sent an accept, until they go
};

// A game command as the harness sends it and expects it to arrive.
struct Command
{
    uint32_t sequence;
    std::string text;
    std::vector<uint8_t> blob;
};

// The text is the first 40 bytes, the blob the rest up to 1,000 (a command fits one datagram).
Command MakeCommand(uint32_t sequence, const uint8_t* bytes, size_t length)
{
    length = std::min<size_t>(length, 1040);
    const size_t text = std::min<size_t>(length, 40);
    return Command{sequence, std::string(bytes, bytes + text), std::vector<uint8_t>(bytes + text, bytes + length)};
}

struct Peer
{
    uint32_t connection = 0; // 0: not connected
    std::unique_ptr<NetworkConnection> link;
    std::vector<uint8_t> lastSealed;
    // Commands the server sent this connection that the peer has not read yet.
    std::deque<Command> expected;
    // Only its own one connect request went to the server: it must take the accept.
    bool clean = true;
    int requests = 0;
};

// The peer reads what the server sent it: a join keys its link with the host id of the server's
// link, and every command the server sent after it opens whole and in order.
void Read(FuzzServer& server, Peer& peer)
{
    static Test::GamePacketCreator creator;
    for (const std::vector<uint8_t>& datagram : server.sent[peer.connection]) {
        NetPacketHeader header;
        const uint8_t* body = nullptr;
        size_t bodySize = 0;
        const bool opened = peer.link->Open(datagram.data(), datagram.size(), header, body, bodySize) ==
                            NetworkConnection::RESULT_OK;
        if (datagram.size() <= 2 || datagram[2] != Test::commandType)
            continue;
        if (peer.expected.empty())
            std::abort(); // a command nobody sent
        const Command command = peer.expected.front();
        peer.expected.pop_front();
        if (!peer.link->IsKeyed() && !(peer.clean && peer.requests == 1))
            continue; // its own accept did not reach it: nothing of the session can be read
        if (!opened)
            std::abort();
        std::unique_ptr<NetPacket> packet(ConnectionManager::MakeGamePacket(header.type, body, bodySize, &creator));
        auto* game = static_cast<Test::GamePacket*>(packet.get());
        if (!game || game->sequence != command.sequence || game->text != command.text || game->blob != command.blob)
            std::abort();
    }
    server.sent[peer.connection].clear();
    const int host = server.HostOf(peer.connection);
    if (peer.link->IsKeyed() && (host < 0 || peer.link->GetLocalHostId() != host))
        std::abort();
    if (peer.link->IsKeyed())
        FuzzAccepted(); // a genuine client joined
}

// One bare region of 100 by 100 units, current for the whole run (the server only reads it).
void MakeWorld()
{
    static World* world = [] {
        Entity::InstallHooks();
        auto* made = new World();
        made->AddRegion("levels/yard.lvl", IntVec3(), ABBox(), worldRegion);
        Region* region = made->GetRegion(0);
        auto* level = new Level(region);
        level->NewSpace(Vec2(100.0f, 100.0f));
        level->PostLoad(false);
        region->SetLevel(level);
        region->SetId(worldRegion); // a new level gives its region a fresh id: the seeds name this one
        World::SetCurrent(made);
        return made;
    }();
    (void)world;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzLog::Silence();
    FuzzClock& clock = Clock();
    MakeWorld();
    static Test::GamePacketCreator creator;
    Test::RecordingController controller;
    FuzzServer server;
    server.SetNetPacketCreator(&creator);
    server.SetNetworkController(&controller);
    std::array<Peer, peerCount> peers;
    uint32_t nextConnection = 1;
    uint32_t sequence = 0;
    // The server's packets to itself not yet handed to its controller.
    std::deque<Command> toServer;
    // Its controller hears them at the next frame, from host 0, whole and in order.
    auto frame = [&] {
        const size_t before = controller.received.size();
        server.Update(5);
        for (size_t i = before; i < controller.received.size(); ++i) {
            const Test::RecordingController::Received& r = controller.received[i];
            if (r.host != ServerConnectionManager::serverHostId)
                continue;
            if (toServer.empty() || r.type != Test::commandType || r.sequence != toServer.front().sequence ||
                r.text != toServer.front().text || r.blob != toServer.front().blob)
                std::abort();
            toServer.pop_front();
        }
        if (!toServer.empty())
            std::abort();
        controller.received.clear();
    };

    size_t offset = 0;
    while (offset + 4 <= size) {
        const uint8_t op = data[offset] % OP_COUNT;
        Peer& peer = peers[data[offset + 1] % peerCount];
        const int index = data[offset + 1] % peerCount;
        const size_t length =
            std::min<size_t>(size_t(data[offset + 2]) | size_t(data[offset + 3]) << 8, size - offset - 4);
        const uint8_t* bytes = data + offset + 4;
        offset += 4 + length;

        Socket::Event event;
        switch (op) {
        case OP_CONNECT: {
            if (peer.connection != 0)
                break;
            peer.connection = nextConnection++;
            peer.link.reset(new NetworkConnection(NetworkConnection::SIDE_CLIENT));
            peer.expected.clear();
            peer.clean = true;
            peer.requests = 0;
            event.kind = Socket::EVENT_CONNECTED;
            event.connection = peer.connection;
            const std::string address =
                "10.0.0." + std::to_string(index % addressCount) + ":" + std::to_string(4000 + index);
            event.data.assign(address.begin(), address.end());
            server.HandleSocketEvent(event);
            break;
        }
        case OP_DISCONNECT:
            if (peer.connection == 0)
                break;
            server.Disconnected(peer.connection);
            peer.connection = 0;
            break;
        case OP_DATAGRAM:
            if (peer.connection == 0)
                break;
            peer.clean = false;
            event.kind = Socket::EVENT_RECEIVED;
            event.connection = peer.connection;
            event.data.assign(bytes, bytes + length);
            server.HandleSocketEvent(event);
            break;
        case OP_REQUEST:
            if (peer.connection == 0 || !peer.link->MakeConnectRequest(event.data))
                break;
            ++peer.requests;
            event.kind = Socket::EVENT_RECEIVED;
            event.connection = peer.connection;
            server.HandleSocketEvent(event);
            break;
        case OP_READ:
            if (peer.connection == 0)
                break;
            Read(server, peer);
            break;
        case OP_SEAL:
            if (peer.connection == 0 || length < 1 ||
                !peer.link->Seal(bytes[0] % (PACKET_TYPE_LAST + 1), bytes + 1, length - 1, event.data))
                break;
            peer.lastSealed = event.data;
            event.kind = Socket::EVENT_RECEIVED;
            event.connection = peer.connection;
            server.HandleSocketEvent(event);
            break;
        case OP_REPLAY:
            if (peer.connection == 0 || peer.lastSealed.empty())
                break;
            event.kind = Socket::EVENT_RECEIVED;
            event.connection = peer.connection;
            event.data = peer.lastSealed;
            server.HandleSocketEvent(event);
            break;
        case OP_FRAME:
            clock.now += (length > 0 ? bytes[0] : 1) * 10u;
            frame();
            break;
        case OP_SEND: {
            const int host = length > 0 ? bytes[0] % 17 : 1;
            const Command command = MakeCommand(++sequence, bytes + std::min<size_t>(length, 1),
                                                length - std::min<size_t>(length, 1));
            Test::GamePacket packet(Test::commandType, command.sequence, command.text, command.blob);
            const std::vector<int> hosts = server.GetClientHostIds();
            std::vector<int> reached;
            if (host == 16) {
                if (server.SendToAllClients(&packet) != static_cast<int>(hosts.size()))
                    std::abort();
                reached = hosts;
            } else {
                const bool client = std::binary_search(hosts.begin(), hosts.end(), host);
                if (server.SendToClient(host, &packet) != client)
                    std::abort();
                if (client)
                    reached.push_back(host);
            }
            for (Peer& other : peers)
                if (other.connection != 0 &&
                    std::find(reached.begin(), reached.end(), server.HostOf(other.connection)) != reached.end())
                    other.expected.push_back(command);
            break;
        }
        case OP_SEND_TO_SERVER: {
            const Command command = MakeCommand(++sequence, bytes, length);
            Test::GamePacket packet(Test::commandType, command.sequence, command.text, command.blob);
            if (!server.SendToServer(&packet))
                std::abort();
            toServer.push_back(command);
            break;
        }
        case OP_HANG_UPS:
            for (Peer& other : peers)
                if (other.connection != 0 && server.hungUp.count(other.connection) != 0) {
                    server.Disconnected(other.connection);
                    other.connection = 0;
                }
            break;
        default:
            break;
        }
        server.CheckClients();
    }
    frame();
    server.CheckClients();
    return 0;
}

void EngineFuzzSeeds(FuzzSeedSink& sink)
{
    using namespace GAME;
    auto record = [](std::vector<uint8_t>& out, Op op, int peer, const std::vector<uint8_t>& bytes = {}) {
        out.push_back(op);
        out.push_back(static_cast<uint8_t>(peer));
        out.push_back(static_cast<uint8_t>(bytes.size() & 0xFF));
        out.push_back(static_cast<uint8_t>(bytes.size() >> 8));
        out.insert(out.end(), bytes.begin(), bytes.end());
    };
    auto sealed = [](PACKET_TYPE type, const std::vector<uint8_t>& body) {
        std::vector<uint8_t> bytes(body.size() + 1);
        bytes[0] = static_cast<uint8_t>(type);
        std::copy(body.begin(), body.end(), bytes.begin() + 1);
        return bytes;
    };
    auto body = [](NetPacket& packet) {
        std::vector<uint8_t> bytes;
        ConnectionManager::WriteBody(&packet, bytes);
        return bytes;
    };

    // A client joins, reports its view, sends a game packet and a control packet nobody knows,
    // and leaves.
    std::vector<uint8_t> session;
    record(session, OP_CONNECT, 0);
    record(session, OP_REQUEST, 0);
    record(session, OP_FRAME, 0, {1});
    record(session, OP_READ, 0);
    Frustum frustum;
    frustum.AddPlane(Plane(Vec3(1.0f, 0.0f, 0.0f), 5.0f));
    frustum.AddPlane(Plane(Vec3(0.0f, 0.0f, 1.0f), -2.0f));
    std::vector<uint8_t> view;
    ClientView::Write(WorldFrustum(nullptr, frustum), view);
    record(session, OP_SEAL, 0, sealed(PACKET_TYPE_CLIENT_VIEW, view));
    Test::GamePacket command(Test::commandType, 7, "equip sword", Test::Blob(7, 32));
    record(session, OP_SEAL, 0, sealed(Test::commandType, body(command)));
    record(session, OP_SEAL, 0, sealed(PACKET_TYPE(12), {1, 2, 3}));
    record(session, OP_FRAME, 0, {20});
    record(session, OP_DISCONNECT, 0);
    sink.Add("join_view_leave", session);

    // Eight peers from four addresses ask at once, some twice, one never; frames pass, the
    // server lets some go.
    std::vector<uint8_t> crowd;
    for (int peer = 0; peer < peerCount; ++peer)
        record(crowd, OP_CONNECT, peer);
    for (int peer = 0; peer < peerCount - 1; ++peer)
        record(crowd, OP_REQUEST, peer);
    record(crowd, OP_REQUEST, 2);
    record(crowd, OP_FRAME, 0, {0});
    record(crowd, OP_HANG_UPS, 0);
    record(crowd, OP_FRAME, 0, {100});
    for (int peer = 0; peer < peerCount; ++peer)
        record(crowd, OP_READ, peer);
    record(crowd, OP_SEAL, 3, sealed(PACKET_TYPE_SPAWN_ACTOR, {0x11, 0, 0, 0x10, 1}));
    record(crowd, OP_DISCONNECT, 1);
    record(crowd, OP_CONNECT, 1);
    record(crowd, OP_REQUEST, 1);
    record(crowd, OP_FRAME, 0, {50});
    sink.Add("crowd", crowd);

    // Datagrams of the wire's own forms from a peer that never joined: a request sent as it is,
    // a short one, and a sealed-looking one with no session behind it.
    std::vector<uint8_t> stranger;
    NetworkConnection link(NetworkConnection::SIDE_CLIENT);
    std::vector<uint8_t> request;
    link.MakeConnectRequest(request);
    record(stranger, OP_CONNECT, 5);
    record(stranger, OP_DATAGRAM, 5, request);
    record(stranger, OP_DATAGRAM, 5, {1, 2, 3, 4, 5});
    std::vector<uint8_t> header(NetPacketHeader::headerSize, 0);
    NetPacketHeader fake;
    fake.size = static_cast<uint16_t>(header.size());
    fake.type = PACKET_TYPE_CLIENT_VIEW;
    fake.hostId = 1;
    fake.sequence = 1;
    fake.Write(header.data());
    record(stranger, OP_DATAGRAM, 5, header);
    record(stranger, OP_FRAME, 0, {255});
    // It goes on sending what fails the checks until the server hangs up, then asks to join.
    for (unsigned n = 0; n < ConnectionManager::maxRefusedDatagrams; ++n)
        record(stranger, OP_DATAGRAM, 5, header);
    record(stranger, OP_REQUEST, 5);
    record(stranger, OP_FRAME, 0, {1});
    record(stranger, OP_HANG_UPS, 0);
    sink.AddRefused("stranger", stranger);

    // A client asks for spawns that meet every check but the game's, and for ones that fail each
    // check in turn: another host's id, sheared, collapsed and mirrored frames, a place in no
    // region and one outside its region, then more than its rate; it reports a view of the most
    // planes a view may have and replays a sealed packet.
    auto spawn = [](uint32_t id, const Vec3& x, const Vec3& y, const Vec3& z, const Vec3& place,
                    const RegionId& region) {
        NetPacketOutBuffer out;
        bool yes = true, no = false;
        std::string record = "records/crate.dbr";
        out.Add(&id);
        out.Add(&yes);
        out.Add(&record);
        Vec3 axes[4] = {x, y, z, place};
        for (Vec3& axis : axes)
            out.Add(&axis);
        for (int i = 0; i < 4; ++i) {
            uint32_t word = region.GetWord(i);
            out.Add(&word);
        }
        out.Add(&no);
        const uint8_t visible = 1;
        out.AddBytes(&visible, 1);
        return out.GetData();
    };
    const uint32_t own = 1u << ObjectManager::kHostShift;
    const Vec3 x(1.0f, 0.0f, 0.0f), y(0.0f, 1.0f, 0.0f), z(0.0f, 0.0f, 1.0f), inside(3.0f, 0.0f, 4.0f);
    std::vector<uint8_t> spawns;
    record(spawns, OP_CONNECT, 0);
    record(spawns, OP_REQUEST, 0);
    record(spawns, OP_FRAME, 0, {1});
    record(spawns, OP_READ, 0);
    for (const std::vector<uint8_t>& body :
         {spawn(own | 1, x, y, z, inside, worldRegion), spawn((2u << ObjectManager::kHostShift) | 2, x, y, z, inside, worldRegion),
          spawn(own | 3, Vec3(0.6f, 0.0f, 0.8f), y, z, inside, worldRegion), spawn(own | 4, x, x, x, inside, worldRegion),
          spawn(own | 5, x, y, Vec3(0.0f, 0.0f, -1.0f), inside, worldRegion),
          spawn(own | 6, x, y, z, inside, RegionId()), spawn(own | 7, x, y, z, Vec3(500.0f, 0.0f, 0.0f), worldRegion)})
        record(spawns, OP_SEAL, 0, sealed(PACKET_TYPE_SPAWN_ACTOR, body));
    for (uint32_t n = 0; n < 12; ++n)
        record(spawns, OP_SEAL, 0, sealed(PACKET_TYPE_SPAWN_ACTOR, spawn(own | (16 + n), x, y, z, inside, worldRegion)));
    Frustum most;
    for (size_t i = 0; i < ClientView::maxPlanes; ++i)
        most.AddPlane(Plane(Vec3(0.0f, 1.0f, 0.0f), static_cast<float>(i)));
    std::vector<uint8_t> mostView;
    ClientView::Write(WorldFrustum(nullptr, most), mostView);
    record(spawns, OP_SEAL, 0, sealed(PACKET_TYPE_CLIENT_VIEW, mostView));
    record(spawns, OP_REPLAY, 0);
    record(spawns, OP_FRAME, 0, {20});
    sink.Add("spawns", spawns);

    // Two clients join; the server sends each a command, both one, one to a host that is not a
    // client and one to itself; the clients read them, one leaves, and it sends to all again.
    std::vector<uint8_t> sends;
    for (int peer = 0; peer < 2; ++peer) {
        record(sends, OP_CONNECT, peer);
        record(sends, OP_REQUEST, peer);
    }
    record(sends, OP_FRAME, 0, {1});
    auto commandTo = [](uint8_t host, const std::string& text) {
        const std::vector<uint8_t> blob = Test::Blob(host, 24);
        std::vector<uint8_t> bytes(1 + text.size() + blob.size(), host);
        std::copy(blob.begin(), blob.end(), std::copy(text.begin(), text.end(), bytes.begin() + 1));
        return bytes;
    };
    record(sends, OP_SEND, 0, commandTo(1, "to the first"));
    record(sends, OP_SEND, 0, commandTo(2, "to the second"));
    record(sends, OP_SEND, 0, commandTo(16, "to everyone"));
    record(sends, OP_SEND, 0, commandTo(9, "to nobody"));
    record(sends, OP_SEND_TO_SERVER, 0, commandTo(0, "to itself"));
    record(sends, OP_READ, 0);
    record(sends, OP_READ, 1);
    record(sends, OP_FRAME, 0, {1});
    record(sends, OP_DISCONNECT, 1);
    record(sends, OP_SEND, 0, commandTo(16, "to who is left"));
    record(sends, OP_READ, 0);
    sink.Add("sends", sends);

    // Sixteen clients for fifteen host ids: the last is refused, the server is full.
    std::vector<uint8_t> full;
    for (int peer = 0; peer < 16; ++peer) {
        record(full, OP_CONNECT, peer);
        record(full, OP_REQUEST, peer);
        record(full, OP_FRAME, 0, {10});
    }
    for (int peer = 0; peer < 16; ++peer)
        record(full, OP_READ, peer);
    record(full, OP_HANG_UPS, 0);
    sink.Add("full", full);

    // Eighteen addresses ask four times each within one instant: past the server's 64 key
    // agreements a second, requests wait for later frames.
    std::vector<uint8_t> rush;
    for (int round = 0; round < 4; ++round)
        for (int peer = 0; peer < addressCount; ++peer) {
            record(rush, OP_DISCONNECT, peer);
            record(rush, OP_CONNECT, peer);
            record(rush, OP_REQUEST, peer);
        }
    record(rush, OP_FRAME, 0, {0});
    record(rush, OP_FRAME, 0, {50});
    record(rush, OP_FRAME, 0, {100});
    for (int peer = 0; peer < addressCount; ++peer)
        record(rush, OP_READ, peer);
    sink.Add("rush", rush);
}
