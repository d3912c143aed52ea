#include "network/Socket.h"

#include "core/Log.h"
#include "core/Thread.h"
#include "network/NetPacketHeader.h"
#include "network/NetworkQueue.h"
#include "platform/Clock.h"
#include "platform/Threading.h"

#include <enet/enet.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <deque>
#include <iterator>
#include <map>
#include <mutex>
#include <set>
#include <unordered_map>

namespace GAME {

namespace {

// How long the receive thread waits for the socket before servicing ENet anyway (resends,
// pings and timeouts need regular service).
constexpr enet_uint32 serviceIntervalMs = 5;

bool InitializeENet()
{
    static std::once_flag once;
    static bool ok = false;
    std::call_once(once, [] {
        // ENet 1.3 keeps no global state worth undoing on this platform: never deinitialised.
        ok = enet_initialize() == 0;
        if (!ok)
            LogPrintf(2, "Network: ENet could not be initialised");
    });
    return ok;
}

uint32_t ConnectionOf(const ENetPeer* peer)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(peer->data));
}

// A peer that finished ENet's connect and may carry packets (before that it is in ENet's own
// handshake, or on its way out).
bool IsTransportConnected(const ENetPeer& peer)
{
    return peer.state == ENET_PEER_STATE_CONNECTED || peer.state == ENET_PEER_STATE_DISCONNECT_LATER;
}

uint16_t Read16(const uint8_t* data)
{
    uint16_t value;
    std::memcpy(&value, data, sizeof(value));
    return ENET_NET_TO_HOST_16(value);
}

uint32_t Read32(const uint8_t* data)
{
    uint32_t value;
    std::memcpy(&value, data, sizeof(value));
    return ENET_NET_TO_HOST_32(value);
}

std::string AddressText(const ENetAddress& address)
{
    char ip[64] = {};
    if (enet_address_get_host_ip(&address, ip, sizeof(ip)) != 0)
        std::strcpy(ip, "?");
    return std::string(ip) + ":" + std::to_string(address.port);
}

// A peer in ENet's handshake this long has a worse link than the game can use, or none:
// finishing it takes one round trip.
constexpr uint32_t staleHandshakeMs = 250;

// A peer this young is never pushed out: a burst of connects cannot sweep away a newcomer before
// it could ask to join.
constexpr uint32_t youngPeerMs = 250;

// What an address pays, in connects, for a peer that held a slot until it was pushed out or timed
// out without ever asking to join: such an address gets a fifth of its rate.
constexpr double wastedSlotConnects = 4.0;

// Addresses whose connect allowance is remembered; past this many (once those with a full
// allowance are forgotten) a new address is refused until some refill.
constexpr size_t maxRememberedAddresses = 65536;

} // namespace

class Socket::ReceiveThread : public Thread
{
public:
    explicit ReceiveThread(Impl& impl) : m_impl(impl) {}
    void Run() override;

private:
    Impl& m_impl;
};

struct Socket::Impl
{
    explicit Impl(size_t queueCapacity) : queue(queueCapacity), thread(*this) {}

    // Guards the host, every ENet call on it and the id tables.
    mutable std::mutex hostLock;
    ENetHost* host = nullptr;
    ENetSocket socket = ENET_SOCKET_NULL; // copied out of the host before the thread starts
    struct Peer
    {
        ENetPeer* peer = nullptr;
        bool connected = false;     // counted in connectedPeers
        bool established = false;   // Establish was called
        uint64_t firstDatagram = 0; // the number of the first datagram handed over (Hand)
    };
    std::map<uint32_t, Peer> peers;
    uint32_t nextConnection = 1;
    int port = 0;

    // The guard of a listening socket (receive thread, under hostLock; see the banner). Its
    // counters are atomics, so that the main thread reads them without the lock.
    bool guarded = false;
    Limits limits;
    struct GuardCounters
    {
        std::atomic<uint64_t> timedOut{0}, pushedOut{0}, refusedAddress{0}, refusedRate{0}, refusedNoRoom{0},
            refusedFragments{0}, refusedCommands{0};
    } guardCounters;
    static void Count(std::atomic<uint64_t>& counter) { counter.fetch_add(1, std::memory_order_relaxed); }
    // Per address: the connects it may still start now, refilled with time.
    struct Allowance
    {
        double connects = 0.0;
        uint32_t at = 0;
    };
    std::unordered_map<enet_uint32, Allowance> allowances;
    uint32_t allowancesPrunedAt = 0;
    // Peers pushed out during ENet's receive, told once it is done (Notify).
    struct Notice
    {
        ENetAddress address;
        enet_uint16 peerID;
        enet_uint8 sessionID;
    };
    std::vector<Notice> notices;
    // Per ENet slot: when its present occupant (told apart by ENet's connect id) was first seen.
    struct Slot
    {
        bool occupied = false;
        enet_uint32 connectID = 0;
        uint32_t since = 0;
    };
    std::vector<Slot> slots;
    // Unestablished peers looked at by ScreenConnect (kept to spare an allocation per connect).
    struct Candidate
    {
        ENetPeer* peer;
        bool connected;
        uint32_t age;
        int share; // unestablished peers of its address
    };
    std::vector<Candidate> candidates;

