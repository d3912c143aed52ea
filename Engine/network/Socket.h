// A UDP socket of the engine over ENet (reliable, ordered delivery; ENet joins what it had to
// split and resends what was lost): either listening for clients or connected to one server.
// Connections are named by ids of our own (never 0, never reused within a socket).
//
// Threads. Each open socket runs one "Receive Thread", which waits on the socket outside any
// lock, services ENet under the socket's host lock, copies every connect, disconnect and received
// datagram out of ENet, releases the host lock and only then hands them to the main thread through
// the socket's NetworkQueue (so the main thread, answering at once, never finds the host lock
// taken). The main thread takes them with Receive and never services ENet itself. Send,
// Disconnect, Establish, SetTimeout and Close run on the main thread when the host lock is free;
// otherwise the receive thread does them at its next turn (see the end). No thread holds the host
// lock and the queue's lock together. Everything the receive thread shares with the main thread is
// the queue, the list of what the main thread left, the host lock's ENet state and atomics (the
// counters, and what it publishes after each service: the bytes ENet holds and each peer's
// round-trip time). GetAddressText answers from the main thread's own table.
//
// The queue keeps each connection's records apart and Receive takes them one connection after the
// other. A connection may have at most its share of the queue waiting (a sixteenth of it, at
// least the largest datagram), all of them together at most the queue: a connection whose share
// is full is left with ENet (ENet stops dispatching its packets, keeps up to maxWaitingData of
// them and then stops acknowledging, so the peer's resends cover the wait) until the main thread
// has taken some of its records, while every other connection goes on. So a peer that sends
// faster than the main thread takes keeps its own datagrams waiting, not anybody else's. Only when
// what the receive thread took and could not hand over yet outgrows the whole queue does it stop
// servicing ENet until there is room.
//
// Goodbyes. ENet throws away everything it holds of a peer when the peer's disconnect comes: the
// packets it acknowledged and keeps for a parked connection, and (with the slot) what the guard's
// filer holds. A peer says goodbye once all it sent was acknowledged (ENet's disconnect_later,
// Disconnect and Close here), so that would lose acknowledged packets, which its sender counts as
// delivered. So the receive thread looks at each datagram of a connected peer (a joined one, on a
// guarded socket) while ENet or the filer holds anything of it: a disconnect there is taken out of
// the datagram before ENet sees it and acknowledged by the socket, as ENet would (the peer's goodbye
// completes at once on its side; a resend of it is acknowledged again). The peer is then leaving:
// it keeps its slot, each of its datagrams is dropped whole, Send to it is refused (false, or
// EVENT_SEND_LOST), ENet's timeouts are off for it (ENet never lets it go), and its packets go on
// to the main thread as a connected peer's do (its share of the queue, the filer's batches). Once
// nothing of it is left with ENet or the filer, its EVENT_DISCONNECTED follows its last record and
// the slot is freed. A leaving peer keeps its slot at most the leaving bound on the socket's clock:
// the SetTimeout time in force (30 s, ENet's longest, without one), counted from its goodbye, so a
// timeout raised or lowered meanwhile moves it. Past it, what is left is dropped, counted in
// GuardStats::lostAtGoodbye and logged. It holds no more than a connected peer may, and takes
// nothing new. A goodbye that finds nothing held goes to ENet as ever.
//
// A listening socket with Limits guards its slots against peers that never finish the session's
// handshake (the manager calls Establish for those that do). The receive thread looks at every
// datagram before ENet does:
// - a connect that does not carry the cookie of its source address and port (ConnectCookie) is
//   answered with the cookie and goes no further: only a source that receives the server's
//   datagrams can connect, so forged source addresses take no slot and no allowance. This
//   socket's own outgoing connections take the cookie and connect again at once (one round trip
//   more); a plain ENet client does not, and cannot connect to a guarded socket;
// - a connect from an address that started more than its connectsPerSecond (a burst of
//   maxPerAddress), or that has maxPerAddress peers already, is refused; ENet's own resend of it
//   asks again.
//   A peer that is pushed out or times out without having sent anything (the guard's join time,
//   or ENet's own timeout of a peer that stopped answering, which comes sooner; not a peer that
//   said goodbye) costs its address four more connects, so an address that only holds slots gets
//   a fifth of the rate. Of 65,536
//   addresses remembered, one is forgotten for each new one: a full table refuses nobody;
// - a connect that finds maxPending slots held by unestablished peers pushes one of them out:
//   one stuck in ENet's handshake for a quarter of a second (a real newcomer spends a round trip
//   there) before one past it; of those, one of the address with the most of them; of those, the
//   one that held its slot longest. Never one younger than a quarter of a second (a burst of
//   connects cannot sweep a newcomer away before it could ask) nor one whose first datagram (its
//   join request) waits for the main thread: when only such peers are left, the connect is
//   refused. The peer pushed out is told at once (a disconnect after the service call), so that a
//   client can ask again instead of waiting out its timeout;
// - the engine sends nothing but reliable packets of at least one byte on channel 0, and ENet
//   puts at most ENET_PROTOCOL_MAXIMUM_PACKET_COMMANDS commands in a datagram: a datagram with
//   more commands, or with unreliable, unsequenced or empty sends or another channel, is refused
//   whole. ENet keeps what an unreliable send waits for without counting it, and ENet's own
//   maxWaitingData and window bound what a reliable one holds (maxWaitingCommands);
// - ENet keeps every command that waits for an earlier one in a list it searches from the newest
//   down, so filing one below the newest costs a step for each waiting command above it. ENet
//   never holds such a command: a joined peer's reliable sends are filed by the guard's
//   SendFiler (SendFiler.h states its contract and bounds), which takes them out of the datagram,
//   acknowledges them as ENet would, keeps those that come early by number and hands ENet only
//   the next one it waits for, in order, so that what a send costs does not depend on the order
//   it came in and nothing is left out to ration ENet's work. Sends past what a peer may have
//   waiting (maxWaitingData, counted on what the filer and ENet hold; seven eighths of it behind
//   a missing one) are taken out unacknowledged, for the peer to send again.
//   Before the peer joined it is pendingReliableWindow: a send further ahead is taken out;
// - fragments from a peer that is not established are refused, so nobody can make the server
//   buffer a packet before it has joined. A packet's whole length waits from its first fragment
//   on: that fragment is held to maxWaitingData (to seven eighths of it behind a gap) as a single
//   send is, and the rest of a packet held are taken whatever waits, so that neither a run of
//   large packets behind a gap nor partial packets fill the cap for good.
// An unestablished peer is dropped pendingTimeoutMs after its first connect datagram, unless its
// first datagram after ENet's connect still waits for the main thread (a long frame is not the
// peer's fault). The remaining slots (all but maxPending) are only ever held long by established
// peers. Every peer may have at most maxWaitingData bytes waiting in ENet (partly joined packets
// included).
//
// Slots are cheap, so that maxPending may run into the thousands (a peer may not be pushed out for
// a quarter of a second, so addresses connecting at their whole rate keep some slots out of reach:
// the more slots, the more addresses that takes): ENet keeps about 450 bytes for a slot, the guard
// some 80 (its filer allocates only for a peer that sent ahead once joined), and ENet
// keeps no packet of a peer that has not joined. ENet walks its slots in every service and flush
// (a send of the main thread's among them), and the guard once a turn and at each connect an
// address may still make: the free slots past the last one in use are left out of ENet's count
// until a connect needs one, so that a server with a few clients walks a few slots, not the
// thousand kept for peers joining.
//
// The main thread never waits for the receive thread's host lock: Send, Disconnect, Establish,
// SetTimeout and Close take it only when it is free, and otherwise leave their work, in order,
// for the receive thread's next turn (which comes at once); the guard's counters, IsOpen, GetPort,
// GetBufferedBytes and GetRoundTripTime read atomics. (Close then waits for the thread to end.) A
// send left for later that ENet cannot take when it comes to it (the connection went meanwhile)
// is reported with EVENT_SEND_LOST, never dropped without a word.
//
// The guard's times (its ages, timeouts, allowances and cookies) are read from the socket's clock:
// the machine's monotonic milliseconds unless SetClock gave another (a harness that moves time).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace GAME {

