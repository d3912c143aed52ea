// A server flooded over the loopback address by peers that never join: connect datagrams from
// several addresses that never finish ENet's handshake, peers that finish it but never the
// session's and start packets in fragments they never finish, and a peer that joined and does the
// same. A real client still joins while the flood runs, and the server's memory stays bounded:
// nothing waits in its transport for peers that have not joined, at most twice the largest packet
// and one more being joined for a peer that has (192 KB), and the process grows by less than 64 MB
// where the unguarded server grew by over 100 MB.
//
// Then the attacks a peer can make with ENet's own commands, crafted here on the peers' sockets:
// sends that carry nothing and wait for a reliable number that never comes (memory), reliable
// sends newest first (ENet's insertion work while the receive thread holds the host lock), and
// connects from many addresses that finish ENet's handshake and never ask to join (slots).
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

// The server's transport, looked at from outside.
class ProbedServer : public ServerConnectionManager
{
public:
    size_t GetBufferedBytes() const { return GetSocket() ? GetSocket()->GetBufferedBytes() : 0; }
};

ENetAddress Address(const std::string& ip, int port)
{
    ENetAddress address;
    enet_address_set_host_ip(&address, ip.c_str());
    address.port = static_cast<enet_uint16>(port);
    return address;
}

void SendDatagram(ENetSocket socket, const ENetAddress& to, const std::vector<uint8_t>& bytes)
{
    ENetBuffer buffer;
    buffer.data = const_cast<uint8_t*>(bytes.data());
    buffer.dataLength = bytes.size();
    enet_socket_send(socket, &to, &buffer, 1);
}

// ENet's connect command, as a client opening a connection sends it.
std::vector<uint8_t> ConnectDatagram(enet_uint32 connectID)
{
    ENetProtocolHeader header;
    header.peerID =
        ENET_HOST_TO_NET_16(int(ENET_PROTOCOL_MAXIMUM_PEER_ID) | int(ENET_PROTOCOL_HEADER_FLAG_SENT_TIME));
    header.sentTime = 0;
    ENetProtocolConnect connect = {};
    connect.header.command = int(ENET_PROTOCOL_COMMAND_CONNECT) | int(ENET_PROTOCOL_COMMAND_FLAG_ACKNOWLEDGE);
    connect.header.channelID = 0xFF;
    connect.header.reliableSequenceNumber = ENET_HOST_TO_NET_16(1);
    connect.incomingSessionID = connect.outgoingSessionID = 0xFF;
    connect.mtu = ENET_HOST_TO_NET_32(1400);
    connect.windowSize = ENET_HOST_TO_NET_32(32768);
    connect.channelCount = ENET_HOST_TO_NET_32(1);
    connect.packetThrottleInterval = ENET_HOST_TO_NET_32(5000);
    connect.packetThrottleAcceleration = ENET_HOST_TO_NET_32(2);
    connect.packetThrottleDeceleration = ENET_HOST_TO_NET_32(2);
    connect.connectID = connectID;
    std::vector<uint8_t> bytes(sizeof(header) + sizeof(connect));
    std::memcpy(bytes.data(), &header, sizeof(header));
    std::memcpy(bytes.data() + sizeof(header), &connect, sizeof(connect));
    return bytes;
}

// The first of two fragments of a packet of `total` bytes, on the peer's connection; the second
// never comes.
void SendFragmentStart(ENetHost* host, ENetPeer* peer, uint16_t sequence, uint32_t total)
{
    ENetProtocolHeader header;
    header.peerID = ENET_HOST_TO_NET_16(
        peer->outgoingPeerID |
        (static_cast<uint16_t>(peer->outgoingSessionID) << ENET_PROTOCOL_HEADER_SESSION_SHIFT) |
        ENET_PROTOCOL_HEADER_FLAG_SENT_TIME);
    header.sentTime = 0;
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
    std::vector<uint8_t> bytes(sizeof(header) + sizeof(fragment) + length, 0x5A);
    std::memcpy(bytes.data(), &header, sizeof(header));
    std::memcpy(bytes.data() + sizeof(header), &fragment, sizeof(fragment));
    SendDatagram(host->socket, peer->address, bytes);
}

