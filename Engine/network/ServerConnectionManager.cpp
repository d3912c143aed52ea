#include "network/ServerConnectionManager.h"

#include "core/Log.h"
#include "core/ObjectManager.h"
#include "core/RegionServices.h"
#include "core/WorldFrustum.h"
#include "network/ClientView.h"
#include "network/NetPacket.h"
#include "network/NetworkControllerBase.h"
#include "network/NetworkWorldServices.h"
#include "network/ObjectInteractionPacket.h"
#include "network/SmartObjectId.h"
#include "network/Socket.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>

namespace GAME {

namespace {

// How fast an address's key agreements are forgotten, a second's worth.
constexpr double kShareRate = 1.0 / ServerConnectionManager::handshakeShareSeconds;

// "a.b.c.d:port" without the port.
std::string HostOf(const std::string& address)
{
    const size_t colon = address.rfind(':');
    return colon == std::string::npos ? address : address.substr(0, colon);
}

} // namespace

ServerConnectionManager::~ServerConnectionManager()
{
    CloseSession(0);
}

bool ServerConnectionManager::Listen(const char* address, int port)
{
    Shutdown();
    Socket* socket = OpenSocket();
    Socket::Limits limits;
    // A slot for each host id, which only a joined client holds for long, and the slots of those
    // still joining (see maxPendingConnections).
    limits.maxConnections = maxClients + maxPendingConnections;
    limits.maxPending = maxPendingConnections;
    limits.pendingTimeoutMs = handshakeTimeoutMs;
    limits.maxPerAddress = m_maxPeersPerAddress;
    limits.connectsPerSecond = m_maxPeersPerAddress > 0 ? connectsPerAddressPerSecond : 0;
    limits.maxWaitingData = maxWaitingData;
    if (!socket->Listen(address, port, limits)) {
        m_listenError = socket->GetListenError();
        CloseSession(0);
        return false;
    }
    m_listenError.clear();
    LogPrintf(2, "Network: server listening on %s port %d", address && *address ? address : "every address",
              socket->GetPort());
    return true;
}

bool ServerConnectionManager::IsListening() const
{
    return GetSocket() && GetSocket()->IsOpen();
}

int ServerConnectionManager::GetPort() const
{
    return GetSocket() ? GetSocket()->GetPort() : 0;
}

Socket::GuardStats ServerConnectionManager::GetGuardStats() const
{
    return GetSocket() ? GetSocket()->GetGuardStats() : Socket::GuardStats();
}

void ServerConnectionManager::Shutdown()
{
    const bool open = IsListening();
    ConnectionManager::Shutdown();
    m_entityList.RemoveAllClients();
    m_localPackets.clear();
    m_hungUp.clear();
    m_clients.clear();
    m_handshakes = RateBucket(handshakesPerSecond, static_cast<uint32_t>(Now()));
    m_addressHandshakes.clear();
    m_handshakeShares.clear();
    m_deferredRequests.clear();
    m_reportedGuard = Socket::GuardStats();
    m_guardReported = false;
    if (open)
        LogPrintf(2, "Network: server session closed");
}

void ServerConnectionManager::Update(int elapsedMs)
{
    ConnectionManager::Update(elapsedMs);
    AnswerDeferredRequests();
    // What this host sent itself, in order; a packet delivered may send more (next frame's).
    std::vector<LocalPacket> local;
    local.swap(m_localPackets);
    for (const LocalPacket& sent : local) {
        if (NetPacket* packet =
                MakeGamePacket(sent.type, sent.body.data(), sent.body.size(), GetPacketCreator())) {
            CountType(sent.type, false);
            Deliver(serverHostId, packet);
        } else {
            LogPrintf(1, "Network (server): no packet of type %d could be made to deliver locally",
                      sent.type);
        }
    }
    ApplyViews();
    ReportGuard();
}

void ServerConnectionManager::ReportGuard()
{
    const Socket::GuardStats now = GetGuardStats();
    const Socket::GuardStats& was = m_reportedGuard;
    // Something turned away since the last line. A cookie answers every connect, a real client's
    // too: cookies alone say nothing worth a warning.
    const bool turnedAway = now.timedOut != was.timedOut || now.pushedOut != was.pushedOut ||
                            now.refusedAddress != was.refusedAddress || now.refusedRate != was.refusedRate ||
                            now.refusedNoRoom != was.refusedNoRoom ||
                            now.refusedFragments != was.refusedFragments ||
                            now.refusedCommands != was.refusedCommands || now.commandsLeftOut != was.commandsLeftOut;
    if (!turnedAway || (m_guardReported && Since(m_guardReportedAt) < guardReportIntervalMs))
        return;
    LogPrintf(1,
              "Network: peers that did not join so far: %" PRIu64 " dropped after %d ms, %" PRIu64
              " pushed out by newer ones, %" PRIu64 " refused for their address, %" PRIu64
              " for their address's connect rate, %" PRIu64 " for want of room, %" PRIu64
              " connects answered with their cookie; %" PRIu64 " datagrams with fragments refused, %" PRIu64
              " with commands the engine never sends, %" PRIu64 " sends left out for their peers to send again",
              now.timedOut, handshakeTimeoutMs, now.pushedOut, now.refusedAddress, now.refusedRate,
              now.refusedNoRoom, now.cookiesSent, now.refusedFragments, now.refusedCommands, now.commandsLeftOut);
    m_reportedGuard = now;
    m_guardReported = true;
    m_guardReportedAt = Now();
}

bool ServerConnectionManager::SendToServer(NetPacket* packet)
{
    if (!packet)
        return false;
    const int type = static_cast<int>(packet->GetType());
    std::vector<uint8_t> body;
    if (type < PACKET_TYPE_FIRST_GAME || type > PACKET_TYPE_LAST || !WriteBody(packet, body)) {
        CountUndelivered(packet, "not a game packet that can be sent");
        return false;
    }
    CountType(type, true);
    m_localPackets.push_back({type, std::move(body)});
    return true;
}

ServerConnectionManager::Link* ServerConnectionManager::FindClientLink(int host)
{
    auto it = m_clients.find(host);
    return it == m_clients.end() ? nullptr : FindLink(it->second.connection);
}

bool ServerConnectionManager::SendToClient(int host, NetPacket* packet)
{
    if (!packet)
        return false;
    Link* link = FindClientLink(host);
    if (!link) {
        CountUndelivered(packet, "no such client");
        return false;
    }
    return SendPacket(*link, packet);
}

int ServerConnectionManager::SendToAllClients(NetPacket* packet)
{
    int reached = 0;
    if (!packet)
        return 0;
    // The joined clients, not every link: peers still joining may be many more.
    for (const auto& [host, client] : m_clients)
        if (Link* link = FindLink(client.connection); link && SendPacket(*link, packet))
            ++reached;
    return reached;
}

int ServerConnectionManager::GetNumClients() const
{
    return static_cast<int>(m_clients.size());
}

std::vector<int> ServerConnectionManager::GetClientHostIds() const
{
    std::vector<int> hosts;
    for (const auto& [host, client] : m_clients)
        hosts.push_back(host);
    return hosts;
}

int ServerConnectionManager::FindFreeHostId() const
{
    for (int host = 1; host <= maxClients; ++host)
        if (m_clients.count(host) == 0)
            return host;
    return -1;
}

void ServerConnectionManager::OnLinkConnected(Link& link)
{
    if (IsNetworkLogging())
        LogPrintf(0, "Network (server): %s is connecting", link.address.c_str());
}

void ServerConnectionManager::OnLinkDisconnected(Link& link)
{
    m_hungUp.erase(link.socketConnection);
    if (!link.ready)
        return;
    m_entityList.RemoveClient(link.host);
    m_clients.erase(link.host);
    if (ShouldLog(LOG_LEAVE, std::to_string(link.host)))
        LogPrintf(2, "Network: client %d (%s) left", link.host, link.address.c_str());
}

void ServerConnectionManager::OnLinkFailing(Link& link)
{
    if (ShouldLog(LOG_DROP, link.address))
        LogPrintf(1, "Network: %s (host %d) hung up on: %u of its datagrams failed their checks",
                  link.address.c_str(), link.host, maxRefusedDatagrams);
    m_hungUp.insert(link.socketConnection);
    HangUp(link);
}

void ServerConnectionManager::Refuse(Link& link, NetworkConnection::RefuseReason reason, const uint8_t* body,
                                     size_t size)
{
    std::vector<uint8_t> datagram;
    link.connection.RefuseConnectRequest(body, size, reason, datagram);
    SendDatagram(link, datagram);
    m_hungUp.insert(link.socketConnection);
    HangUp(link);
}

bool ServerConnectionManager::TakeHandshake(const std::string& host)
{
    const uint32_t now = static_cast<uint32_t>(Now());
    if (m_handshakes.Refill(handshakesPerSecond, handshakesPerSecond, now) < 1.0)
        return false;
    if (m_maxPeersPerAddress > 0) {
        const double burst = static_cast<double>(m_maxPeersPerAddress);
        auto [it, added] = m_addressHandshakes.try_emplace(host, RateBucket(burst, now));
        if (!it->second.Take(handshakesPerAddressPerSecond, burst, now))
            return false;
    }
    m_handshakes.Take(handshakesPerSecond, handshakesPerSecond, now);
    auto [share, added] = m_handshakeShares.try_emplace(host, RateBucket(handshakeShareMemory, now));
    share->second.Charge(kShareRate, handshakeShareMemory, now, 1.0, 0.0);
    return true;
}

void ServerConnectionManager::HandleConnectRequest(Link& link, const uint8_t* body, size_t size)
{
    // When others wait, it takes its turn among them (AnswerDeferredRequests, this same frame).
    std::string host = HostOf(link.address);
    if (!m_deferredRequests.empty() || !TakeHandshake(host)) {
        m_deferredRequests.push_back({link.socketConnection, std::move(host), std::vector<uint8_t>(body, body + size)});
        return;
    }
    AnswerConnectRequest(link, body, size);
}

void ServerConnectionManager::AnswerDeferredRequests()
{
    const uint32_t now = static_cast<uint32_t>(Now());
    if (!m_deferredRequests.empty() && m_handshakes.Refill(handshakesPerSecond, handshakesPerSecond, now) >= 1.0)
        AnswerWaitingRequests(now);
    if (Since(m_addressHandshakesPrunedAt) >= 1000) {
        m_addressHandshakesPrunedAt = Now();
        for (auto it = m_addressHandshakes.begin(); it != m_addressHandshakes.end();)
            it = it->second.IsFull(handshakesPerAddressPerSecond, m_maxPeersPerAddress, now)
                     ? m_addressHandshakes.erase(it)
                     : std::next(it);
        for (auto it = m_handshakeShares.begin(); it != m_handshakeShares.end();)
            it = it->second.IsFull(kShareRate, handshakeShareMemory, now) ? m_handshakeShares.erase(it) : std::next(it);
    }
}

void ServerConnectionManager::AnswerWaitingRequests(uint32_t now)
{
    // Those whose peers left or were told to go meanwhile go, in one pass (there may be as many as
    // there are joining slots).
    std::erase_if(m_deferredRequests, [this](const DeferredRequest& request) {
        return !FindLink(request.connection) || m_hungUp.count(request.connection) != 0;
    });

    // Then, while the server's budget lasts, the request of the address that had the fewest key
    // agreements lately (of those whose own allowance is not spent), the oldest among equals: a
    // newcomer goes before addresses that keep the server busy, however many they are and however
    // long they have queued.
    struct Standing
    {
        bool allowed;
        double share; // higher: fewer lately
    };
    std::vector<Standing> standing(m_deferredRequests.size());
    for (size_t i = 0; i < m_deferredRequests.size(); ++i) {
        const std::string& host = m_deferredRequests[i].host;
        const auto share = m_handshakeShares.find(host);
        standing[i].share = share == m_handshakeShares.end()
                                ? handshakeShareMemory
                                : share->second.Refill(kShareRate, handshakeShareMemory, now);
        const auto allowance = m_addressHandshakes.find(host);
        standing[i].allowed = m_maxPeersPerAddress <= 0 || allowance == m_addressHandshakes.end() ||
                              allowance->second.Refill(handshakesPerAddressPerSecond, m_maxPeersPerAddress, now) >= 1.0;
    }
    while (!m_deferredRequests.empty() &&
           m_handshakes.Refill(handshakesPerSecond, handshakesPerSecond, now) >= 1.0) {
        size_t best = m_deferredRequests.size();
        for (size_t i = 0; i < m_deferredRequests.size(); ++i)
            if (standing[i].allowed && (best == m_deferredRequests.size() || standing[i].share > standing[best].share))
                best = i;
        if (best == m_deferredRequests.size())
            break;
        Link* link = FindLink(m_deferredRequests[best].connection);
        if (link && !TakeHandshake(m_deferredRequests[best].host)) {
            standing[best].allowed = false; // its address's allowance is spent after all: a later frame
            continue;
        }
        const DeferredRequest request = std::move(m_deferredRequests[best]);
        m_deferredRequests.erase(m_deferredRequests.begin() + static_cast<std::ptrdiff_t>(best));
        standing.erase(standing.begin() + static_cast<std::ptrdiff_t>(best));
        if (!link)
            continue;
        // The address's other requests stand where its allowance and share now put them.
        const auto allowance = m_addressHandshakes.find(request.host);
        const auto share = m_handshakeShares.find(request.host);
        for (size_t i = 0; i < m_deferredRequests.size(); ++i)
            if (m_deferredRequests[i].host == request.host) {
                standing[i].share = share->second.GetTokens();
                standing[i].allowed = allowance == m_addressHandshakes.end() || allowance->second.GetTokens() >= 1.0;
            }
        AnswerConnectRequest(*link, request.body.data(), request.body.size());
    }
}

void ServerConnectionManager::AnswerConnectRequest(Link& link, const uint8_t* body, size_t size)
{
    if (m_hungUp.count(link.socketConnection) != 0)
        return; // told to go already
    const int host = FindFreeHostId();
    if (host < 0) {
        if (ShouldLog(LOG_REFUSAL, HostOf(link.address)))
            LogPrintf(2, "Network: %s refused: the server is full (%d clients)", link.address.c_str(),
                      maxClients);
        Refuse(link, NetworkConnection::REFUSE_SERVER_FULL, body, size);
        return;
    }
    std::vector<uint8_t> accept;
    NetworkConnection::RefuseReason reason = NetworkConnection::REFUSE_HANDSHAKE_FAILED;
    if (link.connection.AcceptConnectRequest(body, size, static_cast<uint8_t>(host), accept, &reason) !=
        NetworkConnection::RESULT_OK) {
        if (ShouldLog(LOG_REFUSAL, HostOf(link.address)))
            LogPrintf(2, "Network: %s refused: %s", link.address.c_str(),
                      reason == NetworkConnection::REFUSE_PROTOCOL_VERSION
                          ? "another protocol version"
                          : "its connect request is unusable");
        Refuse(link, reason, nullptr, 0);
        return;
    }
    // Before the accept leaves: the client may send anything once it has it.
    if (Socket* socket = GetSocket())
        socket->Establish(link.socketConnection);
    if (!SendDatagram(link, accept)) {
        HangUp(link);
        return;
    }
    link.host = host;
    link.ready = true;
    m_entityList.AddClient(host);
    ClientState& client = m_clients[host];
    client = ClientState();
    client.connection = link.socketConnection;
    client.address = HostOf(link.address);
    client.spawns = RateBucket(m_spawnsPerSecond, static_cast<uint32_t>(Now()));
    if (ShouldLog(LOG_JOIN, std::to_string(host)))
        LogPrintf(2, "Network: client %d joined from %s", host, link.address.c_str());
}

void ServerConnectionManager::HandleClientView(Link& link, const uint8_t* body, size_t size)
{
    auto it = m_clients.find(link.host);
    if (it == m_clients.end())
        return;
    ClientState& client = it->second;
    RegionId regionId;
    Frustum frustum;
    if (!ClientView::Read(body, size, regionId, frustum)) {
        link.connection.CountUnreadable();
        if (ShouldLog(LOG_UNREADABLE_VIEW, link.address))
            LogPrintf(IsNetworkLogging() ? 0 : 1, "Network: unreadable view from client %d dropped%s",
                      link.host, IsNetworkLogging() ? "" : "; more from it are only counted for a while");
        return;
    }
    // Only the latest counts; ApplyViews hands it on.
    ++m_viewsReceived;
    client.viewWaiting = true;
    client.viewRegion = regionId;
    client.viewFrustum = std::move(frustum);
}

void ServerConnectionManager::ApplyViews()
{
    NetworkWorldServices& world = NetworkWorldServices::Current();
    for (auto& [host, client] : m_clients) {
        if (client.viewWaiting && (!client.viewApplied || Since(client.viewAppliedAt) >= viewIntervalMs)) {
            client.viewWaiting = false;
            Region* region = nullptr;
            if (!client.viewRegion.IsInvalid()) {
                region = world.FindRegion(client.viewRegion, true);
                if (!region) {
                    if (!client.reportedUnknownRegion && ShouldLog(LOG_UNKNOWN_REGION, std::to_string(host)))
                        LogPrintf(1,
                                  "Network: client %d views a region this server does not have; its view is "
                                  "ignored",
                                  host);
                    client.reportedUnknownRegion = true;
                    continue;
                }
            }
            const WorldFrustum view(region, client.viewFrustum);
            client.viewApplied = true;
            client.viewAppliedAt = Now();
            client.hasRegion = true;
            client.region = client.viewRegion;
            client.regionText = region ? "region '" + world.GetRegionName(region) + "'" : "no region";
            client.planes = client.viewFrustum.GetNumPlanes();
            ++m_viewsApplied;
            if (IsNetworkLogging())
                LogPrintf(0, "Network: client %d views %s (%zu planes)", host, client.regionText.c_str(),
                          client.planes);
            PeerLineGate gate(*this, LOG_VIEW_LINES, host);
            if (m_viewHandler)
                m_viewHandler(host, view);
            else
                m_entityList.UpdateFrustum(host, view);
        }
        // A change of region, at most once a second: the last one stands out when a client
        // crosses many quickly.
        if (client.hasRegion && (!client.regionLogged || client.loggedRegion != client.region) &&
            (!client.regionLogged || Since(client.regionLoggedAt) >= regionLogIntervalMs)) {
            if (!IsNetworkLogging() && ShouldLog(LOG_REGION_CHANGE, std::to_string(host)))
                LogPrintf(0, "Network: client %d views %s (%zu planes)", host, client.regionText.c_str(),
                          client.planes);
            client.regionLogged = true;
            client.loggedRegion = client.region;
            client.regionLoggedAt = Now();
        }
    }
}

const char* ServerConnectionManager::CheckSpawns(int host, ClientState& client,
                                                 ObjectInteractionPacket& packet, size_t spawns)
{
    NetworkWorldServices& world = NetworkWorldServices::Current();
    for (size_t i = 0; i < packet.GetNumIds(); ++i) {
        SmartObjectId* id = packet.GetId(i);
        if (!id->ShouldReplicate())
            continue;
        if (static_cast<int>(id->GetId() >> ObjectManager::kHostShift) != host)
            return "an object id of another host";
        const WorldCoords& coords = id->GetSpawnCoords();
        // Read() has refused axes that are not finite; a rotation's are unit vectors at right
        // angles, and z is x across y.
        const Vec3& x = coords.GetXAxis();
        const Vec3& y = coords.GetYAxis();
        const Vec3& z = coords.GetZAxis();
        for (const Vec3* axis : {&x, &y, &z})
            if (!(std::fabs(axis->Length() - 1.0f) <= spawnAxisTolerance))
                return "an orientation whose axes are not unit vectors";
        if (!(std::fabs(Vec3::Dot(x, y)) <= spawnAxisTolerance && std::fabs(Vec3::Dot(y, z)) <= spawnAxisTolerance &&
              std::fabs(Vec3::Dot(z, x)) <= spawnAxisTolerance))
            return "an orientation whose axes are not at right angles";
        if (!(Vec3::Dot(Vec3::Cross(x, y), z) > 0.0f))
            return "a mirrored orientation";
        const Region* region = coords.GetRegion();
        if (!region)
            return "a place in no region of this world";
        // Read() has refused numbers that are not finite; the place must lie in its region.
        const ABBox box = RegionServices::BoundingBox(region);
        const ABBox slack(box.center,
                          box.extents + Vec3(spawnBoundsMargin, spawnHeightMargin, spawnBoundsMargin));
        if (!slack.ContainsPoint(coords.GetOrigin().GetRegionPosition()))
            return "a place outside its region";
        // Entering a region whose level is not in would load it here, on the main thread.
        if (!world.IsRegionLoaded(region))
            return "a place in a region whose level is not loaded";
        // Asked before the record's table is loaded: the depot keeps one for every name it is
        // asked for, found or not, and one for every spelling of a name.
        std::string stored;
        if (!world.FindEntityRecord(id->GetRecordName(), stored))
            return "a record this server does not have or that makes no entity";
        id->SetRecordName(stored);
    }
    // The allowance refills at the rate, up to a second's worth.
    const double rate = static_cast<double>(m_spawnsPerSecond);
    if (!client.spawns.Take(rate, rate, static_cast<uint32_t>(Now()), static_cast<double>(spawns)))
        return "more objects than its spawn limit allows";
    // What its address holds, with what the packet adds.
    std::set<unsigned> adding;
    {
        const auto held = m_clientObjects.find(client.address);
        for (size_t i = 0; i < packet.GetNumIds(); ++i)
            if (const SmartObjectId* id = packet.GetId(i);
                id->ShouldReplicate() && (held == m_clientObjects.end() || held->second.ids.count(id->GetId()) == 0))
                adding.insert(id->GetId());
    }
    if (!RoomForObjects(client, adding.size()))
        return "more objects than it may hold at once";
    NetworkControllerBase* controller = GetController();
    if (!controller || !controller->AcceptClientSpawns(host, &packet))
        return "the game did not accept them";
    std::set<unsigned>& held = m_clientObjects[client.address].ids;
    const size_t before = held.size();
    held.insert(adding.begin(), adding.end());
    CountHeld(before, held.size());
    return nullptr;
}

void ServerConnectionManager::SetClientObjectLimit(int count)
{
    m_objectLimit = count < 0 ? 0 : count;
    // The line between the pools moved: what each address takes from the shared one, anew.
    m_sharedObjectCount = 0;
    for (const auto& [address, objects] : m_clientObjects)
        m_sharedObjectCount += SharedPart(objects.ids.size());
}

size_t ServerConnectionManager::SharedPart(size_t held) const
{
    const size_t limit = static_cast<size_t>(m_objectLimit);
    return held > limit ? held - limit : 0;
}

void ServerConnectionManager::CountHeld(size_t before, size_t after)
{
    m_clientObjectCount = m_clientObjectCount - before + after;
    m_sharedObjectCount = m_sharedObjectCount - SharedPart(before) + SharedPart(after);
}

bool ServerConnectionManager::RoomForObjects(const ClientState& client, size_t adding)
{
    // Each client joined from the address brings its own limit; one that left takes it along and
    // leaves its objects counted.
    size_t present = 0;
    for (const auto& [host, other] : m_clients)
        present += other.address == client.address ? 1 : 0;
    const size_t limit = static_cast<size_t>(m_objectLimit) * std::max<size_t>(present, 1);
    const size_t baseTotal = static_cast<size_t>(m_objectTotal);
    const size_t sharedTotal = static_cast<size_t>(maxClients - 1) * static_cast<size_t>(m_objectLimit);
    auto held = m_clientObjects.find(client.address);
    auto heldCount = [&] { return held == m_clientObjects.end() ? size_t(0) : held->second.ids.size(); };
    auto addressFits = [&] { return heldCount() + adding <= limit; };
    // The address's first client limit comes from the base pool, the rest from the shared one.
    auto poolsFit = [&] {
        const size_t before = heldCount(), after = before + adding;
        const size_t shared = m_sharedObjectCount - SharedPart(before) + SharedPart(after);
        const size_t base = (m_clientObjectCount - m_sharedObjectCount) - (before - SharedPart(before)) +
                            (after - SharedPart(after));
        return base <= baseTotal && shared <= sharedTotal;
    };
    if (addressFits() && poolsFit())
        return true;
    // The ids of objects gone let go: the address's own, then (when a pool is what is full)
    // everybody's. Each costs a lookup, so not more often than the intervals.
    if (held != m_clientObjects.end() && (!held->second.pruned || Since(held->second.prunedAt) >= objectPruneIntervalMs)) {
        PruneObjects(held);
        held = m_clientObjects.find(client.address);
    }
    if (addressFits() && !poolsFit() &&
        (!m_allObjectsPruned || Since(m_allObjectsPrunedAt) >= objectTotalPruneIntervalMs)) {
        m_allObjectsPruned = true;
        m_allObjectsPrunedAt = Now();
        for (auto it = m_clientObjects.begin(); it != m_clientObjects.end();)
            PruneObjects(it++);
        held = m_clientObjects.find(client.address);
    }
    return addressFits() && poolsFit();
}

void ServerConnectionManager::PruneObjects(std::map<std::string, AddressObjects>::iterator address)
{
    ObjectManager* objects = ObjectManager::Get();
    AddressObjects& entry = address->second;
    const size_t before = entry.ids.size();
    std::erase_if(entry.ids, [objects](unsigned id) { return objects->GetObject(id) == nullptr; });
    CountHeld(before, entry.ids.size());
    entry.pruned = true;
    entry.prunedAt = Now();
    if (entry.ids.empty())
        m_clientObjects.erase(address);
}

void ServerConnectionManager::ScreenReplication(int host, NetPacket* packet)
{
    if (host == serverHostId)
        return; // what the server sent itself
    auto* interaction = dynamic_cast<ObjectInteractionPacket*>(packet);
    const size_t spawns = interaction ? interaction->GetNumSpawns() : 0;
    if (spawns == 0)
        return;
    auto it = m_clients.find(host);
    const char* why = "it is not a client";
    if (it != m_clients.end()) {
        // What the world and the game log while they are asked.
        PeerLineGate gate(*this, LOG_PACKET_LINES, host);
        why = CheckSpawns(host, it->second, *interaction, spawns);
    }
    if (!why)
        return;
    interaction->RefuseReplication();
    m_refusedSpawns += spawns;
    if (ShouldLog(LOG_SPAWN_REFUSAL, std::to_string(host)))
        LogPrintf(IsNetworkLogging() ? 0 : 1,
                  "Network: %zu objects client %d asked to make in %s refused: %s%s", spawns, host,
                  packet->GetTypeName(), why,
                  IsNetworkLogging() ? "" : "; later refusals are only counted for a while");
}

void ServerConnectionManager::OnControlPacket(Link& link, const NetPacketHeader& header, const uint8_t* body,
                                              size_t size)
{
    switch (header.type) {
    case PACKET_TYPE_CONNECT_REQUEST:
        HandleConnectRequest(link, body, size);
        return;
    case PACKET_TYPE_CLIENT_VIEW:
        HandleClientView(link, body, size);
        return;
    default:
        ConnectionManager::OnControlPacket(link, header, body, size);
        return;
    }
}

void ServerConnectionManager::DumpHostTable() const
{
    ConnectionManager::DumpHostTable();
    m_entityList.DebugRender();
}

void ServerConnectionManager::DumpStats() const
{
    ConnectionManager::DumpStats();
    const Socket::GuardStats guard = GetGuardStats();
    LogPrintf(0,
              "  clients: %" PRIu64 " views received, %" PRIu64 " handed on, %" PRIu64
              " objects refused; peers that did not join: %" PRIu64 " dropped, %" PRIu64
              " pushed out, %" PRIu64 " refused for their address, %" PRIu64 " for its connect rate, %" PRIu64
              " for want of room, %" PRIu64 " fragment datagrams refused, %" PRIu64
              " datagrams with commands the engine never sends; %zu join requests waiting",
              m_viewsReceived, m_viewsApplied, m_refusedSpawns, guard.timedOut, guard.pushedOut,
              guard.refusedAddress, guard.refusedRate, guard.refusedNoRoom, guard.refusedFragments,
              guard.refusedCommands, m_deferredRequests.size());
}

} // namespace GAME
