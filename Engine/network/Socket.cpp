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
#include <cstddef>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>

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

    // The guard of a listening socket (receive thread, under hostLock; see the banner).
    bool guarded = false;
    Limits limits;
    GuardStats guardStats;
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
            Hand(EVENT_CONNECTED, id, nullptr, 0);
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
    // the peer a disconnect first (never while ENet is in the middle of receiving).
    void Drop(ENetPeer& peer, bool tell)
    {
        const uint32_t id = ConnectionOf(&peer);
        peer.data = nullptr;
        slots[static_cast<size_t>(&peer - host->peers)].occupied = false;
        if (id != 0) {
            Forget(id, true);
            Hand(EVENT_DISCONNECTED, id, nullptr, 0);
        }
        if (tell)
            enet_peer_disconnect_now(&peer, 0);
        else
            enet_peer_reset(&peer);
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

    // Drops the peers that stayed unestablished too long. Outside ENet's service.
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
            ++guardStats.timedOut;
            Drop(peer, true);
        }
    }

    // A connect command: refused (true) for an address with its share of peers, or when every
    // slot is established; otherwise room is made if the unestablished peers hold their share.
    // The peer pushed out is one of the address with the most unestablished peers (a flood from a
    // few addresses pushes out only its own), of those still in ENet's handshake before those that
    // finished it, the oldest first.
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
            if (!IsEstablished(peer))
                candidates.push_back(Candidate{&peer, IsTransportConnected(peer), now - slot.since, 0});
        }
        if (limits.maxPerAddress > 0 && sameAddress >= limits.maxPerAddress) {
            ++guardStats.refusedAddress;
            return true;
        }
        if (freeSlot && (limits.maxPending <= 0 || static_cast<int>(candidates.size()) < limits.maxPending))
            return false;
        Candidate* victim = nullptr;
        for (Candidate& candidate : candidates) {
            for (const Candidate& other : candidates)
                candidate.share += other.peer->address.host == candidate.peer->address.host ? 1 : 0;
            if (!victim || candidate.share > victim->share ||
                (candidate.share == victim->share &&
                 (victim->connected > candidate.connected ||
                  (victim->connected == candidate.connected && candidate.age > victim->age))))
                victim = &candidate;
        }
        if (!victim) {
            ++guardStats.refusedNoRoom;
            return true;
        }
        ++guardStats.pushedOut;
        Drop(*victim->peer, false);
        return false;
    }

    // The commands of a datagram to a peer: fragments are refused (true) from a peer that is not
    // established, and from anyone when they claim more fragments than bytes or a packet larger
    // than any the socket takes.
    bool ScreenCommands(const ENetPeer& peer, const uint8_t* data, size_t size)
    {
        int established = -1; // looked up once, when a fragment is found
        size_t offset = 0;
        while (offset + sizeof(ENetProtocolCommandHeader) <= size) {
            const uint8_t number = data[offset] & ENET_PROTOCOL_COMMAND_MASK;
            if (number >= ENET_PROTOCOL_COMMAND_COUNT)
                return false;
            const size_t commandSize = enet_protocol_command_size(number);
            if (commandSize == 0 || offset + commandSize > size)
                return false;
            const uint8_t* command = data + offset;
            size_t dataLength = 0;
            switch (number) {
            case ENET_PROTOCOL_COMMAND_SEND_RELIABLE:
                dataLength = Read16(command + offsetof(ENetProtocolSendReliable, dataLength));
                break;
            case ENET_PROTOCOL_COMMAND_SEND_UNRELIABLE:
                dataLength = Read16(command + offsetof(ENetProtocolSendUnreliable, dataLength));
                break;
            case ENET_PROTOCOL_COMMAND_SEND_UNSEQUENCED:
                dataLength = Read16(command + offsetof(ENetProtocolSendUnsequenced, dataLength));
                break;
            case ENET_PROTOCOL_COMMAND_SEND_FRAGMENT:
            case ENET_PROTOCOL_COMMAND_SEND_UNRELIABLE_FRAGMENT: {
                if (established < 0)
                    established = IsEstablished(peer) ? 1 : 0;
                const uint32_t count = Read32(command + offsetof(ENetProtocolSendFragment, fragmentCount));
                const uint32_t total = Read32(command + offsetof(ENetProtocolSendFragment, totalLength));
                if (!established || count > total || total > host->maximumPacketSize) {
                    ++guardStats.refusedFragments;
                    return true;
                }
                dataLength = Read16(command + offsetof(ENetProtocolSendFragment, dataLength));
                break;
            }
            default:
                break;
            }
            offset += commandSize + dataLength;
        }
        return false;
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
        guarded = false;
        port = 0;
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
                s.Sweep();
            }
            Platform::SleepMilliseconds(1);
            continue;
        }
        enet_uint32 condition = ENET_SOCKET_WAIT_RECEIVE;
        enet_socket_wait(s.socket, &condition, serviceIntervalMs);

        std::lock_guard<std::mutex> lock(s.hostLock);
        ENetEvent event;
        int result = enet_host_service(s.host, &event, 0);
        while (result > 0) {
            s.HandleEvent(event);
            result = enet_host_check_events(s.host, &event);
        }
        if (result < 0)
            s.serviceErrors.fetch_add(1, std::memory_order_relaxed);
        s.Sweep();
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
    std::lock_guard<std::mutex> lock(m_impl->hostLock);
    return m_impl->host != nullptr;
}

