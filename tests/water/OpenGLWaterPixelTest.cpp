// Water drawn by the normal scene renderer through OpenGL.so (headless, llvmpipe without a GPU)
// with the sample water shaders, over the ground of a region the world generator made (its lake
// lies in a bowl of the ground), read back: the lake shows the water's colour, more of it where
// the water is deeper and none beyond the shore, and with reflections on it mirrors the ground
// drawn into its reflection plane's surface.
#include "common/OneRegionWorld.h"
#include "core/Frustum.h"
#include "datakit/MeshShaders.h"
#include "datakit/ParticleShaders.h"
#include "datakit/SampleGameData.h"
#include "datakit/TerrainShaders.h"
#include "datakit/WaterShaders.h"
#include "datakit/WaterWriter.h"
#include "datakit/WorldGenerator.h"
#include "graphics/GraphicsCanvas.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/GraphicsShader2.h"
#include "graphics/GraphicsTexture.h"
#include "graphics/RenderDevice.h"
#include "scene/Camera.h"
#include "scene/GraphicsLight.h"
#include "scene/GraphicsNormalRenderer.h"
#include "scene/GraphicsPortalRenderer.h"
#include "scene/GraphicsReflectionManager.h"
#include "terrain/TerrainRT.h"
#include "terrain/Water.h"
#include "terrain/WaterLayer.h"
#include "terrain/WaterPath.h"
#include "terrain/WaterType.h"
#include "terrain/WaterWaveSet.h"
#include "world/EngineFixture.h"
#include "world/FogSectorData.h"
#include "world/Level.h"
#include "world/Region.h"
#include "world/SectorDataManager.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <string>

namespace GAME {
namespace {

constexpr int kWidth = 128;
constexpr int kHeight = 128;

class OpenGLWaterPixelTest : public GAME::Test::EngineTest
{
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        settings.deviceName = "OpenGL";
        settings.width = kWidth;
        settings.height = kHeight;
        data.SetDefault("resolution", "128 128");
        DataKit::WorldGenerator::AddRecords(data.Database());
        Start();
        graphics = gEngine->GetGraphicsEngine();
        ASSERT_NE(graphics, nullptr);
        device = graphics->GetRenderDevice();
        ASSERT_NE(device, nullptr) << "no headless OpenGL 4.5 context";
        canvas = graphics->GetCanvas();
        ASSERT_NE(canvas, nullptr);

        // One region of the generator's world, its level loaded from the image it wrote.
        DataKit::WorldGenerator generator(GAME::Test::OneRegionWorld());
        ASSERT_TRUE(generator.Generate());
        const DataKit::WorldGenerator::RegionInfo& info = generator.GetRegions().front();
        region = std::make_unique<Region>(info.box);
        level = new Level(region.get());
        ASSERT_TRUE(level->Load(info.level.data(), static_cast<int>(info.level.size()), false));
        level->PostLoad(false);
        region->SetLevel(level);
        terrain = static_cast<TerrainRT*>(level->GetTerrain());
        ASSERT_TRUE(terrain && terrain->GetType() == TerrainBase::TERRAIN_BASE_RUN_TIME);
        terrain->LoadRenderData();
        water = level->GetWater();
        ASSERT_NE(water, nullptr);
        lake = water->GetLayer(0);
        ASSERT_NE(lake, nullptr);
        ASSERT_GT(lake->GetNumBlocks(), 0u);
        ASSERT_NE(lake->GetWaterType(), nullptr);
        EXPECT_STRCASEEQ(lake->GetWaterTypeName(), DataKit::WaterWriter::lakeTypeName);
        // The river leaving the lake and the shore waves along it.
        ASSERT_EQ(water->GetNumPaths(), 1u);
        ASSERT_NE(water->GetPath(0), nullptr);
        EXPECT_STRCASEEQ(water->GetPath(0)->GetWaterTypeName(), DataKit::WaterWriter::riverTypeName);
        EXPECT_GE(water->GetPath(0)->GetNumControlPoints(), 3u);
        ASSERT_EQ(water->GetNumWaveSets(), 1u);
        EXPECT_NE(water->GetWaveSet(0), nullptr);
        // The sample shaders and the waves' textures load here as the loader would load them: left
        // to the loader's thread, a busy machine has the first pictures drawn without them.
        for (GraphicsShader2* shader :
             {terrain->GetLayerShader() ? const_cast<GraphicsShader2*>(terrain->GetLayerShader()) : nullptr,
              water->GetWaterShader(), water->GetWavesShader()})
            if (shader)
                shader->EnsureAvailable();
        for (unsigned i = 0; i < Water::numWavesTextures; ++i)
            if (GraphicsTexture* texture = water->GetWavesTexture(i))
                texture->EnsureAvailable();
        ASSERT_TRUE(water->GetWaterShader() && water->GetWaterShader()->GetIsReadyToUse());
        ASSERT_TRUE(water->GetWavesShader() && water->GetWavesShader()->GetIsReadyToUse());
    }

