// World streaming against a preloaded world. A generated world (a 6 x 6 grid of terrain regions
// with 200 entities each and two caves behind doorway portals) is flown across by the scripted
// camera while about 8 ms of fixed work (a busy loop calibrated in this run) runs on the main
// thread each frame, as a game's own frame work would. Run 1 streams: region levels load on their
// loading threads as the view nears them and unload after going unused. Run 2 has every region
// loaded before the flight and kept in use. Both runs see the same frames.
//
// Figures: the main thread's frame time (fixed work, engine update, render) at p50, p99 and max in
// both runs; the streaming run's p99 against the preloaded one; the frames of the streaming run
// above 50 ms; the regions that came into view (directly or through a doorway) before their level
// was resident. Before each run a region loader brings in, behind a loading screen, what the first
// view reaches (the engine's loader for that view) or every region (preloaded run).
#include "common/BenchEngine.h"
#include "common/BenchFolder.h"
#include "common/BenchMachine.h"
#include "common/BenchReport.h"
#include "core/Coords.h"
#include "core/Intersect.h"
#include "core/Log.h"
#include "core/ObjectManager.h"
#include "core/WorldFrustum.h"
#include "data/FileSystem.h"
#include "datakit/SampleGameData.h"
#include "datakit/WorldGenerator.h"
#include "graphics/RenderDevice.h"
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
#include <filesystem>
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

// The fixed work: a chain of dependent integer steps the compiler cannot drop.
std::atomic<uint64_t> g_sink{0};

void Spin(uint64_t iterations)
{
    uint64_t x = 0x9E3779B97F4A7C15ull + g_sink.load(std::memory_order_relaxed);
    for (uint64_t i = 0; i < iterations; ++i) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
    }
    g_sink.store(x, std::memory_order_relaxed);
}

// Iterations of Spin that take kFixedWorkMs on this machine now (the least disturbed of a few
// tries); what the work then took in the frames is printed with each run.
uint64_t CalibrateFixedWork()
{
    const uint64_t probe = 1u << 22;
    double best = 1e30;
    for (int i = 0; i < 7; ++i) {
        const auto start = Clock::now();
        Spin(probe);
        best = std::min(best, Milliseconds(start, Clock::now()));
    }
    return static_cast<uint64_t>(static_cast<double>(probe) * kFixedWorkMs / best);
}

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
};

RunResult Fly(CountingEngine& engine, const WorldGenerator& generator, bool preload, uint64_t workIterations)
{
    RunResult result;
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
    for (float t = 0.0f; t <= duration; t += kFlightStep) {
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
    std::printf("%-10s before the flight: %d regions loaded by the loader in %.0f ms, %d resident\n", name,
                run.loaderRegions, run.loaderMs, run.residentBefore);
    // The fixed work as it ran in these frames (the machine's load moves it from the calibration).
    std::printf(
        "%-10s %5zu frames  p50 %6.2f ms  p99 %6.2f ms  max %6.2f ms (fixed work p50 %.2f ms)  over 50 ms "
        "%d  level loads %d, unloads %d\n",
        name, run.frameMs.size(), Percentile(run.frameMs, 0.50), Percentile(run.frameMs, 0.99),
        Percentile(run.frameMs, 1.0), Percentile(run.workMs, 0.50), run.framesOver50, run.loads, run.unloads);
}

} // namespace

const char* const kHelp = R"(bench_streaming: world streaming against a preloaded world.

Measures, on the Software device (Software.so; nothing is drawn, so the frame is the engine's own
work): a generated world of 6 x 6 terrain regions and two caves, flown across by the scripted camera
with about 8 ms of fixed work on the main thread each frame, as a game's own frame work would be (a
busy loop calibrated at the start; each run's line says what it took in its frames). The streaming
run loads region levels on their loading threads as the view nears them and unloads
them when unused. Each frame moves the flight on by 12 ms: with frames of about 9 ms, the camera
flies about 1.3 times as fast as in real time. Before each run, as behind a loading screen, a
region loader brings in what the first view reaches (the streaming run: the engine's loader for
that view, doorways followed; the preloaded run: every region), frames at 100 a second until it is
done.
Reference, in the same run: the same flight with every region loaded before it and kept in use.

