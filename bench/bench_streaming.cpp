// World streaming against a preloaded world, on the Software device and on the OpenGL device. A
// generated world (a 6 x 6 grid of terrain regions with 200 entities each and two caves behind
// doorway portals) is flown across by the scripted camera while about 8 ms of fixed work (a busy
// loop calibrated in this run) runs on the main thread each frame, as a game's own frame work
// would. Run 1 streams: region levels load on their loading threads as the view nears them and
// unload after going unused. Run 2 has every region loaded before the flight and kept in use. Both
// runs see the same frames. The OpenGL device (headless) flies the same plan in a third of the
// frames: its loading threads upload the sample data's textures and the levels' buffers on worker
// contexts while the main thread runs the engine's frames on the device (no view of the world is
// drawn: on a software rasteriser that alone would take longer than the program may).
//
// Figures: the main thread's frame time (fixed work, engine update, render) at p50, p99 and max in
// both runs; the streaming run's p99 and max against the preloaded one's; the frames of the
// streaming run above 50 ms; the regions that came into view (directly or through a doorway)
// before their level was resident. Before each run a region loader brings in, behind a loading
// screen, what the first view reaches (the engine's loader for that view) or every region
// (preloaded run). Last, on the OpenGL device, frames of 20 draws beside a loader thread making
// large textures, against the same frames alone: the longest frame and the main thread's longest
// wait for the device's GL lock.
#include "common/BenchEngine.h"
#include "common/BenchFolder.h"
#include "common/BenchMachine.h"
#include "common/BenchReport.h"
#include "common/FixedWork.h"
#include "core/Coords.h"
#include "core/Intersect.h"
#include "core/Log.h"
#include "core/ObjectManager.h"
#include "core/WorldFrustum.h"
#include "data/FileSystem.h"
#include "datakit/SampleGameData.h"
#include "datakit/WorldGenerator.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/RenderDevice.h"
#include "graphics/RenderIndexBuffer.h"
#include "graphics/RenderPixelShader.h"
#include "graphics/RenderTexture.h"
#include "graphics/RenderVertexBuffer.h"
#include "graphics/RenderVertexDeclaration.h"
#include "graphics/RenderVertexShader.h"
#include "platform/Module.h"
#include "platform/Threading.h"
#include "world/Engine.h"
#include "world/Level.h"
#include "world/Portal.h"
#include "world/Region.h"
#include "world/RegionLoader.h"
#include "world/World.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using DataKit::WorldGenerator;

constexpr double kFixedWorkMs = 8.0;
// Flight time each frame advances: the camera moves as at about 83 frames a second.
constexpr float kFlightStep = 0.012f;
// On the OpenGL device the same flight in a third of the frames (the program keeps to its minute):
// the camera flies about three times as fast against the loading threads.
constexpr float kGLFlightStep = 0.036f;
constexpr float kViewHalfAngle = 0.785398f;
constexpr float kViewNear = 0.5f;
constexpr float kViewFar = 60.0f;

// Counts the main thread's forced loads and waits for levels.
class CountingEngine : public BenchEngine
{
public:
    mutable std::atomic<int> forcedLoads{0};
    mutable std::atomic<int> waits{0};

private:
    void Note(GAME::LogPriority priority, const std::string& text) const override
    {
        if (text.find("Forcing load of level") != std::string::npos)
            ++forcedLoads;
        else if (text.find("Main thread sleeping waiting for load") != std::string::npos)
            ++waits;
        else
            BenchEngine::Note(priority, text);
    }
};

double Percentile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const size_t index =
        std::min(values.size() - 1, static_cast<size_t>(fraction * static_cast<double>(values.size())));
    return values[index];
}

// A region is resident when its level is in with its render data and no load is under way: a
// view reaching it then neither loads it nor waits for it on the main thread.
bool IsResident(const GAME::Region* region)
{
    const GAME::Level* level = region ? region->GetLevelPtr() : nullptr;
    return level && !region->IsLoadUnderWay() && level->HasLoadedRenderData();
}

// Keeps every region in use, so none unloads.
void TouchAll(GAME::World* world)
{
    for (int i = 0; i < world->GetNumRegions(); ++i)
        world->GetRegion(i)->ResetFramesNotUpdated();
}

