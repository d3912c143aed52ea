// The sample character drawn by the normal renderer through the device that draws (OpenGL.so,
// headless through EGL), posed by its walk: the pixels it covers are where its posed body boxes
// project, and they change as the walk goes on. The suite's name starts with "OpenGL": it needs
// that module beside libEngine.so and fails, saying so, without it.
#include "graphics/GraphicsFixtures.h"
#include "graphics/OpenGLTestSupport.h"

#include "datakit/CharacterGenerator.h"
#include "datakit/MeshShaders.h"
#include "datakit/ShaderWriter.h"
#include "datakit/TextureWriter.h"
#include "datakit/WorldGenerator.h"
#include "graphics/GraphicsCanvas.h"
#include "scene/GraphicsAnim.h"
#include "scene/GraphicsLight.h"
#include "scene/GraphicsMeshInstance.h"
#include "scene/GraphicsNormalRenderer.h"
#include "world/Region.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>

namespace GAME {
namespace {

using DataKit::CharacterGenerator;

constexpr int kWidth = 160;
constexpr int kHeight = 120;

// Screen rectangle in pixels (right and bottom included).
struct Bounds
{
    float left = 1e9f, top = 1e9f, right = -1e9f, bottom = -1e9f;
    void Add(float x, float y)
    {
        left = std::min(left, x);
        right = std::max(right, x);
        top = std::min(top, y);
        bottom = std::max(bottom, y);
    }
    bool Empty() const { return right < left; }
};

class OpenGLMeshInstanceTest : public GAME::Test::GraphicsFixture
{
protected:
    void SetUp() override
    {
        settings.deviceName = "OpenGL";
        options.SetInt2(Options::INT2_RESOLUTION, Options::Int2{kWidth, kHeight});
        options.SetBool(Options::BOOL_FULLSCREEN, false);
        options.SetBool(Options::BOOL_ANTI_ALIASING, false);
        options.SetBool(Options::BOOL_SKIP_COMPATIBILITY_CHECKS, true); // whatever llvmpipe reports
        PutFile(GraphicsEngine::basicShaderName, DataKit::ShaderWriter::SampleBasic().Write());
        PutFile(GraphicsEngine::overlayShaderName, DataKit::ShaderWriter::SampleOverlay().Write());
        PutFile(DataKit::ShaderWriter::whiteTextureName, DataKit::TextureWriter::SolidDds(1, 1, 0xFFFFFFFFu));
        PutFile(DataKit::MeshShaders::skinnedShaderName, DataKit::MeshShaders::SampleSkinned().Write());
        PutFile(CharacterGenerator::characterMesh, CharacterGenerator::MakeCharacter().Write(11));
        PutFile(CharacterGenerator::walkAnimation, CharacterGenerator::MakeWalk().Write(2));
        PutFile(CharacterGenerator::propMesh, CharacterGenerator::MakeProp().Write(11));
        // The crate's planks in plain white: its shades are the lighting's alone.
        PutFile(CharacterGenerator::propTexture, DataKit::TextureWriter::SolidDds(1, 1, 0xFFFFFFFFu));
        ASSERT_TRUE(Create()) << "the OpenGL device did not start (OpenGL.so is built from Devices/OpenGL "
                                 "beside libEngine.so)";
        ASSERT_TRUE(engine->Initialize(nullptr, settings, loader.get()));
        engine->SetGeneration(RENDER_GENERATION_GEFORCE6);
        ASSERT_EQ(engine->GetRenderDevice()->GetWidth(), kWidth);
        ASSERT_EQ(engine->GetRenderDevice()->GetHeight(), kHeight);
        // From the side, at the height of the hips.
        camera.SetCoords(Coords::LookAt(Vec3(3, 0.95f, 0), Vec3(0, 0.95f, 0), Vec3(0, 1, 0)));
    }

    void Drain()
    {
        while (loader->ProcessNextRequest()) {
        }
    }

