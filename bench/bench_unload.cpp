// Levels going out of the world against the frames around them: the sample host's flight over the
// OpenGL device (headless, EGL surfaceless; llvmpipe where there is no GPU) across the generated
// 6 x 6 world and its two caves, in 3,000 frames for the whole path as the host flies it, so that
// regions the view left behind go unused for their 600 frames and unload while those ahead come in
// on their loading threads. Before the flight, as behind a loading screen, every region loads and
// views along the whole path are drawn through the host's view at 320 x 240 (the portal renderer,
// the world's air, the props), as the host's loading frames do: the levels then hold what a drawn
// flight gives them (their device objects, the renderer's data, the driver's memory), and the
// first levels go out some 600 frames into the flight. The flight's frames draw the engine's
// display but not the view, so that what the rasteriser draws does not move their length (a
// doorway's composite alone takes two to three median frames on llvmpipe); each runs about 8 ms of
// fixed work on the main thread (a busy loop calibrated in this run), as a game's own frame work
// would.
//
// Each frame is filed under the second of camera path it shows, and each second by what the
// streaming did in it: levels went out, levels came in (and none went out), or neither. The
// reference is the median frame of the same run; the figures are the longest frame of the seconds
// in which levels went out and of those in which levels came in, against it. The seconds with
// neither are printed beside them: what the machine's load alone does to a frame.
#include "common/BenchEngine.h"
#include "common/BenchFolder.h"
#include "common/BenchMachine.h"
#include "common/BenchReport.h"
#include "common/FixedWork.h"
#include "common/HostWorld.h"

#include "FlightCamera.h"
#include "HostView.h"

#include "core/ObjectManager.h"
#include "core/WorldFrustum.h"
#include "data/FileSystem.h"
#include "datakit/WorldGenerator.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/RenderDevice.h"
#include "platform/SystemInfo.h"
#include "world/Engine.h"
#include "world/Level.h"
#include "world/Region.h"
#include "world/RegionLoader.h"
#include "world/World.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using DataKit::WorldGenerator;

// The host's flight: the whole path in this many frames; the views the loading frames draw.
constexpr int kFrames = 3000;
constexpr int kLoadingViews = 60;
constexpr double kFixedWorkMs = 8.0;

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// A region is resident when its level is in with its render data and no load is under way, and out
// when it has no level and none is loading (as the soak counts them).
bool IsResident(const GAME::Region* region)
{
    const GAME::Level* level = region ? region->GetLevelPtr() : nullptr;
    return level && !region->IsLoadUnderWay() && level->HasLoadedRenderData();
}
bool IsOut(const GAME::Region* region)
{
    return region && !region->GetLevelPtr() && !region->IsLoadUnderWay();
}

// One second of camera path.
struct Second
{
    int frames = 0;
    double longestMs = 0.0;
    std::string changes; // " -name" went out, " +name" came in
    int out = 0;
    int in = 0;
};

struct FlightResult
{
    std::vector<double> frameMs;
    std::map<int, Second> seconds;
    int levelsOut = 0;
    int levelsIn = 0;
    int mostOutInOneFrame = 0;
    double loadingMs = 0.0;
};

FlightResult Fly(BenchEngine& engine, const WorldGenerator& generator, const std::string& folder,
                 uint64_t work)
{
    FlightResult result;
    GAME::World& world = *engine.GetWorld();
    SampleHost::FlightCamera camera(generator, world);
    GAME::RenderDevice* device = engine.GetGraphicsEngine()->GetRenderDevice();
    const GAME::Viewport viewport(0, 0, device->GetWidth(), device->GetHeight());
    const float duration = generator.GetFlightDuration();

    // As behind a loading screen: every region, then views along the whole path drawn.
    const auto loadStart = Clock::now();
    {
        SampleHost::HostView view(
            engine, [](const std::string&) {}, folder);
        std::vector<GAME::Region*> all;
        for (int i = 0; i < world.GetNumRegions(); ++i)
            all.push_back(world.GetRegion(i));
        const GAME::WorldFrustum first = camera.ViewAt(0.0f, viewport);
        GAME::RegionLoader loader(engine.GetResourceLoader(), all, true);
        while (!loader.GetIsDone() && Milliseconds(loadStart, Clock::now()) < 60000.0) {
            loader.Update();
            engine.Update(&first, false);
            engine.Render();
            engine.PresentSurface();
        }
        for (int frame = 0; frame < kLoadingViews; ++frame) {
            camera.Jump();
            const float along = duration * static_cast<float>(frame) / static_cast<float>(kLoadingViews - 1);
            const GAME::WorldFrustum frustum = camera.ViewAt(along, viewport);
            engine.Update(&frustum, true);
            view.Draw(camera);
            engine.Render();
            engine.PresentSurface();
        }
        camera.Jump();
    }
    result.loadingMs = Milliseconds(loadStart, Clock::now());

    const int count = world.GetNumRegions();
    std::vector<bool> resident(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        resident[static_cast<size_t>(i)] = IsResident(world.GetRegion(i));
    for (int frame = 0; frame < kFrames; ++frame) {
        const float along = duration * static_cast<float>(frame) / static_cast<float>(kFrames - 1);
        const auto start = Clock::now();
        Spin(work);
        const GAME::WorldFrustum frustum = camera.ViewAt(along, viewport);
        engine.Update(&frustum, true);
        engine.Render();
        engine.PresentSurface();
        const double ms = Milliseconds(start, Clock::now());
        result.frameMs.push_back(ms);

        Second& second = result.seconds[static_cast<int>(along)];
        ++second.frames;
        second.longestMs = std::max(second.longestMs, ms);
        int outNow = 0;
        for (int i = 0; i < count; ++i) {
            const size_t index = static_cast<size_t>(i);
            const GAME::Region* region = world.GetRegion(i);
            const bool now = resident[index] ? !IsOut(region) : IsResident(region);
            if (now == resident[index])
                continue;
            resident[index] = now;
            std::string name = region->GetName();
            name = name.substr(name.find_last_of("/\\") + 1);
            name = name.substr(0, name.rfind('.'));
            second.changes += (now ? " +" : " -") + name;
            ++(now ? second.in : second.out);
            ++(now ? result.levelsIn : result.levelsOut);
            outNow += now ? 0 : 1;
        }
        result.mostOutInOneFrame = std::max(result.mostOutInOneFrame, outNow);
    }
    return result;
}

} // namespace

