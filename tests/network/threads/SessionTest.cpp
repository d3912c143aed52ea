// Sessions over the loopback address (ports the system picks): a server and clients in one
// process, each socket with its receive thread, pumped from this thread as the engine's frames
// pump them.
#include "../HandPeer.h"
#include "../LossyRelay.h"
#include "../NetworkTestKit.h"

#include "../../world/EngineFixture.h"

#include "common/LogCapture.h"
#include "common/MemoryFiles.h"
#include "core/EventManager.h"
#include "core/ObjectManager.h"
#include "core/WorldFrustum.h"
#include "network/ClientConnectionManager.h"
#include "network/ClientNetworkShim.h"
#include "network/NetworkCommandAccess.h"
#include "network/NetworkConnection.h"
#include "network/ServerConnectionManager.h"
#include "network/Socket.h"
#include "platform/Threading.h"
#include "world/Entity.h"
#include "world/EntityListType.h"
#include "world/Level.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <initializer_list>
#include <memory>

namespace GAME {

class ActorConfigCommand;
class CharacterAction;

namespace {

using GAME::Test::Blob;
using GAME::Test::GamePacket;
using GAME::Test::RecordingController;
using GAME::Test::SpawnRequest;

// Frames of 5 ms until the condition holds; false after `limitMs` of real time, which only a hang
// takes.
bool PumpUntil(std::initializer_list<ConnectionManager*> managers, const std::function<bool()>& done,
               int limitMs = 60000)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        for (ConnectionManager* manager : managers)
            manager->Update(5);
        Platform::SleepMilliseconds(1);
    }
    return true;
}

Frustum Planes(int count, float d)
{
    Frustum frustum;
    for (int i = 0; i < count; ++i)
        frustum.AddPlane(Plane(Vec3(1.0f, 0.0f, 0.0f), d + static_cast<float>(i)));
    return frustum;
}

// What the host's actions and commands are here: orders whose packets the access makes.
struct Order
{
    PACKET_TYPE type;
    uint32_t sequence;
    std::string text;
    size_t blobSize;
};

class OrderAccess : public NetworkCommandAccess
{
public:
    static Order* Of(void* p) { return static_cast<Order*>(p); }
    NetPacket* GetActionPacket(CharacterAction* action) override { return Make(Of(action)); }
    unsigned int GetActionCharacterId(CharacterAction*) override { return 1; }
    bool SupportsNetwork(ActorConfigCommand*) override { return true; }
    NetPacket* GetCommandPacket(ActorConfigCommand* command) override { return Make(Of(command)); }
    unsigned int GetCommandParentId(ActorConfigCommand*) override { return 2; }
    void DeleteCommand(ActorConfigCommand*) override { ++deleted; }

    int deleted = 0;

private:
    static NetPacket* Make(const Order* order)
    {
        return new GamePacket(order->type, order->sequence, order->text,
                              Blob(order->sequence, order->blobSize));
    }
};

class AbortCounter : public EventHandlerInterface
{
public:
    AbortCounter() { EventManager::Get()->Register("GameEvent_NetworkConnectAbort", this); }
    ~AbortCounter() override { EventManager::Get()->UnRegister("GameEvent_NetworkConnectAbort", this); }
    void HandleEvent(const GameEvent*) override { ++count; }
    int count = 0;
};

struct ServerFixture
{
    // Every client of these tests comes from the loopback address: `peersPerAddress` lets many in.
    explicit ServerFixture(int peersPerAddress = ServerConnectionManager::defaultMaxPeersPerAddress)
    {
        server.SetNetPacketCreator(&creator);
        server.SetNetworkController(&controller);
        server.SetMaxPeersPerAddress(peersPerAddress);
        EXPECT_TRUE(server.Listen("127.0.0.1", 0));
        port = server.GetPort();
        EXPECT_GT(port, 0);
    }
    GAME::Test::GamePacketCreator creator;
    RecordingController controller;
    ServerConnectionManager server;
    int port = 0;
};

