// The sample host: makes a small game's data with the library's writers, starts the engine headless
// over the software render device, runs a number of frames and shuts the engine down, printing
// every log line and a few frame statistics on the way.
//
//   EngineHost [work-folder] [frames]
//
// The work folder (default "host-run" under the current folder) receives the game data, the
// user's settings and the log file; the host runs inside it.

#include "HostEngine.h"

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
#include "graphics/GraphicsEngine.h"
#include "graphics/GraphicsEngineSettings.h"
#include "graphics/RenderDevice.h"
#include "world/StatisticsWidget.h"
#include "world/Tracker.h"
#include "world/World.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

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

bool MakeSampleData(const std::filesystem::path& folder)
{
    DataKit::SampleGameData data;
    data.Database()
        .AddRecord(DataKit::NormalizeRecordName(markerRecord))
        .String("Class", "Marker")
        .Int("weight", 3);
    data.AddText("UI", "tagSampleGreeting", "Welcome to the sample host.");
    return data.Write(folder.string());
}

} // namespace

int Run(const std::filesystem::path& folder, int frames)
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
    settings.deviceName = "Software";
    std::printf("EngineHost: starting the engine (headless, device \"%s\")\n", settings.deviceName.c_str());
    engine.Initialize(nullptr, settings, false, false, &files);
    if (!engine.GetWorld()) {
        std::printf("EngineHost: start-up did not finish\n");
        return 1;
    }

    GAME::GraphicsEngine* graphics = engine.GetGraphicsEngine();
    GAME::RenderDevice* device = graphics->GetRenderDevice();
    std::printf("\nEngineHost: started\n");
    std::printf("  render device       %s, %d x %d\n", device->GetStatusText(), device->GetWidth(),
                device->GetHeight());
    std::printf("  database            %u records (checksum %08x)\n",
                engine.GetDatabaseArchive()->GetNumRecords(), engine.GetDatabaseArchiveChecksum());
    std::printf("  processor cores     %u (single-processor mode %s)\n", GAME::GetNumberOfProcessorCores(),
                engine.GetIsSingleProcessorModeEnabled() ? "on" : "off");
    std::printf("  input device        %s\n", engine.GetInputDevice() ? "headless" : "none");
    std::printf("  network role        %s\n", engine.IsNetworkServer()   ? "server"
                                              : engine.IsNetworkClient() ? "client"
                                                                         : "stub (no network)");
    std::printf("  display widgets     %d\n\n", engine.GetDisplay().GetNumWidgets());

    // A world of two regions side by side, viewed from the first.
    GAME::World* world = engine.GetWorld();
    const GAME::ABBox box(GAME::Vec3(0.0f, 0.0f, 0.0f), GAME::Vec3(32.0f, 16.0f, 32.0f));
    world->AddRegion("Meadow", GAME::IntVec3(0, 0, 0), box, GAME::RegionId());
    world->AddRegion("Forest", GAME::IntVec3(64, 0, 0), box, GAME::RegionId());
    const GAME::WorldFrustum view(world->GetRegion(0), GAME::Frustum());

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

    engine.ShowThreadMonitor(true);
    engine.ShowProfiler(true);
    GAME::Tracker* tracker = GAME::Tracker::Get();
    std::printf("EngineHost: running %d frames\n", frames);
    const auto start = std::chrono::steady_clock::now();
    int totalGameTime = 0;
    for (int frame = 0; frame < frames; ++frame) {
        tracker->Update(engine.GetUpdateTime());
        tracker->IncrementInt("FrameStats", "frames drawn");
        engine.Update(&view, true);
        tracker->DisplayFrameStats();
        const size_t statistics = engine.GetStatisticsWidget()->GetNumEntries();
        if (frame == frames - 1) {
            // The last frame's statistics on the console instead of the screen.
            for (const GAME::StatisticsWidget::Entry& entry : engine.GetStatisticsWidget()->TakeEntries())
                std::printf("  statistics line     %s\n", entry.text.c_str());
        }
        engine.Render();
        engine.PresentSurface();
        totalGameTime += engine.GetUpdateTime();
        if (frame < 4 || frame == frames - 1)
            std::printf("  frame %3u: %3d ms game time, %2u objects waiting for destruction, %zu statistics "
                        "lines, %d draw calls\n",
                        engine.GetFrameCount(), engine.GetUpdateTime(), objects->GetNumDeletedObjects(),
                        statistics, device->GetNumDrawCalls());
        else if (frame == 4)
            std::printf("  ...\n");
        std::this_thread::sleep_for(std::chrono::milliseconds(16));
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    GAME::Tracker::Destroy();

    std::printf("\nEngineHost: %u frames in %.2f s (%.1f frames a second), %d ms of game time\n",
                engine.GetFrameCount(), seconds, seconds > 0 ? engine.GetFrameCount() / seconds : 0.0,
                totalGameTime);
    std::printf("  graphics engine     %.1f frames a second over its last sample\n",
                graphics->GetFramesPerSecond());
    std::printf("  resource loader     %u resources loaded\n", engine.GetResourceLoader()->GetLoadedCount());

    // The host keeps the user's settings, as a game does when the player changes them.
    if (!engine.GetOptions()->Save(DataKit::SampleGameData::userSettingsName))
        std::printf("EngineHost: could not save the user's settings\n");
    std::printf("EngineHost: shutting down\n");
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
    std::filesystem::path folder =
        argc > 1 ? std::filesystem::path(argv[1]) : std::filesystem::path("host-run");
    int frames = argc > 2 ? std::atoi(argv[2]) : 60;
    if (frames <= 0)
        frames = 60;
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    folder = std::filesystem::absolute(folder, error).lexically_normal();
    const int result = SampleHost::Run(folder, frames);
    GAME::RenderDevice::UnloadLibraries();
    return result;
}
