#include "core/UniqueId.h"
#include "core/UniqueIdMap.h"

#include <gtest/gtest.h>
#include <set>

namespace GAME {
namespace {

TEST(UniqueId, PacksAGuidIntoFourWords)
{
    Platform::Guid guid;
    guid.data1 = 0x01234567u;
    guid.data2 = 0x89AB;
    guid.data3 = 0xCDEF;
    const uint8_t data4[8] = {0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE};
    for (int i = 0; i < 8; ++i)
        guid.data4[i] = data4[i];

    UniqueId id = UniqueId::FromGuid(guid);
    EXPECT_EQ(id.GetWord(0), 0x01234567u);
    EXPECT_EQ(id.GetWord(1), 0x89ABCDEFu);
    EXPECT_EQ(id.GetWord(2), 0x10325476u);
    EXPECT_EQ(id.GetWord(3), 0x98BADCFEu);
}

TEST(UniqueId, GeneratedIdsAreNeverNullAndDiffer)
{
    std::set<UniqueId> seen;
    for (int i = 0; i < 1000; ++i) {
        UniqueId id = UniqueId::CreateUnique();
        EXPECT_FALSE(id.IsNull());
        EXPECT_TRUE(seen.insert(id).second);
    }
    EXPECT_TRUE(UniqueId().IsNull());
}

// Entities are never dereferenced by the map, so any distinct addresses stand in for them.
Entity* FakeEntity(char& storage)
{
    return reinterpret_cast<Entity*>(&storage);
}

TEST(UniqueIdMap, FirstEntityUnderAnIdStays)
{
    char first = 0, second = 0;
    UniqueIdMap* map = UniqueIdMap::Get();
    ASSERT_NE(map, nullptr);
    EXPECT_EQ(UniqueIdMap::Get(), map);
    UniqueId id = UniqueId::CreateUnique();

    EXPECT_EQ(map->GetEntity(id), nullptr);
    map->AddEntity(id, FakeEntity(first));
    map->AddEntity(id, FakeEntity(second));
    EXPECT_EQ(map->GetEntity(id), FakeEntity(first));
    EXPECT_EQ(map->GetNumEntities(), 1u);

    map->RemoveEntity(UniqueId::CreateUnique()); // absent: nothing happens
    EXPECT_EQ(map->GetNumEntities(), 1u);
    map->RemoveEntity(id);
    EXPECT_EQ(map->GetEntity(id), nullptr);
    map->AddEntity(id, FakeEntity(second));
    EXPECT_EQ(map->GetEntity(id), FakeEntity(second));

    UniqueIdMap::Destroy();
    EXPECT_FALSE(UniqueIdMap::HasInstantiated());
    EXPECT_EQ(UniqueIdMap::Get()->GetEntity(id), nullptr);
    UniqueIdMap::Destroy();
}

} // namespace
} // namespace GAME