TEST(SessionThreadsTest, ServerAndTwoClientsJoinExchangeReportTheirViewsAndLeave)
{
    GAME::Test::LogCapture log;
    ServerFixture s;
    ServerConnectionManager& server = s.server;
    ClientConnectionManager a, b;
    RecordingController aController, bController;
    GAME::Test::GamePacketCreator creator;
    a.SetNetworkController(&aController);
    b.SetNetworkController(&bController);
    a.SetNetPacketCreator(&creator);
    b.SetNetPacketCreator(&creator);

    ASSERT_TRUE(a.Connect("127.0.0.1", s.port));
    EXPECT_TRUE(a.IsConnecting());
    EXPECT_EQ(a.GetLocalHostID(), -1);
    ASSERT_TRUE(PumpUntil({&server, &a}, [&] { return a.IsConnected(); }));
    ASSERT_TRUE(b.Connect("127.0.0.1", s.port));
    ASSERT_TRUE(PumpUntil({&server, &a, &b}, [&] { return b.IsConnected(); }));
    EXPECT_EQ(a.GetLocalHostID(), 1);
    EXPECT_EQ(b.GetLocalHostID(), 2);
    EXPECT_EQ(server.GetClientHostIds(), (std::vector<int>{1, 2}));
    EXPECT_NE(server.GetNetworkEntityList()->GetClient(1), nullptr);
    EXPECT_NE(server.GetNetworkEntityList()->GetClient(2), nullptr);
    EXPECT_TRUE(log.Contains("client 2 joined from 127.0.0.1:", 2));

    // Commands and actions through the shims, small and large (the large ones travel in
    // fragments), interleaved from both clients.
    OrderAccess access;
    NetworkShim::SetCommandAccess(&access);
    ClientNetworkShim aShim, bShim;
    aShim.SetConnectionManager(&a);
    bShim.SetConnectionManager(&b);
    constexpr uint32_t count = 100;
    std::vector<Order> orders;
    orders.reserve(4 * count);
    for (uint32_t n = 1; n <= count; ++n) {
        const size_t size = n == 50 ? 30000 : (n * 97) % 1500;
        orders.push_back({GAME::Test::commandType, n, "command " + std::to_string(n), size});
        aShim.SendConfigCommand(reinterpret_cast<ActorConfigCommand*>(&orders.back()));
        orders.push_back({GAME::Test::actionType, n, "action", size / 2});
        aShim.SendCharacterAction(reinterpret_cast<CharacterAction*>(&orders.back()));
        orders.push_back({GAME::Test::commandType, n, "b", 0});
        bShim.SendConfigCommand(reinterpret_cast<ActorConfigCommand*>(&orders.back()));
        orders.push_back({GAME::Test::actionType, n, "b action", size});
        bShim.SendCharacterAction(reinterpret_cast<CharacterAction*>(&orders.back()));
    }
    NetworkShim::SetCommandAccess(nullptr);
    EXPECT_EQ(access.deleted, static_cast<int>(2 * count));
    ASSERT_TRUE(PumpUntil({&server, &a, &b}, [&] { return s.controller.received.size() == 4 * count; }));
    for (int host : {1, 2})
        for (int type : {40, 41}) {
            uint32_t expected = 1;
            for (const RecordingController::Received& r : s.controller.received) {
                if (r.host != host || r.type != type)
                    continue;
                ASSERT_EQ(r.sequence, expected) << "host " << host << " type " << type;
                const Order& order = orders[(expected - 1) * 4 + (host - 1) * 2 + (type - 40)];
                EXPECT_EQ(r.text, order.text);
                EXPECT_EQ(r.blob, Blob(expected, order.blobSize));
                ++expected;
            }
            EXPECT_EQ(expected, count + 1);
        }

    // Views: one reported at once, one from the frame (reported in the client's pump).
    EXPECT_TRUE(a.SendViewFrustum(WorldFrustum(nullptr, Planes(6, 10.0f))));
    b.SetLocalView(WorldFrustum(nullptr, Planes(4, 20.0f)));
    std::vector<WorldFrustum> frusta;
    ASSERT_TRUE(PumpUntil({&server, &a, &b}, [&] {
        frusta.clear();
        server.GetNetworkEntityList()->GetClientFrustumList(frusta);
        return frusta.size() == 2;
    }));
    EXPECT_EQ(frusta[0].GetRegionFrustum().GetNumPlanes(), 6u);
    EXPECT_EQ(frusta[0].GetRegionFrustum().GetPlane(5), Planes(6, 10.0f).GetPlane(5));
    EXPECT_EQ(frusta[1].GetRegionFrustum().GetPlane(3), Planes(4, 20.0f).GetPlane(3));
    EXPECT_TRUE(log.Contains("client 1 views no region (6 planes)"));

    // The server announces an entity to one client and a packet to all.
    SpawnActorPacket spawn;
    spawn.GetEntityId() = 0x123u;
    EXPECT_TRUE(server.SendToClient(2, &spawn));
    GamePacket news(GAME::Test::commandType, 7, "to all");
    EXPECT_EQ(server.SendToAllClients(&news), 2);
    ASSERT_TRUE(PumpUntil({&server, &a, &b}, [&] {
        return aController.received.size() == 1 && bController.received.size() == 2;
    }));
    EXPECT_EQ(bController.received[0].spawnId, 0x123u);
    EXPECT_EQ(bController.received[1].text, "to all");
    EXPECT_EQ(aController.received[0].host, 0);

    // A leaves cleanly; the server forgets it and a newcomer gets its host id.
    a.Shutdown();
    EXPECT_EQ(a.GetLocalHostID(), 1); // kept for the game that goes on alone
    ASSERT_TRUE(PumpUntil({&server, &b}, [&] { return server.GetNumClients() == 1; }));
    EXPECT_EQ(server.GetNetworkEntityList()->GetClient(1), nullptr);
    EXPECT_TRUE(log.Contains("client 1 (127.0.0.1:", 2));
    EXPECT_EQ(a.GetNumAborts(), 0u);
    ClientConnectionManager c;
    ASSERT_TRUE(c.Connect("127.0.0.1", s.port));
    ASSERT_TRUE(PumpUntil({&server, &b, &c}, [&] { return c.IsConnected(); }));
    EXPECT_EQ(c.GetLocalHostID(), 1);
    EXPECT_EQ(server.GetStats().GetDropped(), 0u);

    // The server closes the session right after a burst to b that b's game has not taken: b's
    // socket holds its share of it and its ENet the rest, for b's socket to take, when the
    // server's goodbye comes (the server's Shutdown waits as long as b's ENet takes to acknowledge
    // it all). b's game gets all of it, in order, before b hears that the session ended (the
    // fault, the goodbye let through to b's ENet, which throws away what it held: 2,000 of the
    // 5,000). Its clients hear it at once.
    constexpr uint32_t burst = 5000;
    const size_t before = bController.received.size();
    for (uint32_t n = 0; n < burst; ++n) {
        GamePacket last(GAME::Test::commandType, n, "last");
        ASSERT_TRUE(server.SendToClient(b.GetLocalHostID(), &last));
    }
    server.SetShutdownLinger(60000);
    server.Shutdown();
    EXPECT_FALSE(server.IsListening());
    EXPECT_EQ(server.GetStats().sendsLost, 0u);
    ASSERT_TRUE(PumpUntil({&b, &c}, [&] { return !b.IsConnected() && !c.IsConnected(); }));
    ASSERT_EQ(bController.received.size(), before + burst);
    for (uint32_t n = 0; n < burst; ++n)
        ASSERT_EQ(bController.received[before + n].sequence, n);
    EXPECT_EQ(b.GetNumAborts(), 1u);
    EXPECT_EQ(b.GetLocalHostID(), 2);
    EXPECT_TRUE(log.Contains("the session with server 127.0.0.1:", 2));
    // ...and that it was the server's own end, not a lost link.
    const std::vector<std::string> texts = log.Texts();
    EXPECT_EQ(
        std::count_if(texts.begin(), texts.end(),
                      [](const std::string& t) { return t.find("the server ended its session") != t.npos; }),
        2);
    EXPECT_FALSE(log.Contains("lost or closed by the server"));
}

