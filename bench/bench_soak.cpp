// Memory over a long session: the sample host's flight over the OpenGL device (headless, EGL
// surfaceless; llvmpipe where there is no GPU) across the generated 6 x 6 world with its two caves,
// flown there and back five times (a pass is one round trip, so every pass ends where the flight
// starts, with the same regions about). Regions stream as in the host: the regions of the first
// view load before the flight, the others as the view nears them, and a level unloads after about
// 600 frames without use. The camera reaches far and a way takes 800 frames, so that few regions
// would fall idle that long: at each end of the path the soak asks the world to let every region
// the view does not use go (World::UnloadExtraRegions, as a game short of memory would), and they
// come in again as the view nears them on the way back. The view draws what the camera sees through the
// host's view (the portal renderer, the world's air, the props) at 320 x 240, so that every level's
// device buffers, textures and surfaces are made and given back as in a game while the frames stay
// cheap on a rasteriser.
//
// The reference is the process itself after the second pass: by then every region has been loaded
// and drawn and those at the ends unloaded and loaded again, so what a later pass adds to the
// resident memory is kept from levels that went away (their device objects, caches that never
// shrink, what the driver or the allocator keeps for them). After each pass the resident memory is
// printed as the process runs (the benchmark gives nothing back itself: what unloaded levels freed
// goes back as far as the allocator gives it back as it frees), with where it lies, the heap's
// live bytes (the allocator's own books), the device's count of its objects' bytes and the regions
// resident.
//
// A pass adds to the memory when it ends above every pass before it: memory given back in one pass
// (levels that unloaded) and taken again in the next is no growth. The growth after the second
// pass must stay under 5 %, and every pass after the first must unload levels and load them again
// (else it proves nothing): the program fails (exit code 1) when either does not hold. After the
// passes the world unloads, and what the device still holds beyond what it held before the world
// loaded is printed: the device objects of levels that went away.
//
// Also counted: regions that unloaded and loaded again within 120 frames (a level thrashing at the
// unload threshold).
#include "common/BenchEngine.h"
#include "common/BenchFolder.h"
#include "common/BenchMachine.h"
#include "common/BenchReport.h"
#include "common/HostWorld.h"

#include "FlightCamera.h"
#include "HostView.h"

#include "core/ObjectManager.h"
#include "core/WorldFrustum.h"
#include "data/FileSystem.h"
#include "datakit/SampleGameData.h"
#include "datakit/WorldGenerator.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/GraphicsResourceManagers.h"
#include "graphics/RenderDevice.h"
#include "platform/SystemInfo.h"
#include "world/Engine.h"
#include "world/Level.h"
#include "world/Region.h"
#include "world/RegionLoader.h"
#include "world/World.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using DataKit::WorldGenerator;

constexpr int kPasses = 5;
// Frames of one way along the path (the host flies it in 3,000).
constexpr int kFramesPerWay = 800;
// A region loaded again this soon after it unloaded was still needed: thrashing.
constexpr int kQuickReloadFrames = 120;
// The most a pass after the second may add to the resident memory, in percent.
constexpr double kGrowthLimitPercent = 5.0;

double Megabytes(uint64_t bytes)
{
    return static_cast<double>(bytes) / (1024.0 * 1024.0);
}

// The bytes of the device's objects (its count, where the driver reports no free memory).
uint64_t DeviceBytes(BenchEngine& engine)
{
    GAME::RenderDevice* device = engine.GetGraphicsEngine()->GetRenderDevice();
    const unsigned total = device->GetTotalVideoMemory(), free = device->GetFreeVideoMemory();
    return total > free ? total - free : 0;
}

// The host's game data, in small frames: what a level holds on the device does not depend on the
// picture's size.
bool MakeSampleData(const std::filesystem::path& folder)
{
    return WriteHostGameData(folder, "320 240");
}

// The resident memory by where it lies (/proc/self/smaps): the main heap, anonymous mappings (the
// other threads' heaps, large blocks, stacks, what the driver maps), files (code, data files) and
// the rest (shared memory, device files).
struct ResidentKinds
{
    uint64_t heap = 0, anonymous = 0, files = 0, other = 0;
};

