// The sample host's summary of its flight: the frames, the camera path flown and its pace, and the
// levels loaded, said only of what happened. A flight of one frame flew no path and has no pace;
// a run cut short before any level came in names no loading thread and no wait. The facts are
// the run's, gathered by the host as it flies; these functions only word them. Main thread.
#pragma once

#include "LevelLoadTimes.h"

#include <string>
#include <vector>

namespace SampleHost {

// In a run of fixed frames the first frame sees the path's start and the last its end: the path
// each frame carries the camera on, in ms (0 for a single frame, which stays at the start).
double PathPerFrameMs(float duration, int frames);

// The simulated path's pace against real time, for a run of fixed frames that flew some path:
// "4.3 times as fast as real time", or as much as it was when slower ("slower than real time
// (850 ms of path in them)": a busy machine, a flight cut short in its first, longest frames).
std::string DescribePace(double pathSeconds, double seconds);

struct FlightFacts
{
    int framesAsked = 0;    // 0: the flight in real time
    int flightFrames = 0;   // the flight's frames drawn
    float duration = 0.0f;  // the whole path, in seconds
    float drawnUpTo = 0.0f; // the path's time at the last frame drawn, in seconds
    bool flown = false;     // to the path's end
    double seconds = 0.0;   // the flight's real time
    int holds = 0;          // real time: frames held back so as to pass no region unviewed
    double heldMs = 0.0;
    int gameTimeMs = 0;
};
// "  frames ...", "  camera path ...", "  flight time ...", "  held back ...", "  game time ...".
std::vector<std::string> DescribeFlight(const FlightFacts& facts);

struct LevelFacts
{
    int before = 0;                // in when the flight started
    int during = 0;                // came in during the flight
    int forced = 0;                // of them, loaded by the main thread itself
    bool loadingDrewViews = false; // the loading frames drew a view
    bool loadingFrames = false;    // the loading frames ran at all
    bool pathFinderRan = false;
    int stillLoading = 0; // still on their threads when the run ended
    int notTakenIn = 0;   // loaded on their threads, never taken in
    int unloaded = 0;
    int unloadFrames = 0; // frames without use after which a level unloads
    int flightFrames = 0;
};
// "  levels ..." and the lines under it: where the levels came from, the main thread's waits for
// them (DescribeLevelWaits), what was still loading and what was let go.
std::vector<std::string> DescribeLevels(const LevelFacts& facts,
                                        const std::vector<LevelLoadTimes::Load>& loads,
                                        const std::vector<LevelLoadTimes::Wait>& waits, float unitsPerSecond);

} // namespace SampleHost
