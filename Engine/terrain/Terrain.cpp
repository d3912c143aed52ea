#include "terrain/Terrain.h"

#include "core/Color.h"
#include "core/Coords.h"
#include "core/Frustum.h"
#include "core/Log.h"
#include "core/MathUtil.h"
#include "core/ObjectManager.h"
#include "core/SimplePolygon.h"
#include "core/TriangulationData.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/GraphicsPrimitiveDrawer.h"
#include "graphics/RenderDevice.h"
#include "graphics/RenderIndexBuffer.h"
#include "graphics/RenderTexture.h"
#include "graphics/RenderVertexBuffer.h"
#include "navigation/ImpassableData.h"
#include "navigation/PhysicsGrassWind.h"
#include "scene/GraphicsSceneRenderer.h"
#include "terrain/HeightField.h"
#include "terrain/TerrainBlock.h"
#include "terrain/TerrainPlug.h"
#include "terrain/TerrainTile.h"
#include "terrain/TerrainType.h"
#include "world/Engine.h"
#include "world/Region.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <map>

namespace GAME {

namespace {

// A contour vertex draws the samples closer than this.
constexpr float pullRadius = 5.0f;
constexpr float pi = 3.14159265f;

GraphicsEngine* Graphics()
{
    return gEngine ? gEngine->GetGraphicsEngine() : nullptr;
}

int RoundToInt(float v)
{
    return static_cast<int>(std::lround(std::clamp(v, -1.0e9f, 1.0e9f)));
}

// The four normal floats a plug vertex carries in a polygon vertex's values.
PolygonVertex PlugVertex(float x, float y, float height, const Vec3& normal)
{
    PolygonVertex vertex;
    vertex.x = x;
    vertex.y = y;
    vertex.height = height;
    const float values[3] = {normal.x, normal.y, normal.z};
    std::memcpy(vertex.values, values, sizeof(values));
    return vertex;
}

TerrainPlug::Vertex ToPlugVertex(const PolygonVertex& vertex)
{
    float values[3];
    std::memcpy(values, vertex.values, sizeof(values));
    TerrainPlug::Vertex out;
    out.position = Vec3(vertex.x, vertex.y, vertex.height);
    out.normal = Vec3(values[0], values[1], values[2]);
    return out;
}

PolygonVertex FromPlugVertex(const TerrainPlug::Vertex& vertex)
{
    return PlugVertex(vertex.position.x, vertex.position.y, vertex.position.z, vertex.normal);
}

// The polygon's bounds on x and y.
void GetBounds(const SimplePolygon& polygon, float& minX, float& minY, float& maxX, float& maxY)
{
    minX = minY = gInfinity;
    maxX = maxY = -gInfinity;
    for (const PolygonVertex& v : polygon.GetVertices()) {
        minX = std::min(minX, v.x);
        maxX = std::max(maxX, v.x);
        minY = std::min(minY, v.y);
        maxY = std::max(maxY, v.y);
    }
}

// Begins the drawer's batch again once it holds more than 900 vertices.
void FlushWhenFull(GraphicsPrimitiveDrawer& drawer, int kind, int& pending)
{
    if (pending > 900) {
        drawer.End();
        drawer.Flush();
        drawer.Begin(kind);
        pending = 0;
    }
}

} // namespace

// Sets the cut-away flag of every sample it is given.
class Terrain::CutAwayCallback : public TerrainRasterizeCallback
{
public:
    void Rasterize(Terrain& terrain, int x, int y) override { terrain.SetInvisible(x, y, true); }
};

Terrain::Terrain(Region* region)
    : TerrainBase(TERRAIN_BASE_EDITABLE, region, m_renderInterface), m_renderInterface(this)
{
    if (GraphicsEngine* graphics = Graphics())
        m_impassableShader = graphics->LoadShader2(impassableShaderName);
}

Terrain::~Terrain()
{
    Unload();
    if (GraphicsEngine* graphics = Graphics())
        if (m_impassableShader)
            graphics->UnloadShader2(m_impassableShader);
    m_impassableShader = nullptr;
}

void Terrain::ReleaseDebugShaders()
{
    if (GraphicsEngine* graphics = Graphics())
        if (m_loadedImpassableShader)
            graphics->UnloadShader2(m_loadedImpassableShader);
    m_loadedImpassableShader = nullptr;
}

// ---- Life cycle ---------------------------------------------------------------------------------

bool Terrain::AllocateSamples(unsigned x, unsigned y)
{
    const size_t samples = static_cast<size_t>(x) * y;
    const size_t cells = static_cast<size_t>(x - 1) * (y - 1);
    m_heights.assign(samples, 0.0f);
    m_cutAway.assign(samples, 0);
    m_offsets.assign(samples, Offset());
    m_impassableCells.assign(cells, 0);
    m_numXSamples = x;
    m_numYSamples = y;
    UpdateField();
    return true;
}

void Terrain::UpdateField()
{
    m_field = HeightField();
    // Counts set apart from the samples (SetNumXSamples, SetNumYSamples set the counts only) give
    // no field until they agree again: the queries never read past the arrays.
    const size_t samples = static_cast<size_t>(m_numXSamples) * m_numYSamples;
    if (m_heights.empty() || m_heights.size() != samples || m_cutAway.size() != samples)
        return;
    m_field.heights = m_heights.data();
    m_field.numX = m_numXSamples;
    m_field.numY = m_numYSamples;
    m_field.visibility = m_cutAway.data();
    m_field.visibilityStride = 1;
    m_field.visibilityBit = 1;
    m_field.visibleWhenSet = false;
}

void Terrain::SetNumXSamples(unsigned count)
{
    m_numXSamples = count;
    UpdateField();
}

void Terrain::SetNumYSamples(unsigned count)
{
    m_numYSamples = count;
    UpdateField();
}

bool Terrain::New(unsigned cellsX, unsigned cellsY)
{
    Unload();
    // A terrain needs at least one cell a side: a single sample has no ground to draw or store.
    if (cellsX == 0 || cellsY == 0 || cellsX > maxNewCells || cellsY > maxNewCells || !IsPowerOfTwo(cellsX) ||
        !IsPowerOfTwo(cellsY)) {
        LogPrintf(1, "Terrain: %u x %u cells are not powers of two from 1 to %u", cellsX, cellsY,
                  maxNewCells);
        return false;
    }
    AllocateSamples(cellsX + 1, cellsY + 1);
    if (GraphicsEngine* graphics = Graphics())
        m_loadedImpassableShader = graphics->LoadShader2(impassableShaderName);
    InitializeBlocks(true);
    return true;
}

void Terrain::Unload()
{
    for (TerrainLayer& layer : m_layers)
        ReleaseLayer(layer);
    m_layers.clear();
    TerrainBase::Unload();
    m_heights.clear();
    m_cutAway.clear();
    m_offsets.clear();
    m_impassableCells.clear();
    m_dirtyRects.Clear();
    m_opacityDirtyRects.Clear();
    ReleaseDebugShaders();
}

bool Terrain::Load(BinaryReader& reader, int version)
{
    Unload();
    const uint32_t x = reader.ReadUInt32();
    const uint32_t y = reader.ReadUInt32();
    if (reader.Failed()) {
        LogPrintf(1, "Terrain: the terrain body is cut short");
        return false;
    }
    if (!AreSampleCounts(x, y)) {
        LogPrintf(1, "Terrain: %u x %u samples are not a power of two cells a side", x, y);
        return false;
    }
    const uint32_t layers = reader.ReadUInt32();
    if (reader.Failed() || layers > maxLayers) {
        LogPrintf(1, "Terrain: bad layer count %u", layers);
        return false;
    }
    // Everything the counts announce must be there before anything is allocated: a name length a
    // layer, the opacity bytes of every layer but the first, 20 bytes a sample and, when stored, a
    // passability word a cell.
    const bool passability = version >= passabilityVersion;
    using Wide = unsigned __int128;
    const Wide samples = static_cast<Wide>(x) * y, cells = static_cast<Wide>(x - 1) * (y - 1);
    const Wide need = static_cast<Wide>(layers) * 4 + (layers ? (layers - 1) * cells : 0) + samples * 20 +
                      (passability ? cells * 4 : 0);
    if (need > reader.GetRemaining()) {
        LogPrintf(1, "Terrain: %u x %u samples and %u layers need more than the %u bytes left", x, y, layers,
                  reader.GetRemaining());
        return false;
    }
    AllocateSamples(x, y);
    ReadLayers(reader, layers);
    UpdateAllVisibility();
    for (size_t i = 0, n = m_heights.size(); i < n; ++i) {
        m_heights[i] = reader.ReadFloat();
        reader.ReadUInt32(); // the cut-away flag: placed tiles cut the ground again
    }
    for (Offset& offset : m_offsets) {
        offset.baseHeight = reader.ReadFloat();
        offset.targetHeight = reader.ReadFloat();
        offset.weight = reader.ReadFloat();
    }
    if (passability)
        for (uint8_t& cell : m_impassableCells)
            cell = reader.ReadUInt32() != 0 ? 1 : 0;
    bool finite = true;
    for (float h : m_heights)
        finite = finite && std::fabs(h) <= HeightField::maxHeight;
    for (const Offset& offset : m_offsets)
        finite = finite && std::fabs(offset.baseHeight) <= HeightField::maxHeight &&
                 std::fabs(offset.targetHeight) <= HeightField::maxHeight && std::isfinite(offset.weight);
    if (reader.Failed() || !finite) {
        LogPrintf(1, "Terrain: the samples cannot be read (cut short or not finite numbers in range)");
        Unload();
        return false;
    }
    if (GraphicsEngine* graphics = Graphics())
        m_loadedImpassableShader = graphics->LoadShader2(impassableShaderName);
    InitializeBlocks(true);
    return true;
}

void Terrain::ReadLayers(BinaryReader& reader, uint32_t count)
{
    const size_t cells = NumCells();
    for (uint32_t i = 0; i < count && !reader.Failed(); ++i) {
        std::string name;
        reader.ReadString(name);
        if (!name.empty() && name[0] == '\\')
            name.erase(0, 1);
        const uint8_t* opacity = nullptr;
        if (i > 0) {
            opacity = reader.GetCursor();
            if (!reader.Skip(static_cast<unsigned>(cells)))
                return;
        }
        AddNamedLayer(name, opacity);
    }
}

bool Terrain::AddNamedLayer(const std::string& recordName, const uint8_t* opacity)
{
    if (InternalAddLayer(recordName, opacity))
        return true;
    // Kept without a type, so that the layer's name, place and paint survive a save.
    if (!recordName.empty() && m_layers.size() < maxLayers && NumCells() != 0)
        LogPrintf(1, "Failed to load terrain type %s.", recordName.c_str());
    return AddUntypedLayer(recordName, opacity);
}

bool Terrain::AddUntypedLayer(const std::string& recordName, const uint8_t* opacity)
{
    if (m_layers.size() >= maxLayers || NumCells() == 0)
        return false;
    AppendLayer(nullptr, recordName, opacity);
    return true;
}

void Terrain::Save(BinaryWriter& writer) const
{
    writer.WriteUInt32(m_numXSamples);
    writer.WriteUInt32(m_numYSamples);
    writer.WriteUInt32(static_cast<uint32_t>(m_layers.size()));
    for (size_t i = 0; i < m_layers.size(); ++i) {
        writer.WriteString(GetLayerRecordName(static_cast<unsigned>(i)));
        if (i > 0)
            writer.WriteBytes(m_layers[i].opacity.data(), static_cast<unsigned>(m_layers[i].opacity.size()));
    }
    for (size_t i = 0; i < m_heights.size(); ++i) {
        writer.WriteFloat(m_heights[i]);
        writer.WriteBool(m_cutAway[i] != 0);
    }
    for (const Offset& offset : m_offsets) {
        writer.WriteFloat(offset.baseHeight);
        writer.WriteFloat(offset.targetHeight);
        writer.WriteFloat(offset.weight);
    }
    for (uint8_t cell : m_impassableCells)
        writer.WriteBool(cell != 0);
}

bool Terrain::SaveRunTimeFormat(BinaryWriter& writer) const
{
    if (m_numXSamples < 2 || m_numYSamples < 2) {
        LogPrintf(1, "Terrain: a terrain without samples has no run-time form");
        return false;
    }
    const uint32_t layers = static_cast<uint32_t>(m_layers.size());
    writer.WriteUInt32(1);
    writer.WriteUInt32(layers);
    writer.WriteUInt32(m_numXSamples);
    writer.WriteUInt32(m_numYSamples);
    for (int i = 0; i < 4; ++i)
        writer.WriteUInt32(0);
    for (float h : m_heights)
        writer.WriteFloat(h);
    const unsigned maskBytes = (layers >> 3) + 1;
    std::vector<uint8_t> row(static_cast<size_t>(m_numXSamples) * maskBytes);
    for (unsigned y = 0; y < m_numYSamples; ++y) {
        std::fill(row.begin(), row.end(), 0);
        const unsigned cy = std::min(y, m_numYSamples - 2);
        for (unsigned x = 0; x < m_numXSamples; ++x) {
            uint8_t* mask = row.data() + static_cast<size_t>(x) * maskBytes;
            const size_t cell = CellIndex(std::min(x, m_numXSamples - 2), cy);
            for (unsigned layer = 0; layer < layers; ++layer) {
                const uint8_t state = m_layers[layer].states[cell];
                if (state < STATE_PARTLY_VISIBLE)
                    continue;
                const unsigned bit = layer + 1, byte = bit >> 3;
                if (state == STATE_OPAQUE) {
                    std::fill(mask, mask + byte, 0);
                    mask[byte] &= static_cast<uint8_t>(~((1u << (bit & 7u)) - 1u));
                }
                mask[byte] |= static_cast<uint8_t>(1u << (bit & 7u));
            }
            if (!m_cutAway[SampleIndex(x, y)])
                mask[0] |= 1u;
        }
        writer.WriteBytes(row.data(), static_cast<unsigned>(row.size()));
    }
    for (unsigned i = 0; i < layers; ++i) {
        writer.WriteString(GetLayerRecordName(i));
        if (i > 0)
            writer.WriteBytes(m_layers[i].opacity.data(), static_cast<unsigned>(m_layers[i].opacity.size()));
    }
    std::vector<TerrainObject*> objects;
    GetAllObjects(objects);
    std::vector<const TerrainPlug*> plugs;
    for (TerrainObject* object : objects)
        if (object->GetClassInfo().IsA(TerrainPlug::classInfo))
            plugs.push_back(static_cast<const TerrainPlug*>(object));
    writer.WriteUInt32(static_cast<uint32_t>(plugs.size()));
    for (const TerrainPlug* plug : plugs)
        plug->Write(writer);
    return true;
}

// ---- Heights ------------------------------------------------------------------------------------

float Terrain::GetBaseHeight(int x, int y) const
{
    return IsSample(x, y) ? m_offsets[SampleIndex(x, y)].baseHeight : 0.0f;
}

void Terrain::SetBaseHeight(int x, int y, float height)
{
    if (!IsSample(x, y))
        return;
    const size_t i = SampleIndex(x, y);
    Offset& offset = m_offsets[i];
    offset.baseHeight = height;
    m_heights[i] = offset.baseHeight + (offset.targetHeight - offset.baseHeight) * offset.weight;
}

void Terrain::GetTerrainVertex(Vec3& out, int x, int y) const
{
    out = Vec3(static_cast<float>(x), GetHeight(x, y), static_cast<float>(y));
}

bool Terrain::IsInvisible(int x, int y) const
{
    return IsSample(x, y) && m_cutAway[SampleIndex(x, y)] != 0;
}

void Terrain::SetInvisible(int x, int y, bool invisible)
{
    if (IsSample(x, y))
        m_cutAway[SampleIndex(x, y)] = invisible ? 1 : 0;
}

// ---- Passability --------------------------------------------------------------------------------

bool Terrain::IsImpassable(int x, int y) const
{
    if (x < 0 || y < 0 || m_impassableCells.empty() || static_cast<unsigned>(x) >= m_numXSamples - 1 ||
        static_cast<unsigned>(y) >= m_numYSamples - 1)
        return true;
    return m_impassableCells[CellIndex(x, y)] != 0;
}

void Terrain::SetPassable(int x, int y, int value)
{
    if (value == 0 || x < 0 || y < 0 || m_impassableCells.empty() ||
        static_cast<unsigned>(x) >= m_numXSamples - 1 || static_cast<unsigned>(y) >= m_numYSamples - 1)
        return;
    m_impassableCells[CellIndex(x, y)] = value == 1 ? 0 : 1;
}

void Terrain::SetImpassableData(const ImpassableData& data)
{
    if (!data.HasBeenLoadedOrPrimed() || m_numYSamples == 1 || m_impassableCells.empty())
        return;
    for (unsigned y = 0; y + 1 < m_numYSamples; ++y)
        for (unsigned x = 0; x + 1 < m_numXSamples; ++x)
            m_impassableCells[CellIndex(x, y)] =
                data.GetImpassable(static_cast<int>(x), static_cast<int>(y)) ? 1 : 0;
}

bool Terrain::SlopeImpassable(int x, int y) const
{
    const float corners[4] = {GetHeight(x, y), GetHeight(x, y + 1), GetHeight(x + 1, y),
                              GetHeight(x + 1, y + 1)};
    const float mean = (corners[0] + corners[1] + corners[2] + corners[3]) * 0.25f;
    for (float h : corners)
        if (std::fabs(h - mean) > 0.6f)
            return true;
    return false;
}

void Terrain::PathingFirstPass()
{
    if (m_numXSamples <= 1 || m_impassableCells.empty())
        return;
    for (unsigned y = 0; y + 1 < m_numYSamples; ++y)
        for (unsigned x = 0; x + 1 < m_numXSamples; ++x) {
            const int ix = static_cast<int>(x), iy = static_cast<int>(y);
            m_impassableCells[CellIndex(x, y)] = !IsInvisible(ix, iy) && SlopeImpassable(ix, iy) ? 1 : 0;
        }
}

// ---- Dirty rectangles ---------------------------------------------------------------------------

void Terrain::ApplyContourPull(const DirtyRect& rect, const std::vector<SimplePolygon>& contours)
{
    if (m_heights.empty() || rect.width <= 0 || rect.height <= 0)
        return;
    // Only the part of the rectangle on the terrain.
    const int x0 = std::max(rect.x, 0), y0 = std::max(rect.y, 0);
    const int x1 =
        static_cast<int>(std::min<int64_t>(static_cast<int64_t>(rect.x) + rect.width, m_numXSamples));
    const int y1 =
        static_cast<int>(std::min<int64_t>(static_cast<int64_t>(rect.y) + rect.height, m_numYSamples));
    if (x0 >= x1 || y0 >= y1)
        return;
    const int w = x1 - x0, h = y1 - y0;
    struct Scratch
    {
        float weightSum = 0.0f;
        float heightSum = 0.0f;
        float largest = 0.0f;
    };
    std::vector<Scratch> scratch(static_cast<size_t>(w) * h);
    for (const SimplePolygon& contour : contours)
        for (const PolygonVertex& vertex : contour.GetVertices()) {
            const float px = vertex.x - static_cast<float>(x0), py = vertex.y - static_cast<float>(y0);
            if (!std::isfinite(px) || !std::isfinite(py) || !std::isfinite(vertex.height))
                continue;
            const int cx0 = std::max(0, RoundToInt(px - pullRadius)),
                      cx1 = std::min(w, RoundToInt(px + 6.0f));
            const int cy0 = std::max(0, RoundToInt(py - pullRadius)),
                      cy1 = std::min(h, RoundToInt(py + 6.0f));
            for (int cy = cy0; cy < cy1; ++cy)
                for (int cx = cx0; cx < cx1; ++cx) {
                    const float dx = px - static_cast<float>(cx), dy = py - static_cast<float>(cy);
                    const float a = 1.0f - 0.04f * (dx * dx + dy * dy);
                    if (!(a > 0.0f))
                        continue;
                    const float t = (std::cos((1.0f - a) * pi) + 1.0f) * 0.5f;
                    const float t2 = t * t, t4 = t2 * t2, t8 = t4 * t4;
                    Scratch& s = scratch[static_cast<size_t>(cy) * w + cx];
                    s.largest = std::max(s.largest, t4);
                    s.weightSum += t8;
                    s.heightSum += t8 * vertex.height;
                }
        }
    for (int cy = 0; cy < h; ++cy)
        for (int cx = 0; cx < w; ++cx) {
            const Scratch& s = scratch[static_cast<size_t>(cy) * w + cx];
            const size_t i = SampleIndex(static_cast<unsigned>(x0 + cx), static_cast<unsigned>(y0 + cy));
            Offset& offset = m_offsets[i];
            if (s.weightSum == 0.0f) {
                offset.targetHeight = 0.0f;
                offset.weight = 0.0f;
            } else {
                offset.targetHeight = s.heightSum / s.weightSum;
                offset.weight = s.largest;
            }
            m_heights[i] = offset.baseHeight + (offset.targetHeight - offset.baseHeight) * offset.weight;
        }
}

void Terrain::GetPlacedTileContours(const std::vector<TerrainObject*>& objects,
                                    std::vector<SimplePolygon>& contours)
{
    for (TerrainObject* object : objects) {
        if (!object->GetClassInfo().IsA(TerrainTile::classInfo))
            continue;
        const TerrainTile* tile = static_cast<const TerrainTile*>(object);
        if (!tile->GetIsPlaced())
            continue;
        for (unsigned c = 0; c < tile->GetNumContours(); ++c) {
            contours.emplace_back();
            tile->GetContour(c, contours.back());
        }
    }
}

void Terrain::UpdateHeightMap(const DirtyRect& rect)
{
    const float w = static_cast<float>(rect.width), h = static_cast<float>(rect.height);
    std::vector<TerrainObject*> objects;
    GetObjectsInBox(objects, ABBox(Vec3(static_cast<float>(rect.x) + w * 0.5f, 0.0f,
                                        static_cast<float>(rect.y) + h * 0.5f),
                                   Vec3(w * 0.5f, gInfinity, h * 0.5f)));
    std::vector<SimplePolygon> contours;
    GetPlacedTileContours(objects, contours);
    ApplyContourPull(rect, contours);
}

void Terrain::AddTileDirtyRects(const TerrainTile& tile)
{
    if (m_numXSamples < 2 || m_numYSamples < 2)
        return;
    SimplePolygon contour;
    for (unsigned c = 0; c < tile.GetNumContours(); ++c) {
        tile.GetContour(c, contour);
        if (contour.GetNumVertices() == 0)
            continue;
        float minX, minY, maxX, maxY;
        GetBounds(contour, minX, minY, maxX, maxY);
        const float grow = tile.GetMaxDistance();
        minX -= grow;
        minY -= grow;
        maxX += grow;
        maxY += grow;
        if (!std::isfinite(minX) || !std::isfinite(minY) || !std::isfinite(maxX) || !std::isfinite(maxY))
            continue;
        const int64_t x0 = std::max<int64_t>(HeightField::TruncIndex(minX), 0);
        const int64_t y0 = std::max<int64_t>(HeightField::TruncIndex(minY), 0);
        if (x0 >= m_numXSamples || y0 >= m_numYSamples)
            continue;
        const int64_t w = std::min<int64_t>(HeightField::TruncIndex(maxX - minX + 1.5f), m_numXSamples - x0);
        const int64_t h = std::min<int64_t>(HeightField::TruncIndex(maxY - minY + 1.5f), m_numYSamples - y0);
        AddDirtyRect(DirtyRect(static_cast<int32_t>(x0), static_cast<int32_t>(y0), static_cast<int32_t>(w),
                               static_cast<int32_t>(h)));
    }
}

void Terrain::ProcessDirtyRects()
{
    if (m_dirtyRects.GetNumRects() == 0 || m_heights.empty())
        return;
    for (int i = 0; i < m_dirtyRects.GetNumRects(); ++i)
        UpdateHeightMap(m_dirtyRects.GetRect(i));
    UpdateVertexBuffer(m_dirtyRects);

    std::vector<TerrainObject*> objects;
    GetObjectsInDirtySet(objects, m_dirtyRects, 5.0f);
    for (TerrainObject* object : objects)
        object->OnHeightsChanged();

    for (int i = 0; i < m_dirtyRects.GetNumRects(); ++i)
        MakeVisible(m_dirtyRects.GetRect(i));
    CutAwayCallback cutAway;
    std::vector<SimplePolygon> contours;
    GetPlacedTileContours(objects, contours);
    for (const SimplePolygon& contour : contours)
        Rasterize(contour, cutAway);

    for (TerrainObject* object : objects) {
        if (object->GetClassInfo().IsA(TerrainPlug::classInfo)) {
            m_dirtyRects.AddRect(GetRectForBox(object->GetBoundingBox()));
            RemoveObjectFromSpace(object);
            m_loadedObjects.erase(object);
            delete object;
        } else if (object->GetClassInfo().IsA(TerrainBlock::classInfo)) {
            TerrainBlock* block = static_cast<TerrainBlock*>(object);
            block->Unload();
            block->UpdateBoundingBox();
            UpdateObjectInSpace(block);
        }
    }
    BuildPlugs(m_dirtyRects);
    m_dirtyRects.Clear();
}

void Terrain::ProcessDirtyOpacityRects()
{
    if (m_opacityDirtyRects.GetNumRects() == 0)
        return;
    for (int i = 0; i < m_opacityDirtyRects.GetNumRects(); ++i)
        UpdateVisibilityMap(m_opacityDirtyRects.GetRect(i));
    std::vector<TerrainObject*> objects;
    GetObjectsInDirtySet(objects, m_opacityDirtyRects, 0.0f);
    for (TerrainObject* object : objects)
        object->OnLayersChanged();
    m_opacityDirtyRects.Clear();
}

void Terrain::UpdateVisibilityMap(const DirtyRect& rect)
{
    const size_t cells = NumCells();
    if (cells == 0 || m_layers.empty())
        return;
    const int cellsX = static_cast<int>(m_numXSamples - 1), cellsY = static_cast<int>(m_numYSamples - 1);
    const int x0 = std::max(rect.x, 0), y0 = std::max(rect.y, 0);
    const int x1 = static_cast<int>(std::min<int64_t>(static_cast<int64_t>(rect.x) + rect.width, cellsX));
    const int y1 = static_cast<int>(std::min<int64_t>(static_cast<int64_t>(rect.y) + rect.height, cellsY));
    if (x0 >= x1 || y0 >= y1)
        return;
    const size_t top = m_layers.size() - 1;
    for (size_t l = top + 1; l-- > 1;) {
        TerrainLayer& layer = m_layers[l];
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) {
                const size_t cell = CellIndex(x, y);
                if (l != top) {
                    const uint8_t above = m_layers[l + 1].states[cell];
                    if (above == STATE_OPAQUE || above == STATE_COVERED) {
                        layer.states[cell] = STATE_COVERED;
                        continue;
                    }
                }
                int lo = 255, hi = 0;
                for (int ny = std::max(y - 1, 0); ny <= std::min(y + 1, cellsY - 1); ++ny)
                    for (int nx = std::max(x - 1, 0); nx <= std::min(x + 1, cellsX - 1); ++nx) {
                        const int o = layer.opacity[CellIndex(nx, ny)];
                        lo = std::min(lo, o);
                        hi = std::max(hi, o);
                    }
                layer.states[cell] = lo >= 250 ? STATE_OPAQUE
                                     : hi < 6  ? STATE_TRANSPARENT
                                               : STATE_PARTLY_VISIBLE;
            }
    }
    TerrainLayer& first = m_layers[0];
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) {
            const size_t cell = CellIndex(x, y);
            if (m_layers.size() == 1) {
                first.states[cell] = STATE_OPAQUE;
            } else {
                const uint8_t above = m_layers[1].states[cell];
                first.states[cell] =
                    above == STATE_OPAQUE || above == STATE_COVERED ? STATE_COVERED : STATE_OPAQUE;
            }
        }
}

