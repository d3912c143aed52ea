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

// The GL lock's figures through the module's test hook, the module held while the reader lives:
// loading it for each reading costs more than a frame under ThreadSanitizer.
class LockFigureReader
{
public:
    explicit LockFigureReader(RenderDevice* device)
        : m_device(device), m_module(Platform::LoadModule("OpenGL"))
    {
        if (m_module) {
            m_figure = reinterpret_cast<GAME::Test::LockFigureFunction>(
                Platform::FindModuleSymbol(m_module, GAME::Test::lockFigureSymbol));
            m_reset = reinterpret_cast<bool (*)(RenderDevice*)>(
                Platform::FindModuleSymbol(m_module, "OpenGLResetLockFigures"));
        }
    }
    ~LockFigureReader()
    {
        if (m_module)
            Platform::UnloadModule(m_module);
    }
    LockFigureReader(const LockFigureReader&) = delete;
    LockFigureReader& operator=(const LockFigureReader&) = delete;
    long long operator()(const char* name) const { return m_figure ? m_figure(m_device, name) : -1; }
    // The figures start again from nothing.
    bool Reset() const { return m_reset && m_reset(m_device); }

private:
    RenderDevice* const m_device;
    const Platform::ModuleHandle m_module;
    GAME::Test::LockFigureFunction m_figure = nullptr;
    bool (*m_reset)(RenderDevice*) = nullptr;
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
                const TestVertex quads[8] = {
                    {-1, 1, 0.5f, 0xFFFFFFFF, 0, 0, {}},   {1, 1, 0.5f, 0xFFFFFFFF, 1, 0, {}},
                    {1, -1, 0.5f, 0xFFFFFFFF, 1, 1, {}},   {-1, -1, 0.5f, 0xFFFFFFFF, 0, 1, {}},
                    {-1, 1, 0.5f, 0xFFFFFFFF, 0, v0, {}},  {1, 1, 0.5f, 0xFFFFFFFF, u1, v0, {}},
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
                    ADD_FAILURE() << "item " << item.number << (quad ? ", level 0" : ", minified") << " at "
                                  << at << ": " << GAME::Test::Describe(pixels[size_t(at)]);
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
    // loader works; now and then the picture is read back: the last draw's texture fills it. Every
    // fourth frame asks for a read that does not hold the frame: collected in the next frame, it is
    // still the picture of the frame that asked for it (the device's reader thread reads it beside
    // the loader). The frames go on until reads were asked for while the loader was inside a
    // resource's uploads, as the GL lock tells of the request's own hold, whenever that comes.
    const LockFigureReader figure(device);
    constexpr int readsBesideUploadsWanted = 3;
    int frames = 0, wrong = 0, deferredReads = 0, readsBesideUploads = 0;
    long long beside = 0;
    std::vector<Pixel> pixels(32 * 32);
    bool drawing = true;
    auto check = [&](int frame, int draws) {
        const int last = (draws - 1) % textureCount;
        for (int at : {0, 16 * 32 + 16, 32 * 32 - 1})
            if (!GAME::Test::Near(pixels[size_t(at)], 30 * last, 255 - 30 * last, 128, 255)) {
                ++wrong;
                ADD_FAILURE() << "frame " << frame << " at " << at << ": "
                              << GAME::Test::Describe(pixels[size_t(at)]);
            }
    };
    int requestedFrame = -1, requestedDraws = 0;
    bool requestedBesideUploads = false;
    // Only a hang reaches the deadline.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(5);
    while (drawing &&
           (made.load() < uploads || beside < drawsBesideUploads ||
            readsBesideUploads < readsBesideUploadsWanted) &&
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
        if (requestedFrame >= 0) {
            if (device->CollectFrameRead(pixels.data(), 32, 32, false) != RENDER_READ_DONE) {
                ADD_FAILURE() << "the read frame " << requestedFrame << " asked for was not in";
                drawing = false;
            } else {
                check(requestedFrame, requestedDraws);
                ++deferredReads;
                readsBesideUploads += requestedBesideUploads ? 1 : 0;
            }
            requestedFrame = -1;
        }
        if (frames % 4 == 2) {
            // The request is one hold of the GL lock: the figure moves when it began inside uploads.
            const long long before = figure("mainHoldsBesideUploads");
            if (!device->RequestFrameRead(32, 32)) {
                ADD_FAILURE() << "frame " << frames << " could not ask for a read";
                drawing = false;
            } else {
                requestedBesideUploads = figure("mainHoldsBesideUploads") > before;
                requestedFrame = frames;
                requestedDraws = draws;
            }
        } else if (frames % 16 == 0 && !device->ReadFrameBuffer(pixels.data(), 32, 32)) {
            ADD_FAILURE() << "frame " << frames << " could not be read";
            drawing = false;
        } else if (frames % 16 == 0) {
            check(frames, draws);
        }
        device->EndFrame();
        device->PresentSurface(primary);
        ++frames;
        beside = figure("mainHoldsBesideUploads");
    }
    stop = true;
    loader.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(wrong, 0);
    EXPECT_GE(readsBesideUploads, readsBesideUploadsWanted)
        << "of " << deferredReads << " reads that did not hold the frame, in " << frames << " frames";
    EXPECT_GE(made.load(), uploads);
    EXPECT_GE(beside, drawsBesideUploads) << "the main thread was let in between the loader's uploads "
                                          << beside << " times in " << frames << " frames";
    EXPECT_EQ(figure("mostUploadsInOneHold"), 1);

    for (RenderTexture*& texture : textures)
        device->DestroyTexture(&texture);
    quad.Destroy(*device);
    device->DestroySurface(&primary);
    RenderDevice::Destroy(device);
}

// A headless device with the target quad and the GL lock's figures, let go with the scene.
struct QuadScene
{
    RenderDevice* device = nullptr;
    RenderSurface* primary = nullptr;
    TargetQuad quad;

