// The OpenGL device with a second thread standing for the resource loader: it creates and fills
// textures, vertex and index buffers (on worker contexts) and destroys what the main thread is
// done with, while the main thread draws each object as it arrives and reads the pixels back; and
// a loader thread uploading without pause while the main thread draws without pause, the two
// taking turns at the device's GL lock call by call; and a loader thread filling a texture or a
// vertex buffer again and again while the main thread draws with it.
#include "../OpenGLTestSupport.h"

#include "graphics/RenderIndexBuffer.h"
#include "graphics/RenderPixelShader.h"
#include "graphics/RenderVertexBuffer.h"
#include "graphics/RenderVertexDeclaration.h"
#include "graphics/RenderVertexShader.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
// Freed memory is filled, so that a read of freed memory by code the sanitizer does not see (the
// driver's) fails at once instead of finding what was there before.
extern "C" const char* __asan_default_options()
{
    return "max_free_fill_size=1048576:free_fill_byte=165";
}
#endif
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
// Mesa's llvmpipe keeps its rasteriser threads and its fences apart in ways the sanitizer does not
// see (it is not built with it): what the driver's own code does, and the memory functions it calls,
// are left out; the device's code and the test's stay watched.
extern "C" const char* __tsan_default_suppressions()
{
    return "called_from_lib:swrast_dri.so\n"
           "called_from_lib:libgallium\n"
           "called_from_lib:libLLVM\n"
           "race:swrast_dri.so\n"
           "race:libgallium\n"
           "race:libLLVM\n";
}
#endif
#endif

namespace GAME {
namespace {

using Test::Argb;
using Test::TestVertex;

struct Item
{
    int number = 0;
    uint32_t color = 0;
    RenderTexture* texture = nullptr;
    RenderVertexBuffer* vertices = nullptr;
    RenderIndexBuffer* indices = nullptr;
};

// Hands items from one thread to the other.
class Queue
{
public:
    void Push(const Item& item)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_items.push_back(item);
        }
        m_ready.notify_one();
    }
    bool Pop(Item& item, bool wait)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        // Only a hang waits this long.
        if (wait)
            m_ready.wait_for(lock, std::chrono::minutes(5), [this] { return !m_items.empty(); });
        if (m_items.empty())
            return false;
        item = m_items.front();
        m_items.pop_front();
        return true;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::deque<Item> m_items;
};

// A headless OpenGL device, initialised, with a square primary surface of the size.
::testing::AssertionResult OpenHeadless(RenderDevice*& device, RenderSurface*& primary, int size)
{
    device = RenderDevice::Create("OpenGL");
    if (!device)
        return ::testing::AssertionFailure() << "no OpenGL device";
    if (!device->Initialize())
        return ::testing::AssertionFailure() << "the device did not initialise";
    RenderDeviceSettings settings;
    settings.width = size;
    settings.height = size;
    primary = device->CreatePrimarySurface(nullptr, &settings);
    if (!primary)
        return ::testing::AssertionFailure() << "no primary surface";
    return ::testing::AssertionSuccess();
}

// Programs, a declaration and one quad over the whole target, white, so that a draw's pixels are
// its texture's.
struct TargetQuad
{
    RenderVertexShader* vs = nullptr;
    RenderPixelShader* ps = nullptr;
    RenderVertexDeclaration* declaration = nullptr;
    RenderVertexBuffer* vertices = nullptr;
    RenderIndexBuffer* indices = nullptr;

