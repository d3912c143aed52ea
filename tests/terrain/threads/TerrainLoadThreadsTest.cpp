// Run-time terrains load on levels' loading threads: several at once, each making its layers'
// terrain types through the one object manager, while the main thread queries a terrain that is
// already loaded.
#include "common/RecordServices.h"
#include "core/Intersection.h"
#include "core/ObjectManager.h"
#include "core/Ray.h"
#include "data/BinaryReader.h"
#include "datakit/ArzWriter.h"
#include "datakit/TerrainWriter.h"
#include "terrain/TerrainRT.h"
#include "terrain/TerrainType.h"

#include <atomic>
#include <climits>
#include <cmath>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace GAME {
namespace {

DataKit::TerrainWriter LayeredTerrain(unsigned seed)
{
    DataKit::TerrainWriter writer(33, 33);
    for (unsigned y = 0; y < 33; ++y)
        for (unsigned x = 0; x < 33; ++x)
            writer.Height(x, y) =
                std::sin(static_cast<float>(x * seed) * 0.1f) + 0.1f * static_cast<float>(y);
    DataKit::TerrainWriter::Layer dirt, stone;
    dirt.typeRecord = "records/terrain/dirt.dbr";
    stone.typeRecord = "records/terrain/stone.dbr";
    stone.opacity.assign(32 * 32, 100);
    writer.layers = {dirt, stone};
    return writer;
}

TEST(TerrainLoadThreads, TerrainsLoadOnSeveralThreadsWhileTheMainThreadQueries)
{
    ObjectManager::Destroy();
    DataKit::ArzWriter database;
    database.AddRecord("records/terrain/dirt.dbr")
        .String("Class", "TerrainType")
        .String("surfaceType", "Dirt");
    database.AddRecord("records/terrain/stone.dbr")
        .String("Class", "TerrainType")
        .String("surfaceType", "Stone");
    GAME::Test::RecordServices records;
    ASSERT_TRUE(records.Load(database.Build()));

    const std::vector<uint8_t> body = LayeredTerrain(3).Build();
    TerrainRT shown(nullptr);
    {
        BinaryReader reader(body.data(), static_cast<unsigned>(body.size()));
        ASSERT_TRUE(shown.Load(reader, 13));
    }
    std::atomic<int> loaded{0};
    std::vector<std::thread> loaders;
    for (unsigned t = 0; t < 4; ++t)
        loaders.emplace_back([&, t] {
            const std::vector<uint8_t> own = LayeredTerrain(t + 5).Build();
            for (int round = 0; round < 5; ++round) {
                TerrainRT terrain(nullptr);
                BinaryReader reader(own.data(), static_cast<unsigned>(own.size()));
                if (terrain.Load(reader, 13) && terrain.GetLayerTerrainType(1) &&
                    terrain.GetLayerTerrainType(1)->GetSurface() == 5)
                    ++loaded;
            }
        });
    int queries = 0;
    while (loaded.load() < 20 && queries < 200000) {
        Intersection hit;
        shown.GetIntersection(Ray(Vec3(10.5f, 20.0f, 12.5f), Vec3(0.0f, -1.0f, 0.0f)), hit,
                              physicsSurfaceAny);
        EXPECT_TRUE(hit.IsHit());
        ++queries;
        if (loaded.load() >= 20)
            break;
        std::this_thread::yield();
    }
    for (std::thread& loader : loaders)
        loader.join();
    EXPECT_EQ(loaded.load(), 20);
    shown.Unload();
    ObjectManager::Get()->DestroyPendingObjects(UINT_MAX);
    ObjectManager::Destroy();
}

} // namespace
} // namespace GAME
