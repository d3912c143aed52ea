// Water in a started engine (software device, sample data): what it adds to a scene, the draws
// its passes make, device resets, and the water block inside a level file.
#include "WaterFixtures.h"

#include "core/Frustum.h"
#include "datakit/SampleEffects.h"
#include "datakit/WaterWriter.h"
#include "graphics/GraphicsCanvas.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/GraphicsShader2.h"
#include "scene/Camera.h"
#include "scene/GraphicsNormalRenderer.h"
#include "terrain/WaterBlock.h"
#include "terrain/WaterLayer.h"
#include "terrain/WaterPath.h"
#include "terrain/WaterWaveSet.h"
#include "world/EffectEntity.h"
#include "world/EngineFixture.h"
#include "world/Level.h"
#include "world/Region.h"
#include "world/World.h"

#include <algorithm>
#include <cstring>

namespace GAME::WaterTest {
namespace {

class WaterRenderTest : public GAME::Test::EngineTest
{
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        WaterTypeManager::Destroy();
        WaterRandom::Seed(1);
        // The splash effect the sample water's interaction record names.
        DataKit::SampleEffects::AddRecords(data.Database());
        Start();
        graphics = gEngine->GetGraphicsEngine();
        ASSERT_NE(graphics, nullptr);
        control = modules.Device(graphics->GetRenderDevice());
        ASSERT_NE(control, nullptr);
        canvas = graphics->GetCanvas();
        ASSERT_NE(canvas, nullptr);
    }

    // A lake of 4 blocks, a river of one segment and a wave set of one segment, over 36 units.
    void Fill(Water& water)
    {
        WaterTypeManager::Get()->CreateWaterType("Lake");
        WaterLayer* layer = water.AddWaterLayer("Lake", 1.0f);
        ASSERT_NE(layer, nullptr);
        layer->UpdateArea(Vec3(18.0f, 0.0f, 18.0f), 5.0f, true);
        ASSERT_EQ(layer->GetNumBlocks(), 4u);
        ControlPoint a, b;
        a.position = Vec2(4.0f, 30.0f);
        b.position = Vec2(30.0f, 30.0f);
        a.tangent = b.tangent = Vec2(6.0f, 0.0f);
        a.side = b.side = Vec2(0.0f, 1.0f);
        a.width = b.width = 2.0f;
        WaterPath* river = water.AddWaterPath("Lake", 1.0f, a);
        ASSERT_NE(river, nullptr);
        river->AddControlPoint(b);
        a.position.y = b.position.y = 4.0f;
        WaterWaveSet* shore = water.AddWaveSet(1.0f, a);
        ASSERT_NE(shore, nullptr);
        shore->AddControlPoint(b);
        WaterTypeManager::Get()->ReleaseWaterType(WaterTypeManager::Get()->GetWaterType("Lake"));
        // The shaders load now, as the loader would have loaded them by the time of drawing.
        for (const GraphicsShader2* shader : {static_cast<const GraphicsShader2*>(water.GetWaterShader()),
                                              static_cast<const GraphicsShader2*>(water.GetWavesShader()),
                                              water.GetRippleSet().GetShader2(0, Name())})
            if (shader)
                const_cast<GraphicsShader2*>(shader)->EnsureAvailable();
    }

    static Camera TopDown()
    {
        Camera camera;
        camera.SetType(CAMERA_ORTHOGRAPHIC);
        camera.SetWidth(40.0f);
        camera.SetHeight(40.0f);
        camera.SetNearPlane(1.0f);
        camera.SetFarPlane(100.0f);
        camera.SetCoords(Coords::LookInDirection(Vec3(18.0f, 30.0f, 18.0f), Vec3(0.0f, -1.0f, 0.0f),
                                                 Vec3(0.0f, 0.0f, 1.0f)));
        return camera;
    }

