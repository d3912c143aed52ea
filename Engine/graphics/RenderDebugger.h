// The render debugger widget the engine adds at start-up outside editor mode. When shown it lets a
// developer limit how many of the frame's draw calls the device carries out, to step through a
// frame's drawing: the bracket keys lower and raise the limit (every 80 ms while held, every
// 20 ms with left shift), a slider at the bottom of the screen drags it, and keys A and P flip
// the device's two debug switches. It shows frames and faces per second, free video memory, the
// limit against the frame's draw calls (every draw call the frame asked for, those past the limit
// too, so the limit can be raised again) and a help line of the keys and what the switches do.
// The limit never stays above the frame's draw calls. While hidden it keeps the device drawing
// everything (no limit, switch 1 on, switch 2 off).
//
// The switches, as the OpenGL device reads them (OpenGLDevice.h), start off when it is shown:
// - A, switch 1: off, the draws past the limit are drawn in wireframe, the rest of the frame in
//   outline around what the limit lets through; on, they are skipped and only the drawn part shows.
// - P, switch 2: on, everything is drawn untextured (plain white in place of every texture), so
//   that geometry, vertex colours and lighting show alone.
//
// Frames per second are sampled every 15th engine frame. Key repeat and the samples run on the
// system clock of the frame (SystemTimer). Main thread only.
//
// The four text lines (GetLine) are drawn in white with the utility font style the engine hands
// over; without a style only the panels and the slider are drawn.
#pragma once

#include "core/Timer.h"
#include "graphics/DisplayWidget.h"

#include <cstdint>
#include <string>

namespace GAME {

class FontStyle;

class RenderDebugger : public DisplayWidget
{
public:
    // Scan codes of the keys it reads.
    static constexpr uint32_t keyDecreaseLimit = 26;
    static constexpr uint32_t keyIncreaseLimit = 27;
    static constexpr uint32_t keyFastRepeat = 42;
    static constexpr uint32_t keySwitch1 = 30;
    static constexpr uint32_t keySwitch2 = 25;
    static constexpr int repeatInterval = 80;
    static constexpr int fastRepeatInterval = 20;
    static constexpr unsigned int sampleFrames = 15;
    static constexpr float knobWidth = 15.0f;
    static constexpr uint32_t noLimit = 0xFFFFFFFFu;

    // style: the utility font style of its text (may be null); input: where held keys are read
    // (null: no key is held).
    explicit RenderDebugger(const FontStyle* style = nullptr, InputDevice* input = nullptr);
    ~RenderDebugger() override = default;

    void Show(bool show) { m_shown = show; }
    bool IsShown() const { return m_shown; }
    void SetInputDevice(InputDevice* input) { m_input = input; }
    const FontStyle* GetFontStyle() const { return m_style; }
    bool GetDebugSwitch1() const { return m_debugSwitch1; }
    bool GetDebugSwitch2() const { return m_debugSwitch2; }
    // The draw calls of the last frame it drew while shown, and the limit (noLimit: all).
    uint32_t GetDrawCalls() const { return m_drawCalls; }
    uint32_t GetDrawCallLimit() const { return m_limit; }
    float GetFramesPerSecond() const { return m_framesPerSecond; }
    float GetFacesPerSecond() const { return m_facesPerSecond; }
    // The slider as last drawn.
    float GetSliderX() const { return m_sliderX; }
    float GetSliderY() const { return m_sliderY; }
    float GetSliderWidth() const { return m_sliderWidth; }
    float GetSliderHeight() const { return m_sliderHeight; }
    float GetKnobX() const;
    bool IsDragging() const { return m_dragging; }
    // The text lines of the last frame drawn: 0 statistics, 1 video memory, 2 draw calls, 3 help.
    const std::string& GetLine(int index) const;
    static constexpr int lineCount = 4;

    // Statistics samples and the held bracket keys.
    void Update() override;
    void Render(GraphicsCanvas& canvas) const override;
    // While shown, a press of A or P flips debug switch 1 or 2 and is consumed.
    bool HandleKeyEvent(const InputDevice::ButtonEvent& event) override;
    // While shown, the knob is dragged with the left button.
    bool HandleMouseEvent(const InputDevice::MouseEvent& event) override;

private:
    void DrawLine(GraphicsCanvas& canvas, int y, const std::string& text) const;
    bool IsHeld(uint32_t keyCode) const;

    bool m_shown = false;
    const FontStyle* m_style;
    InputDevice* m_input;
    SystemTimer m_statisticsTimer;
    SystemTimer m_repeatTimer;
    float m_framesPerSecond = 0.0f;
    float m_facesPerSecond = 0.0f;
    bool m_debugSwitch1 = false;
    bool m_debugSwitch2 = false;
    bool m_dragging = false;
    // Render is const for the display; what it learns of the frame is kept here.
    mutable uint32_t m_drawCalls = 0;
    mutable uint32_t m_limit = noLimit;
    mutable uint64_t m_facesCounted = 0;
    mutable float m_sliderX = 0.0f;
    mutable float m_sliderY = 0.0f;
    mutable float m_sliderWidth = 0.0f;
    mutable float m_sliderHeight = 0.0f;
    mutable uint32_t m_sliderValue = 0;
    mutable uint32_t m_sliderMaximum = 0;
    mutable std::string m_lines[lineCount];
};

} // namespace GAME
