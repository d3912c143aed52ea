// See-through boxes through the OpenGL device: the normal renderer draws the transparent band
// farthest first whatever order the boxes were added in, each blended over what lies behind it,
// under an opaque box in front, with the lights or without them.
#include "OpenGLSceneFixtures.h"

#include "scene/GraphicsNormalRenderer.h"

#include <gtest/gtest.h>

namespace GAME::ScenePixelTest {
namespace {

using GAME::Test::Describe;
using GAME::Test::Near;

class OpenGLTransparencyPixelTest : public OpenGLSceneFixture
{
};

TEST_F(OpenGLTransparencyPixelTest, TransparentBoxesAreDrawnFarthestFirstOverWhatIsBehind)
{
    Region* region = AddRegion(IntVec3(), ABBox(Vec3(), Vec3(50.0f, 50.0f, 50.0f)));
    // Added nearest first: a half-opaque red pane at 5, a blue one of opacity 0.8 at 8 reaching
    // further right, a grey wall at 12, and an opaque green block in front of both panes.
    const Color red(1, 0, 0, 0.5f), blue(0, 0, 1, 0.8f), grey(0.2f, 0.2f, 0.2f, 1), green(0, 1, 0, 1);
    ASSERT_NE(AddBox(region, transparent, Vec3(-0.5f, 0, 5), Vec3(1, 1, 0.1f), red), nullptr);
    ASSERT_NE(AddBox(region, transparent, Vec3(0.5f, 0, 8), Vec3(1.5f, 1.5f, 0.1f), blue), nullptr);
    ASSERT_NE(AddBox(region, unlit, Vec3(0, 0, 12), Vec3(10, 10, 0.1f), grey), nullptr);
    ASSERT_NE(AddBox(region, unlit, Vec3(0, 0.8f, 3), Vec3(0.2f, 0.2f, 0.1f), green), nullptr);
    const Camera camera = LookAt(Vec3(0, 0, 0), Vec3(0, 0, 1));

    // Over the wall: blue over grey, then red over that.
    const Color overWall(blue.r * blue.a + grey.r * (1 - blue.a), blue.g * blue.a + grey.g * (1 - blue.a),
                         blue.b * blue.a + grey.b * (1 - blue.a), 1);
    const Color both(red.r * red.a + overWall.r * (1 - red.a), red.g * red.a + overWall.g * (1 - red.a),
                     red.b * red.a + overWall.b * (1 - red.a), 1);
    const Color redOnly(red.r * red.a + grey.r * (1 - red.a), red.g * red.a + grey.g * (1 - red.a),
                        red.b * red.a + grey.b * (1 - red.a), 1);
    struct Expected
    {
        Vec3 point;
        Color color;
    };
    const Expected expected[] = {{Vec3(-0.2f, 0, 4.8f), both},
                                 {Vec3(-1.3f, 0, 4.8f), redOnly},
                                 {Vec3(1.8f, 0, 7.8f), overWall},
                                 {Vec3(0, 0.8f, 2.8f), green},
                                 {Vec3(-3.0f, 3.0f, 11.8f), grey}};

    // Without lights the ambient styles draw the panes; with a light that grazes them, the light
    // loop does, to the same colours.
    for (bool lighting : {false, true}) {
        GraphicsNormalRenderer renderer;
        renderer.SetViewer(region, camera, View(), camera.GetFrustum(View()));
        renderer.SetGenerationId(engine->GetGenerationId());
        renderer.SetSkyAmbientColor(Color(1, 1, 1, 1));
        renderer.SetGroundAmbientColor(Color(1, 1, 1, 1));
        renderer.EnableLighting(lighting);
        GraphicsLight sun;
        sun.SetType(GraphicsLight::TYPE_DIRECTIONAL);
        sun.SetObjectToWorldCoords(
            WorldCoords(region, Coords::LookInDirection(Vec3(), Vec3(1, 0, 0), Vec3(0, 1, 0))));
        renderer.AddLight(sun);
        ASSERT_TRUE(Canvas().BeginFrame());
        renderer.AddRegionToScene(region);
        renderer.Render(Canvas(), false, false);
        Canvas().EndFrame();
        const Pixels image = ReadScreen();
        ASSERT_FALSE(image.pixels.empty());
        for (const Expected& e : expected) {
            const auto [x, y] = PixelOf(camera, e.point);
            EXPECT_TRUE(
                Near(image.At(x, y), Channel(e.color.r), Channel(e.color.g), Channel(e.color.b), 255, 4))
                << (lighting ? "lit" : "unlit") << " at " << e.point.x << ", " << e.point.y << ", "
                << e.point.z << ": " << Describe(image.At(x, y));
        }
    }
}

} // namespace
} // namespace GAME::ScenePixelTest
