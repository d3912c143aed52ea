#include "datakit/MapWriter.h"

#include <algorithm>
#include <cstring>
#include <fstream>

namespace DataKit {

namespace {

void Put32(std::vector<uint8_t>& out, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void PutFloat(std::vector<uint8_t>& out, float value)
{
    uint32_t bits;
    std::memcpy(&bits, &value, 4);
    Put32(out, bits);
}

void PutString(std::vector<uint8_t>& out, const std::string& text)
{
    Put32(out, static_cast<uint32_t>(text.size()));
    out.insert(out.end(), text.begin(), text.end());
}

} // namespace

uint32_t MapWriter::Layout::ChunkOffset(uint32_t id) const
{
    for (size_t i = 0; i < chunkIds.size(); ++i)
        if (chunkIds[i] == id)
            return chunkOffsets[i];
    return 0;
}

MapWriter::Region& MapWriter::AddRegion(const std::string& name)
{
    m_regions.emplace_back();
    m_regions.back().name = name;
    return m_regions.back();
}

void MapWriter::AddSpawnPoint(uint32_t regionIndex, float x, float y, float z)
{
    m_spawnPoints.push_back(SpawnPoint{regionIndex, {x, y, z}});
}

void MapWriter::AddChunk(uint32_t id, const std::vector<uint8_t>& payload)
{
    m_rawChunks.push_back(RawChunk{id, payload});
}

std::vector<uint8_t> MapWriter::Build(Layout* layout) const
{
    Layout first;
    BuildOnce(0, first);
    Layout final;
    std::vector<uint8_t> image = BuildOnce(first.dataLength, final);
    if (layout)
        *layout = final;
    return image;
}

std::vector<uint8_t> MapWriter::BuildOnce(uint32_t dataLength, Layout& layout) const
{
    // Level images follow the chunks, then the minimaps, each at an offset known from dataLength.
    uint32_t next = 8 + dataLength;
    for (const Region& region : m_regions) {
        layout.levelOffsets.push_back(next);
        next += static_cast<uint32_t>(region.level.size());
    }
    for (const Region& region : m_regions) {
        layout.minimapOffsets.push_back(next);
        next += static_cast<uint32_t>(region.minimap.size());
    }
    const bool anyMinimap =
        std::any_of(m_regions.begin(), m_regions.end(), [](const Region& r) { return !r.minimap.empty(); });

    struct Piece
    {
        uint32_t id;
        std::vector<uint8_t> payload;
        std::vector<uint32_t> marks; // region record starts within the payload
    };
    std::vector<Piece> pieces;

    Piece regions{CHUNK_REGIONS, {}, {}};
    Put32(regions.payload, static_cast<uint32_t>(m_regions.size()));
    for (size_t i = 0; i < m_regions.size(); ++i) {
        const Region& r = m_regions[i];
        regions.marks.push_back(static_cast<uint32_t>(regions.payload.size()));
        for (int32_t v : r.center)
            Put32(regions.payload, static_cast<uint32_t>(v));
        for (int32_t v : r.extents)
            Put32(regions.payload, static_cast<uint32_t>(v));
        for (int32_t v : r.offset)
            Put32(regions.payload, static_cast<uint32_t>(v));
        for (uint32_t w : r.id)
            Put32(regions.payload, w);
        if (m_version == 5)
            PutString(regions.payload, r.zoneRecord);
        PutString(regions.payload, r.name);
        Put32(regions.payload, layout.levelOffsets[i]);
        Put32(regions.payload, static_cast<uint32_t>(r.level.size()));
    }
    pieces.push_back(std::move(regions));

    if (!m_spawnPoints.empty()) {
        Piece spawns{CHUNK_SPAWN_POINTS, {}, {}};
        Put32(spawns.payload, static_cast<uint32_t>(m_spawnPoints.size()));
        for (const SpawnPoint& spawn : m_spawnPoints) {
            Put32(spawns.payload, spawn.regionIndex);
            for (float v : spawn.position)
                PutFloat(spawns.payload, v);
        }
        pieces.push_back(std::move(spawns));
    }
    if (!m_instanceGroups.empty())
        pieces.push_back(Piece{CHUNK_INSTANCE_GROUPS, m_instanceGroups, {}});
    if (!m_sectorData.empty())
        pieces.push_back(Piece{CHUNK_SECTOR_DATA, m_sectorData, {}});
    if (anyMinimap || m_minimapCount >= 0) {
        Piece minimap{CHUNK_MINIMAP, {}, {}};
        const size_t count = m_minimapCount < 0
                                 ? m_regions.size()
                                 : std::min(m_regions.size(), static_cast<size_t>(m_minimapCount));
        Put32(minimap.payload, 0);
        Put32(minimap.payload, static_cast<uint32_t>(count));
        for (size_t i = 0; i < count; ++i) {
            Put32(minimap.payload, layout.minimapOffsets[i]);
            Put32(minimap.payload, static_cast<uint32_t>(m_regions[i].minimap.size()));
        }
        pieces.push_back(std::move(minimap));
    }
    if (!m_questFiles.empty()) {
        Piece quests{CHUNK_QUEST_FILES, {}, {}};
        Put32(quests.payload, static_cast<uint32_t>(m_questFiles.size()));
        for (const std::string& name : m_questFiles)
            PutString(quests.payload, name);
        pieces.push_back(std::move(quests));
    }
    for (const RawChunk& raw : m_rawChunks)
        pieces.push_back(Piece{raw.id, raw.payload, {}});

    // Named ids first, in the order given (stable within an id), then the rest.
    std::stable_sort(pieces.begin(), pieces.end(), [this](const Piece& a, const Piece& b) {
        auto rank = [this](uint32_t id) {
            auto it = std::find(m_order.begin(), m_order.end(), id);
            return it == m_order.end() ? m_order.size() : static_cast<size_t>(it - m_order.begin());
        };
        return rank(a.id) < rank(b.id);
    });

    std::vector<uint8_t> image = {'M', 'A', 'P', static_cast<uint8_t>(m_version)};
    Put32(image, dataLength);
    for (const Piece& piece : pieces) {
        layout.chunkIds.push_back(piece.id);
        layout.chunkOffsets.push_back(static_cast<uint32_t>(image.size()));
        Put32(image, piece.id);
        Put32(image, static_cast<uint32_t>(piece.payload.size()));
        const uint32_t start = static_cast<uint32_t>(image.size());
        for (uint32_t mark : piece.marks)
            layout.regionRecordOffsets.push_back(start + mark);
        image.insert(image.end(), piece.payload.begin(), piece.payload.end());
    }
    layout.dataLength = static_cast<uint32_t>(image.size() - 8);
    for (const Region& region : m_regions)
        image.insert(image.end(), region.level.begin(), region.level.end());
    for (const Region& region : m_regions)
        image.insert(image.end(), region.minimap.begin(), region.minimap.end());
    return image;
}

bool MapWriter::Save(const std::string& path) const
{
    const std::vector<uint8_t> image = Build();
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
        return false;
    out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    return static_cast<bool>(out);
}

} // namespace DataKit
