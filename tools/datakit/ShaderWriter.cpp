#include "datakit/ShaderWriter.h"

#include "datakit/MeshShaders.h"
#include "datakit/SampleShaderParts.h"
#include "datakit/TextureWriter.h"
#include "graphics/GraphicsShader2.h"
#include "graphics/RenderTypes.h"

#include <cstring>
#include <string>

namespace DataKit {

using GAME::GraphicsShader2;

namespace {

void PutU32(std::vector<uint8_t>& out, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void PutFloat(std::vector<uint8_t>& out, float value)
{
    uint32_t bits;
    std::memcpy(&bits, &value, 4);
    PutU32(out, bits);
}

void PutString(std::vector<uint8_t>& out, const std::string& text)
{
    PutU32(out, static_cast<uint32_t>(text.size()));
    out.insert(out.end(), text.begin(), text.end());
}

void PutChunk(std::vector<uint8_t>& out, uint32_t type, const std::vector<uint8_t>& body)
{
    PutU32(out, type);
    PutU32(out, static_cast<uint32_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Sections

uint32_t ShaderWriter::Section::Parameter(const std::string& name, uint32_t type, uint32_t count,
                                          int64_t defaultValue)
{
    m_parameters.push_back({name, type, count, defaultValue});
    return static_cast<uint32_t>(m_parameters.size() - 1);
}

int64_t ShaderWriter::Section::FindParameter(const std::string& name) const
{
    for (size_t i = 0; i < m_parameters.size(); ++i)
        if (m_parameters[i].name == name)
            return static_cast<int64_t>(i);
    return -1;
}

uint32_t ShaderWriter::Section::AddValue(uint32_t type, std::vector<uint8_t> data)
{
    m_values.push_back({type, std::move(data)});
    return static_cast<uint32_t>(m_values.size() - 1);
}

uint32_t ShaderWriter::Section::Int(int32_t value)
{
    std::vector<uint8_t> data;
    PutU32(data, static_cast<uint32_t>(value));
    return AddValue(GraphicsShader2::TYPE_INT, std::move(data));
}

uint32_t ShaderWriter::Section::Bool(bool value)
{
    std::vector<uint8_t> data;
    PutU32(data, value ? 1u : 0u);
    return AddValue(GraphicsShader2::TYPE_BOOL, std::move(data));
}

uint32_t ShaderWriter::Section::Float(float value)
{
    std::vector<uint8_t> data;
    PutFloat(data, value);
    return AddValue(GraphicsShader2::TYPE_FLOAT, std::move(data));
}

uint32_t ShaderWriter::Section::Float2(float x, float y)
{
    std::vector<uint8_t> data;
    PutFloat(data, x);
    PutFloat(data, y);
    return AddValue(GraphicsShader2::TYPE_FLOAT2, std::move(data));
}

uint32_t ShaderWriter::Section::Float3(float x, float y, float z)
{
    std::vector<uint8_t> data;
    for (float f : {x, y, z})
        PutFloat(data, f);
    return AddValue(GraphicsShader2::TYPE_FLOAT3, std::move(data));
}

uint32_t ShaderWriter::Section::Float4(float x, float y, float z, float w)
{
    std::vector<uint8_t> data;
    for (float f : {x, y, z, w})
        PutFloat(data, f);
    return AddValue(GraphicsShader2::TYPE_FLOAT4, std::move(data));
}

uint32_t ShaderWriter::Section::String(const std::string& text)
{
    std::vector<uint8_t> data;
    PutString(data, text);
    return AddValue(GraphicsShader2::TYPE_STRING, std::move(data));
}

uint32_t ShaderWriter::Section::Texture(const std::string& fileName)
{
    std::vector<uint8_t> data;
    PutString(data, fileName);
    return AddValue(GraphicsShader2::TYPE_TEXTURE, std::move(data));
}

uint32_t ShaderWriter::Section::Matrix(uint32_t type)
{
    return AddValue(type, {});
}

uint32_t ShaderWriter::Section::Program(uint32_t type, const std::string& code,
                                        const std::vector<Binding>& bindings)
{
    std::vector<uint8_t> data;
    PutU32(data, static_cast<uint32_t>(bindings.size()));
    for (const Binding& binding : bindings) {
        PutU32(data, binding.firstRegister);
        PutU32(data, binding.registerCount);
        PutU32(data, binding.fromValues ? 1u : 0u);
        PutU32(data, binding.index);
    }
    PutU32(data, static_cast<uint32_t>(code.size()));
    data.insert(data.end(), code.begin(), code.end());
    return AddValue(type, std::move(data));
}

uint32_t ShaderWriter::Section::VertexProgram(const std::string& code, const std::vector<Binding>& bindings)
{
    return Program(GraphicsShader2::TYPE_VERTEX_SHADER, code, bindings);
}

uint32_t ShaderWriter::Section::PixelProgram(const std::string& code, const std::vector<Binding>& bindings)
{
    return Program(GraphicsShader2::TYPE_PIXEL_SHADER, code, bindings);
}

uint32_t ShaderWriter::Section::RawValue(uint32_t type, const std::vector<uint8_t>& data)
{
    return AddValue(type, data);
}

ShaderWriter::Section& ShaderWriter::Section::Style(const std::string& name, int32_t sortOrder)
{
    m_styles.push_back({name, sortOrder, {}});
    return *this;
}

ShaderWriter::Section& ShaderWriter::Section::State(uint32_t kind, uint32_t argument, bool fromValues,
                                                    uint32_t index)
{
    if (m_styles.empty())
        Style("normal", 0);
    m_styles.back().entries.push_back({kind, argument, fromValues, index});
    return *this;
}

ShaderWriter::Section& ShaderWriter::Section::RawChunk(uint32_t type, const std::vector<uint8_t>& body)
{
    m_rawChunks.emplace_back(type, body);
    return *this;
}

std::vector<uint8_t> ShaderWriter::Section::Write() const
{
    std::vector<uint8_t> out;
    if (!m_parameters.empty()) {
        std::vector<uint8_t> body;
        PutU32(body, static_cast<uint32_t>(m_parameters.size()));
        for (const ParameterRecord& p : m_parameters) {
            PutString(body, p.name);
            PutU32(body, p.type);
            PutU32(body, p.count);
            PutU32(body, 0); // eight bytes the engine skips
            PutU32(body, 0);
            PutU32(body, p.defaultValue >= 0 ? 1u : 0u);
            PutU32(body, p.defaultValue >= 0 ? static_cast<uint32_t>(p.defaultValue) : 0u);
        }
        PutChunk(out, 0, body);
    }
    if (!m_values.empty()) {
        std::vector<uint8_t> body;
        PutU32(body, static_cast<uint32_t>(m_values.size()));
        for (const ValueRecord& v : m_values) {
            PutU32(body, v.type);
            body.insert(body.end(), v.data.begin(), v.data.end());
        }
        PutChunk(out, 1, body);
    }
    if (!m_styles.empty()) {
        std::vector<uint8_t> body;
        PutU32(body, static_cast<uint32_t>(m_styles.size()));
        for (const StyleRecord& s : m_styles) {
            PutString(body, s.name);
            PutU32(body, static_cast<uint32_t>(s.sortOrder));
            PutU32(body, 1);
            PutU32(body, static_cast<uint32_t>(s.entries.size()));
            for (const Entry& e : s.entries) {
                PutU32(body, e.kind);
                PutU32(body, e.argument);
                PutU32(body, e.fromValues ? 1u : 0u);
                PutU32(body, e.index);
            }
        }
        PutChunk(out, 2, body);
    }
    for (const auto& [type, body] : m_rawChunks)
        PutChunk(out, type, body);
    return out;
}

// ---------------------------------------------------------------------------------------------
// Files

ShaderWriter::Section& ShaderWriter::AddSection(const std::string& generation)
{
    m_sections.emplace_back(generation);
    return m_sections.back();
}

std::vector<uint8_t> ShaderWriter::Write() const
{
    std::vector<uint8_t> out = {'S', 'S', 'H', GraphicsShader2::fileVersion};
    for (const Section& section : m_sections) {
        PutString(out, section.GetGeneration());
        const std::vector<uint8_t> body = section.Write();
        PutU32(out, static_cast<uint32_t>(body.size()));
        out.insert(out.end(), body.begin(), body.end());
    }
    return out;
}

bool ShaderWriter::Save(const std::string& path) const
{
    return TextureWriter::Save(path, Write());
}

// ---------------------------------------------------------------------------------------------
// The sample game's shaders

namespace {

const char* const basicPixelProgram = R"GLSL(
void main()
{
    o_color = v_color0 * texture(s0, v_tex0.xy) * texture(s1, v_tex0.xy);
}
)GLSL";

void AddBasicSection(ShaderWriter::Section& s, bool overlay)
{
    const SampleShaderParts::BasicParameters p = SampleShaderParts::AddBasicParameters(s);
    const uint32_t baseTexture2 = s.Parameter("baseTexture2", GraphicsShader2::TYPE_DEVICE_TEXTURE, 1,
                                              s.Texture(ShaderWriter::whiteTextureName));
    const uint32_t vertex =
        s.VertexProgram(SampleShaderParts::tintedVertexProgram, SampleShaderParts::BasicVertexBindings(p));
    const uint32_t pixel = s.PixelProgram(basicPixelProgram);
    SampleShaderParts::BeginStyle(s, "normal", 0, vertex, pixel, p.baseTexture);
    s.StateFromParameter(GraphicsShader2::STATE_TEXTURE, baseTexture2, 1);
    SampleShaderParts::AddBlendStates(s, GAME::RENDER_BLEND_SRC_ALPHA, GAME::RENDER_BLEND_INV_SRC_ALPHA,
                                      overlay ? GAME::RENDER_TEST_ALWAYS : GAME::RENDER_TEST_LESS_EQUAL,
                                      !overlay);
}

// ---------------------------------------------------------------------------------------------
// Scene shaders: meshes, the lit boxes of tests and the portal mask, in the styles the scene
// renderers draw.
//
// Register plan:
//   vertex: vc[0..3] object to screen, vc[4..7] object to world (scene space), vc[8] colour,
//           vc[9] camera origin, vc[10].x time, vc[11..14] world to shadow map, vc[15].x the
//           light's reach; "GeForce3" lights per vertex with vc[16] light colour, vc[17] light
//           direction, vc[18] light position, vc[19] sky ambient, vc[20] ground ambient,
//           vc[21] depth fog, vc[22] height fog.
//   pixel:  pc[0] light colour, pc[1] light direction (toward the light), pc[2] light position,
//           pc[3].x light reach, pc[4] sky ambient, pc[5] ground ambient, pc[6].x shadow blur
//           (a fraction of the map's width), pc[7].x shadow intensity, pc[8] fog colour, pc[9]
//           depth fog (start, 1 / (end - start), density), pc[10] height fog (base,
//           1 / (top - base), density), pc[11] camera origin, pc[12].x alpha mask factor.
//   samplers: s0 base texture, s1 shadow map, s2 transparency mask.
// Varyings: v_tex0 texture coordinate, v_tex1 scene-space normal, v_tex2 scene-space position,
// v_tex3 the position in the shadow map's space, v_color0 the colour; "GeForce3": v_color1 the
// light and v_fog the fog of the vertex.
//
// Shadow maps hold a depth of 16 bits as three digits in red, green and blue (see EncodeDepth);
// the white a map is cleared to decodes to its far end, so it shades nothing. A directional map
// holds the depth of its projection (0 to 1; the lit passes' shadow matrix carries it unchanged).
// A point light's map looks down from the light through a cone of 60 degrees about the vertical
// (x and z of the light's view over the depth below the light) and holds the distance from the
// light over its reach.
//
// A fog parameter whose second value is 0 (start and end equal) switches at the start.

const char* const sceneVertexProgram = R"GLSL(
void main()
{
    vec4 position = vec4(a_position.xyz, 1.0);
    gl_Position = engine_transform(0, position);
    vec3 normal = vec3(dot(vc[4].xyz, a_normal.xyz), dot(vc[5].xyz, a_normal.xyz), dot(vc[6].xyz, a_normal.xyz));
    vec4 world = engine_transform(4, position);
    v_tex0 = a_texCoord0;
    v_tex1 = vec4(dot(normal, normal) > 0.0 ? normalize(normal) : vec3(0.0, 1.0, 0.0), 0.0);
    v_tex2 = world;
    v_tex3 = engine_transform(11, world);
    v_color0 = vc[8];
    v_fog = 1.0;
}
)GLSL";

// The point light's map: x and z of the light's view over the depth below it, as far as the
// cone's slope; the depth buffer holds a perspective depth from 0.05 below the light to its reach,
// reversed as every view's is (1 at 0.05, 0 at the reach; the colour the distance, worked out for
// each pixel).
const char* const pointShadowVertexProgram = R"GLSL(
const float coneSlope = 1.7320508;
const float nearDepth = 0.05;
void main()
{
    vec4 view = engine_transform(0, vec4(a_position.xyz, 1.0));
    float below = -view.y;
    float reach = max(vc[15].x, nearDepth * 2.0);
    gl_Position = vec4(view.x, view.z, coneSlope * nearDepth * (reach - below) / (reach - nearDepth),
                       below * coneSlope);
    v_tex0 = a_texCoord0;
    v_tex1 = view;
    v_color0 = vc[8];
    v_fog = 1.0;
}
)GLSL";

// Three digits of 5, 6 and 5 bits in red, green and blue: whole in the 16-bit colour (5-6-5) of
// shadow surfaces on devices that pair it with depth, and in 8-bit channels alike.
const char* const depthEncoding = R"GLSL(
vec4 EncodeDepth(float depth)
{
    float d = clamp(depth, 0.0, 1.0) * 32.0;
    float high = min(floor(d), 31.0);
    float m = (d - high) * 64.0;
    float middle = min(floor(m), 63.0);
    float low = min(floor((m - middle) * 32.0), 31.0);
    return vec4(high / 31.0, middle / 63.0, low / 31.0, 1.0);
}
float DecodeDepth(vec4 texel)
{
    vec3 digits = floor(texel.rgb * vec3(31.0, 63.0, 31.0) + 0.5);
    return (digits.r + (digits.g + digits.b / 32.0) / 64.0) / 32.0;
}
)GLSL";

const char* const directionalShadowPixelProgram = R"GLSL(
void main()
{
    o_color = EncodeDepth(gl_FragCoord.z);
}
)GLSL";

const char* const pointShadowPixelProgram = R"GLSL(
void main()
{
    o_color = EncodeDepth(length(v_tex1.xyz) / max(pc[3].x, 1e-4));
}
)GLSL";

