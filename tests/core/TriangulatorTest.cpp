#include "core/MeshGenerator2D.h"
#include "core/TriangulationData.h"

#include "common/LogCapture.h"
#include "common/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>

namespace GAME {
namespace {

PolygonVertex V(float x, float y, float height = 0.0f, uint32_t value = 0)
{
    PolygonVertex v;
    v.x = x;
    v.y = y;
    v.height = height;
    v.values[0] = value;
    v.values[1] = value + 1;
    v.values[2] = value + 2;
    return v;
}

struct Result
{
    std::vector<std::array<int32_t, 3>> triangles;
};

Result TriangulateAll(TriangulationData& data)
{
    std::unique_ptr<int32_t[]> indices;
    int32_t count = -1;
    data.Triangulate(indices, count);
    Result result;
    EXPECT_EQ(indices == nullptr, count == 0);
    for (int32_t t = 0; t < count; ++t)
        result.triangles.push_back({indices[3 * t], indices[3 * t + 1], indices[3 * t + 2]});
    return result;
}

float SignedArea(const TriangulationData& data, const std::array<int32_t, 3>& t)
{
    const PolygonVertex a = data.GetVertex(t[0]), b = data.GetVertex(t[1]), c = data.GetVertex(t[2]);
    return 0.5f * ((b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x));
}

float CoveredArea(const TriangulationData& data, const Result& result)
{
    float sum = 0.0f;
    for (const auto& t : result.triangles) {
        EXPECT_GT(SignedArea(data, t), 0.0f) << "triangles run counter-clockwise";
        sum += SignedArea(data, t);
    }
    return sum;
}

// Outline through the points in order, closed.
void AddOutline(TriangulationData& data, std::initializer_list<std::pair<float, float>> points)
{
    std::vector<PolygonVertex> v;
    for (const auto& p : points)
        v.push_back(V(p.first, p.second));
    for (size_t i = 0; i < v.size(); ++i)
        data.AddSegment(v[i], v[(i + 1) % v.size()]);
}

TEST(TriangulationData, SnapsAndDeduplicatesPointsKeepingTheFirstVertex)
{
    TriangulationData data;
    data.SetSnapSpacing(0.5);
    const int32_t first = data.AddPoint(V(1.1f, 2.2f, 7.0f, 100));
    const int32_t second = data.AddPoint(V(0.9f, 2.1f, 9.0f, 200));
    EXPECT_EQ(first, 0);
    EXPECT_EQ(second, first);
    EXPECT_EQ(data.GetNumPoints(), 1);
    const PolygonVertex v = data.GetVertex(first);
    EXPECT_EQ(v.Position(), Vec2(1.0f, 2.0f));
    EXPECT_EQ(v.height, 7.0f);
    EXPECT_EQ(v.values[0], 100u);
    EXPECT_EQ(v.values[2], 102u);

    EXPECT_EQ(data.FindPoint(1.2f, 1.9f), first);
    EXPECT_EQ(data.FindPoint(1.3f, 2.0f), -1);
    EXPECT_EQ(data.AddPoint(V(-0.26f, -0.0f)), 1);
    EXPECT_EQ(data.FindPoint(0.0f - 0.5f, 0.0f), 1);
    EXPECT_EQ(data.GetVertex(5).Position(), Vec2(0, 0)); // out of range: a zero vertex

    // Without snapping, positions must match exactly.
    TriangulationData exact;
    exact.AddPoint(V(0.1f, 0.2f));
    EXPECT_EQ(exact.FindPoint(0.1f, 0.2f), 0);
    EXPECT_EQ(exact.FindPoint(0.1f, 0.20001f), -1);
}

TEST(TriangulationData, ToggledSegmentsCancelAndKeepTheirOrder)
{
    TriangulationData data;
    const PolygonVertex a = V(0, 0), b = V(1, 0), c = V(1, 1);
    data.AddSegment(a, b);
    data.AddPoint(c);
    data.ToggleSegment(b, c);
    data.ToggleSegment(c, b);
    EXPECT_EQ(data.GetSegments(), (std::vector<std::pair<int32_t, int32_t>>{{0, 1}}));
    data.ToggleSegment(b, a);
    EXPECT_EQ(data.GetNumSegments(), 0);
    data.ToggleSegment(a, V(5, 5)); // never added
    EXPECT_EQ(data.GetNumSegments(), 0);
    EXPECT_EQ(data.GetNumPoints(), 3);

    // Two cells sharing an edge: toggling both outlines leaves the outer rectangle.
    TriangulationData cells;
    for (int x = 0; x <= 2; ++x)
        for (int y = 0; y <= 1; ++y)
            cells.AddPoint(V(float(x), float(y)));
    for (int cell = 0; cell < 2; ++cell) {
        const float x0 = float(cell), x1 = float(cell + 1);
        cells.ToggleSegment(V(x0, 0), V(x1, 0));
        cells.ToggleSegment(V(x1, 0), V(x1, 1));
        cells.ToggleSegment(V(x1, 1), V(x0, 1));
        cells.ToggleSegment(V(x0, 1), V(x0, 0));
    }
    EXPECT_EQ(cells.GetNumSegments(), 6);
    for (const auto& s : cells.GetSegments())
        EXPECT_FALSE(cells.GetVertex(s.first).x == 1.0f && cells.GetVertex(s.second).x == 1.0f)
            << "the shared edge cancelled";
    const Result result = TriangulateAll(cells);
    EXPECT_EQ(result.triangles.size(), 4u);
    EXPECT_FLOAT_EQ(CoveredArea(cells, result), 2.0f);

    // Many removals (enough to compact the list) keep the survivors in their order.
    TriangulationData many;
    for (int i = 0; i < 300; ++i)
        many.AddSegment(V(float(i), 0), V(float(i), 1));
    for (int i = 299; i >= 0; --i)
        if (i % 3 != 0)
            many.ToggleSegment(V(float(i), 1), V(float(i), 0));
    const auto left = many.GetSegments();
    ASSERT_EQ(left.size(), 100u);
    for (size_t k = 0; k < left.size(); ++k)
        EXPECT_EQ(left[k], std::make_pair(int32_t(6 * k), int32_t(6 * k + 1)));
    many.ToggleSegment(V(3, 1), V(3, 0));
    EXPECT_EQ(many.GetNumSegments(), 99);
}

TEST(TriangulationData, SquareGivesTwoTrianglesAndEachSegmentCarvesItsRight)
{
    TriangulationData square;
    AddOutline(square, {{0, 0}, {1, 0}, {1, 1}, {0, 1}});
    Result result = TriangulateAll(square);
    ASSERT_EQ(result.triangles.size(), 2u);
    std::set<int32_t> used;
    for (const auto& t : result.triangles)
        used.insert(t.begin(), t.end());
    EXPECT_EQ(used, (std::set<int32_t>{0, 1, 2, 3}));
    EXPECT_FLOAT_EQ(CoveredArea(square, result), 1.0f);

    // The same outline clockwise keeps its inside on the right: nothing is left.
    TriangulationData clockwise;
    AddOutline(clockwise, {{0, 1}, {1, 1}, {1, 0}, {0, 0}});
    EXPECT_TRUE(TriangulateAll(clockwise).triangles.empty());

    // A clockwise hole inside a counter-clockwise outline is cut out; so is the bay of a concave
    // outline, which only the hull reaches.
    TriangulationData holed;
    AddOutline(holed, {{0, 0}, {4, 0}, {4, 4}, {2, 2.5f}, {0, 4}});
    AddOutline(holed, {{1, 1}, {1, 2}, {2, 2}, {2, 1}});
    result = TriangulateAll(holed);
    EXPECT_FLOAT_EQ(CoveredArea(holed, result), 16.0f - 3.0f - 1.0f);
    for (const auto& t : result.triangles) {
        float cx = 0, cy = 0;
        for (int32_t i : t) {
            cx += holed.GetVertex(i).x / 3.0f;
            cy += holed.GetVertex(i).y / 3.0f;
        }
        EXPECT_FALSE(cx > 1 && cx < 2 && cy > 1 && cy < 2) << "a triangle inside the hole";
    }
}

TEST(TriangulationData, CrossingPointsMapToTheNearestInputPoint)
{
    // A bow-tie outline crossing at (5, 5): its left lobe runs counter-clockwise and stays, the
    // right lobe is carved. The lobe holds one more point, E, which is the nearest to the crossing.
    TriangulationData data;
    AddOutline(data, {{0, 0}, {10, 10}, {10, 0}, {0, 10}});
    const int32_t e = data.AddPoint(V(1, 5));

    MeshGeneratorInput in;
    for (int32_t i = 0; i < data.GetNumPoints(); ++i) {
        in.points.push_back(data.GetVertex(i).x);
        in.points.push_back(data.GetVertex(i).y);
    }
    for (const auto& s : data.GetSegments()) {
        in.segments.push_back(s.first);
        in.segments.push_back(s.second);
    }
    MeshGeneratorOutput out;
    ASSERT_TRUE(GenerateMesh2D("pzcQ", in, out));
    ASSERT_EQ(out.points.size(), 2u * 6u) << "one point inserted at the crossing";
    EXPECT_EQ(out.points[10], 5.0);
    EXPECT_EQ(out.points[11], 5.0);

    // The lobe's three triangles all use the crossing; mapped to E, two of them collapse.
    const Result result = TriangulateAll(data);
    ASSERT_EQ(result.triangles.size(), 1u);
    std::set<int32_t> corners(result.triangles[0].begin(), result.triangles[0].end());
    EXPECT_EQ(corners, (std::set<int32_t>{0, 3, e}));
}

TEST(TriangulationData, EmptyAndFailingInputGiveNoTriangles)
{
    GAME::Test::LogCapture log;
    TriangulationData empty;
    EXPECT_TRUE(TriangulateAll(empty).triangles.empty());
    EXPECT_EQ(log.Count(), 0u);

    TriangulationData two;
    two.AddSegment(V(0, 0), V(1, 0));
    EXPECT_TRUE(TriangulateAll(two).triangles.empty());
    EXPECT_TRUE(log.Contains("Error:  Input must have at least three input vertices.", 0));

    // A failed run replaces an earlier result instead of leaving it half there.
    const Vec2 good[] = {{0, 0}, {1, 0}, {0, 1}};
    const int32_t segments[] = {0, 1, 1, 2, 2, 0};
    std::unique_ptr<int32_t[]> indices;
    int32_t count = 0;
    ASSERT_TRUE(TriangulatePoints(good, 3, segments, 3, indices, count));
    ASSERT_EQ(count, 1);
    const Vec2 bad[] = {{0, 0}, {NAN, 0}, {0, 1}};
    log.Clear();
    EXPECT_FALSE(TriangulatePoints(bad, 3, segments, 3, indices, count));
    EXPECT_EQ(indices, nullptr);
    EXPECT_EQ(count, 0);
    EXPECT_TRUE(log.Contains("Error:", 0));
    EXPECT_FALSE(TriangulatePoints(good, 0, segments, 3, indices, count));

    // The generator checks what it is handed: bad segment numbers are skipped with a warning.
    MeshGeneratorInput in;
    in.points = {0, 0, 1, 0, 0, 1};
    in.segments = {1, 2, 2, 9, 3, 3};
    MeshGeneratorOutput out;
    out.triangles = {7, 7, 7};
    log.Clear();
    ASSERT_TRUE(GenerateMesh2D("pc", in, out));
    EXPECT_EQ(out.triangles.size(), 3u);
    EXPECT_TRUE(log.Contains("Warning:  Invalid second endpoint of segment 2.", 0));
    EXPECT_TRUE(log.Contains("Warning:  Segment 3 has both endpoints at the same place", 0));
    std::set<int32_t> oneBased(out.triangles.begin(), out.triangles.end());
    EXPECT_EQ(oneBased, (std::set<int32_t>{1, 2, 3}));
    in.points.push_back(2);
    EXPECT_FALSE(GenerateMesh2D("pz", in, out));
    EXPECT_TRUE(out.points.empty());
    EXPECT_TRUE(out.triangles.empty());
}

TEST(TriangulationData, ShortSegmentsAndWeldingAndTheDump)
{
    TriangulationData data;
    data.AddSegment(V(0, 0), V(0.00005f, 0));
    data.AddSegment(V(0, 0), V(2, 0, 1.0f));
    data.AddSegment(V(2, 0.005f, 1.0f), V(0, 3));
    data.AddSegment(V(0, 3), V(0, 0));
    EXPECT_EQ(data.GetNumSegments(), 4);
    data.RemoveShortSegments();
    EXPECT_EQ(data.GetNumSegments(), 3);

    // (0, 0) and (0.00005, 0) weld, as do the two points near (2, 0) at the same height; the
    // segment (2, 0) - (2, 0.005) was never entered, so only the moved positions show.
    data.WeldPoints();
    EXPECT_EQ(data.GetVertex(0).x, data.GetVertex(1).x);
    EXPECT_FLOAT_EQ(data.GetVertex(2).y, 0.0025f);
    EXPECT_EQ(data.GetVertex(2).Position(), data.GetVertex(3).Position());
    EXPECT_EQ(data.GetNumSegments(), 3);
    data.AddSegment(V(2, 0, 1.0f), V(2, 0.005f, 1.0f)); // now the same place
    data.WeldPoints();
    EXPECT_EQ(data.GetNumSegments(), 3);

    TriangulationData small;
    small.AddSegment(V(0, 0), V(1, 0.5f));
    GAME::Test::TempDir dir;
    ASSERT_TRUE(small.DumpToFile(dir.File("outline.txt").c_str()));
    EXPECT_EQ(dir.Read("outline.txt"), "# Positions\n"
                                       "# --------------------\n"
                                       "# 0.00000000000000000000 0.00000000000000000000\n"
                                       "# 1.00000000000000000000 0.50000000000000000000\n"
                                       "\n# Segments\n"
                                       "# --------------------\n"
                                       "# 0 1\n"
                                       "\n# GNUPLOT data\n\n"
                                       "0.00000000000000000000 0.00000000000000000000\n"
                                       "1.00000000000000000000 0.50000000000000000000\n\n");
    GAME::Test::LogCapture log;
    EXPECT_FALSE(small.DumpToFile(dir.File("missing/folder/outline.txt").c_str()));
    EXPECT_TRUE(log.Contains("TriangulationData:", 1));
}

} // namespace
} // namespace GAME
