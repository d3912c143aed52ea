// Pieces shared by the grid tests: a record database with the sample cave system and entrance
// (DataKit::SampleGridKit) and a few odd systems, the pieces' meshes served without a device, a fresh
// object manager, and helpers that make stored grids (rooms walled all round), load them and tell
// which piece a cell was built with.
#pragma once

#include "common/LogCapture.h"
#include "common/RecordServices.h"

#include "core/ObjectManager.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"
#include "datakit/ArzWriter.h"
#include "datakit/GridWriter.h"
#include "datakit/SampleGridKit.h"
#include "navigation/PathFinder.h"
#include "scene/GraphicsMesh.h"
#include "terrain/GridRegion.h"
#include "terrain/GridSystem.h"
#include "terrain/GridWallMeshInstance.h"
#include "world/Entity.h"
#include "world/Region.h"

#include <climits>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace GAME::GridTest {

using DataKit::GridWriter;
using DataKit::SampleGridKit;

// A system record with no fields (no pieces, spacing 8).
inline constexpr const char* bareSystem = "records/grid/bare.dbr";
// Spacings 0, -2 and 3.
inline constexpr const char* badSpacingSystem = "records/grid/badspacing.dbr";
// Not a grid system at all.
inline constexpr const char* entityRecord = "records/grid/entity.dbr";
// The sample pieces with features: the doorway, a mesh that does not exist, the entrance.
inline constexpr const char* featureSystem = "records/grid/features.dbr";
// An entrance whose mesh carries no portal (a wall piece).
inline constexpr const char* plainEntrance = "records/grid/plainentrance.dbr";

// Entry indices of the grid system's table, by letter.
inline int Entry(char letter)
{
    return letter - 'A';
}

inline std::vector<uint8_t> BuildDatabase()
{
    DataKit::ArzWriter database;
    SampleGridKit::AddRecords(database);
    database.AddRecord(DataKit::NormalizeRecordName(bareSystem)).String("Class", "GridSystem");
    database.AddRecord(DataKit::NormalizeRecordName(badSpacingSystem))
        .String("Class", "GridSystem")
        .Float("cellSpacingX", 0.0f)
        .Float("cellSpacingY", -2.0f)
        .Float("cellSpacingZ", 3.0f);
    database.AddRecord(DataKit::NormalizeRecordName(entityRecord)).String("Class", "Entity");
    database.AddRecord(DataKit::NormalizeRecordName(featureSystem))
        .String("Class", "GridSystem")
        .String("feature", std::vector<std::string>{SampleGridKit::doorMesh, "Meshes/Grid/Missing.msh",
                                                    SampleGridKit::entranceMesh});
    database.AddRecord(DataKit::NormalizeRecordName(plainEntrance))
        .String("Class", "GridEntrance")
        .String("mesh", SampleGridKit::WallPieceName(Entry('N'), true));
    return database.Build();
}

// What every grid test stands on; the object manager is made afresh and its pending objects (the
// grid systems regions let go of) are destroyed at the end.
class GridEnvironment
{
public:
    GridEnvironment()
    {
        EXPECT_TRUE(records.Load(BuildDatabase()));
        ObjectManager::Destroy();
        Entity::InstallHooks();
    }
    ~GridEnvironment()
    {
        ObjectManager::Get()->DestroyPendingObjects(UINT_MAX);
        ObjectManager::Destroy();
        if (PathFinder::HasInstantiated())
            PathFinder::Destroy();
    }
    GridEnvironment(const GridEnvironment&) = delete;
    GridEnvironment& operator=(const GridEnvironment&) = delete;

    GAME::Test::LogCapture log;
    GAME::Test::RecordServices records;
    DataKit::GridPieceResources pieces;
};

// A room of x by z cells on each floor: corners and walls all round, a floor in every cell.
inline GridWriter Room(int x, int floors, int z, const std::string& system = SampleGridKit::systemRecord)
{
    GridWriter grid(system, x, floors, z);
    for (int y = 0; y < floors; ++y)
        for (int i = 0; i <= 2 * x; ++i)
            for (int k = 0; k <= 2 * z; ++k)
                if ((i % 2 == 1 && k % 2 == 1) || i == 0 || k == 0 || i == 2 * x || k == 2 * z)
                    grid.SetLattice(i, y, k, 1);
    return grid;
}

// A room of n x n cells.
inline GridWriter Room(int n, int floors = 1)
{
    return Room(n, floors, n);
}

inline bool LoadBody(GridRegion& grid, const std::vector<uint8_t>& body)
{
    BinaryReader reader(body.data(), static_cast<unsigned>(body.size()));
    return grid.Load(reader);
}

inline std::vector<uint8_t> SaveBody(const GridRegion& grid)
{
    BinaryWriter writer(256);
    grid.Save(writer);
    return std::vector<uint8_t>(writer.GetBuffer(), writer.GetBuffer() + writer.GetSize());
}

// The wall piece entry (0 to 14 for A to O) a cell was built with, 15 for the doorway, -1 for an
// empty cell or another mesh; base says whether it is the piece with a floor.
inline int PieceOf(const GridRegion& grid, int x, int y, int z, bool* base = nullptr)
{
    const GridWallMeshInstance* instance = grid.GetCellMesh(x, y, z);
    if (!instance || !instance->GetMesh())
        return -1;
    const std::string name = instance->GetMesh()->GetFileNameString();
    if (name == SampleGridKit::doorMesh)
        return 15;
    for (int entry = 0; entry < GridSystem::numWallPieces; ++entry)
        for (bool withFloor : {true, false})
            if (name == SampleGridKit::WallPieceName(entry, withFloor)) {
                if (base)
                    *base = withFloor;
                return entry;
            }
    return -1;
}

} // namespace GAME::GridTest
