#include "DataFixtures.h"
#include "common/LogCapture.h"
#include "common/TempDir.h"
#include "data/Archive.h"

#include <functional>
#include <gtest/gtest.h>

namespace GAME {
namespace {

using GAME::Test::GetU32;
using GAME::Test::PutU32;

// A valid archive image: one plain entry, one compressed entry of three blocks.
class ArchiveCorruption : public ::testing::Test
{
protected:
    void SetUp() override
    {
        text = GAME::Test::MakePayload(2 * Archive::kBlockSize + 100, 5, true);
        std::string path = dir.File("good.arc");
        ASSERT_TRUE(GAME::Test::WriteArchive(
            path, {{"plain.bin", GAME::Test::MakePayload(100, 1, false), 0}, {"packed.txt", text, 6}}));
        image = GAME::Test::ReadAll(path);
        layout = GAME::Test::LayoutOf(image);
        ASSERT_EQ(layout.count, 2u);
        ASSERT_EQ(layout.partCount, 3u);
    }

    // Opening the changed image fails, from a file and from memory, with a log line each.
    void ExpectRejected(const std::vector<uint8_t>& bad, const char* fragment)
    {
        std::string path = dir.File("bad.arc");
        GAME::Test::WriteAll(path, bad);
        for (int fromMemory = 0; fromMemory < 2; ++fromMemory) {
            GAME::Test::LogCapture log;
            Archive archive;
            bool opened = fromMemory ? archive.OpenMemory(bad.data(), bad.size())
                                     : archive.Open(path.c_str(), Archive::MODE_READ);
            EXPECT_FALSE(opened) << fragment;
            EXPECT_GE(log.Count(), 1u) << fragment;
            EXPECT_TRUE(log.Contains(fragment))
                << fragment << " not in: " << (log.Count() ? log.Texts()[0] : "");
            EXPECT_EQ(archive.GetNumFiles(), 0u);
            EXPECT_EQ(archive.FindFile("plain.bin"), -1);
        }
        // Update mode refuses to work on it too, and leaves the file as it was.
        GAME::Test::LogCapture log;
        Archive update;
        EXPECT_FALSE(update.Open(path.c_str(), Archive::MODE_UPDATE));
        EXPECT_EQ(GAME::Test::ReadAll(path), bad);
    }

    std::vector<uint8_t> Changed(const std::function<void(std::vector<uint8_t>&)>& change) const
    {
        std::vector<uint8_t> copy = image;
        change(copy);
        return copy;
    }

    size_t PackedRecord() const { return layout.Record(1); }

