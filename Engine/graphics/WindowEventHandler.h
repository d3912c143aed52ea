// What the host hears of its game window (GAME::Window::SetEventHandler): Alt+Enter (once per
// press), the window being minimised, and every other change of its place, size or state
// (restored, moved, sized, maximised, screen saver, monitor power), also those the window
// refuses in full-screen style; not the window's own moves, caption drags, nor the resize of a
// switch to full screen. Called from Window::ProcessMessages on the main thread.
#pragma once

namespace GAME {

class WindowEventHandler
{
public:
    virtual void OnAltEnter() {}
    virtual void OnMinimize() {}
    virtual void OnWindowChange() {}
    virtual ~WindowEventHandler() = default;
};

} // namespace GAME