void Terrain::UpdateAllVisibility()
{
    if (m_numXSamples > 1 && m_numYSamples > 1)
        UpdateVisibilityMap(DirtyRect(0, 0, static_cast<int32_t>(m_numXSamples - 1),
                                      static_cast<int32_t>(m_numYSamples - 1)));
}

void Terrain::UpdateVertexBuffer(const DirtyRectSet& set)
{
    if (!m_groundVertices || m_heights.empty() || set.GetNumRects() == 0)
        return;
    float* out = static_cast<float*>(m_groundVertices->Lock());
    if (!out) {
        LogPrintf(1, "Couldn't lock terrain vertex buffer");
        return;
    }
    for (int i = 0; i < set.GetNumRects(); ++i) {
        const DirtyRect r = set.GetRect(i);
        // The samples beside the rectangle change their normals too.
        const int64_t x0 = std::max<int64_t>(int64_t(r.x) - 1, 0),
                      y0 = std::max<int64_t>(int64_t(r.y) - 1, 0);
        const int64_t x1 = std::min<int64_t>(int64_t(r.x) + r.width + 1, m_numXSamples);
        const int64_t y1 = std::min<int64_t>(int64_t(r.y) + r.height + 1, m_numYSamples);
        WriteGroundVertices(out, static_cast<unsigned>(x0), static_cast<unsigned>(y0),
                            static_cast<unsigned>(x1), static_cast<unsigned>(y1));
    }
    m_groundVertices->Unlock();
}

