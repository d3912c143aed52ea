#include "common/LogCapture.h"
#include "common/TempDir.h"
#include "core/Name.h"
#include "core/UniqueId.h"
#include "core/WorldCoords.h"
#include "data/FileSystem.h"
#include "data/IOStreamRead.h"
#include "data/IOStreamWrite.h"
#include "world/Region.h"
#include "world/World.h"

#include <ctime>
#include <gtest/gtest.h>

namespace GAME {
namespace {

// The calling thread's processor time.
double ThreadCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

IOStreamRead ReaderOf(const IOStreamWrite& writer)
{
    return IOStreamRead(writer.GetFileBuffer(), writer.GetFileLength());
}

std::string Text(const IOStreamWrite& writer)
{
    return std::string(reinterpret_cast<const char*>(writer.GetFileBuffer()), writer.GetFileLength());
}

TEST(TaggedStream, PropertiesMatchInOrderAndMissingOnesKeepDefaults)
{
    IOStreamWrite out("unused", IOStream::IOSTREAM_DISK);
    int a = 1, b = 2, c = 3;
    out.StreamPropertyEx("a", a);
    out.StreamPropertyEx("b", b);
    out.StreamPropertyEx("c", c);

    IOStreamRead in(out.GetFileBuffer(), out.GetFileLength());
    int ra = -1, rc = -3;
    in.StreamPropertyEx("a", ra);
    in.StreamPropertyEx("c", rc); // b is next: c is not read, and nothing is skipped
    EXPECT_EQ(ra, 1);
    EXPECT_EQ(rc, -3);
    std::string asked, found;
    ASSERT_TRUE(in.GetFirstMismatch(asked, found));
    EXPECT_EQ(asked, "c");
    EXPECT_EQ(found, "b");
    int rb = 0;
    in.StreamPropertyEx("b", rb);
    in.StreamPropertyEx("c", rc);
    EXPECT_EQ(rb, 2);
    EXPECT_EQ(rc, 3);

    // Past the end, and in a stream that is not valid, every value keeps its default.
    float missing = 4.5f;
    in.StreamPropertyEx("d", missing);
    EXPECT_EQ(missing, 4.5f);
    GAME::Test::LogCapture log;
    IOStreamRead none("/nonexistent/stream.sav", IOStream::IOSTREAM_DISK);
    EXPECT_EQ(none.IsValid(), 0);
    none.StreamPropertyEx("a", missing);
    EXPECT_EQ(missing, 4.5f);
}

TEST(TaggedStream, EndBlockSkipsWhatWasNotRead)
{
    IOStreamWrite out("unused", IOStream::IOSTREAM_DISK);
    int v = 10;
    std::string s = "text";
    out.BeginBlock();
    out.StreamPropertyEx("first", v);
    out.StreamPropertyEx("unread", s);
    out.BeginBlock(); // nested, never read
    out.StreamPropertyEx("inner", v);
    out.BeginBlock();
    out.EndBlock();
    out.EndBlock();
    out.StreamPropertyEx("last", v);
    out.EndBlock();
    out.BeginBlock(); // empty
    out.EndBlock();
    int after = 77;
    out.StreamPropertyEx("after", after);

    IOStreamRead in = ReaderOf(out);
    int first = 0, inner = 0, next = 0;
    in.BeginBlock();
    in.StreamPropertyEx("first", first);
    in.EndBlock();
    in.BeginBlock();
    in.StreamPropertyEx("inner", inner); // the empty block's end comes first
    in.EndBlock();
    in.StreamPropertyEx("after", next);
    EXPECT_EQ(first, 10);
    EXPECT_EQ(inner, 0);
    EXPECT_EQ(next, 77);

    // A block cut short: the skip stops at the end of the data.
    const std::string bytes = Text(out);
    for (size_t cut : {size_t(4), size_t(30), bytes.size() / 2, bytes.size() - 3}) {
        IOStreamRead truncated(bytes.data(), static_cast<unsigned>(cut));
        int got = -1;
        truncated.BeginBlock();
        truncated.EndBlock();
        truncated.EndBlock();
        truncated.StreamPropertyEx("after", got);
        EXPECT_EQ(got, -1) << cut;
    }
}

TEST(TaggedStream, EveryValueTypeRoundTripsThroughFiles)
{
    World world;
    Region* region = world.GetRegion(world.AddRegion("r", IntVec3(5, 0, -5), ABBox(), RegionId()));
    World::SetCurrent(&world);
    GAME::Test::TempDir dir;

    std::vector<unsigned> array = {1, 0xFFFFFFFFu, 3};
    UniqueId id(0x11111111, 0x22222222, 0x33333333, 0x44444444);
    WorldCoords coords(WorldVec3(region, Vec3(1, 2, 3)), Vec3(0, 0, 1), Vec3(0, 1, 0), Vec3(-1, 0, 0));
    Coords frame(Vec3(1, 0, 0), Vec3(0, 0, 1), Vec3(0, -1, 0), Vec3(7, 8, 9));
    Name name = Name::Create("Records/Items/Sword.dbr");
    std::u16string wide = u"wide \u00e9\u4e2d";
    bool flag = true;
    unsigned big = 0xCAFEBABE;
    std::string text = "plain text";
    float real = -0.125f;
    int negative = -42;
    auto streamAll = [](IOStream& s, auto& array, auto& id, auto& coords, auto& frame, auto& name, auto& wide,
                        auto& flag, auto& big, auto& text, auto& real, auto& negative) {
        s.BeginBlock();
        s.StreamPropertyEx("array", array);
        s.StreamPropertyEx("id", id);
        s.StreamPropertyEx("coords", coords);
        s.StreamPropertyEx("frame", frame);
        s.StreamPropertyEx("name", name);
        s.StreamPropertyEx("wide", wide);
        s.StreamPropertyEx("flag", flag);
        s.StreamPropertyEx("big", big);
        s.StreamPropertyEx("text", text);
        s.StreamPropertyEx("real", real);
        s.StreamPropertyEx("negative", negative);
        s.EndBlock();
    };
    IOStreamWrite out(dir.File("state.sav").c_str(), IOStream::IOSTREAM_DISK);
    streamAll(out, array, id, coords, frame, name, wide, flag, big, text, real, negative);
    ASSERT_EQ(out.Shutdown(), 1);

    // Read back through the file system, with the reader's own defaults.
    FileSystem files;
    ASSERT_TRUE(files.AddSource(FileSystem::PARTITION_0, dir.Path().c_str(), false, false, false));
    IOStream::SetFileSystem(&files);
    {
        IOStreamRead in("STATE.sav", IOStream::IOSTREAM_FILESYSTEM);
        ASSERT_EQ(in.IsValid(), 1);
        std::vector<unsigned> rArray;
        UniqueId rId;
        WorldCoords rCoords;
        Coords rFrame;
        Name rName;
        std::u16string rWide;
        bool rFlag = false;
        unsigned rBig = 0;
        std::string rText;
        float rReal = 0;
        int rNegative = 0;
        streamAll(in, rArray, rId, rCoords, rFrame, rName, rWide, rFlag, rBig, rText, rReal, rNegative);
        EXPECT_EQ(rArray, array);
        EXPECT_EQ(rId, id);
        EXPECT_EQ(rCoords, coords);
        EXPECT_EQ(rCoords.GetRegion(), region);
        EXPECT_EQ(rFrame, frame);
        EXPECT_EQ(rName, name);
        EXPECT_EQ(rWide, wide);
        EXPECT_EQ(rFlag, flag);
        EXPECT_EQ(rBig, big);
        EXPECT_EQ(rText, text);
        EXPECT_EQ(rReal, real);
        EXPECT_EQ(rNegative, negative);
        std::string asked, found;
        EXPECT_FALSE(in.GetFirstMismatch(asked, found));

        // After Shutdown the file is released and nothing more is read from it.
        EXPECT_EQ(in.Shutdown(), 1);
        in.Rewind();
        int unread = 5;
        in.StreamPropertyEx("array", unread);
        EXPECT_EQ(unread, 5);
    }
    IOStream::SetFileSystem(nullptr);
    World::SetCurrent(nullptr);

    // The unique id is stored last word first; a name is its four digest words as properties.
    const std::string bytes = dir.Read("state.sav");
    const std::string idTag = std::string("\x02\0\0\0id", 6);
    const size_t at = bytes.find(idTag);
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(bytes.substr(at + 6, 4), "\x44\x44\x44\x44");
    EXPECT_NE(bytes.find(std::string("\x0d\0\0\0md5ChunkCount\x04\0\0\0", 21)), std::string::npos);

    GAME::Test::LogCapture log;
    IOStreamWrite nowhere(dir.File("missing/folder/x.sav").c_str(), IOStream::IOSTREAM_DISK);
    EXPECT_EQ(nowhere.Shutdown(), 0);
    EXPECT_EQ(log.Count(), 1u);
}

TEST(TaggedStream, CorruptCountsNeitherAllocateNorHang)
{
    auto tag = [](const std::string& name) {
        const uint32_t n = static_cast<uint32_t>(name.size());
        return std::string(reinterpret_cast<const char*>(&n), 4) + name;
    };
    auto u32 = [](uint32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); };
    GAME::Test::LogCapture log;

