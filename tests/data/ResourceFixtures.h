// Shared helpers of the resource and localization tests: an in-memory file source, the engine
// services the data layer asks for, a machine clock the test moves by hand, and a resource kind
// that records what the loader does to it.
#pragma once

#include "core/Event.h"
#include "core/Thread.h"
#include "core/Time.h"
#include "data/BaseResourceManager.h"
#include "data/EngineDataServices.h"
#include "data/FileSource.h"
#include "data/FileSystem.h"
#include "data/Resource.h"
#include "data/ResourceLoader.h"

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace GAME::Test {

class MemoryFileSource : public FileSource
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

// Installed for its lifetime; owns a file system over one memory source.
class TestServices : public EngineDataServices
{
public:
    TestServices() : source(new MemoryFileSource)
    {
        files.AddSource(FileSystem::PARTITION_0, source);
        Install(this);
    }
    ~TestServices() override { Install(nullptr); }

    unsigned int GetFrameCount() override { return frame.load(); }
    FileSystem* GetFileSystem() override { return &files; }
    void AddStatisticText(const char* text) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        stats.push_back(text);
    }
    unsigned int GetEngineLogCategory() override { return 7; }
    bool AreGraphicsStatsEnabled() override { return graphicsStats.load(); }

    std::vector<std::string> TakeStats()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return std::move(stats);
    }

    FileSystem files;
    MemoryFileSource* source; // owned by the file system
    std::atomic<unsigned int> frame{1};
    std::atomic<bool> graphicsStats{false};
    std::mutex mutex;
    std::vector<std::string> stats;
};

// Machine time in whole milliseconds, moved by the test; installed for its lifetime.
class ManualClock : public MachineClock
{
public:
    ManualClock()
    {
        SetMachineClock(this);
        InitializeTimeSystem();
    }
    ~ManualClock() override
    {
        SetMachineClock(nullptr);
        InitializeTimeSystem();
        ResetTimeSystem();
    }
    bool HasPerformanceCounter() const override { return false; }
    uint64_t GetPerformanceCounter() const override { return 0; }
    uint64_t GetPerformanceFrequency() const override { return 1000; }
    uint32_t GetMilliseconds() const override { return now.load(); }
    // Moves the clock and samples it as the frame's system time.
    void Advance(uint32_t milliseconds)
    {
        now += milliseconds;
        UpdateTime();
    }

    std::atomic<uint32_t> now{100000};
};

// Counts what happens to it. Its contents are the file's bytes; Initialize answers `result`.
class TestResource : public Resource
{
public:
    static inline std::atomic<int> live{0};
    static inline std::atomic<int> totalInitializes{0};
    static inline std::atomic<int> totalDestroys{0};

    TestResource(BaseResourceManager* manager, const std::string& name) : Resource(manager, name) { ++live; }
    ~TestResource() override
    {
        Unload();
        --live;
    }

    InitResult Initialize(const void* data, int size) override
    {
        ++initializes;
        ++totalInitializes;
        loadedOn = GetThreadName();
        if (gate) {
            entered.SetSignaled();
            gate->Wait();
        }
        contents.assign(static_cast<const char*>(data), static_cast<size_t>(size));
        if (GetResourceManager())
            GetResourceManager()->IncrementMemoryUsage(static_cast<unsigned int>(size));
        if (childName.size() && GetResourceManager())
            child = GetResourceManager()->LoadResource(childName);
        return static_cast<InitResult>(result.load());
    }
    void InitializeDefault() override { ++defaults; }
    void Destroy() override
    {
        ++destroys;
        ++totalDestroys;
        if (GetResourceManager()) {
            GetResourceManager()->DecrementMemoryUsage(static_cast<unsigned int>(contents.size()));
            GetResourceManager()->UnloadResource(child);
        }
        child = nullptr;
        contents.clear();
    }
    void PreLoadDependentResources() override
    {
        ++preloads;
        if (child && GetResourceLoader())
            GetResourceLoader()->EnqueueResource(child, RESOURCE_PRIORITY_HIGH, false);
    }
    std::string GetDebugInfo() const override { return debugInfo; }

    std::atomic<int> result{INIT_SUCCESS};
    std::atomic<int> initializes{0};
    std::atomic<int> defaults{0};
    std::atomic<int> destroys{0};
    std::atomic<int> preloads{0};
    Event* gate = nullptr;
    Event entered;
    std::string loadedOn;
    std::string contents;
    std::string debugInfo;
    // Taken as a reference while loaded, given back when the contents are freed.
    std::string childName;
    Resource* child = nullptr;
};

} // namespace GAME::Test
