#include "terrain/TerrainBlock.h"

#include "core/Intersect.h"
#include "core/Intersection.h"
#include "core/MathUtil.h"
#include "core/OBBox.h"
#include "core/Ray.h"
#include "graphics/RenderVertexBuffer.h"
#include "navigation/CollisionContact.h"
#include "navigation/PhysicsGrassWind.h"
#include "terrain/TerrainType.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

namespace GAME {

GAME_REGISTER_CLASS(TerrainBlock, TerrainObject)

namespace {

constexpr unsigned gridCells = TerrainBlock::grassGridSize * TerrainBlock::grassGridSize;
constexpr int lastGridCell = static_cast<int>(TerrainBlock::grassGridSize) - 1;

// The integer part of v as the hash functions take it; values beyond any terrain give 0.
uint32_t HashArgument(float v)
{
    if (!(std::fabs(v) < 9.0e18f))
        return 0;
    return static_cast<uint32_t>(static_cast<int64_t>(v));
}

// The integer part of v, clamped to [lo, hi] (NaN gives lo).
int ClampedTrunc(float v, int lo, int hi)
{
    if (!(v > static_cast<float>(lo)))
        return lo;
    if (v >= static_cast<float>(hi))
        return hi;
    return static_cast<int>(v);
}

// The integer part of v, clamped to a range wide enough for any grid arithmetic.
int WideTrunc(float v)
{
    return ClampedTrunc(v, -1000000, 1000000);
}

Vec2 ClampVelocity(const Vec2& v)
{
    return Vec2(std::clamp(v.x, -2.0f, 2.0f), std::clamp(v.y, -2.0f, 2.0f));
}

} // namespace

TerrainBlock::TerrainBlock() = default;

TerrainBlock::~TerrainBlock()
{
    ReleaseRenderData();
}

void TerrainBlock::Initialize(TerrainBase* terrain, unsigned blockX, unsigned blockY, unsigned numXSamples,
                              unsigned numYSamples)
{
    m_terrain = terrain;
    m_blockX = blockX;
    m_blockY = blockY;
    m_numXSamples = std::clamp(numXSamples, 2u, TerrainBase::blockSize);
    m_numYSamples = std::clamp(numYSamples, 2u, TerrainBase::blockSize);
    UpdateBoundingBox();
    OnLayersChanged();
}

void TerrainBlock::UpdateBoundingBox()
{
    if (!m_terrain)
        return;
    const unsigned x0 = GetFirstCellX(), y0 = GetFirstCellY();
    float low = gInfinity, high = -gInfinity;
    for (unsigned y = y0; y < y0 + m_numYSamples; ++y)
        for (unsigned x = x0; x < x0 + m_numXSamples; ++x) {
            const float h = m_terrain->GetHeightInterpolated(static_cast<float>(x), static_cast<float>(y));
            low = std::min(low, h);
            high = std::max(high, h);
        }
    if (!(low <= high))
        low = high = 0.0f;
    const float hx = static_cast<float>(m_numXSamples - 1) * 0.5f;
    const float hz = static_cast<float>(m_numYSamples - 1) * 0.5f;
    SetBoundingBox(ABBox(Vec3(static_cast<float>(x0) + hx, (low + high) * 0.5f, static_cast<float>(y0) + hz),
                         Vec3(hx, (high - low) * 0.5f, hz)));
}

// ---- Render data --------------------------------------------------------------------------------

void TerrainBlock::EnsureRenderData()
{
    if (!m_terrain)
        return;
    if (!m_renderDataReleased && m_terrain->LowQuality() != m_lowQualityAtBuild)
        ReleaseRenderData();
    if (!m_renderDataReleased)
        return;

    m_grass.clear();
    m_grass.resize(m_layers.size());
    m_cellIndices.clear();
    m_renderDataReleased = false;
    m_lowQualityAtBuild = m_terrain->LowQuality();
    m_terrain->AddLoadedObject(this);
    bool anyGeometry = false;
    for (size_t k = 0; k < m_layers.size(); ++k) {
        const TerrainType* type = m_terrain->GetLayerTerrainType(m_layers[k]);
        if (!type || !type->GetBladeTexture() || type->GetNumBladeVariations() == 0)
            continue;
        if (m_lowQualityAtBuild && type->GetBladeHeight() < lowQualityMinimumBladeHeight)
            continue;
        GrassRecord& record = m_grass[k];
        record.numBlades = 0;
        record.geometry = m_terrain->CreateGrassGeometry();
        record.cellIndices.reset(new (std::nothrow) uint32_t[maxNumGrassPlanes * 4]);
        anyGeometry = anyGeometry || record.geometry.bladeBuffer;
    }
    if (anyGeometry)
        GenerateBlades();

    m_displacement.reset(new (std::nothrow) Vec2[gridCells]());
    m_velocity.reset(new (std::nothrow) Vec2[gridCells]());
    m_windGrid.reset(new (std::nothrow) uint32_t[gridCells]());
    if (!m_displacement || !m_velocity || !m_windGrid) {
        m_displacement.reset();
        m_velocity.reset();
        m_windGrid.reset();
    }
    ResetDirtyRect();
}

void TerrainBlock::ReleaseRenderData()
{
    for (GrassRecord& record : m_grass) {
        if (m_terrain && (record.geometry.bladeBuffer || record.geometry.windBuffer))
            m_terrain->DestroyGrassGeometry(record.geometry);
        record.geometry = TerrainBase::GrassGeometry();
        record.numBlades = 0;
        record.cellIndices.reset();
    }
    m_grass.clear();
    m_cellIndices.clear();
    m_windStale = false;
    m_displacement.reset();
    m_velocity.reset();
    m_windGrid.reset();
    ResetDirtyRect();
    m_renderDataReleased = true;
}

const std::vector<uint32_t>* TerrainBlock::FindCellIndices(int key) const
{
    for (const auto& [stored, indices] : m_cellIndices)
        if (stored == key)
            return &indices;
    return nullptr;
}

const std::vector<uint32_t>& TerrainBlock::StoreCellIndices(int key, std::vector<uint32_t> indices)
{
    m_cellIndices.emplace_back(key, std::move(indices));
    return m_cellIndices.back().second;
}

void TerrainBlock::ClearLayers()
{
    ReleaseRenderData();
    m_layers.clear();
}

const TerrainBlock::GrassRecord* TerrainBlock::GetGrassRecord(unsigned layer) const
{
    for (size_t k = 0; k < m_layers.size(); ++k)
        if (m_layers[k] == layer)
            return k < m_grass.size() ? &m_grass[k] : nullptr;
    return nullptr;
}

bool TerrainBlock::HasLayer(unsigned layer) const
{
    for (unsigned entry : m_layers) {
        if (entry == layer)
            return true;
        if (entry > layer)
            return false;
    }
    return false;
}

void TerrainBlock::GenerateBlades()
{
    for (size_t k = 0; k < m_grass.size(); ++k)
        if (m_grass[k].geometry.bladeBuffer && m_grass[k].cellIndices)
            GenerateBlades(k);
}

void TerrainBlock::GenerateBlades(size_t entry)
{
    GrassRecord& record = m_grass[entry];
    record.numBlades = 0;
    const unsigned layer = m_layers[entry];
    const TerrainType* type = m_terrain->GetLayerTerrainType(layer);
    if (!type || type->GetNumBladeVariations() == 0)
        return;
    const uint32_t variations = type->GetNumBladeVariations();
    const float width = type->GetBladeWidth();
    const float height = type->GetBladeHeight() * (m_lowQualityAtBuild ? 0.5f : 1.0f);
    // Spacing and variations together in 64 bits: their sum is never 0.
    const uint64_t spread = static_cast<uint64_t>(type->GetBladeSpacing()) + variations;
    const float minimumOpacity = static_cast<float>(type->GetMinimumBladeOpacity());
    float* vertices = static_cast<float*>(record.geometry.bladeBuffer->Lock());
    if (!vertices)
        return;

    const float x0 = static_cast<float>(GetFirstCellX()), z0 = static_cast<float>(GetFirstCellY());
    const float xEnd = x0 + static_cast<float>(m_numXSamples - 1);
    const float zEnd = z0 + static_cast<float>(m_numYSamples - 1);
    for (float z = z0; z < zEnd && record.numBlades < maxNumGrassPlanes; z += grassCellSpacing) {
        for (float x = x0; x < xEnd && record.numBlades < maxNumGrassPlanes; x += grassCellSpacing) {
            // The layer's opacity, less what the layers above it cover.
            float opacity =
                static_cast<float>(m_terrain->GetLayerOpacityInterpolated(layer, x - 0.5f, z - 0.5f));
            for (size_t above = entry + 1; above < m_layers.size(); ++above)
                opacity =
                    opacity *
                    static_cast<float>(255u - std::min(255u, m_terrain->GetLayerOpacityInterpolated(
                                                                 m_layers[above], x - 0.5f, z - 0.5f))) /
                    255.0f;
            if (!(minimumOpacity < opacity))
                continue;
            if (HashInt(HashArgument(x * 12343.0f + z * 7873.0f)) % spread >= variations)
                continue;
            const uint32_t variation = HashInt(HashArgument(x * 13.0f + z * 11323.0f)) % variations;
            const float u = static_cast<float>(variation) / static_cast<float>(variations);
            const float du = 1.0f / static_cast<float>(variations);
            const float ground = m_terrain->GetHeightInterpolated(x, z);
            const Vec3 normal = m_terrain->GetNormalInterpolated(x, z);
            const float angle =
                DegreesToRadians(static_cast<float>(HashInt(HashArgument(x * 3219.0f + z * 23113.0f))));
            const float c = std::cos(angle), s = std::sin(angle);
            const float scale = opacity / 255.0f;
            const float w = width * scale, h = height * scale;

            const float corners[4][5] = {
                {x - c * w, ground + h, z - s * w, u, 0.0f},
                {x + c * w, ground + h, z + s * w, u + du, 0.0f},
                {x + c * w, ground, z + s * w, u + du, 1.0f},
                {x - c * w, ground, z - s * w, u, 1.0f},
            };
            float* out = vertices + static_cast<size_t>(record.numBlades) * 4 * (bladeVertexSize / 4);
            for (const auto& corner : corners) {
                const float vertex[8] = {corner[0], corner[1], corner[2], normal.x,
                                         normal.y,  normal.z,  corner[3], corner[4]};
                std::memcpy(out, vertex, sizeof(vertex));
                out += 8;
            }
            const int i = ClampedTrunc((x - x0) * grassCellScale, 0, lastGridCell);
            const int j = ClampedTrunc((z - z0) * grassCellScale, 0, lastGridCell);
            const uint32_t cell = static_cast<uint32_t>(i + static_cast<int>(grassGridSize) * j);
            for (unsigned v = 0; v < 4; ++v)
                record.cellIndices[record.numBlades * 4 + v] = cell;
            ++record.numBlades;
        }
    }
    record.geometry.bladeBuffer->Unlock();

    if (record.geometry.windBuffer) {
        if (void* wind = record.geometry.windBuffer->Lock()) {
            std::memset(wind, 0, record.geometry.windBuffer->GetSize());
            record.geometry.windBuffer->Unlock();
        }
    }
}

// ---- Queries ------------------------------------------------------------------------------------

PhysicsSurface TerrainBlock::GetSurfaceAt(unsigned cellX, unsigned cellY) const
{
    if (!m_terrain || m_layers.empty())
        return TerrainBase::noSurface;
    // From the top layer down: each layer weighs its opacity times what the one above left; the
    // walk stops once the best weight exceeds what remains.
    float best = 0.0f, previous = 0.0f;
    unsigned bestLayer = m_layers.front();
    bool first = true;
    for (size_t k = m_layers.size(); k-- > 0;) {
        const float remaining = first ? 1.0f : 1.0f - previous;
        first = false;
        if (best > remaining)
            break;
        const float weight =
            static_cast<float>(m_terrain->GetLayerOpacity(m_layers[k], cellX, cellY)) / 255.0f * remaining;
        if (weight > best) {
            best = weight;
            bestLayer = m_layers[k];
        }
        previous = weight;
    }
    const TerrainType* type = m_terrain->GetLayerTerrainType(bestLayer);
    return type ? type->GetSurface() : TerrainBase::noSurface;
}

void TerrainBlock::GetIntersection(const Ray& ray, Intersection& intersection, PhysicsSurface) const
{
    intersection.distance = gInfinity;
    intersection.surface = TerrainBase::noSurface;
    if (!m_terrain || !(GetBoundingBox().GetIntersection(ray) < gInfinity))
        return;
    unsigned hitX = 0, hitY = 0;
    m_terrain->GetIntersection(ray, GetFirstCellX(), GetFirstCellY(), GetLastCellX(), GetLastCellY(),
                               intersection, hitX, hitY);
    if (!(intersection.distance < gInfinity))
        return;
    intersection.surface = GetSurfaceAt(hitX, hitY);
    intersection.point = ray.GetPoint(intersection.distance);
}

bool TerrainBlock::GetCellsUnder(const ABBox& box, unsigned& x0, unsigned& y0, unsigned& x1,
                                 unsigned& y1) const
{
    const float lowX = std::floor(box.center.x - box.extents.x),
                highX = std::floor(box.center.x + box.extents.x);
    const float lowY = std::floor(box.center.z - box.extents.z),
                highY = std::floor(box.center.z + box.extents.z);
    const float firstX = static_cast<float>(GetFirstCellX()), lastX = static_cast<float>(GetLastCellX());
    const float firstY = static_cast<float>(GetFirstCellY()), lastY = static_cast<float>(GetLastCellY());
    // Also false for boxes that are not finite.
    if (!(highX >= firstX && lowX <= lastX && highY >= firstY && lowY <= lastY))
        return false;
    x0 = static_cast<unsigned>(std::max(lowX, firstX));
    x1 = static_cast<unsigned>(std::min(highX, lastX));
    y0 = static_cast<unsigned>(std::max(lowY, firstY));
    y1 = static_cast<unsigned>(std::min(highY, lastY));
    return true;
}

int TerrainBlock::FindCollisions(TerrainBase& terrain, const OBBox& box, CollisionContact* contacts,
                                 int maximum, PhysicsSurface surface)
{
    unsigned x0, y0, x1, y1;
    if (maximum <= 0 || !GetCellsUnder(ABBox::FromOBBox(box), x0, y0, x1, y1))
        return 0;
    return terrain.FindCollisions(box, x0, y0, x1, y1, contacts, maximum, surface);
}

void TerrainBlock::FindCollisionBoxes(TerrainBase& terrain, std::vector<CollisionBox>& boxes,
                                      PhysicsSurface surface)
{
    for (CollisionBox& collisionBox : boxes) {
        const ABBox bounds = ABBox::FromOBBox(collisionBox.GetBox());
        unsigned x0, y0, x1, y1;
        if (ABBoxesOverlap(bounds, GetBoundingBox()) && GetCellsUnder(bounds, x0, y0, x1, y1))
            terrain.FindCollisions(collisionBox, x0, y0, x1, y1, surface);
    }
}

// ---- Life cycle ---------------------------------------------------------------------------------

void TerrainBlock::Unload()
{
    ReleaseRenderData();
    TerrainObject::Unload();
}

void TerrainBlock::PreLoad(bool immediate)
{
    TerrainObject::PreLoad(immediate);
    if (!m_terrain)
        return;
    for (unsigned layer : m_layers)
        if (TerrainType* type = m_terrain->GetLayerTerrainType(layer))
            type->PreLoad(immediate);
}

void TerrainBlock::OnHeightsChanged()
{
    ReleaseRenderData();
}

void TerrainBlock::OnLayersChanged()
{
    m_layers.clear();
    if (m_terrain)
        m_terrain->GetLayersInBox(m_layers, GetBoundingBox());
    ReleaseRenderData();
}

void TerrainBlock::PreDeviceReset()
{
    ReleaseRenderData();
}

// ---- Grass springs ------------------------------------------------------------------------------

Vec2 TerrainBlock::GetGrassDisplacement(unsigned i, unsigned j) const
{
    if (!m_displacement || i >= grassGridSize || j >= grassGridSize)
        return Vec2();
    return m_displacement[i + grassGridSize * j];
}

Vec2 TerrainBlock::GetGrassVelocity(unsigned i, unsigned j) const
{
    if (!m_velocity || i >= grassGridSize || j >= grassGridSize)
        return Vec2();
    return m_velocity[i + grassGridSize * j];
}

void TerrainBlock::ResetDirtyRect()
{
    m_dirtyMinX = m_dirtyMinZ = emptyDirtyMin;
    m_dirtyMaxX = m_dirtyMaxZ = 0;
}

void TerrainBlock::GrowDirtyRect(int i0, int i1, int j0, int j1)
{
    m_dirtyMinX = std::min(m_dirtyMinX, i0);
    m_dirtyMaxX = std::max(m_dirtyMaxX, i1);
    m_dirtyMinZ = std::min(m_dirtyMinZ, j0);
    m_dirtyMaxZ = std::max(m_dirtyMaxZ, j1);
}

bool TerrainBlock::GetGrassCellRange(float x, float z, float radius, int& i0, int& i1, int& j0, int& j1) const
{
    const float ox = static_cast<float>(GetFirstCellX()), oz = static_cast<float>(GetFirstCellY());
    i0 = std::max(0, WideTrunc((x - ox - radius) * grassCellScale));
    i1 = std::min(lastGridCell, WideTrunc((x - ox + radius) * grassCellScale + 1.0f));
    j0 = std::max(0, WideTrunc((z - oz - radius) * grassCellScale));
    j1 = std::min(lastGridCell, WideTrunc((z - oz + radius) * grassCellScale + 1.0f));
    return i0 <= i1 && j0 <= j1;
}

void TerrainBlock::DisplaceGrass(float x, float z, float radius, float strength)
{
    if (!m_velocity || !m_displacement)
        return;
    int i0, i1, j0, j1;
    if (!GetGrassCellRange(x, z, radius, i0, i1, j0, j1))
        return;
    GrowDirtyRect(i0, i1, j0, j1);
    const float ox = static_cast<float>(GetFirstCellX()), oz = static_cast<float>(GetFirstCellY());
    for (int j = j0; j <= j1; ++j)
        for (int i = i0; i <= i1; ++i) {
            const Vec2 away(ox + grassCellSpacing * static_cast<float>(i) - x,
                            oz + grassCellSpacing * static_cast<float>(j) - z);
            const float d = std::sqrt(away.x * away.x + away.y * away.y);
            if (!(d < radius) || !(d > 0.0f))
                continue;
            Vec2& velocity = m_velocity[static_cast<size_t>(i + static_cast<int>(grassGridSize) * j)];
            velocity = ClampVelocity(velocity + away * (strength / d));
        }
}

void TerrainBlock::CreateGrassWind(const PhysicsGrassWind& wind)
{
    if (!m_velocity || !m_displacement)
        return;
    int i0, i1, j0, j1;
    if (GetGrassCellRange(wind.x, wind.z, wind.radius, i0, i1, j0, j1))
        GrowDirtyRect(i0, i1, j0, j1);
    const float length = std::sqrt(wind.directionX * wind.directionX + wind.directionZ * wind.directionZ);
    if (!(length >= 0.0001f))
        return;
    const Vec2 direction(wind.directionX / length, wind.directionZ / length);
    const float ox = static_cast<float>(GetFirstCellX()), oz = static_cast<float>(GetFirstCellY());
    for (unsigned j = 0; j < grassGridSize; ++j)
        for (unsigned i = 0; i < grassGridSize; ++i) {
            const Vec2 away(ox + grassCellSpacing * static_cast<float>(i) - wind.x,
                            oz + grassCellSpacing * static_cast<float>(j) - wind.z);
            const float d = std::sqrt(away.x * away.x + away.y * away.y);
            if (!(d < wind.radius) || away.x * direction.x + away.y * direction.y < 0.0f)
                continue;
            const float share = d / wind.radius;
            Vec2& velocity = m_velocity[i + grassGridSize * j];
            velocity = ClampVelocity(velocity + direction * (share * share * wind.strength));
        }
}

void TerrainBlock::RemoveGrassWind()
{
    if (m_windGrid)
        std::fill(m_windGrid.get(), m_windGrid.get() + gridCells, 0u);
}

void TerrainBlock::UploadWindOffsets(const TerrainBase& terrain)
{
    m_windStale = false;
    if (!m_displacement)
        return;
    float reach = 0.0f;
    for (size_t k = 0; k < m_grass.size(); ++k) {
        GrassRecord& record = m_grass[k];
        if (!record.geometry.windBuffer || !record.cellIndices)
            continue;
        const TerrainType* type = terrain.GetLayerTerrainType(m_layers[k]);
        const float height = type ? type->GetBladeHeight() : 0.0f;
        float* offsets = static_cast<float*>(record.geometry.windBuffer->Lock());
        if (!offsets) {
            reach = std::max(reach, m_windReach); // these keep what they had
            continue;
        }
        for (uint32_t v = 0; v < record.numBlades * 4; ++v) {
            const Vec2 offset = m_displacement[record.cellIndices[v]] * height;
            offsets[2 * v] = offset.x;
            offsets[2 * v + 1] = offset.y;
            reach = std::max(reach, std::fabs(offset.x) + std::fabs(offset.y));
        }
        record.geometry.windBuffer->Unlock();
    }
    m_windReach = reach;
}

void TerrainBlock::Update(TerrainBase& terrain, int elapsed)
{
    const bool drawn = m_grassDrawn;
    m_grassDrawn = false;
    if (!m_displacement || !m_velocity || !HasDirtyGrass() || m_grass.empty())
        return;
    bool anyGeometry = false;
    for (const GrassRecord& record : m_grass)
        anyGeometry = anyGeometry || (record.geometry.windBuffer && record.cellIndices);
    if (!anyGeometry)
        return;
    // The blades follow the springs; grass nobody saw last frame is brought up to date when it
    // is drawn again.
    if (drawn)
        UploadWindOffsets(terrain);
    else
        m_windStale = true;

    const float dt = std::clamp(static_cast<float>(elapsed) * 0.001f, 0.0f, 0.05f);
    bool visited = false;
    for (int j = std::max(m_dirtyMinZ, 0); j <= std::min(m_dirtyMaxZ, lastGridCell); ++j)
        for (int i = std::max(m_dirtyMinX, 0); i <= std::min(m_dirtyMaxX, lastGridCell); ++i) {
            const size_t cell = static_cast<size_t>(i + static_cast<int>(grassGridSize) * j);
            m_velocity[cell] = (m_velocity[cell] + m_displacement[cell] * (-50.0f * dt)) * 0.95f;
            m_displacement[cell] += m_velocity[cell] * dt;
            visited = true;
        }
    if (!visited)
        ResetDirtyRect();
}

} // namespace GAME
