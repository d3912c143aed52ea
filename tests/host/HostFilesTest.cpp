// What the sample host writes into its run folder when the disk is full: a screenshot it could not
// write leaves no file (an earlier run's picture at its path stays as it was) and the user reads
// why; every file the run could not write, its log file too, is counted with the first reason for
// the one line on standard error that ends a failed run. log.html is a whole document after every
// row, and on a full disk holds whole rows only, then why it stops where that fits, then its end.
#include "HostOutput.h"
#include "HostView.h"

#include "common/FullDisk.h"
#include "common/SpecialFiles.h"
#include "world/EngineFixture.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <sstream>
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

TEST_F(HostFilesTest, TheLogOnAFullDiskHoldsWholeRowsThenWhyItStopsWhereThatFitsThenItsEnd)
{
    const std::string header = "<html>\n<b>the engine's header</b><br>\n<hr><p>\n";
    const std::string end = "</pre>\n</font>\n</html>\n";
    auto endsWith = [](const std::string& text, const std::string& tail) {
        return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
    };

    // Room enough: the document is ended after every row, before any close (a run killed
    // between two rows leaves it whole).
    {
        ASSERT_TRUE(dir.Write("whole/log.html", header));
        SampleHost::HostOutput out;
        ASSERT_TRUE(out.OpenLogFile(dir.File("whole/log.html")));
        out.LogOnly("first row");
        out.LogOnly("a <tagged> row", SampleHost::HostOutput::STYLE_WARNING);
        EXPECT_EQ(dir.Read("whole/log.html"),
                  header + "<pre>\nfirst row\n<font color=\"#c05000\">a &lt;tagged&gt; row</font>\n" + end);
        EXPECT_TRUE(out.CloseLogFile());
        EXPECT_TRUE(endsWith(dir.Read("whole/log.html"), "row</font>\n" + end));
        EXPECT_EQ(out.DescribeNotWritten(), "");
    }

    // Then full disks of three sizes: the row that did not fit leaves nothing of itself; the row
    // saying why goes in when there is room for it and the end, a shorter one when only that
    // fits, the end alone when not even that does.
    const std::string why = "<font color=\"#c05000\">EngineHost: log.html stops here: No space left on "
                            "device; the run's later lines were printed only</font>";
    const std::string shortWhy = "<font color=\"#c05000\">stops: No space left on device</font>";
    const struct
    {
        int room;
        std::string last; // the last row, empty for none
        size_t rows;      // the rows that fit before it
    } disks[] = {{400, why, 5}, {120, shortWhy, 1}, {60, "", 0}};
    for (const auto& disk : disks) {
        SCOPED_TRACE(disk.room);
        const std::string name = "full" + std::to_string(disk.room) + "/log.html";
        ASSERT_TRUE(dir.Write(name, header));
        SampleHost::HostOutput out;
        ASSERT_TRUE(out.OpenLogFile(dir.File(name)));
        std::vector<std::string> rows;
        {
            GAME::Test::FullDisk full(disk.room);
            for (int i = 0; i < 40; ++i) {
                // 47 bytes a row, and the end's 23 with it.
                rows.push_back("row " + std::to_string(i % 10) + " of the run, long enough to fill the disk");
                out.LogOnly(rows.back());
            }
        }
        out.LogOnly("a row after the disk has room again");
        EXPECT_FALSE(out.IsLogFileOpen());
        EXPECT_EQ(out.GetLogFileStop(), "No space left on device");
        EXPECT_FALSE(out.CloseLogFile());

        const std::string text = dir.Read(name);
        ASSERT_EQ(text.compare(0, header.size() + 6, header + "<pre>\n"), 0) << text;
        ASSERT_TRUE(endsWith(text, end)) << text;
        std::istringstream lines(
            text.substr(header.size() + 6, text.size() - header.size() - 6 - end.size()));
        std::vector<std::string> kept;
        for (std::string line; std::getline(lines, line);)
            kept.push_back(line);
        std::vector<std::string> expected(rows.begin(),
                                          rows.begin() + static_cast<std::ptrdiff_t>(disk.rows));
        if (!disk.last.empty())
            expected.push_back(disk.last);
        EXPECT_EQ(kept, expected) << text;
        EXPECT_EQ(out.DescribeNotWritten(),
                  "1 file could not be written (" + dir.File(name) + ": No space left on device)");
    }

    // A real disk that fills: the room taken ahead holds the row saying why, the disk's reason.
    ASSERT_TRUE(dir.Write("disk/log.html", ""));
    const std::string mounts = GAME::Test::RunWithOwnMounts([&] {
        ASSERT_EQ(GAME::Test::MountSmallDisk(dir.File("disk"), 256 * 1024), "");
        ASSERT_TRUE(dir.Write("disk/log.html", header));
        SampleHost::HostOutput out;
        ASSERT_TRUE(out.OpenLogFile(dir.File("disk/log.html")));
        EXPECT_FALSE(dir.Write("disk/filler", std::string(512 * 1024, 'x')));
        for (int i = 0; i < 2000 && out.IsLogFileOpen(); ++i)
            out.LogOnly("a row of the run on a disk that filled");
        EXPECT_EQ(out.GetLogFileStop(), "No space left on device");
        EXPECT_TRUE(endsWith(dir.Read("disk/log.html"), why + "\n" + end)) << out.GetLogFileStop();
    });
    if (!mounts.empty())
        GTEST_SKIP() << mounts;
}

} // namespace
} // namespace GAME