    GAME::Test::TempDir dir;
    std::vector<uint8_t> text;
    std::vector<uint8_t> image;
    GAME::Test::ArchiveLayout layout{};
};

TEST_F(ArchiveCorruption, GoodImageOpensFromMemory)
{
    Archive archive;
    ASSERT_TRUE(archive.OpenMemory(image.data(), image.size()));
    int index = archive.FindFile("packed.txt");
    std::vector<uint8_t> out(text.size());
    ASSERT_TRUE(archive.ExtractFileToMemory(index, out.data(), static_cast<unsigned>(out.size())));
    EXPECT_EQ(out, text);
}

TEST_F(ArchiveCorruption, TruncatedHeaderAndWrongMagic)
{
    ExpectRejected(std::vector<uint8_t>(image.begin(), image.begin() + 100), "header");
    ExpectRejected(std::vector<uint8_t>(image.begin(), image.begin() + 2047), "header");
    ExpectRejected(Changed([](auto& b) { b[0] = 'Z'; }), "not an ARC");
    ExpectRejected(Changed([](auto& b) { PutU32(b, 4, 2); }), "version 2");
}

TEST_F(ArchiveCorruption, TruncatedTablesAndNameBlock)
{
    // Cut inside the entry records, inside the name block and inside the part records.
    ExpectRejected(std::vector<uint8_t>(image.begin(), image.end() - 10), "run past");
    ExpectRejected(std::vector<uint8_t>(image.begin(), image.begin() + layout.Names() + 3), "run past");
    ExpectRejected(std::vector<uint8_t>(image.begin(), image.begin() + layout.Parts() + 5), "run past");
    ExpectRejected(Changed([](auto& b) { PutU32(b, 8, 0x10000000); }), "run past");  // entry count
    ExpectRejected(Changed([](auto& b) { PutU32(b, 12, 0xFFFFFFFF); }), "run past"); // part count
    ExpectRejected(Changed([](auto& b) { PutU32(b, 24, 100); }), "run past"); // table offset in the header
    ExpectRejected(Changed([&](auto& b) { PutU32(b, 24, static_cast<uint32_t>(b.size() + 1)); }), "run past");
    // A name block too short for the names the records point at.
    ExpectRejected(Changed([&](auto& b) {
                       PutU32(b, 20, 4);
                       b.erase(b.begin() + layout.Names() + 4, b.begin() + layout.Names() + layout.nameBytes);
                   }),
                   "outside the part or name tables");
    // A name without its terminating 0.
    ExpectRejected(Changed([&](auto& b) { b[layout.Names() + 9] = 'X'; }), "outside the part or name tables");
    // The last name running exactly to the end of the name block, its 0 cut off (the good image
    // ends the block with that name and its 0, and opens).
    ASSERT_EQ(image[layout.Names() + layout.nameBytes - 1], 0);
    ExpectRejected(Changed([&](auto& b) {
                       PutU32(b, 20, layout.nameBytes - 1);
                       b.erase(b.begin() + layout.Names() + layout.nameBytes - 1);
                   }),
                   "outside the part or name tables");
}

TEST_F(ArchiveCorruption, OffsetsPastTheEnd)
{
    ExpectRejected(Changed([&](auto& b) { PutU32(b, layout.Record(0) + 4, 0xFFFFFF00); }),
                   "outside the data area");
    ExpectRejected(Changed([&](auto& b) { PutU32(b, layout.Record(0) + 12, 5); }), "plain entry");
    ExpectRejected(Changed([&](auto& b) {
                       PutU32(b, layout.Record(0) + 8, 0x7FFFFFFF);
                       PutU32(b, layout.Record(0) + 12, 0x7FFFFFFF);
                   }),
                   "outside the data area");
    ExpectRejected(Changed([&](auto& b) { PutU32(b, layout.Parts() + 12, 0xFFFFFFF0); }), "out of range");
    ExpectRejected(Changed([&](auto& b) { PutU32(b, layout.Record(0) + 40, 0xFFFFFFFF); }),
                   "outside the part or name tables");
    ExpectRejected(Changed([&](auto& b) { PutU32(b, PackedRecord() + 32, 2); }),
                   "outside the part or name tables");
    ExpectRejected(Changed([&](auto& b) { PutU32(b, layout.Record(0), 2); }), "unknown storage type");
}

TEST_F(ArchiveCorruption, PartRecordsThatDoNotAddUp)
{
    ExpectRejected(Changed([&](auto& b) { PutU32(b, PackedRecord() + 28, 2); }), "2 parts");
    ExpectRejected(
        Changed([&](auto& b) { PutU32(b, PackedRecord() + 12, GetU32(b, PackedRecord() + 12) + 1); }),
        "parts");
    ExpectRejected(
        Changed([&](auto& b) { PutU32(b, layout.Parts() + 28, GetU32(b, layout.Parts() + 28) - 1); }),
        "add up");
    // Two parts that claim the same bytes.
    ExpectRejected(Changed([&](auto& b) { PutU32(b, layout.Parts() + 12, GetU32(b, layout.Parts())); }),
                   "out of range");
    ExpectRejected(Changed([&](auto& b) { PutU32(b, layout.Parts() + 8, 1000); }), "out of range");
}

TEST_F(ArchiveCorruption, BlockSizesOverTheBlockSize)
{
    ExpectRejected(Changed([&](auto& b) {
                       PutU32(b, layout.Parts() + 8, Archive::kBlockSize + 1);
                       PutU32(b, layout.Parts() + 12 * 2 + 8, 99);
                   }),
                   "out of range");
    ExpectRejected(Changed([&](auto& b) { PutU32(b, layout.Parts() + 4, 0x7FFFFFFF); }), "out of range");
}

TEST_F(ArchiveCorruption, DamagedBlocksFailTheReadWithALogLine)
{
    // Flip bytes inside the second block's compressed data: the tables are fine, the read is not.
    std::vector<uint8_t> bad = Changed([&](auto& b) {
        uint32_t offset = GetU32(b, layout.Parts() + 12);
        for (uint32_t i = 10; i < 40; ++i)
            b[offset + i] ^= 0x5A;
    });
    Archive archive;
    ASSERT_TRUE(archive.OpenMemory(bad.data(), bad.size()));
    int index = archive.FindFile("packed.txt");
    GAME::Test::LogCapture log;
    std::vector<uint8_t> out(text.size());
    EXPECT_FALSE(archive.ExtractFileToMemory(index, out.data(), static_cast<unsigned>(out.size())));
    EXPECT_TRUE(log.Contains("Block decompression error in file 'packed.txt', block 1 of 3"));
    // The first block is still fine, and the bad one is not cached as if it were good.
    Archive::BlockBuffer buffer;
    EXPECT_TRUE(archive.ReadFromFile(index, out.data(), 0, 100, &buffer));
    EXPECT_FALSE(archive.ReadFromFile(index, out.data(), Archive::kBlockSize, 100, &buffer));
    EXPECT_EQ(buffer.currentBlock, -1);
    EXPECT_FALSE(archive.ReadFromFile(index, out.data(), Archive::kBlockSize + 50, 10, &buffer));
}

TEST_F(ArchiveCorruption, ShortReadsFailWithTheRebuildMessage)
{
    // The archive shrinks on disk after it was opened.
    std::string path = dir.File("shrinking.arc");
    GAME::Test::WriteAll(path, image);
    Archive archive;
    ASSERT_TRUE(archive.Open(path.c_str(), Archive::MODE_READ));
    GAME::Test::WriteAll(path, std::vector<uint8_t>(image.begin(), image.begin() + 2100));
    GAME::Test::LogCapture log;
    std::vector<uint8_t> out(text.size());
    EXPECT_FALSE(archive.ExtractFileToMemory(archive.FindFile("packed.txt"), out.data(), 1000));
    EXPECT_TRUE(log.Contains("Error reading file 'packed.txt' from archive file"));
    EXPECT_TRUE(log.Contains("must be re-built"));
    EXPECT_FALSE(archive.ExtractFileToMemory(archive.FindFile("plain.bin"), out.data(), 100));
}

TEST_F(ArchiveCorruption, ExtractionRefusesCraftedParentNames)
{
    // Rewrite the stored name "plain.bin" as "../ev.bin" (same length) directly in the image.
    std::vector<uint8_t> bad = Changed([&](auto& b) {
        const char* evil = "../ev.bin";
        std::copy(evil, evil + 9, b.begin() + layout.Names());
    });
    Archive archive;
    ASSERT_TRUE(archive.OpenMemory(bad.data(), bad.size()));
    GAME::Test::LogCapture log;
    EXPECT_FALSE(archive.ExtractFileToDisk(0, dir.File("x/y").c_str()));
    EXPECT_TRUE(log.Contains("refusing"));
    EXPECT_FALSE(Platform::FileExists(dir.File("x/ev.bin")));
}

TEST_F(ArchiveCorruption, EveryTruncationFailsCleanlyOrReadsCorrectly)
{
    // Every cut of the table area must be refused; cuts inside the data are refused by the table
    // offset check. None may crash or read out of bounds (ASan watches).
    for (size_t cut = 0; cut < image.size(); cut += (cut < 2100 || cut > layout.Parts() - 8) ? 1 : 997) {
        GAME::Test::LogCapture log;
        Archive archive;
        EXPECT_FALSE(archive.OpenMemory(image.data(), cut)) << cut;
        EXPECT_GE(log.Count(), 1u) << cut;
    }
}

} // namespace
} // namespace GAME
