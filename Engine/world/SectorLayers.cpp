#include "world/SectorLayers.h"

#include "core/Color.h"
#include "core/Log.h"
#include "core/Vec3.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"
#include "graphics/WorldPrimitiveDrawer.h"
#include "world/GroundQueries.h"
#include "world/Region.h"
#include "world/SectorDataManager.h"
#include "world/WorldServices.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace GAME {

namespace {

// Vertices a list takes before it is submitted and begun again.
constexpr int kFlushVertices = 900;
// Cells of one colour along each side of the drawing's checkerboard.
constexpr int kCheckerCells = 5;
constexpr float kFillLift = 0.75f;
constexpr float kBorderLift = 0.755f;

// Which square of the checkerboard a world cell coordinate falls in (0 or 1), also for negative
// coordinates.
int CheckerSquare(int64_t cell)
{
    int64_t square = cell >= 0 ? cell / kCheckerCells : -((-cell + kCheckerCells - 1) / kCheckerCells);
    return static_cast<int>(square & 1);
}

bool ValidLayer(int layer)
{
    return layer >= 0 && layer < SectorLayers::kNumLayers;
}

} // namespace

bool SectorLayers::Initialize(unsigned width, unsigned height)
{
    Destroy();
    const uint64_t cells = static_cast<uint64_t>(width) * height;
    if (cells > 0xFFFFFFFFu) {
        LogPrintf(1, "SectorLayers: %u x %u cells are too many", width, height);
        return false;
    }
    std::unique_ptr<uint8_t[]> arrays[kNumLayers];
    for (auto& array : arrays) {
        array.reset(new (std::nothrow) uint8_t[cells ? cells : 1]);
        if (!array) {
            LogPrintf(1, "SectorLayers: no memory for %u x %u cells", width, height);
            return false;
        }
        std::memset(array.get(), 0, cells);
    }
    for (int i = 0; i < kNumLayers; ++i)
        m_cells[i] = std::move(arrays[i]);
    m_width = width;
    m_height = height;
    return true;
}

void SectorLayers::Destroy()
{
    for (auto& array : m_cells)
        array.reset();
    m_width = 0;
    m_height = 0;
}

bool SectorLayers::IsInitialized() const
{
    for (const auto& array : m_cells)
        if (!array)
            return false;
    return true;
}

void SectorLayers::SetHeightCallbacks(TerrainBase* terrain, GridRegion* grid)
{
    m_terrain = terrain;
    m_grid = grid;
}

float SectorLayers::GetHeight(int x, int z) const
{
    GroundQueries* ground = GroundQueries::Get();
    if (!ground)
        return 0.0f;
    if (m_terrain)
        return ground->GetTerrainHeight(m_terrain, x, z);
    if (m_grid)
        return ground->GetGridGroundHeight(m_grid, static_cast<float>(x), static_cast<float>(z));
    return 0.0f;
}

uint8_t* SectorLayers::Layer(int layer) const
{
    return ValidLayer(layer) ? m_cells[layer].get() : nullptr;
}

uint8_t SectorLayers::GetValue(int layer, int x, int z) const
{
    const uint8_t* cells = Layer(layer);
    if (!cells || x < 0 || z < 0 || static_cast<unsigned>(x) >= m_width ||
        static_cast<unsigned>(z) >= m_height)
        return 0;
    return cells[GetIndex(x, z)];
}

void SectorLayers::SetValue(int layer, int x, int z, bool clear)
{
    uint8_t* cells = Layer(layer);
    if (!cells || x < 0 || z < 0 || static_cast<unsigned>(x) >= m_width ||
        static_cast<unsigned>(z) >= m_height)
        return;
    cells[GetIndex(x, z)] = clear ? 0 : m_paintValue;
}

UniqueId SectorLayers::GetTargetId(int layer, int x, int z) const
{
    const uint8_t* cells = Layer(layer);
    if (!cells || m_width == 0 || m_height == 0)
        return UniqueId();
    x = std::clamp(x, 0, static_cast<int>(std::min<unsigned>(m_width - 1, 0x7FFFFFFF)));
    z = std::clamp(z, 0, static_cast<int>(std::min<unsigned>(m_height - 1, 0x7FFFFFFF)));
    const uint8_t value = cells[GetIndex(x, z)];
    if (value == 0)
        return UniqueId();
    for (const Target& target : m_targets[layer])
        if (target.value == value)
            return target.id;
    return UniqueId();
}

int SectorLayers::GetNumTargets(int layer) const
{
    return ValidLayer(layer) ? static_cast<int>(m_targets[layer].size()) : 0;
}

const SectorLayers::Target* SectorLayers::GetTarget(int layer, int index) const
{
    if (index < 0 || index >= GetNumTargets(layer))
        return nullptr;
    return &m_targets[layer][static_cast<size_t>(index)];
}

