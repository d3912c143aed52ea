#include "HostWindow.h"

#include "platform/Module.h"
#include "world/Engine.h"

#include <cstdio>
#include <cstring>

namespace SampleHost {

namespace {
constexpr uint32_t keyEscape = 1;
} // namespace

bool TakeWindowOption(int& argc, char** argv)
{
    bool found = false;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--window") == 0)
            found = true;
        else
            argv[kept++] = argv[i];
    }
    argc = kept;
    return found;
}

void HostWindow::Open(bool wanted, int width, int height)
{
    if (!wanted)
        return;
    m_open =
        m_window.Initialize("Marrow Deep sample host", width, height, nullptr, GAME::Window::STYLE_FIXED);
    if (!m_open)
        std::printf("EngineHost: no window could be opened (no display?); running headless\n");
}

std::string HostWindow::GetDeviceName() const
{
    if (!m_open)
        return "Software";
    GAME::Platform::ModuleHandle module = GAME::Platform::LoadModule("OpenGL");
    if (!module) {
        std::printf("EngineHost: the OpenGL device is not built; the window stays black\n");
        return "Software";
    }
    GAME::Platform::UnloadModule(module);
    return "OpenGL";
}

void HostWindow::Attach(GAME::Engine& engine)
{
    engine.AddWidget(this);
}

void HostWindow::Detach(GAME::Engine& engine)
{
    engine.RemoveWidget(this);
}

bool HostWindow::HandleKeyEvent(const GAME::InputDevice::ButtonEvent& event)
{
    if (event.keyCode != keyEscape || event.state != GAME::InputDevice::BUTTON_PRESSED)
        return false;
    m_escape = true;
    return true;
}

bool HostWindow::Frame()
{
    if (!m_open)
        return true;
    if (!m_window.ProcessMessages()) {
        std::printf("EngineHost: the window was closed\n");
        return false;
    }
    if (m_escape) {
        std::printf("EngineHost: Escape pressed\n");
        return false;
    }
    return true;
}

} // namespace SampleHost
