// The OpenGL device drawn headless (EGL surfaceless, llvmpipe without a GPU) and read back: every
// case compares pixels with what the engine's codes mean, within a small tolerance per channel.
#include "OpenGLTestSupport.h"
#include "common/LogCapture.h"

#include "graphics/RenderDynamicIndexBuffer.h"
#include "graphics/RenderDynamicVertexBuffer.h"
#include "graphics/RenderFont.h"
#include "graphics/RenderIndexBuffer.h"
#include "graphics/RenderPixelShader.h"
#include "graphics/RenderVertexBuffer.h"
#include "graphics/RenderVertexDeclaration.h"
#include "graphics/RenderVertexShader.h"
#include "platform/Module.h"

#include <cmath>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>

namespace GAME {
namespace {

using Test::Argb;
using Test::DdsBuilder;
using Test::Describe;
using Test::Image;
using Test::Near;
using Test::ReadBack;
using Test::TestVertex;

constexpr int kSize = 64;

class OpenGLPixelTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        device = RenderDevice::Create("OpenGL");
        ASSERT_NE(device, nullptr);
        ASSERT_TRUE(device->Initialize());
        settings.width = kSize;
        settings.height = kSize;
        primary = device->CreatePrimarySurface(nullptr, &settings);
        ASSERT_NE(primary, nullptr) << "no headless OpenGL 4.5 context";
        ASSERT_TRUE(device->BeginFrame());
    }

    void TearDown() override
    {
        if (device) {
            device->EndFrame();
            if (primary)
                device->DestroySurface(&primary);
            RenderDevice::Destroy(device);
        }
    }

    void Clear(float r, float g, float b, float a, unsigned int flags = RENDER_CLEAR_COLOR | RENDER_CLEAR_DEPTH)
    {
        device->SetClearColor(Color(r, g, b, a));
        device->Clear(flags);
    }

    // An untextured screen rectangle through the device's own programs.
    void Rectangle(float x, float y, float w, float h, uint32_t color, float z = 0.0f)
    {
        const Vec3 corners[4] = {Vec3(x, y, z), Vec3(x + w, y, z), Vec3(x + w, y + h, z), Vec3(x, y + h, z)};
        device->DrawQuad(corners, 4, color);
    }

    Image Read(int width = kSize, int height = kSize) { return ReadBack(*device, width, height); }

    // A quad of the test vertex over clip space (x0, y0) - (x1, y1), texture coordinates (u0, v0) at
    // the top left to (u1, v1) at the bottom right, in static buffers with 16-bit indices.
    struct Geometry
    {
        RenderVertexBuffer* vertices = nullptr;
        RenderIndexBuffer* indices = nullptr;
        RenderVertexDeclaration* declaration = nullptr;
    };
    Geometry MakeQuad(float x0, float y0, float x1, float y1, uint32_t color, float z = 0.5f, float u0 = 0.0f,
                      float v0 = 0.0f, float u1 = 1.0f, float v1 = 1.0f)
    {
        Geometry g;
        g.declaration = device->CreateVertexDeclaration(GAME::Test::testVertexElements, 4);
        g.vertices = device->CreateVertexBuffer(RENDER_USAGE_STATIC, 4 * sizeof(TestVertex));
        g.indices = device->CreateIndexBuffer(6, 2);
        EXPECT_TRUE(g.declaration && g.vertices && g.indices);
        if (!g.declaration || !g.vertices || !g.indices)
            return g;
        // Clip space has y up: the top edge is y1.
        const TestVertex quad[4] = {{x0, y1, z, color, u0, v0, {}},
                                    {x1, y1, z, color, u1, v0, {}},
                                    {x1, y0, z, color, u1, v1, {}},
                                    {x0, y0, z, color, u0, v1, {}}};
        void* v = g.vertices->Lock();
        std::memcpy(v, quad, sizeof(quad));
        g.vertices->Unlock();
        const uint16_t indices[6] = {0, 1, 2, 0, 2, 3};
        void* i = g.indices->Lock();
        std::memcpy(i, indices, sizeof(indices));
        g.indices->Unlock();
        return g;
    }
    void Draw(const Geometry& g)
    {
        device->SetVertexDeclaration(g.declaration);
        device->SetStreamSource(0, g.vertices, 0, sizeof(TestVertex));
        device->SetIndices(g.indices);
        RenderDrawRange range;
        range.numVertices = 4;
        range.primitiveCount = 2;
        device->DrawIndexedPrimitive(RENDER_PRIMITIVE_TRIANGLE_LIST, range);
    }
    void Destroy(Geometry& g)
    {
        device->DestroyVertexBuffer(&g.vertices);
        device->DestroyIndexBuffer(&g.indices);
        device->DestroyVertexDeclaration(&g.declaration);
    }

    RenderVertexShader* VertexProgram(const char* text)
    {
        return device->CreateVertexShader(text, unsigned(std::strlen(text)));
    }
    RenderPixelShader* PixelProgram(const char* text)
    {
        return device->CreatePixelShader(text, unsigned(std::strlen(text)));
    }

