#include "common/LogCapture.h"
#include "world/GameInfo.h"
#include "world/Tracker.h"

#include <gtest/gtest.h>

namespace GAME {
namespace {

TEST(GameInfo, KeepsItsLimitsAndConvertsWideText)
{
    GameInfo info;
    EXPECT_EQ(info.GetGameName(), "Marrowdeep Server");
    info.SetGameName(std::u16string(50, u'x'));
    EXPECT_EQ(info.GetGameName(), std::string(39, 'x'));
    info.SetPlayerName(u"Hero");
    std::u16string wide;
    info.GetPlayerName(wide);
    EXPECT_EQ(wide, u"Hero");

    EXPECT_EQ(info.GetMinLevel(), 1u);
    EXPECT_EQ(info.GetMaxLevel(), 6u);
    info.SetPlayerLevel(63);
    EXPECT_EQ(info.GetMinLevel(), 58u);
    EXPECT_EQ(info.GetMaxLevel(), 65u);
    info.SetPlayerLevel(6);
    EXPECT_EQ(info.GetMinLevel(), 1u); // 6 - 5 is below 2

    info.SetIsMultiPlayer(true);
    EXPECT_FALSE(info.GetIsSinglePlayer());
    info.AddPlayer(u"a");
    info.AddPlayer(u"b");
    info.AddPlayer(u"a");
    info.RemovePlayer(u"a");
    info.RemovePlayer(u"absent");
    EXPECT_EQ(info.GetPlayers(), (std::vector<std::u16string>{u"b", u"a"}));
    const GameInfo copy = info;
    EXPECT_EQ(copy.GetPlayers().size(), 2u);
}

TEST(Tracker, KeepsKindsApartAndResetsOnlyTheFrameStatistics)
{
    GAME::Test::LogCapture log;
    Tracker tracker;
    tracker.IncrementInt("Game", "kills");
    EXPECT_EQ(tracker.GetInt("Game", "kills"), 1);
    tracker.DecrementInt("Game", "lives");
    EXPECT_EQ(tracker.GetInt("Game", "lives"), -1);

    tracker.SetReal("Game", "kills", 2.5f);
    EXPECT_TRUE(
        log.Contains("Tracker::SetReal has encountered an invalid type for property (Game, kills)", 1));
    EXPECT_EQ(tracker.GetInt("Game", "kills"), 1);
    EXPECT_EQ(tracker.GetReal("Game", "kills"), 0.0f);
    EXPECT_TRUE(log.Contains("Tracker::GetReal has encountered an invalid type", 1));

    log.Clear();
    EXPECT_EQ(tracker.GetString("Game", "missing"), "");
    EXPECT_EQ(log.Count(), 0u);

    for (int value : {3, 1, 4})
        tracker.PushInt("FrameStats", "draws", value);
    tracker.PushReal("Game", "speeds", 0.5f);
    tracker.PushReal("Game", "speeds", 1.0f / 3.0f);
    EXPECT_EQ(tracker.GetText("FrameStats", "draws"), "3,1,4");
    EXPECT_EQ(tracker.GetText("Game", "speeds"), "0.5,0.333333");
    EXPECT_EQ(tracker.GetInt("FrameStats", "draws", 2), 4);
    EXPECT_EQ(tracker.GetInt("FrameStats", "draws", 3), 0); // past the end

    tracker.SetInt("FrameStats", "frames", 9);
    tracker.Update(16);
    EXPECT_EQ(tracker.GetInt("FrameStats", "frames"), 0);
    EXPECT_EQ(tracker.GetText("FrameStats", "draws"), "");
    EXPECT_EQ(tracker.GetInt("Game", "kills"), 1);
}

} // namespace
} // namespace GAME
