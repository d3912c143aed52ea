// Every sample shader of datakit's shader writer loads through the OpenGL device in both sections
// the sample devices run ("GeForce6" at high detail, "GeForce3" below it): each program compiles,
// and each style draws a box with no word from the device.
#include "OpenGLSceneFixtures.h"

#include <gtest/gtest.h>

namespace GAME::ScenePixelTest {
namespace {

class OpenGLSceneShaderTest : public OpenGLSceneFixture
{
};

TEST_F(OpenGLSceneShaderTest, EverySampleShaderCompilesAndDrawsEveryStyleInBothSections)
{
    using DataKit::ShaderWriter;
    const std::vector<std::pair<const char*, ShaderWriter>> samples = {
        {"basic", ShaderWriter::SampleBasic()},
        {"overlay", ShaderWriter::SampleOverlay()},
        {"lit", ShaderWriter::SampleLit()},
        {"unlit", ShaderWriter::SampleUnlit()},
        {"lit transparent", ShaderWriter::SampleLitTransparent()},
        {"portal mask", ShaderWriter::SamplePortalMask()},
    };
    ASSERT_TRUE(Canvas().BeginFrame());
    for (RenderGenerationId generation : {RENDER_GENERATION_GEFORCE6, RENDER_GENERATION_GEFORCE3}) {
        engine->SetGeneration(generation);
        for (const auto& [name, writer] : samples) {
            log.Clear();
            GraphicsShader2 shader(engine->GetShaderManager(), name, engine.get());
            const std::vector<uint8_t> bytes = writer.Write();
            ASSERT_EQ(shader.Initialize(bytes.data(), static_cast<int>(bytes.size())), Resource::INIT_SUCCESS)
                << name << " in " << RenderDevice::GetNameForGeneration(generation) << ":\n"
                << ::testing::PrintToString(log.Texts());
            ASSERT_GT(shader.GetNumStyles(), 0) << name;
            for (int style = 0; style < shader.GetNumStyles(); ++style) {
                Canvas().SetDefaultState();
                ASSERT_TRUE(shader.Begin(style));
                shader.Render();
                Device().SetVertexDeclaration(geometry.declaration);
                Device().SetStreamSource(0, geometry.vertices, 0, 32);
                Device().SetIndices(geometry.indices);
                RenderDrawRange range;
                range.numVertices = 24;
                range.primitiveCount = 12;
                Device().DrawIndexedPrimitive(RENDER_PRIMITIVE_TRIANGLE_LIST, range);
                shader.End();
            }
            EXPECT_EQ(log.Count(), 0u)
                << name << " in " << RenderDevice::GetNameForGeneration(generation) << ":\n"
                << ::testing::PrintToString(log.Texts());
            shader.Destroy();
        }
    }
    Canvas().EndFrame();
}

} // namespace
} // namespace GAME::ScenePixelTest
