#include "world/ColorPulse.h"

#include "core/Log.h"
#include "core/ObjectManager.h"
#include "data/LoadTable.h"

#include <algorithm>
#include <cstdint>

namespace GAME {

ColorPulse::ColorPulse(int pulseTime, const Color& colorA, const Color& colorB)
    : m_pulseTime(pulseTime), m_colorA(colorA), m_colorB(colorB)
{
}

ColorPulse::ColorPulse(const std::string& recordName)
{
    LoadFromDatabase(recordName);
}

const Color& ColorPulse::Update(int elapsed)
{
    const int64_t remaining = static_cast<int64_t>(m_remaining) - elapsed;
    m_remaining = static_cast<int>(std::clamp<int64_t>(remaining, INT32_MIN, INT32_MAX));

    float t = 0.0f;
    if (m_pulseTime != 0) {
        const float quotient = static_cast<float>(m_remaining) / static_cast<float>(m_pulseTime);
        if (quotient > 0.0f)
            t = std::min(quotient, 1.0f);
    }
    if (m_rising)
        t = 1.0f - t;

    if (m_cyclesDone == m_numberOfCycles && m_rising) {
        // The final swing: towards the default colour, or, without one, the pulse ends here.
        if (m_defaultColor.r >= 0.0f)
            m_currentColor = m_colorA + (m_defaultColor - m_colorA) * t;
        else
            ++m_cyclesDone;
    } else {
        m_currentColor = m_colorA + (m_colorB - m_colorA) * t;
    }

    if (m_remaining <= 0) {
        m_remaining = m_pulseTime;
        if (m_rising)
            ++m_cyclesDone;
        m_rising = !m_rising;
    }
    return m_currentColor;
}

void ColorPulse::Reset()
{
    m_remaining = m_pulseTime;
    m_cyclesDone = 0;
}

bool ColorPulse::IsPulsing() const
{
    if (m_numberOfCycles == 0)
        return false;
    if (m_numberOfCycles < 0)
        return true;
    return m_cyclesDone <= m_numberOfCycles;
}

void ColorPulse::SyncToColorPulse(const ColorPulse* other)
{
    if (!other)
        return;
    m_remaining = std::min(std::max(other->m_remaining, 0), std::max(m_pulseTime, 0));
    if (m_cyclesDone > 0)
        --m_cyclesDone;
    m_rising = other->m_rising;
}

void ColorPulse::LoadFromDatabase(const std::string& recordName)
{
    ObjectManager* objects = ObjectManager::Get();
    LoadTable* table = objects->LoadTableFile(recordName);
    if (!table)
        table = objects->GetLoadTable(recordName);
    if (!table)
        LogPrintf(1, "ColorPulse: record '%s' could not be read; its defaults are used", recordName.c_str());

    auto getInt = [table](const char* name, int value) { return table ? table->GetInt(name, value) : value; };
    auto getFloat = [table](const char* name, float value) {
        return table ? table->GetFloat(name, value) : value;
    };
    m_pulseTime = getInt("pulseTime", 0);
    m_remaining = m_pulseTime;
    m_numberOfCycles = getInt("numberOfCycles", -1);
    // The names ending in Blue fill the second component, those ending in Green the third.
    m_colorA.r = getFloat("pulseColorARed", 0.0f);
    m_colorA.g = getFloat("pulseColorABlue", 0.0f);
    m_colorA.b = getFloat("pulseColorAGreen", 0.0f);
    m_colorA.a = getFloat("pulseColorAAlpha", 0.0f);
    m_colorB.r = getFloat("pulseColorBRed", 0.0f);
    m_colorB.g = getFloat("pulseColorBBlue", 0.0f);
    m_colorB.b = getFloat("pulseColorBGreen", 0.0f);
    m_colorB.a = getFloat("pulseColorBAlpha", 0.0f);
    m_defaultColor.r = getFloat("defaultPulseColorRed", -1.0f);
    m_defaultColor.g = getFloat("defaultPulseColorBlue", -1.0f);
    m_defaultColor.b = getFloat("defaultPulseColorGreen", -1.0f);
    m_defaultColor.a = getFloat("defaultPulseColorAlpha", -1.0f);
}

} // namespace GAME
