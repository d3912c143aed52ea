// The smallest host of the installed library: derives its engine, starts it headless over the
// "Software" render device, runs a few frames and shuts it down, then says what it saw. Built with
// CONSUMER_WITH_DATAKIT it first writes the sample game data with the installed datakit library;
// without it the engine starts with no game data at all and says so in its log.
//
//   ConsumerHost <folder>     exit code 0 when every step did what it should
#include "core/Log.h"
#include "data/FileSystem.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/GraphicsEngineSettings.h"
#include "graphics/RenderDevice.h"
#include "world/Engine.h"
#if CONSUMER_WITH_DATAKIT
#include "datakit/SampleGameData.h"
#endif

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

class ConsumerEngine : public GAME::Engine
{
public:
    void Log(GAME::LogPriority priority, unsigned int, const char* format, ...) const override
    {
        va_list args;
        va_start(args, format);
        Print(priority, format, args);
        va_end(args);
    }
    void Log(GAME::LogPriority priority, const char* format, ...) const override
    {
        va_list args;
        va_start(args, format);
        Print(priority, format, args);
        va_end(args);
    }

private:
    static void Print(GAME::LogPriority priority, const char* format, va_list args)
    {
        std::printf("  log %d %s\n", static_cast<int>(priority), GAME::FormatStringV(format, args).c_str());
    }
};

constexpr int frameCount = 10;

bool Check(bool condition, const char* what)
{
    std::printf("%s: %s\n", condition ? "ok" : "FAILED", what);
    return condition;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: ConsumerHost <folder>\n");
        return 2;
    }
    const std::string folder = argv[1];
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    bool good = Check(!error, "folder made");
#if CONSUMER_WITH_DATAKIT
    good &= Check(DataKit::SampleGameData().Write(folder), "sample game data written with datakit");
#endif

    GAME::FileSystem files;
    files.AddSource(GAME::FileSystem::PARTITION_1, folder.c_str(), false, false, false);
    {
        ConsumerEngine engine;
        GAME::gEngine = &engine;
        engine.SetLogPath(folder + "/log.html");
        GAME::GraphicsEngineSettings settings;
        settings.deviceName = "Software";
        engine.Initialize(nullptr, settings, false, false, &files);
        good &= Check(engine.GetWorld() != nullptr, "engine started");
        good &= Check(engine.IsLogFileOpen(), "log file open");
        GAME::GraphicsEngine* graphics = engine.GetGraphicsEngine();
        GAME::RenderDevice* device = graphics ? graphics->GetRenderDevice() : nullptr;
        good &= Check(device && std::strstr(device->GetStatusText(), "Software"),
                      "Software.so found beside libEngine.so");
        if (engine.GetWorld())
            for (int frame = 0; frame < frameCount; ++frame) {
                engine.Update(nullptr, true);
                engine.Render();
                engine.PresentSurface();
            }
        good &= Check(engine.GetFrameCount() == frameCount, "frames run");
        engine.Shutdown();
        good &= Check(!engine.IsLogFileOpen() && engine.GetGraphicsEngine() == nullptr, "engine shut down");
    }
    std::ifstream log(folder + "/log.html");
    const std::string header((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    good &= Check(header.rfind("<html>\n", 0) == 0 && header.find("Marrow Deep Log") != std::string::npos,
                  "log header written at the log path");
    GAME::RenderDevice::UnloadLibraries();
    std::printf("%s\n", good ? "ConsumerHost: passed" : "ConsumerHost: FAILED");
    return good ? 0 : 1;
}