// A second server on a port the first holds cannot listen, and says why (what a host shows its
// user); once it listens elsewhere, the reason is gone.
TEST(SessionThreadsTest, AServerThatCannotListenSaysWhy)
{
    GAME::Test::LogCapture log;
    ServerConnectionManager first, second;
    ASSERT_TRUE(first.Listen("127.0.0.1", 0));
    EXPECT_TRUE(first.GetListenError().empty());
    EXPECT_FALSE(second.Listen("127.0.0.1", first.GetPort()));
    EXPECT_NE(second.GetListenError().find("Address already in use"), std::string::npos)
        << second.GetListenError();
    EXPECT_TRUE(log.Contains(second.GetListenError(), 2));
    ASSERT_TRUE(second.Listen("127.0.0.1", 0));
    EXPECT_TRUE(second.GetListenError().empty());
    second.Shutdown();
    first.Shutdown();
}

TEST(SessionThreadsTest, AClientWhoseServerVanishesReportsItAndRunsOn)
{
    GAME::Test::LogCapture log;
    AbortCounter aborts;
    auto s = std::make_unique<ServerFixture>();
    const int port = s->port;
    ClientConnectionManager client;
    ASSERT_TRUE(client.Connect("127.0.0.1", port));
    ASSERT_TRUE(PumpUntil({&s->server, &client}, [&] { return client.IsConnected(); }));
    // A short timeout from now on: a join on a busy machine may take longer than it.
    client.SetTimeout(300);

    s.reset(); // gone without a word: only the silence tells
    ASSERT_TRUE(PumpUntil({&client}, [&] { return !client.IsConnected(); }));
    EXPECT_EQ(client.GetNumAborts(), 1u);
    EXPECT_EQ(aborts.count, 1);
    EXPECT_EQ(client.GetLocalHostID(), 1); // kept: the game goes on numbering its objects under it
    EXPECT_TRUE(log.Contains("lost or closed by the server", 2));
    GamePacket packet(GAME::Test::commandType, 1, "anyone?");
    EXPECT_FALSE(client.SendToServer(&packet));
    for (int frame = 0; frame < 20; ++frame)
        client.Update(16);

    // Nobody answers at that port any more: held by a socket that never reads, so that no server
    // of another test takes it meanwhile.
    const ENetAddress held = GAME::Test::EnetAddress("127.0.0.1", port);
    std::unique_ptr<ENetHost, void (*)(ENetHost*)> silent(enet_host_create(&held, 1, 1, 0, 0),
                                                          enet_host_destroy);
    ASSERT_NE(silent, nullptr);
    ASSERT_TRUE(client.Connect("127.0.0.1", port));
    ASSERT_TRUE(PumpUntil({&client}, [&] { return !client.IsConnecting(); }));
    EXPECT_EQ(client.GetNumAborts(), 2u);
    EXPECT_EQ(aborts.count, 2);
    EXPECT_TRUE(log.Contains("the server did not answer", 2));
    EXPECT_EQ(client.GetSessionHostID(), 1);
}