int Socket::GetPort() const
{
    std::lock_guard<std::mutex> lock(m_impl->hostLock);
    return m_impl->port;
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
        maxConnections > ENET_PROTOCOL_MAXIMUM_PEER_ID || limits.maxPending < 0 || limits.maxPerAddress < 0)
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
        ENetHost* host = enet_host_create(&bind, static_cast<size_t>(maxConnections), 1, 0, 0);
        if (!host) {
            LogPrintf(2, "Network: cannot listen on %s port %d",
                      address && *address ? address : "any address", port);
            return false;
        }
        host->maximumPacketSize = NetPacketHeader::maxPacketSize;
        if (limits.maxWaitingData > 0)
            host->maximumWaitingData = limits.maxWaitingData;
        if (limits.maxPerAddress > 0)
            host->duplicatePeers = static_cast<size_t>(limits.maxPerAddress);
        m_impl->guarded = limits.maxPending > 0 || limits.pendingTimeoutMs > 0 || limits.maxPerAddress > 0 ||
                          limits.maxWaitingData > 0;
        if (m_impl->guarded)
            host->intercept = Impl::Intercept;
        m_impl->limits = limits;
        m_impl->guardStats = GuardStats();
        m_impl->slots.assign(host->peerCount, Impl::Slot());
        m_impl->host = host;
        m_impl->socket = host->socket;
        m_impl->port = host->address.port;
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
        enet_host_flush(host);
    }
    return m_impl->StartThread() ? id : 0;
}

bool Socket::Send(uint32_t connection, const uint8_t* data, size_t size)
{
    if (!data || size == 0)
        return false;
    std::lock_guard<std::mutex> lock(m_impl->hostLock);
    auto it = m_impl->peers.find(connection);
    if (!m_impl->host || it == m_impl->peers.end() || it->second.peer->state != ENET_PEER_STATE_CONNECTED)
        return false;
    ENetPacket* packet = enet_packet_create(data, size, ENET_PACKET_FLAG_RELIABLE);
    if (!packet)
        return false;
    if (enet_peer_send(it->second.peer, 0, packet) != 0) {
        if (packet->referenceCount == 0)
            enet_packet_destroy(packet);
        return false;
    }
    enet_host_flush(m_impl->host);
    return true;
}

void Socket::Establish(uint32_t connection)
{
    std::lock_guard<std::mutex> lock(m_impl->hostLock);
    auto it = m_impl->peers.find(connection);
    if (it != m_impl->peers.end())
        it->second.established = true;
}

void Socket::Disconnect(uint32_t connection)
{
    std::lock_guard<std::mutex> lock(m_impl->hostLock);
    auto it = m_impl->peers.find(connection);
    if (!m_impl->host || it == m_impl->peers.end())
        return;
    enet_peer_disconnect_later(it->second.peer, 0);
    enet_host_flush(m_impl->host);
}

bool Socket::Receive(Event& event)
{
    // The caller came back for more: it is done with everything it took before.
    m_impl->doneRecords.store(m_impl->takenRecords.load(std::memory_order_relaxed), std::memory_order_release);
    uint8_t kind = 0;
    if (!m_impl->queue.Take(kind, event.connection, event.data))
        return false;
    event.kind = static_cast<EventKind>(kind);
    m_impl->takenRecords.fetch_add(1, std::memory_order_release);
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
    char ip[64] = {};
    const ENetAddress& address = it->second.peer->address;
    if (enet_address_get_host_ip(&address, ip, sizeof(ip)) != 0)
        std::strcpy(ip, "?");
    return std::string(ip) + ":" + std::to_string(address.port);
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
    std::lock_guard<std::mutex> lock(m_impl->hostLock);
    return m_impl->guardStats;
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
