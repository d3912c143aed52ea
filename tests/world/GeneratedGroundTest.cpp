// The generated world's ground as its loaded levels carry it (the recording device): no grass
// grows where the lakes and rivers cover the ground, and the world's edge is closed, so that no
// view of the scripted flight looks past it.
#include "EngineFixture.h"

#include "datakit/WorldGenerator.h"
#include "graphics/RenderVertexBuffer.h"
#include "graphics/Viewport.h"
#include "terrain/TerrainBase.h"
#include "terrain/TerrainBlock.h"
#include "terrain/Water.h"
#include "world/Level.h"
#include "world/Region.h"
#include "world/World.h"
#include "world/WorldCamera.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace GAME {
namespace {

using DataKit::WorldGenerator;

class GeneratedGroundTest : public GAME::Test::EngineTest
{
protected:
    void SetUp() override
    {
        GAME::Test::EngineTest::SetUp();
        WorldGenerator::AddRecords(data.Database());
    }
};

std::string At(const char* what, float x, float y, float z)
{
    char text[96];
    std::snprintf(text, sizeof(text), "%s at %.1f, %.1f, %.1f", what, x, y, z);
    return text;
}

TEST_F(GeneratedGroundTest, NoGrassBladeStandsWhereWaterCoversTheGround)
{
    WorldGenerator generator(SampleGround());
    World* world = StartGenerated(generator);
    ASSERT_NE(world, nullptr);
    int blades = 0, wet = 0;
    std::string first;
    for (int i = 0; i < world->GetNumRegions(); ++i) {
        if (generator.GetRegions()[i].cave)
            continue;
        Level* level = LoadLevelNow(world->GetRegion(i));
        ASSERT_NE(level, nullptr);
        TerrainBase* terrain = level->GetTerrain();
        const Water* water = level->GetWater();
        ASSERT_TRUE(terrain && water);
        for (unsigned bj = 0; bj < terrain->NumYBlocks(); ++bj)
            for (unsigned bi = 0; bi < terrain->NumXBlocks(); ++bi) {
                TerrainBlock* block = terrain->GetBlock(bi, bj);
                block->EnsureRenderData();
                for (unsigned layer = 0; layer < 3; ++layer) {
                    const TerrainBlock::GrassRecord* grass = block->GetGrassRecord(layer);
                    if (!grass || !grass->geometry.bladeBuffer || grass->numBlades == 0)
                        continue;
                    // Each blade is four vertices of eight floats; the last two stand on the ground.
                    std::vector<float> v(static_cast<size_t>(grass->numBlades) * 32);
                    const void* data = grass->geometry.bladeBuffer->Lock();
                    ASSERT_NE(data, nullptr);
                    std::memcpy(v.data(), data, v.size() * sizeof(float));
                    grass->geometry.bladeBuffer->Unlock();
                    for (unsigned b = 0; b < grass->numBlades; ++b) {
                        const float* blade = &v[static_cast<size_t>(b) * 32];
                        const float x = 0.5f * (blade[16] + blade[24]), z = 0.5f * (blade[18] + blade[26]);
                        const float ground = terrain->GetHeightInterpolated(x, z);
                        Vec3 surface, flow;
                        ++blades;
                        if (water->GetWaterPointInfo(Vec3(x, ground - 0.01f, z), surface, flow) &&
                            surface.y > ground && wet++ == 0)
                            first = generator.GetRegions()[i].name + At(": a blade", x, ground, z) +
                                    ", the water's surface at " + std::to_string(surface.y);
                    }
                }
            }
    }
    EXPECT_GT(blades, 36 * 1000);
    EXPECT_EQ(wet, 0) << wet << " of " << blades << " blades stand in the water, first " << first;
}

// The sample host's flight camera (Host/FlightCamera.cpp): it trails its target at 30 units and 40
// degrees up, sees 60 degrees up and down to 90 units, and glides half the way to its place each
// frame.
class FlightCamera : public WorldCamera
{
public:
    FlightCamera()
    {
        SetCameraDistance(30.0f);
        SetCameraFOV(60.0f * 0.017453292f);
        SetCameraFarPlane(90.0f);
        SetCameraNearPlane(0.5f);
    }
    void Follow(const WorldVec3& target, const Vec3& direction, bool glide)
    {
        m_target = target;
        if (direction.x != 0.0f || direction.z != 0.0f)
            SetCameraYaw(std::atan2(-direction.x, -direction.z));
        SetAcceleration(glide ? 0.5f : 0.0f);
        Update();
    }
    void GetTargetPosition(WorldVec3& out) override { out = m_target; }

protected:
    void HandleInput() override {}

private:
    WorldVec3 m_target;
};

// Every outdoor view of the flight, at the pace of a fixed-count run and of real-time runs fast and
// slow: each ray through the picture that points down meets the world's ground before it leaves
// the world (or before the fog, which the sky's colour fills at its end, hides everything), and the
// camera is inside the world over its ground. An open edge shows the ground cut off over the sky's
// colour wherever a ray passes it.
TEST_F(GeneratedGroundTest, EveryViewOfTheFlightSeesTheWorldsGroundBelowItsHorizon)
{
    WorldGenerator generator(SampleGround());
    World* world = StartGenerated(generator);
    ASSERT_NE(world, nullptr);
    const WorldGenerator::Settings& s = generator.GetSettings();
    std::vector<Level*> fields;
    for (int i = 0; i < s.regionsX * s.regionsZ; ++i) {
        fields.push_back(LoadLevelNow(world->GetRegion(i)));
        ASSERT_NE(fields.back(), nullptr);
    }
    const float size = static_cast<float>(s.regionSize);
    const float width = size * static_cast<float>(s.regionsX), depth = size * static_cast<float>(s.regionsZ);
    const auto inside = [&](float x, float z) { return x >= 0.0f && z >= 0.0f && x <= width && z <= depth; };
    const auto ground = [&](float x, float z) {
        const int column = std::min(static_cast<int>(x / size), s.regionsX - 1);
        const int row = std::min(static_cast<int>(z / size), s.regionsZ - 1);
        return fields[static_cast<size_t>(row * s.regionsX + column)]->GetGroundHeight(
            x - static_cast<float>(column) * size, z - static_cast<float>(row) * size);
    };
    const float fogEnd = s.atmosphere.depthFogEnd;
    const Viewport viewport(0, 0, 1024, 768);
    const float duration = generator.GetFlightDuration();
    ASSERT_GT(duration, 5.0f);

    for (const float step : {duration / 300.0f, 1.0f / 8.0f, 1.0f / 20.0f, 1.0f / 60.0f}) {
        SCOPED_TRACE("frames of " + std::to_string(step) + " s");
        FlightCamera camera;
        int views = 0, outside = 0, past = 0;
        std::string firstOutside, firstPast;
        bool placed = false;
        for (float t = 0.0f; t <= duration; t += step) {
            const WorldGenerator::View view = generator.GetFlightView(t);
            Region* region = world->GetRegion(view.region);
            camera.Follow(WorldVec3(region, view.position), view.direction, placed);
            placed = true;
            if (generator.GetRegions()[static_cast<size_t>(view.region)].cave)
                continue;
            ++views;
            const IntVec3& o = region->GetOffsetFromWorld();
            const Vec3 offset(static_cast<float>(o.x), static_cast<float>(o.y), static_cast<float>(o.z));
            const Vec3 eye = camera.GetRegionCamera().GetCoords().origin + offset;
            if (!inside(eye.x, eye.z) || eye.y < ground(eye.x, eye.z) + 1.0f) {
                if (outside++ == 0)
                    firstOutside = At("the camera", eye.x, eye.y, eye.z) + " at " + std::to_string(t) + " s";
                continue;
            }
            bool seen = false;
            for (int py = 0; py <= 768 && !seen; py += 96)
                for (int px = 0; px <= 1024 && !seen; px += 128) {
                    const WorldRay ray = camera.GetRayThroughImagePoint(
                        Vec2(static_cast<float>(px), static_cast<float>(py)), viewport);
                    const Vec3 d = ray.direction.Unit();
                    if (!(d.y < 0.0f))
                        continue;
                    for (float along = 1.0f; along < fogEnd; along += 1.0f) {
                        const Vec3 p = eye + d * along;
                        if (!inside(p.x, p.z)) {
                            seen = true;
                            if (past++ == 0)
                                firstPast = At("a ray leaves the world", p.x, p.y, p.z) + " at " +
                                            std::to_string(t) + " s, " + At("seen from", eye.x, eye.y, eye.z);
                            break;
                        }
                        if (p.y < ground(p.x, p.z))
                            break;
                    }
                }
        }
        EXPECT_GT(views, 100);
        EXPECT_EQ(outside, 0) << "views from outside the world or under its ground, first: " << firstOutside;
        EXPECT_EQ(past, 0) << "views past the world's edge, first: " << firstPast;
    }
}

} // namespace
} // namespace GAME
