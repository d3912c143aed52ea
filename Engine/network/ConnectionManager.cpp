#include "network/ConnectionManager.h"

#include "core/Log.h"
#include "core/Time.h"
#include "network/NetPacket.h"
#include "network/NetPacketBuffer.h"
#include "network/NetworkControllerBase.h"
#include "network/NetworkPacketCreatorBase.h"
#include "network/Socket.h"
#include "network/SpawnActorPacket.h"

#include <algorithm>
#include <chrono>
#include <cinttypes>

namespace GAME {

ConnectionManager::ConnectionManager(int localHostId) : m_localHostId(localHostId) {}

ConnectionManager::~ConnectionManager()
{
    // No notice: a manager going away without Shutdown is the end of the process.
    CloseSession(0);
}

void ConnectionManager::Update(int)
{
    PumpSocket();
    ReportUnlogged();
}

int ConnectionManager::Now()
{
    return GetMachineTime();
}

int ConnectionManager::Since(int then)
{
    const int elapsed =
        static_cast<int>(static_cast<unsigned>(GetMachineTime()) - static_cast<unsigned>(then));
    return elapsed > 0 ? elapsed : 0;
}

void ConnectionManager::Shutdown()
{
    CloseSession(m_shutdownLingerMs);
}

void ConnectionManager::SetTimeout(unsigned milliseconds)
{
    m_timeoutMs = milliseconds;
    if (m_socket)
        m_socket->SetTimeout(milliseconds);
}

Socket* ConnectionManager::OpenSocket()
{
    CloseSession(0);
    m_socket.reset(new Socket);
    m_socket->SetTimeout(m_timeoutMs);
    return m_socket.get();
}

void ConnectionManager::CloseSession(unsigned lingerMs)
{
    if (m_socket) {
        m_socket->Close(lingerMs);
        m_closedLinkStats.sendsLost += m_socket->GetUnsentAtClose();
    }
    m_socket.reset();
    m_lastTaken = 0;
    for (auto& [id, link] : m_links)
        m_closedLinkStats.Add(link->connection.GetStats());
    m_links.clear();
}

ConnectionManager::Link& ConnectionManager::AddLink(uint32_t socketConnection)
{
    std::unique_ptr<Link>& slot = m_links[socketConnection];
    if (!slot)
        slot.reset(new Link(GetRole() == ROLE_CLIENT ? NetworkConnection::SIDE_CLIENT
                                                     : NetworkConnection::SIDE_SERVER));
    slot->socketConnection = socketConnection;
    slot->since = Now();
    return *slot;
}

ConnectionManager::Link* ConnectionManager::FindLink(uint32_t socketConnection)
{
    auto it = m_links.find(socketConnection);
    return it == m_links.end() ? nullptr : it->second.get();
}

void ConnectionManager::HangUp(Link& link)
{
    if (m_socket)
        m_socket->Disconnect(link.socketConnection);
}

void ConnectionManager::PumpSocket()
{
    const auto start = std::chrono::steady_clock::now();
    const auto budget = std::chrono::microseconds(pumpBudgetMicroseconds);
    // This side says itself what it is done with (before it first takes anything).
    if (m_socket && m_lastTaken == 0)
        m_socket->Handled(0);
    // The socket hands over one connection's record after the other's, each connection's in order:
    // they are acted on as they come until the frame's share is spent, and the rest waits in the
    // socket (where a connection past its share leaves its datagrams with the transport, which
    // makes its sender wait). So a flooding link costs the frame no more than its share and holds
    // up no other, however much it keeps waiting. A hook may close the session: the socket is
    // looked at again for every event.
    Socket::Event event;
    while (m_socket && m_socket->Receive(event)) {
        m_lastTaken = event.record;
        HandleSocketEvent(event);
        if (std::chrono::steady_clock::now() - start >= budget)
            break;
    }
    if (m_socket)
        m_socket->Handled(m_lastTaken);
}

void ConnectionManager::HandleSocketEvent(const Socket::Event& event)
{
    switch (event.kind) {
    case Socket::EVENT_CONNECTED: {
        Link& link = AddLink(event.connection);
        link.address.assign(event.data.begin(), event.data.end());
        OnLinkConnected(link);
        break;
    }
    case Socket::EVENT_DISCONNECTED: {
        auto it = m_links.find(event.connection);
        if (it == m_links.end())
            break;
        std::unique_ptr<Link> link = std::move(it->second);
        m_links.erase(it);
        m_closedLinkStats.Add(link->connection.GetStats());
        link->peerClosed = event.data.size() == 1 && event.data[0] == Socket::disconnectClosed;
        OnLinkDisconnected(*link);
        break;
    }
    case Socket::EVENT_RECEIVED:
        if (Link* link = FindLink(event.connection))
            HandleDatagram(*link, event.data);
        break;
    case Socket::EVENT_SEND_LOST:
        if (Link* link = FindLink(event.connection))
            link->connection.CountSendLost();
        else
            m_closedLinkStats.sendsLost++;
        break;
    }
}

void ConnectionManager::OnControlPacket(Link& link, const NetPacketHeader& header, const uint8_t*, size_t)
{
    link.connection.CountUnreadable();
    if (ShouldLog(LOG_UNKNOWN_CONTROL, link.address))
        LogPrintf(m_networkLogging ? 0 : 1,
                  "Network (%s): control packet of type %d from host %d (%s) ignored%s", GetRoleName(),
                  header.type, link.host, link.address.c_str(),
                  m_networkLogging ? "" : "; more from it are only counted for a while");
}

void ConnectionManager::ReportDrop(Link& link, NetworkConnection::Result result, size_t size)
{
    const unsigned bit = 1u << static_cast<unsigned>(result);
    const bool first = (link.reported & bit) == 0 && !m_networkLogging && TakeLogLine();
    if (first)
        link.reported |= bit;
    if (first || m_networkLogging)
        LogPrintf(first ? 1 : 0, "Network (%s): %s datagram of %zu bytes from %s (host %d) dropped%s",
                  GetRoleName(), NetworkConnection::GetResultText(result), size, link.address.c_str(),
                  link.host, first ? "; later ones are only counted" : "");
    else
        CountUnlogged(LOG_DROP);
}

bool ConnectionManager::TakeLogLine()
{
    if (m_networkLogging)
        return true;
    StartInterval();
    if (m_linesWritten >= maxLinesPerInterval)
        return false;
    ++m_linesWritten;
    return true;
}

bool ConnectionManager::ShouldLog(LogKind kind, const std::string& who, int priority)
{
    // Past this many peers in one interval, every further one is counted only.
    constexpr size_t maxLoggedPeers = 256;
    if (m_networkLogging)
        return true;
    StartInterval();
    const std::pair<int, std::string> key(kind, who);
    if (m_logged.size() < maxLoggedPeers && m_logged.count(key) == 0 && TakeLogLine()) {
        m_logged.insert(key);
        return true;
    }
    CountUnlogged(kind, priority);
    return false;
}

ConnectionManager::PeerLineGate::PeerLineGate(ConnectionManager& manager, LogKind kind, int host)
    : m_manager(manager), m_kind(kind), m_host(host),
      m_installed(manager.GetRole() == ROLE_SERVER && host != manager.GetLocalHostID())
{
    if (m_installed)
        m_previous = SetThreadLogGate(this);
}

ConnectionManager::PeerLineGate::~PeerLineGate()
{
    if (m_installed)
        SetThreadLogGate(m_previous);
}

bool ConnectionManager::PeerLineGate::Admit(int priority, unsigned int, const char*)
{
    return m_manager.ShouldLog(m_kind, std::to_string(m_host) + " at " + std::to_string(priority), priority);
}

bool ConnectionManager::SharedLineGate::Admit(int priority, unsigned int, const char*)
{
    return m_manager.ShouldLog(m_kind, "views at " + std::to_string(priority), priority);
}

void ConnectionManager::StartInterval()
{
    if (!m_summaryStarted) {
        m_summaryStarted = true;
        m_summaryAt = Now();
    }
}

void ConnectionManager::CountUnlogged(LogKind kind, int priority)
{
    // What each kind's lines are written as: a change of region is an info line; comings and
    // goings are notices; the rest warn. The world's and the game's lines come with their own.
    static constexpr int kindPriorities[] = {1, 1, 1, 2, 2, 2, 0, 1, 1, 1, 1, 1};
    static_assert(std::size(kindPriorities) == LOG_KIND_COUNT);
    StartInterval();
    ++m_unlogged[kind];
    m_unloggedPriority[kind] =
        std::max(m_unloggedPriority[kind], priority < 0 ? kindPriorities[kind] : priority);
}

void ConnectionManager::ReportUnlogged()
{
    if (!m_summaryStarted || Since(m_summaryAt) < logSummaryIntervalMs)
        return;
    static const char* const names[LOG_KIND_COUNT] = {"dropped datagrams",
                                                       "control packets of unknown types",
                                                       "unreadable views",
                                                       "joins",
                                                       "leaves",
                                                       "refusals",
                                                       "changes of region",
                                                       "views of regions not here",
                                                       "refusals of objects",
                                                       "lines about clients' packets",
                                                       "lines about clients' views",
                                                       "lines about levels clients' views loaded"};
    std::string text;
    // As noticeable as the most noticeable line it counts: one about info lines alone is an info
    // line too, which a console that leaves those out leaves out as well.
    int priority = 0;
    for (int kind = 0; kind < LOG_KIND_COUNT; ++kind)
        if (m_unlogged[kind] > 0) {
            text += (text.empty() ? "" : ", ") + std::to_string(m_unlogged[kind]) + " " + names[kind];
            priority = std::max(priority, m_unloggedPriority[kind]);
        }
    if (!text.empty())
        LogPrintf(priority, "Network (%s): not logged in the last %d s: %s", GetRoleName(),
                  Since(m_summaryAt) / 1000, text.c_str());
    m_unlogged.fill(0);
    m_unloggedPriority.fill(0);
    m_linesWritten = 0;
    m_logged.clear();
    m_summaryStarted = false;
}

void ConnectionManager::HandleDatagram(Link& link, const std::vector<uint8_t>& data)
{
    if (link.refused >= maxRefusedDatagrams && GetRole() == ROLE_SERVER)
        return; // hung up on: what it sent meanwhile is not looked at
    NetPacketHeader header;
    const uint8_t* body = nullptr;
    size_t size = 0;
    const NetworkConnection::Result result =
        link.connection.Open(data.data(), data.size(), header, body, size);
    if (result != NetworkConnection::RESULT_OK) {
        ReportDrop(link, result, data.size());
        if (++link.refused == maxRefusedDatagrams)
            OnLinkFailing(link);
        return;
    }
    if (m_networkLogging)
        LogPrintf(0, "Network (%s): received %s (type %d) from host %d, %zu bytes, sequence %u",
                  GetRoleName(), GetPacketTypeText(header.type), header.type, static_cast<int>(header.hostId),
                  data.size(), header.sequence);
    if (header.type < PACKET_TYPE_FIRST_GAME) {
        OnControlPacket(link, header, body, size);
        return;
    }
    NetPacket* packet = nullptr;
    {
        // The game's packet reads what the peer sent.
        PeerLineGate gate(*this, LOG_PACKET_LINES, link.host);
        packet = MakeGamePacket(header.type, body, size, m_packetCreator);
    }
    if (!packet) {
        link.connection.CountUnreadable();
        ReportDrop(link, NetworkConnection::RESULT_MALFORMED, data.size());
        return;
    }
    CountType(header.type, false);
    Deliver(link.host, packet);
}

NetPacket* ConnectionManager::CreatePacket(PACKET_TYPE type, NetworkPacketCreatorBase* creator)
{
    if (type < PACKET_TYPE_FIRST_GAME || type > PACKET_TYPE_LAST)
        return nullptr;
    if (creator)
        if (NetPacket* packet = creator->CreatePacket(type))
            return packet;
    if (type == PACKET_TYPE_SPAWN_ACTOR)
        return new SpawnActorPacket;
    return nullptr;
}

NetPacket* ConnectionManager::MakeGamePacket(int type, const uint8_t* body, size_t size,
                                             NetworkPacketCreatorBase* creator)
{
    NetPacket* packet = CreatePacket(static_cast<PACKET_TYPE>(type), creator);
    if (!packet)
        return nullptr;
    // The whole body, and nothing but the body, must read.
    NetPacketInBuffer in(body, size);
    if (packet->GetType() != type || !packet->Read(in) || in.Failed() || in.GetRemaining() != 0) {
        delete packet;
        return nullptr;
    }
    return packet;
}

NetPacket* ConnectionManager::ReadPacket(NetworkConnection& link, const uint8_t* data, size_t size,
                                         NetworkPacketCreatorBase* creator, NetworkConnection::Result* result,
                                         NetPacketHeader* headerOut)
{
    NetPacketHeader header;
    const uint8_t* body = nullptr;
    size_t bodySize = 0;
    NetworkConnection::Result opened = link.Open(data, size, header, body, bodySize);
    if (headerOut)
        *headerOut = header;
    NetPacket* packet = nullptr;
    if (opened == NetworkConnection::RESULT_OK && header.type >= PACKET_TYPE_FIRST_GAME) {
        packet = MakeGamePacket(header.type, body, bodySize, creator);
        if (!packet) {
            link.CountUnreadable();
            opened = NetworkConnection::RESULT_MALFORMED;
        }
    }
    if (result)
        *result = opened;
    return packet;
}

bool ConnectionManager::WriteBody(NetPacket* packet, std::vector<uint8_t>& body)
{
    NetPacketOutBuffer out;
    packet->Write(out);
    if (out.Failed() || out.GetSize() > NetPacketHeader::maxBodySize) {
        LogPrintf(1, "Network: %s (type %d) cannot be sent: its body of %zu bytes does not fit one packet",
                  packet->GetTypeName(), static_cast<int>(packet->GetType()), out.GetSize());
        return false;
    }
    body = out.GetData();
    return true;
}

bool ConnectionManager::SendDatagram(Link& link, const std::vector<uint8_t>& datagram)
{
    if (m_socket && m_socket->Send(link.socketConnection, datagram.data(), datagram.size()))
        return true;
    link.connection.CountSendLost();
    return false;
}

bool ConnectionManager::SendControl(Link& link, PACKET_TYPE type, const std::vector<uint8_t>& body)
{
    std::vector<uint8_t> datagram;
    if (!link.ready || !link.connection.Seal(static_cast<uint8_t>(type), body.data(), body.size(), datagram))
        return false;
    if (m_networkLogging)
        LogPrintf(0, "Network (%s): sent %s (type %d) to host %d, %zu bytes", GetRoleName(),
                  GetPacketTypeText(type), static_cast<int>(type), link.host, datagram.size());
    return SendDatagram(link, datagram);
}

bool ConnectionManager::SendPacket(Link& link, NetPacket* packet)
{
    std::vector<uint8_t> body;
    std::vector<uint8_t> datagram;
    const int type = static_cast<int>(packet->GetType());
    if (type < PACKET_TYPE_FIRST_GAME || type > PACKET_TYPE_LAST) {
        LogPrintf(1, "Network (%s): %s has type %d, which is not a game packet type; not sent", GetRoleName(),
                  packet->GetTypeName(), type);
        return false;
    }
    if (!link.ready || !WriteBody(packet, body) ||
        !link.connection.Seal(static_cast<uint8_t>(type), body.data(), body.size(), datagram) ||
        !SendDatagram(link, datagram))
        return false;
    CountType(type, true);
    if (m_networkLogging)
        LogPrintf(0, "Network (%s): sent %s (type %d) to host %d, %zu bytes", GetRoleName(),
                  packet->GetTypeName(), type, link.host, datagram.size());
    return true;
}

void ConnectionManager::Deliver(int host, NetPacket* packet)
{
    ScreenReplication(host, packet);
    {
        PeerLineGate gate(*this, LOG_PACKET_LINES, host);
        packet->FinishReplication();
        if (m_controller)
            m_controller->ProcessPacket(host, packet);
    }
    if (!m_controller) {
        if (!m_reportedNoController || m_networkLogging)
            LogPrintf(m_reportedNoController ? 0 : 1,
                      "Network (%s): no network controller; %s (type %d) from host %d ignored", GetRoleName(),
                      packet->GetTypeName(), static_cast<int>(packet->GetType()), host);
        m_reportedNoController = true;
    }
    delete packet;
}

void ConnectionManager::CountUndelivered(NetPacket* packet, const char* why)
{
    ++m_undeliveredPackets;
    if (m_undeliveredPackets == 1 || m_networkLogging)
        LogPrintf(m_networkLogging ? 0 : 1, "ConnectionManager (%s): %s; %s (type %d) not sent",
                  GetRoleName(), why, packet->GetTypeName(), static_cast<int>(packet->GetType()));
}

void ConnectionManager::CountType(int type, bool sent)
{
    if (!m_gatheringStatistics)
        return;
    TypeCount& count = m_typeCounts[type];
    if (sent)
        ++count.sent;
    else
        ++count.received;
}

bool ConnectionManager::SendToServer(NetPacket* packet)
{
    if (!packet)
        return false;
    CountUndelivered(packet, "no network session");
    return false;
}

NetworkLinkStats ConnectionManager::GetStats() const
{
    NetworkLinkStats total = m_closedLinkStats;
    for (const auto& [id, link] : m_links)
        total.Add(link->connection.GetStats());
    return total;
}

void ConnectionManager::DumpHostTable() const
{
    LogPrintf(0, "Host table (%s): local host %d, %zu links", GetRoleName(), GetLocalHostID(),
              m_links.size());
    for (const auto& [id, link] : m_links) {
        const NetworkLinkStats& stats = link->connection.GetStats();
        LogPrintf(0,
                  "  host %d at %s: %s, round trip %u ms, %" PRIu64 " packets sent, %" PRIu64
                  " received, %" PRIu64 " dropped",
                  link->host, link->address.c_str(), link->ready ? "connected" : "in handshake",
                  m_socket ? m_socket->GetRoundTripTime(id) : 0u, stats.packetsSent, stats.packetsReceived,
                  stats.GetDropped());
    }
}

void ConnectionManager::DumpStats() const
{
    const NetworkLinkStats s = GetStats();
    LogPrintf(0,
              "Network statistics (%s): %" PRIu64 " packets sent (%" PRIu64 " bytes; %" PRIu64
              " of them lost by the transport), %" PRIu64 " received (%" PRIu64
              " bytes), %u not delivered, gathering %s",
              GetRoleName(), s.packetsSent, s.bytesSent, s.sendsLost, s.packetsReceived, s.bytesReceived,
              m_undeliveredPackets, m_gatheringStatistics ? "on" : "off");
    LogPrintf(0,
              "  dropped: %" PRIu64 " malformed, %" PRIu64 " oversized, %" PRIu64
              " failed authentication, %" PRIu64 " replayed, %" PRIu64 " unexpected, %" PRIu64 " unreadable",
              s.droppedMalformed, s.droppedOversized, s.droppedBadAuth, s.droppedReplay, s.droppedUnexpected,
              s.droppedUnreadable);
    if (m_socket)
        LogPrintf(0,
                  "  transport: %" PRIu64 " waits for the receive queue, %" PRIu64
                  " datagrams too large for it, %" PRIu64 " service errors",
                  m_socket->GetQueueStalls(), m_socket->GetDroppedTooLarge(), m_socket->GetServiceErrors());
    for (const auto& [type, count] : m_typeCounts)
        LogPrintf(0, "  type %d (%s): %" PRIu64 " sent, %" PRIu64 " received", type, GetPacketTypeText(type),
                  count.sent, count.received);
}

} // namespace GAME