// A client made of the engine's own parts, which can send whatever it likes once it has joined.
class RawClient
{
public:
    RawClient(ServerConnectionManager& server, int port) : m_server(server)
    {
        m_connection = m_socket.Connect("127.0.0.1", port);
        Socket::Event event;
        EXPECT_TRUE(Next(event));
        EXPECT_EQ(event.kind, Socket::EVENT_CONNECTED);
        std::vector<uint8_t> request;
        EXPECT_TRUE(link.MakeConnectRequest(request));
        EXPECT_TRUE(Send(request));
        EXPECT_TRUE(Next(event));
        NetPacketHeader header;
        const uint8_t* body = nullptr;
        size_t size = 0;
        EXPECT_EQ(link.Open(event.data.data(), event.data.size(), header, body, size),
                  NetworkConnection::RESULT_OK);
        EXPECT_TRUE(link.IsKeyed());
    }
    bool Send(const std::vector<uint8_t>& datagram)
    {
        return m_socket.Send(m_connection, datagram.data(), datagram.size());
    }
    std::vector<uint8_t> Sealed(GamePacket& packet)
    {
        std::vector<uint8_t> body, datagram;
        EXPECT_TRUE(ConnectionManager::WriteBody(&packet, body));
        EXPECT_TRUE(link.Seal(static_cast<uint8_t>(packet.GetType()), body.data(), body.size(), datagram));
        return datagram;
    }

    NetworkConnection link{NetworkConnection::SIDE_CLIENT};

private:
    bool Next(Socket::Event& event)
    {
        bool got = false;
        PumpUntil({&m_server}, [&] { return got = m_socket.Receive(event); });
        return got;
    }

    ServerConnectionManager& m_server;
    Socket m_socket;
    uint32_t m_connection = 0;
};

TEST(SessionThreadsTest, ForgedReplayedAndMalformedDatagramsOnTheWireAreDroppedAndCounted)
{
    GAME::Test::LogCapture log;
    ServerFixture s;
    RawClient raw(s.server, s.port);
    ASSERT_EQ(s.server.GetNumClients(), 1);

    GamePacket first(GAME::Test::commandType, 1, "genuine");
    const std::vector<uint8_t> genuine = raw.Sealed(first);
    ASSERT_TRUE(raw.Send(genuine));
    ASSERT_TRUE(raw.Send(genuine)); // replayed
    std::vector<uint8_t> forged = genuine;
    forged[NetPacketHeader::headerSize] ^= 0x55; // the body changed, the old authentication kept
    forged[4] = 9;                               // under a fresh sequence number
    ASSERT_TRUE(raw.Send(forged));
    ASSERT_TRUE(raw.Send({1, 2, 3, 4, 5})); // shorter than a header
    std::vector<uint8_t> lying = genuine;
    lying[0] = 0xFF; // the size field says more than came
    ASSERT_TRUE(raw.Send(lying));
    std::vector<uint8_t> request;
    NetworkConnection other(NetworkConnection::SIDE_CLIENT);
    ASSERT_TRUE(other.MakeConnectRequest(request));
    ASSERT_TRUE(raw.Send(request)); // a second handshake on a joined link
    GamePacket unreadable(PACKET_TYPE(90), 3, "no one makes this type");
    ASSERT_TRUE(raw.Send(raw.Sealed(unreadable)));
    std::vector<uint8_t> huge(NetPacketHeader::maxPacketSize + 1, 0);
    EXPECT_FALSE(raw.Send(huge)); // the transport refuses to carry more than a packet
    GamePacket second(GAME::Test::commandType, 2, "still heard");
    ASSERT_TRUE(raw.Send(raw.Sealed(second)));

    // In order on the wire: once the second genuine packet is in, everything before it was seen.
    ASSERT_TRUE(PumpUntil({&s.server}, [&] { return s.controller.received.size() == 2; }));
    EXPECT_EQ(s.controller.received[0].text, "genuine");
    EXPECT_EQ(s.controller.received[1].text, "still heard");
    const NetworkLinkStats stats = s.server.GetStats();
    EXPECT_EQ(stats.droppedReplay, 1u);
    EXPECT_EQ(stats.droppedBadAuth, 1u);
    EXPECT_EQ(stats.droppedMalformed, 2u);
    EXPECT_EQ(stats.droppedUnexpected, 1u);
    EXPECT_EQ(stats.droppedUnreadable, 1u);
    EXPECT_TRUE(log.Contains("replayed datagram", 1));
    EXPECT_TRUE(log.Contains("failed authentication datagram", 1));
    EXPECT_EQ(s.server.GetNumClients(), 1); // the link stands
    s.server.DumpStats();
    EXPECT_TRUE(log.Contains("1 failed authentication, 1 replayed"));
}

size_t CountLines(const GAME::Test::LogCapture& log, const std::string& fragment)
{
    size_t count = 0;
    for (const std::string& line : log.Texts())
        count += line.find(fragment) != std::string::npos ? 1 : 0;
    return count;
}

