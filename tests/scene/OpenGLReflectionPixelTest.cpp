// A reflection plane through the OpenGL device: the reflection manager renders the scene seen by
// the camera mirrored in the plane into the plane's surface, showing the box above the water
// where the mirrored camera sees it, clipping what lies under the water, and clearing the rest to
// transparent black.
#include "OpenGLSceneFixtures.h"

#include "core/Mat4.h"
#include "core/Vec4.h"
#include "scene/GraphicsReflectionManager.h"

#include <gtest/gtest.h>

namespace GAME::ScenePixelTest {
namespace {

using GAME::Test::Describe;
using GAME::Test::Near;

class OpenGLReflectionPixelTest : public OpenGLSceneFixture
{
};

TEST_F(OpenGLReflectionPixelTest, TheReflectionShowsTheMirroredBoxAndNothingUnderTheWater)
{
    Region* region = AddRegion(IntVec3(), ABBox(Vec3(), Vec3(50.0f, 50.0f, 50.0f)));
    ASSERT_NE(AddBox(region, unlit, Vec3(0, 1.5f, 0), Vec3(1, 1, 1), Color(1, 0, 0, 1)), nullptr);
    // Under the water, between the plane and the mirrored camera.
    ASSERT_NE(AddBox(region, unlit, Vec3(0, -1.5f, -4), Vec3(1, 0.5f, 1), Color(0, 1, 0, 1)), nullptr);
    const Camera camera = LookAt(Vec3(0, 4, -10), Vec3(0, 0, 0));

    GraphicsReflectionPlane water;
    water.normal = Vec3(0, 1, 0);
    water.d = 0.0f;
    water.box = ABBox(Vec3(), Vec3(20, 0, 20));
    water.region = region;
    GraphicsReflectionManager manager;
    manager.AddReflectionPlane(water);
    GraphicsLight sun;
    sun.SetType(GraphicsLight::TYPE_DIRECTIONAL);
    const Color sky(0.5f, 0.5f, 0.5f, 1), ground(0.5f, 0.5f, 0.5f, 1);
    ASSERT_TRUE(Canvas().BeginFrame());
    EXPECT_EQ(manager.RenderReflections(Canvas(), GraphicsReflectionManager::RenderSet(
                                                      &camera, region, View(), &sun, &sky, &ground)),
              1);
    ASSERT_NE(water.reflectionSurface, nullptr);
    const int size = GraphicsReflectionManager::surfaceSize;
    const Pixels image = ReadSurface(water.reflectionSurface, size, size);
    Canvas().EndFrame();
    ASSERT_FALSE(image.pixels.empty());

    // The mirrored camera as the manager makes it: the frame reflected in y = 0, its Y axis turned
    // back up, the view's aspect.
    Coords mirrored = camera.GetCoords();
    const Vec3 n(0, 1, 0);
    mirrored.origin = mirrored.origin - n * (2.0f * Vec3::Dot(n, mirrored.origin));
    mirrored.xAxis = mirrored.xAxis - n * (2.0f * Vec3::Dot(n, mirrored.xAxis));
    mirrored.yAxis = -(mirrored.yAxis - n * (2.0f * Vec3::Dot(n, mirrored.yAxis)));
    mirrored.zAxis = mirrored.zAxis - n * (2.0f * Vec3::Dot(n, mirrored.zAxis));
    Camera reflected = camera;
    reflected.SetCoords(mirrored);
    reflected.SetCameraAspect(static_cast<float>(kWidth) / static_cast<float>(kHeight));
    Mat4 toScreen;
    ASSERT_TRUE(reflected.GetCameraToScreenMatrix(toScreen, Viewport(0, 0, size, size)));
    toScreen = toScreen * Mat4(mirrored.Inverse());
    auto pixelOf = [&](const Vec3& p) {
        const Vec4 clip = toScreen * Vec4(p, 1.0f);
        return std::pair<int, int>(static_cast<int>((clip.x / clip.w + 1.0f) * 0.5f * size),
                                   static_cast<int>((1.0f - clip.y / clip.w) * 0.5f * size));
    };

    // The box's underside faces the mirrored camera; the box under the water, which stands between
    // them, is clipped away and hides nothing of it.
    for (const Vec3& p : {Vec3(0, 0.5f, 0), Vec3(0.6f, 0.5f, -0.6f), Vec3(0, 1.5f, -1.0f),
                          Vec3(0, -1.0f, -5.0f), Vec3(0.5f, -1.0f, -3.0f)}) {
        const auto [x, y] = pixelOf(p);
        EXPECT_TRUE(Near(image.At(x, y), 255, 0, 0, 255, 3))
            << "box at " << p.x << ", " << p.y << ", " << p.z << ": " << Describe(image.At(x, y));
    }
    // Beside the box the surface stays clear.
    for (const Vec3& p : {Vec3(4.0f, 1.5f, 0), Vec3(-3.0f, 0.5f, 2.0f)}) {
        const auto [x, y] = pixelOf(p);
        EXPECT_TRUE(Near(image.At(x, y), 0, 0, 0, 0, 3))
            << "clear at " << p.x << ", " << p.y << ", " << p.z << ": " << Describe(image.At(x, y));
    }
}

} // namespace
} // namespace GAME::ScenePixelTest
