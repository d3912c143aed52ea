// The connection manager of the game that hosts: host 0, listening for clients (Listen), owner of
// the entity list that records each connected client's view and entities. Main thread only.
//
// A client joins in two steps: the transport connects, then the client's CONNECT_REQUEST gets
// the lowest free host id from 1 to 15 (object ids keep the host in 4 bits) and a CONNECT_ACCEPT
// that sets the session key; a client is refused (CONNECT_REFUSE, then hung up on) when all ids
// are taken (a refusal authenticated under the key the request would have had), when its protocol
// differs or when its key share is unusable (both unauthenticated: there is no key to use). A
// joined client is entered in the entity list and leaves it when its link closes.
//
// Against peers that never join, the socket (Socket::Limits) lets only addresses that received its
// cookie connect at all (forged sources take nothing), lets one address hold at most
// SetMaxPeersPerAddress peers and start at most connectsPerAddressPerSecond of them a second (a
// burst of as many as it may hold), lets peers that have not finished the handshake hold at most
// maxPendingConnections slots (enough that it takes some 2,000 addresses connecting at their whole
// rate to hold them all) and for at most handshakeTimeoutMs (when they are all held, a newer
// connect pushes the one that waited longest out and tells it, so that a client asks again at
// once), keeps a slot for each host id that only a joined client holds long, refuses fragments
// until a peer has joined, refuses the transport's commands that the engine never sends, lets a
// peer have at most maxWaitingData bytes (and Socket::maxWaitingCommands commands) waiting in the
// transport and cost ENet's filing of its out-of-order sends a bounded share of the receive thread.
// What it turned away is logged in one line at most every guardReportIntervalMs. A link whose
// datagrams keep failing their checks is hung up (ConnectionManager::maxRefusedDatagrams).
//
// Each join and each authenticated refusal costs a key agreement on the main thread: the server
// does at most handshakesPerSecond of them a second in all and handshakesPerAddressPerSecond per
// address (bursts of as many, and of SetMaxPeersPerAddress); a request beyond that waits for the
// next frames (a peer waits no longer than handshakeTimeoutMs), where the address that had the
// fewest lately goes first (a newcomer before addresses that keep asking). Joins, leaves and
// refusals are logged as ConnectionManager.h says: the first join and leave of each host id and
// the first refusal of each address, then a count in the periodic summary.
//
// Sessions are anonymous: anyone who completes the handshake gets a host id, and keeps it as long
// as it answers. Fifteen connections from four addresses (four each) hold every id; the
// per-address limit only makes that take several addresses. A game that must keep strangers out
// (passwords, invitations, bans) does so above the session.
//
// The views clients report (CLIENT_VIEW) are read as they come, but only the latest counts: each
// client's view goes to the view handler (the engine's UpdateFrustum), or straight to the entity
// list without one, at most once every viewIntervalMs. A view naming a region this server does
// not have is ignored (logged once per client); a client's change of region is due in the log at
// most once every regionLogIntervalMs (every view while network logging is on). Both lines, the
// refusals of a client's objects, whatever the world and the game log while the server acts
// on a client's packets and views, and what the world writes about levels that only clients'
// views brought in (through the entity list's gate) come under the session's limit on lines
// (ConnectionManager.h).
//
// Objects a client's packet asks to make (spawn data of an ObjectInteractionPacket's ids) are made
// only when every one of them names an id of the client's own host, a record the record database
// has that makes an entity (made under the name the database keeps), a region of the current
// world whose level is in (a level is never loaded on the main thread for a client: the level
// loader brings in the levels around the clients' views, so a client's honest spawn finds its
// level there), a place inside that region's box (spawnBoundsMargin across, spawnHeightMargin in
// height) and an orientation that is a rotation (unit axes at right angles, z the cross product of
// x and y, each within spawnAxisTolerance), the client has not made more than SetClientSpawnLimit
// of them in the last second, the objects that spawns from its address made and that still exist
// stay within SetClientObjectLimit for each client joined from that address (players behind one
// router each have theirs), and there is room for them in the two pools all addresses share (see
// defaultClientObjectTotal): an address's first client limit's worth comes from the base pool
// (SetClientObjectTotal), what it holds beyond that from the shared pool (an object destroyed
// frees its place; the count stays with the address when its clients leave, since their objects
// stay in the world: a client that joins again from there finds it, one from another address
// under the same host id does not), and the host's controller accepts them
// (AcceptClientSpawns); otherwise none of the packet's objects is
// made and the packet reaches ProcessPacket with its ids failed. Nothing is made for a spawn that
// is refused: no object, no record table for a name the database does not have.
//
// What the server's own shim sends "to the server" is delivered to the host's network controller
// at the next Update, as from host 0, through the same packet creator and reader as a received
// packet.
#pragma once