TEST(SessionThreadsTest, WhatPeersMakeTheServerLogIsTheFirstOfEachKindThenASummary)
{
    GAME::Test::LogCapture log;
    GAME::Test::ManualClock clock;
    ServerFixture s(0);
    RawClient raw(s.server, s.port);
    ASSERT_EQ(s.server.GetNumClients(), 1);

    // A joined client sends control packets of a type nobody knows and views nobody can read.
    constexpr uint64_t flood = 300;
    const uint8_t junk[3] = {1, 2, 3};
    auto sendControl = [&](uint8_t type) {
        std::vector<uint8_t> datagram;
        ASSERT_TRUE(raw.link.Seal(type, junk, sizeof(junk), datagram));
        ASSERT_TRUE(raw.Send(datagram));
    };
    for (uint64_t i = 0; i < flood; ++i) {
        sendControl(12);
        sendControl(PACKET_TYPE_CLIENT_VIEW);
    }
    ASSERT_TRUE(PumpUntil({&s.server}, [&] { return s.server.GetStats().droppedUnreadable == 2 * flood; }));
    // A client joins and leaves again and again, as host 2 each time.
    for (int i = 0; i < 5; ++i) {
        ClientConnectionManager client;
        ASSERT_TRUE(client.Connect("127.0.0.1", s.port));
        ASSERT_TRUE(PumpUntil({&s.server, &client}, [&] { return client.IsConnected(); }));
        EXPECT_EQ(client.GetLocalHostID(), 2);
        client.Shutdown();
        ASSERT_TRUE(PumpUntil({&s.server}, [&] { return s.server.GetNumClients() == 1; }));
    }
    EXPECT_EQ(CountLines(log, "control packet of type 12 from host 1"), 1u);
    EXPECT_EQ(CountLines(log, "unreadable view from client 1"), 1u);
    EXPECT_EQ(CountLines(log, "client 2 joined from 127.0.0.1:"), 1u);
    EXPECT_EQ(CountLines(log, "client 2 (127.0.0.1:"), 1u); // left
    EXPECT_EQ(CountLines(log, "not logged"), 0u);
    // The transport turned nobody away: it has nothing to report (each join took a cookie, which
    // once made it write a line of zeros).
    EXPECT_EQ(CountLines(log, "peers that did not join so far"), 0u);
    EXPECT_GE(s.server.GetGuardStats().cookiesSent, 5u);

    // Once the interval is over, one line sums up the rest, and the next of each kind is
    // written again.
    clock.Advance(ConnectionManager::logSummaryIntervalMs);
    s.server.Update(5);
    EXPECT_TRUE(
        log.Contains("Network (server): not logged in the last 10 s: 299 control packets of unknown types, "
                     "299 unreadable views, 4 joins, 4 leaves",
                     2));
    s.server.Update(5);
    EXPECT_EQ(CountLines(log, "not logged"), 1u);
    sendControl(12);
    ASSERT_TRUE(
        PumpUntil({&s.server}, [&] { return s.server.GetStats().droppedUnreadable == 2 * flood + 1; }));
    EXPECT_EQ(CountLines(log, "control packet of type 12 from host 1"), 2u);
}

TEST(SessionThreadsTest, AClientBeyondTheLastHostIdIsRefusedAndToldWhy)
{
    GAME::Test::LogCapture log;
    ServerFixture s(0);
    std::vector<std::unique_ptr<ClientConnectionManager>> clients;
    for (int i = 0; i <= ServerConnectionManager::maxClients; ++i) {
        clients.emplace_back(new ClientConnectionManager);
        ASSERT_TRUE(clients.back()->Connect("127.0.0.1", s.port));
    }
    auto pumpAll = [&](const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!done() && std::chrono::steady_clock::now() < deadline) {
            s.server.Update(5);
            for (auto& client : clients)
                client->Update(5);
            Platform::SleepMilliseconds(1);
        }
        return done();
    };
    ASSERT_TRUE(pumpAll([&] {
        int settled = 0;
        for (auto& client : clients)
            settled += client->IsConnecting() ? 0 : 1;
        return settled == ServerConnectionManager::maxClients + 1;
    }));
    std::vector<int> hosts;
    int refused = 0;
    for (auto& client : clients) {
        if (client->IsConnected())
            hosts.push_back(client->GetLocalHostID());
        refused += static_cast<int>(client->GetNumAborts());
    }
    std::sort(hosts.begin(), hosts.end());
    ASSERT_EQ(hosts.size(), 15u);
    EXPECT_EQ(hosts.front(), 1);
    EXPECT_EQ(hosts.back(), 15);
    EXPECT_EQ(refused, 1);
    EXPECT_TRUE(log.Contains("the server is full", 2));
    EXPECT_EQ(s.server.GetNumClients(), 15);
}

