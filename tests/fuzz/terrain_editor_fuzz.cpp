// Reads any bytes as the body of an editable terrain (a level's ground chunk of kind 0): no crash,
// no hang; a refused body leaves an empty terrain, and an accepted one answers queries over its
// whole area, saves and loads again to the same bytes, writes a run-time form that the run-time
// terrain accepts, and can be cut and closed with plugs.
#include "common/FuzzSeeds.h"
#include "common/QuietLog.h"
#include "common/TerrainLoad.h"
#include "core/Intersection.h"
#include "core/Ray.h"
#include "core/SimplePolygon.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"
#include "terrain/Terrain.h"
#include "terrain/TerrainRT.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

std::vector<uint8_t> Saved(const GAME::Terrain& terrain)
{
    GAME::BinaryWriter writer(0x1000);
    terrain.Save(writer);
    return std::vector<uint8_t>(writer.GetBuffer(), writer.GetBuffer() + writer.GetSize());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzLog::Silence();
    GAME::Terrain terrain(nullptr);
    if (!FuzzTerrain::Load(terrain, data, size))
        return 0;
    const unsigned x = terrain.GetNumXSamples(), y = terrain.GetNumYSamples();

    // Saved and loaded again, the body is the same.
    const std::vector<uint8_t> first = Saved(terrain);
    GAME::Terrain copy(nullptr);
    GAME::BinaryReader again(first.data(), static_cast<unsigned>(first.size()));
    if (!copy.Load(again, 13) || Saved(copy) != first)
        std::abort();

    const float w = static_cast<float>(x - 1), d = static_cast<float>(y - 1);
    for (int i = 0; i < 4; ++i) {
        const float u = static_cast<float>(i) / 3.0f;
        GAME::Intersection hit;
        terrain.GetIntersection(
            GAME::Ray(GAME::Vec3(w * u, 50.0f, d * (1.0f - u)), GAME::Vec3(0.3f, -1.0f, 0.2f)), hit,
            GAME::physicsSurfaceAny);
        if (!(hit.distance >= 0.0f) || !std::isfinite(terrain.GetHeightInterpolated(w * u, d * u)))
            std::abort();
    }

    // A hole in the middle, closed; the run-time form of the result loads.
    GAME::SimplePolygon hole;
    const float cx = w * 0.5f, cz = d * 0.5f;
    for (const auto& [px, pz] : {std::pair{cx - 1.0f, cz - 1.0f},
                                 {cx + 1.0f, cz - 1.0f},
                                 {cx + 1.0f, cz + 1.0f},
                                 {cx - 1.0f, cz + 1.0f}}) {
        GAME::PolygonVertex v;
        v.x = px;
        v.y = pz;
        hole.AddVertex(v);
    }
    terrain.MakeInvisible(hole);
    GAME::DirtyRectSet set;
    set.AddRect(GAME::DirtyRect(0, 0, static_cast<int32_t>(x), static_cast<int32_t>(y)));
    terrain.BuildPlugs(set);
    GAME::BinaryWriter runTime(0x1000);
    if (!terrain.SaveRunTimeFormat(runTime))
        std::abort();
    GAME::TerrainRT loaded(nullptr);
    GAME::BinaryReader runTimeReader(runTime.GetBuffer(), runTime.GetSize());
    if (!loaded.Load(runTimeReader, 13) || loaded.GetNumTextureLayers() != terrain.GetNumTextureLayers())
        std::abort();
    return 0;
}

void EngineFuzzSeeds(FuzzSeedSink& sink)
{
    FuzzLog::Silence();
    GAME::Terrain flat(nullptr);
    if (flat.New(1, 1))
        sink.Add("flat", Saved(flat));

    GAME::Terrain rolling(nullptr);
    if (rolling.New(16, 8)) {
        for (int j = 0; j <= 8; ++j)
            for (int i = 0; i <= 16; ++i)
                rolling.SetBaseHeight(
                    i, j, std::sin(static_cast<float>(i) * 0.4f) * 3.0f + static_cast<float>(j) * 0.2f);
        rolling.AddNamedLayer("records/terrain/dirt.dbr", nullptr);
        rolling.AddNamedLayer("\\records/terrain/grass.dbr", nullptr);
        for (int c = 0; c < 16 * 8; c += 3)
            rolling.SetLayerOpacity(1, c % 16, c / 16, 200);
        rolling.SetPassable(3, 3, 2);
        sink.Add("layered", Saved(rolling));
        for (int k = 0; k < 7; ++k)
            rolling.AddNamedLayer("", nullptr);
        sink.Add("nine-layers", Saved(rolling));
    }
}
