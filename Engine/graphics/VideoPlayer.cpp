#include "graphics/VideoPlayer.h"

#include "core/Color.h"
#include "core/Log.h"
#include "graphics/InputDevice.h"
#include "graphics/RenderDevice.h"
#include "graphics/RenderTexture.h"
#include "graphics/VideoDecoder.h"
#include "graphics/VideoPlayerBackEnd.h"
#include "graphics/VideoWindowPlayer.h"
#include "graphics/Viewport.h"
#include "platform/Threading.h"

#include <memory>
#include <vector>

namespace GAME {

namespace {

constexpr uint32_t copyFlags = VideoDecoder::copyAll | VideoDecoder::copySurface32;

} // namespace

// ---------------------------------------------------------------------------
// The back end
// ---------------------------------------------------------------------------

VideoPlayerBackEnd::~VideoPlayerBackEnd()
{
    Close();
}

bool VideoPlayerBackEnd::Open(const char* fileName, bool skippable, bool sound)
{
    Close();
    if (!m_services.device) {
        LogPrintf(1, "VideoPlayer: no render device to play '%s' on", fileName ? fileName : "");
        return false;
    }
    m_decoder = VideoDecoder::Open(fileName, m_services.sound);
    if (!m_decoder)
        return false;
    m_skippable = skippable;
    m_lastFrameShown = false;
    m_decoder->SetSoundOnOff(sound);
    if (m_services.registerResetObject) {
        m_services.registerResetObject(this);
        m_registered = true;
    }
    if (!CreateTexture()) {
        LogPrintf(1, "VideoPlayer: no texture of %d x %d for '%s'", m_decoder->GetWidth(),
                  m_decoder->GetHeight(), fileName);
        Close();
        return false;
    }
    return true;
}

void VideoPlayerBackEnd::Close()
{
    delete m_decoder;
    m_decoder = nullptr;
    if (m_texture && m_services.device)
        m_services.device->DestroyTexture(&m_texture);
    m_texture = nullptr;
    if (m_registered) {
        m_registered = false;
        if (m_services.unregisterResetObject)
            m_services.unregisterResetObject(this);
    }
    m_lastFrameShown = false;
}

bool VideoPlayerBackEnd::CreateTexture()
{
    m_texture = m_services.device->CreateDynamicTexture(m_decoder->GetWidth(), m_decoder->GetHeight(), 1, 1);
    return m_texture != nullptr;
}

void VideoPlayerBackEnd::CopyFrame()
{
    if (!m_texture)
        return; // between the two halves of a device reset
    int pitch = 0;
    void* texels = m_texture->Lock(pitch);
    if (!texels)
        return;
    m_decoder->CopyToBuffer(texels, pitch, m_texture->GetHeight(), 0, 0, copyFlags);
    m_texture->Unlock();
}

bool VideoPlayerBackEnd::WasAnythingPressed() const
{
    const InputDevice* input = m_services.input;
    if (!input)
        return false;
    for (int i = 0; i < input->GetNumButtonEvents(); ++i)
        if (input->GetButtonEvent(i).state == InputDevice::BUTTON_PRESSED)
            return true;
    for (int i = 0; i < input->GetNumMouseEvents(); ++i) {
        const uint32_t type = input->GetMouseEvent(i).type;
        if (type == InputDevice::MOUSE_LEFT_DOWN || type == InputDevice::MOUSE_RIGHT_DOWN ||
            type == InputDevice::MOUSE_MIDDLE_DOWN)
            return true;
    }
    return false;
}

void VideoPlayerBackEnd::Update()
{
    if (m_decoder && m_skippable && WasAnythingPressed()) {
        Close();
        return;
    }
    if (!m_decoder || m_decoder->Wait())
        return;
    if (m_lastFrameShown) {
        // The last frame has had its time.
        Close();
        return;
    }
    if (m_decoder->DoFrame())
        CopyFrame();
    else if (m_decoder->GetFrameCount() == 0) {
        Close(); // not one frame could be decoded
        return;
    }
    // A frame that failed leaves the one before it on screen, as the video's last. The last
    // frame stays until its time is over: the Update when the end falls due closes the video.
    m_decoder->NextFrame();
    m_lastFrameShown = m_decoder->GetCurrentFrame() > m_decoder->GetFrameCount();
}

void VideoPlayerBackEnd::Render()
{
    RenderDevice* device = m_services.device;
    if (!device || !m_decoder || !m_texture)
        return;
    if (!device->BeginFrame())
        return;
    const int width = device->GetWidth();
    const int height = device->GetHeight();
    device->SetViewport(Viewport(0, 0, width, height));
    device->SetClearColor(Color(0.0f, 0.0f, 0.0f, 1.0f));
    device->Clear(RENDER_CLEAR_COLOR);
    device->SetSourceBlend(RENDER_BLEND_ONE);
    device->SetDestinationBlend(RENDER_BLEND_ZERO);
    device->SetDepthTestFunction(RENDER_TEST_ALWAYS);
    device->SetAlphaTestFunction(RENDER_TEST_ALWAYS);
    device->SetColorWriteMode(RENDER_WRITE_ENABLED);
    device->SetAlphaWriteMode(RENDER_WRITE_DISABLED);
    device->SetDepthWriteMode(RENDER_WRITE_DISABLED);
    device->SetTexture(0, m_texture);
    device->SetVertexShader(nullptr);
    device->SetPixelShader(nullptr);
    const Rect rect = VideoPlayer::GetVideoRect(m_decoder->GetWidth(), m_decoder->GetHeight(), width, height);
    device->DrawTexturedQuad(rect, Rect(0.0f, 0.0f, 1.0f, 1.0f), 0xFFFFFFFFu, 0.0f);
    device->EndFrame();
}

void VideoPlayerBackEnd::Pause(bool pause)
{
    if (m_decoder)
        m_decoder->Pause(pause);
}

void VideoPlayerBackEnd::PreDeviceReset()
{
    if (m_texture && m_services.device)
        m_services.device->DestroyTexture(&m_texture);
    m_texture = nullptr;
}

void VideoPlayerBackEnd::PostDeviceReset()
{
    if (!m_decoder || m_texture || !m_services.device)
        return;
    if (!CreateTexture()) {
        LogPrintf(1, "VideoPlayer: no texture for the video after the device reset");
        return;
    }
    CopyFrame();
}

// ---------------------------------------------------------------------------
// The player
// ---------------------------------------------------------------------------

VideoPlayer::VideoPlayer(const Services& services) : m_backEnd(new VideoPlayerBackEnd(services)) {}

VideoPlayer::~VideoPlayer()
{
    delete m_backEnd;
}

bool VideoPlayer::Open(const char* fileName, bool skippable, bool sound)
{
    return m_backEnd->Open(fileName, skippable, sound);
}

void VideoPlayer::Close()
{
    m_backEnd->Close();
}

void VideoPlayer::Update()
{
    m_backEnd->Update();
}

void VideoPlayer::Render()
{
    m_backEnd->Render();
}

bool VideoPlayer::GetIsPlaying() const
{
    return m_backEnd->IsPlaying();
}

RenderTexture* VideoPlayer::GetTexture() const
{
    return m_backEnd->GetTexture();
}

void VideoPlayer::Pause(bool pause)
{
    m_backEnd->Pause(pause);
}

Rect VideoPlayer::GetVideoRect(int videoWidth, int videoHeight, int targetWidth, int targetHeight)
{
    const float vw = static_cast<float>(videoWidth), vh = static_cast<float>(videoHeight);
    const float tw = static_cast<float>(targetWidth), th = static_cast<float>(targetHeight);
    if (vw <= 0.0f || vh <= 0.0f || tw <= 0.0f || th <= 0.0f)
        return Rect(0.0f, 0.0f, tw, th);
    // Relatively taller target: th / tw > vh / vw.
    if (th * vw > vh * tw) {
        const float height = tw * vh / vw;
        return Rect(0.0f, (th - height) * 0.5f, tw, height);
    }
    const float width = th * vw / vh;
    return Rect((tw - width) * 0.5f, 0.0f, width, th);
}

// ---------------------------------------------------------------------------
// Playing in the window
// ---------------------------------------------------------------------------

bool PlayVideo(const char* fileName, void* systemWindow, int width, int height, bool fullScreen, bool)
{
    VideoWindowPlayer player;
    if (!player.Open(fileName, systemWindow, width, height, fullScreen))
        return false;
    for (VideoWindowPlayer::StepResult step = player.Step(); step != VideoWindowPlayer::StepResult::Over;
         step = player.Step())
        if (step == VideoWindowPlayer::StepResult::Waiting)
            Platform::SleepMilliseconds(2);
    return !player.Failed();
}

} // namespace GAME
