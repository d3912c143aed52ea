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

// Meshes: world normal in v_tex1, world position in v_tex2; meshes need no vertex colour.
const char* const meshVertexProgram = R"GLSL(
void main()
{
    vec4 position = vec4(a_position.xyz, 1.0);
    gl_Position = engine_transform(0, position);
    vec3 normal = vec3(dot(vc[4].xyz, a_normal.xyz), dot(vc[5].xyz, a_normal.xyz), dot(vc[6].xyz, a_normal.xyz));
    v_tex0 = a_texCoord0;
    v_tex1 = vec4(dot(normal, normal) > 0.0 ? normalize(normal) : vec3(0.0, 1.0, 0.0), 0.0);
    v_tex2 = engine_transform(4, position);
    v_color0 = vc[8];
    v_fog = 1.0;
}
)GLSL";

std::string LitPixelProgram(const char* light)
{
    return std::string(SampleShaderParts::lightingFunctions) +
           "void main()\n{\n    vec4 base = v_color0 * texture(s0, v_tex0.xy);\n" +
           "    vec3 n = SurfaceNormal();\n    o_color = vec4(base.rgb * (" + light + "), base.a);\n}\n";
}

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

void AddMeshSection(ShaderWriter::Section& s, bool lit)
{
    const SampleShaderParts::BasicParameters p = SampleShaderParts::AddBasicParameters(s);
    const uint32_t vertex = s.VertexProgram(meshVertexProgram, SampleShaderParts::BasicVertexBindings(p));
    const uint32_t unlit = s.PixelProgram(SampleShaderParts::texturedPixelProgram);
    const int32_t opaque = 1000;

    auto style = [&](const char* name, uint32_t pixel, GAME::RenderBlendFactor source,
                     GAME::RenderBlendFactor destination, bool depthWrite, bool colorWrite) {
        SampleShaderParts::BeginStyle(s, name, opaque, vertex, pixel, p.baseTexture);
        SampleShaderParts::AddBlendStates(s, source, destination, GAME::RENDER_TEST_LESS_EQUAL, depthWrite);
        s.StateFromValue(GraphicsShader2::STATE_COLOR_WRITE, s.Int(colorWrite ? 1 : 0));
    };

    if (!lit) {
        style("ambientLightStyle", unlit, GAME::RENDER_BLEND_ONE, GAME::RENDER_BLEND_ZERO, true, true);
        style("depthStyle", unlit, GAME::RENDER_BLEND_ONE, GAME::RENDER_BLEND_ZERO, true, false);
        return;
    }

    const std::vector<ShaderWriter::Binding> lighting = SampleShaderParts::AddLightBindings(s);
    const uint32_t ambient = s.PixelProgram(LitPixelProgram("Ambient(n)"), lighting);
    const uint32_t directional = s.PixelProgram(LitPixelProgram("DirectionalLight(n)"), lighting);
    const uint32_t directionalAmbient =
        s.PixelProgram(LitPixelProgram("Ambient(n) + DirectionalLight(n)"), lighting);
    const uint32_t point = s.PixelProgram(LitPixelProgram("PointLight(n)"), lighting);
    const uint32_t pointAmbient = s.PixelProgram(LitPixelProgram("Ambient(n) + PointLight(n)"), lighting);

    style("ambientLightStyle", ambient, GAME::RENDER_BLEND_ONE, GAME::RENDER_BLEND_ZERO, true, true);
    style("dLightDiffuseAmbientStyle", directionalAmbient, GAME::RENDER_BLEND_ONE, GAME::RENDER_BLEND_ZERO,
          true, true);
    style("pLightDiffuseAmbientStyle", pointAmbient, GAME::RENDER_BLEND_ONE, GAME::RENDER_BLEND_ZERO, true,
          true);
    // Further lights add to what is there.
    style("dLightDiffuseStyle", directional, GAME::RENDER_BLEND_ONE, GAME::RENDER_BLEND_ONE, false, true);
    style("pLightDiffuseStyle", point, GAME::RENDER_BLEND_ONE, GAME::RENDER_BLEND_ONE, false, true);
    style("depthStyle", unlit, GAME::RENDER_BLEND_ONE, GAME::RENDER_BLEND_ZERO, true, false);
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

ShaderWriter ShaderWriter::SampleUnlit()
{
    return SampleShaderParts::ForSampleGenerations([](Section& section) { AddMeshSection(section, false); });
}

ShaderWriter ShaderWriter::SampleLit()
{
    return SampleShaderParts::ForSampleGenerations([](Section& section) { AddMeshSection(section, true); });
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
