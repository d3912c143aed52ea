// Grass on a device: the pool of grass buffers, blades placed the same on every rebuild, the
// springs that bend them, and what low quality leaves out.
#include "TerrainEngineFixture.h"

#include "graphics/RenderVertexBuffer.h"
#include "terrain/TerrainBlock.h"

#include <algorithm>
#include <cstring>

namespace GAME {
namespace {

using DataKit::TerrainWriter;
using namespace TerrainTest;

using TerrainGrassTest = TerrainEngineTest;

// 17 x 17 samples (two blocks a side): dirt, grass at opacity 200, short grass at 180 on the left
// half, and, clear on top, a layer whose type grows no blades.
TerrainWriter GrassTerrain()
{
    TerrainWriter writer = RollingTerrain(17, 17, 3);
    TerrainWriter::Layer dirt, grass, shortGrass, bare;
    dirt.typeRecord = dirtRecord;
    grass.typeRecord = grassRecord;
    grass.opacity.assign(256, 200);
    shortGrass.typeRecord = shortGrassRecord;
    shortGrass.opacity.assign(256, 0);
    shortGrass.states.assign(256, TerrainWriter::CELL_NONE);
    for (unsigned c = 0; c < 256; ++c)
        if (c % 16 < 8) {
            shortGrass.opacity[c] = 180;
            shortGrass.states[c] = TerrainWriter::CELL_SHOWN;
        }
    bare.typeRecord = "records/terrain/bare.dbr";
    bare.opacity.assign(256, 0);
    writer.layers = {dirt, grass, shortGrass, bare};
    return writer;
}

std::vector<float> BladeVertices(const TerrainBlock::GrassRecord& record)
{
    std::vector<float> vertices(static_cast<size_t>(record.numBlades) * 4 * 8);
    if (void* data = record.geometry.bladeBuffer->Lock()) {
        std::memcpy(vertices.data(), data, vertices.size() * sizeof(float));
        record.geometry.bladeBuffer->Unlock();
    }
    return vertices;
}

TEST_F(TerrainGrassTest, ThePoolOfGrassBuffersKeepsSixteenRecords)
{
    TerrainRT terrain(nullptr);
    ASSERT_TRUE(LoadWriter(terrain, RollingTerrain(9, 9)));
    const uint32_t before = control->GetResourceCount(Software::ResourceKind::VertexBuffer);
    std::vector<TerrainBase::GrassGeometry> made;
    for (int i = 0; i < 20; ++i) {
        made.push_back(terrain.CreateGrassGeometry());
        ASSERT_NE(made.back().bladeBuffer, nullptr);
        EXPECT_EQ(made.back().bladeBuffer->GetSize(), 44800u);
        EXPECT_EQ(made.back().windBuffer->GetSize(), 11200u);
    }
    EXPECT_EQ(control->GetResourceCount(Software::ResourceKind::VertexBuffer), before + 40);
    const TerrainBase::GrassGeometry oldest = made.front();
    for (TerrainBase::GrassGeometry& geometry : made)
        terrain.DestroyGrassGeometry(geometry);
    // Sixteen kept (the 17th returned is destroyed), the rest released to the device.
    EXPECT_EQ(terrain.GetGrassPoolSize(), 16u);
    EXPECT_EQ(control->GetResourceCount(Software::ResourceKind::VertexBuffer), before + 32);
    // Taken again oldest first; a record without buffers is not pooled.
    const TerrainBase::GrassGeometry again = terrain.CreateGrassGeometry();
    EXPECT_EQ(again.bladeBuffer, oldest.bladeBuffer);
    TerrainBase::GrassGeometry nothing;
    terrain.DestroyGrassGeometry(nothing);
    EXPECT_EQ(terrain.GetGrassPoolSize(), 15u);
    TerrainBase::GrassGeometry back = again;
    terrain.DestroyGrassGeometry(back);
    terrain.Unload();
    EXPECT_EQ(terrain.GetGrassPoolSize(), 0u);
    EXPECT_EQ(control->GetResourceCount(Software::ResourceKind::VertexBuffer), before);
}

TEST_F(TerrainGrassTest, BladesAreTheSameOnEveryRebuild)
{
    TerrainRT terrain(nullptr);
    ASSERT_TRUE(LoadWriter(terrain, GrassTerrain()));
    terrain.LoadRenderData();
    TerrainBlock* block = terrain.GetBlock(1, 0);
    block->EnsureRenderData();
    ASSERT_TRUE(block->IsRenderDataBuilt());
    const TerrainBlock::GrassRecord* grass = block->GetGrassRecord(1);
    ASSERT_NE(grass, nullptr);
    ASSERT_GT(grass->numBlades, 40u);
    EXPECT_LE(grass->numBlades, TerrainBlock::maxNumGrassPlanes);
    const uint32_t blades = grass->numBlades;
    const std::vector<float> first = BladeVertices(*grass);
    // Layers whose type grows no blades (none, or 0 variations) have no grass.
    EXPECT_EQ(block->GetGrassRecord(0)->geometry.bladeBuffer, nullptr);
    EXPECT_EQ(block->GetGrassRecord(3)->geometry.bladeBuffer, nullptr);
    EXPECT_EQ(block->GetGrassRecord(3)->numBlades, 0u);
    // Every blade stands inside the block, its foot on the ground.
    for (uint32_t b = 0; b < blades; ++b) {
        const float* foot = &first[(b * 4 + 3) * 8];
        EXPECT_GE(foot[0], 8.0f);
        EXPECT_LE(foot[0], 17.0f);
        EXPECT_LE(foot[2], 9.0f);
    }

    block->ReleaseRenderData();
    EXPECT_EQ(block->GetGrassRecord(1), nullptr);
    block->EnsureRenderData();
    const TerrainBlock::GrassRecord* again = block->GetGrassRecord(1);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->numBlades, blades);
    EXPECT_EQ(BladeVertices(*again), first);
}

TEST_F(TerrainGrassTest, DisturbedGrassSpringsBackAndSettles)
{
    TerrainRT terrain(nullptr);
    ASSERT_TRUE(LoadWriter(terrain, GrassTerrain()));
    terrain.LoadRenderData();
    TerrainBlock* block = terrain.GetBlock(0, 0);
    block->EnsureRenderData();
    ASSERT_FALSE(block->HasDirtyGrass());

    // Radius 0 pushes nothing.
    terrain.DisplaceGrass(3.0f, 3.0f, 0.0f, 2.0f);
    for (int frame = 0; frame < 5; ++frame)
        block->Update(terrain, 16);
    for (unsigned j = 0; j < TerrainBlock::grassGridSize; ++j)
        for (unsigned i = 0; i < TerrainBlock::grassGridSize; ++i)
            ASSERT_EQ(block->GetGrassDisplacement(i, j).x, 0.0f);

    terrain.DisplaceGrass(3.0f, 3.0f, 2.0f, 2.0f);
    EXPECT_TRUE(block->HasDirtyGrass());
    float largest = 0.0f;
    for (int frame = 0; frame < 20; ++frame) {
        block->Update(terrain, 16);
        for (unsigned j = 0; j < TerrainBlock::grassGridSize; ++j)
            for (unsigned i = 0; i < TerrainBlock::grassGridSize; ++i)
                largest = std::max(largest, block->GetGrassDisplacement(i, j).Length());
    }
    EXPECT_GT(largest, 0.01f);
    // Velocities are kept within 2 on each axis, however hard the push.
    terrain.DisplaceGrass(3.0f, 3.0f, 2.0f, 1000.0f);
    EXPECT_LE(std::fabs(block->GetGrassVelocity(7, 5).x), 2.0f);

    // The wind offsets follow the springs while the grass is drawn: each vertex its cell's
    // displacement times the blade height. Grass not drawn keeps its offsets until it is.
    const TerrainBlock::GrassRecord* grass = block->GetGrassRecord(1);
    ASSERT_NE(grass, nullptr);
    ASSERT_GT(grass->numBlades, 0u);
    auto moved = [&] {
        bool any = false;
        if (const float* offsets = static_cast<const float*>(grass->geometry.windBuffer->Lock())) {
            for (uint32_t v = 0; v < grass->numBlades * 4; ++v) {
                EXPECT_LT(grass->cellIndices[v], TerrainBlock::grassGridSize * TerrainBlock::grassGridSize);
                any = any || offsets[2 * v] != 0.0f;
            }
            grass->geometry.windBuffer->Unlock();
        }
        return any;
    };
    block->Update(terrain, 16);
    EXPECT_FALSE(moved()) << "grass that was not drawn";
    EXPECT_TRUE(block->WindOffsetsStale());
    block->NoteGrassDrawn();
    block->Update(terrain, 16);
    EXPECT_TRUE(moved());
    EXPECT_FALSE(block->WindOffsetsStale());

    // Long enough after, the grass stands still again; elapsed time steps at most 50 ms.
    for (int frame = 0; frame < 400; ++frame)
        block->Update(terrain, frame % 2 ? 16 : 500);
    for (unsigned j = 0; j < TerrainBlock::grassGridSize; ++j)
        for (unsigned i = 0; i < TerrainBlock::grassGridSize; ++i) {
            EXPECT_LT(block->GetGrassDisplacement(i, j).Length(), 1e-3f);
            EXPECT_LT(block->GetGrassVelocity(i, j).Length(), 1e-2f);
        }
}

TEST_F(TerrainGrassTest, LowQualityDropsShortGrassAndHalvesTheRest)
{
    TerrainRT terrain(nullptr);
    ASSERT_TRUE(LoadWriter(terrain, GrassTerrain()));
    terrain.LoadRenderData();
    TerrainBlock* block = terrain.GetBlock(0, 0);
    const std::vector<TerrainObject*> objects = {block};
    terrain.GetRenderInterface().Update(IntVec3(), Frustum(), objects);
    ASSERT_FALSE(terrain.LowQuality());
    auto tallest = [](const TerrainBlock::GrassRecord& record) {
        const std::vector<float> v = BladeVertices(record);
        float top = 0.0f;
        for (uint32_t b = 0; b < record.numBlades; ++b)
            top = std::max(top, v[(b * 4) * 8 + 1] - v[(b * 4 + 3) * 8 + 1]);
        return top;
    };
    ASSERT_NE(block->GetGrassRecord(2), nullptr);
    EXPECT_GT(block->GetGrassRecord(2)->numBlades, 0u);
    const uint32_t tallBlades = block->GetGrassRecord(1)->numBlades;
    const float tall = tallest(*block->GetGrassRecord(1));
    EXPECT_GT(tall, 0.5f);
    EXPECT_LE(tall, 2.0f);

    gEngine->GetOptions()->SetQuality(Options::QUALITY_DETAIL_LEVEL, Options::QUALITY_LOW);
    gEngine->GetGraphicsEngine()->UpdateFromOptions();
    terrain.GetRenderInterface().Update(IntVec3(), Frustum(), objects);
    ASSERT_TRUE(terrain.LowQuality());
    // Blades shorter than 1.75 are left out; the others are half as tall, placed as before.
    ASSERT_NE(block->GetGrassRecord(2), nullptr);
    EXPECT_EQ(block->GetGrassRecord(2)->geometry.bladeBuffer, nullptr);
    EXPECT_EQ(block->GetGrassRecord(2)->numBlades, 0u);
    EXPECT_EQ(block->GetGrassRecord(1)->numBlades, tallBlades);
    EXPECT_NEAR(tallest(*block->GetGrassRecord(1)), tall * 0.5f, 1e-4f);
}

} // namespace
} // namespace GAME
