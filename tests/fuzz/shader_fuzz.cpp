// Reads any bytes as a shader file (".ssh") for the GeForce6 generation over the software device:
// no crash, no hang; a file that loads is begun, rendered and ended in every style, and one that
// does not answers result 4 with nothing kept (no programs left on the device).
#include "common/FuzzSeeds.h"
#include "common/SoftwareGraphics.h"
#include "core/Log.h"
#include "datakit/ShaderWriter.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/GraphicsShader2.h"
#include "graphics/RenderDevice.h"

#include <cstdlib>
#include <memory>

namespace {

// One engine for the whole run: the software device, no options (the device's own generation)
// and no loader (textures a shader names are made, not loaded).
GAME::GraphicsEngine* Engine()
{
    static std::unique_ptr<GAME::GraphicsEngine> engine = [] {
        auto made = FuzzGraphics::StartSoftwareEngine();
        made->GetTextureManager()->SetUnreferencedDelay(-1);
        return made;
    }();
    return engine.get();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    GAME::GraphicsEngine* engine = Engine();
    if (size > 1u << 24)
        return 0;
    {
        GAME::GraphicsShader2 shader(engine->GetShaderManager(), "fuzz.ssh", engine);
        const GAME::Resource::InitResult result = shader.Initialize(data, static_cast<int>(size));
        if (result == GAME::Resource::INIT_SUCCESS) {
            FuzzAccepted();
            for (int style = 0; style < shader.GetNumStyles(); ++style) {
                if (!shader.Begin(style))
                    std::abort();
                shader.SetFloat4(GAME::Name::Create("color"), 0, nullptr);
                shader.Render();
                shader.Begin();
                shader.Render();
                shader.End();
                shader.End();
            }
        } else if (result != GAME::Resource::INIT_INVALID_DATA || shader.GetNumStyles() != 0 ||
                   shader.GetNumParameters() != 0) {
            std::abort();
        }
        shader.Destroy();
    }
    engine->UnloadUnreferencedResources();
    return 0;
}

void EngineFuzzSeeds(FuzzSeedSink& sink)
{
    using DataKit::ShaderWriter;
    sink.Add("basic", ShaderWriter::SampleBasic().Write());
    sink.Add("overlay", ShaderWriter::SampleOverlay().Write());
    sink.Add("lit", ShaderWriter::SampleLit().Write());
    sink.Add("unlit", ShaderWriter::SampleUnlit().Write());
    sink.Add("lit transparent", ShaderWriter::SampleLitTransparent().Write());
    sink.Add("portal mask", ShaderWriter::SamplePortalMask().Write());

    // Every kind of value and state, with bindings from values and parameters.
    ShaderWriter writer;
    writer.AddSection("R200").Style("skipped", 0);
    ShaderWriter::Section& s = writer.AddSection("GeForce6");
    const uint32_t vertex = s.VertexProgram("v", {{0, 4, false, 0}, {4, 1, true, 3}, {5, 2, false, 1}});
    const uint32_t pixel = s.PixelProgram("p", {{0, 3, false, 2}});
    const uint32_t blend = s.Int(6);
    s.Float3(1.0f, 2.0f, 3.0f);
    const uint32_t texture = s.Texture("Textures/fuzz.tex");
    s.Bool(true);
    s.Float(0.5f);
    s.Float2(1.0f, 2.0f);
    s.String("dropped");
    s.Matrix(GAME::GraphicsShader2::TYPE_FLOAT4X3);
    s.Parameter("matrix", GAME::GraphicsShader2::TYPE_FLOAT4X4);
    s.Parameter("color", GAME::GraphicsShader2::TYPE_FLOAT4, 2, s.Float4(1, 1, 1, 1));
    s.Parameter("bones", GAME::GraphicsShader2::TYPE_FLOAT4X3, 3);
    s.Parameter("baseTexture", GAME::GraphicsShader2::TYPE_DEVICE_TEXTURE, 1, texture);
    s.Style("a", 10)
        .StateFromValue(GAME::GraphicsShader2::STATE_VERTEX_SHADER, vertex)
        .StateFromValue(GAME::GraphicsShader2::STATE_PIXEL_SHADER, pixel)
        .StateFromValue(GAME::GraphicsShader2::STATE_SOURCE_BLEND, blend)
        .StateFromParameter(GAME::GraphicsShader2::STATE_TEXTURE, 3, 1)
        .StateFromValue(GAME::GraphicsShader2::STATE_22, 1)
        .StateFromValue(GAME::GraphicsShader2::STATE_STAGE_STATE_3, blend, 2);
    s.Style("b", -1).StateFromParameter(GAME::GraphicsShader2::STATE_ALPHA_REFERENCE, 1);
    s.RawChunk(7, {1, 2, 3, 4});
    sink.Add("everything", writer.Write());
}
