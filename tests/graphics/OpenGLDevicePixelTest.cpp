// The OpenGL device drawn headless (EGL surfaceless, llvmpipe without a GPU) and read back: every
// case compares pixels with what the engine's codes mean, within a small tolerance per channel.
#include "OpenGLTestSupport.h"
#include "common/LogCapture.h"

#include "datakit/SampleGameData.h"

#include "graphics/RenderDynamicIndexBuffer.h"
#include "graphics/RenderDynamicVertexBuffer.h"
#include "graphics/RenderFont.h"
#include "graphics/RenderIndexBuffer.h"
#include "graphics/RenderPixelShader.h"
#include "graphics/RenderVertexBuffer.h"
#include "graphics/RenderVertexDeclaration.h"
#include "graphics/RenderVertexShader.h"
#include "platform/Module.h"
#include "platform/Threading.h"

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <sstream>
#include <sys/resource.h>
#include <thread>
#include <utility>

namespace GAME {
namespace {

using Test::Argb;
using Test::DdsBuilder;
using Test::Describe;
using Test::Image;
using Test::Near;
using Test::PixelNear;
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

    void Clear(float r, float g, float b, float a,
               unsigned int flags = RENDER_CLEAR_COLOR | RENDER_CLEAR_DEPTH)
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

    // The whole texture, untinted, onto the screen rectangle through stage 0.
    void DrawTexture(RenderTexture* texture, const Rect& at)
    {
        device->SetTexture(0, texture);
        device->DrawTexturedQuad(at, Rect(0, 0, 1, 1), Argb(255, 255, 255, 255), 0.0f);
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
    EXPECT_TRUE(PixelNear(image, 0, 0, 0, 255, 0, 128));
    EXPECT_TRUE(PixelNear(image, 63, 15, 0, 255, 0, 128));
    EXPECT_TRUE(PixelNear(image, 0, 16, 255, 0, 0, 255));
    EXPECT_TRUE(PixelNear(image, 63, 63, 255, 0, 0, 255));
    // A read-back of another size than the target is refused.
    Pixel one;
    EXPECT_FALSE(device->ReadFrameBuffer(&one, 1, 1));

    // A read that does not hold the frame: its picture is what was drawn before the request, not
    // what the frames after it drew (read back, so that it is drawn), however late it is collected.
    std::vector<Pixel> deferred(size_t(kSize) * kSize);
    EXPECT_EQ(device->CollectFrameRead(deferred.data(), kSize, kSize, true),
              RENDER_READ_FAILED); // none asked
    ASSERT_TRUE(device->RequestFrameRead(kSize, kSize));
    EXPECT_FALSE(device->RequestFrameRead(kSize, kSize)); // one at a time
    for (int frame = 0; frame < 3; ++frame) {
        device->SetViewport(Viewport(0, 0, kSize, kSize));
        Clear(0.0f, 0.0f, 1.0f, 1.0f);
        Rectangle(0, 0, kSize, 8, Argb(255, 255, 0, 255));
        const Image after = Read();
        ASSERT_FALSE(after.pixels.empty());
        EXPECT_TRUE(PixelNear(after, 32, 32, 0, 0, 255, 255));
        device->EndFrame();
        device->PresentSurface(primary);
        ASSERT_TRUE(device->BeginFrame());
    }
    EXPECT_EQ(device->CollectFrameRead(&one, 1, 1, false), RENDER_READ_FAILED); // the read goes on
    RenderFrameRead read = device->CollectFrameRead(deferred.data(), kSize, kSize, false);
    if (read == RENDER_READ_PENDING)
        read = device->CollectFrameRead(deferred.data(), kSize, kSize, true);
    ASSERT_EQ(read, RENDER_READ_DONE);
    for (const auto& [x, y] : {std::pair(0, 0), std::pair(63, 15), std::pair(0, 16), std::pair(63, 63)})
        EXPECT_TRUE(Near(deferred[size_t(y) * kSize + size_t(x)], image.At(x, y).r, image.At(x, y).g,
                         image.At(x, y).b, image.At(x, y).a))
            << "(" << x << ", " << y << "): " << Describe(deferred[size_t(y) * kSize + size_t(x)]);
    EXPECT_EQ(device->CollectFrameRead(deferred.data(), kSize, kSize, false), RENDER_READ_FAILED); // over
}

TEST_F(OpenGLPixelTest, AClearInsideANarrowViewportLeavesTheColumnsAndRowsBesideIt)
{
    Clear(1.0f, 0.0f, 0.0f, 1.0f);
    device->SetViewport(Viewport(16, 8, 24, 16));
    Clear(0.0f, 0.0f, 1.0f, 1.0f, RENDER_CLEAR_COLOR);
    const Image image = Read();
    ASSERT_FALSE(image.pixels.empty());
    // Columns 16 to 39 of rows 8 to 23 (from the top), and nothing else.
    for (const auto& [x, y] : {std::pair{16, 8}, std::pair{39, 8}, std::pair{16, 23}, std::pair{39, 23}})
        EXPECT_TRUE(PixelNear(image, x, y, 0, 0, 255, 255));
    for (const auto& [x, y] : {std::pair{15, 8}, std::pair{40, 8}, std::pair{15, 23}, std::pair{40, 23},
                               std::pair{16, 7}, std::pair{39, 24}, std::pair{0, 16}, std::pair{63, 16}})
        EXPECT_TRUE(PixelNear(image, x, y, 255, 0, 0, 255));
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
    EXPECT_TRUE(PixelNear(image, 4, 8, 255, 255, 255, 255));
    EXPECT_TRUE(PixelNear(image, 13, 13, 255, 255, 255, 255));
    EXPECT_TRUE(PixelNear(image, 3, 8, 0, 0, 0, 255));
    EXPECT_TRUE(PixelNear(image, 14, 8, 0, 0, 0, 255));
    EXPECT_TRUE(PixelNear(image, 4, 7, 0, 0, 0, 255));
    EXPECT_TRUE(PixelNear(image, 4, 14, 0, 0, 0, 255));
    EXPECT_TRUE(PixelNear(image, 40, 40, 0, 0, 255, 255));
    EXPECT_TRUE(PixelNear(image, 47, 47, 0, 0, 255, 255));
    EXPECT_TRUE(PixelNear(image, 39, 40, 0, 255, 0, 255));
    EXPECT_TRUE(PixelNear(image, 48, 47, 0, 255, 0, 255));
    EXPECT_TRUE(PixelNear(image, 32, 32, 0, 255, 0, 255));
    EXPECT_TRUE(PixelNear(image, 31, 40, 0, 0, 0, 255));
    EXPECT_TRUE(PixelNear(image, 40, 31, 0, 0, 0, 255));
}

TEST_F(OpenGLPixelTest, FansQuadRunsAndWireframeDrawWhatTheyCover)
{
    Clear(0.0f, 0.0f, 0.0f, 1.0f);
    // A fan from the hub at (8, 8) round a square of 16 pixels, closed on its first point.
    const Vec3 fan[6] = {Vec3(8, 8, 0),   Vec3(0, 0, 0),  Vec3(16, 0, 0),
                         Vec3(16, 16, 0), Vec3(0, 16, 0), Vec3(0, 0, 0)};
    device->DrawFan(fan, 6, Argb(255, 0, 0, 255));
    // Two quads in one call.
    const Vec3 quads[8] = {Vec3(32, 0, 0), Vec3(40, 0, 0), Vec3(40, 8, 0),  Vec3(32, 8, 0),
                           Vec3(48, 8, 0), Vec3(56, 8, 0), Vec3(56, 16, 0), Vec3(48, 16, 0)};
    device->DrawQuad(quads, 8, Argb(0, 255, 0, 255));
    EXPECT_EQ(device->GetNumFacesRendered(), 4 + 4);
    // Wireframe draws the edges only.
    device->EnableWireframe(true);
    Rectangle(8, 32, 24, 24, Argb(0, 0, 255, 255));
    device->EnableWireframe(false);
    const Image image = Read();
    ASSERT_FALSE(image.pixels.empty());
    EXPECT_TRUE(PixelNear(image, 1, 8, 255, 0, 0, 255));
    EXPECT_TRUE(PixelNear(image, 14, 14, 255, 0, 0, 255));
    EXPECT_TRUE(PixelNear(image, 20, 8, 0, 0, 0, 255));
    EXPECT_TRUE(PixelNear(image, 36, 4, 0, 255, 0, 255));
    EXPECT_TRUE(PixelNear(image, 52, 12, 0, 255, 0, 255));
    EXPECT_TRUE(PixelNear(image, 44, 4, 0, 0, 0, 255));
    EXPECT_TRUE(PixelNear(image, 26, 36, 0, 0, 0, 255)); // inside: not filled
    int edge = 0;
    for (int x = 8; x < 32; ++x)
        edge += image.At(x, 32).b > 128 ? 1 : 0;
    EXPECT_GT(edge, 16);
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
                EXPECT_TRUE(Near(p, 255, 255, 255, 255))
                    << "function " << f << " depth " << depths[row] << " " << Describe(p);
            else
                EXPECT_TRUE(Near(p, 0, 0, 255, 255))
                    << "function " << f << " depth " << depths[row] << " " << Describe(p);
        }
    EXPECT_TRUE(PixelNear(image, 4, 44, 255, 0, 0, 255));
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
            << " expected (" << expected[0] << ", " << expected[1] << ", " << expected[2] << ", "
            << expected[3] << ")";
    }
    EXPECT_EQ(device->GetSourceBlend(), RENDER_BLEND_ZERO);
}

