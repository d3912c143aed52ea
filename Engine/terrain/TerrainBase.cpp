#include "terrain/TerrainBase.h"

#include "core/Frustum.h"
#include "core/Intersect.h"
#include "core/Intersection.h"
#include "core/Log.h"
#include "core/MathUtil.h"
#include "core/Ray.h"
#include "data/EngineDataServices.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/RenderDevice.h"
#include "graphics/RenderIndexBuffer.h"
#include "graphics/RenderVertexBuffer.h"
#include "navigation/CollisionContact.h"
#include "navigation/PhysicsGrassWind.h"
#include "scene/GraphicsSceneRenderer.h"
#include "terrain/TerrainBlock.h"
#include "terrain/TerrainPlug.h"
#include "terrain/TerrainRenderInterfaceBase.h"
#include "terrain/TerrainTile.h"
#include "terrain/TerrainType.h"
#include "world/Engine.h"
#include "world/Entity.h"
#include "world/Region.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

namespace GAME {

namespace {

// How far the ray walk widens cells and blocks, so that rounding never hides a hit that lies on
// their edges.
constexpr float walkMargin = 1e-3f;

// The index of the span of `size` units that holds v, clamped to [0, count - 1].
unsigned SpanOf(float v, float size, unsigned count)
{
    const float f = std::floor(v / size);
    if (!(f > 0.0f))
        return 0;
    return f >= static_cast<float>(count - 1) ? count - 1 : static_cast<unsigned>(f);
}

bool InFrustumTest(TerrainObject*, const ABBox& box, const SpaceFrustum& frustum)
{
    return frustum.BoxInFrustum(box);
}

} // namespace

TerrainBase::TerrainBase(TerrainBaseType type, Region* region, TerrainRenderInterfaceBase& renderInterface)
    : m_type(type), m_region(region), m_renderInterfaceBase(renderInterface)
{
}

TerrainBase::~TerrainBase()
{
    // The subclasses unload in their destructors (blocks give their grass back through them);
    // what is left here holds no device data.
    DeletePlugs();
    FreeTiles();
    delete m_space;
    m_space = nullptr;
    delete[] m_blocks;
    m_blocks = nullptr;
}

RenderDevice* TerrainBase::GetRenderDevice()
{
    GraphicsEngine* graphics = gEngine ? gEngine->GetGraphicsEngine() : nullptr;
    return graphics ? graphics->GetRenderDevice() : nullptr;
}

TerrainBlock* TerrainBase::GetBlock(unsigned i, unsigned j) const
{
    if (!m_blocks || i >= m_numXBlocks || j >= m_numYBlocks)
        return nullptr;
    return &m_blocks[static_cast<size_t>(j) * m_numXBlocks + i];
}

// ---- Life cycle ---------------------------------------------------------------------------------

void TerrainBase::Unload()
{
    DestroyMapGeometry();
    // Plugs, tiles and blocks go (blocks give their grass back to the pool) before the samples
    // they were built from.
    DeletePlugs();
    // Tiles go with the ground they were set into; none is left linked into the tree.
    FreeTiles();
    m_loadedObjects.clear();
    if (m_blocks) {
        for (size_t i = 0, n = static_cast<size_t>(m_numXBlocks) * m_numYBlocks; i < n; ++i)
            RemoveObjectFromSpace(&m_blocks[i]);
        delete[] m_blocks;
        m_blocks = nullptr;
    }
    delete m_space;
    m_space = nullptr;
    m_numXBlocks = m_numYBlocks = 0;
    m_numXSamples = m_numYSamples = 0;
    m_field = HeightField();
    DestroyGrassPool();
}

void TerrainBase::DeletePlugs()
{
    if (!m_space)
        return;
    std::vector<TerrainObject*> objects;
    GetAllObjects(objects);
    for (TerrainObject* object : objects)
        if (object->GetClassInfo().IsA(TerrainPlug::classInfo)) {
            RemoveObjectFromSpace(object);
            m_loadedObjects.erase(object);
            delete object;
        }
}

void TerrainBase::PreDeviceReset()
{
    ForAllObjects(&TerrainObject::PreDeviceReset);
    RenderDevice* device = GetRenderDevice();
    for (unsigned i = 0, n = GetNumTextureLayers(); i < n; ++i)
        if (LayerResources* layer = MutableLayerResources(i)) {
            if (layer->texture && device)
                device->DestroyTexture(&layer->texture);
            layer->texture = nullptr;
        }
    DestroyMapGeometry();
}

void TerrainBase::PostDeviceReset()
{
    ForAllObjects(&TerrainObject::PostDeviceReset);
}

void TerrainBase::ForAllObjects(void (TerrainObject::*call)())
{
    std::vector<TerrainObject*> objects;
    GetAllObjects(objects);
    for (TerrainObject* object : objects)
        (object->*call)();
}

void TerrainBase::ReloadGenerationDependentData()
{
    for (unsigned i = 0, n = GetNumTextureLayers(); i < n; ++i)
        if (const LayerResources* layer = GetLayerResources(i))
            if (layer->type)
                layer->type->ReloadBumpmaps();
}

bool TerrainBase::AreSampleCounts(uint32_t x, uint32_t y)
{
    return x >= 2 && y >= 2 && IsPowerOfTwo(x - 1) && IsPowerOfTwo(y - 1);
}

// ---- Map and grass geometry ---------------------------------------------------------------------

void TerrainBase::WriteGroundVertices(float* out, unsigned x0, unsigned y0, unsigned x1, unsigned y1) const
{
    for (unsigned y = y0; y < y1; ++y)
        for (unsigned x = x0; x < x1; ++x) {
            const Vec3 n = m_field.GetFastNormal(static_cast<int>(x), static_cast<int>(y));
            const float vertex[6] = {
                static_cast<float>(x), m_field.Height(x, y), static_cast<float>(y), n.x, n.y, n.z};
            std::memcpy(out + (static_cast<size_t>(y) * m_numXSamples + x) * 6, vertex, sizeof(vertex));
        }
}

void TerrainBase::CreateMapGeometry()
{
    RenderDevice* device = GetRenderDevice();
    if (!m_field.heights || !device)
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
        WriteGroundVertices(out, 0, 0, m_numXSamples, m_numYSamples);
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

void TerrainBase::DestroyMapGeometry()
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

TerrainBase::GrassGeometry TerrainBase::CreateGrassGeometry()
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

void TerrainBase::DestroyGrassGeometry(GrassGeometry& geometry)
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

void TerrainBase::DestroyGrassPool()
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

// ---- Blocks -------------------------------------------------------------------------------------

void TerrainBase::InitializeBlocks(bool createMapGeometry)
{
    if (createMapGeometry)
        CreateMapGeometry();
    ConstructBlocks();
}

void TerrainBase::ConstructBlocks()
{
    if (m_numXSamples < 2 || m_numYSamples < 2)
        return;
    const unsigned numX = (m_numXSamples + 7) / cellsPerBlock;
    const unsigned numY = (m_numYSamples + 7) / cellsPerBlock;
    TerrainBlock* blocks = new (std::nothrow) TerrainBlock[static_cast<size_t>(numX) * numY];
    if (!blocks) {
        LogPrintf(1, "Terrain: no memory for %u x %u blocks", numX, numY);
        return;
    }
    m_blocks = blocks;
    m_numXBlocks = numX;
    m_numYBlocks = numY;
    for (unsigned j = 0; j < numY; ++j)
        for (unsigned i = 0; i < numX; ++i) {
            const unsigned w = std::min(cellsPerBlock * (i + 1), m_numXSamples - 1) - cellsPerBlock * i + 1;
            const unsigned h = std::min(cellsPerBlock * (j + 1), m_numYSamples - 1) - cellsPerBlock * j + 1;
            m_blocks[static_cast<size_t>(j) * numX + i].Initialize(this, i, j, w, h);
        }
    const float s =
        static_cast<float>(NextPowerOfTwo(std::max(numX, numY))) * static_cast<float>(cellsPerBlock);
    delete m_space;
    m_space = new Space<TerrainObject>(s * 0.5f, s * 0.5f, s * 0.5f, s * 0.5f);
    for (size_t i = 0, n = static_cast<size_t>(numX) * numY; i < n; ++i)
        AddObjectToSpace(&m_blocks[i]);
}

void TerrainBase::DestroyTerrainBlocks()
{
    if (m_blocks) {
        for (size_t i = 0, n = static_cast<size_t>(m_numXBlocks) * m_numYBlocks; i < n; ++i) {
            RemoveObjectFromSpace(&m_blocks[i]);
            m_loadedObjects.erase(&m_blocks[i]);
        }
        delete[] m_blocks;
        m_blocks = nullptr;
    }
    m_numXBlocks = m_numYBlocks = 0;
    DestroyMapGeometry();
}

void TerrainBase::AddLoadedObject(TerrainObject* object)
{
    if (object)
        m_loadedObjects.insert(object);
}

// ---- Frame --------------------------------------------------------------------------------------

bool TerrainBase::AddObjectsToScene(GraphicsSceneRenderer& renderer, const Frustum& frustum, bool drawPlugs)
{
    if (!m_region)
        return false;
    std::vector<TerrainObject*> objects;
    GetObjectsInFrustum(objects, &frustum, 1);
    for (TerrainObject* object : objects) {
        object->MarkUsed();
        if (!drawPlugs && object->GetClassInfo().IsA(TerrainPlug::classInfo))
            continue;
        object->AddToScene(renderer, *this);
    }
    if (objects.empty())
        return false;
    m_renderInterfaceBase.Update(m_region->GetOffsetFromWorld(), frustum, objects);
    renderer.AddRenderable(&m_renderInterfaceBase, m_region);
    return true;
}

void TerrainBase::Update(const Frustum* frusta, unsigned count, int elapsed)
{
    UnloadOldObjects();
    UpdateObjects(frusta, count, elapsed);
}

void TerrainBase::PreLoad(const Frustum* frusta, unsigned count)
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

void TerrainBase::DisplaceGrass(float x, float z, float radius, float strength)
{
    std::vector<TerrainObject*> objects;
    GetObjectsInBox(objects, ABBox(Vec3(x, 0.0f, z), Vec3(radius, gInfinity, radius)));
    for (TerrainObject* object : objects)
        object->DisplaceGrass(x, z, radius, strength);
}

void TerrainBase::CreateGrassWind(const PhysicsGrassWind& wind)
{
    std::vector<TerrainObject*> objects;
    GetObjectsInBox(objects, ABBox(Vec3(wind.x, 0.0f, wind.z), Vec3(wind.radius, gInfinity, wind.radius)));
    for (TerrainObject* object : objects)
        object->CreateGrassWind(wind);
}

void TerrainBase::RemoveGrassWind()
{
    ForAllObjects(&TerrainObject::RemoveGrassWind);
}

const GraphicsShader2* TerrainBase::GetLayerShader() const
{
    return m_renderInterfaceBase.GetLayerShader();
}

bool TerrainBase::LowQuality() const
{
    return m_renderInterfaceBase.LowQuality();
}

void TerrainBase::UnloadOldObjects()
{
    const uint32_t frame = EngineDataServices::FrameCount();
    for (auto it = m_loadedObjects.begin(); it != m_loadedObjects.end();) {
        TerrainObject* object = *it;
        if (static_cast<int32_t>(frame - object->GetLastFrameUsed()) >= 11) {
            object->Unload();
            it = m_loadedObjects.erase(it);
        } else {
            ++it;
        }
    }
}

// ---- The tree -----------------------------------------------------------------------------------

bool TerrainBase::HasObjectsBesideBlocks() const
{
    return m_space && m_space->GetObjectCount() > m_numXBlocks * m_numYBlocks;
}

void TerrainBase::AddObjectToSpace(TerrainObject* object)
{
    if (m_space && object && !object->IsInSpace())
        m_space->Insert(object);
}

void TerrainBase::RemoveObjectFromSpace(TerrainObject* object)
{
    if (m_space && object && m_space->Contains(object))
        m_space->Remove(object);
}

void TerrainBase::UpdateObjectInSpace(TerrainObject* object)
{
    if (m_space && object && m_space->Contains(object))
        m_space->UpdateObject(object);
}

void TerrainBase::GetAllObjects(std::vector<TerrainObject*>& out) const
{
    if (m_space)
        Space<TerrainObject>::GetAllObjects(m_space->GetRoot(), out);
}

void TerrainBase::GetObjectsInBox(std::vector<TerrainObject*>& out, const ABBox& box) const
{
    if (m_space)
        Space<TerrainObject>::GetObjectsInBox(m_space->GetRoot(), out, box);
}

void TerrainBase::GetObjectsInFrustum(std::vector<TerrainObject*>& out, const Frustum* frusta, unsigned count,
                                      std::vector<bool>* firstFrustum) const
{
    if (m_space)
        m_space->GetObjectsInFrusta(out, frusta, count, InFrustumTest, firstFrustum);
}

void TerrainBase::UpdateObjects(const Frustum* frusta, unsigned count, int elapsed)
{
    std::vector<TerrainObject*> objects;
    GetObjectsInFrustum(objects, frusta, count);
    for (TerrainObject* object : objects)
        object->Update(*this, elapsed);
}

// ---- Layers -------------------------------------------------------------------------------------

TerrainType* TerrainBase::GetLayerTerrainType(unsigned layer)
{
    const LayerResources* resources = GetLayerResources(layer);
    return resources ? resources->type : nullptr;
}

const TerrainType* TerrainBase::GetLayerTerrainType(unsigned layer) const
{
    const LayerResources* resources = GetLayerResources(layer);
    return resources ? resources->type : nullptr;
}

RenderTexture* TerrainBase::GetLayerOpacityTexture(unsigned layer) const
{
    const LayerResources* resources = GetLayerResources(layer);
    return resources ? resources->texture : nullptr;
}

unsigned TerrainBase::GetLayerOpacityInterpolated(unsigned layer, float x, float z) const
{
    if (m_numXSamples < 2 || m_numYSamples < 2)
        return 0;
    // Cells, clamped as heights are clamped to the samples.
    const unsigned cellsX = m_numXSamples - 1, cellsY = m_numYSamples - 1;
    x = HeightField::ClampCoordinate(x, 0.0f, static_cast<float>(cellsX - 1));
    z = HeightField::ClampCoordinate(z, 0.0f, static_cast<float>(cellsY - 1));
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

bool TerrainBase::GetCellsInBox(const ABBox& box, int64_t& x0, int64_t& y0, int64_t& x1, int64_t& y1) const
{
    if (m_numXSamples < 2 || m_numYSamples < 2)
        return false;
    const int64_t lastX = m_numXSamples - 2, lastY = m_numYSamples - 2;
    x0 = std::max<int64_t>(0, HeightField::TruncIndex(box.center.x - box.extents.x));
    y0 = std::max<int64_t>(0, HeightField::TruncIndex(box.center.z - box.extents.z));
    x1 = std::min(lastX, HeightField::TruncIndex(box.center.x + box.extents.x + 0.5f));
    y1 = std::min(lastY, HeightField::TruncIndex(box.center.z + box.extents.z + 0.5f));
    return x0 <= x1 && y0 <= y1;
}

// ---- Heights ------------------------------------------------------------------------------------

float TerrainBase::GetHeight(int x, int y) const
{
    return m_field.GetHeight(x, y);
}

float TerrainBase::GetHeightInterpolated(float x, float z) const
{
    return m_field.GetHeightInterpolated(x, z);
}

Vec3 TerrainBase::GetFastNormal(int x, int y) const
{
    return m_field.GetFastNormal(x, y);
}

Vec3 TerrainBase::GetNormalInterpolated(float x, float z) const
{
    return m_field.GetNormalInterpolated(x, z);
}

void TerrainBase::GetIntersection(const Ray& ray, unsigned x0, unsigned y0, unsigned x1, unsigned y1,
                                  Intersection& intersection, unsigned& hitX, unsigned& hitY) const
{
    m_field.GetIntersection(ray, x0, y0, x1, y1, intersection, hitX, hitY);
}

int TerrainBase::FindCollisions(const OBBox& box, unsigned x0, unsigned y0, unsigned x1, unsigned y1,
                                CollisionContact* contacts, int capacity, PhysicsSurface) const
{
    return m_field.FindCollisions(box, x0, y0, x1, y1, contacts, capacity);
}

void TerrainBase::FindCollisions(CollisionBox& box, unsigned x0, unsigned y0, unsigned x1, unsigned y1,
                                 PhysicsSurface) const
{
    m_field.FindCollisions(box, x0, y0, x1, y1);
}

// ---- Tiles --------------------------------------------------------------------------------------

TerrainTile* TerrainBase::CreateTile(const Coords& coords, GraphicsMesh* mesh)
{
    TerrainTile* tile = new TerrainTile;
    tile->SetTerrain(this);
    tile->SetCoords(coords);
    tile->SetMesh(mesh);
    m_tiles.push_back(tile);
    AddTile(tile);
    return tile;
}

void TerrainBase::DestroyTile(TerrainTile* tile)
{
    const auto it = std::find(m_tiles.begin(), m_tiles.end(), tile);
    if (it == m_tiles.end())
        return;
    RemoveTile(tile);
    m_tiles.erase(it);
    m_loadedObjects.erase(tile);
    delete tile;
}

void TerrainBase::MoveTile(TerrainTile* tile, const Coords& coords)
{
    if (std::find(m_tiles.begin(), m_tiles.end(), tile) == m_tiles.end())
        return;
    RemoveTile(tile);
    tile->SetCoords(coords);
    AddTile(tile);
}

void TerrainBase::AddTile(TerrainTile* tile)
{
    if (!tile)
        return;
    const bool placed = !IsTileOverlapping(*tile);
    tile->SetIsPlaced(placed);
    AddObjectToSpace(tile);
    if (placed)
        AddTileDirtyRects(*tile);
    tile->OnLayersChanged();
}

void TerrainBase::RemoveTile(TerrainTile* tile)
{
    if (!tile)
        return;
    if (tile->GetIsPlaced())
        AddTileDirtyRects(*tile);
    RemoveObjectFromSpace(tile);
    tile->SetIsPlaced(false);
}

bool TerrainBase::IsTileOverlapping(const TerrainTile& tile) const
{
    const ABBox terrain = GetBoundingBox();
    const Vec3 low = terrain.GetMin(), high = terrain.GetMax();
    const ABBox& box = tile.GetBoundingBox();
    const Vec3 tileLow = box.GetMin(), tileHigh = box.GetMax();
    return tileLow.x <= low.x + 2.0f || tileLow.z <= low.z + 2.0f || tileHigh.x >= high.x - 2.0f ||
           tileHigh.z >= high.z - 2.0f;
}

void TerrainBase::FreeTiles()
{
    for (TerrainTile* tile : m_tiles) {
        RemoveObjectFromSpace(tile);
        tile->SetIsPlaced(false);
        m_loadedObjects.erase(tile);
        delete tile;
    }
    m_tiles.clear();
}

// ---- Queries ------------------------------------------------------------------------------------

ABBox TerrainBase::GetBoundingBox() const
{
    const float hx = m_numXSamples ? static_cast<float>(m_numXSamples - 1) * 0.5f : 0.0f;
    const float hz = m_numYSamples ? static_cast<float>(m_numYSamples - 1) * 0.5f : 0.0f;
    float cy = 12.0f, hy = 12.0f;
    if (m_space) {
        const ABBox root = m_space->GetRootBox();
        cy = root.center.y;
        hy = root.extents.y;
    }
    return ABBox(Vec3(hx, cy, hz), Vec3(hx, hy, hz));
}

void TerrainBase::GetIntersection(const Ray& ray, Intersection& intersection, PhysicsSurface surface) const
{
    intersection.distance = gInfinity;
    intersection.surface = noSurface;
    if (!m_space)
        return;
    // The height field is walked along the ray; the tree then adds plugs and tiles nearer than
    // the ground's hit.
    GetGroundIntersection(ray, intersection);
    if (!HasObjectsBesideBlocks())
        return;
    Space<TerrainObject>::GetIntersection(
        m_space->GetRoot(), ray, intersection,
        [surface](TerrainObject* object, const Ray& r, Intersection& scratch) {
            if (&object->GetClassInfo() == &TerrainBlock::classInfo) {
                scratch.distance = gInfinity; // the walk above answered for the ground
                return;
            }
            scratch.surface = noSurface;
            object->GetIntersection(r, scratch, surface);
        });
}

void TerrainBase::GetGroundIntersection(const Ray& ray, Intersection& intersection) const
{
    if (!m_blocks || m_numXSamples < 2 || m_numYSamples < 2 || !IsFiniteVec3(ray.origin) ||
        !IsFiniteVec3(ray.direction))
        return;
    const float ox = ray.origin.x, oz = ray.origin.z, dx = ray.direction.x, dz = ray.direction.z;
    const float maxX = static_cast<float>(m_numXSamples - 1), maxZ = static_cast<float>(m_numYSamples - 1);
    float t0 = 0.0f, t1 = gInfinity;
    if (!HeightField::ClipToSlab(ox, dx, -walkMargin, maxX + walkMargin, t0, t1) ||
        !HeightField::ClipToSlab(oz, dz, -walkMargin, maxZ + walkMargin, t0, t1))
        return;
    const float size = static_cast<float>(cellsPerBlock);
    auto along = [](float o, float d, float t) { return d == 0.0f ? o : o + d * t; };

    // Rows of blocks in the order the ray meets them, and in each row its blocks in that order: a
    // block's hits lie no nearer than where the ray enters it, so the walk ends at the first
    // block it enters beyond the nearest hit so far.
    const float za = along(oz, dz, t0), zb = along(oz, dz, t1);
    const int rowFirst = static_cast<int>(SpanOf(std::min(za, zb) - walkMargin, size, m_numYBlocks));
    const int rowLast = static_cast<int>(SpanOf(std::max(za, zb) + walkMargin, size, m_numYBlocks));
    const int rowStep = dz < 0.0f ? -1 : 1;
    const TerrainBlock* hitBlock = nullptr;
    unsigned hitX = 0, hitY = 0;
    for (int row = rowStep > 0 ? rowFirst : rowLast; row >= rowFirst && row <= rowLast; row += rowStep) {
        float ta = t0, tb = t1;
        const float rowLow = size * static_cast<float>(row) - walkMargin;
        const float rowHigh = std::min(size * static_cast<float>(row + 1), maxZ) + walkMargin;
        if (!HeightField::ClipToSlab(oz, dz, rowLow, rowHigh, ta, tb))
            continue;
        if (ta >= intersection.distance)
            break;
        const float xa = along(ox, dx, ta), xb = along(ox, dx, tb);
        const int colFirst = static_cast<int>(SpanOf(std::min(xa, xb) - walkMargin, size, m_numXBlocks));
        const int colLast = static_cast<int>(SpanOf(std::max(xa, xb) + walkMargin, size, m_numXBlocks));
        const int colStep = dx < 0.0f ? -1 : 1;
        for (int col = colStep > 0 ? colFirst : colLast; col >= colFirst && col <= colLast; col += colStep) {
            const TerrainBlock& block =
                m_blocks[static_cast<size_t>(row) * m_numXBlocks + static_cast<size_t>(col)];
            float ea = ta, eb = tb;
            const float colLow = size * static_cast<float>(col) - walkMargin;
            const float colHigh = static_cast<float>(block.GetLastCellX() + 1) + walkMargin;
            if (!HeightField::ClipToSlab(ox, dx, colLow, colHigh, ea, eb))
                continue;
            if (ea >= intersection.distance)
                break;
            const ABBox& box = block.GetBoundingBox();
            const ABBox grown(box.center, box.extents + Vec3(walkMargin, walkMargin, walkMargin));
            if (!(grown.GetIntersection(ray) < intersection.distance))
                continue;
            unsigned x = 0, y = 0;
            const float before = intersection.distance;
            GetIntersection(ray, block.GetFirstCellX(), block.GetFirstCellY(), block.GetLastCellX(),
                            block.GetLastCellY(), intersection, x, y);
            if (intersection.distance < before) {
                hitBlock = &block;
                hitX = x;
                hitY = y;
            }
        }
    }
    if (hitBlock) {
        intersection.point = ray.GetPoint(intersection.distance);
        intersection.surface = hitBlock->GetSurfaceAt(hitX, hitY);
    }
}

int TerrainBase::FindCollisions(const Entity* entity, CollisionContact* contacts, int capacity,
                                Region* region, PhysicsSurface surface) const
{
    if (!m_space || !entity || !contacts || capacity <= 0)
        return 0;
    OBBox proxy;
    if (!entity->GetCollisionProxy(proxy))
        return 0;
    // The entity's box and proxy carried from its region's space into the terrain's.
    Region* into = m_region ? m_region : region;
    const WorldVec3 position = entity->GetCoords().GetOrigin();
    const Vec3 offset = into ? into->GetRelativePosition(position) - position.GetRegionPosition() : Vec3();
    ABBox box = entity->GetRegionBoundingBox(false);
    box.center += offset;
    proxy.coords.origin += offset;
    return FindObjectCollisions(box, proxy, contacts, capacity, surface);
}

int TerrainBase::FindCollisions(const OBBox& box, CollisionContact* contacts, int capacity,
                                PhysicsSurface surface) const
{
    if (!m_space || !contacts || capacity <= 0)
        return 0;
    return FindObjectCollisions(ABBox::FromOBBox(box), box, contacts, capacity, surface);
}

int TerrainBase::FindObjectCollisions(const ABBox& bounds, const OBBox& box, CollisionContact* contacts,
                                      int capacity, PhysicsSurface surface) const
{
    std::vector<TerrainObject*> objects;
    GetObjectsInBox(objects, bounds);
    int count = 0;
    for (TerrainObject* object : objects) {
        if (count >= capacity)
            break;
        count += std::clamp(object->FindCollisions(const_cast<TerrainBase&>(*this), box, contacts + count,
                                                   capacity - count, surface),
                            0, capacity - count);
    }
    return count;
}

void TerrainBase::FindCollisions(std::vector<CollisionBox>& boxes, const ABBox& box,
                                 PhysicsSurface surface) const
{
    if (!m_space)
        return;
    std::vector<TerrainObject*> objects;
    GetObjectsInBox(objects, box);
    for (TerrainObject* object : objects)
        object->FindCollisionBoxes(const_cast<TerrainBase&>(*this), boxes, surface);
}

float TerrainBase::GetFaceIntersection(const IntersectionFace& face, const Ray& ray)
{
    const float t = face.plane.IntersectRay(ray);
    if (!IsFinite(t))
        return gInfinity;
    return IsPointInFace(face, ray.GetPoint(t)) ? t : gInfinity;
}

bool TerrainBase::IsPointInFace(const IntersectionFace& face, const Vec3& point)
{
    // The face and the point projected on the two axes other than the normal's major one.
    const Vec3& n = face.plane.normal;
    const float ax = std::fabs(n.x), ay = std::fabs(n.y), az = std::fabs(n.z);
    int major = 0;
    if (ay > ax)
        major = 1;
    if (az > (major == 0 ? ax : ay))
        major = 2;
    auto project = [major](const Vec3& v) {
        switch (major) {
        case 0:
            return Vec2(v.z, v.y);
        case 1:
            return Vec2(v.z, v.x);
        default:
            return Vec2(v.x, v.y);
        }
    };
    const Vec2 c0 = project(face.corners[0]), c1 = project(face.corners[1]), c2 = project(face.corners[2]);
    const Vec2 p = project(point);
    // (w.b - u.b)(v.a - u.a) - (v.b - u.b)(w.a - u.a), with a the first axis kept and b the second.
    auto cross = [](const Vec2& u, const Vec2& v, const Vec2& w) {
        return (w.y - u.y) * (v.x - u.x) - (v.y - u.y) * (w.x - u.x);
    };
    const float d = cross(c0, c1, c2);
    if (d == 0.0f)
        return false;
    const float s = cross(p, c1, c2) / d;
    const float t = cross(c0, p, c2) / d;
    return s >= 0.0f && t >= 0.0f && 1.0f - (s + t) >= 0.0f;
}

} // namespace GAME
