// A decal, a chaos beam and a weapon trail drawn through the device that draws (OpenGL.so,
// headless through EGL) with the sample game's effect shaders, by the scene renderer, seen from
// straight above; the read-back shows each where it belongs. The suite's name starts with
// "OpenGL": it needs that module beside libEngine.so and fails, saying so, without it.
#include "EngineFixture.h"
#include "graphics/OpenGLTestSupport.h"

#include "core/ObjectManager.h"
#include "data/ResourceLoader.h"
#include "graphics/GraphicsCanvas.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/GraphicsShader2.h"
#include "graphics/GraphicsTexture.h"
#include "scene/Camera.h"
#include "scene/GraphicsSceneRenderer.h"
#include "world/ChaosBeam.h"
#include "world/Decal.h"
#include "world/Level.h"
#include "world/Region.h"
#include "world/WeaponTrail.h"
#include "world/World.h"

#include <algorithm>
#include <cmath>
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
        for (Entity* entity : entities)
            entity->AddToScene(renderer, nullptr);
        ASSERT_EQ(renderer.GetRenderables().size(), entities.size()) << "each entity queued itself";

        ASSERT_TRUE(canvas->BeginFrame());
        canvas->SetViewport(viewport);
        canvas->ClearRenderSurface(nullptr, Color(0.0f, 0.0f, 0.0f, 1.0f),
                                   RENDER_CLEAR_COLOR | RENDER_CLEAR_DEPTH);
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

} // namespace
} // namespace GAME