    void TearDown() override
    {
        region.reset(); // deletes the level with its terrain and water
        EngineTest::TearDown();
    }

    // Draws the ground, and the water when asked, with white ambient light over a black
    // background; with reflections the water's reflection planes are rendered first. The picture
    // read back (empty on failure).
    std::vector<Pixel> Draw(const Camera& camera, bool withWater, bool reflections)
    {
        graphics->EnableReflections(reflections);
        std::vector<Pixel> pixels;
        if (!canvas->BeginFrame())
            return pixels;
        const Viewport viewport(0, 0, kWidth, kHeight);
        const Frustum frustum = camera.GetFrustum(viewport);
        const Color white(1.0f, 1.0f, 1.0f, 1.0f);
        terrain->Update(&frustum, 1, 16);
        GraphicsReflectionManager manager;
        if (withWater && reflections) {
            GraphicsLight sun;
            sun.SetType(GraphicsLight::TYPE_DIRECTIONAL);
            manager.RenderReflections(*canvas, GraphicsReflectionManager::RenderSet(
                                                   &camera, region.get(), viewport, &sun, &white, &white));
            mirror = ReadMirror(lake->GetReflectionPlane().reflectionSurface);
            // What the mirror shows, made plain: red wherever the mirrored scene left nothing.
            if (RenderSurface* surface = lake->GetReflectionPlane().reflectionSurface;
                surface && paintMirror) {
                RenderSurface* previous = canvas->GetTargetSurface();
                canvas->SetTargetSurface(surface);
                canvas->SetClearColor(Color(1.0f, 0.0f, 0.0f, 1.0f));
                canvas->Clear(RENDER_CLEAR_COLOR);
                canvas->SetTargetSurface(previous);
                canvas->SetViewport(viewport);
            }
        }
        {
            GraphicsNormalRenderer renderer;
            renderer.SetViewer(region.get(), camera, viewport, frustum);
            renderer.SetRegionToSceneCoords(region.get(), Coords());
            renderer.SetBackgroundColor(Color(0.0f, 0.0f, 0.0f, 1.0f));
            renderer.SetSkyAmbientColor(white);
            renderer.SetGroundAmbientColor(white);
            renderer.EnableGrass(grass);
            renderer.EnableWater(withWater);
            renderer.EnableFog(fog.on);
            renderer.SetFogColor(fog.color);
            renderer.SetDepthFogParams(fog.depth[0], fog.depth[1], fog.depth[2]);
            renderer.SetHeightFogParams(fog.height[0], fog.height[1], fog.height[2]);
            terrain->AddToScene(renderer, frustum);
            water->AddToScene(renderer, frustum);
            renderer.Render(*canvas, false, false);
        }
        pixels.resize(static_cast<size_t>(kWidth) * kHeight);
        if (!device->ReadFrameBuffer(pixels.data(), kWidth, kHeight))
            pixels.clear();
        canvas->EndFrame();
        // For a look at the picture: WATER_PIXEL_TEST_PPM names a file to write it to.
        if (const char* path = std::getenv("WATER_PIXEL_TEST_PPM"); path && !pixels.empty()) {
            std::ofstream out(std::string(path) +
                                  (withWater ? reflections ? "-reflect" : "-water" : "-ground") + ".ppm",
                              std::ios::binary);
            out << "P6\n" << kWidth << " " << kHeight << "\n255\n";
            for (const Pixel& p : pixels)
                out.put(static_cast<char>(p.r)).put(static_cast<char>(p.g)).put(static_cast<char>(p.b));
        }
        return pixels;
    }

