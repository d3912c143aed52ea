#include "scene/SceneDummyNode.h"

#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"

namespace GAME {

bool SceneDummyNode::Read(BinaryReader& reader)
{
    if (!SceneModelNode::Read(reader))
        return false;
    m_coords = reader.ReadCoords();
    return !reader.Failed();
}

void SceneDummyNode::Write(BinaryWriter& writer) const
{
    SceneModelNode::Write(writer);
    writer.WriteCoords(m_coords);
}

} // namespace GAME
