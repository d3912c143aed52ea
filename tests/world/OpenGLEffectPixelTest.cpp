// A decal, a chaos beam, a weapon trail and particle emitters drawn through the device that draws
// (OpenGL.so, headless through EGL) with the sample game's effect and particle shaders, by the
// scene renderer, seen from straight above; the read-back shows each where it belongs, and the
// particles' blends over what was there. The suite's name starts with
// "OpenGL": it needs that module beside libEngine.so and fails, saying so, without it.
#include "EngineFixture.h"
#include "graphics/OpenGLTestSupport.h"

#include "core/ObjectManager.h"
#include "core/Time.h"
#include "data/ResourceLoader.h"
#include "datakit/ParticleShaders.h"
#include "graphics/GraphicsCanvas.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/GraphicsShader2.h"
#include "graphics/GraphicsTexture.h"
#include "scene/Camera.h"
#include "scene/GraphicsSceneRenderer.h"
#include "world/ChaosBeam.h"
#include "world/Decal.h"
#include "world/Emitter.h"
#include "world/EmitterData.h"
#include "world/Level.h"
#include "world/Region.h"
#include "world/WeaponTrail.h"
#include "world/World.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace GAME {
namespace {

// A weapon whose "Anchor1" stands one unit above it in z and "Anchor2" one unit below.
class PixelTestSword : public Entity
{
    GAME_DECLARE_CLASS(PixelTestSword)

public:
    WorldCoords GetAttachedCoords(const Name& name) const override
    {
        WorldCoords coords = GetCoords();
        const float dz = name == Name::Create("Anchor1")   ? 1.0f
                         : name == Name::Create("Anchor2") ? -1.0f
                                                           : 0.0f;
        coords.SetOrigin(
            WorldVec3(coords.GetRegion(), coords.GetOrigin().GetRegionPosition() + Vec3(0.0f, 0.0f, dz)));
        return coords;
    }
};

GAME_REGISTER_CLASS(PixelTestSword, Entity)

// The frame's own parameters are not needed by the effect shaders.
class PlainSceneRenderer : public GraphicsSceneRenderer
{
public:
    bool SetSceneShaderParameters(GraphicsCanvas&, GraphicsShader2&) override { return true; }
};

class OpenGLEffectPixelTest : public GAME::Test::EngineTest
{
protected:
    static constexpr int kSize = 128;
    // The view: 20 units across, centred on (10, 0, 10) of the region.
    static constexpr float kPixelsPerUnit = kSize / 20.0f;

    void SetUp() override
    {
        GAME::Test::EngineTest::SetUp();
        settings.deviceName = "OpenGL";
        data.SetDefault("resolution", "128 128");
        data.SetDefault("skipCompatibilityChecks", "true");
        data.Database().AddRecord("records/decal.dbr").String("Class", "Decal").Float("size", 2.0f);
        data.Database()
            .AddRecord("records/beam.dbr")
            .String("Class", "ChaosBeam")
            .Float("TextureStretch", 6.0f);
        data.Database().AddRecord("records/sword.dbr").String("Class", "PixelTestSword");
        data.Database()
            .AddRecord("records/trail.dbr")
            .String("Class", "WeaponTrail")
            .Int("Red256", 255)
            .Int("Alpha256", 255)
            .Float("TrailShrinkSpeed", 0.0f)
            .Bool("FadeAlpha", false);
    }

    // The engine over OpenGL, and a region of its world with an empty level.
    bool StartWorld()
    {
        const ::testing::AssertionResult loads = GAME::Test::OpenGLModuleLoads();
        EXPECT_TRUE(loads);
        if (!loads)
            return false;
        GAME::Test::TestEngine& e = Start();
        EXPECT_TRUE(s_fatalErrors.empty()) << "the OpenGL device did not start";
        if (!s_fatalErrors.empty() || !e.GetGraphicsEngine() || !e.GetWorld())
            return false;
        World* world = e.GetWorld();
        region = world->GetRegion(world->AddRegion("levels/pixels.lvl", IntVec3(), ABBox(), RegionId()));
        level = new Level(region);
        level->NewSpace(Vec2(100.0f, 100.0f));
        level->PostLoad(false);
        region->SetLevel(level);
        return true;
    }

