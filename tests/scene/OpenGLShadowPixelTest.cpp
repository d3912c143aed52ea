// Shadows through the OpenGL device: a box over a floor casts its shadow where the light's rays
// through it land, from a directional light (the focused light-space perspective map) and from a
// point light (its downward map); the floor around stays lit, and a light that casts no shadow
// leaves the floor under the box lit.
#include "OpenGLSceneFixtures.h"

#include "scene/GraphicsNormalRenderer.h"

#include <gtest/gtest.h>

namespace GAME::ScenePixelTest {
namespace {

using GAME::Test::Describe;
using GAME::Test::Near;

class OpenGLShadowPixelTest : public OpenGLSceneFixture
{
protected:
    void SetUp() override
    {
        OpenGLSceneFixture::SetUp();
        if (!ready)
            return;
        region = AddRegion(IntVec3(), ABBox(Vec3(), Vec3(50.0f, 50.0f, 50.0f)));
        // A white floor whose top lies at y = 0.
        ASSERT_NE(AddBox(region, lit, Vec3(0, -0.5f, 0), Vec3(20, 0.5f, 20), Color(1, 1, 1, 1)), nullptr);
    }

    Pixels Draw(const Camera& camera, const GraphicsLight& light, const Color& sky, int frames = 1)
    {
        Pixels image;
        // Later frames draw over what the first left in the shared shadow surfaces.
        for (int frame = 0; frame < frames; ++frame) {
            GraphicsNormalRenderer renderer;
            renderer.SetViewer(region, camera, View(), camera.GetFrustum(View()));
            renderer.SetGenerationId(engine->GetGenerationId());
            renderer.SetSkyAmbientColor(sky);
            renderer.SetGroundAmbientColor(Color(0, 0, 0, 1));
            renderer.AddLight(light);
            EXPECT_TRUE(Canvas().BeginFrame());
            renderer.AddRegionToScene(region);
            renderer.Render(Canvas(), false, false);
            Canvas().EndFrame();
            image = ReadScreen();
        }
        return image;
    }

    Region* region = nullptr;
};

TEST_F(OpenGLShadowPixelTest, ADirectionalLightCastsTheBoxsShadowOnTheFloor)
{
    ASSERT_NE(AddBox(region, lit, Vec3(0, 2, 0), Vec3(1, 1, 1), Color(1, 1, 1, 1)), nullptr);
    // Light from above and +x: the rays through the box land on x from -2.5 to 0.5.
    const Vec3 towardLight = Vec3(1, 2, 0).Unit();
    GraphicsLight sun;
    sun.SetType(GraphicsLight::TYPE_DIRECTIONAL);
    sun.SetColor(Color(0.7f, 0.7f, 0.7f, 1));
    sun.SetCastsShadows(true);
    sun.SetObjectToWorldCoords(
        WorldCoords(region, Coords::LookInDirection(Vec3(), towardLight, towardLight.GetPerpendicular())));
    const Camera camera = LookAt(Vec3(0, 8, -10), Vec3(0, 0, 0));
    const Color sky(0.2f, 0.2f, 0.2f, 1);
    const int litFloor = Channel(0.2f + 0.7f * towardLight.y), shadowed = Channel(0.2f);

    for (int frames : {1, 2}) {
        const Pixels image = Draw(camera, sun, sky, frames);
        ASSERT_FALSE(image.pixels.empty());
        for (const Vec3& p : {Vec3(-1.8f, 0, -0.5f), Vec3(-1.0f, 0, 0.0f), Vec3(-2.2f, 0, 0.6f)}) {
            const auto [x, y] = PixelOf(camera, p);
            EXPECT_TRUE(Near(image.At(x, y), shadowed, shadowed, shadowed, 255, 4))
                << "in the shadow at " << p.x << ", " << p.z << " after " << frames
                << " frames: " << Describe(image.At(x, y));
        }
        for (const Vec3& p :
             {Vec3(3.0f, 0, 0), Vec3(-1.8f, 0, -2.5f), Vec3(-4.0f, 0, 0), Vec3(2.0f, 0, -3.0f)}) {
            const auto [x, y] = PixelOf(camera, p);
            EXPECT_TRUE(Near(image.At(x, y), litFloor, litFloor, litFloor, 255, 4))
                << "lit at " << p.x << ", " << p.z << " after " << frames
                << " frames: " << Describe(image.At(x, y));
        }
    }

    // The same light without shadows lights the floor under the box.
    sun.SetCastsShadows(false);
    const Pixels image = Draw(camera, sun, sky);
    const auto [x, y] = PixelOf(camera, Vec3(-1.8f, 0, -0.5f));
    EXPECT_TRUE(Near(image.At(x, y), litFloor, litFloor, litFloor, 255, 4)) << Describe(image.At(x, y));
}

TEST_F(OpenGLShadowPixelTest, APointLightCastsTheBoxsShadowBelowIt)
{
    ASSERT_NE(AddBox(region, lit, Vec3(0, 3, 0), Vec3(1, 1, 1), Color(1, 1, 1, 1)), nullptr);
    // The box (y 2 to 4) under the lamp at y 6 shades the floor within 1.5 of the centre fully,
    // and to 3 partly (its upper edges).
    const Vec3 lamp(0, 6, 0);
    const float reach = 15.0f;
    GraphicsLight light;
    light.SetType(GraphicsLight::TYPE_POINT);
    light.SetColor(Color(1, 1, 1, 1));
    light.SetRadius(reach);
    light.SetCastsShadows(true);
    light.SetObjectToWorldCoords(WorldCoords(region, Coords::Translation(lamp)));
    const Camera camera = LookAt(Vec3(0, 3, -12), Vec3(0, 0, 0));
    auto lit = [&](const Vec3& p) {
        const float distance = (lamp - p).Length();
        return Channel((lamp.y / distance) * (1.0f - distance / reach));
    };

    for (int frames : {1, 2}) {
        const Pixels image = Draw(camera, light, Color(0, 0, 0, 1), frames);
        ASSERT_FALSE(image.pixels.empty());
        for (const Vec3& p : {Vec3(0, 0, 0), Vec3(1.2f, 0, -1.0f), Vec3(-2.5f, 0, 0)}) {
            const auto [x, y] = PixelOf(camera, p);
            EXPECT_TRUE(Near(image.At(x, y), 0, 0, 0, 255, 4))
                << "in the shadow at " << p.x << ", " << p.z << " after " << frames
                << " frames: " << Describe(image.At(x, y));
        }
        for (const Vec3& p : {Vec3(5.0f, 0, 0), Vec3(-4.0f, 0, -3.0f), Vec3(0, 0, -4.5f)}) {
            const auto [x, y] = PixelOf(camera, p);
            const Vec3 on = FloorPoint(camera, x, y, 0.0f);
            EXPECT_TRUE(Near(image.At(x, y), lit(on), lit(on), lit(on), 255, 4))
                << "lit at " << p.x << ", " << p.z << " after " << frames
                << " frames: " << Describe(image.At(x, y));
        }
    }
}

} // namespace
} // namespace GAME::ScenePixelTest
