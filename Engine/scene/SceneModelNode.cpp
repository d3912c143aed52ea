#include "scene/SceneModelNode.h"

#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"

namespace GAME {

bool SceneModelNode::Read(BinaryReader& reader)
{
    return reader.ReadString(m_name) && reader.ReadString(m_parentName) && reader.ReadString(m_userData);
}

void SceneModelNode::Write(BinaryWriter& writer) const
{
    writer.WriteString(m_name);
    writer.WriteString(m_parentName);
    writer.WriteString(m_userData);
}

} // namespace GAME
