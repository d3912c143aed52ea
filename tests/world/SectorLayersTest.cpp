#include "world/SectorLayers.h"
#include "common/LogCapture.h"
#include "core/Color.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"
#include "graphics/WorldPrimitiveDrawer.h"
#include "world/SectorData.h"
#include "world/World.h"

#include "WorldFixtures.h"

#include <gtest/gtest.h>

namespace GAME {
namespace {

std::vector<uint8_t> SaveToMemory(const SectorLayers& layers)
{
    BinaryWriter writer(64);
    layers.Save(writer);
    return std::vector<uint8_t>(writer.GetBuffer(), writer.GetBuffer() + writer.GetSize());
}

// Records of one kind in a manager, their ids handed back.
UniqueId AddRecord(SectorDataManager& manager, unsigned kind)
{
    manager.NewSectorData(kind);
    return manager.GetSectorData(kind, manager.GetNumSectorData(kind) - 1)->GetId();
}

TEST(SectorLayersTest, PaintingLookUpAndRoundTrip)
{
    SectorLayers layers;
    EXPECT_FALSE(layers.IsInitialized());
    EXPECT_TRUE(layers.GetTargetId(1, 0, 0).IsNull());
    ASSERT_TRUE(layers.Initialize(64, 64));

    const UniqueId hall(1, 2, 3, 4), crypt(5, 6, 7, 8);
    layers.PrimeForEdit(1, hall);
    EXPECT_EQ(layers.GetPaintValue(), 1);
    layers.Edit(0, 63, true);
    layers.Edit(64, 0, true); // outside: nothing
    layers.PrimeForEdit(1, crypt);
    EXPECT_EQ(layers.GetPaintValue(), 2);
    layers.Edit(5, 5, true);
    layers.PrimeForEdit(1, hall);
    EXPECT_EQ(layers.GetPaintValue(), 1);
    EXPECT_EQ(layers.GetNumTargets(1), 2);

    // Look-ups clamp into the grid.
    EXPECT_EQ(layers.GetTargetId(1, -5, 1000), hall);
    EXPECT_EQ(layers.GetTargetId(1, 5, 5), crypt);
    EXPECT_TRUE(layers.GetTargetId(1, 6, 5).IsNull());
    EXPECT_TRUE(layers.GetTargetId(0, 5, 5).IsNull());
    EXPECT_EQ(layers.GetValue(1, 64, 0), 0);

    layers.PrimeForEdit(3, crypt);
    layers.Fill();
    layers.PrimeForEdit(3, hall);
    layers.Edit(63, 0, true);

    // Width and height differ so the cell order (x outer) matters.
    SectorLayers wide;
    wide.Initialize(3, 2);
    wide.PrimeForEdit(2, crypt);
    wide.Edit(2, 0, true);
    const std::vector<uint8_t> wideBytes = SaveToMemory(wide);
    // Version, list count, four lists (one target in list 2), width, height, then cell (0,0).
    const size_t cells = 4 + 4 + 4 * 4 + 17 + 8;
    ASSERT_EQ(wideBytes.size(), cells + 3 * 2 * 4);
    EXPECT_EQ(wideBytes[cells + 4 * 4 + 2], 1); // x = 2 comes after (0,0), (0,1), (1,0), (1,1)
    // The target's id is stored last word first.
    EXPECT_EQ(wideBytes[4 + 4 + 4 + 4 + 4 + 1], 8);

    for (const SectorLayers* original : {&layers, &wide}) {
        SectorLayers loaded;
        loaded.Initialize(10, 10); // other size: replaced by the block's
        const std::vector<uint8_t> bytes = SaveToMemory(*original);
        BinaryReader reader(bytes.data(), static_cast<unsigned>(bytes.size()));
        ASSERT_TRUE(loaded.Load(reader));
        EXPECT_EQ(reader.GetRemaining(), 0u);
        ASSERT_EQ(loaded.GetWidth(), original->GetWidth());
        ASSERT_EQ(loaded.GetHeight(), original->GetHeight());
        for (int layer = 0; layer < SectorLayers::kNumLayers; ++layer) {
            ASSERT_EQ(loaded.GetNumTargets(layer), original->GetNumTargets(layer));
            for (int i = 0; i < loaded.GetNumTargets(layer); ++i) {
                EXPECT_EQ(loaded.GetTarget(layer, i)->value, original->GetTarget(layer, i)->value);
                EXPECT_EQ(loaded.GetTarget(layer, i)->id, original->GetTarget(layer, i)->id);
            }
            for (unsigned z = 0; z < loaded.GetHeight(); ++z)
                for (unsigned x = 0; x < loaded.GetWidth(); ++x)
                    ASSERT_EQ(loaded.GetValue(layer, x, z), original->GetValue(layer, x, z));
        }
    }
}

TEST(SectorLayersTest, ValidatingDropsDeletedSectorsFromTheirLayerOnly)
{
    SectorDataManager sectors;
    const UniqueId first = AddRecord(sectors, SectorDataManager::SECTOR_NAME);
    const UniqueId second = AddRecord(sectors, SectorDataManager::SECTOR_NAME);
    const UniqueId boss = AddRecord(sectors, SectorDataManager::SECTOR_BOSS);

    SectorLayers layers;
    layers.Initialize(32, 64);
    layers.PrimeForEdit(1, first);
    for (int z = 0; z < 64; ++z)
        layers.Edit(z % 32, z, true);
    layers.PrimeForEdit(1, second);
    layers.Edit(1, 0, true);
    // The same value in the boss layer belongs to another sector.
    layers.PrimeForEdit(3, boss);
    layers.Edit(0, 63, true);
    ASSERT_EQ(layers.GetValue(3, 0, 63), 1);

    sectors.DeleteSectorData(SectorDataManager::SECTOR_NAME, 0);
    layers.ValidateMapping(sectors);
    for (int z = 0; z < 64; ++z)
        EXPECT_EQ(layers.GetValue(1, z % 32, z), 0) << z;
    EXPECT_EQ(layers.GetTargetId(1, 1, 0), second);
    EXPECT_EQ(layers.GetTargetId(3, 0, 63), boss);
    ASSERT_EQ(layers.GetNumTargets(1), 1);

    // The freed value is given to the next new sector.
    layers.PrimeForEdit(1, UniqueId(9, 9, 9, 9));
    EXPECT_EQ(layers.GetPaintValue(), 1);
}

TEST(SectorLayersTest, CorruptBlocksAreRefusedAndChangeNothing)
{
    SectorLayers source;
    source.Initialize(4, 3);
    source.PrimeForEdit(0, UniqueId(1, 1, 1, 1));
    source.Fill();
    const std::vector<uint8_t> good = SaveToMemory(source);

    auto refused = [](std::vector<uint8_t> bytes) {
        GAME::Test::LogCapture log;
        SectorLayers layers;
        layers.Initialize(2, 2);
        layers.PrimeForEdit(0, UniqueId(7, 7, 7, 7));
        layers.Fill();
        BinaryReader reader(bytes.data(), static_cast<unsigned>(bytes.size()));
        const bool loaded = layers.Load(reader);
        return !loaded && log.Count() > 0 && layers.GetWidth() == 2 && layers.GetValue(0, 1, 1) == 1 &&
               layers.GetTargetId(0, 0, 0) == UniqueId(7, 7, 7, 7);
    };
    for (size_t size = 0; size < good.size(); ++size)
        EXPECT_TRUE(refused(std::vector<uint8_t>(good.begin(), good.begin() + size))) << size;
    std::vector<uint8_t> version = good;
    version[0] = 2;
    EXPECT_TRUE(refused(version));
    std::vector<uint8_t> lists = good;
    lists[7] = 0x40;
    EXPECT_TRUE(refused(lists));
    std::vector<uint8_t> targets = good;
    targets[11] = 0x10;
    EXPECT_TRUE(refused(targets));
    // 0x10000 x 0x10000 cells: the product, not either size, runs past the data.
    std::vector<uint8_t> size = good;
    const size_t widthAt = good.size() - 4 * 3 * 4 - 8;
    size[widthAt + 2] = 1;
    size[widthAt + 6] = 1;
    EXPECT_TRUE(refused(size));
}

// Records what the layers draw.
class RecordingDrawer : public WorldPrimitiveDrawer
{
public:
    void SetRegion(Region* r) override { region = r; }
    void Begin(int primitive) override { current = primitive; }
    void SetColor(const Color& c) override { color = c; }
    void SetVertex(const Vec3& p) override
    {
        (current == PRIMITIVE_TRIANGLE_LIST ? triangles : lines).push_back({p, color});
        ++sinceFlush;
    }
    void End() override {}
    void Flush() override
    {
        largestBatch = std::max(largestBatch, sinceFlush);
        sinceFlush = 0;
        ++flushes;
    }
    void SetOverlayShader() override {}
    void DrawSolidCircle(const Vec3&, float, int) override {}
    void DrawArrow(const Vec3&, const Vec3&) override {}
    void RenderDebugBox(Region*, const ABBox&, const Color&) override {}