// ---- Layers -------------------------------------------------------------------------------------

TerrainType* Terrain::CreateTerrainType(const std::string& recordName) const
{
    if (recordName.empty())
        return nullptr;
    return ObjectManager::Get()->CreateObjectFromFileAs<TerrainType>(recordName, 0, true);
}

RenderTexture* Terrain::MakeLayerTexture(const TerrainLayer& layer) const
{
    RenderDevice* device = GetRenderDevice();
    if (!device || layer.opacity.empty())
        return nullptr;
    return device->CreateTexture(static_cast<int>(m_numXSamples - 1), static_cast<int>(m_numYSamples - 1),
                                 layer.opacity.data(), 1, RENDER_USAGE_STATIC);
}

void Terrain::AppendLayer(TerrainType* type, const std::string& recordName, const uint8_t* opacity)
{
    const size_t cells = NumCells();
    TerrainLayer layer;
    layer.type = type;
    layer.recordName = recordName;
    if (opacity)
        layer.opacity.assign(opacity, opacity + cells);
    else
        layer.opacity.assign(cells, m_layers.empty() ? 255 : 0);
    layer.states.assign(cells, STATE_COVERED);
    if (type)
        type->LoadTextures();
    layer.texture = MakeLayerTexture(layer);
    m_layers.push_back(std::move(layer));
}

