#include "world/ZoneManager.h"

namespace GAME {

namespace {
ZoneManager* g_instance = nullptr;
} // namespace

ZoneManager* ZoneManager::Get()
{
    if (!g_instance)
        g_instance = new ZoneManager;
    return g_instance;
}

bool ZoneManager::HasInstance()
{
    return g_instance != nullptr;
}

void ZoneManager::Destroy()
{
    delete g_instance;
    g_instance = nullptr;
}

const std::vector<std::string>& ZoneManager::GetZoneList(int page) const
{
    return m_zoneLists[page >= 0 && page < 3 ? page : 3];
}

ZonePage ZoneManager::GetActFromRegion(const Region*) const
{
    return ZONE_PAGE_0;
}

} // namespace GAME
