#include "SoftwareDeviceAccess.h"

#include "graphics/RenderDevice.h"
#include "graphics/RenderDynamicIndexBuffer.h"
#include "graphics/RenderDynamicVertexBuffer.h"
#include "graphics/RenderFont.h"
#include "graphics/RenderIndexBuffer.h"
#include "graphics/RenderPixelShader.h"
#include "graphics/RenderSurface.h"
#include "graphics/RenderTexture.h"
#include "graphics/RenderVertexBuffer.h"
#include "graphics/RenderVertexDeclaration.h"
#include "graphics/RenderVertexShader.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace GAME {
namespace {

using Software::Failure;
using Software::ResourceKind;

struct PixelLayout
{
    uint32_t flags; // RGB 0x40, alpha pixels 0x1, luminance 0x20000
    uint32_t bits;
    uint32_t masks[4]; // red, green, blue, alpha
};
constexpr PixelLayout argb8888 = {0x41, 32, {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000}};

// A DDS file in memory: uncompressed texels of the layout, or DXT blocks when fourCC is given.
std::vector<uint8_t> MakeDds(uint32_t width, uint32_t height, uint32_t levels, const char* fourCC,
                             const std::vector<uint8_t>& payload, const PixelLayout& layout = argb8888)
{
    std::vector<uint8_t> bytes(128 + payload.size(), 0);
    auto put = [&bytes](size_t offset, uint32_t value) {
        for (int i = 0; i < 4; ++i)
            bytes[offset + i] = uint8_t(value >> (8 * i));
    };
    std::memcpy(bytes.data(), "DDS ", 4);
    put(4, 124);
    put(8, 0x1007 | (levels > 1 ? 0x20000 : 0));
    put(12, height);
    put(16, width);
    put(28, levels);
    put(76, 32);
    if (fourCC) {
        put(80, 0x4);
        std::memcpy(bytes.data() + 84, fourCC, 4);
    } else {
        put(80, layout.flags);
        put(88, layout.bits);
        for (int i = 0; i < 4; ++i)
            put(92 + 4 * i, layout.masks[i]);
    }
    put(108, 0x1000);
    std::copy(payload.begin(), payload.end(), bytes.begin() + 128);
    return bytes;
}

// Texels 0xAARRGGBB of a chain whose levels are each filled with one value.
std::vector<uint8_t> ChainTexels(uint32_t width, uint32_t height, const std::vector<uint32_t>& levelValues)
{
    std::vector<uint8_t> payload;
    for (size_t level = 0; level < levelValues.size(); ++level) {
        const uint32_t w = std::max(1u, width >> level), h = std::max(1u, height >> level);
        for (uint32_t i = 0; i < w * h; ++i)
            for (int b = 0; b < 4; ++b)
                payload.push_back(uint8_t(levelValues[level] >> (8 * b)));
    }
    return payload;
}

class SoftwareRenderDevice : public ::testing::Test
{
protected:
    void SetUp() override
    {
        device = RenderDevice::Create("Software");
        ASSERT_NE(device, nullptr);
        control = software.Device(device);
        ASSERT_NE(control, nullptr);
    }

    void TearDown() override
    {
        RenderDevice::Destroy(device);
        RenderDevice::UnloadLibraries();
    }

    RenderSurface* MakePrimary(int width = 64, int height = 32)
    {
        RenderDeviceSettings settings;
        settings.width = width;
        settings.height = height;
        if (!device->Initialize())
            return nullptr;
        return device->CreatePrimarySurface(nullptr, &settings);
    }

