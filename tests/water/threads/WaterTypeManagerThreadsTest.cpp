// Level loading threads register, take and release water types while the main thread asks for and
// edits them: every load sees its types, and when all waters are gone no type is left.
#include "../WaterFixtures.h"

#include "datakit/WaterWriter.h"
#include "terrain/WaterLayer.h"
#include "terrain/WaterPath.h"

#include <atomic>
#include <thread>
#include <vector>

namespace GAME::WaterTest {
namespace {

class WaterTypeManagerThreads : public WaterTestBase
{
};

std::vector<uint8_t> Block(int variant)
{
    using DataKit::WaterWriter;
    WaterWriter w;
    WaterWriter::Type lake = WaterWriter::LakeType(), river = WaterWriter::RiverType();
    // Each thread brings its own definition of the shared names, and one name of its own.
    lake.scrollSpeed = static_cast<float>(variant);
    WaterWriter::Type own = river;
    own.name = "Own" + std::to_string(variant);
    w.types = {lake, river, own};
    WaterWriter::Layer layer;
    layer.type = variant % 2 ? "LAKE" : "lake";
    layer.height = 1.0f;
    layer.extent[0] = layer.extent[1] = 36.0f;
    layer.blocks = WaterWriter::PaintBlocks(4, 4, [](float x, float z) { return x + z < 20.0f; });
    WaterWriter::Path path;
    path.type = variant % 3 ? river.name : own.name;
    path.height = 0.5f;
    path.points = WaterWriter::SmoothCurve({{2.0f, 30.0f}, {18.0f, 28.0f}, {34.0f, 30.0f}}, 2.0f);
    w.layers = {layer, layer};
    w.paths = {path};
    return w.Build();
}

TEST_F(WaterTypeManagerThreads, LoadingThreadsAndTheMainThreadShareTheTypes)
{
    constexpr int kThreads = 4, kRounds = 12;
    std::atomic<int> failures{0}, finished{0};
    std::atomic<bool> mainAsked{false};
    std::vector<std::thread> loaders;
    for (int t = 0; t < kThreads; ++t)
        loaders.emplace_back([this, t, &failures, &finished, &mainAsked] {
            // Optimised loads can all be over before the main thread first asks: wait for it.
            while (!mainAsked.load())
                std::this_thread::yield();
            for (int round = 0; round < kRounds; ++round) {
                const std::vector<uint8_t> bytes = Block(t * kRounds + round);
                Water water(nullptr);
                water.Initialize(36, 36, nullptr, nullptr, device);
                BinaryReader reader(bytes.data(), static_cast<unsigned>(bytes.size()));
                const bool loaded = water.Load(reader);
                const WaterLayer* a = water.GetLayer(0);
                const WaterLayer* b = water.GetLayer(1);
                if (!loaded || !a || !b || !water.GetPath(0) || !a->GetWaterType() ||
                    a->GetWaterType() != b->GetWaterType())
                    ++failures;
            }
            ++finished;
        });
    // Meanwhile the main thread asks, takes and lets go, as the editor and the drawing do.
    WaterTypeManager& manager = *WaterTypeManager::Get();
    // The loaders start once the main thread has asked once; it goes on asking while they load.
    do {
        std::vector<std::string> names;
        manager.GetWaterTypeNames(names);
        if (WaterType* lake = manager.GetWaterType("Lake")) {
            lake->Update();
            manager.ReleaseWaterType(lake);
        }
        manager.ReleaseWaterType(manager.CreateWaterType("Editor"));
        mainAsked.store(true);
    } while (finished.load() < kThreads);
    for (std::thread& loader : loaders)
        loader.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(manager.GetNumWaterTypes(), 0);
}

} // namespace
} // namespace GAME::WaterTest
