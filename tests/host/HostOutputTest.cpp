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
#include "platform/FileLock.h"
#include "platform/PlatformFile.h"
#include "platform/SystemInfo.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <thread>
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
    // A number right after --server is its port, not the frame count.
    HostOptions server;
    EXPECT_TRUE(parse({"--server", "300", "run"}, server, error)) << error;
    EXPECT_EQ(server.network.port, 300);
    EXPECT_EQ(server.frames, 0);
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

// A run folder a live run holds is refused at once with the reason, the holder named where the
// system's lock table says so, never by a number a lock file or an ended process left. One whose
// run was killed is free, though its lock file is still there. No leftover at the lock file's name
// (another user's file, readable or not, a folder, a link) holds a run back, lets one in beside
// another or takes the holder's name; a folder nothing can be written into is refused for that,
// held or not. Only a file system without locks lets a run go on unheld.
TEST(HostOutputTest, ARunFolderInUseIsRefusedAndOneAKilledRunLeftIsNot)
{
    namespace fs = std::filesystem;
    GAME::Test::TempDir dir;
    const std::string folder = dir.File("run");
    const std::string heldBySelf = ", process " + std::to_string(GAME::Platform::GetCurrentProcessId()) + ")";
    HostOutput output;
    output.GoWithoutLogFile();
    std::string why;
    {
        RunFolder live;
        ASSERT_TRUE(live.Take(folder, output, why)) << why;
        RunFolder second;
        EXPECT_FALSE(second.Take(folder, output, why));
        EXPECT_EQ(why,
                  "another run is using it (EngineHost" + heldBySelf + "; a run needs a folder of its own");
        GAME::Test::StoppedChild bystander([] {}); // named by the lock file, holding nothing
        std::ofstream(folder + "/" + RunFolder::lockName)
            << "EngineHost, process " << bystander.GetPid() << "\n";
        EXPECT_FALSE(second.Take(folder, output, why));
        EXPECT_NE(why.find(heldBySelf), std::string::npos) << why;
    }
    // The table names the process that took the lock, which has ended, its child holding on.
    GAME::Test::StoppedChild parent([&] {
        if ((new RunFolder)->Take(dir.File("orphaned"), output, why))
            dir.Write("orphan", std::to_string((new GAME::Test::StoppedChild([] {}))->GetPid()));
    });
    parent.Kill();
    EXPECT_FALSE(RunFolder().Take(dir.File("orphaned"), output, why));
    EXPECT_EQ(why, "another run is using it; a run needs a folder of its own");
    ::kill(std::atoi(dir.Read("orphan").c_str()), SIGKILL);
    // A folder at the lock file's name: the folder's own lock keeps the second run out. A link
    // there: the file it leads to keeps its bytes.
    ASSERT_TRUE(fs::create_directories(dir.File("mixed/") + RunFolder::lockName));
    RunFolder mixed, linked;
    ASSERT_TRUE(mixed.Take(dir.File("mixed"), output, why)) << why;
    EXPECT_FALSE(RunFolder().Take(dir.File("mixed"), output, why));
    EXPECT_NE(why.find(heldBySelf), std::string::npos) << why;
    ASSERT_TRUE(dir.Write("victim", "the victim's own line\n") && fs::create_directory(dir.File("linked")));
    fs::create_symlink(dir.File("victim"), dir.File("linked/") + RunFolder::lockName);
    EXPECT_TRUE(linked.Take(dir.File("linked"), output, why)) << why;
    EXPECT_EQ(dir.Read("victim"), "the victim's own line\n");
    fs::create_directory_symlink(dir.File("gone"), dir.File("dangling"));
    EXPECT_FALSE(RunFolder().Take(dir.File("dangling/run"), output, why));
    EXPECT_EQ(why,
              "it is below a link to nothing (" + dir.File("dangling") + " to " + dir.File("gone") + ")");
    // No locks: the run goes on unheld, and says so; any other failure to hold refuses it.
    GAME::Platform::SetFileLockRefusal(ENOLCK);
    testing::internal::CaptureStderr();
    EXPECT_TRUE(RunFolder().Take(dir.File("unheld"), output, why)) << why;
    EXPECT_NE(testing::internal::GetCapturedStderr().find("a second run started in it would not be refused"),
              std::string::npos);
    GAME::Platform::SetFileLockRefusal(EIO);
    EXPECT_FALSE(RunFolder().Take(dir.File("unheld"), output, why));
    EXPECT_EQ(why, "it cannot be held for this run: Input/output error");
    GAME::Platform::SetFileLockRefusal(0);
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

    const std::string shared = dir.File("shared");
    const std::string ended = "EngineHost, process " + std::to_string(GAME::Test::EndedProcessId()) + "\n";
    ASSERT_TRUE(dir.Write("shared/" + std::string(RunFolder::lockName), ended));
    fs::permissions(dir.Path(), fs::perms::others_exec, fs::perm_options::add);
    fs::permissions(shared, fs::perms::all);
    std::string asNobody;
    // Readable to the other user, then not even that.
    for (const fs::perms others : {fs::perms::group_read | fs::perms::others_read, fs::perms::none}) {
        fs::permissions(shared + "/" + RunFolder::lockName,
                        fs::perms::owner_read | fs::perms::owner_write | others);
        asNobody += GAME::Test::RunAsUser(65534, 65534, [&] {
            RunFolder first, second;
            std::string reason;
            EXPECT_TRUE(first.Take(shared, output, reason)) << reason;
            EXPECT_FALSE(second.Take(shared, output, reason));
            // The ended run's name is no one's: the holder, another user's process, is named.
            EXPECT_NE(reason.find(heldBySelf), std::string::npos) << reason;
        });
    }
    // Root's run, a process of its own, holds a folder whose lock file nobody may even read.
    fs::create_directory(dir.File("others"));
    fs::permissions(dir.File("others"), fs::perms::all);
    GAME::Test::StoppedChild holder([&] {
        if ((new RunFolder)->Take(dir.File("others"), output, why)) // held until the child is killed
            fs::permissions(dir.File("others/") + RunFolder::lockName,
                            fs::perms::owner_read | fs::perms::owner_write);
    });
    asNobody += GAME::Test::RunAsUser(65534, 65534, [&] {
        std::string reason;
        EXPECT_FALSE(RunFolder().Take(dir.File("others"), output, reason));
        EXPECT_NE(reason.find(", process " + std::to_string(holder.GetPid()) + ")"), std::string::npos)
            << reason;
    });
    // Read-only, held by a run or not: refused as such.
    const std::string withMounts = GAME::Test::RunWithOwnMounts([&] {
        ASSERT_EQ(GAME::Test::MountFileOver(folder, folder, true), "");
        RunFolder readOnly;
        EXPECT_FALSE(readOnly.Take(folder, output, why));
        EXPECT_EQ(why, "nothing can be written into it (Read-only file system)");
        next.Release();
        EXPECT_FALSE(readOnly.Take(folder, output, why));
        EXPECT_EQ(why, "nothing can be written into it (Read-only file system)");
    });
    if (!asNobody.empty() || !withMounts.empty())
        GTEST_SKIP() << asNobody << " " << withMounts;
}

