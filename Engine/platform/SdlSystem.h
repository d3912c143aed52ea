// Inside the platform layer only: SDL's video subsystem, started with the first window of ours,
// and the one event hub that takes SDL's event queue apart for the windows, the input sources and
// the video presenters. Every SDL event goes through Pump, which sorts it into the queues of the
// window it belongs to: window messages for the game window, key and mouse items with the states
// they change for the input device, and counts of key presses and close requests for video
// playback. What the window did itself is not reported: a move to where it put itself, and the
// resize of a switch to full screen (to the size of the display mode it is shown at). Queues are
// bounded: a queue nobody reads keeps its newest items.
// Main thread only.
#pragma once

#include "platform/InputSource.h"
#include "platform/WindowSystem.h"

#include <cstdint>
#include <deque>
#include <string>
#include <unordered_map>

namespace GAME::Platform::Sdl {

constexpr size_t maxQueuedItems = 4096;

struct WindowQueues
{
    void* window = nullptr; // the SDL_Window
    std::deque<WindowMessage> messages;
    std::deque<KeyItem> keys;
    // Text typed by key presses still in `keys`, by their sequence.
    std::unordered_map<uint32_t, std::u16string> texts;
    // The key press that text arriving now belongs to (0: none).
    uint32_t textTarget = 0;
    std::deque<MouseItem> mouse;
    uint8_t keyState[keyStateSize] = {};
    bool buttons[3] = {};
    int wheel = 0; // since the last state read
    float cursorX = 0.0f;
    float cursorY = 0.0f;
    // Grow forever; a presenter compares them with what it saw when it was made.
    uint64_t keyPresses = 0;
    uint64_t closeRequests = 0;
    // Where the window last put itself: a move to there is its own and is not reported.
    bool placed = false;
    int placedX = 0;
    int placedY = 0;
};

// Keeps the reason of a failure for GetWindowSystemError.
void SetError(const std::string& text);

// SDL's video subsystem, counted: false (the reason kept for GetWindowSystemError) when it cannot
// start. It is started on first use and stays up until the process ends.
bool AcquireVideo();
void ReleaseVideo();

// The SDL window id of a registered window; 0 for null or a pointer that is no window of ours
// (never handed to SDL).
uint32_t GetWindowId(void* sdlWindow);
void RegisterWindow(uint32_t windowId, void* sdlWindow);
void UnregisterWindow(uint32_t windowId);
// Null for a window that is not registered.
WindowQueues* FindQueues(uint32_t windowId);
// Takes every waiting SDL event into the queues.
void Pump();

// Scan code of an SDL scancode (0 for keys without one) and back (0 for codes without a key).
uint8_t ScanCodeFromSdl(int sdlScancode);
int SdlFromScanCode(uint8_t code);

} // namespace GAME::Platform::Sdl
