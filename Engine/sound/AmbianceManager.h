// The ambiance of the view's surroundings: ambient music and sounds by sector, and the tints and
// strengths the renderer and the night lights read by time of day (shadow intensity, night-light
// scale, light and ambient colours per environment: 1 outdoors, 0 underground). The engine
// creates it at start-up, updates it every frame, resets it when the world is unloaded and
// deletes it in its destructor. Main thread only.
//
// This build has no audio device and no time-of-day model of its own here: nothing is played,
// and the values read are neutral (full shadows, night lights at full scale, white tints), so the
// renderer draws the scene as its own lights say.
#pragma once

#include "core/Color.h"

namespace GAME {

class AmbianceManager
{
public:
    enum Environment
    {
        ENVIRONMENT_UNDERGROUND = 0,
        ENVIRONMENT_OUTDOORS = 1,
    };

    AmbianceManager() = default;
    virtual ~AmbianceManager() = default;
    AmbianceManager(const AmbianceManager&) = delete;
    AmbianceManager& operator=(const AmbianceManager&) = delete;

    void Update(int elapsedMs);
    // Forgets the sector and music state of the unloaded world.
    void Reset();

    float GetShadowIntensity() const { return 1.0f; }
    float GetNightLightScale() const { return 1.0f; }
    const Color& GetLightColor(int environment) const;
    const Color& GetSkyAmbientColor(int environment) const;
    const Color& GetGroundAmbientColor(int environment) const;

private:
    Color m_neutral = Color(1.0f, 1.0f, 1.0f, 1.0f);
};

} // namespace GAME
