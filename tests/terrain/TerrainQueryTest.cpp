// What the engine asks of the ground: ray hits against every cell's faces, surfaces, collisions,
// layers under a box, tiles set into the terrain, render data unloaded after idle frames, and
// disturbances and wind reaching the grass through the world.
#include "TerrainFixtures.h"

#include "core/Intersection.h"
#include "core/OBBox.h"
#include "core/Ray.h"
#include "navigation/CollisionContact.h"
#include "navigation/PhysicsGrassWind.h"
#include "terrain/TerrainBlock.h"
#include "terrain/TerrainPlug.h"
#include "terrain/TerrainTile.h"
#include "world/Level.h"
#include "world/Region.h"
#include "world/World.h"

#include <cfloat>
#include <cstddef>
#include <cstring>
#include <random>

namespace GAME {
namespace {

using DataKit::TerrainWriter;
using namespace TerrainTest;

// The nearest hit of every visible cell's two faces, as the exact face test finds it.
float BruteForceHit(const TerrainRT& terrain, const Ray& ray)
{
    float best = gInfinity;
    for (unsigned y = 0; y + 1 < terrain.GetNumYSamples(); ++y)
        for (unsigned x = 0; x + 1 < terrain.GetNumXSamples(); ++x) {
            if (!terrain.IsVisible(x, y))
                continue;
            auto at = [&](unsigned i, unsigned j) {
                return Vec3(static_cast<float>(i),
                            terrain.GetHeight(static_cast<int>(i), static_cast<int>(j)),
                            static_cast<float>(j));
            };
            const TerrainBase::IntersectionFace a(at(x, y), at(x, y + 1), at(x + 1, y + 1));
            const TerrainBase::IntersectionFace b(at(x + 1, y + 1), at(x + 1, y), at(x, y));
            best = std::min(
                {best, TerrainBase::GetFaceIntersection(a, ray), TerrainBase::GetFaceIntersection(b, ray)});
        }
    return best;
}

TEST(TerrainRayTest, RaysFindTheNearestFaceAndMissAtInfinity)
{
    TerrainWriter writer = RollingTerrain(33, 33, 4);
    writer.cutAway.assign(33 * 33, false);
    for (unsigned y = 10; y < 14; ++y)
        for (unsigned x = 20; x < 23; ++x)
            writer.cutAway[y * 33 + x] = true;
    TerrainRT terrain(nullptr);
    ASSERT_TRUE(LoadWriter(terrain, writer));

    std::mt19937 random(7);
    std::uniform_real_distribution<float> along(-4.0f, 36.0f), up(3.0f, 12.0f), turn(-1.0f, 1.0f);
    int hits = 0;
    for (int i = 0; i < 400; ++i) {
        Vec3 direction = i % 3 == 0 ? Vec3(0.0f, -1.0f, 0.0f)
                                    : Vec3(turn(random), -0.2f - std::fabs(turn(random)), turn(random));
        direction = direction.Unit();
        const Ray ray(Vec3(along(random), up(random), along(random)), direction);
        Intersection hit;
        terrain.GetIntersection(ray, hit, physicsSurfaceAny);
        const float expected = BruteForceHit(terrain, ray);
        if (expected == gInfinity) {
            EXPECT_EQ(hit.distance, gInfinity) << i;
            EXPECT_EQ(hit.surface, TerrainBase::noSurface);
        } else {
            ++hits;
            EXPECT_NEAR(hit.distance, expected, 1e-3f * (1.0f + expected)) << i;
            EXPECT_NEAR((hit.point - ray.GetPoint(hit.distance)).Length(), 0.0f, 1e-4f);
        }
    }
    EXPECT_GT(hits, 200);

    // Misses are +infinity, never the largest float: up, off the side, and into the hole.
    for (const Ray& ray : {Ray(Vec3(5, 10, 5), Vec3(0, 1, 0)), Ray(Vec3(-5, 1, 5), Vec3(-1, 0, 0)),
                           Ray(Vec3(21.5f, 20, 11.5f), Vec3(0, -1, 0))}) {
        Intersection hit;
        hit.distance = 5.0f;
        terrain.GetIntersection(ray, hit, physicsSurfaceAny);
        EXPECT_EQ(hit.distance, gInfinity);
        EXPECT_FALSE(hit.IsHit());
    }
    // A ray parallel to a face's plane never hits it.
    const TerrainBase::IntersectionFace flat(Vec3(0, 1, 0), Vec3(0, 1, 1), Vec3(1, 1, 1));
    EXPECT_EQ(TerrainBase::GetFaceIntersection(flat, Ray(Vec3(0.2f, 1.0f, 0.5f), Vec3(1, 0, 0))), gInfinity);
    // Edges belong to the face.
    EXPECT_TRUE(TerrainBase::IsPointInFace(flat, Vec3(0.5f, 1.0f, 0.5f)));
    EXPECT_FALSE(TerrainBase::IsPointInFace(flat, Vec3(0.6f, 1.0f, 0.5f)));
}

TEST(TerrainRayTest, APlugWhoseBoxTheRayEntersButWhoseTrianglesItMissesIsNoHit)
{
    TerrainWriter writer(9, 9);
    // A plug hanging over cell (4, 4) at height 3.
    writer.plugs.push_back(CellPlug(writer, 4, 4, 3.0f));
    TerrainRT terrain(nullptr);
    ASSERT_TRUE(LoadWriter(terrain, writer));
    // Level with the plug's plane, through its box, off the terrain: nothing to hit.
    Intersection hit;
    terrain.GetIntersection(Ray(Vec3(0.0f, 3.0f, -2.0f), Vec3(0.3f, 0.0f, 1.0f).Unit()), hit,
                            physicsSurfaceAny);
    EXPECT_EQ(hit.distance, gInfinity);
    // Down through the plug's box beside its triangles: the ground below.
    terrain.GetIntersection(Ray(Vec3(3.5f, 10.0f, 4.5f), Vec3(0, -1, 0)), hit, physicsSurfaceAny);
    EXPECT_FLOAT_EQ(hit.distance, 10.0f);
    // Onto the plug: its height, nearer than the ground.
    terrain.GetIntersection(Ray(Vec3(4.25f, 10.0f, 4.5f), Vec3(0, -1, 0)), hit, physicsSurfaceAny);
    EXPECT_FLOAT_EQ(hit.distance, 7.0f);
    // The plug alone, asked directly: a miss is +infinity.
    std::vector<TerrainObject*> objects;
    terrain.GetAllObjects(objects);
    for (TerrainObject* object : objects)
        if (object->GetClassInfo().IsA(TerrainPlug::classInfo)) {
            Intersection direct;
            object->GetIntersection(Ray(Vec3(4.5f, 10.0f, 6.5f), Vec3(0, -1, 0)), direct, physicsSurfaceAny);
            EXPECT_EQ(direct.distance, gInfinity);
        }
}

TEST(TerrainRayTest, TheSurfaceIsTheLayerThatShowsMostAtTheHit)
{
    TypeRecords records;
    TerrainWriter writer(9, 9);
    TerrainWriter::Layer dirt, stone;
    dirt.typeRecord = dirtRecord;
    stone.typeRecord = stoneRecord;
    stone.states.assign(64, TerrainWriter::CELL_SHOWN);
    stone.opacity.assign(64, 40);
    stone.opacity[5 * 8 + 5] = 200;
    writer.layers = {dirt, stone};
    TerrainRT terrain(nullptr);
    ASSERT_TRUE(LoadWriter(terrain, writer));
    Intersection hit;
    terrain.GetIntersection(Ray(Vec3(5.5f, 4.0f, 5.5f), Vec3(0, -1, 0)), hit, physicsSurfaceAny);
    EXPECT_EQ(hit.surface, 5u); // Stone, 200 of 255 over the dirt
    terrain.GetIntersection(Ray(Vec3(2.5f, 4.0f, 1.5f), Vec3(0, -1, 0)), hit, physicsSurfaceAny);
    EXPECT_EQ(hit.surface, 2u); // Dirt shows through 40 of 255 stone
    // A block asked directly misses its box: distance +infinity, surface 100.
    Intersection direct;
    terrain.GetBlock(0, 0)->GetIntersection(Ray(Vec3(5, 4, 5), Vec3(0, 1, 0)), direct, physicsSurfaceAny);
    EXPECT_EQ(direct.distance, gInfinity);
    EXPECT_EQ(direct.surface, TerrainBase::noSurface);
}

TEST(TerrainCollisionTest, BoxesTouchTheGroundWithinTheirCapacity)
{
    TerrainWriter writer(17, 17);
    writer.cutAway.assign(17 * 17, false);
    writer.cutAway[12 * 17 + 12] = true;
    writer.plugs.push_back(CellPlug(writer, 2, 2, 1.0f));
    TerrainRT terrain(nullptr);
    ASSERT_TRUE(LoadWriter(terrain, writer));

    // A unit box sunk 0.25 into flat ground: contacts push it up by the overlap.
    const OBBox sunk(Vec3(0.5f, 0.5f, 0.5f), Coords::Translation(Vec3(6.3f, 0.25f, 6.4f)));
    CollisionContact contacts[16];
    const int count = terrain.FindCollisions(sunk, contacts, 16, physicsSurfaceAny);
    ASSERT_GT(count, 0);
    for (int i = 0; i < count; ++i) {
        EXPECT_NEAR(contacts[i].normal.y, 1.0f, 1e-4f);
        EXPECT_NEAR(contacts[i].depth, 0.25f, 1e-4f);
        // Ground contacts carry nothing in the fields after the depth.
        CollisionContact clean;
        EXPECT_EQ(
            std::memcmp(reinterpret_cast<const char*>(&contacts[i]) + offsetof(CollisionContact, depth) + 4,
                        reinterpret_cast<const char*>(&clean) + offsetof(CollisionContact, depth) + 4,
                        sizeof(CollisionContact) - offsetof(CollisionContact, depth) - 4),
            0);
    }
    // Never past the capacity, and nothing for a box in the air.
    EXPECT_LE(terrain.FindCollisions(OBBox(Vec3(3, 1, 3), Coords::Translation(Vec3(8, 0, 8))), contacts, 3,
                                     physicsSurfaceAny),
              3);
    EXPECT_EQ(terrain.FindCollisions(OBBox(Vec3(1, 1, 1), Coords::Translation(Vec3(8, 5, 8))), contacts, 16,
                                     physicsSurfaceAny),
              0);
    EXPECT_EQ(terrain.FindCollisions(sunk, contacts, 0, physicsSurfaceAny), 0);
    // A cut-away cell gives nothing; the plug over cell (2, 2) at height 1 does.
    EXPECT_EQ(
        terrain.FindCollisions(OBBox(Vec3(0.2f, 0.2f, 0.2f), Coords::Translation(Vec3(12.5f, 0.1f, 12.5f))),
                               contacts, 16, physicsSurfaceAny),
        0);
    const int onPlug =
        terrain.FindCollisions(OBBox(Vec3(0.2f, 0.2f, 0.2f), Coords::Translation(Vec3(2.5f, 1.1f, 2.5f))),
                               contacts, 16, physicsSurfaceAny);
    ASSERT_GT(onPlug, 0);
    EXPECT_NEAR(contacts[0].depth, 0.1f, 1e-4f);

    // Collision boxes keep their nearest contacts.
    std::vector<CollisionBox> boxes = {
        CollisionBox(sunk), CollisionBox(OBBox(Vec3(1, 1, 1), Coords::Translation(Vec3(4, 9, 4))))};
    terrain.FindCollisions(boxes, ABBox(Vec3(6, 2, 6), Vec3(4, 8, 4)), physicsSurfaceAny);
    EXPECT_GT(boxes[0].GetNumContacts(), 0);
    EXPECT_LE(boxes[0].GetNumContacts(), 4);
    EXPECT_NEAR(boxes[0].GetContact(0).depth, 0.25f, 1e-4f);
    EXPECT_EQ(boxes[1].GetNumContacts(), 0);
}

TEST(TerrainLayerTest, LayersInABoxAreListedInAscendingOrder)
{
    TerrainWriter writer(17, 17);
    for (unsigned i = 0; i < 10; ++i) {
        TerrainWriter::Layer layer;
        layer.states.assign(256, TerrainWriter::CELL_NONE);
        writer.layers.push_back(layer);
    }
    // Layer 9 at cell (3, 3); layer 2 at (4, 3); layer 0 everywhere but covered at (10, 10) by
    // layer 5, which clears every bit below it there.
    writer.layers[0].states.assign(256, TerrainWriter::CELL_SHOWN);
    writer.layers[9].states[3 * 16 + 3] = TerrainWriter::CELL_SHOWN;
    writer.layers[2].states[3 * 16 + 4] = TerrainWriter::CELL_SHOWN;
    writer.layers[5].states[10 * 16 + 10] = TerrainWriter::CELL_COVERING;
    TerrainRT terrain(nullptr);
    ASSERT_TRUE(LoadWriter(terrain, writer));
    EXPECT_EQ(terrain.GetMaskBytes(), 2u);

    std::vector<unsigned> layers = {77};
    terrain.GetLayersInBox(layers, ABBox(Vec3(3.5f, 0, 3.5f), Vec3(0.5f, 1, 0.5f)));
    // x from 3 to int(4.5) = 4: both marked cells.
    EXPECT_EQ(layers, (std::vector<unsigned>{0, 2, 9}));
    terrain.GetLayersInBox(layers, ABBox(Vec3(3.2f, 0, 3.2f), Vec3(0.1f, 1, 0.1f)));
    EXPECT_EQ(layers, (std::vector<unsigned>{0, 9}));
    terrain.GetLayersInBox(layers, ABBox(Vec3(10.2f, 0, 10.2f), Vec3(0.1f, 1, 0.1f)));
    EXPECT_EQ(layers, (std::vector<unsigned>{5}));
    terrain.GetLayersInBox(layers, ABBox(Vec3(-30, 0, -30), Vec3(1, 1, 1)));
    EXPECT_TRUE(layers.empty());
    terrain.GetLayersInBox(layers, ABBox(Vec3(500, 0, 8), Vec3(600, 1, 600)));
    EXPECT_EQ(layers, (std::vector<unsigned>{0, 2, 5, 9}));
    terrain.GetLayersInBox(layers, ABBox(Vec3(NAN, 0, 8), Vec3(1, 1, 1)));
    EXPECT_TRUE(layers.empty());
    // Blocks take their layers from their box.
    EXPECT_EQ(terrain.GetBlock(0, 0)->GetLayers(), (std::vector<unsigned>{0, 2, 9}));
    EXPECT_TRUE(terrain.GetBlock(1, 1)->HasLayer(5));
    EXPECT_FALSE(terrain.GetBlock(1, 1)->HasLayer(9));
}

TEST(TerrainTileTest, TilesAddedMovedAndRemovedUpdateTheTerrain)
{
    TerrainWriter writer = RollingTerrain(33, 33);
    TerrainWriter::Layer base, patch;
    patch.states.assign(32 * 32, TerrainWriter::CELL_NONE);
    patch.states[16 * 32 + 16] = TerrainWriter::CELL_SHOWN;
    writer.layers = {base, patch};
    TerrainRT terrain(nullptr);
    ASSERT_TRUE(LoadWriter(terrain, writer));
    const unsigned blocks = terrain.NumXBlocks() * terrain.NumYBlocks();

    // A tile without a mesh is a zero box at its origin.
    TerrainTile* tile = terrain.CreateTile(Coords::Translation(Vec3(16.5f, 1.0f, 16.5f)), nullptr);
    ASSERT_NE(tile, nullptr);
    EXPECT_EQ(tile->GetBoundingBox(), ABBox(Vec3(16.5f, 1.0f, 16.5f), Vec3()));
    EXPECT_TRUE(tile->IsInSpace());
    EXPECT_TRUE(tile->GetIsPlaced());
    EXPECT_EQ(tile->GetLayers(), (std::vector<unsigned>{0, 1}));
    EXPECT_EQ(terrain.GetSpace()->GetObjectCount(), blocks + 1);
    std::vector<TerrainObject*> found;
    terrain.GetObjectsInBox(found, ABBox(Vec3(16.5f, 1.0f, 16.5f), Vec3(0.1f, 0.1f, 0.1f)));
    EXPECT_NE(std::find(found.begin(), found.end(), tile), found.end());
    // No mesh: no contours, no hits.
    EXPECT_EQ(tile->GetNumContours(), 0u);
    Intersection hit;
    tile->GetIntersection(Ray(Vec3(16.5f, 10, 16.5f), Vec3(0, -1, 0)), hit, physicsSurfaceAny);
    EXPECT_EQ(hit.distance, gInfinity);
    // Passes: one a layer and the solid one, the layers from the last; reflections only layers.
    const Name reflection = Name::Create("reflectionStyle");
    EXPECT_EQ(tile->GetNumRenderPasses(Name::Create("ambientLightStyle"), RENDER_GENERATION_UNKNOWN), 3);
    EXPECT_EQ(tile->GetNumRenderPasses(reflection, RENDER_GENERATION_UNKNOWN), 2);
    EXPECT_EQ(tile->GetPassLayer(0, Name::Create("ambientLightStyle")), -1);
    EXPECT_EQ(tile->GetPassLayer(1, Name::Create("ambientLightStyle")), 1);
    EXPECT_EQ(tile->GetPassLayer(2, Name::Create("ambientLightStyle")), 0);
    EXPECT_EQ(tile->GetPassLayer(0, reflection), 0);

    // Moved within 2 units of the edge: still in the tree, no longer placed, its layers follow.
    terrain.MoveTile(tile, Coords::Translation(Vec3(1.5f, 0.0f, 20.0f)));
    EXPECT_TRUE(tile->IsInSpace());
    EXPECT_FALSE(tile->GetIsPlaced());
    EXPECT_EQ(tile->GetLayers(), (std::vector<unsigned>{0}));
    found.clear();
    terrain.GetObjectsInBox(found, ABBox(Vec3(16.5f, 1.0f, 16.5f), Vec3(0.1f, 0.1f, 0.1f)));
    EXPECT_EQ(std::find(found.begin(), found.end(), tile), found.end());

    // Removed: out of the tree and freed; a tile the terrain does not own is left alone.
    terrain.DestroyTile(tile);
    EXPECT_EQ(terrain.GetNumTiles(), 0u);
    EXPECT_EQ(terrain.GetSpace()->GetObjectCount(), blocks);
    TerrainTile stranger;
    terrain.DestroyTile(&stranger);
    terrain.MoveTile(&stranger, Coords());
    EXPECT_FALSE(stranger.IsInSpace());

    // Unloading frees the tiles it still holds, leaving none linked into a freed node.
    terrain.CreateTile(Coords::Translation(Vec3(10, 0, 10)), nullptr);
    terrain.CreateTile(Coords::Translation(Vec3(20, 0, 12)), nullptr);
    EXPECT_EQ(terrain.GetNumTiles(), 2u);
    terrain.Unload();
    EXPECT_EQ(terrain.GetNumTiles(), 0u);
    EXPECT_EQ(terrain.GetSpace(), nullptr);
}

TEST(TerrainUnloadTest, RenderDataIsUnloadedAfterElevenIdleFramesNotTen)
{
    FrameServices frames;
    TerrainRT terrain(nullptr);
    ASSERT_TRUE(LoadWriter(terrain, RollingTerrain(17, 17)));
    TerrainBlock* block = terrain.GetBlock(1, 0);
    frames.frame = 500;
    block->MarkUsed();
    block->EnsureRenderData();
    EXPECT_TRUE(block->IsRenderDataBuilt());
    EXPECT_TRUE(terrain.IsLoadedObject(block));

    frames.frame = 510;
    terrain.Update(nullptr, 0, 16);
    EXPECT_TRUE(block->IsRenderDataBuilt());
    EXPECT_TRUE(terrain.IsLoadedObject(block));
    frames.frame = 511;
    terrain.Update(nullptr, 0, 16);
    EXPECT_FALSE(block->IsRenderDataBuilt());
    EXPECT_FALSE(terrain.IsLoadedObject(block));
    // The frame counter wrapping round counts forward.
    frames.frame = 0xFFFFFFFEu;
    block->MarkUsed();
    block->EnsureRenderData();
    frames.frame = 3;
    terrain.Update(nullptr, 0, 16);
    EXPECT_TRUE(block->IsRenderDataBuilt());
}

// A level of one region whose ground is the writer's run-time terrain.
Level* LoadTerrainLevel(Region* region, const TerrainWriter& writer)
{
    std::vector<uint8_t> image = {'L', 'V', 'L', 13};
    const std::vector<uint8_t> body = writer.Build();
    auto put = [&](uint32_t v) {
        for (int i = 0; i < 4; ++i)
            image.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    put(6);
    put(static_cast<uint32_t>(body.size() + 4));
    put(2);
    image.insert(image.end(), body.begin(), body.end());
    Level* level = new Level(region);
    if (!level->Load(image.data(), static_cast<int>(image.size()), false)) {
        delete level;
        return nullptr;
    }
    level->PostLoad(false);
    return level;
}

TEST(TerrainWorldTest, DisturbancesAndWindReachTheGrassOfLoadedRegions)
{
    World world;
    world.AddRegion("levels/a.lvl", IntVec3(), ABBox(Vec3(16, 0, 16), Vec3(16, 40, 16)),
                    RegionId(1, 0, 0, 0));
    world.AddRegion("levels/b.lvl", IntVec3(32, 0, 0), ABBox(Vec3(16, 0, 16), Vec3(16, 40, 16)),
                    RegionId(2, 0, 0, 0));
    Region* a = world.GetRegion(0);
    Region* b = world.GetRegion(1);
    Level* level = LoadTerrainLevel(b, TerrainWriter(33, 33));
    ASSERT_NE(level, nullptr);
    b->SetLevel(level);
    auto* terrain = static_cast<TerrainRT*>(level->GetTerrain());
    ASSERT_NE(terrain, nullptr);
    ASSERT_EQ(terrain->GetType(), TerrainBase::TERRAIN_BASE_RUN_TIME);
    TerrainBlock* block = terrain->GetBlock(0, 0);
    block->EnsureRenderData();

    // Something moves near b's corner, given in a's space: the grass of b's first block is pushed.
    world.CreateDisturbance(WorldVec3(a, Vec3(34.0f, 0.0f, 2.0f)), 2.0f, 1.5f, SPLASH_NONE);
    bool pushed = false;
    for (unsigned j = 0; j < TerrainBlock::grassGridSize; ++j)
        for (unsigned i = 0; i < TerrainBlock::grassGridSize; ++i)
            pushed = pushed || block->GetGrassVelocity(i, j).x != 0.0f;
    EXPECT_TRUE(pushed);
    // The cell at the disturbance's centre is pushed away from it on x (cell 3 lies at 1.74).
    EXPECT_LT(block->GetGrassVelocity(3, 3).x, 0.0f);
    EXPECT_GT(block->GetGrassVelocity(4, 3).x, 0.0f);

    // Wind given in a's space blows over b where it lies in b's space.
    TerrainBlock* other = terrain->GetBlock(2, 2);
    other->EnsureRenderData();
    PhysicsGrassWind wind;
    wind.region = a;
    wind.strength = 1.0f;
    wind.radius = 5.0f;
    wind.x = 32.0f + 20.0f;
    wind.z = 20.0f;
    wind.directionX = 1.0f;
    world.CreateGrassWind(wind);
    EXPECT_GT(other->GetGrassVelocity(10, 5).x, 0.0f); // downwind of the centre
    EXPECT_EQ(other->GetGrassVelocity(0, 5).x, 0.0f);  // upwind
    world.RemoveGrassWind();
    PhysicsGrassWind nowhere = wind;
    nowhere.region = nullptr;
    world.CreateGrassWind(nowhere);

    std::vector<GeometryBus::SimpleFace> faces;
    world.GeometryBusStop(ABBox(Vec3(16, 0, 16), Vec3(16, 16, 16)), faces);
    EXPECT_TRUE(faces.empty()); // the world level adds no faces
}

} // namespace
} // namespace GAME