    template <class T> T* Create(const char* record)
    {
        return ObjectManager::Get()->CreateObjectFromFileAs<T>(record, 0, true);
    }

    // The renderable's shader and texture, loaded now rather than by the loader thread.
    void Ready(const GraphicsRenderable& renderable)
    {
        ResourceLoader* loader = engine->GetResourceLoader();
        ASSERT_NE(loader, nullptr);
        auto* shader = const_cast<GraphicsShader2*>(renderable.GetShader2(0, Name()));
        auto* texture = const_cast<GraphicsTexture*>(renderable.GetTexture(0, Name()));
        ASSERT_NE(shader, nullptr);
        ASSERT_NE(texture, nullptr);
        loader->LoadResource(shader);
        loader->LoadResource(texture);
        ASSERT_TRUE(shader->GetIsReadyToUse()) << "the sample data's effect shader";
        ASSERT_GE(shader->FindStyleByName(Name::Create("emissiveStyle")), 0);
        ASSERT_TRUE(texture->GetIsReadyToUse());
    }

    // One frame of the entities' passes in the effect style, seen from 20 units above (10, 0, 10).
    void Draw(const std::vector<Entity*>& entities)
    {
        Draw(
            [&entities](GraphicsSceneRenderer& renderer) {
                for (Entity* entity : entities)
                    entity->AddToScene(renderer, nullptr);
            },
            entities.size(), Color(0.0f, 0.0f, 0.0f, 1.0f));
    }

    // The same over the background colour, with what add puts in the scene (queued renderables).
    void Draw(const std::function<void(GraphicsSceneRenderer&)>& add, size_t queued, const Color& background)
    {
        GraphicsCanvas* canvas = engine->GetGraphicsEngine()->GetCanvas();
        RenderDevice* device = engine->GetGraphicsEngine()->GetRenderDevice();
        ASSERT_NE(canvas, nullptr);
        Camera camera;
        camera.SetType(CAMERA_ORTHOGRAPHIC);
        camera.SetWidth(20.0f);
        camera.SetHeight(20.0f);
        camera.SetNearPlane(1.0f);
        camera.SetFarPlane(50.0f);
        camera.SetCoords(
            Coords::LookAt(Vec3(10.0f, 20.0f, 10.0f), Vec3(10.0f, 0.0f, 10.0f), Vec3(0.0f, 0.0f, 1.0f)));
        const Viewport viewport(0, 0, kSize, kSize);
        PlainSceneRenderer renderer;
        renderer.SetViewer(region, camera, viewport, camera.GetFrustum(viewport));
        renderer.AddRegionToScene(region);
        add(renderer);
        ASSERT_EQ(renderer.GetRenderables().size(), queued) << "each renderable queued itself";

        ASSERT_TRUE(canvas->BeginFrame());
        canvas->SetViewport(viewport);
        canvas->ClearRenderSurface(nullptr, background, RENDER_CLEAR_COLOR | RENDER_CLEAR_DEPTH);
        canvas->SetDefaultState();
        renderer.RenderStyle(*canvas, Name::Create("emissiveStyle"));
        canvas->EndFrame();
        pixels.assign(static_cast<size_t>(kSize * kSize), Pixel());
        ASSERT_TRUE(device->ReadFrameBuffer(pixels.data(), kSize, kSize));
    }

    // The pixel over the point (10 + dx, 0, 10 + dz); the view is symmetric, so callers ask about
    // points whose mirror images share their answer.
    const Pixel& At(float dx, float dz) const
    {
        const int i = std::clamp(static_cast<int>(std::floor(kSize / 2 + dx * kPixelsPerUnit)), 0, kSize - 1);
        const int j = std::clamp(static_cast<int>(std::floor(kSize / 2 + dz * kPixelsPerUnit)), 0, kSize - 1);
        return pixels[static_cast<size_t>(j * kSize + i)];
    }
    // Every mirror image of the point.
    std::vector<Pixel> Mirrored(float dx, float dz) const
    {
        return {At(dx, dz), At(-dx, dz), At(dx, -dz), At(-dx, -dz)};
    }
    static bool Dark(const Pixel& p) { return p.r < 16 && p.g < 16 && p.b < 16; }
    static bool White(const Pixel& p) { return p.r > 240 && p.g > 240 && p.b > 240; }
    static bool Red(const Pixel& p) { return p.r > 240 && p.g < 16 && p.b < 16; }

