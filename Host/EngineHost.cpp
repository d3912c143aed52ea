// The sample host: makes a small game's data with the library's writers, starts the engine headless
// over the OpenGL render device, generates a world of regions into its folder, loads it and flies
// a camera across every region while the world streams their levels in and out, then shuts the
// engine down, printing every log line and, per second of flight, frame times and the regions
// loaded and unloaded.
//
//   EngineHost [--window] [work-folder] [frames] [--server [port] | --connect <address>[:port]]
//              [--port <port>]
//
// The work folder (default "host-run" under the current folder) receives the game data, the
// world, the user's settings and the log file; the host runs inside it. Without a frame count the
// flight runs in real time at about 100 frames a second; with one, the whole flight is spread over
// that many frames. With --window and a display the host runs in a game window (Escape or closing
// it ends the run early); otherwise it runs headless.
//
// With --server the host hosts a network session, with --connect it joins one (see
// NetworkOptions.h); a server and a client on one machine need a work folder each, e.g.
//   EngineHost run-server --server        and        EngineHost run-client --connect 127.0.0.1
// The client reports its camera's view to the server, whose log shows the region it views.

#include "FlightCamera.h"
#include "HostEngine.h"
#include "HostPaths.h"
#include "HostSound.h"
#include "HostView.h"
#include "HostWindow.h"
#include "NetworkOptions.h"

#include "core/Object.h"
#include "core/ObjectManager.h"
#include "core/RTTI_ClassInfo.h"
#include "core/Time.h"
#include "core/WorldFrustum.h"
#include "data/DatabaseArchive.h"
#include "data/FileSystem.h"
#include "data/LoadTable.h"
#include "data/Options.h"
#include "data/ResourceLoader.h"
#include "datakit/SampleGameData.h"
#include "datakit/WorldGenerator.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/GraphicsEngineSettings.h"
#include "graphics/RenderDevice.h"
#include "world/Region.h"
#include "world/RegionLoader.h"
#include "world/StatisticsWidget.h"
#include "world/Tracker.h"
#include "world/World.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace SampleHost {

// A game object of the host's own, made by name from its database record.
class Marker : public GAME::Object
{
    GAME_DECLARE_CLASS(Marker)

public:
    void Load(const GAME::LoadTable& table) override
    {
        weight = const_cast<GAME::LoadTable&>(table).GetInt("weight", 0);
    }
    int weight = 0;
};

GAME_REGISTER_CLASS(Marker, GAME::Object)

namespace {

constexpr int markerCount = 50;
const char* const markerRecord = "Records/Sample/Marker.dbr";

// A world wide enough that the view's reach (its far plane and the level-load distance) covers a
// small part of it, flown fast enough that regions left behind go unused long enough to unload.
DataKit::WorldGenerator::Settings WorldPlan()
{
    DataKit::WorldGenerator::Settings plan;
    plan.regionsX = 6;
    plan.regionsZ = 6;
    plan.flightSpeed = 120.0f;
    return plan;
}

// Real-time frames of 10 ms: regions unload after about 600 frames without use.
constexpr std::chrono::microseconds framePeriod(10000);

// A region counts as resident once its level is in and completed.
bool IsResident(const GAME::Region* region)
{
    return region && region->IsLevelLoaded();
}

// "Levels/Generated/Field_1_2.lvl" -> "Field_1_2".
std::string ShortName(const std::string& name)
{
    const size_t slash = name.find_last_of("/\\");
    std::string text = slash == std::string::npos ? name : name.substr(slash + 1);
    const size_t dot = text.rfind('.');
    return dot == std::string::npos ? text : text.substr(0, dot);
}

// What one second of flight did.
struct FlightSecond
{
    int index = 0;
    int frames = 0;
    double totalMs = 0.0;
    double maxMs = 0.0;
    std::vector<std::string> changes; // "+name" loaded, "-name" unloaded, in order

