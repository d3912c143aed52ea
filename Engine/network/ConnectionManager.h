// The network session of one role: the engine makes a client, a server and a stub connection
// manager at start-up and one of them is current (Engine::SetAsNetworkClient/Server/Stub). The
// current one is pumped every frame (Update), gives the engine its entity list (server), its local
// host id (which the object manager puts into new object ids while the network is on), and takes
// the packets the network shims send to the server.
//
// The client and server managers carry their session over a Socket (ENet over UDP, one receive
// thread per socket) with one NetworkConnection per link for the handshake, authentication and
// sequence numbers. Update takes what the receive thread handed over, in arrival order: the
// engine's own control and link packets are handled here; every game packet is made by the host's
// packet creator for its type (the engine makes its own spawn packet when the creator has none),
// reads its body, completes its replicated objects (NetPacket::FinishReplication; the server
// first refuses those a client may not make, see ServerConnectionManager.h) and goes to the
// host's network controller (ProcessPacket), and is deleted when that returns. A datagram that
// fails any check is dropped and counted (see NetworkConnection.h); the first drop of each kind
// on a link is logged, the rest only while network logging is on. A packet whose body does not
// read is dropped the same way.
//
// Update hands on what the receive thread took for at most pumpBudgetMicroseconds of a frame,
// one datagram of each link in turn (the socket's own order), so that a link that floods the
// server costs the frame no more than that and waits its turn behind the others; the rest waits
// in the socket for the next frames (each link at most its share of the socket's queue; past that
// the transport keeps it and makes its sender wait). A server hangs up on a link whose datagrams failed their checks
// (authentication, numbering, form) maxRefusedDatagrams times: an engine peer sends none such.
//
// What a peer can make the session log is bounded: a line that a peer's datagrams or comings and
// goings cause (a drop, a control packet of an unknown type, an unreadable view, a join, a leave,
// a refusal; on the server also a client's change of region, a view of a region it does not
// have, a refusal of objects a client asked for, every line the world and the game write
// while the server reads a client's packets, makes their objects, hands them to the game and
// hands its views to the engine, and the lines of the loads, completions and unloads of levels
// that only clients' views brought in) is written for the first of its kind from that peer (its
// link; a host id for joins, leaves and a client's lines, of each priority for the world's and
// the game's, and of each priority for the levels of the clients' views together; an address for
// refusals) and only counted after that, and at most maxLinesPerInterval
// such lines are written in all, whatever the peers, joined or not; every logSummaryIntervalMs
// one line sums up what was counted, at the highest priority of the lines it counts (counted info
// lines alone, such as changes of region, make an info line), and lines are written again. While
// network logging is on, every line is written.
//
// The stub manager has no session: nothing is sent, and a packet handed to it is counted as
// undelivered (logged once, every one while network logging is on).
//
// Main thread only (the receive threads stay inside Socket), but for GetLocalHostID, which any
// thread may call.
//
// Sessions run over one reliable, ordered ENet channel, which does the resending,
// fragmenting and joining and keeps round-trip times; there is no link of our own with its MTU
// test, no TCP transport, no compression of packets, no LAN discovery and no packet describer.
// The key agreement is anonymous (no peer identity), so it keeps out forged, replayed and altered
// datagrams but not a man in the middle during the handshake, who can then read and rewrite the
// session: packets are authenticated, not encrypted.
#pragma once

#include "core/Log.h"
#include "network/NetPacket.h"
#include "network/NetworkConnection.h"
#include "network/Socket.h"

#include <array>
#include <atomic>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace GAME {

class NetPacket;
class NetworkControllerBase;
class NetworkEntityList;
class NetworkPacketCreatorBase;
class WorldFrustum;

class ConnectionManager
{
public:
    enum Role
    {
        ROLE_STUB = 0,
        ROLE_CLIENT = 1,
        ROLE_SERVER = 2,
    };

    static constexpr int logSummaryIntervalMs = 10000;
    static constexpr int maxLinesPerInterval = 32;
    static constexpr int pumpBudgetMicroseconds = 4000;
    static constexpr unsigned maxRefusedDatagrams = 16;
    static constexpr unsigned defaultShutdownLingerMs = 1000;

