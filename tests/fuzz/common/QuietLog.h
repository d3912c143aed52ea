// Fuzz targets keep the log quiet: most inputs are turned down, each with a log line that would
// otherwise flood the run.
#pragma once

#include "core/Log.h"

namespace FuzzLog {

// Sends the process's log lines nowhere from now on; calling it again changes nothing.
inline void Silence()
{
    class QuietSink : public GAME::LogSink
    {
    public:
        void Write(int, unsigned int, const char*) override {}
    };
    static QuietSink quiet;
    GAME::SetProcessLogSink(&quiet);
}

} // namespace FuzzLog
