// A material of a model being built (not a node): the shader file it draws with and its shader
// parameters. Model tools write one after the nodes for each material. Stream: the shader name
// (string), u32 parameter count, then each parameter's name (string), u32 type and value in the
// encoding of ShaderParam (the same as the materials of mesh files, with types 12 and 13 accepted
// and read back as 9 and 11). Read answers false when the stream is short or bad. A plain value.
#pragma once

#include "scene/ShaderParam.h"

#include <cstdint>
#include <string>
#include <vector>

namespace GAME {

class BinaryReader;
class BinaryWriter;

class SceneModelMaterial
{
public:
    void SetShaderName(const std::string& name) { m_shaderName = name; }
    const std::string& GetShaderName() const { return m_shaderName; }
    uint32_t GetNumParameters() const { return static_cast<uint32_t>(m_parameters.size()); }
    void SetNumParameters(uint32_t count) { m_parameters.resize(count); }
    ShaderParam& GetParameter(uint32_t index) { return m_parameters[index]; }
    const ShaderParam& GetParameter(uint32_t index) const { return m_parameters[index]; }

    bool Read(BinaryReader& reader);
    void Write(BinaryWriter& writer) const;

private:
    std::string m_shaderName;
    std::vector<ShaderParam> m_parameters;
};

} // namespace GAME