    const std::string hugeArray = tag("array") + u32(0xFFFFFFF0u) + u32(1) + u32(2);
    IOStreamRead arrayIn(hugeArray.data(), static_cast<unsigned>(hugeArray.size()));
    std::vector<unsigned> array = {9};
    arrayIn.StreamPropertyEx("array", array);
    EXPECT_EQ(array, std::vector<unsigned>{9});

    // A name announcing 2^31 - 1 chunks but holding two ends at the first missing chunk.
    const std::string hugeName = tag("name") + tag("md5ChunkCount") + u32(0x7FFFFFFF) + tag("md5Chunk") +
                                 u32(0xAAAA) + tag("md5Chunk") + u32(0xBBBB) + tag("next") + u32(6);
    IOStreamRead nameIn(hugeName.data(), static_cast<unsigned>(hugeName.size()));
    Name name;
    int next = 0;
    // Processor time, which a busy machine does not add to: a loop that went on over the missing
    // chunks would take far more than this second of it.
    const double start = ThreadCpuSeconds();
    nameIn.StreamPropertyEx("name", name);
    nameIn.StreamPropertyEx("next", next);
    EXPECT_LT(ThreadCpuSeconds() - start, 1.0);
    EXPECT_EQ(name.GetDigest()[0], 0xAAAAu);
    EXPECT_EQ(name.GetDigest()[1], 0xBBBBu);
    EXPECT_EQ(next, 6);

    const std::string longText = tag("text") + u32(0x100001) + std::string(16, 'x');
    IOStreamRead textIn(longText.data(), static_cast<unsigned>(longText.size()));
    std::string text = "kept";
    textIn.StreamPropertyEx("text", text);
    EXPECT_EQ(text, "kept");
}

} // namespace
} // namespace GAME
