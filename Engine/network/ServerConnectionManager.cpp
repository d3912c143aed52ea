#include "network/ServerConnectionManager.h"

#include "core/Log.h"
#include "core/WorldFrustum.h"
#include "network/ClientView.h"
#include "network/NetPacket.h"
#include "network/Socket.h"
#include "world/Region.h"
#include "world/World.h"

#include <algorithm>

namespace GAME {

ServerConnectionManager::~ServerConnectionManager()
{
    CloseSession(0);
}

bool ServerConnectionManager::Listen(const char* address, int port)
{
    Shutdown();
    Socket* socket = OpenSocket();
    // One slot more than there are host ids, so that a client too many hears why.
    if (!socket->Listen(address, port, maxClients + 1)) {
        CloseSession(0);
        return false;
    }
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

void ServerConnectionManager::Shutdown()
{
    const bool open = IsListening();
    ConnectionManager::Shutdown();
    m_entityList.RemoveAllClients();
    m_localPackets.clear();
    m_hungUp.clear();
    m_views.clear();
    m_reportedViews.clear();
    if (open)
        LogPrintf(2, "Network: server session closed");
}

void ServerConnectionManager::Update(int elapsedMs)
{
    ConnectionManager::Update(elapsedMs);
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
    for (auto& [id, link] : GetLinks())
        if (!link->ready && Since(link->since) > handshakeTimeoutMs && m_hungUp.insert(id).second) {
            LogPrintf(1, "Network: %s did not finish connecting in time; hung up", link->address.c_str());
            HangUp(*link);
        }
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

bool ServerConnectionManager::SendToClient(int host, NetPacket* packet)
{
    if (!packet)
        return false;
    Link* link = FindLinkByHost(host);
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
    for (auto& [id, link] : GetLinks())
        if (link->ready && SendPacket(*link, packet))
            ++reached;
    return reached;
}

int ServerConnectionManager::GetNumClients() const
{
    int count = 0;
    for (const auto& [id, link] : GetLinks())
        count += link->ready ? 1 : 0;
    return count;
}

std::vector<int> ServerConnectionManager::GetClientHostIds() const
{
    std::vector<int> hosts;
    for (const auto& [id, link] : GetLinks())
        if (link->ready)
            hosts.push_back(link->host);
    std::sort(hosts.begin(), hosts.end());
    return hosts;
}

int ServerConnectionManager::FindFreeHostId() const
{
    for (int host = 1; host <= maxClients; ++host) {
        bool taken = false;
        for (const auto& [id, link] : GetLinks())
            taken = taken || link->host == host;
        if (!taken)
            return host;
    }
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
    m_views.erase(link.host);
    m_reportedViews.erase(link.host);
    LogPrintf(2, "Network: client %d (%s) left", link.host, link.address.c_str());
}

void ServerConnectionManager::Refuse(Link& link, NetworkConnection::RefuseReason reason)
{
    std::vector<uint8_t> datagram;
    NetworkConnection::MakeRefusal(reason, datagram);
    SendDatagram(link, datagram);
    m_hungUp.insert(link.socketConnection);
    HangUp(link);
}

void ServerConnectionManager::HandleConnectRequest(Link& link, const uint8_t* body, size_t size)
{
    const int host = FindFreeHostId();
    if (host < 0) {
        LogPrintf(2, "Network: %s refused: the server is full (%d clients)", link.address.c_str(),
                  maxClients);
        Refuse(link, NetworkConnection::REFUSE_SERVER_FULL);
        return;
    }
    std::vector<uint8_t> accept;
    NetworkConnection::RefuseReason reason = NetworkConnection::REFUSE_HANDSHAKE_FAILED;
    if (link.connection.AcceptConnectRequest(body, size, static_cast<uint8_t>(host), accept, &reason) !=
        NetworkConnection::RESULT_OK) {
        LogPrintf(2, "Network: %s refused: %s", link.address.c_str(),
                  reason == NetworkConnection::REFUSE_PROTOCOL_VERSION ? "another protocol version"
                                                                       : "its connect request is unusable");
        Refuse(link, reason);
        return;
    }
    if (!SendDatagram(link, accept)) {
        HangUp(link);
        return;
    }
    link.host = host;
    link.ready = true;
    m_entityList.AddClient(host);
    LogPrintf(2, "Network: client %d joined from %s", host, link.address.c_str());
}

void ServerConnectionManager::HandleClientView(Link& link, const uint8_t* body, size_t size)
{
    RegionId regionId;
    Frustum frustum;
    if (!ClientView::Read(body, size, regionId, frustum)) {
        link.connection.CountUnreadable();
        LogPrintf(IsNetworkLogging() ? 0 : 1, "Network: unreadable view from client %d dropped", link.host);
        return;
    }
    Region* region = nullptr;
    if (!regionId.IsInvalid()) {
        World* world = World::GetCurrent();
        region = world ? world->GetRegionById(regionId, true) : nullptr;
        if (!region) {
            if (m_reportedViews.insert(link.host).second)
                LogPrintf(1,
                          "Network: client %d views a region this server does not have; its view is ignored",
                          link.host);
            return;
        }
    }
    const WorldFrustum view(region, frustum);
    auto known = m_views.find(link.host);
    if (known == m_views.end() || known->second != regionId || IsNetworkLogging())
        LogPrintf(0, "Network: client %d views %s%s%s (%zu planes)", link.host,
                  region ? "region '" : "no region", region ? region->GetName().c_str() : "",
                  region ? "'" : "", frustum.GetNumPlanes());
    m_views[link.host] = regionId;
    if (m_viewHandler)
        m_viewHandler(link.host, view);
    else
        m_entityList.UpdateFrustum(link.host, view);
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

} // namespace GAME
