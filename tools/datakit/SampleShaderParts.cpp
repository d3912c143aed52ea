#include "datakit/SampleShaderParts.h"

#include "graphics/GraphicsShader2.h"

#include <string>
#include <utility>

namespace DataKit {

using GAME::GraphicsShader2;

const char* const SampleShaderParts::tintedVertexProgram = R"GLSL(
void main()
{
    gl_Position = engine_transform(0, vec4(a_position.xyz, 1.0));
    v_color0 = a_color * vc[8];
    v_tex0 = a_texCoord0;
    v_fog = 1.0;
}
)GLSL";

const char* const SampleShaderParts::texturedPixelProgram = R"GLSL(
void main()
{
    o_color = v_color0 * texture(s0, v_tex0.xy);
}
)GLSL";

const char* const SampleShaderParts::lightingFunctions = R"GLSL(
vec3 SurfaceNormal()
{
    vec3 n = v_tex1.xyz;
    return dot(n, n) > 0.0 ? normalize(n) : vec3(0.0, 1.0, 0.0);
}
vec3 Ambient(vec3 n)
{
    return mix(pc[5].rgb, pc[4].rgb, clamp(n.y * 0.5 + 0.5, 0.0, 1.0));
}
vec3 DirectionalLight(vec3 n)
{
    vec3 d = pc[1].xyz;
    return dot(d, d) > 0.0 ? pc[0].rgb * max(dot(n, normalize(d)), 0.0) : vec3(0.0);
}
vec3 PointLight(vec3 n)
{
    vec3 toLight = pc[2].xyz - v_tex2.xyz;
    float distance = length(toLight);
    if (distance <= 0.0 || pc[3].x <= 0.0)
        return vec3(0.0);
    float fade = clamp(1.0 - distance / pc[3].x, 0.0, 1.0);
    return pc[0].rgb * max(dot(n, toLight / distance), 0.0) * fade;
}
)GLSL";

std::string SampleShaderParts::LightingFunctions(const char* normalVarying, const char* positionVarying)
{
    std::string text = lightingFunctions;
    auto replace = [&text](const std::string& from, const std::string& to) {
        const size_t at = text.find(from);
        if (at != std::string::npos)
            text.replace(at, from.size(), to);
    };
    replace("vec3 n = v_tex1.xyz;", std::string("vec3 n = ") + normalVarying + ".xyz;");
    replace("pc[2].xyz - v_tex2.xyz;", std::string("pc[2].xyz - ") + positionVarying + ".xyz;");
    return text;
}

ShaderWriter SampleShaderParts::ForSampleGenerations(const std::function<void(ShaderWriter::Section&)>& add)
{
    ShaderWriter writer;
    for (const char* generation : {"GeForce6", "GeForce3"})
        add(writer.AddSection(generation));
    return writer;
}

SampleShaderParts::BasicParameters SampleShaderParts::AddBasicParameters(ShaderWriter::Section& s)
{
    BasicParameters p;
    const uint32_t white = s.Texture(ShaderWriter::whiteTextureName);
    const uint32_t opaqueWhite = s.Float4(1.0f, 1.0f, 1.0f, 1.0f);
    p.objectToScreen = s.Parameter("objectToScreenMatrix", GraphicsShader2::TYPE_FLOAT4X4);
    p.objectToWorld = s.Parameter("objectToWorldMatrix", GraphicsShader2::TYPE_FLOAT4X4);
    p.color = s.Parameter("color", GraphicsShader2::TYPE_FLOAT4, 1, opaqueWhite);
    p.cameraOrigin = s.Parameter("cameraOrigin", GraphicsShader2::TYPE_FLOAT3);
    p.time = s.Parameter("time", GraphicsShader2::TYPE_FLOAT);
    p.baseTexture = s.Parameter("baseTexture", GraphicsShader2::TYPE_DEVICE_TEXTURE, 1, white);
    return p;
}

std::vector<ShaderWriter::Binding> SampleShaderParts::BasicVertexBindings(const BasicParameters& p)
{
    return {{0, 4, false, p.objectToScreen},
            {4, 4, false, p.objectToWorld},
            {8, 1, false, p.color},
            {9, 1, false, p.cameraOrigin},
            {10, 1, false, p.time}};
}

SampleShaderParts::LightParameters SampleShaderParts::AddLightParameters(ShaderWriter::Section& s)
{
    // One black value serves every colour and direction the section does not have yet.
    int64_t black = -1;
    const auto makeBlack = [&] {
        if (black < 0)
            black = s.Float3(0.0f, 0.0f, 0.0f);
        return black;
    };
    LightParameters p;
    p.color = s.FindOrAddParameter("lightColor", GraphicsShader2::TYPE_FLOAT3, 1, makeBlack);
    p.direction = s.FindOrAddParameter("lightDirection", GraphicsShader2::TYPE_FLOAT3, 1, makeBlack);
    p.position = s.FindOrAddParameter("lightPosition", GraphicsShader2::TYPE_FLOAT3, 1, makeBlack);
    p.maxDistance = s.FindOrAddParameter("lightMaxDistance", GraphicsShader2::TYPE_FLOAT, 1,
                                         [&] { return s.Float(0.0f); });
    p.skyAmbient = s.FindOrAddParameter("skyAmbientColor", GraphicsShader2::TYPE_FLOAT3, 1, makeBlack);
    p.groundAmbient = s.FindOrAddParameter("groundAmbientColor", GraphicsShader2::TYPE_FLOAT3, 1, makeBlack);
    return p;
}

