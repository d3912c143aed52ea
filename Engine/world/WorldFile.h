// The reader of source world files ("WRL"): the form the editor saves, with the regions, their
// icons, the instance groups and the quest file names; each region's level lives in a level file of
// its own. World::Load turns the result into regions; World::Save writes the format. A plain value
// (copying copies the icon and instance blocks too). One thread at a time.
#pragma once

#include "core/ABBox.h"
#include "core/IntVec3.h"
#include "data/RegionId.h"

#include <cstdint>
#include <string>
#include <vector>

namespace GAME {

class BinaryReader;

class WorldFile
{
public:
    enum ChunkId : uint32_t
    {
        CHUNK_INSTANCE_GROUPS = 17,
        CHUNK_REGIONS = 19,
        CHUNK_REGION_ICONS = 21,
        CHUNK_QUEST_FILES = 27,
    };

    // The version World::Save writes; files from version 5 on are made of chunks.
    static constexpr int kVersion = 6;

    struct Region
    {
        std::string name;
        std::string zoneRecord;
        ABBox box;
        IntVec3 offset;
        RegionId id;
    };

    WorldFile() = default;
    ~WorldFile() = default;
    WorldFile(const WorldFile&) = default;
    WorldFile& operator=(const WorldFile&) = default;

    // Reads a whole file. False for another magic, and false (logged) for counts, strings or
    // chunks that run past the data; any version is read.
    bool Read(BinaryReader& reader);

    int GetVersion() const { return m_version; }
    unsigned GetNumQuestFiles() const { return static_cast<unsigned>(m_questFiles.size()); }
    const std::string& GetQuestFile(unsigned index) const { return m_questFiles[index]; }
    unsigned GetNumRegions() const { return static_cast<unsigned>(m_regions.size()); }
    const Region& GetRegion(unsigned index) const { return m_regions[index]; }
    // The payloads of the icon and instance chunks, parsed by World::Load; null when absent.
    const char* GetIconData() const;
    unsigned GetIconDataSize() const { return static_cast<unsigned>(m_iconData.size()); }
    const char* GetInstanceData() const;
    unsigned GetInstanceDataSize() const { return static_cast<unsigned>(m_instanceData.size()); }

private:
    bool ReadOldLayout(BinaryReader& reader);
    bool ReadQuestFiles(BinaryReader& reader);
    bool ReadRegions(BinaryReader& reader);

    int m_version = 0;
    std::vector<std::string> m_questFiles;
    std::vector<Region> m_regions;
    std::vector<char> m_iconData;
    std::vector<char> m_instanceData;
};

} // namespace GAME
