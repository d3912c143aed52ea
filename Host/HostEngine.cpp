#include "HostEngine.h"

#include "core/Log.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace SampleHost {

namespace {

// Lines come from the main thread and the resource loader thread.
std::mutex g_printMutex;

const char* PriorityName(GAME::LogPriority priority)
{
    switch (priority) {
    case GAME::LOG_PRIORITY_INFO:
        return "info";
    case GAME::LOG_PRIORITY_WARNING:
        return "warn";
    case GAME::LOG_PRIORITY_IMPORTANT:
        return "NOTE";
    }
    return "?";
}

} // namespace

void HostEngine::Log(GAME::LogPriority priority, unsigned int category, const char* format, ...) const
{
    va_list args;
    va_start(args, format);
    const std::string text = GAME::FormatStringV(format, args);
    va_end(args);
    Print(priority, category, text);
}

void HostEngine::Log(GAME::LogPriority priority, const char* format, ...) const
{
    va_list args;
    va_start(args, format);
    const std::string text = GAME::FormatStringV(format, args);
    va_end(args);
    Print(priority, 0, text);
}

void HostEngine::Print(GAME::LogPriority priority, unsigned int category, const std::string& message) const
{
    // Some of the library's lines end in a line feed of their own; one per line is printed here.
    std::string text = message;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    std::lock_guard<std::mutex> lock(g_printMutex);
    ++m_lines;
    if (priority == GAME::LOG_PRIORITY_WARNING)
        ++m_warnings;
    else if (priority == GAME::LOG_PRIORITY_IMPORTANT)
        ++m_important;
    const char* categoryName = category == GAME::gLogEngine     ? "Engine"
                               : category == GAME::gLogGraphics ? "Graphics"
                                                                : nullptr;
    if (category && categoryName)
        std::printf("  log %s [%s] %s\n", PriorityName(priority), categoryName, text.c_str());
    else if (category)
        std::printf("  log %s [%u] %s\n", PriorityName(priority), category, text.c_str());
    else
        std::printf("  log %s %s\n", PriorityName(priority), text.c_str());
    std::fflush(stdout);
}

} // namespace SampleHost
