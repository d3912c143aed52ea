#include "datakit/TerrainShaders.h"

#include "datakit/SampleGameData.h"
#include "datakit/SampleShaderParts.h"
#include "graphics/GraphicsShader2.h"
#include "graphics/RenderTypes.h"

#include <string>
#include <vector>

namespace DataKit {

namespace {

using GAME::GraphicsShader2;

// The generations the sample devices run as: high detail, and the lower detail levels.
const char* const generations[] = {"GeForce6", "GeForce3"};

// Ground: vc[0..3] object to screen, vc[4..7] object to region, vc[8].xy texture offset,
// vc[9].xy texture scale, vc[10] the region's offset in the scene. Layer texture coordinates in
// v_tex0 (repeating every 10 units), opacity coordinates in v_tex1 (the whole terrain), the region
// normal in v_tex2, the region position in v_tex3, the clear air's share at the scene position in
// v_fog.
const char* const groundVertexProgram = R"GLSL(
void main()
{
    vec4 position = vec4(a_position.xyz, 1.0);
    gl_Position = engine_transform(0, position);
    vec4 region = engine_transform(4, position);
    v_tex0 = vec4(region.xz * 0.1 + vc[8].xy, 0.0, 1.0);
    v_tex1 = vec4(region.xz * vc[9].xy, 0.0, 1.0);
    vec3 normal = vec3(dot(vc[4].xyz, a_normal.xyz), dot(vc[5].xyz, a_normal.xyz), dot(vc[6].xyz, a_normal.xyz));
    v_tex2 = vec4(dot(normal, normal) > 0.0 ? normalize(normal) : vec3(0.0, 1.0, 0.0), 0.0);
    v_tex3 = region;
    v_color0 = vec4(1.0);
    v_fog = 1.0 - FogAmount(region.xyz + vc[10].xyz);
}
)GLSL";

// Grass: vc[0..3] object to screen, vc[4..7] object to region, vc[8] the region's offset in the
// scene. The wind offset (stream 1) moves a blade's top (texture v 0), never its root (v 1).
const char* const grassVertexProgram = R"GLSL(
void main()
{
    float top = 1.0 - a_texCoord0.y;
    vec4 position = vec4(a_position.x + a_texCoord1.x * top, a_position.y, a_position.z + a_texCoord1.y * top, 1.0);
    gl_Position = engine_transform(0, position);
    v_tex0 = a_texCoord0;
    vec3 normal = a_normal.xyz;
    v_tex2 = vec4(dot(normal, normal) > 0.0 ? normalize(normal) : vec3(0.0, 1.0, 0.0), 0.0);
    v_tex3 = engine_transform(4, position);
    v_color0 = vec4(1.0);
    v_fog = 1.0 - FogAmount(v_tex3.xyz + vc[8].xyz);
}
)GLSL";

// The lit mesh shader's lighting registers and functions over the terrain's varyings: the world
// normal in v_tex2, the world position in v_tex3.
std::string LightingFunctions()
{
    return SampleShaderParts::LightingFunctions("v_tex2", "v_tex3");
}

// A layer lit, premultiplied by its opacity (the opacity texture's alpha), with the fog: mixed in
// by the style that carries the ambient, faded out of a further light's.
std::string LayerPixelProgram(const char* light, bool ambient)
{
    return LightingFunctions() + SampleShaderParts::pixelFogFunctions +
           "void main()\n{\n    vec3 base = texture(s0, v_tex0.xy).rgb;\n"
           "    float opacity = texture(s1, v_tex1.xy).a;\n    vec3 n = SurfaceNormal();\n"
           "    o_color = vec4(" +
           (ambient ? "WithFog" : "FogFaded") + "(base * (" + light + ")) * opacity, opacity);\n}\n";
}

// A blade lit, a little darker towards its root, with the fog as the layers have it.
std::string GrassPixelProgram(const char* light, bool ambient)
{
    return LightingFunctions() + SampleShaderParts::pixelFogFunctions +
           "void main()\n{\n    vec4 base = texture(s0, v_tex0.xy);\n    vec3 n = SurfaceNormal();\n"
           "    float shade = 0.6 + 0.4 * (1.0 - v_tex0.y);\n"
           "    o_color = vec4(" +
           (ambient ? "WithFog" : "FogFaded") + "(base.rgb * (" + light + ") * shade), base.a);\n}\n";
}

