// The sample grid system of the generated caves: procedural wall pieces for every entry of the
// grid system's table (a pillar at each solid corner and a wall slab along each standing wall, laid
// as blocks that meet without overlapping, so that no two faces lie on one another, the rock
// textured by where each face lies; the same faces are the collision mesh; base pieces have a floor,
// mid pieces do not, none has a ceiling since underground rooms are seen from above; the mid piece
// of the empty pattern would hold nothing and is left out, so such a cell stays empty), a doorway
// feature whose opening carries one portal,
// the entrance that stands outdoors with the matching portal, their rock textures, and the records naming
// them ("GridSystem", also under the engine's default grid system name, and "GridEntrance"). Meshes
// are drawn with the sample mesh shaders (Shaders/Basic.ssh).
//
// Geometry, in a piece's own frame (the cell's centre on its floor): corners 0 to 3 at (-h, -h),
// (h, -h), (h, h), (-h, h) in x and z (h half the cell), wall k from corner k to corner k + 1. The
// doorway feature opens its +z wall; its portal is the opening (doorHalfWidth either side of x = 0,
// doorHeight high) in the plane z = h, facing -z, into the cell. The entrance is a door frame around
// the same opening in its plane z = 0, facing +z. A portal's front faces the side it is looked
// through from: the region behind it lies at its back (the portal renderer cuts the region in front
// at a portal seen from its back, so a doorway facing out of its room would cut the room away as
// the view looks out through it).
//
// GridPieceResources serves these meshes to record tables from memory, without a device or files
// (for tools and tests that run without an engine): while one lives it is the installed
// LoadTableResources, and the one it replaced comes back when it goes. The meshes it hands out
// live for the whole process. Pure functions otherwise; one thread at a time.
#pragma once

#include "core/Vec3.h"
#include "data/LoadTableResources.h"
#include "datakit/MeshWriter.h"
#include "world/Triangle.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace DataKit {

class ArzWriter;

class SampleGridKit
{
public:
    static constexpr const char* systemRecord = "Records/World/Generated/CaveGrid.dbr";
    static constexpr const char* entranceRecord = "Records/World/Generated/CaveEntrance.dbr";
    static constexpr const char* doorMesh = "Meshes/Grid/CaveDoor.msh";
    static constexpr const char* entranceMesh = "Meshes/Grid/CaveEntrance.msh";
    static constexpr const char* rockTexture = "Textures/Grid/CaveRock.tex";
    static constexpr const char* frameTexture = "Textures/Grid/CaveDoorFrame.tex";
    static constexpr float cellWidth = 4.0f;  // x and z
    static constexpr float cellHeight = 6.0f; // y: one floor
    static constexpr float wallThickness = 0.5f;
    static constexpr float doorHalfWidth = 1.5f;
    static constexpr float doorHeight = 5.0f;
    // The doorway is the system's feature 1.
    static constexpr int doorFeature = 1;

    // Whether the entry (0 to 14) has a piece of that kind: all but the empty pattern's mid piece.
    static bool HasWallPiece(int entry, bool base);
    // "Meshes/Grid/CaveWallBaseA.msh" ... "Meshes/Grid/CaveWallMidO.msh" (entry 0 to 14).
    static std::string WallPieceName(int entry, bool base);
    // A wall piece for a pattern of the grid system's table.
    static MeshWriter MakeWallPiece(uint8_t pattern, bool base);
    static MeshWriter MakeDoor();
    static MeshWriter MakeEntrance();
    // The opening's two triangles in the plane z = at, facing +z (-z with facingBack).
    static std::vector<GAME::Triangle> DoorTriangles(float at, bool facingBack = false);

    // Every mesh and texture, by file name.
    static std::vector<std::pair<std::string, std::vector<uint8_t>>> Files();
    // The grid system and entrance records.
    static void AddRecords(ArzWriter& database);
    // Writes Files() under the folder; false when one could not be written.
    static bool WriteSampleContent(const std::string& folder);
};

class GridPieceResources : public GAME::LoadTableResources
{
public:
    GridPieceResources();
    ~GridPieceResources() override;
    GridPieceResources(const GridPieceResources&) = delete;
    GridPieceResources& operator=(const GridPieceResources&) = delete;

    // A grid piece's mesh, loaded (its materials name shaders and textures it does not load); null
    // for any other name.
    GAME::GraphicsMesh* LoadMesh(const std::string& fileName) override;
    // None of these: null.
    GAME::GraphicsTexture* LoadTexture(const std::string&) override { return nullptr; }
    GAME::GraphicsShader2* LoadShader2(const std::string&) override { return nullptr; }
    GAME::GraphicsAnim* LoadAnimation(const std::string&) override { return nullptr; }
    GAME::EffectResource* LoadResourceEffect(const std::string&) override { return nullptr; }

private:
    GAME::LoadTableResources* m_previous;
};

} // namespace DataKit
