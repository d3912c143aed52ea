// The byte-level screen in front of ENet on a listening socket (the guard: connects and their
// cookies, the commands of every datagram to a peer, the pushing out and timing out of peers that
// do not join), with ENet behind it, on the loopback address. The socket has no receive thread:
// each datagram is screened and handed to ENet before the next is sent, and its clock is the
// harness's, which only the input moves. Beside raw sockets that send whatever the input says,
// real ENet hosts connect with the server's cookie (so that the screen sees peers in every state
// of ENet's handshake) and send crafted datagrams on their own connection, and one of the engine's
// own client sockets connects through the cookie (the client's side of it).
//
// The input is a sequence of records, each `op who length(u8) bytes[length]`:
//   0  a raw datagram of the bytes, from raw socket `who` (of four addresses), to the server, or
//      to the client socket when `who` is 128 or more
//   1  a datagram on real host `who`'s first connected (or connecting) peer: its ENet header, as
//      ENet makes it for the peer's state, then the bytes as commands
//   2  real host `who` starts a connect (its hosts take up to four peers each)
//   3  real hosts, the client socket and the server's socket take their turns (their cookies,
//      acknowledgements, timeouts)
//   4  the main thread takes what the socket handed over, and marks connections established
//      when bytes[0] is odd (as the session does once a client joined)
//   5  real host `who` resets its peers without a word
//   6  the server's clock moves on by the bytes' first two (little-endian) milliseconds, or by
//      10 times the first, or by 300 without bytes
//   7  the client socket connects to the server (once), and takes what it was handed
// Nothing may crash, hang or leak; no raw sender ever gets a connection (they never read the
// server's answers, so they cannot echo its cookie); the client socket hears only of its own
// connection.
#include "common/FuzzClock.h"
#include "common/FuzzSeeds.h"
#include "common/QuietLog.h"

#include "../network/HandPeer.h"

#include "network/NetPacketHeader.h"
#include "network/ServerConnectionManager.h"
#include "network/Socket.h"

#include <enet/enet.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace GAME;

constexpr int rawCount = 4;
constexpr int hostCount = 5;

enum Op : uint8_t
{
    OP_RAW = 0,
    OP_ON_PEER,
    OP_CONNECT,
    OP_TURN,
    OP_TAKE,
    OP_RESET,
    OP_CLOCK,
    OP_CLIENT,
    OP_COUNT,
};

// Sockets of the raw senders, made once: binding thousands of them over a run costs more than
// the inputs do.
std::array<ENetSocket, rawCount>& RawSockets()
{
    static std::array<ENetSocket, rawCount> sockets = [] {
        std::array<ENetSocket, rawCount> made{};
        enet_initialize();
        for (int i = 0; i < rawCount; ++i) {
            made[i] = enet_socket_create(ENET_SOCKET_TYPE_DATAGRAM);
            ENetAddress bind = Test::EnetAddress("127.0.8." + std::to_string(i + 1), 0);
            if (made[i] != ENET_SOCKET_NULL && enet_socket_bind(made[i], &bind) != 0) {
                enet_socket_destroy(made[i]);
                made[i] = ENET_SOCKET_NULL;
            }
            if (made[i] != ENET_SOCKET_NULL)
                enet_socket_set_option(made[i], ENET_SOCKOPT_NONBLOCK, 1);
        }
        return made;
    }();
    return sockets;
}

// What the server's socket is opened with, but for fewer joining slots than the server's own
// (1,024): the real hosts' twenty peers fill these, so that a connect has to push one out.
constexpr int joiningSlots = 8;

Socket::Limits ServerLimits()
{
    Socket::Limits limits;
    limits.maxConnections = ServerConnectionManager::maxClients + joiningSlots;
    limits.maxPending = joiningSlots;
    limits.pendingTimeoutMs = ServerConnectionManager::handshakeTimeoutMs;
    limits.maxPerAddress = ServerConnectionManager::defaultMaxPeersPerAddress;
    limits.connectsPerSecond = ServerConnectionManager::connectsPerAddressPerSecond;
    limits.maxWaitingData = ServerConnectionManager::maxWaitingData;
    return limits;
}

