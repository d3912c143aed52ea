#include "core/Geometry2D.h"
#include "core/SimplePolygon.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <utility>

namespace GAME {
namespace {

PolygonVertex V(float x, float y, uint32_t tag = 0)
{
    PolygonVertex v;
    v.x = x;
    v.y = y;
    v.height = 0.5f * x;
    v.values[0] = tag;
    return v;
}

SimplePolygon Polygon(std::initializer_list<std::pair<float, float>> points)
{
    SimplePolygon polygon;
    uint32_t tag = 0;
    for (const auto& p : points)
        polygon.AddVertex(V(p.first, p.second, tag++));
    return polygon;
}

PolygonTriangle Tri(float ax, float ay, float bx, float by, float cx, float cy)
{
    return PolygonTriangle{{V(ax, ay), V(bx, by), V(cx, cy)}};
}

float TriangleArea(const PolygonTriangle& t)
{
    return 0.5f * Orient2D(t.v[0].Position(), t.v[1].Position(), t.v[2].Position());
}

float TotalArea(const std::vector<PolygonTriangle>& triangles)
{
    float sum = 0.0f;
    for (const auto& t : triangles)
        sum += TriangleArea(t);
    return sum;
}

TEST(SimplePolygon, AreaSignsAndOrientationAgreeOnBothWindings)
{
    SimplePolygon square = Polygon({{0, 0}, {1, 0}, {1, 1}, {0, 1}});
    EXPECT_FLOAT_EQ(square.GetSignedArea(), -1.0f);
    EXPECT_FLOAT_EQ(PolygonArea2D(square), 1.0f);
    EXPECT_FALSE(square.IsClockwise());
    EXPECT_GT(Orient2D({0, 0}, {1, 0}, {1, 1}), 0.0f);

    square.Reverse();
    EXPECT_EQ(square.GetVertex(0).values[0], 3u);
    EXPECT_FLOAT_EQ(square.GetSignedArea(), 1.0f);
    EXPECT_FLOAT_EQ(PolygonArea2D(square), -1.0f);
    EXPECT_TRUE(square.IsClockwise());

    // The leftmost vertex is the first of smallest x; the concave notch does not fool IsClockwise.
    SimplePolygon arrow = Polygon({{0, 0}, {4, 0}, {2, 1}, {4, 2}, {0, 2}});
    EXPECT_EQ(arrow.GetLeftmostVertex(), 0);
    EXPECT_FALSE(arrow.IsClockwise());
    EXPECT_FLOAT_EQ(PolygonArea2D(arrow), 6.0f);

    SimplePolygon empty;
    EXPECT_EQ(empty.GetLeftmostVertex(), -1);
    EXPECT_FALSE(empty.IsClockwise());
    EXPECT_EQ(empty.GetSignedArea(), 0.0f);
}

TEST(SimplePolygon, ContainsByWindingOnConvexAndConcaveOutlines)
{
    SimplePolygon square = Polygon({{0, 0}, {2, 0}, {2, 2}, {0, 2}});
    EXPECT_TRUE(square.Contains({1, 1}));
    EXPECT_FALSE(square.Contains({3, 1}));
    square.Reverse();
    EXPECT_TRUE(square.Contains({1, 1}));

    SimplePolygon arrow = Polygon({{0, 0}, {4, 0}, {2, 1}, {4, 2}, {0, 2}});
    EXPECT_TRUE(arrow.Contains({1, 1}));
    EXPECT_FALSE(arrow.Contains({3.5f, 1})); // in the notch
    EXPECT_FALSE(SimplePolygon().Contains({0, 0}));
}

TEST(Geometry2D, SnappingAndSegmentDistance)
{
    const Vec2 snapped = SnapToGrid({1.24f, -1.26f}, 0.5);
    EXPECT_EQ(snapped, Vec2(1.0f, -1.5f));
    EXPECT_EQ(SnapToGrid({1.24f, -1.26f}, 0.0), Vec2(1.24f, -1.26f));

    PolygonTriangle t = Tri(0.26f, 0.74f, 1.1f, 0.1f, -0.3f, 2.2f);
    SnapTriangle(t, 0.5);
    EXPECT_EQ(t.v[0].Position(), Vec2(0.5f, 0.5f));
    EXPECT_EQ(t.v[1].Position(), Vec2(1.0f, 0.0f));
    EXPECT_EQ(t.v[2].Position(), Vec2(-0.5f, 2.0f));
    EXPECT_FLOAT_EQ(t.v[1].height, 0.55f); // carried, not snapped

    float param = -1.0f;
    EXPECT_FLOAT_EQ(DistancePointToSegment2D({0, 0}, {2, 0}, {3, 1}, param), std::sqrt(2.0f));
    EXPECT_EQ(param, 1.0f);
    EXPECT_FLOAT_EQ(DistancePointToSegment2D({0, 0}, {2, 0}, {0.5f, -2}, param), 2.0f);
    EXPECT_FLOAT_EQ(param, 0.25f);
    EXPECT_FLOAT_EQ(DistancePointToSegment2D({0, 0}, {2, 0}, {-3, 4}, param), 5.0f);
    EXPECT_EQ(param, 0.0f);
    // A segment of zero length is a point: a finite distance, not 0/0.
    EXPECT_FLOAT_EQ(DistancePointToSegment2D({1, 1}, {1, 1}, {4, 5}, param), 5.0f);
    EXPECT_EQ(param, 0.0f);
}

TEST(Geometry2D, TriangleContainmentAndOverlap)
{
    const PolygonTriangle t = Tri(0, 0, 4, 0, 0, 4);
    EXPECT_TRUE(PointStrictlyInTriangle2D(t, {1, 1}));
    EXPECT_FALSE(PointStrictlyInTriangle2D(t, {2, 0})); // on an edge
    EXPECT_FALSE(PointStrictlyInTriangle2D(t, {0, 0})); // a corner
    EXPECT_FALSE(PointStrictlyInTriangle2D(t, {3, 3}));
    EXPECT_FALSE(PointStrictlyInTriangle2D(t, {NAN, 1}));
    EXPECT_FALSE(PointStrictlyInTriangle2D(Tri(0, 0, 1, 1, 2, 2), {1, 1})); // degenerate

    EXPECT_TRUE(InsideTriangle2D(0, 0, 4, 0, 0, 4, 2, 0)); // edges count
    EXPECT_TRUE(InsideTriangle2D(0, 0, 4, 0, 0, 4, 1, 1));
    EXPECT_FALSE(InsideTriangle2D(0, 0, 4, 0, 0, 4, 3, 3));

    EXPECT_TRUE(TriangleLeftOfLine(t, {0, 4}, {0, 0})); // the third vertex (4, 0) is left of x = 0 downwards
    EXPECT_FALSE(TriangleLeftOfLine(t, {0, 0}, {0, 4}));
    EXPECT_TRUE(TriangleLeftOfLine(t, {-1, 10}, {-1, -10}));
    EXPECT_FALSE(TriangleLeftOfLine(t, {-1, -10}, {-1, 10}));
    EXPECT_FALSE(TriangleLeftOfLine(t, {0, 4}, {4, 0})); // (0, 0) lies right of it

    // Identical triangles only touch; a star of two triangles and a triangle inside another overlap.
    EXPECT_FALSE(TrianglesOverlap2D(t, t));
    EXPECT_TRUE(TrianglesOverlap2D(Tri(0, 0, 6, 0, 3, 5), Tri(0, 3.3f, 3, -1.7f, 6, 3.3f)));
    EXPECT_TRUE(TrianglesOverlap2D(Tri(0, 0, 10, 0, 0, 10), Tri(1, 1, 2, 1, 1, 2)));
    EXPECT_TRUE(TrianglesOverlap2D(Tri(1, 1, 2, 1, 1, 2), Tri(0, 0, 10, 0, 0, 10)));
    EXPECT_FALSE(TrianglesOverlap2D(t, Tri(4, 0, 8, 0, 4, 4))); // share a corner
    EXPECT_FALSE(TrianglesOverlap2D(t, Tri(4, 0, 0, 4, 4, 4))); // share an edge
    EXPECT_FALSE(TrianglesOverlap2D(t, Tri(10, 10, 11, 10, 10, 11)));
}

TEST(Geometry2D, EarClippingKeepsTheAreaAndWalksCounterClockwise)
{
    std::vector<PolygonTriangle> triangles;
    EarClipTriangulate(Polygon({{0, 0}, {1, 0}, {1, 1}, {0, 1}}), triangles);
    ASSERT_EQ(triangles.size(), 2u);
    EXPECT_FLOAT_EQ(TotalArea(triangles), 1.0f);

    triangles.clear();
    EarClipTriangulate(Polygon({{0, 0}, {1, 0}}), triangles);
    EXPECT_TRUE(triangles.empty());

    // A concave comb, given clockwise: n - 2 triangles, each counter-clockwise, same area, and the
    // carried fields come along with the vertices.
    SimplePolygon comb = Polygon({{0, 0},
                                  {6, 0},
                                  {6, 3},
                                  {5, 3},
                                  {5, 1},
                                  {4, 1},
                                  {4, 3},
                                  {3, 3},
                                  {3, 1},
                                  {2, 1},
                                  {2, 3},
                                  {1, 3},
                                  {1, 1},
                                  {0, 1}});
    const float combArea = PolygonArea2D(comb);
    comb.Reverse();
    triangles.clear();
    EarClipTriangulate(comb, triangles);
    ASSERT_EQ(triangles.size(), 12u);
    for (const auto& t : triangles) {
        EXPECT_GT(TriangleArea(t), 0.0f);
        for (const auto& v : t.v)
            EXPECT_FLOAT_EQ(v.height, 0.5f * v.x);
    }
    EXPECT_FLOAT_EQ(TotalArea(triangles), combArea);

    // A self-crossing outline ends without a hang and without more than n - 2 triangles.
    triangles.clear();
    EarClipTriangulate(Polygon({{0, 0}, {2, 2}, {2, 0}, {0, 2}, {-1, 1}}), triangles);
    EXPECT_LE(triangles.size(), 3u);
}

TEST(SimplePolygon, MergedHoleTriangulatesToTheAreaBetween)
{
    SimplePolygon outer = Polygon({{0, 0}, {10, 0}, {10, 10}, {0, 10}});
    SimplePolygon hole = Polygon({{4, 4}, {6, 4}, {6, 6}, {4, 6}});
    ASSERT_FALSE(hole.IsClockwise());
    hole.Reverse();
    outer.MergeHole(hole);
    ASSERT_EQ(outer.GetNumVertices(), 4 + 4 + 2);
    // The bridge: an outer vertex left of the hole, then the hole from its leftmost vertex round
    // to it again, then back to the outer vertex.
    const int bridge = 0;
    EXPECT_EQ(outer.GetVertex(bridge + 1).Position(), outer.GetVertex(bridge + 5).Position());
    EXPECT_EQ(outer.GetVertex(bridge).Position(), outer.GetVertex(bridge + 6).Position());
    EXPECT_LE(outer.GetVertex(bridge).x, 4.0f);
    EXPECT_FLOAT_EQ(PolygonArea2D(outer), 96.0f);

    std::vector<PolygonTriangle> triangles;
    EarClipTriangulate(outer, triangles);
    EXPECT_EQ(triangles.size(), 8u);
    EXPECT_FLOAT_EQ(TotalArea(triangles), 96.0f);
    for (const auto& t : triangles)
        EXPECT_FALSE(PointStrictlyInTriangle2D(t, {5, 5}));

    // A hole left of every outer vertex has no bridge: the outline stays as it was.
    SimplePolygon far = Polygon({{0, 0}, {10, 0}, {10, 10}, {0, 10}});
    far.MergeHole(Polygon({{-5, 4}, {-5, 6}, {-3, 6}}));
    EXPECT_EQ(far.GetNumVertices(), 4);
    far.MergeHole(SimplePolygon());
    EXPECT_EQ(far.GetNumVertices(), 4);
}

// For every pair of triangles sharing an edge, the angles opposite it.
std::vector<float> OppositeAngleSums(const std::vector<PolygonTriangle>& triangles)
{
    std::map<std::pair<PolygonVertex, PolygonVertex>, std::pair<size_t, int>> edges;
    for (size_t t = 0; t < triangles.size(); ++t)
        for (int i = 0; i < 3; ++i)
            edges[{triangles[t].v[i], triangles[t].v[(i + 1) % 3]}] = {t, i};
    auto angle = [](const Vec2& c, const Vec2& a, const Vec2& b) {
        const Vec2 u = a - c, w = b - c;
        return std::acos((u.x * w.x + u.y * w.y) /
                         std::sqrt((u.x * u.x + u.y * u.y) * (w.x * w.x + w.y * w.y)));
    };
    std::vector<float> sums;
    for (const auto& [edge, where] : edges) {
        auto other = edges.find({edge.second, edge.first});
        if (other == edges.end() || !(edge.first < edge.second))
            continue;
        const auto& t1 = triangles[where.first];
        const auto& t2 = triangles[other->second.first];
        const Vec2 a = edge.first.Position(), b = edge.second.Position();
        sums.push_back(angle(t1.v[(where.second + 2) % 3].Position(), a, b) +
                       angle(t2.v[(other->second.second + 2) % 3].Position(), a, b));
    }
    return sums;
}

TEST(Geometry2D, EdgeFlipsTurnTheLongDiagonalOfAFlatQuadrilateral)
{
    const PolygonVertex u = V(0, 0, 1), v = V(4, 0, 2), p = V(2, 0.5f, 3), q = V(2, -0.5f, 4);
    std::vector<PolygonTriangle> triangles = {PolygonTriangle{{u, v, p}}, PolygonTriangle{{v, u, q}}};
    FlipTriangleEdges(triangles);
    ASSERT_EQ(triangles.size(), 2u);
    for (const auto& t : triangles) {
        EXPECT_FLOAT_EQ(TriangleArea(t), 1.0f);
        // Both now hold the short diagonal p-q.
        int hits = 0;
        for (const auto& w : t.v)
            hits += (w == p) + (w == q);
        EXPECT_EQ(hits, 2);
    }

    // A pair that already has the short diagonal stays exactly as it was.
    const std::vector<PolygonTriangle> good = triangles;
    FlipTriangleEdges(triangles);
    for (size_t t = 0; t < 2; ++t)
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(triangles[t].v[i], good[t].v[i]);
}

TEST(Geometry2D, EdgeFlipsLeaveNoEdgeAboveTheLimitAndKeepTheArea)
{
    // Ear clipping a convex polygon makes a fan of slivers; the flips even them out.
    SimplePolygon ellipse;
    for (int i = 0; i < 24; ++i) {
        const float a = 2.0f * 3.1415927f * float(i) / 24.0f;
        ellipse.AddVertex(V(20.0f * std::cos(a), 3.0f * std::sin(a), uint32_t(i)));
    }
    std::vector<PolygonTriangle> triangles;
    EarClipTriangulate(ellipse, triangles);
    ASSERT_EQ(triangles.size(), 22u);
    const float area = TotalArea(triangles);
    auto before = OppositeAngleSums(triangles);
    ASSERT_FALSE(before.empty());
    EXPECT_GT(*std::max_element(before.begin(), before.end()), 181.0f * 0.017453292f);

    FlipTriangleEdges(triangles);
    ASSERT_EQ(triangles.size(), 22u);
    EXPECT_NEAR(TotalArea(triangles), area, 1e-3f);
    for (const auto& t : triangles)
        EXPECT_GT(TriangleArea(t), 0.0f);
    const auto after = OppositeAngleSums(triangles);
    EXPECT_EQ(after.size(), before.size());
    for (float sum : after)
        EXPECT_LE(sum, 181.0f * 0.017453292f + 1e-4f);

    // Unconnected and degenerate triangles are left alone.
    std::vector<PolygonTriangle> odd = {Tri(0, 0, 0, 0, 1, 1), Tri(5, 5, 6, 5, 5, 6)};
    FlipTriangleEdges(odd);
    EXPECT_EQ(odd[1].v[1].Position(), Vec2(6, 5));
}

} // namespace
} // namespace GAME
