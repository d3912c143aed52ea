// The network session of one role: the engine makes a client, a server and a stub connection
// manager at start-up and one of them is current (Engine::SetAsNetworkClient/Server/Stub). The
// current one is pumped every frame (Update), gives the engine its entity list (server), its local
// host id (which the object manager puts into new object ids while the network is on), and takes
// the packets the network shims send to the server. Main thread only.
//
// This build has no network transport (no sockets, no connect handshake): the managers keep their
// role's bookkeeping (local host id, the server's clients, logging and statistics switches), a
// client never becomes connected, and a packet sent to the server is not delivered: SendToServer
// answers false, logs the first such packet (every one while network logging is on) and counts it
// for DumpStats.
#pragma once

namespace GAME {

class NetPacket;
class NetworkEntityList;

class ConnectionManager
{
public:
    enum Role
    {
        ROLE_STUB = 0,
        ROLE_CLIENT = 1,
        ROLE_SERVER = 2,
    };

    virtual ~ConnectionManager() = default;
    ConnectionManager(const ConnectionManager&) = delete;
    ConnectionManager& operator=(const ConnectionManager&) = delete;

    // Pumps the network once a frame.
    virtual void Update(int elapsedMs);
    virtual Role GetRole() const = 0;
    virtual const char* GetRoleName() const = 0;
    // Closes the session: every link is dropped (the server forgets its clients).
    virtual void Shutdown();
    // Not owned; answers whether the packet left for the server (never here, see above).
    virtual bool SendToServer(NetPacket* packet);
    // One log line per known host, this one first.
    virtual void DumpHostTable() const;
    virtual void DumpStats() const;
    // The server's list of its clients; null for the other roles.
    virtual NetworkEntityList* GetNetworkEntityList() { return nullptr; }

    // -1 while not yet known (a client before a server gave it one).
    int GetLocalHostID() const { return m_localHostId; }
    void SetNetworkLogging(bool enable) { m_networkLogging = enable; }
    bool IsNetworkLogging() const { return m_networkLogging; }
    void SetNetworkStatisticsGathering(bool enable) { m_gatheringStatistics = enable; }
    bool IsGatheringStatistics() const { return m_gatheringStatistics; }
    unsigned int GetNumUndeliveredPackets() const { return m_undeliveredPackets; }

protected:
    explicit ConnectionManager(int localHostId) : m_localHostId(localHostId) {}

private:
    int m_localHostId;
    bool m_networkLogging = false;
    bool m_gatheringStatistics = false;
    unsigned int m_undeliveredPackets = 0;
};

} // namespace GAME
