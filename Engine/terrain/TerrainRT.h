// The run-time form of a region's terrain: the read-only height field the game loads, with its
// texture layers, a few bits a sample telling which layers show there and whether the ground is
// cut away, the layers' opacity maps and the plugs. Read in one pass from a level file's ground
// chunk of kind 2, never written (the editable terrain writes this form when a level is saved for
// the game; tools/datakit/TerrainWriter writes it for tests and the sample world).
//
// File form (little-endian; strings are a u32 length and that many bytes):
//   u32 version (1; other values load the same way), u32 layer count L (at most 2,047), u32 X and
//   u32 Y (sample counts; X - 1 and Y - 1 powers of two, X and Y at least 2), four u32 unused,
//   X x Y f32 heights (y outer, x inner),
//   X x Y masks of M = (L >> 3) + 1 bytes (bit 0 of the first byte: the sample is visible; layer i
//   is bit (i + 1) & 7 of byte (i + 1) >> 3, set when the layer shows at the cell whose lower
//   corner is (min(x, X - 2), min(y, Y - 2))),
//   L layer records: the terrain type's record name (empty: no type), then for every layer but the
//   first (X - 1) x (Y - 1) opacity bytes, one a cell,
//   u32 plug count, then the plugs' records (TerrainPlug).
// Every count is checked against the bytes left before anything is allocated or copied; a body
// that fails any check fails the load, with everything read freed again.
//
// Ground vertices (24 bytes: position (x, height, y), then the sample's normal) are in sample order.
// Grass vertex buffers are pooled (at most 16 records) and reused across blocks; one index buffer
// of 350 quads serves every grass draw.
//
// Owns its layers (terrain types through the object manager, opacity bytes and textures), heights,
// masks, device buffers and its render interface. Load runs on the region's level loading thread;
// everything else on the main thread.
#pragma once

#include "terrain/HeightField.h"
#include "terrain/TerrainBase.h"
#include "terrain/TerrainRenderInterfaceRT.h"

#include <deque>
#include <memory>
#include <vector>

namespace GAME {

class RenderIndexBuffer;

class TerrainRT final : public TerrainBase
{
public:
    static constexpr uint32_t fileVersion = 1;
    static constexpr unsigned headerSize = 32;
    // 256 mask bytes a sample at most.
    static constexpr uint32_t maxLayers = 2047;
    static constexpr unsigned groundVertexSize = 24;
    // A returned grass record joins the pool while it holds at most this many.
    static constexpr size_t maxGrassBufferCacheSize = 15;
    static constexpr unsigned grassIndexCount = 2100;
    static constexpr unsigned grassBladeBufferSize = 44800;
    static constexpr unsigned grassWindBufferSize = 11200;
    // The side of the texture that stands for a layer without opacity bytes.
    static constexpr int solidTextureSize = 8;

    explicit TerrainRT(Region* region);
    ~TerrainRT() override;

    using TerrainBase::FindCollisions;
    using TerrainBase::GetIntersection;