    struct Vertex
    {
        Vec3 p;
        Color c;
    };
    Region* region = nullptr;
    int current = -1;
    Color color;
    std::vector<Vertex> triangles, lines;
    int sinceFlush = 0, largestBatch = 0, flushes = 0;
};

TEST(SectorLayersTest, DrawingUsesACheckerboardInWorldCellsAndSubmitsInBatches)
{
    SectorDataManager sectors;
    const UniqueId id = AddRecord(sectors, SectorDataManager::SECTOR_AMBIENT);
    SectorLayers layers;
    layers.Initialize(40, 40);
    layers.PrimeForEdit(2, id);
    layers.Fill();
    layers.Edit(0, 0, false);

    RecordingDrawer drawer;
    layers.RenderLayer(2, drawer, sectors);
    ASSERT_EQ(drawer.triangles.size(), (40u * 40u - 1u) * 6u);
    EXPECT_LE(drawer.largestBatch, 906);
    EXPECT_GT(drawer.flushes, 10);
    const Color alpha = sectors.GetRenderColorAlpha(2, id), omega = sectors.GetRenderColorOmega(2, id);
    auto colorAt = [&](float x, float z) {
        for (size_t i = 0; i < drawer.triangles.size(); i += 6)
            if (drawer.triangles[i].p == Vec3(x, 0.75f, z))
                return drawer.triangles[i].c;
        return Color(-1, -1, -1, -1);
    };
    // The first corner of cell (x, z) is at (x, z); squares of 5 x 5 cells alternate.
    EXPECT_EQ(colorAt(1, 1), alpha);
    EXPECT_EQ(colorAt(5, 1), omega);
    EXPECT_EQ(colorAt(5, 5), alpha);
    // The one unpainted cell is outlined on its two inner sides.
    EXPECT_EQ(drawer.lines.size(), 4u);
    for (const auto& v : drawer.lines) {
        EXPECT_EQ(v.c, Color(1, 1, 1, 1));
        EXPECT_FLOAT_EQ(v.p.y, 0.755f);
    }
}

} // namespace
} // namespace GAME
