#include "SoftwareDeviceAccess.h"
#include "VideoClip.h"
#include "common/LogCapture.h"
#include "common/TempDir.h"

#include "core/Time.h"
#include "graphics/HeadlessInputDevice.h"
#include "graphics/RenderSurface.h"
#include "graphics/RenderTexture.h"
#include "graphics/ResetObject.h"
#include "graphics/VideoDecoder.h"
#include "graphics/VideoPlayer.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace GAME {
namespace {

constexpr int clipWidth = 64; // 4:3
constexpr int clipHeight = 48;
constexpr int clipFrames = 6;
constexpr int clipRate = 10; // 100 ms a frame

// Machine time that moves only when told.
class StepClock : public MachineClock
{
public:
    bool HasPerformanceCounter() const override { return true; }
    uint64_t GetPerformanceCounter() const override { return counter.load(); }
    uint64_t GetPerformanceFrequency() const override { return 1000; }
    uint32_t GetMilliseconds() const override { return static_cast<uint32_t>(counter.load()); }
    void Advance(int ms) { counter += static_cast<uint64_t>(ms); }
    std::atomic<uint64_t> counter{5000};
};

// Within a few steps of the colour (the clip went through a lossy codec).
bool Near(const uint8_t* bgra, const GAME::Test::Rgb& expected)
{
    const int tolerance = 10;
    return std::abs(bgra[2] - expected.r) <= tolerance && std::abs(bgra[1] - expected.g) <= tolerance &&
           std::abs(bgra[0] - expected.b) <= tolerance;
}

// Pixels from the middle of the left and right halves of a 32-bit picture at (x0, y0).
void ExpectFrame(const uint8_t* pixels, int pitch, int x0, int y0, int frame)
{
    const uint8_t* row = pixels + static_cast<size_t>(y0 + clipHeight / 2) * static_cast<size_t>(pitch);
    EXPECT_TRUE(Near(row + (x0 + clipWidth / 4) * 4, GAME::Test::ClipColor(frame, 0, clipWidth)))
        << "frame " << frame << " left: " << int(row[(x0 + clipWidth / 4) * 4 + 2]);
    EXPECT_TRUE(
        Near(row + (x0 + 3 * clipWidth / 4) * 4, GAME::Test::ClipColor(frame, clipWidth - 1, clipWidth)))
        << "frame " << frame << " right";
}

void ExpectRect(const Rect& actual, const Rect& expected)
{
    EXPECT_NEAR(actual.x, expected.x, 0.01f);
    EXPECT_NEAR(actual.y, expected.y, 0.01f);
    EXPECT_NEAR(actual.width, expected.width, 0.01f);
    EXPECT_NEAR(actual.height, expected.height, 0.01f);
}

class VideoTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SetMachineClock(&clock);
        InitializeTimeSystem();
        clip = dir.File("clip.avi");
        ASSERT_TRUE(GAME::Test::WriteClip(clip, clipWidth, clipHeight, clipFrames, clipRate));
    }

    void TearDown() override
    {
        player.reset();
        if (device) {
            if (surface)
                device->DestroySurface(&surface);
            RenderDevice::Destroy(device);
        }
        RenderDevice::UnloadLibraries();
        SetMachineClock(nullptr);
        ResetTimeSystem();
    }

    // The software device with a 16:10 target, and a player on it.
    VideoPlayer& MakePlayer(InputDevice* input = nullptr)
    {
        device = RenderDevice::Create("Software");
        EXPECT_NE(device, nullptr);
        EXPECT_TRUE(device->Initialize());
        RenderDeviceSettings settings;
        settings.width = 1280;
        settings.height = 800;
        surface = device->CreatePrimarySurface(nullptr, &settings);
        EXPECT_NE(surface, nullptr);
        control = software.Device(device);
        VideoPlayer::Services services;
        services.device = device;
        services.input = input;
        services.registerResetObject = [this](ResetObject* object) { registered.push_back(object); };
        services.unregisterResetObject = [this](ResetObject* object) {
            registered.erase(std::remove(registered.begin(), registered.end(), object), registered.end());
        };
        player = std::make_unique<VideoPlayer>(services);
        return *player;
    }

    // The video texture's texels, read back through the device's lock.
    std::vector<uint8_t> TextureTexels()
    {
        RenderTexture* texture = player->GetTexture();
        std::vector<uint8_t> texels;
        if (!texture)
            return texels;
        int pitch = 0;
        const auto* data = static_cast<const uint8_t*>(texture->Lock(pitch));
        EXPECT_EQ(pitch, clipWidth * 4);
        if (data)
            texels.assign(data,
                          data + static_cast<size_t>(pitch) * static_cast<size_t>(texture->GetHeight()));
        texture->Unlock();
        return texels;
    }

    StepClock clock;
    GAME::Test::TempDir dir;
    GAME::Test::LogCapture log;
    GAME::Test::SoftwareModuleAccess software;
    std::string clip;
    RenderDevice* device = nullptr;
    RenderSurface* surface = nullptr;
    Software::DeviceControl* control = nullptr;
    std::vector<ResetObject*> registered;
    std::unique_ptr<VideoPlayer> player;
};