#include "core/Frustum.h"
#include "data/RegionId.h"
#include "network/ConnectionManager.h"
#include "network/NetworkEntityList.h"
#include "network/RateBucket.h"
#include "network/Socket.h"

#include <functional>
#include <set>

namespace GAME {

class ObjectInteractionPacket;

class ServerConnectionManager : public ConnectionManager
{
public:
    static constexpr int serverHostId = 0;
    static constexpr int maxClients = 15;
    // Slots for peers still joining. One younger than a quarter of a second is never pushed out (a
    // newcomer's first round trip is not swept away) and an address starts at most
    // connectsPerAddressPerSecond peers a second, so an address that does nothing but connect keeps
    // at most half a slot out of reach: holding all of these takes 2,048 addresses. Each costs
    // the server about half a kilobyte while free and one more while held (its link included),
    // and the receive thread a few nanoseconds a turn.
    static constexpr int maxPendingConnections = 1024;
    // How long a peer may take to join, from its first connect with the cookie. On a long lossy
    // link the join's steps are resent by ENet's backoff (0.5, 1.5, 3.5 and 7.5 s after the first
    // try): a shorter limit drops honest clients whose connect's answer or request was lost two or
    // three times running. Under the engine's client's own wait for its join (10 s), which also
    // spends a round trip on the cookie. Slots are not the scarcer for it: when they are all held
    // a newer connect pushes the oldest out.
    static constexpr int handshakeTimeoutMs = 8000;
    static constexpr int defaultMaxPeersPerAddress = 4;
    static constexpr int connectsPerAddressPerSecond = 2;
    static constexpr int handshakesPerSecond = 64;
    static constexpr int handshakesPerAddressPerSecond = 2;
    // Of requests waiting for a key agreement, the address that had the fewest lately goes first:
    // each one it had counts for handshakeShareSeconds (at most handshakeShareMemory of them), so
    // that addresses which crowd the server out of key agreements go after a newcomer unless each
    // asks no more than once in that time (some 640 of them to spend all of the server's).
    static constexpr int handshakeShareSeconds = 10;
    static constexpr int handshakeShareMemory = 10;
    // How far a client spawn's axes may be from unit length, and from right angles (the cosine).
    static constexpr float spawnAxisTolerance = 1e-3f;
    // What a joined client's packets may hold in the transport while they wait for an earlier
    // one. ENet goes on sending past a lost datagram for as long as the rest is acknowledged (up
    // to about 28,000 commands ahead), and a command it is refused holds up the resend of the lost
    // one until ENet gives the link up: this leaves room for that many packets of 140 bytes.
    static constexpr size_t maxWaitingData = size_t(4) << 20;
    static constexpr int viewIntervalMs = 100;
    static constexpr int regionLogIntervalMs = 1000;
    static constexpr int guardReportIntervalMs = 10000;
    static constexpr int defaultClientSpawnsPerSecond = 10;
    // Objects one client's spawns may hold at once: more than a game hands a player.
    static constexpr int defaultClientObjectLimit = 1024;
    // What clients' spawns may hold at once, in two pools. The base pool: each address holds at
    // most one client limit of it, so that filling it takes 16 addresses, each at its limit, and
    // until then any client from another address makes its own. The shared pool: what addresses
    // hold beyond one client limit (players behind one router, present together), up to
    // maxClients - 1 client limits (a full server's players behind one address each keep theirs).
    // A handful of addresses can fill the shared pool, joining in turn and leaving their objects
    // behind; that costs later players behind one router their extra, never an address its first
    // client limit. Together the pools bound the server's memory: the base pool's size and 14
    // client limits, 30,720 objects by default (some 17 MB of bare entities).
    static constexpr int defaultClientObjectTotal = 16 * defaultClientObjectLimit;
    // How often the ids an address's spawns made are looked up again at most (those whose objects
    // are gone free their places), and those of all addresses when a pool is full.
    static constexpr int objectPruneIntervalMs = 100;
    static constexpr int objectTotalPruneIntervalMs = 1000;
    // Slack around a region's box for a client's spawn: a little across (entities standing on its
    // edges) and more in height, since the box of a level without ground has none.
    static constexpr float spawnBoundsMargin = 2.0f;
    static constexpr float spawnHeightMargin = 100.0f;

