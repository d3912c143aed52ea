// The sample host's engine: the library's engine with the host's log sink. Every log line is
// printed with its priority and category through the host's output, which also appends it to the
// engine's HTML log file once it is open (StartLogFile, HostOutput.h); the statistics panel's
// colour codes ("^g") are taken out, and the first "Forcing load of level" notice of each cause the
// host names (SetForcedLoadCause) is explained. HostLogSink prints and counts the library's lines,
// the engine's among them (HostEngine hands its lines to it), so that the counts the host reports
// are of the lines as they were marked; the library's info lines go to the log file alone unless
// the user asked to see them.
//
// The levels' loads and the main thread's waits for them are timed from the library's lines as
// they arrive, and from the regions' loading flags (LevelLoadTimes), for the summary.
#pragma once

#include "HostOutput.h"
#include "LevelLoadTimes.h"

#include "core/Log.h"
#include "world/Engine.h"

#include <atomic>
#include <string>
#include <utility>
#include <vector>

namespace SampleHost {

class HostLogSink;

class HostEngine : public GAME::Engine
{
public:
    // output and lines must outlive the engine: the destructor's shut-down still logs.
    HostEngine(HostOutput& output, HostLogSink& lines) : m_output(output), m_lines(lines) {}
    // Shut down while the overrides below can still take the engine threads' last lines.
    ~HostEngine() override { Shutdown(); }
    // The load timer is done before the regions it watches go. Hides the engine's Shutdown: call it
    // through the HostEngine.
    void Shutdown();

    // The log file, before anything else of the run: the engine opens it at the log path and
    // writes its header, the host appends its lines so far and from then on each as it is printed
    // (HostOutput), or goes without a file when it could not be opened (and says so). Main thread,
    // the log path set; Initialize does it when the host has not.
    void StartLogFile();
    // The log file (StartLogFile), then the engine's start-up.
    void Initialize(void* window, const GAME::GraphicsEngineSettings& settings, bool editorMode, bool flag,
                    GAME::FileSystem* fileSystem) override;

    void Log(GAME::LogPriority priority, unsigned int category, const char* format, ...) const override
        __attribute__((format(printf, 4, 5)));
    void Log(GAME::LogPriority priority, const char* format, ...) const override
        __attribute__((format(printf, 3, 4)));

    // Levels the main thread loaded itself (the library's "Forcing load of level" notices, render
    // data alone not counted): the others came from their regions' Level Loading Threads.
    unsigned int GetForcedLevelLoadCount() const { return m_forcedLevelLoads.load(); }
    // What the host is doing that may need a level at once ("the path finder's searches across
    // regions"): the first forced load while it does is explained by it. Null: none named, and a
    // forced load goes unexplained. Main thread.
    void SetForcedLoadCause(const char* cause)
    {
        m_forcedLoadCause.store(cause);
        m_forcedLoadExplained.store(false);
    }

    // What a wait of the main thread that begins from now on happens in ("at 9800 ms of path, the
    // view in Field_4_5"), what would need the level, and the flight path's time (-1: not flying).
    // Main thread.
    void SetWaitContext(std::string when, LevelLoadTimes::Need need = LevelLoadTimes::NEED_OTHER,
                        double pathMs = -1.0)
    {
        m_waitContext = std::move(when);
        m_waitNeed = need;
        m_waitPath = pathMs;
    }
    // The loads of levels the world's regions began since the last call, asked for at the flight
    // path's time given; their arrivals are timed. Main thread, after the frame's update.
    void NoteLoadsAsked(const GAME::World& world, double pathMs);
    // The loads and waits so far, every load over by the call with its arrival (which may take the
    // timer's next look, a millisecond). Main thread.
    const LevelLoadTimes& GetLevelLoadTimes() const;
    // The main thread's waits so far, at once.
    size_t GetLevelWaitCount() const { return m_loadTimes.GetWaitCount(); }

private:
    void Print(GAME::LogPriority priority, unsigned int category, const std::string& text) const;
    // On the main thread, as it is about to sleep until the level's loading thread is done.
    void TimeWait(const std::string& level) const;

    HostOutput& m_output;
    HostLogSink& m_lines;
    bool m_logStarted = false;
    mutable LevelLoadTimes m_loadTimes;
    std::string m_waitContext = "before the flight";
    LevelLoadTimes::Need m_waitNeed = LevelLoadTimes::NEED_OTHER;
    double m_waitPath = -1.0;
    std::vector<bool> m_loadingSeen; // by region index, at the last NoteLoadsAsked
    std::atomic<const char*> m_forcedLoadCause{nullptr};
    mutable std::atomic<bool> m_forcedLoadExplained{false};
    mutable std::atomic<unsigned int> m_forcedLevelLoads{0};
};

// Prints each library line as "  log <marker> [category] text": info for priority 0, warn for 1,
// NOTE for 2 (warnings and notices marked in the log file too), and counts it by the same
// priority. Info lines go to the log file alone unless printInfo. The process-wide sink (GAME::SetProcessLogSink) for the library's lines before the
// host's engine exists and after it is gone, and where the engine's lines go. Any thread.
class HostLogSink : public GAME::LogSink
{
public:
    explicit HostLogSink(HostOutput& output, bool printInfo = true) : m_output(output), m_printInfo(printInfo) {}
    void Write(int priority, unsigned int category, const char* text) override;
    // While set, every line goes to the log file alone, counted as ever: for a step whose failures
    // the host sums up in a line of its own (the regions' minimaps). Main thread.
    void SetLogOnly(bool logOnly) { m_logOnly.store(logOnly); }

    // Lines so far (printed or logged alone), and those of priority 1 and 2.
    unsigned int GetLineCount() const { return m_lines.load(); }
    unsigned int GetWarningCount() const { return m_warnings.load(); }
    unsigned int GetImportantCount() const { return m_important.load(); }

private:
    HostOutput& m_output;
    const bool m_printInfo;
    std::atomic<bool> m_logOnly{false};
    std::atomic<unsigned int> m_lines{0};
    std::atomic<unsigned int> m_warnings{0};
    std::atomic<unsigned int> m_important{0};
};

} // namespace SampleHost
