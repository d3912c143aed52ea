// A run-time terrain drawn by the normal scene renderer through OpenGL.so (headless, llvmpipe
// without a GPU) with the sample terrain shaders, read back: the layers show where their opacity
// maps say, and grass stands on the ground.
#include "TerrainFixtures.h"

#include "common/OneRegionWorld.h"
#include "core/Frustum.h"
#include "data/BinaryReader.h"
#include "datakit/TerrainWriter.h"
#include "datakit/WorldGenerator.h"
#include "graphics/GraphicsCanvas.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/GraphicsShader2.h"
#include "graphics/OpenGLTestSupport.h"
#include "graphics/RenderDevice.h"
#include "scene/Camera.h"
#include "scene/GraphicsNormalRenderer.h"
#include "scene/GraphicsPortalRenderer.h"
#include "terrain/Terrain.h"
#include "terrain/TerrainRT.h"
#include "world/EngineFixture.h"
#include "world/Level.h"
#include "world/Region.h"
#include "world/SectorDataManager.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>

namespace GAME {
namespace {

using DataKit::TerrainWriter;

constexpr int kWidth = 128;
constexpr int kHeight = 128;

class OpenGLTerrainPixelTest : public GAME::Test::EngineTest
{
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        settings.deviceName = "OpenGL";
        settings.width = kWidth;
        settings.height = kHeight;
        data.SetDefault("resolution", "128 128");
        DataKit::WorldGenerator::AddRecords(data.Database()); // the sample types among them
        Start();
        graphics = gEngine->GetGraphicsEngine();
        ASSERT_NE(graphics, nullptr);
        device = graphics->GetRenderDevice();
        ASSERT_NE(device, nullptr) << "no headless OpenGL 4.5 context";
        canvas = graphics->GetCanvas();
        ASSERT_NE(canvas, nullptr);
        ASSERT_EQ(canvas->GetWidth(), kWidth);
        ASSERT_EQ(canvas->GetHeight(), kHeight);
    }

    // Draws the terrain through the camera (grass switched on or off) with white ambient light
    // over a blue background, and reads the picture back (empty on failure).
    // Either form of the terrain.
    template <class T>
    std::vector<Pixel> Draw(T& terrain, Region& region, const Camera& camera, const Viewport& viewport,
                            bool grass = true, const Color& groundAmbient = Color(1.0f, 1.0f, 1.0f, 1.0f))
    {
        // The sample shaders load on first use as the loader would load them.
        for (const GraphicsShader2* shader :
             {terrain.GetLayerShader(),
              terrain.GetRenderInterface().GetShader2(TerrainRenderInterfaceBase::PASS_GRASS, Name())})
            if (shader)
                const_cast<GraphicsShader2*>(shader)->EnsureAvailable();
        std::vector<Pixel> pixels;
        if (!canvas->BeginFrame())
            return pixels;
        {
            GraphicsNormalRenderer renderer;
            const Frustum frustum = camera.GetFrustum(viewport);
            renderer.SetViewer(&region, camera, viewport, frustum);
            renderer.SetRegionToSceneCoords(&region, Coords());
            renderer.SetBackgroundColor(Color(0.0f, 0.0f, 1.0f, 1.0f));
            renderer.SetSkyAmbientColor(Color(1.0f, 1.0f, 1.0f, 1.0f));
            renderer.SetGroundAmbientColor(groundAmbient);
            renderer.EnableGrass(grass);
            terrain.Update(&frustum, 1, 16);
            terrain.AddToScene(renderer, frustum);
            renderer.Render(*canvas, false, false);
        }
        pixels.resize(static_cast<size_t>(kWidth) * kHeight);
        if (!device->ReadFrameBuffer(pixels.data(), kWidth, kHeight))
            pixels.clear();
        canvas->EndFrame();
        // For a look at the picture: TERRAIN_PIXEL_TEST_PPM names a file to write it to.
        if (const char* path = std::getenv("TERRAIN_PIXEL_TEST_PPM"); path && !pixels.empty()) {
            std::ofstream out(path, std::ios::binary);
            out << "P6\n" << kWidth << " " << kHeight << "\n255\n";
            for (const Pixel& p : pixels)
                out.put(static_cast<char>(p.r)).put(static_cast<char>(p.g)).put(static_cast<char>(p.b));
        }
        return pixels;
    }

