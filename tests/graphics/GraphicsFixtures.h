// A graphics engine over the software device for the graphics tests: game data in memory (files
// the test puts, reached through the data layer's engine services), a resource loader that the
// test drives (no thread), the options, the software module's controls and a log capture.
// Start() makes and initialises the engine; a setup function sees each new device before the
// engine uses it. A clock moved by hand stands in for the machine's while a FrameClock lives.
//
// The helpers are named for the graphics tests: this binary also holds the world's engine
// fixture, and two different classes of one name would break the one-definition rule.
#pragma once

#include "SoftwareDeviceAccess.h"
#include "common/LogCapture.h"
#include "common/TempDir.h"

#include "core/Time.h"
#include "data/EngineDataServices.h"
#include "data/FileSource.h"
#include "data/FileSystem.h"
#include "data/Options.h"
#include "data/ResourceLoader.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/GraphicsShader2.h"
#include "graphics/GraphicsTexture.h"
#include "graphics/RenderDevice.h"
#include "graphics/RenderTexture.h"
#include "graphics/RenderVertexDeclaration.h"

#include <atomic>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace GAME::Test {

// Files in memory, by normal name.
class GraphicsFileSource : public FileSource
{
public:
    class MemoryFile : public File
    {
    public:
        MemoryFile(FileSource* source, std::string bytes) : m_source(source), m_bytes(std::move(bytes)) {}
        FileSource* GetSource() override { return m_source; }
        const void* Lock(unsigned offset, unsigned size) override
        {
            if (offset > m_bytes.size() || size > m_bytes.size() - offset)
                return nullptr;
            return m_bytes.data() + offset;
        }
        void Unlock() override {}
        bool Write(unsigned, const void*, unsigned) override { return false; }
        unsigned GetLength() override { return static_cast<unsigned>(m_bytes.size()); }

    private:
        FileSource* m_source;
        std::string m_bytes;
    };

    void Put(std::string name, const std::string& bytes)
    {
        FileSystem::ConvertFileName(name);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_files[name] = bytes;
    }

    bool IsFileWriteable(const char*) override { return false; }
    File* OpenFile(const char* name, FileMode mode) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_files.find(name);
        if (mode != FILE_MODE_READ || it == m_files.end())
            return nullptr;
        return new MemoryFile(this, it->second);
    }
    void CloseFile(File*& file) override
    {
        delete file;
        file = nullptr;
    }
    FileStream* OpenFileStream(const char*) override { return nullptr; }
    void CloseFileStream(FileStream*&) override {}
    void GetMatchingFiles(std::vector<std::string>&, const std::string&) override {}
    bool FindFilePath(const char*, std::string&) override { return false; }
    std::string FindFileInDirectoryTree(const std::string&) override { return std::string(); }
    bool GetFileTime(const char*, FileTime&) override { return false; }

private:
    std::mutex m_mutex;
    std::map<std::string, std::string> m_files;
};

// The engine services of the data layer while it lives: the memory files, a frame counter the
// test sets, and the statistics lines kept for the test.
class GraphicsServices : public EngineDataServices
{
public:
    GraphicsServices() : source(new GraphicsFileSource)
    {
        files.AddSource(FileSystem::PARTITION_0, source);
        Install(this);
    }
    ~GraphicsServices() override { Install(nullptr); }

    unsigned int GetFrameCount() override { return frame.load(); }
    FileSystem* GetFileSystem() override { return &files; }
    void AddStatisticText(const char* text) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        stats.push_back(text);
    }
    unsigned int GetEngineLogCategory() override { return 0; }
    bool AreGraphicsStatsEnabled() override { return false; }

    std::vector<std::string> TakeStats()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return std::move(stats);
    }

    FileSystem files;
    GraphicsFileSource* source; // owned by the file system
    std::atomic<unsigned int> frame{1};
    std::mutex mutex;
    std::vector<std::string> stats;
};

