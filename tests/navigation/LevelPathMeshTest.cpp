// Levels building their path meshes inside a world of terrain regions whose levels load from files.
#include "common/LogCapture.h"
#include "graphics/WorldPrimitiveDrawer.h"
#include "world/StreamingWorld.h"

#include "core/Color.h"
#include "core/WorldVec3.h"
#include "navigation/Path.h"
#include "navigation/PathFinder.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <map>

namespace GAME {
namespace {

using Test::kRegionSize;

std::vector<uint8_t> Bytes(const BinaryWriter& writer)
{
    return std::vector<uint8_t>(writer.GetBuffer(), writer.GetBuffer() + writer.GetSize());
}

// A static solid block that keeps agents away: one collision box about its origin.
class Rock : public Entity
{
public:
    explicit Rock(const Vec3& half) : m_half(half) {}
    bool IsStatic() const override { return true; }
    bool OccludesPathing() const override { return true; }
    bool GetIsPartOfLevel() const override { return true; }
    int GetNumCollisionBoxes() const override { return 1; }
    OBBox GetCollisionBox(int) const override
    {
        return OBBox(m_half, Coords::Translation(GetCoords().GetOrigin().GetRegionPosition()));
    }
    void UpdateBoundingBox() override
    {
        SetRegionBoundingBox(ABBox(GetCoords().GetOrigin().GetRegionPosition(), m_half));
    }

private:
    Vec3 m_half;
};

// Records what is drawn: vertices by colour and primitive kind, and the flushes.
class RecordingDrawer : public WorldPrimitiveDrawer
{
public:
    void SetRegion(Region*) override {}
    void Begin(int primitive) override { m_primitive = primitive; }
    void SetColor(const Color& color) override { m_color = color; }
    void SetVertex(const Vec3& position) override
    {
        vertices[{m_primitive, m_color.r, m_color.g, m_color.b, m_color.a}].push_back(position);
    }
    void End() override {}
    void Flush() override { ++flushes; }
    void SetOverlayShader() override {}
    void DrawSolidCircle(const Vec3&, float, int) override {}
    void DrawArrow(const Vec3&, const Vec3&) override {}
    void RenderDebugBox(Region*, const ABBox&, const Color&) override {}

    using Key = std::tuple<int, float, float, float, float>;
    std::map<Key, std::vector<Vec3>> vertices;
    int flushes = 0;

private:
    int m_primitive = -1;
    Color m_color;
};

// Regions of 64 x 64 units of terrain, "levels/r<i>.lvl", at the offsets given; levels load on
// demand from the files.
class LevelPathMeshTest : public ::testing::Test
{
protected:
    void SetUp() override { World::SetCurrent(&world); }
    void TearDown() override
    {
        world.Unload();
        ObjectManager::Get()->DestroyPendingObjects(UINT_MAX);
        World::SetCurrent(nullptr);
        PathFinder::Destroy();
    }

    Region* AddRegion(const IntVec3& offset, const std::vector<uint8_t>& image)
    {
        const std::string name = "levels/r" + std::to_string(world.GetNumRegions()) + ".lvl";
        EXPECT_TRUE(services.Put(name, image));
        const float half = kRegionSize / 2;
        const int index = world.AddRegion(name.c_str(), offset,
                                          ABBox(Vec3(half, 0, half), Vec3(half, 30, half)), RegionId());
        return world.GetRegion(index);
    }
    Region* AddTerrainRegion(const IntVec3& offset)
    {
        return AddRegion(offset, GAME::Test::TerrainLevelImage({}));
    }
    // A level without ground: only a space of the size.
    Region* AddEmptyRegion(const IntVec3& offset)
    {
        Level level(nullptr);
        level.NewSpace(Vec2(kRegionSize / 2, kRegionSize / 2));
        BinaryWriter writer(1024);
        level.SaveToMemory(writer, false);
        return AddRegion(offset, Bytes(writer));
    }

    Rock* PlaceRock(Level* level, const Vec3& at, const Vec3& half)
    {
        auto* rock = new Rock(half);
        level->AddEntity(rock, Coords::Translation(at));
        rock->InitialUpdate();
        return rock;
    }

