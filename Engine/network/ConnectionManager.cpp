#include "network/ConnectionManager.h"

#include "core/Log.h"
#include "network/NetPacket.h"

namespace GAME {

void ConnectionManager::Update(int)
{
    // Nothing arrives without a transport.
}

void ConnectionManager::Shutdown() {}

bool ConnectionManager::SendToServer(NetPacket* packet)
{
    if (!packet)
        return false;
    ++m_undeliveredPackets;
    if (m_undeliveredPackets == 1 || m_networkLogging)
        LogPrintf(m_networkLogging ? 0 : 1,
                  "ConnectionManager (%s): no network transport; %s (type %d) not sent", GetRoleName(),
                  packet->GetTypeName(), static_cast<int>(packet->GetType()));
    return false;
}

void ConnectionManager::DumpHostTable() const
{
    LogPrintf(0, "Host table (%s): local host %d", GetRoleName(), m_localHostId);
}

void ConnectionManager::DumpStats() const
{
    LogPrintf(0, "Network statistics (%s): %u packets not delivered, gathering %s", GetRoleName(),
              m_undeliveredPackets, m_gatheringStatistics ? "on" : "off");
}

} // namespace GAME
