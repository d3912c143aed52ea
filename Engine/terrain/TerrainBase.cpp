#include "terrain/TerrainBase.h"

#include "core/Frustum.h"
#include "core/Intersect.h"
#include "core/Intersection.h"
#include "core/Log.h"
#include "core/MathUtil.h"
#include "core/Ray.h"
#include "data/EngineDataServices.h"
#include "graphics/GraphicsEngine.h"
#include "navigation/CollisionContact.h"
#include "terrain/TerrainBlock.h"
#include "terrain/TerrainPlug.h"
#include "terrain/TerrainTile.h"
#include "world/Engine.h"
#include "world/Entity.h"
#include "world/Region.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace GAME {

namespace {

// How far the ray walk widens cells and blocks, so that rounding never hides a hit that lies on
// their edges.
constexpr float walkMargin = 1e-3f;

// Narrows [t0, t1] to where o + t d lies in [lo, hi]; false when nothing is left.
bool ClipToSlab(float o, float d, float lo, float hi, float& t0, float& t1)
{
    if (d == 0.0f)
        return o >= lo && o <= hi && t0 <= t1;
    float a = (lo - o) / d, b = (hi - o) / d;
    if (a > b)
        std::swap(a, b);
    t0 = std::max(t0, a);
    t1 = std::min(t1, b);
    return t0 <= t1;
}

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

TerrainBase::TerrainBase(TerrainBaseType type, Region* region) : m_type(type), m_region(region) {}

TerrainBase::~TerrainBase()
{
    // The subclasses unload in their destructors (blocks give their grass back through them);
    // what is left here holds no device data.
    if (m_space) {
        std::vector<TerrainObject*> objects;
        GetAllObjects(objects);
        for (TerrainObject* object : objects)
            if (object->GetClassInfo().IsA(TerrainPlug::classInfo)) {
                RemoveObjectFromSpace(object);
                delete object;
            }
    }
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
    if (m_space) {
        std::vector<TerrainObject*> objects;
        GetAllObjects(objects);
        for (TerrainObject* object : objects)
            if (object->GetClassInfo().IsA(TerrainPlug::classInfo)) {
                RemoveObjectFromSpace(object);
                m_loadedObjects.erase(object);
                delete object;
            }
    }
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
}

void TerrainBase::PreDeviceReset()
{
    std::vector<TerrainObject*> objects;
    GetAllObjects(objects);
    for (TerrainObject* object : objects)
        object->PreDeviceReset();
}

void TerrainBase::PostDeviceReset()
{
    std::vector<TerrainObject*> objects;
    GetAllObjects(objects);
    for (TerrainObject* object : objects)
        object->PostDeviceReset();
}

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
    if (!ClipToSlab(ox, dx, -walkMargin, maxX + walkMargin, t0, t1) ||
        !ClipToSlab(oz, dz, -walkMargin, maxZ + walkMargin, t0, t1))
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
        if (!ClipToSlab(oz, dz, rowLow, rowHigh, ta, tb))
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
            if (!ClipToSlab(ox, dx, colLow, colHigh, ea, eb))
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
    std::vector<TerrainObject*> objects;
    GetObjectsInBox(objects, box);
    int count = 0;
    for (TerrainObject* object : objects) {
        if (count >= capacity)
            break;
        count += std::clamp(object->FindCollisions(const_cast<TerrainBase&>(*this), proxy, contacts + count,
                                                   capacity - count, surface),
                            0, capacity - count);
    }
    return count;
}

int TerrainBase::FindCollisions(const OBBox& box, CollisionContact* contacts, int capacity,
                                PhysicsSurface surface) const
{
    if (!m_space || !contacts || capacity <= 0)
        return 0;
    std::vector<TerrainObject*> objects;
    GetObjectsInBox(objects, ABBox::FromOBBox(box));
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
