// The normal renderer's lit frame drawn through the OpenGL device and read back: a directional
// light on the faces of a box, point lights falling off to nothing at their reach (the first with
// the ambient, the second added inside its screen rectangle), and depth fog between its start and
// end.
#include "OpenGLSceneFixtures.h"

#include "scene/GraphicsNormalRenderer.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace GAME::ScenePixelTest {
namespace {

using GAME::Test::Describe;
using GAME::Test::Near;

class OpenGLLightingPixelTest : public OpenGLSceneFixture
{
protected:
    void SetUp() override
    {
        OpenGLSceneFixture::SetUp();
        if (ready)
            region = AddRegion(IntVec3(), ABBox(Vec3(), Vec3(50.0f, 50.0f, 50.0f)));
    }

    // A renderer of the region for the camera, the frame's generation, the ambient colours.
    void Prepare(GraphicsNormalRenderer& renderer, const Camera& camera, const Color& sky,
                 const Color& ground)
    {
        renderer.SetViewer(region, camera, View(), camera.GetFrustum(View()));
        renderer.SetGenerationId(engine->GetGenerationId());
        renderer.SetSkyAmbientColor(sky);
        renderer.SetGroundAmbientColor(ground);
        renderer.SetBackgroundColor(Color(0.0f, 0.0f, 0.0f, 1.0f));
    }
    // Runs the sample shaders of the generation (their "GeForce3" sections light each vertex).
    void UseGeneration(RenderGenerationId generation)
    {
        engine->SetGeneration(generation);
        for (GraphicsShader2* shader : {lit, unlit, transparent})
            shader->EnsureAvailable();
        ASSERT_TRUE(lit->GetIsReadyToUse() && unlit->GetIsReadyToUse());
    }
    Pixels Draw(GraphicsNormalRenderer& renderer)
    {
        EXPECT_TRUE(Canvas().BeginFrame());
        renderer.AddRegionToScene(region);
        renderer.Render(Canvas(), false, false);
        Canvas().EndFrame();
        return ReadScreen();
    }
    GraphicsLight Sun(const Vec3& towardLight, const Color& color) const
    {
        GraphicsLight light;
        light.SetType(GraphicsLight::TYPE_DIRECTIONAL);
        light.SetColor(color);
        light.SetObjectToWorldCoords(WorldCoords(
            region, Coords::LookInDirection(Vec3(), towardLight.Unit(), towardLight.GetPerpendicular())));
        return light;
    }
    GraphicsLight Lamp(const Vec3& at, float radius, const Color& color) const
    {
        GraphicsLight light;
        light.SetType(GraphicsLight::TYPE_POINT);
        light.SetColor(color);
        light.SetRadius(radius);
        light.SetObjectToWorldCoords(WorldCoords(region, Coords::Translation(at)));
        return light;
    }

