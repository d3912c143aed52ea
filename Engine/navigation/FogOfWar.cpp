#include "navigation/FogOfWar.h"

#include "core/Log.h"
#include "platform/Directory.h"
#include "platform/PlatformFile.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace GAME {

namespace {

constexpr size_t kHeaderSize = 20;

uint32_t Fnv1a(const uint8_t* data, size_t size)
{
    uint32_t hash = 2166136261u;
    for (size_t i = 0; i < size; ++i) {
        hash ^= data[i];
        hash *= 16777619u;
    }
    return hash;
}

void Put32(std::vector<uint8_t>& out, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

uint32_t Get32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

} // namespace

void FogOfWar::Initialize(int width, int height)
{
    m_width = std::max(width, 0);
    m_height = std::max(height, 0);
    m_cellSize = 1;
    auto cells = [this](unsigned size) {
        return ((uint64_t(m_width) + size - 1) / size) * ((uint64_t(m_height) + size - 1) / size);
    };
    while (cells(m_cellSize) > maxCells)
        m_cellSize *= 2;
    m_columns = static_cast<unsigned>((uint64_t(m_width) + m_cellSize - 1) / m_cellSize);
    m_rows = static_cast<unsigned>((uint64_t(m_height) + m_cellSize - 1) / m_cellSize);
    m_bits.assign((uint64_t(m_columns) * m_rows + 7) / 8, 0);
}

void FogOfWar::Clear()
{
    std::fill(m_bits.begin(), m_bits.end(), 0);
}

bool FogOfWar::IsInFog(const Vec3& position) const
{
    if (!(position.x >= 0.0f && position.z >= 0.0f))
        return true;
    const double column = std::floor(double(position.x) / m_cellSize);
    const double row = std::floor(double(position.z) / m_cellSize);
    if (column >= m_columns || row >= m_rows)
        return true;
    const uint64_t cell = uint64_t(row) * m_columns + uint64_t(column);
    return !(m_bits[cell / 8] & (1u << (cell % 8)));
}

void FogOfWar::AddVisibility(const Vec3& position, int radius)
{
    if (radius < 0 || m_bits.empty() || !std::isfinite(position.x) || !std::isfinite(position.z))
        return;
    const double size = m_cellSize;
    const double r = radius;
    // Only the cells the circle's bounding square covers, clamped to the grid.
    const double firstColumn = std::max(0.0, std::floor((position.x - r) / size));
    const double lastColumn = std::min(double(m_columns) - 1.0, std::floor((position.x + r) / size));
    const double firstRow = std::max(0.0, std::floor((position.z - r) / size));
    const double lastRow = std::min(double(m_rows) - 1.0, std::floor((position.z + r) / size));
    for (double row = firstRow; row <= lastRow; row += 1.0) {
        const double dz = (row + 0.5) * size - position.z;
        for (double column = firstColumn; column <= lastColumn; column += 1.0) {
            const double dx = (column + 0.5) * size - position.x;
            if (dx * dx + dz * dz > r * r)
                continue;
            const uint64_t cell = uint64_t(row) * m_columns + uint64_t(column);
            m_bits[cell / 8] |= static_cast<uint8_t>(1u << (cell % 8));
        }
    }
}

unsigned FogOfWar::GetNumSeenCells() const
{
    unsigned seen = 0;
    for (uint8_t byte : m_bits)
        seen += static_cast<unsigned>(__builtin_popcount(byte));
    // A file may set the spare bits of the last byte (it saves them back as they were); they are
    // no cells.
    const unsigned spare = static_cast<unsigned>((uint64_t(m_columns) * m_rows) % 8);
    if (spare != 0 && !m_bits.empty())
        seen -= static_cast<unsigned>(__builtin_popcount(m_bits.back() >> spare));
    return seen;
}

std::vector<uint8_t> FogOfWar::Save() const
{
    std::vector<uint8_t> out = {'F', 'O', 'W', fileVersion};
    out.reserve(kHeaderSize + m_bits.size() + 4);
    Put32(out, static_cast<uint32_t>(m_width));
    Put32(out, static_cast<uint32_t>(m_height));
    Put32(out, m_cellSize);
    Put32(out, static_cast<uint32_t>(m_bits.size()));
    out.insert(out.end(), m_bits.begin(), m_bits.end());
    Put32(out, Fnv1a(m_bits.data(), m_bits.size()));
    return out;
}

bool FogOfWar::Load(const uint8_t* data, size_t size, const std::string& name)
{
    Clear();
    const char* fault = nullptr;
    if (!data || size < kHeaderSize + 4 || std::memcmp(data, "FOW", 3) != 0)
        fault = "is not a fog file";
    else if (data[3] != fileVersion)
        fault = "has a version this engine does not read";
    else if (Get32(data + 4) != uint32_t(m_width) || Get32(data + 8) != uint32_t(m_height) ||
             Get32(data + 12) != m_cellSize)
        fault = "was saved for a region of another size";
    else if (Get32(data + 16) != m_bits.size() || size != kHeaderSize + m_bits.size() + 4)
        fault = "has the wrong length";
    else if (Get32(data + kHeaderSize + m_bits.size()) != Fnv1a(data + kHeaderSize, m_bits.size()))
        fault = "fails its checksum";
    if (fault) {
        LogPrintf(1, "FogOfWar: %s %s; the region starts in fresh fog", name.c_str(), fault);
        return false;
    }
    if (!m_bits.empty())
        std::memcpy(m_bits.data(), data + kHeaderSize, m_bits.size());
    return true;
}

bool FogOfWar::Read(const std::string& fileName)
{
    Clear();
    Platform::PlatformFile file;
    if (!Platform::FileExists(fileName) || !file.Open(fileName, Platform::FileOpenMode::Read))
        return false;
    uint64_t size = 0;
    // Nothing larger than the fog's own image can be one of its files.
    if (!file.GetSize(size) || size > kHeaderSize + m_bits.size() + 4) {
        LogPrintf(1, "FogOfWar: %s has the wrong length; the region starts in fresh fog", fileName.c_str());
        return false;
    }
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    if (file.ReadAt(0, bytes.data(), bytes.size()) != static_cast<int64_t>(bytes.size())) {
        LogPrintf(1, "FogOfWar: %s cannot be read; the region starts in fresh fog", fileName.c_str());
        return false;
    }
    return Load(bytes.data(), bytes.size(), fileName);
}

bool FogOfWar::Write(const std::string& fileName) const
{
    const std::vector<uint8_t> bytes = Save();
    std::string reason = "its folder could not be made";
    if (!Platform::CreateDirectoryPath(fileName) ||
        !Platform::WriteWholeFile(fileName, bytes.data(), bytes.size(), &reason)) {
        LogPrintf(1, "FogOfWar: %s could not be written (%s); the file there is as it was", fileName.c_str(),
                  reason.c_str());
        return false;
    }
    return true;
}

} // namespace GAME