    // What the main thread could not do at once because the receive thread held the host lock,
    // in order; done by whichever thread next holds the lock (Drain). outLock is taken alone or
    // inside hostLock, never the other way round.
    enum OutgoingKind : uint8_t
    {
        OUT_SEND,
        OUT_DISCONNECT,
        OUT_ESTABLISH,
    };
    struct Outgoing
    {
        OutgoingKind kind;
        uint32_t connection;
        std::vector<uint8_t> data;
    };
    std::mutex outLock;
    std::vector<Outgoing> outgoing;
    std::atomic<bool> outgoingWaiting{false};
    // Main thread: the connections Receive reported connected and not yet disconnected.
    std::set<uint32_t> live;
    std::atomic<bool> open{false};
    std::atomic<int> boundPort{0};

    NetworkQueue queue;
    ReceiveThread thread;
    std::atomic<bool> stop{false};
    std::atomic<bool> closing{false};
    std::atomic<unsigned> timeoutMs{0};
    std::atomic<int> connectedPeers{0};
    std::atomic<uint64_t> stalls{0};
    std::atomic<uint64_t> tooLarge{0};
    std::atomic<uint64_t> serviceErrors{0};
    // Records handed over (receive thread) and taken (main thread), counted alike in queue order,
    // and those the main thread is done with: every record it took before it came back to Receive.
    // A record just taken is still being acted on (a join request until the peer is established).
    uint64_t handedRecords = 0;
    std::atomic<uint64_t> takenRecords{0};
    std::atomic<uint64_t> doneRecords{0};

    // Records taken from ENet and not yet in the queue, oldest first (receive thread only).
    struct Record
    {
        uint8_t kind;
        uint32_t connection;
        std::vector<uint8_t> data;
    };
    std::deque<Record> pending;

    // Under hostLock.
    void ApplyTimeout(ENetPeer* peer) const
    {
        const unsigned ms = timeoutMs.load(std::memory_order_relaxed);
        if (ms == 0)
            return;
        enet_peer_timeout(peer, 0, ms, ms);
        // An idle link is only found dead once a ping goes unanswered.
        enet_peer_ping_interval(peer,
                                std::clamp(ms / 4, 10u, static_cast<unsigned>(ENET_PEER_PING_INTERVAL)));
    }

    // Under hostLock: uncounts a connected peer and, when `erase`, forgets its id.
    void Forget(uint32_t id, bool erase)
    {
        auto it = peers.find(id);
        if (it == peers.end())
            return;
        if (it->second.connected)
            connectedPeers.fetch_sub(1, std::memory_order_relaxed);
        it->second.connected = false;
        if (erase)
            peers.erase(it);
    }

    // Receive thread, under hostLock: the record waits in `pending` until the lock is released,
    // so that the main thread, which may act on it at once, never finds the host lock taken.
    // Answers the record's number in the order of hand-over (0 when it was dropped).
    uint64_t Hand(uint8_t kind, uint32_t connection, const uint8_t* data, size_t size)
    {
        if (queue.IsTooLarge(size)) {
            tooLarge.fetch_add(1, std::memory_order_relaxed);
            return 0;
        }
        pending.push_back(Record{kind, connection, std::vector<uint8_t>(data, data + size)});
        return ++handedRecords;
    }

    // Receive thread, without hostLock: hands over what is pending, in order, while it fits.
    // Once closing, what does not fit is thrown away: nobody takes it any more.
    void HandPending()
    {
        while (!pending.empty()) {
            Record& record = pending.front();
            if (!queue.Put(record.kind, record.connection, record.data.data(), record.data.size()) &&
                !closing.load(std::memory_order_acquire))
                return;
            pending.pop_front();
        }
    }

    // Receive thread, under hostLock.
    void HandleEvent(ENetEvent& event)
    {
        ENetPeer* peer = event.peer;
        switch (event.type) {
        case ENET_EVENT_TYPE_CONNECT: {
            uint32_t id = ConnectionOf(peer);
            if (id == 0) { // a peer that called us
                id = nextConnection++;
                if (nextConnection == 0)
                    nextConnection = 1;
                peer->data = reinterpret_cast<void*>(static_cast<uintptr_t>(id));
                ApplyTimeout(peer);
            }
            Forget(id, false);
            peers[id] = Peer{peer, true};
            connectedPeers.fetch_add(1, std::memory_order_relaxed);
            const std::string address = AddressText(peer->address);
            Hand(EVENT_CONNECTED, id, reinterpret_cast<const uint8_t*>(address.data()), address.size());
            return;
        }
        case ENET_EVENT_TYPE_DISCONNECT: {
            const uint32_t id = ConnectionOf(peer);
            peer->data = nullptr;
            if (id == 0)
                return;
            Forget(id, true);
            Hand(EVENT_DISCONNECTED, id, nullptr, 0);
            return;
        }
        case ENET_EVENT_TYPE_RECEIVE: {
            const uint32_t id = ConnectionOf(peer);
            if (id != 0) {
                const uint64_t number =
                    Hand(EVENT_RECEIVED, id, event.packet->data, event.packet->dataLength);
                auto it = peers.find(id);
                if (it != peers.end() && it->second.firstDatagram == 0)
                    it->second.firstDatagram = number;
            }
            enet_packet_destroy(event.packet);
            return;
        }
        case ENET_EVENT_TYPE_NONE:
            break;
        }
    }

