#include "network/ClientConnectionManager.h"

#include "core/Log.h"

namespace GAME {

void ClientConnectionManager::DumpHostTable() const
{
    LogPrintf(0, "Host table (client): not connected to a server");
}

} // namespace GAME
