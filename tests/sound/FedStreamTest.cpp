// Streams fed with samples by their owner (a video's sound track) on the loopback device.
#include "SoundFixture.h"
#include "common/LogCapture.h"

#include "sound/SoundStream.h"

#include <cmath>
#include <gtest/gtest.h>
#include <vector>

namespace GAME {
namespace {

using GAME::Test::ChannelLevel;

constexpr int rate = SoundDevice::kLoopbackRate; // no resampling: frames played match frames mixed

std::vector<int16_t> Tone(size_t frames)
{
    std::vector<int16_t> samples(frames);
    for (size_t i = 0; i < frames; ++i)
        samples[i] =
            static_cast<int16_t>(10000.0 * std::sin(2.0 * M_PI * 440.0 * static_cast<double>(i) / rate));
    return samples;
}

TEST(FedStreamTest, SamplesPlayOnceAChunkIsFullOrTheFeedEndsAndTheStreamCountsWhatWasPlayed)
{
    GAME::Test::LoopbackSound audio;
    ASSERT_TRUE(audio.initialized);
    SoundManager& sound = *audio.sound;
    SoundStream* stream = sound.OpenFedStream(1.0f);
    ASSERT_NE(stream, nullptr);
    EXPECT_TRUE(stream->IsFed());
    const std::vector<int16_t> tone = Tone(SoundStream::kChunkFrames * 3);

    // Refused: other channel counts, rates the sound layer does not take, nothing at all.
    EXPECT_FALSE(stream->Feed(tone.data(), 100, 3, rate));
    EXPECT_FALSE(stream->Feed(tone.data(), 100, 1, 1000));
    EXPECT_FALSE(stream->Feed(nullptr, 100, 1, rate));
    SoundStream playlist({"Music/A.ogg"}, false);
    EXPECT_FALSE(playlist.Feed(tone.data(), 100, 1, rate));

    // Less than a chunk waits.
    ASSERT_TRUE(stream->Feed(tone.data(), 1000, 1, rate));
    EXPECT_LT(ChannelLevel(audio.Render(20), 0), 1.0);
    EXPECT_FALSE(stream->HasStarted());
    EXPECT_EQ(stream->GetPlayedFrames(), 0);

    // A full chunk plays, mono on both sides.
    ASSERT_TRUE(stream->Feed(tone.data() + 1000, SoundStream::kChunkFrames * 2, 1, rate));
    std::vector<int16_t> mix = audio.Render(50);
    EXPECT_TRUE(stream->HasStarted());
    EXPECT_GT(ChannelLevel(mix, 0), 2000.0);
    EXPECT_NEAR(ChannelLevel(mix, 0), ChannelLevel(mix, 1), 1.0);
    audio.Frame();
    const int64_t played = stream->GetPlayedFrames();
    EXPECT_NEAR(static_cast<double>(played), rate * 0.05, rate * 0.011);

    // Paused: silent, and the count stands.
    stream->Pause(sound.GetDevice(), true);
    audio.Render(10); // the device fades out what was playing
    EXPECT_LT(ChannelLevel(audio.Render(50), 0), 1.0);
    audio.Frame();
    EXPECT_EQ(stream->GetPlayedFrames(), played);
    stream->Pause(sound.GetDevice(), false);
    EXPECT_GT(ChannelLevel(audio.Render(30), 0), 2000.0);

    // The end lets the part-filled chunk go; everything plays, then the stream is finished.
    stream->EndFeed();
    EXPECT_FALSE(stream->Feed(tone.data(), 100, 1, rate));
    audio.Render(300);
    EXPECT_TRUE(stream->IsFinished());
    EXPECT_EQ(stream->GetPlayedFrames(), 1000 + SoundStream::kChunkFrames * 2);
    sound.CloseStream(stream);
    EXPECT_EQ(sound.GetNumStreams(), 0);
    EXPECT_EQ(sound.GetDevice().GetNumSources(), 0u);
    EXPECT_EQ(sound.GetDevice().GetNumBuffers(), 0u);
}

TEST(FedStreamTest, AFlushDropsWhatWasNotHeardAndCountsItAsPlayed)
{
    GAME::Test::LoopbackSound audio;
    ASSERT_TRUE(audio.initialized);
    SoundManager& sound = *audio.sound;
    SoundStream* stream = sound.OpenFedStream(1.0f);
    ASSERT_NE(stream, nullptr);
    const std::vector<int16_t> tone = Tone(SoundStream::kChunkFrames * 8);
    ASSERT_TRUE(stream->Feed(tone.data(), tone.size(), 1, rate));
    EXPECT_GT(ChannelLevel(audio.Render(20), 0), 2000.0);

    stream->Flush(sound.GetDevice());
    EXPECT_EQ(stream->GetPlayedFrames(), static_cast<int64_t>(tone.size()));
    audio.Render(10);
    EXPECT_LT(ChannelLevel(audio.Render(50), 0), 1.0);
    EXPECT_EQ(sound.GetDevice().GetNumBuffers(), 0u);

    // Fed again, it plays again.
    ASSERT_TRUE(stream->Feed(tone.data(), SoundStream::kChunkFrames, 1, rate));
    EXPECT_GT(ChannelLevel(audio.Render(30), 0), 2000.0);

    // Without a device there is no fed stream.
    GAME::Test::LogCapture log;
    SoundManager deviceless(nullptr);
    deviceless.SetOutput(SoundDevice::OUTPUT_NONE);
    EXPECT_FALSE(deviceless.Initialize(1));
    EXPECT_EQ(deviceless.OpenFedStream(1.0f), nullptr);
}

} // namespace
} // namespace GAME
