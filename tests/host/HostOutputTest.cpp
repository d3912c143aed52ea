// The sample host's output: where its closing lines say the run's lines are kept must be where
// they are, log.html only while the output writes it; a run that could not write a file fails
// with one line on standard error; the command line, Ctrl-C and a run folder in use end a run as
// they say.
#include "HostOutput.h"
#include "HostEngine.h"
#include "HostInterrupt.h"
#include "HostOptions.h"
#include "HostRunFolder.h"
#include "HostWindow.h"

#include "common/SpecialFiles.h"
#include "common/TempDir.h"
#include "platform/PlatformFile.h"
#include "platform/SystemInfo.h"

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

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
    EXPECT_EQ(refused.DescribeNotWritten(),
              "1 file could not be written (" + dir.File("blocked.html") + ": Is a directory)");
    for (const HostOutput* output : {&without, &refused}) {
        for (const bool verbose : {false, true}) {
            const std::string end = DescribeRunEnd(*output, 88, 2, 0, verbose);
            EXPECT_EQ(end.find(logLine), std::string::npos) << end;
            EXPECT_EQ(end.find("in log.html"), std::string::npos) << end;
            EXPECT_NE(end.find("  log file            none"), std::string::npos) << end;
        }
    }

    // Stopped on a full disk: the lines before are there, the later ones not.
    HostOutput full;
    ASSERT_TRUE(full.OpenLogFile("/dev/full"));
    const std::string cut = DescribeRunEnd(full, 88, 2, 0, false);
    EXPECT_NE(cut.find("  log file            log.html, cut short (No space left on device)"),
              std::string::npos)
        << cut;
    EXPECT_NE(cut.find("in log.html as far as it goes"), std::string::npos) << cut;
}

TEST(HostOutputTest, AFileTheRunCouldNotWriteFailsItWithOneLineOnStandardError)
{
    struct Case
    {
        int result;
        std::vector<std::string> notWritten;
        int exitCode;
        std::string error; // all of standard error
    };
    const Case cases[] = {
        {0, {}, 0, ""},
        {0,
         {"run/Settings/options.txt"},
         1,
         "EngineHost: 1 file could not be written (run/Settings/options.txt: Is a directory)\n"},
        {0,
         {"run/screenshot_01.png", "run/log.html"},
         1,
         "EngineHost: 2 files could not be written (the first, run/screenshot_01.png: Is a directory)\n"},
        {130,
         {"run/log.html"},
         130,
         "EngineHost: 1 file could not be written (run/log.html: Is a directory)\n"},
        // A client that ran alone and could not write a file: the failure's 1 over the session's 3.
        {exitCodeRanAlone,
         {"run/log.html"},
         1,
         "EngineHost: 1 file could not be written (run/log.html: Is a directory)\n"},
    };
    for (const Case& c : cases) {
        HostOutput output;
        output.GoWithoutLogFile();
        for (const std::string& path : c.notWritten)
            output.NoteNotWritten(path, "Is a directory");
        testing::internal::CaptureStderr();
        const int exitCode = FinishRun(output, c.result);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.error);
        EXPECT_EQ(exitCode, c.exitCode);
    }
}

TEST(HostOutputTest, ACountTooLargeIsRefusedAsTheFrameCountItIs)
{
    auto parse = [](std::vector<const char*> words, HostOptions& options, std::string& error) {
        words.insert(words.begin(), "EngineHost");
        return ParseHostOptions(static_cast<int>(words.size()), words.data(), options, error);
    };
    HostOptions options;
    std::string error;
    // As scripts/demo passes it: its run folder, then the user's one word.
    EXPECT_FALSE(parse({"build-demo/host-run", "99999999999999999999"}, options, error));
    EXPECT_EQ(error, "the frame count \"99999999999999999999\" is out of range: at most 2147483647");
    EXPECT_FALSE(parse({"2147483648", "run"}, options, error));
    EXPECT_EQ(error, "the frame count \"2147483648\" is out of range: at most 2147483647");
    // The largest count, and a folder of digits given as such.
    HostOptions largest;
    EXPECT_TRUE(parse({"2147483647", "./300"}, largest, error)) << error;
    EXPECT_EQ(largest.frames, 2147483647);
    EXPECT_EQ(largest.folder, "./300");
}

