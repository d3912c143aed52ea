// Map data: the icons and minimaps that Region::RebuildMapData draws from above (sizes, what is
// drawn, which neighbours it borrows), minimaps and icons decoded from TGA, and the engine's map
// chunk callbacks during a map load. Drawn through the software device, and once through OpenGL.

#include "EngineFixture.h"
#include "common/WaitUntil.h"

#include "core/ObjectManager.h"
#include "core/WorldCoords.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"
#include "datakit/MapWriter.h"
#include "graphics/GraphicsCanvas.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/GraphicsShader2.h"
#include "graphics/Image.h"
#include "graphics/RenderDevice.h"
#include "scene/GraphicsNormalRenderer.h"
#include "scene/GraphicsRenderable.h"
#include "scene/GraphicsSceneRenderer.h"
#include "scene/RenderablePass.h"
#include "world/DetailMapFilterFunction.h"
#include "world/Entity.h"
#include "world/Level.h"
#include "world/MapChunkCallback.h"
#include "world/MapImage.h"
#include "world/Region.h"
#include "world/World.h"

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

namespace GAME {
namespace {

using Test::EngineTest;

// An entity seen from above as a flat green square of half size `half` around its origin, when it
// has a shader to draw with. It notes how it was drawn and updated.
class MapProbe : public Entity
{
    GAME_DECLARE_CLASS(MapProbe)

public:
    bool IncludeInMinimap() const override { return onMinimap; }
    void UpdateBoundingBox() override
    {
        SetRegionBoundingBox(ABBox(GetCoords().GetOrigin().GetRegionPosition(), Vec3(half, 1.0f, half)));
    }
    void AddToScene(GraphicsSceneRenderer& renderer, const Frustum* frustum) override
    {
        Entity::AddToScene(renderer, frustum);
        ++drawn;
        drawnWhileMapRendering = gEngine && gEngine->IsMapRendering();
        if (m_square.shader)
            renderer.AddRenderable(&m_square, GetRegion());
    }
    void SetShader(const GraphicsShader2* shader)
    {
        m_square.shader = shader;
        m_square.probe = this;
    }

    bool onMinimap = true;
    float half = 4.0f;
    int drawn = 0;
    bool drawnWhileMapRendering = false;
    std::vector<int> updates;

protected:
    void UpdateSelf(int elapsed) override { updates.push_back(elapsed); }

private:
    // One emissive pass that covers the square's top on the screen in one colour.
    struct Square : GraphicsRenderable
    {
        int GetNumRenderPasses(const Name& style, RenderGenerationId) const override
        {
            return style == GraphicsNormalRenderer::EmissiveStyle() ? 1 : 0;
        }
        ABBox GetRenderPassBoundingBox() const override { return probe->GetRegionBoundingBox(); }
        int GetRenderPassSortOrder(int, const Name&, RenderGenerationId) const override { return 0; }
        const GraphicsShader2* GetShader2(int, const Name&) const override { return shader; }
        const Name& GetShaderStyle(int, const Name&, RenderGenerationId) const override
        {
            static const Name style = Name::Create("ambientLightStyle");
            return style;
        }
        const GraphicsTexture* GetTexture(int, const Name&) const override { return nullptr; }
        bool GetCastsShadows() const override { return false; }
        void RenderPass(const RenderablePass& pass, const Name&, GraphicsCanvas& canvas,
                        const GraphicsSceneRenderer& renderer) override
        {
            const ABBox box = probe->GetRegionBoundingBox();
            const Vec3 top = box.center + Vec3(0.0f, box.extents.y, 0.0f);
            const float h = box.extents.x;
            Vec3 corners[4];
            const Vec3 offsets[4] = {Vec3(-h, 0, -h), Vec3(h, 0, -h), Vec3(h, 0, h), Vec3(-h, 0, h)};
            for (int i = 0; i < 4; ++i) {
                const Vec2 p = renderer.GetCamera().Project(
                    pass.regionToScene.TransformPoint(top + offsets[i]), renderer.GetViewport());
                corners[i] = Vec3(p.x, p.y, 0.0f);
            }
            canvas.GetRenderDevice()->DrawQuad(corners, 4, 0xFF00FF00u);
        }
        void LogInfo() const override {}