    static Camera TopDown(const Vec3& centre, float height, float halfSize)
    {
        Camera camera;
        camera.SetType(CAMERA_ORTHOGRAPHIC);
        camera.SetWidth(2.0f * halfSize);
        camera.SetHeight(2.0f * halfSize);
        camera.SetNearPlane(1.0f);
        camera.SetFarPlane(200.0f);
        camera.SetCoords(Coords::LookInDirection(centre + Vec3(0.0f, height, 0.0f), Vec3(0.0f, -1.0f, 0.0f),
                                                 Vec3(0.0f, 0.0f, 1.0f)));
        return camera;
    }

    GraphicsEngine* graphics = nullptr;
    RenderDevice* device = nullptr;
    GraphicsCanvas* canvas = nullptr;
};

// The pixel where a region point lands (rows read back from the top).
const Pixel& At(const std::vector<Pixel>& pixels, const Camera& camera, const Viewport& viewport,
                const Vec3& point)
{
    const Vec2 screen = camera.Project(point, viewport);
    const int x = std::clamp(static_cast<int>(screen.x), 0, kWidth - 1);
    const int y = std::clamp(static_cast<int>(screen.y), 0, kHeight - 1);
    return pixels[static_cast<size_t>(y) * kWidth + static_cast<size_t>(x)];
}

using GAME::Test::Describe;

// The sample textures shade red, green and blue alike, so red minus blue tells dirt (60) from
// stone (0).
int RedOverBlue(const Pixel& p)
{
    return static_cast<int>(p.r) - static_cast<int>(p.b);
}

// 16 x 16 flat cells of dirt with stone over them, the stone's opacity and cell state by column.
TerrainWriter StoneOverDirt(uint8_t (*opacity)(unsigned column),
                            TerrainWriter::CellState (*state)(unsigned column))
{
    TerrainWriter writer(17, 17);
    TerrainWriter::Layer dirt, stone;
    dirt.typeRecord = TerrainWriter::dirtTypeRecord;
    stone.typeRecord = TerrainWriter::stoneTypeRecord;
    stone.opacity.resize(256);
    stone.states.resize(256);
    for (unsigned c = 0; c < 256; ++c) {
        stone.opacity[c] = opacity(c % 16);
        stone.states[c] = state(c % 16);
    }
    writer.layers = {dirt, stone};
    return writer;
}

TEST_F(OpenGLTerrainPixelTest, TwoLayersShowWhereTheirOpacitySays)
{
    // 16 x 16 flat cells: dirt everywhere, stone over it, opaque on the cells x < 6, half
    // transparent on 6 <= x < 10, absent from x >= 10.
    const TerrainWriter writer =
        StoneOverDirt([](unsigned x) -> uint8_t { return x < 6    ? 255
                                                         : x < 10 ? 128
                                                                  : 0; },
                      [](unsigned x) {
                          return x < 6    ? TerrainWriter::CELL_COVERING
                                 : x < 10 ? TerrainWriter::CELL_SHOWN
                                          : TerrainWriter::CELL_NONE;
                      });
    Region region(ABBox(Vec3(8.0f, 0.0f, 8.0f), Vec3(8.0f, 30.0f, 8.0f)));
    TerrainRT terrain(&region);
    ASSERT_TRUE(TerrainTest::LoadWriter(terrain, writer));
    terrain.LoadRenderData();

    const Viewport viewport(0, 0, kWidth, kHeight);
    const Camera camera = TopDown(Vec3(8.0f, 0.0f, 8.0f), 40.0f, 7.0f);
    const std::vector<Pixel> pixels = Draw(terrain, region, camera, viewport);
    ASSERT_FALSE(pixels.empty());

    // Half of each layer: 30.
    for (float z : {3.5f, 8.5f, 12.5f}) {
        SCOPED_TRACE(z);
        const Pixel& stoneOnly = At(pixels, camera, viewport, Vec3(3.0f, 0.0f, z));
        const Pixel& half = At(pixels, camera, viewport, Vec3(8.0f, 0.0f, z));
        const Pixel& dirtOnly = At(pixels, camera, viewport, Vec3(13.0f, 0.0f, z));
        EXPECT_NEAR(RedOverBlue(stoneOnly), 0, 6) << Describe(stoneOnly);
        EXPECT_NEAR(RedOverBlue(half), 30, 8) << Describe(half);
        EXPECT_NEAR(RedOverBlue(dirtOnly), 60, 6) << Describe(dirtOnly);
        // Lit by white ambient light: the textures' own brightness, and nothing of the blue
        // background.
        EXPECT_NEAR(stoneOnly.g, 128, 20) << Describe(stoneOnly);
        EXPECT_NEAR(dirtOnly.g, 90, 20) << Describe(dirtOnly);
        EXPECT_EQ(dirtOnly.a, 255);
    }
    terrain.Unload();
}

TEST_F(OpenGLTerrainPixelTest, AtItsEdgesALayerShowsItsOwnEdgeCellsNotTheOppositeEdges)
{
    // Stone covers the cells x < 8 (no layer under it is drawn there) and is absent from the
    // others. Neighbouring regions' ground meets at these edges: the last half cell of each edge
    // must show that edge's cells (all stone at x = 0, dirt at x = 16); the stone once took part of
    // its opacity from the opposite edge, and a dark line ran along every region border.
    const TerrainWriter writer = StoneOverDirt(
        [](unsigned x) -> uint8_t { return x < 8 ? 255 : 0; },
        [](unsigned x) { return x < 8 ? TerrainWriter::CELL_COVERING : TerrainWriter::CELL_NONE; });
    Region region(ABBox(Vec3(8.0f, 0.0f, 8.0f), Vec3(8.0f, 30.0f, 8.0f)));
    TerrainRT terrain(&region);
    ASSERT_TRUE(TerrainTest::LoadWriter(terrain, writer));
    terrain.LoadRenderData();

    const Viewport viewport(0, 0, kWidth, kHeight);
    const Camera camera = TopDown(Vec3(8.0f, 0.0f, 8.0f), 40.0f, 8.5f);
    const std::vector<Pixel> pixels = Draw(terrain, region, camera, viewport, false);
    ASSERT_FALSE(pixels.empty());
    for (float z : {0.1f, 8.5f, 15.9f}) {
        SCOPED_TRACE(z);
        const Pixel& low = At(pixels, camera, viewport, Vec3(0.1f, 0.0f, z));
        const Pixel& high = At(pixels, camera, viewport, Vec3(15.9f, 0.0f, z));
        const Pixel& inside = At(pixels, camera, viewport, Vec3(4.0f, 0.0f, z));
        EXPECT_NEAR(RedOverBlue(low), 0, 6) << "stone at x = 0: " << Describe(low);
        EXPECT_NEAR(low.g, inside.g, 12)
            << "stone at x = 0 " << Describe(low) << ", inside " << Describe(inside);
        EXPECT_NEAR(RedOverBlue(high), 60, 6) << "dirt at x = 16: " << Describe(high);
    }
    terrain.Unload();
}

TEST_F(OpenGLTerrainPixelTest, AtItsEdgesASlopeIsLitAsInside)
{
    // Ground rising two units a unit along x, lit by a sky above and a black ground below (the
    // light follows the normal): the edge samples' normals follow the slope as the inner ones do,
    // so that the ground is as bright at the edges as inside (flattened edge normals once drew a
    // light line along every region border).
    TerrainWriter writer(17, 17);
    for (unsigned y = 0; y < 17; ++y)
        for (unsigned x = 0; x < 17; ++x)
            writer.Height(x, y) = 2.0f * static_cast<float>(x);
    TerrainWriter::Layer dirt;
    dirt.typeRecord = TerrainWriter::dirtTypeRecord;
    writer.layers = {dirt};
    Region region(ABBox(Vec3(8.0f, 8.0f, 8.0f), Vec3(8.0f, 30.0f, 8.0f)));
    TerrainRT terrain(&region);
    ASSERT_TRUE(TerrainTest::LoadWriter(terrain, writer));
    terrain.LoadRenderData();

    const Viewport viewport(0, 0, kWidth, kHeight);
    const Camera camera = TopDown(Vec3(8.0f, 0.0f, 8.0f), 60.0f, 8.5f);
    const std::vector<Pixel> pixels = Draw(terrain, region, camera, viewport, false, Color(0, 0, 0, 1));
    ASSERT_FALSE(pixels.empty());
    // Along each edge and along a line inside, the mean brightness (over the texture's grain).
    auto mean = [&](float x) {
        int sum = 0, count = 0;
        for (float z = 0.5f; z < 16.0f; z += 0.5f, ++count)
            sum += At(pixels, camera, viewport, Vec3(x, 2.0f * x, z)).g;
        return static_cast<float>(sum) / static_cast<float>(count);
    };
    const float inside = 0.5f * (mean(3.0f) + mean(13.0f));
    EXPECT_GT(inside, 30.0f);
    EXPECT_NEAR(mean(0.2f), inside, 6.0f);
    EXPECT_NEAR(mean(15.8f), inside, 6.0f);
}

TEST_F(OpenGLTerrainPixelTest, GrassStandsOnTheGroundWhereItsLayerShows)
{
    // Dirt, with grass on the cells z < 8: blades show green over the grass half, the dirt half
    // stays brown.
    TerrainWriter writer(17, 17);
    TerrainWriter::Layer dirt, grass;
    dirt.typeRecord = TerrainWriter::dirtTypeRecord;
    grass.typeRecord = TerrainWriter::grassTypeRecord;
    grass.opacity.resize(256);
    grass.states.resize(256);
    for (unsigned c = 0; c < 256; ++c) {
        const bool shows = c / 16 < 8;
        grass.opacity[c] = shows ? 255 : 0;
        grass.states[c] = shows ? TerrainWriter::CELL_COVERING : TerrainWriter::CELL_NONE;
    }
    writer.layers = {dirt, grass};
    Region region(ABBox(Vec3(8.0f, 0.0f, 8.0f), Vec3(8.0f, 30.0f, 8.0f)));
    TerrainRT terrain(&region);
    ASSERT_TRUE(TerrainTest::LoadWriter(terrain, writer));
    terrain.LoadRenderData();

    // Seen from above and to the side, so that blades stand up in the picture, and near enough
    // that this small picture shows them before they fade with distance.
    const Viewport viewport(0, 0, kWidth, kHeight);
    Camera camera;
    camera.SetFOV(0.8f);
    camera.SetNearPlane(0.5f);
    camera.SetFarPlane(200.0f);
    camera.SetCoords(Coords::LookInDirection(Vec3(8.0f, 6.0f, -3.0f),
                                             (Vec3(8.0f, 0.0f, 8.0f) - Vec3(8.0f, 6.0f, -3.0f)).Unit(),
                                             Vec3(0.0f, 1.0f, 0.0f)));
    const std::vector<Pixel> pixels = Draw(terrain, region, camera, viewport);
    ASSERT_FALSE(pixels.empty());

    // The ground: green over the grass half (nearer the camera, lower in the picture), brown over
    // the dirt half.
    auto greenish = [](const Pixel& p) { return p.g > p.r + 20 && p.g > p.b + 20; };
    auto brownish = [](const Pixel& p) { return p.r > p.b + 40; };
    const Vec3 grassGround(8.0f, 0.0f, 3.0f), dirtGround(8.0f, 0.0f, 13.0f);
    EXPECT_TRUE(greenish(At(pixels, camera, viewport, grassGround)))
        << Describe(At(pixels, camera, viewport, grassGround));
    EXPECT_TRUE(brownish(At(pixels, camera, viewport, dirtGround)))
        << Describe(At(pixels, camera, viewport, dirtGround));

    // The blades: drawn with the grass switched on, only over the grass half and a blade's height
    // beyond it; the ground alone without.
    const std::vector<Pixel> bare = Draw(terrain, region, camera, viewport, false);
    ASSERT_EQ(bare.size(), pixels.size());
    const float grassEnd = camera.Project(Vec3(8.0f, 0.0f, 8.0f), viewport).y;
    const float bladeReach = camera.Project(Vec3(8.0f, 2.0f, 8.0f), viewport).y;
    int changed = 0, changedBeyond = 0;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const Pixel& a = pixels[static_cast<size_t>(y) * kWidth + static_cast<size_t>(x)];
            const Pixel& b = bare[static_cast<size_t>(y) * kWidth + static_cast<size_t>(x)];
            if (a.r == b.r && a.g == b.g && a.b == b.b)
                continue;
            ++changed;
            changedBeyond += static_cast<float>(y) < std::min(grassEnd, bladeReach) - 1.0f ? 1 : 0;
        }
    EXPECT_GT(changed, kWidth * kHeight / 50);
    EXPECT_EQ(changedBeyond, 0);
    terrain.Unload();
}

