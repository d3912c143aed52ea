// The ground of a region's level as navigation reads it (NavigationGround): the samples, cut-away
// cells and plugs of the terrain the region's level holds when it is asked, the impassable cells of
// an editable one, and heights through the world's ground queries (GroundQueries). The region owns
// one for its whole life, so the physics engine's height fields and the path-mesh builder can keep
// it while levels and terrains come and go; without a level or terrain it has no samples.
//
// Threads: main thread, like the terrain it reads.
#pragma once

#include "navigation/NavigationGround.h"

namespace GAME {

class Region;
class TerrainBase;

class RegionGround final : public NavigationGround
{
public:
    explicit RegionGround(const Region& region) : m_region(region) {}
    RegionGround(const RegionGround&) = delete;
    RegionGround& operator=(const RegionGround&) = delete;

    // The terrain of the region's level as it is now; null without one.
    const TerrainBase* GetTerrain() const;

    unsigned GetNumXSamples() const override;
    unsigned GetNumYSamples() const override;
    float GetHeight(int x, int y) const override;
    float GetGroundHeight(int x, int z) const override;
    bool IsInvisible(int x, int y) const override;
    bool IsImpassable(int x, int y) const override;
    void GetPlugTriangles(const ABBox& box, std::vector<std::array<Vec3, 3>>& out) const override;

private:
    const Region& m_region;
};

} // namespace GAME
