// The network sessions on the loopback address.
//
// Load: 8 clients send 10,000 small game packets a second between them to one server for 10 s;
// the server's controller checks that every packet of every client arrived, in order.
//
// Round trip: one client sends a small packet, the server's controller echoes it at once, and the
// client's controller takes the echo; 99th percentile of 50,000 round trips. The reference is a
// bare ENet echo of the same bytes in the same run, used as ENet programs use it: the client's
// host serviced by the measuring thread and the server's by a thread of its own, each waiting in
// enet_host_service, the server's thread echoing what it receives. The engine's road adds the hand-over from its receive threads to the thread
// that pumps the managers, the authentication of every packet both ways and the packet objects.
// The two are measured in alternating batches so that both see the same machine.
//
// Under attack: a client that joined sends, for 5 s, ENet commands crafted on its own socket, 32 a
// datagram as ENet itself sends (empty unreliable sends waiting for a reliable number that never
// comes, which the guard refuses; reliable sends newest first deep inside ENet's window, which
// its filing budget takes out), and four peers that only finished ENet's connect send the empty
// ones too. Measured on the process: its resident memory, the
// server's longest frame, and how long a real client takes to join meanwhile, against the same
// join on the quiet server.
//
// A botnet: 512 real loopback addresses that never ask to join (tests/network/HandPeer.h), each
// starting peers at the rate the server allows it, each peer holding a joining slot for 220 ms
// (younger than any the server pushes out) and leaving politely, a new one taking its place at
// once: 200 slots held at all times. How long a real client takes to join meanwhile, against the
// quiet server. Then 64 addresses whose peers do ask to join, each leaving once answered (or
// after 1.9 s): they spend the server's key agreements, twice what it makes, and a real client's
// request goes before theirs, its address having had fewer lately (the second and third clients
// come from the address the first did, and wait for those that had fewer). And what the joining
// slots cost: the process's growth
// when peers from 256 addresses hold every one of them.
//
// Beside a flood: the server runs 60 frames a second, as a game's would, and an engine client (on
// a thread of its own, pumped every millisecond) sends a small packet that the server's controller
// echoes at once, the next as soon as the echo is in; the 99th percentile of 600 round trips on
// the quiet server, then of 600 while a joined client (a hand-made ENet peer on a thread of its
// own) sends the session's small packets as fast as ENet takes them, more than the server's frames
// hand on. The echo goes out in the server's next frame, so that a round trip takes one frame or,
// when the receive thread hands the packet over after that frame (busy with the flood's datagrams,
// or waiting for a processor on a crowded machine), two: the figure is twice the quiet one or less
// while fewer than one trip in a hundred takes two frames, and 250 trips, whose 99th percentile is
// the third longest, left it to chance on which side it fell.
#include "common/BenchMachine.h"
#include "common/BenchNetwork.h"
#include "common/BenchReport.h"

#include "../tests/network/HandPeer.h"
#include "../tests/network/ThreadMeasures.h"

#include "core/Log.h"
#include "network/ClientConnectionManager.h"
#include "network/NetPacket.h"
#include "network/NetPacketBuffer.h"
#include "network/NetPacketHeader.h"
#include "network/NetworkConnection.h"
#include "network/NetworkControllerBase.h"
#include "network/NetworkPacketCreatorBase.h"
#include "network/ServerConnectionManager.h"
#include "platform/SystemInfo.h"
#include "platform/Threading.h"

#include <enet/enet.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr GAME::PACKET_TYPE loadType = GAME::PACKET_TYPE(40);
constexpr GAME::PACKET_TYPE pingType = GAME::PACKET_TYPE(41);
constexpr int clientCount = 8;
constexpr int packetsPerSecond = 10000;
constexpr double loadSeconds = 10.0;
constexpr int roundTrips = 50000;
constexpr int batch = 50;
constexpr size_t payloadSize = 24;

// A small packet: a sequence number and a few bytes.
using SmallPacket = Bench::SequencedPacket;

class Controller : public Bench::PacketController
{
public:
    void ProcessPacket(int host, GAME::NetPacket* packet) override
    {
        auto* small = static_cast<SmallPacket*>(packet);
        if (packet->GetType() == pingType) {
            if (echoFrom) // the server answers at once
                echoFrom->SendToClient(host, packet);
            else
                lastPong = small->sequence;
            return;
        }
        if (host < 0 || host >= 16)
            return;
        if (small->sequence == next[host])
            ++next[host];
        else
            ++outOfOrder;
        ++received;
    }

    GAME::ServerConnectionManager* echoFrom = nullptr;
    uint32_t next[16] = {};
    uint64_t received = 0;
    uint64_t outOfOrder = 0;
    uint32_t lastPong = 0;
};

double Percentile(std::vector<double> samples, double p)
{
    if (samples.empty())
        return 0.0;
    std::sort(samples.begin(), samples.end());
    const size_t index =
        std::min(samples.size() - 1, static_cast<size_t>(p * static_cast<double>(samples.size())));
    return samples[index];
}