    // Packets counted by type while statistics are gathered.
    struct TypeCount
    {
        uint64_t sent = 0;
        uint64_t received = 0;
    };

    virtual ~ConnectionManager();
    ConnectionManager(const ConnectionManager&) = delete;
    ConnectionManager& operator=(const ConnectionManager&) = delete;

    // Pumps the network once a frame. Timeouts and report intervals run on machine time
    // (GetMachineTime), not on the frame's elapsed game time, which stops while the game pauses.
    virtual void Update(int elapsedMs);
    virtual Role GetRole() const = 0;
    virtual const char* GetRoleName() const = 0;
    // Closes the session: every packet sent before goes out, every link is told once its peer has
    // acknowledged all it was sent, and Shutdown waits for that up to the shutdown linger (it
    // returns as soon as every peer confirmed). What a peer had not acknowledged by then is logged
    // (a line a peer) and counted in GetStats().sendsLost. Every link is then dropped, the socket
    // closed.
    virtual void Shutdown();
    // The longest Shutdown waits for the peers to take what was sent to them
    // (defaultShutdownLingerMs to start with; 0 drops what is not delivered, telling nobody).
    void SetShutdownLinger(unsigned milliseconds) { m_shutdownLingerMs = milliseconds; }
    unsigned GetShutdownLinger() const { return m_shutdownLingerMs; }
    // Not owned; answers whether the packet left for the server.
    virtual bool SendToServer(NetPacket* packet);
    // One log line for this host, then one per link.
    virtual void DumpHostTable() const;
    virtual void DumpStats() const;
    // The server's list of its clients; null for the other roles.
    virtual NetworkEntityList* GetNetworkEntityList() { return nullptr; }
    // The camera's view of this frame (the engine passes it before Update); a client reports it
    // to the server.
    virtual void SetLocalView(const WorldFrustum&) {}

    // -1 while not yet known (a client before a server gave it one). Any thread: the object
    // manager asks for it wherever objects are made, the level loading threads among them.
    int GetLocalHostID() const { return m_localHostId.load(std::memory_order_acquire); }
    // A log line for each packet sent and received.
    void SetNetworkLogging(bool enable) { m_networkLogging = enable; }
    bool IsNetworkLogging() const { return m_networkLogging; }
    // Counts packets by type (DumpStats).
    void SetNetworkStatisticsGathering(bool enable) { m_gatheringStatistics = enable; }
    bool IsGatheringStatistics() const { return m_gatheringStatistics; }
    unsigned int GetNumUndeliveredPackets() const { return m_undeliveredPackets; }

    // The host's objects (not owned; null removes them). The engine hands on its own.
    void SetNetPacketCreator(NetworkPacketCreatorBase* creator) { m_packetCreator = creator; }
    void SetNetworkController(NetworkControllerBase* controller) { m_controller = controller; }
    // Peers silent for this long are dropped; 0 keeps the transport's own (5 to 30 s).
    void SetTimeout(unsigned milliseconds);

    // The counters of every link of the session, closed links included.
    NetworkLinkStats GetStats() const;
    const std::map<int, TypeCount>& GetTypeCounts() const { return m_typeCounts; }

