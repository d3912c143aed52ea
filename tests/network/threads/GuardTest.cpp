// A listening server attacked on the loopback address the ways the transport's guard and the
// session's budgets are there for, each measured on the process: whether a real client joins
// and how long it takes, the longest frame, what the server logs, whether a genuine heavy sender
// keeps its link.
//
// - Forged source addresses: connects from hundreds of addresses that never read an answer.
// - A small botnet of real addresses whose peers hold joining slots and never ask to join, or
//   ask and spend the server's key agreements.
// - A joined client's flood of small packets: wrongly authenticated ones, then authenticated ones.
// - A joined client's reliable sends out of order inside the window, newest first.
// - Log churn: peers from 200 addresses that each send what the session drops and leave.
// - A genuine heavy sender whose datagrams are lost now and then on their way.
#include "../HandPeer.h"
#include "../NetworkTestKit.h"

#include "common/LogCapture.h"
#include "common/MemoryFiles.h"
#include "network/ClientConnectionManager.h"
#include "network/NetPacketBuffer.h"
#include "network/ServerConnectionManager.h"
#include "platform/Threading.h"

#include <enet/enet.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <gtest/gtest.h>
#include <initializer_list>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace GAME {
namespace {

using Clock = std::chrono::steady_clock;
using GAME::Test::ConnectDatagram;
using GAME::Test::EnetAddress;
using GAME::Test::HandPeer;
using GAME::Test::PumpUntil;

double MillisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// How long things took: the longest, and how many took longer than `slowMs` (see Quiet).
struct Durations
{
    explicit Durations(double slowMs_ = 1e9) : slowMs(slowMs_) {}
    void Add(double ms)
    {
        longest = std::max(longest, ms);
        slow += ms > slowMs ? 1 : 0;
    }
    double slowMs;
    double longest = 0.0;
    int slow = 0;
};

// The server's socket, looked at from the main thread as the engine's frames may.
class ProbedServer : public ServerConnectionManager
{
public:
    Socket* Transport() const { return GetSocket(); }
};

// A real client's join while the server's frames run: its time in milliseconds, or -1 when it
// did not join within the limit. The server's frames go into `frames`.
double TimeJoin(ServerConnectionManager& server, Durations& frames, int limitMs)
{
    ClientConnectionManager client;
    const auto start = Clock::now();
    if (!client.Connect("127.0.0.1", server.GetPort()))
        return -1.0;
    while (client.IsConnecting() && MillisecondsSince(start) < limitMs) {
        const auto frame = Clock::now();
        server.Update(5);
        frames.Add(MillisecondsSince(frame));
        client.Update(5);
        Platform::SleepMilliseconds(1);
    }
    const double ms = MillisecondsSince(start);
    const bool joined = client.IsConnected();
    client.Shutdown();
    return joined ? ms : -1.0;
}

// What this machine takes on a quiet server of its own, measured at the start of each test: the
// bounds on the attacks are multiples of it, so that a slow or crowded machine is held to its own
// pace.
// ENet resends a connect that was not answered after its first guess of the round trip.
constexpr double connectResendMs = ENET_PEER_DEFAULT_ROUND_TRIP_TIME;

struct Quiet
{
    double joinMs = -1.0;        // a real client's join, the median of three
    double longestFrameMs = 0.0; // the server's longest frame meanwhile
    // A join beside an attack takes no longer than ten quiet ones and the wait the rule under
    // test lets a real client have (a resend of its connect, a turn for a key agreement), which
    // is the protocol's time, not the machine's.
    double JoinBound(double allowedWaitMs) const { return 10.0 * joinMs + allowedWaitMs; }
    // A frame past this is slow: a crowded machine takes a thread away for that long now and
    // then, a server that stalls does it again and again.
    double SlowFrameMs() const { return std::max(50.0, 10.0 * longestFrameMs); }
};

Quiet MeasureQuiet()
{
    Quiet quiet;
    ServerConnectionManager server;
    if (!server.Listen("127.0.0.1", 0))
        return quiet;
    Durations frames;
    std::vector<double> joins;
    for (int attempt = 0; attempt < 3; ++attempt)
        joins.push_back(TimeJoin(server, frames, 10000));
    std::sort(joins.begin(), joins.end());
    if (joins.front() > 0.0) {
        quiet.joinMs = joins[1];
        quiet.longestFrameMs = frames.longest;
    }
    server.Shutdown();
    return quiet;
}

// Hole: a forged source address is one that never sees the server's answer. 10,000 connects a
// second from 5,000 loopback addresses (each datagram a fresh connect id and a guessed cookie),
// none of which reads a reply: before the cookie each took a joining slot, kept for a quarter of
// a second, and a real client joined rarely if ever. Now none takes a slot, and a real client
// joins three times in a row, quickly.
TEST(GuardThreadsTest, ForgedSourceAddressesTakeNoSlotAndARealClientJoinsEveryTime)
{
    GAME::Test::LogCapture log;
    ASSERT_EQ(enet_initialize(), 0);
    const Quiet quiet = MeasureQuiet();
    ASSERT_GT(quiet.joinMs, 0.0);
    ServerConnectionManager server;
    ASSERT_TRUE(server.Listen("127.0.0.1", 0));
    const ENetAddress serverAddress = EnetAddress("127.0.0.1", server.GetPort());
    // Enough addresses that their connect rates (2 a second each) add up to the 10,000.
    constexpr int forgedAddresses = 5000;
    std::atomic<bool> forging{true};
    std::atomic<int> sent{0};
    std::thread forger([&] {
        std::vector<ENetSocket> sockets;
        for (int i = 0; i < forgedAddresses; ++i) {
            ENetSocket socket = enet_socket_create(ENET_SOCKET_TYPE_DATAGRAM);
            const ENetAddress from = EnetAddress("127.1." + std::to_string(i / 250) + "." + std::to_string(1 + i % 250), 0);
            if (socket != ENET_SOCKET_NULL && enet_socket_bind(socket, &from) == 0)
                sockets.push_back(socket);
            else if (socket != ENET_SOCKET_NULL)
                enet_socket_destroy(socket);
        }
        std::mt19937 random(52);
        const auto start = Clock::now();
        const auto limit = start + std::chrono::seconds(40);
        while (forging && !sockets.empty() && Clock::now() < limit) {
            // 10 a millisecond, on schedule.
            const auto due = static_cast<int>(MillisecondsSince(start) * 10.0);
            for (; sent < due; ++sent)
                GAME::Test::SendRaw(sockets[static_cast<size_t>(sent) % sockets.size()], serverAddress,
                                    ConnectDatagram(random(), random()));
            Platform::SleepMilliseconds(1);
        }
        for (ENetSocket socket : sockets)
            enet_socket_destroy(socket);
    });
    ASSERT_TRUE(PumpUntil([&] { server.Update(5); }, [&] { return sent > 5000; }, 10000));

    std::vector<double> joins;
    Durations frames;
    for (int attempt = 0; attempt < 3; ++attempt)
        joins.push_back(TimeJoin(server, frames, 10000));
    const int forged = sent;
    forging = false;
    forger.join();
    for (double ms : joins) {
        EXPECT_GT(ms, 0.0) << "a join failed while " << forged << " forged connects came";
        EXPECT_LT(ms, quiet.JoinBound(connectResendMs))
            << "a join took " << ms << " ms, " << quiet.joinMs << " ms on a quiet server";
    }
    const Socket::GuardStats guard = server.GetGuardStats();
    EXPECT_GE(guard.cookiesSent, static_cast<uint64_t>(forged / 2));
    EXPECT_EQ(guard.pushedOut, 0u); // no forged connect ever held a slot
    EXPECT_EQ(guard.refusedNoRoom, 0u);
}

// What became of four real clients joining one after the other while a botnet of 64 real
// addresses (each receives the cookie; at most the connects a second the server allows an
// address, a burst of 4) keeps `inFlight` peers in joining slots, each for `holdMs` or, with
// `ask`, until the server answers its join request.
struct BotnetJoins
{
    bool underWay = false;       // the first bursts spent, the bots held slots in turn
    std::vector<double> joins;   // each client's join in milliseconds, -1 when it failed
    uint64_t held = 0;           // slots the bots held
    uint64_t answered = 0;       // of their join requests
    int heldDuringJoins = 0;     // the most bots in at once while the clients joined
    int joinedClients = 0;       // of those, still in the session at the end
};

BotnetJoins JoinBesideBotnet(int inFlight, int holdMs, bool ask)
{
    BotnetJoins result;
    ServerConnectionManager server;
    if (!server.Listen("127.0.0.1", 0))
        return result;
    std::vector<std::string> ips;
    for (int i = 1; i <= 64; ++i)
        ips.push_back("127.2.0." + std::to_string(i));
    GAME::Test::Botnet botnet(ips, server.GetPort(), inFlight, holdMs,
                              ServerConnectionManager::defaultMaxPeersPerAddress,
                              ServerConnectionManager::connectsPerAddressPerSecond, ask);
    std::atomic<bool> attacking{true};
    std::atomic<int> holding{0};
    std::atomic<uint64_t> held{0}, answered{0};
    std::thread attack([&] {
        const auto limit = Clock::now() + std::chrono::seconds(90);
        while (attacking && Clock::now() < limit) {
            botnet.Step();
            holding = botnet.holding;
            held = botnet.held;
            answered = botnet.answered;
            Platform::SleepMilliseconds(1);
        }
    });
    // Under way: the first bursts spent, and (when they ask) every address's requests answered
    // a few times over, so that none of them is new to the server any more.
    result.underWay = PumpUntil([&] { server.Update(5); },
                                [&] { return held > 200 && (!ask || answered > 3 * 64); }, 30000);

    std::vector<std::unique_ptr<ClientConnectionManager>> clients;
    auto frame = [&] {
        server.Update(5);
        for (auto& client : clients)
            client->Update(5);
        result.heldDuringJoins = std::max(result.heldDuringJoins, holding.load());
    };
    for (int attempt = 0; attempt < 4 && result.underWay; ++attempt) {
        clients.emplace_back(new ClientConnectionManager);
        const auto start = Clock::now();
        if (clients.back()->Connect("127.0.0.1", server.GetPort()))
            PumpUntil(frame, [&] { return !clients.back()->IsConnecting(); }, 12000);
        result.joins.push_back(clients.back()->IsConnected() ? MillisecondsSince(start) : -1.0);
    }
    result.held = held;
    result.answered = answered;
    attacking = false;
    attack.join();
    for (auto& client : clients) {
        result.joinedClients += client->IsConnected() ? 1 : 0;
        client->Shutdown();
    }
    return result;
}

// That the botnet was under way, held at least `held` slots at once while the clients joined,
// and every client joined within the quiet join's bound with the wait allowed.
void ExpectEveryJoinWithin(const BotnetJoins& run, const Quiet& quiet, double allowedWaitMs, int held)
{
    ASSERT_GT(quiet.joinMs, 0.0);
    const double boundMs = quiet.JoinBound(allowedWaitMs);
    ASSERT_TRUE(run.underWay) << "the botnet's peers took " << run.held << " slots, " << run.answered
                              << " of their join requests answered";
    for (double ms : run.joins) {
        EXPECT_GT(ms, 0.0) << "a join failed while the botnet's peers took " << run.held << " slots";
        EXPECT_LT(ms, boundMs) << "a join took " << ms << " ms, " << quiet.joinMs << " ms on a quiet server";
    }
    EXPECT_EQ(run.joinedClients, 4);
    EXPECT_GE(run.heldDuringJoins, held);
}

// Hole: a botnet whose peers hold joining slots and never ask to join. Each address starts 2
// peers a second (a burst of 4), all the server allows it; each peer holds a joining slot for
// 220 ms, younger than any the server pushes out, leaves politely (which costs its address
// nothing), and a new connect takes its place a millisecond later, so that 24 peers hold slots at
// all times. With 16 joining slots every one stayed young and held, a real client's connect found
// no room every time it asked, and four joins failed after 10 s each. Now four real clients join
// one after the other while it lasts, each within ten quiet joins and a resend of its connect.
TEST(GuardThreadsTest, ASmallBotnetHoldingJoiningSlotsDoesNotKeepRealClientsOut)
{
    GAME::Test::LogCapture log;
    ASSERT_EQ(enet_initialize(), 0);
    const Quiet quiet = MeasureQuiet();
    // The botnet held as many slots while the clients joined as there were for peers joining before.
    ExpectEveryJoinWithin(JoinBesideBotnet(24, 220, false), quiet, connectResendMs, 16);
}

// Hole: the same botnet's peers ask to join, each leaving once answered, 240 at a time: from 64
// addresses they ask for twice the key agreements the server makes in a second (64), all within
// each address's own allowance. Their requests queued in order of arrival, and a real client's
// waited behind them for 1.7 to 1.9 s of the 2 s a peer has to join. Now the address that had the
// fewest key agreements lately goes first, and four real clients join one after the other, each
// well within a second, while the botnet's requests go on being answered.
TEST(GuardThreadsTest, ASmallBotnetAskingToJoinDoesNotMakeARealClientWait)
{
    GAME::Test::LogCapture log;
    ASSERT_EQ(enet_initialize(), 0);
    // The clients come from one address: each later one waits its turn behind the addresses that
    // had fewer key agreements lately, the earlier clients' included, but never half the time a
    // peer has to join.
    const Quiet quiet = MeasureQuiet();
    ExpectEveryJoinWithin(JoinBesideBotnet(240, 1900, true), quiet,
                          ServerConnectionManager::handshakeTimeoutMs / 2.0, 64);
}

// The rule that makes room when every joining slot is held, on a socket of five such slots (the
// server's 1,024 take a large botnet to fill): a connect pushes out a peer stuck in ENet's
// handshake first, then the oldest of the address with the most, then the oldest, and tells it;
// never a peer whose first datagram waits for the main thread, nor a young one (younger than a
// quarter of a second). The socket's clock is the test's: the peers age only when it says.
TEST(GuardThreadsTest, WhenEveryJoiningSlotIsHeldANewConnectPushesOutTheRightOne)
{
    GAME::Test::LogCapture log;
    GAME::Test::ManualClock clock;
    ASSERT_EQ(enet_initialize(), 0);
    Socket server;
    server.SetClock(&clock);
    Socket::Limits limits;
    limits.maxConnections = 10;
    limits.maxPending = 5;
    limits.maxPerAddress = 2;
    ASSERT_TRUE(server.Listen("127.0.0.1", 0, limits));
    const ENetAddress to = EnetAddress("127.0.0.1", server.GetPort());
    bool taking = true; // the main thread takes what the socket hands over
    int connects = 0;   // of what it took
    auto turn = [&](std::initializer_list<ENetHost*> hosts) {
        Socket::Event event;
        while (taking && server.Receive(event))
            connects += event.kind == Socket::EVENT_CONNECTED ? 1 : 0;
        for (ENetHost* host : hosts) {
            ENetEvent e;
            while (enet_host_service(host, &e, 0) > 0)
                if (e.type == ENET_EVENT_TYPE_RECEIVE)
                    enet_packet_destroy(e.packet);
            GAME::Test::ServiceCookies(host);
        }
    };
    ENetHost* x = GAME::Test::MakeHost("127.4.0.1", 2);
    ENetHost* y = GAME::Test::MakeHost("127.4.0.2", 1);
    ENetHost* z = GAME::Test::MakeHost("127.4.0.3", 1);
    ENetHost* w = GAME::Test::MakeHost("127.4.0.4", 1);
    ENetHost* q = GAME::Test::MakeHost("127.4.0.6", 1);
    ENetHost* v = GAME::Test::MakeHost("127.4.0.7", 1);
    ASSERT_TRUE(x && y && z && w && q && v);
    auto all = {x, y, z, w, q, v};
    auto connected = [](ENetHost* host, size_t i) {
        return host->peers[i].state == ENET_PEER_STATE_CONNECTED;
    };

    // One peer each of two addresses, then two of a third (the first older), and one that takes
    // the cookie but never answers ENet's handshake; each 10 ms older than the next. (A peer whose
    // connect the main thread took has been in its slot since a turn of the socket before.)
    auto connectOne = [&](ENetHost* host, size_t peer) {
        const int before = connects;
        enet_host_connect(host, &to, 1, 0);
        const bool in =
            PumpUntil([&] { turn(all); }, [&] { return connected(host, peer) && connects > before; }, 60000);
        clock.Advance(10);
        return in;
    };
    ASSERT_TRUE(connectOne(y, 0));
    ASSERT_TRUE(connectOne(v, 0));
    ASSERT_TRUE(connectOne(x, 0));
    enet_host_connect(x, &to, 1, 0);
    ENetSocket stuck = enet_socket_create(ENET_SOCKET_TYPE_DATAGRAM);
    ENetAddress stuckAddress = EnetAddress("127.4.0.5", 0);
    ASSERT_EQ(enet_socket_bind(stuck, &stuckAddress), 0);
    GAME::Test::SendRaw(stuck, to, ConnectDatagram(11, 0));
    uint8_t reply[64];
    ENetBuffer buffer;
    buffer.data = reply;
    buffer.dataLength = sizeof(reply);
    enet_uint32 wait = ENET_SOCKET_WAIT_RECEIVE;
    ASSERT_EQ(enet_socket_wait(stuck, &wait, 5000), 0);
    ENetAddress from;
    ASSERT_EQ(enet_socket_receive(stuck, &from, &buffer, 1), 12);
    uint32_t cookie;
    std::memcpy(&cookie, reply + 8, 4);
    GAME::Test::SendRaw(stuck, to, ConnectDatagram(12, ENET_NET_TO_HOST_32(cookie)));
    ASSERT_TRUE(PumpUntil([&] { turn(all); }, [&] { return connected(x, 1) && connects == 4; }, 60000));

    // A newcomer while all five are young is refused.
    enet_host_connect(z, &to, 1, 0);
    ASSERT_TRUE(PumpUntil([&] { turn(all); },
                          [&] {
                              const Socket::GuardStats guard = server.GetGuardStats();
                              return guard.refusedNoRoom > 0 || guard.pushedOut > 0;
                          },
                          60000));
    EXPECT_EQ(server.GetGuardStats().pushedOut, 0u);
    enet_peer_reset(&z->peers[0]);

    // The oldest peer, the first address's, asks something, and the main thread does not take it
    // (the socket has it once ENet acknowledged it). All are old now.
    taking = false;
    const uint8_t request[20] = {1};
    enet_peer_send(&y->peers[0], 0, enet_packet_create(request, sizeof(request), ENET_PACKET_FLAG_RELIABLE));
    ASSERT_TRUE(PumpUntil([&] { turn(all); },
                          [&] {
                              return enet_list_empty(&y->peers[0].outgoingCommands) &&
                                     enet_list_empty(&y->peers[0].sentReliableCommands);
                          },
                          60000));
    clock.Advance(300);

    // The stuck one goes first, told or not; then the older peer of the address with two, told.
    enet_host_connect(z, &to, 1, 0);
    ASSERT_TRUE(PumpUntil([&] { turn(all); }, [&] { return connected(z, 0); }, 5000));
    EXPECT_EQ(server.GetGuardStats().pushedOut, 1u);
    EXPECT_TRUE(connected(x, 0) && connected(x, 1) && connected(y, 0) && connected(v, 0));
    enet_host_connect(w, &to, 1, 0);
    ASSERT_TRUE(PumpUntil([&] { turn(all); }, [&] { return connected(w, 0); }, 5000));
    EXPECT_TRUE(PumpUntil([&] { turn(all); }, [&] { return !connected(x, 0); }, 1000)) << "not told";
    EXPECT_TRUE(connected(x, 1) && connected(v, 0));
    EXPECT_EQ(server.GetGuardStats().pushedOut, 2u);

    // Once every address has one peer, the oldest goes, but for the one whose question waits.
    clock.Advance(300);
    enet_host_connect(q, &to, 1, 0);
    ASSERT_TRUE(PumpUntil([&] { turn(all); }, [&] { return connected(q, 0); }, 5000));
    EXPECT_TRUE(PumpUntil([&] { turn(all); }, [&] { return !connected(v, 0); }, 1000)) << "not told";
    EXPECT_TRUE(connected(y, 0) && connected(x, 1) && connected(z, 0) && connected(w, 0));
    EXPECT_EQ(server.GetGuardStats().pushedOut, 3u);
    enet_socket_destroy(stuck);
    server.Close(0);
    for (ENetHost* host : all)
        enet_host_destroy(host);
}

// A game packet body that the pretend game reads: a sequence number and a text.
std::vector<uint8_t> CommandBody(uint32_t sequence)
{
    GAME::Test::GamePacket packet(GAME::Test::commandType, sequence, "x");
    std::vector<uint8_t> body;
    EXPECT_TRUE(ConnectionManager::WriteBody(&packet, body));
    return body;
}

// Counts what each host sent, and whether in order.
class CountingController : public GAME::Test::RecordingController
{
public:
    void ProcessPacket(int host, NetPacket* packet) override
    {
        if (packet->GetType() != GAME::Test::commandType || host < 0 || host > 15)
            return;
        const uint32_t sequence = static_cast<GAME::Test::GamePacket*>(packet)->sequence;
        if (sequence == next[host])
            ++next[host];
        else
            ++outOfOrder;
    }
    uint32_t next[16] = {};
    uint64_t outOfOrder = 0;
};

// A server whose game packets a CountingController counts (the server goes first).
struct CountingServer
{
    CountingServer()
    {
        server.SetNetPacketCreator(&creator);
        server.SetNetworkController(&controller);
    }
    GAME::Test::GamePacketCreator creator;
    CountingController controller;
    ServerConnectionManager server;
};

// Hole: a joined client sends small packets through ENet's own API as fast as it takes them.
// Wrongly authenticated ones each cost a keyed hash before they are dropped: the link is hung up
// after a few. Authenticated ones that the game reads are handed on within the frame's budget:
// the server's frames stay short (unguarded, frames took 100 ms and more, again and again), a
// real client joins meanwhile, and an honest client's packets still come through in their turn.
TEST(GuardThreadsTest, AJoinedClientsFloodOfSmallPacketsNeitherStallsTheFrameNorStarvesOthers)
{
    GAME::Test::LogCapture log;
    ASSERT_EQ(enet_initialize(), 0);
    const Quiet quiet = MeasureQuiet();
    ASSERT_GT(quiet.joinMs, 0.0);
    CountingServer counting;
    ServerConnectionManager& server = counting.server;
    const CountingController& controller = counting.controller;
    ASSERT_TRUE(server.Listen("127.0.0.1", 0));
    auto pump = [&] { server.Update(5); };

    // Wrong tags: the server hangs up once the link has failed its checks enough times.
    HandPeer forger(pump, "127.0.0.10", server.GetPort(), true);
    ASSERT_TRUE(forger.ready);
    ASSERT_TRUE(PumpUntil(pump, [&] { return server.GetNumClients() == 1; }, 5000));
    bool disconnected = false;
    const std::vector<uint8_t> body = CommandBody(1);
    for (int n = 0; n < 2000 && !disconnected; ++n) {
        std::vector<uint8_t> datagram;
        ASSERT_TRUE(forger.link.Seal(GAME::Test::commandType, body.data(), body.size(), datagram));
        datagram[8] ^= 0xFF; // the tag
        enet_peer_send(forger.peer, 0, enet_packet_create(datagram.data(), datagram.size(), ENET_PACKET_FLAG_RELIABLE));
        ENetEvent event;
        while (enet_host_service(forger.host, &event, 0) > 0)
            disconnected = disconnected || event.type == ENET_EVENT_TYPE_DISCONNECT;
        if (n % 50 == 0)
            pump();
    }
    ASSERT_TRUE(PumpUntil(
        [&] {
            pump();
            ENetEvent event;
            while (enet_host_service(forger.host, &event, 0) > 0)
                disconnected = disconnected || event.type == ENET_EVENT_TYPE_DISCONNECT;
        },
        [&] { return disconnected; }, 10000));
    EXPECT_TRUE(PumpUntil(pump, [&] { return server.GetNumClients() == 0; }, 5000));
    EXPECT_EQ(server.GetStats().droppedBadAuth, ConnectionManager::maxRefusedDatagrams);
    EXPECT_TRUE(log.Contains("failed their checks", 1));

    // Authenticated packets, a quarter of a million, sent as fast as ENet takes them, beside an
    // honest client that sends one every frame.
    HandPeer flooder(pump, "127.0.0.11", server.GetPort(), true);
    HandPeer honest(pump, "127.0.0.12", server.GetPort(), true);
    ASSERT_TRUE(flooder.ready && honest.ready);
    ASSERT_TRUE(PumpUntil(pump, [&] { return server.GetNumClients() == 2; }, 5000));
    const int flooderHost = flooder.link.GetLocalHostId();
    const int honestHost = honest.link.GetLocalHostId();
    constexpr uint32_t floodPackets = 250000;
    std::atomic<bool> flooding{true};
    std::thread flood([&] {
        const auto limit = Clock::now() + std::chrono::seconds(30);
        for (uint32_t n = 0; n < floodPackets && Clock::now() < limit;) {
            // ENet takes what fits its window; what it has not sent yet waits in its queue.
            for (int i = 0; i < 2000 && n < floodPackets; ++i, ++n)
                flooder.SendSealed(GAME::Test::commandType, CommandBody(n));
            do
                flooder.Service();
            while (enet_list_size(&flooder.peer->outgoingCommands) > 4000 && Clock::now() < limit);
        }
        const auto drain = Clock::now() + std::chrono::seconds(20);
        while (!enet_list_empty(&flooder.peer->outgoingCommands) && Clock::now() < drain)
            flooder.Service();
        flooding = false;
    });

    Durations frames(quiet.SlowFrameMs());
    uint32_t honestSent = 0;
    double joinMs = -1.0;
    const auto start = Clock::now();
    // Until the flood and every honest packet have come through (the honest client's last ones may
    // still be on their way when the flood's last is in).
    while ((flooding || controller.next[flooderHost] < floodPackets || controller.next[honestHost] < honestSent) &&
           MillisecondsSince(start) < 60000) {
        if (honestSent < 200) {
            honest.SendSealed(GAME::Test::commandType, CommandBody(honestSent++));
        }
        honest.Service();
        const auto frame = Clock::now();
        server.Update(5);
        frames.Add(MillisecondsSince(frame));
        if (joinMs < 0.0 && controller.next[flooderHost] > 1000)
            joinMs = TimeJoin(server, frames, 10000);
        Platform::SleepMilliseconds(1);
    }
    flooding = false;
    flood.join();
    EXPECT_EQ(controller.next[flooderHost], floodPackets);
    EXPECT_EQ(controller.next[honestHost], honestSent);
    EXPECT_EQ(controller.outOfOrder, 0u);
    EXPECT_LE(frames.slow, 3) << frames.slow << " frames of the server took over " << frames.slowMs
                              << " ms, the longest " << frames.longest << " ms";
    EXPECT_GT(joinMs, 0.0);
    EXPECT_LT(joinMs, quiet.JoinBound(connectResendMs)) << quiet.joinMs << " ms on a quiet server";
}

// Hole: two joined clients send 32 reliable commands a datagram, newest first up to 24,000 ahead
// (inside ENet's window) and never the next one, a few thousand datagrams a second: unguarded,
// each command costs ENet a walk past every command waiting above it while the receive thread
// holds the host lock, and a real client's join took one to four seconds here. The main thread's
// calls on the socket never wait for that lock, no frame takes long, and real clients join in
// good time.
TEST(GuardThreadsTest, OutOfOrderSendsInsideTheWindowNeitherHoldTheMainThreadNorKeepOthersOut)
{
    GAME::Test::LogCapture log;
    ASSERT_EQ(enet_initialize(), 0);
    const Quiet quiet = MeasureQuiet();
    ASSERT_GT(quiet.joinMs, 0.0);
    ProbedServer server;
    ASSERT_TRUE(server.Listen("127.0.0.1", 0));
    auto pump = [&] { server.Update(5); };
    std::vector<std::unique_ptr<HandPeer>> attackers;
    for (const char* ip : {"127.0.0.10", "127.0.0.11"}) {
        attackers.emplace_back(new HandPeer(pump, ip, server.GetPort(), true));
        ASSERT_TRUE(attackers.back()->ready);
    }
    ASSERT_TRUE(PumpUntil(pump, [&] { return server.GetNumClients() == 2; }, 5000));

    // Each join request was reliable number 1: the next one is 2, never sent. Up to `depth` ahead,
    // inside ENet's window: each command costs ENet a walk past thousands.
    constexpr int depth = 24000;
    std::atomic<bool> attacking{true};
    std::atomic<uint64_t> sent{0};
    std::vector<std::thread> attack;
    for (auto& peer : attackers)
        attack.emplace_back([&, attacker = peer.get()] {
            std::vector<uint8_t> datagram;
            const auto limit = Clock::now() + std::chrono::seconds(30);
            for (int sweep = 0; attacking && Clock::now() < limit; ++sweep) {
                for (int top = 1 + depth; top >= 3 + 31 && attacking; top -= 32) {
                    datagram = attacker->Datagram();
                    for (int c = 0; c < 32; ++c) {
                        ENetProtocolSendReliable command = {};
                        command.header.command = ENET_PROTOCOL_COMMAND_SEND_RELIABLE;
                        command.header.reliableSequenceNumber = ENET_HOST_TO_NET_16(static_cast<uint16_t>(top - c));
                        command.dataLength = ENET_HOST_TO_NET_16(16);
                        GAME::Test::AppendCommand(datagram, command, 16);
                    }
                    attacker->Send(datagram);
                    // Each costs the receive thread milliseconds unguarded: a few thousand a
                    // second are plenty, and leave the machine's processors to the rest.
                    if (++sent % 4 == 0)
                        Platform::SleepMilliseconds(1);
                }
            }
        });

    Socket& transport = *server.Transport();
    Durations calls(quiet.SlowFrameMs()), frames(quiet.SlowFrameMs());
    auto frame = [&] {
        const auto start = Clock::now();
        server.Update(5);
        frames.Add(MillisecondsSince(start));
        // What a game's frame may ask of its session.
        const auto call = Clock::now();
        (void)transport.GetBufferedBytes();
        (void)transport.GetAddressText(1);
        (void)transport.GetRoundTripTime(1);
        transport.SetTimeout(0);
        calls.Add(MillisecondsSince(call));
    };
    ASSERT_TRUE(PumpUntil(frame, [&] { return sent > 4000; }, 20000));
    std::vector<double> joins;
    for (int attempt = 0; attempt < 2; ++attempt) {
        ClientConnectionManager client;
        const auto start = Clock::now();
        ASSERT_TRUE(client.Connect("127.0.0.1", server.GetPort()));
        PumpUntil(
            [&] {
                frame();
                client.Update(5);
            },
            [&] { return !client.IsConnecting(); }, 10000);
        joins.push_back(client.IsConnected() ? MillisecondsSince(start) : -1.0);
        client.Shutdown();
    }
    const uint64_t datagrams = sent;
    attacking = false;
    for (std::thread& thread : attack)
        thread.join();
    for (double ms : joins) {
        EXPECT_GT(ms, 0.0) << "a join failed beside " << datagrams << " datagrams of the attack";
        EXPECT_LT(ms, quiet.JoinBound(connectResendMs)) << quiet.joinMs << " ms on a quiet server";
    }
    EXPECT_LE(calls.slow, 3) << calls.slow << " calls on the socket waited over " << calls.slowMs
                             << " ms, the longest " << calls.longest << " ms";
    EXPECT_LE(frames.slow, 3) << frames.slow << " frames of the server took over " << frames.slowMs
                              << " ms, the longest " << frames.longest << " ms";
    EXPECT_GT(server.GetGuardStats().commandsLeftOut, 0u);
}

// Hole: peers from 200 addresses each finish ENet's connect, send a datagram the session cannot
// read, one it does not expect and one that fails authentication, and leave. Each link's first
// drop of each kind was written before: 600 lines. The session writes its share and counts the
// rest, whatever the links, and sums them up when the interval is over.
TEST(GuardThreadsTest, PeersFromManyAddressesMakeTheServerLogNoMoreThanItsShare)
{
    GAME::Test::LogCapture log;
    GAME::Test::ManualClock clock;
    ASSERT_EQ(enet_initialize(), 0);
    ServerConnectionManager server;
    ASSERT_TRUE(server.Listen("127.0.0.1", 0));
    auto pump = [&] { server.Update(5); };
    const size_t linesBefore = log.Count();

    std::vector<uint8_t> unreadable = {1, 2, 3, 4, 5};
    std::vector<uint8_t> unexpected(NetPacketHeader::headerSize + NetworkConnection::connectAcceptBodySize, 0);
    std::vector<uint8_t> forged(NetPacketHeader::headerSize + 4, 0);
    NetPacketHeader header;
    header.size = static_cast<uint16_t>(unexpected.size());
    header.type = PACKET_TYPE_CONNECT_ACCEPT;
    header.hostId = 0;
    header.sequence = 1;
    header.Write(unexpected.data());
    header.size = static_cast<uint16_t>(forged.size());
    header.type = GAME::Test::commandType;
    header.hostId = 1;
    header.Write(forged.data());
    constexpr int peers = 200;
    for (int i = 0; i < peers; ++i) {
        HandPeer peer(pump, "127.3." + std::to_string(i / 100) + "." + std::to_string(1 + i % 100), server.GetPort(),
                      false);
        ASSERT_TRUE(peer.ready) << i;
        for (const std::vector<uint8_t>* datagram : {&unreadable, &unexpected, &forged})
            enet_peer_send(peer.peer, 0, enet_packet_create(datagram->data(), datagram->size(), ENET_PACKET_FLAG_RELIABLE));
        enet_host_flush(peer.host);
        ASSERT_TRUE(PumpUntil(
            [&] {
                pump();
                peer.Service();
            },
            [&] { return server.GetStats().GetDropped() == 3u * static_cast<uint64_t>(i + 1); }, 5000));
        enet_peer_disconnect_now(peer.peer, 0);
    }
    const NetworkLinkStats stats = server.GetStats();
    EXPECT_EQ(stats.droppedMalformed, uint64_t(peers));
    EXPECT_EQ(stats.droppedUnexpected, uint64_t(peers));
    EXPECT_EQ(stats.droppedBadAuth, uint64_t(peers));
    // The share, and the guard's own report.
    EXPECT_LE(log.Count() - linesBefore, size_t(ConnectionManager::maxLinesPerInterval) + 1);

    clock.Advance(ConnectionManager::logSummaryIntervalMs);
    server.Update(5);
    EXPECT_TRUE(log.Contains("not logged in the last 10 s: " + std::to_string(3 * peers - ConnectionManager::maxLinesPerInterval) +
                                 " dropped datagrams",
                             1));
}

// A relay between a client and the server on the loopback address that loses one datagram of
// every `period` the client sends, as a real network does now and then. It reads the reliable
// numbers the client sends, and keeps how far ahead of a resent command the client had gone.
class LossyRelay
{
public:
    LossyRelay(int serverPort, int period) : m_server(EnetAddress("127.0.0.1", serverPort)), m_period(period)
    {
        m_socket = enet_socket_create(ENET_SOCKET_TYPE_DATAGRAM);
        ENetAddress bind = EnetAddress("127.0.0.60", 0);
        if (m_socket == ENET_SOCKET_NULL || enet_socket_bind(m_socket, &bind) != 0 ||
            enet_socket_get_address(m_socket, &bind) != 0)
            return;
        port = bind.port;
        enet_socket_set_option(m_socket, ENET_SOCKOPT_NONBLOCK, 1);
        m_thread = std::thread([this] { Run(); });
    }
    ~LossyRelay()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        if (m_socket != ENET_SOCKET_NULL)
            enet_socket_destroy(m_socket);
    }
    int port = 0;
    std::atomic<uint64_t> lost{0};
    std::atomic<int> farthestAheadOfAResend{0};

private:
    void Note(const uint8_t* data, size_t length)
    {
        uint16_t peerID;
        std::memcpy(&peerID, data, 2);
        size_t offset = (ENET_NET_TO_HOST_16(peerID) & ENET_PROTOCOL_HEADER_FLAG_SENT_TIME) ? 4 : 2;
        while (offset + sizeof(ENetProtocolCommandHeader) <= length) {
            const uint8_t number = data[offset] & ENET_PROTOCOL_COMMAND_MASK;
            const size_t size = number < ENET_PROTOCOL_COMMAND_COUNT ? enet_protocol_command_size(number) : 0;
            if (size == 0 || offset + size > length)
                return;
            uint16_t value;
            size_t dataLength = 0;
            if (number == ENET_PROTOCOL_COMMAND_SEND_RELIABLE) {
                std::memcpy(&value, data + offset + offsetof(ENetProtocolSendReliable, dataLength), 2);
                dataLength = ENET_NET_TO_HOST_16(value);
                std::memcpy(&value, data + offset + offsetof(ENetProtocolCommandHeader, reliableSequenceNumber), 2);
                const int sequence = ENET_NET_TO_HOST_16(value);
                if (m_seen[static_cast<size_t>(sequence)])
                    farthestAheadOfAResend = std::max<int>(farthestAheadOfAResend, m_highest - sequence);
                m_seen[static_cast<size_t>(sequence)] = true;
                m_highest = std::max(m_highest, sequence);
            }
            offset += size + dataLength;
        }
    }
    void Run()
    {
        std::vector<uint8_t> bytes(4096);
        uint64_t fromClient = 0;
        while (!m_stop) {
            enet_uint32 condition = ENET_SOCKET_WAIT_RECEIVE;
            enet_socket_wait(m_socket, &condition, 5);
            for (;;) {
                ENetAddress from;
                ENetBuffer buffer;
                buffer.data = bytes.data();
                buffer.dataLength = bytes.size();
                const int length = enet_socket_receive(m_socket, &from, &buffer, 1);
                if (length <= 0)
                    break;
                buffer.dataLength = static_cast<size_t>(length);
                if (from.host == m_server.host && from.port == m_server.port) {
                    if (m_hasClient)
                        enet_socket_send(m_socket, &m_client, &buffer, 1);
                    continue;
                }
                m_client = from;
                m_hasClient = true;
                Note(bytes.data(), buffer.dataLength);
                if (++fromClient % static_cast<uint64_t>(m_period) == 0) {
                    ++lost;
                    continue;
                }
                enet_socket_send(m_socket, &m_server, &buffer, 1);
            }
        }
    }