    GAME::Test::SoftwareModuleAccess software;
    RenderDevice* device = nullptr;
    Software::DeviceControl* control = nullptr;
};

bool Near(const Pixel& p, int r, int g, int b, int a)
{
    return std::abs(p.r - r) <= 1 && std::abs(p.g - g) <= 1 && std::abs(p.b - b) <= 1 &&
           std::abs(p.a - a) <= 1;
}

TEST_F(SoftwareRenderDevice, PrimarySurfaceClearsWithinTheViewportAndReadsBack)
{
    RenderDeviceSettings settings;
    settings.width = 64;
    settings.height = 32;
    EXPECT_EQ(device->CreatePrimarySurface(nullptr, &settings), nullptr); // not initialised
    RenderSurface* primary = MakePrimary();
    ASSERT_NE(primary, nullptr);
    EXPECT_EQ(device->GetPrimarySurface(), primary);
    EXPECT_EQ(primary->GetTexture(), nullptr); // the back buffer is no texture
    EXPECT_EQ(device->GetWidth(), 64);
    EXPECT_EQ(device->GetHeight(), 32);
    EXPECT_EQ(device->GetViewport(), Viewport(0, 0, 64, 32));

    device->SetClearColor(Color(1.0f, 0.5f, 0.0f, 1.0f));
    device->Clear(RENDER_CLEAR_COLOR | RENDER_CLEAR_DEPTH);
    device->SetViewport(Viewport(32, 0, 100, 16)); // reaches past the surface
    device->SetClearColor(Color(0.0f, 0.0f, 1.0f, 0.0f));
    device->Clear(RENDER_CLEAR_COLOR);

    std::vector<Pixel> pixels(64 * 32);
    ASSERT_TRUE(device->ReadFrameBuffer(pixels.data(), 64, 32));
    EXPECT_TRUE(Near(pixels[0], 255, 128, 0, 255));
    EXPECT_TRUE(Near(pixels[31 * 64 + 63], 255, 128, 0, 255));
    EXPECT_TRUE(Near(pixels[15 * 64 + 32], 0, 0, 255, 0));
    EXPECT_TRUE(Near(pixels[15 * 64 + 63], 0, 0, 255, 0));
    EXPECT_TRUE(Near(pixels[16 * 64 + 40], 255, 128, 0, 255));
    EXPECT_FALSE(device->ReadFrameBuffer(pixels.data(), 32, 32)); // size of another surface

    // A deferred read holds the pixels as they were when it was asked for.
    ASSERT_TRUE(device->RequestFrameRead(64, 32));
    EXPECT_FALSE(device->RequestFrameRead(64, 32)); // one at a time
    device->SetViewport(Viewport(0, 0, 64, 32));
    device->SetClearColor(Color(0.0f, 1.0f, 0.0f, 1.0f));
    device->Clear(RENDER_CLEAR_COLOR);
    std::vector<Pixel> deferred(64 * 32);
    EXPECT_EQ(device->CollectFrameRead(deferred.data(), 32, 32, false), RENDER_READ_FAILED);
    ASSERT_EQ(device->CollectFrameRead(deferred.data(), 64, 32, false), RENDER_READ_DONE);
    EXPECT_TRUE(Near(deferred[0], 255, 128, 0, 255));
    EXPECT_TRUE(Near(deferred[15 * 64 + 32], 0, 0, 255, 0));
    EXPECT_EQ(device->CollectFrameRead(deferred.data(), 64, 32, false), RENDER_READ_FAILED); // over
}

TEST_F(SoftwareRenderDevice, ClearFlag0x20ClearsTheDepthBufferWithinTheViewportAndLeavesTheColour)
{
    RenderSurface* primary = MakePrimary(); // 64 x 32, 24-bit depth
    ASSERT_NE(primary, nullptr);
    std::vector<float> depth;
    ASSERT_TRUE(control->ReadDepthBuffer(primary, depth));
    ASSERT_EQ(depth.size(), 64u * 32u);
    auto depthAt = [&](int x, int y) { return depth[size_t(y) * 64 + size_t(x)]; };
    EXPECT_EQ(depthAt(0, 0), 0.0f); // nothing cleared it yet

    device->SetClearColor(Color(1.0f, 0.0f, 0.0f, 1.0f));
    device->Clear(RENDER_CLEAR_COLOR); // colour alone: the depth stays
    ASSERT_TRUE(control->ReadDepthBuffer(primary, depth));
    EXPECT_EQ(depthAt(32, 16), 0.0f);

    // The game's own depth flag, alone, within the viewport: depth to 1, the colour untouched.
    device->SetViewport(Viewport(16, 8, 32, 16));
    device->SetClearColor(Color(0.0f, 0.0f, 1.0f, 1.0f));
    device->Clear(RENDER_CLEAR_ZBUFFER);
    ASSERT_TRUE(control->ReadDepthBuffer(primary, depth));
    EXPECT_EQ(depthAt(16, 8), 1.0f);
    EXPECT_EQ(depthAt(47, 23), 1.0f);
    EXPECT_EQ(depthAt(15, 8), 0.0f);
    EXPECT_EQ(depthAt(48, 23), 0.0f);
    EXPECT_EQ(depthAt(16, 24), 0.0f);
    std::vector<Pixel> pixels(64 * 32);
    ASSERT_TRUE(device->ReadFrameBuffer(pixels.data(), 64, 32));
    EXPECT_TRUE(Near(pixels[16 * 64 + 32], 255, 0, 0, 255));

    // A surface without depth has none to read, nor has a pointer of no surface of the device.
    RenderSurface* colorOnly = device->CreateTextureSurface(8, 8, RENDER_FORMAT_RGBA, RENDER_FORMAT_NONE);
    ASSERT_NE(colorOnly, nullptr);
    EXPECT_FALSE(control->ReadDepthBuffer(colorOnly, depth));
    EXPECT_TRUE(depth.empty());
    int foreign = 0;
    EXPECT_FALSE(control->ReadDepthBuffer(reinterpret_cast<const RenderSurface*>(&foreign), depth));
    device->DestroySurface(&colorOnly);
}

TEST_F(SoftwareRenderDevice, KeepsBooksOfEveryResourceAndReleasesThemAll)
{
    ASSERT_NE(MakePrimary(), nullptr);
    const uint64_t primaryBytes = control->GetResourceBytes();

    const VertexElement basic[] = {{0, VERTEX_USAGE_POSITION, VERTEX_TYPE_FLOAT3},
                                   {0, VERTEX_USAGE_NORMAL, VERTEX_TYPE_FLOAT3},
                                   {0, VERTEX_USAGE_TEXCOORD0, VERTEX_TYPE_FLOAT2},
                                   {0, VERTEX_USAGE_COLOR, VERTEX_TYPE_COLOR}};
    const uint8_t code[16] = {1, 2, 3};
    const uint8_t intensities[4 * 4] = {};
    RenderVertexBuffer* vertices = device->CreateVertexBuffer(0, 3200);
    RenderIndexBuffer* indices = device->CreateIndexBuffer(600, 2);
    RenderDynamicVertexBuffer* dynamicVertices = device->CreateDynamicVertexBuffer(4096);
    RenderDynamicIndexBuffer* dynamicIndices = device->CreateDynamicIndexBuffer(4096);
    RenderVertexDeclaration* declaration = device->CreateVertexDeclaration(basic, 4);
    RenderVertexShader* vertexShader = device->CreateVertexShader(code, sizeof(code));
    RenderPixelShader* pixelShader = device->CreatePixelShader(code, sizeof(code));
    RenderTexture* texture = device->CreateTexture(4, 4, intensities, 1, RENDER_USAGE_STATIC);
    RenderFont* font = device->CreateFont("Arial", code, sizeof(code));
    RenderSurface* target = device->CreateTextureSurface(16, 16, RENDER_FORMAT_RGBA, RENDER_FORMAT_D24);
    for (const void* made :
         {(const void*)vertices, (const void*)indices, (const void*)dynamicVertices,
          (const void*)dynamicIndices, (const void*)declaration, (const void*)vertexShader,
          (const void*)pixelShader, (const void*)texture, (const void*)font, (const void*)target})
        ASSERT_NE(made, nullptr);

    EXPECT_EQ(declaration->GetStride(), 36u);
    EXPECT_EQ(device->GetNumVertexDeclarations(), 1);
    EXPECT_EQ(control->GetResourceCount(ResourceKind::Surface), 2u);
    EXPECT_EQ(control->GetResourceCount(ResourceKind::Texture), 2u); // the target's own texture too
    EXPECT_EQ(control->GetTotalResourceCount(), 12u);                // with the primary surface
    EXPECT_EQ(control->GetResourceBytes() - primaryBytes, 3200u + 1200u + 4096u + 4096u +
                                                              4 * sizeof(VertexElement) + 16 + 16 + 64 + 16 +
                                                              16 * 16 * 4 + 16 * 16 * 4);
    EXPECT_EQ(device->GetFreeVideoMemory(), device->GetTotalVideoMemory() - control->GetResourceBytes());

    // A texture that a surface owns goes with the surface, not on its own.
    RenderTexture* owned = target->GetTexture();
    ASSERT_NE(owned, nullptr);
    const uint32_t rejected = control->GetRejectedCallCount();
    device->DestroyTexture(&owned);
    EXPECT_EQ(owned, nullptr);
    EXPECT_EQ(control->GetRejectedCallCount(), rejected + 1);
    EXPECT_EQ(control->GetResourceCount(ResourceKind::Texture), 2u);

    device->DestroyVertexBuffer(&vertices);
    device->DestroyIndexBuffer(&indices);
    device->DestroyDynamicVertexBuffer(&dynamicVertices);
    device->DestroyDynamicIndexBuffer(&dynamicIndices);
    device->DestroyVertexDeclaration(&declaration);
    device->DestroyVertexShader(&vertexShader);
    device->DestroyPixelShader(&pixelShader);
    device->DestroyTexture(&texture);
    device->DestroyFont(&font);
    device->DestroySurface(&target);
    EXPECT_EQ(vertices, nullptr);
    EXPECT_EQ(target, nullptr);
    EXPECT_EQ(font, nullptr);
    EXPECT_EQ(control->GetTotalResourceCount(), 1u);
    EXPECT_EQ(control->GetResourceBytes(), primaryBytes);
    EXPECT_EQ(control->GetRejectedCallCount(), rejected + 1);

    // Destroying a pointer again, or one of another kind, is turned down and frees nothing.
    RenderTexture* stale = device->CreateTexture(2, 2, nullptr, 1, 0);
    RenderTexture* copy = stale;
    device->DestroyTexture(&stale);
    device->DestroyTexture(&copy);
    EXPECT_EQ(copy, nullptr);
    RenderVertexBuffer* wrongKind = device->CreateVertexBuffer(0, 16);
    auto* asTexture = reinterpret_cast<RenderTexture*>(wrongKind);
    device->DestroyTexture(&asTexture);
    EXPECT_EQ(control->GetResourceCount(ResourceKind::VertexBuffer), 1u);
    EXPECT_EQ(control->GetRejectedCallCount(), rejected + 3);
    device->DestroyVertexBuffer(&wrongKind);
}

TEST_F(SoftwareRenderDevice, DestroyedResourcesDoNotStayBound)
{
    ASSERT_NE(MakePrimary(), nullptr);
    RenderTexture* texture = device->CreateTexture(8, 8, nullptr, 1, 0);
    RenderVertexBuffer* vertices = device->CreateVertexBuffer(0, 360);
    RenderSurface* target = device->CreateTextureSurface(8, 8, texture, RENDER_FORMAT_D16);
    ASSERT_NE(target, nullptr);
    EXPECT_EQ(target->GetTexture(), texture);
    device->SetTexture(3, texture);
    device->SetStreamSource(0, vertices, 0, 36);
    device->SetTargetSurface(0, target);
    EXPECT_EQ(device->GetTexture(3), texture);

    device->DestroyTexture(&texture);
    device->DestroyVertexBuffer(&vertices);
    const Software::RenderState state = control->GetRenderState();
    EXPECT_EQ(state.textures[3], nullptr);
    EXPECT_EQ(state.streamSource, nullptr);
    // The surface drew into the texture; it keeps its depth and clears without touching freed memory.
    EXPECT_EQ(target->GetTexture(), nullptr);
    EXPECT_EQ(state.renderTargets[0], target);
    device->Clear(RENDER_CLEAR_COLOR | RENDER_CLEAR_DEPTH);
    device->SetTargetSurface(1, target);
    device->SetTargetSurface(1, nullptr); // unbinds target 1
    device->SetTargetSurface(0, nullptr); // target 0 falls back to the primary surface
    EXPECT_EQ(control->GetRenderState().renderTargets[0], device->GetPrimarySurface());
    EXPECT_EQ(control->GetRenderState().renderTargets[1], nullptr);
    device->DestroySurface(&target);
}

TEST_F(SoftwareRenderDevice, BuffersLockOnceAndStreamingBuffersWrapAround)
{
    RenderVertexBuffer* vertices = device->CreateVertexBuffer(0, 64);
    ASSERT_NE(vertices, nullptr);
    void* first = vertices->Lock();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(vertices->Lock(), nullptr);
    EXPECT_EQ(control->GetLockedResourceCount(), 1u);
    vertices->Unlock();
    EXPECT_EQ(vertices->Lock(), first);
    vertices->Unlock();
    EXPECT_EQ(control->GetLockedResourceCount(), 0u);

    RenderDynamicVertexBuffer* stream = device->CreateDynamicVertexBuffer(100);
    ASSERT_NE(stream, nullptr);
    auto* a = static_cast<uint8_t*>(stream->Lock(60));
    stream->Unlock();
    auto* b = static_cast<uint8_t*>(stream->Lock(30));
    stream->Unlock();
    EXPECT_EQ(b, a + 60);
    EXPECT_EQ(stream->GetLockedOffset(), 60u);
    EXPECT_EQ(stream->Lock(20), a); // no room behind the last lock: back to the front
    stream->Unlock();
    EXPECT_EQ(stream->Lock(101), nullptr);
    stream->SetAsStream(4, 20);
    Software::RenderState state = control->GetRenderState();
    EXPECT_EQ(state.streamSource, stream);
    EXPECT_EQ(state.streamOffset, 4u);
    EXPECT_EQ(state.streamStride, 20u);

    RenderDynamicIndexBuffer* indices = device->CreateDynamicIndexBuffer(40); // ten indices
    ASSERT_NE(indices, nullptr);
    EXPECT_EQ(indices->GetSize(), 10u);
    indices->Lock(6);
    indices->Unlock();
    indices->Lock(3);
    indices->Unlock();
    const RenderDrawRange range = indices->GetDrawRange(3, 1, 0, 0);
    EXPECT_EQ(range.startIndex, 6u);
    EXPECT_EQ(range.primitiveCount, 1u);
    indices->Discard();
    indices->Lock(2);
    EXPECT_EQ(indices->GetLockedOffset(), 0u);
    indices->Unlock();

    device->DestroyVertexBuffer(&vertices);
    device->DestroyDynamicVertexBuffer(&stream);
    device->DestroyDynamicIndexBuffer(&indices);
}

TEST_F(SoftwareRenderDevice, DrawsAreCheckedAgainstTheBoundBuffersAndCounted)
{
    const VertexElement layout[] = {{0, VERTEX_USAGE_POSITION, VERTEX_TYPE_FLOAT3}};
    RenderVertexDeclaration* declaration = device->CreateVertexDeclaration(layout, 1);
    RenderVertexBuffer* vertices = device->CreateVertexBuffer(0, 4 * 12);
    RenderIndexBuffer* indices = device->CreateIndexBuffer(6, 2);
    RenderDrawRange quad;
    quad.numVertices = 4;
    quad.primitiveCount = 2;

    // Nothing bound, then outside a frame.
    ASSERT_TRUE(device->BeginFrame());
    device->DrawIndexedPrimitive(RENDER_PRIMITIVE_TRIANGLE_LIST, quad);
    EXPECT_EQ(device->GetNumDrawCalls(), 0);
    device->SetVertexDeclaration(declaration);
    device->SetStreamSource(0, vertices, 0, 12);
    device->SetIndices(indices);
    device->EndFrame();
    const uint32_t rejected = control->GetRejectedCallCount();
    device->DrawIndexedPrimitive(RENDER_PRIMITIVE_TRIANGLE_LIST, quad);
    EXPECT_EQ(control->GetRejectedCallCount(), rejected + 1);

    ASSERT_TRUE(device->BeginFrame());
    EXPECT_FALSE(device->BeginFrame()); // frames do not nest
    device->DrawIndexedPrimitive(RENDER_PRIMITIVE_TRIANGLE_LIST, quad);
    device->DrawIndexedPrimitive(RENDER_PRIMITIVE_TRIANGLE_STRIP, quad); // four indices
    RenderDrawRange tooMany = quad;
    tooMany.primitiveCount = 3; // nine indices of six
    device->DrawIndexedPrimitive(RENDER_PRIMITIVE_TRIANGLE_LIST, tooMany);
    RenderDrawRange pastVertices = quad;
    pastVertices.baseVertex = 1; // vertices 1 to 4 of four
    device->DrawIndexedPrimitive(RENDER_PRIMITIVE_TRIANGLE_LIST, pastVertices);
    device->DrawIndexedPrimitive(static_cast<RenderPrimitiveType>(9), quad);
    const Vec3 corners[4] = {};
    device->DrawQuad(corners, 4, 0xFFFFFFFF);
    device->DrawFan(corners, 4, 0xFFFFFFFF);
    device->DrawTexturedQuad(Rect(0, 0, 8, 8), Rect(0, 0, 1, 1), 0xFFFFFFFF, 0.0f);
    EXPECT_EQ(device->GetNumDrawCalls(), 5);
    EXPECT_EQ(device->GetNumFacesRendered(), 2 + 2 + 2 + 2 + 2);
    EXPECT_EQ(control->GetRejectedCallCount(), rejected + 5);
    device->EndFrame();

    // A new frame starts its counts over; the limit skips draws beyond it, which are draw calls of
    // the frame all the same (their faces are not).
    device->SetDrawCallLimit(1);
    ASSERT_TRUE(device->BeginFrame());
    EXPECT_EQ(device->GetNumDrawCalls(), 0);
    device->DrawQuad(corners, 4, 0);
    device->DrawQuad(corners, 4, 0);
    EXPECT_EQ(device->GetNumDrawCalls(), 2);
    EXPECT_EQ(device->GetNumFacesRendered(), 2);
    device->EndFrame();
    EXPECT_EQ(control->GetFrameCount(), 3u);
    EXPECT_EQ(control->GetTotalDrawCalls(), 7u);
    EXPECT_EQ(control->GetTotalFaces(), 12u);

    device->DestroyVertexDeclaration(&declaration);
    device->DestroyVertexBuffer(&vertices);
    device->DestroyIndexBuffer(&indices);
}

TEST_F(SoftwareRenderDevice, RefusedDrawsAreNoDrawCallsUnderTheLimitNorPastIt)
{
    const VertexElement layout[] = {{0, VERTEX_USAGE_POSITION, VERTEX_TYPE_FLOAT3}};
    RenderVertexDeclaration* declaration = device->CreateVertexDeclaration(layout, 1);
    RenderVertexBuffer* vertices = device->CreateVertexBuffer(0, 4 * 12);
    RenderIndexBuffer* indices = device->CreateIndexBuffer(6, 2);
    device->SetStreamSource(0, vertices, 0, 12);
    device->SetIndices(indices);
    RenderDrawRange good;
    good.numVertices = 4;
    good.primitiveCount = 2;
    RenderDrawRange pastTheIndices = good;
    pastTheIndices.startIndex = 4;
    ASSERT_TRUE(device->BeginFrame());
    for (const int limit : {-1, 0}) {
        SCOPED_TRACE("limit " + std::to_string(limit));
        device->SetDrawCallLimit(limit);
        const int calls = device->GetNumDrawCalls();
        const int faces = device->GetNumFacesRendered();
        device->SetVertexDeclaration(declaration);
        device->DrawIndexedPrimitive(RENDER_PRIMITIVE_TRIANGLE_LIST, pastTheIndices);
        device->DrawIndexedPrimitive(static_cast<RenderPrimitiveType>(9), good);
        device->DrawQuad(nullptr, 4, 0);
        device->DrawFan(nullptr, 3, 0);
        device->SetVertexDeclaration(nullptr); // refused for the state it would draw with
        device->DrawIndexedPrimitive(RENDER_PRIMITIVE_TRIANGLE_LIST, good);
        EXPECT_EQ(device->GetNumDrawCalls(), calls);
        // Every draw that is not refused is one, with its faces under the limit only.
        device->SetVertexDeclaration(declaration);
        device->DrawIndexedPrimitive(RENDER_PRIMITIVE_TRIANGLE_LIST, good);
        EXPECT_EQ(device->GetNumDrawCalls(), calls + 1);
        EXPECT_EQ(device->GetNumFacesRendered(), faces + (limit < 0 ? 2 : 0));
    }
    device->EndFrame();
    device->DestroyVertexDeclaration(&declaration);
    device->DestroyVertexBuffer(&vertices);
    device->DestroyIndexBuffer(&indices);
}

TEST_F(SoftwareRenderDevice, ASecondStreamIsRecordedAndDrawsThatReadItAreCheckedAgainstIt)
{
    // Positions in stream 0, a per-vertex offset in stream 1 (as grass keeps its wind).
    const VertexElement layout[] = {{0, VERTEX_USAGE_POSITION, VERTEX_TYPE_FLOAT3},
                                    {1, VERTEX_USAGE_TEXCOORD1, VERTEX_TYPE_FLOAT2}};
    RenderVertexDeclaration* declaration = device->CreateVertexDeclaration(layout, 2);
    RenderVertexBuffer* positions = device->CreateVertexBuffer(0, 4 * 12);
    RenderVertexBuffer* offsets = device->CreateVertexBuffer(0, 4 * 8);
    RenderVertexBuffer* shortOffsets = device->CreateVertexBuffer(0, 3 * 8);
    RenderIndexBuffer* indices = device->CreateIndexBuffer(6, 2);
    ASSERT_TRUE(declaration && positions && offsets && shortOffsets && indices);
    RenderDrawRange quad;
    quad.numVertices = 4;
    quad.primitiveCount = 2;

    ASSERT_TRUE(device->BeginFrame());
    device->SetVertexDeclaration(declaration);
    device->SetStreamSource(0, positions, 0, 12);
    device->SetIndices(indices);
    const uint32_t rejected = control->GetRejectedCallCount();
    device->DrawIndexedPrimitive(RENDER_PRIMITIVE_TRIANGLE_LIST, quad); // stream 1 missing
    device->SetStreamSource(1, shortOffsets, 0, 8);
    device->DrawIndexedPrimitive(RENDER_PRIMITIVE_TRIANGLE_LIST, quad); // three offsets of four
    EXPECT_EQ(device->GetNumDrawCalls(), 0);
    EXPECT_EQ(control->GetRejectedCallCount(), rejected + 2);
    device->SetStreamSource(1, offsets, 0, 8);
    Software::RenderState state = control->GetRenderState();
    EXPECT_EQ(state.secondStreamSource, offsets);
    EXPECT_EQ(state.secondStreamStride, 8u);
    EXPECT_EQ(state.streamSource, positions); // stream 0 as it was
    device->DrawIndexedPrimitive(RENDER_PRIMITIVE_TRIANGLE_LIST, quad);
    EXPECT_EQ(device->GetNumDrawCalls(), 1);
    // Stream 2 is not a stream of this device; a declaration that reads it cannot draw.
    device->SetStreamSource(2, offsets, 0, 8);
    EXPECT_EQ(control->GetRejectedCallCount(), rejected + 3);
    const VertexElement third[] = {{0, VERTEX_USAGE_POSITION, VERTEX_TYPE_FLOAT3},
                                   {2, VERTEX_USAGE_TEXCOORD1, VERTEX_TYPE_FLOAT2}};
    RenderVertexDeclaration* unfed = device->CreateVertexDeclaration(third, 2);
    device->SetVertexDeclaration(unfed);
    device->DrawIndexedPrimitive(RENDER_PRIMITIVE_TRIANGLE_LIST, quad);
    EXPECT_EQ(device->GetNumDrawCalls(), 1);
    device->EndFrame();

    // A destroyed second stream does not stay bound.
    device->DestroyVertexBuffer(&offsets);
    EXPECT_EQ(control->GetRenderState().secondStreamSource, nullptr);
    device->DestroyVertexDeclaration(&unfed);
    device->DestroyVertexDeclaration(&declaration);
    device->DestroyVertexBuffer(&positions);
    device->DestroyVertexBuffer(&shortOffsets);
    device->DestroyIndexBuffer(&indices);
}

TEST_F(SoftwareRenderDevice, InjectedFailuresAndALostDevice)
{
    control->InjectFailure(Failure::Initialize, 1);
    EXPECT_FALSE(device->Initialize());
    control->InjectFailure(Failure::PrimarySurface, 1);
    RenderDeviceSettings settings;
    settings.width = 32;
    settings.height = 32;
    ASSERT_TRUE(device->Initialize());
    EXPECT_EQ(device->CreatePrimarySurface(nullptr, &settings), nullptr);
    ASSERT_NE(device->CreatePrimarySurface(nullptr, &settings), nullptr);

    control->InjectFailure(Failure::Texture, 2);
    EXPECT_EQ(device->CreateTexture(4, 4, nullptr, 1, 0), nullptr);
    EXPECT_EQ(device->CreateDynamicTexture(4, 4, 1, 1), nullptr);
    RenderTexture* texture = device->CreateTexture(4, 4, nullptr, 1, 0);
    EXPECT_NE(texture, nullptr);

    control->InjectFailure(Failure::VertexBuffer, -1); // until cleared
    EXPECT_EQ(device->CreateVertexBuffer(0, 16), nullptr);
    EXPECT_EQ(device->CreateVertexBuffer(0, 16), nullptr);
    control->InjectFailure(Failure::VertexBuffer, 0);
    RenderVertexBuffer* vertices = device->CreateVertexBuffer(0, 16);
    ASSERT_NE(vertices, nullptr);
    control->InjectFailure(Failure::Lock, 1);
    EXPECT_EQ(vertices->Lock(), nullptr);
    EXPECT_NE(vertices->Lock(), nullptr);
    vertices->Unlock();

    // Lost: no frames, no surfaces or dynamic buffers, until a reset brings the device back.
    control->SetDeviceLost(true);
    EXPECT_TRUE(device->DeviceLost());
    EXPECT_FALSE(device->BeginFrame());
    EXPECT_EQ(device->CreateDynamicVertexBuffer(1024), nullptr);
    EXPECT_EQ(device->CreateTextureSurface(8, 8, RENDER_FORMAT_RGBA, RENDER_FORMAT_NONE), nullptr);
    control->InjectFailure(Failure::ResetDevice, 1);
    EXPECT_FALSE(device->ResetDevice(settings));
    EXPECT_TRUE(device->DeviceLost());
    settings.width = 48;
    EXPECT_TRUE(device->ResetDevice(settings));
    EXPECT_FALSE(device->DeviceLost());
    EXPECT_EQ(device->GetWidth(), 48);
    EXPECT_EQ(device->GetPrimarySurface()->GetWidth(), 48);
    EXPECT_EQ(control->GetResetCount(), 1u);
    EXPECT_TRUE(device->BeginFrame());
    device->EndFrame();

    device->DestroyTexture(&texture);
    device->DestroyVertexBuffer(&vertices);
}

TEST_F(SoftwareRenderDevice, TextureFilesDecodeWithReductionAndFailCleanly)
{
    // 4 x 4, three levels, each level one colour.
    const std::vector<uint8_t> file =
        MakeDds(4, 4, 3, nullptr, ChainTexels(4, 4, {0xFF102030, 0x80405060, 0x40708090}));
    EXPECT_EQ(device->GetTextureFileInfo(file.data(), 244, 1), file.size());
    EXPECT_EQ(device->GetTextureFileInfo("garbage", 7, 0), 0u);

    RenderTexture* full = device->CreateTextureFromFile(file.data(), unsigned(file.size()), 0);
    RenderTexture* reduced = device->CreateTextureFromFile(file.data(), unsigned(file.size()), 1);
    RenderTexture* smallest = device->CreateTextureFromFile(file.data(), unsigned(file.size()), 9);
    ASSERT_NE(full, nullptr);
    ASSERT_NE(reduced, nullptr);
    ASSERT_NE(smallest, nullptr);
    EXPECT_EQ(full->GetWidth(), 4);
    EXPECT_EQ(full->GetLevelCount(), 3);
    EXPECT_EQ(full->GetFormat(), RENDER_FORMAT_RGBA);
    EXPECT_EQ(reduced->GetWidth(), 2);
    EXPECT_EQ(reduced->GetLevelCount(), 2);
    EXPECT_EQ(smallest->GetWidth(), 1);
    EXPECT_EQ(full->GetMemoryUsage(), (16u + 4u + 1u) * 4u);
    int pitch = 0;
    auto* texels = static_cast<uint32_t*>(reduced->Lock(pitch));
    ASSERT_NE(texels, nullptr);
    EXPECT_EQ(pitch, 8);
    EXPECT_EQ(texels[3], 0x80405060u);
    reduced->Unlock();

    // Truncated or corrupted files fail for good; too little video memory may be retried.
    for (size_t cut : {size_t(0), size_t(3), size_t(127), file.size() - 1}) {
        EXPECT_EQ(device->CreateTextureFromFile(file.data(), unsigned(cut), 0), nullptr) << cut;
        EXPECT_FALSE(device->CanRetryCreateTexture());
    }
    std::vector<uint8_t> corrupt = file;
    corrupt[16] = 0xFF; // width 255: the levels no longer fit the data
    EXPECT_EQ(device->CreateTextureFromFile(corrupt.data(), unsigned(corrupt.size()), 0), nullptr);
    corrupt = file;
    corrupt[112] = 0x02; // cube map
    corrupt[113] = 0x02;
    EXPECT_EQ(device->CreateTextureFromFile(corrupt.data(), unsigned(corrupt.size()), 0), nullptr);
    control->SetTotalVideoMemory(unsigned(control->GetResourceBytes()) + 32);
    EXPECT_EQ(device->CreateTextureFromFile(file.data(), unsigned(file.size()), 0), nullptr);
    EXPECT_TRUE(device->CanRetryCreateTexture());
    EXPECT_EQ(device->GetFreeVideoMemory(), 32u);

    device->DestroyTexture(&full);
    device->DestroyTexture(&reduced);
    device->DestroyTexture(&smallest);
}

TEST_F(SoftwareRenderDevice, BlockCompressedTexturesDecode)
{
    // One DXT1 block: colour 0 pure red, colour 1 pure blue, every texel index 0 except the last (1).
    std::vector<uint8_t> dxt1 = {0x00, 0xF8, 0x1F, 0x00, 0x00, 0x00, 0x00, 0x40};
    const std::vector<uint8_t> file1 = MakeDds(4, 4, 1, "DXT1", dxt1);
    RenderTexture* opaque = device->CreateTextureFromFile(file1.data(), unsigned(file1.size()), 0);
    ASSERT_NE(opaque, nullptr);
    EXPECT_EQ(opaque->GetFormat(), RENDER_FORMAT_RGB);
    int pitch = 0;
    auto* texels = static_cast<const uint32_t*>(opaque->Lock(pitch));
    ASSERT_NE(texels, nullptr);
    EXPECT_EQ(texels[0], 0xFFFF0000u);
    EXPECT_EQ(texels[15], 0xFF0000FFu);
    opaque->Unlock();

    // DXT5: alpha endpoints 255 and 0 (eight-step ramp), index 1 for every texel -> alpha 0.
    std::vector<uint8_t> dxt5 = {255, 0, 0x49, 0x92, 0x24, 0x49, 0x92, 0x24};
    dxt5.insert(dxt5.end(), {0xE0, 0x07, 0xE0, 0x07, 0, 0, 0, 0}); // pure green
    const std::vector<uint8_t> file5 = MakeDds(4, 4, 1, "DXT5", dxt5);
    RenderTexture* alpha = device->CreateTextureFromFile(file5.data(), unsigned(file5.size()), 0);
    ASSERT_NE(alpha, nullptr);
    texels = static_cast<const uint32_t*>(alpha->Lock(pitch));
    ASSERT_NE(texels, nullptr);
    EXPECT_EQ(texels[5], 0x0000FF00u);
    alpha->Unlock();

    const std::vector<uint8_t> unknown = MakeDds(4, 4, 1, "ATI2", std::vector<uint8_t>(16, 0));
    EXPECT_EQ(device->CreateTextureFromFile(unknown.data(), unsigned(unknown.size()), 0), nullptr);
    device->DestroyTexture(&opaque);
    device->DestroyTexture(&alpha);
}

TEST_F(SoftwareRenderDevice, MaskedTexelFormatsDecode)
{
    // 16-bit 5-6-5 without alpha: pure red and pure green.
    const PixelLayout rgb565 = {0x40, 16, {0xF800, 0x07E0, 0x001F, 0}};
    const std::vector<uint8_t> file565 = MakeDds(2, 1, 1, nullptr, {0x00, 0xF8, 0xE0, 0x07}, rgb565);
    RenderTexture* colour = device->CreateTextureFromFile(file565.data(), unsigned(file565.size()), 0);
    ASSERT_NE(colour, nullptr);
    EXPECT_EQ(colour->GetFormat(), RENDER_FORMAT_RGB);
    int pitch = 0;
    auto* texels = static_cast<const uint32_t*>(colour->Lock(pitch));
    ASSERT_NE(texels, nullptr);
    EXPECT_EQ(texels[0], 0xFFFF0000u);
    EXPECT_EQ(texels[1], 0xFF00FF00u);
    colour->Unlock();

    // 8-bit luminance with 8-bit alpha: the luminance goes to all three colour channels.
    const PixelLayout luminanceAlpha = {0x20001, 16, {0x00FF, 0, 0, 0xFF00}};
    const std::vector<uint8_t> fileLA = MakeDds(1, 1, 1, nullptr, {0x40, 0x80}, luminanceAlpha);
    RenderTexture* grey = device->CreateTextureFromFile(fileLA.data(), unsigned(fileLA.size()), 0);
    ASSERT_NE(grey, nullptr);
    texels = static_cast<const uint32_t*>(grey->Lock(pitch));
    ASSERT_NE(texels, nullptr);
    EXPECT_EQ(texels[0], 0x80404040u);
    grey->Unlock();

    // A mask wider than the texel is refused.
    const PixelLayout bad = {0x40, 16, {0xFF0000, 0xFF00, 0xFF, 0}};
    const std::vector<uint8_t> fileBad = MakeDds(1, 1, 1, nullptr, {0, 0}, bad);
    EXPECT_EQ(device->CreateTextureFromFile(fileBad.data(), unsigned(fileBad.size()), 0), nullptr);
    device->DestroyTexture(&colour);
    device->DestroyTexture(&grey);
}

TEST_F(SoftwareRenderDevice, StreamingBuffersDrawTheSpaceLastLocked)
{
    const VertexElement layout[] = {{0, VERTEX_USAGE_POSITION, VERTEX_TYPE_FLOAT3}};
    RenderVertexDeclaration* declaration = device->CreateVertexDeclaration(layout, 1);
    RenderDynamicVertexBuffer* vertices = device->CreateDynamicVertexBuffer(12 * 8);
    RenderDynamicIndexBuffer* indices = device->CreateDynamicIndexBuffer(4 * 12);
    ASSERT_TRUE(declaration && vertices && indices);
    ASSERT_TRUE(device->BeginFrame());
    device->SetVertexDeclaration(declaration);
    for (int batch = 0; batch < 3; ++batch) {
        ASSERT_NE(vertices->Lock(12 * 4), nullptr);
        vertices->Unlock();
        uint32_t* written = indices->Lock(6);
        ASSERT_NE(written, nullptr);
        const uint32_t quad[6] = {0, 1, 2, 2, 3, 0};
        std::copy(quad, quad + 6, written);
        indices->Unlock();
        vertices->SetAsStream(0, 12);
        indices->SetAsIndices();
        device->DrawIndexedPrimitive(RENDER_PRIMITIVE_TRIANGLE_LIST, indices->GetDrawRange(6, 2, 0, 0));
    }
    EXPECT_EQ(device->GetNumDrawCalls(), 3);
    EXPECT_EQ(device->GetNumFacesRendered(), 6);

    // A range reaching past the end of the index space is turned down.
    const uint32_t rejected = control->GetRejectedCallCount();
    RenderDrawRange past = indices->GetDrawRange(6, 2, 0, 0);
    past.startIndex = 8;
    device->DrawIndexedPrimitive(RENDER_PRIMITIVE_TRIANGLE_LIST, past);
    EXPECT_EQ(control->GetRejectedCallCount(), rejected + 1);
    device->EndFrame();

    // Destroying the bound buffers leaves nothing to draw with.
    device->DestroyDynamicVertexBuffer(&vertices);
    device->DestroyDynamicIndexBuffer(&indices);
    EXPECT_EQ(control->GetRenderState().streamSource, nullptr);
    EXPECT_EQ(control->GetRenderState().indices, nullptr);
    device->DestroyVertexDeclaration(&declaration);
}

TEST_F(SoftwareRenderDevice, TexturesFromTexelsImagesAndSurfaceCopies)
{
    ASSERT_NE(MakePrimary(8, 8), nullptr);
    // Bytes blue, green, red, alpha as the terrain's layer textures hand them over.
    const uint8_t image[2 * 2 * 4] = {0, 0, 200, 10, 1, 2, 3, 4, 0, 0, 0, 255, 9, 9, 9, 9};
    RenderTexture* fromImage = device->CreateTextureFromImage(2, 2, image, 1, 0);
    ASSERT_NE(fromImage, nullptr);
    int pitch = 0;
    auto* texels = static_cast<uint32_t*>(fromImage->Lock(pitch));
    EXPECT_EQ(texels[0], 0x0AC80000u);
    EXPECT_EQ(texels[1], 0x04030201u);
    fromImage->Unlock();

    // Intensity bytes with a full chain of box-filtered levels.
    const uint8_t intensity[4 * 4] = {0, 0, 255, 255, 0, 0, 255, 255, 100, 100, 100, 100, 100, 100, 100, 100};
    RenderTexture* chain = device->CreateTexture(4, 4, intensity, 0, 0);
    ASSERT_NE(chain, nullptr);
    EXPECT_EQ(chain->GetLevelCount(), 3);
    EXPECT_EQ(chain->GetMemoryUsage(), (16u + 4u + 1u) * 4u);

    // Clear a render target and copy half of it, stretched, into another texture.
    RenderSurface* target = device->CreateTextureSurface(4, 4, RENDER_FORMAT_RGBA, RENDER_FORMAT_NONE);
    RenderTexture* destination = device->CreateDynamicTexture(2, 2, 1, 1);
    ASSERT_NE(target, nullptr);
    ASSERT_NE(destination, nullptr);
    device->SetTargetSurface(0, target);
    device->SetViewport(Viewport(0, 0, 2, 4));
    device->SetClearColor(Color(0.0f, 1.0f, 0.0f, 1.0f));
    device->Clear(RENDER_CLEAR_COLOR);
    EXPECT_TRUE(target->CopyToTexture(destination, Rect(0.0f, 0.0f, 2.0f, 4.0f)));
    texels = static_cast<uint32_t*>(destination->Lock(pitch));
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(texels[i], 0xFF00FF00u) << i;
    destination->Unlock();
    EXPECT_FALSE(target->CopyToTexture(destination, Rect(10.0f, 10.0f, 2.0f, 2.0f))); // outside
    EXPECT_FALSE(target->CopyToTexture(nullptr, Rect(0.0f, 0.0f, 2.0f, 2.0f)));
    EXPECT_FALSE(device->GetPrimarySurface()->CopyToTexture(reinterpret_cast<RenderTexture*>(target),
                                                            Rect(0.0f, 0.0f, 2.0f, 2.0f))); // not a texture

    device->DestroyTexture(&fromImage);
    device->DestroyTexture(&chain);
    device->DestroyTexture(&destination);
    device->DestroySurface(&target);
}

TEST_F(SoftwareRenderDevice, RecordsCallsInOrder)
{
    RenderTexture* texture = device->CreateTexture(2, 2, nullptr, 1, 0);
    control->SetRecording(true);
    device->SetSourceBlend(RENDER_BLEND_SRC_ALPHA);
    device->SetDestinationBlend(RENDER_BLEND_INV_SRC_ALPHA);
    device->SetTexture(0, texture);
    device->SetDepthTestFunction(static_cast<RenderTestFunction>(8)); // not a test function
    device->SetTextureStageState(2, 1, 7);
    device->DestroyTexture(&texture);
    const std::vector<std::string> calls = control->TakeRecordedCalls();
    const std::vector<std::string> expected = {"SetSourceBlend(6)",
                                               "SetDestinationBlend(8)",
                                               "SetTexture(0, texture#1)",
                                               "SetDepthTestFunction(8) rejected",
                                               "SetTextureStageState(2, 1, 7)",
                                               "DestroyTexture(texture#1)"};
    EXPECT_EQ(calls, expected);
    EXPECT_TRUE(control->TakeRecordedCalls().empty());
    const Software::RenderState state = control->GetRenderState();
    EXPECT_EQ(state.depthTest, RENDER_TEST_LESS_EQUAL);
    EXPECT_EQ(device->GetSourceBlend(), RENDER_BLEND_SRC_ALPHA);
    EXPECT_EQ(device->GetTextureStageState(2, 1), 7u);
}

TEST_F(SoftwareRenderDevice, FontsMeasureRunsAndCountDrawnOnes)
{
    RenderFont* font = device->CreateFont("Arial", nullptr, 0); // an old-format font: name only
    ASSERT_NE(font, nullptr);
    Rect rect(10.0f, 10.0f, 0.0f, 0.0f);
    EXPECT_EQ(font->DrawText("Hello", -1, rect, RENDER_TEXT_CALC_RECT | RENDER_TEXT_SINGLE_LINE, 0, 12,
                             RENDER_FONT_NORMAL, false),
              30);
    EXPECT_EQ(rect.width, 30.0f);
    EXPECT_EQ(rect.height, 12.0f);
    ASSERT_TRUE(device->BeginFrame());
    EXPECT_EQ(font->DrawText(u"Hi", 2, rect, RENDER_TEXT_SINGLE_LINE | RENDER_TEXT_NO_CLIP, 0xFFFFFFFF, 12,
                             RENDER_FONT_BOLD, false),
              12);
    EXPECT_EQ(device->GetNumDrawCalls(), 1);
    device->EndFrame();
    EXPECT_EQ(device->CreateFont("Broken", nullptr, 10), nullptr);
    device->DestroyFont(&font);
}

} // namespace
} // namespace GAME