ResidentKinds ResidentByKind()
{
    ResidentKinds kinds;
    std::ifstream smaps("/proc/self/smaps");
    std::string line;
    uint64_t* current = nullptr;
    while (std::getline(smaps, line)) {
        std::istringstream fields(line);
        std::string first;
        fields >> first;
        if (first == "Rss:") {
            uint64_t kilobytes = 0;
            if (current && fields >> kilobytes)
                *current += kilobytes * 1024u;
            continue;
        }
        // A mapping's first line: address range, permissions, offset, device, inode, path.
        const size_t dash = first.find('-');
        if (dash == std::string::npos || first.find_first_not_of("0123456789abcdef-") != std::string::npos)
            continue;
        std::string perms, offset, device, inode, path;
        fields >> perms >> offset >> device >> inode;
        std::getline(fields, path);
        path.erase(0, std::min(path.size(), path.find_first_not_of(' ')));
        if (path == "[heap]")
            current = &kinds.heap;
        else if (path.empty() || path.rfind("[stack", 0) == 0 || path == "[anon]")
            current = &kinds.anonymous;
        else if (path[0] == '/' && path.rfind("/dev/", 0) != 0 && path.rfind("/memfd", 0) != 0)
            current = &kinds.files;
        else
            current = &kinds.other;
    }
    return kinds;
}

// A region is resident when its level is in with its render data and no load is under way, and out
// when it has no level and none is loading: a level loading its render data is neither, and
// counts as neither a load nor an unload.
bool IsResident(const GAME::Region* region)
{
    const GAME::Level* level = region ? region->GetLevelPtr() : nullptr;
    return level && !region->IsLoadUnderWay() && level->HasLoadedRenderData();
}
bool IsOut(const GAME::Region* region)
{
    return region && !region->GetLevelPtr() && !region->IsLoadUnderWay();
}

struct PassResult
{
    uint64_t rss = 0; // as the process runs
    ResidentKinds kinds;
    uint64_t heap = 0;
    uint64_t deviceBytes = 0;
    size_t textures = 0;
    size_t meshes = 0;
    int resident = 0;
    int loads = 0;
    int unloads = 0;
    double seconds = 0.0;
};

class Soak
{
public:
    Soak(BenchEngine& engine, const WorldGenerator& generator, const std::string& folder)
        : m_engine(engine), m_generator(generator), m_world(*engine.GetWorld()), m_camera(generator, m_world),
          m_view(
              std::in_place, engine, [](const std::string&) {}, folder),
          m_resident(static_cast<size_t>(m_world.GetNumRegions()), false),
          m_unloadFrame(static_cast<size_t>(m_world.GetNumRegions()), neverUnloaded)
    {
        GAME::RenderDevice* device = engine.GetGraphicsEngine()->GetRenderDevice();
        m_viewport = GAME::Viewport(0, 0, device->GetWidth(), device->GetHeight());
    }
    ~Soak() { m_view.reset(); }

    // As behind a loading screen: the regions of the first view, three minutes at most.
    void LoadFirstView()
    {
        const GAME::WorldFrustum first = m_camera.ViewAt(0.0f, m_viewport);
        GAME::RegionLoader loader(first, true);
        const auto start = Clock::now();
        while (!loader.GetIsDone() && Milliseconds(start, Clock::now()) < 180000.0) {
            loader.Update();
            m_engine.Update(&first, false);
            m_engine.Render();
            m_engine.PresentSurface();
        }
        for (int i = 0; i < m_world.GetNumRegions(); ++i)
            m_resident[static_cast<size_t>(i)] = IsResident(m_world.GetRegion(i));
    }

    // The whole camera path and back again.
    PassResult Fly()
    {
        PassResult result;
        const auto start = Clock::now();
        const float duration = m_generator.GetFlightDuration();
        for (int frame = 0; frame < 2 * kFramesPerWay; ++frame) {
            const int step = frame < kFramesPerWay ? frame : 2 * kFramesPerWay - 1 - frame;
            const float along = duration * static_cast<float>(step) / static_cast<float>(kFramesPerWay - 1);
            const GAME::WorldFrustum frustum = m_camera.ViewAt(along, m_viewport);
            m_engine.Update(&frustum, true);
            m_view->Draw(m_camera);
            m_engine.Render();
            m_engine.PresentSurface();
            Count(result);
            ++m_frame;
            if (frame == kFramesPerWay - 1 || frame == 2 * kFramesPerWay - 1)
                m_world.UnloadExtraRegions();
        }
        result.seconds = Milliseconds(start, Clock::now()) / 1000.0;
        GAME::GraphicsEngine* graphics = m_engine.GetGraphicsEngine();
        result.rss = GAME::Platform::GetProcessWorkingSetBytes();
        result.kinds = ResidentByKind();
        result.heap = GAME::Platform::GetProcessHeapBytes();
        result.deviceBytes = DeviceBytes(m_engine);
        result.textures = graphics->GetTextureManager()->GetNumResources();
        result.meshes = graphics->GetMeshManager()->GetNumResources();
        result.resident = static_cast<int>(std::count(m_resident.begin(), m_resident.end(), true));
        return result;
    }

