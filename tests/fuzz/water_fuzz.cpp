// Reads any bytes as a level's water block, framed as the level file frames it (the water chunk,
// then another chunk): no crash, no hang. The target reads the block a second way on its own (see
// Reading): whether it loads, how far into the chunk the water reads (exactly its records), which
// layers are usable and where they have water. A block that is refused leaves an empty water and no
// water type behind; one that loads answers its queries as that reading says (a ray meets the
// nearest layer that has water where the ray crosses its height, or a river; a box touches the
// surface straight above its bottom within its height, there), and saves a block that loads and
// saves again to the same bytes.
#include "common/FuzzSeeds.h"
#include "common/QuietLog.h"
#include "core/Intersection.h"
#include "core/OBBox.h"
#include "core/Ray.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"
#include "datakit/WaterWriter.h"
#include "graphics/RenderDevice.h"
#include "navigation/CollisionContact.h"
#include "terrain/Water.h"
#include "terrain/WaterElement.h"
#include "terrain/WaterLayer.h"
#include "terrain/WaterTypeManager.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

using namespace GAME;

// The software device the water makes its buffers on, for the whole run.
struct Device
{
    Device() : device(RenderDevice::Create("Software")) {}
    ~Device()
    {
        if (device)
            RenderDevice::Destroy(device);
        RenderDevice::UnloadLibraries();
    }
    RenderDevice* device;
};

constexpr uint32_t kWaterChunk = 9;
constexpr unsigned kSize = 64;

std::vector<uint8_t> Save(Water& water)
{
    BinaryWriter writer(256);
    water.Save(writer);
    return std::vector<uint8_t>(writer.GetBuffer(), writer.GetBuffer() + writer.GetSize());
}

bool Empty(const Water& water)
{
    return water.GetNumLayers() == 0 && water.GetNumPaths() == 0 && water.GetNumWaveSets() == 0 &&
           water.GetTree()->GetObjectCount() == 0;
}

// The water block read a second way, by the format alone: what loads, where the water's reading
// of it ends, each usable layer's height, area and blocks (the last record of an index wins), and
// the heights of the usable rivers (curves of two points or more whose type is known).
struct Reading
{
    struct Layer
    {
        float height = 0.0f;
        float extent[2] = {0.0f, 0.0f};
        std::map<uint32_t, std::array<uint8_t, 100>> blocks;
    };
    bool loads = false;
    size_t end = 0;
    std::vector<Layer> layers;
    std::vector<float> rivers;
};

class Bytes
{
public:
    Bytes(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    bool Take(void* out, size_t n)
    {
        if (!m_ok || n > m_size - m_at)
            return m_ok = false;
        std::memcpy(out, m_data + m_at, n);
        m_at += n;
        return true;
    }
    uint32_t Word()
    {
        uint32_t w = 0;
        Take(&w, 4);
        return w;
    }
    float Real()
    {
        float f = 0.0f;
        Take(&f, 4);
        return f;
    }
    std::string Text()
    {
        const uint32_t n = Word();
        if (!m_ok || n > 0x100000 || n > m_size - m_at) {
            m_ok = false;
            return std::string();
        }
        std::string text(reinterpret_cast<const char*>(m_data + m_at), n);
        m_at += n;
        return text;
    }
    void Skip(size_t n)
    {
        if (!m_ok || n > m_size - m_at)
            m_ok = false;
        else
            m_at += n;
    }
    // Fails (as the water's reader does) when count records of the size cannot fit.
    bool Fits(uint64_t count, uint64_t record)
    {
        if (m_ok && count > (m_size - m_at) / record)
            m_ok = false;
        return m_ok;
    }
    bool Ok() const { return m_ok; }
    size_t At() const { return m_at; }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_at = 0;
    bool m_ok = true;
};

bool Lower(const std::string& a, const std::string& b)
{
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) < std::tolower(static_cast<unsigned char>(y));
    });
}

// Control points: a count, then 64 bytes each, 7 values that must be numbers within a million.
bool ReadPoints(Bytes& in, uint32_t& count)
{
    count = in.Word();
    if (!in.Fits(count, 64))
        return false;
    bool usable = true;
    for (uint32_t i = 0; i < count && in.Ok(); ++i) {
        for (int k = 0; k < 7; ++k) {
            const float value = in.Real();
            usable = usable && std::fabs(value) <= 1.0e6f;
        }
        in.Skip(36);
    }
    return usable && in.Ok();
}

