// The X display of the window tests, seen from outside SDL: display modes added through RandR for
// the length of a test (Xvfb starts with one mode, its screen's size) and the pixels a window shows
// as the X server holds them. X11's own headers stay inside XDisplay.cpp (their macros would clash
// with the engine's names). Main thread only, but for WaitForWindowColors, which has a connection
// of its own.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace GAME::Test {

// The size of the default screen of the X display named by DISPLAY; false without one.
bool GetXScreenSize(int& width, int& height);
// The size of the mode the display's first output shows now, as the X server has it.
bool GetXOutputModeSize(int& width, int& height);

// Adds the sizes the display lacks as modes of its first output while it lives, and takes them
// away again afterwards (putting the output back at the mode it had, should it still show one of
// them). Made before SDL's video starts, so that SDL lists the modes. The X display is shared by
// every window test of the run; they take it in turn.
class ExtraDisplayModes
{
public:
    explicit ExtraDisplayModes(const std::vector<std::pair<int, int>>& sizes);
    ~ExtraDisplayModes();
    ExtraDisplayModes(const ExtraDisplayModes&) = delete;
    ExtraDisplayModes& operator=(const ExtraDisplayModes&) = delete;

    // Whether the display has every size asked for; Error says why not.
    bool IsReady() const { return m_error.empty(); }
    const std::string& Error() const { return m_error; }

private:
    struct State;
    std::unique_ptr<State> m_state;
    std::string m_error;
};

// Puts an SDL window at the place and size as a window manager would for a full-screen window:
// Xvfb runs without one, and SDL's full-screen request is left to the window manager.
bool PlaceWindow(void* sdlWindow, int x, int y, int width, int height);

// What an SDL window shows, read back from the X server: width x height pixels 0xRRGGBB, rows from
// the top. False when the window cannot be read (no X11 window, not on the screen).
bool ReadWindowPixels(void* sdlWindow, int& width, int& height, std::vector<uint32_t>& pixels);

// A round trip to the X server on SDL's own connection: every answer to what SDL asked so far
// (a move, a size, a mode) is then in SDL's queue, for SDL_PumpEvents to read. False without an X
// window.
bool SyncWithServer(void* sdlWindow);

// The X window of an SDL window (0 without one), for WaitForWindowColors on another thread.
unsigned long GetXWindow(void* sdlWindow);

// Any thread, on a connection of its own: waits until the X server shows each colour (0xRRGGBB,
// each channel within the tolerance) at its pixel of the window, or the seconds have passed;
// whether it did.
struct WindowPixel
{
    int x = 0;
    int y = 0;
    uint32_t rgb = 0;
};
bool WaitForWindowColors(unsigned long xWindow, const std::vector<WindowPixel>& pixels, int tolerance,
                         int seconds);

} // namespace GAME::Test
