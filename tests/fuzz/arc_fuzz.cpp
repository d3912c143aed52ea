// Opens an ARC archive image from memory, lists it and reads every entry.
#include "common/FuzzSeeds.h"
#include "common/QuietLog.h"
#include "core/Log.h"
#include "data/Archive.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace {

struct Item
{
    std::string name;
    std::vector<uint8_t> bytes;
    int level;
};

std::vector<uint8_t> Payload(size_t size, uint32_t seed, bool text)
{
    std::mt19937 random(seed);
    std::vector<uint8_t> bytes(size);
    for (auto& b : bytes)
        b = text ? static_cast<uint8_t>("abcde \n"[random() % 7]) : static_cast<uint8_t>(random());
    return bytes;
}

std::vector<uint8_t> MakeArchive(const std::vector<Item>& items, int removeIndex)
{
    std::filesystem::path path = std::filesystem::temp_directory_path() /
                                 ("arc-seed-" + std::to_string(std::random_device()()) + ".arc");
    {
        GAME::Archive archive;
        if (!archive.Open(path.c_str(), GAME::Archive::MODE_UPDATE))
            return {};
        for (const auto& item : items)
            archive.AddFileFromMemory(item.name.c_str(), item.bytes.data(),
                                      static_cast<unsigned>(item.bytes.size()), item.level);
        if (removeIndex >= 0)
            archive.RemoveFile(removeIndex);
        archive.Close();
    }
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::error_code ec;
    std::filesystem::remove(path, ec);
    return image;
}

} // namespace

void EngineFuzzSeeds(FuzzSeedSink& sink)
{
    sink.Add("empty.arc", MakeArchive({}, -1));
    sink.Add("small.arc", MakeArchive({{"Records\\Items\\a.dbr", Payload(300, 1, true), 6},
                                       {"textures/b.tex", Payload(64, 2, false), 0},
                                       {"empty.txt", {}, 6}},
                                      -1));
    sink.Add("twoblocks.arc",
             MakeArchive({{"big.txt", Payload(GAME::Archive::kBlockSize + 50, 3, true), 9}}, -1));
    sink.Add("freeslot.arc",
             MakeArchive({{"gone", Payload(40, 4, false), 0}, {"kept", Payload(90, 5, true), 1}}, 0));
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzLog::Silence();

    GAME::Archive archive;
    if (!archive.OpenMemory(data, size))
        return 0;
    FuzzAccepted();
    GAME::Archive::Stats stats;
    archive.CalcStats(stats);
    std::vector<int> matches;
    archive.FindMatchingFilesEnd(matches, ".txt");

    // Inflation is bounded per input so one image cannot keep the fuzzer busy for long.
    uint64_t budget = 16u << 20;
    std::vector<unsigned char> chunk(65536);
    for (unsigned i = 0; i < archive.GetNumFiles() && budget; ++i) {
        const GAME::Archive::FileEntry* entry = archive.GetFileEntry(static_cast<int>(i));
        if (!entry->IsInUse())
            continue;
        archive.FindFile(entry->name);
        GAME::Archive::BlockBuffer buffer;
        for (unsigned offset = 0; offset < entry->realSize && budget; offset += 65536) {
            unsigned count = entry->realSize - offset < 65536 ? entry->realSize - offset : 65536;
            if (!archive.ReadFromFile(static_cast<int>(i), chunk.data(), offset, count, &buffer))
                break;
            budget -= count < budget ? count : budget;
        }
    }
    return 0;
}
