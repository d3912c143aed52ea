#include "datakit/MeshShaders.h"

#include "graphics/GraphicsShader2.h"
#include "graphics/RenderTypes.h"

#include <string>
#include <vector>

namespace DataKit {

using GAME::GraphicsShader2;

namespace {

// The vertex program; the skinned form blends each vertex over its four palette entries (weights
// renormalised; an index past the palette is left out). World normal in v_tex1, world position in
// v_tex2, twice the diffuse colour with the section's opacity in v_color0, the highlight in
// v_color1.
std::string VertexProgram(bool skinned)
{
    std::string code = "void main()\n{\n"
                       "    vec4 position = vec4(a_position.xyz, 1.0);\n"
                       "    vec3 normal = a_normal.xyz;\n";
    if (skinned) {
        code += "    vec3 skinnedPosition = vec3(0.0);\n"
                "    vec3 skinnedNormal = vec3(0.0);\n"
                "    float total = 0.0;\n"
                "    for (int k = 0; k < 4; ++k) {\n"
                "        float weight = a_boneWeights[k];\n"
                "        int bone = int(a_boneIndices[k] + 0.5);\n"
                "        if (weight <= 0.0 || bone >= " +
                std::to_string(MeshShaders::maxBones) +
                ")\n"
                "            continue;\n"
                "        int r = " +
                std::to_string(MeshShaders::firstBoneRegister) +
                " + 3 * bone;\n"
                "        skinnedPosition += weight * vec3(dot(vc[r], position), dot(vc[r + 1], position), "
                "dot(vc[r + 2], position));\n"
                "        skinnedNormal += weight * vec3(dot(vc[r].xyz, normal), dot(vc[r + 1].xyz, normal), "
                "dot(vc[r + 2].xyz, normal));\n"
                "        total += weight;\n"
                "    }\n"
                "    if (total > 0.0) {\n"
                "        position = vec4(skinnedPosition / total, 1.0);\n"
                "        normal = skinnedNormal;\n"
                "    }\n";
    }
    code += "    gl_Position = engine_transform(0, position);\n"
            "    vec3 worldNormal = vec3(dot(vc[4].xyz, normal), dot(vc[5].xyz, normal), dot(vc[6].xyz, "
            "normal));\n"
            "    v_tex0 = a_texCoord0;\n"
            "    v_tex1 = vec4(dot(worldNormal, worldNormal) > 0.0 ? normalize(worldNormal) : vec3(0.0, 1.0, "
            "0.0), "
            "0.0);\n"
            "    v_tex2 = engine_transform(4, position);\n"
            "    v_color0 = vec4(2.0 * vc[8].rgb, vc[9].z);\n"
            "    v_color1 = vec4(vc[8].a);\n"
            "    v_fog = 1.0;\n"
            "}\n";
    return code;
}

// Lighting constants: pc[0] light colour, pc[1] light direction (the way the light travels),
// pc[2] light position, pc[3].x light range, pc[4] sky ambient, pc[5] ground ambient.
const char* const lighting = R"GLSL(
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
    return pc[0].rgb * max(dot(n, -pc[1].xyz), 0.0);
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

// The tinted texture, lit; the highlight brightens what the light shows (additive passes add it
// only once, with the ambient).
std::string PixelProgram(const char* light, bool highlight)
{
    return std::string(lighting) + "void main()\n{\n    vec4 base = v_color0 * texture(s0, v_tex0.xy);\n" +
           "    vec3 n = SurfaceNormal();\n    vec3 lit = base.rgb * (" + light + ");\n" +
           (highlight ? "    lit += base.rgb * v_color1.x;\n" : "") + "    o_color = vec4(lit, base.a);\n}\n";
}

// The parameter of that name, made (with the default value that makeDefault adds, -1 for none)
// when the section has none.
template <class MakeDefault>
uint32_t Parameter(ShaderWriter::Section& s, const char* name, uint32_t type, uint32_t count,
                   MakeDefault makeDefault)
{
    const int64_t found = s.FindParameter(name);
    return found >= 0 ? static_cast<uint32_t>(found) : s.Parameter(name, type, count, makeDefault());
}

int64_t NoDefault()
{
    return -1;
}

} // namespace

void MeshShaders::AddMeshStyles(ShaderWriter::Section& s, bool skinned)
{
    const uint32_t objectToScreen =
        Parameter(s, "objectToScreenMatrix", GraphicsShader2::TYPE_FLOAT4X4, 1, NoDefault);
    const uint32_t objectToWorld =
        Parameter(s, "objectToWorldMatrix", GraphicsShader2::TYPE_FLOAT4X4, 1, NoDefault);
    const uint32_t diffuse = Parameter(s, "diffuseColor", GraphicsShader2::TYPE_FLOAT4, 1,
                                       [&] { return s.Float4(0.5f, 0.5f, 0.5f, 0.0f); });
    const uint32_t transparency = Parameter(s, "transparencyValue", GraphicsShader2::TYPE_FLOAT4, 1,
                                            [&] { return s.Float4(1.0f, 1.0f, 1.0f, 1.0f); });
    const uint32_t baseTexture = Parameter(s, "baseTexture", GraphicsShader2::TYPE_DEVICE_TEXTURE, 1,
                                           [&] { return s.Texture(ShaderWriter::whiteTextureName); });
    std::vector<ShaderWriter::Binding> vertexBindings = {{0, 4, false, objectToScreen},
                                                         {4, 4, false, objectToWorld},
                                                         {diffuseColorRegister, 1, false, diffuse},
                                                         {transparencyRegister, 1, false, transparency}};
    if (skinned) {
        const uint32_t bones =
            Parameter(s, "boneMatrix", GraphicsShader2::TYPE_FLOAT4X3, maxBones, NoDefault);
        vertexBindings.push_back({firstBoneRegister, 3 * maxBones, false, bones});
    }

    const auto black = [&] { return s.Float3(0.0f, 0.0f, 0.0f); };
    const uint32_t lightColor = Parameter(s, "lightColor", GraphicsShader2::TYPE_FLOAT3, 1, black);
    const uint32_t lightDirection = Parameter(s, "lightDirection", GraphicsShader2::TYPE_FLOAT3, 1, black);
    const uint32_t lightPosition = Parameter(s, "lightPosition", GraphicsShader2::TYPE_FLOAT3, 1, black);
    const uint32_t lightMaxDistance =
        Parameter(s, "lightMaxDistance", GraphicsShader2::TYPE_FLOAT, 1, [&] { return s.Float(0.0f); });
    const uint32_t skyAmbient = Parameter(s, "skyAmbientColor", GraphicsShader2::TYPE_FLOAT3, 1, black);
    const uint32_t groundAmbient = Parameter(s, "groundAmbientColor", GraphicsShader2::TYPE_FLOAT3, 1, black);
    const std::vector<ShaderWriter::Binding> lights = {
        {0, 1, false, lightColor},       {1, 1, false, lightDirection}, {2, 1, false, lightPosition},
        {3, 1, false, lightMaxDistance}, {4, 1, false, skyAmbient},     {5, 1, false, groundAmbient}};

    const uint32_t vertex = s.VertexProgram(VertexProgram(skinned), vertexBindings);
    const uint32_t ambient = s.PixelProgram(PixelProgram("Ambient(n)", true), lights);
    const uint32_t directionalAmbient =
        s.PixelProgram(PixelProgram("Ambient(n) + DirectionalLight(n)", true), lights);
    const uint32_t pointAmbient = s.PixelProgram(PixelProgram("Ambient(n) + PointLight(n)", true), lights);
    const uint32_t directional = s.PixelProgram(PixelProgram("DirectionalLight(n)", false), lights);
    const uint32_t point = s.PixelProgram(PixelProgram("PointLight(n)", false), lights);

    auto style = [&](const char* name, uint32_t pixel, GAME::RenderBlendFactor destination, bool depthWrite,
                     bool colorWrite) {
        s.Style(name, sortOrder);
        s.StateFromValue(GraphicsShader2::STATE_VERTEX_SHADER, vertex);
        s.StateFromValue(GraphicsShader2::STATE_PIXEL_SHADER, pixel);
        s.StateFromParameter(GraphicsShader2::STATE_TEXTURE, baseTexture, 0);
        s.StateFromValue(GraphicsShader2::STATE_SOURCE_BLEND, s.Int(GAME::RENDER_BLEND_ONE));
        s.StateFromValue(GraphicsShader2::STATE_DESTINATION_BLEND, s.Int(destination));
        s.StateFromValue(GraphicsShader2::STATE_DEPTH_TEST, s.Int(GAME::RENDER_TEST_LESS_EQUAL));
        s.StateFromValue(GraphicsShader2::STATE_DEPTH_WRITE, s.Int(depthWrite ? 1 : 0));
        s.StateFromValue(GraphicsShader2::STATE_ALPHA_TEST, s.Int(GAME::RENDER_TEST_ALWAYS));
        s.StateFromValue(GraphicsShader2::STATE_COLOR_WRITE, s.Int(colorWrite ? 1 : 0));
    };
    // The first light carries the ambient and lays the depth; further lights add to it.
    style("ambientLightStyle", ambient, GAME::RENDER_BLEND_ZERO, true, true);
    style("dLightDiffuseAmbientStyle", directionalAmbient, GAME::RENDER_BLEND_ZERO, true, true);
    style("pLightDiffuseAmbientStyle", pointAmbient, GAME::RENDER_BLEND_ZERO, true, true);
    style("dLightDiffuseStyle", directional, GAME::RENDER_BLEND_ONE, false, true);
    style("pLightDiffuseStyle", point, GAME::RENDER_BLEND_ONE, false, true);
    style("depthStyle", ambient, GAME::RENDER_BLEND_ZERO, true, false);
}

ShaderWriter MeshShaders::SampleSkinned()
{
    ShaderWriter writer;
    for (const char* generation : {"GeForce6", "GeForce3"})
        AddMeshStyles(writer.AddSection(generation), true);
    return writer;
}

} // namespace DataKit
