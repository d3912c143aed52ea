// Streams and the streamer driven by the test on the loopback device: what a playlist without
// files does, and the streamer keeping its hands off a fed stream's samples.
#include "sound/SoundStream.h"
#include "sound/SoundDevice.h"

#include <gtest/gtest.h>
#include <vector>

namespace GAME {
namespace {

TEST(SoundStreamTest, APlaylistWithoutFilesEndsAtOnceAndAFedStreamStaysItsOwners)
{
    SoundDevice device;
    ASSERT_TRUE(device.Open(SoundDevice::OUTPUT_LOOPBACK));
    SoundStreamer streamer;
    SoundStream empty({}, true);
    SoundStream fed;
    streamer.Add(empty.GetFeed());
    // A fed stream handed to the streamer all the same: it has no files to decode.
    streamer.Add(fed.GetFeed());
    EXPECT_FALSE(streamer.Service());

    const std::vector<int16_t> samples(SoundStream::kChunkFrames, 3000);
    EXPECT_TRUE(fed.Feed(samples.data(), samples.size(), 1, SoundDevice::kLoopbackRate));
    empty.Update(device);
    fed.Update(device);
    EXPECT_TRUE(empty.IsFinished()) << "nothing to play, looping or not";
    EXPECT_FALSE(empty.HasStarted());
    EXPECT_TRUE(fed.HasStarted());
    EXPECT_FALSE(fed.IsFinished());

    fed.EndFeed();
    std::vector<int16_t> mix(2 * 1024);
    for (int i = 0; i < 20 && !fed.IsFinished(); ++i) {
        streamer.Service();
        device.Render(mix.data(), 1024);
        fed.Update(device);
    }
    EXPECT_TRUE(fed.IsFinished());
    EXPECT_EQ(fed.GetPlayedFrames(), SoundStream::kChunkFrames);
    empty.Release(device);
    fed.Release(device);
    EXPECT_EQ(device.GetNumBuffers(), 0u);
}

} // namespace
} // namespace GAME