// As behind a loading screen, the world not yet walked: frames at about 100 a second until the
// loader is done (a minute at most; what is still missing then loads during the flight and counts
// there). How long it took.
double LoadBeforeFlight(CountingEngine& engine, GAME::RegionLoader& loader, const GAME::WorldFrustum& view)
{
    const auto start = Clock::now();
    while (!loader.GetIsDone() && Milliseconds(start, Clock::now()) < 60000.0) {
        const auto frameStart = Clock::now();
        loader.Update();
        engine.Update(&view, false);
        engine.Render();
        engine.PresentSurface();
        std::this_thread::sleep_until(frameStart + std::chrono::milliseconds(10));
    }
    return Milliseconds(start, Clock::now());
}

// The regions the view shows this frame: its own and every region whose box the frustum (moved by
// the offsets) meets, then, behind each doorway of those that the frustum meets, the region there
// and (when it is in, so that passing the doorway loads nothing) every region whose box the
// frustum moved through the doorway meets.
std::vector<GAME::Region*> RegionsInView(GAME::World* world, const GAME::WorldFrustum& view)
{
    std::vector<GAME::Region*> regions;
    auto add = [&regions](GAME::Region* region) {
        if (region && std::find(regions.begin(), regions.end(), region) == regions.end())
            regions.push_back(region);
    };
    auto sweep = [&](const GAME::WorldFrustum& frustum) {
        add(frustum.GetRegion());
        for (int i = 0; i < world->GetNumRegions(); ++i) {
            GAME::Region* region = world->GetRegion(i);
            GAME::Frustum local;
            frustum.GetRelativeFrustum(region, local);
            if (GAME::ABBoxInFrustum(region->GetBoundingBox(), local))
                add(region);
        }
    };
    sweep(view);
    const size_t direct = regions.size();
    for (size_t k = 0; k < direct; ++k) {
        GAME::Region* region = regions[k];
        GAME::Frustum local;
        view.GetRelativeFrustum(region, local);
        for (int i = 0; i < region->GetNumPortals(); ++i) {
            const GAME::Portal* portal = region->GetPortal(i);
            if (!portal || !portal->TestIntersection(local))
                continue;
            GAME::Region* behind = world->GetRegionById(portal->GetConnectedRegionId(), false);
            add(behind);
            GAME::Coords through;
            GAME::Region* other = nullptr;
            if (behind && behind->IsLevelLoaded() && portal->GetFrontToBackCoords(through, other)) {
                GAME::Frustum moved = local;
                moved.Transform(through);
                sweep(GAME::WorldFrustum(other, moved));
            }
        }
    }
    return regions;
}

struct RunResult
{
    std::vector<double> frameMs;
    std::vector<double> workMs; // the fixed work's part of each frame
    int framesOver50 = 0;
    std::set<GAME::Region*> late;
    std::string lateList; // each late region, with the flight time it came into view
    int loaderRegions = 0;
    double loaderMs = 0.0;
    int residentBefore = 0;
    int loads = 0;
    int unloads = 0;
    int forcedLoads = 0; // levels the main thread loaded itself
    int waits = 0;       // times it waited for a loading thread
    // The OpenGL device's GL lock in the flight: the main thread's longest wait for it, and how
    // often it was let in while a loading thread was inside a resource's uploads (-1: not known).
    long long longestLockWaitNs = -1;
    long long holdsBesideUploads = -1;
};

// The figures of the OpenGL device's GL lock (test hooks of OpenGL.so); -1 when they are not there
// (another device).
class LockFigures
{
public:
    explicit LockFigures(GAME::RenderDevice* device) : m_device(device)
    {
        m_module = device && std::strcmp(device->GetDeviceName(), "OpenGL") == 0
                       ? GAME::Platform::LoadModule("OpenGL")
                       : nullptr;
        if (m_module) {
            m_figure =
                reinterpret_cast<FigureFunction>(GAME::Platform::FindModuleSymbol(m_module, "OpenGLLockFigure"));
            m_reset = reinterpret_cast<ResetFunction>(
                GAME::Platform::FindModuleSymbol(m_module, "OpenGLResetLockFigures"));
        }
    }
    ~LockFigures()
    {
        if (m_module)
            GAME::Platform::UnloadModule(m_module);
    }
    LockFigures(const LockFigures&) = delete;
    LockFigures& operator=(const LockFigures&) = delete;

    long long Get(const char* name) const { return m_figure ? m_figure(m_device, name) : -1; }
    void Reset() const
    {
        if (m_reset)
            m_reset(m_device);
    }

private:
    using FigureFunction = long long (*)(GAME::RenderDevice*, const char*);
    using ResetFunction = bool (*)(GAME::RenderDevice*);
    GAME::RenderDevice* m_device;
    GAME::Platform::ModuleHandle m_module = nullptr;
    FigureFunction m_figure = nullptr;
    ResetFunction m_reset = nullptr;
};

