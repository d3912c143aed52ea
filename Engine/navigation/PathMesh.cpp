#include "navigation/PathMesh.h"

#include "core/Log.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"

#include <cstring>

namespace GAME {

bool PathMesh::Read(BinaryReader& reader)
{
    m_body.clear();
    const unsigned size = reader.GetRemaining();
    if (size < 4 || std::memcmp(reader.GetCursor(), "PTH", 3) != 0) {
        LogPrintf(1, "PathMesh: the block is not a path mesh");
        return false;
    }
    m_body.assign(reader.GetCursor(), reader.GetCursor() + size);
    return reader.Skip(size);
}

void PathMesh::Write(BinaryWriter& writer) const
{
    if (!m_body.empty())
        writer.WriteBytes(m_body.data(), static_cast<unsigned>(m_body.size()));
}

bool PathMesh::FindFloorPosition(const WorldVec3&, float, WorldVec3&) const
{
    return false;
}

} // namespace GAME