class MachineClock;

class Socket
{
public:
    enum EventKind : uint8_t
    {
        EVENT_CONNECTED = 1,
        EVENT_DISCONNECTED = 2,
        EVENT_RECEIVED = 3,
        // A datagram Send accepted and ENet could not take when its turn came (the connection
        // was going): it was never sent.
        EVENT_SEND_LOST = 4,
    };

    struct Event
    {
        EventKind kind = EVENT_RECEIVED;
        uint32_t connection = 0;
        // EVENT_RECEIVED: the datagram; EVENT_CONNECTED: the address text; EVENT_DISCONNECTED: empty,
        // or one byte, disconnectClosed, when the other side's socket closed (Close with a linger).
        std::vector<uint8_t> data;
        uint64_t record = 0;       // its number in the order Receive handed events out: 1, 2, 3...
    };

    static constexpr uint8_t disconnectClosed = 1;

    static constexpr size_t defaultQueueCapacity = size_t(4) << 20;
    // A connection's share of the queue: this part of it, at least the largest datagram.
    static constexpr size_t queueShareDivisor = 16;
    // The most reliable commands ENet keeps waiting for an earlier one: it takes numbers up to
    // seven of its windows of 4,096 ahead of the next one it waits for, depending on where in its
    // window that is. A peer that has not joined has sent one packet, its join request, and may
    // send only the pendingReliableWindow reliable numbers from the next one ENet waits for (the
    // sends of a datagram, in order, fill it in turn): just the next, so that ENet keeps nothing
    // waiting for any of the many peers still joining.
    static constexpr unsigned maxWaitingCommands = 7 * 4096;
    static constexpr unsigned pendingReliableWindow = 1;

