#include "world/InstanceGroup.h"
#include "common/LogCapture.h"
#include "core/UniqueIdMap.h"
#include "core/WorldRay.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"
#include "data/ChunkedBinaryWriter.h"
#include "graphics/WorldPrimitiveDrawer.h"
#include "world/World.h"

#include "WorldFixtures.h"

#include <gtest/gtest.h>

namespace GAME {
namespace {

RTTI_ClassInfo gCreature("IgTestCreature", nullptr, nullptr);
RTTI_ClassInfo gMonster("IgTestMonster", &gCreature, nullptr);
RTTI_ClassInfo gChest("IgTestChest", nullptr, nullptr);

// Records the boxes and lines that groups draw.
class DrawRecorder : public WorldPrimitiveDrawer
{
public:
    void SetRegion(Region*) override {}
    void Begin(int primitive) override { current = primitive; }
    void SetColor(const Color&) override {}
    void SetVertex(const Vec3& p) override
    {
        if (current == PRIMITIVE_LINE_LIST)
            lines.push_back(p);
    }
    void End() override {}
    void Flush() override {}
    void SetOverlayShader() override {}
    void DrawSolidCircle(const Vec3&, float, int) override {}
    void DrawArrow(const Vec3&, const Vec3&) override {}
    void RenderDebugBox(Region* region, const ABBox& box, const Color&) override
    {
        boxes.emplace_back(region, box);
    }

    int current = -1;
    std::vector<Vec3> lines;
    std::vector<std::pair<Region*, ABBox>> boxes;
};

class InstanceGroupTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        InstanceGroupManager::Destroy();
        manager = InstanceGroupManager::Get();
        manager->AddGroupAffiliation("Patrol", &gCreature);
        manager->AddGroupAffiliation("Loot", &gChest);
    }
    void TearDown() override
    {
        for (FakeEntityPtr& e : entities)
            UniqueIdMap::Get()->RemoveEntity(e->id);
        InstanceGroupManager::Destroy();
    }

    using FakeEntityPtr = std::unique_ptr<GAME::Test::FakeEntity>;

    // An entity of the class in the region, known to the unique-id map.
    GAME::Test::FakeEntity* Spawn(const RTTI_ClassInfo* classInfo, Region* region, const Vec3& position)
    {
        entities.push_back(std::make_unique<GAME::Test::FakeEntity>());
        GAME::Test::FakeEntity* e = entities.back().get();
        e->id = UniqueId::CreateUnique();
        e->region = region;
        e->position = position;
        e->classInfo = classInfo;
        UniqueIdMap::Get()->AddEntity(e->id, e->AsEntity());
        return e;
    }

    std::vector<uint8_t> SaveBlock() const
    {
        ChunkedBinaryWriter writer(256);
        manager->Save(writer);
        return writer.GetBytes();
    }

    GAME::Test::FakeEntityAccess access;
    InstanceGroupManager* manager = nullptr;
    std::vector<FakeEntityPtr> entities;
};

TEST_F(InstanceGroupTest, MembersFollowTheGroupTypeAndOrder)
{
    World world;
    Region* region =
        world.GetRegion(world.AddRegion("a.lvl", IntVec3(), ABBox(Vec3(), Vec3(10, 10, 10)), RegionId()));
    std::vector<std::string> types;
    manager->GetGroupTypes(types);
    ASSERT_EQ(types, (std::vector<std::string>{"Loot", "Patrol"}));
    EXPECT_EQ(manager->GetKeyIndex("Patrol"), 1);
    EXPECT_EQ(manager->GetKeyIndex("None"), -1);

    InstanceGroup* group = manager->CreateNewGroup();
    EXPECT_EQ(group->GetName(), "New Group");
    EXPECT_EQ(group->GetType(), "Loot");
    group->SetType("Patrol");
    GAME::Test::FakeEntity* a = Spawn(&gMonster, region, Vec3(1, 2, 3));
    GAME::Test::FakeEntity* b = Spawn(&gCreature, region, Vec3(4, 5, 6));
    GAME::Test::FakeEntity* chest = Spawn(&gChest, region, Vec3());
    group->AddEntity(a->AsEntity());
    group->AddEntity(b->AsEntity());
    group->AddEntity(a->AsEntity());     // already a member
    group->AddEntity(chest->AsEntity()); // not admitted by the type
    ASSERT_EQ(group->GetNumID(), 2);
    EXPECT_EQ(group->GetEntityData(b->id)->position, Vec3(4, 5, 6));
    EXPECT_EQ(group->GetEntityData(0)->regionId, region->GetId());

    EXPECT_FALSE(group->MoveEntityDown(1));
    EXPECT_FALSE(group->MoveEntityUp(0));
    EXPECT_TRUE(group->MoveEntityDown(0));
    EXPECT_EQ(group->GetID(0), b->id);
    EXPECT_EQ(group->GetEntityData(0)->position, Vec3(4, 5, 6));

    a->position = Vec3(9, 9, 9);
    manager->UpdateEntityData(a->AsEntity());
    EXPECT_EQ(manager->GetEntityData(a->id)->position, Vec3(9, 9, 9));

    InstanceGroup* other = manager->CreateNewGroup();
    other->SetType("Patrol");
    other->AddEntity(a->AsEntity());
    std::vector<int> holding;
    manager->GetGroupsThatContain(a->id, holding);
    EXPECT_EQ(holding, (std::vector<int>{0, 1}));
    manager->DisavowAllKnowledge(a->AsEntity());
    EXPECT_EQ(group->GetNumID(), 1);
    EXPECT_EQ(other->GetNumID(), 0);

    group->SetType("Loot");
    EXPECT_EQ(group->GetNumID(), 0);
    EXPECT_EQ(group->GetEntityData(0), nullptr);
}