void Terrain::ReleaseLayer(TerrainLayer& layer)
{
    if (layer.texture)
        if (RenderDevice* device = GetRenderDevice())
            device->DestroyTexture(&layer.texture);
    layer.texture = nullptr;
    if (layer.type)
        ObjectManager::Get()->DestroyObjectEx(layer.type, __FILE__, __LINE__);
    layer.type = nullptr;
    layer.opacity.clear();
    layer.states.clear();
}

bool Terrain::InternalAddLayer(const std::string& recordName, const uint8_t* opacity)
{
    if (m_layers.size() >= maxLayers || NumCells() == 0)
        return false;
    TerrainType* type = CreateTerrainType(recordName);
    if (!type)
        return false;
    AppendLayer(type, recordName, opacity);
    return true;
}

void Terrain::NotifyLayersChanged()
{
    std::vector<TerrainObject*> objects;
    GetAllObjects(objects);
    for (TerrainObject* object : objects)
        object->OnLayersChanged();
}

bool Terrain::AddLayer(const std::string& recordName)
{
    if (!InternalAddLayer(recordName, nullptr)) {
        LogPrintf(1, "Terrain: no layer of '%s' could be added", recordName.c_str());
        return false;
    }
    UpdateAllVisibility();
    if (m_layers.size() == 1)
        NotifyLayersChanged();
    return true;
}