// Machine time in whole milliseconds, moved by the test; installed (and the clocks started from
// it) while it lives.
class FrameClock : public MachineClock
{
public:
    FrameClock()
    {
        ResetTimeSystem();
        SetMachineClock(this);
        InitializeTimeSystem();
    }
    ~FrameClock() override
    {
        SetMachineClock(nullptr);
        InitializeTimeSystem();
        ResetTimeSystem();
    }
    bool HasPerformanceCounter() const override { return false; }
    uint64_t GetPerformanceCounter() const override { return 0; }
    uint64_t GetPerformanceFrequency() const override { return 1000; }
    uint32_t GetMilliseconds() const override { return now.load(); }
    // Moves the clock and samples it as the frame's time.
    void Advance(uint32_t milliseconds)
    {
        now += milliseconds;
        UpdateTime();
    }

    std::atomic<uint32_t> now{100000};
};

class GraphicsFixture : public ::testing::Test
{
public:
    // Recorded device calls that start with the prefix.
    static std::vector<std::string> Matching(const std::vector<std::string>& calls, const std::string& prefix)
    {
        std::vector<std::string> result;
        for (const std::string& call : calls)
            if (call.compare(0, prefix.size(), prefix) == 0)
                result.push_back(call);
        return result;
    }

protected:
    void TearDown() override
    {
        if (software.Get())
            software.Get()->SetDeviceCreatedCallback({});
        engine.reset();
        loader.reset();
        RenderDevice::UnloadLibraries();
    }

    // Makes the engine (replacing one made before) and runs CreateDevice; setup sees the new
    // device's controls first.
    bool Create(std::function<void(Software::DeviceControl&)> setup = {})
    {
        engine.reset();
        if (software.Get())
            software.Get()->SetDeviceCreatedCallback(std::move(setup));
        engine = std::make_unique<GraphicsEngine>(&options, dir.File("settings.txt"), false);
        engine->SetSurfaceRetryDelay(0);
        const bool created = engine->CreateDevice(nullptr, settings);
        if (software.Get())
            software.Get()->SetDeviceCreatedCallback({});
        return created;
    }

    // Create and Initialize; both must work.
    GraphicsEngine& Start(std::function<void(Software::DeviceControl&)> setup = {})
    {
        EXPECT_TRUE(Create(std::move(setup)));
        EXPECT_TRUE(engine->Initialize(nullptr, settings, loader.get()));
        return *engine;
    }

    Software::DeviceControl* Control() const
    {
        return engine ? software.Device(engine->GetRenderDevice()) : nullptr;
    }

    void PutFile(const std::string& name, const std::vector<uint8_t>& bytes)
    {
        services.source->Put(name, std::string(bytes.begin(), bytes.end()));
    }

    // Loads through the engine's manager on this thread; the init result tells how it went.
    GraphicsShader2* LoadShader(const std::string& name, const std::vector<uint8_t>& bytes)
    {
        PutFile(name, bytes);
        GraphicsShader2* shader = engine->LoadShader2(name);
        if (shader)
            shader->EnsureAvailable();
        return shader;
    }
    GraphicsTexture* LoadTexture(const std::string& name, const std::vector<uint8_t>& bytes)
    {
        PutFile(name, bytes);
        GraphicsTexture* texture = engine->LoadTexture(name);
        if (texture)
            texture->EnsureAvailable();
        return texture;
    }

    SoftwareModuleAccess software;
    TempDir dir;
    LogCapture log;
    GraphicsServices services;
    std::unique_ptr<ResourceLoader> loader = std::make_unique<ResourceLoader>();
    Options options;
    // Order and state tests record through the software device.
    GraphicsEngineSettings settings = [] {
        GraphicsEngineSettings software;
        software.deviceName = "Software";
        return software;
    }();
    std::unique_ptr<GraphicsEngine> engine;
};

} // namespace GAME::Test
