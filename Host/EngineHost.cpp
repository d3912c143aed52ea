// The sample host: makes a small game's data with the library's writers, starts the engine over
// the OpenGL render device (headless, or in a game window with --window), generates a world of
// regions into its folder, loads it and flies a camera across every region while the world streams
// their levels in and out, then shuts the engine down. It prints every log line, the start-up
// summary, for each 1000 ms of flight the frame times and the regions loaded and unloaded, and at
// the end what the flight did; log.html in the run folder holds the same lines, and the paths it
// prints are inside the run folder.
//
//   EngineHost [options] [run-folder] [frames]      (EngineHost --help: the usage, HostOptions.h)
//
// The run folder (default "host-run" under the current folder) receives the game data, the world,
// the user's settings and the log file; the host runs inside it. Without a frame count the flight
// runs in real time, one frame every 10 ms at most (a frame long enough to carry the camera over a
// region holds the flight there, so that every region is viewed); with one, the whole flight is
// spread over that many frames, run as fast as they go (the end names any region they stepped
// over). With --window and a display the host runs in a game window (Escape or closing it ends the
// run early; F3 shows the engine's statistics, which --stats shows from the start); otherwise it
// runs headless.
//
// With --server the host hosts a network session, with --connect it joins one (see
// NetworkOptions.h); a server and a client on one machine need a run folder each, e.g.
//   EngineHost run-server --server        and        EngineHost run-client --connect 127.0.0.1
// The client reports its camera's view to the server, whose log shows the region it views.

#include "FlightCamera.h"
#include "FlightCoverage.h"
#include "FlightSummary.h"
#include "HostEngine.h"
#include "HostInterrupt.h"
#include "HostMapData.h"
#include "HostOptions.h"
#include "HostOutput.h"
#include "HostPaths.h"
#include "HostRunFolder.h"
#include "HostSound.h"
#include "HostView.h"
#include "HostWindow.h"
#include "NetworkOptions.h"

#include "core/Object.h"
#include "core/ObjectManager.h"
#include "core/Profile.h"
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
#include "network/Socket.h"
#include "platform/PlatformFile.h"
#include "platform/Threading.h"
#include "world/Region.h"
#include "world/RegionLoader.h"
#include "world/StatisticsWidget.h"
#include "world/Tracker.h"
#include "world/World.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <utility>
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

// Real-time frames of 10 ms: regions unload after about 600 frames without use (6 s).
constexpr std::chrono::microseconds framePeriod(10000);
constexpr int unloadFrames = 600;
// The longest the regions of the first view may take to load before the flight starts, and the
// loading frames that draw the first view once they are in.
constexpr double loadingLimitMs = 60000.0;
constexpr int firstViewLoadingFrames = 2;
// The loading frames' views along the path: one every so many seconds, and these many seconds from
// each doorway the path goes through; the frames each is drawn for at least.
constexpr float loadingViewStep = 0.5f;
constexpr float doorwayViewOffsets[] = {-0.6f, -0.3f, -0.1f, 0.1f, 0.3f, 0.6f};
constexpr int loadingViewFrames = 1;
// A line saying how far the loading is, every so often.
constexpr double loadingProgressMs = 5000.0;

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

// What 1000 ms of flight did (of camera path, simulated in a run of fixed frames).
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
    void Print(HostOutput& out, int resident, const std::string& view) const
    {
        std::string line;
        for (const std::string& change : changes)
            line += " " + change;
        out.Printf("  path %5d ms: %3d %s, frame time %6.2f ms avg %7.2f ms max, view in %-9s %2d resident%s",
                   index * 1000, frames, frames == 1 ? "frame" : "frames", frames ? totalMs / frames : 0.0,
                   maxMs, view.c_str(), resident, line.c_str());
    }
};

// The flight's longest frame and what the engine did in it: the levels it took in or let go, the
// levels the main thread had to load itself, the resources it finished, and the profiler's blocks
// (the heaviest first).
struct LongestFrame
{
    double ms = -1.0;
    float at = 0.0f; // seconds of path
    std::string region;
    std::vector<std::string> changes;
    unsigned int forcedLoads = 0;
    std::string waits; // the main thread's waits in it, for levels still loading on their threads
    unsigned int resources = 0;
    std::vector<GAME::Profile::TimeInfo> blocks;

    void Print(HostOutput& out) const
    {
        std::string did;
        for (const std::string& change : changes)
            did += " " + change;
        did = changes.empty() ? "no level came in or went" : "levels" + did;
        if (forcedLoads)
            did += ", " + std::to_string(forcedLoads) + " of them loaded by the main thread itself";
        if (!waits.empty())
            did += ", the main thread waiting for " + waits;
        if (resources)
            did += ", " + Counted(resources, "resource", "resources") + " finished";
        out.Printf("  longest frame       %.1f ms at %.0f ms of path, the view in %s: %s", ms, at * 1000.0,
                   region.c_str(), did.c_str());
        if (blocks.empty())
            return;
        // The engine's blocks nest (the scene inside the render): the heaviest few, each whole.
        std::vector<GAME::Profile::TimeInfo> heaviest = blocks;
        std::sort(heaviest.begin(), heaviest.end(),
                  [](const auto& a, const auto& b) { return a.milliseconds > b.milliseconds; });
        std::string text;
        for (size_t i = 0; i < heaviest.size() && i < 4; ++i)
            text += GAME::FormatString("%s%s %.1f ms", i ? ", " : "", heaviest[i].name, heaviest[i].milliseconds);
        out.Printf("                      the profiler's heaviest blocks in it: %s", text.c_str());
    }
};

