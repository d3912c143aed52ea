// Replays fuzz inputs without libFuzzer: `--write-seeds DIR` first writes the target's seeds and
// runs each against its mark (taken or turned down), then every file (or every file of every
// folder) named on the command line is run once.
#include "common/FuzzSeeds.h"
#include "common/SeedDirectory.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

namespace {

int RunFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    int runs = 0;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--write-seeds" && i + 1 < argc) {
            if (!FuzzSeeds::Write(argv[++i], true))
                return 1;
            continue;
        }
        fs::path path = arg;
        std::error_code ec;
        if (fs::is_directory(path, ec)) {
            std::vector<fs::path> files;
            for (const auto& entry : fs::directory_iterator(path))
                if (entry.is_regular_file())
                    files.push_back(entry.path());
            std::sort(files.begin(), files.end());
            for (const auto& file : files)
                runs += RunFile(file);
        } else if (fs::is_regular_file(path, ec)) {
            runs += RunFile(path);
        }
    }
    std::printf("replayed %d inputs\n", runs);
    return 0;
}
