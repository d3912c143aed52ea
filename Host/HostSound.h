// The sample host's sound: the ears follow the flight's view, a chime from the sample sound pak
// sounds beside the view whenever it enters another region, and the music director plays the
// sample field music outdoors and the cave music underground, cross-fading between them. Without a
// sound device (the engine then logged "Couldn't initialize MILES Sound Device.") nothing plays and
// the flight runs on.
#pragma once

#include "core/Vec3.h"

namespace GAME {
class Engine;
class Region;
} // namespace GAME

namespace SampleHost {

class HostOutput;

class HostSound
{
public:
    HostSound(GAME::Engine& engine, HostOutput& out);
    HostSound(const HostSound&) = delete;
    HostSound& operator=(const HostSound&) = delete;

    // Before each engine frame, with the view of that frame.
    void Frame(GAME::Region* region, const GAME::Vec3& position, const GAME::Vec3& direction);
    int GetSoundsPlayed() const { return m_played; }

private:
    GAME::Engine& m_engine;
    GAME::Region* m_lastRegion = nullptr;
    int m_played = 0;
};

} // namespace SampleHost
