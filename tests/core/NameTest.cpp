#include "core/Name.h"
#include "core/Object.h"

#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <new>
#include <string>

namespace GAME {
namespace {

// The digest bytes in order, rebuilt from the little-endian words.
std::string Hex(const Name& name)
{
    std::string text;
    char byte[3];
    for (int i = 0; i < 16; ++i) {
        std::snprintf(byte, sizeof(byte), "%02x", (name.GetDigest()[i / 4] >> (8 * (i % 4))) & 0xFF);
        text += byte;
    }
    return text;
}

TEST(Name, MatchesTheMd5TestSuiteWithLittleEndianWords)
{
    const char* suite[][2] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& entry : suite)
        EXPECT_EQ(Hex(Name::Create(entry[0])), entry[1]) << '"' << entry[0] << '"';

    // MD5("abc") = 90 01 50 98 3c d2 4f b0 d6 96 3f 7d 28 e1 7f 72
    EXPECT_EQ(Name::Create("abc").GetMD5(),
              (std::vector<unsigned int>{0x98500190u, 0xb04fd23cu, 0x7d3f96d6u, 0x727fe128u}));
    EXPECT_EQ(Name::Create("abc").Hash(), 0x98500190u);
}

TEST(Name, TextIsHashedUnchanged)
{
    EXPECT_NE(Name::Create(""), Name::noName);
    EXPECT_NE(Name::Create("Entity"), Name::Create("entity"));
    EXPECT_NE(Name::Create("records/a.dbr"), Name::Create("records\\a.dbr"));
    EXPECT_EQ(Name::Create(nullptr), Name::Create(""));
}

TEST(Name, DefaultConstructionIsAllZeroEvenOverDirtyStorage)
{
    alignas(Name) unsigned char storage[sizeof(Name)];
    std::memset(storage, 0xAB, sizeof(storage));
    Name* name = new (storage) Name;
    EXPECT_EQ(name->GetMD5(), (std::vector<unsigned int>{0, 0, 0, 0}));
}

TEST(Name, OnlyWordZeroOrdersButAllWordsCompareEqual)
{
    const unsigned int a[4] = {7, 1, 2, 3}, b[4] = {7, 1, 2, 4}, high[4] = {0x80000000u, 0, 0, 0};
    Name x, y, h;
    x.SetDigest(a);
    y.SetDigest(b);
    h.SetDigest(high);
    EXPECT_FALSE(x == y);
    EXPECT_TRUE(x != y);
    EXPECT_FALSE(x < y);
    EXPECT_FALSE(y < x);
    EXPECT_TRUE(x < h); // unsigned
    EXPECT_FALSE(h < x);
}

TEST(Name, SetMd5CopiesAtMostFourWordsAndKeepsTheRest)
{
    Name name = Name::Create("abc");
    name.SetMD5({1, 2});
    EXPECT_EQ(name.GetMD5(), (std::vector<unsigned int>{1, 2, 0x7d3f96d6u, 0x727fe128u}));
    name.SetMD5({9, 8, 7, 6, 5});
    EXPECT_EQ(name.GetMD5(), (std::vector<unsigned int>{9, 8, 7, 6}));
}

class PlainObject : public Object
{
public:
    ~PlainObject() override = default;
};

TEST(Object, NameHashStartsEmptyAndFollowsTheName)
{
    PlainObject object;
    EXPECT_EQ(object.GetObjectNameHash(), 0u);
    EXPECT_EQ(object.GetObjectId(), 0u);
    object.SetObjectName("Records/Creatures/Boar.dbr");
    object.SetObjectId(0x10000005u);
    EXPECT_EQ(object.GetObjectNameHash(), Name::Create("Records/Creatures/Boar.dbr").Hash());
    PlainObject copy(object);
    EXPECT_EQ(copy.GetObjectNameHash(), object.GetObjectNameHash());
    EXPECT_EQ(copy.GetObjectId(), 0x10000005u);
}

} // namespace
} // namespace GAME
