#include "world/DayNightManager.h"

#include "core/Log.h"
#include "core/Time.h"
#include "data/EngineDataServices.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>

namespace GAME {

namespace {

constexpr float kPi = 3.14159265358979f;
constexpr float kHoursPerMillisecond = 1.0f / 3600000.0f;

float Radians(float degrees)
{
    return degrees * (kPi / 180.0f);
}

// Into [0, 24) by whole days.
float WrapHours(float hours)
{
    if (!std::isfinite(hours))
        return 0.0f;
    float wrapped = std::fmod(hours, 24.0f);
    if (wrapped < 0.0f)
        wrapped += 24.0f;
    return wrapped >= 24.0f ? 0.0f : wrapped;
}

Color Rgb(float r, float g, float b)
{
    return Color(r, g, b, 1.0f);
}

float CatmullRom(float c0, float c1, float c2, float c3, float f)
{
    const float f2 = f * f;
    const float f3 = f2 * f;
    return 0.5f * (2.0f * c1 + (c2 - c0) * f + (2.0f * c0 - 5.0f * c1 + 4.0f * c2 - c3) * f2 +
                   (3.0f * c1 - c0 - 3.0f * c2 + c3) * f3);
}

Color Blend(const Color& c0, const Color& c1, const Color& c2, const Color& c3, float f)
{
    return Color(std::clamp(CatmullRom(c0.r, c1.r, c2.r, c3.r, f), 0.0f, 1.0f),
                 std::clamp(CatmullRom(c0.g, c1.g, c2.g, c3.g, f), 0.0f, 1.0f),
                 std::clamp(CatmullRom(c0.b, c1.b, c2.b, c3.b, f), 0.0f, 1.0f), 1.0f);
}

void SkipSpaces(const char*& p)
{
    while (*p && std::isspace(static_cast<unsigned char>(*p)))
        ++p;
}

// A decimal integer with an optional sign, as "%d" reads it (C locale).
bool ReadInt(const char*& p, int& out)
{
    SkipSpaces(p);
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = *p++ == '-';
    if (!std::isdigit(static_cast<unsigned char>(*p)))
        return false;
    int64_t value = 0;
    while (std::isdigit(static_cast<unsigned char>(*p))) {
        value = std::min<int64_t>(value * 10 + (*p++ - '0'), INT32_MAX);
    }
    out = static_cast<int>(negative ? -value : value);
    return true;
}

} // namespace

float DayNightManager::ParseClockTime(const char* text)
{
    if (!text)
        return 0.0f;
    const char* p = text;
    int hours = 0, minutes = 0;
    if (!ReadInt(p, hours))
        return 0.0f;
    SkipSpaces(p);
    if (*p++ != ':')
        return 0.0f;
    if (!ReadInt(p, minutes))
        return 0.0f;
    SkipSpaces(p);
    char suffix[3] = {0, 0, 0};
    for (int i = 0; i < 2 && *p && !std::isspace(static_cast<unsigned char>(*p)); ++i)
        suffix[i] = *p++;
    if (!suffix[0])
        return 0.0f;
    if (hours == 12)
        hours = 0;
    float time = static_cast<float>(hours) + static_cast<float>(minutes) * (1.0f / 60.0f);
    if (std::tolower(static_cast<unsigned char>(suffix[0])) == 'p' &&
        std::tolower(static_cast<unsigned char>(suffix[1])) == 'm')
        time += 12.0f;
    return WrapHours(time);
}

DayNightManager::DayNightManager()
    : m_sunrise(ParseClockTime(" 2:01 AM")), m_sunset(ParseClockTime("10:59 PM")),
      m_dayLightAzimuth(Radians(138.0f)), m_dayLightLowestElevation(Radians(25.0f)),
      m_nightLightStart(ParseClockTime("11:00 PM")), m_nightLightEnd(ParseClockTime(" 2:00 AM")),
      m_nightLightAzimuth(Radians(138.0f)), m_nightLightLowestElevation(Radians(40.0f))
{
    const Color moonLight = Rgb(0.165f, 0.198f, 0.55f);
    const Color night = Rgb(0.0f, 0.0f, 0.0f);
    const Color nightSky = Rgb(0.12f, 0.26f, 0.59f);
    const Color duskSky = Rgb(0.156f, 0.338f, 0.897f);
    const Color darkSky = Rgb(0.168f, 0.364f, 0.966f);
    const Color nightGround = Rgb(0.11f, 0.15f, 0.24f);
    const Color dayLight = Rgb(0.94f, 0.82f, 0.65f);
    const Color daySky = Rgb(0.52f, 0.56f, 0.64f);
    const Color dayGround = Rgb(0.45f, 0.29f, 0.18f);
    SetLightSetup(ParseClockTime(" 1:00 AM"), moonLight, nightSky, nightGround);
    SetLightSetup(m_nightLightEnd, night, duskSky, nightGround);
    SetLightSetup(m_sunrise, night, darkSky, nightGround);
    SetLightSetup(ParseClockTime(" 3:10 AM"), Rgb(1.0f, 0.81f, 0.59f), Rgb(0.26f, 0.15f, 0.35f),
                  Rgb(0.65f, 0.38f, 0.11f));
    SetLightSetup(ParseClockTime(" 9:00 AM"), dayLight, daySky, dayGround);
    SetLightSetup(ParseClockTime(" 5:00 PM"), dayLight, daySky, dayGround);
    SetLightSetup(ParseClockTime(" 6:00 PM"), Rgb(0.94f, 0.78f, 0.65f), Rgb(0.5f, 0.45f, 0.38f), dayGround);
    SetLightSetup(ParseClockTime("10:00 PM"), Rgb(1.0f, 0.6f, 0.35f), Rgb(0.2f, 0.32f, 0.5f),
                  Rgb(0.5f, 0.27f, 0.21f));
    SetLightSetup(m_sunset, night, darkSky, nightGround);
    SetLightSetup(m_nightLightStart, night, duskSky, nightGround);
    SetLightSetup(ParseClockTime("11:10 PM"), moonLight, nightSky, nightGround);
}

void DayNightManager::Enable(bool enable)
{
    m_enabled = enable;
    m_restartPending = true;
}

void DayNightManager::SetTime(float hours)
{
    m_timeOfDay = WrapHours(hours);
}

void DayNightManager::SetStartTime(float hours)
{
    m_startTime = hours;
    SetTime(hours);
}

float DayNightManager::GetTimeInHours()
{
    if (m_enabled) {
        const int now = GetGameTime();
        if (m_restartPending) {
            m_lastClockStamp = now;
            m_restartPending = false;
        }
        // Unsigned difference: whole milliseconds, exact however long the game has run.
        const uint32_t elapsed = static_cast<uint32_t>(now) - static_cast<uint32_t>(m_lastClockStamp);
        m_lastClockStamp = now;
        // The stored time is kept within one day, or after long play the small steps of a frame
        // would vanish below the float's precision.
        const double advance = static_cast<double>(elapsed) * kHoursPerMillisecond * m_timeScale;
        m_timeOfDay = WrapHours(static_cast<float>(std::fmod(m_timeOfDay + advance, 24.0)));
    }
    return WrapHours(m_timeOfDay);
}

bool DayNightManager::IsTimeBetween(float time, float start, float end, float& fraction) const
{
    if (time < start)
        time += 24.0f;
    if (end < start)
        end += 24.0f;
    if (end == start) {
        fraction = 0.0f;
        return false;
    }
    fraction = (time - start) / (end - start);
    return fraction >= 0.0f && fraction < 1.0f;
}

bool DayNightManager::IsDay()
{
    float fraction;
    return IsTimeBetween(GetTimeInHours(), m_sunrise, m_sunset, fraction);
}

bool DayNightManager::GetLightElevation(float time, float& elevation, float& azimuth) const
{
    float fraction;
    if (IsTimeBetween(time, m_sunrise, m_sunset, fraction)) {
        elevation = m_dayLightLowestElevation + (kPi - 2.0f * m_dayLightLowestElevation) * fraction;
        azimuth = m_dayLightAzimuth;
        return true;
    }
    if (IsTimeBetween(time, m_nightLightStart, m_nightLightEnd, fraction)) {
        elevation = m_nightLightLowestElevation + (kPi - 2.0f * m_nightLightLowestElevation) * fraction;
        azimuth = m_nightLightAzimuth;
        return true;
    }
    return false;
}

Vec3 DayNightManager::GetLightDirection()
{
    float elevation, azimuth;
    if (!GetLightElevation(GetTimeInHours(), elevation, azimuth))
        return Vec3(0.0f, 1.0f, 0.0f);
    return Vec3(std::cos(elevation) * std::cos(azimuth), std::sin(elevation),
                std::cos(elevation) * std::sin(azimuth));
}

Color DayNightManager::GetLightColor()
{
    return GetInterpolatedLightSetup(GetTimeInHours()).lightColor;
}

Color DayNightManager::GetSkyAmbientColor()
{
    return GetInterpolatedLightSetup(GetTimeInHours()).skyAmbientColor;
}

Color DayNightManager::GetGroundAmbientColor()
{
    return GetInterpolatedLightSetup(GetTimeInHours()).groundAmbientColor;
}

void DayNightManager::SetLightSetup(float time, const Color& light, const Color& skyAmbient,
                                    const Color& groundAmbient)
{
    LightSetup setup;
    setup.time = WrapHours(time);
    setup.lightColor = light;
    setup.skyAmbientColor = skyAmbient;
    setup.groundAmbientColor = groundAmbient;
    auto it = std::upper_bound(m_lightSetups.begin(), m_lightSetups.end(), setup.time,
                               [](float t, const LightSetup& s) { return t < s.time; });
    m_lightSetups.insert(it, setup);
}

DayNightManager::LightSetup DayNightManager::GetInterpolatedLightSetup(float time) const
{
    LightSetup result;
    result.time = time;
    const size_t n = m_lightSetups.size();
    if (n == 0) {
        result.lightColor = result.skyAmbientColor = result.groundAmbientColor = Rgb(0.0f, 0.0f, 0.0f);
        return result;
    }
    size_t i = 0;
    while (i < n && !(m_lightSetups[i].time > time))
        ++i;
    if (i == n)
        i = 0;
    const LightSetup& s0 = m_lightSetups[(i + 2 * n - 2) % n];
    const LightSetup& s1 = m_lightSetups[(i + n - 1) % n];
    const LightSetup& s2 = m_lightSetups[i];
    const LightSetup& s3 = m_lightSetups[(i + 1) % n];
    float span = s2.time - s1.time;
    if (span < 0.0f)
        span += 24.0f;
    float f = 0.0f;
    if (span != 0.0f) {
        const float t = time < s1.time ? time + 24.0f : time;
        f = (t - s1.time) / span;
    }
    result.lightColor = Blend(s0.lightColor, s1.lightColor, s2.lightColor, s3.lightColor, f);
    result.skyAmbientColor =
        Blend(s0.skyAmbientColor, s1.skyAmbientColor, s2.skyAmbientColor, s3.skyAmbientColor, f);
    result.groundAmbientColor =
        Blend(s0.groundAmbientColor, s1.groundAmbientColor, s2.groundAmbientColor, s3.groundAmbientColor, f);
    return result;
}

void DayNightManager::DisplayInfo()
{
    const float time = GetTimeInHours();
    const int hour = static_cast<int>(time);
    const int minute = static_cast<int>(time * 60.0f) % 60;
    EngineDataServices::StatisticText(FormatString("%i:%02i", hour, minute).c_str());
    float elevation = 0.0f, azimuth;
    if (!GetLightElevation(time, elevation, azimuth))
        elevation = 0.0f;
    EngineDataServices::StatisticText(
        FormatString("Light angle: %2f", static_cast<double>(elevation * (180.0f / kPi))).c_str());
    const Color light = GetInterpolatedLightSetup(time).lightColor;
    EngineDataServices::StatisticText(FormatString("Light color: (%2f, %2f, %2f)",
                                                   static_cast<double>(light.r), static_cast<double>(light.g),
                                                   static_cast<double>(light.b))
                                          .c_str());
}

} // namespace GAME