bool MakeSampleData(const std::filesystem::path& folder)
{
    DataKit::SampleGameData data;
    HostView::AddWorldData(data);
    data.Database()
        .AddRecord(DataKit::NormalizeRecordName(markerRecord))
        .String("Class", "Marker")
        .Int("weight", 3);
    data.AddText("UI", "tagSampleGreeting", "Welcome to the sample host.");
    return data.Write(folder.string());
}

// A path inside the run folder, as the user finds it there.
std::string InFolder(const std::filesystem::path& folder, const std::string& path)
{
    const std::filesystem::path relative = std::filesystem::path(path).lexically_relative(folder);
    return relative.empty() || *relative.begin() == ".." ? path : relative.string();
}

// "2 of the machine's 8 may be used (4,5); the engine's main thread keeps to processor 4": the
// processors the process may use (taskset's), which its frames and loads share.
std::string DescribeProcessors()
{
    const uint64_t mask = GAME::Platform::GetProcessAffinity();
    std::string list;
    int count = 0;
    for (int cpu = 0; cpu < 64; ++cpu) {
        if (!((mask >> cpu) & 1))
            continue;
        ++count;
        int last = cpu;
        while (last + 1 < 64 && ((mask >> (last + 1)) & 1))
            ++last;
        if (!list.empty())
            list += ',';
        list += std::to_string(cpu);
        if (last > cpu) {
            list += last == cpu + 1 ? ',' : '-';
            list += std::to_string(last);
        }
        count += last - cpu;
        cpu = last;
    }
    const unsigned int online = std::thread::hardware_concurrency();
    if (count == 0)
        return "not known";
    std::string text = std::to_string(count);
    if (online > 0)
        text += " of the machine's " + std::to_string(online);
    text += " may be used (" + list + "); the engine's main thread keeps to processor " +
            std::to_string(__builtin_ctzll(mask));
    return text;
}

// "Field_5_5 84 ms, Field_2_4 47 ms": the waits from the index on.
std::string ListWaits(const LevelLoadTimes& times, size_t first)
{
    std::string text;
    const std::vector<LevelLoadTimes::Wait> waits = times.GetWaits();
    for (size_t i = first; i < waits.size(); ++i) {
        text += text.empty() ? "" : ", ";
        text += ShortLevelName(waits[i].level);
        if (waits[i].arrived >= 0.0)
            text += GAME::FormatString(" %.0f ms", waits[i].arrived - waits[i].began);
    }
    return text;
}

double MillisecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// The frame's drawing, after the engine's update, in the loading frames and the flight alike: the
// widgets (Render), then the finished surface (PresentSurface).
// One frame on the screen: the camera's view of the world (when there is one yet) under the
// widgets, then a screenshot when the view entered a new region.
void DrawFrame(GAME::Engine& engine, HostView* view = nullptr, FlightCamera* camera = nullptr,
               GAME::Region* region = nullptr)
{
    if (view && camera) {
        GAME::Profile block("Host: view (a screenshot's request or collect)");
        view->Draw(*camera);
    }
    engine.Render();
    if (view) {
        GAME::Profile block("Host: screenshot");
        view->MaybeScreenshot(region);
    }
    engine.PresentSurface();
}

} // namespace

// Whether a session could be hosted on the port now, on every address: a socket of the network's
// own is bound there and closed again. False with the reason (another program holds the port, say).
bool CanListen(int port, std::string& why)
{
    GAME::Socket probe;
    if (probe.Listen(nullptr, port, 1))
        return true;
    why = probe.GetListenError();
    if (why.empty())
        why = "the network gave no reason";
    return false;
}

