#include "datakit/WaterShaders.h"

#include "datakit/SampleGameData.h"
#include "datakit/SampleShaderParts.h"
#include "datakit/TextureWriter.h"
#include "graphics/GraphicsShader2.h"
#include "graphics/RenderTypes.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace DataKit {

namespace {

using GAME::GraphicsShader2;

const char* const generations[] = {"GeForce6", "GeForce3"};

// vc[0..3] object to screen, vc[4..7] object to world, vc[8].xy texture scale, vc[9].xy texture
// direction, vc[10].xy texture offset. Bump coordinates in v_tex0, the clip position in v_tex1, the
// scene position in v_tex2, the vertex colour (coverage in alpha, depth in green and blue) in
// v_color0, the clear air's share in v_fog.
const char* const blockVertexProgram = R"GLSL(
void main()
{
    vec4 position = vec4(a_position.xyz, 1.0);
    vec4 clip = engine_transform(0, position);
    gl_Position = clip;
    vec2 d = vc[9].xy;
    vec2 uv = a_texCoord0.xy * vc[8].xy;
    v_tex0 = vec4(uv.x * d.x - uv.y * d.y + vc[10].x, uv.x * d.y + uv.y * d.x + vc[10].y, 0.0, 1.0);
    v_tex1 = clip;
    v_tex2 = engine_transform(4, position);
    v_color0 = a_color;
    v_fog = 1.0 - FogAmount(v_tex2.xyz);
}
)GLSL";

// Rivers bring their own coordinates (across, along); the texture runs down the flow.
const char* const pathVertexProgram = R"GLSL(
void main()
{
    vec4 position = vec4(a_position.xyz, 1.0);
    vec4 clip = engine_transform(0, position);
    gl_Position = clip;
    v_tex0 = vec4(a_texCoord0.x, a_texCoord0.y - vc[10].x, 0.0, 1.0);
    v_tex1 = clip;
    v_tex2 = engine_transform(4, position);
    v_color0 = a_color;
    v_fog = 1.0 - FogAmount(v_tex2.xyz);
}
)GLSL";

// pc[0] water colour, pc[1] depth parameters, pc[2] surface parameters; s0 bump, s1 sky,
// s2 reflection.
const char* const waterFunctions = R"GLSL(
float WaterDepth()
{
    return v_color0.g * 255.0 + v_color0.b;
}
float WaterOpacity(float depth)
{
    float d = max(depth - pc[1].x, 0.0);
    float range = max(pc[1].y - pc[1].x, 1.0);
    return mix(pc[1].z, pc[1].w, min(d / range, 1.0));
}
vec3 WaterBump()
{
    return texture(s0, v_tex0.xy).xyz * 2.0 - 1.0;
}
vec3 WaterSky(vec3 n)
{
    return texture(s1, vec2(0.5, 0.5) + n.xy * 0.25).rgb;
}
vec4 WaterColor(vec3 reflection)
{
    float amount = clamp(pc[2].z * 0.5, 0.0, 1.0);
    return vec4(WithFog(mix(pc[0].rgb, reflection, amount)), v_color0.a * WaterOpacity(WaterDepth()));
}
)GLSL";

const char* const plainPixelProgram = R"GLSL(
void main()
{
    vec3 n = WaterBump();
    o_color = WaterColor(WaterSky(n));
}
)GLSL";

// The mirrored scene was drawn from the mirrored camera into a surface of its own: a point of the
// water plane lands at the place it has on the screen, upside down.
const char* const reflectPixelProgram = R"GLSL(
void main()
{
    vec3 n = WaterBump();
    vec2 screen = v_tex1.xy / v_tex1.w;
    vec2 uv = clamp(vec2(0.5 + 0.5 * screen.x, 0.5 - 0.5 * screen.y) + n.xy * 0.02, 0.0, 1.0);
    vec4 mirror = texture(s2, uv);
    o_color = WaterColor(mix(WaterSky(n), mirror.rgb, mirror.a));
}
)GLSL";

