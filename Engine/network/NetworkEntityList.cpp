#include "network/NetworkEntityList.h"

#include "core/Log.h"

namespace GAME {

bool NetworkEntityList::AddClient(int host)
{
    if (host < 0 || m_clients.count(host))
        return false;
    Client& client = m_clients[host];
    client.host = host;
    return true;
}

bool NetworkEntityList::RemoveClient(int host)
{
    return m_clients.erase(host) != 0;
}

void NetworkEntityList::RemoveAllClients()
{
    m_clients.clear();
}

NetworkEntityList::Client* NetworkEntityList::GetClient(int host)
{
    auto it = m_clients.find(host);
    return it == m_clients.end() ? nullptr : &it->second;
}

void NetworkEntityList::GetClientFrustumList(std::vector<WorldFrustum>& frusta) const
{
    for (const auto& [host, client] : m_clients)
        if (client.frustumKnown)
            frusta.push_back(client.frustum);
}

void NetworkEntityList::UpdateFrustum(int host, const WorldFrustum& frustum)
{
    Client* client = GetClient(host);
    if (!client) {
        LogPrintf(1, "NetworkEntityList: view of host %d ignored; it is not a client", host);
        return;
    }
    client->frustum = frustum;
    client->frustumKnown = true;
}

void NetworkEntityList::DebugRender() const
{
    for (const auto& [host, client] : m_clients)
        LogPrintf(0, "NetworkEntityList: client %d, view %s, %zu entities", host,
                  client.frustumKnown ? "known" : "unknown", client.entities.size());
}

} // namespace GAME