    ::testing::AssertionResult Open(int size = 32)
    {
        ::testing::AssertionResult opened = OpenHeadless(device, primary, size);
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

// The contents a loader fills an object with, by their number modulo the palette.
constexpr int paletteSize = 8;
constexpr uint32_t palette[paletteSize] = {0xFFDC1E28u, 0xFF1E3CD2u, 0xFF28C83Cu, 0xFFE6D228u,
                                           0xFFC828C8u, 0xFF28C8D2u, 0xFFF08C1Eu, 0xFF787878u};
uint32_t FillColor(int n)
{
    return palette[n % paletteSize];
}

// Fills a square texture of that size with content n (Lock, Unlock), setting unlocking (when
// given) to n just before the Unlock.
bool FillTexture(RenderTexture* texture, int size, int n, std::atomic<int>* unlocking)
{
    int pitch = 0;
    auto* texels = static_cast<uint32_t*>(texture->Lock(pitch));
    if (!texels || pitch != size * 4)
        return false;
    std::fill(texels, texels + size_t(size) * size, FillColor(n));
    if (unlocking)
        *unlocking = n;
    texture->Unlock();
    return true;
}

// The scene's primary surface: frames side by side, one cell each, read back together.
constexpr int cellSize = 32, cellsAcross = 8, frameCells = cellsAcross * cellsAcross;
constexpr int sceneSize = cellSize * cellsAcross;

// A loader thread fills an object again and again (Lock, Unlock) while the main thread draws with
// it: fill(n, unlocking) gives it content n, which covers the target in FillColor(n), and sets
// unlocking to n just before its Unlock; draw() draws with it inside a frame. The object goes up
// in four bands, between which the main thread is let in. The main thread keeps a surface's worth
// of frames in flight, each drawn into a cell of its own, and reads them back once all are drawn.
// A frame shows one content, whole, never the first bands new and the rest old; none older than
// the last fill that was over before its draw, nor newer than the last whose Unlock had begun by
// then (the loader's copy comes after the main context's draws queued before it). The main thread
// draws until it has drawn often inside the loader's re-uploads and has seen two contents; once
// the loader is done it must see the last one written. The device counts every fill of the loader
// as it went: in place after the main context's fence, or into an object that took the drawn one's
// place.
void DrawWhileALoaderFillsAgain(RenderDevice* device, const std::function<bool(int, std::atomic<int>&)>& fill,
                                const std::function<void()>& draw)
{
    constexpr int reuploadsWanted = 20;
    constexpr long long drawsInsideWanted = 100;
    std::atomic<int> unlocking{0}, done{0}, failures{0};
    std::atomic<bool> stop{false};
    std::thread loader([&] {
        for (int n = 1; !stop.load(); ++n) {
            if (!fill(n, unlocking)) {
                ++failures;
                return;
            }
            done = n;
        }
    });

    const LockFigureReader figure(device);
    struct Frame
    {
        int oldest, newest; // the contents it may show
        bool inside;        // its draw began inside a re-upload
    };
    std::vector<Frame> frames;
    int torn = 0, outOfOrder = 0, batches = 0;
    bool seen[paletteSize] = {};
    long long drawsInside = 0;
    std::vector<Pixel> pixels(size_t(sceneSize) * sceneSize);
    // The palette index every pixel of a cell shows; -1 for a cell of several or of none.
    auto cellColor = [&](int cell) {
        const int x0 = cell % cellsAcross * cellSize, y0 = cell / cellsAcross * cellSize;
        for (int c = 0; c < paletteSize; ++c) {
            const int r = int(palette[c] >> 16 & 255), g = int(palette[c] >> 8 & 255),
                      b = int(palette[c] & 255);
            bool whole = true;
            for (int y = y0; y < y0 + cellSize && whole; ++y)
                for (int x = x0; x < x0 + cellSize && whole; ++x)
                    whole = GAME::Test::Near(pixels[size_t(y) * sceneSize + x], r, g, b, 255);
            if (whole)
                return c;
        }
        return -1;
    };
    // Frames of the object's draw into the cells, read back once all are drawn.
    auto drawBatch = [&](int cells) {
        frames.clear();
        for (int cell = 0; cell < cells; ++cell) {
            if (!device->BeginFrame())
                return false;
            if (cell == 0) {
                device->SetViewport(Viewport(0, 0, sceneSize, sceneSize));
                device->Clear(RENDER_CLEAR_COLOR | RENDER_CLEAR_DEPTH);
            }
            device->SetViewport(Viewport(cell % cellsAcross * cellSize, cell / cellsAcross * cellSize,
                                         cells == 1 ? sceneSize : cellSize,
                                         cells == 1 ? sceneSize : cellSize));
            const long long before = figure("mainHoldsBesideUploads");
            Frame frame;
            frame.oldest = done.load();
            draw();
            frame.newest = unlocking.load();
            frame.inside = figure("mainHoldsBesideUploads") > before;
            frames.push_back(frame);
            device->EndFrame();
        }
        return device->ReadFrameBuffer(pixels.data(), sceneSize, sceneSize);
    };
    auto distinctSeen = [&] { return std::count(std::begin(seen), std::end(seen), true); };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(5); // only a hang
    while ((done.load() < reuploadsWanted || drawsInside < drawsInsideWanted || distinctSeen() < 2) &&
           failures.load() == 0 && std::chrono::steady_clock::now() < deadline) {
        if (!drawBatch(frameCells)) {
            ADD_FAILURE() << "batch " << batches << " was not drawn and read";
            break;
        }
        ++batches;
        for (int cell = 0; cell < frameCells; ++cell) {
            const Frame& frame = frames[size_t(cell)];
            drawsInside += frame.inside;
            const int shown = cellColor(cell);
            const int at =
                (cell / cellsAcross * cellSize + cellSize / 2) * sceneSize + cell % cellsAcross * cellSize;
            if (shown < 0) {
                if (++torn <= 5)
                    ADD_FAILURE() << "batch " << batches << ", frame " << cell
                                  << (frame.inside ? " (drawn inside a re-upload)" : "") << ": top row "
                                  << GAME::Test::Describe(pixels[size_t(at - cellSize / 2 * sceneSize + 16)])
                                  << ", bottom row "
                                  << GAME::Test::Describe(
                                         pixels[size_t(at + (cellSize / 2 - 1) * sceneSize + 16)]);
                continue;
            }
            seen[shown] = true;
            bool allowed = frame.newest - frame.oldest >= paletteSize - 1;
            for (int n = frame.oldest; n <= frame.newest && !allowed; ++n)
                allowed = n % paletteSize == shown;
            if (!allowed && ++outOfOrder <= 5)
                ADD_FAILURE() << "batch " << batches << ", frame " << cell << " shows content " << shown
                              << " (modulo " << paletteSize << "), drawn after content " << frame.oldest
                              << " was in and before content " << frame.newest + 1 << " was unlocked";
        }
    }
    stop = true;
    loader.join();
    const long long drawn = (long long)batches * frameCells;
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(torn, 0) << "of " << drawn << " frames, " << drawsInside << " drawn inside a re-upload";
    EXPECT_EQ(outOfOrder, 0) << "of " << drawn << " frames";
    EXPECT_GE(done.load(), reuploadsWanted);
    EXPECT_GE(drawsInside, drawsInsideWanted) << "the main thread drew inside the loader's re-uploads "
                                              << drawsInside << " times in " << drawn << " frames";
    EXPECT_GE(distinctSeen(), 2) << "the loader's re-uploads never reached the main thread's draws";
    // Each of the loader's fills went one way or the other, once.
    EXPECT_EQ(figure("refillsInPlace") + figure("refillsReplaced"), done.load());
    EXPECT_EQ(figure("refillsUnordered"), 0) << "a refill went in place before the main context's fence";

    // Done, the loader's last content is what the object holds.
    ASSERT_TRUE(drawBatch(1));
    EXPECT_EQ(cellColor(0), done.load() % paletteSize);
}

// The texture (1 MiB, one level, so that the draws sample the banded one) was drawn with its top
// rows new and the rest old in half the frames or more while the bands went straight into it and
// the fence came after the last.
TEST(OpenGLDeviceThreads, AMainThreadDrawInsideALoadersReuploadFindsTheTexelsWhole)
{
    QuadScene scene;
    ASSERT_TRUE(scene.Open(sceneSize));
    RenderDevice* device = scene.device;
    const TargetQuad& quad = scene.quad;
    constexpr int size = 512; // 1 MiB: four bands
    RenderTexture* texture = device->CreateDynamicTexture(size, size, 1, RENDER_USAGE_DYNAMIC);
    ASSERT_NE(texture, nullptr);
    auto fill = [&](int content, std::atomic<int>& unlocking) {
        return FillTexture(texture, size, content, &unlocking);
    };
    std::atomic<int> unlocking{0};
    ASSERT_TRUE(fill(0, unlocking));
    DrawWhileALoaderFillsAgain(device, fill, [&] {
        quad.Bind(*device);
        device->SetTexture(0, texture);
        TargetQuad::Draw(*device);
    });

    device->DestroyTexture(&texture);
}

// A loader refills a texture and a vertex buffer that the main thread drew with earlier in the
// frame still open, while the main thread waits for that loader without calling the device (as a
// host waiting for a resource the frame needs now would). Neither refill waits for the main thread
// (each waited out its 2 s give-up, a frame of 4 s, before they took the place of the objects
// drawn), and the draws before them keep the old content (the texture's showed the new texels).
// The draws after them, with the texture and the vertex buffer left bound as they were, find the
// new content under the new objects' GL names. The device counts both refills as taking the drawn
// objects' places. Once the frame is over, refills go in place after the main context's fence
// covering its draws of them (with no wait for that fence on the worker's side, the device's order
// says so).
TEST(OpenGLDeviceThreads, ALoadersRefillGoesOnWhileTheMainThreadWaitsForItMidFrame)
{
    QuadScene scene;
    ASSERT_TRUE(scene.Open(sceneSize));
    RenderDevice* device = scene.device;
    const TargetQuad& quad = scene.quad;
    const LockFigureReader figure(device);
    constexpr int size = 512; // four bands: the content goes up into a second texture
    RenderTexture* texture = device->CreateDynamicTexture(size, size, 1, RENDER_USAGE_DYNAMIC);
    RenderVertexBuffer* vertices = device->CreateVertexBuffer(RENDER_USAGE_STATIC, 4 * sizeof(TestVertex));
    RenderPixelShader* colored = device->CreatePixelShader(
        GAME::Test::colorPixelProgram, unsigned(std::strlen(GAME::Test::colorPixelProgram)));
    ASSERT_TRUE(texture && vertices && colored);
    // Content n: the texture and the quad's vertices in FillColor(n).
    auto fill = [&](int content) {
        void* v = vertices->Lock();
        if (!v)
            return false;
        const uint32_t c = FillColor(content);
        const TestVertex corners[4] = {{-1, 1, 0.5f, c, 0, 0, {}},
                                       {1, 1, 0.5f, c, 1, 0, {}},
                                       {1, -1, 0.5f, c, 1, 1, {}},
                                       {-1, -1, 0.5f, c, 0, 1, {}}};
        std::memcpy(v, corners, sizeof(corners));
        vertices->Unlock();
        return FillTexture(texture, size, content, nullptr);
    };
    ASSERT_TRUE(fill(0));
    constexpr int half = sceneSize / 2;
    // The texture's draw into the top row's cell, the vertices' into the bottom row's.
    auto drawBoth = [&](int column) {
        device->SetViewport(Viewport(column * half, 0, half, half));
        quad.Bind(*device);
        device->SetTexture(0, texture);
        TargetQuad::Draw(*device);
        device->SetViewport(Viewport(column * half, half, half, half));
        device->SetPixelShader(colored);
        device->SetStreamSource(0, vertices, 0, sizeof(TestVertex));
        TargetQuad::Draw(*device);
    };
    // The same, with what drawBoth left bound: the vertex buffer is drawn with again as it is, and
    // the texture stays on its stage untouched; only the quad's own stream and program come back.
    auto drawBothAsLeft = [&](int column) {
        device->SetViewport(Viewport(column * half, half, half, half));
        TargetQuad::Draw(*device);
        device->SetViewport(Viewport(column * half, 0, half, half));
        device->SetPixelShader(quad.ps);
        device->SetStreamSource(0, quad.vertices, 0, sizeof(TestVertex));
        TargetQuad::Draw(*device);
    };
    std::vector<Pixel> pixels(size_t(sceneSize) * sceneSize);
    auto shows = [&](int column, int row, int content) {
        const Pixel& p = pixels[size_t(row * half + half / 2) * sceneSize + size_t(column * half + half / 2)];
        const uint32_t c = FillColor(content);
        return ::testing::AssertionResult(
                   GAME::Test::Near(p, int(c >> 16 & 255), int(c >> 8 & 255), int(c & 255), 255))
               << (row ? "vertices" : "texture") << (column ? " drawn after" : " drawn before")
               << " the refill to content " << content << ": " << GAME::Test::Describe(p);
    };
    // Runs the refill to the content on a thread of its own and waits for it, calling nothing of
    // the device meanwhile.
    auto refillOnALoader = [&](int content) {
        std::mutex lock;
        std::condition_variable changed;
        bool filled = false, ok = false;
        std::thread loader([&] {
            const bool result = fill(content);
            std::lock_guard<std::mutex> hold(lock);
            filled = true;
            ok = result;
            changed.notify_all();
        });
        bool finished = false;
        {
            std::unique_lock<std::mutex> hold(lock);
            finished = changed.wait_for(hold, std::chrono::minutes(2), [&] { return filled; }); // only a hang
        }
        if (!finished)
            device->EndFrame(); // lets a loader still waiting go, so that the join ends
        loader.join();
        return finished && ok;
    };

    ASSERT_TRUE(figure.Reset());
    ASSERT_TRUE(device->BeginFrame());
    device->SetViewport(Viewport(0, 0, sceneSize, sceneSize));
    device->Clear(RENDER_CLEAR_COLOR | RENDER_CLEAR_DEPTH);
    drawBoth(0);
    EXPECT_TRUE(refillOnALoader(1));
    drawBothAsLeft(1);
    device->EndFrame();
    ASSERT_TRUE(device->ReadFrameBuffer(pixels.data(), sceneSize, sceneSize));
    EXPECT_EQ(figure("refillsReplaced"), 2) << "the objects drawn with were not both taken over by new ones";
    EXPECT_EQ(figure("refillsInPlace"), 0);
    EXPECT_EQ(figure("mainFenceWaits"), 0) << "a refill waited for the main thread, which waited for it";
    EXPECT_EQ(figure("mainFenceGiveUps"), 0);
    EXPECT_TRUE(shows(0, 0, 0));
    EXPECT_TRUE(shows(0, 1, 0));
    EXPECT_TRUE(shows(1, 0, 1));
    EXPECT_TRUE(shows(1, 1, 1));

    // The frame's draws are behind the fence of its end: the next refills go in place after it.
    ASSERT_TRUE(figure.Reset());
    EXPECT_TRUE(refillOnALoader(2));
    EXPECT_EQ(figure("refillsInPlace"), 2);
    EXPECT_EQ(figure("refillsReplaced"), 0);
    EXPECT_EQ(figure("refillsUnordered"), 0) << "a refill went in place before the main context's fence";
    EXPECT_EQ(figure("mainFenceWaits"), 0);
    ASSERT_TRUE(device->BeginFrame());
    drawBoth(0);
    device->EndFrame();
    ASSERT_TRUE(device->ReadFrameBuffer(pixels.data(), sceneSize, sceneSize));
    EXPECT_TRUE(shows(0, 0, 2));
    EXPECT_TRUE(shows(0, 1, 2));

    device->DestroyPixelShader(&colored);
    device->DestroyVertexBuffer(&vertices);
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
    ASSERT_TRUE(scene.Open(sceneSize));
    RenderDevice* device = scene.device;
    const TargetQuad& quad = scene.quad;
    RenderPixelShader* colored = device->CreatePixelShader(
        GAME::Test::colorPixelProgram, unsigned(std::strlen(GAME::Test::colorPixelProgram)));
    ASSERT_NE(colored, nullptr);
    constexpr int bands = 4;
    constexpr int quadsPerBand = 256 * 1024 / (4 * sizeof(TestVertex));
    RenderVertexBuffer* vertices =
        device->CreateVertexBuffer(RENDER_USAGE_STATIC, bands * quadsPerBand * 4 * sizeof(TestVertex));
    ASSERT_NE(vertices, nullptr);
    // Every content made once: the loader's time goes to Lock and Unlock.
    std::vector<TestVertex> contents[paletteSize];
    for (int content = 0; content < paletteSize; ++content)
        for (int q = 0; q < bands * quadsPerBand; ++q) {
            const float top = 1.0f - 2.0f * float(q / quadsPerBand) / bands, bottom = top - 2.0f / bands;
            const uint32_t c = FillColor(content);
            contents[content].insert(contents[content].end(), {{-1, top, 0.5f, c, 0, 0, {}},
                                                               {1, top, 0.5f, c, 1, 0, {}},
                                                               {1, bottom, 0.5f, c, 1, 1, {}},
                                                               {-1, bottom, 0.5f, c, 0, 1, {}}});
        }
    auto fill = [&](int content, std::atomic<int>& unlocking) {
        void* v = vertices->Lock();
        if (!v)
            return false;
        const std::vector<TestVertex>& from = contents[content % paletteSize];
        std::memcpy(v, from.data(), from.size() * sizeof(TestVertex));
        unlocking = content;
        vertices->Unlock();
        return true;
    };
    std::atomic<int> unlocking{0};
    ASSERT_TRUE(fill(0, unlocking));
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
    DrawWhileALoaderFillsAgain(device, fill, [&] {
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
        changed.wait_for(lock, std::chrono::minutes(5),
                         [&] { return step == 2; }); // only a hang waits so long
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
