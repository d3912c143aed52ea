// Plain ENet peers made by hand, for the network tests and the network benchmark: ENet hosts on
// addresses of their own (any of 127.x.y.z), which take a guarded server's connect cookie and
// connect again with it as the engine's own socket does, and, when asked, join the session with
// the engine's own link (NetworkConnection). Once connected they can send commands crafted on
// their socket. One thread at a time per host, which services it (Service, Flush) for as long as
// the test needs its peer: the server's ENet gives up a peer that answers none of its pings for
// some seconds, with whatever it still held of it, and a busy machine's test runs that long. And
// a joined client's valid packets sent in an order of its choosing (OrderAttack), and a botnet of
// such hosts (Botnet).
#pragma once

#include "network/NetPacketHeader.h"
#include "network/NetworkConnection.h"
#include "network/RateBucket.h"
#include "network/SendFiler.h"

#include <enet/enet.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace GAME::Test {

inline ENetAddress EnetAddress(const std::string& ip, int port)
{
    ENetAddress address;
    enet_address_set_host_ip(&address, ip.c_str());
    address.port = static_cast<enet_uint16>(port);
    return address;
}

inline void SendRaw(ENetSocket socket, const ENetAddress& to, const std::vector<uint8_t>& bytes)
{
    ENetBuffer buffer;
    buffer.data = const_cast<uint8_t*>(bytes.data());
    buffer.dataLength = bytes.size();
    enet_socket_send(socket, &to, &buffer, 1);
}

// The header ENet puts on a datagram of the peer's connection: the peer id the other end gave it
// and its session (while the peer still connects, ENet sends the id that names no peer and no
// session: the session of a peer not yet given one would run into the header's flags), and the
// sent time when asked (ENet sends it whenever a command wants an acknowledgement). Commands follow.
inline std::vector<uint8_t> PeerHeader(const ENetPeer& peer, bool sentTime = true, enet_uint16 time = 0)
{
    enet_uint16 peerID = peer.outgoingPeerID;
    if (peer.outgoingPeerID < ENET_PROTOCOL_MAXIMUM_PEER_ID)
        peerID |= static_cast<enet_uint16>(peer.outgoingSessionID << ENET_PROTOCOL_HEADER_SESSION_SHIFT);
    if (sentTime)
        peerID |= ENET_PROTOCOL_HEADER_FLAG_SENT_TIME;
    ENetProtocolHeader header;
    header.peerID = ENET_HOST_TO_NET_16(peerID);
    header.sentTime = ENET_HOST_TO_NET_16(time);
    std::vector<uint8_t> bytes(sentTime ? sizeof(header) : offsetof(ENetProtocolHeader, sentTime));
    std::memcpy(bytes.data(), &header, bytes.size());
    return bytes;
}

// The commands of a datagram ENet sent (its header first), each visited at its first byte, as ENet
// reads them (the data a send carries is skipped).
template <typename Visit> void ForEachCommand(const uint8_t* data, size_t length, Visit visit)
{
    if (length < 2)
        return;
    size_t offset = (SendFiler::Read16(data) & ENET_PROTOCOL_HEADER_FLAG_SENT_TIME) ? 4 : 2;
    while (offset < length) {
        const size_t size = SendFiler::CommandLength(data + offset, length - offset);
        if (size == 0)
            return;
        visit(data + offset);
        offset += size;
    }
}

// Whether the datagram acknowledges the command numbered `number` of ENet's own channel (0xFF:
// a peer's connect, pings and disconnect).
inline bool AcknowledgesControl(const uint8_t* data, size_t length, uint16_t number)
{
    bool acknowledges = false;
    ForEachCommand(data, length, [&](const uint8_t* command) {
        acknowledges =
            acknowledges || ((command[0] & ENET_PROTOCOL_COMMAND_MASK) == ENET_PROTOCOL_COMMAND_ACKNOWLEDGE &&
                             command[offsetof(ENetProtocolCommandHeader, channelID)] == 0xFF &&
                             SendFiler::Read16(command + offsetof(ENetProtocolAcknowledge,
                                                                  receivedReliableSequenceNumber)) == number);
    });
    return acknowledges;
}

