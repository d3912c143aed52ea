#include "data/DatabaseArchive.h"
#include "common/LogCapture.h"
#include "data/BinaryReader.h"
#include "data/LoadTableBinary.h"
#include "datakit/ArzWriter.h"

#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <random>
#include <zlib.h>

namespace GAME {
namespace {

using DataKit::ArzWriter;

bool Load(DatabaseArchive& archive, const std::vector<uint8_t>& image)
{
    return archive.Load(image.data(), static_cast<unsigned>(image.size()), false);
}

// The record's binary table, null when the archive has no such record.
std::unique_ptr<LoadTableBinary> Table(DatabaseArchive& archive, const std::string& name)
{
    const void* body = nullptr;
    unsigned size = 0;
    if (!archive.GetRecord(name, body, size))
        return nullptr;
    auto table = std::make_unique<LoadTableBinary>(&archive);
    BinaryReader reader(body, size);
    table->Deserialize(reader);
    return table;
}

uint32_t Word(const std::vector<uint8_t>& image, size_t at)
{
    uint32_t v;
    std::memcpy(&v, image.data() + at, 4);
    return v;
}

std::vector<uint8_t> BaseDatabase(bool compressed)
{
    ArzWriter writer(compressed);
    writer.SetFooter(true);
    writer.AddRecord("records\\items\\sword.dbr")
        .String("Class", "Weapon")
        .Int("damage", std::vector<int32_t>{3, 5, 8})
        .Float("speed", 1.5f)
        .Bool("magic", true)
        .String("label", "Sword of Base");
    writer.AddRecord("records\\items\\shield.dbr").String("label", "Shield").Int("armor", 10);
    // Stored with capitals and '/': found all the same.
    writer.AddRecord("Records/Items/Helm.dbr").String("label", "Helm");
    return writer.Build();
}

// Its strings come in another order, with texts of its own and a repeated entry, so every index
// must be translated.
std::vector<uint8_t> ModDatabase(bool compressed, uint32_t& count)
{
    ArzWriter writer(compressed);
    writer.SetFooter(true);
    uint32_t modOnly = writer.AddString("mod only");
    writer.AddString("another mod text");
    writer.AppendString("title");
    uint32_t titleAgain = writer.AppendString("title");
    writer.AddRecord("records\\items\\bow.dbr")
        .String("label", std::vector<std::string>{"Bow", "Longbow"})
        .Raw(ArzWriter::FIELD_STRING, titleAgain, {modOnly});
    count = writer.AddString("count"); // the index doubles as an integer value, which stays untouched
    writer.AddRecord("RECORDS/ITEMS/SWORD.DBR")
        .String("label", "Sword of Mod")
        .Int("damage", 9)
        .Int("count", static_cast<int32_t>(count))
        .Float("speed", 2.0f)
        .Bool("magic", false);
    return writer.Build();
}

TEST(DatabaseArchive, ModDatabaseMergesOverridesAndTranslatesStrings)
{
    for (bool compressed : {true, false}) {
        SCOPED_TRACE(compressed ? "compressed" : "stored");
        DatabaseArchive archive;
        std::vector<uint8_t> base = BaseDatabase(compressed);
        uint32_t countIndex = 0;
        std::vector<uint8_t> mod = ModDatabase(compressed, countIndex);
        ASSERT_TRUE(Load(archive, base));
        ASSERT_TRUE(Load(archive, mod));
        EXPECT_EQ(archive.GetNumDatabases(), 2u);
        EXPECT_EQ(archive.GetNumRecords(), 4u);
        EXPECT_EQ(archive.IsCompressed(), compressed);

        // Case and slash direction do not matter, whichever way the name was stored.
        for (const char* name :
             {"records\\items\\shield.dbr", "Records/Items/Shield.DBR", "RECORDS/items\\shield.dbr"}) {
            auto shield = Table(archive, name);
            ASSERT_TRUE(shield) << name;
            EXPECT_STREQ(shield->GetValue("label", ""), "Shield");
            EXPECT_EQ(shield->GetInt("armor", 0), 10);
        }
        auto helm = Table(archive, "records\\items\\helm.dbr");
        ASSERT_TRUE(helm);
        EXPECT_STREQ(helm->GetValue("label", ""), "Helm");
        EXPECT_FALSE(Table(archive, "records\\items\\axe.dbr"));

        // The mod's sword replaced the base's; numbers are kept as stored.
        auto sword = Table(archive, "records/items/sword.dbr");
        ASSERT_TRUE(sword);
        EXPECT_STREQ(sword->GetValue("label", ""), "Sword of Mod");
        EXPECT_EQ(sword->GetNumElementsForField("damage"), 1);
        EXPECT_EQ(sword->GetInt("damage", 0), 9);
        EXPECT_EQ(sword->GetInt("count", -1), static_cast<int>(countIndex));
        EXPECT_FLOAT_EQ(sword->GetFloat("speed", 0.0f), 2.0f);
        EXPECT_FALSE(sword->GetBool("magic", true));
        EXPECT_STREQ(sword->GetValue("Class", "none"), "none");

        // A record only the mod has: string values and field names translated to the pool.
        auto bow = Table(archive, "records\\items\\bow.dbr");
        ASSERT_TRUE(bow);
        std::vector<std::string> labels;
        bow->GetArrayValue("label", labels);
        EXPECT_EQ(labels, (std::vector<std::string>{"Bow", "Longbow"}));
        // A field named through the second of two equal entries is found by the text.
        EXPECT_STREQ(bow->GetValue("title", ""), "mod only");

        // Footers: the base's words as stored, continued over the mod's pieces.
        ASSERT_TRUE(archive.HasChecksums());
        uint32_t recordTable = Word(mod, 4), recordTableSize = Word(mod, 8);
        uint32_t stringTable = Word(mod, 16), stringTableSize = Word(mod, 20);
        const size_t footer = base.size() - 16;
        uint32_t expected[4] = {
            static_cast<uint32_t>(adler32(Word(base, footer), mod.data(), static_cast<uInt>(mod.size()))),
            static_cast<uint32_t>(adler32(Word(base, footer + 4), mod.data() + stringTable, stringTableSize)),
            static_cast<uint32_t>(adler32(Word(base, footer + 8), mod.data() + 24, recordTable - 24)),
            static_cast<uint32_t>(
                adler32(Word(base, footer + 12), mod.data() + recordTable, recordTableSize))};
        for (unsigned i = 0; i < 4; ++i)
            EXPECT_EQ(archive.GetChecksum(i), expected[i]) << i;

        // A database of the other kind cannot join, and changes nothing.
        GAME::Test::LogCapture log;
        EXPECT_FALSE(Load(archive, BaseDatabase(!compressed)));
        EXPECT_TRUE(log.Contains("DatabaseArchive"));
        EXPECT_EQ(archive.GetNumDatabases(), 2u);
    }
}

TEST(DatabaseArchive, RepeatedStringsKeepTheirStoredPositions)
{
    for (bool compressed : {true, false}) {
        SCOPED_TRACE(compressed ? "compressed" : "stored");
        ArzWriter writer(compressed);
        uint32_t first = writer.AppendString("twice");
        uint32_t second = writer.AppendString("twice");
        uint32_t name = writer.AppendString("name");
        uint32_t after = writer.AppendString("after the repeat");
        uint32_t field = writer.AppendString("field");
        writer.AddRecordRaw(writer.AppendString("records\\a.dbr"))
            .Raw(ArzWriter::FIELD_STRING, name, {after, second, first})
            .Raw(ArzWriter::FIELD_INT, field, {7});
        DatabaseArchive archive;
        ASSERT_TRUE(Load(archive, writer.Build()));
        auto table = Table(archive, "records\\a.dbr");
        ASSERT_TRUE(table);
        std::vector<std::string> values;
        table->GetArrayValue("name", values);
        EXPECT_EQ(values, (std::vector<std::string>{"after the repeat", "twice", "twice"}));
        EXPECT_EQ(table->GetInt("field", 0), 7);
        EXPECT_EQ(archive.GetNumStrings(), 5u); // the pool holds each text once
    }
}

// A body of `fields` integer fields of `values` words each, all named "f".
std::vector<uint8_t> Body(ArzWriter& writer, uint32_t values, uint32_t fields, bool random)
{
    std::vector<uint8_t> body;
    auto put = [&body](uint32_t v) {
        for (int i = 0; i < 4; ++i)
            body.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    std::mt19937 rng(7);
    const uint32_t name = writer.AddString("f");
    for (uint32_t f = 0; f < fields; ++f) {
        put((values << 16) | ArzWriter::FIELD_INT);
        put(name);
        for (uint32_t i = 0; i < values; ++i)
            put(random ? rng() : i);
    }
    return body;
}

TEST(DatabaseArchive, LargeBodiesGrowTheBufferUpToOneMebibyte)
{
    ArzWriter writer(true);
    // 40 KB of random words: more than the first buffer, badly compressible.
    writer.AddRecord("records\\big.dbr").Body(Body(writer, 10000, 1, true));
    // 600 KB that compress to almost nothing: found within the retries all the same.
    writer.AddRecord("records\\flat.dbr").Body(Body(writer, 50000, 3, false));
    // Over 1 MiB once inflated: refused.
    writer.AddRecord("records\\huge.dbr").Body(Body(writer, 65535, 5, false));
    DatabaseArchive archive;
    ASSERT_TRUE(Load(archive, writer.Build()));
    EXPECT_EQ(archive.GetBufferCapacity(), DatabaseArchive::kInitialBufferSize);

    auto big = Table(archive, "records\\big.dbr");
    ASSERT_TRUE(big);
    EXPECT_EQ(big->GetNumElementsForField("f"), 10000);
    EXPECT_EQ(archive.GetLastInflatedSize(), 8u + 40000u);
    auto flat = Table(archive, "records\\flat.dbr");
    ASSERT_TRUE(flat);
    EXPECT_EQ(flat->GetArrayInt("f", 49999, -1), 49999);
    EXPECT_LE(archive.GetBufferCapacity(), DatabaseArchive::kMaxBodySize);

    GAME::Test::LogCapture log;
    EXPECT_FALSE(Table(archive, "records\\huge.dbr"));
    EXPECT_TRUE(log.Contains("records\\huge.dbr"));
    // The archive still serves other records afterwards.
    EXPECT_TRUE(Table(archive, "records\\big.dbr"));

    // Stored bodies have no such limit.
    ArzWriter stored(false);
    stored.AddRecord("records\\huge.dbr").Body(Body(stored, 65535, 5, false));
    DatabaseArchive plain;
    ASSERT_TRUE(Load(plain, stored.Build()));
    auto huge = Table(plain, "records\\huge.dbr");
    ASSERT_TRUE(huge);
    EXPECT_EQ(huge->GetArrayInt("f", 65534, -1), 65534);
}

TEST(LoadTableBinary, TypedGettersClampAndNeverConvert)
{
    ArzWriter writer(true);
    uint32_t odd = writer.AddString("odd");
    writer.AddRecord("records\\t.dbr")
        .Int("ints", std::vector<int32_t>{4, -5, 6})
        .Float("reals", std::vector<float>{0.25f, 0.5f})
        .Bool("flags", std::vector<bool>{false, true})
        .String("names", std::vector<std::string>{"a", "b"})
        .Int("empty", std::vector<int32_t>{})
        .Raw(4, odd, {}) // a type the engine does not know: skipped
        .Int("after", 12);
    DatabaseArchive archive;
    ASSERT_TRUE(Load(archive, writer.Build()));
    auto table = Table(archive, "records\\t.dbr");
    ASSERT_TRUE(table);

    EXPECT_EQ(table->GetArrayInt("ints", 7, 0), 6);
    EXPECT_EQ(table->GetInt("ints", 0), 4);
    EXPECT_FLOAT_EQ(table->GetFloat("ints", -1.0f), -1.0f);
    EXPECT_EQ(table->GetInt("reals", -1), -1);
    EXPECT_FLOAT_EQ(table->GetArrayReal("reals", 1, 0.0f), 0.5f);
    EXPECT_FALSE(table->GetBool("flags", true)); // only the first value counts
    EXPECT_STREQ(table->GetArrayValue("names", 9, ""), "b");
    EXPECT_EQ(table->GetInt("empty", 3), 3);
    EXPECT_EQ(table->GetNumElementsForField("empty"), 0);
    EXPECT_EQ(table->GetNumElementsForField("odd"), 0);
    EXPECT_EQ(table->GetInt("after", 0), 12);

    // Vector forms append to what the caller holds, and leave it alone for a missing field or one
    // of another type.
    std::vector<int> ints{99};
    table->GetArrayInt("ints", ints);
    EXPECT_EQ(ints, (std::vector<int>{99, 4, -5, 6}));
    table->GetArrayInt("reals", ints);
    table->GetArrayInt("not a field", ints);
    EXPECT_EQ(ints, (std::vector<int>{99, 4, -5, 6}));
    std::vector<float> reals{7.0f};
    table->GetArrayReal("reals", reals);
    EXPECT_EQ(reals, (std::vector<float>{7.0f, 0.25f, 0.5f}));
    table->GetArrayReal("ints", reals);
    EXPECT_EQ(reals.size(), 3u);
    std::vector<std::string> names{"kept"};
    table->GetArrayValue("names", names);
    table->GetArrayValue("names", names);
    EXPECT_EQ(names, (std::vector<std::string>{"kept", "a", "b", "a", "b"}));
    table->GetArrayValue("flags", names);
    EXPECT_EQ(names.size(), 5u);

    // A name the pool does not hold gives the default and leaves the pool as it was.
    const unsigned strings = archive.GetNumStrings();
    EXPECT_EQ(table->GetInt("not a field", 8), 8);
    EXPECT_EQ(archive.GetNumStrings(), strings);

    // One line per field with its first value.
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    table->Serialize(file);
    std::rewind(file);
    std::string text;
    for (int c; (c = std::fgetc(file)) != EOF;)
        text.push_back(static_cast<char>(c));
    std::fclose(file);
    for (const char* line : {"ints,4,\n", "reals,0.250000,\n", "flags,0,\n", "names,a,\n", "after,12,\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line;

    // A body cut inside a field keeps the fields before it and fails the reader.
    const void* body = nullptr;
    unsigned size = 0;
    ASSERT_TRUE(archive.GetRecord("records\\t.dbr", body, size));
    LoadTableBinary cut(&archive);
    BinaryReader reader(body, size - 2);
    GAME::Test::LogCapture log;
    cut.Deserialize(reader);
    EXPECT_TRUE(reader.Failed());
    EXPECT_EQ(cut.GetArrayInt("ints", 2, 0), 6);
    EXPECT_EQ(cut.GetInt("after", -1), -1);
    EXPECT_EQ(log.Count(), 1u);
}

} // namespace
} // namespace GAME