    // The reflection surface as the reflections left it (empty without one).
    std::vector<Pixel> ReadMirror(RenderSurface* surface)
    {
        std::vector<Pixel> image;
        if (!surface)
            return image;
        const int size = GraphicsReflectionManager::surfaceSize;
        RenderSurface* previous = canvas->GetTargetSurface();
        canvas->SetTargetSurface(surface);
        image.resize(static_cast<size_t>(size) * size);
        if (!device->ReadFrameBuffer(image.data(), size, size))
            image.clear();
        canvas->SetTargetSurface(previous);
        if (const char* path = std::getenv("WATER_PIXEL_TEST_PPM"); path && !image.empty()) {
            std::ofstream out(std::string(path) + "-mirror.ppm", std::ios::binary);
            out << "P6\n" << size << " " << size << "\n255\n";
            for (const Pixel& p : image)
                out.put(static_cast<char>(p.r)).put(static_cast<char>(p.g)).put(static_cast<char>(p.b));
        }
        return image;
    }

    const Pixel& At(const std::vector<Pixel>& pixels, const Camera& camera, const Vec3& point) const
    {
        const Vec2 screen = camera.Project(point, Viewport(0, 0, kWidth, kHeight));
        const int x = std::clamp(static_cast<int>(screen.x), 0, kWidth - 1);
        const int y = std::clamp(static_cast<int>(screen.y), 0, kHeight - 1);
        return pixels[static_cast<size_t>(y) * kWidth + static_cast<size_t>(x)];
    }

    // The water over the ground at a point: its surface minus the ground's height.
    float Depth(float x, float z) const { return lake->GetHeight() - terrain->GetHeightInterpolated(x, z); }