// The bare ENet echo: a server host and a client host, each on its own thread.
class RawEcho
{
public:
    bool Start()
    {
        ENetAddress address;
        enet_address_set_host_ip(&address, "127.0.0.1");
        address.port = 0;
        m_server = enet_host_create(&address, 1, 1, 0, 0);
        ENetAddress local;
        enet_address_set_host_ip(&local, "127.0.0.1");
        local.port = 0;
        m_client = enet_host_create(&local, 1, 1, 0, 0);
        if (!m_server || !m_client)
            return false;
        address.port = m_server->address.port;
        m_peer = enet_host_connect(m_client, &address, 1, 0);
        m_serverThread = std::thread([this] { ServeEcho(); });
        // Connected once the client host reports it.
        ENetEvent event;
        const auto deadline = Clock::now() + std::chrono::seconds(5);
        while (Clock::now() < deadline)
            if (enet_host_service(m_client, &event, 10) > 0 && event.type == ENET_EVENT_TYPE_CONNECT)
                return true;
        return false;
    }
    // Round trips in milliseconds, measured on the calling thread, which services the client host
    // as its own (the engine's round trips run on that thread too; a thread started for each batch
    // would make the first trip of every batch a cold one).
    void Measure(int count, std::vector<double>& out)
    {
        std::vector<uint8_t> bytes(payloadSize + 24, 1);
        for (int i = 0; i < count; ++i) {
            const auto start = Clock::now();
            enet_peer_send(m_peer, 0, enet_packet_create(bytes.data(), bytes.size(), ENET_PACKET_FLAG_RELIABLE));
            enet_host_flush(m_client);
            ENetEvent event;
            bool answered = false;
            while (!answered) {
                if (enet_host_service(m_client, &event, 1) > 0 && event.type == ENET_EVENT_TYPE_RECEIVE) {
                    enet_packet_destroy(event.packet);
                    answered = true;
                }
            }
            out.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        }
    }
    void Stop()
    {
        m_stop = true;
        if (m_serverThread.joinable())
            m_serverThread.join();
        if (m_client)
            enet_host_destroy(m_client);
        if (m_server)
            enet_host_destroy(m_server);
    }

private:
    void ServeEcho()
    {
        ENetEvent event;
        while (!m_stop)
            if (enet_host_service(m_server, &event, 1) > 0 && event.type == ENET_EVENT_TYPE_RECEIVE) {
                enet_peer_send(event.peer, 0,
                               enet_packet_create(event.packet->data, event.packet->dataLength,
                                                  ENET_PACKET_FLAG_RELIABLE));
                enet_host_flush(m_server);
                enet_packet_destroy(event.packet);
            }
    }

    ENetHost* m_server = nullptr;
    ENetHost* m_client = nullptr;
    ENetPeer* m_peer = nullptr;
    std::thread m_serverThread;
    std::atomic<bool> m_stop{false};
};

// A hand-made ENet peer (tests/network/HandPeer.h) that sends commands of its own making, 32 a
// datagram at most, as ENet itself sends.
class Attacker
{
public:
    bool Connect(GAME::ServerConnectionManager& server, const std::string& ip, bool join)
    {
        m_peer.reset(new GAME::Test::HandPeer([&] { server.Update(0); }, ip, server.GetPort(), join));
        return m_peer->ready;
    }
    // One datagram of `count` commands: empty unreliable sends waiting for reliable number
    // `waitFor`, or (reliable) reliable sends of 16 bytes numbered from `waitFor` down.
    void Send(bool reliable, uint16_t waitFor, int count)
    {
        m_datagram = m_peer->Datagram();
        for (int c = 0; c < count; ++c) {
            if (reliable) {
                ENetProtocolSendReliable command = {};
                command.header.command = ENET_PROTOCOL_COMMAND_SEND_RELIABLE;
                command.header.reliableSequenceNumber = ENET_HOST_TO_NET_16(static_cast<uint16_t>(waitFor - c));
                command.dataLength = ENET_HOST_TO_NET_16(16);
                GAME::Test::AppendCommand(m_datagram, command, 16);
            } else {
                ENetProtocolSendUnreliable command = {};
                command.header.command = ENET_PROTOCOL_COMMAND_SEND_UNRELIABLE;
                command.header.reliableSequenceNumber = ENET_HOST_TO_NET_16(waitFor);
                command.unreliableSequenceNumber = ENET_HOST_TO_NET_16(++m_unreliable);
                GAME::Test::AppendCommand(m_datagram, command);
            }
        }
        m_peer->Send(m_datagram);
    }
    void Service() { m_peer->Service(); }

private:
    std::unique_ptr<GAME::Test::HandPeer> m_peer;
    std::vector<uint8_t> m_datagram;
    uint16_t m_unreliable = 0;
};