TEST_F(InstanceGroupTest, DeletingAGroupRemovesTheLinksToIt)
{
    InstanceGroup* a = manager->CreateNewGroup();
    InstanceGroup* b = manager->CreateNewGroup();
    InstanceGroup* c = manager->CreateNewGroup();
    a->AddChild(b);
    a->AddChild(b);
    a->AddChild(c);
    c->AddChild(b);
    EXPECT_EQ(a->GetNumChildren(), 2);
    const UniqueId cId = c->GetGroupID();
    manager->DeleteGroup(1);
    ASSERT_EQ(manager->GetNumGroups(), 2);
    ASSERT_EQ(a->GetNumChildren(), 1);
    EXPECT_EQ(a->GetChildId(0), cId);
    EXPECT_EQ(c->GetNumChildren(), 0);
    EXPECT_EQ(manager->GetGroup(cId), c);
}

TEST_F(InstanceGroupTest, CentreIsFoundFromLoadedMembersAndPicksGroups)
{
    World world;
    Region* near = world.GetRegion(
        world.AddRegion("near.lvl", IntVec3(0, 0, 0), ABBox(Vec3(0, 0, 0), Vec3(5, 5, 5)), RegionId()));
    Region* far = world.GetRegion(
        world.AddRegion("far.lvl", IntVec3(100, 0, 0), ABBox(Vec3(10, 0, 0), Vec3(5, 5, 5)), RegionId()));
    manager->CreateNewGroup(); // never has a member: no centre
    InstanceGroup* group = manager->CreateNewGroup();
    group->SetType("Patrol");
    GAME::Test::FakeEntity* a = Spawn(&gMonster, near, Vec3());
    GAME::Test::FakeEntity* b = Spawn(&gMonster, far, Vec3());
    a->box = ABBox(Vec3(2, 0, 0), Vec3(1, 1, 1));
    b->box = ABBox(Vec3(-4, 0, 6), Vec3(3, 3, 3));
    group->AddEntity(a->AsEntity());
    group->AddEntity(b->AsEntity());
    // The members' own boxes lie about (2, 0, 0) and (96, 0, 6) in world space (not their regions'
    // boxes, about 0 and 110): the centre is (49, 0, 3), held in the first member's region.
    ASSERT_EQ(group->GetCenter().GetRegion(), near);
    EXPECT_EQ(group->GetCenter().GetRegionPosition(), Vec3(49, 0, 3));

    // A ray from the far region's space that passes the centre picks the group.
    EXPECT_EQ(manager->WorldGroupSelection(WorldRay(WorldVec3(far, Vec3(-51, 10, 3)), Vec3(0, -1, 0))), 1);
    EXPECT_EQ(manager->WorldGroupSelection(WorldRay(WorldVec3(far, Vec3(-50, 10, 3)), Vec3(0, -1, 0))), -1);

    // Drawing shows each member's own box, with a line from its centre to the group's centre.
    DrawRecorder drawer;
    group->Render(near, drawer, true);
    ASSERT_EQ(drawer.boxes.size(), 2u);
    EXPECT_EQ(drawer.boxes[0].first, near);
    EXPECT_EQ(drawer.boxes[0].second, a->box);
    EXPECT_EQ(drawer.boxes[1].first, far);
    EXPECT_EQ(drawer.boxes[1].second, b->box);
    EXPECT_EQ(drawer.lines,
              (std::vector<Vec3>{Vec3(2, 0, 0), Vec3(49, 0, 3), Vec3(96, 0, 6), Vec3(49, 0, 3)}));

    // Regions going away leave no centre behind.
    world.Unload();
    EXPECT_EQ(group->GetCenter().GetRegion(), nullptr);
}

