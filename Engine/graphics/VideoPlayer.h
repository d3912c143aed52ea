// Two ways to show a video file (any file FFmpeg plays; see VideoDecoder.h).
//
// VideoPlayer plays inside the engine's frames: each Update decodes the frame that is due into a
// dynamic texture of the render device, each Render draws a frame of its own, the video over the
// whole render target keeping its aspect ratio (bars at the sides or top and bottom). A video
// opened as skippable ends at a key or mouse button press. The last frame stays on screen for its
// time: the player closes on the Update after it. Around a device reset the texture is released
// and made again (the player registers itself as a reset object while a video is open). The
// video's sound track plays through the sound manager the player is given, when the video is
// opened with sound, held by Pause and stopped by Close (see VideoDecoder.h).
//
// PlayVideo plays a file in the game window outside the render device, with its own loop, until
// the video ends, a key goes down or the window is asked to close (VideoWindowPlayer.h); its sound
// track plays through the engine's sound manager.
//
// Main thread only.
#pragma once

#include "core/Rect.h"

#include <functional>

namespace GAME {

class InputDevice;
class RenderDevice;
class RenderTexture;
class ResetObject;
class SoundManager;
class VideoPlayerBackEnd;

class VideoPlayer
{
public:
    // What the player uses of the engine. The reset-object calls may be empty (the owner then
    // calls the back end's PreDeviceReset and PostDeviceReset itself).
    struct Services
    {
        RenderDevice* device = nullptr;
        // Null: nothing counts as pressed, so no video is skipped.
        InputDevice* input = nullptr;
        // Where the videos' sound plays (it must outlive any open video); null: they play silent.
        SoundManager* sound = nullptr;
        std::function<void(ResetObject*)> registerResetObject;
        std::function<void(ResetObject*)> unregisterResetObject;
    };

    explicit VideoPlayer(const Services& services);
    virtual ~VideoPlayer();
    VideoPlayer(const VideoPlayer&) = delete;
    VideoPlayer& operator=(const VideoPlayer&) = delete;

    // Closes any open video and opens the file; false (logged) when it cannot be read or no
    // texture can be made for it. sound: whether its sound track plays.
    bool Open(const char* fileName, bool skippable, bool sound);
    void Close();
    void Update();
    void Render();
    // A video is open and its last frame has not had its time yet.
    bool GetIsPlaying() const;
    // The video texture; null without a video (or during a device reset).
    RenderTexture* GetTexture() const;
    void Pause(bool pause);

    // The rectangle a video of that size takes on a target of that size: full width and centred
    // vertically on a relatively taller target, else full height and centred horizontally.
    static Rect GetVideoRect(int videoWidth, int videoHeight, int targetWidth, int targetHeight);

private:
    VideoPlayerBackEnd* m_backEnd;
};

// Plays the file in the system window (Window::GetSystemWindow) with a loop of its own: fitted
// into the client area keeping its aspect ratio, or full screen with the display switched to
// width x height (the caller restores the display mode), the sound track through the engine's
// sound manager (gEngine's; silent without one). Returns when the video ended, a key went down or
// the window was asked to close: true, or false when it could not play at all (logged). The last
// flag is accepted and not used.
bool PlayVideo(const char* fileName, void* systemWindow, int width, int height, bool fullScreen, bool);

} // namespace GAME