// folder: where the run's files go, the run folder held (RunFolder::GetRoot); the lines name it as
// the user finds it (HostOutput::ShowFolderAs).
int Run(const std::filesystem::path& folder, const HostOptions& options, HostOutput& out, HostLogSink& lines)
{
    const int frames = options.frames;
    // Both outlive the engine, which draws into the one and reads through the other.
    HostWindow window(out);
    GAME::FileSystem files;
    HostEngine engine(out, lines);
    GAME::gEngine = &engine; // from here on the library's log lines are the engine's
    const std::string base = folder.string() + "/";
    engine.SetBaseUserPath(base);
    engine.SetLogPath(base + "log.html");
    engine.SetDumpPath(base + "dumps/");
    engine.SetDefaultSettingsPath(DataKit::SampleGameData::defaultSettingsName);
    engine.SetNormalSettingsPath(DataKit::SampleGameData::userSettingsName);
    engine.SetKeymapPath("Settings/keymap.txt");
    engine.SetSavePath(base + "save/");
    // log.html before anything else of the run: every line printed from here on is in it as it
    // is printed, so that a run that ends anywhere (a second Ctrl-C during the start-up) leaves
    // them all.
    engine.StartLogFile();

    out.Printf("EngineHost: run folder %s (game data, world, user's settings, log.html; the paths "
               "below are inside it); EngineHost --help for the options",
               options.folder.c_str());
    out.Printf("EngineHost: making the sample game data");
    if (!MakeSampleData(folder)) {
        out.Errorf("EngineHost: could not write the sample data into %s: %s", folder.string().c_str(),
                   WhyNotWritable(folder.string()).c_str());
        return 1;
    }
    // Settings are read through the file system and written beside it: run inside the folder (the
    // one held, whatever its name is now).
    std::error_code error;
    std::filesystem::current_path(folder, error);
    if (error) {
        out.Errorf("EngineHost: cannot enter %s: %s", folder.string().c_str(), error.message().c_str());
        return 1;
    }
    files.AddSource(GAME::FileSystem::PARTITION_1, folder.string().c_str(), false, false, false);
    window.Open(options.window, GAME::GraphicsEngine::defaultWidth, GAME::GraphicsEngine::defaultHeight);

    GAME::GraphicsEngineSettings settings;
    settings.deviceName = options.device;
    out.Printf("EngineHost: starting the engine (%s, device \"%s\")",
               window.IsOpen() ? "in a window" : "headless", settings.deviceName.c_str());
    engine.Initialize(window.GetSystemWindow(), settings, false, false, &files);
    if (!engine.GetWorld()) {
        out.Printf("EngineHost: start-up did not finish%s",
                   settings.deviceName == "Software" ? "" : " (--device Software runs without drawing)");
        return 1;
    }

    GAME::GraphicsEngine* graphics = engine.GetGraphicsEngine();
    GAME::RenderDevice* device = graphics->GetRenderDevice();
    out.Printf("\nEngineHost: started");
    {
        // The device's own text gives its size ("1024x768"); a device whose text does not, gets it here.
        const std::string status = device->GetStatusText();
        const std::string size =
            std::to_string(device->GetWidth()) + "x" + std::to_string(device->GetHeight());
        out.Printf("  render device       %s%s", status.c_str(),
                   status.find(size) == std::string::npos ? (", " + size).c_str() : "");
    }
    out.Printf("  database            %s (checksum %08x)",
               Counted(engine.GetDatabaseArchive()->GetNumRecords(), "record", "records").c_str(),
               engine.GetDatabaseArchiveChecksum());
    out.Printf("  processors          %s; single-processor mode %s", DescribeProcessors().c_str(),
               engine.GetIsSingleProcessorModeEnabled() ? "on" : "off");
    out.Printf("  input device        %s", !engine.GetInputDevice() ? "none"
                                           : window.IsOpen()        ? "keyboard and mouse of the window"
                                                                    : "headless");
    out.Printf("  network role        %s", DescribeNetworkOptions(options.network).c_str());
    out.Printf("  display widgets     %d", engine.GetDisplay().GetNumWidgets());
    HostSound hostSound(engine, out);
    out.Print("");

    // The world: generated into the folder (its caves' doorways take their meshes from the graphics
    // engine), then loaded as a game loads its map.
    DataKit::WorldGenerator generator(DataKit::WorldGenerator::SampleWorld());
    const DataKit::WorldGenerator::Settings& plan = generator.GetSettings();
    // The window answers while the world is made: Escape or closing it ends the run there.
    generator.SetKeepGoing([&] { return window.Poll(engine); });
    if (!generator.Generate()) {
        if (generator.WasStopped()) {
            out.Printf("EngineHost: the world's generation was stopped; shutting down");
            engine.Shutdown();
            return GetInterrupt() ? InterruptExitCode(GetInterrupt()) : 0;
        }
        out.Errorf("EngineHost: could not generate the world");
        return 1;
    }
    if (!generator.Write(folder.string())) {
        out.Errorf("EngineHost: could not write the world into %s: %s", folder.string().c_str(),
                   WhyNotWritable(folder.string()).c_str());
        return 1;
    }
    unsigned entities = 0;
    for (const DataKit::WorldGenerator::RegionInfo& region : generator.GetRegions())
        entities += region.entities;
    out.Printf("EngineHost: generated %s: %d x %d fields of %d units and %s (%s), %s, %s, %zu bytes",
               plan.mapName.c_str(), plan.regionsX, plan.regionsZ, plan.regionSize,
               Counted(plan.caves, "cave", "caves").c_str(),
               Counted(static_cast<long long>(generator.GetRegions().size()), "region", "regions").c_str(),
               Counted(entities, "entity", "entities").c_str(),
               Counted(static_cast<long long>(generator.GetPortals().size()), "portal", "portals").c_str(),
               generator.BuildMap().size());
    GAME::World* world = engine.GetWorld();
    // The map carries its portals in a chunk of the game's own, placed by this callback.
    auto* portalReader = new DataKit::PortalChunkReader(world);
    if (!world->InstallMapChunkCallback(portalReader))
        delete portalReader; // refused: not the engine's to delete
    if (!world->Load(plan.mapName.c_str(), true)) {
        out.Printf("EngineHost: could not load %s", plan.mapName.c_str());
        return 1;
    }
    out.Printf("EngineHost: loaded %s: %s", plan.mapName.c_str(),
               Counted(world->GetNumRegions(), "region", "regions").c_str());
    // The world's air (its fog record): the sky's colour and the fog the far ground fades into.
    DataKit::WorldGenerator::ApplyAtmosphere(*engine.GetSectorDataManager(), *graphics);

    // A game's own classes are made by name from their database records: objects of the host's
    // class Marker, queued for destruction at once, which the frames take down 20 at a time.
    GAME::ObjectManager* objects = GAME::ObjectManager::Get();
    int made = 0, weight = 0;
    for (int i = 0; i < markerCount; ++i)
        if (GAME::Object* marker = objects->CreateObjectFromFile(markerRecord)) {
            if (auto* ours = dynamic_cast<Marker*>(marker))
                weight = ours->weight;
            objects->DestroyObjectEx(marker, __FILE__, __LINE__);
            ++made;
        }
    out.Detailf("EngineHost: the database made %s of the host's own class Marker from the record %s "
                "(its field weight read as %d); the first frames destroy them",
                Counted(made, "object", "objects").c_str(), markerRecord, weight);

    // The session opens once the frames follow each other: its handshake is answered in the
    // frames' updates and would time out while the world is generated and loaded. A server that
    // cannot serve ends the run (a client that cannot join runs alone).
    HostSession session(engine, options.network, out);
    if (!session.Start() && options.network.role == NetworkOptions::ROLE_SERVER)
        return 1;

    // The profiler's panels and the thread monitor stay off unless asked for (--stats, F3).
    window.ShowStatistics(options.stats);
    window.Attach(engine);
    bool running = true;
    // A client joins before it loads levels: their objects take their ids from the host id the
    // server gives it. Frames run while it joins; the handshake gives up on its own.
    if (session.IsJoining()) {
        const auto joinStart = std::chrono::steady_clock::now();
        while (session.IsJoining() && (running = window.Frame())) {
            const auto frameStart = std::chrono::steady_clock::now();
            engine.Update(nullptr, false);
            DrawFrame(engine);
            std::this_thread::sleep_until(frameStart + framePeriod);
        }
        session.EndJoining(MillisecondsSince(joinStart));
    }
    GAME::Tracker* tracker = GAME::Tracker::Get();
    const float duration = generator.GetFlightDuration();

    // The world camera follows a target along the flight path.
    FlightCamera camera(generator, *world);
    auto print = [&out](const std::string& line) { out.Print(line); };
    std::optional<HostView> view(std::in_place, engine, print, folder.string());
    // The recording device draws nothing: its frames would make blank pictures, and no driver
    // makes programs for them.
    const bool draws = options.device != "Software";
    const bool screenshots = draws;
    if (!screenshots)
        out.Printf("EngineHost: no screenshots: the %s device draws nothing", options.device.c_str());
    const GAME::Viewport viewport(0, 0, device->GetWidth(), device->GetHeight());
    // A picture the view could not write is counted for the line that ends a failed run.
    view->SetNotWritten(
        [&out](const std::string& path, const std::string& reason) { out.NoteNotWritten(path, reason); });
    auto viewAt = [&](float seconds) { return camera.ViewAt(seconds, viewport); };

    // As behind a loading screen, the loading frames fly the whole path once ahead of the flight,
    // the world not yet walked: at each of their views the regions it reaches load (the engine's
    // loader for it also brings in those behind the doorways within its reach), frames at about 100
    // a second for as long as the loads take (within a limit, after which the flight starts and
    // waits for what is missing), and once they are in, the view is drawn. Without a GPU the driver
    // makes a program for each program and drawing state the first time it is drawn (a region's
    // ground, water, props and walkers, a fire's particles, a doorway's composite and the region
    // seen through it), up to a second of one frame; Mesa keeps them in its shader cache for later
    // runs, but a new user's first run has none. So every kind of drawing the flight will meet is
    // drawn here first: a view every loadingViewStep seconds of path, one in each region the path
    // enters, and views on both sides of each doorway it goes through (FlightCoverage). The world
    // is updated in the frames that draw a view, so that a fire emits once the views come near it,
    // as it does in the flight (the views lie close enough for its particles to be drawn by the
    // next ones); a view is drawn again until the resources its drawing asked for (meshes,
    // textures, effects) have come in. The first view comes last again, which the flight starts
    // from: what its first drawing costs (each region's scene built for the first time) is paid
    // here, not by the flight's first frame. What the views reach stays in, as the flight would
    // bring it in by then: a level unloads after some 600 frames without use, which the world
    // counts in the frames that draw a view and in the flight's.
    const unsigned int loadingFrameStart = engine.GetFrameCount();
    bool loadingDrewViews = false; // for the summary: what the levels in before the flight were for
    {
        GAME::ResourceLoader* resourceLoader = engine.GetResourceLoader();
        std::vector<float> times = FlightCoverage(generator).GetLoadingViews(
            loadingViewStep, std::vector<float>(std::begin(doorwayViewOffsets), std::end(doorwayViewOffsets)));
        const size_t tourViews = times.size();
        times.push_back(0.0f);
        const auto loadStart = std::chrono::steady_clock::now();
        // The longest wait a user has (up to a minute on a busy machine): said as it starts, and how
        // far it is every few seconds.
        out.Printf("EngineHost: loading the levels and drawing %zu views along the flight before it starts",
                   tourViews);
        double progressAt = loadingProgressMs;
        int loadFrames = 0;
        int firstRegions = 0;
        size_t viewsDrawn = 0; // of the views along the flight, each its frames
        bool firstDrawn = false;
        std::vector<const GAME::Region*> reached;
        auto levelsIn = [&] {
            int in = 0;
            for (int r = 0; r < world->GetNumRegions(); ++r)
                in += IsResident(world->GetRegion(r)) ? 1 : 0;
            return in;
        };
        for (size_t i = 0; i < times.size() && running && MillisecondsSince(loadStart) < loadingLimitMs;
             ++i) {
            camera.Jump();
            const GAME::WorldFrustum frustum = viewAt(times[i]);
            GAME::RegionLoader loader(frustum, true);
            const bool last = i + 1 == times.size();
            const int drawFrames = last ? firstViewLoadingFrames : loadingViewFrames;
            int drawn = 0;
            // Done once drawn, and once the resources its drawing asked for have come in: none
            // queued and none finished in the last frame (the one the loader's thread is working
            // on is in neither count).
            unsigned int loadedBefore = ~0u;
            auto resourcesIn = [&] {
                const unsigned int loaded = resourceLoader ? resourceLoader->GetLoadedCount() : 0;
                const bool in = !resourceLoader || (loaded == loadedBefore &&
                                                    resourceLoader->GetQueueCount(GAME::RESOURCE_PRIORITY_HIGH) == 0 &&
                                                    resourceLoader->GetQueueCount(GAME::RESOURCE_PRIORITY_LOW) == 0);
                loadedBefore = loaded;
                return in;
            };
            while (running && !(drawn >= drawFrames && resourcesIn()) &&
                   MillisecondsSince(loadStart) < loadingLimitMs &&
                   (running = window.Frame())) {
                const auto frameStart = std::chrono::steady_clock::now();
                loader.Update();
                // Drawn, and the world updated (a fire emits, a walker walks), only once every
                // level the view reaches is in: before, either would load them at once.
                const bool in = loader.GetIsDone();
                engine.Update(&frustum, in);
                if (in) {
                    DrawFrame(engine, &*view, &camera);
                    ++drawn;
                } else {
                    DrawFrame(engine);
                }
                ++loadFrames;
                if (const double loadingMs = MillisecondsSince(loadStart); loadingMs >= progressAt) {
                    out.Printf("EngineHost: loading, %.0f s: %zu of %zu views drawn, %d of %d levels in",
                               loadingMs / 1000.0, viewsDrawn, tourViews, levelsIn(), world->GetNumRegions());
                    progressAt = loadingMs + loadingProgressMs;
                }
                std::this_thread::sleep_until(frameStart + framePeriod);
            }
            for (int r = 0; r < loader.GetNumRegions(); ++r)
                if (std::find(reached.begin(), reached.end(), loader.GetRegion(r)) == reached.end())
                    reached.push_back(loader.GetRegion(r));
            if (last) {
                firstRegions = loader.GetNumRegions();
                firstDrawn = drawn >= drawFrames;
            } else if (drawn >= drawFrames) {
                ++viewsDrawn;
            }
        }
        loadingDrewViews = viewsDrawn > 0 || firstDrawn;
        camera.Jump();
        const std::string drawn = draws
                                      ? "so that the driver has made its programs for them"
                                      : "recorded by the " + options.device + " device, which draws nothing";
        const int in = levelsIn();
        const int levels = world->GetNumRegions();
        if (viewsDrawn == tourViews && firstDrawn) {
            out.Printf(
                "EngineHost: %zu regions in reach of %zu views along the flight (%d of its first view) "
                "loaded and the views drawn, %s, in %d frames (%.0f ms)",
                reached.size(), tourViews, firstRegions, drawn.c_str(), loadFrames,
                MillisecondsSince(loadStart));
        } else if (running) {
            // The limit: the flight starts with what is in, and says which part of the loading
            // was left to it.
            std::string left;
            if (viewsDrawn < tourViews)
                left = Counted(static_cast<long long>(tourViews - viewsDrawn), "view", "views") +
                       " not drawn, whose drawing the flight's frames do for the first time (longer frames)";
            else
                left = "the flight's first view not drawn ahead of it (its first frame is longer)";
            if (in < levels)
                left += "; " + Counted(levels - in, "level", "levels") +
                        " not in, which come in as the flight reaches them (the main thread waits for those "
                        "it needs at once)";
            else
                left += "; every level in";
            out.Printf(
                "EngineHost: loading stopped at its limit of %.0f s, %zu of %zu views drawn and %d of %d "
                "levels in, in %d frames: %s; the flight starts now",
                loadingLimitMs / 1000.0, viewsDrawn, tourViews, in, levels, loadFrames, left.c_str());
        } else {
            out.Printf(
                "EngineHost: loading ended early, %zu of %zu views drawn and %d of %d levels in, in %d "
                "frames (%.0f ms)",
                viewsDrawn, tourViews, in, levels, loadFrames, MillisecondsSince(loadStart));
        }
    }
    const unsigned int loadingFrames = engine.GetFrameCount() - loadingFrameStart;

    const bool pathFinderRan = running;
    if (running) {
        engine.SetForcedLoadCause("the path finder's searches across regions");
        engine.SetWaitContext("in the path finder's searches across regions");
        LogPathsAcrossRegions(*world, generator, out);
    }
    engine.SetForcedLoadCause("a flight frame (the view, or the world's update, reached a region whose level "
                              "had not come in)");

    // Ended through the window before the flight: none. One frame stays at the path's start.
    if (running && frames == 1)
        out.Printf("EngineHost: one frame at the start of the %.0f ms camera path, which more frames fly",
                   duration * 1000.0);
    else if (running && frames > 0)
        out.Printf("EngineHost: flying %.0f ms of camera path in %s, %.1f ms of path a frame, as fast "
                   "as they run; a line for each 1000 ms of path",
                   duration * 1000.0, Counted(frames, "frame", "frames").c_str(),
                   PathPerFrameMs(duration, frames));
    else if (running)
        out.Printf("EngineHost: flying %.0f ms of camera path in real time; a line for each 1000 ms",
                   duration * 1000.0);

    std::vector<bool> resident(static_cast<size_t>(world->GetNumRegions()), false);
    for (int i = 0; i < world->GetNumRegions(); ++i)
        resident[static_cast<size_t>(i)] = IsResident(world->GetRegion(i));
    const int residentBefore = static_cast<int>(std::count(resident.begin(), resident.end(), true));
    int levelsLoaded = 0;
    int levelsUnloaded = 0;
    FlightSecond second;
    int flightFrames = 0;
    int totalGameTime = 0;
    float flightTime = 0.0f;
    // The regions the frames viewed: a real-time frame stops short of one it would pass unviewed.
    FlightCoverage coverage(generator);
    int holds = 0;
    double heldMs = 0.0;
    std::vector<GAME::StatisticsWidget::Entry> lastStatistics;
    // Each flight frame's time and the path's time at it, for the longest against the median.
    std::vector<std::pair<double, float>> frameTimes;
    // The longest frame's blocks come from the profiler, on for the flight whether or not its
    // panels show (then the host empties its table each frame, as the panels would).
    LongestFrame longestFrame;
    std::vector<GAME::Profile::TimeInfo> frameBlocks;
    GAME::ResourceLoader* resourceLoader = engine.GetResourceLoader();
    bool flown = false;     // to the path's end, not cut short through the window
    float drawnUpTo = 0.0f; // the path's time of the last frame drawn
    const auto start = std::chrono::steady_clock::now();
    auto last = start;
    while (running) {
        if (!(running = window.Frame()))
            break;
        const GAME::WorldFrustum frustum = viewAt(flightTime);
        coverage.Enter(world->GetRegionIndex(frustum.GetRegion()));
        const DataKit::WorldGenerator::View heard = generator.GetFlightView(flightTime);
        hostSound.Frame(frustum.GetRegion(), heard.position, heard.direction);

        // F3 turns the panels, and with them the profiler, off: the host's summary keeps it on.
        if (!GAME::Profile::IsEnabled())
            GAME::Profile::Enable(true);
        const unsigned int forcedBefore = engine.GetForcedLevelLoadCount();
        const size_t waitsBefore = engine.GetLevelWaitCount();
        const std::string waitContext =
            GAME::FormatString("at %.0f ms of path, the view in %s", flightTime * 1000.0,
                               ShortName(frustum.GetRegion()->GetName()).c_str());
        engine.SetWaitContext(waitContext, LevelLoadTimes::NEED_UPDATE, flightTime * 1000.0);
        const unsigned int resourcesBefore = resourceLoader ? resourceLoader->GetLoadedCount() : 0;
        const auto frameStart = std::chrono::steady_clock::now();
        tracker->Update(engine.GetUpdateTime());
        engine.Update(&frustum, true);
        engine.NoteLoadsAsked(*world, flightTime * 1000.0);
        ++flightFrames;
        // The frame statistics start empty each frame; the count is the engine's, this frame in.
        tracker->SetInt(GAME::Tracker::frameStatsCategory, "frames drawn",
                        static_cast<int>(engine.GetFrameCount()));
        const bool lastFrame = frames > 0 ? flightFrames >= frames : flightTime >= duration;
        if (window.IsShowingStatistics()) {
            tracker->DisplayFrameStats();
            // The last frame's panel goes to the console too, and stays on the screen (the last
            // region's screenshot may be of this frame).
            if (lastFrame) {
                GAME::StatisticsWidget* panel = engine.GetStatisticsWidget();
                lastStatistics = panel->TakeEntries();
                for (const GAME::StatisticsWidget::Entry& entry : lastStatistics)
                    panel->AddGraph(entry.text.c_str(), entry.value, entry.color);
            }
        }
        engine.SetWaitContext(waitContext, LevelLoadTimes::NEED_DRAWING, flightTime * 1000.0);
        DrawFrame(engine, &*view, &camera, screenshots ? frustum.GetRegion() : nullptr);
        drawnUpTo = flightTime;
        const auto frameEnd = std::chrono::steady_clock::now();
        totalGameTime += engine.GetUpdateTime();

        const double frameMs = std::chrono::duration<double, std::milli>(frameEnd - frameStart).count();
        second.Add(frameMs);
        frameTimes.emplace_back(frameMs, flightTime);
        frameBlocks.clear();
        GAME::Profile::GetTimeInfo(frameBlocks);
        if (!window.IsShowingStatistics())
            GAME::Profile::Update();
        const bool longest = frameMs > longestFrame.ms;
        if (longest) {
            longestFrame = LongestFrame();
            longestFrame.ms = frameMs;
            longestFrame.at = flightTime;
            longestFrame.region = ShortName(frustum.GetRegion()->GetName());
            longestFrame.forcedLoads = engine.GetForcedLevelLoadCount() - forcedBefore;
            if (engine.GetLevelWaitCount() > waitsBefore)
                longestFrame.waits = ListWaits(engine.GetLevelLoadTimes(), waitsBefore);
            longestFrame.resources = (resourceLoader ? resourceLoader->GetLoadedCount() : 0) - resourcesBefore;
            longestFrame.blocks = frameBlocks;
        }
        for (int i = 0; i < world->GetNumRegions(); ++i) {
            const bool now = IsResident(world->GetRegion(i));
            if (now != resident[static_cast<size_t>(i)]) {
                // Appended rather than concatenated: GCC 12 warns falsely (-Wrestrict) otherwise.
                std::string change(now ? "+" : "-");
                change += ShortName(world->GetRegion(i)->GetName());
                if (longest)
                    longestFrame.changes.push_back(change);
                second.changes.push_back(std::move(change));
                ++(now ? levelsLoaded : levelsUnloaded);
            }
            resident[static_cast<size_t>(i)] = now;
        }
        if (lastFrame || static_cast<int>(flightTime) != second.index) {
            const int count = static_cast<int>(std::count(resident.begin(), resident.end(), true));
            second.Print(out, count, ShortName(frustum.GetRegion()->GetName()));
            second = FlightSecond();
            second.index = static_cast<int>(flightTime);
        }
        if (lastFrame) {
            flown = true;
            break;
        }

        if (frames > 0) {
            // The first frame sees the path's start, the last its end.
            flightTime = duration * static_cast<float>(flightFrames) / static_cast<float>(frames - 1);
        } else {
            // Real time, one frame every 10 ms at most. A frame that took long would carry the
            // camera over a region no frame viewed (and the region would get no screenshot): the
            // next frame stands in that region instead, and the flight falls behind real time.
            std::this_thread::sleep_until(frameStart + framePeriod);
            const auto now = std::chrono::steady_clock::now();
            const float due =
                std::min(flightTime + std::chrono::duration<float>(now - last).count(), duration);
            last = now;
            const float stop = coverage.NextStop(flightTime, due);
            if (stop < due) {
                ++holds;
                heldMs += 1000.0 * (due - stop);
            }
            flightTime = stop;
        }
        flightTime = std::min(flightTime, duration);
    }
    // The flight's time ends with its last frame: the screenshots' writing after it is no frame's.
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    view->FinishScreenshot();
    const std::vector<std::string>& shots = view->GetScreenshots();
    for (const std::string& screenshot : shots)
        out.Detailf("  screenshot          %s", InFolder(folder, screenshot).c_str());
    if (screenshots) {
        // One line for the user: how many, and where (--verbose lists each).
        std::string names;
        if (!shots.empty())
            names = " (" + InFolder(folder, shots.front()) +
                    (shots.size() > 1 ? " to " + InFolder(folder, shots.back()) : std::string()) + ")";
        out.Printf("EngineHost: %s in %s%s",
                   Counted(static_cast<long long>(shots.size()), "screenshot", "screenshots").c_str(),
                   folder.string().c_str(), names.c_str());
    }
    // Regions the path went through that no frame viewed (frames too far apart for them).
    if (screenshots && flightFrames > 0)
        for (const FlightCoverage::Missed& missed : coverage.GetMissed(flown ? duration : drawnUpTo))
            out.Printf(
                "  no screenshot       %s: the camera passed through it between two frames (at %.0f ms "
                "of path)%s",
                ShortName(world->GetRegion(missed.region)->GetName()).c_str(), missed.seconds * 1000.0,
                frames > 0 ? "; more frames would show it" : "");
    view.reset();
    GAME::Tracker::Destroy();
    engine.SetWaitContext("after the flight");

    if (flown)
        out.Print("\nEngineHost: flight done");
    else
        out.Printf("\nEngineHost: flight cut short: %s",
                   window.GetEnded().empty() ? "ended early" : window.GetEnded().c_str());
    FlightFacts flight;
    flight.framesAsked = frames;
    flight.flightFrames = flightFrames;
    flight.duration = duration;
    flight.drawnUpTo = drawnUpTo;
    flight.flown = flown;
    flight.seconds = seconds;
    flight.holds = holds;
    flight.heldMs = heldMs;
    flight.gameTimeMs = totalGameTime;
    for (const std::string& line : DescribeFlight(flight))
        out.Print(line);
    if (!frameTimes.empty()) {
        // The flight's frames come after the loading: the longest of them is what the eye meets.
        const auto longest = *std::max_element(frameTimes.begin(), frameTimes.end());
        std::vector<double> sorted;
        for (const auto& [ms, at] : frameTimes)
            sorted.push_back(ms);
        std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(sorted.size() / 2),
                         sorted.end());
        const double median = sorted[sorted.size() / 2];
        out.Printf("  frame times         median %.1f ms, longest %.1f ms (%.1f times the median, at %.0f ms "
                   "of path)",
                   median, longest.first, median > 0.0 ? longest.first / median : 0.0,
                   longest.second * 1000.0);
        longestFrame.Print(out);
    }
    out.Printf("  engine frames       %u since start-up: %u in the loading frames, %d in the "
               "flight",
               engine.GetFrameCount(), loadingFrames, flightFrames);
    // What the statistics panel showed at the last frame, when it was on the screen (--stats or F3).
    if (!lastStatistics.empty()) {
        out.Printf("  statistics panel    the last frame's lines, as --stats shows them on the screen "
                   "(\"frames drawn\": the engine's frames so far):");
        for (const GAME::StatisticsWidget::Entry& entry : lastStatistics)
            out.Printf("                        %s", entry.text.c_str());
    }
    // Where the levels came from: the regions' Level Loading Threads, or the main thread when
    // something needed a level at once (the path finder's searches across regions).
    LevelFacts levels;
    for (int i = 0; i < world->GetNumRegions(); ++i) {
        const GAME::Region* region = world->GetRegion(i);
        if (IsResident(region))
            continue;
        if (region->IsLoadUnderWay())
            ++levels.stillLoading;
        else if (region->IsLoadingFinished())
            ++levels.notTakenIn;
    }
    levels.before = residentBefore;
    levels.during = levelsLoaded;
    levels.forced = static_cast<int>(engine.GetForcedLevelLoadCount());
    levels.loadingDrewViews = loadingDrewViews;
    levels.loadingFrames = loadingFrames > 0;
    levels.pathFinderRan = pathFinderRan;
    levels.unloaded = levelsUnloaded;
    levels.unloadFrames = unloadFrames;
    levels.flightFrames = flightFrames;
    {
        const LevelLoadTimes& times = engine.GetLevelLoadTimes();
        for (const std::string& line :
             DescribeLevels(levels, times.GetLoads(), times.GetWaits(), plan.flightSpeed))
            out.Print(line);
    }
    if (const unsigned int loaded = engine.GetResourceLoader()->GetLoadedCount())
        out.Printf("  resource loader     %s loaded (meshes, textures, sounds...) in %u ms",
                   Counted(loaded, "resource", "resources").c_str(),
                   engine.GetResourceLoader()->GetTotalLoadTime());
    else
        out.Printf("  resource loader     no resources asked for: the generated entities have no meshes, "
                   "textures or sounds");

    out.Printf("  network             %s", session.Describe().c_str());

    // Once, as the world editor does; not when the user ended the run, who wants it to end now.
    if (running && !GetInterrupt()) {
        engine.SetForcedLoadCause("the map data's rebuild, which draws every region from above");
        // What the library says of each region's map data goes to log.html: a minimap it could
        // not write is one of the rebuild's lines, which count them.
        lines.SetLogOnly(true);
        const std::string rebuilt = RebuildWorldMapData(*world, files, folder, screenshots, out);
        lines.SetLogOnly(false);
        out.Print(rebuilt);
    }
    engine.SetForcedLoadCause(nullptr);

    // The host keeps the user's settings, as a game does when the player changes them.
    std::string why;
    const bool settingsSaved = engine.GetOptions()->Save(DataKit::SampleGameData::userSettingsName, why);
    if (!settingsSaved) {
        out.Printf("EngineHost: could not save the user's settings: %s", why.c_str());
        out.NoteNotWritten((folder / DataKit::SampleGameData::userSettingsName).string(), why);
    }
    out.Printf("EngineHost: shutting down");
    window.Detach(engine);
    engine.Shutdown();
    out.CheckLogFileKept();
    out.Print("\n" + DescribeRunEnd(out, lines.GetLineCount(), lines.GetWarningCount(),
                                    lines.GetImportantCount(), options.verbose));
    if (settingsSaved)
        out.Printf("  user settings       %s", DataKit::SampleGameData::userSettingsName);
    if (GetInterrupt()) {
        out.Printf("  cut short           %s", DescribeInterrupt().c_str());
        return InterruptExitCode(GetInterrupt());
    }
    // A client that ran alone says so last, on standard error, with an exit code of its own.
    if (const std::string alone = session.DescribeRanAlone(); !alone.empty())
        out.Errorf("%s", alone.c_str());
    return session.GetExitCode();
}

} // namespace SampleHost