// The registers the vertex programs read the fog from, and the region's offset.
std::vector<ShaderWriter::Binding> FogVertexBindings(ShaderWriter::Section& s, uint32_t offsetRegister,
                                                     uint32_t offset)
{
    std::vector<ShaderWriter::Binding> bindings = SampleShaderParts::AddVertexFogParameters(s);
    bindings.push_back({offsetRegister, 1, false, offset});
    return bindings;
}

std::vector<ShaderWriter::Binding> Joined(std::vector<ShaderWriter::Binding> a,
                                          const std::vector<ShaderWriter::Binding>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const char* const clearPixelProgram = R"GLSL(
void main()
{
    o_color = vec4(0.0);
}
)GLSL";

struct Lighting
{
    std::vector<ShaderWriter::Binding> bindings;
};

Lighting AddLightingParameters(ShaderWriter::Section& s)
{
    const uint32_t black = s.Float3(0.0f, 0.0f, 0.0f);
    const uint32_t lightColor = s.Parameter("lightColor", GraphicsShader2::TYPE_FLOAT3, 1, black);
    const uint32_t lightDirection = s.Parameter("lightDirection", GraphicsShader2::TYPE_FLOAT3, 1, black);
    const uint32_t lightPosition = s.Parameter("lightPosition", GraphicsShader2::TYPE_FLOAT3, 1, black);
    const uint32_t lightMaxDistance =
        s.Parameter("lightMaxDistance", GraphicsShader2::TYPE_FLOAT, 1, s.Float(0.0f));
    const uint32_t skyAmbient = s.Parameter("skyAmbientColor", GraphicsShader2::TYPE_FLOAT3, 1, black);
    const uint32_t groundAmbient = s.Parameter("groundAmbientColor", GraphicsShader2::TYPE_FLOAT3, 1, black);
    return {{{0, 1, false, lightColor},
             {1, 1, false, lightDirection},
             {2, 1, false, lightPosition},
             {3, 1, false, lightMaxDistance},
             {4, 1, false, skyAmbient},
             {5, 1, false, groundAmbient}}};
}

void AddStates(ShaderWriter::Section& s, GAME::RenderBlendFactor source, GAME::RenderBlendFactor destination,
               bool depthWrite, bool colorWrite)
{
    s.StateFromValue(GraphicsShader2::STATE_SOURCE_BLEND, s.Int(source));
    s.StateFromValue(GraphicsShader2::STATE_DESTINATION_BLEND, s.Int(destination));
    s.StateFromValue(GraphicsShader2::STATE_DEPTH_TEST, s.Int(GAME::RENDER_TEST_LESS_EQUAL));
    s.StateFromValue(GraphicsShader2::STATE_DEPTH_WRITE, s.Int(depthWrite ? 1 : 0));
    s.StateFromValue(GraphicsShader2::STATE_COLOR_WRITE, s.Int(colorWrite ? 1 : 0));
    s.StateFromValue(GraphicsShader2::STATE_ALPHA_WRITE, s.Int(colorWrite ? 1 : 0));
}

