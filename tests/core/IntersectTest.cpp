#include "MathTestUtil.h"

#include "core/IntSpaceBox.h"
#include "core/Intersect.h"

#include <climits>
#include <cmath>

namespace GAME {
namespace {

using Test::Near;

const float kPi = 3.14159265f;

// The box between z = 1 and z = 10 seen from the origin with a 90 degree view.
Frustum ViewFrustum()
{
    Frustum f;
    f.AddPlane(Plane(Vec3(0, 0, 1), -1.0f));
    f.AddPlane(Plane(Vec3(0, 0, -1), 10.0f));
    const float s = std::sqrt(0.5f);
    f.AddPlane(Plane(Vec3(s, 0, s), 0.0f));
    f.AddPlane(Plane(Vec3(-s, 0, s), 0.0f));
    f.AddPlane(Plane(Vec3(0, s, s), 0.0f));
    f.AddPlane(Plane(Vec3(0, -s, s), 0.0f));
    return f;
}

TEST(RayTest, RaysStartingInsideHitAtZero)
{
    const Ray ray(Vec3(0.5f, 0, 0), Vec3(1, 0, 0));
    EXPECT_EQ(Sphere(Vec3(), 1).IntersectRay(ray), 0.0f);
    EXPECT_EQ(ABBox(Vec3(), Vec3(1, 1, 1)).GetIntersection(ray), 0.0f);
    const OBBox rotated(Vec3(1, 2, 1), Coords::Rotation(Vec3(0, 1, 0), 0.4f));
    EXPECT_EQ(rotated.IntersectRay(ray), 0.0f);
    Vec3 point(9, 9, 9);
    EXPECT_EQ(IntersectRaySphere(Vec3(0.5f, 0, 0), Vec3(3, 0, 0), Sphere(Vec3(), 1), point), 0.0f);
    EXPECT_EQ(point, Vec3(9, 9, 9));
}

TEST(RayTest, PlaneParallelBehindAndThrough)
{
    const Plane ground(Vec3(0, 1, 0), 0.0f);
    EXPECT_EQ(ground.IntersectRay(Ray(Vec3(0, 5, 0), Vec3(1, 0, 0))), gInfinity);
    EXPECT_EQ(ground.IntersectRay(Ray(Vec3(0, 5, 0), Vec3(0, 1, 0))), gInfinity);
    EXPECT_FLOAT_EQ(ground.IntersectRay(Ray(Vec3(0, 5, 0), Vec3(0, -2, 0))), 2.5f);

    Vec3 point;
    EXPECT_EQ(IntersectRayPlane(Vec3(1, 0, 2), Vec3(1, 0, 0), ground, point), 0.0f);
    EXPECT_EQ(point, Vec3(1, 0, 2));
    EXPECT_EQ(IntersectRayPlane(Vec3(0, 3, 0), Vec3(0, 1, 0), ground, point), gInfinity);
    EXPECT_EQ(IntersectRayPlane(Vec3(0, 3, 0), Vec3(1, 0, 0), ground, point), gInfinity);
    EXPECT_FLOAT_EQ(IntersectRayPlane(Vec3(0, 3, 0), Vec3(1, -1, 0), ground, point), 3.0f);
    EXPECT_EQ(point, Vec3(3, 0, 0));
}

TEST(RayTest, AxisAlignedBoxSlabs)
{
    const ABBox box(Vec3(0, 0, 0), Vec3(1, 1, 1));
    EXPECT_FLOAT_EQ(box.GetIntersection(Ray(Vec3(-5, 0, 0), Vec3(1, 0, 0))), 4.0f);
    EXPECT_EQ(box.GetIntersection(Ray(Vec3(-5, 2, 0), Vec3(1, 0, 0))), gInfinity);
    EXPECT_EQ(box.GetIntersection(Ray(Vec3(-5, 0, 0), Vec3(-1, 0, 0))), gInfinity);
    // Entering through the top face along a diagonal: the y slab decides.
    EXPECT_FLOAT_EQ(box.GetIntersection(Ray(Vec3(-1.5f, 3, 0), Vec3(0.5f, -1, 0))), 2.0f);
    EXPECT_FLOAT_EQ(box.GetIntersection(Ray(Vec3(-5, 0, 0), Vec3(2, 0, 0))), 2.0f);
}

TEST(RayTest, OrientedBoxHonoursItsAxes)
{
    // A unit cube turned 45 degrees about Y: its corner points at -x.
    const OBBox box(Vec3(1, 1, 1), Coords::Rotation(Vec3(0, 1, 0), kPi / 4));
    EXPECT_NEAR(box.IntersectRay(Ray(Vec3(-5, 0, 0), Vec3(1, 0, 0))), 5.0f - std::sqrt(2.0f), 1e-5f);
    EXPECT_EQ(box.IntersectRay(Ray(Vec3(-5, 0, 0), Vec3(-1, 0, 0))), gInfinity);
    EXPECT_EQ(box.IntersectRay(Ray(Vec3(-5, 1.5f, 0), Vec3(1, 0, 0))), gInfinity);
    EXPECT_EQ(box.IntersectRay(Ray(Vec3(-5, 0, 2), Vec3(1, 0, 0))), gInfinity);
    // Parallel to the box's Y axis, inside its other slabs.
    EXPECT_FLOAT_EQ(
        OBBox(ABBox(Vec3(0, 0, 0), Vec3(1, 1, 1))).IntersectRay(Ray(Vec3(0.5f, 5, 0), Vec3(0, -1, 0))), 4.0f);
}

TEST(RayTest, SphereRayVariants)
{
    Vec3 point;
    EXPECT_FLOAT_EQ(IntersectRaySphere(Vec3(-5, 0, 0), Vec3(2, 0, 0), Sphere(Vec3(), 1), point), 2.0f);
    EXPECT_TRUE(Near(point, Vec3(-1, 0, 0)));
    point = Vec3(9, 9, 9);
    EXPECT_EQ(IntersectRaySphere(Vec3(-5, 3, 0), Vec3(2, 0, 0), Sphere(Vec3(), 1), point), gInfinity);
    EXPECT_EQ(IntersectRaySphere(Vec3(-5, 0, 0), Vec3(-1, 0, 0), Sphere(Vec3(), 1), point), gInfinity);
    EXPECT_EQ(point, Vec3(9, 9, 9));

    const Sphere sphere(Vec3(0, 0, 0), 2);
    EXPECT_FLOAT_EQ(sphere.IntersectRay(Ray(Vec3(-5, 0, 0), Vec3(1, 0, 0))), 3.0f);
    EXPECT_FLOAT_EQ(sphere.IntersectRay(Ray(Vec3(-5, 2, 0), Vec3(1, 0, 0))), 5.0f); // grazing
    // An origin exactly on the surface answers the far crossing.
    EXPECT_FLOAT_EQ(sphere.IntersectRay(Ray(Vec3(-2, 0, 0), Vec3(1, 0, 0))), 4.0f);
}

TEST(RayTest, TriangleHitsInsideAndOnEdgesOnly)
{
    const Vec3 a(0, 0, 0), b(4, 0, 0), c(0, 0, 4);
    Vec3 point;
    EXPECT_FLOAT_EQ(IntersectRayTriangle(Vec3(1, 5, 1), Vec3(0, -1, 0), a, b, c, point), 5.0f);
    EXPECT_TRUE(Near(point, Vec3(1, 0, 1)));
    EXPECT_FLOAT_EQ(IntersectRayTriangle(Vec3(2, -3, 2), Vec3(0, 1, 0), a, c, b, point), 3.0f); // on the edge
    EXPECT_EQ(IntersectRayTriangle(Vec3(3, 5, 3), Vec3(0, -1, 0), a, b, c, point), gInfinity);
    EXPECT_EQ(IntersectRayTriangle(Vec3(1, 5, 1), Vec3(0, 1, 0), a, b, c, point), gInfinity);
    // Upright triangles project onto the other coordinate pairs.
    EXPECT_FLOAT_EQ(IntersectRayTriangle(Vec3(-2, 1, 1), Vec3(1, 0, 0), Vec3(0, 0, 0), Vec3(0, 4, 0),
                                         Vec3(0, 0, 4), point),
                    2.0f);
    EXPECT_EQ(IntersectRayTriangle(Vec3(1, 1, -2), Vec3(0, 0, 1), Vec3(0, 0, 0), Vec3(4, 0, 0), Vec3(0, 4, 0),
                                   point),
              2.0f);
    EXPECT_EQ(IntersectRayTriangle(Vec3(3, 3, -2), Vec3(0, 0, 1), Vec3(0, 0, 0), Vec3(4, 0, 0), Vec3(0, 4, 0),
                                   point),
              gInfinity);
}

TEST(RayTest, IntersectPlanesGivesTheSharedLine)
{
    const Plane a(Vec3(1, 0, 0), -2.0f); // x = 2
    const Plane b(Vec3(0, 1, 0), 3.0f);  // y = -3
    Ray line;
    ASSERT_TRUE(IntersectPlanes(a, b, line));
    EXPECT_NEAR(a.GetDistance(line.origin), 0.0f, 1e-5f);
    EXPECT_NEAR(b.GetDistance(line.origin), 0.0f, 1e-5f);
    EXPECT_EQ(line.direction, Vec3(0, 0, 1));
    EXPECT_NEAR(a.GetDistance(line.GetPoint(7)), 0.0f, 1e-5f);
    EXPECT_FALSE(IntersectPlanes(a, Plane(Vec3(1, 0, 0), 5.0f), line));
}

TEST(SweepTest, SphereAgainstPlaneAndTriangle)
{
    const Plane ground(Vec3(0, 1, 0), 0.0f);
    Vec3 point;
    EXPECT_FLOAT_EQ(SweepSpherePlane(Sphere(Vec3(0, 5, 0), 1), Vec3(0, -2, 0), ground, point), 2.0f);
    EXPECT_TRUE(Near(point, Vec3(0, 0, 0)));
    EXPECT_EQ(SweepSpherePlane(Sphere(Vec3(0, 5, 0), 1), Vec3(0, 1, 0), ground, point), gInfinity);
    EXPECT_EQ(SweepSpherePlane(Sphere(Vec3(2, 0.5f, 0), 1), Vec3(0, -1, 0), ground, point), 0.0f);
    EXPECT_TRUE(Near(point, Vec3(2, 0, 0)));

    const Vec3 a(0, 0, 0), b(0, 0, 4), c(4, 0, 0);
    EXPECT_FLOAT_EQ(SweepSphereTriangle(Sphere(Vec3(1, 3, 1), 1), Vec3(0, -1, 0), a, b, c, point), 2.0f);
    EXPECT_TRUE(Near(point, Vec3(1, 0, 1)));
    // Beside the triangle: it first touches the edge x = 0 at (0, 0, 1), after 3 - sqrt(0.75) units.
    EXPECT_NEAR(SweepSphereTriangle(Sphere(Vec3(-0.5f, 3, 1), 1), Vec3(0, -1, 0), a, b, c, point),
                3.0f - std::sqrt(0.75f), 1e-5f);
    EXPECT_TRUE(Near(point, Vec3(0, 0, 1)));
    EXPECT_EQ(SweepSphereTriangle(Sphere(Vec3(-3, 3, 1), 1), Vec3(0, -1, 0), a, b, c, point), gInfinity);
}

TEST(NearestTest, SegmentsTriangleEdgesAndReflection)
{
    const Vec3 a(0, 0, 0), b(4, 0, 0);
    EXPECT_EQ(ClosestPointOnSegment(a, b, Vec3(-2, 1, 0)), a);
    EXPECT_EQ(ClosestPointOnSegment(a, b, Vec3(9, 1, 0)), b);
    EXPECT_TRUE(Near(ClosestPointOnSegment(a, b, Vec3(1.5f, 3, -2)), Vec3(1.5f, 0, 0)));
    EXPECT_TRUE(Near(ClosestPointOnSegment(Vec2(0, 0), Vec2(0, 2), Vec2(5, 1)), Vec2(0, 1)));

    Vec3 point;
    EXPECT_FLOAT_EQ(
        ClosestPointOnTriangleEdges(Vec3(0, 0, 0), Vec3(4, 0, 0), Vec3(0, 4, 0), Vec3(1, -2, 0), point),
        4.0f);
    EXPECT_TRUE(Near(point, Vec3(1, 0, 0)));
    // Equidistant from ab and ca: the later edge (ca) wins.
    ClosestPointOnTriangleEdges(Vec3(0, 0, 0), Vec3(4, 0, 0), Vec3(0, 4, 0), Vec3(1, 1, 0), point);
    EXPECT_TRUE(Near(point, Vec3(0, 1, 0)));

    EXPECT_TRUE(Near(ReflectOffSphere(Vec3(-5, 0, 0), Vec3(2, 0, 0), 2.0f, Vec3(0, 0, 0)), Vec3(-1, 0, 0)));
    EXPECT_TRUE(Near(ReflectOffSphere(Vec3(0, 5, 0), Vec3(0, -1, 0), 4.0f, Vec3(0, 0, 0)), Vec3(0, 1, 0)));
}

TEST(OverlapTest, BoxesTouchingCountAsOverlapping)
{
    const ABBox a(Vec3(0, 0, 0), Vec3(1, 1, 1));
    EXPECT_TRUE(ABBoxesOverlap(a, ABBox(Vec3(2, 0, 0), Vec3(1, 1, 1))));
    EXPECT_FALSE(ABBoxesOverlap(a, ABBox(Vec3(2.01f, 0, 0), Vec3(1, 1, 1))));
    EXPECT_TRUE(a.ContainsPoint(Vec3(1, 0.5f, -1)));
    EXPECT_FALSE(a.ContainsPoint(Vec3(1.001f, 0, 0)));
    EXPECT_TRUE(BoxesOverlapXZ(Vec3(1.5f, 100, 0), Vec3(0.5f, 0, 0.5f), a));
    EXPECT_FALSE(BoxesOverlapXZ(Vec3(0, 0, 1.6f), Vec3(0.5f, 5, 0.5f), a));
    EXPECT_TRUE(IsBoxInsideXZ(Vec3(0.5f, 50, 0), Vec3(0.5f, 60, 1), a.center, a.extents));
    EXPECT_FALSE(IsBoxInsideXZ(Vec3(0.6f, 0, 0), Vec3(0.5f, 0, 1), a.center, a.extents));

    EXPECT_TRUE(ABBoxIntersectsSphere(a, Sphere(Vec3(2, 2, 1), std::sqrt(2.0f) + 1e-6f)));
    EXPECT_FALSE(ABBoxIntersectsSphere(a, Sphere(Vec3(2, 2, 1), 1.4f)));
    EXPECT_TRUE(ABBoxIntersectsSphere(a, Sphere(Vec3(0, 0, 0), 0.1f)));
}

TEST(OverlapTest, BoxUnionCornersAndOrientedBounds)
{
    const ABBox u = ABBox(Vec3(0, 0, 0), Vec3(1, 1, 1)).Union(ABBox(Vec3(5, 0, 0), Vec3(1, 2, 1)));
    EXPECT_EQ(u.GetMin(), Vec3(-1, -2, -1));
    EXPECT_EQ(u.GetMax(), Vec3(6, 2, 1));

    const auto corners = ABBox(Vec3(0, 0, 0), Vec3(1, 2, 3)).GetCorners();
    EXPECT_EQ(corners[0], Vec3(-1, -2, -3));
    EXPECT_EQ(corners[2], Vec3(1, -2, 3));
    EXPECT_EQ(corners[3], Vec3(-1, -2, 3));
    EXPECT_EQ(corners[5], Vec3(1, 2, -3));
    EXPECT_EQ(corners[7], Vec3(-1, 2, 3));

    const OBBox turned(Vec3(1, 1, 1), Coords(Coords::Rotation(Vec3(0, 1, 0), kPi / 4).xAxis, Vec3(0, 1, 0),
                                             Coords::Rotation(Vec3(0, 1, 0), kPi / 4).zAxis, Vec3(3, 0, 0)));
    const ABBox bounds = ABBox::FromOBBox(turned);
    EXPECT_TRUE(Near(bounds.center, Vec3(3, 0, 0)));
    EXPECT_TRUE(Near(bounds.extents, Vec3(std::sqrt(2.0f), 1, std::sqrt(2.0f))));
    for (const Vec3& c : turned.GetCorners())
        EXPECT_TRUE(bounds.ContainsPoint(c + (c - bounds.center) * -1e-5f));
    const auto obCorners = turned.GetCorners();
    EXPECT_TRUE(Near(obCorners[1], turned.coords.TransformPoint(Vec3(1, -1, -1))));
    EXPECT_TRUE(Near(obCorners[6], turned.coords.TransformPoint(Vec3(1, 1, 1))));

    const Coords place = Coords::Rotation(Vec3(0, 0, 1), 0.3f) * Coords::Translation(Vec3(1, 1, 1));
    const OBBox placed = TransformABBox(place, ABBox(Vec3(2, 0, 0), Vec3(1, 1, 1)));
    EXPECT_TRUE(Near(placed.GetCenter(), place.TransformPoint(Vec3(2, 0, 0))));
    EXPECT_TRUE(
        Near(TransformOBBox(place, OBBox(ABBox(Vec3(2, 0, 0), Vec3(1, 1, 1)))).coords, placed.coords));
}

TEST(OverlapTest, AxisAlignedAgainstOrientedBox)
{
    const ABBox box(Vec3(0, 0, 0), Vec3(1, 1, 1));
    const Coords turn = Coords::Rotation(Vec3(0, 1, 0), kPi / 4);
    auto at = [&](const Vec3& centre) {
        return OBBox(Vec3(1, 1, 1), Coords(turn.xAxis, turn.yAxis, turn.zAxis, centre));
    };
    EXPECT_TRUE(ABBoxIntersectsOBBox(box, at(Vec3(2, 0, 0))));
    EXPECT_FALSE(ABBoxIntersectsOBBox(box, at(Vec3(2.5f, 0, 0))));
    // Beyond the corner: the world axes do not separate them, the box's own axis does.
    EXPECT_FALSE(ABBoxesOverlap(box, ABBox::FromOBBox(at(Vec3(2.3f, 0, 2.3f)))) ==
                 ABBoxIntersectsOBBox(box, at(Vec3(2.3f, 0, 2.3f))));
    EXPECT_FALSE(ABBoxIntersectsOBBox(box, at(Vec3(2.3f, 0, 2.3f))));
    EXPECT_TRUE(ABBoxIntersectsOBBox(box, OBBox(box)));
}

TEST(OverlapTest, IntSpaceBoxMarginAndOverflow)
{
    const IntSpaceBox box(IntVec3(10, 0, 0), IntVec3(5, 5, 5));
    EXPECT_TRUE(box.Contains(IntVec3(18, 0, 0)));
    EXPECT_FALSE(box.Contains(IntVec3(19, 0, 0)));
    EXPECT_TRUE(box.Contains(IntVec3(2, -8, 8)));
    EXPECT_FALSE(box.Contains(IntVec3(10, 9, 0)));
    EXPECT_TRUE(box.ContainsXZ(IntVec3(10, 1000, 0)));
    EXPECT_TRUE(box.Intersects(IntSpaceBox(IntVec3(20, 0, 0), IntVec3(5, 1, 1))));
    EXPECT_FALSE(box.Intersects(IntSpaceBox(IntVec3(21, 0, 0), IntVec3(5, 1, 1))));

    const IntSpaceBox far(IntVec3(INT_MAX, INT_MIN, 0), IntVec3(INT_MAX, INT_MAX, 0));
    EXPECT_TRUE(far.Contains(IntVec3(INT_MAX, INT_MIN, 3)));
    EXPECT_FALSE(far.Contains(IntVec3(INT_MAX, INT_MIN, 4)));
    EXPECT_TRUE(far.Intersects(box));

    const IntSpaceBox u = IntSpaceBox(IntVec3(0, 0, 0), IntVec3(1, 1, 1))
                              .Union(IntSpaceBox(IntVec3(4, -6, 0), IntVec3(1, 1, 2)));
    EXPECT_EQ(u.center, IntVec3(2, -3, 0)); // -1..5, -7..1, -2..2
    EXPECT_EQ(u.halfSize, IntVec3(3, 4, 2));
    const IntSpaceBox odd = IntSpaceBox(IntVec3(0, 0, 0), IntVec3(0, 0, 0))
                                .Union(IntSpaceBox(IntVec3(-3, 0, 0), IntVec3(0, 0, 0)));
    EXPECT_EQ(odd.center.x, -1); // (-3 + 0) / 2 truncated toward zero
    EXPECT_EQ(odd.halfSize.x, 1);
}

TEST(OverlapTest, SphereInCone)
{
    const Vec3 apex(0, 0, 0), axis(0, 0, 1);
    const float angle = kPi / 6;
    EXPECT_TRUE(SphereInCone(apex, axis, angle, Vec3(0, 0, 10), 1));
    EXPECT_TRUE(SphereInCone(apex, axis, angle, Vec3(6, 0, 10), 1.5f)); // edge reaches in
    EXPECT_FALSE(SphereInCone(apex, axis, angle, Vec3(8, 0, 10), 1));
    EXPECT_FALSE(SphereInCone(apex, axis, angle, Vec3(0, 0, -5), 1));
    EXPECT_TRUE(SphereInCone(apex, axis, angle, Vec3(0, 0, -0.5f), 1)); // holds the apex
    EXPECT_FALSE(SphereInCone(apex, axis, angle, Vec3(0, 0, -1.5f), 1));
}

TEST(FrustumTest, SpheresAndEmptyFrusta)
{
    const Frustum empty;
    EXPECT_FALSE(SphereInFrustum(Sphere(Vec3(), 100), empty));
    EXPECT_FALSE(ABBoxInFrustum(ABBox(Vec3(), Vec3(100, 100, 100)), empty));
    EXPECT_FALSE(OBBoxInFrustum(OBBox(), empty));
    EXPECT_FALSE(ABBoxInFrustumExact(ABBox(Vec3(), Vec3(1, 1, 1)), empty));
    EXPECT_FALSE(PolygonInFrustum({Vec3(0, 0, 0), Vec3(1, 0, 0), Vec3(0, 1, 0)}, empty));

    Frustum half;
    half.AddPlane(Plane(Vec3(0, 0, 1), 0.0f));
    EXPECT_TRUE(SphereInFrustum(Sphere(Vec3(0, 0, -2), 2), half));
    EXPECT_FALSE(SphereInFrustum(Sphere(Vec3(0, 0, -2.01f), 2), half));
    EXPECT_TRUE(half.IntersectsSphere(Sphere(Vec3(0, 0, -3), 2), 1.0f));

    const Frustum view = ViewFrustum();
    EXPECT_TRUE(SphereInFrustum(Sphere(Vec3(0, 0, 5), 0.5f), view));
    EXPECT_FALSE(SphereInFrustum(Sphere(Vec3(0, 0, 12), 1), view));
    EXPECT_TRUE(view.GetExpanded(3.0f).IntersectsSphere(Sphere(Vec3(0, 0, 12), 1), 0.0f));
}

TEST(FrustumTest, MovingTheFrustumMovesWhatItContains)
{
    const Coords move = Coords::Rotation(Vec3(0, 1, 0), 1.0f) * Coords::Translation(Vec3(4, 0, -2));
    Frustum moved = ViewFrustum();
    moved.Transform(move);
    const Vec3 inside(0.5f, -0.5f, 5), outside(3, 0, 2);
    EXPECT_TRUE(SphereInFrustum(Sphere(move.TransformPoint(inside), 0.1f), moved));
    EXPECT_FALSE(SphereInFrustum(Sphere(move.TransformPoint(outside), 0.1f), moved));
    for (size_t i = 0; i < moved.GetNumPlanes(); ++i)
        EXPECT_NEAR(moved.GetPlane(i).GetDistance(move.TransformPoint(inside)),
                    ViewFrustum().GetPlane(i).GetDistance(inside), 1e-4f);

    Frustum shifted = ViewFrustum();
    shifted.Translate(Vec3(10, 0, 0));
    EXPECT_TRUE(SphereInFrustum(Sphere(Vec3(10, 0, 5), 0.1f), shifted));
    EXPECT_FALSE(SphereInFrustum(Sphere(Vec3(0, 0, 5), 0.1f), shifted));

    Frustum sized;
    sized.SetNumPlanes(2);
    EXPECT_EQ(sized.GetNumPlanes(), 2u);
    sized.GetPlane(1) = Plane(Vec3(1, 0, 0), 0.0f);
    EXPECT_EQ(sized.planes[1].normal, Vec3(1, 0, 0));
}

TEST(FrustumTest, ConservativeBoxTestPassesBoxesBesideACorner)
{
    const Frustum view = ViewFrustum();
    const ABBox inside(Vec3(0, 0, 5), Vec3(1, 1, 1));
    EXPECT_TRUE(ABBoxInFrustum(inside, view));
    EXPECT_TRUE(ABBoxInFrustumExact(inside, view));
    EXPECT_FALSE(ABBoxInFrustum(ABBox(Vec3(0, 0, 20), Vec3(1, 1, 1)), view));
    EXPECT_FALSE(ABBoxInFrustumExact(ABBox(Vec3(0, 0, 20), Vec3(1, 1, 1)), view));

    // Past the far-right corner: in front of every plane taken alone, yet outside the frustum.
    const ABBox besideCorner(Vec3(11.2f, 0, 9.7f), Vec3(1, 1, 1));
    EXPECT_TRUE(ABBoxInFrustum(besideCorner, view));
    EXPECT_FALSE(ABBoxInFrustumExact(besideCorner, view));

    // A box enclosing the whole frustum: no corner is inside, but faces cross it.
    EXPECT_TRUE(ABBoxInFrustumExact(ABBox(Vec3(0, 0, 5), Vec3(50, 50, 4.5f)), view));
}

TEST(FrustumTest, OrientedBoxesFollowTheirFrames)
{
    const Frustum view = ViewFrustum();
    const OBBox aligned(ABBox(Vec3(0, 0, 5), Vec3(1, 1, 1)));
    EXPECT_TRUE(OBBoxInFrustum(aligned, view));
    EXPECT_TRUE(OBBoxInFrustumExact(aligned, view));

    // A long thin box right of the frustum, turned so that one end reaches in at (4.2, 0, 8.6).
    Coords frame = Coords::Rotation(Vec3(0, 1, 0), std::atan2(-0.6f, -0.8f));
    frame.origin = Vec3(9, 0, 5);
    EXPECT_TRUE(Near(frame.xAxis, Vec3(-0.8f, 0, 0.6f)));
    const OBBox reaching(Vec3(6, 0.2f, 0.2f), frame);
    const OBBox unturned(Vec3(6, 0.2f, 0.2f), Coords::Translation(Vec3(14, 0, 5)));
    EXPECT_TRUE(OBBoxInFrustumExact(reaching, view));
    EXPECT_TRUE(OBBoxInFrustum(reaching, view));
    EXPECT_FALSE(OBBoxInFrustum(unturned, view));
    EXPECT_FALSE(OBBoxInFrustumExact(unturned, view));
}

TEST(ClipTest, SquareClippedByVerticalLineKeepsTheRuleOrder)
{
    std::vector<Vec3> square = {Vec3(0, 0, 0), Vec3(2, 0, 0), Vec3(2, 2, 0), Vec3(0, 2, 0)};
    ClipPolygonByPlane(square, Plane(Vec3(1, 0, 0), -1.0f));
    const std::vector<Vec3> expected = {Vec3(1, 0, 0), Vec3(2, 0, 0), Vec3(2, 2, 0), Vec3(1, 2, 0)};
    EXPECT_EQ(square, expected);

    std::vector<Vec3> behind = {Vec3(0, 0, 0), Vec3(2, 0, 0), Vec3(2, 2, 0)};
    ClipPolygonByPlane(behind, Plane(Vec3(1, 0, 0), -5.0f));
    EXPECT_TRUE(behind.empty());

    // Touching at one vertex leaves that vertex three times: touching counts as inside.
    std::vector<Vec3> touching = {Vec3(0, 0, 0), Vec3(1, 0, 0), Vec3(0, 1, 0)};
    ClipPolygonByPlane(touching, Plane(Vec3(-1, -1, 0), 0.0f));
    EXPECT_EQ(touching, std::vector<Vec3>(3, Vec3(0, 0, 0)));

    // Cut down to a corner triangle, then wholly behind the next plane.
    std::vector<Vec3> corner = {Vec3(0, 0, 0), Vec3(1, 0, 0), Vec3(0, 1, 0)};
    ClipPolygonByPlane(corner, Plane(Vec3(1, 0, 0), -0.5f));
    EXPECT_EQ(corner.size(), 3u);
    ClipPolygonByPlane(corner, Plane(Vec3(-1, 0, 0), 0.25f));
    EXPECT_TRUE(corner.empty());
}

TEST(ClipTest, PointOnThePlaneNextToOneBehindIsKeptTwice)
{
    std::vector<Vec3> triangle = {Vec3(0, 0, 0), Vec3(2, 0, 0), Vec3(1, 2, 0)};
    ClipPolygonByPlane(triangle, Plane(Vec3(1, 0, 0), 0.0f)); // x >= 0: (0,0,0) on the plane
    EXPECT_EQ(triangle.size(), 3u);
    std::vector<Vec3> square = {Vec3(0, 0, 0), Vec3(1, -1, 0), Vec3(2, 0, 0), Vec3(1, 1, 0)};
    ClipPolygonByPlane(square, Plane(Vec3(0, 1, 0), 0.0f)); // y >= 0: (0,0,0), (2,0,0) on it
    const std::vector<Vec3> expected = {Vec3(0, 0, 0), Vec3(2, 0, 0), Vec3(2, 0, 0), Vec3(1, 1, 0),
                                        Vec3(0, 0, 0)};
    EXPECT_EQ(square, expected);
}

TEST(ClipTest, PolygonGrowsPastAnyFixedCountWithManyPlanes)
{
    // 64 planes tangent to the unit circle cut a square of half-size 1.2 into a 64-gon.
    Frustum many;
    const int count = 64;
    for (int i = 0; i < count; ++i) {
        const float a = 2.0f * kPi * static_cast<float>(i) / count;
        many.AddPlane(Plane(Vec3(-std::cos(a), -std::sin(a), 0), 1.0f));
    }
    std::vector<Vec3> polygon = {Vec3(-1.2f, -1.2f, 0), Vec3(1.2f, -1.2f, 0), Vec3(1.2f, 1.2f, 0),
                                 Vec3(-1.2f, 1.2f, 0)};
    EXPECT_TRUE(PolygonInFrustum(polygon, many));
    for (const Plane& plane : many.planes)
        ClipPolygonByPlane(polygon, plane);
    EXPECT_EQ(polygon.size(), static_cast<size_t>(count));
    for (const Vec3& p : polygon)
        for (const Plane& plane : many.planes)
            EXPECT_GE(plane.GetDistance(p), -1e-5f);
    EXPECT_TRUE(ABBoxInFrustumExact(ABBox(Vec3(), Vec3(1.2f, 1.2f, 1)), many));
}

TEST(Lines2DTest, LinesAndSegments)
{
    Vec2 delta;
    float lengthSquared, s, t;
    int kind = -1;
    EXPECT_TRUE(
        IntersectLines2D(Vec2(0, 0), Vec2(2, 0), Vec2(1, -1), Vec2(0, 1), delta, lengthSquared, kind, s, t));
    EXPECT_EQ(kind, LINES_CROSS);
    EXPECT_FLOAT_EQ(s, 0.5f);
    EXPECT_FLOAT_EQ(t, 1.0f);
    EXPECT_EQ(delta, Vec2(1, -1));
    EXPECT_EQ(lengthSquared, 4.0f);
    EXPECT_TRUE(
        IntersectLines2D(Vec2(0, 0), Vec2(1, 1), Vec2(3, 3), Vec2(-2, -2), delta, lengthSquared, kind, s, t));
    EXPECT_EQ(kind, LINES_SAME);
    EXPECT_FALSE(
        IntersectLines2D(Vec2(0, 0), Vec2(1, 1), Vec2(0, 1), Vec2(2, 2), delta, lengthSquared, kind, s, t));
    EXPECT_EQ(kind, LINES_PARALLEL);

    EXPECT_FALSE(SegmentsIntersect2D(Vec2(0, 0), Vec2(2, 2), Vec2(2, 2), Vec2(4, 0))); // shared end
    EXPECT_TRUE(SegmentsIntersect2D(Vec2(0, 0), Vec2(2, 2), Vec2(1, 1), Vec2(3, 0)));  // t = 0
    EXPECT_TRUE(SegmentsIntersect2D(Vec2(0, 0), Vec2(2, 2), Vec2(0, 2), Vec2(2, 0)));
    EXPECT_FALSE(SegmentsIntersect2D(Vec2(0, 0), Vec2(1, 1), Vec2(0, 3), Vec2(3, 0)));
    EXPECT_FALSE(SegmentsIntersect2D(Vec2(0, 0), Vec2(2, 0), Vec2(1, 0), Vec2(3, 0))); // overlapping
    s = t = -9;
    EXPECT_FALSE(IntersectSegments2D(Vec2(0, 0), Vec2(1, 0), Vec2(3, -1), Vec2(3, 1), s, t));
    EXPECT_FLOAT_EQ(s, 3.0f); // written although outside the segment
    EXPECT_FLOAT_EQ(t, 0.5f);
}

TEST(Lines2DTest, CirclesAndBezier)
{
    Vec2 p, q;
    ASSERT_TRUE(IntersectCircles2D(Vec2(0, 0), 5, Vec2(8, 0), 5, p, q));
    EXPECT_TRUE(Near(p, Vec2(4, 3)));
    EXPECT_TRUE(Near(q, Vec2(4, -3)));
    ASSERT_TRUE(IntersectCircles2D(Vec2(0, 0), 1, Vec2(2, 0), 1, p, q));
    EXPECT_EQ(p, q);
    EXPECT_FALSE(IntersectCircles2D(Vec2(0, 0), 1, Vec2(3, 0), 1, p, q));
    EXPECT_FALSE(IntersectCircles2D(Vec2(0, 0), 5, Vec2(1, 0), 1, p, q));

    const Vec2 ctrl[4] = {Vec2(0, 0), Vec2(0, 1), Vec2(1, 1), Vec2(1, 0)};
    EXPECT_EQ(BezierPoint2D(ctrl, 0.0f), ctrl[0]);
    EXPECT_EQ(BezierPoint2D(ctrl, 1.0f), ctrl[3]);
    EXPECT_TRUE(Near(BezierPoint2D(ctrl, 0.5f), Vec2(0.5f, 0.75f)));
}

TEST(HullTest, QuickhullOrderAndDegenerateInput)
{
    std::vector<Vec2> hull;
    ComputeConvexHull2D({Vec2(0, 0), Vec2(2, 0), Vec2(1, 1), Vec2(1, 3), Vec2(1, -1)}, hull);
    EXPECT_EQ(hull, (std::vector<Vec2>{Vec2(1, 3), Vec2(2, 0), Vec2(1, -1), Vec2(0, 0)}));

    hull.assign(3, Vec2(9, 9));
    ComputeConvexHull2D({}, hull);
    EXPECT_TRUE(hull.empty());

    ComputeConvexHull2D({Vec2(4, 5)}, hull);
    EXPECT_EQ(hull, (std::vector<Vec2>{Vec2(4, 5), Vec2(4, 5)}));
    ComputeConvexHull2D({Vec2(1, 1), Vec2(3, 3), Vec2(0, 0), Vec2(2, 2)}, hull);
    EXPECT_EQ(hull, (std::vector<Vec2>{Vec2(3, 3), Vec2(0, 0)}));

    // Points on edges and inside are left out.
    ComputeConvexHull2D({Vec2(0, 0), Vec2(1, 0), Vec2(2, 0), Vec2(2, 2), Vec2(0, 2), Vec2(1, 1), Vec2(0, 1)},
                        hull);
    EXPECT_EQ(hull, (std::vector<Vec2>{Vec2(0, 2), Vec2(2, 2), Vec2(2, 0), Vec2(0, 0)}));
}

TEST(HullTest, EveryPointOfAParabolaIsAHullVertex)
{
    std::vector<Vec2> points;
    for (int x = -500; x <= 500; ++x)
        points.push_back(Vec2(static_cast<float>(x), static_cast<float>(x * x)));
    std::vector<Vec2> hull;
    ComputeConvexHull2D(points, hull);
    ASSERT_EQ(hull.size(), points.size());
    for (size_t i = 0; i < hull.size(); ++i)
        EXPECT_EQ(hull[i].x, 500.0f - static_cast<float>(i));
}

} // namespace
} // namespace GAME
