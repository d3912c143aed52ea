// The run-time terrain's ground queries against their plainest peers, on a 513 x 513 sample
// terrain whose heights are written here: 100,000 height queries against bilinear sampling of the
// same heights in a plain float array, and 100,000 rays (half straight down, half slanted)
// against a 2-D grid walk over the same cells that tests each cell's two triangles (the engine's
// ray-triangle test) and stops at the first cell that holds a hit. Every answer must agree.
#include "common/BenchReport.h"
#include "core/Intersect.h"
#include "core/Intersection.h"
#include "core/Ray.h"
#include "data/BinaryReader.h"
#include "datakit/TerrainWriter.h"
#include "terrain/TerrainRT.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

namespace {

using namespace GAME;

constexpr unsigned kSamples = 513;
constexpr int kQueries = 100000;
// Each timing covers every query this many times; the least disturbed of the rounds counts.
constexpr int kPasses = 8;
constexpr int kRounds = 15;

float Bilinear(const std::vector<float>& h, float x, float z)
{
    const float m = static_cast<float>(kSamples - 1);
    x = std::clamp(x, 0.0f, m);
    z = std::clamp(z, 0.0f, m);
    const unsigned ix = std::min(static_cast<unsigned>(x), kSamples - 2);
    const unsigned iz = std::min(static_cast<unsigned>(z), kSamples - 2);
    const float fx = x - static_cast<float>(ix), fz = z - static_cast<float>(iz);
    const float* r0 = h.data() + static_cast<size_t>(iz) * kSamples;
    const float* r1 = r0 + kSamples;
    const float a = r0[ix] + (r0[ix + 1] - r0[ix]) * fx;
    const float b = r1[ix] + (r1[ix + 1] - r1[ix]) * fx;
    return a + (b - a) * fz;
}

// Amanatides-Woo over the cells from where the ray enters the terrain; the first cell with a hit
// holds the nearest one.
float GridWalk(const std::vector<float>& h, const Ray& ray)
{
    const float m = static_cast<float>(kSamples - 1);
    float t0 = 0.0f, t1 = gInfinity;
    const float o[2] = {ray.origin.x, ray.origin.z}, d[2] = {ray.direction.x, ray.direction.z};
    for (int a = 0; a < 2; ++a) {
        if (d[a] == 0.0f) {
            if (o[a] < 0.0f || o[a] > m)
                return gInfinity;
            continue;
        }
        float lo = (0.0f - o[a]) / d[a], hi = (m - o[a]) / d[a];
        if (lo > hi)
            std::swap(lo, hi);
        t0 = std::max(t0, lo);
        t1 = std::min(t1, hi);
    }
    if (t0 > t1)
        return gInfinity;
    int cell[2], step[2];
    float next[2], delta[2];
    for (int a = 0; a < 2; ++a) {
        const float p = o[a] + d[a] * t0;
        cell[a] = std::clamp(static_cast<int>(std::floor(p)), 0, static_cast<int>(kSamples) - 2);
        step[a] = d[a] > 0.0f ? 1 : -1;
        delta[a] = d[a] != 0.0f ? std::fabs(1.0f / d[a]) : gInfinity;
        const float boundary = static_cast<float>(cell[a] + (d[a] > 0.0f ? 1 : 0));
        next[a] = d[a] != 0.0f ? (boundary - o[a]) / d[a] : gInfinity;
    }
    auto at = [&](int x, int z) {
        return Vec3(static_cast<float>(x), h[static_cast<size_t>(z) * kSamples + x], static_cast<float>(z));
    };
    for (;;) {
        const int x = cell[0], z = cell[1];
        Vec3 point;
        const float a =
            IntersectRayTriangle(ray.origin, ray.direction, at(x, z), at(x, z + 1), at(x + 1, z + 1), point);
        const float b =
            IntersectRayTriangle(ray.origin, ray.direction, at(x + 1, z + 1), at(x + 1, z), at(x, z), point);
        const float best = std::min(a, b);
        if (best < gInfinity)
            return best;
        const int axis = next[0] < next[1] ? 0 : 1;
        if (next[axis] > t1)
            return gInfinity;
        cell[axis] += step[axis];
        if (cell[axis] < 0 || cell[axis] > static_cast<int>(kSamples) - 2)
            return gInfinity;
        next[axis] += delta[axis];
    }
}

double Seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

} // namespace

const char* const kHelp = R"(bench_terrain: the run-time terrain's ground queries against their plainest peers.

Measures, with no render device, on a 513 x 513 sample terrain: 100,000 height queries and 100,000
rays (half straight down, half slanted).
References, in the same run: bilinear sampling of the same heights in a plain float array, and a
2-D grid walk over the same cells testing each cell's two triangles; every answer must agree.

Figures (last lines of the output); lower is better for each:
  value terrain_height_queries      ns a terrain height query
  value bilinear_height_queries     ns a bilinear sample
  value terrain_ray_queries         ns a terrain ray
  value grid_walk_ray_queries       ns a grid-walk ray
  ratio terrain_height_vs_bilinear  terrain / bilinear
  ratio terrain_ray_vs_grid_walk    terrain / grid walk
)";