// In a child process, as in a run's start-up: the log file opens before anything else, the first
// signal asks the run to end (the window's frame says so from then on), the second ends the
// process at once with the first one's code. log.html is then a whole document holding every line
// printed, the one printed before it opened too.
TEST(HostOutputTest, CtrlCEndsTheRunAtTheNextFrameAndASecondOneAtOnceWithTheFirstsCodeAndAWholeLog)
{
    const std::string end = "</pre>\n</font>\n</html>\n";
    for (const auto& [first, second] : {std::pair{SIGINT, SIGINT}, std::pair{SIGTERM, SIGINT}}) {
        SCOPED_TRACE(first);
        GAME::Test::TempDir dir;
        EXPECT_EXIT(
            {
                HostOutput output;
                HostLogSink lines(output, false);
                HostEngine engine(output, lines);
                engine.SetLogPath(dir.File("log.html"));
                HostWindow window(output);
                CatchInterrupts();
                output.Printf("a line before the log file opened");
                engine.StartLogFile();
                const bool before = window.Frame();
                std::raise(first);
                const bool after = window.Frame() || window.Frame();
                output.Errorf("frames: %d %d; %s", before, after, window.GetEnded().c_str());
                std::raise(second);
                std::_Exit(0);
            },
            testing::ExitedWithCode(128 + first),
            first == SIGINT ? "frames: 1 0; interrupted \\(Ctrl-C, SIGINT\\)"
                            : "frames: 1 0; interrupted \\(SIGTERM\\)");
        const std::string log = dir.Read("log.html");
        EXPECT_NE(log.find("a line before the log file opened\n"), std::string::npos) << log;
        EXPECT_NE(log.find(first == SIGINT ? "interrupted (Ctrl-C, SIGINT); the run ends"
                                           : "interrupted (SIGTERM)"),
                  std::string::npos)
            << log;
        EXPECT_NE(log.find("frames: 1 0;"), std::string::npos) << log;
        ASSERT_GE(log.size(), end.size());
        EXPECT_EQ(log.substr(log.size() - end.size()), end) << log;
    }
    // Each line is in log.html before the console has it: a process that ends between the two
    // (here at the console's write, its reader gone) leaves no printed line out of the file.
    GAME::Test::TempDir dir;
    ASSERT_TRUE(dir.Write("log.html", "<html>\n"));
    EXPECT_EXIT(
        {
            HostOutput output;
            if (output.OpenLogFile(dir.File("log.html")) && GAME::Test::EndOnStandardOutput().empty())
                output.Printf("a line the console never took");
            std::_Exit(0);
        },
        testing::KilledBySignal(SIGPIPE), "");
    EXPECT_NE(dir.Read("log.html").find("a line the console never took\n"), std::string::npos);
}

// A run folder a live run holds is refused at once with the reason, the holder named; one whose
// run was killed is free, though its lock file is still there. A lock file another user's run
// left, read-only to the runs of a user sharing the folder, holds none of them back and lets none
// in beside another; a used folder nothing can be written into is refused for that at once.
TEST(HostOutputTest, ARunFolderInUseIsRefusedAndOneAKilledRunLeftIsNot)
{
    GAME::Test::TempDir dir;
    const std::string folder = dir.File("run");
    HostOutput output;
    output.GoWithoutLogFile();
    std::string why;
    {
        RunFolder live;
        ASSERT_TRUE(live.Take(folder, output, why)) << why;
        RunFolder second;
        EXPECT_FALSE(second.Take(folder, output, why));
        EXPECT_EQ(why, "another run is using it (EngineHost, process " +
                           std::to_string(GAME::Platform::GetCurrentProcessId()) +
                           "); a run needs a folder of its own");
    }
    EXPECT_EXIT(
        {
            RunFolder killed;
            std::string reason;
            if (killed.Take(folder, output, reason))
                std::raise(SIGKILL);
            std::_Exit(1);
        },
        testing::KilledBySignal(SIGKILL), "");
    EXPECT_TRUE(GAME::Platform::FileExists(folder + "/" + RunFolder::lockName));
    RunFolder next;
    EXPECT_TRUE(next.Take(folder, output, why)) << why;
    EXPECT_EQ(output.DescribeNotWritten(), "");

    namespace fs = std::filesystem;
    const std::string shared = dir.File("shared");
    const std::string ended = "EngineHost, process " + std::to_string(GAME::Test::EndedProcessId()) + "\n";
    ASSERT_TRUE(dir.Write("shared/" + std::string(RunFolder::lockName), ended));
    fs::permissions(dir.Path(), fs::perms::others_exec, fs::perm_options::add);
    fs::permissions(shared, fs::perms::all);
    fs::permissions(shared + "/" + RunFolder::lockName, fs::perms::owner_read | fs::perms::owner_write |
                                                            fs::perms::group_read | fs::perms::others_read);
    const std::string asNobody = GAME::Test::RunAsUser(65534, 65534, [&] {
        RunFolder first, second;
        std::string reason;
        EXPECT_TRUE(first.Take(shared, output, reason)) << reason;
        EXPECT_FALSE(second.Take(shared, output, reason));
        // The ended run's name is no one's.
        EXPECT_EQ(reason, "another run is using it; a run needs a folder of its own");
    });
    next.Release();
    const std::string withMounts = GAME::Test::RunWithOwnMounts([&] {
        ASSERT_EQ(GAME::Test::MountFileOver(folder, folder, true), "");
        RunFolder readOnly;
        EXPECT_FALSE(readOnly.Take(folder, output, why));
        EXPECT_EQ(why, "nothing can be written into it (Read-only file system)");
    });
    if (!asNobody.empty() || !withMounts.empty())
        GTEST_SKIP() << asNobody << " " << withMounts;
}

} // namespace
} // namespace SampleHost
