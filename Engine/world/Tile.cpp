#include "world/Tile.h"

#include "scene/GraphicsMeshInstance.h"
#include "terrain/TerrainBase.h"
#include "terrain/TerrainTile.h"
#include "world/Level.h"
#include "world/Region.h"

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
    m_tileMeshLoaded = GetLoadedMesh() != nullptr;
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
    RefreshTerrainTile();
}

void Tile::RefreshTerrainTile()
{
    if (!m_terrainTile || m_tileMeshLoaded || !GetLoadedMesh())
        return;
    Region* region = GetRegion();
    TerrainBase* terrain = GetLevelTerrain(region ? region->GetLevelPtr() : nullptr);
    if (!terrain)
        return;
    // The terrain decides placement, box and layers when a tile is added: the tile made with the
    // unloaded mesh had none of the mesh's extent.
    terrain->DestroyTile(m_terrainTile);
    m_tileMeshLoaded = true;
    m_terrainTile = terrain->CreateTile(GetCoords().GetRegionCoords(), GetMeshInstance()->GetMesh());
}

} // namespace GAME
