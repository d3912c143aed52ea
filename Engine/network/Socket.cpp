#include "network/Socket.h"

#include "core/Log.h"
#include "core/Thread.h"
#include "core/Time.h"
#include "network/ConnectCookie.h"
#include "network/NetPacketHeader.h"
#include "network/NetworkQueue.h"
#include "network/RateBucket.h"
#include "network/SendFiler.h"
#include "platform/Clock.h"
#include "platform/Threading.h"

#include <enet/enet.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cinttypes>
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
// allowance are forgotten) one is forgotten for each new one, so a full table never turns a
// newcomer away (the one forgotten starts again with a full allowance).
constexpr size_t maxRememberedAddresses = 65536;

// The answer to a connect without a valid cookie: ENet's header with a connect's peer id and no
// flags, a byte that is no ENet command (so that any ENet host ignores the datagram), a mark, the
// connect id as it came and the cookie (network order). No larger than the connect it answers.
constexpr uint8_t cookieCommand = 0xFF;
constexpr uint8_t cookieMark = 'C';
constexpr size_t cookieReplySize = 12;
// The data of the disconnect Close sends each peer, so that the other side knows the socket
// closed (an older peer sends 0, as ENet does for a hang-up or a timeout).
constexpr enet_uint32 closingNotice = 0x434C4F53u; // "CLOS"

// How often one connection starts its connect again with a cookie it was given (a server whose
// cookie period turned over meanwhile asks again).
constexpr int maxCookieRestarts = 4;

// Marks, in the kind of a record the queue carries, a connection's first received datagram (see
// Impl::Peer::firstTaken).
constexpr uint8_t firstDatagramMark = 0x80;

// How long the receive thread waits for the socket when it has records that wait for room in the
// queue (the main thread may make room at any time).
constexpr enet_uint32 roomIntervalMs = 1;

// Entries of the connections with records waiting kept for reuse once let go.
constexpr size_t maxSpareEntries = 16;

// How often the receive thread tries the host lock before it sleeps on it (see LockHost).
constexpr int hostLockTries = 256;

// ENet's timeouts for a peer that said goodbye: more than ENet's difference of two of its times
// can ever reach, so that ENet never gives the peer up, whatever the session's timeout does
// meanwhile and however far ENet's clock (the machine's wall clock) moves against the socket's.
// The socket alone lets the peer go, on its own clock (FinishGoodbyes).
constexpr enet_uint32 leavingNeverMs = 0xFFFFFFFFu;

// The header of a datagram to the peer as ENet stamps it (no sent time); commands follow.
size_t WritePeerHeader(uint8_t* out, enet_uint16 outgoingPeerID, enet_uint8 outgoingSessionID)
{
    const enet_uint16 peerID = ENET_HOST_TO_NET_16(
        static_cast<enet_uint16>(outgoingPeerID | (static_cast<enet_uint16>(outgoingSessionID)
                                                   << ENET_PROTOCOL_HEADER_SESSION_SHIFT)));
    std::memcpy(out, &peerID, sizeof(peerID));
    return sizeof(peerID);
}

// The commands hold a disconnect.
bool HasDisconnect(const uint8_t* commands, size_t size)
{
    size_t offset = 0;
    while (const size_t length = SendFiler::CommandLength(commands + offset, size - offset)) {
        if ((commands[offset] & ENET_PROTOCOL_COMMAND_MASK) == ENET_PROTOCOL_COMMAND_DISCONNECT)
            return true;
        offset += length;
    }
    return false;
}