    // ---- The guard (receive thread, under hostLock) ---------------------------------------

    bool IsEstablished(const ENetPeer& peer) const
    {
        const uint32_t id = ConnectionOf(&peer);
        if (id == 0)
            return false;
        auto it = peers.find(id);
        return it != peers.end() && it->second.established;
    }

    // The slot's record, started anew when the slot has a new occupant.
    Slot& Track(size_t index, uint32_t now)
    {
        Slot& slot = slots[index];
        const ENetPeer& peer = host->peers[index];
        if (!slot.occupied || slot.connectID != peer.connectID) {
            slot.occupied = true;
            slot.connectID = peer.connectID;
            slot.since = now;
        }
        return slot;
    }

    // Frees the peer's slot at once; the main thread hears of a connection it knew. `tell` sends
    // the peer a disconnect first; during ENet's receive (where nothing may be sent) it is told
    // after the service call instead (Notify).
    void Drop(ENetPeer& peer, bool tell, bool receiving = false)
    {
        const uint32_t id = ConnectionOf(&peer);
        peer.data = nullptr;
        slots[static_cast<size_t>(&peer - host->peers)].occupied = false;
        if (id != 0) {
            Forget(id, true);
            Hand(EVENT_DISCONNECTED, id, nullptr, 0);
        }
        if (tell && receiving) {
            if (peer.state != ENET_PEER_STATE_DISCONNECTED &&
                peer.outgoingPeerID < ENET_PROTOCOL_MAXIMUM_PEER_ID)
                notices.push_back(Notice{peer.address, peer.outgoingPeerID, peer.outgoingSessionID});
            enet_peer_reset(&peer);
        } else if (tell) {
            enet_peer_disconnect_now(&peer, 0);
        } else {
            enet_peer_reset(&peer);
        }
    }

    // Receive thread, under hostLock, after the service call: the disconnects of the peers pushed
    // out meanwhile, as ENet's disconnect_now would have sent them.
    void Notify()
    {
        for (const Notice& notice : notices) {
            uint8_t datagram[sizeof(enet_uint16) + sizeof(ENetProtocolDisconnect)] = {};
            const enet_uint16 peerID = ENET_HOST_TO_NET_16(
                static_cast<enet_uint16>(notice.peerID | (static_cast<enet_uint16>(notice.sessionID)
                                                          << ENET_PROTOCOL_HEADER_SESSION_SHIFT)));
            std::memcpy(datagram, &peerID, sizeof(peerID));
            ENetProtocolDisconnect disconnect = {};
            disconnect.header.command =
                int(ENET_PROTOCOL_COMMAND_DISCONNECT) | int(ENET_PROTOCOL_COMMAND_FLAG_UNSEQUENCED);
            disconnect.header.channelID = 0xFF;
            std::memcpy(datagram + sizeof(peerID), &disconnect, sizeof(disconnect));
            ENetBuffer buffer;
            buffer.data = datagram;
            buffer.dataLength = sizeof(datagram);
            enet_socket_send(host->socket, &notice.address, &buffer, 1);
        }
        notices.clear();
    }

    // The peer's first datagram (its join request) was handed over and the main thread is not
    // done with it yet: a server busy with a long frame does not turn away those who asked in
    // time, nor one whose request it is answering at this moment.
    bool IsAwaitingMainThread(const ENetPeer& peer) const
    {
        auto it = peers.find(ConnectionOf(&peer));
        return it != peers.end() && it->second.firstDatagram != 0 &&
               it->second.firstDatagram > doneRecords.load(std::memory_order_acquire);
    }

    // The peer sent something after ENet's connect (its join request, for an engine client).
    bool HasAsked(const ENetPeer& peer) const
    {
        auto it = peers.find(ConnectionOf(&peer));
        return it != peers.end() && it->second.firstDatagram != 0;
    }

    // The peer held a slot and never asked to join: its address pays for it (see TakeConnect).
    void ChargeWastedSlot(const ENetPeer& peer, uint32_t now)
    {
        if (limits.connectsPerSecond <= 0 || HasAsked(peer))
            return;
        auto it = allowances.find(peer.address.host);
        if (it == allowances.end()) {
            if (allowances.size() >= maxRememberedAddresses)
                return;
            it = allowances.emplace(peer.address.host, Allowance{Burst(), now}).first;
        }
        Refill(it->second, now);
        it->second.connects =
            std::max(it->second.connects - wastedSlotConnects, -Burst() * wastedSlotConnects);
    }

