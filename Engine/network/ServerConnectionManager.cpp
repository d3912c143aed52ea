#include "network/ServerConnectionManager.h"

namespace GAME {

void ServerConnectionManager::Shutdown()
{
    m_entityList.RemoveAllClients();
    ConnectionManager::Shutdown();
}

void ServerConnectionManager::DumpHostTable() const
{
    ConnectionManager::DumpHostTable();
    m_entityList.DebugRender();
}

} // namespace GAME