TEST_F(VideoTest, TheDecoderGivesTheClipsFramesWhenTheyAreDue)
{
    std::unique_ptr<VideoDecoder> decoder(VideoDecoder::Open(clip.c_str()));
    ASSERT_NE(decoder, nullptr);
    EXPECT_EQ(decoder->GetWidth(), clipWidth);
    EXPECT_EQ(decoder->GetHeight(), clipHeight);
    EXPECT_EQ(decoder->GetFrameCount(), clipFrames);
    EXPECT_DOUBLE_EQ(decoder->GetFrameRate(), clipRate);
    EXPECT_EQ(decoder->GetCurrentFrame(), 1);

    std::vector<uint8_t> pixels(80 * 4 * 60, 0);
    EXPECT_FALSE(
        decoder->CopyToBuffer(pixels.data(), 80 * 4, 60, 0, 0, VideoDecoder::copySurface32)); // nothing yet
    EXPECT_FALSE(decoder->Wait()); // the first frame is due at once
    ASSERT_TRUE(decoder->DoFrame());
    // Into a wider buffer, 8 pixels in and 4 down.
    ASSERT_TRUE(decoder->CopyToBuffer(pixels.data(), 80 * 4, 60, 8, 4,
                                      VideoDecoder::copyAll | VideoDecoder::copySurface32));
    ExpectFrame(pixels.data(), 80 * 4, 8, 4, 0);
    EXPECT_EQ(pixels[0], 0); // outside the picture: untouched
    EXPECT_FALSE(decoder->CopyToBuffer(pixels.data(), 80 * 4, 60, 0, 0, VideoDecoder::copyAll | 1)); // 16-bit
    // A buffer too small keeps what fits.
    std::vector<uint8_t> small(16 * 4 * 8, 0);
    EXPECT_TRUE(decoder->CopyToBuffer(small.data(), 16 * 4, 8, 0, 0, VideoDecoder::copySurface32));
    EXPECT_TRUE(Near(&small[(7 * 16 + 15) * 4], GAME::Test::ClipColor(0, 0, clipWidth)));

    decoder->NextFrame();
    EXPECT_TRUE(decoder->Wait());
    clock.Advance(99);
    EXPECT_TRUE(decoder->Wait());
    clock.Advance(1);
    EXPECT_FALSE(decoder->Wait());
    // A pause holds the clock.
    decoder->NextFrame(); // frame 3, due at 200 ms
    decoder->Pause(true);
    clock.Advance(500);
    EXPECT_TRUE(decoder->Wait());
    decoder->Pause(false);
    EXPECT_TRUE(decoder->Wait());
    clock.Advance(100);
    EXPECT_FALSE(decoder->Wait());
    ASSERT_TRUE(decoder->DoFrame()); // frame 2 is decoded on the way
    ASSERT_TRUE(decoder->CopyToBuffer(pixels.data(), 80 * 4, 60, 0, 0, VideoDecoder::copySurface32));
    ExpectFrame(pixels.data(), 80 * 4, 0, 0, 2);

    for (int frame = 3; frame < clipFrames; ++frame)
        decoder->NextFrame();
    ASSERT_TRUE(decoder->DoFrame());
    ASSERT_TRUE(decoder->CopyToBuffer(pixels.data(), 80 * 4, 60, 0, 0, VideoDecoder::copySurface32));
    ExpectFrame(pixels.data(), 80 * 4, 0, 0, clipFrames - 1);
    decoder->NextFrame(); // the end
    EXPECT_EQ(decoder->GetCurrentFrame(), clipFrames + 1);
    EXPECT_FALSE(decoder->DoFrame());
    decoder->NextFrame();
    EXPECT_EQ(decoder->GetCurrentFrame(), clipFrames + 1);
    EXPECT_EQ(decoder->GetFrameCount(), clipFrames);
}

