// The video's sound track: decoded beside the pictures, played through a fed stream of a sound
// manager on the loopback device, in step with the frame clock.
#include "SoftwareDeviceAccess.h"
#include "VideoClip.h"
#include "common/LogCapture.h"
#include "common/TempDir.h"

#include "core/Time.h"
#include "graphics/RenderSurface.h"
#include "graphics/VideoDecoder.h"
#include "graphics/VideoPlayer.h"
#include "sound/SoundManager.h"
#include "sound/SoundStream.h"

#include <atomic>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace GAME {
namespace {

constexpr int clipFrames = 30;
constexpr int clipRate = 10; // 3 s
constexpr int soundRate = 22050;
constexpr double toneFrom = 1.5; // silent before, a tone after

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

double Level(const std::vector<int16_t>& samples)
{
    double sum = 0.0;
    for (int16_t s : samples)
        sum += static_cast<double>(s) * s;
    return samples.empty() ? 0.0 : std::sqrt(sum / static_cast<double>(samples.size()));
}

class VideoSoundTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SetMachineClock(&clock);
        InitializeTimeSystem();
        clip = dir.File("talk.avi");
        ASSERT_TRUE(GAME::Test::WriteClip(clip, 32, 24, clipFrames, clipRate,
                                          GAME::Test::ClipSound{soundRate, toneFrom}));
        mute = dir.File("mute.avi");
        ASSERT_TRUE(GAME::Test::WriteClip(mute, 32, 24, 4, clipRate));
        sound = std::make_unique<SoundManager>(nullptr);
        sound->SetOutput(SoundDevice::OUTPUT_LOOPBACK);
        sound->EnableStreamThread(false);
        ASSERT_TRUE(sound->Initialize(1));
    }

    void TearDown() override
    {
        player.reset();
        sound.reset();
        if (device) {
            if (surface)
                device->DestroySurface(&surface);
            RenderDevice::Destroy(device);
        }
        RenderDevice::UnloadLibraries();
        SetMachineClock(nullptr);
        ResetTimeSystem();
    }

    VideoPlayer& MakePlayer(SoundManager* soundManager)
    {
        if (!device) {
            device = RenderDevice::Create("Software");
            EXPECT_NE(device, nullptr);
            EXPECT_TRUE(device->Initialize());
            RenderDeviceSettings settings;
            settings.width = 320;
            settings.height = 240;
            surface = device->CreatePrimarySurface(nullptr, &settings);
        }
        VideoPlayer::Services services;
        services.device = device;
        services.sound = soundManager;
        player = std::make_unique<VideoPlayer>(services);
        return *player;
    }

    // One 10 ms frame of the engine: the clock moves, the video, then the sound manager, then the
    // mix of those 10 ms is rendered.
    std::vector<int16_t> Step(const std::function<void()>& update, int frames = 1)
    {
        std::vector<int16_t> out;
        for (int i = 0; i < frames; ++i) {
            clock.Advance(10);
            update();
            sound->Update();
            std::vector<int16_t> mix(SoundDevice::kLoopbackRate / 100 * 2);
            sound->RenderLoopback(mix.data(), SoundDevice::kLoopbackRate / 100);
            out.insert(out.end(), mix.begin(), mix.end());
        }
        return out;
    }

    StepClock clock;
    GAME::Test::TempDir dir;
    GAME::Test::LogCapture log;
    std::string clip, mute;
    std::unique_ptr<SoundManager> sound;
    RenderDevice* device = nullptr;
    RenderSurface* surface = nullptr;
    std::unique_ptr<VideoPlayer> player;
};

TEST_F(VideoSoundTest, TheDecoderQueuesItsSoundWhenOnAndNoneWhenOff)
{
    std::unique_ptr<VideoDecoder> decoder(VideoDecoder::Open(clip.c_str(), sound.get()));
    ASSERT_NE(decoder, nullptr);
    EXPECT_TRUE(decoder->HasSoundTrack());
    EXPECT_EQ(decoder->GetSoundRate(), soundRate);
    EXPECT_EQ(decoder->GetFrameCount(), clipFrames); // the sound's packets are not frames

    // On by default: the first Wait starts the track and feeds it ahead of the clock.
    EXPECT_FALSE(decoder->Wait());
    const int64_t fed = decoder->GetSoundFramesQueued();
    EXPECT_GE(fed, soundRate / 2);
    EXPECT_LE(fed, soundRate * 2);
    EXPECT_EQ(sound->GetNumStreams(), 1);
    decoder->Wait(); // the clock stands: nothing more is fed
    EXPECT_EQ(decoder->GetSoundFramesQueued(), fed);
    clock.Advance(50);
    decoder->Wait();
    EXPECT_GT(decoder->GetSoundFramesQueued(), fed);

    // Off stops and frees the stream; on again starts it at the clock's time.
    decoder->SetSoundOnOff(false);
    EXPECT_EQ(sound->GetNumStreams(), 0);
    EXPECT_EQ(decoder->GetSoundFramesQueued(), 0);
    clock.Advance(100);
    decoder->Wait();
    EXPECT_EQ(decoder->GetSoundFramesQueued(), 0);
    EXPECT_EQ(sound->GetNumStreams(), 0);
    decoder->SetSoundOnOff(true);
    decoder->Wait();
    EXPECT_EQ(sound->GetNumStreams(), 1);
    EXPECT_GT(decoder->GetSoundFramesQueued(), 0);
    decoder.reset();
    EXPECT_EQ(sound->GetNumStreams(), 0);

    // Off from the start: nothing is ever queued.
    decoder.reset(VideoDecoder::Open(clip.c_str(), sound.get()));
    ASSERT_NE(decoder, nullptr);
    decoder->SetSoundOnOff(false);
    for (int i = 0; i < 5; ++i) {
        decoder->Wait();
        clock.Advance(100);
    }
    EXPECT_EQ(decoder->GetSoundFramesQueued(), 0);
    EXPECT_EQ(sound->GetNumStreams(), 0);

    // A video without a sound track, and one opened without a sound manager, play silent.
    decoder.reset(VideoDecoder::Open(mute.c_str(), sound.get()));
    ASSERT_NE(decoder, nullptr);
    EXPECT_FALSE(decoder->HasSoundTrack());
    EXPECT_EQ(decoder->GetSoundRate(), 0);
    decoder->Wait();
    EXPECT_EQ(decoder->GetSoundFramesQueued(), 0);
    decoder.reset(VideoDecoder::Open(clip.c_str()));
    ASSERT_NE(decoder, nullptr);
    EXPECT_TRUE(decoder->HasSoundTrack());
    decoder->Wait();
    EXPECT_EQ(decoder->GetSoundFramesQueued(), 0);
    EXPECT_EQ(sound->GetNumStreams(), 0);
}

