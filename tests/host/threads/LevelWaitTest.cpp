// The main thread waiting for a level its loading thread has not finished, made to happen: a
// thread of the test holds the world's map file, so the region's thread cannot read its level
// until the main thread, needing the level at once, has gone to sleep waiting for it. The host's
// engine counts that wait, times it to the level's arrival and names it in the summary's lines.
// The test waits on the wait's count, never on the clock, and asserts no durations.
#include "HostEngine.h"
#include "HostOutput.h"
#include "LevelLoadTimes.h"

#include "common/OneRegionWorld.h"
#include "common/TempDir.h"
#include "common/WaitUntil.h"
#include "data/FileSystem.h"
#include "datakit/SampleGameData.h"
#include "datakit/WorldGenerator.h"
#include "graphics/GraphicsEngineSettings.h"
#include "graphics/RenderDevice.h"
#include "world/Region.h"
#include "world/World.h"

#include <atomic>
#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

namespace SampleHost {
namespace {

TEST(LevelWaitThreadsTest, AWaitForALevelStillLoadingIsCountedTimedAndNamedInTheSummary)
{
    GAME::Test::TempDir dir;
    DataKit::SampleGameData data;
    DataKit::WorldGenerator::AddRecords(data.Database());
    ASSERT_TRUE(data.Write(dir.Path()));
    DataKit::WorldGenerator generator(GAME::Test::OneRegionWorld());
    ASSERT_TRUE(generator.Generate() && generator.Write(dir.Path()));
    GAME::FileSystem files;
    files.AddSource(GAME::FileSystem::PARTITION_1, dir.Path().c_str(), false, false, false);

    HostOutput output;
    HostLogSink lines(output, false);
    {
        HostEngine engine(output, lines);
        GAME::gEngine = &engine;
        engine.SetLogPath(dir.File("log.html"));
        engine.SetDefaultSettingsPath(DataKit::SampleGameData::defaultSettingsName);
        engine.SetNormalSettingsPath(DataKit::SampleGameData::userSettingsName);
        GAME::GraphicsEngineSettings settings;
        settings.deviceName = "Software";
        engine.Initialize(nullptr, settings, false, false, &files);
        GAME::World* world = engine.GetWorld();
        ASSERT_TRUE(world && world->Load(generator.GetSettings().mapName.c_str(), true));
        GAME::Region* region = world->GetRegion(0);
        ASSERT_NE(region, nullptr);

        std::atomic<bool> held{false};
        std::thread holder([&] {
            if (!world->LockMapFile())
                return;
            held = true;
            // Let go once the main thread sleeps waiting (or after the hang's deadline, which fails below).
            GAME::Test::WaitUntil([&] { return engine.GetLevelWaitCount() > 0; });
            world->UnlockMapFile();
        });
        ASSERT_TRUE(GAME::Test::WaitUntil([&] { return held.load(); }));
        region->BackgroundLoadLevel(true, false);
        engine.NoteLoadsAsked(*world, 1000.0);
        engine.SetWaitContext("at 1000 ms of path", LevelLoadTimes::NEED_DRAWING, 1000.0);
        const bool loaded = region->GuaranteedGetLevel(true) != nullptr;
        holder.join();
        ASSERT_TRUE(loaded);

        const LevelLoadTimes& times = engine.GetLevelLoadTimes();
        const std::vector<LevelLoadTimes::Wait> waits = times.GetWaits();
        ASSERT_EQ(waits.size(), 1u);
        EXPECT_EQ(waits[0].level, region->GetName());
        EXPECT_EQ(waits[0].need, LevelLoadTimes::NEED_DRAWING);
        EXPECT_GE(waits[0].arrived, waits[0].began); // timed to the level's arrival
        const std::vector<LevelLoadTimes::Load> loads = times.GetLoads();
        ASSERT_EQ(loads.size(), 1u);
        EXPECT_LE(loads[0].asked, waits[0].began);
        // Its thread read the level only once the main thread was waiting for it.
        EXPECT_GE(loads[0].begun, waits[0].began);
        EXPECT_GE(loads[0].ended, loads[0].begun);
        EXPECT_EQ(loads[0].arrived, waits[0].arrived);

        const std::vector<std::string> summary = DescribeLevelWaits(loads, waits, 120.0f);
        ASSERT_EQ(summary.size(), 2u);
        const std::string name = ShortLevelName(region->GetName());
        EXPECT_EQ(summary[0].rfind("the main thread waited for 1 level still loading on its thread, ", 0), 0u)
            << summary[0];
        EXPECT_NE(summary[0].find(": " + name + " "), std::string::npos) << summary[0];
        EXPECT_NE(summary[1].find(name + " came late: its load was asked for "), std::string::npos)
            << summary[1];
        for (const std::string& line : summary)
            std::printf("summary: %s\n", line.c_str());
        engine.Shutdown();
    }
    GAME::RenderDevice::UnloadLibraries();
}

} // namespace
} // namespace SampleHost
