// Path queries through the engine's path finder against Detour's own query on the same mesh. The
// mesh: a 256 x 256-unit field with 80 blocks scattered over it, built by the engine (Recast into
// Detour tiles). 10,000 queries between random points of the field; the reference snaps both ends
// onto the mesh and runs findPath and findStraightPath exactly as the path finder does for a way
// inside one region, without the region bookkeeping and the path object. Both must find the same
// number of ways with the same corners.
#include "common/BenchReport.h"
#include "core/WorldVec3.h"
#include "navigation/Path.h"
#include "navigation/PathFace.h"
#include "navigation/PathFinder.h"
#include "navigation/PathMesh.h"
#include "world/Region.h"
#include "world/RegionId.h"

#include <DetourNavMesh.h>
#include <DetourNavMeshQuery.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <vector>

namespace {

using namespace GAME;

constexpr int kQueries = 10000;
constexpr float kSize = 256.0f;
constexpr int kBlocks = 80;
// As the path finder's one query on a mesh.
constexpr int kNodes = 4096;
constexpr int kMaxCorridor = 2048;
constexpr int kMaxCorners = 512;

struct Pair
{
    Vec3 from, to; // region space
};

} // namespace

const char* const kHelp = R"(bench_pathfind: path queries through the engine's path finder against Detour's own.

Measures, with no render device: 10,000 queries between random points of a 256 x 256-unit field
with 80 blocks, on a path mesh the engine builds (Recast into Detour tiles).
Reference, in the same run: Detour's findPath and findStraightPath on the same mesh, as the path
finder runs them for a way inside one region; both must find the same ways with the same corners.

Figures (last lines of the output); lower is better for each:
  ratio path_query_vs_detour    path finder time / Detour time (1 is Detour's own cost)
  value path_query_time         microseconds a query
  value path_mesh_build_time    ms to build the field's path mesh
)";

int main(int argc, char** argv)
{
    if (const int code = BenchCommandLine(argc, argv, kHelp); code >= 0)
        return code;
    Region region(nullptr, 0, "field", ABBox(Vec3(kSize / 2, 0, kSize / 2), Vec3(kSize / 2, 30, kSize / 2)),
                  IntVec3(4096, 0, -8192), RegionId(), 0, 0);
    const IntSpaceBox box(IntVec3(4096 + 128, 0, -8192 + 128), IntVec3(136, 38, 136));
    const Vec3 shift = BuildFrameShift(region.GetOffsetFromWorld(), box);

    std::mt19937 random(7);
    std::uniform_real_distribution<float> along(4.0f, kSize - 4.0f);
    std::uniform_real_distribution<float> size(0.5f, 4.0f);
    std::vector<PathFace> faces;
    const Vec3 a(-136, 0, -136), b(136, 0, -136), c(136, 0, 136), d(-136, 0, 136);
    faces.emplace_back(a, d, c, PATH_FACE_WALKABLE);
    faces.emplace_back(a, c, b, PATH_FACE_WALKABLE);
    std::vector<OBBox> blocks;
    for (int i = 0; i < kBlocks; ++i)
        blocks.emplace_back(
            ABBox(Vec3(along(random), 1.0f, along(random)) + shift, Vec3(size(random), 1.0f, size(random))));

    PathMesh mesh;
    mesh.SetRegion(&region);
    const auto buildStart = std::chrono::steady_clock::now();
    if (!mesh.Create(faces, blocks, box)) {
        std::printf("bench_pathfind: the mesh could not be built\n");
        return 1;
    }
    const double buildSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - buildStart).count();
    PathFinder::Get()->AddMesh(&mesh);

    std::vector<Pair> pairs;
    for (int i = 0; i < kQueries; ++i)
        pairs.push_back({Vec3(along(random), 0.0f, along(random)), Vec3(along(random), 0.0f, along(random))});

    // The reference: Detour's own query, with its own node pool, on the engine's mesh.
    dtNavMeshQuery* query = dtAllocNavMeshQuery();
    if (!query || dtStatusFailed(query->init(mesh.GetNavMesh(), kNodes))) {
        std::printf("bench_pathfind: no Detour query\n");
        return 1;
    }
    dtQueryFilter filter;
    filter.setIncludeFlags(1);
    filter.setExcludeFlags(0);
    const float half[3] = {PathFinder::defaultExtentXZ, PathFinder::defaultExtentY,
                           PathFinder::defaultExtentXZ};
    std::vector<dtPolyRef> corridor(kMaxCorridor);
    std::vector<float> corners(3 * kMaxCorners);

    long libraryCorners = 0, referenceCorners = 0;
    int libraryFound = 0, referenceFound = 0;
    const auto library = [&] {
        libraryCorners = 0;
        libraryFound = 0;
        PathFinder* finder = PathFinder::Get();
        for (const Pair& p : pairs) {
            Path* path = finder->FindPath(0, WorldVec3(&region, p.from), WorldVec3(&region, p.to), Vec3(),
                                          0.0f, 0.5f, 2.0f, 45.0f, 0);
            if (path) {
                ++libraryFound;
                libraryCorners += path->GetNumPoints();
                delete path;
            }
        }
    };
    const auto reference = [&] {
        referenceCorners = 0;
        referenceFound = 0;
        for (const Pair& p : pairs) {
            const Vec3 from = p.from + shift, to = p.to + shift;
            const float s[3] = {from.x, from.y, from.z}, e[3] = {to.x, to.y, to.z};
            dtPolyRef startRef = 0, endRef = 0;
            float start[3], end[3];
            query->findNearestPoly(s, half, &filter, &startRef, start);
            query->findNearestPoly(e, half, &filter, &endRef, end);
            if (!startRef || !endRef)
                continue;
            int polys = 0;
            if (dtStatusFailed(query->findPath(startRef, endRef, start, end, &filter, corridor.data(), &polys,
                                               kMaxCorridor)) ||
                polys <= 0 || corridor[static_cast<size_t>(polys - 1)] != endRef)
                continue;
            int count = 0;
            const dtStatus status = query->findStraightPath(
                start, end, corridor.data(), polys, corners.data(), nullptr, nullptr, &count, kMaxCorners);
            if (dtStatusFailed(status) || count <= 0)
                continue;
            ++referenceFound;
            referenceCorners += count;
        }
    };

    double libraryBest = 1e30, referenceBest = 1e30;
    for (int round = 0; round < 3; ++round) {
        referenceBest = std::min(referenceBest, BestOf(1, reference));
        libraryBest = std::min(libraryBest, BestOf(1, library));
    }
    dtFreeNavMeshQuery(query);
    std::printf(
        "bench_pathfind: mesh of %d tiles, %d polygons built in %.2f s; %d queries: %d ways (%ld corners) "
        "through the path finder, %d ways (%ld corners) through Detour\n",
        mesh.GetNumTiles(), mesh.GetNumPolygons(), buildSeconds, kQueries, libraryFound, libraryCorners,
        referenceFound, referenceCorners);
    if (libraryFound != referenceFound || libraryCorners != referenceCorners) {
        std::printf("bench_pathfind: the path finder and Detour disagree\n");
        return 1;
    }
    PathFinder::Destroy();

    BenchReport report;
    report.Ratio("path_query_vs_detour", libraryBest / referenceBest);
    report.Value("path_query_time", libraryBest / kQueries * 1e6, "us");
    report.Value("path_mesh_build_time", buildSeconds * 1e3, "ms");
    report.Print();
    return 0;
}