TEST_F(OpenGLTerrainPixelTest, TheSampleBladesFadeWithDistanceAndAreNotDrawnWhereTheyHaveFaded)
{
    // A field of grass seen from one edge at the sample host's field of view: near the
    // camera the blades stand over the ground; far off they have faded (the blade texture's
    // minified levels fall below the alpha test's reference) and change nothing; seen from past
    // the distance where they fade, no blade is even drawn.
    TerrainWriter writer(65, 65);
    TerrainWriter::Layer dirt, grass;
    dirt.typeRecord = TerrainWriter::dirtTypeRecord;
    grass.typeRecord = TerrainWriter::grassTypeRecord;
    grass.opacity.assign(64 * 64, 255);
    grass.states.assign(64 * 64, TerrainWriter::CELL_COVERING);
    writer.layers = {dirt, grass};
    Region region(ABBox(Vec3(32.0f, 0.0f, 32.0f), Vec3(32.0f, 30.0f, 32.0f)));
    TerrainRT terrain(&region);
    ASSERT_TRUE(TerrainTest::LoadWriter(terrain, writer));
    terrain.LoadRenderData();

    const Viewport viewport(0, 0, kWidth, kHeight);
    auto along = [](float z) {
        Camera camera;
        camera.SetFOV(60.0f * 0.017453292f);
        camera.SetNearPlane(0.5f);
        camera.SetFarPlane(200.0f);
        const Vec3 eye(32.0f, 3.0f, z);
        camera.SetCoords(
            Coords::LookInDirection(eye, (Vec3(32.0f, 0.0f, z + 12.0f) - eye).Unit(), Vec3(0.0f, 1.0f, 0.0f)));
        return camera;
    };
    const Camera camera = along(0.0f);
    const std::vector<Pixel> bare = Draw(terrain, region, camera, viewport, false);
    const int bareDraws = device->GetNumDrawCalls();
    const std::vector<Pixel> pixels = Draw(terrain, region, camera, viewport);
    const int grassDraws = device->GetNumDrawCalls() - bareDraws;
    ASSERT_FALSE(bare.empty());
    ASSERT_EQ(pixels.size(), bare.size());
    EXPECT_GT(grassDraws, 0);
    // Rows by the depth of the ground they show: blades 6 units off stand out; none past 40 (the
    // tops of the blades nearer than that lie lower in the picture, the camera being above them).
    const float nearRow = camera.Project(Vec3(32.0f, 0.0f, 6.0f), viewport).y;
    const float farRow = camera.Project(Vec3(32.0f, 2.0f, 40.0f), viewport).y;
    ASSERT_LT(farRow, nearRow - 20.0f);
    int nearChanged = 0, farChanged = 0;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const size_t i = static_cast<size_t>(y) * kWidth + static_cast<size_t>(x);
            if (pixels[i].r == bare[i].r && pixels[i].g == bare[i].g && pixels[i].b == bare[i].b)
                continue;
            nearChanged += std::abs(static_cast<float>(y) - nearRow) < 4.0f ? 1 : 0;
            farChanged += static_cast<float>(y) < farRow ? 1 : 0;
        }
    EXPECT_GT(nearChanged, kWidth / 4);
    EXPECT_EQ(farChanged, 0);

    // From 40 units before the field: the ground is drawn, the blades not.
    const Camera distant = along(-40.0f);
    const std::vector<Pixel> farBare = Draw(terrain, region, distant, viewport, false);
    const int farBareDraws = device->GetNumDrawCalls();
    ASSERT_FALSE(Draw(terrain, region, distant, viewport).empty());
    ASSERT_FALSE(farBare.empty());
    EXPECT_GT(farBareDraws, 0);
    EXPECT_EQ(device->GetNumDrawCalls(), farBareDraws);
    terrain.Unload();
}