    // The receive path without a socket: checks a datagram on the link and makes the game packet
    // it carries (null for a control or link packet, or when it is dropped; *result says which).
    // The packet is the caller's. The engine's own spawn packet is made when the creator (which
    // may be null) has none for its type.
    static NetPacket* ReadPacket(NetworkConnection& link, const uint8_t* data, size_t size,
                                 NetworkPacketCreatorBase* creator, NetworkConnection::Result* result,
                                 NetPacketHeader* header = nullptr);
    // A new packet of the type, from the creator or, for the spawn packet, the engine's own.
    static NetPacket* CreatePacket(PACKET_TYPE type, NetworkPacketCreatorBase* creator);
    // A game packet of the type read from the body: null when there is no packet for the type or
    // the body does not read whole.
    static NetPacket* MakeGamePacket(int type, const uint8_t* body, size_t size,
                                     NetworkPacketCreatorBase* creator);
    // Writes the packet's body; false (one log line) when it cannot be sent in one datagram.
    static bool WriteBody(NetPacket* packet, std::vector<uint8_t>& body);

protected:
    // One link to a peer of the session.
    struct Link
    {
        explicit Link(NetworkConnection::Side side) : connection(side) {}
        uint32_t socketConnection = 0;
        NetworkConnection connection;
        std::string address;
        int host = -1;         // the peer's host id once the handshake gave one
        bool ready = false;    // the handshake is complete
        int since = 0;         // machine time when the transport connected
        unsigned reported = 0; // drop kinds already logged (bit per result)
        unsigned refused = 0;  // datagrams that failed their checks
        bool peerClosed = false; // the peer said, as it let go, that its session closed
    };

    explicit ConnectionManager(int localHostId);

    void SetLocalHostID(int id) { m_localHostId.store(id, std::memory_order_release); }
    // Machine time in milliseconds, and the time since an earlier reading (0 if the clock went back).
    static int Now();
    static int Since(int then);
    Socket* GetSocket() const { return m_socket.get(); }
    // The socket of a new session (the old one closed first).
    Socket* OpenSocket();
    // Closes the socket, telling peers when `linger` is non-zero (what they were not delivered is
    // counted in the closed links' sendsLost), and forgets every link.
    void CloseSession(unsigned lingerMs);

    // Takes the events the receive thread handed over and hands them to the hooks below, within
    // the frame's budget (see the banner).
    void PumpSocket();
    // One event as the receive thread handed it over (where datagrams enter the session; the
    // address text of EVENT_CONNECTED names the peer).
    void HandleSocketEvent(const Socket::Event& event);
    virtual void OnLinkConnected(Link&) {}
    // The link is gone (already forgotten: the reference lives for the call only).
    virtual void OnLinkDisconnected(Link&) {}
    // The link's datagrams failed their checks maxRefusedDatagrams times (once per link).
    virtual void OnLinkFailing(Link&) {}
    // A datagram the link accepted, of the engine's own types (below 16).
    virtual void OnControlPacket(Link& link, const NetPacketHeader& header, const uint8_t* body, size_t size);

    // The link of a connection this side opened, known before the transport connects so that a
    // connection that never comes up is heard of too.
    Link& AddLink(uint32_t socketConnection);
    Link* FindLink(uint32_t socketConnection);
    std::map<uint32_t, std::unique_ptr<Link>>& GetLinks() { return m_links; }
    const std::map<uint32_t, std::unique_ptr<Link>>& GetLinks() const { return m_links; }
    // Hangs up on a link (its disconnect comes back through PumpSocket).
    virtual void HangUp(Link& link);

    // Seals and sends the engine's own packet body on a ready link.
    bool SendControl(Link& link, PACKET_TYPE type, const std::vector<uint8_t>& body);
    // Writes, seals and sends a packet on a ready link; counts and logs it.
    bool SendPacket(Link& link, NetPacket* packet);
    // Sends a datagram as it is (the handshake's own). Every datagram leaves through here.
    virtual bool SendDatagram(Link& link, const std::vector<uint8_t>& datagram);
    // Hands a game packet to the controller and deletes it.
    void Deliver(int host, NetPacket* packet);
    // Runs before a received packet's objects are made; a role that may not trust the sender
    // refuses them here (ObjectInteractionPacket::RefuseReplication).
    virtual void ScreenReplication(int host, NetPacket* packet)
    {
        (void)host;
        (void)packet;
    }
    void CountUndelivered(NetPacket* packet, const char* why);

