#include "data/Archive.h"
#include "DataFixtures.h"
#include "common/LogCapture.h"
#include "common/TempDir.h"

#include <gtest/gtest.h>
#include <zlib.h>

namespace GAME {
namespace {

using GAME::Test::ArchiveItem;
using GAME::Test::MakePayload;

std::vector<uint8_t> Extract(const Archive& archive, int index)
{
    const Archive::FileEntry* entry = archive.GetFileEntry(index);
    std::vector<uint8_t> bytes(entry ? entry->realSize + 1 : 0);
    if (!entry || !archive.ExtractFileToMemory(index, bytes.data(), entry->realSize))
        return {0xEE};
    bytes.pop_back();
    return bytes;
}

TEST(Archive, BoundarySizesRoundTripStoredAndCompressed)
{
    GAME::Test::TempDir dir;
    const size_t sizes[] = {0, 1, 262144, 262145, 1u << 20};
    std::vector<ArchiveItem> items;
    for (int level : {0, 6})
        for (size_t size : sizes)
            items.push_back({"Level" + std::to_string(level) + "\\Size" + std::to_string(size) + ".bin",
                             MakePayload(size, static_cast<uint32_t>(size + level), size % 2 == 0), level});
    std::string path = dir.File("round.arc");
    ASSERT_TRUE(GAME::Test::WriteArchive(path, items));

    Archive archive;
    ASSERT_TRUE(archive.Open(path.c_str(), Archive::MODE_READ));
    ASSERT_EQ(archive.GetNumFiles(), items.size());
    for (const auto& item : items) {
        int index = archive.FindFile(item.name.c_str());
        ASSERT_GE(index, 0) << item.name;
        const Archive::FileEntry* entry = archive.GetFileEntry(index);
        EXPECT_EQ(entry->realSize, item.bytes.size());
        EXPECT_EQ(entry->IsCompressed(), item.level != 0);
        EXPECT_EQ(entry->adler32,
                  adler32(adler32(0, nullptr, 0), item.bytes.data(), static_cast<uInt>(item.bytes.size())));
        EXPECT_EQ(Extract(archive, index), item.bytes) << item.name;
    }
    auto parts = [&](const char* name) { return archive.GetFileEntry(archive.FindFile(name))->numParts; };
    EXPECT_EQ(parts("level6/size262144.bin"), 1u);
    EXPECT_EQ(parts("level6/size262145.bin"), 2u);
    EXPECT_EQ(archive.GetFileEntry(archive.FindFile("level6/size262145.bin"))->parts[1].plainSize, 1u);
    EXPECT_EQ(parts("level6/size0.bin"), 0u);
    EXPECT_EQ(parts("level0/size1048576.bin"), 0u);
}

TEST(Archive, RangeReadsStraddleBlocksAndReuseTheBufferedBlock)
{
    GAME::Test::TempDir dir;
    std::vector<uint8_t> data = MakePayload(3 * Archive::kBlockSize + 1000, 7, true);
    std::string path = dir.File("range.arc");
    ASSERT_TRUE(GAME::Test::WriteArchive(path, {{"big.txt", data, 9}, {"plain.txt", data, 0}}));
    Archive archive;
    ASSERT_TRUE(archive.Open(path.c_str(), Archive::MODE_READ));
    for (const char* name : {"big.txt", "plain.txt"}) {
        int index = archive.FindFile(name);
        Archive::BlockBuffer buffer;
        std::vector<uint8_t> out(5000);
        unsigned offset = Archive::kBlockSize - 2500; // 2500 bytes of block 0, 2500 of block 1
        ASSERT_TRUE(archive.ReadFromFile(index, out.data(), offset, 5000, &buffer));
        EXPECT_TRUE(std::equal(out.begin(), out.end(), data.begin() + offset)) << name;
        // Past the end the range is cut at the real size.
        std::vector<uint8_t> tail(4000, 0xAA);
        ASSERT_TRUE(
            archive.ReadFromFile(index, tail.data(), static_cast<unsigned>(data.size() - 10), 4000, &buffer));
        EXPECT_TRUE(std::equal(tail.begin(), tail.begin() + 10, data.end() - 10));
        EXPECT_EQ(tail[10], 0xAA);
        EXPECT_FALSE(
            archive.ReadFromFile(index, tail.data(), static_cast<unsigned>(data.size() + 1), 1, &buffer));
        EXPECT_FALSE(archive.ReadFromFile(index, nullptr, 0, 1, &buffer));
    }
    EXPECT_FALSE(archive.ReadFromFile(99, nullptr, 0, 1, nullptr));

    // A read inside the block already inflated does not touch the file again: with the file
    // closed it still succeeds from the buffer, and a read of another block fails cleanly.
    int index = archive.FindFile("big.txt");
    Archive::BlockBuffer buffer;
    std::vector<uint8_t> out(100);
    ASSERT_TRUE(archive.ReadFromFile(index, out.data(), Archive::kBlockSize + 5, 100, &buffer));
    EXPECT_EQ(buffer.currentBlock, 1);
    ASSERT_TRUE(archive.Close(true));
    EXPECT_TRUE(archive.ReadFromFile(index, out.data(), Archive::kBlockSize + 500, 100, &buffer));
    EXPECT_TRUE(std::equal(out.begin(), out.end(), data.begin() + Archive::kBlockSize + 500));
    GAME::Test::LogCapture log;
    EXPECT_FALSE(archive.ReadFromFile(index, out.data(), 10, 100, &buffer));
    EXPECT_TRUE(archive.ReOpen());
    EXPECT_TRUE(archive.ReadFromFile(index, out.data(), 10, 100, &buffer));
}

TEST(Archive, LookupsNormaliseCaseSeparatorsAndLeadingDots)
{
    GAME::Test::TempDir dir;
    std::string path = dir.File("names.arc");
    ASSERT_TRUE(GAME::Test::WriteArchive(
        path, {{"Monster\\A.MSH", {1}, 0}, {"./textures/b.tex", {2}, 6}, {"/c", {3}, 0}}));
    Archive archive;
    ASSERT_TRUE(archive.Open(path.c_str(), Archive::MODE_READ));
    EXPECT_STREQ(archive.GetFileEntry(archive.FindFile("monster/a.msh"))->name, "monster/a.msh");
    for (const char* name : {"MONSTER\\a.msh", "./Monster/A.msh", "/monster/a.msh", ".\\monster\\a.msh"})
        EXPECT_EQ(archive.FindFile(name), 0) << name;
    EXPECT_EQ(archive.FindFile("Textures\\B.TEX"), 1);
    EXPECT_EQ(archive.FindFile("C"), 2);
    EXPECT_EQ(archive.FindFile("monster/a.ms"), -1);
    EXPECT_EQ(archive.FindFile("monster"), -1);
    EXPECT_EQ(archive.FindFile(nullptr), -1);
    std::string longName(400, 'Q');
    EXPECT_EQ(archive.FindFile(longName.c_str()), -1);

    std::vector<int> matches;
    EXPECT_EQ(archive.FindMatchingFilesEnd(matches, ".MSH"), 1u);
    EXPECT_EQ(archive.FindMatchingFilesEnd(matches, "b.tex"), 1u);
    EXPECT_EQ(matches, (std::vector<int>{0, 1}));
}

TEST(Archive, LongHashChainsAreWalkedToTheEnd)
{
    // 1500 names that share one bucket: a walk capped at 1000 entries would miss the oldest.
    const unsigned buckets = Archive::BucketCountFor(1500);
    std::vector<ArchiveItem> items;
    for (unsigned candidate = 0; items.size() < 1500; ++candidate) {
        std::string name = "levels/chain/" + std::to_string(candidate) + ".lvl";
        if (Archive::HashName(name.data(), static_cast<unsigned>(name.size())) % buckets == 0)
            items.push_back({name, {static_cast<uint8_t>(items.size())}, 0});
    }
    GAME::Test::TempDir dir;
    std::string path = dir.File("chain.arc");
    ASSERT_TRUE(GAME::Test::WriteArchive(path, items));
    Archive archive;
    ASSERT_TRUE(archive.Open(path.c_str(), Archive::MODE_READ));
    Archive::Stats stats;
    archive.CalcStats(stats);
    EXPECT_EQ(stats.numBuckets, buckets);
    EXPECT_EQ(stats.longestChain, 1500u);
    EXPECT_EQ(stats.numUsed, 1500u);
    // Entries are linked at the head in index order: the first sits at the far end of the chain.
    EXPECT_EQ(archive.FindFile(items.front().name.c_str()), 0);
    EXPECT_EQ(archive.FindFile(items.back().name.c_str()), 1499);
    EXPECT_EQ(archive.FindFile("levels/chain/x.lvl"), -1);
}

TEST(Archive, RemovedSlotsAreReusedAndCompactLeavesNoGaps)
{
    GAME::Test::TempDir dir;
    std::string path = dir.File("update.arc");
    std::vector<uint8_t> a = MakePayload(3000, 1, false), b = MakePayload(5000, 2, false),
                         c = MakePayload(700000, 3, true);
    ASSERT_TRUE(GAME::Test::WriteArchive(path, {{"a", a, 0}, {"b", b, 0}, {"c", c, 6}}));
    {
        Archive archive;
        ASSERT_TRUE(archive.Open(path.c_str(), Archive::MODE_UPDATE));
        const uint32_t bOffset = archive.GetFileEntry(1)->dataOffset;
        EXPECT_EQ(archive.AddFileFromMemory("A", b.data(), 10, 0), -1); // exists already
        ASSERT_TRUE(archive.RemoveFile(1));
        EXPECT_FALSE(archive.RemoveFile(1));
        EXPECT_EQ(archive.FindFile("b"), -1);
        std::vector<uint8_t> d = MakePayload(5000, 4, false);
        EXPECT_EQ(archive.AddFileFromMemory("d", d.data(), 5000, 0), 1); // same stored size: the freed slot
        EXPECT_EQ(archive.GetFileEntry(1)->dataOffset, bOffset);
        EXPECT_EQ(archive.GetNumFiles(), 3u);
        ASSERT_TRUE(archive.RemoveFile(0));
        ASSERT_TRUE(archive.Close());
    }
    {
        Archive archive;
        ASSERT_TRUE(archive.Open(path.c_str(), Archive::MODE_READ));
        EXPECT_EQ(archive.GetNumFiles(), 3u);
        EXPECT_FALSE(archive.GetFileEntry(0)->IsInUse());
        EXPECT_EQ(Extract(archive, archive.FindFile("d")), MakePayload(5000, 4, false));
        EXPECT_FALSE(archive.ExtractAll(dir.File("all").c_str())); // the free slot fails
    }
    {
        Archive archive;
        ASSERT_TRUE(archive.Open(path.c_str(), Archive::MODE_UPDATE));
        EXPECT_FALSE(archive.RemoveFile(7));
        ASSERT_TRUE(archive.Compact());
        EXPECT_EQ(archive.GetNumFiles(), 2u);
        ASSERT_TRUE(archive.Close());
    }
    std::vector<uint8_t> image = GAME::Test::ReadAll(path);
    GAME::Test::ArchiveLayout layout = GAME::Test::LayoutOf(image);
    ASSERT_EQ(layout.count, 2u);
    uint32_t expectedOffset = Archive::kHeaderSize;
    for (uint32_t i = 0; i < layout.count; ++i) {
        EXPECT_EQ(GAME::Test::GetU32(image, layout.Record(i) + 4), expectedOffset);
        expectedOffset += GAME::Test::GetU32(image, layout.Record(i) + 8);
    }
    EXPECT_EQ(layout.tableOffset, expectedOffset);
    EXPECT_EQ(image.size(), layout.Record(layout.count));
    Archive archive;
    ASSERT_TRUE(archive.Open(path.c_str(), Archive::MODE_READ));
    EXPECT_EQ(Extract(archive, archive.FindFile("c")), c);
    EXPECT_EQ(Extract(archive, archive.FindFile("d")), MakePayload(5000, 4, false));
    EXPECT_TRUE(archive.ExtractAll(dir.File("Out").c_str()));
    EXPECT_EQ(dir.Read("Out/c").size(), c.size());
}

TEST(Archive, EmptyArchiveHasAHeaderOnly)
{
    GAME::Test::TempDir dir;
    std::string path = dir.File("empty.arc");
    {
        Archive archive;
        ASSERT_TRUE(archive.Open(path.c_str(), Archive::MODE_UPDATE));
        Archive::Stats stats;
        archive.CalcStats(stats);
        EXPECT_EQ(stats.numBuckets, 31u);
        ASSERT_TRUE(archive.Close());
    }
    std::vector<uint8_t> image = GAME::Test::ReadAll(path);
    ASSERT_EQ(image.size(), 2048u);
    EXPECT_EQ(std::string(image.begin(), image.begin() + 4), std::string("ARC\0", 4));
    EXPECT_EQ(GAME::Test::GetU32(image, 4), 1u);
    EXPECT_EQ(GAME::Test::GetU32(image, 24), 2048u);
    Archive archive;
    ASSERT_TRUE(archive.Open(path.c_str(), Archive::MODE_READ));
    EXPECT_EQ(archive.GetNumFiles(), 0u);
    EXPECT_EQ(archive.FindFile("anything"), -1);
}

TEST(Archive, AddsFromDiskKeepsTimeAndReopensChangedArchives)
{
    GAME::Test::TempDir dir;
    std::vector<uint8_t> big = MakePayload(600000, 11, true);
    GAME::Test::WriteAll(dir.File("Source.txt"), big);
    std::string path = dir.File("disk.arc");
    {
        Archive archive;
        ASSERT_TRUE(archive.Open(path.c_str(), Archive::MODE_UPDATE));
        EXPECT_EQ(archive.AddFileFromDisk(nullptr, 0), -1);
        EXPECT_EQ(archive.AddFileFromDisk(dir.File("missing").c_str(), 0), -1);
        int stored = archive.AddFileFromDisk(dir.File("Source.txt").c_str(), 0);
        ASSERT_GE(stored, 0);
        EXPECT_STREQ(archive.GetFileEntry(stored)->name + archive.GetFileEntry(stored)->nameLength - 10,
                     "source.txt");
        EXPECT_NE(archive.GetFileEntry(stored)->fileTimeHigh, 0u);
        ASSERT_TRUE(archive.RemoveFile(stored));
        int packed = archive.AddFileFromDisk(dir.File("Source.txt").c_str(), 9);
        ASSERT_GE(packed, 0);
        EXPECT_EQ(archive.GetFileEntry(packed)->numParts, 3u);
        ASSERT_TRUE(archive.Close());
    }
    Archive archive;
    ASSERT_TRUE(archive.Open(path.c_str(), Archive::MODE_READ));
    std::string name = dir.File("Source.txt");
    EXPECT_EQ(Extract(archive, archive.FindFile(name.c_str())), big);
    ASSERT_TRUE(archive.Close(true));
    EXPECT_TRUE(archive.IsClosedMayReopen());
    EXPECT_EQ(archive.FindFile(name.c_str()), 0); // the tables stay while closed
    EXPECT_TRUE(archive.ReOpen());
    EXPECT_FALSE(archive.ReOpen()); // not closed

    // Rewritten on disk while closed: reopening reads the new tables.
    ASSERT_TRUE(archive.Close(true));
    ASSERT_TRUE(Platform::DeleteFile(path));
    ASSERT_TRUE(GAME::Test::WriteArchive(path, {{"fresh", {1, 2, 3}, 0}}));
    EXPECT_TRUE(archive.ReOpen());
    EXPECT_EQ(archive.FindFile("fresh"), 0);
    EXPECT_EQ(archive.FindFile(name.c_str()), -1);

    // Gone from disk: ReOpen says so.
    ASSERT_TRUE(archive.Close(true));
    ASSERT_TRUE(Platform::DeleteFile(path));
    GAME::Test::LogCapture log;
    EXPECT_FALSE(archive.ReOpen());
    EXPECT_FALSE(archive.IsOpen());
}

TEST(Archive, ExtractionRefusesNamesThatLeaveTheFolder)
{
    GAME::Test::TempDir dir;
    std::string path = dir.File("evil.arc");
    ASSERT_TRUE(
        GAME::Test::WriteArchive(path, {{"good/file.txt", {1}, 0}, {"good/../../escaped.txt", {2}, 0}}));
    Archive archive;
    ASSERT_TRUE(archive.Open(path.c_str(), Archive::MODE_READ));
    GAME::Test::LogCapture log;
    std::string target = dir.File("out/inner");
    EXPECT_TRUE(archive.ExtractFileToDisk(0, target.c_str()));
    EXPECT_FALSE(archive.ExtractFileToDisk(1, target.c_str()));
    EXPECT_TRUE(log.Contains("refusing"));
    EXPECT_FALSE(Platform::FileExists(dir.File("out/escaped.txt")));
    EXPECT_EQ(dir.Read("out/inner/good/file.txt"), std::string(1, '\1'));
    EXPECT_FALSE(archive.ExtractAll(target.c_str()));
}

TEST(Archive, OpenRejectsBadArguments)
{
    GAME::Test::LogCapture log;
    Archive archive;
    EXPECT_FALSE(archive.Open(nullptr, Archive::MODE_READ));
    EXPECT_FALSE(archive.Open("", Archive::MODE_READ));
    EXPECT_FALSE(archive.Open("/nonexistent/x.arc", Archive::MODE_READ));
    EXPECT_FALSE(archive.Open("x.arc", static_cast<Archive::FileMode>(3)));
    EXPECT_EQ(log.Count(), 4u);
    EXPECT_EQ(archive.AddFileFromMemory("x", nullptr, 0, 0), -1);
    EXPECT_FALSE(archive.Compact());
}

} // namespace
} // namespace GAME
