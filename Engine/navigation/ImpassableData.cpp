#include "navigation/ImpassableData.h"

#include "core/Log.h"
#include "data/BinaryReader.h"

namespace GAME {

bool ImpassableData::Prime(uint32_t width, uint32_t height)
{
    m_width = m_height = m_rowBytes = 0;
    m_bits.clear();
    if (width == 0 || height == 0 || width > maxCells || height > maxCells)
        return false;
    m_width = width;
    m_height = height;
    m_rowBytes = (width + 7) / 8;
    m_bits.assign(static_cast<size_t>(m_rowBytes) * height, 0);
    return true;
}

bool ImpassableData::Load(BinaryReader& reader)
{
    Prime(0, 0);
    const uint32_t width = reader.ReadUInt32();
    const uint32_t height = reader.ReadUInt32();
    const uint64_t bytes = (static_cast<uint64_t>(width) + 7) / 8 * height;
    if (reader.Failed() || width == 0 || height == 0 || width > maxCells || height > maxCells ||
        bytes != reader.GetRemaining()) {
        LogPrintf(1, "ImpassableData: a grid of %u x %u cells does not fit its %u bytes", width, height,
                  reader.GetRemaining());
        reader.Skip(reader.GetRemaining());
        return false;
    }
    Prime(width, height);
    reader.ReadBytes(m_bits.data(), static_cast<unsigned>(bytes));
    return true;
}

bool ImpassableData::GetImpassable(int x, int y) const
{
    if (x < 0 || y < 0 || static_cast<uint32_t>(x) >= m_width || static_cast<uint32_t>(y) >= m_height)
        return true;
    const size_t at = static_cast<size_t>(y) * m_rowBytes + static_cast<uint32_t>(x) / 8;
    return (m_bits[at] >> (x % 8)) & 1;
}

} // namespace GAME
