#include "common/LogCapture.h"

#include "core/Object.h"
#include "sound/AmbientSession.h"
#include "sound/BossMusicSession.h"
#include "sound/EventMusicSession.h"
#include "sound/MusicSession.h"
#include "sound/SoundDescriptor.h"
#include "sound/SoundManager.h"
#include "sound/SoundPak.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <string>

namespace GAME {
namespace {

TEST(SoundManagerTest, ReportsThatThereIsNoDeviceAndStaysSafeToUse)
{
    GAME::Test::LogCapture log;
    SoundManager sound(nullptr);
    EXPECT_FALSE(sound.Initialize(1));
    EXPECT_FALSE(sound.IsInitialized());
    EXPECT_TRUE(log.Contains("sound is off"));

    // Every per-frame and playing call still works on a manager that never initialised.
    sound.Play3D(SoundDescriptor("Sounds/Door.wav"), true);
    sound.Update();
    sound.UnloadUnreferencedResources();
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    sound.WriteResourceLog(file);
    std::rewind(file);
    char line[64] = {};
    ASSERT_NE(std::fgets(line, sizeof(line), file), nullptr);
    EXPECT_EQ(std::string(line), "Sounds\n");
    std::fclose(file);
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
