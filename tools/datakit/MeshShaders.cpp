#include "datakit/MeshShaders.h"

#include "datakit/SampleShaderParts.h"
#include "graphics/GraphicsShader2.h"
#include "graphics/RenderTypes.h"

#include <string>
#include <vector>

namespace DataKit {

using GAME::GraphicsShader2;

namespace {

static_assert(MeshShaders::firstBoneRegister + 3 * MeshShaders::maxBones <=
                  SampleShaderParts::fogVertexRegister,
              "the bone palette ends below the fog's registers");

// The vertex program; the skinned form blends each vertex over its four palette entries (weights
// renormalised; an index past the palette is left out). World normal in v_tex1, world position in
// v_tex2, twice the diffuse colour with the section's opacity in v_color0, the highlight in
// v_color1, the clear air's share in v_fog.
std::string VertexProgram(bool skinned)
{
    std::string code = SampleShaderParts::VertexFogFunction() +
                       "void main()\n{\n"
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
            "    v_fog = 1.0 - FogAmount(v_tex2.xyz);\n"
            "}\n";
    return code;
}

// The ambient a mesh takes by which way each face turns: all of it facing up, less turned away
// from the open above, least facing down. The sky and ground colours alone give a mesh no shape
// where they are alike: underground, where both are white and no sun shines, every face of a light
// mesh took the same full ambient, and a further light on top washed it out to a flat white
// figure.
const char* const facingAmbient = R"GLSL(
vec3 FacingAmbient(vec3 n)
{
    return Ambient(n) * (0.55 + 0.45 * clamp(n.y * 0.5 + 0.5, 0.0, 1.0));
}
)GLSL";

// The tinted texture, lit; the highlight brightens what the light shows (additive passes add it
// only once, with the ambient, which also mixes in the fog; they fade by it).
std::string PixelProgram(const char* light, bool ambient)
{
    return std::string(SampleShaderParts::lightingFunctions) + facingAmbient + SampleShaderParts::pixelFogFunctions +
           "void main()\n{\n    vec4 base = v_color0 * texture(s0, v_tex0.xy);\n" +
           "    vec3 n = SurfaceNormal();\n    vec3 lit = base.rgb * (" + light + ");\n" +
           (ambient ? "    lit += base.rgb * v_color1.x;\n    o_color = vec4(WithFog(lit), base.a);\n"
                    : "    o_color = vec4(FogFaded(lit), base.a);\n") +
           "}\n";
}

int64_t NoDefault()
{
    return -1;
}

} // namespace

void MeshShaders::AddMeshStyles(ShaderWriter::Section& s, bool skinned)
{
    const uint32_t objectToScreen =
        s.FindOrAddParameter("objectToScreenMatrix", GraphicsShader2::TYPE_FLOAT4X4, 1, NoDefault);
    const uint32_t objectToWorld =
        s.FindOrAddParameter("objectToWorldMatrix", GraphicsShader2::TYPE_FLOAT4X4, 1, NoDefault);
    const uint32_t diffuse = s.FindOrAddParameter("diffuseColor", GraphicsShader2::TYPE_FLOAT4, 1,
                                                  [&] { return s.Float4(0.5f, 0.5f, 0.5f, 0.0f); });
    const uint32_t transparency = s.FindOrAddParameter("transparencyValue", GraphicsShader2::TYPE_FLOAT4, 1,
                                                       [&] { return s.Float4(1.0f, 1.0f, 1.0f, 1.0f); });
    const uint32_t baseTexture =
        s.FindOrAddParameter("baseTexture", GraphicsShader2::TYPE_DEVICE_TEXTURE, 1,
                             [&] { return s.Texture(ShaderWriter::whiteTextureName); });
    std::vector<ShaderWriter::Binding> vertexBindings = {{0, 4, false, objectToScreen},
                                                         {4, 4, false, objectToWorld},
                                                         {diffuseColorRegister, 1, false, diffuse},
                                                         {transparencyRegister, 1, false, transparency}};
    if (skinned) {
        const uint32_t bones =
            s.FindOrAddParameter("boneMatrix", GraphicsShader2::TYPE_FLOAT4X3, maxBones, NoDefault);
        vertexBindings.push_back({firstBoneRegister, 3 * maxBones, false, bones});
    }

    const std::vector<ShaderWriter::Binding> fogVertex = SampleShaderParts::AddVertexFogParameters(s);
    vertexBindings.insert(vertexBindings.end(), fogVertex.begin(), fogVertex.end());
    std::vector<ShaderWriter::Binding> lights =
        SampleShaderParts::LightPixelBindings(SampleShaderParts::AddLightParameters(s));
    const std::vector<ShaderWriter::Binding> fogColor = SampleShaderParts::AddFogColorParameter(s);
    lights.insert(lights.end(), fogColor.begin(), fogColor.end());

    const uint32_t vertex = s.VertexProgram(VertexProgram(skinned), vertexBindings);
    const uint32_t ambient = s.PixelProgram(PixelProgram("FacingAmbient(n)", true), lights);
    const uint32_t directionalAmbient =
        s.PixelProgram(PixelProgram("FacingAmbient(n) + DirectionalLight(n)", true), lights);
    const uint32_t pointAmbient = s.PixelProgram(PixelProgram("FacingAmbient(n) + PointLight(n)", true), lights);
    const uint32_t directional = s.PixelProgram(PixelProgram("DirectionalLight(n)", false), lights);
    const uint32_t point = s.PixelProgram(PixelProgram("PointLight(n)", false), lights);

    auto style = [&](const char* name, uint32_t pixel, GAME::RenderBlendFactor destination, bool depthWrite,
                     bool colorWrite) {
        SampleShaderParts::BeginStyle(s, name, sortOrder, vertex, pixel, baseTexture);
        SampleShaderParts::AddBlendStates(s, GAME::RENDER_BLEND_ONE, destination,
                                          GAME::RENDER_TEST_LESS_EQUAL, depthWrite);
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
    return SampleShaderParts::ForSampleGenerations(
        [](ShaderWriter::Section& section) { AddMeshStyles(section, true); });
}

} // namespace DataKit
