// Game data in memory for tests: a read-only file source whose files the test puts (by normal
// name; a file opened keeps the bytes it had), the data layer's engine services over one such
// source, installed while they live, and a machine clock in whole milliseconds that the test moves.
// Header only (the fuzz targets use it too). Put, opening and the services' counters may be used
// from any thread; the clock is moved by the test's thread.
#pragma once

#include "core/Time.h"
#include "data/EngineDataServices.h"
#include "data/File.h"
#include "data/FileSource.h"
#include "data/FileSystem.h"

#include <atomic>
#include <cstdint>
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
    void Put(std::string name, const std::vector<uint8_t>& bytes)
    {
        Put(std::move(name), std::string(bytes.begin(), bytes.end()));
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
    bool CloseFile(File*& file) override
    {
        delete file;
        file = nullptr;
        return true;
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

// The data layer's engine services while they live: a file system over one memory source, a frame
// counter and the graphics statistics switch the test sets, and the statistics lines kept for it.
class MemoryDataServices : public EngineDataServices
{
public:
    explicit MemoryDataServices(unsigned int logCategory = 0)
        : source(new MemoryFileSource), m_logCategory(logCategory)
    {
        files.AddSource(FileSystem::PARTITION_0, source);
        Install(this);
    }
    ~MemoryDataServices() override { Install(nullptr); }
    MemoryDataServices(const MemoryDataServices&) = delete;
    MemoryDataServices& operator=(const MemoryDataServices&) = delete;

    unsigned int GetFrameCount() override { return frame.load(); }
    FileSystem* GetFileSystem() override { return &files; }
    void AddStatisticText(const char* text) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        stats.push_back(text);
    }
    unsigned int GetEngineLogCategory() override { return m_logCategory; }
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

private:
    const unsigned int m_logCategory;
};

// Machine time in whole milliseconds, moved by the test; installed (and the clocks started from it)
// while it lives.
class ManualClock : public MachineClock
{
public:
    ManualClock()
    {
        ResetTimeSystem();
        SetMachineClock(this);
        InitializeTimeSystem();
    }
    ~ManualClock() override
    {
        SetMachineClock(nullptr);
        InitializeTimeSystem();
        ResetTimeSystem();
    }
    ManualClock(const ManualClock&) = delete;
    ManualClock& operator=(const ManualClock&) = delete;

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

} // namespace GAME::Test