TEST_F(OpenGLTerrainPixelTest, AGeneratedRegionShowsItsRollingLayeredGroundAndGrass)
{
    // One region of the sample world's generator, its level loaded from the image it wrote: saved
    // for the game (run-time terrain) and kept in the editor form (editable terrain).
    for (const int editorFormRegion : {-1, 0}) {
        SCOPED_TRACE(editorFormRegion);
        DataKit::WorldGenerator::Settings settings;
        settings.regionsX = 1;
        settings.regionsZ = 1;
        settings.regionSize = 64;
        settings.caves = 0;
        settings.entitiesPerRegion = 0;
        settings.editorFormRegion = editorFormRegion;
        settings.borderHeight = 0.0f; // seen from past its edge: no ridge in the way
        DataKit::WorldGenerator generator(settings);
        ASSERT_TRUE(generator.Generate());
        const DataKit::WorldGenerator::RegionInfo& info = generator.GetRegions().front();
        Region region(info.box);
        Level level(&region);
        ASSERT_TRUE(level.Load(info.level.data(), static_cast<int>(info.level.size()), false));
        ASSERT_NE(level.GetTerrain(), nullptr);

        const Viewport viewport(0, 0, kWidth, kHeight);
        Camera camera;
        camera.SetFOV(0.9f);
        camera.SetNearPlane(0.5f);
        camera.SetFarPlane(300.0f);
        const Vec3 eye(32.0f, 30.0f, -12.0f), target(32.0f, 0.0f, 30.0f);
        camera.SetCoords(Coords::LookInDirection(eye, (target - eye).Unit(), Vec3(0.0f, 1.0f, 0.0f)));
        std::vector<Pixel> pixels;
        if (Terrain* editable = level.GetEditableTerrain()) {
            ASSERT_EQ(editorFormRegion, 0);
            pixels = Draw(*editable, region, camera, viewport);
        } else {
            ASSERT_EQ(level.GetTerrain()->GetType(), TerrainBase::TERRAIN_BASE_RUN_TIME);
            auto* terrain = static_cast<TerrainRT*>(level.GetTerrain());
            terrain->LoadRenderData();
            pixels = Draw(*terrain, region, camera, viewport);
        }
        ASSERT_FALSE(pixels.empty());

        // Dirt, grass and stone all show, and the ground fills the lower picture.
        int green = 0, brown = 0, grey = 0;
        for (const Pixel& p : pixels) {
            const int r = p.r, g = p.g, b = p.b;
            green += g > r + 20 && g > b + 20 ? 1 : 0;
            brown += r > b + 40 && r >= g ? 1 : 0;
            grey += std::abs(r - b) < 10 && std::abs(r - g) < 10 && r > 60 ? 1 : 0;
        }
        EXPECT_GT(green, kWidth * kHeight / 20);
        EXPECT_GT(brown, kWidth * kHeight / 50);
        EXPECT_GT(grey, kWidth * kHeight / 200);
        for (int x = 0; x < kWidth; x += 16) {
            const Pixel& p = pixels[static_cast<size_t>(kHeight - 1) * kWidth + static_cast<size_t>(x)];
            EXPECT_FALSE(p.b > 200 && p.r < 50) << x << " " << Describe(p);
        }
        level.Unload(false);
    }
}

