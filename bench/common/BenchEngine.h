// An engine for the benchmark programs: the library's log lines go to Note(), which prints the
// important ones; a benchmark that counts certain lines overrides it.
#pragma once

#include "core/Log.h"
#include "data/FileSystem.h"
#include "datakit/SampleGameData.h"
#include "datakit/WorldGenerator.h"
#include "graphics/GraphicsEngineSettings.h"
#include "world/Engine.h"
#include "world/World.h"

#include <cstdarg>
#include <cstdio>
#include <string>

class BenchEngine : public GAME::Engine
{
public:
    // The engine's threads log until it shuts down; Note() must still be there to take the lines.
    ~BenchEngine() override { Shutdown(); }

    void Log(GAME::LogPriority priority, unsigned int, const char* format, ...) const override
    {
        va_list args;
        va_start(args, format);
        Note(priority, GAME::FormatStringV(format, args));
        va_end(args);
    }
    void Log(GAME::LogPriority priority, const char* format, ...) const override
    {
        va_list args;
        va_start(args, format);
        Note(priority, GAME::FormatStringV(format, args));
        va_end(args);
    }

    // Logs, dumps, settings and saves go under the folder (a path ending in '/'); the settings
    // are the sample game data's.
    void UseFolder(const std::string& base)
    {
        SetBaseUserPath(base);
        SetLogPath(base + "log.html");
        SetDumpPath(base + "dumps/");
        SetDefaultSettingsPath(DataKit::SampleGameData::defaultSettingsName);
        SetNormalSettingsPath(DataKit::SampleGameData::userSettingsName);
        SetSavePath(base + "save/");
    }

    // Becomes gEngine and starts over the device named, with the game data in the folder (which
    // also receives the logs and settings) and the generated world's portal chunks read.
    void Start(GAME::FileSystem& files, const std::string& folder, const char* deviceName)
    {
        files.AddSource(GAME::FileSystem::PARTITION_1, folder.c_str(), false, false, false);
        GAME::gEngine = this;
        UseFolder(folder + "/");
        GAME::GraphicsEngineSettings settings;
        settings.deviceName = deviceName;
        Initialize(nullptr, settings, false, false, &files);
        if (GAME::World* world = GetWorld()) {
            auto* portalReader = new DataKit::PortalChunkReader(world);
            if (!world->InstallMapChunkCallback(portalReader))
                delete portalReader;
        }
    }

protected:
    virtual void Note(GAME::LogPriority priority, const std::string& text) const
    {
        if (priority == GAME::LOG_PRIORITY_IMPORTANT)
            std::printf("  engine: %s\n", text.c_str());
    }
};
