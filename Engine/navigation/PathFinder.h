// Path finding for the world's agents. The world tells it of every portal placed and destroyed
// (AddPortal, RemovePortal) and forwards path requests to it (World::FindPath). A lazily made
// singleton (Get); the engine destroys it at shut-down. Main thread only.
//
// This build links no path-finding library: the finder keeps the set of portals that connect the
// regions' path meshes, but it answers every path request with null (no path). Callers already
// treat null as "no way there".
#pragma once

#include "core/Singleton.h"

#include <vector>

namespace GAME {

class Path;
class Portal;
class Vec3;
class WorldVec3;

class PathFinder : public Singleton<PathFinder>
{
public:
    PathFinder() = default;
    ~PathFinder() override = default;

    // A portal placed again is kept once.
    void AddPortal(Portal* portal);
    // An absent portal changes nothing.
    void RemovePortal(Portal* portal);
    int GetNumPortals() const { return static_cast<int>(m_portals.size()); }
    bool HasPortal(const Portal* portal) const;

    // Always null here (see above); the first request logs why.
    Path* FindPath(int agentShape, const WorldVec3& from, const WorldVec3& to, const Vec3& extents,
                   float range, float radius, float height, float slope, unsigned int flags);

private:
    std::vector<Portal*> m_portals;
    bool m_reportedNoLibrary = false;
};

} // namespace GAME
