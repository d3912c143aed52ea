#include "network/ClientConnectionManager.h"

#include "core/EventManager.h"
#include "core/GameEvent.h"
#include "core/Log.h"
#include "core/ObjectManager.h"
#include "network/ClientView.h"
#include "network/NetPacket.h"
#include "network/Socket.h"

namespace GAME {

namespace {

const char* RefusalText(uint8_t reason)
{
    switch (reason) {
    case NetworkConnection::REFUSE_SERVER_FULL:
        return "the server is full";
    case NetworkConnection::REFUSE_PROTOCOL_VERSION:
        return "the server speaks another protocol version";
    default:
        return "the server could not use the connect request";
    }
}

} // namespace

ClientConnectionManager::~ClientConnectionManager()
{
    CloseSession(0);
}

bool ClientConnectionManager::Connect(const char* address, int port)
{
    if (GetSocket())
        Shutdown();
    m_state = STATE_IDLE;
    SetLocalHostID(-1);
    m_serverAddress = address ? address : "";
    m_serverPort = port;
    m_server = m_serverAddress + ":" + std::to_string(port);
    m_endReason.clear();
    if (!address) {
        m_endReason = "no server address was given";
        return false;
    }
    if (!OpenConnection())
        return false;
    m_state = STATE_CONNECTING;
    m_joinRetries = 0;
    m_retryJoin = false;
    m_stateSince = Now();
    m_closeSession = false;
    m_unverifiedRefusal = 0;
    m_reportedView.clear();
    m_lastViewReport = Now() - viewReportIntervalMs;
    LogPrintf(2, "Network: connecting to server %s", m_server.c_str());
    return true;
}

bool ClientConnectionManager::OpenConnection()
{
    Socket* socket = OpenSocket();
    const uint32_t connection = socket->Connect(m_serverAddress.c_str(), m_serverPort);
    if (connection == 0) {
        m_endReason = socket->GetConnectError().empty() ? "the connection could not be opened"
                                                        : socket->GetConnectError();
        CloseSession(0);
        LogPrintf(2, "Network: cannot connect to server %s port %d",
                  m_serverAddress.empty() ? "(none)" : m_serverAddress.c_str(), m_serverPort);
        return false;
    }
    AddLink(connection).address = m_server;
    return true;
}

void ClientConnectionManager::Shutdown()
{
    if (m_state != STATE_IDLE) {
        LogPrintf(2, "Network: disconnected from server %s", m_server.c_str());
        m_endReason = "this game closed it";
        EndSession();
    }
    m_closeSession = false;
    m_retryJoin = false;
    ConnectionManager::Shutdown();
}

void ClientConnectionManager::EndSession()
{
    // The host id stays: the game goes on numbering its objects under it (Engine.h says why).
    m_state = STATE_IDLE;
    ++m_sessionsEnded;
}

void ClientConnectionManager::Abort(const char* why)
{
    if (m_state == STATE_IDLE)
        return;
    LogPrintf(2, "Network: the session with server %s ended: %s", m_server.c_str(), why);
    m_endReason = why;
    EndSession();
    ++m_aborts;
    m_closeSession = true;
    GameEvent event;
    if (EventManager* events = EventManager::Get())
        events->Send(&event, "GameEvent_NetworkConnectAbort");
}

void ClientConnectionManager::AbortJoin(const char* why)
{
    if (m_unverifiedRefusal == 0) {
        Abort(why);
        return;
    }
    const std::string text = std::string(why) + " (an unverified refusal said: " +
                             RefusalText(static_cast<uint8_t>(m_unverifiedRefusal)) + ")";
    Abort(text.c_str());
}

void ClientConnectionManager::Update(int elapsedMs)
{
    ConnectionManager::Update(elapsedMs);
    if (m_state == STATE_CONNECTING && Since(m_stateSince) > handshakeTimeoutMs)
        AbortJoin("no answer in time");
    if (m_retryJoin && m_state == STATE_CONNECTING) {
        m_retryJoin = false;
        m_closeSession = false;
        if (!OpenConnection())
            Abort("the connection could not be opened again");
        return;
    }
    m_retryJoin = false;
    if (m_closeSession) {
        m_closeSession = false;
        CloseSession(0);
        return;
    }
    if (m_state != STATE_CONNECTED)
        return;
    if (!m_view.empty() && m_view != m_reportedView && Since(m_lastViewReport) >= viewReportIntervalMs)
        for (auto& [id, link] : GetLinks())
            if (link->ready && SendControl(*link, PACKET_TYPE_CLIENT_VIEW, m_view)) {
                m_reportedView = m_view;
                m_lastViewReport = Now();
            }
}

void ClientConnectionManager::SetLocalView(const WorldFrustum& view)
{
    std::vector<uint8_t> body;
    if (ClientView::Write(view, body))
        m_view.swap(body);
}

bool ClientConnectionManager::SendViewFrustum(const WorldFrustum& view)
{
    std::vector<uint8_t> body;
    if (m_state != STATE_CONNECTED || !ClientView::Write(view, body))
        return false;
    for (auto& [id, link] : GetLinks())
        if (link->ready && SendControl(*link, PACKET_TYPE_CLIENT_VIEW, body)) {
            m_reportedView = body;
            m_lastViewReport = Now();
            return true;
        }
    return false;
}

bool ClientConnectionManager::SendToServer(NetPacket* packet)
{
    if (!packet)
        return false;
    if (m_state == STATE_CONNECTED)
        for (auto& [id, link] : GetLinks())
            if (link->ready)
                return SendPacket(*link, packet);
    CountUndelivered(packet, "not connected to a server");
    return false;
}

void ClientConnectionManager::OnLinkConnected(Link& link)
{
    link.host = 0; // the server
    std::vector<uint8_t> request;
    if (!link.connection.MakeConnectRequest(request)) {
        Abort("the connect request could not be made");
        HangUp(link);
    } else if (!SendDatagram(link, request)) {
        HangUp(link); // the server let the connection go already: its disconnect decides what follows
    }
}

void ClientConnectionManager::OnLinkDisconnected(Link& link)
{
    if (link.ready) {
        Abort(link.peerClosed ? "the server ended its session" : "the connection was lost or closed by the server");
    } else if (m_state == STATE_CONNECTING && m_unverifiedRefusal == 0 && m_joinRetries < maxJoinRetries &&
               Since(m_stateSince) < handshakeTimeoutMs) {
        // Whether or not the transport had come up: a busy server pushes out first the peers
        // still in the transport's handshake, which on a long lossy link are honest ones whose
        // answer was lost.
        ++m_joinRetries;
        m_retryJoin = true;
        LogPrintf(1, "Network: the connection to server %s ended before it answered; asking again",
                  m_server.c_str());
    } else {
        AbortJoin("the server did not answer");
    }
    m_closeSession = true;
}

void ClientConnectionManager::OnControlPacket(Link& link, const NetPacketHeader& header, const uint8_t* body,
                                              size_t size)
{
    if (header.type == PACKET_TYPE_CONNECT_ACCEPT && !link.ready) {
        link.ready = true;
        const int earlier = m_sessionHostId.load(std::memory_order_acquire);
        const int host = link.connection.GetLocalHostId();
        SetLocalHostID(host);
        m_sessionHostId.store(host, std::memory_order_release);
        // The game's own objects carry the host id of the session before (it numbered under it
        // while alone too), which this server may have given another client: they move under
        // this session's before its packets, which follow this one, can meet them.
        if (earlier >= 0 && earlier != host)
            ObjectManager::Get()->RenumberHost(static_cast<unsigned>(earlier), static_cast<unsigned>(host));
        m_state = STATE_CONNECTED;
        m_stateSince = Now();
        LogPrintf(2, "Network: connected to server %s as host %d", m_server.c_str(), GetLocalHostID());
        return;
    }
    if (header.type == PACKET_TYPE_CONNECT_REFUSE && !link.ready) {
        if (size == NetworkConnection::authenticatedRefusalBodySize) {
            // Authenticated under the keys of our own request: the server we asked said no.
            Abort(RefusalText(body[0]));
            HangUp(link);
            return;
        }
        if (m_unverifiedRefusal == 0)
            LogPrintf(1,
                      "Network: a refusal without authentication from %s (%s) is not taken on its word; "
                      "waiting for the server's answer",
                      m_server.c_str(), RefusalText(size == 1 ? body[0] : 0));
        m_unverifiedRefusal =
            size == 1 && body[0] != 0 ? int(body[0]) : int(NetworkConnection::REFUSE_HANDSHAKE_FAILED);
        return;
    }
    ConnectionManager::OnControlPacket(link, header, body, size);
}

void ClientConnectionManager::DumpHostTable() const
{
    ConnectionManager::DumpHostTable();
    LogPrintf(0, "  server %s: %s", m_server.empty() ? "(none)" : m_server.c_str(),
              m_state == STATE_CONNECTED    ? "connected"
              : m_state == STATE_CONNECTING ? "connecting"
                                            : "not connected");
}

} // namespace GAME