    // One frame of the instance alone, lit by the ambient and the light given, read back.
    GAME::Test::Image Render(GraphicsMeshInstance& instance, const GraphicsLight* light = nullptr)
    {
        return Render(instance, light, light ? Color(0.3f, 0.3f, 0.3f, 1) : Color(0.8f, 0.8f, 0.8f, 1),
                      light ? Color(0.3f, 0.3f, 0.3f, 1) : Color(0.4f, 0.4f, 0.4f, 1));
    }
    GAME::Test::Image Render(GraphicsMeshInstance& instance, const GraphicsLight* light, const Color& sky,
                             const Color& ground)
    {
        GraphicsNormalRenderer renderer;
        renderer.SetViewer(&region, camera, viewport, camera.GetFrustum(viewport));
        renderer.SetGenerationId(engine->GetGenerationId());
        renderer.SetBackgroundColor(Color(0, 0, 0, 1));
        renderer.SetSkyAmbientColor(sky);
        renderer.SetGroundAmbientColor(ground);
        renderer.SetRegionToSceneCoords(&region, Coords());
        renderer.AddRenderable(&instance, &region);
        if (light)
            renderer.AddLight(*light);
        GraphicsCanvas& canvas = *engine->GetCanvas();
        EXPECT_TRUE(canvas.BeginFrame());
        renderer.Render(canvas, false, false);
        canvas.EndFrame();
        return GAME::Test::ReadBack(*engine->GetRenderDevice(), kWidth, kHeight);
    }

    // Where the character's boxes, each carried by its bone's skinning frame, project.
    Bounds Expected(const GraphicsMeshInstance& instance) const
    {
        const auto& skeleton = CharacterGenerator::Skeleton();
        const std::vector<Coords>& frames = instance.GetSkinningFrames();
        Bounds bounds;
        for (size_t b = 0; b < skeleton.size() && b < frames.size(); ++b) {
            if (skeleton[b].extents == Vec3())
                continue;
            Vec3 bind;
            for (int i = int(b); i >= 0; i = skeleton[size_t(i)].parent)
                bind += skeleton[size_t(i)].offset;
            const Vec3 center = bind + skeleton[b].center;
            const Vec3& e = skeleton[b].extents;
            for (int corner = 0; corner < 8; ++corner) {
                const Vec3 p =
                    center + Vec3(corner & 1 ? e.x : -e.x, corner & 2 ? e.y : -e.y, corner & 4 ? e.z : -e.z);
                const Vec2 screen = camera.Project(frames[b].TransformPoint(p), viewport);
                bounds.Add(screen.x, screen.y);
            }
        }
        return bounds;
    }

    static bool Covered(const Pixel& p) { return std::max({p.r, p.g, p.b}) > 24; }

    // The pixels covered, their bounds (pixel centres) and how many.
    static Bounds CoveredBounds(const GAME::Test::Image& image, int& count)
    {
        Bounds bounds;
        count = 0;
        for (int y = 0; y < image.height; ++y)
            for (int x = 0; x < image.width; ++x)
                if (Covered(image.At(x, y))) {
                    bounds.Add(float(x) + 0.5f, float(y) + 0.5f);
                    ++count;
                }
        return bounds;
    }

    void ExpectCoverage(const GAME::Test::Image& image, const Bounds& expected, const char* when)
    {
        ASSERT_EQ(image.pixels.size(), size_t(kWidth) * kHeight) << "no read-back";
        int count = 0;
        const Bounds covered = CoveredBounds(image, count);
        ASSERT_FALSE(covered.Empty()) << when << ": nothing drawn";
        // A pixel is drawn when its centre lies inside the projected body.
        EXPECT_NEAR(covered.left, expected.left, 1.5f) << when;
        EXPECT_NEAR(covered.right, expected.right, 1.5f) << when;
        EXPECT_NEAR(covered.top, expected.top, 1.5f) << when;
        EXPECT_NEAR(covered.bottom, expected.bottom, 1.5f) << when;
        const float area = (expected.right - expected.left) * (expected.bottom - expected.top);
        EXPECT_GT(count, 150) << when;
        EXPECT_GT(float(count), 0.15f * area) << when << ": the body fills too little of its box";
        // Lit by the ambient: grey, not some colour of a broken program.
        const Vec2 chest = camera.Project(Vec3(0, 1.4f, 0), viewport);
        const Pixel& p = image.At(int(chest.x), int(chest.y));
        EXPECT_TRUE(Covered(p) && std::abs(p.r - p.g) <= 3 && std::abs(p.g - p.b) <= 3)
            << when << " " << GAME::Test::Describe(p);
    }