    RenderDevice* device = nullptr;
    RenderSurface* primary = nullptr;
    RenderDeviceSettings settings;
};

TEST_F(OpenGLPixelTest, ClearsAndReadsBackRowsFromTheTop)
{
    EXPECT_STREQ(device->GetDeviceName(), "OpenGL");
    EXPECT_EQ(device->GetGenerationId(), RENDER_GENERATION_GEFORCE6);
    EXPECT_GE(device->GetTotalVideoMemory(), 59768832u);
    EXPECT_EQ(device->GetWidth(), kSize);

    Clear(1.0f, 0.0f, 0.0f, 1.0f);
    // A viewport over the top 16 rows: y counts from the top.
    device->SetViewport(Viewport(0, 0, kSize, 16));
    Clear(0.0f, 1.0f, 0.0f, 0.5f, RENDER_CLEAR_COLOR);
    const Image image = Read();
    ASSERT_FALSE(image.pixels.empty());
    EXPECT_TRUE(Near(image.At(0, 0), 0, 255, 0, 128)) << Describe(image.At(0, 0));
    EXPECT_TRUE(Near(image.At(63, 15), 0, 255, 0, 128)) << Describe(image.At(63, 15));
    EXPECT_TRUE(Near(image.At(0, 16), 255, 0, 0, 255)) << Describe(image.At(0, 16));
    EXPECT_TRUE(Near(image.At(63, 63), 255, 0, 0, 255)) << Describe(image.At(63, 63));
    // A read-back of another size than the target is refused.
    Pixel one;
    EXPECT_FALSE(device->ReadFrameBuffer(&one, 1, 1));
}

TEST_F(OpenGLPixelTest, ScreenQuadsLandOnTheirPixelsWithinViewportAndScissor)
{
    Clear(0.0f, 0.0f, 0.0f, 1.0f);
    Rectangle(4, 8, 10, 6, Argb(255, 255, 255, 255)); // pixels 4..13, 8..13
    // Screen pixels stay where they are under another viewport; the viewport and the scissor
    // rectangle cut what is drawn.
    device->SetViewport(Viewport(32, 32, 32, 32));
    Rectangle(0, 0, 64, 64, Argb(0, 255, 0, 255));
    device->SetScissorRect(Rect(40.0f, 40.0f, 8.0f, 8.0f));
    Rectangle(0, 0, 64, 64, Argb(0, 0, 255, 255));
    device->SetScissorRect(Rect(0.0f, 0.0f, float(kSize), float(kSize)));
    const Image image = Read();
    ASSERT_FALSE(image.pixels.empty());
    EXPECT_TRUE(Near(image.At(4, 8), 255, 255, 255, 255)) << Describe(image.At(4, 8));
    EXPECT_TRUE(Near(image.At(13, 13), 255, 255, 255, 255));
    EXPECT_TRUE(Near(image.At(3, 8), 0, 0, 0, 255));
    EXPECT_TRUE(Near(image.At(14, 8), 0, 0, 0, 255));
    EXPECT_TRUE(Near(image.At(4, 7), 0, 0, 0, 255));
    EXPECT_TRUE(Near(image.At(4, 14), 0, 0, 0, 255));
    EXPECT_TRUE(Near(image.At(40, 40), 0, 0, 255, 255)) << Describe(image.At(40, 40));
    EXPECT_TRUE(Near(image.At(47, 47), 0, 0, 255, 255));
    EXPECT_TRUE(Near(image.At(39, 40), 0, 255, 0, 255));
    EXPECT_TRUE(Near(image.At(48, 47), 0, 255, 0, 255));
    EXPECT_TRUE(Near(image.At(32, 32), 0, 255, 0, 255));
    EXPECT_TRUE(Near(image.At(31, 40), 0, 0, 0, 255));
    EXPECT_TRUE(Near(image.At(40, 31), 0, 0, 0, 255));
}