std::vector<ShaderWriter::Binding> SampleShaderParts::LightPixelBindings(const LightParameters& p)
{
    return {{0, 1, false, p.color},       {1, 1, false, p.direction},  {2, 1, false, p.position},
            {3, 1, false, p.maxDistance}, {4, 1, false, p.skyAmbient}, {5, 1, false, p.groundAmbient}};
}

std::string SampleShaderParts::FogFunction(const char* bank, int camera, int depth, int height)
{
    // $C, $D and $H stand for the camera's, the depth fog's and the height fog's registers.
    std::string text = R"GLSL(float FogAmount(vec3 p)
{
    float distance = length(p - $C.xyz);
    float depth = $D.y > 0.0 ? clamp((distance - $D.x) * $D.y, 0.0, 1.0) : step($D.x, distance);
    float height = $H.y > 0.0 ? clamp(1.0 - (p.y - $H.x) * $H.y, 0.0, 1.0) : step(p.y, $H.x);
    depth *= clamp($D.z, 0.0, 1.0);
    height *= clamp($H.z, 0.0, 1.0);
    return clamp(depth + height - depth * height, 0.0, 1.0);
}
)GLSL";
    const std::pair<const char*, int> registers[] = {{"$C", camera}, {"$D", depth}, {"$H", height}};
    for (const auto& [mark, index] : registers) {
        const std::string name = std::string(bank) + "[" + std::to_string(index) + "]";
        for (size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at + name.size()))
            text.replace(at, 2, name);
    }
    return text;
}

std::string SampleShaderParts::VertexFogFunction()
{
    // Appended rather than concatenated: GCC 12 warns falsely (-Wrestrict) otherwise.
    std::string text = "\n";
    text += FogFunction("vc", fogVertexRegister, fogVertexRegister + 1, fogVertexRegister + 2);
    return text;
}

std::vector<ShaderWriter::Binding> SampleShaderParts::AddVertexFogParameters(ShaderWriter::Section& s)
{
    const auto zero = [&s] { return s.Float3(0.0f, 0.0f, 0.0f); };
    auto parameter = [&](const char* name) {
        return s.FindOrAddParameter(name, GraphicsShader2::TYPE_FLOAT3, 1, zero);
    };
    const uint32_t first = static_cast<uint32_t>(fogVertexRegister);
    return {{first, 1, false, parameter("cameraOrigin")},
            {first + 1, 1, false, parameter("depthFogParams")},
            {first + 2, 1, false, parameter("heightFogParams")}};
}

std::vector<ShaderWriter::Binding> SampleShaderParts::AddFogColorParameter(ShaderWriter::Section& s)
{
    const uint32_t color = s.FindOrAddParameter("fogColor", GraphicsShader2::TYPE_FLOAT3, 1,
                                                [&s] { return s.Float3(0.0f, 0.0f, 0.0f); });
    return {{static_cast<uint32_t>(fogColorRegister), 1, false, color}};
}

static_assert(SampleShaderParts::fogColorRegister == 8, "the pixel fog functions read pc[8]");

const char* const SampleShaderParts::pixelFogFunctions = R"GLSL(
vec3 WithFog(vec3 c)
{
    return mix(pc[8].rgb, c, clamp(v_fog, 0.0, 1.0));
}
vec3 FogFaded(vec3 c)
{
    return c * clamp(v_fog, 0.0, 1.0);
}
)GLSL";

void SampleShaderParts::BeginStyle(ShaderWriter::Section& s, const char* name, int32_t sortOrder,
                                   uint32_t vertexProgram, uint32_t pixelProgram, uint32_t texture)
{
    s.Style(name, sortOrder);
    s.StateFromValue(GraphicsShader2::STATE_VERTEX_SHADER, vertexProgram);
    s.StateFromValue(GraphicsShader2::STATE_PIXEL_SHADER, pixelProgram);
    s.StateFromParameter(GraphicsShader2::STATE_TEXTURE, texture, 0);
}

void SampleShaderParts::AddBlendStates(ShaderWriter::Section& s, GAME::RenderBlendFactor source,
                                       GAME::RenderBlendFactor destination,
                                       GAME::RenderTestFunction depthTest, bool depthWrite)
{
    s.StateFromValue(GraphicsShader2::STATE_SOURCE_BLEND, s.Int(source));
    s.StateFromValue(GraphicsShader2::STATE_DESTINATION_BLEND, s.Int(destination));
    s.StateFromValue(GraphicsShader2::STATE_DEPTH_TEST, s.Int(depthTest));
    s.StateFromValue(GraphicsShader2::STATE_DEPTH_WRITE, s.Int(depthWrite ? 1 : 0));
    s.StateFromValue(GraphicsShader2::STATE_ALPHA_TEST, s.Int(GAME::RENDER_TEST_ALWAYS));
}

} // namespace DataKit
