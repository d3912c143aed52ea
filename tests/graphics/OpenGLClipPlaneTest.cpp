// A clipping plane of the OpenGL device cuts only while it is set: programs drawn after it is
// cleared draw whole, whatever the driver makes of the clip distances they still write.
#include "OpenGLTestSupport.h"

#include "graphics/RenderIndexBuffer.h"
#include "graphics/RenderVertexBuffer.h"
#include "graphics/RenderVertexDeclaration.h"
#include "graphics/RenderVertexShader.h"

#include <cstring>
#include <gtest/gtest.h>

namespace GAME {
namespace {

using Test::Argb;
using Test::Describe;
using Test::Near;
using Test::TestVertex;

constexpr int kSize = 32;

TEST(OpenGLClipPlaneTest, AClearedPlaneCutsNothingInLaterFrames)
{
    RenderDevice* device = RenderDevice::Create("OpenGL");
    ASSERT_NE(device, nullptr);
    ASSERT_TRUE(device->Initialize());
    RenderDeviceSettings settings;
    settings.width = kSize;
    settings.height = kSize;
    RenderSurface* primary = device->CreatePrimarySurface(nullptr, &settings);
    ASSERT_NE(primary, nullptr) << "no headless OpenGL 4.5 context";

    RenderVertexDeclaration* declaration = device->CreateVertexDeclaration(GAME::Test::testVertexElements, 4);
    RenderVertexBuffer* vertices = device->CreateVertexBuffer(RENDER_USAGE_STATIC, 4 * sizeof(TestVertex));
    RenderIndexBuffer* indices = device->CreateIndexBuffer(6, 2);
    const char* program = GAME::Test::passThroughVertexProgram;
    RenderVertexShader* shader = device->CreateVertexShader(program, unsigned(std::strlen(program)));
    ASSERT_TRUE(declaration && vertices && indices && shader);
    const uint32_t white = Argb(255, 255, 255, 255);
    const TestVertex quad[4] = {{-1, 1, 0.5f, white, 0, 0, {}},
                                {1, 1, 0.5f, white, 1, 0, {}},
                                {1, -1, 0.5f, white, 1, 1, {}},
                                {-1, -1, 0.5f, white, 0, 1, {}}};
    std::memcpy(vertices->Lock(), quad, sizeof(quad));
    vertices->Unlock();
    const uint16_t order[6] = {0, 1, 2, 0, 2, 3};
    std::memcpy(indices->Lock(), order, sizeof(order));
    indices->Unlock();

    // Frame 1 cuts everything away; frames 2 and 3 draw with no plane, then with the plane set
    // again.
    for (int frame = 0; frame < 3; ++frame) {
        ASSERT_TRUE(device->BeginFrame());
        device->SetClearColor(Color(0, 0, 0, 1));
        device->Clear(RENDER_CLEAR_COLOR | RENDER_CLEAR_DEPTH);
        if (frame != 1)
            device->SetClippingPlane(0, Plane(Vec3(0, 0, 0), -1.0f));
        device->SetVertexShader(shader);
        device->SetVertexDeclaration(declaration);
        device->SetStreamSource(0, vertices, 0, sizeof(TestVertex));
        device->SetIndices(indices);
        RenderDrawRange range;
        range.numVertices = 4;
        range.primitiveCount = 2;
        device->DrawIndexedPrimitive(RENDER_PRIMITIVE_TRIANGLE_LIST, range);
        device->ClearClippingPlane(0);
        device->EndFrame();
        const GAME::Test::Image image = GAME::Test::ReadBack(*device, kSize, kSize);
        ASSERT_FALSE(image.pixels.empty());
        const int expected = frame == 1 ? 255 : 0;
        EXPECT_TRUE(Near(image.At(16, 16), expected, expected, expected, 255))
            << "frame " << frame << ": " << Describe(image.At(16, 16));
    }

    device->DestroyVertexShader(&shader);
    device->DestroyIndexBuffer(&indices);
    device->DestroyVertexBuffer(&vertices);
    device->DestroyVertexDeclaration(&declaration);
    device->DestroySurface(&primary);
    RenderDevice::Destroy(device);
}

} // namespace
} // namespace GAME