void Terrain::DeleteLayer(unsigned index)
{
    if (index >= m_layers.size())
        return;
    ReleaseLayer(m_layers[index]);
    m_layers.erase(m_layers.begin() + index);
    if (index == 0 && !m_layers.empty()) {
        std::fill(m_layers[0].opacity.begin(), m_layers[0].opacity.end(), 255);
        UpdateLayerOpacity(0);
    }
    UpdateAllVisibility();
    NotifyLayersChanged();
}

void Terrain::MoveUpLayer(unsigned index)
{
    if (index == 0 || index >= m_layers.size())
        return;
    std::swap(m_layers[index], m_layers[index - 1]);
    UpdateAllVisibility();
    NotifyLayersChanged();
}

void Terrain::MoveDownLayer(unsigned index)
{
    if (index + 1 >= m_layers.size())
        return;
    std::swap(m_layers[index], m_layers[index + 1]);
    UpdateAllVisibility();
    NotifyLayersChanged();
}

void Terrain::SetLayerTerrainType(unsigned index, const std::string& recordName)
{
    if (index >= m_layers.size())
        return;
    TerrainType* type = CreateTerrainType(recordName);
    if (!type)
        return;
    TerrainLayer& layer = m_layers[index];
    if (layer.type)
        ObjectManager::Get()->DestroyObjectEx(layer.type, __FILE__, __LINE__);
    layer.type = type;
    layer.recordName = recordName;
    type->LoadTextures();
    NotifyLayersChanged();
}

const Terrain::TerrainLayer* Terrain::GetTerrainLayer(unsigned layer) const
{
    return layer < m_layers.size() ? &m_layers[layer] : nullptr;
}

std::string Terrain::GetLayerRecordName(unsigned index) const
{
    if (index >= m_layers.size())
        return std::string();
    const TerrainLayer& layer = m_layers[index];
    return layer.type ? layer.type->GetObjectName() : layer.recordName;
}

void Terrain::SetLayerOpacity(unsigned layer, int x, int y, uint8_t value)
{
    if (layer == 0 || layer >= m_layers.size() || x < 0 || y < 0 || NumCells() == 0 ||
        static_cast<unsigned>(x) >= m_numXSamples - 1 || static_cast<unsigned>(y) >= m_numYSamples - 1)
        return;
    m_layers[layer].opacity[CellIndex(x, y)] = value;
}

void Terrain::UpdateLayerOpacity(unsigned index)
{
    if (index >= m_layers.size() || !m_layers[index].texture)
        return;
    TerrainLayer& layer = m_layers[index];
    int pitch = 0;
    uint8_t* texels = static_cast<uint8_t*>(layer.texture->Lock(pitch));
    if (!texels)
        return;
    const unsigned width = m_numXSamples - 1;
    if (pitch < static_cast<int>(width))
        pitch = static_cast<int>(width);
    for (unsigned y = 0; y + 1 < m_numYSamples; ++y)
        std::memcpy(texels + static_cast<size_t>(y) * pitch, layer.opacity.data() + CellIndex(0, y), width);
    layer.texture->Unlock();
}

