// Reads any bytes as the body of a run-time terrain (a level's ground chunk of kind 2): no crash,
// no hang; a body that is refused leaves an empty terrain, and one that is accepted answers ray,
// height, layer and collision queries over its whole area.
#include "common/FuzzSeeds.h"
#include "common/QuietLog.h"
#include "common/TerrainLoad.h"
#include "core/Intersection.h"
#include "core/OBBox.h"
#include "core/Ray.h"
#include "datakit/TerrainWriter.h"
#include "navigation/CollisionContact.h"
#include "terrain/TerrainBlock.h"
#include "terrain/TerrainRT.h"

#include <cmath>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzLog::Silence();
    GAME::TerrainRT terrain(nullptr);
    if (!FuzzTerrain::Load(terrain, data, size))
        return 0;
    const unsigned x = terrain.GetNumXSamples(), y = terrain.GetNumYSamples();
    const float w = static_cast<float>(x - 1), d = static_cast<float>(y - 1);
    for (int i = 0; i < 8; ++i) {
        const float u = static_cast<float>(i) / 7.0f;
        GAME::Intersection hit;
        terrain.GetIntersection(
            GAME::Ray(GAME::Vec3(w * u, 50.0f, d * (1.0f - u)), GAME::Vec3(0.3f, -1.0f, 0.2f)), hit,
            GAME::physicsSurfaceAny);
        if (!(hit.distance >= 0.0f))
            std::abort();
        const float h = terrain.GetHeightInterpolated(w * u * 1.5f - 3.0f, d * u);
        if (!std::isfinite(h))
            std::abort();
        std::vector<unsigned> layers;
        terrain.GetLayersInBox(layers,
                               GAME::ABBox(GAME::Vec3(w * u, 0.0f, d * u), GAME::Vec3(3.0f, 1.0f, 3.0f)));
        for (size_t k = 1; k < layers.size(); ++k)
            if (layers[k] <= layers[k - 1] || layers[k] >= terrain.GetNumTextureLayers())
                std::abort();
        GAME::CollisionContact contacts[8];
        const GAME::OBBox box(GAME::Vec3(1.0f, 1.0f, 1.0f),
                              GAME::Coords::Translation(GAME::Vec3(w * u, h, d * u)));
        if (terrain.FindCollisions(box, contacts, 8, GAME::physicsSurfaceAny) > 8)
            std::abort();
        (void)terrain.GetLayerOpacityInterpolated(static_cast<unsigned>(i), w * u, d * u);
    }
    // A block's grass springs, without a device: grids only.
    if (GAME::TerrainBlock* block = terrain.GetBlock(0, 0)) {
        block->EnsureRenderData();
        terrain.DisplaceGrass(2.0f, 2.0f, 3.0f, 1.0f);
        block->Update(terrain, 16);
    }
    return 0;
}

void EngineFuzzSeeds(FuzzSeedSink& sink)
{
    DataKit::TerrainWriter flat(2, 2);
    sink.Add("flat", flat.Build());
    DataKit::TerrainWriter rolling(17, 9);
    for (unsigned j = 0; j < 9; ++j)
        for (unsigned i = 0; i < 17; ++i)
            rolling.Height(i, j) =
                std::sin(static_cast<float>(i) * 0.4f) * 3.0f + static_cast<float>(j) * 0.2f;
    DataKit::TerrainWriter::Layer base, top;
    top.states.assign(16 * 8, DataKit::TerrainWriter::CELL_NONE);
    top.opacity.assign(16 * 8, 128);
    for (size_t c = 0; c < top.states.size(); c += 3)
        top.states[c] = DataKit::TerrainWriter::CELL_SHOWN;
    base.typeRecord = "records/terrain/dirt.dbr";
    rolling.layers = {base, top};
    rolling.cutAway.assign(17 * 9, false);
    rolling.cutAway[4 * 17 + 6] = true;
    sink.Add("layered", rolling.Build());
    DataKit::TerrainWriter::Plug plug;
    GAME::TerrainPlug::Triangle triangle;
    for (int k = 0; k < 3; ++k) {
        triangle.vertices[k].position =
            GAME::Vec3(static_cast<float>(k % 2), static_cast<float>(k / 2), 1.0f);
        triangle.vertices[k].normal = GAME::Vec3(0.0f, 1.0f, 0.0f);
    }
    plug.triangles = {triangle};
    plug.layers = {0, 1};
    rolling.plugs = {plug, plug};
    sink.Add("plugs", rolling.Build());
    rolling.layers.resize(9);
    sink.Add("nine-layers", rolling.Build());
}