    // Lines a peer can cause, limited as the banner says.
    enum LogKind
    {
        LOG_DROP = 0,
        LOG_UNKNOWN_CONTROL,
        LOG_UNREADABLE_VIEW,
        LOG_JOIN,
        LOG_LEAVE,
        LOG_REFUSAL,
        LOG_REGION_CHANGE,
        LOG_UNKNOWN_REGION,
        LOG_SPAWN_REFUSAL,
        LOG_PACKET_LINES, // what the world and the game write about a client's packet
        LOG_VIEW_LINES,   // and about its view
        LOG_VIEW_LOADS,   // about levels that only clients' views brought in
        LOG_KIND_COUNT,
    };
    // While it lives, every line logged on this thread is one that the peer `host` caused (what
    // the world and the game write while the server acts on what the client sent): it is written
    // as ShouldLog(kind, the client and the line's priority) allows, and counted otherwise. Lines
    // are let through as they are on a client and for the server's own packets.
    class PeerLineGate final : public LogGate
    {
    public:
        PeerLineGate(ConnectionManager& manager, LogKind kind, int host);
        ~PeerLineGate() override;
        PeerLineGate(const PeerLineGate&) = delete;
        PeerLineGate& operator=(const PeerLineGate&) = delete;
        bool Admit(int priority, unsigned int category, const char* text) override;

    private:
        ConnectionManager& m_manager;
        LogKind m_kind;
        int m_host;
        bool m_installed;
        LogGate* m_previous = nullptr;
    };
    // Lines of a kind that the clients together cause, outside any one client's packets (the
    // world's about levels only their views brought in): installed by whoever logs them, on the
    // main thread, it writes each as ShouldLog(kind, the line's priority) allows and counts the
    // rest.
    class SharedLineGate final : public LogGate
    {
    public:
        SharedLineGate(ConnectionManager& manager, LogKind kind) : m_manager(manager), m_kind(kind) {}
        SharedLineGate(const SharedLineGate&) = delete;
        SharedLineGate& operator=(const SharedLineGate&) = delete;
        bool Admit(int priority, unsigned int category, const char* text) override;

    private:
        ConnectionManager& m_manager;
        LogKind m_kind;
    };
    // True for the first line of the kind from the peer (`who`) since the last summary, or while
    // network logging is on; otherwise the line is counted for the summary. priority: the line's,
    // or -1 for the one all lines of the kind have.
    bool ShouldLog(LogKind kind, const std::string& who, int priority = -1);
    // Counts a line that was not written (priority as for ShouldLog).
    void CountUnlogged(LogKind kind, int priority = -1);
    // One line more about peers in this interval, if the session's share allows it.
    bool TakeLogLine();
    // The summary line, once an interval has passed (Update calls it).
    void ReportUnlogged();
    void CountType(int type, bool sent);
    NetworkControllerBase* GetController() const { return m_controller; }
    NetworkPacketCreatorBase* GetPacketCreator() const { return m_packetCreator; }

private:
    void HandleDatagram(Link& link, const std::vector<uint8_t>& data);
    void StartInterval();
    void ReportDrop(Link& link, NetworkConnection::Result result, size_t size);

    std::atomic<int> m_localHostId;
    bool m_networkLogging = false;
    bool m_gatheringStatistics = false;
    unsigned int m_undeliveredPackets = 0;
    unsigned m_timeoutMs = 0;
    unsigned m_shutdownLingerMs = defaultShutdownLingerMs;
    bool m_reportedNoController = false;
    NetworkPacketCreatorBase* m_packetCreator = nullptr;
    NetworkControllerBase* m_controller = nullptr;
    std::unique_ptr<Socket> m_socket;
    std::map<uint32_t, std::unique_ptr<Link>> m_links;
    NetworkLinkStats m_closedLinkStats;
    std::map<int, TypeCount> m_typeCounts;
    // Peers whose first line of a kind was written in this interval, and the lines counted.
    std::set<std::pair<int, std::string>> m_logged;
    std::array<uint64_t, LOG_KIND_COUNT> m_unlogged{};
    // The highest priority among the lines counted of each kind: the summary's own.
    std::array<int, LOG_KIND_COUNT> m_unloggedPriority{};
    int m_linesWritten = 0;
    // The number of the last event taken: the socket hears which are done (Socket::Handled).
    uint64_t m_lastTaken = 0;
    int m_summaryAt = 0;
    bool m_summaryStarted = false;
};

} // namespace GAME
