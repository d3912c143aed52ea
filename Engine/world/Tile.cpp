#include "world/Tile.h"

#include "scene/GraphicsMeshInstance.h"
#include "terrain/TerrainBase.h"
#include "terrain/TerrainTile.h"
#include "world/Level.h"

namespace GAME {

GAME_REGISTER_CLASS(Tile, Actor)

Tile::Tile()
{
    SetPhysicsType(PHYSICS_TYPE_DEFAULT);
}

// The terrain owns the terrain tile and frees it with itself.
Tile::~Tile() = default;

TerrainBase* Tile::GetLevelTerrain(Level* level) const
{
    return level ? level->GetTerrain() : nullptr;
}

void Tile::OnAddToLevel(Level* level)
{
    Actor::OnAddToLevel(level);
    TerrainBase* terrain = GetLevelTerrain(level);
    if (!terrain || m_terrainTile)
        return;
    m_terrainTile = terrain->CreateTile(GetCoords().GetRegionCoords(), GetMeshInstance()->GetMesh());
}

void Tile::OnRemoveFromLevel(Level* level)
{
    Entity::OnRemoveFromLevel(level);
    if (TerrainBase* terrain = GetLevelTerrain(level); terrain && m_terrainTile)
        terrain->DestroyTile(m_terrainTile);
    m_terrainTile = nullptr;
}

void Tile::OnMoveInLevel(Level* level)
{
    Entity::OnMoveInLevel(level);
    if (TerrainBase* terrain = GetLevelTerrain(level); terrain && m_terrainTile)
        terrain->MoveTile(m_terrainTile, GetCoords().GetRegionCoords());
}

void Tile::PreLoad(bool immediate)
{
    Actor::PreLoad(immediate);
    if (m_terrainTile)
        m_terrainTile->PreLoad(immediate);
}

void Tile::UpdateBoundingBox()
{
    GetMeshInstance()->UpdateBoundingBox(true);
    Actor::UpdateBoundingBox();
}

} // namespace GAME