// Shadows for the "GeForce6" pixel programs (after the lights of
// SampleShaderParts::lightingFunctions and the depth encoding).
const char* const pixelShading = R"GLSL(
const float coneSlope = 1.7320508;
const float shadowBias = 0.004;
float ShadowTap(vec2 uv, float depth)
{
    ivec2 size = textureSize(s1, 0);
    ivec2 texel = clamp(ivec2(floor(uv * vec2(size))), ivec2(0), size - ivec2(1));
    return depth <= DecodeDepth(texelFetch(s1, texel, 0)) + shadowBias ? 1.0 : 0.0;
}
float ShadowAt(vec2 uv, float depth)
{
    if (any(lessThan(uv, vec2(0.0))) || any(greaterThan(uv, vec2(1.0))) || !(depth <= 1.0))
        return 1.0;
    float blur = pc[6].x;
    float lit = ShadowTap(uv, depth);
    if (blur > 0.0)
        lit = 0.25 * (ShadowTap(uv + vec2(-blur, -blur), depth) + ShadowTap(uv + vec2(blur, -blur), depth) +
                      ShadowTap(uv + vec2(-blur, blur), depth) + ShadowTap(uv + vec2(blur, blur), depth));
    return 1.0 - clamp(pc[7].x, 0.0, 1.0) * (1.0 - lit);
}
float DirectionalShadow()
{
    vec4 s = v_tex3;
    return s.w > 0.0 ? ShadowAt(s.xy / s.w, s.z / s.w) : 1.0;
}
float PointShadow()
{
    vec3 v = v_tex3.xyz;
    float below = -v.y;
    if (below <= 0.0 || pc[3].x <= 0.0)
        return 1.0;
    vec2 clip = vec2(v.x, v.z) / (below * coneSlope);
    return ShadowAt(vec2(0.5 + 0.5 * clip.x, 0.5 - 0.5 * clip.y), length(v) / pc[3].x);
}
)GLSL";

