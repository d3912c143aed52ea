// A colour that swings back and forth between colour A and colour B, each swing lasting the pulse
// time, for a number of cycles (or for ever with -1; 0 makes the pulse inactive), optionally ending
// its last rising swing on a default colour. The owner calls Update with the elapsed milliseconds
// every frame and uses the colour it answers. Set up in code or read from a database record
// (LoadFromDatabase).
//
// Starting at a swing's end (remaining 0) and rising, the first Update shows colour B; the colour
// then runs from B to A over one pulse time, from A to B over the next, and so on. Records keep
// their colours' second component under the names ending in "Blue" and the third under those
// ending in "Green": stored records rely on that order.
//
// A plain value, copied freely; not an object of the class registry. One thread at a time.
#pragma once

#include "core/Color.h"

#include <string>

namespace GAME {

class ColorPulse
{
public:
    // Remaining 0, rising, no cycles done, for ever; the default colour stays unset.
    ColorPulse(int pulseTime, const Color& colorA, const Color& colorB);
    // All zero, rising, for ever, then LoadFromDatabase.
    explicit ColorPulse(const std::string& recordName);
    ColorPulse(const ColorPulse&) = default;
    ColorPulse& operator=(const ColorPulse&) = default;
    virtual ~ColorPulse() = default;

    // One frame; answers the current colour.
    const Color& Update(int elapsed);
    const Color& GetCurrentColor() const { return m_currentColor; }

    // Remaining := pulse time; cycles done := 0.
    void Reset();
    void SetPulseTime(int pulseTime) { m_pulseTime = pulseTime; }
    void SetColorA(const Color& color) { m_colorA = color; }
    void SetColorB(const Color& color) { m_colorB = color; }
    // A red component below 0 means none.
    void SetDefaultColor(const Color& color) { m_defaultColor = color; }

    // False for 0 cycles, true for ever (negative), else whether cycles done <= the number.
    bool IsPulsing() const;
    // Takes the other pulse's place in its swing (remaining held to 0 .. this pulse time) and
    // direction; one cycle fewer counts as done (when any was).
    void SyncToColorPulse(const ColorPulse* other);
    // Reads the record's fields (see the source); a record that cannot be read leaves the pulse
    // with the fields' defaults, logged. Cycles done and the direction are kept.
    void LoadFromDatabase(const std::string& recordName);

    int GetRemaining() const { return m_remaining; }
    int GetPulseTime() const { return m_pulseTime; }
    bool IsRising() const { return m_rising; }
    int GetCyclesDone() const { return m_cyclesDone; }
    int GetNumberOfCycles() const { return m_numberOfCycles; }
    const Color& GetColorA() const { return m_colorA; }
    const Color& GetColorB() const { return m_colorB; }
    const Color& GetDefaultColor() const { return m_defaultColor; }

private:
    int m_remaining = 0;
    int m_pulseTime = 0;
    bool m_rising = true;
    int m_cyclesDone = 0;
    int m_numberOfCycles = -1;
    Color m_currentColor;
    Color m_colorA;
    Color m_colorB;
    Color m_defaultColor;
};

} // namespace GAME
