// How something disturbs the ground and the water where it moves (World::CreateDisturbance): the
// water turns it into the kind of ripple it starts; the grass is pushed the same way for every
// kind. A plain value; any thread.
#pragma once

#include <cstdint>

namespace GAME {

enum SplashType : int32_t
{
    SPLASH_NONE = 0,
    SPLASH_WAKE = 1,
    SPLASH_OBJECT = 2,
    SPLASH_BODY = 3,
};

} // namespace GAME
