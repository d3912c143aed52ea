// Actors drawn through the device that draws (OpenGL.so, headless through EGL) by the normal
// renderer with the sample game's mesh shaders: the sample crate, placed as an actor from its
// record and lit by a light entity above it, covers where its corners project and takes the
// light's colour on its top. The suite's name starts with "OpenGL": it needs that module beside
// libEngine.so and fails, saying so, without it.
#include "EngineFixture.h"

#include "core/ObjectManager.h"
#include "datakit/CharacterGenerator.h"
#include "graphics/GraphicsCanvas.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/OpenGLTestSupport.h"
#include "platform/Module.h"
#include "scene/Camera.h"
#include "scene/GraphicsMeshInstance.h"
#include "scene/GraphicsNormalRenderer.h"
#include "world/Actor.h"
#include "world/Level.h"
#include "world/Light.h"
#include "world/Region.h"
#include "world/World.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

namespace GAME {
namespace {

using DataKit::CharacterGenerator;

constexpr int kSize = 128;

class OpenGLActorPixelTest : public GAME::Test::EngineTest
{
protected:
    void SetUp() override
    {
        GAME::Test::EngineTest::SetUp();
        settings.deviceName = "OpenGL";
        data.SetDefault("resolution", "128 128");
        data.SetDefault("skipCompatibilityChecks", "true");
        data.Database()
            .AddRecord("records/crate.dbr")
            .String("Class", "Actor")
            .String("mesh", CharacterGenerator::propMesh)
            .Float("scale", 2.0f);
        data.Database()
            .AddRecord("records/lamp.dbr")
            .String("Class", "Light")
            .Float("radius", 8.0f)
            .Float("color.r", 1.0f)
            .Float("color.g", 0.5f)
            .Float("color.b", 0.1f);
    }

    bool StartWorld()
    {
        std::string error;
        Platform::ModuleHandle module = Platform::LoadModule("OpenGL", &error);
        EXPECT_NE(module, nullptr) << "OpenGL.so cannot be loaded (" << error
                                   << "); it is built from Devices/OpenGL beside libEngine.so";
        if (!module)
            return false;
        Platform::UnloadModule(module);
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
        // Seen from above and in front, the crate in the middle of the view.
        camera.SetCoords(
            Coords::LookAt(Vec3(10.0f, 7.0f, 16.0f), Vec3(10.0f, 1.0f, 10.0f), Vec3(0.0f, 1.0f, 0.0f)));
        return true;
    }

    // Waits (on the loader thread, at most 20 s) until the actor can be drawn.
    bool Ready(Actor& actor)
    {
        actor.PreLoad(true);
        const auto start = std::chrono::steady_clock::now();
        while (std::chrono::steady_clock::now() - start < std::chrono::seconds(20)) {
            actor.Update(16);
            if (actor.GetIsReadyToRender())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }

    GAME::Test::Image Draw(const std::vector<Entity*>& entities,
                           const Color& ambient = Color(0.25f, 0.25f, 0.25f, 1.0f))
    {
        GraphicsCanvas& canvas = *engine->GetGraphicsEngine()->GetCanvas();
        const Frustum frustum = camera.GetFrustum(viewport);
        GraphicsNormalRenderer renderer;
        renderer.SetViewer(region, camera, viewport, frustum);
        renderer.SetGenerationId(engine->GetGraphicsEngine()->GetGenerationId());
        renderer.SetBackgroundColor(Color(0.0f, 0.0f, 0.0f, 1.0f));
        renderer.SetSkyAmbientColor(ambient);
        renderer.SetGroundAmbientColor(ambient);
        renderer.EnableFog(false);
        renderer.SetRegionToSceneCoords(region, Coords());
        for (Entity* entity : entities)
            entity->AddToScene(renderer, &frustum);
        EXPECT_TRUE(canvas.BeginFrame());
        renderer.Render(canvas, false, false);
        canvas.EndFrame();
        return GAME::Test::ReadBack(*engine->GetGraphicsEngine()->GetRenderDevice(), kSize, kSize);
    }

    static bool Covered(const Pixel& p) { return std::max({p.r, p.g, p.b}) > 12; }

    Region* region = nullptr;
    Level* level = nullptr;
    Camera camera;
    Viewport viewport = Viewport(0, 0, kSize, kSize);
};

TEST_F(OpenGLActorPixelTest, ALitCrateActorIsDrawnWhereItStandsInItsLightsColour)
{
    ASSERT_TRUE(StartWorld());
    ObjectManager* objects = ObjectManager::Get();
    auto* crate = objects->CreateObjectFromFileAs<Actor>("records/crate.dbr");
    auto* lamp = objects->CreateObjectFromFileAs<Light>("records/lamp.dbr");
    ASSERT_TRUE(crate && lamp);
    ASSERT_TRUE(level->AddEntity(crate, Coords::Translation(Vec3(10.0f, 0.0f, 10.0f))));
    ASSERT_TRUE(level->AddEntity(lamp, Coords::Translation(Vec3(10.0f, 4.0f, 10.0f))));
    ASSERT_TRUE(Ready(*crate)) << "the crate's mesh, shader and texture did not load";
    lamp->Update(16);

    const GAME::Test::Image dark = Draw({crate});
    const GAME::Test::Image lit = Draw({crate, lamp});
    const GAME::Test::Image white = Draw({crate}, Color(1.0f, 1.0f, 1.0f, 1.0f));
    ASSERT_EQ(lit.pixels.size(), size_t(kSize) * kSize) << "no read-back";
    ASSERT_EQ(white.pixels.size(), lit.pixels.size());
    ASSERT_EQ(dark.pixels.size(), lit.pixels.size());

    // What is covered lies within the projected corners of the crate (2 units a side).
    float left = 1e9f, right = -1e9f, top = 1e9f, bottom = -1e9f;
    for (int corner = 0; corner < 8; ++corner) {
        const Vec2 p = camera.Project(
            Vec3(corner & 1 ? 11.0f : 9.0f, corner & 2 ? 2.0f : 0.0f, corner & 4 ? 11.0f : 9.0f), viewport);
        left = std::min(left, p.x);
        right = std::max(right, p.x);
        top = std::min(top, p.y);
        bottom = std::max(bottom, p.y);
    }
    int covered = 0;
    float minX = 1e9f, maxX = -1e9f, minY = 1e9f, maxY = -1e9f;
    for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x)
            if (Covered(lit.At(x, y))) {
                ++covered;
                minX = std::min(minX, x + 0.5f);
                maxX = std::max(maxX, x + 0.5f);
                minY = std::min(minY, y + 0.5f);
                maxY = std::max(maxY, y + 0.5f);
            }
    ASSERT_GT(covered, 200) << "the crate was not drawn";
    EXPECT_NEAR(minX, left, 1.5f);
    EXPECT_NEAR(maxX, right, 1.5f);
    EXPECT_NEAR(minY, top, 1.5f);
    EXPECT_NEAR(maxY, bottom, 1.5f);

