// Wall fading: the walls standing between a viewer and its target fade to the grid system's
// minimum, spreading from the viewer's cell along straight walls and round corners the line of
// sight passes, and everything recovers at 0.0025 a millisecond.
#include "GridFixtures.h"

#include "core/WorldVec3.h"

#include <gtest/gtest.h>

namespace GAME::GridTest {
namespace {

class GridTransparencyTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(LoadBody(grid, Room(3).Write())); }

    void Look(const Vec3& viewer, const Vec3& target, int elapsed)
    {
        grid.UpdateTransparency(WorldVec3(&region, viewer), WorldVec3(&region, target), elapsed);
    }
    float T(int i, int k) const { return grid.GetTransparency(i, 0, k); }

    GridEnvironment env;
    Region region{ABBox(Vec3(), Vec3(100, 100, 100))};
    GridRegion grid{&region};
};

TEST_F(GridTransparencyTest, TheWallBetweenFadesToTheMinimumAndRecoversAtItsRate)
{
    const float minimum = grid.GetMinWallOpacity();
    ASSERT_FLOAT_EQ(minimum, 0.25f);
    // From the middle cell nothing is crossed at once: its own walls are not there.
    Look(Vec3(6, 1, 6), Vec3(6, 1, 30), 16);
    for (int i = 0; i <= 6; ++i)
        for (int k = 0; k <= 6; ++k)
            ASSERT_EQ(T(i, k), 1.0f) << i << " " << k;

    // From the cell at the +z wall, looking out through it: the whole straight wall fades (it
    // goes on past each corner that no other wall leaves), no further than the minimum however
    // long the step; the side walls do not (the line of sight crosses neither).
    Look(Vec3(6, 1, 10), Vec3(6, 1, 30), 5000);
    for (int i : {1, 3, 5})
        EXPECT_EQ(T(i, 6), minimum) << i;
    for (int k : {1, 3, 5}) {
        EXPECT_EQ(T(0, k), 1.0f) << k;
        EXPECT_EQ(T(6, k), 1.0f) << k;
    }
    EXPECT_EQ(T(3, 0), 1.0f) << "the wall behind the viewer";
    // Corners take their lowest wall.
    EXPECT_EQ(T(0, 6), minimum);
    EXPECT_EQ(T(2, 6), minimum);
    EXPECT_EQ(T(0, 0), 1.0f);
    // The instances of the cells along the wall carry it: the piece's walls in its own order.
    const GridWallMeshInstance* corner = grid.GetCellMesh(0, 0, 2);
    ASSERT_NE(corner, nullptr);
    const int turn = grid.GetCellRotation(0, 0, 2);
    const float* walls = corner->GetWallTransparency();
    // The cell's wall 2 (its +z side) is the piece's wall (2 + turn) mod 4.
    EXPECT_EQ(walls[(2 + turn) % 4], minimum);
    EXPECT_EQ(walls[(0 + turn) % 4], 1.0f);

    // The target comes inside: nothing is crossed, and the wall recovers 0.0025 a millisecond.
    Look(Vec3(6, 1, 10), Vec3(6, 1, 8), 100);
    EXPECT_NEAR(T(3, 6), minimum + 0.25f, 1e-6f);
    EXPECT_NEAR(T(2, 6), minimum + 0.25f, 1e-6f);
    Look(Vec3(6, 1, 10), Vec3(6, 1, 8), 100);
    EXPECT_NEAR(T(3, 6), minimum + 0.5f, 1e-6f);
    Look(Vec3(6, 1, 10), Vec3(6, 1, 8), 1000);
    EXPECT_EQ(T(3, 6), 1.0f) << "never above 1";
    EXPECT_EQ(walls[(2 + turn) % 4], 1.0f);

    grid.UpdateTransparency(WorldVec3(&region, Vec3(6, 1, 10)), WorldVec3(&region, Vec3(6, 1, 30)), 10);
    grid.ClearTransparency();
    EXPECT_EQ(T(3, 6), 1.0f);
}

TEST_F(GridTransparencyTest, TheFadeTurnsCornersOnlyWhereTheLineOfSightCrossesThem)
{
    // The target beyond the room's +z, -x corner: the line of sight crosses the line x = 0 through
    // the corner, so the fade turns into the -x wall and runs along it.
    Look(Vec3(6, 1, 10), Vec3(-10, 1, 30), 50);
    EXPECT_EQ(T(3, 6), 0.25f);
    EXPECT_EQ(T(0, 5), 0.25f);
    EXPECT_EQ(T(0, 1), 0.25f);
    EXPECT_EQ(T(6, 5), 1.0f) << "the +x side is not crossed";
    EXPECT_EQ(T(3, 0), 1.0f);
    // The same look with the viewer one cell over toward +x: still the corner at x = 0 is crossed.
    grid.ClearTransparency();
    Look(Vec3(10, 1, 10), Vec3(-10, 1, 30), 50);
    EXPECT_EQ(T(5, 6), 0.25f);
    EXPECT_EQ(T(0, 3), 0.25f);
    EXPECT_EQ(T(6, 3), 1.0f);
}

TEST_F(GridTransparencyTest, AWallThousandsOfSegmentsLongFadesToItsFarEnd)
{
    // Without a system (spacing 1, minimum 0): one straight wall along z = 0 of 30000 cells.
    GridRegion line(&region);
    line.SetSystem("");
    const int n = 30000;
    line.Resize(n, 1, 1);
    for (int i = 0; i <= 2 * n; ++i)
        line.SetLatticeValue(i, 0, 0, 1);
    line.UpdateTransparency(WorldVec3(&region, Vec3(0.5f, 0.5f, 0.5f)),
                            WorldVec3(&region, Vec3(0.5f, 0.5f, -5)), 10);
    EXPECT_EQ(line.GetTransparency(1, 0, 0), 0.0f);
    EXPECT_EQ(line.GetTransparency(2 * n - 1, 0, 0), 0.0f);
    EXPECT_EQ(line.GetTransparency(2 * n, 0, 0), 0.0f) << "its last corner";
    EXPECT_EQ(line.GetTransparency(1, 0, 2), 1.0f);
}

} // namespace
} // namespace GAME::GridTest