Reading Read(const uint8_t* data, size_t size, unsigned blocksX, unsigned blocksZ)
{
    Reading reading;
    Bytes in(data, size);
    if (in.Word() != 0xFEEDCBA9u || !in.Ok())
        return reading;
    const uint32_t version = in.Word();
    const uint32_t types = in.Word(), layers = in.Word(), paths = in.Word();
    const uint32_t waveSets = version >= 2 ? in.Word() : 0;
    if (!in.Ok() || layers > 128 || paths > 128 || waveSets > 256 || !in.Fits(types, 72))
        return reading;
    std::set<std::string, decltype(&Lower)> known(&Lower);
    for (uint32_t i = 0; i < types && in.Ok(); ++i) {
        in.Word();
        bool finite = true;
        for (int k = 0; k < 14; ++k)
            finite = std::isfinite(in.Real()) && finite;
        const std::string name = in.Text();
        in.Text();
        in.Text();
        if (finite && in.Ok())
            known.insert(name);
    }
    for (uint32_t i = 0; i < layers && in.Ok(); ++i) {
        Reading::Layer layer;
        const bool typed = known.count(in.Text()) != 0;
        layer.height = in.Real();
        layer.extent[0] = in.Real();
        layer.extent[1] = in.Real();
        const bool usable = typed && std::isfinite(layer.height) && std::isfinite(layer.extent[0]) &&
                            std::isfinite(layer.extent[1]);
        const uint32_t count = in.Word();
        if (!in.Fits(count, 104))
            break;
        for (uint32_t b = 0; b < count && in.Ok(); ++b) {
            const uint32_t index = in.Word();
            std::array<uint8_t, 100> coverage{};
            in.Take(coverage.data(), coverage.size());
            if (usable && in.Ok() && index < uint64_t(blocksX) * blocksZ)
                layer.blocks[index] = coverage;
        }
        if (usable)
            reading.layers.push_back(layer);
    }
    for (uint32_t i = 0; i < paths && in.Ok(); ++i) {
        const bool typed = known.count(in.Text()) != 0;
        const float height = in.Real();
        uint32_t count = 0;
        if (ReadPoints(in, count) && typed && std::isfinite(height) && count >= 2)
            reading.rivers.push_back(height);
    }
    for (uint32_t i = 0; i < waveSets && in.Ok(); ++i) {
        in.Skip(4 + 56);
        uint32_t count = 0;
        ReadPoints(in, count);
    }
    reading.loads = in.Ok();
    reading.end = in.At();
    return reading;
}

// Where a layer of the reading has water at a point across (x, z): 1 yes, 0 no, -1 too near the
// edge of a coverage cell, a block or the area to say (the water computes the point its own way).
int HasWater(const Reading::Layer& layer, unsigned blocksX, unsigned blocksZ, float x, float z, float edge)
{
    const float width = std::min(static_cast<float>(blocksX) * 9.0f, layer.extent[0]);
    const float depth = std::min(static_cast<float>(blocksZ) * 9.0f, layer.extent[1]);
    auto near = [edge](float a, float b) { return std::fabs(a - b) <= edge; };
    if (near(x, 0.0f) || near(x, width) || near(z, 0.0f) || near(z, depth))
        return -1;
    if (!(x > 0.0f && x < width && z > 0.0f && z < depth))
        return 0;
    // Coverage cells are a tenth of a block: find the cell, and whether the point is near its edge.
    const double cx = static_cast<double>(x) / 0.9, cz = static_cast<double>(z) / 0.9;
    if (std::fabs(cx - std::round(cx)) * 0.9 <= edge || std::fabs(cz - std::round(cz)) * 0.9 <= edge)
        return -1;
    const auto column = static_cast<uint32_t>(cx), row = static_cast<uint32_t>(cz);
    const auto block = layer.blocks.find((row / 10) * blocksX + column / 10);
    if (block == layer.blocks.end())
        return 0;
    return block->second[(row % 10) * 10 + column % 10] != 0 ? 1 : 0;
}