    // Drops the peers that stayed unestablished too long, and forgets the allowances of
    // addresses that have refilled. Outside ENet's service.
    void Sweep()
    {
        if (!guarded || !host)
            return;
        const uint32_t now = Platform::MonotonicMilliseconds();
        for (size_t i = 0; i < host->peerCount; ++i) {
            ENetPeer& peer = host->peers[i];
            if (peer.state == ENET_PEER_STATE_DISCONNECTED) {
                slots[i].occupied = false;
                continue;
            }
            const Slot& slot = Track(i, now);
            if (limits.pendingTimeoutMs == 0 || IsEstablished(peer) ||
                now - slot.since <= limits.pendingTimeoutMs || IsAwaitingMainThread(peer))
                continue;
            Count(guardCounters.timedOut);
            ChargeWastedSlot(peer, now);
            Drop(peer, true);
        }
        if (now - allowancesPrunedAt >= 1000) {
            allowancesPrunedAt = now;
            for (auto it = allowances.begin(); it != allowances.end();)
                it = Refill(it->second, now) >= Burst() ? allowances.erase(it) : std::next(it);
        }
    }

    double Burst() const { return static_cast<double>(std::max(limits.maxPerAddress, 1)); }

    double Refill(Allowance& allowance, uint32_t now) const
    {
        const double rate = static_cast<double>(limits.connectsPerSecond);
        allowance.connects = std::min(Burst(), allowance.connects + rate * (now - allowance.at) / 1000.0);
        allowance.at = now;
        return allowance.connects;
    }

    // One connect from the address, if its allowance has one left.
    bool TakeConnect(enet_uint32 address, uint32_t now)
    {
        if (limits.connectsPerSecond <= 0)
            return true;
        auto it = allowances.find(address);
        if (it == allowances.end()) {
            if (allowances.size() >= maxRememberedAddresses)
                return false;
            it = allowances.emplace(address, Allowance{Burst(), now}).first;
        }
        if (Refill(it->second, now) < 1.0)
            return false;
        it->second.connects -= 1.0;
        return true;
    }

    // A peer still in ENet's handshake long after a real one would have finished it: its
    // connect most likely came from an address that never answers.
    static bool IsStale(const Candidate& candidate)
    {
        return !candidate.connected && candidate.age > staleHandshakeMs;
    }

    // A connect command: refused (true) for an address with its share of peers or past its
    // connect rate, or when every slot is established or awaited; otherwise room is made if the
    // unestablished peers hold their share (see the banner for which one goes).
    bool ScreenConnect(const uint8_t* command, size_t size)
    {
        ENetProtocolConnect connect;
        if (size < sizeof(connect))
            return false; // ENet ignores it
        std::memcpy(&connect, command, sizeof(connect));
        if ((connect.header.command & ENET_PROTOCOL_COMMAND_MASK) != ENET_PROTOCOL_COMMAND_CONNECT)
            return false;
        const ENetAddress& from = host->receivedAddress;
        const uint32_t now = Platform::MonotonicMilliseconds();
        int sameAddress = 0;
        bool freeSlot = false;
        int pending = 0;
        candidates.clear();
        for (size_t i = 0; i < host->peerCount; ++i) {
            ENetPeer& peer = host->peers[i];
            if (peer.state == ENET_PEER_STATE_DISCONNECTED) {
                freeSlot = true;
                continue;
            }
            if (peer.address.host == from.host) {
                // The same connect again (a resend): ENet knows it and ignores it.
                if (peer.address.port == from.port && peer.connectID == connect.connectID)
                    return false;
                ++sameAddress;
            }
            const Slot& slot = Track(i, now);
            if (IsEstablished(peer))
                continue;
            ++pending;
            if (now - slot.since >= youngPeerMs && !IsAwaitingMainThread(peer))
                candidates.push_back(Candidate{&peer, IsTransportConnected(peer), now - slot.since, 0});
        }
        if (limits.maxPerAddress > 0 && sameAddress >= limits.maxPerAddress) {
            Count(guardCounters.refusedAddress);
            return true;
        }
        if (!TakeConnect(from.host, now)) {
            Count(guardCounters.refusedRate);
            return true;
        }
        if (freeSlot && (limits.maxPending <= 0 || pending < limits.maxPending))
            return false;
        Candidate* victim = nullptr;
        for (Candidate& candidate : candidates) {
            for (const Candidate& other : candidates)
                candidate.share += other.peer->address.host == candidate.peer->address.host ? 1 : 0;
            if (!victim || IsStale(candidate) > IsStale(*victim) ||
                (IsStale(candidate) == IsStale(*victim) &&
                 (candidate.share > victim->share ||
                  (candidate.share == victim->share && candidate.age > victim->age))))
                victim = &candidate;
        }
        if (!victim) {
            Count(guardCounters.refusedNoRoom);
            return true;
        }
        Count(guardCounters.pushedOut);
        ChargeWastedSlot(*victim->peer, now);
        Drop(*victim->peer, true, true);
        return false;
    }

    // A reliable sequence number further ahead of what the peer delivered than the peer can have
    // in flight (numbers behind it ENet acknowledges and discards).
    bool IsBeyondWindow(const ENetPeer& peer, uint16_t sequence, bool established) const
    {
        if (peer.channelCount == 0 || !peer.channels)
            return false; // not connected: ENet refuses sends itself
        const uint16_t ahead =
            static_cast<uint16_t>(sequence - peer.channels[0].incomingReliableSequenceNumber);
        return ahead > (established ? reliableWindow : pendingReliableWindow) && ahead <= 0x8000;
    }

