#include "common/FullDisk.h"
#include "common/LogCapture.h"
#include "common/TempDir.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"
#include "data/ChunkedBinaryWriter.h"
#include "data/File.h"
#include "data/StringTable.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <map>
#include <set>

namespace GAME {
namespace {

std::vector<uint8_t> Bytes(const BinaryWriter& w)
{
    return std::vector<uint8_t>(w.GetBuffer(), w.GetBuffer() + w.GetSize());
}

TEST(BinaryWriter, BlocksPatchTheirSizeAndNest)
{
    BinaryWriter w(4);
    w.BeginBlock(5);
    w.WriteUInt32(0x11223344);
    w.WriteUInt32(0x55667788);
    ASSERT_TRUE(w.EndBlock());
    std::vector<uint8_t> expected = {5, 0, 0, 0, 8, 0, 0, 0, 0x44, 0x33, 0x22, 0x11, 0x88, 0x77, 0x66, 0x55};
    EXPECT_EQ(Bytes(w), expected);

    BinaryWriter nested(0);
    nested.BeginBlock(1);
    nested.WriteUInt8(7);
    nested.BeginBlock(2);
    nested.WriteUInt16(0xABCD);
    nested.EndBlock();
    nested.EndBlock();
    std::vector<uint8_t> inner = {1, 0, 0, 0, 1 + 8 + 2, 0, 0, 0, 7, 2, 0, 0, 0, 2, 0, 0, 0, 0xCD, 0xAB};
    EXPECT_EQ(Bytes(nested), inner);
    GAME::Test::LogCapture log;
    EXPECT_FALSE(nested.EndBlock());
    EXPECT_EQ(log.Count(), 1u);
}

TEST(BinaryWriter, GrowsGeometricallyWithTheSameBytes)
{
    BinaryWriter w(16);
    std::set<unsigned> capacities;
    for (unsigned i = 0; i < 100000; ++i) {
        w.WriteUInt8(static_cast<uint8_t>(i * 7));
        capacities.insert(w.GetCapacity());
    }
    ASSERT_EQ(w.GetSize(), 100000u);
    for (unsigned i = 0; i < 100000; ++i)
        ASSERT_EQ(w.GetBuffer()[i], static_cast<uint8_t>(i * 7));
    EXPECT_LT(capacities.size(), 20u); // a fixed step would reallocate hundreds of times
    EXPECT_FALSE(w.Failed());
}

TEST(BinaryStreams, EveryEncodingRoundTrips)
{
    BinaryWriter w(0);
    Coords frame(Vec3(1, 2, 3), Vec3(4, 5, 6), Vec3(7, 8, 9), Vec3(-1.5f, 0.25f, 1e9f));
    UniqueId id(0x01020304, 0x05060708, 0x090A0B0C, 0x0D0E0F10);
    w.WriteUInt8(0xFE);
    w.WriteInt16(-2);
    w.WriteInt32(-123456);
    w.WriteFloat(3.5f);
    w.WriteBool(true);
    w.WriteUInt32(7); // any non-zero reads as true
    w.WriteVec3(Vec3(1.0f, -2.0f, 0.5f));
    w.WriteCoords(frame);
    w.WriteUniqueId(id);
    w.WriteUniqueIdReversed(id);
    w.WriteString(std::string("h\0llo", 5));
    w.WriteWideString(u"w\u00e9");
    ASSERT_EQ(w.GetSize(), 1u + 2 + 4 + 4 + 4 + 4 + 12 + 48 + 16 + 16 + 9 + 8);

    BinaryReader r(w.GetBuffer(), w.GetSize());
    EXPECT_EQ(r.ReadUInt8(), 0xFE);
    EXPECT_EQ(r.ReadInt16(), -2);
    EXPECT_EQ(r.ReadInt32(), -123456);
    EXPECT_EQ(r.ReadFloat(), 3.5f);
    EXPECT_TRUE(r.ReadBool());
    EXPECT_TRUE(r.ReadBool());
    EXPECT_EQ(r.ReadVec3(), Vec3(1.0f, -2.0f, 0.5f));
    Coords c = r.ReadCoords();
    EXPECT_EQ(c.xAxis, frame.xAxis);
    EXPECT_EQ(c.origin, frame.origin);
    EXPECT_EQ(r.ReadUniqueId(), id);
    // The id's own stream form read back with the plain reader gives the words reversed.
    EXPECT_EQ(r.ReadUniqueId(), UniqueId(0x0D0E0F10, 0x090A0B0C, 0x05060708, 0x01020304));
    std::string text;
    EXPECT_TRUE(r.ReadString(text));
    EXPECT_EQ(text, std::string("h\0llo", 5));
    std::u16string wide;
    EXPECT_TRUE(r.ReadWideString(wide));
    EXPECT_EQ(wide, u"w\u00e9");
    EXPECT_TRUE(r.AtEnd());
    EXPECT_FALSE(r.Failed());
    // Plain form is word 0 first on the wire.
    EXPECT_EQ(w.GetBuffer()[1 + 2 + 4 + 4 + 4 + 4 + 12 + 48], 0x04);
}

TEST(BinaryReader, ReadingPastTheEndFailsStickilyWithZeros)
{
    const uint8_t data[] = {1, 2, 3, 4, 5, 6};
    BinaryReader r(data, sizeof(data));
    EXPECT_EQ(r.ReadUInt32(), 0x04030201u);
    EXPECT_EQ(r.ReadUInt32(), 0u); // only two bytes left
    EXPECT_TRUE(r.Failed());
    EXPECT_EQ(r.ReadUInt8(), 0u); // sticky, even though nothing would fit anyway
    Vec3 v = r.ReadVec3();
    EXPECT_EQ(v, Vec3());
    uint8_t out[3] = {9, 9, 9};
    EXPECT_FALSE(r.ReadBytes(out, 3));
    EXPECT_EQ(out[0] + out[1] + out[2], 0);

    BinaryReader seekPast(data, sizeof(data));
    EXPECT_FALSE(seekPast.Seek(7));
    EXPECT_TRUE(seekPast.Failed());
    BinaryReader empty;
    EXPECT_EQ(empty.ReadUInt16(), 0u);
    EXPECT_TRUE(empty.Failed());
}

TEST(BinaryReader, StringLengthsAreCheckedBeforeTheyAreUsed)
{
    GAME::Test::LogCapture log;
    std::vector<uint8_t> big(4 + 0x100001, 'x');
    big[0] = 0x01, big[1] = 0x00, big[2] = 0x10, big[3] = 0x00; // 0x100001
    BinaryReader tooLong(big.data(), static_cast<unsigned>(big.size()));
    std::string s = "old";
    EXPECT_FALSE(tooLong.ReadString(s));
    EXPECT_TRUE(s.empty());
    EXPECT_TRUE(tooLong.Failed());

    big[0] = 0x00; // 0x100000 with enough bytes
    BinaryReader exact(big.data(), static_cast<unsigned>(big.size()));
    EXPECT_TRUE(exact.ReadString(s));
    EXPECT_EQ(s.size(), 0x100000u);

    const uint8_t shortString[] = {10, 0, 0, 0, 'a', 'b'};
    BinaryReader truncated(shortString, sizeof(shortString));
    EXPECT_FALSE(truncated.ReadString(s));
    EXPECT_TRUE(truncated.Failed());

    // A wide string claiming two billion characters is refused before anything is allocated.
    const uint8_t hugeWide[] = {0xFF, 0xFF, 0xFF, 0x7F, 'a', 0};
    BinaryReader wide(hugeWide, sizeof(hugeWide));
    std::u16string w;
    EXPECT_FALSE(wide.ReadWideString(w));
    EXPECT_TRUE(w.empty());
    EXPECT_GE(log.Count(), 2u);
}

TEST(BinaryReader, BlocksAreReadThroughABoundedSubReader)
{
    BinaryWriter w(0);
    w.BeginBlock(9);
    w.WriteUInt32(1);
    w.WriteUInt32(2);
    w.EndBlock();
    w.WriteUInt32(0xCAFE);
    BinaryReader r(w.GetBuffer(), w.GetSize());
    uint32_t id = 0;
    BinaryReader content;
    ASSERT_TRUE(r.ReadBlock(id, content));
    EXPECT_EQ(id, 9u);
    EXPECT_EQ(content.ReadUInt32(), 1u);
    // The outer reader already stands at the block's end, whatever the content reader does.
    EXPECT_EQ(r.ReadUInt32(), 0xCAFEu);
    EXPECT_EQ(content.ReadUInt32(), 2u);
    EXPECT_EQ(content.ReadUInt32(), 0u);
    EXPECT_TRUE(content.Failed());
    EXPECT_FALSE(r.Failed());

    GAME::Test::LogCapture log;
    std::vector<uint8_t> bad = {9, 0, 0, 0, 100, 0, 0, 0, 1, 2, 3};
    BinaryReader overlong(bad.data(), static_cast<unsigned>(bad.size()));
    EXPECT_FALSE(overlong.ReadBlock(id, content));
    EXPECT_TRUE(overlong.Failed());
    EXPECT_EQ(content.GetSize(), 0u);
    BinaryReader wrongId(w.GetBuffer(), w.GetSize());
    EXPECT_FALSE(wrongId.ReadBlock(3, content, "test block"));
    EXPECT_TRUE(log.Contains("test block"));

    BinaryReader counts(bad.data(), static_cast<unsigned>(bad.size()));
    EXPECT_TRUE(counts.CheckCount(11, 1, "bytes"));
    EXPECT_FALSE(counts.CheckCount(0x40000000, 16, "records")); // would overflow 32 bits as a product
    EXPECT_TRUE(counts.Failed());
}

// Records the writes a chunked writer sends to a file.
class RecordingFile : public File
{
public:
    FileSource* GetSource() override { return nullptr; }
    using File::Lock;
    const void* Lock(unsigned, unsigned) override { return nullptr; }
    void Unlock() override {}
    bool Write(unsigned offset, const void* data, unsigned size) override
    {
        writes.emplace_back(offset, size);
        auto* bytes = static_cast<const uint8_t*>(data);
        if (contents.size() < offset + size)
            contents.resize(offset + size);
        std::copy(bytes, bytes + size, contents.begin() + offset);
        return !refuse;
    }
    unsigned GetLength() override { return static_cast<unsigned>(contents.size()); }

