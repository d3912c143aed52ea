// A piece of modelled ground (a mesh: a cliff, a ramp, a paved square) set into a terrain: the
// terrain object a tile entity owns through the terrain while it is in a level with a terrain. It
// draws the mesh with the terrain's own layers (one pass per layer that shows under its box, plus
// a solid pass), answers ray queries against the mesh's physics mesh and, once placed (far enough
// inside the terrain), gives the outlines along which the editable terrain fits its ground to the
// mesh. Its box is the mesh's box placed by the tile's placement (a zero box at the placement's
// origin without a mesh), recomputed whenever either changes.
//
// Made, moved and freed by its terrain (TerrainBase::CreateTile, MoveTile, DestroyTile) on behalf
// of the level entity GAME::Tile (world/Tile.h), which makes it when it enters a level with a
// terrain, moves it with itself and destroys it when it leaves; keeps the terrain and the mesh,
// owning neither. Main thread.
#pragma once

#include "core/Coords.h"
#include "scene/GraphicsRenderable.h"
#include "scene/RenderablePass.h"
#include "terrain/TerrainObject.h"

#include <vector>

namespace GAME {

class GraphicsMesh;
class SimplePolygon;
struct TerrainRenderContext;

class TerrainTile : public TerrainObject, public GraphicsRenderable
{
    GAME_DECLARE_CLASS(TerrainTile)

public:
    // How far the editable terrain grows a tile's contour box when it marks cells dirty.
    static constexpr float defaultMaxDistance = 5.0f;

    TerrainTile();
    ~TerrainTile() override;

    void SetTerrain(TerrainBase* terrain) { m_terrain = terrain; }
    TerrainBase* GetTerrain() const { return m_terrain; }
    void SetMesh(GraphicsMesh* mesh);
    GraphicsMesh* GetMesh() const { return m_mesh; }
    void SetCoords(const Coords& coords);
    const Coords& GetCoords() const { return m_coords; }
    bool GetIsPlaced() const { return m_placed; }
    void SetIsPlaced(bool placed) { m_placed = placed; }
    float GetMaxDistance() const { return m_maxDistance; }
    const std::vector<unsigned>& GetLayers() const { return m_layers; }
    unsigned GetNumContours() const;
    // Contour index as a polygon of region X, region Z and height, the normal's three floats in
    // each vertex's values.
    void GetContour(unsigned index, SimplePolygon& polygon) const;

    // ---- TerrainObject ----
    void GetIntersection(const Ray& ray, Intersection& intersection, PhysicsSurface surface) const override;
    void AddToScene(GraphicsSceneRenderer& renderer, TerrainBase& terrain) override;
    void PreLoad(bool immediate) override;
    void OnLayersChanged() override;

    // ---- GraphicsRenderable ----
    int GetNumRenderPasses(const Name& style, RenderGenerationId generation) const override;
    ABBox GetRenderPassBoundingBox() const override { return GetBoundingBox(); }
    int GetRenderPassSortOrder(int pass, const Name& style, RenderGenerationId generation) const override;
    const GraphicsShader2* GetShader2(int pass, const Name& style) const override;
    const Name& GetShaderStyle(int pass, const Name& style, RenderGenerationId generation) const override;
    const GraphicsTexture* GetTexture(int, const Name&) const override { return nullptr; }
    void RenderPass(const RenderablePass& pass, const Name& style, GraphicsCanvas& canvas,
                    const GraphicsSceneRenderer& renderer) override;
    void LogInfo() const override;
    void RenderPass(const RenderablePass& pass, const Name& style, const TerrainRenderContext& context);
    // The layer the pass draws (-1 for the solid pass or a pass past the layers).
    int GetPassLayer(int pass, const Name& style) const;

private:
    void UpdateBox();

    TerrainBase* m_terrain = nullptr;
    bool m_placed = false;
    Coords m_coords;
    float m_maxDistance = defaultMaxDistance;
    std::vector<unsigned> m_layers;
    GraphicsMesh* m_mesh = nullptr;
};

} // namespace GAME
