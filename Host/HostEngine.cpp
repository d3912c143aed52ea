#include "HostEngine.h"

#include "core/Log.h"
#include "platform/PlatformFile.h"
#include "world/Region.h"
#include "world/World.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <utility>

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

// The library's lines the host times, and the level each names.
const std::string beginLoadLine = "Begin Loading Level ";
const std::string endLoadLine = "End Loading Level ";
const std::string waitLine = "Main thread sleeping waiting for load of level '";

bool StartsWith(const std::string& text, const std::string& start)
{
    return text.compare(0, start.size(), start) == 0;
}

} // namespace

void HostEngine::StartLogFile()
{
    if (std::exchange(m_logStarted, true))
        return;
    OpenLogFile();
    if (IsLogFileOpen()) {
        if (m_output.OpenLogFile(GetLogPath()))
            return;
    } else {
        // The engine has said why in its warning; the run's count of files not written has it too.
        GAME::Platform::PlatformFile probe;
        const bool opens = probe.Open(GetLogPath(), GAME::Platform::FileOpenMode::Update);
        m_output.NoteNotWritten(GetLogPath(), opens || probe.GetError().empty()
                                                  ? "the engine could not open it"
                                                  : probe.GetError());
    }
    m_output.GoWithoutLogFile();
    m_output.Printf("EngineHost: no log file (could not write %s); lines go to standard output only",
                    GetLogPath().c_str());
}

void HostEngine::Initialize(void* window, const GAME::GraphicsEngineSettings& settings, bool editorMode,
                            bool flag, GAME::FileSystem* fileSystem)
{
    StartLogFile();
    GAME::Engine::Initialize(window, settings, editorMode, flag, fileSystem);
}

void HostEngine::Shutdown()
{
    m_loadTimes.Stop();
    GAME::Engine::Shutdown();
}

const LevelLoadTimes& HostEngine::GetLevelLoadTimes() const
{
    m_loadTimes.Settle();
    return m_loadTimes;
}

void HostEngine::NoteLoadsAsked(const GAME::World& world, double pathMs)
{
    m_loadingSeen.resize(static_cast<size_t>(std::max(0, world.GetNumRegions())), false);
    for (int i = 0; i < world.GetNumRegions(); ++i) {
        const GAME::Region* region = world.GetRegion(i);
        // A level's own load: a load of its render data alone reads no level.
        const bool loading = region && region->IsLoading();
        if (loading && !m_loadingSeen[static_cast<size_t>(i)]) {
            m_loadTimes.Ask(region->GetName(), m_loadTimes.Now(), pathMs);
            m_loadTimes.Watch(region);
        }
        m_loadingSeen[static_cast<size_t>(i)] = loading;
    }
}

void HostEngine::TimeWait(const std::string& level) const
{
    m_loadTimes.WaitBegan(level, m_loadTimes.Now(), m_waitPath, m_waitNeed, m_waitContext);
    if (GAME::World* world = GetWorld())
        for (int i = 0; i < world->GetNumRegions(); ++i)
            if (world->GetRegion(i) && world->GetRegion(i)->GetName() == level) {
                m_loadTimes.Watch(world->GetRegion(i));
                break;
            }
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
    if (StartsWith(text, beginLoadLine))
        m_loadTimes.LoadBegan(text.substr(beginLoadLine.size()), m_loadTimes.Now());
    else if (StartsWith(text, endLoadLine))
        m_loadTimes.LoadEnded(text.substr(endLoadLine.size()), m_loadTimes.Now());
    else if (StartsWith(text, waitLine) && text.size() > waitLine.size() && text.back() == '\'')
        TimeWait(text.substr(waitLine.size(), text.size() - waitLine.size() - 1));
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
                 !m_logOnly.load() && (m_printInfo || priority != GAME::LOG_PRIORITY_INFO));
}

} // namespace SampleHost
