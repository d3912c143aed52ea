// The sample host's engine: the library's engine with the host's log sink, which prints every log
// line to standard output with its priority and category.
#pragma once

#include "world/Engine.h"

#include <string>

namespace SampleHost {

class HostEngine : public GAME::Engine
{
public:
    void Log(GAME::LogPriority priority, unsigned int category, const char* format, ...) const override
        __attribute__((format(printf, 4, 5)));
    void Log(GAME::LogPriority priority, const char* format, ...) const override
        __attribute__((format(printf, 3, 4)));

    // Lines printed so far, and those of priority 1 and 2.
    unsigned int GetLineCount() const { return m_lines; }
    unsigned int GetWarningCount() const { return m_warnings; }
    unsigned int GetImportantCount() const { return m_important; }

private:
    void Print(GAME::LogPriority priority, unsigned int category, const std::string& text) const;

    mutable unsigned int m_lines = 0;
    mutable unsigned int m_warnings = 0;
    mutable unsigned int m_important = 0;
};

} // namespace SampleHost