TEST_F(OpenGLPixelTest, AlphaTestDiscardsByFunctionAndReferenceForEveryProgram)
{
    Clear(0.0f, 0.0f, 0.0f, 1.0f);
    device->SetDepthTestFunction(RENDER_TEST_ALWAYS);
    // The canvas's alpha testing: greater than 0.05.
    device->SetAlphaTestFunction(RENDER_TEST_GREATER);
    device->SetAlphaReference(0.05f);
    Rectangle(0, 0, 8, 8, Argb(255, 255, 255, 10)); // alpha 0.039: discarded
    Rectangle(8, 0, 8, 8, Argb(255, 255, 255, 16)); // 0.063: kept
    device->SetAlphaTestFunction(RENDER_TEST_LESS);
    Rectangle(16, 0, 8, 8, Argb(255, 255, 255, 10)); // kept
    Rectangle(24, 0, 8, 8, Argb(255, 255, 255, 16)); // discarded
    device->SetAlphaTestFunction(RENDER_TEST_NEVER);
    Rectangle(32, 0, 8, 8, Argb(255, 255, 255, 255));

    // A program of the library's gets the same test after its own main.
    RenderVertexShader* vs = VertexProgram(GAME::Test::passThroughVertexProgram);
    RenderPixelShader* ps = PixelProgram(GAME::Test::colorPixelProgram);
    ASSERT_TRUE(vs && ps);
    device->SetVertexShader(vs);
    device->SetPixelShader(ps);
    device->SetAlphaTestFunction(RENDER_TEST_GREATER_EQUAL);
    device->SetAlphaReference(0.5f);
    // Left half alpha 0.25 (discarded), right half alpha 0.75 (kept), rows 16 to 31.
    Geometry left = MakeQuad(-1.0f, 0.0f, 0.0f, 0.5f, Argb(0, 255, 0, 64));
    Geometry right = MakeQuad(0.0f, 0.0f, 1.0f, 0.5f, Argb(0, 255, 0, 191));
    Draw(left);
    Draw(right);
    device->SetAlphaTestFunction(RENDER_TEST_ALWAYS);
    const Image image = Read();
    ASSERT_FALSE(image.pixels.empty());
    EXPECT_TRUE(PixelNear(image, 4, 4, 0, 0, 0, 255));
    EXPECT_TRUE(PixelNear(image, 12, 4, 255, 255, 255, 16));
    EXPECT_TRUE(PixelNear(image, 20, 4, 255, 255, 255, 10));
    EXPECT_TRUE(PixelNear(image, 28, 4, 0, 0, 0, 255));
    EXPECT_TRUE(PixelNear(image, 36, 4, 0, 0, 0, 255));
    EXPECT_TRUE(PixelNear(image, 16, 20, 0, 0, 0, 255));
    EXPECT_TRUE(PixelNear(image, 48, 20, 0, 255, 0, 191));
    Destroy(left);
    Destroy(right);
    device->DestroyVertexShader(&vs);
    device->DestroyPixelShader(&ps);
    EXPECT_EQ(vs, nullptr);
}

TEST_F(OpenGLPixelTest, ProgramsDrawWithConstantsThatOutliveProgramChanges)
{
    // The vertex program transforms by the matrix in registers 0 to 3; the pixel program's colour
    // is pc[2].
    const char* transform = R"GLSL(
void main()
{
    gl_Position = engine_transform(0, a_position);
    v_color0 = a_color;
}
)GLSL";
    const char* constantColor = "void main() { o_color = pc[2]; }";
    RenderVertexShader* vs = VertexProgram(transform);
    RenderVertexShader* plain = VertexProgram(GAME::Test::passThroughVertexProgram);
    RenderPixelShader* ps = PixelProgram(constantColor);
    ASSERT_TRUE(vs && plain && ps);
    // Rows of a matrix that moves x by +1 (clip space): the left half of the quad lands right.
    const float matrix[16] = {1, 0, 0, 1, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    const float red[4] = {1, 0, 0, 1};
    device->SetVertexShaderConstants(0, matrix, 4);
    device->SetPixelShaderConstants(2, red, 1);
    Clear(0.0f, 0.0f, 0.0f, 1.0f);
    Geometry quad = MakeQuad(-1.0f, -1.0f, 0.0f, 1.0f, Argb(255, 255, 255, 255));
    device->SetVertexShader(vs);
    device->SetPixelShader(ps);
    Draw(quad);
    // Another program in between; the registers stay the device's.
    device->SetVertexShader(plain);
    device->SetPixelShader(nullptr);
    Geometry corner = MakeQuad(-1.0f, 0.5f, -0.5f, 1.0f, Argb(0, 0, 255, 255));
    Draw(corner);
    device->SetVertexShader(vs);
    device->SetPixelShader(ps);
    const float green[4] = {0, 1, 0, 1};
    const float down[16] = {1, 0, 0, 1, 0, 1, 0, -1, 0, 0, 1, 0, 0, 0, 0, 1};
    device->SetVertexShaderConstants(0, down, 4);
    device->SetPixelShaderConstants(2, green, 1);
    Geometry small = MakeQuad(-1.0f, 0.0f, -0.5f, 0.5f, Argb(255, 255, 255, 255));
    Draw(small); // lands at x 0 .. 0.5, y -1 .. -0.5, over the red
    const Image image = Read();
    ASSERT_FALSE(image.pixels.empty());
    EXPECT_TRUE(PixelNear(image, 40, 8, 255, 0, 0, 255));
    EXPECT_TRUE(PixelNear(image, 8, 30, 0, 0, 0, 255));
    EXPECT_TRUE(PixelNear(image, 4, 4, 0, 0, 255, 255));
    EXPECT_TRUE(PixelNear(image, 36, 60, 0, 255, 0, 255));
    EXPECT_TRUE(PixelNear(image, 52, 60, 255, 0, 0, 255));
    EXPECT_TRUE(PixelNear(image, 36, 44, 255, 0, 0, 255));
    Destroy(quad);
    Destroy(corner);
    Destroy(small);
    device->DestroyVertexShader(&vs);
    device->DestroyVertexShader(&plain);
    device->DestroyPixelShader(&ps);
}

TEST_F(OpenGLPixelTest, FixedFunctionDrawsTheBasicDeclarationAsClipCoordinates)
{
    // The graphics engine's basic vertex: position, normal, texture coordinate, colour (36 bytes).
    const VertexElement basic[4] = {{0, VERTEX_USAGE_POSITION, VERTEX_TYPE_FLOAT3},
                                    {0, VERTEX_USAGE_NORMAL, VERTEX_TYPE_FLOAT3},
                                    {0, VERTEX_USAGE_TEXCOORD0, VERTEX_TYPE_FLOAT2},
                                    {0, VERTEX_USAGE_COLOR, VERTEX_TYPE_COLOR}};
    RenderVertexDeclaration* declaration = device->CreateVertexDeclaration(basic, 4);
    ASSERT_NE(declaration, nullptr);
    EXPECT_EQ(declaration->GetStride(), 36u);
    struct BasicVertex
    {
        float x, y, z, nx, ny, nz, u, v;
        uint32_t color;
    };
    const uint32_t orange = Argb(255, 128, 0, 255);
    const BasicVertex vertices[3] = {{-1, 1, 0.5f, 0, 0, 1, 0, 0, orange},
                                     {1, 1, 0.5f, 0, 0, 1, 1, 0, orange},
                                     {-1, -1, 0.5f, 0, 0, 1, 0, 1, orange}};
    RenderVertexBuffer* buffer = device->CreateVertexBuffer(RENDER_USAGE_STATIC, sizeof(vertices));
    RenderIndexBuffer* indices = device->CreateIndexBuffer(3, 4); // 32-bit indices
    ASSERT_TRUE(buffer && indices);
    std::memcpy(buffer->Lock(), vertices, sizeof(vertices));
    buffer->Unlock();
    const uint32_t list[3] = {0, 1, 2};
    std::memcpy(indices->Lock(), list, sizeof(list));
    indices->Unlock();
    Clear(0.0f, 0.0f, 0.0f, 1.0f);
    device->SetVertexShader(nullptr);
    device->SetPixelShader(nullptr);
    device->SetVertexDeclaration(declaration);
    device->SetStreamSource(0, buffer, 0, 36);
    device->SetIndices(indices);
    EXPECT_EQ(device->GetIndices(), indices);
    RenderDrawRange range;
    range.numVertices = 3;
    range.primitiveCount = 1;
    device->DrawIndexedPrimitive(RENDER_PRIMITIVE_TRIANGLE_LIST, range);
    EXPECT_EQ(device->GetNumDrawCalls(), 1);
    EXPECT_EQ(device->GetNumFacesRendered(), 1);
    const Image image = Read();
    ASSERT_FALSE(image.pixels.empty());
    // The triangle covers the top left half.
    EXPECT_TRUE(PixelNear(image, 4, 4, 255, 128, 0, 255));
    EXPECT_TRUE(PixelNear(image, 60, 60, 0, 0, 0, 255));
    device->DestroyVertexBuffer(&buffer);
    device->DestroyIndexBuffer(&indices);
    device->DestroyVertexDeclaration(&declaration);
}

