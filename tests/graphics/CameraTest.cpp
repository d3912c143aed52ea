#include "graphics/Camera.h"

#include "core/MathUtil.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <vector>

namespace GAME {
namespace {

::testing::AssertionResult Near(const Vec2& a, const Vec2& b, float eps = 1e-4f)
{
    if (std::fabs(a.x - b.x) <= eps && std::fabs(a.y - b.y) <= eps)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "(" << a.x << ", " << a.y << ") vs (" << b.x << ", " << b.y << ")";
}

::testing::AssertionResult Near(const Vec3& a, const Vec3& b, float eps = 1e-4f)
{
    if (std::fabs(a.x - b.x) <= eps && std::fabs(a.y - b.y) <= eps && std::fabs(a.z - b.z) <= eps)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "(" << a.x << ", " << a.y << ", " << a.z << ") vs (" << b.x
                                         << ", " << b.y << ", " << b.z << ")";
}

bool Inside(const Frustum& frustum, const Vec3& p)
{
    for (const Plane& plane : frustum.planes)
        if (plane.GetDistance(p) < 0.0f)
            return false;
    return !frustum.planes.empty();
}

// A camera away from the origin, turned about a slanted axis, looking at (4, 1, 9).
Camera PlacedCamera(int type)
{
    Camera camera;
    camera.SetType(type);
    camera.SetCoords(Coords::LookAt(Vec3(-3, 5, 2), Vec3(4, 1, 9), Vec3(0, 1, 0)));
    camera.SetFOV(50.0f * 0.017453292f);
    camera.SetWidth(12.0f);
    camera.SetHeight(6.0f);
    camera.SetNearPlane(0.5f);
    camera.SetFarPlane(200.0f);
    return camera;
}

const Viewport kView(10, 20, 640, 400);

TEST(Camera, ImagePointsRaysAndProjectionsRoundTrip)
{
    for (int type : {CAMERA_PERSPECTIVE, CAMERA_ORTHOGRAPHIC}) {
        SCOPED_TRACE(type);
        const Camera camera = PlacedCamera(type);
        const Coords& c = camera.GetCoords();
        EXPECT_TRUE(Near(camera.GetImagePoint(Vec2(0.5f, 0.5f), kView), c.origin + c.zAxis));
        for (const Vec2 screen : {Vec2(0.5f, 0.5f), Vec2(0.1f, 0.8f), Vec2(1.0f, 0.0f), Vec2(0.75f, 0.3f)}) {
            const Vec3 image = camera.GetImagePoint(screen, kView);
            EXPECT_TRUE(Near(camera.ProjectToImageSpace(image, kView), screen));
            // Pixels of the viewport, without its offsets.
            EXPECT_TRUE(
                Near(camera.Project(image, kView), Vec2(screen.x * 640.0f, screen.y * 400.0f), 0.05f));
            // Every point along the ray lands on the same screen point.
            const Ray ray = camera.GetRayThroughImagePoint(screen, kView);
            EXPECT_NEAR(ray.direction.Length(), 1.0f, 1e-5f);
            EXPECT_TRUE(Near(camera.ProjectToImageSpace(ray.GetPoint(37.0f), kView), screen));
        }
    }
    // The picture's left (u = 0) is the camera's +X side and its top (v = 0) the +Y side.
    const Camera camera = PlacedCamera(CAMERA_PERSPECTIVE);
    const Coords& c = camera.GetCoords();
    const Vec2 topLeft = camera.ProjectToImageSpace(c.origin + c.zAxis * 10.0f + c.xAxis + c.yAxis, kView);
    EXPECT_LT(topLeft.x, 0.5f);
    EXPECT_LT(topLeft.y, 0.5f);
    // Other types have no image.
    Camera other = camera;
    other.SetType(7);
    EXPECT_EQ(other.GetImagePoint(Vec2(0.2f, 0.2f), kView), Vec3());
    EXPECT_TRUE(other.GetFrustum(kView).planes.empty());
    Mat4 m;
    m.At(0, 1) = 5.0f;
    EXPECT_FALSE(other.GetCameraToScreenMatrix(m, kView));
    EXPECT_EQ(m.Get(0, 1), 5.0f);
}

TEST(Camera, CameraToScreenMatrixWithFiniteAndInfiniteFarPlanes)
{
    Camera camera;
    camera.SetFOV(90.0f * 0.017453292f); // tan(fov / 2) = 1
    camera.SetNearPlane(2.0f);
    camera.SetFarPlane(10.0f);
    camera.SetCameraAspect(0.5f);
    const Viewport view(0, 0, 400, 200); // aspect 2, times the camera aspect: 1
    Mat4 m;
    ASSERT_TRUE(camera.GetCameraToScreenMatrix(m, view));
    auto depth = [&m](float z) { return m.TransformPoint(Vec3(0, 0, z)).z; };
    EXPECT_NEAR(depth(2.0f), 0.0f, 1e-6f);
    EXPECT_NEAR(depth(10.0f), 1.0f, 1e-6f);
    EXPECT_NEAR(m.Get(2, 2), 1.25f, 1e-6f);
    EXPECT_NEAR(m.Get(2, 3), -2.5f, 1e-6f);
    EXPECT_EQ(m.Get(3, 2), 1.0f);
    EXPECT_EQ(m.Get(3, 3), 0.0f);
    // The camera's +X side is the screen's left: x = z at the frustum's edge gives -1.
    EXPECT_NEAR(m.TransformPoint(Vec3(5, 0, 5)).x, -1.0f, 1e-6f);
    EXPECT_NEAR(m.TransformPoint(Vec3(0, 5, 5)).y, 1.0f, 1e-6f);

    camera.SetFarPlane(gInfinity);
    ASSERT_TRUE(camera.GetCameraToScreenMatrix(m, view));
    EXPECT_EQ(m.Get(2, 2), 1.0f);
    EXPECT_EQ(m.Get(2, 3), -2.0f);
    EXPECT_NEAR(depth(2.0f), 0.0f, 1e-6f);
    EXPECT_NEAR(depth(1e6f), 1.0f, 1e-5f);

    Camera ortho;
    ortho.SetType(CAMERA_ORTHOGRAPHIC);
    ortho.SetWidth(8.0f);
    ortho.SetHeight(4.0f);
    ortho.SetFarPlane(50.0f);
    ASSERT_TRUE(ortho.GetCameraToScreenMatrix(m, view));
    EXPECT_EQ(m.Get(0, 0), -0.25f);
    EXPECT_EQ(m.Get(1, 1), 0.5f);
    EXPECT_EQ(m.Get(2, 2), 0.02f);
    EXPECT_EQ(m.Get(3, 3), 1.0f);
    EXPECT_EQ(m.Get(3, 2), 0.0f);

    // The renderers' matrix: the same x, y and w, the depth reversed (1 near, 0 far), so that with
    // a near plane of 0.01 the depths of 300 and 300.05 units lie far apart in float (near 0, not
    // near 1 where floats step 6e-8).
    Mat4 clip, screen;
    ASSERT_TRUE(ortho.GetCameraToClipMatrix(clip, view));
    EXPECT_NEAR(clip.TransformPoint(Vec3(0, 0, 0)).z, 1.0f, 1e-6f);
    EXPECT_NEAR(clip.TransformPoint(Vec3(0, 0, 50)).z, 0.0f, 1e-6f);
    EXPECT_EQ(clip.Get(0, 0), -0.25f);
    camera.SetFarPlane(10.0f);
    ASSERT_TRUE(camera.GetCameraToClipMatrix(clip, view));
    ASSERT_TRUE(camera.GetCameraToScreenMatrix(screen, view));
    auto ndc = [](const Mat4& matrix, const Vec3& p) {
        const Vec4 q = matrix * Vec4(p.x, p.y, p.z, 1.0f);
        return Vec3(q.x / q.w, q.y / q.w, q.z / q.w);
    };
    for (const Vec3& p : {Vec3(1, -1, 2), Vec3(3, 2, 5), Vec3(-4, 1, 10)}) {
        EXPECT_NEAR(ndc(clip, p).x, ndc(screen, p).x, 1e-6f);
        EXPECT_NEAR(ndc(clip, p).y, ndc(screen, p).y, 1e-6f);
        EXPECT_NEAR(ndc(clip, p).z, 1.0f - ndc(screen, p).z, 1e-6f);
        EXPECT_NEAR(ndc(Camera::ReversedDepth(screen), p).z, ndc(clip, p).z, 1e-6f);
    }
    camera.SetFarPlane(gInfinity);
    ASSERT_TRUE(camera.GetCameraToClipMatrix(clip, view));
    EXPECT_NEAR(ndc(clip, Vec3(0, 0, 2)).z, 1.0f, 1e-6f);
    EXPECT_NEAR(ndc(clip, Vec3(0, 0, 8)).z, 0.25f, 1e-6f);
    camera.SetNearPlane(0.01f);
    camera.SetFarPlane(750.0f);
    ASSERT_TRUE(camera.GetCameraToClipMatrix(clip, view));
    EXPECT_GT(ndc(clip, Vec3(0, 0, 300)).z - ndc(clip, Vec3(0, 0, 300.05f)).z,
              1000.0f * std::numeric_limits<float>::epsilon() * ndc(clip, Vec3(0, 0, 300)).z);
}

TEST(Camera, SubFrustaHoldWhatTheirRectangleShows)
{
    const Vec2 a(0.2f, 0.7f), b(0.6f, 0.3f); // corners in either order
    Camera perspective = PlacedCamera(CAMERA_PERSPECTIVE);
    Camera infinite = perspective;
    infinite.SetFarPlane(gInfinity);
    const Camera ortho = PlacedCamera(CAMERA_ORTHOGRAPHIC);
    struct Case
    {
        const Camera* camera;
        size_t planes;
    };
    for (const Case& c : {Case{&infinite, 4}, Case{&perspective, 5}, Case{&ortho, 6}}) {
        const Camera& camera = *c.camera;
        SCOPED_TRACE(c.planes);
        const Frustum frustum = camera.GetSubFrustum(a, b, kView);
        ASSERT_EQ(frustum.GetNumPlanes(), c.planes);
        EXPECT_EQ(frustum.planes, camera.GetSubFrustum(b, a, kView).planes);
        for (const Plane& plane : frustum.planes)
            EXPECT_NEAR(plane.normal.Length(), 1.0f, 1e-5f);
        // Through the rectangle at a few depths: inside; just beyond an edge: outside.
        for (float t : {3.0f, 40.0f, 150.0f}) {
            const Ray in = camera.GetRayThroughImagePoint(Vec2(0.4f, 0.5f), kView);
            EXPECT_TRUE(Inside(frustum, in.GetPoint(t))) << t;
            for (const Vec2 out :
                 {Vec2(0.19f, 0.5f), Vec2(0.61f, 0.5f), Vec2(0.4f, 0.29f), Vec2(0.4f, 0.71f)})
                EXPECT_FALSE(Inside(frustum, camera.GetRayThroughImagePoint(out, kView).GetPoint(t))) << t;
        }
        // The far plane, and for the orthographic camera the near plane.
        const Ray centre = camera.GetRayThroughImagePoint(Vec2(0.4f, 0.5f), kView);
        const float toFar = camera.GetType() == CAMERA_ORTHOGRAPHIC ? 201.0f : 230.0f;
        EXPECT_EQ(Inside(frustum, centre.GetPoint(toFar)), c.planes == 4);
        if (c.planes == 6) {
            EXPECT_FALSE(Inside(frustum, centre.GetPoint(-0.6f)));
            EXPECT_TRUE(Inside(frustum, centre.GetPoint(-0.4f)));
        }
        // The whole frustum is the rectangle (0, 0) to (1, 1) at the camera's own far plane.
        EXPECT_EQ(camera.GetFrustum(kView).planes,
                  camera.GetSubFrustum(Vec2(1, 1), Vec2(0, 0), camera.GetFarPlane(), kView).planes);
    }
}

TEST(Camera, MinimumFrustumIsClampedToThePicture)
{
    const Camera camera = PlacedCamera(CAMERA_PERSPECTIVE);
    const Coords& c = camera.GetCoords();
    // No boxes: the whole frustum.
    EXPECT_EQ(camera.GetMinFrustum(kView, Vec3(), {}).planes, camera.GetFrustum(kView).planes);

    // A small box well inside the picture: the frustum hugs its projected corners.
    const Vec3 ahead = c.origin + c.zAxis * 30.0f;
    const ABBox box(Vec3(), Vec3(1, 1, 1));
    const Frustum tight = camera.GetMinFrustum(kView, ahead, {box});
    Vec2 lo(1, 1), hi(0, 0);
    for (int i = 0; i < 8; ++i) {
        const Vec2 s = camera.ProjectToImageSpace(
            ahead + Vec3(i & 1 ? 1.0f : -1.0f, i & 2 ? 1.0f : -1.0f, i & 4 ? 1.0f : -1.0f), kView);
        lo = Vec2(std::min(lo.x, s.x), std::min(lo.y, s.y));
        hi = Vec2(std::max(hi.x, s.x), std::max(hi.y, s.y));
    }
    ASSERT_GT(lo.x, 0.0f);
    ASSERT_LT(hi.y, 1.0f);
    EXPECT_EQ(tight.planes, camera.GetSubFrustum(lo, hi, kView).planes);
    EXPECT_TRUE(Inside(tight, ahead));
    EXPECT_FALSE(Inside(tight, ahead + c.xAxis * 5.0f));

    // A box reaching past the picture's left edge: the rectangle stops at the edge.
    const Vec3 left = ahead + c.xAxis * 22.0f;
    const Frustum clamped = camera.GetMinFrustum(kView, left, {ABBox(Vec3(), Vec3(4, 4, 4))});
    const Vec2 inner = camera.ProjectToImageSpace(left - c.xAxis * 4.0f, kView);
    ASSERT_GT(inner.x, 0.0f);
    ASSERT_LT(camera.ProjectToImageSpace(left + c.xAxis * 4.0f, kView).x, 0.0f);
    EXPECT_TRUE(Inside(clamped, camera.GetRayThroughImagePoint(Vec2(0.001f, 0.5f), kView).GetPoint(30.0f)));
    EXPECT_FALSE(Inside(clamped, camera.GetRayThroughImagePoint(Vec2(-0.01f, 0.5f), kView).GetPoint(30.0f)));

    // A box with a corner at or behind the near plane (here around the camera itself) could lie
    // anywhere in the picture: the whole frustum.
    EXPECT_EQ(camera.GetMinFrustum(kView, c.origin, {box}).planes, camera.GetFrustum(kView).planes);
    EXPECT_EQ(camera.GetMinFrustum(kView, c.origin + c.zAxis * 1.5f, {box, ABBox(ahead, box.extents)}).planes,
              camera.GetFrustum(kView).planes);
}

TEST(Camera, CamerasThatCannotProjectAreRefused)
{
    Mat4 untouched;
    untouched.At(1, 2) = 3.0f;
    auto refused = [&untouched](const Camera& camera, const Viewport& view) {
        Mat4 m = untouched;
        const Vec3 ahead =
            camera.GetCoords().origin + camera.GetCoords().zAxis * 5.0f + Vec3(0.3f, 0.2f, 0.0f);
        return !camera.CanProject(view) && !camera.GetCameraToScreenMatrix(m, view) && m == untouched &&
               camera.Project(ahead, view) == Vec2() && camera.ProjectToImageSpace(ahead, view) == Vec2();
    };
    Camera flat = PlacedCamera(CAMERA_ORTHOGRAPHIC);
    flat.SetHeight(0.0f);
    EXPECT_TRUE(refused(flat, kView));
    Camera thin = PlacedCamera(CAMERA_ORTHOGRAPHIC);
    thin.SetWidth(0.0f);
    EXPECT_TRUE(refused(thin, kView));
    for (int type : {CAMERA_PERSPECTIVE, CAMERA_ORTHOGRAPHIC}) {
        Camera same = PlacedCamera(type);
        same.SetFarPlane(same.GetNearPlane());
        EXPECT_TRUE(refused(same, kView)) << type;
    }
    Camera narrow = PlacedCamera(CAMERA_PERSPECTIVE);
    narrow.SetFOV(0.0f);
    EXPECT_TRUE(refused(narrow, kView));
    EXPECT_TRUE(refused(PlacedCamera(CAMERA_PERSPECTIVE), Viewport(0, 0, 640, 0)));
    // The same cameras made whole project again.
    EXPECT_FALSE(refused(PlacedCamera(CAMERA_PERSPECTIVE), kView));
    EXPECT_FALSE(refused(PlacedCamera(CAMERA_ORTHOGRAPHIC), Viewport(0, 0, 640, 0)));
    // A point in a perspective camera's own plane has no image.
    const Camera camera = PlacedCamera(CAMERA_PERSPECTIVE);
    EXPECT_EQ(camera.Project(camera.GetCoords().origin + camera.GetCoords().xAxis, kView), Vec2());
    // Frusta need no division and are still made.
    EXPECT_EQ(flat.GetFrustum(kView).GetNumPlanes(), 6u);
}

} // namespace
} // namespace GAME