// ENet peers from one address that finish ENet's handshake and then only start fragments;
// connected again whenever the server drops them.
struct Squatters
{
    Squatters(const std::string& ip, int port, int count) : server(Address("127.0.0.1", port)), count(count)
    {
        ENetAddress bind = Address(ip, 0);
        host = enet_host_create(&bind, static_cast<size_t>(count), 1, 0, 0);
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
    int count;
    ENetHost* host = nullptr;
    std::vector<ENetPeer*> connected;
    size_t next = 0;
    uint32_t sequence = 0;
    int dropped = 0;
};

// Frames of the server (and the client, when there is one) until the condition holds.
bool PumpUntil(ServerConnectionManager& server, ClientConnectionManager* client,
               const std::function<bool()>& done, int limitMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
    while (!done() && Clock::now() < deadline) {
        server.Update(5);
        if (client)
            client->Update(5);
        Platform::SleepMilliseconds(1);
    }
    return done();
}

// An ENet peer on an address of its own, connected to the server; `join` also makes it a client
// of the session (by hand, with the engine's link).
struct HandPeer
{
    HandPeer(ServerConnectionManager& server, const std::string& ip, bool join)
    {
        const ENetAddress bind = Address(ip, 0);
        const ENetAddress to = Address("127.0.0.1", server.GetPort());
        host = enet_host_create(&bind, 1, 1, 0, 0);
        if (!host)
            return;
        peer = enet_host_connect(host, &to, 1, 0);
        ready = PumpUntil(
            server, nullptr,
            [&] {
                ENetEvent event;
                while (!ready && enet_host_service(host, &event, 0) > 0) {
                    if (event.type == ENET_EVENT_TYPE_CONNECT) {
                        std::vector<uint8_t> request;
                        if (!join)
                            return ready = true;
                        EXPECT_TRUE(link.MakeConnectRequest(request));
                        enet_peer_send(
                            peer, 0,
                            enet_packet_create(request.data(), request.size(), ENET_PACKET_FLAG_RELIABLE));
                        enet_host_flush(host);
                    } else if (event.type == ENET_EVENT_TYPE_RECEIVE) {
                        NetPacketHeader header;
                        const uint8_t* body = nullptr;
                        size_t size = 0;
                        const bool opened = link.Open(event.packet->data, event.packet->dataLength, header,
                                                      body, size) == NetworkConnection::RESULT_OK;
                        enet_packet_destroy(event.packet);
                        if (opened && link.IsKeyed())
                            return ready = true;
                    }
                }
                return ready;
            },
            5000);
    }
    ~HandPeer()
    {
        if (host)
            enet_host_destroy(host);
    }
    // Keeps ENet's side of the peer answering (acknowledgements, pings).
    void Service()
    {
        ENetEvent event;
        while (enet_host_service(host, &event, 0) > 0)
            if (event.type == ENET_EVENT_TYPE_RECEIVE)
                enet_packet_destroy(event.packet);
    }
    // A datagram to the server on this peer's connection, as its host stamps them; commands follow.
    std::vector<uint8_t> Datagram() const
    {
        ENetProtocolHeader header;
        header.peerID = ENET_HOST_TO_NET_16(
            peer->outgoingPeerID |
            (static_cast<uint16_t>(peer->outgoingSessionID) << ENET_PROTOCOL_HEADER_SESSION_SHIFT) |
            ENET_PROTOCOL_HEADER_FLAG_SENT_TIME);
        header.sentTime = 0;
        std::vector<uint8_t> bytes(sizeof(header));
        std::memcpy(bytes.data(), &header, sizeof(header));
        return bytes;
    }
    void Send(const std::vector<uint8_t>& bytes) { SendDatagram(host->socket, peer->address, bytes); }

    ENetHost* host = nullptr;
    ENetPeer* peer = nullptr;
    NetworkConnection link{NetworkConnection::SIDE_CLIENT};
    bool ready = false;
};

template <typename Command>
void Append(std::vector<uint8_t>& datagram, const Command& command, size_t dataLength = 0)
{
    const size_t at = datagram.size();
    datagram.resize(at + sizeof(command) + dataLength, 0x5A);
    std::memcpy(datagram.data() + at, &command, sizeof(command));
}

TEST(FloodThreadsTest, ARealClientJoinsWhileTheServerIsFloodedAndItsMemoryStaysBounded)
{
    GAME::Test::LogCapture log;
    ASSERT_EQ(enet_initialize(), 0);
    ProbedServer server;
    ASSERT_TRUE(server.Listen("127.0.0.1", 0));
    const int port = server.GetPort();
    const ENetAddress serverAddress = Address("127.0.0.1", port);
    auto pumpUntil = [&](const std::function<bool()>& done, ClientConnectionManager* client, int limitMs) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
        while (!done() && Clock::now() < deadline) {
            server.Update(5);
            if (client)
                client->Update(5);
            Platform::SleepMilliseconds(1);
        }
        return done();
    };