        const GraphicsShader2* shader = nullptr;
        const MapProbe* probe = nullptr;
    };

    Square m_square;
};

GAME_REGISTER_CLASS(MapProbe, Entity)

constexpr const char* probeRecord = "records/mapprobe.dbr";

// A host's own render filter, which map rendering must hand back.
class KeepAll : public FilterFunction<Entity>
{
public:
    bool operator()(const Entity*) const override { return true; }
};

class MapDataTest : public EngineTest
{
protected:
    GAME::Test::TestEngine& StartEngine()
    {
        data.Database().AddRecord(probeRecord).String("Class", "MapProbe");
        return Start();
    }

    MapProbe* Probe(Region& region, const Vec3& at, bool onMinimap)
    {
        auto* probe = ObjectManager::Get()->CreateObjectFromFileAs<MapProbe>(probeRecord);
        if (!probe)
            return nullptr;
        probe->onMinimap = onMinimap;
        if (!region.AddEntity(probe, WorldCoords(&region, Coords::Translation(at)), true))
            return nullptr;
        return probe;
    }

    // The picture in a file of the folder, decoded; empty when it is missing or no image.
    Image ReadImage(const std::string& name)
    {
        const std::string bytes = dir.Read(name);
        Image image;
        if (!bytes.empty())
            image.Load(bytes.data(), static_cast<uint32_t>(bytes.size()), Image::FORMAT_RGBA);
        return image;
    }

    // A level file of an empty space of 32 units around the region's origin.
    void WriteLevel(const std::string& name)
    {
        Level level(nullptr);
        level.NewSpace(Vec2(32.0f, 32.0f));
        BinaryWriter writer(1024);
        ASSERT_TRUE(level.SaveToMemory(writer, false));
        ASSERT_TRUE(dir.Write(
            name, std::string(reinterpret_cast<const char*>(writer.GetBuffer()), writer.GetSize())));
    }

