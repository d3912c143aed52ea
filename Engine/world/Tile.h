// A piece of modelled ground (a cliff, a ramp, a paved square) set into the terrain of an outdoor
// level: an actor showing the mesh that, while it is in a level with a terrain, owns a TerrainTile
// made through that terrain. The terrain tile draws the mesh with the terrain's own layers, answers
// rays against it and, once placed, gives the outlines the editable terrain fits its ground to. The
// tile is made when the entity enters the level, moved with it and destroyed when it leaves; in a
// level without a terrain (a grid level) there is none. The tile's boxes come from its mesh, which
// they load at once when it has not loaded yet (a tile is ground: it cannot wait for its mesh).
// Registered as "Tile" under "Actor"; physics type 0 (the ground needs no body of its own).
//
// The terrain owns the terrain tile; the entity only keeps the pointer while it is in the level
// (the terrain frees its tiles when it unloads, after its level's entities are gone). Main thread.
#pragma once

#include "world/Actor.h"

namespace GAME {

class TerrainBase;
class TerrainTile;

class Tile : public Actor
{
    GAME_DECLARE_CLASS(Tile)

public:
    Tile();

    // The actor's, then a terrain tile when the level has a terrain.
    void OnAddToLevel(Level* level) override;
    void OnRemoveFromLevel(Level* level) override;
    void OnMoveInLevel(Level* level) override;
    // The actor's, then the terrain tile's (its mesh queued on the loader).
    void PreLoad(bool immediate) override;
    // The mesh instance's box from the mesh (loaded now if it is not yet), then the actor's boxes.
    void UpdateBoundingBox() override;
    bool OccludesPathing() const override { return false; }
    bool IncludeInMinimap() const override { return true; }
    bool GetIsPartOfLevel() const override { return true; }

    // Null while the tile is in no level with a terrain.
    TerrainTile* GetTerrainTile() const { return m_terrainTile; }

protected:
    ~Tile() override;

private:
    // The terrain of the level the tile is in, or null.
    TerrainBase* GetLevelTerrain(Level* level) const;

    TerrainTile* m_terrainTile = nullptr;
};

} // namespace GAME