// vc[0..3] object to screen, vc[4..7] object to world (scene).
const char* const wavesVertexProgram = R"GLSL(
void main()
{
    vec4 position = vec4(a_position.xyz, 1.0);
    gl_Position = engine_transform(0, position);
    v_tex0 = a_texCoord0;
    v_color0 = a_color;
    v_fog = 1.0 - FogAmount(engine_transform(4, position).xyz);
}
)GLSL";

// Blended over the water, the fog mixed in; added to it, faded by the fog.
const char* const wavesBlendPixelProgram = R"GLSL(
void main()
{
    vec4 texel = texture(s0, v_tex0.xy);
    o_color = vec4(WithFog(texel.rgb), texel.a * v_color0.a);
}
)GLSL";
const char* const wavesAddPixelProgram = R"GLSL(
void main()
{
    vec4 texel = texture(s0, v_tex0.xy);
    o_color = vec4(FogFaded(texel.rgb), texel.a * v_color0.a);
}
)GLSL";

// A ring near the quad's edge, fading with the ripple.
const char* const ripplePixelProgram = R"GLSL(
void main()
{
    float r = length(v_tex0.xy * 2.0 - 1.0);
    float ring = smoothstep(0.7, 0.88, r) * (1.0 - smoothstep(0.9, 1.0, r));
    o_color = vec4(WithFog(vec3(1.0)), ring * v_color0.a * 0.7);
}
)GLSL";

// The programs with the fog's functions before them.
std::string FoggedVertex(const char* program)
{
    return SampleShaderParts::VertexFogFunction() + program;
}
std::string FoggedPixel(const std::string& program)
{
    return SampleShaderParts::pixelFogFunctions + program;
}