    int GetQuickReloads() const { return m_quickReloads; }

private:
    static constexpr int neverUnloaded = -1;

    void Count(PassResult& result)
    {
        for (int i = 0; i < m_world.GetNumRegions(); ++i) {
            const size_t index = static_cast<size_t>(i);
            const GAME::Region* region = m_world.GetRegion(i);
            const bool now = m_resident[index] ? !IsOut(region) : IsResident(region);
            if (now == m_resident[index])
                continue;
            m_resident[index] = now;
            if (!now) {
                ++result.unloads;
                m_unloadFrame[index] = m_frame;
                continue;
            }
            ++result.loads;
            if (m_unloadFrame[index] != neverUnloaded &&
                m_frame - m_unloadFrame[index] < kQuickReloadFrames) {
                ++m_quickReloads;
                std::printf("  %s loaded again %d frames after it unloaded\n",
                            m_world.GetRegion(i)->GetName().c_str(), m_frame - m_unloadFrame[index]);
            }
        }
    }

    BenchEngine& m_engine;
    const WorldGenerator& m_generator;
    GAME::World& m_world;
    SampleHost::FlightCamera m_camera;
    std::optional<SampleHost::HostView> m_view;
    GAME::Viewport m_viewport;
    std::vector<bool> m_resident;
    std::vector<int> m_unloadFrame;
    int m_frame = 0;
    int m_quickReloads = 0;
};

} // namespace

const char* const kHelp = R"(bench_soak: memory over a long session.

Measures, on the OpenGL device (headless; llvmpipe without a GPU), the sample host's flight across
the generated 6 x 6 world and its two caves, flown there and back five times (800 frames each way),
the regions streaming in and out as in the host (and, at each end of the path, every region the
view does not use let go) and the view drawn through the host's view at 320 x 240.
After each pass: the process's resident memory as it runs (the benchmark gives no memory back
itself; the engine gives back what unloaded levels freed), the heap's live bytes, the device's
bytes of its objects, the resource managers' textures and meshes, the regions resident and the
levels loaded and unloaded.
Reference, in the same run: the process after the second pass, by when every region has been
loaded and drawn and the caves unloaded and loaded again; a later pass must not add to it. Then
the world unloads, and the device must hold no more than before the world loaded.
The program fails (exit code 1) when a pass after the second adds 5 % or more, or when a pass after
the first unloads no level or loads none again.

Figures (last lines of the output); lower is better for each:
  value rss_after_pass_<n>                      resident memory after pass n, MB
  value rss_growth_after_second_pass_percent    the largest growth of a pass after the second over
                                                the highest pass before it, % (under 5: memory
                                                stopped growing)
  value device_objects_kept_after_unload        device objects' bytes after the world unloaded,
                                                beyond those before it loaded, MB
  value quick_reloads                           regions loaded again within 120 frames of unloading
)";

