#include "SoundFixture.h"
#include "common/LogCapture.h"

#include "core/ABBox.h"
#include "core/IntVec3.h"
#include "core/Object.h"
#include "sound/AmbientSession.h"
#include "sound/BossMusicSession.h"
#include "sound/EventMusicSession.h"
#include "sound/MusicSession.h"
#include "sound/SoundDescriptor.h"
#include "sound/SoundResource.h"
#include "sound/SoundStream.h"
#include "world/Region.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <string>

namespace GAME {
namespace {

using GAME::Test::ChannelLevel;

// The world is right-handed with y up; the camera looks down -z and hands the ears its up axis
// negated.
void FaceNegativeZ(SoundManager& sound)
{
    sound.SetEarsOrientation(Vec3(0.0f, 0.0f, -1.0f), Vec3(0.0f, -1.0f, 0.0f));
}

SoundDescriptor At(const std::string& file, Region* region, const Vec3& position)
{
    SoundDescriptor descriptor(file);
    descriptor.SetPosition(WorldVec3(region, position));
    return descriptor;
}

TEST(SoundManagerTest, PositionedSoundIsLouderOnItsSideAndPlaysOnceThenEnds)
{
    GAME::Test::SoundFiles files;
    ASSERT_TRUE(files.PutTone("Sounds/Tone.wav", 0.3f));
    GAME::Test::LoopbackSound audio;
    ASSERT_TRUE(audio.initialized);
    SoundManager& sound = *audio.sound;
    Region region(ABBox(Vec3(0.0f, 0.0f, 0.0f), Vec3(50.0f, 50.0f, 50.0f)));
    sound.SetEarsPosition(WorldVec3(&region, Vec3(10.0f, 0.0f, 10.0f)));
    FaceNegativeZ(sound);

    sound.Play3D(At("Sounds/Tone.wav", &region, Vec3(7.0f, 0.0f, 10.0f)), true);
    EXPECT_EQ(sound.GetNumSounds(), 1);
    std::vector<int16_t> mix = audio.Render(100);
    EXPECT_GT(ChannelLevel(mix, 0), 1.5 * ChannelLevel(mix, 1)) << "left of the ears";
    EXPECT_GT(ChannelLevel(mix, 0), 500.0);

    // The tone ends, its voice and its reference go, and nothing more is heard.
    audio.Render(400);
    EXPECT_EQ(sound.GetNumSounds(), 0);
    EXPECT_EQ(sound.GetResourceManager()->GetReferenceCount("Sounds/Tone.wav"), 0);
    mix = audio.Render(50);
    EXPECT_LT(ChannelLevel(mix, 0) + ChannelLevel(mix, 1), 20.0);

    sound.Play3D(At("Sounds/Tone.wav", &region, Vec3(13.0f, 0.0f, 10.0f)), false);
    mix = audio.Render(100);
    EXPECT_GT(ChannelLevel(mix, 1), 1.5 * ChannelLevel(mix, 0)) << "right of the ears";

    // Beyond the maximum distance a sound is silent; the listener turned around swaps the sides.
    audio.Render(400);
    SoundDescriptor far = At("Sounds/Tone.wav", &region, Vec3(10.0f, 0.0f, 10.0f + 40.0f));
    far.SetDistances(1.0f, 20.0f);
    sound.Play3D(far, false);
    mix = audio.Render(100);
    EXPECT_LT(ChannelLevel(mix, 0) + ChannelLevel(mix, 1), 20.0);
    audio.Render(400);
    sound.SetEarsOrientation(Vec3(0.0f, 0.0f, 1.0f), Vec3(0.0f, -1.0f, 0.0f));
    sound.Play3D(At("Sounds/Tone.wav", &region, Vec3(7.0f, 0.0f, 10.0f)), true);
    mix = audio.Render(100);
    EXPECT_GT(ChannelLevel(mix, 1), 1.5 * ChannelLevel(mix, 0));
}

TEST(SoundManagerTest, SoundsInAnotherRegionArePlacedByTheirRelativePosition)
{
    GAME::Test::SoundFiles files;
    ASSERT_TRUE(files.PutTone("Sounds/Tone.wav", 0.3f));
    GAME::Test::LoopbackSound audio;
    ASSERT_TRUE(audio.initialized);
    SoundManager& sound = *audio.sound;
    const ABBox box(Vec3(0.0f, 0.0f, 0.0f), Vec3(64.0f, 64.0f, 64.0f));
    Region west(box), east(box);
    // Far from the world's origin, side by side along x.
    west.SetOffsetFromWorld(IntVec3(1000000, 0, 0));
    east.SetOffsetFromWorld(IntVec3(1000128, 0, 0));
    sound.SetEarsPosition(WorldVec3(&west, Vec3(126.0f, 0.0f, 0.0f)));
    FaceNegativeZ(sound);

    // Local x 1 in the east region is 3 units to the right of the ears, though 1 < 126.
    sound.Play3D(At("Sounds/Tone.wav", &east, Vec3(1.0f, 0.0f, 0.0f)), true);
    std::vector<int16_t> mix = audio.Render(100);
    EXPECT_GT(ChannelLevel(mix, 1), 1.5 * ChannelLevel(mix, 0));
    EXPECT_GT(ChannelLevel(mix, 1), 500.0) << "within the minimum distance: full volume";

    // The ears cross into the east region while the next sound plays in the west one.
    audio.Render(400);
    sound.SetEarsPosition(WorldVec3(&east, Vec3(2.0f, 0.0f, 0.0f)));
    sound.Play3D(At("Sounds/Tone.wav", &west, Vec3(127.0f, 0.0f, 0.0f)), true);
    mix = audio.Render(100);
    EXPECT_GT(ChannelLevel(mix, 0), 1.5 * ChannelLevel(mix, 1));
}

TEST(SoundManagerTest, MissingOrBrokenFilesLogOneLineAndPlayNothing)
{
    GAME::Test::SoundFiles files;
    std::vector<uint8_t> good;
    ASSERT_TRUE(DataKit::SoundWriter::Encode(DataKit::SoundWriter::Tone(440.0f, 0.5f, 22050, 1, 0.8f), 1,
                                             22050, DataKit::SoundWriter::FORMAT_WAV, good));
    std::vector<uint8_t> broken(good.begin(), good.begin() + 40); // header cut in the data chunk
    std::vector<uint8_t> garbage(good.size(), 0x5A);
    std::copy(good.begin(), good.begin() + 12, garbage.begin()); // "RIFF....WAVE", then nonsense
    ASSERT_TRUE(files.Put("Sounds/Broken.wav", broken));
    ASSERT_TRUE(files.Put("Sounds/Garbage.wav", garbage));
    ASSERT_TRUE(files.Put("Sounds/Text.wav", std::vector<uint8_t>{'h', 'e', 'l', 'l', 'o', '\n'}));

    GAME::Test::LoopbackSound audio;
    ASSERT_TRUE(audio.initialized);
    SoundManager& sound = *audio.sound;
    for (const char* name :
         {"Sounds/Missing.wav", "Sounds/Broken.wav", "Sounds/Garbage.wav", "Sounds/Text.wav"}) {
        GAME::Test::LogCapture log;
        sound.Play3D(SoundDescriptor(name), true);
        sound.Play3D(SoundDescriptor(name), true); // a second play of a failed sound adds no line
        const std::vector<int16_t> mix = audio.Render(60);
        EXPECT_EQ(log.Count(), 1u) << name;
        EXPECT_TRUE(log.Contains(name)) << name;
        EXPECT_LT(ChannelLevel(mix, 0) + ChannelLevel(mix, 1), 20.0) << name;
        EXPECT_EQ(sound.GetNumSounds(), 0) << name;
        EXPECT_EQ(sound.GetDevice().GetNumBuffers(), 0u) << "no half-made buffer for " << name;
    }
}

TEST(SoundManagerTest, WithoutAnOutputItFailsOnceAndStaysSafeToUse)
{
    GAME::Test::SoundFiles files;
    ASSERT_TRUE(files.PutTone("Sounds/Tone.wav", 0.1f));
    GAME::Test::LogCapture log;
    ResourceLoader loader;
    SoundManager sound(&loader);
    sound.SetOutput(SoundDevice::OUTPUT_NONE);
    EXPECT_FALSE(sound.Initialize(1));
    EXPECT_FALSE(sound.IsInitialized());
    EXPECT_EQ(log.Count(), 1u);

    Region region(ABBox(Vec3(0.0f, 0.0f, 0.0f), Vec3(8.0f, 8.0f, 8.0f)));
    sound.SetEarsPosition(WorldVec3(&region, Vec3(1.0f, 2.0f, 3.0f)));
    sound.Play3D(At("Sounds/Tone.wav", &region, Vec3()), true);
    EXPECT_EQ(sound.OpenStream({"Sounds/Tone.wav"}, true, 1.0f), nullptr);
    sound.Update();
    sound.UnloadUnreferencedResources();
    EXPECT_EQ(sound.GetNumSounds(), 0);
    EXPECT_EQ(loader.GetQueueCount(RESOURCE_PRIORITY_HIGH), 0u) << "nothing is decoded for no one";
    // The ears are still kept for the ambiance manager.
    EXPECT_EQ(sound.GetEarsPosition(), WorldVec3(&region, Vec3(1.0f, 2.0f, 3.0f)));
    int16_t out[8];
    EXPECT_FALSE(sound.RenderLoopback(out, 4));

    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    sound.WriteResourceLog(file);
    std::rewind(file);
    char line[128] = {};
    ASSERT_NE(std::fgets(line, sizeof(line), file), nullptr);
    ASSERT_NE(std::fgets(line, sizeof(line), file), nullptr);
    EXPECT_EQ(std::string(line).rfind("Sounds - 0", 0), 0u);
    std::fclose(file);
}

TEST(SoundManagerTest, ResourceLogListsLoadedAndFailedSounds)
{
    GAME::Test::SoundFiles files;
    ASSERT_TRUE(files.PutTone("Sounds/Tone.wav", 0.25f));
    GAME::Test::LogCapture log;
    GAME::Test::LoopbackSound audio;
    ASSERT_TRUE(audio.initialized);
    audio.sound->Play3D(SoundDescriptor("Sounds/Tone.wav"), true);
    audio.sound->Play3D(SoundDescriptor("Sounds/Nothing.wav"), true);
    audio.Render(20);
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    audio.sound->WriteResourceLog(file);
    std::rewind(file);
    std::string text;
    char line[256];
    while (std::fgets(line, sizeof(line), file))
        text += line;
    std::fclose(file);
    EXPECT_NE(text.find("Sounds - 2"), std::string::npos) << text;
    EXPECT_NE(text.find("'Sounds/Tone.wav'  250 ms"), std::string::npos) << text;
    EXPECT_NE(text.find("'Sounds/Nothing.wav'  failed"), std::string::npos) << text;
}

TEST(SoundManagerTest, StreamsPlayTheirPlaylistSkippingFilesThatFail)
{
    GAME::Test::SoundFiles files;
    ASSERT_TRUE(files.PutTone("Music/A.ogg", 0.2f, 330.0f, 2, DataKit::SoundWriter::FORMAT_OGG));
    ASSERT_TRUE(files.PutTone("Music/B.flac", 0.2f, 440.0f, 1, DataKit::SoundWriter::FORMAT_FLAC, 44100));
    GAME::Test::LogCapture log;
    GAME::Test::LoopbackSound audio;
    ASSERT_TRUE(audio.initialized);
    SoundStream* stream =
        audio.sound->OpenStream({"Music/A.ogg", "Music/Gone.ogg", "Music/B.flac"}, false, 1.0f);
    ASSERT_NE(stream, nullptr);
    std::vector<int16_t> mix = audio.Render(150);
    EXPECT_GT(ChannelLevel(mix, 0), 500.0);
    EXPECT_NEAR(ChannelLevel(mix, 0), ChannelLevel(mix, 1), 0.1 * ChannelLevel(mix, 0)) << "no position";
    // Both files play (the second at another rate), the missing one is logged once; then it ends.
    int rendered = 150;
    while (!stream->IsFinished() && rendered < 3000) {
        audio.Render(50);
        rendered += 50;
    }
    EXPECT_TRUE(stream->IsFinished());
    EXPECT_GE(rendered, 350);
    EXPECT_EQ(log.Count(), 1u);
    EXPECT_TRUE(log.Contains("Music/Gone.ogg"));
    audio.sound->CloseStream(stream);
    EXPECT_EQ(stream, nullptr);
    EXPECT_EQ(audio.sound->GetDevice().GetNumSources(), 0u);
    EXPECT_EQ(audio.sound->GetDevice().GetNumBuffers(), 0u);

    // A looping stream of which no file plays ends instead of spinning.
    SoundStream* nothing = audio.sound->OpenStream({"Music/Gone.ogg", "Music/Also.ogg"}, true, 1.0f);
    audio.Render(50);
    EXPECT_TRUE(nothing->IsFinished());
    audio.sound->CloseStream(nothing);
}

TEST(SoundManagerTest, SoundAndMusicClassesCanBeMadeByName)
{
    const char* names[] = {"SoundPak", "MusicSession", "AmbientSession", "BossMusicSession",
                           "EventMusicSession"};
    for (const char* name : names) {
        bool found = false;
        for (int i = 0; i < Object::classInfo.GetNumChildren(); ++i)
            found = found || std::string(Object::classInfo.GetChild(i)->GetClassName()) == name;
        EXPECT_TRUE(found) << name;
    }
    EXPECT_TRUE(BossMusicSession::GetStaticClassInfo().IsA(Object::GetStaticClassInfo()));
    EXPECT_FALSE(BossMusicSession::GetStaticClassInfo().IsA(MusicSession::GetStaticClassInfo()));
}

} // namespace
} // namespace GAME