// How often the peer sent its command of that kind still unacknowledged (0: none waits). A
// goodbye or a ping nobody answers goes again and again, each time after twice the wait before up
// to a cap (on loopback a few seconds in all for eight), so a wait for its answer can end on this
// count instead of on the sender's own give-up, 30 s on.
inline int SendsOf(ENetPeer& peer, uint8_t kind)
{
    int sends = 0;
    for (ENetList* list : {&peer.sentReliableCommands, &peer.outgoingCommands})
        for (ENetListIterator it = enet_list_begin(list); it != enet_list_end(list);
             it = enet_list_next(it)) {
            const ENetOutgoingCommand& command = *reinterpret_cast<const ENetOutgoingCommand*>(it);
            if ((command.command.header.command & ENET_PROTOCOL_COMMAND_MASK) == kind)
                sends = std::max(sends, static_cast<int>(command.sendAttempts));
        }
    return sends;
}
// Sends of a command past which it is taken as unanswered.
constexpr int unansweredSends = 8;

// ENet's connect command as any client opening a connection sends it, with the data word a
// cookie goes in (0: none).
inline std::vector<uint8_t> ConnectDatagram(enet_uint32 connectID, enet_uint32 data = 0)
{
    ENetProtocolHeader header;
    header.peerID = ENET_HOST_TO_NET_16(int(ENET_PROTOCOL_MAXIMUM_PEER_ID) | int(ENET_PROTOCOL_HEADER_FLAG_SENT_TIME));
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
    connect.data = ENET_HOST_TO_NET_32(data);
    std::vector<uint8_t> bytes(sizeof(header) + sizeof(connect));
    std::memcpy(bytes.data(), &header, sizeof(header));
    std::memcpy(bytes.data() + sizeof(header), &connect, sizeof(connect));
    return bytes;
}

// A guarded server's answer to a connect without its cookie (the socket's own format): the
// cookie is kept in the connecting peer's data until ServiceCookies connects again with it.
inline int ENET_CALLBACK TakeCookie(ENetHost* host, ENetEvent*)
{
    const uint8_t* data = host->receivedData;
    if (host->receivedDataLength != 12 || data[0] != 0x0F || data[1] != 0xFF || data[2] != 0xFF || data[3] != 'C')
        return 0;
    for (size_t i = 0; i < host->peerCount; ++i) {
        ENetPeer& peer = host->peers[i];
        if (peer.state == ENET_PEER_STATE_CONNECTING && std::memcmp(&peer.connectID, data + 4, 4) == 0) {
            uint32_t cookie;
            std::memcpy(&cookie, data + 8, 4);
            peer.data = reinterpret_cast<void*>(static_cast<uintptr_t>(ENET_NET_TO_HOST_32(cookie)));
        }
    }
    return 1;
}

// An ENet host on the address that takes cookies.
inline ENetHost* MakeHost(const std::string& ip, size_t peers = 1)
{
    const ENetAddress bind = EnetAddress(ip, 0);
    ENetHost* host = enet_host_create(&bind, peers, 1, 0, 0);
    if (host)
        host->intercept = TakeCookie;
    return host;
}

// Connects again, with its cookie, every peer that was given one; call after each service.
inline void ServiceCookies(ENetHost* host)
{
    for (size_t i = 0; i < host->peerCount; ++i) {
        ENetPeer& peer = host->peers[i];
        if (peer.state != ENET_PEER_STATE_CONNECTING || peer.data == nullptr)
            continue;
        const auto cookie = static_cast<enet_uint32>(reinterpret_cast<uintptr_t>(peer.data));
        const ENetAddress server = peer.address;
        enet_peer_reset(&peer);
        if (ENetPeer* again = enet_host_connect(host, &server, 1, cookie))
            again->data = nullptr;
    }
}

