// The faces of a path-mesh build: the connector and the terrain calculator.
#include "NavigationFixtures.h"

#include "data/BinaryReader.h"
#include "datakit/ImpassableWriter.h"
#include "navigation/ImpassableData.h"
#include "navigation/PathFaceConnector.h"
#include "navigation/TerrainPathMeshCalculator.h"
#include "terrain/Terrain.h"
#include "world/Level.h"

#include <cmath>
#include <gtest/gtest.h>

namespace GAME {
namespace {

TEST(PathFaceConnectorTest, JoinsSharedEdgesAndDropsWhatCannotBeUsed)
{
    std::vector<PathFace> faces;
    NavigationTest::AddFlatGround(faces, 0, 0, 1, 1); // 0, 1: one surface
    NavigationTest::AddFlatGround(faces, 1, 0, 2, 1); // 2, 3: joined to it along x = 1
    NavigationTest::AddFlatGround(faces, 5, 5, 6, 6); // 4, 5: a surface of its own
    faces.push_back(faces[0]);                        // a repeat
    faces.emplace_back(Vec3(0, 0, 0), Vec3(1, 0, 0), Vec3(2, 0, 0), PATH_FACE_WALKABLE); // a line
    faces.emplace_back(Vec3(0, 0, 0), Vec3(0, 0, 0), Vec3(1, 0, 1), PATH_FACE_WALKABLE); // a point twice
    faces.emplace_back(Vec3(0, NAN, 0), Vec3(1, 0, 0), Vec3(1, 0, 1), PATH_FACE_WALKABLE);
    faces.emplace_back(Vec3(0, 0, 0), Vec3(1, 0, 0), Vec3(1, 0, 1), 0u); // neither kind
    faces.emplace_back(Vec3(0, 0, 0), Vec3(0, 1, 0), Vec3(0, 1, 1), PATH_FACE_OBSTACLE);
    faces.push_back(faces[0]);
    faces.back().flags = PATH_FACE_OBSTACLE; // the same corners as an obstacle: kept

    EXPECT_EQ(PathFaceConnector::Connect(faces, 0.0f), 5u);
    ASSERT_EQ(faces.size(), 8u);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(faces[static_cast<size_t>(i)].group, 0) << i;
    EXPECT_EQ(faces[4].group, 1);
    EXPECT_EQ(faces[5].group, 1);
    EXPECT_EQ(faces[6].group, -1);
    EXPECT_EQ(faces[7].group, -1);
    // The two faces of a square meet along their diagonal; the squares along x = 1.
    const auto joined = [&](size_t a, size_t b) {
        const auto& n = faces[a].neighbours;
        return n[0] == static_cast<int>(b) || n[1] == static_cast<int>(b) || n[2] == static_cast<int>(b);
    };
    EXPECT_TRUE(joined(0, 1));
    EXPECT_TRUE(joined(1, 3) || joined(0, 3) || joined(1, 2) || joined(0, 2));
    EXPECT_FALSE(joined(0, 4));
    EXPECT_EQ(faces[6].neighbours[0], -1); // obstacles are not joined

    // Corners within the weld distance become one corner, so faces a hair apart join.
    std::vector<PathFace> close;
    NavigationTest::AddFlatGround(close, 0, 0, 1, 1);
    NavigationTest::AddFlatGround(close, 1.004f, 0, 2, 1);
    PathFaceConnector::Connect(close, 0.0f);
    EXPECT_NE(close[0].group, close[2].group);
    PathFaceConnector::Connect(close, 0.01f);
    EXPECT_EQ(close[0].group, close[2].group);
}

TEST(TerrainPathMeshCalculatorTest, PassableCellsInsideTheBoxBecomeFaces)
{
    // A 16 x 16 terrain at offset (100, 5, 200), four cells impassable.
    Region region(nullptr, 0, "t", ABBox(Vec3(8, 0, 8), Vec3(8, 30, 8)), IntVec3(100, 5, 200), RegionId(), 0,
                  0);
    Level* level = new Level(&region);
    level->NewTerrain(17, 17);
    std::vector<bool> cells(16 * 16);
    for (int i : {0, 1, 16, 17})
        cells[static_cast<size_t>(i)] = true;
    const std::vector<uint8_t> body = DataKit::BuildImpassableBody(16, 16, cells);
    BinaryReader reader(body.data(), static_cast<unsigned>(body.size()));
    ImpassableData impassable;
    ASSERT_TRUE(impassable.Load(reader));
    level->GetEditableTerrain()->SetImpassableData(impassable);
    region.SetLevel(level);

    // The whole terrain: 252 passable cells, two faces each, in the frame of the box's centre.
    const IntSpaceBox all(IntVec3(108, 5, 208), IntVec3(16, 16, 16));
    std::vector<PathFace> faces;
    TerrainPathMeshCalculator::CreateNavigationMesh({&region}, all, faces);
    ASSERT_EQ(faces.size(), 2u * 252u);
    float lo = 1e9f, hi = -1e9f;
    for (const PathFace& f : faces) {
        EXPECT_TRUE(f.IsWalkable());
        const Vec3 n = Vec3::Cross(f.corners[1] - f.corners[0], f.corners[2] - f.corners[0]);
        EXPECT_GT(n.y, 0.0f); // facing up
        for (const Vec3& c : f.corners) {
            lo = std::min(lo, c.x);
            hi = std::max(hi, c.x);
            EXPECT_EQ(c.y, 0.0f);
            EXPECT_FALSE(c.x < -6.0f && c.z < -6.0f); // the impassable corner cells
        }
    }
    EXPECT_EQ(lo, -8.0f);
    EXPECT_EQ(hi, 8.0f);

    // A box over the east quarter takes only the cells inside it.
    faces.clear();
    TerrainPathMeshCalculator::CreateNavigationMesh(
        {&region}, IntSpaceBox(IntVec3(114, 5, 208), IntVec3(2, 2, 8)), faces);
    EXPECT_EQ(faces.size(), 2u * 4u * 16u);
    faces.clear();
    TerrainPathMeshCalculator::CreateNavigationMesh(
        {&region, nullptr}, IntSpaceBox(IntVec3(500, 5, 208), IntVec3(8, 8, 8)), faces);
    EXPECT_TRUE(faces.empty());
}

} // namespace
} // namespace GAME
