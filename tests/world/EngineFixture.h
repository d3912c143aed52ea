// A test engine that records every log line it is given, and a fixture that writes the sample game
// data into a temporary folder, mounts it, points the engine's paths there, drives the clocks by
// hand and catches fatal errors.
#pragma once

#include "common/TempDir.h"
#include "core/Log.h"
#include "core/Time.h"
#include "data/FileSystem.h"
#include "datakit/SampleGameData.h"
#include "datakit/WorldGenerator.h"
#include "graphics/GraphicsEngineSettings.h"
#include "graphics/RenderDevice.h"
#include "platform/FatalError.h"
#include "world/Engine.h"
#include "world/Level.h"
#include "world/Region.h"
#include "world/World.h"

#include <atomic>
#include <cstdarg>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace GAME::Test {

struct EngineLogLine
{
    int priority;
    unsigned int category;
    std::string text;
};

class TestEngine : public Engine
{
public:
    // The engine's threads log until it shuts down, into the lines kept here.
    ~TestEngine() override { Shutdown(); }

    void Log(LogPriority priority, unsigned int category, const char* format, ...) const override
    {
        va_list args;
        va_start(args, format);
        Record(priority, category, FormatStringV(format, args));
        va_end(args);
    }
    void Log(LogPriority priority, const char* format, ...) const override
    {
        va_list args;
        va_start(args, format);
        Record(priority, 0, FormatStringV(format, args));
        va_end(args);
    }

    std::vector<EngineLogLine> Lines() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_lines;
    }
    // The first line holding the fragment, -1 when none does.
    int Find(const std::string& fragment, int priority = -1) const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (size_t i = 0; i < m_lines.size(); ++i)
            if (m_lines[i].text.find(fragment) != std::string::npos &&
                (priority < 0 || m_lines[i].priority == priority))
                return static_cast<int>(i);
        return -1;
    }
    bool Has(const std::string& fragment, int priority = -1) const { return Find(fragment, priority) >= 0; }

    // Called (on the logging thread, outside the record's lock) for every line.
    std::function<void(const EngineLogLine&)> onLine;

private:
    void Record(int priority, unsigned int category, std::string text) const
    {
        EngineLogLine line{priority, category, std::move(text)};
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_lines.push_back(line);
        }
        if (onLine)
            onLine(line);
    }

    mutable std::mutex m_mutex;
    mutable std::vector<EngineLogLine> m_lines;
};

class EngineTestClock : public MachineClock
{
public:
    bool HasPerformanceCounter() const override { return true; }
    uint64_t GetPerformanceCounter() const override { return m_counter.load(); }
    uint64_t GetPerformanceFrequency() const override { return 1000000; }
    uint32_t GetMilliseconds() const override { return static_cast<uint32_t>(m_counter.load() / 1000); }
    void Advance(int ms) { m_counter += static_cast<uint64_t>(ms) * 1000; }

private:
    std::atomic<uint64_t> m_counter{1000000000ull};
};

class EngineTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        settings.deviceName = "Software"; // order and state tests record through the software device
        SetMachineClock(&clock);
        ResetTimeSystem();
        Platform::SetFatalErrorHook(&EngineTest::OnFatalError);
        s_fatalErrors.clear();
    }

    void TearDown() override
    {
        engine.reset();
        Platform::SetFatalErrorHook(nullptr);
        SetMachineClock(nullptr);
        ResetTimeSystem();
        RenderDevice::UnloadLibraries();
    }

    // Writes the data, mounts it and makes the engine with its paths set (not yet started).
    TestEngine& Make()
    {
        EXPECT_TRUE(data.Write(dir.Path()));
        files.AddSource(FileSystem::PARTITION_1, dir.Path().c_str(), false, false, false);
        engine = std::make_unique<TestEngine>();
        gEngine = engine.get();
        engine->SetLogPath(dir.File("log.html"));
        engine->SetDefaultSettingsPath(DataKit::SampleGameData::defaultSettingsName);
        engine->SetNormalSettingsPath(DataKit::SampleGameData::userSettingsName);
        return *engine;
    }

    TestEngine& Start(bool editorMode = false)
    {
        TestEngine& e = Make();
        e.Initialize(nullptr, settings, editorMode, false, &files);
        return e;
    }

    // The sample host's fields and caves with nothing on them: their ground and water alone.
    static DataKit::WorldGenerator::Settings SampleGround()
    {
        DataKit::WorldGenerator::Settings settings = DataKit::WorldGenerator::SampleWorld();
        settings.entitiesPerRegion = 0;
        settings.entitiesPerCave = 0;
        settings.walkersPerRegion = 0;
        settings.walkersPerCave = 0;
        settings.villages = 0;
        settings.lightsPerCave = 0;
        return settings;
    }

    // Generates the world into the test folder, starts the engine over it and loads its map (the
    // generator's records must be in `data` already); null when any step fails.
    World* StartGenerated(DataKit::WorldGenerator& generator)
    {
        if (!generator.Generate() || !generator.Write(dir.Path()))
            return nullptr;
        World* world = Start().GetWorld();
        return world && world->Load(generator.GetSettings().mapName.c_str(), true) ? world : nullptr;
    }

    // The region's level, loaded now and completed as a frame would.
    Level* LoadLevelNow(Region* region)
    {
        region->LoadLevel(true);
        region->WaitForLoadingToFinish();
        engine->GetWorld()->PostLoadPass();
        return region->GetLevelPtr();
    }

    // One frame as a host runs it, after the clock moved on.
    void Frame(int milliseconds = 16, const WorldFrustum* frustum = nullptr)
    {
        clock.Advance(milliseconds);
        engine->Update(frustum, true);
        engine->Render();
        engine->PresentSurface();
    }

    static void OnFatalError(const std::string& title, const std::string& text)
    {
        s_fatalErrors.push_back(title + "|" + text);
    }

    static inline std::vector<std::string> s_fatalErrors;

    EngineTestClock clock;
    TempDir dir;
    DataKit::SampleGameData data;
    FileSystem files;
    GraphicsEngineSettings settings;
    std::unique_ptr<TestEngine> engine;
};

} // namespace GAME::Test