    // The top, under the lamp, takes its orange over the grey ambient; unlit it is the grey
    // ambient's share alone (a quarter) of its colour under white light.
    const Vec2 centre = camera.Project(Vec3(10.0f, 2.0f, 10.0f), viewport);
    const Pixel& on = lit.At(int(centre.x), int(centre.y));
    const Pixel& off = dark.At(int(centre.x), int(centre.y));
    const Pixel& own = white.At(int(centre.x), int(centre.y));
    EXPECT_TRUE(Covered(off) && std::abs(off.r - own.r / 4) <= 3 && std::abs(off.g - own.g / 4) <= 3 &&
                std::abs(off.b - own.b / 4) <= 3)
        << GAME::Test::Describe(off) << " under white " << GAME::Test::Describe(own);
    EXPECT_GT(on.r, off.r + 60) << GAME::Test::Describe(on) << " over " << GAME::Test::Describe(off);
    EXPECT_GT(on.r, on.g + 20) << GAME::Test::Describe(on);
    EXPECT_GT(on.g, on.b + 10) << GAME::Test::Describe(on);
    // What the lamp adds is its own orange (red most, blue least).
    EXPECT_GT(on.r - off.r, on.g - off.g + 20)
        << GAME::Test::Describe(on) << " over " << GAME::Test::Describe(off);
    EXPECT_GT(on.g - off.g, on.b - off.b + 10)
        << GAME::Test::Describe(on) << " over " << GAME::Test::Describe(off);
    // Outside the crate nothing was drawn.
    EXPECT_FALSE(Covered(lit.At(2, 2)));
}

TEST_F(OpenGLActorPixelTest, TheSampleCrateShowsItsPlanks)
{
    ASSERT_TRUE(StartWorld());
    auto* crate = ObjectManager::Get()->CreateObjectFromFileAs<Actor>("records/crate.dbr");
    ASSERT_NE(crate, nullptr);
    ASSERT_TRUE(level->AddEntity(crate, Coords::Translation(Vec3(10.0f, 0.0f, 10.0f))));
    ASSERT_TRUE(Ready(*crate)) << "the crate's mesh, shader and texture did not load";
    const GAME::Test::Image image = Draw({crate}, Color(1.0f, 1.0f, 1.0f, 1.0f));
    ASSERT_EQ(image.pixels.size(), size_t(kSize) * kSize) << "no read-back";

    // Across the top (2 units a side), under white light: brown wood, darker at the seams between
    // the planks; a crate without its texture is one plain white.
    int count = 0, r = 0, g = 0, b = 0, darkest = 255 * 3, lightest = 0;
    for (float z = 9.2f; z <= 10.8f; z += 0.1f)
        for (float x = 9.2f; x <= 10.8f; x += 0.4f) {
            const Vec2 p = camera.Project(Vec3(x, 2.0f, z), viewport);
            const Pixel& pixel = image.At(int(p.x), int(p.y));
            ++count;
            r += pixel.r, g += pixel.g, b += pixel.b;
            darkest = std::min(darkest, pixel.r + pixel.g + pixel.b);
            lightest = std::max(lightest, pixel.r + pixel.g + pixel.b);
        }
    ASSERT_GT(count, 0);
    r /= count, g /= count, b /= count;
    EXPECT_GT(r, g + 25) << r << ", " << g << ", " << b;
    EXPECT_GT(g, b + 25) << r << ", " << g << ", " << b;
    EXPECT_GT(lightest - darkest, 90) << "no seams between planks";
}

} // namespace
} // namespace GAME