    // The commands of a datagram to a peer, refused (true) whole when any is one the engine
    // never sends (see the banner), or a fragment from a peer that is not established, or one
    // that claims more fragments than bytes or a packet larger than any the socket takes.
    bool ScreenCommands(const ENetPeer& peer, const uint8_t* data, size_t size)
    {
        int established = -1; // looked up once, when a send is found
        auto isEstablished = [&] {
            if (established < 0)
                established = IsEstablished(peer) ? 1 : 0;
            return established == 1;
        };
        size_t offset = 0;
        int count = 0;
        while (offset + sizeof(ENetProtocolCommandHeader) <= size) {
            const uint8_t number = data[offset] & ENET_PROTOCOL_COMMAND_MASK;
            if (number >= ENET_PROTOCOL_COMMAND_COUNT)
                return false;
            const size_t commandSize = enet_protocol_command_size(number);
            if (commandSize == 0 || offset + commandSize > size)
                return false;
            if (++count > ENET_PROTOCOL_MAXIMUM_PACKET_COMMANDS) {
                Count(guardCounters.refusedCommands);
                return true;
            }
            const uint8_t* command = data + offset;
            const bool onChannel0 = command[offsetof(ENetProtocolCommandHeader, channelID)] == 0;
            size_t dataLength = 0;
            switch (number) {
            case ENET_PROTOCOL_COMMAND_SEND_UNRELIABLE:
            case ENET_PROTOCOL_COMMAND_SEND_UNSEQUENCED:
            case ENET_PROTOCOL_COMMAND_SEND_UNRELIABLE_FRAGMENT:
                Count(guardCounters.refusedCommands);
                return true;
            case ENET_PROTOCOL_COMMAND_SEND_RELIABLE:
                dataLength = Read16(command + offsetof(ENetProtocolSendReliable, dataLength));
                if (dataLength == 0 || !onChannel0 ||
                    IsBeyondWindow(
                        peer, Read16(command + offsetof(ENetProtocolCommandHeader, reliableSequenceNumber)),
                        isEstablished())) {
                    Count(guardCounters.refusedCommands);
                    return true;
                }
                break;
            case ENET_PROTOCOL_COMMAND_SEND_FRAGMENT: {
                const uint32_t fragments =
                    Read32(command + offsetof(ENetProtocolSendFragment, fragmentCount));
                const uint32_t total = Read32(command + offsetof(ENetProtocolSendFragment, totalLength));
                if (!isEstablished() || fragments > total || total > host->maximumPacketSize) {
                    Count(guardCounters.refusedFragments);
                    return true;
                }
                dataLength = Read16(command + offsetof(ENetProtocolSendFragment, dataLength));
                // ENet files a fragment under its packet's first number.
                if (dataLength == 0 || !onChannel0 ||
                    IsBeyondWindow(peer,
                                   Read16(command + offsetof(ENetProtocolSendFragment, startSequenceNumber)),
                                   true)) {
                    Count(guardCounters.refusedCommands);
                    return true;
                }
                break;
            }
            default:
                break;
            }
            offset += commandSize + dataLength;
        }
        return false;
    }

    // ---- What the main thread asks (under hostLock) ------------------------------------------

    bool DoSend(uint32_t connection, const uint8_t* data, size_t size)
    {
        auto it = peers.find(connection);
        if (!host || it == peers.end() || it->second.peer->state != ENET_PEER_STATE_CONNECTED)
            return false;
        ENetPacket* packet = enet_packet_create(data, size, ENET_PACKET_FLAG_RELIABLE);
        if (!packet)
            return false;
        if (enet_peer_send(it->second.peer, 0, packet) != 0) {
            if (packet->referenceCount == 0)
                enet_packet_destroy(packet);
            return false;
        }
        return true;
    }

    void DoDisconnect(uint32_t connection)
    {
        auto it = peers.find(connection);
        if (host && it != peers.end())
            enet_peer_disconnect_later(it->second.peer, 0);
    }

    void DoEstablish(uint32_t connection)
    {
        auto it = peers.find(connection);
        if (it != peers.end())
            it->second.established = true;
    }

    // Does what the main thread left, in order. True when there was anything.
    bool Drain()
    {
        if (!outgoingWaiting.load(std::memory_order_acquire))
            return false;
        std::vector<Outgoing> batch;
        {
            std::lock_guard<std::mutex> lock(outLock);
            batch.swap(outgoing);
            outgoingWaiting.store(false, std::memory_order_release);
        }
        for (const Outgoing& out : batch) {
            switch (out.kind) {
            case OUT_SEND:
                DoSend(out.connection, out.data.data(), out.data.size());
                break;
            case OUT_DISCONNECT:
                DoDisconnect(out.connection);
                break;
            case OUT_ESTABLISH:
                DoEstablish(out.connection);
                break;
            }
        }
        return !batch.empty();
    }