// The transparency mask's weight for the "GeForce6" pixel programs.
const char* const maskWeight = R"GLSL(float MaskWeight()
{
    ivec2 size = textureSize(s2, 0);
    float m = texelFetch(s2, clamp(ivec2(gl_FragCoord.xy), ivec2(0), size - ivec2(1)), 0).r;
    return mix(1.0 - m, m, clamp(pc[12].x, 0.0, 1.0));
}
)GLSL";

// Lights, shadows, fog and the transparency mask for the "GeForce6" pixel programs.
std::string PixelLighting()
{
    return std::string(depthEncoding) + SampleShaderParts::lightingFunctions + pixelShading +
           SampleShaderParts::FogFunction("pc", 11, 9, 10) + maskWeight;
}

// "GeForce3": the light and the fog of each vertex.
const char* const vertexLighting = R"GLSL(
vec3 Ambient(vec3 n)
{
    return mix(vc[20].rgb, vc[19].rgb, clamp(n.y * 0.5 + 0.5, 0.0, 1.0));
}
vec3 DirectionalLight(vec3 n)
{
    vec3 d = vc[17].xyz;
    return dot(d, d) > 0.0 ? vc[16].rgb * max(dot(n, normalize(d)), 0.0) : vec3(0.0);
}
vec3 PointLight(vec3 n, vec3 p)
{
    vec3 toLight = vc[18].xyz - p;
    float distance = length(toLight);
    if (distance <= 0.0 || vc[15].x <= 0.0)
        return vec3(0.0);
    return vc[16].rgb * max(dot(n, toLight / distance), 0.0) * clamp(1.0 - distance / vc[15].x, 0.0, 1.0);
}
)GLSL";