TEST_F(OpenGLTerrainPixelTest, UnderTheSampleWorldsAirTheSkyHasAColourAndTheFarGroundFadesIntoIt)
{
    // A region of the generator's world drawn as the sample host draws it (the portal renderer)
    // with the air the generator keeps in the world's fog record: the sky above the ground is the
    // fog's colour, the ground near the camera keeps its own colours and the far ground, at the
    // depth fog's end, has faded into the sky. An underground region draws no sky.
    const DataKit::WorldGenerator::Settings settings = GAME::Test::OneRegionWorld();
    DataKit::WorldGenerator generator(settings);
    ASSERT_TRUE(generator.Generate());
    SectorDataManager sectors;
    BinaryReader sectorBytes(generator.GetSectorData().data(),
                             static_cast<unsigned>(generator.GetSectorData().size()));
    ASSERT_TRUE(sectors.Load(sectorBytes));
    ASSERT_TRUE(DataKit::WorldGenerator::ApplyAtmosphere(sectors, *graphics));
    const DataKit::WorldGenerator::Atmosphere& air = settings.atmosphere;
    ASSERT_TRUE(graphics->IsFogEnabled());

    const DataKit::WorldGenerator::RegionInfo& info = generator.GetRegions().front();
    Region region(info.box);
    Level* level = new Level(&region);
    ASSERT_TRUE(level->Load(info.level.data(), static_cast<int>(info.level.size()), false));
    level->PostLoad(false);
    region.SetLevel(level);
    auto* terrain = static_cast<TerrainRT*>(level->GetTerrain());
    ASSERT_TRUE(terrain && terrain->GetType() == TerrainBase::TERRAIN_BASE_RUN_TIME);
    terrain->LoadRenderData();
    if (GraphicsShader2* shader = const_cast<GraphicsShader2*>(terrain->GetLayerShader()))
        shader->EnsureAvailable();

    // Above and before the region's near edge, looking across it toward its far edge and the sky.
    const Viewport viewport(0, 0, kWidth, kHeight);
    Camera camera;
    camera.SetFOV(0.9f);
    camera.SetNearPlane(0.5f);
    camera.SetFarPlane(200.0f);
    const Vec3 eye(48.0f, 15.0f, -25.0f), target(48.0f, 0.0f, 30.0f);
    camera.SetCoords(Coords::LookInDirection(eye, (target - eye).Unit(), Vec3(0.0f, 1.0f, 0.0f)));
    auto draw = [&](Region& drawn) {
        const Frustum frustum = camera.GetFrustum(viewport);
        terrain->Update(&frustum, 1, 16);
        std::vector<Pixel> pixels;
        if (!canvas->BeginFrame())
            return pixels;
        GraphicsPortalRenderer(*canvas, &drawn, camera, viewport, false).Render();
        pixels.resize(static_cast<size_t>(kWidth) * kHeight);
        if (!device->ReadFrameBuffer(pixels.data(), kWidth, kHeight))
            pixels.clear();
        canvas->EndFrame();
        return pixels;
    };
    const std::vector<Pixel> pixels = draw(region);
    ASSERT_FALSE(pixels.empty());
    const int skyR = static_cast<int>(air.fogColor[0] * 255.0f + 0.5f);
    const int skyG = static_cast<int>(air.fogColor[1] * 255.0f + 0.5f);
    const int skyB = static_cast<int>(air.fogColor[2] * 255.0f + 0.5f);
    auto distanceToSky = [&](const Pixel& p) {
        return std::abs(p.r - skyR) + std::abs(p.g - skyG) + std::abs(p.b - skyB);
    };
    const Pixel& sky = pixels[static_cast<size_t>(2) * kWidth + kWidth / 2];
    EXPECT_LE(distanceToSky(sky), 6) << "the sky " << Describe(sky);
    const Vec3 nearGround(48.0f, terrain->GetHeightInterpolated(48.0f, 6.0f), 6.0f);
    ASSERT_LT((nearGround - eye).Length(), air.depthFogStart);
    EXPECT_GT(distanceToSky(At(pixels, camera, viewport, nearGround)), 80)
        << "the near ground " << Describe(At(pixels, camera, viewport, nearGround));
    const Vec3 farGround(48.0f, terrain->GetHeightInterpolated(48.0f, 63.0f), 63.0f);
    ASSERT_GT((farGround - eye).Length(), air.depthFogEnd - 1.0f);
    EXPECT_LE(distanceToSky(At(pixels, camera, viewport, farGround)), 12)
        << "the far ground " << Describe(At(pixels, camera, viewport, farGround));

    // Underground: no sky and no fog.
    Region cave(ABBox(Vec3(8.0f, 4.0f, 8.0f), Vec3(8.0f, 4.0f, 8.0f)));
    Level* grid = new Level(&cave);
    grid->NewGrid(4, 1, 4);
    cave.SetLevel(grid);
    ASSERT_TRUE(cave.IsUnderground());
    const std::vector<Pixel> below = draw(cave);
    ASSERT_FALSE(below.empty());
    EXPECT_TRUE(below[static_cast<size_t>(2) * kWidth + kWidth / 2].r == 0 &&
                below[static_cast<size_t>(2) * kWidth + kWidth / 2].b == 0)
        << Describe(below[static_cast<size_t>(2) * kWidth + kWidth / 2]);
}

} // namespace
} // namespace GAME
