// The time of day of the game world and what follows from it: the sun's (or moon's) light
// direction and three key-framed colours (light, sky ambient, ground ambient) that outdoor lighting,
// ambiance and music read. Time of day advances with game time: 30 hours of day per hour of game
// time, so a day lasts 48 game minutes. One instance through Singleton. Main thread only.
#pragma once

#include "core/Color.h"
#include "core/Singleton.h"
#include "core/Vec3.h"

#include <vector>

namespace GAME {

class DayNightManager : public Singleton<DayNightManager>
{
public:
    struct LightSetup
    {
        float time = 0.0f; // hours
        Color lightColor;
        Color skyAmbientColor;
        Color groundAmbientColor;
    };

    // Enabled, 9:00 AM, the default key table.
    DayNightManager();
    ~DayNightManager() override = default;

    // Enabling again resumes without a jump: the next reading only stamps the clock.
    void Enable(bool enable);
    bool IsEnabled() const { return m_enabled; }

    void SetTime(float hours);
    // Sets the start time and the time of day.
    void SetStartTime(float hours);
    // The time of day in [0, 24), advanced by the game time passed since the last reading.
    float GetTimeInHours();
    float GetHoursPerDay() const { return 24.0f; }
    float GetSunrise() const { return m_sunrise; }
    float GetSunset() const { return m_sunset; }

    // Whether time lies in [start, end) on the 24-hour clock (spans may cross midnight); fraction
    // is where in the span it lies. A span whose start equals its end holds no time (fraction 0).
    bool IsTimeBetween(float time, float start, float end, float& fraction) const;
    bool IsDay();

    // Toward the light; straight up while neither the day nor the night light shines.
    Vec3 GetLightDirection();
    Color GetLightColor();
    Color GetSkyAmbientColor();
    Color GetGroundAmbientColor();

    // Adds a key (the time wrapped into [0, 24)) after the keys of equal or earlier time.
    void SetLightSetup(float time, const Color& light, const Color& skyAmbient, const Color& groundAmbient);
    // The Catmull-Rom blend of the keys around the time, colours held to [0, 1], alpha 1. With no
    // keys, black.
    LightSetup GetInterpolatedLightSetup(float time) const;
    int GetNumLightSetups() const { return static_cast<int>(m_lightSetups.size()); }
    void ClearLightSetups() { m_lightSetups.clear(); }

    // Three lines of the statistics text: the time, the light's elevation and colour.
    void DisplayInfo();

    // A 12-hour clock text (" %d : %d %2s ", e.g. " 2:01 AM") in hours; 0 when it does not read.
    static float ParseClockTime(const char* text);

private:
    // The light's elevation in radians and whether a light shines now.
    bool GetLightElevation(float time, float& elevation, float& azimuth) const;

    bool m_enabled = true;
    bool m_restartPending = true;
    int m_lastClockStamp = 0; // game milliseconds
    float m_timeOfDay = 9.0f;
    float m_timeScale = 30.0f;
    float m_startTime = 9.0f;
    float m_sunrise;
    float m_sunset;
    float m_dayLightAzimuth;
    float m_dayLightLowestElevation;
    float m_nightLightStart;
    float m_nightLightEnd;
    float m_nightLightAzimuth;
    float m_nightLightLowestElevation;
    std::vector<LightSetup> m_lightSetups;
};

} // namespace GAME
