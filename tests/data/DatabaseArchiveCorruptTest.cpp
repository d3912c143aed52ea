#include "common/LogCapture.h"
#include "data/BinaryReader.h"
#include "data/DatabaseArchive.h"
#include "data/LoadTableBinary.h"
#include "datakit/ArzWriter.h"

#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <string>

namespace GAME {
namespace {

using DataKit::ArzWriter;

void Put(std::vector<uint8_t>& image, size_t at, uint32_t value)
{
    std::memcpy(image.data() + at, &value, 4);
}

uint32_t Get(const std::vector<uint8_t>& image, size_t at)
{
    uint32_t value;
    std::memcpy(&value, image.data() + at, 4);
    return value;
}

bool Load(DatabaseArchive& archive, const std::vector<uint8_t>& image)
{
    return archive.Load(image.data(), static_cast<unsigned>(image.size()), false);
}

class DatabaseCorruption : public ::testing::TestWithParam<bool>
{
protected:
    void SetUp() override
    {
        ArzWriter writer(GetParam());
        writer.AddRecord("records\\a.dbr").String("label", "first").Int("n", 1);
        writer.AddRecord("records\\b.dbr").Float("x", 2.0f);
        ASSERT_TRUE(writer.Build(image, &layout));

        ArzWriter other(GetParam());
        other.AddRecord("records\\base.dbr").Int("kept", 1);
        base = other.Build();
    }

    // The damaged image is refused with a log line naming the fault, both as the main database
    // and merged over another, which keeps everything it had.
    void ExpectRefused(const std::function<void(std::vector<uint8_t>&)>& damage, const char* fragment)
    {
        std::vector<uint8_t> bad = image;
        damage(bad);
        GAME::Test::LogCapture log;
        DatabaseArchive fresh;
        EXPECT_FALSE(Load(fresh, bad)) << fragment;
        EXPECT_FALSE(fresh.IsLoaded());
        EXPECT_EQ(fresh.GetNumRecords(), 0u);

        DatabaseArchive merged;
        ASSERT_TRUE(Load(merged, base));
        const unsigned strings = merged.GetNumStrings();
        const unsigned block = merged.GetBodyBlockSize();
        EXPECT_FALSE(Load(merged, bad)) << fragment;
        EXPECT_EQ(merged.GetNumDatabases(), 1u);
        EXPECT_EQ(merged.GetNumRecords(), 1u);
        EXPECT_EQ(merged.GetNumStrings(), strings);
        EXPECT_EQ(merged.GetBodyBlockSize(), block);
        const void* body = nullptr;
        unsigned size = 0;
        EXPECT_TRUE(merged.GetRecord("records\\base.dbr", body, size));

        ASSERT_EQ(log.Count(), 2u) << fragment;
        EXPECT_TRUE(log.Contains(fragment)) << fragment << " not in: " << log.Texts()[0];
    }

