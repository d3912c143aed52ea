// The render debugger widget the engine adds at start-up outside editor mode: when shown it lets
// a developer limit how many of the frame's draw calls the device carries out, to step through a
// frame's drawing, and flip the device's two debug switches (keys A and P). While hidden it keeps
// the device drawing everything. Main thread only.
//
// TODO(stand-in): the frame statistics text, the draw-call slider (drawing and mouse dragging),
// the draw-call limit with the bracket keys' repeating steps; they come with fonts and the canvas's text
// drawing.
#pragma once

#include "graphics/DisplayWidget.h"

#include <cstdint>

namespace GAME {

class RenderDebugger : public DisplayWidget
{
public:
    // Scan codes of the keys it reads.
    static constexpr uint32_t keyDecreaseLimit = 26;
    static constexpr uint32_t keyIncreaseLimit = 27;
    static constexpr uint32_t keyFastRepeat = 42;
    static constexpr uint32_t keySwitch1 = 30;
    static constexpr uint32_t keySwitch2 = 25;

    RenderDebugger() = default;
    ~RenderDebugger() override = default;

    void Show(bool show) { m_shown = show; }
    bool IsShown() const { return m_shown; }
    bool GetDebugSwitch1() const { return m_debugSwitch1; }
    bool GetDebugSwitch2() const { return m_debugSwitch2; }
    // The draw calls of the last frame the widget drew while shown.
    uint32_t GetDrawCalls() const { return m_drawCalls; }

    void Render(GraphicsCanvas& canvas) const override;
    // While shown, a press of A or P flips debug switch 1 or 2 and is consumed.
    bool HandleKeyEvent(const InputDevice::ButtonEvent& event) override;

private:
    bool m_shown = false;
    // Render is const for the display; what it learns of the frame is kept here.
    mutable uint32_t m_drawCalls = 0;
    bool m_debugSwitch1 = false;
    bool m_debugSwitch2 = false;
};

} // namespace GAME