TEST_F(OpenGLPixelTest, DepthTestHonoursEveryCompareCode)
{
    // Column f: the stored depth is 0.5; three rows draw at 0.25, 0.5 and 0.75 with function f.
    const float depths[3] = {0.25f, 0.5f, 0.75f};
    const bool passes[8][3] = {{false, false, false}, {true, false, false}, {false, true, false},
                               {true, true, false},   {false, false, true}, {true, false, true},
                               {false, true, true},   {true, true, true}};
    Clear(0.0f, 0.0f, 0.0f, 1.0f);
    for (int f = 0; f < 8; ++f) {
        device->SetDepthTestFunction(RENDER_TEST_ALWAYS);
        Rectangle(float(f * 8), 0, 8, 24, Argb(0, 0, 255, 255), 0.5f);
        device->SetDepthTestFunction(RenderTestFunction(f));
        for (int row = 0; row < 3; ++row)
            Rectangle(float(f * 8), float(row * 8), 8, 8, Argb(255, 255, 255, 255), depths[row]);
    }
    // With depth writes off, a passing draw leaves the stored depth as it was.
    device->SetDepthTestFunction(RENDER_TEST_ALWAYS);
    device->SetDepthWriteMode(RENDER_WRITE_DISABLED);
    Rectangle(0, 40, 8, 8, Argb(0, 0, 255, 255), 0.9f);
    device->SetDepthWriteMode(RENDER_WRITE_ENABLED);
    device->SetDepthTestFunction(RENDER_TEST_LESS);
    Rectangle(0, 40, 8, 8, Argb(255, 0, 0, 255), 0.95f);
    const Image image = Read();
    ASSERT_FALSE(image.pixels.empty());
    for (int f = 0; f < 8; ++f)
        for (int row = 0; row < 3; ++row) {
            const Pixel& p = image.At(f * 8 + 4, row * 8 + 4);
            if (passes[f][row])
                EXPECT_TRUE(Near(p, 255, 255, 255, 255)) << "function " << f << " depth " << depths[row] << " "
                                                         << Describe(p);
            else
                EXPECT_TRUE(Near(p, 0, 0, 255, 255)) << "function " << f << " depth " << depths[row] << " "
                                                     << Describe(p);
        }
    EXPECT_TRUE(Near(image.At(4, 44), 255, 0, 0, 255)) << Describe(image.At(4, 44));
}

TEST_F(OpenGLPixelTest, BlendsWithEveryFactor)
{
    const float dst[4] = {0.2f, 0.4f, 0.6f, 0.8f};
    const float src[4] = {0.5f, 0.25f, 1.0f, 0.6f};
    auto factor = [&](RenderBlendFactor f, int channel) -> float {
        switch (f) {
        case RENDER_BLEND_ONE:
            return 1.0f;
        case RENDER_BLEND_ZERO:
            return 0.0f;
        case RENDER_BLEND_SRC_COLOR:
            return src[channel];
        case RENDER_BLEND_INV_SRC_COLOR:
            return 1.0f - src[channel];
        case RENDER_BLEND_DEST_COLOR:
            return dst[channel];
        case RENDER_BLEND_DEST_ALPHA:
            return dst[3];
        case RENDER_BLEND_SRC_ALPHA:
            return src[3];
        case RENDER_BLEND_INV_DEST_ALPHA:
            return 1.0f - dst[3];
        case RENDER_BLEND_INV_SRC_ALPHA:
            return 1.0f - src[3];
        case RENDER_BLEND_INV_DEST_COLOR:
            return 1.0f - dst[channel];
        case RENDER_BLEND_SRC_ALPHA_SAT:
            return channel == 3 ? 1.0f : std::min(src[3], 1.0f - dst[3]);
        }
        return 0.0f;
    };
    const uint32_t srcColor = Argb(int(std::lround(src[0] * 255)), int(std::lround(src[1] * 255)),
                                   int(std::lround(src[2] * 255)), int(std::lround(src[3] * 255)));
    Clear(dst[0], dst[1], dst[2], dst[3]);
    device->SetDepthTestFunction(RENDER_TEST_ALWAYS);
    // Cells of 8 x 8: row 0 and 1 the source factors against ONE, rows 2 and 3 the destination
    // factors against ZERO.
    struct Case
    {
        RenderBlendFactor source, destination;
    };
    std::vector<Case> cases;
    for (int f = 0; f <= RENDER_BLEND_SRC_ALPHA_SAT; ++f)
        cases.push_back({RenderBlendFactor(f), RENDER_BLEND_ONE});
    for (int f = 0; f <= RENDER_BLEND_SRC_ALPHA_SAT; ++f) {
        if (f == RENDER_BLEND_SRC_ALPHA_SAT)
            continue;
        cases.push_back({RENDER_BLEND_ZERO, RenderBlendFactor(f)});
    }
    for (size_t i = 0; i < cases.size(); ++i) {
        device->SetSourceBlend(cases[i].source);
        device->SetDestinationBlend(cases[i].destination);
        Rectangle(float(i % 8 * 8), float(i / 8 * 8), 8, 8, srcColor);
    }
    const Image image = Read();
    ASSERT_FALSE(image.pixels.empty());
    for (size_t i = 0; i < cases.size(); ++i) {
        const Pixel& p = image.At(int(i % 8 * 8 + 4), int(i / 8 * 8 + 4));
        int expected[4];
        for (int c = 0; c < 4; ++c) {
            const float s = float(std::lround(src[c] * 255)) / 255.0f;
            const float value = s * factor(cases[i].source, c) + dst[c] * factor(cases[i].destination, c);
            expected[c] = int(std::lround(std::clamp(value, 0.0f, 1.0f) * 255.0f));
        }
        EXPECT_TRUE(Near(p, expected[0], expected[1], expected[2], expected[3], 4))
            << "source " << cases[i].source << " destination " << cases[i].destination << ": " << Describe(p)
            << " expected (" << expected[0] << ", " << expected[1] << ", " << expected[2] << ", " << expected[3]
            << ")";
    }
    EXPECT_EQ(device->GetSourceBlend(), RENDER_BLEND_ZERO);
}

} // namespace
} // namespace GAME