// Packets of the peer ENet has not had acknowledged, whole or in part.
size_t CountUnacknowledged(ENetPeer& peer)
{
    std::set<const ENetPacket*> packets;
    for (ENetList* list : {&peer.sentReliableCommands, &peer.outgoingCommands})
        for (ENetListIterator it = enet_list_begin(list); it != enet_list_end(list);
             it = enet_list_next(it)) {
            const ENetOutgoingCommand& command = *reinterpret_cast<const ENetOutgoingCommand*>(it);
            if (command.packet)
                packets.insert(command.packet);
        }
    return packets.size();
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
    explicit Impl(size_t queueCapacity)
        : queue(queueCapacity, std::max(queueCapacity / queueShareDivisor,
                                        NetworkQueue::Cost(NetPacketHeader::maxPacketSize))),
          thread(*this)
    {
    }

    // Guards the host, every ENet call on it and the id tables.
    mutable std::mutex hostLock;
    ENetHost* host = nullptr;
    ENetSocket socket = ENET_SOCKET_NULL; // copied out of the host before the thread starts
    struct Peer
    {
        ENetPeer* peer = nullptr;
        bool connected = false; // counted in connectedPeers
        bool asked = false;     // its first datagram after ENet's connect was handed over
        // The number Receive gave that datagram, once the main thread took it (0 before); the
        // receive thread hears of it at its next turn (AbsorbTaken).
        uint64_t firstTaken = 0;
        int cookieRestarts = 0; // an outgoing connection: connects started again with a cookie
    };
    std::map<uint32_t, Peer> peers;
    uint32_t nextConnection = 1;

    // The guard's clock (SetClock); null reads the machine's monotonic milliseconds.
    std::atomic<const MachineClock*> clock{nullptr};
    uint32_t Now() const
    {
        const MachineClock* given = clock.load(std::memory_order_acquire);
        return given ? given->GetMilliseconds() : Platform::MonotonicMilliseconds();
    }

    // The guard of a listening socket (receive thread, under hostLock; see the banner). Its
    // counters are atomics, so that the main thread reads them without the lock.
    bool guarded = false;
    Limits limits;
    struct GuardCounters
    {
        std::atomic<uint64_t> timedOut{0}, pushedOut{0}, refusedAddress{0}, refusedRate{0}, refusedNoRoom{0},
            cookiesSent{0}, lostAtGoodbye{0};
    } guardCounters;
    SendFiler::Counters screenCounters; // what the datagrams' screen turned away
    static void Count(std::atomic<uint64_t>& counter, uint64_t n = 1)
    {
        counter.fetch_add(n, std::memory_order_relaxed);
    }
    ConnectCookie cookie;
    // Per address: the connects it may still start now.
    std::unordered_map<enet_uint32, RateBucket> allowances;
    uint32_t allowancesPrunedAt = 0;
    // Peers pushed out during ENet's receive, told once it is done (Notify).
    struct Notice
    {
        ENetAddress address;
        enet_uint16 peerID;
        enet_uint8 sessionID;
    };
    std::vector<Notice> notices;
    // The main thread's handled records as the present service turn began (ServiceTurn).
    uint64_t turnDone = 0;
    // Why the last Listen, or the last Connect, failed (main thread).
    std::string listenError;
    std::string connectError;
    // Per ENet slot: when its present occupant (told apart by ENet's connect id) was first seen,
    // and whether it is established (the connection Establish named, which is never reused).
    struct Slot
    {
        bool occupied = false;
        enet_uint32 connectID = 0;
        uint32_t since = 0;
        uint32_t established = 0;
        // The occupant's sends that came ahead of the one ENet waits for (see SendFiler.h).
        SendFiler filer;
        // The occupant said goodbye while packets of it were still on their way to the main thread
        // (TakeGoodbye): since when, and what it said (disconnectClosed or 0).
        bool leaving = false;
        uint8_t said = 0;
        uint32_t leavingSince = 0;
        // An unestablished occupant sent a disconnect of its own: when ENet lets it go, it left
        // politely rather than timing out (see HandleEvent).
        bool saidGoodbye = false;
    };
    std::vector<Slot> slots;
    bool feedReady = false; // receive thread: see NoteReady
    size_t leavingCount = 0; // slots leaving, or more (FinishGoodbyes counts them again)
    // The slots ENet was made with; host->peerCount is what TrimPeers leaves it of them.
    size_t peerCapacity = 0;
    // Unestablished peers looked at by ScreenConnect (kept to spare an allocation per connect).
    struct Candidate
    {
        ENetPeer* peer;
        bool connected;
        uint32_t age;
        int share; // unestablished peers of its address
    };
    std::vector<Candidate> candidates;
    std::unordered_map<enet_uint32, int> shares; // candidates per address (kept likewise)

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
    // Main thread: the connections Receive reported connected and not yet disconnected, and the
    // address text of every connection it knows (an outgoing one from Connect on).
    std::set<uint32_t> live;
    std::map<uint32_t, std::string> addresses;
    // What the receive thread publishes after each service for the main thread, which never takes
    // the host lock to read it: the bytes ENet holds for the peers, and per ENet slot its
    // connection (high half) and round-trip time (low half).
    std::atomic<size_t> bufferedBytes{0};
    std::unique_ptr<std::atomic<uint64_t>[]> published;
    size_t publishedCount = 0;
    // Asked by the main thread while the receive thread held the host lock, done at its next turn.
    std::atomic<bool> timeoutChanged{false};
    std::atomic<bool> lingerAsked{false};
    // An outgoing connection given a cookie during ENet's receive (ScreenClient), started again
    // after it (Restart).
    uint32_t cookieConnection = 0;
    uint32_t cookieGiven = 0;
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
    // Packets the last Close with a linger could not have acknowledged (see CountUnsent).
    std::atomic<uint64_t> unsentAtClose{0};
    // Records taken by the main thread, numbered in the order Receive handed them out, and those
    // it is done with: every record it took before it came back to Receive. A record just taken is
    // still being acted on (a join request until the peer is established).
    std::atomic<uint64_t> takenRecords{0};
    std::atomic<uint64_t> doneRecords{0};
    bool handledExplicitly = false; // main thread: Handled was called
    // Main thread: the numbers it gave connections' first datagrams (the guard's
    // IsAwaitingMainThread), for the receive thread's next turn. takenLock is taken alone or inside
    // hostLock, never the other way round.
    std::mutex takenLock;
    std::vector<std::pair<uint32_t, uint64_t>> firstTaken;
    std::atomic<bool> firstTakenWaiting{false};
    // Main thread: sends that its own Drain found ENet could not take, reported by Receive.
    std::deque<uint32_t> lostHere;

    // Records taken from ENet and not yet in the queue, per connection, oldest first, with what
    // the connection's records in the queue counted when the receive thread last looked (it only
    // shrinks meanwhile), and the peer left with ENet while the connection's share is full
    // (Park). Receive thread only; a connection is listed while it has any of these.
    struct Record
    {
        uint8_t kind;
        std::vector<uint8_t> data;
    };
    struct Waiting
    {
        std::deque<Record> records;
        size_t bytes = 0; // of the records, as the queue counts them
        size_t queued = 0;
        ENetPeer* parked = nullptr;
    };
    std::map<uint32_t, Waiting> waiting;
    // Entries let go, kept for the next connections listed (a few): listing one for every datagram
    // of a link the main thread keeps up with then allocates nothing.
    std::vector<std::map<uint32_t, Waiting>::node_type> spareWaiting;
    size_t waitingBytes = 0; // of every connection's records
    int parkedCount = 0;
    uint32_t handTurn = 0; // the connection HandPending started with last

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

    // Receive thread, under hostLock: the record waits with its connection's others until the lock
    // is released (HandPending), so that the main thread, which may act on it at once, never finds
    // the host lock taken. A datagram received from `from` that fills its connection's share
    // leaves the peer's next ones with ENet (Park). False when no queue could ever hold it.
    bool Hand(uint8_t kind, uint32_t connection, const uint8_t* data, size_t size, ENetPeer* from = nullptr)
    {
        if (queue.IsTooLarge(size)) {
            tooLarge.fetch_add(1, std::memory_order_relaxed);
            return false;
        }
        Waiting& entry = FindOrReuse(waiting, spareWaiting, connection)->second;
        entry.records.push_back(Record{kind, std::vector<uint8_t>(data, data + size)});
        entry.bytes += NetworkQueue::Cost(size);
        waitingBytes += NetworkQueue::Cost(size);
        if (from && !entry.parked && entry.bytes + entry.queued >= queue.GetLinkShare())
            Park(entry, *from);
        return true;
    }

    // Receive thread, under hostLock: ENet dispatches the packets of the peers on its dispatch
    // list and lists a peer again whenever one is ready unless the peer is marked as listed. Taken
    // off the list, marked and linked to itself (so that taking it off again, as ENet does when it
    // resets the peer, changes nothing), the peer keeps its packets with ENet until Unpark.
    void Park(Waiting& entry, ENetPeer& peer)
    {
        if (peer.flags & ENET_PEER_FLAG_NEEDS_DISPATCH)
            enet_list_remove(&peer.dispatchList);
        peer.flags |= ENET_PEER_FLAG_NEEDS_DISPATCH;
        peer.dispatchList.next = peer.dispatchList.previous = &peer.dispatchList;
        entry.parked = &peer;
        ++parkedCount;
        stalls.fetch_add(1, std::memory_order_relaxed);
    }

    // Receive thread, under hostLock: the peer's packets are dispatched again, unless ENet let the
    // peer go meanwhile (a reset unmarks it and ends our connection on it).
    void Unpark(uint32_t connection, Waiting& entry)
    {
        ENetPeer& peer = *entry.parked;
        entry.parked = nullptr;
        --parkedCount;
        if (ConnectionOf(&peer) == connection && (peer.flags & ENET_PEER_FLAG_NEEDS_DISPATCH) &&
            peer.dispatchList.next == &peer.dispatchList)
            enet_list_insert(enet_list_end(&host->dispatchQueue), &peer.dispatchList);
    }

    // Receive thread, under hostLock, before the service: the parked connections that have room
    // in their share again, or whose peer is no longer connected (its disconnect must come).
    void UnparkRoomy()
    {
        if (parkedCount == 0)
            return;
        for (auto& [connection, entry] : waiting)
            if (entry.parked && (entry.bytes + entry.queued < queue.GetLinkShare() ||
                                 entry.parked->state != ENET_PEER_STATE_CONNECTED ||
                                 ConnectionOf(entry.parked) != connection))
                Unpark(connection, entry);
    }

    // Receive thread, without hostLock: hands over what waits, each connection's in order, while
    // it fits, starting after the connection that started last time (when the whole queue is
    // full, the connections take turns at the room made). Once closing, what does not fit is
    // thrown away: nobody takes it any more.
    void HandPending()
    {
        if (waiting.empty())
            return;
        const bool discard = closing.load(std::memory_order_acquire);
        auto hand = [&](uint32_t connection, Waiting& entry) {
            // What the connection's records in the queue count: as the last put says, else looked up.
            bool known = false;
            while (!entry.records.empty()) {
                Record& record = entry.records.front();
                const size_t cost = NetworkQueue::Cost(record.data.size());
                known = true;
                if (!queue.Put(record.kind, connection, record.data, &entry.queued) && !discard)
                    break;
                entry.bytes -= cost;
                waitingBytes -= cost;
                entry.records.pop_front();
            }
            if (!known && entry.queued != 0)
                entry.queued = queue.GetUsed(connection);
        };
        auto first = waiting.upper_bound(handTurn);
        if (first == waiting.end())
            first = waiting.begin();
        handTurn = first->first;
        for (auto it = first; it != waiting.end(); ++it)
            hand(it->first, it->second);
        for (auto it = waiting.begin(); it != first; ++it)
            hand(it->first, it->second);
        for (auto it = waiting.begin(); it != waiting.end();) {
            const Waiting& entry = it->second;
            if (!entry.records.empty() || entry.parked || entry.queued != 0) {
                ++it;
                continue;
            }
            auto node = waiting.extract(it++);
            if (spareWaiting.size() < maxSpareEntries) {
                node.mapped().bytes = 0;
                spareWaiting.push_back(std::move(node));
            }
        }
    }

    // Under hostLock: what the main thread took of the connections' first datagrams.
    void AbsorbTaken()
    {
        if (!firstTakenWaiting.load(std::memory_order_acquire))
            return;
        std::vector<std::pair<uint32_t, uint64_t>> batch;
        {
            std::lock_guard<std::mutex> lock(takenLock);
            batch.swap(firstTaken);
            firstTakenWaiting.store(false, std::memory_order_release);
        }
        for (const auto& [connection, record] : batch) {
            auto it = peers.find(connection);
            if (it != peers.end() && it->second.asked && it->second.firstTaken == 0)
                it->second.firstTaken = record;
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
            Slot* slot = SlotOf(*peer);
            // ENet's own timeout of a peer that never asked to join comes before the guard's
            // (ENet gives up on an unanswered ping within seconds): the address pays for the slot
            // it held as for one the guard times out. One that said goodbye pays nothing.
            if (guarded && id != 0 && slot && slot->occupied && slot->established != id && !slot->saidGoodbye)
                ChargeWastedSlot(*peer, Now());
            peer->data = nullptr;
            if (slot)
                slot->leaving = false;
            if (id == 0)
                return;
            Forget(id, true);
            // What the other side said as it let go: its socket closed (Close), or nothing.
            const uint8_t said = event.data == closingNotice ? disconnectClosed : 0;
            Hand(EVENT_DISCONNECTED, id, said ? &said : nullptr, said ? 1 : 0);
            return;
        }
        case ENET_EVENT_TYPE_RECEIVE: {
            const uint32_t id = ConnectionOf(peer);
            if (id != 0) {
                auto it = peers.find(id);
                const bool first = it != peers.end() && !it->second.asked;
                const uint8_t kind =
                    first ? uint8_t(EVENT_RECEIVED | firstDatagramMark) : uint8_t(EVENT_RECEIVED);
                if (Hand(kind, id, event.packet->data, event.packet->dataLength, peer) && first)
                    it->second.asked = true;
            }
            enet_packet_destroy(event.packet);
            return;
        }
        case ENET_EVENT_TYPE_NONE:
            break;
        }
    }

    // ---- The guard (receive thread, under hostLock) ---------------------------------------

    // A guarded socket's peer that Establish named (a look at its slot: the guard asks for every
    // slot at each turn and connect).
    bool IsEstablished(const ENetPeer& peer) const
    {
        const uint32_t id = ConnectionOf(&peer);
        const size_t index = static_cast<size_t>(&peer - host->peers);
        return id != 0 && index < slots.size() && slots[index].established == id;
    }

    // The slot's record, started anew when the slot has a new occupant.
    Slot& Track(size_t index, uint32_t now)
    {
        Slot& slot = slots[index];
        const ENetPeer& peer = host->peers[index];
        if (!slot.occupied || slot.connectID != peer.connectID) {
            slot = Slot();
            slot.occupied = true;
            slot.connectID = peer.connectID;
            slot.since = now;
        }
        return slot;
    }

    // The peer's slot is free and its connection forgotten; with `handOn` the main thread hears
    // of a connection it knew (with what the peer said as it left). ENet's peer is left as it is.
    void Release(ENetPeer& peer, Slot& slot, bool handOn, uint8_t said)
    {
        const uint32_t id = ConnectionOf(&peer);
        peer.data = nullptr;
        slot.occupied = false;
        slot.leaving = false;
        slot.filer.Clear();
        if (id == 0)
            return;
        Forget(id, true);
        if (handOn)
            Hand(EVENT_DISCONNECTED, id, said ? &said : nullptr, said ? 1 : 0);
    }

    // Frees the peer's slot at once; the main thread hears of a connection it knew. `tell` sends
    // the peer a disconnect first; during ENet's receive (where nothing may be sent) it is told
    // after the service call instead (Notify).
    void Drop(ENetPeer& peer, bool tell, bool receiving = false)
    {
        Release(peer, slots[static_cast<size_t>(&peer - host->peers)], true, 0);
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
            const size_t at = WritePeerHeader(datagram, notice.peerID, notice.sessionID);
            ENetProtocolDisconnect disconnect = {};
            disconnect.header.command =
                int(ENET_PROTOCOL_COMMAND_DISCONNECT) | int(ENET_PROTOCOL_COMMAND_FLAG_UNSEQUENCED);
            disconnect.header.channelID = 0xFF;
            std::memcpy(datagram + at, &disconnect, sizeof(disconnect));
            ENetBuffer buffer;
            buffer.data = datagram;
            buffer.dataLength = sizeof(datagram);
            enet_socket_send(host->socket, &notice.address, &buffer, 1);
        }
        notices.clear();
    }

    // ---- Goodbyes (receive thread, under hostLock) ----------------------------------------------
    //
    // ENet throws away all it holds of a peer when the peer's disconnect comes: the packets it
    // delivered that wait to be dispatched (a parked peer's) and, with the slot, what the filer
    // holds, all of them acknowledged. So a goodbye that finds any of that is taken out of its
    // datagram and acknowledged here: the peer is gone for good on its side, while here it stays
    // connected in ENet, leaving, until all of it reached the main thread's records (or the leaving
    // bound ran out), and only then is it let go and its disconnect handed on.

    Slot* SlotOf(const ENetPeer& peer)
    {
        const size_t index = static_cast<size_t>(&peer - host->peers);
        return index < slots.size() ? &slots[index] : nullptr;
    }
    bool IsLeaving(const ENetPeer& peer)
    {
        const Slot* slot = SlotOf(peer);
        return slot && slot->leaving;
    }

    // How long a peer that said goodbye may keep its slot while its packets wait for the main
    // thread: the session's timeout as it is now (raised or lowered after the goodbye too), or
    // ENet's longest.
    uint32_t LeavingBound() const
    {
        const unsigned ms = timeoutMs.load(std::memory_order_relaxed);
        return ms != 0 ? ms : static_cast<uint32_t>(ENET_PEER_TIMEOUT_MAXIMUM);
    }

    // Something of the peer that ENet would throw away at its goodbye.
    static bool HasPending(ENetPeer& peer, const Slot& slot)
    {
        return !slot.filer.IsEmpty() || !enet_list_empty(&peer.dispatchedCommands);
    }

    // Acknowledges the peer's disconnect command as ENet would, when it asks for that.
    void AcknowledgeGoodbye(const ENetPeer& peer, const uint8_t* command, bool hasSentTime,
                            enet_uint16 sentTime)
    {
        if ((command[0] & ENET_PROTOCOL_COMMAND_FLAG_ACKNOWLEDGE) == 0 || !hasSentTime)
            return;
        uint8_t datagram[sizeof(enet_uint16) + sizeof(ENetProtocolAcknowledge)] = {};
        const size_t at = WritePeerHeader(datagram, peer.outgoingPeerID, peer.outgoingSessionID);
        ENetProtocolAcknowledge acknowledge = {};
        acknowledge.header.command = ENET_PROTOCOL_COMMAND_ACKNOWLEDGE;
        acknowledge.header.channelID = command[offsetof(ENetProtocolCommandHeader, channelID)];
        // The command's number as it came, in network order.
        std::memcpy(&acknowledge.header.reliableSequenceNumber,
                    command + offsetof(ENetProtocolCommandHeader, reliableSequenceNumber),
                    sizeof(enet_uint16));
        acknowledge.receivedReliableSequenceNumber = acknowledge.header.reliableSequenceNumber;
        acknowledge.receivedSentTime = ENET_HOST_TO_NET_16(sentTime);
        std::memcpy(datagram + at, &acknowledge, sizeof(acknowledge));
        ENetBuffer buffer;
        buffer.data = datagram;
        buffer.dataLength = sizeof(datagram);
        enet_socket_send(host->socket, &peer.address, &buffer, 1);
    }

    // The datagram's disconnect commands, if any, are taken out and acknowledged, and the peer is
    // leaving from now on; true when there was one. ENet never sees them, so it keeps the peer.
    bool TakeGoodbye(ENetPeer& peer, Slot& slot, uint8_t* commands, size_t& size, bool hasSentTime,
                     enet_uint16 sentTime)
    {
        bool taken = false;
        size_t offset = 0;
        while (const size_t length = SendFiler::CommandLength(commands + offset, size - offset)) {
            const uint8_t* command = commands + offset;
            if ((command[0] & ENET_PROTOCOL_COMMAND_MASK) != ENET_PROTOCOL_COMMAND_DISCONNECT) {
                offset += length;
                continue;
            }
            if (!taken) {
                const uint32_t said = SendFiler::Read32(command + offsetof(ENetProtocolDisconnect, data));
                slot.leaving = true;
                slot.said = said == closingNotice ? disconnectClosed : 0;
                slot.leavingSince = Now();
                ++leavingCount;
                // ENet would time the silent peer out and throw away what it holds, uncounted: the
                // socket lets it go itself (ApplyAsked leaves these timeouts alone).
                enet_peer_timeout(&peer, 0, leavingNeverMs, leavingNeverMs);
            }
            taken = true;
            AcknowledgeGoodbye(peer, command, hasSentTime, sentTime);
            std::memmove(commands + offset, commands + offset + length, size - offset - length);
            size -= length;
        }
        return taken;
    }

    // A leaving peer's datagram, dropped whole: a resend of its goodbye (the acknowledgement was
    // lost) is acknowledged again.
    void AcknowledgeGoodbyeAgain(const ENetPeer& peer, const uint8_t* commands, size_t size, bool hasSentTime,
                                 enet_uint16 sentTime)
    {
        size_t offset = 0;
        while (const size_t length = SendFiler::CommandLength(commands + offset, size - offset)) {
            if ((commands[offset] & ENET_PROTOCOL_COMMAND_MASK) == ENET_PROTOCOL_COMMAND_DISCONNECT)
                AcknowledgeGoodbye(peer, commands + offset, hasSentTime, sentTime);
            offset += length;
        }
    }

    // The peer is gone: its disconnect follows its last record, and its slot is free. Without
    // `tell` (the socket closes, and the main thread may be the caller) no record is made.
    void LetGo(ENetPeer& peer, Slot& slot, bool tell = true)
    {
        Release(peer, slot, tell, slot.said);
        enet_peer_reset(&peer);
    }

    // After the service: leaving peers whose packets all reached the records are let go, and so
    // are those past the leaving bound, what they still had counted and logged. This is the only
    // way a leaving peer ends while the socket is open (ENet's timeouts are off for it).
    void FinishGoodbyes()
    {
        if (leavingCount == 0)
            return;
        const uint32_t now = Now();
        size_t still = 0;
        for (size_t i = 0; i < host->peerCount && i < slots.size(); ++i) {
            Slot& slot = slots[i];
            if (!slot.leaving)
                continue;
            ENetPeer& peer = host->peers[i];
            if (HasPending(peer, slot) && now - slot.leavingSince <= LeavingBound()) {
                ++still;
                continue;
            }
            const size_t lost = slot.filer.GetHeldCount() + enet_list_size(&peer.dispatchedCommands);
            if (lost > 0) {
                Count(guardCounters.lostAtGoodbye, lost);
                LogPrintf(1,
                          "Network: %s said goodbye and %zu of its packets, acknowledged, were not handed on "
                          "within %u ms; dropped",
                          AddressText(peer.address).c_str(), lost, static_cast<unsigned>(LeavingBound()));
            }
            LetGo(peer, slot);
        }
        leavingCount = still;
    }

    // The peer's first datagram (its join request) was handed over and the main thread has not
    // taken it, or is not done with it yet: a server busy with a long frame does not turn away
    // those who asked in time, nor one whose request it is answering at this moment.
    bool IsAwaitingMainThread(const ENetPeer& peer, uint64_t done) const
    {
        auto it = peers.find(ConnectionOf(&peer));
        return it != peers.end() && it->second.asked &&
               (it->second.firstTaken == 0 || it->second.firstTaken > done);
    }

    // The peer sent something after ENet's connect (its join request, for an engine client).
    bool HasAsked(const ENetPeer& peer) const
    {
        auto it = peers.find(ConnectionOf(&peer));
        return it != peers.end() && it->second.asked;
    }

    // The peer held a slot and never asked to join: its address pays for it (see TakeConnect).
    void ChargeWastedSlot(const ENetPeer& peer, uint32_t now)
    {
        if (limits.connectsPerSecond <= 0 || HasAsked(peer))
            return;
        Allowance(peer.address.host, now).Charge(Rate(), Burst(), now, wastedSlotConnects, -Burst() * wastedSlotConnects);
    }

    // Under hostLock, outside ENet's service: ENet walks every slot it has in each service and
    // flush (the server's main thread pays one walk for each send), most of them free when a
    // thousand are kept for peers joining. The free slots past the last one in use are left out
    // of ENet's count (and of the guard's walks) until a connect needs one (ScreenConnect gives
    // ENet the next): ENet takes a connect into the first free slot it finds in its count and
    // refuses datagrams to slots past it, so nothing changes for any peer in use. Only a guarded
    // socket, whose screen sees every connect first, does this.
    void TrimPeers()
    {
        if (!guarded)
            return;
        while (host->peerCount > 1 && host->peers[host->peerCount - 1].state == ENET_PEER_STATE_DISCONNECTED) {
            const size_t index = --host->peerCount;
            slots[index] = Slot();
            if (index < publishedCount)
                published[index].store(0, std::memory_order_relaxed);
        }
    }

    // Receive thread, under hostLock, before the service: what the peers' filers hold that ENet
    // can take now (it refuses packets while a peer's waiting data is at its cap).
    void FeedHeld()
    {
        if (!guarded)
            return;
        for (size_t i = 0; i < host->peerCount; ++i)
            if (!slots[i].filer.IsEmpty())
                slots[i].filer.Feed(host->peers[i]);
    }

    // Receive thread, under hostLock, after the service: some peer's filer has more that ENet
    // would take now (the next turn comes without waiting for the socket).
    void NoteReady()
    {
        feedReady = false;
        if (!guarded)
            return;
        for (size_t i = 0; i < host->peerCount && !feedReady; ++i)
            feedReady = !slots[i].filer.IsEmpty() && slots[i].filer.IsReady(host->peers[i]);
    }

    // Drops the peers that stayed unestablished too long, and forgets the allowances of
    // addresses that have refilled. Outside ENet's service.
    void Sweep()
    {
        if (!guarded || !host)
            return;
        const uint32_t now = Now();
        // What the main thread is done with, then what it asked meanwhile: it asks (Establish)
        // before it says it is done, so a join it answered is established by then.
        const uint64_t done = doneRecords.load(std::memory_order_acquire);
        if (Drain())
            enet_host_flush(host);
        for (size_t i = 0; i < host->peerCount; ++i) {
            ENetPeer& peer = host->peers[i];
            if (peer.state == ENET_PEER_STATE_DISCONNECTED) {
                slots[i].occupied = false;
                if (!slots[i].filer.IsEmpty())
                    slots[i].filer.Clear();
                continue;
            }
            const Slot& slot = Track(i, now);
            if (limits.pendingTimeoutMs == 0 || now - slot.since <= limits.pendingTimeoutMs ||
                IsEstablished(peer) || IsAwaitingMainThread(peer, done))
                continue;
            Count(guardCounters.timedOut);
            ChargeWastedSlot(peer, now);
            Drop(peer, true);
        }
        if (now - allowancesPrunedAt >= 1000) {
            allowancesPrunedAt = now;
            for (auto it = allowances.begin(); it != allowances.end();)
                it = it->second.IsFull(Rate(), Burst(), now) ? allowances.erase(it) : std::next(it);
        }
    }

    double Burst() const { return static_cast<double>(std::max(limits.maxPerAddress, 1)); }
    double Rate() const { return static_cast<double>(limits.connectsPerSecond); }

    // The address's allowance, a full one for an address not remembered. A full table forgets
    // one address (whichever the table holds first) rather than turn the newcomer away.
    RateBucket& Allowance(enet_uint32 address, uint32_t now)
    {
        auto it = allowances.find(address);
        if (it != allowances.end())
            return it->second;
        if (allowances.size() >= maxRememberedAddresses)
            allowances.erase(allowances.begin());
        return allowances.emplace(address, RateBucket(Burst(), now)).first->second;
    }

    // One connect from the address, if its allowance has one left.
    bool TakeConnect(enet_uint32 address, uint32_t now)
    {
        return limits.connectsPerSecond <= 0 || Allowance(address, now).Take(Rate(), Burst(), now);
    }

    // A peer still in ENet's handshake long after a real one would have finished it: its
    // connect most likely came from an address that never answers.
    static bool IsStale(const Candidate& candidate)
    {
        return !candidate.connected && candidate.age > staleHandshakeMs;
    }

    // Sends the source its cookie (no larger than the connect that asked, so nobody can use the
    // server to flood an address it does not hold).
    void SendCookie(const ENetAddress& to, enet_uint32 connectID, uint32_t now)
    {
        uint8_t reply[cookieReplySize];
        const enet_uint16 peerID = ENET_HOST_TO_NET_16(static_cast<enet_uint16>(ENET_PROTOCOL_MAXIMUM_PEER_ID));
        const enet_uint32 value = ENET_HOST_TO_NET_32(cookie.Make(to.host, to.port, now));
        std::memcpy(reply, &peerID, 2);
        reply[2] = cookieCommand;
        reply[3] = cookieMark;
        std::memcpy(reply + 4, &connectID, 4);
        std::memcpy(reply + 8, &value, 4);
        ENetBuffer buffer;
        buffer.data = reply;
        buffer.dataLength = sizeof(reply);
        enet_socket_send(host->socket, &to, &buffer, 1);
        Count(guardCounters.cookiesSent);
    }

    // A connect command: answered with the source's cookie and refused (true) unless it carries
    // it; refused for an address with its share of peers or past its connect rate, or when every
    // slot is established or awaited; otherwise room is made if the unestablished peers hold their
    // share (see the banner for which one goes).
    bool ScreenConnect(const uint8_t* command, size_t size)
    {
        ENetProtocolConnect connect;
        if (size < sizeof(connect))
            return false; // ENet ignores it
        std::memcpy(&connect, command, sizeof(connect));
        if ((connect.header.command & ENET_PROTOCOL_COMMAND_MASK) != ENET_PROTOCOL_COMMAND_CONNECT)
            return false;
        const ENetAddress& from = host->receivedAddress;
        const uint32_t now = Now();
        // Before anything is looked up or remembered: a forged source gets no further.
        if (!cookie.Check(ENET_NET_TO_HOST_32(connect.data), from.host, from.port, now)) {
            SendCookie(from, connect.connectID, now);
            return true;
        }
        // Nor, before the walk over every slot, an address with no connect left (a resend of a
        // connect ENet took already is dropped here instead of by ENet).
        if (limits.connectsPerSecond > 0 && Allowance(from.host, now).Refill(Rate(), Burst(), now) < 1.0) {
            Count(guardCounters.refusedRate);
            return true;
        }
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
            if (now - slot.since >= youngPeerMs)
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
        if ((freeSlot || host->peerCount < peerCapacity) && (limits.maxPending <= 0 || pending < limits.maxPending)) {
            if (!freeSlot)
                ++host->peerCount; // the first slot past ENet's walk, free (see TrimPeers)
            return false;
        }
        // Never one whose join request waits for the main thread (looked up only now, when a
        // peer must go).
        std::erase_if(candidates, [this](const Candidate& c) { return IsAwaitingMainThread(*c.peer, turnDone); });
        shares.clear();
        for (const Candidate& candidate : candidates)
            ++shares[candidate.peer->address.host];
        Candidate* victim = nullptr;
        for (Candidate& candidate : candidates) {
            candidate.share = shares[candidate.peer->address.host];
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

    // ---- What the main thread asks (under hostLock) ------------------------------------------

    bool DoSend(uint32_t connection, const uint8_t* data, size_t size)
    {
        auto it = peers.find(connection);
        // A peer that said goodbye takes nothing more (it is going).
        if (!host || it == peers.end() || it->second.peer->state != ENET_PEER_STATE_CONNECTED ||
            IsLeaving(*it->second.peer))
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
        // A leaving peer goes once its packets are handed on anyway.
        if (host && it != peers.end() && !IsLeaving(*it->second.peer))
            enet_peer_disconnect_later(it->second.peer, 0);
    }

    void DoEstablish(uint32_t connection)
    {
        auto it = peers.find(connection);
        if (!guarded || !host || it == peers.end())
            return;
        const size_t index = static_cast<size_t>(it->second.peer - host->peers);
        if (index < slots.size())
            Track(index, Now()).established = connection;
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
                if (!DoSend(out.connection, out.data.data(), out.data.size()))
                    Lose(out.connection);
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

    // Under hostLock: a send Send accepted that ENet could not take. The receive thread hands the
    // main thread word of it like any event; the main thread, draining, keeps it for Receive.
    void Lose(uint32_t connection)
    {
        // Nobody takes the word once the socket closes: the close counts it.
        if (closing.load(std::memory_order_acquire))
            unsentAtClose.fetch_add(1, std::memory_order_relaxed);
        if (receiving == this)
            Hand(EVENT_SEND_LOST, connection, nullptr, 0);
        else
            lostHere.push_back(connection);
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
        uint8_t* data = host->receivedData;
        const size_t size = host->receivedDataLength;
        if (!data || size < offsetof(ENetProtocolHeader, sentTime))
            return false;
        if (!guarded && ScreenClient(data, size))
            return true;
        uint16_t peerID = SendFiler::Read16(data);
        const uint16_t flags = peerID & ENET_PROTOCOL_HEADER_FLAG_MASK;
        const unsigned sessionID = (peerID & ENET_PROTOCOL_HEADER_SESSION_MASK) >> ENET_PROTOCOL_HEADER_SESSION_SHIFT;
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
            return guarded && ScreenConnect(data + offset, size - offset);
        if (peerID >= host->peerCount)
            return false;
        ENetPeer& peer = host->peers[peerID];
        // ENet drops what does not come from the peer's own address, or from an earlier session
        // of it: nobody else may have sends filed for the peer, nor say its goodbye.
        if (peer.state == ENET_PEER_STATE_DISCONNECTED || peer.state == ENET_PEER_STATE_ZOMBIE ||
            peer.address.host != host->receivedAddress.host || peer.address.port != host->receivedAddress.port ||
            (peer.outgoingPeerID < ENET_PROTOCOL_MAXIMUM_PEER_ID && sessionID != peer.incomingSessionID))
            return false;
        size_t commands = size - offset;
        const bool hasSentTime = (flags & ENET_PROTOCOL_HEADER_FLAG_SENT_TIME) != 0;
        const enet_uint16 sentTime = hasSentTime ? SendFiler::Read16(data + offsetof(ENetProtocolHeader, sentTime)) : 0;
        const size_t index = static_cast<size_t>(&peer - host->peers);
        if (index >= slots.size())
            return false;
        Slot& slot = guarded ? Track(index, Now()) : slots[index];
        if (slot.leaving) {
            AcknowledgeGoodbyeAgain(peer, data + offset, commands, hasSentTime, sentTime);
            return true;
        }
        const bool established = !guarded || IsEstablished(peer);
        if (guarded && slot.filer.Screen(peer, established, data + offset, commands, hasSentTime, sentTime,
                                         screenCounters))
            return true;
        if (!established && !slot.saidGoodbye)
            slot.saidGoodbye = HasDisconnect(data + offset, commands);
        // Looked for only while ENet holds something of the peer it would throw away with it (the
        // filer's sends of this datagram are with ENet by now).
        if (established && peer.state == ENET_PEER_STATE_CONNECTED && HasPending(peer, slot) &&
            TakeGoodbye(peer, slot, data + offset, commands, hasSentTime, sentTime) && commands == 0)
            return true;
        host->receivedDataLength = offset + commands;
        return false;
    }

    // An outgoing connection's socket: a server's cookie for a connect of ours (from the address
    // we connect to, echoing the connect's id) is kept for Restart and goes no further.
    bool ScreenClient(const uint8_t* data, size_t size)
    {
        if (size != cookieReplySize || SendFiler::Read16(data) != ENET_PROTOCOL_MAXIMUM_PEER_ID || data[2] != cookieCommand ||
            data[3] != cookieMark)
            return false;
        const ENetAddress& from = host->receivedAddress;
        for (size_t i = 0; i < host->peerCount; ++i) {
            const ENetPeer& peer = host->peers[i];
            if (peer.state != ENET_PEER_STATE_CONNECTING || peer.address.host != from.host ||
                peer.address.port != from.port || std::memcmp(&peer.connectID, data + 4, 4) != 0)
                continue;
            cookieConnection = ConnectionOf(&peer);
            cookieGiven = SendFiler::Read32(data + 8);
        }
        return true;
    }

    // Receive thread, under hostLock, after the service call: an outgoing connection that was
    // given a cookie connects again, carrying it (the same connection to the main thread).
    void Restart()
    {
        const uint32_t id = cookieConnection;
        cookieConnection = 0;
        auto it = peers.find(id);
        if (id == 0 || it == peers.end() || it->second.peer->state != ENET_PEER_STATE_CONNECTING ||
            it->second.cookieRestarts >= maxCookieRestarts || cookieGiven == 0)
            return;
        const ENetAddress server = it->second.peer->address;
        enet_peer_reset(it->second.peer);
        ENetPeer* peer = enet_host_connect(host, &server, 1, cookieGiven);
        if (!peer)
            return; // the connection is heard of no more: the caller's join times out
        peer->data = reinterpret_cast<void*>(static_cast<uintptr_t>(id));
        it->second.peer = peer;
        ++it->second.cookieRestarts;
        ApplyTimeout(peer);
        enet_host_flush(host);
    }

    void ServiceTurn();
    // Receive thread: the host lock, tried a while before sleeping on it. The main thread holds it
    // only for a send or two (it never waits for it): sleeping would cost its release a wake-up.
    std::unique_lock<std::mutex> LockHost()
    {
        for (int i = 0; i < hostLockTries; ++i)
            if (hostLock.try_lock())
                return std::unique_lock<std::mutex>(hostLock, std::adopt_lock);
        return std::unique_lock<std::mutex>(hostLock);
    }
    // An unthreaded socket (ListenUnthreaded): serviced by its owner's Service calls.
    bool unthreaded = false;

    // Main thread. `countUnsent`: what the peers were not delivered is counted and logged first.
    void Shut(bool countUnsent = false)
    {
        stop.store(true, std::memory_order_release);
        if (!unthreaded)
            thread.Wait();
        unthreaded = false;
        std::lock_guard<std::mutex> lock(hostLock);
        if (host && countUnsent)
            CountUnsent();
        if (host) {
            host->peerCount = peerCapacity;
            enet_host_destroy(host);
        }
        host = nullptr;
        peerCapacity = 0;
        socket = ENET_SOCKET_NULL;
        peers.clear();
        slots.clear();
        feedReady = false;
        leavingCount = 0;
        allowances.clear();
        notices.clear();
        guarded = false;
        open.store(false, std::memory_order_release);
        boundPort.store(0, std::memory_order_relaxed);
        {
            std::lock_guard<std::mutex> out(outLock);
            outgoing.clear();
            outgoingWaiting.store(false, std::memory_order_release);
        }
        live.clear();
        addresses.clear();
        bufferedBytes.store(0, std::memory_order_relaxed);
        for (size_t i = 0; i < publishedCount; ++i)
            published[i].store(0, std::memory_order_relaxed);
        cookieConnection = 0;
        timeoutChanged.store(false, std::memory_order_relaxed);
        lingerAsked.store(false, std::memory_order_relaxed);
        queue.Clear();
        waiting.clear();
        spareWaiting.clear();
        waitingBytes = 0;
        parkedCount = 0;
        handTurn = 0;
        {
            std::lock_guard<std::mutex> taken(takenLock);
            firstTaken.clear();
            firstTakenWaiting.store(false, std::memory_order_relaxed);
        }
        lostHere.clear();
        takenRecords.store(0, std::memory_order_relaxed);
        doneRecords.store(0, std::memory_order_relaxed);
        turnDone = 0;
        handledExplicitly = false;
        connectedPeers.store(0, std::memory_order_relaxed);
    }

    // Receive thread, under hostLock: what the main thread reads without the lock.
    void Publish()
    {
        size_t total = 0;
        for (size_t i = 0; i < host->peerCount; ++i) {
            const ENetPeer& peer = host->peers[i];
            total += peer.totalWaitingData + (i < slots.size() ? slots[i].filer.GetHeldBytes() : 0);
            const uint64_t id = ConnectionOf(&peer);
            if (i < publishedCount)
                published[i].store(id == 0 ? 0 : (id << 32) | peer.roundTripTime, std::memory_order_relaxed);
        }
        bufferedBytes.store(total, std::memory_order_relaxed);
    }

    // Under hostLock: the timeout for every peer but a leaving one (ENet's are off for it: its
    // bound is the socket's, see FinishGoodbyes), and (Close) a disconnect to each once what was
    // sent to it is delivered, after what the main thread left.
    void ApplyAsked()
    {
        if (timeoutChanged.exchange(false, std::memory_order_acq_rel))
            for (auto& [id, entry] : peers)
                if (!IsLeaving(*entry.peer))
                    ApplyTimeout(entry.peer);
        if (lingerAsked.exchange(false, std::memory_order_acq_rel) && host) {
            Drain();
            std::vector<ENetPeer*> gone; // leaving: nobody takes their packets any more
            for (auto& [id, entry] : peers) {
                if (IsLeaving(*entry.peer))
                    gone.push_back(entry.peer);
                else
                    enet_peer_disconnect_later(entry.peer, closingNotice);
            }
            for (ENetPeer* peer : gone)
                LetGo(*peer, *SlotOf(*peer), false);
            enet_host_flush(host);
        }
    }

    // Under hostLock, once the socket stopped: one line for each peer that ENet had not
    // acknowledged all it was sent (counted), and for the sends left that ENet could not take.
    void CountUnsent()
    {
        const uint64_t lost = unsentAtClose.load(std::memory_order_relaxed);
        if (lost > 0)
            LogPrintf(1,
                      "Network: %" PRIu64
                      " sends could not be made before the socket closed (their connections were going)",
                      lost);
        for (size_t i = 0; i < host->peerCount; ++i) {
            ENetPeer& peer = host->peers[i];
            if (peer.state == ENET_PEER_STATE_DISCONNECTED)
                continue;
            const size_t unsent = CountUnacknowledged(peer);
            if (unsent == 0)
                continue;
            unsentAtClose.fetch_add(unsent, std::memory_order_relaxed);
            LogPrintf(1, "Network: %zu packets to %s were not delivered before the socket closed", unsent,
                      AddressText(peer.address).c_str());
        }
    }

    // Main thread, with the host made and before the thread starts.
    void PreparePublished()
    {
        publishedCount = host->peerCount;
        published.reset(new std::atomic<uint64_t>[publishedCount]);
        for (size_t i = 0; i < publishedCount; ++i)
            published[i].store(0, std::memory_order_relaxed);
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

// One service of ENet under the host lock and what follows it (the receive thread's turn).
void Socket::Impl::ServiceTurn()
{
    std::unique_lock<std::mutex> lock = LockHost();
    // What the main thread is done with, then what it asked meanwhile (as Sweep does): a join it
    // answered before saying so is established by the time a connect looks for a peer to push out.
    turnDone = doneRecords.load(std::memory_order_acquire);
    AbsorbTaken();
    Drain();
    ApplyAsked();
    UnparkRoomy();
    FeedHeld();
    // What ENet has to dispatch goes first: its service returns the first such packet before it
    // reads the socket, so a turn that fed a batch would read no datagram, and a long run would
    // keep every other peer's waiting until it was all handed on. With nothing left to dispatch
    // the service reads the socket.
    ENetEvent event;
    auto handleAll = [&](int result) {
        while (result > 0) {
            HandleEvent(event);
            result = enet_host_check_events(host, &event);
        }
        return result;
    };
    int result = handleAll(enet_host_check_events(host, &event));
    if (result == 0)
        result = handleAll(enet_host_service(host, &event, 0));
    if (result < 0)
        serviceErrors.fetch_add(1, std::memory_order_relaxed);
    Notify();
    if (cookieConnection != 0)
        Restart();
    FinishGoodbyes();
    Sweep();
    TrimPeers();
    NoteReady();
    if (Drain())
        enet_host_flush(host);
    Publish();
}

void Socket::ReceiveThread::Run()
{
    SetThreadName("Receive Thread");
    Impl& s = m_impl;
    Impl::receiving = &s;
    while (!s.stop.load(std::memory_order_acquire)) {
        s.HandPending();
        if (s.waitingBytes >= s.queue.GetCapacity()) {
            // What waits for room outgrew the queue: leave every datagram with the network until
            // the main thread has made room.
            s.stalls.fetch_add(1, std::memory_order_relaxed);
            {
                std::unique_lock<std::mutex> lock = s.LockHost();
                s.AbsorbTaken();
                if (s.Drain())
                    enet_host_flush(s.host);
                s.ApplyAsked();
                s.Sweep();
                s.Publish();
            }
            Platform::SleepMilliseconds(1);
            continue;
        }
        // What the main thread left while this thread held the lock goes out without a wait.
        if (!s.outgoingWaiting.load(std::memory_order_acquire) && !s.feedReady) {
            enet_uint32 condition = ENET_SOCKET_WAIT_RECEIVE;
            enet_socket_wait(s.socket, &condition,
                             s.waitingBytes > 0 || s.parkedCount > 0 ? roomIntervalMs : serviceIntervalMs);
        }
        s.ServiceTurn();
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

bool Socket::ListenUnthreaded(const char* address, int port, const Limits& limits)
{
    if (!ListenHost(address, port, limits))
        return false;
    m_impl->unthreaded = true;
    return true;
}

void Socket::Service()
{
    Impl& s = *m_impl;
    if (!s.unthreaded || !s.open.load(std::memory_order_acquire))
        return;
    Impl* const was = Impl::receiving;
    Impl::receiving = &s;
    s.HandPending();
    s.ServiceTurn();
    s.HandPending();
    Impl::receiving = was;
}

bool Socket::Listen(const char* address, int port, const Limits& limits)
{
    if (!ListenHost(address, port, limits))
        return false;
    if (m_impl->StartThread())
        return true;
    m_impl->listenError = "the receive thread did not start";
    return false;
}

const std::string& Socket::GetListenError() const
{
    return m_impl->listenError;
}

const std::string& Socket::GetConnectError() const
{
    return m_impl->connectError;
}

bool Socket::ListenHost(const char* address, int port, const Limits& limits)
{
    std::string& why = m_impl->listenError;
    why.clear();
    const int maxConnections = limits.maxConnections;
    if (!InitializeENet()) {
        why = "the network library did not start";
        return false;
    }
    if (port < 0 || port > 0xFFFF || maxConnections < 1 || maxConnections > ENET_PROTOCOL_MAXIMUM_PEER_ID ||
        limits.maxPending < 0 || limits.maxPerAddress < 0 || limits.connectsPerSecond < 0) {
        why = "the port or the limits are out of range";
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(m_impl->hostLock);
        if (m_impl->host) {
            why = "the socket is open already";
            return false;
        }
        ENetAddress bind;
        bind.host = ENET_HOST_ANY;
        bind.port = static_cast<enet_uint16>(port);
        if (address && *address && enet_address_set_host(&bind, address) != 0) {
            why = std::string("cannot resolve the address '") + address + "' to listen on";
            LogPrintf(2, "Network: %s", why.c_str());
            return false;
        }
        // ENet leaves the system's answer to its socket calls (a port taken, one not allowed) in errno.
        errno = 0;
        ENetHost* host = enet_host_create(&bind, static_cast<size_t>(maxConnections), 1, 0, 0);
        if (!host) {
            const int error = errno;
            why = std::string("cannot listen on ") + (address && *address ? address : "any address") + " port " +
                  std::to_string(port) + ": " + (error ? std::strerror(error) : "the network library gave no reason");
            LogPrintf(2, "Network: %s", why.c_str());
            return false;
        }
        host->maximumPacketSize = NetPacketHeader::maxPacketSize;
        if (limits.maxWaitingData > 0)
            host->maximumWaitingData = limits.maxWaitingData;
        if (limits.maxPerAddress > 0)
            host->duplicatePeers = static_cast<size_t>(limits.maxPerAddress);
        m_impl->guarded = limits.maxPending > 0 || limits.pendingTimeoutMs > 0 || limits.maxPerAddress > 0 ||
                          limits.maxWaitingData > 0 || limits.connectsPerSecond > 0;
        if (m_impl->guarded && !m_impl->cookie.IsReady()) {
            enet_host_destroy(host);
            m_impl->guarded = false;
            why = "no key for the connect cookies could be made";
            return false;
        }
        // Every listening socket takes the goodbyes of peers it still holds packets of; a guarded
        // one screens every datagram besides.
        host->intercept = Impl::Intercept;
        m_impl->limits = limits;
        Impl::GuardCounters& counters = m_impl->guardCounters;
        for (std::atomic<uint64_t>* counter :
             {&counters.timedOut, &counters.pushedOut, &counters.refusedAddress, &counters.refusedRate,
              &counters.refusedNoRoom, &counters.cookiesSent, &counters.lostAtGoodbye,
              &m_impl->screenCounters.refusedFragments, &m_impl->screenCounters.refusedCommands,
              &m_impl->screenCounters.commandsLeftOut, &m_impl->screenCounters.heldByENet})
            counter->store(0, std::memory_order_relaxed);
        m_impl->slots.assign(host->peerCount, Impl::Slot());
        m_impl->host = host;
        m_impl->PreparePublished();
        m_impl->peerCapacity = host->peerCount;
        if (m_impl->guarded)
            m_impl->TrimPeers();
        m_impl->socket = host->socket;
        m_impl->boundPort.store(host->address.port, std::memory_order_relaxed);
        m_impl->open.store(true, std::memory_order_release);
    }
    return true;
}

void Socket::SetClock(const MachineClock* clock)
{
    m_impl->clock.store(clock, std::memory_order_release);
}

uint32_t Socket::Connect(const char* address, int port)
{
    const uint32_t id = ConnectHost(address, port);
    if (id != 0 && !m_impl->StartThread()) {
        m_impl->connectError = "the receive thread did not start";
        return 0;
    }
    return id;
}

uint32_t Socket::ConnectUnthreaded(const char* address, int port)
{
    const uint32_t id = ConnectHost(address, port);
    if (id != 0)
        m_impl->unthreaded = true;
    return id;
}

uint32_t Socket::ConnectHost(const char* address, int port)
{
    std::string& why = m_impl->connectError;
    why.clear();
    if (!address || !*address) {
        why = "no server address was given";
        return 0;
    }
    if (port <= 0 || port > 0xFFFF) {
        why = "the port " + std::to_string(port) + " is out of range";
        return 0;
    }
    if (!InitializeENet()) {
        why = "the network library could not start";
        return 0;
    }
    uint32_t id = 0;
    {
        std::lock_guard<std::mutex> lock(m_impl->hostLock);
        if (m_impl->host) {
            why = "the socket is open already";
            return 0;
        }
        ENetAddress server;
        if (enet_address_set_host(&server, address) != 0) {
            LogPrintf(2, "Network: cannot resolve the server address '%s'", address);
            why = "the server address '" + std::string(address) + "' does not resolve";
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
            why = "no socket could be opened to reach it";
            return 0;
        }
        host->maximumPacketSize = NetPacketHeader::maxPacketSize;
        // What the server may have waiting here: the largest packet twice over.
        host->maximumWaitingData = 2 * NetPacketHeader::maxPacketSize;
        ENetPeer* peer = enet_host_connect(host, &server, 1, 0);
        if (!peer) {
            enet_host_destroy(host);
            LogPrintf(2, "Network: cannot start connecting to %s:%d", address, port);
            why = "the connection could not be started";
            return 0;
        }
        id = m_impl->nextConnection++;
        peer->data = reinterpret_cast<void*>(static_cast<uintptr_t>(id));
        m_impl->peers[id] = Impl::Peer{peer, false};
        m_impl->ApplyTimeout(peer);
        // A guarded server answers the first connect with a cookie (see ScreenClient).
        host->intercept = Impl::Intercept;
        m_impl->addresses[id] = AddressText(server);
        m_impl->slots.assign(host->peerCount, Impl::Slot());
        m_impl->host = host;
        m_impl->PreparePublished();
        m_impl->peerCapacity = host->peerCount;
        m_impl->socket = host->socket;
        m_impl->boundPort.store(host->address.port, std::memory_order_relaxed);
        m_impl->open.store(true, std::memory_order_release);
        enet_host_flush(host);
    }
    return id;
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
    Impl& s = *m_impl;
    // The caller came back for more: it is done with everything it took before (unless it says
    // itself what it is done with, see Handled).
    if (!s.handledExplicitly)
        s.doneRecords.store(s.takenRecords.load(std::memory_order_relaxed), std::memory_order_release);
    uint8_t kind = 0;
    if (!s.lostHere.empty()) {
        kind = EVENT_SEND_LOST;
        event.connection = s.lostHere.front();
        event.data.clear();
        s.lostHere.pop_front();
    } else if (!s.queue.Take(kind, event.connection, event.data)) {
        return false;
    }
    event.kind = static_cast<EventKind>(kind & ~firstDatagramMark);
    event.record = s.takenRecords.fetch_add(1, std::memory_order_release) + 1;
    if (kind & firstDatagramMark) {
        std::lock_guard<std::mutex> lock(s.takenLock);
        s.firstTaken.emplace_back(event.connection, event.record);
        s.firstTakenWaiting.store(true, std::memory_order_release);
    }
    if (event.kind == EVENT_CONNECTED) {
        s.live.insert(event.connection);
        s.addresses[event.connection].assign(event.data.begin(), event.data.end());
    } else if (event.kind == EVENT_DISCONNECTED) {
        s.live.erase(event.connection);
        s.addresses.erase(event.connection);
    }
    return true;
}

void Socket::Handled(uint64_t record)
{
    m_impl->handledExplicitly = true;
    if (record > m_impl->doneRecords.load(std::memory_order_relaxed))
        m_impl->doneRecords.store(record, std::memory_order_release);
}

void Socket::Close(unsigned lingerMs)
{
    Impl& s = *m_impl;
    if (!s.open.load(std::memory_order_acquire))
        return;
    s.unsentAtClose.store(0, std::memory_order_relaxed);
    // From now on the receive thread throws away what does not fit: nobody takes it.
    s.closing.store(true, std::memory_order_release);
    if (lingerMs) {
        // Every peer is told, now when the host lock is free, else at the receive thread's turn.
        s.lingerAsked.store(true, std::memory_order_release);
        std::unique_lock<std::mutex> lock(s.hostLock, std::try_to_lock);
        if (lock.owns_lock() && s.host) {
            s.Drain();
            s.ApplyAsked();
        }
    }
    for (unsigned waited = 0;
         lingerMs && waited < lingerMs && s.connectedPeers.load(std::memory_order_relaxed) > 0; waited += 2)
        Platform::SleepMilliseconds(2);
    s.Shut(lingerMs > 0);
}

uint64_t Socket::GetUnsentAtClose() const
{
    return m_impl->unsentAtClose.load(std::memory_order_relaxed);
}

void Socket::SetTimeout(unsigned milliseconds)
{
    Impl& s = *m_impl;
    s.timeoutMs.store(milliseconds, std::memory_order_relaxed);
    s.timeoutChanged.store(true, std::memory_order_release);
    std::unique_lock<std::mutex> lock(s.hostLock, std::try_to_lock);
    if (lock.owns_lock())
        s.ApplyAsked();
}

std::string Socket::GetAddressText(uint32_t connection) const
{
    auto it = m_impl->addresses.find(connection);
    return it == m_impl->addresses.end() ? std::string() : it->second;
}

unsigned Socket::GetRoundTripTime(uint32_t connection) const
{
    for (size_t i = 0; connection != 0 && i < m_impl->publishedCount; ++i) {
        const uint64_t value = m_impl->published[i].load(std::memory_order_relaxed);
        if ((value >> 32) == connection)
            return static_cast<unsigned>(value & 0xFFFFFFFFu);
    }
    return 0;
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
    const SendFiler::Counters& screen = m_impl->screenCounters;
    stats.refusedFragments = screen.refusedFragments.load(std::memory_order_relaxed);
    stats.refusedCommands = screen.refusedCommands.load(std::memory_order_relaxed);
    stats.cookiesSent = c.cookiesSent.load(std::memory_order_relaxed);
    stats.commandsLeftOut = screen.commandsLeftOut.load(std::memory_order_relaxed);
    stats.lostAtGoodbye = c.lostAtGoodbye.load(std::memory_order_relaxed);
    stats.heldByENet = screen.heldByENet.load(std::memory_order_relaxed);
    return stats;
}

size_t Socket::GetBufferedBytes() const
{
    return m_impl->bufferedBytes.load(std::memory_order_relaxed);
}

} // namespace GAME