    static std::vector<uint8_t> TgaBytes(uint32_t width, uint32_t height)
    {
        Image image;
        std::vector<uint8_t> pixels(size_t(width) * height * 3, 0x80);
        BinaryWriter writer(256);
        if (!image.Create(width, height, Image::FORMAT_RGB, pixels.data()) || !image.WriteTGA(writer))
            return {};
        return std::vector<uint8_t>(writer.GetBuffer(), writer.GetBuffer() + writer.GetSize());
    }
};

TEST_F(MapDataTest, IconsAndMinimapsTakeTheirSizesFromTheBox)
{
    StartEngine();
    {
        // 100 x 50 half-extents: a world of 200 x 100 units.
        Region region(ABBox(Vec3(0.0f, 0.0f, 0.0f), Vec3(100.0f, 30.0f, 50.0f)));
        region.SetName("Levels/Wide.lvl");
        ASSERT_TRUE(region.RebuildMapData());
        EXPECT_EQ(region.GetIconWidth(), 100u);
        EXPECT_EQ(region.GetIconHeight(), 50u);
        EXPECT_NE(region.GetIcon(), nullptr); // the TGA icon decodes into a texture
        Image icon;
        ASSERT_EQ(icon.Load(region.GetIconData().data(), static_cast<uint32_t>(region.GetIconData().size()),
                            Image::FORMAT_RGBA),
                  Image::ERROR_NONE);
        EXPECT_EQ(icon.GetWidth(), 100u);
        Image minimap = ReadImage("levels/wide.tga");
        ASSERT_EQ(minimap.GetWidth(), 400u);
        EXPECT_EQ(minimap.GetHeight(), 200u);
        // Nothing in the region: the clear colour everywhere.
        const uint8_t* pixel = minimap.GetBuffer() + (100 * 400 + 200) * 4;
        EXPECT_EQ(pixel[0], 255);
        EXPECT_EQ(pixel[1], 0);
        EXPECT_EQ(pixel[2], 0);

        // Underground levels get twice the detail.
        region.GetLevelPtr()->NewGrid(4, 1, 4);
        ASSERT_TRUE(region.IsUnderground());
        ASSERT_TRUE(region.RebuildMapData());
        minimap = ReadImage("levels/wide.tga");
        EXPECT_EQ(minimap.GetWidth(), 800u);
        EXPECT_EQ(minimap.GetHeight(), 400u);
        EXPECT_EQ(region.GetIconWidth(), 100u);
    }
    {
        // 10.3 half-extents: 20.6 units, truncated to 20.
        Region region(ABBox(Vec3(5.0f, 0.0f, -5.0f), Vec3(10.3f, 10.0f, 10.3f)));
        region.SetName("levels/small.lvl");
        ASSERT_TRUE(region.RebuildMapData());
        EXPECT_EQ(region.GetIconWidth(), 10u);
        EXPECT_EQ(region.GetIconHeight(), 10u);
        EXPECT_EQ(ReadImage("levels/small.tga").GetWidth(), 40u);
    }
    {
        // A box under one unit makes no picture; the old icon stays and the answer is false.
        Region region(ABBox(Vec3(), Vec3(0.4f, 1.0f, 0.4f)));
        region.SetName("levels/tiny.lvl");
        region.SetIcon(7, 2, 2, TgaBytes(2, 2));
        EXPECT_FALSE(region.RebuildMapData());
        EXPECT_EQ(region.GetIconWidth(), 2u);
        EXPECT_NE(region.GetIcon(), nullptr);
    }
    int width = 0, height = 0;
    EXPECT_FALSE(MapImage::GetImageSize(Vec3(), Vec3(1e30f, 0, 1), 1.0f, width, height));
    EXPECT_FALSE(MapImage::GetImageSize(Vec3(), Vec3(10, 0, 10), 0.0f, width, height));
    EXPECT_EQ(width, 0);
}

TEST_F(MapDataTest, AMinimapThatCannotBeWrittenIsAFailure)
{
    GAME::Test::TestEngine& e = StartEngine();
    // The minimap's folder is taken by a file.
    ASSERT_TRUE(dir.Write("blocked", "x"));
    Region region(ABBox(Vec3(), Vec3(16.0f, 4.0f, 16.0f)));
    region.SetName("blocked/r.lvl");
    EXPECT_FALSE(region.RebuildMapData());
    EXPECT_TRUE(e.Has("Could not open TGA file", 2));
    EXPECT_EQ(region.GetIconWidth(), 16u); // the icon is made all the same

    Region unnamed(ABBox(Vec3(), Vec3(16.0f, 4.0f, 16.0f)));
    EXPECT_FALSE(unnamed.RebuildMapData());
    EXPECT_EQ(unnamed.GetMinimapFileName(), "");
}

TEST_F(MapDataTest, OnlyEntitiesForTheMinimapAreDrawnAndTheEnginesSettingsComeBack)
{
    GAME::Test::TestEngine& e = StartEngine();
    GraphicsEngine* graphics = e.GetGraphicsEngine();
    KeepAll hostFilter;
    e.SetEntityRenderFilter(&hostFilter);
    graphics->EnableReflections(true);
    const int reduction = graphics->GetTextureReduction();
    const Viewport viewport = graphics->GetCanvas()->GetViewport();

    Region region(ABBox(Vec3(), Vec3(32.0f, 10.0f, 32.0f)));
    region.SetName("levels/probes.lvl");
    MapProbe* shown = Probe(region, Vec3(8, 0, 8), true);
    MapProbe* hidden = Probe(region, Vec3(-8, 0, -8), false);
    ASSERT_NE(shown, nullptr);
    ASSERT_NE(hidden, nullptr);
    shown->updates.clear();
    hidden->updates.clear();

    ASSERT_TRUE(region.RebuildMapData());
    EXPECT_EQ(shown->drawn, 2); // icon and minimap
    EXPECT_TRUE(shown->drawnWhileMapRendering);
    EXPECT_EQ(hidden->drawn, 0);
    // Entities for the minimap are brought up to date once before the views.
    EXPECT_EQ(shown->updates, std::vector<int>{10});
    EXPECT_TRUE(hidden->updates.empty());

    EXPECT_EQ(e.GetEntityRenderFilter(), &hostFilter);
    EXPECT_FALSE(e.IsMapRendering());
    EXPECT_TRUE(graphics->IsReflectionsEnabled());
    EXPECT_EQ(graphics->GetTextureReduction(), reduction);
    EXPECT_EQ(graphics->GetCanvas()->GetViewport().width, viewport.width);
    EXPECT_EQ(graphics->GetCanvas()->GetViewport().height, viewport.height);
    EXPECT_EQ(graphics->GetCanvas()->GetTargetSurface(), graphics->GetPrimarySurface());
    e.SetEntityRenderFilter(nullptr);

    const DetailMapFilterFunction filter;
    EXPECT_TRUE(filter(shown));
    EXPECT_FALSE(filter(hidden));
    EXPECT_FALSE(filter(nullptr));
}

TEST_F(MapDataTest, NeighboursLoadedForTheViewsGoAgainAndTheOthersStay)
{
    GAME::Test::TestEngine& e = StartEngine();
    World* world = e.GetWorld();
    const char* names[] = {"levels/centre.lvl", "levels/east.lvl", "levels/north.lvl", "levels/south.lvl",
                           "levels/far.lvl"};
    const IntVec3 offsets[] = {IntVec3(0, 0, 0), IntVec3(64, 0, 0), IntVec3(0, 0, -64), IntVec3(0, 0, 64),
                               IntVec3(1000, 0, 0)};
    for (int i = 0; i < 5; ++i) {
        WriteLevel(names[i]);
        world->AddRegion(names[i], offsets[i], ABBox(Vec3(), Vec3(32.0f, 32.0f, 32.0f)), RegionId());
    }
    Region* centre = world->GetRegion(0);
    Region* east = world->GetRegion(1);
    Region* north = world->GetRegion(2);
    Region* south = world->GetRegion(3);
    Region* far = world->GetRegion(4);
    // North is in already; south was in and went, keeping its state for the next load.
    ASSERT_TRUE(north->LoadLevel(false));
    ASSERT_TRUE(south->LoadLevel(false));
    south->UnloadLevel(true);
    ASSERT_TRUE(south->HasKeptState());

    ASSERT_TRUE(centre->RebuildMapData());
    EXPECT_NE(centre->GetLevelPtr(), nullptr);
    EXPECT_NE(north->GetLevelPtr(), nullptr);
    EXPECT_TRUE(north->GetLevelPtr()->HasLoadedRenderData());
    EXPECT_TRUE(e.Has("Forcing load of level levels/east.lvl in main thread."));
    EXPECT_TRUE(e.Has("Unloading level levels/east.lvl"));
    EXPECT_EQ(east->GetLevelPtr(), nullptr);
    EXPECT_FALSE(east->HasKeptState());
    EXPECT_EQ(south->GetLevelPtr(), nullptr);
    EXPECT_TRUE(south->HasKeptState()); // nothing of its kept state is lost
    EXPECT_FALSE(e.Has("levels/far.lvl"));
    EXPECT_EQ(far->GetLevelPtr(), nullptr);
    // The box is the loaded level's now; the minimap has 2 pixels a whole unit of it.
    const float side = 2.0f * centre->GetBoundingBox().extents.x;
    EXPECT_EQ(ReadImage("levels/centre.tga").GetWidth(), 2u * static_cast<unsigned>(side));
}

TEST(MapImageDecode, TgaFilesReadBoundedInEveryOrderAndCutFilesAreRefused)
{
    // 2 x 2, 24 bits, run-length encoded: a run of two red pixels, then green and blue as they are.
    auto rle = [](uint8_t descriptor) {
        return std::vector<uint8_t>{0, 0,  10,         0,    0, 0, 0,   0,    0, 0,   0, 0,   2, 0, 2,
                                    0, 24, descriptor, 0x81, 0, 0, 255, 0x01, 0, 255, 0, 255, 0, 0};
    };
    auto rgba = [](const Image& image, int i) {
        const uint8_t* p = image.GetBuffer() + i * 4;
        return std::vector<int>{p[0], p[1], p[2], p[3]};
    };
    Image image;
    ASSERT_TRUE(MapImage::Decode(rle(0x20).data(), 29, image)); // rows from the top
    ASSERT_EQ(image.GetWidth(), 2u);
    EXPECT_EQ(rgba(image, 0), (std::vector<int>{255, 0, 0, 255}));
    EXPECT_EQ(rgba(image, 1), (std::vector<int>{255, 0, 0, 255}));
    EXPECT_EQ(rgba(image, 2), (std::vector<int>{0, 255, 0, 255}));
    EXPECT_EQ(rgba(image, 3), (std::vector<int>{0, 0, 255, 255}));
    ASSERT_TRUE(MapImage::Decode(rle(0x00).data(), 29, image)); // rows from the bottom
    EXPECT_EQ(rgba(image, 0), (std::vector<int>{0, 255, 0, 255}));
    EXPECT_EQ(rgba(image, 2), (std::vector<int>{255, 0, 0, 255}));
    EXPECT_FALSE(MapImage::Decode(rle(0x20).data(), 28, image)); // the last byte is missing
    EXPECT_EQ(image.GetWidth(), 0u);
    std::vector<uint8_t> run = rle(0x20);
    run[18] = 0x84; // a run of five: past the picture's end
    EXPECT_FALSE(MapImage::Decode(run.data(), 29, image));
    std::vector<uint8_t> mapped = rle(0x20);
    mapped[1] = 1; // colour-mapped
    EXPECT_FALSE(MapImage::Decode(mapped.data(), 29, image));
    const uint8_t fakePng[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0};
    EXPECT_FALSE(MapImage::Decode(fakePng, sizeof(fakePng), image));

    // What the image class writes (32 bits, from the bottom) reads back the same.
    Image written;
    const uint8_t pixels[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    BinaryWriter tga(64);
    ASSERT_TRUE(written.Create(3, 1, Image::FORMAT_RGBA, pixels) && written.WriteTGA(tga));
    ASSERT_TRUE(MapImage::Decode(tga.GetBuffer(), tga.GetSize(), image));
    EXPECT_EQ(std::vector<uint8_t>(image.GetBuffer(), image.GetBuffer() + 12),
              std::vector<uint8_t>(pixels, pixels + 12));
}

class ChunkReader : public MapChunkCallback
{
public:
    ChunkReader(unsigned id, std::vector<uint8_t>& seen) : MapChunkCallback(id), m_seen(seen) {}
    void ReadChunk(BinaryReader& reader) override
    {
        while (reader.GetRemaining() > 0)
            m_seen.push_back(reader.ReadUInt8());
    }

private:
    std::vector<uint8_t>& m_seen;
};

TEST_F(MapDataTest, MapsReadTheirChunksThroughTheEnginesCallbacksAndDecodeTgaMinimaps)
{
    GAME::Test::TestEngine& e = StartEngine();
    World* world = e.GetWorld();
    std::vector<uint8_t> first, second;
    ASSERT_TRUE(world->InstallMapChunkCallback(new ChunkReader(0x40, first)));
    ChunkReader duplicate(0x40, second); // refused: stays the test's
    EXPECT_FALSE(world->InstallMapChunkCallback(&duplicate));
    EXPECT_TRUE(e.Has("Duplicate MapChunkCallback being installed for Id 64", 2));

    Level level(nullptr);
    level.NewSpace(Vec2(16.0f, 16.0f));
    BinaryWriter image(1024);
    ASSERT_TRUE(level.SaveToMemory(image, false));
    DataKit::MapWriter map(4);
    const std::vector<uint8_t> minimaps[] = {TgaBytes(8, 4),
                                             {'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e'}};
    const char* names[] = {"levels/tga.lvl", "levels/junk.lvl"};
    for (int i = 0; i < 2; ++i) {
        DataKit::MapWriter::Region& r = map.AddRegion(names[i]);
        r.extents[0] = r.extents[1] = r.extents[2] = 16;
        r.level.assign(image.GetBuffer(), image.GetBuffer() + image.GetSize());
        r.minimap = minimaps[i];
    }
    map.AddChunk(0x40, {1, 2, 3});
    const std::vector<uint8_t> bytes = map.Build();
    ASSERT_TRUE(dir.Write("maps/m.map", std::string(bytes.begin(), bytes.end())));
    ASSERT_TRUE(world->Load("maps/m.map", false));
    EXPECT_EQ(first, (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_TRUE(second.empty());

    ASSERT_TRUE(world->GetRegion(0)->LoadLevel(false));
    EXPECT_NE(world->GetRegion(0)->GetMinimapImage(false), nullptr);
    ASSERT_TRUE(world->GetRegion(1)->LoadLevel(false)); // a bad minimap does not keep the level out
    EXPECT_EQ(world->GetRegion(1)->GetMinimapImage(false), nullptr);
    EXPECT_TRUE(e.Has("could not be decoded", 1));
    world->Unload();
}

// The OpenGL device draws the views: a region with something in it shows it where it stands.
class OpenGLMapDataTest : public MapDataTest
{
protected:
    void SetUp() override
    {
        MapDataTest::SetUp();
        settings.deviceName = "OpenGL";
    }
};

TEST_F(OpenGLMapDataTest, AMinimapShowsWhatTheRegionHolds)
{
    GAME::Test::TestEngine& e = StartEngine();
    ASSERT_NE(e.GetGraphicsEngine(), nullptr);
    GraphicsShader2* shader = e.GetGraphicsEngine()->LoadShader2(DataKit::SampleGameData::unlitShaderName);
    ASSERT_NE(shader, nullptr);
    // On the loader thread, however long a busy machine makes it take.
    ASSERT_TRUE(GAME::Test::WaitUntil([&] { return shader->GetIsReadyToUse(); }));

    {
        Region region(ABBox(Vec3(), Vec3(32.0f, 10.0f, 32.0f)));
        region.SetName("levels/probe.lvl");
        // x 12 to 20, z -20 to -12: north-east of the centre.
        MapProbe* probe = Probe(region, Vec3(16, 0, -16), true);
        ASSERT_NE(probe, nullptr);
        probe->SetShader(shader);
        ASSERT_TRUE(region.RebuildMapData());

        Image minimap = ReadImage("levels/probe.tga");
        ASSERT_EQ(minimap.GetWidth(), 128u);
        ASSERT_EQ(minimap.GetHeight(), 128u);
        auto at = [](const Image& image, int x, int y) {
            return image.GetBuffer() + (size_t(y) * image.GetWidth() + size_t(x)) * 4;
        };
        // At 2 pixels a unit the square covers columns 88 to 104 and rows 24 to 40.
        const uint8_t* inside = at(minimap, 96, 32);
        EXPECT_LT(inside[0], 40);
        EXPECT_GT(inside[1], 200);
        const uint8_t* outside = at(minimap, 20, 110);
        EXPECT_GT(outside[0], 200);
        EXPECT_LT(outside[1], 40);
        // The icon, at half a pixel a unit: columns 22 to 26, rows 6 to 10.
        Image icon;
        ASSERT_EQ(icon.Load(region.GetIconData().data(), static_cast<uint32_t>(region.GetIconData().size()),
                            Image::FORMAT_RGBA),
                  Image::ERROR_NONE);
        ASSERT_EQ(icon.GetWidth(), 32u);
        EXPECT_GT(at(icon, 24, 8)[1], 200);
        EXPECT_GT(at(icon, 5, 28)[0], 200);
        EXPECT_NE(region.GetIcon(), nullptr);
    }
    e.GetGraphicsEngine()->UnloadShader2(shader);
}

} // namespace
} // namespace GAME