    // Main thread: does the work now when the host lock is free (after what was left before it),
    // otherwise leaves it for the receive thread. `now` runs under the lock.
    template <typename Now>
    bool Ask(OutgoingKind kind, uint32_t connection, const uint8_t* data, size_t size, Now now)
    {
        std::unique_lock<std::mutex> lock(hostLock, std::try_to_lock);
        if (lock.owns_lock()) {
            Drain();
            return now();
        }
        if (!open.load(std::memory_order_acquire) || live.count(connection) == 0)
            return false;
        {
            std::lock_guard<std::mutex> out(outLock);
            outgoing.push_back(Outgoing{kind, connection, std::vector<uint8_t>(data, data + size)});
            outgoingWaiting.store(true, std::memory_order_release);
        }
        // The receive thread may have let go meanwhile; otherwise it looks again before it waits.
        if (lock.try_lock()) {
            Drain();
            if (host)
                enet_host_flush(host);
        }
        return true;
    }

    // The socket whose receive thread this is: ENet's intercept hook carries no pointer of its own.
    static inline thread_local Impl* receiving = nullptr;

    static int ENET_CALLBACK Intercept(ENetHost* service, ENetEvent*)
    {
        Impl* impl = receiving;
        return impl && impl->host == service && impl->Screen() ? 1 : 0;
    }

    // Every datagram before ENet sees it; true drops it.
    bool Screen()
    {
        const uint8_t* data = host->receivedData;
        const size_t size = host->receivedDataLength;
        if (!data || size < offsetof(ENetProtocolHeader, sentTime))
            return false;
        uint16_t peerID = Read16(data);
        const uint16_t flags = peerID & ENET_PROTOCOL_HEADER_FLAG_MASK;
        peerID &= ~(ENET_PROTOCOL_HEADER_FLAG_MASK | ENET_PROTOCOL_HEADER_SESSION_MASK);
        if (flags & ENET_PROTOCOL_HEADER_FLAG_COMPRESSED)
            return false; // no compressor is set: ENet drops it
        size_t offset = (flags & ENET_PROTOCOL_HEADER_FLAG_SENT_TIME)
                            ? sizeof(ENetProtocolHeader)
                            : offsetof(ENetProtocolHeader, sentTime);
        if (host->checksum)
            offset += sizeof(enet_uint32);
        if (offset > size)
            return false;
        if (peerID == ENET_PROTOCOL_MAXIMUM_PEER_ID)
            return ScreenConnect(data + offset, size - offset);
        if (peerID >= host->peerCount)
            return false;
        return ScreenCommands(host->peers[peerID], data + offset, size - offset);
    }

    // Main thread.
    void Shut()
    {
        stop.store(true, std::memory_order_release);
        thread.Wait();
        std::lock_guard<std::mutex> lock(hostLock);
        if (host)
            enet_host_destroy(host);
        host = nullptr;
        socket = ENET_SOCKET_NULL;
        peers.clear();
        slots.clear();
        allowances.clear();
        notices.clear();
        guarded = false;
        port = 0;
        open.store(false, std::memory_order_release);
        boundPort.store(0, std::memory_order_relaxed);
        {
            std::lock_guard<std::mutex> out(outLock);
            outgoing.clear();
            outgoingWaiting.store(false, std::memory_order_release);
        }
        live.clear();
        queue.Clear();
        pending.clear();
        handedRecords = 0;
        takenRecords.store(0, std::memory_order_relaxed);
        doneRecords.store(0, std::memory_order_relaxed);
        connectedPeers.store(0, std::memory_order_relaxed);
    }

    // Main thread, with the host made and hostLock released.
    bool StartThread()
    {
        stop.store(false, std::memory_order_release);
        closing.store(false, std::memory_order_release);
        if (thread.Start())
            return true;
        LogPrintf(2, "Network: could not start the receive thread");
        Shut();
        return false;
    }
};

void Socket::ReceiveThread::Run()
{
    SetThreadName("Receive Thread");
    Impl& s = m_impl;
    Impl::receiving = &s;
    while (!s.stop.load(std::memory_order_acquire)) {
        s.HandPending();
        if (!s.pending.empty()) {
            // The main thread has not made room yet: leave the datagrams with the network.
            s.stalls.fetch_add(1, std::memory_order_relaxed);
            {
                std::lock_guard<std::mutex> lock(s.hostLock);
                if (s.Drain())
                    enet_host_flush(s.host);
                s.Sweep();
            }
            Platform::SleepMilliseconds(1);
            continue;
        }
        // What the main thread left while this thread held the lock goes out without a wait.
        if (!s.outgoingWaiting.load(std::memory_order_acquire)) {
            enet_uint32 condition = ENET_SOCKET_WAIT_RECEIVE;
            enet_socket_wait(s.socket, &condition, serviceIntervalMs);
        }

        std::lock_guard<std::mutex> lock(s.hostLock);
        s.Drain();
        ENetEvent event;
        int result = enet_host_service(s.host, &event, 0);
        while (result > 0) {
            s.HandleEvent(event);
            result = enet_host_check_events(s.host, &event);
        }
        if (result < 0)
            s.serviceErrors.fetch_add(1, std::memory_order_relaxed);
        s.Notify();
        s.Sweep();
        if (s.Drain())
            enet_host_flush(s.host);
    }
    Impl::receiving = nullptr;
}

