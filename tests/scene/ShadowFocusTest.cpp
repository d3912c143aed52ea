// Property tests of the shadow focus: corner points of convex volumes, the caster volume against
// the swept volume, and the fitted shadow matrices against their body points.
#include "scene/ShadowFocus.h"
#include "scene/Camera.h"
#include "scene/GraphicsShadowMap.h"

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

} // namespace
} // namespace GAME
