// What world code asks of the ground classes that live in the terrain folder above it: heights at
// a sample or point and the region a ground piece belongs to. The terrain folder implements this
// interface and installs it (through the engine) while it exists.
//
// The terrain folder's stand-in grounds install theirs at start-up (TerrainGroundQueries); without
// one every ground height is 0 and no ground knows its region.
//
// Threads: Install on the main thread while no level loads; the queries follow the ground's rules.
#pragma once

namespace GAME {

class GridRegion;
class Region;
class TerrainBase;

class GroundQueries
{
public:
    virtual ~GroundQueries() = default;

    // The terrain's height at an integer sample.
    virtual float GetTerrainHeight(const TerrainBase* terrain, int x, int z) = 0;
    // The cell grid's ground height at a region-space point.
    virtual float GetGridGroundHeight(const GridRegion* grid, float x, float z) = 0;
    virtual Region* GetTerrainRegion(const TerrainBase* terrain) = 0;
    virtual Region* GetGridRegionRegion(const GridRegion* grid) = 0;

    static void Install(GroundQueries* queries);
    static GroundQueries* Get();
};

} // namespace GAME
