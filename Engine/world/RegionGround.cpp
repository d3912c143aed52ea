#include "world/RegionGround.h"

#include "terrain/Terrain.h"
#include "terrain/TerrainBase.h"
#include "terrain/TerrainPlug.h"
#include "world/GroundQueries.h"
#include "world/Level.h"
#include "world/Region.h"

namespace GAME {

const TerrainBase* RegionGround::GetTerrain() const
{
    const Level* level = m_region.GetLevelPtr();
    return level ? level->GetTerrain() : nullptr;
}

unsigned RegionGround::GetNumXSamples() const
{
    const TerrainBase* terrain = GetTerrain();
    return terrain ? terrain->GetNumXSamples() : 0;
}

unsigned RegionGround::GetNumYSamples() const
{
    const TerrainBase* terrain = GetTerrain();
    return terrain ? terrain->GetNumYSamples() : 0;
}

float RegionGround::GetHeight(int x, int y) const
{
    const TerrainBase* terrain = GetTerrain();
    return terrain ? terrain->GetHeight(x, y) : 0.0f;
}

float RegionGround::GetGroundHeight(int x, int z) const
{
    const TerrainBase* terrain = GetTerrain();
    if (!terrain)
        return 0.0f;
    GroundQueries* queries = GroundQueries::Get();
    return queries ? queries->GetTerrainHeight(terrain, x, z) : terrain->GetHeight(x, z);
}

bool RegionGround::IsInvisible(int x, int y) const
{
    const TerrainBase* terrain = GetTerrain();
    return terrain && terrain->IsInvisible(x, y);
}

bool RegionGround::IsImpassable(int x, int y) const
{
    const Level* level = m_region.GetLevelPtr();
    const Terrain* editable = level ? level->GetEditableTerrain() : nullptr;
    return editable && editable->IsImpassable(x, y);
}

void RegionGround::GetPlugTriangles(const ABBox& box, std::vector<std::array<Vec3, 3>>& out) const
{
    const TerrainBase* terrain = GetTerrain();
    if (!terrain)
        return;
    std::vector<TerrainObject*> objects;
    terrain->GetObjectsInBox(objects, box);
    for (const TerrainObject* object : objects) {
        if (!object->GetClassInfo().IsA(TerrainPlug::classInfo))
            continue;
        const auto* plug = static_cast<const TerrainPlug*>(object);
        for (uint32_t t = 0; t < plug->GetNumTriangles(); ++t) {
            const TerrainPlug::Triangle& triangle = plug->GetTriangle(t);
            out.push_back({triangle.vertices[0].position, triangle.vertices[1].position,
                           triangle.vertices[2].position});
        }
    }
}

} // namespace GAME