    // What a listening socket allows (see the banner).
    struct Limits
    {
        int maxConnections = 1;        // transport slots
        int maxPending = 0;            // slots unestablished peers may hold at once; 0: no limit
        unsigned pendingTimeoutMs = 0; // how long a peer may stay unestablished; 0: no limit
        int maxPerAddress = 0;         // peers of one IP address, established or not; 0: no limit
        int connectsPerSecond = 0;     // new peers one address may start a second; 0: no limit
        size_t maxWaitingData = 0;     // bytes waiting in ENet per peer; 0: ENet's own (32 MB)
    };

    // What the guard of a listening socket turned away, since it opened.
    struct GuardStats
    {
        uint64_t timedOut = 0;         // unestablished past pendingTimeoutMs
        uint64_t pushedOut = 0;        // made room for a newer connect
        uint64_t refusedAddress = 0;   // connects from an address with maxPerAddress peers
        uint64_t refusedRate = 0;      // connects from an address past its connectsPerSecond
        uint64_t refusedNoRoom = 0;    // connects that found every slot established
        uint64_t refusedFragments = 0; // datagrams with fragments from unestablished peers, or lying ones
        uint64_t refusedCommands = 0;  // datagrams with commands the engine never sends (see the banner)
        uint64_t cookiesSent = 0;      // connects without their source's cookie, answered with it
        uint64_t commandsLeftOut = 0;  // reliable sends past a peer's window (not joined) or waiting data
        uint64_t lostAtGoodbye = 0;    // packets of peers that said goodbye, not handed on within the bound
        uint64_t heldByENet = 0;       // datagrams that met sends ENet held behind a gap (none; the tests)
    };

