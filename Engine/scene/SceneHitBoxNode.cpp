#include "scene/SceneHitBoxNode.h"

#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"

namespace GAME {

bool SceneHitBoxNode::Read(BinaryReader& reader)
{
    if (!SceneModelNode::Read(reader))
        return false;
    m_extents = reader.ReadVec3();
    m_coords = reader.ReadCoords();
    return !reader.Failed();
}

void SceneHitBoxNode::Write(BinaryWriter& writer) const
{
    SceneModelNode::Write(writer);
    writer.WriteVec3(m_extents);
    writer.WriteCoords(m_coords);
}

} // namespace GAME
