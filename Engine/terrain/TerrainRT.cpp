#include "terrain/TerrainRT.h"

#include "core/Frustum.h"
#include "core/Intersection.h"
#include "core/Log.h"
#include "core/MathUtil.h"
#include "core/ObjectManager.h"
#include "core/Ray.h"
#include "data/BinaryReader.h"
#include "graphics/RenderDevice.h"
#include "graphics/RenderIndexBuffer.h"
#include "graphics/RenderVertexBuffer.h"
#include "navigation/CollisionContact.h"
#include "navigation/PhysicsGrassWind.h"
#include "scene/GraphicsSceneRenderer.h"
#include "terrain/TerrainBlock.h"
#include "terrain/TerrainPlug.h"
#include "terrain/TerrainTile.h"
#include "terrain/TerrainType.h"
#include "world/Region.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

namespace GAME {

namespace {

// Heights beyond this are bad data: boxes made from them would overflow.
constexpr float maxHeight = 1.0e7f;

// v clamped to [lo, hi]; NaN gives lo.
float ClampCoordinate(float v, float lo, float hi)
{
    if (!(v > lo))
        return lo;
    return v > hi ? hi : v;
}

} // namespace

TerrainRT::TerrainRT(Region* region) : TerrainBase(TERRAIN_BASE_RUN_TIME, region), m_renderInterface(this) {}

TerrainRT::~TerrainRT()
{
    Unload();
    DestroyGrassPool();
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
    if (x < 2 || y < 2 || !IsPowerOfTwo(x - 1) || !IsPowerOfTwo(y - 1)) {
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
        if (!(std::fabs(m_heights[i]) <= maxHeight)) {
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
    m_lastSampleX = static_cast<float>(x - 1);
    m_lastSampleY = static_cast<float>(y - 1);
    m_maskBytes = maskBytes;
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
    if (device) {
        if (m_groundVertices)
            device->DestroyVertexBuffer(&m_groundVertices);
        if (m_groundDeclaration)
            device->DestroyVertexDeclaration(&m_groundDeclaration);
    }
    m_groundVertices = nullptr;
    m_groundDeclaration = nullptr;
    // Plugs, tiles and blocks go (blocks give their grass back to the pool) before the heights
    // they were built from.
    TerrainBase::Unload();
    m_heights.reset();
    m_masks.reset();
    m_maskBytes = 0;
    m_lastSampleX = m_lastSampleY = 0.0f;
    if (m_grassIndices && device)
        device->DestroyIndexBuffer(&m_grassIndices);
    m_grassIndices = nullptr;
    DestroyGrassPool();
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

void TerrainRT::CreateMapGeometry()
{
    RenderDevice* device = GetRenderDevice();
    if (!m_heights || !device)
        return;
    if (m_groundVertices)
        device->DestroyVertexBuffer(&m_groundVertices);
    if (m_grassIndices)
        device->DestroyIndexBuffer(&m_grassIndices);
    if (!m_groundDeclaration) {
        const VertexElement elements[2] = {{0, VERTEX_USAGE_POSITION, VERTEX_TYPE_FLOAT3},
                                           {0, VERTEX_USAGE_NORMAL, VERTEX_TYPE_FLOAT3}};
        m_groundDeclaration = device->CreateVertexDeclaration(elements, 2);
    }
    const uint64_t bytes = static_cast<uint64_t>(m_numXSamples) * m_numYSamples * groundVertexSize;
    m_groundVertices = bytes <= 0xFFFFFFFFu
                           ? device->CreateVertexBuffer(RENDER_USAGE_STATIC, static_cast<unsigned>(bytes))
                           : nullptr;
    if (!m_groundVertices) {
        LogPrintf(1, "Couldn't create terrain vertex buffer");
        return;
    }
    if (float* out = static_cast<float*>(m_groundVertices->Lock())) {
        for (unsigned y = 0; y < m_numYSamples; ++y)
            for (unsigned x = 0; x < m_numXSamples; ++x) {
                const Vec3 n = GetFastNormal(static_cast<int>(x), static_cast<int>(y));
                const float vertex[6] = {
                    static_cast<float>(x), Height(x, y), static_cast<float>(y), n.x, n.y, n.z};
                std::memcpy(out, vertex, sizeof(vertex));
                out += 6;
            }
        m_groundVertices->Unlock();
    } else {
        LogPrintf(1, "Couldn't lock terrain vertex buffer");
    }
    m_grassIndices = device->CreateIndexBuffer(grassIndexCount, 2);
    if (m_grassIndices) {
        if (uint16_t* indices = static_cast<uint16_t*>(m_grassIndices->Lock())) {
            for (uint16_t q = 0; q < TerrainBlock::maxNumGrassPlanes; ++q) {
                const uint16_t base = static_cast<uint16_t>(4 * q);
                const uint16_t quad[6] = {base,
                                          static_cast<uint16_t>(base + 3),
                                          static_cast<uint16_t>(base + 2),
                                          static_cast<uint16_t>(base + 2),
                                          static_cast<uint16_t>(base + 1),
                                          base};
                std::memcpy(indices + 6 * q, quad, sizeof(quad));
            }
            m_grassIndices->Unlock();
        }
    }
}

void TerrainRT::DestroyMapGeometry()
{
    if (RenderDevice* device = GetRenderDevice()) {
        if (m_groundVertices)
            device->DestroyVertexBuffer(&m_groundVertices);
        if (m_groundDeclaration)
            device->DestroyVertexDeclaration(&m_groundDeclaration);
        if (m_grassIndices)
            device->DestroyIndexBuffer(&m_grassIndices);
    }
    m_groundVertices = nullptr;
    m_groundDeclaration = nullptr;
    m_grassIndices = nullptr;
    DestroyGrassPool();
}

TerrainBase::GrassGeometry TerrainRT::CreateGrassGeometry()
{
    if (!m_grassPool.empty()) {
        const GrassGeometry geometry = m_grassPool.front();
        m_grassPool.pop_front();
        return geometry;
    }
    GrassGeometry geometry;
    RenderDevice* device = GetRenderDevice();
    if (!device)
        return geometry;
    geometry.bladeBuffer = device->CreateVertexBuffer(RENDER_USAGE_DYNAMIC, grassBladeBufferSize);
    geometry.windBuffer = device->CreateVertexBuffer(RENDER_USAGE_DYNAMIC, grassWindBufferSize);
    if (!geometry.bladeBuffer || !geometry.windBuffer) {
        if (geometry.bladeBuffer)
            device->DestroyVertexBuffer(&geometry.bladeBuffer);
        if (geometry.windBuffer)
            device->DestroyVertexBuffer(&geometry.windBuffer);
        return GrassGeometry();
    }
    return geometry;
}

void TerrainRT::DestroyGrassGeometry(GrassGeometry& geometry)
{
    if (!geometry.bladeBuffer && !geometry.windBuffer)
        return;
    if (m_grassPool.size() > maxGrassBufferCacheSize || !geometry.bladeBuffer || !geometry.windBuffer) {
        if (RenderDevice* device = GetRenderDevice()) {
            if (geometry.bladeBuffer)
                device->DestroyVertexBuffer(&geometry.bladeBuffer);
            if (geometry.windBuffer)
                device->DestroyVertexBuffer(&geometry.windBuffer);
        }
    } else {
        m_grassPool.push_back(geometry);
    }
    geometry = GrassGeometry();
}

void TerrainRT::DestroyGrassPool()
{
    RenderDevice* device = GetRenderDevice();
    for (GrassGeometry& geometry : m_grassPool)
        if (device) {
            if (geometry.bladeBuffer)
                device->DestroyVertexBuffer(&geometry.bladeBuffer);
            if (geometry.windBuffer)
                device->DestroyVertexBuffer(&geometry.windBuffer);
        }
    m_grassPool.clear();
}

void TerrainRT::PreDeviceReset()
{
    TerrainBase::PreDeviceReset();
    if (RenderDevice* device = GetRenderDevice())
        for (Layer& layer : m_layers)
            if (layer.texture)
                device->DestroyTexture(&layer.texture);
    for (Layer& layer : m_layers)
        layer.texture = nullptr;
    DestroyMapGeometry();
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

void TerrainRT::ReloadGenerationDependentData()
{
    for (Layer& layer : m_layers)
        if (layer.type)
            layer.type->ReloadBumpmaps();
}

// ---- Frame --------------------------------------------------------------------------------------

void TerrainRT::AddToScene(GraphicsSceneRenderer& renderer, const Frustum& frustum)
{
    if (!m_region)
        return;
    std::vector<TerrainObject*> objects;
    GetObjectsInFrustum(objects, &frustum, 1);
    for (TerrainObject* object : objects) {
        object->MarkUsed();
        object->AddToScene(renderer, *this);
    }
    if (objects.empty())
        return;
    m_renderInterface.Update(m_region->GetOffsetFromWorld(), frustum, objects);
    renderer.AddRenderable(&m_renderInterface, m_region);
}

void TerrainRT::Update(const Frustum* frusta, unsigned count, int elapsed)
{
    UnloadOldObjects();
    UpdateObjects(frusta, count, elapsed);
}

void TerrainRT::PreLoad(const Frustum* frusta, unsigned count)
{
    std::vector<TerrainObject*> objects;
    std::vector<bool> seenFirst;
    GetObjectsInFrustum(objects, frusta, count, &seenFirst);
    for (size_t i = 0; i < objects.size(); ++i) {
        const bool immediate = i < seenFirst.size() && seenFirst[i];
        if (!objects[i]->IsPreLoaded(immediate))
            objects[i]->PreLoad(immediate);
    }
}

void TerrainRT::DisplaceGrass(float x, float z, float radius, float strength)
{
    std::vector<TerrainObject*> objects;
    GetObjectsInBox(objects, ABBox(Vec3(x, 0.0f, z), Vec3(radius, gInfinity, radius)));
    for (TerrainObject* object : objects)
        object->DisplaceGrass(x, z, radius, strength);
}

void TerrainRT::CreateGrassWind(const PhysicsGrassWind& wind)
{
    std::vector<TerrainObject*> objects;
    GetObjectsInBox(objects, ABBox(Vec3(wind.x, 0.0f, wind.z), Vec3(wind.radius, gInfinity, wind.radius)));
    for (TerrainObject* object : objects)
        object->CreateGrassWind(wind);
}

void TerrainRT::RemoveGrassWind()
{
    std::vector<TerrainObject*> objects;
    GetAllObjects(objects);
    for (TerrainObject* object : objects)
        object->RemoveGrassWind();
}

// ---- Layers -------------------------------------------------------------------------------------

TerrainType* TerrainRT::GetLayerTerrainType(unsigned layer)
{
    return layer < m_layers.size() ? m_layers[layer].type : nullptr;
}

const TerrainType* TerrainRT::GetLayerTerrainType(unsigned layer) const
{
    return layer < m_layers.size() ? m_layers[layer].type : nullptr;
}

RenderTexture* TerrainRT::GetLayerOpacityTexture(unsigned layer) const
{
    return layer < m_layers.size() ? m_layers[layer].texture : nullptr;
}

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

unsigned TerrainRT::GetLayerOpacityInterpolated(unsigned layer, float x, float z) const
{
    if (m_numXSamples < 2 || m_numYSamples < 2)
        return 0;
    // Cells, clamped as heights are clamped to the samples.
    const unsigned cellsX = m_numXSamples - 1, cellsY = m_numYSamples - 1;
    x = ClampCoordinate(x, 0.0f, static_cast<float>(cellsX - 1));
    z = ClampCoordinate(z, 0.0f, static_cast<float>(cellsY - 1));
    const unsigned ix = static_cast<unsigned>(x), iy = static_cast<unsigned>(z);
    const unsigned ix1 = ix + 1 < cellsX ? ix + 1 : ix, iy1 = iy + 1 < cellsY ? iy + 1 : iy;
    const float fx = x - static_cast<float>(ix), fz = z - static_cast<float>(iy);
    const float o00 = static_cast<float>(GetLayerOpacity(layer, ix, iy));
    const float o10 = static_cast<float>(GetLayerOpacity(layer, ix1, iy));
    const float o01 = static_cast<float>(GetLayerOpacity(layer, ix, iy1));
    const float o11 = static_cast<float>(GetLayerOpacity(layer, ix1, iy1));
    const float a = o00 + (o10 - o00) * fx, b = o01 + (o11 - o01) * fx;
    return std::min(255u, static_cast<unsigned>(std::max(0.0f, a + (b - a) * fz)));
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
    if (!m_masks || m_numXSamples < 2 || m_numYSamples < 2 || m_layers.empty())
        return;
    const int64_t lastX = m_numXSamples - 2, lastY = m_numYSamples - 2;
    const int64_t x0 = std::max<int64_t>(0, HeightField::TruncIndex(box.center.x - box.extents.x));
    const int64_t y0 = std::max<int64_t>(0, HeightField::TruncIndex(box.center.z - box.extents.z));
    const int64_t x1 = std::min(lastX, HeightField::TruncIndex(box.center.x + box.extents.x + 0.5f));
    const int64_t y1 = std::min(lastY, HeightField::TruncIndex(box.center.z + box.extents.z + 0.5f));
    if (x0 > x1 || y0 > y1)
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

// ---- Heights ------------------------------------------------------------------------------------

float TerrainRT::GetHeight(int x, int y) const
{
    return Field().GetHeight(x, y);
}

float TerrainRT::GetHeightInterpolated(float x, float z) const
{
    return Field().GetHeightInterpolated(x, z);
}

Vec3 TerrainRT::GetFastNormal(int x, int y) const
{
    return Field().GetFastNormal(x, y);
}

Vec3 TerrainRT::GetNormalInterpolated(float x, float z) const
{
    return Field().GetNormalInterpolated(x, z);
}

// ---- Ray and collision tests --------------------------------------------------------------------

HeightField TerrainRT::Field() const
{
    HeightField field;
    field.heights = m_heights.get();
    field.numX = m_numXSamples;
    field.numY = m_numYSamples;
    field.visibility = m_masks.get();
    field.visibilityStride = m_maskBytes;
    field.visibilityBit = 1;
    field.visibleWhenSet = true;
    return field;
}

void TerrainRT::GetIntersection(const Ray& ray, unsigned x0, unsigned y0, unsigned x1, unsigned y1,
                                Intersection& intersection, unsigned& hitX, unsigned& hitY) const
{
    Field().GetIntersection(ray, x0, y0, x1, y1, intersection, hitX, hitY);
}

int TerrainRT::FindCollisions(const OBBox& box, unsigned x0, unsigned y0, unsigned x1, unsigned y1,
                              CollisionContact* contacts, int capacity, PhysicsSurface) const
{
    return Field().FindCollisions(box, x0, y0, x1, y1, contacts, capacity);
}

void TerrainRT::FindCollisions(CollisionBox& box, unsigned x0, unsigned y0, unsigned x1, unsigned y1,
                               PhysicsSurface) const
{
    Field().FindCollisions(box, x0, y0, x1, y1);
}

// ---- Tiles --------------------------------------------------------------------------------------

bool TerrainRT::IsTileOverlapping(const TerrainTile& tile) const
{
    const ABBox terrain = GetBoundingBox();
    const Vec3 low = terrain.GetMin(), high = terrain.GetMax();
    const ABBox& box = tile.GetBoundingBox();
    const Vec3 tileLow = box.GetMin(), tileHigh = box.GetMax();
    return tileLow.x <= low.x + 2.0f || tileLow.z <= low.z + 2.0f || tileHigh.x >= high.x - 2.0f ||
           tileHigh.z >= high.z - 2.0f;
}

void TerrainRT::AddTileDirtyRects(const TerrainTile&) {}

} // namespace GAME