TEST_F(VideoSoundTest, TheSoundIsHeardInStepWithTheFramesPausesWithThemAndGoesWithTheVideo)
{
    VideoPlayer& videoPlayer = MakePlayer(sound.get());
    ASSERT_TRUE(videoPlayer.Open(clip.c_str(), false, true));
    auto update = [&] { videoPlayer.Update(); };

    // The tone begins 1.5 s into the video: silent until shortly before, heard shortly after.
    EXPECT_LT(Level(Step(update, 130)), 50.0);
    Step(update, 40);
    EXPECT_GT(Level(Step(update, 20)), 3000.0);

    // A pause holds the sound with the pictures.
    videoPlayer.Pause(true);
    EXPECT_EQ(sound->GetNumStreams(), 1); // held, not closed
    Step(update);                         // the device fades out what was playing
    EXPECT_LT(Level(Step(update, 30)), 50.0);
    EXPECT_TRUE(videoPlayer.GetIsPlaying());
    videoPlayer.Pause(false);
    EXPECT_GT(Level(Step(update, 20)), 3000.0);

    // Closing stops the sound and frees its source and buffers.
    videoPlayer.Close();
    EXPECT_EQ(sound->GetNumStreams(), 0);
    EXPECT_EQ(sound->GetDevice().GetNumSources(), 0u);
    EXPECT_EQ(sound->GetDevice().GetNumBuffers(), 0u);
    Step(update);
    EXPECT_LT(Level(Step(update, 10)), 50.0);

    // Off: the video plays without its sound.
    ASSERT_TRUE(videoPlayer.Open(clip.c_str(), false, false));
    EXPECT_LT(Level(Step(update, 200)), 50.0);
    EXPECT_EQ(sound->GetNumStreams(), 0);

    // A video that plays to its end takes its sound with it.
    ASSERT_TRUE(videoPlayer.Open(clip.c_str(), false, true));
    for (int i = 0; i < 400 && videoPlayer.GetIsPlaying(); ++i)
        Step(update);
    EXPECT_FALSE(videoPlayer.GetIsPlaying());
    EXPECT_EQ(sound->GetNumStreams(), 0);
    EXPECT_EQ(sound->GetDevice().GetNumBuffers(), 0u);
}

TEST_F(VideoSoundTest, SoundThatFellBehindTheFramesSkipsAheadToThem)
{
    VideoPlayer& videoPlayer = MakePlayer(sound.get());
    ASSERT_TRUE(videoPlayer.Open(clip.c_str(), false, true));
    auto update = [&] { videoPlayer.Update(); };
    Step(update, 20);
    // The engine stalls for 1.5 s: the pictures' clock goes on, the sound does not move.
    clock.Advance(1500);
    videoPlayer.Update();
    // What was queued before the stall is dropped and the sound is back with the pictures (the
    // tone, 1.5 s in), where 1.5 s late it would be silent to the end of the video.
    Step(update, 10); // to 1.8 s
    EXPECT_GT(Level(Step(update, 30)), 3000.0);
}

TEST_F(VideoSoundTest, WithoutASoundDeviceTheVideoStillPlaysSilently)
{
    SoundManager deviceless(nullptr);
    deviceless.SetOutput(SoundDevice::OUTPUT_NONE);
    EXPECT_FALSE(deviceless.Initialize(1));
    VideoPlayer& videoPlayer = MakePlayer(&deviceless);
    ASSERT_TRUE(videoPlayer.Open(clip.c_str(), true, true));
    int frames = 0;
    for (int i = 0; i < 400 && videoPlayer.GetIsPlaying(); ++i) {
        clock.Advance(10);
        videoPlayer.Update();
        deviceless.Update();
        ++frames;
    }
    EXPECT_FALSE(videoPlayer.GetIsPlaying());
    EXPECT_GE(frames, clipFrames * 10);
    EXPECT_EQ(deviceless.GetNumStreams(), 0);
    EXPECT_FALSE(log.Contains("the sound of", 1));
}

} // namespace
} // namespace GAME
