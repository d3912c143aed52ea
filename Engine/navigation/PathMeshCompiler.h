// Compiles the faces and obstacle boxes of a path-mesh build into navigation-mesh tiles, through
// Recast: the faces are rasterised into a voxel height field over the build box (walkable faces
// as ground, obstacle faces and steep ground as solid), spans too low for the agent or too far
// above a ledge are filtered out, the obstacle boxes are cut out of the walkable area, the area is
// shrunk by the agent's radius, and what is left is traced into convex polygons with a height
// detail mesh. Each tile of the build box is compiled on its own (with a border of voxels from its
// neighbours so that tiles meet cleanly) into Detour's tile data, which PathMesh stores and loads.
//
// All positions are in the build frame: relative to the centre of the build box. The agent is one
// standard agent for every mesh (the constants below). Stateless; any thread, one build at a time
// per call.
#pragma once

#include "core/IntSpaceBox.h"
#include "core/OBBox.h"
#include "navigation/PathFace.h"

#include <cstdint>
#include <vector>

namespace GAME {

class PathMeshCompiler
{
public:
    static constexpr float agentRadius = 0.5f;
    static constexpr float agentHeight = 2.0f;
    static constexpr float agentClimb = 0.9f;
    // Voxels a tile is wide; the tile grid never has more than maxTilesPerSide tiles a side (a
    // bigger box takes coarser voxels).
    static constexpr int tileVoxels = 128;
    static constexpr float minVoxelSize = 0.25f;
    static constexpr uint32_t maxTilesPerSide = 64;
    // Tile and polygon indices share 22 bits of a polygon reference.
    static constexpr int maxReferenceBits = 22;

    struct Tiles
    {
        // The tile grid: tilesX x tilesZ tiles of tileWidth units from the box's low corner.
        float tileWidth = 0.0f;
        uint32_t tilesX = 0;
        uint32_t tilesZ = 0;
        // A power of two no smaller than any tile's polygon count.
        uint32_t maxPolysPerTile = 0;
        // Detour tile data of the tiles that have polygons.
        std::vector<std::vector<uint8_t>> tiles;
    };

    // False (logged) for a box too small or too large to compile, or a tile Recast or Detour
    // cannot build. A box without walkable ground compiles to no tiles (true).
    static bool Compile(const std::vector<PathFace>& faces, const std::vector<OBBox>& obstacles,
                        const IntSpaceBox& box, Tiles& out);
};

} // namespace GAME