TEST_F(OpenGLPixelTest, ASecondStreamFeedsItsElementsAndDrawsPastItsEndAreRefused)
{
    // Positions in stream 0, colours in stream 1.
    const VertexElement split[2] = {{0, VERTEX_USAGE_POSITION, VERTEX_TYPE_FLOAT3},
                                    {1, VERTEX_USAGE_COLOR, VERTEX_TYPE_COLOR}};
    RenderVertexDeclaration* declaration = device->CreateVertexDeclaration(split, 2);
    ASSERT_NE(declaration, nullptr);
    const float positions[9] = {-1, 1, 0.5f, 1, 1, 0.5f, -1, -1, 0.5f};
    const uint32_t green = Argb(0, 200, 40, 255);
    const uint32_t colors[3] = {green, green, green};
    RenderVertexBuffer* first = device->CreateVertexBuffer(RENDER_USAGE_STATIC, sizeof(positions));
    RenderVertexBuffer* second = device->CreateVertexBuffer(RENDER_USAGE_STATIC, sizeof(colors));
    RenderVertexBuffer* shortSecond = device->CreateVertexBuffer(RENDER_USAGE_STATIC, 2 * sizeof(uint32_t));
    RenderIndexBuffer* indices = device->CreateIndexBuffer(3, 2);
    ASSERT_TRUE(first && second && shortSecond && indices);
    std::memcpy(first->Lock(), positions, sizeof(positions));
    first->Unlock();
    std::memcpy(second->Lock(), colors, sizeof(colors));
    second->Unlock();
    std::memcpy(shortSecond->Lock(), colors, 2 * sizeof(uint32_t));
    shortSecond->Unlock();
    const uint16_t list[3] = {0, 1, 2};
    std::memcpy(indices->Lock(), list, sizeof(list));
    indices->Unlock();
    RenderDrawRange range;
    range.numVertices = 3;
    range.primitiveCount = 1;

    Clear(0.0f, 0.0f, 0.0f, 1.0f);
    device->SetVertexShader(nullptr);
    device->SetPixelShader(nullptr);
    device->SetVertexDeclaration(declaration);
    device->SetStreamSource(0, first, 0, 12);
    device->SetIndices(indices);
    // Stream 1 unbound, then holding two colours of three: refused, nothing drawn.
    device->DrawIndexedPrimitive(RENDER_PRIMITIVE_TRIANGLE_LIST, range);
    device->SetStreamSource(1, shortSecond, 0, 4);
    device->DrawIndexedPrimitive(RENDER_PRIMITIVE_TRIANGLE_LIST, range);
    EXPECT_EQ(device->GetNumDrawCalls(), 0);
    Image image = Read();
    ASSERT_FALSE(image.pixels.empty());
    EXPECT_TRUE(Near(image.At(4, 4), 0, 0, 0, 255)) << Describe(image.At(4, 4));

    device->SetStreamSource(1, second, 0, 4);
    device->DrawIndexedPrimitive(RENDER_PRIMITIVE_TRIANGLE_LIST, range);
    EXPECT_EQ(device->GetNumDrawCalls(), 1);
    image = Read();
    ASSERT_FALSE(image.pixels.empty());
    EXPECT_TRUE(Near(image.At(4, 4), 0, 200, 40, 255)) << Describe(image.At(4, 4));
    EXPECT_TRUE(Near(image.At(60, 60), 0, 0, 0, 255)) << Describe(image.At(60, 60));
    device->DestroyVertexBuffer(&first);
    device->DestroyVertexBuffer(&second);
    device->DestroyVertexBuffer(&shortSecond);
    device->DestroyIndexBuffer(&indices);
    device->DestroyVertexDeclaration(&declaration);
}

TEST_F(OpenGLPixelTest, StreamingBuffersHandOutFreshSpaceAndDrawTheLastLockedSpace)
{
    RenderDynamicVertexBuffer* vertices = device->CreateDynamicVertexBuffer(4 * sizeof(TestVertex) * 2);
    RenderDynamicIndexBuffer* indices = device->CreateDynamicIndexBuffer(6 * 4 * 2);
    RenderVertexDeclaration* declaration = device->CreateVertexDeclaration(GAME::Test::testVertexElements, 4);
    ASSERT_TRUE(vertices && indices && declaration);
    EXPECT_EQ(indices->GetSize(), 12u);
    // A lock past the buffer's size answers null.
    EXPECT_EQ(vertices->Lock(vertices->GetSize() + 1), nullptr);
    EXPECT_EQ(indices->Lock(13), nullptr);

    Clear(0.0f, 0.0f, 0.0f, 1.0f);
    device->SetVertexDeclaration(declaration);
    auto quad = [&](float x0, float x1, uint32_t color) {
        auto* v = static_cast<TestVertex*>(vertices->Lock(4 * sizeof(TestVertex)));
        ASSERT_NE(v, nullptr);
        v[0] = {x0, 1, 0.5f, color, 0, 0, {}};
        v[1] = {x1, 1, 0.5f, color, 0, 0, {}};
        v[2] = {x1, -1, 0.5f, color, 0, 0, {}};
        v[3] = {x0, -1, 0.5f, color, 0, 0, {}};
        vertices->Unlock();
        uint32_t* i = indices->Lock(6);
        ASSERT_NE(i, nullptr);
        const uint32_t list[6] = {0, 1, 2, 0, 2, 3};
        std::memcpy(i, list, sizeof(list));
        indices->Unlock();
        vertices->SetAsStream(0, sizeof(TestVertex));
        indices->SetAsIndices();
        EXPECT_EQ(device->GetIndices(), nullptr); // only static index buffers are RenderIndexBuffers
        device->DrawIndexedPrimitive(RENDER_PRIMITIVE_TRIANGLE_LIST, indices->GetDrawRange(6, 2, 0, 0));
    };
    quad(-1.0f, -0.5f, Argb(255, 0, 0, 255));
    const unsigned int secondIndices = indices->GetLockedOffset();
    quad(-0.5f, 0.0f, Argb(0, 255, 0, 255));
    EXPECT_EQ(indices->GetLockedOffset(), 6u);
    EXPECT_EQ(secondIndices, 0u);
    // The third quad no longer fits behind the second: it starts over at the front, and the two
    // drawn before keep their pixels.
    quad(0.0f, 0.5f, Argb(0, 0, 255, 255));
    EXPECT_EQ(vertices->GetLockedOffset(), 0u);
    vertices->Discard();
    indices->Discard();
    quad(0.5f, 1.0f, Argb(255, 255, 0, 255));
    EXPECT_EQ(indices->GetLockedOffset(), 0u);
    const Image image = Read();
    ASSERT_FALSE(image.pixels.empty());
    EXPECT_TRUE(PixelNear(image, 8, 32, 255, 0, 0, 255));
    EXPECT_TRUE(PixelNear(image, 24, 32, 0, 255, 0, 255));
    EXPECT_TRUE(PixelNear(image, 40, 32, 0, 0, 255, 255));
    EXPECT_TRUE(PixelNear(image, 56, 32, 255, 255, 0, 255));
    EXPECT_EQ(device->GetNumDrawCalls(), 4);
    device->DestroyDynamicVertexBuffer(&vertices);
    device->DestroyDynamicIndexBuffer(&indices);
    device->DestroyVertexDeclaration(&declaration);

    // Wraps take the buffer's own stores in turn once the draws that read them are done: the
    // driver makes no new store for them, so that writing the whole buffer frame after frame
    // touches no new pages (a fresh 4 MiB store at each wrap would fault in 1,024 of them).
    RenderDynamicVertexBuffer* big = device->CreateDynamicVertexBuffer(4u << 20);
    ASSERT_NE(big, nullptr);
    auto fill = [&] {
        void* space = big->Lock(big->GetSize());
        ASSERT_NE(space, nullptr);
        std::memset(space, 0x5a, big->GetSize());
        big->Unlock();
        big->SetAsStream(0, sizeof(TestVertex));
        EXPECT_FALSE(Read().pixels.empty()); // the frame done, as a present waits for the one before
    };
    for (int i = 0; i < 3; ++i)
        fill();
    rusage before{}, after{};
    ::getrusage(RUSAGE_SELF, &before);
    for (int i = 0; i < 16; ++i)
        fill();
    ::getrusage(RUSAGE_SELF, &after);
    EXPECT_LT(after.ru_minflt - before.ru_minflt, 16 * 1024 / 4);
    device->DestroyDynamicVertexBuffer(&big);
}

TEST_F(OpenGLPixelTest, ClipPlanesCutInClipSpace)
{
    RenderVertexShader* vs = VertexProgram(GAME::Test::passThroughVertexProgram);
    ASSERT_NE(vs, nullptr);
    Geometry quad = MakeQuad(-1.0f, -1.0f, 1.0f, 1.0f, Argb(255, 255, 255, 255));
    Clear(0.0f, 0.0f, 0.0f, 1.0f);
    device->SetVertexShader(vs);
    // Keeps x >= 0.5 (the right quarter); then y <= 0 as well (its bottom half).
    device->SetClippingPlane(0, Plane(Vec3(1.0f, 0.0f, 0.0f), -0.5f));
    device->SetClippingPlane(1, Plane(Vec3(0.0f, -1.0f, 0.0f), 0.0f));
    Plane stored;
    EXPECT_TRUE(device->GetClippingPlane(1, stored));
    EXPECT_EQ(stored.normal.y, -1.0f);
    Draw(quad);
    device->ClearClippingPlane(0);
    device->ClearClippingPlane(1);
    EXPECT_FALSE(device->GetClippingPlane(0, stored));
    // Screen drawing is not cut by the planes.
    device->SetClippingPlane(0, Plane(Vec3(1.0f, 0.0f, 0.0f), -0.5f));
    Rectangle(0, 0, 8, 8, Argb(255, 0, 0, 255));
    device->ClearClippingPlane(0);
    const Image image = Read();
    ASSERT_FALSE(image.pixels.empty());
    EXPECT_TRUE(PixelNear(image, 56, 56, 255, 255, 255, 255));
    EXPECT_TRUE(PixelNear(image, 56, 8, 0, 0, 0, 255));
    EXPECT_TRUE(PixelNear(image, 40, 56, 0, 0, 0, 255));
    EXPECT_TRUE(PixelNear(image, 4, 4, 255, 0, 0, 255));
    Destroy(quad);
    device->DestroyVertexShader(&vs);
}

// A 2 x 2 image: red, green on the first row; blue, white on the second (bytes blue, green, red,
// alpha).
RenderTexture* MakeCheckerTexture(RenderDevice& device)
{
    const uint32_t texels[4] = {Argb(255, 0, 0, 255), Argb(0, 255, 0, 255), Argb(0, 0, 255, 255),
                                Argb(255, 255, 255, 255)};
    return device.CreateTextureFromImage(2, 2, texels, 1, RENDER_USAGE_STATIC);
}

void PointSampling(RenderDevice& device, int stage)
{
    device.SetTextureStageState(stage, RENDER_STAGE_MAG_FILTER, RENDER_FILTER_POINT);
    device.SetTextureStageState(stage, RENDER_STAGE_MIN_FILTER, RENDER_FILTER_POINT);
}

