#include "navigation/PathMesh.h"

#include "core/Log.h"
#include "core/MathUtil.h"
#include "core/RegionServices.h"
#include "core/WorldVec3.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"
#include "navigation/PathFinder.h"
#include "navigation/PathMeshCompiler.h"

#include <DetourAlloc.h>
#include <DetourNavMesh.h>
#include <DetourNavMeshQuery.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <set>
#include <utility>

namespace GAME {

namespace {

constexpr char kMagic[3] = {'P', 'T', 'H'};
constexpr uint32_t kMaxHalfSize = 65536;
// Search nodes of one query; corridor polygons and corners a path may have.
constexpr int kQueryNodes = 4096;
constexpr int kMaxCorridor = 2048;
constexpr int kMaxCorners = 512;
constexpr unsigned short kWalkableFlag = 1;

size_t Align4(uint64_t n)
{
    return static_cast<size_t>((n + 3) & ~uint64_t(3));
}

// What every tile of a block must agree with.
struct Grid
{
    float hx, hy, hz;
    float tileWidth;
    uint32_t tilesX, tilesZ;
    uint32_t maxPolys;
};

bool Finite3(const float* v)
{
    return IsFinite(v[0]) && IsFinite(v[1]) && IsFinite(v[2]);
}

bool Inside(const float* v, const float* lo, const float* hi, float tolerance)
{
    for (int i = 0; i < 3; ++i)
        if (!(v[i] >= lo[i] - tolerance && v[i] <= hi[i] + tolerance))
            return false;
    return true;
}

template <typename T> T Load(const uint8_t* at)
{
    T value;
    std::memcpy(&value, at, sizeof(T));
    return value;
}

// Checks one tile's data against everything Detour reads of it: the sizes of its sections, every
// index into another section, the polygon kinds this engine makes (ground polygons, no off-mesh
// links), finite coordinates inside the tile's part of the build box. Answers the tile's place.
bool CheckTile(const std::vector<uint8_t>& data, const Grid& grid, int& tileX, int& tileZ, const char*& why)
{
    const size_t size = data.size();
    const size_t headerSize = Align4(sizeof(dtMeshHeader));
    if (size < headerSize || size % 4 != 0) {
        why = "the tile is too short";
        return false;
    }
    const dtMeshHeader h = Load<dtMeshHeader>(data.data());
    if (h.magic != DT_NAVMESH_MAGIC || h.version != DT_NAVMESH_VERSION) {
        why = "the tile is not Detour's tile data of this version";
        return false;
    }
    if (h.layer != 0 || h.x < 0 || h.y < 0 || static_cast<uint32_t>(h.x) >= grid.tilesX ||
        static_cast<uint32_t>(h.y) >= grid.tilesZ) {
        why = "the tile lies outside the tile grid";
        return false;
    }
    const int counts[] = {h.polyCount,       h.vertCount,      h.maxLinkCount, h.detailMeshCount,
                          h.detailVertCount, h.detailTriCount, h.bvNodeCount,  h.offMeshConCount};
    for (int count : counts)
        if (count < 0 || static_cast<size_t>(count) > size) {
            why = "a count of the tile is out of range";
            return false;
        }
    if (h.polyCount < 1 || static_cast<uint32_t>(h.polyCount) > grid.maxPolys || h.vertCount < 3 ||
        h.vertCount > 0xffff || h.maxLinkCount < 1 || h.detailMeshCount != h.polyCount ||
        h.offMeshConCount != 0 || h.offMeshBase < 0 || h.offMeshBase > h.polyCount ||
        h.bvNodeCount > 2 * h.polyCount) {
        why = "the counts of the tile do not agree";
        return false;
    }
    const size_t vertsAt = headerSize;
    const size_t polysAt = vertsAt + Align4(12ull * h.vertCount);
    const size_t linksAt = polysAt + Align4(uint64_t(sizeof(dtPoly)) * h.polyCount);
    const size_t detailMeshesAt = linksAt + Align4(uint64_t(sizeof(dtLink)) * h.maxLinkCount);
    const size_t detailVertsAt = detailMeshesAt + Align4(uint64_t(sizeof(dtPolyDetail)) * h.detailMeshCount);
    const size_t detailTrisAt = detailVertsAt + Align4(12ull * h.detailVertCount);
    const size_t bvAt = detailTrisAt + Align4(4ull * h.detailTriCount);
    const size_t end = bvAt + Align4(uint64_t(sizeof(dtBVNode)) * h.bvNodeCount) +
                       Align4(uint64_t(sizeof(dtOffMeshConnection)) * h.offMeshConCount);
    if (end != size) {
        why = "the tile's sections do not fill it exactly";
        return false;
    }

    // The tile's box: inside its cell of the grid, which starts at the build box's low corner.
    const float tolerance = grid.tileWidth * 0.5f + 1.0f;
    const float cellLo[3] = {-grid.hx + static_cast<float>(h.x) * grid.tileWidth, -grid.hy,
                             -grid.hz + static_cast<float>(h.y) * grid.tileWidth};
    const float cellHi[3] = {cellLo[0] + grid.tileWidth, grid.hy, cellLo[2] + grid.tileWidth};
    if (!Finite3(h.bmin) || !Finite3(h.bmax) || !Inside(h.bmin, cellLo, cellHi, tolerance) ||
        !Inside(h.bmax, cellLo, cellHi, tolerance) ||
        !(h.bmin[0] <= h.bmax[0] && h.bmin[1] <= h.bmax[1] && h.bmin[2] <= h.bmax[2])) {
        why = "the tile's bounds lie outside its place in the grid";
        return false;
    }
    if (!IsFinite(h.walkableHeight) || !IsFinite(h.walkableRadius) || !IsFinite(h.walkableClimb) ||
        !IsFinite(h.bvQuantFactor) || !(h.bvQuantFactor > 0.0f)) {
        why = "the tile's agent or tree values are not finite";
        return false;
    }

    const uint8_t* bytes = data.data();
    for (int i = 0; i < h.vertCount; ++i) {
        float v[3];
        std::memcpy(v, bytes + vertsAt + 12u * static_cast<unsigned>(i), 12);
        if (!Finite3(v) || !Inside(v, h.bmin, h.bmax, 1.0f)) {
            why = "a vertex lies outside the tile";
            return false;
        }
    }
    for (int i = 0; i < h.detailVertCount; ++i) {
        float v[3];
        std::memcpy(v, bytes + detailVertsAt + 12u * static_cast<unsigned>(i), 12);
        if (!Finite3(v) || !Inside(v, h.bmin, h.bmax, 1.0f)) {
            why = "a detail vertex lies outside the tile";
            return false;
        }
    }
    for (int i = 0; i < h.polyCount; ++i) {
        const dtPoly p = Load<dtPoly>(bytes + polysAt + sizeof(dtPoly) * static_cast<unsigned>(i));
        if (p.getType() != DT_POLYTYPE_GROUND || p.vertCount < 3 || p.vertCount > DT_VERTS_PER_POLYGON) {
            why = "a polygon is not a ground polygon of 3 to 6 corners";
            return false;
        }
        for (int j = 0; j < p.vertCount; ++j) {
            const unsigned short nei = p.neis[j];
            const bool badNeighbour =
                (nei & DT_EXT_LINK) ? (nei & 0x7fff) > 7 : nei > static_cast<unsigned>(h.polyCount);
            if (p.verts[j] >= h.vertCount || badNeighbour) {
                why = "a polygon names a vertex or neighbour the tile does not have";
                return false;
            }
        }
        const dtPolyDetail d =
            Load<dtPolyDetail>(bytes + detailMeshesAt + sizeof(dtPolyDetail) * static_cast<unsigned>(i));
        if (uint64_t(d.vertBase) + d.vertCount > static_cast<uint64_t>(h.detailVertCount) ||
            uint64_t(d.triBase) + d.triCount > static_cast<uint64_t>(h.detailTriCount)) {
            why = "a detail mesh runs past the detail data";
            return false;
        }
        // Detour's nearest-point search walks the outline of the detail triangles and takes the
        // nearest of their boundary edges: a polygon needs one.
        bool boundary = false;
        for (unsigned t = 0; t < d.triCount; ++t) {
            const uint8_t* tri = bytes + detailTrisAt + 4u * (d.triBase + t);
            for (int k = 0; k < 3; ++k)
                if (tri[k] >= p.vertCount + d.vertCount) {
                    why = "a detail triangle names a vertex its polygon does not have";
                    return false;
                }
            for (int edge = 0; edge < 3; ++edge)
                boundary = boundary || ((tri[3] >> (2 * edge)) & DT_DETAIL_EDGE_BOUNDARY) != 0;
        }
        if (!boundary) {
            why = "a polygon's detail mesh has no boundary edge";
            return false;
        }
    }
    for (int i = 0; i < h.bvNodeCount; ++i) {
        const dtBVNode node = Load<dtBVNode>(bytes + bvAt + sizeof(dtBVNode) * static_cast<unsigned>(i));
        const bool bad =
            node.i >= 0 ? node.i >= h.polyCount : node.i == INT32_MIN || int64_t(i) - node.i > h.bvNodeCount;
        if (bad) {
            why = "a tree node names a polygon or node the tile does not have";
            return false;
        }
    }
    tileX = h.x;
    tileZ = h.y;
    return true;
}

} // namespace

struct PathMesh::Detour
{
    float tileWidth = 0.0f;
    uint32_t tilesX = 0, tilesZ = 0, maxPolys = 0;
    std::vector<std::vector<uint8_t>> tiles;
    dtNavMesh* nav = nullptr;
    dtNavMeshQuery* query = nullptr;
    dtQueryFilter filter;

