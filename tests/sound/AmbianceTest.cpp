#include "SoundFixture.h"
#include "common/LogCapture.h"

#include "core/ABBox.h"
#include "sound/AmbianceManager.h"
#include "sound/Jukebox.h"
#include "sound/SoundStream.h"
#include "world/AmbientSectorData.h"
#include "world/DayNightManager.h"
#include "world/Level.h"
#include "world/Region.h"
#include "world/SectorDataManager.h"

#include <gtest/gtest.h>

namespace GAME {
namespace {

using GAME::Test::ChannelLevel;

// A 64 x 64 region whose west half is ambient sector 1 and east half ambient sector 2, with a
// boss record painted over one corner of the east half.
class AmbianceWorld
{
public:
    AmbianceWorld() : region(ABBox(Vec3(32.0f, 0.0f, 32.0f), Vec3(32.0f, 16.0f, 32.0f)))
    {
        for (int i = 0; i < 2; ++i) {
            sectors.NewSectorData(SectorDataManager::SECTOR_AMBIENT);
            auto* record = static_cast<AmbientSectorData*>(
                sectors.GetSectorData(SectorDataManager::SECTOR_AMBIENT, static_cast<unsigned>(i)));
            ids[i] = record->GetId();
            record->SetMusicPlaylist(i == 0 ? "Music/West.ogg" : "Music/East.flac");
        }
        sectors.NewSectorData(SectorDataManager::SECTOR_BOSS);
        bossId = sectors.GetSectorData(SectorDataManager::SECTOR_BOSS, 0u)->GetId();

        SectorLayers& layers = region.GetLevel(true)->GetSectorLayers();
        EXPECT_TRUE(layers.Initialize(64, 64));
        for (int i = 0; i < 2; ++i) {
            layers.PrimeForEdit(SectorDataManager::SECTOR_AMBIENT, ids[i]);
            for (int z = 0; z < 64; ++z)
                for (int x = 32 * i; x < 32 * i + 32; ++x)
                    layers.Edit(x, z, true);
        }
        layers.PrimeForEdit(SectorDataManager::SECTOR_BOSS, bossId);
        for (int z = 48; z < 64; ++z)
            for (int x = 48; x < 64; ++x)
                layers.Edit(x, z, true);
    }

    WorldVec3 At(float x, float z) { return WorldVec3(&region, Vec3(x, 0.0f, z)); }

