// A server flooded over the loopback address by peers that never join: connect datagrams from
// several addresses that never take the server's cookie, peers that finish ENet's handshake but
// never the session's and start packets in fragments they never finish, and a peer that joined
// and does the same. A real client still joins while the flood runs, and the server's memory
// stays bounded: nothing waits in its transport for peers that have not joined, at most
// maxWaitingData and one more packet being joined for a peer that has, and the process's heap
// grows by less than 64 MB.
//
// Then the attacks a peer can make with ENet's own commands, crafted on the peers' sockets, each
// of 32 commands a datagram at most (as many as ENet itself sends), so that each is stopped by
// one rule of the transport's guard alone: sends that carry nothing and wait for a reliable number
// that never comes (memory), datagrams of more than 32 commands (the answers the server sends
// back), and connects from many addresses that finish ENet's handshake and never ask to join
// (slots).
//
// And a joined client that floods the server with the session's own packets at its full rate:
// an honest client's round trip beside it.
#include "../HandPeer.h"
#include "../NetworkTestKit.h"

#include "common/LogCapture.h"
#include "network/ClientConnectionManager.h"
#include "network/NetworkConnection.h"
#include "network/ServerConnectionManager.h"
#include "platform/SystemInfo.h"
#include "platform/Threading.h"

#include <enet/enet.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace GAME {
namespace {

using Clock = std::chrono::steady_clock;
using GAME::Test::AppendCommand;
using GAME::Test::ConnectDatagram;
using GAME::Test::EnetAddress;
using GAME::Test::HandPeer;
using GAME::Test::PumpUntil;
using GAME::Test::SendRaw;

// Only a hang takes longer.
constexpr int hangMs = 60000;

// The server's transport, looked at from outside.
class ProbedServer : public ServerConnectionManager
{
public:
    size_t GetBufferedBytes() const { return GetSocket() ? GetSocket()->GetBufferedBytes() : 0; }
    uint64_t GetQueueStalls() const { return GetSocket() ? GetSocket()->GetQueueStalls() : 0; }
};

// The first of two fragments of a packet of `total` bytes, on the peer's connection; the second
// never comes.
void SendFragmentStart(ENetHost* host, ENetPeer* peer, uint16_t sequence, uint32_t total)
{
    ENetProtocolSendFragment fragment = {};
    fragment.header.command =
        int(ENET_PROTOCOL_COMMAND_SEND_FRAGMENT) | int(ENET_PROTOCOL_COMMAND_FLAG_ACKNOWLEDGE);
    fragment.header.channelID = 0;
    fragment.header.reliableSequenceNumber = ENET_HOST_TO_NET_16(sequence);
    fragment.startSequenceNumber = ENET_HOST_TO_NET_16(sequence);
    constexpr uint16_t length = 40;
    fragment.dataLength = ENET_HOST_TO_NET_16(length);
    fragment.fragmentCount = ENET_HOST_TO_NET_32(2);
    fragment.fragmentNumber = 0;
    fragment.totalLength = ENET_HOST_TO_NET_32(total);
    fragment.fragmentOffset = 0;
    std::vector<uint8_t> bytes = GAME::Test::PeerHeader(*peer);
    GAME::Test::AppendCommand(bytes, fragment, length);
    SendRaw(host->socket, peer->address, bytes);
}

// ENet peers from one address that finish ENet's handshake and then only start fragments;
// connected again whenever the server drops them.
struct Squatters
{
    Squatters(const std::string& ip, int port, int count)
        : server(EnetAddress("127.0.0.1", port)), host(GAME::Test::MakeHost(ip, static_cast<size_t>(count)))
    {
    }
    ~Squatters()
    {
        if (host)
            enet_host_destroy(host);
    }
    void Service()
    {
        ENetEvent event;
        while (enet_host_service(host, &event, 0) > 0) {
            if (event.type == ENET_EVENT_TYPE_CONNECT)
                connected.push_back(event.peer);
            else if (event.type == ENET_EVENT_TYPE_DISCONNECT) {
                connected.erase(std::remove(connected.begin(), connected.end(), event.peer), connected.end());
                ++dropped;
            } else if (event.type == ENET_EVENT_TYPE_RECEIVE)
                enet_packet_destroy(event.packet);
        }
        GAME::Test::ServiceCookies(host);
        for (size_t i = 0; i < host->peerCount; ++i)
            if (host->peers[i].state == ENET_PEER_STATE_DISCONNECTED)
                enet_host_connect(host, &server, 1, 0);
    }
    // One fragment start from the next connected peer; false when none is connected.
    bool StartFragment()
    {
        if (connected.empty())
            return false;
        ENetPeer* peer = connected[next++ % connected.size()];
        SendFragmentStart(host, peer, static_cast<uint16_t>(1000 + (sequence++ % 20000)), 60000);
        return true;
    }

