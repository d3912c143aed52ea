// The sample host's output: where its closing lines say the run's lines are kept must be where
// they are, log.html only while the output writes it.
#include "HostOutput.h"

#include "common/TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>

namespace SampleHost {
namespace {

TEST(HostOutputTest, TheRunsEndNamesLogHtmlOnlyWhileItHoldsTheLines)
{
    GAME::Test::TempDir dir;
    const std::string logLine = "  log file            log.html";

    HostOutput written;
    ASSERT_TRUE(written.OpenLogFile(dir.File("log.html")));
    const std::string withLog = DescribeRunEnd(written, 88, 2, 0, false);
    EXPECT_NE(withLog.find("\n" + logLine), std::string::npos) << withLog;
    EXPECT_NE(withLog.find("are in log.html"), std::string::npos) << withLog;

    // Without a log file: the engine could not open it (the host goes without), or the host's own
    // stream could not (a folder stands at its path).
    HostOutput without;
    without.GoWithoutLogFile();
    ASSERT_TRUE(std::filesystem::create_directory(dir.File("blocked.html")));
    HostOutput refused;
    EXPECT_FALSE(refused.OpenLogFile(dir.File("blocked.html")));
    for (const HostOutput* output : {&without, &refused}) {
        for (const bool verbose : {false, true}) {
            const std::string end = DescribeRunEnd(*output, 88, 2, 0, verbose);
            EXPECT_EQ(end.find(logLine), std::string::npos) << end;
            EXPECT_EQ(end.find("in log.html"), std::string::npos) << end;
            EXPECT_NE(end.find("  log file            none"), std::string::npos) << end;
        }
    }
}

} // namespace
} // namespace SampleHost
