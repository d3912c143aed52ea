// The engine's part for the world fuzz targets: a file system over files held in memory (readable
// and writable), a sector data manager and a map chunk callback table, installed while it lives.
// Each input gets a fresh one, so nothing read by one input is kept for the next.
#pragma once

#include "data/EngineDataServices.h"
#include "data/FileSource.h"
#include "data/FileSystem.h"
#include "world/MapChunkCallback.h"
#include "world/SectorDataManager.h"
#include "world/WorldServices.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace FuzzWorld {

class MemoryFileSource : public GAME::FileSource
{
public:
    class MemoryFile : public GAME::File
    {
    public:
        MemoryFile(MemoryFileSource* source, std::string name) : m_source(source), m_name(std::move(name)) {}
        GAME::FileSource* GetSource() override { return m_source; }
        const void* Lock(unsigned offset, unsigned size) override
        {
            const std::vector<uint8_t>& bytes = m_source->m_files[m_name];
            if (offset > bytes.size() || size > bytes.size() - offset)
                return nullptr;
            return bytes.data() + offset;
        }
        void Unlock() override {}
        bool Write(unsigned offset, const void* data, unsigned size) override
        {
            std::vector<uint8_t>& bytes = m_source->m_files[m_name];
            if (bytes.size() < static_cast<size_t>(offset) + size)
                bytes.resize(static_cast<size_t>(offset) + size);
            std::copy(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size,
                      bytes.begin() + offset);
            return true;
        }
        unsigned GetLength() override { return static_cast<unsigned>(m_source->m_files[m_name].size()); }

    private:
        MemoryFileSource* m_source;
        std::string m_name;
    };

    void Put(std::string name, std::vector<uint8_t> bytes)
    {
        GAME::FileSystem::ConvertFileName(name);
        m_files[name] = std::move(bytes);
    }
    std::vector<uint8_t> Get(std::string name)
    {
        GAME::FileSystem::ConvertFileName(name);
        auto it = m_files.find(name);
        return it == m_files.end() ? std::vector<uint8_t>() : it->second;
    }

    bool IsFileWriteable(const char*) override { return true; }
    GAME::File* OpenFile(const char* name, GAME::FileMode mode) override
    {
        if (mode == GAME::FILE_MODE_WRITE)
            m_files[name].clear();
        else if (!m_files.count(name))
            return nullptr;
        return new MemoryFile(this, name);
    }
    bool CloseFile(GAME::File*& file) override
    {
        delete file;
        file = nullptr;
        return true;
    }
    GAME::FileStream* OpenFileStream(const char*) override { return nullptr; }
    void CloseFileStream(GAME::FileStream*&) override {}
    void GetMatchingFiles(std::vector<std::string>&, const std::string&) override {}
    bool FindFilePath(const char*, std::string&) override { return false; }
    std::string FindFileInDirectoryTree(const std::string&) override { return std::string(); }
    bool GetFileTime(const char*, GAME::FileTime&) override { return false; }

private:
    std::map<std::string, std::vector<uint8_t>> m_files;
};

class Services : public GAME::EngineDataServices, public GAME::WorldServices
{
public:
    Services() : source(new MemoryFileSource)
    {
        files.AddSource(GAME::FileSystem::PARTITION_0, source);
        GAME::EngineDataServices::Install(this);
        GAME::WorldServices::Install(this);
    }
    ~Services() override
    {
        GAME::WorldServices::Install(nullptr);
        GAME::EngineDataServices::Install(nullptr);
    }
    Services(const Services&) = delete;
    Services& operator=(const Services&) = delete;

    unsigned int GetFrameCount() override { return 1; }
    GAME::FileSystem* GetFileSystem() override { return &files; }
    void AddStatisticText(const char*) override {}
    unsigned int GetEngineLogCategory() override { return 0; }
    bool AreGraphicsStatsEnabled() override { return false; }
    GAME::SectorDataManager* GetSectorDataManager() override { return &sectorData; }
    bool InstallMapChunkCallback(GAME::MapChunkCallback* callback) override
    {
        return callbacks.Install(callback);
    }
    const GAME::MapChunkCallbackMap& GetChunkCallbackMap() override { return callbacks; }

    GAME::FileSystem files;
    MemoryFileSource* source; // owned by the file system
    GAME::SectorDataManager sectorData;
    GAME::MapChunkCallbackMap callbacks;
};

} // namespace FuzzWorld