    bool Make(RenderDevice& device)
    {
        vs = device.CreateVertexShader(GAME::Test::passThroughVertexProgram,
                                       unsigned(std::strlen(GAME::Test::passThroughVertexProgram)));
        ps = device.CreatePixelShader(GAME::Test::texturePixelProgram,
                                      unsigned(std::strlen(GAME::Test::texturePixelProgram)));
        declaration = device.CreateVertexDeclaration(GAME::Test::testVertexElements, 4);
        const TestVertex quad[4] = {{-1, 1, 0.5f, 0xFFFFFFFF, 0, 0, {}},
                                    {1, 1, 0.5f, 0xFFFFFFFF, 1, 0, {}},
                                    {1, -1, 0.5f, 0xFFFFFFFF, 1, 1, {}},
                                    {-1, -1, 0.5f, 0xFFFFFFFF, 0, 1, {}}};
        const uint16_t list[6] = {0, 1, 2, 0, 2, 3};
        vertices = device.CreateVertexBuffer(RENDER_USAGE_STATIC, sizeof(quad));
        indices = device.CreateIndexBuffer(6, 2);
        void* v = vertices ? vertices->Lock() : nullptr;
        void* x = indices ? indices->Lock() : nullptr;
        if (!vs || !ps || !declaration || !v || !x)
            return false;
        std::memcpy(v, quad, sizeof(quad));
        vertices->Unlock();
        std::memcpy(x, list, sizeof(list));
        indices->Unlock();
        return true;
    }
    // Inside a frame.
    void Bind(RenderDevice& device) const
    {
        device.SetVertexShader(vs);
        device.SetPixelShader(ps);
        device.SetVertexDeclaration(declaration);
        device.SetStreamSource(0, vertices, 0, sizeof(TestVertex));
        device.SetIndices(indices);
    }
    static void Draw(RenderDevice& device)
    {
        RenderDrawRange range;
        range.numVertices = 4;
        range.primitiveCount = 2;
        device.DrawIndexedPrimitive(RENDER_PRIMITIVE_TRIANGLE_LIST, range);
    }
    void Destroy(RenderDevice& device)
    {
        device.DestroyVertexBuffer(&vertices);
        device.DestroyIndexBuffer(&indices);
        device.DestroyVertexShader(&vs);
        device.DestroyPixelShader(&ps);
        device.DestroyVertexDeclaration(&declaration);
    }
};

