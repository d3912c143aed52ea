#include "terrain/WaterLayer.h"

#include "core/Log.h"
#include "core/Plane.h"
#include "core/Ray.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"
#include "graphics/RenderDevice.h"
#include "terrain/WaterBlock.h"
#include "terrain/WaterType.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace GAME {

namespace {

// Map bytes between neighbouring blocks' first columns.
constexpr unsigned kMapStep = WaterBlock::mapSize - 1;
constexpr unsigned kBlockRecordBytes = WaterBlock::numCoverageBytes;

// A block coordinate range along one axis: [low, high] for the span lo..hi of world units.
bool BlockRange(float lo, float hi, float size, unsigned count, unsigned& first, unsigned& last)
{
    if (count == 0 || !(size > 0.0f) || !(lo <= hi))
        return false;
    const float top = static_cast<float>(count - 1);
    first = static_cast<unsigned>(std::clamp(lo / size, 0.0f, top));
    last = static_cast<unsigned>(std::clamp(hi / size, 0.0f, top));
    return true;
}

} // namespace

WaterLayer::WaterLayer(unsigned index, unsigned blocksX, unsigned blocksZ, float blockSize,
                       Space<WaterElement>& tree, RenderDevice& device, Water* water)
    : WaterObject(index, tree, device, water), m_blocksX(blocksX), m_blocksZ(blocksZ), m_blockSize(blockSize)
{
}

WaterLayer::~WaterLayer()
{
    if (m_vertexBuffer)
        m_device.DestroyVertexBuffer(&m_vertexBuffer);
    DestroyBlocks();
}

bool WaterLayer::Initialize(const char* typeName, float height, const Vec2& extent)
{
    DestroyBlocks();
    m_blocks.assign(static_cast<size_t>(m_blocksX) * m_blocksZ, nullptr);
    m_height = height;
    m_extent = extent;
    UpdateReflectionPlane();
    if (!TakeWaterType(typeName)) {
        LogPrintf(1, "Failed to load water type '%s' for water layer.", typeName ? typeName : "");
        return false;
    }
    return true;
}

WaterBlock* WaterLayer::GetBlock(unsigned x, unsigned z) const
{
    if (x >= m_blocksX || z >= m_blocksZ || m_blocks.empty())
        return nullptr;
    return m_blocks[static_cast<size_t>(z) * m_blocksX + x];
}

WaterBlock* WaterLayer::AddBlock(unsigned x, unsigned z)
{
    if (x >= m_blocksX || z >= m_blocksZ || m_blocks.empty())
        return nullptr;
    WaterBlock*& slot = m_blocks[static_cast<size_t>(z) * m_blocksX + x];
    if (slot)
        return slot;
    auto* block = new WaterBlock(m_device, x, z);
    block->SetWaterType(m_waterType);
    block->SetReflectionPlane(&m_reflectionPlane);
    block->SetBoundingBox(CalculateBlockBounds(x, z));
    slot = block;
    ++m_numBlocks;
    m_tree.Insert(block);
    return block;
}

void WaterLayer::RemoveBlock(unsigned x, unsigned z)
{
    if (x >= m_blocksX || z >= m_blocksZ || m_blocks.empty())
        return;
    WaterBlock*& slot = m_blocks[static_cast<size_t>(z) * m_blocksX + x];
    if (!slot)
        return;
    if (slot->IsInTree())
        m_tree.Remove(slot);
    delete slot;
    slot = nullptr;
    if (m_numBlocks > 0)
        --m_numBlocks;
}

void WaterLayer::DestroyBlocks()
{
    for (WaterBlock*& block : m_blocks) {
        if (!block)
            continue;
        if (block->IsInTree())
            m_tree.Remove(block);
        delete block;
        block = nullptr;
    }
    m_numBlocks = 0;
}

ABBox WaterLayer::CalculateBlockBounds(unsigned x, unsigned z) const
{
    const float minX = static_cast<float>(x) * m_blockSize, minZ = static_cast<float>(z) * m_blockSize;
    // Clipped to the extent, never below the block's own start.
    const float maxX = std::max(minX, std::min(minX + m_blockSize, m_extent.x));
    const float maxZ = std::max(minZ, std::min(minZ + m_blockSize, m_extent.y));
    return ABBox::FromMinMax(Vec3(minX, m_height - 1.0f, minZ), Vec3(maxX, m_height + 1.0f, maxZ));
}