TEST_F(VideoTest, MissingAndUnreadableFilesFailToOpenWithALogLine)
{
    EXPECT_EQ(VideoDecoder::Open(dir.File("missing.avi").c_str()), nullptr);
    EXPECT_TRUE(log.Contains("can't open the video", 1));
    ASSERT_TRUE(dir.Write("noise.avi", std::string("RIFF\x10\0\0\0AVI LIST garbage that is no video", 41)));
    EXPECT_EQ(VideoDecoder::Open(dir.File("noise.avi").c_str()), nullptr);
    EXPECT_EQ(VideoDecoder::Open(""), nullptr);
    EXPECT_EQ(VideoDecoder::Open(nullptr), nullptr);

    VideoPlayer& player = MakePlayer();
    log.Clear();
    EXPECT_FALSE(player.Open(dir.File("missing.avi").c_str(), true, false));
    EXPECT_TRUE(log.Contains("can't open the video", 1));
    EXPECT_FALSE(player.GetIsPlaying());
    EXPECT_TRUE(registered.empty());
    player.Update();
    player.Render();

    // No texture for the video: not opened, not registered.
    control->InjectFailure(Software::Failure::Texture, 1);
    EXPECT_FALSE(player.Open(clip.c_str(), true, false));
    EXPECT_TRUE(log.Contains("no texture of 64 x 48", 1));
    EXPECT_TRUE(registered.empty());
    EXPECT_FALSE(player.GetIsPlaying());

    // Without a device nothing can play.
    VideoPlayer deviceless{VideoPlayer::Services()};
    EXPECT_FALSE(deviceless.Open(clip.c_str(), true, false));
}

TEST_F(VideoTest, ThePlayerCopiesEachFrameIntoItsTextureAndShowsTheLastFrameForItsTime)
{
    VideoPlayer& player = MakePlayer();
    ASSERT_TRUE(player.Open(clip.c_str(), false, true));
    EXPECT_TRUE(player.GetIsPlaying());
    ASSERT_NE(player.GetTexture(), nullptr);
    EXPECT_EQ(player.GetTexture()->GetWidth(), clipWidth);
    EXPECT_EQ(player.GetTexture()->GetHeight(), clipHeight);
    ASSERT_EQ(registered.size(), 1u);

    control->SetRecording(true);
    for (int frame = 0; frame < clipFrames; ++frame) {
        player.Update();
        const std::vector<std::string> calls = control->TakeRecordedCalls();
        EXPECT_TRUE(std::any_of(calls.begin(), calls.end(),
                                [](const std::string& call) { return call.rfind("Lock(texture#", 0) == 0; }))
            << "frame " << frame;
        const std::vector<uint8_t> texels = TextureTexels();
        ASSERT_FALSE(texels.empty());
        ExpectFrame(texels.data(), clipWidth * 4, 0, 0, frame);
        control->TakeRecordedCalls(); // the test's own lock
        player.Update();              // not due yet: nothing is copied
        EXPECT_TRUE(control->TakeRecordedCalls().empty());
        player.Render();
        clock.Advance(100);
    }
    // The last frame had its 100 ms: the next Update closes the video.
    EXPECT_TRUE(player.GetIsPlaying());
    player.Update();
    EXPECT_FALSE(player.GetIsPlaying());
    EXPECT_EQ(player.GetTexture(), nullptr);
    EXPECT_TRUE(registered.empty());
    EXPECT_EQ(control->GetResourceCount(Software::ResourceKind::Texture), 0u);
}

TEST_F(VideoTest, TheVideoIsDrawnOverTheWholeTargetKeepingItsAspectRatio)
{
    // 4:3 on 16:10: full height, bars at the sides; 16:10 on 4:3: full width, bars above and below.
    ExpectRect(VideoPlayer::GetVideoRect(640, 480, 1280, 800), Rect(106.667f, 0.0f, 1066.667f, 800.0f));
    ExpectRect(VideoPlayer::GetVideoRect(1280, 800, 1024, 768), Rect(0.0f, 64.0f, 1024.0f, 640.0f));
    ExpectRect(VideoPlayer::GetVideoRect(64, 48, 640, 480), Rect(0.0f, 0.0f, 640.0f, 480.0f));
    ExpectRect(VideoPlayer::GetVideoRect(0, 48, 640, 480), Rect(0.0f, 0.0f, 640.0f, 480.0f));

    VideoPlayer& player = MakePlayer();
    ASSERT_TRUE(player.Open(clip.c_str(), false, false));
    player.Update();
    control->SetRecording(true);
    player.Render();
    const std::vector<std::string> calls = control->TakeRecordedCalls();
    const std::string texture = "SetTexture(0, texture#";
    EXPECT_TRUE(std::any_of(calls.begin(), calls.end(),
                            [&](const std::string& call) { return call.rfind(texture, 0) == 0; }));
    EXPECT_TRUE(std::find(calls.begin(), calls.end(),
                          "DrawTexturedQuad(106.667, 0, 1066.67, 800, 0, 0, 1, 1, ffffffff, 0)") !=
                calls.end());
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.front(), "BeginFrame()");
    EXPECT_EQ(calls.back(), "EndFrame()");
    EXPECT_EQ(control->GetRenderState().alphaWrite, RENDER_WRITE_DISABLED);
    EXPECT_EQ(control->GetRenderState().depthWrite, RENDER_WRITE_DISABLED);
    EXPECT_EQ(control->GetRenderState().depthTest, RENDER_TEST_ALWAYS);
}

