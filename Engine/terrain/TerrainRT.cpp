#include "terrain/TerrainRT.h"

#include "core/Log.h"
#include "data/BinaryReader.h"

namespace GAME {

bool TerrainRT::Load(BinaryReader& reader, int)
{
    const unsigned start = reader.GetPosition();
    const uint32_t version = reader.ReadUInt32();
    reader.ReadUInt32(); // layers
    const uint32_t x = reader.ReadUInt32();
    const uint32_t y = reader.ReadUInt32();
    if (reader.Failed() || version != 1) {
        LogPrintf(1, "TerrainRT: unsupported terrain version %u", version);
        return false;
    }
    reader.Skip(16);
    if (!reader.CheckCount(static_cast<uint64_t>(x) * y, 4, "terrain heights"))
        return false;
    m_numXSamples = x;
    m_numYSamples = y;
    reader.Seek(start);
    const unsigned size = reader.GetRemaining();
    m_body.assign(reader.GetCursor(), reader.GetCursor() + size);
    return reader.Skip(size);
}

} // namespace GAME
