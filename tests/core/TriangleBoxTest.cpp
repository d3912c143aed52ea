#include "core/TriangleBoxSeparation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace GAME {
namespace {

// Lies in y = 0 with its normal +y: (Q - P) x (R - P) = (0, 100, 0).
const Vec3 kGround[3] = {{-5, 0, -5}, {-5, 0, 5}, {5, 0, -5}};

OBBox Box(const Vec3& centre, const Vec3& extents, const Coords& axes = Coords())
{
    return OBBox(extents, Coords(axes.xAxis, axes.yAxis, axes.zAxis, centre));
}

TEST(TriangleBoxSeparation, RestingBoxTouchesWithDepthZeroAlongTheNormal)
{
    float depth = -1.0f;
    Vec3 axis;
    ASSERT_TRUE(TestTriangleOBBoxSeparation(kGround, Box({-1, 1, -1}, {1, 1, 1}), depth, axis));
    EXPECT_EQ(depth, 0.0f);
    EXPECT_EQ(axis, Vec3(0, 1, 0));

    ASSERT_TRUE(TestTriangleOBBoxSeparation(kGround, Box({-1, 0.75f, -1}, {1, 1, 1}), depth, axis));
    EXPECT_FLOAT_EQ(depth, 0.25f);
    EXPECT_EQ(axis, Vec3(0, 1, 0));

    // Just above, just below.
    EXPECT_FALSE(TestTriangleOBBoxSeparation(kGround, Box({-1, 1.01f, -1}, {1, 1, 1}), depth, axis));
    EXPECT_FALSE(TestTriangleOBBoxSeparation(kGround, Box({-1, -1.01f, -1}, {1, 1, 1}), depth, axis));

    float lo = 0, hi = 0;
    ProjectTriangleOnAxis(Vec3(1, 0, 0), kGround, lo, hi);
    EXPECT_EQ(lo, -5.0f);
    EXPECT_EQ(hi, 5.0f);
    ProjectOBBoxOnAxis(Vec3(0, 1, 0), Box({0, 2, 0}, {1, 3, 1}, Coords::Rotation(Vec3(0, 0, 1), 1.5707964f)),
                       lo, hi);
    EXPECT_NEAR(lo, 1.0f, 1e-5f); // the box's x extent now lies along y
    EXPECT_NEAR(hi, 3.0f, 1e-5f);
}

TEST(TriangleBoxSeparation, BoxBesideAnEdgeIsSeparatedByTheEdgeAxis)
{
    const Vec3 triangle[3] = {{0, 0, 0}, {0, 0, 4}, {4, 0, 0}};
    float depth = 0.0f;
    Vec3 axis;
    // Straddles the plane and overlaps the triangle's x and z ranges, but lies past the slanted edge.
    EXPECT_FALSE(TestTriangleOBBoxSeparation(triangle, Box({3, 0, 3}, {0.5f, 0.5f, 0.5f}), depth, axis));
    EXPECT_TRUE(TestTriangleOBBoxSeparation(triangle, Box({1.5f, 0, 1.5f}, {0.5f, 0.5f, 0.5f}), depth, axis));
    // Past a box axis.
    EXPECT_FALSE(TestTriangleOBBoxSeparation(triangle, Box({5, 0, 1}, {0.5f, 0.5f, 0.5f}), depth, axis));

    const Vec3 flat[3] = {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}};
    EXPECT_FALSE(TestTriangleOBBoxSeparation(flat, Box({1, 0, 0}, {1, 1, 1}), depth, axis));
    EXPECT_FALSE(TestTriangleOBBoxSeparation(kGround, Box({0, NAN, 0}, {1, 1, 1}), depth, axis));
}

// Any reported contact is resolved by moving the box along the axis by the depth, the axis points
// to the normal's side, and a triangle corner inside the box is never called separated.
TEST(TriangleBoxSeparation, DepthAndAxisResolveTheContact)
{
    std::mt19937 random(7);
    std::uniform_real_distribution<float> coord(-2.0f, 2.0f), size(0.2f, 1.5f), angle(-3.0f, 3.0f);
    int contacts = 0;
    for (int run = 0; run < 2000; ++run) {
        const Vec3 triangle[3] = {{coord(random), coord(random), coord(random)},
                                  {coord(random), coord(random), coord(random)},
                                  {coord(random), coord(random), coord(random)}};
        const Vec3 turn = Vec3(coord(random), coord(random), coord(random)).Unit();
        const OBBox box =
            Box({coord(random) * 0.5f, coord(random) * 0.5f, coord(random) * 0.5f},
                {size(random), size(random), size(random)}, Coords::Rotation(turn, angle(random)));
        float depth = 0.0f;
        Vec3 axis;
        const bool touching = TestTriangleOBBoxSeparation(triangle, box, depth, axis);

        const Coords toBox = box.coords.Inverse();
        for (const Vec3& corner : triangle) {
            const Vec3 local = toBox.TransformPoint(corner);
            if (std::fabs(local.x) < box.extents.x && std::fabs(local.y) < box.extents.y &&
                std::fabs(local.z) < box.extents.z) {
                EXPECT_TRUE(touching) << "run " << run;
            }
        }
        if (!touching)
            continue;
        ++contacts;
        const Vec3 normal = Vec3::Cross(triangle[1] - triangle[0], triangle[2] - triangle[0]).Unit();
        EXPECT_GE(depth, 0.0f);
        EXPECT_GT(Vec3::Dot(axis, normal), 0.0f);
        EXPECT_NEAR(axis.LengthSquared(), 1.0f, 1e-4f);
        OBBox moved = box;
        moved.coords.origin += axis * (depth + 0.01f);
        float after = 0.0f;
        Vec3 afterAxis;
        EXPECT_FALSE(TestTriangleOBBoxSeparation(triangle, moved, after, afterAxis)) << "run " << run;
    }
    EXPECT_GT(contacts, 200);

    // A sliver whose two short corners lie a few hundred smallest floats from zero: its edges are
    // nearly parallel and their cross products' squares lose their digits, yet the axis keeps
    // unit length (it came out at 0.71).
    const Vec3 sliver[3] = {{0.5f, 128.0f, 1.0f}, {4.2e-45f, 0.0312500037f, 8.4e-45f}, {2.65476307e-23f, 3.44593305e-41f, 0.0f}};
    const OBBox crossing(Vec3(0.35f, 32.225f, 0.38125f),
                         Coords(Vec3(0.955336511f, 0, -0.295520216f), Vec3(0, 1, 0), Vec3(0.295520216f, 0, 0.955336511f),
                                Vec3(0.773188472f, 128.0f, 0.807576418f)));
    float depth = 0.0f;
    Vec3 axis;
    ASSERT_TRUE(TestTriangleOBBoxSeparation(sliver, crossing, depth, axis));
    EXPECT_NEAR(axis.LengthSquared(), 1.0f, 1e-4f);
}

