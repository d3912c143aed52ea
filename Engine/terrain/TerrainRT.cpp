#include "terrain/TerrainRT.h"

#include "core/Log.h"
#include "core/ObjectManager.h"
#include "data/BinaryReader.h"
#include "graphics/RenderDevice.h"
#include "terrain/TerrainPlug.h"
#include "terrain/TerrainType.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

namespace GAME {

TerrainRT::TerrainRT(Region* region)
    : TerrainBase(TERRAIN_BASE_RUN_TIME, region, m_renderInterface), m_renderInterface(this)
{
}

TerrainRT::~TerrainRT()
{
    Unload();
}

// ---- Loading ------------------------------------------------------------------------------------

bool TerrainRT::Load(BinaryReader& reader, int)
{
    Unload();
    reader.ReadUInt32(); // version: every version loads the same way
    const uint32_t layers = reader.ReadUInt32();
    const uint32_t x = reader.ReadUInt32();
    const uint32_t y = reader.ReadUInt32();
    reader.Skip(16);
    if (reader.Failed()) {
        LogPrintf(1, "TerrainRT: the terrain header is cut short");
        return false;
    }
    if (!AreSampleCounts(x, y)) {
        LogPrintf(1, "TerrainRT: %u x %u samples are not a power of two cells a side", x, y);
        return false;
    }
    if (layers > maxLayers) {
        LogPrintf(1, "TerrainRT: %u layers are more than %u", layers, maxLayers);
        return false;
    }
    const uint64_t samples = static_cast<uint64_t>(x) * y;
    const unsigned maskBytes = (layers >> 3) + 1;
    if (!reader.CheckCount(samples, 4, "terrain heights"))
        return false;
    m_heights.reset(new (std::nothrow) float[samples]);
    if (!m_heights || !reader.ReadBytes(m_heights.get(), static_cast<unsigned>(samples * 4))) {
        LogPrintf(1, "TerrainRT: the heights cannot be read");
        Unload();
        return false;
    }
    for (uint64_t i = 0; i < samples; ++i)
        if (!(std::fabs(m_heights[i]) <= HeightField::maxHeight)) {
            LogPrintf(1, "TerrainRT: a height is not a finite number in range");
            Unload();
            return false;
        }
    if (!reader.CheckCount(samples, maskBytes, "terrain masks")) {
        Unload();
        return false;
    }
    m_masks.reset(new (std::nothrow) uint8_t[samples * maskBytes]);
    if (!m_masks || !reader.ReadBytes(m_masks.get(), static_cast<unsigned>(samples * maskBytes))) {
        LogPrintf(1, "TerrainRT: the layer masks cannot be read");
        Unload();
        return false;
    }
    m_numXSamples = x;
    m_numYSamples = y;
    m_maskBytes = maskBytes;
    m_field.heights = m_heights.get();
    m_field.numX = x;
    m_field.numY = y;
    m_field.visibility = m_masks.get();
    m_field.visibilityStride = maskBytes;
    m_field.visibilityBit = 1;
    m_field.visibleWhenSet = true;
    if (!ReadLayers(reader, layers)) {
        Unload();
        return false;
    }
    InitializeBlocks(false);
    if (!m_blocks || !ReadPlugs(reader)) {
        Unload();
        return false;
    }
    return true;
}

bool TerrainRT::ReadLayers(BinaryReader& reader, uint32_t count)
{
    // Every record holds at least its name's length.
    if (!reader.CheckCount(count, 4, "terrain layers"))
        return false;
    const uint64_t cells = static_cast<uint64_t>(m_numXSamples - 1) * (m_numYSamples - 1);
    m_layers.resize(count);
    for (uint32_t i = 0; i < count; ++i) {
        Layer& layer = m_layers[i];
        std::string name;
        if (!reader.ReadString(name))
            return false;
        if (!name.empty()) {
            layer.type = ObjectManager::Get()->CreateObjectFromFileAs<TerrainType>(name, 0, true);
            if (!layer.type)
                LogPrintf(1, "Failed to load terrain type %s.", name.c_str());
        }
        if (i == 0)
            continue;
        if (!reader.CheckCount(cells, 1, "layer opacities"))
            return false;
        layer.opacity.reset(new (std::nothrow) uint8_t[cells]);
        const bool read = layer.opacity ? reader.ReadBytes(layer.opacity.get(), static_cast<unsigned>(cells))
                                        : reader.Skip(static_cast<unsigned>(cells));
        if (!read)
            return false;
    }
    return true;
}

bool TerrainRT::ReadPlugs(BinaryReader& reader)
{
    const uint32_t count = reader.ReadUInt32();
    // Every plug record holds at least its two counts.
    if (reader.Failed() || !reader.CheckCount(count, 8, "terrain plugs")) {
        LogPrintf(1, "TerrainRT: the plug list is cut short");
        return false;
    }
    for (uint32_t i = 0; i < count; ++i) {
        TerrainPlug* plug = new TerrainPlug;
        if (!plug->Read(reader)) {
            LogPrintf(1, "TerrainRT: plug %u cannot be read", i);
            delete plug;
            return false;
        }
        plug->SetTerrain(this);
        plug->UpdateBoundingBox();
        plug->CreateRenderData();
        AddObjectToSpace(plug);
    }
    return true;
}

void TerrainRT::Unload()
{
    RenderDevice* device = GetRenderDevice();
    for (Layer& layer : m_layers) {
        if (layer.texture && device)
            device->DestroyTexture(&layer.texture);
        layer.texture = nullptr;
        if (layer.type)
            ObjectManager::Get()->DestroyObjectEx(layer.type, __FILE__, __LINE__);
        layer.type = nullptr;
        layer.opacity.reset();
    }
    m_layers.clear();
    TerrainBase::Unload();
    m_heights.reset();
    m_masks.reset();
    m_maskBytes = 0;
    m_renderDataLoaded = false;
}

// ---- Render data --------------------------------------------------------------------------------

RenderTexture* TerrainRT::MakeLayerTexture(RenderDevice& device, const Layer& layer) const
{
    if (!layer.opacity) {
        uint8_t texels[solidTextureSize * solidTextureSize];
        std::memset(texels, 255, sizeof(texels));
        return device.CreateTexture(solidTextureSize, solidTextureSize, texels, 1, RENDER_USAGE_STATIC);
    }
    const unsigned width = m_numXSamples - 1, height = m_numYSamples - 1;
    const size_t cells = static_cast<size_t>(width) * height;
    std::unique_ptr<uint8_t[]> texels(new (std::nothrow) uint8_t[cells * 4]);
    if (!texels)
        return nullptr;
    // Blue, green, red, alpha: the derived channel in red, the opacity in alpha.
    for (size_t i = 0; i < cells; ++i) {
        const int o = layer.opacity[i];
        texels[4 * i + 0] = 0;
        texels[4 * i + 1] = 0;
        texels[4 * i + 2] = static_cast<uint8_t>(std::clamp((127 - o) * 4, 0, 255));
        texels[4 * i + 3] = static_cast<uint8_t>(o);
    }
    return device.CreateTextureFromImage(static_cast<int>(width), static_cast<int>(height), texels.get(), 1,
                                         RENDER_USAGE_STATIC);
}

void TerrainRT::LoadRenderData()
{
    // On the level's loading thread: the shaders are in before the level is handed over for drawing.
    m_renderInterface.LoadShaders();
    RenderDevice* device = GetRenderDevice();
    for (Layer& layer : m_layers) {
        if (layer.type)
            layer.type->LoadTextures();
        if (device && !layer.texture)
            layer.texture = MakeLayerTexture(*device, layer);
    }
    CreateMapGeometry();
    m_renderDataLoaded = true;
}

void TerrainRT::PostDeviceReset()
{
    if (m_renderDataLoaded) {
        // Made again as loading made them (4-byte texels with the derived channel).
        if (RenderDevice* device = GetRenderDevice())
            for (Layer& layer : m_layers)
                if (!layer.texture)
                    layer.texture = MakeLayerTexture(*device, layer);
        CreateMapGeometry();
    }
    TerrainBase::PostDeviceReset();
}

// ---- Frame --------------------------------------------------------------------------------------

void TerrainRT::AddToScene(GraphicsSceneRenderer& renderer, const Frustum& frustum)
{
    AddObjectsToScene(renderer, frustum, true);
}

// ---- Layers -------------------------------------------------------------------------------------

const uint8_t* TerrainRT::GetLayerOpacityBytes(unsigned layer) const
{
    return layer < m_layers.size() ? m_layers[layer].opacity.get() : nullptr;
}

unsigned TerrainRT::GetLayerOpacity(unsigned layer, unsigned x, unsigned y) const
{
    if (layer >= m_layers.size() || m_numXSamples < 2 || m_numYSamples < 2)
        return 0;
    const uint8_t* opacity = m_layers[layer].opacity.get();
    if (layer == 0 || !opacity)
        return 255;
    x = std::min(x, m_numXSamples - 2);
    y = std::min(y, m_numYSamples - 2);
    return opacity[static_cast<size_t>(y) * (m_numXSamples - 1) + x];
}

bool TerrainRT::IsVisible(unsigned x, unsigned y) const
{
    if (!m_masks || x >= m_numXSamples || y >= m_numYSamples)
        return false;
    return (Mask(x, y)[0] & 1u) != 0;
}

bool TerrainRT::IsInvisible(int x, int y) const
{
    return x < 0 || y < 0 || !IsVisible(static_cast<unsigned>(x), static_cast<unsigned>(y));
}

bool TerrainRT::HasLayerAt(unsigned x, unsigned y, unsigned layer) const
{
    if (!m_masks || x >= m_numXSamples || y >= m_numYSamples || layer >= m_layers.size())
        return false;
    const unsigned bit = layer + 1;
    return (Mask(x, y)[bit >> 3] & (1u << (bit & 7u))) != 0;
}

void TerrainRT::GetLayersInBox(std::vector<unsigned>& layers, const ABBox& box) const
{
    layers.clear();
    int64_t x0, y0, x1, y1;
    if (!m_masks || m_layers.empty() || !GetCellsInBox(box, x0, y0, x1, y1))
        return;
    // Every mask of the rectangle together: a layer shows when its bit is set in any of them.
    uint8_t any[256] = {};
    for (int64_t y = y0; y <= y1; ++y)
        for (int64_t x = x0; x <= x1; ++x) {
            const uint8_t* mask = Mask(static_cast<unsigned>(x), static_cast<unsigned>(y));
            for (unsigned b = 0; b < m_maskBytes; ++b)
                any[b] |= mask[b];
        }
    for (unsigned layer = 0; layer < m_layers.size(); ++layer) {
        const unsigned bit = layer + 1;
        if (any[bit >> 3] & (1u << (bit & 7u)))
            layers.push_back(layer);
    }
}

} // namespace GAME