const char* const kHelp = R"(bench_unload: levels going out of the world against the frames around them.

Measures, on the OpenGL device (headless; llvmpipe without a GPU), the sample host's flight across
the generated 6 x 6 world and its two caves in 3,000 frames, as the host flies it, with about 8 ms
of fixed work on the main thread each frame (a busy loop calibrated at the start, as a game's own
frame work would be). Before the flight every region loads and views along the whole path are drawn
through the host's view at 320 x 240, as the host's loading frames do; the flight's frames draw the
engine's display, not the view, so that the rasteriser's work does not move their length. Regions
the view left unload after their 600 frames without use; those ahead load on their loading threads.
Each frame is filed under the second of camera path it shows, each second by what the streaming did
in it.
Reference, in the same run: the median frame (fixed work, the engine's update, render and present).

Figures (last lines of the output); lower is better for each:
  ratio level_out_second_longest_vs_median   the longest frame of the seconds in which levels went
                                             out / the median frame (target: at most 2)
  ratio level_in_second_longest_vs_median    the same for the seconds in which levels came in and
                                             none went out (target: at most 2)
  ratio quiet_second_longest_vs_median       the same for the seconds in which none came or went:
                                             what the machine's load alone does (informative)
  value frame_median                         ms
  value levels_out, levels_in                levels that went out and came in during the flight
  value most_levels_out_in_one_frame         levels (at most 1: the world unloads one a frame)
)";

int main(int argc, char** argv)
{
    if (const int code = BenchCommandLine(argc, argv, kHelp); code >= 0)
        return code;
    const BenchFolder folder(
        "bench_unload", [](const std::filesystem::path& path) { return WriteHostGameData(path, "320 240"); });
    if (!folder.Ready())
        return 1;

    int status = 0;
    {
        GAME::FileSystem files;
        BenchEngine engine;
        WorldGenerator generator(WorldGenerator::SampleWorld());
        const bool written = StartOnGeneratedWorld(engine, files, folder.Path(), generator);
        GAME::World* world = engine.GetWorld();
        if (!written || !world->Load(generator.GetSettings().mapName.c_str(), true)) {
            std::printf("bench_unload: the engine did not start or the world was not written or loaded\n");
            status = 1;
        } else {
            WorldGenerator::ApplyAtmosphere(*engine.GetSectorDataManager(), *engine.GetGraphicsEngine());
            // As the frames will run: the engine pinned the main thread to a processor of its own.
            const uint64_t work = CalibrateSpin(kFixedWorkMs, 1u << 21);
            std::printf("load average before: %s, %u processors\n", LoadAverage().c_str(),
                        std::thread::hardware_concurrency());
            const FlightResult flight = Fly(engine, generator, folder.Path().string(), work);
            std::printf("load average after: %s\n", LoadAverage().c_str());
            const double median = Median(flight.frameMs);
            double outLongest = 0.0, inLongest = 0.0, quietLongest = 0.0;
            for (const auto& [index, second] : flight.seconds) {
                const char* kind = second.out > 0 ? "out" : second.in > 0 ? "in" : "quiet";
                double& longest = second.out > 0 ? outLongest : second.in > 0 ? inLongest : quietLongest;
                longest = std::max(longest, second.longestMs);
                std::printf("path %5d ms: %3d frames, longest %7.2f ms (%4.1f times the median), %-5s%s\n",
                            index * 1000, second.frames, second.longestMs, second.longestMs / median, kind,
                            second.changes.c_str());
            }
            std::printf("loading before the flight %.0f ms; flight of %d frames, median %.2f ms\n",
                        flight.loadingMs, kFrames, median);
            if (flight.levelsOut == 0 || flight.levelsIn == 0) {
                std::printf(
                    "bench_unload: FAILED: %d levels went out and %d came in: the flight must do both\n",
                    flight.levelsOut, flight.levelsIn);
                status = 1;
            }
            BenchReport report;
            report.Ratio("level_out_second_longest_vs_median", median > 0.0 ? outLongest / median : 0.0);
            report.Ratio("level_in_second_longest_vs_median", median > 0.0 ? inLongest / median : 0.0);
            report.Ratio("quiet_second_longest_vs_median", median > 0.0 ? quietLongest / median : 0.0);
            report.Value("frame_median", median, "ms");
            report.Count("levels_out", flight.levelsOut, "levels");
            report.Count("levels_in", flight.levelsIn, "levels");
            report.Count("most_levels_out_in_one_frame", flight.mostOutInOneFrame, "levels");
            report.Print();
        }
        world->Unload();
        GAME::ObjectManager::Get()->DestroyPendingObjects(UINT_MAX);
        engine.Shutdown();
        GAME::gEngine = nullptr;
    }
    GAME::RenderDevice::UnloadLibraries();
    return status;
}
