#include "scene/NameTable.h"

#include <gtest/gtest.h>
#include <set>
#include <string>
#include <vector>

namespace GAME {
namespace {

// A name with the given first word (the rest made distinct by the tag).
Name KeyWithHash(unsigned hash, unsigned tag)
{
    const unsigned digest[4] = {hash, tag, 0x5a5a5a5au, tag + 1};
    Name name;
    name.SetDigest(digest);
    return name;
}

TEST(NameTableTest, ProbesVisitEverySlotOnceAndCollidingKeysTakeSuccessiveProbes)
{
    for (unsigned hash : {0u, 1u, 250u, 251u, 0xFFFFFFFFu, 123456789u}) {
        std::set<int32_t> seen;
        for (uint32_t i = 0; i < 251; ++i)
            seen.insert(NameTable<int>::ProbeSlot(hash, i));
        EXPECT_EQ(seen.size(), 251u) << hash;
    }
    // Equal modulo 251 and 250 (they differ by 251 * 250): the same probe sequence.
    const unsigned h = 77;
    const Name a = KeyWithHash(h, 1), b = KeyWithHash(h + 251u * 250u, 2), c = KeyWithHash(h, 3);
    NameTable<int> table;
    EXPECT_EQ(table.Find(a), -1); // no slots yet
    EXPECT_FALSE(table.HasSlots());
    EXPECT_EQ(table.Insert(a, 10), NameTable<int>::ProbeSlot(h, 0));
    EXPECT_EQ(table.Insert(b, 20), NameTable<int>::ProbeSlot(h, 1));
    EXPECT_EQ(table.Insert(c, 30), NameTable<int>::ProbeSlot(h, 2));
    EXPECT_EQ(*table.FindValue(b), 20);
    EXPECT_EQ(*table.FindValue(c), 30);
    // Inserting an equal key replaces its value in the same slot.
    EXPECT_EQ(table.Insert(b, 21), NameTable<int>::ProbeSlot(h, 1));
    EXPECT_EQ(*table.FindValue(b), 21);
    // The empty name cannot be stored.
    EXPECT_EQ(table.Insert(Name::noName, 5), -1);
    EXPECT_EQ(table.Find(Name::noName), -1);
}

TEST(NameTableTest, HoldsAtMost251KeysAndWalksInSlotOrder)
{
    NameTable<int> table;
    std::vector<Name> keys;
    for (int i = 0; i < 251; ++i) {
        keys.push_back(Name::Create(("bone" + std::to_string(i)).c_str()));
        ASSERT_GE(table.Insert(keys.back(), i), 0);
    }
    const Name extra = Name::Create("bone251");
    EXPECT_EQ(table.Insert(extra, 251), -1);
    EXPECT_EQ(table.Find(extra), -1);
    // Every earlier key is still there and can be overwritten.
    EXPECT_GE(table.Insert(keys[100], -100), 0);
    EXPECT_EQ(*table.FindValue(keys[100]), -100);

    NameTable<int> few;
    const Name x = KeyWithHash(200, 1), y = KeyWithHash(3, 2), z = KeyWithHash(100, 3);
    few.Insert(x, 1);
    few.Insert(y, 2);
    few.Insert(z, 3);
    EXPECT_EQ(few.GetLowestUsedSlot(), 3);
    std::vector<int> walked;
    for (int32_t slot = few.First(); slot >= 0; slot = few.Next(slot))
        walked.push_back(few.GetSlot(slot).value);
    EXPECT_EQ(walked, (std::vector<int>{2, 3, 1})); // slots 3, 100, 200

    // Copies are deep; Reset keeps the slots but empties them; copying an empty table empties.
    NameTable<int> copy = few;
    few.Insert(x, 9);
    EXPECT_EQ(*copy.FindValue(x), 1);
    few.Reset();
    EXPECT_TRUE(few.HasSlots());
    EXPECT_TRUE(few.IsEmpty());
    EXPECT_EQ(few.First(), -1);
    EXPECT_EQ(few.Find(y), -1);
    copy = NameTable<int>();
    EXPECT_EQ(copy.Find(y), -1);
    EXPECT_TRUE(copy.IsEmpty());
}

} // namespace
} // namespace GAME