std::vector<ShaderWriter::Binding> Joined(std::vector<ShaderWriter::Binding> a,
                                          const std::vector<ShaderWriter::Binding>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

void AddBlendStates(ShaderWriter::Section& s, GAME::RenderBlendFactor destination)
{
    s.StateFromValue(GraphicsShader2::STATE_SOURCE_BLEND, s.Int(GAME::RENDER_BLEND_SRC_ALPHA));
    s.StateFromValue(GraphicsShader2::STATE_DESTINATION_BLEND, s.Int(destination));
    s.StateFromValue(GraphicsShader2::STATE_DEPTH_TEST, s.Int(GAME::RENDER_TEST_LESS_EQUAL));
    s.StateFromValue(GraphicsShader2::STATE_DEPTH_WRITE, s.Int(0));
    s.StateFromValue(GraphicsShader2::STATE_ALPHA_TEST, s.Int(GAME::RENDER_TEST_ALWAYS));
    s.StateFromValue(GraphicsShader2::STATE_COLOR_WRITE, s.Int(1));
    s.StateFromValue(GraphicsShader2::STATE_ALPHA_WRITE, s.Int(0));
}

void AddWaterSection(ShaderWriter::Section& s)
{
    const uint32_t flat = s.Texture(WaterShaders::flatNormalTextureName);
    const uint32_t sky = s.Texture(WaterShaders::skyTextureName);
    const uint32_t objectToScreen = s.Parameter("objectToScreenMatrix", GraphicsShader2::TYPE_FLOAT4X4);
    const uint32_t objectToWorld = s.Parameter("objectToWorldMatrix", GraphicsShader2::TYPE_FLOAT4X4);
    const uint32_t textureScale =
        s.Parameter("textureScale", GraphicsShader2::TYPE_FLOAT2, 1, s.Float2(1.0f / 16.0f, 1.0f / 16.0f));
    const uint32_t textureDirection =
        s.Parameter("textureDirection", GraphicsShader2::TYPE_FLOAT2, 1, s.Float2(1.0f, 0.0f));
    const uint32_t textureOffset =
        s.Parameter("textureOffset", GraphicsShader2::TYPE_FLOAT2, 1, s.Float2(0.0f, 0.0f));
    const uint32_t waterColor =
        s.Parameter("waterColor", GraphicsShader2::TYPE_FLOAT3, 1, s.Float3(1.0f, 1.0f, 1.0f));
    const uint32_t depthParams =
        s.Parameter("depthParams", GraphicsShader2::TYPE_FLOAT4, 1, s.Float4(0.0f, 5.0f, 0.0f, 0.8f));
    const uint32_t surfaceParams =
        s.Parameter("surfaceParams", GraphicsShader2::TYPE_FLOAT3, 1, s.Float3(4.0f, 100.0f, 1.0f));
    const uint32_t bumpTexture = s.Parameter("bumpTexture", GraphicsShader2::TYPE_DEVICE_TEXTURE, 1, flat);
    const uint32_t skyTexture = s.Parameter("skyTexture", GraphicsShader2::TYPE_DEVICE_TEXTURE, 1, sky);
    const uint32_t reflectTexture =
        s.Parameter("reflectTexture", GraphicsShader2::TYPE_DEVICE_TEXTURE, 1, sky);
    const std::vector<ShaderWriter::Binding> vertexBindings =
        Joined({{0, 4, false, objectToScreen},
                {4, 4, false, objectToWorld},
                {8, 1, false, textureScale},
                {9, 1, false, textureDirection},
                {10, 1, false, textureOffset}},
               SampleShaderParts::AddVertexFogParameters(s));
    const std::vector<ShaderWriter::Binding> pixelBindings =
        Joined({{0, 1, false, waterColor}, {1, 1, false, depthParams}, {2, 1, false, surfaceParams}},
               SampleShaderParts::AddFogColorParameter(s));
    const uint32_t blockVertex = s.VertexProgram(FoggedVertex(blockVertexProgram), vertexBindings);
    const uint32_t pathVertex = s.VertexProgram(FoggedVertex(pathVertexProgram), vertexBindings);
    const uint32_t plain =
        s.PixelProgram(FoggedPixel(std::string(waterFunctions) + plainPixelProgram), pixelBindings);
    const uint32_t reflect =
        s.PixelProgram(FoggedPixel(std::string(waterFunctions) + reflectPixelProgram), pixelBindings);
    const uint32_t clamp = s.Int(GAME::RENDER_ADDRESS_CLAMP);

    auto style = [&](const char* name, uint32_t vertex, uint32_t pixel, bool reflects) {
        s.Style(name, 1001);
        s.StateFromValue(GraphicsShader2::STATE_VERTEX_SHADER, vertex);
        s.StateFromValue(GraphicsShader2::STATE_PIXEL_SHADER, pixel);
        s.StateFromParameter(GraphicsShader2::STATE_TEXTURE, bumpTexture, 0);
        s.StateFromParameter(GraphicsShader2::STATE_TEXTURE, skyTexture, 1);
        s.StateFromParameter(GraphicsShader2::STATE_TEXTURE, reflectTexture, 2);
        s.StateFromValue(GraphicsShader2::STATE_STAGE_STATE_0, clamp, 1);
        s.StateFromValue(GraphicsShader2::STATE_STAGE_STATE_1, clamp, 1);
        if (reflects) {
            s.StateFromValue(GraphicsShader2::STATE_STAGE_STATE_0, clamp, 2);
            s.StateFromValue(GraphicsShader2::STATE_STAGE_STATE_1, clamp, 2);
        }
        AddBlendStates(s, GAME::RENDER_BLEND_INV_SRC_ALPHA);
    };
    style("waterBlockStyle", blockVertex, plain, false);
    style("waterBlockReflectStyle", blockVertex, reflect, true);
    style("waterPathStyle", pathVertex, plain, false);
    style("waterPathReflectStyle", pathVertex, reflect, true);
}

void AddWavesSection(ShaderWriter::Section& s)
{
    const uint32_t white = s.Texture(ShaderWriter::whiteTextureName);
    const uint32_t objectToScreen = s.Parameter("objectToScreenMatrix", GraphicsShader2::TYPE_FLOAT4X4);
    const uint32_t objectToWorld = s.Parameter("objectToWorldMatrix", GraphicsShader2::TYPE_FLOAT4X4);
    const uint32_t baseTexture = s.Parameter("baseTexture", GraphicsShader2::TYPE_DEVICE_TEXTURE, 1, white);
    const uint32_t vertex =
        s.VertexProgram(FoggedVertex(wavesVertexProgram),
                        Joined({{0, 4, false, objectToScreen}, {4, 4, false, objectToWorld}},
                               SampleShaderParts::AddVertexFogParameters(s)));
    const std::vector<ShaderWriter::Binding> fogColor = SampleShaderParts::AddFogColorParameter(s);
    const uint32_t blend = s.PixelProgram(FoggedPixel(wavesBlendPixelProgram), fogColor);
    const uint32_t add = s.PixelProgram(FoggedPixel(wavesAddPixelProgram), fogColor);
    auto style = [&](const char* name, uint32_t pixel, GAME::RenderBlendFactor destination) {
        s.Style(name, 1001);
        s.StateFromValue(GraphicsShader2::STATE_VERTEX_SHADER, vertex);
        s.StateFromValue(GraphicsShader2::STATE_PIXEL_SHADER, pixel);
        s.StateFromParameter(GraphicsShader2::STATE_TEXTURE, baseTexture, 0);
        AddBlendStates(s, destination);
    };
    style("blendStyle", blend, GAME::RENDER_BLEND_INV_SRC_ALPHA);
    style("bumpStyle", add, GAME::RENDER_BLEND_ONE);
}

void AddRippleSection(ShaderWriter::Section& s)
{
    const uint32_t objectToScreen = s.Parameter("objectToScreenMatrix", GraphicsShader2::TYPE_FLOAT4X4);
    const uint32_t objectToWorld = s.Parameter("objectToWorldMatrix", GraphicsShader2::TYPE_FLOAT4X4);
    const uint32_t vertex =
        s.VertexProgram(FoggedVertex(wavesVertexProgram),
                        Joined({{0, 4, false, objectToScreen}, {4, 4, false, objectToWorld}},
                               SampleShaderParts::AddVertexFogParameters(s)));
    const uint32_t pixel =
        s.PixelProgram(FoggedPixel(ripplePixelProgram), SampleShaderParts::AddFogColorParameter(s));
    s.Style("emissiveStyle", 1002);
    s.StateFromValue(GraphicsShader2::STATE_VERTEX_SHADER, vertex);
    s.StateFromValue(GraphicsShader2::STATE_PIXEL_SHADER, pixel);
    AddBlendStates(s, GAME::RENDER_BLEND_INV_SRC_ALPHA);
}

template <class Add> ShaderWriter MakeShader(Add add)
{
    ShaderWriter writer;
    for (const char* generation : generations)
        add(writer.AddSection(generation));
    return writer;
}

uint32_t White(float alpha)
{
    return static_cast<uint32_t>(std::lround(std::clamp(alpha, 0.0f, 1.0f) * 255.0f)) << 24 | 0x00FFFFFFu;
}

// The water draws its wave passes with its three wave textures in turn: the main bands with
// Wake.tex, the bump bands (added to the scene) with Bump.tex, the foam patches with ShoreWave.tex.
// Each stays faint: a band or patch overlaps its neighbours and the next band, and what they add
// up to over the water should read as foam, never as a white line along the shore.

// The main band: across it (v, which the band shifts as it runs in and may take past either end)
// a soft crest that is clear at both edges; along it (u, 0 to 1 from one end of the band to the
// other) it fades in and out, so that a band ends softly, and it has no pattern (one would repeat
// band by band as dashes).
std::vector<uint8_t> WakeTexture()
{
    constexpr uint32_t width = 32, height = 32;
    std::vector<uint32_t> texels(width * height);
    for (uint32_t y = 0; y < height; ++y) {
        const float crest = std::sin((static_cast<float>(y) + 0.5f) / height * 3.1415927f);
        for (uint32_t x = 0; x < width; ++x) {
            const float along = std::sin((static_cast<float>(x) + 0.5f) / width * 3.1415927f);
            texels[y * width + x] = White(0.2f * crest * crest * along);
        }
    }
    return TextureWriter::Dds(width, height, texels, true);
}

// The bump band, added to the scene: a faint line across it, clear at its edges.
std::vector<uint8_t> BumpBandTexture()
{
    constexpr uint32_t width = 4, height = 16;
    std::vector<uint32_t> texels(width * height);
    for (uint32_t y = 0; y < height; ++y) {
        const float crest = std::sin((static_cast<float>(y) + 0.5f) / height * 3.1415927f);
        for (uint32_t x = 0; x < width; ++x)
            texels[y * width + x] = White(0.05f * crest * crest * crest * crest);
    }
    return TextureWriter::Dds(width, height, texels, true);
}

// A foam patch: a soft blob, clear well inside the quad's edges.
std::vector<uint8_t> ShoreWaveTexture()
{
    constexpr uint32_t size = 32;
    std::vector<uint32_t> texels(size * size);
    for (uint32_t y = 0; y < size; ++y)
        for (uint32_t x = 0; x < size; ++x) {
            const float dx = (static_cast<float>(x) + 0.5f) / size * 2.0f - 1.0f;
            const float dy = (static_cast<float>(y) + 0.5f) / size * 2.0f - 1.0f;
            const float fall = std::max(0.0f, 1.0f - (dx * dx + dy * dy));
            texels[y * size + x] = White(0.15f * fall * fall);
        }
    return TextureWriter::Dds(size, size, texels, true);
}

} // namespace