ENetPeer* FirstPeer(ENetHost* host)
{
    for (size_t i = 0; i < host->peerCount; ++i)
        if (host->peers[i].state == ENET_PEER_STATE_CONNECTED)
            return &host->peers[i];
    for (size_t i = 0; i < host->peerCount; ++i)
        if (host->peers[i].state != ENET_PEER_STATE_DISCONNECTED)
            return &host->peers[i];
    return nullptr;
}

// The engine's own client socket and the connection it opened (0 before).
struct Client
{
    Socket socket;
    uint32_t connection = 0;
};

// The client's turn, and what it was handed: only ever news of its own connection.
void ServiceClient(Client& client)
{
    if (client.connection == 0)
        return;
    client.socket.Service();
    Socket::Event event;
    while (client.socket.Receive(event))
        if (event.connection != client.connection)
            std::abort();
}

void Turn(Socket& socket, std::array<ENetHost*, hostCount>& hosts, Client& client)
{
    for (ENetHost* host : hosts) {
        if (!host)
            continue;
        ENetEvent event;
        while (enet_host_service(host, &event, 0) > 0)
            if (event.type == ENET_EVENT_TYPE_RECEIVE)
                enet_packet_destroy(event.packet);
        Test::ServiceCookies(host);
        enet_host_flush(host);
    }
    ServiceClient(client);
    socket.Service();
}