int main(int argc, char** argv)
{
    if (const int code = BenchCommandLine(argc, argv, kHelp); code >= 0)
        return code;
    DataKit::TerrainWriter writer(kSamples, kSamples);
    for (unsigned z = 0; z < kSamples; ++z)
        for (unsigned x = 0; x < kSamples; ++x) {
            const float fx = static_cast<float>(x), fz = static_cast<float>(z);
            writer.Height(x, z) = 6.0f * std::sin(fx * 0.031f) * std::cos(fz * 0.027f) +
                                  2.0f * std::sin((fx + 2.0f * fz) * 0.11f) +
                                  0.5f * std::cos(fx * 0.7f + fz * 0.3f);
        }
    const std::vector<float>& heights = writer.heights;
    const std::vector<uint8_t> body = writer.Build();
    TerrainRT loaded(nullptr);
    BinaryReader reader(body.data(), static_cast<unsigned>(body.size()));
    if (!loaded.Load(reader, 13)) {
        std::fprintf(stderr, "the terrain did not load\n");
        return 1;
    }
    const TerrainBase& terrain = loaded;

    std::mt19937 random(2025);
    std::uniform_real_distribution<float> across(0.0f, static_cast<float>(kSamples - 1));
    std::uniform_real_distribution<float> angle(0.0f, 6.2831853f), dip(0.15f, 0.7f), above(12.0f, 24.0f);
    std::vector<Vec3> points(kQueries);
    for (Vec3& p : points)
        p = Vec3(across(random), 0.0f, across(random));
    std::vector<Ray> rays(kQueries);
    for (int i = 0; i < kQueries; ++i) {
        const Vec3 origin(across(random), above(random), across(random));
        if (i % 2 == 0) {
            rays[static_cast<size_t>(i)] = Ray(origin, Vec3(0.0f, -1.0f, 0.0f));
        } else {
            const float a = angle(random), e = dip(random);
            rays[static_cast<size_t>(i)] = Ray(origin, Vec3(std::cos(a), -e, std::sin(a)).Unit());
        }
    }

    // Every answer the same (heights exactly, hits to a rounding of the distance).
    for (int i = 0; i < kQueries; ++i) {
        const Vec3& p = points[static_cast<size_t>(i)];
        if (terrain.GetHeightInterpolated(p.x, p.z) != Bilinear(heights, p.x, p.z)) {
            std::fprintf(stderr, "height %d differs\n", i);
            return 1;
        }
        Intersection hit;
        terrain.GetIntersection(rays[static_cast<size_t>(i)], hit, physicsSurfaceAny);
        const float walked = GridWalk(heights, rays[static_cast<size_t>(i)]);
        if (!(std::fabs(hit.distance - walked) <= 1e-3f * (1.0f + walked)) && !(hit.distance == walked)) {
            std::fprintf(stderr, "ray %d differs: %g against %g\n", i, hit.distance, walked);
            return 1;
        }
    }

    double terrainHeights = 1e30, plainHeights = 1e30, terrainRays = 1e30, walkedRays = 1e30;
    volatile float sink = 0.0f;
    for (int round = 0; round < kRounds; ++round) {
        float sum = 0.0f;
        auto start = std::chrono::steady_clock::now();
        for (int pass = 0; pass < kPasses; ++pass)
            for (const Vec3& p : points)
                sum += terrain.GetHeightInterpolated(p.x, p.z);
        terrainHeights = std::min(terrainHeights, Seconds(start) / kPasses);
        start = std::chrono::steady_clock::now();
        for (int pass = 0; pass < kPasses; ++pass)
            for (const Vec3& p : points)
                sum += Bilinear(heights, p.x, p.z);
        plainHeights = std::min(plainHeights, Seconds(start) / kPasses);

        if (round % 3 == 0) {
            start = std::chrono::steady_clock::now();
            for (const Ray& ray : rays) {
                Intersection hit;
                terrain.GetIntersection(ray, hit, physicsSurfaceAny);
                sum += hit.distance;
            }
            terrainRays = std::min(terrainRays, Seconds(start));
            start = std::chrono::steady_clock::now();
            for (const Ray& ray : rays)
                sum += GridWalk(heights, ray);
            walkedRays = std::min(walkedRays, Seconds(start));
        }
        sink = sink + sum;
    }

    BenchReport report;
    report.Value("terrain_height_queries", 1e9 * terrainHeights / kQueries, "ns");
    report.Value("bilinear_height_queries", 1e9 * plainHeights / kQueries, "ns");
    report.Value("terrain_ray_queries", 1e9 * terrainRays / kQueries, "ns");
    report.Value("grid_walk_ray_queries", 1e9 * walkedRays / kQueries, "ns");
    report.Ratio("terrain_height_vs_bilinear", terrainHeights / plainHeights);
    report.Ratio("terrain_ray_vs_grid_walk", terrainRays / walkedRays);
    report.Print();
    return 0;
}
