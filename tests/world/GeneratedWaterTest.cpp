// The generated world's lakes and rivers as the loaded levels carry them (the recording device):
// water shows only in the lakes' bowls and the rivers' channels. Wherever a lake's painted area or
// a river's ribbon ends, or a river fades out, the ground there stands above the surface and hides
// the edge; an edge over ground below the surface is a sheet of water lying on the land.
#include "EngineFixture.h"

#include "datakit/WorldGenerator.h"
#include "terrain/Water.h"
#include "terrain/WaterLayer.h"
#include "terrain/WaterPath.h"
#include "terrain/WaterPathSegment.h"
#include "world/Level.h"
#include "world/Region.h"
#include "world/World.h"

#include <cmath>
#include <cstdio>
#include <string>
#include <utility>

namespace GAME {
namespace {

using DataKit::WorldGenerator;

class GeneratedWaterTest : public GAME::Test::EngineTest
{
protected:
    void SetUp() override
    {
        GAME::Test::EngineTest::SetUp();
        WorldGenerator::AddRecords(data.Database());
    }
};

std::string At(float x, float z)
{
    char text[48];
    std::snprintf(text, sizeof(text), " at %.1f, %.1f", x, z);
    return text;
}

// Whether a river's ribbon lies over the point.
bool InRiver(const Water& water, float x, float z, const Level& level)
{
    Vec3 surface, flow;
    return water.GetWaterPointInfo(Vec3(x, level.GetGroundHeight(x, z) - 0.01f, z), surface, flow);
}

TEST_F(GeneratedWaterTest, WaterEndsOnlyWhereTheGroundRisesOverItsSurface)
{
    // The sample host's fields (their ground: no props), doorways flattened into two of them.
    WorldGenerator generator(SampleGround());
    World* world = StartGenerated(generator);
    ASSERT_NE(world, nullptr);

    constexpr float kWet = 0.02f; // ground this far under the surface shows the water
    int lakeEdges = 0, riverEdges = 0, fadedOverWater = 0, riverRows = 0;
    std::string firstLake, firstRiver, firstFade;
    for (int i = 0; i < world->GetNumRegions(); ++i) {
        if (generator.GetRegions()[i].cave)
            continue;
        SCOPED_TRACE(generator.GetRegions()[i].name);
        const Level* level = LoadLevelNow(world->GetRegion(i));
        ASSERT_NE(level, nullptr);
        const Water* water = level->GetWater();
        ASSERT_NE(water, nullptr);
        const WaterLayer* lake = water->GetLayer(0);
        ASSERT_NE(lake, nullptr);
        const float surface = lake->GetHeight();
        const auto wet = [&](float x, float z) { return level->GetGroundHeight(x, z) < surface - kWet; };

        // The lake's coverage, a byte per unit: where a covered point lies under the surface, every
        // neighbour is covered too, stands above it, or lies in the river leaving the lake.
        std::vector<uint8_t> map;
        unsigned width = 0, depth = 0;
        lake->SaveToMap(map, width, depth);
        ASSERT_GT(width, 0u);
        const auto covered = [&](int x, int z) {
            return x >= 0 && z >= 0 && x < static_cast<int>(width) && z < static_cast<int>(depth) &&
                   map[static_cast<size_t>(z) * width + static_cast<size_t>(x)] != 0;
        };
        for (int z = 0; z < static_cast<int>(depth); ++z)
            for (int x = 0; x < static_cast<int>(width); ++x) {
                if (!covered(x, z) || !wet(static_cast<float>(x), static_cast<float>(z)))
                    continue;
                for (const auto& [nx, nz] :
                     {std::pair{x + 1, z}, std::pair{x - 1, z}, std::pair{x, z + 1}, std::pair{x, z - 1}})
                    if (nx >= 0 && nz >= 0 && nx < static_cast<int>(width) && nz < static_cast<int>(depth) &&
                        !covered(nx, nz) && wet(static_cast<float>(nx), static_cast<float>(nz)) &&
                        !InRiver(*water, static_cast<float>(nx), static_cast<float>(nz), *level)) {
                        if (lakeEdges++ == 0)
                            firstLake = At(static_cast<float>(nx), static_cast<float>(nz));
                    }
            }

        // The river: its ribbon's sides lie on the banks, and where it fades in or out (its vertex
        // alpha under 255) the ground hides it, or the lake covers it.
        ASSERT_EQ(water->GetNumPaths(), 1u);
        const WaterPath* river = water->GetPath(0);
        ASSERT_NE(river, nullptr);
        for (unsigned s = 0; s < river->GetNumSegments(); ++s) {
            const WaterPathSegment* segment = river->GetSegment(s);
            ASSERT_NE(segment, nullptr);
            const std::vector<WaterVertex>& vertices = segment->GetVertices();
            const unsigned across = WaterPathSegment::rowVertices;
            for (size_t v = 0; v < vertices.size(); ++v) {
                const float x = vertices[v].position[0], z = vertices[v].position[2];
                if (!wet(x, z) || covered(static_cast<int>(std::lround(x)), static_cast<int>(std::lround(z))))
                    continue;
                const unsigned k = static_cast<unsigned>(v % across);
                if ((k == 0 || k + 1 == across) && riverEdges++ == 0)
                    firstRiver = At(x, z);
                if ((vertices[v].color >> 24) < 255u && fadedOverWater++ == 0)
                    firstFade = At(x, z);
            }
            riverRows += static_cast<int>(vertices.size() / across);
        }
    }
    EXPECT_EQ(lakeEdges, 0) << "a lake's painted area ends over ground under its surface, first" << firstLake;
    EXPECT_EQ(riverEdges, 0) << "a river's side lies over ground under its surface, first" << firstRiver;
    EXPECT_EQ(fadedOverWater, 0) << "a river fades out over its open channel, first" << firstFade;
    EXPECT_GT(riverRows, 36 * 8);
}

} // namespace
} // namespace GAME
