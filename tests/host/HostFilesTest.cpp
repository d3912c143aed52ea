// What the sample host writes into its run folder when the disk is full: a screenshot it could not
// write leaves no file (an earlier run's picture at its path stays as it was) and the user reads
// why; every file the run could not write, its log file too, is counted with the first reason for
// the one line on standard error that ends a failed run.
#include "HostOutput.h"
#include "HostView.h"

#include "common/FullDisk.h"
#include "world/EngineFixture.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace GAME {
namespace {

class HostFilesTest : public Test::EngineTest
{
};

TEST_F(HostFilesTest, WhatTheRunCouldNotWriteLeavesNoFileAndIsCountedWithItsReason)
{
    GAME::Test::TestEngine& e = Start();
    World* world = e.GetWorld();
    ASSERT_NE(world, nullptr);
    Region* region = world->GetRegion(
        world->AddRegion("levels/crypt.lvl", IntVec3(), ABBox(Vec3(0, 0, 0), Vec3(10, 4, 10)), RegionId()));
    ASSERT_NE(region, nullptr);
    const std::string earlier = "an earlier run's picture";
    ASSERT_TRUE(dir.Write("run/screenshot_01_crypt.png", earlier));
    const std::string folder = dir.File("run");

    SampleHost::HostOutput out;
    std::vector<std::string> printed;
    {
        SampleHost::HostView view(
            e, [&printed](const std::string& line) { printed.push_back(line); }, folder);
        view.SetNotWritten(
            [&out](const std::string& path, const std::string& reason) { out.NoteNotWritten(path, reason); });
        GAME::Test::FullDisk disk(100);
        for (int i = 0; i < SampleHost::HostView::screenshotDelay; ++i)
            view.MaybeScreenshot(region);
        // Taken, written by the view's writer, and waited for.
        EXPECT_TRUE(view.FinishScreenshot());
        EXPECT_TRUE(view.GetScreenshots().empty());
    }
    // (Not EXPECT_EQ: a picture in the message would be megabytes long.)
    EXPECT_TRUE(dir.Read("run/screenshot_01_crypt.png") == earlier) << "the earlier picture was overwritten";
    EXPECT_EQ(GAME::Test::FolderNames(folder), std::vector<std::string>{"screenshot_01_crypt.png"});
    const std::string said =
        "EngineHost: could not write " + folder + "/screenshot_01_crypt.png: No space left on device";
    EXPECT_NE(std::find(printed.begin(), printed.end(), said), printed.end());

    // The log file on a full device: counted once, after the picture, however many rows failed.
    ASSERT_TRUE(out.OpenLogFile("/dev/full"));
    out.LogOnly("a row");
    out.LogOnly("another row");
    EXPECT_FALSE(out.CloseLogFile());
    EXPECT_EQ(out.DescribeNotWritten(), "2 files could not be written (the first, " + folder +
                                            "/screenshot_01_crypt.png: No space left on device)");
}

} // namespace
} // namespace GAME