    ENetAddress server;
    ENetHost* host = nullptr;
    std::vector<ENetPeer*> connected;
    size_t next = 0;
    uint32_t sequence = 0;
    int dropped = 0;
};

// Rule: fragments only from a peer that joined (and connects only with the cookie). The fault,
// fragments from peers that have not joined: the squatters' starts are buffered and none refused.
TEST(FloodThreadsTest, ARealClientJoinsWhileTheServerIsFloodedAndItsMemoryStaysBounded)
{
    GAME::Test::LogCapture log;
    ASSERT_EQ(enet_initialize(), 0);
    ProbedServer server;
    ASSERT_TRUE(server.Listen("127.0.0.1", 0));
    const int port = server.GetPort();
    const ENetAddress serverAddress = EnetAddress("127.0.0.1", port);
    auto pump = [&] { server.Update(5); };

    // A peer that joins the session properly (by hand, over ENet) to start fragments as a client.
    HandPeer joined(pump, "127.0.0.10", port, true);
    ASSERT_TRUE(joined.ready);
    ASSERT_TRUE(PumpUntil(pump, [&] { return server.GetNumClients() == 1; }, hangMs));

    // The flood, on a thread of its own: about 3,600 datagrams over 2.5 s or so, and on until all
    // of it was sent, the real client has joined and the squatters have been timed out at least
    // once (a crowded machine slows each; a flood that ended first would prove nothing).
    const uint64_t heapBefore = Platform::GetProcessHeapBytes();
    constexpr int connects = 2000;
    constexpr int strangerFragments = 1500;
    constexpr int joinedFragments = 100;
    std::atomic<bool> flooding{true}, clientJoined{false};
    std::atomic<int> sentConnects{0}, sentFragments{0}, sentJoinedFragments{0}, squattersDropped{0};
    std::thread flood([&] {
        std::mt19937 random(1234);
        std::vector<ENetSocket> sockets;
        for (int i = 2; i <= 7; ++i) {
            ENetSocket socket = enet_socket_create(ENET_SOCKET_TYPE_DATAGRAM);
            ENetAddress from = EnetAddress("127.0.0." + std::to_string(i), 0);
            if (socket != ENET_SOCKET_NULL && enet_socket_bind(socket, &from) == 0)
                sockets.push_back(socket);
        }
        std::vector<std::unique_ptr<Squatters>> squatters;
        for (const char* ip : {"127.0.0.8", "127.0.0.9"})
            squatters.emplace_back(new Squatters(ip, port, 4));
        const auto limit = Clock::now() + std::chrono::milliseconds(2 * hangMs);
        for (int round = 0; (sentConnects < connects || sentFragments < strangerFragments ||
                             sentJoinedFragments < joinedFragments || !clientJoined || squattersDropped == 0) &&
                            Clock::now() < limit;
             ++round) {
            squattersDropped = 0;
            for (auto& squatter : squatters) {
                squatter->Service();
                squattersDropped += squatter->dropped;
            }
            joined.Service();
            if (!sockets.empty()) {
                SendRaw(sockets[round % sockets.size()], serverAddress, ConnectDatagram(random()));
                ++sentConnects;
            }
            if (sentFragments < strangerFragments && squatters[round % 2]->StartFragment())
                ++sentFragments;
            if (round % 10 == 0 && sentJoinedFragments < joinedFragments) {
                SendFragmentStart(joined.host, joined.peer, static_cast<uint16_t>(1000 + sentJoinedFragments),
                                  60000);
                ++sentJoinedFragments;
            }
            Platform::SleepMilliseconds(1);
        }
        for (ENetSocket socket : sockets)
            enet_socket_destroy(socket);
        flooding = false;
    });

    // The real client starts joining once the flood is under way and gets in while it lasts.
    ClientConnectionManager client;
    size_t peakBuffered = 0;
    uint64_t peakHeap = heapBefore;
    auto watch = [&] {
        peakBuffered = std::max(peakBuffered, server.GetBufferedBytes());
        peakHeap = std::max(peakHeap, Platform::GetProcessHeapBytes());
    };
    auto pumpBoth = [&] {
        watch();
        server.Update(5);
        client.Update(5);
    };
    PumpUntil([&] { watch(); server.Update(5); }, [&] { return sentConnects > 300; }, hangMs);
    ASSERT_TRUE(client.Connect("127.0.0.1", port));
    ASSERT_TRUE(PumpUntil(pumpBoth, [&] { return client.IsConnected(); }, hangMs));
    clientJoined = true;
    EXPECT_EQ(client.GetLocalHostID(), 2);
    PumpUntil(pumpBoth, [&] { return !flooding; }, 2 * hangMs);
    flood.join();
    // The server has read everything sent before the joined peer's ping that it acknowledged
    // (datagrams reach its socket in the order they were sent), and reported what it turned away.
    ASSERT_TRUE(joined.Flush(pumpBoth));
    pumpBoth();

    // The flood was what it was meant to be, and was turned away.
    EXPECT_GE(sentConnects, connects);
    EXPECT_GE(sentFragments, strangerFragments);
    EXPECT_EQ(sentJoinedFragments, joinedFragments);
    const Socket::GuardStats guard = server.GetGuardStats();
    EXPECT_GE(guard.cookiesSent, static_cast<uint64_t>(connects)); // no cookie, no slot
    EXPECT_GE(guard.refusedFragments, static_cast<uint64_t>(sentFragments / 2));
    EXPECT_GT(guard.timedOut, 0u); // squatters do not hold a slot past the handshake time
    EXPECT_GT(squattersDropped, 0);
    EXPECT_TRUE(log.Contains("peers that did not join so far", 1));

    // Memory: only the joined peer may have anything waiting in the transport, no more than
    // maxWaitingData and one more packet being joined; the squatters' starts alone would have held
    // that much for each of them (the fault: some 90 MB). The process's heap grew by far less
    // than that (what it has in use: the sanitizers keep freed memory for a while, which its
    // resident size counts, the longer the flood the more).
    const size_t bufferBound = ServerConnectionManager::maxWaitingData + NetPacketHeader::maxPacketSize;
    EXPECT_LE(peakBuffered, bufferBound);
    EXPECT_GT(peakBuffered, 0u); // the joined peer's starts were buffered, up to the limit
    EXPECT_LT(peakHeap - heapBefore, uint64_t(64) << 20);

    // The session goes on for those who joined.
    EXPECT_TRUE(client.IsConnected());
    EXPECT_EQ(server.GetNumClients(), 2);
    client.Shutdown();
}

// Rule: no unreliable, unsequenced or empty sends. Unreliable sends of no bytes, each waiting for
// a reliable number ahead of the last one delivered: ENet keeps every one (about 175 bytes of heap
// for 8 bytes on the wire) and counts none against the peer's waiting data, and the reliable
// number they wait for is any ENet takes. A joined client and four peers that only finished
// ENet's connect send 19,800 datagrams of 32 of them (about 630,000 commands, over 100 MB of heap
// unguarded); the server process grows by less than 64 MB, and the session goes on.
TEST(FloodThreadsTest, EmptySendsThatWaitForeverDoNotGrowTheServer)
{
    GAME::Test::LogCapture log;
    ASSERT_EQ(enet_initialize(), 0);
    ServerConnectionManager server;
    ASSERT_TRUE(server.Listen("127.0.0.1", 0));
    auto pump = [&] { server.Update(5); };
    std::vector<std::unique_ptr<HandPeer>> peers;
    peers.emplace_back(new HandPeer(pump, "127.0.0.10", server.GetPort(), true));
    for (int i = 11; i <= 14; ++i)
        peers.emplace_back(new HandPeer(pump, "127.0.0." + std::to_string(i), server.GetPort(), false));
    for (auto& peer : peers)
        ASSERT_TRUE(peer->ready);
    ASSERT_TRUE(PumpUntil(pump, [&] { return server.GetNumClients() == 1; }, hangMs));

    const uint64_t rssBefore = Platform::GetProcessWorkingSetBytes();
    std::atomic<bool> attacking{true};
    std::atomic<int> sent{0};
    constexpr int rounds = 2200;
    std::thread attack([&] {
        constexpr int commands = 32;
        // One buffer per peer, numbers rewritten in place: the attack itself allocates nothing
        // that would show in the process's memory.
        std::vector<std::vector<uint8_t>> datagrams;
        for (auto& peer : peers) {
            datagrams.push_back(peer->Datagram());
            ENetProtocolSendUnreliable command = {};
            command.header.command = ENET_PROTOCOL_COMMAND_SEND_UNRELIABLE;
            command.header.channelID = 0;
            for (int c = 0; c < commands; ++c)
                AppendCommand(datagrams.back(), command);
        }
        const size_t headerSize = datagrams[0].size() - commands * sizeof(ENetProtocolSendUnreliable);
        uint16_t unreliable = 0;
        for (int round = 0; round < rounds; ++round) {
            // Each round waits for a number of its own, later than the last: ENet appends.
            const uint16_t reliable = ENET_HOST_TO_NET_16(static_cast<uint16_t>(10 + round));
            for (size_t p = 0; p < peers.size(); ++p) {
                // The joined client sends five of every nine datagrams, the others one each.
                for (int repeat = 0; repeat < (p == 0 ? 5 : 1); ++repeat) {
                    uint8_t* command = datagrams[p].data() + headerSize;
                    for (int c = 0; c < commands; ++c, command += sizeof(ENetProtocolSendUnreliable)) {
                        const uint16_t number = ENET_HOST_TO_NET_16(++unreliable);
                        std::memcpy(command + offsetof(ENetProtocolCommandHeader, reliableSequenceNumber),
                                    &reliable, sizeof(reliable));
                        std::memcpy(command + offsetof(ENetProtocolSendUnreliable, unreliableSequenceNumber),
                                    &number, sizeof(number));
                    }
                    peers[p]->Send(datagrams[p]);
                    ++sent;
                }
                peers[p]->Service();
            }
            if (round % 2 == 0)
                Platform::SleepMilliseconds(1);
        }
        attacking = false;
    });
    uint64_t peakRss = rssBefore;
    auto watch = [&] {
        peakRss = std::max(peakRss, Platform::GetProcessWorkingSetBytes());
        return !attacking;
    };
    PumpUntil(pump, watch, 2 * hangMs);
    attack.join();
    EXPECT_EQ(sent, rounds * 9);

    // The session goes on: a real client joins beside the one that attacked. The server reads its
    // socket in order, so by the time the client is in, what the attack left in the socket was
    // read too: the server's growth is watched until then. The attacker's hosts keep answering
    // meanwhile (a peer that answers nothing for some seconds is given up by the server's ENet).
    ClientConnectionManager client;
    ASSERT_TRUE(client.Connect("127.0.0.1", server.GetPort()));
    EXPECT_TRUE(PumpUntil(
        [&] {
            watch();
            server.Update(5);
            client.Update(5);
            for (auto& peer : peers)
                peer->Service();
        },
        [&] { return client.IsConnected(); }, hangMs));
    watch();
    EXPECT_LT(peakRss - rssBefore, uint64_t(64) << 20)
        << "the server grew from " << (rssBefore >> 20) << " MB to " << (peakRss >> 20) << " MB";
    EXPECT_EQ(server.GetNumClients(), 2);
    client.Shutdown();
}

// Rule: a peer that has not joined may send no reliable number but the next one after what it
// delivered (it sends one packet, its join request). Four peers that only finished ENet's connect
// send reliable packets of 1,200 bytes, one a datagram, ahead of one they never send and within
// ENet's window, which ENet would keep until the one missing came, up to a joined client's room
// (4 MB) each. The transport keeps nothing for them (with a thousand joining slots, a few packets
// each would add up).
TEST(FloodThreadsTest, PeersThatHaveNotJoinedCannotMakeTheServerKeepTheirPackets)
{
    GAME::Test::LogCapture log;
    ASSERT_EQ(enet_initialize(), 0);
    ProbedServer server;
    ASSERT_TRUE(server.Listen("127.0.0.1", 0));
    auto pump = [&] { server.Update(5); };
    std::vector<std::unique_ptr<HandPeer>> peers;
    for (int i = 10; i <= 13; ++i) {
        peers.emplace_back(new HandPeer(pump, "127.0.0." + std::to_string(i), server.GetPort(), false));
        ASSERT_TRUE(peers.back()->ready);
    }
    size_t peakBuffered = 0;
    constexpr int perPeer = 800;
    for (int n = 0; n < perPeer; ++n) {
        for (auto& peer : peers) {
            std::vector<uint8_t> datagram = peer->Datagram();
            ENetProtocolSendReliable command = {};
            command.header.command = int(ENET_PROTOCOL_COMMAND_SEND_RELIABLE) | int(ENET_PROTOCOL_COMMAND_FLAG_ACKNOWLEDGE);
            command.header.reliableSequenceNumber = ENET_HOST_TO_NET_16(static_cast<uint16_t>(3 + n));
            command.dataLength = ENET_HOST_TO_NET_16(1200);
            AppendCommand(datagram, command, 1200);
            peer->Send(datagram);
        }
        if (n % 8 == 0) {
            pump();
            for (auto& peer : peers)
                peer->Service();
            peakBuffered = std::max(peakBuffered, server.GetBufferedBytes());
            Platform::SleepMilliseconds(1);
        }
    }
    // Every peer's datagrams reached the server once its last one, a ping, is acknowledged.
    for (auto& peer : peers)
        ASSERT_TRUE(peer->Flush([&] {
            pump();
            peakBuffered = std::max(peakBuffered, server.GetBufferedBytes());
        }));
    // What may wait behind the next one (none); unguarded, the 3,200 sent would all wait (3.8 MB).
    EXPECT_LE(peakBuffered, size_t(4 * (Socket::pendingReliableWindow - 1) * 1200));
    EXPECT_GT(server.GetGuardStats().commandsLeftOut, 0u);
}

// Rule: at most 32 commands a datagram, as ENet itself sends. Pings are commands of four bytes,
// each acknowledged with eight, and ENet acknowledges at most 32 commands in a datagram of its
// own: a datagram of 300 pings from a joined client made the server send ten back. The server
// answers such datagrams with nothing (the fault, no limit: ten answers to each), and the session
// goes on. The attacker waits for the server to have read what it sent every 50 datagrams, so that
// none is lost on the way however slowly the server's thread runs.
TEST(FloodThreadsTest, DatagramsOfMoreCommandsThanENetSendsAreNotAnswered)
{
    GAME::Test::LogCapture log;
    ASSERT_EQ(enet_initialize(), 0);
    ServerConnectionManager server;
    ASSERT_TRUE(server.Listen("127.0.0.1", 0));
    auto pump = [&] { server.Update(5); };
    HandPeer attacker(pump, "127.0.0.10", server.GetPort(), true);
    ASSERT_TRUE(attacker.ready);
    ASSERT_TRUE(PumpUntil(pump, [&] { return server.GetNumClients() == 1; }, hangMs));

    constexpr int datagrams = 1000;
    std::vector<uint8_t> datagram = attacker.Datagram();
    for (int c = 0; c < 300; ++c) {
        ENetProtocolPing ping = {};
        ping.header.command = int(ENET_PROTOCOL_COMMAND_PING) | int(ENET_PROTOCOL_COMMAND_FLAG_ACKNOWLEDGE);
        ping.header.channelID = 0xFF;
        ping.header.reliableSequenceNumber = ENET_HOST_TO_NET_16(static_cast<uint16_t>(2 + c));
        AppendCommand(datagram, ping);
    }
    attacker.Service();
    const enet_uint32 answersBefore = attacker.host->totalReceivedPackets;
    for (int n = 0; n < datagrams; ++n) {
        attacker.Send(datagram);
        if (n % 50 == 49) {
            ASSERT_TRUE(attacker.Flush(pump));
        }
    }
    ASSERT_TRUE(attacker.Flush(pump));
    const enet_uint32 answers = attacker.host->totalReceivedPackets - answersBefore;
    EXPECT_LT(answers, static_cast<enet_uint32>(datagrams / 4)) << answers << " datagrams came back";
    EXPECT_GE(server.GetGuardStats().refusedCommands, static_cast<uint64_t>(datagrams / 4));
    EXPECT_EQ(server.GetNumClients(), 1);
}

// Connects from 48 addresses that finish ENet's handshake (with the cookie) and never ask to
// join, as many peers an address as it may have, each let go without a word 20 ms after it
// connected (or after it was refused) and made anew: thousands of connects a second. A peer let go
// without a word keeps its slot until the server's ENet finds it gone (some 5 s of pings
// unanswered, within the 8 s a peer has to join). A real client, which must spend a round trip in
// ENet's handshake and a frame of its own before it asks, joins all the same once the flood is at
// its height: each address held as many peers as it may, and the first were dropped (an address
// got more peers in than it may hold at once), however the server let them go.
TEST(FloodThreadsTest, ARealClientJoinsThroughConnectsFromManyAddresses)
{
    GAME::Test::LogCapture log;
    ASSERT_EQ(enet_initialize(), 0);
    ServerConnectionManager server;
    ASSERT_TRUE(server.Listen("127.0.0.1", 0));
    const ENetAddress serverAddress = EnetAddress("127.0.0.1", server.GetPort());
    constexpr int addresses = 48;
    constexpr int peersPerAddress = ServerConnectionManager::defaultMaxPeersPerAddress;
    std::atomic<bool> flooding{true};
    std::atomic<int> connects{0}, completed{0};
    std::thread flood([&] {
        std::vector<ENetHost*> hosts;
        for (int i = 0; i < addresses; ++i)
            if (ENetHost* host = GAME::Test::MakeHost("127.0.0." + std::to_string(20 + i), peersPerAddress))
                hosts.push_back(host);
        std::map<ENetPeer*, Clock::time_point> since;
        const auto limit = Clock::now() + std::chrono::milliseconds(2 * hangMs);
        while (flooding && Clock::now() < limit) {
            const auto now = Clock::now();
            for (ENetHost* host : hosts) {
                ENetEvent event;
                while (enet_host_service(host, &event, 0) > 0) {
                    if (event.type == ENET_EVENT_TYPE_CONNECT) {
                        since[event.peer] = now;
                        ++completed;
                    } else if (event.type == ENET_EVENT_TYPE_RECEIVE) {
                        enet_packet_destroy(event.packet);
                    }
                }
                GAME::Test::ServiceCookies(host);
                for (size_t p = 0; p < host->peerCount; ++p) {
                    ENetPeer* peer = &host->peers[p];
                    const bool stale = peer->state != ENET_PEER_STATE_DISCONNECTED &&
                                       now - since[peer] > std::chrono::milliseconds(20);
                    if (stale)
                        enet_peer_reset(peer);
                    if (peer->state == ENET_PEER_STATE_DISCONNECTED &&
                        enet_host_connect(host, &serverAddress, 1, 0)) {
                        since[peer] = now;
                        ++connects;
                    }
                }
            }
            Platform::SleepMilliseconds(1);
        }
        for (ENetHost* host : hosts)
            enet_host_destroy(host);
    });

    // However slowly this machine runs the flood: its peers got in, and the first were dropped.
    const bool underWay =
        PumpUntil([&] { server.Update(5); }, [&] { return completed > addresses * peersPerAddress; }, hangMs);
    ClientConnectionManager client;
    if (underWay && client.Connect("127.0.0.1", server.GetPort()))
        PumpUntil(
            [&] {
                server.Update(5);
                client.Update(5);
            },
            [&] { return !client.IsConnecting(); }, hangMs);
    const int connectsWhileJoining = connects;
    flooding = false;
    flood.join();
    const Socket::GuardStats guard = server.GetGuardStats();
    ASSERT_TRUE(underWay) << connectsWhileJoining << " connects, " << completed << " peers in, "
                          << guard.timedOut << " timed out, " << guard.pushedOut << " pushed out";
    EXPECT_TRUE(client.IsConnected()) << "after " << connectsWhileJoining << " connects";
    EXPECT_EQ(server.GetNumClients(), 1);
    // The flood's addresses were held to their allowance.
    EXPECT_GT(guard.refusedRate, 0u);
    client.Shutdown();
}

// The server's controller: action packets are answered at once with the same packet (an echo);
// command packets are counted, and how many of them came after `mark` and before the last action.
class EchoController : public GAME::Test::RecordingController
{
public:
    void ProcessPacket(int host, NetPacket* packet) override
    {
        if (packet->GetType() == GAME::Test::actionType) {
            server->SendToClient(host, packet);
            ++actions;
            commandsBeforeAction = commands - mark;
        } else {
            ++commands;
        }
    }
    ServerConnectionManager* server = nullptr;
    uint64_t commands = 0, mark = 0, commandsBeforeAction = 0;
    uint32_t actions = 0;
};

// Rule: each connection has its own share of the socket's queue, and the connections take turns.
// A joined client sends the session's small packets as fast as ENet takes them while the server's
// frames stand still, so that its share of the queue fills and the socket leaves the rest of its
// datagrams with ENet. An honest client's packet then comes; once the server has acknowledged it
// and a ping after it, the receive thread has put it in the queue (it hands over what a turn took
// before its next turn reads more). The frames go on, and the game is handed at most one of the
// flood's packets before the honest one, however many frames that takes, and answers it at once:
// the honest client gets the echo. Fifteen times, the frames running between them. When the
// socket's queue was one queue in order of arrival (the fault), all the flood's records ahead of
// it went first, megabytes, and its round trips took 4 to 6 s, hundreds of frames.
TEST(FloodThreadsTest, AnHonestClientsRoundTripBesideAFloodIsAboutItsRoundTripOnTheQuietServer)
{
    GAME::Test::LogCapture log;
    ASSERT_EQ(enet_initialize(), 0);
    GAME::Test::GamePacketCreator creator;
    EchoController echo;
    ProbedServer server;
    echo.server = &server;
    server.SetNetPacketCreator(&creator);
    server.SetNetworkController(&echo);
    ASSERT_TRUE(server.Listen("127.0.0.1", 0));
    auto pump = [&] { server.Update(5); };
    HandPeer flooder(pump, "127.0.0.10", server.GetPort(), true);
    ASSERT_TRUE(flooder.ready);
    HandPeer honest(pump, "127.0.0.11", server.GetPort(), true);
    ASSERT_TRUE(honest.ready);
    ASSERT_TRUE(PumpUntil(
        pump, [&] { return server.GetNumClients() == 2; }, hangMs));
    // The echoes the honest client got.
    uint32_t echoes = 0;
    auto serviceHonest = [&] {
        ENetEvent event;
        while (enet_host_service(honest.host, &event, 0) > 0) {
            if (event.type != ENET_EVENT_TYPE_RECEIVE)
                continue;
            NetPacketHeader header;
            const uint8_t* body = nullptr;
            size_t size = 0;
            if (honest.link.Open(event.packet->data, event.packet->dataLength, header, body, size) ==
                    NetworkConnection::RESULT_OK &&
                header.type == GAME::Test::actionType)
                ++echoes;
            enet_packet_destroy(event.packet);
        }
    };

    std::atomic<bool> flooding{true};
    std::atomic<uint64_t> floodSent{0};
    std::thread flood([&] {
        GAME::Test::GamePacket packet(GAME::Test::commandType, 0, "flood");
        std::vector<uint8_t> body;
        const auto limit = Clock::now() + std::chrono::milliseconds(4 * hangMs);
        while (flooding && Clock::now() < limit) {
            // ENet takes what fits its window; what it has not sent yet waits in its queue.
            for (int i = 0; i < 500; ++i) {
                packet.sequence = static_cast<uint32_t>(floodSent++);
                if (!ConnectionManager::WriteBody(&packet, body) ||
                    !flooder.SendSealed(GAME::Test::commandType, body))
                    break;
            }
            // While that is full it waits for acknowledgements without spinning: an attacker on a
            // machine of its own takes no processor from the server.
            flooder.Service();
            while (flooding && enet_list_size(&flooder.peer->outgoingCommands) > 4000 &&
                   Clock::now() < limit) {
                Platform::SleepMilliseconds(1);
                flooder.Service();
            }
        }
    });
    constexpr uint32_t trips = 15;
    uint64_t mostAhead = 0;
    bool underWay = true, queued = true, answered = true;
    for (uint32_t trip = 0; trip < trips && underWay && queued && answered; ++trip) {
        // The frames stand still until the socket holds the flood back: its share of the queue is
        // full, and ENet keeps what the receive thread could not take.
        underWay = PumpUntil([] {}, [&] { return server.GetBufferedBytes() > 0; }, hangMs);
        GAME::Test::GamePacket ping(GAME::Test::actionType, trip, "ping");
        std::vector<uint8_t> body;
        ASSERT_TRUE(ConnectionManager::WriteBody(&ping, body));
        ASSERT_TRUE(honest.SendSealed(GAME::Test::actionType, body));
        queued = honest.Flush(serviceHonest) && honest.Flush(serviceHonest);
        echo.mark = echo.commands;
        answered = PumpUntil(
            [&] {
                pump();
                serviceHonest();
            },
            [&] { return echoes == trip + 1; }, hangMs);
        mostAhead = std::max(mostAhead, echo.commandsBeforeAction);
        EXPECT_LE(echo.commandsBeforeAction, 1u) << "of the flood's packets handed on before trip " << trip;
        // The flood's share drains and fills again.
        for (int frame = 0; frame < 10; ++frame) {
            pump();
            serviceHonest();
            Platform::SleepMilliseconds(1);
        }
    }
    flooding = false;
    flood.join();
    ASSERT_TRUE(underWay) << "the flood never outran the server (" << floodSent << " packets sent)";
    ASSERT_TRUE(queued) << "the honest client's packet was not acknowledged";
    EXPECT_TRUE(answered) << "an echo never came";
    EXPECT_EQ(echoes, trips);
    EXPECT_EQ(echo.actions, trips);
    std::printf("[ beside   ] at most %llu of the flood's packets before an honest one, %llu handed on\n",
                static_cast<unsigned long long>(mostAhead), static_cast<unsigned long long>(echo.commands));
    server.Shutdown();
}

} // namespace
} // namespace GAME
