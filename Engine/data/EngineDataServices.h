// What the data layer needs of the engine above it: the frame counter, the engine's file
// system, the statistics text, the "Engine" log category and whether the graphics engine shows
// its statistics. The engine implements this interface and installs it when it is constructed
// (and removes it when it goes away); the data layer never includes the engine.
//
// Without an engine (tools, tests of the data layer) the shorthands below answer for it: frame
// count 0, no file system (loads report the file as not found, once logged), statistics lines
// dropped, log category 0, graphics statistics off.
//
// Threads: Install and Remove on the main thread while no loader thread runs; the getters are
// called from the main thread and the resource loader thread, so implementations answer them
// without taking the engine's frame locks.
#pragma once

namespace GAME {

class FileSystem;

class EngineDataServices
{
public:
    virtual ~EngineDataServices() = default;

    virtual unsigned int GetFrameCount() = 0;
    virtual FileSystem* GetFileSystem() = 0;
    // One line of the statistics display (already formatted).
    virtual void AddStatisticText(const char* text) = 0;
    // The number of the "Engine" log category.
    virtual unsigned int GetEngineLogCategory() = 0;
    virtual bool AreGraphicsStatsEnabled() = 0;

    // Installs the one implementation (null removes it).
    static void Install(EngineDataServices* services);
    static EngineDataServices* Get();

    // Shorthands that stand in for a missing engine.
    static unsigned int FrameCount();
    // Null (logged once per process) when no file system is known.
    static FileSystem* Files();
    static void StatisticText(const char* text);
    static unsigned int EngineLogCategory();
    static bool GraphicsStatsEnabled();
};

} // namespace GAME