    std::vector<uint8_t> image;
    std::vector<uint8_t> base;
    ArzWriter::Layout layout;
};

TEST_P(DatabaseCorruption, BadHeaderAndTablesAreRefusedBeforeAnythingIsTaken)
{
    const uint32_t size = static_cast<uint32_t>(image.size());
    ExpectRefused([](auto& b) { b.resize(20); }, "holds no header");
    ExpectRefused([](auto& b) { Put(b, 0, (Get(b, 0) & ~0xFFFFu) | 3u); }, "older than 4");
    ExpectRefused([&](auto& b) { Put(b, 4, size); }, "record table");
    ExpectRefused([](auto& b) { Put(b, 4, 8); }, "record table");
    ExpectRefused([&](auto& b) { Put(b, 8, size); }, "record table");
    ExpectRefused([](auto& b) { Put(b, 12, 1000); }, "cannot hold 1000 records");
    ExpectRefused([&](auto& b) { Put(b, 8, layout.recordTableSize - 4); }, "runs past the record table");
    ExpectRefused([&](auto& b) { Put(b, 16, size - 2); }, "string table");
    ExpectRefused([](auto& b) { Put(b, 20, 0xFFFFFFF0u); }, "string table");
    ExpectRefused([&](auto& b) { Put(b, layout.stringTableOffset, 0x7FFFFFFF); }, "cannot hold");
    ExpectRefused([&](auto& b) { Put(b, layout.stringOffsets.back(), 0x1000); },
                  "runs past the string table");
    ExpectRefused([&](auto& b) { Put(b, layout.stringOffsets[0], 0x200000); }, "runs past the string table");

    // Record entries: name index, then the type string, body offset and size.
    const size_t entry = layout.entryOffsets[1];
    const size_t offsetWord = entry + 8 + Get(image, entry + 4);
    ExpectRefused([&](auto& b) { Put(b, entry, 999); }, "named by string 999");
    ExpectRefused([&](auto& b) { Put(b, offsetWord, layout.recordTableOffset - 24); }, "runs past");
    ExpectRefused([&](auto& b) { Put(b, offsetWord + 4, 0xFFFFFFFFu); }, "runs past");
    ExpectRefused([&](auto& b) { Put(b, offsetWord, 0xFFFFFFF0u); }, "runs past");

    // The string table comes last: every shorter image loses part of it.
    GAME::Test::LogCapture log;
    for (size_t cut = 0; cut < image.size(); ++cut) {
        DatabaseArchive archive;
        EXPECT_FALSE(archive.Load(image.data(), static_cast<unsigned>(cut), false)) << cut;
    }
    EXPECT_EQ(log.Count(), image.size());
}

// Bodies whose fields do not fit or name strings the table does not hold: a stored database is
// refused at load; a compressed one loads and refuses the record when it is inflated.
TEST_P(DatabaseCorruption, DamagedBodiesAreRefused)
{
    const bool compressed = GetParam();
    struct Case
    {
        const char* fragment;
        std::function<void(ArzWriter&, ArzWriter::Record&)> body;
    };
    const Case cases[] = {
        {"values run past the end",
         [](ArzWriter& w, ArzWriter::Record& r) {
             r.Int("ok", 1).Raw(ArzWriter::FIELD_INT, w.AddString("long"), {1, 2});
             std::vector<uint8_t> bytes = r.GetBody();
             Put(bytes, 12, (9u << 16) | ArzWriter::FIELD_INT); // claims 9 values, holds 2
             r.Body(bytes);
         }},
        {"field head runs past",
         [](ArzWriter&, ArzWriter::Record& r) {
             r.Int("ok", 1).Body({1, 0, 0, 0, 2});
         }},
        {"field name lies outside",
         [](ArzWriter&, ArzWriter::Record& r) { r.Raw(ArzWriter::FIELD_INT, 999, {1}); }},
        {"string value lies outside",
         [](ArzWriter& w, ArzWriter::Record& r) {
             r.Raw(ArzWriter::FIELD_STRING, w.AddString("s"), {0, 999});
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fragment);
        ArzWriter writer(compressed);
        writer.AddRecord("records\\good.dbr").Int("n", 1);
        c.body(writer, writer.AddRecord("records\\bad.dbr"));
        GAME::Test::LogCapture log;
        DatabaseArchive archive;
        const void* body = nullptr;
        unsigned size = 0;
        if (!compressed) {
            EXPECT_FALSE(Load(archive, writer.Build()));
            EXPECT_FALSE(archive.IsLoaded());
        } else {
            ASSERT_TRUE(Load(archive, writer.Build()));
            EXPECT_FALSE(archive.GetRecord("records\\bad.dbr", body, size));
            EXPECT_EQ(body, nullptr);
            EXPECT_TRUE(archive.GetRecord("records\\good.dbr", body, size));
        }
        ASSERT_EQ(log.Count(), 1u);
        EXPECT_TRUE(log.Contains(c.fragment)) << log.Texts()[0];
        EXPECT_TRUE(log.Contains("records\\bad.dbr"));
    }

    if (compressed) {
        // A stream that does not inflate.
        std::vector<uint8_t> bad = image;
        bad[layout.bodyOffsets[0] + 3] ^= 0x55;
        bad[layout.bodyOffsets[0] + 4] ^= 0xAA;
        GAME::Test::LogCapture log;
        DatabaseArchive archive;
        ASSERT_TRUE(Load(archive, bad));
        const void* body = nullptr;
        unsigned size = 0;
        EXPECT_FALSE(archive.GetRecord("records\\a.dbr", body, size));
        EXPECT_TRUE(log.Contains("does not inflate"));
        EXPECT_TRUE(archive.GetRecord("records\\b.dbr", body, size));
    }
}

// A string value may name the last string of its own database's table, not one past it, also when
// the database is merged over one with a larger pool.
TEST_P(DatabaseCorruption, StringValuesEndAtTheirDatabasesStringCount)
{
    const bool compressed = GetParam();
    ArzWriter big(compressed);
    ArzWriter::Record& many = big.AddRecord("records\\base.dbr");
    for (int i = 0; i < 20; ++i)
        many.Int("field" + std::to_string(i), i);
    const std::vector<uint8_t> bigBase = big.Build();

    // The value names the string at `count - back`, where count is the mod's number of strings.
    auto mod = [compressed](uint32_t back) {
        ArzWriter writer(compressed);
        writer.AddRecord("records\\good.dbr").Int("n", 1);
        ArzWriter::Record& record = writer.AddRecord("records\\edge.dbr");
        const uint32_t name = writer.AddString("last");
        record.Raw(ArzWriter::FIELD_STRING, name, {writer.GetStringCount() - back});
        return writer.Build();
    };
    for (bool merged : {false, true}) {
        SCOPED_TRACE(merged ? "merged" : "alone");
        GAME::Test::LogCapture log;
        const void* body = nullptr;
        unsigned size = 0;

        DatabaseArchive last;
        ASSERT_TRUE(!merged || Load(last, bigBase));
        ASSERT_TRUE(Load(last, mod(1)));
        std::vector<std::string> values;
        {
            ASSERT_TRUE(last.GetRecord("records\\edge.dbr", body, size));
            LoadTableBinary table(&last);
            BinaryReader reader(body, size);
            table.Deserialize(reader);
            table.GetArrayValue("last", values);
        }
        EXPECT_EQ(values, (std::vector<std::string>{"last"}));
        EXPECT_EQ(log.Count(), 0u);

        DatabaseArchive past;
        ASSERT_TRUE(!merged || Load(past, bigBase));
        if (compressed) {
            ASSERT_TRUE(Load(past, mod(0)));
            EXPECT_FALSE(past.GetRecord("records\\edge.dbr", body, size));
            EXPECT_TRUE(past.GetRecord("records\\good.dbr", body, size));
        } else {
            EXPECT_FALSE(Load(past, mod(0)));
            EXPECT_EQ(past.GetNumDatabases(), merged ? 1u : 0u);
        }
        EXPECT_TRUE(log.Contains("string value lies outside"));
        if (merged) {
            EXPECT_TRUE(past.GetRecord("records\\base.dbr", body, size));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Bodies, DatabaseCorruption, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Compressed" : "Stored"; });

} // namespace
} // namespace GAME