TEST_F(VideoTest, AnyPressSkipsASkippableVideoAndNothingSkipsTheOthers)
{
    HeadlessInputDevice input;
    ASSERT_TRUE(input.Initialize(nullptr, 16, 16));
    VideoPlayer& player = MakePlayer(&input);

    InputDevice::ButtonEvent release;
    release.keyCode = 30;
    release.state = InputDevice::BUTTON_RELEASED;
    InputDevice::MouseEvent move;
    InputDevice::MouseEvent rightDown;
    rightDown.type = InputDevice::MOUSE_RIGHT_DOWN;
    InputDevice::ButtonEvent press;
    press.keyCode = 57;

    // Not skippable: plays on whatever is pressed.
    ASSERT_TRUE(player.Open(clip.c_str(), false, false));
    input.QueueButtonEvent(press);
    input.QueueMouseEvent(rightDown);
    input.Update();
    player.Update();
    EXPECT_TRUE(player.GetIsPlaying());

    // Skippable: releases and moves do not skip; a key press does, and so does a button.
    ASSERT_TRUE(player.Open(clip.c_str(), true, false));
    input.QueueButtonEvent(release);
    input.QueueMouseEvent(move);
    input.Update();
    player.Update();
    EXPECT_TRUE(player.GetIsPlaying());
    input.QueueButtonEvent(press);
    input.Update();
    player.Update();
    EXPECT_FALSE(player.GetIsPlaying());
    EXPECT_TRUE(registered.empty());

    ASSERT_TRUE(player.Open(clip.c_str(), true, false));
    input.QueueMouseEvent(rightDown);
    input.Update();
    player.Update();
    EXPECT_FALSE(player.GetIsPlaying());

    // Without an input device nothing counts as pressed.
    VideoPlayer& quiet = MakePlayer(nullptr);
    ASSERT_TRUE(quiet.Open(clip.c_str(), true, false));
    quiet.Update();
    EXPECT_TRUE(quiet.GetIsPlaying());
}

TEST_F(VideoTest, TheTextureIsReleasedBeforeADeviceResetAndMadeAgainWithTheFrameAfterIt)
{
    VideoPlayer& player = MakePlayer();
    ASSERT_TRUE(player.Open(clip.c_str(), false, false));
    ASSERT_EQ(registered.size(), 1u);
    ResetObject* reset = registered[0];
    player.Update();
    clock.Advance(100);
    player.Update(); // frame 2 in the texture
    const uint32_t textures = control->GetResourceCount(Software::ResourceKind::Texture);

    reset->PreDeviceReset();
    EXPECT_EQ(player.GetTexture(), nullptr);
    EXPECT_EQ(control->GetResourceCount(Software::ResourceKind::Texture), textures - 1);
    clock.Advance(100);
    player.Update(); // frame 3 is due while the device is away: decoded, not copied
    player.Render();
    EXPECT_TRUE(player.GetIsPlaying());

    reset->PostDeviceReset();
    ASSERT_NE(player.GetTexture(), nullptr);
    EXPECT_EQ(control->GetResourceCount(Software::ResourceKind::Texture), textures);
    const std::vector<uint8_t> texels = TextureTexels();
    ASSERT_FALSE(texels.empty());
    ExpectFrame(texels.data(), clipWidth * 4, 0, 0, 2); // the current frame put back

    player.Close();
    EXPECT_TRUE(registered.empty());
    reset->PostDeviceReset(); // nothing open: nothing made
    EXPECT_EQ(control->GetResourceCount(Software::ResourceKind::Texture), textures - 1);
}

} // namespace
} // namespace GAME
