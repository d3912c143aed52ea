// Reads any bytes as a level's water block, framed as the level file frames it (the water chunk,
// then another chunk): no crash, no hang; the reader of the level is in step after the water
// chunk whatever the water made of it; a block that is refused leaves an empty water and no water
// type behind; one that loads answers its queries, and saves a block that loads and saves again to
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
#include "terrain/WaterLayer.h"
#include "terrain/WaterTypeManager.h"

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

void Ask(Water& water)
{
    for (int i = 0; i < 6; ++i) {
        const float u = static_cast<float>(i) / 5.0f * static_cast<float>(kSize);
        Intersection hit;
        water.GetIntersection(Ray(Vec3(u, 40.0f, kSize - u), Vec3(0.1f, -1.0f, 0.05f)), hit,
                              physicsSurfaceAny);
        if (!(hit.distance >= 0.0f))
            std::abort();
        CollisionContact contacts[2];
        const OBBox box(Vec3(1.0f, 3.0f, 1.0f), Coords::Translation(Vec3(u, 1.0f, u)));
        if (water.FindCollisions(box, contacts, 2, physicsSurfaceAny) > 1)
            std::abort();
        Vec3 surface, velocity;
        water.GetWaterPointInfo(Vec3(u, -5.0f, u), surface, velocity);
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
