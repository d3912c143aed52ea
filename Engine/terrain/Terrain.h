// The editable form of a region's terrain: made by the editor (New) or read from a level file's
// ground chunk of kind 0, written back by Save, and converted to the run-time form by
// SaveRunTimeFormat when a level is saved for the game. Owned by its level; loading thread, then
// main thread.
//
// TODO(stand-in): the editable terrain comes later. Until then the body is kept as read (New makes
// the body of a flat terrain without layers) and nothing is built from it: no blocks, tree, layers
// or device data, so queries answer as flat empty ground (height 0, no hit, no contacts);
// SaveRunTimeFormat cannot convert it yet and answers false; the impassable data it is handed
// answers IsImpassable, dirty rectangles are ignored.
#pragma once

#include "navigation/ImpassableData.h"
#include "terrain/TerrainBase.h"

namespace GAME {

class BinaryWriter;

class Terrain : public TerrainBase
{
public:
    // Grass of one block and layer, and the pool of grass buffers the terrains keep.
    static constexpr unsigned maxNumGrassPlanes = 350;
    static constexpr bool useGrassBufferCache = true;
    static constexpr unsigned maxGrassBufferCacheSize = 15;

    explicit Terrain(Region* region) : TerrainBase(TERRAIN_BASE_EDITABLE, region) {}
    ~Terrain() override;

    // The body must start with sample counts whose cell counts are powers of two.
    bool Load(BinaryReader& reader, int version) override;
    void GetIntersection(const Ray&, unsigned, unsigned, unsigned, unsigned, Intersection&, unsigned&,
                         unsigned&) const override
    {
    }
    void FindCollisions(CollisionBox&, unsigned, unsigned, unsigned, unsigned, PhysicsSurface) const override
    {
    }
    int FindCollisions(const OBBox&, unsigned, unsigned, unsigned, unsigned, CollisionContact*, int,
                       PhysicsSurface) const override
    {
        return 0;
    }
    using TerrainBase::FindCollisions;
    using TerrainBase::GetIntersection;
    void Unload() override;
    void ReloadGenerationDependentData() override {}
    void LoadRenderData() override {}
    void AddToScene(GraphicsSceneRenderer&, const Frustum&) override {}
    void Update(const Frustum*, unsigned, int) override {}
    void PreLoad(const Frustum*, unsigned) override {}
    void DisplaceGrass(float, float, float, float) override {}
    void CreateGrassWind(const PhysicsGrassWind&) override {}
    void RemoveGrassWind() override {}
    unsigned GetNumTextureLayers() const override { return 0; }
    TerrainType* GetLayerTerrainType(unsigned) override { return nullptr; }
    const TerrainType* GetLayerTerrainType(unsigned) const override { return nullptr; }
    RenderTexture* GetLayerOpacityTexture(unsigned) const override { return nullptr; }
    unsigned GetLayerOpacity(unsigned, unsigned, unsigned) const override { return 0; }
    unsigned GetLayerOpacityInterpolated(unsigned, float, float) const override { return 0; }
    float GetHeightInterpolated(float, float) const override { return 0.0f; }
    float GetHeight(int, int) const override { return 0.0f; }
    Vec3 GetFastNormal(int, int) const override { return Vec3(0.0f, 1.0f, 0.0f); }
    Vec3 GetNormalInterpolated(float, float) const override { return Vec3(0.0f, 1.0f, 0.0f); }
    const GraphicsShader2* GetLayerShader() const override { return nullptr; }
    bool LowQuality() const override { return false; }
    RenderVertexDeclaration* GetVertexDeclaration() const override { return nullptr; }
    bool IsInvisible(int, int) const override { return false; }
    void GetLayersInBox(std::vector<unsigned>& layers, const ABBox&) const override { layers.clear(); }
    GrassGeometry CreateGrassGeometry() override { return GrassGeometry(); }
    void DestroyGrassGeometry(GrassGeometry& geometry) override { geometry = GrassGeometry(); }
    void CreateMapGeometry() override {}
    void DestroyMapGeometry() override {}
    bool IsTileOverlapping(const TerrainTile&) const override { return true; }
    void AddTileDirtyRects(const TerrainTile&) override {}

    // A flat terrain of width x height samples.
    void New(unsigned width, unsigned height);
    // The kind-0 body of the ground chunk.
    void Save(BinaryWriter& writer) const;
    // The kind-2 body; false (nothing written) while the run-time form cannot be made.
    bool SaveRunTimeFormat(BinaryWriter& writer) const;
    void SetImpassableData(const ImpassableData& data) { m_impassable = data; }
    const ImpassableData& GetImpassableData() const { return m_impassable; }
    // True outside the cell grid, else the cell's flag (passable while no impassable data was
    // handed over).
    bool IsImpassable(int x, int y) const;
    void ProcessDirtyRects() {}

private:
    std::vector<uint8_t> m_body;
    ImpassableData m_impassable;
};

} // namespace GAME