// The flight, each frame moving it on by step seconds.
RunResult Fly(CountingEngine& engine, const WorldGenerator& generator, bool preload, uint64_t workIterations,
              float step)
{
    RunResult result;
    const LockFigures lock(engine.GetGraphicsEngine() ? engine.GetGraphicsEngine()->GetRenderDevice() : nullptr);
    GAME::World* world = engine.GetWorld();
    if (!world->Load(generator.GetSettings().mapName.c_str(), true)) {
        std::printf("bench_streaming: the generated map did not load\n");
        return result;
    }
    auto viewAt = [&](float seconds) {
        const WorldGenerator::View view = generator.GetFlightView(seconds);
        return GAME::WorldFrustum(world->GetRegion(view.region),
                                  WorldGenerator::MakeViewFrustum(view.position, view.direction,
                                                                  kViewHalfAngle, kViewNear, kViewFar));
    };

    // Before the flight, as behind a loading screen: every region (preloaded run) or those in
    // reach of the first view.
    const GAME::WorldFrustum start = viewAt(0.0f);
    if (preload) {
        std::vector<GAME::Region*> all;
        for (int i = 0; i < world->GetNumRegions(); ++i)
            all.push_back(world->GetRegion(i));
        GAME::RegionLoader loader(engine.GetResourceLoader(), all, true);
        result.loaderMs = LoadBeforeFlight(engine, loader, start);
        result.loaderRegions = loader.GetNumRegions();
    } else {
        GAME::RegionLoader loader(start, true);
        result.loaderMs = LoadBeforeFlight(engine, loader, start);
        result.loaderRegions = loader.GetNumRegions();
    }

    std::vector<bool> resident(static_cast<size_t>(world->GetNumRegions()));
    for (int i = 0; i < world->GetNumRegions(); ++i)
        resident[static_cast<size_t>(i)] = IsResident(world->GetRegion(i));
    result.residentBefore = static_cast<int>(std::count(resident.begin(), resident.end(), true));
    const float duration = generator.GetFlightDuration();
    const int forcedBefore = engine.forcedLoads, waitsBefore = engine.waits;
    lock.Reset();
    for (float t = 0.0f; t <= duration; t += step) {
        const GAME::WorldFrustum view = viewAt(t);
        for (GAME::Region* region : RegionsInView(world, view))
            if (!IsResident(region) && result.late.insert(region).second) {
                char line[96];
                std::snprintf(line, sizeof(line), " %s at %.2f s", region->GetName().c_str(), t);
                result.lateList += line;
            }

        const auto frameStart = Clock::now();
        Spin(workIterations);
        result.workMs.push_back(Milliseconds(frameStart, Clock::now()));
        if (preload)
            TouchAll(world);
        engine.Update(&view, true);
        engine.Render();
        engine.PresentSurface();
        const double ms = Milliseconds(frameStart, Clock::now());
        result.frameMs.push_back(ms);
        if (ms > 50.0)
            ++result.framesOver50;

        for (int i = 0; i < world->GetNumRegions(); ++i) {
            const bool now = IsResident(world->GetRegion(i));
            if (now != resident[static_cast<size_t>(i)])
                ++(now ? result.loads : result.unloads);
            resident[static_cast<size_t>(i)] = now;
        }
    }
    result.forcedLoads = engine.forcedLoads - forcedBefore;
    result.waits = engine.waits - waitsBefore;
    result.longestLockWaitNs = lock.Get("longestMainWaitNs");
    result.holdsBesideUploads = lock.Get("mainHoldsBesideUploads");
    world->Unload();
    GAME::ObjectManager::Get()->DestroyPendingObjects(UINT_MAX);
    return result;
}

// Each frame's time less its fixed work.
std::vector<double> EnginePart(const RunResult& run)
{
    std::vector<double> part(run.frameMs.size());
    for (size_t i = 0; i < part.size() && i < run.workMs.size(); ++i)
        part[i] = run.frameMs[i] - run.workMs[i];
    return part;
}