    // A peer that joins the session properly (by hand, over ENet) to start fragments as a client.
    ENetAddress bind = Address("127.0.0.10", 0);
    ENetHost* joinedHost = enet_host_create(&bind, 1, 1, 0, 0);
    ASSERT_NE(joinedHost, nullptr);
    ENetPeer* joined = enet_host_connect(joinedHost, &serverAddress, 1, 0);
    NetworkConnection joinedLink(NetworkConnection::SIDE_CLIENT);
    bool keyed = false;
    ASSERT_TRUE(pumpUntil(
        [&] {
            ENetEvent event;
            while (!keyed && enet_host_service(joinedHost, &event, 0) > 0) {
                if (event.type == ENET_EVENT_TYPE_CONNECT) {
                    std::vector<uint8_t> request;
                    EXPECT_TRUE(joinedLink.MakeConnectRequest(request));
                    enet_peer_send(
                        joined, 0,
                        enet_packet_create(request.data(), request.size(), ENET_PACKET_FLAG_RELIABLE));
                    enet_host_flush(joinedHost);
                } else if (event.type == ENET_EVENT_TYPE_RECEIVE) {
                    NetPacketHeader header;
                    const uint8_t* body = nullptr;
                    size_t size = 0;
                    keyed = joinedLink.Open(event.packet->data, event.packet->dataLength, header, body,
                                            size) == NetworkConnection::RESULT_OK &&
                            joinedLink.IsKeyed();
                    enet_packet_destroy(event.packet);
                }
            }
            return keyed;
        },
        nullptr, 5000));
    ASSERT_EQ(server.GetNumClients(), 1);

    // The flood, on a thread of its own: about 3,600 datagrams over 2.5 s or so. It opens with a
    // burst of connects from one address, of which the address's share is let in.
    const uint64_t rssBefore = Platform::GetProcessWorkingSetBytes();
    constexpr int connects = 2000;
    constexpr int strangerFragments = 1500;
    constexpr int joinedFragments = 100;
    std::atomic<bool> flooding{true};
    std::atomic<int> sentConnects{0}, sentFragments{0}, sentJoinedFragments{0}, squattersDropped{0};
    std::thread flood([&] {
        std::mt19937 random(1234);
        std::vector<ENetSocket> sockets;
        for (int i = 2; i <= 7; ++i) {
            ENetSocket socket = enet_socket_create(ENET_SOCKET_TYPE_DATAGRAM);
            ENetAddress from = Address("127.0.0." + std::to_string(i), 0);
            if (socket != ENET_SOCKET_NULL && enet_socket_bind(socket, &from) == 0)
                sockets.push_back(socket);
        }
        for (int n = 0; n < 2 * ServerConnectionManager::defaultMaxPeersPerAddress && !sockets.empty(); ++n) {
            SendDatagram(sockets[0], serverAddress, ConnectDatagram(random()));
            ++sentConnects;
        }
        std::vector<std::unique_ptr<Squatters>> squatters;
        for (const char* ip : {"127.0.0.8", "127.0.0.9"})
            squatters.emplace_back(new Squatters(ip, port, 4));
        const auto limit = Clock::now() + std::chrono::seconds(10);
        for (int round = 0;
             (sentConnects < connects || sentJoinedFragments < joinedFragments) && Clock::now() < limit;
             ++round) {
            for (auto& squatter : squatters)
                squatter->Service();
            ENetEvent event;
            while (enet_host_service(joinedHost, &event, 0) > 0)
                if (event.type == ENET_EVENT_TYPE_RECEIVE)
                    enet_packet_destroy(event.packet);
            if (sentConnects < connects && !sockets.empty()) {
                SendDatagram(sockets[round % sockets.size()], serverAddress, ConnectDatagram(random()));
                ++sentConnects;
            }
            if (sentFragments < strangerFragments && squatters[round % 2]->StartFragment())
                ++sentFragments;
            if (round % 10 == 0 && sentJoinedFragments < joinedFragments) {
                SendFragmentStart(joinedHost, joined, static_cast<uint16_t>(1000 + sentJoinedFragments),
                                  60000);
                ++sentJoinedFragments;
            }
            Platform::SleepMilliseconds(1);
        }
        for (auto& squatter : squatters)
            squattersDropped += squatter->dropped;
        for (ENetSocket socket : sockets)
            enet_socket_destroy(socket);
        flooding = false;
    });