int main(int argc, char** argv)
{
    SampleHost::HostOptions options;
    std::string reason;
    // Ctrl-C ends a run as Escape does, its summary and log.html finished; a second one at once.
    SampleHost::CatchInterrupts();
    if (!SampleHost::ParseHostOptions(argc, argv, options, reason)) {
        std::fprintf(stderr, "EngineHost: %s\n\n%s", reason.c_str(), SampleHost::HostUsage().c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(SampleHost::HostUsage().c_str(), stdout);
        return 0;
    }
    SampleHost::HostOutput output;
    output.SetShowingDetails(options.verbose);
    // The library's lines while no engine exists (the port's check, the sample data's writers, the
    // device modules' unloading) are printed and kept as the engine's are.
    SampleHost::HostLogSink sink(output, options.verbose);
    GAME::LogSink* const previousSink = GAME::SetProcessLogSink(&sink);
    // A server that cannot have its port says so now, before anything is made: the session itself
    // opens only once the world is loaded, some seconds on.
    if (options.network.role == SampleHost::NetworkOptions::ROLE_SERVER) {
        std::string why;
        if (!SampleHost::CanListen(options.network.port, why)) {
            output.Errorf("EngineHost: cannot host a session on port %d (%s)", options.network.port,
                          why.c_str());
            GAME::SetProcessLogSink(previousSink);
            return 1;
        }
    }
    // The run folder is this run's alone until it ends: another run's is refused now.
    SampleHost::RunFolder folder;
    std::string why;
    if (!folder.Take(options.folder, output, why)) {
        output.Errorf("EngineHost: cannot use the run folder %s: %s", options.folder.c_str(), why.c_str());
        GAME::SetProcessLogSink(previousSink);
        return 1;
    }
    // Written through the folder held, named as the user finds it.
    output.ShowFolderAs(folder.GetRoot().string(), folder.GetPath().string());
    int result = SampleHost::Run(folder.GetRoot(), options, output, sink);
    GAME::RenderDevice::UnloadLibraries();
    GAME::SetProcessLogSink(previousSink);
    // The last lines are in: the log file closes, and what could not be written is said.
    result = SampleHost::FinishRun(output, result);
    return result;
}
