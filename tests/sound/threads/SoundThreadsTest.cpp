// Sounds decoded on the resource loader thread and music decoded on the stream thread while the
// main thread plays, moves, ends and unloads them: every device call stays on the main thread, and
// nothing the other threads make is used half-made.
#include "../SoundFixture.h"
#include "common/WaitUntil.h"

#include "core/ABBox.h"
#include "sound/SoundDescriptor.h"
#include "sound/SoundResource.h"
#include "sound/SoundStream.h"
#include "world/Region.h"

#include <gtest/gtest.h>

// OpenAL Soft starts its own threads (its event thread, the threads of the system backends it probes
// on first use); what they share with its callers is its own business. Only that library is named.
extern "C" const char* __tsan_default_suppressions()
{
    return "race:libopenal.so\n";
}

namespace GAME {
namespace {

TEST(SoundThreadsTest, DecodesOnTheirThreadsWhileTheMainThreadPlays)
{
    GAME::Test::SoundFiles files;
    for (int i = 0; i < 6; ++i)
        ASSERT_TRUE(
            files.PutTone("Sounds/Tone" + std::to_string(i) + ".wav", 0.05f + 0.01f * i, 300.0f + 50.0f * i));
    ASSERT_TRUE(files.Put("Sounds/Broken.wav", std::vector<uint8_t>{'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A',
                                                                    'V', 'E', 'f', 'm', 't', ' ', 1, 2, 3}));
    ASSERT_TRUE(files.PutTone("Music/Loop.ogg", 0.3f, 220.0f, 2, DataKit::SoundWriter::FORMAT_OGG));
    ASSERT_TRUE(files.PutTone("Music/Other.flac", 0.2f, 330.0f, 1, DataKit::SoundWriter::FORMAT_FLAC, 44100));

    GAME::Test::LoopbackSound audio(true, true);
    ASSERT_TRUE(audio.initialized);
    SoundManager& sound = *audio.sound;
    Region region(ABBox(Vec3(0.0f, 0.0f, 0.0f), Vec3(32.0f, 32.0f, 32.0f)));
    sound.SetEarsPosition(WorldVec3(&region, Vec3()));

    std::vector<int16_t> mix(441 * 2);
    SoundStream* streams[2] = {nullptr, nullptr};
    int loudFrames = 0, playingFrames = 0;
    // The loader thread may fall behind the frames, but a sound waits for its decode only so many
    // updates before it is dropped, and a busy machine can keep the thread waiting that long:
    // what a frame asked for is decoded before the frame lagFrames later updates.
    constexpr int lagFrames = 10;
    std::vector<unsigned> markers;
    for (int frame = 0; frame < 400; ++frame) {
        if (frame % 3 == 0) {
            SoundDescriptor descriptor(frame % 21 == 0 ? "Sounds/Broken.wav"
                                                       : "Sounds/Tone" + std::to_string(frame % 6) + ".wav");
            descriptor.SetPosition(
                WorldVec3(&region, Vec3(static_cast<float>(frame % 7) - 3.0f, 0.0f, 2.0f)));
            sound.Play3D(descriptor, true);
        }
        if (frame % 50 == 0) {
            // Streams open and close while the stream thread decodes them.
            SoundStream*& slot = streams[(frame / 50) % 2];
            sound.CloseStream(slot);
            slot = sound.OpenStream(
                {frame % 100 == 0 ? "Music/Loop.ogg" : "Music/Other.flac", "Music/Gone.ogg"}, true, 0.5f);
        }
        if (frame % 97 == 0) {
            // Sounds nobody plays any longer are deleted while others still load.
            sound.GetResourceManager()->SetUnreferencedDelay(0);
            sound.UnloadUnreferencedResources();
        }
        sound.SetEarsPosition(WorldVec3(&region, Vec3(0.0f, 0.0f, static_cast<float>(frame % 5))));
        markers.push_back(audio.loader.CreateMarker());
        if (frame >= lagFrames) {
            ASSERT_TRUE(GAME::Test::WaitUntil(
                [&] { return audio.loader.GetHasMarkerPast(markers[static_cast<size_t>(frame - lagFrames)]); }));
        }
        sound.Update();
        sound.RenderLoopback(mix.data(), 441);
        loudFrames += GAME::Test::ChannelLevel(mix, 0) > 100.0 ? 1 : 0;
        playingFrames += sound.GetNumPlayingSounds() > 0 ? 1 : 0;
        audio.loader.Update();
    }
    EXPECT_GT(loudFrames, 100);
    EXPECT_GT(playingFrames, 100); // the sounds decoded on the loader thread, not the music alone
    for (SoundStream*& stream : streams)
        sound.CloseStream(stream);
    EXPECT_EQ(sound.GetNumStreams(), 0);
}

} // namespace
} // namespace GAME