TEST(SessionThreadsTest, AClientWhoAskedWhileTheServerWasBusyJoinsAndOneWhoNeverAsksIsDropped)
{
    GAME::Test::LogCapture log;
    ServerFixture s;
    // The server's frames stop for longer than a peer may take to join: the client's request
    // waits for it, and is answered when it comes back.
    ClientConnectionManager client;
    ASSERT_TRUE(client.Connect("127.0.0.1", s.port));
    const auto busyUntil = std::chrono::steady_clock::now() +
                           std::chrono::milliseconds(ServerConnectionManager::handshakeTimeoutMs + 500);
    while (std::chrono::steady_clock::now() < busyUntil) {
        client.Update(5);
        Platform::SleepMilliseconds(5);
    }
    ASSERT_TRUE(PumpUntil({&s.server, &client}, [&] { return client.IsConnected(); }));

    // A client on a link from `ip` delayed so much and up to `jitterMs` more each way, whose
    // server's first `lost` answers to its connect are lost: whether it joined.
    auto joinsOverLink = [&](const char* ip, int delayMs, int jitterMs, int lost) {
        GAME::Test::LossyRelay relay(s.port, 0, 0, 1, delayMs, jitterMs, ip);
        relay.loseConnectAnswers = lost;
        ClientConnectionManager far;
        const bool joined = far.Connect(ip, relay.port) &&
                            PumpUntil({&s.server, &client, &far}, [&] { return !far.IsConnecting(); }) &&
                            far.IsConnected();
        EXPECT_EQ(relay.loseConnectAnswers, 0);
        far.Shutdown();
        return joined;
    };
    // Hole: a client on a long link (100 ms and up to 20 ms more each way) that lost the server's
    // first three answers to its connect, which ENet resends 0.5, 1.5 and 3.5 s after the first:
    // its transport came up after 3.6 s, and the server had dropped it after 2 s, so that the
    // client gave up ("the server did not answer"); at one datagram in ten lost each way, 2 joins
    // in 186 were dropped so. Now a peer has 8 s, within the client's own 10 s.
    EXPECT_TRUE(joinsOverLink("127.0.0.61", 100, 20, 3));
    EXPECT_EQ(s.server.GetGuardStats().timedOut, 0u);
    // Hole: a client let go by the server before the transport's connect had come up on its side
    // (here all five answers the server sends in its 8 s are lost; a server whose joining slots
    // are full pushes out first the peers still in that state) gave its join up at once, though
    // it had time to ask again. Now it asks again and joins within its 10 s.
    EXPECT_TRUE(joinsOverLink("127.0.0.62", 20, 5, 5));
    EXPECT_EQ(s.server.GetGuardStats().timedOut, 1u);
    EXPECT_TRUE(log.Contains("ended before it answered; asking again", 1));

    // A peer that connects but never asks to join holds its slot no longer than that.
    Socket silent;
    ASSERT_NE(silent.Connect("127.0.0.1", s.port), 0u);
    bool gone = false;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(PumpUntil(
        {&s.server, &client},
        [&] {
            Socket::Event event;
            while (silent.Receive(event))
                gone = gone || event.kind == Socket::EVENT_DISCONNECTED;
            return gone;
        },
        60000));
    EXPECT_GE(std::chrono::steady_clock::now() - start,
              std::chrono::milliseconds(ServerConnectionManager::handshakeTimeoutMs - 100));
    EXPECT_EQ(s.server.GetGuardStats().timedOut, 2u);
    EXPECT_TRUE(client.IsConnected());
}

// A server made of the engine's parts, which answers a joining client as it is told.
class FakeServer
{
public:
    FakeServer() { EXPECT_TRUE(m_socket.Listen("127.0.0.1", 0, 4)); }
    int GetPort() const { return m_socket.GetPort(); }
    // Pumps the client until its connect request arrives; the request's datagram.
    std::vector<uint8_t> WaitForRequest(ClientConnectionManager& client)
    {
        std::vector<uint8_t> request;
        PumpUntil({&client}, [&] {
            Socket::Event event;
            while (request.empty() && m_socket.Receive(event)) {
                m_connection = event.connection;
                if (event.kind == Socket::EVENT_RECEIVED)
                    request = event.data;
            }
            return !request.empty();
        });
        return request;
    }
    bool Send(const std::vector<uint8_t>& datagram)
    {
        return m_socket.Send(m_connection, datagram.data(), datagram.size());
    }
    void HangUp() { m_socket.Disconnect(m_connection); }

private:
    Socket m_socket;
    uint32_t m_connection = 0;
};

std::vector<uint8_t> AcceptFor(NetworkConnection& server, const std::vector<uint8_t>& request, uint8_t host)
{
    NetPacketHeader header;
    const uint8_t* body = nullptr;
    size_t size = 0;
    std::vector<uint8_t> accept;
    EXPECT_EQ(server.Open(request.data(), request.size(), header, body, size), NetworkConnection::RESULT_OK);
    EXPECT_EQ(server.AcceptConnectRequest(body, size, host, accept), NetworkConnection::RESULT_OK);
    return accept;
}

