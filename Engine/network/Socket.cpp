#include "network/Socket.h"

#include "core/Log.h"
#include "core/Thread.h"
#include "network/NetPacketHeader.h"
#include "network/NetworkQueue.h"
#include "platform/Threading.h"

#include <enet/enet.h>

#include <algorithm>
#include <atomic>
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
        bool connected = false; // counted in connectedPeers
    };
    std::map<uint32_t, Peer> peers;
    uint32_t nextConnection = 1;
    int port = 0;

    NetworkQueue queue;
    ReceiveThread thread;
    std::atomic<bool> stop{false};
    std::atomic<bool> closing{false};
    std::atomic<unsigned> timeoutMs{0};
    std::atomic<int> connectedPeers{0};
    std::atomic<uint64_t> stalls{0};
    std::atomic<uint64_t> tooLarge{0};
    std::atomic<uint64_t> serviceErrors{0};

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
    void Hand(uint8_t kind, uint32_t connection, const uint8_t* data, size_t size)
    {
        if (queue.IsTooLarge(size)) {
            tooLarge.fetch_add(1, std::memory_order_relaxed);
            return;
        }
        pending.push_back(Record{kind, connection, std::vector<uint8_t>(data, data + size)});
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
            if (id != 0)
                Hand(EVENT_RECEIVED, id, event.packet->data, event.packet->dataLength);
            enet_packet_destroy(event.packet);
            return;
        }
        case ENET_EVENT_TYPE_NONE:
            break;
        }
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
        port = 0;
        queue.Clear();
        pending.clear();
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
    while (!s.stop.load(std::memory_order_acquire)) {
        s.HandPending();
        if (!s.pending.empty()) {
            // The main thread has not made room yet: leave the datagrams with the network.
            s.stalls.fetch_add(1, std::memory_order_relaxed);
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
    }
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
    if (!InitializeENet() || port < 0 || port > 0xFFFF || maxConnections < 1 ||
        maxConnections > ENET_PROTOCOL_MAXIMUM_PEER_ID)
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
    uint8_t kind = 0;
    if (!m_impl->queue.Take(kind, event.connection, event.data))
        return false;
    event.kind = static_cast<EventKind>(kind);
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

} // namespace GAME
