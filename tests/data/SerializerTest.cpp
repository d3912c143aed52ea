#include "data/Serializer.h"
#include "common/LogCapture.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"
#include "data/LoadTable.h"

#include <gtest/gtest.h>
#include <memory>

namespace GAME {
namespace {

struct Object
{
    std::string name = "Sword";
    int damage = 12;
    unsigned flags = 3;
    float speed = 1.5f;
    bool magic = false;

    void Register(Serializer& s)
    {
        s.Register("name", name);
        s.Register("damage", damage);
        s.Register("flags", flags);
        s.Register("speed", speed);
        s.Register("magic", magic);
    }
};

void MakeRecord(LoadTable& record)
{
    record.AddField("name", "Sword");
    record.AddField("damage", "12");
    record.AddField("flags", "3");
    record.AddField("speed", "1.5");
    record.AddField("magic", "0");
}

std::vector<uint8_t> Serialize(Object& object, bool fast)
{
    LoadTable record;
    MakeRecord(record);
    Serializer s;
    object.Register(s);
    BinaryWriter writer(0);
    s.Serialize(record, &writer, fast);
    return std::vector<uint8_t>(writer.GetBuffer(), writer.GetBuffer() + writer.GetSize());
}

TEST(Serializer, OnlyValuesThatDifferFromTheRecordRoundTrip)
{
    Object unchanged;
    EXPECT_EQ(Serialize(unchanged, true).size(), 2u);
    EXPECT_EQ(Serialize(unchanged, false).size(), 12u);

    for (bool fast : {true, false}) {
        Object changed;
        changed.name = "Broken Sword";
        changed.flags = 0xFFFFFFFFu;
        changed.magic = true;
        const std::vector<uint8_t> bytes = Serialize(changed, fast);

        Object read;
        read.damage = 99; // equal to the record when written, so not in the stream: stays
        Serializer s;
        read.Register(s);
        BinaryReader reader(bytes.data(), static_cast<unsigned>(bytes.size()));
        s.Deserialize(&reader, fast);
        EXPECT_TRUE(s.IsReading());
        EXPECT_EQ(read.name, "Broken Sword");
        EXPECT_EQ(read.flags, 0xFFFFFFFFu);
        EXPECT_TRUE(read.magic);
        EXPECT_EQ(read.damage, 99);
        EXPECT_EQ(reader.GetRemaining(), 0u) << fast;
    }
}

TEST(Serializer, ReadersWithOtherRegistrationsStayInStep)
{
    Object changed;
    changed.name = "Axe";
    changed.damage = 7;
    changed.speed = 2.0f;
    const std::vector<uint8_t> verbose = Serialize(changed, false);

    // The reader knows no "name", and takes "damage" as a string: both are passed by their sizes
    // and the properties after them are still read.
    std::string damageText = "unchanged";
    float speed = 0;
    Serializer s;
    s.Register("damage", damageText);
    s.Register("speed", speed);
    BinaryReader reader(verbose.data(), static_cast<unsigned>(verbose.size()));
    s.Deserialize(&reader, false);
    EXPECT_EQ(damageText, "unchanged");
    EXPECT_EQ(speed, 2.0f);
    EXPECT_EQ(reader.GetRemaining(), 0u);

    // A fast index beyond the registrations ends the read there.
    const std::vector<uint8_t> fast = Serialize(changed, true);
    int damage = 0;
    Serializer few;
    few.Register("name", damageText);
    few.Register("damage", damage);
    BinaryReader fastReader(fast.data(), static_cast<unsigned>(fast.size()));
    few.Deserialize(&fastReader, true);
    EXPECT_EQ(damage, 7);
    EXPECT_GT(fastReader.GetRemaining(), 2u);
}

TEST(Serializer, TruncatedStreamsEndWithoutTouchingValues)
{
    Object changed;
    changed.name = "Mace";
    changed.speed = 3.0f;
    GAME::Test::LogCapture log;
    for (bool fast : {true, false}) {
        const std::vector<uint8_t> bytes = Serialize(changed, fast);
        for (size_t cut = 0; cut < bytes.size(); ++cut) {
            Object read;
            read.speed = -1.0f;
            Serializer s;
            read.Register(s);
            BinaryReader reader(bytes.data(), static_cast<unsigned>(cut));
            s.Deserialize(&reader, fast); // a read past the end must end the loop
            EXPECT_TRUE(read.speed == -1.0f || read.speed == 3.0f) << cut;
            EXPECT_TRUE(read.name == "Sword" || read.name == "Mace") << cut;
        }
    }
}

TEST(Serializer, CopiesShareTheirPropertiesSafely)
{
    int value = 5;
    auto original = std::make_unique<Serializer>();
    original->Register("value", value);
    Serializer copy = *original;
    original.reset();

    LoadTable record;
    BinaryWriter writer(0);
    copy.Serialize(record, &writer, true);
    int extra = 9;
    copy << extra; // written after the end mark through the same writer
    const std::vector<uint8_t> expected = {0, 0, 5, 0, 0, 0, 0xAD, 0xDE, 9, 0, 0, 0};
    EXPECT_EQ(std::vector<uint8_t>(writer.GetBuffer(), writer.GetBuffer() + writer.GetSize()), expected);
}

} // namespace
} // namespace GAME