TEST(SessionThreadsTest, AJoiningClientIsNotTurnedAwayByAnswersItCannotTrust)
{
    GAME::Test::LogCapture log;
    std::vector<uint8_t> plainRefusal;
    NetworkConnection::MakeRefusal(NetworkConnection::REFUSE_SERVER_FULL, plainRefusal);
    NetworkConnection stranger(NetworkConnection::SIDE_CLIENT),
        strangersServer(NetworkConnection::SIDE_SERVER);
    std::vector<uint8_t> strangersRequest;
    ASSERT_TRUE(stranger.MakeConnectRequest(strangersRequest));
    const std::vector<uint8_t> forgedAccept = AcceptFor(strangersServer, strangersRequest, 9);

    // A refusal anyone could have sent and an accept made for someone else reach the client
    // first; the server's own accept after them is taken.
    FakeServer fake;
    ClientConnectionManager client;
    ASSERT_TRUE(client.Connect("127.0.0.1", fake.GetPort()));
    const std::vector<uint8_t> request = fake.WaitForRequest(client);
    ASSERT_FALSE(request.empty());
    NetworkConnection server(NetworkConnection::SIDE_SERVER);
    const std::vector<uint8_t> genuine = AcceptFor(server, request, 3);
    ASSERT_TRUE(fake.Send(plainRefusal));
    ASSERT_TRUE(fake.Send(forgedAccept));
    ASSERT_TRUE(PumpUntil({&client}, [&] { return client.GetStats().droppedBadAuth == 1; }));
    EXPECT_TRUE(client.IsConnecting());
    ASSERT_TRUE(fake.Send(genuine));
    ASSERT_TRUE(PumpUntil({&client}, [&] { return client.IsConnected(); }));
    EXPECT_EQ(client.GetLocalHostID(), 3);
    EXPECT_EQ(client.GetNumAborts(), 0u);
    EXPECT_TRUE(log.Contains("refusal without authentication", 1));

    // A join that does end (the server hangs up) names the refusal it could not trust.
    FakeServer silent;
    ClientConnectionManager other;
    ASSERT_TRUE(other.Connect("127.0.0.1", silent.GetPort()));
    ASSERT_FALSE(silent.WaitForRequest(other).empty());
    ASSERT_TRUE(silent.Send(plainRefusal));
    silent.HangUp();
    ASSERT_TRUE(PumpUntil({&other}, [&] { return !other.IsConnecting(); }));
    EXPECT_EQ(other.GetNumAborts(), 1u);
    EXPECT_TRUE(
        log.Contains("the server did not answer (an unverified refusal said: the server is full)", 2));
}

// The engine's time stands still here: the server hands a view on at most once a view interval of
// it, whatever the real time its frames take.
TEST(SessionThreadsTest, AFloodOfViewsIsHandedOnAtTheViewRateWithTheLatestWinning)
{
    GAME::Test::LogCapture log;
    GAME::Test::ManualClock clock;
    ServerFixture s;
    int handed = 0;
    float lastD = 0.0f;
    s.server.SetViewHandler([&](int, const WorldFrustum& view) {
        ++handed;
        lastD = view.GetRegionFrustum().GetPlane(0).d;
    });
    ClientConnectionManager a, b;
    ASSERT_TRUE(a.Connect("127.0.0.1", s.port));
    ASSERT_TRUE(PumpUntil({&s.server, &a}, [&] { return a.IsConnected(); }));

    // A view, handed on at once; then a thousand more at once while another client joins: the
    // server reads them all, hands on none of them until the interval is over and then the latest
    // (the fault, no rate: one in every frame that read some), logs the region once, and the
    // newcomer gets in.
    ASSERT_TRUE(a.SendViewFrustum(WorldFrustum(nullptr, Planes(6, 0.0f))));
    ASSERT_TRUE(PumpUntil({&s.server, &a}, [&] { return handed == 1; }));
    constexpr int views = 1000;
    for (int n = 1; n <= views; ++n)
        ASSERT_TRUE(a.SendViewFrustum(WorldFrustum(nullptr, Planes(6, static_cast<float>(n)))));
    ASSERT_TRUE(b.Connect("127.0.0.1", s.port));
    ASSERT_TRUE(PumpUntil({&s.server, &a, &b},
                          [&] { return b.IsConnected() && s.server.GetNumViewsReceived() == views + 1; }));
    EXPECT_EQ(handed, 1);
    clock.Advance(ServerConnectionManager::viewIntervalMs);
    ASSERT_TRUE(PumpUntil({&s.server, &a, &b}, [&] { return lastD == static_cast<float>(views); }));
    EXPECT_EQ(handed, 2);
    EXPECT_EQ(s.server.GetNumViewsApplied(), static_cast<uint64_t>(handed));
    size_t viewLines = 0;
    for (const std::string& line : log.Texts())
        viewLines += line.find("client 1 views") != std::string::npos ? 1 : 0;
    EXPECT_EQ(viewLines, 1u);
}

using EngineSessionThreadsTest = GAME::Test::EngineTest;

// A world of one generated region holding that many entities, no caves and no villages.
DataKit::WorldGenerator::Settings OneRegionOf(int entities)
{
    DataKit::WorldGenerator::Settings settings;
    settings.regionsX = 1;
    settings.regionsZ = 1;
    settings.entitiesPerRegion = entities;
    settings.caves = 0;
    settings.villages = 0;
    return settings;
}

