// Plays a video file in the system window (Window::GetSystemWindow) outside the render device, one
// step at a time; PlayVideo (VideoPlayer.h) runs it to the end in a loop of its own. The pictures
// are fitted into the client area keeping their aspect ratio (centred, whole pixels), or fill it
// full screen with the display switched to width x height (the caller restores the display mode).
// The sound track plays through the engine's sound manager (gEngine's, when it has an output
// device; otherwise the video is silent), which each step keeps going as the engine's frames
// would: nothing else updates it while the video plays.
//
// Playback is over when the last frame has had its time, a key went down or the window was asked
// to close, or the window cannot show a frame (Failed). Main thread only (the thread that drives
// the sound manager).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace GAME {

class SoundManager;
class VideoDecoder;

namespace Platform {
class VideoPresenter;
}

class VideoWindowPlayer
{
public:
    enum class StepResult
    {
        Waiting, // the next frame is not due yet
        Shown,   // a frame was shown (or skipped as undecodable)
        Over,    // playback is over
    };

    VideoWindowPlayer();
    ~VideoWindowPlayer();
    VideoWindowPlayer(const VideoWindowPlayer&) = delete;
    VideoWindowPlayer& operator=(const VideoWindowPlayer&) = delete;

    // False, logged, when the file cannot be played or the window cannot show it.
    bool Open(const char* fileName, void* systemWindow, int width, int height, bool fullScreen);
    StepResult Step();
    // The window could not show a frame (logged); playback ended there.
    bool Failed() const { return m_failed; }
    // Stops the video and its sound.
    void Close();

private:
    std::unique_ptr<VideoDecoder> m_decoder;
    std::unique_ptr<Platform::VideoPresenter> m_presenter;
    SoundManager* m_sound = nullptr;
    std::vector<uint8_t> m_pixels;
    std::string m_fileName;
    bool m_fullScreen = false;
    bool m_lastFrameShown = false;
    bool m_over = true;
    bool m_failed = false;
};

} // namespace GAME
