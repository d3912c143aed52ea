#include "network/NetworkShim.h"

#include "core/Log.h"
#include "network/ConnectionManager.h"
#include "network/NetPacket.h"
#include "network/NetworkCommandAccess.h"

#include <cstdio>

namespace GAME {

namespace {

NetworkCommandAccess* g_commandAccess = nullptr;

} // namespace

void NetworkShim::SetCommandAccess(NetworkCommandAccess* access)
{
    g_commandAccess = access;
}

NetworkCommandAccess* NetworkShim::GetCommandAccess()
{
    return g_commandAccess;
}

bool NetworkShim::HasCommandAccess()
{
    if (g_commandAccess)
        return true;
    if (!m_reportedNoAccess) {
        m_reportedNoAccess = true;
        LogPrintf(1, "NetworkShim: no access to actions and commands installed; nothing is sent");
    }
    return false;
}

void NetworkShim::SendPacket(NetPacket* packet)
{
    if (m_gatheringStats)
        ++m_packetCounts[static_cast<int>(packet->GetType())];
    if (m_connectionManager)
        m_connectionManager->SendToServer(packet);
    else
        LogPrintf(1, "NetworkShim: no connection manager; %s (type %d) not sent", packet->GetTypeName(),
                  static_cast<int>(packet->GetType()));
    delete packet;
}

void NetworkShim::SendCharacterAction(CharacterAction* action)
{
    if (!action || !HasCommandAccess())
        return;
    NetPacket* packet = g_commandAccess->GetActionPacket(action);
    if (!packet)
        return;
    if (m_packetLogging)
        LogPrintf(0, "Sending %s (type %d) for character %u", packet->GetTypeName(),
                  static_cast<int>(packet->GetType()), g_commandAccess->GetActionCharacterId(action));
    SendPacket(packet);
}

void NetworkShim::SendConfigCommand(ActorConfigCommand* command)
{
    if (!command || !HasCommandAccess())
        return;
    if (g_commandAccess->SupportsNetwork(command))
        if (NetPacket* packet = g_commandAccess->GetCommandPacket(command)) {
            if (m_packetLogging)
                LogPrintf(0, "Sending %s (type %d) for actor %u", packet->GetTypeName(),
                          static_cast<int>(packet->GetType()), g_commandAccess->GetCommandParentId(command));
            SendPacket(packet);
        }
    g_commandAccess->DeleteCommand(command);
}

bool NetworkShim::DumpPacketStatsToFile(const char* fileName) const
{
    if (!fileName)
        return false;
    std::FILE* file = std::fopen(fileName, "wt");
    if (!file) {
        LogPrintf(1, "NetworkShim: couldn't write packet statistics to '%s'", fileName);
        return false;
    }
    bool ok = true;
    for (const auto& [type, count] : m_packetCounts)
        if (std::fprintf(file, "type %d: %u sent\n", type, count) < 0)
            ok = false;
    if (std::fclose(file) != 0)
        ok = false;
    return ok;
}

unsigned int NetworkShim::GetPacketCount(int type) const
{
    auto it = m_packetCounts.find(type);
    return it == m_packetCounts.end() ? 0u : it->second;
}

} // namespace GAME
