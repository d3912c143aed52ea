#include "navigation/PathFinder.h"

#include "core/Log.h"

#include <algorithm>

namespace GAME {

void PathFinder::AddPortal(Portal* portal)
{
    if (portal && !HasPortal(portal))
        m_portals.push_back(portal);
}

void PathFinder::RemovePortal(Portal* portal)
{
    auto it = std::find(m_portals.begin(), m_portals.end(), portal);
    if (it != m_portals.end())
        m_portals.erase(it);
}

bool PathFinder::HasPortal(const Portal* portal) const
{
    return std::find(m_portals.begin(), m_portals.end(), portal) != m_portals.end();
}

Path* PathFinder::FindPath(int, const WorldVec3&, const WorldVec3&, const Vec3&, float, float, float, float,
                           unsigned int)
{
    if (!m_reportedNoLibrary) {
        m_reportedNoLibrary = true;
        LogPrintf(1, "PathFinder: no path-finding library in this build; paths are not found");
    }
    return nullptr;
}

} // namespace GAME
