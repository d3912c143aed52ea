// An engine for the benchmark programs: the library's log lines go to Note(), which prints the
// important ones; a benchmark that counts certain lines overrides it.
#pragma once

#include "core/Log.h"
#include "datakit/SampleGameData.h"
#include "world/Engine.h"

#include <cstdarg>
#include <cstdio>
#include <string>

class BenchEngine : public GAME::Engine
{
public:
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

protected:
    virtual void Note(GAME::LogPriority priority, const std::string& text) const
    {
        if (priority == GAME::LOG_PRIORITY_IMPORTANT)
            std::printf("  engine: %s\n", text.c_str());
    }
};