Figures (last lines of the output); lower is better for each:
  value streaming_frame_p50 / _p99 / _max    frame times of the streaming run, ms
  value preloaded_frame_p50 / _p99 / _max    frame times of the preloaded run, ms
  ratio streaming_p99_vs_preloaded           streaming p99 / preloaded p99 (1: streaming costs nothing)
  value frames_over_50ms                     frames of the streaming run above 50 ms
  value regions_late                         regions in view (also through a doorway) before their
                                             level was in with its render data
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

    int status = 0;
    {
        GAME::FileSystem files;
        CountingEngine engine;
        engine.Start(files, folder.Path().string(), "Software");

        // Wide enough that the view's reach (its far plane and the level-load distance) covers a
        // small part of it: regions keep coming in ahead and going out behind.
        WorldGenerator generator(WorldGenerator::SampleWorld());
        if (!engine.GetWorld() || !generator.Generate() || !generator.Write(folder.Path().string())) {
            std::printf("bench_streaming: the engine did not start or the world was not written\n");
            status = 1;
        } else {
            const uint64_t work = CalibrateFixedWork();
            std::printf("world: %zu regions, flight %.1f s in %d frames\n", generator.GetRegions().size(),
                        generator.GetFlightDuration(),
                        static_cast<int>(generator.GetFlightDuration() / kFlightStep));

            // Wall-clock figures: the machine's load moves them.
            std::printf("load average before: %s\n", LoadAverage().c_str());
            const RunResult streaming = Fly(engine, generator, false, work);
            const RunResult preloaded = Fly(engine, generator, true, work);
            std::printf("load average after: %s\n", LoadAverage().c_str());
            PrintRun("streaming", streaming);
            PrintRun("preloaded", preloaded);
            std::printf("streaming: %d levels forced in on the main thread, %d waits for a loading thread\n",
                        streaming.forcedLoads, streaming.waits);
            if (!streaming.late.empty())
                std::printf("streaming: in view before their level was in:%s\n", streaming.lateList.c_str());
            // Where a difference at p99 comes from: the engine's own part of the frames, or the
            // fixed work slowed by the loading threads' use of the processors (on a machine with
            // no processor to spare).
            std::printf("p99 of the engine's part of a frame (the frame less its fixed work): streaming %.2f ms, "
                        "preloaded %.2f ms; of the fixed work: streaming %.2f ms, preloaded %.2f ms\n",
                        Percentile(EnginePart(streaming), 0.99), Percentile(EnginePart(preloaded), 0.99),
                        Percentile(streaming.workMs, 0.99), Percentile(preloaded.workMs, 0.99));

            BenchReport report;
            report.Value("streaming_frame_p50", Percentile(streaming.frameMs, 0.50), "ms");
            report.Value("streaming_frame_p99", Percentile(streaming.frameMs, 0.99), "ms");
            report.Value("streaming_frame_max", Percentile(streaming.frameMs, 1.0), "ms");
            report.Value("preloaded_frame_p50", Percentile(preloaded.frameMs, 0.50), "ms");
            report.Value("preloaded_frame_p99", Percentile(preloaded.frameMs, 0.99), "ms");
            report.Value("preloaded_frame_max", Percentile(preloaded.frameMs, 1.0), "ms");
            const double preloadedP99 = Percentile(preloaded.frameMs, 0.99);
            report.Ratio("streaming_p99_vs_preloaded",
                         preloadedP99 > 0.0 ? Percentile(streaming.frameMs, 0.99) / preloadedP99 : 0.0);
            report.Count("frames_over_50ms", streaming.framesOver50, "frames");
            report.Count("regions_late", static_cast<long long>(streaming.late.size()), "regions");
            report.Print();
        }
        engine.Shutdown();
        GAME::gEngine = nullptr;
    }
    GAME::RenderDevice::UnloadLibraries();
    return status;
}