// A "GeForce3" vertex program with the light of the expression (of n and p) in v_color1.
std::string VertexLitProgram(const char* light)
{
    return std::string(vertexLighting) + SampleShaderParts::FogFunction("vc", 9, 21, 22) +
           "void main()\n"
           "{\n"
           "    vec4 position = vec4(a_position.xyz, 1.0);\n"
           "    gl_Position = engine_transform(0, position);\n"
           "    vec3 n = vec3(dot(vc[4].xyz, a_normal.xyz), dot(vc[5].xyz, a_normal.xyz), dot(vc[6].xyz, "
           "a_normal.xyz));\n"
           "    n = dot(n, n) > 0.0 ? normalize(n) : vec3(0.0, 1.0, 0.0);\n"
           "    vec3 p = engine_transform(4, position).xyz;\n"
           "    v_tex0 = a_texCoord0;\n"
           "    v_color0 = vc[8];\n"
           "    v_color1 = vec4(" +
           light +
           ", 1.0);\n"
           "    v_fog = 1.0 - FogAmount(p);\n"
           "}\n";
}

// A pixel program: the base (colour times texture) lit by the expression; with the mask, the
// alpha is weighted by the transparency mask.
std::string LitPixelProgram(const char* light, bool masked, bool perPixel)
{
    std::string text = perPixel ? PixelLighting() : std::string();
    if (!perPixel && masked)
        text += R"GLSL(
float MaskWeight()
{
    ivec2 size = textureSize(s2, 0);
    float m = texelFetch(s2, clamp(ivec2(gl_FragCoord.xy), ivec2(0), size - ivec2(1)), 0).r;
    return mix(1.0 - m, m, clamp(pc[12].x, 0.0, 1.0));
}
)GLSL";
    text += "void main()\n{\n    vec4 base = v_color0 * texture(s0, v_tex0.xy);\n";
    if (perPixel)
        text += "    vec3 n = SurfaceNormal();\n";
    text += std::string("    o_color = vec4(base.rgb * (") + light + "), base.a" +
            (masked ? " * MaskWeight()" : "") + ");\n}\n";
    return text;
}

// The fog colour over what is drawn, by the fog amount (and the opacity for see-through surfaces).
std::string FogPixelProgram(bool transparent, bool perPixel)
{
    std::string text = perPixel ? PixelLighting() : std::string();
    text += "void main()\n{\n    float alpha = v_color0.a * texture(s0, v_tex0.xy).a;\n";
    text += perPixel ? "    float fog = FogAmount(v_tex2.xyz);\n" : "    float fog = 1.0 - v_fog;\n";
    text += std::string("    o_color = vec4(pc[8].rgb, fog") + (transparent ? " * alpha" : "") + ");\n}\n";
    return text;
}

// Kinds of scene shader.
enum class SceneKind
{
    Lit,         // lit by the frame's lights, receives and casts shadows
    Unlit,       // its own colour under every light, casts shadows
    Transparent, // lit, see-through by its colour's alpha, drawn in the transparent band
};

struct SceneParameters
{
    SampleShaderParts::BasicParameters common;
    SampleShaderParts::LightParameters light;
    uint32_t worldToShadow, shadowTexture, shadowBluriness, shadowIntensity;
    uint32_t fogColor, depthFog, heightFog, alphaMaskTexture, alphaMaskFactor;
};