ShaderWriter WaterShaders::SampleWaterShader()
{
    return MakeShader(AddWaterSection);
}

ShaderWriter WaterShaders::SampleWavesShader()
{
    return MakeShader(AddWavesSection);
}

ShaderWriter WaterShaders::SampleRippleShader()
{
    return MakeShader(AddRippleSection);
}

std::vector<uint8_t> WaterShaders::SkyTexture()
{
    constexpr uint32_t size = 16;
    std::vector<uint32_t> texels(size * size);
    for (uint32_t y = 0; y < size; ++y) {
        const float t = static_cast<float>(y) / (size - 1);
        const auto channel = [t](float top, float bottom) {
            return static_cast<uint32_t>(std::lround((top + (bottom - top) * t) * 255.0f));
        };
        const uint32_t texel =
            0xFF000000u | channel(0.55f, 0.9f) << 16 | channel(0.75f, 0.95f) << 8 | channel(0.95f, 1.0f);
        for (uint32_t x = 0; x < size; ++x)
            texels[y * size + x] = texel;
    }
    return TextureWriter::Dds(size, size, texels, true);
}

void WaterShaders::AddSampleFiles(SampleGameData& data)
{
    data.AddFile(waterShaderName, SampleWaterShader().Write());
    data.AddFile(wavesShaderName, SampleWavesShader().Write());
    data.AddFile(rippleShaderName, SampleRippleShader().Write());
    data.AddFile(flatNormalTextureName, TextureWriter::SolidDds(4, 4, 0xFF8080FFu));
    data.AddFile(skyTextureName, SkyTexture());
    data.AddFile(wakeTextureName, WakeTexture());
    data.AddFile(bumpTextureName, BumpBandTexture());
    data.AddFile(shoreWaveTextureName, ShoreWaveTexture());
}

} // namespace DataKit
