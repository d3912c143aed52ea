#include "datakit/EffectShaders.h"

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

// vc[0..3]: object to screen. Positions arrive in scene space.
const char* const effectVertexProgram = R"GLSL(
void main()
{
    gl_Position = engine_transform(0, vec4(a_position.xyz, 1.0));
    v_color0 = a_color;
    v_tex0 = a_texCoord0;
    v_fog = 1.0;
}
)GLSL";

void AddEffectSection(ShaderWriter::Section& s, GAME::RenderBlendFactor destination)
{
    const uint32_t white = s.Texture(ShaderWriter::whiteTextureName);
    const uint32_t objectToScreen = s.Parameter("objectToScreenMatrix", GraphicsShader2::TYPE_FLOAT4X4);
    const uint32_t baseTexture = s.Parameter("baseTexture", GraphicsShader2::TYPE_DEVICE_TEXTURE, 1, white);
    const uint32_t vertex = s.VertexProgram(effectVertexProgram, {{0, 4, false, objectToScreen}});
    const uint32_t pixel = s.PixelProgram(SampleShaderParts::texturedPixelProgram);
    SampleShaderParts::BeginStyle(s, EffectShaders::styleName, 1000, vertex, pixel, baseTexture);
    SampleShaderParts::AddBlendStates(s, GAME::RENDER_BLEND_SRC_ALPHA, destination,
                                      GAME::RENDER_TEST_LESS_EQUAL, false);
}

ShaderWriter EffectShader(GAME::RenderBlendFactor destination)
{
    return SampleShaderParts::ForSampleGenerations(
        [destination](ShaderWriter::Section& section) { AddEffectSection(section, destination); });
}

} // namespace

ShaderWriter EffectShaders::Blended()
{
    return EffectShader(GAME::RENDER_BLEND_INV_SRC_ALPHA);
}

ShaderWriter EffectShaders::Additive()
{
    return EffectShader(GAME::RENDER_BLEND_ONE);
}

std::vector<uint8_t> EffectShaders::DiscTexture()
{
    constexpr uint32_t size = 32;
    std::vector<uint32_t> texels(size * size);
    for (uint32_t y = 0; y < size; ++y)
        for (uint32_t x = 0; x < size; ++x) {
            const float dx = (static_cast<float>(x) + 0.5f) / size - 0.5f;
            const float dy = (static_cast<float>(y) + 0.5f) / size - 0.5f;
            texels[y * size + x] = std::sqrt(dx * dx + dy * dy) < 0.4f ? 0xFFFFFFFFu : 0x00FFFFFFu;
        }
    return TextureWriter::Dds(size, size, texels);
}

std::vector<uint8_t> EffectShaders::StripTexture()
{
    constexpr uint32_t width = 16, height = 4;
    std::vector<uint32_t> texels(width * height);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            const float across = std::fabs((static_cast<float>(x) + 0.5f) / width - 0.5f) * 2.0f;
            const uint32_t alpha = static_cast<uint32_t>(std::lround(255.0f * std::max(0.0f, 1.0f - across)));
            texels[y * width + x] = alpha << 24 | 0x00FFFFFFu;
        }
    return TextureWriter::Dds(width, height, texels);
}

bool EffectShaders::Write(const std::string& folder)
{
    const std::filesystem::path root(folder);
    auto save = [&root](const char* name, const std::vector<uint8_t>& bytes) {
        return TextureWriter::Save((root / name).string(), bytes);
    };
    return Blended().Save((root / decalShaderName).string()) &&
           Additive().Save((root / trailShaderName).string()) &&
           Additive().Save((root / chaosShaderName).string()) && save(decalTextureName, DiscTexture()) &&
           save(trailTextureName, TextureWriter::SolidDds(1, 1, 0xFFFFFFFFu)) &&
           save(lightningTextureName, StripTexture()) && save(chaosTextureName, StripTexture()) &&
           save(boltTextureName, StripTexture());
}

} // namespace DataKit