void PrintRun(const char* name, const RunResult& run)
{
    std::printf("%-13s before the flight: %d regions loaded by the loader in %.0f ms, %d resident\n", name,
                run.loaderRegions, run.loaderMs, run.residentBefore);
    // The fixed work as it ran in these frames (the machine's load moves it from the calibration).
    std::printf(
        "%-13s %5zu frames  p50 %6.2f ms  p99 %6.2f ms  max %6.2f ms (fixed work p50 %.2f ms)  over 50 ms "
        "%d  level loads %d, unloads %d\n",
        name, run.frameMs.size(), Percentile(run.frameMs, 0.50), Percentile(run.frameMs, 0.99),
        Percentile(run.frameMs, 1.0), Percentile(run.workMs, 0.50), run.framesOver50, run.loads, run.unloads);
    if (run.longestLockWaitNs >= 0)
        std::printf("%-13s the main thread's longest wait for the GL lock %.2f ms; let in %lld times while a "
                    "loading thread was inside a resource's uploads\n",
                    name, double(run.longestLockWaitNs) / 1e6, run.holdsBesideUploads);
}

// Both runs of the plan on one engine over the device named; false when the engine did not start.
struct DeviceRuns
{
    RunResult streaming;
    RunResult preloaded;
};



// ---- Frames beside a loader thread (OpenGL device) -------------------------------------------

constexpr const char* kQuadVertexProgram = R"GLSL(
void main()
{
    gl_Position = a_position;
    v_color0 = a_color;
    v_tex0 = a_texCoord0;
}
)GLSL";

constexpr const char* kQuadPixelProgram = R"GLSL(
void main()
{
    o_color = texture(s0, v_tex0.xy) * v_color0;
}
)GLSL";

struct QuadVertex
{
    float x, y, z;
    uint32_t color;
    float u, v;
};

const GAME::VertexElement kQuadElements[] = {
    {0, GAME::VERTEX_USAGE_POSITION, GAME::VERTEX_TYPE_FLOAT3},
    {0, GAME::VERTEX_USAGE_COLOR, GAME::VERTEX_TYPE_COLOR},
    {0, GAME::VERTEX_USAGE_TEXCOORD0, GAME::VERTEX_TYPE_FLOAT2},
};

constexpr int kBesideDraws = 20;
// At most as many frames alone as were drawn beside the loader (the program keeps to its minute).
constexpr int kBesideAloneFrames = 200;
constexpr int kBesideTextures = 12;
constexpr int kBesideSizes[] = {512, 1024, 2048};

double ThreadProcessorMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

struct BesideResult
{
    int size = 0;
    int frames = 0;       // drawn while the loader worked, and as many alone (at most kBesideAloneFrames)
    double loaderMs = 0.0; // the loader's time for its textures
    double aloneMaxMs = 0.0, besideMaxMs = 0.0;
    double aloneMaxCpuMs = 0.0, besideMaxCpuMs = 0.0; // the main thread's processor time
    long long longestLockWaitNs = -1;
    long long holdsBesideUploads = -1;
    long long longestLoaderHoldNs = -1;     // the loader's processor time
    long long longestLoaderHoldWallNs = -1; // wall time
};

// The objects the frames draw with: sixteen quads, each a sixteenth of the screen, and four small
// textures.
class BesideScene
{
public:
    explicit BesideScene(GAME::RenderDevice& device) : m_device(device)
    {
        m_vertexShader = device.CreateVertexShader(kQuadVertexProgram, unsigned(std::strlen(kQuadVertexProgram)));
        m_pixelShader = device.CreatePixelShader(kQuadPixelProgram, unsigned(std::strlen(kQuadPixelProgram)));
        m_declaration = device.CreateVertexDeclaration(kQuadElements, 3);
        m_vertices = device.CreateVertexBuffer(GAME::RENDER_USAGE_STATIC, 16 * 4 * sizeof(QuadVertex));
        m_indices = device.CreateIndexBuffer(6, 2);
        for (int i = 0; i < 4; ++i) {
            const std::vector<uint32_t> texels(64 * 64, 0xFF000000u | uint32_t(i * 0x3F2F1F));
            m_textures[i] = device.CreateTextureFromImage(64, 64, texels.data(), 0, GAME::RENDER_USAGE_STATIC);
        }
        if (!Ready())
            return;
        auto* quads = static_cast<QuadVertex*>(m_vertices->Lock());
        for (int tile = 0; tile < 16; ++tile) {
            const float x0 = -1.0f + 0.5f * float(tile % 4), y0 = 1.0f - 0.5f * float(tile / 4);
            const QuadVertex corners[4] = {{x0, y0, 0.5f, 0xFFFFFFFFu, 0, 0},
                                           {x0 + 0.5f, y0, 0.5f, 0xFFFFFFFFu, 1, 0},
                                           {x0 + 0.5f, y0 - 0.5f, 0.5f, 0xFFFFFFFFu, 1, 1},
                                           {x0, y0 - 0.5f, 0.5f, 0xFFFFFFFFu, 0, 1}};
            std::memcpy(quads + 4 * tile, corners, sizeof(corners));
        }
        m_vertices->Unlock();
        const uint16_t list[6] = {0, 1, 2, 0, 2, 3};
        std::memcpy(m_indices->Lock(), list, sizeof(list));
        m_indices->Unlock();
    }
    ~BesideScene()
    {
        for (GAME::RenderTexture*& texture : m_textures)
            m_device.DestroyTexture(&texture);
        m_device.DestroyVertexBuffer(&m_vertices);
        m_device.DestroyIndexBuffer(&m_indices);
        m_device.DestroyVertexDeclaration(&m_declaration);
        m_device.DestroyVertexShader(&m_vertexShader);
        m_device.DestroyPixelShader(&m_pixelShader);
    }
    BesideScene(const BesideScene&) = delete;
    BesideScene& operator=(const BesideScene&) = delete;