    Region* region = nullptr;
    Level* level = nullptr;
    std::vector<Pixel> pixels;
};

TEST_F(OpenGLEffectPixelTest, ADecalLiesOnTheGroundUnderIt)
{
    ASSERT_TRUE(StartWorld());
    Decal* decal = Create<Decal>("records/decal.dbr");
    ASSERT_NE(decal, nullptr);
    level->AddEntity(decal, Coords::Translation(Vec3(10.0f, 0.0f, 10.0f)));
    decal->Update(200); // past the fade-in
    ASSERT_FALSE(decal->GetFaces().empty());
    Ready(*decal);
    Draw({decal});

    // The sample texture is a disc 0.8 of the decal's width across (1.6 units of radius here).
    for (float d : {0.0f, 0.5f, 1.0f})
        for (const Pixel& p : Mirrored(d, 0.0f))
            EXPECT_TRUE(White(p)) << "inside the disc at " << d << ": " << int(p.r) << "," << int(p.g);
    for (const Pixel& p : Mirrored(0.0f, 1.0f))
        EXPECT_TRUE(White(p));
    for (const Pixel& p : Mirrored(1.85f, 0.0f))
        EXPECT_TRUE(Dark(p)) << "the texture's clear corner of the decal";
    for (const Pixel& p : Mirrored(1.5f, 1.5f))
        EXPECT_TRUE(Dark(p));
    for (const Pixel& p : Mirrored(5.0f, 5.0f))
        EXPECT_TRUE(Dark(p)) << "nothing beyond the decal";
}

TEST_F(OpenGLEffectPixelTest, AChaosBeamRunsBetweenItsEndPoints)
{
    ASSERT_TRUE(StartWorld());
    ChaosBeam* beam = Create<ChaosBeam>("records/beam.dbr");
    ASSERT_NE(beam, nullptr);
    const Vec3 from(4.0f, 0.0f, 10.0f);
    level->AddEntity(beam, Coords::Translation(from));
    beam->SetEndPoints(WorldVec3(region, from), WorldVec3(region, Vec3(16.0f, 0.0f, 10.0f)));
    beam->Update(16);
    Ready(*beam);
    Draw({beam});

    // Lit pixels only where the strands can reach: x 4 to 16, within 6 units of z = 10.
    int inside = 0, outside = 0;
    for (int j = 0; j < kSize; ++j)
        for (int i = 0; i < kSize; ++i) {
            const Pixel& p = pixels[static_cast<size_t>(j * kSize + i)];
            if (Dark(p))
                continue;
            const float dx = std::fabs((static_cast<float>(i) + 0.5f - kSize / 2) / kPixelsPerUnit);
            const float dz = std::fabs((static_cast<float>(j) + 0.5f - kSize / 2) / kPixelsPerUnit);
            (dx <= 6.5f && dz <= 6.5f ? inside : outside) += 1;
        }
    EXPECT_GT(inside, 150) << "three strands of half a unit, twelve units long";
    EXPECT_EQ(outside, 0);
}

TEST_F(OpenGLEffectPixelTest, AWeaponTrailFollowsTheSwing)
{
    ASSERT_TRUE(StartWorld());
    Entity* sword = Create<Entity>("records/sword.dbr");
    WeaponTrail* trail = Create<WeaponTrail>("records/trail.dbr");
    ASSERT_NE(sword, nullptr);
    ASSERT_NE(trail, nullptr);
    level->AddEntity(sword, Coords::Translation(Vec3(6.0f, 0.0f, 10.0f)));
    trail->Start();
    sword->Attach(trail, Coords(), "");
    for (float x = 6.5f; x <= 13.5f; x += 0.5f) {
        level->MoveEntity(sword, Coords::Translation(Vec3(x, 0.0f, 10.0f)));
        sword->Update(16);
    }
    ASSERT_EQ(trail->GetSegments().size(), 16u);
    Ready(*trail);
    Draw({trail});

    // The ribbon: x 6 to 13.5, z 9 to 11, red.
    for (float dx : {0.0f, 3.0f})
        for (const Pixel& p : Mirrored(dx, 0.5f))
            EXPECT_TRUE(Red(p)) << "on the swing at " << dx << ": " << int(p.r) << "," << int(p.g) << ","
                                << int(p.b);
    for (const Pixel& p : Mirrored(0.0f, 2.0f))
        EXPECT_TRUE(Dark(p)) << "beyond the blade";
    for (const Pixel& p : Mirrored(5.0f, 0.0f))
        EXPECT_TRUE(Dark(p)) << "beyond the swing";
}

class OpenGLParticlePixelTest : public OpenGLEffectPixelTest
{
protected:
    static constexpr float kGrey = 0.5f;