    void GetIntersection(const Ray& ray, unsigned x0, unsigned y0, unsigned x1, unsigned y1,
                         Intersection& intersection, unsigned& hitX, unsigned& hitY) const override;
    void FindCollisions(CollisionBox& box, unsigned x0, unsigned y0, unsigned x1, unsigned y1,
                        PhysicsSurface surface) const override;
    int FindCollisions(const OBBox& box, unsigned x0, unsigned y0, unsigned x1, unsigned y1,
                       CollisionContact* contacts, int capacity, PhysicsSurface surface) const override;
    void Unload() override;
    void PreDeviceReset() override;
    void PostDeviceReset() override;
    void ReloadGenerationDependentData() override;
    bool Load(BinaryReader& reader, int version) override;
    void LoadRenderData() override;
    void AddToScene(GraphicsSceneRenderer& renderer, const Frustum& frustum) override;
    void Update(const Frustum* frusta, unsigned count, int elapsed) override;
    void PreLoad(const Frustum* frusta, unsigned count) override;
    void DisplaceGrass(float x, float z, float radius, float strength) override;
    void CreateGrassWind(const PhysicsGrassWind& wind) override;
    void RemoveGrassWind() override;
    unsigned GetNumTextureLayers() const override { return static_cast<unsigned>(m_layers.size()); }
    TerrainType* GetLayerTerrainType(unsigned layer) override;
    const TerrainType* GetLayerTerrainType(unsigned layer) const override;
    RenderTexture* GetLayerOpacityTexture(unsigned layer) const override;
    unsigned GetLayerOpacity(unsigned layer, unsigned x, unsigned y) const override;
    unsigned GetLayerOpacityInterpolated(unsigned layer, float x, float z) const override;
    float GetHeightInterpolated(float x, float z) const override;
    float GetHeight(int x, int y) const override;
    Vec3 GetFastNormal(int x, int y) const override;
    Vec3 GetNormalInterpolated(float x, float z) const override;
    const GraphicsShader2* GetLayerShader() const override { return m_renderInterface.GetLayerShader(); }
    bool LowQuality() const override { return m_renderInterface.LowQuality(); }
    RenderVertexDeclaration* GetVertexDeclaration() const override { return m_groundDeclaration; }
    bool IsInvisible(int x, int y) const override;
    void GetLayersInBox(std::vector<unsigned>& layers, const ABBox& box) const override;
    GrassGeometry CreateGrassGeometry() override;
    void DestroyGrassGeometry(GrassGeometry& geometry) override;
    void CreateMapGeometry() override;
    void DestroyMapGeometry() override;
    bool IsTileOverlapping(const TerrainTile& tile) const override;
    void AddTileDirtyRects(const TerrainTile& tile) override;

    // The sample's visible bit (false outside the terrain).
    bool IsVisible(unsigned x, unsigned y) const;
    // Whether the layer's bit is set at the sample.
    bool HasLayerAt(unsigned x, unsigned y, unsigned layer) const;
    unsigned GetMaskBytes() const { return m_maskBytes; }
    RenderVertexBuffer* GetGroundVertexBuffer() const { return m_groundVertices; }
    RenderIndexBuffer* GetGrassIndexBuffer() const { return m_grassIndices; }
    bool IsRenderDataLoaded() const { return m_renderDataLoaded; }
    size_t GetGrassPoolSize() const { return m_grassPool.size(); }
    TerrainRenderInterfaceRT& GetRenderInterface() { return m_renderInterface; }
    const TerrainRenderInterfaceRT& GetRenderInterface() const { return m_renderInterface; }
    // The opacity bytes of the layer, null for layer 0 and a layer without them.
    const uint8_t* GetLayerOpacityBytes(unsigned layer) const;

private:
    struct Layer
    {
        TerrainType* type = nullptr;
        RenderTexture* texture = nullptr;
        std::unique_ptr<uint8_t[]> opacity;
    };

    // The heights and visible bits as the shared queries read them.
    HeightField Field() const;
    float Height(unsigned x, unsigned y) const
    {
        return m_heights[static_cast<size_t>(y) * m_numXSamples + x];
    }
    const uint8_t* Mask(unsigned x, unsigned y) const
    {
        return m_masks.get() + (static_cast<size_t>(y) * m_numXSamples + x) * m_maskBytes;
    }
    // The opacity texture of the layer as loading makes it: 4-byte texels from the opacity bytes,
    // or an 8 x 8 texture of 255s for a layer without them.
    RenderTexture* MakeLayerTexture(RenderDevice& device, const Layer& layer) const;
    bool ReadLayers(BinaryReader& reader, uint32_t count);
    bool ReadPlugs(BinaryReader& reader);
    void DestroyGrassPool();

    TerrainRenderInterfaceRT m_renderInterface;
    RenderVertexBuffer* m_groundVertices = nullptr;
    RenderVertexDeclaration* m_groundDeclaration = nullptr;
    unsigned m_maskBytes = 0;
    std::unique_ptr<uint8_t[]> m_masks;
    std::unique_ptr<float[]> m_heights;
    // X - 1 and Y - 1 as floats, for the clamps of the height queries.
    float m_lastSampleX = 0.0f;
    float m_lastSampleY = 0.0f;
    std::vector<Layer> m_layers;
    std::deque<GrassGeometry> m_grassPool;
    RenderIndexBuffer* m_grassIndices = nullptr;
    bool m_renderDataLoaded = false;
};

} // namespace GAME
