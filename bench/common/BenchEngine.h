// An engine for the benchmark programs: the library's log lines go to Note(), which prints the
// important ones; a benchmark that counts certain lines overrides it.
#pragma once

#include "world/Engine.h"
#include "core/Log.h"

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

protected:
    virtual void Note(GAME::LogPriority priority, const std::string& text) const
    {
        if (priority == GAME::LOG_PRIORITY_IMPORTANT)
            std::printf("  engine: %s\n", text.c_str());
    }
};
