// The connection manager of the game that hosts: host 0, listening for clients (Listen), owner of
// the entity list that records each connected client's view and entities. Main thread only.
//
// A client joins in two steps: the transport connects, then the client's CONNECT_REQUEST gets
// the lowest free host id from 1 to 15 (object ids keep the host in 4 bits) and a CONNECT_ACCEPT
// that sets the session key; a client is refused (CONNECT_REFUSE, then hung up on) when all ids
// are taken, when its protocol differs or when its key share is unusable, and hung up on when it
// has not finished the handshake within handshakeTimeoutMs. A joined client is entered in the
// entity list and leaves it when its link closes. The views clients report (CLIENT_VIEW) go to
// the view handler (the engine's UpdateFrustum), or straight to the entity list without one; a
// view naming a region this server does not have is ignored (logged once per client).
//
// What the server's own shim sends "to the server" is delivered to the host's network controller
// at the next Update, as from host 0, through the same packet creator and reader as a received
// packet.
#pragma once

#include "network/ConnectionManager.h"
#include "network/NetworkEntityList.h"
#include "world/RegionId.h"

#include <functional>
#include <set>

namespace GAME {

class ServerConnectionManager : public ConnectionManager
{
public:
    static constexpr int serverHostId = 0;
    static constexpr int maxClients = 15;
    static constexpr int handshakeTimeoutMs = 10000;

    using ViewHandler = std::function<void(int host, const WorldFrustum& view)>;

    ServerConnectionManager() : ConnectionManager(serverHostId) {}
    ~ServerConnectionManager() override;

    Role GetRole() const override { return ROLE_SERVER; }
    const char* GetRoleName() const override { return "server"; }
    void Update(int elapsedMs) override;
    // Tells every client, closes the socket and forgets every client.
    void Shutdown() override;
    bool SendToServer(NetPacket* packet) override;
    void DumpHostTable() const override;
    NetworkEntityList* GetNetworkEntityList() override { return &m_entityList; }

    // Opens the session: binds to the address ("" or null: every address) and port (0: one the
    // system picks; GetPort tells which). A session already open is closed first.
    bool Listen(const char* address, int port);
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

protected:
    void OnLinkConnected(Link& link) override;
    void OnLinkDisconnected(Link& link) override;
    void OnControlPacket(Link& link, const NetPacketHeader& header, const uint8_t* body,
                         size_t size) override;

private:
    void Refuse(Link& link, NetworkConnection::RefuseReason reason);
    void HandleConnectRequest(Link& link, const uint8_t* body, size_t size);
    void HandleClientView(Link& link, const uint8_t* body, size_t size);
    int FindFreeHostId() const;

    struct LocalPacket
    {
        int type;
        std::vector<uint8_t> body;
    };

    NetworkEntityList m_entityList;
    ViewHandler m_viewHandler;
    std::vector<LocalPacket> m_localPackets;
    std::set<uint32_t> m_hungUp;     // links told to go (handshake timeout, refusal)
    std::map<int, RegionId> m_views; // the region of each client's last view
    std::set<int> m_reportedViews;   // clients whose unknown region was logged
};

} // namespace GAME