// Every parameter has a default, so that no register keeps another draw's value: no light, no
// shadow (a zero shadow matrix, white maps), no fog, no mask.
SceneParameters AddSceneParameters(ShaderWriter::Section& s)
{
    SceneParameters p;
    p.common = SampleShaderParts::AddBasicParameters(s);
    p.light = SampleShaderParts::AddLightParameters(s);
    const uint32_t black = s.Float3(0.0f, 0.0f, 0.0f);
    const uint32_t white = s.Texture(ShaderWriter::whiteTextureName);
    p.worldToShadow = s.Parameter("worldToShadowMatrix", GraphicsShader2::TYPE_FLOAT4X4, 1,
                                  s.Matrix(GraphicsShader2::TYPE_FLOAT4X4));
    p.shadowTexture = s.Parameter("shadowTexture", GraphicsShader2::TYPE_DEVICE_TEXTURE, 1, white);
    p.shadowBluriness = s.Parameter("shadowBluriness", GraphicsShader2::TYPE_FLOAT, 1, s.Float(0.0f));
    p.shadowIntensity = s.Parameter("lightShadowIntensity", GraphicsShader2::TYPE_FLOAT, 1, s.Float(1.0f));
    p.fogColor = s.Parameter("fogColor", GraphicsShader2::TYPE_FLOAT3, 1, black);
    p.depthFog = s.Parameter("depthFogParams", GraphicsShader2::TYPE_FLOAT3, 1, black);
    p.heightFog = s.Parameter("heightFogParams", GraphicsShader2::TYPE_FLOAT3, 1, black);
    p.alphaMaskTexture = s.Parameter("alphaMaskTexture", GraphicsShader2::TYPE_DEVICE_TEXTURE, 1, white);
    p.alphaMaskFactor =
        s.Parameter("alphaMaskFactor", GraphicsShader2::TYPE_FLOAT4, 1, s.Float4(1.0f, 1.0f, 1.0f, 1.0f));
    return p;
}

std::vector<ShaderWriter::Binding> SceneVertexBindings(const SceneParameters& p, bool vertexLit)
{
    std::vector<ShaderWriter::Binding> bindings = SampleShaderParts::BasicVertexBindings(p.common);
    bindings.push_back({11, 4, false, p.worldToShadow});
    bindings.push_back({15, 1, false, p.light.maxDistance});
    if (vertexLit) {
        bindings.push_back({16, 1, false, p.light.color});
        bindings.push_back({17, 1, false, p.light.direction});
        bindings.push_back({18, 1, false, p.light.position});
        bindings.push_back({19, 1, false, p.light.skyAmbient});
        bindings.push_back({20, 1, false, p.light.groundAmbient});
        bindings.push_back({21, 1, false, p.depthFog});
        bindings.push_back({22, 1, false, p.heightFog});
    }
    return bindings;
}

std::vector<ShaderWriter::Binding> ScenePixelBindings(const SceneParameters& p)
{
    std::vector<ShaderWriter::Binding> bindings = SampleShaderParts::LightPixelBindings(p.light);
    bindings.insert(bindings.end(), {{6, 1, false, p.shadowBluriness},
                                     {7, 1, false, p.shadowIntensity},
                                     {8, 1, false, p.fogColor},
                                     {9, 1, false, p.depthFog},
                                     {10, 1, false, p.heightFog},
                                     {11, 1, false, p.common.cameraOrigin},
                                     {12, 1, false, p.alphaMaskFactor}});
    return bindings;
}

// A style's states: programs, the three textures, blending, depth and write masks.
struct StyleStates
{
    GAME::RenderBlendFactor source = GAME::RENDER_BLEND_ONE;
    GAME::RenderBlendFactor destination = GAME::RENDER_BLEND_ZERO;
    GAME::RenderTestFunction depthTest = GAME::RENDER_TEST_LESS_EQUAL;
    bool depthWrite = true;
    bool colorWrite = true;
    bool alphaWrite = true;
};

void AddSceneStyle(ShaderWriter::Section& s, const SceneParameters& p, const char* name, int32_t sortOrder,
                   uint32_t vertex, uint32_t pixel, const StyleStates& states)
{
    SampleShaderParts::BeginStyle(s, name, sortOrder, vertex, pixel, p.common.baseTexture);
    s.StateFromParameter(GraphicsShader2::STATE_TEXTURE, p.shadowTexture, 1);
    s.StateFromParameter(GraphicsShader2::STATE_TEXTURE, p.alphaMaskTexture, 2);
    SampleShaderParts::AddBlendStates(s, states.source, states.destination, states.depthTest,
                                      states.depthWrite);
    s.StateFromValue(GraphicsShader2::STATE_COLOR_WRITE, s.Int(states.colorWrite ? 1 : 0));
    s.StateFromValue(GraphicsShader2::STATE_ALPHA_WRITE, s.Int(states.alphaWrite ? 1 : 0));
}

// Opaque surfaces draw in the band the normal renderer lights with ambient on its first light;
// see-through ones in the transparent band, farthest first.
constexpr int32_t opaqueSortOrder = 1000;
constexpr int32_t transparentSortOrder = 10000;