    // The draws a frame of the water makes, with the water in view.
    std::vector<std::string> Frame(Water& water, Region& region, size_t* renderables = nullptr)
    {
        std::vector<std::string> calls;
        if (!canvas->BeginFrame())
            return calls;
        control->TakeRecordedCalls();
        control->SetRecording(true);
        {
            GraphicsNormalRenderer renderer;
            const Viewport viewport(0, 0, 64, 64);
            const Camera camera = TopDown();
            const Frustum frustum = camera.GetFrustum(viewport);
            renderer.SetViewer(&region, camera, viewport, frustum);
            renderer.SetRegionToSceneCoords(&region, Coords());
            water.AddToScene(renderer, frustum);
            if (renderables)
                *renderables = renderer.GetRenderables().size();
            renderer.Render(*canvas, false, false);
        }
        control->SetRecording(false);
        for (const std::string& call : control->TakeRecordedCalls())
            if (call.rfind("DrawIndexedPrimitive(", 0) == 0)
                calls.push_back(call);
        canvas->EndFrame();
        return calls;
    }

    static size_t Count(const std::vector<std::string>& calls, const std::string& call)
    {
        return static_cast<size_t>(std::count(calls.begin(), calls.end(), call));
    }

    GAME::Test::SoftwareModuleAccess modules;
    GraphicsEngine* graphics = nullptr;
    Software::DeviceControl* control = nullptr;
    GraphicsCanvas* canvas = nullptr;
};

TEST_F(WaterRenderTest, ThePassesDrawBlocksRiversAndWavesWithTheirBuffers)
{
    Region region(ABBox(Vec3(18.0f, 0.0f, 18.0f), Vec3(18.0f, 30.0f, 18.0f)));
    Water water(&region);
    water.Initialize(36, 36, nullptr, nullptr);
    ASSERT_TRUE(water.IsInitialized());
    Fill(water);
    water.CreateRipple(Vec3(18.0f, 0.5f, 18.0f), 1.0f, 1.0f, 0);
    water.Update(16);

    size_t renderables = 0;
    const std::vector<std::string> draws = Frame(water, region, &renderables);
    EXPECT_EQ(renderables, 2u); // the water and its ripples
    // Blocks: 9 strip rows of 10 joined by empty triangles, 194 triangles over 100 vertices.
    EXPECT_EQ(Count(draws, "DrawIndexedPrimitive(1, 0, 0, 100, 0, 194)"), 4u);
    // The river: 26 units long, 13 rows.
    EXPECT_EQ(Count(draws, "DrawIndexedPrimitive(1, 0, 0, 140, 0, 282)"), 1u);
    // The waves: 26 band points, 52 foam patches; per band three strips of the main band and one
    // of the bump band, and the foam as a list.
    const WaterWaveSegment& waves = *water.GetWaveSet(0)->GetSegment(0);
    ASSERT_EQ(waves.GetNumBandPoints(), 26u);
    ASSERT_EQ(waves.GetNumFoamPatches(), 52u);
    EXPECT_EQ(Count(draws, "DrawIndexedPrimitive(1, 208, 0, 108, 600, 52)"), 1u);
    EXPECT_EQ(Count(draws, "DrawIndexedPrimitive(1, 208, 0, 108, 804, 52)"), 1u);
    EXPECT_EQ(Count(draws, "DrawIndexedPrimitive(1, 370, 0, 108, 702, 52)"), 1u);
    EXPECT_EQ(Count(draws, "DrawIndexedPrimitive(1, 316, 0, 54, 906, 52)"), 1u);
    EXPECT_EQ(Count(draws, "DrawIndexedPrimitive(0, 0, 0, 208, 0, 104)"), 1u);
    // The ripple: one quad.
    EXPECT_EQ(Count(draws, "DrawIndexedPrimitive(0, 0, 0, 4, 0, 2)"), 1u);
    EXPECT_EQ(control->GetRejectedCallCount(), 0u);

    // Foam only: the band passes draw nothing.
    water.GetWaveSet(0)->GetWaveParams().flags = WaveParams::FLAG_FOAM;
    const std::vector<std::string> foam = Frame(water, region);
    EXPECT_EQ(Count(foam, "DrawIndexedPrimitive(1, 208, 0, 108, 600, 52)"), 0u);
    EXPECT_EQ(Count(foam, "DrawIndexedPrimitive(0, 0, 0, 208, 0, 104)"), 1u);

    // The render flag off, or nothing in view: no renderable at all.
    GraphicsNormalRenderer off;
    const Viewport viewport(0, 0, 64, 64);
    const Camera camera = TopDown();
    off.SetViewer(&region, camera, viewport, camera.GetFrustum(viewport));
    off.SetRegionToSceneCoords(&region, Coords());
    off.EnableWater(false);
    water.AddToScene(off, camera.GetFrustum(viewport));
    EXPECT_TRUE(off.GetRenderables().empty());
    GraphicsNormalRenderer away;
    Camera elsewhere = camera;
    elsewhere.SetCoords(Coords::LookInDirection(Vec3(500.0f, 30.0f, 500.0f), Vec3(0.0f, -1.0f, 0.0f),
                                                Vec3(0.0f, 0.0f, 1.0f)));
    away.SetViewer(&region, elsewhere, viewport, elsewhere.GetFrustum(viewport));
    away.SetRegionToSceneCoords(&region, Coords());
    water.AddToScene(away, elsewhere.GetFrustum(viewport));
    EXPECT_TRUE(away.GetRenderables().empty());
    EXPECT_EQ(water.GetRenderInterface().GetNumRenderPasses(Name::Create("emissiveStyle"),
                                                            RENDER_GENERATION_UNKNOWN),
              0);
}

TEST_F(WaterRenderTest, StylesFollowTheReflectionSwitchAndElementsSortByType)
{
    Region region(ABBox(Vec3(18.0f, 0.0f, 18.0f), Vec3(18.0f, 30.0f, 18.0f)));
    Water water(&region);
    water.Initialize(36, 36, nullptr, nullptr);
    ASSERT_TRUE(water.IsInitialized());
    const WaterRenderInterface& surface = water.GetRenderInterface();
    const Name emissive = Name::Create("emissiveStyle"), fog = Name::Create("fogStyle");
    graphics->EnableReflections(true);
    EXPECT_EQ(surface.GetShaderStyle(0, emissive, RENDER_GENERATION_UNKNOWN),
              Name::Create("waterBlockReflectStyle"));
    EXPECT_EQ(surface.GetShaderStyle(1, emissive, RENDER_GENERATION_UNKNOWN),
              Name::Create("waterPathReflectStyle"));
    graphics->EnableReflections(false);
    EXPECT_EQ(surface.GetShaderStyle(0, emissive, RENDER_GENERATION_UNKNOWN),
              Name::Create("waterBlockStyle"));
    EXPECT_EQ(surface.GetShaderStyle(1, emissive, RENDER_GENERATION_UNKNOWN), Name::Create("waterPathStyle"));
    EXPECT_EQ(surface.GetShaderStyle(2, emissive, RENDER_GENERATION_UNKNOWN), Name::Create("blendStyle"));
    EXPECT_EQ(surface.GetShaderStyle(3, emissive, RENDER_GENERATION_UNKNOWN), Name::Create("bumpStyle"));
    EXPECT_EQ(surface.GetShaderStyle(4, emissive, RENDER_GENERATION_UNKNOWN), Name::Create("blendStyle"));
    EXPECT_EQ(surface.GetShaderStyle(0, fog, RENDER_GENERATION_UNKNOWN), fog);
    EXPECT_EQ(surface.GetShader2(0, emissive), water.GetWaterShader());
    EXPECT_EQ(surface.GetShader2(3, emissive), water.GetWavesShader());
    EXPECT_EQ(water.GetWavesStyle(3), Name::noName);
    EXPECT_EQ(water.GetWavesTexture(3), nullptr);

    // Elements of two types, interleaved, come out grouped by type in their order.
    WaterTypeManager& manager = *WaterTypeManager::Get();
    WaterType* lake = manager.CreateWaterType("Lake");
    WaterType* sea = manager.CreateWaterType("Sea");
    WaterLayer* a = water.AddWaterLayer("Lake", 1.0f);
    WaterLayer* b = water.AddWaterLayer("Sea", 2.0f);
    for (float x : {4.0f, 13.0f, 22.0f}) {
        a->UpdateArea(Vec3(x, 0.0f, 4.0f), 3.0f, true);
        b->UpdateArea(Vec3(x, 0.0f, 22.0f), 3.0f, true);
    }
    std::vector<WaterElement*> elements;
    water.GetBlocksInFrustum(elements, nullptr, 0);
    EXPECT_TRUE(elements.empty());
    const Camera camera = TopDown();
    const Frustum frustum = camera.GetFrustum(Viewport(0, 0, 64, 64));
    water.GetBlocksInFrustum(elements, &frustum, 1);
    ASSERT_EQ(elements.size(), 6u);
    std::vector<WaterElement*> sorted = elements;
    WaterRenderInterface::StortElementList(sorted);
    for (size_t i = 1; i < sorted.size(); ++i)
        EXPECT_FALSE(std::less<const WaterType*>()(sorted[i]->GetWaterType(), sorted[i - 1]->GetWaterType()));
    std::vector<WaterElement*> first;
    for (WaterElement* e : elements)
        if (e->GetWaterType() == std::min(lake, sea, std::less<WaterType*>()))
            first.push_back(e);
    EXPECT_TRUE(std::equal(first.begin(), first.end(), sorted.begin()));
    manager.ReleaseWaterType(lake);
    manager.ReleaseWaterType(sea);
}

TEST_F(WaterRenderTest, ADeviceResetRebuildsEveryBuffer)
{
    Region region(ABBox(Vec3(18.0f, 0.0f, 18.0f), Vec3(18.0f, 30.0f, 18.0f)));
    Water water(&region);
    water.Initialize(36, 36, nullptr, nullptr);
    ASSERT_TRUE(water.IsInitialized());
    Fill(water);
    const uint32_t vertexBuffers = control->GetResourceCount(Software::ResourceKind::VertexBuffer);
    const uint32_t indexBuffers = control->GetResourceCount(Software::ResourceKind::IndexBuffer);
    water.PreDeviceReset();
    // 4 blocks, 1 river segment, 1 wave segment and the ripples' buffer; both index buffers and
    // the ripples'.
    EXPECT_EQ(control->GetResourceCount(Software::ResourceKind::VertexBuffer), vertexBuffers - 7);
    EXPECT_EQ(control->GetResourceCount(Software::ResourceKind::IndexBuffer), indexBuffers - 3);
    EXPECT_EQ(water.GetBlockIndexBuffer(), nullptr);
    EXPECT_EQ(water.GetLayer(0)->GetBlock(1, 1)->GetVertexBuffer(), nullptr);
    water.PostDeviceReset();
    EXPECT_EQ(control->GetResourceCount(Software::ResourceKind::VertexBuffer), vertexBuffers);
    EXPECT_EQ(control->GetResourceCount(Software::ResourceKind::IndexBuffer), indexBuffers);
    EXPECT_EQ(Count(Frame(water, region), "DrawIndexedPrimitive(1, 0, 0, 100, 0, 194)"), 4u);
}

TEST_F(WaterRenderTest, ALevelCarriesItsWaterAndReadsOnPastABadBlock)
{
    Region region(ABBox(Vec3(18.0f, 0.0f, 18.0f), Vec3(18.0f, 30.0f, 18.0f)));
    std::vector<uint8_t> image;
    {
        Level source(&region);
        source.NewTerrain(33, 33);
        Water* water = source.NewWater();
        ASSERT_TRUE(water && water->IsInitialized());
        EXPECT_EQ(water->GetSizeX(), 32u);
        WaterTypeManager::Get()->CreateWaterType("Lake");
        water->AddWaterLayer("Lake", 1.0f)->UpdateArea(Vec3(18.0f, 0.0f, 18.0f), 5.0f, true);
        // A mark in the sector layers, whose chunk comes after the water's.
        source.GetSectorLayers().PrimeForEdit(0, UniqueId(1, 2, 3, 4));
        source.GetSectorLayers().Edit(5, 3, true);
        BinaryWriter writer(1024);
        ASSERT_TRUE(source.SaveToMemory(writer, false));
        image = Bytes(writer);
        WaterTypeManager::Get()->ReleaseWaterType(WaterTypeManager::Get()->GetWaterType("Lake"));
        source.Unload(false);
    }
    {
        Level copy(&region);
        ASSERT_TRUE(copy.Load(image.data(), static_cast<int>(image.size()), false));
        ASSERT_NE(copy.GetWater(), nullptr);
        ASSERT_NE(copy.GetWater()->GetLayer(0), nullptr);
        EXPECT_EQ(copy.GetWater()->GetLayer(0)->GetNumBlocks(), 4u);
        copy.Unload(false);
    }
    // The water chunk's magic spoilt: the level loads, without water pieces, and the chunks after
    // the water's are read as before.
    size_t at = 4;
    while (at + 8 <= image.size()) {
        uint32_t id, size;
        std::memcpy(&id, &image[at], 4);
        std::memcpy(&size, &image[at + 4], 4);
        if (id == 9)
            break;
        at += 8 + size;
    }
    ASSERT_LT(at + 8, image.size());
    image[at + 8] ^= 0xFF;
    GAME::Test::LogCapture quiet;
    Level damaged(&region);
    ASSERT_TRUE(damaged.Load(image.data(), static_cast<int>(image.size()), false));
    ASSERT_NE(damaged.GetWater(), nullptr);
    EXPECT_EQ(damaged.GetWater()->GetNumLayers(), 0u);
    EXPECT_EQ(damaged.GetSectorLayers().GetTargetId(0, 5, 3), UniqueId(1, 2, 3, 4));
    EXPECT_TRUE(engine->Has("Invalid water data, water will not be loaded.", 1));
    damaged.Unload(false);
}

TEST_F(WaterRenderTest, AWorldDisturbanceRipplesTheWaterNearItAndSplashes)
{
    World world;
    world.AddRegion("levels/a.lvl", IntVec3(), ABBox(Vec3(18.0f, 0.0f, 18.0f), Vec3(18.0f, 30.0f, 18.0f)),
                    RegionId(1, 0, 0, 0));
    Region* region = world.GetRegion(0);
    auto* level = new Level(region);
    level->NewTerrain(33, 33);
    Water* water = level->NewWater();
    ASSERT_TRUE(water && water->IsInitialized());
    EXPECT_FALSE(water->GetSplashEffect(Water::SPLASH_KIND_OBJECT).empty());
    WaterTypeManager::Get()->CreateWaterType("Lake");
    water->AddWaterLayer("Lake", 1.0f)->UpdateArea(Vec3(18.0f, 0.0f, 18.0f), 5.0f, true);
    WaterTypeManager::Get()->ReleaseWaterType(WaterTypeManager::Get()->GetWaterType("Lake"));
    region->SetLevel(level);
    const WaterRippleSet& ripples = water->GetRippleSet();

    // Far from the lake, and on the lake but too weak: no ripple, no splash.
    world.CreateDisturbance(WorldVec3(region, Vec3(3.0f, 0.5f, 3.0f)), 1.0f, 1.0f, SPLASH_OBJECT);
    world.CreateDisturbance(WorldVec3(region, Vec3(18.0f, 0.5f, 18.0f)), 1.0f, 0.5f, SPLASH_NONE);
    EXPECT_EQ(ripples.GetNumActive(), 0u);
    std::vector<Entity*> entities;
    level->GetEntities(entities, ENTITY_LIST_ALL);
    EXPECT_TRUE(entities.empty());

    // Something falls into the lake: a ripple where it meets the surface, and the object splash.
    world.CreateDisturbance(WorldVec3(region, Vec3(18.0f, 0.5f, 18.0f)), 1.0f, 1.0f, SPLASH_OBJECT);
    ASSERT_EQ(ripples.GetNumActive(), 1u);
    EXPECT_NEAR(ripples.GetRipple(0).position.y, 1.01f, 1e-5f);
    EXPECT_NEAR(ripples.GetRipple(0).maxRadius, 4.0f, 0.2f);
    entities.clear();
    level->GetEntities(entities, ENTITY_LIST_ALL);
    ASSERT_EQ(entities.size(), 1u);
    EXPECT_NE(dynamic_cast<EffectEntity*>(entities[0]), nullptr);
    EXPECT_NEAR(entities[0]->GetCoords().GetRegionCoords().origin.y, 1.0f, 1e-5f);
}

} // namespace
} // namespace GAME::WaterTest
