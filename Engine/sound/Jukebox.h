// The music director: it chooses and cross-fades the music sessions (ambient, event, boss) by
// sector and time of day. A lazily made singleton; the engine updates it every frame while game
// time runs, cleans it when the world is unloaded and destroys it at shut-down, after the style
// manager. Main thread only.
//
// This build has no audio device, so no music plays: the jukebox keeps no sessions, Update has
// nothing to advance and Clean nothing to stop.
#pragma once

#include "core/Singleton.h"

namespace GAME {

class Jukebox : public Singleton<Jukebox>
{
public:
    Jukebox() = default;
    ~Jukebox() override = default;

    void Update();
    // Stops and forgets every session of the unloaded world.
    void Clean();
};

} // namespace GAME