void AddLayerSection(ShaderWriter::Section& s)
{
    const uint32_t white = s.Texture(ShaderWriter::whiteTextureName);
    const uint32_t objectToScreen = s.Parameter("objectToScreenMatrix", GraphicsShader2::TYPE_FLOAT4X4);
    const uint32_t objectToRegion = s.Parameter("objectToRegionMatrix", GraphicsShader2::TYPE_FLOAT4X4);
    const uint32_t textureOffset = s.Parameter("textureOffset", GraphicsShader2::TYPE_FLOAT2);
    const uint32_t textureScale = s.Parameter("textureScale", GraphicsShader2::TYPE_FLOAT2);
    const uint32_t regionToScene = s.Parameter("regionToSceneOffset", GraphicsShader2::TYPE_FLOAT3);
    const uint32_t baseTexture = s.Parameter("baseTexture", GraphicsShader2::TYPE_DEVICE_TEXTURE, 1, white);
    const uint32_t opacityTexture =
        s.Parameter("opacityTexture", GraphicsShader2::TYPE_DEVICE_TEXTURE, 1, white);
    const Lighting lighting = AddLightingParameters(s);
    const std::vector<ShaderWriter::Binding> pixelBindings =
        Joined(lighting.bindings, SampleShaderParts::AddFogColorParameter(s));
    const uint32_t vertex = s.VertexProgram(SampleShaderParts::VertexFogFunction() + groundVertexProgram,
                                            Joined({{0, 4, false, objectToScreen},
                                                    {4, 4, false, objectToRegion},
                                                    {8, 1, false, textureOffset},
                                                    {9, 1, false, textureScale}},
                                                   FogVertexBindings(s, 10, regionToScene)));
    const uint32_t clear = s.PixelProgram(clearPixelProgram);
    const uint32_t clamp = s.Int(GAME::RENDER_ADDRESS_CLAMP);
    auto layer = [&](const char* light, bool ambient) {
        return s.PixelProgram(LayerPixelProgram(light, ambient), pixelBindings);
    };
    const uint32_t ambient = layer("Ambient(n)", true);
    const uint32_t directionalAmbient = layer("Ambient(n) + DirectionalLight(n)", true);
    const uint32_t pointAmbient = layer("Ambient(n) + PointLight(n)", true);
    const uint32_t directional = layer("DirectionalLight(n)", false);
    const uint32_t point = layer("PointLight(n)", false);

    auto style = [&](const char* name, uint32_t pixel, GAME::RenderBlendFactor source,
                     GAME::RenderBlendFactor destination, bool depthWrite) {
        s.Style(name, 0);
        s.StateFromValue(GraphicsShader2::STATE_VERTEX_SHADER, vertex);
        s.StateFromValue(GraphicsShader2::STATE_PIXEL_SHADER, pixel);
        s.StateFromParameter(GraphicsShader2::STATE_TEXTURE, baseTexture, 0);
        s.StateFromParameter(GraphicsShader2::STATE_TEXTURE, opacityTexture, 1);
        // The layer textures repeat; the opacity map covers the terrain once, and its edges meet
        // the neighbouring regions' ground: read past them, it would blend in the opposite edge.
        s.StateFromValue(GraphicsShader2::STATE_STAGE_STATE_0, clamp, 1);
        s.StateFromValue(GraphicsShader2::STATE_STAGE_STATE_1, clamp, 1);
        AddStates(s, source, destination, depthWrite, true);
        s.StateFromValue(GraphicsShader2::STATE_ALPHA_TEST, s.Int(GAME::RENDER_TEST_ALWAYS));
    };
    // The solid pass lays the depth and leaves nothing of what was behind.
    style("depthStyle", clear, GAME::RENDER_BLEND_ONE, GAME::RENDER_BLEND_ZERO, true);
    // Top layer first: each layer shows where those above it leave room.
    style("ambientLightStyle", ambient, GAME::RENDER_BLEND_INV_DEST_ALPHA, GAME::RENDER_BLEND_ONE, false);
    style("dLightDiffuseAmbientStyle", directionalAmbient, GAME::RENDER_BLEND_INV_DEST_ALPHA,
          GAME::RENDER_BLEND_ONE, false);
    style("pLightDiffuseAmbientStyle", pointAmbient, GAME::RENDER_BLEND_INV_DEST_ALPHA,
          GAME::RENDER_BLEND_ONE, false);
    style("dLightDiffuseStyle", directional, GAME::RENDER_BLEND_ONE, GAME::RENDER_BLEND_ONE, false);
    style("pLightDiffuseStyle", point, GAME::RENDER_BLEND_ONE, GAME::RENDER_BLEND_ONE, false);
    // Bottom layer first: each layer over what is there.
    style("reflectionStyle", ambient, GAME::RENDER_BLEND_ONE, GAME::RENDER_BLEND_INV_SRC_ALPHA, false);
}

