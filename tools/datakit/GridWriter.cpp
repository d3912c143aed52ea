#include "datakit/GridWriter.h"

#include "data/BinaryWriter.h"
#include "world/Level.h"

#include <algorithm>

namespace DataKit {

GridWriter::GridWriter(std::string systemName, int x, int y, int z)
    : system(std::move(systemName)), m_size{std::max(x, 0), std::max(y, 0), std::max(z, 0)}
{
    m_lattice.assign((2 * size_t(m_size[0]) + 1) * size_t(m_size[1]) * (2 * size_t(m_size[2]) + 1), 0);
    m_features.assign(size_t(m_size[0]) * size_t(m_size[1]) * size_t(m_size[2]) * 2, 0);
}

bool GridWriter::InLattice(int i, int y, int k) const
{
    return i >= 0 && y >= 0 && k >= 0 && i <= 2 * m_size[0] && y < m_size[1] && k <= 2 * m_size[2];
}

size_t GridWriter::Index(int i, int y, int k) const
{
    return size_t(i) + (2 * size_t(m_size[0]) + 1) * (size_t(y) + size_t(m_size[1]) * size_t(k));
}

void GridWriter::SetLattice(int i, int y, int k, int value)
{
    if (InLattice(i, y, k))
        m_lattice[Index(i, y, k)] = static_cast<int8_t>(value);
}

int GridWriter::GetLattice(int i, int y, int k) const
{
    return InLattice(i, y, k) ? m_lattice[Index(i, y, k)] : 0;
}

void GridWriter::SetFeature(int x, int y, int z, int feature, int rotation)
{
    if (x < 0 || y < 0 || z < 0 || x >= m_size[0] || y >= m_size[1] || z >= m_size[2])
        return;
    const size_t at = 2 * (size_t(x) + size_t(m_size[0]) * (size_t(y) + size_t(m_size[1]) * size_t(z)));
    m_features[at] = static_cast<int8_t>(feature);
    m_features[at + 1] = static_cast<int8_t>(rotation);
}

std::vector<uint8_t> GridWriter::Write(int version) const
{
    GAME::BinaryWriter writer(256);
    writer.WriteUInt32(static_cast<uint32_t>(version));
    const auto latticeBody = [&] {
        writer.WriteString(system);
        for (int count : m_size)
            writer.WriteUInt32(static_cast<uint32_t>(count));
        for (int i = 0; i <= 2 * m_size[0]; ++i)
            for (int y = 0; y < m_size[1]; ++y)
                for (int k = 0; k <= 2 * m_size[2]; ++k)
                    writer.WriteInt8(m_lattice[Index(i, y, k)]);
        for (int x = 0; x < m_size[0]; ++x)
            for (int y = 0; y < m_size[1]; ++y)
                for (int z = 0; z < m_size[2]; ++z) {
                    const size_t at =
                        2 * (size_t(x) + size_t(m_size[0]) * (size_t(y) + size_t(m_size[1]) * size_t(z)));
                    writer.WriteInt8(m_features[at]);
                    writer.WriteInt8(m_features[at + 1]);
                }
    };
    if (version == 1) {
        latticeBody();
    } else {
        writer.BeginBlock(1);
        latticeBody();
        writer.EndBlock();
        for (const auto& [id, bytes] : extraBlocks) {
            writer.WriteUInt32(id);
            writer.WriteUInt32(static_cast<uint32_t>(bytes.size()));
            writer.WriteBytes(bytes.data(), static_cast<unsigned>(bytes.size()));
        }
        if (!links.empty()) {
            writer.BeginBlock(2);
            writer.WriteUInt32(static_cast<uint32_t>(links.size()));
            for (const Link& link : links) {
                writer.WriteUniqueId(link.portalId);
                writer.WriteUniqueId(link.connectedPortalId);
                link.connectedRegionId.Write(writer);
                writer.WriteUInt32(link.x);
                writer.WriteUInt32(link.y);
                writer.WriteUInt32(link.z);
            }
            writer.EndBlock();
        }
    }
    return std::vector<uint8_t>(writer.GetBuffer(), writer.GetBuffer() + writer.GetSize());
}

std::vector<uint8_t> GridWriter::LevelImage(const std::vector<uint8_t>& gridBody)
{
    GAME::BinaryWriter writer(gridBody.size() + 32);
    writer.WriteBytes(GAME::Level::magic, 3);
    writer.WriteInt8(static_cast<int8_t>(GAME::Level::version));
    writer.BeginBlock(6);  // the ground
    writer.WriteUInt32(1); // kind: grid region
    writer.WriteBytes(gridBody.data(), static_cast<unsigned>(gridBody.size()));
    writer.EndBlock();
    return std::vector<uint8_t>(writer.GetBuffer(), writer.GetBuffer() + writer.GetSize());
}

} // namespace DataKit