// The loader's textures are two colours, the item's over its inverse, 256 x 512 with their mip
// chain: level 0 goes up in two bands (the halves), and the levels below are built on the loader's
// processor. Each item is drawn twice and read back: minified over the whole target (the smaller
// levels: the item's colour above, the inverse below) and texel for texel across the middle of
// level 0 (where the two bands meet). A band uploaded at the wrong rows or not at all, or a smaller
// level built wrong, shows in the picture.
TEST(OpenGLDeviceThreads, ALoaderThreadMakesAndDestroysObjectsWhileTheMainThreadDrawsThem)
{
    RenderDevice* device = nullptr;
    RenderSurface* primary = nullptr;
    ASSERT_TRUE(OpenHeadless(device, primary, 32));
    const char* texturedPixels = GAME::Test::texturePixelProgram;
    RenderVertexShader* vs = device->CreateVertexShader(
        GAME::Test::passThroughVertexProgram, unsigned(std::strlen(GAME::Test::passThroughVertexProgram)));
    RenderPixelShader* ps = device->CreatePixelShader(texturedPixels, unsigned(std::strlen(texturedPixels)));
    RenderVertexDeclaration* declaration = device->CreateVertexDeclaration(GAME::Test::testVertexElements, 4);
    ASSERT_TRUE(vs && ps && declaration);

    constexpr int itemCount = 24;
    constexpr int width = 256, height = 512;
    auto inverse = [](uint32_t color) { return (~color & 0x00FFFFFFu) | 0xFF000000u; };
    Queue made, finished;
    std::atomic<int> loaderFailures{0};
    std::thread loader([&] {
        int destroyed = 0;
        for (int i = 0; i < itemCount || destroyed < itemCount;) {
            if (i < itemCount) {
                Item item;
                item.number = i;
                item.color = Argb(40 + i * 8, 255 - i * 8, (i * 37) % 256, 255);
                std::vector<uint32_t> texels(size_t(width) * height, item.color);
                std::fill(texels.begin() + ptrdiff_t(texels.size() / 2), texels.end(), inverse(item.color));
                item.texture =
                    device->CreateTextureFromImage(width, height, texels.data(), 0, RENDER_USAGE_STATIC);
                item.vertices = device->CreateVertexBuffer(RENDER_USAGE_STATIC, 8 * sizeof(TestVertex));
                item.indices = device->CreateIndexBuffer(6, 2);
                if (!item.texture || !item.vertices || !item.indices) {
                    ++loaderFailures;
                    return;
                }
                // Full-target quads whose vertex colour is white, so the pixels are the texture's:
                // the whole texture, then 32 x 32 texels around the middle of level 0.
                const float u1 = 32.0f / width, v0 = 0.5f - 16.0f / height, v1 = 0.5f + 16.0f / height;
                const TestVertex quads[8] = {{-1, 1, 0.5f, 0xFFFFFFFF, 0, 0, {}},  {1, 1, 0.5f, 0xFFFFFFFF, 1, 0, {}},
                                             {1, -1, 0.5f, 0xFFFFFFFF, 1, 1, {}},  {-1, -1, 0.5f, 0xFFFFFFFF, 0, 1, {}},
                                             {-1, 1, 0.5f, 0xFFFFFFFF, 0, v0, {}}, {1, 1, 0.5f, 0xFFFFFFFF, u1, v0, {}},
                                             {1, -1, 0.5f, 0xFFFFFFFF, u1, v1, {}}, {-1, -1, 0.5f, 0xFFFFFFFF, 0, v1, {}}};
                void* v = item.vertices->Lock();
                void* x = item.indices->Lock();
                if (!v || !x) {
                    ++loaderFailures;
                    return;
                }
                std::memcpy(v, quads, sizeof(quads));
                const uint16_t list[6] = {0, 1, 2, 0, 2, 3};
                std::memcpy(x, list, sizeof(list));
                item.vertices->Unlock();
                item.indices->Unlock();
                made.Push(item);
                ++i;
            }
            // What the main thread has drawn is destroyed here, as the loader unloads resources.
            Item done;
            if (finished.Pop(done, i >= itemCount)) {
                device->DestroyTexture(&done.texture);
                device->DestroyVertexBuffer(&done.vertices);
                device->DestroyIndexBuffer(&done.indices);
                ++destroyed;
            } else if (i >= itemCount) {
                ++loaderFailures; // the main thread stopped handing items back
                return;
            }
        }
    });

    int drawn = 0, wrong = 0;
    std::vector<Pixel> pixels(32 * 32);
    while (drawn < itemCount) {
        Item item;
        if (!made.Pop(item, true))
            break;
        const uint32_t below = inverse(item.color);
        for (int quad = 0; quad < 2; ++quad) {
            ASSERT_TRUE(device->BeginFrame());
            device->SetClearColor(Color(0.0f, 0.0f, 0.0f, 1.0f));
            device->Clear(RENDER_CLEAR_COLOR | RENDER_CLEAR_DEPTH);
            device->SetVertexShader(vs);
            device->SetPixelShader(ps);
            device->SetTexture(0, item.texture);
            device->SetVertexDeclaration(declaration);
            device->SetStreamSource(0, item.vertices, 0, sizeof(TestVertex));
            device->SetIndices(item.indices);
            RenderDrawRange range;
            range.baseVertex = 4 * quad;
            range.numVertices = 4;
            range.primitiveCount = 2;
            device->DrawIndexedPrimitive(RENDER_PRIMITIVE_TRIANGLE_LIST, range);
            ASSERT_TRUE(device->ReadFrameBuffer(pixels.data(), 32, 32));
            for (int at : {2 * 32 + 1, 4 * 32 + 16, 27 * 32 + 16, 32 * 32 - 2}) {
                const uint32_t color = at < 16 * 32 ? item.color : below;
                const int r = int(color >> 16 & 255), g = int(color >> 8 & 255), b = int(color & 255);
                if (!GAME::Test::Near(pixels[size_t(at)], r, g, b, 255)) {
                    ++wrong;
                    ADD_FAILURE() << "item " << item.number << (quad ? ", level 0" : ", minified") << " at " << at
                                  << ": " << GAME::Test::Describe(pixels[size_t(at)]);
                }
            }
            device->EndFrame();
        }
        // The device may still hold the objects bound; the loader destroys them anyway.
        finished.Push(item);
        ++drawn;
    }
    loader.join();
    EXPECT_EQ(loaderFailures.load(), 0);
    EXPECT_EQ(drawn, itemCount);
    EXPECT_EQ(wrong, 0);

    // The objects destroyed on the loader thread were still bound here; a frame lets them go.
    ASSERT_TRUE(device->BeginFrame());
    EXPECT_EQ(device->GetTexture(0), nullptr);
    EXPECT_EQ(device->GetIndices(), nullptr);
    device->EndFrame();
    device->DestroyVertexShader(&vs);
    device->DestroyPixelShader(&ps);
    device->DestroyVertexDeclaration(&declaration);
    device->DestroySurface(&primary);
    RenderDevice::Destroy(device);
}

