// The path mesh of one level: the walkable surface, as a Detour navigation mesh, that the path
// finder searches and floor look-ups drop positions onto. Held by value in each level; the level
// builds it in editor mode (Create, from the faces and obstacles its build gathered), stores it as
// level chunk 10 and registers it with the path finder once the level is complete.
//
// The mesh covers the build box (integer centre and half-size in world units) and lives in the
// build frame: positions relative to the box centre, so that floats stay small however far the
// level lies from the world origin. Positions of a region move into it by the region's offset
// minus the centre, subtracted as integers.
//
// Chunk 10 body, little-endian ("PTH" block, this engine's Detour form):
//    0  "PTH", u8 version 0x40
//    4  i32 centre x, y, z; i32 half-size x, y, z (each 1 to 65536)
//   28  f32 tile width (units; the tile grid starts at the box's low corner)
//   32  u32 tiles along x, u32 tiles along z (1 to 64 each)
//   40  u32 polygons a tile may hold (a power of two)
//   44  u32 tile count (1 to the tiles of the grid), then each tile: u32 byte count and Detour's
//       tile data (a dtMeshHeader first), one tile a grid cell
// Every tile is parsed and checked against its own counts and the grid (sizes, vertex, neighbour,
// detail and tree indices, finite coordinates) before Detour sees it. A "PTH" block of another
// version (such as the original version 4 layout of a path-finding library this engine does not
// have) is kept byte for byte, written back unchanged and reports no mesh.
//
// Threads: Read runs on the level's loading thread before the level is handed over; everything
// else on the main thread.
#pragma once

#include "core/ABBox.h"
#include "core/IntSpaceBox.h"
#include "core/OBBox.h"
#include "navigation/PathFace.h"

#include <cstdint>
#include <vector>

class dtNavMesh; // Detour's mesh, opaque here

namespace GAME {

class BinaryReader;
class BinaryWriter;
class Region;
class WorldVec3;

class PathMesh
{
public:
    static constexpr uint8_t formatVersion = 0x40;

    PathMesh();
    // Leaves the path finder when still registered.
    virtual ~PathMesh();
    PathMesh(const PathMesh&) = delete;
    PathMesh& operator=(const PathMesh&) = delete;

    // The region of the level that holds the mesh (the path finder files meshes by region).
    void SetRegion(Region* region) { m_region = region; }
    Region* GetRegion() const { return m_region; }

    // Whether the path finder holds it (main thread).
    bool IsRegistered() const { return m_registered; }
    // Whether it holds a navigation mesh.
    bool HasMesh() const { return m_mesh != nullptr; }
    // A mesh, or a foreign block kept to be written back: the level writes chunk 10 then.
    bool HasData() const { return m_mesh != nullptr || !m_kept.empty(); }
    // Reads the chunk body from a reader bounded to it. False (logged), with nothing kept, for a
    // block that is not "PTH" or a block of this engine's version that fails its checks.
    bool Read(BinaryReader& reader);
    // The chunk body: the mesh, or the kept foreign block; nothing when there is neither.
    void Write(BinaryWriter& writer) const;
    void Clear();
    // The build box in world units (centre and half-size); an all-zero box without a mesh.
    ABBox GetBoundingBox() const;
    const IntSpaceBox& GetBuildBox() const { return m_box; }

    // Compiles the faces and obstacle boxes (build frame) of the build box into the mesh
    // (PathMeshCompiler). False, leaving the mesh empty, when compiling fails or nothing
    // walkable is left.
    bool Create(const std::vector<PathFace>& faces, const std::vector<OBBox>& obstacles,
                const IntSpaceBox& box);

    // The point of the mesh nearest the position within the range (in every direction), in the
    // position's region. False without a mesh or region, or when no floor lies within range.
    bool FindFloorPosition(const WorldVec3& position, float range, WorldVec3& out) const;

    // ---- Build-frame queries (the path finder's) ---------------------------------------------
    // Where a position of the region lies in the build frame.
    Vec3 ToMeshFrame(const Region* region, const Vec3& position) const;
    Vec3 FromMeshFrame(const Region* region, const Vec3& point) const;
    // The mesh point nearest `point` within the half-extents; false when none.
    bool FindNearestPoint(const Vec3& point, const Vec3& extents, Vec3& out) const;
    // The corners of the shortest way from one build-frame point to another (both snapped onto
    // the mesh within the half-extents), start and end included. False when either end is off the
    // mesh or the way does not reach the end.
    bool FindMeshPath(const Vec3& from, const Vec3& to, const Vec3& extents,
                      std::vector<Vec3>& corners) const;

    const dtNavMesh* GetNavMesh() const;
    int GetNumTiles() const;
    int GetNumPolygons() const;

private:
    friend class PathFinder;
    struct Detour;

    // Parses and checks a block of this engine's version; builds the Detour mesh from it.
    bool ReadMesh(BinaryReader& reader);
    // Hands checked tiles to a new Detour mesh and query; false (nothing kept) on failure.
    bool Install(Detour* detour);
    // Search half-extents clamped to the mesh's size.
    Vec3 SearchExtents(const Vec3& extents) const;

    Region* m_region = nullptr;
    IntSpaceBox m_box;
    Detour* m_mesh = nullptr;
    std::vector<uint8_t> m_kept;
    bool m_registered = false; // set and cleared by the path finder
};

} // namespace GAME