bool WaterLayer::TestBlockArea(unsigned x, unsigned z) const
{
    const TerrainBase* terrain = GetTerrain();
    const GridRegion* grid = GetGridRegion();
    for (unsigned j = 0; j < WaterBlock::mapSize; ++j)
        for (unsigned i = 0; i < WaterBlock::mapSize; ++i) {
            const float px = static_cast<float>(x) * m_blockSize + static_cast<float>(i);
            const float pz = static_cast<float>(z) * m_blockSize + static_cast<float>(j);
            if (WaterElement::GetGroundHeight(terrain, grid, px, pz) <= m_height)
                return true;
        }
    return false;
}

void WaterLayer::BuildBlock(WaterBlock* block)
{
    if (block)
        block->BuildVertices(GetTerrain(), GetGridRegion());
}

void WaterLayer::DestroyBlockGeometry()
{
    for (WaterBlock* block : m_blocks)
        if (block)
            block->ReleaseVertexBuffer();
}

void WaterLayer::ConstructBlockGeometry()
{
    for (WaterBlock* block : m_blocks)
        if (block) {
            block->SetBoundingBox(CalculateBlockBounds(block->GetX(), block->GetZ()));
            Space<WaterElement>::RefreshBox(block);
            m_tree.UpdateObject(block);
            BuildBlock(block);
        }
}

void WaterLayer::Update()
{
    const TerrainBase* terrain = GetTerrain();
    const GridRegion* grid = GetGridRegion();
    for (WaterBlock* block : m_blocks)
        if (block)
            block->UpdateDepth(terrain, grid);
}

void WaterLayer::UpdateReflectionPlane()
{
    float minX = static_cast<float>(m_blocksX) * m_blockSize, maxX = 0.0f;
    float minZ = static_cast<float>(m_blocksZ) * m_blockSize, maxZ = 0.0f;
    for (const WaterBlock* block : m_blocks) {
        if (!block)
            continue;
        minX = std::min(minX, static_cast<float>(block->GetX()) * m_blockSize);
        maxX = std::max(maxX, static_cast<float>(block->GetX() + 1) * m_blockSize);
        minZ = std::min(minZ, static_cast<float>(block->GetZ()) * m_blockSize);
        maxZ = std::max(maxZ, static_cast<float>(block->GetZ() + 1) * m_blockSize);
    }
    m_reflectionPlane.box = ABBox(Vec3((minX + maxX) * 0.5f, m_height, (minZ + maxZ) * 0.5f),
                                  Vec3((maxX - minX) * 0.5f, 0.0f, (maxZ - minZ) * 0.5f));
    m_reflectionPlane.normal = Vec3(0.0f, 1.0f, 0.0f);
    m_reflectionPlane.d = -m_height;
}

bool WaterLayer::IsPointInLayer(const Vec3& point) const
{
    // Clipped to the extent, as the blocks' boxes and vertices are: no water is drawn past it.
    const float width = std::min(static_cast<float>(m_blocksX) * m_blockSize, m_extent.x);
    const float depth = std::min(static_cast<float>(m_blocksZ) * m_blockSize, m_extent.y);
    if (!(point.x >= 0.0f && point.x < width && point.z >= 0.0f && point.z < depth))
        return false;
    const float fx = point.x / m_blockSize, fz = point.z / m_blockSize;
    const WaterBlock* block = GetBlock(static_cast<unsigned>(fx), static_cast<unsigned>(fz));
    if (!block)
        return false;
    const int last = static_cast<int>(WaterBlock::mapSize) - 1;
    const int column = std::clamp(static_cast<int>((fx - std::trunc(fx)) * 10.0f), 0, last);
    const int row = std::clamp(static_cast<int>((fz - std::trunc(fz)) * 10.0f), 0, last);
    return block->GetCoverage()[row * WaterBlock::mapSize + column] != 0;
}

float WaterLayer::RayIntersection(const Ray& ray, float maxDistance) const
{
    // The surface faces the ray.
    const Vec3 normal = ray.direction.y < 0.0f ? Vec3(0.0f, 1.0f, 0.0f) : Vec3(0.0f, -1.0f, 0.0f);
    const Plane plane(normal, Vec3(0.0f, m_height, 0.0f));
    const float distance = plane.IntersectRay(ray);
    if (distance < maxDistance && IsPointInLayer(ray.GetPoint(distance)))
        return distance;
    return gInfinity;
}

void WaterLayer::CalcSurfaceVelocity(Vec3& velocity) const
{
    if (!m_waterType)
        return;
    const Vec2 v = m_waterType->CalculateVelocity();
    velocity = Vec3(v.x, 0.0f, v.y);
}