    explicit Socket(size_t queueCapacity = defaultQueueCapacity);
    // Closes without notice (Close(0)).
    ~Socket();
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    // Binds to the address ("" or null: every address) and port (0: one the system picks) and
    // accepts up to maxConnections peers. False when the socket is open already or cannot bind.
    bool Listen(const char* address, int port, int maxConnections);
    // The same, guarded by the limits.
    bool Listen(const char* address, int port, const Limits& limits);
    // The same without a receive thread: whoever calls Service does its turns, on one thread
    // (the fuzz target of the guard, which needs each datagram screened before the next comes).
    bool ListenUnthreaded(const char* address, int port, const Limits& limits);
    // One turn of the receive thread's work, now (ListenUnthreaded sockets only).
    void Service();
    // The clock the guard reads (null: the machine's monotonic milliseconds). Main thread, while
    // the socket is closed; the clock must outlive the socket's use of it.
    void SetClock(const MachineClock* clock);
    // Why the last Listen failed ("cannot listen on any address port 29460: Address already in
    // use"), empty after one that succeeded. Main thread.
    const std::string& GetListenError() const;
    // Opens a socket for one outgoing connection (bound to the loopback address when the server
    // is on it) and starts connecting. The connection's id, or 0 when the address does not
    // resolve or the socket is open already. EVENT_CONNECTED or EVENT_DISCONNECTED follows.
    uint32_t Connect(const char* address, int port);
    // Why the last Connect failed ("the server address 'x' does not resolve"), empty after one
    // that succeeded. Main thread.
    const std::string& GetConnectError() const;
    // The same without a receive thread, serviced by Service (the guard's fuzz target, which
    // connects through a guarded socket's cookie).
    uint32_t ConnectUnthreaded(const char* address, int port);
    bool IsOpen() const;
    // The bound port; 0 when closed.
    int GetPort() const;

    // Reliable, in order, sent at once (or at the receive thread's next turn, when it holds the
    // host lock). False when the connection is not connected or the datagram is larger than any
    // the socket carries.
    bool Send(uint32_t connection, const uint8_t* data, size_t size);
    // Hangs up once what was sent is delivered; EVENT_DISCONNECTED follows.
    void Disconnect(uint32_t connection);
    // The connection finished the session's handshake: it may hold its slot for good and send
    // packets of any size (a guarded listening socket; elsewhere it changes nothing).
    void Establish(uint32_t connection);
    // Main thread: the next event handed over by the receive thread (each connection's in order,
    // the connections in turn; a lost send's as soon as it is known). Coming back for the next
    // one tells the guard that the caller is done with the ones before (a peer whose join request
    // the main thread has not acted on yet is neither timed out nor pushed out)...
    bool Receive(Event& event);
    // ...unless the caller keeps events to act on later: then it says here which it is done with
    // (every event numbered up to `record`), and Receive says nothing of it any more.
    void Handled(uint64_t record);
    // With a linger: every send Send accepted goes out first, each peer is told once ENet has all
    // that was sent to it acknowledged (their EVENT_DISCONNECTED says disconnectClosed), and Close
    // waits up to lingerMs for every peer to confirm. Then it stops the receive thread and closes:
    // what a peer had still not acknowledged is counted (GetUnsentAtClose) and logged, a line a
    // peer. Without one (lingerMs 0) nobody is told and what is not delivered is dropped as it is.
    // Events not yet taken are discarded.
    void Close(unsigned lingerMs);
    // Packets the last Close with a linger could not deliver (sends made and not acknowledged, or
    // never made since their connection was going).
    uint64_t GetUnsentAtClose() const;

    // Peers that do not answer for this long are disconnected; 0 keeps ENet's own timeouts
    // (5 to 30 seconds). Applies to present and future connections; for a leaving peer (see
    // Goodbyes) it is the leaving bound, which the socket keeps instead of ENet.
    void SetTimeout(unsigned milliseconds);
    // "a.b.c.d:port", empty for an unknown connection.
    std::string GetAddressText(uint32_t connection) const;
    // ENet's smoothed round-trip time in milliseconds as of the receive thread's last service; 0
    // for an unknown connection.
    unsigned GetRoundTripTime(uint32_t connection) const;
    // Times the receive thread left datagrams with ENet for want of room in the queue (a
    // connection's share or the whole); datagrams dropped because no queue could ever hold them;
    // ENet service calls that failed.
    uint64_t GetQueueStalls() const;
    uint64_t GetDroppedTooLarge() const;
    uint64_t GetServiceErrors() const;
    GuardStats GetGuardStats() const;
    // Bytes ENet holds for its peers that the receive thread has not taken yet (packets being
    // joined from their fragments included), as of its last service.
    size_t GetBufferedBytes() const;

private:
    bool ListenHost(const char* address, int port, const Limits& limits);
    uint32_t ConnectHost(const char* address, int port);

    struct Impl;
    class ReceiveThread;
    std::unique_ptr<Impl> m_impl;
};

} // namespace GAME