void SectorLayers::PrimeForEdit(int layer, const UniqueId& id)
{
    if (!ValidLayer(layer))
        return;
    m_editLayer = layer;
    std::vector<Target>& targets = m_targets[layer];
    for (const Target& target : targets) {
        if (target.id == id) {
            m_paintValue = target.value;
            return;
        }
    }
    bool used[256] = {};
    for (const Target& target : targets)
        used[target.value] = true;
    for (int value = 1; value < 256; ++value) {
        if (!used[value]) {
            m_paintValue = static_cast<uint8_t>(value);
            targets.push_back(Target{m_paintValue, id});
            return;
        }
    }
    // Every value is taken: painting clears rather than overwriting another sector.
    m_paintValue = 0;
    LogPrintf(1, "SectorLayers: layer %d maps 255 sectors already; no value is left for another", layer);
}

void SectorLayers::Edit(int x, int z, bool paint)
{
    SetValue(m_editLayer, x, z, !paint);
}

void SectorLayers::Fill()
{
    if (uint8_t* cells = Layer(m_editLayer))
        std::memset(cells, m_paintValue, static_cast<size_t>(m_width) * m_height);
}

void SectorLayers::ValidateMapping()
{
    if (SectorDataManager* sectorData = WorldServices::SectorData())
        ValidateMapping(*sectorData);
}

void SectorLayers::ValidateMapping(const SectorDataManager& sectorData)
{
    for (int layer = 0; layer < kNumLayers; ++layer) {
        std::vector<Target>& targets = m_targets[layer];
        for (size_t i = 0; i < targets.size();) {
            if (sectorData.IsValidSectorValue(static_cast<unsigned>(layer), targets[i].id)) {
                ++i;
                continue;
            }
            const uint8_t value = targets[i].value;
            targets.erase(targets.begin() + static_cast<std::ptrdiff_t>(i));
            RemovePatches(layer, value);
        }
    }
}

void SectorLayers::RemovePatches(int layer, uint8_t value)
{
    uint8_t* cells = Layer(layer);
    if (!cells)
        return;
    const size_t count = static_cast<size_t>(m_width) * m_height;
    for (size_t i = 0; i < count; ++i)
        if (cells[i] == value)
            cells[i] = 0;
}

void SectorLayers::Render(WorldPrimitiveDrawer& drawer) const
{
    if (SectorDataManager* sectorData = WorldServices::SectorData())
        RenderLayer(sectorData->GetCurrentLayer(), drawer, *sectorData);
}

void SectorLayers::RenderLayer(int layer, WorldPrimitiveDrawer& drawer) const
{
    if (SectorDataManager* sectorData = WorldServices::SectorData())
        RenderLayer(layer, drawer, *sectorData);
}

void SectorLayers::RenderLayer(int layer, WorldPrimitiveDrawer& drawer,
                               const SectorDataManager& sectorData) const
{
    const uint8_t* cells = Layer(layer);
    if (!cells || m_width == 0 || m_height == 0)
        return;
    Region* region = nullptr;
    if (GroundQueries* ground = GroundQueries::Get())
        region = m_terrain ? ground->GetTerrainRegion(m_terrain)
                           : (m_grid ? ground->GetGridRegionRegion(m_grid) : nullptr);
    const IntVec3 offset = region ? region->GetOffsetFromWorld() : IntVec3();
    const int width = static_cast<int>(std::min<unsigned>(m_width, 0x7FFFFFFE));
    const int height = static_cast<int>(std::min<unsigned>(m_height, 0x7FFFFFFE));

    auto corner = [this](int x, int z, float lift) {
        return Vec3(static_cast<float>(x), GetHeight(x, z) + lift, static_cast<float>(z));
    };

    drawer.SetRegion(region);
    drawer.Begin(WorldPrimitiveDrawer::PRIMITIVE_TRIANGLE_LIST);
    int vertices = 0;
    for (const Target& target : m_targets[layer]) {
        const Color alpha = sectorData.GetRenderColorAlpha(static_cast<unsigned>(layer), target.id);
        const Color omega = sectorData.GetRenderColorOmega(static_cast<unsigned>(layer), target.id);
        for (int z = 0; z < height; ++z) {
            for (int x = 0; x < width; ++x) {
                if (cells[GetIndex(x, z)] != target.value)
                    continue;
                const bool even = CheckerSquare(static_cast<int64_t>(offset.x) + x) ==
                                  CheckerSquare(static_cast<int64_t>(offset.z) + z);
                drawer.SetColor(even ? alpha : omega);
                const Vec3 p00 = corner(x, z, kFillLift), p10 = corner(x + 1, z, kFillLift);
                const Vec3 p01 = corner(x, z + 1, kFillLift), p11 = corner(x + 1, z + 1, kFillLift);
                drawer.SetVertex(p00);
                drawer.SetVertex(p10);
                drawer.SetVertex(p01);
                drawer.SetVertex(p10);
                drawer.SetVertex(p11);
                drawer.SetVertex(p01);
                vertices += 6;
                if (vertices > kFlushVertices) {
                    drawer.End();
                    drawer.Flush();
                    drawer.Begin(WorldPrimitiveDrawer::PRIMITIVE_TRIANGLE_LIST);
                    vertices = 0;
                }
            }
        }
    }
    drawer.End();
    drawer.Flush();

    // Borders between neighbouring cells of different values.
    drawer.Begin(WorldPrimitiveDrawer::PRIMITIVE_LINE_LIST);
    drawer.SetColor(Color(1.0f, 1.0f, 1.0f, 1.0f));
    vertices = 0;
    auto line = [&](const Vec3& a, const Vec3& b) {
        drawer.SetVertex(a);
        drawer.SetVertex(b);
        vertices += 2;
        if (vertices > kFlushVertices) {
            drawer.End();
            drawer.Flush();
            drawer.Begin(WorldPrimitiveDrawer::PRIMITIVE_LINE_LIST);
            drawer.SetColor(Color(1.0f, 1.0f, 1.0f, 1.0f));
            vertices = 0;
        }
    };
    for (int z = 0; z < height; ++z) {
        for (int x = 0; x < width; ++x) {
            const uint8_t value = cells[GetIndex(x, z)];
            if (x + 1 < width && cells[GetIndex(x + 1, z)] != value)
                line(corner(x + 1, z, kBorderLift), corner(x + 1, z + 1, kBorderLift));
            if (z + 1 < height && cells[GetIndex(x, z + 1)] != value)
                line(corner(x, z + 1, kBorderLift), corner(x + 1, z + 1, kBorderLift));
        }
    }
    drawer.End();
    drawer.Flush();
}