void AddSceneSection(ShaderWriter::Section& s, SceneKind kind, bool perPixel)
{
    const SceneParameters p = AddSceneParameters(s);
    const bool transparent = kind == SceneKind::Transparent;
    const int32_t order = transparent ? transparentSortOrder : opaqueSortOrder;
    const std::vector<ShaderWriter::Binding> pixelBindings = ScenePixelBindings(p);

    StyleStates opaque;
    StyleStates added; // further lights add to what is there
    added.destination = GAME::RENDER_BLEND_ONE;
    added.depthWrite = false;
    StyleStates blended; // over what is behind, by the alpha; the frame's alpha stays
    blended.source = GAME::RENDER_BLEND_SRC_ALPHA;
    blended.destination = GAME::RENDER_BLEND_INV_SRC_ALPHA;
    blended.depthWrite = false;
    blended.alphaWrite = false;
    StyleStates blendedAdded = blended;
    blendedAdded.destination = GAME::RENDER_BLEND_ONE;
    StyleStates depthOnly;
    depthOnly.colorWrite = false;
    depthOnly.alphaWrite = false;
    const StyleStates& base = transparent ? blended : opaque;
    const StyleStates& further = transparent ? blendedAdded : added;

    struct Light
    {
        const char* style;
        const char* pixel;  // per pixel, with shadows
        const char* vertex; // per vertex
        bool ambient;
    };
    const std::vector<Light> lights =
        kind == SceneKind::Unlit
            ? std::vector<Light>{{"ambientLightStyle", "1.0", "vec3(1.0)", true},
                                 {"dLightDiffuseAmbientStyle", "1.0", "vec3(1.0)", true},
                                 {"pLightDiffuseAmbientStyle", "1.0", "vec3(1.0)", true}}
            : std::vector<Light>{
                  {"ambientLightStyle", "Ambient(n)", "Ambient(n)", true},
                  {"dLightDiffuseAmbientStyle", "Ambient(n) + DirectionalLight(n) * DirectionalShadow()",
                   "Ambient(n) + DirectionalLight(n)", true},
                  {"pLightDiffuseAmbientStyle", "Ambient(n) + PointLight(n) * PointShadow()",
                   "Ambient(n) + PointLight(n, p)", true},
                  {"dLightDiffuseStyle", "DirectionalLight(n) * DirectionalShadow()", "DirectionalLight(n)",
                   false},
                  {"pLightDiffuseStyle", "PointLight(n) * PointShadow()", "PointLight(n, p)", false}};

    const uint32_t sceneVertex = s.VertexProgram(sceneVertexProgram, SceneVertexBindings(p, false));
    for (const Light& light : lights) {
        uint32_t vertex = sceneVertex;
        uint32_t pixel;
        if (perPixel) {
            pixel = s.PixelProgram(LitPixelProgram(light.pixel, transparent, true), pixelBindings);
        } else {
            vertex = s.VertexProgram(VertexLitProgram(light.vertex), SceneVertexBindings(p, true));
            pixel = s.PixelProgram(LitPixelProgram("v_color1.rgb", transparent, false), pixelBindings);
        }
        AddSceneStyle(s, p, light.style, order, vertex, pixel, light.ambient ? base : further);
    }

    const uint32_t plain = s.PixelProgram(SampleShaderParts::texturedPixelProgram);
    AddSceneStyle(s, p, "depthStyle", order, sceneVertex, plain, depthOnly);
    AddSceneStyle(s, p, "depthOnlyStyle", order, sceneVertex, plain, depthOnly);

    const StyleStates& fog = blended;
    if (perPixel) {
        AddSceneStyle(s, p, "fogStyle", order, sceneVertex,
                      s.PixelProgram(FogPixelProgram(transparent, true), pixelBindings), fog);
    } else {
        const uint32_t fogVertex =
            s.VertexProgram(VertexLitProgram("vec3(1.0)"), SceneVertexBindings(p, true));
        AddSceneStyle(s, p, "fogStyle", order, fogVertex,
                      s.PixelProgram(FogPixelProgram(transparent, false), pixelBindings), fog);
    }

    // Older hardware draws no reflections and keeps no shadow maps.
    if (!perPixel)
        return;
    const char* const reflected = kind == SceneKind::Unlit ? "1.0" : "Ambient(n) + DirectionalLight(n)";
    AddSceneStyle(s, p, "reflectionStyle", order, sceneVertex,
                  s.PixelProgram(LitPixelProgram(reflected, false, true), pixelBindings), base);
    if (transparent)
        return; // see-through surfaces cast no shadow
    const std::vector<ShaderWriter::Binding> reach = {{3, 1, false, p.light.maxDistance}};
    AddSceneStyle(s, p, "shadow", order, sceneVertex,
                  s.PixelProgram(std::string(depthEncoding) + directionalShadowPixelProgram), opaque);
    AddSceneStyle(s, p, "pLightShadowStyle", order,
                  s.VertexProgram(pointShadowVertexProgram, SceneVertexBindings(p, false)),
                  s.PixelProgram(std::string(depthEncoding) + pointShadowPixelProgram, reach), opaque);
}

// The portal mask: "normal" marks the portal's pixels in the alpha channel alone (depth-tested,
// so that what stands before the doorway hides what lies behind it); "shadow" draws the portal
// into a directional shadow map as a caster. The primitive drawer gives per-vertex colours (the
// tinted vertex program passes them on).

const char* const portalMaskPixelProgram = R"GLSL(
void main()
{
    o_color = v_color0;
}
)GLSL";

