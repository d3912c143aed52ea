#include "HostWindow.h"

#include "HostInterrupt.h"
#include "HostOutput.h"

#include "graphics/InputDevice.h"
#include "platform/WindowSystem.h"
#include "world/Engine.h"

#include <cstdint>

namespace SampleHost {

namespace {
constexpr uint32_t keyEscape = 1;
constexpr uint32_t keyStatistics = 61; // F3
} // namespace

void HostWindow::Open(bool wanted, int width, int height)
{
    if (!wanted)
        return;
    // Said once, here: without a display the window layer is not asked for a window at all.
    if (!GAME::Platform::HasDisplay()) {
        m_out.Printf("EngineHost: --window, but there is no display (%s); running headless",
                     GAME::Platform::GetWindowSystemError().c_str());
        return;
    }
    m_open =
        m_window.Initialize("Marrow Deep sample host", width, height, nullptr, GAME::Window::STYLE_FIXED);
    if (!m_open)
        m_out.Print("EngineHost: no window could be opened on the display; running headless");
}

void HostWindow::Attach(GAME::Engine& engine)
{
    m_engine = &engine;
    engine.AddWidget(this);
    ShowStatistics(m_statistics);
}

void HostWindow::Detach(GAME::Engine& engine)
{
    engine.RemoveWidget(this);
    m_engine = nullptr;
}

void HostWindow::ShowStatistics(bool show)
{
    m_statistics = show;
    if (!m_engine)
        return;
    m_engine->ShowProfiler(show);
    m_engine->ShowThreadMonitor(show);
}

bool HostWindow::HandleKeyEvent(const GAME::InputDevice::ButtonEvent& event)
{
    if (event.state != GAME::InputDevice::BUTTON_PRESSED)
        return false;
    if (event.keyCode == keyStatistics) {
        ShowStatistics(!m_statistics);
        return true;
    }
    if (event.keyCode != keyEscape)
        return false;
    m_escape = true;
    return true;
}

bool HostWindow::Frame()
{
    if (!m_ended.empty())
        return false;
    if (GetInterrupt() != 0) {
        m_ended = DescribeInterrupt();
        m_out.Errorf("EngineHost: %s; the run ends after its summary (a second one ends it at once)",
                     m_ended.c_str());
        return false;
    }
    if (!m_open)
        return true;
    if (!m_window.ProcessMessages()) {
        m_ended = "the window was closed";
        m_out.Print("EngineHost: the window was closed");
        return false;
    }
    if (m_escape) {
        m_ended = "Escape pressed";
        m_out.Print("EngineHost: Escape pressed");
        return false;
    }
    return true;
}

bool HostWindow::Poll(GAME::Engine& engine)
{
    if (!m_open)
        return true;
    if (GAME::InputDevice* input = engine.GetInputDevice()) {
        input->Update();
        for (int i = 0; i < input->GetNumButtonEvents(); ++i) {
            const GAME::InputDevice::ButtonEvent event = input->GetButtonEvent(i);
            if (event.state == GAME::InputDevice::BUTTON_PRESSED && event.keyCode == keyEscape)
                m_escape = true;
        }
    }
    return Frame();
}

} // namespace SampleHost