void SectorLayers::Save(BinaryWriter& writer) const
{
    writer.WriteUInt32(1);
    writer.WriteUInt32(kNumLayers);
    for (const auto& targets : m_targets) {
        writer.WriteUInt32(static_cast<uint32_t>(targets.size()));
        for (const Target& target : targets) {
            writer.WriteUInt8(target.value);
            writer.WriteUniqueIdReversed(target.id);
        }
    }
    const bool haveCells = IsInitialized();
    const unsigned width = haveCells ? m_width : 0;
    const unsigned height = haveCells ? m_height : 0;
    writer.WriteUInt32(width);
    writer.WriteUInt32(height);
    if (height == 0 || width == 0)
        return; // no cells, however wide or high
    // A column of cells (x fixed, every z, the four layers' bytes each) in one write.
    std::vector<uint8_t> column(size_t(height) * kNumLayers);
    for (unsigned x = 0; x < width; ++x) {
        uint8_t* out = column.data();
        for (unsigned z = 0; z < height; ++z) {
            const size_t cell = size_t(m_width) * z + x;
            for (const auto& cells : m_cells)
                *out++ = cells[cell];
        }
        writer.WriteBytes(column.data(), static_cast<unsigned>(column.size()));
    }
}

bool SectorLayers::Load(BinaryReader& reader)
{
    const uint32_t version = reader.ReadUInt32();
    if (reader.Failed() || version != 1) {
        LogPrintf(1, "SectorLayers: version %u is not supported", version);
        return false;
    }
    // Exactly four lists are kept whatever the block says: extra lists are read past, missing
    // ones stay empty.
    std::vector<Target> targets[kNumLayers];
    const uint32_t numLists = reader.ReadUInt32();
    if (!reader.CheckCount(numLists, 4, "sector layer target lists")) {
        LogPrintf(1, "SectorLayers: the block is truncated or corrupt");
        return false;
    }
    for (uint32_t list = 0; list < numLists && !reader.Failed(); ++list) {
        const uint32_t count = reader.ReadUInt32();
        if (!reader.CheckCount(count, 17, "sector layer targets"))
            break;
        for (uint32_t i = 0; i < count; ++i) {
            Target target;
            target.value = reader.ReadUInt8();
            target.id = reader.ReadUniqueIdReversed();
            if (list < kNumLayers)
                targets[list].push_back(target);
        }
    }
    const uint32_t width = reader.ReadUInt32();
    const uint32_t height = reader.ReadUInt32();
    const uint64_t cells = static_cast<uint64_t>(width) * height;
    if (reader.Failed() || !reader.CheckCount(cells, kNumLayers, "sector layer cells")) {
        LogPrintf(1, "SectorLayers: the block is truncated or corrupt");
        return false;
    }
    // The arrays take the block's size; existing ones of another size are replaced.
    if (!IsInitialized() || m_width != width || m_height != height) {
        if (!Initialize(width, height))
            return false;
    }
    // The cells were counted against the bytes left: each column is there whole.
    for (uint32_t x = 0; x < width && height != 0; ++x) {
        const uint8_t* in = reader.GetCursor();
        for (uint32_t z = 0; z < height; ++z) {
            const size_t cell = static_cast<size_t>(m_width) * z + x;
            for (auto& layer : m_cells)
                layer[cell] = *in++;
        }
        reader.Skip(height * kNumLayers);
    }
    for (int i = 0; i < kNumLayers; ++i)
        m_targets[i] = std::move(targets[i]);
    return true;
}

} // namespace GAME