// A real client's join, in milliseconds, while the server's frames run; the longest server frame
// goes into `longest`. -1 when it did not join within 15 s.
double TimeJoin(GAME::ServerConnectionManager& server, double& longest)
{
    GAME::ClientConnectionManager client;
    const auto start = Clock::now();
    if (!client.Connect("127.0.0.1", server.GetPort()))
        return -1.0;
    while (client.IsConnecting() && Clock::now() - start < std::chrono::seconds(15)) {
        const auto frame = Clock::now();
        server.Update(0);
        longest = std::max(longest, std::chrono::duration<double, std::milli>(Clock::now() - frame).count());
        client.Update(0);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    const bool joined = client.IsConnected();
    client.Shutdown();
    return joined ? ms : -1.0;
}

// Three real clients' joins, one after the other: the mean, or -1 when one did not join.
double MeanOfThreeJoins(GAME::ServerConnectionManager& server, double& longest)
{
    double total = 0.0;
    for (int attempt = 0; attempt < 3; ++attempt) {
        const double ms = TimeJoin(server, longest);
        if (ms < 0.0)
            return -1.0;
        total += ms;
    }
    return total / 3.0;
}

// The attack of the banner against a server of its own; false when the attackers could not get in.
bool MeasureAttack(double& rssGrowthMb, double& longestFrameMs, double& joinMs, double& quietJoinMs)
{
    Bench::SequencedCreator creator;
    Controller controller;
    GAME::ServerConnectionManager server;
    server.SetNetPacketCreator(&creator);
    server.SetNetworkController(&controller);
    if (!server.Listen("127.0.0.1", 0))
        return false;
    double quietLongest = 0.0;
    quietJoinMs = TimeJoin(server, quietLongest);
    std::vector<std::unique_ptr<Attacker>> attackers;
    for (int i = 0; i < 5; ++i) {
        attackers.emplace_back(new Attacker);
        if (!attackers.back()->Connect(server, "127.0.0." + std::to_string(10 + i), i == 0))
            return false;
    }
    const uint64_t rssBefore = GAME::Platform::GetProcessWorkingSetBytes();
    uint64_t rssPeak = rssBefore;
    std::atomic<bool> attacking{true};
    std::thread attack([&] {
        const auto end = Clock::now() + std::chrono::seconds(5);
        for (int round = 0; Clock::now() < end; ++round) {
            const uint16_t waitFor = static_cast<uint16_t>(10 + (round / 16) % 20000);
            for (int repeat = 0; repeat < 5; ++repeat) {
                for (auto& attacker : attackers)
                    attacker->Send(false, waitFor, 32);
                // Newest first, deep inside ENet's window, never the next one.
                attackers[0]->Send(true, static_cast<uint16_t>(24001 - ((round * 5 + repeat) * 32) % 23968), 32);
            }
            for (auto& attacker : attackers)
                attacker->Service();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        attacking = false;
    });
    longestFrameMs = 0.0;
    joinMs = -1.0;
    while (attacking) {
        const auto frame = Clock::now();
        server.Update(0);
        longestFrameMs =
            std::max(longestFrameMs, std::chrono::duration<double, std::milli>(Clock::now() - frame).count());
        rssPeak = std::max(rssPeak, GAME::Platform::GetProcessWorkingSetBytes());
        if (joinMs < 0.0)
            joinMs = TimeJoin(server, longestFrameMs);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    attack.join();
    rssGrowthMb = static_cast<double>(rssPeak - rssBefore) / (1024.0 * 1024.0);
    server.Shutdown();
    return true;
}

// Forged sources: 10,000 connects a second from 2,000 loopback addresses that never read an
// answer, for as long as three real clients take to join one after the other. The mean join,
// and the same on the quiet server; false when the server could not listen.
bool MeasureForged(double& joinMs, double& quietJoinMs)
{
    GAME::ServerConnectionManager server;
    if (!server.Listen("127.0.0.1", 0))
        return false;
    double longest = 0.0;
    quietJoinMs = TimeJoin(server, longest);
    const ENetAddress to = GAME::Test::EnetAddress("127.0.0.1", server.GetPort());
    std::atomic<bool> forging{true};
    std::thread forger([&] {
        std::vector<ENetSocket> sockets;
        for (int i = 0; i < 2000; ++i) {
            ENetSocket socket = enet_socket_create(ENET_SOCKET_TYPE_DATAGRAM);
            ENetAddress from =
                GAME::Test::EnetAddress("127.1." + std::to_string(i / 250) + "." + std::to_string(1 + i % 250), 0);
            if (socket != ENET_SOCKET_NULL && enet_socket_bind(socket, &from) == 0)
                sockets.push_back(socket);
            else if (socket != ENET_SOCKET_NULL)
                enet_socket_destroy(socket);
        }
        const auto start = Clock::now();
        uint32_t sent = 0, id = 1;
        while (forging && !sockets.empty() && Clock::now() - start < std::chrono::seconds(40)) {
            const auto due = static_cast<uint32_t>(std::chrono::duration<double>(Clock::now() - start).count() * 10000.0);
            for (; sent < due; ++sent)
                GAME::Test::SendRaw(sockets[sent % sockets.size()], to, GAME::Test::ConnectDatagram(id++ * 2654435761u));
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        for (ENetSocket socket : sockets)
            enet_socket_destroy(socket);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    joinMs = MeanOfThreeJoins(server, longest);
    forging = false;
    forger.join();
    server.Shutdown();
    return true;
}

// A botnet of the banner against a server of its own: the mean of three real clients' joins
// (-1 when one did not join), and a join on the quiet server; false when the server could not
// listen.
bool MeasureBotnet(int addresses, int inFlight, int holdMs, bool ask, double& joinMs, double& quietJoinMs)
{
    GAME::ServerConnectionManager server;
    if (!server.Listen("127.0.0.1", 0))
        return false;
    double longest = 0.0;
    quietJoinMs = TimeJoin(server, longest);
    std::vector<std::string> ips;
    for (int i = 0; i < addresses; ++i)
        ips.push_back("127.7." + std::to_string(i / 250) + "." + std::to_string(1 + i % 250));
    GAME::Test::Botnet botnet(ips, server.GetPort(), inFlight, holdMs,
                              GAME::ServerConnectionManager::defaultMaxPeersPerAddress,
                              GAME::ServerConnectionManager::connectsPerAddressPerSecond, ask);
    std::atomic<bool> attacking{true};
    std::thread attack([&] {
        while (attacking) {
            botnet.Step();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    // The first bursts spent, the slots held in turn.
    const auto start = Clock::now();
    while (Clock::now() - start < std::chrono::seconds(2)) {
        server.Update(0);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    joinMs = MeanOfThreeJoins(server, longest);
    attacking = false;
    attack.join();
    std::printf("bench_network: the botnet's peers held %llu slots in turn, %d at most at once; %llu join "
                "requests of theirs answered\n",
                static_cast<unsigned long long>(botnet.held), botnet.peakHolding,
                static_cast<unsigned long long>(botnet.answered));
    server.Shutdown();
    return true;
}

// Every joining slot held by peers that finished ENet's handshake (with the cookie) and never ask
// to join, 4 from each of 256 addresses: the process's growth in MB (their own hosts made before
// it is measured) and the slots they held; false when the server could not listen.
bool MeasureHeldSlots(double& rssGrowthMb, int& held)
{
    GAME::ServerConnectionManager server;
    if (!server.Listen("127.0.0.1", 0))
        return false;
    constexpr int perAddress = GAME::ServerConnectionManager::defaultMaxPeersPerAddress;
    std::vector<ENetHost*> hosts;
    for (int i = 0; i < GAME::ServerConnectionManager::maxPendingConnections / perAddress; ++i)
        if (ENetHost* host = GAME::Test::MakeHost(
                "127.8." + std::to_string(i / 250) + "." + std::to_string(1 + i % 250), perAddress))
            hosts.push_back(host);
    for (int settle = 0; settle < 50; ++settle) {
        server.Update(0);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const uint64_t rssBefore = GAME::Platform::GetProcessWorkingSetBytes();
    const ENetAddress to = GAME::Test::EnetAddress("127.0.0.1", server.GetPort());
    for (ENetHost* host : hosts)
        for (int p = 0; p < perAddress; ++p)
            enet_host_connect(host, &to, 1, 0);
    held = 0;
    // Well within the time a peer may take to join.
    const auto start = Clock::now();
    while (held < static_cast<int>(hosts.size()) * perAddress &&
           Clock::now() - start < std::chrono::milliseconds(1500)) {
        for (ENetHost* host : hosts) {
            ENetEvent event;
            while (enet_host_service(host, &event, 0) > 0)
                held += event.type == ENET_EVENT_TYPE_CONNECT ? 1 : 0;
            GAME::Test::ServiceCookies(host);
        }
        server.Update(0);
    }
    for (int settle = 0; settle < 20; ++settle) {
        server.Update(0);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    rssGrowthMb =
        static_cast<double>(GAME::Platform::GetProcessWorkingSetBytes() - rssBefore) / (1024.0 * 1024.0);
    server.Shutdown();
    for (ENetHost* host : hosts)
        enet_host_destroy(host);
    return true;
}

// The round trips of an engine client on a server of its own that runs 60 frames a second: `trips`
// on the quiet server, then as many while a joined client floods it at its full rate. False when
// the server could not listen or the clients could not join.
bool MeasureBesideFlood(int trips, std::vector<double>& quiet, std::vector<double>& beside,
                        uint64_t& floodSent, uint64_t& floodHandled)
{
    Bench::SequencedCreator creator;
    Controller serverController;
    GAME::ServerConnectionManager server;
    server.SetNetPacketCreator(&creator);
    server.SetNetworkController(&serverController);
    serverController.echoFrom = &server;
    if (!server.Listen("127.0.0.1", 0))
        return false;
    GAME::Test::HandPeer flooder([&] { server.Update(0); }, "127.0.0.30", server.GetPort(), true);
    Controller clientController;
    GAME::ClientConnectionManager client;
    client.SetNetPacketCreator(&creator);
    client.SetNetworkController(&clientController);
    if (!flooder.ready || !client.Connect("127.0.0.1", server.GetPort()))
        return false;
    const auto joinDeadline = Clock::now() + std::chrono::seconds(10);
    while ((!client.IsConnected() || server.GetNumClients() < 2) && Clock::now() < joinDeadline) {
        server.Update(0);
        client.Update(0);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (!client.IsConnected() || server.GetNumClients() < 2)
        return false;

    // The server's frames on schedule on this thread; the client, as if on a machine of its own,
    // pumped every millisecond on a thread of its own, which measures its round trips.
    constexpr auto frame = std::chrono::microseconds(1000000 / 60);
    auto nextFrame = Clock::now();
    auto serverFrame = [&] {
        const auto now = Clock::now();
        if (now >= nextFrame) {
            server.Update(0);
            nextFrame = std::max(nextFrame + frame, now);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    uint32_t ping = 0;
    auto measure = [&](std::vector<double>& out) {
        std::atomic<bool> done{false};
        bool answered = true;
        std::thread pinger([&] {
            for (int i = 0; i < trips && answered; ++i) {
                SmallPacket packet(pingType, ++ping, payloadSize);
                const auto start = Clock::now();
                client.SendToServer(&packet);
                while (clientController.lastPong != ping && Clock::now() - start < std::chrono::seconds(30)) {
                    client.Update(0);
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
                answered = clientController.lastPong == ping;
                if (answered)
                    out.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
            }
            done = true;
        });
        while (!done)
            serverFrame();
        pinger.join();
        return answered;
    };
    // The flooder's thread keeps its link meanwhile (an ENet peer that does not answer is let go
    // after some seconds), and floods once told. An attacker on a machine of its own takes no
    // processor from the server's: this one runs at the lowest priority, and still sends more than
    // the server's frames hand on.
    std::atomic<bool> flooding{true}, floodNow{false};
    std::atomic<uint64_t> sent{0};
    std::thread flood([&] {
        GAME::Platform::SetCurrentThreadPriority(GAME::Platform::ThreadPriority::Lowest);
        SmallPacket packet(loadType, 0, payloadSize);
        std::vector<uint8_t> body;
        while (flooding && !floodNow) {
            flooder.Service();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        while (flooding) {
            for (int i = 0; i < 500; ++i) {
                packet.sequence = static_cast<uint32_t>(sent++);
                if (!GAME::ConnectionManager::WriteBody(&packet, body) || !flooder.SendSealed(loadType, body))
                    break;
            }
            // ENet takes what fits its window; what it has not sent yet waits in its queue. While
            // that is full the flooder waits for acknowledgements without spinning (an attacker on
            // a machine of its own takes no processor from the server's).
            flooder.Service();
            while (flooding && enet_list_size(&flooder.peer->outgoingCommands) > 4000) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                flooder.Service();
            }
        }
    });
    const bool quietMeasured = measure(quiet);
    floodNow = true;
    // The flood outruns the server for a second before the round trips are measured.
    const auto floodStart = Clock::now();
    while (Clock::now() - floodStart < std::chrono::seconds(1))
        serverFrame();
    const bool measured = quietMeasured && measure(beside);
    floodHandled = serverController.received;
    flooding = false;
    flood.join();
    floodSent = sent;
    client.Shutdown();
    server.Shutdown();
    // The flood was what it was meant to be: the server handed much of it on, not all.
    return measured && floodHandled > 0 && floodHandled < floodSent;
}

} // namespace


// What one step of ENet's filing walk costs, in nanoseconds of the calling thread's processor
// time: a bare ENet host (no guard) holds the even numbers 4 to 28,000 of a peer that never sends
// 2, then files the odd ones from the top down, each a walk past every number held above it.
// Against the same number of commands filed at the end of the list, which walk one step.
bool MeasureFilingStep(double& nsPerStep)
{
    ENetAddress address;
    enet_address_set_host_ip(&address, "127.0.0.1");
    address.port = 0;
    ENetHost* receiver = enet_host_create(&address, 1, 1, 0, 0);
    if (!receiver)
        return false;
    auto pump = [&] {
        ENetEvent event;
        while (enet_host_service(receiver, &event, 0) > 0) {
            if (event.type == ENET_EVENT_TYPE_RECEIVE)
                enet_packet_destroy(event.packet);
        }
    };
    bool ok = false;
    {
        GAME::Test::HandPeer sender(pump, "127.0.0.70", receiver->address.port, false, 10000);
        // The receiver has the sender connected once it has the acknowledgement of its answer.
        const auto connectDeadline = Clock::now() + std::chrono::seconds(10);
        while (sender.ready && (receiver->peerCount < 1 || receiver->peers[0].state != ENET_PEER_STATE_CONNECTED) &&
               Clock::now() < connectDeadline) {
            sender.Service();
            pump();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (sender.ready && receiver->peers[0].state == ENET_PEER_STATE_CONNECTED) {
            // Datagrams of 32 commands, in bursts the receiver reads (on this thread) before the
            // next; its processor time for them.
            auto file = [&](const std::vector<int>& numbers) {
                const double before = GAME::Test::ThreadCpuMs();
                std::vector<uint8_t> datagram = sender.Datagram();
                int commands = 0, datagrams = 0;
                auto send = [&] {
                    sender.Send(datagram);
                    datagram = sender.Datagram();
                    commands = 0;
                    ++datagrams;
                };
                const enet_uint32 start = receiver->totalReceivedPackets;
                for (size_t i = 0; i < numbers.size(); ++i) {
                    ENetProtocolSendReliable command = {};
                    command.header.command = ENET_PROTOCOL_COMMAND_SEND_RELIABLE;
                    command.header.reliableSequenceNumber = ENET_HOST_TO_NET_16(static_cast<uint16_t>(numbers[i]));
                    command.dataLength = ENET_HOST_TO_NET_16(16);
                    GAME::Test::AppendCommand(datagram, command, 16);
                    if (++commands == 32 || i + 1 == numbers.size()) {
                        send();
                        // The receiver reads each burst before more come (its socket holds 256 KB).
                        if (datagrams % 40 == 0 || i + 1 == numbers.size()) {
                            const auto deadline = Clock::now() + std::chrono::seconds(10);
                            while (receiver->totalReceivedPackets - start < static_cast<enet_uint32>(datagrams) &&
                                   Clock::now() < deadline)
                                pump();
                        }
                    }
                }
                return GAME::Test::ThreadCpuMs() - before;
            };
            constexpr int top = 28000;
            std::vector<int> evens, odds;
            for (int n = 4; n <= top; n += 2)
                evens.push_back(n);
            for (int n = top - 1; n > 4; n -= 2)
                odds.push_back(n);
            const double atTheEnd = file(evens);
            const double fills = file(odds);
            // Filing odd number n walks past the evens above it and the odds filed before it.
            double steps = 0.0;
            for (int n : odds)
                steps += static_cast<double>(top - n);
            const double perCommand = atTheEnd / static_cast<double>(evens.size());
            nsPerStep = 1e6 * (fills - perCommand * static_cast<double>(odds.size())) / steps;
            ok = true;
        }
    }
    enet_host_destroy(receiver);
    return ok;
}

const char* const kHelp = R"(bench_network: the engine's network sessions over ENet on the loopback address.

Measures, with no render device (about 60 s):
  load: 8 clients send 10,000 small game packets a second between them to one server for 10 s; the
  server checks that every packet of every client arrived, in order;
  round trip: one client sends a small packet, the server echoes it at once; the 99th percentile
  of 50,000 round trips, in batches of 50 alternating with the bare echo's;
  under attack: for 5 s a joined client and four peers that only finished ENet's connect send
  ENet commands, 32 a datagram (empty unreliable sends an engine client never sends, and reliable
  sends newest first inside ENet's window; about 25,000 datagrams a second); a real client joins
  meanwhile;
  forged sources: 10,000 connects a second from 2,000 addresses that never read an answer, while
  three real clients join;
  botnet: 512 real addresses that never ask to join hold 200 joining slots in turn (each address
  at the connect rate the server allows it, each peer for 220 ms, then it leaves politely and
  another takes its place), while three real clients join; then 64 addresses whose peers ask to
  join and leave once answered, spending the server's key agreements (64 a second);
  held slots: peers from 256 addresses hold every joining slot (1,024) at once;
  beside a flood: the server runs 60 frames a second; an engine client's round trip (a small
  packet the server echoes at once, 600 of them) while a joined client sends small packets as
  fast as ENet takes them, more than the server's frames hand on.
  filing walk: what one step of ENet's walk through the commands it holds behind a gap costs.
Reference, in the same run: a bare ENet echo of the same bytes, each host serviced by a thread
waiting in enet_host_service, measured in batches alternating with the engine's; for the join, the same join on the
quiet server; for the round trip beside a flood, the same round trips on the quiet server.
Uploads through a lossy link and the receive thread's cost of orders of sends: bench_network_order.

Figures (last lines of the output):
  value packets_lost                     packets sent but not received in order; 0 is the only good value
  value packets_per_second               packets received in order a second; higher is better
  ratio net_roundtrip_p99_vs_raw_enet    engine p99 / bare ENet p99; lower is better, 1 is ENet's own
  value attack_rss_growth                the process's resident memory growth during the attack; lower is better
  value attack_longest_server_frame      the server's longest frame during the attack; lower is better
  ratio attack_join_vs_quiet_join        a real client's join during the attack / on the quiet server;
                                         lower is better, 1 is no slower (-1: it did not join)
  ratio forged_join_vs_quiet_join        a real client's join (mean of three) beside 10,000 connects a
                                         second from 2,000 forged source addresses / on the quiet
                                         server; lower is better (-1: one did not join)
  ratio botnet_join_vs_quiet_join        a real client's join (mean of three) while the botnet holds
                                         slots / on the quiet server; lower is better (-1: one did not
                                         join)
  value asking_botnet_join               a real client's join (mean of three) while the botnet's peers
                                         ask to join; lower is better, at most 500 ms (2,000 ms is
                                         the time a peer has to join; -1: one did not join)
  value held_slots_rss_growth            the process's growth while every joining slot is held;
                                         lower is better
  ratio net_roundtrip_p99_beside_flood_vs_quiet
                                         the client's round trip p99 beside the flood / on the
                                         quiet server; lower is better, at most 2 (the machine's
                                         load average is printed with it)
  value filing_walk_step                 nanoseconds of processor time for one step of ENet's filing
                                         walk; what the guard's filing budget is reckoned in
)";

int main(int argc, char** argv)
{
    if (const int code = BenchCommandLine(argc, argv, kHelp); code >= 0)
        return code;
    BenchReport report;
    Bench::QuietLog quiet;
    GAME::SetProcessLogSink(&quiet);
    enet_initialize();
    // First, while the heap has no freed memory to hand out again.
    double heldRss = 0.0;
    int heldSlots = 0;
    if (!MeasureHeldSlots(heldRss, heldSlots)) {
        std::printf("bench_network: the server cannot listen on the loopback address\n");
        return 1;
    }
    Bench::SequencedCreator creator;
    Controller serverController;
    GAME::ServerConnectionManager server;
    server.SetNetPacketCreator(&creator);
    server.SetNetworkController(&serverController);
    server.SetMaxPeersPerAddress(0); // every client comes from the loopback address
    if (!server.Listen("127.0.0.1", 0)) {
        std::printf("bench_network: the server cannot listen on the loopback address\n");
        return 1;
    }
    std::vector<std::unique_ptr<GAME::ClientConnectionManager>> clients;
    std::vector<std::unique_ptr<Controller>> clientControllers;
    for (int i = 0; i < clientCount; ++i) {
        clients.emplace_back(new GAME::ClientConnectionManager);
        clientControllers.emplace_back(new Controller);
        clients.back()->SetNetPacketCreator(&creator);
        clients.back()->SetNetworkController(clientControllers.back().get());
        clients.back()->Connect("127.0.0.1", server.GetPort());
    }
    auto pumpAll = [&] {
        server.Update(0);
        for (auto& client : clients)
            client->Update(0);
    };
    const auto connectDeadline = Clock::now() + std::chrono::seconds(10);
    auto allConnected = [&] {
        for (auto& client : clients)
            if (!client->IsConnected())
                return false;
        return true;
    };
    while (!allConnected() && Clock::now() < connectDeadline) {
        pumpAll();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (!allConnected()) {
        std::printf("bench_network: the clients could not connect\n");
        return 1;
    }

    // Load.
    std::printf("bench_network: %d clients sending %d packets a second to the server for %.0f s\n",
                clientCount, packetsPerSecond, loadSeconds);
    std::vector<uint32_t> sent(clientCount, 0);
    const double perClient = static_cast<double>(packetsPerSecond) / clientCount;
    const auto loadStart = Clock::now();
    for (;;) {
        const double elapsed = std::chrono::duration<double>(Clock::now() - loadStart).count();
        if (elapsed >= loadSeconds)
            break;
        for (int c = 0; c < clientCount; ++c) {
            const auto due = static_cast<uint32_t>(elapsed * perClient);
            while (sent[c] < due) {
                SmallPacket packet(loadType, sent[c], payloadSize);
                if (!clients[c]->SendToServer(&packet))
                    break;
                ++sent[c];
            }
        }
        pumpAll();
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    uint64_t totalSent = 0;
    for (uint32_t n : sent)
        totalSent += n;
    const auto drainDeadline = Clock::now() + std::chrono::seconds(10);
    while (serverController.received < totalSent && Clock::now() < drainDeadline) {
        pumpAll();
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    const double loadTime = std::chrono::duration<double>(Clock::now() - loadStart).count();
    uint64_t inOrder = 0;
    for (int host = 1; host <= clientCount; ++host)
        inOrder += serverController.next[host];
    std::printf("bench_network: %llu packets sent, %llu received in order, %llu out of order, %.1f s\n",
                static_cast<unsigned long long>(totalSent), static_cast<unsigned long long>(inOrder),
                static_cast<unsigned long long>(serverController.outOfOrder), loadTime);

    // Round trips, in alternating batches, with one client: the others leave so that only the
    // threads of one client and the server are about, as in the bare echo.
    for (int c = 1; c < clientCount; ++c)
        clients[c]->Shutdown();
    serverController.echoFrom = &server;
    GAME::ClientConnectionManager& pinger = *clients[0];
    Controller& pingerController = *clientControllers[0];
    RawEcho raw;
    if (!raw.Start()) {
        std::printf("bench_network: the bare ENet echo could not connect\n");
        return 1;
    }
    std::vector<double> engine, bare;
    uint32_t ping = 0;
    for (int done = 0; done < roundTrips; done += batch) {
        for (int i = 0; i < batch; ++i) {
            SmallPacket packet(pingType, ++ping, payloadSize);
            const auto start = Clock::now();
            pinger.SendToServer(&packet);
            // A host waiting for an answer pumps and lets the other threads run.
            while (pingerController.lastPong != ping) {
                server.Update(0);
                pinger.Update(0);
                std::this_thread::yield();
            }
            engine.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        }
        raw.Measure(batch, bare);
    }
    raw.Stop();
    server.Shutdown();
    for (auto& client : clients)
        client->Shutdown();

    const double engineP99 = Percentile(engine, 0.99);
    const double bareP99 = Percentile(bare, 0.99);
    std::printf(
        "bench_network: round trip p50 %.3f ms, p99 %.3f ms (bare ENet echo p50 %.3f ms, p99 %.3f ms)\n",
        Percentile(engine, 0.5), engineP99, Percentile(bare, 0.5), bareP99);
    report.Count("packets_lost", static_cast<long long>(totalSent - inOrder), "packets");
    report.Value("packets_per_second", static_cast<double>(inOrder) / loadSeconds, "packets/s");
    report.Ratio("net_roundtrip_p99_vs_raw_enet", bareP99 > 0.0 ? engineP99 / bareP99 : 0.0);

    double rssGrowth = 0.0, longestFrame = 0.0, joinMs = -1.0, quietJoinMs = -1.0;
    if (!MeasureAttack(rssGrowth, longestFrame, joinMs, quietJoinMs)) {
        std::printf("bench_network: the attackers could not connect\n");
        return 1;
    }
    std::printf(
        "bench_network: under attack the process grew by %.1f MB, the longest server frame took %.1f ms, a "
        "client joined in %.1f ms (%.1f ms on the quiet server)\n",
        rssGrowth, longestFrame, joinMs, quietJoinMs);
    report.Value("attack_rss_growth", rssGrowth, "MB");
    report.Value("attack_longest_server_frame", longestFrame, "ms");
    report.Ratio("attack_join_vs_quiet_join",
                 joinMs > 0.0 && quietJoinMs > 0.0 ? joinMs / quietJoinMs : -1.0);
    double forgedJoinMs = -1.0, forgedQuietMs = -1.0;
    if (!MeasureForged(forgedJoinMs, forgedQuietMs)) {
        std::printf("bench_network: the server cannot listen on the loopback address\n");
        return 1;
    }
    std::printf("bench_network: beside 10,000 forged connects a second a client joined in %.1f ms (%.1f ms on the "
                "quiet server)\n",
                forgedJoinMs, forgedQuietMs);
    report.Ratio("forged_join_vs_quiet_join",
                 forgedJoinMs > 0.0 && forgedQuietMs > 0.0 ? forgedJoinMs / forgedQuietMs : -1.0);
    double botnetJoinMs = -1.0, botnetQuietMs = -1.0, askingJoinMs = -1.0, askingQuietMs = -1.0;
    if (!MeasureBotnet(512, 200, 220, false, botnetJoinMs, botnetQuietMs) ||
        !MeasureBotnet(64, 240, 1900, true, askingJoinMs, askingQuietMs)) {
        std::printf("bench_network: the server cannot listen on the loopback address\n");
        return 1;
    }
    std::printf("bench_network: while the botnet held slots a client joined in %.1f ms (%.1f ms on the quiet "
                "server); while its peers asked to join, in %.1f ms\n",
                botnetJoinMs, botnetQuietMs, askingJoinMs);
    report.Ratio("botnet_join_vs_quiet_join",
                 botnetJoinMs > 0.0 && botnetQuietMs > 0.0 ? botnetJoinMs / botnetQuietMs : -1.0);
    report.Value("asking_botnet_join", askingJoinMs, "ms");
    std::printf("bench_network: %d joining slots held grew the process by %.2f MB\n", heldSlots, heldRss);
    report.Value("held_slots_rss_growth", heldRss, "MB");
    std::vector<double> quietTrips, floodTrips;
    uint64_t floodSent = 0, floodHandled = 0;
    const std::string loadBefore = LoadAverage();
    if (!MeasureBesideFlood(600, quietTrips, floodTrips, floodSent, floodHandled)) {
        std::printf("bench_network: the round trips beside a flood could not be measured\n");
        return 1;
    }
    const double quietP99 = Percentile(quietTrips, 0.99);
    const double floodP99 = Percentile(floodTrips, 0.99);
    // Round trips of more than a frame and a half: those whose echo went out a frame late, or later.
    auto late = [](const std::vector<double>& trips) {
        return std::count_if(trips.begin(), trips.end(), [](double ms) { return ms > 1.5 * 1000.0 / 60.0; });
    };
    std::printf(
        "bench_network: beside a flood (%llu packets sent, %llu handed on) a round trip's p50 %.1f ms, p99 "
        "%.1f ms, %ld of %zu a frame late or more (quiet p50 %.1f ms, p99 %.1f ms, %ld late); load average %s "
        "before, %s after\n",
        static_cast<unsigned long long>(floodSent), static_cast<unsigned long long>(floodHandled),
        Percentile(floodTrips, 0.5), floodP99, static_cast<long>(late(floodTrips)), floodTrips.size(),
        Percentile(quietTrips, 0.5), quietP99, static_cast<long>(late(quietTrips)), loadBefore.c_str(),
        LoadAverage().c_str());
    report.Ratio("net_roundtrip_p99_beside_flood_vs_quiet", quietP99 > 0.0 ? floodP99 / quietP99 : -1.0);
    double nsPerStep = 0.0;
    if (!MeasureFilingStep(nsPerStep)) {
        std::printf("bench_network: the filing walk could not be measured\n");
        return 1;
    }
    std::printf("bench_network: a step of ENet's filing walk costs %.2f ns\n", nsPerStep);
    report.Value("filing_walk_step", nsPerStep, "ns");
    report.Print();
    return 0;
}
