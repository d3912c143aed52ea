#include "terrain/TerrainGroundQueries.h"

#include "terrain/GridRegion.h"
#include "terrain/TerrainBase.h"
#include "world/GroundQueries.h"

namespace GAME {

namespace {

class Queries : public GroundQueries
{
public:
    float GetTerrainHeight(const TerrainBase* terrain, int x, int z) override
    {
        return terrain ? terrain->GetHeight(x, z) : 0.0f;
    }
    float GetGridGroundHeight(const GridRegion* grid, float x, float z) override
    {
        return grid ? grid->GetGroundHeight(x, z) : 0.0f;
    }
    Region* GetTerrainRegion(const TerrainBase* terrain) override
    {
        return terrain ? terrain->GetRegion() : nullptr;
    }
    Region* GetGridRegionRegion(const GridRegion* grid) override
    {
        return grid ? grid->GetRegion() : nullptr;
    }
};

Queries s_queries;

const bool s_installed = [] {
    GroundQueries::Install(&s_queries);
    return true;
}();

} // namespace

void TerrainGroundQueries::Install()
{
    (void)s_installed;
    GroundQueries::Install(&s_queries);
}

} // namespace GAME
