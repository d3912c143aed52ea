#include "FlightSummary.h"

#include "HostOutput.h"

#include "core/Log.h"

#include <algorithm>

namespace SampleHost {

double PathPerFrameMs(float duration, int frames)
{
    return frames > 1 ? 1000.0 * duration / (frames - 1) : 0.0;
}

std::string DescribePace(double pathSeconds, double seconds)
{
    const double ratio = seconds > 0.0 ? pathSeconds / seconds : 0.0;
    if (ratio >= 1.0)
        return GAME::FormatString("%.1f times as fast as real time", ratio);
    return GAME::FormatString("slower than real time (%.0f ms of path in them)", pathSeconds * 1000.0);
}

std::vector<std::string> DescribeFlight(const FlightFacts& facts)
{
    std::vector<std::string> lines;
    if (facts.flightFrames == 0) {
        lines.push_back("  frames              none: the run ended before the flight began");
        return lines;
    }
    const bool simulated = facts.framesAsked > 0;
    // Frames at the path's start alone (a flight of one frame, or one cut short after its first)
    // carried the camera nowhere.
    const bool moved = facts.drawnUpTo > 0.0f;
    const double pathMs = 1000.0 * (facts.flown ? facts.duration : facts.drawnUpTo);
    std::string path =
        !moved        ? GAME::FormatString("none flown of the %.0f ms path", facts.duration * 1000.0)
        : facts.flown ? GAME::FormatString("%.0f ms", pathMs)
                      : GAME::FormatString("%.0f ms of the %.0f ms path", pathMs, facts.duration * 1000.0);
    if (!moved)
        lines.push_back(GAME::FormatString("  frames              %d, the camera at the path's start%s",
                                           facts.flightFrames, simulated ? "" : ", in real time"));
    else if (simulated)
        lines.push_back(GAME::FormatString("  frames              %d, %.1f ms of camera path each",
                                           facts.flightFrames,
                                           PathPerFrameMs(facts.duration, facts.framesAsked)));
    else
        lines.push_back(GAME::FormatString("  frames              %d, in real time", facts.flightFrames));
    if (simulated && moved)
        path += ", simulated";
    lines.push_back("  camera path         " + path);
    const double rate = facts.seconds > 0.0 ? facts.flightFrames / facts.seconds : 0.0;
    std::string time = GAME::FormatString("  flight time         %.0f ms: %.1f frames a second",
                                          facts.seconds * 1000.0, rate);
    // The path's time is simulated; only the frames' cost is real.
    if (simulated && moved)
        time += ", " + DescribePace(pathMs / 1000.0, facts.seconds);
    lines.push_back(time);
    if (!simulated && facts.holds > 0)
        lines.push_back(GAME::FormatString(
            "  held back           %s, %.0f ms in all: those frames took so long that the camera would "
            "have passed a region unviewed",
            Counted(facts.holds, "time", "times").c_str(), facts.heldMs));
    lines.push_back(GAME::FormatString("  game time           %d ms%s", facts.gameTimeMs,
                                       simulated ? " (the engine's clock runs in real time)" : ""));
    return lines;
}

std::vector<std::string> DescribeLevels(const LevelFacts& facts,
                                        const std::vector<LevelLoadTimes::Load>& loads,
                                        const std::vector<LevelLoadTimes::Wait>& waits, float unitsPerSecond)
{
    const std::string under(22, ' ');
    std::vector<std::string> lines;
    const int loaded = facts.before + facts.during;
    if (loaded == 0) {
        lines.push_back("  levels              none loaded");
    } else {
        const int forced = std::min(facts.forced, loaded);
        // What asked for the levels in before the flight: only what ran.
        std::string before;
        if (facts.before > 0 && facts.loadingDrewViews)
            before = "for the views the loading frames drew";
        else if (facts.before > 0 && facts.loadingFrames)
            before = "for the views the loading frames were to draw";
        if (facts.before > 0 && facts.pathFinderRan)
            before += before.empty() ? "for the path finder" : " and the path finder";
        lines.push_back(GAME::FormatString(
            "  levels              %d loaded: %d before the flight%s, %d during it; %s", loaded, facts.before,
            before.empty() ? "" : (" (" + before + ")").c_str(), facts.during,
            forced ? GAME::FormatString(
                         "%d of them by the main thread itself, the others on their Level Loading Threads",
                         forced)
                         .c_str()
                   : "all on their Level Loading Threads"));
    }
    // The main thread's waits for levels their threads had not finished: how long, and why.
    if (loaded > 0 || !waits.empty())
        for (const std::string& line : DescribeLevelWaits(loads, waits, unitsPerSecond))
            lines.push_back(under + line);
    if (facts.stillLoading)
        lines.push_back(under +
                        Counted(facts.stillLoading, "more was still loading on its thread",
                                "more were still loading on their threads") +
                        " when the run ended (the shut-down waits for " +
                        (facts.stillLoading == 1 ? "it" : "them") + ")");
    if (facts.notTakenIn)
        lines.push_back(
            under +
            Counted(facts.notTakenIn, "more had loaded on its thread", "more had loaded on their threads") +
            ", but the run ended before the main thread took " + (facts.notTakenIn == 1 ? "it" : "them") +
            " in");
    if (facts.unloaded > 0)
        lines.push_back(
            under + GAME::FormatString("%d unloaded (no view had used %s for about %d frames), %s state kept",
                                       facts.unloaded, facts.unloaded == 1 ? "it" : "them",
                                       facts.unloadFrames, facts.unloaded == 1 ? "its" : "their"));
    else if (loaded > 0 && facts.flightFrames == 0)
        lines.push_back(under + "none unloaded");
    else if (loaded > 0)
        lines.push_back(under +
                        GAME::FormatString("none unloaded: a level unloads once no view has used it for "
                                           "about %d frames, and the flight ran %d",
                                           facts.unloadFrames, facts.flightFrames));
    return lines;
}

} // namespace SampleHost