    std::vector<std::pair<unsigned, unsigned>> writes;
    std::vector<uint8_t> contents;
    bool refuse = false;
};

TEST(ChunkedBinaryWriter, WritesWholeChunksThenTheRest)
{
    ChunkedBinaryWriter chunked(16);
    std::vector<uint8_t> payload(40);
    for (size_t i = 0; i < payload.size(); ++i)
        payload[i] = static_cast<uint8_t>(i);
    EXPECT_EQ(chunked.WriteBytes(payload.data(), 40), 40u);
    RecordingFile file;
    EXPECT_TRUE(chunked.WriteTo(file));
    std::vector<std::pair<unsigned, unsigned>> expected = {{0, 16}, {16, 16}, {32, 8}};
    EXPECT_EQ(file.writes, expected);
    EXPECT_EQ(file.contents, payload);
    file.refuse = true;
    EXPECT_FALSE(chunked.WriteTo(file));
}

TEST(ChunkedBinaryWriter, MatchesTheMemoryWriterAcrossChunkBorders)
{
    ChunkedBinaryWriter chunked(5); // every field straddles a border somewhere
    BinaryWriter memory(0);
    UniqueId id(1, 2, 3, 4);
    auto both = [&](auto&& write) {
        write(chunked);
        write(memory);
    };
    both([](auto& w) { w.BeginBlock(77); });
    both([](auto& w) { w.WriteString(std::string("chunks")); });
    both([](auto& w) { w.BeginBlock(78); });
    both([&](auto& w) { w.WriteUniqueId(id); });
    both([&](auto& w) { w.WriteUniqueIdReversed(id); });
    both([](auto& w) { w.WriteCoords(Coords()); });
    both([](auto& w) { w.EndBlock(); });
    both([](auto& w) { w.WriteBool(false); });
    both([](auto& w) { w.WriteWideString(u"ab"); });
    both([](auto& w) { w.EndBlock(); });
    EXPECT_EQ(chunked.GetBytes(), Bytes(memory));
    EXPECT_EQ(chunked.GetChunkCount(), (memory.GetSize() + 4) / 5);
}

TEST(BinaryWriter, StreamWritesPatchBlocksInTheFile)
{
    GAME::Test::TempDir dir;
    {
        BinaryWriter w;
        w.WriteUInt32(5); // no stream, no buffer: ignored
        EXPECT_EQ(w.GetSize(), 0u);
        ASSERT_TRUE(w.OpenFile(dir.File("Sub/Out.bin")));
        w.BeginBlock(3);
        w.WriteString(std::string("abc"));
        EXPECT_TRUE(w.EndBlock());
        EXPECT_EQ(w.Tell(), 15u);
        EXPECT_TRUE(w.CloseStream());
    }
    std::string bytes = dir.Read("Sub/Out.bin");
    ASSERT_EQ(bytes.size(), 15u);
    EXPECT_EQ(bytes[4], 7); // 4-byte length + 3 characters
    EXPECT_EQ(bytes.substr(12), "abc");

    // Written over while the disk fills, or never closed, the file stays as it was.
    for (const int64_t limit : {int64_t{0}, int64_t{10}, int64_t{-1}}) {
        {
            GAME::Test::LogCapture log;
            GAME::Test::FullDisk disk(limit);
            BinaryWriter w;
            ASSERT_TRUE(w.OpenFile(dir.File("Sub/Out.bin")));
            w.WriteString(std::string(100, 'x'));
            if (limit >= 0) {
                EXPECT_FALSE(w.CloseStream()) << limit;
                EXPECT_TRUE(log.Contains("Out.bin (No space left on device)", 1)) << limit;
            }
        }
        EXPECT_EQ(dir.Read("Sub/Out.bin"), bytes) << limit;
        EXPECT_EQ(GAME::Test::FolderNames(dir.File("Sub")), std::vector<std::string>{"Out.bin"}) << limit;
    }
}

TEST(StringTable, IndicesAreStableAndDuplicatesRefused)
{
    StringTable table;
    EXPECT_TRUE(table.AddString("a"));
    EXPECT_TRUE(table.AddString("b"));
    EXPECT_FALSE(table.AddString("a"));
    EXPECT_EQ(table.GetCount(), 2u);
    EXPECT_EQ(table.Find(std::string("b")), 1);
    EXPECT_EQ(table.Find(std::string("c")), -1);
    EXPECT_STREQ(table.GetString(0), "a");
    EXPECT_EQ(table.GetString(2), nullptr);
    EXPECT_EQ(table.GetString(-1), nullptr);
    // Characters handed out stay put while the pool grows.
    const char* first = table.GetString(0);
    for (int i = 0; i < 5000; ++i)
        table.AddString("string number " + std::to_string(i));
    EXPECT_EQ(first, table.GetString(0));
    EXPECT_EQ(table.Find(std::string("string number 4999")), 5001);
}

TEST(StringTable, PointerCacheFollowsChangedText)
{
    StringTable table;
    table.AddString("alpha");
    table.AddString("beta");
    char buffer[16] = "alpha";
    EXPECT_EQ(table.Find(buffer), 0);
    EXPECT_EQ(table.Find(buffer), 0); // cached
    std::snprintf(buffer, sizeof(buffer), "beta");
    EXPECT_EQ(table.Find(buffer), 1);
    std::snprintf(buffer, sizeof(buffer), "gamma");
    EXPECT_EQ(table.Find(buffer), -1);
    EXPECT_EQ(table.Find(static_cast<const char*>(nullptr)), -1);
}

TEST(StringTable, ReadKeepsTheFirstOfTwinsAndRefusesBadData)
{
    BinaryWriter w(0);
    w.WriteUInt32(4);
    for (const char* s : {"x", "y", "x", "z"})
        w.WriteString(s);
    StringTable table;
    table.AddString("stale");
    BinaryReader r(w.GetBuffer(), w.GetSize());
    ASSERT_TRUE(table.Read(r));
    EXPECT_EQ(table.GetCount(), 3u);
    EXPECT_EQ(table.Find(std::string("z")), 2); // shifted down by the twin
    EXPECT_EQ(table.Find(std::string("stale")), -1);

    BinaryWriter out(0);
    table.Write(out);
    StringTable copy;
    BinaryReader back(out.GetBuffer(), out.GetSize());
    ASSERT_TRUE(copy.Read(back));
    EXPECT_STREQ(copy.GetString(2), "z");

    GAME::Test::LogCapture log;
    const uint8_t hugeCount[] = {0xFF, 0xFF, 0xFF, 0xFF, 1, 0, 0, 0, 'q'};
    BinaryReader huge(hugeCount, sizeof(hugeCount));
    EXPECT_FALSE(copy.Read(huge)); // refused before reserving four billion strings
    EXPECT_EQ(copy.GetCount(), 0u);
    BinaryReader cut(out.GetBuffer(), out.GetSize() - 1);
    EXPECT_FALSE(copy.Read(cut));
    EXPECT_EQ(copy.GetCount(), 0u);
    EXPECT_GE(log.Count(), 2u);
}

TEST(IntHashTable, BucketCountsAndGrowth)
{
    IntHashTable table(2);
    table.Setup(1, 0);
    EXPECT_EQ(table.GetBucketCount(), 4u);
    table.Setup(100000, 0);
    EXPECT_EQ(table.GetBucketCount(), 65536u);
    table.Setup(0, 0);
    EXPECT_EQ(table.GetBucketCount(), 4u);
    table.Setup(16, 2);
    std::map<uint32_t, uint32_t> inserted;
    for (uint32_t i = 0; i < 1000; ++i) {
        ASSERT_TRUE(table.Insert(i * 4, i));
        inserted[i * 4] = i;
    }
    EXPECT_GE(table.GetNodeCapacity(), 1000u);
    for (auto [key, value] : inserted) {
        const IntHashTable::Node* node = table.Find(key);
        ASSERT_NE(node, nullptr);
        EXPECT_EQ(node->value, value);
    }
    EXPECT_EQ(table.Find(1), nullptr);
    std::map<uint32_t, uint32_t> visited;
    for (const IntHashTable::Node* n = table.Next(nullptr); n; n = table.Next(n))
        visited[n->key] = n->value;
    EXPECT_EQ(visited, inserted);
    table.Clear();
    EXPECT_EQ(table.Next(nullptr), nullptr);
    EXPECT_EQ(table.Find(0), nullptr);
}

} // namespace
} // namespace GAME
