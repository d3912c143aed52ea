#include "graphics/VideoWindowPlayer.h"

#include "core/Log.h"
#include "graphics/GraphicsServices.h"
#include "graphics/VideoDecoder.h"
#include "graphics/VideoSoundSink.h"
#include "platform/WindowSystem.h"

namespace GAME {

namespace {

constexpr uint32_t copyFlags = VideoDecoder::copyAll | VideoDecoder::copySurface32;

// The engine's sound manager when it plays anywhere.
SoundManager* EngineSound()
{
    SoundManager* sound = GraphicsServices::Sound();
    VideoSoundSink* sink = VideoSoundSink::Get();
    return sound && sink && sink->IsPlaying(sound) ? sound : nullptr;
}

} // namespace

VideoWindowPlayer::VideoWindowPlayer() = default;

VideoWindowPlayer::~VideoWindowPlayer()
{
    Close();
}

bool VideoWindowPlayer::Open(const char* fileName, void* systemWindow, int width, int height, bool fullScreen)
{
    Close();
    m_sound = EngineSound();
    m_decoder.reset(VideoDecoder::Open(fileName, m_sound));
    if (!m_decoder)
        return false;
    m_presenter.reset(Platform::VideoPresenter::Create(systemWindow, fullScreen, width, height));
    if (!m_presenter) {
        LogPrintf(1, "PlayVideo: can't show '%s' (%s)", fileName, Platform::GetWindowSystemError().c_str());
        Close();
        return false;
    }
    m_fileName = fileName;
    m_fullScreen = fullScreen;
    m_pixels.assign(size_t(m_decoder->GetWidth()) * size_t(m_decoder->GetHeight()) * 4, 0);
    m_lastFrameShown = false;
    m_over = false;
    m_failed = false;
    return true;
}

void VideoWindowPlayer::Close()
{
    m_presenter.reset();
    m_decoder.reset(); // stops the sound track
    m_sound = nullptr;
    m_over = true;
}

VideoWindowPlayer::StepResult VideoWindowPlayer::Step()
{
    if (m_over)
        return StepResult::Over;
    if (m_presenter->ShouldStop()) {
        Close();
        return StepResult::Over;
    }
    const bool waiting = m_decoder->Wait(); // feeds the sound track ahead of the clock
    if (VideoSoundSink* sink = m_sound ? VideoSoundSink::Get() : nullptr)
        sink->Update(m_sound);
    if (waiting)
        return StepResult::Waiting;
    if (m_lastFrameShown) {
        Close(); // the last frame has had its time
        return StepResult::Over;
    }
    const int videoWidth = m_decoder->GetWidth();
    const int videoHeight = m_decoder->GetHeight();
    const int pitch = videoWidth * 4;
    if (m_decoder->DoFrame() && m_decoder->CopyToBuffer(m_pixels.data(), pitch, videoHeight, 0, 0, copyFlags)) {
        int clientWidth = 0, clientHeight = 0;
        m_presenter->GetClientSize(clientWidth, clientHeight);
        int x = 0, y = 0, w = clientWidth, h = clientHeight;
        if (!m_fullScreen) {
            // Fitted into the client area, centred (half the difference, in whole pixels).
            if (static_cast<int64_t>(clientHeight) * videoWidth > static_cast<int64_t>(videoHeight) * clientWidth) {
                h = static_cast<int>(static_cast<int64_t>(clientWidth) * videoHeight / videoWidth);
                y = (clientHeight - h) / 2;
            } else {
                w = static_cast<int>(static_cast<int64_t>(clientHeight) * videoWidth / videoHeight);
                x = (clientWidth - w) / 2;
            }
        }
        if (!m_presenter->Present(m_pixels.data(), videoWidth, videoHeight, pitch, x, y, w, h)) {
            LogPrintf(1, "PlayVideo: the window can't show '%s'", m_fileName.c_str());
            Close();
            m_failed = true;
            return StepResult::Over;
        }
    } else if (m_decoder->GetFrameCount() == 0) {
        Close(); // not one frame could be decoded
        return StepResult::Over;
    }
    m_decoder->NextFrame();
    m_lastFrameShown = m_decoder->GetCurrentFrame() > m_decoder->GetFrameCount();
    return StepResult::Shown;
}

} // namespace GAME
