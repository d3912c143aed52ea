// The tile set of underground levels, read from a database record: the size of one grid cell,
// fifteen wall pieces (a base mesh for cells with a floor, a mid mesh for cells without) chosen by
// the pattern of solid corners and standing walls around a cell, a list of feature meshes that
// designers drop into single cells, and the opacity below which faded walls never go. A grid
// region names its system by record and asks it which mesh a cell gets and how far to turn it.
//
// Pattern of a wall piece (8 bits): bits 7 to 4 the cell's four corners, starting at a corner and
// going round; bits 3 to 0 the walls between them in the same order (bit 3 the wall from the first
// corner to the second). Pieces are modelled for their own first corner; a cell whose pattern
// matches a piece only when read from its corner r gets that piece turned (4 - r) mod 4 quarter
// turns about Y.
//
// Record fields: "cellSpacingX", "cellSpacingY", "cellSpacingZ" (8 each when missing; a spacing
// that is not a finite number above 0 is refused with a log line and the 8 kept),
// "wallPieceBaseA".."wallPieceBaseO" and "wallPieceMidA".."wallPieceMidO" (entry D's mid mesh
// under "wallPieceMidDD"), the array "feature" (meshes that cannot be had are skipped, so feature
// indices count only the loaded ones) and "minWallOpacity" (0).
//
// Owns one reference to every mesh it names, released through the meshes' own manager. Registered
// as "GridSystem" below "Object"; created and destroyed through the object manager. Load may run on
// a level loading thread; the queries on whichever thread owns the grid region.
#pragma once

#include "core/Object.h"
#include "core/Vec3.h"

#include <cstdint>
#include <string>
#include <vector>

namespace GAME {

class GraphicsMesh;

class GridSystem : public Object
{
    GAME_DECLARE_CLASS(GridSystem)

public:
    static constexpr int numWallPieces = 15;
    static const Vec3 defaultCellSpacing;

    struct WallPiece
    {
        uint8_t pattern = 0;
        GraphicsMesh* baseMesh = nullptr;
        GraphicsMesh* midMesh = nullptr;
    };

    // The pattern of each entry A to O, in table order.
    static const uint8_t wallPiecePatterns[numWallPieces];

    GridSystem();
    // Every member copied; the copy takes references of its own to the meshes.
    GridSystem(const GridSystem& other);
    GridSystem& operator=(const GridSystem& other);

    void Load(const LoadTable& table) override;
    // Queues every mesh on its resource loader (high priority, with its shaders and textures).
    void PreLoad();

    const Vec3& GetCellSpacing() const { return m_cellSpacing; }
    float GetMinWallOpacity() const { return m_minWallOpacity; }
    int GetNumFeatures() const { return static_cast<int>(m_features.size()); }
    // Null for an index outside the features.
    GraphicsMesh* GetFeatureMesh(int index) const;
    // The feature mesh's file name; empty outside the features.
    std::string GetFeatureName(int index) const;
    const WallPiece& GetWallPiece(int entry) const { return m_wallPieces[static_cast<size_t>(entry)]; }

    // corners and walls: four characters each, '1' for a solid corner or standing wall (any other
    // character counts as absent; 'x' marks a wall that cannot stand). The first entry whose pattern
    // the cell shows read from corner r = 0, 1, 2, 3 gives its base mesh (base set) or mid mesh;
    // rotation becomes (4 - r) mod 4. Null, with rotation 0, when no entry matches.
    GraphicsMesh* GetMeshForCell(const char corners[4], const char walls[4], bool base, int& rotation) const;

protected:
    ~GridSystem() override;

private:
    void Release();
    void CopyFrom(const GridSystem& other);

    Vec3 m_cellSpacing;
    WallPiece m_wallPieces[numWallPieces];
    std::vector<GraphicsMesh*> m_features;
    float m_minWallOpacity = 0.0f;
};

} // namespace GAME
