#include "scene/SceneModelMaterial.h"

#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"

namespace GAME {

bool SceneModelMaterial::Read(BinaryReader& reader)
{
    if (!reader.ReadString(m_shaderName))
        return false;
    const uint32_t count = reader.ReadUInt32();
    // Each parameter takes at least its name's length word and its type.
    if (!reader.CheckCount(count, 8, "material parameters"))
        return false;
    m_parameters.assign(count, ShaderParam());
    for (ShaderParam& parameter : m_parameters) {
        if (!reader.ReadString(parameter.name))
            return false;
        parameter.type = reader.ReadUInt32();
        switch (parameter.type) {
        case ShaderParam::TYPE_INT:
            parameter.intValue = reader.ReadUInt32();
            break;
        case ShaderParam::TYPE_BOOL:
            parameter.boolValue = reader.ReadUInt32() != 0;
            break;
        case ShaderParam::TYPE_STRING:
        case ShaderParam::TYPE_TEXTURE:
            if (!reader.ReadString(parameter.textValue))
                return false;
            break;
        case ShaderParam::TYPE_FLOAT3_ALT:
            parameter.type = ShaderParam::TYPE_FLOAT3;
            break;
        case ShaderParam::TYPE_FLOAT4_ALT:
            parameter.type = ShaderParam::TYPE_FLOAT4;
            break;
        default:
            break;
        }
        // The alternative types were renamed above; their floats follow as for their new type.
        const unsigned floats = ShaderParam::GetNumFloats(parameter.type);
        for (unsigned f = 0; f < floats; ++f)
            parameter.floatValues[f] = reader.ReadFloat();
        if (reader.Failed())
            return false;
    }
    return true;
}

void SceneModelMaterial::Write(BinaryWriter& writer) const
{
    writer.WriteString(m_shaderName);
    writer.WriteUInt32(GetNumParameters());
    for (const ShaderParam& parameter : m_parameters) {
        writer.WriteString(parameter.name);
        writer.WriteUInt32(parameter.type);
        switch (parameter.type) {
        case ShaderParam::TYPE_INT:
            writer.WriteUInt32(parameter.intValue);
            break;
        case ShaderParam::TYPE_BOOL:
            writer.WriteUInt32(parameter.boolValue ? 1u : 0u);
            break;
        case ShaderParam::TYPE_STRING:
        case ShaderParam::TYPE_TEXTURE:
            writer.WriteString(parameter.textValue);
            break;
        default:
            break;
        }
        const unsigned floats = ShaderParam::GetNumFloats(parameter.type);
        for (unsigned f = 0; f < floats; ++f)
            writer.WriteFloat(parameter.floatValues[f]);
    }
}

} // namespace GAME