void WaterLayer::PaintBlock(WaterBlock* block, const Vec3& centre, float radius, bool add)
{
    const float minX = static_cast<float>(block->GetX()) * m_blockSize;
    const float minZ = static_cast<float>(block->GetZ()) * m_blockSize;
    uint8_t* coverage = block->GetCoverage();
    for (unsigned row = 0; row < WaterBlock::mapSize; ++row)
        for (unsigned column = 0; column < WaterBlock::mapSize; ++column) {
            const float dx = minX + static_cast<float>(column) - centre.x;
            const float dz = minZ + static_cast<float>(row) - centre.z;
            if (dx * dx + dz * dz < radius * radius)
                coverage[row * WaterBlock::mapSize + column] = add ? 255 : 0;
        }
    if (!block->UpdateDepth(GetTerrain(), GetGridRegion()))
        RemoveBlock(block->GetX(), block->GetZ());
}

void WaterLayer::UpdateArea(const Vec3& centre, float radius, bool add)
{
    unsigned x0, x1, z0, z1;
    if (BlockRange(centre.x - radius, centre.x + radius, m_blockSize, m_blocksX, x0, x1) &&
        BlockRange(centre.z - radius, centre.z + radius, m_blockSize, m_blocksZ, z0, z1)) {
        for (unsigned x = x0; x <= x1; ++x)
            for (unsigned z = z0; z <= z1; ++z) {
                WaterBlock* block = GetBlock(x, z);
                if (add && TestBlockArea(x, z)) {
                    if (!block) {
                        block = AddBlock(x, z);
                        BuildBlock(block);
                    }
                    if (block)
                        PaintBlock(block, centre, radius, true);
                } else if (block) {
                    PaintBlock(block, centre, radius, false);
                }
            }
    }
    UpdateReflectionPlane();
}

void WaterLayer::Cleanup()
{
    const TerrainBase* terrain = GetTerrain();
    const GridRegion* grid = GetGridRegion();
    for (WaterBlock* block : m_blocks)
        if (block && !block->UpdateDepth(terrain, grid))
            RemoveBlock(block->GetX(), block->GetZ());
    UpdateReflectionPlane();
}

bool WaterLayer::Load(BinaryReader& reader, unsigned)
{
    std::string typeName;
    reader.ReadString(typeName);
    const float height = reader.ReadFloat();
    Vec2 extent;
    extent.x = reader.ReadFloat();
    extent.y = reader.ReadFloat();
    const bool finite = std::isfinite(height) && std::isfinite(extent.x) && std::isfinite(extent.y);
    bool ok = Initialize(typeName.c_str(), finite ? height : 0.0f, finite ? extent : Vec2()) && finite;
    if (!finite)
        LogPrintf(1, "Water layer: the height or extent is not a number");

    const uint32_t count = reader.ReadUInt32();
    if (!reader.CheckCount(count, 4 + kBlockRecordBytes, "water layer blocks"))
        ok = false;
    const uint64_t cells = static_cast<uint64_t>(m_blocksX) * m_blocksZ;
    for (uint32_t i = 0; i < count && !reader.Failed(); ++i) {
        const uint32_t index = reader.ReadUInt32();
        // Blocks of a layer that cannot be used, and blocks outside the grid, are passed over.
        WaterBlock* block = ok && index < cells ? AddBlock(index % m_blocksX, index / m_blocksX) : nullptr;
        if (!block) {
            reader.Skip(kBlockRecordBytes);
            continue;
        }
        reader.ReadBytes(block->GetCoverage(), kBlockRecordBytes);
        BuildBlock(block);
    }
    if (reader.Failed())
        ok = false;
    UpdateReflectionPlane();
    return ok;
}

void WaterLayer::Save(BinaryWriter& writer) const
{
    const char* name = GetWaterTypeName();
    writer.WriteString(name ? name : "");
    writer.WriteFloat(m_height);
    writer.WriteFloat(m_extent.x);
    writer.WriteFloat(m_extent.y);
    uint32_t count = 0;
    for (const WaterBlock* block : m_blocks)
        count += block ? 1 : 0;
    writer.WriteUInt32(count);
    for (size_t i = 0; i < m_blocks.size(); ++i)
        if (const WaterBlock* block = m_blocks[i]) {
            writer.WriteUInt32(static_cast<uint32_t>(i));
            writer.WriteBytes(block->GetCoverage(), kBlockRecordBytes);
        }
}