    ~Detour()
    {
        dtFreeNavMeshQuery(query);
        dtFreeNavMesh(nav);
    }
};

PathMesh::PathMesh() = default;

PathMesh::~PathMesh()
{
    if (m_registered && PathFinder::HasInstantiated())
        PathFinder::Get()->RemoveMesh(this);
    delete m_mesh;
}

void PathMesh::Clear()
{
    delete m_mesh;
    m_mesh = nullptr;
    m_kept.clear();
    m_box = IntSpaceBox();
}

ABBox PathMesh::GetBoundingBox() const
{
    if (!m_mesh)
        return ABBox();
    return ABBox(Vec3(static_cast<float>(m_box.center.x), static_cast<float>(m_box.center.y),
                      static_cast<float>(m_box.center.z)),
                 Vec3(static_cast<float>(m_box.halfSize.x), static_cast<float>(m_box.halfSize.y),
                      static_cast<float>(m_box.halfSize.z)));
}

int PathMesh::GetNumTiles() const
{
    return m_mesh ? static_cast<int>(m_mesh->tiles.size()) : 0;
}

int PathMesh::GetNumPolygons() const
{
    int count = 0;
    if (m_mesh)
        for (const std::vector<uint8_t>& tile : m_mesh->tiles)
            count += Load<dtMeshHeader>(tile.data()).polyCount;
    return count;
}

const dtNavMesh* PathMesh::GetNavMesh() const
{
    return m_mesh ? m_mesh->nav : nullptr;
}

// ---- The chunk -----------------------------------------------------------------------------------

bool PathMesh::Read(BinaryReader& reader)
{
    Clear();
    const unsigned size = reader.GetRemaining();
    if (size < 4 || std::memcmp(reader.GetCursor(), kMagic, 3) != 0) {
        LogPrintf(1, "PathMesh: the block is not a path mesh");
        reader.Skip(size);
        return false;
    }
    const uint8_t version = reader.GetCursor()[3];
    if (version != formatVersion) {
        // Another path-finding library's mesh: carried for whoever can use it.
        m_kept.assign(reader.GetCursor(), reader.GetCursor() + size);
        reader.Skip(size);
        LogPrintf(1, "PathMesh: a path mesh of version %u is kept unread (this engine reads version %u)",
                  version, formatVersion);
        return true;
    }
    if (!ReadMesh(reader)) {
        Clear();
        reader.Skip(reader.GetRemaining());
        return false;
    }
    return true;
}

bool PathMesh::ReadMesh(BinaryReader& reader)
{
    reader.Skip(4);
    int32_t words[6];
    for (int32_t& word : words)
        word = reader.ReadInt32();
    const IntSpaceBox box(IntVec3(words[0], words[1], words[2]), IntVec3(words[3], words[4], words[5]));
    auto detour = std::make_unique<Detour>();
    detour->tileWidth = reader.ReadFloat();
    detour->tilesX = reader.ReadUInt32();
    detour->tilesZ = reader.ReadUInt32();
    detour->maxPolys = reader.ReadUInt32();
    const uint32_t count = reader.ReadUInt32();
    if (reader.Failed()) {
        LogPrintf(1, "PathMesh: the path mesh header is cut short");
        return false;
    }
    const auto halfOk = [](int32_t h) { return h >= 1 && static_cast<uint32_t>(h) <= kMaxHalfSize; };
    const uint32_t gridTiles = detour->tilesX * detour->tilesZ;
    if (!halfOk(box.halfSize.x) || !halfOk(box.halfSize.y) || !halfOk(box.halfSize.z) ||
        !IsFinite(detour->tileWidth) || !(detour->tileWidth >= 1.0f) ||
        !(detour->tileWidth <= 4.0f * kMaxHalfSize) || detour->tilesX < 1 ||
        detour->tilesX > PathMeshCompiler::maxTilesPerSide || detour->tilesZ < 1 ||
        detour->tilesZ > PathMeshCompiler::maxTilesPerSide || detour->maxPolys < 1 ||
        !IsPowerOfTwo(detour->maxPolys) || count < 1 || count > gridTiles) {
        LogPrintf(1, "PathMesh: the path mesh header is out of range");
        return false;
    }
    int bits = 0;
    for (uint32_t n = NextPowerOfTwo(gridTiles); n > 1; n >>= 1)
        ++bits;
    for (uint32_t n = detour->maxPolys; n > 1; n >>= 1)
        ++bits;
    if (bits > PathMeshCompiler::maxReferenceBits) {
        LogPrintf(1, "PathMesh: %u tiles of %u polygons do not fit a polygon reference", gridTiles,
                  detour->maxPolys);
        return false;
    }
    if (!reader.CheckCount(count, 4 + Align4(sizeof(dtMeshHeader)), "path mesh tiles"))
        return false;
    detour->tiles.resize(count);
    for (std::vector<uint8_t>& tile : detour->tiles) {
        const uint32_t bytes = reader.ReadUInt32();
        if (reader.Failed() || !reader.CheckCount(bytes, 1, "path mesh tile bytes"))
            return false;
        tile.resize(bytes);
        reader.ReadBytes(tile.data(), bytes);
    }
    if (!reader.AtEnd()) {
        LogPrintf(1, "PathMesh: %u bytes follow the last tile", reader.GetRemaining());
        return false;
    }
    m_box = box;
    return Install(detour.release());
}

bool PathMesh::Install(Detour* detour)
{
    std::unique_ptr<Detour> owned(detour);
    const Grid grid{static_cast<float>(m_box.halfSize.x),
                    static_cast<float>(m_box.halfSize.y),
                    static_cast<float>(m_box.halfSize.z),
                    detour->tileWidth,
                    detour->tilesX,
                    detour->tilesZ,
                    detour->maxPolys};
    std::set<std::pair<int, int>> places;
    for (size_t i = 0; i < detour->tiles.size(); ++i) {
        int x = 0, z = 0;
        const char* why = "";
        if (!CheckTile(detour->tiles[i], grid, x, z, why)) {
            LogPrintf(1, "PathMesh: tile %zu refused: %s", i, why);
            return false;
        }
        if (!places.emplace(x, z).second) {
            LogPrintf(1, "PathMesh: tile %zu takes a place in the grid that another tile has", i);
            return false;
        }
    }

    dtNavMeshParams params{};
    params.orig[0] = -grid.hx;
    params.orig[1] = -grid.hy;
    params.orig[2] = -grid.hz;
    params.tileWidth = grid.tileWidth;
    params.tileHeight = grid.tileWidth;
    params.maxTiles = static_cast<int>(NextPowerOfTwo(grid.tilesX * grid.tilesZ));
    params.maxPolys = static_cast<int>(grid.maxPolys);
    detour->nav = dtAllocNavMesh();
    if (!detour->nav || dtStatusFailed(detour->nav->init(&params))) {
        LogPrintf(1, "PathMesh: Detour refused the mesh parameters");
        return false;
    }
    for (const std::vector<uint8_t>& tile : detour->tiles) {
        // Detour keeps and frees its own copy; it links the polygons in place.
        auto* copy = static_cast<unsigned char*>(dtAlloc(tile.size(), DT_ALLOC_PERM));
        if (!copy) {
            LogPrintf(1, "PathMesh: no memory for a tile");
            return false;
        }
        std::memcpy(copy, tile.data(), tile.size());
        if (dtStatusFailed(
                detour->nav->addTile(copy, static_cast<int>(tile.size()), DT_TILE_FREE_DATA, 0, nullptr))) {
            dtFree(copy);
            LogPrintf(1, "PathMesh: Detour refused a tile");
            return false;
        }
    }
    detour->query = dtAllocNavMeshQuery();
    if (!detour->query || dtStatusFailed(detour->query->init(detour->nav, kQueryNodes))) {
        LogPrintf(1, "PathMesh: no path query could be made for the mesh");
        return false;
    }
    detour->filter.setIncludeFlags(kWalkableFlag);
    detour->filter.setExcludeFlags(0);
    delete m_mesh;
    m_mesh = owned.release();
    return true;
}

void PathMesh::Write(BinaryWriter& writer) const
{
    if (!m_mesh) {
        if (!m_kept.empty())
            writer.WriteBytes(m_kept.data(), static_cast<unsigned>(m_kept.size()));
        return;
    }
    writer.WriteBytes(kMagic, 3);
    writer.WriteUInt8(formatVersion);
    for (int32_t v : {m_box.center.x, m_box.center.y, m_box.center.z, m_box.halfSize.x, m_box.halfSize.y,
                      m_box.halfSize.z})
        writer.WriteInt32(v);
    writer.WriteFloat(m_mesh->tileWidth);
    writer.WriteUInt32(m_mesh->tilesX);
    writer.WriteUInt32(m_mesh->tilesZ);
    writer.WriteUInt32(m_mesh->maxPolys);
    writer.WriteUInt32(static_cast<uint32_t>(m_mesh->tiles.size()));
    for (const std::vector<uint8_t>& tile : m_mesh->tiles) {
        writer.WriteUInt32(static_cast<uint32_t>(tile.size()));
        writer.WriteBytes(tile.data(), static_cast<unsigned>(tile.size()));
    }
}

// ---- Building --------------------------------------------------------------------------------------

bool PathMesh::Create(const std::vector<PathFace>& faces, const std::vector<OBBox>& obstacles,
                      const IntSpaceBox& box)
{
    Clear();
    PathMeshCompiler::Tiles tiles;
    if (!PathMeshCompiler::Compile(faces, obstacles, box, tiles))
        return false;
    if (tiles.tiles.empty()) {
        LogPrintf(1, "PathMesh: nothing walkable is left to make a mesh of");
        return false;
    }
    auto detour = std::make_unique<Detour>();
    detour->tileWidth = tiles.tileWidth;
    detour->tilesX = tiles.tilesX;
    detour->tilesZ = tiles.tilesZ;
    detour->maxPolys = tiles.maxPolysPerTile;
    detour->tiles = std::move(tiles.tiles);
    m_box = box;
    if (!Install(detour.release())) {
        Clear();
        return false;
    }
    return true;
}

// ---- Queries ---------------------------------------------------------------------------------------

Vec3 PathMesh::ToMeshFrame(const Region* region, const Vec3& position) const
{
    return position + BuildFrameShift(RegionServices::OffsetFromWorld(region), m_box);
}

Vec3 PathMesh::FromMeshFrame(const Region* region, const Vec3& point) const
{
    return point - BuildFrameShift(RegionServices::OffsetFromWorld(region), m_box);
}

Vec3 PathMesh::SearchExtents(const Vec3& extents) const
{
    // Never wider than the mesh, so that Detour's walk over the tiles stays within the grid.
    return Vec3(std::min(extents.x, 2.0f * static_cast<float>(m_box.halfSize.x) + 1.0f),
                std::min(extents.y, 2.0f * static_cast<float>(m_box.halfSize.y) + 1.0f),
                std::min(extents.z, 2.0f * static_cast<float>(m_box.halfSize.z) + 1.0f));
}

bool PathMesh::FindNearestPoint(const Vec3& point, const Vec3& searchExtents, Vec3& out) const
{
    if (!m_mesh || !IsFiniteVec3(point) || !IsFiniteVec3(searchExtents) || !(searchExtents.x > 0.0f) ||
        !(searchExtents.y > 0.0f) || !(searchExtents.z > 0.0f))
        return false;
    const Vec3 extents = SearchExtents(searchExtents);
    // Points far outside the box never reach Detour's tile arithmetic.
    if (std::fabs(point.x) > static_cast<float>(m_box.halfSize.x) + extents.x ||
        std::fabs(point.y) > static_cast<float>(m_box.halfSize.y) + extents.y ||
        std::fabs(point.z) > static_cast<float>(m_box.halfSize.z) + extents.z)
        return false;
    const float center[3] = {point.x, point.y, point.z};
    const float half[3] = {extents.x, extents.y, extents.z};
    dtPolyRef ref = 0;
    float nearest[3];
    if (dtStatusFailed(m_mesh->query->findNearestPoly(center, half, &m_mesh->filter, &ref, nearest)) || !ref)
        return false;
    out = Vec3(nearest[0], nearest[1], nearest[2]);
    return true;
}

bool PathMesh::FindMeshPath(const Vec3& from, const Vec3& to, const Vec3& searchExtents,
                            std::vector<Vec3>& corners) const
{
    corners.clear();
    if (!m_mesh || !IsFiniteVec3(from) || !IsFiniteVec3(to) || !IsFiniteVec3(searchExtents) ||
        !(searchExtents.x > 0.0f) || !(searchExtents.y > 0.0f) || !(searchExtents.z > 0.0f))
        return false;
    const Vec3 extents = SearchExtents(searchExtents);
    const auto inBox = [this, &extents](const Vec3& p) {
        return std::fabs(p.x) <= static_cast<float>(m_box.halfSize.x) + extents.x &&
               std::fabs(p.y) <= static_cast<float>(m_box.halfSize.y) + extents.y &&
               std::fabs(p.z) <= static_cast<float>(m_box.halfSize.z) + extents.z;
    };
    if (!inBox(from) || !inBox(to))
        return false;
    dtNavMeshQuery* query = m_mesh->query;
    const dtQueryFilter* filter = &m_mesh->filter;
    const float half[3] = {extents.x, extents.y, extents.z};
    const float a[3] = {from.x, from.y, from.z};
    const float b[3] = {to.x, to.y, to.z};
    dtPolyRef startRef = 0, endRef = 0;
    float start[3], end[3];
    if (dtStatusFailed(query->findNearestPoly(a, half, filter, &startRef, start)) || !startRef ||
        dtStatusFailed(query->findNearestPoly(b, half, filter, &endRef, end)) || !endRef)
        return false;
    dtPolyRef corridor[kMaxCorridor];
    int polys = 0;
    if (dtStatusFailed(
            query->findPath(startRef, endRef, start, end, filter, corridor, &polys, kMaxCorridor)) ||
        polys <= 0 || corridor[polys - 1] != endRef)
        return false;
    float points[kMaxCorners * 3];
    int count = 0;
    const dtStatus status =
        query->findStraightPath(start, end, corridor, polys, points, nullptr, nullptr, &count, kMaxCorners);
    if (dtStatusFailed(status) || dtStatusDetail(status, DT_BUFFER_TOO_SMALL) || count <= 0)
        return false;
    corners.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        corners.emplace_back(points[3 * i], points[3 * i + 1], points[3 * i + 2]);
    return true;
}

bool PathMesh::FindFloorPosition(const WorldVec3& position, float range, WorldVec3& out) const
{
    Region* region = position.GetRegion();
    if (!m_mesh || !region || !IsFinite(range) || !(range > 0.0f))
        return false;
    const Vec3 p = ToMeshFrame(region, position.GetRegionPosition());
    Vec3 floor;
    if (!FindNearestPoint(p, Vec3(range, range, range), floor) || (floor - p).Length() > range)
        return false;
    out = WorldVec3(region, FromMeshFrame(region, floor));
    return true;
}

} // namespace GAME