TEST_F(OpenGLPixelTest, SamplesTexturesTopRowFirstWithWrapMirrorAndClamp)
{
    RenderTexture* texture = MakeCheckerTexture(*device);
    ASSERT_NE(texture, nullptr);
    EXPECT_EQ(texture->GetWidth(), 2);
    EXPECT_EQ(texture->GetMemoryUsage(), 16u);
    Clear(0.0f, 0.0f, 0.0f, 1.0f);
    device->SetTexture(0, texture);
    PointSampling(*device, 0);
    const uint32_t white = Argb(255, 255, 255, 255);
    device->DrawTexturedQuad(Rect(0, 0, 32, 32), Rect(0, 0, 1, 1), white, 0.0f);
    // Wrapping repeats the image; texture coordinates 0 to 2 show it twice each way.
    device->DrawTexturedQuad(Rect(32, 0, 32, 32), Rect(0, 0, 2, 2), white, 0.0f);
    device->SetTextureStageState(0, RENDER_STAGE_ADDRESS_U, RENDER_ADDRESS_CLAMP);
    device->SetTextureStageState(0, RENDER_STAGE_ADDRESS_V, RENDER_ADDRESS_CLAMP);
    device->DrawTexturedQuad(Rect(0, 32, 32, 32), Rect(0, 0, 2, 2), white, 0.0f);
    device->SetTextureStageState(0, RENDER_STAGE_ADDRESS_U, RENDER_ADDRESS_MIRROR);
    device->SetTextureStageState(0, RENDER_STAGE_ADDRESS_V, RENDER_ADDRESS_WRAP);
    // The vertex colour modulates the texture.
    device->DrawTexturedQuad(Rect(32, 32, 32, 32), Rect(0, 0, 2, 2), Argb(255, 128, 255, 255), 0.0f);
    EXPECT_EQ(device->GetTextureStageState(0, RENDER_STAGE_ADDRESS_U), RENDER_ADDRESS_MIRROR);
    const Image image = Read();
    ASSERT_FALSE(image.pixels.empty());
    auto expect = [&](int x, int y, int r, int g, int b) {
        EXPECT_TRUE(PixelNear(image, x, y, r, g, b, 255));
    };
    expect(4, 4, 255, 0, 0);
    expect(20, 4, 0, 255, 0);
    expect(4, 20, 0, 0, 255);
    expect(20, 20, 255, 255, 255);
    expect(36, 4, 255, 0, 0); // wrap: cells of 8 pixels
    expect(44, 4, 0, 255, 0);
    expect(52, 4, 255, 0, 0);
    expect(52, 12, 0, 0, 255);
    expect(4, 36, 255, 0, 0); // clamp: the last column and row go on
    expect(12, 36, 0, 255, 0);
    expect(28, 36, 0, 255, 0);
    expect(28, 60, 255, 255, 255);
    expect(36, 36, 255, 0, 0); // mirror on u: red, green, green, red
    expect(44, 36, 0, 128, 0);
    expect(52, 36, 0, 128, 0);
    expect(60, 36, 255, 0, 0);
    expect(36, 60, 0, 0, 255);
    device->DestroyTexture(&texture);
    EXPECT_EQ(texture, nullptr);
}

TEST_F(OpenGLPixelTest, ReadsBlockCompressedTexturesOfEachKind)
{
    // DXT1, four colours: rows of the block take the indices 0, 1, 2, 3.
    const uint32_t rows = 0x00u | 0x55u << 8 | 0xAAu << 16 | 0xFFu << 24;
    DdsBuilder dxt1(DdsBuilder::DXT1, 4, 4, 1);
    dxt1.BlockLevel(4, 4, GAME::Test::ColorBlock(0xF800, 0x001F, rows));
    // DXT1 with c0 <= c1: index 3 is transparent black.
    DdsBuilder punch(DdsBuilder::DXT1, 4, 4, 1);
    punch.BlockLevel(4, 4, GAME::Test::ColorBlock(0x001F, 0xF800, rows));
    // DXT3: explicit alpha 0, 5, 10, 15 (x 17) down the rows, colour red.
    std::vector<uint8_t> block3 = {0x00, 0x00, 0x55, 0x55, 0xAA, 0xAA, 0xFF, 0xFF};
    const std::vector<uint8_t> red = GAME::Test::ColorBlock(0xF800, 0x0000, 0);
    block3.insert(block3.end(), red.begin(), red.end());
    DdsBuilder dxt3(DdsBuilder::DXT3, 4, 4, 1);
    dxt3.BlockLevel(4, 4, block3);
    // DXT5: alpha end points 255 and 0; rows use the alpha indices 0, 1, 2, 7.
    std::vector<uint8_t> block5 = {255, 0};
    uint64_t bits = 0;
    const int alphaIndex[4] = {0, 1, 2, 7};
    for (int i = 0; i < 16; ++i)
        bits |= uint64_t(alphaIndex[i / 4]) << (3 * i);
    for (int i = 0; i < 6; ++i)
        block5.push_back(uint8_t(bits >> (8 * i)));
    block5.insert(block5.end(), red.begin(), red.end());
    DdsBuilder dxt5(DdsBuilder::DXT5, 4, 4, 1);
    dxt5.BlockLevel(4, 4, block5);

    // 1024 x 1024 blocks of red over blocks of green: uploaded in two bands of 512 rows, which meet
    // where the colours do.
    DdsBuilder large(DdsBuilder::DXT1, 1024, 1024, 1);
    large.BlockLevel(1024, 512, GAME::Test::ColorBlock(0xF800, 0xF800, 0))
        .BlockLevel(1024, 512, GAME::Test::ColorBlock(0x07E0, 0x07E0, 0));
    RenderTexture* banded = device->CreateTextureFromFile(large.Bytes().data(), unsigned(large.Bytes().size()), 0);
    ASSERT_NE(banded, nullptr);

    RenderTexture* textures[4] = {};
    const DdsBuilder* files[4] = {&dxt1, &punch, &dxt3, &dxt5};
    for (int i = 0; i < 4; ++i) {
        const std::vector<uint8_t>& bytes = files[i]->Bytes();
        textures[i] = device->CreateTextureFromFile(bytes.data(), unsigned(bytes.size()), 0);
        ASSERT_NE(textures[i], nullptr) << i;
    }
    EXPECT_EQ(textures[0]->GetFormat(), RENDER_FORMAT_RGB);
    EXPECT_EQ(textures[3]->GetFormat(), RENDER_FORMAT_RGBA);
    EXPECT_EQ(textures[0]->GetMemoryUsage(), 8u); // one block of 8 bytes
    EXPECT_EQ(textures[2]->GetMemoryUsage(), 16u);
    int pitch = 0;
    EXPECT_EQ(textures[2]->Lock(pitch), nullptr); // block-compressed texels cannot be locked
    Clear(0.0f, 0.0f, 0.0f, 0.0f);
    PointSampling(*device, 0);
    for (int i = 0; i < 4; ++i) {
        device->SetTexture(0, textures[i]);
        device->DrawTexturedQuad(Rect(float(i * 8), 0, 4, 4), Rect(0, 0, 1, 1), Argb(255, 255, 255, 255),
                                 0.0f);
    }
    // Texel for texel, rows 510 to 513 of the large one.
    device->SetTexture(0, banded);
    device->DrawTexturedQuad(Rect(32, 0, 4, 4), Rect(0, 510.0f / 1024, 4.0f / 1024, 4.0f / 1024),
                             Argb(255, 255, 255, 255), 0.0f);
    const Image image = Read();
    ASSERT_FALSE(image.pixels.empty());
    auto expect = [&](int x, int y, int r, int g, int b, int a) {
        EXPECT_TRUE(PixelNear(image, x, y, r, g, b, a, 4));
    };
    expect(0, 0, 255, 0, 0, 255);
    expect(0, 1, 0, 0, 255, 255);
    expect(0, 2, 170, 0, 85, 255);
    expect(0, 3, 85, 0, 170, 255);
    expect(8, 0, 0, 0, 255, 255); // punch-through: colour 0 is blue now
    expect(8, 2, 128, 0, 128, 255);
    expect(8, 3, 0, 0, 0, 0);
    expect(16, 0, 255, 0, 0, 0);
    expect(16, 1, 255, 0, 0, 85);
    expect(16, 3, 255, 0, 0, 255);
    expect(24, 0, 255, 0, 0, 255);
    expect(24, 1, 255, 0, 0, 0);
    expect(24, 2, 255, 0, 0, 219);
    expect(24, 3, 255, 0, 0, 36);
    expect(33, 1, 255, 0, 0, 255);
    expect(33, 2, 0, 255, 0, 255);
    for (RenderTexture*& texture : textures)
        device->DestroyTexture(&texture);
    device->DestroyTexture(&banded);
}

