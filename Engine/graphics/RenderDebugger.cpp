#include "graphics/RenderDebugger.h"

#include "graphics/FontStyle.h"

#include "core/Color.h"
#include "core/Rect.h"
#include "data/EngineDataServices.h"
#include "graphics/GraphicsCanvas.h"
#include "graphics/RenderDevice.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>

namespace GAME {

namespace {

const Color panelColor(0.0f, 0.0f, 0.0f, 0.5f);
const Color lineColor(1.0f, 1.0f, 1.0f, 0.5f);
const Color knobColor(1.0f, 1.0f, 1.0f, 0.75f);

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

std::string Format(const char* format, ...)
{
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    return text;
}

} // namespace

RenderDebugger::RenderDebugger(const FontStyle* style, InputDevice* input) : m_style(style), m_input(input)
{
    m_statisticsTimer.Reset();
    m_repeatTimer.Reset();
}

bool RenderDebugger::IsHeld(uint32_t keyCode) const
{
    return m_input && m_input->IsKeyDown(keyCode);
}

const std::string& RenderDebugger::GetLine(int index) const
{
    static const std::string none;
    return index >= 0 && index < lineCount ? m_lines[index] : none;
}

float RenderDebugger::GetKnobX() const
{
    if (m_sliderMaximum == 0)
        return m_sliderX;
    return m_sliderX + (m_sliderWidth - knobWidth) * static_cast<float>(m_sliderValue) /
                           static_cast<float>(m_sliderMaximum);
}

void RenderDebugger::Update()
{
    if (EngineDataServices::FrameCount() % sampleFrames == 0) {
        // A clock that stood still since the last sample gives no rate: the last one stays and
        // the faces go on counting into the next sample.
        const int elapsed = m_statisticsTimer.GetTotalElapsedTime();
        if (elapsed > 0) {
            m_framesPerSecond = 1000.0f / static_cast<float>(elapsed) * static_cast<float>(sampleFrames);
            m_facesPerSecond =
                std::round(static_cast<float>(m_facesCounted) * 1000.0f / static_cast<float>(elapsed));
            m_facesCounted = 0;
            m_statisticsTimer.Reset();
        }
    }

    const int interval = IsHeld(keyFastRepeat) ? fastRepeatInterval : repeatInterval;
    if (m_repeatTimer.GetTotalElapsedTime() > interval) {
        m_repeatTimer.Reset();
        // The limit stops at its ends instead of wrapping: 0 is a limit, noLimit means none.
        if (IsHeld(keyDecreaseLimit)) {
            if (m_limit > 0)
                --m_limit;
        } else if (IsHeld(keyIncreaseLimit)) {
            if (m_limit < noLimit)
                ++m_limit;
        }
    }
}

void RenderDebugger::DrawLine(GraphicsCanvas& canvas, int y, const std::string& text) const
{
    if (!m_style)
        return;
    canvas.RenderText(10, y, Color(1.0f, 1.0f, 1.0f, 1.0f), text.c_str(), m_style->font, m_style->size,
                      GraphicsCanvas::X_ALIGN_LEFT, GraphicsCanvas::Y_ALIGN_TOP, m_style->dropShadow,
                      m_style->shadowDistance, m_style->weight, m_style->filter);
}

void RenderDebugger::Render(GraphicsCanvas& canvas) const
{
    RenderDevice* device = canvas.GetRenderDevice();
    if (!device)
        return;
    // The widget's own drawing is always complete.
    device->SetDrawCallLimit(-1);
    device->SetDebugSwitch1(true);
    device->SetDebugSwitch2(false);
    if (!m_shown)
        return;

    m_drawCalls = static_cast<uint32_t>(std::max(device->GetNumDrawCalls(), 0));
    m_limit = std::min(m_limit, m_drawCalls);
    const int faces = device->GetNumFacesRendered();
    m_facesCounted += static_cast<uint64_t>(std::max(faces, 0));

    const float width = static_cast<float>(canvas.GetWidth());
    const float height = static_cast<float>(canvas.GetHeight());
    m_lines[0] = Format("%0.2f FPS, %d faces, %02fM faces per second", m_framesPerSecond, faces,
                        m_facesPerSecond / 1000000.0f);
    m_lines[1] =
        Format("%0.2f MB video memory free", static_cast<double>(device->GetFreeVideoMemory()) / 1048576.0);
    m_lines[2] =
        Format("Rendering %d out of %d draw calls", static_cast<int>(m_limit), static_cast<int>(m_drawCalls));
    canvas.RenderRect(Rect(5.0f, 5.0f, width - 10.0f, 45.0f), panelColor);
    DrawLine(canvas, 10, m_lines[0]);
    DrawLine(canvas, 30, m_lines[1]);
    canvas.RenderRect(Rect(5.0f, 55.0f, width - 10.0f, 25.0f), panelColor);
    DrawLine(canvas, 60, m_lines[2]);
    m_lines[3] = Format("[ ]: limit (shift: faster), A: draws past it %s, P: %s",
                        m_debugSwitch1 ? "skipped" : "in outline", m_debugSwitch2 ? "untextured" : "textured");
    canvas.RenderRect(Rect(5.0f, 85.0f, width - 10.0f, 25.0f), panelColor);
    DrawLine(canvas, 90, m_lines[3]);

    m_sliderX = 5.0f;
    m_sliderY = height - 30.0f;
    m_sliderWidth = width - 10.0f;
    m_sliderHeight = 25.0f;
    m_sliderValue = m_limit;
    m_sliderMaximum = m_drawCalls;
    canvas.RenderRect(Rect(m_sliderX, m_sliderY, m_sliderWidth, m_sliderHeight), panelColor);
    canvas.RenderRect(Rect(m_sliderX, m_sliderY + m_sliderHeight * 0.5f - 1.0f, m_sliderWidth, 2.0f),
                      lineColor);
    canvas.RenderRect(Rect(GetKnobX(), m_sliderY, knobWidth, m_sliderHeight), knobColor);

    device->SetDrawCallLimit(static_cast<int>(m_limit));
    device->SetDebugSwitch1(m_debugSwitch1);
    device->SetDebugSwitch2(m_debugSwitch2);
}

bool RenderDebugger::HandleKeyEvent(const InputDevice::ButtonEvent& event)
{
    if (!m_shown || event.state != InputDevice::BUTTON_PRESSED)
        return false;
    if (event.keyCode == keySwitch1) {
        m_debugSwitch1 = !m_debugSwitch1;
        return true;
    }
    if (event.keyCode == keySwitch2) {
        m_debugSwitch2 = !m_debugSwitch2;
        return true;
    }
    return false;
}

bool RenderDebugger::HandleMouseEvent(const InputDevice::MouseEvent& event)
{
    if (!m_shown)
        return false;
    bool handled = false;
    if (event.type == InputDevice::MOUSE_LEFT_DOWN) {
        const float knobX = GetKnobX();
        if (event.x >= knobX && event.x <= knobX + knobWidth && event.y >= m_sliderY &&
            event.y < m_sliderY + m_sliderHeight) {
            m_dragging = true;
            handled = true;
        }
    } else if (event.type == InputDevice::MOUSE_LEFT_UP && m_dragging) {
        m_dragging = false;
        handled = true;
    } else if (event.type == InputDevice::MOUSE_MOVE && m_dragging) {
        if (m_sliderWidth > knobWidth) {
            const double value =
                std::trunc(static_cast<double>(event.x - m_sliderX) * static_cast<double>(m_sliderMaximum) /
                           static_cast<double>(m_sliderWidth - knobWidth));
            m_sliderValue =
                static_cast<uint32_t>(std::clamp(value, 0.0, static_cast<double>(m_sliderMaximum)));
        }
        handled = true;
    }
    if (handled)
        m_limit = m_sliderValue;
    return handled;
}

} // namespace GAME
