// The level's entity tree against Boost.Geometry's R-tree. 50,000 entities (boxes of 0.2 to 20
// units) in a 2,000-unit level; each of 200 frames moves 5,000 of them and runs 1,000 box and
// 1,000 frustum queries. The references: a quadratic R-tree kept current by remove and insert,
// and an R-tree packed anew each frame (the fastest to query). Every query's result set must be
// the same in all three.
//
// A move is the level's MoveEntity: the entity takes its new place and box, then the tree files
// it again. The R-tree's move does the same entity work, on a twin of each entity that the level
// places without filing it (a twin is in no tree, so MoveEntity only places it), then removes the
// old box from the R-tree and inserts the new one: both sides pay for the entity and differ only
// in the index.
#include "common/BenchReport.h"
#include "core/Intersect.h"
#include "world/Entity.h"
#include "world/Level.h"
#include "world/Region.h"
#include "world/World.h"

#include <boost/geometry.hpp>
#include <boost/geometry/index/rtree.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <memory>
#include <random>
#include <vector>

namespace bg = boost::geometry;
namespace bgi = boost::geometry::index;

namespace {

using namespace GAME;

constexpr int kEntities = 50000;
constexpr int kFrames = 200;
constexpr int kMovesPerFrame = 5000;
constexpr int kBoxQueries = 1000;
constexpr int kFrustumQueries = 1000;
constexpr float kHalfWorld = 1000.0f;
constexpr float kMaxHalf = 10.0f; // entities' half sizes are at most this

// An entity whose box is its origin grown by its half size.
class BoxEntity : public Entity
{
public:
    explicit BoxEntity(float half) : m_half(half) {}
    ~BoxEntity() override = default;
    void UpdateBoundingBox() override
    {
        SetRegionBoundingBox(
            ABBox(GetCoords().GetOrigin().GetRegionPosition(), Vec3(m_half, m_half, m_half)));
    }

private:
    float m_half;
};

using Point = bg::model::point<float, 3, bg::cs::cartesian>;
using Box = bg::model::box<Point>;
// The R-trees keep the engine's box beside the entity, as the tree does, so that their queries
// decide with the engine's own tests without visiting the entities.
struct Item
{
    Entity* entity;
    ABBox box;
    Entity* twin; // placed as the entity, in no tree: the R-tree's move places it
    bool operator==(const Item& other) const { return entity == other.entity && box == other.box; }
};
using Value = std::pair<Box, Item>;
using RTree = bgi::rtree<Value, bgi::quadratic<16>>;

Box ToBox(const ABBox& b)
{
    const Vec3 lo = b.GetMin(), hi = b.GetMax();
    return Box(Point(lo.x, lo.y, lo.z), Point(hi.x, hi.y, hi.z));
}

// The view's planes, and in bounds the box that holds every box of half size at most kMaxHalf
// that passes the conservative frustum test (not wholly behind any plane): such a box's centre
// lies in the frustum with each plane pushed out by the box's reach along its normal, at most
// |n| . (kMaxHalf, kMaxHalf, kMaxHalf); the corners of that grown frustum bound it.
Frustum MakeView(const Vec3& eye, const Vec3& dir, float halfAngle, float nearDistance, float farDistance,
                 ABBox& bounds)
{
    const Coords frame = Coords::LookInDirection(eye, dir, Vec3(0.0f, 1.0f, 0.0f));
    const Vec3 x = frame.xAxis, y = frame.yAxis, z = frame.zAxis;
    const float c = std::cos(halfAngle), s = std::sin(halfAngle);
    Frustum f;
    auto through = [&](const Vec3& n, const Vec3& p) { f.AddPlane(Plane(n, -Vec3::Dot(n, p))); };
    through(z, eye + z * nearDistance);
    through(-z, eye + z * farDistance);
    through(x * c + z * s, eye);
    through(-x * c + z * s, eye);
    through(y * c + z * s, eye);
    through(-y * c + z * s, eye);
    std::vector<Plane> grown;
    for (const Plane& p : f.planes)
        grown.emplace_back(p.normal,
                           p.d + (std::fabs(p.normal.x) + std::fabs(p.normal.y) + std::fabs(p.normal.z)) *
                                     kMaxHalf);
    // Every corner of the grown frustum is where three of its planes meet inside the others.
    Vec3 lo(1e30f, 1e30f, 1e30f), hi(-1e30f, -1e30f, -1e30f);
    const size_t n = grown.size();
    for (size_t i = 0; i < n; ++i)
        for (size_t j = i + 1; j < n; ++j)
            for (size_t k = j + 1; k < n; ++k) {
                const Vec3 &a = grown[i].normal, &b = grown[j].normal, &cc = grown[k].normal;
                const Vec3 bc = Vec3::Cross(b, cc);
                const double det = Vec3::Dot(a, bc);
                if (std::fabs(det) < 1e-6)
                    continue;
                const Vec3 p =
                    (bc * -grown[i].d + Vec3::Cross(cc, a) * -grown[j].d + Vec3::Cross(a, b) * -grown[k].d) *
                    static_cast<float>(1.0 / det);
                bool inside = true;
                for (const Plane& q : grown)
                    inside = inside && q.GetDistance(p) >= -1e-2f;
                if (!inside)
                    continue;
                lo = Vec3::Min(lo, p);
                hi = Vec3::Max(hi, p);
            }
    // The boxes reach kMaxHalf past their centres; a little more covers rounding.
    const Vec3 reach(kMaxHalf + 0.05f, kMaxHalf + 0.05f, kMaxHalf + 0.05f);
    bounds = ABBox::FromMinMax(lo - reach, hi + reach);
    return f;
}

double Seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Processor time of the run, for the loops of 5,000 moves: a shared machine that takes the
// processor away mid-loop does not count against either side.
double CpuSeconds()
{
    return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

} // namespace

const char* const kHelp = R"(bench_entity_tree: the level's entity tree against Boost.Geometry's R-tree.

Measures, with no render device: 50,000 entities in a 2,000-unit level; each of 200 frames moves
5,000 of them (Level::MoveEntity) and runs 1,000 box and 1,000 frustum queries.
References, in the same run: a quadratic R-tree kept current by remove and insert, and an R-tree
packed anew each frame (the fastest to query). Every query must find the same entities in all three.

Figures (last lines of the output); for every time and ratio lower is better:
  ratio tree_box_query_vs_packed_rtree       box queries, tree / packed R-tree
  ratio tree_frustum_query_vs_packed_rtree   frustum queries, tree / packed R-tree
  value tree_update_per_frame                ms a frame to move the entities in the tree
  value rtree_update_per_frame               ms a frame to move them in the R-tree
  value entity_placement_per_frame           ms a frame of entity work both updates include
  value rtree_packing_per_frame              ms a frame to pack the R-tree anew
  value tree_queries_per_frame               ms a frame of the tree's queries
  value packed_rtree_queries_per_frame       ms a frame of the packed R-tree's queries
  value entities_found_per_query             entities a query finds (the same for all; neither way is better)
  ratio tree_query_vs_rtree                  all queries, tree / R-tree
  ratio tree_update_vs_rtree                 moves, tree / R-tree
  ratio tree_query_vs_packed_rtree           all queries, tree / packed R-tree
)";