    void Add(double ms)
    {
        ++frames;
        totalMs += ms;
        maxMs = std::max(maxMs, ms);
    }
    void Print(int resident, const std::string& view) const
    {
        std::string line;
        for (const std::string& change : changes)
            line += " " + change;
        std::printf(
            "  second %2d: %3d frames, frame time %5.2f ms avg %6.2f ms max, view in %-9s %2d resident%s\n",
            index, frames, frames ? totalMs / frames : 0.0, maxMs, view.c_str(), resident, line.c_str());
    }
};

bool MakeSampleData(const std::filesystem::path& folder)
{
    DataKit::SampleGameData data;
    HostView::AddPropRecords(data.Database());
    data.Database()
        .AddRecord(DataKit::NormalizeRecordName(markerRecord))
        .String("Class", "Marker")
        .Int("weight", 3);
    data.AddText("UI", "tagSampleGreeting", "Welcome to the sample host.");
    return data.Write(folder.string());
}

} // namespace

int Run(const std::filesystem::path& folder, int frames, const NetworkOptions& network, bool windowed)
{
    std::printf("EngineHost: making the sample game data in %s\n", folder.string().c_str());
    if (!MakeSampleData(folder)) {
        std::printf("EngineHost: could not write the sample data\n");
        return 1;
    }
    // Settings are read through the file system and written beside it: run inside the folder.
    std::error_code error;
    std::filesystem::current_path(folder, error);
    if (error) {
        std::printf("EngineHost: cannot enter %s\n", folder.string().c_str());
        return 1;
    }

    GAME::FileSystem files;
    files.AddSource(GAME::FileSystem::PARTITION_1, folder.string().c_str(), false, false, false);

    HostWindow window; // outlives the engine, which draws into it
    window.Open(windowed, GAME::GraphicsEngine::defaultWidth, GAME::GraphicsEngine::defaultHeight);
    HostEngine engine;
    GAME::gEngine = &engine;
    const std::string base = folder.string() + "/";
    engine.SetBaseUserPath(base);
    engine.SetLogPath(base + "log.html");
    engine.SetDumpPath(base + "dumps/");
    engine.SetDefaultSettingsPath(DataKit::SampleGameData::defaultSettingsName);
    engine.SetNormalSettingsPath(DataKit::SampleGameData::userSettingsName);
    engine.SetKeymapPath("Settings/keymap.txt");
    engine.SetSavePath(base + "save/");

    GAME::GraphicsEngineSettings settings;
    auto print = [](const std::string& line) { std::printf("%s\n", line.c_str()); };
    settings.deviceName = HostView::GetDeviceName(print);
    std::printf("EngineHost: starting the engine (%s, device \"%s\")\n",
                window.IsOpen() ? "in a window" : "headless", settings.deviceName.c_str());
    engine.Initialize(window.GetSystemWindow(), settings, false, false, &files);
    if (!engine.GetWorld()) {
        std::printf("EngineHost: start-up did not finish\n");
        return 1;
    }

    StartNetwork(engine, network); // a failure is reported; the host then runs alone

    GAME::GraphicsEngine* graphics = engine.GetGraphicsEngine();
    GAME::RenderDevice* device = graphics->GetRenderDevice();
    std::printf("\nEngineHost: started\n");
    std::printf("  render device       %s, %d x %d\n", device->GetStatusText(), device->GetWidth(),
                device->GetHeight());
    std::printf("  database            %u records (checksum %08x)\n",
                engine.GetDatabaseArchive()->GetNumRecords(), engine.GetDatabaseArchiveChecksum());
    std::printf("  processor cores     %u (single-processor mode %s)\n", GAME::GetNumberOfProcessorCores(),
                engine.GetIsSingleProcessorModeEnabled() ? "on" : "off");
    std::printf("  input device        %s\n", !engine.GetInputDevice() ? "none"
                                              : window.IsOpen()        ? "keyboard and mouse of the window"
                                                                       : "headless");
    std::printf("  network role        %s\n", DescribeNetwork(engine).c_str());
    std::printf("  display widgets     %d\n", engine.GetDisplay().GetNumWidgets());
    HostSound hostSound(engine);
    std::printf("\n");

    // The world: generated into the folder, then loaded as a game loads its map.
    GAME::World* world = engine.GetWorld();
    DataKit::WorldGenerator generator(WorldPlan());
    const DataKit::WorldGenerator::Settings& plan = generator.GetSettings();
    if (!generator.Generate() || !generator.Write(folder.string())) {
        std::printf("EngineHost: could not generate the world\n");
        return 1;
    }
    unsigned entities = 0;
    for (const DataKit::WorldGenerator::RegionInfo& region : generator.GetRegions())
        entities += region.entities;
    std::printf(
        "EngineHost: generated %s: %d x %d fields of %d units and %d caves (%zu regions), %u entities, "
        "%zu portals, %zu bytes\n",
        plan.mapName.c_str(), plan.regionsX, plan.regionsZ, plan.regionSize, plan.caves,
        generator.GetRegions().size(), entities, generator.GetPortals().size(), generator.BuildMap().size());
    // The map carries its portals in a chunk of the game's own, placed by this callback.
    auto* portalReader = new DataKit::PortalChunkReader(world);
    if (!world->InstallMapChunkCallback(portalReader))
        delete portalReader; // refused: not the engine's to delete
    if (!world->Load(plan.mapName.c_str(), true)) {
        std::printf("EngineHost: could not load %s\n", plan.mapName.c_str());
        return 1;
    }
    std::printf("EngineHost: loaded %s: %d regions\n", plan.mapName.c_str(), world->GetNumRegions());

    // Objects made from the host's record, all queued for destruction at once: the frames take
    // them down 20 at a time.
    GAME::ObjectManager* objects = GAME::ObjectManager::Get();
    int made = 0;
    for (int i = 0; i < markerCount; ++i)
        if (GAME::Object* marker = objects->CreateObjectFromFile(markerRecord)) {
            objects->DestroyObjectEx(marker, __FILE__, __LINE__);
            ++made;
        }
    std::printf("EngineHost: %d objects of the host's class made and queued for destruction\n", made);

    window.Attach(engine);
    bool running = true;
    engine.ShowThreadMonitor(true);
    engine.ShowProfiler(true);
    GAME::Tracker* tracker = GAME::Tracker::Get();
    const float duration = generator.GetFlightDuration();
    if (frames > 0)
        std::printf("EngineHost: flying %.1f s of camera path in %d frames\n", duration, frames);
    else
        std::printf("EngineHost: flying the camera for %.1f s\n", duration);

    // The world camera follows a target along the flight path.
    FlightCamera camera(generator, *world);
    std::optional<HostView> view(std::in_place, engine, print, folder.string());
    const GAME::Viewport viewport(0, 0, device->GetWidth(), device->GetHeight());
    auto viewAt = [&](float seconds) { return camera.ViewAt(seconds, viewport); };

    // As behind a loading screen: the regions the first view reaches load before the flight, the
    // world not yet walked.
    {
        const GAME::WorldFrustum first = viewAt(0.0f);
        GAME::RegionLoader loader(first, true);
        const auto loadStart = std::chrono::steady_clock::now();
        int loadFrames = 0;
        while (!loader.GetIsDone() && loadFrames < 1000 && (running = window.Frame())) {
            loader.Update();
            engine.Update(&first, false);
            engine.Render();
            engine.PresentSurface();
            ++loadFrames;
        }
        std::printf(
            "EngineHost: %d regions in reach of the first view loaded in %d frames (%.0f ms)\n",
            loader.GetNumRegions(), loadFrames,
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - loadStart).count());
    }

    LogPathsAcrossRegions(*world, generator);

    std::vector<bool> resident(static_cast<size_t>(world->GetNumRegions()), false);
    for (int i = 0; i < world->GetNumRegions(); ++i)
        resident[static_cast<size_t>(i)] = IsResident(world->GetRegion(i));
    FlightSecond second;
    int totalGameTime = 0;
    float flightTime = 0.0f;
    std::vector<GAME::StatisticsWidget::Entry> lastStatistics;
    const auto start = std::chrono::steady_clock::now();
    auto last = start;
    for (int frame = 0; running; ++frame) {
        if (!window.Frame())
            break;
        const GAME::WorldFrustum frustum = viewAt(flightTime);
        const DataKit::WorldGenerator::View heard = generator.GetFlightView(flightTime);
        hostSound.Frame(frustum.GetRegion(), heard.position, heard.direction);

        const auto frameStart = std::chrono::steady_clock::now();
        tracker->Update(engine.GetUpdateTime());
        tracker->IncrementInt("FrameStats", "frames drawn");
        engine.Update(&frustum, true);
        tracker->DisplayFrameStats();
        const bool lastFrame = flightTime >= duration;
        if (lastFrame) // the last frame's statistics go to the console instead of the screen
            lastStatistics = engine.GetStatisticsWidget()->TakeEntries();
        view->Draw(camera);
        engine.Render();
        view->MaybeScreenshot(frustum.GetRegion());
        engine.PresentSurface();
        const auto frameEnd = std::chrono::steady_clock::now();
        totalGameTime += engine.GetUpdateTime();

        second.Add(std::chrono::duration<double, std::milli>(frameEnd - frameStart).count());
        for (int i = 0; i < world->GetNumRegions(); ++i) {
            const bool now = IsResident(world->GetRegion(i));
            if (now != resident[static_cast<size_t>(i)]) {
                // Appended rather than concatenated: GCC 12 warns falsely (-Wrestrict) otherwise.
                std::string change(now ? "+" : "-");
                change += ShortName(world->GetRegion(i)->GetName());
                second.changes.push_back(std::move(change));
            }
            resident[static_cast<size_t>(i)] = now;
        }
        if (lastFrame || static_cast<int>(flightTime) != second.index) {
            const int count = static_cast<int>(std::count(resident.begin(), resident.end(), true));
            second.Print(count, ShortName(frustum.GetRegion()->GetName()));
            second = FlightSecond();
            second.index = static_cast<int>(flightTime);
        }
        if (lastFrame)
            break;

        if (frames > 0) {
            flightTime += duration / static_cast<float>(frames);
        } else {
            // Real time at about 100 frames a second.
            std::this_thread::sleep_until(frameStart + framePeriod);
            const auto now = std::chrono::steady_clock::now();
            flightTime += std::chrono::duration<float>(now - last).count();
            last = now;
        }
        flightTime = std::min(flightTime, duration);
    }
    for (const GAME::StatisticsWidget::Entry& entry : lastStatistics)
        std::printf("  statistics line     %s\n", entry.text.c_str());
    for (const std::string& screenshot : view->GetScreenshots())
        std::printf("  screenshot          %s\n", screenshot.c_str());
    view.reset();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    GAME::Tracker::Destroy();

    std::printf("\nEngineHost: %u frames in %.2f s (%.1f frames a second), %d ms of game time\n",
                engine.GetFrameCount(), seconds, seconds > 0 ? engine.GetFrameCount() / seconds : 0.0,
                totalGameTime);
    std::printf("  graphics engine     %.1f frames a second over its last sample\n",
                graphics->GetFramesPerSecond());
    std::printf("  resource loader     %u resources loaded\n", engine.GetResourceLoader()->GetLoadedCount());
    std::printf("  network             %s\n", DescribeNetwork(engine).c_str());

    // The host keeps the user's settings, as a game does when the player changes them.
    if (!engine.GetOptions()->Save(DataKit::SampleGameData::userSettingsName))
        std::printf("EngineHost: could not save the user's settings\n");
    std::printf("EngineHost: shutting down\n");
    window.Detach(engine);
    engine.Shutdown();
    std::printf("\nEngineHost: done; %u log lines (%u warnings, %u notices)\n", engine.GetLineCount(),
                engine.GetWarningCount(), engine.GetImportantCount());
    std::printf("  log file            %slog.html\n", base.c_str());
    std::printf("  user settings       %s%s\n", base.c_str(), DataKit::SampleGameData::userSettingsName);
    return 0;
}

} // namespace SampleHost

int main(int argc, char** argv)
{
    SampleHost::NetworkOptions network;
    if (!SampleHost::TakeNetworkOptions(argc, argv, network))
        return 2;
    const bool windowed = SampleHost::TakeWindowOption(argc, argv);
    std::filesystem::path folder =
        argc > 1 ? std::filesystem::path(argv[1]) : std::filesystem::path("host-run");
    // No count (or 0): the flight in real time.
    const int frames = argc > 2 ? std::max(0, std::atoi(argv[2])) : 0;
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    folder = std::filesystem::absolute(folder, error).lexically_normal();
    const int result = SampleHost::Run(folder, frames, network, windowed);
    GAME::RenderDevice::UnloadLibraries();
    return result;
}