// The host itself: a run folder another run holds fails it with exit code 1; one renamed while
// the run goes on keeps its files, a new folder at its old name and the link it was named through,
// pointed elsewhere, taking none; removed, it is not made again and the run fails. One frame flies
// no path. Stopped at the lines it prints, the run has what it wrote before in its folder either way.
TEST(HostOutputTest, TheHostWritesOnlyIntoTheFolderItHoldsAndARefusedOneFailsTheRun)
{
    namespace fs = std::filesystem;
    GAME::Test::TempDir dir;
    struct HostProcess // its pid, its standard output line by line, then "exit <code>"
    {
        std::FILE* pipe;
        int pid = 0, exitCode = -1;
        explicit HostProcess(const std::string& arguments)
            : pipe(::popen(
                  ("sh -c 'echo $$; exec " ENGINE_BINARY_DIR "/EngineHost " + arguments + "'; echo exit $?")
                      .c_str(),
                  "r"))
        {
            std::string line;
            pid = Next(line) ? std::atoi(line.c_str()) : 0;
        }
        ~HostProcess() { ::pclose(pipe); }
        bool Next(std::string& line)
        {
            char text[4096];
            line = pipe && std::fgets(text, sizeof text, pipe) ? text : "exit 255";
            exitCode = line.starts_with("exit ") ? std::atoi(line.c_str() + 5) : -1;
            return exitCode < 0;
        }
        void Stop() // until the system says so: "4711 (Main Thread) T ..."
        {
            ::kill(pid, SIGSTOP);
            for (std::string stat = "?"; !stat.empty() && stat.find(") T ") == std::string::npos;
                 stat.clear()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                std::getline(std::ifstream("/proc/" + std::to_string(pid) + "/stat"), stat);
            }
        }
    };

    HostOutput output;
    output.GoWithoutLogFile();
    std::string why, line, printed;
    RunFolder held;
    ASSERT_TRUE(held.Take(dir.File("held"), output, why)) << why;
    HostProcess refused(dir.File("held") + " 1 2>" + dir.File("held.err"));
    while (refused.Next(line)) {
    }
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_EQ(dir.Read("held.err"), "EngineHost: cannot use the run folder " + dir.File("held") +
                                        ": another run is using it (EngineHost, process " +
                                        std::to_string(GAME::Platform::GetCurrentProcessId()) +
                                        "); a run needs a folder of its own\n");

    fs::create_directories(dir.File("run"));
    fs::create_directories(dir.File("other"));
    fs::create_directory_symlink("run", dir.File("link"));
    HostProcess run("--device Software " + dir.File("link") + " 1 2>" + dir.File("run.err"));
    int stops = 0;
    while (run.Next(line)) {
        printed += line;
        if (stops == 0 && line.starts_with("EngineHost: run folder ")) {
            run.Stop();
            fs::rename(dir.File("run"), dir.File("moved"));
            fs::create_directories(dir.File("run"));
            fs::remove(dir.File("link"));
            fs::create_directory_symlink("other", dir.File("link"));
        } else if (stops == 1 && line.starts_with("EngineHost: flight done")) {
            run.Stop();
            for (const char* file : {"log.html", "database.arz", "Worlds/Generated.map"})
                EXPECT_TRUE(fs::exists(dir.File("moved/") + file)) << file;
            fs::remove_all(dir.File("moved"));
        } else {
            continue;
        }
        ::kill(run.pid, SIGCONT);
        ++stops;
    }
    EXPECT_EQ(stops, 2) << printed;
    EXPECT_EQ(run.exitCode, 1) << printed;
    EXPECT_NE(dir.Read("run.err").find(" could not be written (the first, " + dir.File("link") + "/"),
              std::string::npos);
    EXPECT_TRUE(fs::is_empty(dir.File("run")) && fs::is_empty(dir.File("other")));
    EXPECT_FALSE(fs::exists(dir.File("moved")));
    EXPECT_NE(printed.find("\n  camera path         none flown of the "), std::string::npos) << printed;
    EXPECT_EQ(printed.find(" times as fast as real time"), std::string::npos) << printed;
    EXPECT_NE(
        printed.find(" before the flight (for the views the loading frames drew and the path finder), "),
        std::string::npos);
}

} // namespace
} // namespace SampleHost
