#include "../SoftwareDeviceAccess.h"

#include "graphics/RenderDevice.h"
#include "graphics/RenderIndexBuffer.h"
#include "graphics/RenderTexture.h"
#include "graphics/RenderVertexBuffer.h"
#include "graphics/RenderVertexDeclaration.h"

#include <atomic>
#include <cstring>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace GAME {
namespace {

// Loader threads create, fill and destroy resources while the main thread draws frames with the
// resources it owns; the books must balance and nothing may race.
TEST(SoftwareDeviceThreads, LoaderThreadsCreateResourcesWhileTheMainThreadDraws)
{
    GAME::Test::SoftwareModuleAccess software;
    RenderDevice* device = RenderDevice::Create("Software");
    ASSERT_NE(device, nullptr);
    Software::DeviceControl* control = software.Device(device);
    ASSERT_NE(control, nullptr);

    const VertexElement layout[] = {{0, VERTEX_USAGE_POSITION, VERTEX_TYPE_FLOAT3}};
    RenderVertexDeclaration* declaration = device->CreateVertexDeclaration(layout, 1);
    RenderVertexBuffer* vertices = device->CreateVertexBuffer(0, 3 * 12);
    RenderIndexBuffer* indices = device->CreateIndexBuffer(3, 2);
    ASSERT_TRUE(declaration && vertices && indices);

    constexpr int loaders = 4;
    constexpr int rounds = 200;
    std::atomic<int> failures{0};
    std::atomic<bool> loading{true};
    std::vector<std::thread> threads;
    for (int t = 0; t < loaders; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < rounds; ++i) {
                const uint8_t texels[8 * 8] = {uint8_t(t), uint8_t(i)};
                RenderTexture* texture = device->CreateTexture(8, 8, texels, 0, 0);
                RenderVertexBuffer* buffer = device->CreateVertexBuffer(0, 256);
                RenderIndexBuffer* faces = device->CreateIndexBuffer(30, 2);
                RenderVertexDeclaration* own = device->CreateVertexDeclaration(layout, 1);
                if (!texture || !buffer || !faces || !own) {
                    ++failures;
                    continue;
                }
                if (void* data = buffer->Lock()) {
                    std::memset(data, t, 256);
                    buffer->Unlock();
                } else {
                    ++failures;
                }
                int pitch = 0;
                if (void* data = texture->Lock(pitch)) {
                    std::memset(data, i, size_t(pitch) * 8);
                    texture->Unlock();
                } else {
                    ++failures;
                }
                if (texture->GetMemoryUsage() == 0)
                    ++failures;
                device->DestroyTexture(&texture);
                device->DestroyVertexBuffer(&buffer);
                device->DestroyIndexBuffer(&faces);
                device->DestroyVertexDeclaration(&own);
            }
        });

    RenderDrawRange triangle;
    triangle.numVertices = 3;
    triangle.primitiveCount = 1;
    uint32_t frames = 0;
    std::thread waiter([&] {
        for (std::thread& thread : threads)
            thread.join();
        loading = false;
    });
    while (loading || frames == 0) {
        if (!device->BeginFrame()) {
            ADD_FAILURE() << "BeginFrame failed";
            break;
        }
        device->SetVertexDeclaration(declaration);
        device->SetStreamSource(0, vertices, 0, 12);
        device->SetIndices(indices);
        device->DrawIndexedPrimitive(RENDER_PRIMITIVE_TRIANGLE_LIST, triangle);
        EXPECT_EQ(device->GetNumDrawCalls(), 1);
        device->EndFrame();
        ++frames;
        (void)control->GetResourceBytes();
    }
    waiter.join();

    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(control->GetFrameCount(), frames);
    EXPECT_EQ(control->GetTotalDrawCalls(), frames);
    EXPECT_EQ(control->GetRejectedCallCount(), 0u);
    EXPECT_EQ(control->GetTotalResourceCount(), 3u); // the main thread's three
    EXPECT_EQ(control->GetLockedResourceCount(), 0u);
    device->DestroyVertexDeclaration(&declaration);
    device->DestroyVertexBuffer(&vertices);
    device->DestroyIndexBuffer(&indices);
    EXPECT_EQ(control->GetResourceBytes(), 0u);
    RenderDevice::Destroy(device);
    RenderDevice::UnloadLibraries();
}

// Several threads create and destroy devices through the module table at once.
TEST(SoftwareDeviceThreads, ModuleTableIsSharedSafely)
{
    GAME::Test::SoftwareModuleAccess software;
    ASSERT_NE(software.Get(), nullptr);
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 50; ++i) {
                RenderDevice* device = RenderDevice::Create("Software");
                if (!device || RenderDevice::FindDeviceLibrary(device) < 0) {
                    ++failures;
                    continue;
                }
                RenderDevice::Destroy(device);
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(software.Get()->GetLiveDeviceCount(), 0u);
    RenderDevice::UnloadLibraries();
}

} // namespace
} // namespace GAME