TEST_F(OpenGLPixelTest, ReducedTexturesDropTheirLargestLevelsAndBadFilesAreRefused)
{
    DdsBuilder file(DdsBuilder::ARGB32, 4, 4, 3);
    file.SolidLevel(4, 4, Argb(255, 0, 0, 255))
        .SolidLevel(2, 2, Argb(0, 255, 0, 255))
        .SolidLevel(1, 1, Argb(0, 0, 255, 255));
    const std::vector<uint8_t>& bytes = file.Bytes();
    ASSERT_EQ(bytes.size(), 128u + 64u + 16u + 4u);
    // The smallest levels come last, so a reduced texture still needs the whole file.
    EXPECT_EQ(device->GetTextureFileInfo(bytes.data(), 128, 1), bytes.size());
    EXPECT_EQ(device->GetTextureFileInfo(bytes.data(), 64, 1), 0u);

    RenderTexture* whole = device->CreateTextureFromFile(bytes.data(), unsigned(bytes.size()), 0);
    RenderTexture* half = device->CreateTextureFromFile(bytes.data(), unsigned(bytes.size()), 1);
    RenderTexture* smallest = device->CreateTextureFromFile(bytes.data(), unsigned(bytes.size()), 9);
    DdsBuilder rgbFile(DdsBuilder::RGB24, 2, 2, 1);
    rgbFile.SolidLevel(2, 2, Argb(10, 200, 30, 255));
    RenderTexture* rgb =
        device->CreateTextureFromFile(rgbFile.Bytes().data(), unsigned(rgbFile.Bytes().size()), 0);
    ASSERT_TRUE(whole && half && smallest && rgb);
    EXPECT_EQ(rgb->GetFormat(), RENDER_FORMAT_RGB);
    EXPECT_EQ(whole->GetLevelCount(), 3);
    EXPECT_EQ(half->GetWidth(), 2);
    EXPECT_EQ(half->GetLevelCount(), 2);
    EXPECT_EQ(smallest->GetWidth(), 1);

    // Truncated data, a corrupt header and dimensions beyond the data are refused.
    GAME::Test::LogCapture log;
    EXPECT_EQ(device->CreateTextureFromFile(bytes.data(), unsigned(bytes.size() - 1), 0), nullptr);
    EXPECT_FALSE(device->CanRetryCreateTexture());
    std::vector<uint8_t> corrupt = bytes;
    corrupt[4] = 0x7C + 1; // header size
    EXPECT_EQ(device->CreateTextureFromFile(corrupt.data(), unsigned(corrupt.size()), 0), nullptr);
    std::vector<uint8_t> huge = bytes;
    huge[13] = 0x10; // height 4100
    EXPECT_EQ(device->CreateTextureFromFile(huge.data(), unsigned(huge.size()), 0), nullptr);
    EXPECT_TRUE(log.Contains("no DDS image"));

    Clear(0.0f, 0.0f, 0.0f, 1.0f);
    device->SetTexture(0, whole);
    // Four texels onto one pixel: the smallest level (blue) is sampled ...
    device->DrawTexturedQuad(Rect(0, 0, 1, 1), Rect(0, 0, 1, 1), Argb(255, 255, 255, 255), 0.0f);
    // ... unless the mip filter is none, and then the top level (red).
    device->SetTextureStageState(0, RENDER_STAGE_MIP_FILTER, RENDER_FILTER_NONE);
    device->DrawTexturedQuad(Rect(2, 0, 1, 1), Rect(0, 0, 1, 1), Argb(255, 255, 255, 255), 0.0f);
    device->SetTextureStageState(0, RENDER_STAGE_MIP_FILTER, RENDER_FILTER_LINEAR);
    DrawTexture(half, Rect(8, 0, 8, 8));
    DrawTexture(smallest, Rect(16, 0, 8, 8));
    DrawTexture(rgb, Rect(24, 0, 8, 8));
    const Image image = Read();
    ASSERT_FALSE(image.pixels.empty());
    EXPECT_TRUE(PixelNear(image, 0, 0, 0, 0, 255, 255));
    EXPECT_TRUE(PixelNear(image, 2, 0, 255, 0, 0, 255));
    EXPECT_TRUE(PixelNear(image, 12, 4, 0, 255, 0, 255));
    EXPECT_TRUE(PixelNear(image, 20, 4, 0, 0, 255, 255));
    EXPECT_TRUE(PixelNear(image, 28, 4, 10, 200, 30, 255));
    device->DestroyTexture(&rgb);
    device->DestroyTexture(&whole);
    device->DestroyTexture(&half);
    device->DestroyTexture(&smallest);
}

TEST_F(OpenGLPixelTest, LockableDynamicAndOneByteTexturesKeepWhatIsWritten)
{
    RenderTexture* dynamic = device->CreateDynamicTexture(4, 4, 1, 1);
    ASSERT_NE(dynamic, nullptr);
    int pitch = 0;
    auto* texels = static_cast<uint32_t*>(dynamic->Lock(pitch));
    ASSERT_NE(texels, nullptr);
    EXPECT_EQ(pitch, 16);
    int again = 0;
    EXPECT_EQ(dynamic->Lock(again), nullptr); // one lock at a time
    for (int i = 0; i < 16; ++i)
        texels[i] = Argb(0, 255, 255, 255);
    texels[0] = Argb(255, 0, 255, 255);
    dynamic->Unlock();
    // A later lock starts from what the texture holds.
    texels = static_cast<uint32_t*>(dynamic->Lock(pitch));
    ASSERT_NE(texels, nullptr);
    EXPECT_EQ(texels[0], Argb(255, 0, 255, 255));
    EXPECT_EQ(texels[5], Argb(0, 255, 255, 255));
    dynamic->Unlock();

    // One byte a texel stands for colour and alpha alike.
    const uint8_t intensities[2] = {0, 200};
    RenderTexture* bytes = device->CreateTexture(2, 1, intensities, 1, RENDER_USAGE_STATIC);
    ASSERT_NE(bytes, nullptr);
    // Without texels the texture starts black and can be filled by a lock.
    RenderTexture* empty = device->CreateTexture(8, 8, nullptr, 0, RENDER_USAGE_STATIC);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->GetLevelCount(), 4);

    Clear(0.5f, 0.5f, 0.5f, 1.0f);
    PointSampling(*device, 0);
    DrawTexture(dynamic, Rect(0, 0, 4, 4));
    DrawTexture(bytes, Rect(8, 0, 2, 1));
    DrawTexture(empty, Rect(16, 0, 8, 8));
    const Image image = Read();
    ASSERT_FALSE(image.pixels.empty());
    EXPECT_TRUE(PixelNear(image, 0, 0, 255, 0, 255, 255));
    EXPECT_TRUE(PixelNear(image, 3, 3, 0, 255, 255, 255));
    EXPECT_TRUE(PixelNear(image, 8, 0, 0, 0, 0, 0));
    EXPECT_TRUE(PixelNear(image, 9, 0, 200, 200, 200, 200));
    EXPECT_TRUE(PixelNear(image, 20, 4, 0, 0, 0, 0));
    device->DestroyTexture(&dynamic);
    device->DestroyTexture(&bytes);
    device->DestroyTexture(&empty);
}

TEST_F(OpenGLPixelTest, RenderedTexturesAreSampledTheWayUpUploadedOnesAre)
{
    RenderSurface* surface = device->CreateTextureSurface(16, 16, RENDER_FORMAT_RGBA, RENDER_FORMAT_D24);
    ASSERT_NE(surface, nullptr);
    RenderTexture* texture = surface->GetTexture();
    ASSERT_NE(texture, nullptr);
    EXPECT_EQ(primary->GetTexture(), nullptr);
    // A texture a surface owns goes with the surface only.
    GAME::Test::LogCapture log;
    RenderTexture* owned = texture;
    device->DestroyTexture(&owned);
    EXPECT_TRUE(log.Contains("belongs to a surface"));

    device->SetTargetSurface(0, surface);
    EXPECT_EQ(device->GetViewport(), Viewport(0, 0, 16, 16));
    Clear(0.0f, 0.0f, 1.0f, 1.0f);
    Rectangle(0, 0, 16, 8, Argb(255, 0, 0, 255)); // the top half red
    // Programs draw into it the same way up: clip space y above 0.5 is the top quarter.
    RenderVertexShader* vs = VertexProgram(GAME::Test::passThroughVertexProgram);
    ASSERT_NE(vs, nullptr);
    device->SetVertexShader(vs);
    device->SetDepthTestFunction(RENDER_TEST_ALWAYS);
    Geometry band = MakeQuad(-1.0f, 0.5f, 1.0f, 1.0f, Argb(0, 255, 0, 255));
    Draw(band);
    device->SetVertexShader(nullptr);

    device->SetTargetSurface(0, nullptr);
    EXPECT_EQ(device->GetViewport(), Viewport(0, 0, kSize, kSize));
    Clear(0.0f, 0.0f, 0.0f, 1.0f);
    device->SetTexture(0, texture);
    PointSampling(*device, 0);
    device->DrawTexturedQuad(Rect(0, 0, 16, 16), Rect(0, 0, 1, 1), Argb(255, 255, 255, 255), 0.0f);

    // Copies: the surface's top half scaled onto a whole 8 x 8 texture, and a piece of the
    // primary surface.
    const std::vector<uint32_t> black(64, Argb(0, 0, 0, 255));
    RenderTexture* copy = device->CreateTextureFromImage(8, 8, black.data(), 1, RENDER_USAGE_STATIC);
    RenderTexture* screen = device->CreateTextureFromImage(8, 8, black.data(), 1, RENDER_USAGE_STATIC);
    ASSERT_TRUE(copy && screen);
    EXPECT_TRUE(surface->CopyToTexture(copy, Rect(0, 4, 16, 4)));
    EXPECT_FALSE(surface->CopyToTexture(copy, Rect(20, 20, 4, 4))); // outside the surface
    EXPECT_TRUE(primary->CopyToTexture(screen, Rect(0, 0, 16, 16)));
    DrawTexture(copy, Rect(32, 0, 8, 8));
    DrawTexture(screen, Rect(32, 32, 8, 8));

    // A surface drawing into an existing texture.
    RenderTexture* target = device->CreateDynamicTexture(8, 8, 1, 1);
    ASSERT_NE(target, nullptr);
    RenderSurface* over = device->CreateTextureSurface(8, 8, target, RENDER_FORMAT_D16);
    ASSERT_NE(over, nullptr);
    EXPECT_EQ(over->GetTexture(), target);
    device->SetTargetSurface(0, over);
    Clear(1.0f, 1.0f, 0.0f, 1.0f);
    device->SetTargetSurface(0, nullptr);
    DrawTexture(target, Rect(48, 48, 8, 8));

    const Image image = Read();
    ASSERT_FALSE(image.pixels.empty());
    EXPECT_TRUE(PixelNear(image, 4, 1, 0, 255, 0, 255));
    EXPECT_TRUE(PixelNear(image, 4, 6, 255, 0, 0, 255));
    EXPECT_TRUE(PixelNear(image, 4, 12, 0, 0, 255, 255));
    EXPECT_TRUE(PixelNear(image, 36, 4, 255, 0, 0, 255));
    EXPECT_TRUE(PixelNear(image, 33, 33, 0, 255, 0, 255));
    EXPECT_TRUE(PixelNear(image, 33, 38, 0, 0, 255, 255));
    EXPECT_TRUE(PixelNear(image, 52, 52, 255, 255, 0, 255));

    Destroy(band);
    device->DestroyVertexShader(&vs);
    device->DestroySurface(&over);
    device->DestroySurface(&surface);
    device->DestroyTexture(&target);
    device->DestroyTexture(&copy);
    device->DestroyTexture(&screen);
}