int main(int argc, char** argv)
{
    if (const int code = BenchCommandLine(argc, argv, kHelp); code >= 0)
        return code;
    const BenchFolder folder("bench_soak", MakeSampleData);
    if (!folder.Ready())
        return 1;
    std::printf("load average before: %s\n", LoadAverage().c_str());

    int status = 0;
    {
        GAME::FileSystem files;
        BenchEngine engine;
        WorldGenerator generator(WorldGenerator::SampleWorld());
        const bool written = StartOnGeneratedWorld(engine, files, folder.Path(), generator);
        GAME::World* world = engine.GetWorld();
        // What the device and the process hold before the world loads.
        const uint64_t deviceBefore = written ? DeviceBytes(engine) : 0;
        std::printf("before the world: resident %.1f MB, heap %.1f MB, device objects %.1f MB\n",
                    Megabytes(GAME::Platform::GetProcessWorkingSetBytes()),
                    Megabytes(GAME::Platform::GetProcessHeapBytes()), Megabytes(deviceBefore));
        if (!written || !world->Load(generator.GetSettings().mapName.c_str(), true)) {
            std::printf("bench_soak: the engine did not start or the world was not written or loaded\n");
            status = 1;
        } else {
            WorldGenerator::ApplyAtmosphere(*engine.GetSectorDataManager(), *engine.GetGraphicsEngine());
            std::vector<PassResult> passes;
            int quickReloads = 0;
            {
                Soak soak(engine, generator, folder.Path().string());
                soak.LoadFirstView();
                std::printf("before the flight: resident %.1f MB, heap %.1f MB\n",
                            Megabytes(GAME::Platform::GetProcessWorkingSetBytes()),
                            Megabytes(GAME::Platform::GetProcessHeapBytes()));
                for (int pass = 0; pass < kPasses; ++pass) {
                    passes.push_back(soak.Fly());
                    const PassResult& p = passes.back();
                    std::printf("pass %d: %.1f s, resident %.1f MB, heap %.1f MB, device objects %.1f MB, "
                                "%zu textures, %zu meshes, %d regions resident, %d loads, %d unloads\n",
                                pass + 1, p.seconds, Megabytes(p.rss), Megabytes(p.heap),
                                Megabytes(p.deviceBytes), p.textures, p.meshes, p.resident, p.loads,
                                p.unloads);
                    std::printf(
                        "  resident: main heap %.1f MB, anonymous %.1f MB, files %.1f MB, other %.1f MB\n",
                        Megabytes(p.kinds.heap), Megabytes(p.kinds.anonymous), Megabytes(p.kinds.files),
                        Megabytes(p.kinds.other));
                    std::fflush(stdout);
                }
                quickReloads = soak.GetQuickReloads();
            }
            // The world goes; frames run until the resources nobody refers to any more have been
            // deleted (they wait 5 s of the machine clock).
            world->Unload();
            GAME::ObjectManager::Get()->DestroyPendingObjects(UINT_MAX);
            const auto unloaded = Clock::now();
            while (Milliseconds(unloaded, Clock::now()) < 6000.0) {
                engine.Update(nullptr, false);
                engine.Render();
                engine.PresentSurface();
            }
            const uint64_t deviceAfter = DeviceBytes(engine);
            GAME::GraphicsEngine* graphics = engine.GetGraphicsEngine();
            std::printf(
                "world unloaded: device objects %.1f MB (%.1f MB before it loaded), %zu textures, %zu "
                "meshes, resident %.1f MB, heap %.1f MB\n",
                Megabytes(deviceAfter), Megabytes(deviceBefore),
                graphics->GetTextureManager()->GetNumResources(),
                graphics->GetMeshManager()->GetNumResources(),
                Megabytes(GAME::Platform::GetProcessWorkingSetBytes()),
                Megabytes(GAME::Platform::GetProcessHeapBytes()));
            std::printf("load average after: %s\n", LoadAverage().c_str());

            // Growth of a pass after the second over the highest of the passes before it.
            double rssGrowth = -100.0;
            uint64_t highest = passes.empty() ? 0 : passes[0].rss;
            for (size_t i = 1; i < passes.size(); ++i) {
                if (i >= 2)
                    rssGrowth = std::max(
                        rssGrowth,
                        (static_cast<double>(passes[i].rss) / static_cast<double>(highest) - 1.0) * 100.0);
                highest = std::max(highest, passes[i].rss);
            }
            // The promise, and that the passes it is measured over streamed at all.
            if (rssGrowth >= kGrowthLimitPercent) {
                std::printf(
                    "bench_soak: FAILED: a pass after the second added %.1f %% to the resident memory "
                    "(at most %.0f %%)\n",
                    rssGrowth, kGrowthLimitPercent);
                status = 1;
            }
            for (size_t i = 1; i < passes.size(); ++i)
                if (passes[i].loads == 0 || passes[i].unloads == 0) {
                    std::printf(
                        "bench_soak: FAILED: pass %zu unloaded %d levels and loaded %d: every pass after "
                        "the first must unload levels and load them again\n",
                        i + 1, passes[i].unloads, passes[i].loads);
                    status = 1;
                }
            BenchReport report;
            for (size_t i = 0; i < passes.size(); ++i)
                report.Value("rss_after_pass_" + std::to_string(i + 1), Megabytes(passes[i].rss), "MB");
            report.Value("rss_growth_after_second_pass_percent", rssGrowth, "%");
            report.Value("device_objects_kept_after_unload",
                         Megabytes(deviceAfter > deviceBefore ? deviceAfter - deviceBefore : 0), "MB");
            report.Count("quick_reloads", quickReloads, "regions");
            report.Print();
        }
        engine.Shutdown();
        GAME::gEngine = nullptr;
    }
    GAME::RenderDevice::UnloadLibraries();
    return status;
}