unsigned Terrain::GetLayerState(unsigned layer, unsigned x, unsigned y) const
{
    if (layer >= m_layers.size() || NumCells() == 0 || x >= m_numXSamples - 1 || y >= m_numYSamples - 1)
        return STATE_COVERED;
    return m_layers[layer].states[CellIndex(x, y)];
}

unsigned Terrain::GetLayerOpacity(unsigned layer, unsigned x, unsigned y) const
{
    if (layer >= m_layers.size() || NumCells() == 0)
        return 0;
    x = std::min(x, m_numXSamples - 2);
    y = std::min(y, m_numYSamples - 2);
    return m_layers[layer].opacity[CellIndex(x, y)];
}

void Terrain::GetLayersInBox(std::vector<unsigned>& layers, const ABBox& box) const
{
    layers.clear();
    int64_t x0, y0, x1, y1;
    if (m_layers.empty() || !GetCellsInBox(box, x0, y0, x1, y1))
        return;
    for (unsigned layer = 0; layer < m_layers.size(); ++layer) {
        const std::vector<uint8_t>& states = m_layers[layer].states;
        bool shows = false;
        for (int64_t y = y0; y <= y1 && !shows; ++y)
            for (int64_t x = x0; x <= x1 && !shows; ++x)
                shows = states[CellIndex(static_cast<unsigned>(x), static_cast<unsigned>(y))] >=
                        STATE_PARTLY_VISIBLE;
        if (shows)
            layers.push_back(layer);
    }
}

// ---- Rectangles and objects ---------------------------------------------------------------------

DirtyRect Terrain::GetRectForBox(const ABBox& box) const
{
    const Vec3& c = box.center;
    const Vec3& e = box.extents;
    int64_t x0 = HeightField::TruncIndex(c.x - e.x - 1.5f), y0 = HeightField::TruncIndex(c.z - e.z - 1.5f);
    int64_t w = HeightField::TruncIndex(c.x + e.x + 0.5f - static_cast<float>(x0) + 2.0f);
    int64_t h = HeightField::TruncIndex(c.z + e.z + 0.5f - static_cast<float>(y0) + 2.0f);
    x0 = std::max<int64_t>(x0, 0);
    y0 = std::max<int64_t>(y0, 0);
    if (x0 + w >= m_numXSamples)
        w = static_cast<int64_t>(m_numXSamples) - x0 - 1;
    if (y0 + h >= m_numYSamples)
        h = static_cast<int64_t>(m_numYSamples) - y0 - 1;
    return DirtyRect(static_cast<int32_t>(x0), static_cast<int32_t>(y0),
                     static_cast<int32_t>(std::max<int64_t>(w, 0)),
                     static_cast<int32_t>(std::max<int64_t>(h, 0)));
}

ABBox Terrain::GetBoxForRect(const DirtyRect& rect)
{
    const float w = static_cast<float>(rect.width), h = static_cast<float>(rect.height);
    return ABBox(Vec3(static_cast<float>(rect.x) + w * 0.5f, 0.0f, static_cast<float>(rect.y) + h * 0.5f),
                 Vec3(w * 0.5f, 5.0f, h * 0.5f));
}

void Terrain::GetObjectsInDirtySet(std::vector<TerrainObject*>& out, const DirtyRectSet& set,
                                   float margin) const
{
    const ABBox terrain = GetBoundingBox();
    std::vector<TerrainObject*> found;
    for (int i = 0; i < set.GetNumRects(); ++i) {
        const DirtyRect r = set.GetRect(i);
        const float w = static_cast<float>(r.width), h = static_cast<float>(r.height);
        found.clear();
        GetObjectsInBox(found, ABBox(Vec3(static_cast<float>(r.x) + w * 0.5f, terrain.center.y,
                                          static_cast<float>(r.y) + h * 0.5f),
                                     Vec3(w * 0.5f + margin, terrain.extents.y, h * 0.5f + margin)));
        out.insert(out.end(), found.begin(), found.end());
    }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
}

void Terrain::GetBlocksInDirtySet(const DirtyRectSet& set, std::vector<unsigned>& out) const
{
    if (m_numXBlocks == 0 || m_numYBlocks == 0)
        return;
    auto column = [](int64_t v) { return v < 1 ? int64_t(0) : (v - 1) / cellsPerBlock; };
    for (int i = 0; i < set.GetNumRects(); ++i) {
        const DirtyRect r = set.GetRect(i);
        const int64_t c0 = std::min<int64_t>(column(r.x), m_numXBlocks - 1);
        const int64_t c1 = std::min<int64_t>((int64_t(r.x) + r.width + 8) / cellsPerBlock, m_numXBlocks - 1);
        const int64_t r0 = std::min<int64_t>(column(r.y), m_numYBlocks - 1);
        const int64_t r1 = std::min<int64_t>((int64_t(r.y) + r.height + 8) / cellsPerBlock, m_numYBlocks - 1);
        for (int64_t row = r0; row <= r1; ++row)
            for (int64_t col = c0; col <= c1; ++col) {
                const unsigned index = static_cast<unsigned>(row * m_numXBlocks + col);
                if (std::find(out.begin(), out.end(), index) == out.end())
                    out.push_back(index);
            }
    }
}

bool Terrain::Overlap(const DirtyRectSet& set, const SimplePolygon& polygon)
{
    if (polygon.GetNumVertices() == 0)
        return false;
    float minX, minY, maxX, maxY;
    GetBounds(polygon, minX, minY, maxX, maxY);
    if (!std::isfinite(minX) || !std::isfinite(minY) || !std::isfinite(maxX) || !std::isfinite(maxY))
        return false;
    const int64_t x0 = HeightField::TruncIndex(std::floor(minX)),
                  y0 = HeightField::TruncIndex(std::floor(minY));
    const DirtyRect bounds(static_cast<int32_t>(x0), static_cast<int32_t>(y0),
                           static_cast<int32_t>(HeightField::TruncIndex(std::ceil(maxX)) - x0),
                           static_cast<int32_t>(HeightField::TruncIndex(std::ceil(maxY)) - y0));
    for (int i = 0; i < set.GetNumRects(); ++i)
        if (DirtyRect::Overlap(set.GetRect(i), bounds))
            return true;
    return false;
}

// ---- Cutting and plugs --------------------------------------------------------------------------

