// A piece of modelled ground (a mesh: a cliff, a ramp, a paved square) set into a terrain: the
// terrain object a tile entity owns through the terrain while it is in a level with a terrain. It
// draws the mesh with the terrain's own layers (one pass per layer that shows under its box, plus
// a solid pass that leaves the fog to the mesh's own drawing; TerrainLayeredObject), answers ray
// queries against the mesh's physics mesh and, once placed (far enough inside the terrain), gives
// the outlines along which the editable terrain fits its ground to the mesh. Its box is the mesh's
// box placed by the tile's placement (a zero box at the placement's origin without a mesh),
// recomputed whenever either changes.
//
// Made, moved and freed by its terrain (TerrainBase::CreateTile, MoveTile, DestroyTile) on behalf
// of the level entity GAME::Tile (world/Tile.h), which makes it when it enters a level with a
// terrain, moves it with itself and destroys it when it leaves; keeps the terrain and the mesh,
// owning neither. Main thread.
#pragma once

#include "core/Coords.h"
#include "terrain/TerrainLayeredObject.h"

#include <vector>

namespace GAME {

class GraphicsMesh;
class SimplePolygon;

class TerrainTile : public TerrainLayeredObject
{
    GAME_DECLARE_CLASS(TerrainTile)

public:
    // How far the editable terrain grows a tile's contour box when it marks cells dirty.
    static constexpr float defaultMaxDistance = 5.0f;

    TerrainTile();
    ~TerrainTile() override;

    void SetMesh(GraphicsMesh* mesh);
    GraphicsMesh* GetMesh() const { return m_mesh; }
    void SetCoords(const Coords& coords);
    const Coords& GetCoords() const { return m_coords; }
    bool GetIsPlaced() const { return m_placed; }
    void SetIsPlaced(bool placed) { m_placed = placed; }
    float GetMaxDistance() const { return m_maxDistance; }
    unsigned GetNumContours() const;
    // Contour index as a polygon of region X, region Z and height, the normal's three floats in
    // each vertex's values.
    void GetContour(unsigned index, SimplePolygon& polygon) const;

    // ---- TerrainObject ----
    void GetIntersection(const Ray& ray, Intersection& intersection, PhysicsSurface surface) const override;
    void PreLoad(bool immediate) override;

    // ---- GraphicsRenderable ----
    using TerrainLayeredObject::RenderPass;
    void RenderPass(const RenderablePass& pass, const Name& style, GraphicsCanvas& canvas,
                    const TerrainRenderContext& context) override;
    void LogInfo() const override;
    // The mesh draws without the canvas.
    void RenderPass(const RenderablePass& pass, const Name& style, const TerrainRenderContext& context);

private:
    void UpdateBox();

    bool m_placed = false;
    Coords m_coords;
    float m_maxDistance = defaultMaxDistance;
    GraphicsMesh* m_mesh = nullptr;
};

} // namespace GAME