TEST_F(InstanceGroupTest, BlockRoundTripOlderVersionsAndAppending)
{
    InstanceGroup* a = manager->CreateNewGroup();
    a->SetName("Guards");
    a->SetType("Patrol");
    InstanceGroup* b = manager->CreateNewGroup();
    b->SetName("Chests");
    a->AddChild(b);
    // Members of unloaded levels are kept by id with their last placement.
    a->AddEntity(Spawn(&gMonster, nullptr, Vec3(1, 2, 3))->AsEntity());
    ASSERT_EQ(a->GetNumID(), 1);
    a->GetEntityData(0)->regionId = RegionId(0x11, 0x22, 0x33, 0x44);
    const std::vector<uint8_t> block = SaveBlock();

    // The ids are stored first word first.
    BinaryReader peek(block.data(), static_cast<unsigned>(block.size()));
    peek.Skip(4 + 4 + 4);
    std::string text;
    peek.ReadString(text);
    peek.ReadString(text);
    peek.Skip(4);
    EXPECT_EQ(peek.ReadUniqueId(), a->GetID(0));
    EXPECT_EQ(peek.ReadUInt32(), 0x11u);

    const UniqueId aId = a->GetGroupID(), bId = b->GetGroupID(), member = a->GetID(0);
    manager->DeleteGroup(0);
    BinaryReader reader(block.data(), static_cast<unsigned>(block.size()));
    ASSERT_TRUE(manager->Load(reader, false));
    ASSERT_EQ(manager->GetNumGroups(), 2);
    InstanceGroup* guards = manager->GetGroup("Guards");
    ASSERT_NE(guards, nullptr);
    EXPECT_EQ(guards->GetGroupID(), aId);
    EXPECT_EQ(guards->GetType(), "Patrol");
    ASSERT_EQ(guards->GetNumID(), 1);
    EXPECT_EQ(guards->GetID(0), member);
    EXPECT_EQ(guards->GetEntityData(0)->regionId, RegionId(0x11, 0x22, 0x33, 0x44));
    EXPECT_EQ(guards->GetEntityData(0)->position, Vec3(1, 2, 3));
    ASSERT_EQ(guards->GetNumChildren(), 1);
    EXPECT_EQ(guards->GetChildId(0), bId);

    // Version 1 groups have no id of their own and no links.
    BinaryWriter old(64);
    old.WriteUInt32(0);
    old.WriteUInt32(1);
    old.WriteUInt32(1);
    old.WriteString("Old");
    old.WriteString("Loot");
    old.WriteUInt32(0);
    BinaryReader oldReader(old.GetBuffer(), old.GetSize());
    ASSERT_TRUE(manager->Load(oldReader, true));
    ASSERT_EQ(manager->GetNumGroups(), 3);
    EXPECT_EQ(manager->GetGroup(0)->GetName(), "Guards");
    InstanceGroup* oldGroup = manager->GetGroup(2);
    EXPECT_EQ(oldGroup->GetName(), "Old");
    EXPECT_EQ(oldGroup->GetType(), "Loot");
    EXPECT_EQ(oldGroup->GetNumChildren(), 0);
    EXPECT_FALSE(oldGroup->GetGroupID().IsNull());
    EXPECT_NE(oldGroup->GetGroupID(), aId);
}

TEST_F(InstanceGroupTest, CorruptBlocksAreRefusedAndKeepTheGroups)
{
    InstanceGroup* a = manager->CreateNewGroup();
    a->SetType("Patrol");
    a->AddEntity(Spawn(&gMonster, nullptr, Vec3())->AsEntity());
    a->AddChild(manager->CreateNewGroup());
    const std::vector<uint8_t> good = SaveBlock();

    auto refused = [&](const std::vector<uint8_t>& bytes) {
        GAME::Test::LogCapture log;
        BinaryReader reader(bytes.data(), static_cast<unsigned>(bytes.size()));
        return !manager->Load(reader, false) && manager->GetNumGroups() == 2 && manager->GetGroup(0) == a &&
               log.Count() > 0;
    };
    for (size_t size = 0; size < good.size(); ++size)
        EXPECT_TRUE(refused(std::vector<uint8_t>(good.begin(), good.begin() + size))) << size;
    std::vector<uint8_t> groups = good;
    groups[7] = 0x10;
    EXPECT_TRUE(refused(groups));
    // The first group's member count ("New Group" and "Patrol" precede it).
    std::vector<uint8_t> members = good;
    members[12 + 4 + 9 + 4 + 6 + 3] = 0x10;
    EXPECT_TRUE(refused(members));
}

} // namespace
} // namespace GAME
