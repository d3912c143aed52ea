// Reads any bytes as a level's water block, framed as the level file frames it (the water chunk,
// then another chunk): no crash, no hang; the reader of the level is in step after the water
// chunk whatever the water made of it; a block that is refused leaves an empty water and no water
// type behind; one that loads answers its queries (hits on the ray and over its elements, a box's
// contact where the surface above its bottom is), and saves a block that loads and saves again to
// the same bytes.
#include "common/FuzzSeeds.h"
#include "core/Intersection.h"
#include "core/Log.h"
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

#include <cmath>
#include <cstdlib>
#include <vector>

namespace {

using namespace GAME;

class QuietSink : public LogSink
{
public:
    void Write(int, unsigned int, const char*) override {}
};

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
constexpr uint32_t kNextChunk = 23;
constexpr uint32_t kMark = 0xC0FFEE11;
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

// True when some element of the water's tree covers the point across (x and z). A river answers
// rays around its centre curve (the nearest centre point found to a twentieth of a segment), not
// on the strip it draws and files, so only water without rivers is held to this.
bool Covered(const Water& water, const Vec3& point)
{
    if (water.GetNumPaths() != 0)
        return true;
    std::vector<WaterElement*> elements;
    Space<WaterElement>::GetAllObjects(water.GetTree()->GetRoot(), elements);
    for (const WaterElement* element : elements) {
        const ABBox& box = element->GetSpaceBox();
        const float slack = 1e-3f * (1.0f + std::fabs(point.x) + std::fabs(point.z));
        if (std::fabs(point.x - box.center.x) <= box.extents.x + slack &&
            std::fabs(point.z - box.center.z) <= box.extents.z + slack)
            return true;
    }
    return false;
}

// Rays from above, boxes standing on the ground and points below it, asked at six places: a ray's
// hit lies on the ray and over the water's elements (see Covered); a box touches the water exactly
// where the surface straight above its bottom lies within its height, at that point.
void Ask(Water& water)
{
    for (int i = 0; i < 6; ++i) {
        const float u = static_cast<float>(i) / 5.0f * static_cast<float>(kSize);
        const Ray ray(Vec3(u, 40.0f, kSize - u), Vec3(0.1f, -1.0f, 0.05f));
        Intersection hit;
        const bool hitWater = water.GetIntersection(ray, hit, physicsSurfaceAny);
        if (!(hit.distance >= 0.0f) || hitWater != hit.IsHit())
            std::abort();
        if (hitWater && (hit.surface != PHYSICS_SURFACE_WATER || !IsFiniteVec3(hit.point) ||
                         (hit.point - ray.GetPoint(hit.distance)).Length() > 1e-3f * (1.0f + hit.distance) ||
                         !Covered(water, hit.point)))
            std::abort();

        const Vec3 bottom(u, -2.0f, u);
        const OBBox box(Vec3(1.0f, 3.0f, 1.0f), Coords::Translation(bottom + Vec3(0.0f, 3.0f, 0.0f)));
        CollisionContact contacts[2];
        const int touching = water.FindCollisions(box, contacts, 2, physicsSurfaceAny);
        Vec3 surface, velocity;
        const bool above = water.GetWaterPointInfo(bottom, surface, velocity);
        if (touching < 0 || touching > 1 || !IsFiniteVec3(velocity))
            std::abort();
        const bool within = above && surface.y - bottom.y < 6.0f;
        if ((touching == 1) != within)
            std::abort();
        if (touching == 1 && ((contacts[0].position - surface).Length() > 1e-3f ||
                              std::fabs(contacts[0].depth - (surface.y - bottom.y)) > 1e-3f ||
                              contacts[0].surface != PHYSICS_SURFACE_WATER || !Covered(water, surface)))
            std::abort();
        water.CreateRipple(Vec3(u, 0.0f, u), 1.0f, 1.0f, 1);
    }
    water.Update(16);
    water.Update(1000);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static QuietSink quiet;
    static Device device;
    SetProcessLogSink(&quiet);
    if (!device.device || size > (1u << 20))
        return 0;

    // The level's framing: the water chunk and a chunk after it.
    BinaryWriter framing(static_cast<unsigned>(size) + 32);
    framing.BeginBlock(kWaterChunk);
    framing.WriteBytes(data, static_cast<unsigned>(size));
    framing.EndBlock();
    framing.BeginBlock(kNextChunk);
    framing.WriteUInt32(kMark);
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
        BinaryReader next;
        if (!level.ReadBlock(id, next) || id != kNextChunk || next.ReadUInt32() != kMark || !level.AtEnd())
            std::abort();
        if (!loaded) {
            if (!Empty(water) || WaterTypeManager::Get()->GetNumWaterTypes() != 0)
                std::abort();
            return 0;
        }
        Ask(water);
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
