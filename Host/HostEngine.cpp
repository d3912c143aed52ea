#include "HostEngine.h"

#include "core/Log.h"

#include <cctype>
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

// The library marks some lines with the statistics panel's colour codes ("^g": a caret and a
// letter); printed and logged, they would only be noise.
std::string WithoutColorCodes(const std::string& message)
{
    std::string text;
    text.reserve(message.size());
    for (size_t i = 0; i < message.size(); ++i) {
        if (message[i] == '^' && i + 1 < message.size() && std::isalpha(static_cast<unsigned char>(message[i + 1])))
            ++i;
        else
            text += message[i];
    }
    return text;
}

// "  log warn [Graphics] text": one line, whatever line feeds the text ends in; printed, or only
// logged when not print.
void PrintLogLine(HostOutput& output, GAME::LogPriority priority, unsigned int category,
                  const std::string& message, bool print)
{
    std::string text = WithoutColorCodes(message);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    const char* categoryName = !category                        ? nullptr
                               : category == GAME::gLogEngine   ? "Engine"
                               : category == GAME::gLogGraphics ? "Graphics"
                                                                : nullptr;
    std::string line = std::string("  log ") + PriorityName(priority) + " ";
    if (categoryName)
        line += std::string("[") + categoryName + "] ";
    else if (category)
        line.append("[").append(std::to_string(category)).append("] ");
    if (print)
        output.Print(line + text, StyleOf(priority));
    else
        output.LogOnly(line + text, StyleOf(priority));
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

void HostEngine::Print(GAME::LogPriority priority, unsigned int category, const std::string& text) const
{
    m_lines.Write(priority, category, text.c_str());
    // The library's notice of a level loaded on the main thread, explained the first time.
    const bool forced = text.find("Forcing load of level") != std::string::npos;
    if (forced && text.find("render data") == std::string::npos)
        ++m_forcedLevelLoads;
    const char* cause = m_forcedLoadCause.load();
    if (forced && cause && !m_forcedLoadExplained.exchange(true))
        m_output.Printf("EngineHost: (a forced load, for %s: a level, or its render data, was needed before its "
                        "loading thread had brought it in, so the main thread loaded it and waited)",
                        cause);
}

void HostLogSink::Write(int priority, unsigned int category, const char* text)
{
    ++m_lines;
    if (priority == GAME::LOG_PRIORITY_WARNING)
        ++m_warnings;
    else if (priority == GAME::LOG_PRIORITY_IMPORTANT)
        ++m_important;
    PrintLogLine(m_output, static_cast<GAME::LogPriority>(priority), category, text ? text : "",
                 m_printInfo || priority != GAME::LOG_PRIORITY_INFO);
}

} // namespace SampleHost