    ENetAddress m_server;
    ENetAddress m_client{};
    bool m_hasClient = false;
    int m_period;
    std::vector<bool> m_seen = std::vector<bool>(65536, false);
    int m_highest = 0;
    ENetSocket m_socket = ENET_SOCKET_NULL;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// Hole: a plain ENet client sends 60,000 of the session's smallest packets as fast as ENet takes
// them, and one datagram in 64 is lost on the way. ENet keeps its whole window in flight (some
// 2,800 such packets) and goes on past a lost command while the rest is acknowledged; it resends
// the lost commands in datagrams together with newer ones, thousands of numbers ahead, and
// commands whose acknowledgement came late. A guard that refused those datagrams, or took their
// newer commands out, starved the resend behind them until ENet gave the link up. Now the link
// stays and every packet arrives, in order.
TEST(GuardThreadsTest, AGenuineHeavySenderKeepsItsLinkThroughLostDatagrams)
{
    GAME::Test::LogCapture log;
    ASSERT_EQ(enet_initialize(), 0);
    CountingServer counting;
    ServerConnectionManager& server = counting.server;
    const CountingController& controller = counting.controller;
    ASSERT_TRUE(server.Listen("127.0.0.1", 0));
    auto pump = [&] { server.Update(5); };
    LossyRelay relay(server.GetPort(), 64);
    ASSERT_GT(relay.port, 0);
    HandPeer sender(pump, "127.0.0.61", relay.port, true, 10000, "127.0.0.60");
    ASSERT_TRUE(sender.ready);
    ASSERT_TRUE(PumpUntil(pump, [&] { return server.GetNumClients() == 1; }, 5000));
    const int host = sender.link.GetLocalHostId();

    constexpr uint32_t packets = 60000;
    std::atomic<bool> sending{true}, lostLink{false};
    std::thread send([&] {
        const auto limit = Clock::now() + std::chrono::seconds(60);
        auto service = [&] {
            ENetEvent event;
            while (enet_host_service(sender.host, &event, 0) > 0) {
                if (event.type == ENET_EVENT_TYPE_DISCONNECT)
                    lostLink = true;
                else if (event.type == ENET_EVENT_TYPE_RECEIVE)
                    enet_packet_destroy(event.packet);
            }
        };
        for (uint32_t n = 0; n < packets && !lostLink && Clock::now() < limit;) {
            for (int i = 0; i < 1000 && n < packets; ++i, ++n)
                sender.SendSealed(GAME::Test::commandType, CommandBody(n));
            do
                service();
            while (enet_list_size(&sender.peer->outgoingCommands) > 4000 && !lostLink && Clock::now() < limit);
        }
        while (sending && !lostLink && Clock::now() < limit) {
            service();
            Platform::SleepMilliseconds(1);
        }
    });
    PumpUntil(pump, [&] { return controller.next[host] == packets || lostLink; }, 60000);
    sending = false;
    send.join();
    EXPECT_FALSE(lostLink);
    EXPECT_EQ(controller.next[host], packets);
    EXPECT_EQ(controller.outOfOrder, 0u);
    EXPECT_EQ(server.GetNumClients(), 1);
    EXPECT_GT(relay.lost, 10u);
    // What the old guard's window of 1,024 refused: ENet resent far behind its newest command.
    EXPECT_GT(relay.farthestAheadOfAResend, 1024);
    EXPECT_EQ(server.GetGuardStats().refusedCommands, 0u);
}

} // namespace
} // namespace GAME