    Region region;
    SectorDataManager sectors;
    UniqueId ids[2];
    UniqueId bossId;
};

TEST(AmbianceTest, EnteringASectorWithAnotherPlaylistCrossFadesTheMusic)
{
    GAME::Test::SoundFiles files;
    ASSERT_TRUE(files.PutTone("Music/West.ogg", 1.0f, 330.0f, 2, DataKit::SoundWriter::FORMAT_OGG));
    ASSERT_TRUE(files.PutTone("Music/East.flac", 1.0f, 550.0f, 1, DataKit::SoundWriter::FORMAT_FLAC));
    GAME::Test::LoopbackSound audio;
    ASSERT_TRUE(audio.initialized);
    AmbianceWorld world;
    Jukebox jukebox;
    jukebox.SetSoundManager(audio.sound.get());
    AmbianceManager ambiance;

    ambiance.Update(10, world.At(10.0f, 10.0f), &world.sectors, &jukebox);
    EXPECT_EQ(ambiance.GetCurrentSector(SectorDataManager::SECTOR_AMBIENT), world.ids[0]);
    EXPECT_EQ(jukebox.GetMusicPlaylist(), "Music/West.ogg");
    jukebox.Update(0);
    SoundStream* west = jukebox.GetMusicStream();
    ASSERT_NE(west, nullptr);
    EXPECT_EQ(west->GetPlaylist(), std::vector<std::string>{"Music/West.ogg"});
    // It fades in over the default cross-fade (3 s).
    for (int i = 0; i < 40; ++i) {
        jukebox.Update(100);
        audio.Render(10);
    }
    EXPECT_FLOAT_EQ(jukebox.GetStreamGain(west), 1.0f);
    EXPECT_GT(ChannelLevel(audio.Render(50), 0), 500.0);

    // Walking within the sector changes nothing; crossing into the east half does.
    ambiance.Update(10, world.At(30.0f, 10.0f), &world.sectors, &jukebox);
    jukebox.Update(10);
    EXPECT_EQ(jukebox.GetMusicStream(), west);
    ambiance.Update(10, world.At(40.0f, 10.0f), &world.sectors, &jukebox);
    EXPECT_EQ(ambiance.GetCurrentSector(SectorDataManager::SECTOR_AMBIENT), world.ids[1]);
    jukebox.Update(0);
    SoundStream* east = jukebox.GetMusicStream();
    ASSERT_NE(east, nullptr);
    ASSERT_NE(east, west);
    EXPECT_EQ(jukebox.GetNumFadingStreams(), 1);
    jukebox.Update(1500);
    EXPECT_NEAR(jukebox.GetStreamGain(west), 0.5f, 0.01f);
    EXPECT_NEAR(jukebox.GetStreamGain(east), 0.5f, 0.01f);
    audio.Render(30);
    EXPECT_TRUE(east->HasStarted());
    jukebox.Update(1600);
    EXPECT_EQ(jukebox.GetNumFadingStreams(), 0) << "the old music is closed once silent";
    EXPECT_FLOAT_EQ(jukebox.GetStreamGain(east), 1.0f);
    EXPECT_EQ(audio.sound->GetNumStreams(), 1);

    // Leaving for ground of no ambient sector keeps the music; the boss corner marks a boss area.
    ambiance.Update(10, world.At(100.0f, 100.0f), &world.sectors, &jukebox); // clamps to the corner
    EXPECT_TRUE(ambiance.IsInBossArea());
    EXPECT_TRUE(jukebox.IsBossArea());
    jukebox.Update(10);
    EXPECT_EQ(jukebox.GetMusicStream(), east);
    ambiance.Update(10, WorldVec3(), &world.sectors, &jukebox);
    EXPECT_FALSE(ambiance.IsInBossArea());
    EXPECT_TRUE(ambiance.GetCurrentSector(SectorDataManager::SECTOR_AMBIENT).IsNull());
    jukebox.Update(10);
    EXPECT_EQ(jukebox.GetMusicStream(), east);

    jukebox.Clean();
    EXPECT_EQ(jukebox.GetMusicStream(), nullptr);
    EXPECT_EQ(audio.sound->GetNumStreams(), 0);
}

TEST(AmbianceTest, EventMusicPlaysOnceOverTheMusic)
{
    GAME::Test::SoundFiles files;
    ASSERT_TRUE(files.PutTone("Music/Loop.ogg", 1.0f, 330.0f, 1, DataKit::SoundWriter::FORMAT_OGG));
    ASSERT_TRUE(files.PutTone("Music/Fanfare.wav", 0.2f, 660.0f));
    GAME::Test::LoopbackSound audio;
    ASSERT_TRUE(audio.initialized);
    Jukebox jukebox;
    jukebox.SetSoundManager(audio.sound.get());
    jukebox.SetMusicPlaylist("Music/Loop.ogg");
    jukebox.Update(5000);
    jukebox.Update(5000);
    SoundStream* music = jukebox.GetMusicStream();
    ASSERT_NE(music, nullptr);
    EXPECT_FLOAT_EQ(jukebox.GetStreamGain(music), 1.0f);

    jukebox.PlayEventMusic("Music/Fanfare.wav");
    jukebox.Update(0);
    ASSERT_NE(jukebox.GetEventStream(), nullptr);
    jukebox.Update(1500);
    EXPECT_NEAR(jukebox.GetStreamGain(music), 0.5f, 0.01f) << "the music fades under the event";
    for (int i = 0; i < 100 && jukebox.GetEventStream(); ++i) {
        audio.Render(20);
        jukebox.Update(20);
    }
    EXPECT_EQ(jukebox.GetEventStream(), nullptr) << "played once, then gone";
    jukebox.Update(5000);
    EXPECT_FLOAT_EQ(jukebox.GetStreamGain(music), 1.0f) << "and the music back";
    EXPECT_EQ(jukebox.GetMusicStream(), music);
    jukebox.Clean();
}

TEST(AmbianceTest, NightLightsFollowTheTimeOfDay)
{
    DayNightManager* dayNight = DayNightManager::Get();
    dayNight->Enable(true);
    AmbianceManager ambiance;
    const float sunrise = dayNight->GetSunrise(), sunset = dayNight->GetSunset();
    auto at = [&](float hours) {
        dayNight->SetTime(hours);
        ambiance.Update(0, WorldVec3(), nullptr, nullptr);
        return ambiance.GetNightLightScale();
    };
    EXPECT_FLOAT_EQ(at((sunrise + sunset) / 2.0f), 0.0f);
    EXPECT_FLOAT_EQ(ambiance.GetShadowIntensity(), 0.0f);
    EXPECT_NEAR(at(sunset), 0.5f, 0.02f);
    EXPECT_FLOAT_EQ(at(sunset + 1.0f), 1.0f);
    EXPECT_FLOAT_EQ(ambiance.GetShadowIntensity(), 1.0f);
    EXPECT_NEAR(at(sunrise + 0.25f), 0.25f, 0.02f);
    dayNight->Enable(false);
    ambiance.Update(0, WorldVec3(), nullptr, nullptr);
    EXPECT_FLOAT_EQ(ambiance.GetNightLightScale(), 1.0f) << "night lights as placed";
    dayNight->Enable(true);
    EXPECT_FLOAT_EQ(ambiance.GetLightColor(AmbianceManager::ENVIRONMENT_OUTDOORS).r, 1.0f);
    DayNightManager::Destroy();
}

} // namespace
} // namespace GAME