    using ViewHandler = std::function<void(int host, const WorldFrustum& view)>;

    ServerConnectionManager() : ConnectionManager(serverHostId)
    {
        m_entityList.SetViewLineGate(&m_viewLoadLines);
    }
    ~ServerConnectionManager() override;

    Role GetRole() const override { return ROLE_SERVER; }
    const char* GetRoleName() const override { return "server"; }
    void Update(int elapsedMs) override;
    // Tells every client once it has everything sent to it (within the shutdown linger, see
    // ConnectionManager::Shutdown), closes the socket and forgets every client.
    void Shutdown() override;
    bool SendToServer(NetPacket* packet) override;
    void DumpHostTable() const override;
    void DumpStats() const override;
    NetworkEntityList* GetNetworkEntityList() override { return &m_entityList; }

    // Opens the session: binds to the address ("" or null: every address) and port (0: one the
    // system picks; GetPort tells which). A session already open is closed first.
    bool Listen(const char* address, int port);
    // Why the last Listen failed (the socket's reason), empty after one that succeeded.
    const std::string& GetListenError() const { return m_listenError; }
    bool IsListening() const;
    int GetPort() const;
    // Sends to one joined client; false for an unknown host or a packet that cannot be sent.
    bool SendToClient(int host, NetPacket* packet);
    // Sends to every joined client; the number it reached.
    int SendToAllClients(NetPacket* packet);
    int GetNumClients() const;
    // The joined clients' host ids, ascending.
    std::vector<int> GetClientHostIds() const;
    void SetViewHandler(ViewHandler handler) { m_viewHandler = std::move(handler); }

    // Peers one address may have (clients behind one router share it); 0 for no limit, and then
    // neither the address's connect rate nor its handshake rate is limited. Takes effect at the
    // next Listen.
    void SetMaxPeersPerAddress(int count) { m_maxPeersPerAddress = count < 0 ? 0 : count; }
    int GetMaxPeersPerAddress() const { return m_maxPeersPerAddress; }
    // Objects each client may make per second (a burst of as many, then as they refill).
    void SetClientSpawnLimit(int perSecond) { m_spawnsPerSecond = perSecond < 0 ? 0 : perSecond; }
    int GetClientSpawnLimit() const { return m_spawnsPerSecond; }
    // Objects each client's spawns may hold at once, counted by its address (see the banner); 0
    // lets none be made.
    void SetClientObjectLimit(int count);
    int GetClientObjectLimit() const { return m_objectLimit; }
    // Objects all clients' spawns may hold at once in the base pool (see defaultClientObjectTotal);
    // 0 lets none be made.
    void SetClientObjectTotal(int count) { m_objectTotal = count < 0 ? 0 : count; }
    int GetClientObjectTotal() const { return m_objectTotal; }
    // Objects clients asked to make that were refused, since the server was made.
    uint64_t GetNumRefusedSpawns() const { return m_refusedSpawns; }
    // Views received, and views handed on (the rest were replaced by a later one).
    uint64_t GetNumViewsReceived() const { return m_viewsReceived; }
    uint64_t GetNumViewsApplied() const { return m_viewsApplied; }
    // What the socket's guard turned away; zeros without a session.
    Socket::GuardStats GetGuardStats() const;

protected:
    void OnLinkConnected(Link& link) override;
    void OnLinkDisconnected(Link& link) override;
    // Hangs up on a link that keeps sending datagrams that fail their checks.
    void OnLinkFailing(Link& link) override;
    void OnControlPacket(Link& link, const NetPacketHeader& header, const uint8_t* body,
                         size_t size) override;
    void ScreenReplication(int host, NetPacket* packet) override;

private:
    // What the server keeps of each joined client besides its link.
    struct ClientState
    {
        uint32_t connection = 0; // its link
        std::string address;     // where it comes from, without the port
        // The latest view not yet handed on, and when one was.
        bool viewWaiting = false;
        RegionId viewRegion;
        Frustum viewFrustum;
        bool viewApplied = false;
        int viewAppliedAt = 0;
        bool reportedUnknownRegion = false;
        // The region of the last view handed on, and the one last logged.
        bool hasRegion = false;
        RegionId region;
        std::string regionText;
        size_t planes = 0;
        bool regionLogged = false;
        RegionId loggedRegion;
        int regionLoggedAt = 0;
        // Spawns the client may still make now.
        RateBucket spawns;
    };