    bool Ready() const
    {
        return m_vertexShader && m_pixelShader && m_declaration && m_vertices && m_indices && m_textures[0] &&
               m_textures[1] && m_textures[2] && m_textures[3];
    }

    // One frame of kBesideDraws draws; its wall and processor time.
    void Frame(double& ms, double& cpuMs)
    {
        const auto start = Clock::now();
        const double cpuStart = ThreadProcessorMs();
        if (m_device.BeginFrame()) {
            m_device.SetTargetSurface(0, nullptr);
            m_device.Clear(GAME::RENDER_CLEAR_COLOR | GAME::RENDER_CLEAR_DEPTH);
            m_device.SetVertexShader(m_vertexShader);
            m_device.SetPixelShader(m_pixelShader);
            m_device.SetSourceBlend(GAME::RENDER_BLEND_ONE);
            m_device.SetDestinationBlend(GAME::RENDER_BLEND_ZERO);
            m_device.SetAlphaTestFunction(GAME::RENDER_TEST_ALWAYS);
            m_device.SetDepthTestFunction(GAME::RENDER_TEST_LESS_EQUAL);
            m_device.SetVertexDeclaration(m_declaration);
            m_device.SetStreamSource(0, m_vertices, 0, sizeof(QuadVertex));
            m_device.SetIndices(m_indices);
            for (int d = 0; d < kBesideDraws; ++d) {
                m_device.SetTexture(0, m_textures[d % 4]);
                GAME::RenderDrawRange range;
                range.baseVertex = 4 * (d % 16);
                range.numVertices = 4;
                range.primitiveCount = 2;
                m_device.DrawIndexedPrimitive(GAME::RENDER_PRIMITIVE_TRIANGLE_LIST, range);
            }
            m_device.EndFrame();
            m_device.PresentSurface(nullptr);
        }
        ms = Milliseconds(start, Clock::now());
        cpuMs = ThreadProcessorMs() - cpuStart;
    }

private:
    GAME::RenderDevice& m_device;
    GAME::RenderVertexShader* m_vertexShader = nullptr;
    GAME::RenderPixelShader* m_pixelShader = nullptr;
    GAME::RenderVertexDeclaration* m_declaration = nullptr;
    GAME::RenderVertexBuffer* m_vertices = nullptr;
    GAME::RenderIndexBuffer* m_indices = nullptr;
    GAME::RenderTexture* m_textures[4] = {};
};