// A level loading thread uploads its ground's textures while the main thread draws the regions
// already in. The driver checks, for every upload, whether another context's queued scenes use
// the resource, reading those scenes while the main thread's drawing fills and frees them: the
// loader thread read freed memory and crashed, or the heap was corrupted (every run, in an ASan
// build on two processors, with the device's GL lock taken out). The device keeps the contexts'
// GL calls apart, and yet lets the main thread in between a texture's uploads: the main thread
// draws until it has drawn many times inside the loader's texture creations (the lock held across a
// whole creation never lets that happen, and the wait never ends), and no hold of the lock ever
// covered two upload calls.
TEST(OpenGLDeviceThreads, ALoaderThreadUploadsWhileTheMainThreadDrawsWithoutPause)
{
    RenderDevice* device = nullptr;
    RenderSurface* primary = nullptr;
    ASSERT_TRUE(OpenHeadless(device, primary, 32));
    ASSERT_EQ(GAME::Test::LockFigure(device, "mostUploadsInOneHold"), 0) << "no lock figures from OpenGL.so";
    TargetQuad quad;
    ASSERT_TRUE(quad.Make(*device));
    constexpr int textureCount = 8;
    std::vector<RenderTexture*> textures;
    for (int i = 0; i < textureCount; ++i) {
        const std::vector<uint32_t> texels(16, Argb(30 * i, 255 - 30 * i, 128, 255));
        textures.push_back(device->CreateTextureFromImage(4, 4, texels.data(), 0, RENDER_USAGE_STATIC));
        ASSERT_NE(textures.back(), nullptr);
    }

    // At least as many uploads as it took to crash every time, and until the main thread has drawn
    // often inside the loader's creations.
    constexpr int uploads = 600;
    constexpr long long drawsBesideUploads = 200;
    std::atomic<int> made{0}, failures{0};
    std::atomic<bool> stop{false};
    std::thread loader([&] {
        // A texture of eight levels: eight upload calls.
        const std::vector<uint32_t> texels(128 * 128, Argb(200, 40, 90, 255));
        while (!stop.load()) {
            RenderTexture* texture =
                device->CreateTextureFromImage(128, 128, texels.data(), 0, RENDER_USAGE_STATIC);
            RenderVertexBuffer* buffer = device->CreateVertexBuffer(RENDER_USAGE_STATIC, 4096);
            void* bytes = buffer ? buffer->Lock() : nullptr;
            if (!texture || !bytes) {
                ++failures;
            } else {
                std::memset(bytes, made.load() & 255, 4096);
                buffer->Unlock();
            }
            device->DestroyTexture(&texture);
            device->DestroyVertexBuffer(&buffer);
            ++made;
        }
    });

    // Frames of many draws, each covering the target with one of the textures, for as long as the
    // loader works; now and then the picture is read back: the last draw's texture fills it.
    int frames = 0, wrong = 0;
    long long beside = 0;
    std::vector<Pixel> pixels(32 * 32);
    bool drawing = true;
    // Only a hang reaches the deadline.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(5);
    while (drawing && (made.load() < uploads || beside < drawsBesideUploads) &&
           std::chrono::steady_clock::now() < deadline) {
        if (!device->BeginFrame()) {
            ADD_FAILURE() << "frame " << frames << " did not begin";
            break;
        }
        device->Clear(RENDER_CLEAR_COLOR | RENDER_CLEAR_DEPTH);
        quad.Bind(*device);
        const int draws = 48 + frames % textureCount;
        for (int d = 0; d < draws; ++d) {
            device->SetTexture(0, textures[size_t(d % textureCount)]);
            TargetQuad::Draw(*device);
        }
        if (frames % 16 == 0 && !device->ReadFrameBuffer(pixels.data(), 32, 32)) {
            ADD_FAILURE() << "frame " << frames << " could not be read";
            drawing = false;
        } else if (frames % 16 == 0) {
            const int last = (draws - 1) % textureCount;
            for (int at : {0, 16 * 32 + 16, 32 * 32 - 1})
                if (!GAME::Test::Near(pixels[size_t(at)], 30 * last, 255 - 30 * last, 128, 255)) {
                    ++wrong;
                    ADD_FAILURE() << "frame " << frames << " at " << at << ": "
                                  << GAME::Test::Describe(pixels[size_t(at)]);
                }
        }
        device->EndFrame();
        device->PresentSurface(primary);
        ++frames;
        beside = GAME::Test::LockFigure(device, "mainHoldsBesideUploads");
    }
    stop = true;
    loader.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(wrong, 0);
    EXPECT_GE(made.load(), uploads);
    EXPECT_GE(beside, drawsBesideUploads) << "the main thread was let in between the loader's uploads " << beside
                                          << " times in " << frames << " frames";
    EXPECT_EQ(GAME::Test::LockFigure(device, "mostUploadsInOneHold"), 1);

    for (RenderTexture*& texture : textures)
        device->DestroyTexture(&texture);
    quad.Destroy(*device);
    device->DestroySurface(&primary);
    RenderDevice::Destroy(device);
}