// The water's queries against the reading. Six slanted rays from above: a hit is at the height of
// a layer the ray crosses or of a river, never beyond the nearest layer with water where the ray
// crosses it, and there is one when there is such a layer. At 24 places (the middles of coverage
// cells the input's hash picks): a ray straight down meets the highest layer with water there
// below its start, a box standing on the place touches the lowest surface above its bottom within
// its height, at that surface, and the point below it finds that surface (rivers aside, which the
// reading does not place: with rivers, answers need only lie at some layer's or river's height).
void Ask(Water& water, const Reading& reading, uint32_t hash)
{
    const unsigned bx = water.GetNumBlocksX(), bz = water.GetNumBlocksZ();
    const bool rivers = !reading.rivers.empty();
    auto onSurface = [&](float y, float slack) {
        for (const Reading::Layer& layer : reading.layers)
            if (std::fabs(y - layer.height) <= slack)
                return true;
        for (float height : reading.rivers)
            if (std::fabs(y - height) <= slack)
                return true;
        return false;
    };
    auto same = [](float a, float b) { return std::fabs(a - b) <= 1e-6f * (2.0f + std::fabs(b)); };
    for (int i = 0; i < 6; ++i) {
        const float u = static_cast<float>(i) / 5.0f * static_cast<float>(kSize);
        const Ray ray(Vec3(u, 40.0f, kSize - u), Vec3(0.1f, -1.0f, 0.05f));
        // The distances at which the ray crosses a layer the reading says has water there, and
        // those of layers too near an edge to say.
        std::vector<float> wet, unsure;
        for (const Reading::Layer& layer : reading.layers) {
            const float t = 40.0f - layer.height;
            if (!(t >= 0.0f))
                continue;
            const Vec3 at = ray.GetPoint(t);
            const int wetness = HasWater(layer, bx, bz, at.x, at.z, 1e-3f * (1.0f + t));
            if (wetness == 1)
                wet.push_back(t);
            else if (wetness < 0)
                unsure.push_back(t);
        }
        const float nearest = wet.empty() ? gInfinity : *std::min_element(wet.begin(), wet.end());
        Intersection hit;
        const bool hitWater = water.GetIntersection(ray, hit, physicsSurfaceAny);
        if (!(hit.distance >= 0.0f) || hitWater != hit.IsHit() || (!hitWater && nearest < gInfinity))
            std::abort();
        if (hitWater) {
            const float slack = 1e-3f * (1.0f + hit.distance);
            auto at = [&](const std::vector<float>& distances) {
                return std::any_of(distances.begin(), distances.end(),
                                   [&](float t) { return std::fabs(t - hit.distance) <= slack; });
            };
            if (hit.surface != PHYSICS_SURFACE_WATER || !IsFiniteVec3(hit.point) ||
                !onSurface(hit.point.y, 1e-3f * (1.0f + std::fabs(hit.point.y))) ||
                hit.distance > nearest + slack || (!rivers && !at(wet) && !at(unsure)))
                std::abort();
        }
    }

    for (int i = 0; i < 24; ++i) {
        hash = hash * 1664525u + 1013904223u;
        const float x = 0.9f * static_cast<float>((hash >> 8) % 80u) + 0.45f;
        const float z = 0.9f * static_cast<float>((hash >> 20) % 80u) + 0.45f;
        // The highest surface at or below 40 and the lowest at or above -2 the reading has there.
        float top = -gInfinity, bottomSurface = gInfinity;
        bool sure = !rivers;
        for (const Reading::Layer& layer : reading.layers) {
            const int wetness = HasWater(layer, bx, bz, x, z, 1e-4f);
            sure = sure && wetness >= 0;
            if (wetness != 1)
                continue;
            if (layer.height <= 40.0f)
                top = std::max(top, layer.height);
            if (layer.height >= -2.0f)
                bottomSurface = std::min(bottomSurface, layer.height);
        }

        Intersection hit;
        const bool hitWater = water.GetIntersection(Ray(Vec3(x, 40.0f, z), Vec3(0.0f, -1.0f, 0.0f)), hit, physicsSurfaceAny);
        if (hitWater != hit.IsHit() || (sure && hitWater != (top > -gInfinity)) ||
            (hitWater && (hit.point.x != x || hit.point.z != z || !onSurface(hit.point.y, 1e-5f * (1.0f + std::fabs(hit.point.y))) ||
                          (sure && !same(hit.point.y, top)) || (!rivers && hit.point.y < top - 1e-5f * (1.0f + std::fabs(top))))))
            std::abort();

        const Vec3 bottom(x, -2.0f, z);
        const OBBox box(Vec3(1.0f, 3.0f, 1.0f), Coords::Translation(bottom + Vec3(0.0f, 3.0f, 0.0f)));
        CollisionContact contacts[2];
        const int touching = water.FindCollisions(box, contacts, 2, physicsSurfaceAny);
        Vec3 surface, velocity;
        const bool above = water.GetWaterPointInfo(bottom, surface, velocity);
        if (touching < 0 || !IsFiniteVec3(velocity))
            std::abort();
        if (sure && (touching != (bottomSurface - bottom.y < 6.0f ? 1 : 0) || above != (bottomSurface < gInfinity) ||
                     (above && (surface.x != x || surface.z != z || !same(surface.y, bottomSurface)))))
            std::abort();
        for (int c = 0; c < touching; ++c)
            if (contacts[c].surface != PHYSICS_SURFACE_WATER || contacts[c].position.x != x ||
                contacts[c].position.z != z || !onSurface(contacts[c].position.y, 1e-5f) ||
                std::fabs(contacts[c].depth - (contacts[c].position.y - bottom.y)) > 1e-3f ||
                !(contacts[c].depth < 6.0f) || (sure && !same(contacts[c].position.y, bottomSurface)))
                std::abort();
        if (i < 6)
            water.CreateRipple(Vec3(x, 0.0f, z), 1.0f, 1.0f, 1);
    }
    water.Update(16);
    water.Update(1000);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Device device;
    FuzzLog::Silence();
    if (!device.device || size > (1u << 20))
        return 0;

    // The level's framing: the water chunk, which the level hands to the water as a reader of its
    // own bytes.
    BinaryWriter framing(static_cast<unsigned>(size) + 32);
    framing.BeginBlock(kWaterChunk);
    framing.WriteBytes(data, static_cast<unsigned>(size));
    framing.EndBlock();
    BinaryReader level(framing.GetBuffer(), framing.GetSize());

    {
        Water water(nullptr);
        water.Initialize(kSize, kSize, nullptr, nullptr, device.device);
        uint32_t id = 0;
        BinaryReader chunk;
        if (!level.ReadBlock(id, chunk) || id != kWaterChunk)
            std::abort();
        const bool loaded = water.Load(chunk);
        const Reading reading = Read(data, size, water.GetNumBlocksX(), water.GetNumBlocksZ());
        // The water reads its records, no more and no fewer, and loads exactly what the reading
        // says is whole.
        if (loaded != reading.loads || (loaded && chunk.GetPosition() != reading.end))
            std::abort();
        if (!loaded) {
            if (!Empty(water) || WaterTypeManager::Get()->GetNumWaterTypes() != 0)
                std::abort();
            return 0;
        }
        FuzzAccepted();
        uint32_t hash = 2166136261u;
        for (size_t i = 0; i < size; ++i)
            hash = (hash ^ data[i]) * 16777619u;
        Ask(water, reading, hash);
        const std::vector<uint8_t> saved = Save(water);
        Water again(nullptr);
        again.Initialize(kSize, kSize, nullptr, nullptr, device.device);
        BinaryReader reader(saved.data(), static_cast<unsigned>(saved.size()));
        if (!again.Load(reader) || !reader.AtEnd() || Save(again) != saved)
            std::abort();
        water.Mirror(Vec3(32.0f, 0.0f, 32.0f), true, true, true);
    }
    // The pieces held the types; with the waters gone, none is left.
    if (WaterTypeManager::Get()->GetNumWaterTypes() != 0)
        std::abort();
    return 0;
}