    GAME::Test::StreamingServices services;
    World world;
};

TEST_F(LevelPathMeshTest, BuildsOverTheNeighboursAndUnloadsWhatItLoaded)
{
    Region* home = AddTerrainRegion(IntVec3(0, 0, 0));
    Region* east = AddTerrainRegion(IntVec3(64, 0, 0));     // not loaded: loaded for the build
    Region* north = AddTerrainRegion(IntVec3(0, 0, 64));    // loaded before: stays loaded
    Region* corner = AddTerrainRegion(IntVec3(64, 0, 64));  // diagonal, within the margin
    Region* distant = AddTerrainRegion(IntVec3(256, 0, 0)); // out of reach: never loaded
    Level* level = home->GuaranteedGetLevel(false);
    ASSERT_TRUE(level);
    ASSERT_TRUE(north->GuaranteedGetLevel(false));
    // East was unloaded once with its state kept; the build must keep it for the next load.
    ASSERT_TRUE(east->GuaranteedGetLevel(false));
    east->UnloadLevel(true);
    ASSERT_TRUE(east->HasKeptState());

    // Two rocks leaning on each other block the way; a third floating overhead does not.
    PlaceRock(level, Vec3(20, 1, 20), Vec3(1, 1, 1));
    PlaceRock(level, Vec3(22, 1, 20), Vec3(1, 1, 1));
    PlaceRock(level, Vec3(40, 5, 40), Vec3(1, 1, 1));

    GAME::Test::LogCapture log;
    ASSERT_TRUE(level->CreatePathMesh());
    // The build box is the level's box grown by 8 units, centred on it (the flat new terrain lies
    // at height 0, and the level adds 30 above and below).
    const IntSpaceBox box = level->GetPathMeshBuildBox();
    EXPECT_EQ(box, IntSpaceBox(IntVec3(32, 0, 32), IntVec3(40, 38, 40)));
    EXPECT_EQ(level->GetPathMesh().GetBuildBox(), box);
    EXPECT_TRUE(level->GetPathMesh().HasMesh());
    EXPECT_EQ(PathFinder::Get()->GetMesh(home), &level->GetPathMesh());

    // Loaded for the build and gone again by the answer; the others as they were.
    EXPECT_EQ(east->GetLevelPtr(), nullptr);
    EXPECT_EQ(corner->GetLevelPtr(), nullptr);
    EXPECT_TRUE(east->HasKeptState());
    EXPECT_NE(north->GetLevelPtr(), nullptr);
    EXPECT_TRUE(north->IsLevelLoaded());
    EXPECT_EQ(distant->GetLevelPtr(), nullptr);
    EXPECT_TRUE(log.Contains("Forcing load of level levels/r1.lvl"));
    EXPECT_TRUE(log.Contains("Forcing load of level levels/r3.lvl"));
    EXPECT_FALSE(log.Contains("levels/r4.lvl"));
    // Only the temporary levels' meshes could have joined the finder: none stays.
    EXPECT_EQ(PathFinder::Get()->GetNumMeshes(), 1);

    // The faces reach 8 units into the neighbours' ground (there is none west and south).
    float lo[2] = {1e9f, 1e9f}, hi[2] = {-1e9f, -1e9f};
    for (const PathFace& face : level->GetPathFaces())
        for (const Vec3& c : face.corners) {
            lo[0] = std::min(lo[0], c.x), hi[0] = std::max(hi[0], c.x);
            lo[1] = std::min(lo[1], c.z), hi[1] = std::max(hi[1], c.z);
        }
    EXPECT_EQ(lo[0], -32.0f);
    EXPECT_EQ(hi[0], 40.0f);
    EXPECT_EQ(lo[1], -32.0f);
    EXPECT_EQ(hi[1], 40.0f);
    // The ground of four regions is one surface, joined across the borders.
    EXPECT_TRUE(std::all_of(level->GetPathFaces().begin(), level->GetPathFaces().end(),
                            [](const PathFace& f) { return f.IsWalkable() && f.group == 0; }));
    ASSERT_EQ(level->GetPathObstacles().size(), 2u);

    // Floors: in the margin of the east field, none under the rocks, one under the floating rock.
    WorldVec3 floor;
    EXPECT_TRUE(level->GetPathMesh().FindFloorPosition(WorldVec3(east, Vec3(4, 0.5f, 32)), 2.0f, floor));
    EXPECT_EQ(floor.GetRegion(), east);
    EXPECT_FALSE(level->GetPathMesh().FindFloorPosition(WorldVec3(home, Vec3(21, 0.5f, 20)), 1.0f, floor));
    EXPECT_TRUE(level->GetPathMesh().FindFloorPosition(WorldVec3(home, Vec3(40, 0.5f, 40)), 2.0f, floor));
    WorldVec3 dropped(home, Vec3(10, 1.5f, 10));
    EXPECT_TRUE(dropped.PutOnFloor());
    EXPECT_NEAR(dropped.GetRegionPosition().y, 0.0f, 0.25f);

    // Drawn in the region's space: blue face lines, yellow boxes, flushed.
    RecordingDrawer drawer;
    level->RenderPathMeshes(drawer, Coords());
    const auto& lines = drawer.vertices[{WorldPrimitiveDrawer::PRIMITIVE_LINE_LIST, 0.0f, 0.0f, 1.0f, 1.0f}];
    EXPECT_EQ(lines.size(), 6 * level->GetPathFaces().size());
    EXPECT_TRUE(std::all_of(lines.begin(), lines.end(),
                            [](const Vec3& v) { return v.x >= 0 && v.x <= 72 && v.z >= 0 && v.z <= 72; }));
    const auto& solid =
        drawer.vertices[{WorldPrimitiveDrawer::PRIMITIVE_TRIANGLE_LIST, 1.0f, 1.0f, 0.0f, 0.2f}];
    ASSERT_EQ(solid.size(), 2u * 36u);
    EXPECT_TRUE(std::all_of(solid.begin(), solid.end(), [](const Vec3& v) {
        return v.x >= 19 && v.x <= 23 && v.y >= 0 && v.y <= 2 && v.z >= 19 && v.z <= 21;
    }));
    EXPECT_EQ((drawer.vertices[{WorldPrimitiveDrawer::PRIMITIVE_LINE_LIST, 1.0f, 1.0f, 0.0f, 1.0f}].size()),
              2u * 24u);
    EXPECT_GE(drawer.flushes, static_cast<int>(lines.size() / 300));
}

TEST_F(LevelPathMeshTest, TheMeshTravelsWithTheLevelFile)
{
    Region* home = AddTerrainRegion(IntVec3(-64, 0, 128));
    Level* level = home->GuaranteedGetLevel(false);
    ASSERT_TRUE(level && level->CreatePathMesh());
    BinaryWriter built(1024);
    level->GetPathMesh().Write(built);
    ASSERT_TRUE(level->Save(home->GetName().c_str(), false));

    // Unloading takes the mesh out of the finder; the next load brings it back with the level.
    home->UnloadLevel(false);
    EXPECT_EQ(PathFinder::Get()->GetNumMeshes(), 0);
    EXPECT_EQ(PathFinder::Get()->GetMesh(home), nullptr);
    level = home->GuaranteedGetLevel(false);
    ASSERT_TRUE(level);
    ASSERT_TRUE(level->GetPathMesh().HasMesh());
    EXPECT_EQ(PathFinder::Get()->GetMesh(home), &level->GetPathMesh());
    BinaryWriter read(1024);
    level->GetPathMesh().Write(read);
    EXPECT_EQ(Bytes(read), Bytes(built));
    std::unique_ptr<Path> path(world.FindPath(0, WorldVec3(home, Vec3(5, 0, 5)),
                                              WorldVec3(home, Vec3(60, 0, 50)), Vec3(), 0.0f, 0.5f, 2.0f,
                                              45.0f, 0));
    ASSERT_TRUE(path);
    EXPECT_NEAR(path->GetLength(), std::hypot(55.0f, 45.0f), 0.5f);
}

TEST_F(LevelPathMeshTest, GroundlessLevelsAnswerTrueWithoutAMesh)
{
    Region* empty = AddEmptyRegion(IntVec3(1000, 0, 0));
    Region* neighbour = AddEmptyRegion(IntVec3(1064, 0, 0)); // no ground either
    Level* level = empty->GuaranteedGetLevel(false);
    ASSERT_TRUE(level);
    GAME::Test::LogCapture log;
    EXPECT_TRUE(level->CreatePathMesh());
    EXPECT_TRUE(log.Contains("Forcing load of level levels/r1.lvl"));
    EXPECT_FALSE(level->GetPathMesh().HasMesh());
    EXPECT_TRUE(level->GetPathFaces().empty());
    EXPECT_EQ(neighbour->GetLevelPtr(), nullptr);
    EXPECT_EQ(PathFinder::Get()->GetNumMeshes(), 0);
    // A level without a mesh writes no path mesh chunk.
    BinaryWriter writer(1024);
    ASSERT_TRUE(level->SaveToMemory(writer, false));
    Level reread(nullptr);
    ASSERT_TRUE(reread.Load(writer.GetBuffer(), static_cast<int>(writer.GetSize()), false));
    EXPECT_FALSE(reread.GetPathMesh().HasData());
}

} // namespace
} // namespace GAME