// The GL lock's figures through the module's test hook, the module held while the reader lives:
// loading it for each reading costs more than a frame under ThreadSanitizer.
class LockFigureReader
{
public:
    explicit LockFigureReader(RenderDevice* device)
        : m_device(device), m_module(Platform::LoadModule("OpenGL"))
    {
        if (m_module)
            m_figure = reinterpret_cast<GAME::Test::LockFigureFunction>(
                Platform::FindModuleSymbol(m_module, GAME::Test::lockFigureSymbol));
    }
    ~LockFigureReader()
    {
        if (m_module)
            Platform::UnloadModule(m_module);
    }
    LockFigureReader(const LockFigureReader&) = delete;
    LockFigureReader& operator=(const LockFigureReader&) = delete;
    long long operator()(const char* name) const { return m_figure ? m_figure(m_device, name) : -1; }

private:
    RenderDevice* const m_device;
    const Platform::ModuleHandle m_module;
    GAME::Test::LockFigureFunction m_figure = nullptr;
};

// A headless device of 32 pixels square with the target quad and the GL lock's figures, let go
// with the scene.
struct QuadScene
{
    RenderDevice* device = nullptr;
    RenderSurface* primary = nullptr;
    TargetQuad quad;

    ::testing::AssertionResult Open()
    {
        ::testing::AssertionResult opened = OpenHeadless(device, primary, 32);
        if (!opened)
            return opened;
        if (GAME::Test::LockFigure(device, "mainHoldsBesideUploads") < 0)
            return ::testing::AssertionFailure() << "no lock figures from OpenGL.so";
        if (!quad.Make(*device))
            return ::testing::AssertionFailure() << "the quad's programs and buffers were not made";
        return ::testing::AssertionSuccess();
    }
    ~QuadScene()
    {
        if (!device)
            return;
        quad.Destroy(*device);
        device->DestroySurface(&primary);
        RenderDevice::Destroy(device);
    }
};