void WaterLayer::MapSize(unsigned& width, unsigned& depth) const
{
    // A map never reaches past the grid's last vertex, whatever extent the record gave.
    auto size = [](float extent, unsigned blocks) {
        const float limit = static_cast<float>(blocks * kMapStep + (blocks ? 1 : 0));
        return extent > 0.0f ? static_cast<unsigned>(std::min(std::trunc(extent), limit)) : 0u;
    };
    width = size(m_extent.x, m_blocksX);
    depth = size(m_extent.y, m_blocksZ);
}

void WaterLayer::SaveToMap(std::vector<uint8_t>& map, unsigned& width, unsigned& depth) const
{
    MapSize(width, depth);
    map.assign(static_cast<size_t>(width) * depth, 0);
    for (const WaterBlock* block : m_blocks) {
        if (!block)
            continue;
        const unsigned x0 = block->GetX() * kMapStep, z0 = block->GetZ() * kMapStep;
        for (unsigned row = 0; row < WaterBlock::mapSize && z0 + row < depth; ++row)
            for (unsigned column = 0; column < WaterBlock::mapSize && x0 + column < width; ++column)
                map[static_cast<size_t>(z0 + row) * width + x0 + column] =
                    block->GetCoverage()[row * WaterBlock::mapSize + column];
    }
}

void WaterLayer::ConstructFromMap(const std::vector<uint8_t>& map, unsigned width, unsigned depth)
{
    DestroyBlocks();
    if (map.size() < static_cast<size_t>(width) * depth)
        return;
    const TerrainBase* terrain = GetTerrain();
    const GridRegion* grid = GetGridRegion();
    for (unsigned z = 0; z < m_blocksZ; ++z)
        for (unsigned x = 0; x < m_blocksX; ++x) {
            const unsigned x0 = x * kMapStep, z0 = z * kMapStep;
            uint8_t bytes[WaterBlock::numCoverageBytes] = {};
            bool any = false;
            for (unsigned row = 0; row < WaterBlock::mapSize && z0 + row < depth; ++row)
                for (unsigned column = 0; column < WaterBlock::mapSize && x0 + column < width; ++column) {
                    const uint8_t b = map[static_cast<size_t>(z0 + row) * width + x0 + column];
                    bytes[row * WaterBlock::mapSize + column] = b;
                    any = any || b != 0;
                }
            if (!any)
                continue;
            WaterBlock* block = AddBlock(x, z);
            if (!block)
                continue;
            std::memcpy(block->GetCoverage(), bytes, sizeof(bytes));
            BuildBlock(block);
            block->UpdateDepth(terrain, grid);
        }
}

void WaterLayer::MirrorX(float)
{
    std::vector<uint8_t> map;
    unsigned width = 0, depth = 0;
    SaveToMap(map, width, depth);
    for (unsigned z = 0; z < depth; ++z)
        std::reverse(map.begin() + static_cast<ptrdiff_t>(z) * width,
                     map.begin() + static_cast<ptrdiff_t>(z + 1) * width);
    ConstructFromMap(map, width, depth);
    UpdateReflectionPlane();
}

void WaterLayer::MirrorZ(float)
{
    std::vector<uint8_t> map;
    unsigned width = 0, depth = 0;
    SaveToMap(map, width, depth);
    for (unsigned z = 0; z < depth / 2; ++z)
        std::swap_ranges(map.begin() + static_cast<ptrdiff_t>(z) * width,
                         map.begin() + static_cast<ptrdiff_t>(z + 1) * width,
                         map.begin() + static_cast<ptrdiff_t>(depth - 1 - z) * width);
    ConstructFromMap(map, width, depth);
    UpdateReflectionPlane();
}

void WaterLayer::MirrorXZ()
{
    std::vector<uint8_t> map;
    unsigned width = 0, depth = 0;
    SaveToMap(map, width, depth);
    std::vector<uint8_t> transposed(map.size());
    for (unsigned z = 0; z < depth; ++z)
        for (unsigned x = 0; x < width; ++x)
            transposed[static_cast<size_t>(x) * depth + z] = map[static_cast<size_t>(z) * width + x];
    DestroyBlocks();
    std::swap(m_extent.x, m_extent.y);
    std::swap(m_blocksX, m_blocksZ);
    m_blocks.assign(static_cast<size_t>(m_blocksX) * m_blocksZ, nullptr);
    ConstructFromMap(transposed, depth, width);
    UpdateReflectionPlane();
}

} // namespace GAME