TEST_F(OpenGLPixelTest, EveryRenderTargetFormatMakesACompleteFramebuffer)
{
    GAME::Test::LogCapture log;
    const RenderTextureFormat colors[] = {RENDER_FORMAT_NONE,     RENDER_FORMAT_RGB,  RENDER_FORMAT_RGBA,
                                          RENDER_FORMAT_RGBA_ALT, RENDER_FORMAT_DSDT, RENDER_FORMAT_R16F,
                                          RENDER_FORMAT_R32F,     RENDER_FORMAT_RGB16};
    const RenderTextureFormat depths[] = {RENDER_FORMAT_NONE, RENDER_FORMAT_D16, RENDER_FORMAT_D24,
                                          RENDER_FORMAT_D32};
    for (RenderTextureFormat color : colors)
        for (RenderTextureFormat depth : depths) {
            RenderSurface* surface = device->CreateTextureSurface(8, 8, color, depth);
            if (color == RENDER_FORMAT_NONE && depth == RENDER_FORMAT_NONE) {
                EXPECT_EQ(surface, nullptr);
                continue;
            }
            ASSERT_NE(surface, nullptr) << color << " " << depth;
            EXPECT_EQ(surface->GetTexture() != nullptr, color != RENDER_FORMAT_NONE);
            device->SetTargetSurface(0, surface);
            Clear(1.0f, 0.0f, 0.0f, 1.0f);
            Rectangle(0, 0, 4, 4, Argb(0, 255, 0, 255), 0.5f);
            if (color == RENDER_FORMAT_RGBA) {
                const Image image = Read(8, 8);
                ASSERT_FALSE(image.pixels.empty());
                EXPECT_TRUE(PixelNear(image, 1, 1, 0, 255, 0, 255));
                EXPECT_TRUE(PixelNear(image, 6, 6, 255, 0, 0, 255));
            }
            device->SetTargetSurface(0, nullptr);
            device->DestroySurface(&surface);
        }
    EXPECT_FALSE(log.Contains("complete framebuffer"));
    EXPECT_FALSE(log.Contains("GL error"));
    EXPECT_EQ(device->CreateTextureSurface(8, 8, RENDER_FORMAT_D24, RENDER_FORMAT_NONE), nullptr);
}

std::vector<uint8_t> ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST_F(OpenGLPixelTest, DrawsAndMeasuresGlyphRunsOfATrueTypeFace)
{
    const std::string file = DataKit::SampleGameData::FindFreeFontFile();
    ASSERT_FALSE(file.empty()) << "fonts-liberation is not installed";
    const std::vector<uint8_t> face = ReadFile(file);
    RenderFont* font = device->CreateFont("Arial", face.data(), unsigned(face.size()));
    ASSERT_NE(font, nullptr);

    Clear(0.0f, 0.0f, 0.0f, 1.0f);
    Rect measured;
    const int width = font->DrawText("Hello", -1, measured,
                                     RENDER_TEXT_SINGLE_LINE | RENDER_TEXT_NO_CLIP | RENDER_TEXT_CALC_RECT,
                                     0xFFFFFFFF, 16, RENDER_FONT_NORMAL, false);
    EXPECT_GT(width, 20);
    EXPECT_LT(width, 60);
    EXPECT_EQ(measured.width, float(width));
    EXPECT_GE(measured.height, 16.0f);
    EXPECT_EQ(device->GetNumDrawCalls(), 0); // measuring draws nothing
    Rect bold;
    EXPECT_GT(
        font->DrawText(u"Hello", 5, bold, RENDER_TEXT_CALC_RECT, 0xFFFFFFFF, 16, RENDER_FONT_BOLD, false),
        width);

    font->BeginBatch();
    Rect at(4.0f, 4.0f, 0.0f, 0.0f);
    EXPECT_EQ(font->DrawText("Hello", 5, at, RENDER_TEXT_SINGLE_LINE | RENDER_TEXT_NO_CLIP,
                             Argb(255, 255, 0, 255), 16, RENDER_FONT_NORMAL, false),
              width);
    Rect second(4.0f, 32.0f, 0.0f, 0.0f);
    font->DrawText(u"Hello", 5, second, RENDER_TEXT_SINGLE_LINE | RENDER_TEXT_NO_CLIP, Argb(0, 255, 255, 255),
                   16, RENDER_FONT_NORMAL, false);
    EXPECT_EQ(device->GetNumDrawCalls(), 0); // the batch draws when it ends
    font->EndBatch();
    EXPECT_EQ(device->GetNumDrawCalls(), 1);

    const Image image = Read();
    ASSERT_FALSE(image.pixels.empty());
    // Ink inside each run's box in its colour; nothing outside.
    int ink = 0, stray = 0, cyan = 0;
    for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x) {
            const Pixel& p = image.At(x, y);
            if (p.r < 40 && p.g < 40 && p.b < 40)
                continue;
            const bool first = x >= 4 && x < 4 + width && y >= 4 && y < 4 + 20;
            const bool next = x >= 4 && x < 4 + width && y >= 32 && y < 32 + 20;
            if (first && p.b < 40 && p.r > p.b)
                ++ink;
            else if (next && p.r < 40)
                ++cyan;
            else
                ++stray;
        }
    EXPECT_GT(ink, 40);
    EXPECT_GT(cyan, 40);
    EXPECT_EQ(stray, 0);
    // The "H" stands at the left: its first column is inked over the cap height.
    int stem = 0;
    for (int y = 4; y < 20; ++y)
        for (int x = 4; x < 8; ++x)
            stem += image.At(x, y).r > 128 ? 1 : 0;
    EXPECT_GT(stem, 8);
    // The text left the caller's blend state alone.
    EXPECT_EQ(device->GetSourceBlend(), RENDER_BLEND_ONE);
    device->DestroyFont(&font);
    EXPECT_EQ(font, nullptr);
}

TEST_F(OpenGLPixelTest, FontsByNameGoThroughFontconfigAndBadFaceDataIsRefused)
{
    GAME::Test::LogCapture log;
    // The old format names its face only.
    RenderFont* named = device->CreateFont("Liberation Sans", nullptr, 0);
    ASSERT_NE(named, nullptr);
    const char oldFile[] = {'F', 'N', 'T', 1, 'x'};
    RenderFont* old = device->CreateFont("Liberation Sans", oldFile, sizeof(oldFile));
    ASSERT_NE(old, nullptr);
    Rect rect;
    EXPECT_GT(
        named->DrawText("abc", 3, rect, RENDER_TEXT_CALC_RECT, 0xFFFFFFFF, 12, RENDER_FONT_NORMAL, false), 0);
    const char garbage[] = "not a font at all, just some bytes";
    EXPECT_EQ(device->CreateFont("Broken", garbage, sizeof(garbage)), nullptr);
    EXPECT_TRUE(log.Contains("Broken"));
    device->DestroyFont(&named);
    device->DestroyFont(&old);
}

TEST_F(OpenGLPixelTest, ResetResizesThePrimarySurfaceAndAFailedResetChangesNothing)
{
    device->EndFrame();
    RenderDeviceSettings bigger = settings;
    bigger.width = 32;
    bigger.height = 48;
    ASSERT_TRUE(device->ResetDevice(bigger));
    EXPECT_EQ(device->GetWidth(), 32);
    EXPECT_EQ(device->GetHeight(), 48);
    EXPECT_EQ(primary->GetWidth(), 32);
    EXPECT_EQ(device->GetViewport(), Viewport(0, 0, 32, 48));
    ASSERT_TRUE(device->BeginFrame());
    Clear(0.0f, 1.0f, 0.0f, 1.0f);
    Rectangle(0, 40, 32, 8, Argb(255, 0, 0, 255));
    Image image = Read(32, 48);
    ASSERT_FALSE(image.pixels.empty());
    EXPECT_TRUE(PixelNear(image, 31, 0, 0, 255, 0, 255));
    EXPECT_TRUE(PixelNear(image, 31, 47, 255, 0, 0, 255));
    EXPECT_TRUE(Read().pixels.empty()); // the old size is gone
    device->EndFrame();

    GAME::Test::LogCapture log;
    RenderDeviceSettings impossible = settings;
    impossible.width = 0;
    EXPECT_FALSE(device->ResetDevice(impossible));
    impossible.width = 1 << 20;
    EXPECT_FALSE(device->ResetDevice(impossible));
    EXPECT_TRUE(log.Contains("ResetDevice"));
    EXPECT_EQ(device->GetWidth(), 32);
    ASSERT_TRUE(device->BeginFrame());
    EXPECT_FALSE(Read(32, 48).pixels.empty());
}

TEST_F(OpenGLPixelTest, ALostContextIsReportedAndAResetBuildsANewOne)
{
    Platform::ModuleHandle module = Platform::LoadModule("OpenGL");
    auto lose = reinterpret_cast<GAME::Test::SimulateContextLossFunction>(
        Platform::FindModuleSymbol(module, GAME::Test::simulateContextLossSymbol));
    ASSERT_NE(lose, nullptr);
    RenderTexture* before = MakeCheckerTexture(*device);
    ASSERT_NE(before, nullptr);
    device->EndFrame();

    ASSERT_TRUE(lose(device));
    EXPECT_TRUE(device->DeviceLost());
    EXPECT_FALSE(device->BeginFrame());
    ASSERT_TRUE(device->ResetDevice(settings));
    EXPECT_FALSE(device->DeviceLost());
    ASSERT_TRUE(device->BeginFrame());

    // Objects of the old context are dead: refused, never drawn with, safely destroyed.
    GAME::Test::LogCapture log;
    int pitch = 0;
    EXPECT_EQ(before->Lock(pitch), nullptr);
    Clear(0.0f, 0.0f, 0.0f, 1.0f);
    device->SetTexture(0, before);
    device->DrawTexturedQuad(Rect(0, 0, 8, 8), Rect(0, 0, 1, 1), Argb(0, 0, 255, 255), 0.0f);
    EXPECT_TRUE(log.Contains("before the context was lost"));
    RenderTexture* after = MakeCheckerTexture(*device);
    ASSERT_NE(after, nullptr);
    device->SetTexture(0, after);
    PointSampling(*device, 0);
    device->DrawTexturedQuad(Rect(16, 0, 16, 16), Rect(0, 0, 1, 1), Argb(255, 255, 255, 255), 0.0f);
    const Image image = Read();
    ASSERT_FALSE(image.pixels.empty());
    EXPECT_TRUE(PixelNear(image, 4, 4, 0, 0, 255, 255)); // the colour alone
    EXPECT_TRUE(PixelNear(image, 28, 12, 255, 255, 255, 255));
    device->DestroyTexture(&before);
    device->DestroyTexture(&after);
    Platform::UnloadModule(module);
}

