#include "navigation/PathMeshCompiler.h"

#include "core/Log.h"
#include "core/MathUtil.h"

#include <DetourAlloc.h>
#include <DetourNavMesh.h>
#include <DetourNavMeshBuilder.h>
#include <Recast.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>

namespace GAME {

namespace {

// Recast's errors reach the engine log; its progress notes and timers are dropped.
class BuildContext : public rcContext
{
public:
    BuildContext() : rcContext(true) { enableTimer(false); }

protected:
    void doLog(const rcLogCategory category, const char* message, const int length) override
    {
        if (category == RC_LOG_ERROR)
            LogPrintf(1, "PathMeshCompiler: %.*s", length, message);
    }
};

struct HeightfieldDeleter
{
    void operator()(rcHeightfield* p) const { rcFreeHeightField(p); }
};
struct CompactDeleter
{
    void operator()(rcCompactHeightfield* p) const { rcFreeCompactHeightfield(p); }
};
struct ContourDeleter
{
    void operator()(rcContourSet* p) const { rcFreeContourSet(p); }
};
struct PolyMeshDeleter
{
    void operator()(rcPolyMesh* p) const { rcFreePolyMesh(p); }
};
struct DetailDeleter
{
    void operator()(rcPolyMeshDetail* p) const { rcFreePolyMeshDetail(p); }
};

// An obstacle box as Recast cuts it out: its outline on the ground plane (convex, x and z pairs)
// and the heights of floor it blocks.
struct ObstacleOutline
{
    std::vector<float> verts; // x, y, z per point; y unused
    float minX, maxX, minZ, maxZ;
    float hmin, hmax;
};

float Cross2(const std::array<float, 2>& o, const std::array<float, 2>& a, const std::array<float, 2>& b)
{
    return (a[0] - o[0]) * (b[1] - o[1]) - (a[1] - o[1]) * (b[0] - o[0]);
}

bool MakeOutline(const OBBox& box, ObstacleOutline& out)
{
    const std::array<Vec3, 8> corners = box.GetCorners();
    std::vector<std::array<float, 2>> points;
    float lo = gInfinity, hi = -gInfinity;
    for (const Vec3& c : corners) {
        if (!IsFiniteVec3(c))
            return false;
        points.push_back({c.x, c.z});
        lo = std::min(lo, c.y);
        hi = std::max(hi, c.y);
    }
    // Monotone chain hull.
    std::sort(points.begin(), points.end());
    points.erase(std::unique(points.begin(), points.end()), points.end());
    if (points.size() < 3)
        return false;
    std::vector<std::array<float, 2>> hull(2 * points.size());
    size_t k = 0;
    for (size_t i = 0; i < points.size(); ++i) {
        while (k >= 2 && Cross2(hull[k - 2], hull[k - 1], points[i]) <= 0.0f)
            --k;
        hull[k++] = points[i];
    }
    for (size_t i = points.size() - 1, t = k + 1; i > 0; --i) {
        while (k >= t && Cross2(hull[k - 2], hull[k - 1], points[i - 1]) <= 0.0f)
            --k;
        hull[k++] = points[i - 1];
    }
    hull.resize(k - 1);
    if (hull.size() < 3)
        return false;
    out.verts.clear();
    out.minX = out.minZ = gInfinity;
    out.maxX = out.maxZ = -gInfinity;
    for (const auto& p : hull) {
        out.verts.insert(out.verts.end(), {p[0], 0.0f, p[1]});
        out.minX = std::min(out.minX, p[0]);
        out.maxX = std::max(out.maxX, p[0]);
        out.minZ = std::min(out.minZ, p[1]);
        out.maxZ = std::max(out.maxZ, p[1]);
    }
    // Floors under the box closer than the agent's height are blocked too.
    out.hmin = lo - PathMeshCompiler::agentHeight;
    out.hmax = hi;
    return true;
}

int Log2(uint32_t powerOfTwo)
{
    int bits = 0;
    while ((1u << bits) < powerOfTwo)
        ++bits;
    return bits;
}

} // namespace

bool PathMeshCompiler::Compile(const std::vector<PathFace>& faces, const std::vector<OBBox>& obstacles,
                               const IntSpaceBox& box, Tiles& out)
{
    out = Tiles();
    const float hx = static_cast<float>(box.halfSize.x), hy = static_cast<float>(box.halfSize.y),
                hz = static_cast<float>(box.halfSize.z);
    if (!(hx >= 1.0f && hy >= 1.0f && hz >= 1.0f) || hx > 65536.0f || hy > 65536.0f || hz > 65536.0f) {
        LogPrintf(1, "PathMeshCompiler: a build box of half-size %d x %d x %d cannot be compiled",
                  box.halfSize.x, box.halfSize.y, box.halfSize.z);
        return false;
    }

    // The tile grid and voxel sizes.
    const float widest = 2.0f * std::max(hx, hz);
    const float tileWidth = std::max(tileVoxels * minVoxelSize, widest / static_cast<float>(maxTilesPerSide));
    const float cs = tileWidth / tileVoxels;
    // Heights in at most 8000 voxels (Recast keeps 13 bits a span).
    const float ch = std::max(0.2f, 2.0f * hy / 8000.0f);
    const uint32_t tilesX = std::max(1u, static_cast<uint32_t>(std::ceil(2.0f * hx / tileWidth)));
    const uint32_t tilesZ = std::max(1u, static_cast<uint32_t>(std::ceil(2.0f * hz / tileWidth)));

    rcConfig cfg{};
    cfg.cs = cs;
    cfg.ch = ch;
    cfg.walkableSlopeAngle = pathMaxSlopeDegrees;
    cfg.walkableHeight = static_cast<int>(std::ceil(agentHeight / ch));
    cfg.walkableClimb = static_cast<int>(std::floor(agentClimb / ch));
    cfg.walkableRadius = static_cast<int>(std::ceil(agentRadius / cs));
    cfg.maxEdgeLen = static_cast<int>(12.0f / cs);
    cfg.maxSimplificationError = 1.3f;
    cfg.minRegionArea = 8 * 8;
    cfg.mergeRegionArea = 20 * 20;
    cfg.maxVertsPerPoly = DT_VERTS_PER_POLYGON;
    cfg.tileSize = tileVoxels;
    cfg.borderSize = cfg.walkableRadius + 3;
    cfg.width = cfg.tileSize + cfg.borderSize * 2;
    cfg.height = cfg.tileSize + cfg.borderSize * 2;
    cfg.detailSampleDist = cs * 6.0f;
    cfg.detailSampleMaxError = ch;
    const float border = static_cast<float>(cfg.borderSize) * cs;

    // Faces and obstacles by the tiles (with their borders) they reach.
    const auto tileRange = [&](float lo, float hi, float half, uint32_t count, uint32_t& first,
                               uint32_t& last) {
        const double a = std::floor((static_cast<double>(lo) + half - border) / tileWidth);
        const double b = std::floor((static_cast<double>(hi) + half + border) / tileWidth);
        if (b < 0.0 || a > static_cast<double>(count) - 1.0)
            return false;
        first = static_cast<uint32_t>(std::max(0.0, a));
        last = static_cast<uint32_t>(std::min(static_cast<double>(count) - 1.0, b));
        return true;
    };
    std::vector<std::vector<uint32_t>> faceBuckets(static_cast<size_t>(tilesX) * tilesZ);
    bool anyWalkable = false;
    for (size_t i = 0; i < faces.size(); ++i) {
        const PathFace& f = faces[i];
        if (!f.IsWalkable() && !f.IsObstacle())
            continue;
        if (!IsFiniteVec3(f.corners[0]) || !IsFiniteVec3(f.corners[1]) || !IsFiniteVec3(f.corners[2]))
            continue;
        const float x0 = std::min({f.corners[0].x, f.corners[1].x, f.corners[2].x});
        const float x1 = std::max({f.corners[0].x, f.corners[1].x, f.corners[2].x});
        const float z0 = std::min({f.corners[0].z, f.corners[1].z, f.corners[2].z});
        const float z1 = std::max({f.corners[0].z, f.corners[1].z, f.corners[2].z});
        uint32_t ax, bx, az, bz;
        if (!tileRange(x0, x1, hx, tilesX, ax, bx) || !tileRange(z0, z1, hz, tilesZ, az, bz))
            continue;
        anyWalkable = anyWalkable || f.IsWalkable();
        for (uint32_t tz = az; tz <= bz; ++tz)
            for (uint32_t tx = ax; tx <= bx; ++tx)
                faceBuckets[static_cast<size_t>(tz) * tilesX + tx].push_back(static_cast<uint32_t>(i));
    }
    out.tileWidth = tileWidth;
    out.tilesX = tilesX;
    out.tilesZ = tilesZ;
    if (!anyWalkable)
        return true;
    std::vector<ObstacleOutline> outlines;
    for (const OBBox& obstacle : obstacles) {
        ObstacleOutline outline;
        if (MakeOutline(obstacle, outline))
            outlines.push_back(std::move(outline));
    }

    BuildContext ctx;
    uint32_t maxPolys = 1;
    std::vector<float> verts;
    std::vector<unsigned char> areas;
    for (uint32_t tz = 0; tz < tilesZ; ++tz) {
        for (uint32_t tx = 0; tx < tilesX; ++tx) {
            const std::vector<uint32_t>& bucket = faceBuckets[static_cast<size_t>(tz) * tilesX + tx];
            if (bucket.empty())
                continue;
            rcConfig tile = cfg;
            tile.bmin[0] = -hx + static_cast<float>(tx) * tileWidth - border;
            tile.bmin[1] = -hy;
            tile.bmin[2] = -hz + static_cast<float>(tz) * tileWidth - border;
            tile.bmax[0] = -hx + static_cast<float>(tx + 1) * tileWidth + border;
            tile.bmax[1] = hy;
            tile.bmax[2] = -hz + static_cast<float>(tz + 1) * tileWidth + border;

            verts.clear();
            areas.clear();
            for (uint32_t index : bucket) {
                const PathFace& f = faces[index];
                for (const Vec3& c : f.corners)
                    verts.insert(verts.end(), {c.x, c.y, c.z});
                const bool walkable =
                    f.IsWalkable() && IsWalkableSlope(f.corners[0], f.corners[1], f.corners[2]);
                areas.push_back(walkable ? RC_WALKABLE_AREA : RC_NULL_AREA);
            }

            std::unique_ptr<rcHeightfield, HeightfieldDeleter> solid(rcAllocHeightfield());
            if (!solid ||
                !rcCreateHeightfield(&ctx, *solid, tile.width, tile.height, tile.bmin, tile.bmax, tile.cs,
                                     tile.ch) ||
                !rcRasterizeTriangles(&ctx, verts.data(), areas.data(), static_cast<int>(areas.size()),
                                      *solid, tile.walkableClimb)) {
                LogPrintf(1, "PathMeshCompiler: tile %u, %u could not be rasterised", tx, tz);
                return false;
            }
            rcFilterLowHangingWalkableObstacles(&ctx, tile.walkableClimb, *solid);
            rcFilterLedgeSpans(&ctx, tile.walkableHeight, tile.walkableClimb, *solid);
            rcFilterWalkableLowHeightSpans(&ctx, tile.walkableHeight, *solid);

            std::unique_ptr<rcCompactHeightfield, CompactDeleter> chf(rcAllocCompactHeightfield());
            if (!chf ||
                !rcBuildCompactHeightfield(&ctx, tile.walkableHeight, tile.walkableClimb, *solid, *chf)) {
                LogPrintf(1, "PathMeshCompiler: tile %u, %u could not be compacted", tx, tz);
                return false;
            }
            solid.reset();
            // Obstacles first, so that the agent keeps its radius away from them as from edges.
            for (const ObstacleOutline& o : outlines) {
                if (o.maxX < tile.bmin[0] || o.minX > tile.bmax[0] || o.maxZ < tile.bmin[2] ||
                    o.minZ > tile.bmax[2])
                    continue;
                rcMarkConvexPolyArea(&ctx, o.verts.data(), static_cast<int>(o.verts.size() / 3), o.hmin,
                                     o.hmax, RC_NULL_AREA, *chf);
            }
            if (!rcErodeWalkableArea(&ctx, tile.walkableRadius, *chf) || !rcBuildDistanceField(&ctx, *chf) ||
                !rcBuildRegions(&ctx, *chf, tile.borderSize, tile.minRegionArea, tile.mergeRegionArea)) {
                LogPrintf(1, "PathMeshCompiler: the regions of tile %u, %u could not be built", tx, tz);
                return false;
            }
            std::unique_ptr<rcContourSet, ContourDeleter> cset(rcAllocContourSet());
            if (!cset || !rcBuildContours(&ctx, *chf, tile.maxSimplificationError, tile.maxEdgeLen, *cset)) {
                LogPrintf(1, "PathMeshCompiler: the outlines of tile %u, %u could not be traced", tx, tz);
                return false;
            }
            if (cset->nconts == 0)
                continue;
            std::unique_ptr<rcPolyMesh, PolyMeshDeleter> pmesh(rcAllocPolyMesh());
            std::unique_ptr<rcPolyMeshDetail, DetailDeleter> dmesh(rcAllocPolyMeshDetail());
            if (!pmesh || !dmesh || !rcBuildPolyMesh(&ctx, *cset, tile.maxVertsPerPoly, *pmesh) ||
                !rcBuildPolyMeshDetail(&ctx, *pmesh, *chf, tile.detailSampleDist, tile.detailSampleMaxError,
                                       *dmesh)) {
                LogPrintf(1, "PathMeshCompiler: the polygons of tile %u, %u could not be built", tx, tz);
                return false;
            }
            if (pmesh->npolys == 0)
                continue;
            if (pmesh->nverts >= 0xffff) {
                LogPrintf(1, "PathMeshCompiler: tile %u, %u has too many vertices", tx, tz);
                return false;
            }
            for (int i = 0; i < pmesh->npolys; ++i)
                pmesh->flags[i] = pmesh->areas[i] == RC_WALKABLE_AREA ? 1 : 0;

            dtNavMeshCreateParams params{};
            params.verts = pmesh->verts;
            params.vertCount = pmesh->nverts;
            params.polys = pmesh->polys;
            params.polyAreas = pmesh->areas;
            params.polyFlags = pmesh->flags;
            params.polyCount = pmesh->npolys;
            params.nvp = pmesh->nvp;
            params.detailMeshes = dmesh->meshes;
            params.detailVerts = dmesh->verts;
            params.detailVertsCount = dmesh->nverts;
            params.detailTris = dmesh->tris;
            params.detailTriCount = dmesh->ntris;
            params.walkableHeight = agentHeight;
            params.walkableRadius = agentRadius;
            params.walkableClimb = agentClimb;
            params.tileX = static_cast<int>(tx);
            params.tileY = static_cast<int>(tz);
            params.tileLayer = 0;
            for (int axis = 0; axis < 3; ++axis) {
                params.bmin[axis] = pmesh->bmin[axis];
                params.bmax[axis] = pmesh->bmax[axis];
            }
            params.cs = tile.cs;
            params.ch = tile.ch;
            params.buildBvTree = true;
            unsigned char* data = nullptr;
            int size = 0;
            if (!dtCreateNavMeshData(&params, &data, &size) || !data || size <= 0) {
                dtFree(data);
                LogPrintf(1, "PathMeshCompiler: the navigation data of tile %u, %u could not be made", tx,
                          tz);
                return false;
            }
            out.tiles.emplace_back(data, data + size);
            dtFree(data);
            maxPolys = std::max(maxPolys, static_cast<uint32_t>(pmesh->npolys));
        }
    }
    out.maxPolysPerTile = NextPowerOfTwo(maxPolys);
    if (Log2(NextPowerOfTwo(tilesX * tilesZ)) + Log2(out.maxPolysPerTile) > maxReferenceBits) {
        LogPrintf(1, "PathMeshCompiler: %u tiles of up to %u polygons do not fit a polygon reference",
                  tilesX * tilesZ, out.maxPolysPerTile);
        out.tiles.clear();
        return false;
    }
    return true;
}

} // namespace GAME