// Takes what the socket handed over, marking connections established when `establish` says
// so; a connection from a raw sender's address (127.0.8.x) is a hole in the cookie.
void Take(Socket& socket, bool establish)
{
    static const std::string rawPrefix = "127.0.8.";
    Socket::Event event;
    while (socket.Receive(event)) {
        if (event.kind != Socket::EVENT_CONNECTED)
            continue;
        if (event.data.size() >= rawPrefix.size() &&
            std::equal(rawPrefix.begin(), rawPrefix.end(), event.data.begin()))
            std::abort();
        FuzzAccepted(); // a genuine peer came through the screen
        if (establish)
            socket.Establish(event.connection);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzLog::Silence();
    std::array<ENetSocket, rawCount>& raw = RawSockets();
    // The server socket's clock: where an input starts, and moved only by OP_CLOCK.
    FuzzClock clock(5000000);
    Socket socket;
    socket.SetClock(&clock);
    if (!socket.ListenUnthreaded("127.0.0.1", 0, ServerLimits()))
        return 0;
    Client client;
    const ENetAddress server = Test::EnetAddress("127.0.0.1", socket.GetPort());
    std::array<ENetHost*, hostCount> hosts{};
    for (int i = 0; i < hostCount; ++i)
        hosts[i] = Test::MakeHost("127.0.9." + std::to_string(i + 1), 4);

    size_t offset = 0;
    while (offset + 3 <= size) {
        const uint8_t op = data[offset] % OP_COUNT;
        const int who = data[offset + 1];
        const size_t length = std::min<size_t>(data[offset + 2], size - offset - 3);
        const std::vector<uint8_t> bytes(data + offset + 3, data + offset + 3 + length);
        offset += 3 + length;
        ENetHost* host = hosts[static_cast<size_t>(who) % hostCount];
        switch (op) {
        case OP_RAW: {
            const ENetSocket from = raw[static_cast<size_t>(who) % rawCount];
            if (from == ENET_SOCKET_NULL || bytes.empty())
                break;
            if (who < 128) {
                Test::SendRaw(from, server, bytes);
                socket.Service();
            } else if (client.connection != 0) {
                Test::SendRaw(from, Test::EnetAddress("127.0.0.1", client.socket.GetPort()), bytes);
                ServiceClient(client);
            }
            break;
        }
        case OP_ON_PEER: {
            ENetPeer* peer = host ? FirstPeer(host) : nullptr;
            if (!peer)
                break;
            std::vector<uint8_t> datagram =
                Test::PeerHeader(*peer, true, static_cast<enet_uint16>(enet_time_get()));
            datagram.insert(datagram.end(), bytes.begin(), bytes.end());
            Test::SendRaw(host->socket, server, datagram);
            socket.Service();
            break;
        }
        case OP_CONNECT:
            if (host)
                enet_host_connect(host, &server, 1, 0);
            Turn(socket, hosts, client);
            break;
        case OP_TURN:
            Turn(socket, hosts, client);
            break;
        case OP_TAKE:
            Take(socket, !bytes.empty() && (bytes[0] & 1));
            break;
        case OP_RESET:
            if (host)
                for (size_t i = 0; i < host->peerCount; ++i)
                    enet_peer_reset(&host->peers[i]);
            break;
        case OP_CLOCK:
            clock.now += bytes.size() >= 2 ? static_cast<uint32_t>(bytes[0] | bytes[1] << 8)
                         : bytes.empty()   ? 300u
                                           : 10u * bytes[0];
            break;
        case OP_CLIENT:
            if (client.connection == 0)
                client.connection = client.socket.ConnectUnthreaded("127.0.0.1", socket.GetPort());
            ServiceClient(client);
            break;
        default:
            break;
        }
    }
    Take(socket, false);
    client.socket.Close(0);
    socket.Close(0);
    for (ENetHost* host : hosts)
        if (host)
            enet_host_destroy(host);
    // Whatever the server answered the raw senders is not for the next input.
    for (ENetSocket rawSocket : raw) {
        uint8_t buffer[4096];
        ENetBuffer in{buffer, sizeof(buffer)};
        ENetAddress from;
        while (rawSocket != ENET_SOCKET_NULL && enet_socket_receive(rawSocket, &from, &in, 1) > 0) {
        }
    }
    return 0;
}

void EngineFuzzSeeds(FuzzSeedSink& sink)
{
    using namespace GAME;
    auto record = [](std::vector<uint8_t>& out, Op op, int who, const std::vector<uint8_t>& bytes = {}) {
        out.push_back(op);
        out.push_back(static_cast<uint8_t>(who));
        out.push_back(static_cast<uint8_t>(bytes.size()));
        out.insert(out.end(), bytes.begin(), bytes.end());
    };
    auto bytesOf = [](const auto& value) {
        const auto* p = reinterpret_cast<const uint8_t*>(&value);
        return std::vector<uint8_t>(p, p + sizeof(value));
    };
    // A reliable send of `length` bytes numbered `sequence` on channel 0.
    auto reliable = [&](uint16_t sequence, uint16_t length) {
        ENetProtocolSendReliable command = {};
        command.header.command = int(ENET_PROTOCOL_COMMAND_SEND_RELIABLE) | int(ENET_PROTOCOL_COMMAND_FLAG_ACKNOWLEDGE);
        command.header.channelID = 0;
        command.header.reliableSequenceNumber = ENET_HOST_TO_NET_16(sequence);
        command.dataLength = ENET_HOST_TO_NET_16(length);
        std::vector<uint8_t> out(sizeof(command) + length, 0x5A);
        std::memcpy(out.data(), &command, sizeof(command));
        return out;
    };

    // Real hosts connect (with their cookies) and are taken up; one joins (established), then
    // sends in order, newest first, a resend and a fragment start.
    std::vector<uint8_t> peers;
    for (int host = 0; host < 3; ++host)
        record(peers, OP_CONNECT, host);
    for (int turn = 0; turn < 4; ++turn)
        record(peers, OP_TURN, 0);
    record(peers, OP_TAKE, 0, {1});
    std::vector<uint8_t> commands;
    for (uint16_t n = 3; n <= 6; ++n) {
        const std::vector<uint8_t> one = reliable(static_cast<uint16_t>(9 - n + 3), 16);
        commands.insert(commands.end(), one.begin(), one.end());
    }
    record(peers, OP_ON_PEER, 0, commands);
    record(peers, OP_ON_PEER, 0, reliable(2, 16));
    record(peers, OP_ON_PEER, 0, reliable(4, 16));
    ENetProtocolSendFragment fragment = {};
    fragment.header.command = int(ENET_PROTOCOL_COMMAND_SEND_FRAGMENT) | int(ENET_PROTOCOL_COMMAND_FLAG_ACKNOWLEDGE);
    fragment.header.reliableSequenceNumber = ENET_HOST_TO_NET_16(20);
    fragment.startSequenceNumber = ENET_HOST_TO_NET_16(20);
    fragment.dataLength = ENET_HOST_TO_NET_16(8);
    fragment.fragmentCount = ENET_HOST_TO_NET_32(2);
    fragment.totalLength = ENET_HOST_TO_NET_32(16);
    std::vector<uint8_t> start(sizeof(fragment) + 8, 1);
    std::memcpy(start.data(), &fragment, sizeof(fragment));
    record(peers, OP_ON_PEER, 1, start);
    record(peers, OP_TURN, 0);
    record(peers, OP_RESET, 2);
    record(peers, OP_TURN, 0);
    sink.Add("peers", peers);

    // Connects from more hosts than there are joining slots, some reset midway.
    std::vector<uint8_t> crowd;
    for (int round = 0; round < 4; ++round)
        for (int host = 0; host < hostCount; ++host)
            record(crowd, OP_CONNECT, host);
    record(crowd, OP_RESET, 1);
    for (int turn = 0; turn < 3; ++turn)
        record(crowd, OP_TURN, 0);
    record(crowd, OP_TAKE, 0, {0});
    sink.Add("crowd", crowd);

    // Raw datagrams: a connect without a cookie, one with a guessed one; then, once a real host's
    // peer is connected, a datagram of more commands than ENet sends, and an unreliable send.
    std::vector<uint8_t> strangers;
    record(strangers, OP_RAW, 0, GAME::Test::ConnectDatagram(77));
    record(strangers, OP_RAW, 1, GAME::Test::ConnectDatagram(77, 0x12345678u));
    record(strangers, OP_CONNECT, 0);
    for (int turn = 0; turn < 4; ++turn)
        record(strangers, OP_TURN, 0);
    std::vector<uint8_t> pings;
    for (int c = 0; c < 40; ++c) {
        ENetProtocolPing ping = {};
        ping.header.command = int(ENET_PROTOCOL_COMMAND_PING) | int(ENET_PROTOCOL_COMMAND_FLAG_ACKNOWLEDGE);
        ping.header.channelID = 0xFF;
        const std::vector<uint8_t> one = bytesOf(ping);
        pings.insert(pings.end(), one.begin(), one.end());
    }
    record(strangers, OP_ON_PEER, 0, pings);
    ENetProtocolSendUnreliable unreliable = {};
    unreliable.header.command = ENET_PROTOCOL_COMMAND_SEND_UNRELIABLE;
    unreliable.header.reliableSequenceNumber = ENET_HOST_TO_NET_16(9);
    record(strangers, OP_ON_PEER, 0, bytesOf(unreliable));
    sink.Add("strangers", strangers);

    // Every joining slot held by two addresses' peers that never join; once they are past their
    // youth a third address's connect pushes one out; and once past the time a peer has to join,
    // the rest are dropped.
    std::vector<uint8_t> crowded;
    for (int host = 0; host < 2; ++host)
        for (int peer = 0; peer < 4; ++peer)
            record(crowded, OP_CONNECT, host);
    for (int turn = 0; turn < 4; ++turn)
        record(crowded, OP_TURN, 0);
    record(crowded, OP_CLOCK, 0, {44, 1}); // 300 ms
    record(crowded, OP_CONNECT, 2);
    for (int turn = 0; turn < 4; ++turn)
        record(crowded, OP_TURN, 0);
    record(crowded, OP_CLOCK, 0, {0x34, 0x08}); // 2,100 ms
    record(crowded, OP_TURN, 0);
    record(crowded, OP_TAKE, 0, {0});
    sink.Add("crowded", crowded);

    // The engine's client connects through the cookie and is taken up; another connect of it
    // finds its cookie gone stale (the server's clock two cookie periods on) and asks again; a
    // stranger sends the client a cookie for a connect it never made.
    std::vector<uint8_t> client;
    record(client, OP_CLIENT, 0);
    for (int turn = 0; turn < 4; ++turn)
        record(client, OP_TURN, 0);
    record(client, OP_TAKE, 0, {1});
    record(client, OP_CLIENT, 0);
    std::vector<uint8_t> cookie = {0x0F, 0xFF, 0xFF, 'C', 1, 2, 3, 4, 5, 6, 7, 8};
    record(client, OP_RAW, 128, cookie);
    sink.Add("client", client);
    std::vector<uint8_t> stale;
    record(stale, OP_CLIENT, 0);
    record(stale, OP_TURN, 0);
    record(stale, OP_CLOCK, 0, {0x80, 0x3E}); // 16,000 ms
    for (int turn = 0; turn < 4; ++turn)
        record(stale, OP_TURN, 0);
    record(stale, OP_TAKE, 0, {0});
    record(stale, OP_CLIENT, 0);
    sink.Add("stale_cookie", stale);
}