void EngineFuzzSeeds(FuzzSeedSink& sink)
{
    using DataKit::WaterWriter;
    WaterWriter w;
    WaterWriter::Type lake = WaterWriter::LakeType(), river = WaterWriter::RiverType();
    WaterWriter::Layer pond;
    pond.type = lake.name;
    pond.height = 1.0f;
    pond.extent[0] = pond.extent[1] = 64.0f;
    pond.blocks = WaterWriter::PaintBlocks(
        8, 8, [](float x, float z) { return (x - 20) * (x - 20) + (z - 30) * (z - 30) < 60; });
    WaterWriter::Path stream;
    stream.type = river.name;
    stream.height = 0.5f;
    stream.points = WaterWriter::SmoothCurve({{2.0f, 50.0f}, {20.0f, 54.0f}, {40.0f, 48.0f}}, 2.0f);
    WaterWriter::WaveSet shore;
    shore.height = 1.0f;
    shore.points = WaterWriter::SmoothCurve({{12.0f, 24.0f}, {28.0f, 24.0f}}, 2.0f);
    w.types = {lake, river};
    w.layers = {pond};
    w.paths = {stream};
    w.waveSets = {shore};
    sink.Add("lake-river-shore", w.Build());
    w.version = 1;
    sink.Add("version-1", w.Build());
    w.version = 2;
    w.layers[0].blocks.push_back(WaterWriter::Block{1000, {}});
    w.paths[0].type = "Nowhere";
    sink.Add("bad-pieces", w.Build());
    WaterWriter empty;
    sink.Add("empty", empty.Build());
}