// Frames drawn while a loader thread makes kBesideTextures textures of the size with their mip
// chains (each destroyed once made, as a streamed level's would be later), then as many frames
// alone (at most kBesideAloneFrames).
BesideResult FramesBesideLoader(GAME::RenderDevice& device, BesideScene& scene, int size)
{
    BesideResult result;
    result.size = size;
    const LockFigures lock(&device);
    std::vector<uint32_t> texels(size_t(size) * size_t(size));
    for (size_t i = 0; i < texels.size(); ++i)
        texels[i] = 0xFF000000u | uint32_t(i * 2654435761u >> 8);
    double ms = 0.0, cpuMs = 0.0;
    scene.Frame(ms, cpuMs); // the objects are in use once before the measured frames
    lock.Reset();
    std::atomic<bool> done{false};
    std::atomic<int> failures{0};
    std::thread loader([&] {
        // On any of the process's processors, as the engine's own threads start (this one would
        // otherwise share the main thread's, where the engine pinned it).
        GAME::Platform::SetCurrentThreadProcessAffinity();
        const auto start = Clock::now();
        for (int i = 0; i < kBesideTextures; ++i) {
            GAME::RenderTexture* texture =
                device.CreateTextureFromImage(size, size, texels.data(), 0, GAME::RENDER_USAGE_STATIC);
            if (!texture)
                ++failures;
            device.DestroyTexture(&texture);
        }
        result.loaderMs = Milliseconds(start, Clock::now());
        done = true;
    });
    while (!done.load()) {
        scene.Frame(ms, cpuMs);
        result.besideMaxMs = std::max(result.besideMaxMs, ms);
        result.besideMaxCpuMs = std::max(result.besideMaxCpuMs, cpuMs);
        ++result.frames;
    }
    loader.join();
    result.longestLockWaitNs = lock.Get("longestMainWaitNs");
    result.holdsBesideUploads = lock.Get("mainHoldsBesideUploads");
    result.longestLoaderHoldNs = lock.Get("longestWorkerHoldNs");
    result.longestLoaderHoldWallNs = lock.Get("longestWorkerHoldWallNs");
    if (failures.load() > 0)
        std::printf("bench_streaming: %d of the loader's %d x %d textures were not made\n", failures.load(), size,
                    size);
    for (int i = 0; i < std::clamp(result.frames, 1, kBesideAloneFrames); ++i) {
        scene.Frame(ms, cpuMs);
        result.aloneMaxMs = std::max(result.aloneMaxMs, ms);
        result.aloneMaxCpuMs = std::max(result.aloneMaxCpuMs, cpuMs);
    }
    return result;
}

// Both runs of the plan on an engine over the device; on the OpenGL device also the frames beside
// a loader thread. The first engine started writes the world and calibrates the fixed work
// (prepare, which sets work), as the frames will run: the engine pins the main thread to a
// processor of its own.
// False when the engine did not start or the world was not written.
bool FlyOnDevice(const char* deviceName, const std::filesystem::path& folder, const WorldGenerator& generator,
                 const uint64_t& work, DeviceRuns& runs, std::vector<BesideResult>* beside,
                 const std::function<bool()>& prepare)
{
    GAME::FileSystem files;
    CountingEngine engine;
    engine.Start(files, folder.string(), deviceName);
    bool started = engine.GetWorld() && engine.GetGraphicsEngine() && engine.GetGraphicsEngine()->GetRenderDevice();
    if (started && prepare && !prepare()) {
        std::printf("bench_streaming: the world was not written\n");
        started = false;
    }
    if (started) {
        const float step = beside ? kGLFlightStep : kFlightStep;
        runs.streaming = Fly(engine, generator, false, work, step);
        runs.preloaded = Fly(engine, generator, true, work, step);
        if (beside) {
            BesideScene scene(*engine.GetGraphicsEngine()->GetRenderDevice());
            // The world the flights left goes first (its levels unload on their threads).
            double ms = 0.0, cpuMs = 0.0;
            for (int i = 0; i < 100 && scene.Ready(); ++i)
                scene.Frame(ms, cpuMs);
            if (scene.Ready())
                for (int size : kBesideSizes)
                    beside->push_back(FramesBesideLoader(*engine.GetGraphicsEngine()->GetRenderDevice(), scene, size));
        }
    } else {
        std::printf("bench_streaming: the engine did not start over the %s device\n", deviceName);
    }
    engine.Shutdown();
    GAME::gEngine = nullptr;
    return started;
}

} // namespace

const char* const kHelp = R"(bench_streaming: world streaming against a preloaded world.

Measures, on the Software device (Software.so; nothing is drawn, so the frame is the engine's own
work) and then on the OpenGL device (OpenGL.so, headless; llvmpipe without a GPU): a generated
world of 6 x 6 terrain regions and two caves, flown across by the scripted camera with about 8 ms
of fixed work on the main thread each frame, as a game's own frame work would be (a busy loop
calibrated at the start; each run's line says what it took in its frames). The streaming run
loads region levels on their loading threads as the view nears them and unloads them when unused.
Each frame moves the flight on by 12 ms: with frames of about 9 ms, the camera flies about 1.3 times
as fast as in real time. On the OpenGL device the loading threads upload the sample data's textures
and the levels' buffers while the main thread runs the engine's frames on the device (its display,
no view of the world); each frame moves the flight on by 36 ms (the same path in a third of the
frames).
Before each run, as behind a loading screen, a region loader brings in what the first view reaches
(the streaming run: the engine's loader for that view, doorways followed; the preloaded run: every
region), frames at 100 a second until it is done.
Reference, in the same run: the same flight with every region loaded before it and kept in use.
Last, on the OpenGL device: frames of 20 textured draws while a loader thread makes 12 textures of
512, 1024 and 2048 texels square with their mip chains, against as many frames with no loader (at
most 200).