// A loader thread fills an object again and again (Lock, Unlock) while the main thread draws with
// it: fill(c) gives it the content that covers the target with colors[c], the loader alternating
// the two; draw() draws with it inside a frame. The object goes up in four bands, between which
// the main thread is let in: a draw there must find the old content or the new one, whole, never
// the first bands new and the rest old. The main thread draws until it has drawn often inside the
// loader's re-uploads and has seen both colours (on a busy machine whole runs of frames may fall
// while the object holds one of them); once the loader is done it must see the last one written.
void DrawWhileALoaderFillsAgain(RenderDevice* device, const uint32_t (&colors)[2],
                                const std::function<bool(int)>& fill, const std::function<void()>& draw)
{
    constexpr int reuploadsWanted = 20;
    constexpr long long drawsInsideWanted = 100;
    std::atomic<int> reuploads{0}, failures{0};
    std::atomic<bool> stop{false};
    std::thread loader([&] {
        for (int n = 1; !stop.load(); ++n) {
            if (!fill(n % 2)) {
                ++failures;
                return;
            }
            ++reuploads;
        }
    });

    const LockFigureReader figure(device);
    int frames = 0, torn = 0;
    int seen[2] = {0, 0};
    long long drawsInside = 0;
    std::vector<Pixel> pixels(32 * 32);
    auto wholeColor = [&]() {
        // The index of the colour every pixel shows; -1 for a picture of both or of neither.
        for (int c = 0; c < 2; ++c) {
            const int r = int(colors[c] >> 16 & 255), g = int(colors[c] >> 8 & 255), b = int(colors[c] & 255);
            if (std::all_of(pixels.begin(), pixels.end(),
                            [&](const Pixel& p) { return GAME::Test::Near(p, r, g, b, 255); }))
                return c;
        }
        return -1;
    };
    // A frame of the object's draw, read back; inside: the draw began inside a re-upload.
    auto drawFrame = [&](bool& inside) {
        if (!device->BeginFrame())
            return false;
        device->Clear(RENDER_CLEAR_COLOR | RENDER_CLEAR_DEPTH);
        const long long before = figure("mainHoldsBesideUploads");
        draw();
        inside = figure("mainHoldsBesideUploads") > before;
        const bool read = device->ReadFrameBuffer(pixels.data(), 32, 32);
        device->EndFrame();
        return read;
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(5); // only a hang
    while ((reuploads.load() < reuploadsWanted || drawsInside < drawsInsideWanted || !seen[0] || !seen[1]) &&
           failures.load() == 0 && std::chrono::steady_clock::now() < deadline) {
        bool inside = false;
        if (!drawFrame(inside)) {
            ADD_FAILURE() << "frame " << frames << " was not drawn and read";
            break;
        }
        ++frames;
        drawsInside += inside;
        const int whole = wholeColor();
        if (whole >= 0) {
            ++seen[whole];
        } else if (++torn <= 5) {
            ADD_FAILURE() << "frame " << frames << (inside ? " (drawn inside a re-upload)" : "")
                          << ": top row " << GAME::Test::Describe(pixels[16]) << ", bottom row "
                          << GAME::Test::Describe(pixels[31 * 32 + 16]);
        }
    }
    stop = true;
    loader.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(torn, 0) << "of " << frames << " frames, " << drawsInside << " drawn inside a re-upload";
    EXPECT_GE(reuploads.load(), reuploadsWanted);
    EXPECT_GE(drawsInside, drawsInsideWanted) << "the main thread drew inside the loader's re-uploads "
                                              << drawsInside << " times in " << frames << " frames";
    EXPECT_GT(seen[0], 0);
    EXPECT_GT(seen[1], 0) << "the loader's re-uploads never reached the main thread's draws";

    // Done, the loader's last colour is what the object holds.
    bool inside = false;
    ASSERT_TRUE(drawFrame(inside));
    EXPECT_EQ(wholeColor(), reuploads.load() % 2);
}

// The texture (1 MiB, one level, so that the draws sample the banded one) was drawn with its top
// rows new and the rest old in half the frames or more while the bands went straight into it and
// the fence came after the last.
TEST(OpenGLDeviceThreads, AMainThreadDrawInsideALoadersReuploadFindsTheTexelsWhole)
{
    QuadScene scene;
    ASSERT_TRUE(scene.Open());
    RenderDevice* device = scene.device;
    const TargetQuad& quad = scene.quad;
    constexpr int size = 512; // 1 MiB: four bands
    const uint32_t colors[2] = {Argb(220, 30, 40, 255), Argb(30, 60, 210, 255)};
    RenderTexture* texture = device->CreateDynamicTexture(size, size, 1, RENDER_USAGE_DYNAMIC);
    ASSERT_NE(texture, nullptr);
    auto fill = [&](int content) {
        int pitch = 0;
        auto* texels = static_cast<uint32_t*>(texture->Lock(pitch));
        if (!texels || pitch != size * 4)
            return false;
        std::fill(texels, texels + size_t(size) * size, colors[content]);
        texture->Unlock();
        return true;
    };
    ASSERT_TRUE(fill(0));
    DrawWhileALoaderFillsAgain(device, colors, fill, [&] {
        quad.Bind(*device);
        device->SetTexture(0, texture);
        TargetQuad::Draw(*device);
    });

    device->DestroyTexture(&texture);
}

// The vertex buffer (1 MiB) holds a quad list in four bands, each band's quads covering their
// own quarter of the target, top to bottom, in the content's colour; a frame draws a quad of each
// band in one draw. With the bands going straight into the buffer, a draw between two of them
// showed the upper quarters in one colour and the lower in the other, in a tenth to a fifth of
// the frames.
TEST(OpenGLDeviceThreads, AMainThreadDrawInsideALoadersRefillFindsTheVerticesWhole)
{
    QuadScene scene;
    ASSERT_TRUE(scene.Open());
    RenderDevice* device = scene.device;
    const TargetQuad& quad = scene.quad;
    RenderPixelShader* colored = device->CreatePixelShader(
        GAME::Test::colorPixelProgram, unsigned(std::strlen(GAME::Test::colorPixelProgram)));
    ASSERT_NE(colored, nullptr);
    constexpr int bands = 4;
    constexpr int quadsPerBand = 256 * 1024 / (4 * sizeof(TestVertex));
    const uint32_t colors[2] = {Argb(220, 30, 40, 255), Argb(30, 60, 210, 255)};
    RenderVertexBuffer* vertices =
        device->CreateVertexBuffer(RENDER_USAGE_STATIC, bands * quadsPerBand * 4 * sizeof(TestVertex));
    ASSERT_NE(vertices, nullptr);
    // Both contents made once: the loader's time goes to Lock and Unlock.
    std::vector<TestVertex> contents[2];
    for (int content = 0; content < 2; ++content)
        for (int q = 0; q < bands * quadsPerBand; ++q) {
            const float top = 1.0f - 2.0f * float(q / quadsPerBand) / bands, bottom = top - 2.0f / bands;
            const uint32_t c = colors[content];
            contents[content].insert(contents[content].end(), {{-1, top, 0.5f, c, 0, 0, {}},
                                                               {1, top, 0.5f, c, 1, 0, {}},
                                                               {1, bottom, 0.5f, c, 1, 1, {}},
                                                               {-1, bottom, 0.5f, c, 0, 1, {}}});
        }
    auto fill = [&](int content) {
        void* v = vertices->Lock();
        if (!v)
            return false;
        std::memcpy(v, contents[content].data(), contents[content].size() * sizeof(TestVertex));
        vertices->Unlock();
        return true;
    };
    ASSERT_TRUE(fill(0));
    // One draw of a quad from the middle of each band: every draw is old or new, whole; draws apart
    // may fall on both sides of a re-upload.
    RenderIndexBuffer* indices = device->CreateIndexBuffer(6 * bands, 2);
    auto* list = indices ? static_cast<uint16_t*>(indices->Lock()) : nullptr;
    ASSERT_NE(list, nullptr);
    for (int band = 0; band < bands; ++band) {
        const int first = 4 * (band * quadsPerBand + quadsPerBand / 2);
        for (int corner : {0, 1, 2, 0, 2, 3})
            *list++ = uint16_t(first + corner);
    }
    indices->Unlock();
    DrawWhileALoaderFillsAgain(device, colors, fill, [&] {
        quad.Bind(*device);
        device->SetPixelShader(colored);
        device->SetStreamSource(0, vertices, 0, sizeof(TestVertex));
        device->SetIndices(indices);
        RenderDrawRange range;
        range.numVertices = 4 * bands * quadsPerBand;
        range.primitiveCount = 2 * bands;
        device->DrawIndexedPrimitive(RENDER_PRIMITIVE_TRIANGLE_LIST, range);
    });

    device->DestroyIndexBuffer(&indices);
    device->DestroyVertexBuffer(&vertices);
    device->DestroyPixelShader(&colored);
}

TEST(OpenGLDeviceThreads, CanRetryCreateTextureAnswersForTheCallingThreadsLastCreation)
{
    RenderDevice* device = nullptr;
    RenderSurface* primary = nullptr;
    ASSERT_TRUE(OpenHeadless(device, primary, 8));

    // The loader's texture wants more video memory than there is (worth a retry); meanwhile the
    // main thread makes one that fits. Each thread hears of its own.
    std::mutex mutex;
    std::condition_variable changed;
    int step = 0;
    bool loaderFailed = false, loaderRetryFirst = false, loaderRetryAfter = false;
    std::thread loader([&] {
        RenderTexture* huge = device->CreateTexture(16384, 16384, nullptr, 0, RENDER_USAGE_STATIC);
        loaderFailed = huge == nullptr;
        loaderRetryFirst = device->CanRetryCreateTexture();
        if (huge)
            device->DestroyTexture(&huge);
        std::unique_lock<std::mutex> lock(mutex);
        step = 1;
        changed.notify_all();
        changed.wait_for(lock, std::chrono::minutes(5), [&] { return step == 2; }); // only a hang waits so long
        loaderRetryAfter = device->CanRetryCreateTexture();
    });
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait_for(lock, std::chrono::minutes(5), [&] { return step == 1; });
    }
    const uint8_t texels[4] = {1, 2, 3, 4};
    RenderTexture* small = device->CreateTexture(2, 2, texels, 1, RENDER_USAGE_STATIC);
    EXPECT_NE(small, nullptr);
    EXPECT_FALSE(device->CanRetryCreateTexture());
    {
        std::lock_guard<std::mutex> lock(mutex);
        step = 2;
    }
    changed.notify_all();
    loader.join();
    ASSERT_TRUE(loaderFailed) << "a 16384 x 16384 texture with its mip chain fit into video memory";
    EXPECT_TRUE(loaderRetryFirst);
    EXPECT_TRUE(loaderRetryAfter);

    device->DestroyTexture(&small);
    device->DestroySurface(&primary);
    RenderDevice::Destroy(device);
}

} // namespace
} // namespace GAME
