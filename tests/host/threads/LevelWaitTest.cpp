// The host's engine over the library's threads. The main thread waiting for a level its loading
// thread has not finished, made to happen: a thread of the test holds the world's map file, so
// the region's thread cannot read its level until the main thread, needing the level at once, has
// gone to sleep waiting for it. The host's engine counts that wait, times it to the level's
// arrival and names it in the summary's lines. And a client's session that the server ends under
// it: the summary and the exit code say so. The tests wait on counts and states, never on the
// clock, and assert no durations.
#include "HostEngine.h"
#include "HostOutput.h"
#include "LevelLoadTimes.h"
#include "NetworkOptions.h"

#include "common/OneRegionWorld.h"
#include "common/TempDir.h"
#include "common/WaitUntil.h"
#include "data/FileSystem.h"
#include "datakit/SampleGameData.h"
#include "datakit/WorldGenerator.h"
#include "graphics/GraphicsEngineSettings.h"
#include "graphics/RenderDevice.h"
#include "network/ServerConnectionManager.h"
#include "platform/Threading.h"
#include "world/Region.h"
#include "world/World.h"

#include <atomic>
#include <cstdio>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

namespace SampleHost {
namespace {

// The host's engine over the sample data in the folder, on the recording device, its log there.
void Start(HostEngine& engine, const GAME::Test::TempDir& dir, GAME::FileSystem& files)
{
    GAME::gEngine = &engine;
    engine.SetLogPath(dir.File("log.html"));
    engine.SetDefaultSettingsPath(DataKit::SampleGameData::defaultSettingsName);
    engine.SetNormalSettingsPath(DataKit::SampleGameData::userSettingsName);
    GAME::GraphicsEngineSettings settings;
    settings.deviceName = "Software";
    engine.Initialize(nullptr, settings, false, false, &files);
}

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
        Start(engine, dir, files);
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

// A client whose server ends the session under it runs on alone: the summary's network line says
// it joined, when the session ended and why, and the run's exit code is the one a script tells
// from a whole networked run by (it was 0, the line "stub (no network)", as if it never joined).
TEST(LevelWaitThreadsTest, AClientWhoseSessionTheServerEndsSaysSoAndEndsWithItsOwnExitCode)
{
    GAME::Test::TempDir dir;
    DataKit::SampleGameData data;
    ASSERT_TRUE(data.Write(dir.Path()));
    GAME::FileSystem files;
    files.AddSource(GAME::FileSystem::PARTITION_1, dir.Path().c_str(), false, false, false);
    HostOutput output;
    HostLogSink lines(output, false);
    {
        HostEngine engine(output, lines);
        Start(engine, dir, files);
        ASSERT_NE(engine.GetWorld(), nullptr);

        GAME::ServerConnectionManager server;
        ASSERT_TRUE(server.Listen("127.0.0.1", 0));
        NetworkOptions options;
        options.role = NetworkOptions::ROLE_CLIENT;
        options.address = "127.0.0.1";
        options.port = server.GetPort();
        HostSession session(engine, options, output);
        ASSERT_TRUE(session.Start());
        // The engine's frames and the server's, until the condition holds (a minute: a hang).
        auto framesUntil = [&](const std::function<bool()>& done) {
            return GAME::Test::WaitUntil([&] {
                engine.Update(nullptr, false);
                server.Update(5);
                GAME::Platform::SleepMilliseconds(1);
                return done();
            });
        };
        ASSERT_TRUE(framesUntil([&] { return !session.IsJoining(); }));
        session.EndJoining(0.0);
        const std::string client = "client of 127.0.0.1 port " + std::to_string(options.port) + ": ";
        EXPECT_EQ(session.Describe(), client + "joined as host 1, the session lasted the run");
        EXPECT_EQ(session.GetExitCode(), 0);
        EXPECT_EQ(session.DescribeRanAlone(), "");

        server.Shutdown();
        ASSERT_TRUE(framesUntil([&] { return !engine.IsNetworkClient(); }));
        const std::string said = session.Describe();
        EXPECT_EQ(said.rfind(client + "joined as host 1; the session ended after ", 0), 0u) << said;
        EXPECT_NE(said.find(" s (the server ended its session), then ran alone"), std::string::npos) << said;
        EXPECT_EQ(session.GetExitCode(), exitCodeRanAlone);
        EXPECT_EQ(
            session.DescribeRanAlone().rfind("EngineHost: ran alone: the session of 127.0.0.1 port ", 0), 0u);
        // A run that could not write a file as well fails as such.
        output.NoteNotWritten("run/screenshot_01.png", "the file is read-only");
        testing::internal::CaptureStderr();
        EXPECT_EQ(FinishRun(output, session.GetExitCode()), 1);
        testing::internal::GetCapturedStderr();
        engine.Shutdown();
    }
    GAME::RenderDevice::UnloadLibraries();
}

} // namespace
} // namespace SampleHost