    void Refuse(Link& link, NetworkConnection::RefuseReason reason, const uint8_t* body, size_t size);
    void HandleConnectRequest(Link& link, const uint8_t* body, size_t size);
    void AnswerConnectRequest(Link& link, const uint8_t* body, size_t size);
    // Takes a key agreement from the budgets (see the banner); false when either is spent.
    bool TakeHandshake(const std::string& host);
    void AnswerDeferredRequests();
    // Answers waiting requests while the server's budget lasts (there is some).
    void AnswerWaitingRequests(uint32_t now);
    void HandleClientView(Link& link, const uint8_t* body, size_t size);
    void ApplyViews();
    void ReportGuard();
    // Why the client's spawns may not be made, or null when they may.
    const char* CheckSpawns(int host, ClientState& client, ObjectInteractionPacket& packet, size_t spawns);
    // Whether `adding` more objects fit what the client's address and the two pools may hold (the
    // ids of objects gone are let go first when they do not, at most every prune interval).
    bool RoomForObjects(const ClientState& client, size_t adding);
    // What an address holding `held` takes from the shared pool (beyond one client limit).
    size_t SharedPart(size_t held) const;
    // Counts an address's change from `before` ids held to `after` in both pools.
    void CountHeld(size_t before, size_t after);
    struct AddressObjects;
    // Lets go of the address's ids whose objects are gone (and of the address, once it has none).
    void PruneObjects(std::map<std::string, AddressObjects>::iterator address);
    int FindFreeHostId() const;
    // The joined client's link, or null.
    Link* FindClientLink(int host);

    struct LocalPacket
    {
        int type;
        std::vector<uint8_t> body;
    };
    struct DeferredRequest
    {
        uint32_t connection;
        std::string host; // its address, without the port
        std::vector<uint8_t> body;
    };

    // What the world writes about levels only clients' views brought in (the entity list hands it on).
    SharedLineGate m_viewLoadLines{*this, LOG_VIEW_LOADS};
    NetworkEntityList m_entityList;
    ViewHandler m_viewHandler;
    std::vector<LocalPacket> m_localPackets;
    std::set<uint32_t> m_hungUp; // links told to go (refusal)
    std::map<int, ClientState> m_clients;
    // By address, the ids of objects its clients' spawns made (those that no longer exist go when
    // a limit is reached), how many in all and how many of those are the shared pool's. An address
    // is kept while it has any: there are at most m_objectTotal of them.
    struct AddressObjects
    {
        std::set<unsigned> ids;
        bool pruned = false;
        int prunedAt = 0;
    };
    std::map<std::string, AddressObjects> m_clientObjects;
    size_t m_clientObjectCount = 0;
    size_t m_sharedObjectCount = 0;
    bool m_allObjectsPruned = false;
    int m_allObjectsPrunedAt = 0;
    RateBucket m_handshakes{static_cast<double>(handshakesPerSecond), 0};
    std::map<std::string, RateBucket> m_addressHandshakes;
    std::map<std::string, RateBucket> m_handshakeShares; // full: none lately (then forgotten)
    int m_addressHandshakesPrunedAt = 0;
    std::vector<DeferredRequest> m_deferredRequests;
    int m_maxPeersPerAddress = defaultMaxPeersPerAddress;
    std::string m_listenError;
    int m_spawnsPerSecond = defaultClientSpawnsPerSecond;
    int m_objectLimit = defaultClientObjectLimit;
    int m_objectTotal = defaultClientObjectTotal;
    uint64_t m_refusedSpawns = 0;
    uint64_t m_viewsReceived = 0;
    uint64_t m_viewsApplied = 0;
    Socket::GuardStats m_reportedGuard;
    int m_guardReportedAt = 0;
    bool m_guardReported = false;
};

} // namespace GAME
