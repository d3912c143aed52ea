#include "../DataFixtures.h"
#include "common/TempDir.h"
#include "data/Archive.h"
#include "data/FileSourceArchive.h"
#include "data/FileSystem.h"

#include <atomic>
#include <gtest/gtest.h>
#include <random>
#include <thread>
#include <vector>

namespace GAME {
namespace {

std::vector<GAME::Test::ArchiveItem> Items()
{
    std::vector<GAME::Test::ArchiveItem> items;
    for (int i = 0; i < 16; ++i) {
        size_t size = (i % 4 == 0) ? Archive::kBlockSize + 777 * i : 1000 + 3000 * i;
        items.push_back({"data/file" + std::to_string(i) + ".bin",
                         GAME::Test::MakePayload(size, static_cast<uint32_t>(i), i % 2 == 0),
                         (i % 3 == 0) ? 0 : 6});
    }
    return items;
}

// Loader threads open, read and close files of an archive that is closed whenever none of its
// files is open, so the archive file is closed and reopened under their feet all the time.
TEST(ArchiveThreads, ClosedWhenIdleSourceServesManyThreads)
{
    GAME::Test::TempDir dir;
    std::vector<GAME::Test::ArchiveItem> items = Items();
    ASSERT_TRUE(GAME::Test::WriteArchive(dir.File("Pack.arc"), items));
    for (bool closeWhenIdle : {true, false}) {
        FileSystem fs;
        ASSERT_TRUE(
            fs.AddSourceArchive(FileSystem::PARTITION_0, dir.File("Pack.arc").c_str(), closeWhenIdle));
        std::atomic<int> bad{0}, good{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 6; ++t) {
            threads.emplace_back([&, t] {
                std::mt19937 random(static_cast<uint32_t>(t));
                for (int round = 0; round < 150; ++round) {
                    const auto& item = items[random() % items.size()];
                    File* file = fs.OpenFile(("pack/" + item.name).c_str(), FILE_MODE_READ);
                    if (!file) {
                        ++bad;
                        continue;
                    }
                    unsigned offset = static_cast<unsigned>(random() % item.bytes.size());
                    unsigned size = static_cast<unsigned>(item.bytes.size()) - offset;
                    const auto* data = static_cast<const uint8_t*>(file->Lock(offset, size));
                    if (data && std::equal(data, data + size, item.bytes.begin() + offset))
                        ++good;
                    else
                        ++bad;
                    file->Unlock();
                    fs.CloseFile(file);
                }
            });
        }
        for (auto& thread : threads)
            thread.join();
        EXPECT_EQ(bad.load(), 0);
        EXPECT_EQ(good.load(), 6 * 150);
        auto* source = static_cast<FileSourceArchive*>(fs.GetSources(FileSystem::PARTITION_0)[0]);
        EXPECT_EQ(source->GetOpenFileCount(), 0);
        EXPECT_EQ(source->GetArchive()->IsOpen(), !closeWhenIdle);
    }
}

// Readers call the archive directly while the owner keeps closing and reopening its file: a read
// either fails or returns the right bytes, never something else.
TEST(ArchiveThreads, ReadsRaceCloseAndReopenSafely)
{
    GAME::Test::TempDir dir;
    std::vector<GAME::Test::ArchiveItem> items = Items();
    ASSERT_TRUE(GAME::Test::WriteArchive(dir.File("race.arc"), items));
    Archive archive;
    ASSERT_TRUE(archive.Open(dir.File("race.arc").c_str(), Archive::MODE_READ));
    std::atomic<bool> stop{false};
    std::atomic<int> good{0}, wrong{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 4; ++t) {
        readers.emplace_back([&, t] {
            std::mt19937 random(static_cast<uint32_t>(100 + t));
            std::vector<uint8_t> out;
            while (!stop.load()) {
                size_t pick = random() % items.size();
                int index = archive.FindFile(items[pick].name.c_str());
                out.assign(items[pick].bytes.size(), 0);
                if (archive.ExtractFileToMemory(index, out.data(), static_cast<unsigned>(out.size()))) {
                    if (out == items[pick].bytes)
                        ++good;
                    else
                        ++wrong;
                }
            }
        });
    }
    for (int i = 0; i < 300; ++i) {
        ASSERT_TRUE(archive.Close(true));
        std::this_thread::yield();
        ASSERT_TRUE(archive.ReOpen());
        std::this_thread::yield();
    }
    // Let every reader finish some reads on an open archive.
    while (good.load() < 50)
        std::this_thread::yield();
    stop = true;
    for (auto& reader : readers)
        reader.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_GE(good.load(), 50);
}

} // namespace
} // namespace GAME