Figures (last lines of the output); lower is better for each:
  value streaming_frame_p50 / _p99 / _max    frame times of the streaming run, ms (Software)
  value preloaded_frame_p50 / _p99 / _max    frame times of the preloaded run, ms (Software)
  ratio streaming_p99_vs_preloaded           streaming p99 / preloaded p99 (1: streaming costs nothing)
  value frames_over_50ms                     frames of the streaming run above 50 ms
  value regions_late                         regions in view (also through a doorway) before their
                                             level was in with its render data
  value gl_streaming_frame_p50 / _p99 / _max the same on the OpenGL device
  value gl_preloaded_frame_p50 / _p99 / _max
  ratio gl_streaming_p99_vs_preloaded        (target: at most 1.20)
  ratio gl_streaming_max_vs_preloaded        the longest streaming frame / the longest preloaded one
                                             (target: at most 2.0)
  value gl_frames_over_50ms
  value gl_regions_late                      (target: 0)
  value gl_streaming_longest_lock_wait       the main thread's longest wait for the OpenGL device's
                                             GL lock in the streaming flight, ms
  ratio gl_loader_<size>_longest_frame_vs_alone  the longest frame beside the loader / the longest
                                             of as many frames alone (wall time)
  value gl_loader_longest_lock_wait          the main thread's longest wait for the GL lock beside
                                             the loader, ms
)";

