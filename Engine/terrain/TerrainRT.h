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
// The ground vertices, grass buffers, height queries, ray and collision tests are the base's
// (TerrainBase), over this form's heights and visible bits.
//
// Owns its layers (terrain types through the object manager, opacity bytes and textures), heights,
// masks and its render interface. Load runs on the region's level loading thread; everything else
// on the main thread.
#pragma once

#include "terrain/TerrainBase.h"
#include "terrain/TerrainRenderInterfaceRT.h"

#include <memory>
#include <vector>

namespace GAME {

class TerrainRT final : public TerrainBase
{
public:
    static constexpr uint32_t fileVersion = 1;
    static constexpr unsigned headerSize = 32;
    // 256 mask bytes a sample at most.
    static constexpr uint32_t maxLayers = 2047;
    // The side of the texture that stands for a layer without opacity bytes.
    static constexpr int solidTextureSize = 8;

    explicit TerrainRT(Region* region);
    ~TerrainRT() override;

    void Unload() override;
    // The layer textures and map geometry made again, once render data was loaded.
    void PostDeviceReset() override;
    bool Load(BinaryReader& reader, int version) override;
    void LoadRenderData() override;
    void AddToScene(GraphicsSceneRenderer& renderer, const Frustum& frustum) override;
    unsigned GetNumTextureLayers() const override { return static_cast<unsigned>(m_layers.size()); }
    // 255 for layer 0 and a layer without opacity bytes; the cell clamped to the cells.
    unsigned GetLayerOpacity(unsigned layer, unsigned x, unsigned y) const override;
    // True outside the samples too.
    bool IsInvisible(int x, int y) const override;
    void GetLayersInBox(std::vector<unsigned>& layers, const ABBox& box) const override;
    // Tiles leave the run-time ground as it is.
    void AddTileDirtyRects(const TerrainTile&) override {}

    // The sample's visible bit (false outside the terrain).
    bool IsVisible(unsigned x, unsigned y) const;
    // Whether the layer's bit is set at the sample.
    bool HasLayerAt(unsigned x, unsigned y, unsigned layer) const;
    unsigned GetMaskBytes() const { return m_maskBytes; }
    bool IsRenderDataLoaded() const { return m_renderDataLoaded; }
    TerrainRenderInterfaceRT& GetRenderInterface() { return m_renderInterface; }
    const TerrainRenderInterfaceRT& GetRenderInterface() const { return m_renderInterface; }
    // The opacity bytes of the layer, null for layer 0 and a layer without them.
    const uint8_t* GetLayerOpacityBytes(unsigned layer) const;

protected:
    const LayerResources* GetLayerResources(unsigned layer) const override
    {
        return layer < m_layers.size() ? &m_layers[layer] : nullptr;
    }

private:
    struct Layer : LayerResources
    {
        std::unique_ptr<uint8_t[]> opacity;
    };

    const uint8_t* Mask(unsigned x, unsigned y) const
    {
        return m_masks.get() + (static_cast<size_t>(y) * m_numXSamples + x) * m_maskBytes;
    }
    // The opacity texture of the layer as loading makes it: 4-byte texels from the opacity bytes,
    // or an 8 x 8 texture of 255s for a layer without them.
    RenderTexture* MakeLayerTexture(RenderDevice& device, const Layer& layer) const;
    bool ReadLayers(BinaryReader& reader, uint32_t count);
    bool ReadPlugs(BinaryReader& reader);

    TerrainRenderInterfaceRT m_renderInterface;
    unsigned m_maskBytes = 0;
    std::unique_ptr<uint8_t[]> m_masks;
    std::unique_ptr<float[]> m_heights;
    std::vector<Layer> m_layers;
    bool m_renderDataLoaded = false;
};

} // namespace GAME