int main(int argc, char** argv)
{
    if (const int code = BenchCommandLine(argc, argv, kHelp); code >= 0)
        return code;
    std::mt19937 random(2024);
    std::uniform_real_distribution<float> coordinate(-kHalfWorld + 10.0f, kHalfWorld - 10.0f);
    std::uniform_real_distribution<float> height(-20.0f, 20.0f);
    std::uniform_real_distribution<float> half(0.1f, kMaxHalf);
    std::uniform_real_distribution<float> step(-8.0f, 8.0f);
    std::uniform_real_distribution<float> angle(0.0f, 6.2831853f);
    std::uniform_int_distribution<int> pick(0, kEntities - 1);

    World world;
    world.AddRegion("levels/bench.lvl", IntVec3(), ABBox(), RegionId());
    Region* region = world.GetRegion(0);
    Level* level = new Level(region);
    level->NewSpace(Vec2(kHalfWorld, kHalfWorld));
    level->PostLoad(false);
    region->SetLevel(level);

    std::vector<std::unique_ptr<BoxEntity>> entities, twins;
    // The level gives its entities (and takes its twins' places) back before they go, on every
    // way out.
    struct Release
    {
        Level* level;
        std::vector<std::unique_ptr<BoxEntity>>& entities;
        std::vector<std::unique_ptr<BoxEntity>>& twins;
        ~Release()
        {
            for (const auto& e : entities)
                level->RemoveEntity(e.get());
            for (const auto& e : twins)
                level->RemoveEntity(e.get());
        }
    } release{level, entities, twins};
    std::vector<Vec3> positions;
    std::vector<Value> values;
    entities.reserve(kEntities);
    twins.reserve(kEntities);
    for (int i = 0; i < kEntities; ++i) {
        const float h = half(random);
        entities.push_back(std::make_unique<BoxEntity>(h));
        twins.push_back(std::make_unique<BoxEntity>(h));
        positions.emplace_back(coordinate(random), height(random), coordinate(random));
        level->AddEntity(entities.back().get(), Coords::Translation(positions.back()));
        level->MoveEntity(twins.back().get(), Coords::Translation(positions.back()));
        const ABBox& box = entities.back()->GetRegionBoundingBox();
        values.emplace_back(ToBox(box), Item{entities.back().get(), box, twins.back().get()});
    }
    RTree dynamic(values.begin(), values.end());

    BenchReport report;
    double treeUpdate = 0, rtreeUpdate = 0, packing = 0, placement = 0;
    double treeQuery = 0, rtreeQuery = 0, packedQuery = 0;
    double treeBoxQuery = 0, packedBoxQuery = 0;
    size_t results = 0;
    std::vector<Entity*> mine, theirs, packedOut;
    std::vector<Value> found;
    std::vector<int> moved(kMovesPerFrame);
    std::vector<Vec3> targets(kMovesPerFrame);
    std::vector<ABBox> boxes(kBoxQueries);
    std::vector<Frustum> views(kFrustumQueries);
    std::vector<ABBox> viewBounds(kFrustumQueries);

    auto same = [&](const char* what, int frame) {
        std::sort(mine.begin(), mine.end());
        std::sort(theirs.begin(), theirs.end());
        std::sort(packedOut.begin(), packedOut.end());
        if (mine != theirs || mine != packedOut) {
            std::fprintf(stderr, "%s query results differ in frame %d (%zu, %zu, %zu)\n", what, frame,
                         mine.size(), theirs.size(), packedOut.size());
            return false;
        }
        results += mine.size();
        return true;
    };

    for (int frame = 0; frame < kFrames; ++frame) {
        // Moves: the same entities to the same places in both structures.
        for (int m = 0; m < kMovesPerFrame; ++m) {
            moved[m] = pick(random);
            Vec3 p = positions[static_cast<size_t>(moved[m])] + Vec3(step(random), 0.0f, step(random));
            p.x = std::clamp(p.x, -kHalfWorld, kHalfWorld);
            p.z = std::clamp(p.z, -kHalfWorld, kHalfWorld);
            targets[m] = p;
        }
        // A game moves entities that its own logic just touched: both structures start with the
        // moved entities in cache, whichever runs first.
        auto warm = [&](const std::vector<std::unique_ptr<BoxEntity>>& which) {
            unsigned sum = 0;
            for (int m = 0; m < kMovesPerFrame; ++m) {
                const unsigned char* bytes =
                    reinterpret_cast<const unsigned char*>(which[static_cast<size_t>(moved[m])].get());
                for (size_t at = 0; at < sizeof(BoxEntity); at += 64)
                    sum += bytes[at];
            }
            return sum;
        };
        unsigned warmed = warm(entities);
        double cpu = CpuSeconds();
        for (int m = 0; m < kMovesPerFrame; ++m)
            level->MoveEntity(entities[static_cast<size_t>(moved[m])].get(), Coords::Translation(targets[m]));
        treeUpdate += CpuSeconds() - cpu;

        // The entity work alone, for the report: the twins placed without any index.
        warmed += warm(twins);
        cpu = CpuSeconds();
        for (int m = 0; m < kMovesPerFrame; ++m)
            level->MoveEntity(twins[static_cast<size_t>(moved[m])].get(), Coords::Translation(targets[m]));
        placement += CpuSeconds() - cpu;

        warmed += warm(twins);
        cpu = CpuSeconds();
        for (int m = 0; m < kMovesPerFrame; ++m) {
            Value& value = values[static_cast<size_t>(moved[m])];
            level->MoveEntity(value.second.twin, Coords::Translation(targets[m]));
            dynamic.remove(value);
            value.second.box = value.second.twin->GetRegionBoundingBox();
            value.first = ToBox(value.second.box);
            dynamic.insert(value);
        }
        rtreeUpdate += CpuSeconds() - cpu;
        for (int m = 0; m < kMovesPerFrame; ++m)
            positions[static_cast<size_t>(moved[m])] = targets[m];
        if (warmed == 1)
            std::printf(" "); // keeps the warming reads

        auto start = std::chrono::steady_clock::now();
        RTree packed(values.begin(), values.end());
        packing += Seconds(start);

        // Queries.
        for (ABBox& box : boxes)
            box = ABBox(Vec3(coordinate(random), 0.0f, coordinate(random)), Vec3(30.0f, 15.0f, 30.0f));
        for (int q = 0; q < kFrustumQueries; ++q) {
            const float a = angle(random);
            views[static_cast<size_t>(q)] = MakeView(Vec3(coordinate(random), 2.0f, coordinate(random)),
                                                     Vec3(std::cos(a), -0.1f, std::sin(a)).Unit(), 0.5f, 1.0f,
                                                     100.0f, viewBounds[static_cast<size_t>(q)]);
        }
        for (int q = 0; q < kBoxQueries; ++q) {
            const ABBox& box = boxes[static_cast<size_t>(q)];
            mine.clear();
            theirs.clear();
            packedOut.clear();
            start = std::chrono::steady_clock::now();
            level->GetEntitiesInBox(mine, box, ENTITY_LIST_ALL);
            treeBoxQuery += Seconds(start);
            // Candidates from the R-trees, decided by the engine's own overlap test, so that
            // rounding at touching faces cannot tell the structures apart.
            const Box candidates = ToBox(ABBox(box.center, box.extents + Vec3(0.01f, 0.01f, 0.01f)));
            auto overlaps = [&box](const Value& v) { return ABBoxesOverlap(v.second.box, box); };
            found.clear();
            start = std::chrono::steady_clock::now();
            dynamic.query(bgi::intersects(candidates) && bgi::satisfies(overlaps), std::back_inserter(found));
            rtreeQuery += Seconds(start);
            for (const Value& v : found)
                theirs.push_back(v.second.entity);
            found.clear();
            start = std::chrono::steady_clock::now();
            packed.query(bgi::intersects(candidates) && bgi::satisfies(overlaps), std::back_inserter(found));
            packedBoxQuery += Seconds(start);
            for (const Value& v : found)
                packedOut.push_back(v.second.entity);
            if (!same("box", frame))
                return 1;
        }
        for (int q = 0; q < kFrustumQueries; ++q) {
            const Frustum& view = views[static_cast<size_t>(q)];
            const ABBox& grown = viewBounds[static_cast<size_t>(q)];
            auto inView = [&view](const Value& v) { return ABBoxInFrustum(v.second.box, view); };
            mine.clear();
            theirs.clear();
            packedOut.clear();
            start = std::chrono::steady_clock::now();
            level->GetEntitiesInFrustum(mine, &view, 1, false, ENTITY_LIST_ALL, false);
            treeQuery += Seconds(start);
            found.clear();
            start = std::chrono::steady_clock::now();
            dynamic.query(bgi::intersects(ToBox(grown)) && bgi::satisfies(inView), std::back_inserter(found));
            rtreeQuery += Seconds(start);
            for (const Value& v : found)
                theirs.push_back(v.second.entity);
            found.clear();
            start = std::chrono::steady_clock::now();
            packed.query(bgi::intersects(ToBox(grown)) && bgi::satisfies(inView), std::back_inserter(found));
            packedQuery += Seconds(start);
            for (const Value& v : found)
                packedOut.push_back(v.second.entity);
            if (frame == 0 && q < 20) {
                // The bounds must not hide anything: check a few views against every entity.
                std::vector<Entity*> all;
                for (const auto& e : entities)
                    if (ABBoxInFrustum(e->GetRegionBoundingBox(), view))
                        all.push_back(e.get());
                std::sort(all.begin(), all.end());
                std::sort(mine.begin(), mine.end());
                if (all != mine) {
                    std::fprintf(stderr, "frustum query misses entities (%zu of %zu)\n", mine.size(),
                                 all.size());
                    return 1;
                }
            }
            if (!same("frustum", frame))
                return 1;
        }
    }

    const double frames = kFrames;
    report.Ratio("tree_box_query_vs_packed_rtree", treeBoxQuery / packedBoxQuery);
    report.Ratio("tree_frustum_query_vs_packed_rtree", treeQuery / packedQuery);
    treeQuery += treeBoxQuery;
    packedQuery += packedBoxQuery;
    report.Value("tree_update_per_frame", 1000.0 * treeUpdate / frames, "ms");
    report.Value("rtree_update_per_frame", 1000.0 * rtreeUpdate / frames, "ms");
    report.Value("entity_placement_per_frame", 1000.0 * placement / frames, "ms"); // in both updates
    report.Value("rtree_packing_per_frame", 1000.0 * packing / frames, "ms");
    report.Value("tree_queries_per_frame", 1000.0 * treeQuery / frames, "ms");
    report.Value("packed_rtree_queries_per_frame", 1000.0 * packedQuery / frames, "ms");
    report.Value("entities_found_per_query",
                 static_cast<double>(results) / (frames * (kBoxQueries + kFrustumQueries)), "entities");
    report.Ratio("tree_query_vs_rtree", treeQuery / rtreeQuery);
    report.Ratio("tree_update_vs_rtree", treeUpdate / rtreeUpdate);
    report.Ratio("tree_query_vs_packed_rtree", treeQuery / packedQuery);
    report.Print();
    return 0;
}