    Region* region = nullptr;
};

TEST_F(OpenGLLightingPixelTest, ADirectionalLightLightsTheFaceTowardItAndLeavesTheOthersToTheAmbient)
{
    // A white lit box at the origin seen from the front, left and above; an unlit box beside it.
    ASSERT_NE(AddBox(region, lit, Vec3(), Vec3(1, 1, 1), Color(1, 1, 1, 1)), nullptr);
    ASSERT_NE(AddBox(region, unlit, Vec3(3.5f, 0, 0), Vec3(0.5f, 0.5f, 0.5f), Color(0.2f, 0.4f, 0.8f, 1)),
              nullptr);
    const Camera camera = LookAt(Vec3(-3, 2.5f, -6), Vec3(1, 0, 0));
    for (RenderGenerationId generation : {RENDER_GENERATION_GEFORCE6, RENDER_GENERATION_GEFORCE3}) {
        UseGeneration(generation);
        const char* name = RenderDevice::GetNameForGeneration(generation);
        GraphicsNormalRenderer renderer;
        Prepare(renderer, camera, Color(0.3f, 0.2f, 0.1f, 1), Color(0.1f, 0.0f, 0.1f, 1));
        // The light comes from the front (-z) and travels along +z.
        renderer.AddLight(Sun(Vec3(0, 0, -1), Color(0.6f, 0.5f, 0.4f, 1)));
        const Pixels image = Draw(renderer);
        ASSERT_FALSE(image.pixels.empty());

        // Front face: ambient of a level normal (half sky, half ground) plus the whole light.
        const auto [fx, fy] = PixelOf(camera, Vec3(0.2f, -0.2f, -1.0f));
        EXPECT_TRUE(
            Near(image.At(fx, fy), Channel(0.2f + 0.6f), Channel(0.1f + 0.5f), Channel(0.1f + 0.4f), 255, 4))
            << name << ": " << Describe(image.At(fx, fy));
        // Left face: the light grazes it; the ambient alone.
        const auto [lx, ly] = PixelOf(camera, Vec3(-1.0f, -0.2f, 0.2f));
        EXPECT_TRUE(Near(image.At(lx, ly), Channel(0.2f), Channel(0.1f), Channel(0.1f), 255, 4))
            << name << ": " << Describe(image.At(lx, ly));
        // Top face: the sky's ambient alone.
        const auto [tx, ty] = PixelOf(camera, Vec3(0.0f, 1.0f, 0.0f));
        EXPECT_TRUE(Near(image.At(tx, ty), Channel(0.3f), Channel(0.2f), Channel(0.1f), 255, 4))
            << name << ": " << Describe(image.At(tx, ty));
        // The unlit box keeps its colour under the light and the ambient.
        const auto [ux, uy] = PixelOf(camera, Vec3(3.5f, 0.0f, -0.5f));
        EXPECT_TRUE(Near(image.At(ux, uy), Channel(0.2f), Channel(0.4f), Channel(0.8f), 255, 4))
            << name << ": " << Describe(image.At(ux, uy));
        // Nothing drawn: the background.
        EXPECT_TRUE(Near(image.At(0, 0), 0, 0, 0, 255)) << name << ": " << Describe(image.At(0, 0));
    }
}

TEST_F(OpenGLLightingPixelTest, PointLightsFallOffToNothingAtTheirReachAndAddUp)
{
    // A wide white floor whose top lies at y = 0, seen from straight above.
    ASSERT_NE(AddBox(region, lit, Vec3(0, -0.5f, 0), Vec3(30, 0.5f, 30), Color(1, 1, 1, 1)), nullptr);
    Camera camera;
    camera.SetCoords(Coords::LookInDirection(Vec3(0, 30, 0), Vec3(0, -1, 0), Vec3(0, 0, 1)));
    camera.SetFOV(60.0f * 0.017453292f);
    camera.SetNearPlane(1.0f);
    camera.SetFarPlane(100.0f);
    GraphicsNormalRenderer renderer;
    Prepare(renderer, camera, Color(0, 0, 0, 1), Color(0, 0, 0, 1));
    // A large red lamp over the origin; a small blue one to its side (drawn second, added).
    const float height = 2.0f, reach = 12.0f;
    renderer.AddLight(Lamp(Vec3(0, height, 0), reach, Color(1, 0, 0, 1)));
    renderer.AddLight(Lamp(Vec3(-8, 1, 0), 4.0f, Color(0, 0, 1, 1)));
    const Pixels image = Draw(renderer);
    ASSERT_FALSE(image.pixels.empty());

    // Red: colour x cosine x (1 - distance / reach) on the floor, 0 from the reach on.
    const Vec3 red(0, height, 0), blue(-8, 1, 0);
    auto lamp = [](const Vec3& light, float radius, const Vec3& p) {
        const float distance = (light - p).Length();
        return ((light.y - p.y) / distance) * std::max(0.0f, 1.0f - distance / radius);
    };
    for (float x : {0.0f, 3.0f, 6.0f, 9.0f, 12.5f, 16.0f}) {
        const auto [px, py] = PixelOf(camera, Vec3(x, 0.0f, 0.0f));
        const Vec3 p = FloorPoint(camera, px, py, 0.0f);
        EXPECT_TRUE(Near(image.At(px, py), Channel(lamp(red, reach, p)), 0, 0, 255, 3))
            << "at x = " << x << ": " << Describe(image.At(px, py));
    }
    // Blue adds to red where both reach, inside the small lamp's rectangle only.
    const auto [bx, by] = PixelOf(camera, Vec3(-6.0f, 0.0f, 0.0f));
    const Vec3 both = FloorPoint(camera, bx, by, 0.0f);
    EXPECT_TRUE(
        Near(image.At(bx, by), Channel(lamp(red, reach, both)), 0, Channel(lamp(blue, 4.0f, both)), 255, 3))
        << Describe(image.At(bx, by));
    const auto [ox, oy] = PixelOf(camera, Vec3(-8.0f, 0.0f, 5.0f));
    EXPECT_EQ(image.At(ox, oy).b, 0) << "outside the blue lamp's reach: " << Describe(image.At(ox, oy));
}

TEST_F(OpenGLLightingPixelTest, DepthFogTakesTheFogColourBetweenItsStartAndEnd)
{
    // Unlit grey boxes 5, 20 and 40 units away, apart in the view.
    auto at = [](float z) { return Vec3((z - 20.0f) * 0.25f, 0, z); };
    for (float z : {5.0f, 20.0f, 40.0f})
        ASSERT_NE(AddBox(region, unlit, at(z), Vec3(1, 1, 0.1f), Color(0.5f, 0.5f, 0.5f, 1)), nullptr);
    const Camera camera = LookAt(Vec3(0, 0, 0), Vec3(0, 0, 1));
    // "GeForce3" works the fog out at the corners of the faces: they lie almost as far as their
    // centres.
    for (RenderGenerationId generation : {RENDER_GENERATION_GEFORCE6, RENDER_GENERATION_GEFORCE3}) {
        UseGeneration(generation);
        GraphicsNormalRenderer renderer;
        Prepare(renderer, camera, Color(1, 1, 1, 1), Color(1, 1, 1, 1));
        renderer.EnableFog(true);
        renderer.SetFogColor(Color(0.0f, 0.25f, 1.0f, 1.0f));
        renderer.SetDepthFogParams(10.0f, 30.0f, 1.0f);
        const Pixels image = Draw(renderer);
        ASSERT_FALSE(image.pixels.empty());
        for (float z : {5.0f, 20.0f, 40.0f}) {
            // The face toward the camera, at its centre.
            const Vec3 face = at(z) - Vec3(0, 0, 0.1f);
            const float fog = std::clamp((face.Length() - 10.0f) / 20.0f, 0.0f, 1.0f);
            const auto [px, py] = PixelOf(camera, face);
            const float r = 0.5f * (1 - fog), g = 0.5f * (1 - fog) + 0.25f * fog, b = 0.5f * (1 - fog) + fog;
            EXPECT_TRUE(Near(image.At(px, py), Channel(r), Channel(g), Channel(b), 255, 5))
                << RenderDevice::GetNameForGeneration(generation) << " at " << z << ": "
                << Describe(image.At(px, py));
        }
    }

    // With density 0 no fog pass is drawn.
    GraphicsNormalRenderer clear;
    Prepare(clear, camera, Color(1, 1, 1, 1), Color(1, 1, 1, 1));
    clear.EnableFog(true);
    clear.SetFogColor(Color(0.0f, 0.25f, 1.0f, 1.0f));
    clear.SetDepthFogParams(10.0f, 30.0f, 0.0f);
    const Pixels plain = Draw(clear);
    const auto [px, py] = PixelOf(camera, at(40.0f) - Vec3(0, 0, 0.1f));
    EXPECT_TRUE(Near(plain.At(px, py), 128, 128, 128, 255, 2)) << Describe(plain.At(px, py));
}

} // namespace
} // namespace GAME::ScenePixelTest