    GraphicsEngine* graphics = nullptr;
    RenderDevice* device = nullptr;
    GraphicsCanvas* canvas = nullptr;
    std::unique_ptr<Region> region;
    Level* level = nullptr;
    TerrainRT* terrain = nullptr;
    Water* water = nullptr;
    WaterLayer* lake = nullptr;
    std::vector<Pixel> mirror;
    bool paintMirror = false;
    bool grass = false;
    // The renderer's fog (none by default).
    struct
    {
        bool on = false;
        Color color = Color(0.0f, 0.0f, 0.0f, 1.0f);
        float depth[3] = {0.0f, 0.0f, 0.0f};  // start, end, density
        float height[3] = {0.0f, 0.0f, 0.0f}; // base, top, density
    } fog;
};

std::string Describe(const Pixel& p)
{
    char text[40];
    std::snprintf(text, sizeof(text), "(%d, %d, %d)", p.r, p.g, p.b);
    return text;
}

int Difference(const Pixel& a, const Pixel& b)
{
    return std::abs(a.r - b.r) + std::abs(a.g - b.g) + std::abs(a.b - b.b);
}

TEST_F(OpenGLWaterPixelTest, TheLakeShowsItsColourMoreWhereItIsDeeper)
{
    // Straight down on the lake.
    const Vec3 centre(lake->GetReflectionPlane().box.center.x, 0.0f, lake->GetReflectionPlane().box.center.z);
    Camera camera;
    camera.SetType(CAMERA_ORTHOGRAPHIC);
    camera.SetWidth(30.0f);
    camera.SetHeight(30.0f);
    camera.SetNearPlane(1.0f);
    camera.SetFarPlane(200.0f);
    camera.SetCoords(Coords::LookInDirection(centre + Vec3(0.0f, 40.0f, 0.0f), Vec3(0.0f, -1.0f, 0.0f),
                                             Vec3(0.0f, 0.0f, 1.0f)));
    const std::vector<Pixel> ground = Draw(camera, false, false);
    const std::vector<Pixel> wet = Draw(camera, true, false);
    ASSERT_FALSE(ground.empty());
    ASSERT_FALSE(wet.empty());

    // A deep point (the bowl's middle), a shallow one toward the shore and a dry one past it.
    Vec3 deep = centre, shallow, dry;
    bool haveShallow = false, haveDry = false;
    for (float step = 0.0f; step < 14.0f; step += 0.25f) {
        const Vec3 p = centre + Vec3(0.0f, 0.0f, -step); // toward the flight's row, no river there
        if (Depth(p.x, p.z) > Depth(deep.x, deep.z))
            deep = p;
        if (!haveShallow && Depth(p.x, p.z) < 0.4f && Depth(p.x, p.z) > 0.2f) {
            shallow = p;
            haveShallow = true;
        }
        if (!haveDry && Depth(p.x, p.z) < -1.0f) {
            dry = p;
            haveDry = true;
        }
    }
    ASSERT_GT(Depth(deep.x, deep.z), 1.2f);
    ASSERT_TRUE(haveShallow);
    ASSERT_TRUE(haveDry);
    ASSERT_TRUE(lake->IsPointInLayer(deep));
    ASSERT_TRUE(lake->IsPointInLayer(shallow));

    const Pixel& deepGround = At(ground, camera, deep);
    const Pixel& deepWater = At(wet, camera, deep);
    const Pixel& shallowGround = At(ground, camera, shallow);
    const Pixel& shallowWater = At(wet, camera, shallow);
    // The lake's colour is blue: the water turns the ground bluer, the deep water more so.
    const auto blueness = [](const Pixel& p) { return static_cast<int>(p.b) - static_cast<int>(p.r); };
    EXPECT_GT(blueness(deepWater), blueness(deepGround) + 30)
        << Describe(deepGround) << " " << Describe(deepWater);
    EXPECT_GT(blueness(shallowWater), blueness(shallowGround) + 10)
        << Describe(shallowGround) << " " << Describe(shallowWater);
    EXPECT_GT(Difference(deepWater, deepGround), Difference(shallowWater, shallowGround) + 20)
        << "deep " << Describe(deepGround) << " -> " << Describe(deepWater) << ", shallow "
        << Describe(shallowGround) << " -> " << Describe(shallowWater);
    // Past the shore the ground stands over the surface and hides the water.
    EXPECT_LE(Difference(At(wet, camera, dry), At(ground, camera, dry)), 3)
        << Describe(At(ground, camera, dry)) << " " << Describe(At(wet, camera, dry));
}

TEST_F(OpenGLWaterPixelTest, WithReflectionsTheLakeMirrorsTheGroundDrawnIntoItsPlanesSurface)
{
    // Low over the ground west of the lake, looking across it to the far shore.
    const Vec3 centre = lake->GetReflectionPlane().box.center;
    Camera camera;
    camera.SetFOV(0.9f);
    camera.SetNearPlane(0.5f);
    camera.SetFarPlane(300.0f);
    const Vec3 eye(centre.x - 22.0f, 7.0f, centre.z), target(centre.x + 4.0f, centre.y, centre.z);
    camera.SetCoords(Coords::LookInDirection(eye, (target - eye).Unit(), Vec3(0.0f, 1.0f, 0.0f)));
    const std::vector<Pixel> ground = Draw(camera, false, false);
    const std::vector<Pixel> plain = Draw(camera, true, false);
    EXPECT_EQ(lake->GetReflectionPlane().reflectionSurface, nullptr);
    const std::vector<Pixel> mirrored = Draw(camera, true, true);
    ASSERT_FALSE(ground.empty());
    ASSERT_FALSE(plain.empty());
    ASSERT_FALSE(mirrored.empty());
    // The reflections render the lake's plane into a surface of their own: the ground above the
    // water seen from the mirrored camera.
    ASSERT_NE(lake->GetReflectionPlane().reflectionSurface, nullptr);
    ASSERT_EQ(mirror.size(), static_cast<size_t>(GraphicsReflectionManager::surfaceSize) *
                                 static_cast<size_t>(GraphicsReflectionManager::surfaceSize));
    const long drawn = std::count_if(mirror.begin(), mirror.end(), [](const Pixel& p) { return p.a > 0; });
    EXPECT_GT(drawn, static_cast<long>(mirror.size() / 20)) << drawn << " of " << mirror.size();

    // The water shows that surface where it holds something: the ground's colours are darker and
    // less blue than the sample sky it mirrors without reflections.
    int waterPixels = 0, changed = 0;
    long blueDrop = 0;
    for (size_t i = 0; i < ground.size(); ++i) {
        if (Difference(plain[i], ground[i]) <= 6)
            continue;
        ++waterPixels;
        if (Difference(mirrored[i], plain[i]) > 12) {
            ++changed;
            blueDrop += static_cast<int>(plain[i].b) - static_cast<int>(mirrored[i].b);
        }
    }
    ASSERT_GT(waterPixels, kWidth * kHeight / 50);
    EXPECT_GT(changed, waterPixels / 10) << changed << " of " << waterPixels << " water pixels";
    EXPECT_GT(blueDrop, 0);
    // Away from the water the picture is the same.
    int elsewhere = 0;
    for (size_t i = 0; i < ground.size(); ++i)
        if (Difference(plain[i], ground[i]) <= 6 && Difference(mirrored[i], ground[i]) > 6)
            ++elsewhere;
    EXPECT_LT(elsewhere, kWidth * kHeight / 200);

    // That surface painted red after the reflections: the lake (reflectivity 0.9 mixes nearly half
    // of the mirror into its colour) turns red nearly everywhere; its shore waves and the river
    // (a plane of its own) keep their colours.
    paintMirror = true;
    const std::vector<Pixel> red = Draw(camera, true, true);
    ASSERT_FALSE(red.empty());
    int redder = 0;
    for (size_t i = 0; i < ground.size(); ++i) {
        if (Difference(plain[i], ground[i]) <= 6)
            continue;
        const int before = static_cast<int>(plain[i].r) - static_cast<int>(plain[i].b);
        const int after = static_cast<int>(red[i].r) - static_cast<int>(red[i].b);
        redder += after > before + 30 ? 1 : 0;
    }
    EXPECT_GT(redder, waterPixels / 2) << redder << " of " << waterPixels << " water pixels";
}

TEST_F(OpenGLWaterPixelTest, AtTheFogsEndTheLakeFadesIntoTheSkyAsTheGroundDoes)
{
    // The sample world's air, seen as the sample host sees it (the portal renderer, its camera's
    // field of view and far plane) from far enough that the lake's far part lies past the depth
    // fog's end, where the bowl's floor under it lies past the far plane: there the water is drawn
    // over the sky alone, and must fade into it as the ground beside it does.
    SectorDataManager sectors;
    sectors.NewSectorData(SectorDataManager::SECTOR_FOG);
    auto* record = static_cast<FogSectorData*>(sectors.GetSectorData(SectorDataManager::SECTOR_FOG, 0u));
    ASSERT_NE(record, nullptr);
    const DataKit::WorldGenerator::Atmosphere air;
    DataKit::WorldGenerator::WriteAtmosphere(air, *record);
    ASSERT_TRUE(DataKit::WorldGenerator::ApplyAtmosphere(sectors, *graphics));

    const Vec3 centre = lake->GetReflectionPlane().box.center;
    const Viewport viewport(0, 0, kWidth, kHeight);
    Camera camera;
    camera.SetFOV(60.0f * 0.017453292f);
    camera.SetNearPlane(0.5f);
    camera.SetFarPlane(90.0f);
    const Vec3 eye(centre.x - 80.0f, 14.0f, centre.z), target(centre.x, 1.0f, centre.z);
    camera.SetCoords(Coords::LookInDirection(eye, (target - eye).Unit(), Vec3(0.0f, 1.0f, 0.0f)));
    auto draw = [&](bool withWater) {
        graphics->EnableWater(withWater);
        const Frustum frustum = camera.GetFrustum(viewport);
        terrain->Update(&frustum, 1, 16);
        std::vector<Pixel> pixels;
        if (!canvas->BeginFrame())
            return pixels;
        GraphicsPortalRenderer(*canvas, region.get(), camera, viewport, false).Render();
        pixels.resize(static_cast<size_t>(kWidth) * kHeight);
        if (!device->ReadFrameBuffer(pixels.data(), kWidth, kHeight))
            pixels.clear();
        canvas->EndFrame();
        return pixels;
    };
    const std::vector<Pixel> ground = draw(false);
    const std::vector<Pixel> wet = draw(true);
    ASSERT_FALSE(ground.empty());
    ASSERT_FALSE(wet.empty());
    const Pixel sky{static_cast<uint8_t>(air.fogColor[0] * 255.0f + 0.5f),
                    static_cast<uint8_t>(air.fogColor[1] * 255.0f + 0.5f),
                    static_cast<uint8_t>(air.fogColor[2] * 255.0f + 0.5f), 255};
    // The lake's far part is in view, and the sky behind it.
    const Vec3 far(centre.x + 6.0f, lake->GetHeight(), centre.z);
    ASSERT_GT((far - eye).Length(), air.depthFogEnd);
    ASSERT_LT((far - eye).Length(), camera.GetFarPlane());
    ASSERT_TRUE(lake->IsPointInLayer(far));
    EXPECT_LE(Difference(At(ground, camera, far), sky), 6) << Describe(At(ground, camera, far));
    // Where the picture without water shows the sky, the water leaves it the sky.
    int sliver = 0;
    for (size_t i = 0; i < ground.size(); ++i)
        if (Difference(ground[i], sky) <= 6 && Difference(wet[i], sky) > 12 && sliver++ == 0)
            ADD_FAILURE() << "the water shows " << Describe(wet[i]) << " in the sky at " << i % kWidth << ", "
                          << i / kWidth;
    EXPECT_EQ(sliver, 0);
}

// The lake's near shore as the sample host sees it (from above its west bank, looking down at
// about 40 degrees, with reflections): the shore waves show as faint foam running in over the
// water, whatever their moment, never as a bright white line along the shore, and nothing of them
// lies over the dry bank.
TEST_F(OpenGLWaterPixelTest, TheShoreWavesShowAsFaintFoamOnTheWaterAndNowhereElse)
{
    const Vec3 centre = lake->GetReflectionPlane().box.center;
    Camera camera;
    camera.SetFOV(0.7f);
    camera.SetNearPlane(0.5f);
    camera.SetFarPlane(90.0f);
    const Vec3 eye(centre.x - 20.0f, 18.0f, centre.z), target(centre.x - 4.0f, 1.0f, centre.z);
    camera.SetCoords(Coords::LookInDirection(eye, (target - eye).Unit(), Vec3(0.0f, 1.0f, 0.0f)));
    WaterWaveSet* waves = water->GetWaveSet(0);
    ASSERT_NE(waves, nullptr);
    const uint32_t flags = waves->GetWaveParams().flags;
    ASSERT_NE(flags, 0u);

    const std::vector<Pixel> ground = Draw(camera, false, false);
    waves->GetWaveParams().flags = 0;
    const std::vector<Pixel> calm = Draw(camera, true, true);
    waves->GetWaveParams().flags = flags;
    ASSERT_FALSE(ground.empty());
    ASSERT_FALSE(calm.empty());
    const auto sum = [](const Pixel& p) { return static_cast<int>(p.r) + p.g + p.b; };
    int wet = 0;
    for (size_t i = 0; i < ground.size(); ++i)
        wet += Difference(calm[i], ground[i]) > 6 ? 1 : 0;
    ASSERT_GT(wet, kWidth * kHeight / 10);

    // The waves at moments over some twenty seconds: each band runs in and fades several times.
    int brightest = 0, onLand = 0, shown = 0;
    std::string where;
    for (int moment = 0; moment < 24; ++moment) {
        water->Update(900);
        const std::vector<Pixel> wavy = Draw(camera, true, true);
        ASSERT_FALSE(wavy.empty());
        for (size_t i = 0; i < wavy.size(); ++i) {
            const int lift = sum(wavy[i]) - sum(calm[i]);
            if (Difference(calm[i], ground[i]) <= 6) {
                if (Difference(wavy[i], calm[i]) > 9 && onLand++ == 0)
                    where = "on the bank at " + std::to_string(i % kWidth) + ", " +
                            std::to_string(i / kWidth) + ": " + Describe(calm[i]) + " -> " +
                            Describe(wavy[i]);
                continue;
            }
            shown += lift > 20 ? 1 : 0;
            brightest = std::max(brightest, lift);
        }
    }
    EXPECT_GT(shown, wet / 2) << "the waves hardly show";
    // A white crest over the water lifts a pixel by far more (over 500 of the 765 the three
    // channels can rise).
    EXPECT_LE(brightest, 200) << "the waves whiten the water";
    EXPECT_EQ(onLand, 0) << where;
}

// The sample shaders carry the world's fog in the styles that light them: none has a "fogStyle"
// for the renderer's fog step. Under a fog of one amount everywhere the ground, its blades and the
// lake are the clear picture mixed with the fog's colour by that amount: the water, drawn over the
// fogged ground, takes its own fog once (a fog step over everything would fog it again, through the
// ground's fog and then its own). With the fog off nothing of it shows, whatever its densities.
TEST_F(OpenGLWaterPixelTest, TheSampleShadersMixTheFogInOnceInTheirLitStyles)
{
    const Name fogStyle = Name::Create("fogStyle");
    for (const char* name :
         {DataKit::TerrainShaders::standardShaderName, DataKit::TerrainShaders::grassShaderName,
          DataKit::WaterShaders::waterShaderName, DataKit::WaterShaders::wavesShaderName,
          DataKit::WaterShaders::rippleShaderName, DataKit::MeshShaders::skinnedShaderName,
          DataKit::SampleGameData::basicShaderName, DataKit::ParticleShaders::additiveShaderName,
          DataKit::ParticleShaders::combineShaderName, DataKit::ParticleShaders::additiveSmoothShaderName}) {
        GraphicsShader2* shader = graphics->LoadShader2(name);
        ASSERT_NE(shader, nullptr) << name;
        shader->EnsureAvailable();
        EXPECT_TRUE(shader->GetIsReadyToUse()) << name;
        EXPECT_LT(shader->FindStyleByName(fogStyle), 0) << name;
        graphics->UnloadShader2(shader);
    }

    // Straight down on the lake and its shore, the grass drawn too.
    const Vec3 centre(lake->GetReflectionPlane().box.center.x, 0.0f, lake->GetReflectionPlane().box.center.z);
    Camera camera;
    camera.SetType(CAMERA_ORTHOGRAPHIC);
    camera.SetWidth(40.0f);
    camera.SetHeight(40.0f);
    camera.SetNearPlane(1.0f);
    camera.SetFarPlane(200.0f);
    camera.SetCoords(Coords::LookInDirection(centre + Vec3(0.0f, 40.0f, 0.0f), Vec3(0.0f, -1.0f, 0.0f),
                                             Vec3(0.0f, 0.0f, 1.0f)));
    grass = true;
    const std::vector<Pixel> ground = Draw(camera, false, false);
    const std::vector<Pixel> clear = Draw(camera, true, false);
    // Half the fog from a unit off the eye on (a depth fog that rises at once), no height fog.
    fog.on = true;
    fog.color = Color(1.0f, 0.0f, 0.0f, 1.0f);
    fog.depth[0] = fog.depth[1] = 1.0f;
    fog.depth[2] = 0.5f;
    const std::vector<Pixel> foggy = Draw(camera, true, false);
    fog.on = false;
    const std::vector<Pixel> off = Draw(camera, true, false);
    ASSERT_FALSE(ground.empty());
    ASSERT_FALSE(clear.empty());
    ASSERT_FALSE(foggy.empty());
    ASSERT_FALSE(off.empty());

    const auto half = [](int clearChannel, int fogChannel) { return (clearChannel + fogChannel + 1) / 2; };
    int water = 0, wrongWater = 0, wrongGround = 0, wrongOff = 0;
    std::string example;
    for (size_t i = 0; i < clear.size(); ++i) {
        const Pixel expected{static_cast<uint8_t>(half(clear[i].r, 255)),
                             static_cast<uint8_t>(half(clear[i].g, 0)),
                             static_cast<uint8_t>(half(clear[i].b, 0)), 255};
        const bool wet = Difference(clear[i], ground[i]) > 6;
        water += wet ? 1 : 0;
        if (Difference(foggy[i], expected) > 9) {
            ++(wet ? wrongWater : wrongGround);
            if (example.empty())
                example = std::string(wet ? "water " : "ground ") + Describe(clear[i]) + " fogged " +
                          Describe(foggy[i]) + ", expected " + Describe(expected);
        }
        wrongOff += Difference(off[i], clear[i]) > 3 ? 1 : 0;
    }
    ASSERT_GT(water, kWidth * kHeight / 10);
    EXPECT_LE(wrongWater, water / 100) << example;
    EXPECT_LE(wrongGround, kWidth * kHeight / 100) << example;
    EXPECT_EQ(wrongOff, 0);
}

} // namespace
} // namespace GAME
