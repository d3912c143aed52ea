// The host's record of level loads and the main thread's waits for them, and the summary's lines
// made from it: each load is one record from its ask to its arrival whichever lines come first,
// and the summary counts the waits, adds up their time, names their levels and gives each the
// cause its times point to; the flight's lines say only what happened. Times here are made up:
// nothing is measured.
#include "FlightSummary.h"
#include "LevelLoadTimes.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace SampleHost {
namespace {

using Load = LevelLoadTimes::Load;
using Wait = LevelLoadTimes::Wait;

Load FlightLoad(const std::string& level, double asked, double arrived)
{
    Load load;
    load.level = level;
    load.asked = asked;
    load.askedPath = asked;
    load.begun = asked + 1.0;
    load.ended = arrived - 1.0;
    load.arrived = arrived;
    return load;
}

Wait WaitFor(const std::string& level, double began, double arrived, LevelLoadTimes::Need need)
{
    return Wait{level, began, arrived,
                began, need,  "at " + std::to_string(static_cast<int>(began)) + " ms of path"};
}

std::string Joined(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    return text;
}

TEST(LevelWaitSummaryTest, EachLoadIsOneRecordFromItsAskToItsEnd)
{
    LevelLoadTimes times;
    // Asked for, then read: one record (a second would lose its end to the first).
    times.Ask("Levels/Generated/Field_5_5.lvl", 100.0, 4000.0);
    times.LoadBegan("Levels/Generated/Field_5_5.lvl", 130.0);
    // Read before the host saw it asked for (asked for in the update, begun before the host looked):
    // the ask joins the load under way.
    times.LoadBegan("Levels/Generated/Field_4_5.lvl", 140.0);
    times.Ask("Levels/Generated/Field_4_5.lvl", 150.0, 4050.0);
    times.LoadEnded("Levels/Generated/Field_4_5.lvl", 160.0);
    times.LoadEnded("Levels/Generated/Field_5_5.lvl", 170.0);
    // A later load of the same level is a record of its own.
    times.Ask("Levels/Generated/Field_5_5.lvl", 900.0, 9000.0);

    const std::vector<Load> loads = times.GetLoads();
    ASSERT_EQ(loads.size(), 3u);
    EXPECT_EQ(loads[0].level, "Levels/Generated/Field_5_5.lvl");
    EXPECT_EQ(loads[0].asked, 100.0);
    EXPECT_EQ(loads[0].begun, 130.0);
    EXPECT_EQ(loads[0].ended, 170.0);
    EXPECT_EQ(loads[1].level, "Levels/Generated/Field_4_5.lvl");
    EXPECT_EQ(loads[1].begun, 140.0);
    EXPECT_EQ(loads[1].ended, 160.0);
    EXPECT_EQ(loads[2].asked, 900.0);
    EXPECT_LT(loads[2].begun, 0.0);
}

TEST(LevelWaitSummaryTest, TheSummaryCountsTheWaitsAndSaysWhyEachLevelCameLate)
{
    // The flight's usual load: 100 ms from its ask to in (the median of five).
    std::vector<Load> loads = {FlightLoad("Levels/Generated/Field_0_4.lvl", 0.0, 90.0),
                               FlightLoad("Levels/Generated/Field_2_5.lvl", 1000.0, 1100.0),
                               FlightLoad("Levels/Generated/Field_3_5.lvl", 2000.0, 2100.0)};

    // None: said so, that the user need not wonder.
    const std::vector<std::string> none = DescribeLevelWaits(loads, {}, 120.0f);
    ASSERT_EQ(none.size(), 1u);
    EXPECT_NE(none[0].find("waited for no level"), std::string::npos);

    // Asked for 300 ms (36 units of path) before it was needed, in 400 ms after its ask: a usual
    // load would have been in, so this one was slow.
    loads.push_back(FlightLoad("Levels/Generated/Field_5_5.lvl", 3000.0, 3400.0));
    // Asked for 20 ms before the view drew it, in 90 ms after: the camera outran the loading thread.
    loads.push_back(FlightLoad("Levels/Generated/Field_4_5.lvl", 5000.0, 5090.0));
    std::vector<Wait> waits = {
        WaitFor("Levels/Generated/Field_5_5.lvl", 3300.0, 3400.0, LevelLoadTimes::NEED_UPDATE),
        WaitFor("Levels/Generated/Field_4_5.lvl", 5020.0, 5090.0, LevelLoadTimes::NEED_DRAWING)};
    std::vector<std::string> lines = DescribeLevelWaits(loads, waits, 120.0f);
    ASSERT_EQ(lines.size(), 3u) << Joined(lines);
    EXPECT_EQ(lines[0],
              "the main thread waited for 2 levels still loading on their threads, 170 ms in all: "
              "Field_5_5 100 ms at 3300 ms of path, for the world's update; Field_4_5 70 ms at 5020 ms of "
              "path, for the view's drawing");
    EXPECT_EQ(
        lines[1].rfind(
            "Field_5_5 came late: its load was asked for 300 ms before it was needed (with the camera 36 "
            "units back along its path)",
            0),
        0u)
        << lines[1];
    EXPECT_NE(lines[1].find("took 4.0 times that, the machine busy"), std::string::npos) << lines[1];
    EXPECT_EQ(lines[1].find("reach"), std::string::npos) << lines[1];
    EXPECT_NE(
        lines[2].find("the camera came within the view's reach of it (55 units, or 2 doorways) less than a "
                      "load's time before the view drew it"),
        std::string::npos)
        << lines[2];
    EXPECT_EQ(lines[2].find("busy"), std::string::npos) << lines[2];

    // One wait, needed by the world's update soon after its ask, and slow too: both causes; the
    // count in the singular.
    waits = {WaitFor("Levels/Generated/Field_5_5.lvl", 3050.0, 3400.0, LevelLoadTimes::NEED_UPDATE)};
    lines = DescribeLevelWaits(loads, waits, 120.0f);
    ASSERT_EQ(lines.size(), 2u) << Joined(lines);
    EXPECT_EQ(
        lines[0].rfind("the main thread waited for 1 level still loading on its thread, 350 ms in all: ", 0),
        0u)
        << lines[0];
    EXPECT_NE(lines[1].find("the world's update (the entities of the levels round the view) needed it less than a "
                           "load's time after the view's reach"),
              std::string::npos)
        << lines[1];
    EXPECT_NE(lines[1].find("and this load took 4.0 times the usual, the machine busy too"),
              std::string::npos)
        << lines[1];

    // Needed a little after a usual load's time, by a load a little slower than usual: neither the
    // camera's speed alone nor a busy machine, and said so.
    loads.push_back(FlightLoad("Levels/Generated/Field_3_4.lvl", 7000.0, 7150.0));
    waits = {WaitFor("Levels/Generated/Field_3_4.lvl", 7120.0, 7150.0, LevelLoadTimes::NEED_DRAWING)};
    lines = DescribeLevelWaits(loads, waits, 120.0f);
    ASSERT_EQ(lines.size(), 2u) << Joined(lines);
    EXPECT_NE(
        lines[1].find("came within the view's reach of it (55 units, or 2 doorways) about a load's time "
                      "before the view drew it, and this load took a little longer than usual (1.5 times)"),
        std::string::npos)
        << lines[1];
    EXPECT_EQ(lines[1].find("busy"), std::string::npos) << lines[1];

    // A wait for a level whose load was in before it (its render data alone loading) is not
    // blamed on that load.
    waits = {WaitFor("Levels/Generated/Field_0_4.lvl", 500.0, 520.0, LevelLoadTimes::NEED_DRAWING)};
    lines = DescribeLevelWaits(loads, waits, 120.0f);
    ASSERT_EQ(lines.size(), 2u) << Joined(lines);
    EXPECT_NE(lines[1].find("its render data alone was loading"), std::string::npos) << lines[1];
}

TEST(LevelWaitSummaryTest, TheFlightsSummarySaysOnlyWhatHappened)
{
    // 300 fixed frames over a 20 s path in 4 s, then in 40 s (one frame, and what the levels came
    // in for: the host's own test).
    FlightFacts flight{300, 300, 20.0f, 20.0f, true, 4.0, 0, 0.0, 4000};
    EXPECT_EQ(DescribeFlight(flight)[2],
              "  flight time         4000 ms: 75.0 frames a second, 5.0 times as fast as real time");
    flight.seconds = 40.0;
    EXPECT_EQ(DescribeFlight(flight)[2], "  flight time         40000 ms: 7.5 frames a second, slower than "
                                         "real time (20000 ms of path in them)");

    // None loaded (a run cut short before any came in) names no thread and no wait.
    EXPECT_EQ(DescribeLevels(LevelFacts(), {}, {}, 120.0f),
              std::vector<std::string>{"  levels              none loaded"});
}

} // namespace
} // namespace SampleHost