void Terrain::Rasterize(const SimplePolygon& polygon, TerrainRasterizeCallback& callback)
{
    const int n = polygon.GetNumVertices();
    if (n < 3 || m_numXSamples == 0 || m_numYSamples == 0)
        return;
    // Each vertex moves half a unit outward along its two edges' normals, so that every sample
    // whose cell the outline touches is reported. The outward side depends on the winding.
    const float outward = polygon.IsClockwise() ? 1.0f : -1.0f;
    std::vector<Vec2> moved(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        const PolygonVertex& prev = polygon.GetVertex((i + n - 1) % n);
        const PolygonVertex& cur = polygon.GetVertex(i);
        const PolygonVertex& next = polygon.GetVertex((i + 1) % n);
        const float nx = -(cur.y - prev.y) - (next.y - cur.y), ny = (cur.x - prev.x) + (next.x - cur.x);
        const float length = std::sqrt(nx * nx + ny * ny);
        if (!std::isfinite(cur.x) || !std::isfinite(cur.y))
            return;
        // Two edges that cancel out (a spike) leave their vertex where it is.
        if (length > 0.0f && std::isfinite(length))
            moved[static_cast<size_t>(i)] =
                Vec2(cur.x + outward * 0.5f * nx / length, cur.y + outward * 0.5f * ny / length);
        else
            moved[static_cast<size_t>(i)] = Vec2(cur.x, cur.y);
    }
    float lowY = gInfinity, highY = -gInfinity;
    for (const Vec2& p : moved) {
        lowY = std::min(lowY, p.y);
        highY = std::max(highY, p.y);
    }
    // Rows and columns outside the samples report nothing the terrain could use.
    const int64_t firstRow = std::max<int64_t>(HeightField::TruncIndex(std::floor(lowY)), 0);
    const int64_t lastRow = std::min<int64_t>(HeightField::TruncIndex(std::floor(highY)), m_numYSamples - 1);
    struct Span
    {
        float low;
        float high;
        float middle;
    };
    std::vector<Span> spans;
    for (int64_t y = firstRow; y <= lastRow; ++y) {
        const float bandLow = static_cast<float>(y), bandHigh = bandLow + 1.0f;
        spans.clear();
        for (int i = 0; i < n; ++i) {
            const Vec2 a = moved[static_cast<size_t>(i)], b = moved[static_cast<size_t>((i + 1) % n)];
            if (a.y == b.y)
                continue; // horizontal edges do not change the inside
            const float ylo = std::min(a.y, b.y), yhi = std::max(a.y, b.y);
            if (!(ylo < bandHigh && yhi > bandLow))
                continue;
            const float t0 = (std::max(ylo, bandLow) - a.y) / (b.y - a.y);
            const float t1 = (std::min(yhi, bandHigh) - a.y) / (b.y - a.y);
            const float x0 = a.x + (b.x - a.x) * t0, x1 = a.x + (b.x - a.x) * t1;
            spans.push_back(Span{std::min(x0, x1), std::max(x0, x1), (x0 + x1) * 0.5f});
        }
        std::sort(spans.begin(), spans.end(),
                  [](const Span& a, const Span& b) { return a.middle < b.middle; });
        for (size_t k = 0; k + 1 < spans.size(); k += 2) {
            const int64_t x0 = std::max<int64_t>(HeightField::TruncIndex(std::floor(spans[k].low)), 0);
            const int64_t x1 =
                std::min<int64_t>(HeightField::TruncIndex(std::floor(spans[k + 1].high)), m_numXSamples - 1);
            for (int64_t x = x0; x <= x1; ++x)
                callback.Rasterize(*this, static_cast<int>(x), static_cast<int>(y));
        }
    }
}

void Terrain::MakeInvisible(const SimplePolygon& polygon)
{
    CutAwayCallback cutAway;
    Rasterize(polygon, cutAway);
}

void Terrain::MakeVisible(const DirtyRect& rect)
{
    const int64_t x0 = std::max<int64_t>(rect.x, 0), y0 = std::max<int64_t>(rect.y, 0);
    const int64_t x1 = std::min<int64_t>(int64_t(rect.x) + rect.width, m_numXSamples);
    const int64_t y1 = std::min<int64_t>(int64_t(rect.y) + rect.height, m_numYSamples);
    for (int64_t y = y0; y < y1; ++y)
        for (int64_t x = x0; x < x1; ++x)
            m_cutAway[SampleIndex(static_cast<unsigned>(x), static_cast<unsigned>(y))] = 0;
}

void Terrain::BuildPlugs(const DirtyRectSet& set)
{
    if (m_heights.empty() || set.GetNumRects() == 0)
        return;
    // The triangulator keeps the ground on the left of its segments and carves away the right.
    // The border segments below run with the cut-away sample on their right, so each is handed
    // over reversed: what is filled is the cut-away ground.
    Triangulator triangulator;
    triangulator.SetSnapSpacing(plugSnapSpacing);
    auto vertexOf = [this](int x, int y) {
        return PlugVertex(static_cast<float>(x), static_cast<float>(y), GetHeight(x, y), GetFastNormal(x, y));
    };
    auto border = [&](int ax, int ay, int bx, int by) {
        triangulator.AddSegment(vertexOf(bx, by), vertexOf(ax, ay));
    };
    for (int r = 0; r < set.GetNumRects(); ++r) {
        const DirtyRect rect = set.GetRect(r);
        const int64_t x = std::max<int64_t>(rect.x, 0), y = std::max<int64_t>(rect.y, 0);
        const int64_t xEnd = std::min<int64_t>(int64_t(rect.x) + rect.width, m_numXSamples);
        const int64_t yEnd = std::min<int64_t>(int64_t(rect.y) + rect.height, m_numYSamples);
        for (int64_t j = y; j < yEnd; ++j)
            for (int64_t i = x - 1; i + 1 < xEnd; ++i) {
                const int ii = static_cast<int>(i), jj = static_cast<int>(j);
                const bool left = IsInvisible(ii, jj), right = IsInvisible(ii + 1, jj);
                if (left == right)
                    continue;
                if (right)
                    border(ii + 1, jj, ii + 1, jj + 1);
                else
                    border(ii + 1, jj + 1, ii + 1, jj);
            }
        for (int64_t j = y - 1; j + 1 < yEnd; ++j)
            for (int64_t i = x; i < xEnd; ++i) {
                const int ii = static_cast<int>(i), jj = static_cast<int>(j);
                const bool below = IsInvisible(ii, jj), above = IsInvisible(ii, jj + 1);
                if (below == above)
                    continue;
                if (above)
                    border(ii + 1, jj + 1, ii, jj + 1);
                else
                    border(ii, jj + 1, ii + 1, jj + 1);
            }
    }

    std::vector<TerrainObject*> objects;
    GetObjectsInDirtySet(objects, set, 0.0f);
    SimplePolygon contour;
    for (TerrainObject* object : objects) {
        if (object->GetClassInfo().IsA(TerrainTile::classInfo)) {
            const TerrainTile* tile = static_cast<const TerrainTile*>(object);
            if (!tile->GetIsPlaced())
                continue;
            for (unsigned c = 0; c < tile->GetNumContours(); ++c) {
                tile->GetContour(c, contour);
                const int n = contour.GetNumVertices();
                if (n < 2)
                    continue;
                // The tile's inside is carved away: its outline runs with the inside on the right.
                const bool clockwise = contour.IsClockwise();
                for (int i = 0; i < n; ++i) {
                    const PolygonVertex& a = contour.GetVertex(i);
                    const PolygonVertex& b = contour.GetVertex((i + 1) % n);
                    if (clockwise)
                        triangulator.AddSegment(a, b);
                    else
                        triangulator.AddSegment(b, a);
                }
            }
        } else if (object->GetClassInfo().IsA(TerrainPlug::classInfo)) {
            // A plug that stays keeps its ground: the border around it cancels out.
            for (const TerrainPlug::Edge& edge : static_cast<const TerrainPlug*>(object)->GetBoundaryEdges())
                triangulator.RemoveSegment(FromPlugVertex(edge.second), FromPlugVertex(edge.first));
        }
    }

    std::unique_ptr<int32_t[]> indices;
    int32_t count = 0;
    triangulator.Triangulate(indices, count);
    if (count <= 0)
        return;
    std::vector<PolygonVertex> points(static_cast<size_t>(triangulator.GetNumPoints()));
    for (int32_t i = 0; i < triangulator.GetNumPoints(); ++i)
        points[static_cast<size_t>(i)] = triangulator.GetVertex(i);
    float minX = gInfinity, minY = gInfinity;
    for (int32_t t = 0; t < 3 * count; ++t) {
        const PolygonVertex& p = points[static_cast<size_t>(indices[t])];
        minX = std::min(minX, p.x);
        minY = std::min(minY, p.y);
    }
    const float scale = 1.0f / plugSquareSize;
    const float cornerX = std::floor(minX * scale) * plugSquareSize,
                cornerY = std::floor(minY * scale) * plugSquareSize;
    // Squares in row order; only those that get a triangle exist.
    std::map<std::pair<int64_t, int64_t>, TerrainPlug*> squares;
    for (int32_t t = 0; t < count; ++t) {
        TerrainPlug::Triangle triangle;
        for (int k = 0; k < 3; ++k)
            triangle.vertices[k] = ToPlugVertex(points[static_cast<size_t>(indices[3 * t + k])]);
        const Vec3& first = triangle.vertices[0].position;
        const std::pair<int64_t, int64_t> key(HeightField::TruncIndex((first.y - cornerY) * scale),
                                              HeightField::TruncIndex((first.x - cornerX) * scale));
        TerrainPlug*& plug = squares[key];
        if (!plug) {
            plug = new TerrainPlug;
            plug->SetTerrain(this);
        }
        if (!plug->AddTriangle(triangle))
            LogPrintf(2, "Terrain: a plug triangle near (%f, %f) is dropped", first.x, first.y);
    }
    for (auto& [key, plug] : squares) {
        (void)key;
        plug->ComputeBoundaryEdges();
        plug->UpdateBoundingBox();
        plug->CreateRenderData();
        AddObjectToSpace(plug);
        plug->OnLayersChanged();
    }
}

