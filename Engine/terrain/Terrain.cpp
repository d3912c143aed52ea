#include "terrain/Terrain.h"

#include "core/Log.h"
#include "core/MathUtil.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"

namespace GAME {

Terrain::~Terrain()
{
    Unload();
}

void Terrain::Unload()
{
    TerrainBase::Unload();
    m_body.clear();
}

bool Terrain::Load(BinaryReader& reader, int)
{
    Unload();
    const unsigned start = reader.GetPosition();
    const uint32_t x = reader.ReadUInt32();
    const uint32_t y = reader.ReadUInt32();
    if (reader.Failed() || !IsPowerOfTwo(x - 1) || !IsPowerOfTwo(y - 1)) {
        LogPrintf(1, "Terrain: sample counts %u x %u are not a power of two plus one", x, y);
        return false;
    }
    // Heights, flags and offsets alone take 20 bytes a sample.
    if (!reader.CheckCount(static_cast<uint64_t>(x) * y, 20, "terrain samples"))
        return false;
    m_numXSamples = x;
    m_numYSamples = y;
    reader.Seek(start);
    const unsigned size = reader.GetRemaining();
    m_body.assign(reader.GetCursor(), reader.GetCursor() + size);
    return reader.Skip(size);
}

bool Terrain::IsImpassable(int x, int y) const
{
    if (x < 0 || y < 0 || m_numXSamples < 2 || m_numYSamples < 2 ||
        static_cast<unsigned>(x) >= m_numXSamples - 1 || static_cast<unsigned>(y) >= m_numYSamples - 1)
        return true;
    return m_impassable.HasBeenLoadedOrPrimed() && m_impassable.GetImpassable(x, y);
}

void Terrain::New(unsigned width, unsigned height)
{
    Unload();
    m_numXSamples = width;
    m_numYSamples = height;
    m_body.clear();
}

void Terrain::Save(BinaryWriter& writer) const
{
    if (!m_body.empty()) {
        writer.WriteBytes(m_body.data(), static_cast<unsigned>(m_body.size()));
        return;
    }
    // A flat terrain without layers: counts, heights and flags, offsets, passable cells.
    const uint64_t samples = static_cast<uint64_t>(m_numXSamples) * m_numYSamples;
    const uint64_t cells =
        m_numXSamples && m_numYSamples ? static_cast<uint64_t>(m_numXSamples - 1) * (m_numYSamples - 1) : 0;
    writer.WriteUInt32(m_numXSamples);
    writer.WriteUInt32(m_numYSamples);
    writer.WriteUInt32(0);
    const std::vector<uint8_t> zeros(4096, 0);
    uint64_t left = samples * (8 + 12) + cells * 4;
    while (left > 0) {
        const unsigned n = static_cast<unsigned>(left < zeros.size() ? left : zeros.size());
        writer.WriteBytes(zeros.data(), n);
        left -= n;
    }
}

bool Terrain::SaveRunTimeFormat(BinaryWriter&) const
{
    return false;
}

} // namespace GAME
