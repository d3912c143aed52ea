// The portal renderer's fades and its walk over a region without portals, through the software
// device.
#include "SceneRenderFixtures.h"

#include "scene/GraphicsPortalRenderer.h"
#include "scene/GraphicsTransparencyManager.h"
#include "world/Portal.h"
#include "world/Triangle.h"

#include <gtest/gtest.h>

namespace GAME::SceneRenderTest {
namespace {

class PortalRendererTest : public SceneRenderFixture
{
};

TEST_F(PortalRendererTest, APortalFadesBetweenEightAndElevenUnitsOffItsPlaneAndAlongIt)
{
    Region* region = MakeRegion();
    Portal portal;
    portal.SetRegion(region);
    // A doorway in the plane z = 0 facing +z, its choke point at the bottom centre (0, 0, 0).
    portal.SetTriangles({Triangle(Vec3(-1, 0, 0), Vec3(1, 0, 0), Vec3(1, 2, 0)),
                         Triangle(Vec3(-1, 0, 0), Vec3(1, 2, 0), Vec3(-1, 2, 0))});
    const Plane plane = portal.GetPlane();
    const float side = plane.normal.z > 0.0f ? 1.0f : -1.0f;
    GraphicsPortalRenderer renderer(Canvas(), region, Camera(), Viewport(0, 0, 64, 64), false);
    const Vec3 choke = portal.GetChokePoint().GetOrigin().GetRegionPosition();
    auto fadeAt = [&](const Vec3& offset) { return renderer.GetPortalFade(portal, choke + offset); };
    EXPECT_EQ(fadeAt(Vec3(0, 0, side * 8.0f)), 1.0f);
    EXPECT_NEAR(fadeAt(Vec3(0, 0, side * 9.5f)), 0.5f, 1e-5f);
    EXPECT_EQ(fadeAt(Vec3(0, 0, side * 11.0f)), 0.0f);
    EXPECT_EQ(fadeAt(Vec3(0, 0, -side * 5.0f)), 1.0f) << "behind the plane: measured along it only";
    EXPECT_NEAR(fadeAt(Vec3(10.0f, 0, side * 2.0f)), 1.0f / 3.0f, 1e-5f) << "along the plane from the choke";
    EXPECT_EQ(fadeAt(Vec3(12.0f, 0, 0)), 0.0f);
    renderer.SetFadeParameters(4.0f, 4.0f);
    EXPECT_EQ(fadeAt(Vec3(0, 0, side * 4.0f)), 1.0f) << "an empty range switches, never divides by zero";
    EXPECT_EQ(fadeAt(Vec3(0, 0, side * 4.5f)), 0.0f);

    // Without a transparency manager there is no target: the portal counts as fully faded in,
    // and every region as fully blended.
    EXPECT_EQ(renderer.GetTargetFade(portal), 1.0f);
    EXPECT_EQ(renderer.GetRegionFade(region), 1.0f);
    EXPECT_EQ(renderer.GetRegionFade(nullptr), 1.0f);
    GraphicsTransparencyManager manager;
    renderer.SetTransparencyManager(&manager);
    EXPECT_EQ(renderer.GetRegionFade(region), 0.0f);
}

TEST_F(PortalRendererTest, ARootWithoutPortalsDrawsItselfOnce)
{
    Region* region = MakeRegion();
    TestRenderable r("r", ABBox(Vec3(0, 0, 10), Vec3(1, 1, 1)));
    ASSERT_TRUE(Canvas().BeginFrame());
    Camera camera;
    GraphicsPortalRenderer renderer(Canvas(), region, camera, Viewport(0, 0, 64, 64), false);
    renderer.Render();
    Canvas().EndFrame();
    ASSERT_EQ(renderer.GetRenderedRegions().size(), 1u);
    EXPECT_EQ(renderer.GetRenderedRegions()[0], region);
}

} // namespace
} // namespace GAME::SceneRenderTest
