#include "terrain/GridRegion.h"

#include "core/Intersection.h"
#include "core/Log.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"

#include <algorithm>
#include <string>

namespace GAME {

namespace {

// The cell counts of a lattice block; false unless its lattice and features fit the reader.
bool ReadCounts(BinaryReader& reader, int cells[3])
{
    std::string system;
    reader.ReadString(system);
    uint32_t n[3];
    for (uint32_t& count : n)
        count = reader.ReadUInt32();
    if (reader.Failed() || n[0] > 0x7FFFFFFF || n[1] > 0x7FFFFFFF || n[2] > 0x7FFFFFFF)
        return false;
    const unsigned __int128 x = n[0], y = n[1], z = n[2];
    const unsigned __int128 bytes = (2 * x + 1) * y * (2 * z + 1) + 2 * x * y * z;
    if (bytes > reader.GetRemaining())
        return false;
    for (int i = 0; i < 3; ++i)
        cells[i] = static_cast<int>(n[i]);
    return true;
}

} // namespace

bool GridRegion::Load(BinaryReader& reader)
{
    m_cells[0] = m_cells[1] = m_cells[2] = 0;
    m_body.clear();
    const unsigned start = reader.GetPosition();
    const uint32_t version = reader.ReadUInt32();
    bool counted = false;
    if (version == 1) {
        counted = ReadCounts(reader, m_cells);
    } else if (version == 2) {
        while (!reader.AtEnd() && !reader.Failed()) {
            const uint32_t id = reader.ReadUInt32();
            const uint32_t size = reader.ReadUInt32();
            if (id == 1 && !counted) {
                counted = ReadCounts(reader, m_cells);
                break;
            }
            reader.Skip(size);
        }
    } else {
        LogPrintf(1, "GridRegion: unsupported grid version %u", version);
        return false;
    }
    if (!counted) {
        LogPrintf(1, "GridRegion: the grid block has no lattice that fits it");
        m_cells[0] = m_cells[1] = m_cells[2] = 0;
        return false;
    }
    reader.Seek(start);
    const unsigned size = reader.GetRemaining();
    m_body.assign(reader.GetCursor(), reader.GetCursor() + size);
    return reader.Skip(size);
}

void GridRegion::Save(BinaryWriter& writer) const
{
    if (!m_body.empty()) {
        writer.WriteBytes(m_body.data(), static_cast<unsigned>(m_body.size()));
        return;
    }
    // An empty lattice: no system, every corner, wall, floor and feature 0, no portal links.
    const uint64_t x = static_cast<uint64_t>(std::max(m_cells[0], 0));
    const uint64_t y = static_cast<uint64_t>(std::max(m_cells[1], 0));
    const uint64_t z = static_cast<uint64_t>(std::max(m_cells[2], 0));
    writer.WriteUInt32(2);
    writer.BeginBlock(1);
    writer.WriteString("");
    writer.WriteUInt32(static_cast<uint32_t>(x));
    writer.WriteUInt32(static_cast<uint32_t>(y));
    writer.WriteUInt32(static_cast<uint32_t>(z));
    const std::vector<uint8_t> zeros(4096, 0);
    uint64_t left = (2 * x + 1) * y * (2 * z + 1) + x * y * z * 2;
    while (left > 0) {
        const unsigned n = static_cast<unsigned>(std::min<uint64_t>(left, zeros.size()));
        writer.WriteBytes(zeros.data(), n);
        left -= n;
    }
    writer.EndBlock();
}

void GridRegion::Update(const Frustum*, unsigned, int) {}

void GridRegion::AddToScene(GraphicsSceneRenderer&, const Frustum&, const Frustum*) {}

ABBox GridRegion::GetBoundingBox() const
{
    const Vec3 s = GetCellSpacing();
    const Vec3 size(static_cast<float>(m_cells[0]) * s.x, static_cast<float>(m_cells[1]) * s.y,
                    static_cast<float>(m_cells[2]) * s.z);
    return ABBox(size * 0.5f, size * 0.5f);
}

float GridRegion::GetGroundHeight(float, float) const
{
    return 0.0f;
}

void GridRegion::GetIntersection(const Ray&, Intersection& intersection, PhysicsSurface surface) const
{
    intersection.distance = gInfinity;
    intersection.surface = surface;
}

int GridRegion::FindCollisions(const Entity*, CollisionContact*, int, Region*, PhysicsSurface) const
{
    return 0;
}

int GridRegion::FindCollisions(const OBBox&, CollisionContact*, int, PhysicsSurface) const
{
    return 0;
}

void GridRegion::FindCollisions(std::vector<CollisionBox>&, const ABBox&, PhysicsSurface) const {}

void GridRegion::Resize(int x, int y, int z)
{
    m_cells[0] = std::max(x, 0);
    m_cells[1] = std::max(y, 0);
    m_cells[2] = std::max(z, 0);
    m_body.clear();
}

} // namespace GAME
