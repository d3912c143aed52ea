#include "../GraphicsFixtures.h"

#include "datakit/ShaderWriter.h"
#include "datakit/TextureWriter.h"
#include "platform/Threading.h"

#include <chrono>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace GAME {
namespace {

using GraphicsLoaderThreads = GAME::Test::GraphicsFixture;

// The resource loader thread reads shaders, makes their programs and queues and loads their
// textures while the main thread runs frames and draws with every shader that is ready.
TEST_F(GraphicsLoaderThreads, ShadersAndTexturesLoadOnTheLoaderThreadWhileFramesRun)
{
    options.SetQuality(Options::QUALITY_DETAIL_LEVEL, Options::QUALITY_HIGH);
    GraphicsEngine& graphics = Start();
    constexpr int count = 24;
    for (int i = 0; i < count; ++i) {
        const std::string texture = "Textures/t" + std::to_string(i) + ".tex";
        DataKit::ShaderWriter writer;
        DataKit::ShaderWriter::Section& s = writer.AddSection("GeForce6");
        const uint32_t program = s.VertexProgram("program " + std::to_string(i), {{0, 1, false, 0}});
        s.Parameter("color", GraphicsShader2::TYPE_FLOAT4, 1, s.Float4(1, 1, 1, 1));
        s.Style("normal", 0)
            .StateFromValue(GraphicsShader2::STATE_VERTEX_SHADER, program)
            .StateFromValue(GraphicsShader2::STATE_TEXTURE, s.Texture(texture), 0);
        PutFile("Shaders/s" + std::to_string(i) + ".ssh", writer.Write());
        PutFile(texture, DataKit::TextureWriter::SolidDds(8, 8, 0xFF000000u | uint32_t(i), true));
    }

    loader->StartThread();
    std::vector<GraphicsShader2*> shaders;
    for (int i = 0; i < count; ++i)
        shaders.push_back(graphics.LoadShader2("Shaders/s" + std::to_string(i) + ".ssh"));
    const unsigned int marker = loader->CreateMarker();

    const Name color = Name::Create("color");
    std::vector<bool> drawn(count, false);
    int remaining = count;
    // Frames until every shader has drawn and the loader is past the marker: a shader or texture
    // the loader never finishes (a lost request, a stalled thread) keeps the frames going to the
    // deadline, which only that reaches (a count of frames stood for a time a loaded machine may
    // outlast).
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(3);
    while ((remaining > 0 || !loader->GetHasMarkerPast(marker)) && std::chrono::steady_clock::now() < deadline) {
        ++services.frame;
        graphics.Update(true);
        for (int i = 0; i < count; ++i) {
            if (drawn[i] || !shaders[i]->GetIsReadyToUse())
                continue;
            ASSERT_EQ(shaders[i]->GetInitResult(), Resource::INIT_SUCCESS) << i;
            ASSERT_TRUE(shaders[i]->Begin(0));
            const float value[4] = {float(i), 0.0f, 0.0f, 1.0f};
            EXPECT_TRUE(shaders[i]->SetFloat4(color, 0, value));
            shaders[i]->Render();
            shaders[i]->End();
            drawn[i] = true;
            --remaining;
        }
        graphics.PresentSurface();
        Platform::SleepMilliseconds(1);
    }
    loader->StopThread();
    EXPECT_EQ(remaining, 0);

    // Every texture a shader named is there, loaded by the thread or at its first use.
    for (int i = 0; i < count; ++i) {
        GraphicsTexture* texture = graphics.LoadTexture("Textures/t" + std::to_string(i) + ".tex");
        EXPECT_EQ(texture->GetWidth(), 8) << i;
        EXPECT_EQ(graphics.GetTextureManager()->GetReferenceCount(texture->GetFileName()), 2);
        graphics.UnloadTexture(texture);
        graphics.UnloadShader2(shaders[i]);
    }
    EXPECT_EQ(Control()->GetRejectedCallCount(), 0u);
}

} // namespace
} // namespace GAME
