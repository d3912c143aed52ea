// Path finding for the world's agents, over the path meshes of the loaded levels. Each level
// registers its mesh once it is complete (AddMesh) and takes it back when it unloads or rebuilds
// it; the world tells it of every portal placed and destroyed (AddPortal, RemovePortal) and
// forwards path requests to it (World::FindPath). A lazily made singleton (Get); the engine
// destroys it at shut-down. Main thread only.
//
// A way inside one region is one Detour query on the region's mesh. A way to another region goes
// through gates: a connected pair of portals (the choke point of each, snapped onto the meshes on
// both sides), or the overlap of two meshes whose build boxes meet (each mesh reaches 8 units into
// its neighbours), sampled every 8 units along the middle of the overlap where both meshes have
// floor. The gates are found once for the meshes and portals registered and kept until either
// changes. The search is a shortest-path search over the start, the goal and the gates, with the
// straight distance between two places of one mesh standing in for the way between them until a
// Detour query on that mesh has measured it (or found none); it ends when the best route is
// measured throughout, so the answer is the shortest way through the gates.
//
// Every mesh is built for one standard agent (PathMeshCompiler's radius, height, climb and slope),
// so the agent shape, radius, height, slope and flags of a request do not choose a mesh; they are
// accepted for the callers' sake.
#pragma once

#include "core/Singleton.h"
#include "core/Vec3.h"

#include <cstdint>
#include <vector>

namespace GAME {

class Path;
class PathMesh;
class Portal;
class Region;
class WorldVec3;

class PathFinder : public Singleton<PathFinder>
{
public:
    // Snapping a request's start and goal onto the meshes: these half-extents, unless the request
    // gives positive ones.
    static constexpr float defaultExtentXZ = 2.0f;
    static constexpr float defaultExtentY = 4.0f;
    // Detour queries one request may make across regions before it gives up.
    static constexpr int maxLegQueries = 64;

    PathFinder() = default;
    ~PathFinder() override;

    // A portal placed again is kept once.
    void AddPortal(Portal* portal);
    // An absent portal changes nothing.
    void RemovePortal(Portal* portal);
    int GetNumPortals() const { return static_cast<int>(m_portals.size()); }
    bool HasPortal(const Portal* portal) const;

    // A level's mesh, filed by the mesh's region; a mesh added again is kept once, and a mesh
    // without region is refused. The mesh takes itself out when it is destroyed.
    void AddMesh(PathMesh* mesh);
    void RemoveMesh(PathMesh* mesh);
    int GetNumMeshes() const { return static_cast<int>(m_meshes.size()); }
    bool HasMesh(const PathMesh* mesh) const;
    // The registered mesh of the region that holds a navigation mesh; null when none.
    PathMesh* GetMesh(const Region* region) const;

    // The shortest way from one position to another across the registered meshes; null when
    // either has no region, either lies off the meshes (beyond the extents), no way joins them,
    // or the way is longer than range (range 0 or less: no limit). The caller owns the path.
    Path* FindPath(int agentShape, const WorldVec3& from, const WorldVec3& to, const Vec3& extents,
                   float range, float radius, float height, float slope, unsigned int flags);

    // The gates between registered meshes (found again when meshes or portals changed).
    int GetNumGates();

private:
    struct Gate
    {
        PathMesh* fromMesh;
        Vec3 fromPoint; // build frame of fromMesh
        PathMesh* toMesh;
        Vec3 toPoint; // build frame of toMesh
    };

    void BuildGates();
    void AddPortalGates();
    void AddBorderGates(PathMesh* a, PathMesh* b);
    Path* SearchThroughGates(PathMesh* startMesh, const Vec3& start, PathMesh* goalMesh, const Vec3& goal,
                             float range);

    std::vector<Portal*> m_portals;
    std::vector<PathMesh*> m_meshes;
    std::vector<Gate> m_gates;
    bool m_gatesValid = false;
};

} // namespace GAME
