#include "HostEngine.h"

#include "core/Log.h"

#include <cstdarg>

namespace SampleHost {

namespace {

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

HostOutput::Style StyleOf(GAME::LogPriority priority)
{
    return priority == GAME::LOG_PRIORITY_WARNING     ? HostOutput::STYLE_WARNING
           : priority == GAME::LOG_PRIORITY_IMPORTANT ? HostOutput::STYLE_IMPORTANT
                                                      : HostOutput::STYLE_PLAIN;
}

} // namespace

void HostEngine::Initialize(void* window, const GAME::GraphicsEngineSettings& settings, bool editorMode,
                            bool flag, GAME::FileSystem* fileSystem)
{
    GAME::Engine::Initialize(window, settings, editorMode, flag, fileSystem);
    if (IsLogFileOpen() && m_output.OpenLogFile(GetLogPath()))
        return;
    m_output.GoWithoutLogFile();
    m_output.Printf("EngineHost: no log file (could not write %s); lines go to standard output only",
                    GetLogPath().c_str());
}

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
    ++m_lines;
    if (priority == GAME::LOG_PRIORITY_WARNING)
        ++m_warnings;
    else if (priority == GAME::LOG_PRIORITY_IMPORTANT)
        ++m_important;
    const char* categoryName = category == GAME::gLogEngine     ? "Engine"
                               : category == GAME::gLogGraphics ? "Graphics"
                                                                : nullptr;
    std::string line = std::string("  log ") + PriorityName(priority) + " ";
    if (category && categoryName)
        line += std::string("[") + categoryName + "] ";
    else if (category)
        line += "[" + std::to_string(category) + "] ";
    m_output.Print(line + text, StyleOf(priority));
}

} // namespace SampleHost