// ---- Render data --------------------------------------------------------------------------------

void Terrain::PostDeviceReset()
{
    for (TerrainLayer& layer : m_layers)
        if (!layer.texture)
            layer.texture = MakeLayerTexture(layer);
    CreateMapGeometry();
    TerrainBase::PostDeviceReset();
}

// ---- Frame --------------------------------------------------------------------------------------

void Terrain::AddToScene(GraphicsSceneRenderer& renderer, const Frustum& frustum)
{
    if (AddObjectsToScene(renderer, frustum, m_plugRendering) && m_showTextureComplexity)
        m_renderInterface.DrawLayerCountLabels(Coords());
}

void Terrain::Update(const Frustum* frusta, unsigned count, int elapsed)
{
    ProcessDirtyRects();
    ProcessDirtyOpacityRects();
    TerrainBase::Update(frusta, count, elapsed);
}

void Terrain::PreLoad(const Frustum* frusta, unsigned count)
{
    std::vector<TerrainObject*> objects;
    GetObjectsInFrustum(objects, frusta, count);
    for (TerrainObject* object : objects)
        if (!object->IsPreLoaded(true))
            object->PreLoad(true);
}

// ---- Debug drawing ------------------------------------------------------------------------------

void Terrain::RenderBorder(GraphicsPrimitiveDrawer& drawer) const
{
    if (m_numXSamples < 2 || m_numYSamples < 2)
        return;
    drawer.SetColor(Color(1.0f, 1.0f, 1.0f, 1.0f));
    drawer.Begin(GraphicsPrimitiveDrawer::LINES);
    int pending = 0;
    auto line = [&](int ax, int ay, int bx, int by) {
        Vec3 a, b;
        GetTerrainVertex(a, ax, ay);
        GetTerrainVertex(b, bx, by);
        drawer.SetVertex(a);
        drawer.SetVertex(b);
        pending += 2;
        FlushWhenFull(drawer, GraphicsPrimitiveDrawer::LINES, pending);
    };
    const int lastX = static_cast<int>(m_numXSamples - 1), lastY = static_cast<int>(m_numYSamples - 1);
    for (int x = 0; x < lastX; ++x) {
        line(x, 0, x + 1, 0);
        line(x, lastY, x + 1, lastY);
    }
    for (int y = 0; y < lastY; ++y) {
        line(0, y, 0, y + 1);
        line(lastX, y, lastX, y + 1);
    }
    drawer.End();
}

void Terrain::RenderImpassableAreas(GraphicsPrimitiveDrawer& drawer, const Coords& placement) const
{
    if (m_impassableCells.empty())
        return;
    if (m_impassableShader)
        drawer.SetShader(m_impassableShader);
    auto corner = [&](int x, int y) {
        Vec3 v;
        GetTerrainVertex(v, x, y);
        return placement.TransformPoint(v);
    };
    // The impassable cells in a checker of red and black, filled and then outlined; each vertex
    // list names the corners (x, y), (x + 1, y), (x + 1, y + 1), (x, y + 1) as 0 to 3.
    auto drawCells = [&](int kind, std::initializer_list<int> order) {
        drawer.Begin(kind);
        int pending = 0;
        for (unsigned y = 0; y + 1 < m_numYSamples; ++y)
            for (unsigned x = 0; x + 1 < m_numXSamples; ++x) {
                if (!m_impassableCells[CellIndex(x, y)])
                    continue;
                const int ix = static_cast<int>(x), iy = static_cast<int>(y);
                drawer.SetColor((x & 1u) == (y & 1u) ? Color(1.0f, 0.0f, 0.0f, 0.25f)
                                                     : Color(0.0f, 0.0f, 0.0f, 0.25f));
                const Vec3 corners[4] = {corner(ix, iy), corner(ix + 1, iy), corner(ix + 1, iy + 1),
                                         corner(ix, iy + 1)};
                for (int k : order)
                    drawer.SetVertex(corners[k]);
                pending += static_cast<int>(order.size());
                FlushWhenFull(drawer, kind, pending);
            }
        drawer.End();
    };
    drawCells(GraphicsPrimitiveDrawer::TRIANGLES, {0, 3, 2, 0, 2, 1});
    drawCells(GraphicsPrimitiveDrawer::LINES, {0, 1, 1, 2, 2, 3, 3, 0});
    drawer.Flush();
}

} // namespace GAME
