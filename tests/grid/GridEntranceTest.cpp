// Grid entrances: the portal their mesh carries opens when they are placed, follows them and
// closes when they leave; the ids they save are their portal's, or the ones they read.
#include "GridFixtures.h"

#include "core/Intersection.h"
#include "core/Ray.h"
#include "terrain/GridEntrance.h"
#include "world/Level.h"
#include "world/Portal.h"

#include <gtest/gtest.h>

namespace GAME::GridTest {
namespace {

class GridEntranceTest : public ::testing::Test
{
protected:
    GridEntrance* Make(const char* record = SampleGridKit::entranceRecord)
    {
        auto* entrance = ObjectManager::Get()->CreateObjectFromFileAs<GridEntrance>(record);
        if (entrance)
            made.push_back(entrance);
        return entrance;
    }
    void TearDown() override
    {
        for (GridEntrance* entrance : made) {
            if (entrance->GetRegion())
                level().RemoveEntity(entrance);
            ObjectManager::Get()->DestroyObjectEx(entrance, __FILE__, __LINE__);
        }
    }
    Level& level() { return *region.GetLevelPtr(); }
    static std::vector<uint8_t> Written(const GridEntrance& entrance)
    {
        BinaryWriter writer(64);
        entrance.Write(writer);
        return std::vector<uint8_t>(writer.GetBuffer(), writer.GetBuffer() + writer.GetSize());
    }
    static std::vector<uint8_t> Ids(const UniqueId& portal, const UniqueId& connected, const RegionId& region)
    {
        BinaryWriter writer(64);
        writer.WriteUniqueId(portal);
        writer.WriteUniqueId(connected);
        region.Write(writer);
        return std::vector<uint8_t>(writer.GetBuffer(), writer.GetBuffer() + writer.GetSize());
    }

    GridEnvironment env;
    Region region{ABBox(Vec3(), Vec3(100, 100, 100))};
    std::vector<GridEntrance*> made;
};

TEST_F(GridEntranceTest, APlacedEntranceOpensItsPortalWithTheIdsItReadAndKeepsThemWhenItLeaves)
{
    const UniqueId id(1, 2, 3, 4), connected(5, 6, 7, 8);
    const RegionId other(9, 10, 11, 12);

    // Not placed: three null ids; then the ids it reads are the ones it writes.
    GridEntrance* entrance = Make();
    ASSERT_NE(entrance, nullptr);
    EXPECT_EQ(Written(*entrance), std::vector<uint8_t>(48, 0));
    const std::vector<uint8_t> stored = Ids(id, connected, other);
    BinaryReader reader(stored.data(), static_cast<unsigned>(stored.size()));
    entrance->Read(reader);
    EXPECT_EQ(Written(*entrance), stored);
    EXPECT_EQ(entrance->GetPortal(), nullptr);

    // Placed: the portal takes the ids, the mesh's triangles and the entrance's frame.
    Coords frame = Coords::Rotation(Vec3(0, 1, 0), 1.0f);
    frame.origin = Vec3(20, 0, 30);
    ASSERT_TRUE(level().AddEntity(entrance, frame));
    ASSERT_EQ(region.GetNumPortals(), 1);
    Portal* portal = entrance->GetPortal();
    ASSERT_NE(portal, nullptr);
    EXPECT_EQ(portal->GetId(), id);
    EXPECT_EQ(portal->GetConnectedPortalId(), connected);
    EXPECT_EQ(portal->GetConnectedRegionId(), other);
    EXPECT_EQ(portal->GetCoords(), frame);
    EXPECT_EQ(portal->GetTriangles().size(), 2u);
    EXPECT_EQ(Written(*entrance), stored);
    // Its mesh is hit by rays and collided with where it stands.
    ASSERT_NE(entrance->GetPhysicsMesh(), nullptr);
    Intersection hit;
    const Vec3 post = frame.TransformPoint(Vec3(-SampleGridKit::doorHalfWidth - 0.25f, 1, 5));
    entrance->GetIntersection(Ray(post, frame.TransformVector(Vec3(0, 0, -1))), hit, physicsSurfaceAny);
    EXPECT_NEAR(hit.distance, 5.0f - SampleGridKit::wallThickness, 1e-4f);
    EXPECT_TRUE(entrance->GetRegionBoundingBox().ContainsPoint(frame.origin));

    // The editor links it elsewhere: the portal's ids are written.
    portal->SetConnectedPortalId(UniqueId(42, 0, 0, 0));
    EXPECT_EQ(Written(*entrance), Ids(id, UniqueId(42, 0, 0, 0), other));

    // Moved, the portal follows.
    const Coords moved = Coords::Translation(Vec3(-5, 0, 2));
    level().MoveEntity(entrance, moved);
    EXPECT_EQ(portal->GetCoords(), moved);

    // Taken out of the level: the portal closes and its ids stay with the entrance.
    level().RemoveEntity(entrance);
    EXPECT_EQ(region.GetNumPortals(), 0);
    EXPECT_EQ(entrance->GetPortal(), nullptr);
    EXPECT_EQ(Written(*entrance), Ids(id, UniqueId(42, 0, 0, 0), other));
    EXPECT_EQ(entrance->GetConnectedPortalId(), UniqueId(42, 0, 0, 0));
}

TEST_F(GridEntranceTest, EntrancesWithoutIdsOrWithoutAPortalMeshWriteWhatTheyHave)
{
    // No stored id: the portal gets one of its own, which is then written and kept.
    GridEntrance* fresh = Make();
    ASSERT_NE(fresh, nullptr);
    ASSERT_TRUE(level().AddEntity(fresh, Coords()));
    ASSERT_NE(fresh->GetPortal(), nullptr);
    const UniqueId given = fresh->GetPortal()->GetId();
    EXPECT_FALSE(given.IsNull());
    EXPECT_EQ(Written(*fresh), Ids(given, UniqueId(), RegionId()));
    level().RemoveEntity(fresh);
    EXPECT_EQ(fresh->GetPortalId(), given);

    // A mesh without a portal opens none; the entrance writes the ids it read.
    GridEntrance* plain = Make(plainEntrance);
    ASSERT_NE(plain, nullptr);
    const std::vector<uint8_t> stored = Ids(UniqueId(3, 3, 3, 3), UniqueId(4, 4, 4, 4), RegionId(5, 5, 5, 5));
    BinaryReader reader(stored.data(), static_cast<unsigned>(stored.size()));
    plain->Read(reader);
    ASSERT_TRUE(level().AddEntity(plain, Coords()));
    EXPECT_EQ(plain->GetPortal(), nullptr);
    EXPECT_EQ(region.GetNumPortals(), 0);
    EXPECT_EQ(Written(*plain), stored);

    // Ids cut short are dropped with a line; nothing is read past them.
    const std::vector<uint8_t> cut(stored.begin(), stored.begin() + 20);
    BinaryReader shortReader(cut.data(), static_cast<unsigned>(cut.size()));
    env.log.Clear();
    plain->Read(shortReader);
    EXPECT_EQ(Written(*plain), std::vector<uint8_t>(48, 0));
    EXPECT_TRUE(env.log.Contains("cut short"));
}

} // namespace
} // namespace GAME::GridTest
