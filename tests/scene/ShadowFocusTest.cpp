// Property tests of the shadow focus: corner points of convex volumes, the caster volume against
// the swept volume, the fitted shadow matrices against their body points, and the body toolkit
// (box shadow volumes, face polygons, hulls and shadows of boxes from a point) against lines
// traced through the boxes and the corners the corner search finds.
#include "scene/ShadowFocus.h"
#include "core/MathUtil.h"
#include "scene/Camera.h"
#include "scene/GraphicsShadowMap.h"

#include <algorithm>
#include <cstddef>
#include <gtest/gtest.h>
#include <random>
#include <set>
#include <tuple>

namespace GAME {
namespace {

Frustum Box(const Vec3& min, const Vec3& max)
{
    Frustum f;
    f.AddPlane(Plane(Vec3(1, 0, 0), -min.x));
    f.AddPlane(Plane(Vec3(-1, 0, 0), max.x));
    f.AddPlane(Plane(Vec3(0, 1, 0), -min.y));
    f.AddPlane(Plane(Vec3(0, -1, 0), max.y));
    f.AddPlane(Plane(Vec3(0, 0, 1), -min.z));
    f.AddPlane(Plane(Vec3(0, 0, -1), max.z));
    return f;
}

bool Inside(const Frustum& f, const Vec3& p, float tolerance)
{
    for (const Plane& plane : f.planes)
        if (plane.GetDistance(p) < -tolerance)
            return false;
    return true;
}

Vec3 RandomUnit(std::mt19937& rng)
{
    std::normal_distribution<float> n(0.0f, 1.0f);
    for (;;) {
        const Vec3 v(n(rng), n(rng), n(rng));
        if (v.Length() > 0.1f)
            return v.Unit();
    }
}

// A camera frustum (with a far plane) cut by a box of casters, as the shadow map focuses it; the
// box is also returned.
Frustum ViewCutByBox(std::mt19937& rng, Camera& camera, ABBox* casters = nullptr)
{
    std::uniform_real_distribution<float> u(-20.0f, 20.0f);
    const Vec3 eye(u(rng), u(rng) * 0.5f + 15.0f, u(rng));
    const Vec3 forward = (Vec3(u(rng) * 0.2f, -1.0f, 1.0f) + RandomUnit(rng) * 0.3f).Unit();
    camera.SetCoords(Coords::LookInDirection(eye, forward, Vec3(0, 1, 0)));
    camera.SetFarPlane(60.0f);
    Frustum f = camera.GetFrustum(Viewport(0, 0, 640, 480));
    const Vec3 a(u(rng), -5.0f, u(rng)), b(u(rng), 10.0f, u(rng));
    if (casters) {
        *casters = ABBox::FromMinMax(Vec3::Min(a, b), Vec3::Max(a, b));
        return f;
    }
    for (const Plane& plane : Box(Vec3::Min(a, b), Vec3::Max(a, b)).planes)
        f.AddPlane(plane);
    return f;
}

// The range [t0, t1] of t over which o + t v lies in the box grown by margin (shrunk when
// negative); false when the line misses it.
bool LineThroughBox(const OBBox& box, float margin, const Vec3& o, const Vec3& v, float& t0, float& t1)
{
    const Vec3 axes[3] = {box.coords.xAxis, box.coords.yAxis, box.coords.zAxis};
    const float extents[3] = {box.extents.x, box.extents.y, box.extents.z};
    t0 = -gInfinity;
    t1 = gInfinity;
    for (int a = 0; a < 3; ++a) {
        const float e = extents[a] + margin;
        const float oc = Vec3::Dot(axes[a], o - box.coords.origin);
        const float vc = Vec3::Dot(axes[a], v);
        if (std::fabs(vc) < 1e-9f) {
            if (std::fabs(oc) > e)
                return false;
            continue;
        }
        float ta = (-e - oc) / vc, tb = (e - oc) / vc;
        if (ta > tb)
            std::swap(ta, tb);
        t0 = std::max(t0, ta);
        t1 = std::min(t1, tb);
    }
    return t0 <= t1;
}

OBBox RandomBox(std::mt19937& rng)
{
    std::uniform_real_distribution<float> u(-10.0f, 10.0f), e(0.3f, 3.0f), angle(0.0f, 6.2831853f);
    return OBBox(Vec3(e(rng), e(rng), e(rng)), Coords::Rotation(RandomUnit(rng), angle(rng)) *
                                                   Coords::Translation(Vec3(u(rng), u(rng), u(rng))));
}

// The six planes of the box, facing in.
Frustum BoxPlanes(const OBBox& box)
{
    const Vec3 axes[3] = {box.coords.xAxis, box.coords.yAxis, box.coords.zAxis};
    const float extents[3] = {box.extents.x, box.extents.y, box.extents.z};
    Frustum f;
    for (int a = 0; a < 3; ++a)
        for (float s : {-1.0f, 1.0f}) {
            const Vec3 inward = axes[a] * -s;
            f.AddPlane(Plane(inward, -Vec3::Dot(inward, box.coords.origin + axes[a] * (s * extents[a]))));
        }
    return f;
}

bool NearAny(const Vec3& p, const Vec3* points, int count, float tolerance)
{
    for (int i = 0; i < count; ++i)
        if ((points[i] - p).Length() <= tolerance)
            return true;
    return false;
}

// Every vertex of the body's polygons is a corner of the volume, and every corner is a vertex.
void ExpectPolygonsMeetAtTheCorners(const ConvexBody& body, const Frustum& volume, float tolerance)
{
    Vec3 corners[1000];
    const int count = ComputeVolumeCorners(corners, 1000, volume);
    ASSERT_LT(count, 1000);
    std::vector<Vec3> vertices;
    for (const std::vector<Vec3>& polygon : body.GetPolygons())
        vertices.insert(vertices.end(), polygon.begin(), polygon.end());
    for (const Vec3& v : vertices)
        ASSERT_TRUE(NearAny(v, corners, count, tolerance)) << "vertex " << v.x << " " << v.y << " " << v.z;
    for (int i = 0; i < count; ++i)
        ASSERT_TRUE(NearAny(corners[i], vertices.data(), static_cast<int>(vertices.size()), tolerance))
            << "corner " << corners[i].x << " " << corners[i].y << " " << corners[i].z;
}

TEST(ShadowFocusTest, CornersOfACubeAndOfDegenerateVolumes)
{
    Vec3 points[200];
    const int count = ComputeVolumeCorners(points, 200, Box(Vec3(-1, -2, -3), Vec3(1, 2, 3)));
    std::set<std::tuple<float, float, float>> distinct;
    for (int i = 0; i < count; ++i)
        distinct.insert({points[i].x, points[i].y, points[i].z});
    EXPECT_EQ(distinct.size(), 8u);
    for (const auto& [x, y, z] : distinct) {
        EXPECT_EQ(std::fabs(x), 1.0f);
        EXPECT_EQ(std::fabs(y), 2.0f);
        EXPECT_EQ(std::fabs(z), 3.0f);
    }
    EXPECT_EQ(ComputeVolumeCorners(points, 3, Box(Vec3(-1, -1, -1), Vec3(1, 1, 1))), 3);
    Frustum two;
    two.AddPlane(Plane(Vec3(1, 0, 0), 0.0f));
    two.AddPlane(Plane(Vec3(0, 1, 0), 0.0f));
    EXPECT_EQ(ComputeVolumeCorners(points, 200, two), 0);
    // A corner just outside a fourth plane (by less than the tolerance) still counts.
    Frustum tight = Box(Vec3(-1, -1, -1), Vec3(1, 1, 1));
    tight.AddPlane(Plane(Vec3(-1, 0, 0), 0.9995f));
    EXPECT_GE(ComputeVolumeCorners(points, 200, tight), 8);
}

TEST(ShadowFocusTest, PlanesAlongTheLightAreDroppedAndTheCasterVolumeHoldsTheSweptVolume)
{
    // A box lit straight down keeps its bottom face and gains four side planes; it opens upward.
    const Frustum box = Box(Vec3(-1, -1, -1), Vec3(1, 1, 1));
    const Frustum casters = ComputeCasterVolume(box, Vec3(0, -1, 0));
    ASSERT_EQ(casters.GetNumPlanes(), 5u);
    EXPECT_EQ(casters.GetPlane(0).normal, Vec3(0, 1, 0));
    EXPECT_TRUE(Inside(casters, Vec3(0.5f, 100.0f, -0.5f), 1e-4f));
    EXPECT_FALSE(Inside(casters, Vec3(1.5f, 100.0f, 0.0f), 1e-4f));

    std::mt19937 rng(1234);
    std::uniform_real_distribution<float> t(0.0f, 50.0f);
    for (int trial = 0; trial < 200; ++trial) {
        Camera camera;
        const Frustum volume = ViewCutByBox(rng, camera);
        const Vec3 d = RandomUnit(rng);
        const Frustum sweep = ComputeCasterVolume(volume, d);
        Vec3 corners[200];
        const int count = ComputeVolumeCorners(corners, 200, volume);
        for (int i = 0; i < count; ++i)
            for (int k = 0; k < 4; ++k) {
                // Each point of the volume moved back along the light lies in the caster volume.
                const Vec3 p = corners[i] - d * t(rng);
                ASSERT_TRUE(Inside(sweep, p, 1e-2f)) << "trial " << trial;
            }
    }
}

TEST(ShadowFocusTest, FittedMatricesMapEveryBodyPointIntoTheMap)
{
    std::mt19937 rng(99);
    int fitted = 0;
    for (int trial = 0; trial < 200; ++trial) {
        Camera camera;
        ABBox box;
        const Frustum view = ViewCutByBox(rng, camera, &box);
        Vec3 d = RandomUnit(rng);
        if (d.y > 0.0f)
            d.y = -d.y;
        // The focus as the directional map makes it: the view cut by the casters' box, swept
        // toward the light and closed at the nearest caster.
        GraphicsLight light;
        light.SetType(GraphicsLight::TYPE_DIRECTIONAL);
        light.SetObjectToWorldCoords(
            WorldCoords(nullptr, Coords::LookInDirection(Vec3(), -d, d.GetPerpendicular())));
        GraphicsShadowMap map(light, nullptr);
        RenderablePass pass;
        pass.bounds = box;
        ASSERT_TRUE(map.AddSurface(pass));
        ASSERT_NEAR(Vec3::Dot(map.GetLightFrame().zAxis, d), 1.0f, 1e-5f);
        Vec3 body[200];
        const int count = ComputeVolumeCorners(body, 200, map.ComputeFocusVolume(view));
        for (int algorithm = 0; algorithm < 2; ++algorithm) {
            Mat4 M;
            const bool ok = algorithm == 0
                                ? GraphicsShadowMap::FitUniform(camera, d, body, count, M)
                                : GraphicsShadowMap::FitLightSpacePerspective(camera, d, body, count, M);
            if (!ok)
                continue;
            ++fitted;
            for (int i = 0; i < count; ++i) {
                const Vec4 h = M * Vec4(body[i], 1.0f);
                ASSERT_GT(h.w, 0.0f);
                const Vec3 p(h.x / h.w, h.y / h.w, h.z / h.w);
                const float e = 1e-3f;
                ASSERT_TRUE(p.x >= -1 - e && p.x <= 1 + e && p.y >= -1 - e && p.y <= 1 + e && p.z >= -e &&
                            p.z <= 1 + e)
                    << "trial " << trial << " algorithm " << algorithm << " point (" << p.x << ", " << p.y
                    << ", " << p.z << ") body " << body[i].x << " " << body[i].y << " " << body[i].z
                    << " count " << count;
            }
        }
    }
    EXPECT_GT(fitted, 100);

    // The light along the view falls back to the uniform fit; an empty body fits nothing.
    Camera camera;
    camera.SetCoords(Coords::LookInDirection(Vec3(), Vec3(0, -1, 0), Vec3(1, 0, 0)));
    Vec3 body[8];
    const int count = ComputeVolumeCorners(body, 8, Box(Vec3(-1, -2, -1), Vec3(1, 0, 1)));
    Mat4 lispsm, uniform;
    ASSERT_TRUE(GraphicsShadowMap::FitLightSpacePerspective(camera, Vec3(0, -1, 0), body, count, lispsm));
    ASSERT_TRUE(GraphicsShadowMap::FitUniform(camera, Vec3(0, -1, 0), body, count, uniform));
    EXPECT_TRUE(lispsm == uniform);
    Mat4 untouched;
    untouched.At(0, 3) = 7.0f;
    EXPECT_FALSE(GraphicsShadowMap::FitLightSpacePerspective(camera, Vec3(0, -1, 0), body, 0, untouched));
    EXPECT_EQ(untouched.Get(0, 3), 7.0f);
}

TEST(ShadowFocusTest, ABoxShadowVolumeHoldsEveryLineAlongTheLightThatMeetsTheBox)
{
    // Lit straight down: the four sides, open up and down.
    const Frustum down = ComputeBoxShadowVolume(Vec3(0, 0, 0), Vec3(1, 2, 3), Vec3(0, -1, 0));
    EXPECT_EQ(down.GetNumPlanes(), 4u);
    EXPECT_TRUE(Inside(down, Vec3(0.9f, 100.0f, -2.9f), 0.0f));
    EXPECT_TRUE(Inside(down, Vec3(0.9f, -100.0f, 2.9f), 0.0f));
    EXPECT_FALSE(Inside(down, Vec3(1.1f, 0.0f, 0.0f), 0.0f));
    EXPECT_EQ(ComputeBoxShadowVolume(Vec3(), Vec3(1, 1, 1), Vec3()).GetNumPlanes(), 0u);

    std::mt19937 rng(77);
    std::uniform_real_distribution<float> u(-15.0f, 15.0f);
    int inside = 0, outside = 0;
    for (int trial = 0; trial < 100; ++trial) {
        const OBBox box(RandomBox(rng).extents, Coords::Translation(Vec3(u(rng), u(rng), u(rng))));
        const Vec3 d = RandomUnit(rng);
        const Frustum volume = ComputeBoxShadowVolume(box.coords.origin, box.extents, d);
        // A box seen along an axis shows 4 edges, otherwise 6.
        ASSERT_TRUE(volume.GetNumPlanes() == 4u || volume.GetNumPlanes() == 6u) << volume.GetNumPlanes();
        for (int k = 0; k < 200; ++k) {
            const Vec3 p = box.coords.origin + Vec3(u(rng), u(rng), u(rng));
            float t0, t1;
            if (LineThroughBox(box, -0.05f, p, d, t0, t1)) {
                ++inside;
                ASSERT_TRUE(Inside(volume, p, 0.0f)) << "trial " << trial;
            } else if (!LineThroughBox(box, 0.05f, p, d, t0, t1)) {
                ++outside;
                ASSERT_FALSE(Inside(volume, p, 0.0f)) << "trial " << trial;
            }
        }
    }
    EXPECT_GT(inside, 200);
    EXPECT_GT(outside, 1000);
}

TEST(ShadowFocusTest, StartPolygonsAndBoxFacesCutByPlanesMeetAtTheCornersOfTheVolume)
{
    // The square lies in its plane, spans the two minor axes and faces along the normal.
    const Frustum tilted({Plane(Vec3(0.3f, -0.9f, 0.2f).Unit(), 7.0f)});
    const std::vector<Vec3> square = MakeStartPolygon(tilted, 0);
    ASSERT_EQ(square.size(), 4u);
    for (const Vec3& p : square) {
        EXPECT_NEAR(tilted.planes[0].GetDistance(p), 0.0f, 0.01f);
        EXPECT_EQ(std::fabs(p.x), 5000.0f);
        EXPECT_EQ(std::fabs(p.z), 5000.0f);
    }
    EXPECT_GT(Vec3::Dot(Plane(square[0], square[1], square[2]).normal, tilted.planes[0].normal), 0.999f);
    EXPECT_TRUE(MakeStartPolygon(tilted, 1).empty());

    // Each plane's square cut by the others is its face: together the faces meet at the corners
    // the corner search finds.
    std::mt19937 rng(4321);
    int bodies = 0;
    for (int trial = 0; trial < 100; ++trial) {
        Camera camera;
        const Frustum volume = ViewCutByBox(rng, camera);
        Vec3 corners[200];
        if (ComputeVolumeCorners(corners, 200, volume) == 0)
            continue; // the casters' box is out of view
        ++bodies;
        ConvexBody body;
        for (size_t i = 0; i < volume.GetNumPlanes(); ++i) {
            Frustum others = volume;
            others.planes.erase(others.planes.begin() + static_cast<std::ptrdiff_t>(i));
            std::vector<Vec3> face = MakeStartPolygon(volume, i);
            ASSERT_EQ(face.size(), 4u);
            body.AddPolygon(face, others);
        }
        ASSERT_GE(body.GetNumPolygons(), 4) << "trial " << trial;
        ExpectPolygonsMeetAtTheCorners(body, volume, 0.02f);
        body.ClearPolygons();
        EXPECT_EQ(body.GetNumPolygons(), 0);
    }
    EXPECT_GT(bodies, 20);

    // A square wholly outside the body is not added.
    ConvexBody cube;
    for (const Plane& plane : Box(Vec3(-1, -1, -1), Vec3(1, 1, 1)).planes)
        cube.AddPlane(plane);
    EXPECT_FALSE(cube.AddPolygon(MakeStartPolygon(Frustum({Plane(Vec3(1, 0, 0), -5.0f)}), 0)));
    EXPECT_TRUE(cube.AddPolygon(MakeStartPolygon(Frustum({Plane(Vec3(1, 0, 0), -0.5f)}), 0)));
    EXPECT_EQ(cube.GetNumPolygons(), 1);

    // A turned box cut by one or two planes: its faces' remains meet at the corners of the cut box.
    for (int trial = 0; trial < 100; ++trial) {
        const OBBox box = RandomBox(rng);
        Frustum cuts;
        std::uniform_real_distribution<float> offset(-1.5f, 1.5f);
        for (int c = 0; c < 1 + trial % 2; ++c) {
            const Vec3 n = RandomUnit(rng);
            cuts.AddPlane(Plane(n, -Vec3::Dot(n, box.coords.origin + RandomUnit(rng) * offset(rng))));
        }
        ConvexBody body;
        const int faces = AddBoxFaces(body, box, cuts);
        EXPECT_EQ(faces, body.GetNumPolygons());
        Frustum volume = BoxPlanes(box);
        for (const Plane& plane : cuts.planes)
            volume.AddPlane(plane);
        ExpectPolygonsMeetAtTheCorners(body, volume, 0.01f);
    }
}

TEST(ShadowFocusTest, BoxBodiesFromAPointAreTheHullAndTheShadowOfTheBox)
{
    // Straight above a face: four silhouette edges; the hull is closed by the five faces turned
    // away, the shadow by the one face that looks at the point.
    const OBBox unit(Vec3(1, 1, 1), Coords());
    ConvexBody hull, shadow;
    AddBoxHullFromPoint(hull, unit, Vec3(0, 5, 0));
    AddBoxShadowFromPoint(shadow, unit, Vec3(0, 5, 0));
    EXPECT_EQ(hull.GetPlanes().GetNumPlanes(), 9u);
    EXPECT_EQ(shadow.GetPlanes().GetNumPlanes(), 5u);
    // Off every face's plane: six silhouette edges, three faces each way.
    ConvexBody cornerHull, cornerShadow;
    AddBoxHullFromPoint(cornerHull, unit, Vec3(4, 5, 6));
    AddBoxShadowFromPoint(cornerShadow, unit, Vec3(4, 5, 6));
    EXPECT_EQ(cornerHull.GetPlanes().GetNumPlanes(), 9u);
    EXPECT_EQ(cornerShadow.GetPlanes().GetNumPlanes(), 9u);
    // From inside, the hull is the box and there is no shadow a convex body could hold.
    ConvexBody inHull, inShadow;
    AddBoxHullFromPoint(inHull, unit, Vec3(0.5f, 0, 0));
    AddBoxShadowFromPoint(inShadow, unit, Vec3(0.5f, 0, 0));
    EXPECT_EQ(inHull.GetPlanes().GetNumPlanes(), 6u);
    EXPECT_EQ(inShadow.GetPlanes().GetNumPlanes(), 0u);
    EXPECT_EQ(inShadow.GetNumPolygons(), 0);

    std::mt19937 rng(2024);
    std::uniform_real_distribution<float> u(-25.0f, 25.0f), far(4.0f, 15.0f);
    int in[2] = {0, 0}, out[2] = {0, 0};
    for (int trial = 0; trial < 100; ++trial) {
        const OBBox box = RandomBox(rng);
        const Vec3 point = box.coords.origin + RandomUnit(rng) * far(rng);
        float t0, t1;
        if (LineThroughBox(box, 0.1f, point, Vec3(), t0, t1))
            continue; // inside the box
        ConvexBody bodies[2];
        AddBoxHullFromPoint(bodies[0], box, point);
        AddBoxShadowFromPoint(bodies[1], box, point);
        for (const ConvexBody& body : bodies) {
            // Every polygon lies in its plane and faces the way the plane does.
            ASSERT_EQ(static_cast<size_t>(body.GetNumPolygons()), body.GetPlanes().GetNumPlanes());
            for (int i = 0; i < body.GetNumPolygons(); ++i) {
                const std::vector<Vec3>& polygon = body.GetPolygon(i);
                const Plane& plane = body.GetPlanes().GetPlane(static_cast<size_t>(i));
                for (const Vec3& v : polygon)
                    ASSERT_NEAR(plane.GetDistance(v), 0.0f, 0.05f);
                ASSERT_GT(Vec3::Dot(Plane(polygon[0], polygon[1], polygon[2]).normal, plane.normal), 0.99f);
            }
        }
        std::uniform_real_distribution<float> along(0.0f, 2.5f), aside(0.0f, 4.0f);
        for (int k = 0; k < 400; ++k) {
            // Half anywhere around, half on lines from the point past the box.
            const Vec3 p =
                k % 2 ? box.coords.origin + Vec3(u(rng), u(rng), u(rng))
                      : point + (box.coords.origin + RandomUnit(rng) * aside(rng) - point) * along(rng);
            if ((p - point).Length() < 0.5f)
                continue;
            // The line from the point through p meets the box at t0..t1 (p at t = 1): p is in the
            // hull when some of the box lies at or beyond p, in the shadow when some of it lies
            // between the point and p.
            const bool shrunk = LineThroughBox(box, -0.05f, point, p - point, t0, t1);
            const bool hullIn = shrunk && t1 >= 1.0f, shadowIn = shrunk && t0 <= 1.0f && t1 >= 0.0f;
            const bool grown = LineThroughBox(box, 0.05f, point, p - point, t0, t1);
            const bool hullOut = !(grown && t1 >= 1.0f), shadowOut = !(grown && t0 <= 1.0f && t1 >= 0.0f);
            const bool expectIn[2] = {hullIn, shadowIn}, expectOut[2] = {hullOut, shadowOut};
            for (int b = 0; b < 2; ++b) {
                if (expectIn[b]) {
                    ++in[b];
                    ASSERT_TRUE(Inside(bodies[b].GetPlanes(), p, 0.0f)) << "trial " << trial << " body " << b;
                } else if (expectOut[b]) {
                    ++out[b];
                    ASSERT_FALSE(Inside(bodies[b].GetPlanes(), p, 0.0f))
                        << "trial " << trial << " body " << b;
                }
            }
        }
    }
    for (int b = 0; b < 2; ++b) {
        EXPECT_GT(in[b], 200);
        EXPECT_GT(out[b], 1000);
    }
}

} // namespace
} // namespace GAME