    // The emitter gives its texture, shader and vertex declaration back before the engine goes.
    void TearDown() override
    {
        emitter.reset();
        OpenGLEffectPixelTest::TearDown();
    }

    // Particles that stay where they are born, (10, 0, 10), and live long: quads 4 units across
    // of the sample soft disc, in the colour, drawn with the shader.
    void StillParticles(const char* shader, float red, float green, float blue, float opacity)
    {
        definition.SetShaderName(shader);
        definition.SetFloat(EmitterData::FLOAT_LIFE, 100.0f);
        const std::pair<int, float> constants[] = {
            {EmitterData::CURVE_EMISSION_RATE, 15.0f}, {EmitterData::CURVE_SPEED, 0.0f},
            {EmitterData::CURVE_EMISSION_SIZE, 0.0f},  {EmitterData::CURVE_SIZE, 2.0f},
            {EmitterData::CURVE_OPACITY, opacity},     {EmitterData::CURVE_RED, red},
            {EmitterData::CURVE_GREEN, green},         {EmitterData::CURVE_BLUE, blue}};
        for (const auto& [slot, value] : constants)
            definition.GetCurve(slot)->SetFirstLastY(value, value);
        definition.SetLoop(true);
        emitter = std::make_unique<Emitter>(&definition);
        Ready(*emitter);
        // A few frames, a tenth of a second apart; the last draw is the one looked at.
        const WorldCoords frame(region, Coords::Translation(Vec3(10.0f, 0.0f, 10.0f)));
        for (int i = 0; i < 3 && !HasFatalFailure(); ++i) {
            clock.Advance(100);
            UpdateTime();
            ABBox box;
            emitter->Update(frame, box, &definition, nullptr);
            DrawEmitter();
        }
        ASSERT_GE(emitter->GetNumParticles(), 1);
        for (int i = 0; i < emitter->GetNumParticles(); ++i)
            ASSERT_LT(emitter->GetParticle(i).position.Length(), 0.05f)
                << "every particle within a third of a pixel of the centre";
    }

    void DrawEmitter()
    {
        Draw([this](GraphicsSceneRenderer& renderer) { renderer.AddRenderable(emitter.get(), region); }, 1,
             Color(kGrey, kGrey, kGrey, 1.0f));
    }

    // A channel's byte near the expected fraction.
    static bool Near(uint8_t value, float expected, int tolerance = 8)
    {
        return std::abs(static_cast<int>(value) - static_cast<int>(std::lround(expected * 255.0f))) <=
               tolerance;
    }
    static bool Background(const Pixel& p)
    {
        return Near(p.r, kGrey, 3) && Near(p.g, kGrey, 3) && Near(p.b, kGrey, 3);
    }

    // After n layers of source colour at the given alpha over the grey: what blending by alpha
    // leaves of a channel.
    float Layered(float source, float alpha) const
    {
        return source +
               (kGrey - source) * std::pow(1.0f - alpha, static_cast<float>(emitter->GetNumParticles()));
    }

