#include "datakit/OverlayShaders.h"

#include "graphics/GraphicsShader2.h"
#include "graphics/RenderTypes.h"

#include <filesystem>

namespace DataKit {
namespace {

using GAME::GraphicsShader2;

const char* const vertexProgram = R"GLSL(
void main()
{
    gl_Position = engine_transform(0, vec4(a_position.xyz, 1.0));
    v_color0 = a_color * vc[8];
    v_tex0 = a_texCoord0;
    v_fog = 1.0;
}
)GLSL";

const char* const pixelProgram = R"GLSL(
void main()
{
    o_color = v_color0 * texture(s0, v_tex0.xy);
}
)GLSL";

void AddBasicTextureSection(ShaderWriter::Section& s)
{
    const uint32_t white = s.Texture(ShaderWriter::whiteTextureName);
    const uint32_t objectToScreen = s.Parameter("objectToScreenMatrix", GraphicsShader2::TYPE_FLOAT4X4);
    const uint32_t objectToWorld = s.Parameter("objectToWorldMatrix", GraphicsShader2::TYPE_FLOAT4X4);
    const uint32_t color =
        s.Parameter("color", GraphicsShader2::TYPE_FLOAT4, 1, s.Float4(1.0f, 1.0f, 1.0f, 1.0f));
    const uint32_t cameraOrigin = s.Parameter("cameraOrigin", GraphicsShader2::TYPE_FLOAT3);
    const uint32_t time = s.Parameter("time", GraphicsShader2::TYPE_FLOAT);
    const uint32_t baseTexture = s.Parameter("baseTexture", GraphicsShader2::TYPE_DEVICE_TEXTURE, 1, white);
    const uint32_t vertex = s.VertexProgram(vertexProgram, {{0, 4, false, objectToScreen},
                                                            {4, 4, false, objectToWorld},
                                                            {8, 1, false, color},
                                                            {9, 1, false, cameraOrigin},
                                                            {10, 1, false, time}});
    const uint32_t pixel = s.PixelProgram(pixelProgram);
    s.Style("normal", 0);
    s.StateFromValue(GraphicsShader2::STATE_VERTEX_SHADER, vertex);
    s.StateFromValue(GraphicsShader2::STATE_PIXEL_SHADER, pixel);
    s.StateFromParameter(GraphicsShader2::STATE_TEXTURE, baseTexture, 0);
    s.StateFromValue(GraphicsShader2::STATE_SOURCE_BLEND, s.Int(GAME::RENDER_BLEND_SRC_ALPHA));
    s.StateFromValue(GraphicsShader2::STATE_DESTINATION_BLEND, s.Int(GAME::RENDER_BLEND_INV_SRC_ALPHA));
    s.StateFromValue(GraphicsShader2::STATE_DEPTH_TEST, s.Int(GAME::RENDER_TEST_ALWAYS));
    s.StateFromValue(GraphicsShader2::STATE_DEPTH_WRITE, s.Int(0));
    s.StateFromValue(GraphicsShader2::STATE_ALPHA_TEST, s.Int(GAME::RENDER_TEST_ALWAYS));
}

} // namespace

ShaderWriter OverlayShaders::SampleBasicTexture()
{
    ShaderWriter writer;
    for (const char* generation : {"GeForce6", "GeForce3"})
        AddBasicTextureSection(writer.AddSection(generation));
    return writer;
}

bool OverlayShaders::Save(const std::string& folder)
{
    return SampleBasicTexture().Save((std::filesystem::path(folder) / basicTextureShaderName).string());
}

} // namespace DataKit
