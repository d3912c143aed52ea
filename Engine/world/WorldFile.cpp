#include "world/WorldFile.h"

#include "core/Log.h"
#include "data/BinaryReader.h"

#include <cmath>
#include <cstdint>

namespace GAME {

namespace {

// Smallest region records: the name's length word and the numbers after it.
constexpr unsigned kMinRegionSize = 4 + 6 * 4 + 3 * 4 + 16;
constexpr unsigned kMinOldRegionSize = 4 + 6 * 4 + 3 * 4;

// Truncated toward zero; values beyond the 32-bit range (or NaN) become the nearest end (or 0).
int32_t TruncateOffset(float value)
{
    if (std::isnan(value))
        return 0;
    if (value >= 2147483647.0f)
        return INT32_MAX;
    if (value <= -2147483648.0f)
        return INT32_MIN;
    return static_cast<int32_t>(value);
}

void CopyPayload(BinaryReader& chunk, std::vector<char>& out)
{
    out.assign(reinterpret_cast<const char*>(chunk.GetData()),
               reinterpret_cast<const char*>(chunk.GetData()) + chunk.GetSize());
}

} // namespace

const char* WorldFile::GetIconData() const
{
    return m_iconData.empty() ? nullptr : m_iconData.data();
}

const char* WorldFile::GetInstanceData() const
{
    return m_instanceData.empty() ? nullptr : m_instanceData.data();
}

bool WorldFile::Read(BinaryReader& reader)
{
    char header[4] = {0, 0, 0, 0};
    reader.ReadBytes(header, 4);
    if (reader.Failed() || header[0] != 'W' || header[1] != 'R' || header[2] != 'L')
        return false;
    m_version = static_cast<signed char>(header[3]);
    if (m_version < 5) {
        if (!ReadOldLayout(reader)) {
            LogPrintf(1, "WorldFile: the world file (version %d) is truncated or corrupt", m_version);
            return false;
        }
        return true;
    }
    while (!reader.AtEnd()) {
        uint32_t id;
        BinaryReader chunk;
        if (!reader.ReadBlock(id, chunk))
            break;
        bool ok = true;
        switch (id) {
        case CHUNK_QUEST_FILES:
            ok = ReadQuestFiles(chunk);
            break;
        case CHUNK_REGIONS:
            ok = ReadRegions(chunk);
            break;
        case CHUNK_REGION_ICONS:
            CopyPayload(chunk, m_iconData);
            break;
        case CHUNK_INSTANCE_GROUPS:
            CopyPayload(chunk, m_instanceData);
            break;
        default:
            break;
        }
        if (!ok) {
            LogPrintf(1, "WorldFile: chunk %u is truncated or corrupt", id);
            return false;
        }
    }
    if (reader.Failed()) {
        LogPrintf(1, "WorldFile: a chunk runs past the end of the world file");
        return false;
    }
    return true;
}

bool WorldFile::ReadOldLayout(BinaryReader& reader)
{
    std::string discarded;
    if (m_version >= 2 && !reader.ReadString(discarded))
        return false;
    const uint32_t count = reader.ReadUInt32();
    if (!reader.CheckCount(count, kMinOldRegionSize, "world regions"))
        return false;
    std::vector<Region> regions(count);
    for (Region& region : regions) {
        if (!reader.ReadString(region.name))
            return false;
        region.box.center = reader.ReadVec3();
        region.box.extents = reader.ReadVec3();
        region.offset.x = TruncateOffset(reader.ReadFloat());
        region.offset.y = TruncateOffset(reader.ReadFloat());
        region.offset.z = TruncateOffset(reader.ReadFloat());
        if (m_version == 3) {
            reader.ReadUInt32();
            if (!reader.ReadString(discarded))
                return false;
        }
    }
    if (reader.Failed())
        return false;
    m_regions = std::move(regions);
    return true;
}

bool WorldFile::ReadQuestFiles(BinaryReader& reader)
{
    const uint32_t count = reader.ReadUInt32();
    if (!reader.CheckCount(count, 4, "quest files"))
        return false;
    std::vector<std::string> names(count);
    for (std::string& name : names)
        if (!reader.ReadString(name))
            return false;
    m_questFiles = std::move(names);
    return true;
}

bool WorldFile::ReadRegions(BinaryReader& reader)
{
    const uint32_t count = reader.ReadUInt32();
    if (!reader.CheckCount(count, kMinRegionSize, "world regions"))
        return false;
    std::vector<Region> regions(count);
    for (Region& region : regions) {
        if (!reader.ReadString(region.name))
            return false;
        region.box.center = reader.ReadVec3();
        region.box.extents = reader.ReadVec3();
        region.offset.x = reader.ReadInt32();
        region.offset.y = reader.ReadInt32();
        region.offset.z = reader.ReadInt32();
        region.id.Read(reader);
        if (m_version >= 6 && !reader.ReadString(region.zoneRecord))
            return false;
    }
    if (reader.Failed())
        return false;
    m_regions = std::move(regions);
    return true;
}

} // namespace GAME
