// Writes compiled maps ("MAP") as World::LoadMap reads them: the 8-byte header, the chunks, then
// each region's level image and minimap image at the absolute offsets the chunks give. The engine
// only reads the format; tests, fuzz seeds and the sample host make their maps here. Chunks can be
// written in any order, raw chunks of any id added, and the layout of the last image is reported
// so a test can damage exactly one field. One thread at a time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace DataKit {

class MapWriter
{
public:
    enum ChunkId : uint32_t
    {
        CHUNK_REGIONS = 0x01,
        CHUNK_SPAWN_POINTS = 0x10,
        CHUNK_INSTANCE_GROUPS = 0x11,
        CHUNK_OLD_MINIMAP = 0x16,
        CHUNK_SECTOR_DATA = 0x18,
        CHUNK_MINIMAP = 0x19,
        CHUNK_QUEST_FILES = 0x1b,
    };

    struct Region
    {
        int32_t center[3] = {0, 0, 0};
        int32_t extents[3] = {0, 0, 0};
        int32_t offset[3] = {0, 0, 0};
        uint32_t id[4] = {0, 0, 0, 0};
        std::string zoneRecord; // stored only by version 5
        std::string name;
        std::vector<uint8_t> level;   // a level file image
        std::vector<uint8_t> minimap; // an image file; no minimap record when every region's is empty
    };

    // Where the pieces of the last image went, as absolute file offsets.
    struct Layout
    {
        uint32_t dataLength = 0;
        std::vector<uint32_t> chunkIds;     // in file order
        std::vector<uint32_t> chunkOffsets; // each chunk's id word
        std::vector<uint32_t> regionRecordOffsets;
        std::vector<uint32_t> levelOffsets;
        std::vector<uint32_t> minimapOffsets;
        // The first chunk with the id; 0 when there is none.
        uint32_t ChunkOffset(uint32_t id) const;
    };

    explicit MapWriter(int8_t version = 4) : m_version(version) {}

    void SetVersion(int8_t version) { m_version = version; }
    // The reference stays valid until the next AddRegion.
    Region& AddRegion(const std::string& name);
    void AddSpawnPoint(uint32_t regionIndex, float x, float y, float z);
    void AddQuestFile(const std::string& name) { m_questFiles.push_back(name); }
    // Payloads of the instance group and sector data chunks, made by the engine's own writers.
    void SetInstanceGroups(const std::vector<uint8_t>& block) { m_instanceGroups = block; }
    void SetSectorData(const std::vector<uint8_t>& block) { m_sectorData = block; }
    // How many minimap records to write (fewer than the regions: the first ones); -1 for one per
    // region.
    void SetMinimapRecordCount(int count) { m_minimapCount = count; }
    // A chunk written as given (callback chunks, the old minimap chunk, unknown ids).
    void AddChunk(uint32_t id, const std::vector<uint8_t>& payload);
    // The order of the chunks by id; chunks not named follow in the default order (regions, spawn
    // points, instance groups, sector data, minimap, quest files, then the raw chunks as added).
    void SetChunkOrder(const std::vector<uint32_t>& ids) { m_order = ids; }

    std::vector<uint8_t> Build(Layout* layout = nullptr) const;
    bool Save(const std::string& path) const;

private:
    struct RawChunk
    {
        uint32_t id;
        std::vector<uint8_t> payload;
    };

    std::vector<uint8_t> BuildOnce(uint32_t dataLength, Layout& layout) const;

    int8_t m_version;
    std::vector<Region> m_regions;
    struct SpawnPoint
    {
        uint32_t regionIndex;
        float position[3];
    };

    std::vector<SpawnPoint> m_spawnPoints;
    std::vector<std::string> m_questFiles;
    std::vector<uint8_t> m_instanceGroups;
    std::vector<uint8_t> m_sectorData;
    int m_minimapCount = -1;
    std::vector<RawChunk> m_rawChunks;
    std::vector<uint32_t> m_order;
};

} // namespace DataKit