    // The real client starts joining once the flood is under way and gets in while it lasts.
    ClientConnectionManager client;
    size_t peakBuffered = 0;
    uint64_t peakRss = rssBefore;
    auto watch = [&] {
        peakBuffered = std::max(peakBuffered, server.GetBufferedBytes());
        peakRss = std::max(peakRss, Platform::GetProcessWorkingSetBytes());
    };
    pumpUntil(
        [&] {
            watch();
            return sentConnects > 300;
        },
        nullptr, 5000);
    ASSERT_TRUE(client.Connect("127.0.0.1", port));
    ASSERT_TRUE(pumpUntil(
        [&] {
            watch();
            return client.IsConnected();
        },
        &client, 10000));
    EXPECT_TRUE(flooding) << "the flood ended before the client joined";
    EXPECT_EQ(client.GetLocalHostID(), 2);
    pumpUntil(
        [&] {
            watch();
            return !flooding;
        },
        &client, 20000);
    flood.join();
    watch();

    // The flood was what it was meant to be, and was turned away.
    EXPECT_EQ(sentConnects, connects);
    EXPECT_GT(sentFragments, strangerFragments / 2);
    EXPECT_EQ(sentJoinedFragments, joinedFragments);
    const Socket::GuardStats guard = server.GetGuardStats();
    EXPECT_GT(guard.pushedOut, 0u);
    EXPECT_GT(guard.refusedAddress, 0u);
    EXPECT_GE(guard.refusedFragments, static_cast<uint64_t>(sentFragments / 2));
    EXPECT_GT(guard.timedOut, 0u); // squatters do not hold a slot past the handshake time
    EXPECT_GT(squattersDropped, 0);
    EXPECT_TRUE(log.Contains("peers that did not join so far", 1));

    // Memory: only the joined peer may have anything waiting in the transport, and no more than
    // twice the largest packet plus one more being joined; the flood's starts alone would have
    // held about 90 MB. The process as a whole grew by far less than that (the bound leaves room
    // for what the sanitizers keep of freed memory for a while).
    const size_t bufferBound = ServerConnectionManager::maxWaitingData + NetPacketHeader::maxPacketSize;
    EXPECT_LE(peakBuffered, bufferBound);
    EXPECT_GT(peakBuffered, 0u); // the joined peer's starts were buffered, up to the limit
    EXPECT_LT(peakRss - rssBefore, uint64_t(64) << 20);

    // The session goes on for those who joined.
    EXPECT_TRUE(client.IsConnected());
    EXPECT_EQ(server.GetNumClients(), 2);
    client.Shutdown();
    enet_host_destroy(joinedHost);
}