void AddGrassSection(ShaderWriter::Section& s)
{
    const uint32_t white = s.Texture(ShaderWriter::whiteTextureName);
    const uint32_t objectToScreen = s.Parameter("objectToScreenMatrix", GraphicsShader2::TYPE_FLOAT4X4);
    const uint32_t objectToWorld = s.Parameter("objectToWorldMatrix", GraphicsShader2::TYPE_FLOAT4X4);
    const uint32_t terrainOffset = s.Parameter("terrainOffset", GraphicsShader2::TYPE_FLOAT3);
    s.Parameter("bladeHeight", GraphicsShader2::TYPE_FLOAT);
    const uint32_t baseTexture = s.Parameter("baseTexture", GraphicsShader2::TYPE_DEVICE_TEXTURE, 1, white);
    const Lighting lighting = AddLightingParameters(s);
    const std::vector<ShaderWriter::Binding> pixelBindings =
        Joined(lighting.bindings, SampleShaderParts::AddFogColorParameter(s));
    const uint32_t vertex =
        s.VertexProgram(SampleShaderParts::VertexFogFunction() + grassVertexProgram,
                        Joined({{0, 4, false, objectToScreen}, {4, 4, false, objectToWorld}},
                               FogVertexBindings(s, 8, terrainOffset)));
    auto blades = [&](const char* light, bool ambient) {
        return s.PixelProgram(GrassPixelProgram(light, ambient), pixelBindings);
    };
    const uint32_t ambient = blades("Ambient(n)", true);
    const uint32_t directionalAmbient = blades("Ambient(n) + DirectionalLight(n)", true);
    const uint32_t pointAmbient = blades("Ambient(n) + PointLight(n)", true);
    const uint32_t directional = blades("DirectionalLight(n)", false);
    const uint32_t point = blades("PointLight(n)", false);
    const uint32_t reference = s.Int(128);

    auto style = [&](const char* name, uint32_t pixel, GAME::RenderBlendFactor source,
                     GAME::RenderBlendFactor destination, bool depthWrite) {
        s.Style(name, 0);
        s.StateFromValue(GraphicsShader2::STATE_VERTEX_SHADER, vertex);
        s.StateFromValue(GraphicsShader2::STATE_PIXEL_SHADER, pixel);
        s.StateFromParameter(GraphicsShader2::STATE_TEXTURE, baseTexture, 0);
        AddStates(s, source, destination, depthWrite, true);
        s.StateFromValue(GraphicsShader2::STATE_ALPHA_TEST, s.Int(GAME::RENDER_TEST_GREATER_EQUAL));
        s.StateFromValue(GraphicsShader2::STATE_ALPHA_REFERENCE, reference);
    };
    style("ambientLightStyle", ambient, GAME::RENDER_BLEND_ONE, GAME::RENDER_BLEND_ZERO, true);
    style("dLightDiffuseAmbientStyle", directionalAmbient, GAME::RENDER_BLEND_ONE, GAME::RENDER_BLEND_ZERO,
          true);
    style("pLightDiffuseAmbientStyle", pointAmbient, GAME::RENDER_BLEND_ONE, GAME::RENDER_BLEND_ZERO, true);
    style("dLightDiffuseStyle", directional, GAME::RENDER_BLEND_ONE, GAME::RENDER_BLEND_ONE, false);
    style("pLightDiffuseStyle", point, GAME::RENDER_BLEND_ONE, GAME::RENDER_BLEND_ONE, false);
}

} // namespace

ShaderWriter TerrainShaders::SampleLayerShader()
{
    ShaderWriter writer;
    for (const char* generation : generations)
        AddLayerSection(writer.AddSection(generation));
    return writer;
}

ShaderWriter TerrainShaders::SampleGrassShader()
{
    ShaderWriter writer;
    for (const char* generation : generations)
        AddGrassSection(writer.AddSection(generation));
    return writer;
}

void TerrainShaders::AddSampleShaders(SampleGameData& data)
{
    const std::vector<uint8_t> layers = SampleLayerShader().Write();
    data.AddFile(standardShaderName, layers);
    data.AddFile(lowQualityShaderName, layers);
    data.AddFile(grassShaderName, SampleGrassShader().Write());
}

} // namespace DataKit