// Frames (`pump`, one call each) until the condition holds; false after `limitMs` of real time.
template <typename Pump, typename Done> bool PumpUntil(Pump pump, Done done, int limitMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (!done() && std::chrono::steady_clock::now() < deadline) {
        pump();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return done();
}

// One ENet peer of an address of its own, connected to the server at `port`; `join` also makes
// it a client of the session, by hand, with the engine's link. `pump` runs the server's frames
// meanwhile; not ready after `limitMs`, which only a hang takes. The server is reached at
// serverIp:port (a relay, say).
struct HandPeer
{
    template <typename Pump>
    HandPeer(Pump pump, const std::string& ip, int port, bool join, int limitMs = 60000,
             const std::string& serverIp = "127.0.0.1")
    {
        host = MakeHost(ip);
        if (!host)
            return;
        const ENetAddress to = EnetAddress(serverIp, port);
        peer = enet_host_connect(host, &to, 1, 0);
        // `ready` is set once the join is done; a hang-up or the limit ends the wait without it.
        PumpUntil(
            pump,
            [&] {
                ENetEvent event;
                while (!ready && enet_host_service(host, &event, 0) > 0) {
                    if (event.type == ENET_EVENT_TYPE_DISCONNECT) {
                        // The server gave up on the peer (or ENet on the server): no answer comes.
                        hungUp = true;
                        return true;
                    }
                    if (event.type == ENET_EVENT_TYPE_CONNECT) {
                        peer = event.peer;
                        if (!join)
                            return ready = true;
                        std::vector<uint8_t> request;
                        if (!link.MakeConnectRequest(request))
                            return false;
                        enet_peer_send(peer, 0,
                                       enet_packet_create(request.data(), request.size(), ENET_PACKET_FLAG_RELIABLE));
                        enet_host_flush(host);
                    } else if (event.type == ENET_EVENT_TYPE_RECEIVE) {
                        NetPacketHeader header;
                        const uint8_t* body = nullptr;
                        size_t size = 0;
                        const bool opened = link.Open(event.packet->data, event.packet->dataLength, header, body,
                                                      size) == NetworkConnection::RESULT_OK;
                        enet_packet_destroy(event.packet);
                        if (opened && link.IsKeyed())
                            return ready = true;
                    }
                }
                ServiceCookies(host);
                return ready || hungUp;
            },
            limitMs);
    }
    ~HandPeer()
    {
        if (host)
            enet_host_destroy(host);
    }
    HandPeer(const HandPeer&) = delete;
    HandPeer& operator=(const HandPeer&) = delete;

    // Keeps ENet's side of the peer answering (acknowledgements, pings); what arrives is dropped.
    void Service()
    {
        ENetEvent event;
        while (enet_host_service(host, &event, 0) > 0)
            if (event.type == ENET_EVENT_TYPE_RECEIVE)
                enet_packet_destroy(event.packet);
    }
    // Asks the server's ENet for an acknowledgement (a ping) and runs `pump` (servicing this peer)
    // until it came: the server has read everything this peer sent before (or the system dropped
    // it on the way). False after `limitMs`, which means a hang.
    template <typename Pump> bool Flush(Pump pump, int limitMs = 60000)
    {
        enet_peer_ping(peer);
        enet_host_flush(host);
        return PumpUntil(
            [&] {
                pump();
                Service();
            },
            [&] {
                return enet_list_empty(&peer->outgoingCommands) &&
                       enet_list_empty(&peer->sentReliableCommands);
            },
            limitMs);
    }
    // A datagram to the server on this peer's connection, as its host stamps them; commands follow.
    std::vector<uint8_t> Datagram() const { return PeerHeader(*peer); }
    void Send(const std::vector<uint8_t>& bytes) { SendRaw(host->socket, peer->address, bytes); }
    // A sealed packet of the session, sent through ENet as any packet of the peer.
    bool SendSealed(uint8_t type, const std::vector<uint8_t>& body)
    {
        std::vector<uint8_t> datagram;
        if (!link.Seal(type, body.data(), body.size(), datagram))
            return false;
        return enet_peer_send(peer, 0, enet_packet_create(datagram.data(), datagram.size(), ENET_PACKET_FLAG_RELIABLE)) ==
               0;
    }

    ENetHost* host = nullptr;
    ENetPeer* peer = nullptr;
    NetworkConnection link{NetworkConnection::SIDE_CLIENT};
    bool ready = false;
    bool hungUp = false; // disconnected before it was ready
};

// Appends a command (and `dataLength` bytes of 0x5A after it) to a datagram.
template <typename Command> void AppendCommand(std::vector<uint8_t>& datagram, const Command& command, size_t dataLength = 0)
{
    const size_t at = datagram.size();
    datagram.resize(at + sizeof(command) + dataLength, 0x5A);
    std::memcpy(datagram.data() + at, &command, sizeof(command));
}

// A joined peer's (HandPeer, joined) sealed packets, every one valid, sent by hand on its socket in
// the order of a shape, 32 reliable sends a datagram at most (as ENet sends), in cycles. Packet k
// of the attack has the body `body(k)`, is numbered k on from the number after the join request
// and is sealed in that order, so that the session takes every packet ENet delivers. A cycle's
// numbers follow the last cycle's; each cycle is whole once its last datagram is in (but the
// flood's, which is never whole). The shapes, as an attacker orders valid sends to make the
// server's receive thread file them costly and as a shuffling link orders an honest sender's:
// - GapFills: 19,000 sends above a gap of 4,096, then the gap's in ascending order: each fill
//   is the one ENet waits for, filed below all that are held.
// - BankCycles: 7,168 new numbers above 896 holes and a gap, the holes filled from the top down,
//   then the gap: each fill filed below the 7,168 and the fills before it (6.8 million steps of
//   ENet's walk, what the 7,168 earned under the filing budget of old, spent each cycle).
// - ReversedRuns: 8,192 sends newest first.
// - ShuffledBursts: 8 bursts of 32 datagrams of consecutive numbers, each burst's datagrams in a
//   shuffled order (seeded), as a network that delays each datagram by a random time hands them on.
// - Flood: the out-of-order flood: 24,000 sends newest first from deep in ENet's window down to
//   the one after the next, which never comes; every cycle the same sends again.
// - InOrder: the packets of a cycle of `like`, ascending: what the shapes cost against.
// One thread at a time (the one that services the peer's host).
class OrderAttack
{
public:
    enum Shape
    {
        GapFills,
        BankCycles,
        ReversedRuns,
        ShuffledBursts,
        Flood,
        InOrder
    };
    static constexpr uint32_t gap = 4096;
    static constexpr uint32_t gapFillsHeld = 19000;
    static constexpr uint32_t bankNumbers = 7168;
    static constexpr uint32_t bankHoles = 896;
    static constexpr uint32_t reversedRun = 8192;
    static constexpr uint32_t burstDatagrams = 32;
    static constexpr uint32_t burstsPerCycle = 8;
    static constexpr uint32_t floodDepth = 24000;
    static constexpr int sendsPerDatagram = 32;

    OrderAttack(HandPeer& peer, Shape shape, uint8_t type, std::function<std::vector<uint8_t>(uint32_t)> body,
                uint32_t seed = 1, Shape like = GapFills)
        : m_peer(peer), m_shape(shape), m_like(shape == InOrder ? like : shape), m_type(type),
          m_body(std::move(body)), m_random(seed),
          m_first(static_cast<uint16_t>(peer.peer->channels[0].outgoingReliableSequenceNumber + 1))
    {
    }

    static uint32_t CycleLength(Shape shape)
    {
        switch (shape) {
        case GapFills:
            return gap + gapFillsHeld;
        case BankCycles:
            return 1 + bankHoles + bankNumbers;
        case ReversedRuns:
            return reversedRun;
        case ShuffledBursts:
            return burstsPerCycle * burstDatagrams * sendsPerDatagram;
        case Flood:
            return floodDepth + 1;
        case InOrder:
            break;
        }
        return 0;
    }
    // Whether ENet has every packet of a cycle to hand on once the cycle was sent (all but the flood).
    bool Delivers() const { return m_shape != Flood; }
    // Packets sealed and sent in whole cycles so far (the flood's once).
    uint32_t Packets() const { return m_packets; }
    uint64_t Datagrams() const { return m_datagrams; }

    // Sends the next cycle, `before` called before each datagram (to pace or pause the sender),
    // waiting every 32 datagrams until the server has read them (the system drops what overflows
    // its socket's buffer, and a lost send would spoil the shape). False when the server did not
    // acknowledge within `limitMs` (a hang) or a sealing failed.
    bool SendCycle(const std::function<void()>& before, int limitMs = 60000)
    {
        if (m_cycle.empty() || m_shape != Flood) {
            if (!MakeCycle())
                return false;
        }
        for (size_t i = 0; i < m_cycle.size(); ++i) {
            if (before)
                before();
            m_peer.Send(m_cycle[i]);
            ++m_datagrams;
            if ((i % 32 == 31 || i + 1 == m_cycle.size()) && !m_peer.Flush([] {}, limitMs))
                return false;
        }
        return true;
    }

private:
    // The order of a cycle's packets, as offsets from its first.
    std::vector<uint32_t> Order() const
    {
        const uint32_t length = CycleLength(m_like);
        std::vector<uint32_t> order;
        order.reserve(length);
        auto ascending = [&](uint32_t from, uint32_t to) {
            for (uint32_t k = from; k < to; ++k)
                order.push_back(k);
        };
        auto descending = [&](uint32_t from, uint32_t to) { // to down to from
            for (uint32_t k = to; k-- > from;)
                order.push_back(k);
        };
        if (m_shape == InOrder) {
            ascending(0, length);
            return order;
        }
        switch (m_shape) {
        case GapFills:
            ascending(gap, length);
            ascending(0, gap);
            break;
        case BankCycles:
            ascending(1 + bankHoles, length);
            descending(1, 1 + bankHoles);
            order.push_back(0);
            break;
        case ReversedRuns:
            descending(0, length);
            break;
        case ShuffledBursts:
            break; // by datagram, in MakeCycle
        case Flood:
            descending(1, length);
            break;
        case InOrder:
            break;
        }
        return order;
    }
    bool MakeCycle()
    {
        const uint32_t length = CycleLength(m_like);
        std::vector<std::vector<uint8_t>> sealed(length);
        for (uint32_t k = 0; k < length; ++k) {
            const std::vector<uint8_t> body = m_body(m_packets + k);
            if (!m_peer.link.Seal(m_type, body.data(), body.size(), sealed[k]))
                return false;
        }
        // Datagrams of up to 32 sends, in order, none past ENet's largest.
        std::vector<std::vector<uint32_t>> groups;
        const std::vector<uint32_t> order = Order();
        for (size_t i = 0; i < order.size(); ++i) {
            if (i % sendsPerDatagram == 0)
                groups.emplace_back();
            groups.back().push_back(order[i]);
        }
        if (m_shape == ShuffledBursts) {
            for (uint32_t k = 0; k < length; k += sendsPerDatagram) {
                groups.emplace_back();
                for (uint32_t j = k; j < k + sendsPerDatagram; ++j)
                    groups.back().push_back(j);
            }
            for (size_t b = 0; b < groups.size(); b += burstDatagrams)
                std::shuffle(groups.begin() + static_cast<std::ptrdiff_t>(b),
                             groups.begin() +
                                 static_cast<std::ptrdiff_t>(std::min(groups.size(), b + burstDatagrams)),
                             m_random);
        }
        m_cycle.clear();
        for (const std::vector<uint32_t>& group : groups) {
            m_cycle.push_back(m_peer.Datagram());
            for (uint32_t k : group) {
                const std::vector<uint8_t>& packet = sealed[k];
                if (m_cycle.back().size() + sizeof(ENetProtocolSendReliable) + packet.size() >
                    ENET_PROTOCOL_MAXIMUM_MTU)
                    m_cycle.push_back(m_peer.Datagram());
                ENetProtocolSendReliable command = {};
                command.header.command = ENET_PROTOCOL_COMMAND_SEND_RELIABLE;
                command.header.reliableSequenceNumber =
                    ENET_HOST_TO_NET_16(static_cast<uint16_t>(m_first + m_packets + k));
                command.dataLength = ENET_HOST_TO_NET_16(static_cast<uint16_t>(packet.size()));
                AppendCommand(m_cycle.back(), command);
                m_cycle.back().insert(m_cycle.back().end(), packet.begin(), packet.end());
            }
        }
        // The flood's numbers stay where they are; it never delivers any.
        if (m_shape != Flood)
            m_packets += length;
        return true;
    }

    HandPeer& m_peer;
    Shape m_shape;
    Shape m_like;
    uint8_t m_type;
    std::function<std::vector<uint8_t>(uint32_t)> m_body;
    std::mt19937 m_random;
    uint16_t m_first;
    uint32_t m_packets = 0;
    uint64_t m_datagrams = 0;
    std::vector<std::vector<uint8_t>> m_cycle;
};

// A botnet of real addresses that never asks to join, as smart as a server's allowances let it
// be: each address takes the server's cookie and starts peers at the rate the server allows an
// address (`perSecond`, a burst of `perAddress`, at most `perAddress` at once); each peer holds a
// joining slot for `holdMs`, younger than any the server pushes out, then leaves politely (a
// disconnect), and at the next turn a new connect from whichever address has most allowance left
// takes its place, so that `inFlight` peers hold slots (or wait for one) at all times. With `ask`,
// each peer sends a join request (a real one, of a key share of its own) once ENet connected it,
// and leaves as soon as the server answers. Step does one turn (a millisecond apart, say); one
// thread at a time.
class Botnet
{
public:
    Botnet(const std::vector<std::string>& ips, int serverPort, int inFlight, int holdMs, int perAddress,
           double perSecond, bool ask = false)
        : m_server(EnetAddress("127.0.0.1", serverPort)), m_inFlight(inFlight), m_hold(holdMs),
          m_perAddress(perAddress), m_rate(perSecond), m_ask(ask)
    {
        // A peer more on each address's host, the one asking for the cookie.
        for (const std::string& ip : ips)
            if (ENetHost* host = MakeHost(ip, static_cast<size_t>(perAddress) + 1))
                m_addresses.push_back(Address{host, RateBucket(perAddress, Now())});
    }
    ~Botnet()
    {
        for (Address& address : m_addresses)
            enet_host_destroy(address.host);
    }
    Botnet(const Botnet&) = delete;
    Botnet& operator=(const Botnet&) = delete;

    void Step()
    {
        const uint32_t now = Now();
        for (Address& address : m_addresses) {
            ENetEvent event;
            while (enet_host_service(address.host, &event, 0) > 0) {
                auto bot = m_bots.find(event.peer);
                if (event.type == ENET_EVENT_TYPE_RECEIVE) {
                    enet_packet_destroy(event.packet);
                    if (bot != m_bots.end() && !bot->second.answered) {
                        bot->second.answered = true;
                        ++answered;
                    }
                } else if (bot != m_bots.end() && event.type == ENET_EVENT_TYPE_CONNECT) {
                    bot->second.connected = true;
                    ++held;
                    peakHolding = std::max(peakHolding, ++holding);
                    std::vector<uint8_t> request;
                    NetworkConnection link(NetworkConnection::SIDE_CLIENT);
                    if (m_ask && link.MakeConnectRequest(request)) {
                        enet_peer_send(
                            event.peer, 0,
                            enet_packet_create(request.data(), request.size(), ENET_PACKET_FLAG_RELIABLE));
                        enet_host_flush(address.host);
                    }
                } else if (bot != m_bots.end() && event.type == ENET_EVENT_TYPE_DISCONNECT) {
                    ++letGo; // the server dropped it before its time
                    Forget(bot);
                }
            }
            // The cookie: asked for again well within the two periods it holds for.
            if (address.asking && address.asking->data) {
                address.cookie = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(address.asking->data));
                address.cookieAt = now;
                enet_peer_reset(address.asking);
                address.asking = nullptr;
            }
            if (address.asking && now - address.askedAt > 1000) {
                enet_peer_reset(address.asking);
                address.asking = nullptr;
            }
            if (!address.asking && (address.cookie == 0 || now - address.cookieAt > 5000)) {
                address.asking = enet_host_connect(address.host, &m_server, 1, 0);
                address.askedAt = now;
                enet_host_flush(address.host);
            }
        }
        while (static_cast<int>(m_bots.size()) < m_inFlight) {
            Address* best = nullptr;
            for (Address& address : m_addresses)
                if (address.cookie != 0 && address.active < m_perAddress &&
                    address.allowance.Refill(m_rate, m_perAddress, now) >= 1.0 &&
                    (!best || address.allowance.GetTokens() > best->allowance.GetTokens()))
                    best = &address;
            if (!best)
                break;
            ENetPeer* peer = enet_host_connect(best->host, &m_server, 1, best->cookie);
            if (!peer)
                break;
            best->allowance.Take(m_rate, m_perAddress, now);
            ++best->active;
            m_bots[peer] = Bot{best, now, false, false};
            ++connects;
            enet_host_flush(best->host);
        }
        // Those whose time is up leave politely; new ones take their places at the next turn
        // (the server frees a slot once it has handled the disconnect).
        for (auto bot = m_bots.begin(); bot != m_bots.end();) {
            auto next = std::next(bot);
            if (now - bot->second.since >= static_cast<uint32_t>(m_hold) || bot->second.answered) {
                enet_peer_disconnect_now(bot->first, 0);
                ++left;
                Forget(bot);
            }
            bot = next;
        }
    }

    uint64_t connects = 0; // connects sent with the cookie
    uint64_t held = 0;     // of those, the ones the server let in
    uint64_t left = 0;     // peers that left politely when their time was up
    uint64_t letGo = 0;    // peers the server dropped before that
    uint64_t answered = 0; // join requests the server answered (`ask`)
    int holding = 0;       // peers in now
    int peakHolding = 0;

private:
    struct Address
    {
        ENetHost* host;
        RateBucket allowance;
        uint32_t cookie = 0;
        uint32_t cookieAt = 0;
        ENetPeer* asking = nullptr;
        uint32_t askedAt = 0;
        int active = 0;
    };
    struct Bot
    {
        Address* address;
        uint32_t since;
        bool connected;
        bool answered;
    };

    static uint32_t Now()
    {
        return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                         std::chrono::steady_clock::now().time_since_epoch())
                                         .count());
    }
    void Forget(std::map<ENetPeer*, Bot>::iterator bot)
    {
        if (bot->second.connected)
            --holding;
        --bot->second.address->active;
        m_bots.erase(bot);
    }

    ENetAddress m_server;
    int m_inFlight;
    int m_hold;
    int m_perAddress;
    double m_rate;
    bool m_ask;
    std::vector<Address> m_addresses;
    std::map<ENetPeer*, Bot> m_bots;
};

} // namespace GAME::Test
