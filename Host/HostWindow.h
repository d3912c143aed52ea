// The sample host's window: with --window and a display, the host runs in a real game window, the
// engine draws into it through the chosen device (OpenGL draws; Software draws nothing, the window
// stays black) and reads its keyboard and mouse; Escape or closing the window ends the run, F3
// shows or hides the engine's statistics (the profiler's panels and the thread monitor). Ctrl-C
// (HostInterrupt.h) ends the run as Escape does, with or without a window.
// Without a display (or without --window) the host stays headless. What it says goes through the
// host's output. Main thread.
#pragma once

#include "graphics/DisplayWidget.h"
#include "graphics/Window.h"

#include <string>

namespace GAME {
class Engine;
} // namespace GAME

namespace SampleHost {

class HostOutput;

class HostWindow : private GAME::DisplayWidget
{
public:
    explicit HostWindow(HostOutput& out) : m_out(out) {}
    HostWindow(const HostWindow&) = delete;
    HostWindow& operator=(const HostWindow&) = delete;

    // Opens the window when wanted and a display exists; says what it did.
    void Open(bool wanted, int width, int height);
    bool IsOpen() const { return m_open; }
    // For the engine: the system window, null when headless.
    void* GetSystemWindow() const { return m_open ? m_window.GetSystemWindow() : nullptr; }
    // Listens for Escape and F3 among the engine's widgets from Attach to Detach.
    void Attach(GAME::Engine& engine);
    void Detach(GAME::Engine& engine);
    // Once a frame: the window's messages; false when the run should end, and from then on.
    bool Frame();
    // Between steps of long work outside the frames (the world's generation), when no frame
    // hands the keys to the widgets: the window's messages and the keys read straight from the
    // engine's input device; false when the run should end.
    bool Poll(GAME::Engine& engine);

    // What ended the run ("Escape pressed", "interrupted (Ctrl-C, SIGINT)"); empty while it goes on.
    const std::string& GetEnded() const { return m_ended; }

    // The profiler's panels and the thread monitor, on or off (F3 switches them).
    void ShowStatistics(bool show);
    bool IsShowingStatistics() const { return m_statistics; }

private:
    void Render(GAME::GraphicsCanvas&) const override {}
    bool HandleKeyEvent(const GAME::InputDevice::ButtonEvent& event) override;

    HostOutput& m_out;
    GAME::Engine* m_engine = nullptr;
    bool m_statistics = false;
    GAME::Window m_window;
    bool m_open = false;
    bool m_escape = false;
    std::string m_ended;
};

} // namespace SampleHost