    Region region{ABBox(Vec3(), Vec3(50, 50, 50))};
    Camera camera;
    Viewport viewport = Viewport(0, 0, kWidth, kHeight);
};

TEST_F(OpenGLMeshInstanceTest, TheWalkingCharacterCoversItsPosedBodyAndMoves)
{
    GraphicsMeshInstance body(engine.get());
    body.SetMesh(CharacterGenerator::characterMesh);
    body.PreLoad(true);
    Drain();
    ASSERT_TRUE(body.GetIsReadyToRender());
    GraphicsAnim* walk = engine->LoadAnimation(CharacterGenerator::walkAnimation);
    ASSERT_NE(walk, nullptr);
    walk->EnsureAvailable();
    ASSERT_EQ(walk->GetInitResult(), Resource::INIT_SUCCESS);
    body.GetAnimChannel(0)->PlayAnimation(walk, true, 1.0f, 0);

    // The feet together at the start of the cycle, then a quarter of it later at full stride.
    Vec3 motion;
    body.Update(1, motion, false);
    body.UpdatePose(nullptr, false);
    const Bounds together = Expected(body);
    const GAME::Test::Image first = Render(body);
    ExpectCoverage(first, together, "feet together");

    body.Update(249, motion, false);
    body.UpdatePose(nullptr, false);
    EXPECT_GT(motion.Length(), 0.5f) << "the walk carries the root forward";
    const Bounds apart = Expected(body);
    EXPECT_GT(apart.right - apart.left, together.right - together.left + 8.0f)
        << "the stride widens the body";
    const GAME::Test::Image second = Render(body);
    ExpectCoverage(second, apart, "full stride");

    int changed = 0;
    for (size_t i = 0; i < first.pixels.size() && i < second.pixels.size(); ++i)
        changed += Covered(first.pixels[i]) != Covered(second.pixels[i]) ? 1 : 0;
    EXPECT_GT(changed, 60) << "the legs and arms moved";
    engine->UnloadAnimation(walk);
}

TEST_F(OpenGLMeshInstanceTest, TheStaticPropIsLitFromAboveThroughTheBasicShader)
{
    GraphicsMeshInstance crate(engine.get());
    crate.SetMesh(CharacterGenerator::propMesh);
    crate.PreLoad(true);
    Drain();
    ASSERT_TRUE(crate.GetIsReadyToRender());
    EXPECT_STREQ(crate.GetShader2(0, GraphicsNormalRenderer::AmbientLightStyle())->GetFileName(),
                 GraphicsEngine::basicShaderName);
    crate.UpdateBoundingBox(false);
    camera.SetCoords(Coords::LookAt(Vec3(2.5f, 2.0f, 1.5f), Vec3(0, 0.5f, 0), Vec3(0, 1, 0)));
    // A directional light's placement looks toward the light: this one stands straight above.
    GraphicsLight sun;
    sun.SetType(GraphicsLight::TYPE_DIRECTIONAL);
    sun.SetCastsShadows(false);
    sun.SetObjectToWorldCoords(
        WorldCoords(nullptr, Coords::LookInDirection(Vec3(), Vec3(0, 1, 0), Vec3(1, 0, 0))));
    const GAME::Test::Image image = Render(crate, &sun);
    ASSERT_EQ(image.pixels.size(), size_t(kWidth) * kHeight) << "no read-back";

    // The unit crate's corners bound what is drawn.
    Bounds expected;
    for (int corner = 0; corner < 8; ++corner) {
        const Vec2 p = camera.Project(
            Vec3(corner & 1 ? 0.5f : -0.5f, corner & 2 ? 1.0f : 0.0f, corner & 4 ? 0.5f : -0.5f), viewport);
        expected.Add(p.x, p.y);
    }
    int count = 0;
    const Bounds covered = CoveredBounds(image, count);
    ASSERT_FALSE(covered.Empty()) << "nothing drawn";
    EXPECT_NEAR(covered.left, expected.left, 1.5f);
    EXPECT_NEAR(covered.right, expected.right, 1.5f);
    EXPECT_NEAR(covered.top, expected.top, 1.5f);
    EXPECT_NEAR(covered.bottom, expected.bottom, 1.5f);
    // The top takes the light and the ambient (0.3 + 1, saturated); the sides the ambient alone, of
    // which a side, turned away from the open above, takes 0.775.
    const Vec2 top = camera.Project(Vec3(0, 1, 0), viewport);
    const Vec2 side = camera.Project(Vec3(0.5f, 0.5f, 0), viewport);
    const Pixel& lit = image.At(int(top.x), int(top.y));
    const Pixel& shaded = image.At(int(side.x), int(side.y));
    EXPECT_TRUE(GAME::Test::Near(lit, 255, 255, 255, lit.a, 3)) << GAME::Test::Describe(lit);
    EXPECT_TRUE(GAME::Test::Near(shaded, 59, 59, 59, shaded.a, 4)) << GAME::Test::Describe(shaded);
}

TEST_F(OpenGLMeshInstanceTest, TheCharacterIsShadedUndergroundAsInTheFields)
{
    // The sample character as the generated worlds' walkers wear it, seen from above as the
    // flight sees a walker, in a cave's light (the portal renderer's underground: white sky and
    // ground ambient, no sun, a warm point light as the caves' lamps) and in the day's (its sky,
    // ground and sun): either way the figure shows its faces in different shades and hardly a
    // pixel of it is washed out to white.
    GraphicsMeshInstance body(engine.get());
    body.SetMesh(CharacterGenerator::characterMesh);
    body.SetDiffuseColor(DataKit::WorldGenerator::walkerTint);
    body.PreLoad(true);
    Drain();
    ASSERT_TRUE(body.GetIsReadyToRender());
    Vec3 motion;
    body.Update(1, motion, false);
    body.UpdatePose(nullptr, false);
    camera.SetCoords(Coords::LookAt(Vec3(3.0f, 2.6f, 1.5f), Vec3(0, 0.95f, 0), Vec3(0, 1, 0)));

    GraphicsLight lamp;
    lamp.SetType(GraphicsLight::TYPE_POINT);
    lamp.SetCastsShadows(false);
    lamp.SetColor(Color(1.0f, 0.7f, 0.4f, 1.0f));
    lamp.SetRadius(10.0f);
    lamp.SetObjectToWorldCoords(WorldCoords(nullptr, Coords::Translation(Vec3(2.0f, 3.0f, -3.0f))));
    GraphicsLight sun;
    sun.SetType(GraphicsLight::TYPE_DIRECTIONAL);
    sun.SetCastsShadows(false);
    sun.SetColor(Color(0.94f, 0.82f, 0.65f, 1.0f));
    const Vec3 towardSun = Vec3(0.5f, 0.8f, -0.3f).Unit();
    sun.SetObjectToWorldCoords(
        WorldCoords(nullptr, Coords::LookInDirection(Vec3(), towardSun, towardSun.GetPerpendicular())));

    const struct
    {
        const char* where;
        const GraphicsLight* light;
        Color sky, ground;
    } lights[] = {{"in a cave", &lamp, Color(1, 1, 1, 1), Color(1, 1, 1, 1)},
                  {"in a field", &sun, Color(0.52f, 0.56f, 0.64f, 1), Color(0.45f, 0.29f, 0.18f, 1)}};
    for (const auto& l : lights) {
        SCOPED_TRACE(l.where);
        const GAME::Test::Image image = Render(body, l.light, l.sky, l.ground);
        ASSERT_EQ(image.pixels.size(), size_t(kWidth) * kHeight) << "no read-back";
        std::vector<int> shades;
        int white = 0;
        for (const Pixel& p : image.pixels)
            if (Covered(p)) {
                shades.push_back(p.r + p.g + p.b);
                white += std::min({p.r, p.g, p.b}) >= 250 ? 1 : 0;
            }
        ASSERT_GT(shades.size(), 150u) << "the figure is drawn";
        std::sort(shades.begin(), shades.end());
        const int darker = shades[shades.size() / 10], lighter = shades[shades.size() * 9 / 10];
        EXPECT_GT(lighter - darker, 3 * 30) << "its faces differ in shade: " << darker << " to " << lighter;
        EXPECT_LT(white, static_cast<int>(shades.size()) / 20) << "of " << shades.size() << " pixels white";
    }
}

} // namespace
} // namespace GAME