// Unreliable sends of no bytes, each waiting for a reliable number ahead of the last one
// delivered: ENet keeps every one (about 175 bytes of heap for 8 bytes on the wire) and counts
// none against the peer's waiting data. A joined client and four peers that only finished ENet's
// connect send 3,600 datagrams of 170 of them (about 600,000 commands, over 100 MB of heap
// unguarded); the server process grows by less than 64 MB, and the session goes on.
TEST(FloodThreadsTest, EmptySendsThatWaitForeverDoNotGrowTheServer)
{
    GAME::Test::LogCapture log;
    ASSERT_EQ(enet_initialize(), 0);
    ServerConnectionManager server;
    ASSERT_TRUE(server.Listen("127.0.0.1", 0));
    std::vector<std::unique_ptr<HandPeer>> peers;
    peers.emplace_back(new HandPeer(server, "127.0.0.10", true));
    for (int i = 11; i <= 14; ++i)
        peers.emplace_back(new HandPeer(server, "127.0.0." + std::to_string(i), false));
    for (auto& peer : peers)
        ASSERT_TRUE(peer->ready);
    ASSERT_TRUE(PumpUntil(
        server, nullptr, [&] { return server.GetNumClients() == 1; }, 5000));

    const uint64_t rssBefore = Platform::GetProcessWorkingSetBytes();
    std::atomic<bool> attacking{true};
    std::atomic<int> sent{0};
    std::thread attack([&] {
        constexpr int rounds = 400;
        constexpr int commands = 170;
        // One buffer per peer, numbers rewritten in place: the attack itself allocates nothing
        // that would show in the process's memory.
        std::vector<std::vector<uint8_t>> datagrams;
        for (auto& peer : peers) {
            datagrams.push_back(peer->Datagram());
            ENetProtocolSendUnreliable command = {};
            command.header.command = ENET_PROTOCOL_COMMAND_SEND_UNRELIABLE;
            command.header.channelID = 0;
            for (int c = 0; c < commands; ++c)
                Append(datagrams.back(), command);
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
            Platform::SleepMilliseconds(1);
        }
        attacking = false;
    });
    uint64_t peakRss = rssBefore;
    auto watch = [&] {
        peakRss = std::max(peakRss, Platform::GetProcessWorkingSetBytes());
        return !attacking;
    };
    PumpUntil(server, nullptr, watch, 20000);
    attack.join();
    // What the receive thread had not reached yet.
    const auto settle = Clock::now() + std::chrono::milliseconds(300);
    PumpUntil(
        server, nullptr, [&] { return watch() && Clock::now() > settle; }, 1000);
    EXPECT_EQ(sent, 400 * 9);
    EXPECT_LT(peakRss - rssBefore, uint64_t(64) << 20)
        << "the server grew from " << (rssBefore >> 20) << " MB to " << (peakRss >> 20) << " MB";

    // The session goes on: a real client joins beside the one that attacked.
    ClientConnectionManager client;
    ASSERT_TRUE(client.Connect("127.0.0.1", server.GetPort()));
    EXPECT_TRUE(PumpUntil(
        server, &client, [&] { return client.IsConnected(); }, 10000));
    EXPECT_EQ(server.GetNumClients(), 2);
    client.Shutdown();
}

// Reliable sends of one byte each, newest first, far ahead of what was delivered: ENet files each
// in a list it searches from the end, so unguarded every new one walks all the others while the
// receive thread holds the host lock. The server's frames (which send, hand out address texts and
// read the guard's counters) never wait for that lock: none takes more than 50 ms, and a real
// client joins meanwhile.
TEST(FloodThreadsTest, ReliableSendsNewestFirstDoNotStallTheServersFrames)
{
    GAME::Test::LogCapture log;
    ASSERT_EQ(enet_initialize(), 0);
    ServerConnectionManager server;
    ASSERT_TRUE(server.Listen("127.0.0.1", 0));
    HandPeer attacker(server, "127.0.0.10", true);
    ASSERT_TRUE(attacker.ready);
    ASSERT_TRUE(PumpUntil(
        server, nullptr, [&] { return server.GetNumClients() == 1; }, 5000));

    // 28,000 numbers ahead (all that ENet takes), newest first, 200 to a datagram; then the
    // lowest of them again and again, each of which walks the whole list, until the real client
    // has joined: 500 datagrams at least, 3,000 at most.
    std::atomic<bool> attacking{true}, joined{false};
    std::atomic<int> sent{0};
    std::thread attack([&] {
        constexpr int perDatagram = 200;
        constexpr int highest = 28000;
        auto sendFrom = [&](int top) {
            std::vector<uint8_t> datagram = attacker.Datagram();
            for (int n = 0; n < perDatagram && top - n >= 2; ++n) {
                ENetProtocolSendReliable command = {};
                command.header.command = ENET_PROTOCOL_COMMAND_SEND_RELIABLE;
                command.header.channelID = 0;
                command.header.reliableSequenceNumber =
                    ENET_HOST_TO_NET_16(static_cast<uint16_t>(1 + top - n));
                command.dataLength = ENET_HOST_TO_NET_16(1);
                Append(datagram, command, 1);
            }
            attacker.Send(datagram);
            ++sent;
        };
        for (int top = highest; top >= 2; top -= perDatagram) {
            sendFrom(top);
            if (sent % 20 == 0)
                Platform::SleepMilliseconds(2);
        }
        for (int again = 0; again < 3000 && (again < 360 || !joined); ++again) {
            sendFrom(perDatagram + 2);
            if (sent % 20 == 0)
                Platform::SleepMilliseconds(2);
        }
        attacking = false;
    });

    ClientConnectionManager client;
    ASSERT_TRUE(client.Connect("127.0.0.1", server.GetPort()));
    std::chrono::steady_clock::duration longest{};
    bool joinedDuringAttack = false;
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while ((attacking || !client.IsConnected()) && Clock::now() < deadline) {
        const auto start = Clock::now();
        server.Update(5);
        longest = std::max(longest, Clock::now() - start);
        client.Update(5);
        joinedDuringAttack = joinedDuringAttack || (client.IsConnected() && attacking);
        joined = client.IsConnected();
        Platform::SleepMilliseconds(1);
    }
    attack.join();
    EXPECT_GT(sent, 450);
    EXPECT_LT(longest, std::chrono::milliseconds(50))
        << "a frame took " << std::chrono::duration_cast<std::chrono::milliseconds>(longest).count() << " ms";
    EXPECT_TRUE(client.IsConnected());
    EXPECT_TRUE(joinedDuringAttack);
    EXPECT_EQ(server.GetNumClients(), 2);
    client.Shutdown();
}

