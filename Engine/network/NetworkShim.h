// How the game sends: the host's character actions and the actors' configuration commands become
// packets that go to the server through the shim's connection manager. The engine makes a client,
// a server and a stub shim at start-up (each paired with the connection manager of its role
// through SetConnectionManager) and sends through the current one. The client and server shims
// send; the stub shim sends nothing. Main thread only.
//
// A configuration command handed to a sending shim belongs to it and is deleted after it was sent
// (or found unsendable); an action stays the caller's. Packets are made and deleted here. While
// statistics are on, the packets handed to the connection manager are counted by type
// (DumpPacketStatsToFile).
#pragma once

#include <map>

namespace GAME {

class ActorConfigCommand;
class CharacterAction;
class ConnectionManager;
class NetPacket;
class NetworkCommandAccess;

class NetworkShim
{
public:
    NetworkShim() = default;
    virtual ~NetworkShim() = default;
    NetworkShim(const NetworkShim&) = delete;
    NetworkShim& operator=(const NetworkShim&) = delete;

    // Installed by the engine; null removes it. Without it nothing can be sent (one log line).
    static void SetCommandAccess(NetworkCommandAccess* access);
    static NetworkCommandAccess* GetCommandAccess();

    virtual void SendCharacterAction(CharacterAction* action);
    virtual void SendConfigCommand(ActorConfigCommand* command);

    // Not owned: the connection manager packets go through.
    void SetConnectionManager(ConnectionManager* manager) { m_connectionManager = manager; }
    ConnectionManager* GetConnectionManager() const { return m_connectionManager; }
    // A log line for each packet sent.
    void SetPacketLogging(bool enable) { m_packetLogging = enable; }
    bool IsPacketLogging() const { return m_packetLogging; }
    void SetNetworkStats(bool enable) { m_gatheringStats = enable; }
    bool IsGatheringStats() const { return m_gatheringStats; }
    // The counts per packet type, one "type <n>: <count> sent" line each; false when the file
    // cannot be written.
    bool DumpPacketStatsToFile(const char* fileName) const;
    // Packets of the type counted while statistics were on.
    unsigned int GetPacketCount(int type) const;

protected:
    // Hands the packet to the connection manager, counts it, deletes it.
    void SendPacket(NetPacket* packet);
    // Logs (once per shim) that the world's access is missing; answers whether it is there.
    bool HasCommandAccess();

private:
    ConnectionManager* m_connectionManager = nullptr;
    bool m_packetLogging = false;
    bool m_gatheringStats = false;
    bool m_reportedNoAccess = false;
    std::map<int, unsigned int> m_packetCounts;
};

} // namespace GAME