    EmitterData definition;
    std::unique_ptr<Emitter> emitter;
};

TEST_F(OpenGLParticlePixelTest, AdditiveParticlesBrightenWhatIsBehindThemAndOnlyWithinTheirDisc)
{
    ASSERT_TRUE(StartWorld());
    ASSERT_STREQ(definition.GetShaderName().c_str(), DataKit::ParticleShaders::additiveShaderName)
        << "the emitters' default";
    StillParticles(DataKit::ParticleShaders::additiveShaderName, 1.0f, 0.0f, 0.0f, 0.5f);
    ASSERT_FALSE(HasFatalFailure());

    // Red is added (each layer adds at least 0.48 at the middle); green and blue stay the grey's.
    const Pixel& middle = At(0.0f, 0.0f);
    EXPECT_GE(middle.r, 250) << int(middle.r);
    EXPECT_TRUE(Near(middle.g, kGrey, 3) && Near(middle.b, kGrey, 3))
        << int(middle.g) << "," << int(middle.b);
    // Half way out the disc is fainter but still added.
    for (const Pixel& p : Mirrored(1.0f, 0.0f))
        EXPECT_TRUE(p.r > 150 && Near(p.g, kGrey, 3)) << int(p.r) << "," << int(p.g);
    // The quad's corners lie outside the disc; nothing beyond the quad.
    for (const Pixel& p : Mirrored(1.75f, 1.75f))
        EXPECT_TRUE(Background(p)) << int(p.r) << "," << int(p.g);
    for (float d : {2.5f, 6.0f}) {
        for (const Pixel& p : Mirrored(d, 0.0f))
            EXPECT_TRUE(Background(p)) << d << ": " << int(p.r);
        for (const Pixel& p : Mirrored(0.0f, d))
            EXPECT_TRUE(Background(p)) << d << ": " << int(p.r);
    }
}

TEST_F(OpenGLParticlePixelTest, CombinedParticlesBlendOverWhatIsBehindThem)
{
    ASSERT_TRUE(StartWorld());
    StillParticles(DataKit::ParticleShaders::combineShaderName, 0.0f, 0.0f, 1.0f, 0.5f);
    ASSERT_FALSE(HasFatalFailure());

    // Blue towards one, red and green towards zero, by half the middle's alpha per layer.
    const Pixel& middle = At(0.0f, 0.0f);
    EXPECT_TRUE(Near(middle.b, Layered(1.0f, 0.5f)))
        << int(middle.b) << " from " << emitter->GetNumParticles();
    EXPECT_TRUE(Near(middle.r, Layered(0.0f, 0.5f)) && Near(middle.g, Layered(0.0f, 0.5f)))
        << int(middle.r) << "," << int(middle.g);
    EXPECT_LT(middle.r, 100) << "darkened, not added to";
    for (const Pixel& p : Mirrored(1.75f, 1.75f))
        EXPECT_TRUE(Background(p));
    for (const Pixel& p : Mirrored(3.0f, 0.0f))
        EXPECT_TRUE(Background(p));
}

TEST_F(OpenGLParticlePixelTest, SmoothAdditiveParticlesBrightenWithoutPassingWhite)
{
    ASSERT_TRUE(StartWorld());
    StillParticles(DataKit::ParticleShaders::additiveSmoothShaderName, 1.0f, 0.0f, 0.0f, 0.5f);
    ASSERT_FALSE(HasFatalFailure());

    // Each layer adds its premultiplied red times what is left below white: the alpha blend's
    // result for red, while green and blue keep the grey.
    const Pixel& middle = At(0.0f, 0.0f);
    EXPECT_TRUE(Near(middle.r, Layered(1.0f, 0.5f)))
        << int(middle.r) << " from " << emitter->GetNumParticles();
    EXPECT_TRUE(Near(middle.g, kGrey, 3) && Near(middle.b, kGrey, 3));
    for (const Pixel& p : Mirrored(3.0f, 0.0f))
        EXPECT_TRUE(Background(p));
}

} // namespace
} // namespace GAME
