#include "datakit/OverlayShaders.h"

#include "datakit/SampleShaderParts.h"

#include <filesystem>

namespace DataKit {
namespace {

void AddBasicTextureSection(ShaderWriter::Section& s)
{
    const SampleShaderParts::BasicParameters p = SampleShaderParts::AddBasicParameters(s);
    const uint32_t vertex =
        s.VertexProgram(SampleShaderParts::tintedVertexProgram, SampleShaderParts::BasicVertexBindings(p));
    const uint32_t pixel = s.PixelProgram(SampleShaderParts::texturedPixelProgram);
    SampleShaderParts::BeginStyle(s, "normal", 0, vertex, pixel, p.baseTexture);
    SampleShaderParts::AddBlendStates(s, GAME::RENDER_BLEND_SRC_ALPHA, GAME::RENDER_BLEND_INV_SRC_ALPHA,
                                      GAME::RENDER_TEST_ALWAYS, false);
}

} // namespace

ShaderWriter OverlayShaders::SampleBasicTexture()
{
    return SampleShaderParts::ForSampleGenerations(AddBasicTextureSection);
}

bool OverlayShaders::Save(const std::string& folder)
{
    return SampleBasicTexture().Save((std::filesystem::path(folder) / basicTextureShaderName).string());
}

} // namespace DataKit