Socket::Socket(size_t queueCapacity) : m_impl(new Impl(queueCapacity)) {}

Socket::~Socket()
{
    Close(0);
}

bool Socket::IsOpen() const
{
    return m_impl->open.load(std::memory_order_acquire);
}

int Socket::GetPort() const
{
    return m_impl->boundPort.load(std::memory_order_relaxed);
}

bool Socket::Listen(const char* address, int port, int maxConnections)
{
    Limits limits;
    limits.maxConnections = maxConnections;
    return Listen(address, port, limits);
}

bool Socket::Listen(const char* address, int port, const Limits& limits)
{
    const int maxConnections = limits.maxConnections;
    if (!InitializeENet() || port < 0 || port > 0xFFFF || maxConnections < 1 ||
        maxConnections > ENET_PROTOCOL_MAXIMUM_PEER_ID || limits.maxPending < 0 || limits.maxPerAddress < 0 ||
        limits.connectsPerSecond < 0)
        return false;
    {
        std::lock_guard<std::mutex> lock(m_impl->hostLock);
        if (m_impl->host)
            return false;
        ENetAddress bind;
        bind.host = ENET_HOST_ANY;
        bind.port = static_cast<enet_uint16>(port);
        if (address && *address && enet_address_set_host(&bind, address) != 0) {
            LogPrintf(2, "Network: cannot resolve the address '%s' to listen on", address);
            return false;
        }
        // ENet leaves the system's answer to its socket calls (a port taken, one not allowed) in errno.
        errno = 0;
        ENetHost* host = enet_host_create(&bind, static_cast<size_t>(maxConnections), 1, 0, 0);
        if (!host) {
            const int error = errno;
            LogPrintf(2, "Network: cannot listen on %s port %d: %s",
                      address && *address ? address : "any address", port,
                      error ? std::strerror(error) : "the network library gave no reason");
            return false;
        }
        host->maximumPacketSize = NetPacketHeader::maxPacketSize;
        if (limits.maxWaitingData > 0)
            host->maximumWaitingData = limits.maxWaitingData;
        if (limits.maxPerAddress > 0)
            host->duplicatePeers = static_cast<size_t>(limits.maxPerAddress);
        m_impl->guarded = limits.maxPending > 0 || limits.pendingTimeoutMs > 0 || limits.maxPerAddress > 0 ||
                          limits.maxWaitingData > 0 || limits.connectsPerSecond > 0;
        if (m_impl->guarded)
            host->intercept = Impl::Intercept;
        m_impl->limits = limits;
        Impl::GuardCounters& counters = m_impl->guardCounters;
        for (std::atomic<uint64_t>* counter :
             {&counters.timedOut, &counters.pushedOut, &counters.refusedAddress, &counters.refusedRate,
              &counters.refusedNoRoom, &counters.refusedFragments, &counters.refusedCommands})
            counter->store(0, std::memory_order_relaxed);
        m_impl->slots.assign(host->peerCount, Impl::Slot());
        m_impl->host = host;
        m_impl->socket = host->socket;
        m_impl->port = host->address.port;
        m_impl->boundPort.store(m_impl->port, std::memory_order_relaxed);
        m_impl->open.store(true, std::memory_order_release);
    }
    return m_impl->StartThread();
}

uint32_t Socket::Connect(const char* address, int port)
{
    if (!InitializeENet() || !address || !*address || port <= 0 || port > 0xFFFF)
        return 0;
    uint32_t id = 0;
    {
        std::lock_guard<std::mutex> lock(m_impl->hostLock);
        if (m_impl->host)
            return 0;
        ENetAddress server;
        if (enet_address_set_host(&server, address) != 0) {
            LogPrintf(2, "Network: cannot resolve the server address '%s'", address);
            return 0;
        }
        server.port = static_cast<enet_uint16>(port);
        // A server on the loopback address is reached from it: nothing is opened to other machines.
        ENetAddress local;
        local.host = ENET_HOST_ANY;
        local.port = 0;
        const uint8_t* octets = reinterpret_cast<const uint8_t*>(&server.host);
        if (octets[0] == 127)
            enet_address_set_host_ip(&local, "127.0.0.1");
        ENetHost* host = enet_host_create(&local, 1, 1, 0, 0);
        if (!host) {
            LogPrintf(2, "Network: cannot open a socket to reach %s:%d", address, port);
            return 0;
        }
        host->maximumPacketSize = NetPacketHeader::maxPacketSize;
        // What the server may have waiting here: the largest packet twice over.
        host->maximumWaitingData = 2 * NetPacketHeader::maxPacketSize;
        ENetPeer* peer = enet_host_connect(host, &server, 1, 0);
        if (!peer) {
            enet_host_destroy(host);
            LogPrintf(2, "Network: cannot start connecting to %s:%d", address, port);
            return 0;
        }
        id = m_impl->nextConnection++;
        peer->data = reinterpret_cast<void*>(static_cast<uintptr_t>(id));
        m_impl->peers[id] = Impl::Peer{peer, false};
        m_impl->ApplyTimeout(peer);
        m_impl->host = host;
        m_impl->socket = host->socket;
        m_impl->port = host->address.port;
        m_impl->boundPort.store(m_impl->port, std::memory_order_relaxed);
        m_impl->open.store(true, std::memory_order_release);
        enet_host_flush(host);
    }
    return m_impl->StartThread() ? id : 0;
}

