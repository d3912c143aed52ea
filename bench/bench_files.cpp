// Opening a stored file and saving one in place through the platform layer, against the same work
// done by raw system calls, in one run.
#include "common/BenchReport.h"
#include "platform/PlatformFile.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <limits>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kFiles = 1000;
constexpr int kRounds = 15;
constexpr int kSaves = 40;
constexpr size_t kFileSize = 4096;

volatile uint64_t g_sink;

} // namespace

const char* const kHelp = R"(bench_files: opening a stored file and saving a small one in place.

Measures, with no render device, in a folder of its own under the system's temporary folder:
  - an open of an existing 4 KiB file to read, then its close (PlatformFile, Read: the path looked
    up without regard to case, the file opened, its status and its mark of a killed save asked),
    over 1,000 files, best of 15 rounds; reference: the open, status and close by raw system calls;
  - a save in place of a 4 KiB file with a second hard link (WriteWholeFile: a copy of the old
    bytes kept and synced, the file marked, written, synced, unmarked), 40 saves, best of 15
    rounds; reference: the same bytes written over the file and synced by raw system calls (not
    whole across a kill).

Figures (last lines of the output); lower is better for each:
  value open_existing_time                  us an open and close
  value save_in_place_time                  us a save in place
  ratio open_existing_vs_raw_open           the open / open, status and close
  ratio save_in_place_vs_raw_write          a save in place / open, write, cut, sync and close
)";

int main(int argc, char** argv)
{
    if (const int code = BenchCommandLine(argc, argv, kHelp); code >= 0)
        return code;
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path folder = fs::temp_directory_path() /
                            ("bench_files_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::create_directories(folder / "Saves", error);
    const std::string bytes(kFileSize, 'b');
    std::vector<std::string> paths;
    for (int i = 0; i < kFiles && !error; ++i) {
        paths.push_back((folder / ("File" + std::to_string(i) + ".dat")).string());
        std::string why;
        if (!GAME::Platform::WriteWholeFile(paths.back(), bytes.data(), bytes.size(), &why,
                                            GAME::Platform::FileOpenMode::WriteUnsynced)) {
            std::fprintf(stderr, "bench_files: cannot write %s (%s)\n", paths.back().c_str(), why.c_str());
            fs::remove_all(folder, error);
            return 1;
        }
    }
    const std::string saved = (folder / "Saves" / "World.wrl").string();
    if (error || !GAME::Platform::WriteWholeFile(saved, bytes.data(), bytes.size()) ||
        (fs::create_hard_link(saved, folder / "Saves" / "Backup.wrl", error), error)) {
        std::fprintf(stderr, "bench_files: cannot make the files in %s\n", folder.string().c_str());
        fs::remove_all(folder, error);
        return 1;
    }

    auto engineOpen = [&] {
        uint64_t sum = 0;
        for (const std::string& path : paths) {
            GAME::Platform::PlatformFile file;
            sum += file.Open(path, GAME::Platform::FileOpenMode::Read) ? 1 : 0;
        }
        g_sink = sum;
    };
    auto rawOpen = [&] {
        uint64_t sum = 0;
        for (const std::string& path : paths) {
            const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
            struct stat st;
            if (fd >= 0 && ::fstat(fd, &st) == 0)
                sum += 1;
            if (fd >= 0)
                ::close(fd);
        }
        g_sink = sum;
    };
    bool saveFailed = false;
    auto engineSave = [&] {
        for (int i = 0; i < kSaves; ++i)
            saveFailed = !GAME::Platform::WriteWholeFile(saved, bytes.data(), bytes.size()) || saveFailed;
    };
    auto rawSave = [&] {
        for (int i = 0; i < kSaves; ++i) {
            const int fd = ::open(saved.c_str(), O_WRONLY | O_CLOEXEC);
            if (fd < 0)
                continue;
            (void)!::pwrite(fd, bytes.data(), bytes.size(), 0);
            (void)!::ftruncate(fd, static_cast<off_t>(bytes.size()));
            ::fsync(fd);
            ::close(fd);
        }
    };

    // Rounds interleave the candidates so that a disturbed stretch of time hits all of them.
    double best[4];
    std::fill(best, best + 4, std::numeric_limits<double>::infinity());
    for (int round = 0; round < kRounds; ++round) {
        best[0] = std::min(best[0], BestOf(1, engineOpen));
        best[1] = std::min(best[1], BestOf(1, rawOpen));
        best[2] = std::min(best[2], BestOf(1, engineSave));
        best[3] = std::min(best[3], BestOf(1, rawSave));
    }
    fs::remove_all(folder, error);
    if (saveFailed) {
        std::fprintf(stderr, "bench_files: a save in place failed\n");
        return 1;
    }

    BenchReport report;
    report.Value("open_existing_time", best[0] * 1e6 / kFiles, "us");
    report.Value("save_in_place_time", best[2] * 1e6 / kSaves, "us");
    report.Ratio("open_existing_vs_raw_open", best[0] / best[1]);
    report.Ratio("save_in_place_vs_raw_write", best[2] / best[3]);
    report.Print();
    return 0;
}