TEST_F(OpenGLPixelTest, RefusedDrawsLogOnceAFrameAndTheDrawCallLimitHolds)
{
    GAME::Test::LogCapture log;
    auto count = [&](const std::string& fragment) {
        size_t n = 0;
        for (const std::string& text : log.Texts())
            n += text.find(fragment) != std::string::npos;
        return n;
    };
    RenderDrawRange range;
    range.numVertices = 3;
    range.primitiveCount = 1;
    for (int i = 0; i < 5; ++i)
        device->DrawIndexedPrimitive(RENDER_PRIMITIVE_TRIANGLE_LIST, range);
    EXPECT_EQ(count("without indices"), 1u);
    Geometry quad = MakeQuad(-1, -1, 1, 1, Argb(255, 255, 255, 255));
    device->SetIndices(quad.indices);
    device->SetVertexDeclaration(nullptr);
    range.numVertices = 4;
    for (int i = 0; i < 5; ++i)
        device->DrawIndexedPrimitive(RENDER_PRIMITIVE_TRIANGLE_LIST, range);
    EXPECT_EQ(count("without a vertex declaration"), 1u);
    // Indices past the index buffer's end are refused.
    device->SetVertexDeclaration(quad.declaration);
    device->SetStreamSource(0, quad.vertices, 0, sizeof(TestVertex));
    range.startIndex = 4;
    device->DrawIndexedPrimitive(RENDER_PRIMITIVE_TRIANGLE_LIST, range);
    EXPECT_EQ(count("outside the bound buffers"), 1u);
    EXPECT_EQ(device->GetNumDrawCalls(), 0);
    device->EndFrame();
    ASSERT_TRUE(device->BeginFrame());
    device->SetVertexDeclaration(nullptr);
    range.startIndex = 0;
    device->DrawIndexedPrimitive(RENDER_PRIMITIVE_TRIANGLE_LIST, range);
    EXPECT_EQ(count("without a vertex declaration"), 2u); // a new frame, a new line

    // Draws past the limit are skipped, yet they are draw calls of the frame: their faces are not.
    Clear(0.0f, 0.0f, 0.0f, 1.0f);
    device->SetDrawCallLimit(2);
    Rectangle(0, 0, 8, 8, Argb(255, 0, 0, 255));
    Rectangle(8, 0, 8, 8, Argb(255, 0, 0, 255));
    Rectangle(16, 0, 8, 8, Argb(255, 0, 0, 255));
    EXPECT_EQ(device->GetNumDrawCalls(), 3);
    EXPECT_EQ(device->GetNumFacesRendered(), 4);
    EXPECT_EQ(device->GetDrawCallLimit(), 2);
    const Image image = Read();
    ASSERT_FALSE(image.pixels.empty());
    EXPECT_TRUE(PixelNear(image, 12, 4, 255, 0, 0, 255));
    EXPECT_TRUE(PixelNear(image, 20, 4, 0, 0, 0, 255));
    device->SetDrawCallLimit(-1);
    // Outside a frame nothing is drawn.
    device->EndFrame();
    Rectangle(16, 0, 8, 8, Argb(255, 0, 0, 255));
    EXPECT_TRUE(log.Contains("outside a frame"));
    ASSERT_TRUE(device->BeginFrame());
    EXPECT_EQ(device->GetNumDrawCalls(), 0);
    Destroy(quad);
}

TEST_F(OpenGLPixelTest, RefusedDrawsAreNoDrawCallsUnderTheLimitNorPastIt)
{
    Geometry quad = MakeQuad(-1, -1, 1, 1, Argb(255, 255, 255, 255));
    device->SetStreamSource(0, quad.vertices, 0, sizeof(TestVertex));
    device->SetIndices(quad.indices);
    RenderDrawRange good;
    good.numVertices = 4;
    good.primitiveCount = 2;
    RenderDrawRange pastTheIndices = good;
    pastTheIndices.startIndex = 4;
    // More corners than the device's screen stream holds at once.
    const std::vector<Vec3> tooManyCorners(4 * 8192, Vec3(0, 0, 0));
    // No limit; a limit of none (past it, outlined); the same with switch 1 on (past it, skipped).
    for (const int limit : {-1, 0})
        for (const bool switch1 : {false, true}) {
            SCOPED_TRACE("limit " + std::to_string(limit) + ", switch 1 " + (switch1 ? "on" : "off"));
            device->SetDrawCallLimit(limit);
            device->SetDebugSwitch1(switch1);
            const int calls = device->GetNumDrawCalls();
            const int faces = device->GetNumFacesRendered();
            device->SetVertexDeclaration(quad.declaration);
            device->DrawIndexedPrimitive(RENDER_PRIMITIVE_TRIANGLE_LIST, pastTheIndices);
            device->DrawIndexedPrimitive(static_cast<RenderPrimitiveType>(9), good);
            device->DrawQuad(tooManyCorners.data(), int(tooManyCorners.size()), Argb(255, 0, 0, 255));
            device->SetVertexDeclaration(nullptr); // refused for the state it would draw with
            device->DrawIndexedPrimitive(RENDER_PRIMITIVE_TRIANGLE_LIST, good);
            EXPECT_EQ(device->GetNumDrawCalls(), calls);
            // Every draw that is not refused is one, with its faces under the limit only.
            device->SetVertexDeclaration(quad.declaration);
            device->DrawIndexedPrimitive(RENDER_PRIMITIVE_TRIANGLE_LIST, good);
            EXPECT_EQ(device->GetNumDrawCalls(), calls + 1);
            EXPECT_EQ(device->GetNumFacesRendered(), faces + (limit < 0 ? 2 : 0));
        }
    device->SetDrawCallLimit(-1);
    device->SetDebugSwitch1(true);
    Destroy(quad);
}

TEST_F(OpenGLPixelTest, DebugSwitchOneOutlinesDrawsPastTheLimitAndSwitchTwoDrawsUntextured)
{
    Clear(0.0f, 0.0f, 0.0f, 1.0f);
    // Switch 1 off: the draw past the limit shows as its wireframe, the one under it whole.
    device->SetDebugSwitch1(false);
    device->SetDrawCallLimit(1);
    Rectangle(0, 0, 16, 16, Argb(255, 0, 0, 255));
    Rectangle(24, 0, 16, 16, Argb(0, 255, 0, 255));
    // Switch 1 on: past the limit nothing is drawn.
    device->SetDebugSwitch1(true);
    Rectangle(48, 0, 16, 16, Argb(0, 0, 255, 255));
    EXPECT_EQ(device->GetNumDrawCalls(), 3);
    EXPECT_EQ(device->GetNumFacesRendered(), 2);
    device->SetDrawCallLimit(-1);

    // Switch 2 on: textures are drawn as plain white, tinted by the vertex colour only.
    const uint8_t red[4 * 4] = {0, 0, 255, 255, 0, 0, 255, 255, 0, 0, 255, 255, 0, 0, 255, 255};
    RenderTexture* texture = device->CreateTextureFromImage(2, 2, red, 1, RENDER_USAGE_STATIC);
    ASSERT_NE(texture, nullptr);
    device->SetDebugSwitch2(true);
    DrawTexture(texture, Rect(0, 32, 16, 16));
    device->SetDebugSwitch2(false);
    DrawTexture(texture, Rect(24, 32, 16, 16));

    const Image image = Read();
    ASSERT_FALSE(image.pixels.empty());
    EXPECT_TRUE(PixelNear(image, 8, 8, 255, 0, 0, 255));
    EXPECT_TRUE(PixelNear(image, 36, 4, 0, 0, 0, 255)); // inside the outline
    int outline = 0, beyond = 0;
    for (int x = 0; x < 16; ++x) {
        outline += image.At(24 + x, 0).g > 128 ? 1 : 0;
        beyond += image.At(48 + x, 0).b > 0 || image.At(48 + x, 8).b > 0 ? 1 : 0;
    }
    EXPECT_GT(outline, 8);
    EXPECT_EQ(beyond, 0);
    EXPECT_TRUE(PixelNear(image, 8, 40, 255, 255, 255, 255));
    EXPECT_TRUE(PixelNear(image, 32, 40, 255, 0, 0, 255));
    device->DestroyTexture(&texture);
}