void AddPortalMaskSection(ShaderWriter::Section& s, bool shadows)
{
    const SampleShaderParts::BasicParameters p = SampleShaderParts::AddBasicParameters(s);
    const uint32_t vertex =
        s.VertexProgram(SampleShaderParts::tintedVertexProgram, SampleShaderParts::BasicVertexBindings(p));
    s.Style("normal", 0);
    s.StateFromValue(GraphicsShader2::STATE_VERTEX_SHADER, vertex);
    s.StateFromValue(GraphicsShader2::STATE_PIXEL_SHADER, s.PixelProgram(portalMaskPixelProgram));
    SampleShaderParts::AddBlendStates(s, GAME::RENDER_BLEND_ONE, GAME::RENDER_BLEND_ZERO,
                                      GAME::RENDER_TEST_LESS_EQUAL, false);
    s.StateFromValue(GraphicsShader2::STATE_COLOR_WRITE, s.Int(0));
    s.StateFromValue(GraphicsShader2::STATE_ALPHA_WRITE, s.Int(1));
    if (!shadows)
        return;
    s.Style("shadow", 0);
    s.StateFromValue(GraphicsShader2::STATE_VERTEX_SHADER, vertex);
    s.StateFromValue(GraphicsShader2::STATE_PIXEL_SHADER,
                     s.PixelProgram(std::string(depthEncoding) + directionalShadowPixelProgram));
    SampleShaderParts::AddBlendStates(s, GAME::RENDER_BLEND_ONE, GAME::RENDER_BLEND_ZERO,
                                      GAME::RENDER_TEST_LESS_EQUAL, true);
    s.StateFromValue(GraphicsShader2::STATE_COLOR_WRITE, s.Int(1));
    s.StateFromValue(GraphicsShader2::STATE_ALPHA_WRITE, s.Int(1));
}

// "GeForce6" lights per pixel with shadows and reflections; older sections per vertex.
bool IsPerPixel(const ShaderWriter::Section& section)
{
    return section.GetGeneration() == "GeForce6";
}

// Full-surface passes: the quad arrives in clip space.
const char* const clipSpaceVertexProgram = R"GLSL(
void main()
{
    gl_Position = vec4(a_position.xy, 0.0, 1.0);
    v_color0 = a_color;
    v_tex0 = a_texCoord0;
    v_fog = 1.0;
}
)GLSL";

// pc[0].xy the tap step, pc[1..4].x the taps' weights.
const char* const filterPixelProgram = R"GLSL(
void main()
{
    vec4 sum = vec4(0.0);
    for (int i = 0; i < 4; ++i)
        sum += pc[1 + i].x * texture(s0, v_tex0.xy + pc[0].xy * (float(i) + 0.5));
    o_color = sum;
}
)GLSL";

// Noise constants: pc[0] blend factors, pc[1] levels, pc[2] texture scales, pc[3].x texel step.
const char* const noiseFunctions = R"GLSL(
float Layer(sampler2D current, sampler2D next, float blend, float scale)
{
    vec2 uv = v_tex0.xy * scale;
    return mix(texture(current, uv).r, texture(next, uv).r, blend);
}
)GLSL";

const char* const noiseFourLayers = R"GLSL(
void main()
{
    float v = Layer(s0, s1, pc[0].x, pc[2].x) * pc[1].x + Layer(s2, s3, pc[0].y, pc[2].y) * pc[1].y +
              Layer(s4, s5, pc[0].z, pc[2].z) * pc[1].z + Layer(s6, s7, pc[0].w, pc[2].w) * pc[1].w;
    o_color = vec4(v, v, v, 1.0);
}
)GLSL";

// Older hardware: two layers a pass, the first in x, the second in w (y for its scale).
const char* const noiseTwoLayers = R"GLSL(
void main()
{
    float v = Layer(s0, s1, pc[0].x, pc[2].x) * pc[1].x + Layer(s2, s3, pc[0].w, pc[2].y) * pc[1].w;
    o_color = vec4(v, v, v, 1.0);
}
)GLSL";

const char* const noiseConvert = R"GLSL(
void main()
{
    float d = pc[3].x;
    vec2 uv = v_tex0.xy;
    float dx = texture(s0, uv + vec2(d, 0.0)).r - texture(s0, uv - vec2(d, 0.0)).r;
    float dy = texture(s0, uv + vec2(0.0, d)).r - texture(s0, uv - vec2(0.0, d)).r;
    vec3 n = normalize(vec3(-4.0 * dx, -4.0 * dy, 1.0));
    o_color = vec4(n * 0.5 + 0.5, 1.0);
}
)GLSL";

void AddFilterSection(ShaderWriter::Section& s)
{
    const uint32_t texture = s.Parameter("texture", GraphicsShader2::TYPE_DEVICE_TEXTURE);
    const uint32_t sampleOffset =
        s.Parameter("sampleOffset", GraphicsShader2::TYPE_FLOAT2, 1, s.Float2(0.0f, 0.0f));
    const uint32_t sampleWeight = s.Parameter("sampleWeight", GraphicsShader2::TYPE_FLOAT, 4);
    const uint32_t blendDstFactor =
        s.Parameter("blendDstFactor", GraphicsShader2::TYPE_INT, 1, s.Int(GAME::RENDER_BLEND_ZERO));
    const uint32_t vertex = s.VertexProgram(clipSpaceVertexProgram);
    const uint32_t pixel =
        s.PixelProgram(filterPixelProgram, {{0, 1, false, sampleOffset}, {1, 4, false, sampleWeight}});
    SampleShaderParts::BeginStyle(s, "normal", 0, vertex, pixel, texture);
    s.StateFromValue(GraphicsShader2::STATE_SOURCE_BLEND, s.Int(GAME::RENDER_BLEND_ONE));
    s.StateFromParameter(GraphicsShader2::STATE_DESTINATION_BLEND, blendDstFactor);
    s.StateFromValue(GraphicsShader2::STATE_DEPTH_TEST, s.Int(GAME::RENDER_TEST_ALWAYS));
    s.StateFromValue(GraphicsShader2::STATE_DEPTH_WRITE, s.Int(0));
    s.StateFromValue(GraphicsShader2::STATE_ALPHA_TEST, s.Int(GAME::RENDER_TEST_ALWAYS));
    s.StateFromValue(GraphicsShader2::STATE_COLOR_WRITE, s.Int(1));
    s.StateFromValue(GraphicsShader2::STATE_ALPHA_WRITE, s.Int(1));
    const uint32_t clamp = s.Int(1);
    s.StateFromValue(GraphicsShader2::STATE_STAGE_STATE_0, clamp, 0);
    s.StateFromValue(GraphicsShader2::STATE_STAGE_STATE_1, clamp, 0);
}

