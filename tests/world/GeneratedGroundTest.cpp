// The generated world's ground as its loaded levels carry it (the recording device): no grass
// grows where the lakes and rivers cover the ground.
#include "EngineFixture.h"

#include "datakit/WorldGenerator.h"
#include "graphics/RenderVertexBuffer.h"
#include "terrain/TerrainBase.h"
#include "terrain/TerrainBlock.h"
#include "terrain/Water.h"
#include "world/Level.h"
#include "world/Region.h"
#include "world/World.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace GAME {
namespace {

using DataKit::WorldGenerator;

// The sample host's fields (their ground: no props), with its caves.
WorldGenerator::Settings HostFields()
{
    WorldGenerator::Settings settings;
    settings.regionsX = 6;
    settings.regionsZ = 6;
    settings.flightSpeed = 120.0f;
    settings.entitiesPerRegion = 0;
    settings.entitiesPerCave = 0;
    settings.walkersPerRegion = 0;
    settings.walkersPerCave = 0;
    settings.villages = 0;
    settings.lightsPerCave = 0;
    return settings;
}

class GeneratedGroundTest : public GAME::Test::EngineTest
{
protected:
    void SetUp() override
    {
        GAME::Test::EngineTest::SetUp();
        WorldGenerator::AddRecords(data.Database());
    }
};

std::string At(const char* what, float x, float y, float z)
{
    char text[96];
    std::snprintf(text, sizeof(text), "%s at %.1f, %.1f, %.1f", what, x, y, z);
    return text;
}

TEST_F(GeneratedGroundTest, NoGrassBladeStandsWhereWaterCoversTheGround)
{
    WorldGenerator generator(HostFields());
    World* world = StartGenerated(generator);
    ASSERT_NE(world, nullptr);
    int blades = 0, wet = 0;
    std::string first;
    for (int i = 0; i < world->GetNumRegions(); ++i) {
        if (generator.GetRegions()[i].cave)
            continue;
        Level* level = LoadLevelNow(world->GetRegion(i));
        ASSERT_NE(level, nullptr);
        TerrainBase* terrain = level->GetTerrain();
        const Water* water = level->GetWater();
        ASSERT_TRUE(terrain && water);
        for (unsigned bj = 0; bj < terrain->NumYBlocks(); ++bj)
            for (unsigned bi = 0; bi < terrain->NumXBlocks(); ++bi) {
                TerrainBlock* block = terrain->GetBlock(bi, bj);
                block->EnsureRenderData();
                for (unsigned layer = 0; layer < 3; ++layer) {
                    const TerrainBlock::GrassRecord* grass = block->GetGrassRecord(layer);
                    if (!grass || !grass->geometry.bladeBuffer || grass->numBlades == 0)
                        continue;
                    // Each blade is four vertices of eight floats; the last two stand on the ground.
                    std::vector<float> v(static_cast<size_t>(grass->numBlades) * 32);
                    const void* data = grass->geometry.bladeBuffer->Lock();
                    ASSERT_NE(data, nullptr);
                    std::memcpy(v.data(), data, v.size() * sizeof(float));
                    grass->geometry.bladeBuffer->Unlock();
                    for (unsigned b = 0; b < grass->numBlades; ++b) {
                        const float* blade = &v[static_cast<size_t>(b) * 32];
                        const float x = 0.5f * (blade[16] + blade[24]), z = 0.5f * (blade[18] + blade[26]);
                        const float ground = terrain->GetHeightInterpolated(x, z);
                        Vec3 surface, flow;
                        ++blades;
                        if (water->GetWaterPointInfo(Vec3(x, ground - 0.01f, z), surface, flow) &&
                            surface.y > ground && wet++ == 0)
                            first = generator.GetRegions()[i].name + At(": a blade", x, ground, z) +
                                    ", the water's surface at " + std::to_string(surface.y);
                    }
                }
            }
    }
    EXPECT_GT(blades, 36 * 1000);
    EXPECT_EQ(wet, 0) << wet << " of " << blades << " blades stand in the water, first " << first;
}

} // namespace
} // namespace GAME
