// What a VideoPlayer plays through: the decoder of the open video, whether it may be skipped,
// and the dynamic texture of the render device its frames are copied into. While a video is open
// it is registered as a reset object: before a device reset it releases the texture, afterwards
// it makes it again and puts the current frame back into it. Main thread only.
#pragma once

#include "graphics/ResetObject.h"
#include "graphics/VideoPlayer.h"

namespace GAME {

class VideoDecoder;

class VideoPlayerBackEnd : public ResetObject
{
public:
    explicit VideoPlayerBackEnd(const VideoPlayer::Services& services) : m_services(services) {}
    ~VideoPlayerBackEnd() override;
    VideoPlayerBackEnd(const VideoPlayerBackEnd&) = delete;
    VideoPlayerBackEnd& operator=(const VideoPlayerBackEnd&) = delete;

    bool Open(const char* fileName, bool skippable, bool sound);
    void Close();
    void Update();
    void Render();
    bool IsPlaying() const { return m_decoder != nullptr; }
    RenderTexture* GetTexture() const { return m_texture; }
    void Pause(bool pause);

    void PreDeviceReset() override;
    void PostDeviceReset() override;

private:
    // A key or a mouse button went down this frame.
    bool WasAnythingPressed() const;
    bool CreateTexture();
    // The decoded frame into the texture.
    void CopyFrame();

    VideoPlayer::Services m_services;
    VideoDecoder* m_decoder = nullptr;
    bool m_skippable = false;
    RenderTexture* m_texture = nullptr;
    bool m_registered = false;
    // The last frame is in the texture; the video closes when its time is over.
    bool m_lastFrameShown = false;
};

} // namespace GAME
