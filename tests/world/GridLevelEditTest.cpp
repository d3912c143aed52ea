// The editor's grid levels: NewGrid and ResizeGrid make no grid that Load refuses, and a size the
// grid itself refuses leaves the level as it was.
#include "LevelFixtures.h"

#include "common/LogCapture.h"
#include "terrain/GridRegion.h"
#include "terrain/GridSystem.h"

namespace GAME::WorldTest {
namespace {

class GridLevelEditTest : public WorldFixture
{
protected:
    void SetUp() override
    {
        WorldFixture::SetUp();
        // The default system, at its default spacing of 8 units a cell.
        DataKit::ArzWriter writer(true);
        writer.AddRecord(GridRegion::defaultSystemName).String("Class", "GridSystem");
        ASSERT_TRUE(records.Load(writer.Build()));
    }

    bool Reloads() const
    {
        BinaryWriter saved(0x400);
        if (!level->SaveToMemory(saved, false))
            return false;
        Level again(region);
        return again.Load(saved.GetBuffer(), static_cast<int>(saved.GetSize()), false);
    }

    int Cells(int axis) const
    {
        const GridRegion* grid = level->GetGridRegion();
        return !grid       ? -1
               : axis == 0 ? grid->GetXNumCells()
               : axis == 1 ? grid->GetYNumCells()
                           : grid->GetZNumCells();
    }
};

TEST_F(GridLevelEditTest, TheEditorMakesNoGridThatTheLoaderRefuses)
{
    GAME::Test::LogCapture log;
    ASSERT_EQ(GridSystem::defaultCellSpacing.x * 2048.0f, Level::maxGroundExtent);

    // 2048 cells of 8 units: as wide as a level may be, and it loads again.
    level->NewGrid(2048, 1, 2);
    ASSERT_EQ(Cells(0), 2048);
    EXPECT_TRUE(Reloads());
    EXPECT_EQ(log.Count(), 0u);

    // One cell more along x or z is refused, with a line, and the level keeps its grid.
    for (const auto& [x, z] : {std::pair{2049, 2}, std::pair{2, 2049}, std::pair{16385, 1}}) {
        log.Clear();
        level->NewGrid(x, 1, z);
        EXPECT_TRUE(log.Contains("wider than a level may be", 1)) << x << " x " << z;
        EXPECT_EQ(Cells(0), 2048);
        EXPECT_EQ(Cells(2), 2);
        log.Clear();
        level->ResizeGrid(x, 1, z);
        EXPECT_TRUE(log.Contains("wider than a level may be", 1)) << x << " x " << z;
        EXPECT_EQ(Cells(0), 2048);
        EXPECT_EQ(Cells(2), 2);
    }
    EXPECT_TRUE(Reloads());

    // A level that had no grid stays without one.
    Level empty(region);
    empty.NewGrid(2049, 1, 1);
    EXPECT_EQ(empty.GetGridRegion(), nullptr);
    EXPECT_FALSE(empty.IsLoaded());

    // Counts the grid itself refuses (far too many lattice entries) move nothing and keep the
    // level's sector layers.
    level->NewGrid(4, 1, 4);
    TestEntity* entity = Place(Vec3(3.0f, 1.0f, 3.0f));
    ASSERT_NE(entity, nullptr);
    const unsigned layersWidth = level->GetSectorLayers().GetWidth();
    log.Clear();
    level->ResizeGrid(4, 0x40000000, 4);
    EXPECT_TRUE(log.Contains("is refused", 1));
    EXPECT_EQ(Cells(1), 1);
    EXPECT_EQ(entity->GetCoords().GetOrigin().GetRegionPosition(), Vec3(3.0f, 1.0f, 3.0f));
    EXPECT_EQ(level->GetSectorLayers().GetWidth(), layersWidth);
    // A real resize upwards still lifts the entities by the new cells' height.
    level->ResizeGrid(4, 2, 4);
    EXPECT_EQ(Cells(1), 2);
    EXPECT_EQ(entity->GetCoords().GetOrigin().GetRegionPosition(), Vec3(3.0f, 9.0f, 3.0f));
}

} // namespace
} // namespace GAME::WorldTest