TEST_F(OpenGLPixelTest, AntiAliasingResolvesPartlyCoveredEdgePixelsForReadBackAndCopies)
{
    // A white triangle whose long edge runs diagonally across the target; the pixels it cuts are
    // partly covered: grey with anti-aliasing, black or white without.
    auto partlyCovered = [&](const Image& image) {
        int grey = 0;
        for (int x = 2; x < kSize - 2; ++x) {
            const int r = image.At(x, kSize - 1 - x).r;
            grey += r > 24 && r < 232 ? 1 : 0;
        }
        return grey;
    };
    auto drawTriangle = [&](uint32_t color = Argb(255, 255, 255, 255)) {
        Clear(0.0f, 0.0f, 0.0f, 1.0f);
        const Vec3 triangle[3] = {Vec3(0, 0, 0), Vec3(float(kSize), 0, 0), Vec3(0, float(kSize), 0)};
        device->DrawFan(triangle, 3, color);
    };
    drawTriangle();
    const Image aliased = Read();
    ASSERT_FALSE(aliased.pixels.empty());
    EXPECT_EQ(partlyCovered(aliased), 0);

    device->EndFrame();
    settings.antiAliasing = 1;
    ASSERT_TRUE(device->ResetDevice(settings));
    ASSERT_TRUE(device->BeginFrame());
    drawTriangle();
    const Image smooth = Read();
    ASSERT_FALSE(smooth.pixels.empty());
    EXPECT_GT(partlyCovered(smooth), kSize / 2);
    EXPECT_TRUE(PixelNear(smooth, 4, 4, 255, 255, 255, 255));
    EXPECT_TRUE(PixelNear(smooth, kSize - 4, kSize - 4, 0, 0, 0, 255));
    // A copy of the surface holds the resolved picture too: the copy resolves what was drawn since
    // the last read-back (a yellow triangle now, the white one before).
    std::vector<uint8_t> black(size_t(kSize) * kSize * 4, 0);
    RenderTexture* copy = device->CreateTextureFromImage(kSize, kSize, black.data(), 1, RENDER_USAGE_STATIC);
    ASSERT_NE(copy, nullptr);
    drawTriangle(Argb(255, 255, 0, 255));
    ASSERT_TRUE(primary->CopyToTexture(copy, Rect(0, 0, float(kSize), float(kSize))));
    Clear(0.0f, 0.0f, 0.0f, 1.0f);
    DrawTexture(copy, Rect(0, 0, float(kSize), float(kSize)));
    const Image copied = Read();
    ASSERT_FALSE(copied.pixels.empty());
    EXPECT_TRUE(PixelNear(copied, 4, 4, 255, 255, 0, 255));
    EXPECT_GT(partlyCovered(copied), kSize / 2);
    device->DestroyTexture(&copy);

    // And off again.
    device->EndFrame();
    settings.antiAliasing = 0;
    ASSERT_TRUE(device->ResetDevice(settings));
    ASSERT_TRUE(device->BeginFrame());
    drawTriangle();
    EXPECT_EQ(partlyCovered(Read()), 0);
}

TEST_F(OpenGLPixelTest, ClearFlag0x20ClearsTheDepthBuffer)
{
    Clear(0.0f, 0.0f, 0.0f, 1.0f);
    device->SetDepthTestFunction(RENDER_TEST_LESS_EQUAL);
    Rectangle(0, 0, 32, 32, Argb(0, 0, 255, 255), 0.25f); // stored depth 0.25
    device->Clear(RENDER_CLEAR_ZBUFFER);                    // back to 1, the colour stays
    Rectangle(0, 0, 16, 32, Argb(0, 255, 0, 255), 0.75f);   // passes only against a cleared depth
    const Image image = Read();
    ASSERT_FALSE(image.pixels.empty());
    EXPECT_TRUE(PixelNear(image, 8, 8, 0, 255, 0, 255));
    EXPECT_TRUE(PixelNear(image, 24, 8, 0, 0, 255, 255));
}

TEST_F(OpenGLPixelTest, ProgramsThatDoNotCompileFailWithTheCompilersLog)
{
    GAME::Test::LogCapture log;
    EXPECT_EQ(VertexProgram("void main() { gl_Position = undefined_thing; }"), nullptr);
    EXPECT_TRUE(log.Contains("CreateVertexShader: the program does not compile"));
    EXPECT_TRUE(log.Contains("undefined_thing"));
    log.Clear();
    EXPECT_EQ(PixelProgram("void main() { o_color = vec3(1.0); }"), nullptr);
    EXPECT_TRUE(log.Contains("CreatePixelShader"));
    EXPECT_EQ(device->CreatePixelShader(nullptr, 0), nullptr);
    // A blob that ends in NULs (as a file's string may) is fine.
    const char withNul[] = "void main() { o_color = vec4(1.0); }\0\0";
    RenderPixelShader* ps = device->CreatePixelShader(withNul, sizeof(withNul));
    EXPECT_NE(ps, nullptr);
    device->DestroyPixelShader(&ps);
}

// The threads of the process other than the caller, with their names and whether the system lets
// them run on more than the first processor (from /proc).
struct ProcessThread
{
    std::string name;
    std::string processors; // "Cpus_allowed_list", e.g. "0-7"
    int nice = 0;           // the 19th field of its "stat"
};

std::vector<ProcessThread> OtherThreads()
{
    std::vector<ProcessThread> threads;
    const std::string self = std::to_string(Platform::CurrentThreadId());
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task", error)) {
        if (entry.path().filename() == self)
            continue;
        ProcessThread thread;
        std::ifstream(entry.path() / "comm") >> thread.name;
        std::ifstream stat(entry.path() / "stat");
        const std::string statText((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        // After the name's closing parenthesis: state, then fields 4 to 19.
        std::istringstream fields(statText.substr(statText.rfind(')') + 1));
        std::string field;
        for (int i = 3; i <= 19 && fields >> field; ++i)
            if (i == 19)
                thread.nice = std::stoi(field);
        std::ifstream status(entry.path() / "status");
        for (std::string line; std::getline(status, line);)
            if (line.rfind("Cpus_allowed_list:", 0) == 0)
                thread.processors = line.substr(line.find_first_not_of(" \t", 18));
        threads.push_back(thread);
    }
    return threads;
}

// The engine pins its main thread to the first processor the process may use before it makes the
// device (processor 1 under taskset -c 1-3); the driver's rasteriser threads must still spread
// over the process's processors (primary context, a worker context made on a pinned thread, and
// the contexts of a rebuilt device alike), and the main thread keeps its pin.
TEST(OpenGLDeviceThreads, RasteriserThreadsAreNotConfinedToTheMainThreadsProcessor)
{
    ASSERT_TRUE(GAME::Test::OpenGLModuleLoads());
    const uint64_t before = Platform::GetCurrentThreadAffinity();
    const uint64_t process = Platform::GetProcessAffinity();
    if ((process & (process - 1)) == 0)
        GTEST_SKIP() << "the process may use one processor only";
    const uint64_t first = process & (~process + 1);
    const std::string firstName = std::to_string(__builtin_ctzll(first));
    ASSERT_TRUE(Platform::SetCurrentThreadAffinity(first));

    RenderDevice* device = RenderDevice::Create("OpenGL");
    ASSERT_NE(device, nullptr);
    ASSERT_TRUE(device->Initialize());
    RenderDeviceSettings settings;
    settings.width = settings.height = kSize;
    RenderSurface* primary = device->CreatePrimarySurface(nullptr, &settings);
    ASSERT_NE(primary, nullptr);
    // A worker context, made by a thread that inherited the pin.
    RenderTexture* texture = nullptr;
    std::thread([&] { texture = MakeCheckerTexture(*device); }).join();
    EXPECT_NE(texture, nullptr);
    device->DestroyTexture(&texture);
    // A lost context is rebuilt with new contexts.
    Platform::ModuleHandle module = Platform::LoadModule("OpenGL");
    auto lose = reinterpret_cast<GAME::Test::SimulateContextLossFunction>(
        Platform::FindModuleSymbol(module, GAME::Test::simulateContextLossSymbol));
    ASSERT_NE(lose, nullptr);
    ASSERT_TRUE(lose(device));
    ASSERT_TRUE(device->ResetDevice(settings));

    int rasterisers = 0;
    for (const ProcessThread& thread : OtherThreads()) {
        rasterisers += thread.name.rfind("llvmpipe", 0) == 0;
        EXPECT_NE(thread.processors, firstName)
            << "thread " << thread.name << " runs on the main thread's processor only";
    }
    if (std::string(device->GetStatusText()).find("llvmpipe") != std::string::npos) {
        EXPECT_GT(rasterisers, 0) << "the driver started no rasteriser threads";
    }
    EXPECT_EQ(Platform::GetCurrentThreadAffinity(), first);

    device->DestroySurface(&primary);
    RenderDevice::Destroy(device);
    Platform::UnloadModule(module);
    Platform::SetCurrentThreadAffinity(before);
}

// The engine raises its main thread's priority before it makes the device; the driver's rasteriser
// threads must start at normal priority all the same (at the main thread's, the one that shares
// its processor takes turns with it mid-frame), and the caller keeps its priority.
TEST(OpenGLDeviceThreads, RasteriserThreadsStartAtNormalPriority)
{
    ASSERT_TRUE(GAME::Test::OpenGLModuleLoads());
    const Platform::ThreadPriority before = Platform::GetThreadPriority(Platform::CurrentThreadId());
    if (!Platform::SetCurrentThreadPriority(Platform::ThreadPriority::Highest))
        GTEST_SKIP() << "the system refuses a raised priority here";

    RenderDevice* device = RenderDevice::Create("OpenGL");
    ASSERT_NE(device, nullptr);
    ASSERT_TRUE(device->Initialize());
    RenderDeviceSettings settings;
    settings.width = settings.height = kSize;
    RenderSurface* primary = device->CreatePrimarySurface(nullptr, &settings);
    ASSERT_NE(primary, nullptr);

    int rasterisers = 0;
    for (const ProcessThread& thread : OtherThreads())
        if (thread.name.rfind("llvmpipe", 0) == 0) {
            ++rasterisers;
            EXPECT_GE(thread.nice, 0) << "rasteriser thread " << thread.name << " runs at nice " << thread.nice;
        }
    if (std::string(device->GetStatusText()).find("llvmpipe") != std::string::npos) {
        EXPECT_GT(rasterisers, 0) << "the driver started no rasteriser threads";
    }
    EXPECT_EQ(Platform::GetThreadPriority(Platform::CurrentThreadId()), Platform::ThreadPriority::Highest);

    device->DestroySurface(&primary);
    RenderDevice::Destroy(device);
    Platform::SetCurrentThreadPriority(before);
}

} // namespace
} // namespace GAME