// A client engine's level loads on its loading thread while the server ends the session and the
// engine's frames take the end in: whichever of its entities were made before the end and
// whichever after, the level comes in with every one, each under an id of its own.
TEST_F(EngineSessionThreadsTest, ALevelLoadingWhileTheSessionEndsComesInWhole)
{
    DataKit::WorldGenerator::AddRecords(data.Database());
    DataKit::WorldGenerator generator(OneRegionOf(100));
    World* world = StartGenerated(generator);
    ASSERT_NE(world, nullptr);
    ServerConnectionManager server;
    ASSERT_TRUE(server.Listen("127.0.0.1", 0));
    engine->SetAsNetworkClient();
    auto* client = static_cast<ClientConnectionManager*>(engine->GetNetworkConnectionManager());
    ASSERT_TRUE(client->Connect("127.0.0.1", server.GetPort()));
    auto framesUntil = [&](const std::function<bool()>& done) {
        return PumpUntil({&server}, [&] {
            Frame(16);
            return done();
        });
    };
    ASSERT_TRUE(framesUntil([&] { return client->IsConnected(); }));

    Region* region = world->GetRegion(0);
    region->BackgroundLoadLevel(true, false);
    server.Shutdown();
    ASSERT_TRUE(framesUntil([&] { return !client->IsConnected(); }));
    region->WaitForLoadingToFinish();
    world->PostLoadPass();
    EXPECT_FALSE(engine->IsNetworkClient());
    Level* level = region->GetLevelPtr();
    ASSERT_NE(level, nullptr);
    EXPECT_EQ(level->GetNumEntities(), generator.GetRegions()[0].entities);
    EXPECT_FALSE(engine->Has("Unable to spawn object"));
    std::vector<Entity*> entities;
    level->GetEntities(entities, ENTITY_LIST_ALL);
    for (Entity* entity : entities)
        EXPECT_EQ(ObjectManager::Get()->GetObject(entity->GetObjectId()), entity);
}

// A game that played alone after a session numbered its objects under that session's host id; it
// joins another session, whose server gave that id to another client first. The game's own
// objects move under its new host id as it joins, so that the other client's object under an id
// one of them had is made (it was refused: "actor with this ID already exists").
TEST_F(EngineSessionThreadsTest, AGameJoiningAnotherSessionAfterPlayingAloneTakesInTheOtherClientsObjects)
{
    DataKit::WorldGenerator::AddRecords(data.Database());
    DataKit::WorldGenerator generator(OneRegionOf(20));
    World* world = StartGenerated(generator);
    ASSERT_NE(world, nullptr);
    engine->SetAsNetworkClient();
    auto* client = static_cast<ClientConnectionManager*>(engine->GetNetworkConnectionManager());
    {
        ServerConnectionManager first;
        ASSERT_TRUE(first.Listen("127.0.0.1", 0));
        ASSERT_TRUE(client->Connect("127.0.0.1", first.GetPort()));
        ASSERT_TRUE(PumpUntil({&first}, [&] {
            Frame(16);
            return client->IsConnected();
        }));
        ASSERT_EQ(client->GetLocalHostID(), 1);
        first.Shutdown();
        ASSERT_TRUE(PumpUntil({}, [&] {
            Frame(16);
            return !engine->IsNetworkClient();
        }));
    }
    // Alone: the level's objects are the game's own, numbered under host 1.
    Level* level = LoadLevelNow(world->GetRegion(0));
    ASSERT_NE(level, nullptr);
    std::vector<Entity*> own;
    level->GetEntities(own, ENTITY_LIST_ALL);
    ASSERT_FALSE(own.empty());
    const unsigned taken = own.front()->GetObjectId();
    ASSERT_EQ(taken >> ObjectManager::kHostShift, 1u);

    ServerConnectionManager second;
    RecordingController controller;
    engine->SetNetworkController(&controller);
    ASSERT_TRUE(second.Listen("127.0.0.1", 0));
    ClientConnectionManager other;
    ASSERT_TRUE(other.Connect("127.0.0.1", second.GetPort()));
    ASSERT_TRUE(PumpUntil({&second, &other}, [&] { return other.IsConnected(); }));
    ASSERT_EQ(other.GetLocalHostID(), 1);
    engine->SetAsNetworkClient();
    ASSERT_TRUE(client->Connect("127.0.0.1", second.GetPort()));
    ASSERT_TRUE(PumpUntil({&second, &other}, [&] {
        Frame(16);
        return client->IsConnected();
    }));
    ASSERT_EQ(client->GetLocalHostID(), 2);

    // The game's own objects moved under its new host id, each found under its new id, and the
    // old ids lead to them.
    Entity* mine = own.front();
    EXPECT_EQ(mine->GetObjectId() >> ObjectManager::kHostShift, 2u);
    EXPECT_EQ(ObjectManager::Get()->GetObject(mine->GetObjectId()), mine);
    EXPECT_EQ(ObjectManager::Get()->GetRenumberedId(taken, 0), mine->GetObjectId());

    // The other client's crate under the id the game's object had, as its server passes it on.
    SpawnRequest crate(taken, Vec3(3.0f, 0.0f, 4.0f), world->GetRegion(0)->GetId());
    crate.Record(mine->GetObjectName());
    ASSERT_TRUE(second.SendToClient(2, &crate));
    ASSERT_TRUE(PumpUntil({&second, &other}, [&] {
        Frame(16);
        return !controller.received.empty();
    }));
    EXPECT_TRUE(controller.received.front().spawned) << "the other client's object was refused";
    Object* theirs = ObjectManager::Get()->GetObject(taken);
    EXPECT_TRUE(theirs && theirs != mine);
    engine->SetNetworkController(nullptr);
}

} // namespace
} // namespace GAME