TEST(TriangleBoxSeparation, ClippingKeepsTheFrontAndStaysWithinSixteenPoints)
{
    ClipPolygon square;
    const Vec3 corners[4] = {{0, 0, 0}, {2, 0, 0}, {2, 2, 0}, {0, 2, 0}};
    std::copy(corners, corners + 4, square.points);
    square.count = 4;

    ClipPolygon half = square;
    ClipConvexPolygonByPlane(Plane(Vec3(1, 0, 0), -1.0f), half); // keeps x >= 1 (less the tolerance)
    ASSERT_EQ(half.count, 4);
    const Vec3 expected[4] = {{0.9999f, 0, 0}, {2, 0, 0}, {2, 2, 0}, {0.9999f, 2, 0}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_NEAR(half.points[i].x, expected[i].x, 1e-6f) << i;
        EXPECT_EQ(half.points[i].y, expected[i].y) << i;
    }

    // Cutting off one corner adds a point; keeping only one corner leaves a triangle.
    ClipPolygon cut = square;
    ClipConvexPolygonByPlane(Plane(Vec3(-1, -1, 0).Unit(), 3.0f / std::sqrt(2.0f)), cut); // x + y <= 3
    ASSERT_EQ(cut.count, 5);
    // The run in front starts after the point behind: (0, 2), (0, 0), (2, 0), between the crossings.
    EXPECT_EQ(cut.points[1], Vec3(0, 2, 0));
    EXPECT_EQ(cut.points[3], Vec3(2, 0, 0));
    ClipPolygon corner = square;
    ClipConvexPolygonByPlane(Plane(Vec3(-1, -1, 0).Unit(), 1.0f), corner); // x + y <= sqrt(2)
    ASSERT_EQ(corner.count, 3);
    EXPECT_EQ(corner.points[1], Vec3(0, 0, 0));

    ClipPolygon behind = square;
    ClipConvexPolygonByPlane(Plane(Vec3(1, 0, 0), -5.0f), behind);
    EXPECT_EQ(behind.count, 0);
    ClipPolygon front = square;
    ClipConvexPolygonByPlane(Plane(Vec3(1, 0, 0), 5.0f), front);
    EXPECT_EQ(front.count, 4);
    EXPECT_EQ(front.points[3], Vec3(0, 2, 0));

    // The tolerance grows with the plane's distance: a point 0.5 behind a plane 10000 units out
    // still counts as in front.
    ClipPolygon far = square;
    for (int i = 0; i < 4; ++i)
        far.points[i].x += 10000.0f;
    ClipConvexPolygonByPlane(Plane(Vec3(1, 0, 0), -10000.5f), far);
    EXPECT_EQ(far.count, 4);

    // A full 16-gon cut near one corner would need 17 points; it keeps 16, all in front and
    // within the original.
    ClipPolygon full;
    full.count = ClipPolygon::kMaxPoints;
    for (int i = 0; i < full.count; ++i) {
        const float a = 2.0f * 3.1415927f * float(i) / float(full.count);
        full.points[i] = Vec3(std::cos(a), std::sin(a), 0);
    }
    ClipConvexPolygonByPlane(Plane(Vec3(-1, 0, 0), 0.99f), full); // keeps x <= 0.99
    ASSERT_EQ(full.count, ClipPolygon::kMaxPoints);
    for (int i = 0; i < full.count; ++i) {
        EXPECT_LE(full.points[i].x, 0.99f + 1e-4f);
        EXPECT_LE(full.points[i].LengthSquared(), 1.0f + 1e-4f);
    }

    ClipPolygon broken;
    broken.count = 1000;
    ClipConvexPolygonByPlane(Plane(Vec3(1, 0, 0), 0.0f), broken);
    EXPECT_LE(broken.count, ClipPolygon::kMaxPoints);
    broken.count = -3;
    ClipConvexPolygonByPlane(Plane(Vec3(1, 0, 0), 0.0f), broken);
    EXPECT_EQ(broken.count, 0);
}

} // namespace
} // namespace GAME
