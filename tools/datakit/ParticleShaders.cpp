#include "datakit/ParticleShaders.h"

#include "datakit/SampleShaderParts.h"
#include "datakit/TextureWriter.h"
#include "graphics/GraphicsShader2.h"
#include "graphics/RenderTypes.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

namespace DataKit {

using GAME::GraphicsShader2;

namespace {

static_assert(SampleShaderParts::fogVertexRegister == 100, "the particles' vertex program reads vc[100]");

// vc[0..3]: object to screen. The rows of x and y hold the view's right and up (scaled by the
// projection), which is all a quad facing the viewer needs. Attributes: a_texCoord0 the corner
// (0 or 1 each), a_texCoord1 the axis and the stretch, a_texCoord2 the rotation (radians), the
// size and the speed. The fog (SampleShaderParts) needs the scene position, which an emitter does
// not hand over: the rows of x, y and w also give the view's axes, and the clip position the
// place along each, so the corner's offset from the eye is known, and the eye's place is the
// scene's (emitters draw in scene space or in a region's, moved but never turned).
const char* const particleVertexProgram = R"GLSL(
vec3 AlongRow(vec3 row, float clip)
{
    float scale = dot(row, row);
    return scale > 0.0 ? row * (clip / scale) : vec3(0.0);
}
void main()
{
    vec3 right = vc[0].xyz;
    vec3 up = vc[1].xyz;
    right = dot(right, right) > 0.0 ? normalize(right) : vec3(1.0, 0.0, 0.0);
    up = dot(up, up) > 0.0 ? normalize(up) : vec3(0.0, 1.0, 0.0);
    vec2 along = vec2(dot(a_texCoord1.xyz, right), dot(a_texCoord1.xyz, up));
    along = dot(along, along) > 1e-10 ? normalize(along) : vec2(0.0, 1.0);
    float c = cos(a_texCoord2.x);
    float s = sin(a_texCoord2.x);
    along = vec2(c * along.x - s * along.y, s * along.x + c * along.y);
    vec2 across = vec2(along.y, -along.x);
    float size = a_texCoord2.y;
    float halfLength = size * (1.0 + max(a_texCoord1.w * a_texCoord2.z, 0.0));
    vec2 corner = a_texCoord0.xy * 2.0 - 1.0;
    vec2 offset = across * (corner.x * size) + along * (corner.y * halfLength);
    vec3 p = a_position.xyz + right * offset.x + up * offset.y;
    vec4 clip = engine_transform(0, vec4(p, 1.0));
    gl_Position = clip;
    v_color0 = a_color;
    v_tex0 = vec4(a_texCoord0.xy, 0.0, 1.0);
    vec3 fromEye = AlongRow(vc[0].xyz, clip.x) + AlongRow(vc[1].xyz, clip.y) + AlongRow(vc[3].xyz, clip.w);
    v_fog = 1.0 - FogAmount(vc[100].xyz + fromEye);
}
)GLSL";

// Blended over what is there: the fog mixed in, as the scene behind has it.
const char* const blendedPixelProgram = R"GLSL(
void main()
{
    vec4 c = v_color0 * texture(s0, v_tex0.xy);
    o_color = vec4(WithFog(c.rgb), c.a);
}
)GLSL";

// Added to what is there: faded by the fog, over a scene the fog has already reached.
const char* const addedPixelProgram = R"GLSL(
void main()
{
    vec4 c = v_color0 * texture(s0, v_tex0.xy);
    o_color = vec4(FogFaded(c.rgb), c.a);
}
)GLSL";

// For a source factor that is not the alpha: the colour weighted by it here.
const char* const premultipliedPixelProgram = R"GLSL(
void main()
{
    vec4 c = v_color0 * texture(s0, v_tex0.xy);
    o_color = vec4(FogFaded(c.rgb * c.a), c.a);
}
)GLSL";

ShaderWriter ParticleShader(GAME::RenderBlendFactor source, GAME::RenderBlendFactor destination,
                            const char* pixelProgram)
{
    return SampleShaderParts::ForSampleGenerations([=](ShaderWriter::Section& s) {
        const uint32_t white = s.Texture(ShaderWriter::whiteTextureName);
        const uint32_t objectToScreen = s.Parameter("objectToScreenMatrix", GraphicsShader2::TYPE_FLOAT4X4);
        const uint32_t baseTexture =
            s.Parameter("baseTexture", GraphicsShader2::TYPE_DEVICE_TEXTURE, 1, white);
        std::vector<ShaderWriter::Binding> vertexBindings = SampleShaderParts::AddVertexFogParameters(s);
        vertexBindings.push_back({0, 4, false, objectToScreen});
        const uint32_t vertex =
            s.VertexProgram(SampleShaderParts::VertexFogFunction() + particleVertexProgram, vertexBindings);
        const uint32_t pixel =
            s.PixelProgram(std::string(SampleShaderParts::pixelFogFunctions) + pixelProgram,
                           SampleShaderParts::AddFogColorParameter(s));
        SampleShaderParts::BeginStyle(s, ParticleShaders::styleName, 1000, vertex, pixel, baseTexture);
        SampleShaderParts::AddBlendStates(s, source, destination, GAME::RENDER_TEST_LESS_EQUAL, false);
    });
}

// Texel centres from -1 to 1 across the image.
float Centred(uint32_t i, uint32_t size)
{
    return ((static_cast<float>(i) + 0.5f) / static_cast<float>(size)) * 2.0f - 1.0f;
}