// Connects from 48 addresses that finish ENet's handshake and never ask to join, as many peers
// an address as it may have, each let go without a word 20 ms after it connected (or after it was
// refused) and made anew: thousands of connects a second want the 16 joining slots. A real client,
// which must spend a round trip in ENet's handshake and a frame of its own before it asks, joins
// all the same.
TEST(FloodThreadsTest, ARealClientJoinsThroughConnectsFromManyAddresses)
{
    GAME::Test::LogCapture log;
    ASSERT_EQ(enet_initialize(), 0);
    ServerConnectionManager server;
    ASSERT_TRUE(server.Listen("127.0.0.1", 0));
    const ENetAddress serverAddress = Address("127.0.0.1", server.GetPort());
    constexpr int addresses = 48;
    constexpr int peersPerAddress = ServerConnectionManager::defaultMaxPeersPerAddress;
    std::atomic<bool> flooding{true};
    std::atomic<int> connects{0}, completed{0};
    std::thread flood([&] {
        std::vector<ENetHost*> hosts;
        for (int i = 0; i < addresses; ++i) {
            const ENetAddress bind = Address("127.0.0." + std::to_string(20 + i), 0);
            if (ENetHost* host = enet_host_create(&bind, peersPerAddress, 1, 0, 0))
                hosts.push_back(host);
        }
        std::map<ENetPeer*, Clock::time_point> since;
        const auto limit = Clock::now() + std::chrono::seconds(25);
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
                for (size_t p = 0; p < host->peerCount; ++p) {
                    ENetPeer* peer = &host->peers[p];
                    const bool stale = (peer->state == ENET_PEER_STATE_CONNECTED &&
                                        now - since[peer] > std::chrono::milliseconds(20)) ||
                                       (peer->state != ENET_PEER_STATE_CONNECTED &&
                                        peer->state != ENET_PEER_STATE_DISCONNECTED &&
                                        now - since[peer] > std::chrono::milliseconds(20));
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

    const auto floodStart = Clock::now();
    ASSERT_TRUE(PumpUntil(
        server, nullptr,
        [&] { return connects > 1000 && Clock::now() - floodStart > std::chrono::seconds(2); }, 10000));
    ClientConnectionManager client;
    ASSERT_TRUE(client.Connect("127.0.0.1", server.GetPort()));
    PumpUntil(
        server, &client, [&] { return !client.IsConnecting(); }, 15000);
    const int connectsWhileJoining = connects;
    flooding = false;
    flood.join();
    EXPECT_TRUE(client.IsConnected()) << "after " << connectsWhileJoining << " connects";
    EXPECT_EQ(server.GetNumClients(), 1);
    EXPECT_GT(completed, 50); // the flood's peers did get in, and were let go
    EXPECT_GT(server.GetGuardStats().pushedOut, 0u);
    client.Shutdown();
}

} // namespace
} // namespace GAME
