// A video file decoded frame by frame, the way the video player drives it: the player asks whether
// the current frame is due yet (Wait), decodes it (DoFrame), copies it into a texture
// (CopyToBuffer) and moves on (NextFrame) until the last frame. Frames are numbered from 1 and
// fall due at the video's frame rate on the machine clock (GetMachineTime), counted from the
// first Wait; a pause holds that clock.
//
// Open reads any file FFmpeg plays and decodes its first video stream. The frame count is the
// stream's packets, counted when the file is opened; a frame that cannot be decoded ends the
// video there (the count becomes the frames decoded before it).
//
// Sound: given a sound manager, the file's first audio stream plays through a fed stream of it
// while the sound is on (the default), in step with the frame clock: it starts with the first
// Wait, is fed a little ahead from each Wait, is held by a pause, and stops when the decoder is
// deleted (the sound manager must outlive it). Without a sound manager, a sound device or an
// audio stream that can be decoded, the video plays silent.
//
// One thread at a time; with sound, the thread that drives the sound manager.
#pragma once

#include <cstdint>

namespace GAME {

class SoundManager;

class VideoDecoder
{
public:
    // CopyToBuffer's flags: 32 bits a pixel (bytes blue, green, red, alpha) and every pixel
    // copied; no other pixel layout is offered.
    static constexpr uint32_t copySurface32 = 3;
    static constexpr uint32_t copySurfaceMask = 0x0F;
    static constexpr uint32_t copyAll = 0x80000000u;
    // The largest width or height taken.
    static constexpr int maxSize = 8192;

    // Null, with one log line, when the file is missing or holds no video that can be decoded.
    // sound: where the sound track plays (not owned); null: nowhere.
    static VideoDecoder* Open(const char* fileName, SoundManager* sound = nullptr);

    VideoDecoder() = default;
    VideoDecoder(const VideoDecoder&) = delete;
    VideoDecoder& operator=(const VideoDecoder&) = delete;
    virtual ~VideoDecoder() = default;

    virtual int GetWidth() const = 0;
    virtual int GetHeight() const = 0;
    virtual int GetFrameCount() const = 0;
    // The frame DoFrame decodes next, 1 to the frame count; one more once NextFrame went past
    // the last frame (the end: Wait then tells when the last frame's time is over).
    virtual int GetCurrentFrame() const = 0;
    // Frames per second.
    virtual double GetFrameRate() const = 0;
    // True while the current frame is not due yet (and always while paused).
    virtual bool Wait() = 0;
    // Decodes the current frame; false at the end, and when it cannot (the video then ends
    // before it: the frame count shrinks and the current frame is the end).
    virtual bool DoFrame() = 0;
    // The last decoded frame into a buffer of `height` rows, `pitch` bytes apart, its top left
    // corner at (x, y); what does not fit is cut off. False without a decoded frame or for a
    // pixel layout other than copySurface32.
    virtual bool CopyToBuffer(void* buffer, int pitch, int height, int x, int y, uint32_t flags) const = 0;
    // Moves to the next frame, or from the last frame to the end.
    virtual void NextFrame() = 0;
    virtual void Pause(bool pause) = 0;
    // Off stops the sound track at once; on starts it again at the clock's time with the next
    // Wait.
    virtual void SetSoundOnOff(bool on) = 0;
    // The file has an audio stream that can be decoded.
    virtual bool HasSoundTrack() const = 0;
    // Samples a second of the sound handed to the sound manager (16-bit stereo); 0 without a sound
    // track.
    virtual int GetSoundRate() const = 0;
    // Frames of the sound handed to the sound manager since it was last switched on.
    virtual int64_t GetSoundFramesQueued() const = 0;
};

} // namespace GAME