void AddNoiseSection(ShaderWriter::Section& s, bool allLayersInOnePass)
{
    uint32_t textures[8];
    for (int i = 0; i < 8; ++i)
        textures[i] = s.Parameter("texture" + std::to_string(i), GraphicsShader2::TYPE_DEVICE_TEXTURE);
    const uint32_t zero4 = s.Float4(0.0f, 0.0f, 0.0f, 0.0f);
    const uint32_t blendFactor = s.Parameter("blendFactor", GraphicsShader2::TYPE_FLOAT4, 1, zero4);
    const uint32_t level = s.Parameter("level", GraphicsShader2::TYPE_FLOAT4, 1, zero4);
    const uint32_t textureScale = s.Parameter("textureScale", GraphicsShader2::TYPE_FLOAT4, 1, zero4);
    const uint32_t textureOffset =
        s.Parameter("textureOffset", GraphicsShader2::TYPE_FLOAT, 1, s.Float(0.0f));
    const std::vector<ShaderWriter::Binding> bindings = {{0, 1, false, blendFactor},
                                                         {1, 1, false, level},
                                                         {2, 1, false, textureScale},
                                                         {3, 1, false, textureOffset}};
    const uint32_t vertex = s.VertexProgram(clipSpaceVertexProgram);
    const uint32_t composite = s.PixelProgram(
        std::string(noiseFunctions) + (allLayersInOnePass ? noiseFourLayers : noiseTwoLayers), bindings);
    const uint32_t convert = s.PixelProgram(noiseConvert, bindings);

    auto style = [&](const char* name, uint32_t pixel, int stages, GAME::RenderBlendFactor destination) {
        SampleShaderParts::BeginStyle(s, name, 0, vertex, pixel, textures[0]);
        for (int i = 1; i < stages; ++i)
            s.StateFromParameter(GraphicsShader2::STATE_TEXTURE, textures[i], static_cast<uint32_t>(i));
        SampleShaderParts::AddBlendStates(s, GAME::RENDER_BLEND_ONE, destination, GAME::RENDER_TEST_ALWAYS,
                                          false);
        s.StateFromValue(GraphicsShader2::STATE_COLOR_WRITE, s.Int(1));
    };
    if (allLayersInOnePass) {
        style("compositeBaseStyle", composite, 8, GAME::RENDER_BLEND_ZERO);
    } else {
        style("compositeBaseStyle", composite, 4, GAME::RENDER_BLEND_ZERO);
        style("compositeAddStyle", composite, 4, GAME::RENDER_BLEND_ONE);
    }
    style("convertStyle", convert, 1, GAME::RENDER_BLEND_ZERO);
}

} // namespace

ShaderWriter ShaderWriter::SampleBasic()
{
    return SampleShaderParts::ForSampleGenerations([](Section& section) {
        AddBasicSection(section, false);
        // Static meshes name the basic shader too (the sample prop does).
        MeshShaders::AddMeshStyles(section, false);
    });
}

ShaderWriter ShaderWriter::SampleOverlay()
{
    return SampleShaderParts::ForSampleGenerations([](Section& section) { AddBasicSection(section, true); });
}

ShaderWriter ShaderWriter::SampleLitTransparent()
{
    return SampleShaderParts::ForSampleGenerations(
        [](Section& section) { AddSceneSection(section, SceneKind::Transparent, IsPerPixel(section)); });
}

ShaderWriter ShaderWriter::SamplePortalMask()
{
    return SampleShaderParts::ForSampleGenerations(
        [](Section& section) { AddPortalMaskSection(section, IsPerPixel(section)); });
}

ShaderWriter ShaderWriter::SampleUnlit()
{
    return SampleShaderParts::ForSampleGenerations(
        [](Section& section) { AddSceneSection(section, SceneKind::Unlit, IsPerPixel(section)); });
}

ShaderWriter ShaderWriter::SampleLit()
{
    return SampleShaderParts::ForSampleGenerations(
        [](Section& section) { AddSceneSection(section, SceneKind::Lit, IsPerPixel(section)); });
}

ShaderWriter ShaderWriter::SampleFilter()
{
    return SampleShaderParts::ForSampleGenerations(AddFilterSection);
}

ShaderWriter ShaderWriter::SampleNoiseTextureGen()
{
    ShaderWriter writer;
    AddNoiseSection(writer.AddSection("GeForce6"), true);
    AddNoiseSection(writer.AddSection("GeForce3"), false);
    return writer;
}

} // namespace DataKit