uint32_t WhiteWithAlpha(float alpha)
{
    const uint32_t a = static_cast<uint32_t>(std::lround(255.0f * std::clamp(alpha, 0.0f, 1.0f)));
    return a << 24 | 0x00FFFFFFu;
}

// A smooth bump: 1 at 0, falling to 0 at 1 and beyond.
float Falloff(float r)
{
    const float t = std::clamp(1.0f - r, 0.0f, 1.0f);
    return t * t * (3.0f - 2.0f * t);
}

// Value noise from a fixed hash on a grid of cells, smooth between them; 0 to 1.
float Noise(float x, float y)
{
    auto hash = [](int32_t i, int32_t j) {
        uint32_t h = static_cast<uint32_t>(i) * 374761393u + static_cast<uint32_t>(j) * 668265263u;
        h = (h ^ (h >> 13)) * 1274126177u;
        return static_cast<float>((h ^ (h >> 16)) & 0xFFFFu) / 65535.0f;
    };
    const float fx = std::floor(x), fy = std::floor(y);
    const int32_t i = static_cast<int32_t>(fx), j = static_cast<int32_t>(fy);
    const float u = Falloff(1.0f - (x - fx)), v = Falloff(1.0f - (y - fy));
    const float top = hash(i, j) + (hash(i + 1, j) - hash(i, j)) * u;
    const float bottom = hash(i, j + 1) + (hash(i + 1, j + 1) - hash(i, j + 1)) * u;
    return top + (bottom - top) * v;
}

} // namespace

ShaderWriter ParticleShaders::Additive()
{
    return ParticleShader(GAME::RENDER_BLEND_SRC_ALPHA, GAME::RENDER_BLEND_ONE, addedPixelProgram);
}

ShaderWriter ParticleShaders::Combine()
{
    return ParticleShader(GAME::RENDER_BLEND_SRC_ALPHA, GAME::RENDER_BLEND_INV_SRC_ALPHA,
                          blendedPixelProgram);
}

ShaderWriter ParticleShaders::AdditiveSmooth()
{
    return ParticleShader(GAME::RENDER_BLEND_INV_DEST_COLOR, GAME::RENDER_BLEND_ONE,
                          premultipliedPixelProgram);
}

std::vector<uint8_t> ParticleShaders::SoftTexture()
{
    constexpr uint32_t size = 32;
    std::vector<uint32_t> texels(size * size);
    for (uint32_t y = 0; y < size; ++y)
        for (uint32_t x = 0; x < size; ++x) {
            const float dx = Centred(x, size), dy = Centred(y, size);
            texels[y * size + x] = WhiteWithAlpha(Falloff(std::sqrt(dx * dx + dy * dy)));
        }
    return TextureWriter::Dds(size, size, texels, true);
}

std::vector<uint8_t> ParticleShaders::SmokeTexture()
{
    constexpr uint32_t size = 64;
    std::vector<uint32_t> texels(size * size);
    for (uint32_t y = 0; y < size; ++y)
        for (uint32_t x = 0; x < size; ++x) {
            const float dx = Centred(x, size), dy = Centred(y, size);
            const float lumps = 0.6f * Noise(dx * 3.0f + 7.0f, dy * 3.0f + 3.0f) +
                                0.4f * Noise(dx * 7.0f + 1.0f, dy * 7.0f + 11.0f);
            const float r = std::sqrt(dx * dx + dy * dy) * 1.15f;
            texels[y * size + x] = WhiteWithAlpha(Falloff(r) * (0.45f + 0.8f * lumps));
        }
    return TextureWriter::Dds(size, size, texels, true);
}

std::vector<uint8_t> ParticleShaders::SparkTexture()
{
    constexpr uint32_t width = 16, height = 64;
    std::vector<uint32_t> texels(width * height);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            const float across = std::fabs(Centred(x, width)) * 2.0f;
            const float along = std::fabs(Centred(y, height));
            texels[y * width + x] = WhiteWithAlpha(Falloff(across) * Falloff(along));
        }
    return TextureWriter::Dds(width, height, texels, true);
}

std::vector<uint8_t> ParticleShaders::BeamTexture()
{
    constexpr uint32_t size = 32;
    const float cores[4] = {0.35f, 0.5f, 0.3f, 0.45f};
    std::vector<std::vector<uint8_t>> frames;
    for (float core : cores) {
        std::vector<uint32_t> texels(size * size);
        for (uint32_t y = 0; y < size; ++y)
            for (uint32_t x = 0; x < size; ++x) {
                const float dx = Centred(x, size), dy = Centred(y, size);
                const float r = std::sqrt(dx * dx + dy * dy);
                texels[y * size + x] = WhiteWithAlpha(0.6f * Falloff(r) + 0.4f * Falloff(r / core));
            }
        frames.push_back(TextureWriter::Dds(size, size, texels, true));
    }
    return TextureWriter::Tex(12, frames);
}

bool ParticleShaders::Write(const std::string& folder)
{
    const std::filesystem::path root(folder);
    auto save = [&root](const char* name, const std::vector<uint8_t>& bytes) {
        return TextureWriter::Save((root / name).string(), bytes);
    };
    return Additive().Save((root / additiveShaderName).string()) &&
           Combine().Save((root / combineShaderName).string()) &&
           AdditiveSmooth().Save((root / additiveSmoothShaderName).string()) &&
           save(softTextureName, SoftTexture()) && save(smokeTextureName, SmokeTexture()) &&
           save(sparkTextureName, SparkTexture()) && save(beamTextureName, BeamTexture());
}

} // namespace DataKit