bool Socket::Send(uint32_t connection, const uint8_t* data, size_t size)
{
    if (!data || size == 0 || size > NetPacketHeader::maxPacketSize)
        return false;
    Impl& s = *m_impl;
    return s.Ask(Impl::OUT_SEND, connection, data, size, [&] {
        if (!s.DoSend(connection, data, size))
            return false;
        enet_host_flush(s.host);
        return true;
    });
}

void Socket::Establish(uint32_t connection)
{
    Impl& s = *m_impl;
    s.Ask(Impl::OUT_ESTABLISH, connection, nullptr, 0, [&] {
        s.DoEstablish(connection);
        return true;
    });
}

void Socket::Disconnect(uint32_t connection)
{
    Impl& s = *m_impl;
    s.Ask(Impl::OUT_DISCONNECT, connection, nullptr, 0, [&] {
        s.DoDisconnect(connection);
        if (s.host)
            enet_host_flush(s.host);
        return true;
    });
}

bool Socket::Receive(Event& event)
{
    // The caller came back for more: it is done with everything it took before.
    m_impl->doneRecords.store(m_impl->takenRecords.load(std::memory_order_relaxed),
                              std::memory_order_release);
    uint8_t kind = 0;
    if (!m_impl->queue.Take(kind, event.connection, event.data))
        return false;
    event.kind = static_cast<EventKind>(kind);
    m_impl->takenRecords.fetch_add(1, std::memory_order_release);
    if (event.kind == EVENT_CONNECTED)
        m_impl->live.insert(event.connection);
    else if (event.kind == EVENT_DISCONNECTED)
        m_impl->live.erase(event.connection);
    return true;
}

void Socket::Close(unsigned lingerMs)
{
    Impl& s = *m_impl;
    {
        std::lock_guard<std::mutex> lock(s.hostLock);
        if (!s.host)
            return;
        // From now on the receive thread throws away what does not fit: nobody takes it.
        s.closing.store(true, std::memory_order_release);
        s.Drain();
        if (lingerMs)
            for (auto& [id, entry] : s.peers)
                enet_peer_disconnect(entry.peer, 0);
        enet_host_flush(s.host);
    }
    for (unsigned waited = 0;
         lingerMs && waited < lingerMs && s.connectedPeers.load(std::memory_order_relaxed) > 0; waited += 2)
        Platform::SleepMilliseconds(2);
    s.Shut();
}

void Socket::SetTimeout(unsigned milliseconds)
{
    std::lock_guard<std::mutex> lock(m_impl->hostLock);
    m_impl->timeoutMs.store(milliseconds, std::memory_order_relaxed);
    for (auto& [id, entry] : m_impl->peers)
        m_impl->ApplyTimeout(entry.peer);
}

std::string Socket::GetAddressText(uint32_t connection) const
{
    std::lock_guard<std::mutex> lock(m_impl->hostLock);
    auto it = m_impl->peers.find(connection);
    if (it == m_impl->peers.end())
        return std::string();
    return AddressText(it->second.peer->address);
}

unsigned Socket::GetRoundTripTime(uint32_t connection) const
{
    std::lock_guard<std::mutex> lock(m_impl->hostLock);
    auto it = m_impl->peers.find(connection);
    return it == m_impl->peers.end() ? 0u : it->second.peer->roundTripTime;
}

uint64_t Socket::GetQueueStalls() const
{
    return m_impl->stalls.load(std::memory_order_relaxed);
}

uint64_t Socket::GetDroppedTooLarge() const
{
    return m_impl->tooLarge.load(std::memory_order_relaxed);
}

uint64_t Socket::GetServiceErrors() const
{
    return m_impl->serviceErrors.load(std::memory_order_relaxed);
}

Socket::GuardStats Socket::GetGuardStats() const
{
    const Impl::GuardCounters& c = m_impl->guardCounters;
    GuardStats stats;
    stats.timedOut = c.timedOut.load(std::memory_order_relaxed);
    stats.pushedOut = c.pushedOut.load(std::memory_order_relaxed);
    stats.refusedAddress = c.refusedAddress.load(std::memory_order_relaxed);
    stats.refusedRate = c.refusedRate.load(std::memory_order_relaxed);
    stats.refusedNoRoom = c.refusedNoRoom.load(std::memory_order_relaxed);
    stats.refusedFragments = c.refusedFragments.load(std::memory_order_relaxed);
    stats.refusedCommands = c.refusedCommands.load(std::memory_order_relaxed);
    return stats;
}

size_t Socket::GetBufferedBytes() const
{
    std::lock_guard<std::mutex> lock(m_impl->hostLock);
    size_t total = 0;
    if (m_impl->host)
        for (size_t i = 0; i < m_impl->host->peerCount; ++i)
            total += m_impl->host->peers[i].totalWaitingData;
    return total;
}

} // namespace GAME
