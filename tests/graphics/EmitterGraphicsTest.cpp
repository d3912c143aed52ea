// What particle emitters ask of the graphics engine's textures and shaders (the default emitter
// graphics) inside a started engine over the software device: frame counts, styles and sort orders
// of loaded resources, nothing for resources still loading, and the shader pass of one frame.
#include "GraphicsFixtures.h"
#include "world/EngineFixture.h"

#include "core/Mat4.h"
#include "datakit/SampleGameData.h"
#include "datakit/ShaderWriter.h"
#include "datakit/TextureWriter.h"
#include "graphics/GraphicsCanvas.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/GraphicsShader2.h"
#include "graphics/GraphicsTexture.h"
#include "world/EmitterGraphics.h"

#include <gtest/gtest.h>
#include <vector>

namespace GAME {
namespace {

class EmitterGraphicsTest : public GAME::Test::EngineTest
{
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        settings.deviceName = "Software";
        // Two frames of 8 x 8.
        std::vector<uint8_t> tex = {'T', 'E', 'X', 1, 15, 0, 0, 0};
        for (uint32_t frame = 0; frame < 2; ++frame) {
            const std::vector<uint8_t> dds = DataKit::TextureWriter::SolidDds(8, 8, 0xFF00FF00u + frame);
            for (int i = 0; i < 4; ++i)
                tex.push_back(static_cast<uint8_t>(dds.size() >> (8 * i)));
            tex.insert(tex.end(), dds.begin(), dds.end());
        }
        data.AddFile("Textures/Spark.tex", tex);
        Start();
        graphics = engine->GetGraphicsEngine();
        control = software.Device(graphics->GetRenderDevice());
        ASSERT_NE(control, nullptr);
    }

    GAME::Test::SoftwareModuleAccess software;
    GraphicsEngine* graphics = nullptr;
    Software::DeviceControl* control = nullptr;
};

TEST_F(EmitterGraphicsTest, LoadedResourcesAnswerAndTheFramePassReachesTheDevice)
{
    EmitterGraphics* emitter = EmitterGraphics::Get();
    GraphicsTexture* texture = emitter->LoadTexture("Textures/Spark.tex");
    GraphicsShader2* shader = emitter->LoadShader(DataKit::SampleGameData::litShaderName);
    ASSERT_NE(texture, nullptr);
    ASSERT_NE(shader, nullptr);
    emitter->PreLoad(texture, shader);
    texture->EnsureAvailable();
    shader->EnsureAvailable();
    EXPECT_EQ(emitter->GetNumFrames(texture), 2u);
    const int style = emitter->FindStyleByName(shader, Name::Create("dLightDiffuseStyle"));
    ASSERT_GE(style, 0);
    EXPECT_EQ(emitter->GetSortOrder(shader, style), 1000);
    EXPECT_EQ(emitter->FindStyleByName(shader, Name::Create("noSuchStyle")), GraphicsShader2::noStyle);
    EXPECT_EQ(emitter->GetNumFrames(nullptr), 0u);
    EXPECT_EQ(emitter->FindStyleByName(nullptr, Name::Create("dLightDiffuseStyle")),
              GraphicsShader2::noStyle);

    // The pass of frame 1: its texture at stage 0 and the matrix in the first registers.
    Mat4 matrix;
    for (int i = 0; i < 16; ++i)
        matrix.m[i] = static_cast<float>(i + 1);
    ASSERT_TRUE(graphics->GetCanvas()->BeginFrame());
    control->SetRecording(true);
    ASSERT_TRUE(shader->Begin(style));
    emitter->ApplyPass(shader, texture, 1, matrix);
    const Software::RenderState state = control->GetRenderState();
    EXPECT_EQ(state.textures[0], texture->GetTexture(1));
    const std::vector<float> constants = control->GetVertexShaderConstants();
    for (int i = 0; i < 16; ++i)
        EXPECT_FLOAT_EQ(constants[size_t(i)], matrix.m[i]) << i;
    shader->End();
    graphics->GetCanvas()->EndFrame();

    emitter->UnloadTexture(texture);
    emitter->UnloadShader(shader);
}

TEST_F(EmitterGraphicsTest, ResourcesStillLoadingAnswerAsNone)
{
    EmitterGraphics* emitter = EmitterGraphics::Get();
    // Stop the loader so the requests stay queued.
    engine->GetResourceLoader()->StopThread();
    GraphicsTexture* texture = emitter->LoadTexture("Textures/Spark.tex");
    GraphicsShader2* shader = emitter->LoadShader(DataKit::SampleGameData::unlitShaderName);
    EXPECT_EQ(emitter->GetNumFrames(texture), 0u);
    EXPECT_EQ(emitter->FindStyleByName(shader, Name::Create("ambientLightStyle")), GraphicsShader2::noStyle);
    emitter->UnloadTexture(texture);
    emitter->UnloadShader(shader);
}

} // namespace
} // namespace GAME