int main(int argc, char** argv)
{
    if (const int code = BenchCommandLine(argc, argv, kHelp); code >= 0)
        return code;
    const BenchFolder folder("bench_streaming", [](const std::filesystem::path& path) {
        DataKit::SampleGameData data;
        WorldGenerator::AddRecords(data.Database());
        return data.Write(path.string());
    });
    if (!folder.Ready())
        return 1;

    // Wide enough that the view's reach (its far plane and the level-load distance) covers a small
    // part of it: regions keep coming in ahead and going out behind.
    WorldGenerator generator(WorldGenerator::SampleWorld());
    uint64_t work = 0;
    auto prepare = [&]() {
        if (!generator.Generate() || !generator.Write(folder.Path().string()))
            return false;
        work = CalibrateSpin(kFixedWorkMs, 1u << 22);
        std::printf("world: %zu regions, flight %.1f s in %d frames\n", generator.GetRegions().size(),
                    generator.GetFlightDuration(), static_cast<int>(generator.GetFlightDuration() / kFlightStep));
        // Wall-clock figures: the machine's load moves them.
        std::printf("load average before: %s\n", LoadAverage().c_str());
        return true;
    };
    DeviceRuns software, gl;
    std::vector<BesideResult> beside;
    const auto start = Clock::now();
    const bool softwareRan = FlyOnDevice("Software", folder.Path(), generator, work, software, nullptr, prepare);
    const double softwareMs = Milliseconds(start, Clock::now());
    const bool glRan = softwareRan && FlyOnDevice("OpenGL", folder.Path(), generator, work, gl, &beside, nullptr);
    std::printf("load average after: %s (Software %.1f s, OpenGL %.1f s)\n", LoadAverage().c_str(),
                softwareMs / 1000.0, Milliseconds(start, Clock::now()) / 1000.0 - softwareMs / 1000.0);
    if (!softwareRan || !glRan) {
        GAME::RenderDevice::UnloadLibraries();
        return 1;
    }

    auto printRuns = [](const char* device, const DeviceRuns& runs) {
        const std::string streaming = std::string(device) + " streaming";
        const std::string preloaded = std::string(device) + " preloaded";
        PrintRun(streaming.c_str(), runs.streaming);
        PrintRun(preloaded.c_str(), runs.preloaded);
        std::printf("%s streaming: %d levels forced in on the main thread, %d waits for a loading thread\n", device,
                    runs.streaming.forcedLoads, runs.streaming.waits);
        if (!runs.streaming.late.empty())
            std::printf("%s streaming: in view before their level was in:%s\n", device,
                        runs.streaming.lateList.c_str());
        // Where a difference at p99 comes from: the engine's own part of the frames, or the fixed
        // work slowed by the loading threads' use of the processors (on a machine with no processor
        // to spare).
        std::printf("%s: p99 of the engine's part of a frame (the frame less its fixed work): streaming %.2f ms, "
                    "preloaded %.2f ms; of the fixed work: streaming %.2f ms, preloaded %.2f ms\n",
                    device, Percentile(EnginePart(runs.streaming), 0.99), Percentile(EnginePart(runs.preloaded), 0.99),
                    Percentile(runs.streaming.workMs, 0.99), Percentile(runs.preloaded.workMs, 0.99));
    };
    printRuns("Software", software);
    printRuns("OpenGL", gl);
    for (const BesideResult& b : beside) {
        std::printf("OpenGL, %d frames of %d draws beside a loader making %d textures of %d x %d in %.0f ms: longest "
                    "frame %.2f ms (alone %.2f ms), in processor time %.2f ms (alone %.2f ms)",
                    b.frames, kBesideDraws, kBesideTextures, b.size, b.size, b.loaderMs, b.besideMaxMs, b.aloneMaxMs,
                    b.besideMaxCpuMs, b.aloneMaxCpuMs);
        if (b.longestLockWaitNs >= 0)
            std::printf("; the main thread's longest wait for the GL lock %.3f ms, let in %lld times inside the "
                        "loader's uploads; the loader's longest hold %.3f ms (processor time), %.3f ms (wall)",
                        double(b.longestLockWaitNs) / 1e6, b.holdsBesideUploads, double(b.longestLoaderHoldNs) / 1e6,
                        double(b.longestLoaderHoldWallNs) / 1e6);
        std::printf("\n");
    }

    BenchReport report;
    auto figures = [&report](const std::string& prefix, const DeviceRuns& runs) {
        report.Value(prefix + "streaming_frame_p50", Percentile(runs.streaming.frameMs, 0.50), "ms");
        report.Value(prefix + "streaming_frame_p99", Percentile(runs.streaming.frameMs, 0.99), "ms");
        report.Value(prefix + "streaming_frame_max", Percentile(runs.streaming.frameMs, 1.0), "ms");
        report.Value(prefix + "preloaded_frame_p50", Percentile(runs.preloaded.frameMs, 0.50), "ms");
        report.Value(prefix + "preloaded_frame_p99", Percentile(runs.preloaded.frameMs, 0.99), "ms");
        report.Value(prefix + "preloaded_frame_max", Percentile(runs.preloaded.frameMs, 1.0), "ms");
        const double preloadedP99 = Percentile(runs.preloaded.frameMs, 0.99);
        report.Ratio(prefix + "streaming_p99_vs_preloaded",
                     preloadedP99 > 0.0 ? Percentile(runs.streaming.frameMs, 0.99) / preloadedP99 : 0.0);
        if (!prefix.empty()) {
            const double preloadedMax = Percentile(runs.preloaded.frameMs, 1.0);
            report.Ratio(prefix + "streaming_max_vs_preloaded",
                         preloadedMax > 0.0 ? Percentile(runs.streaming.frameMs, 1.0) / preloadedMax : 0.0);
        }
        report.Count(prefix + "frames_over_50ms", runs.streaming.framesOver50, "frames");
        report.Count(prefix + "regions_late", static_cast<long long>(runs.streaming.late.size()), "regions");
    };
    figures("", software);
    figures("gl_", gl);
    // The lock's figures come from the device's test hooks; a device without them has none.
    if (gl.streaming.longestLockWaitNs >= 0)
        report.Value("gl_streaming_longest_lock_wait", double(gl.streaming.longestLockWaitNs) / 1e6, "ms");
    long long longestWait = -1;
    for (const BesideResult& b : beside) {
        report.Ratio("gl_loader_" + std::to_string(b.size) + "_longest_frame_vs_alone",
                     b.aloneMaxMs > 0.0 ? b.besideMaxMs / b.aloneMaxMs : 0.0);
        longestWait = std::max(longestWait, b.longestLockWaitNs);
    }
    if (longestWait >= 0)
        report.Value("gl_loader_longest_lock_wait", double(longestWait) / 1e6, "ms");
    report.Print();
    GAME::RenderDevice::UnloadLibraries();
    return 0;
}
