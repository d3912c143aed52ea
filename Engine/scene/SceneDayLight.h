// The time of day's light as the scene renderers read it: whether it is day, the colour and
// direction of the sun's (or moon's) light and the sky's and the ground's ambient colours. The
// world hands it over while there is a time of day (SceneWorldServices::GetDayLight). Each answer
// reads the time of day (and advances its clock) as it is asked, in the order asked.
//
// Threads: main thread.
#pragma once

#include "core/Color.h"
#include "core/Vec3.h"

namespace GAME {

class SceneDayLight
{
public:
    virtual ~SceneDayLight() = default;

    virtual bool IsDay() = 0;
    virtual Color GetLightColor() = 0;
    virtual Color GetSkyAmbientColor() = 0;
    virtual Color GetGroundAmbientColor() = 0;
    // Toward the light; straight up while neither the day nor the night light shines.
    virtual Vec3 GetLightDirection() = 0;
};

} // namespace GAME
